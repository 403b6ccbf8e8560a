#include <gtest/gtest.h>

#include "placement.h"

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "digest.h"
#include "file_ops.h"
#include "process_check.h"
#include "service_control.h"
#include "test_support.h"

namespace {

using testing_support::file_exists;
using testing_support::read_file;
using testing_support::TempDir;
using testing_support::write_file;

const std::string kBody = "placed file body";

// Records the service operations and lets a test act on each wait.
struct FakeReleaseCalls : ServiceReleaseCalls {
    DWORD stop_result = 0;
    int running_for = 0;  // process checks that still see the program
    std::vector<std::wstring> stopped, checked;
    std::vector<DWORD> sleeps;
    std::function<void(size_t)> on_sleep;  // gets the number of waits so far

    DWORD stop_and_delete_service(const std::wstring& name) override {
        stopped.push_back(name);
        return stop_result;
    }
    bool is_process_running(const std::wstring& name) override {
        checked.push_back(name);
        return running_for-- > 0;
    }
    void sleep(DWORD ms) override {
        sleeps.push_back(ms);
        if (on_sleep) on_sleep(sleeps.size());
    }
};

struct Notice {
    DWORD kind;
    std::wstring path;
    bool prerequisite;
};

// Opens a file with no sharing, as a running program holds its image.
struct HeldFile {
    HANDLE handle = INVALID_HANDLE_VALUE;
    explicit HeldFile(const std::wstring& path) {
        handle = CreateFileW(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    }
    void release() {
        if (handle != INVALID_HANDLE_VALUE) CloseHandle(handle);
        handle = INVALID_HANDLE_VALUE;
    }
    ~HeldFile() { release(); }
};

std::wstring md5_of(const std::string& bytes) {
    MD5 md5;
    md5.update(bytes.data(), bytes.size());
    std::wstring hex;
    for (uint8_t b : md5.finish()) {
        wchar_t pair[3];
        swprintf(pair, 3, L"%02x", b);
        hex += pair;
    }
    return hex;
}

std::wstring upper(std::wstring text) {
    for (wchar_t& c : text) c = static_cast<wchar_t>(towupper(c));
    return text;
}

class Placement : public ::testing::Test {
protected:
    void SetUp() override {
        cache_ = dir_.path() + L"cache";
        updater_ = dir_.path() + L"updater\\tool\\1.0";
        ASSERT_TRUE(CreateDirectoryW(cache_.c_str(), nullptr));
        settings_.updater_folder = updater_;
        names_.enable_automatic_updates = true;
        names_.service_name = L"Tool_0123";
        names_.service_file_name = L"Tool.service.exe";
        body_md5_ = md5_of(kBody);
    }

    FilePlacement placement() {
        release_ = std::make_unique<ServiceRelease>(names_, calls_);
        return FilePlacement(settings_, reset_, *release_,
                             [this](DWORD kind, const std::wstring& path, bool pre) {
                                 notices_.push_back({kind, path, pre});
                                 return accept_notice_;
                             });
    }
    std::wstring cached(const std::wstring& name) const { return cache_ + L"\\" + name; }

