#include <gtest/gtest.h>

#include <list>
#include <string>

#include "settings.h"
#include "test_support.h"
#include "text.h"

using namespace testing_support;

namespace {

using Urls = std::list<std::wstring>;

// The fixture DLL's string table is loaded the way the stamping tool loads a
// downloader copy: as a data file, never run.
TEST(LoadDeploymentSettings, EveryFieldFromADataFileModule) {
    HMODULE module = LoadLibraryExW((bin_dir() + L"qr_settings_fixture.dll").c_str(), nullptr,
                                    LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
    ASSERT_NE(module, nullptr) << GetLastError();

    // Values from an earlier load must not survive where the table has no id.
    DeploymentSettings loaded;
    for (const auto& field : kSettingFields) loaded.*field.member = L"stale";
    loaded.managedConfigFile = L"stale.config";
    LoadDeploymentSettings(module, loaded);
    FreeLibrary(module);

    struct Expected {
        std::wstring DeploymentSettings::*member;
        const wchar_t* value;
    };
    const Expected expected[] = {
        {&DeploymentSettings::componentCodes,
         L"{11111111-2222-4333-8444-555555555555};{66666666-7777-4888-9999-AAAAAAAAAAAA}"},
        {&DeploymentSettings::installationUrl, L"https://fixture.example.org/product/"},
        {&DeploymentSettings::language, L"1031"},
        {&DeploymentSettings::privileges, L"user"},
        {&DeploymentSettings::productName, L"Fixture Prod\u00fckt \u20ac"},
        {&DeploymentSettings::productCode, L""},  // absent
        {&DeploymentSettings::progressText, L"<Empty>"},
        {&DeploymentSettings::application, L"FixtureApp"},
        {&DeploymentSettings::hostApplications, L"Excel;Word"},
        {&DeploymentSettings::windowTitle, L"Fixture Setup"},
        {&DeploymentSettings::version, L"2.3.4"},
        {&DeploymentSettings::visible, L"TRUE"},
        {&DeploymentSettings::managedConfigFile, L""},
        {&DeploymentSettings::updaterAutoStart, L"true"},
        {&DeploymentSettings::id, L"fedcba9876543210fedcba9876543210"},
        {&DeploymentSettings::updaterAutoDownload, L"false"},
        {&DeploymentSettings::additionalInstallationUrls,
         L"https://mirror-one.example.org/product/;https://mirror-two.example.org/product/;"
         L"https://mirror-three.example.org/product/;https://mirror-four.example.org/product/;"
         L"https://mirror-five.example.org/product/;https://mirror-six.example.org/product/"},
        {&DeploymentSettings::datedMirrorEnabled, L"True"},
        {&DeploymentSettings::datedMirrorPrefix, L"dl"},
        {&DeploymentSettings::datedMirrorPath, L"/files/"},
        {&DeploymentSettings::datedMirrorPeriod, L"year"},
        {&DeploymentSettings::datedMirrorDomain, L"example.net"},
        {&DeploymentSettings::reserved156, L"no effect"},
        {&DeploymentSettings::silent, L"false"},
        {&DeploymentSettings::uninstallPreviousVersions, L""},  // absent
        {&DeploymentSettings::quietInUpdaterMode, L"true"},
        {&DeploymentSettings::runningAppsButtons, L"OkCancel"},
        {&DeploymentSettings::customErrorEnabled, L"true"},
        {&DeploymentSettings::customErrorText, L"<EMPTY>"},
        {&DeploymentSettings::customErrorLink, L"https://help.example.org/?code=$(ErrorCode)"},
    };
    for (const auto& e : expected) EXPECT_EQ(loaded.*e.member, e.value) << narrow(e.value);

    // The whole record at work: additional URLs first, then the mirror of
    // the year (period "year"), with the loaded path and domain.
    SYSTEMTIME march17{2024, 3, 0, 17, 10, 0, 0, 0};
    Urls urls = BuildAlternativeUrls(loaded, march17);
    ASSERT_EQ(urls.size(), 8u);
    EXPECT_EQ(urls.front(), L"https://mirror-one.example.org/product/");
    EXPECT_EQ(*std::next(urls.begin(), 6), L"http://dl01jan2024.example.net/files");
    EXPECT_EQ(urls.back(), L"https://dl01jan2024.example.net/files");
}

struct UrlCase {
    const wchar_t* name;
    const wchar_t* additional;
    const wchar_t* enabled;
    const wchar_t* prefix;
    const wchar_t* path;
    const wchar_t* period;
    const wchar_t* domain;
    WORD year, month, day;
    Urls expected;
};

TEST(BuildAlternativeUrls, Table) {
    const UrlCase cases[] = {
        {L"nothing configured", L"", L"", L"", L"", L"", L"", 2024, 3, 17, {}},
        {L"mirror off", L"", L"false", L"P", L"/X/", L"month", L"D", 2024, 3, 17, {}},
        {L"mirror on without prefix", L"", L"TRUE", L"<Empty>", L"/X/", L"month", L"D", 2024, 3, 17, {}},
        {L"mirror on, empty prefix", L"", L"true", L"", L"/X/", L"month", L"D", 2024, 3, 17, {}},
        {L"mirror flag not true", L"", L"yes", L"P", L"/X/", L"month", L"D", 2024, 3, 17, {}},
        {L"additional: trimmed, blank part kept empty",
         L" https://a.example/ ;   ; https://c.example/ ",
         L"",
         L"",
         L"",
         L"",
         L"",
         2024,
         3,
         17,
         {L"https://a.example/", L"", L"https://c.example/"}},
        {L"additional: runs of separators",
         L";;https://a.example/;;",
         L"",
         L"",
         L"",
         L"",
         L"",
         2024,
         3,
         17,
         {L"https://a.example/"}},
        {L"additional: <EMPTY>", L"<EMPTY>", L"", L"", L"", L"", L"", 2024, 3, 17, {}},
        {L"additional: <Empty>", L"<Empty>", L"", L"", L"", L"", L"", 2024, 3, 17, {}},
        {L"worked composition",
         L"",
         L"true",
         L"P",
         L"/X/",
         L"month",
         L"D",
         2024,
         3,
         17,
         {L"http://P01mar2024.D/X", L"https://P01mar2024.D/X"}},
        {L"period word in capitals",
         L"",
         L"TRUE",
         L"P",
         L"X",
         L"MONTH",
         L"D",
         2023,
         12,
         31,
         {L"http://P01dec2023.D/X", L"https://P01dec2023.D/X"}},
        {L"other period, first day",
         L"",
         L"true",
         L"P",
         L"X",
         L"year",
         L"D",
         2025,
         1,
         1,
         {L"http://P01jan2025.D/X", L"https://P01jan2025.D/X"}},
        {L"other period, mid year",
         L"",
         L"true",
         L"P",
         L"X",
         L"year",
         L"D",
         2025,
         7,
         15,
         {L"http://P01jan2025.D/X", L"https://P01jan2025.D/X"}},
        {L"other period, last day",
         L"",
         L"true",
         L"P",
         L"X",
         L"week",
         L"D",
         2025,
         12,
         31,
         {L"http://P01jan2025.D/X", L"https://P01jan2025.D/X"}},
        {L"empty period",
         L"",
         L"true",
         L"P",
         L"X",
         L"",
         L"D",
         2025,
         5,
         9,
         {L"http://P01jan2025.D/X", L"https://P01jan2025.D/X"}},
        {L"month of May",
         L"",
         L"true",
         L"P",
         L"X",
         L"month",
         L"D",
         2025,
         5,
         9,
         {L"http://P01may2025.D/X", L"https://P01may2025.D/X"}},
        {L"domain with its own dot",
         L"",
         L"true",
         L"dl",
         L"X",
         L"month",
         L".example.net",
         2024,
         9,
         2,
         {L"http://dl01sep2024.example.net/X", L"https://dl01sep2024.example.net/X"}},
        {L"empty domain",
         L"",
         L"true",
         L"dl",
         L"X",
         L"month",
         L"",
         2024,
         9,
         2,
         {L"http://dl01sep2024/X", L"https://dl01sep2024/X"}},
        {L"<EMPTY> domain",
         L"",
         L"true",
         L"dl",
         L"X",
         L"month",
         L"<EMPTY>",
         2024,
         9,
         2,
         {L"http://dl01sep2024/X", L"https://dl01sep2024/X"}},
        {L"path of slashes only",
         L"",
         L"true",
         L"P",
         L"/\\//\\",
         L"month",
         L"D",
         2024,
         3,
         17,
         {L"http://P01mar2024.D/", L"https://P01mar2024.D/"}},
        {L"<Empty> path",
         L"",
         L"true",
         L"P",
         L"<empty>",
         L"month",
         L"D",
         2024,
         3,
         17,
         {L"http://P01mar2024.D/", L"https://P01mar2024.D/"}},
        {L"inner slashes stay",
         L"",
         L"true",
         L"P",
         L"\\\\a/b\\c\\",
         L"month",
         L"D",
         2024,
         3,
         17,
         {L"http://P01mar2024.D/a/b\\c", L"https://P01mar2024.D/a/b\\c"}},
        {L"additional before mirror",
         L"https://a.example/",
         L"true",
         L"P",
         L"X",
         L"month",
         L"D",
         2024,
         3,
         17,
         {L"https://a.example/", L"http://P01mar2024.D/X", L"https://P01mar2024.D/X"}},
    };
    for (const auto& c : cases) {
        DeploymentSettings s;
        s.additionalInstallationUrls = c.additional;
        s.datedMirrorEnabled = c.enabled;
        s.datedMirrorPrefix = c.prefix;
        s.datedMirrorPath = c.path;
        s.datedMirrorPeriod = c.period;
        s.datedMirrorDomain = c.domain;
        SYSTEMTIME now{c.year, c.month, 0, c.day, 12, 0, 0, 0};
        EXPECT_EQ(BuildAlternativeUrls(s, now), c.expected) << narrow(c.name);
    }
}

TEST(BuildAlternativeUrls, StampsWithTodaysUtcDate) {
    DeploymentSettings s;
    s.datedMirrorEnabled = L"true";
    s.datedMirrorPrefix = L"dl";
    s.datedMirrorPeriod = L"month";
    SYSTEMTIME before{}, after{};
    GetSystemTime(&before);
    Urls urls = BuildAlternativeUrls(s);
    GetSystemTime(&after);
    // Around a month boundary either side may be the right one.
    EXPECT_TRUE(urls == BuildAlternativeUrls(s, before) || urls == BuildAlternativeUrls(s, after));
}

}  // namespace
