#pragma once
// Building version_info.xml from the folder a publisher serves at
// <installation URL>/<language>/<version>/: one product, one version, every
// file of the folder with its size and MD5 digest.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

struct DescribeOptions {
    std::wstring folder;  // the package folder
    std::wstring output;  // version_info.xml to write
    std::wstring language;
    std::wstring version;
    std::wstring msi;                         // the package file name
    std::wstring downloader;                  // stamped downloader whose digest is listed; optional
    std::wstring productCode;                 // optional `productCode` of the version
    std::wstring component;                   // optional `component`
    std::wstring scope;                       // optional `scope`
    std::vector<std::wstring> prerequisites;  // "name" or "name:lcid"
    std::vector<std::wstring> actions;
};

struct PackageFile {
    std::wstring name;  // relative, "\" separators
    std::uint64_t size = 0;
    std::wstring hash;  // MD5, 32 lower-case hex digits
    bool prerequisite = false;
    bool updater = false;  // below "updater\"
    bool action = false;
    std::wstring language;  // of a prerequisite; may be empty
};

// Why the downloader would refuse or misread `name` (a relative path with
// "\" separators) as a listed file, or nullopt when it is fine.
std::optional<std::wstring> listed_name_problem(std::wstring_view name);

// Every file below folder with size and digest, sorted by name without
// regard to case. Throws wexception for an unreadable or empty folder, a
// name the downloader would refuse, an empty file, or two names that differ
// only in letter case.
std::vector<PackageFile> list_package(const std::wstring& folder);

// The description text (UTF-16) for the files, marks applied.
std::wstring description_text(const DescribeOptions& options, const std::vector<PackageFile>& files,
                              const std::wstring& downloaderDigest);

// Checks the options, lists the folder, applies the marks and writes the
// output. Throws wexception naming the problem; the output appears only
// when everything succeeded (an existing one is left as it was otherwise).
// Returns the files listed.
std::vector<PackageFile> describe_package(const DescribeOptions& options);
