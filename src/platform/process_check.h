#pragma once
// Is a program running? Used to wait for host applications, msiexec.exe and
// the updater.
#include <string>

#include <windows.h>

enum class ProcessEnumeration {
    snapshot,      // Toolhelp process snapshot, comparing its executable names
    process_list,  // process ids, each opened for its image file name
};

// True when some process runs the executable file_name (compared without
// regard to case), has the id process_id when that is not 0, and, with
// same_session, runs in this process's Windows session. A process whose
// session cannot be read counts as matching; when our own session cannot be
// read the session filter is dropped.
bool is_process_running(const std::wstring& file_name, DWORD process_id, bool same_session,
                        ProcessEnumeration method);
