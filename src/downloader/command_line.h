#pragma once
// The downloader's command line: switches of the form /name=value.
#include <cstddef>
#include <map>
#include <string>
#include <string_view>
#include <vector>

// Room in the argument vector; items beyond it are ignored.
inline constexpr size_t kMaxArgumentItems = 256;

// Cuts the argument string (not the full command line) into items: one
// "/name" item per '/'-separated token (name lower-cased), followed by the
// token's '='-separated values with every '"' removed. A value therefore
// never holds '/', and spaces inside a value need no quotes.
std::vector<std::wstring> TokenizeArguments(std::wstring_view arguments);

// The executable path from the raw process command line: the argument string
// removed from its end, quotes removed, white space trimmed.
std::wstring DeriveExecutablePath(std::wstring_view commandLine, std::wstring_view arguments);

// Switch table: switch name (case-sensitive, as tokenized) -> values.
class CommandLine {
public:
    // Clears the table and fills it from an argument vector; returns the
    // number of switches. A repeated switch keeps its first entry.
    int split(const std::vector<std::wstring>& items);

    // Tokenizes `arguments` and splits the result.
    int split(std::wstring_view arguments) { return split(TokenizeArguments(arguments)); }

    bool has_switch(const std::wstring& name) const;

    // Number of values of the switch, -1 when it is absent.
    int argument_count(const std::wstring& name) const;

    // The value at `index`; throws the integer 0 when the switch or the
    // value is absent.
    const std::wstring& argument(const std::wstring& name, size_t index) const;

    const std::map<std::wstring, std::vector<std::wstring>>& switches() const { return switches_; }

private:
    std::map<std::wstring, std::vector<std::wstring>> switches_;
};
