// Updater mode end to end: the session the windows and the engine share,
// the link the windows use, and the built downloader talking to the fake
// updater in another process.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "UpdaterSession.h"
#include "fake_process.h"
#include "launch_state.h"
#include "progress_window.h"
#include "test_host.h"
#include "text.h"
#include "updater_link_ipc.h"
#include "window_messages.h"

using testing_support::bin_dir;
using testing_support::quote;
using testing_support::TempDir;

namespace {

// The policy's counts with short waits, so a failing updater costs little.
const IPC::UpdaterTiming kFast{10, 10, 50, 2000};

std::string N(const std::wstring& text) {
    return narrow(text);
}

bool starts_with(const std::string& text, const std::string& prefix) {
    return text.rfind(prefix, 0) == 0;
}

// Updater mode in the launch state, with a message-only window standing in
// for the progress window so that posted messages can be inspected.
class SessionTest : public testing::Test {
protected:
    void SetUp() override {
        window = CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
        ASSERT_NE(window, nullptr);
        LaunchState& state = launch_state();
        state.updaterMode = true;
        state.progressWindow = window;
        ui_state() = UiState{};
    }
    void TearDown() override {
        LaunchState& state = launch_state();
        state.updaterMode = false;
        state.progressWindow = nullptr;
        ui_state() = UiState{};
        DestroyWindow(window);
    }

    // Removes the pending block-shutdown posts of the window; their count.
    int take_block_shutdown_posts() {
        int count = 0;
        MSG message;
        while (PeekMessageW(&message, window, WM_DL_BLOCK_SHUTDOWN, WM_DL_BLOCK_SHUTDOWN, PM_REMOVE)) {
            EXPECT_EQ(message.wParam, 0u);
            EXPECT_EQ(message.lParam, 0);
            ++count;
        }
        return count;
    }

    UpdaterConnectRequest request_for(const FakeUpdater& fake) const {
        UpdaterConnectRequest request;
        request.updaterPath = L"C:\\Vendor\\Updater\\u.exe";
        request.updaterProcessId = 4321;
        request.sessionId = L"S-1-5-21";
        request.productFolder = L"C:\\qrproduct";
        request.pipeName = fake.FullName();
        request.applicationIdOverride = L"app";
        return request;
    }

    std::string connect_line(const FakeUpdater& fake) const {
        return "Connect pipe=" + N(fake.FullName()) +
               " window=" + std::to_string(reinterpret_cast<std::intptr_t>(window)) +
               " pid=" + std::to_string(GetCurrentProcessId());
    }

