#pragma once
// Permission reset of a cached file or folder: no explicit access entries,
// permissions inherited from the parent, Administrators as owner in
// administrator mode, normal attributes.
#include <string>

#include <windows.h>
#include <aclapi.h>

#include "operation_error.h"

// The system calls a permission reset makes. A seam because Wine accepts
// SetNamedSecurityInfoW without applying anything, so tests look at the
// calls instead of the resulting ACL.
class SecurityCalls {
public:
    virtual ~SecurityCalls() = default;
    // SetNamedSecurityInfoW's contract: returns a Win32 code.
    virtual DWORD set_named_security_info(LPWSTR path, SE_OBJECT_TYPE type, SECURITY_INFORMATION info,
                                          PSID owner, PSID group, PACL dacl, PACL sacl) = 0;
    virtual void sleep(DWORD milliseconds) = 0;
};

// The real calls.
SecurityCalls& system_security_calls();

inline constexpr int kPermissionResetAttempts = 4;
inline constexpr DWORD kPermissionResetWaitMs = 2000;

class PermissionReset {
public:
    explicit PermissionReset(bool administrator_mode, SecurityCalls& calls = system_security_calls())
        : administrator_mode_(administrator_mode), calls_(&calls) {}

    bool administrator_mode() const { return administrator_mode_; }

    // Resets path; up to four attempts two seconds apart. False fills error.
    bool apply(const std::wstring& path, OperationError& error) const;

private:
    bool administrator_mode_;
    SecurityCalls* calls_;
};

// A Win32 code as an HRESULT (0x8007xxxx); 0 and negative values pass through.
HRESULT hresult_from_win32(DWORD code);
