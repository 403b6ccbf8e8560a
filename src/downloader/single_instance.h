#pragma once
// One downloader per executable name: a global atom named after the file
// plus a top-level window of the downloader's class.
#include <string>

// True when the atom exists and a window of windowClassName is open. An
// atom without such a window was left by a crashed run and is deleted.
bool AnotherInstanceRunning(const std::wstring& executableName, const std::wstring& windowClassName);

// Adds the atom once the windows exist; released by ReleaseInstanceAtom.
void HoldInstanceAtom(const std::wstring& executableName);
void ReleaseInstanceAtom();

// Whether a top-level window of the class (any case) exists.
bool InstanceWindowExists(const std::wstring& windowClassName);