    TempDir dir_{L"placement"};
    std::wstring cache_, updater_, body_md5_;
    PlacementSettings settings_;
    UpdaterServiceNames names_;
    FakeReleaseCalls calls_;
    PermissionReset reset_{false};
    std::unique_ptr<ServiceRelease> release_;
    std::vector<Notice> notices_;
    bool accept_notice_ = true;
    OperationError error_;
};

// The four placements side by side: what each writes, which notice it
// gives and whether the file also reaches the updater folder.
TEST_F(Placement, EachPlacementPutsTheFileInPlaceAndAnnouncesIt) {
    enum Kind { downloaded_file, downloaded_prerequisite, copied_file, copied_prerequisite };
    struct Case {
        Kind kind;
        DWORD notice;
        bool prerequisite;
        bool updater_copy;
    } cases[] = {
        {downloaded_file, 0x2000, false, true},
        {downloaded_prerequisite, 0x2000, true, false},
        {copied_file, 0x2001, false, true},
        {copied_prerequisite, 0x2001, true, false},
    };
    settings_.enable_automatic_updates = true;
    settings_.load_ca_in_updater = true;
    settings_.action_files = {L"actions\\Extension.dll"};
    for (const Case& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.kind));
        std::wstring folder = cache_ + L"\\run" + std::to_wstring(c.kind);
        std::wstring path = folder + L"\\actions\\Extension.dll.deploy";
        std::wstring final_path = folder + L"\\actions\\Extension.dll";
        std::wstring copy = updater_ + L"\\actions\\Extension.dll";
        DeleteFileW(copy.c_str());
        notices_.clear();
        FilePlacement p = placement();
        bool placed = false;
        switch (c.kind) {
            case downloaded_file:
                placed = p.place_downloaded_file(path, kBody, body_md5_, error_);
                break;
            case downloaded_prerequisite:
                placed = p.place_downloaded_prerequisite(path, kBody, upper(body_md5_), error_);
                break;
            case copied_file:
            case copied_prerequisite:
                ASSERT_TRUE(create_folder_tree_silently(folder + L"\\actions"));
                ASSERT_TRUE(write_file(path, kBody));
                placed = c.kind == copied_file ? p.place_copied_file(path, body_md5_, error_)
                                               : p.place_copied_prerequisite(path, body_md5_, error_);
                break;
        }
        ASSERT_TRUE(placed) << testing::PrintToString(error_.text);
        EXPECT_FALSE(file_exists(path));
        EXPECT_EQ(read_file(final_path), kBody);
        ASSERT_EQ(notices_.size(), 1u);
        EXPECT_EQ(notices_[0].kind, c.notice);
        EXPECT_EQ(notices_[0].path, final_path);
        EXPECT_EQ(notices_[0].prerequisite, c.prerequisite);
        EXPECT_EQ(file_exists(copy), c.updater_copy);
        if (c.updater_copy) {
            EXPECT_EQ(read_file(copy), kBody);
        }
    }
}

TEST_F(Placement, DownloadedFileWithoutSuffixKeepsItsName) {
    std::wstring path = cached(L"sub\\deeper\\data.bin");
    ASSERT_TRUE(placement().place_downloaded_file(path, kBody, L"", error_))
        << testing::PrintToString(error_.text);
    EXPECT_EQ(read_file(path), kBody);
    ASSERT_EQ(notices_.size(), 1u);
    EXPECT_EQ(notices_[0].path, path);
}

TEST_F(Placement, DeployFinalPath) {
    struct Case {
        const wchar_t* path;
        const wchar_t* final_path;
    } cases[] = {
        {L"C:\\c\\setup.exe.deploy", L"C:\\c\\setup.exe"},
        {L"C:\\c\\SETUP.EXE.DePloy", L"C:\\c\\SETUP.EXE"},
        {L"C:\\c\\x.deploy", L"C:\\c\\x"},
        {L"C:\\c\\.deploy", L"C:\\c\\.deploy"},  // the whole name is the suffix
        {L".deploy", L".deploy"},
        {L"C:\\c\\setup.exe.deployed", L"C:\\c\\setup.exe.deployed"},
        {L"C:\\c\\setup.exe", L"C:\\c\\setup.exe"},
        {L"C:\\c.deploy\\setup.exe", L"C:\\c.deploy\\setup.exe"},
    };
    for (const Case& c : cases) EXPECT_EQ(deploy_final_path(c.path), c.final_path) << c.path;
}

TEST_F(Placement, FileNamedOnlyDeployKeepsItsName) {
    std::wstring path = cached(L".deploy");
    ASSERT_TRUE(placement().place_downloaded_file(path, kBody, body_md5_, error_))
        << testing::PrintToString(error_.text);
    EXPECT_EQ(read_file(path), kBody);
    ASSERT_EQ(notices_.size(), 1u);
    EXPECT_EQ(notices_[0].path, path);
}

// A file left under the final name by an earlier run is replaced by the new
// one, also when it is read-only.
TEST_F(Placement, DeployRenameReplacesAnExistingTarget) {
    for (DWORD attributes : {DWORD{FILE_ATTRIBUTE_NORMAL}, DWORD{FILE_ATTRIBUTE_READONLY}}) {
        SCOPED_TRACE(attributes);
        std::wstring final_path = cached(L"setup.exe");
        ASSERT_TRUE(write_file(final_path, "old contents"));
        ASSERT_TRUE(SetFileAttributesW(final_path.c_str(), attributes));
        ASSERT_TRUE(
            placement().place_downloaded_prerequisite(final_path + L".deploy", kBody, body_md5_, error_))
            << testing::PrintToString(error_.text);
        EXPECT_EQ(read_file(final_path), kBody);
        EXPECT_FALSE(file_exists(final_path + L".deploy"));
        SetFileAttributesW(final_path.c_str(), FILE_ATTRIBUTE_NORMAL);
        DeleteFileW(final_path.c_str());
    }
}

