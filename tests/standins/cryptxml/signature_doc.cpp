#include "signature_doc.h"

#include <cstring>
#include <sstream>

namespace standin {
namespace {

constexpr std::string_view kDsig = "http://www.w3.org/2000/09/xmldsig#";
constexpr std::string_view kExcNamespace = "http://www.w3.org/2001/10/xml-exc-c14n#";
constexpr std::string_view kC14n = "http://www.w3.org/TR/2001/REC-xml-c14n-20010315";
constexpr std::string_view kC14nComments = "http://www.w3.org/TR/2001/REC-xml-c14n-20010315#WithComments";
constexpr std::string_view kExcC14n = "http://www.w3.org/2001/10/xml-exc-c14n#";
constexpr std::string_view kExcC14nComments = "http://www.w3.org/2001/10/xml-exc-c14n#WithComments";
constexpr std::string_view kEnveloped = "http://www.w3.org/2000/09/xmldsig#enveloped-signature";
constexpr std::string_view kSha1 = "http://www.w3.org/2000/09/xmldsig#sha1";
constexpr std::string_view kSha256 = "http://www.w3.org/2001/04/xmlenc#sha256";
constexpr std::string_view kRsaSha1 = "http://www.w3.org/2000/09/xmldsig#rsa-sha1";
constexpr std::string_view kRsaSha256 = "http://www.w3.org/2001/04/xmldsig-more#rsa-sha256";

constexpr size_t kMaxSignatures = 64;
constexpr size_t kMaxReferences = 256;
constexpr size_t kMaxTransforms = 8;

struct Failure {
    HRESULT hr;
};

[[noreturn]] void fail(HRESULT hr = CRYPT_XML_E_UNEXPECTED_XML) {
    throw Failure{hr};
}

void check(HRESULT hr) {
    if (FAILED(hr)) fail(hr);
}

bool is_blank(const std::string& s) {
    return s.find_first_not_of(" \t\n") == std::string::npos;
}

// The element children of a node; text other than white space is refused.
std::vector<const XmlNode*> elements_of(const XmlNode& n) {
    std::vector<const XmlNode*> out;
    for (const auto& c : n.children) {
        if (c->kind == XmlKind::Element) out.push_back(c.get());
        if (c->kind == XmlKind::Text && !is_blank(c->value)) fail();
    }
    return out;
}

// The text of an element that must not hold elements.
std::string text_of(const XmlNode& n) {
    for (const auto& c : n.children)
        if (c->kind == XmlKind::Element) fail();
    return n.text();
}

std::vector<BYTE> base64_of(const XmlNode& n) {
    std::vector<BYTE> out;
    if (!decode_base64(text_of(n), out)) fail();
    return out;
}

std::string algorithm_of(const XmlNode& n) {
    const XmlAttribute* a = n.attribute("Algorithm");
    if (!a) fail();
    return a->value;
}

class Decoder {
public:
    explicit Decoder(Document& doc) : doc_(doc) {}

    void run() {
        std::vector<const XmlNode*> found;
        find_signatures(*doc_.xml.root, found);
        for (const XmlNode* node : found) {
            auto sig = std::make_unique<Signature>();
            signature(*node, *sig);
            doc_.signature_list.push_back(&sig->info);
            doc_.signatures.push_back(std::move(sig));
        }
        doc_.context.cbSize = sizeof(doc_.context);
        doc_.context.hDocCtxt = static_cast<HandleObject*>(&doc_);
        doc_.context.cSignature = static_cast<ULONG>(doc_.signature_list.size());
        doc_.context.rgpSignature = doc_.signature_list.empty() ? nullptr : doc_.signature_list.data();
    }

private:
    void find_signatures(const XmlNode& n, std::vector<const XmlNode*>& found) {
        if (n.is(kDsig, "Signature")) {
            if (found.size() >= kMaxSignatures) fail(CRYPT_XML_E_TOO_MANY_SIGNATURES);
            found.push_back(&n);
            return;
        }
        for (const auto& c : n.children)
            if (c->kind == XmlKind::Element) find_signatures(*c, found);
    }

