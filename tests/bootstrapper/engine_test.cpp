// The engine's task chain driven in-process: a deployment made by the test,
// served over HTTP by the fixture server or copied from a local folder, and
// a message-only window standing in for the progress window.
#include <windows.h>
#include <shlobj.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "../ipc/fake_process.h"
#include "Bootstrapper.h"
#include "UpdaterSession.h"
#include "digest.h"
#include "launch_state.h"
#include "settings.h"
#include "test_support.h"
#include "text.h"
#include "window_messages.h"

using testing_support::TempDir;

namespace {

struct Posted {
    UINT message;
    std::wstring text;
    LPARAM lParam;
};

std::vector<Posted>& posted() {
    static std::vector<Posted> messages;
    return messages;
}

// Set while a test wants to cancel during the transfer of a large file:
// the first report that knows the large total comes from reading the
// description, the second from the transfer itself.
bool g_cancelOnProgress = false;
int g_largeTotalReports = 0;

LRESULT CALLBACK RecorderProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message >= WM_DL_COMPLETED && message <= WM_DL_TASK_FAILED) {
        Posted entry{message, L"", lParam};
        if (message == WM_DL_DOWNLOAD_FAILED || message == WM_DL_TASK_FAILED) {
            wchar_t* text = reinterpret_cast<wchar_t*>(wParam);
            if (text) entry.text = text;
            delete[] text;
        }
        if (message == WM_DL_PROGRESS && lParam > 1024 * 1024 && g_cancelOnProgress &&
            ++g_largeTotalReports == 2) {
            g_cancelOnProgress = false;
            the_bootstrapper().RequestCancel();
        }
        posted().push_back(entry);
        return 0;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

class TempFolderEnvironment : public FolderEnvironment {
public:
    explicit TempFolderEnvironment(std::wstring base) : base_(std::move(base)) {}
    HRESULT folder_path(int, std::wstring& path) override {
        path = base_;
        return S_OK;
    }
    SYSTEMTIME local_time() override {
        SYSTEMTIME time{};
        time.wYear = 2026;
        time.wMonth = 1;
        time.wDay = 2;
        time.wHour = 3;
        time.wSecond = ++seconds_ % 60;
        return time;
    }
    void sleep(DWORD) override {}

private:
    std::wstring base_;
    WORD seconds_ = 0;
};

std::wstring env(const wchar_t* name) {
    wchar_t value[1024] = {};
    DWORD n = GetEnvironmentVariableW(name, value, 1024);
    return n > 0 && n < 1024 ? std::wstring(value, n) : std::wstring();
}

// The served folder: a Unix path the server was given, seen through Z:.
std::wstring serve_dir() {
    std::wstring dir = env(L"QR_SERVE_DIR");
    for (wchar_t& c : dir)
        if (c == L'/') c = L'\\';
    return L"Z:" + dir + L"\\";
}

std::wstring http_root() {
    return L"http://127.0.0.1:" + env(L"QR_HTTP_PORT") + L"/";
}

std::string md5_of(const std::wstring& path) {
    return narrow(file_digest(path));
}

struct ListedFile {
    std::string name;  // relative, below <language>\<version>
    std::string content;
    bool wrongDigest = false;
};

// Writes a deployment into folder: version_info.xml (with a byte order
// mark, as editors save it) and the listed files below en\1.0, each with its
// MD5 in the description.
void write_deployment(const std::wstring& folder, const std::vector<ListedFile>& files,
                      const std::string& xmlOverride = {}) {
    using testing_support::write_file;
    CreateDirectoryW(folder.c_str(), nullptr);
    CreateDirectoryW((folder + L"en").c_str(), nullptr);
    CreateDirectoryW((folder + L"en\\1.0").c_str(), nullptr);
    std::string list;
    for (const ListedFile& file : files) {
        std::wstring path = folder + L"en\\1.0\\" + widen(file.name);
        const size_t slash = path.find_last_of(L'\\');
        SHCreateDirectoryExW(nullptr, path.substr(0, slash).c_str(), nullptr);
        ASSERT_TRUE(write_file(path, file.content));
        std::string digest = file.wrongDigest ? std::string(32, '0') : md5_of(path);
        list += "<file size=\"" + std::to_string(file.content.size()) + "\" hash=\"" + digest + "\">" +
                file.name + "</file>";
    }
    std::string xml =
        xmlOverride.empty()
            ? "\xEF\xBB\xBF<?xml version=\"1.0\" encoding=\"utf-8\"?><application><product language=\"en\">"
              "<version name=\"1.0\"><files msi=\"package.msi\">" +
                  list + "</files></version></product></application>"
            : xmlOverride;
    ASSERT_TRUE(write_file(folder + L"version_info.xml", xml));
}

class EngineTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        WNDCLASSW windowClass{};
        windowClass.lpfnWndProc = RecorderProc;
        windowClass.hInstance = GetModuleHandleW(nullptr);
        windowClass.lpszClassName = L"QuillrunEngineTestRecorder";
        RegisterClassW(&windowClass);
        window_ = CreateWindowExW(0, windowClass.lpszClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                  windowClass.hInstance, nullptr);
    }

    void SetUp() override {
        ASSERT_NE(window_, nullptr);
        ASSERT_FALSE(env(L"QR_SERVE_DIR").empty()) << "run through with-server.sh";
        DeploymentSettings& config = settings();
        config.application = L"EngineTest";
        config.id = L"0123456789abcdef0123456789abcdef";
        config.version = L"1.0";
        config.language = L"en";
        config.productName = L"Engine Test";
        config.productCode = L"{11111111-2222-3333-4444-555555555555}";
        posted().clear();
        environment_ =
            std::make_unique<TempFolderEnvironment>(base_.path().substr(0, base_.path().size() - 1));
        engine().SetFolderEnvironment(environment_.get());
        engine().SetTurnPause(50);
        EngineStartup startup;
        startup.notificationWindow = window_;
        ASSERT_TRUE(engine().Initialize(startup));
        ASSERT_FALSE(engine().Folders().cache.empty());
    }

    void TearDown() override {
        launch_state().updaterMode = false;
        g_cancelOnProgress = false;
        g_largeTotalReports = 0;
        engine().SetFolderEnvironment(nullptr);
    }

    static CBootstrapper& engine() { return the_bootstrapper(); }

    // One run from start to its finished event, with the messages it posted.
    void run(int kind, const std::wstring& installationUrl, std::wstring location = {}) {
        posted().clear();
        g_largeTotalReports = 0;
        launch_state().currentInstallationUrl = installationUrl;
        if (location.empty()) location = installationUrl + L"version_info.xml";
        engine().Reset();
        ASSERT_TRUE(engine().Start(kind, location));
        const DWORD deadline = GetTickCount() + 20000;
        HANDLE finished = engine().FinishedEvent();
        for (;;) {
            DWORD left = deadline - GetTickCount();
            if (static_cast<LONG>(left) <= 0) FAIL() << "the run did not end";
            DWORD wait = MsgWaitForMultipleObjects(1, &finished, FALSE, left, QS_ALLINPUT);
            MSG message;
            while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&message);
            if (wait == WAIT_OBJECT_0) break;
        }
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&message);
    }

    std::vector<Posted> outcomes() const {
        std::vector<Posted> result;
        for (const Posted& entry : posted())
            if (entry.message == WM_DL_COMPLETED || entry.message == WM_DL_DOWNLOAD_FAILED ||
                entry.message == WM_DL_TASK_FAILED || entry.message == WM_DL_RELAUNCH_ELEVATED)
                result.push_back(entry);
        return result;
    }

    // Exactly one outcome, a failure with this text and task.
    void expect_failure(UINT message, const std::wstring& text, LONG task) {
        std::vector<Posted> ends = outcomes();
        ASSERT_EQ(ends.size(), 1u);
        EXPECT_EQ(ends[0].message, message);
        EXPECT_EQ(ends[0].text, text);
        EXPECT_EQ(ends[0].lParam, task);
    }

    std::wstring cached(const std::wstring& name) const { return engine().Folders().cache + L"\\" + name; }

    static HWND window_;
    TempDir base_{L"qrengine"};
    std::unique_ptr<TempFolderEnvironment> environment_;
};