TEST_F(Placement, DigestCheck) {
    struct Case {
        const char* body;
        std::wstring expected;
        bool placed;
    } cases[] = {
        {"placed file body", L"", true},  // nothing listed: never compared
        {"placed file body", md5_of(kBody), true},
        {"placed file body", upper(md5_of(kBody)), true},  // case does not matter
        {"placed file body", md5_of("other body"), false},
        {"", md5_of(""), false},  // an empty file has no digest
        {"", L"", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.expected) + " over \"" + c.body + "\"");
        error_ = {};
        error_.code = 77;
        std::wstring path = cached(L"setup.exe.deploy");
        bool placed = placement().place_downloaded_file(path, c.body, c.expected, error_);
        EXPECT_EQ(placed, c.placed);
        // Whatever the outcome, the file stays under its final name.
        EXPECT_EQ(read_file(cached(L"setup.exe")), c.body);
        if (c.placed) {
            EXPECT_EQ(error_.text, L"");
        } else {
            // Named as listed, with the suffix; the code is left alone.
            EXPECT_EQ(error_.text, L"Wrong file hash: 'setup.exe.deploy'.");
            EXPECT_EQ(error_.code, 77u);
        }
    }
}

TEST_F(Placement, CopiedFileMismatchNamesTheDestination) {
    std::wstring path = cached(L"lib.dll");
    ASSERT_TRUE(write_file(path, kBody));
    EXPECT_FALSE(placement().place_copied_file(path, md5_of("x"), error_));
    EXPECT_EQ(error_.text, L"Wrong file hash: 'lib.dll'.");
}

// A refused notice stops quietly: no text, the digest is not even looked at.
TEST_F(Placement, RefusedNoticeStopsWithoutText) {
    accept_notice_ = false;
    std::wstring path = cached(L"lib.dll.deploy");
    EXPECT_FALSE(placement().place_downloaded_file(path, kBody, md5_of("x"), error_));
    EXPECT_EQ(error_.text, L"");
    EXPECT_EQ(notices_.size(), 1u);
    EXPECT_EQ(read_file(cached(L"lib.dll")), kBody);
}

TEST_F(Placement, WriteAndFolderFailures) {
    // The listed path is taken by a folder: the file cannot be created.
    std::wstring taken = cached(L"taken");
    ASSERT_TRUE(CreateDirectoryW(taken.c_str(), nullptr));
    EXPECT_FALSE(placement().place_downloaded_file(taken, kBody, L"", error_));
    ASSERT_NE(error_.code, 0u);
    EXPECT_EQ(error_.text, L"Failed to create 'taken' file. Error: " + std::to_wstring(error_.code) + L".");
    EXPECT_TRUE(notices_.empty());

    // A file stands where a folder must be created.
    error_ = {};
    ASSERT_TRUE(write_file(cached(L"plain"), "x"));
    EXPECT_FALSE(placement().place_downloaded_prerequisite(cached(L"plain\\sub\\a.dll"), kBody, L"", error_));
    EXPECT_EQ(error_.text.rfind(L"Failed to create directory (" + cached(L"plain\\sub") + L").", 0), 0u)
        << testing::PrintToString(error_.text);
    EXPECT_NE(error_.code, 0u);
}

