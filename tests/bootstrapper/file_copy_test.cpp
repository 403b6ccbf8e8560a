#include "file_copy.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cache_fakes.h"
#include "file_ops.h"
#include "test_support.h"

using testing_support::TempDir;

namespace {

constexpr DWORD kChunk = 4096;

bool exists(const std::wstring& path) {
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::string pattern_bytes(size_t size) {
    std::string bytes(size, '\0');
    for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>((i * 7 + 3) & 0xFF);
    return bytes;
}

// What a progress routine saw, and how it answers.
struct Progress {
    struct Call {
        ULONGLONG total;
        ULONGLONG transferred;
        DWORD reason;
        bool operator==(const Call&) const = default;
    };
    std::vector<Call> calls;
    size_t answer_at = SIZE_MAX;  // index of the call that gets `answer`
    DWORD answer = PROGRESS_CONTINUE;
    BOOL* cancel_flag_to_set = nullptr;  // set during the call at answer_at
    bool handles_seen = true;

    static DWORD CALLBACK routine(LARGE_INTEGER total, LARGE_INTEGER transferred, LARGE_INTEGER stream_size,
                                  LARGE_INTEGER stream_transferred, DWORD stream, DWORD reason, HANDLE source,
                                  HANDLE destination, LPVOID data) {
        auto* self = static_cast<Progress*>(data);
        size_t index = self->calls.size();
        self->calls.push_back(
            {static_cast<ULONGLONG>(total.QuadPart), static_cast<ULONGLONG>(transferred.QuadPart), reason});
        if (stream_size.QuadPart != total.QuadPart || stream_transferred.QuadPart != transferred.QuadPart ||
            stream != 1 || source == INVALID_HANDLE_VALUE || destination == INVALID_HANDLE_VALUE || !source ||
            !destination)
            self->handles_seen = false;
        if (index != self->answer_at) return PROGRESS_CONTINUE;
        if (self->cancel_flag_to_set) {
            *self->cancel_flag_to_set = TRUE;
            return PROGRESS_CONTINUE;
        }
        return self->answer;
    }

    // The calls a complete copy of size bytes makes.
    static std::vector<Call> expected(ULONGLONG size, ULONGLONG chunk) {
        std::vector<Call> out{{size, 0, CALLBACK_STREAM_SWITCH}};
        ULONGLONG done = 0;
        do {
            done = std::min(size, done + chunk);
            out.push_back({size, done, CALLBACK_CHUNK_FINISHED});
        } while (done < size);
        return out;
    }
};

class CopyLayer : public ::testing::Test {
protected:
    std::wstring source_of(size_t size) {
        std::wstring path = dir / (L"source-" + std::to_wstring(size) + L".bin");
        EXPECT_TRUE(testing_support::write_file(path, pattern_bytes(size)));
        return path;
    }

    TempDir dir{L"qrcopy"};
    std::wstring destination = dir / L"destination.bin";
    Progress progress;
};

TEST_F(CopyLayer, ReportsEveryChunkAndTheCompletionWithTheFileTotals) {
    for (size_t size : {size_t{0}, size_t{1}, size_t{kChunk - 1}, size_t{kChunk}, size_t{kChunk + 1},
                        size_t{3 * kChunk + 5}}) {
        progress = {};
        std::wstring source = source_of(size);
        ASSERT_TRUE(copy_file_with_progress(source.c_str(), destination.c_str(), &Progress::routine,
                                            &progress, nullptr, 0, kChunk))
            << size << " error " << GetLastError();
        EXPECT_EQ(progress.calls, Progress::expected(size, kChunk)) << size;
        EXPECT_TRUE(progress.handles_seen);
        EXPECT_TRUE(testing_support::read_file(destination) == pattern_bytes(size)) << size;
    }
}

TEST_F(CopyLayer, DefaultChunkSize) {
    std::wstring source = source_of(1u << 20);
    ASSERT_TRUE(copy_file_with_progress(source.c_str(), destination.c_str(), &Progress::routine, &progress,
                                        nullptr, 0));
    EXPECT_EQ(progress.calls, Progress::expected(1u << 20, kCopyChunkSize));
}

TEST_F(CopyLayer, CancelEndsTheCopyAndRemovesTheDestination) {
    // The stream switch, a middle chunk, and the completion call itself.
    for (size_t at : {size_t{0}, size_t{2}, size_t{4}}) {
        progress = {};
        progress.answer_at = at;
        progress.answer = PROGRESS_CANCEL;
        std::wstring source = source_of(4 * kChunk);
        SetLastError(0);
        EXPECT_FALSE(copy_file_with_progress(source.c_str(), destination.c_str(), &Progress::routine,
                                             &progress, nullptr, 0, kChunk));
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_REQUEST_ABORTED)) << at;
        EXPECT_EQ(progress.calls.size(), at + 1);
        EXPECT_FALSE(exists(destination)) << at;
        EXPECT_TRUE(exists(source));
    }
}

