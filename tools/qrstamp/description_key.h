#pragma once
// The security key a signed version_info.xml calls for: the SHA-1 digest
// of its signer certificate text, read the way the downloader reads it.
#include <string>

// 40 lower-case hexadecimal digits. Throws wexception when the file cannot
// be read, is not well-formed, is not signed or names no certificate.
std::string key_from_description(const std::wstring& path);
