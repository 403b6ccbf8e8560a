#include "Bootstrapper.h"

#include <shlwapi.h>

#include <cstring>
#include <new>

#include "UpdaterSession.h"
#include "file_ops.h"
#include "launch_state.h"
#include "settings.h"
#include "text.h"
#include "wexception.h"
#include "window_messages.h"
#include "engine_texts.h"
#include "module_path.h"

namespace {

std::wstring canonical_folder(const std::wstring& path) {
    std::wstring folder = directory_part(path);
    wchar_t canonical[MAX_PATH] = {};
    if (folder.size() < MAX_PATH && PathCanonicalizeW(canonical, folder.c_str())) return canonical;
    return folder;
}

DWORD read_windows_major_version() {
    OSVERSIONINFOEXW extended{};
    extended.dwOSVersionInfoSize = sizeof extended;
    if (GetVersionExW(reinterpret_cast<OSVERSIONINFOW*>(&extended))) return extended.dwMajorVersion;
    OSVERSIONINFOW plain{};
    plain.dwOSVersionInfoSize = sizeof plain;
    if (GetVersionExW(&plain)) return plain.dwMajorVersion;
    return 0;
}

wchar_t* copy_text(const std::wstring& text) {
    auto* block = new (std::nothrow) wchar_t[text.size() + 1];
    if (!block) return nullptr;
    std::memset(block, 0, (text.size() + 1) * sizeof(wchar_t));
    text.copy(block, text.size());
    return block;
}

bool updater_pipe_open() {
    return launch_state().updaterMode && IPC::updater_session().Client().HasPipe();
}

}  // namespace

EngineRunState& engine_run_state() {
    static EngineRunState state;
    return state;
}

CBootstrapper& the_bootstrapper() {
    static CBootstrapper engine;
    return engine;
}

CBootstrapper::CBootstrapper()
    : m_finishedEvent(CreateEventW(nullptr, TRUE, FALSE, nullptr)),
      m_pipeEvent(CreateEventW(nullptr, TRUE, FALSE, nullptr)),
      m_ownPath(module_path()),
      m_ownFolder(canonical_folder(m_ownPath)),
      m_windowsMajorVersion(read_windows_major_version()) {
    m_description.totalSteps = 5;
}

CBootstrapper::~CBootstrapper() {
    if (m_finishedEvent) CloseHandle(m_finishedEvent);
    if (m_pipeEvent) CloseHandle(m_pipeEvent);
    if (m_ownsStartedEvent && m_startedEvent) CloseHandle(m_startedEvent);
}

bool CBootstrapper::Initialize(const EngineStartup& startup) {
    m_progressWindow = startup.notificationWindow;
    m_instance = startup.instance;
    if (startup.startedEvent) {
        m_startedEvent = startup.startedEvent;
    } else if (!m_startedEvent) {
        m_startedEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        m_ownsStartedEvent = true;
    }
    m_administratorMode = startup.administratorMode;
    m_elevated = startup.elevated;
    m_vistaOrLater = startup.vistaOrLater;
    m_updaterAutoStart = startup.updaterAutoStart;
    m_updaterService = startup.updaterService;
    m_lowIntegrity = startup.lowIntegrity;
    m_folders = CacheFolders{};
    m_folders.cache = startup.afterReboot;

    const DeploymentSettings& config = settings();
    FolderSettings folderSettings;
    folderSettings.administrator_mode = m_administratorMode;
    folderSettings.low_integrity = m_lowIntegrity;
    folderSettings.application = config.application;
    folderSettings.id = config.id;
    folderSettings.version = config.version;

    m_updaterFileName = config.application + L".updater.exe";
    m_serviceName = config.application + L"_" + config.id;
    m_serviceFileName = config.application + L".service.exe";
    m_serviceDisplayName = config.productName;
    m_serviceDescription = config.productName + texts::kServiceDescriptionSuffix;

    OperationError error;
    FolderEnvironment& environment = m_folderEnvironment ? *m_folderEnvironment : system_folder_environment();
    const bool prepared = prepare_cache_folders(folderSettings, environment,
                                                PermissionReset(m_administratorMode), m_folders, error);
    if (!m_folders.updater.empty()) {
        m_updaterExecutablePath = path_join(m_folders.updater, m_updaterFileName);
        m_serviceExecutablePath = path_join(m_folders.updater, m_serviceFileName);
    }
    if (!prepared) {
        m_errorText = error.text;
        m_errorCode = static_cast<LONG>(error.code);
        throw windows_error(error.text, error.code);
    }

    IPC::UpdaterEngineHooks hooks;
    hooks.noticeRefused = [this] { m_cancelled = 1; };
    hooks.relaunchAnswered = [this](bool relaunch) { m_relaunch = relaunch; };
    IPC::updater_session().SetEngineHooks(std::move(hooks));

    m_cleanedUp = false;
    m_initialised = 1;
    return true;
}

bool CBootstrapper::Start(int sourceKind, const std::wstring& location) {
    m_sourceKind = sourceKind;
    m_descriptionLocation = location;
    // A finished event left signalled by the previous run would tell the
    // window that this run has already ended.
    ResetEvent(m_finishedEvent);
    if (!QueueUserWorkItem(&CBootstrapper::RunTasksEntry, this, WT_EXECUTELONGFUNCTION)) {
        const DWORD error = GetLastError();
        SetEvent(m_finishedEvent);
        SetLastError(error);
        return false;
    }
    return true;
}

void CBootstrapper::Reset() {
    m_errorText.clear();
    m_noticeText.clear();
    EngineRunState& run = engine_run_state();
    run.finished.exchange(0);
    run.cancelRequest.exchange(0);
    run.currentTask.exchange(kTaskIdle);
    run.stopRequest.exchange(0);
}

