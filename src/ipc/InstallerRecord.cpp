#include "UpdaterConversation.h"

#include <msi.h>
#include <msiquery.h>

#include <vector>

namespace IPC {

std::optional<std::wstring> FormatInstallerRecord(unsigned long install, unsigned long record) {
    if (MsiRecordGetFieldCount(record) == 0) return std::wstring();
    wchar_t empty[1] = {L'\0'};
    DWORD length = 0;
    UINT result = MsiFormatRecordW(install, record, empty, &length);
    if (result != ERROR_SUCCESS && result != ERROR_MORE_DATA) return std::nullopt;
    std::vector<wchar_t> text(static_cast<std::size_t>(length) + 1, L'\0');
    DWORD size = length + 1;
    if (MsiFormatRecordW(install, record, text.data(), &size) != ERROR_SUCCESS) return std::nullopt;
    return std::wstring(text.data(), size);
}

}  // namespace IPC
