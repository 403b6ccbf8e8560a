// Whole-file reads and writes through the C runtime, shared by both sides of
// the seam; only opening a path and describing errno differ.
#include <cerrno>
#include <cstdio>

#include "xml_io.h"
#include "xml_io_platform.h"

namespace xml::io {

using platform::ErrnoText;
using platform::OpenFile;

bool ReadFileBytes(const std::wstring& path, std::string& bytes, std::wstring& error) {
    errno = 0;
    std::FILE* file = OpenFile(path, false);
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
    std::FILE* file = OpenFile(path, true);
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
