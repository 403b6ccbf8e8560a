#pragma once
#include <windows.h>

#include <string>

// The start-up sequence, message loop and common shutdown. Returns 0 on
// every path; failures are reported to the user, never through the code.
int RunDownloader(HINSTANCE instance, const wchar_t* arguments, int show);

// "OriginalFilename" of the first translation in the version block of the
// file at `path`. Throws windows_error when the block, its translation or
// the value is missing.
std::wstring ReadOriginalFilename(const std::wstring& path);