    LPCWSTR wide(const std::string& utf8) {
        std::wstring w;
        if (!utf8.empty()) {
            int n = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
            if (n <= 0) fail(CRYPT_XML_E_ENCODING);
            w.resize(static_cast<size_t>(n));
            MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), w.data(), n);
        }
        doc_.strings.push_back(std::move(w));
        return doc_.strings.back().c_str();
    }

    LPCWSTR optional_attribute(const XmlNode& n, const char* name) {
        const XmlAttribute* a = n.attribute(name);
        return a ? wide(a->value) : nullptr;
    }

    CRYPT_XML_ALGORITHM algorithm(const std::string& uri) {
        CRYPT_XML_ALGORITHM a{};
        a.cbSize = sizeof(a);
        a.wszAlgorithm = wide(uri);
        a.Encoded.dwCharset = CRYPT_XML_CHARSET_UTF8;
        return a;
    }

    CRYPT_DATA_BLOB blob(std::vector<BYTE> bytes) {
        doc_.blobs.push_back(std::move(bytes));
        auto& stored = doc_.blobs.back();
        CRYPT_DATA_BLOB b{};
        b.cbData = static_cast<DWORD>(stored.size());
        b.pbData = stored.empty() ? nullptr : stored.data();
        return b;
    }

    // A canonicalization algorithm with its optional InclusiveNamespaces child.
    static bool c14n_options(const XmlNode& n, const std::string& uri, C14nOptions& options) {
        if (uri == kC14n || uri == kC14nComments) {
            options.exclusive = false;
        } else if (uri == kExcC14n || uri == kExcC14nComments) {
            options.exclusive = true;
        } else {
            return false;
        }
        options.comments = uri == kC14nComments || uri == kExcC14nComments;
        for (const XmlNode* c : elements_of(n)) {
            if (!options.exclusive || !c->is(kExcNamespace, "InclusiveNamespaces")) fail();
            const XmlAttribute* list = c->attribute("PrefixList");
            if (!list) fail();
            std::istringstream words(list->value);
            for (std::string p; words >> p;) options.inclusive_prefixes.push_back(p);
        }
        return true;
    }

    static HashKind digest_kind(const std::string& uri) {
        if (uri == kSha1) return HashKind::Sha1;
        if (uri == kSha256) return HashKind::Sha256;
        fail(CRYPT_XML_E_ALGORITHM);
    }

    void signature(const XmlNode& node, Signature& sig) {
        auto parts = elements_of(node);
        if (parts.size() < 2 || !parts[0]->is(kDsig, "SignedInfo") || !parts[1]->is(kDsig, "SignatureValue"))
            fail();
        for (size_t i = 2; i < parts.size(); ++i) {
            bool key_info = parts[i]->is(kDsig, "KeyInfo");
            if ((key_info && i != 2) || (!key_info && !parts[i]->is(kDsig, "Object"))) fail();
        }
        sig.info.cbSize = sizeof(sig.info);
        sig.info.hSignature = static_cast<HandleObject*>(&sig);
        sig.info.wszId = optional_attribute(node, "Id");
        signed_info(node, *parts[0], sig);
        sig.value = base64_of(*parts[1]);
        sig.info.SignatureValue.cbData = static_cast<DWORD>(sig.value.size());
        sig.info.SignatureValue.pbData = sig.value.empty() ? nullptr : sig.value.data();
        if (parts.size() > 2 && parts[2]->is(kDsig, "KeyInfo")) {
            key_info(*parts[2], sig);
            sig.info.pKeyInfo = &sig.key_info;
        }
    }

