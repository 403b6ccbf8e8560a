#pragma once
// The XML tokenizer: splits a text into nodes one at a time, without
// building anything. The document (xml_document.h) builds its element index
// from these nodes.
//
// Text is UTF-16 code units held in wchar_t. On Windows wchar_t is 16 bits
// and the text is what every Win32 call and the rest of the product use; on
// Linux (native fuzzing builds) wchar_t is wider but still holds one UTF-16
// code unit per element, so offsets mean the same on both.
#include <cstddef>
#include <string>
#include <string_view>

namespace xml {

enum NodeKind : int {
    kNodeEndTag = 0,
    kNodeElement = 1,
    kNodeText = 2,
    kNodeWhitespace = 4,
    kNodeCData = 8,
    kNodeProcessingInstruction = 16,
    kNodeComment = 32,
    kNodeDoctype = 64,
    kNodeError = -1,
    kNodeEnd = -2,
};

// What went wrong in an error node; the message is formatted only when it is
// kept (NodeErrorMessage).
enum class NodeError {
    none,
    incorrect_comment,    // "Incorrect comment tag at offset %d"
    incorrect_bracket,    // "Incorrect tag at offset %d"
    incorrect_bang,       // "Incorrect ! tag at offset %d"
    incorrect_name_char,  // "Incorrect tag name character at offset %d"
    unterminated_element,
    unterminated_end_tag,
    unterminated_cdata,
    unterminated_pi,
    unterminated_comment,
    unterminated_doctype,
    unterminated_tag,
};

struct Node {
    int kind = kNodeEnd;
    std::size_t start = 0;   // offset of the first character
    std::size_t length = 0;  // characters of the node
    // Tags only: the name, and for a start tag whether it is "<x/>".
    std::size_t name_start = 0;
    std::size_t name_length = 0;
    bool empty_element = false;
    NodeError error = NodeError::none;
    std::size_t error_offset = 0;
};

inline bool IsXmlSpace(wchar_t c) {
    return c == L' ' || c == L'\t' || c == L'\n' || c == L'\r';
}

// The node that starts at offset pos. Never reads outside text.
Node NextNode(std::wstring_view text, std::size_t pos);

// The error text of an error node.
std::wstring NodeErrorMessage(const Node& node);

// Decimal text of a number (the core formats its messages without the C
// runtime's locale-dependent printf).
std::wstring DecimalText(std::size_t value);

}  // namespace xml
