// Requests against the loopback fixture server, through the manager and its
// notification window: results, port and scheme rules, failures, credentials,
// time-outs, aborts and destruction.
#include <gtest/gtest.h>

#include <memory>
#include <thread>

#include "http_test_support.h"

using namespace http_testing;

namespace {

// Built before main, the way the engine's manager is.
http_testing::RecordingManager staticManager;

HttpRequestRecord Get(const std::wstring& url) {
    HttpRequestRecord record;
    record.url = url;
    record.extraHeaders = L"Accept: */*\r\n";
    return record;
}

class HttpRequestTest : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_NE(ServerPort(L"QR_HTTP_PORT"), 0) << "run through tests/fixtures/with-server.sh";
    }
};

TEST_F(HttpRequestTest, IdsStartAt100AndEachFinishIsDeliveredOnceThenRetired) {
    RecordingManager manager;
    RequestId first = manager.AddRequest(Get(HttpUrl(L"/bytes/100000")));
    RequestId second = manager.AddRequest(Get(HttpUrl(L"/status/404")));
    EXPECT_EQ(first, 100);
    EXPECT_EQ(second, 101);

    ASSERT_TRUE(manager.WaitDone(first));
    ASSERT_TRUE(manager.WaitDone(second));
    PumpFor(300);  // late messages would show up as second deliveries

    const Outcome& a = manager[first];
    EXPECT_EQ(a.responses, 1);
    EXPECT_EQ(a.finishes, 1);
    EXPECT_EQ(a.timeouts, 0);
    EXPECT_EQ(a.statusCode, 200);
    EXPECT_EQ(a.contentLength, 100000);
    EXPECT_EQ(a.receivedBytes, 100000);
    EXPECT_EQ(a.dataBytes, 100000);
    EXPECT_TRUE(a.lastReadResult);
    EXPECT_EQ(a.body.size(), 100000u);
    EXPECT_TRUE(IsPattern(a.body));
    EXPECT_FALSE(a.wrongThread);

    const Outcome& b = manager[second];
    EXPECT_EQ(b.finishes, 1);
    EXPECT_EQ(b.statusCode, 404);
    EXPECT_EQ(b.body, "status 404\n");
    EXPECT_EQ(manager.GetActiveCount(), 0u);
    EXPECT_EQ(manager.GetRetiredCount(), 0u);

    // Ids are never reused.
    EXPECT_EQ(manager.AddRequest(Get(HttpUrl(L"/status/200"))), 102);
    EXPECT_TRUE(manager.WaitDone(102));
}

TEST_F(HttpRequestTest, ManagerBuiltDuringStaticInitialisationWorks) {
    ASSERT_NE(staticManager.GetNotificationWindow(), nullptr);
    RequestId id = staticManager.AddRequest(Get(HttpUrl(L"/bytes/1000")));
    ASSERT_TRUE(staticManager.WaitDone(id));
    EXPECT_EQ(staticManager[id].finalStatusCode, 200);
    EXPECT_EQ(staticManager[id].body.size(), 1000u);
    EXPECT_FALSE(staticManager[id].wrongThread);
}

TEST_F(HttpRequestTest, DataCallbacksAddUpToTheBodyBeforeTheFinish) {
    // A fast body and a slow one: reports gather several chunks or one each.
    const std::pair<const wchar_t*, int> cases[] = {{L"/bytes/3000000", 3000000},
                                                    {L"/trickle/6/150/8192", 6 * 8192}};
    RecordingManager manager;
    for (const auto& [path, size] : cases) {
        RequestId id = manager.AddRequest(Get(HttpUrl(path)));
        ASSERT_TRUE(manager.WaitDone(id));
        const Outcome& o = manager[id];
        EXPECT_EQ(o.receivedBytes, size);
        EXPECT_EQ(o.dataBytesAtFinish, size) << "data reported after the finish or lost";
        EXPECT_EQ(o.dataBytes, size);
        EXPECT_GE(o.dataMessages, 1);
        EXPECT_TRUE(IsPattern(o.body));
    }
}

TEST_F(HttpRequestTest, StatusCodesArriveWithTheirBodies) {
    RecordingManager manager;
    const int codes[] = {200, 403, 404, 500};
    std::vector<RequestId> ids;
    for (int code : codes)
        ids.push_back(manager.AddRequest(Get(HttpUrl(L"/status/" + std::to_wstring(code)))));
    for (size_t i = 0; i < ids.size(); ++i) {
        ASSERT_TRUE(manager.WaitDone(ids[i])) << codes[i];
        const Outcome& o = manager[ids[i]];
        EXPECT_EQ(o.finishes, 1) << codes[i];
        EXPECT_EQ(o.finalStatusCode, codes[i]);
        EXPECT_EQ(o.body, "status " + std::to_string(codes[i]) + "\n");
        EXPECT_EQ(o.contentLength, static_cast<int>(o.body.size()));
    }
}

