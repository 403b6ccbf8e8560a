#pragma once
// An engine stand-in that records what the updater conversation tells it.
#include <windows.h>

#include <atomic>
#include <string>
#include <vector>

#include "UpdaterConversation.h"

class RecordingHost : public IPC::UpdaterHost {
public:
    explicit RecordingHost(bool updaterMode = true) : updaterMode_(updaterMode) {}
    bool UpdaterMode() const override { return updaterMode_; }
    HWND ProgressWindow() const override { return window; }
    void NoticeRefused() override { ++refusals; }
    void RelaunchAnswered(bool relaunch) override { relaunches.push_back(relaunch); }
    void ShutdownBlockReasonArrived() override { ++blockShutdownPosts; }

    HWND window = reinterpret_cast<HWND>(static_cast<std::intptr_t>(0x12345));
    int refusals = 0;
    std::vector<bool> relaunches;
    int blockShutdownPosts = 0;

private:
    bool updaterMode_;
};

// A pipe name no other run uses.
inline std::wstring UniquePipeName(const wchar_t* tag) {
    static std::atomic<int> counter{0};
    return std::wstring(L"qrtest_") + tag + L"_" + std::to_wstring(GetCurrentProcessId()) + L"_" +
           std::to_wstring(counter++);
}
