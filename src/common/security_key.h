#pragma once
// The signer-certificate key built into the downloader. It sits in the
// program file as one 8-bit text: a fixed marker followed by 40 hexadecimal
// digits, so the publisher's stamping tool can find and rewrite it.
#include <string>

inline constexpr char kSecurityKeyMarker[] = "_F3CD5570_00C9_46A6_B776_E37A6813F93A_";
inline constexpr size_t kSecurityKeyMarkerLength = sizeof(kSecurityKeyMarker) - 1;  // 38
inline constexpr size_t kSecurityKeyDigits = 40;

// The 40 key digits as stored in this program file (read at run time, never
// folded by the compiler, since the file may have been stamped).
std::string security_key_digits();

// True when every key digit is '0': the downloader accepts unsigned descriptions.
bool security_key_is_empty();
