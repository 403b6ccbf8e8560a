#pragma once
// Frees a file held by the updater service's program. A run may have to
// replace that program while the service runs it; the file can then be
// neither replaced nor deleted until the service is stopped and its process
// has ended.
#include <functional>
#include <string>

#include <windows.h>

#include "operation_error.h"

inline constexpr int kServiceReleaseWaits = 30;  // waits for the program to end
inline constexpr DWORD kServiceReleaseWaitMs = 1000;
inline constexpr int kReleasedFileRetries = 30;  // renames or deletions after a release
inline constexpr DWORD kReleasedFileRetryWaitMs = 1000;

// What a release asks of the system; tests substitute fakes and short waits.
class ServiceReleaseCalls {
public:
    virtual ~ServiceReleaseCalls() = default;
    // Stops and deletes the service: 0 or a Win32 code.
    virtual DWORD stop_and_delete_service(const std::wstring& service_name) = 0;
    // Whether some process runs the executable file_name (any session).
    virtual bool is_process_running(const std::wstring& file_name) = 0;
    virtual void sleep(DWORD milliseconds) = 0;
};

// The real service manager, process snapshot and Sleep.
ServiceReleaseCalls& system_service_release_calls();

// The engine's updater-service values.
struct UpdaterServiceNames {
    bool enable_automatic_updates = false;
    std::wstring service_name;       // application + "_" + id
    std::wstring service_file_name;  // application + ".service.exe"
};

class ServiceRelease {
public:
    explicit ServiceRelease(UpdaterServiceNames names,
                            ServiceReleaseCalls& calls = system_service_release_calls())
        : names_(std::move(names)), calls_(&calls) {}

    // When path exists, automatic updates are on and its file name is the
    // service program's: stops and deletes the service and waits up to 30
    // seconds for the program to end. True when the service was stopped (the
    // caller may then retry); false when there was nothing to release or the
    // service could not be stopped.
    bool release(const std::wstring& path) const;

    // attempt() once; when it fails, release(held_path) and, when that freed
    // the file, up to 30 more attempts one second apart. The last error of
    // the last failed attempt is left in GetLastError.
    bool retry_after_release(const std::wstring& held_path, const std::function<bool()>& attempt) const;

    // Deletes path, releasing it from the service when it is held.
    // Failure: "Failed to delete '<path>' file. Error: <code>." with
    // GetLastError.
    bool delete_file(const std::wstring& path, OperationError& error) const;

    const UpdaterServiceNames& names() const { return names_; }
    ServiceReleaseCalls& calls() const { return *calls_; }

private:
    UpdaterServiceNames names_;
    ServiceReleaseCalls* calls_;
};