HWND EngineTest::window_ = nullptr;

const wchar_t kNotAvailable[] = L"Installing the package is not available in this version of the downloader.";

std::vector<ListedFile> two_files() {
    return {{"package.msi", std::string(70000, 'p')},
            {"data\\notes.txt", "some notes\r\n"},
            {"tools\\setup.exe.deploy", "setup program"},
            {"data\\empty.txt", ""}};
}

TEST_F(EngineTest, RunFromWebAddressAndLocalFolderFetchesEveryFileAndStopsAtInstallation) {
    struct Case {
        const char* label;
        int kind;
    };
    for (const Case& c : {Case{"http", kSourceWebAddress}, Case{"local", kSourceLocalFolder}}) {
        SCOPED_TRACE(c.label);
        SetUp();
        const std::wstring folder = serve_dir() + widen(c.label) + L"-plain\\";
        write_deployment(folder, two_files());
        const std::wstring root =
            c.kind == kSourceWebAddress ? http_root() + L"files/" + widen(c.label) + L"-plain/" : folder;
        run(c.kind, root);
        ASSERT_NO_FATAL_FAILURE(expect_failure(WM_DL_DOWNLOAD_FAILED, kNotAvailable, kTaskRunMsi));
        EXPECT_EQ(testing_support::read_file(cached(L"package.msi")), std::string(70000, 'p'));
        EXPECT_EQ(testing_support::read_file(cached(L"data\\notes.txt")), "some notes\r\n");
        EXPECT_TRUE(testing_support::file_exists(cached(L"version_info.xml")));
        // A ".deploy" file is stored without the suffix; an empty file arrives empty.
        EXPECT_EQ(testing_support::read_file(cached(L"tools\\setup.exe")), "setup program");
        EXPECT_FALSE(testing_support::file_exists(cached(L"tools\\setup.exe.deploy")));
        EXPECT_TRUE(testing_support::file_exists(cached(L"data\\empty.txt")));
        EXPECT_EQ(testing_support::read_file(cached(L"data\\empty.txt")), "");
        // Started first, progress hidden before the installation step, and
        // the last progress report counts every byte of the run.
        ASSERT_FALSE(posted().empty());
        EXPECT_EQ(posted().front().message, WM_DL_STARTED);
        bool hidden = false;
        for (const Posted& entry : posted()) hidden = hidden || entry.message == WM_DL_HIDE_PROGRESS;
        EXPECT_TRUE(hidden);
        TearDown();
    }
}

