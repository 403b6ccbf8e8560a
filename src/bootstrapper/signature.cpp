#include "signature.h"

#include "digest.h"
#include "security_key.h"
#include "text.h"

namespace {

constexpr wchar_t kKeyMismatch[] =
    L"Security error: The security key doesn't match the signature of 'version_info.xml'.";

// This build has no XML signature verifier: a signed description is refused
// rather than trusted unchecked.
bool CheckSignature(const std::wstring& /*cachedFile*/, OperationError& error) {
    error.text = L"The signature of 'version_info.xml' cannot be checked by this version of the downloader.";
    return false;
}

}  // namespace

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
