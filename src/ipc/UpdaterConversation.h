#pragma once
// The downloader's side of the conversation with the updater that started
// it (updater mode), over the updater's pipe. Every operation blocks until
// its exchange ends and never fails its caller: after 10 failed attempts a
// connect counts as refused, a notice or progress report as accepted, and
// an error report or disconnect is dropped.
#include <windows.h>

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "InstallerProgress.h"
#include "Pipe.h"
#include "Protocol.h"

struct LaunchState;

namespace IPC {

// What the conversation needs from the engine that owns it.
class UpdaterHost {
public:
    virtual ~UpdaterHost() = default;
    virtual bool UpdaterMode() const = 0;
    // Travels in Connect and Disconnect as its 32-bit value, sign-extended.
    virtual HWND ProgressWindow() const = 0;
    // The updater refused a notice: the engine sets its cancelled flag.
    virtual void NoticeRefused() = 0;
    // The updater answered the relaunch question of a notice.
    virtual void RelaunchAnswered(bool relaunch) = 0;
    // The shutdown-block reason was stored; post WM_DL_BLOCK_SHUTDOWN
    // (wParam 0, lParam 0) to the progress window.
    virtual void ShutdownBlockReasonArrived() = 0;
};

// Waits of the retry and reconnection policy. Tests shorten them.
struct UpdaterTiming {
    int attempts = 10;
    DWORD retryWaitMs = 100;
    DWORD reopenWaitMs = 500;
    int reopenBudgetMs = 5000;
};

class UpdaterClient {
public:
    explicit UpdaterClient(UpdaterHost& host, UpdaterTiming timing = {});
    UpdaterClient(const UpdaterClient&) = delete;
    UpdaterClient& operator=(const UpdaterClient&) = delete;

    // Stores the updater values and, in updater mode, announces this process.
    // True when the updater accepted; its shutdown-block reason is then
    // stored (ShutdownBlockReason) and the host told.
    bool ConnectToUpdater(const std::wstring& updaterPath, DWORD updaterProcessId, const std::wstring& sid,
                          const std::wstring& productFolder, const std::wstring& pipeName,
                          const std::wstring& applicationId);

    // A client pipe on the updater pipe name, retried for about 5 s; throws
    // "Unable to open named pipe.".
    std::shared_ptr<Pipe> OpenUpdaterPipe();

    // Sends a request and receives its reply; when that fails, waits, reopens
    // the pipe and tries once more (that failure reaches the caller).
    void Transact(const OutputBuffer& request, InputBuffer& reply);

    // Reports one step of the run. False when the updater refused (the host
    // was told through NoticeRefused).
    bool UpdaterNotice(std::uint32_t kind, const std::wstring& text, std::int64_t bytesTotal,
                       std::int64_t bytesDone, std::uint32_t totalSteps, std::uint32_t completedSteps,
                       bool prerequisite);

    void ReportError(const std::wstring& message, std::uint32_t code);
    // Says goodbye and lets go of the pipe.
    void DisconnectFromUpdater();

    // Installer UI message (kind = message type & 0xFF000000) with its record.
    // False only when a report was sent and the updater answered false.
    bool ReportInstallerProgress(std::uint32_t kind, unsigned long record);
    // The same with the record already formatted (nullopt: formatting failed).
    bool ReportInstallerProgressText(std::uint32_t kind, std::optional<std::wstring> recordText);

    // Installer run state, set by the package installation.
    void ResetInstallerProgress();
    void SetMainPackage(bool main) { mainPackage_ = main; }
    void SetInstallerHandle(unsigned long install) { installerHandle_ = install; }
    const InstallerProgressState& InstallerProgress() const { return progress_; }

    bool HasPipe() const;
    const std::wstring& UpdaterPath() const { return updaterPath_; }
    DWORD UpdaterProcessId() const { return updaterProcessId_; }
    const std::wstring& UpdaterSid() const { return updaterSid_; }
    const std::wstring& ProductFolder() const { return productFolder_; }
    const std::wstring& UpdaterPipeName() const { return updaterPipeName_; }
    const std::wstring& ApplicationId() const { return applicationId_; }
    // The folder that holds the updater's own folder.
    const std::wstring& UpdaterParentFolder() const { return updaterParentFolder_; }

private:
    template <typename Attempt>
    bool Retry(Attempt&& attempt);
    void TransactLocked(const OutputBuffer& request, InputBuffer& reply);
    std::int64_t WindowValue() const;

    UpdaterHost& host_;
    UpdaterTiming timing_;

    std::wstring updaterPath_;
    DWORD updaterProcessId_ = 0;
    std::wstring updaterSid_;
    std::wstring productFolder_;
    std::wstring updaterPipeName_;
    std::wstring applicationId_;
    std::wstring updaterParentFolder_;

    // Guards pipe_ for one whole exchange: notices come from the run's
    // thread, error reports and the disconnect from the window thread.
    mutable std::mutex exchangeLock_;
    std::shared_ptr<Pipe> pipe_;

    bool mainPackage_ = false;
    unsigned long installerHandle_ = 0;
    InstallerProgressState progress_;
};

// The shutdown-block reason the updater sent with its Connect answer. Written
// before WM_DL_BLOCK_SHUTDOWN is posted; read by the window thread after.
std::wstring ShutdownBlockReason();

// WM_DL_CONNECT_UPDATER: connects with the launch state's updater values.
// True: the window posts WM_DL_START. A refusal throws windows_error
// "Failed to connect to the updater process." with the last error as code.
bool HandleConnectUpdater(UpdaterClient& client, const LaunchState& launch);

// WM_DL_BLOCK_SHUTDOWN: registers the stored reason for the window on
// Windows Vista and later. True when registered (the window then sets its
// shutdown-block flag).
bool HandleBlockShutdown(HWND progressWindow, DWORD osMajorVersion);

// The record text for an installer message: "" for a record without
// fields, nullopt when formatting fails.
std::optional<std::wstring> FormatInstallerRecord(unsigned long install, unsigned long record);

}  // namespace IPC
