#include "http_request_manager.h"

#include <algorithm>
#include <vector>

namespace {
const wchar_t kWindowClass[] = L"lanternkit_http_event_wnd";
using Guard = inner::FCAutoCSec::Guard;

bool IsRunning(HANDLE thread) {
    return thread && WaitForSingleObject(thread, 0) == WAIT_TIMEOUT;
}
}  // namespace

FCHttpRequestManager::FCHttpRequestManager() {
    // At static initialisation the launch state is not filled yet, so the
    // instance comes from the module itself.
    HINSTANCE instance = GetModuleHandleW(nullptr);
    WNDCLASSEXW windowClass = {};
    windowClass.cbSize = sizeof(windowClass);
    windowClass.lpfnWndProc = &WindowProc;
    windowClass.hInstance = instance;
    windowClass.lpszClassName = kWindowClass;
    RegisterClassExW(&windowClass);  // fails harmlessly when a manager registered it before
    m_window =
        CreateWindowExW(0, kWindowClass, nullptr, 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, instance, nullptr);
    if (m_window) SetWindowLongPtrW(m_window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
}

FCHttpRequestManager::~FCHttpRequestManager() {
    if (m_window) {
        SetWindowLongPtrW(m_window, GWLP_USERDATA, 0);
        DestroyWindow(m_window);
        m_window = nullptr;
    }

    std::vector<HANDLE> running;
    {
        Guard guard(m_listLock);
        for (const auto* list : {&m_active, &m_retired}) {
            for (FCHttpRequest* request : *list) {
                HANDLE thread = request->Abort();
                if (thread && std::find(running.begin(), running.end(), thread) == running.end())
                    running.push_back(thread);
            }
        }
    }
    // One shared deadline; waits go in batches since one wait takes at most
    // MAXIMUM_WAIT_OBJECTS handles.
    DWORD start = GetTickCount();
    for (size_t first = 0; first < running.size(); first += MAXIMUM_WAIT_OBJECTS) {
        DWORD spent = GetTickCount() - start;
        DWORD left = spent < m_threadWait ? m_threadWait - spent : 0;
        DWORD count = static_cast<DWORD>(std::min<size_t>(MAXIMUM_WAIT_OBJECTS, running.size() - first));
        WaitForMultipleObjects(count, running.data() + first, TRUE, left);
    }
    for (HANDLE thread : running)
        if (IsRunning(thread)) TerminateThread(thread, 0);

    for (FCHttpRequest* request : m_active) delete request;
    for (FCHttpRequest* request : m_retired) delete request;
    m_active.clear();
    m_retired.clear();
}

RequestId FCHttpRequestManager::AddRequest(const HttpRequestRecord& record) {
    Guard guard(m_listLock);
    inner::SetWindowTimer(m_window, kPurgeTimer, kPurgePeriod);
    RequestId id = m_nextId++;
    // Appended before the lock is released, so the window thread already
    // finds it when the request's own time-out timer is to be armed.
    m_active.push_back(new FCHttpRequest(id, m_window, record));
    return id;
}

void FCHttpRequestManager::DeleteRequest(RequestId id) {
    Guard guard(m_listLock);
    auto found = std::find_if(m_active.begin(), m_active.end(),
                              [id](const FCHttpRequest* request) { return request->GetRequestId() == id; });
    if (found == m_active.end()) return;
    FCHttpRequest* request = *found;
    request->Abort();
    m_active.erase(found);
    m_retired.push_back(request);
}

void FCHttpRequestManager::OnResponseReceived(FCHttpRequest&) {}
void FCHttpRequestManager::OnRequestFinished(FCHttpRequest&) {}
void FCHttpRequestManager::OnRequestTimedOut(FCHttpRequest&) {}
void FCHttpRequestManager::OnDataReceived(FCHttpRequest&, int) {}

size_t FCHttpRequestManager::GetActiveCount() const {
    Guard guard(m_listLock);
    return m_active.size();
}

size_t FCHttpRequestManager::GetRetiredCount() const {
    Guard guard(m_listLock);
    return m_retired.size();
}

FCHttpRequest* FCHttpRequestManager::FindRequest(RequestId id) const {
    Guard guard(m_listLock);
    return FindActive(id);
}

FCHttpRequest* FCHttpRequestManager::FindActive(RequestId id) const {
    for (FCHttpRequest* request : m_active)
        if (request->GetRequestId() == id) return request;
    return nullptr;
}

LRESULT CALLBACK FCHttpRequestManager::WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* manager = reinterpret_cast<FCHttpRequestManager*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    if (!manager) return DefWindowProcW(window, message, wParam, lParam);
    switch (message) {
        case WM_TIMER:
            manager->OnTimer(static_cast<UINT_PTR>(wParam));
            return 0;
        case WM_HTTP_STATUS:
            manager->OnStatus(static_cast<RequestId>(wParam), lParam);
            return 0;
        case WM_HTTP_DATA:
            manager->OnData(static_cast<RequestId>(wParam));
            return 0;
        case WM_HTTP_SET_TIMER:
            manager->OnSetTimer(static_cast<UINT_PTR>(wParam), static_cast<UINT>(lParam));
            return 0;
        default:
            return DefWindowProcW(window, message, wParam, lParam);
    }
}

