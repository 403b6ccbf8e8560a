#pragma once
// The decoded form of a signed document behind the stand-in's handles: one
// document object owns its signatures and their references, and every
// structure the API hands out points into it.
#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "canonical.h"
#include "cryptxml_api.h"
#include "xml_reader.h"

namespace standin {

enum class HandleKind { Document, Signature, Reference };

struct HandleObject {
    explicit HandleObject(HandleKind k) : kind(k) {}
    HandleKind kind;
};

enum class HashKind { Sha1, Sha256 };

struct Reference : HandleObject {
    Reference() : HandleObject(HandleKind::Reference) {}
    CRYPT_XML_REFERENCE info{};
    std::vector<CRYPT_XML_ALGORITHM> transforms;
    HashKind hash = HashKind::Sha256;
    std::vector<BYTE> expected;
    bool internal = false;
    std::string canonical;  // the bytes digested, for same-document references
    DWORD error = 0;
    DWORD status_info = 0;
};

struct Signature : HandleObject {
    Signature() : HandleObject(HandleKind::Signature) {}
    CRYPT_XML_SIGNATURE info{};
    CRYPT_XML_KEY_INFO key_info{};
    std::vector<CRYPT_XML_KEY_INFO_ITEM> key_items;
    std::deque<std::vector<CRYPT_XML_X509DATA_ITEM>> x509_items;
    HashKind hash = HashKind::Sha256;
    std::string signed_info;  // canonical SignedInfo
    std::vector<BYTE> value;
    std::vector<std::unique_ptr<Reference>> references;
    std::vector<CRYPT_XML_REFERENCE*> reference_list;
    DWORD error = 0;
    DWORD status_info = 0;
};

struct Document : HandleObject {
    Document() : HandleObject(HandleKind::Document) {}
    XmlDocument xml;
    CRYPT_XML_DOC_CTXT context{};
    std::vector<std::unique_ptr<Signature>> signatures;
    std::vector<CRYPT_XML_SIGNATURE*> signature_list;
    // Storage the structures point into; a deque keeps its elements in place.
    std::deque<std::wstring> strings;
    std::deque<std::vector<BYTE>> blobs;
};

// Reads the document and every signature in it; same-document references
// are digested here. Returns S_OK or a CRYPT_XML_E_* code.
HRESULT decode_document(std::string_view bytes, Document& doc);

// Digest of bytes with the given hash.
HRESULT compute_hash(HashKind kind, const std::string_view data, std::vector<BYTE>& out);

// The BCrypt algorithm name of a hash.
LPCWSTR hash_algorithm(HashKind kind);

// Strict base64: white space is skipped, padding and unused bits must be right.
bool decode_base64(std::string_view text, std::vector<BYTE>& out);

}  // namespace standin
