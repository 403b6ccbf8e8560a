#include <gtest/gtest.h>

#include <cstring>
#include <sstream>

#include "digest.h"
#include "test_support.h"

namespace {

using testing_support::TempDir;

std::wstring hex(const std::array<uint8_t, 16>& bytes) {
    static const wchar_t digits[] = L"0123456789abcdef";
    std::wstring out;
    for (uint8_t b : bytes) {
        out += digits[b >> 4];
        out += digits[b & 15];
    }
    return out;
}

std::wstring md5_of(std::string_view bytes) {
    MD5 md5;
    md5.update(bytes.data(), bytes.size());
    return hex(md5.finish());
}

// Deterministic, non-repeating content (a 32-bit LCG), so a digest that
// skips or repeats a block cannot pass by accident.
std::string pattern(size_t size, uint32_t seed) {
    std::string out(size, '\0');
    uint32_t x = seed;
    for (auto& c : out) {
        x = x * 1664525u + 1013904223u;
        c = static_cast<char>(x >> 24);
    }
    return out;
}

// The host's path of a file, for the host's own tools.
std::wstring unix_path(const std::wstring& dos_path) {
    using Fn = char*(__cdecl*)(const wchar_t*);
    auto fn = reinterpret_cast<Fn>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name")));
    if (!fn) return {};
    char* path = fn(dos_path.c_str());
    if (!path) return {};
    std::string narrow = path;
    HeapFree(GetProcessHeap(), 0, path);
    return std::wstring(narrow.begin(), narrow.end());
}

// Runs the host's md5sum/sha1sum over the files and returns their digests
// in order. Wine starts host programs but neither hands them our pipes nor
// lets us wait for them, so the shell renames its finished listing into
// place and we wait for that file.
std::vector<std::wstring> host_digests(const wchar_t* tool, const std::vector<std::wstring>& files,
                                       const TempDir& dir) {
    const std::wstring listing = dir / L"host-digests.txt";
    const std::wstring partial = dir / L"host-digests.part";
    std::wstring script = std::wstring(tool);
    for (const auto& f : files) {
        std::wstring u = unix_path(f);
        EXPECT_FALSE(u.empty()) << "no host path for " << testing::PrintToString(f);
        script += L" '" + u + L"'";
    }
    script +=
        L" > '" + unix_path(partial) + L"' && mv '" + unix_path(partial) + L"' '" + unix_path(listing) + L"'";
    auto result =
        testing_support::run_process(L"Z:\\bin\\sh -c " + testing_support::quote(script), 120000, L"", false);
    EXPECT_TRUE(result.started) << "cannot run the host's shell";
    for (int waited = 0; waited < 120000 && !testing_support::file_exists(listing); waited += 50) Sleep(50);
    EXPECT_TRUE(testing_support::file_exists(listing))
        << "the host's " << testing::PrintToString(tool) << " gave no listing";
    std::vector<std::wstring> digests;
    std::istringstream lines(testing_support::read_file(listing));
    std::string line;
    while (std::getline(lines, line)) {
        std::string digest = line.substr(0, line.find(' '));
        digests.emplace_back(digest.begin(), digest.end());
    }
    return digests;
}

TEST(MD5, Rfc1321Suite) {
    const struct {
        const char* input;
        const wchar_t* digest;
    } cases[] = {
        {"", L"d41d8cd98f00b204e9800998ecf8427e"},
        {"a", L"0cc175b9c0f1b6a831c399e269772661"},
        {"abc", L"900150983cd24fb0d6963f7d28e17f72"},
        {"message digest", L"f96b697d7cb7938d525a2f31aaf161d0"},
        {"abcdefghijklmnopqrstuvwxyz", L"c3fcd3d76192e4007dfb496cca67e13b"},
        {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789",
         L"d174ab98d277d9f5a5611c2c9f419d9f"},
        {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
         L"57edf4a22be3c955ac49da2e2107b67a"},
    };
    for (const auto& c : cases) EXPECT_EQ(md5_of(c.input), c.digest) << c.input;
}

TEST(MD5, PiecewiseInputEqualsOneShot) {
    const std::string data = pattern(1000, 7);
    const std::wstring whole = md5_of(data);
    for (size_t piece : {1u, 3u, 63u, 64u, 65u, 127u, 999u}) {
        MD5 md5;
        for (size_t at = 0; at < data.size(); at += piece)
            md5.update(data.data() + at, std::min(piece, data.size() - at));
        EXPECT_EQ(hex(md5.finish()), whole) << "pieces of " << piece;
    }
}

TEST(FileDigest, MatchesHostMd5sum) {
    TempDir dir(L"digest");
    // Around the 56-byte padding limit and the block size, plus a file of
    // many read chunks that does not end on a chunk boundary.
    const size_t sizes[] = {0, 1, 55, 56, 63, 64, 65, 1000, 100 * 1024 * 1024 + 17};
    std::vector<std::wstring> files;
    for (size_t size : sizes) {
        files.push_back(dir / (L"f" + std::to_wstring(size)));
        ASSERT_TRUE(testing_support::write_file(files.back(), pattern(size, static_cast<uint32_t>(size))));
    }
    const auto expected = host_digests(L"md5sum", files, dir);
    ASSERT_EQ(expected.size(), files.size());
    for (size_t i = 0; i < files.size(); ++i) {
        const std::wstring digest = file_digest(files[i]);
        if (sizes[i] == 0) {
            // An empty file has no digest; the engine itself still agrees with md5sum.
            EXPECT_EQ(digest, L"");
            EXPECT_EQ(md5_of(""), expected[i]);
        } else {
            EXPECT_EQ(digest, expected[i]) << sizes[i] << " bytes";
        }
    }
}

TEST(FileDigest, NoDigestForWhatCannotBeRead) {
    TempDir dir(L"digest");
    EXPECT_EQ(file_digest(dir / L"missing"), L"");
    EXPECT_EQ(file_digest(dir.path()), L"");  // a folder

    // A file that another handle holds without sharing.
    const std::wstring locked = dir / L"locked";
    ASSERT_TRUE(testing_support::write_file(locked, "abc"));
    EXPECT_EQ(file_digest(locked), L"900150983cd24fb0d6963f7d28e17f72");
    HANDLE h = CreateFileW(locked.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    EXPECT_EQ(file_digest(locked), L"");
    CloseHandle(h);
}

TEST(FileDigest, ReadFailurePartWayGivesNoDigest) {
    TempDir dir(L"digest");
    const std::wstring path = dir / L"big";
    ASSERT_TRUE(testing_support::write_file(path, pattern(4 << 20, 3)));
    // Another handle locks the third megabyte: reads of that range fail.
    HANDLE h = CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                           nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    OVERLAPPED at{};
    at.Offset = 2 << 20;
    ASSERT_TRUE(LockFileEx(h, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1 << 20, 0, &at));
    // Wine keeps the lock but does not make reads of the range fail.
    HANDLE reader = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                OPEN_EXISTING, 0, nullptr);
    char probe[16];
    DWORD got = 0;
    SetFilePointer(reader, 2 << 20, nullptr, FILE_BEGIN);
    const bool locks_enforced = !ReadFile(reader, probe, sizeof probe, &got, nullptr);
    CloseHandle(reader);
    if (!locks_enforced) {
        UnlockFileEx(h, 0, 1 << 20, 0, &at);
        CloseHandle(h);
        GTEST_SKIP() << "byte-range locks do not block reads on this system";
    }
    EXPECT_EQ(file_digest(path), L"");
    UnlockFileEx(h, 0, 1 << 20, 0, &at);
    CloseHandle(h);
    EXPECT_EQ(file_digest(path).size(), 32u);
}

std::wstring sha1_of(std::string_view bytes) {
    return sha1_hex(bytes.data(), bytes.size());
}

TEST(SHA1, Fips180Vectors) {
    EXPECT_EQ(sha1_of("abc"), L"a9993e364706816aba3e25717850c26c9cd0d89d");
    EXPECT_EQ(sha1_of("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq"),
              L"84983e441c3bd26ebaae4aa1f95129e5e54670f1");
    // One million "a", fed in uneven pieces.
    SHA1 sha;
    const std::string chunk(999, 'a');
    unsigned left = 1000000;
    while (left) {
        const unsigned n = std::min<unsigned>(left, 999);
        sha.input(reinterpret_cast<const unsigned char*>(chunk.data()), n);
        left -= n;
    }
    ASSERT_TRUE(sha.finish());
    const uint32_t expected[5] = {0x34aa973c, 0xd4c4daa4, 0xf61eeb2b, 0xdbad2731, 0x6534016f};
    for (int i = 0; i < 5; ++i) EXPECT_EQ(sha.digest()[i], expected[i]) << i;
}

TEST(SHA1, PaddingBoundariesMatchHostSha1sum) {
    TempDir dir(L"digest");
    const size_t sizes[] = {0, 1, 55, 56, 57, 63, 64, 65, 119, 120, 128, 5000};
    std::vector<std::wstring> files;
    for (size_t size : sizes) {
        files.push_back(dir / (L"s" + std::to_wstring(size)));
        ASSERT_TRUE(
            testing_support::write_file(files.back(), pattern(size, 100 + static_cast<uint32_t>(size))));
    }
    const auto expected = host_digests(L"sha1sum", files, dir);
    ASSERT_EQ(expected.size(), files.size());
    for (size_t i = 0; i < files.size(); ++i)
        EXPECT_EQ(sha1_of(pattern(sizes[i], 100 + static_cast<uint32_t>(sizes[i]))), expected[i])
            << sizes[i] << " bytes";
}

TEST(SHA1, InputAfterFinishCorruptsUntilReset) {
    SHA1 sha;
    const unsigned char abc[] = {'a', 'b', 'c'};
    sha.input(abc, 3);
    ASSERT_TRUE(sha.finish());
    EXPECT_TRUE(sha.finish());  // finishing twice keeps the digest
    EXPECT_EQ(sha.digest()[0], 0xa9993e36u);
    sha.input(abc, 0);  // nothing at all
    EXPECT_TRUE(sha.finish());
    sha.input(abc, 3);
    EXPECT_FALSE(sha.finish());
    sha.reset();
    sha.input(abc, 3);
    ASSERT_TRUE(sha.finish());
    EXPECT_EQ(sha.digest()[4], 0x9cd0d89du);
}

TEST(TextDigest, HashesTheAnsiFormOfTheText) {
    EXPECT_EQ(text_digest(L""), L"da39a3ee5e6b4b0d3255bfef95601890afd80709");
    EXPECT_EQ(text_digest(L"abc"), L"a9993e364706816aba3e25717850c26c9cd0d89d");
    // Non-ASCII characters are hashed as their single-byte code-page form,
    // not as UTF-16 or UTF-8.
    if (GetACP() == 1252) {
        EXPECT_EQ(text_digest(L"\u00e9"), sha1_of("\xe9"));
    }
    EXPECT_NE(text_digest(L"\u00e9"), sha1_of("\xc3\xa9"));
}

}  // namespace
