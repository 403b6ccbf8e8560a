#pragma once
// A small XML reader that keeps what canonicalization needs: namespace
// declarations where they stand, attributes with their values, text with
// references decoded, comments and processing instructions. Written apart
// from the product's XML code on purpose, so each checks the other.
#include <windows.h>

#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace standin {

inline constexpr std::string_view kXmlNamespace = "http://www.w3.org/XML/1998/namespace";

// Prefix -> namespace URI; the default namespace has the empty prefix and an
// empty URI stands for "no default namespace".
using NamespaceMap = std::map<std::string, std::string>;

struct XmlAttribute {
    std::string qname;
    std::string prefix;
    std::string local;
    std::string uri;  // empty for an attribute without prefix
    std::string value;
};

struct XmlNamespaceDecl {
    std::string prefix;  // empty for xmlns="..."
    std::string uri;
};

enum class XmlKind { Element, Text, Comment, Pi };

struct XmlNode {
    XmlKind kind = XmlKind::Element;
    std::string name;  // element qname or PI target
    std::string prefix;
    std::string local;
    std::string uri;    // element namespace
    std::string value;  // text, comment or PI data
    std::vector<XmlAttribute> attributes;
    std::vector<XmlNamespaceDecl> declarations;
    XmlNode* parent = nullptr;
    std::vector<std::unique_ptr<XmlNode>> children;

    const XmlAttribute* attribute(std::string_view local_name) const;  // without prefix only
    bool is(std::string_view ns, std::string_view local_name) const {
        return kind == XmlKind::Element && uri == ns && local == local_name;
    }
    std::string text() const;  // the concatenated text children
};

struct XmlDocument {
    std::vector<std::unique_ptr<XmlNode>> top;  // comments, PIs and the root element in order
    XmlNode* root = nullptr;
};

// Deepest element nesting accepted.
inline constexpr int kMaxDepth = 256;

// Parses UTF-8 bytes (a leading byte order mark is skipped). Returns S_OK,
// CRYPT_XML_E_ENCODING for bytes that are not UTF-8 or a declared encoding
// other than UTF-8, CRYPT_XML_E_LARGE for nesting beyond kMaxDepth, and
// CRYPT_XML_E_UNEXPECTED_XML for anything not well-formed (DTDs included).
HRESULT parse_xml(std::string_view bytes, XmlDocument& doc);

// The namespaces in scope at an element, the xml prefix left out.
NamespaceMap namespaces_in_scope(const XmlNode* element);

}  // namespace standin
