#pragma once
#include <windows.h>

// The start-up sequence, message loop and common shutdown. Returns 0 on
// every path; failures are reported to the user, never through the code.
int RunDownloader(HINSTANCE instance, const wchar_t* arguments, int show);
