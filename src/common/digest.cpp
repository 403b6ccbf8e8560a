#include "digest.h"

#include <cstring>
#include <memory>
#include <vector>

#include <windows.h>

namespace {

inline uint32_t rotl(uint32_t x, int n) {
    return (x << n) | (x >> (32 - n));
}

inline uint32_t load_le32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
           (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

// The four MD5 round functions, written in their cheapest equivalent forms.
inline uint32_t f1(uint32_t x, uint32_t y, uint32_t z) {
    return z ^ (x & (y ^ z));
}
inline uint32_t f2(uint32_t x, uint32_t y, uint32_t z) {
    return y ^ (z & (x ^ y));
}
inline uint32_t f3(uint32_t x, uint32_t y, uint32_t z) {
    return x ^ y ^ z;
}
inline uint32_t f4(uint32_t x, uint32_t y, uint32_t z) {
    return y ^ (x | ~z);
}

#define MD5_STEP(f, a, b, c, d, x, t, s) \
    a += f(b, c, d) + (x) + (t);         \
    a = rotl(a, s) + b;

const wchar_t kHex[] = L"0123456789abcdef";

}  // namespace

void MD5::reset() noexcept {
    state_[0] = 0x67452301;
    state_[1] = 0xefcdab89;
    state_[2] = 0x98badcfe;
    state_[3] = 0x10325476;
    length_ = 0;
    buffered_ = 0;
}

void MD5::transform(const uint8_t* blocks, size_t count) noexcept {
    uint32_t a = state_[0], b = state_[1], c = state_[2], d = state_[3];
    for (; count; --count, blocks += 64) {
        uint32_t x[16];
        for (int i = 0; i < 16; ++i) x[i] = load_le32(blocks + 4 * i);
        const uint32_t aa = a, bb = b, cc = c, dd = d;

        MD5_STEP(f1, a, b, c, d, x[0], 0xd76aa478, 7)
        MD5_STEP(f1, d, a, b, c, x[1], 0xe8c7b756, 12)
        MD5_STEP(f1, c, d, a, b, x[2], 0x242070db, 17)
        MD5_STEP(f1, b, c, d, a, x[3], 0xc1bdceee, 22)
        MD5_STEP(f1, a, b, c, d, x[4], 0xf57c0faf, 7)
        MD5_STEP(f1, d, a, b, c, x[5], 0x4787c62a, 12)
        MD5_STEP(f1, c, d, a, b, x[6], 0xa8304613, 17)
        MD5_STEP(f1, b, c, d, a, x[7], 0xfd469501, 22)
        MD5_STEP(f1, a, b, c, d, x[8], 0x698098d8, 7)
        MD5_STEP(f1, d, a, b, c, x[9], 0x8b44f7af, 12)
        MD5_STEP(f1, c, d, a, b, x[10], 0xffff5bb1, 17)
        MD5_STEP(f1, b, c, d, a, x[11], 0x895cd7be, 22)
        MD5_STEP(f1, a, b, c, d, x[12], 0x6b901122, 7)
        MD5_STEP(f1, d, a, b, c, x[13], 0xfd987193, 12)
        MD5_STEP(f1, c, d, a, b, x[14], 0xa679438e, 17)
        MD5_STEP(f1, b, c, d, a, x[15], 0x49b40821, 22)

        MD5_STEP(f2, a, b, c, d, x[1], 0xf61e2562, 5)
        MD5_STEP(f2, d, a, b, c, x[6], 0xc040b340, 9)
        MD5_STEP(f2, c, d, a, b, x[11], 0x265e5a51, 14)
        MD5_STEP(f2, b, c, d, a, x[0], 0xe9b6c7aa, 20)
        MD5_STEP(f2, a, b, c, d, x[5], 0xd62f105d, 5)
        MD5_STEP(f2, d, a, b, c, x[10], 0x02441453, 9)
        MD5_STEP(f2, c, d, a, b, x[15], 0xd8a1e681, 14)
        MD5_STEP(f2, b, c, d, a, x[4], 0xe7d3fbc8, 20)
        MD5_STEP(f2, a, b, c, d, x[9], 0x21e1cde6, 5)
        MD5_STEP(f2, d, a, b, c, x[14], 0xc33707d6, 9)
        MD5_STEP(f2, c, d, a, b, x[3], 0xf4d50d87, 14)
        MD5_STEP(f2, b, c, d, a, x[8], 0x455a14ed, 20)
        MD5_STEP(f2, a, b, c, d, x[13], 0xa9e3e905, 5)
        MD5_STEP(f2, d, a, b, c, x[2], 0xfcefa3f8, 9)
        MD5_STEP(f2, c, d, a, b, x[7], 0x676f02d9, 14)
        MD5_STEP(f2, b, c, d, a, x[12], 0x8d2a4c8a, 20)

        MD5_STEP(f3, a, b, c, d, x[5], 0xfffa3942, 4)
        MD5_STEP(f3, d, a, b, c, x[8], 0x8771f681, 11)
        MD5_STEP(f3, c, d, a, b, x[11], 0x6d9d6122, 16)
        MD5_STEP(f3, b, c, d, a, x[14], 0xfde5380c, 23)
        MD5_STEP(f3, a, b, c, d, x[1], 0xa4beea44, 4)
        MD5_STEP(f3, d, a, b, c, x[4], 0x4bdecfa9, 11)
        MD5_STEP(f3, c, d, a, b, x[7], 0xf6bb4b60, 16)
        MD5_STEP(f3, b, c, d, a, x[10], 0xbebfbc70, 23)
        MD5_STEP(f3, a, b, c, d, x[13], 0x289b7ec6, 4)
        MD5_STEP(f3, d, a, b, c, x[0], 0xeaa127fa, 11)
        MD5_STEP(f3, c, d, a, b, x[3], 0xd4ef3085, 16)
        MD5_STEP(f3, b, c, d, a, x[6], 0x04881d05, 23)
        MD5_STEP(f3, a, b, c, d, x[9], 0xd9d4d039, 4)
        MD5_STEP(f3, d, a, b, c, x[12], 0xe6db99e5, 11)
        MD5_STEP(f3, c, d, a, b, x[15], 0x1fa27cf8, 16)
        MD5_STEP(f3, b, c, d, a, x[2], 0xc4ac5665, 23)

        MD5_STEP(f4, a, b, c, d, x[0], 0xf4292244, 6)
        MD5_STEP(f4, d, a, b, c, x[7], 0x432aff97, 10)
        MD5_STEP(f4, c, d, a, b, x[14], 0xab9423a7, 15)
        MD5_STEP(f4, b, c, d, a, x[5], 0xfc93a039, 21)
        MD5_STEP(f4, a, b, c, d, x[12], 0x655b59c3, 6)
        MD5_STEP(f4, d, a, b, c, x[3], 0x8f0ccc92, 10)
        MD5_STEP(f4, c, d, a, b, x[10], 0xffeff47d, 15)
        MD5_STEP(f4, b, c, d, a, x[1], 0x85845dd1, 21)
        MD5_STEP(f4, a, b, c, d, x[8], 0x6fa87e4f, 6)
        MD5_STEP(f4, d, a, b, c, x[15], 0xfe2ce6e0, 10)
        MD5_STEP(f4, c, d, a, b, x[6], 0xa3014314, 15)
        MD5_STEP(f4, b, c, d, a, x[13], 0x4e0811a1, 21)
        MD5_STEP(f4, a, b, c, d, x[4], 0xf7537e82, 6)
        MD5_STEP(f4, d, a, b, c, x[11], 0xbd3af235, 10)
        MD5_STEP(f4, c, d, a, b, x[2], 0x2ad7d2bb, 15)
        MD5_STEP(f4, b, c, d, a, x[9], 0xeb86d391, 21)

        a += aa;
        b += bb;
        c += cc;
        d += dd;
    }
    state_[0] = a;
    state_[1] = b;
    state_[2] = c;
    state_[3] = d;
}

void MD5::update(const void* bytes, size_t count) noexcept {
    const uint8_t* p = static_cast<const uint8_t*>(bytes);
    length_ += count;
    if (buffered_) {
        size_t take = 64 - buffered_ < count ? 64 - buffered_ : count;
        std::memcpy(buffer_ + buffered_, p, take);
        buffered_ += take;
        p += take;
        count -= take;
        if (buffered_ < 64) return;
        transform(buffer_, 1);
        buffered_ = 0;
    }
    // Whole blocks straight from the caller's memory.
    if (count >= 64) {
        transform(p, count / 64);
        p += count & ~static_cast<size_t>(63);
        count &= 63;
    }
    if (count) {
        std::memcpy(buffer_, p, count);
        buffered_ = count;
    }
}

std::array<uint8_t, 16> MD5::finish() noexcept {
    const uint64_t bits = length_ * 8;
    uint8_t pad[72] = {0x80};
    const size_t pad_length = (buffered_ < 56 ? 56 : 120) - buffered_;
    update(pad, pad_length);
    uint8_t length_bytes[8];
    for (int i = 0; i < 8; ++i) length_bytes[i] = static_cast<uint8_t>(bits >> (8 * i));
    update(length_bytes, 8);
    std::array<uint8_t, 16> out;
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 4; ++j) out[4 * i + j] = static_cast<uint8_t>(state_[i] >> (8 * j));
    return out;
}

