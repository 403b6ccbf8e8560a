#pragma once
// The failure sink of an engine operation: the message meant for the user
// and the Win32 code, HRESULT or HTTP status behind it. Operations that can
// fail return false and fill one of these; the engine copies it into its
// own error text and code.
#include <string>

#include <windows.h>

struct OperationError {
    std::wstring text;
    DWORD code = 0;

    void set(std::wstring message, DWORD error_code) {
        text = std::move(message);
        code = error_code;
    }
};
