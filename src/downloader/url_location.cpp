#include "url_location.h"

#include <windows.h>
#include <shlwapi.h>

#include "text.h"

namespace {

constexpr wchar_t kDescriptionName[] = L"version_info.xml";

bool starts_with_nocase(const std::wstring& text, std::wstring_view prefix) {
    return text.size() >= prefix.size() && iequals(std::wstring_view(text).substr(0, prefix.size()), prefix);
}

std::wstring append_name(std::wstring base, wchar_t separator) {
    if (base.empty() || base.back() != separator) base += separator;
    return base + kDescriptionName;
}

}  // namespace

DescriptionSource locate_description(const std::wstring& url, const std::wstring& executableFolder) {
    DescriptionSource source;
    if (PathIsURLW(url.c_str())) {
        if (starts_with_nocase(url, L"ftp:") || starts_with_nocase(url, L"sftp:")) {
            source.kind = kSourceRefused;
            return source;
        }
        source.kind = kSourceHttp;
        source.location = append_name(url, L'/');
        return source;
    }
    if (PathIsUNCW(url.c_str())) {
        source.kind = kSourceUnc;
        source.location = append_name(url, L'\\');
        return source;
    }
    source.kind = kSourceLocalPath;
    if (PathIsRelativeW(url.c_str())) {
        // PathCombineW writes at most MAX_PATH characters; a longer result is
        // joined by hand rather than cut off.
        wchar_t combined[MAX_PATH] = {};
        if (executableFolder.size() + url.size() + 2 < MAX_PATH &&
            PathCombineW(combined, executableFolder.c_str(), url.c_str()))
            source.location = append_name(combined, L'\\');
        else {
            std::wstring folder = executableFolder;
            if (!folder.empty() && folder.back() != L'\\') folder += L'\\';
            source.location = append_name(folder + url, L'\\');
        }
        return source;
    }
    source.location = append_name(url, L'\\');
    return source;
}
