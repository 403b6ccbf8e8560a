#pragma once
// The security key inside a program file: the 38-character marker followed
// by 40 hexadecimal digits.
#include <string>
#include <string_view>
#include <vector>

// Offsets of the key digits (just after the marker) for every marker that is
// followed by 40 hexadecimal digits. A bare marker (the constant the code
// compares against, if any) is not a key slot.
std::vector<size_t> find_key_slots(std::string_view bytes);
