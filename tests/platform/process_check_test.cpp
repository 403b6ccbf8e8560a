#include <gtest/gtest.h>

#include "process_check.h"
#include "test_support.h"

namespace {

const ProcessEnumeration kMethods[] = {ProcessEnumeration::snapshot, ProcessEnumeration::process_list};

const char* method_name(ProcessEnumeration m) {
    return m == ProcessEnumeration::snapshot ? "snapshot" : "process list";
}

class ProcessCheck : public ::testing::Test {
protected:
    void SetUp() override {
        std::wstring command = testing_support::quote(testing_support::bin_dir() + L"qr_process_probe.exe");
        STARTUPINFOW si{};
        si.cb = sizeof si;
        ASSERT_TRUE(CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si,
                                   &probe_))
            << GetLastError();
        // The process counts once it has started to run.
        WaitForInputIdle(probe_.hProcess, 2000);
    }
    void TearDown() override { end_probe(); }

    void end_probe() {
        if (!probe_.hProcess) return;
        TerminateProcess(probe_.hProcess, 0);
        WaitForSingleObject(probe_.hProcess, 10000);
        CloseHandle(probe_.hThread);
        CloseHandle(probe_.hProcess);
        probe_ = {};
    }

    PROCESS_INFORMATION probe_{};
};

TEST_F(ProcessCheck, FindsARunningProgramByNameIdAndSession) {
    const DWORD probe_id = probe_.dwProcessId;
    const struct {
        const wchar_t* name;
        DWORD id;
        bool same_session;
        bool expected;
    } cases[] = {
        {L"qr_process_probe.exe", 0, false, true},
        {L"QR_Process_Probe.EXE", 0, false, true},  // case does not matter
        {L"qr_process_probe.exe", 0, true, true},   // our own session
        {L"qr_process_probe.exe", probe_id, true, true},
        {L"qr_process_probe.exe", GetCurrentProcessId(), false, false},  // another process's id
        {L"qr_process_probe", 0, false, false},                          // the whole file name counts
        {L"process_probe.exe", 0, false, false},
        {L"qr_no_such_program.exe", 0, false, false},
    };
    for (auto method : kMethods) {
        for (const auto& c : cases) {
            EXPECT_EQ(is_process_running(c.name, c.id, c.same_session, method), c.expected)
                << method_name(method) << ": " << testing::PrintToString(c.name) << " id " << c.id
                << " session " << c.same_session;
        }
    }
}

TEST_F(ProcessCheck, AnEndedProgramIsNotRunning) {
    for (auto method : kMethods)
        ASSERT_TRUE(is_process_running(L"qr_process_probe.exe", 0, true, method)) << method_name(method);
    end_probe();
    for (auto method : kMethods)
        EXPECT_FALSE(is_process_running(L"qr_process_probe.exe", 0, true, method)) << method_name(method);
}

}  // namespace
