#pragma once
// Reporting of failures caught by the entry point's handlers.
#include <windows.h>

#include <string>

// The system's text for a Win32 code; empty for 0.
std::wstring EntrySystemText(DWORD code);

// Shows a failure that ended the start-up: message T with Win32 code E (0
// when the message says it all). Never throws.
void ReportEntryFailure(const std::wstring& message, DWORD code) noexcept;
