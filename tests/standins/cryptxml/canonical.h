#pragma once
// Canonical XML 1.0 and exclusive canonical XML 1.0 over the reader's tree.
#include <string>
#include <vector>

#include "xml_reader.h"

namespace standin {

struct C14nOptions {
    bool exclusive = false;
    bool comments = false;
    // Exclusive only: prefixes handled as in inclusive canonicalization
    // ("#default" names the default namespace).
    std::vector<std::string> inclusive_prefixes;
};

// The whole document, leaving out the subtree at `omit` (may be null): the
// enveloped-signature transform followed by canonicalization.
std::string canonicalize_document(const XmlDocument& doc, const XmlNode* omit, const C14nOptions& options);

// One element with everything below it, as the node set of that subtree
// (namespaces in scope from its ancestors included).
std::string canonicalize_subtree(const XmlNode* apex, const C14nOptions& options);

}  // namespace standin
