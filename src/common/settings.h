#pragma once
// Deployment settings: one process-wide record filled from the string table
// before any worker starts, read-only afterwards (except where noted).
#include <windows.h>

#include <ctime>
#include <functional>
#include <list>
#include <string>

struct DeploymentSettings {
    std::wstring componentCodes;              // 132
    std::wstring installationUrl;             // 133
    std::wstring language;                    // 134
    std::wstring privileges;                  // 135, "/runasadministrator=true" may change it
    std::wstring productName;                 // 136
    std::wstring productCode;                 // 137
    std::wstring progressText;                // 138
    std::wstring application;                 // 139
    std::wstring hostApplications;            // 140
    std::wstring windowTitle;                 // 141
    std::wstring version;                     // 142
    std::wstring visible;                     // 143, switches may set "false"
    std::wstring managedConfigFile;           // not from the table; written by the managed host
    std::wstring updaterAutoStart;            // 146
    std::wstring id;                          // 147
    std::wstring updaterAutoDownload;         // 148
    std::wstring additionalInstallationUrls;  // 149
    std::wstring datedMirrorEnabled;          // 151
    std::wstring datedMirrorPrefix;           // 152
    std::wstring datedMirrorPath;             // 153
    std::wstring datedMirrorPeriod;           // 154
    std::wstring datedMirrorDomain;           // 155
    std::wstring reserved156;                 // 156, loaded, no effect
    std::wstring silent;                      // 157
    std::wstring uninstallPreviousVersions;   // 158
    std::wstring quietInUpdaterMode;          // 159
    std::wstring runningAppsButtons;          // 160
    std::wstring customErrorEnabled;          // 161
    std::wstring customErrorText;             // 162
    std::wstring customErrorLink;             // 163
};

// One string-table entry: its id, the field name publishers use, the member.
struct SettingField {
    UINT id;
    const wchar_t* name;
    std::wstring DeploymentSettings::*member;
};

// Every table-backed setting, in the order the loader reads them.
inline constexpr SettingField kSettingFields[] = {
    {132, L"componentCodes", &DeploymentSettings::componentCodes},
    {133, L"installationUrl", &DeploymentSettings::installationUrl},
    {134, L"language", &DeploymentSettings::language},
    {135, L"privileges", &DeploymentSettings::privileges},
    {136, L"productName", &DeploymentSettings::productName},
    {137, L"productCode", &DeploymentSettings::productCode},
    {138, L"progressText", &DeploymentSettings::progressText},
    {139, L"application", &DeploymentSettings::application},
    {140, L"hostApplications", &DeploymentSettings::hostApplications},
    {141, L"windowTitle", &DeploymentSettings::windowTitle},
    {142, L"version", &DeploymentSettings::version},
    {143, L"visible", &DeploymentSettings::visible},
    {146, L"updaterAutoStart", &DeploymentSettings::updaterAutoStart},
    {147, L"id", &DeploymentSettings::id},
    {148, L"updaterAutoDownload", &DeploymentSettings::updaterAutoDownload},
    {149, L"additionalInstallationUrls", &DeploymentSettings::additionalInstallationUrls},
    {151, L"datedMirrorEnabled", &DeploymentSettings::datedMirrorEnabled},
    {152, L"datedMirrorPrefix", &DeploymentSettings::datedMirrorPrefix},
    {155, L"datedMirrorDomain", &DeploymentSettings::datedMirrorDomain},
    {153, L"datedMirrorPath", &DeploymentSettings::datedMirrorPath},
    {154, L"datedMirrorPeriod", &DeploymentSettings::datedMirrorPeriod},
    {156, L"reserved156", &DeploymentSettings::reserved156},
    {157, L"silent", &DeploymentSettings::silent},
    {158, L"uninstallPreviousVersions", &DeploymentSettings::uninstallPreviousVersions},
    {159, L"quietInUpdaterMode", &DeploymentSettings::quietInUpdaterMode},
    {160, L"runningAppsButtons", &DeploymentSettings::runningAppsButtons},
    {161, L"customErrorEnabled", &DeploymentSettings::customErrorEnabled},
    {162, L"customErrorText", &DeploymentSettings::customErrorText},
    {163, L"customErrorLink", &DeploymentSettings::customErrorLink},
};

// The process-wide record.
DeploymentSettings& settings();

// Fills `out` from the string table of `module` (the executable, or a copy
// loaded as a data file): every id of kSettingFields in that order, an absent
// id gives an empty field; managedConfigFile is cleared. Never fails.
void LoadDeploymentSettings(HMODULE module, DeploymentSettings& out);

// The installation URLs to fall back to, in the order to try them: the
// additional URLs, then the date-stamped mirror over http and https.
// `utcNow` picks the mirror's stamp date.
std::list<std::wstring> BuildAlternativeUrls(const DeploymentSettings& settings, const SYSTEMTIME& utcNow);

// Same, dated with the current UTC time.
std::list<std::wstring> BuildAlternativeUrls(const DeploymentSettings& settings);
