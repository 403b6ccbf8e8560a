#pragma once
// The windows' updater link over the process-wide updater session.
#include "UpdaterSession.h"
#include "updater_link.h"

class SessionUpdaterLink final : public IUpdaterLink {
public:
    explicit SessionUpdaterLink(IPC::UpdaterClient& client) : client_(client) {}

    // Connects with the request's values. Accepted: the shutdown-block reason
    // the updater sent is handed to the progress window before it handles
    // WM_DL_BLOCK_SHUTDOWN. Refused: false with the last error kept.
    bool Connect(const UpdaterConnectRequest& request) override;
    // An ErrorReport; dropped when no pipe is open.
    void SendFailure(const std::wstring& text, DWORD code) override;

private:
    IPC::UpdaterClient& client_;
};

// Makes the session's link the process-wide updater link (updater mode).
void InstallUpdaterLink();
