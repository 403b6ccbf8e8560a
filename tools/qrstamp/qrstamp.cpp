// qrstamp: turns the generic downloader into one product's downloader by
// writing deployment settings into a copy's string table and the security
// key behind its marker.
#include <windows.h>

#include <string>
#include <vector>

#include "description_key.h"
#include "stamper.h"
#include "text.h"
#include "tool_io.h"
#include "wexception.h"

namespace {

constexpr int kFailed = 1;
constexpr int kUsage = 2;

const wchar_t kUsageText[] =
    L"usage: qrstamp <input.exe> <output.exe> [--settings <file>]... [name=value]...\n"
    L"               [--key <40 hex digits> | --key-from <signed version_info.xml>]\n"
    L"       qrstamp --print <program.exe>\n"
    L"\n"
    L"Copies the input to the output with the given deployment settings in its string\n"
    L"table and, with --key, the security key. Names are the settings field names\n"
    L"(componentCodes, installationUrl, language, ...); later pairs override earlier\n"
    L"ones; an empty value removes a setting. Settings files are UTF-8, one\n"
    L"name=value per line, '#' starts a comment. Settings not given keep their values.\n"
    L"--key-from takes the key from the signer certificate of a signed description.\n"
    L"--print shows the settings and the key of a program in the same form.\n";

int failed(const std::wstring& message) {
    write_text(STD_ERROR_HANDLE, L"qrstamp: " + message + L"\n");
    return kFailed;
}

int usage(const std::wstring& problem) {
    write_text(STD_ERROR_HANDLE, L"qrstamp: " + problem + L"\n" + kUsageText);
    return kUsage;
}

std::string read_settings_file(const std::wstring& path) {
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        throw wexception(with_error_code(L"cannot open the settings file '" + path + L"'", GetLastError()));
    std::string bytes;
    char buffer[16384];
    DWORD got = 0;
    BOOL ok;
    while ((ok = ReadFile(file, buffer, sizeof buffer, &got, nullptr)) && got) {
        bytes.append(buffer, got);
        if (bytes.size() > (1u << 20)) {
            CloseHandle(file);
            throw wexception(L"the settings file '" + path + L"' is larger than 1 MB");
        }
    }
    const DWORD code = GetLastError();
    CloseHandle(file);
    if (!ok) throw wexception(with_error_code(L"cannot read the settings file '" + path + L"'", code));
    return bytes;
}

std::wstring file_name(const std::wstring& path) {
    return path.substr(path.find_last_of(L"\\/") + 1);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    std::vector<std::wstring> args(argv + 1, argv + argc);
    if (args.empty()) return usage(L"nothing to do");
    try {
        if (args[0] == L"--help" || args[0] == L"-h" || args[0] == L"/?") {
            write_text(STD_OUTPUT_HANDLE, kUsageText);
            return 0;
        }
        if (args[0] == L"--print") {
            if (args.size() != 2) return usage(L"--print takes one program file");
            write_text(STD_OUTPUT_HANDLE, format_stamped_settings(read_stamped_settings(args[1])));
            return 0;
        }
        if (args.size() < 2) return usage(L"give an input and an output file");
        if (args[0].starts_with(L"--")) return usage(L"unknown option '" + args[0] + L"'");

        std::vector<Assignment> assignments;
        std::wstring keyOption;  // the option that gave the key
        for (size_t i = 2; i < args.size(); ++i) {
            const std::wstring& arg = args[i];
            if (arg == L"--settings" || arg == L"--key" || arg == L"--key-from") {
                if (i + 1 == args.size()) return usage(arg + L" needs a value");
                const std::wstring& value = args[++i];
                if (arg != L"--settings") {
                    // Two sources for one key: whichever won, one was a mistake.
                    if (!keyOption.empty() && keyOption != arg)
                        return usage(L"give either --key or --key-from, not both");
                    keyOption = arg;
                }
                if (arg == L"--key") {
                    assignments.push_back({L"key", value, L"--key"});
                } else if (arg == L"--key-from") {
                    assignments.push_back({L"key", widen(key_from_description(value)), L"--key-from"});
                } else {
                    auto pairs = parse_settings_text(read_settings_file(value), file_name(value));
                    assignments.insert(assignments.end(), pairs.begin(), pairs.end());
                }
                continue;
            }
            if (arg.starts_with(L"--")) return usage(L"unknown option '" + arg + L"'");
            std::wstring name, value;
            if (!split_assignment(arg, name, value))
                return usage(L"expected name=value, --settings, --key or --key-from, got '" + arg + L"'");
            assignments.push_back({name, value, L"command line"});
        }
        const StampPlan plan = plan_stamp(assignments);
        stamp_file(args[0], args[1], plan);
        return 0;
    } catch (const wexception& e) {
        return failed(e.message());
    } catch (const std::exception& e) {
        return failed(widen(e.what()));
    }
}
