#include "file_ops.h"

#include <gtest/gtest.h>

#include "cache_fakes.h"
#include "test_support.h"

using testing_support::TempDir;

namespace {

// A temp folder's path without the trailing backslash, as the engine keeps
// its folders.
std::wstring folder_of(const TempDir& dir) {
    return dir.path().substr(0, dir.path().size() - 1);
}

bool exists(const std::wstring& path) {
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

struct JoinCase {
    const wchar_t* a;
    const wchar_t* b;
    const wchar_t* expected;
};

TEST(PathJoin, Table) {
    const JoinCase cases[] = {
        {L"C:\\Cache", L"sub/file.dll", L"C:\\Cache\\sub\\file.dll"},
        {L"C:\\Cache\\", L"a.dll", L"C:\\Cache\\a.dll"},
        {L"C:\\Cache", L"updater\\x.exe", L"C:\\Cache\\updater\\x.exe"},
        {L"C:\\a\\b", L"..\\c.txt", L"C:\\a\\c.txt"},
        {L"C:\\a\\b", L"c/d/../e.txt", L"C:\\a\\b\\c\\e.txt"},
        {L"\\\\srv\\share\\dir", L"../x.msi", L"\\\\srv\\share\\x.msi"},
    };
    for (auto& c : cases) EXPECT_EQ(path_join(c.a, c.b), c.expected) << c.a << L" + " << c.b;
}

TEST(PathJoin, ParentOfAFolder) {
    // Joining with "..\" climbs one level; whether a trailing "\" remains is
    // the system's choice, the folder named is the parent.
    std::wstring parent = path_join(L"C:\\a\\b", L"..\\");
    ASSERT_FALSE(parent.empty());
    if (parent.back() == L'\\') parent.pop_back();
    EXPECT_EQ(parent, L"C:\\a");
}

TEST(PathJoin, TooLongGivesEmptyText) {
    std::wstring folder = L"C:\\" + std::wstring(200, L'f');
    EXPECT_EQ(path_join(folder, std::wstring(59, L'n')), L"");
    EXPECT_EQ(path_join(folder, std::wstring(600, L'n')), L"");
    EXPECT_FALSE(path_join(folder, std::wstring(40, L'n')).empty());
}

TEST(UrlJoin, Table) {
    const JoinCase cases[] = {
        {L"http://host/a", L"b.xml", L"http://host/a/b.xml"},
        {L"http://host/a/", L"b.xml", L"http://host/a/b.xml"},
        {L"https://host/a/b", L"sub/c.msi", L"https://host/a/b/sub/c.msi"},
        {L"http://host/a/b", L"../c.msi", L"http://host/a/c.msi"},
        {L"http://host/a", L"sub\\c.msi", L"http://host/a/sub/c.msi"},
    };
    for (auto& c : cases) EXPECT_EQ(url_join(c.a, c.b), c.expected) << c.a << L" + " << c.b;
}

TEST(UrlJoin, ResultTooLongGivesEmptyText) {
    EXPECT_EQ(url_join(L"http://host/a", std::wstring(2100, L'x')), L"");
}

TEST(NameParts, FileNamePart) {
    const std::pair<const wchar_t*, const wchar_t*> cases[] = {
        {L"C:\\a\\b.txt", L"b.txt"},
        {L"http://host/x/y.msi", L"y.msi"},
        {L"C:\\a/b\\c/d.txt", L"d.txt"},
        {L"plain.txt", L"plain.txt"},
        {L"C:\\dir\\", L""},
        {L"", L""},
    };
    for (auto& [path, expected] : cases) EXPECT_EQ(file_name_part(path), expected) << path;
}

TEST(NameParts, DirectoryPart) {
    struct {
        const wchar_t* path;
        wchar_t separator;
        const wchar_t* expected;
    } cases[] = {
        {L"C:\\a\\b.txt", L'\\', L"C:\\a"},
        {L"C:\\a\\b\\", L'\\', L"C:\\a\\b"},
        {L"b.txt", L'\\', L"b.txt"},
        {L"\\b.txt", L'\\', L"\\b.txt"},  // only as the first character
        {L"http://host/a/b.xml", L'/', L"http://host/a"},
        {L"C:\\a/b.txt", L'\\', L"C:"},
        {L"", L'\\', L""},
    };
    for (auto& c : cases) EXPECT_EQ(directory_part(c.path, c.separator), c.expected) << c.path;
}

TEST(WholeFile, RoundTripOfSizes) {
    TempDir dir(L"qrcache");
    for (size_t size : {size_t{1}, size_t{4096}, size_t{8u << 20}}) {
        std::string bytes(size, '\0');
        for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>((i * 131 + size) & 0xFF);
        std::wstring path = dir / (L"f" + std::to_wstring(size));
        ASSERT_TRUE(write_whole_file(path, bytes.data(), static_cast<DWORD>(bytes.size())));
        std::string back = "stale";
        ASSERT_TRUE(read_whole_file(path, back)) << size;
        EXPECT_TRUE(back == bytes) << size;
    }
}

TEST(WholeFile, EmptyFileIsWrittenButNotRead) {
    TempDir dir(L"qrcache");
    std::wstring path = dir / L"empty.bin";
    ASSERT_TRUE(write_whole_file(path, "", 0));
    EXPECT_EQ(testing_support::read_file(path), "");
    EXPECT_TRUE(exists(path));
    std::string back = "stale";
    EXPECT_FALSE(read_whole_file(path, back));
    EXPECT_EQ(back, "");
}

TEST(WholeFile, MissingFileTellsWhy) {
    TempDir dir(L"qrcache");
    std::string back = "stale";
    SetLastError(0);
    EXPECT_FALSE(read_whole_file(dir / L"missing.xml", back));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(back, "");

    SetLastError(0);
    EXPECT_FALSE(write_whole_file(dir / L"no\\such\\folder.bin", "x", 1));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
}

TEST(WholeFile, ReplacesReadOnlyAndLongerFile) {
    TempDir dir(L"qrcache");
    std::wstring path = dir / L"old.bin";
    ASSERT_TRUE(testing_support::write_file(path, "a much longer old content"));
    ASSERT_TRUE(SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_READONLY));
    ASSERT_TRUE(write_whole_file(path, "new", 3));
    EXPECT_EQ(testing_support::read_file(path), "new");
}

// Folder-tree creation with a recording permission reset.
class FolderTree : public ::testing::Test {
protected:
    TempDir dir{L"qrcache"};
    std::wstring root = folder_of(dir);
    RecordingSecurityCalls security;
    OperationError error;
};

TEST_F(FolderTree, CreatesEachMissingLevelAndResetsItOutermostFirst) {
    PermissionReset reset(false, security);
    std::wstring target = root + L"\\One\\Two";
    ASSERT_TRUE(create_folder_tree(target, reset, error)) << error.text;
    EXPECT_TRUE(exists(target));
    EXPECT_EQ(security.paths(), (std::vector<std::wstring>{root + L"\\One", target}));
    EXPECT_EQ(error.text, L"");
}

TEST_F(FolderTree, ExistingFolderAndTrailingBackslash) {
    PermissionReset reset(false, security);
    ASSERT_TRUE(create_folder_tree(root, reset, error));
    EXPECT_TRUE(security.calls.empty());

    std::wstring target = root + L"\\Three\\";
    ASSERT_TRUE(create_folder_tree(target, reset, error));
    EXPECT_TRUE(exists(root + L"\\Three"));
    EXPECT_EQ(security.paths(), (std::vector<std::wstring>{root + L"\\Three"}));
}

TEST_F(FolderTree, CreationFailureNamesThePathAndCode) {
    PermissionReset reset(false, security);
    ASSERT_TRUE(testing_support::write_file(root + L"\\file", "x"));
    std::wstring target = root + L"\\file\\sub";
    SetLastError(0);
    ASSERT_FALSE(create_folder_tree(target, reset, error));
    EXPECT_NE(error.code, 0u);
    EXPECT_EQ(error.text,
              L"Failed to create directory (" + target + L"). Error: " + std::to_wstring(error.code) + L".");
    EXPECT_TRUE(security.calls.empty());
}

TEST_F(FolderTree, PermissionResetFailureStopsTheCreation) {
    security.answers = {ERROR_ACCESS_DENIED, ERROR_ACCESS_DENIED, ERROR_ACCESS_DENIED, ERROR_ACCESS_DENIED};
    PermissionReset reset(true, security);
    std::wstring first = root + L"\\A";
    ASSERT_FALSE(create_folder_tree(first + L"\\B", reset, error));
    EXPECT_TRUE(exists(first));
    EXPECT_FALSE(exists(first + L"\\B"));
    EXPECT_EQ(error.text, L"Failed to reset the ACL on cached file: " + first + L".");
    EXPECT_EQ(error.code, 0x80070005u);
}

TEST_F(FolderTree, SilentVariant) {
    ASSERT_TRUE(create_folder_tree_silently(root + L"\\S1\\S2\\S3"));
    EXPECT_TRUE(exists(root + L"\\S1\\S2\\S3"));
    ASSERT_TRUE(testing_support::write_file(root + L"\\file", "x"));
    EXPECT_FALSE(create_folder_tree_silently(root + L"\\file\\sub"));
}

TEST_F(FolderTree, DeleteRemovesNestedTreeWithReadOnlyFiles) {
    std::wstring tree = root + L"\\tree";
    ASSERT_TRUE(create_folder_tree_silently(tree + L"\\a\\b\\c"));
    ASSERT_TRUE(create_folder_tree_silently(tree + L"\\empty"));
    for (auto name : {L"\\top.txt", L"\\a\\one.txt", L"\\a\\b\\c\\deep.txt", L"\\a\\b\\ro.dll"})
        ASSERT_TRUE(testing_support::write_file(tree + name, "content"));
    ASSERT_TRUE(SetFileAttributesW((tree + L"\\a\\b\\ro.dll").c_str(), FILE_ATTRIBUTE_READONLY));
    ASSERT_TRUE(
        SetFileAttributesW((tree + L"\\top.txt").c_str(), FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN));

    EXPECT_TRUE(delete_folder_tree(tree));
    EXPECT_FALSE(exists(tree));
    EXPECT_TRUE(exists(root));
}

TEST_F(FolderTree, DeleteReportsWhatItCannotRemove) {
    EXPECT_FALSE(delete_folder_tree(root + L"\\missing"));

    std::wstring tree = root + L"\\held";
    ASSERT_TRUE(create_folder_tree_silently(tree + L"\\sub"));
    std::wstring held = tree + L"\\sub\\open.bin";
    ASSERT_TRUE(testing_support::write_file(held, "x"));
    HANDLE file =
        CreateFileW(held.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    EXPECT_FALSE(delete_folder_tree(tree));
    EXPECT_TRUE(exists(held));
    CloseHandle(file);
    EXPECT_TRUE(delete_folder_tree(tree));
}

}  // namespace
