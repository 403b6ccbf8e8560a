// Drives a live progress window by posting the downloader's messages and
// reads back what the user sees.
#include <gtest/gtest.h>

#include <windows.h>
#include <commctrl.h>

#include <list>
#include <string>
#include <thread>
#include <vector>

#include "failure_report.h"
#include "fake_taskbar.h"
#include "launch_state.h"
#include "progress_window.h"
#include "resource.h"
#include "settings.h"
#include "test_engine.h"
#include "test_support.h"
#include "updater_link.h"
#include "window_failure.h"
#include "window_messages.h"

using namespace testing_support;

namespace {

std::vector<MessageBoxRequest> g_boxes;
void record_box(const MessageBoxRequest& request) {
    g_boxes.push_back(request);
}

bool g_shutting_down = false;
bool shutting_down() {
    return g_shutting_down;
}

struct RecordingUpdater : IUpdaterLink {
    bool accept = true;
    std::vector<UpdaterConnectRequest> connects;
    std::vector<std::pair<std::wstring, DWORD>> failures;
    bool Connect(const UpdaterConnectRequest& request) override {
        connects.push_back(request);
        if (!accept) SetLastError(ERROR_PIPE_BUSY);
        return accept;
    }
    void SendFailure(const std::wstring& text, DWORD code) override { failures.emplace_back(text, code); }
};

// Counts the switches of the bar into marquee mode.
LRESULT CALLBACK count_marquee(HWND window, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR,
                               DWORD_PTR data) {
    if (message == PBM_SETMARQUEE && wParam) ++*reinterpret_cast<int*>(data);
    return DefSubclassProc(window, message, wParam, lParam);
}

class ProgressWindowTest : public testing::Test {
protected:
    void SetUp() override {
        g_boxes.clear();
        g_shutting_down = false;
        saved_settings = settings();
        DeploymentSettings& config = settings();
        config.windowTitle = L"Sample Product Setup";
        config.progressText = L"Downloading...";
        // Hidden unless a test looks at the screen: Wine takes its time to
        // take a shown window off the display again.
        config.visible = L"false";
        config.productName = L"Sample Product";
        config.privileges = L"administrator";
        config.customErrorText = L"<Empty>";
        config.customErrorLink = L"<Empty>";
        LaunchState& state = launch_state();
        state.windowClassName = L"QRWINDOWTEST";
        state.osMajorVersion = 10;
        state.executablePath = L"C:\\Apps\\setup.exe";
        state.executableFolder = L"C:\\Apps\\";
        state.arguments.clear();
        state.currentInstallationUrl = L"https://main.example/product";
        state.alternativeUrls.clear();
        state.updaterMode = false;
        state.sessionEnding = 0;
        state.customError = false;
        state.taskbar = &taskbar;
        state.taskbarAvailable = true;
        ui_state() = UiState{};
        set_download_engine(&engine);
        set_updater_link(&updater);
        set_message_box_presenter(record_box);
        set_shutting_down_probe(shutting_down);
        // The engine's finished event is never reset; a window that closes
        // before any run must not wait the full minute for it.
        engine.set_finished();
        ASSERT_TRUE(RegisterMainWindowClass(GetModuleHandleW(nullptr)));
    }

    void TearDown() override {
        engine.set_finished();  // nothing may wait for a run that never ends
        if (IsWindow(launch_state().mainWindow)) DestroyWindow(launch_state().mainWindow);
        drain();
        CloseEngineStartedEvent();
        LaunchState& state = launch_state();
        state.mainWindow = nullptr;
        state.progressWindow = nullptr;
        state.taskbar = nullptr;
        state.taskbarAvailable = false;
        state.sessionEnding = 0;
        settings() = saved_settings;
        set_download_engine(nullptr);
        set_updater_link(nullptr);
        set_message_box_presenter(nullptr);
        set_shutting_down_probe(nullptr);
    }

    void create() {
        ASSERT_TRUE(CreateDownloaderWindows(GetModuleHandleW(nullptr), SW_SHOWNORMAL));
        window = launch_state().progressWindow;
        ASSERT_NE(window, nullptr);
    }

    // Dispatches until nothing is left; records the quit and parked failures.
    void drain() {
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            if (message.message == WM_QUIT) {
                quit = true;
                quitCode = static_cast<int>(message.wParam);
                continue;
            }
            TranslateMessage(&message);
            DispatchMessageW(&message);
            try {
                rethrow_window_failure();
            } catch (...) {
                failures.push_back(current_failure());
            }
        }
    }

