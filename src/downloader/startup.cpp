#include "startup.h"

#include <objbase.h>

#include <vector>

#include "command_line.h"
#include "common_shutdown.h"
#include "entry_failures.h"
#include "launch_state.h"
#include "module_path.h"
#include "privileges.h"
#include "progress_window.h"
#include "resource.h"
#include "settings.h"
#include "single_instance.h"
#include "switches.h"
#include "text.h"
#include "updater_link_ipc.h"
#include "wexception.h"
#include "downloader_texts.h"

namespace {

void read_os_version(LaunchState& state) {
    OSVERSIONINFOEXW extended{};
    extended.dwOSVersionInfoSize = sizeof extended;
    if (GetVersionExW(reinterpret_cast<OSVERSIONINFOW*>(&extended))) {
        state.osMajorVersion = extended.dwMajorVersion;
        state.osMinorVersion = extended.dwMinorVersion;
    } else {
        OSVERSIONINFOW plain{};
        plain.dwOSVersionInfoSize = sizeof plain;
        if (GetVersionExW(&plain)) {
            state.osMajorVersion = plain.dwMajorVersion;
            state.osMinorVersion = plain.dwMinorVersion;
        }
    }
    if (state.osMajorVersion < 5) throw windows_error(texts::kUnsupportedSystem, 0);
}

void read_user_language(LaunchState& state) {
    state.userLcid = GetUserDefaultLCID();
    wchar_t name[100];
    if (GetLocaleInfoW(LOCALE_USER_DEFAULT, LOCALE_SENGLANGUAGE, name, 100) > 0)
        state.languageName = name;
    else
        state.languageName.clear();
}

void split_executable_path(LaunchState& state) {
    std::vector<wchar_t> full(MAX_PATH);
    wchar_t* name = nullptr;
    DWORD n =
        GetFullPathNameW(state.executablePath.c_str(), static_cast<DWORD>(full.size()), full.data(), &name);
    if (n >= full.size()) {  // longer than MAX_PATH: ask again with room for it
        full.resize(n + 1);
        n = GetFullPathNameW(state.executablePath.c_str(), static_cast<DWORD>(full.size()), full.data(),
                             &name);
    }
    std::wstring path = n > 0 && n < full.size() ? std::wstring(full.data(), n) : state.executablePath;
    size_t slash = path.find_last_of(L'\\');
    state.executableFolder = slash == std::wstring::npos ? std::wstring() : path.substr(0, slash + 1);
    state.executableName = slash == std::wstring::npos ? path : path.substr(slash + 1);
}

void load_window_class_name(HINSTANCE instance, LaunchState& state) {
    wchar_t name[101] = {};
    int n = LoadStringW(instance, IDS_WINDOW_CLASS, name, 101);
    state.windowClassName.assign(name, n > 0 ? static_cast<size_t>(n) : 0);
}

}  // namespace

std::wstring ReadOriginalFilename(const std::wstring& path) {
    DWORD ignored = 0;
    DWORD size = GetFileVersionInfoSizeW(path.c_str(), &ignored);
    if (size == 0) throw windows_error(texts::kNoVersionInfo, 0);
    std::vector<BYTE> block(size);
    if (!GetFileVersionInfoW(path.c_str(), 0, size, block.data()))
        throw windows_error(texts::kNoVersionInfo, 0);

    struct Translation {
        WORD language;
        WORD codePage;
    };
    Translation* translation = nullptr;
    UINT length = 0;
    if (!VerQueryValueW(block.data(), L"\\VarFileInfo\\Translation", reinterpret_cast<void**>(&translation),
                        &length) ||
        translation == nullptr || length < sizeof(Translation))
        throw windows_error(texts::kNoVersionInfo, 0);

    unsigned long key = (static_cast<unsigned long>(translation->language) << 16) | translation->codePage;
    std::wstring subBlock = format(L"\\StringFileInfo\\%08lx\\%s", key, L"OriginalFilename");
    wchar_t* value = nullptr;
    length = 0;
    if (!VerQueryValueW(block.data(), subBlock.c_str(), reinterpret_cast<void**>(&value), &length) ||
        value == nullptr || length == 0 || value[0] == L'\0')
        throw windows_error(texts::kNoOriginalFilename, 0);
    return std::wstring(value, wcsnlen(value, length));
}

