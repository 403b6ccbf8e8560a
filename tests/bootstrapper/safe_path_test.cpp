#include "safe_path.h"

#include <gtest/gtest.h>

namespace {

const std::wstring kFolder = L"C:\\ProgramData\\Demo_20243793";

TEST(ListedNames, LegitimateNamesLandInsideTheFolder) {
    const std::pair<const wchar_t*, const wchar_t*> cases[] = {
        {L"package.msi", L"\\package.msi"},
        {L"sub\\a.dll", L"\\sub\\a.dll"},
        {L"sub/deeper/a.dll", L"\\sub\\deeper\\a.dll"},
        {L"updater\\x.exe", L"\\updater\\x.exe"},
        {L"actions\\Extension.dll", L"\\actions\\Extension.dll"},
        {L"setup.exe.deploy", L"\\setup.exe.deploy"},
        {L"a..b.dll", L"\\a..b.dll"},
        {L".config", L"\\.config"},
        {L"console.dll", L"\\console.dll"},
        {L"com10.dll", L"\\com10.dll"},
        {L"n\u00e4me with spaces.txt", L"\\n\u00e4me with spaces.txt"},
    };
    for (auto& [name, tail] : cases) {
        std::wstring path = L"untouched";
        OperationError error;
        EXPECT_TRUE(join_listed_name(kFolder, name, path, error)) << name << L": " << error.text;
        EXPECT_EQ(path, kFolder + tail) << name;
        EXPECT_EQ(error.text, L"");
    }
}

TEST(ListedNames, NamesThatWouldEscapeOrMisbehaveAreRefused) {
    const wchar_t* cases[] = {
        L"",
        L"\\rooted.dll",
        L"/rooted.dll",
        L"C:\\Windows\\evil.dll",
        L"C:evil.dll",
        L"\\\\server\\share\\evil.dll",
        L"//server/share/evil.dll",
        L"\\\\?\\C:\\evil.dll",
        L"..\\evil.dll",
        L"../evil.dll",
        L"sub\\..\\..\\evil.dll",
        L"sub\\..\\a.dll",
        L"sub/./a.dll",
        L".",
        L"...\\evil.dll",
        L". .\\evil.dll",
        L"a.dll:hidden",
        L"sub\\\\a.dll",
        L"sub\\",
        L"a*.dll",
        L"a?.dll",
        L"a|b.dll",
        L"a<b>.dll",
        L"tab\tname.dll",
        L"nul",
        L"NUL.txt",
        L"nul .txt",
        L"com1",
        L"LPT3.log",
        L"sub\\con\\a.dll",
        L"aux",
    };
    for (const wchar_t* name : cases) {
        std::wstring path = L"untouched";
        OperationError error;
        EXPECT_FALSE(join_listed_name(kFolder, name, path, error)) << name;
        EXPECT_EQ(path, L"untouched") << name;
        EXPECT_EQ(error.text, std::wstring(L"Invalid file name '") + name + L"' in version_info.xml.");
        EXPECT_EQ(error.code, static_cast<DWORD>(ERROR_INVALID_NAME));
    }
}

TEST(ListedNames, NameTooLongForTheFolderIsRefused) {
    std::wstring name = std::wstring(120, L'a') + L"\\" + std::wstring(120, L'b') + L".dll";
    ASSERT_TRUE(is_safe_listed_name(name));
    std::wstring path;
    OperationError error;
    EXPECT_FALSE(join_listed_name(kFolder, name, path, error));
    EXPECT_EQ(error.text, L"Invalid file name '" + name + L"' in version_info.xml.");
    EXPECT_TRUE(join_listed_name(L"C:\\c", name, path, error));
}

}  // namespace
