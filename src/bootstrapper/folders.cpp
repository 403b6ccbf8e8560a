#include "folders.h"

#include <shlobj.h>
#include <shlwapi.h>

#include "file_ops.h"
#include "text.h"
#include "unique_handle.h"
#include "engine_texts.h"

namespace {

class SystemFolderEnvironment final : public FolderEnvironment {
public:
    HRESULT folder_path(int csidl, std::wstring& path) override {
        wchar_t buffer[MAX_PATH] = {};
        HRESULT result = SHGetFolderPathW(nullptr, csidl, nullptr, SHGFP_TYPE_CURRENT, buffer);
        if (SUCCEEDED(result)) path = buffer;
        return result;
    }
    SYSTEMTIME local_time() override {
        SYSTEMTIME now;
        GetLocalTime(&now);
        return now;
    }
    void sleep(DWORD milliseconds) override { Sleep(milliseconds); }
};

constexpr DWORD kProbeWaitMs = 500;

}  // namespace

FolderEnvironment& system_folder_environment() {
    static SystemFolderEnvironment environment;
    return environment;
}

std::wstring time_stamp(const SYSTEMTIME& time) {
    return format(L"%d%d%d%d%d", time.wYear, time.wMonth, time.wDay, time.wHour, time.wSecond);
}

std::wstring cache_folder_name(const std::wstring& folder, const std::wstring& application,
                               const SYSTEMTIME& time) {
    return folder + L"\\" + application + L"_" + time_stamp(time);
}

std::wstring application_folder_name(const std::wstring& base_folder, const std::wstring& application) {
    return format(L"%s\\%s", base_folder.c_str(), to_lower(application).c_str());
}

std::wstring updater_folder_name(const std::wstring& base_folder, const std::wstring& application,
                                 const std::wstring& id, const std::wstring& version) {
    return format(L"%s\\%s\\%s\\%s", base_folder.c_str(), to_lower(application).c_str(), id.c_str(),
                  version.c_str());
}

bool choose_base_folder(bool administrator_mode, bool low_integrity, const std::wstring& application,
                        FolderEnvironment& environment, std::wstring& base_folder, OperationError& error) {
    std::wstring path;
    HRESULT result;
    if (administrator_mode) {
        result = environment.folder_path(CSIDL_COMMON_APPDATA, path);
    } else if (low_integrity) {
        // A low-integrity process may write only below the Internet cache's
        // "Low" folder.
        result = environment.folder_path(CSIDL_INTERNET_CACHE, path);
        if (SUCCEEDED(result)) path += L"\\Low";
    } else {
        result = environment.folder_path(CSIDL_LOCAL_APPDATA, path);
        bool writable = false;
        if (SUCCEEDED(result)) {
            std::wstring probe = cache_folder_name(path, application, environment.local_time());
            writable = create_folder_tree_silently(probe);
            if (writable) {
                environment.sleep(kProbeWaitMs);
                delete_folder_tree(probe);
            }
        }
        // Some locked-down profiles refuse writes to the local folder.
        if (!writable) {
            path.clear();
            result = environment.folder_path(CSIDL_APPDATA, path);
        }
    }
    if (FAILED(result)) {
        error.set(texts::kLocalAppDataNotFound, static_cast<DWORD>(result));
        return false;
    }
    base_folder = path;
    return true;
}

void remove_old_cache_folders(const std::wstring& base_folder, const std::wstring& pattern) {
    WIN32_FIND_DATAW entry;
    unique_find_handle listing(FindFirstFileW((base_folder + L"\\" + pattern).c_str(), &entry));
    if (!listing) return;
    do {
        std::wstring name = entry.cFileName;
        if (name == L"." || name == L"..") continue;
        if (!(entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) continue;
        std::wstring path = base_folder + L"\\" + name;
        if (!delete_folder_tree(path)) return;
        RemoveDirectoryW(path.c_str());
    } while (FindNextFileW(listing.get(), &entry));
}

bool prepare_cache_folders(const FolderSettings& settings, FolderEnvironment& environment,
                           const PermissionReset& reset, CacheFolders& folders, OperationError& error) {
    if (!choose_base_folder(settings.administrator_mode, settings.low_integrity, settings.application,
                            environment, folders.base, error))
        return false;
    // A resumed run keeps its folder and the files already in it.
    if (folders.cache.empty()) {
        folders.cache = cache_folder_name(folders.base, settings.application, environment.local_time());
        remove_old_cache_folders(folders.base, settings.application + L"_*");
    }
    if (folders.application.empty())
        folders.application = application_folder_name(folders.base, settings.application);
    if (folders.updater.empty()) {
        folders.updater =
            updater_folder_name(folders.base, settings.application, settings.id, settings.version);
        if (PathFileExistsW(folders.updater.c_str())) delete_folder_tree(folders.updater);
    }
    if (!PathFileExistsW(folders.cache.c_str()) && !create_folder_tree(folders.cache, reset, error))
        return false;
    return true;
}
