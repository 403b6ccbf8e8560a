#include <gtest/gtest.h>

#include <string>

#include "PipeListener.h"
#include "test_support.h"
#include "text.h"

namespace {

using testing_support::quote;

// Runs the fake setup against the downloader pipe and returns what it wrote.
// It inherits no handles: the listener's pipe instances are inheritable, and
// a child holding a copy of a server end would keep a closed connection open.
std::string RunSetup(const std::wstring& pipeName, const std::wstring& actions) {
    testing_support::TempDir dir(L"qrfakesetup");
    const std::wstring output = dir / L"replies.txt";
    auto result = testing_support::run_process(quote(testing_support::bin_dir() + L"fakesetup.exe") + L" " +
                                                   quote(pipeName) + L" " + quote(output) + L" " + actions,
                                               30000, L"", false);
    EXPECT_TRUE(result.started);
    EXPECT_FALSE(result.timed_out);
    EXPECT_EQ(result.exit_code, 0u);
    return testing_support::read_file(output);
}

bool WaitForListener() {
    for (int i = 0; i < 500; ++i) {
        if (IPC::Pipe::ServerWaiting()) return true;
        Sleep(10);
    }
    return false;
}

TEST(DownloaderPipeListener, ServesSetupProcesses) {
    const std::wstring codes = L"{QR-" + std::to_wstring(GetCurrentProcessId()) + L"};{B2}";
    const std::wstring name = IPC::DownloaderPipeName(codes);
    HANDLE event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    ASSERT_NE(event, nullptr);
    IPC::PipeListener listener(codes, event);
    std::wstring errorText;
    DWORD errorCode = 0;
    ASSERT_TRUE(listener.StartListener(errorText, errorCode)) << narrow(errorText);
    ASSERT_TRUE(WaitForListener());

    // A connection of our own, kept open through everything below.
    IPC::Pipe own(name, true);

    // Another request id gets an empty reply and the connection goes on.
    EXPECT_EQ(RunSetup(name, L"id:7 " + quote(L"token:" + to_lower(codes))), "empty\nbool=1\n");
    EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_OBJECT_0);

    // A wrong token, also in a message far above one pipe buffer.
    ResetEvent(event);
    EXPECT_EQ(RunSetup(name, L"token:{QR} big:3000"), "bool=0\nbool=0\n");
    EXPECT_EQ(WaitForSingleObject(event, 0), static_cast<DWORD>(WAIT_TIMEOUT));

    // Malformed requests close only their own connection, without a reply.
    struct Case {
        const char* name;
        const wchar_t* hex;
    } cases[] = {
        {"empty message", L""},
        {"cut inside the id", L"000000000700"},
        {"string where the id belongs", L"020000000000000000"},
        {"unknown type code", L"09000000"},
        {"token count 2^31-1",
         L"0000000000000000"
         L"02000000ffffff7f"
         L"6100"},
        {"token count past the end",
         L"0000000000000000"
         L"0200000005000000"
         L"61006200"},
        {"token as int",
         L"0000000000000000"
         L"0000000001000000"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(RunSetup(name, std::wstring(L"raw:") + c.hex + L" reconnect " + quote(L"token:" + codes)),
                  "disconnected\nbool=1\n")
            << c.name;
    }

    own.Write(IPC::OutputBuffer().WriteInt32(IPC::kRequestSetupCompleted).WriteString(codes));
    EXPECT_TRUE(own.Read().ReadBool());
}

TEST(DownloaderPipeListener, StopEndsTheListener) {
    const std::wstring codes = L"{STOP-" + std::to_wstring(GetCurrentProcessId()) + L"}";
    IPC::PipeListener listener(codes, nullptr);
    std::wstring errorText;
    DWORD errorCode = 0;
    ASSERT_TRUE(listener.StartListener(errorText, errorCode));
    ASSERT_TRUE(WaitForListener());
    EXPECT_EQ(RunSetup(IPC::DownloaderPipeName(codes), L"token:x"), "bool=0\n");
    ASSERT_TRUE(WaitForListener());
    listener.StopListener();
    EXPECT_EQ(WaitForSingleObject(listener.ThreadHandle(), 10000), WAIT_OBJECT_0);
    listener.ReleaseThread(0);
    EXPECT_EQ(listener.ThreadHandle(), nullptr);

    // A later run listens again.
    ASSERT_TRUE(listener.StartListener(errorText, errorCode));
    ASSERT_TRUE(WaitForListener());
    EXPECT_EQ(RunSetup(IPC::DownloaderPipeName(codes), L"token:" + codes), "bool=1\n");
    ASSERT_TRUE(WaitForListener());
    listener.StopListener();
    EXPECT_EQ(WaitForSingleObject(listener.ThreadHandle(), 10000), WAIT_OBJECT_0);
}

}  // namespace
