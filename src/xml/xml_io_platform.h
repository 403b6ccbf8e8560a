#pragma once
// What the shared stdio file code needs from each side of the seam.
#include <cstdio>
#include <string>

namespace xml::io::platform {

// Opens a file in byte mode for reading or for writing (truncating).
std::FILE* OpenFile(const std::wstring& path, bool write);

// The runtime's description of an errno value.
std::wstring ErrnoText(int error);

}  // namespace xml::io::platform
