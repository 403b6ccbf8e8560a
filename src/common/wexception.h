#pragma once
// Failure types thrown by start-up, window handlers, pipes and buffers.
#include <stdexcept>
#include <string>

#include <windows.h>

// A failure with a user-facing UTF-16 message. what() holds the message in
// the ANSI code page for code that only knows std::exception.
class wexception : public std::runtime_error {
public:
    explicit wexception(std::wstring message);
    // With the place that raised it; file may be null.
    wexception(std::wstring message, const char* file, int line);
    const std::wstring& message() const noexcept { return message_; }
    const char* file() const noexcept { return file_; }  // "" unless given
    int line() const noexcept { return line_; }          // 0 unless given

private:
    std::wstring message_;
    const char* file_ = "";
    int line_ = 0;
};

// A failure carrying a Win32 error code; 0 when the message says it all.
class windows_error : public wexception {
public:
    windows_error(std::wstring message, DWORD code);
    windows_error(std::wstring message, DWORD code, const char* file, int line);
    // The message is the system's text for code.
    explicit windows_error(DWORD code);
    DWORD code() const noexcept { return code_; }

private:
    DWORD code_;
};

// The system's text for a Win32 code, as the system gives it (usually with
// a final CR LF); "" for 0; "Error code: 0x<hex>" when the system has none.
std::wstring system_error_text(DWORD code);

// Builds the two forms of a failed Win32 call's message: "<base>. Error: <code>."
// when code is not 0, "<base>." otherwise. base carries no final period.
std::wstring with_error_code(std::wstring_view base, DWORD code);

// Throws windows_error(with_error_code(base, code), code).
[[noreturn]] void throw_windows_error(std::wstring_view base, DWORD code);