TEST_F(EngineTest, SecondRunSkipsFilesWhoseDigestMatchesAndRefetchesAChangedOne) {
    const std::wstring folder = serve_dir() + L"second\\";
    write_deployment(folder, two_files());
    const std::wstring root = http_root() + L"files/second/";
    run(kSourceWebAddress, root);
    ASSERT_NO_FATAL_FAILURE(expect_failure(WM_DL_DOWNLOAD_FAILED, kNotAvailable, kTaskRunMsi));

    // The server loses the package (a fetch would now fail with 404) and
    // the cached notes are damaged.
    ASSERT_TRUE(DeleteFileW((folder + L"en\\1.0\\package.msi").c_str()));
    ASSERT_TRUE(testing_support::write_file(cached(L"data\\notes.txt"), "damaged"));
    run(kSourceWebAddress, root);
    ASSERT_NO_FATAL_FAILURE(expect_failure(WM_DL_DOWNLOAD_FAILED, kNotAvailable, kTaskRunMsi));

    EXPECT_EQ(testing_support::read_file(cached(L"data\\notes.txt")), "some notes\r\n");
}

TEST_F(EngineTest, RunAfterAFailedAddressFetchesFromTheNextAddress) {
    // The first address lacks the package; the next one has it. The second
    // run must not go back to the first address for files it already listed.
    const std::wstring first = serve_dir() + L"failover-a\\";
    const std::wstring second = serve_dir() + L"failover-b\\";
    write_deployment(first, two_files());
    write_deployment(second, two_files());
    ASSERT_TRUE(DeleteFileW((first + L"en\\1.0\\package.msi").c_str()));
    run(kSourceWebAddress, http_root() + L"files/failover-a/");
    ASSERT_NO_FATAL_FAILURE(
        expect_failure(WM_DL_DOWNLOAD_FAILED,
                       L"404 error: Not Found: " + http_root() + L"files/failover-a/en/1.0/package.msi.",
                       kTaskDownloadFile));
    run(kSourceWebAddress, http_root() + L"files/failover-b/");
    ASSERT_NO_FATAL_FAILURE(expect_failure(WM_DL_DOWNLOAD_FAILED, kNotAvailable, kTaskRunMsi));
    EXPECT_EQ(testing_support::read_file(cached(L"package.msi")), std::string(70000, 'p'));
}

TEST_F(EngineTest, ExitCleanupRemovesTheCacheFolder) {
    const std::wstring folder = serve_dir() + L"cleanup\\";
    write_deployment(folder, two_files());
    run(kSourceLocalFolder, folder);
    ASSERT_TRUE(testing_support::file_exists(cached(L"package.msi")));
    const std::wstring cache = engine().Folders().cache;
    engine().Cleanup();
    EXPECT_EQ(GetFileAttributesW(cache.c_str()), INVALID_FILE_ATTRIBUTES);
    engine().Cleanup();  // a second call finds nothing left to do
}

