#pragma once
// Recording stand-ins for the system seams of the cache units.
#include <windows.h>
#include <sddl.h>

#include <string>
#include <vector>

#include "folders.h"
#include "permissions.h"

// Records every SetNamedSecurityInfoW call with what it was given, and
// answers with the queued codes (success once they run out).
class RecordingSecurityCalls : public SecurityCalls {
public:
    struct Call {
        std::wstring path;
        SE_OBJECT_TYPE type;
        SECURITY_INFORMATION info;
        std::wstring owner;  // string SID, empty for none
        bool group = false;
        bool has_dacl = false;
        BYTE dacl_revision = 0;
        WORD dacl_aces = 0;
        bool sacl = false;
    };

    std::vector<DWORD> answers;  // consumed front to back
    std::vector<Call> calls;
    std::vector<DWORD> sleeps;

    DWORD set_named_security_info(LPWSTR path, SE_OBJECT_TYPE type, SECURITY_INFORMATION info, PSID owner,
                                  PSID group, PACL dacl, PACL sacl) override {
        Call call{path, type, info,           sid_text(owner), group != nullptr, dacl != nullptr,
                  0,    0,    sacl != nullptr};
        if (dacl) {
            call.dacl_revision = dacl->AclRevision;
            call.dacl_aces = dacl->AceCount;
        }
        calls.push_back(call);
        if (answered_ < answers.size()) return answers[answered_++];
        return ERROR_SUCCESS;
    }
    void sleep(DWORD milliseconds) override { sleeps.push_back(milliseconds); }

    std::vector<std::wstring> paths() const {
        std::vector<std::wstring> out;
        for (auto& c : calls) out.push_back(c.path);
        return out;
    }

    static std::wstring sid_text(PSID sid) {
        if (!sid) return {};
        LPWSTR text = nullptr;
        if (!ConvertSidToStringSidW(sid, &text)) return L"<bad sid>";
        std::wstring out = text;
        LocalFree(text);
        return out;
    }

private:
    size_t answered_ = 0;
};

// Folder queries answered from a table, a fixed clock, recorded waits.
class FakeFolderEnvironment : public FolderEnvironment {
public:
    struct Answer {
        int csidl;
        HRESULT result;
        std::wstring path;
    };
    std::vector<Answer> answers;
    SYSTEMTIME now{};
    std::vector<int> queried;
    std::vector<DWORD> sleeps;

    HRESULT folder_path(int csidl, std::wstring& path) override {
        queried.push_back(csidl);
        for (auto& a : answers)
            if (a.csidl == csidl) {
                if (SUCCEEDED(a.result)) path = a.path;
                return a.result;
            }
        return E_FAIL;
    }
    SYSTEMTIME local_time() override { return now; }
    void sleep(DWORD milliseconds) override { sleeps.push_back(milliseconds); }
};

// 09:05:03 on 7 March 2024.
inline SYSTEMTIME march_7_2024_090503() {
    SYSTEMTIME t{};
    t.wYear = 2024;
    t.wMonth = 3;
    t.wDay = 7;
    t.wHour = 9;
    t.wMinute = 5;
    t.wSecond = 3;
    return t;
}
