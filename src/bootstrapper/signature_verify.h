#pragma once
// XML signature verification of a description file through the system's
// XML digital signature API (LoadCryptXml() must have succeeded first).
#include <string>
#include <vector>

#include "crypt_xml_api.h"

// Results beyond the API's own HRESULTs.
inline constexpr HRESULT kNoSignature = 1;  // the document holds no signature
inline constexpr HRESULT kReferenceNotResolved = static_cast<HRESULT>(0x80092108);
inline constexpr HRESULT kDigestInvalid = static_cast<HRESULT>(0x80092109);
inline constexpr HRESULT kNoSignerKey = static_cast<HRESULT>(0x80092111);  // no usable certificate

// 0 when every signature in the file verifies, its references resolve and
// their digests match; 1 when the document holds no signature; otherwise the
// failing HRESULT.
HRESULT VerifyXmlSignature(const std::wstring& path);

// The bytes that take part in verification: the whole file without any TAB,
// CR or LF byte and without a leading UTF-8 byte order mark (the publisher
// signs the text in that form, so line-break conversions on the way do not
// matter). 0, the Win32 failure as an HRESULT, or E_OUTOFMEMORY; bytes is
// left untouched on failure.
HRESULT LoadSignedBytes(const std::wstring& path, std::vector<BYTE>& bytes);

// Where an external reference's bytes come from. 0 with provider filled (an
// open file; the provider's close callback closes it), S_FALSE when there is
// nothing to read (empty URI, file missing or not readable, a network or
// device path, anything but a disk file), E_NOTIMPL for http:// and https://
// addresses, which are never fetched.
HRESULT ResolveReferenceUri(const wchar_t* uri, cryptxml::DataProvider& provider);
