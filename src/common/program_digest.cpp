#include "program_digest.h"

#include "digest.h"
#include "security_key.h"
#include "unique_handle.h"

namespace {

// Programs are a few megabytes; anything near this is not one of ours.
constexpr LONGLONG kLargestProgram = 256LL << 20;

bool is_hex(char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

}  // namespace

std::vector<size_t> security_key_slots(std::string_view bytes) {
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

std::wstring program_digest_of(std::string_view bytes) {
    static const char kZeros[kSecurityKeyDigits + 1] = "0000000000000000000000000000000000000000";
    MD5 md5;
    size_t done = 0;
    for (size_t slot : security_key_slots(bytes)) {
        md5.update(bytes.data() + done, slot - done);
        md5.update(kZeros, kSecurityKeyDigits);
        done = slot + kSecurityKeyDigits;
    }
    md5.update(bytes.data() + done, bytes.size() - done);
    return md5.finish_hex();
}

std::wstring program_digest(const std::wstring& path, DWORD& error) {
    error = 0;
    // A running program's file is open for execution: reading it must share
    // with that and with an updater that may rename it.
    unique_file file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                                 OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!file) {
        error = GetLastError();
        return {};
    }
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(file.get(), &size)) {
        error = GetLastError();
        return {};
    }
    if (size.QuadPart > kLargestProgram) {
        error = ERROR_FILE_TOO_LARGE;
        return {};
    }
    std::string bytes(static_cast<size_t>(size.QuadPart), '\0');
    size_t got = 0;
    while (got < bytes.size()) {
        DWORD read = 0;
        if (!ReadFile(file.get(), bytes.data() + got, static_cast<DWORD>(bytes.size() - got), &read,
                      nullptr)) {
            error = GetLastError();
            return {};
        }
        if (read == 0) break;
        got += read;
    }
    if (got != bytes.size()) {  // the file shrank while read: not the program that runs
        error = ERROR_HANDLE_EOF;
        return {};
    }
    return program_digest_of(bytes);
}
