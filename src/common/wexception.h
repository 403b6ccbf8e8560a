#pragma once
// Failure types thrown by start-up, window handlers, pipes and buffers.
#include <stdexcept>
#include <string>

#include <windows.h>

// A failure with a user-facing UTF-16 message.
class wexception : public std::runtime_error {
public:
    explicit wexception(std::wstring message);
    const std::wstring& message() const noexcept { return message_; }

private:
    std::wstring message_;
};

// A failure carrying a Win32 error code; 0 when the message says it all.
class windows_error : public wexception {
public:
    windows_error(std::wstring message, DWORD code);
    DWORD code() const noexcept { return code_; }

private:
    DWORD code_;
};

// Builds the two forms of a failed Win32 call's message: "<base>. Error: <code>."
// when code is not 0, "<base>." otherwise. base carries no final period.
std::wstring with_error_code(std::wstring_view base, DWORD code);

// Throws windows_error(with_error_code(base, code), code).
[[noreturn]] void throw_windows_error(std::wstring_view base, DWORD code);
