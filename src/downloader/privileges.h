#pragma once
// Token queries and the rule that re-launches the downloader through "runas".
#include <windows.h>

#include <string>

// Vista and later: TokenIsElevated of the process token; before that,
// membership in Administrators. Throws windows_error when the token cannot
// be read.
bool IsElevated(DWORD osMajorVersion);

// True at low integrity, and when the integrity level cannot be read.
bool IsLowIntegrity();

// Whether the token (or, for a limited token, its linked full token) is in
// the built-in Administrators group; false on any failure.
bool IsAdministratorMember(DWORD osMajorVersion);

// `privileges` other than "user" (any case).
bool IsAdministratorMode(const std::wstring& privileges);

// The re-launch rule: on Vista and later, an administrator-mode run that is
// not elevated, or a user-mode run at low integrity. The token queries are
// only made when the rule needs them.
struct ElevationFacts {
    DWORD osMajorVersion = 0;
    std::wstring privileges;
    bool (*isElevated)(DWORD osMajorVersion) = &IsElevated;
    bool (*isLowIntegrity)() = &IsLowIntegrity;
};
bool NeedsElevatedRelaunch(const ElevationFacts& facts);

// ShellExecuteW(null, "runas", path, arguments, folder, SW_SHOW); returns its
// result (32 or more: started).
INT_PTR LaunchElevated(const std::wstring& executablePath, const std::wstring& arguments,
                       const std::wstring& executableFolder);
