// Runs the built downloader and records every window its process creates.
//
// The child starts suspended; a CBT hook from a test DLL is set on its main
// thread before it runs a single instruction. The hook runs inside each
// window-creating call of the child and logs the window there, so a window
// cannot slip by however briefly it lives.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "test_support.h"
#include "text.h"

using namespace testing_support;

namespace {

struct WatchedRun {
    bool started = false;
    bool hooked = false;
    bool timedOut = false;
    DWORD exitCode = 0;
    std::string windowLog;    // one line per window: "top <class>" or "sub <class>"
    std::wstring dialogText;  // control texts of the dialogs that were answered
};

// Starts `exe` suspended with the window hook on its main thread, lets it
// run and answers any dialog it shows with OK, so that a failure box cannot
// block the run.
WatchedRun run_watched(const std::wstring& exe, const std::wstring& arguments, DWORD timeoutMs = 30000) {
    WatchedRun run;
    TempDir dir(L"qrwatch");
    std::wstring log = dir / L"windows.log";
    HMODULE hookDll = LoadLibraryW((bin_dir() + L"qr_window_log_hook.dll").c_str());
    auto hookProc =
        hookDll
            ? reinterpret_cast<HOOKPROC>(reinterpret_cast<void*>(GetProcAddress(hookDll, "QrWindowLogHook")))
            : nullptr;
    if (hookProc == nullptr) return run;

    SetEnvironmentVariableW(L"QR_WINDOW_LOG", log.c_str());
    std::wstring cmd = quote(exe) + L" " + arguments;
    STARTUPINFOW si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    BOOL created = CreateProcessW(nullptr, cmd.data(), nullptr, nullptr, FALSE, CREATE_SUSPENDED, nullptr,
                                  nullptr, &si, &pi);
    SetEnvironmentVariableW(L"QR_WINDOW_LOG", nullptr);
    if (!created) {
        FreeLibrary(hookDll);
        return run;
    }
    run.started = true;
    HHOOK hook = SetWindowsHookExW(WH_CBT, hookProc, hookDll, pi.dwThreadId);
    run.hooked = hook != nullptr;
    if (!run.hooked) {
        TerminateProcess(pi.hProcess, 0xDEAD);
    } else {
        ResumeThread(pi.hThread);
    }

    DWORD start = GetTickCount();
    std::vector<std::pair<HWND, DWORD>> seen;  // dialog, first seen at
    for (;;) {
        if (WaitForSingleObject(pi.hProcess, 50) == WAIT_OBJECT_0) break;
        DWORD now = GetTickCount();
        for (HWND dialog : visible_dialogs(pi.dwProcessId)) {
            auto it = std::find_if(seen.begin(), seen.end(), [&](auto& s) { return s.first == dialog; });
            if (it == seen.end()) {
                seen.push_back({dialog, now});
            } else if (now - it->second > 300) {  // let it fill its controls first
                run.dialogText += child_texts(dialog);
                PostMessageW(dialog, WM_COMMAND, IDOK, 0);
                it->second = now + 5000;  // answer again only if OK was ignored
            }
        }
        if (now - start > timeoutMs) {
            run.timedOut = true;
            TerminateProcess(pi.hProcess, 0xDEAD);
            WaitForSingleObject(pi.hProcess, 5000);
            break;
        }
    }
    if (hook) UnhookWindowsHookEx(hook);
    FreeLibrary(hookDll);
    GetExitCodeProcess(pi.hProcess, &run.exitCode);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    run.windowLog = read_file(log);
    return run;
}

std::wstring downloader() {
    return bin_dir() + L"QuillrunDownloader.exe";
}

// The lines of the window log that name a window the user could see.
std::string top_level_windows(const WatchedRun& run) {
    std::string lines;
    size_t at = 0;
    while ((at = run.windowLog.find("top ", at)) != std::string::npos) {
        size_t end = run.windowLog.find('\n', at);
        lines += run.windowLog.substr(at, end - at) + ";";
        at = end;
    }
    return lines;
}

// Help and the diagnostic pair end the run before any window exists,
// whatever else the command line holds.
TEST(DownloaderExe, EarlyExitsShowNothingAndReturnZero) {
    const wchar_t* const cases[] = {
        L"/?",
        L"/h",
        L"/HELP",
        L"/silentmode=true /? /visible=true",
        L"/appid=x /pipename=p /productdir=C:\\p /updaterpath=C:\\u.exe /help",
        L"/debugdirectory=C:\\x /debugversion=1.0",
        L"/DebugVersion=2 /debugdirectory=d /silentmode=true",
    };
    for (const wchar_t* arguments : cases) {
        SCOPED_TRACE(testing::Message() << "arguments: " << narrow(arguments));
        WatchedRun run = run_watched(downloader(), arguments);
        ASSERT_TRUE(run.started);
        ASSERT_TRUE(run.hooked);
        EXPECT_FALSE(run.timedOut);
        EXPECT_EQ(run.exitCode, 0u);
        EXPECT_EQ(top_level_windows(run), "") << run.windowLog;
    }
}

// A copy of the downloader whose version block has one key renamed (same
// length, so the block stays well formed), as if the key were missing.
bool copy_with_version_key_renamed(const std::wstring& copy, const std::wstring& key,
                                   const std::wstring& renamed) {
    if (!CopyFileW(downloader().c_str(), copy.c_str(), FALSE)) return false;
    HMODULE module = LoadLibraryExW(downloader().c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    if (module == nullptr) return false;
    std::string block;
    if (HRSRC found = FindResourceW(module, MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(16) /* RT_VERSION */)) {
        const char* data = static_cast<const char*>(LockResource(LoadResource(module, found)));
        if (data) block.assign(data, SizeofResource(module, found));
    }
    FreeLibrary(module);
    std::string from(reinterpret_cast<const char*>(key.c_str()), key.size() * sizeof(wchar_t));
    std::string to(reinterpret_cast<const char*>(renamed.c_str()), renamed.size() * sizeof(wchar_t));
    size_t at = block.find(from);
    if (at == std::string::npos || from.size() != to.size()) return false;
    block.replace(at, to.size(), to);
    HANDLE update = BeginUpdateResourceW(copy.c_str(), FALSE);
    if (update == nullptr) return false;
    bool ok = UpdateResourceW(update, MAKEINTRESOURCEW(16), MAKEINTRESOURCEW(1),
                              MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US), block.data(),
                              static_cast<DWORD>(block.size()));
    return EndUpdateResourceW(update, !ok) && ok;
}

// A damaged version block stops the start-up with its failure box (answered
// by the watch) and the exit code is still 0. This also shows that the watch
// sees the downloader's windows at all.
TEST(DownloaderExe, DamagedVersionBlockShowsFailureAndReturnsZero) {
    struct Case {
        const wchar_t* key;
        const wchar_t* renamed;
        const wchar_t* message;
    };
    const Case cases[] = {
        {L"Translation", L"Translatiox", L"Failed to open 'FileVersionInfo' of the downloader."},
        {L"OriginalFilename", L"OriginalFilenamX", L"Failed to read 'OriginalFilename' of the downloader."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(narrow(c.key));
        TempDir dir(L"qrentry");
        std::wstring copy = dir / L"QuillrunDownloader.exe";
        ASSERT_TRUE(copy_with_version_key_renamed(copy, c.key, c.renamed));

        WatchedRun run = run_watched(copy, L"/silentmode=true");
        ASSERT_TRUE(run.started);
        ASSERT_TRUE(run.hooked);
        EXPECT_FALSE(run.timedOut);
        EXPECT_EQ(run.exitCode, 0u);
        EXPECT_NE(top_level_windows(run).find("top #32770;"), std::string::npos) << run.windowLog;
        EXPECT_NE(run.dialogText.find(c.message), std::wstring::npos) << narrow(run.dialogText);
    }
}

}  // namespace
