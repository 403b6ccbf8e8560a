// Texts the shared error helpers put into failure messages. Tests compare them exactly.
#pragma once

namespace texts {

// System error texts: the fallback when Windows has no text, and the code ending of with_error_code.
inline constexpr wchar_t kNoSystemText[] = L"Error code: 0x%x";
inline constexpr wchar_t kErrorCodeEnding[] = L". Error: %d.";

}  // namespace texts
