#include "security_key.h"

// volatile keeps the compiler from reading the default digits at build time.
// The exe's link keeps the symbol (see src/downloader/CMakeLists.txt) so the
// stamping tool finds the marker even in a build where nothing reads it.
extern "C" const volatile char g_security_key[];
extern "C" const volatile char g_security_key[] =
    "_F3CD5570_00C9_46A6_B776_E37A6813F93A_0000000000000000000000000000000000000000";

std::string security_key_digits() {
    std::string digits(kSecurityKeyDigits, '0');
    for (size_t i = 0; i < kSecurityKeyDigits; ++i)
        digits[i] = g_security_key[kSecurityKeyMarkerLength + i];
    return digits;
}

bool security_key_is_empty() {
    for (char c : security_key_digits())
        if (c != '0') return false;
    return true;
}
