#pragma once
// Messages posted to the progress window by the engine, the request
// callbacks and the updater conversation. Plain numbers, always posted,
// never sent. A text travels as a heap block (new wchar_t[]) that the
// receiving handler frees with delete[]; a null pointer means no text.
#include <windows.h>

#include <iterator>
#include <string_view>

inline constexpr UINT WM_DL_COMPLETED = 4024;
inline constexpr UINT WM_DL_START = 5024;
inline constexpr UINT WM_DL_STARTED = 6024;
inline constexpr UINT WM_DL_PROGRESS = 7024;  // wParam done (unsigned), lParam total (signed, <= 0 unknown)
inline constexpr UINT WM_DL_DOWNLOAD_FAILED = 8024;  // wParam text block, lParam task id
inline constexpr UINT WM_DL_HIDE_PROGRESS = 9024;
inline constexpr UINT WM_DL_CONNECT_UPDATER = 10024;
inline constexpr UINT WM_DL_BLOCK_SHUTDOWN = 10025;
inline constexpr UINT WM_DL_RELAUNCH_ELEVATED = 10026;
inline constexpr UINT WM_DL_TASK_FAILED = 10027;  // wParam text block, lParam task id

// Task ids of the engine; their names appear in failure texts.
enum TaskId : LONG {
    kTaskIdle = 0,
    kTaskProcessResponse = 1,
    kTaskDownloadVersionInfo = 2,
    kTaskDownloadFile = 3,
    kTaskReadXml = 4,
    kTaskParseXml = 5,
    kTaskSaveFile = 6,
    kTaskRunMsi = 7,
    kTaskExit = 8,
    kTaskDownloadPrerequisiteFile = 9,
    kTaskInstallPrerequisites = 10,
};

// "Idle" ... "InstallPrerequisites"; any other id gives "".
inline std::wstring_view task_name(LPARAM id) {
    static constexpr std::wstring_view names[] = {L"Idle",
                                                  L"ProcessResponse",
                                                  L"DownloadVersionInfo",
                                                  L"DownloadFile",
                                                  L"ReadXML",
                                                  L"ParseXML",
                                                  L"SaveFile",
                                                  L"RunMSI",
                                                  L"Exit",
                                                  L"DownloadPrerequisiteFile",
                                                  L"InstallPrerequisites"};
    if (id < 0 || id >= static_cast<LPARAM>(std::size(names))) return {};
    return names[id];
}

// Copies text into a heap block for a posted message; null for no text.
inline wchar_t* make_message_text(std::wstring_view text) {
    auto* block = new wchar_t[text.size() + 1];
    text.copy(block, text.size());
    block[text.size()] = L'\0';
    return block;
}
