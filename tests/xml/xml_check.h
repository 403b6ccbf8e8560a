#pragma once
// Index checks shared by the XML tests (Wine and native builds).
#include <string>

#include "xml_document.h"

namespace xml_check {

// Checks that the index describes the text: every live record is reached
// from record 0 exactly once, links agree with each other, children lie in
// their parent's content in order, tags start with '<' and end with '>',
// depths follow the nesting. Returns the first problem, or "" when sound.
std::string CheckIndex(const xml::CXmlDocument& doc);

// Compares the index with that of a fresh parse of the same text (same
// elements with the same offsets, lengths, depths, flags and links).
// Returns the first difference, or "".
std::string CompareWithFreshParse(const xml::CXmlDocument& doc);

// Narrow text of a wide string for failure messages (non-ASCII as '?').
std::string Narrow(const std::wstring& text);

}  // namespace xml_check
