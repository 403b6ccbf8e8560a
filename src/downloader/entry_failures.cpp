#include "entry_failures.h"

#include "failure_report.h"
#include "wexception.h"

std::wstring EntrySystemText(DWORD code) {
    return system_error_text(code);
}

void ReportEntryFailure(const std::wstring& message, DWORD code) noexcept {
    try {
        ReportFailure({message, code});
    } catch (...) {
        // Out of memory while reporting: nothing more can be shown.
    }
}
