#include "UpdaterConversation.h"

#include <shlwapi.h>

#include "launch_state.h"
#include "ipc_texts.h"

namespace IPC {

namespace {

std::mutex& ReasonLock() {
    static std::mutex lock;
    return lock;
}

std::wstring& ReasonStorage() {
    static std::wstring reason;
    return reason;
}

void StoreShutdownBlockReason(std::wstring reason) {
    std::lock_guard<std::mutex> guard(ReasonLock());
    ReasonStorage() = std::move(reason);
}

// The folder above the updater's own folder.
std::wstring ParentOfUpdaterFolder(const std::wstring& updaterPath) {
    std::size_t slash = updaterPath.rfind(L'\\');
    std::wstring folder = slash == std::wstring::npos ? std::wstring() : updaterPath.substr(0, slash);
    wchar_t joined[MAX_PATH] = {};
    if (folder.size() >= MAX_PATH || !PathCombineW(joined, folder.c_str(), L"..\\"))
        return folder + L"\\..\\";
    return joined;
}

}  // namespace

std::wstring ShutdownBlockReason() {
    std::lock_guard<std::mutex> guard(ReasonLock());
    return ReasonStorage();
}

UpdaterClient::UpdaterClient(UpdaterHost& host, UpdaterTiming timing) : host_(host), timing_(timing) {}

bool UpdaterClient::HasPipe() const {
    std::lock_guard<std::mutex> guard(exchangeLock_);
    return pipe_ != nullptr;
}

std::int64_t UpdaterClient::WindowValue() const {
    auto value = reinterpret_cast<std::intptr_t>(host_.ProgressWindow());
    return static_cast<std::int64_t>(static_cast<std::int32_t>(value));
}

template <typename Attempt>
bool UpdaterClient::Retry(Attempt&& attempt) {
    for (int i = 0; i < timing_.attempts; ++i) {
        if (i > 0) Sleep(timing_.retryWaitMs);
        try {
            attempt();
            return true;
        } catch (...) {
            // Any failure, also a malformed reply: try the same request again.
        }
    }
    return false;
}

std::shared_ptr<Pipe> UpdaterClient::OpenUpdaterPipe() {
    try {
        return std::make_shared<Pipe>(updaterPipeName_, true);
    } catch (const wexception&) {
    }
    for (int budget = timing_.reopenBudgetMs; budget > 0; budget -= static_cast<int>(timing_.reopenWaitMs)) {
        Sleep(timing_.reopenWaitMs);
        try {
            return std::make_shared<Pipe>(updaterPipeName_, true);
        } catch (const wexception&) {
        }
    }
    throw wexception(texts::kPipeOpenFailed);
}

void UpdaterClient::TransactLocked(const OutputBuffer& request, InputBuffer& reply) {
    try {
        if (!pipe_) throw wexception(texts::kPipeDisconnected);
        pipe_->Write(request);
        reply = pipe_->Read();
        return;
    } catch (...) {
        // The updater may have closed its end; reconnect once below.
    }
    Sleep(timing_.retryWaitMs);
    pipe_ = OpenUpdaterPipe();
    pipe_->Write(request);
    reply = pipe_->Read();
}

void UpdaterClient::Transact(const OutputBuffer& request, InputBuffer& reply) {
    std::lock_guard<std::mutex> guard(exchangeLock_);
    TransactLocked(request, reply);
}

bool UpdaterClient::ConnectToUpdater(const std::wstring& updaterPath, DWORD updaterProcessId,
                                     const std::wstring& sid, const std::wstring& productFolder,
                                     const std::wstring& pipeName, const std::wstring& applicationId) {
    updaterPath_ = updaterPath;
    updaterProcessId_ = updaterProcessId;
    updaterSid_ = sid;
    productFolder_ = productFolder;
    updaterPipeName_ = pipeName;
    applicationId_ = applicationId;
    if (!updaterPath_.empty()) updaterParentFolder_ = ParentOfUpdaterFolder(updaterPath_);
    if (!host_.UpdaterMode()) return false;

    bool accepted = false;
    std::wstring reason;
    bool done = Retry([&] {
        std::lock_guard<std::mutex> guard(exchangeLock_);
        if (!pipe_) pipe_ = OpenUpdaterPipe();
        OutputBuffer request;
        request.WriteInt32(kRequestConnect)
            .WriteString(updaterPipeName_)
            .WriteInt64(WindowValue())
            .WriteUInt32(GetCurrentProcessId());
        InputBuffer reply;
        TransactLocked(request, reply);
        accepted = reply.ReadBool();
        if (accepted) reason = reply.ReadString();
    });
    if (!done || !accepted) return false;
    StoreShutdownBlockReason(std::move(reason));
    host_.ShutdownBlockReasonArrived();
    return true;
}

bool UpdaterClient::UpdaterNotice(std::uint32_t kind, const std::wstring& text, std::int64_t bytesTotal,
                                  std::int64_t bytesDone, std::uint32_t totalSteps,
                                  std::uint32_t completedSteps, bool prerequisite) {
    if (!host_.UpdaterMode() || !HasPipe()) return true;
    bool goOn = true;
    std::optional<bool> relaunch;
    bool done = Retry([&] {
        OutputBuffer request;
        request.WriteInt32(kRequestNotice)
            .WriteUInt32(kind)
            .WriteString(text)
            .WriteInt64(bytesTotal)
            .WriteInt64(bytesDone)
            .WriteUInt32(totalSteps)
            .WriteUInt32(completedSteps)
            .WriteBool(prerequisite);
        InputBuffer reply;
        Transact(request, reply);
        relaunch.reset();
        goOn = reply.ReadBool();
        // Only an accepted notice of a kind that may restart applications
        // carries the relaunch answer.
        if (goOn && (kind & 5) != 0) relaunch = reply.ReadBool();
    });
    if (!done) return true;
    if (!goOn) {
        host_.NoticeRefused();
        return false;
    }
    if (relaunch) host_.RelaunchAnswered(*relaunch);
    return true;
}

void UpdaterClient::ReportError(const std::wstring& message, std::uint32_t code) {
    if (!host_.UpdaterMode() || !HasPipe()) return;
    Retry([&] {
        OutputBuffer request;
        request.WriteInt32(kRequestErrorReport).WriteString(message).WriteUInt32(code);
        InputBuffer reply;
        Transact(request, reply);
    });
}

void UpdaterClient::DisconnectFromUpdater() {
    if (!host_.UpdaterMode() || !HasPipe()) return;
    bool done = Retry([&] {
        OutputBuffer request;
        request.WriteInt32(kRequestDisconnect).WriteString(updaterPipeName_).WriteInt64(WindowValue());
        InputBuffer reply;
        Transact(request, reply);
    });
    if (done) {
        std::lock_guard<std::mutex> guard(exchangeLock_);
        pipe_.reset();
    }
}

void UpdaterClient::ResetInstallerProgress() {
    progress_ = InstallerProgressState{};
}

bool UpdaterClient::ReportInstallerProgress(std::uint32_t kind, unsigned long record) {
    if (!host_.UpdaterMode() || !HasPipe()) return true;
    return ReportInstallerProgressText(kind, FormatInstallerRecord(installerHandle_, record));
}

bool UpdaterClient::ReportInstallerProgressText(std::uint32_t kind, std::optional<std::wstring> recordText) {
    if (!host_.UpdaterMode() || !HasPipe()) return true;
    std::optional<ProgressReport> report = TranslateInstallerMessage(progress_, kind, std::move(recordText));
    if (!report) return true;
    bool answer = true;
    bool done = Retry([&] {
        OutputBuffer request;
        request.WriteInt32(kRequestInstallerProgress)
            .WriteBool(mainPackage_)
            .WriteUInt32(report->kind)
            .WriteString(report->text)
            .WriteUInt32(static_cast<std::uint32_t>(progress_.totalTicks))
            .WriteUInt32(static_cast<std::uint32_t>(progress_.reportedPosition))
            .WriteUInt32(static_cast<std::uint32_t>(progress_.step));
        InputBuffer reply;
        Transact(request, reply);
        answer = reply.ReadBool();
    });
    return done ? answer : true;
}

bool HandleConnectUpdater(UpdaterClient& client, const LaunchState& launch) {
    if (client.ConnectToUpdater(launch.updaterPath, launch.updaterProcessId, launch.sessionId,
                                launch.productFolder, launch.updaterPipeName, launch.applicationIdOverride))
        return true;
    DWORD code = GetLastError();
    throw windows_error(texts::kUpdaterConnectFailed, code);
}

bool HandleBlockShutdown(HWND progressWindow, DWORD osMajorVersion) {
    if (osMajorVersion < 6) return false;
    std::wstring reason = ShutdownBlockReason();
    return ShutdownBlockReasonCreate(progressWindow, reason.c_str()) != FALSE;
}

}  // namespace IPC
