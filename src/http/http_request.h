#pragma once
// One HTTP request carried out with WinInet on two short-lived threads of its
// own (connect, then transfer). The threads never call back: they report
// each stage to the manager's notification window with SendNotifyMessageW.
#include <windows.h>
#include <wininet.h>

#include <atomic>
#include <string>
#include <string_view>

// Messages the request threads send to the notification window.
constexpr UINT WM_HTTP_STATUS = 0x8030;     // wParam request id, lParam one of the HTTP_STATUS_* below
constexpr UINT WM_HTTP_DATA = 0x8031;       // wParam request id; take the count with TakeUnreportedBytes
constexpr UINT WM_HTTP_SET_TIMER = 0x8032;  // wParam timer id, lParam period: arm it on the window's thread

constexpr LPARAM HTTP_STATUS_CONNECTED = 0;       // connect thread done; open the request
constexpr LPARAM HTTP_STATUS_RESPONSE = 1;        // request sent, response headers in
constexpr LPARAM HTTP_STATUS_TRANSFER_ENDED = 2;  // body read to its end (or the transfer failed)

using RequestId = int;

// RELOAD | NO_CACHE_WRITE | KEEP_CONNECTION | IGNORE_REDIRECT_TO_HTTP(S) | PRAGMA_NOCACHE.
constexpr DWORD HTTP_DEFAULT_OPEN_FLAGS = 0x8440C100;

// The system's user-agent string (empty when the system gives none).
std::wstring SystemUserAgent();

// What the caller asks for. Verb: 0 GET, 1 and 2 POST, 3 DELETE, anything else GET.
struct HttpRequestRecord {
    std::string body;
    int verb = 0;
    std::wstring url;
    int rangeStart = 0;  // not 0: "Range: bytes=<start>-" is sent
    std::wstring userAgent = SystemUserAgent();
    std::wstring extraHeaders;  // each line ends with "\r\n"
    DWORD openFlags = HTTP_DEFAULT_OPEN_FLAGS;
    DWORD timeout = 0;       // milliseconds; 0 = none
    std::wstring proxyHost;  // empty = the system's proxy configuration
    int proxyPort = 80;
    std::wstring proxyUserName;
    std::wstring proxyPassword;
};

namespace inner {

// Owns one critical section.
class FCAutoCSec {
public:
    FCAutoCSec() { InitializeCriticalSection(&m_section); }
    virtual ~FCAutoCSec() { DeleteCriticalSection(&m_section); }
    FCAutoCSec(const FCAutoCSec&) = delete;
    FCAutoCSec& operator=(const FCAutoCSec&) = delete;

    void Lock() { EnterCriticalSection(&m_section); }
    void Unlock() { LeaveCriticalSection(&m_section); }

    // Holds the section for one scope.
    class Guard {
    public:
        explicit Guard(FCAutoCSec& section) : m_owner(section) { m_owner.Lock(); }
        ~Guard() { m_owner.Unlock(); }
        Guard(const Guard&) = delete;
        Guard& operator=(const Guard&) = delete;

    private:
        FCAutoCSec& m_owner;
    };

private:
    CRITICAL_SECTION m_section;
};

// Body bytes shared by the transfer thread (appends) and the window thread
// (takes); both hold the section.
class CReceiveBuffer : public FCAutoCSec {
public:
    void Append(const char* bytes, size_t count);
    // Moves every byte received so far into destination and empties the buffer.
    void Take(std::string& destination);

private:
    std::string m_bytes;
};

struct CrackedUrl {
    int scheme = INTERNET_SCHEME_UNKNOWN;
    std::wstring hostName;
    std::wstring urlPath;  // path and query
    int port = 0;          // the port the connection goes to
};

// Splits a URL with the system's URL cracker. The port is the one the URL
// names, else 443 for https and 80 for anything else.
CrackedUrl CrackUrl(const std::wstring& url);

// "GET", "POST" or "DELETE" for a record's verb value.
const wchar_t* VerbText(int verb);

// A decimal header value as a 32-bit count; 0 when it is not a number that fits.
int ParseHeaderNumber(std::wstring_view text);

// Sets a timer on a window from any thread: directly on the window's own
// thread, otherwise through WM_HTTP_SET_TIMER so that the owner sets it
// (a timer belongs to the thread that owns its window).
void SetWindowTimer(HWND window, UINT_PTR id, UINT period);

}  // namespace inner

