#include "command_line.h"

#include "text.h"

namespace {

// Splits at every `separator`, skipping empty pieces.
std::vector<std::wstring_view> split_skip_empty(std::wstring_view text, wchar_t separator) {
    std::vector<std::wstring_view> pieces;
    size_t start = 0;
    while (start <= text.size()) {
        size_t end = text.find(separator, start);
        if (end == std::wstring_view::npos) end = text.size();
        if (end > start) pieces.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return pieces;
}

void remove_quotes(std::wstring& text) {
    std::erase(text, L'"');
}

// Switch names are matched in lower case; only ASCII letters fold, so a
// name never changes length or meaning with the user's locale.
void ascii_lower(std::wstring& text) {
    for (auto& c : text)
        if (c >= L'A' && c <= L'Z') c = static_cast<wchar_t>(c - L'A' + L'a');
}

// An item such as "/5" is not a switch: it stays a value of the switch before it.
bool is_switch(const std::wstring& item) {
    return item.size() > 1 && item[0] == L'/' && !(item[1] >= L'0' && item[1] <= L'9');
}

}  // namespace

std::vector<std::wstring> TokenizeArguments(std::wstring_view arguments) {
    std::vector<std::wstring> items;
    for (auto token : split_skip_empty(arguments, L'/')) {
        std::wstring slashed = L"/" + trim(token);
        bool first = true;
        for (auto piece : split_skip_empty(slashed, L'=')) {
            if (items.size() >= kMaxArgumentItems) return items;
            std::wstring item(piece);
            remove_quotes(item);
            if (first) ascii_lower(item);
            first = false;
            items.push_back(std::move(item));
        }
    }
    return items;
}

std::wstring DeriveExecutablePath(std::wstring_view commandLine, std::wstring_view arguments) {
    std::wstring path(commandLine);
    // The argument string is the tail of the command line; cutting only that
    // tail keeps a folder name that happens to contain the same text intact.
    if (!arguments.empty()) {
        size_t at = path.rfind(arguments);
        if (at != std::wstring::npos) path.erase(at, arguments.size());
    }
    remove_quotes(path);
    return trim(path);
}

int CommandLine::split(const std::vector<std::wstring>& items) {
    switches_.clear();
    auto current = switches_.end();
    for (size_t i = 0; i < items.size(); ++i) {
        const std::wstring& item = items[i];
        if (is_switch(item)) {
            std::vector<std::wstring> values;
            if (i + 1 < items.size() && !is_switch(items[i + 1])) values.push_back(items[++i]);
            current = switches_.try_emplace(item, std::move(values)).first;
        } else if (current != switches_.end()) {
            current->second.push_back(item);
        }
    }
    return static_cast<int>(switches_.size());
}

bool CommandLine::has_switch(const std::wstring& name) const {
    return switches_.count(name) != 0;
}

int CommandLine::argument_count(const std::wstring& name) const {
    auto found = switches_.find(name);
    return found == switches_.end() ? -1 : static_cast<int>(found->second.size());
}

const std::wstring& CommandLine::argument(const std::wstring& name, size_t index) const {
    auto found = switches_.find(name);
    if (found == switches_.end() || index >= found->second.size()) throw 0;
    return found->second[index];
}
