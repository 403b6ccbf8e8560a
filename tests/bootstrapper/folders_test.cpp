#include "folders.h"

#include <shlobj.h>

#include <gtest/gtest.h>

#include "cache_fakes.h"
#include "file_ops.h"
#include "test_support.h"

using testing_support::TempDir;

namespace {

std::wstring folder_of(const TempDir& dir) {
    return dir.path().substr(0, dir.path().size() - 1);
}

bool exists(const std::wstring& path) {
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

SYSTEMTIME make_time(WORD year, WORD month, WORD day, WORD hour, WORD minute, WORD second) {
    SYSTEMTIME t{};
    t.wYear = year;
    t.wMonth = month;
    t.wDay = day;
    t.wHour = hour;
    t.wMinute = minute;
    t.wSecond = second;
    return t;
}

TEST(FolderNames, TimeStampLeavesOutMinutesAndLeadingZeros) {
    const std::pair<SYSTEMTIME, const wchar_t*> cases[] = {
        {march_7_2024_090503(), L"20243793"},
        {make_time(2026, 12, 31, 23, 59, 58), L"202612312358"},
        {make_time(2025, 1, 1, 0, 42, 0), L"20251100"},
    };
    for (auto& [time, expected] : cases) EXPECT_EQ(time_stamp(time), expected);
}

TEST(FolderNames, CacheApplicationAndUpdaterFolders) {
    EXPECT_EQ(cache_folder_name(L"C:\\Base", L"Demo", march_7_2024_090503()), L"C:\\Base\\Demo_20243793");
    EXPECT_EQ(application_folder_name(L"C:\\Base", L"Demo"), L"C:\\Base\\demo");
    EXPECT_EQ(updater_folder_name(L"C:\\Base", L"Demo", L"{42-ID}", L"1.2"), L"C:\\Base\\demo\\{42-ID}\\1.2");
}

TEST(FolderNames, SystemEnvironmentFindsTheApplicationDataFolders) {
    // Only asks: nothing is created in the real folders.
    for (int csidl : {CSIDL_COMMON_APPDATA, CSIDL_INTERNET_CACHE, CSIDL_LOCAL_APPDATA, CSIDL_APPDATA}) {
        std::wstring path;
        ASSERT_EQ(system_folder_environment().folder_path(csidl, path), S_OK) << csidl;
        EXPECT_TRUE(path.size() > 3 && path[1] == L':' && path.back() != L'\\') << path;
        DWORD attributes = GetFileAttributesW(path.c_str());
        EXPECT_TRUE(attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) << path;
    }
    SYSTEMTIME now = system_folder_environment().local_time();
    EXPECT_GE(now.wYear, 2024);
}

// The base folder choice against folders in a temp folder.
class BaseFolder : public ::testing::Test {
protected:
    void SetUp() override {
        environment.now = march_7_2024_090503();
        for (auto name : {L"common", L"cache", L"local", L"roaming"})
            ASSERT_TRUE(CreateDirectoryW((root + L"\\" + name).c_str(), nullptr));
        default_answers();
    }
    void default_answers() {
        environment.answers = {
            {CSIDL_COMMON_APPDATA, S_OK, root + L"\\common"},
            {CSIDL_INTERNET_CACHE, S_OK, root + L"\\cache"},
            {CSIDL_LOCAL_APPDATA, S_OK, root + L"\\local"},
            {CSIDL_APPDATA, S_OK, root + L"\\roaming"},
        };
    }
    void answer(int csidl, HRESULT result, std::wstring path) {
        for (auto& a : environment.answers)
            if (a.csidl == csidl) a = {csidl, result, path};
    }
    bool choose(bool administrator_mode, bool low_integrity) {
        return choose_base_folder(administrator_mode, low_integrity, L"Demo", environment, base, error);
    }

    TempDir dir{L"qrcache"};
    std::wstring root = folder_of(dir);
    FakeFolderEnvironment environment;
    std::wstring base = L"unchanged";
    OperationError error;
};

TEST_F(BaseFolder, AdministratorModeUsesCommonAppData) {
    ASSERT_TRUE(choose(true, true));
    EXPECT_EQ(base, root + L"\\common");
    EXPECT_EQ(environment.queried, std::vector<int>{CSIDL_COMMON_APPDATA});
}

TEST_F(BaseFolder, LowIntegrityUsesTheInternetCacheLowFolder) {
    ASSERT_TRUE(choose(false, true));
    EXPECT_EQ(base, root + L"\\cache\\Low");
    EXPECT_EQ(environment.queried, std::vector<int>{CSIDL_INTERNET_CACHE});
}

TEST_F(BaseFolder, WritableLocalAppDataIsProbedAndCleanedUp) {
    ASSERT_TRUE(choose(false, false));
    EXPECT_EQ(base, root + L"\\local");
    EXPECT_EQ(environment.queried, std::vector<int>{CSIDL_LOCAL_APPDATA});
    EXPECT_EQ(environment.sleeps, std::vector<DWORD>{500});
    EXPECT_FALSE(exists(root + L"\\local\\Demo_20243793"));
}

TEST_F(BaseFolder, UnwritableLocalAppDataFallsBackToRoaming) {
    // A file where the local folder should be: nothing can be created in it.
    ASSERT_TRUE(testing_support::write_file(root + L"\\local-file", "x"));
    answer(CSIDL_LOCAL_APPDATA, S_OK, root + L"\\local-file");
    ASSERT_TRUE(choose(false, false));
    EXPECT_EQ(base, root + L"\\roaming");
    EXPECT_EQ(environment.queried, (std::vector<int>{CSIDL_LOCAL_APPDATA, CSIDL_APPDATA}));
    EXPECT_TRUE(environment.sleeps.empty());
}

TEST_F(BaseFolder, FailedQueryLeavesTheBaseFolder) {
    struct {
        bool administrator_mode, low_integrity;
        int failing[2];
    } cases[] = {
        {true, false, {CSIDL_COMMON_APPDATA, 0}},
        {false, true, {CSIDL_INTERNET_CACHE, 0}},
        {false, false, {CSIDL_LOCAL_APPDATA, CSIDL_APPDATA}},
    };
    for (auto& c : cases) {
        default_answers();
        for (int csidl : c.failing)
            if (csidl) answer(csidl, E_ACCESSDENIED, L"");
        base = L"unchanged";
        error = {};
        EXPECT_FALSE(choose(c.administrator_mode, c.low_integrity));
        EXPECT_EQ(base, L"unchanged");
        EXPECT_EQ(error.text, L"Failed to find local appdata directory.");
        EXPECT_EQ(error.code, static_cast<DWORD>(E_ACCESSDENIED));
    }
}

TEST_F(BaseFolder, FailedLocalQueryStillTriesRoaming) {
    answer(CSIDL_LOCAL_APPDATA, E_FAIL, L"");
    ASSERT_TRUE(choose(false, false));
    EXPECT_EQ(base, root + L"\\roaming");
}

TEST(OldCacheFolders, FoldersOfTheApplicationGoFilesAndOthersStay) {
    TempDir dir(L"qrcache");
    std::wstring base = folder_of(dir);
    for (auto name :
         {L"Demo_a\\nested\\deeper", L"Demo_2020111", L"Demo_z", L"Other_1", L"demo\\id\\1.2", L"DemoX"})
        ASSERT_TRUE(create_folder_tree_silently(base + L"\\" + name));
    ASSERT_TRUE(testing_support::write_file(base + L"\\Demo_a\\nested\\ro.dll", "x"));
    SetFileAttributesW((base + L"\\Demo_a\\nested\\ro.dll").c_str(), FILE_ATTRIBUTE_READONLY);
    ASSERT_TRUE(testing_support::write_file(base + L"\\Demo_notes.txt", "keep"));

    remove_old_cache_folders(base, L"Demo_*");

    for (auto gone : {L"Demo_a", L"Demo_2020111", L"Demo_z"})
        EXPECT_FALSE(exists(base + L"\\" + gone)) << gone;
    for (auto kept : {L"Demo_notes.txt", L"Other_1", L"demo\\id\\1.2", L"DemoX"})
        EXPECT_TRUE(exists(base + L"\\" + kept)) << kept;
}

TEST(OldCacheFolders, NothingMatchingOrNoBaseFolder) {
    TempDir dir(L"qrcache");
    std::wstring base = folder_of(dir);
    ASSERT_TRUE(CreateDirectoryW((base + L"\\Other_1").c_str(), nullptr));
    remove_old_cache_folders(base, L"Demo_*");
    remove_old_cache_folders(base + L"\\missing", L"Demo_*");
    EXPECT_TRUE(exists(base + L"\\Other_1"));
}

// The whole preparation, with the base folder in a temp folder.
class Preparation : public ::testing::Test {
protected:
    void SetUp() override {
        environment.now = march_7_2024_090503();
        ASSERT_TRUE(CreateDirectoryW(base.c_str(), nullptr));
        environment.answers = {{CSIDL_LOCAL_APPDATA, S_OK, base}};
        settings.application = L"Demo";
        settings.id = L"{ID}";
        settings.version = L"1.2";
        // Left by earlier runs.
        ASSERT_TRUE(create_folder_tree_silently(base + L"\\Demo_2020111\\sub"));
        ASSERT_TRUE(create_folder_tree_silently(base + L"\\demo\\{ID}\\1.2\\actions"));
        ASSERT_TRUE(testing_support::write_file(base + L"\\demo\\{ID}\\1.2\\actions\\old.dll", "x"));
    }

    TempDir dir{L"qrcache"};
    std::wstring base = folder_of(dir) + L"\\Local";
    FakeFolderEnvironment environment;
    RecordingSecurityCalls security;
    PermissionReset reset{false, security};
    FolderSettings settings;
    CacheFolders folders;
    OperationError error;
};

TEST_F(Preparation, FreshStart) {
    ASSERT_TRUE(prepare_cache_folders(settings, environment, reset, folders, error)) << error.text;
    EXPECT_EQ(folders.base, base);
    EXPECT_EQ(folders.cache, base + L"\\Demo_20243793");
    EXPECT_EQ(folders.application, base + L"\\demo");
    EXPECT_EQ(folders.updater, base + L"\\demo\\{ID}\\1.2");
    EXPECT_TRUE(exists(folders.cache));
    EXPECT_FALSE(exists(base + L"\\Demo_2020111"));
    EXPECT_FALSE(exists(folders.updater));
    EXPECT_TRUE(exists(base + L"\\demo\\{ID}"));
    EXPECT_EQ(security.paths(), std::vector<std::wstring>{folders.cache});
}

TEST_F(Preparation, ResumedRunKeepsItsFolderAndEarlierOnes) {
    folders.cache = base + L"\\Demo_resume\\deep";
    folders.application = L"C:\\given";
    ASSERT_TRUE(prepare_cache_folders(settings, environment, reset, folders, error)) << error.text;
    EXPECT_EQ(folders.cache, base + L"\\Demo_resume\\deep");
    EXPECT_EQ(folders.application, L"C:\\given");
    EXPECT_TRUE(exists(folders.cache));
    EXPECT_TRUE(exists(base + L"\\Demo_2020111\\sub"));
    EXPECT_EQ(security.paths(), (std::vector<std::wstring>{base + L"\\Demo_resume", folders.cache}));
}

TEST_F(Preparation, ExistingResumeFolderIsKeptAsItIs) {
    folders.cache = base + L"\\Demo_2020111";
    ASSERT_TRUE(prepare_cache_folders(settings, environment, reset, folders, error));
    EXPECT_TRUE(exists(base + L"\\Demo_2020111\\sub"));
    EXPECT_TRUE(security.calls.empty());
}

TEST_F(Preparation, FailuresEndThePreparation) {
    environment.answers = {};
    EXPECT_FALSE(prepare_cache_folders(settings, environment, reset, folders, error));
    EXPECT_EQ(error.text, L"Failed to find local appdata directory.");
    EXPECT_TRUE(exists(base + L"\\Demo_2020111"));

    environment.answers = {{CSIDL_LOCAL_APPDATA, S_OK, base}};
    ASSERT_TRUE(testing_support::write_file(base + L"\\file", "x"));
    folders = {};
    folders.cache = base + L"\\file\\cache";
    error = {};
    EXPECT_FALSE(prepare_cache_folders(settings, environment, reset, folders, error));
    EXPECT_EQ(error.text.rfind(L"Failed to create directory (" + folders.cache + L"). Error: ", 0), 0u)
        << error.text;
}

}  // namespace
