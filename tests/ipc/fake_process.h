#pragma once
// Starting the fake peers in their own processes.
#include <windows.h>

#include <sstream>
#include <string>
#include <vector>

#include "test_support.h"

// The fake updater, started with its script; serves \\.\pipe\<pipeName>
// and logs one line per request it receives.
class FakeUpdater {
public:
    FakeUpdater(const std::wstring& pipeName, const std::wstring& options)
        : pipeName_(pipeName), logDir_(L"qrfakeupd") {
        log_ = logDir_ / L"requests.log";
        std::wstring command = testing_support::quote(testing_support::bin_dir() + L"fakeupdater.exe") +
                               L" /pipename=" + pipeName + L" /log=" + testing_support::quote(log_) +
                               L" /timeout=60000 " + options;
        STARTUPINFOW startup{};
        startup.cb = sizeof startup;
        PROCESS_INFORMATION info{};
        if (CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                           &info)) {
            CloseHandle(info.hThread);
            process_ = info.hProcess;
        }
    }
    ~FakeUpdater() {
        if (process_) {
            if (WaitForSingleObject(process_, 0) != WAIT_OBJECT_0) TerminateProcess(process_, 1);
            CloseHandle(process_);
        }
    }
    FakeUpdater(const FakeUpdater&) = delete;
    FakeUpdater& operator=(const FakeUpdater&) = delete;

    std::wstring FullName() const { return L"\\\\.\\pipe\\" + pipeName_; }

    // True once the fake listens (the name exists).
    bool WaitUntilListening() const {
        if (!process_) return false;
        for (int i = 0; i < 1000; ++i) {
            if (WaitNamedPipeW(FullName().c_str(), 0) || GetLastError() != ERROR_FILE_NOT_FOUND) return true;
            if (WaitForSingleObject(process_, 10) == WAIT_OBJECT_0) return false;
        }
        return false;
    }

    // True when the fake ended on its own (it ends after Disconnect).
    bool WaitForExit(DWORD ms = 10000) const {
        return process_ && WaitForSingleObject(process_, ms) == WAIT_OBJECT_0;
    }

    std::vector<std::string> Log() const {
        std::vector<std::string> lines;
        std::istringstream in(testing_support::read_file(log_));
        for (std::string line; std::getline(in, line);) lines.push_back(line);
        return lines;
    }

private:
    std::wstring pipeName_;
    testing_support::TempDir logDir_;
    std::wstring log_;
    HANDLE process_ = nullptr;
};
