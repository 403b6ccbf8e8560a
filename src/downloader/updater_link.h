#pragma once
// The downloader's side of the updater conversation, as the windows and the
// failure reports use it. Installed by the conversation code; absent while
// the process runs on its own.
#include <windows.h>

#include <string>

struct UpdaterConnectRequest {
    std::wstring updaterPath;
    DWORD updaterProcessId = 0;
    std::wstring sessionId;
    std::wstring productFolder;
    std::wstring pipeName;
    std::wstring applicationIdOverride;
};

class IUpdaterLink {
public:
    virtual ~IUpdaterLink() = default;
    // True when the updater accepted us; false with the last error set.
    virtual bool Connect(const UpdaterConnectRequest& request) = 0;
    // Reports a failure; does nothing when no pipe is open.
    virtual void SendFailure(const std::wstring& text, DWORD code) = 0;
};

IUpdaterLink* updater_link();
void set_updater_link(IUpdaterLink* link);
