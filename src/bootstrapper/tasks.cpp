// The task steps of the engine, the request callbacks that hand a finished
// transfer back to the task loop, and the copy progress routines.
#include <cwctype>

#include "Bootstrapper.h"
#include "digest.h"
#include "file_copy.h"
#include "file_ops.h"
#include "placement.h"
#include "launch_state.h"
#include "settings.h"
#include "text.h"
#include "window_messages.h"
#include "engine_texts.h"

namespace {

constexpr wchar_t kDescriptionName[] = L"version_info.xml";

bool file_exists(const std::wstring& path) {
    const DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

bool folder_exists(const std::wstring& path) {
    const DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

}  // namespace

// ---- helpers --------------------------------------------------------------

void CBootstrapper::RaiseFinished() {
    engine_run_state().finished.exchange(1);
}

void CBootstrapper::Fail(const std::wstring& text, LONG code) {
    m_errorText = text;
    m_errorCode = code;
    RaiseFinished();
}

void CBootstrapper::FailWin32(const wchar_t* withCode, const wchar_t* withoutCode, const std::wstring& name,
                              DWORD code) {
    if (name.empty()) {
        Fail(code != 0 ? format(withCode, static_cast<int>(code)) : std::wstring(withoutCode),
             static_cast<LONG>(code));
    } else {
        Fail(code != 0 ? format(withCode, name.c_str(), static_cast<int>(code))
                       : format(withoutCode, name.c_str()),
             static_cast<LONG>(code));
    }
}

bool CBootstrapper::Notice(std::uint32_t kind, const std::wstring& text, bool prerequisite) {
    const bool counters = kind != kNoticeReadingDescription && kind != kNoticeInstallStepDone;
    if (UpdaterNotice(kind, text, counters ? m_bytesTotal.load() : 0, counters ? m_bytesDone.load() : 0,
                      m_description.totalSteps, m_completedSteps.load(), prerequisite))
        return true;
    RaiseFinished();
    return false;
}

void CBootstrapper::PostProgress() {
    PostMessageW(m_progressWindow, WM_DL_PROGRESS,
                 static_cast<WPARAM>(static_cast<DWORD>(m_bytesDone.load())),
                 static_cast<LPARAM>(static_cast<DWORD>(m_bytesTotal.load())));
}

std::wstring CBootstrapper::DescriptionPath() const {
    return m_folders.cache + L"\\" + kDescriptionName;
}

void CBootstrapper::StartDownload(const std::wstring& url) {
    m_responseBody.clear();
    HttpRequestRecord record;
    record.url = url;
    record.extraHeaders = L"Accept: */*\r\n";
    m_currentRequestId = AddRequest(record);
}

bool CBootstrapper::IndexInRange(bool prerequisite) const {
    if (prerequisite) {
        const PrerequisiteList& list = m_description.prerequisites;
        return m_prerequisiteIndex < list.urls.size() && m_prerequisiteIndex < list.localPaths.size() &&
               m_prerequisiteIndex < list.digests.size();
    }
    const PackageFileList& list = m_description.files;
    return m_fileIndex < list.urls.size() && m_fileIndex < list.localPaths.size() &&
           m_fileIndex < list.digests.size();
}

void CBootstrapper::AdvanceFile(bool prerequisite) {
    EngineRunState& run = engine_run_state();
    if (prerequisite) {
        ++m_prerequisiteIndex;
        run.currentTask.exchange(m_prerequisiteIndex < m_description.prerequisites.urls.size()
                                     ? kTaskDownloadPrerequisiteFile
                                     : kTaskInstallPrerequisites);
    } else {
        ++m_fileIndex;
        run.currentTask.exchange(m_fileIndex < m_description.files.urls.size() ? kTaskDownloadFile
                                                                               : kTaskRunMsi);
    }
}

// ---- placement ------------------------------------------------------------

ServiceRelease CBootstrapper::MakeServiceRelease() const {
    UpdaterServiceNames names;
    names.enable_automatic_updates = m_description.preferences.enableAutomaticUpdates;
    names.service_name = m_serviceName;
    names.service_file_name = m_serviceFileName;
    return ServiceRelease(std::move(names));
}

FilePlacement CBootstrapper::MakePlacement(const PermissionReset& reset, const ServiceRelease& release) {
    PlacementSettings placement;
    placement.enable_automatic_updates = m_description.preferences.enableAutomaticUpdates;
    placement.load_ca_in_updater = m_description.preferences.loadCAInUpdater;
    placement.load_ca_in_updater_service = m_description.preferences.loadCAInUpdaterService;
    placement.action_files = m_description.actionFiles;
    placement.updater_folder = m_folders.updater;
    return FilePlacement(std::move(placement), reset, release,
                         [this](DWORD kind, const std::wstring& finalPath, bool prerequisite) {
                             return UpdaterNotice(kind, finalPath, m_bytesTotal.load(), m_bytesDone.load(),
                                                  m_description.totalSteps, m_completedSteps.load(),
                                                  prerequisite);
                         });
}

bool CBootstrapper::PlaceFile(bool prerequisite, bool written, std::uint32_t index) {
    const std::wstring& path =
        prerequisite ? m_description.prerequisites.localPaths[index] : m_description.files.localPaths[index];
    const std::wstring& expected =
        prerequisite ? m_description.prerequisites.digests[index] : m_description.files.digests[index];
    const PermissionReset reset(m_administratorMode);
    const ServiceRelease release = MakeServiceRelease();
    const FilePlacement placement = MakePlacement(reset, release);
    OperationError error;
    bool placed;
    if (written)
        placed = prerequisite ? placement.place_downloaded_prerequisite(path, m_responseBody, expected, error)
                              : placement.place_downloaded_file(path, m_responseBody, expected, error);
    else
        placed = prerequisite ? placement.place_copied_prerequisite(path, expected, error)
                              : placement.place_copied_file(path, expected, error);
    if (placed) return true;
    // An empty text is a refused notice: a silent stop.
    if (!error.text.empty()) {
        m_errorText = error.text;
        if (error.code != 0) m_errorCode = static_cast<LONG>(error.code);
    }
    RaiseFinished();
    return false;
}

// ---- tasks ----------------------------------------------------------------

void CBootstrapper::TaskDownloadVersionInfo() {
    ++m_completedSteps;
    m_downloadTask = kTaskDownloadVersionInfo;
    engine_run_state().currentTask.exchange(kTaskIdle);

    if (m_sourceKind == kSourceLocalFolder || m_sourceKind == kSourceNetworkShare) {
        const std::wstring target = DescriptionPath();
        if (!Notice(kNoticeCopyStarts, target, false)) return;
        m_copyCompleted = false;
        if (!copy_file_with_progress(m_descriptionLocation.c_str(), target.c_str(),
                                     &CBootstrapper::PackageCopyProgress, this, nullptr, 0)) {
            FailWin32(texts::kCopyDescriptionWithCode, texts::kCopyDescription, L"", GetLastError());
            return;
        }
        OperationError error;
        if (!PermissionReset(m_administratorMode).apply(target, error)) {
            Fail(error);
            return;
        }
        Notice(kNoticeCopyPlaced, target, false);
        return;
    }
    if (!Notice(kNoticeDownloadStarts, kDescriptionName, false)) return;
    StartDownload(m_descriptionLocation);
}

void CBootstrapper::TaskDownloadFile(bool prerequisite) {
    ++m_completedSteps;
    m_downloadTask = prerequisite ? kTaskDownloadPrerequisiteFile : kTaskDownloadFile;
    EngineRunState& run = engine_run_state();
    run.currentTask.exchange(kTaskIdle);

    if (prerequisite ? m_description.prerequisites.urls.empty() : m_description.files.urls.empty()) {
        if (prerequisite) {
            Fail(format(texts::kNoPrerequisites, m_descriptionLocation.c_str()), m_errorCode.load());
        } else {
            m_noticeText = format(texts::kProductNotAvailable, settings().productName.c_str(),
                                  settings().version.c_str());
            RaiseFinished();
        }
        return;
    }
    if (!IndexInRange(prerequisite)) {
        Fail(texts::kIndexOutOfRange, m_errorCode.load());
        return;
    }
    const std::uint32_t index = prerequisite ? m_prerequisiteIndex : m_fileIndex;
    const std::wstring path =
        prerequisite ? m_description.prerequisites.localPaths[index] : m_description.files.localPaths[index];
    const std::wstring url =
        prerequisite ? m_description.prerequisites.urls[index] : m_description.files.urls[index];
    const std::wstring expected =
        prerequisite ? m_description.prerequisites.digests[index] : m_description.files.digests[index];
    const std::wstring folder = directory_part(path);
    const std::wstring placed = deploy_final_path(path);

    if (file_exists(placed)) {
        if (iequals(file_digest(placed), expected)) {
            if (!prerequisite) {
                const PermissionReset reset(m_administratorMode);
                const ServiceRelease release = MakeServiceRelease();
                OperationError error;
                if (!MakePlacement(reset, release).updater_copy(placed, error)) {
                    Fail(error);
                    return;
                }
            }
            AdvanceFile(prerequisite);
            return;
        }
        if (prerequisite) {
            if (!DeleteFileW(placed.c_str())) {
                FailWin32(texts::kDeleteFileWithCode, texts::kDeleteFile, placed, GetLastError());
                return;
            }
        } else {
            OperationError error;
            if (!MakeServiceRelease().delete_file(placed, error)) {
                Fail(error);
                return;
            }
        }
    }

    if (m_sourceKind == kSourceLocalFolder || m_sourceKind == kSourceNetworkShare) {
        OperationError error;
        if (!folder_exists(folder) &&
            !create_folder_tree(folder, PermissionReset(m_administratorMode), error)) {
            Fail(error);
            return;
        }
        const std::wstring name = file_name_part(path);
        if (!Notice(kNoticeCopyStarts, path, prerequisite)) return;
        m_copyCompleted = false;
        if (!copy_file_with_progress(
                url.c_str(), path.c_str(),
                prerequisite ? &CBootstrapper::PrerequisiteCopyProgress : &CBootstrapper::PackageCopyProgress,
                this, nullptr, 0)) {
            FailWin32(texts::kCopyFileWithCode, texts::kCopyFile, name, GetLastError());
            return;
        }
        // The copy routine has already moved the index on.
        PlaceFile(prerequisite, false, index);
        return;
    }
    if (!Notice(kNoticeDownloadStarts, path, prerequisite)) return;
    StartDownload(url);
}

void CBootstrapper::TaskProcessResponse() {
    EngineRunState& run = engine_run_state();
    switch (m_downloadTask.load()) {
        case kTaskDownloadVersionInfo: {
            const std::wstring path = DescriptionPath();
            if (!write_whole_file(path, m_responseBody.data(), static_cast<DWORD>(m_responseBody.size()))) {
                FailWin32(texts::kCreateDescriptionWithCode, texts::kCreateDescription, L"", GetLastError());
                return;
            }
            OperationError error;
            if (!PermissionReset(m_administratorMode).apply(path, error)) {
                Fail(error);
                return;
            }
            if (!Notice(kNoticeDownloadPlaced, path, false)) return;
            run.currentTask.exchange(kTaskReadXml);
            return;
        }
        case kTaskDownloadFile:
        case kTaskDownloadPrerequisiteFile: {
            const bool prerequisite = m_downloadTask.load() == kTaskDownloadPrerequisiteFile;
            if (!IndexInRange(prerequisite)) {
                Fail(texts::kIndexOutOfRange, m_errorCode.load());
                return;
            }
            if (!PlaceFile(prerequisite, true, prerequisite ? m_prerequisiteIndex : m_fileIndex)) return;
            AdvanceFile(prerequisite);
            return;
        }
        default:
            Fail(texts::kUnsupportedTask, m_errorCode.load());
    }
}

void CBootstrapper::TaskReadXml() {
    ++m_completedSteps;
    m_downloadTask = kTaskReadXml;
    const std::wstring path = DescriptionPath();
    if (!file_exists(path)) {
        Fail(format(texts::kDescriptionNotFound, path.c_str()), m_errorCode.load());
        return;
    }
    if (!Notice(kNoticeReadingDescription, path, false)) return;
    std::string bytes;
    if (!read_whole_file(path, bytes)) {
        const DWORD code = GetLastError();
        if (code != 0)
            Fail(format(texts::kReadDescriptionWithCode, path.c_str(), static_cast<int>(code)),
                 static_cast<LONG>(code));
        else
            Fail(format(texts::kReadDescription, path.c_str()), 0);
        return;
    }
    if (!m_document.SetDocument(widen(bytes))) {
        Fail(format(texts::kLoadDescription, path.c_str()), m_errorCode.load());
        return;
    }
    engine_run_state().currentTask.exchange(kTaskParseXml);
}

void CBootstrapper::TaskParseXml() {
    ++m_completedSteps;
    m_downloadTask = kTaskParseXml;
    const DeploymentSettings& config = settings();
    const LaunchState& launch = launch_state();
    DescriptionInputs inputs;
    inputs.language = config.language;
    inputs.version = config.version;
    inputs.productCode = config.productCode;
    inputs.installationUrl = launch.currentInstallationUrl;
    inputs.sourceKind = m_sourceKind;
    inputs.silent = launch.silentMode;
    inputs.userLcid = launch.userLcid;
    inputs.userLanguageName = launch.languageName;
    inputs.cacheFolder = m_folders.cache;
    inputs.updaterFolder = m_folders.updater;

    // A run after a failed one reads the description of another address:
    // entries kept from the earlier reading would send the transfers back
    // to the address that failed.
    m_description.products.clear();
    m_description.files = PackageFileList{};
    m_description.actionFiles.clear();
    m_description.prerequisites = PrerequisiteList{};
    m_description.bytesTotal = m_bytesTotal.load();
    OperationError error;
    const bool read = InterpretDescription(m_document, inputs, m_description, error);
    m_bytesTotal = m_description.bytesTotal;
    if (!read) {
        if (!error.text.empty()) m_errorText = error.text;
        m_errorCode = static_cast<LONG>(error.code);
        RaiseFinished();
        return;
    }
    if (m_description.products.empty()) {
        Fail(format(texts::kNoProducts, m_descriptionLocation.c_str()), m_errorCode.load());
        return;
    }
    EngineRunState& run = engine_run_state();
    if (description_flags().bootstrapperUpdate) {
        m_prerequisiteIndex = 0;
        run.currentTask.exchange(kTaskDownloadPrerequisiteFile);
    } else {
        m_fileIndex = 0;
        run.currentTask.exchange(kTaskDownloadFile);
    }
    m_bytesTotal += m_bytesDone.load();
    PostProgress();
    Notice(kNoticeDescriptionRead, DescriptionPath(), false);
}

void CBootstrapper::TaskRunMsi() {
    ++m_completedSteps;
    m_downloadTask = kTaskRunMsi;
    if (m_description.packageFileName.empty()) {
        Fail(texts::kNoMsiAttribute, m_errorCode.load());
        return;
    }
    PostMessageW(m_progressWindow, WM_DL_HIDE_PROGRESS, 0, 0);
    // The installation itself is not part of this version: the run ends as
    // a failure rather than claiming an installation that never happened.
    // The updater still hears the package about to be installed and the end
    // of the installation step.
    if (Notice(kNoticeInstallStarts, path_join(m_folders.cache, m_description.packageFileName), false))
        Fail(texts::kPackageNotAvailable, ERROR_CALL_NOT_IMPLEMENTED);
    m_completedSteps = m_description.totalSteps;
    UpdaterNotice(kNoticeInstallEnded, settings().version, m_bytesTotal.load(), m_bytesDone.load(),
                  m_description.totalSteps, m_completedSteps.load(), false);
}

void CBootstrapper::TaskInstallPrerequisites() {
    ++m_completedSteps;
    m_downloadTask = kTaskInstallPrerequisites;
    Fail(texts::kPrerequisitesNotAvailable, ERROR_CALL_NOT_IMPLEMENTED);
}

void CBootstrapper::TaskExit() {
    RaiseFinished();
    Sleep(m_turnPause);
}

// ---- request callbacks (window thread) ------------------------------------

void CBootstrapper::OnResponseReceived(FCHttpRequest& request) {
    if (request.GetStatusCode() != 0) return;
    DeleteRequest(request.GetRequestId());
    m_noticeText = texts::kServerNotAvailable;
    RaiseFinished();
}

void CBootstrapper::OnDataReceived(FCHttpRequest& request, int byteCount) {
    m_bytesDone += static_cast<std::uint64_t>(static_cast<std::int64_t>(byteCount));
    if (!Notice(kNoticeDataArrived, L"", false)) {
        DeleteRequest(request.GetRequestId());
        return;
    }
    PostProgress();
}

void CBootstrapper::OnRequestFinished(FCHttpRequest& request) {
    const int status = request.GetStatusCode();
    const std::wstring& url = request.GetUrl();
    switch (status) {
        case 200: {
            request.TakeBody(m_responseBody);
            const int length = request.GetContentLength();
            const bool complete = (length == 0 && request.GetLastReadResult()) ||
                                  (length != 0 && length == request.GetReceivedBytes());
            if (complete) {
                engine_run_state().currentTask.exchange(kTaskProcessResponse);
                return;
            }
            Fail(request.GetRangeStart() != 0 ? texts::kDownloadErrorNoRange : texts::kDownloadError, 200);
            return;
        }
        case 403:
            Fail(texts::kForbiddenPrefix + url, 403);
            return;
        case 404:
            Fail(format(texts::kNotFound, url.c_str()), 404);
            return;
        case 407:
            Fail(texts::kProxyAuthenticationPrefix + url, 407);
            return;
        default:
            Fail(format(texts::kDownloadStatus, status, url.c_str()), status);
    }
}

// ---- copy progress routines (task thread) ---------------------------------

DWORD CALLBACK CBootstrapper::PackageCopyProgress(LARGE_INTEGER total, LARGE_INTEGER transferred,
                                                  LARGE_INTEGER, LARGE_INTEGER, DWORD, DWORD, HANDLE, HANDLE,
                                                  LPVOID data) {
    return static_cast<CBootstrapper*>(data)->CopyProgress(total.QuadPart, transferred.QuadPart, false);
}

DWORD CALLBACK CBootstrapper::PrerequisiteCopyProgress(LARGE_INTEGER total, LARGE_INTEGER transferred,
                                                       LARGE_INTEGER, LARGE_INTEGER, DWORD, DWORD, HANDLE,
                                                       HANDLE, LPVOID data) {
    return static_cast<CBootstrapper*>(data)->CopyProgress(total.QuadPart, transferred.QuadPart, true);
}

DWORD CBootstrapper::CopyProgress(LONGLONG total, LONGLONG transferred, bool prerequisite) {
    EngineRunState& run = engine_run_state();
    // An empty file may report 0 of 0 more than once (before and after its
    // only chunk); the first such report completes it, later ones are spent.
    if (m_copyCompleted) return PROGRESS_CONTINUE;
    const bool done = total == transferred;
    m_copyCompleted = done;
    std::uint64_t extra = 0;
    if (done)
        m_bytesDone += static_cast<std::uint64_t>(total);
    else
        extra = static_cast<std::uint64_t>(transferred);
    if (UpdaterNotice(kNoticeCopyProgress, L"", m_bytesTotal.load(), m_bytesDone.load() + extra,
                      m_description.totalSteps, m_completedSteps.load(), prerequisite))
        PostProgress();
    else
        RaiseFinished();

    if (run.finished.load()) return PROGRESS_CANCEL;
    if (done) {
        const LONG task = m_downloadTask.load();
        if (prerequisite) {
            if (task != kTaskDownloadPrerequisiteFile) {
                SetErrorText(texts::kUnsupportedTask);
                RaiseFinished();
            } else if (!IndexInRange(true)) {
                SetErrorText(texts::kIndexOutOfRange);
                RaiseFinished();
            } else {
                AdvanceFile(true);
            }
        } else if (task == kTaskDownloadVersionInfo) {
            run.currentTask.exchange(kTaskReadXml);
        } else if (task == kTaskDownloadFile) {
            if (!IndexInRange(false)) {
                SetErrorText(texts::kIndexOutOfRange);
                RaiseFinished();
            } else {
                AdvanceFile(false);
            }
        } else {
            SetErrorText(texts::kUnsupportedTask);
            RaiseFinished();
        }
        return PROGRESS_CONTINUE;
    }
    return run.cancelRequest.load() ? PROGRESS_CANCEL : PROGRESS_CONTINUE;
}
