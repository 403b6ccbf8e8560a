#include "switches.h"

#include <shlwapi.h>

#include <cerrno>
#include <cwchar>

#include "text.h"

namespace {

// The first value without any remaining quotes, or nothing when the switch
// is absent or has no value.
bool first_value(const CommandLine& commandLine, const wchar_t* name, std::wstring& value) {
    if (commandLine.argument_count(name) < 1) return false;
    value = commandLine.argument(name, 0);
    std::erase(value, L'"');
    return true;
}

// A decimal process id; anything that is not a number gives 0.
DWORD parse_process_id(const std::wstring& text) {
    if (text.empty() || text[0] < L'0' || text[0] > L'9') return 0;
    wchar_t* end = nullptr;
    errno = 0;
    unsigned long value = std::wcstoul(text.c_str(), &end, 10);
    if (errno == ERANGE || value > 0xFFFFFFFFul) return 0;
    return static_cast<DWORD>(value);
}

}  // namespace

EarlyExit ApplySwitches(const CommandLine& commandLine, LaunchState& state, DeploymentSettings& settings) {
    if (commandLine.has_switch(L"/h") || commandLine.has_switch(L"/help") || commandLine.has_switch(L"/?"))
        return EarlyExit::help;

    std::wstring value;
    // Accepted for diagnostics; together they end the run before any window.
    bool debugDirectory = first_value(commandLine, L"/debugdirectory", value);
    bool debugVersion = first_value(commandLine, L"/debugversion", value);

    if (first_value(commandLine, L"/afterreboot", value)) state.afterReboot = value;
    if (first_value(commandLine, L"/updaterpath", value)) state.updaterPath = value;
    if (first_value(commandLine, L"/updaterpid", value) && !value.empty())
        state.updaterProcessId = parse_process_id(value);
    if (first_value(commandLine, L"/sid", value)) state.sessionId = value;
    if (first_value(commandLine, L"/productdir", value)) state.productFolder = value;
    if (first_value(commandLine, L"/pipename", value) && !value.empty())
        state.updaterPipeName = L"\\\\.\\pipe\\" + value;
    if (first_value(commandLine, L"/updaterservice", value) && iequals(value, L"On"))
        state.updaterService = true;
    if (first_value(commandLine, L"/appid", value)) state.applicationIdOverride = value;
    if (first_value(commandLine, L"/silentmode", value) && is_true(value)) state.silentMode = true;
    if (first_value(commandLine, L"/showrunningappwarning", value) && is_true(value))
        state.runningAppsWarning = true;
    if (first_value(commandLine, L"/visible", value) && iequals(value, L"false")) settings.visible = L"false";
    if (first_value(commandLine, L"/msiuilevel", value)) state.msiUiLevel = StrToIntW(value.c_str());
    if (first_value(commandLine, L"/runasadministrator", value) && is_true(value) &&
        iequals(settings.privileges, L"user"))
        settings.privileges = L"administrator";

    return debugDirectory && debugVersion ? EarlyExit::diagnostic : EarlyExit::none;
}

void SelectUpdaterMode(LaunchState& state, DeploymentSettings& settings) {
    if (state.updaterPath.empty() || state.updaterPipeName.empty() || state.productFolder.empty()) return;
    state.updaterMode = true;
    state.runningAppsWarning = false;
    settings.visible = L"false";
}

void ApplyLaunchMode(LaunchState& state, DeploymentSettings& settings) {
    SelectUpdaterMode(state, settings);
    if (state.updaterMode || state.osMajorVersion < 6) return;

    ITaskbarList3* taskbar = nullptr;
    HRESULT hr = CoCreateInstance(CLSID_TaskbarList, nullptr, CLSCTX_INPROC_SERVER, IID_ITaskbarList3,
                                  reinterpret_cast<void**>(&taskbar));
    if (SUCCEEDED(hr) && taskbar != nullptr) {
        state.taskbar = taskbar;
        state.taskbarAvailable = true;
    }
}
