#include "describer.h"

#include <windows.h>

#include <algorithm>

#include "digest.h"
#include "program_digest.h"
#include "safe_path.h"
#include "setting_rules.h"
#include "text.h"
#include "tool_io.h"
#include "unique_handle.h"
#include "wexception.h"
#include "xml_document.h"

namespace {

constexpr wchar_t kUpdaterFolder[] = L"updater\\";
constexpr size_t kUpdaterFolderLength = 8;

std::wstring quoted(std::wstring_view text) {
    return L"'" + std::wstring(text) + L"'";
}

std::string read_program(const std::wstring& path) {
    unique_file file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                 FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) throw_windows_error(L"cannot open the downloader " + quoted(path), GetLastError());
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(file.get(), &size))
        throw_windows_error(L"cannot read the downloader " + quoted(path), GetLastError());
    if (size.QuadPart > (256LL << 20)) throw wexception(L"the downloader " + quoted(path) + L" is too large");
    std::string bytes(static_cast<size_t>(size.QuadPart), '\0');
    DWORD got = 0;
    if (!bytes.empty() &&
        (!ReadFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &got, nullptr) ||
         got != bytes.size()))
        throw_windows_error(L"cannot read the downloader " + quoted(path), GetLastError());
    return bytes;
}

std::wstring child_path(const std::wstring& folder, const std::wstring& name) {
    return folder.back() == L'\\' ? folder + name : folder + L"\\" + name;
}

std::wstring full_path(const std::wstring& path) {
    DWORD n = GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
    if (n == 0) throw_windows_error(L"cannot resolve the path " + quoted(path), GetLastError());
    std::wstring out(n, L'\0');
    n = GetFullPathNameW(path.c_str(), n, out.data(), nullptr);
    out.resize(n);
    while (out.size() > 3 && (out.back() == L'\\' || out.back() == L'/')) out.pop_back();
    return out;
}

// Attribute values and element text, escaped for XML.
std::wstring escaped(std::wstring_view text) {
    std::wstring out;
    for (wchar_t c : text) {
        switch (c) {
            case L'&':
                out += L"&amp;";
                break;
            case L'<':
                out += L"&lt;";
                break;
            case L'>':
                out += L"&gt;";
                break;
            case L'"':
                out += L"&quot;";
                break;
            default:
                out += c;
        }
    }
    return out;
}

bool below_updater(std::wstring_view name) {
    return name.size() > kUpdaterFolderLength &&
           iequals(name.substr(0, kUpdaterFolderLength), kUpdaterFolder);
}

std::wstring lower_key(std::wstring_view name) {
    return to_lower(name);
}

std::wstring file_md5(const std::wstring& path) {
    const std::wstring digest = file_digest(path);
    if (digest.empty()) throw_windows_error(L"cannot read " + quoted(path), GetLastError());
    return digest;
}

