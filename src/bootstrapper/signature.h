#pragma once
// Whether a read version_info.xml may be used: its signature and the
// signer certificate against the security key built into the program.
#include <string>
#include <string_view>

#include "operation_error.h"

// Accepts or refuses the description. signedDescription: the document has a
// `Signature` element with content; certificateText: the signer certificate
// text read from it; cachedFile: the cached version_info.xml;
// keyDigits: the 40 key digits (all "0" = no key). On refusal error.text
// says why and error.code is left as it was.
bool AcceptDescription(bool signedDescription, const std::wstring& certificateText,
                       const std::wstring& cachedFile, std::string_view keyDigits, OperationError& error);

// The same against the key built into this program.
bool AcceptDescription(bool signedDescription, const std::wstring& certificateText,
                       const std::wstring& cachedFile, OperationError& error);

// Verifies the XML signature of the file at path. On failure error.code is
// the loader's Win32 code or the verification HRESULT and error.text says so.
bool CheckSignature(const std::wstring& path, OperationError& error);

// True when the SHA-1 digest of the certificate text (ANSI code page bytes,
// 40 hex digits) equals keyDigits without regard to case.
bool certificate_matches_key(const std::wstring& certificateText, std::string_view keyDigits);
