#include "http_request.h"

#include <urlmon.h>

#include <climits>
#include <cwchar>
#include <vector>

#include "launch_state.h"
#include "text.h"

std::wstring SystemUserAgent() {
    char agent[1024] = {};
    DWORD size = sizeof(agent);
    if (FAILED(ObtainUserAgentString(0, agent, &size))) return {};
    agent[sizeof(agent) - 1] = '\0';
    int length = MultiByteToWideChar(CP_ACP, 0, agent, -1, nullptr, 0);
    if (length <= 1) return {};
    std::wstring text(static_cast<size_t>(length), L'\0');
    MultiByteToWideChar(CP_ACP, 0, agent, -1, text.data(), length);
    text.resize(static_cast<size_t>(length - 1));
    return text;
}

namespace inner {

void CReceiveBuffer::Append(const char* bytes, size_t count) {
    Guard guard(*this);
    m_bytes.append(bytes, count);
}

void CReceiveBuffer::Take(std::string& destination) {
    Guard guard(*this);
    destination = std::move(m_bytes);
    m_bytes.clear();
}

CrackedUrl CrackUrl(const std::wstring& url) {
    CrackedUrl cracked;
    std::vector<wchar_t> host(url.size() + 8), path(url.size() + 8);
    URL_COMPONENTSW parts = {};
    parts.dwStructSize = sizeof(parts);
    parts.lpszHostName = host.data();
    parts.dwHostNameLength = static_cast<DWORD>(host.size());
    parts.lpszUrlPath = path.data();
    parts.dwUrlPathLength = static_cast<DWORD>(path.size());
    if (url.empty() || !InternetCrackUrlW(url.c_str(), static_cast<DWORD>(url.size()), 0, &parts))
        return cracked;
    cracked.scheme = parts.nScheme;
    cracked.hostName.assign(host.data(), parts.dwHostNameLength);
    cracked.urlPath.assign(path.data(), parts.dwUrlPathLength);
    // The cracker fills in the scheme's default when the URL names no port;
    // a port of 0 is no port at all.
    cracked.port = parts.nPort;
    if (cracked.port <= 0)
        cracked.port = cracked.scheme == INTERNET_SCHEME_HTTPS ? INTERNET_DEFAULT_HTTPS_PORT
                                                               : INTERNET_DEFAULT_HTTP_PORT;
    return cracked;
}

const wchar_t* VerbText(int verb) {
    switch (verb) {
        case 1:
        case 2:
            return L"POST";
        case 3:
            return L"DELETE";
        default:
            return L"GET";
    }
}

int ParseHeaderNumber(std::wstring_view text) {
    std::wstring value = trim(text);
    if (value.empty() || value.size() > 10) return 0;
    long long number = 0;
    for (wchar_t c : value) {
        if (c < L'0' || c > L'9') return 0;
        number = number * 10 + (c - L'0');
    }
    return number > INT_MAX ? 0 : static_cast<int>(number);
}

void SetWindowTimer(HWND window, UINT_PTR id, UINT period) {
    if (!window) return;
    if (GetWindowThreadProcessId(window, nullptr) == GetCurrentThreadId())
        SetTimer(window, id, period, nullptr);
    else
        SendNotifyMessageW(window, WM_HTTP_SET_TIMER, static_cast<WPARAM>(id), static_cast<LPARAM>(period));
}

}  // namespace inner

