#pragma once
// The XML digital signature API as the stand-in exports it and its test calls
// it. MinGW ships a <cryptxml.h>, but it does not compile (void members,
// undeclared types, wrong parameter types), so the documented types, flags and
// codes the verification path needs are declared here.
#include <windows.h>
#include <wincrypt.h>
#include <bcrypt.h>

extern "C" {

typedef HANDLE HCRYPTXML;

enum CRYPT_XML_CHARSET {
    CRYPT_XML_CHARSET_AUTO = 0,
    CRYPT_XML_CHARSET_UTF8 = 1,
    CRYPT_XML_CHARSET_UTF16LE = 2,
    CRYPT_XML_CHARSET_UTF16BE = 3,
};

enum CRYPT_XML_KEYINFO_SPEC {
    CRYPT_XML_KEYINFO_SPEC_NONE = 0,
    CRYPT_XML_KEYINFO_SPEC_ENCODED = 1,
    CRYPT_XML_KEYINFO_SPEC_PARAM = 2,
};

enum CRYPT_XML_PROPERTY_ID {
    CRYPT_XML_PROPERTY_MAX_HEAP_SIZE = 1,
    CRYPT_XML_PROPERTY_SIGNATURE_LOCATION = 2,
    CRYPT_XML_PROPERTY_MAX_SIGNATURES = 3,
    CRYPT_XML_PROPERTY_DOC_DECLARATION = 4,
    CRYPT_XML_PROPERTY_XML_OUTPUT_CHARSET = 5,
};

constexpr ULONG CRYPT_XML_BLOB_MAX = 0x7FFFFFF8;

struct CRYPT_XML_BLOB {
    CRYPT_XML_CHARSET dwCharset;
    ULONG cbData;
    BYTE* pbData;
};

struct CRYPT_XML_DATA_BLOB {
    ULONG cbData;
    BYTE* pbData;
};

struct CRYPT_XML_ALGORITHM {
    ULONG cbSize;
    LPCWSTR wszAlgorithm;
    CRYPT_XML_BLOB Encoded;
};

struct CRYPT_XML_PROPERTY {
    CRYPT_XML_PROPERTY_ID dwPropId;
    const void* pvValue;
    ULONG cbValue;
};

struct CRYPT_XML_STATUS {
    ULONG cbSize;
    DWORD dwErrorStatus;
    DWORD dwInfoStatus;
};

typedef HRESULT(CALLBACK* PFN_CRYPT_XML_DATA_PROVIDER_READ)(void* pvCallbackState, BYTE* pbData, ULONG cbData,
                                                            ULONG* pcbRead);
typedef HRESULT(CALLBACK* PFN_CRYPT_XML_DATA_PROVIDER_CLOSE)(void* pvCallbackState);
typedef HRESULT(CALLBACK* PFN_CRYPT_XML_WRITE_CALLBACK)(void* pvCallbackState, const BYTE* pbData,
                                                        ULONG cbData);

struct CRYPT_XML_DATA_PROVIDER {
    void* pvCallbackState;
    ULONG cbBufferSize;
    PFN_CRYPT_XML_DATA_PROVIDER_READ pfnRead;
    PFN_CRYPT_XML_DATA_PROVIDER_CLOSE pfnClose;
};

struct CRYPT_XML_TRANSFORM_INFO;
struct CRYPT_XML_TRANSFORM_CHAIN_CONFIG {
    ULONG cbSize;
    ULONG cTransformInfo;
    CRYPT_XML_TRANSFORM_INFO** rgpTransformInfo;
};

struct CRYPT_XML_REFERENCE {
    ULONG cbSize;
    HCRYPTXML hReference;
    LPCWSTR wszId;
    LPCWSTR wszUri;
    LPCWSTR wszType;
    CRYPT_XML_ALGORITHM DigestMethod;
    CRYPT_DATA_BLOB DigestValue;
    ULONG cTransform;
    CRYPT_XML_ALGORITHM* rgTransform;
};

struct CRYPT_XML_REFERENCES {
    ULONG cReference;
    CRYPT_XML_REFERENCE** rgpReference;
};

struct CRYPT_XML_SIGNED_INFO {
    ULONG cbSize;
    LPCWSTR wszId;
    CRYPT_XML_ALGORITHM Canonicalization;
    CRYPT_XML_ALGORITHM SignatureMethod;
    ULONG cReference;
    CRYPT_XML_REFERENCE** rgpReference;
    CRYPT_XML_BLOB Encoded;
};

struct CRYPT_XML_ISSUER_SERIAL {
    LPCWSTR wszIssuer;
    LPCWSTR wszSerial;
};

struct CRYPT_XML_X509DATA_ITEM {
    DWORD dwType;
    union {
        CRYPT_XML_ISSUER_SERIAL IssuerSerial;
        CRYPT_XML_DATA_BLOB SKI;
        LPCWSTR wszSubjectName;
        CRYPT_XML_DATA_BLOB Certificate;
        CRYPT_XML_DATA_BLOB CRL;
        CRYPT_XML_BLOB Custom;
    };
};

struct CRYPT_XML_X509DATA {
    ULONG cX509Data;
    CRYPT_XML_X509DATA_ITEM* rgX509Data;
};

struct CRYPT_XML_KEY_DSA_KEY_VALUE {
    CRYPT_XML_DATA_BLOB P;
    CRYPT_XML_DATA_BLOB Q;
    CRYPT_XML_DATA_BLOB G;
    CRYPT_XML_DATA_BLOB Y;
    CRYPT_XML_DATA_BLOB J;
    CRYPT_XML_DATA_BLOB Seed;
    CRYPT_XML_DATA_BLOB Counter;
};

struct CRYPT_XML_KEY_ECDSA_KEY_VALUE {
    LPCWSTR wszNamedCurve;
    CRYPT_XML_DATA_BLOB X;
    CRYPT_XML_DATA_BLOB Y;
    CRYPT_XML_BLOB ExplicitPara;
};

struct CRYPT_XML_KEY_RSA_KEY_VALUE {
    CRYPT_XML_DATA_BLOB Modulus;
    CRYPT_XML_DATA_BLOB Exponent;
};

struct CRYPT_XML_KEY_VALUE {
    DWORD dwType;
    union {
        CRYPT_XML_KEY_DSA_KEY_VALUE DSAKeyValue;
        CRYPT_XML_KEY_RSA_KEY_VALUE RSAKeyValue;
        CRYPT_XML_KEY_ECDSA_KEY_VALUE ECDSAKeyValue;
        CRYPT_XML_BLOB Custom;
    };
};

struct CRYPT_XML_KEY_INFO_ITEM {
    DWORD dwType;
    union {
        LPCWSTR wszKeyName;
        CRYPT_XML_KEY_VALUE KeyValue;
        CRYPT_XML_BLOB RetrievalMethod;
        CRYPT_XML_X509DATA X509Data;
        CRYPT_XML_BLOB Custom;
    };
};

struct CRYPT_XML_KEY_INFO {
    ULONG cbSize;
    LPCWSTR wszId;
    ULONG cKeyInfo;
    CRYPT_XML_KEY_INFO_ITEM* rgKeyInfo;
    BCRYPT_KEY_HANDLE hVerifyKey;
};

struct CRYPT_XML_OBJECT {
    ULONG cbSize;
    HCRYPTXML hObject;
    LPCWSTR wszId;
    LPCWSTR wszMimeType;
    LPCWSTR wszEncoding;
    CRYPT_XML_REFERENCES Manifest;
    CRYPT_XML_BLOB Encoded;
};

struct CRYPT_XML_SIGNATURE {
    ULONG cbSize;
    HCRYPTXML hSignature;
    LPCWSTR wszId;
    CRYPT_XML_SIGNED_INFO SignedInfo;
    CRYPT_DATA_BLOB SignatureValue;
    CRYPT_XML_KEY_INFO* pKeyInfo;
    ULONG cObject;
    CRYPT_XML_OBJECT** rgpObject;
};

struct CRYPT_XML_DOC_CTXT {
    ULONG cbSize;
    HCRYPTXML hDocCtxt;
    CRYPT_XML_TRANSFORM_CHAIN_CONFIG* pTransformsConfig;
    ULONG cSignature;
    CRYPT_XML_SIGNATURE** rgpSignature;
};

struct CRYPT_XML_ALGORITHM_INFO;

// Item and entry types of KeyInfo and X509Data.
constexpr DWORD CRYPT_XML_KEYINFO_TYPE_KEYNAME = 1;
constexpr DWORD CRYPT_XML_KEYINFO_TYPE_KEYVALUE = 2;
constexpr DWORD CRYPT_XML_KEYINFO_TYPE_RETRIEVAL = 3;
constexpr DWORD CRYPT_XML_KEYINFO_TYPE_X509DATA = 4;
constexpr DWORD CRYPT_XML_KEYINFO_TYPE_CUSTOM = 5;
constexpr DWORD CRYPT_XML_X509DATA_TYPE_ISSUER_SERIAL = 1;
constexpr DWORD CRYPT_XML_X509DATA_TYPE_SKI = 2;
constexpr DWORD CRYPT_XML_X509DATA_TYPE_SUBJECT_NAME = 3;
constexpr DWORD CRYPT_XML_X509DATA_TYPE_CERTIFICATE = 4;
constexpr DWORD CRYPT_XML_X509DATA_TYPE_CRL = 5;
constexpr DWORD CRYPT_XML_X509DATA_TYPE_CUSTOM = 6;

// Status bits.
constexpr DWORD CRYPT_XML_STATUS_ERROR_NOT_RESOLVED = 0x00000001;
constexpr DWORD CRYPT_XML_STATUS_ERROR_DIGEST_INVALID = 0x00000002;
constexpr DWORD CRYPT_XML_STATUS_ERROR_NOT_SUPPORTED_ALGORITHM = 0x00000005;
constexpr DWORD CRYPT_XML_STATUS_ERROR_NOT_SUPPORTED_TRANSFORM = 0x00000008;
constexpr DWORD CRYPT_XML_STATUS_ERROR_SIGNATURE_INVALID = 0x00010000;
constexpr DWORD CRYPT_XML_STATUS_ERROR_KEYINFO_NOT_PARSED = 0x00020000;
constexpr DWORD CRYPT_XML_STATUS_INTERNAL_REFERENCE = 0x00000001;
constexpr DWORD CRYPT_XML_STATUS_KEY_AVAILABLE = 0x00000002;
constexpr DWORD CRYPT_XML_STATUS_DIGESTING = 0x00000004;
constexpr DWORD CRYPT_XML_STATUS_DIGEST_VALID = 0x00000008;
constexpr DWORD CRYPT_XML_STATUS_SIGNATURE_VALID = 0x00010000;

constexpr DWORD CRYPT_XML_FLAG_DISABLE_EXTENSIONS = 0x10000000;
constexpr DWORD CRYPT_XML_REFERENCE_DATA_TRANSFORMED = 0x00000001;

// Error codes of the API.
constexpr HRESULT CRYPT_XML_E_LARGE = static_cast<HRESULT>(0x80092101L);
constexpr HRESULT CRYPT_XML_E_TOO_MANY_TRANSFORMS = static_cast<HRESULT>(0x80092102L);
constexpr HRESULT CRYPT_XML_E_ENCODING = static_cast<HRESULT>(0x80092103L);
constexpr HRESULT CRYPT_XML_E_ALGORITHM = static_cast<HRESULT>(0x80092104L);
constexpr HRESULT CRYPT_XML_E_TRANSFORM = static_cast<HRESULT>(0x80092105L);
constexpr HRESULT CRYPT_XML_E_HANDLE = static_cast<HRESULT>(0x80092106L);
constexpr HRESULT CRYPT_XML_E_OPERATION = static_cast<HRESULT>(0x80092107L);
constexpr HRESULT CRYPT_XML_E_UNRESOLVED_REFERENCE = static_cast<HRESULT>(0x80092108L);
constexpr HRESULT CRYPT_XML_E_INVALID_DIGEST = static_cast<HRESULT>(0x80092109L);
constexpr HRESULT CRYPT_XML_E_INVALID_SIGNATURE = static_cast<HRESULT>(0x8009210AL);
constexpr HRESULT CRYPT_XML_E_HASH_FAILED = static_cast<HRESULT>(0x8009210BL);
constexpr HRESULT CRYPT_XML_E_SIGN_FAILED = static_cast<HRESULT>(0x8009210CL);
constexpr HRESULT CRYPT_XML_E_VERIFY_FAILED = static_cast<HRESULT>(0x8009210DL);
constexpr HRESULT CRYPT_XML_E_TOO_MANY_SIGNATURES = static_cast<HRESULT>(0x8009210EL);
constexpr HRESULT CRYPT_XML_E_INVALID_KEYVALUE = static_cast<HRESULT>(0x8009210FL);
constexpr HRESULT CRYPT_XML_E_UNEXPECTED_XML = static_cast<HRESULT>(0x80092110L);
constexpr HRESULT CRYPT_XML_E_SIGNER = static_cast<HRESULT>(0x80092111L);
constexpr HRESULT CRYPT_XML_E_NON_UNIQUE_ID = static_cast<HRESULT>(0x80092112L);

// Entry point types, for callers that resolve them with GetProcAddress.
typedef HRESULT(WINAPI* PFN_CryptXmlOpenToDecode)(const CRYPT_XML_TRANSFORM_CHAIN_CONFIG* pConfig,
                                                  DWORD dwFlags, const CRYPT_XML_PROPERTY* rgProperty,
                                                  ULONG cProperty, const CRYPT_XML_BLOB* pEncoded,
                                                  HCRYPTXML* phCryptXml);
typedef HRESULT(WINAPI* PFN_CryptXmlGetDocContext)(HCRYPTXML hCryptXml, const CRYPT_XML_DOC_CTXT** ppStruct);
typedef HRESULT(WINAPI* PFN_CryptXmlGetSignature)(HCRYPTXML hCryptXml, const CRYPT_XML_SIGNATURE** ppStruct);
typedef HRESULT(WINAPI* PFN_CryptXmlGetReference)(HCRYPTXML hCryptXml, const CRYPT_XML_REFERENCE** ppStruct);
typedef HRESULT(WINAPI* PFN_CryptXmlGetStatus)(HCRYPTXML hCryptXml, CRYPT_XML_STATUS* pStatus);
typedef HRESULT(WINAPI* PFN_CryptXmlVerifySignature)(HCRYPTXML hSignature, BCRYPT_KEY_HANDLE hKey,
                                                     DWORD dwFlags);
typedef HRESULT(WINAPI* PFN_CryptXmlDigestReference)(HCRYPTXML hReference, DWORD dwFlags,
                                                     CRYPT_XML_DATA_PROVIDER* pDataProviderIn);
typedef HRESULT(WINAPI* PFN_CryptXmlClose)(HCRYPTXML hCryptXml);
// Test-only export: the canonical bytes behind a handle: for a signature its
// SignedInfo as signed, for a same-document reference the digested data.
// The bytes live as long as the document handle.
typedef HRESULT(WINAPI* PFN_StandinCanonicalize)(HCRYPTXML hSignatureOrReference, const BYTE** ppbData,
                                                 ULONG* pcbData);

}  // extern "C"
