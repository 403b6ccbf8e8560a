#pragma once
// What the windows need from the deployment engine. The engine runs its
// task loop on a worker thread; the UI thread only starts, resets, asks it
// to stop and waits for its finished event.
#include <windows.h>

#include <string>

// Values the engine receives once the windows exist.
struct EngineStartup {
    HINSTANCE instance = nullptr;
    HWND notificationWindow = nullptr;  // the progress window; the engine posts WM_DL_* here
    HANDLE startedEvent = nullptr;      // manual reset; the engine sets it when its loop starts
    bool administratorMode = false;     // `privileges` is not "user"
    bool elevated = false;
    bool vistaOrLater = false;  // OS major version 6 or more
    std::wstring afterReboot;   // cache folder of an interrupted run, or empty
    bool updaterAutoStart = false;
    bool updaterService = false;
    bool lowIntegrity = false;
};

class IDownloadEngine {
public:
    virtual ~IDownloadEngine() = default;

    // Prepares the folders and remembers the start values; called once.
    virtual bool Initialize(const EngineStartup& startup) = 0;
    // Queues the task loop on a worker thread. `sourceKind` says what
    // `location` is (1 local path, 2 http(s) URL, 4 UNC path). False with
    // the last error set when the loop could not be queued.
    virtual bool Start(int sourceKind, const std::wstring& location) = 0;
    // Clears the run state after a finished loop so that Start can run again.
    virtual void Reset() = 0;
    // Atomic exchange of the cancel request to 1.
    virtual void RequestCancel() = 0;
    // Raises the stop-request flag unless it is already set.
    virtual void RequestStop() = 0;
    // The task the loop runs now (atomic read).
    virtual LONG CurrentTask() const = 0;
    // Manual reset; signalled when the loop has ended (never reset).
    virtual HANDLE FinishedEvent() const = 0;
    // Win32 code, HRESULT or HTTP status of the last failure.
    virtual LONG ErrorCode() const = 0;
    virtual bool ElevationRequired() const = 0;
    virtual void ClearElevationRequired() = 0;
    virtual std::wstring CacheFolder() const = 0;
    // Exit clean-up run by the common shutdown; safe to call more than once.
    virtual void Cleanup() = 0;
};

// The process-wide engine; null until one is installed.
IDownloadEngine* download_engine();
void set_download_engine(IDownloadEngine* engine);