    HWND window = nullptr;
};

// What the link's connect leaves for the window: the reason and one
// WM_DL_BLOCK_SHUTDOWN when accepted; nothing but false when refused. A
// failure reported afterwards reaches the updater either way, since the
// pipe stays open after a refusal.
TEST_F(SessionTest, LinkConnectHandsTheReasonToTheWindow) {
    struct Case {
        const wchar_t* script;
        bool accepted;
        std::wstring reason;
    };
    std::wstring longReason;
    for (int i = 0; i < 1500; ++i) longReason += wchar_t(L'a' + i % 26);
    const Case cases[] = {
        {L"/reason=Installing", true, L"Installing"},
        {L"/reason-length=1500", true, longReason},
        {L"/refuse-connect", false, L""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(N(c.script));
        ui_state() = UiState{};
        FakeUpdater fake(UniquePipeName(L"link"), c.script);
        ASSERT_TRUE(fake.WaitUntilListening());
        IPC::UpdaterSession session(kFast);
        SessionUpdaterLink link(session.Client());

        EXPECT_EQ(link.Connect(request_for(fake)), c.accepted);
        EXPECT_EQ(ui_state().shutdownBlockReason, c.reason);
        EXPECT_EQ(take_block_shutdown_posts(), c.accepted ? 1 : 0);
        EXPECT_EQ(session.Client().UpdaterProcessId(), 4321u);
        EXPECT_EQ(session.Client().ApplicationId(), L"app");

        link.SendFailure(L"Disk full", 112);
        session.Client().DisconnectFromUpdater();
        EXPECT_TRUE(fake.WaitForExit());
        EXPECT_EQ(fake.Log(),
                  (std::vector<std::string>{connect_line(fake), "ErrorReport message=Disk full code=112",
                                            "Disconnect pipe=" + N(fake.FullName()) + " window=" +
                                                std::to_string(reinterpret_cast<std::intptr_t>(window))}));
    }
}

// Outside updater mode the link sends nothing and reports refusal.
TEST_F(SessionTest, LinkIsSilentOutsideUpdaterMode) {
    FakeUpdater fake(UniquePipeName(L"quiet"), L"/reason=x");
    ASSERT_TRUE(fake.WaitUntilListening());
    launch_state().updaterMode = false;
    IPC::UpdaterSession session(kFast);
    SessionUpdaterLink link(session.Client());
    EXPECT_FALSE(link.Connect(request_for(fake)));
    link.SendFailure(L"ignored", 1);
    EXPECT_FALSE(session.Client().HasPipe());
    EXPECT_EQ(take_block_shutdown_posts(), 0);
    EXPECT_TRUE(fake.Log().empty());
}

// The updater's answers to notices reach the engine's hooks; the session
// keeps the last relaunch answer and the refusal also without hooks.
TEST_F(SessionTest, NoticeAnswersReachTheEngineHooks) {
    FakeUpdater fake(UniquePipeName(L"hooks"), L"/reason=r /relaunch=0 /refuse-notice=4");
    ASSERT_TRUE(fake.WaitUntilListening());
    IPC::UpdaterSession session(kFast);
    IPC::UpdaterClient& client = session.Client();
    ASSERT_TRUE(client.ConnectToUpdater(L"C:\\u.exe", 0, L"", L"C:\\p", fake.FullName(), L""));

    // No hooks yet: the answer is kept all the same.
    EXPECT_TRUE(client.UpdaterNotice(0x2001, L"C:\\p\\a.msi", 0, 0, 5, 1, false));
    EXPECT_EQ(session.RelaunchAnswer(), std::optional<bool>(false));

    std::vector<bool> relaunches;
    int refusals = 0;
    session.SetEngineHooks({[&] { ++refusals; }, [&](bool relaunch) { relaunches.push_back(relaunch); }});
    // A kind without the relaunch value, then one with it.
    EXPECT_TRUE(client.UpdaterNotice(0x1002, L"C:\\p\\version_info.xml", 0, 0, 5, 2, false));
    EXPECT_TRUE(client.UpdaterNotice(0x1003, L"C:\\p\\a.msi", 0, 0, 5, 3, false));
    EXPECT_EQ(relaunches, (std::vector<bool>{false}));
    EXPECT_EQ(refusals, 0);
    EXPECT_FALSE(session.NoticeWasRefused());

    EXPECT_FALSE(client.UpdaterNotice(0x2003, L"C:\\p\\a.msi", 0, 0, 5, 4, false));
    EXPECT_EQ(refusals, 1);
    EXPECT_TRUE(session.NoticeWasRefused());
    EXPECT_EQ(relaunches.size(), 1u);

    // Dropped hooks are not called again.
    session.SetEngineHooks({});
    EXPECT_TRUE(client.UpdaterNotice(0x1003, L"C:\\p\\b.msi", 0, 0, 5, 4, false));
    EXPECT_EQ(relaunches.size(), 1u);
    client.DisconnectFromUpdater();
    EXPECT_TRUE(fake.WaitForExit());
    EXPECT_EQ(fake.Log().size(), 7u);
}

// ---- The built downloader in updater mode ----

struct DownloaderRun {
    bool started = false;
    bool timedOut = false;
    DWORD processId = 0;
    DWORD exitCode = 0;
    std::wstring boxText;  // the texts of the boxes it showed, answered with OK
};

// Runs the downloader and answers its failure boxes, so that none can hold
// the run up.
DownloaderRun run_downloader(const std::wstring& exe, const std::wstring& arguments) {
    DownloaderRun run;
    std::wstring command = quote(exe) + L" " + arguments;
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (!CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                        &process))
        return run;
    CloseHandle(process.hThread);
    run.started = true;
    run.processId = process.dwProcessId;
    const DWORD start = GetTickCount();
    std::vector<HWND> answered;
    while (WaitForSingleObject(process.hProcess, 100) != WAIT_OBJECT_0) {
        for (HWND dialog : testing_support::visible_dialogs(process.dwProcessId)) {
            bool seen = false;
            for (HWND old : answered) seen = seen || old == dialog;
            if (seen) continue;
            Sleep(300);  // let the box fill its controls
            run.boxText += testing_support::child_texts(dialog);
            PostMessageW(dialog, WM_COMMAND, IDOK, 0);
            answered.push_back(dialog);
        }
        if (GetTickCount() - start > 90000) {
            run.timedOut = true;
            TerminateProcess(process.hProcess, 0xDEAD);
            WaitForSingleObject(process.hProcess, 5000);
            break;
        }
    }
    GetExitCodeProcess(process.hProcess, &run.exitCode);
    CloseHandle(process.hProcess);
    return run;
}

// A downloader copy of its own name (no other test's copy counts as a
// running instance) whose installation source is a missing local folder,
// so that any run ends quickly.
class UpdaterModeExe : public testing::Test {
protected:
    static void SetUpTestSuite() {
        folder = new TempDir(L"qrupdmode");
        exe = *folder / L"qrupdatermode.exe";
        const std::wstring settingsFile = *folder / L"settings.txt";
        ASSERT_TRUE(testing_support::write_file(
            settingsFile, "installationUrl=" + N(*folder / L"missing\\") + "\nvisible=false\n"));
        auto stamp = testing_support::run_process(quote(bin_dir() + L"qrstamp.exe") + L" " +
                                                  quote(bin_dir() + L"QuillrunDownloader.exe") + L" " +
                                                  quote(exe) + L" --settings " + quote(settingsFile));
        ASSERT_EQ(stamp.exit_code, 0u) << stamp.output;
    }
    static void TearDownTestSuite() {
        delete folder;
        folder = nullptr;
    }