int RunDownloader(HINSTANCE instance, const wchar_t* arguments, int show) {
    LaunchState& state = launch_state();
    DeploymentSettings& config = settings();
    try {
        // 1. The empty switch table.
        CommandLine commandLine;

        // 2. Arguments as given (kept for re-launches) and the raw command line.
        state.instance = instance;
        state.arguments = arguments != nullptr ? arguments : L"";
        const wchar_t* rawCommandLine = GetCommandLineW();
        std::wstring rawExecutablePath = rawCommandLine != nullptr ? rawCommandLine : L"";

        // 3. Default DPI and cleared launch flags.
        state.dpiX = 96.0f;
        state.dpiY = 96.0f;
        state.updaterMode = false;
        state.silentMode = false;
        state.runningAppsWarning = false;
        state.updaterService = false;
        state.customError = false;
        state.taskbarAvailable = false;
        state.sessionEnding = 0;

        // 4. Deployment settings from our own string table.
        LoadDeploymentSettings(instance, config);
        state.customError = is_true(config.customErrorEnabled);
        state.currentInstallationUrl = config.installationUrl;

        // 5. Operating system: Windows 2000 or later.
        read_os_version(state);

        // 6. COM, single-threaded apartment (the taskbar list and the windows live here).
        HRESULT hr = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
        if (FAILED(hr)) throw windows_error(format(texts::kComInitFailed, static_cast<int>(hr)), 0);
        MarkComInitialized();

        // 7. User locale.
        read_user_language(state);

        // 8. Executable path.
        state.executablePath = DeriveExecutablePath(rawExecutablePath, state.arguments);

        // 9. Our own version block must be intact.
        state.versionBlockFileName = ReadOriginalFilename(module_path(instance));

        // 10. Executable folder and name.
        split_executable_path(state);

        // 11. Window class name.
        load_window_class_name(instance, state);

        // 12. One downloader per executable name: a second copy ends silently.
        if (AnotherInstanceRunning(state.executableName, state.windowClassName)) return 0;

        // 13. Switch table.
        commandLine.split(state.arguments);

        // 14. Switches; help and the diagnostic pair end the run here.
        if (ApplySwitches(commandLine, state, config) != EarlyExit::none) {
            CommonShutdown();
            return 0;
        }

        // 15. Re-launch through "runas" when this process lacks the rights it needs.
        if (NeedsElevatedRelaunch({state.osMajorVersion, config.privileges})) {
            INT_PTR result = LaunchElevated(state.executablePath, state.arguments, state.executableFolder);
            if (result < 32) throw windows_error(static_cast<DWORD>(result));
            CommonShutdown();
            return 0;
        }

        // 16. Launch mode.
        ApplyLaunchMode(state, config);

        // The windows talk to the updater through the process-wide session.
        if (state.updaterMode) InstallUpdaterLink();

        // 17. Silent mode never shows the progress window.
        if (state.silentMode) config.visible = L"false";

        // 18. Be among the first processes asked when Windows shuts down.
        SetProcessShutdownParameters(0x3FF, 0);

        // 19. Alternative installation URLs.
        state.alternativeUrls = BuildAlternativeUrls(config);

        // 20. Both DPI values: the mean of the screen's horizontal and vertical DPI.
        if (HDC screen = GetDC(nullptr)) {
            const float dpi = (GetDeviceCaps(screen, LOGPIXELSX) + GetDeviceCaps(screen, LOGPIXELSY)) * 0.5f;
            ReleaseDC(nullptr, screen);
            state.dpiX = dpi;
            state.dpiY = dpi;
        }

        // 21. The windows.
        SetLastError(0);
        if (!RegisterMainWindowClass(instance) || !CreateDownloaderWindows(instance, show)) {
            DWORD error = GetLastError();
            if (error != 0) throw windows_error(error);
            throw windows_error(texts::kInitInstanceFailed, 0);
        }

        // 22. From now on a second copy finds us.
        HoldInstanceAtom(state.executableName);

        // 23. Message loop; the accelerators open the About box.
        const int quitCode = RunMessageLoop(LoadAcceleratorsW(instance, MAKEINTRESOURCEW(IDC_ACCELERATORS)));

        // 24. A non-zero quit code is an installer's failure.
        if (quitCode != 0) {
            if (config.productName.empty()) throw windows_error(format(texts::kInstallerFailed, quitCode), 0);
            throw windows_error(format(texts::kNamedInstallerFailed, config.productName.c_str(), quitCode),
                                0);
        }

        CommonShutdown();
        return 0;
    } catch (const wexception& failure) {
        const auto* withCode = dynamic_cast<const windows_error*>(&failure);
        ReportEntryFailure(failure.message(), withCode != nullptr ? withCode->code() : 0);
    } catch (unsigned int code) {
        ReportEntryFailure(EntrySystemText(code), code);
    } catch (unsigned long code) {
        ReportEntryFailure(EntrySystemText(code), code);
    } catch (int code) {
        ReportEntryFailure(EntrySystemText(static_cast<DWORD>(code)), static_cast<DWORD>(code));
    } catch (long code) {
        ReportEntryFailure(EntrySystemText(static_cast<DWORD>(code)), static_cast<DWORD>(code));
    } catch (...) {
        DWORD code = GetLastError();
        ReportEntryFailure(code != 0 ? EntrySystemText(code) : std::wstring(texts::kUnknownError), code);
    }
    CommonShutdown();
    return 0;
}
