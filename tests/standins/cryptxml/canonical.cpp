#include "canonical.h"

#include <algorithm>

namespace standin {
namespace {

void escape_text(std::string& out, const std::string& s) {
    for (char c : s) {
        switch (c) {
            case '&':
                out += "&amp;";
                break;
            case '<':
                out += "&lt;";
                break;
            case '>':
                out += "&gt;";
                break;
            case '\r':
                out += "&#xD;";
                break;
            default:
                out += c;
        }
    }
}

void escape_attribute(std::string& out, const std::string& s) {
    for (char c : s) {
        switch (c) {
            case '&':
                out += "&amp;";
                break;
            case '<':
                out += "&lt;";
                break;
            case '"':
                out += "&quot;";
                break;
            case '\t':
                out += "&#x9;";
                break;
            case '\n':
                out += "&#xA;";
                break;
            case '\r':
                out += "&#xD;";
                break;
            default:
                out += c;
        }
    }
}

void write_pi(std::string& out, const XmlNode& n) {
    out += "<?";
    out += n.name;
    if (!n.value.empty()) {
        out += ' ';
        out += n.value;
    }
    out += "?>";
}

class Writer {
public:
    Writer(const C14nOptions& options, const XmlNode* omit) : options_(options), omit_(omit) {}

    // in_scope: namespaces in scope at the parent; rendered: what the output
    // ancestors have put in force.
    void element(const XmlNode& e, NamespaceMap in_scope, NamespaceMap rendered, bool apex) {
        for (const auto& d : e.declarations)
            if (d.prefix != "xml") in_scope[d.prefix] = d.uri;

        // Namespace declarations this element must carry.
        std::vector<std::pair<std::string, std::string>> candidates;
        auto in_scope_value = [&](const std::string& prefix) {
            auto it = in_scope.find(prefix);
            return it == in_scope.end() ? std::string() : it->second;
        };
        if (!options_.exclusive) {
            if (!in_scope.count("")) candidates.push_back({"", ""});
            for (const auto& [prefix, uri] : in_scope) candidates.push_back({prefix, uri});
        } else {
            std::vector<std::string> used{e.prefix};
            for (const auto& a : e.attributes)
                if (!a.prefix.empty()) used.push_back(a.prefix);
            for (const auto& p : options_.inclusive_prefixes) {
                std::string prefix = p == "#default" ? std::string() : p;
                if (prefix.empty() || in_scope.count(prefix)) used.push_back(prefix);
            }
            std::sort(used.begin(), used.end());
            used.erase(std::unique(used.begin(), used.end()), used.end());
            for (const auto& prefix : used)
                if (prefix != "xml") candidates.push_back({prefix, in_scope_value(prefix)});
        }
        std::vector<std::pair<std::string, std::string>> emit;
        for (const auto& [prefix, uri] : candidates) {
            auto it = rendered.find(prefix);
            if (prefix.empty() && uri.empty()) {
                // xmlns="" only undoes a default namespace an output ancestor set.
                if (it != rendered.end() && !it->second.empty()) emit.push_back({prefix, uri});
            } else if (it == rendered.end() || it->second != uri) {
                emit.push_back({prefix, uri});
            }
            rendered[prefix] = uri;
        }
        std::sort(emit.begin(), emit.end());

        std::vector<const XmlAttribute*> attributes;
        for (const auto& a : e.attributes) attributes.push_back(&a);
        std::vector<XmlAttribute> inherited;
        if (apex && !options_.exclusive) {
            // A subset's apex takes xml:* attributes from its ancestors.
            for (const XmlNode* n = e.parent; n; n = n->parent)
                for (const auto& a : n->attributes) {
                    if (a.prefix != "xml") continue;
                    bool present = std::any_of(
                        attributes.begin(), attributes.end(),
                        [&](const XmlAttribute* b) { return b->uri == a.uri && b->local == a.local; });
                    bool taken = std::any_of(inherited.begin(), inherited.end(),
                                             [&](const XmlAttribute& b) { return b.local == a.local; });
                    if (!present && !taken) inherited.push_back(a);
                }
            for (const auto& a : inherited) attributes.push_back(&a);
        }
        std::sort(attributes.begin(), attributes.end(), [](const XmlAttribute* a, const XmlAttribute* b) {
            return a->uri != b->uri ? a->uri < b->uri : a->local < b->local;
        });

        out_ += '<';
        out_ += e.name;
        for (const auto& [prefix, uri] : emit) {
            out_ += prefix.empty() ? " xmlns" : " xmlns:" + prefix;
            out_ += "=\"";
            escape_attribute(out_, uri);
            out_ += '"';
        }
        for (const XmlAttribute* a : attributes) {
            out_ += ' ';
            out_ += a->qname;
            out_ += "=\"";
            escape_attribute(out_, a->value);
            out_ += '"';
        }
        out_ += '>';
        for (const auto& child : e.children) {
            switch (child->kind) {
                case XmlKind::Text:
                    escape_text(out_, child->value);
                    break;
                case XmlKind::Comment:
                    if (options_.comments) out_ += "<!--" + child->value + "-->";
                    break;
                case XmlKind::Pi:
                    write_pi(out_, *child);
                    break;
                case XmlKind::Element:
                    if (child.get() != omit_) element(*child, in_scope, rendered, false);
                    break;
            }
        }
        out_ += "</";
        out_ += e.name;
        out_ += '>';
    }

    void top_level(const XmlNode& n) {
        if (n.kind == XmlKind::Comment && options_.comments) {
            out_ += "<!--" + n.value + "-->";
        } else if (n.kind == XmlKind::Pi) {
            write_pi(out_, n);
        }
    }

    bool renders(const XmlNode& n) const {
        return n.kind == XmlKind::Pi || (n.kind == XmlKind::Comment && options_.comments);
    }

    std::string& out() { return out_; }

private:
    const C14nOptions& options_;
    const XmlNode* omit_;
    std::string out_;
};

}  // namespace

std::string canonicalize_document(const XmlDocument& doc, const XmlNode* omit, const C14nOptions& options) {
    Writer w(options, omit);
    bool after_root = false;
    for (const auto& n : doc.top) {
        if (n.get() == doc.root) {
            if (n.get() != omit) w.element(*n, {}, {}, false);
            after_root = true;
        } else if (w.renders(*n)) {
            if (after_root) w.out() += '\n';
            w.top_level(*n);
            if (!after_root) w.out() += '\n';
        }
    }
    return std::move(w.out());
}

std::string canonicalize_subtree(const XmlNode* apex, const C14nOptions& options) {
    Writer w(options, nullptr);
    w.element(*apex, apex->parent ? namespaces_in_scope(apex->parent) : NamespaceMap{}, {}, true);
    return std::move(w.out());
}

}  // namespace standin
