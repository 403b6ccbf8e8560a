#include "signature.h"

#include "digest.h"
#include "security_key.h"
#include "signature_verify.h"
#include "text.h"
#include "engine_texts.h"

bool CheckSignature(const std::wstring& path, OperationError& error) {
    const DWORD loaded = LoadCryptXml();
    if (loaded != 0) {
        error.set(format(texts::kCryptXmlInitFailed, static_cast<unsigned>(loaded)), loaded);
        return false;
    }
    const HRESULT result = VerifyXmlSignature(path);
    if (result != S_OK) {
        const DWORD code = static_cast<DWORD>(result);
        error.set(format(texts::kSignatureCheckFailed, static_cast<unsigned>(code)), code);
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
            error.text = texts::kKeyEmpty;
            return false;
        }
        return true;
    }
    // With a key set, an unsigned description is refused whatever its
    // certificate text; comparing digests only makes sense for a signed one.
    if (!signedDescription || !certificate_matches_key(certificateText, keyDigits)) {
        error.text = texts::kKeyMismatch;
        return false;
    }
    return true;
}

bool AcceptDescription(bool signedDescription, const std::wstring& certificateText,
                       const std::wstring& cachedFile, OperationError& error) {
    return AcceptDescription(signedDescription, certificateText, cachedFile, security_key_digits(), error);
}
