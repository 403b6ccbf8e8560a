#include "UpdaterSession.h"

#include <utility>

#include "launch_state.h"
#include "window_messages.h"

namespace IPC {

UpdaterSession::UpdaterSession(UpdaterTiming timing) : client_(*this, timing) {}

void UpdaterSession::SetEngineHooks(UpdaterEngineHooks hooks) {
    std::lock_guard<std::mutex> guard(lock_);
    hooks_ = std::move(hooks);
}

std::optional<bool> UpdaterSession::RelaunchAnswer() const {
    std::lock_guard<std::mutex> guard(lock_);
    return relaunchAnswer_;
}

bool UpdaterSession::NoticeWasRefused() const {
    std::lock_guard<std::mutex> guard(lock_);
    return noticeRefused_;
}

bool UpdaterSession::UpdaterMode() const {
    return launch_state().updaterMode;
}

HWND UpdaterSession::ProgressWindow() const {
    return launch_state().progressWindow;
}

void UpdaterSession::NoticeRefused() {
    std::function<void()> hook;
    {
        std::lock_guard<std::mutex> guard(lock_);
        noticeRefused_ = true;
        hook = hooks_.noticeRefused;
    }
    // Outside the lock: the hook may well call back into the session.
    if (hook) hook();
}

void UpdaterSession::RelaunchAnswered(bool relaunch) {
    std::function<void(bool)> hook;
    {
        std::lock_guard<std::mutex> guard(lock_);
        relaunchAnswer_ = relaunch;
        hook = hooks_.relaunchAnswered;
    }
    if (hook) hook(relaunch);
}

void UpdaterSession::ShutdownBlockReasonArrived() {
    if (HWND window = ProgressWindow()) PostMessageW(window, WM_DL_BLOCK_SHUTDOWN, 0, 0);
}

UpdaterSession& updater_session() {
    // Never destroyed: workers may still report while the process exits.
    static UpdaterSession* session = new UpdaterSession();
    return *session;
}

}  // namespace IPC
