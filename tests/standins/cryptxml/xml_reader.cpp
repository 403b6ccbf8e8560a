#include "xml_reader.h"

#include <set>
#include <utility>

#include "cryptxml_api.h"

namespace standin {
namespace {

bool valid_xml_char(unsigned long c) {
    return c == 0x9 || c == 0xA || c == 0xD || (c >= 0x20 && c <= 0xD7FF) || (c >= 0xE000 && c <= 0xFFFD) ||
           (c >= 0x10000 && c <= 0x10FFFF);
}

void append_utf8(std::string& out, unsigned long c) {
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

// Checks that the bytes are UTF-8 holding only characters XML allows.
bool valid_utf8_xml(std::string_view s) {
    size_t i = 0;
    while (i < s.size()) {
        unsigned char b = static_cast<unsigned char>(s[i]);
        unsigned long c = 0;
        size_t extra = 0;
        if (b < 0x80) {
            c = b;
        } else if (b >= 0xC2 && b <= 0xDF) {
            c = b & 0x1F;
            extra = 1;
        } else if (b >= 0xE0 && b <= 0xEF) {
            c = b & 0x0F;
            extra = 2;
        } else if (b >= 0xF0 && b <= 0xF4) {
            c = b & 0x07;
            extra = 3;
        } else {
            return false;
        }
        if (s.size() - i <= extra) return false;
        for (size_t k = 1; k <= extra; ++k) {
            unsigned char t = static_cast<unsigned char>(s[i + k]);
            if ((t & 0xC0) != 0x80) return false;
            c = (c << 6) | (t & 0x3F);
        }
        if ((extra == 2 && c < 0x800) || (extra == 3 && c < 0x10000)) return false;  // overlong
        if (!valid_xml_char(c)) return false;
        i += extra + 1;
    }
    return true;
}

bool is_space(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

bool name_start(char c) {
    unsigned char u = static_cast<unsigned char>(c);
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_' || c == ':' || u >= 0x80;
}

bool name_char(char c) {
    return name_start(c) || (c >= '0' && c <= '9') || c == '-' || c == '.';
}

struct Failure {
    HRESULT hr;
};

class Parser {
public:
    explicit Parser(std::string text) : s_(std::move(text)) {}

    void parse(XmlDocument& doc) {
        if (starts_with("<?xml") && pos_ + 5 < s_.size() && is_space(s_[pos_ + 5])) declaration();
        bool seen_root = false;
        for (;;) {
            skip_space();
            if (pos_ >= s_.size()) break;
            if (starts_with("<!--")) {
                doc.top.push_back(comment());
            } else if (starts_with("<?")) {
                doc.top.push_back(pi());
            } else if (starts_with("<!")) {
                fail();  // DOCTYPE and the like are not accepted
            } else if (s_[pos_] == '<' && !seen_root) {
                auto root = element();
                doc.root = root.get();
                doc.top.push_back(std::move(root));
                seen_root = true;
            } else {
                fail();
            }
        }
        if (!seen_root) fail();
    }

private:
    [[noreturn]] void fail(HRESULT hr = CRYPT_XML_E_UNEXPECTED_XML) { throw Failure{hr}; }

    bool starts_with(std::string_view t) const { return s_.compare(pos_, t.size(), t) == 0; }

    void expect(std::string_view t) {
        if (!starts_with(t)) fail();
        pos_ += t.size();
    }

    void skip_space() {
        while (pos_ < s_.size() && is_space(s_[pos_])) ++pos_;
    }

    std::string name() {
        if (pos_ >= s_.size() || !name_start(s_[pos_])) fail();
        size_t start = pos_;
        while (pos_ < s_.size() && name_char(s_[pos_])) ++pos_;
        return s_.substr(start, pos_ - start);
    }

    // Splits a qualified name; a name with more than one colon or an empty part is refused.
    void split(const std::string& qname, std::string& prefix, std::string& local) {
        size_t colon = qname.find(':');
        if (colon == std::string::npos) {
            prefix.clear();
            local = qname;
            return;
        }
        if (colon == 0 || colon + 1 == qname.size() || qname.find(':', colon + 1) != std::string::npos)
            fail();
        prefix = qname.substr(0, colon);
        local = qname.substr(colon + 1);
    }

    void declaration() {
        size_t end = s_.find("?>", pos_);
        if (end == std::string::npos) fail();
        std::string decl = s_.substr(pos_, end - pos_);
        size_t enc = decl.find("encoding");
        if (enc != std::string::npos) {
            size_t q = decl.find_first_of("\"'", enc);
            if (q == std::string::npos) fail();
            size_t q2 = decl.find(decl[q], q + 1);
            if (q2 == std::string::npos) fail();
            std::string value = decl.substr(q + 1, q2 - q - 1);
            for (auto& c : value) c = static_cast<char>(c >= 'a' && c <= 'z' ? c - 32 : c);
            if (value != "UTF-8" && value != "UTF8") fail(CRYPT_XML_E_ENCODING);
        }
        pos_ = end + 2;
    }

    std::unique_ptr<XmlNode> comment() {
        pos_ += 4;
        size_t end = s_.find("--", pos_);
        if (end == std::string::npos || s_.compare(end, 3, "-->") != 0) fail();
        auto node = std::make_unique<XmlNode>();
        node->kind = XmlKind::Comment;
        node->value = s_.substr(pos_, end - pos_);
        pos_ = end + 3;
        return node;
    }

    std::unique_ptr<XmlNode> pi() {
        pos_ += 2;
        auto node = std::make_unique<XmlNode>();
        node->kind = XmlKind::Pi;
        node->name = name();
        if (node->name.size() == 3 && (node->name[0] | 0x20) == 'x' && (node->name[1] | 0x20) == 'm' &&
            (node->name[2] | 0x20) == 'l')
            fail();
        if (node->name.find(':') != std::string::npos) fail();
        size_t end = s_.find("?>", pos_);
        if (end == std::string::npos) fail();
        if (end > pos_) {
            if (!is_space(s_[pos_])) fail();
            skip_space();
            if (pos_ < end) node->value = s_.substr(pos_, end - pos_);
        }
        pos_ = end + 2;
        return node;
    }

    // Decodes one reference at pos_ ('&') into out.
    void reference(std::string& out) {
        size_t end = s_.find(';', pos_);
        if (end == std::string::npos || end - pos_ > 12) fail();
        std::string_view ref(s_.data() + pos_ + 1, end - pos_ - 1);
        pos_ = end + 1;
        if (ref == "lt") return out.push_back('<');
        if (ref == "gt") return out.push_back('>');
        if (ref == "amp") return out.push_back('&');
        if (ref == "quot") return out.push_back('"');
        if (ref == "apos") return out.push_back('\'');
        if (ref.size() < 2 || ref[0] != '#') fail();
        unsigned long c = 0;
        bool hex = ref[1] == 'x';
        std::string_view digits = ref.substr(hex ? 2 : 1);
        if (digits.empty()) fail();
        for (char d : digits) {
            unsigned v;
            if (d >= '0' && d <= '9') {
                v = static_cast<unsigned>(d - '0');
            } else if (hex && d >= 'a' && d <= 'f') {
                v = static_cast<unsigned>(d - 'a' + 10);
            } else if (hex && d >= 'A' && d <= 'F') {
                v = static_cast<unsigned>(d - 'A' + 10);
            } else {
                fail();
            }
            c = c * (hex ? 16 : 10) + v;
            if (c > 0x10FFFF) fail();
        }
        if (!valid_xml_char(c)) fail();
        append_utf8(out, c);
    }

    std::string attribute_value() {
        if (pos_ >= s_.size() || (s_[pos_] != '"' && s_[pos_] != '\'')) fail();
        char quote = s_[pos_++];
        std::string value;
        for (;;) {
            if (pos_ >= s_.size()) fail();
            char c = s_[pos_];
            if (c == quote) break;
            if (c == '<') fail();
            if (c == '&') {
                reference(value);
                continue;
            }
            // Literal white space normalizes to a space; references keep theirs.
            value.push_back(is_space(c) ? ' ' : c);
            ++pos_;
        }
        ++pos_;
        return value;
    }

    // Reads a start tag; returns true when it was an empty-element tag.
    bool start_tag(XmlNode& node, const XmlNode* parent) {
        ++pos_;  // '<'
        node.name = name();
        struct Raw {
            std::string qname, value;
        };
        std::vector<Raw> raw;
        std::set<std::string> names;
        bool empty = false;
        for (;;) {
            size_t before = pos_;
            skip_space();
            if (pos_ >= s_.size()) fail();
            if (starts_with("/>")) {
                pos_ += 2;
                empty = true;
                break;
            }
            if (s_[pos_] == '>') {
                ++pos_;
                break;
            }
            if (before == pos_) fail();  // attributes need white space before them
            Raw a;
            a.qname = name();
            skip_space();
            expect("=");
            skip_space();
            a.value = attribute_value();
            if (!names.insert(a.qname).second) fail();
            raw.push_back(std::move(a));
        }
        for (auto& a : raw) {
            if (a.qname == "xmlns") {
                if (a.value == kXmlNamespace) fail();
                node.declarations.push_back({"", a.value});
            } else if (a.qname.compare(0, 6, "xmlns:") == 0) {
                std::string prefix = a.qname.substr(6);
                if (prefix.empty() || prefix.find(':') != std::string::npos || prefix == "xmlns" ||
                    a.value.empty())
                    fail();
                if ((prefix == "xml") != (a.value == kXmlNamespace)) fail();
                node.declarations.push_back({prefix, a.value});
            }
        }
        node.parent = const_cast<XmlNode*>(parent);
        split(node.name, node.prefix, node.local);
        node.uri = resolve(node, node.prefix, true);
        std::set<std::pair<std::string, std::string>> seen;
        for (auto& a : raw) {
            if (a.qname == "xmlns" || a.qname.compare(0, 6, "xmlns:") == 0) continue;
            XmlAttribute attr;
            attr.qname = a.qname;
            split(attr.qname, attr.prefix, attr.local);
            if (!attr.prefix.empty()) attr.uri = resolve(node, attr.prefix, false);
            attr.value = std::move(a.value);
            if (!seen.insert({attr.uri, attr.local}).second) fail();
            node.attributes.push_back(std::move(attr));
        }
        return empty;
    }

    // The URI bound to a prefix at node (its own declarations included).
    std::string resolve(const XmlNode& node, const std::string& prefix, bool element) {
        if (prefix == "xml") return std::string(kXmlNamespace);
        for (const XmlNode* n = &node; n; n = n->parent)
            for (const auto& d : n->declarations)
                if (d.prefix == prefix) return d.uri;
        if (!prefix.empty() || !element) fail();  // an undeclared prefix
        return std::string();
    }

    std::unique_ptr<XmlNode> element() {
        auto root = std::make_unique<XmlNode>();
        if (start_tag(*root, nullptr)) return root;
        std::vector<XmlNode*> open{root.get()};
        std::string text;
        auto flush = [&]() {
            if (text.empty()) return;
            auto t = std::make_unique<XmlNode>();
            t->kind = XmlKind::Text;
            t->value = std::move(text);
            t->parent = open.back();
            open.back()->children.push_back(std::move(t));
            text.clear();
        };
        while (!open.empty()) {
            if (pos_ >= s_.size()) fail();
            char c = s_[pos_];
            if (c == '&') {
                reference(text);
            } else if (c != '<') {
                if (c == '>' && pos_ >= 2 && s_.compare(pos_ - 2, 2, "]]") == 0) fail();
                text.push_back(c);
                ++pos_;
            } else if (starts_with("<![CDATA[")) {
                pos_ += 9;
                size_t end = s_.find("]]>", pos_);
                if (end == std::string::npos) fail();
                text.append(s_, pos_, end - pos_);
                pos_ = end + 3;
            } else if (starts_with("<!--")) {
                flush();
                auto n = comment();
                n->parent = open.back();
                open.back()->children.push_back(std::move(n));
            } else if (starts_with("<?")) {
                flush();
                auto n = pi();
                n->parent = open.back();
                open.back()->children.push_back(std::move(n));
            } else if (starts_with("</")) {
                flush();
                pos_ += 2;
                if (name() != open.back()->name) fail();
                skip_space();
                expect(">");
                open.pop_back();
            } else if (starts_with("<!")) {
                fail();
            } else {
                flush();
                if (static_cast<int>(open.size()) >= kMaxDepth) fail(CRYPT_XML_E_LARGE);
                auto child = std::make_unique<XmlNode>();
                XmlNode* raw = child.get();
                bool empty = start_tag(*child, open.back());
                open.back()->children.push_back(std::move(child));
                if (!empty) open.push_back(raw);
            }
        }
        return root;
    }

    std::string s_;
    size_t pos_ = 0;
};

}  // namespace

const XmlAttribute* XmlNode::attribute(std::string_view local_name) const {
    for (const auto& a : attributes)
        if (a.prefix.empty() && a.local == local_name) return &a;
    return nullptr;
}

std::string XmlNode::text() const {
    std::string out;
    for (const auto& c : children)
        if (c->kind == XmlKind::Text) out += c->value;
    return out;
}

HRESULT parse_xml(std::string_view bytes, XmlDocument& doc) {
    if (bytes.size() >= 3 && bytes.compare(0, 3, "\xEF\xBB\xBF") == 0) bytes.remove_prefix(3);
    // Line ends become LF before anything else reads the text.
    std::string text;
    text.reserve(bytes.size());
    for (size_t i = 0; i < bytes.size(); ++i) {
        if (bytes[i] == '\r') {
            text.push_back('\n');
            if (i + 1 < bytes.size() && bytes[i + 1] == '\n') ++i;
        } else {
            text.push_back(bytes[i]);
        }
    }
    if (!valid_utf8_xml(text)) return CRYPT_XML_E_ENCODING;
    try {
        XmlDocument parsed;
        Parser(std::move(text)).parse(parsed);
        doc = std::move(parsed);
    } catch (const Failure& f) {
        return f.hr;
    }
    return S_OK;
}

NamespaceMap namespaces_in_scope(const XmlNode* element) {
    std::vector<const XmlNode*> chain;
    for (const XmlNode* n = element; n; n = n->parent) chain.push_back(n);
    NamespaceMap map;
    for (auto it = chain.rbegin(); it != chain.rend(); ++it)
        for (const auto& d : (*it)->declarations)
            if (d.prefix != "xml") map[d.prefix] = d.uri;
    return map;
}

}  // namespace standin