// Prerequisites and copied files get one rename: a held target is reported
// at once, the updater service is not touched and nobody waits.
TEST_F(Placement, HeldTargetFailsAtOnceWhereNoReleaseApplies) {
    names_.service_file_name = L"setup.exe";  // even when the name would match
    std::wstring final_path = cached(L"setup.exe");
    ASSERT_TRUE(write_file(final_path, "old"));
    HeldFile held(final_path);
    ASSERT_NE(held.handle, INVALID_HANDLE_VALUE);

    struct Case {
        const char* what;
        std::function<bool(FilePlacement&, const std::wstring&)> place;
    } cases[] = {
        {"downloaded prerequisite",
         [&](FilePlacement& p, const std::wstring& path) {
             return p.place_downloaded_prerequisite(path, kBody, L"", error_);
         }},
        {"copied file",
         [&](FilePlacement& p, const std::wstring& path) {
             EXPECT_TRUE(write_file(path, kBody));
             return p.place_copied_file(path, L"", error_);
         }},
        {"copied prerequisite",
         [&](FilePlacement& p, const std::wstring& path) {
             EXPECT_TRUE(write_file(path, kBody));
             return p.place_copied_prerequisite(path, L"", error_);
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        error_ = {};
        FilePlacement p = placement();
        std::wstring path = final_path + L".deploy";
        EXPECT_FALSE(c.place(p, path));
        ASSERT_NE(error_.code, 0u);
        EXPECT_EQ(error_.text,
                  L"Failed to rename '" + path + L"' file. Error: " + std::to_wstring(error_.code) + L".");
        EXPECT_TRUE(file_exists(path));  // what was written stays
    }
    EXPECT_TRUE(calls_.stopped.empty());
    EXPECT_TRUE(calls_.sleeps.empty());
}

// A downloaded package file whose final name is the updater service's
// program: the service is stopped, its process awaited, and the rename
// retried until the file is free.
TEST_F(Placement, HeldServiceProgramIsReleasedAndReplaced) {
    std::wstring final_path = cached(L"tool.SERVICE.exe");
    ASSERT_TRUE(write_file(final_path, "old program"));
    HeldFile held(final_path);
    ASSERT_NE(held.handle, INVALID_HANDLE_VALUE);
    calls_.running_for = 2;  // the program ends on the third look
    calls_.on_sleep = [&](size_t waits) {
        if (waits == 5) held.release();  // two retries after the program ended
    };

    ASSERT_TRUE(placement().place_downloaded_file(final_path + L".deploy", kBody, body_md5_, error_))
        << testing::PrintToString(error_.text);
    EXPECT_EQ(read_file(final_path), kBody);
    EXPECT_EQ(calls_.stopped, std::vector<std::wstring>{L"Tool_0123"});
    EXPECT_EQ(calls_.checked, (std::vector<std::wstring>(3, L"tool.SERVICE.exe")));
    EXPECT_EQ(calls_.sleeps, std::vector<DWORD>(5, 1000));
}

TEST_F(Placement, HeldServiceProgramGivesUpAfterThirtyRetries) {
    std::wstring final_path = cached(L"Tool.service.exe");
    ASSERT_TRUE(write_file(final_path, "old program"));
    HeldFile held(final_path);
    ASSERT_NE(held.handle, INVALID_HANDLE_VALUE);
    calls_.running_for = 1000;  // the program never ends

    EXPECT_FALSE(placement().place_downloaded_file(final_path + L".deploy", kBody, L"", error_));
    ASSERT_NE(error_.code, 0u);
    EXPECT_EQ(error_.text, L"Failed to rename '" + final_path + L".deploy' file. Error: " +
                               std::to_wstring(error_.code) + L".");
    EXPECT_EQ(calls_.checked.size(), 30u);  // thirty looks at the process
    // Thirty waits for the process, then thirty retries one second apart.
    EXPECT_EQ(calls_.sleeps, std::vector<DWORD>(30 + 29, 1000));
    held.release();
    EXPECT_EQ(read_file(final_path), "old program");
}

TEST_F(Placement, ServiceReleaseConditions) {
    std::wstring program = cached(L"Tool.service.exe");
    ASSERT_TRUE(write_file(program, "x"));
    struct Case {
        const char* what;
        std::wstring path;
        std::function<void(UpdaterServiceNames&, FakeReleaseCalls&)> setup;
        bool released;
    } cases[] = {
        {"service program", program, [](auto&, auto&) {}, true},
        {"name in another case", cached(L"TOOL.SERVICE.EXE"), [](auto&, auto&) {}, true},
        {"missing file", cached(L"sub\\Tool.service.exe"), [](auto&, auto&) {}, false},
        {"automatic updates off", program, [](auto& n, auto&) { n.enable_automatic_updates = false; }, false},
        {"no service name", program, [](auto& n, auto&) { n.service_name.clear(); }, false},
        {"no program name", program, [](auto& n, auto&) { n.service_file_name.clear(); }, false},
        {"another file", cached(L"Tool.updater.exe"), [](auto&, auto&) {}, false},
        {"service not stopped", program, [](auto&, auto& c) { c.stop_result = ERROR_ACCESS_DENIED; }, false},
    };
    ASSERT_TRUE(write_file(cached(L"Tool.updater.exe"), "x"));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        UpdaterServiceNames names = names_;
        FakeReleaseCalls calls;
        c.setup(names, calls);
        EXPECT_EQ(ServiceRelease(names, calls).release(c.path), c.released);
        bool reached_stop = c.released || calls.stop_result != 0;
        EXPECT_EQ(calls.stopped.size(), reached_stop ? 1u : 0u);
        // No waiting unless the service was stopped.
        EXPECT_EQ(calls.sleeps.empty(), !c.released);
    }
}

TEST_F(Placement, DeleteFileReleasesAHeldProgram) {
    std::wstring program = cached(L"Tool.service.exe");
    ASSERT_TRUE(write_file(program, "x"));
    ASSERT_TRUE(SetFileAttributesW(program.c_str(), FILE_ATTRIBUTE_READONLY));
    {
        HeldFile held(program);
        calls_.on_sleep = [&](size_t waits) {
            if (waits == 2) held.release();
        };
        ServiceRelease release(names_, calls_);
        EXPECT_TRUE(release.delete_file(program, error_)) << testing::PrintToString(error_.text);
        EXPECT_FALSE(file_exists(program));
        EXPECT_EQ(calls_.stopped.size(), 1u);
    }

    // Not the service's program: reported at once.
    std::wstring other = cached(L"other.dll");
    ASSERT_TRUE(write_file(other, "x"));
    HeldFile held(other);
    FakeReleaseCalls calls;
    EXPECT_FALSE(ServiceRelease(names_, calls).delete_file(other, error_));
    ASSERT_NE(error_.code, 0u);
    EXPECT_EQ(error_.text,
              L"Failed to delete '" + other + L"' file. Error: " + std::to_wstring(error_.code) + L".");
    EXPECT_TRUE(calls.sleeps.empty());
}

class UpdaterCopy : public Placement {
protected:
    void SetUp() override {
        Placement::SetUp();
        settings_.enable_automatic_updates = true;
        settings_.load_ca_in_updater = true;
        settings_.action_files = {L"actions\\Extension.dll"};
    }
    std::wstring placed(const std::wstring& name) {
        std::wstring path = cached(name);
        EXPECT_TRUE(create_folder_tree_silently(directory_part(path)));
        EXPECT_TRUE(write_file(path, kBody));
        return path;
    }
};

TEST_F(UpdaterCopy, WhichFilesReachTheUpdaterFolder) {
    struct Case {
        const char* what;
        std::function<void(PlacementSettings&)> setup;
        std::wstring final_name;
        std::wstring copy;  // relative to the updater folder; empty: nothing copied
    } cases[] = {
        {"listed action file", [](auto&) {}, L"actions\\Extension.dll", L"actions\\Extension.dll"},
        {"updater service loads it",
         [](auto& s) {
             s.load_ca_in_updater = false;
             s.load_ca_in_updater_service = true;
         },
         L"actions\\Extension.dll", L"actions\\Extension.dll"},
        {"automatic updates off", [](auto& s) { s.enable_automatic_updates = false; },
         L"actions\\Extension.dll", L""},
        {"updater loads no custom actions", [](auto& s) { s.load_ca_in_updater = false; },
         L"actions\\Extension.dll", L""},
        {"no action files", [](auto& s) { s.action_files.clear(); }, L"actions\\Extension.dll", L""},
        {"not an action file", [](auto&) {}, L"actions\\Other.dll", L""},
        {"name only partly matches", [](auto&) {}, L"myactions\\Extension.dll", L""},
        {"other case", [](auto&) {}, L"ACTIONS\\extension.DLL", L"actions\\Extension.dll"},
        {"listed with slashes", [](auto& s) { s.action_files = {L"actions/Extension.dll"}; },
         L"actions\\Extension.dll", L"actions\\Extension.dll"},
        {"listed with .deploy", [](auto& s) { s.action_files = {L"actions\\Extension.dll.deploy"}; },
         L"actions\\Extension.dll", L"actions\\Extension.dll"},
        {"first match in list order",
         [](auto& s) {
             s.action_files = {L"Other.dll", L"Extension.dll", L"actions\\Extension.dll"};
         },
         L"actions\\Extension.dll", L"Extension.dll"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        delete_folder_tree(dir_.path() + L"updater");
        PlacementSettings saved = settings_;
        c.setup(settings_);
        std::wstring final_path = placed(c.final_name);
        EXPECT_TRUE(placement().updater_copy(final_path, error_)) << testing::PrintToString(error_.text);
        settings_ = saved;
        if (c.copy.empty()) {
            EXPECT_FALSE(file_exists(dir_.path() + L"updater")) << "something was copied";
        } else {
            EXPECT_EQ(read_file(updater_ + L"\\" + c.copy), kBody);
        }
    }
}

TEST_F(UpdaterCopy, ReplacesAnEarlierCopy) {
    std::wstring copy = updater_ + L"\\actions\\Extension.dll";
    ASSERT_TRUE(create_folder_tree_silently(updater_ + L"\\actions"));
    ASSERT_TRUE(write_file(copy, "earlier copy"));
    ASSERT_TRUE(SetFileAttributesW(copy.c_str(), FILE_ATTRIBUTE_READONLY));
    EXPECT_TRUE(placement().updater_copy(placed(L"actions\\Extension.dll"), error_))
        << testing::PrintToString(error_.text);
    EXPECT_EQ(read_file(copy), kBody);
}

TEST_F(UpdaterCopy, Failures) {
    // The earlier copy is in use.
    std::wstring copy = updater_ + L"\\actions\\Extension.dll";
    ASSERT_TRUE(create_folder_tree_silently(updater_ + L"\\actions"));
    ASSERT_TRUE(write_file(copy, "earlier copy"));
    std::wstring final_path = placed(L"actions\\Extension.dll");
    {
        HeldFile held(copy);
        EXPECT_FALSE(placement().updater_copy(final_path, error_));
        ASSERT_NE(error_.code, 0u);
        EXPECT_EQ(error_.text,
                  L"Failed to delete '" + copy + L"' file. Error: " + std::to_wstring(error_.code) + L".");
    }

    // The placed file is gone before it could be copied.
    error_ = {};
    ASSERT_TRUE(DeleteFileW(final_path.c_str()));
    EXPECT_FALSE(placement().updater_copy(final_path, error_));
    EXPECT_EQ(error_.code, static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(error_.text, L"Failed to copy 'Extension.dll' file. Error: 2.");

    // An action name that would leave the updater folder.
    error_ = {};
    settings_.action_files = {L"..\\evil.dll"};
    EXPECT_FALSE(placement().updater_copy(cached(L"x\\..\\evil.dll"), error_));
    EXPECT_EQ(error_.text, L"Invalid file name '..\\evil.dll' in version_info.xml.");
    EXPECT_FALSE(file_exists(updater_ + L"\\..\\evil.dll"));
}

// The real thing: the updater service runs the program that a placement
// must replace.
TEST(PlacementService, ReplacesTheProgramOfARunningUpdaterService) {
    TempDir dir(L"placesvc");
    std::wstring suffix = std::to_wstring(GetCurrentProcessId()) + L"_" + std::to_wstring(GetTickCount());
    std::wstring program_name = L"QrPlace" + suffix + L".service.exe";
    std::wstring program = dir / program_name;
    ASSERT_TRUE(
        CopyFileW((testing_support::bin_dir() + L"qr_testservice.exe").c_str(), program.c_str(), TRUE));
    UpdaterServiceNames names{true, L"QrPlace_" + suffix, program_name};
    struct Cleanup {
        std::wstring name;
        ~Cleanup() { stop_and_delete_service(name); }
    } cleanup{names.service_name};
    ASSERT_EQ(
        create_service(names.service_name, names.service_name, L"d",
                       testing_support::quote(program) + L" " + testing_support::quote(dir / L"log.txt")),
        0u);
    ASSERT_EQ(start_service(names.service_name), 0u);
    for (int i = 0; i < 200 && !is_process_running(program_name, 0, false, ProcessEnumeration::snapshot); ++i)
        Sleep(50);
    ASSERT_TRUE(is_process_running(program_name, 0, false, ProcessEnumeration::snapshot));

    ServiceRelease release(names);
    PermissionReset reset(false);
    FilePlacement placement({}, reset, release, nullptr);
    OperationError error;
    std::string body = "new program";
    ASSERT_TRUE(placement.place_downloaded_file(program + L".deploy", body, md5_of(body), error))
        << testing::PrintToString(error.text);
    EXPECT_EQ(read_file(program), body);
    EXPECT_FALSE(is_process_running(program_name, 0, false, ProcessEnumeration::snapshot));
    EXPECT_EQ(stop_and_delete_service(names.service_name), static_cast<DWORD>(ERROR_SERVICE_DOES_NOT_EXIST));
}

}  // namespace