    void post(UINT message, WPARAM wParam = 0, LPARAM lParam = 0) {
        PostMessageW(window, message, wParam, lParam);
        drain();
    }

    std::wstring status() const {
        wchar_t text[256] = {};
        GetDlgItemTextW(window, IDC_STATUS_TEXT, text, 256);
        return text;
    }
    HWND bar() const { return GetDlgItem(window, IDC_PROGRESS_BAR); }
    bool marquee_style() const { return (GetWindowLongPtrW(bar(), GWL_STYLE) & PBS_MARQUEE) != 0; }
    bool smooth_style() const { return (GetWindowLongPtrW(bar(), GWL_STYLE) & PBS_SMOOTH) != 0; }
    bool closed() const { return !IsWindow(launch_state().mainWindow) && quit; }

    TestEngine engine;
    RecordingUpdater updater;
    FakeTaskbar taskbar;
    DeploymentSettings saved_settings;
    HWND window = nullptr;
    bool quit = false;
    int quitCode = -1;
    std::vector<Failure> failures;
};

TEST_F(ProgressWindowTest, CreationSizesTheWindowAndStartsTheEngine) {
    settings().windowTitle = L"A rather long window title that needs much more room than the dialog has";
    settings().visible = L"true";
    create();
    EXPECT_TRUE(IsWindowVisible(window));
    EXPECT_FALSE(IsWindowVisible(launch_state().mainWindow));
    EXPECT_TRUE(IsWindowVisible(bar()));
    EXPECT_FALSE(IsWindowVisible(GetDlgItem(window, IDC_HIDDEN_BUTTON)));
    wchar_t title[200] = {};
    GetWindowTextW(window, title, 200);
    EXPECT_EQ(std::wstring(title), settings().windowTitle);

    // Wide enough for the title in the caption font, with the bar and the
    // status line stretched between equal margins.
    RECT windowRect, barRect, statusRect;
    GetWindowRect(window, &windowRect);
    GetWindowRect(bar(), &barRect);
    GetWindowRect(GetDlgItem(window, IDC_STATUS_TEXT), &statusRect);
    NONCLIENTMETRICSW metrics = {};
    metrics.cbSize = 500;
    ASSERT_TRUE(SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, 500, &metrics, 0));
    HFONT font = CreateFontIndirectW(&metrics.lfCaptionFont);
    HDC dc = GetDC(window);
    HGDIOBJ old = SelectObject(dc, font);
    SIZE titleSize = {};
    GetTextExtentPoint32W(dc, title, lstrlenW(title), &titleSize);
    SelectObject(dc, old);
    ReleaseDC(window, dc);
    DeleteObject(font);
    EXPECT_GT(windowRect.right - windowRect.left, titleSize.cx);
    const int leftMargin = barRect.left - windowRect.left;
    EXPECT_NEAR(windowRect.right - barRect.right, leftMargin, 1);
    EXPECT_EQ(statusRect.right - statusRect.left, barRect.right - barRect.left);
    EXPECT_EQ(statusRect.left, barRect.left);
    // Centred where the dialog was centred: on the work area.
    RECT work;
    SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
    EXPECT_NEAR((windowRect.left + windowRect.right) / 2, (work.left + work.right) / 2, 2);
    EXPECT_TRUE(marquee_style());

    ASSERT_TRUE(engine.initialized);
    EXPECT_EQ(engine.startup.notificationWindow, window);
    EXPECT_EQ(engine.startup.startedEvent, ui_state().engineStarted);
    EXPECT_TRUE(engine.startup.administratorMode);
    EXPECT_TRUE(engine.startup.vistaOrLater);

    drain();  // the first message is WM_DL_START
    ASSERT_EQ(engine.starts.size(), 1u);
    EXPECT_EQ(engine.starts[0].first, 2);
    EXPECT_EQ(engine.starts[0].second, L"https://main.example/product/version_info.xml");
    EXPECT_TRUE(failures.empty());
}

TEST_F(ProgressWindowTest, ShortTitleGetsTwiceTheDialogWidth) {
    settings().windowTitle = L"S";
    settings().progressText = L"";
    create();
    RECT windowRect;
    GetWindowRect(window, &windowRect);
    RECT template_units = {0, 0, 118, 52};
    MapDialogRect(window, &template_units);
    // The outer width started at the template width plus the frame.
    EXPECT_GE(windowRect.right - windowRect.left, 2 * template_units.right);
}

