#pragma once
// The deployment engine: one object that runs a deployment as a chain of
// tasks on a thread-pool thread. Downloads are started by the task loop and
// finish on the window thread through the request manager's callbacks,
// which hand the result back by storing the next task.
#include <windows.h>

#include <atomic>
#include <cstdint>
#include <string>

#include "../downloader/engine_interface.h"
#include "description.h"
#include "folders.h"
#include "http_request_manager.h"
#include "operation_error.h"
#include "placement.h"
#include "xml_document.h"

// Run state shared between the window thread, the task loop and the copy
// routines. Every value is read and written atomically.
struct EngineRunState {
    std::atomic<LONG> currentTask{0};
    std::atomic<LONG> cancelRequest{0};
    std::atomic<LONG> finished{0};
    std::atomic<LONG> stopRequest{0};
};
EngineRunState& engine_run_state();

// Updater notice kinds the tasks send.
enum UpdaterNoticeKind : std::uint32_t {
    kNoticeDataArrived = 0x0000,
    kNoticeCopyProgress = 0x0001,
    kNoticeInstallEnded = 0x0007,
    kNoticeInstallStarts = 0x0008,
    kNoticeDownloadStarts = 0x1000,
    kNoticeCopyStarts = 0x1001,
    kNoticeReadingDescription = 0x1002,
    kNoticeDownloadPlaced = 0x2000,
    kNoticeCopyPlaced = 0x2001,
    kNoticeDescriptionRead = 0x2002,
    kNoticeInstallStepDone = 0x2003,
};

class CBootstrapper : public FCHttpRequestManager, public IDownloadEngine {
public:
    CBootstrapper();
    ~CBootstrapper() override;

    // IDownloadEngine.
    bool Initialize(const EngineStartup& startup) override;
    bool Start(int sourceKind, const std::wstring& location) override;
    void Reset() override;
    void RequestCancel() override;
    void RequestStop() override;
    LONG CurrentTask() const override;
    HANDLE FinishedEvent() const override { return m_finishedEvent; }
    LONG ErrorCode() const override { return m_errorCode; }
    bool ElevationRequired() const override { return m_elevationRequired; }
    void ClearElevationRequired() override { m_elevationRequired = false; }
    std::wstring CacheFolder() const override { return m_folders.cache; }
    void Cleanup() override;

    // The task loop; runs once per Start on its work-item thread.
    void RunTasks();

    void SetErrorText(const std::wstring& text) { m_errorText = text; }
    const std::wstring& ErrorText() const { return m_errorText; }
    const std::wstring& NoticeText() const { return m_noticeText; }
    // Heap copies for a posted message; null when out of memory.
    wchar_t* CopyErrorText() const;
    wchar_t* CopyNoticeText() const;

    // Reports a step to the updater in updater mode; false when the updater
    // refused it (the cancelled flag is then set).
    bool UpdaterNotice(std::uint32_t kind, const std::wstring& text, std::uint64_t bytesTotal,
                       std::uint64_t bytesDone, std::int32_t totalSteps, std::int32_t completedSteps,
                       bool prerequisite);

    bool Cancelled() const { return m_cancelled.load() != 0; }
    const CacheFolders& Folders() const { return m_folders; }
    const DescriptionState& Description() const { return m_description; }

    // The pause between turns of the task loop (500 ms); tests shorten it.
    void SetTurnPause(DWORD milliseconds) { m_turnPause = milliseconds; }

    // Where the base folder is chosen; tests point it into a temporary folder.
    void SetFolderEnvironment(FolderEnvironment* environment) { m_folderEnvironment = environment; }

protected:
    void OnResponseReceived(FCHttpRequest& request) override;
    void OnRequestFinished(FCHttpRequest& request) override;
    void OnDataReceived(FCHttpRequest& request, int byteCount) override;

private:
    static DWORD WINAPI RunTasksEntry(LPVOID self);
    static DWORD CALLBACK PackageCopyProgress(LARGE_INTEGER total, LARGE_INTEGER transferred, LARGE_INTEGER,
                                              LARGE_INTEGER, DWORD, DWORD, HANDLE, HANDLE, LPVOID data);
    static DWORD CALLBACK PrerequisiteCopyProgress(LARGE_INTEGER total, LARGE_INTEGER transferred,
                                                   LARGE_INTEGER, LARGE_INTEGER, DWORD, DWORD, HANDLE, HANDLE,
                                                   LPVOID data);
    DWORD CopyProgress(LONGLONG total, LONGLONG transferred, bool prerequisite);

