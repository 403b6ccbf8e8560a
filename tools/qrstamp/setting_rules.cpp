#include "setting_rules.h"

#include <iterator>

#include "text.h"

namespace {

enum class Form {
    Text,          // free text, "<Empty>" refused (the readers would show it)
    OptionalText,  // free text or "<Empty>"
    AnyWord,       // anything; only one word has a meaning
    GuidList,      // {GUID}[;{GUID}...]
    Guid,          // {GUID}
    HexId,         // 32 hexadecimal digits
    Decimal,       // a decimal LCID
    Privileges,    // administrator | user
    Flag,          // true | false
    Buttons,       // YesNoCancel | OkCancel | Ok
};

struct Rule {
    UINT id;
    Form form;
};

constexpr Rule kRules[] = {
    {132, Form::GuidList},     {133, Form::Text},         {134, Form::Decimal},
    {135, Form::Privileges},   {136, Form::Text},         {137, Form::Guid},
    {138, Form::OptionalText}, {139, Form::Text},         {140, Form::Text},
    {141, Form::Text},         {142, Form::Text},         {143, Form::Flag},
    {146, Form::Flag},         {147, Form::HexId},        {148, Form::Flag},
    {149, Form::OptionalText}, {151, Form::Flag},         {152, Form::OptionalText},
    {153, Form::OptionalText}, {154, Form::AnyWord},      {155, Form::OptionalText},
    {156, Form::Flag},         {157, Form::Flag},         {158, Form::Flag},
    {159, Form::Flag},         {160, Form::Buttons},      {161, Form::Flag},
    {162, Form::OptionalText}, {163, Form::OptionalText},
};

bool is_hex(wchar_t c) {
    return (c >= L'0' && c <= L'9') || (c >= L'a' && c <= L'f') || (c >= L'A' && c <= L'F');
}

bool all_hex(std::wstring_view text) {
    for (wchar_t c : text)
        if (!is_hex(c)) return false;
    return true;
}

// "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}"
bool is_braced_guid(std::wstring_view text) {
    if (text.size() != 38 || text.front() != L'{' || text.back() != L'}') return false;
    for (size_t i = 1; i < 37; ++i) {
        const bool dash = i == 9 || i == 14 || i == 19 || i == 24;
        if (dash ? text[i] != L'-' : !is_hex(text[i])) return false;
    }
    return true;
}

bool is_decimal_lcid(std::wstring_view text) {
    if (text.empty() || text.size() > 10) return false;
    unsigned long long value = 0;
    for (wchar_t c : text) {
        if (c < L'0' || c > L'9') return false;
        value = value * 10 + static_cast<unsigned>(c - L'0');
    }
    return value <= 0xFFFFFFFFull;
}

bool is_one_of(std::wstring_view value, std::initializer_list<const wchar_t*> words) {
    for (const wchar_t* word : words)
        if (iequals(value, word)) return true;
    return false;
}

std::optional<std::wstring> check_form(Form form, std::wstring_view value) {
    switch (form) {
        case Form::Text:
            if (iequals(value, L"<Empty>"))
                return std::wstring(L"cannot be \"<Empty>\"; an empty value removes it");
            return std::nullopt;
        case Form::OptionalText:
        case Form::AnyWord:
            return std::nullopt;
        case Form::GuidList: {
            auto items = split_list(value);
            bool ok = !items.empty();
            for (const auto& item : items) ok = ok && is_braced_guid(item);
            if (ok) return std::nullopt;
            return std::wstring(L"must be one or more GUIDs in braces separated by ';'");
        }
        case Form::Guid:
            if (is_braced_guid(value)) return std::nullopt;
            return std::wstring(L"must be a GUID in braces, {XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}");
        case Form::HexId:
            if (value.size() == 32 && all_hex(value)) return std::nullopt;
            return std::wstring(L"must be 32 hexadecimal digits");
        case Form::Decimal:
            if (is_decimal_lcid(value)) return std::nullopt;
            return std::wstring(L"must be a decimal language id such as 1033");
        case Form::Privileges:
            if (is_one_of(value, {L"administrator", L"user"})) return std::nullopt;
            return std::wstring(L"must be \"administrator\" or \"user\"");
        case Form::Flag:
            if (is_one_of(value, {L"true", L"false"})) return std::nullopt;
            return std::wstring(L"must be \"true\" or \"false\"");
        case Form::Buttons:
            if (is_one_of(value, {L"YesNoCancel", L"OkCancel", L"Ok"})) return std::nullopt;
            return std::wstring(L"must be \"YesNoCancel\", \"OkCancel\" or \"Ok\"");
    }
    return std::wstring(L"has no known form");
}

}  // namespace

const SettingField* find_setting(std::wstring_view name) {
    for (const auto& field : kSettingFields)
        if (iequals(name, field.name)) return &field;
    return nullptr;
}

std::optional<std::wstring> check_setting_value(const SettingField& field, std::wstring_view value) {
    if (value.empty()) return std::nullopt;
    if (value.size() > kMaxStringLength) return std::wstring(L"is longer than 65535 characters");
    for (wchar_t c : value)
        if (c < L' ' && c != L'\t') return std::wstring(L"must not contain control characters");
    for (const auto& rule : kRules)
        if (rule.id == field.id) return check_form(rule.form, value);
    return std::wstring(L"cannot be stamped");
}

std::optional<std::wstring> check_key_digits(std::wstring_view digits) {
    if (digits.size() == 40 && all_hex(digits)) return std::nullopt;
    return std::wstring(L"must be 40 hexadecimal digits");
}
