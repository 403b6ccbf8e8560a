#pragma once
// A string-table resource block: 16 consecutive string ids stored as 16
// length-prefixed UTF-16 strings (a zero length means the id is absent).
#include <windows.h>

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

using StringBlock = std::array<std::wstring, 16>;

// The resource name of the block that holds string `id`, and the slot in it.
inline WORD string_block_id(UINT id) {
    return static_cast<WORD>((id >> 4) + 1);
}
inline size_t string_block_slot(UINT id) {
    return id & 15;
}

// The resource bytes of a block. Every string must be at most 65535 units.
std::vector<uint8_t> encode_string_block(const StringBlock& block);

// Reads a block's resource bytes; nullopt when they end before the 16th
// string. Bytes after the 16th string (alignment padding) are ignored.
std::optional<StringBlock> decode_string_block(const void* data, size_t size);

// True when no string of the block is present.
bool string_block_is_empty(const StringBlock& block);
