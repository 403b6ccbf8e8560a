// The built downloader, stamped for deployments this test serves over
// loopback HTTP, from a local folder and from a network share, watched from
// outside: the message boxes it shows, its exit code, the requests the
// server saw, the files it leaves in the prefix, and what the fake updater
// hears in updater mode.
//
// Every run costs seconds of Wine time, so all runs start together before
// the checks (each deployment has its own application name, so no run sees
// another as a running instance); the tests below read what each run left.
#include <windows.h>
#include <shlobj.h>
#include <wincrypt.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <functional>
#include <map>
#include <mutex>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "../ipc/fake_process.h"
#include "test_support.h"

using testing_support::bin_dir;
using testing_support::quote;
using testing_support::TempDir;

namespace {

constexpr char kId[] = "0123456789abcdef0123456789abcdef";
constexpr char kProductName[] = "QrE2E Product";
constexpr char kInstallNotAvailable[] =
    "Installing the package is not available in this version of the downloader. Task name: RunMSI.";

std::string narrow(const std::wstring& text) {
    if (text.empty()) return {};
    int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0,
                                   nullptr, nullptr);
    std::string out(static_cast<std::size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), size, nullptr,
                        nullptr);
    return out;
}

std::wstring widen(const std::string& text) {
    if (text.empty()) return {};
    int size = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring out(static_cast<std::size_t>(size), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), size);
    return out;
}

std::string lower(std::string text) {
    for (char& c : text)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return text;
}

bool starts_with(const std::string& text, const std::string& prefix) {
    return text.rfind(prefix, 0) == 0;
}

bool contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

std::wstring env(const wchar_t* name) {
    wchar_t value[2048] = {};
    DWORD n = GetEnvironmentVariableW(name, value, 2048);
    return n > 0 && n < 2048 ? std::wstring(value, n) : std::wstring();
}

// A Unix path the fixture scripts were given, seen through Z:.
std::wstring from_unix(std::wstring path) {
    for (wchar_t& c : path)
        if (c == L'/') c = L'\\';
    return L"Z:" + path;
}

std::string port() {
    return narrow(env(L"QR_HTTP_PORT"));
}
std::string port2() {
    return narrow(env(L"QR_HTTP_PORT2"));
}

// The served folder; \\<share server>\share is the same folder.
std::wstring serve_dir() {
    return from_unix(env(L"QR_SERVE_DIR")) + L"\\";
}

std::wstring local_app_data() {
    wchar_t path[MAX_PATH] = {};
    SHGetFolderPathW(nullptr, CSIDL_LOCAL_APPDATA, nullptr, SHGFP_TYPE_CURRENT, path);
    return path;
}

std::string md5_hex(const std::string& bytes) {
    HCRYPTPROV provider = 0;
    HCRYPTHASH hash = 0;
    std::string hex;
    if (CryptAcquireContextW(&provider, nullptr, nullptr, PROV_RSA_FULL, CRYPT_VERIFYCONTEXT)) {
        if (CryptCreateHash(provider, CALG_MD5, 0, 0, &hash)) {
            BYTE digest[16];
            DWORD size = sizeof digest;
            if (CryptHashData(hash, reinterpret_cast<const BYTE*>(bytes.data()),
                              static_cast<DWORD>(bytes.size()), 0) &&
                CryptGetHashParam(hash, HP_HASHVAL, digest, &size, 0)) {
                static const char kDigits[] = "0123456789abcdef";
                for (BYTE b : digest) {
                    hex += kDigits[b >> 4];
                    hex += kDigits[b & 15];
                }
            }
            CryptDestroyHash(hash);
        }
        CryptReleaseContext(provider, 0);
    }
    return hex;
}

// Bytes that differ from file to file.
std::string pattern(std::size_t size, unsigned seed) {
    std::string bytes(size, '\0');
    unsigned value = seed * 2654435761u + 1;
    for (char& c : bytes) {
        value = value * 1103515245u + 12345u;
        c = static_cast<char>(value >> 16);
    }
    return bytes;
}

bool make_folders(const std::wstring& path) {
    const int result = SHCreateDirectoryExW(nullptr, path.c_str(), nullptr);
    return result == ERROR_SUCCESS || result == ERROR_ALREADY_EXISTS || result == ERROR_FILE_EXISTS;
}

bool write_file(const std::wstring& path, const std::string& bytes) {
    const std::size_t slash = path.find_last_of(L'\\');
    if (slash != std::wstring::npos) make_folders(path.substr(0, slash));
    return testing_support::write_file(path, bytes);
}

// What went wrong while a case prepared itself (checks run on the main
// thread only).
thread_local std::string* t_problems = nullptr;
void problem(const std::string& text) {
    if (t_problems) *t_problems += text + "\n";
}

