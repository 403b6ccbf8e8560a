#include "privileges.h"

#include <windows.h>
#include <shellapi.h>

#include <vector>

#include "text.h"
#include "unique_handle.h"
#include "wexception.h"

bool IsElevated(DWORD osMajorVersion) {
    if (osMajorVersion < 6) return IsAdministratorMember(osMajorVersion);
    unique_kernel_handle token;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, token.put())) throw windows_error(GetLastError());
    TOKEN_ELEVATION elevation = {};
    DWORD size = 0;
    if (!GetTokenInformation(token.get(), TokenElevation, &elevation, sizeof(elevation), &size))
        throw windows_error(GetLastError());
    return elevation.TokenIsElevated != 0;
}

namespace {

DWORD integrity_rid() {
    unique_kernel_handle token;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, token.put())) return 0;
    DWORD size = 0;
    if (!GetTokenInformation(token.get(), TokenIntegrityLevel, nullptr, 0, &size) &&
        GetLastError() != ERROR_INSUFFICIENT_BUFFER)
        return 0;
    if (size < sizeof(TOKEN_MANDATORY_LABEL)) return 0;
    std::vector<BYTE> buffer(size, 0);
    if (!GetTokenInformation(token.get(), TokenIntegrityLevel, buffer.data(), size, &size)) return 0;
    auto* label = reinterpret_cast<TOKEN_MANDATORY_LABEL*>(buffer.data());
    PSID sid = label->Label.Sid;
    if (!sid || !IsValidSid(sid) || *GetSidSubAuthorityCount(sid) == 0) return 0;
    return *GetSidSubAuthority(sid, 0);
}

}  // namespace

bool IsLowIntegrity() {
    DWORD rid = integrity_rid();
    return rid == SECURITY_MANDATORY_LOW_RID || rid == 0;
}

bool IsAdministratorMember(DWORD osMajorVersion) {
    unique_kernel_handle token;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY | TOKEN_DUPLICATE, token.put())) return false;
    unique_kernel_handle tested;
    if (osMajorVersion >= 6) {
        TOKEN_ELEVATION_TYPE type = TokenElevationTypeDefault;
        DWORD size = 0;
        if (!GetTokenInformation(token.get(), TokenElevationType, &type, sizeof(type), &size)) return false;
        if (type == TokenElevationTypeLimited) {
            TOKEN_LINKED_TOKEN linked = {};
            if (!GetTokenInformation(token.get(), TokenLinkedToken, &linked, sizeof(linked), &size))
                return false;
            tested.reset(linked.LinkedToken);
        }
    }
    if (!tested && !DuplicateToken(token.get(), SecurityIdentification, tested.put())) return false;
    BYTE sid[68] = {};
    DWORD sidSize = sizeof(sid);
    if (!CreateWellKnownSid(WinBuiltinAdministratorsSid, nullptr, sid, &sidSize)) return false;
    BOOL member = FALSE;
    if (!CheckTokenMembership(tested.get(), sid, &member)) return false;
    return member != FALSE;
}

bool IsAdministratorMode(const std::wstring& privileges) {
    return !iequals(privileges, L"user");
}

bool NeedsElevatedRelaunch(const ElevationFacts& facts) {
    if (facts.osMajorVersion < 6) return false;
    if (IsAdministratorMode(facts.privileges)) return !facts.isElevated(facts.osMajorVersion);
    return facts.isLowIntegrity();
}

INT_PTR LaunchElevated(const std::wstring& executablePath, const std::wstring& arguments,
                       const std::wstring& executableFolder) {
    HINSTANCE result = ShellExecuteW(nullptr, L"runas", executablePath.c_str(), arguments.c_str(),
                                     executableFolder.c_str(), SW_SHOW);
    return reinterpret_cast<INT_PTR>(result);
}
