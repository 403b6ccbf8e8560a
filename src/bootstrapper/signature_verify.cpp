#include "signature_verify.h"

#include <new>
#include <string_view>

#include "text.h"
#include "unique_handle.h"

namespace {

// Owners for what verification opens; each closes through the loaded table.
struct crypt_xml_traits {
    using pointer = cryptxml::HCRYPTXML;
    static constexpr pointer invalid() noexcept { return nullptr; }
    static bool is_valid(pointer value) noexcept { return value != nullptr; }
    static void close(pointer value) noexcept { crypt_xml().CryptXmlClose(value); }
};
struct certificate_traits {
    using pointer = PCCERT_CONTEXT;
    static constexpr pointer invalid() noexcept { return nullptr; }
    static bool is_valid(pointer value) noexcept { return value != nullptr; }
    static void close(pointer value) noexcept { crypt_xml().CertFreeCertificateContext(value); }
};
struct chain_traits {
    using pointer = PCCERT_CHAIN_CONTEXT;
    static constexpr pointer invalid() noexcept { return nullptr; }
    static bool is_valid(pointer value) noexcept { return value != nullptr; }
    static void close(pointer value) noexcept { crypt_xml().CertFreeCertificateChain(value); }
};
struct bcrypt_key_traits {
    using pointer = BCRYPT_KEY_HANDLE;
    static constexpr pointer invalid() noexcept { return nullptr; }
    static bool is_valid(pointer value) noexcept { return value != nullptr; }
    static void close(pointer value) noexcept { crypt_xml().BCryptDestroyKey(value); }
};
using unique_crypt_xml = unique_handle<crypt_xml_traits>;
using unique_certificate = unique_handle<certificate_traits>;
using unique_chain = unique_handle<chain_traits>;
using unique_bcrypt_key = unique_handle<bcrypt_key_traits>;

HRESULT last_error_result() {
    const DWORD code = GetLastError();
    return code == 0 ? E_FAIL : HRESULT_FROM_WIN32(code);
}

// The file handle travels as the provider's state.
HRESULT CALLBACK read_reference_data(void* state, BYTE* data, ULONG size, ULONG* read) {
    const HANDLE file = static_cast<HANDLE>(state);
    if (file == INVALID_HANDLE_VALUE || file == nullptr || read == nullptr) return E_INVALIDARG;
    DWORD count = 0;
    if (!ReadFile(file, data, size, &count, nullptr)) return last_error_result();
    *read = count;
    return S_OK;
}

HRESULT CALLBACK close_reference_data(void* state) {
    const HANDLE file = static_cast<HANDLE>(state);
    if (file == INVALID_HANDLE_VALUE || file == nullptr) return S_OK;
    if (!CloseHandle(file)) return last_error_result();
    return S_OK;
}

bool starts_with_scheme(std::wstring_view uri, std::wstring_view scheme) {
    return uri.size() > scheme.size() && iequals(uri.substr(0, scheme.size()), scheme);
}

// "\\server\share", "\\.\pipe\x", "\\?\..." and their "/" spellings. A
// reference in a description must not make the run contact another machine
// (and offer it the user's credentials) or open a device or pipe, whose read
// could block the run for ever.
bool is_network_or_device_path(std::wstring_view path) {
    auto separator = [](wchar_t c) { return c == L'\\' || c == L'/'; };
    return path.size() >= 2 && separator(path[0]) && separator(path[1]);
}

// Every entry point verification calls; a library without one of them is
// refused instead of calling through a null pointer.
bool verifier_complete(const CryptXmlFunctions& api) {
    return api.CryptXmlOpenToDecode && api.CryptXmlGetDocContext && api.CryptXmlVerifySignature &&
           api.CryptXmlGetSignature && api.CryptXmlGetReference && api.CryptXmlGetStatus &&
           api.CryptXmlDigestReference && api.CryptXmlClose && api.BCryptDestroyKey &&
           api.CertCreateCertificateContext && api.CryptImportPublicKeyInfoEx2 &&
           api.CertGetCertificateChain && api.CertFreeCertificateChain && api.CertFreeCertificateContext;
}

// The first X509 certificate of the KeyInfo whose public key imports as a
// signing key.
bool find_signer(const cryptxml::KeyInfo* keyInfo, unique_certificate& certificate, unique_bcrypt_key& key) {
    const CryptXmlFunctions& api = crypt_xml();
    if (!keyInfo || !keyInfo->items) return false;
    for (UINT i = 0; i < keyInfo->count; ++i) {
        const cryptxml::KeyInfoItem& item = keyInfo->items[i];
        if (item.type != cryptxml::kKeyInfoX509Data || !item.x509Data.items) continue;
        for (UINT j = 0; j < item.x509Data.count; ++j) {
            const cryptxml::X509DataItem& data = item.x509Data.items[j];
            if (data.type != cryptxml::kX509Certificate || !data.certificate.data) continue;
            unique_certificate candidate(api.CertCreateCertificateContext(
                X509_ASN_ENCODING, data.certificate.data, data.certificate.size));
            if (!candidate) continue;
            BCRYPT_KEY_HANDLE imported = nullptr;
            if (!api.CryptImportPublicKeyInfoEx2(
                    X509_ASN_ENCODING,
                    const_cast<PCERT_PUBLIC_KEY_INFO>(&candidate.get()->pCertInfo->SubjectPublicKeyInfo),
                    CRYPT_OID_INFO_PUBKEY_SIGN_KEY_FLAG, nullptr, &imported))
                continue;
            key.reset(imported);
            certificate = std::move(candidate);
            return true;
        }
    }
    return false;
}

// Resolves and digests the external references the decoder could not.
HRESULT digest_references(const cryptxml::Signature& signature) {
    const CryptXmlFunctions& api = crypt_xml();
    const cryptxml::SignedInfo& info = signature.signedInfo;
    if (info.referenceCount && !info.references) return E_UNEXPECTED;
    for (ULONG i = 0; i < info.referenceCount; ++i) {
        if (!info.references[i]) return E_UNEXPECTED;
        const cryptxml::Reference* reference = nullptr;
        HRESULT hr = api.CryptXmlGetReference(info.references[i]->handle, &reference);
        if (FAILED(hr)) return hr;
        if (!reference) return E_UNEXPECTED;
        cryptxml::Status status{sizeof(cryptxml::Status), 0, 0};
        hr = api.CryptXmlGetStatus(reference->handle, &status);
        if (FAILED(hr)) return hr;
        if (!(status.errorStatus & cryptxml::kErrorNotResolved) ||
            (status.infoStatus & cryptxml::kInfoInternalReference))
            continue;
        cryptxml::DataProvider provider{};
        hr = ResolveReferenceUri(reference->uri, provider);
        if (FAILED(hr)) return hr;
        if (hr != S_OK) return kReferenceNotResolved;
        // The call always closes the provider, also on failure.
        hr = api.CryptXmlDigestReference(reference->handle, 0, &provider);
        if (FAILED(hr)) return hr;
        hr = api.CryptXmlGetStatus(reference->handle, &status);
        if (FAILED(hr)) return hr;
    }
    return S_OK;
}

HRESULT verify_signature(const cryptxml::Signature& signature) {
    const CryptXmlFunctions& api = crypt_xml();
    unique_certificate certificate;
    unique_bcrypt_key key;
    if (!find_signer(signature.keyInfo, certificate, key)) return kNoSignerKey;

    // The chain is built as the system would for this certificate; its trust
    // status is not what decides: the security key does.
    CERT_CHAIN_PARA parameters{};
    parameters.cbSize = sizeof(parameters);
    unique_chain chain;
    PCCERT_CHAIN_CONTEXT built = nullptr;
    if (!api.CertGetCertificateChain(nullptr, certificate.get(), nullptr, nullptr, &parameters, 0, nullptr,
                                     &built))
        return last_error_result();
    chain.reset(built);

    HRESULT hr = api.CryptXmlVerifySignature(signature.handle, key.get(), 0);
    if (FAILED(hr)) return hr;

    const cryptxml::Signature* data = nullptr;
    hr = api.CryptXmlGetSignature(signature.handle, &data);
    if (FAILED(hr)) return hr;
    if (!data) return E_UNEXPECTED;
    hr = digest_references(*data);
    if (FAILED(hr)) return hr;

    cryptxml::Status status{sizeof(cryptxml::Status), 0, 0};
    hr = api.CryptXmlGetStatus(signature.handle, &status);
    if (FAILED(hr)) return hr;
    if (status.errorStatus & cryptxml::kErrorDigestInvalid) return kDigestInvalid;
    if (status.errorStatus & cryptxml::kErrorNotResolved) return kReferenceNotResolved;
    return S_OK;
}

}  // namespace

