#include "text.h"

#include <cstdarg>
#include <cwchar>

#include <windows.h>

std::wstring format(const wchar_t* pattern, ...) {
    std::wstring out(128, L'\0');
    for (;;) {
        va_list args;
        va_start(args, pattern);
        int n = _vsnwprintf(out.data(), out.size(), pattern, args);
        va_end(args);
        if (n >= 0 && static_cast<size_t>(n) < out.size()) {
            out.resize(static_cast<size_t>(n));
            return out;
        }
        out.resize(out.size() * 2);
    }
}

static bool is_space(wchar_t c) {
    return c == L' ' || c == L'\t' || c == L'\r' || c == L'\n' || c == L'\v' || c == L'\f';
}

std::wstring trim(std::wstring_view text) {
    size_t b = 0, e = text.size();
    while (b < e && is_space(text[b])) ++b;
    while (e > b && is_space(text[e - 1])) --e;
    return std::wstring(text.substr(b, e - b));
}

bool iequals(std::wstring_view a, std::wstring_view b) {
    if (a.size() != b.size()) return false;
    if (a.empty()) return true;
    return CompareStringOrdinal(a.data(), static_cast<int>(a.size()), b.data(),
                                static_cast<int>(b.size()), TRUE) == CSTR_EQUAL;
}

std::wstring to_lower(std::wstring_view text) {
    std::wstring out(text);
    if (!out.empty())
        CharLowerBuffW(out.data(), static_cast<DWORD>(out.size()));
    return out;
}

std::vector<std::wstring> split_list(std::wstring_view text) {
    std::vector<std::wstring> items;
    size_t start = 0;
    while (start <= text.size()) {
        size_t end = text.find(L';', start);
        if (end == std::wstring_view::npos) end = text.size();
        if (end > start) items.push_back(trim(text.substr(start, end - start)));
        start = end + 1;
    }
    return items;
}

bool is_empty_value(std::wstring_view value) {
    return value.empty() || iequals(value, L"<Empty>");
}

bool is_true(std::wstring_view value) { return iequals(value, L"true"); }

std::wstring widen(std::string_view utf8) {
    if (utf8.empty()) return {};
    int n = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
    std::wstring out(static_cast<size_t>(n), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), out.data(), n);
    return out;
}

std::string narrow(std::wstring_view utf16) {
    if (utf16.empty()) return {};
    int n = WideCharToMultiByte(CP_UTF8, 0, utf16.data(), static_cast<int>(utf16.size()), nullptr,
                                0, nullptr, nullptr);
    std::string out(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, utf16.data(), static_cast<int>(utf16.size()), out.data(), n,
                        nullptr, nullptr);
    return out;
}
