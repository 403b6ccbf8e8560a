#include <gtest/gtest.h>

#include <objbase.h>

#include <optional>
#include <string>

#include "command_line.h"
#include "switches.h"
#include "text.h"

namespace {

// What one command line leaves in the launch state and the settings, after
// the switches and the updater-mode rule.
struct Outcome {
    EarlyExit exit = EarlyExit::none;
    bool updaterMode = false;
    bool silentMode = false;
    bool runningAppsWarning = false;
    bool updaterService = false;
    int msiUiLevel = 0;
    DWORD updaterProcessId = 0;
    std::wstring afterReboot{};
    std::wstring updaterPath{};
    std::wstring sessionId{};
    std::wstring productFolder{};
    std::wstring updaterPipeName{};
    std::wstring applicationIdOverride{};
    std::wstring visible = L"true";
    std::wstring privileges = L"administrator";

    bool operator==(const Outcome&) const = default;
};

std::ostream& operator<<(std::ostream& out, const Outcome& o) {
    return out << "exit=" << static_cast<int>(o.exit) << " updater=" << o.updaterMode
               << " silent=" << o.silentMode << " warning=" << o.runningAppsWarning
               << " service=" << o.updaterService << " msi=" << o.msiUiLevel << " pid=" << o.updaterProcessId
               << " afterReboot=" << narrow(o.afterReboot) << " updaterPath=" << narrow(o.updaterPath)
               << " sid=" << narrow(o.sessionId) << " productDir=" << narrow(o.productFolder)
               << " pipe=" << narrow(o.updaterPipeName) << " appid=" << narrow(o.applicationIdOverride)
               << " visible=" << narrow(o.visible) << " privileges=" << narrow(o.privileges);
}

Outcome launch(const std::wstring& arguments, const wchar_t* privileges = L"administrator",
               const wchar_t* visible = L"true") {
    CommandLine commandLine;
    commandLine.split(arguments);
    LaunchState state;
    state.osMajorVersion = 5;  // no taskbar: this table is about the pure rules
    DeploymentSettings settings;
    settings.privileges = privileges;
    settings.visible = visible;
    Outcome o;
    o.exit = ApplySwitches(commandLine, state, settings);
    if (o.exit == EarlyExit::none) ApplyLaunchMode(state, settings);
    o.updaterMode = state.updaterMode;
    o.silentMode = state.silentMode;
    o.runningAppsWarning = state.runningAppsWarning;
    o.updaterService = state.updaterService;
    o.msiUiLevel = state.msiUiLevel;
    o.updaterProcessId = state.updaterProcessId;
    o.afterReboot = state.afterReboot;
    o.updaterPath = state.updaterPath;
    o.sessionId = state.sessionId;
    o.productFolder = state.productFolder;
    o.updaterPipeName = state.updaterPipeName;
    o.applicationIdOverride = state.applicationIdOverride;
    o.visible = settings.visible;
    o.privileges = settings.privileges;
    return o;
}

struct Case {
    const wchar_t* arguments;
    Outcome expected;
    const wchar_t* privileges = L"administrator";  // settings before the switches
    const wchar_t* visible = L"true";
};

TEST(Switches, ModesAndValues) {
    const std::wstring pipeAbc = L"\\\\.\\pipe\\abc";
    const Case cases[] = {
        // interactive
        {L"", {}},
        // hidden
        {L"/visible=false", {.visible = L"false"}},
        {L"/VISIBLE=False", {.visible = L"false"}},
        {L"/visible=no", {}},
        {L"/visible", {}},
        {L"/visible=true", {.visible = L"false"}, L"administrator", L"false"},
        // silent
        {L"/SilentMode=TRUE", {.silentMode = true}},
        {L"/silentmode=true", {.silentMode = true}},
        {L"/silentmode true", {}},
        {L"/silentmode=yes", {}},
        // updater
        {L"/productdir=C:\\Program Files\\Product /pipename=abc /updaterpath=C:\\u.exe",
         {.updaterMode = true,
          .updaterPath = L"C:\\u.exe",
          .productFolder = L"C:\\Program Files\\Product",
          .updaterPipeName = pipeAbc,
          .visible = L"false"}},
        {L"/showrunningappwarning=true /updaterpid=4321 /sid=S-1-5-18 /appid=app /updaterservice=On "
         L"/productdir=d /pipename=abc /updaterpath=u",
         {.updaterMode = true,
          .updaterService = true,
          .updaterProcessId = 4321,
          .updaterPath = L"u",
          .sessionId = L"S-1-5-18",
          .productFolder = L"d",
          .updaterPipeName = pipeAbc,
          .applicationIdOverride = L"app",
          .visible = L"false"}},
        {L"/pipename= /productdir=C:\\p /updaterpath=C:\\u.exe",
         {.updaterPath = L"C:\\u.exe", .productFolder = L"C:\\p"}},
        {L"/pipename=\"\" /productdir=C:\\p /updaterpath=C:\\u.exe",
         {.updaterPath = L"C:\\u.exe", .productFolder = L"C:\\p"}},
        {L"/pipename=abc /productdir=d", {.productFolder = L"d", .updaterPipeName = pipeAbc}},
        {L"/updaterpath=C:/x/u.exe /pipename=abc /productdir=d",
         {.updaterMode = true,
          .updaterPath = L"C:",
          .productFolder = L"d",
          .updaterPipeName = pipeAbc,
          .visible = L"false"}},
        // the flags and values one by one
        {L"/showrunningappwarning=TRUE", {.runningAppsWarning = true}},
        {L"/showrunningappwarning=1", {}},
        {L"/updaterservice=on", {.updaterService = true}},
        {L"/updaterservice=true", {}},
        {L"/afterreboot=C:\\ProgramData\\Cache 1", {.afterReboot = L"C:\\ProgramData\\Cache 1"}},
        {L"/updaterpid=1234", {.updaterProcessId = 1234}},
        {L"/updaterpid=abc", {}},
        {L"/updaterpid=", {}},
        {L"/updaterpid=99999999999", {}},
        {L"/msiuilevel=3 /msiuilevel=5", {.msiUiLevel = 3}},
        {L"/msiuilevel=abc", {}},
        {L"/msiuilevel=", {}},
        {L"/appid=a /5=x", {.applicationIdOverride = L"a"}},
        {L"/sid=\"S-1-5-18\"", {.sessionId = L"S-1-5-18"}},
        // privileges: only "user" is raised, only by "true"
        {L"/runasadministrator=true", {.privileges = L"administrator"}, L"user"},
        {L"/RunAsAdministrator=TRUE", {.privileges = L"administrator"}, L"USER"},
        {L"/runasadministrator=false", {.privileges = L"user"}, L"user"},
        {L"/runasadministrator", {.privileges = L"user"}, L"user"},
        {L"", {.privileges = L"user"}, L"user"},
        {L"/runasadministrator=true", {.privileges = L"Administrator"}, L"Administrator"},
        // help ends before any other switch is looked at
        {L"/?", {.exit = EarlyExit::help}},
        {L"/h", {.exit = EarlyExit::help}},
        {L"/H", {.exit = EarlyExit::help}},
        {L"/HELP", {.exit = EarlyExit::help}},
        {L"/silentmode=true /visible=false /?", {.exit = EarlyExit::help}},
        {L"/runasadministrator=true /help", {.exit = EarlyExit::help, .privileges = L"user"}, L"user"},
        {L"/productdir=d /pipename=abc /updaterpath=u /?", {.exit = EarlyExit::help}},
        // the diagnostic pair ends after the switches were applied
        {L"/debugdirectory=C:\\x /debugversion=1", {.exit = EarlyExit::diagnostic}},
        {L"/DebugVersion=2 /debugdirectory=d /silentmode=true",
         {.exit = EarlyExit::diagnostic, .silentMode = true}},
        {L"/debugdirectory=a", {}},
        {L"/debugdirectory /debugversion=b", {}},
        {L"/debugdirectory=a /debugversion=b /?", {.exit = EarlyExit::help}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(launch(c.arguments, c.privileges, c.visible), c.expected)
            << narrow(c.arguments) << " | privileges=" << narrow(c.privileges)
            << " visible=" << narrow(c.visible);
}

// The taskbar list backs taskbar progress from Vista on, never in updater mode.
TEST(LaunchMode, TaskbarOutsideUpdaterModeFromVista) {
    ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
    struct TaskbarCase {
        DWORD osMajor;
        const wchar_t* arguments;
        bool available;
    };
    const TaskbarCase cases[] = {
        {6, L"", true},
        {10, L"/silentmode=true", true},
        {5, L"", false},
        {10, L"/updaterpath=u /pipename=p /productdir=d", false},
    };
    for (const auto& c : cases) {
        CommandLine commandLine;
        commandLine.split(c.arguments);
        LaunchState state;
        state.osMajorVersion = c.osMajor;
        DeploymentSettings settings;
        ASSERT_EQ(ApplySwitches(commandLine, state, settings), EarlyExit::none);
        ApplyLaunchMode(state, settings);
        EXPECT_EQ(state.taskbarAvailable, c.available) << c.osMajor << " " << narrow(c.arguments);
        EXPECT_EQ(state.taskbar != nullptr, c.available) << c.osMajor << " " << narrow(c.arguments);
        if (state.taskbar) state.taskbar->Release();
    }
    CoUninitialize();
}

}  // namespace
