// The service operations against a recording service manager: the exact
// requests, the waits and the order of failures, which a real manager under
// test does not all show (recovery actions, refused access, endless stops).
#include <gtest/gtest.h>

#include <deque>
#include <set>
#include <string>
#include <vector>

#include "service_control.h"

namespace {

const SC_HANDLE kManager = reinterpret_cast<SC_HANDLE>(static_cast<uintptr_t>(0x100));
const SC_HANDLE kService = reinterpret_cast<SC_HANDLE>(static_cast<uintptr_t>(0x200));

// What the fake manager saw and how it answers. One test at a time uses it.
struct FakeManager {
    std::vector<std::string> log;
    std::set<SC_HANDLE> open;
    std::string failing;       // name of the call that fails
    DWORD failure = 0;         // its error code
    std::deque<DWORD> states;  // answers of successive status queries

    // Captured arguments.
    std::wstring name, display_name, binary_path, description, reboot_message, command;
    DWORD access = 0, type = 0, start_type = 0, error_control = 0, reset_period = 0;
    bool dependencies_empty = false, no_account = false, no_group_or_tag = false;
    std::vector<SC_ACTION> actions;

    bool fails(const std::string& call) {
        if (failing != call) return false;
        SetLastError(failure);
        return true;
    }
    SC_HANDLE opened(SC_HANDLE h) {
        open.insert(h);
        return h;
    }
};
FakeManager* fake = nullptr;

SC_HANDLE WINAPI fake_open_manager(LPCWSTR machine, LPCWSTR database, DWORD access) {
    fake->log.push_back("open_manager " + std::to_string(access) + (machine || database ? " remote" : ""));
    return fake->fails("open_manager") ? nullptr : fake->opened(kManager);
}
SC_HANDLE WINAPI fake_create(SC_HANDLE, LPCWSTR name, LPCWSTR display_name, DWORD access, DWORD type,
                             DWORD start_type, DWORD error_control, LPCWSTR binary_path, LPCWSTR group,
                             LPDWORD tag, LPCWSTR dependencies, LPCWSTR account, LPCWSTR password) {
    fake->log.push_back("create");
    fake->name = name;
    fake->display_name = display_name;
    fake->access = access;
    fake->type = type;
    fake->start_type = start_type;
    fake->error_control = error_control;
    fake->binary_path = binary_path;
    fake->no_group_or_tag = !group && !tag;
    fake->dependencies_empty = !dependencies || (dependencies[0] == 0);
    fake->no_account = !account && !password;
    return fake->fails("create") ? nullptr : fake->opened(kService);
}
SC_HANDLE WINAPI fake_open_service(SC_HANDLE, LPCWSTR name, DWORD access) {
    fake->log.push_back("open_service " + std::to_string(access));
    fake->name = name;
    return fake->fails("open_service") ? nullptr : fake->opened(kService);
}
BOOL WINAPI fake_change_config2(SC_HANDLE, DWORD level, LPVOID info) {
    if (level == SERVICE_CONFIG_DESCRIPTION) {
        fake->log.push_back("description");
        fake->description = static_cast<SERVICE_DESCRIPTIONW*>(info)->lpDescription;
        return !fake->fails("description");
    }
    fake->log.push_back("failure_actions " + std::to_string(level));
    const auto* a = static_cast<SERVICE_FAILURE_ACTIONSW*>(info);
    fake->reset_period = a->dwResetPeriod;
    fake->reboot_message = a->lpRebootMsg ? a->lpRebootMsg : L"(null)";
    fake->command = a->lpCommand ? a->lpCommand : L"(null)";
    fake->actions.assign(a->lpsaActions, a->lpsaActions + a->cActions);
    return !fake->fails("failure_actions");
}
BOOL WINAPI fake_control(SC_HANDLE, DWORD control, LPSERVICE_STATUS status) {
    fake->log.push_back("control " + std::to_string(control));
    *status = {};
    return !fake->fails("control");
}
BOOL WINAPI fake_query_status(SC_HANDLE, LPSERVICE_STATUS status) {
    fake->log.push_back("query");
    if (fake->states.empty()) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    *status = {};
    status->dwCurrentState = fake->states.front();
    fake->states.pop_front();
    return TRUE;
}
BOOL WINAPI fake_delete(SC_HANDLE) {
    fake->log.push_back("delete");
    return !fake->fails("delete");
}
BOOL WINAPI fake_start(SC_HANDLE, DWORD argc, LPCWSTR* argv) {
    fake->log.push_back("start " + std::to_string(argc) + (argv ? " with arguments" : ""));
    return !fake->fails("start");
}
BOOL WINAPI fake_close(SC_HANDLE h) {
    fake->log.push_back(h == kManager ? "close manager" : "close service");
    fake->open.erase(h);
    return TRUE;
}
VOID WINAPI fake_sleep(DWORD ms) {
    fake->log.push_back("sleep " + std::to_string(ms));
}

const ServiceManagerCalls kFakeCalls = {
    &fake_open_manager, &fake_create, &fake_open_service, &fake_change_config2, &fake_control,
    &fake_query_status, &fake_delete, &fake_start,        &fake_close,          &fake_sleep,
};

class ServiceCalls : public ::testing::Test {
protected:
    void SetUp() override { fake = &manager_; }
    void TearDown() override {
        EXPECT_TRUE(manager_.open.empty()) << "handles left open";
        fake = nullptr;
    }
    void fail(const std::string& call, DWORD code) {
        manager_.failing = call;
        manager_.failure = code;
    }
    FakeManager manager_;
};

using Log = std::vector<std::string>;

TEST_F(ServiceCalls, CreateAsksForAnAutoStartLocalSystemServiceThatRestarts) {
    EXPECT_EQ(create_service(L"QuillrunUpdater", L"Quillrun Updater", L"Keeps Quillrun current.",
                             L"\"C:\\Program Files\\Quillrun\\updater.exe\" /service", kFakeCalls),
              0u);
    EXPECT_EQ(manager_.log, (Log{"open_manager 3", "create", "description", "failure_actions 2",
                                 "close service", "close manager"}));
    EXPECT_EQ(manager_.name, L"QuillrunUpdater");
    EXPECT_EQ(manager_.display_name, L"Quillrun Updater");
    EXPECT_EQ(manager_.access, 0xF01FFu);
    EXPECT_EQ(manager_.type, 0x10u);
    EXPECT_EQ(manager_.start_type, 2u);
    EXPECT_EQ(manager_.error_control, 1u);
    EXPECT_EQ(manager_.binary_path, L"\"C:\\Program Files\\Quillrun\\updater.exe\" /service");
    EXPECT_TRUE(manager_.no_group_or_tag);
    EXPECT_TRUE(manager_.dependencies_empty);
    EXPECT_TRUE(manager_.no_account);  // LocalSystem
    EXPECT_EQ(manager_.description, L"Keeps Quillrun current.");
    EXPECT_EQ(manager_.reset_period, 86400u);
    EXPECT_EQ(manager_.reboot_message, L"");
    EXPECT_EQ(manager_.command, L"");
    ASSERT_EQ(manager_.actions.size(), 3u);
    for (const auto& a : manager_.actions) {
        EXPECT_EQ(a.Type, SC_ACTION_RESTART);
        EXPECT_EQ(a.Delay, 900000u);
    }
}

struct FailureCase {
    const char* failing;
    DWORD code;
    Log expected;
};

TEST_F(ServiceCalls, CreateStopsAtTheFirstFailure) {
    const FailureCase cases[] = {
        {"open_manager", ERROR_ACCESS_DENIED, {"open_manager 3"}},
        {"create", ERROR_SERVICE_EXISTS, {"open_manager 3", "create", "close manager"}},
        // The registered service stays; no delete is attempted.
        {"description",
         ERROR_INVALID_PARAMETER,
         {"open_manager 3", "create", "description", "close service", "close manager"}},
        {"failure_actions",
         ERROR_ACCESS_DENIED,
         {"open_manager 3", "create", "description", "failure_actions 2", "close service", "close manager"}},
    };
    for (const auto& c : cases) {
        manager_ = {};
        fail(c.failing, c.code);
        EXPECT_EQ(create_service(L"s", L"d", L"x", L"c", kFakeCalls), c.code) << c.failing;
        EXPECT_EQ(manager_.log, c.expected) << c.failing;
        EXPECT_TRUE(manager_.open.empty()) << c.failing;
    }
}

struct StopCase {
    const char* what;
    const char* failing;
    DWORD code;
    std::deque<DWORD> states;
    DWORD result;
    Log expected;
};

TEST_F(ServiceCalls, StopAndDeleteWaitsOnlyForAnAcceptedStop) {
    const std::string open = "open_service " + std::to_string(DELETE | SERVICE_STOP | SERVICE_QUERY_STATUS);
    ASSERT_EQ(open, "open_service 65572");  // 0x10024
    const StopCase cases[] = {
        {"no such service",
         "open_service",
         ERROR_SERVICE_DOES_NOT_EXIST,
         {},
         ERROR_SERVICE_DOES_NOT_EXIST,
         {"open_manager 1", open, "close manager"}},
        {"not allowed to open it",
         "open_service",
         ERROR_ACCESS_DENIED,
         {},
         ERROR_ACCESS_DENIED,
         {"open_manager 1", open, "close manager"}},
        {"no manager", "open_manager", ERROR_ACCESS_DENIED, {}, ERROR_ACCESS_DENIED, {"open_manager 1"}},
        {"not running: stop refused",
         "control",
         ERROR_SERVICE_NOT_ACTIVE,
         {},
         0,
         {"open_manager 1", open, "control 1", "delete", "close service", "close manager"}},
        {"running: stops after two polls",
         "",
         0,
         {SERVICE_STOP_PENDING, SERVICE_STOP_PENDING, SERVICE_STOPPED},
         0,
         {"open_manager 1", open, "control 1", "sleep 1000", "query", "sleep 1000", "query", "sleep 1000",
          "query", "delete", "close service", "close manager"}},
        {"status query fails",
         "",
         0,
         {},
         0,
         {"open_manager 1", open, "control 1", "sleep 1000", "query", "delete", "close service",
          "close manager"}},
        {"delete refused",
         "delete",
         ERROR_SERVICE_MARKED_FOR_DELETE,
         {SERVICE_STOPPED},
         ERROR_SERVICE_MARKED_FOR_DELETE,
         {"open_manager 1", open, "control 1", "sleep 1000", "query", "delete", "close service",
          "close manager"}},
    };
    for (const auto& c : cases) {
        manager_ = {};
        fail(c.failing, c.code);
        manager_.states = c.states;
        EXPECT_EQ(stop_and_delete_service(L"QuillrunUpdater", kFakeCalls), c.result) << c.what;
        EXPECT_EQ(manager_.log, c.expected) << c.what;
        EXPECT_EQ(manager_.name, c.failing == std::string("open_manager") ? L"" : L"QuillrunUpdater")
            << c.what;
        EXPECT_TRUE(manager_.open.empty()) << c.what;
    }
}

TEST_F(ServiceCalls, StartWaitsForAStoppingService) {
    const StopCase cases[] = {
        {"stopped",
         "",
         0,
         {SERVICE_STOPPED},
         0,
         {"open_manager 1", "open_service 20", "query", "start 0", "close service", "close manager"}},
        {"still stopping",
         "",
         0,
         {SERVICE_STOP_PENDING, SERVICE_STOP_PENDING, SERVICE_STOPPED},
         0,
         {"open_manager 1", "open_service 20", "query", "sleep 1000", "query", "sleep 1000", "query",
          "start 0", "close service", "close manager"}},
        {"already running",
         "start",
         ERROR_SERVICE_ALREADY_RUNNING,
         {SERVICE_RUNNING},
         ERROR_SERVICE_ALREADY_RUNNING,
         {"open_manager 1", "open_service 20", "query", "start 0", "close service", "close manager"}},
        {"no such service",
         "open_service",
         ERROR_SERVICE_DOES_NOT_EXIST,
         {},
         ERROR_SERVICE_DOES_NOT_EXIST,
         {"open_manager 1", "open_service 20", "close manager"}},
    };
    for (const auto& c : cases) {
        manager_ = {};
        fail(c.failing, c.code);
        manager_.states = c.states;
        EXPECT_EQ(start_service(L"QuillrunUpdater", kFakeCalls), c.result) << c.what;
        EXPECT_EQ(manager_.log, c.expected) << c.what;
        EXPECT_TRUE(manager_.open.empty()) << c.what;
    }
}

}  // namespace