TEST_F(ProgressWindowTest, HiddenWindowStaysHiddenAndKeepsItsText) {
    settings().visible = L"FALSE";
    create();
    drain();
    EXPECT_FALSE(IsWindowVisible(window));
    post(WM_DL_STARTED);
    EXPECT_EQ(status(), L"");
}

TEST_F(ProgressWindowTest, ProgressShowsSizesBarAndTaskbar) {
    settings().visible = L"true";
    create();
    drain();
    int marqueeSwitches = 0;
    ASSERT_TRUE(SetWindowSubclass(bar(), count_marquee, 1, reinterpret_cast<DWORD_PTR>(&marqueeSwitches)));

    post(WM_DL_STARTED);
    EXPECT_EQ(status(), L"-");
    EXPECT_TRUE(marquee_style());
    EXPECT_EQ(marqueeSwitches, 1);

    post(WM_DL_PROGRESS, 1234, 10000000);
    EXPECT_EQ(status(), L"Downloading...1.23kB of 10.00MB");
    EXPECT_TRUE(smooth_style());
    EXPECT_FALSE(marquee_style());
    EXPECT_EQ(SendMessageW(bar(), PBM_GETRANGE, FALSE, 0), 10000000);
    EXPECT_EQ(SendMessageW(bar(), PBM_GETRANGE, TRUE, 0), 0);
    EXPECT_EQ(SendMessageW(bar(), PBM_GETPOS, 0, 0), 1234);
    EXPECT_EQ(taskbar.last_state(), TBPF_NORMAL);
    ASSERT_NE(taskbar.last_value(), nullptr);
    EXPECT_EQ(taskbar.last_value()->done, 1234u);
    EXPECT_EQ(taskbar.last_value()->total, 10000000u);

    // Unknown total twice: back to marquee, switched once.
    post(WM_DL_PROGRESS, 999, 0);
    post(WM_DL_PROGRESS, 1000, 0);
    EXPECT_EQ(status(), L"Downloading...1.00kB");
    EXPECT_TRUE(marquee_style());
    EXPECT_FALSE(smooth_style());
    EXPECT_EQ(marqueeSwitches, 2);
    EXPECT_EQ(taskbar.last_state(), TBPF_INDETERMINATE);

    // A done count above 2^31 is unsigned; a total above 2^31 arrives negative: unknown.
    post(WM_DL_PROGRESS, 3000000000u, static_cast<LPARAM>(static_cast<LONG>(3000000000u)));
    EXPECT_EQ(status(), L"Downloading...3.00GB");
    EXPECT_TRUE(marquee_style());
    EXPECT_EQ(marqueeSwitches, 2);

    // Each file brings its own total; the bar's range follows.
    post(WM_DL_PROGRESS, 0, 1000);
    post(WM_DL_PROGRESS, 500, 1000);
    EXPECT_EQ(SendMessageW(bar(), PBM_GETPOS, 0, 0), 500);
    post(WM_DL_PROGRESS, 3000, 5000);
    EXPECT_EQ(SendMessageW(bar(), PBM_GETRANGE, FALSE, 0), 5000);
    EXPECT_EQ(SendMessageW(bar(), PBM_GETPOS, 0, 0), 3000);
    EXPECT_EQ(status(), L"Downloading...3.00kB of 5.00kB");

    settings().progressText = L"<Empty>";
    post(WM_DL_PROGRESS, 0, 0);
    EXPECT_EQ(status(), L"0.00B");
    RemoveWindowSubclass(bar(), count_marquee, 1);
}

TEST_F(ProgressWindowTest, DestroyCommandEndsTheRunThroughTheCloseSequence) {
    create();
    drain();
    post(WM_COMMAND, 105);
    EXPECT_FALSE(IsWindow(window));
    EXPECT_TRUE(ui_state().closing);
    EXPECT_GE(engine.cancelRequests, 1);
    EXPECT_TRUE(closed());
    EXPECT_EQ(quitCode, 0);
}

TEST_F(ProgressWindowTest, HideProgress) {
    settings().visible = L"true";
    create();
    drain();
    ASSERT_TRUE(IsWindowVisible(window));
    post(WM_DL_HIDE_PROGRESS);
    EXPECT_FALSE(IsWindowVisible(window));
    EXPECT_TRUE(IsWindow(window));
}