bool exists(const std::wstring& path) {
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// Every file below a folder, relative paths with "\" and their bytes.
void collect_files(const std::wstring& folder, const std::wstring& prefix,
                   std::map<std::string, std::string>& files) {
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((folder + L"\\*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return;
    do {
        const std::wstring name = found.cFileName;
        if (name == L"." || name == L"..") continue;
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
            collect_files(folder + L"\\" + name, prefix + name + L"\\", files);
        else
            files[narrow(prefix + name)] = testing_support::read_file(folder + L"\\" + name);
    } while (FindNextFileW(search, &found));
    FindClose(search);
}

std::map<std::string, std::string> files_below(const std::wstring& folder) {
    std::map<std::string, std::string> files;
    collect_files(folder, L"", files);
    return files;
}

// Folders in a folder whose names begin with prefix (any letter case).
std::vector<std::wstring> folders_starting(const std::wstring& folder, const std::wstring& prefix) {
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((folder + L"\\" + prefix + L"*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return names;
    do {
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) names.push_back(found.cFileName);
    } while (FindNextFileW(search, &found));
    FindClose(search);
    return names;
}

// ---- deployments ----------------------------------------------------------

// One file of a deployment: its listed name, the bytes served, and extra
// attributes of its <file> element.
struct Listed {
    std::string name;
    std::string bytes;
    std::string attributes;
    bool wrongHash = false;
    bool served = true;  // false: listed only (the server answers 404)
};

std::string xml_escape(const std::string& text) {
    std::string out;
    for (char c : text) {
        if (c == '&')
            out += "&amp;";
        else if (c == '<')
            out += "&lt;";
        else
            out += c;
    }
    return out;
}

// The <file> elements of a list; writes each served file below folder.
std::string file_elements(const std::wstring& folder, const std::vector<Listed>& files) {
    std::string elements;
    for (const Listed& file : files) {
        if (file.served) {
            std::wstring path = folder + widen(file.name);
            for (wchar_t& c : path)
                if (c == L'/') c = L'\\';
            if (!write_file(path, file.bytes)) problem("cannot write " + file.name);
        }
        const std::string hash = file.wrongHash ? md5_hex(file.bytes + "x") : md5_hex(file.bytes);
        elements += "<file size=\"" + std::to_string(file.bytes.size()) + "\" hash=\"" + hash + "\"" +
                    (file.attributes.empty() ? "" : " " + file.attributes) + ">" + xml_escape(file.name) +
                    "</file>";
    }
    return elements;
}

// A description with one product (1033) and one version (1.0.0).
std::string one_version(const std::string& fileElements, const std::string& versionAttributes = "") {
    return "\xEF\xBB\xBF<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<application>\n"
           "  <product language=\"1033\">\n    <version name=\"1.0.0\" component=\"{6F1C2A3B-4D5E-4F60-8A7B-"
           "9C0D1E2F3A4B}\"" +
           (versionAttributes.empty() ? "" : " " + versionAttributes) +
           ">\n      <files msi=\"Package.msi\">" + fileElements +
           "</files>\n    </version>\n  </product>\n</application>\n";
}

// Writes a deployment folder: version_info.xml and the files of 1033\1.0.0.
std::string write_deployment(const std::wstring& folder, const std::vector<Listed>& files,
                             const std::string& versionAttributes = "") {
    const std::string xml = one_version(file_elements(folder + L"1033\\1.0.0\\", files), versionAttributes);
    if (!write_file(folder + L"version_info.xml", xml)) problem("cannot write version_info.xml");
    return xml;
}

// The sample-like deployment most runs use: a file in a subfolder, a
// ".deploy" file and an updater file.
std::vector<Listed> basic_files() {
    return {
        {"readme.txt", "Read me first.\r\n", ""},
        {"bin\\data.bin", pattern(200000, 1), ""},
        {"settings.config.deploy", "<settings mode=\"deployed\"/>\r\n", ""},
        {"updater\\updater.config", "interval=3600\r\n", "updater=\"true\""},
    };
}

// ---- running the downloader -------------------------------------------------

struct RunResult {
    bool started = false;
    bool timedOut = false;
    DWORD exitCode = 0;
    std::vector<std::string> boxes;  // the texts of each box it showed (answered with OK)
    DWORD milliseconds = 0;
};

struct ProgressSearch {
    DWORD processId;
    HWND found;
};

BOOL CALLBACK find_progress_window(HWND window, LPARAM param) {
    auto* search = reinterpret_cast<ProgressSearch*>(param);
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    wchar_t name[64] = {};
    GetClassNameW(window, name, 64);
    if (pid == search->processId && std::wstring(name) == L"#32770" &&
        FindWindowExW(window, nullptr, L"msctls_progress32", nullptr)) {
        search->found = window;
        return FALSE;
    }
    return TRUE;
}

// The progress window of a process (shown or not): the dialog with a bar.
HWND progress_window_of(DWORD processId) {
    ProgressSearch search{processId, nullptr};
    EnumWindows(find_progress_window, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

// Runs a command line to its end, answering every box with OK. `watch` is
// called about every 100 ms with the process id while the run lasts.
RunResult run_downloader(const std::wstring& command, const std::function<void(DWORD)>& watch = {}) {
    RunResult run;
    std::wstring line = command;
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (!CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                        &process))
        return run;
    CloseHandle(process.hThread);
    run.started = true;
    const DWORD start = GetTickCount();
    std::set<HWND> answered;
    while (WaitForSingleObject(process.hProcess, 100) != WAIT_OBJECT_0) {
        if (watch) watch(process.dwProcessId);
        for (HWND dialog : testing_support::visible_dialogs(process.dwProcessId)) {
            if (answered.count(dialog) || FindWindowExW(dialog, nullptr, L"msctls_progress32", nullptr))
                continue;
            Sleep(300);  // let the box fill its controls
            std::string text = narrow(testing_support::child_texts(dialog));
            for (char& c : text)
                if (c == '\n') c = ' ';
            run.boxes.push_back(text);
            PostMessageW(dialog, WM_COMMAND, IDOK, 0);
            answered.insert(dialog);
        }
        if (GetTickCount() - start > 100000) {
            run.timedOut = true;
            TerminateProcess(process.hProcess, 0xDEAD);
            WaitForSingleObject(process.hProcess, 5000);
            break;
        }
    }
    run.milliseconds = GetTickCount() - start;
    GetExitCodeProcess(process.hProcess, &run.exitCode);
    CloseHandle(process.hProcess);
    return run;
}

std::wstring request_log_path() {
    return from_unix(env(L"QR_REQUEST_LOG"));
}

// The server's requests below /files/<folder>/, as "<port> <path> <status>"
// with the path after that prefix, in order.
std::vector<std::string> requests_for(const std::string& folder) {
    std::vector<std::string> found;
    std::istringstream in(testing_support::read_file(request_log_path()));
    const std::string prefix = "/files/" + folder + "/";
    for (std::string line; std::getline(in, line);) {
        std::istringstream fields(line);
        std::string portText, method, path, status;
        fields >> portText >> method >> path >> status;
        if (!starts_with(path, prefix)) continue;
        found.push_back((portText == port()    ? "1 "
                         : portText == port2() ? "2 "
                                               : portText + " ") +
                        path.substr(prefix.size()) + " " + status);
    }
    return found;
}

std::vector<std::string> notice_lines(const std::vector<std::string>& log) {
    std::vector<std::string> notices;
    for (const std::string& line : log)
        if (starts_with(line, "Notice ")) notices.push_back(line);
    return notices;
}

// One deployment case: its folder on the server and its own stamped copy.
class Deployment {
public:
    explicit Deployment(std::string name) : name_(std::move(name)) {}

    const std::string& name() const { return name_; }
    std::string application() const { return "QrE2E" + name_; }
    std::wstring folder() const { return serve_dir() + widen(name_) + L"\\"; }
    std::string http_url(const std::string& ofPort) const {
        return "http://127.0.0.1:" + ofPort + "/files/" + name_ + "/";
    }
    std::string http_url() const { return http_url(port()); }
    std::string local_url() const { return narrow(folder()); }
    std::string share_url() const {
        return "\\\\" + narrow(env(L"QR_SHARE_SERVER")) + "\\share\\" + name_ + "\\";
    }
    std::wstring cache_prefix() const { return widen(application()) + L"_"; }
    std::wstring application_folder() const { return local_app_data() + L"\\" + widen(lower(application())); }
    std::wstring updater_folder() const { return application_folder() + L"\\" + widen(kId) + L"\\1.0.0"; }

    // Stamps the copy; `overrides` adds to or replaces the common settings.
    bool stamp(const std::wstring& exe, const std::string& installationUrl,
               const std::map<std::string, std::string>& overrides = {}) const {
        std::map<std::string, std::string> values = {
            {"productName", kProductName},
            {"windowTitle", "QrE2E " + name_},
            {"application", application()},
            {"language", "1033"},
            {"version", "1.0.0"},
            {"privileges", "user"},
            {"productCode", "{0A1B2C3D-4E5F-4A6B-8C7D-9E0F1A2B3C4D}"},
            {"componentCodes", "{6F1C2A3B-4D5E-4F60-8A7B-9C0D1E2F3A4B}"},
            {"id", kId},
            {"progressText", "Downloading..."},
            {"installationUrl", installationUrl},
        };
        for (const auto& [key, value] : overrides) values[key] = value;
        std::string text;
        for (const auto& [key, value] : values) text += key + "=" + value + "\n";
        const std::wstring settingsFile = exe + L".ini";
        if (!testing_support::write_file(settingsFile, text)) return false;
        auto result = testing_support::run_process(quote(bin_dir() + L"qrstamp.exe") + L" " +
                                                   quote(bin_dir() + L"QuillrunDownloader.exe") + L" " +
                                                   quote(exe) + L" --settings " + quote(settingsFile));
        if (result.exit_code != 0) problem("qrstamp: " + result.output);
        return result.exit_code == 0;
    }

private:
    std::string name_;
};

// What a case left for the checks.
struct Observed {
    std::vector<RunResult> runs;
    std::vector<std::vector<std::string>> requests;  // per run, of the case's folder
    std::vector<std::string> updaterLog;
    std::map<std::string, std::string> snapshotCache;    // the cache folder during the run
    std::map<std::string, std::string> snapshotUpdater;  // the updater folder during the run
    std::map<std::string, bool> leftBehind;              // named paths: still there after the run
    std::string note;                                    // a failure while preparing
    std::string servedXml;
};

std::mutex g_mutex;
std::map<std::string, Observed>& observed() {
    static std::map<std::string, Observed> cases;
    return cases;
}

const Observed& result_of(const std::string& name) {
    return observed()[name];
}

TempDir* g_work = nullptr;

std::wstring exe_for(const Deployment& deployment) {
    return *g_work / (L"qre2e-" + widen(deployment.name()) + L".exe");
}

std::wstring updater_arguments(const std::wstring& pipeName) {
    return L" /updaterpath=" + quote(bin_dir() + L"fakeupdater.exe") + L" /pipename=" + pipeName +
           L" /productdir=C:\\qrproduct";
}

// A run in the ordinary mode; records the run and the new requests.
void run_plain(const Deployment& deployment, Observed& out, const std::wstring& arguments = L"",
               const std::function<void(DWORD)>& watch = {}) {
    const std::size_t before = requests_for(deployment.name()).size();
    out.runs.push_back(run_downloader(quote(exe_for(deployment)) + arguments, watch));
    std::vector<std::string> all = requests_for(deployment.name());
    out.requests.emplace_back(all.begin() + static_cast<std::ptrdiff_t>(std::min(before, all.size())),
                              all.end());
}

// A run in updater mode against the fake updater with its options.
void run_updater(const Deployment& deployment, Observed& out, const std::wstring& fakeOptions,
                 const std::function<void(DWORD, const FakeUpdater&)>& watch = {}) {
    const std::wstring pipe = L"qre2e-" + widen(deployment.name()) + L"-" + std::to_wstring(GetTickCount());
    FakeUpdater fake(pipe, fakeOptions);
    if (!fake.WaitUntilListening()) {
        out.note = "the fake updater did not start";
        return;
    }
    std::function<void(DWORD)> hook;
    if (watch) hook = [&](DWORD pid) { watch(pid, fake); };
    run_plain(deployment, out, updater_arguments(pipe), hook);
    fake.WaitForExit(5000);
    out.updaterLog = fake.Log();
}

// Posts WM_CLOSE to the progress window once; the user closing it.
struct Closer {
    bool done = false;
    void operator()(DWORD pid) {
        if (done) return;
        if (HWND window = progress_window_of(pid)) {
            PostMessageW(window, WM_CLOSE, 0, 0);
            done = true;
        }
    }
};

// ---- the cases --------------------------------------------------------------

using Job = std::function<void(Observed&)>;

struct DriveSnapshot {
    std::map<std::wstring, std::pair<ULONGLONG, ULONGLONG>> entries;  // path: size, write time
};

// Everything on C: outside the Windows folder, the temporary folder (the
// test's own files live there) and the system's internet folders (the HTTP
// layer of Windows keeps its cookie and cache files there for any program).
void walk_drive(const std::wstring& folder, const std::vector<std::wstring>& skip, DriveSnapshot& snapshot) {
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((folder + L"\\*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return;
    do {
        const std::wstring name = found.cFileName;
        if (name == L"." || name == L"..") continue;
        const std::wstring path = folder + L"\\" + name;
        if (std::any_of(skip.begin(), skip.end(),
                        [&path](const std::wstring& s) { return _wcsicmp(path.c_str(), s.c_str()) == 0; }))
            continue;
        const bool isFolder = (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
        ULONGLONG size = (static_cast<ULONGLONG>(found.nFileSizeHigh) << 32) | found.nFileSizeLow;
        ULONGLONG time = (static_cast<ULONGLONG>(found.ftLastWriteTime.dwHighDateTime) << 32) |
                         found.ftLastWriteTime.dwLowDateTime;
        snapshot.entries[path] = isFolder ? std::make_pair(~0ull, 0ull) : std::make_pair(size, time);
        if (isFolder && (found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0)
            walk_drive(path, skip, snapshot);
    } while (FindNextFileW(search, &found));
    FindClose(search);
}

DriveSnapshot drive_snapshot() {
    wchar_t temp[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, temp);
    std::wstring tempFolder = temp;
    if (!tempFolder.empty() && tempFolder.back() == L'\\') tempFolder.pop_back();
    const std::wstring internet = local_app_data() + L"\\Microsoft\\Windows\\";
    const std::vector<std::wstring> skip = {L"C:\\windows", tempFolder, internet + L"INetCookies",
                                            internet + L"INetCache", internet + L"History"};
    DriveSnapshot snapshot;
    walk_drive(L"C:", skip, snapshot);
    return snapshot;
}

DriveSnapshot g_driveBefore;
DriveSnapshot g_driveAfter;

// The escaping names and where each would land if it were written.
struct Escape {
    const char* name;
    const char* listed;
    const char* attributes;
    std::wstring (*target)(const Deployment&);
};

const Escape kEscapes[] = {
    {"EscapeParent", "..\\..\\qre2e-escaped.txt", "",
     [](const Deployment&) { return local_app_data() + L"\\..\\qre2e-escaped.txt"; }},
    {"EscapeDrive", "C:\\qre2e-escaped.txt", "",
     [](const Deployment&) { return std::wstring(L"C:\\qre2e-escaped.txt"); }},
    {"EscapeShare", "\\\\SHARE\\share\\qre2e-escaped.txt", "",
     [](const Deployment&) { return serve_dir() + L"qre2e-escaped.txt"; }},
    {"EscapeUpdater", "updater\\..\\..\\..\\qre2e-escaped-updater.txt", "updater=\"true\"",
     [](const Deployment&) { return local_app_data() + L"\\qre2e-escaped-updater.txt"; }},
};

std::string with_share_server(std::string name) {
    const std::size_t at = name.find("SHARE");
    if (at != std::string::npos) name.replace(at, 5, narrow(env(L"QR_SHARE_SERVER")));
    return name;
}

// Every case: prepares its deployment, stamps its copy and runs it.
std::vector<std::pair<std::string, Job>> all_jobs() {
    std::vector<std::pair<std::string, Job>> jobs;
    auto add = [&](const std::string& name, Job job) { jobs.emplace_back(name, std::move(job)); };

    // The same deployment over HTTP, from a local folder and from a share.
    struct Source {
        const char* name;
        std::string (Deployment::*url)() const;
    };
    const Source sources[] = {{"HttpRun", &Deployment::http_url},
                              {"LocalRun", &Deployment::local_url},
                              {"ShareRun", &Deployment::share_url}};
    for (const Source& source : sources) {
        add(source.name, [source](Observed& out) {
            Deployment d(source.name);
            out.servedXml = write_deployment(d.folder(), basic_files());
            // Left by earlier runs: a cache folder goes, a file of that name stays.
            const std::wstring oldCache = local_app_data() + L"\\" + d.cache_prefix() + L"old";
            const std::wstring notes = local_app_data() + L"\\" + d.cache_prefix() + L"notes.txt";
            write_file(oldCache + L"\\version_info.xml", "old");
            write_file(notes, "notes");
            if (!d.stamp(exe_for(d), (d.*source.url)())) return;
            run_plain(d, out);
            out.leftBehind["old cache"] = exists(oldCache);
            out.leftBehind["notes"] = exists(notes);
            out.leftBehind["cache"] = !folders_starting(local_app_data(), d.cache_prefix()).empty();
            out.leftBehind["application folder"] = exists(d.application_folder());
            DeleteFileW(notes.c_str());
        });
    }

    // Updater mode over HTTP with a look into the folders while it installs,
    // then an ordinary run that resumes in a copy of that cache with one file
    // changed.
    add("UpdaterHttp", [](Observed& out) {
        Deployment d("UpdaterHttp");
        out.servedXml = write_deployment(d.folder(), basic_files());
        if (!d.stamp(exe_for(d), d.http_url())) return;
        const std::wstring snapshot = *g_work / L"snapshot-UpdaterHttp";
        run_updater(d, out,
                    L"/snapshot=" + quote(snapshot) + L" /snapshot-kind=0x8 /snapshot-also=" +
                        quote(d.updater_folder()));
        out.snapshotCache = files_below(snapshot + L"\\cache");
        out.snapshotUpdater = files_below(snapshot + L"\\also");
        out.leftBehind["cache"] = !folders_starting(local_app_data(), d.cache_prefix()).empty();
        out.leftBehind["updater folder"] = exists(d.updater_folder());
        out.leftBehind["application folder"] = exists(d.application_folder());

        // The resumed run keeps old cache folders and fetches only what differs.
        const std::wstring resume = *g_work / L"resume-UpdaterHttp";
        for (const auto& [name, bytes] : out.snapshotCache) write_file(resume + L"\\" + widen(name), bytes);
        write_file(resume + L"\\bin\\data.bin", "changed since the first run");
        const std::wstring oldCache = local_app_data() + L"\\" + d.cache_prefix() + L"old";
        write_file(oldCache + L"\\version_info.xml", "old");
        run_plain(d, out, L" /afterreboot=" + quote(resume));
        out.leftBehind["resume old cache"] = exists(oldCache);
        out.leftBehind["resume cache"] = exists(resume);
        testing_support::remove_tree(oldCache);
    });

    // Failures that end a run, each with its own deployment.
    add("WrongHash", [](Observed& out) {
        Deployment d("WrongHash");
        write_deployment(d.folder(), {{"a.txt", "first", ""}, {"bad.cfg.deploy", "corrupted", "", true}});
        if (d.stamp(exe_for(d), d.http_url())) run_plain(d, out);
    });
    add("WrongHashLocal", [](Observed& out) {
        Deployment d("WrongHashLocal");
        write_deployment(d.folder(), {{"a.txt", "first", ""}, {"bad.cfg.deploy", "corrupted", "", true}});
        if (d.stamp(exe_for(d), d.local_url())) run_plain(d, out);
    });
    add("NotFound", [](Observed& out) {
        Deployment d("NotFound");
        write_deployment(d.folder(),
                         {{"a.txt", "first", ""}, {"missing.txt", "never served", "", false, false}});
        if (d.stamp(exe_for(d), d.http_url())) run_plain(d, out);
    });
    // The first address lacks a file; the alternative address (the second
    // port) has it. The run after the failure keeps the cache.
    add("FailOver", [](Observed& out) {
        Deployment d("FailOver");
        const std::vector<Listed> files = {
            {"a.txt", "first", ""}, {"b.bin", pattern(50000, 2), ""}, {"c.txt", "third", ""}};
        std::vector<Listed> partial = files;
        partial[2].served = false;
        write_deployment(d.folder(), partial);
        write_deployment(d.folder() + L"alt\\", files);
        if (d.stamp(exe_for(d), d.http_url(), {{"additionalInstallationUrls", d.http_url(port2()) + "alt/"}}))
            run_plain(d, out);
    });
    add("CutOff", [](Observed& out) {
        Deployment d("CutOff");
        write_deployment(d.folder(), {{"a.txt", "first", ""}, {"cut.bin", pattern(30000, 3), ""}});
        write_file(d.folder() + L"1033\\1.0.0\\cut.bin.cut", "1000");
        if (d.stamp(exe_for(d), d.http_url())) run_plain(d, out);
    });
    add("NoServer", [](Observed& out) {
        Deployment d("NoServer");
        if (d.stamp(exe_for(d), "http://127.0.0.1:1/files/NoServer/")) run_plain(d, out);
    });
    add("BadXml", [](Observed& out) {
        Deployment d("BadXml");
        write_file(d.folder() + L"version_info.xml", "<application><product language=\"1033\"><version");
        if (d.stamp(exe_for(d), d.http_url())) run_plain(d, out);
    });
    for (const Escape& escape : kEscapes) {
        add(escape.name, [&escape](Observed& out) {
            Deployment d(escape.name);
            write_deployment(
                d.folder(), {{"a.txt", "first", ""},
                             {with_share_server(escape.listed), "escaped", escape.attributes, false, false}});
            if (d.stamp(exe_for(d), d.http_url())) run_plain(d, out);
            out.leftBehind["target"] = exists(escape.target(d));
            out.leftBehind["cache"] = !folders_starting(local_app_data(), d.cache_prefix()).empty();
        });
    }

    // Language and version selection.
    add("NoProduct", [](Observed& out) {
        Deployment d("NoProduct");
        // Only an older version (it has a product code): no files apply.
        write_deployment(d.folder(), {{"a.txt", "first", ""}},
                         "productCode=\"{11111111-2222-3333-4444-555555555555}\"");
        if (d.stamp(exe_for(d), d.http_url(), {{"version", "2.0.0"}})) run_plain(d, out);
    });
    add("NoLanguage", [](Observed& out) {
        Deployment d("NoLanguage");
        write_deployment(d.folder(), {{"a.txt", "first", ""}});
        if (d.stamp(exe_for(d), d.http_url(), {{"language", "1036"}})) run_plain(d, out);
    });
    add("Selection", [](Observed& out) {
        Deployment d("Selection");
        const std::wstring f = d.folder();
        auto version = [&](const char* language, const char* name, const char* file) {
            const std::wstring folder = f + widen(language) + L"\\" + widen(name) + L"\\";
            return std::string("<version name=\"") + name + "\"><files msi=\"Package.msi\">" +
                   file_elements(folder, {{file, std::string("content of ") + file, ""}}) +
                   "</files></version>";
        };
        const std::string xml =
            "<?xml version=\"1.0\"?><application>"
            "<product language=\"1036\">" +
            version("1036", "1.0.0", "french.txt") + "</product><product language=\"1033\">" +
            version("1033", "0.9.0", "older.txt") + version("1033", "1.0.0", "right.txt") +
            version("1033", "1.1.0", "newer.txt") + "</product></application>";
        write_file(f + L"version_info.xml", xml);
        if (d.stamp(exe_for(d), d.http_url())) run_plain(d, out);
    });
    add("Prerequisites", [](Observed& out) {
        Deployment d("Prerequisites");
        write_deployment(
            d.folder(),
            {{"prereq\\en\\setup.exe", "english setup", "prerequisite=\"true\" language=\"1033\""},
             {"prereq\\fr\\setup.exe", "french setup", "prerequisite=\"true\" language=\"1036\""},
             {"prereq\\common.txt", "no language", "prerequisite=\"true\""},
             {"main.txt", "package file", ""}},
            "updateType=\"bootstrapper\"");
        if (d.stamp(exe_for(d), d.http_url())) run_plain(d, out);
    });

    // Cancels: the user closes the window during a slow download, and
    // during a local copy (the updater's slow answers keep it going).
    add("CancelDownload", [](Observed& out) {
        Deployment d("CancelDownload");
        write_deployment(d.folder(), {{"a.txt", "first", ""}, {"slow.bin", pattern(400000, 4), ""}});
        write_file(d.folder() + L"1033\\1.0.0\\slow.bin.pace", "4000 100");
        if (!d.stamp(exe_for(d), d.http_url())) return;
        Closer closer;
        run_plain(d, out, L"", [&](DWORD pid) {
            for (const std::string& request : requests_for(d.name()))
                if (contains(request, "slow.bin")) closer(pid);
        });
        out.leftBehind["cache"] = !folders_starting(local_app_data(), d.cache_prefix()).empty();
    });
    add("CancelCopy", [](Observed& out) {
        Deployment d("CancelCopy");
        write_deployment(d.folder(), {{"a.txt", "first", ""}, {"big.bin", pattern(4 << 20, 5), ""}});
        if (!d.stamp(exe_for(d), d.local_url())) return;
        Closer closer;
        run_updater(d, out, L"/delay=100", [&](DWORD pid, const FakeUpdater& fake) {
            bool copying = false;
            for (const std::string& line : fake.Log()) {
                if (starts_with(line, "Notice kind=0x1001 ") && contains(line, "big.bin")) copying = true;
                if (copying && starts_with(line, "Notice kind=0x1 ")) closer(pid);
            }
        });
        out.leftBehind["cache"] = !folders_starting(local_app_data(), d.cache_prefix()).empty();
    });

    // Updater mode: a refused notice stops the run where it is.
    struct Refusal {
        const char* name;
        const wchar_t* options;
    };
    static const Refusal refusals[] = {
        {"RefuseDownloadStart", L"/refuse-notice-kind=0x1000 /refuse-notice-text=b.txt"},
        {"RefuseData", L"/refuse-notice-kind=0 /refuse-notice-text="},
    };
    for (const Refusal& refusal : refusals) {
        add(refusal.name, [&refusal](Observed& out) {
            Deployment d(refusal.name);
            write_deployment(d.folder(), {{"a.txt", "first", ""}, {"b.txt", "second", ""}});
            if (d.stamp(exe_for(d), d.http_url())) run_updater(d, out, refusal.options);
        });
    }
    return jobs;
}

// Starts every case, a few at a time, and waits for all.
class Runs : public testing::Environment {
public:
    void SetUp() override {
        g_work = new TempDir(L"qre2e");
        testing_support::write_file(request_log_path(), "");
        g_driveBefore = drive_snapshot();
        std::vector<std::pair<std::string, Job>> jobs = all_jobs();
        for (const auto& job : jobs) {
            testing_support::remove_tree(serve_dir() + widen(job.first) + L"\\");
            observed()[job.first];
        }
        std::atomic<std::size_t> next{0};
        std::vector<std::thread> workers;
        for (int i = 0; i < 6; ++i)
            workers.emplace_back([&] {
                for (std::size_t at; (at = next++) < jobs.size();) {
                    Observed result;
                    t_problems = &result.note;
                    jobs[at].second(result);
                    t_problems = nullptr;
                    std::lock_guard<std::mutex> lock(g_mutex);
                    observed()[jobs[at].first] = std::move(result);
                }
            });
        for (std::thread& worker : workers) worker.join();
        g_driveAfter = drive_snapshot();
    }
    void TearDown() override {
        delete g_work;
        g_work = nullptr;
    }
};

[[maybe_unused]] const testing::Environment* const g_runs = testing::AddGlobalTestEnvironment(new Runs);

std::string joined(const std::vector<std::string>& lines) {
    std::string text;
    for (const std::string& line : lines) text += "\n  " + line;
    return text;
}

// One run that ended by itself with exit code 0 and exactly these boxes.
void expect_run(const Observed& o, std::size_t index, const std::vector<std::string>& boxes) {
    ASSERT_TRUE(o.note.empty()) << o.note;
    ASSERT_GT(o.runs.size(), index);
    const RunResult& run = o.runs[index];
    ASSERT_TRUE(run.started);
    EXPECT_FALSE(run.timedOut);
    EXPECT_EQ(run.exitCode, 0u);
    ASSERT_EQ(run.boxes.size(), boxes.size()) << joined(run.boxes) << "\nupdater:" << joined(o.updaterLog);
    for (std::size_t i = 0; i < boxes.size(); ++i)
        EXPECT_TRUE(contains(run.boxes[i], boxes[i]))
            << "box: " << run.boxes[i] << "\nexpected: " << boxes[i];
}

const std::string k1033 = "1033/1.0.0/";

// ---- checks -------------------------------------------------------------------

// Over HTTP every file is fetched once, in the listed order, and the run
// stops at the installation step; from a folder or a share the server is
// never asked. All three replace an old cache folder and leave nothing.
TEST(RunExe, SameDeploymentOverHttpFromAFolderAndFromAShare) {
    for (const char* name : {"HttpRun", "LocalRun", "ShareRun"}) {
        SCOPED_TRACE(name);
        const Observed& o = result_of(name);
        expect_run(o, 0, {kInstallNotAvailable});
        if (std::string(name) == "HttpRun") {
            EXPECT_EQ(o.requests[0],
                      (std::vector<std::string>{"1 version_info.xml 200", "1 " + k1033 + "readme.txt 200",
                                                "1 " + k1033 + "bin/data.bin 200",
                                                "1 " + k1033 + "settings.config.deploy 200",
                                                "1 " + k1033 + "updater/updater.config 200"}));
        } else {
            EXPECT_TRUE(o.requests[0].empty()) << joined(o.requests[0]);
        }
        EXPECT_FALSE(o.leftBehind.at("old cache")) << "a fresh run removes old cache folders";
        EXPECT_TRUE(o.leftBehind.at("notes")) << "a file named like a cache folder stays";
        EXPECT_FALSE(o.leftBehind.at("cache")) << "the exit clean-up removes the cache folder";
        EXPECT_FALSE(o.leftBehind.at("application folder"));
    }
}

// While the updater is told the package is about to be installed, the cache
// holds every file under its final name (".deploy" dropped), the updater
// file sits in the updater folder only; both folders are gone afterwards.
TEST(RunExe, FilesArePlacedInTheCacheAndTheUpdaterFolder) {
    const Observed& o = result_of("UpdaterHttp");
    expect_run(o, 0, {kInstallNotAvailable});
    std::map<std::string, std::string> expected = {
        {"version_info.xml", o.servedXml},
        {"readme.txt", "Read me first.\r\n"},
        {"bin\\data.bin", pattern(200000, 1)},
        {"settings.config", "<settings mode=\"deployed\"/>\r\n"},
    };
    EXPECT_EQ(o.snapshotCache.size(), expected.size());
    for (const auto& [name, bytes] : expected) {
        auto it = o.snapshotCache.find(name);
        ASSERT_NE(it, o.snapshotCache.end()) << name;
        EXPECT_TRUE(it->second == bytes) << name;
    }
    EXPECT_EQ(o.snapshotUpdater,
              (std::map<std::string, std::string>{{"updater.config", "interval=3600\r\n"}}));
    EXPECT_FALSE(o.leftBehind.at("cache"));
    EXPECT_FALSE(o.leftBehind.at("updater folder")) << "kept only after a completed installation";
    EXPECT_FALSE(o.leftBehind.at("application folder"));
}

// A run resumed in that cache asks only for the description, the file whose
// digest no longer matches and the updater file (a run starts with an empty
// updater folder), and removes no other cache folder.
TEST(RunExe, ResumedRunSkipsFilesWhoseDigestMatches) {
    const Observed& o = result_of("UpdaterHttp");
    expect_run(o, 1, {kInstallNotAvailable});
    EXPECT_EQ(o.requests[1],
              (std::vector<std::string>{"1 version_info.xml 200", "1 " + k1033 + "bin/data.bin 200",
                                        "1 " + k1033 + "updater/updater.config 200"}));
    EXPECT_TRUE(o.leftBehind.at("resume old cache"));
    EXPECT_FALSE(o.leftBehind.at("resume cache")) << "the exit clean-up removes the cache it used";
}

// In updater mode over HTTP the updater hears every step in order, with
// byte and step counters that add up.
TEST(RunExe, UpdaterHearsEveryStepWithItsCounters) {
    const Observed& o = result_of("UpdaterHttp");
    ASSERT_FALSE(o.updaterLog.empty());
    EXPECT_TRUE(starts_with(o.updaterLog.front(), "Connect "));
    const std::vector<std::string> notices = notice_lines(o.updaterLog);
    ASSERT_FALSE(notices.empty());
    const std::string prefix = "Notice kind=0x2002 text=";
    std::string cache;
    for (const std::string& line : notices)
        if (starts_with(line, prefix))
            cache = line.substr(prefix.size(), line.find("\\version_info.xml") - prefix.size());
    ASSERT_TRUE(starts_with(cache, narrow(local_app_data()) + "\\QrE2EUpdaterHttp_")) << cache;
    const std::string updater = narrow(Deployment("UpdaterHttp").updater_folder());

    const std::uint64_t xml = o.servedXml.size();
    std::vector<std::uint64_t> sizes;
    std::uint64_t sum = 0;
    for (const Listed& file : basic_files()) {
        sizes.push_back(file.bytes.size());
        sum += file.bytes.size();
    }
    const std::string t = std::to_string(xml + sum);
    // The steps, without the data-arrival notices (kind 0x0), which are
    // checked below.
    std::vector<std::string> expected = {
        "Notice kind=0x1000 text=version_info.xml total=0 done=0 steps=5 completed=1 prerequisite=0",
        "Notice kind=0x2000 text=" + cache + "\\version_info.xml total=0 done=" + std::to_string(xml) +
            " steps=5 completed=1 prerequisite=0",
        "Notice kind=0x1002 text=" + cache +
            "\\version_info.xml total=0 done=0 steps=5 completed=2 prerequisite=0",
        "Notice kind=0x2002 text=" + cache + "\\version_info.xml total=" + t +
            " done=" + std::to_string(xml) + " steps=9 completed=3 prerequisite=0",
    };
    const char* listed[] = {"readme.txt", "bin\\data.bin", "settings.config.deploy",
                            "updater\\updater.config"};
    const std::string placed[] = {cache + "\\readme.txt", cache + "\\bin\\data.bin",
                                  cache + "\\settings.config", updater + "\\updater.config"};
    const std::string local[] = {cache + "\\readme.txt", cache + "\\bin\\data.bin",
                                 cache + "\\settings.config.deploy", updater + "\\updater.config"};
    std::uint64_t done = xml;
    for (int i = 0; i < 4; ++i) {
        SCOPED_TRACE(listed[i]);
        const std::string completed = std::to_string(4 + i);
        expected.push_back("Notice kind=0x1000 text=" + local[i] + " total=" + t + " done=" +
                           std::to_string(done) + " steps=9 completed=" + completed + " prerequisite=0");
        done += sizes[static_cast<std::size_t>(i)];
        expected.push_back("Notice kind=0x2000 text=" + placed[i] + " total=" + t + " done=" +
                           std::to_string(done) + " steps=9 completed=" + completed + " prerequisite=0");
    }
    expected.push_back("Notice kind=0x8 text=" + cache + "\\Package.msi total=" + t + " done=" + t +
                       " steps=9 completed=8 prerequisite=0");
    std::vector<std::string> steps;
    for (const std::string& line : notices)
        if (!starts_with(line, "Notice kind=0x0 ")) steps.push_back(line);
    ASSERT_GE(steps.size(), expected.size()) << joined(steps);
    for (std::size_t i = 0; i < expected.size(); ++i) EXPECT_EQ(steps[i], expected[i]);
    // The installation step then reports its end.
    ASSERT_EQ(steps.size(), expected.size() + 1) << joined(steps);
    EXPECT_TRUE(starts_with(steps.back(), "Notice kind=0x7 ")) << steps.back();

    // Data arrives only while a transfer runs; its counter grows to the
    // file's end and the totals stay those of the step.
    std::string lastStep;
    std::uint64_t lastDone = 0;
    int data = 0;
    for (const std::string& line : notices) {
        auto field = [&](const std::string& name) {
            const std::size_t at = line.find(" " + name + "=") + name.size() + 2;
            return line.substr(at, line.find(' ', at) - at);
        };
        if (!starts_with(line, "Notice kind=0x0 ")) {
            if (starts_with(line, "Notice kind=0x2000 ")) {
                EXPECT_EQ(std::stoull(field("done")), lastDone) << line;
            }
            lastStep = line;
            lastDone = std::stoull(field("done"));
            continue;
        }
        ++data;
        SCOPED_TRACE(line);
        EXPECT_TRUE(starts_with(lastStep, "Notice kind=0x1000 ")) << "after: " << lastStep;
        EXPECT_EQ(field("text"), "");
        EXPECT_GT(std::stoull(field("done")), lastDone);
        lastDone = std::stoull(field("done"));
        EXPECT_EQ(field("steps"), lastStep.find("steps=9") != std::string::npos ? "9" : "5");
    }
    EXPECT_GE(data, 5) << "at least one data notice per transfer";

    // Then the failure, the goodbye, and nothing more.
    std::vector<std::string> tail(o.updaterLog.end() - 2, o.updaterLog.end());
    EXPECT_EQ(tail[0], std::string("ErrorReport message=") + kInstallNotAvailable + " code=0");
    EXPECT_TRUE(starts_with(tail[1], "Disconnect ")) << tail[1];
}

// A refused notice stops the run at that step: nothing more is fetched or
// reported, no box appears, and the updater hears the cancellation.
TEST(RunExe, RefusedNoticeStopsTheRun) {
    struct Case {
        const char* name;
        std::vector<std::string> requests;
        const char* lastNotice;
    };
    const Case cases[] = {
        {"RefuseDownloadStart",
         {"1 version_info.xml 200", "1 " + k1033 + "a.txt 200"},
         "Notice kind=0x1000 "},
        {"RefuseData", {"1 version_info.xml 200"}, "Notice kind=0x0 "},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const Observed& o = result_of(c.name);
        expect_run(o, 0, {});
        EXPECT_EQ(o.requests[0], c.requests);
        const std::vector<std::string> notices = notice_lines(o.updaterLog);
        ASSERT_FALSE(notices.empty());
        EXPECT_TRUE(starts_with(notices.back(), c.lastNotice)) << joined(o.updaterLog);
        if (std::string(c.name) == "RefuseDownloadStart") {
            EXPECT_TRUE(contains(notices.back(), "\\b.txt "));
        }
        ASSERT_GE(o.updaterLog.size(), 2u);
        EXPECT_EQ(o.updaterLog[o.updaterLog.size() - 2], "ErrorReport message= code=1602");
        EXPECT_TRUE(starts_with(o.updaterLog.back(), "Disconnect "));
    }
}

// Each failure ends the run with its own text in one box, after the
// requests that led to it.
TEST(RunExe, FailuresShowTheirText) {
    const std::string url = "http://127.0.0.1:" + port() + "/files/";
    struct Case {
        const char* name;
        std::string box;
        std::vector<std::string> requests;
    };
    const Case cases[] = {
        {"WrongHash",
         "Wrong file hash: 'bad.cfg.deploy'. Task name: DownloadFile.",
         {"1 version_info.xml 200", "1 " + k1033 + "a.txt 200", "1 " + k1033 + "bad.cfg.deploy 200"}},
        {"WrongHashLocal", "Wrong file hash: 'bad.cfg.deploy'. Task name: DownloadFile.", {}},
        {"NotFound",
         "404 error: Not Found: " + url + "NotFound/" + k1033 + "missing.txt. Task name: DownloadFile.",
         {"1 version_info.xml 200", "1 " + k1033 + "a.txt 200", "1 " + k1033 + "missing.txt 404"}},
        {"CutOff",
         "Download error. Task name: DownloadFile.",
         {"1 version_info.xml 200", "1 " + k1033 + "a.txt 200", "1 " + k1033 + "cut.bin 200"}},
        {"NoServer", "The server is not available at the moment. Please try again later.", {}},
        {"NoProduct",
         std::string("The ") + kProductName + " v2.0.0 product is not available.",
         {"1 version_info.xml 200"}},
        {"NoLanguage",
         "No products found in 'version_info.xml'. Source url: " + url +
             "NoLanguage/version_info.xml Task name: "
             "ParseXML.",
         {"1 version_info.xml 200"}},
        {"Prerequisites",
         "Installing prerequisites is not available in this version of the downloader. Task name: "
         "InstallPrerequisites.",
         // Only the prerequisite of the user's language (1033); nothing of the package yet.
         {"1 version_info.xml 200", "1 " + k1033 + "prereq/en/setup.exe 200"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const Observed& o = result_of(c.name);
        expect_run(o, 0, {c.box});
        EXPECT_EQ(o.requests[0], c.requests);
    }
}

// Malformed XML names the cached file it could not load.
TEST(RunExe, MalformedDescriptionNamesTheCachedFile) {
    const Observed& o = result_of("BadXml");
    expect_run(o, 0, {"Failed to load 'version_info.xml' file ("});
    EXPECT_EQ(o.requests[0], (std::vector<std::string>{"1 version_info.xml 200"}));
    const std::string& box = o.runs[0].boxes[0];
    const std::string head =
        "Failed to load 'version_info.xml' file (" + narrow(local_app_data()) + "\\QrE2EBadXml_";
    const std::string tail = "\\version_info.xml). Task name: ReadXML.";
    const std::size_t at = box.find(head);
    ASSERT_NE(at, std::string::npos) << box;
    const std::size_t end = box.find(tail, at);
    ASSERT_NE(end, std::string::npos) << box;
    const std::string stamp = box.substr(at + head.size(), end - at - head.size());
    EXPECT_FALSE(stamp.empty());
    EXPECT_EQ(stamp.find_first_not_of("0123456789"), std::string::npos) << stamp;
}

// Only the run at the second address reports: the first address's 404 is
// not shown, the description is fetched again there, and the files already
// in the cache with the right digest are not.
TEST(RunExe, NotFoundFailsOverToTheAlternativeAddressKeepingTheCache) {
    const Observed& o = result_of("FailOver");
    expect_run(o, 0, {kInstallNotAvailable});
    EXPECT_EQ(o.requests[0],
              (std::vector<std::string>{"1 version_info.xml 200", "1 " + k1033 + "a.txt 200",
                                        "1 " + k1033 + "b.bin 200", "1 " + k1033 + "c.txt 404",
                                        "2 alt/version_info.xml 200", "2 alt/" + k1033 + "c.txt 200"}));
}

// Of several products and versions only the configured language and
// version count: only its file is fetched. (Prerequisites filtered by the
// user's language are checked with the failures above.)
TEST(RunExe, SelectionTakesTheConfiguredLanguageAndVersion) {
    const Observed& o = result_of("Selection");
    expect_run(o, 0, {kInstallNotAvailable});
    EXPECT_EQ(o.requests[0],
              (std::vector<std::string>{"1 version_info.xml 200", "1 " + k1033 + "right.txt 200"}));
}

// A listed name that would land outside the folders the downloader owns is
// refused before anything is fetched, and nothing is written there.
TEST(RunExe, PathEscapingNamesAreRefused) {
    for (const Escape& escape : kEscapes) {
        SCOPED_TRACE(escape.name);
        const Observed& o = result_of(escape.name);
        expect_run(o, 0, {"Invalid file name '"});
        const std::string& box = o.runs[0].boxes[0];
        auto says = [&box](const std::string& name) {
            return contains(box,
                            "Invalid file name '" + name + "' in version_info.xml. Task name: ParseXML.");
        };
        EXPECT_TRUE(says(with_share_server(escape.listed))) << box;
        EXPECT_EQ(o.requests[0], (std::vector<std::string>{"1 version_info.xml 200"}));
        EXPECT_FALSE(o.leftBehind.at("target"));
        EXPECT_FALSE(o.leftBehind.at("cache"));
    }
}

// Closing the window during a download ends the run quietly, long before
// the transfer could have ended; during a local copy the copy fails and
// says so to the updater. (Its box, if any, goes with the closing window.)
TEST(RunExe, CancelDuringDownloadIsQuietAndDuringCopyAFailedCopy) {
    {
        const Observed& o = result_of("CancelDownload");
        expect_run(o, 0, {});
        ASSERT_EQ(o.requests[0].size(), 3u) << joined(o.requests[0]);
        EXPECT_TRUE(contains(o.requests[0][2], "slow.bin")) << o.requests[0][2];
        EXPECT_LT(o.runs[0].milliseconds, 60000u);
        EXPECT_FALSE(o.leftBehind.at("cache"));
    }
    {
        const Observed& o = result_of("CancelCopy");
        const std::string message = "Failed to copy 'big.bin' file. Error: 1235. Task name: DownloadFile.";
        ASSERT_TRUE(o.note.empty()) << o.note;
        ASSERT_EQ(o.runs.size(), 1u);
        EXPECT_FALSE(o.runs[0].timedOut);
        EXPECT_EQ(o.runs[0].exitCode, 0u);
        for (const std::string& box : o.runs[0].boxes) EXPECT_TRUE(contains(box, message)) << box;
        EXPECT_TRUE(o.requests[0].empty());
        const std::vector<std::string>& log = o.updaterLog;
        ASSERT_GE(log.size(), 2u);
        EXPECT_EQ(log[log.size() - 2], "ErrorReport message=" + message + " code=0") << joined(log);
        EXPECT_TRUE(starts_with(log.back(), "Disconnect ")) << log.back();
        for (const std::string& line : log) {
            EXPECT_FALSE(starts_with(line, "Notice kind=0x2001 ") && contains(line, "big.bin")) << line;
        }
        EXPECT_FALSE(o.leftBehind.at("cache"));
    }
}

// After all runs, nothing on C: outside the temporary folder is new or
// changed, and no resume entry was left.
TEST(RunExe, NothingOutsideTheOwnedFoldersIsLeftOrChanged) {
    // Both walks really covered the drive: the folder the downloader's own
    // folders live in was seen each time.
    const std::wstring appData = local_app_data();
    for (const DriveSnapshot* snapshot : {&g_driveBefore, &g_driveAfter}) {
        EXPECT_TRUE(std::any_of(
            snapshot->entries.begin(), snapshot->entries.end(),
            [&](const auto& entry) { return _wcsicmp(entry.first.c_str(), appData.c_str()) == 0; }))
            << narrow(appData) << " not among " << snapshot->entries.size() << " entries";
    }

    std::vector<std::string> changes;
    for (const auto& [path, entry] : g_driveAfter.entries) {
        auto it = g_driveBefore.entries.find(path);
        if (it == g_driveBefore.entries.end())
            changes.push_back("new: " + narrow(path));
        else if (it->second != entry)
            changes.push_back("changed: " + narrow(path));
    }
    EXPECT_TRUE(changes.empty()) << joined(changes);

    for (HKEY root : {HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE}) {
        HKEY key = nullptr;
        if (RegOpenKeyExW(root, L"Software\\Microsoft\\Windows\\CurrentVersion\\RunOnce", 0, KEY_READ,
                          &key) != ERROR_SUCCESS)
            continue;
        for (DWORD i = 0;; ++i) {
            wchar_t name[512];
            DWORD nameSize = 512;
            BYTE data[4096];
            DWORD dataSize = sizeof data - 2;
            if (RegEnumValueW(key, i, name, &nameSize, nullptr, nullptr, data, &dataSize) != ERROR_SUCCESS)
                break;
            data[dataSize] = data[dataSize + 1] = 0;
            const std::string value = lower(narrow(name) + " " + narrow(reinterpret_cast<wchar_t*>(data)));
            EXPECT_FALSE(contains(value, "qre2e")) << value;
        }
        RegCloseKey(key);
    }
}

}  // namespace
