#include "permissions.h"

#include <cstring>
#include <memory>

#include "text.h"
#include "engine_texts.h"

namespace {

class SystemSecurityCalls final : public SecurityCalls {
public:
    DWORD set_named_security_info(LPWSTR path, SE_OBJECT_TYPE type, SECURITY_INFORMATION info, PSID owner,
                                  PSID group, PACL dacl, PACL sacl) override {
        return SetNamedSecurityInfoW(path, type, info, owner, group, dacl, sacl);
    }
    void sleep(DWORD milliseconds) override { Sleep(milliseconds); }
};

// A block from the process heap, freed on every way out.
class HeapBlock {
public:
    explicit HeapBlock(SIZE_T size) : data_(HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, size)) {}
    ~HeapBlock() {
        if (data_) {
            DWORD saved = GetLastError();
            HeapFree(GetProcessHeap(), 0, data_);
            SetLastError(saved);
        }
    }
    HeapBlock(const HeapBlock&) = delete;
    HeapBlock& operator=(const HeapBlock&) = delete;
    void* get() const { return data_; }

private:
    void* data_;
};

constexpr DWORD kMaxSidSize = 68;

}  // namespace

SecurityCalls& system_security_calls() {
    static SystemSecurityCalls calls;
    return calls;
}

HRESULT hresult_from_win32(DWORD code) {
    if (static_cast<LONG>(code) <= 0) return static_cast<HRESULT>(code);
    return static_cast<HRESULT>(0x80070000u | (code & 0xFFFFu));
}

bool PermissionReset::apply(const std::wstring& path, OperationError& error) const {
    SECURITY_INFORMATION info = DACL_SECURITY_INFORMATION | UNPROTECTED_DACL_SECURITY_INFORMATION;

    std::unique_ptr<HeapBlock> owner;
    if (administrator_mode_) {
        owner = std::make_unique<HeapBlock>(kMaxSidSize);
        if (!owner->get()) {
            error.set(texts::kSidAllocationFailed, GetLastError());
            return false;
        }
        DWORD size = kMaxSidSize;
        if (!CreateWellKnownSid(WinBuiltinAdministratorsSid, nullptr, owner->get(), &size)) {
            error.set(texts::kSidCreationFailed, GetLastError());
            return false;
        }
        info |= OWNER_SECURITY_INFORMATION;
    }

    // An ACL with no entries: together with the unprotected flag the object
    // is left with what it inherits from its parent.
    ACL empty_dacl;
    if (!InitializeAcl(&empty_dacl, sizeof(empty_dacl), ACL_REVISION)) {
        error.set(texts::kSidCreationFailed, GetLastError());
        return false;
    }

    // SetNamedSecurityInfoW takes a writable path.
    HRESULT result = S_OK;
    HeapBlock path_copy((path.size() + 1) * sizeof(wchar_t));
    if (!path_copy.get()) {
        result = hresult_from_win32(GetLastError());
    } else {
        memcpy(path_copy.get(), path.c_str(), (path.size() + 1) * sizeof(wchar_t));
        for (int attempt = 0; attempt < kPermissionResetAttempts; ++attempt) {
            if (attempt > 0) calls_->sleep(kPermissionResetWaitMs);
            DWORD code = calls_->set_named_security_info(static_cast<LPWSTR>(path_copy.get()), SE_FILE_OBJECT,
                                                         info, owner ? owner->get() : nullptr, nullptr,
                                                         &empty_dacl, nullptr);
            result = hresult_from_win32(code);
            if (SUCCEEDED(result)) break;
        }
    }
    if (FAILED(result)) {
        error.set(format(texts::kResetAclFailed, path.c_str()), static_cast<DWORD>(result));
        return false;
    }
    SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    return true;
}
