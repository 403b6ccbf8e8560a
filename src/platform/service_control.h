#pragma once
// The updater service's life cycle through the local service control
// manager. Each operation opens its own connection and returns 0 or the
// Win32 error code of the first call that failed; none forms a message.
#include <string>

#include <windows.h>

// Registers an auto-start LocalSystem service with its description and
// recovery actions (restart after 15 minutes, three times within a day).
// A service registered before a later step failed stays registered.
DWORD create_service(const std::wstring& service_name, const std::wstring& display_name,
                     const std::wstring& description, const std::wstring& command_line);

// Asks the service to stop, waits (without limit) while it reports
// SERVICE_STOP_PENDING, then deletes it. A service that is not running is
// deleted at once.
DWORD stop_and_delete_service(const std::wstring& service_name);

// Starts the service, first waiting (without limit) while it is still stopping.
DWORD start_service(const std::wstring& service_name);
