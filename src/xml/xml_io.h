#pragma once
// The document's only contact with the system: whole-file reads and writes
// and UTF-8 conversion. xml_io_win.cpp implements it with Win32 and the C
// runtime; xml_io_portable.cpp with standard C++ for native builds; the
// whole-file reads and writes they share are in xml_io_stdio.cpp.
#include <string>
#include <string_view>

namespace xml::io {

// UTF-8 to UTF-16 code units; invalid sequences become U+FFFD the way
// Windows replaces them. A byte order mark stays as U+FEFF.
std::wstring Utf8ToUtf16(std::string_view bytes);

// UTF-16 code units to UTF-8; a lone surrogate becomes U+FFFD.
std::string Utf16ToUtf8(std::wstring_view text);

// Whole-file read and write in byte mode. On failure `error` receives the
// runtime's description of the failure (strerror of errno).
bool ReadFileBytes(const std::wstring& path, std::string& bytes, std::wstring& error);
bool WriteFileBytes(const std::wstring& path, std::string_view bytes, std::wstring& error);

}  // namespace xml::io