TEST_F(ProgressWindowTest, CloseIsIgnoredDuringInstallationsUnlessWindowsShutsDown) {
    struct Case {
        LONG task;
        bool updaterMode;
        bool shuttingDown;
        bool closes;
    } cases[] = {
        {kTaskRunMsi, false, false, false},      {kTaskInstallPrerequisites, false, false, false},
        {kTaskRunMsi, false, true, true},        {kTaskInstallPrerequisites, false, true, true},
        {kTaskRunMsi, true, true, false},        {kTaskInstallPrerequisites, true, false, false},
        {kTaskDownloadFile, false, false, true}, {kTaskDownloadFile, true, false, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message()
                     << "task " << c.task << " updater " << c.updaterMode << " shutdown " << c.shuttingDown);
        ui_state() = UiState{};
        quit = false;
        engine.cancelRequests = 0;
        engine.set_finished();
        launch_state().updaterMode = false;
        create();
        launch_state().updaterMode = c.updaterMode;
        engine.task = c.task;
        g_shutting_down = c.shuttingDown;
        MSG pending;  // the first message is not part of this case
        while (PeekMessageW(&pending, window, WM_DL_START, WM_DL_CONNECT_UPDATER, PM_REMOVE)) {
        }
        post(WM_CLOSE);
        EXPECT_EQ(closed(), c.closes);
        EXPECT_EQ(engine.cancelRequests > 0, c.closes);
        if (IsWindow(launch_state().mainWindow)) DestroyWindow(launch_state().mainWindow);
        drain();
        CloseEngineStartedEvent();
    }
}

TEST_F(ProgressWindowTest, EndOfSessionRaisesTheStopRequestOnce) {
    create();
    drain();
    EXPECT_EQ(SendMessageW(window, WM_QUERYENDSESSION, 0, ENDSESSION_LOGOFF), TRUE);
    EXPECT_EQ(launch_state().sessionEnding, 1);
    EXPECT_EQ(SendMessageW(window, WM_QUERYENDSESSION, 0, 0), TRUE);
    post(WM_ENDSESSION, TRUE, 0);
    EXPECT_EQ(engine.stopRequests, 1);
    EXPECT_TRUE(engine.stopFlag);

    // The updater's installation must not be cut short.
    launch_state().updaterMode = true;
    engine.task = kTaskRunMsi;
    EXPECT_EQ(SendMessageW(window, WM_QUERYENDSESSION, 0, 0), FALSE);
    engine.task = kTaskDownloadFile;
    EXPECT_EQ(SendMessageW(window, WM_QUERYENDSESSION, 0, 0), TRUE);
    launch_state().updaterMode = false;
}

TEST_F(ProgressWindowTest, DownloadFailureTriesEachAlternativeUrlThenReports) {
    launch_state().alternativeUrls = {L"https://mirror-one.example/p", L"", L"\\\\server\\share\\p"};
    engine.onStart = [](TestEngine& e, size_t) {
        e.finish(WM_DL_DOWNLOAD_FAILED, L"Connection refused.", kTaskDownloadFile);
    };
    create();
    drain();
    ASSERT_EQ(engine.starts.size(), 3u);
    EXPECT_EQ(engine.starts[0].second, L"https://main.example/product/version_info.xml");
    EXPECT_EQ(engine.starts[1].second, L"https://mirror-one.example/p/version_info.xml");
    EXPECT_EQ(engine.starts[2].first, 4);
    EXPECT_EQ(engine.starts[2].second, L"\\\\server\\share\\p\\version_info.xml");
    EXPECT_EQ(engine.resets, 2);
    EXPECT_EQ(launch_state().currentInstallationUrl, L"\\\\server\\share\\p");
    EXPECT_EQ(launch_state().alternativeUrls, (std::list<std::wstring>{L""}));  // empty entries stay

    ASSERT_EQ(g_boxes.size(), 1u);
    EXPECT_EQ(g_boxes[0].text, L"Connection refused. Task name: DownloadFile.");
    EXPECT_EQ(g_boxes[0].icon, BoxIcon::error);
    EXPECT_EQ(g_boxes[0].owner, window);
    ASSERT_EQ(updater.failures.size(), 1u);
    EXPECT_EQ(updater.failures[0].first, L"Connection refused. Task name: DownloadFile.");
    EXPECT_EQ(updater.failures[0].second, 0u);
    EXPECT_TRUE(closed());
    EXPECT_EQ(quitCode, 0);
    EXPECT_TRUE(failures.empty());
}

