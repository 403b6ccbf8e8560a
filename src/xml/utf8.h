#pragma once
// Portable UTF-8 <-> UTF-16 conversion that replaces invalid input the way
// MultiByteToWideChar/WideCharToMultiByte (code page 65001, flags 0) do.
// Used by native builds; tests compare it with the system's conversion.
#include <string>
#include <string_view>

namespace xml::utf8 {

// Invalid input becomes U+FFFD: a byte that cannot start a sequence, a
// stray continuation byte, a sequence cut short (one U+FFFD for the lead
// and the continuation bytes read so far), and a lead byte whose second
// byte is a continuation byte outside the range the lead allows
// (overlong forms, surrogates, values above U+10FFFF: one U+FFFD for the
// two bytes).
std::wstring Decode(std::string_view bytes);

// Lone surrogates become U+FFFD.
std::string Encode(std::wstring_view text);

}  // namespace xml::utf8
