// Standard C++ side of the document's file and text seam, for native builds
// (paths are passed to fopen as UTF-8).
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "utf8.h"
#include "xml_io.h"
#include "xml_io_platform.h"

namespace xml::io {

namespace platform {

std::wstring ErrnoText(int error) {
    const char* text = std::strerror(error);
    std::wstring out;
    if (text)
        for (; *text; ++text) out.push_back(static_cast<wchar_t>(static_cast<unsigned char>(*text)));
    return out;
}

std::FILE* OpenFile(const std::wstring& path, bool write) {
    return std::fopen(utf8::Encode(path).c_str(), write ? "wb" : "rb");
}

}  // namespace platform

std::wstring Utf8ToUtf16(std::string_view bytes) {
    return utf8::Decode(bytes);
}

std::string Utf16ToUtf8(std::wstring_view text) {
    return utf8::Encode(text);
}

}  // namespace xml::io