    // The switches an updater passes; the fake's own path as the updater.
    static std::wstring updater_arguments(const std::wstring& pipeName) {
        return L"/updaterpath=" + bin_dir() + L"fakeupdater.exe /pipename=" + pipeName +
               L" /productdir=C:\\qrproduct";
    }

    // "Connect ..." with the downloader's pid and a real window handle.
    static void expect_connect(const std::string& line, const FakeUpdater& fake, DWORD pid) {
        const std::string head = "Connect pipe=" + N(fake.FullName()) + " window=";
        ASSERT_TRUE(starts_with(line, head)) << line;
        const std::string tail = " pid=" + std::to_string(pid);
        ASSERT_GT(line.size(), head.size() + tail.size()) << line;
        EXPECT_EQ(line.substr(line.size() - tail.size()), tail) << line;
        const std::string window = line.substr(head.size(), line.size() - head.size() - tail.size());
        EXPECT_NE(window, "0") << "the progress window exists before the connect";
    }

    static TempDir* folder;
    static std::wstring exe;
};

TempDir* UpdaterModeExe::folder = nullptr;
std::wstring UpdaterModeExe::exe;

// Accepted: the downloader connects with its window and pid, then the run's
// reports follow (notices while it works, the failure that ends it); every
// failure it reports is the one its box shows.
TEST_F(UpdaterModeExe, AcceptedConnectThenTheRunReports) {
    FakeUpdater fake(UniquePipeName(L"exeok"), L"/reason=Installing");
    ASSERT_TRUE(fake.WaitUntilListening());
    DownloaderRun run = run_downloader(exe, updater_arguments(fake.FullName().substr(9)));
    ASSERT_TRUE(run.started);
    EXPECT_FALSE(run.timedOut);
    EXPECT_EQ(run.exitCode, 0u);

    const std::vector<std::string> log = fake.Log();
    ASSERT_GE(log.size(), 2u) << "a connect and at least one report";
    expect_connect(log[0], fake, run.processId);
    bool disconnected = false;
    int reports = 0;
    for (std::size_t i = 1; i < log.size(); ++i) {
        const std::string& line = log[i];
        SCOPED_TRACE(line);
        EXPECT_FALSE(disconnected) << "nothing after the disconnect";
        if (starts_with(line, "Disconnect ")) {
            disconnected = true;
        } else if (starts_with(line, "ErrorReport message=")) {
            ++reports;
            const std::string message = line.substr(20, line.rfind(" code=") - 20);
            if (!message.empty()) {
                EXPECT_NE(N(run.boxText).find(message), std::string::npos) << N(run.boxText);
            }
        } else if (starts_with(line, "Notice ") || starts_with(line, "InstallerProgress ")) {
            ++reports;
        } else {
            ADD_FAILURE() << "unexpected request";
        }
    }
    EXPECT_GE(reports, 1);
}

// Refused: the run never starts; the failure is shown, reported to the
// updater over the still open pipe, and the exit code stays 0.
TEST_F(UpdaterModeExe, RefusedConnectReportsTheFailureAndEnds) {
    FakeUpdater fake(UniquePipeName(L"exeno"), L"/refuse-connect");
    ASSERT_TRUE(fake.WaitUntilListening());
    DownloaderRun run = run_downloader(exe, updater_arguments(fake.FullName().substr(9)));
    ASSERT_TRUE(run.started);
    EXPECT_FALSE(run.timedOut);
    EXPECT_EQ(run.exitCode, 0u);
    EXPECT_NE(run.boxText.find(L"Failed to connect to the updater process."), std::wstring::npos)
        << N(run.boxText);

    const std::vector<std::string> log = fake.Log();
    ASSERT_GE(log.size(), 2u);
    expect_connect(log[0], fake, run.processId);
    EXPECT_TRUE(starts_with(log[1], "ErrorReport message=Failed to connect to the updater process. code="))
        << log[1];
    // The exit clean-up may still say goodbye; no run report comes.
    for (std::size_t i = 2; i < log.size(); ++i) EXPECT_TRUE(starts_with(log[i], "Disconnect ")) << log[i];
}

// A copy that installs from the bundled sample deployment in the source
// tree (a local folder), so that a run goes through every notice up to the
// installation step.
class UpdaterModeSampleRun : public UpdaterModeExe {
protected:
    static void SetUpTestSuite() {
        folder = new TempDir(L"qrupdsample");
        sampleExe = *folder / L"qrupdatersample.exe";
        const std::wstring settingsFile = *folder / L"settings.txt";
        ASSERT_TRUE(testing_support::write_file(
            settingsFile, "installationUrl=" + N(testing_support::source_dir() + L"samples\\deployment\\") +
                              "\nlanguage=1033\nversion=1.0.0\nvisible=false\n"));
        auto stamp = testing_support::run_process(quote(bin_dir() + L"qrstamp.exe") + L" " +
                                                  quote(bin_dir() + L"QuillrunDownloader.exe") + L" " +
                                                  quote(sampleExe) + L" --settings " + quote(settingsFile));
        ASSERT_EQ(stamp.exit_code, 0u) << stamp.output;
    }
    static void TearDownTestSuite() {
        delete folder;
        folder = nullptr;
    }

