#pragma once
// Launch state: process-wide values computed at start by the entry point
// (some later by the window handlers) and read by every subsystem.
// Written on the UI thread only; workers read it after start-up.
#include <windows.h>
#include <shobjidl.h>

#include <list>
#include <string>

struct LaunchState {
    std::wstring executablePath;
    std::wstring executableFolder;  // with trailing backslash
    std::wstring executableName;    // names the instance atom
    std::wstring arguments;         // unchanged; reused for re-launches
    std::wstring windowClassName;   // string 109
    DWORD osMajorVersion = 0;
    DWORD osMinorVersion = 0;
    LCID userLcid = 0;
    std::wstring languageName;
    std::wstring versionBlockFileName;  // "OriginalFilename"

    bool updaterMode = false;
    bool silentMode = false;
    bool runningAppsWarning = false;
    bool updaterService = false;
    int msiUiLevel = 0;
    DWORD updaterProcessId = 0;
    std::wstring afterReboot;
    std::wstring updaterPath;
    std::wstring sessionId;
    std::wstring productFolder;
    std::wstring updaterPipeName;  // "\\.\pipe\" + /pipename, or empty
    std::wstring applicationIdOverride;

    bool customError = false;
    volatile LONG sessionEnding = 0;  // set on WM_QUERYENDSESSION; suppresses failure boxes

    bool taskbarAvailable = false;
    ITaskbarList3* taskbar = nullptr;  // owned; released by the common shutdown

    float dpiX = 96.0f;  // horizontal, then vertical: the order message boxes take
    float dpiY = 96.0f;

    HINSTANCE instance = nullptr;
    HWND mainWindow = nullptr;
    HWND progressWindow = nullptr;

    std::wstring currentInstallationUrl;
    std::list<std::wstring> alternativeUrls;
};

// The process-wide launch state.
LaunchState& launch_state();
