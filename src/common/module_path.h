#pragma once
#include <windows.h>

#include <string>

// The full path of a loaded module's file (GetModuleFileNameW, however long);
// the process's own program for nullptr. Empty when it cannot be read.
std::wstring module_path(HMODULE module = nullptr);