    // The kinds of the notices in a log, in order ("Notice kind=<hex>").
    static std::vector<std::string> notice_kinds(const std::vector<std::string>& log) {
        std::vector<std::string> kinds;
        for (const std::string& line : log)
            if (starts_with(line, "Notice kind=")) kinds.push_back(line.substr(0, line.find(' ', 12)));
        return kinds;
    }

    // Runs the sample copy against a fake updater with the given script.
    static std::vector<std::string> run_with(const std::wstring& name, const std::wstring& script,
                                             DownloaderRun& run) {
        FakeUpdater fake(UniquePipeName(name.c_str()), script);
        EXPECT_TRUE(fake.WaitUntilListening());
        run = run_downloader(sampleExe, updater_arguments(fake.FullName().substr(9)));
        EXPECT_TRUE(run.started);
        EXPECT_FALSE(run.timedOut);
        EXPECT_EQ(run.exitCode, 0u);
        return fake.Log();
    }

    static std::wstring sampleExe;
};

std::wstring UpdaterModeSampleRun::sampleExe;

// An undisturbed run reports its steps; an updater that refuses the second
// notice stops the run there; an updater that drops the pipe after its
// second answer gets the rest of the run over a new connection.
TEST_F(UpdaterModeSampleRun, RefusedNoticeStopsAndDroppedPipeReconnects) {
    DownloaderRun run;
    const std::vector<std::string> baseline = notice_kinds(run_with(L"sampleok", L"", run));
    ASSERT_GE(baseline.size(), 4u) << "the sample run reports several steps";

    const std::vector<std::string> refusedLog = run_with(L"samplerefuse", L"/refuse-notice=2", run);
    const std::vector<std::string> refused = notice_kinds(refusedLog);
    ASSERT_EQ(refused.size(), 2u) << "no notice after the refused one";
    EXPECT_EQ(refused[0], baseline[0]);
    EXPECT_EQ(refused[1], baseline[1]);
    EXPECT_EQ(run.boxText.find(L"Installing the package"), std::wstring::npos)
        << "the refused run must not reach the installation step: " << N(run.boxText);

    const std::vector<std::string> droppedLog = run_with(L"sampledrop", L"/close-after=2", run);
    EXPECT_EQ(notice_kinds(droppedLog), baseline) << "every step still reaches the updater";
}

}  // namespace