TEST_F(EngineTest, FailuresEndWithTheirTextAndTask) {
    const std::wstring folder = serve_dir() + L"failures\\";
    CreateDirectoryW(folder.c_str(), nullptr);
    const std::wstring root = http_root() + L"files/failures/";

    // A listed file with the wrong digest.
    write_deployment(folder + L"hash\\", {{"package.msi", "package bytes", true}});
    run(kSourceWebAddress, root + L"hash/");
    ASSERT_NO_FATAL_FAILURE(
        expect_failure(WM_DL_DOWNLOAD_FAILED, L"Wrong file hash: 'package.msi'.", kTaskDownloadFile));

    // A listed file the server does not have.
    write_deployment(folder + L"missing\\", {{"package.msi", "other package bytes"}});
    DeleteFileW((folder + L"missing\\en\\1.0\\package.msi").c_str());
    run(kSourceWebAddress, root + L"missing/");
    ASSERT_NO_FATAL_FAILURE(expect_failure(WM_DL_DOWNLOAD_FAILED,
                                           L"404 error: Not Found: " + root + L"missing/en/1.0/package.msi.",
                                           kTaskDownloadFile));
    EXPECT_EQ(engine().ErrorCode(), 404);

    // A description that is not well-formed.
    write_deployment(folder + L"malformed\\", {}, "<application><product language=\"en\">");
    run(kSourceWebAddress, root + L"malformed/");
    ASSERT_NO_FATAL_FAILURE(expect_failure(
        WM_DL_DOWNLOAD_FAILED,
        L"Failed to load 'version_info.xml' file (" + cached(L"version_info.xml") + L").", kTaskReadXml));

    // No version for our settings: a notice, not a failure.
    write_deployment(folder + L"other\\", {},
                     "<application><product language=\"de\"><version name=\"1.0\" productCode=\"{A}\">"
                     "<files msi=\"p.msi\"/></version></product></application>");
    run(kSourceWebAddress, root + L"other/");
    ASSERT_NO_FATAL_FAILURE(expect_failure(
        WM_DL_TASK_FAILED, L"The Engine Test v1.0 product is not available.", kTaskDownloadFile));
}

TEST_F(EngineTest, TransferCutShortIsADownloadError) {
    // The description itself arrives cut off: 4000 bytes announced, 1000 sent.
    run(kSourceWebAddress, http_root(), http_root() + L"cut/4000/1000");
    ASSERT_NO_FATAL_FAILURE(
        expect_failure(WM_DL_DOWNLOAD_FAILED, L"Download error.", kTaskDownloadVersionInfo));
    EXPECT_EQ(engine().ErrorCode(), 200);
}

TEST_F(EngineTest, CancelDuringDownloadPostsNothingButDuringLocalCopyIsAFailedCopy) {
    const std::wstring folder = serve_dir() + L"cancel\\";
    write_deployment(folder, {{"package.msi", std::string(48 * 1024 * 1024, 'c')}});

    g_cancelOnProgress = true;
    run(kSourceWebAddress, http_root() + L"files/cancel/");
    EXPECT_FALSE(g_cancelOnProgress) << "the transfer was not seen";
    EXPECT_TRUE(outcomes().empty());

    SetUp();
    g_cancelOnProgress = true;
    run(kSourceLocalFolder, folder);
    EXPECT_FALSE(g_cancelOnProgress);
    ASSERT_NO_FATAL_FAILURE(
        expect_failure(WM_DL_DOWNLOAD_FAILED,
                       format(L"Failed to copy '%s' file. Error: %d.", L"package.msi", ERROR_REQUEST_ABORTED),
                       kTaskDownloadFile));
    EXPECT_FALSE(testing_support::file_exists(cached(L"package.msi")));
}

