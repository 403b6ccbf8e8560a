// Failure texts, the message boxes and the report of a failure that ends the run.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "failure_report.h"
#include "fake_taskbar.h"
#include "launch_state.h"
#include "resource.h"
#include "settings.h"
#include "updater_link.h"
#include "wexception.h"

namespace {

std::vector<MessageBoxRequest> g_boxes;
void record_box(const MessageBoxRequest& request) {
    g_boxes.push_back(request);
}

struct RecordingUpdater : IUpdaterLink {
    std::vector<std::pair<std::wstring, DWORD>> failures;
    bool Connect(const UpdaterConnectRequest&) override { return false; }
    void SendFailure(const std::wstring& text, DWORD code) override { failures.emplace_back(text, code); }
};

std::wstring without_crlf(std::wstring text) {
    if (text.size() > 2 && text.ends_with(L"\r\n")) text.resize(text.size() - 2);
    return text;
}

TEST(SystemText, ZeroIsEmptyKnownCodesComeFromTheSystem) {
    EXPECT_EQ(system_error_text(0), L"");
    std::wstring denied = system_error_text(ERROR_ACCESS_DENIED);
    EXPECT_FALSE(denied.empty());
    EXPECT_EQ(denied.find(L"Error code: 0x"), std::wstring::npos) << "the system has a text for 5";
    // A code the system has no text for.
    EXPECT_EQ(system_error_text(0x2FFFFFFF), L"Error code: 0x2fffffff");
}

TEST(ComposeFailureText, Table) {
    const std::wstring cancelled = system_error_text(ERROR_CANCELLED);
    ASSERT_FALSE(cancelled.empty());
    struct Case {
        std::wstring text;
        DWORD code;
        std::wstring expected;
    } cases[] = {
        {L"Unsupported operating system.", 0, L"Unsupported operating system."},
        {L"Failed to copy.", 5, L"Failed to copy. Error code: 0x5."},
        {L"Copy failed.\r\n", 0x4C7, L"Copy failed. Error code: 0x4C7."},
        {L"\r\n", 1, L"\r\n Error code: 0x1."},  // two characters only: kept
        {L"Failed to copy 'a' file. Error: 5.", 5, L"Failed to copy 'a' file. Error: 5."},
        {L"Error: already said", 0xDEAD, L"Error: already said"},
        {L"lower error: code", 0xAB, L"lower error: code Error code: 0xAB."},
        {L"", ERROR_CANCELLED, cancelled},
        {cancelled, ERROR_CANCELLED, without_crlf(cancelled) + L" Error code: 0x4C7."},
        {L"", 0, L""},
    };
    for (const Case& c : cases)
        EXPECT_EQ(compose_failure_text(c.text, c.code), c.expected)
            << "text: " << testing::PrintToString(c.text);
}

TEST(SubstituteErrorCode, Table) {
    struct Case {
        std::wstring link;
        LONG code;
        std::wstring expected;
    } cases[] = {
        {L"https://help.example/?e=$(ErrorCode)", 5, L"https://help.example/?e=5"},
        {L"$(ErrorCode)-$(ErrorCode)", 1223, L"1223-1223"},
        {L"x?hr=$(ErrorCode)", static_cast<LONG>(0x80070005), L"x?hr=-2147024891"},
        {L"100% sure %s %d $(ErrorCode)", 7, L"100% sure %s %d 7"},
        {L"$(errorcode) stays", 7, L"$(errorcode) stays"},
        {L"$(ErrorCode", 7, L"$(ErrorCode"},
        {L"", 7, L""},
    };
    for (const Case& c : cases) EXPECT_EQ(substitute_error_code(c.link, c.code), c.expected);
}

// What the entry point makes of whatever was thrown, in its handler order.
TEST(CurrentFailure, EachThrownKind) {
    auto caught = [](auto thrower) {
        try {
            thrower();
        } catch (...) {
            return current_failure();
        }
        return Failure{L"not thrown", 0};
    };
    Failure f = caught([] { throw windows_error(L"Message.", 87); });
    EXPECT_EQ(f.text, L"Message.");
    EXPECT_EQ(f.code, 87u);
    f = caught([] { throw wexception(L"Plain."); });
    EXPECT_EQ(f.text, L"Plain.");
    EXPECT_EQ(f.code, 0u);
    f = caught([] { throw static_cast<DWORD>(1223); });
    EXPECT_EQ(f.text, system_error_text(1223));
    EXPECT_EQ(f.code, 1223u);
    f = caught([] { throw 1223u; });
    EXPECT_EQ(f.code, 1223u);
    f = caught([] { throw 5; });
    EXPECT_EQ(f.text, system_error_text(5));
    EXPECT_EQ(f.code, 5u);
    f = caught([] {
        SetLastError(0);
        throw std::bad_alloc();
    });
    EXPECT_EQ(f.text, L"Unknown error.");
    EXPECT_EQ(f.code, 0u);
    f = caught([] {
        SetLastError(ERROR_FILE_NOT_FOUND);
        throw 'x';
    });
    EXPECT_EQ(f.text, system_error_text(ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(f.code, static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
}

TEST(WindowsError, FromCodeAloneTakesTheSystemText) {
    windows_error e(ERROR_ACCESS_DENIED);
    EXPECT_EQ(e.message(), system_error_text(ERROR_ACCESS_DENIED));
    EXPECT_EQ(e.code(), 5u);
    windows_error placed(L"Here.", 2, "file.cpp", 42);
    EXPECT_STREQ(placed.file(), "file.cpp");
    EXPECT_EQ(placed.line(), 42);
    EXPECT_STREQ(wexception(L"Ascii text").what(), "Ascii text");
}

class ReportFixture : public testing::Test {
protected:
    void SetUp() override {
        g_boxes.clear();
        set_message_box_presenter(record_box);
        set_updater_link(&updater);
        saved_settings = settings();
        settings().productName = L"Sample Product";
        settings().customErrorText = L"<Empty>";
        settings().customErrorLink = L"<Empty>";
        LaunchState& state = launch_state();
        state.customError = false;
        state.sessionEnding = 0;
        state.dpiX = 120.0f;
        state.dpiY = 144.0f;
        owner = CreateWindowExW(0, L"STATIC", L"owner", 0, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
        state.progressWindow = owner;
        state.taskbar = &taskbar;
        state.taskbarAvailable = true;
    }
    void TearDown() override {
        set_message_box_presenter(nullptr);
        set_updater_link(nullptr);
        settings() = saved_settings;
        LaunchState& state = launch_state();
        state.progressWindow = nullptr;
        state.taskbar = nullptr;
        state.taskbarAvailable = false;
        state.customError = false;
        state.sessionEnding = 0;
        DestroyWindow(owner);
    }
    RecordingUpdater updater;
    FakeTaskbar taskbar;
    DeploymentSettings saved_settings;
    HWND owner = nullptr;
};

TEST_F(ReportFixture, PlainErrorBoxShowsTheComposedTextToTheUpdaterAndTaskbar) {
    ReportFailure({L"Failed to start.", 5});
    ASSERT_EQ(g_boxes.size(), 1u);
    const MessageBoxRequest& box = g_boxes[0];
    EXPECT_EQ(box.text, L"Failed to start. Error code: 0x5.");
    EXPECT_EQ(box.caption, L"Sample Product");
    EXPECT_EQ(box.owner, owner);
    EXPECT_EQ(box.icon, BoxIcon::error);
    EXPECT_EQ(box.iconId, static_cast<UINT>(IDI_ERROR_ICON));
    EXPECT_EQ(box.layoutDpi, 120.0f);
    EXPECT_EQ(box.windowDpi, 144.0f);
    EXPECT_TRUE(box.link.empty());
    ASSERT_EQ(updater.failures.size(), 1u);
    EXPECT_EQ(updater.failures[0].first, L"Failed to start.");
    EXPECT_EQ(updater.failures[0].second, 5u);
    EXPECT_EQ(taskbar.last_state(), TBPF_ERROR);
    ASSERT_NE(taskbar.last_value(), nullptr);
    EXPECT_EQ(taskbar.last_value()->done, 50u);
    EXPECT_EQ(taskbar.last_value()->total, 100u);
}

TEST_F(ReportFixture, NoBoxWhileTheSessionEndsButTheUpdaterHears) {
    launch_state().sessionEnding = 1;
    ReportFailure({L"Late failure.", 0});
    EXPECT_TRUE(g_boxes.empty());
    ASSERT_EQ(updater.failures.size(), 1u);
    EXPECT_EQ(updater.failures[0].first, L"Late failure.");
}

TEST_F(ReportFixture, OwnerFallsBackToTheMainWindowAndNoTaskbarWithoutProgressWindow) {
    launch_state().progressWindow = nullptr;
    launch_state().mainWindow = owner;
    ReportFailure({L"x", 0});
    launch_state().mainWindow = nullptr;
    ASSERT_EQ(g_boxes.size(), 1u);
    EXPECT_EQ(g_boxes[0].owner, owner);
    EXPECT_TRUE(taskbar.calls.empty());
}

TEST_F(ReportFixture, CustomErrorBox) {
    launch_state().customError = true;
    struct Case {
        std::wstring text, link;
        DWORD code;
        bool shown;
        std::wstring expectedLink;
    } cases[] = {
        {L"<Empty>", L"https://x/$(ErrorCode)", 5, false, L""},
        {L"<EMPTY>", L"<Empty>", 5, false, L""},
        {L"", L"", 5, false, L""},
        {L"Please contact support.", L"<Empty>", 5, true, L""},
        {L"Please contact support.", L"https://x/?a=$(ErrorCode)&b=$(ErrorCode)", 0x80070005, true,
         L"https://x/?a=-2147024891&b=-2147024891"},
        {L"Please contact support.", L"50% off $(ErrorCode)", 1223, true, L"50% off 1223"},
    };
    for (const Case& c : cases) {
        g_boxes.clear();
        settings().customErrorText = c.text;
        settings().customErrorLink = c.link;
        ReportFailure({L"ignored text", c.code});
        ASSERT_EQ(g_boxes.size(), c.shown ? 1u : 0u) << testing::PrintToString(c.text);
        if (!c.shown) continue;
        EXPECT_EQ(g_boxes[0].text, c.text);
        EXPECT_EQ(g_boxes[0].link, c.expectedLink);
        EXPECT_EQ(g_boxes[0].icon, BoxIcon::warning);
        EXPECT_EQ(g_boxes[0].iconId, static_cast<UINT>(IDI_WARNING_ICON));
    }
}

TEST_F(ReportFixture, WrappersShowNothingForEmptyTexts) {
    ShowErrorBox(L"", 96, 96);
    ShowErrorBox(L"<empty>", 96, 96);
    ShowWarningBox(L"", 96, 96);
    EXPECT_TRUE(g_boxes.empty());
    ShowWarningBox(L"Careful.", 96, 96);
    ASSERT_EQ(g_boxes.size(), 1u);
    EXPECT_EQ(g_boxes[0].icon, BoxIcon::warning);
    EXPECT_EQ(g_boxes[0].iconId, static_cast<UINT>(IDI_WARNING_ICON));
}

}  // namespace
