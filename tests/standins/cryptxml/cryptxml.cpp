// Test-only cryptxml.dll: the verification half of the XML digital signature
// API on top of bcrypt, for Wine, which has no cryptxml.dll. The entry points
// that only signing uses are exported so that callers resolve them, and fail.
#include <mutex>
#include <new>
#include <set>

#include "signature_doc.h"

#define STANDIN_API extern "C" __declspec(dllexport)

using namespace standin;

namespace {

#ifndef STATUS_INVALID_SIGNATURE
constexpr NTSTATUS STATUS_INVALID_SIGNATURE = static_cast<NTSTATUS>(0xC000A000L);
#endif
constexpr NTSTATUS kStatusInvalidParameter = static_cast<NTSTATUS>(0xC000000DL);

// Live handles: a handle the caller passes is looked up here before use.
std::mutex g_lock;
std::set<const void*> g_handles;

HandleObject* lookup(HCRYPTXML h) {
    if (!h || !g_handles.count(h)) return nullptr;
    return static_cast<HandleObject*>(h);
}

template <class T>
T* lookup_as(HCRYPTXML h, HandleKind kind) {
    HandleObject* o = lookup(h);
    return o && o->kind == kind ? static_cast<T*>(o) : nullptr;
}

void register_document(Document& doc) {
    g_handles.insert(static_cast<HandleObject*>(&doc));
    for (auto& sig : doc.signatures) {
        g_handles.insert(static_cast<HandleObject*>(sig.get()));
        for (auto& ref : sig->references) g_handles.insert(static_cast<HandleObject*>(ref.get()));
    }
}

void unregister_document(Document& doc) {
    g_handles.erase(static_cast<HandleObject*>(&doc));
    for (auto& sig : doc.signatures) {
        g_handles.erase(static_cast<HandleObject*>(sig.get()));
        for (auto& ref : sig->references) g_handles.erase(static_cast<HandleObject*>(ref.get()));
    }
}

void signature_status(const Signature& sig, DWORD& error, DWORD& info) {
    error = sig.error;
    info = sig.status_info;
    bool all_valid = !sig.references.empty();
    for (const auto& ref : sig.references) {
        error |= ref->error;
        if (!(ref->status_info & CRYPT_XML_STATUS_DIGEST_VALID)) all_valid = false;
    }
    if (all_valid) info |= CRYPT_XML_STATUS_DIGEST_VALID;
}

// Runs an entry point body under the lock; no exception leaves the DLL.
template <class F>
HRESULT guarded(F&& body) {
    try {
        std::lock_guard<std::mutex> hold(g_lock);
        return body();
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    } catch (...) {
        return E_UNEXPECTED;
    }
}

}  // namespace

STANDIN_API HRESULT WINAPI CryptXmlOpenToDecode(const CRYPT_XML_TRANSFORM_CHAIN_CONFIG* /*pConfig*/,
                                                DWORD /*dwFlags*/, const CRYPT_XML_PROPERTY* rgProperty,
                                                ULONG cProperty, const CRYPT_XML_BLOB* pEncoded,
                                                HCRYPTXML* phCryptXml) {
    return guarded([&]() -> HRESULT {
        if (!pEncoded || !phCryptXml || (cProperty && !rgProperty)) return E_INVALIDARG;
        *phCryptXml = nullptr;
        if (pEncoded->dwCharset != CRYPT_XML_CHARSET_UTF8 && pEncoded->dwCharset != CRYPT_XML_CHARSET_AUTO)
            return CRYPT_XML_E_ENCODING;
        if (pEncoded->cbData > 0 && !pEncoded->pbData) return E_INVALIDARG;
        if (pEncoded->cbData > CRYPT_XML_BLOB_MAX) return CRYPT_XML_E_LARGE;
        std::string_view bytes(reinterpret_cast<const char*>(pEncoded->pbData), pEncoded->cbData);
        auto doc = std::make_unique<Document>();
        HRESULT hr = decode_document(bytes, *doc);
        if (FAILED(hr)) return hr;
        register_document(*doc);
        *phCryptXml = static_cast<HandleObject*>(doc.release());
        return S_OK;
    });
}

STANDIN_API HRESULT WINAPI CryptXmlGetDocContext(HCRYPTXML hCryptXml, const CRYPT_XML_DOC_CTXT** ppStruct) {
    return guarded([&]() -> HRESULT {
        if (!ppStruct) return E_INVALIDARG;
        auto* doc = lookup_as<Document>(hCryptXml, HandleKind::Document);
        if (!doc) return CRYPT_XML_E_HANDLE;
        *ppStruct = &doc->context;
        return S_OK;
    });
}

STANDIN_API HRESULT WINAPI CryptXmlGetSignature(HCRYPTXML hCryptXml, const CRYPT_XML_SIGNATURE** ppStruct) {
    return guarded([&]() -> HRESULT {
        if (!ppStruct) return E_INVALIDARG;
        auto* sig = lookup_as<Signature>(hCryptXml, HandleKind::Signature);
        if (!sig) return CRYPT_XML_E_HANDLE;
        *ppStruct = &sig->info;
        return S_OK;
    });
}