void CBootstrapper::RequestCancel() {
    engine_run_state().cancelRequest.exchange(1);
}

void CBootstrapper::RequestStop() {
    EngineRunState& run = engine_run_state();
    if (run.stopRequest.load() == 0) run.stopRequest.exchange(1);
}

LONG CBootstrapper::CurrentTask() const {
    return engine_run_state().currentTask.load();
}

wchar_t* CBootstrapper::CopyErrorText() const {
    return copy_text(m_errorText);
}

wchar_t* CBootstrapper::CopyNoticeText() const {
    return copy_text(m_noticeText);
}

DWORD WINAPI CBootstrapper::RunTasksEntry(LPVOID self) {
    static_cast<CBootstrapper*>(self)->RunTasks();
    return 0;
}

void CBootstrapper::RunTasks() {
    EngineRunState& run = engine_run_state();
    PostMessageW(m_progressWindow, WM_DL_STARTED, 0, 0);
    if (m_startedEvent) SetEvent(m_startedEvent);
    PostMessageW(m_progressWindow, WM_DL_PROGRESS, 0, 0);

    m_currentRequestId = 0;
    m_bytesTotal = 0;
    m_bytesDone = 0;
    m_completedSteps = 0;
    m_description.totalSteps = 5;
    run.currentTask = kTaskDownloadVersionInfo;

    for (;;) {
        if (run.cancelRequest.load() || run.finished.load() || run.stopRequest.load()) break;
        try {
            switch (run.currentTask.load()) {
                case kTaskProcessResponse:
                    TaskProcessResponse();
                    break;
                case kTaskDownloadVersionInfo:
                    TaskDownloadVersionInfo();
                    break;
                case kTaskDownloadFile:
                    TaskDownloadFile(false);
                    break;
                case kTaskReadXml:
                    TaskReadXml();
                    break;
                case kTaskParseXml:
                    TaskParseXml();
                    break;
                case kTaskRunMsi:
                    TaskRunMsi();
                    break;
                case kTaskExit:
                    TaskExit();
                    break;
                case kTaskDownloadPrerequisiteFile:
                    TaskDownloadFile(true);
                    break;
                case kTaskInstallPrerequisites:
                    TaskInstallPrerequisites();
                    break;
                default:  // idle while a transfer is in flight
                    break;
            }
        } catch (const wexception& failure) {
            const auto* withCode = dynamic_cast<const windows_error*>(&failure);
            Fail(failure.message(), withCode ? static_cast<LONG>(withCode->code()) : 0);
        } catch (const std::bad_alloc&) {
            Fail(texts::kNotEnoughMemory, ERROR_NOT_ENOUGH_MEMORY);
        }
        if (run.finished.load()) continue;
        Sleep(m_turnPause);
    }

    if (m_elevationRequired) {
        PostMessageW(m_progressWindow, WM_DL_RELAUNCH_ELEVATED, 0, 0);
    } else if (!m_errorText.empty()) {
        if (m_currentRequestId != 0) DeleteRequest(m_currentRequestId);
        PostMessageW(m_progressWindow, WM_DL_DOWNLOAD_FAILED, reinterpret_cast<WPARAM>(CopyErrorText()),
                     m_downloadTask.load());
    } else if (!m_noticeText.empty()) {
        if (m_currentRequestId != 0) DeleteRequest(m_currentRequestId);
        PostMessageW(m_progressWindow, WM_DL_TASK_FAILED, reinterpret_cast<WPARAM>(CopyNoticeText()),
                     m_downloadTask.load());
    } else if (run.cancelRequest.load() == 0) {
        PostMessageW(m_progressWindow, WM_DL_COMPLETED, 0, 0);
    } else if (m_currentRequestId != 0) {
        // A transfer still in flight would otherwise report into the next run.
        DeleteRequest(m_currentRequestId);
    }
    SetEvent(m_finishedEvent);
}

bool CBootstrapper::UpdaterNotice(std::uint32_t kind, const std::wstring& text, std::uint64_t bytesTotal,
                                  std::uint64_t bytesDone, std::int32_t totalSteps,
                                  std::int32_t completedSteps, bool prerequisite) {
    if (!updater_pipe_open()) return true;
    const bool goOn = IPC::updater_session().Client().UpdaterNotice(
        kind, text, static_cast<std::int64_t>(bytesTotal), static_cast<std::int64_t>(bytesDone),
        static_cast<std::uint32_t>(totalSteps), static_cast<std::uint32_t>(completedSteps), prerequisite);
    if (!goOn) m_cancelled = 1;
    return goOn;
}

void CBootstrapper::Cleanup() {
    if (m_cleanedUp) return;
    m_cleanedUp = true;
    const bool withPipe = updater_pipe_open();
    if (m_cancelled && withPipe) IPC::updater_session().Client().ReportError(L"", 1602);
    if (m_initialised) {
        if (!m_folders.cache.empty() && PathIsDirectoryW(m_folders.cache.c_str()) && !m_resumeEntry &&
            !m_elevationRequired)
            delete_folder_tree(m_folders.cache);
        if (!m_folders.updater.empty() && PathIsDirectoryW(m_folders.updater.c_str()) && !m_resumeEntry &&
            !m_elevationRequired && !m_installCompleted) {
            delete_folder_tree(m_folders.updater);
            const std::wstring idFolder = m_folders.application + L"\\" + settings().id;
            if (PathIsDirectoryEmptyW(idFolder.c_str())) RemoveDirectoryW(idFolder.c_str());
            if (PathIsDirectoryEmptyW(m_folders.application.c_str()))
                RemoveDirectoryW(m_folders.application.c_str());
        }
    }
    if (withPipe) IPC::updater_session().Client().DisconnectFromUpdater();
}
