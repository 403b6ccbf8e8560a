#include "file_copy.h"

#include <algorithm>
#include <vector>

#include "unique_handle.h"

namespace {

constexpr DWORD kCopiedAttributes = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
                                    FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;

bool cancel_requested(LPBOOL cancel) {
    // Another thread may set the flag while the copy runs.
    return cancel && *static_cast<volatile BOOL*>(cancel);
}

LARGE_INTEGER large(ULONGLONG value) {
    LARGE_INTEGER result;
    result.QuadPart = static_cast<LONGLONG>(value);
    return result;
}

// One copy in progress: owns the destination until it is complete, and
// removes it when the copy ends early (unless told to keep it).
class Copy {
public:
    Copy(LPCWSTR destination_path, LPPROGRESS_ROUTINE progress, LPVOID data)
        : destination_path_(destination_path), progress_(progress), data_(data) {}

    // Calls the routine unless it asked for quiet. False when it asked to end.
    bool report(ULONGLONG total, ULONGLONG transferred, DWORD reason) {
        if (!progress_) return true;
        DWORD answer = progress_(large(total), large(transferred), large(total), large(transferred), 1,
                                 reason, source.get(), destination.get(), data_);
        switch (answer) {
            case PROGRESS_CANCEL:
                return false;
            case PROGRESS_STOP:
                keep_partial_ = true;
                return false;
            case PROGRESS_QUIET:
                progress_ = nullptr;
                return true;
            default:
                return true;
        }
    }

    // Closes and, unless kept, deletes the destination; sets code as the
    // last error.
    BOOL fail(DWORD code) {
        if (destination) {
            destination.reset();
            if (!keep_partial_) DeleteFileW(destination_path_);
        }
        SetLastError(code);
        return FALSE;
    }

    unique_file source;
    unique_file destination;

private:
    LPCWSTR destination_path_;
    LPPROGRESS_ROUTINE progress_;
    LPVOID data_;
    bool keep_partial_ = false;
};

}  // namespace

BOOL copy_file_with_progress(LPCWSTR existing_file, LPCWSTR new_file, LPPROGRESS_ROUTINE progress,
                             LPVOID data, LPBOOL cancel, DWORD flags, DWORD chunk_size) {
    if (!existing_file || !new_file || (flags & ~static_cast<DWORD>(COPY_FILE_FAIL_IF_EXISTS)) != 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (chunk_size == 0) chunk_size = kCopyChunkSize;

    Copy copy(new_file, progress, data);
    copy.source.reset(CreateFileW(existing_file, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                                  OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!copy.source) return FALSE;
    BY_HANDLE_FILE_INFORMATION info;
    if (!GetFileInformationByHandle(copy.source.get(), &info)) return FALSE;
    ULONGLONG total = (static_cast<ULONGLONG>(info.nFileSizeHigh) << 32) | info.nFileSizeLow;

    if (cancel_requested(cancel)) return copy.fail(ERROR_REQUEST_ABORTED);

    // A read-only destination is refused as on Windows (where the open
    // below would fail; a process with root rights under Wine gets through).
    DWORD existing = GetFileAttributesW(new_file);
    if (existing != INVALID_FILE_ATTRIBUTES && (existing & FILE_ATTRIBUTE_READONLY) &&
        !(existing & FILE_ATTRIBUTE_DIRECTORY)) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }

    // Opened without sharing: a destination that is the source itself fails
    // here with a sharing violation and is left alone.
    DWORD disposition = (flags & COPY_FILE_FAIL_IF_EXISTS) ? CREATE_NEW : CREATE_ALWAYS;
    copy.destination.reset(
        CreateFileW(new_file, GENERIC_WRITE, 0, nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!copy.destination) return FALSE;

    if (!copy.report(total, 0, CALLBACK_STREAM_SWITCH)) return copy.fail(ERROR_REQUEST_ABORTED);

    std::vector<char> buffer(chunk_size);
    ULONGLONG transferred = 0;
    bool completion_reported = false;
    for (;;) {
        if (cancel_requested(cancel)) return copy.fail(ERROR_REQUEST_ABORTED);
        DWORD read = 0;
        if (!ReadFile(copy.source.get(), buffer.data(), chunk_size, &read, nullptr))
            return copy.fail(GetLastError());
        if (read == 0) break;
        DWORD written = 0;
        if (!WriteFile(copy.destination.get(), buffer.data(), read, &written, nullptr))
            return copy.fail(GetLastError());
        if (written != read) return copy.fail(ERROR_WRITE_FAULT);
        transferred += read;
        // A source that grew while being copied reports its new size.
        total = std::max(total, transferred);
        completion_reported = transferred == total;
        if (!copy.report(total, transferred, CALLBACK_CHUNK_FINISHED))
            return copy.fail(ERROR_REQUEST_ABORTED);
    }
    // An empty source, or one that shrank: the routine still sees the end.
    if (!completion_reported) {
        total = transferred;
        if (!copy.report(total, transferred, CALLBACK_CHUNK_FINISHED))
            return copy.fail(ERROR_REQUEST_ABORTED);
    }

    SetFileTime(copy.destination.get(), nullptr, nullptr, &info.ftLastWriteTime);
    copy.destination.reset();
    DWORD attributes = info.dwFileAttributes & kCopiedAttributes;
    if (attributes != 0 && attributes != FILE_ATTRIBUTE_ARCHIVE) SetFileAttributesW(new_file, attributes);
    return TRUE;
}