HRESULT LoadSignedBytes(const std::wstring& path, std::vector<BYTE>& bytes) {
    unique_file file(
        CreateFileW(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return last_error_result();
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(file.get(), &size)) return last_error_result();
    // The decoder takes at most a 32-bit count.
    if (static_cast<unsigned long long>(size.QuadPart) > 0x7FFFFFF8ull) return E_OUTOFMEMORY;

    std::vector<BYTE> kept;
    try {
        std::vector<BYTE> raw(static_cast<size_t>(size.QuadPart));
        size_t filled = 0;
        while (filled < raw.size()) {
            DWORD count = 0;
            if (!ReadFile(file.get(), raw.data() + filled, static_cast<DWORD>(raw.size() - filled), &count,
                          nullptr))
                return last_error_result();
            if (count == 0) break;  // the file became shorter meanwhile
            filled += count;
        }
        kept.reserve(filled);
        for (size_t i = 0; i < filled; ++i) {
            const BYTE b = raw[i];
            if (b != 0x09 && b != 0x0D && b != 0x0A) kept.push_back(b);
        }
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
    if (kept.size() >= 3 && kept[0] == 0xEF && kept[1] == 0xBB && kept[2] == 0xBF)
        kept.erase(kept.begin(), kept.begin() + 3);
    bytes.swap(kept);
    return S_OK;
}

HRESULT ResolveReferenceUri(const wchar_t* uri, cryptxml::DataProvider& provider) {
    const std::wstring_view text = uri ? std::wstring_view(uri) : std::wstring_view();
    if (text.empty()) return S_FALSE;
    if (starts_with_scheme(text, L"http://") || starts_with_scheme(text, L"https://")) return E_NOTIMPL;
    const std::wstring path(starts_with_scheme(text, L"file://") ? text.substr(7) : text);

    if (is_network_or_device_path(path)) return S_FALSE;

    const HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return S_FALSE;
    // Device names such as CON or COM1 open without a network path.
    if (GetFileType(file) != FILE_TYPE_DISK) {
        CloseHandle(file);
        return S_FALSE;
    }
    provider.state = file;
    provider.bufferSize = 0;
    provider.read = &read_reference_data;
    provider.close = &close_reference_data;
    return S_OK;
}

HRESULT VerifyXmlSignature(const std::wstring& path) {
    const CryptXmlFunctions& api = crypt_xml();
    if (!verifier_complete(api)) return HRESULT_FROM_WIN32(ERROR_PROC_NOT_FOUND);

    std::vector<BYTE> bytes;
    HRESULT hr = LoadSignedBytes(path, bytes);
    if (FAILED(hr)) return hr;

    const cryptxml::Blob blob{cryptxml::kCharsetUtf8, static_cast<ULONG>(bytes.size()), bytes.data()};
    unique_crypt_xml document;
    cryptxml::HCRYPTXML opened = nullptr;
    hr = api.CryptXmlOpenToDecode(nullptr, 0, nullptr, 0, &blob, &opened);
    if (FAILED(hr)) return hr;
    document.reset(opened);

    const cryptxml::DocContext* context = nullptr;
    hr = api.CryptXmlGetDocContext(document.get(), &context);
    if (FAILED(hr)) return hr;
    if (!context || context->signatureCount == 0 || !context->signatures) return kNoSignature;

    for (ULONG i = 0; i < context->signatureCount; ++i) {
        if (!context->signatures[i]) return E_UNEXPECTED;
        hr = verify_signature(*context->signatures[i]);
        if (hr != S_OK) return hr;
    }
    return S_OK;
}