// A version marked as a bootstrapper update fetches its prerequisites first.
TEST_F(EngineTest, BootstrapperUpdateFetchesPrerequisitesFirst) {
    const std::wstring folder = serve_dir() + L"prereq\\";
    write_deployment(folder, {{"prereq\\setup.exe", "prerequisite setup"}, {"package.msi", "package bytes"}});
    const std::string digest = md5_of(folder + L"en\\1.0\\prereq\\setup.exe");
    const std::string head =
        "<application><product language=\"en\"><version name=\"1.0\" updateType=\"bootstrapper\">"
        "<files msi=\"package.msi\">";
    const std::string tail = "<file>package.msi</file></files></version></product></application>";
    const std::wstring root = http_root() + L"files/prereq/";
    struct Case {
        const char* prerequisites;
        const wchar_t* text;
        LONG task;
    };
    const std::wstring none = L"No prerequisites were found in the 'version_info.xml' file. Source url: " +
                              root + L"version_info.xml.";
    for (const Case& c :
         {Case{"", none.c_str(), kTaskDownloadPrerequisiteFile},
          Case{"x", L"Installing prerequisites is not available in this version of the downloader.",
               kTaskInstallPrerequisites}}) {
        SCOPED_TRACE(c.prerequisites);
        SetUp();
        const std::string listed =
            *c.prerequisites ? "<file prerequisite=\"true\" hash=\"" + digest + "\">prereq\\setup.exe</file>"
                             : "";
        ASSERT_TRUE(testing_support::write_file(folder + L"version_info.xml", head + listed + tail));
        run(kSourceWebAddress, root);
        description_flags().bootstrapperUpdate = false;  // process-wide: later runs are ordinary again
        ASSERT_NO_FATAL_FAILURE(expect_failure(WM_DL_DOWNLOAD_FAILED, c.text, c.task));
        if (*c.prerequisites) {
            EXPECT_EQ(testing_support::read_file(cached(L"prereq\\setup.exe")), "prerequisite setup");
            EXPECT_FALSE(testing_support::file_exists(cached(L"package.msi")))
                << "package fetched before setup";
        }
        TearDown();
    }
}

// In updater mode every step is reported; a refused notice stops the run
// without a failure text and marks it cancelled.
TEST_F(EngineTest, UpdaterHearsEveryStepAndCanStopTheRun) {
    const std::wstring folder = serve_dir() + L"updater\\";
    write_deployment(folder, {{"package.msi", "package bytes"}});
    struct Case {
        const wchar_t* options;
        UINT outcome;
        bool cancelled;
    };
    for (const Case& c :
         {Case{L"", WM_DL_DOWNLOAD_FAILED, false}, Case{L"/refuse-notice=5", WM_DL_COMPLETED, true}}) {
        SCOPED_TRACE(c.options);
        SetUp();
        const std::wstring pipe =
            L"qrengine-" + std::to_wstring(GetCurrentProcessId()) + L"-" + std::to_wstring(c.cancelled);
        FakeUpdater fake(pipe, c.options);
        ASSERT_TRUE(fake.WaitUntilListening());
        IPC::UpdaterClient& client = IPC::updater_session().Client();
        launch_state().updaterMode = true;
        ASSERT_TRUE(client.ConnectToUpdater(L"C:\\u.exe", 1, L"", L"C:\\p", fake.FullName(), L""));
        run(kSourceLocalFolder, folder);
        client.DisconnectFromUpdater();
        launch_state().updaterMode = false;
        ASSERT_TRUE(fake.WaitForExit());

        std::vector<Posted> ends = outcomes();
        ASSERT_EQ(ends.size(), 1u);
        EXPECT_EQ(ends[0].message, c.outcome);
        EXPECT_EQ(engine().Cancelled(), c.cancelled);

        // The step notices in order, ending with the package about to be
        // installed and the end of the installation step; copy progress
        // reports in between are left out.
        std::vector<std::string> steps;
        for (const std::string& line : fake.Log()) {
            if (line.rfind("Notice ", 0) != 0 || line.rfind("Notice kind=0x1 ", 0) == 0) continue;
            steps.push_back(line.substr(0, line.find(' ', 7)));
        }
        const std::vector<std::string> all = {
            "Notice kind=0x1001", "Notice kind=0x2001", "Notice kind=0x1002", "Notice kind=0x2002",
            "Notice kind=0x1001", "Notice kind=0x2001", "Notice kind=0x8",    "Notice kind=0x7"};
        if (c.cancelled) {
            // The fifth notice overall (copy progress included) was refused;
            // nothing was reported after it.
            ASSERT_LT(steps.size(), all.size());
            EXPECT_EQ(steps, std::vector<std::string>(all.begin(), all.begin() + steps.size()));
        } else {
            EXPECT_EQ(steps, all);
            EXPECT_EQ(ends[0].text, kNotAvailable);
        }
        TearDown();
    }
}

}  // namespace