    void signed_info(const XmlNode& sig_node, const XmlNode& node, Signature& sig) {
        auto parts = elements_of(node);
        if (parts.size() < 3 || !parts[0]->is(kDsig, "CanonicalizationMethod") ||
            !parts[1]->is(kDsig, "SignatureMethod"))
            fail();
        CRYPT_XML_SIGNED_INFO& si = sig.info.SignedInfo;
        si.cbSize = sizeof(si);
        si.wszId = optional_attribute(node, "Id");

        std::string c14n = algorithm_of(*parts[0]);
        C14nOptions options;
        if (!c14n_options(*parts[0], c14n, options)) fail(CRYPT_XML_E_ALGORITHM);
        si.Canonicalization = algorithm(c14n);

        std::string method = algorithm_of(*parts[1]);
        if (!elements_of(*parts[1]).empty()) fail();
        if (method == kRsaSha1) {
            sig.hash = HashKind::Sha1;
        } else if (method == kRsaSha256) {
            sig.hash = HashKind::Sha256;
        } else {
            fail(CRYPT_XML_E_ALGORITHM);
        }
        si.SignatureMethod = algorithm(method);

        if (parts.size() - 2 > kMaxReferences) fail(CRYPT_XML_E_LARGE);
        for (size_t i = 2; i < parts.size(); ++i) {
            if (!parts[i]->is(kDsig, "Reference")) fail();
            auto ref = std::make_unique<Reference>();
            reference(sig_node, *parts[i], *ref);
            sig.reference_list.push_back(&ref->info);
            sig.references.push_back(std::move(ref));
        }
        si.cReference = static_cast<ULONG>(sig.reference_list.size());
        si.rgpReference = sig.reference_list.data();

        sig.signed_info = canonicalize_subtree(&node, options);
        si.Encoded.dwCharset = CRYPT_XML_CHARSET_UTF8;
        si.Encoded.cbData = static_cast<ULONG>(sig.signed_info.size());
        si.Encoded.pbData = reinterpret_cast<BYTE*>(sig.signed_info.data());
    }

    void reference(const XmlNode& sig_node, const XmlNode& node, Reference& ref) {
        auto parts = elements_of(node);
        size_t i = 0;
        const XmlNode* transforms = nullptr;
        if (i < parts.size() && parts[i]->is(kDsig, "Transforms")) transforms = parts[i++];
        if (parts.size() != i + 2 || !parts[i]->is(kDsig, "DigestMethod") ||
            !parts[i + 1]->is(kDsig, "DigestValue"))
            fail();
        ref.info.cbSize = sizeof(ref.info);
        ref.info.hReference = static_cast<HandleObject*>(&ref);
        ref.info.wszId = optional_attribute(node, "Id");
        ref.info.wszUri = optional_attribute(node, "URI");
        ref.info.wszType = optional_attribute(node, "Type");

        std::string digest = algorithm_of(*parts[i]);
        if (!elements_of(*parts[i]).empty()) fail();
        ref.hash = digest_kind(digest);
        ref.info.DigestMethod = algorithm(digest);
        ref.expected = base64_of(*parts[i + 1]);
        ref.info.DigestValue = blob(ref.expected);

        // Transforms: enveloped-signature, then at most one canonicalization.
        bool enveloped = false;
        bool have_c14n = false;
        C14nOptions options;
        if (transforms) {
            auto list = elements_of(*transforms);
            if (list.empty()) fail();
            if (list.size() > kMaxTransforms) fail(CRYPT_XML_E_TOO_MANY_TRANSFORMS);
            for (const XmlNode* t : list) {
                if (!t->is(kDsig, "Transform")) fail();
                std::string uri = algorithm_of(*t);
                if (have_c14n) fail(CRYPT_XML_E_TRANSFORM);
                if (uri == kEnveloped) {
                    if (!elements_of(*t).empty()) fail();
                    enveloped = true;
                } else if (c14n_options(*t, uri, options)) {
                    have_c14n = true;
                } else {
                    fail(CRYPT_XML_E_TRANSFORM);
                }
                ref.transforms.push_back(algorithm(uri));
            }
        }
        ref.info.cTransform = static_cast<ULONG>(ref.transforms.size());
        ref.info.rgTransform = ref.transforms.empty() ? nullptr : ref.transforms.data();

        const XmlAttribute* uri = node.attribute("URI");
        if (uri && uri->value.empty()) {
            // The whole document without comments, whatever the algorithm says.
            options.comments = false;
            ref.internal = true;
            ref.status_info = CRYPT_XML_STATUS_INTERNAL_REFERENCE;
            ref.canonical = canonicalize_document(doc_.xml, enveloped ? &sig_node : nullptr, options);
            std::vector<BYTE> actual;
            check(compute_hash(ref.hash, ref.canonical, actual));
            if (actual == ref.expected) {
                ref.status_info |= CRYPT_XML_STATUS_DIGEST_VALID;
            } else {
                ref.error = CRYPT_XML_STATUS_ERROR_DIGEST_INVALID;
            }
        } else {
            // Other data arrives through CryptXmlDigestReference as raw bytes.
            if (transforms) fail(CRYPT_XML_E_TRANSFORM);
            ref.error = CRYPT_XML_STATUS_ERROR_NOT_RESOLVED;
        }
    }

