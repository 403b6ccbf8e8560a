#include "key_slot.h"

#include "security_key.h"

namespace {
bool is_hex(char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}
}  // namespace

std::vector<size_t> find_key_slots(std::string_view bytes) {
    const std::string_view marker(kSecurityKeyMarker, kSecurityKeyMarkerLength);
    std::vector<size_t> slots;
    for (size_t at = bytes.find(marker); at != std::string_view::npos; at = bytes.find(marker, at + 1)) {
        const size_t digits = at + marker.size();
        if (bytes.size() - digits < kSecurityKeyDigits) continue;
        bool hex = true;
        for (size_t i = 0; i < kSecurityKeyDigits && hex; ++i) hex = is_hex(bytes[digits + i]);
        if (hex) slots.push_back(digits);
    }
    return slots;
}
