#pragma once
// File-system operations shared by the engine and its task modules: folder
// trees, whole files, path and URL joining, name and folder parts.
#include <string>
#include <string_view>

#include <windows.h>

#include "operation_error.h"
#include "permissions.h"

// Creates every missing level of path and resets the permissions of each
// level it creates, the outermost first. An existing path succeeds at once.
bool create_folder_tree(const std::wstring& path, const PermissionReset& reset, OperationError& error);

// The same without texts and without permission reset.
bool create_folder_tree_silently(const std::wstring& path);

// Removes the folder's contents (read-only files included) and the folder.
// Reports nothing; false when anything stays.
bool delete_folder_tree(const std::wstring& folder);

// Reads the whole file into bytes. False also for an empty file; the caller
// reads GetLastError. bytes is emptied first.
bool read_whole_file(const std::wstring& path, std::string& bytes);

// Replaces the file with length bytes, read-only or not. A length of 0
// leaves an empty file. The caller reads GetLastError.
bool write_whole_file(const std::wstring& path, const void* bytes, DWORD length);

// a + "\" + b with "/" in b taken as "\", "." and ".." resolved. Empty text
// when the result does not fit MAX_PATH or cannot be combined.
std::wstring path_join(std::wstring_view a, std::wstring_view b);

// b resolved against a as a URL, a taken as a folder. Empty text on failure.
std::wstring url_join(std::wstring_view a, std::wstring_view b);

// The text after the last "\" and, within that, after the last "/".
std::wstring file_name_part(std::wstring_view path);

// The text before the last separator; the whole text when the separator
// occurs nowhere or only as the first character.
std::wstring directory_part(std::wstring_view path, wchar_t separator = L'\\');