    void key_info(const XmlNode& node, Signature& sig) {
        sig.key_info.cbSize = sizeof(sig.key_info);
        sig.key_info.wszId = optional_attribute(node, "Id");
        for (const XmlNode* entry : elements_of(node)) {
            CRYPT_XML_KEY_INFO_ITEM item{};
            if (entry->is(kDsig, "X509Data")) {
                item.dwType = CRYPT_XML_KEYINFO_TYPE_X509DATA;
                sig.x509_items.emplace_back();
                auto& items = sig.x509_items.back();
                for (const XmlNode* x : elements_of(*entry)) items.push_back(x509_item(*x));
                item.X509Data.cX509Data = static_cast<ULONG>(items.size());
                item.X509Data.rgX509Data = items.empty() ? nullptr : items.data();
            } else if (entry->is(kDsig, "KeyName")) {
                item.dwType = CRYPT_XML_KEYINFO_TYPE_KEYNAME;
                item.wszKeyName = wide(text_of(*entry));
            } else {
                item.dwType = CRYPT_XML_KEYINFO_TYPE_CUSTOM;
                item.Custom.dwCharset = CRYPT_XML_CHARSET_UTF8;
            }
            sig.key_items.push_back(item);
        }
        sig.key_info.cKeyInfo = static_cast<ULONG>(sig.key_items.size());
        sig.key_info.rgKeyInfo = sig.key_items.empty() ? nullptr : sig.key_items.data();
    }

    CRYPT_XML_X509DATA_ITEM x509_item(const XmlNode& x) {
        CRYPT_XML_X509DATA_ITEM item{};
        auto data_blob = [&](CRYPT_XML_DATA_BLOB& b) {
            CRYPT_DATA_BLOB stored = blob(base64_of(x));
            b.cbData = stored.cbData;
            b.pbData = stored.pbData;
        };
        if (x.is(kDsig, "X509Certificate")) {
            item.dwType = CRYPT_XML_X509DATA_TYPE_CERTIFICATE;
            data_blob(item.Certificate);
        } else if (x.is(kDsig, "X509SKI")) {
            item.dwType = CRYPT_XML_X509DATA_TYPE_SKI;
            data_blob(item.SKI);
        } else if (x.is(kDsig, "X509CRL")) {
            item.dwType = CRYPT_XML_X509DATA_TYPE_CRL;
            data_blob(item.CRL);
        } else if (x.is(kDsig, "X509SubjectName")) {
            item.dwType = CRYPT_XML_X509DATA_TYPE_SUBJECT_NAME;
            item.wszSubjectName = wide(text_of(x));
        } else if (x.is(kDsig, "X509IssuerSerial")) {
            item.dwType = CRYPT_XML_X509DATA_TYPE_ISSUER_SERIAL;
            for (const XmlNode* p : elements_of(x)) {
                if (p->is(kDsig, "X509IssuerName")) {
                    item.IssuerSerial.wszIssuer = wide(text_of(*p));
                } else if (p->is(kDsig, "X509SerialNumber")) {
                    item.IssuerSerial.wszSerial = wide(text_of(*p));
                } else {
                    fail();
                }
            }
        } else {
            item.dwType = CRYPT_XML_X509DATA_TYPE_CUSTOM;
            item.Custom.dwCharset = CRYPT_XML_CHARSET_UTF8;
        }
        return item;
    }