TEST_F(CopyLayer, StopKeepsWhatWasWritten) {
    progress.answer_at = 2;
    progress.answer = PROGRESS_STOP;
    std::wstring source = source_of(4 * kChunk);
    EXPECT_FALSE(copy_file_with_progress(source.c_str(), destination.c_str(), &Progress::routine, &progress,
                                         nullptr, 0, kChunk));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_REQUEST_ABORTED));
    EXPECT_TRUE(testing_support::read_file(destination) == pattern_bytes(4 * kChunk).substr(0, 2 * kChunk));
}

TEST_F(CopyLayer, QuietCopiesWithoutFurtherCalls) {
    progress.answer_at = 1;
    progress.answer = PROGRESS_QUIET;
    std::wstring source = source_of(4 * kChunk);
    ASSERT_TRUE(copy_file_with_progress(source.c_str(), destination.c_str(), &Progress::routine, &progress,
                                        nullptr, 0, kChunk));
    EXPECT_EQ(progress.calls.size(), 2u);
    EXPECT_TRUE(testing_support::read_file(destination) == pattern_bytes(4 * kChunk));
}

TEST_F(CopyLayer, CancelFlag) {
    std::wstring source = source_of(4 * kChunk);
    BOOL cancel = TRUE;
    EXPECT_FALSE(copy_file_with_progress(source.c_str(), destination.c_str(), &Progress::routine, &progress,
                                         &cancel, 0, kChunk));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_REQUEST_ABORTED));
    EXPECT_TRUE(progress.calls.empty());
    EXPECT_FALSE(exists(destination));

    // Raised while the copy runs (here by the routine, as another thread would).
    cancel = FALSE;
    progress.answer_at = 1;
    progress.cancel_flag_to_set = &cancel;
    EXPECT_FALSE(copy_file_with_progress(source.c_str(), destination.c_str(), &Progress::routine, &progress,
                                         &cancel, 0, kChunk));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_REQUEST_ABORTED));
    EXPECT_EQ(progress.calls.size(), 2u);
    EXPECT_FALSE(exists(destination));
}

TEST_F(CopyLayer, NoRoutine) {
    std::wstring source = source_of(3 * kChunk);
    ASSERT_TRUE(
        copy_file_with_progress(source.c_str(), destination.c_str(), nullptr, nullptr, nullptr, 0, kChunk));
    EXPECT_TRUE(testing_support::read_file(destination) == pattern_bytes(3 * kChunk));
}

TEST_F(CopyLayer, FailuresLeaveNoDestination) {
    std::wstring source = source_of(10);
    struct {
        std::wstring from, to;
        DWORD flags;
        DWORD code;
    } cases[] = {
        {dir / L"missing.bin", destination, 0, ERROR_FILE_NOT_FOUND},
        {dir / L"nofolder\\missing.bin", destination, 0, ERROR_PATH_NOT_FOUND},
        {source, dir / L"nofolder\\destination.bin", 0, ERROR_PATH_NOT_FOUND},
        {source, destination, COPY_FILE_RESTARTABLE, ERROR_INVALID_PARAMETER},
    };
    for (auto& c : cases) {
        progress = {};
        SetLastError(0);
        EXPECT_FALSE(copy_file_with_progress(c.from.c_str(), c.to.c_str(), &Progress::routine, &progress,
                                             nullptr, c.flags, kChunk));
        EXPECT_EQ(GetLastError(), c.code) << c.from << L" -> " << c.to;
        EXPECT_TRUE(progress.calls.empty());
        EXPECT_FALSE(exists(c.to));
    }
}

TEST_F(CopyLayer, ExistingDestination) {
    std::wstring source = source_of(10);
    ASSERT_TRUE(testing_support::write_file(destination, "an older and longer destination"));
    ASSERT_TRUE(
        copy_file_with_progress(source.c_str(), destination.c_str(), nullptr, nullptr, nullptr, 0, kChunk));
    EXPECT_TRUE(testing_support::read_file(destination) == pattern_bytes(10));

    ASSERT_TRUE(testing_support::write_file(destination, "kept"));
    EXPECT_FALSE(copy_file_with_progress(source.c_str(), destination.c_str(), nullptr, nullptr, nullptr,
                                         COPY_FILE_FAIL_IF_EXISTS, kChunk));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_EXISTS));
    EXPECT_EQ(testing_support::read_file(destination), "kept");

    ASSERT_TRUE(SetFileAttributesW(destination.c_str(), FILE_ATTRIBUTE_READONLY));
    EXPECT_FALSE(
        copy_file_with_progress(source.c_str(), destination.c_str(), nullptr, nullptr, nullptr, 0, kChunk));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    EXPECT_EQ(testing_support::read_file(destination), "kept");
    SetFileAttributesW(destination.c_str(), FILE_ATTRIBUTE_NORMAL);
}

TEST_F(CopyLayer, CopyOntoItselfLeavesTheSource) {
    std::wstring source = source_of(3 * kChunk);
    EXPECT_FALSE(
        copy_file_with_progress(source.c_str(), source.c_str(), nullptr, nullptr, nullptr, 0, kChunk));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
    EXPECT_TRUE(testing_support::read_file(source) == pattern_bytes(3 * kChunk));
}

