// Win32 side of the document's file and text seam.
#include <windows.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <new>

#include "xml_io.h"
#include "xml_io_platform.h"

namespace xml::io {

namespace platform {

std::wstring ErrnoText(int error) {
    const char* text = std::strerror(error);
    std::wstring out;
    if (!text) return out;
    const int n = MultiByteToWideChar(CP_ACP, 0, text, -1, nullptr, 0);
    if (n <= 1) return out;
    out.resize(static_cast<std::size_t>(n));
    MultiByteToWideChar(CP_ACP, 0, text, -1, out.data(), n);
    out.resize(static_cast<std::size_t>(n - 1));
    return out;
}

std::FILE* OpenFile(const std::wstring& path, bool write) {
    return _wfopen(path.c_str(), write ? L"wb" : L"rb");
}

}  // namespace platform

std::wstring Utf8ToUtf16(std::string_view bytes) {
    std::wstring out;
    if (bytes.empty()) return out;
    if (bytes.size() > INT_MAX) throw std::bad_alloc();
    const int size = static_cast<int>(bytes.size());
    const int n = MultiByteToWideChar(CP_UTF8, 0, bytes.data(), size, nullptr, 0);
    if (n <= 0) throw std::bad_alloc();
    out.resize(static_cast<std::size_t>(n));
    MultiByteToWideChar(CP_UTF8, 0, bytes.data(), size, out.data(), n);
    return out;
}

std::string Utf16ToUtf8(std::wstring_view text) {
    std::string out;
    if (text.empty()) return out;
    if (text.size() > INT_MAX / 3) throw std::bad_alloc();
    const int size = static_cast<int>(text.size());
    const int n = WideCharToMultiByte(CP_UTF8, 0, text.data(), size, nullptr, 0, nullptr, nullptr);
    if (n <= 0) throw std::bad_alloc();
    out.resize(static_cast<std::size_t>(n));
    WideCharToMultiByte(CP_UTF8, 0, text.data(), size, out.data(), n, nullptr, nullptr);
    return out;
}

}  // namespace xml::io
