#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <string>
#include <vector>

#include "UpdaterConversation.h"
#include "fake_process.h"
#include "launch_state.h"
#include "test_host.h"
#include "text.h"

namespace {

using namespace std::chrono_literals;
using testing_support::quote;

// The policy's counts with short waits, so a failing updater costs little.
const IPC::UpdaterTiming kFast{10, 10, 50, 2000};

std::string N(const std::wstring& text) {
    return narrow(text);
}

std::string PidText() {
    return std::to_string(GetCurrentProcessId());
}

TEST(UpdaterConversation, WholeRun) {
    const std::wstring pipe = UniquePipeName(L"run");
    FakeUpdater fake(pipe, quote(L"/reason=Installing Product"));
    ASSERT_TRUE(fake.WaitUntilListening());
    RecordingHost host;
    IPC::UpdaterClient client(host, kFast);

    LaunchState launch;
    launch.updaterPath = L"C:\\Vendor\\Updater\\u.exe";
    launch.updaterProcessId = 4321;
    launch.sessionId = L"S-1-5-21";
    launch.productFolder = L"C:\\prod";
    launch.updaterPipeName = fake.FullName();
    launch.applicationIdOverride = L"app";
    ASSERT_TRUE(IPC::HandleConnectUpdater(client, launch));
    EXPECT_EQ(client.UpdaterProcessId(), 4321u);
    EXPECT_EQ(client.UpdaterSid(), L"S-1-5-21");
    EXPECT_EQ(client.ApplicationId(), L"app");
    EXPECT_EQ(client.UpdaterParentFolder(), L"C:\\Vendor\\");
    EXPECT_EQ(IPC::ShutdownBlockReason(), L"Installing Product");
    EXPECT_EQ(host.blockShutdownPosts, 1);
    EXPECT_TRUE(client.HasPipe());

    EXPECT_TRUE(client.UpdaterNotice(0x1002, L"C:\\cache\\version_info.xml", 0, 0, 5, 1, false));
    EXPECT_TRUE(client.UpdaterNotice(0x1006, L"", 100, 50, 5, 2, true));
    EXPECT_TRUE(client.UpdaterNotice(0x0001, L"", 1LL << 40, 3, 5, 2, false));
    EXPECT_EQ(host.relaunches, (std::vector<bool>{true, true}));

    client.SetMainPackage(true);
    client.ResetInstallerProgress();
    EXPECT_TRUE(client.ReportInstallerProgressText(IPC::kInstallMessageProgress, L"1: 0 2: 1000 3: 1 4: 0 "));
    EXPECT_TRUE(client.ReportInstallerProgressText(IPC::kInstallMessageProgress, L"1: 2 2: 50 "));
    EXPECT_TRUE(client.ReportInstallerProgressText(IPC::kInstallMessageActionStart, L"InstallFiles"));
    client.ReportError(L"Something failed", 1603);

    // A handle with the high bit set travels sign-extended.
    host.window = reinterpret_cast<HWND>(static_cast<std::intptr_t>(static_cast<std::int32_t>(0x80000010)));
    client.DisconnectFromUpdater();
    EXPECT_FALSE(client.HasPipe());
    EXPECT_TRUE(fake.WaitForExit());

    const std::string name = N(fake.FullName());
    const std::vector<std::string> expected = {
        "Connect pipe=" + name + " window=74565 pid=" + PidText(),
        "Notice kind=0x1002 text=C:\\cache\\version_info.xml total=0 done=0 steps=5 completed=1 "
        "prerequisite=0",
        "Notice kind=0x1006 text= total=100 done=50 steps=5 completed=2 prerequisite=1",
        "Notice kind=0x1 text= total=1099511627776 done=3 steps=5 completed=2 prerequisite=0",
        "InstallerProgress main=1 kind=0x16 text=Please wait... total=1000 position=1000 step=0",
        "InstallerProgress main=1 kind=0x4 text=1: 2\\02: 50\\0 total=1000 position=-50 step=0",
        "ErrorReport message=Something failed code=1603",
        "Disconnect pipe=" + name + " window=-2147483632",
    };
    EXPECT_EQ(fake.Log(), expected);
}

TEST(UpdaterConversation, RefusedConnect) {
    const std::wstring pipe = UniquePipeName(L"refuse");
    FakeUpdater fake(pipe, L"/refuse-connect");
    ASSERT_TRUE(fake.WaitUntilListening());
    RecordingHost host;
    IPC::UpdaterClient client(host, kFast);
    LaunchState launch;
    launch.updaterPath = L"C:\\upd\\u.exe";
    launch.updaterPipeName = fake.FullName();
    launch.productFolder = L"C:\\prod";
    try {
        IPC::HandleConnectUpdater(client, launch);
        ADD_FAILURE() << "refusal not reported";
    } catch (const windows_error& e) {
        EXPECT_EQ(e.message(), L"Failed to connect to the updater process.");
    }
    EXPECT_EQ(host.blockShutdownPosts, 0);
    // An answer, even a refusal, ends the attempts.
    EXPECT_EQ(fake.Log(), (std::vector<std::string>{"Connect pipe=" + N(fake.FullName()) +
                                                    " window=74565 pid=" + PidText()}));
}

TEST(UpdaterConversation, RefusedNoticeStopsTheRun) {
    const std::wstring pipe = UniquePipeName(L"notice");
    FakeUpdater fake(pipe, L"/refuse-notice=2 /relaunch=0");
    ASSERT_TRUE(fake.WaitUntilListening());
    RecordingHost host;
    IPC::UpdaterClient client(host, kFast);
    ASSERT_TRUE(client.ConnectToUpdater(L"C:\\u.exe", 1, L"", L"C:\\p", fake.FullName(), L""));
    EXPECT_TRUE(client.UpdaterNotice(0x1003, L"a.msi", 0, 0, 5, 3, false));
    EXPECT_EQ(host.relaunches, (std::vector<bool>{false}));
    // Refused: no second value is read even though bit 0 is set.
    EXPECT_FALSE(client.UpdaterNotice(0x1003, L"b.msi", 0, 0, 5, 3, false));
    EXPECT_EQ(host.refusals, 1);
    EXPECT_EQ(host.relaunches.size(), 1u);
    auto log = fake.Log();
    ASSERT_EQ(log.size(), 3u);
    EXPECT_EQ(log[2], "Notice kind=0x1003 text=b.msi total=0 done=0 steps=5 completed=3 prerequisite=0");
}

// The updater dropping the connection: once without answering, once right
// after an answer. Each time the next exchange reopens the pipe and the
// request reaches the updater.
TEST(UpdaterConversation, ReconnectsAfterTheUpdaterClosedItsPipe) {
    const std::wstring pipe = UniquePipeName(L"hangup");
    FakeUpdater fake(pipe, L"/hangup-at=2 /close-after=4");
    ASSERT_TRUE(fake.WaitUntilListening());
    RecordingHost host;
    IPC::UpdaterClient client(host, kFast);
    ASSERT_TRUE(client.ConnectToUpdater(L"C:\\u.exe", 1, L"", L"C:\\p", fake.FullName(), L""));
    EXPECT_TRUE(client.UpdaterNotice(0x1000, L"A", 0, 0, 5, 1, false));
    EXPECT_TRUE(client.UpdaterNotice(0x1000, L"B", 0, 0, 5, 1, false));
    EXPECT_TRUE(client.UpdaterNotice(0x1000, L"C", 0, 0, 5, 1, false));
    EXPECT_EQ(host.refusals, 0);
    auto log = fake.Log();
    ASSERT_EQ(log.size(), 5u);
    auto notice = [](const char* text) {
        return std::string("Notice kind=0x1000 text=") + text +
               " total=0 done=0 steps=5 completed=1 prerequisite=0";
    };
    EXPECT_EQ(log[1], notice("A"));
    EXPECT_EQ(log[2], notice("A"));
    EXPECT_EQ(log[3], notice("B"));
    EXPECT_EQ(log[4], notice("C"));
}

// An updater whose pipe is gone for a while: the client keeps trying to
// reopen it within its budget, and gives the request up beyond it.
TEST(UpdaterConversation, ReopenBudget) {
    const IPC::UpdaterTiming timing{3, 10, 50, 500};
    struct Case {
        const wchar_t* gap;
        std::size_t logged;  // requests that reached the updater
    } cases[] = {{L"300", 3}, {L"4000", 2}};
    for (const auto& c : cases) {
        SCOPED_TRACE(N(c.gap));
        const std::wstring pipe = UniquePipeName(L"gap");
        FakeUpdater fake(pipe, std::wstring(L"/close-after=2 /gap=") + c.gap);
        ASSERT_TRUE(fake.WaitUntilListening());
        RecordingHost host;
        IPC::UpdaterClient client(host, timing);
        ASSERT_TRUE(client.ConnectToUpdater(L"C:\\u.exe", 1, L"", L"C:\\p", fake.FullName(), L""));
        EXPECT_TRUE(client.UpdaterNotice(0x1000, L"first", 0, 0, 5, 1, false));
        // Sent into the gap: delivered late, or given up and counted as accepted.
        EXPECT_TRUE(client.UpdaterNotice(0x1000, L"second", 0, 0, 5, 1, false));
        EXPECT_EQ(host.refusals, 0);
        auto log = fake.Log();
        ASSERT_EQ(log.size(), c.logged);
        if (c.logged == 3) {
            EXPECT_NE(log[2].find("text=second"), std::string::npos);
        }
    }
}

TEST(UpdaterConversation, LargeMessagesAndSlowAnswers) {
    const std::wstring pipe = UniquePipeName(L"large");
    FakeUpdater fake(pipe, L"/reason-length=3000 /delay=200");
    ASSERT_TRUE(fake.WaitUntilListening());
    RecordingHost host;
    IPC::UpdaterClient client(host, kFast);
    ASSERT_TRUE(client.ConnectToUpdater(L"C:\\u.exe", 1, L"", L"C:\\p", fake.FullName(), L""));
    std::wstring reason = IPC::ShutdownBlockReason();
    ASSERT_EQ(reason.size(), 3000u);
    for (std::size_t i = 0; i < reason.size(); ++i) ASSERT_EQ(reason[i], wchar_t(L'a' + i % 26)) << i;

    std::wstring text;
    for (int i = 0; i < 2500; ++i) text += wchar_t(L'A' + i % 26);
    EXPECT_TRUE(client.UpdaterNotice(0x2000, text, 1, 1, 5, 4, false));
    auto log = fake.Log();
    ASSERT_EQ(log.size(), 2u);
    EXPECT_EQ(log[1],
              "Notice kind=0x2000 text=" + N(text) + " total=1 done=1 steps=5 completed=4 prerequisite=0");
}

TEST(UpdaterConversation, MalformedRepliesNeverCrashTheClient) {
    for (const wchar_t* how : {L"truncated", L"wrongtype", L"hugecount", L"empty"}) {
        SCOPED_TRACE(N(how));
        const std::wstring pipe = UniquePipeName(L"bad");
        FakeUpdater fake(pipe, std::wstring(L"/bad-reply=") + how);
        ASSERT_TRUE(fake.WaitUntilListening());
        RecordingHost host;
        IPC::UpdaterClient client(host, kFast);
        EXPECT_FALSE(client.ConnectToUpdater(L"C:\\u.exe", 1, L"", L"C:\\p", fake.FullName(), L""));
        EXPECT_EQ(host.blockShutdownPosts, 0);
        // Every one of the ten attempts reached the updater.
        EXPECT_EQ(fake.Log().size(), 10u);
    }

    // One bad answer costs one attempt; the notice of a kind with a second
    // value is sent again and then accepted.
    const std::wstring pipe = UniquePipeName(L"badonce");
    FakeUpdater fake(pipe, L"/bad-reply=truncated /bad-reply-at=2");
    ASSERT_TRUE(fake.WaitUntilListening());
    RecordingHost host;
    IPC::UpdaterClient client(host, kFast);
    ASSERT_TRUE(client.ConnectToUpdater(L"C:\\u.exe", 1, L"", L"C:\\p", fake.FullName(), L""));
    EXPECT_TRUE(client.UpdaterNotice(0x2001, L"dest", 0, 0, 5, 1, false));
    EXPECT_EQ(host.relaunches, (std::vector<bool>{true}));
    auto log = fake.Log();
    ASSERT_EQ(log.size(), 3u);
    EXPECT_EQ(log[1], log[2]);
}

TEST(UpdaterConversation, BusyPipeWaitsForAFreeInstance) {
    const std::wstring pipe = UniquePipeName(L"busy");
    FakeUpdater fake(pipe, L"/close-after=1");
    ASSERT_TRUE(fake.WaitUntilListening());
    IPC::Pipe first(fake.FullName(), true);
    // The fake serves one connection at a time: while `first` is connected
    // there is no free instance. It closes `first` after one answer.
    auto release = std::async(std::launch::async, [&] {
        Sleep(500);
        first.Write(
            IPC::OutputBuffer().WriteInt32(IPC::kRequestErrorReport).WriteString(L"first").WriteUInt32(1));
        return first.Read().ReadBool();
    });
    IPC::Pipe second(fake.FullName(), true);
    ASSERT_EQ(release.wait_for(10s), std::future_status::ready);
    EXPECT_TRUE(release.get());
    second.Write(
        IPC::OutputBuffer().WriteInt32(IPC::kRequestErrorReport).WriteString(L"second").WriteUInt32(2));
    EXPECT_TRUE(second.Read().ReadBool());
    EXPECT_EQ(fake.Log(), (std::vector<std::string>{"ErrorReport message=first code=1",
                                                    "ErrorReport message=second code=2"}));
}

// The updater starts the client in updater mode, as it starts the downloader.
TEST(UpdaterConversation, UpdaterLaunchesTheClient) {
    struct Case {
        const wchar_t* script;
        std::vector<std::string> afterConnect;
    };
    const std::string notice1 =
        "Notice kind=0x1002 text=C:\\qrprod\\version_info.xml total=0 done=0 steps=5 completed=1 "
        "prerequisite=0";
    const std::string notice2 =
        "Notice kind=0x1003 text=C:\\qrprod\\setup.exe total=0 done=0 steps=5 completed=4 prerequisite=1";
    const Case cases[] = {
        {L"", {notice1, notice2, "Disconnect", "Exited code=0"}},
        {L"/refuse-notice=2",
         {notice1, notice2, "ErrorReport message= code=1602", "Disconnect", "Exited code=11"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(N(c.script));
        const std::wstring pipe = UniquePipeName(L"launch");
        FakeUpdater fake(pipe, quote(L"/launch=" + testing_support::bin_dir() + L"updaterclient.exe") +
                                   L" /productdir=C:\\qrprod " + c.script);
        ASSERT_TRUE(fake.WaitForExit(30000));
        auto log = fake.Log();
        ASSERT_EQ(log.size(), c.afterConnect.size() + 2);
        ASSERT_EQ(log[0].rfind("Launched pid=", 0), 0u) << log[0];
        const std::string pid = log[0].substr(13);
        EXPECT_EQ(log[1], "Connect pipe=" + N(fake.FullName()) + " window=0 pid=" + pid);
        for (std::size_t i = 0; i < c.afterConnect.size(); ++i) {
            const std::string& expected = c.afterConnect[i];
            if (expected == "Disconnect")
                EXPECT_EQ(log[i + 2], "Disconnect pipe=" + N(fake.FullName()) + " window=0");
            else
                EXPECT_EQ(log[i + 2], expected);
        }
    }
}

}  // namespace
