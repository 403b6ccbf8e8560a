#include "xml_tokenizer.h"

namespace xml {

namespace {

constexpr std::size_t npos = std::wstring_view::npos;

Node ErrorNode(NodeError error, std::size_t start, std::size_t end, std::size_t offset) {
    Node node;
    node.kind = kNodeError;
    node.start = start;
    node.length = end - start;
    node.error = error;
    node.error_offset = offset;
    return node;
}

// A construct that runs to the end of the text: one error node up to the end.
Node Unterminated(NodeError error, std::wstring_view text, std::size_t start) {
    return ErrorNode(error, start, text.size(), start);
}

// A node from start to end (exclusive).
Node Span(int kind, std::size_t start, std::size_t end) {
    Node node;
    node.kind = kind;
    node.start = start;
    node.length = end - start;
    return node;
}

bool EndsName(wchar_t c) {
    return IsXmlSpace(c) || c == L'/' || c == L'>';
}

std::size_t NameEnd(std::wstring_view text, std::size_t pos) {
    while (pos < text.size() && !EndsName(text[pos])) ++pos;
    return pos;
}

Node TextRun(std::wstring_view text, std::size_t pos) {
    std::size_t end = text.find(L'<', pos);
    if (end == npos) end = text.size();
    std::size_t i = pos;
    while (i < end && IsXmlSpace(text[i])) ++i;
    return Span(i == end ? kNodeWhitespace : kNodeText, pos, end);
}

Node EndTag(std::wstring_view text, std::size_t pos) {
    const std::size_t name_end = NameEnd(text, pos + 2);
    const std::size_t close = text.find(L'>', name_end);
    if (close == npos) return Unterminated(NodeError::unterminated_end_tag, text, pos);
    Node node = Span(kNodeEndTag, pos, close + 1);
    node.name_start = pos + 2;
    node.name_length = name_end - (pos + 2);
    return node;
}

Node Delimited(std::wstring_view text, std::size_t pos, std::size_t from, std::wstring_view terminator,
               int kind, NodeError unterminated) {
    const std::size_t end = text.find(terminator, from);
    if (end == npos) return Unterminated(unterminated, text, pos);
    return Span(kind, pos, end + terminator.size());
}

Node Doctype(std::wstring_view text, std::size_t pos) {
    std::size_t i = pos + 3;
    while (i < text.size()) {
        const wchar_t c = text[i];
        if (c == L'>') return Span(kNodeDoctype, pos, i + 1);
        if (c == L'<' && i + 1 < text.size() && text[i + 1] == L'!') {
            if (i + 2 >= text.size()) break;
            const wchar_t kind = text[i + 2];
            if (kind != L'E' && kind != L'A' && kind != L'N')
                return ErrorNode(NodeError::incorrect_bang, pos, i + 2, i);
            const std::size_t close = text.find(L'>', i + 3);
            if (close == npos) break;
            i = close + 1;
            continue;
        }
        ++i;
    }
    return Unterminated(NodeError::unterminated_doctype, text, pos);
}

Node Bang(std::wstring_view text, std::size_t pos) {
    if (pos + 2 >= text.size()) return Unterminated(NodeError::unterminated_tag, text, pos);
    switch (text[pos + 2]) {
        case L'-':
            if (pos + 3 >= text.size()) return Unterminated(NodeError::unterminated_comment, text, pos);
            if (text[pos + 3] != L'-') return ErrorNode(NodeError::incorrect_comment, pos, pos + 3, pos);
            return Delimited(text, pos, pos + 4, L"-->", kNodeComment, NodeError::unterminated_comment);
        case L'[':
            if (pos + 3 >= text.size()) return Unterminated(NodeError::unterminated_tag, text, pos);
            if (text[pos + 3] != L'C') return ErrorNode(NodeError::incorrect_bracket, pos, pos + 3, pos);
            return Delimited(text, pos, pos + 4, L"]]>", kNodeCData, NodeError::unterminated_cdata);
        case L'D':
            return Doctype(text, pos);
        default:
            return ErrorNode(NodeError::incorrect_bang, pos, pos + 2, pos);
    }
}

Node StartTag(std::wstring_view text, std::size_t pos) {
    const std::size_t name_end = NameEnd(text, pos + 1);
    std::size_t i = name_end;
    wchar_t quote = 0;
    for (; i < text.size(); ++i) {
        const wchar_t c = text[i];
        if (quote) {
            if (c == quote) quote = 0;
        } else if (c == L'"' || c == L'\'') {
            quote = c;
        } else if (c == L'>') {
            break;
        }
    }
    if (i >= text.size()) return Unterminated(NodeError::unterminated_element, text, pos);
    Node node = Span(kNodeElement, pos, i + 1);
    node.name_start = pos + 1;
    node.name_length = name_end - (pos + 1);
    // "<a x=1/>": the slash belongs to the unquoted value, so that is a
    // plain start tag.
    if (text[i - 1] == L'/') {
        const std::size_t slash = i - 1;
        const wchar_t before = text[slash - 1];
        node.empty_element = slash == name_end || IsXmlSpace(before) || before == L'"' || before == L'\'';
    }
    return node;
}

}  // namespace

Node NextNode(std::wstring_view text, std::size_t pos) {
    if (pos >= text.size()) return Span(kNodeEnd, text.size(), text.size());
    if (text[pos] != L'<') return TextRun(text, pos);
    if (pos + 1 >= text.size()) return Unterminated(NodeError::unterminated_tag, text, pos);
    const wchar_t c = text[pos + 1];
    switch (c) {
        case L'/':
            return EndTag(text, pos);
        case L'?':
            return Delimited(text, pos, pos + 2, L"?>", kNodeProcessingInstruction,
                             NodeError::unterminated_pi);
        case L'!':
            return Bang(text, pos);
        default:
            break;
    }
    if ((c < L'A' && c != L':') || (c >= L'[' && c <= L'`' && c != L'_'))
        return ErrorNode(NodeError::incorrect_name_char, pos, pos + 1, pos);
    return StartTag(text, pos);
}

std::wstring DecimalText(std::size_t value) {
    wchar_t digits[24];
    std::size_t n = 0;
    do {
        digits[n++] = static_cast<wchar_t>(L'0' + value % 10);
        value /= 10;
    } while (value);
    std::wstring out;
    out.reserve(n);
    while (n) out.push_back(digits[--n]);
    return out;
}

std::wstring NodeErrorMessage(const Node& node) {
    const std::wstring offset = DecimalText(node.error_offset);
    auto incorrect = [&](const wchar_t* what) {
        return std::wstring(L"Incorrect ") + what + L" at offset " + offset;
    };
    auto unterminated = [&](const wchar_t* what) {
        return std::wstring(what) + L" at offset " + offset + L" unterminated";
    };
    switch (node.error) {
        case NodeError::incorrect_comment:
            return incorrect(L"comment tag");
        case NodeError::incorrect_bracket:
            return incorrect(L"tag");
        case NodeError::incorrect_bang:
            return incorrect(L"! tag");
        case NodeError::incorrect_name_char:
            return incorrect(L"tag name character");
        case NodeError::unterminated_element:
            return unterminated(L"Element tag");
        case NodeError::unterminated_end_tag:
            return unterminated(L"Element end tag");
        case NodeError::unterminated_cdata:
            return unterminated(L"CDATA Section");
        case NodeError::unterminated_pi:
            return unterminated(L"Processing instruction");
        case NodeError::unterminated_comment:
            return unterminated(L"Comment");
        case NodeError::unterminated_doctype:
            return unterminated(L"Doctype");
        case NodeError::unterminated_tag:
            return unterminated(L"tag");
        case NodeError::none:
            break;
    }
    return {};
}

}  // namespace xml
