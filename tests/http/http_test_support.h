#pragma once
// Shared pieces of the HTTP tests: the fixture server's addresses, a
// manager that records its callbacks, message pumping and the watcher that
// answers the credentials dialog.
#include <windows.h>

#include <atomic>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "http_request_manager.h"

namespace http_testing {

// A port the fixture server reported (QR_HTTP_PORT and friends); 0 when unset.
int ServerPort(const wchar_t* name);
// "http://127.0.0.1:<QR_HTTP_PORT><path>".
std::wstring HttpUrl(const std::wstring& path);
// "https://localhost:<QR_HTTPS_PORT><path>".
std::wstring HttpsUrl(const std::wstring& path);

// The server's body pattern: byte i is i % 251.
bool IsPattern(const std::string& bytes);

// Pumps messages until done() holds or timeout_ms passed; returns done().
bool PumpUntil(const std::function<bool()>& done, DWORD timeout_ms = 15000);
// Pumps messages for a while.
void PumpFor(DWORD ms);

// A handle of the same thread that outlives the request that owns the original.
HANDLE DuplicateThread(HANDLE thread);
bool HasEnded(HANDLE thread);

struct Outcome {
    RequestId id = 0;
    int responses = 0;
    int finishes = 0;
    int timeouts = 0;
    int dataMessages = 0;
    long long dataBytes = 0;
    long long dataBytesAtFinish = -1;
    int statusCode = -1;       // at OnResponseReceived
    int finalStatusCode = -1;  // at OnRequestFinished
    int contentLength = -1;
    BOOL lastReadResult = -1;
    int receivedBytes = -1;
    std::string body;
    bool wrongThread = false;  // a callback ran off the window thread
};

class RecordingManager : public FCHttpRequestManager {
public:
    RecordingManager();
    Outcome& operator[](RequestId id);
    bool Finished(RequestId id) { return (*this)[id].finishes > 0; }
    // Pumps until the request finished (or timed out) and then was purged.
    bool WaitDone(RequestId id, DWORD timeout_ms = 15000);

    std::function<void(FCHttpRequest&)> onResponse;
    std::function<void(FCHttpRequest&, int)> onData;

    using FCHttpRequestManager::FindRequest;
    using FCHttpRequestManager::GetActiveCount;
    using FCHttpRequestManager::GetRetiredCount;

protected:
    void OnResponseReceived(FCHttpRequest& request) override;
    void OnRequestFinished(FCHttpRequest& request) override;
    void OnRequestTimedOut(FCHttpRequest& request) override;
    void OnDataReceived(FCHttpRequest& request, int byteCount) override;

private:
    Outcome& Record(FCHttpRequest& request);
    DWORD m_thread;
    std::vector<Outcome> m_outcomes;
};

// A top-level window standing in for the progress window, the owner of the
// credentials dialog; set as the launch state's progress window while alive.
class OwnerWindow {
public:
    OwnerWindow();
    ~OwnerWindow();

private:
    HWND m_window = nullptr;
};

// Answers every dialog box of this process on a thread of its own: fills in
// the user name and password (when given) and presses OK, or Cancel.
class DialogAnswerer {
public:
    DialogAnswerer(bool pressOk, std::wstring user = L"", std::wstring password = L"");
    ~DialogAnswerer();
    int Answered() const { return m_answered.load(); }

private:
    void Run();
    bool m_pressOk;
    std::wstring m_user, m_password;
    std::atomic<bool> m_stop{false};
    std::atomic<int> m_answered{0};
    std::thread m_thread;
};

}  // namespace http_testing