TEST_F(ProgressWindowTest, DownloadFailureFailOverOnlyForDownloadTasks) {
    struct Case {
        LPARAM task;
        const wchar_t* text;
        bool failsOver;
        std::wstring shown;
    } cases[] = {
        {kTaskProcessResponse, L"x", true, L""},
        {kTaskDownloadVersionInfo, L"x", true, L""},
        {kTaskDownloadPrerequisiteFile, L"x", true, L""},
        {kTaskReadXml, L"Bad file.", false, L"Bad file. Task name: ReadXML."},
        {kTaskReadXml, nullptr, false, L"Download failed (unknown error). Task name: ReadXML."},
        {kTaskParseXml, L"", false, L" Task name: ParseXML."},
        {42, L"Odd.", false, L"Odd. Task name: ."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.task);
        g_boxes.clear();
        ui_state() = UiState{};
        quit = false;
        engine.starts.clear();
        launch_state().alternativeUrls = {L"https://mirror.example/p"};
        engine.onStart = [&c](TestEngine& e, size_t index) {
            if (index == 0) e.finish(WM_DL_DOWNLOAD_FAILED, c.text, c.task);
        };
        create();
        drain();
        EXPECT_EQ(engine.starts.size(), c.failsOver ? 2u : 1u);
        EXPECT_EQ(launch_state().alternativeUrls.empty(), c.failsOver);
        if (c.failsOver) {
            EXPECT_TRUE(g_boxes.empty());
            EXPECT_FALSE(closed());
        } else {
            ASSERT_EQ(g_boxes.size(), 1u);
            EXPECT_EQ(g_boxes[0].text, c.shown);
            EXPECT_TRUE(closed());
        }
        if (IsWindow(launch_state().mainWindow)) DestroyWindow(launch_state().mainWindow);
        drain();
        CloseEngineStartedEvent();
    }
}

TEST_F(ProgressWindowTest, TaskFailureWarnsAndFailsOverOnlyInTheFileDownload) {
    struct Case {
        LPARAM task;
        const wchar_t* text;
        bool failsOver;
        size_t boxes;
    } cases[] = {
        {kTaskDownloadFile, L"Digest mismatch.", true, 0},
        {kTaskDownloadVersionInfo, L"Signature refused.", false, 1},
        {kTaskRunMsi, L"Installation failed.", false, 1},
        {kTaskRunMsi, nullptr, false, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.task);
        g_boxes.clear();
        ui_state() = UiState{};
        quit = false;
        engine.starts.clear();
        launch_state().alternativeUrls = {L"https://mirror.example/p"};
        engine.onStart = [&c](TestEngine& e, size_t index) {
            if (index == 0) e.finish(WM_DL_TASK_FAILED, c.text, c.task);
        };
        create();
        drain();
        EXPECT_EQ(engine.starts.size(), c.failsOver ? 2u : 1u);
        ASSERT_EQ(g_boxes.size(), c.boxes);
        if (c.boxes) {
            EXPECT_EQ(g_boxes[0].text, c.text);
            EXPECT_EQ(g_boxes[0].icon, BoxIcon::warning);
        }
        EXPECT_EQ(closed(), !c.failsOver);
        if (IsWindow(launch_state().mainWindow)) DestroyWindow(launch_state().mainWindow);
        drain();
        CloseEngineStartedEvent();
    }
}

TEST_F(ProgressWindowTest, CustomErrorBoxCarriesTheEngineErrorCode) {
    launch_state().customError = true;
    settings().customErrorText = L"The download failed. Please contact support.";
    settings().customErrorLink = L"https://support.example/?code=$(ErrorCode)";
    engine.errorCode = static_cast<LONG>(0x80072EE7);
    engine.onStart = [](TestEngine& e, size_t) {
        e.finish(WM_DL_DOWNLOAD_FAILED, L"Name not resolved.", kTaskDownloadVersionInfo);
    };
    create();
    drain();
    ASSERT_EQ(g_boxes.size(), 1u);
    EXPECT_EQ(g_boxes[0].text, L"The download failed. Please contact support.");
    EXPECT_EQ(g_boxes[0].link, L"https://support.example/?code=-2147012889");
    ASSERT_EQ(updater.failures.size(), 1u);
    EXPECT_EQ(updater.failures[0].first, L"Name not resolved. Task name: DownloadVersionInfo.");
}

TEST_F(ProgressWindowTest, NoBoxOnceTheSessionEnds) {
    create();
    drain();
    SendMessageW(window, WM_QUERYENDSESSION, 0, 0);
    post(WM_DL_DOWNLOAD_FAILED, reinterpret_cast<WPARAM>(make_message_text(L"Cut off.")), kTaskDownloadFile);
    EXPECT_TRUE(g_boxes.empty());
    ASSERT_EQ(updater.failures.size(), 1u);
    EXPECT_EQ(updater.failures[0].first, L"Cut off. Task name: DownloadFile.");
    EXPECT_TRUE(closed());
}

