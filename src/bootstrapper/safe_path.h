#pragma once
// File names listed in version_info.xml are untrusted: they decide where a
// downloaded file is written. These checks keep every such file inside the
// folder it belongs to.
#include <string>
#include <string_view>

#include "operation_error.h"

// True when name is a relative path of ordinary names below a folder:
// sub-folders separated by "\" or "/" are fine; refused are an empty name or
// segment, a rooted or UNC path, a drive letter or any ":" (streams), "." and
// ".." segments (and segments of only dots and spaces), device names (CON,
// NUL, COM1, ... with or without extension), wildcards, control characters
// and the other characters no file name may hold.
bool is_safe_listed_name(std::wstring_view name);

// folder joined with a listed name (path_join). A name that is not safe, or
// a result that would not fit, fails with "Invalid file name '<name>' in
// version_info.xml." and ERROR_INVALID_NAME; path is left untouched.
bool join_listed_name(const std::wstring& folder, std::wstring_view name, std::wstring& path,
                      OperationError& error);

// Sets that refusal for name, as the description lists it.
void refuse_listed_name(std::wstring_view name, OperationError& error);