TEST_F(CopyLayer, AttributesAndWriteTimeFollowTheSource) {
    std::wstring source = source_of(100);
    FILETIME stamp{0x12345678, 0x01D9ABCD};
    HANDLE file = CreateFileW(source.c_str(), FILE_WRITE_ATTRIBUTES, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    ASSERT_TRUE(SetFileTime(file, nullptr, nullptr, &stamp));
    CloseHandle(file);
    ASSERT_TRUE(SetFileAttributesW(source.c_str(), FILE_ATTRIBUTE_READONLY));

    ASSERT_TRUE(
        copy_file_with_progress(source.c_str(), destination.c_str(), nullptr, nullptr, nullptr, 0, kChunk));
    WIN32_FILE_ATTRIBUTE_DATA data;
    ASSERT_TRUE(GetFileAttributesExW(destination.c_str(), GetFileExInfoStandard, &data));
    EXPECT_TRUE(data.dwFileAttributes & FILE_ATTRIBUTE_READONLY);
    // Some file systems keep coarser times; a second is enough to tell the
    // copied stamp from the time of the copy.
    ULONGLONG want = (static_cast<ULONGLONG>(stamp.dwHighDateTime) << 32) | stamp.dwLowDateTime;
    ULONGLONG got = (static_cast<ULONGLONG>(data.ftLastWriteTime.dwHighDateTime) << 32) |
                    data.ftLastWriteTime.dwLowDateTime;
    EXPECT_LT(got > want ? got - want : want - got, 10000000ull);
    SetFileAttributesW(destination.c_str(), FILE_ATTRIBUTE_NORMAL);
    SetFileAttributesW(source.c_str(), FILE_ATTRIBUTE_NORMAL);
}

std::wstring environment_variable(const wchar_t* name) {
    wchar_t value[MAX_PATH * 2] = {};
    DWORD n = GetEnvironmentVariableW(name, value, static_cast<DWORD>(std::size(value)));
    return n < std::size(value) ? std::wstring(value, n) : std::wstring();
}

// \\<server>\share\... is a folder on this machine: the ctest fixture links
// it into the prefix's dosdevices\unc folder, the way Wine maps network
// paths. Each run works in its own subfolder of the share.
class NetworkShare : public ::testing::Test {
protected:
    void SetUp() override {
        std::wstring server = environment_variable(L"QR_CACHE_SERVER");
        std::wstring unix_folder = environment_variable(L"QR_CACHE_SHARE");
        if (server.empty() || unix_folder.empty())
            GTEST_SKIP() << "run through ctest: its cache_share fixture provides the share";
        for (auto& c : unix_folder)
            if (c == L'/') c = L'\\';
        std::wstring run = L"run" + std::to_wstring(GetCurrentProcessId());
        share_folder = L"Z:" + unix_folder + L"\\" + run;
        ASSERT_TRUE(create_folder_tree_silently(share_folder + L"\\sub")) << GetLastError();
        unc = L"\\\\" + server + L"\\share\\" + run + L"\\";
    }
    void TearDown() override {
        if (!share_folder.empty()) delete_folder_tree(share_folder);
    }

    TempDir local{L"qrcopy"};
    std::wstring share_folder, unc;
    Progress progress;
};

TEST_F(NetworkShare, CopiesWithProgressAndCancels) {
    std::string bytes = pattern_bytes(3 * kChunk + 17);
    ASSERT_TRUE(testing_support::write_file(share_folder + L"\\sub\\package.msi", bytes));
    std::wstring source = unc + L"sub\\package.msi";
    std::wstring destination = local / L"package.msi";

    ASSERT_TRUE(copy_file_with_progress(source.c_str(), destination.c_str(), &Progress::routine, &progress,
                                        nullptr, 0, kChunk))
        << GetLastError();
    EXPECT_EQ(progress.calls, Progress::expected(bytes.size(), kChunk));
    EXPECT_TRUE(testing_support::read_file(destination) == bytes);

    progress = {};
    progress.answer_at = 2;
    progress.answer = PROGRESS_CANCEL;
    std::wstring second = local / L"second.msi";
    EXPECT_FALSE(copy_file_with_progress(source.c_str(), second.c_str(), &Progress::routine, &progress,
                                         nullptr, 0, kChunk));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_REQUEST_ABORTED));
    EXPECT_FALSE(exists(second));

    EXPECT_FALSE(copy_file_with_progress((unc + L"sub\\missing.msi").c_str(), second.c_str(), nullptr,
                                         nullptr, nullptr, 0, kChunk));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
}

TEST_F(NetworkShare, FolderTreeOnTheShare) {
    RecordingSecurityCalls security;
    OperationError error;
    std::wstring target = unc + L"new\\deeper";
    ASSERT_TRUE(create_folder_tree(target, PermissionReset(false, security), error)) << error.text;
    EXPECT_TRUE(exists(share_folder + L"\\new\\deeper"));
    EXPECT_EQ(security.paths(), (std::vector<std::wstring>{unc + L"new", target}));
}

}  // namespace
