#include "updater_link_ipc.h"

#include "progress_window.h"

bool SessionUpdaterLink::Connect(const UpdaterConnectRequest& request) {
    const bool accepted =
        client_.ConnectToUpdater(request.updaterPath, request.updaterProcessId, request.sessionId,
                                 request.productFolder, request.pipeName, request.applicationIdOverride);
    if (!accepted) return false;
    // Runs on the window thread inside WM_DL_CONNECT_UPDATER, so the posted
    // WM_DL_BLOCK_SHUTDOWN finds the reason in place.
    ui_state().shutdownBlockReason = IPC::ShutdownBlockReason();
    return true;
}

void SessionUpdaterLink::SendFailure(const std::wstring& text, DWORD code) {
    client_.ReportError(text, code);
}

void InstallUpdaterLink() {
    // Lives as long as the process: failure reports may come during exit.
    static SessionUpdaterLink* link = new SessionUpdaterLink(IPC::updater_session().Client());
    set_updater_link(link);
}
