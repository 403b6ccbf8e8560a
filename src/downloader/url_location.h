#pragma once
// Where the update description of an installation URL lives.
#include <string>

enum SourceKind : int {
    kSourceNone = 0,
    kSourceLocalPath = 1,
    kSourceHttp = 2,
    kSourceRefused = 3,  // ftp: and sftp:
    kSourceUnc = 4,
};

struct DescriptionSource {
    int kind = kSourceNone;
    std::wstring location;  // full path or URL of version_info.xml; empty when refused
};

// Classifies url: an http(s) URL gets "/version_info.xml", a UNC or absolute
// path "\version_info.xml", a relative path is taken from executableFolder.
DescriptionSource locate_description(const std::wstring& url, const std::wstring& executableFolder);
