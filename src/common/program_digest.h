#pragma once
// The digest that version_info.xml gives for the downloader program itself
// (`hash` of `files`): MD5 of the program file with the 40 security-key
// digits read as "0". The key depends on the signed description, which
// already lists this digest, so the key must not take part in it.
#include <windows.h>

#include <string>
#include <string_view>
#include <vector>

// Offsets of the key digits for every security-key marker in bytes that is
// followed by 40 hexadecimal digits (a bare marker is not a key).
std::vector<size_t> security_key_slots(std::string_view bytes);

// MD5 of bytes with every key slot counted as "0" digits, as 32 lower-case
// hexadecimal digits.
std::wstring program_digest_of(std::string_view bytes);

// The same over a program file. Empty when the file cannot be read, with
// the Win32 code in error.
std::wstring program_digest(const std::wstring& path, DWORD& error);
