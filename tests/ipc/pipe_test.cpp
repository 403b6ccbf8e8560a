#include <gtest/gtest.h>

#include <aclapi.h>

#include <chrono>
#include <future>
#include <string>

#include "Pipe.h"
#include "PipeListener.h"
#include "launch_state.h"
#include "test_host.h"

namespace {

using namespace std::chrono_literals;
using IPC::InputBuffer;
using IPC::OutputBuffer;
using IPC::Pipe;

std::wstring FullName(const wchar_t* tag) {
    return L"\\\\.\\pipe\\" + UniquePipeName(tag);
}

// Waits until a server constructor blocks in ConnectNamedPipe.
bool WaitForServer() {
    for (int i = 0; i < 500; ++i) {
        if (Pipe::ServerWaiting()) return true;
        Sleep(10);
    }
    return false;
}

template <typename F>
std::wstring FailureOf(F&& call) {
    try {
        call();
    } catch (const wexception& e) {
        return e.message();
    }
    return L"";
}

// A server made of plain calls, to set up states the class never creates.
HANDLE RawServer(const std::wstring& name, DWORD instances) {
    return CreateNamedPipeW(name.c_str(), PIPE_ACCESS_DUPLEX,
                            PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE | PIPE_WAIT, instances, 1024, 1024, 0,
                            nullptr);
}
HANDLE RawClient(const std::wstring& name) {
    return CreateFileW(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
}

TEST(Pipe, ClientAndServerExchangeMessages) {
    const std::wstring name = FullName(L"roundtrip");
    const std::wstring big(1500, L'\x263A');  // 3008 bytes on the wire
    std::wstring reversed(big.rbegin(), big.rend());
    reversed += L"end";

    auto server = std::async(std::launch::async, [&] {
        std::wstring failure;
        try {
            Pipe pipe(name, false);
            InputBuffer first = pipe.Read();
            EXPECT_EQ(first.ReadString(), big);
            pipe.Write(OutputBuffer().WriteInt32(2000).WriteString(reversed));
            InputBuffer empty = pipe.Read();
            EXPECT_EQ(empty.Size(), 0u);
            pipe.Write(OutputBuffer());
            failure = FailureOf([&] { pipe.Read(); });
            EXPECT_EQ(failure, L"Pipe disconnected");
            failure = FailureOf([&] { pipe.Write(OutputBuffer().WriteBool(true)); });
        } catch (const wexception& e) {
            ADD_FAILURE() << "server: " << e.what();
        }
        return failure;
    });
    ASSERT_TRUE(WaitForServer());
    {
        Pipe client(name, true);
        client.Write(OutputBuffer().WriteString(big));
        InputBuffer reply = client.Read();
        EXPECT_EQ(reply.Size(), 8u + 8u + reversed.size() * 2);
        EXPECT_EQ(reply.ReadInt32(), 2000);
        EXPECT_EQ(reply.ReadString(), reversed);
        client.Write(OutputBuffer());
        InputBuffer empty = client.Read();
        EXPECT_EQ(empty.Size(), 0u);
        EXPECT_EQ(FailureOf([&] { empty.ReadBool(); }), L"Unexpected end of input buffer");
    }
    ASSERT_EQ(server.wait_for(10s), std::future_status::ready);
    EXPECT_EQ(server.get(), L"Failed to write to pipe");
}

TEST(Pipe, ClientFailures) {
    const std::wstring missing = FullName(L"missing");
    EXPECT_EQ(FailureOf([&] { Pipe pipe(missing, true); }),
              L"Unable to connect to a named pipe (Error code: 2)");

    // Every instance busy for longer than the client waits.
    const std::wstring busy = FullName(L"busy");
    HANDLE server = RawServer(busy, 1);
    ASSERT_NE(server, INVALID_HANDLE_VALUE);
    HANDLE holder = RawClient(busy);
    ASSERT_NE(holder, INVALID_HANDLE_VALUE);
    EXPECT_EQ(FailureOf([&] { Pipe pipe(busy, true); }),
              L"Timeout while trying to connect to a named pipe, pipe is busy");
    CloseHandle(holder);
    CloseHandle(server);
}

TEST(Pipe, StopListeningWakesTheWaitingServer) {
    const std::wstring name = FullName(L"stop");
    Pipe::ResumeListening();
    auto server = std::async(std::launch::async, [&] { return FailureOf([&] { Pipe pipe(name, false); }); });
    ASSERT_TRUE(WaitForServer());
    auto stopper = std::async(std::launch::async, [&] { Pipe::StopListening(name); });
    ASSERT_EQ(server.wait_for(10s), std::future_status::ready);
    EXPECT_EQ(server.get(), L"The pipe terminated.");
    // The instance is closed at once, which is what releases the waker.
    ASSERT_EQ(stopper.wait_for(10s), std::future_status::ready);
    EXPECT_FALSE(Pipe::ServerWaiting());
    EXPECT_EQ(RawClient(name), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    Pipe::ResumeListening();
}

TEST(Pipe, StopRequestWithoutWaitingServer) {
    const std::wstring name = FullName(L"idle");
    Pipe::ResumeListening();
    HANDLE raw = RawServer(name, 1);
    ASSERT_NE(raw, INVALID_HANDLE_VALUE);
    Pipe::StopListening(name);
    // No connection was made: the only instance is still free.
    HANDLE client = RawClient(name);
    EXPECT_NE(client, INVALID_HANDLE_VALUE);
    CloseHandle(client);
    CloseHandle(raw);

    // The request stays until resumed, so a listener that was between two
    // instances ends instead of waiting for ever.
    const std::wstring next = FullName(L"next");
    EXPECT_EQ(FailureOf([&] { Pipe pipe(next, false); }), L"The pipe terminated.");
    EXPECT_FALSE(Pipe::ServerWaiting());

    Pipe::ResumeListening();
    auto server = std::async(std::launch::async, [&] {
        Pipe pipe(next, false);
        pipe.Write(OutputBuffer().WriteBool(true));
    });
    ASSERT_TRUE(WaitForServer());
    Pipe client2(next, true);
    EXPECT_TRUE(client2.Read().ReadBool());
    ASSERT_EQ(server.wait_for(10s), std::future_status::ready);
    server.get();
}

TEST(Pipe, EarlyClients) {
    // A client that connected before the server waited counts as connected.
    const std::wstring name = FullName(L"early");
    HANDLE server = RawServer(name, 1);
    ASSERT_NE(server, INVALID_HANDLE_VALUE);
    HANDLE client = RawClient(name);
    ASSERT_NE(client, INVALID_HANDLE_VALUE);
    EXPECT_TRUE(IPC::detail::WaitForClient(server));
    CloseHandle(client);
    CloseHandle(server);

    // One that already left does not.
    server = RawServer(name, 1);
    ASSERT_NE(server, INVALID_HANDLE_VALUE);
    CloseHandle(RawClient(name));
    EXPECT_FALSE(IPC::detail::WaitForClient(server));
    DWORD code = GetLastError();
    EXPECT_EQ(IPC::FormattedFailureText(L"Client failed to connect", code),
              L"Client failed to connect (HRESULT = 232).");
    CloseHandle(server);
}

TEST(Pipe, ServerGrantsOwnerAndUsersOnly) {
    const std::wstring name = FullName(L"dacl");
    auto server = std::async(std::launch::async, [&] {
        Pipe pipe(name, false);
        pipe.Read();
    });
    ASSERT_TRUE(WaitForServer());
    Pipe client(name, true);

    PACL dacl = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    ASSERT_EQ(GetSecurityInfo(client.Handle(), SE_KERNEL_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr,
                              &dacl, nullptr, &descriptor),
              static_cast<DWORD>(ERROR_SUCCESS));
    ASSERT_NE(dacl, nullptr);
    ASSERT_EQ(dacl->AceCount, 2);

    HANDLE token = nullptr;
    ASSERT_TRUE(OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token));
    unsigned char userInfo[256];
    DWORD size = 0;
    ASSERT_TRUE(GetTokenInformation(token, TokenUser, userInfo, sizeof userInfo, &size));
    CloseHandle(token);
    PSID user = reinterpret_cast<TOKEN_USER*>(userInfo)->User.Sid;
    PSID users = nullptr;
    SID_IDENTIFIER_AUTHORITY nt = SECURITY_NT_AUTHORITY;
    ASSERT_TRUE(AllocateAndInitializeSid(&nt, 2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_USERS, 0, 0, 0,
                                         0, 0, 0, &users));

    // The system may store generic rights mapped to the file rights.
    GENERIC_MAPPING mapping = {FILE_GENERIC_READ, FILE_GENERIC_WRITE, FILE_GENERIC_EXECUTE, FILE_ALL_ACCESS};
    auto mapped = [&](DWORD mask) {
        MapGenericMask(&mask, &mapping);
        return mask;
    };
    struct Expected {
        PSID sid;
        DWORD mask;
    } expected[] = {{user, GENERIC_ALL}, {users, GENERIC_READ | GENERIC_WRITE}};
    for (int i = 0; i < 2; ++i) {
        void* ace = nullptr;
        ASSERT_TRUE(GetAce(dacl, i, &ace));
        auto* allowed = static_cast<ACCESS_ALLOWED_ACE*>(ace);
        EXPECT_EQ(allowed->Header.AceType, ACCESS_ALLOWED_ACE_TYPE) << i;
        EXPECT_TRUE(EqualSid(reinterpret_cast<PSID>(&allowed->SidStart), expected[i].sid)) << i;
        EXPECT_EQ(mapped(allowed->Mask), mapped(expected[i].mask)) << i;
    }
    FreeSid(users);
    LocalFree(descriptor);
    client.Write(OutputBuffer());
    ASSERT_EQ(server.wait_for(10s), std::future_status::ready);
    server.get();
}

TEST(DownloaderPipe, HandleRequest) {
    HANDLE event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    struct Case {
        const char* name;
        std::string request;
        bool sets;
        std::string reply;  // "throws" when the request is malformed
    };
    auto token = [](const wchar_t* text) { return OutputBuffer().WriteInt32(0).WriteString(text).Bytes(); };
    const std::string yes = OutputBuffer().WriteBool(true).Bytes();
    const std::string no = OutputBuffer().WriteBool(false).Bytes();
    const Case cases[] = {
        {"same token", token(L"{AB12};{CD34}"), true, yes},
        {"token in other case", token(L"{ab12};{cd34}"), true, yes},
        {"other token", token(L"{AB12}"), false, no},
        {"empty token", token(L""), false, no},
        {"other id", OutputBuffer().WriteInt32(7).WriteString(L"{AB12};{CD34}").Bytes(), false, ""},
        {"id only", OutputBuffer().WriteInt32(12).Bytes(), false, ""},
        {"id as string", OutputBuffer().WriteString(L"0").Bytes(), false, "throws"},
        {"no token", OutputBuffer().WriteInt32(0).Bytes(), false, "throws"},
        {"token as int", OutputBuffer().WriteInt32(0).WriteInt32(1).Bytes(), false, "throws"},
        {"empty message", "", false, "throws"},
    };
    for (const auto& c : cases) {
        ResetEvent(event);
        InputBuffer request(c.request);
        std::string reply = "throws";
        try {
            reply = IPC::HandleRequest(request, L"{AB12};{CD34}", event).Bytes();
        } catch (const wexception&) {
        }
        EXPECT_EQ(reply, c.reply) << c.name;
        EXPECT_EQ(WaitForSingleObject(event, 0) == WAIT_OBJECT_0, c.sets) << c.name;
    }
    CloseHandle(event);
    EXPECT_EQ(IPC::DownloaderPipeName(L"{AB12};{CD34}"), L"\\\\.\\pipe\\qr_downloader_{AB12};{CD34}");
}

TEST(UpdaterClient, OutsideUpdaterMode) {
    RecordingHost host(false);
    IPC::UpdaterClient client(host);
    EXPECT_FALSE(client.ConnectToUpdater(L"C:\\Program Files\\Vendor\\Updater\\upd.exe", 77, L"S-1",
                                         L"C:\\prod", L"\\\\.\\pipe\\none", L"app"));
    EXPECT_EQ(client.UpdaterPath(), L"C:\\Program Files\\Vendor\\Updater\\upd.exe");
    EXPECT_EQ(client.UpdaterProcessId(), 77u);
    EXPECT_EQ(client.UpdaterSid(), L"S-1");
    EXPECT_EQ(client.ProductFolder(), L"C:\\prod");
    EXPECT_EQ(client.UpdaterPipeName(), L"\\\\.\\pipe\\none");
    EXPECT_EQ(client.ApplicationId(), L"app");
    EXPECT_EQ(client.UpdaterParentFolder(), L"C:\\Program Files\\Vendor\\");
    EXPECT_FALSE(client.HasPipe());
    // Nothing to talk to: notices and progress count as accepted.
    EXPECT_TRUE(client.UpdaterNotice(0x1002, L"x", 0, 0, 5, 1, false));
    client.ResetInstallerProgress();
    EXPECT_TRUE(client.ReportInstallerProgressText(IPC::kInstallMessageProgress, L"1: 0 2: 10 3: 0 4: 0 "));
    EXPECT_EQ(client.InstallerProgress().totalTicks, 0);
    client.ReportError(L"ignored", 1);
    client.DisconnectFromUpdater();
    EXPECT_EQ(host.refusals + host.blockShutdownPosts, 0);
}

TEST(UpdaterClient, MissingUpdater) {
    RecordingHost host;
    IPC::UpdaterClient client(host, IPC::UpdaterTiming{3, 10, 20, 60});
    const std::wstring name = FullName(L"gone");
    EXPECT_FALSE(client.ConnectToUpdater(L"C:\\u.exe", 1, L"", L"C:\\p", name, L""));
    EXPECT_FALSE(client.HasPipe());
    EXPECT_EQ(host.blockShutdownPosts, 0);
    EXPECT_EQ(FailureOf([&] { client.OpenUpdaterPipe(); }), L"Unable to open named pipe.");

    LaunchState launch;
    launch.updaterPath = L"C:\\u.exe";
    launch.updaterPipeName = name;
    launch.productFolder = L"C:\\p";
    try {
        IPC::HandleConnectUpdater(client, launch);
        ADD_FAILURE() << "a missing updater was accepted";
    } catch (const windows_error& e) {
        EXPECT_EQ(e.message(), L"Failed to connect to the updater process.");
    }
}

}  // namespace