class FCHttpRequest {
public:
    // Copies the record, opens the Internet handle, starts the connect thread
    // and arms the time-out timer (timer id = request id) when one is asked for.
    FCHttpRequest(RequestId id, HWND notificationWindow, const HttpRequestRecord& record);
    // Kills the time-out timer and closes every handle. The owner deletes a
    // request only after both of its threads have ended.
    virtual ~FCHttpRequest();
    FCHttpRequest(const FCHttpRequest&) = delete;
    FCHttpRequest& operator=(const FCHttpRequest&) = delete;

    // Window thread, on HTTP_STATUS_CONNECTED: opens the request on the
    // connection and starts the transfer thread.
    void OpenAndStartTransfer();
    // Window thread, on HTTP_STATUS_RESPONSE: reads status code and content length.
    void ReadResponseInfo();
    // Moves the bytes received so far into destination; the buffer is left empty.
    void TakeBody(std::string& destination);
    // Window thread, on WM_HTTP_DATA: the bytes appended since the last call.
    int TakeUnreportedBytes();
    // Closes the handle the running thread waits on (request handle while
    // transferring, Internet handle while connecting) and returns that
    // thread's handle; null when neither thread runs. The returned handle
    // stays owned by the request.
    HANDLE Abort();

    RequestId GetRequestId() const { return m_id; }
    const HttpRequestRecord& GetRecord() const { return m_record; }
    const std::wstring& GetUrl() const { return m_record.url; }
    int GetRangeStart() const { return m_record.rangeStart; }
    DWORD GetStartTick() const { return m_startTick; }
    int GetScheme() const { return m_url.scheme; }
    const std::wstring& GetHostName() const { return m_url.hostName; }
    const std::wstring& GetUrlPath() const { return m_url.urlPath; }
    int GetStatusCode() const { return m_statusCode; }        // 0 when no status was read
    int GetContentLength() const { return m_contentLength; }  // 0 when absent
    BOOL GetLastReadResult() const { return m_lastReadResult.load(); }
    int GetReceivedBytes() const { return m_receivedBytes.load(); }
    // Thread handles (null when not started, or the connect thread once the
    // request was opened): a thread that has ended is signalled.
    HANDLE GetConnectThread() const { return m_connectThread; }
    HANDLE GetTransferThread() const { return m_transferThread; }

private:
    static DWORD WINAPI ConnectThreadEntry(LPVOID self);
    static DWORD WINAPI TransferThreadEntry(LPVOID self);
    void Connect();
    void Transfer();
    void Notify(UINT message, LPARAM value) const;
    void ReportData(bool final);

    const RequestId m_id;
    const HWND m_window;
    const HttpRequestRecord m_record;
    DWORD m_startTick = 0;
    inner::CrackedUrl m_url;
    int m_statusCode = 0;
    int m_contentLength = 0;
    std::atomic<BOOL> m_lastReadResult{FALSE};
    inner::CReceiveBuffer m_buffer;
    std::atomic<LONG> m_receivedBytes{0};
    // Bytes appended but not yet reported. A message per 8 KiB chunk would
    // wake the window thread thousands of times a second, so the transfer
    // thread sends the first chunk's message at once, then at most one every
    // 50 ms and never a second while one is on its way; what is left goes
    // out before the end is reported.
    std::atomic<LONG> m_unreportedBytes{0};
    // Set by the transfer thread when it sends a data message, cleared by
    // the window thread when it takes the count.
    std::atomic<bool> m_dataMessagePending{false};
    DWORD m_lastDataMessage = 0;  // transfer thread only
    // The Internet and request handles are closed by Abort on the window
    // thread while a worker may be blocked on them, so they are swapped out
    // atomically; the worker reads them afresh for every call.
    std::atomic<HINTERNET> m_internet{nullptr};
    HINTERNET m_connection = nullptr;  // written by the connect thread before it reports
    std::atomic<HINTERNET> m_request{nullptr};
    HANDLE m_connectThread = nullptr;  // window-side bookkeeping only
    HANDLE m_transferThread = nullptr;
};
