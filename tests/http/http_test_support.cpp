#include "http_test_support.h"

#include <algorithm>
#include <cwchar>

#include "launch_state.h"

namespace http_testing {

int ServerPort(const wchar_t* name) {
    wchar_t value[32] = {};
    if (!GetEnvironmentVariableW(name, value, 32)) return 0;
    return _wtoi(value);
}

std::wstring HttpUrl(const std::wstring& path) {
    return L"http://127.0.0.1:" + std::to_wstring(ServerPort(L"QR_HTTP_PORT")) + path;
}

std::wstring HttpsUrl(const std::wstring& path) {
    return L"https://localhost:" + std::to_wstring(ServerPort(L"QR_HTTPS_PORT")) + path;
}

bool IsPattern(const std::string& bytes) {
    for (size_t i = 0; i < bytes.size(); ++i)
        if (static_cast<unsigned char>(bytes[i]) != i % 251) return false;
    return true;
}

bool PumpUntil(const std::function<bool()>& done, DWORD timeout_ms) {
    DWORD start = GetTickCount();
    while (!done()) {
        if (GetTickCount() - start > timeout_ms) return done();
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
    }
    return true;
}

void PumpFor(DWORD ms) {
    DWORD start = GetTickCount();
    PumpUntil([&] { return GetTickCount() - start >= ms; }, ms + 1000);
}

HANDLE DuplicateThread(HANDLE thread) {
    HANDLE copy = nullptr;
    if (thread)
        DuplicateHandle(GetCurrentProcess(), thread, GetCurrentProcess(), &copy, SYNCHRONIZE, FALSE, 0);
    return copy;
}

bool HasEnded(HANDLE thread) {
    return WaitForSingleObject(thread, 0) == WAIT_OBJECT_0;
}

RecordingManager::RecordingManager() : m_thread(GetCurrentThreadId()) {}

Outcome& RecordingManager::operator[](RequestId id) {
    auto found =
        std::find_if(m_outcomes.begin(), m_outcomes.end(), [id](const Outcome& o) { return o.id == id; });
    if (found != m_outcomes.end()) return *found;
    m_outcomes.push_back(Outcome{});
    m_outcomes.back().id = id;
    return m_outcomes.back();
}

bool RecordingManager::WaitDone(RequestId id, DWORD timeout_ms) {
    return PumpUntil(
        [&] {
            const Outcome& o = (*this)[id];
            return (o.finishes > 0 || o.timeouts > 0) && FindRequest(id) == nullptr && GetRetiredCount() == 0;
        },
        timeout_ms);
}

Outcome& RecordingManager::Record(FCHttpRequest& request) {
    Outcome& outcome = (*this)[request.GetRequestId()];
    if (GetCurrentThreadId() != m_thread) outcome.wrongThread = true;
    return outcome;
}

void RecordingManager::OnResponseReceived(FCHttpRequest& request) {
    Outcome& outcome = Record(request);
    ++outcome.responses;
    outcome.statusCode = request.GetStatusCode();
    outcome.contentLength = request.GetContentLength();
    if (onResponse) onResponse(request);
}

void RecordingManager::OnRequestFinished(FCHttpRequest& request) {
    Outcome& outcome = Record(request);
    ++outcome.finishes;
    outcome.finalStatusCode = request.GetStatusCode();
    outcome.dataBytesAtFinish = outcome.dataBytes;
    outcome.lastReadResult = request.GetLastReadResult();
    outcome.receivedBytes = request.GetReceivedBytes();
    request.TakeBody(outcome.body);
}

void RecordingManager::OnRequestTimedOut(FCHttpRequest& request) {
    ++Record(request).timeouts;
}

void RecordingManager::OnDataReceived(FCHttpRequest& request, int byteCount) {
    Outcome& outcome = Record(request);
    ++outcome.dataMessages;
    outcome.dataBytes += byteCount;
    if (onData) onData(request, byteCount);
}

OwnerWindow::OwnerWindow() {
    m_window = CreateWindowExW(0, L"STATIC", L"Quillrun test owner", WS_OVERLAPPEDWINDOW, 0, 0, 200, 100,
                               nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
    launch_state().progressWindow = m_window;
}

OwnerWindow::~OwnerWindow() {
    launch_state().progressWindow = nullptr;
    if (m_window) DestroyWindow(m_window);
}

DialogAnswerer::DialogAnswerer(bool pressOk, std::wstring user, std::wstring password)
    : m_pressOk(pressOk),
      m_user(std::move(user)),
      m_password(std::move(password)),
      m_thread([this] { Run(); }) {}

DialogAnswerer::~DialogAnswerer() {
    m_stop = true;
    m_thread.join();
}

namespace {
struct Search {
    DWORD process;
    std::vector<HWND> dialogs;
};

BOOL CALLBACK CollectDialog(HWND window, LPARAM context) {
    auto* search = reinterpret_cast<Search*>(context);
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    wchar_t className[16] = {};
    GetClassNameW(window, className, 16);
    if (process == search->process && wcscmp(className, L"#32770") == 0 && IsWindowVisible(window))
        search->dialogs.push_back(window);
    return TRUE;
}

BOOL CALLBACK FillEdit(HWND child, LPARAM context) {
    auto* texts = reinterpret_cast<std::pair<const std::wstring*, const std::wstring*>*>(context);
    wchar_t className[16] = {};
    GetClassNameW(child, className, 16);
    if (_wcsicmp(className, L"Edit") != 0 || !IsWindowVisible(child)) return TRUE;
    bool password = (GetWindowLongW(child, GWL_STYLE) & ES_PASSWORD) != 0;
    SendMessageW(child, WM_SETTEXT, 0,
                 reinterpret_cast<LPARAM>((password ? texts->second : texts->first)->c_str()));
    return TRUE;
}
}  // namespace

void DialogAnswerer::Run() {
    std::vector<HWND> done;
    while (!m_stop) {
        done.erase(std::remove_if(done.begin(), done.end(), [](HWND w) { return !IsWindow(w); }), done.end());
        Search search{GetCurrentProcessId(), {}};
        EnumWindows(&CollectDialog, reinterpret_cast<LPARAM>(&search));
        for (HWND dialog : search.dialogs) {
            if (std::find(done.begin(), done.end(), dialog) != done.end()) continue;
            Sleep(200);  // let the dialog finish initialising its fields
            if (m_pressOk) {
                std::pair<const std::wstring*, const std::wstring*> texts{&m_user, &m_password};
                EnumChildWindows(dialog, &FillEdit, reinterpret_cast<LPARAM>(&texts));
            }
            PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(m_pressOk ? IDOK : IDCANCEL, BN_CLICKED), 0);
            done.push_back(dialog);
            ++m_answered;
        }
        Sleep(50);
    }
}

}  // namespace http_testing
