#include "string_block.h"

std::vector<uint8_t> encode_string_block(const StringBlock& block) {
    std::vector<uint8_t> bytes;
    for (const auto& text : block) {
        const uint16_t length = static_cast<uint16_t>(text.size());
        bytes.push_back(static_cast<uint8_t>(length & 0xFF));
        bytes.push_back(static_cast<uint8_t>(length >> 8));
        for (wchar_t c : text) {
            const uint16_t unit = static_cast<uint16_t>(c);
            bytes.push_back(static_cast<uint8_t>(unit & 0xFF));
            bytes.push_back(static_cast<uint8_t>(unit >> 8));
        }
    }
    return bytes;
}

std::optional<StringBlock> decode_string_block(const void* data, size_t size) {
    const auto* bytes = static_cast<const uint8_t*>(data);
    StringBlock block;
    size_t at = 0;
    for (auto& text : block) {
        if (size - at < 2) return std::nullopt;
        const size_t length = bytes[at] | (bytes[at + 1] << 8);
        at += 2;
        if ((size - at) / 2 < length) return std::nullopt;
        text.resize(length);
        for (size_t i = 0; i < length; ++i, at += 2)
            text[i] = static_cast<wchar_t>(bytes[at] | (bytes[at + 1] << 8));
    }
    return block;
}

bool string_block_is_empty(const StringBlock& block) {
    for (const auto& text : block)
        if (!text.empty()) return false;
    return true;
}