    Document& doc_;
};

int base64_value(char c) {
    if (c >= 'A' && c <= 'Z') return c - 'A';
    if (c >= 'a' && c <= 'z') return c - 'a' + 26;
    if (c >= '0' && c <= '9') return c - '0' + 52;
    if (c == '+') return 62;
    if (c == '/') return 63;
    return -1;
}

}  // namespace

bool decode_base64(std::string_view text, std::vector<BYTE>& out) {
    std::string chars;
    for (char c : text)
        if (c != ' ' && c != '\t' && c != '\n' && c != '\r') chars.push_back(c);
    if (chars.size() % 4 != 0) return false;
    size_t padding = 0;
    while (padding < 2 && padding < chars.size() && chars[chars.size() - 1 - padding] == '=') ++padding;
    std::vector<BYTE> bytes;
    unsigned long bits = 0;
    int count = 0;
    for (size_t i = 0; i < chars.size() - padding; ++i) {
        int v = base64_value(chars[i]);
        if (v < 0) return false;
        bits = (bits << 6) | static_cast<unsigned long>(v);
        if (++count == 4) {
            bytes.push_back(static_cast<BYTE>(bits >> 16));
            bytes.push_back(static_cast<BYTE>(bits >> 8));
            bytes.push_back(static_cast<BYTE>(bits));
            bits = 0;
            count = 0;
        }
    }
    if (count == 3) {  // one '=': 18 bits, the last 2 unused
        if (bits & 0x3) return false;
        bytes.push_back(static_cast<BYTE>(bits >> 10));
        bytes.push_back(static_cast<BYTE>(bits >> 2));
    } else if (count == 2) {  // two '=': 12 bits, the last 4 unused
        if (bits & 0xF) return false;
        bytes.push_back(static_cast<BYTE>(bits >> 4));
    } else if (count != 0) {
        return false;
    }
    out = std::move(bytes);
    return true;
}

LPCWSTR hash_algorithm(HashKind kind) {
    return kind == HashKind::Sha1 ? BCRYPT_SHA1_ALGORITHM : BCRYPT_SHA256_ALGORITHM;
}

HRESULT compute_hash(HashKind kind, const std::string_view data, std::vector<BYTE>& out) {
    BCRYPT_ALG_HANDLE alg = nullptr;
    if (BCryptOpenAlgorithmProvider(&alg, hash_algorithm(kind), nullptr, 0) != 0)
        return CRYPT_XML_E_HASH_FAILED;
    HRESULT hr = CRYPT_XML_E_HASH_FAILED;
    BCRYPT_HASH_HANDLE hash = nullptr;
    std::vector<BYTE> digest(kind == HashKind::Sha1 ? 20 : 32);
    if (BCryptCreateHash(alg, &hash, nullptr, 0, nullptr, 0, 0) == 0) {
        const BYTE* p = reinterpret_cast<const BYTE*>(data.data());
        size_t left = data.size();
        bool ok = true;
        while (ok && left > 0) {
            ULONG chunk = static_cast<ULONG>(left > 0x10000000 ? 0x10000000 : left);
            ok = BCryptHashData(hash, const_cast<BYTE*>(p), chunk, 0) == 0;
            p += chunk;
            left -= chunk;
        }
        if (ok && BCryptFinishHash(hash, digest.data(), static_cast<ULONG>(digest.size()), 0) == 0) {
            out = std::move(digest);
            hr = S_OK;
        }
        BCryptDestroyHash(hash);
    }
    BCryptCloseAlgorithmProvider(alg, 0);
    return hr;
}

HRESULT decode_document(std::string_view bytes, Document& doc) {
    HRESULT hr = parse_xml(bytes, doc.xml);
    if (FAILED(hr)) return hr;
    try {
        Decoder(doc).run();
    } catch (const Failure& f) {
        return f.hr;
    }
    return S_OK;
}

}  // namespace standin
