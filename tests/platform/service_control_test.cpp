#include <gtest/gtest.h>

#include "service_control.h"

#include <winsvc.h>

#include "test_support.h"

namespace {

using testing_support::TempDir;

// Reads the service's configuration straight from the service manager.
struct ServiceQuery {
    SC_HANDLE manager = nullptr;
    SC_HANDLE service = nullptr;

    explicit ServiceQuery(const std::wstring& name) {
        manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT);
        if (manager)
            service = OpenServiceW(manager, name.c_str(), SERVICE_QUERY_CONFIG | SERVICE_QUERY_STATUS);
        error = service ? 0 : GetLastError();
    }
    ~ServiceQuery() {
        if (service) CloseServiceHandle(service);
        if (manager) CloseServiceHandle(manager);
    }
    DWORD state() const {
        SERVICE_STATUS status{};
        return QueryServiceStatus(service, &status) ? status.dwCurrentState : 0;
    }
    // Buffer of a variable-size configuration query; empty when it failed.
    template <typename Query>
    std::vector<BYTE> read(Query query) const {
        DWORD needed = 0;
        query(nullptr, 0, &needed);
        std::vector<BYTE> buffer(needed ? needed : 1);
        if (!query(buffer.data(), static_cast<DWORD>(buffer.size()), &needed)) buffer.clear();
        return buffer;
    }
    DWORD error = 0;
};

class ServiceControl : public ::testing::Test {
protected:
    void SetUp() override {
        name_ = L"QuillrunTestSvc-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
                std::to_wstring(GetTickCount());
        display_ = L"Quillrun Test " + name_;  // display names are unique too
        log_ = dir_ / L"service.log";
        command_ = testing_support::quote(testing_support::bin_dir() + L"qr_testservice.exe") + L" " +
                   testing_support::quote(log_);
    }
    // Whatever happened, the service must not outlive the test: an
    // auto-start service would start again with every session of the prefix.
    void TearDown() override {
        if (ServiceQuery(name_).service) stop_and_delete_service(name_);
    }

    bool wait_for_state(DWORD state, DWORD timeout_ms = 10000) {
        ServiceQuery q(name_);
        for (DWORD waited = 0; waited < timeout_ms; waited += 50) {
            if (q.state() == state) return true;
            Sleep(50);
        }
        return q.state() == state;
    }

    std::string log() const { return testing_support::read_file(log_); }

    TempDir dir_{L"svc"};
    std::wstring name_, display_, log_, command_;
};

TEST_F(ServiceControl, MissingServiceGivesDoesNotExist) {
    EXPECT_EQ(stop_and_delete_service(name_), static_cast<DWORD>(ERROR_SERVICE_DOES_NOT_EXIST));
    EXPECT_EQ(start_service(name_), static_cast<DWORD>(ERROR_SERVICE_DOES_NOT_EXIST));
}

