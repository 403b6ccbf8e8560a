#include "test_support.h"

#include <shellapi.h>

#include <algorithm>
#include <atomic>

namespace testing_support {

std::wstring bin_dir() {
    wchar_t path[MAX_PATH * 4];
    DWORD n = GetModuleFileNameW(nullptr, path, static_cast<DWORD>(std::size(path)));
    std::wstring p(path, n);
    return p.substr(0, p.find_last_of(L"\\/") + 1);
}

std::wstring source_dir() {
    std::wstring unix_path = QR_SOURCE_DIR_W;
    std::wstring p = L"Z:" + unix_path;
    for (auto& c : p)
        if (c == L'/') c = L'\\';
    if (p.back() != L'\\') p += L'\\';
    return p;
}

TempDir::TempDir(const std::wstring& tag) {
    static std::atomic<unsigned> counter{0};
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    for (;;) {
        path_ = std::wstring(temp) + tag + L"-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
                std::to_wstring(counter++) + L"\\";
        if (CreateDirectoryW(path_.c_str(), nullptr)) break;
        if (GetLastError() != ERROR_ALREADY_EXISTS) break;
    }
}

TempDir::~TempDir() {
    remove_tree(path_);
}

bool remove_tree(const std::wstring& path) {
    std::wstring dir = path;
    if (!dir.empty() && dir.back() == L'\\') dir.pop_back();
    WIN32_FIND_DATAW data;
    HANDLE find = FindFirstFileW((dir + L"\\*").c_str(), &data);
    if (find != INVALID_HANDLE_VALUE) {
        do {
            std::wstring name = data.cFileName;
            if (name == L"." || name == L"..") continue;
            std::wstring child = dir + L"\\" + name;
            if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                remove_tree(child);
            } else {
                SetFileAttributesW(child.c_str(), FILE_ATTRIBUTE_NORMAL);
                DeleteFileW(child.c_str());
            }
        } while (FindNextFileW(find, &data));
        FindClose(find);
    }
    RemoveDirectoryW(dir.c_str());
    return GetFileAttributesW(dir.c_str()) == INVALID_FILE_ATTRIBUTES;
}

std::wstring quote(const std::wstring& argument) {
    if (!argument.empty() && argument.find_first_of(L" \t\"") == std::wstring::npos) return argument;
    std::wstring out = L"\"";
    size_t backslashes = 0;
    for (wchar_t c : argument) {
        if (c == L'\\') {
            ++backslashes;
        } else if (c == L'"') {
            out.append(backslashes * 2 + 1, L'\\');
            backslashes = 0;
        } else {
            backslashes = 0;
        }
        out += c;
    }
    out.append(backslashes, L'\\');
    return out + L"\"";
}

ProcessResult run_process(const std::wstring& command_line, DWORD timeout_ms, const std::wstring& working_dir,
                          bool capture_output) {
    ProcessResult result;
    SECURITY_ATTRIBUTES sa{sizeof sa, nullptr, TRUE};
    HANDLE read_end = nullptr, write_end = nullptr;
    STARTUPINFOW si{};
    si.cb = sizeof si;
    if (capture_output && CreatePipe(&read_end, &write_end, &sa, 0)) {
        SetHandleInformation(read_end, HANDLE_FLAG_INHERIT, 0);
        si.dwFlags = STARTF_USESTDHANDLES;
        si.hStdOutput = write_end;
        si.hStdError = write_end;
        si.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    }
    PROCESS_INFORMATION pi{};
    std::wstring cmd = command_line;
    BOOL ok = CreateProcessW(nullptr, cmd.data(), nullptr, nullptr, capture_output ? TRUE : FALSE, 0, nullptr,
                             working_dir.empty() ? nullptr : working_dir.c_str(), &si, &pi);
    if (write_end) CloseHandle(write_end);
    if (!ok) {
        if (read_end) CloseHandle(read_end);
        return result;
    }
    result.started = true;
    // Poll the pipe rather than block on it: a grandchild may inherit the
    // write end and keep it open after the child ended.
    auto drain = [&] {
        DWORD available = 0;
        while (read_end && PeekNamedPipe(read_end, nullptr, 0, nullptr, &available, nullptr) && available) {
            char buffer[4096];
            DWORD got = 0;
            if (!ReadFile(read_end, buffer, std::min<DWORD>(available, sizeof buffer), &got, nullptr) || !got)
                break;
            result.output.append(buffer, got);
        }
    };
    DWORD waited = 0;
    for (;;) {
        DWORD wait = WaitForSingleObject(pi.hProcess, 20);
        drain();
        if (wait == WAIT_OBJECT_0) break;
        waited += 20;
        if (timeout_ms != INFINITE && waited >= timeout_ms) {
            result.timed_out = true;
            TerminateProcess(pi.hProcess, 0xDEAD);
            WaitForSingleObject(pi.hProcess, 5000);
            break;
        }
    }
    drain();
    GetExitCodeProcess(pi.hProcess, &result.exit_code);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    if (read_end) CloseHandle(read_end);
    return result;
}

namespace {

struct DialogSearch {
    DWORD processId;
    std::vector<HWND> found;
};

// Named callbacks rather than lambdas: a lambda does not convert to the
// stdcall callback types of the 32-bit build.
BOOL CALLBACK collect_dialog(HWND window, LPARAM param) {
    auto* search = reinterpret_cast<DialogSearch*>(param);
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    wchar_t name[64] = {};
    GetClassNameW(window, name, 64);
    if (pid == search->processId && std::wstring(name) == L"#32770" && IsWindowVisible(window))
        search->found.push_back(window);
    return TRUE;
}

BOOL CALLBACK append_child_text(HWND child, LPARAM param) {
    wchar_t text[1024] = {};
    GetWindowTextW(child, text, 1024);
    *reinterpret_cast<std::wstring*>(param) += std::wstring(text) + L"\n";
    return TRUE;
}

}  // namespace

std::vector<HWND> visible_dialogs(DWORD process_id) {
    DialogSearch search{process_id, {}};
    EnumWindows(collect_dialog, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

std::wstring child_texts(HWND window) {
    std::wstring texts;
    EnumChildWindows(window, append_child_text, reinterpret_cast<LPARAM>(&texts));
    return texts;
}

std::string read_file(const std::wstring& path) {
    std::string bytes;
    HANDLE f = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                           OPEN_EXISTING, 0, nullptr);
    if (f == INVALID_HANDLE_VALUE) return bytes;
    char buffer[65536];
    DWORD got = 0;
    while (ReadFile(f, buffer, sizeof buffer, &got, nullptr) && got) bytes.append(buffer, got);
    CloseHandle(f);
    return bytes;
}

bool write_file(const std::wstring& path, const std::string& bytes) {
    HANDLE f = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (f == INVALID_HANDLE_VALUE) return false;
    DWORD written = 0;
    BOOL ok = WriteFile(f, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    CloseHandle(f);
    return ok && written == bytes.size();
}

bool file_exists(const std::wstring& path) {
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::map<std::wstring, std::string> folder_files(const std::wstring& folder) {
    std::map<std::wstring, std::string> files;
    WIN32_FIND_DATAW data;
    HANDLE find = FindFirstFileW((folder + L"*").c_str(), &data);
    if (find == INVALID_HANDLE_VALUE) return files;
    do {
        if (!(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
            files[data.cFileName] = read_file(folder + data.cFileName);
    } while (FindNextFileW(find, &data));
    FindClose(find);
    return files;
}

}  // namespace testing_support
