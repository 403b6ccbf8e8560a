#pragma once
// The Windows XML digital signature API, reached at run time: cryptxml.dll
// is not present on every system, and the downloader must start without it.
// The toolchain's <cryptxml.h> does not compile (void members, types used
// before their declaration), so the types the verifier reads are declared
// here, laid out as the system DLL hands them out.
#include <windows.h>

#include <bcrypt.h>
#include <wincrypt.h>

namespace cryptxml {

using HCRYPTXML = HANDLE;

// Character set of an XML blob.
enum : DWORD { kCharsetAuto = 0, kCharsetUtf8 = 1 };

struct Blob {
    DWORD charset;
    ULONG size;
    BYTE* data;
};

struct DataBlob {
    ULONG size;
    BYTE* data;
};

struct Algorithm {
    ULONG structSize;
    LPCWSTR uri;
    Blob encoded;
};

using DataProviderRead = HRESULT(CALLBACK*)(void* state, BYTE* data, ULONG size, ULONG* read);
using DataProviderClose = HRESULT(CALLBACK*)(void* state);

// The source of an external reference's bytes. CryptXmlDigestReference
// always calls close, also when it fails.
struct DataProvider {
    void* state;
    ULONG bufferSize;
    DataProviderRead read;
    DataProviderClose close;
};

struct Reference {
    ULONG structSize;
    HCRYPTXML handle;
    LPCWSTR id;
    LPCWSTR uri;
    LPCWSTR type;
    Algorithm digestMethod;
    CRYPT_DATA_BLOB digestValue;
    ULONG transformCount;
    Algorithm* transforms;
};

struct SignedInfo {
    ULONG structSize;
    LPCWSTR id;
    Algorithm canonicalization;
    Algorithm signatureMethod;
    ULONG referenceCount;
    Reference** references;
    Blob encoded;
};

struct IssuerSerial {
    LPCWSTR issuer;
    LPCWSTR serial;
};

enum : DWORD { kX509Certificate = 4 };

struct X509DataItem {
    DWORD type;
    union {
        IssuerSerial issuerSerial;
        DataBlob ski;
        LPCWSTR subjectName;
        DataBlob certificate;  // type kX509Certificate: the DER bytes
        DataBlob crl;
        Blob custom;
    };
};

struct X509Data {
    UINT count;
    X509DataItem* items;
};

struct DsaKeyValue {
    DataBlob p, q, g, y, j, seed, counter;
};

struct RsaKeyValue {
    DataBlob modulus;
    DataBlob exponent;
};

struct EcdsaKeyValue {
    LPCWSTR namedCurve;
    DataBlob x;
    DataBlob y;
    Blob explicitParameters;
};

struct KeyValue {
    DWORD type;
    union {
        DsaKeyValue dsa;
        RsaKeyValue rsa;
        EcdsaKeyValue ecdsa;
        Blob custom;
    };
};

enum : DWORD { kKeyInfoX509Data = 4 };

struct KeyInfoItem {
    DWORD type;
    union {
        LPCWSTR keyName;
        KeyValue keyValue;
        Blob retrievalMethod;
        X509Data x509Data;  // type kKeyInfoX509Data
        Blob custom;
    };
};

struct KeyInfo {
    ULONG structSize;
    LPCWSTR id;
    UINT count;
    KeyInfoItem* items;
    BCRYPT_KEY_HANDLE verifyKey;
};

struct Signature {
    ULONG structSize;
    HCRYPTXML handle;
    LPCWSTR id;
    SignedInfo signedInfo;
    CRYPT_DATA_BLOB signatureValue;
    KeyInfo* keyInfo;
    ULONG objectCount;
    void** objects;
};

struct DocContext {
    ULONG structSize;
    HCRYPTXML handle;
    void* transformsConfig;
    ULONG signatureCount;
    Signature** signatures;
};

struct Status {
    ULONG structSize;
    DWORD errorStatus;
    DWORD infoStatus;
};

enum : DWORD {
    kErrorNotResolved = 0x1,       // errorStatus
    kErrorDigestInvalid = 0x2,     // errorStatus
    kInfoInternalReference = 0x1,  // infoStatus
};

struct Property {
    DWORD id;
    const void* value;
    ULONG size;
};

using PFN_CryptXmlFindAlgorithmInfo = const void*(WINAPI*)(DWORD findByType, const void* findBy,
                                                           DWORD groupId, DWORD flags);
using PFN_CryptXmlOpenToEncode = HRESULT(WINAPI*)(const void* config, DWORD flags, LPCWSTR id,
                                                  const Property* properties, ULONG propertyCount,
                                                  const Blob* encoded, HCRYPTXML* signature);
using PFN_CryptXmlCreateReference = HRESULT(WINAPI*)(HCRYPTXML parent, DWORD flags, LPCWSTR id, LPCWSTR uri,
                                                     LPCWSTR type, const Algorithm* digestMethod,
                                                     ULONG transformCount, const Algorithm* transforms,
                                                     HCRYPTXML* reference);
using PFN_CryptXmlGetStatus = HRESULT(WINAPI*)(HCRYPTXML handle, Status* status);
using PFN_CryptXmlGetReference = HRESULT(WINAPI*)(HCRYPTXML handle, const Reference** reference);
using PFN_CryptXmlDigestReference = HRESULT(WINAPI*)(HCRYPTXML reference, DWORD flags,
                                                     DataProvider* provider);
using PFN_CryptXmlSign = HRESULT(WINAPI*)(HCRYPTXML signature, HCRYPTPROV_OR_NCRYPT_KEY_HANDLE key,
                                          DWORD keySpec, DWORD flags, DWORD keyInfoSpec, const void* keyInfo,
                                          const Algorithm* signatureMethod,
                                          const Algorithm* canonicalization);
using PFN_CryptXmlEncode = HRESULT(WINAPI*)(HCRYPTXML handle, DWORD charset, const Property* properties,
                                            ULONG propertyCount, void* state,
                                            HRESULT(CALLBACK* write)(void* state, const BYTE* data,
                                                                     ULONG size));
using PFN_CryptXmlClose = HRESULT(WINAPI*)(HCRYPTXML handle);
using PFN_CryptXmlOpenToDecode = HRESULT(WINAPI*)(const void* config, DWORD flags, const Property* properties,
                                                  ULONG propertyCount, const Blob* encoded,
                                                  HCRYPTXML* document);
using PFN_CryptXmlGetDocContext = HRESULT(WINAPI*)(HCRYPTXML document, const DocContext** context);
using PFN_CryptXmlVerifySignature = HRESULT(WINAPI*)(HCRYPTXML signature, BCRYPT_KEY_HANDLE key, DWORD flags);
using PFN_CryptXmlGetSignature = HRESULT(WINAPI*)(HCRYPTXML handle, const Signature** signature);

}  // namespace cryptxml

