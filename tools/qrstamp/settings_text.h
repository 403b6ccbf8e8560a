#pragma once
// The publisher's settings file: UTF-8 (a byte-order mark is allowed), one
// name=value per line, '#' starts a comment line, blank lines are skipped.
// White space around the name and the value is dropped; a value written in
// double quotes keeps its inner text as it stands (leading or trailing
// spaces). An empty value removes the setting from the string table.
#include <string>
#include <string_view>
#include <vector>

struct Assignment {
    std::wstring name;
    std::wstring value;
    std::wstring origin;  // where it came from, for messages ("stamp.ini line 3")
};

// Splits "name=value" at the first '='; false when there is none or the
// name is empty.
bool split_assignment(std::wstring_view text, std::wstring& name, std::wstring& value);

// A value quoted for a message: in single quotes, cut after 80 characters,
// control characters shown as '?'.
std::wstring shown(std::wstring_view text);

// Parses a settings file's bytes. `source` names the file in messages.
// Throws wexception on a line that is not name=value or bytes that are not
// UTF-8.
std::vector<Assignment> parse_settings_text(std::string_view bytes, const std::wstring& source);
