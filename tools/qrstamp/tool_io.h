#pragma once
// What the publisher tools share around their files and their console.
#include <windows.h>

#include <string>

// Console text as UTF-16; redirected output as UTF-8.
void write_text(DWORD which, const std::wstring& text);

// A temporary file in the folder of `beside` (the output it will become),
// deleted unless moved() says it was moved into place. Throws wexception
// when none can be made.
class TemporaryFile {
public:
    TemporaryFile(const std::wstring& beside, const wchar_t* prefix);
    ~TemporaryFile();
    TemporaryFile(const TemporaryFile&) = delete;
    TemporaryFile& operator=(const TemporaryFile&) = delete;

    const std::wstring& path() const { return path_; }
    void moved() { path_.clear(); }

private:
    std::wstring path_;
};