TEST_F(HttpRequestTest, BodyWithoutContentLengthEndsWithASuccessfulRead) {
    RecordingManager manager;
    RequestId id = manager.AddRequest(Get(HttpUrl(L"/noclen/50000")));
    ASSERT_TRUE(manager.WaitDone(id));
    const Outcome& o = manager[id];
    EXPECT_EQ(o.statusCode, 200);
    EXPECT_EQ(o.contentLength, 0);
    EXPECT_TRUE(o.lastReadResult);
    EXPECT_EQ(o.receivedBytes, 50000);
    EXPECT_TRUE(IsPattern(o.body));
}

TEST_F(HttpRequestTest, CutOffBodyShowsAsFailedReadOrShortCount) {
    RecordingManager manager;
    RequestId id = manager.AddRequest(Get(HttpUrl(L"/cut/100000/30000")));
    ASSERT_TRUE(manager.WaitDone(id));
    const Outcome& o = manager[id];
    EXPECT_EQ(o.finishes, 1);
    EXPECT_EQ(o.contentLength, 100000);
    EXPECT_TRUE(!o.lastReadResult || o.receivedBytes < o.contentLength)
        << "a cut-off body looks complete: read " << o.lastReadResult << ", " << o.receivedBytes << " bytes";
    EXPECT_LE(o.receivedBytes, 30000);
    EXPECT_TRUE(IsPattern(o.body));
}

TEST_F(HttpRequestTest, UnreachableOrUnusableTargetStillEnds) {
    RecordingManager manager;
    // Port 1 on loopback has no listener; the others cannot even be connected.
    const std::wstring urls[] = {L"http://127.0.0.1:1/x", L"not a url", L"", L"ftp://127.0.0.1/x"};
    std::vector<RequestId> ids;
    for (const auto& url : urls) ids.push_back(manager.AddRequest(Get(url)));
    for (size_t i = 0; i < ids.size(); ++i) {
        SCOPED_TRACE(testing::Message() << "url " << i);
        ASSERT_TRUE(manager.WaitDone(ids[i]));
        const Outcome& o = manager[ids[i]];
        EXPECT_EQ(o.responses, 1);
        EXPECT_EQ(o.finishes, 1);
        EXPECT_EQ(o.statusCode, 0);
        EXPECT_EQ(o.receivedBytes, 0);
    }
}

TEST_F(HttpRequestTest, HttpsAndRedirectsAcrossPortsAndSchemes) {
    int port2 = ServerPort(L"QR_HTTP_PORT2");
    std::wstring toPort2 = L"http://127.0.0.1:" + std::to_wstring(port2) + L"/bytes/3000";
    struct Case {
        const char* name;
        std::wstring url;
    } cases[] = {
        {"https", HttpsUrl(L"/bytes/3000")},
        {"http to other port", HttpUrl(L"/redirect/302?to=" + toPort2)},
        {"http to https", HttpUrl(L"/redirect/301?to=" + HttpsUrl(L"/bytes/3000"))},
        {"https to http", HttpsUrl(L"/redirect/307?to=" + toPort2)},
    };
    RecordingManager manager;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        RequestId id = manager.AddRequest(Get(c.url));
        ASSERT_TRUE(manager.WaitDone(id));
        const Outcome& o = manager[id];
        EXPECT_EQ(o.finalStatusCode, 200);
        EXPECT_EQ(o.body.size(), 3000u);
        EXPECT_TRUE(IsPattern(o.body));
    }
}

TEST_F(HttpRequestTest, RecordShapesTheRequest) {
    RecordingManager manager;
    struct Case {
        int verb;
        const char* method;
    } verbs[] = {{0, "GET"}, {1, "POST"}, {2, "POST"}, {3, "DELETE"}, {9, "GET"}};
    for (const Case& c : verbs) {
        HttpRequestRecord record = Get(HttpUrl(L"/echo"));
        record.verb = c.verb;
        record.rangeStart = 10;
        record.userAgent = L"QuillrunTest/1.0";
        record.extraHeaders = L"Accept: */*\r\nX-Quillrun: yes\r\n";
        if (c.verb == 1 || c.verb == 2) record.body = "payload bytes";
        RequestId id = manager.AddRequest(record);
        ASSERT_TRUE(manager.WaitDone(id));
        const std::string& echo = manager[id].body;
        SCOPED_TRACE(echo);
        EXPECT_EQ(echo.rfind(std::string(c.method) + " /echo", 0), 0u);
        EXPECT_NE(echo.find("Range: bytes=10-\n"), std::string::npos);
        EXPECT_NE(echo.find("X-Quillrun: yes\n"), std::string::npos);
        EXPECT_NE(echo.find("User-Agent: QuillrunTest/1.0\n"), std::string::npos);
        if (c.verb == 1 || c.verb == 2) {
            EXPECT_NE(echo.find("\n\npayload bytes"), std::string::npos);
        }
    }
    // Without a range start no Range header goes out.
    RequestId id = manager.AddRequest(Get(HttpUrl(L"/echo")));
    ASSERT_TRUE(manager.WaitDone(id));
    EXPECT_EQ(manager[id].body.find("Range:"), std::string::npos);
}

