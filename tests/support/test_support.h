#pragma once
// Helpers shared by the test executables (they run under Wine).
#include <windows.h>

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace testing_support {

// Folder of the running test executable, with a trailing backslash. The
// built product and tools sit in the same folder.
std::wstring bin_dir();

// The source tree as a Windows path (through Wine's Z: drive), with a
// trailing backslash.
std::wstring source_dir();

// A fresh folder under %TEMP% named after the test, removed with its
// contents when the object goes away.
class TempDir {
public:
    explicit TempDir(const std::wstring& tag = L"qrtest");
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::wstring& path() const { return path_; }  // with trailing backslash
    std::wstring operator/(const std::wstring& name) const { return path_ + name; }

private:
    std::wstring path_;
};

// Deletes a folder tree; true when it is gone.
bool remove_tree(const std::wstring& path);

struct ProcessResult {
    bool started = false;
    bool timed_out = false;
    DWORD exit_code = 0;  // exact 32-bit code
    std::string output;   // stdout and stderr, when captured
};

// Runs a command line, waits up to timeout_ms (then terminates it) and
// returns the exact exit code. The working folder defaults to the current one.
ProcessResult run_process(const std::wstring& command_line, DWORD timeout_ms = 60000,
                          const std::wstring& working_dir = L"", bool capture_output = true);

// Quotes one argument for a command line.
std::wstring quote(const std::wstring& argument);

// The visible dialogs (class "#32770", message boxes among them) of a process.
std::vector<HWND> visible_dialogs(DWORD process_id);

// The texts of a window's child controls, one line each.
std::wstring child_texts(HWND window);

std::string read_file(const std::wstring& path);
bool write_file(const std::wstring& path, const std::string& bytes);
// The files directly in folder (which ends with "\\") by name, with their
// contents: compare two of them to see that nothing was written.
std::map<std::wstring, std::string> folder_files(const std::wstring& folder);
bool file_exists(const std::wstring& path);

}  // namespace testing_support
