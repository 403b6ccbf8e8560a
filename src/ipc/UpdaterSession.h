#pragma once
// The process-wide conversation with the updater. The window thread uses it
// to connect and to report failures; the engine uses the same client for its
// notices, installer progress and the final disconnect. The answers that
// concern the run (a refused notice, the relaunch answer) go to hooks the
// engine registers when it initialises.
#include <windows.h>

#include <functional>
#include <mutex>
#include <optional>

#include "UpdaterConversation.h"

namespace IPC {

// What the engine wants to hear from the updater. Called on the thread that
// sent the notice; an empty hook is skipped.
struct UpdaterEngineHooks {
    // The updater refused a notice: the run stops as if cancelled.
    std::function<void()> noticeRefused;
    // The updater answered the restart question of host applications.
    std::function<void(bool relaunch)> relaunchAnswered;
};

class UpdaterSession final : public UpdaterHost {
public:
    explicit UpdaterSession(UpdaterTiming timing = {});
    UpdaterSession(const UpdaterSession&) = delete;
    UpdaterSession& operator=(const UpdaterSession&) = delete;

    UpdaterClient& Client() { return client_; }

    // Replaces the engine's hooks; pass {} to drop them (before the engine
    // goes away).
    void SetEngineHooks(UpdaterEngineHooks hooks);

    // The last relaunch answer received, also when no hook was set.
    std::optional<bool> RelaunchAnswer() const;
    // True once any notice was refused (never cleared).
    bool NoticeWasRefused() const;

    // UpdaterHost: mode and window from the launch state.
    bool UpdaterMode() const override;
    HWND ProgressWindow() const override;
    void NoticeRefused() override;
    void RelaunchAnswered(bool relaunch) override;
    // Posts WM_DL_BLOCK_SHUTDOWN to the progress window.
    void ShutdownBlockReasonArrived() override;

private:
    mutable std::mutex lock_;
    UpdaterEngineHooks hooks_;
    std::optional<bool> relaunchAnswer_;
    bool noticeRefused_ = false;
    UpdaterClient client_;
};

// The one session of this process.
UpdaterSession& updater_session();

}  // namespace IPC