void collect(const std::wstring& root, const std::wstring& relative, std::vector<PackageFile>& files) {
    const std::wstring folder = relative.empty() ? root : child_path(root, relative);
    WIN32_FIND_DATAW data;
    HANDLE find = FindFirstFileW(child_path(folder, L"*").c_str(), &data);
    if (find == INVALID_HANDLE_VALUE) throw_windows_error(L"cannot list " + quoted(folder), GetLastError());
    struct Closer {
        HANDLE h;
        ~Closer() { FindClose(h); }
    } closer{find};
    std::vector<std::wstring> subfolders;
    do {
        const std::wstring entry = data.cFileName;
        if (entry == L"." || entry == L"..") continue;
        const std::wstring name = relative.empty() ? entry : relative + L"\\" + entry;
        if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            subfolders.push_back(name);
            continue;
        }
        if (auto problem = listed_name_problem(name))
            throw wexception(L"the file " + quoted(name) + L" cannot be listed: " + *problem);
        PackageFile file;
        file.name = name;
        file.size = (std::uint64_t(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
        // The downloader cannot check an empty file (it has no digest), and
        // an unchecked entry would let anything take its place.
        if (file.size == 0)
            throw wexception(L"the file " + quoted(name) +
                             L" is empty; the downloader cannot check an empty file, leave it out or give it "
                             L"content");
        file.hash = file_md5(child_path(root, name));
        file.updater = below_updater(name);
        files.push_back(std::move(file));
    } while (FindNextFileW(find, &data));
    const DWORD code = GetLastError();
    if (code != ERROR_NO_MORE_FILES) throw_windows_error(L"cannot list " + quoted(folder), code);
    for (const auto& sub : subfolders) {
        if (auto problem = listed_name_problem(sub + L"\\x"))
            throw wexception(L"the folder " + quoted(sub) + L" cannot be listed: " + *problem);
        collect(root, sub, files);
    }
}

PackageFile& find_listed(std::vector<PackageFile>& files, std::wstring_view wanted, const wchar_t* option) {
    std::wstring name(wanted);
    std::replace(name.begin(), name.end(), L'/', L'\\');
    for (auto& file : files)
        if (iequals(file.name, name)) return file;
    throw wexception(std::wstring(option) + L" " + quoted(wanted) + L" names no file of the package folder");
}

void check_setting(const wchar_t* option, const wchar_t* setting, const std::wstring& value, bool required) {
    if (value.empty()) {
        if (required) throw wexception(std::wstring(option) + L" is required");
        return;
    }
    if (auto problem = check_setting_value(*find_setting(setting), value))
        throw wexception(std::wstring(option) + L" " + *problem + L", got " + quoted(value));
}

void check_options(const DescribeOptions& o) {
    check_setting(L"--language", L"language", o.language, true);
    check_setting(L"--version", L"version", o.version, true);
    // The version is a folder name in every file's address.
    if (o.version.find_first_of(L"\\/") != std::wstring::npos || listed_name_problem(o.version))
        throw wexception(L"--version must be usable as a folder name, got " + quoted(o.version));
    if (o.msi.empty()) throw wexception(L"--msi is required");
    check_setting(L"--product-code", L"productCode", o.productCode, false);
    check_setting(L"--component", L"productCode", o.component, false);
    for (wchar_t c : o.scope)
        if (c < L' ') throw wexception(L"--scope must not contain control characters");
}

// The package the installation step runs: cache folder + `msi`, ".msi"
// added when missing; a ".deploy" copy is renamed to it.
void check_package_listed(const std::vector<PackageFile>& files, const std::wstring& msi) {
    std::wstring name = msi;
    std::replace(name.begin(), name.end(), L'/', L'\\');
    if (name.size() < 4 || !iequals(std::wstring_view(name).substr(name.size() - 4), L".msi"))
        name += L".msi";
    for (const auto& file : files)
        if (!file.prerequisite && !file.updater &&
            (iequals(file.name, name) || iequals(file.name, name + L".deploy")))
            return;
    throw wexception(L"the package " + quoted(name) + L" (--msi) is not among the package files");
}

void apply_marks(const DescribeOptions& o, std::vector<PackageFile>& files) {
    for (const auto& spec : o.prerequisites) {
        std::wstring name = spec, language;
        const size_t colon = spec.rfind(L':');
        if (colon != std::wstring::npos) {
            name = spec.substr(0, colon);
            language = spec.substr(colon + 1);
            if (auto problem = check_setting_value(*find_setting(L"language"), language);
                problem || language.empty())
                throw wexception(L"--prerequisite " + quoted(spec) + L": the language " +
                                 (problem ? *problem : L"is empty"));
        }
        PackageFile& file = find_listed(files, name, L"--prerequisite");
        if (file.updater)
            throw wexception(L"--prerequisite " + quoted(name) +
                             L": files below updater\\ belong to the updater, not to the prerequisites");
        if (file.prerequisite) throw wexception(L"--prerequisite " + quoted(name) + L" is given twice");
        file.prerequisite = true;
        file.language = language;
    }
    for (const auto& name : o.actions) {
        PackageFile& file = find_listed(files, name, L"--action");
        if (file.updater)
            throw wexception(L"--action " + quoted(name) +
                             L": files below updater\\ are the updater's already");
        if (file.prerequisite) throw wexception(L"--action " + quoted(name) + L" is a prerequisite");
        file.action = true;
    }
}

}  // namespace

std::optional<std::wstring> listed_name_problem(std::wstring_view name) {
    if (!is_safe_listed_name(name))
        return std::wstring(
            L"the downloader refuses it (a device name, or a character such as : * ? \" < > | or a "
            L"control character)");
    // The downloader reads a file's name as the element's text without
    // decoding entities, so "&" could not be written so that it reads back.
    if (name.find(L'&') != std::wstring_view::npos) return std::wstring(L"'&' cannot be listed");
    size_t start = 0;
    for (;;) {
        const size_t end = std::min(name.find(L'\\', start), name.size());
        const std::wstring_view segment = name.substr(start, end - start);
        // Windows drops these when it opens the file: the name would not be
        // the one the downloader placed.
        if (!segment.empty() && (segment.back() == L'.' || segment.back() == L' '))
            return std::wstring(L"a name part ends with a dot or a space");
        if (end == name.size()) break;
        start = end + 1;
    }
    return std::nullopt;
}

