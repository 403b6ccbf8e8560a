// Standard C++ side of the document's file and text seam, for native builds
// (paths are passed to fopen as UTF-8).
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "utf8.h"
#include "xml_io.h"

namespace xml::io {

namespace {

std::wstring ErrnoText(int error) {
    const char* text = std::strerror(error);
    std::wstring out;
    if (text)
        for (; *text; ++text) out.push_back(static_cast<wchar_t>(static_cast<unsigned char>(*text)));
    return out;
}

std::FILE* Open(const std::wstring& path, const char* mode) {
    return std::fopen(utf8::Encode(path).c_str(), mode);
}

}  // namespace

std::wstring Utf8ToUtf16(std::string_view bytes) {
    return utf8::Decode(bytes);
}

std::string Utf16ToUtf8(std::wstring_view text) {
    return utf8::Encode(text);
}

bool ReadFileBytes(const std::wstring& path, std::string& bytes, std::wstring& error) {
    errno = 0;
    std::FILE* file = Open(path, "rb");
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
    std::FILE* file = Open(path, "wb");
    if (!file) {
        error = ErrnoText(errno);
        return false;
    }
    const std::size_t written = bytes.empty() ? 0 : std::fwrite(bytes.data(), 1, bytes.size(), file);
    int write_errno = written == bytes.size() ? 0 : (errno ? errno : EIO);
    if (std::fclose(file) != 0 && !write_errno) write_errno = errno ? errno : EIO;
    if (write_errno) {
        error = ErrnoText(write_errno);
        return false;
    }
    return true;
}

}  // namespace xml::io