TEST_F(ProgressWindowTest, StartFailures) {
    struct Case {
        std::wstring url;
        bool failStart;
        bool signalStarted;
        std::wstring text;
        DWORD code;
    } cases[] = {
        {L"ftp://files.example/p", false, true, L"The 'Installation Url' parameter is not correctly formed.",
         0},
        {L"SFTP://files.example/p", false, true, L"The 'Installation Url' parameter is not correctly formed.",
         0},
        {L"https://main.example/p", true, true, L"Failed to start the downloader thread.",
         ERROR_NOT_ENOUGH_MEMORY},
        {L"https://main.example/p", false, false,
         L"Failed to start the downloader thread (the time-out interval elapsed).", 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.url));
        ui_state() = UiState{};
        failures.clear();
        engine.starts.clear();
        engine.failStart = c.failStart;
        engine.signalStarted = c.signalStarted;
        launch_state().currentInstallationUrl = c.url;
        create();
        if (!c.signalStarted) SetLastError(0);
        drain();
        ASSERT_EQ(failures.size(), 1u);
        EXPECT_EQ(failures[0].text, c.text);
        if (c.code) {
            EXPECT_EQ(failures[0].code, c.code);
        }
        if (c.text.starts_with(L"The 'Installation")) {
            EXPECT_TRUE(engine.starts.empty());
            EXPECT_EQ(ui_state().sourceKind, 3);
        }
        DestroyWindow(launch_state().mainWindow);
        drain();
        CloseEngineStartedEvent();
    }
}

TEST_F(ProgressWindowTest, CompletedStopsTheEngineAndClosesWithQuitCodeZero) {
    engine.onStart = [](TestEngine& e, size_t) {
        e.post(WM_DL_STARTED, 0, 0);
        e.post(WM_DL_PROGRESS, 10, 10);
    };
    create();
    drain();
    EXPECT_EQ(status(), L"Downloading...10.00B of 10.00B");
    EXPECT_FALSE(closed());
    engine.finish(WM_DL_COMPLETED);
    drain();
    EXPECT_GE(engine.cancelRequests, 1);
    EXPECT_TRUE(closed());
    EXPECT_EQ(quitCode, 0);
    EXPECT_TRUE(ui_state().mainWindowDestroyed);
    EXPECT_TRUE(g_boxes.empty());
}

TEST_F(ProgressWindowTest, ShutdownBlockFlagFollowsTheSystemAnswer) {
    create();
    drain();
    ui_state().shutdownBlockReason = L"Installing updates";
    // Whether this system supports block reasons (Wine answers 120).
    HWND probe = CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 1, 1, nullptr, nullptr, nullptr, nullptr);
    const bool supported = ShutdownBlockReasonCreate(probe, L"probe") != FALSE;
    if (supported) ShutdownBlockReasonDestroy(probe);
    DestroyWindow(probe);
    post(WM_DL_BLOCK_SHUTDOWN);
    EXPECT_EQ(ui_state().shutdownBlock, supported);
    post(WM_DL_COMPLETED);
    EXPECT_FALSE(ui_state().shutdownBlock);
    EXPECT_TRUE(closed());
}

TEST_F(ProgressWindowTest, UpdaterConnection) {
    launch_state().updaterMode = true;
    launch_state().updaterPath = L"C:\\u.exe";
    launch_state().updaterPipeName = L"\\\\.\\pipe\\abc";
    launch_state().productFolder = L"C:\\Product";
    launch_state().updaterProcessId = 77;
    create();
    drain();
    ASSERT_EQ(updater.connects.size(), 1u);
    EXPECT_EQ(updater.connects[0].updaterPath, L"C:\\u.exe");
    EXPECT_EQ(updater.connects[0].pipeName, L"\\\\.\\pipe\\abc");
    EXPECT_EQ(updater.connects[0].updaterProcessId, 77u);
    EXPECT_EQ(engine.starts.size(), 1u);
    EXPECT_TRUE(failures.empty());

    updater.accept = false;
    post(WM_DL_CONNECT_UPDATER);
    ASSERT_EQ(failures.size(), 1u);
    EXPECT_EQ(failures[0].text, L"Failed to connect to the updater process.");
    EXPECT_EQ(failures[0].code, static_cast<DWORD>(ERROR_PIPE_BUSY));
    EXPECT_EQ(engine.starts.size(), 1u);
    launch_state().updaterMode = false;
    launch_state().updaterPath.clear();
    launch_state().updaterPipeName.clear();
    launch_state().productFolder.clear();
}

