#include "process_check.h"

#include <tlhelp32.h>
#include <psapi.h>

#include <vector>

#include "text.h"
#include "unique_handle.h"

namespace {

struct SessionFilter {
    bool active = false;
    DWORD own = 0;

    bool matches(DWORD process_id) const {
        if (!active) return true;
        DWORD session = 0;
        if (!ProcessIdToSessionId(process_id, &session)) return true;
        return session == own;
    }
};

SessionFilter make_filter(bool same_session) {
    SessionFilter filter;
    if (same_session) filter.active = ProcessIdToSessionId(GetCurrentProcessId(), &filter.own) != FALSE;
    return filter;
}

bool running_in_snapshot(const std::wstring& file_name, DWORD process_id, const SessionFilter& filter) {
    unique_file snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    if (!snapshot) return false;
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32FirstW(snapshot.get(), &entry); more;
         more = Process32NextW(snapshot.get(), &entry)) {
        if (process_id != 0 && entry.th32ProcessID != process_id) continue;
        if (!iequals(entry.szExeFile, file_name)) continue;
        if (filter.matches(entry.th32ProcessID)) return true;
    }
    return false;
}

bool running_in_process_list(const std::wstring& file_name, DWORD process_id, const SessionFilter& filter) {
    std::vector<DWORD> ids(1024);
    DWORD bytes = 0;
    for (;;) {
        const DWORD capacity = static_cast<DWORD>(ids.size() * sizeof(DWORD));
        if (!EnumProcesses(ids.data(), capacity, &bytes)) return false;
        if (bytes < capacity) break;
        ids.resize(ids.size() + 1024);  // full: there may be more
    }
    ids.resize(bytes / sizeof(DWORD));
    for (DWORD id : ids) {
        if (process_id != 0 && id != process_id) continue;
        unique_kernel_handle process(OpenProcess(PROCESS_QUERY_INFORMATION, FALSE, id));
        if (!process) continue;
        wchar_t image[MAX_PATH];
        const DWORD length = GetProcessImageFileNameW(process.get(), image, MAX_PATH);
        if (length == 0) continue;
        // The image name is a device path; only its file-name part matters.
        std::wstring_view path(image, length);
        const size_t slash = path.find_last_of(L"\\/");
        const std::wstring_view name = slash == std::wstring_view::npos ? path : path.substr(slash + 1);
        if (iequals(name, file_name) && filter.matches(id)) return true;
    }
    return false;
}

}  // namespace

bool is_process_running(const std::wstring& file_name, DWORD process_id, bool same_session,
                        ProcessEnumeration method) {
    const SessionFilter filter = make_filter(same_session);
    return method == ProcessEnumeration::snapshot ? running_in_snapshot(file_name, process_id, filter)
                                                  : running_in_process_list(file_name, process_id, filter);
}
