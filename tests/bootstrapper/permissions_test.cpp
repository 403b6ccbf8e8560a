#include "permissions.h"

#include <gtest/gtest.h>

#include "cache_fakes.h"
#include "test_support.h"

using testing_support::TempDir;

namespace {

TEST(PermissionReset, CallsByMode) {
    struct {
        bool administrator_mode;
        SECURITY_INFORMATION info;
        const wchar_t* owner;
    } cases[] = {
        {false, DACL_SECURITY_INFORMATION | UNPROTECTED_DACL_SECURITY_INFORMATION, L""},
        {true, DACL_SECURITY_INFORMATION | UNPROTECTED_DACL_SECURITY_INFORMATION | OWNER_SECURITY_INFORMATION,
         L"S-1-5-32-544"},
    };
    TempDir dir(L"qrcache");
    std::wstring path = dir / L"file.bin";
    ASSERT_TRUE(testing_support::write_file(path, "x"));
    for (auto& c : cases) {
        RecordingSecurityCalls security;
        OperationError error;
        ASSERT_TRUE(PermissionReset(c.administrator_mode, security).apply(path, error));
        ASSERT_EQ(security.calls.size(), 1u);
        auto& call = security.calls[0];
        EXPECT_EQ(call.path, path);
        EXPECT_EQ(call.type, SE_FILE_OBJECT);
        EXPECT_EQ(call.info, c.info);
        EXPECT_EQ(call.owner, c.owner);
        EXPECT_FALSE(call.group);
        EXPECT_FALSE(call.sacl);
        // An empty list, not a missing one: a missing DACL would grant everyone
        // everything instead of leaving the inherited entries.
        EXPECT_TRUE(call.has_dacl);
        EXPECT_EQ(call.dacl_aces, 0);
        EXPECT_EQ(call.dacl_revision, ACL_REVISION);
        EXPECT_TRUE(security.sleeps.empty());
        EXPECT_EQ(error.text, L"");
    }
}

TEST(PermissionReset, RetriesFourTimesTwoSecondsApart) {
    TempDir dir(L"qrcache");
    std::wstring path = dir / L"file.bin";
    for (size_t failures = 0; failures <= 4; ++failures) {
        ASSERT_TRUE(testing_support::write_file(path, "x"));
        ASSERT_TRUE(SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_READONLY));
        RecordingSecurityCalls security;
        security.answers.assign(failures, ERROR_SHARING_VIOLATION);
        OperationError error;
        bool ok = PermissionReset(false, security).apply(path, error);

        EXPECT_EQ(ok, failures < 4) << failures;
        EXPECT_EQ(security.calls.size(), std::min<size_t>(failures + 1, 4)) << failures;
        EXPECT_EQ(security.sleeps, std::vector<DWORD>(std::min<size_t>(failures, 3), 2000)) << failures;
        DWORD attributes = GetFileAttributesW(path.c_str());
        if (ok) {
            EXPECT_EQ(error.text, L"");
            // Wine reports a normal file as archived.
            EXPECT_EQ(attributes & ~(FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_NORMAL), 0u) << failures;
        } else {
            EXPECT_EQ(error.text, L"Failed to reset the ACL on cached file: " + path + L".");
            EXPECT_EQ(error.code, 0x80070020u);
            EXPECT_TRUE(attributes & FILE_ATTRIBUTE_READONLY);
        }
        SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    }
}

// The system's own SetNamedSecurityInfoW, with the waits recorded instead of
// slept: its codes must come back as the reset's HRESULT.
class RealCallsRecordedWaits : public RecordingSecurityCalls {
public:
    DWORD set_named_security_info(LPWSTR path, SE_OBJECT_TYPE type, SECURITY_INFORMATION info, PSID owner,
                                  PSID group, PACL dacl, PACL sacl) override {
        RecordingSecurityCalls::set_named_security_info(path, type, info, owner, group, dacl, sacl);
        return system_security_calls().set_named_security_info(path, type, info, owner, group, dacl, sacl);
    }
};

TEST(PermissionReset, SystemCalls) {
    TempDir dir(L"qrcache");
    std::wstring path = dir / L"real.bin";
    ASSERT_TRUE(testing_support::write_file(path, "x"));
    for (bool administrator_mode : {false, true}) {
        RealCallsRecordedWaits security;
        OperationError error;
        EXPECT_TRUE(PermissionReset(administrator_mode, security).apply(path, error)) << error.text;
        EXPECT_TRUE(PermissionReset(administrator_mode, security).apply(dir.path() + L"", error))
            << error.text;
    }

    RealCallsRecordedWaits security;
    OperationError error;
    std::wstring missing = dir / L"missing.bin";
    EXPECT_FALSE(PermissionReset(false, security).apply(missing, error));
    EXPECT_EQ(security.calls.size(), 4u);
    EXPECT_EQ(security.sleeps.size(), 3u);
    EXPECT_EQ(error.code, 0x80070002u);
    EXPECT_EQ(error.text, L"Failed to reset the ACL on cached file: " + missing + L".");
}

TEST(PermissionReset, HresultFromWin32) {
    const std::pair<DWORD, DWORD> cases[] = {
        {0, 0},
        {ERROR_FILE_NOT_FOUND, 0x80070002u},
        {ERROR_ACCESS_DENIED, 0x80070005u},
        {0x12345, 0x80072345u},
        {0x80004005u, 0x80004005u},  // already an HRESULT
    };
    for (auto [code, expected] : cases)
        EXPECT_EQ(static_cast<DWORD>(hresult_from_win32(code)), expected) << code;
}

}  // namespace