TEST_F(ProgressWindowTest, RelaunchElevatedStartsTheExecutableWithTheCacheFolder) {
    TempDir temp(L"qrrelaunch");
    const std::wstring record = temp / L"record.txt";
    SetEnvironmentVariableW(L"QR_LIMSPAWN_RECORD", record.c_str());
    launch_state().executablePath = bin_dir() + L"limspawn.exe";
    launch_state().executableFolder = temp.path();
    launch_state().arguments = L"/visible=false";
    engine.cacheFolder = L"C:\\Cache Folder\\run";
    engine.elevationRequired = true;
    create();
    drain();
    post(WM_DL_RELAUNCH_ELEVATED);
    EXPECT_TRUE(closed());
    EXPECT_TRUE(g_boxes.empty());
    EXPECT_EQ(launch_state().arguments, L"/visible=false /afterReboot=\"C:\\Cache Folder\\run\"");
    for (int i = 0; i < 100 && !file_exists(record); ++i) Sleep(50);
    SetEnvironmentVariableW(L"QR_LIMSPAWN_RECORD", nullptr);
    Sleep(100);
    std::string seen = read_file(record);
    EXPECT_NE(seen.find("/visible=false /afterReboot=\"C:\\Cache Folder\\run\""), std::string::npos) << seen;
    std::string folder(temp.path().begin(), temp.path().end() - 1);  // without the trailing backslash
    EXPECT_NE(seen.find("cwd=" + folder + "\n"), std::string::npos) << seen;

    // Refused (here: nothing to start): the flag is cleared and the user told.
    ui_state() = UiState{};
    quit = false;
    launch_state().executablePath = temp / L"missing.exe";
    launch_state().arguments.clear();
    engine.elevationRequired = true;
    create();
    drain();
    post(WM_DL_RELAUNCH_ELEVATED);
    EXPECT_FALSE(engine.elevationRequired);
    ASSERT_EQ(g_boxes.size(), 1u);
    EXPECT_EQ(g_boxes[0].text,
              L"Insufficient privileges in order to remove the previous version of the product.");
    EXPECT_EQ(g_boxes[0].icon, BoxIcon::error);
    EXPECT_EQ(launch_state().arguments, L"/afterReboot=\"C:\\Cache Folder\\run\"");
    EXPECT_TRUE(closed());
}

int small_icon_width(HWND window) {
    HICON icon = reinterpret_cast<HICON>(SendMessageW(window, WM_GETICON, ICON_SMALL, 0));
    if (!icon) return 0;
    ICONINFO info = {};
    if (!GetIconInfo(icon, &info)) return 0;
    BITMAP bitmap = {};
    GetObjectW(info.hbmColor ? info.hbmColor : info.hbmMask, sizeof(bitmap), &bitmap);
    if (info.hbmColor) DeleteObject(info.hbmColor);
    if (info.hbmMask) DeleteObject(info.hbmMask);
    return bitmap.bmWidth;
}

TEST_F(ProgressWindowTest, SmallIconFollowsTheDpi) {
    create();
    drain();
    EXPECT_EQ(small_icon_width(window), GetSystemMetrics(SM_CXSMICON));
    RECT suggested = {0, 0, 300, 100};
    post(0x02E0 /* WM_DPICHANGED */, MAKEWPARAM(144, 144), reinterpret_cast<LPARAM>(&suggested));
    EXPECT_EQ(small_icon_width(window), 24);
    EXPECT_EQ(launch_state().dpiY, 144.0f);
    post(0x02E0, MAKEWPARAM(192, 192), reinterpret_cast<LPARAM>(&suggested));
    EXPECT_EQ(small_icon_width(window), 32);
    launch_state().dpiY = 96.0f;
}

TEST_F(ProgressWindowTest, AboutBoxOpensModallyFromTheAccelerator) {
    create();
    drain();
    bool found = false;
    std::thread closer([&found] {
        for (int i = 0; i < 200 && !found; ++i) {
            HWND about = FindWindowW(L"#32770", L"About");
            if (about) {
                found = true;
                PostMessageW(about, WM_COMMAND, IDOK, 0);
            }
            Sleep(25);
        }
    });
    HACCEL accelerators = LoadAcceleratorsW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDC_ACCELERATORS));
    ASSERT_NE(accelerators, nullptr);
    // Alt+/ as the accelerator table sees it.
    MSG key = {window, WM_SYSCHAR, L'/', 1 << 29, 0, {0, 0}};
    const bool translated = TranslateAcceleratorW(window, accelerators, &key) != 0;
    if (!translated) PostMessageW(window, WM_COMMAND, IDM_ABOUT, 0);
    drain();
    closer.join();
    EXPECT_TRUE(found);
    EXPECT_TRUE(IsWindow(window));
}

