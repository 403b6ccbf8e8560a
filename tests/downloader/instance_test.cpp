// The built downloader: single instance, stale atoms, and the re-launch of a
// process that is not elevated.
#include <gtest/gtest.h>

#include <string>

#include "test_support.h"

using namespace testing_support;

namespace {

const wchar_t kClassName[] = L"QUILLRUNDOWNLOADER";
const wchar_t kExeName[] = L"QuillrunDownloader.exe";
const wchar_t kCaption[] = L"Sample Product";  // productName of the shipped table

struct ProcessWindows {
    DWORD pid;
    HWND main = nullptr, progress = nullptr, box = nullptr;
};

BOOL CALLBACK find_process_windows(HWND window, LPARAM context) {
    auto* found = reinterpret_cast<ProcessWindows*>(context);
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    if (pid != found->pid) return TRUE;
    wchar_t className[64] = {}, caption[128] = {};
    GetClassNameW(window, className, 64);
    GetWindowTextW(window, caption, 128);
    if (lstrcmpiW(className, kClassName) == 0)
        found->main = window;
    else if (lstrcmpW(className, L"#32770") == 0 && lstrcmpW(caption, kCaption) == 0)
        found->box = window;
    else if (lstrcmpW(className, L"#32770") == 0)
        found->progress = window;
    return TRUE;
}

struct DownloaderRun {
    bool started = false, exited = false, sawWindow = false;
    DWORD exitCode = 0;
};

bool start_downloader(const std::wstring& arguments, PROCESS_INFORMATION& process) {
    std::wstring line = quote(bin_dir() + kExeName) + L" " + arguments;
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    return CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, bin_dir().c_str(),
                          &startup, &process) != FALSE;
}

HWND wait_for_main_window(DWORD pid, DWORD timeoutMs) {
    for (DWORD start = GetTickCount(); GetTickCount() - start < timeoutMs; Sleep(50)) {
        ProcessWindows found{pid};
        EnumWindows(find_process_windows, reinterpret_cast<LPARAM>(&found));
        if (found.main) return found.main;
    }
    return nullptr;
}

// Watches a started downloader and, once its windows are up, closes it the
// way a user would: OK on a failure box, else the progress window's close.
// Ends the process by force only after the time-out.
DownloaderRun watch_and_close(PROCESS_INFORMATION& process, DWORD timeoutMs) {
    DownloaderRun run;
    run.started = true;
    const DWORD start = GetTickCount();
    DWORD seenAt = 0;
    while (GetTickCount() - start < timeoutMs) {
        if (WaitForSingleObject(process.hProcess, 50) == WAIT_OBJECT_0) {
            run.exited = true;
            break;
        }
        ProcessWindows found{process.dwProcessId};
        EnumWindows(find_process_windows, reinterpret_cast<LPARAM>(&found));
        if (found.main && !run.sawWindow) {
            run.sawWindow = true;
            seenAt = GetTickCount();
        }
        if (found.box)
            PostMessageW(found.box, WM_COMMAND, IDOK, 0);
        else if (found.progress && run.sawWindow && GetTickCount() - seenAt > 300)
            PostMessageW(found.progress, WM_CLOSE, 0, 0);
    }
    if (!run.exited) {
        TerminateProcess(process.hProcess, 0xDEAD);
        WaitForSingleObject(process.hProcess, 5000);
    }
    GetExitCodeProcess(process.hProcess, &run.exitCode);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return run;
}

DownloaderRun run_and_close(const std::wstring& arguments, DWORD timeoutMs = 30000) {
    PROCESS_INFORMATION process = {};
    if (!start_downloader(arguments, process)) return {};
    return watch_and_close(process, timeoutMs);
}

LRESULT CALLBACK plain_proc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    return DefWindowProcW(window, message, wParam, lParam);
}

TEST(SingleInstance, SecondCopyEndsSilentlyWhileTheFirstHasItsWindow) {
    // Stand in for a running first copy: its atom and a window of its class.
    WNDCLASSW windowClass = {};
    windowClass.lpfnWndProc = plain_proc;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.lpszClassName = kClassName;
    ASSERT_TRUE(RegisterClassW(&windowClass));
    HWND first = CreateWindowExW(0, kClassName, L"first", WS_OVERLAPPEDWINDOW, 0, 0, 100, 100, nullptr,
                                 nullptr, GetModuleHandleW(nullptr), nullptr);
    ASSERT_NE(first, nullptr);
    ATOM atom = GlobalAddAtomW(kExeName);
    ASSERT_NE(atom, 0);

    // A second copy that did not stop would show its own windows; the run
    // closes those and would still end, so count them.
    DownloaderRun run = run_and_close(L"", 20000);
    EXPECT_TRUE(run.exited);
    EXPECT_EQ(run.exitCode, 0u);
    EXPECT_FALSE(run.sawWindow);
    EXPECT_EQ(GlobalFindAtomW(kExeName), atom) << "the first copy's atom is not the second's to remove";

    GlobalDeleteAtom(atom);
    DestroyWindow(first);
    UnregisterClassW(kClassName, GetModuleHandleW(nullptr));
}