STANDIN_API HRESULT WINAPI CryptXmlGetReference(HCRYPTXML hCryptXml, const CRYPT_XML_REFERENCE** ppStruct) {
    return guarded([&]() -> HRESULT {
        if (!ppStruct) return E_INVALIDARG;
        auto* ref = lookup_as<Reference>(hCryptXml, HandleKind::Reference);
        if (!ref) return CRYPT_XML_E_HANDLE;
        *ppStruct = &ref->info;
        return S_OK;
    });
}

STANDIN_API HRESULT WINAPI CryptXmlGetStatus(HCRYPTXML hCryptXml, CRYPT_XML_STATUS* pStatus) {
    return guarded([&]() -> HRESULT {
        if (!pStatus) return E_INVALIDARG;
        HandleObject* o = lookup(hCryptXml);
        if (!o) return CRYPT_XML_E_HANDLE;
        DWORD error = 0;
        DWORD info = 0;
        switch (o->kind) {
            case HandleKind::Reference: {
                auto* ref = static_cast<Reference*>(o);
                error = ref->error;
                info = ref->status_info;
                break;
            }
            case HandleKind::Signature:
                signature_status(*static_cast<Signature*>(o), error, info);
                break;
            case HandleKind::Document: {
                auto* doc = static_cast<Document*>(o);
                bool first = true;
                for (const auto& sig : doc->signatures) {
                    DWORD e = 0;
                    DWORD i = 0;
                    signature_status(*sig, e, i);
                    error |= e;
                    info = first ? i : (info & i);
                    first = false;
                }
                break;
            }
        }
        pStatus->cbSize = sizeof(CRYPT_XML_STATUS);
        pStatus->dwErrorStatus = error;
        pStatus->dwInfoStatus = info;
        return S_OK;
    });
}

STANDIN_API HRESULT WINAPI CryptXmlVerifySignature(HCRYPTXML hSignature, BCRYPT_KEY_HANDLE hKey,
                                                   DWORD /*dwFlags*/) {
    return guarded([&]() -> HRESULT {
        auto* sig = lookup_as<Signature>(hSignature, HandleKind::Signature);
        if (!sig) return CRYPT_XML_E_HANDLE;
        if (!hKey) return CRYPT_XML_E_SIGNER;
        std::vector<BYTE> digest;
        HRESULT hr = compute_hash(sig->hash, sig->signed_info, digest);
        if (FAILED(hr)) return hr;
        BCRYPT_PKCS1_PADDING_INFO padding{hash_algorithm(sig->hash)};
        NTSTATUS status =
            BCryptVerifySignature(hKey, &padding, digest.data(), static_cast<ULONG>(digest.size()),
                                  sig->value.empty() ? nullptr : sig->value.data(),
                                  static_cast<ULONG>(sig->value.size()), BCRYPT_PAD_PKCS1);
        if (status == 0) {
            sig->error &= ~CRYPT_XML_STATUS_ERROR_SIGNATURE_INVALID;
            sig->status_info |= CRYPT_XML_STATUS_SIGNATURE_VALID;
            return S_OK;
        }
        sig->status_info &= ~CRYPT_XML_STATUS_SIGNATURE_VALID;
        sig->error |= CRYPT_XML_STATUS_ERROR_SIGNATURE_INVALID;
        // A value of the wrong length for the key is as broken as a wrong one.
        if (status == STATUS_INVALID_SIGNATURE || status == kStatusInvalidParameter)
            return CRYPT_XML_E_INVALID_SIGNATURE;
        return CRYPT_XML_E_VERIFY_FAILED;
    });
}

STANDIN_API HRESULT WINAPI CryptXmlDigestReference(HCRYPTXML hReference, DWORD /*dwFlags*/,
                                                   CRYPT_XML_DATA_PROVIDER* pDataProviderIn) {
    return guarded([&]() -> HRESULT {
        auto* ref = lookup_as<Reference>(hReference, HandleKind::Reference);
        if (!ref) return CRYPT_XML_E_HANDLE;
        if (!pDataProviderIn || !pDataProviderIn->pfnRead) return E_INVALIDARG;
        if (ref->internal) return CRYPT_XML_E_OPERATION;
        CRYPT_XML_DATA_PROVIDER provider = *pDataProviderIn;
        ULONG size = provider.cbBufferSize ? provider.cbBufferSize : 0x10000;
        if (size > 0x100000) size = 0x100000;
        std::vector<BYTE> buffer(size);
        std::string data;
        HRESULT hr = S_OK;
        for (;;) {
            ULONG read = 0;
            hr = provider.pfnRead(provider.pvCallbackState, buffer.data(), size, &read);
            if (FAILED(hr)) break;
            if (read > size) {
                hr = E_UNEXPECTED;
                break;
            }
            if (read == 0) break;
            data.append(reinterpret_cast<const char*>(buffer.data()), read);
        }
        HRESULT closed = provider.pfnClose ? provider.pfnClose(provider.pvCallbackState) : S_OK;
        if (FAILED(hr)) return hr;
        if (FAILED(closed)) return closed;
        std::vector<BYTE> actual;
        hr = compute_hash(ref->hash, data, actual);
        if (FAILED(hr)) return hr;
        ref->error &= ~(CRYPT_XML_STATUS_ERROR_NOT_RESOLVED | CRYPT_XML_STATUS_ERROR_DIGEST_INVALID);
        ref->status_info &= ~CRYPT_XML_STATUS_DIGEST_VALID;
        if (actual == ref->expected) {
            ref->status_info |= CRYPT_XML_STATUS_DIGEST_VALID;
        } else {
            ref->error |= CRYPT_XML_STATUS_ERROR_DIGEST_INVALID;
        }
        return S_OK;
    });
}

