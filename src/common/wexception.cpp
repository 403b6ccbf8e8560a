#include "wexception.h"

#include "text.h"
#include "common_texts.h"

namespace {

std::string to_ansi(const std::wstring& text) {
    if (text.empty()) return {};
    int n = WideCharToMultiByte(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr,
                                nullptr);
    if (n <= 0) return narrow(text);
    std::string out(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(CP_ACP, 0, text.data(), static_cast<int>(text.size()), out.data(), n, nullptr,
                        nullptr);
    return out;
}

}  // namespace

wexception::wexception(std::wstring message)
    : std::runtime_error(to_ansi(message)), message_(std::move(message)) {}

wexception::wexception(std::wstring message, const char* file, int line)
    : std::runtime_error(to_ansi(message)),
      message_(std::move(message)),
      file_(file ? file : ""),
      line_(line) {}

windows_error::windows_error(std::wstring message, DWORD code)
    : wexception(std::move(message)), code_(code) {}

windows_error::windows_error(std::wstring message, DWORD code, const char* file, int line)
    : wexception(std::move(message), file, line), code_(code) {}

windows_error::windows_error(DWORD code) : wexception(system_error_text(code)), code_(code) {}

std::wstring system_error_text(DWORD code) {
    if (code == 0) return {};
    wchar_t* buffer = nullptr;
    DWORD n = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM, nullptr, code,
                             MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), reinterpret_cast<wchar_t*>(&buffer),
                             0, nullptr);
    if (n == 0 || buffer == nullptr) {
        if (buffer) LocalFree(buffer);
        return format(texts::kNoSystemText, static_cast<unsigned>(code));
    }
    std::wstring text(buffer, n);
    LocalFree(buffer);
    return text;
}

std::wstring with_error_code(std::wstring_view base, DWORD code) {
    std::wstring text(base);
    if (code != 0)
        text += format(texts::kErrorCodeEnding, static_cast<int>(code));
    else
        text += L".";
    return text;
}

void throw_windows_error(std::wstring_view base, DWORD code) {
    throw windows_error(with_error_code(base, code), code);
}
