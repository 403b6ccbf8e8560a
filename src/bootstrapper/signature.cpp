#include "signature.h"

#include "digest.h"
#include "security_key.h"
#include "signature_verify.h"
#include "text.h"

namespace {

constexpr wchar_t kKeyMismatch[] =
    L"Security error: The security key doesn't match the signature of 'version_info.xml'.";

}  // namespace

bool CheckSignature(const std::wstring& path, OperationError& error) {
    const DWORD loaded = LoadCryptXml();
    if (loaded != 0) {
        error.set(
            format(L"Failed to initialize CryptoXML API (HRESULT = 0x%x).", static_cast<unsigned>(loaded)),
            loaded);
        return false;
    }
    const HRESULT result = VerifyXmlSignature(path);
    if (result != S_OK) {
        const DWORD code = static_cast<DWORD>(result);
        error.set(format(L"Failed to check the signature of version_info.xml (HRESULT = 0x%x).",
                         static_cast<unsigned>(code)),
                  code);
        return false;
    }
    return true;
}

bool certificate_matches_key(const std::wstring& certificateText, std::string_view keyDigits) {
    const std::wstring digest = text_digest(certificateText);
    if (digest.empty()) return false;
    return iequals(digest, widen(keyDigits));
}

bool AcceptDescription(bool signedDescription, const std::wstring& certificateText,
                       const std::wstring& cachedFile, std::string_view keyDigits, OperationError& error) {
    if (signedDescription && !CheckSignature(cachedFile, error)) return false;

    if (keyDigits.find_first_not_of('0') == std::string_view::npos) {
        if (signedDescription) {
            error.text = L"Security error: The security key is empty.";
            return false;
        }
        return true;
    }
    // With a key set, an unsigned description is refused whatever its
    // certificate text; comparing digests only makes sense for a signed one.
    if (!signedDescription || !certificate_matches_key(certificateText, keyDigits)) {
        error.text = kKeyMismatch;
        return false;
    }
    return true;
}

bool AcceptDescription(bool signedDescription, const std::wstring& certificateText,
                       const std::wstring& cachedFile, OperationError& error) {
    return AcceptDescription(signedDescription, certificateText, cachedFile, security_key_digits(), error);
}