TEST_F(HttpRequestTest, DataAfterRetirementIsIgnored) {
    RecordingManager manager;
    HANDLE transfer = nullptr;
    manager.onData = [&](FCHttpRequest& request, int) {
        if (!transfer) {
            transfer = DuplicateThread(request.GetTransferThread());
            manager.DeleteRequest(request.GetRequestId());
        }
    };
    // Many chunks are on their way when the first one is seen.
    RequestId id = manager.AddRequest(Get(HttpUrl(L"/bytes/5000000")));
    ASSERT_TRUE(PumpUntil([&] { return transfer != nullptr; }));
    ASSERT_TRUE(PumpUntil([&] { return manager.GetRetiredCount() == 0; }));
    PumpFor(200);
    EXPECT_EQ(manager[id].dataMessages, 1);
    EXPECT_EQ(manager[id].finishes, 0);
    EXPECT_TRUE(HasEnded(transfer));
    CloseHandle(transfer);
}

TEST_F(HttpRequestTest, TimeOutFiresOnceAndRetiresTheRequest) {
    RecordingManager manager;
    HttpRequestRecord record = Get(HttpUrl(L"/trickle/12/100/8192"));
    record.timeout = 300;
    RequestId id = manager.AddRequest(record);
    HANDLE transfer = nullptr;
    ASSERT_TRUE(PumpUntil([&] {
        if (FCHttpRequest* request = manager.FindRequest(id); request && !transfer)
            transfer = DuplicateThread(request->GetTransferThread());
        return manager[id].timeouts > 0;
    }));
    EXPECT_EQ(manager.FindRequest(id), nullptr);
    ASSERT_TRUE(PumpUntil([&] { return manager.GetRetiredCount() == 0; }));
    PumpFor(300);
    EXPECT_EQ(manager[id].timeouts, 1);
    EXPECT_EQ(manager[id].finishes, 0);
    EXPECT_FALSE(manager[id].wrongThread);
    if (transfer) {
        EXPECT_TRUE(HasEnded(transfer)) << "purged while its transfer thread ran";
        CloseHandle(transfer);
    }

    // A request that ends in time never times out.
    record = Get(HttpUrl(L"/bytes/1000"));
    record.timeout = 5000;
    RequestId quick = manager.AddRequest(record);
    ASSERT_TRUE(manager.WaitDone(quick));
    EXPECT_EQ(manager[quick].timeouts, 0);
}

TEST_F(HttpRequestTest, RequestAddedFromAnotherThreadReportsAndTimesOutOnTheWindowThread) {
    RecordingManager manager;
    HttpRequestRecord slow = Get(HttpUrl(L"/trickle/10/100/8192"));
    slow.timeout = 250;
    RequestId slowId = 0, quickId = 0;
    std::thread worker([&] {
        slowId = manager.AddRequest(slow);
        quickId = manager.AddRequest(Get(HttpUrl(L"/bytes/20000")));
    });
    worker.join();
    ASSERT_TRUE(manager.WaitDone(quickId));
    ASSERT_TRUE(manager.WaitDone(slowId));
    EXPECT_EQ(manager[slowId].timeouts, 1);
    EXPECT_EQ(manager[slowId].finishes, 0);
    EXPECT_FALSE(manager[slowId].wrongThread);
    EXPECT_EQ(manager[quickId].finishes, 1);
    EXPECT_EQ(manager[quickId].receivedBytes, 20000);
    EXPECT_FALSE(manager[quickId].wrongThread);
}

TEST_F(HttpRequestTest, AbortWhileConnectingDeletesOnlyAfterTheConnectThreadEnded) {
    RecordingManager manager;
    RequestId id = manager.AddRequest(Get(HttpUrl(L"/bytes/1000")));
    FCHttpRequest* request = manager.FindRequest(id);
    ASSERT_NE(request, nullptr);
    HANDLE connect = DuplicateThread(request->GetConnectThread());
    ASSERT_NE(connect, nullptr);
    manager.DeleteRequest(id);
    EXPECT_EQ(manager.FindRequest(id), nullptr);
    EXPECT_EQ(manager.GetRetiredCount(), 1u);
    manager.DeleteRequest(id);  // no longer active: nothing happens
    EXPECT_EQ(manager.GetRetiredCount(), 1u);

    bool purgedEarly = false;
    ASSERT_TRUE(PumpUntil([&] {
        bool purged = manager.GetRetiredCount() == 0;
        if (purged && !HasEnded(connect)) purgedEarly = true;
        return purged;
    }));
    EXPECT_FALSE(purgedEarly);
    PumpFor(200);
    EXPECT_EQ(manager[id].responses, 0);
    EXPECT_EQ(manager[id].finishes, 0);
    CloseHandle(connect);
}