    // Task steps.
    void TaskProcessResponse();
    void TaskDownloadVersionInfo();
    void TaskDownloadFile(bool prerequisite);
    void TaskReadXml();
    void TaskParseXml();
    void TaskRunMsi();
    void TaskInstallPrerequisites();
    void TaskExit();

    // Sets the error text and code and raises the finished flag.
    void Fail(const std::wstring& text, LONG code);
    void Fail(const OperationError& error) { Fail(error.text, static_cast<LONG>(error.code)); }
    // The failure text of a Win32 call: with ". Error: %d." when code is not 0.
    void FailWin32(const wchar_t* withCode, const wchar_t* withoutCode, const std::wstring& name, DWORD code);
    void RaiseFinished();
    bool Notice(std::uint32_t kind, const std::wstring& text, bool prerequisite);
    void PostProgress();
    void StartDownload(const std::wstring& url);
    std::wstring DescriptionPath() const;
    // Moves to the next file of the list the download task names.
    void AdvanceFile(bool prerequisite);
    bool IndexInRange(bool prerequisite) const;

    // Puts the received file of list entry `index` in place; `written` says
    // the response body is to be written first (downloads), copies arrive
    // already written. False raised the finished flag.
    bool PlaceFile(bool prerequisite, bool written, std::uint32_t index);
    ServiceRelease MakeServiceRelease() const;
    FilePlacement MakePlacement(const PermissionReset& reset, const ServiceRelease& release);

    HWND m_progressWindow = nullptr;
    HINSTANCE m_instance = nullptr;
    xml::CXmlDocument m_document;
    HANDLE m_finishedEvent = nullptr;
    HANDLE m_pipeEvent = nullptr;
    HANDLE m_startedEvent = nullptr;
    bool m_ownsStartedEvent = false;
    int m_sourceKind = 0;
    std::wstring m_descriptionLocation;
    CacheFolders m_folders;
    std::wstring m_ownPath;
    std::wstring m_ownFolder;
    std::string m_responseBody;
    RequestId m_currentRequestId = 0;
    std::atomic<LONG> m_downloadTask{0};
    // Written by the data callback (window thread) and the copy routines
    // (task thread); transfers and copies never overlap.
    std::atomic<std::uint64_t> m_bytesDone{0};
    std::atomic<std::uint64_t> m_bytesTotal{0};
    std::atomic<std::int32_t> m_completedSteps{0};
    bool m_copyCompleted = false;  // the copy in progress has reported its end
    std::uint32_t m_fileIndex = 0;
    std::uint32_t m_prerequisiteIndex = 0;
    std::wstring m_errorText;
    std::wstring m_noticeText;
    std::atomic<LONG> m_errorCode{0};

    std::atomic<LONG> m_initialised{0};
    std::atomic<LONG> m_cancelled{0};
    std::atomic<bool> m_relaunch{false};
    bool m_resumeEntry = false;
    std::atomic<bool> m_elevationRequired{false};
    bool m_installCompleted = false;
    bool m_cleanedUp = false;

    // Read from version_info.xml: lists, strings, preference flags and the
    // step and byte totals.
    DescriptionState m_description;

    // Start-up values.
    bool m_administratorMode = false;
    bool m_vistaOrLater = false;
    bool m_lowIntegrity = false;
    bool m_elevated = false;
    bool m_updaterAutoStart = false;
    bool m_updaterService = false;
    DWORD m_windowsMajorVersion = 0;

    // Names of the updater program and its service.
    std::wstring m_updaterFileName;
    std::wstring m_serviceName;
    std::wstring m_serviceFileName;
    std::wstring m_serviceDisplayName;
    std::wstring m_serviceDescription;
    std::wstring m_updaterExecutablePath;
    std::wstring m_serviceExecutablePath;

    FolderEnvironment* m_folderEnvironment = nullptr;
    DWORD m_turnPause = 500;
};

// The one engine of the process.
CBootstrapper& the_bootstrapper();
