#include "service_control.h"

#include <winsvc.h>

#include "unique_handle.h"

namespace {

using unique_sc_handle = unique_handle<simple_handle_traits<SC_HANDLE, &CloseServiceHandle>>;

constexpr DWORD kStopPollMs = 1000;
constexpr DWORD kRestartDelayMs = 15 * 60 * 1000;
constexpr DWORD kFailureResetSeconds = 24 * 60 * 60;

// Polls while the service reports SERVICE_STOP_PENDING. No limit: a service
// that never finishes stopping keeps the caller here.
void wait_while_stop_pending(SC_HANDLE service, bool already_waited_once) {
    SERVICE_STATUS status{};
    if (already_waited_once) Sleep(kStopPollMs);
    while (QueryServiceStatus(service, &status) && status.dwCurrentState == SERVICE_STOP_PENDING)
        Sleep(kStopPollMs);
}

}  // namespace

DWORD create_service(const std::wstring& service_name, const std::wstring& display_name,
                     const std::wstring& description, const std::wstring& command_line) {
    unique_sc_handle manager(
        OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT | SC_MANAGER_CREATE_SERVICE));
    if (!manager) return GetLastError();

    const wchar_t no_dependencies[] = L"\0";
    unique_sc_handle service(CreateServiceW(manager.get(), service_name.c_str(), display_name.c_str(),
                                            SERVICE_ALL_ACCESS, SERVICE_WIN32_OWN_PROCESS, SERVICE_AUTO_START,
                                            SERVICE_ERROR_NORMAL, command_line.c_str(), nullptr, nullptr,
                                            no_dependencies, nullptr, nullptr));
    if (!service) return GetLastError();

    std::wstring description_text = description;
    SERVICE_DESCRIPTIONW service_description{description_text.data()};
    if (!ChangeServiceConfig2W(service.get(), SERVICE_CONFIG_DESCRIPTION, &service_description))
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
    if (!ChangeServiceConfig2W(service.get(), SERVICE_CONFIG_FAILURE_ACTIONS, &failure_actions))
        return GetLastError();
    return ERROR_SUCCESS;
}

DWORD stop_and_delete_service(const std::wstring& service_name) {
    unique_sc_handle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
    if (!manager) return GetLastError();
    unique_sc_handle service(
        OpenServiceW(manager.get(), service_name.c_str(), DELETE | SERVICE_STOP | SERVICE_QUERY_STATUS));
    if (!service) return GetLastError();

    SERVICE_STATUS status{};
    // A refused request (the service is not running) needs no wait.
    if (ControlService(service.get(), SERVICE_CONTROL_STOP, &status))
        wait_while_stop_pending(service.get(), true);

    if (!DeleteService(service.get())) return GetLastError();
    return ERROR_SUCCESS;
}

DWORD start_service(const std::wstring& service_name) {
    unique_sc_handle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
    if (!manager) return GetLastError();
    unique_sc_handle service(
        OpenServiceW(manager.get(), service_name.c_str(), SERVICE_START | SERVICE_QUERY_STATUS));
    if (!service) return GetLastError();

    wait_while_stop_pending(service.get(), false);
    if (!StartServiceW(service.get(), 0, nullptr)) return GetLastError();
    return ERROR_SUCCESS;
}
