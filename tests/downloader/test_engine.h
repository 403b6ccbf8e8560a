#pragma once
// An engine for the window tests: records what the UI thread asks of it and
// plays a scripted outcome for each start by posting the engine's messages.
#include <windows.h>

#include <functional>
#include <string>
#include <vector>

#include "engine_interface.h"
#include "window_messages.h"

class TestEngine : public IDownloadEngine {
public:
    TestEngine() : finished_(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {}
    ~TestEngine() override { CloseHandle(finished_); }

    // Called on each Start with the start's index; posts the outcome.
    std::function<void(TestEngine&, size_t)> onStart;

    EngineStartup startup;
    bool initialized = false;
    std::vector<std::pair<int, std::wstring>> starts;  // source kind, location
    int resets = 0;
    LONG cancelRequests = 0;
    LONG stopRequests = 0;
    bool stopFlag = false;
    LONG task = kTaskIdle;
    LONG errorCode = 0;
    bool elevationRequired = false;
    std::wstring cacheFolder = L"C:\\cache";
    int cleanups = 0;
    bool failStart = false;
    bool signalStarted = true;

    // Ends the current run the way the engine's loop does.
    void finish(UINT message, const wchar_t* text = nullptr, LPARAM taskId = 0) {
        PostMessageW(startup.notificationWindow, message,
                     reinterpret_cast<WPARAM>(text ? make_message_text(text) : nullptr), taskId);
        SetEvent(finished_);
    }
    void set_finished() { SetEvent(finished_); }
    void post(UINT message, WPARAM wParam, LPARAM lParam) {
        PostMessageW(startup.notificationWindow, message, wParam, lParam);
    }

    bool Initialize(const EngineStartup& values) override {
        startup = values;
        initialized = true;
        return true;
    }
    bool Start(int sourceKind, const std::wstring& location) override {
        if (failStart) {
            SetLastError(ERROR_NOT_ENOUGH_MEMORY);
            return false;
        }
        starts.emplace_back(sourceKind, location);
        if (signalStarted) SetEvent(startup.startedEvent);
        if (onStart) onStart(*this, starts.size() - 1);
        return true;
    }
    void Reset() override { ++resets; }
    void RequestCancel() override { ++cancelRequests; }
    void RequestStop() override {
        if (!stopFlag) ++stopRequests;
        stopFlag = true;
    }
    LONG CurrentTask() const override { return task; }
    HANDLE FinishedEvent() const override { return finished_; }
    LONG ErrorCode() const override { return errorCode; }
    bool ElevationRequired() const override { return elevationRequired; }
    void ClearElevationRequired() override { elevationRequired = false; }
    std::wstring CacheFolder() const override { return cacheFolder; }
    void Cleanup() override { ++cleanups; }

private:
    HANDLE finished_;
};