TEST_F(HttpRequestTest, AbortWhileTransferringDeletesOnlyAfterTheTransferThreadEnded) {
    RecordingManager manager;
    HANDLE transfer = nullptr;
    manager.onData = [&](FCHttpRequest& request, int) {
        if (!transfer) {
            transfer = DuplicateThread(request.GetTransferThread());
            manager.DeleteRequest(request.GetRequestId());
        }
    };
    RequestId id = manager.AddRequest(Get(HttpUrl(L"/trickle/15/100/8192")));
    ASSERT_TRUE(PumpUntil([&] { return transfer != nullptr; }));
    bool purgedEarly = false;
    ASSERT_TRUE(PumpUntil([&] {
        bool purged = manager.GetRetiredCount() == 0;
        if (purged && !HasEnded(transfer)) purgedEarly = true;
        return purged;
    }));
    EXPECT_FALSE(purgedEarly);
    EXPECT_EQ(manager[id].finishes, 0);
    EXPECT_EQ(manager[id].dataMessages, 1);
    CloseHandle(transfer);
}

TEST_F(HttpRequestTest, ServerCredentialsDialogCancelAndOk) {
    OwnerWindow owner;
    {
        RecordingManager manager;
        DialogAnswerer cancel(false);
        RequestId id = manager.AddRequest(Get(HttpUrl(L"/auth")));
        ASSERT_TRUE(manager.WaitDone(id));
        EXPECT_EQ(cancel.Answered(), 1);
        EXPECT_EQ(manager[id].finalStatusCode, 401);
        EXPECT_EQ(manager[id].body, "credentials required\n");
    }
    {
        RecordingManager manager;
        DialogAnswerer ok(true, L"quill", L"run");
        RequestId id = manager.AddRequest(Get(HttpUrl(L"/auth")));
        ASSERT_TRUE(manager.WaitDone(id));
        EXPECT_EQ(ok.Answered(), 1);
        EXPECT_EQ(manager[id].finalStatusCode, 200);
        EXPECT_EQ(manager[id].body, "welcome quill\n");
    }
}

TEST_F(HttpRequestTest, ProxyCredentialsDialogCancelAndOk) {
    OwnerWindow owner;
    HttpRequestRecord record = Get(L"http://quillrun.test/status/200");
    record.proxyHost = L"127.0.0.1";
    record.proxyPort = ServerPort(L"QR_PROXY_PORT");
    {
        RecordingManager manager;
        DialogAnswerer cancel(false);
        RequestId id = manager.AddRequest(record);
        ASSERT_TRUE(manager.WaitDone(id));
        EXPECT_EQ(cancel.Answered(), 1);
        EXPECT_EQ(manager[id].finalStatusCode, 407);
    }
    {
        RecordingManager manager;
        DialogAnswerer ok(true, L"proxy", L"secret");
        RequestId id = manager.AddRequest(record);
        ASSERT_TRUE(manager.WaitDone(id));
        EXPECT_EQ(ok.Answered(), 1);
        EXPECT_EQ(manager[id].finalStatusCode, 200);
        EXPECT_EQ(manager[id].body, "status 200\n");
    }
}

// Last: the threads it terminates may leave WinInet state behind.
TEST_F(HttpRequestTest, DestroyingTheManagerDuringATransferLeavesNoThreadRunning) {
    auto manager = std::make_unique<RecordingManager>();
    HANDLE transfer = nullptr;
    manager->onData = [&](FCHttpRequest& request, int) {
        if (!transfer) transfer = DuplicateThread(request.GetTransferThread());
    };
    // One chunk at once, the next only after 20 s: the read blocks meanwhile.
    manager->AddRequest(Get(HttpUrl(L"/trickle/3/20000/8192")));
    ASSERT_TRUE(PumpUntil([&] { return transfer != nullptr; }));
    DWORD start = GetTickCount();
    manager.reset();
    DWORD spent = GetTickCount() - start;
    EXPECT_TRUE(HasEnded(transfer));
    // Bounded by the destructor's wait, not by the slow body.
    EXPECT_LT(spent, 10000u);
    CloseHandle(transfer);
}

}  // namespace
