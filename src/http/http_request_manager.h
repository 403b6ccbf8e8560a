#pragma once
// Owns the program's HTTP requests: numbers and starts them, turns the
// reports of their worker threads into callbacks on one thread, runs the
// per-request time-outs and deletes a request only after its threads ended.
#include <windows.h>

#include <deque>

#include "http_request.h"

class FCHttpRequestManager {
public:
    // Creates the hidden notification window on the calling thread; every
    // callback runs on that thread, which must keep pumping messages. Safe
    // during static initialisation.
    FCHttpRequestManager();
    // Destroys the window, aborts every request, waits up to 3000 ms for the
    // threads still running, terminates the rest and deletes every request.
    virtual ~FCHttpRequestManager();
    FCHttpRequestManager(const FCHttpRequestManager&) = delete;
    FCHttpRequestManager& operator=(const FCHttpRequestManager&) = delete;

    // Starts a request; any thread. Ids start at 100 and are never reused.
    RequestId AddRequest(const HttpRequestRecord& record);
    // Aborts an active request and retires it; any thread. Unknown ids are ignored.
    void DeleteRequest(RequestId id);

    HWND GetNotificationWindow() const { return m_window; }

protected:
    // Called on the window thread, never with the list lock held, so they
    // may call AddRequest and DeleteRequest.
    virtual void OnResponseReceived(FCHttpRequest& request);
    // Followed by DeleteRequest for the same id.
    virtual void OnRequestFinished(FCHttpRequest& request);
    // Followed by DeleteRequest for the same id.
    virtual void OnRequestTimedOut(FCHttpRequest& request);
    virtual void OnDataReceived(FCHttpRequest& request, int byteCount);

    // Window thread only: the pointer stays valid until the request is
    // retired and purged, which happens on this thread too.
    FCHttpRequest* FindRequest(RequestId id) const;
    size_t GetActiveCount() const;
    size_t GetRetiredCount() const;

private:
    static constexpr UINT_PTR kPurgeTimer = 30;
    static constexpr UINT kPurgePeriod = 100;

    static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    void OnStatus(RequestId id, LPARAM status);
    void OnData(RequestId id);
    void OnTimer(UINT_PTR id);
    void OnSetTimer(UINT_PTR id, UINT period);
    // Deletes the first retired request whose threads have both ended; false
    // when none qualifies.
    bool PurgeOne();
    FCHttpRequest* FindActive(RequestId id) const;  // caller holds m_listLock

    // Both lists are shared between the window thread (status, timers,
    // purge) and whichever thread calls AddRequest/DeleteRequest (the
    // engine's work-item thread); m_listLock guards them and m_nextId. Only
    // the window thread (or the destructor) deletes a request, so a pointer
    // found under the lock stays valid on the window thread after the lock
    // is released; callbacks run only after it is released.
    std::deque<FCHttpRequest*> m_active;
    std::deque<FCHttpRequest*> m_retired;
    HWND m_window = nullptr;
    DWORD m_threadWait = 3000;
    RequestId m_nextId = 100;
    mutable inner::FCAutoCSec m_listLock;
};
