// The hidden main window, creation and layout of the progress window, and
// the message loop.
#include <windows.h>
#include <commctrl.h>

#include "engine_interface.h"
#include "launch_state.h"
#include "privileges.h"
#include "progress_window.h"
#include "resource.h"
#include "settings.h"
#include "text.h"
#include "unique_handle.h"
#include "window_failure.h"
#include "window_messages.h"

UiState& ui_state() {
    static UiState state;
    return state;
}

LRESULT CALLBACK MainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_CLOSE:
            ui_state().mainWindowDestroyed = true;
            DestroyWindow(window);
            return 0;
        case WM_DESTROY:
            PostQuitMessage(0);
            return 0;
        case WM_CTLCOLORDLG:
        case WM_CTLCOLORSTATIC:
            return reinterpret_cast<LRESULT>(GetStockObject(WHITE_BRUSH));
        default:
            return DefWindowProcW(window, message, wParam, lParam);
    }
}

bool RegisterMainWindowClass(HINSTANCE instance) {
    WNDCLASSEXW windowClass = {};
    windowClass.cbSize = sizeof(windowClass);
    windowClass.style = CS_HREDRAW | CS_VREDRAW;
    windowClass.lpfnWndProc = MainWindowProc;
    windowClass.hInstance = instance;
    windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(static_cast<INT_PTR>(COLOR_WINDOW + 1));
    windowClass.lpszClassName = launch_state().windowClassName.c_str();
    return RegisterClassExW(&windowClass) != 0 || GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
}

namespace {

// Text width of text in font on dc; -1 when the measurement fails.
int text_width(HDC dc, HFONT font, const std::wstring& text) {
    HGDIOBJ old = SelectObject(dc, font ? static_cast<HGDIOBJ>(font) : GetStockObject(DEFAULT_GUI_FONT));
    SIZE size = {};
    BOOL ok = GetTextExtentPoint32W(dc, text.c_str(), static_cast<int>(text.size()), &size);
    SelectObject(dc, old);
    return ok ? size.cx : -1;
}

// Widens the window for its title and the longest status line, keeping its
// top and horizontal centre; returns the new width or -1.
int size_progress_window(HWND window) {
    RECT rect = {};
    GetWindowRect(window, &rect);
    const int firstWidth = rect.right - rect.left;

    HDC dc = GetDC(window);
    if (!dc) return -1;
    struct DcRelease {
        HWND window;
        HDC dc;
        ~DcRelease() { ReleaseDC(window, dc); }
    } release{window, dc};

    // The pre-Vista size of the structure is accepted everywhere.
    NONCLIENTMETRICSW metrics = {};
    metrics.cbSize = 500;
    unique_hfont captionFont;
    if (SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, metrics.cbSize, &metrics, 0))
        captionFont.reset(CreateFontIndirectW(&metrics.lfCaptionFont));
    const int titleWidth = text_width(dc, captionFont.get(), settings().windowTitle);
    if (titleWidth < 0) return -1;

    HWND status = GetDlgItem(window, IDC_STATUS_TEXT);
    HFONT statusFont = reinterpret_cast<HFONT>(SendMessageW(status ? status : window, WM_GETFONT, 0, 0));
    const int statusWidth = text_width(dc, statusFont, settings().progressText + L"9999 of 9999");
    if (statusWidth < 0) return -1;

    const int width = progress_window_width(firstWidth, titleWidth, statusWidth);
    const int left = rect.left - (width - firstWidth) / 2;
    MoveWindow(window, left, rect.top, width, rect.bottom - rect.top, TRUE);
    return width;
}

// Stretches a control to width, keeping its position and height.
void set_control_width(HWND control, int width) {
    RECT rect = {};
    GetWindowRect(control, &rect);
    SetWindowPos(control, nullptr, 0, 0, width, rect.bottom - rect.top,
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

}  // namespace

bool CreateDownloaderWindows(HINSTANCE instance, int show) {
    LaunchState& state = launch_state();
    UiState& ui = ui_state();
    if (!ui.engineStarted) ui.engineStarted = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (!ui.engineStarted) return false;

    SetLastError(0);
    state.mainWindow =
        CreateWindowExW(0, state.windowClassName.c_str(), settings().windowTitle.c_str(), WS_OVERLAPPEDWINDOW,
                        CW_USEDEFAULT, 0, CW_USEDEFAULT, 0, nullptr, nullptr, instance, nullptr);
    if (!state.mainWindow) return false;
    // The progress bar class lives in the common controls library; make sure
    // it is loaded and registered before the dialog asks for it.
    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_PROGRESS_CLASS};
    InitCommonControlsEx(&controls);
    state.progressWindow =
        CreateDialogParamW(instance, MAKEINTRESOURCEW(IDD_PROGRESS), state.mainWindow, ProgressWindowProc, 0);
    if (!state.progressWindow) return false;

    const int width = size_progress_window(state.progressWindow);
    if (width < 0) return false;
    SetWindowTextW(state.progressWindow, settings().windowTitle.c_str());

    HWND bar = GetDlgItem(state.progressWindow, IDC_PROGRESS_BAR);
    HWND status = GetDlgItem(state.progressWindow, IDC_STATUS_TEXT);
    if (bar) {
        SetWindowLongPtrW(bar, GWL_STYLE, GetWindowLongPtrW(bar, GWL_STYLE) | PBS_MARQUEE);
        RECT windowRect = {}, barRect = {};
        GetWindowRect(state.progressWindow, &windowRect);
        GetWindowRect(bar, &barRect);
        const int margin = barRect.left - windowRect.left;
        set_control_width(bar, width - 2 * margin);
        if (status) set_control_width(status, width - 2 * margin);
    }

    ShowWindow(state.mainWindow, SW_HIDE);
    ShowWindow(state.progressWindow, iequals(settings().visible, L"false") ? SW_HIDE : show);
    UpdateWindow(state.progressWindow);

    if (IDownloadEngine* engine = download_engine()) {
        EngineStartup startup;
        startup.instance = instance;
        startup.notificationWindow = state.progressWindow;
        startup.startedEvent = ui.engineStarted;
        startup.administratorMode = IsAdministratorMode(settings().privileges);
        startup.elevated = IsElevated(state.osMajorVersion);
        startup.vistaOrLater = state.osMajorVersion >= 6;
        startup.afterReboot = state.afterReboot;
        startup.updaterAutoStart = is_true(settings().updaterAutoStart);
        startup.updaterService = state.updaterService;
        startup.lowIntegrity = IsLowIntegrity();
        if (!engine->Initialize(startup)) return false;
    }

    return PostMessageW(state.progressWindow, state.updaterMode ? WM_DL_CONNECT_UPDATER : WM_DL_START, 0,
                        0) != FALSE;
}

int RunMessageLoop(HACCEL accelerators) {
    MSG message = {};
    for (;;) {
        BOOL got = GetMessageW(&message, nullptr, 0, 0);
        if (got == 0 || got == -1) break;
        if (!accelerators || !TranslateAcceleratorW(message.hwnd, accelerators, &message)) {
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
        rethrow_window_failure();
    }
    return static_cast<int>(message.wParam);
}

void CloseEngineStartedEvent() {
    UiState& ui = ui_state();
    if (ui.engineStarted) {
        CloseHandle(ui.engineStarted);
        ui.engineStarted = nullptr;
    }
}