std::wstring MD5::finish_hex() {
    const auto bytes = finish();
    std::wstring out(32, L'0');
    for (size_t i = 0; i < bytes.size(); ++i) {
        out[2 * i] = kHex[bytes[i] >> 4];
        out[2 * i + 1] = kHex[bytes[i] & 15];
    }
    return out;
}

void SHA1::reset() noexcept {
    message_digest_[0] = 0x67452301;
    message_digest_[1] = 0xEFCDAB89;
    message_digest_[2] = 0x98BADCFE;
    message_digest_[3] = 0x10325476;
    message_digest_[4] = 0xC3D2E1F0;
    length_low_ = 0;
    length_high_ = 0;
    block_index_ = 0;
    computed_ = false;
    corrupted_ = false;
}

void SHA1::input(const unsigned char* bytes, unsigned count) noexcept {
    if (!count) return;
    if (computed_ || corrupted_) {
        corrupted_ = true;
        return;
    }
    while (count--) {
        message_block_[block_index_++] = *bytes++;
        length_low_ += 8;
        if (length_low_ == 0 && ++length_high_ == 0) {
            corrupted_ = true;  // message longer than 2^64 bits
            return;
        }
        if (block_index_ == 64) process_block();
    }
}

bool SHA1::finish() noexcept {
    if (corrupted_) return false;
    if (!computed_) {
        pad_message();
        computed_ = true;
    }
    return true;
}

