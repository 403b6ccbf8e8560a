#pragma once
// The two digests of the product: MD5 over a file's bytes (every downloaded
// file is checked against it) and SHA-1 over a text (the signer certificate).
#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

// Incremental MD5 (RFC 1321).
class MD5 {
public:
    MD5() noexcept { reset(); }
    void reset() noexcept;
    void update(const void* bytes, size_t count) noexcept;
    // Pads the message and returns the 16 digest bytes; reset() before reuse.
    std::array<uint8_t, 16> finish() noexcept;
    // finish() written as 32 lower-case hexadecimal digits.
    std::wstring finish_hex();

private:
    void transform(const uint8_t* blocks, size_t count) noexcept;

    uint32_t state_[4];
    uint64_t length_;  // bytes fed so far
    uint8_t buffer_[64];
    size_t buffered_;
};

// SHA-1 (FIPS 180-1) over a byte stream.
class SHA1 {
public:
    SHA1() noexcept { reset(); }
    virtual ~SHA1() = default;

    void reset() noexcept;
    // Feeds count bytes. Input after finish(), or a message longer than
    // 2^64 bits, marks the object corrupted.
    void input(const unsigned char* bytes, unsigned count) noexcept;
    // Completes the message; false when the object is corrupted (no digest).
    bool finish() noexcept;
    // The five digest words H0..H4; final after a successful finish().
    const uint32_t* digest() const noexcept { return message_digest_; }

private:
    void process_block() noexcept;
    void pad_message() noexcept;

    uint32_t message_digest_[5];
    uint32_t length_low_;
    uint32_t length_high_;
    unsigned char message_block_[64];
    int32_t block_index_;
    bool computed_;
    bool corrupted_;
};

// MD5 of the file's bytes as 32 lower-case hex digits. Empty when the file is
// missing, unreadable (also part-way through) or empty.
std::wstring file_digest(const std::wstring& path);

// SHA-1 of the text in the thread's ANSI code page, as 40 lower-case hex
// digits.
std::wstring text_digest(std::wstring_view text);

// SHA-1 of raw bytes as 40 lower-case hex digits; empty when the engine refused them.
std::wstring sha1_hex(const void* bytes, size_t count);
