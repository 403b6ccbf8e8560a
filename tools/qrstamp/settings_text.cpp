#include "settings_text.h"

#include <windows.h>

#include "text.h"
#include "wexception.h"

bool split_assignment(std::wstring_view text, std::wstring& name, std::wstring& value) {
    const size_t equals = text.find(L'=');
    if (equals == std::wstring_view::npos) return false;
    name = std::wstring(text.substr(0, equals));
    value = std::wstring(text.substr(equals + 1));
    return !name.empty();
}

namespace {

// False on bytes that are not UTF-8 (the lenient converter would hide them).
bool strict_widen(std::string_view utf8, std::wstring& out) {
    out.clear();
    if (utf8.empty()) return true;
    const int n = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(),
                                      static_cast<int>(utf8.size()), nullptr, 0);
    if (n <= 0) return false;
    out.resize(static_cast<size_t>(n));
    return MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(), static_cast<int>(utf8.size()),
                               out.data(), n) == n;
}

}  // namespace

std::wstring shown(std::wstring_view text) {
    constexpr size_t kShown = 80;
    std::wstring out = L"'" + std::wstring(text.substr(0, kShown));
    for (auto& c : out)
        if (c < L' ') c = L'?';
    return out + (text.size() > kShown ? L"...'" : L"'");
}

std::vector<Assignment> parse_settings_text(std::string_view bytes, const std::wstring& source) {
    if (bytes.substr(0, 2) == "\xFF\xFE" || bytes.substr(0, 2) == "\xFE\xFF")
        throw wexception(source + L" is UTF-16 text; save it as UTF-8");
    if (bytes.substr(0, 3) == "\xEF\xBB\xBF") bytes.remove_prefix(3);
    std::vector<Assignment> out;
    size_t line_number = 0;
    while (!bytes.empty()) {
        ++line_number;
        size_t end = bytes.find('\n');
        std::string_view raw = bytes.substr(0, end);
        bytes = end == std::string_view::npos ? std::string_view() : bytes.substr(end + 1);

        const std::wstring where = source + L" line " + std::to_wstring(line_number);
        std::wstring line;
        if (!strict_widen(raw, line)) throw wexception(where + L" is not valid UTF-8");
        const std::wstring content = trim(line);
        if (content.empty() || content[0] == L'#') continue;

        std::wstring name, value;
        if (!split_assignment(content, name, value) || trim(name).empty())
            throw wexception(where + L": expected name=value, got " + shown(content));
        name = trim(name);
        value = trim(value);
        if (value.size() >= 2 && value.front() == L'"' && value.back() == L'"')
            value = value.substr(1, value.size() - 2);
        out.push_back({name, value, where});
    }
    return out;
}
