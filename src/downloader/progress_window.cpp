// The progress window's procedure and the handlers of the downloader messages.
#include <windows.h>
#include <commctrl.h>
#include <shobjidl.h>

#include <memory>

#include "engine_interface.h"
#include "failure_report.h"
#include "launch_state.h"
#include "privileges.h"
#include "progress_window.h"
#include "resource.h"
#include "settings.h"
#include "text.h"
#include "unique_handle.h"
#include "updater_link.h"
#include "url_location.h"
#include "wexception.h"
#include "window_failure.h"
#include "window_messages.h"
#include "downloader_texts.h"
#include "ipc_texts.h"

namespace {

constexpr DWORD kEngineFinishTimeout = 60000;
constexpr DWORD kEngineStartTimeout = 5000;

bool (*g_shutting_down)() = nullptr;

// Created once, for the life of the process (the window may be recreated by tests).
HBRUSH status_brush() {
    static HBRUSH brush = CreateSolidBrush(GetSysColor(COLOR_BTNFACE));
    return brush;
}

unique_hicon& small_icon() {
    static unique_hicon icon;
    return icon;
}

bool windows_shutting_down() {
    return g_shutting_down ? g_shutting_down() : GetSystemMetrics(SM_SHUTTINGDOWN) != 0;
}

bool vista_or_later() {
    return launch_state().osMajorVersion >= 6;
}

void set_small_icon(HWND window, int size) {
    HINSTANCE instance = reinterpret_cast<HINSTANCE>(GetWindowLongPtrW(window, GWLP_HINSTANCE));
    HICON icon = static_cast<HICON>(
        LoadImageW(instance, MAKEINTRESOURCEW(IDI_APPLICATION_ICON), IMAGE_ICON, size, size, 0));
    if (!icon) return;
    SendMessageW(window, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(icon));
    small_icon().reset(icon);  // the previous icon is no longer in use
}

void wait_for_engine() {
    if (IDownloadEngine* engine = download_engine()) {
        engine->RequestCancel();
        if (HANDLE finished = engine->FinishedEvent()) WaitForSingleObject(finished, kEngineFinishTimeout);
    }
}

void release_shutdown_block() {
    UiState& ui = ui_state();
    if (!ui.shutdownBlock) return;
    ui.shutdownBlock = false;
    if (vista_or_later()) ShutdownBlockReasonDestroy(launch_state().progressWindow);
}

void close_sequence() {
    UiState& ui = ui_state();
    ui.closing = true;
    release_shutdown_block();
    wait_for_engine();
    if (!ui.mainWindowDestroyed) PostMessageW(launch_state().mainWindow, WM_CLOSE, 0, 0);
}

void stop_and_close() {
    wait_for_engine();
    PostMessageW(launch_state().mainWindow, WM_CLOSE, 0, 0);
}

bool in_uninterruptible_task() {
    IDownloadEngine* engine = download_engine();
    if (!engine) return false;
    LONG task = engine->CurrentTask();
    return task == kTaskRunMsi || task == kTaskInstallPrerequisites;
}

HWND bar_of(HWND window) {
    return GetDlgItem(window, IDC_PROGRESS_BAR);
}

void set_marquee(HWND window) {
    HWND bar = bar_of(window);
    if (bar) {
        LONG_PTR style = GetWindowLongPtrW(bar, GWL_STYLE);
        if ((style & PBS_MARQUEE) == 0)
            SetWindowLongPtrW(bar, GWL_STYLE, (style & ~PBS_SMOOTH) | PBS_MARQUEE);
        SendMessageW(bar, PBM_SETMARQUEE, TRUE, 0);
    }
    ui_state().barMode = BarMode::marquee;
}

void on_start() {
    LaunchState& state = launch_state();
    UiState& ui = ui_state();
    DescriptionSource source = locate_description(state.currentInstallationUrl, state.executableFolder);
    ui.sourceKind = source.kind;
    if (source.kind == kSourceRefused) throw windows_error(texts::kBadInstallationUrl, 0);
    ui.descriptionLocation = source.location;

    IDownloadEngine* engine = download_engine();
    if (!engine) {
        SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
        throw windows_error(texts::kThreadStartFailed, GetLastError());
    }
    if (!engine->Start(source.kind, source.location))
        throw windows_error(texts::kThreadStartFailed, GetLastError());
    switch (WaitForSingleObject(ui.engineStarted, kEngineStartTimeout)) {
        case WAIT_OBJECT_0:
            return;
        case WAIT_TIMEOUT:
            throw windows_error(texts::kThreadStartTimedOut, GetLastError());
        default:
            throw windows_error(texts::kThreadStartFailed, GetLastError());
    }
}

void on_started(HWND window) {
    if (iequals(settings().visible, L"false")) return;
    set_marquee(window);
    SetDlgItemTextW(window, IDC_STATUS_TEXT, L"-");
    UpdateWindow(window);
}

void on_progress(HWND window, WPARAM wParam, LPARAM lParam) {
    const unsigned long done = static_cast<unsigned long>(static_cast<DWORD>(wParam));
    const long total = static_cast<long>(static_cast<LONG>(lParam));
    LaunchState& state = launch_state();
    UiState& ui = ui_state();
    HWND bar = bar_of(window);
    ITaskbarList3* taskbar = state.taskbarAvailable ? state.taskbar : nullptr;
    if (total > 0) {
        if (bar) {
            if (ui.barMode != BarMode::determinate) {
                SendMessageW(bar, PBM_SETMARQUEE, FALSE, 0);
                LONG_PTR style = GetWindowLongPtrW(bar, GWL_STYLE);
                SetWindowLongPtrW(bar, GWL_STYLE, (style & ~PBS_MARQUEE) | PBS_SMOOTH);
            }
            // A new file brings a new total: the range follows it.
            if (ui.barMode != BarMode::determinate || ui.barTotal != total)
                SendMessageW(bar, PBM_SETRANGE32, 0, total);
            SendMessageW(bar, PBM_SETPOS, done, 0);
        }
        ui.barMode = BarMode::determinate;
        ui.barTotal = total;
        if (taskbar) {
            taskbar->SetProgressState(window, TBPF_NORMAL);
            taskbar->SetProgressValue(window, done, static_cast<ULONGLONG>(total));
        }
    } else {
        if (ui.barMode != BarMode::marquee) set_marquee(window);
        if (taskbar) taskbar->SetProgressState(window, TBPF_INDETERMINATE);
    }
    SetDlgItemTextW(window, IDC_STATUS_TEXT, progress_line(settings().progressText, done, total).c_str());
}

// Fail-over to the next non-empty alternative URL; false when there is none.
bool fail_over() {
    LaunchState& state = launch_state();
    for (auto it = state.alternativeUrls.begin(); it != state.alternativeUrls.end(); ++it) {
        if (it->empty()) continue;
        state.currentInstallationUrl = *it;
        state.alternativeUrls.erase(it);
        wait_for_engine();
        if (IDownloadEngine* engine = download_engine()) engine->Reset();
        PostMessageW(state.progressWindow, WM_DL_START, 0, 0);
        return true;
    }
    return false;
}

void on_download_failed(WPARAM wParam, LPARAM lParam) {
    std::unique_ptr<wchar_t[]> text(reinterpret_cast<wchar_t*>(wParam));
    const std::wstring task(task_name(lParam));
    const bool failOverTask = lParam == kTaskProcessResponse || lParam == kTaskDownloadVersionInfo ||
                              lParam == kTaskDownloadFile || lParam == kTaskDownloadPrerequisiteFile;
    if (failOverTask && fail_over()) return;

    const std::wstring message = text ? format(texts::kFailureWithTask, text.get(), task.c_str())
                                      : format(texts::kUnknownFailureWithTask, task.c_str());
    text.reset();
    const LaunchState& state = launch_state();
    if (IUpdaterLink* link = updater_link()) link->SendFailure(message, 0);
    if (!state.sessionEnding) {
        if (state.customError) {
            IDownloadEngine* engine = download_engine();
            ShowCustomErrorBox(settings().customErrorText, settings().customErrorLink,
                               engine ? engine->ErrorCode() : 0, state.dpiX, state.dpiY);
        } else {
            ShowErrorBox(message, state.dpiX, state.dpiY);
        }
    }
    stop_and_close();
}

void on_task_failed(WPARAM wParam, LPARAM lParam) {
    std::unique_ptr<wchar_t[]> text(reinterpret_cast<wchar_t*>(wParam));
    if (lParam == kTaskDownloadFile && fail_over()) return;
    const std::wstring message = text ? std::wstring(text.get()) : std::wstring();
    text.reset();
    const LaunchState& state = launch_state();
    if (IUpdaterLink* link = updater_link()) link->SendFailure(message, 0);
    if (!state.sessionEnding) ShowWarningBox(message, state.dpiX, state.dpiY);
    stop_and_close();
}

void on_connect_updater() {
    const LaunchState& state = launch_state();
    UpdaterConnectRequest request;
    request.updaterPath = state.updaterPath;
    request.updaterProcessId = state.updaterProcessId;
    request.sessionId = state.sessionId;
    request.productFolder = state.productFolder;
    request.pipeName = state.updaterPipeName;
    request.applicationIdOverride = state.applicationIdOverride;
    IUpdaterLink* link = updater_link();
    if (!link) SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
    if (link && link->Connect(request)) {
        PostMessageW(state.progressWindow, WM_DL_START, 0, 0);
        return;
    }
    throw windows_error(texts::kUpdaterConnectFailed, GetLastError());
}

void on_block_shutdown(HWND window) {
    if (!vista_or_later()) return;
    if (ShutdownBlockReasonCreate(window, ui_state().shutdownBlockReason.c_str()))
        ui_state().shutdownBlock = true;
}

void on_relaunch_elevated() {
    LaunchState& state = launch_state();
    IDownloadEngine* engine = download_engine();
    if (!state.arguments.empty()) state.arguments += L' ';
    state.arguments += L"/afterReboot=\"" + (engine ? engine->CacheFolder() : std::wstring()) + L"\"";
    if (LaunchElevated(state.executablePath, state.arguments, state.executableFolder) < 32) {
        if (engine) engine->ClearElevationRequired();
        ShowErrorBox(texts::kPrivilegesForRemoval, state.dpiX, state.dpiY);
    }
    PostMessageW(state.mainWindow, WM_CLOSE, 0, 0);
}

INT_PTR CALLBACK about_proc(HWND window, UINT message, WPARAM wParam, LPARAM) {
    if (message == WM_INITDIALOG) return TRUE;
    if (message == WM_COMMAND && (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL)) {
        EndDialog(window, LOWORD(wParam));
        return TRUE;
    }
    return FALSE;
}

INT_PTR handle(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    LaunchState& state = launch_state();
    UiState& ui = ui_state();
    switch (message) {
        case WM_INITDIALOG:
            set_small_icon(window, GetSystemMetrics(SM_CXSMICON));
            return TRUE;
        case WM_COMMAND:
            if (LOWORD(wParam) == IDM_ABOUT)
                DialogBoxParamW(reinterpret_cast<HINSTANCE>(GetWindowLongPtrW(window, GWLP_HINSTANCE)),
                                MAKEINTRESOURCEW(IDD_ABOUTBOX), window, about_proc, 0);
            else if (LOWORD(wParam) == 105)
                DestroyWindow(window);
            return FALSE;
        case WM_CTLCOLORSTATIC:
        case WM_CTLCOLORDLG:
            SetTextColor(reinterpret_cast<HDC>(wParam), GetSysColor(COLOR_WINDOWTEXT));
            SetBkColor(reinterpret_cast<HDC>(wParam), GetSysColor(COLOR_BTNFACE));
            return reinterpret_cast<INT_PTR>(status_brush());
        case WM_CLOSE:
            if (in_uninterruptible_task() && (state.updaterMode || !windows_shutting_down())) return FALSE;
            if (!ui.closing) close_sequence();
            return FALSE;
        case WM_DESTROY:
            if (!ui.closing) close_sequence();
            return FALSE;
        case WM_QUERYENDSESSION: {
            InterlockedExchange(&state.sessionEnding, 1);
            if (IDownloadEngine* engine = download_engine()) engine->RequestStop();
            BOOL allow = TRUE;
            if (state.updaterMode && in_uninterruptible_task()) {
                AbortSystemShutdownW(nullptr);
                allow = FALSE;
            }
            // A dialog procedure answers through DWLP_MSGRESULT.
            SetWindowLongPtrW(window, DWLP_MSGRESULT, allow);
            return TRUE;
        }
        case WM_ENDSESSION:
            if (IDownloadEngine* engine = download_engine()) engine->RequestStop();
            return FALSE;
        case 0x02E0: {  // WM_DPICHANGED
            const UINT dpi = HIWORD(wParam);
            state.dpiY = static_cast<float>(dpi);
            set_small_icon(window, small_icon_size(dpi));
            return FALSE;
        }
        case WM_DL_START:
            on_start();
            return FALSE;
        case WM_DL_STARTED:
            on_started(window);
            return FALSE;
        case WM_DL_PROGRESS:
            on_progress(window, wParam, lParam);
            return FALSE;
        case WM_DL_DOWNLOAD_FAILED:
            on_download_failed(wParam, lParam);
            return FALSE;
        case WM_DL_TASK_FAILED:
            on_task_failed(wParam, lParam);
            return FALSE;
        case WM_DL_COMPLETED:
            release_shutdown_block();
            stop_and_close();
            return FALSE;
        case WM_DL_HIDE_PROGRESS:
            if (IsWindowVisible(window)) ShowWindow(window, SW_HIDE);
            return FALSE;
        case WM_DL_CONNECT_UPDATER:
            on_connect_updater();
            return FALSE;
        case WM_DL_BLOCK_SHUTDOWN:
            on_block_shutdown(window);
            return FALSE;
        case WM_DL_RELAUNCH_ELEVATED:
            on_relaunch_elevated();
            return FALSE;
        default:
            return FALSE;
    }
}

}  // namespace

void set_shutting_down_probe(bool (*probe)()) {
    g_shutting_down = probe;
}

INT_PTR CALLBACK ProgressWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    try {
        return handle(window, message, wParam, lParam);
    } catch (...) {
        park_window_failure();
        return FALSE;
    }
}
