#include "service_release.h"

#include <shlwapi.h>

#include "file_ops.h"
#include "process_check.h"
#include "service_control.h"
#include "text.h"
#include "wexception.h"
#include "engine_texts.h"

namespace {

class SystemServiceReleaseCalls final : public ServiceReleaseCalls {
public:
    DWORD stop_and_delete_service(const std::wstring& service_name) override {
        return ::stop_and_delete_service(service_name);
    }
    bool is_process_running(const std::wstring& file_name) override {
        return ::is_process_running(file_name, 0, false, ProcessEnumeration::snapshot);
    }
    void sleep(DWORD milliseconds) override { Sleep(milliseconds); }
};

}  // namespace

ServiceReleaseCalls& system_service_release_calls() {
    static SystemServiceReleaseCalls calls;
    return calls;
}

bool ServiceRelease::release(const std::wstring& path) const {
    if (!PathFileExistsW(path.c_str()) || !names_.enable_automatic_updates || names_.service_name.empty() ||
        names_.service_file_name.empty())
        return false;
    std::wstring name = file_name_part(path);
    if (!iequals(name, names_.service_file_name)) return false;
    if (calls_->stop_and_delete_service(names_.service_name) != 0) return false;
    // A stopped service's process may take a moment to go away, and until it
    // has, its program file stays locked.
    for (int wait = 0; wait < kServiceReleaseWaits; ++wait) {
        calls_->sleep(kServiceReleaseWaitMs);
        if (!calls_->is_process_running(name)) break;
    }
    return true;
}

bool ServiceRelease::retry_after_release(const std::wstring& held_path,
                                         const std::function<bool()>& attempt) const {
    if (attempt()) return true;
    DWORD code = GetLastError();
    if (!release(held_path)) {
        SetLastError(code);
        return false;
    }
    for (int retry = 0; retry < kReleasedFileRetries; ++retry) {
        if (retry > 0) calls_->sleep(kReleasedFileRetryWaitMs);
        if (attempt()) return true;
        code = GetLastError();
    }
    SetLastError(code);
    return false;
}

bool ServiceRelease::delete_file(const std::wstring& path, OperationError& error) const {
    bool deleted = retry_after_release(path, [&path] {
        // A read-only leftover would otherwise block every later run.
        DWORD attributes = GetFileAttributesW(path.c_str());
        if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY))
            SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
        return DeleteFileW(path.c_str()) != FALSE;
    });
    if (deleted) return true;
    DWORD code = GetLastError();
    error.set(with_error_code(format(texts::kDeleteFileStem, path.c_str()), code), code);
    return false;
}
