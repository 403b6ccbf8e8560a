#pragma once
// The updater service's life cycle through the local service control
// manager. Each operation opens its own connection and returns 0 or the
// Win32 error code of the first call that failed; none forms a message.
#include <string>

#include <windows.h>
#include <winsvc.h>

// The service-manager functions the operations call; tests substitute
// recording fakes for what a real service manager cannot show.
struct ServiceManagerCalls {
    SC_HANDLE(WINAPI* open_manager)(LPCWSTR machine, LPCWSTR database, DWORD access);
    SC_HANDLE(WINAPI* create_service)
    (SC_HANDLE manager, LPCWSTR name, LPCWSTR display_name, DWORD access, DWORD type, DWORD start_type,
     DWORD error_control, LPCWSTR binary_path, LPCWSTR load_order_group, LPDWORD tag, LPCWSTR dependencies,
     LPCWSTR account, LPCWSTR password);
    SC_HANDLE(WINAPI* open_service)(SC_HANDLE manager, LPCWSTR name, DWORD access);
    BOOL(WINAPI* change_config2)(SC_HANDLE service, DWORD level, LPVOID info);
    BOOL(WINAPI* control)(SC_HANDLE service, DWORD control, LPSERVICE_STATUS status);
    BOOL(WINAPI* query_status)(SC_HANDLE service, LPSERVICE_STATUS status);
    BOOL(WINAPI* delete_service)(SC_HANDLE service);
    BOOL(WINAPI* start_service)(SC_HANDLE service, DWORD argc, LPCWSTR* argv);
    BOOL(WINAPI* close)(SC_HANDLE handle);
    VOID(WINAPI* sleep)(DWORD milliseconds);
};

// The real service manager of the local machine.
const ServiceManagerCalls& system_service_manager();

// Registers an auto-start LocalSystem service with its description and
// recovery actions (restart after 15 minutes, three times within a day).
// A service registered before a later step failed stays registered.
DWORD create_service(const std::wstring& service_name, const std::wstring& display_name,
                     const std::wstring& description, const std::wstring& command_line,
                     const ServiceManagerCalls& calls = system_service_manager());

// Asks the service to stop, waits (without limit) while it reports
// SERVICE_STOP_PENDING, then deletes it. A service that is not running is
// deleted at once.
DWORD stop_and_delete_service(const std::wstring& service_name,
                              const ServiceManagerCalls& calls = system_service_manager());

// Starts the service, first waiting (without limit) while it is still stopping.
DWORD start_service(const std::wstring& service_name,
                    const ServiceManagerCalls& calls = system_service_manager());