TEST(SingleInstance, TwoRealCopies) {
    ASSERT_EQ(GlobalFindAtomW(kExeName), 0) << "left over by an earlier run";
    PROCESS_INFORMATION first = {};
    ASSERT_TRUE(start_downloader(L"", first));
    ASSERT_NE(wait_for_main_window(first.dwProcessId, 20000), nullptr);
    // Its atom follows its windows; give it the moment in between.
    for (int i = 0; i < 100 && !GlobalFindAtomW(kExeName); ++i) Sleep(20);
    EXPECT_NE(GlobalFindAtomW(kExeName), 0);

    DownloaderRun second = run_and_close(L"", 20000);
    EXPECT_TRUE(second.exited);
    EXPECT_EQ(second.exitCode, 0u);
    EXPECT_FALSE(second.sawWindow);

    DownloaderRun firstRun = watch_and_close(first, 30000);
    EXPECT_TRUE(firstRun.exited);
    EXPECT_EQ(firstRun.exitCode, 0u);
    EXPECT_EQ(GlobalFindAtomW(kExeName), 0) << "the first copy removes its atom at the end";
    while (GlobalFindAtomW(kExeName)) GlobalDeleteAtom(GlobalFindAtomW(kExeName));
}

TEST(SingleInstance, StaleAtomIsRemovedAndTheRunGoesOn) {
    ASSERT_EQ(GlobalFindAtomW(kExeName), 0) << "left over by an earlier run";
    ATOM stale = GlobalAddAtomW(kExeName);
    ASSERT_NE(stale, 0);
    DownloaderRun run = run_and_close(L"");
    EXPECT_TRUE(run.exited);
    EXPECT_EQ(run.exitCode, 0u);
    EXPECT_TRUE(run.sawWindow);
    // Had the stale atom stayed, the run's own atom would only have added a
    // reference, and one delete at the end would leave it behind.
    EXPECT_EQ(GlobalFindAtomW(kExeName), 0);
    while (GlobalFindAtomW(kExeName)) GlobalDeleteAtom(GlobalFindAtomW(kExeName));
}

// A downloader that is not elevated starts itself again through "runas" with
// its unchanged arguments in its own folder. The command line names the
// recorder as the executable, so the re-launch lands there and the record
// shows what was started and where.
TEST(ElevatedRelaunch, NotElevatedRunRelaunchesWithItsArguments) {
    TempDir temp(L"qrelevate");
    const std::wstring recorder = temp / L"limspawn.exe";
    ASSERT_TRUE(CopyFileW((bin_dir() + L"limspawn.exe").c_str(), recorder.c_str(), FALSE));
    const std::wstring record = temp / L"record.txt";
    SetEnvironmentVariableW(L"QR_LIMSPAWN_RECORD", record.c_str());
    const std::wstring arguments = L"/visible=false /appid=\"my app\"";
    const std::wstring downloaderLine = quote(recorder) + L" " + arguments;
    ProcessResult result = run_process(quote(bin_dir() + L"limspawn.exe") + L" --spawn " +
                                           quote(bin_dir() + kExeName) + L" " + quote(downloaderLine),
                                       30000, L"", true);
    SetEnvironmentVariableW(L"QR_LIMSPAWN_RECORD", nullptr);
    ASSERT_TRUE(result.started);
    EXPECT_FALSE(result.timed_out);
    EXPECT_EQ(result.exit_code, 0u) << "the downloader's own exit code";
    for (int i = 0; i < 100 && !file_exists(record); ++i) Sleep(50);
    std::string seen = read_file(record);
    ASSERT_FALSE(seen.empty()) << "nothing was re-launched";
    EXPECT_NE(seen.find("limspawn.exe"), std::string::npos) << seen;
    EXPECT_NE(seen.find(" /visible=false /appid=\"my app\""), std::string::npos) << seen;
    std::string folder(temp.path().begin(), temp.path().end() - 1);
    EXPECT_NE(seen.find("cwd=" + folder + "\n"), std::string::npos) << seen;
}

}  // namespace
