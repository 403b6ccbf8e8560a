#pragma once
// Text helpers shared by every subsystem. All text is UTF-16.
#include <string>
#include <string_view>
#include <vector>

// printf-style formatting into a std::wstring (%s takes const wchar_t*).
std::wstring format(const wchar_t* pattern, ...);

// White space trimmed from both ends (space, tab, CR, LF, VT, FF).
std::wstring trim(std::wstring_view text);

// Case-insensitive comparison (Unicode simple case folding of the system).
bool iequals(std::wstring_view a, std::wstring_view b);

std::wstring to_lower(std::wstring_view text);

// The list split: items separated by ';', runs of separators give no empty
// item, each item trimmed. An item of only white space is kept as "".
std::vector<std::wstring> split_list(std::wstring_view text);

// "<Empty>" in any case, or empty: the setting has no value.
bool is_empty_value(std::wstring_view value);

// "true" in any case.
bool is_true(std::wstring_view value);

// UTF-8 <-> UTF-16 (invalid sequences become U+FFFD).
std::wstring widen(std::string_view utf8);
std::string narrow(std::wstring_view utf16);