STANDIN_API HRESULT WINAPI CryptXmlClose(HCRYPTXML hCryptXml) {
    return guarded([&]() -> HRESULT {
        HandleObject* o = lookup(hCryptXml);
        if (!o) return CRYPT_XML_E_HANDLE;
        // Signature and reference handles belong to their document.
        if (o->kind != HandleKind::Document) return S_OK;
        auto* doc = static_cast<Document*>(o);
        unregister_document(*doc);
        delete doc;
        return S_OK;
    });
}

STANDIN_API HRESULT WINAPI StandinCanonicalize(HCRYPTXML hSignatureOrReference, const BYTE** ppbData,
                                               ULONG* pcbData) {
    return guarded([&]() -> HRESULT {
        if (!ppbData || !pcbData) return E_INVALIDARG;
        HandleObject* o = lookup(hSignatureOrReference);
        if (!o) return CRYPT_XML_E_HANDLE;
        const std::string* bytes = nullptr;
        if (o->kind == HandleKind::Signature) bytes = &static_cast<Signature*>(o)->signed_info;
        if (o->kind == HandleKind::Reference && static_cast<Reference*>(o)->internal)
            bytes = &static_cast<Reference*>(o)->canonical;
        if (!bytes) return CRYPT_XML_E_OPERATION;
        *ppbData = reinterpret_cast<const BYTE*>(bytes->data());
        *pcbData = static_cast<ULONG>(bytes->size());
        return S_OK;
    });
}

// Signing and the rest of the API are not needed by verification.
STANDIN_API HRESULT WINAPI CryptXmlOpenToEncode(const CRYPT_XML_TRANSFORM_CHAIN_CONFIG*, DWORD, LPCWSTR,
                                                const CRYPT_XML_PROPERTY*, ULONG, const CRYPT_XML_BLOB*,
                                                HCRYPTXML* phSignature) {
    if (phSignature) *phSignature = nullptr;
    return E_NOTIMPL;
}

STANDIN_API HRESULT WINAPI CryptXmlCreateReference(HCRYPTXML, DWORD, LPCWSTR, LPCWSTR, LPCWSTR,
                                                   const CRYPT_XML_ALGORITHM*, ULONG,
                                                   const CRYPT_XML_ALGORITHM*, HCRYPTXML* phReference) {
    if (phReference) *phReference = nullptr;
    return E_NOTIMPL;
}

STANDIN_API HRESULT WINAPI CryptXmlSign(HCRYPTXML, ULONG_PTR, DWORD, DWORD, CRYPT_XML_KEYINFO_SPEC,
                                        const void*, const CRYPT_XML_ALGORITHM*, const CRYPT_XML_ALGORITHM*) {
    return E_NOTIMPL;
}

STANDIN_API HRESULT WINAPI CryptXmlEncode(HCRYPTXML, CRYPT_XML_CHARSET, const CRYPT_XML_PROPERTY*, ULONG,
                                          void*, PFN_CRYPT_XML_WRITE_CALLBACK) {
    return E_NOTIMPL;
}

// Returns the algorithm's description, or null when it is unknown: no
// algorithm is described here.
STANDIN_API const CRYPT_XML_ALGORITHM_INFO* WINAPI CryptXmlFindAlgorithmInfo(DWORD, const void*, DWORD,
                                                                             DWORD) {
    SetLastError(ERROR_NOT_SUPPORTED);
    return nullptr;
}

STANDIN_API HRESULT WINAPI CryptXmlGetAlgorithmInfo(const CRYPT_XML_ALGORITHM*, DWORD,
                                                    CRYPT_XML_ALGORITHM_INFO** ppAlgInfo) {
    if (ppAlgInfo) *ppAlgInfo = nullptr;
    return E_NOTIMPL;
}

STANDIN_API HRESULT WINAPI CryptXmlImportPublicKey(DWORD, const CRYPT_XML_KEY_VALUE*,
                                                   BCRYPT_KEY_HANDLE* phKey) {
    if (phKey) *phKey = nullptr;
    return E_NOTIMPL;
}

STANDIN_API HRESULT WINAPI CryptXmlAddObject(HCRYPTXML, DWORD, const CRYPT_XML_PROPERTY*, ULONG,
                                             const CRYPT_XML_BLOB*, const CRYPT_XML_OBJECT** ppObject) {
    if (ppObject) *ppObject = nullptr;
    return E_NOTIMPL;
}