FCHttpRequest::FCHttpRequest(RequestId id, HWND notificationWindow, const HttpRequestRecord& record)
    : m_id(id), m_window(notificationWindow), m_record(record) {
    m_url = inner::CrackUrl(m_record.url);

    const wchar_t* agent = m_record.userAgent.c_str();
    if (m_record.proxyHost.empty()) {
        m_internet = InternetOpenW(agent, INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0);
    } else {
        std::wstring proxy = format(L"%s:%d", m_record.proxyHost.c_str(), m_record.proxyPort);
        m_internet = InternetOpenW(agent, INTERNET_OPEN_TYPE_PROXY, proxy.c_str(), nullptr, 0);
    }
    HINTERNET internet = m_internet.load();
    if (internet && !m_record.proxyUserName.empty())
        InternetSetOptionW(internet, INTERNET_OPTION_PROXY_USERNAME,
                           const_cast<wchar_t*>(m_record.proxyUserName.c_str()),
                           static_cast<DWORD>(m_record.proxyUserName.size()));
    if (internet && !m_record.proxyPassword.empty())
        InternetSetOptionW(internet, INTERNET_OPTION_PROXY_PASSWORD,
                           const_cast<wchar_t*>(m_record.proxyPassword.c_str()),
                           static_cast<DWORD>(m_record.proxyPassword.size()));

    m_connectThread = CreateThread(nullptr, 0, &ConnectThreadEntry, this, 0, nullptr);
    m_startTick = GetTickCount();
    if (m_record.timeout != 0) inner::SetWindowTimer(m_window, static_cast<UINT_PTR>(m_id), m_record.timeout);
}

FCHttpRequest::~FCHttpRequest() {
    if (m_window) KillTimer(m_window, static_cast<UINT_PTR>(m_id));
    if (HINTERNET request = m_request.exchange(nullptr)) InternetCloseHandle(request);
    if (m_connection) InternetCloseHandle(m_connection);
    if (HINTERNET internet = m_internet.exchange(nullptr)) InternetCloseHandle(internet);
    if (m_transferThread) CloseHandle(m_transferThread);
    if (m_connectThread) CloseHandle(m_connectThread);
}

void FCHttpRequest::Notify(UINT message, LPARAM value) const {
    SendNotifyMessageW(m_window, message, static_cast<WPARAM>(m_id), value);
}

DWORD WINAPI FCHttpRequest::ConnectThreadEntry(LPVOID self) {
    static_cast<FCHttpRequest*>(self)->Connect();
    return 0;
}

DWORD WINAPI FCHttpRequest::TransferThreadEntry(LPVOID self) {
    static_cast<FCHttpRequest*>(self)->Transfer();
    return 0;
}

void FCHttpRequest::Connect() {
    HINTERNET internet = m_internet.load();
    if (internet)
        m_connection =
            InternetConnectW(internet, m_url.hostName.c_str(), static_cast<INTERNET_PORT>(m_url.port),
                             nullptr, nullptr, INTERNET_SERVICE_HTTP, 0, 0);
    Notify(WM_HTTP_STATUS, HTTP_STATUS_CONNECTED);
}

void FCHttpRequest::OpenAndStartTransfer() {
    if (m_connectThread) {
        CloseHandle(m_connectThread);
        m_connectThread = nullptr;
    }
    DWORD flags = m_record.openFlags | INTERNET_FLAG_NO_CACHE_WRITE;
    if (m_url.scheme == INTERNET_SCHEME_HTTPS) flags |= INTERNET_FLAG_SECURE;
    if (m_connection)
        m_request = HttpOpenRequestW(m_connection, inner::VerbText(m_record.verb), m_url.urlPath.c_str(),
                                     nullptr, nullptr, nullptr, flags, 0);
    m_transferThread = CreateThread(nullptr, 0, &TransferThreadEntry, this, 0, nullptr);
}

