#include "safe_path.h"

#include <windows.h>

#include "file_ops.h"
#include "text.h"
#include "engine_texts.h"

namespace {

bool is_separator(wchar_t c) {
    return c == L'\\' || c == L'/';
}

bool is_forbidden_character(wchar_t c) {
    return c < 0x20 || c == L':' || c == L'*' || c == L'?' || c == L'"' || c == L'<' || c == L'>' ||
           c == L'|';
}

// CON, PRN, AUX, NUL, COM1-9 and LPT1-9 open devices whatever follows the
// first dot, and trailing spaces before it are ignored.
bool is_device_name(std::wstring_view segment) {
    std::wstring_view stem = segment.substr(0, segment.find(L'.'));
    while (!stem.empty() && stem.back() == L' ') stem.remove_suffix(1);
    static constexpr const wchar_t* kPlain[] = {L"CON", L"PRN", L"AUX", L"NUL", L"CONIN$", L"CONOUT$"};
    for (auto device : kPlain)
        if (iequals(stem, device)) return true;
    if (stem.size() == 4 && (iequals(stem.substr(0, 3), L"COM") || iequals(stem.substr(0, 3), L"LPT")))
        return stem[3] >= L'1' && stem[3] <= L'9';
    return false;
}

bool is_safe_segment(std::wstring_view segment) {
    if (segment.empty()) return false;
    // ".", ".." and their look-alikes ("...", ". .") all end up naming the
    // folder itself or its parent once Windows strips trailing dots.
    if (segment.find_first_not_of(L". ") == std::wstring_view::npos) return false;
    for (wchar_t c : segment)
        if (is_forbidden_character(c)) return false;
    return !is_device_name(segment);
}

}  // namespace

bool is_safe_listed_name(std::wstring_view name) {
    if (name.empty() || is_separator(name.front())) return false;
    size_t start = 0;
    for (;;) {
        size_t end = start;
        while (end < name.size() && !is_separator(name[end])) ++end;
        if (!is_safe_segment(name.substr(start, end - start))) return false;
        if (end == name.size()) return true;
        start = end + 1;
    }
}

bool join_listed_name(const std::wstring& folder, std::wstring_view name, std::wstring& path,
                      OperationError& error) {
    std::wstring joined;
    if (is_safe_listed_name(name)) joined = path_join(folder, name);
    // The join resolves nothing for a safe name, so the result must still
    // begin with the folder; anything else is refused rather than written.
    std::wstring prefix = folder;
    if (prefix.empty() || prefix.back() != L'\\') prefix += L'\\';
    if (joined.size() <= prefix.size() ||
        !iequals(std::wstring_view(joined).substr(0, prefix.size()), prefix)) {
        refuse_listed_name(name, error);
        return false;
    }
    path = std::move(joined);
    return true;
}

void refuse_listed_name(std::wstring_view name, OperationError& error) {
    error.set(format(texts::kInvalidFileName, std::wstring(name).c_str()), ERROR_INVALID_NAME);
}