// The process-wide table: the three libraries and the entry points resolved
// from them. An entry point the library lacks stays null.
struct CryptXmlFunctions {
    HMODULE cryptxml = nullptr;
    HMODULE bcrypt = nullptr;
    HMODULE crypt32 = nullptr;

    cryptxml::PFN_CryptXmlFindAlgorithmInfo CryptXmlFindAlgorithmInfo = nullptr;
    cryptxml::PFN_CryptXmlOpenToEncode CryptXmlOpenToEncode = nullptr;
    cryptxml::PFN_CryptXmlCreateReference CryptXmlCreateReference = nullptr;
    cryptxml::PFN_CryptXmlGetStatus CryptXmlGetStatus = nullptr;
    cryptxml::PFN_CryptXmlGetReference CryptXmlGetReference = nullptr;
    cryptxml::PFN_CryptXmlDigestReference CryptXmlDigestReference = nullptr;
    cryptxml::PFN_CryptXmlSign CryptXmlSign = nullptr;
    cryptxml::PFN_CryptXmlEncode CryptXmlEncode = nullptr;
    cryptxml::PFN_CryptXmlClose CryptXmlClose = nullptr;
    cryptxml::PFN_CryptXmlOpenToDecode CryptXmlOpenToDecode = nullptr;
    cryptxml::PFN_CryptXmlGetDocContext CryptXmlGetDocContext = nullptr;
    cryptxml::PFN_CryptXmlVerifySignature CryptXmlVerifySignature = nullptr;
    cryptxml::PFN_CryptXmlGetSignature CryptXmlGetSignature = nullptr;

    decltype(&::BCryptDestroyKey) BCryptDestroyKey = nullptr;

    decltype(&::CertFreeCertificateChain) CertFreeCertificateChain = nullptr;
    decltype(&::CryptFindOIDInfo) CryptFindOIDInfo = nullptr;
    decltype(&::CertCloseStore) CertCloseStore = nullptr;
    decltype(&::CertFreeCertificateContext) CertFreeCertificateContext = nullptr;
    decltype(&::CertGetCertificateChain) CertGetCertificateChain = nullptr;
    decltype(&::CertEnumCertificatesInStore) CertEnumCertificatesInStore = nullptr;
    decltype(&::CryptAcquireCertificatePrivateKey) CryptAcquireCertificatePrivateKey = nullptr;
    decltype(&::CertFindCertificateInStore) CertFindCertificateInStore = nullptr;
    decltype(&::CertOpenStore) CertOpenStore = nullptr;
    decltype(&::CryptImportPublicKeyInfoEx2) CryptImportPublicKeyInfoEx2 = nullptr;
    decltype(&::CertCreateCertificateContext) CertCreateCertificateContext = nullptr;
};

// The table filled by the last LoadCryptXml(). Only the description reader's
// thread uses it.
CryptXmlFunctions& crypt_xml();

// Loads cryptxml.dll, bcrypt.dll and crypt32.dll by bare name, in that order,
// and resolves every entry point again. 0, or 126 when a library did not
// load. The libraries stay loaded for the life of the process.
DWORD LoadCryptXml();
