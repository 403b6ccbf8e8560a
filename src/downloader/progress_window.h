#pragma once
// The hidden main window, the progress window and the UI-thread handlers of
// the downloader messages.
#include <windows.h>

#include <string>

enum class BarMode { none, determinate, marquee };

// UI-thread state of the windows. Workers never touch it.
struct UiState {
    HANDLE engineStarted = nullptr;  // manual reset; set by the engine, closed by the common shutdown
    bool closing = false;            // the close sequence has begun
    bool mainWindowDestroyed = false;
    bool shutdownBlock = false;  // a shutdown block reason is registered
    BarMode barMode = BarMode::none;
    LONG barTotal = 0;  // range of the bar in determinate mode
    int sourceKind = 0;
    std::wstring descriptionLocation;
    std::wstring shutdownBlockReason;  // stored by the updater conversation before WM_DL_BLOCK_SHUTDOWN
};
UiState& ui_state();

// Registers the main window class (launch state's window class name).
bool RegisterMainWindowClass(HINSTANCE instance);

// Creates, sizes and shows the windows, initialises the engine and posts the
// first message. False with the last error set (or 0) on failure.
bool CreateDownloaderWindows(HINSTANCE instance, int show);

// Runs the message loop; a failure thrown by a window handler ends the loop
// and is rethrown here. Returns the quit code.
int RunMessageLoop(HACCEL accelerators);

// "%.2f" with B, kB, MB ... YB (powers of 1000).
std::wstring size_text(unsigned long long bytes);

// The status line for done of total (total <= 0: unknown).
std::wstring progress_line(const std::wstring& progressText, unsigned long done, long total);

// Progress window width from its first width, the title width and the
// width of the widest status line.
int progress_window_width(int firstWidth, int titleWidth, int statusWidth);

// Small icon size for a vertical DPI.
int small_icon_size(UINT dpi);

// Test seam: what says that Windows is shutting down (default
// GetSystemMetrics(SM_SHUTTINGDOWN)). Null restores the default.
void set_shutting_down_probe(bool (*probe)());

INT_PTR CALLBACK ProgressWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
LRESULT CALLBACK MainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// Closes the engine-started event (common shutdown).
void CloseEngineStartedEvent();
