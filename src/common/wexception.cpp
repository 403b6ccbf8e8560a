#include "wexception.h"

#include "text.h"

wexception::wexception(std::wstring message)
    : std::runtime_error(narrow(message)), message_(std::move(message)) {}

windows_error::windows_error(std::wstring message, DWORD code)
    : wexception(std::move(message)), code_(code) {}

std::wstring with_error_code(std::wstring_view base, DWORD code) {
    std::wstring text(base);
    if (code != 0)
        text += format(L". Error: %d.", static_cast<int>(code));
    else
        text += L".";
    return text;
}

void throw_windows_error(std::wstring_view base, DWORD code) {
    throw windows_error(with_error_code(base, code), code);
}