void SHA1::process_block() noexcept {
    uint32_t w[80];
    for (int t = 0; t < 16; ++t) {
        w[t] = (static_cast<uint32_t>(message_block_[4 * t]) << 24) |
               (static_cast<uint32_t>(message_block_[4 * t + 1]) << 16) |
               (static_cast<uint32_t>(message_block_[4 * t + 2]) << 8) |
               static_cast<uint32_t>(message_block_[4 * t + 3]);
    }
    for (int t = 16; t < 80; ++t) w[t] = rotl(w[t - 3] ^ w[t - 8] ^ w[t - 14] ^ w[t - 16], 1);

    uint32_t a = message_digest_[0], b = message_digest_[1], c = message_digest_[2], d = message_digest_[3],
             e = message_digest_[4];
    for (int t = 0; t < 80; ++t) {
        uint32_t f, k;
        if (t < 20) {
            f = (b & c) | (~b & d);
            k = 0x5A827999;
        } else if (t < 40) {
            f = b ^ c ^ d;
            k = 0x6ED9EBA1;
        } else if (t < 60) {
            f = (b & c) | (b & d) | (c & d);
            k = 0x8F1BBCDC;
        } else {
            f = b ^ c ^ d;
            k = 0xCA62C1D6;
        }
        const uint32_t temp = rotl(a, 5) + f + e + w[t] + k;
        e = d;
        d = c;
        c = rotl(b, 30);
        b = a;
        a = temp;
    }
    message_digest_[0] += a;
    message_digest_[1] += b;
    message_digest_[2] += c;
    message_digest_[3] += d;
    message_digest_[4] += e;
    block_index_ = 0;
}

void SHA1::pad_message() noexcept {
    // The 8-byte length must fit after the 0x80 marker; otherwise it goes
    // into an extra block.
    message_block_[block_index_++] = 0x80;
    if (block_index_ > 56) {
        while (block_index_ < 64) message_block_[block_index_++] = 0;
        process_block();
    }
    while (block_index_ < 56) message_block_[block_index_++] = 0;
    for (int i = 0; i < 4; ++i) {
        message_block_[56 + i] = static_cast<unsigned char>(length_high_ >> (24 - 8 * i));
        message_block_[60 + i] = static_cast<unsigned char>(length_low_ >> (24 - 8 * i));
    }
    process_block();
}

std::wstring file_digest(const std::wstring& path) {
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (file == INVALID_HANDLE_VALUE) return {};

    // Large reads keep the system-call cost far below the hashing cost.
    constexpr DWORD kChunk = 1 << 20;
    std::unique_ptr<uint8_t[]> buffer(new (std::nothrow) uint8_t[kChunk]);
    MD5 md5;
    uint64_t total = 0;
    bool failed = buffer == nullptr;
    while (!failed) {
        DWORD got = 0;
        if (!ReadFile(file, buffer.get(), kChunk, &got, nullptr)) {
            failed = true;  // a digest of part of the file would match nothing
            break;
        }
        if (!got) break;
        md5.update(buffer.get(), got);
        total += got;
    }
    CloseHandle(file);
    if (failed || total == 0) return {};

    return md5.finish_hex();
}

std::wstring sha1_hex(const void* bytes, size_t count) {
    SHA1 sha;
    const unsigned char* p = static_cast<const unsigned char*>(bytes);
    while (count) {
        const unsigned step = count > 0x40000000u ? 0x40000000u : static_cast<unsigned>(count);
        sha.input(p, step);
        p += step;
        count -= step;
    }
    if (!sha.finish()) return {};
    std::wstring out(40, L'0');
    for (int w = 0; w < 5; ++w)
        for (int n = 0; n < 8; ++n) out[8 * w + n] = kHex[(sha.digest()[w] >> (28 - 4 * n)) & 15];
    return out;
}

std::wstring text_digest(std::wstring_view text) {
    std::string bytes;
    if (!text.empty()) {
        const int n = WideCharToMultiByte(CP_THREAD_ACP, 0, text.data(), static_cast<int>(text.size()),
                                          nullptr, 0, nullptr, nullptr);
        if (n > 0) {
            bytes.resize(static_cast<size_t>(n));
            WideCharToMultiByte(CP_THREAD_ACP, 0, text.data(), static_cast<int>(text.size()), bytes.data(), n,
                                nullptr, nullptr);
        }
    }
    return sha1_hex(bytes.data(), bytes.size());
}