void FCHttpRequestManager::OnStatus(RequestId id, LPARAM status) {
    FCHttpRequest* request = nullptr;
    {
        // Opening and reading the response run under the lock so that an
        // abort from another thread never closes a handle in the middle.
        Guard guard(m_listLock);
        request = FindActive(id);
        if (!request) return;
        if (status == HTTP_STATUS_CONNECTED) {
            request->OpenAndStartTransfer();
            return;
        }
        if (status == HTTP_STATUS_RESPONSE) request->ReadResponseInfo();
    }
    if (status == HTTP_STATUS_RESPONSE) {
        OnResponseReceived(*request);
    } else if (status == HTTP_STATUS_TRANSFER_ENDED) {
        OnRequestFinished(*request);
        DeleteRequest(id);
    }
}

void FCHttpRequestManager::OnData(RequestId id) {
    FCHttpRequest* request = nullptr;
    {
        Guard guard(m_listLock);
        request = FindActive(id);
    }
    if (!request) return;
    int byteCount = request->TakeUnreportedBytes();
    if (byteCount > 0) OnDataReceived(*request, byteCount);
}

void FCHttpRequestManager::OnTimer(UINT_PTR id) {
    if (id == kPurgeTimer) {
        {
            Guard guard(m_listLock);
            // Killed under the lock: an AddRequest on another thread either
            // saw it running or re-arms it through a message handled later.
            if (m_active.empty() && m_retired.empty()) {
                KillTimer(m_window, kPurgeTimer);
                return;
            }
        }
        while (PurgeOne()) {
        }
        return;
    }
    KillTimer(m_window, id);
    RequestId requestId = static_cast<RequestId>(id);
    FCHttpRequest* request = nullptr;
    {
        Guard guard(m_listLock);
        request = FindActive(requestId);
    }
    if (!request) return;
    OnRequestTimedOut(*request);
    DeleteRequest(requestId);
}

void FCHttpRequestManager::OnSetTimer(UINT_PTR id, UINT period) {
    Guard guard(m_listLock);
    bool wanted = id == kPurgeTimer ? !(m_active.empty() && m_retired.empty())
                                    : FindActive(static_cast<RequestId>(id)) != nullptr;
    if (wanted) SetTimer(m_window, id, period, nullptr);
}

bool FCHttpRequestManager::PurgeOne() {
    FCHttpRequest* done = nullptr;
    {
        Guard guard(m_listLock);
        auto found = std::find_if(m_retired.begin(), m_retired.end(), [](const FCHttpRequest* request) {
            return !IsRunning(request->GetConnectThread()) && !IsRunning(request->GetTransferThread());
        });
        if (found == m_retired.end()) return false;
        done = *found;
        m_retired.erase(found);
    }
    delete done;
    return true;
}