void FCHttpRequest::Transfer() {
    std::wstring headers = m_record.extraHeaders;
    if (m_record.rangeStart != 0) headers += format(L"Range: bytes=%d-\r\n", m_record.rangeStart);
    void* body = m_record.body.empty() ? nullptr : const_cast<char*>(m_record.body.data());
    for (;;) {
        HINTERNET request = m_request.load();
        HttpSendRequestW(request, headers.empty() ? nullptr : headers.c_str(),
                         static_cast<DWORD>(headers.size()), body, static_cast<DWORD>(m_record.body.size()));
        DWORD error = request ? 0 : GetLastError();
        // Examines the response: a 401 or a proxy's 407 asks the user for
        // credentials, and only the user's OK asks for another send.
        DWORD answer =
            InternetErrorDlg(launch_state().progressWindow, request, error,
                             FLAGS_ERROR_UI_FILTER_FOR_ERRORS | FLAGS_ERROR_UI_FLAGS_CHANGE_OPTIONS |
                                 FLAGS_ERROR_UI_FLAGS_GENERATE_DATA,
                             nullptr);
        // Without a request handle (never opened, or aborted) a retry cannot succeed.
        if (answer != ERROR_INTERNET_FORCE_RETRY || !m_request.load()) break;
        Sleep(1000);
    }
    Notify(WM_HTTP_STATUS, HTTP_STATUS_RESPONSE);

    char chunk[8192];
    BOOL ok = FALSE;
    for (;;) {
        DWORD count = 0;
        ok = InternetReadFile(m_request.load(), chunk, sizeof(chunk), &count);
        if (!ok || count == 0) break;
        m_receivedBytes.fetch_add(static_cast<LONG>(count));
        m_buffer.Append(chunk, count);
        m_unreportedBytes.fetch_add(static_cast<LONG>(count));
        ReportData(false);
    }
    ReportData(true);
    m_lastReadResult = ok;
    Notify(WM_HTTP_STATUS, HTTP_STATUS_TRANSFER_ENDED);
}

static std::wstring QueryText(HINTERNET request, DWORD info) {
    DWORD size = 0;
    if (HttpQueryInfoW(request, info, nullptr, &size, nullptr) || size == 0) return {};
    std::wstring text(size / sizeof(wchar_t) + 1, L'\0');
    DWORD bytes = static_cast<DWORD>(text.size() * sizeof(wchar_t));
    if (!HttpQueryInfoW(request, info, text.data(), &bytes, nullptr)) return {};
    text.resize(bytes / sizeof(wchar_t));
    return text;
}

void FCHttpRequest::ReadResponseInfo() {
    HINTERNET request = m_request.load();
    if (!request) return;
    std::wstring status = QueryText(request, HTTP_QUERY_STATUS_CODE);
    if (!status.empty()) m_statusCode = inner::ParseHeaderNumber(status);
    std::wstring length = QueryText(request, HTTP_QUERY_CONTENT_LENGTH);
    if (!length.empty()) m_contentLength = inner::ParseHeaderNumber(length);
}

void FCHttpRequest::ReportData(bool final) {
    constexpr DWORD kReportInterval = 50;
    LONG unreported = m_unreportedBytes.load();
    if (unreported == 0) return;
    DWORD now = GetTickCount();
    if (!final && m_lastDataMessage != 0 && now - m_lastDataMessage < kReportInterval) return;
    // While a message is on its way it takes everything gathered until it is
    // handled, this final part included.
    if (m_dataMessagePending.exchange(true)) return;
    m_lastDataMessage = now ? now : 1;
    Notify(WM_HTTP_DATA, static_cast<LPARAM>(unreported));
}

int FCHttpRequest::TakeUnreportedBytes() {
    // Cleared first: bytes added after the exchange then get a message of their own.
    m_dataMessagePending = false;
    return m_unreportedBytes.exchange(0);
}

void FCHttpRequest::TakeBody(std::string& destination) {
    m_buffer.Take(destination);
}

static bool IsRunning(HANDLE thread) {
    return thread && WaitForSingleObject(thread, 0) == WAIT_TIMEOUT;
}

HANDLE FCHttpRequest::Abort() {
    if (IsRunning(m_transferThread)) {
        if (HINTERNET request = m_request.exchange(nullptr)) InternetCloseHandle(request);
        return m_transferThread;
    }
    if (IsRunning(m_connectThread)) {
        if (HINTERNET internet = m_internet.exchange(nullptr)) InternetCloseHandle(internet);
        return m_connectThread;
    }
    return nullptr;
}