std::vector<PackageFile> list_package(const std::wstring& folder) {
    const DWORD attributes = GetFileAttributesW(folder.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES)
        throw_windows_error(L"cannot open the package folder " + quoted(folder), GetLastError());
    if (!(attributes & FILE_ATTRIBUTE_DIRECTORY))
        throw wexception(L"the package folder " + quoted(folder) + L" is not a folder");
    std::vector<PackageFile> files;
    collect(full_path(folder), L"", files);
    if (files.empty()) throw wexception(L"the package folder " + quoted(folder) + L" holds no files");
    std::sort(files.begin(), files.end(), [](const PackageFile& a, const PackageFile& b) {
        const std::wstring ka = lower_key(a.name), kb = lower_key(b.name);
        return ka != kb ? ka < kb : a.name < b.name;
    });
    for (size_t i = 1; i < files.size(); ++i)
        if (iequals(files[i - 1].name, files[i].name))
            throw wexception(quoted(files[i - 1].name) + L" and " + quoted(files[i].name) +
                             L" differ only in letter case; on Windows they are one file");
    return files;
}

std::wstring description_text(const DescribeOptions& o, const std::vector<PackageFile>& files,
                              const std::wstring& downloaderDigest) {
    std::wstring text = L"<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n<application>\r\n";
    text += L"  <product language=\"" + escaped(o.language) + L"\">\r\n";
    text += L"    <version name=\"" + escaped(o.version) + L"\"";
    if (!o.component.empty()) text += L" component=\"" + escaped(o.component) + L"\"";
    if (!o.scope.empty()) text += L" scope=\"" + escaped(o.scope) + L"\"";
    if (!o.productCode.empty()) text += L" productCode=\"" + escaped(o.productCode) + L"\"";
    text += L">\r\n      <files msi=\"" + escaped(o.msi) + L"\"";
    if (!downloaderDigest.empty()) text += L" hash=\"" + downloaderDigest + L"\"";
    text += L">\r\n";
    for (const auto& file : files) {
        text += L"        <file";
        if (file.prerequisite) text += L" prerequisite=\"true\"";
        if (file.updater) text += L" updater=\"true\"";
        if (file.action) text += L" action=\"true\"";
        text += L" size=\"" + std::to_wstring(file.size) + L"\"";
        if (!file.language.empty()) text += L" language=\"" + file.language + L"\"";
        text += L" hash=\"" + file.hash + L"\">" + escaped(file.name) + L"</file>\r\n";
    }
    text += L"      </files>\r\n    </version>\r\n  </product>\r\n</application>\r\n";
    return text;
}

std::vector<PackageFile> describe_package(const DescribeOptions& o) {
    check_options(o);
    const std::wstring folder = full_path(o.folder);
    const std::wstring output = full_path(o.output);
    if (output.size() > folder.size() && output[folder.size()] == L'\\' &&
        iequals(std::wstring_view(output).substr(0, folder.size()), folder))
        throw wexception(L"the output " + quoted(o.output) +
                         L" is inside the package folder; it would list itself");

    std::wstring downloaderDigest;
    if (!o.downloader.empty()) {
        const std::string program = read_program(o.downloader);
        // Its digest must survive the key stamping that comes later, and a
        // program without exactly one key slot cannot be stamped.
        if (security_key_slots(program).size() != 1)
            throw wexception(L"the downloader " + quoted(o.downloader) +
                             L" has no single security-key slot; is it the downloader program?");
        downloaderDigest = program_digest_of(program);
    }

    std::vector<PackageFile> files = list_package(folder);
    apply_marks(o, files);
    check_package_listed(files, o.msi);

    xml::CXmlDocument doc;
    if (!doc.SetDocument(description_text(o, files, downloaderDigest)))
        throw wexception(L"the description came out malformed: " + doc.ErrorText());
    TemporaryFile temporary(output, L"qrd");
    if (!doc.SaveFile(temporary.path()))
        throw wexception(L"cannot write the description next to " + quoted(o.output) + L": " +
                         doc.SaveStatus());
    if (!MoveFileExW(temporary.path().c_str(), output.c_str(),
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        throw_windows_error(L"cannot write " + quoted(o.output), GetLastError());
    temporary.moved();
    return files;
}
