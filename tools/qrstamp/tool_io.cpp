#include "tool_io.h"

#include "text.h"
#include "wexception.h"

void write_text(DWORD which, const std::wstring& text) {
    HANDLE handle = GetStdHandle(which);
    if (!handle || handle == INVALID_HANDLE_VALUE) return;
    DWORD mode = 0, written = 0;
    if (GetConsoleMode(handle, &mode)) {
        WriteConsoleW(handle, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    } else {
        const std::string bytes = narrow(text);
        WriteFile(handle, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    }
}

TemporaryFile::TemporaryFile(const std::wstring& beside, const wchar_t* prefix) {
    DWORD size = GetFullPathNameW(beside.c_str(), 0, nullptr, nullptr);
    std::wstring full(size, L'\0');
    if (size != 0) full.resize(GetFullPathNameW(beside.c_str(), size, full.data(), nullptr));
    if (full.empty())
        throw wexception(with_error_code(L"cannot resolve the path '" + beside + L"'", GetLastError()));
    const std::wstring folder = full.substr(0, full.find_last_of(L"\\/") + 1);
    // GetTempFileNameW needs room for its own 14 characters.
    wchar_t name[MAX_PATH + 1] = {};
    if (folder.size() >= MAX_PATH - 14 || !GetTempFileNameW(folder.c_str(), prefix, 0, name))
        throw wexception(
            with_error_code(L"cannot create a temporary file in '" + folder + L"'", GetLastError()));
    path_ = name;
}

TemporaryFile::~TemporaryFile() {
    if (!path_.empty()) DeleteFileW(path_.c_str());
}
