// qrdescribe: writes version_info.xml for the folder a publisher serves at
// <installation URL>/<language>/<version>/.
#include <windows.h>

#include <string>
#include <vector>

#include "describer.h"
#include "text.h"
#include "tool_io.h"
#include "wexception.h"

namespace {

constexpr int kFailed = 1;
constexpr int kUsage = 2;

const wchar_t kUsageText[] =
    L"usage: qrdescribe <package folder> <version_info.xml> --language <lcid> --version <name>\n"
    L"                  --msi <package file> [--downloader <stamped downloader.exe>]\n"
    L"                  [--prerequisite <file>[:<lcid>]]... [--action <file>]...\n"
    L"                  [--product-code <guid>] [--component <guid>] [--scope <scope>]\n"
    L"\n"
    L"Lists every file below the package folder with its size and MD5 digest as one\n"
    L"product version. The folder is what the server holds at\n"
    L"<installation URL>/<language>/<version>/. Files below updater\\ go to the updater.\n"
    L"--downloader lists the digest of the downloader program (its security key does\n"
    L"not take part, so the key can be stamped after signing). File names are\n"
    L"relative to the package folder.\n";

int usage(const std::wstring& problem) {
    write_text(STD_ERROR_HANDLE, L"qrdescribe: " + problem + L"\n" + kUsageText);
    return kUsage;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    std::vector<std::wstring> args(argv + 1, argv + argc);
    if (args.empty()) return usage(L"nothing to do");
    if (args[0] == L"--help" || args[0] == L"-h" || args[0] == L"/?") {
        write_text(STD_OUTPUT_HANDLE, kUsageText);
        return 0;
    }
    DescribeOptions options;
    std::vector<std::wstring> positional;
    struct Single {
        const wchar_t* name;
        std::wstring* value;
    };
    const Single singles[] = {
        {L"--language", &options.language},
        {L"--version", &options.version},
        {L"--msi", &options.msi},
        {L"--downloader", &options.downloader},
        {L"--product-code", &options.productCode},
        {L"--component", &options.component},
        {L"--scope", &options.scope},
    };
    for (size_t i = 0; i < args.size(); ++i) {
        const std::wstring& arg = args[i];
        if (!arg.starts_with(L"--")) {
            positional.push_back(arg);
            continue;
        }
        if (i + 1 == args.size()) return usage(arg + L" needs a value");
        const std::wstring& value = args[++i];
        if (arg == L"--prerequisite") {
            options.prerequisites.push_back(value);
            continue;
        }
        if (arg == L"--action") {
            options.actions.push_back(value);
            continue;
        }
        bool known = false;
        for (const Single& s : singles) {
            if (arg != s.name) continue;
            if (!s.value->empty()) return usage(arg + L" is given twice");
            if (value.empty()) return usage(arg + L" needs a value");
            *s.value = value;
            known = true;
        }
        if (!known) return usage(L"unknown option '" + arg + L"'");
    }
    if (positional.size() != 2) return usage(L"give the package folder and the output file");
    options.folder = positional[0];
    options.output = positional[1];
    try {
        const auto files = describe_package(options);
        unsigned long long bytes = 0;
        for (const auto& file : files) bytes += file.size;
        write_text(STD_OUTPUT_HANDLE, L"qrdescribe: wrote " + options.output + L": " +
                                          std::to_wstring(files.size()) + L" files, " +
                                          std::to_wstring(bytes) + L" bytes\n");
        return 0;
    } catch (const wexception& e) {
        write_text(STD_ERROR_HANDLE, L"qrdescribe: " + e.message() + L"\n");
        return kFailed;
    } catch (const std::exception& e) {
        write_text(STD_ERROR_HANDLE, L"qrdescribe: " + widen(e.what()) + L"\n");
        return kFailed;
    }
}
