#pragma once
// The folders of a deployment run: the application-data base folder, the
// cache folder that receives everything a run fetches, and the application
// and updater folders below the base folder.
#include <string>

#include <windows.h>

#include "operation_error.h"
#include "permissions.h"

// What the folder choice asks of the system, so tests can point the base
// folder into a temporary folder and fix the clock.
class FolderEnvironment {
public:
    virtual ~FolderEnvironment() = default;
    // SHGetFolderPathW(no window, csidl, no token, SHGFP_TYPE_CURRENT).
    virtual HRESULT folder_path(int csidl, std::wstring& path) = 0;
    virtual SYSTEMTIME local_time() = 0;
    virtual void sleep(DWORD milliseconds) = 0;
};

// The real system.
FolderEnvironment& system_folder_environment();

// Year, month, day, hour and second as decimal numbers without leading
// zeros, one after the other: 09:05:03 on 7 March 2024 gives "20243793".
std::wstring time_stamp(const SYSTEMTIME& time);

// folder + "\" + application + "_" + time stamp.
std::wstring cache_folder_name(const std::wstring& folder, const std::wstring& application,
                               const SYSTEMTIME& time);

// folder + "\" + lower-case application.
std::wstring application_folder_name(const std::wstring& base_folder, const std::wstring& application);

// folder + "\" + lower-case application + "\" + id + "\" + version.
std::wstring updater_folder_name(const std::wstring& base_folder, const std::wstring& application,
                                 const std::wstring& id, const std::wstring& version);

// Picks the common application-data folder in administrator mode, the
// Internet cache's "Low" folder at low integrity, else the local
// application-data folder when a folder can be created in it, else the
// roaming one. On failure base_folder is left as it was.
bool choose_base_folder(bool administrator_mode, bool low_integrity, const std::wstring& application,
                        FolderEnvironment& environment, std::wstring& base_folder, OperationError& error);

// Deletes every folder in base_folder whose name matches pattern; files
// stay. Stops at the first folder that cannot be deleted. Reports nothing.
void remove_old_cache_folders(const std::wstring& base_folder, const std::wstring& pattern);

struct CacheFolders {
    std::wstring base;
    std::wstring cache;  // given in advance by a resumed run
    std::wstring application;
    std::wstring updater;
};

struct FolderSettings {
    bool administrator_mode = false;
    bool low_integrity = false;
    std::wstring application;
    std::wstring id;
    std::wstring version;
};

// The folder preparation of the engine initialisation: chooses the base
// folder, names the cache folder (and removes earlier ones) unless a resumed
// run gave it, names the application and updater folders when still empty,
// clears an updater folder left by an earlier run, creates the cache folder.
bool prepare_cache_folders(const FolderSettings& settings, FolderEnvironment& environment,
                           const PermissionReset& reset, CacheFolders& folders, OperationError& error);