TEST_F(ServiceControl, CreateRegistersAnAutoStartLocalSystemService) {
    ASSERT_EQ(create_service(name_, display_, L"Keeps the test product up to date.", command_), 0u);
    EXPECT_EQ(create_service(name_, L"Other", L"Other", command_), static_cast<DWORD>(ERROR_SERVICE_EXISTS));

    ServiceQuery q(name_);
    ASSERT_TRUE(q.service) << q.error;
    auto config_bytes = q.read([&](BYTE* b, DWORD n, DWORD* needed) {
        return QueryServiceConfigW(q.service, reinterpret_cast<QUERY_SERVICE_CONFIGW*>(b), n, needed);
    });
    ASSERT_FALSE(config_bytes.empty());
    const auto* config = reinterpret_cast<const QUERY_SERVICE_CONFIGW*>(config_bytes.data());
    EXPECT_EQ(config->dwServiceType, static_cast<DWORD>(SERVICE_WIN32_OWN_PROCESS));
    EXPECT_EQ(config->dwStartType, static_cast<DWORD>(SERVICE_AUTO_START));
    EXPECT_EQ(config->dwErrorControl, static_cast<DWORD>(SERVICE_ERROR_NORMAL));
    EXPECT_EQ(std::wstring(config->lpBinaryPathName), command_);
    EXPECT_EQ(std::wstring(config->lpDisplayName), display_);
    EXPECT_TRUE(_wcsicmp(config->lpServiceStartName, L"LocalSystem") == 0)
        << testing::PrintToString(std::wstring(config->lpServiceStartName));

    auto description_bytes = q.read([&](BYTE* b, DWORD n, DWORD* needed) {
        return QueryServiceConfig2W(q.service, SERVICE_CONFIG_DESCRIPTION, b, n, needed);
    });
    ASSERT_FALSE(description_bytes.empty());
    EXPECT_EQ(
        std::wstring(reinterpret_cast<const SERVICE_DESCRIPTIONW*>(description_bytes.data())->lpDescription),
        L"Keeps the test product up to date.");

    auto actions_bytes = q.read([&](BYTE* b, DWORD n, DWORD* needed) {
        return QueryServiceConfig2W(q.service, SERVICE_CONFIG_FAILURE_ACTIONS, b, n, needed);
    });
    if (actions_bytes.empty()) {
        // Wine accepts recovery actions but keeps none of them.
        GTEST_SKIP() << "the service manager does not report recovery actions";
    }
    const auto* actions = reinterpret_cast<const SERVICE_FAILURE_ACTIONSW*>(actions_bytes.data());
    EXPECT_EQ(actions->dwResetPeriod, 86400u);
    ASSERT_EQ(actions->cActions, 3u);
    for (DWORD i = 0; i < 3; ++i) {
        EXPECT_EQ(actions->lpsaActions[i].Type, SC_ACTION_RESTART) << i;
        EXPECT_EQ(actions->lpsaActions[i].Delay, 900000u) << i;
    }
}

TEST_F(ServiceControl, StartStopAndDeleteARunningService) {
    ASSERT_EQ(create_service(name_, display_, L"d", command_), 0u);
    ASSERT_EQ(start_service(name_), 0u);
    ASSERT_TRUE(wait_for_state(SERVICE_RUNNING));
    EXPECT_EQ(start_service(name_), static_cast<DWORD>(ERROR_SERVICE_ALREADY_RUNNING));

    // The service needs about 1.5 s to stop; the call returns only after that.
    EXPECT_EQ(stop_and_delete_service(name_), 0u);
    EXPECT_EQ(log(), "started\nstopped\n");
    EXPECT_EQ(ServiceQuery(name_).error, static_cast<DWORD>(ERROR_SERVICE_DOES_NOT_EXIST));
}

TEST_F(ServiceControl, StartWaitsForAServiceThatIsStillStopping) {
    ASSERT_EQ(create_service(name_, display_, L"d", command_), 0u);
    ASSERT_EQ(start_service(name_), 0u);
    ASSERT_TRUE(wait_for_state(SERVICE_RUNNING));
    {
        SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT);
        SC_HANDLE service = OpenServiceW(manager, name_.c_str(), SERVICE_STOP);
        SERVICE_STATUS status{};
        ASSERT_TRUE(ControlService(service, SERVICE_CONTROL_STOP, &status)) << GetLastError();
        CloseServiceHandle(service);
        CloseServiceHandle(manager);
    }
    ASSERT_EQ(ServiceQuery(name_).state(), static_cast<DWORD>(SERVICE_STOP_PENDING));
    EXPECT_EQ(start_service(name_), 0u);
    ASSERT_TRUE(wait_for_state(SERVICE_RUNNING));
    for (int i = 0; i < 100 && log() != "started\nstopped\nstarted\n"; ++i) Sleep(50);
    EXPECT_EQ(log(), "started\nstopped\nstarted\n");
    EXPECT_EQ(stop_and_delete_service(name_), 0u);
}

TEST_F(ServiceControl, AStoppedServiceIsDeletedWithoutWaiting) {
    ASSERT_EQ(create_service(name_, display_, L"d", command_), 0u);
    EXPECT_EQ(stop_and_delete_service(name_), 0u);
    EXPECT_EQ(ServiceQuery(name_).error, static_cast<DWORD>(ERROR_SERVICE_DOES_NOT_EXIST));
    EXPECT_EQ(log(), "");  // it never ran
    EXPECT_EQ(stop_and_delete_service(name_), static_cast<DWORD>(ERROR_SERVICE_DOES_NOT_EXIST));
}

}  // namespace
