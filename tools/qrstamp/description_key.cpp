#include "description_key.h"

#include <windows.h>

#include "digest.h"
#include "text.h"
#include "unique_handle.h"
#include "wexception.h"
#include "xml_document.h"

namespace {

// Descriptions list files, not contents; this is far above any real one.
constexpr LONGLONG kLargestDescription = 64LL << 20;

std::string read_description(const std::wstring& path) {
    unique_file file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                 FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) throw_windows_error(L"cannot open the description '" + path + L"'", GetLastError());
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(file.get(), &size))
        throw_windows_error(L"cannot read the description '" + path + L"'", GetLastError());
    if (size.QuadPart > kLargestDescription)
        throw wexception(L"the description '" + path + L"' is larger than 64 MB");
    std::string bytes(static_cast<size_t>(size.QuadPart), '\0');
    DWORD got = 0;
    if (!bytes.empty() &&
        (!ReadFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &got, nullptr) ||
         got != bytes.size()))
        throw_windows_error(L"cannot read the description '" + path + L"'", GetLastError());
    return bytes;
}

}  // namespace

std::string key_from_description(const std::wstring& path) {
    xml::CXmlDocument doc;
    // As the downloader does: the bytes as UTF-8 into the document.
    if (!doc.SetDocument(widen(read_description(path))))
        throw wexception(L"the description '" + path + L"' is not well-formed XML: " + doc.ErrorText());
    if (!doc.FindElement(L"application"))
        throw wexception(L"the description '" + path + L"' has no 'application' element");
    doc.IntoElement();
    if (!doc.FindElement(L"Signature") || !doc.FindChildElement())
        throw wexception(L"the description '" + path +
                         L"' is not signed; sign it first, then take the key from the signed file");
    doc.IntoElement();
    std::wstring certificate;
    if (doc.FindElement(L"KeyInfo")) {
        doc.IntoElement();
        if (doc.FindElement(L"X509Data")) {
            doc.IntoElement();
            if (doc.FindElement(L"X509Certificate")) certificate = doc.GetData();
        }
    }
    if (trim(certificate).empty())
        throw wexception(L"the signature in '" + path +
                         L"' carries no certificate (Signature/KeyInfo/X509Data/X509Certificate)");
    const std::wstring digest = text_digest(certificate);
    if (digest.size() != 40)
        throw wexception(L"cannot compute the digest of the certificate in '" + path + L"'");
    return narrow(digest);
}