TEST_F(ProgressWindowTest, StatusTextColours) {
    create();
    drain();
    HWND status_control = GetDlgItem(window, IDC_STATUS_TEXT);
    HDC dc = GetDC(status_control);
    HBRUSH first = reinterpret_cast<HBRUSH>(SendMessageW(
        window, WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(dc), reinterpret_cast<LPARAM>(status_control)));
    EXPECT_EQ(GetTextColor(dc), GetSysColor(COLOR_WINDOWTEXT));
    EXPECT_EQ(GetBkColor(dc), GetSysColor(COLOR_BTNFACE));
    LOGBRUSH brush = {};
    ASSERT_TRUE(GetObjectW(first, sizeof(brush), &brush));
    EXPECT_EQ(brush.lbColor, GetSysColor(COLOR_BTNFACE));
    HBRUSH second = reinterpret_cast<HBRUSH>(SendMessageW(
        window, WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(dc), reinterpret_cast<LPARAM>(status_control)));
    EXPECT_EQ(first, second);  // created once
    ReleaseDC(status_control, dc);
}

}  // namespace

namespace {

// QR_SCREENSHOT_HOLD_MS keeps a pose on screen so scripts/screenshot.sh can
// capture it; a normal run holds for no time.
DWORD hold_ms() {
    wchar_t value[16] = {};
    return GetEnvironmentVariableW(L"QR_SCREENSHOT_HOLD_MS", value, 16) ? wcstoul(value, nullptr, 10) : 0;
}

void pump_for(DWORD ms) {
    const DWORD start = GetTickCount();
    while (GetTickCount() - start < ms) {
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 50, QS_ALLINPUT);
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
    }
}

struct SeenBox {
    std::wstring caption, text;
    HWND owner = nullptr;
    bool hasIcon = false;
};

BOOL CALLBACK read_box_child(HWND child, LPARAM context) {
    auto* seen = reinterpret_cast<SeenBox*>(context);
    wchar_t className[32] = {}, text[512] = {};
    GetClassNameW(child, className, 32);
    GetWindowTextW(child, text, 512);
    if (lstrcmpiW(className, L"Static") == 0) {
        if (GetWindowLongPtrW(child, GWL_STYLE) & SS_ICON)
            seen->hasIcon = seen->hasIcon || SendMessageW(child, STM_GETICON, 0, 0) != 0;
        else if (text[0])
            seen->text = text;
    }
    return TRUE;
}

}  // namespace

TEST_F(ProgressWindowTest, ReviewPoseShowsDeterminateProgress) {
    settings().visible = L"true";
    create();
    drain();
    post(WM_DL_STARTED);
    post(WM_DL_PROGRESS, 4200000, 10000000);
    EXPECT_EQ(status(), L"Downloading...4.20MB of 10.00MB");
    EXPECT_EQ(SendMessageW(bar(), PBM_GETPOS, 0, 0), 4200000);
    EXPECT_TRUE(IsWindowVisible(window));
    pump_for(hold_ms());
}

// The system box stands in for the product's own box: owner, caption, text
// and the executable's icon as the wrappers ask.
TEST_F(ProgressWindowTest, SystemBoxShowsWhatTheWrapperAsks) {
    set_message_box_presenter(nullptr);
    settings().visible = L"true";
    create();
    drain();
    SeenBox seen;
    const DWORD hold = hold_ms();
    std::thread reader([&seen, hold] {
        for (int i = 0; i < 400; ++i) {
            HWND box = FindWindowW(L"#32770", L"Sample Product");
            if (box) {
                Sleep(200 + hold);
                wchar_t caption[128] = {};
                GetWindowTextW(box, caption, 128);
                seen.caption = caption;
                seen.owner = GetWindow(box, GW_OWNER);
                EnumChildWindows(box, read_box_child, reinterpret_cast<LPARAM>(&seen));
                PostMessageW(box, WM_COMMAND, IDOK, 0);
                return;
            }
            Sleep(25);
        }
    });
    ShowErrorBox(compose_failure_text(L"Failed to start the downloader thread.", 1460), 96, 96);
    reader.join();
    EXPECT_EQ(seen.caption, L"Sample Product");
    EXPECT_EQ(seen.text, L"Failed to start the downloader thread. Error code: 0x5B4.");
    EXPECT_EQ(seen.owner, window);
    EXPECT_TRUE(seen.hasIcon);
}
