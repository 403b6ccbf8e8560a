// Win32 side of the document's file and text seam.
#include <windows.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <new>

#include "xml_io.h"

namespace xml::io {

namespace {

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

}  // namespace

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

bool ReadFileBytes(const std::wstring& path, std::string& bytes, std::wstring& error) {
    errno = 0;
    FILE* file = _wfopen(path.c_str(), L"rb");
    if (!file) {
        error = ErrnoText(errno);
        return false;
    }
    std::string data;
    char buffer[65536];
    for (;;) {
        const std::size_t got = std::fread(buffer, 1, sizeof buffer, file);
        data.append(buffer, got);
        if (got < sizeof buffer) break;
    }
    const bool failed = std::ferror(file) != 0;
    const int read_errno = errno;
    std::fclose(file);
    if (failed) {
        error = ErrnoText(read_errno ? read_errno : EIO);
        return false;
    }
    bytes.swap(data);
    return true;
}

bool WriteFileBytes(const std::wstring& path, std::string_view bytes, std::wstring& error) {
    errno = 0;
    FILE* file = _wfopen(path.c_str(), L"wb");
    if (!file) {
        error = ErrnoText(errno);
        return false;
    }
    const std::size_t written = bytes.empty() ? 0 : std::fwrite(bytes.data(), 1, bytes.size(), file);
    int write_errno = written == bytes.size() ? 0 : (errno ? errno : EIO);
    // A failed flush on close loses the data as surely as a failed write.
    if (std::fclose(file) != 0 && !write_errno) write_errno = errno ? errno : EIO;
    if (write_errno) {
        error = ErrnoText(write_errno);
        return false;
    }
    return true;
}

}  // namespace xml::io
