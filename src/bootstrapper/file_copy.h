#pragma once
// File copy with CopyFileExW's contract, done by the product itself so that
// progress and cancel behave the same everywhere (Wine's CopyFileExW never
// calls the progress routine and ignores the cancel flag).
//
// The routine is called once with CALLBACK_STREAM_SWITCH before the first
// byte, then with CALLBACK_CHUNK_FINISHED after every chunk written; the
// last call carries transferred == total (an empty file gets one such call
// with 0 of 0). PROGRESS_CANCEL or a set cancel flag ends the copy with
// ERROR_REQUEST_ABORTED and deletes the partial destination;
// PROGRESS_STOP ends it the same way but keeps what was written;
// PROGRESS_QUIET continues without further calls. Any other failure also
// deletes the destination. Attributes and the last-write time follow the
// source.
#include <windows.h>

inline constexpr DWORD kCopyChunkSize = 64 * 1024;

// Flags: 0 or COPY_FILE_FAIL_IF_EXISTS; anything else fails with
// ERROR_INVALID_PARAMETER. Returns FALSE with the last error set.
BOOL copy_file_with_progress(LPCWSTR existing_file, LPCWSTR new_file, LPPROGRESS_ROUTINE progress,
                             LPVOID data, LPBOOL cancel, DWORD flags, DWORD chunk_size = kCopyChunkSize);
