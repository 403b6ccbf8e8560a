#include "service_control.h"

namespace {

constexpr DWORD kStopPollMs = 1000;
constexpr DWORD kRestartDelayMs = 15 * 60 * 1000;
constexpr DWORD kFailureResetSeconds = 24 * 60 * 60;

// Closes a service-manager handle through the given calls, keeping the
// caller's last-error value for the result.
class ScHandle {
public:
    ScHandle(const ServiceManagerCalls& calls, SC_HANDLE handle) : calls_(calls), handle_(handle) {}
    ScHandle(const ScHandle&) = delete;
    ScHandle& operator=(const ScHandle&) = delete;
    ~ScHandle() {
        if (!handle_) return;
        const DWORD saved = GetLastError();
        calls_.close(handle_);
        SetLastError(saved);
    }
    SC_HANDLE get() const { return handle_; }
    explicit operator bool() const { return handle_ != nullptr; }

private:
    const ServiceManagerCalls& calls_;
    SC_HANDLE handle_;
};

// Polls while the service reports SERVICE_STOP_PENDING. No limit: a service
// that never finishes stopping keeps the caller here.
void wait_while_stop_pending(const ServiceManagerCalls& calls, SC_HANDLE service) {
    SERVICE_STATUS status{};
    while (calls.query_status(service, &status) && status.dwCurrentState == SERVICE_STOP_PENDING)
        calls.sleep(kStopPollMs);
}

}  // namespace

const ServiceManagerCalls& system_service_manager() {
    static const ServiceManagerCalls calls = {
        &OpenSCManagerW,     &CreateServiceW, &OpenServiceW,  &ChangeServiceConfig2W, &ControlService,
        &QueryServiceStatus, &DeleteService,  &StartServiceW, &CloseServiceHandle,    &Sleep,
    };
    return calls;
}

DWORD create_service(const std::wstring& service_name, const std::wstring& display_name,
                     const std::wstring& description, const std::wstring& command_line,
                     const ServiceManagerCalls& calls) {
    ScHandle manager(calls,
                     calls.open_manager(nullptr, nullptr, SC_MANAGER_CONNECT | SC_MANAGER_CREATE_SERVICE));
    if (!manager) return GetLastError();

    const wchar_t no_dependencies[] = L"\0";
    ScHandle service(calls, calls.create_service(
                                manager.get(), service_name.c_str(), display_name.c_str(), SERVICE_ALL_ACCESS,
                                SERVICE_WIN32_OWN_PROCESS, SERVICE_AUTO_START, SERVICE_ERROR_NORMAL,
                                command_line.c_str(), nullptr, nullptr, no_dependencies, nullptr, nullptr));
    if (!service) return GetLastError();

    std::wstring description_text = description;
    SERVICE_DESCRIPTIONW service_description{description_text.data()};
    if (!calls.change_config2(service.get(), SERVICE_CONFIG_DESCRIPTION, &service_description))
        return GetLastError();

    SC_ACTION actions[3];
    for (auto& action : actions) {
        action.Type = SC_ACTION_RESTART;
        action.Delay = kRestartDelayMs;
    }
    wchar_t no_reboot_message[] = L"";
    wchar_t no_command[] = L"";
    SERVICE_FAILURE_ACTIONSW failure_actions{};
    failure_actions.dwResetPeriod = kFailureResetSeconds;
    failure_actions.lpRebootMsg = no_reboot_message;
    failure_actions.lpCommand = no_command;
    failure_actions.cActions = 3;
    failure_actions.lpsaActions = actions;
    if (!calls.change_config2(service.get(), SERVICE_CONFIG_FAILURE_ACTIONS, &failure_actions))
        return GetLastError();
    return ERROR_SUCCESS;
}

DWORD stop_and_delete_service(const std::wstring& service_name, const ServiceManagerCalls& calls) {
    ScHandle manager(calls, calls.open_manager(nullptr, nullptr, SC_MANAGER_CONNECT));
    if (!manager) return GetLastError();
    ScHandle service(calls, calls.open_service(manager.get(), service_name.c_str(),
                                               DELETE | SERVICE_STOP | SERVICE_QUERY_STATUS));
    if (!service) return GetLastError();

    SERVICE_STATUS status{};
    // A refused request (the service is not running) needs no wait.
    if (calls.control(service.get(), SERVICE_CONTROL_STOP, &status)) {
        calls.sleep(kStopPollMs);
        wait_while_stop_pending(calls, service.get());
    }

    if (!calls.delete_service(service.get())) return GetLastError();
    return ERROR_SUCCESS;
}

DWORD start_service(const std::wstring& service_name, const ServiceManagerCalls& calls) {
    ScHandle manager(calls, calls.open_manager(nullptr, nullptr, SC_MANAGER_CONNECT));
    if (!manager) return GetLastError();
    ScHandle service(
        calls, calls.open_service(manager.get(), service_name.c_str(), SERVICE_START | SERVICE_QUERY_STATUS));
    if (!service) return GetLastError();

    wait_while_stop_pending(calls, service.get());
    if (!calls.start_service(service.get(), 0, nullptr)) return GetLastError();
    return ERROR_SUCCESS;
}
