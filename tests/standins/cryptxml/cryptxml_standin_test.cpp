// The test-only cryptxml.dll, loaded by bare name like the downloader loads
// the system one, checked against signatures and canonical bytes that xmlsec1
// produced (make_fixtures.sh).
#include <gtest/gtest.h>

#include <cctype>
#include <cstring>
#include <cwchar>
#include <memory>
#include <string>
#include <vector>

#include "cryptxml_api.h"
#include "test_support.h"

namespace {

using testing_support::bin_dir;
using testing_support::read_file;

struct Api {
    HMODULE module = nullptr;
    PFN_CryptXmlOpenToDecode open = nullptr;
    PFN_CryptXmlGetDocContext doc_context = nullptr;
    PFN_CryptXmlGetSignature signature = nullptr;
    PFN_CryptXmlGetReference reference = nullptr;
    PFN_CryptXmlGetStatus status = nullptr;
    PFN_CryptXmlVerifySignature verify = nullptr;
    PFN_CryptXmlDigestReference digest = nullptr;
    PFN_CryptXmlClose close = nullptr;
    PFN_StandinCanonicalize canonical = nullptr;
};

template <class T>
void resolve(HMODULE m, const char* name, T& out) {
    out = reinterpret_cast<T>(reinterpret_cast<void*>(GetProcAddress(m, name)));
}

const Api& api() {
    static Api a = [] {
        Api r;
        r.module = LoadLibraryA("cryptxml.dll");
        if (!r.module) return r;
        resolve(r.module, "CryptXmlOpenToDecode", r.open);
        resolve(r.module, "CryptXmlGetDocContext", r.doc_context);
        resolve(r.module, "CryptXmlGetSignature", r.signature);
        resolve(r.module, "CryptXmlGetReference", r.reference);
        resolve(r.module, "CryptXmlGetStatus", r.status);
        resolve(r.module, "CryptXmlVerifySignature", r.verify);
        resolve(r.module, "CryptXmlDigestReference", r.digest);
        resolve(r.module, "CryptXmlClose", r.close);
        resolve(r.module, "StandinCanonicalize", r.canonical);
        return r;
    }();
    return a;
}

std::wstring fixture_dir() {
    return bin_dir() + L"..\\standin-fixtures\\cryptxml\\";
}

std::string fixture(const std::string& file) {
    return read_file(fixture_dir() + std::wstring(file.begin(), file.end()));
}

std::string replace_all(std::string s, const std::string& from, const std::string& to) {
    for (size_t at = s.find(from); at != std::string::npos; at = s.find(from, at + to.size()))
        s.replace(at, from.size(), to);
    return s;
}

// A decoded document, closed at the end of the scope.
class Doc {
public:
    explicit Doc(const std::string& bytes) {
        CRYPT_XML_BLOB blob{CRYPT_XML_CHARSET_UTF8, static_cast<ULONG>(bytes.size()),
                            reinterpret_cast<BYTE*>(const_cast<char*>(bytes.data()))};
        hr_ = api().open(nullptr, 0, nullptr, 0, &blob, &handle_);
        if (SUCCEEDED(hr_) && FAILED(api().doc_context(handle_, &context_))) context_ = nullptr;
    }
    ~Doc() {
        if (handle_) api().close(handle_);
    }
    Doc(const Doc&) = delete;
    Doc& operator=(const Doc&) = delete;

    HRESULT hr() const { return hr_; }
    HCRYPTXML handle() const { return handle_; }
    ULONG count() const { return context_ ? context_->cSignature : 0; }
    const CRYPT_XML_SIGNATURE& sig(ULONG i = 0) const { return *context_->rgpSignature[i]; }
    const CRYPT_XML_REFERENCE& ref(ULONG r, ULONG i = 0) const { return *sig(i).SignedInfo.rgpReference[r]; }

private:
    HRESULT hr_ = E_FAIL;
    HCRYPTXML handle_ = nullptr;
    const CRYPT_XML_DOC_CTXT* context_ = nullptr;
};

CRYPT_XML_STATUS status_of(HCRYPTXML h) {
    CRYPT_XML_STATUS s{};
    s.cbSize = sizeof(s);
    EXPECT_EQ(S_OK, api().status(h, &s));
    return s;
}

std::string canonical(HCRYPTXML h) {
    const BYTE* data = nullptr;
    ULONG size = 0;
    if (FAILED(api().canonical(h, &data, &size))) return "<no canonical form>";
    return std::string(reinterpret_cast<const char*>(data), size);
}

// The signer key of a signature: its first certificate that imports.
class SignerKey {
public:
    explicit SignerKey(const CRYPT_XML_SIGNATURE& sig) {
        if (!sig.pKeyInfo) return;
        for (ULONG i = 0; i < sig.pKeyInfo->cKeyInfo && !key_; ++i) {
            const auto& entry = sig.pKeyInfo->rgKeyInfo[i];
            if (entry.dwType != CRYPT_XML_KEYINFO_TYPE_X509DATA) continue;
            for (ULONG k = 0; k < entry.X509Data.cX509Data && !key_; ++k) {
                const auto& item = entry.X509Data.rgX509Data[k];
                if (item.dwType == CRYPT_XML_X509DATA_TYPE_CERTIFICATE)
                    from_der(item.Certificate.pbData, item.Certificate.cbData);
            }
        }
    }
    // The key of a PEM certificate file.
    explicit SignerKey(const std::string& pem) {
        DWORD size = 0;
        if (!CryptStringToBinaryA(pem.data(), static_cast<DWORD>(pem.size()), CRYPT_STRING_BASE64HEADER,
                                  nullptr, &size, nullptr, nullptr))
            return;
        der_.resize(size);
        if (CryptStringToBinaryA(pem.data(), static_cast<DWORD>(pem.size()), CRYPT_STRING_BASE64HEADER,
                                 der_.data(), &size, nullptr, nullptr))
            from_der(der_.data(), size);
    }
    ~SignerKey() {
        if (key_) BCryptDestroyKey(key_);
        if (cert_) CertFreeCertificateContext(cert_);
    }
    SignerKey(const SignerKey&) = delete;
    SignerKey& operator=(const SignerKey&) = delete;

    BCRYPT_KEY_HANDLE key() const { return key_; }
    std::vector<BYTE> der() const {
        return cert_ ? std::vector<BYTE>(cert_->pbCertEncoded, cert_->pbCertEncoded + cert_->cbCertEncoded)
                     : std::vector<BYTE>();
    }

private:
    void from_der(const BYTE* data, ULONG size) {
        PCCERT_CONTEXT cert = CertCreateCertificateContext(X509_ASN_ENCODING, data, size);
        if (!cert) return;
        BCRYPT_KEY_HANDLE key = nullptr;
        if (!CryptImportPublicKeyInfoEx2(X509_ASN_ENCODING, &cert->pCertInfo->SubjectPublicKeyInfo,
                                         CRYPT_OID_INFO_PUBKEY_SIGN_KEY_FLAG, nullptr, &key)) {
            CertFreeCertificateContext(cert);
            return;
        }
        cert_ = cert;
        key_ = key;
    }

    std::vector<BYTE> der_;
    PCCERT_CONTEXT cert_ = nullptr;
    BCRYPT_KEY_HANDLE key_ = nullptr;
};

// A data provider over a file, like the downloader's, that counts its calls
// and can hand out small pieces or fail.
struct FileSource {
    HANDLE file = INVALID_HANDLE_VALUE;
    ULONG piece = 0;  // largest read handed out; 0 = what is asked
    int reads = 0;
    int closes = 0;
    HRESULT fail_with = S_OK;

    explicit FileSource(const std::wstring& path) {
        file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    }
    ~FileSource() {
        if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
    }
    FileSource(const FileSource&) = delete;
    FileSource& operator=(const FileSource&) = delete;

    static HRESULT CALLBACK read(void* state, BYTE* data, ULONG size, ULONG* done) {
        auto* self = static_cast<FileSource*>(state);
        ++self->reads;
        *done = 0;
        if (FAILED(self->fail_with)) return self->fail_with;
        if (self->piece && size > self->piece) size = self->piece;
        DWORD n = 0;
        if (!ReadFile(self->file, data, size, &n, nullptr)) return HRESULT_FROM_WIN32(GetLastError());
        *done = n;
        return S_OK;
    }
    static HRESULT CALLBACK close(void* state) {
        auto* self = static_cast<FileSource*>(state);
        ++self->closes;
        CloseHandle(self->file);
        self->file = INVALID_HANDLE_VALUE;
        return S_OK;
    }
    CRYPT_XML_DATA_PROVIDER provider() { return {this, 0, &FileSource::read, &FileSource::close}; }
};

// The file a reference URI names: "file://" is taken off, the rest is a path.
std::wstring uri_path(LPCWSTR uri) {
    std::wstring u = uri ? uri : L"";
    if (u.size() > 7 && _wcsnicmp(u.c_str(), L"file://", 7) == 0) u = u.substr(7);
    return u;
}

// The downloader's whole check: every signature verifies with its own
// certificate's key and every reference digest matches.
bool verifies(const std::string& bytes) {
    Doc doc(bytes);
    if (FAILED(doc.hr()) || doc.count() == 0) return false;
    for (ULONG i = 0; i < doc.count(); ++i) {
        SignerKey key(doc.sig(i));
        if (!key.key() || FAILED(api().verify(doc.sig(i).hSignature, key.key(), 0))) return false;
        for (ULONG r = 0; r < doc.sig(i).SignedInfo.cReference; ++r) {
            const auto& ref = doc.ref(r, i);
            CRYPT_XML_STATUS s = status_of(ref.hReference);
            if (!(s.dwErrorStatus & CRYPT_XML_STATUS_ERROR_NOT_RESOLVED)) continue;
            if (s.dwInfoStatus & CRYPT_XML_STATUS_INTERNAL_REFERENCE) return false;
            FileSource source(uri_path(ref.wszUri));
            if (source.file == INVALID_HANDLE_VALUE) return false;
            CRYPT_XML_DATA_PROVIDER p = source.provider();
            if (FAILED(api().digest(ref.hReference, 0, &p))) return false;
        }
        if (status_of(doc.sig(i).hSignature).dwErrorStatus != 0) return false;
    }
    return true;
}

class CryptXmlStandin : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_NE(nullptr, api().module) << "cryptxml.dll did not load: " << GetLastError();
        ASSERT_TRUE(api().open && api().doc_context && api().signature && api().reference && api().status &&
                    api().verify && api().digest && api().close && api().canonical);
        ASSERT_FALSE(fixture("signer.crt").empty()) << "the xmlsec1 fixtures are missing (make_fixtures.sh)";
    }
};

TEST_F(CryptXmlStandin, ExportsTheDownloadersEntryPointsByPlainName) {
    for (const char* name : {"CryptXmlFindAlgorithmInfo", "CryptXmlOpenToEncode", "CryptXmlCreateReference",
                             "CryptXmlGetStatus", "CryptXmlGetReference", "CryptXmlDigestReference",
                             "CryptXmlSign", "CryptXmlEncode", "CryptXmlClose", "CryptXmlOpenToDecode",
                             "CryptXmlGetDocContext", "CryptXmlVerifySignature", "CryptXmlGetSignature"})
        EXPECT_NE(nullptr, reinterpret_cast<void*>(GetProcAddress(api().module, name))) << name;

    // Signing is not part of the stand-in and says so.
    using OpenToEncode =
        HRESULT(WINAPI*)(const CRYPT_XML_TRANSFORM_CHAIN_CONFIG*, DWORD, LPCWSTR, const CRYPT_XML_PROPERTY*,
                         ULONG, const CRYPT_XML_BLOB*, HCRYPTXML*);
    using Sign = HRESULT(WINAPI*)(HCRYPTXML, ULONG_PTR, DWORD, DWORD, CRYPT_XML_KEYINFO_SPEC, const void*,
                                  const CRYPT_XML_ALGORITHM*, const CRYPT_XML_ALGORITHM*);
    OpenToEncode open_to_encode = nullptr;
    Sign sign = nullptr;
    resolve(api().module, "CryptXmlOpenToEncode", open_to_encode);
    resolve(api().module, "CryptXmlSign", sign);
    ASSERT_TRUE(open_to_encode && sign);
    HCRYPTXML h = reinterpret_cast<HCRYPTXML>(1);
    EXPECT_EQ(E_NOTIMPL, open_to_encode(nullptr, 0, nullptr, nullptr, 0, nullptr, &h));
    EXPECT_EQ(nullptr, h);
    EXPECT_EQ(E_NOTIMPL, sign(nullptr, 0, 0, 0, CRYPT_XML_KEYINFO_SPEC_NONE, nullptr, nullptr, nullptr));
}

// Every fixture: canonical bytes equal xmlsec1's, and the signature verifies.
class SignedFixture : public CryptXmlStandin, public ::testing::WithParamInterface<const char*> {};

TEST_P(SignedFixture, CanonicalBytesEqualXmlsec1s) {
    std::string name = GetParam();
    Doc doc(fixture(name + ".xml"));
    ASSERT_EQ(S_OK, doc.hr());
    ASSERT_EQ(1u, doc.count());
    EXPECT_EQ(fixture(name + ".si"), canonical(doc.sig().hSignature)) << "SignedInfo";
    EXPECT_EQ(fixture(name + ".ref"), canonical(doc.ref(0).hReference)) << "the document";
}

TEST_P(SignedFixture, VerifiesWithItsCertificate) {
    std::string name = GetParam();
    Doc doc(fixture(name + ".xml"));
    ASSERT_EQ(S_OK, doc.hr());
    ASSERT_EQ(1u, doc.count());
    const CRYPT_XML_SIGNATURE& sig = doc.sig();
    SignerKey key(sig);
    ASSERT_NE(nullptr, key.key());
    SignerKey expected(fixture("signer.crt"));
    EXPECT_EQ(expected.der(), key.der()) << "the certificate item holds the decoded certificate";

    EXPECT_EQ(S_OK, api().verify(sig.hSignature, key.key(), 0));
    EXPECT_TRUE(status_of(sig.hSignature).dwInfoStatus & CRYPT_XML_STATUS_SIGNATURE_VALID);

    ASSERT_GE(sig.SignedInfo.cReference, 1u);
    const CRYPT_XML_REFERENCE* internal = nullptr;
    EXPECT_EQ(S_OK, api().reference(doc.ref(0).hReference, &internal));
    ASSERT_EQ(&doc.ref(0), internal);
    EXPECT_STREQ(L"", internal->wszUri);
    CRYPT_XML_STATUS s = status_of(internal->hReference);
    EXPECT_EQ(0u, s.dwErrorStatus);
    EXPECT_TRUE(s.dwInfoStatus & CRYPT_XML_STATUS_INTERNAL_REFERENCE);

    // A file reference stays unresolved until its bytes are delivered.
    for (ULONG r = 1; r < sig.SignedInfo.cReference; ++r) {
        const CRYPT_XML_REFERENCE& ref = doc.ref(r);
        s = status_of(ref.hReference);
        EXPECT_EQ(CRYPT_XML_STATUS_ERROR_NOT_RESOLVED, s.dwErrorStatus);
        EXPECT_FALSE(s.dwInfoStatus & CRYPT_XML_STATUS_INTERNAL_REFERENCE);
        EXPECT_EQ(CRYPT_XML_STATUS_ERROR_NOT_RESOLVED, status_of(sig.hSignature).dwErrorStatus);
        FileSource source(uri_path(ref.wszUri));
        ASSERT_NE(INVALID_HANDLE_VALUE, source.file);
        CRYPT_XML_DATA_PROVIDER p = source.provider();
        EXPECT_EQ(S_OK, api().digest(ref.hReference, 0, &p));
        EXPECT_EQ(1, source.closes);
        EXPECT_EQ(0u, status_of(ref.hReference).dwErrorStatus);
    }
    EXPECT_EQ(0u, status_of(sig.hSignature).dwErrorStatus);
    EXPECT_EQ(0u, status_of(doc.handle()).dwErrorStatus);
}

INSTANTIATE_TEST_SUITE_P(Xmlsec1, SignedFixture,
                         ::testing::Values("desc-rsa-sha256-inclusive", "desc-rsa-sha1-inclusive",
                                           "desc-rsa-sha256-exclusive", "desc-rsa-sha1-exclusive",
                                           "layout-inclusive", "layout-inclusive-sha1", "layout-exclusive",
                                           "layout-exclusive-prefixes", "layout-inclusive-rewritten",
                                           "layout-exclusive-rewritten"),
                         [](const auto& info) {
                             std::string n = info.param;
                             for (auto& c : n)
                                 if (c == '-') c = '_';
                             return n;
                         });

TEST_F(CryptXmlStandin, FileReferenceIsDigestedFromTheDeliveredBytes) {
    Doc doc(fixture("desc-rsa-sha256-inclusive.xml"));
    ASSERT_EQ(S_OK, doc.hr());
    ASSERT_EQ(2u, doc.sig().SignedInfo.cReference);
    HCRYPTXML ref = doc.ref(1).hReference;

    // Another file: the digest is invalid, for the reference and its signature.
    FileSource other(fixture_dir() + L"other.bin");
    CRYPT_XML_DATA_PROVIDER p = other.provider();
    EXPECT_EQ(S_OK, api().digest(ref, 0, &p));
    EXPECT_EQ(CRYPT_XML_STATUS_ERROR_DIGEST_INVALID, status_of(ref).dwErrorStatus);
    EXPECT_EQ(CRYPT_XML_STATUS_ERROR_DIGEST_INVALID, status_of(doc.sig().hSignature).dwErrorStatus);

    // The right bytes in pieces of 5: every piece counts, the close comes once.
    FileSource right(fixture_dir() + L"payload.bin");
    right.piece = 5;
    p = right.provider();
    EXPECT_EQ(S_OK, api().digest(ref, 0, &p));
    EXPECT_EQ(1, right.closes);
    EXPECT_EQ(1 + (static_cast<int>(fixture("payload.bin").size()) + 4) / 5, right.reads);
    EXPECT_EQ(0u, status_of(ref).dwErrorStatus);
    EXPECT_EQ(0u, status_of(doc.sig().hSignature).dwErrorStatus);

    // A failing read is returned, the source is still closed, and nothing is resolved.
    Doc again(fixture("desc-rsa-sha256-inclusive.xml"));
    FileSource failing(fixture_dir() + L"payload.bin");
    failing.fail_with = HRESULT_FROM_WIN32(ERROR_READ_FAULT);
    p = failing.provider();
    EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_READ_FAULT), api().digest(again.ref(1).hReference, 0, &p));
    EXPECT_EQ(1, failing.closes);
    EXPECT_EQ(CRYPT_XML_STATUS_ERROR_NOT_RESOLVED, status_of(again.ref(1).hReference).dwErrorStatus);

    // The document itself is digested already and takes no provider.
    FileSource unused(fixture_dir() + L"payload.bin");
    p = unused.provider();
    EXPECT_EQ(CRYPT_XML_E_OPERATION, api().digest(doc.ref(0).hReference, 0, &p));
}

TEST_F(CryptXmlStandin, TamperingIsReported) {
    const std::string good = fixture("desc-rsa-sha256-inclusive.xml");
    ASSERT_TRUE(verifies(good));

    // One byte of the signed content: the signature value still matches the
    // SignedInfo, but the document's digest does not.
    std::string content = good;
    size_t at = content.find("Sons");
    ASSERT_NE(std::string::npos, at);
    content[at + 3] = 'z';
    {
        Doc doc(content);
        ASSERT_EQ(S_OK, doc.hr());
        SignerKey key(doc.sig());
        EXPECT_EQ(S_OK, api().verify(doc.sig().hSignature, key.key(), 0));
        EXPECT_EQ(CRYPT_XML_STATUS_ERROR_DIGEST_INVALID, status_of(doc.ref(0).hReference).dwErrorStatus);
        EXPECT_TRUE(status_of(doc.sig().hSignature).dwErrorStatus & CRYPT_XML_STATUS_ERROR_DIGEST_INVALID);
        EXPECT_TRUE(status_of(doc.handle()).dwErrorStatus & CRYPT_XML_STATUS_ERROR_DIGEST_INVALID);
    }

    // One character of the signature value: verification fails.
    std::string value = good;
    at = value.find("<SignatureValue>");
    ASSERT_NE(std::string::npos, at);
    at += std::strlen("<SignatureValue>") + 20;
    value[at] = value[at] == 'A' ? 'B' : 'A';
    {
        Doc doc(value);
        ASSERT_EQ(S_OK, doc.hr());
        SignerKey key(doc.sig());
        EXPECT_EQ(CRYPT_XML_E_INVALID_SIGNATURE, api().verify(doc.sig().hSignature, key.key(), 0));
        EXPECT_TRUE(status_of(doc.sig().hSignature).dwErrorStatus & CRYPT_XML_STATUS_ERROR_SIGNATURE_INVALID);
    }

    // Another signer's key does not verify the signature.
    {
        Doc doc(good);
        ASSERT_EQ(S_OK, doc.hr());
        SignerKey stranger(fixture("stranger\\signer.crt"));
        ASSERT_NE(nullptr, stranger.key());
        EXPECT_EQ(CRYPT_XML_E_INVALID_SIGNATURE, api().verify(doc.sig().hSignature, stranger.key(), 0));
    }
}

// True when byte i is a letter of a hexadecimal character reference, whose
// case does not matter.
bool hex_reference_letter(const std::string& s, size_t i) {
    if (!isxdigit(static_cast<unsigned char>(s[i])) || isdigit(static_cast<unsigned char>(s[i])))
        return false;
    size_t j = i;
    while (j > 0 && isxdigit(static_cast<unsigned char>(s[j - 1]))) --j;
    return j >= 3 && s.compare(j - 3, 3, "&#x") == 0;
}

// Every single-bit change between the document's start and the end of the
// signature value is caught, by the reader, the digest or the signature
// check; comments (which the digest leaves out) and the letter case of
// hexadecimal references are left alone.
TEST_F(CryptXmlStandin, EveryFlippedBitInTheSignedPartIsCaught) {
    for (const char* name : {"desc-rsa-sha256-inclusive", "layout-inclusive", "layout-inclusive-rewritten"}) {
        const std::string good = fixture(std::string(name) + ".xml");
        ASSERT_TRUE(verifies(good)) << name;
        size_t begin = good.find("?>") + 2;
        size_t end = good.find("</SignatureValue>");
        ASSERT_NE(std::string::npos, end);
        std::vector<std::pair<size_t, size_t>> comments;
        for (size_t c = good.find("<!--"); c != std::string::npos; c = good.find("<!--", c + 1))
            comments.push_back({c, good.find("-->", c) + 3});
        int checked = 0;
        for (size_t i = begin; i < end; ++i) {
            bool in_comment = false;
            for (const auto& [from, to] : comments) in_comment = in_comment || (i >= from && i < to);
            if (in_comment) continue;
            for (int bit : {0, 5}) {
                if (bit == 5 && hex_reference_letter(good, i)) continue;
                std::string bad = good;
                bad[i] = static_cast<char>(bad[i] ^ (1 << bit));
                EXPECT_FALSE(verifies(bad)) << name << ": bit " << bit << " of byte " << i << " ("
                                            << good.substr(i > 20 ? i - 20 : 0, 40) << ")";
                ++checked;
            }
        }
        EXPECT_GT(checked, 1000) << name;
    }
}

TEST_F(CryptXmlStandin, SignaturesComeInDocumentOrder) {
    auto body = [](const std::string& xml) { return xml.substr(xml.find("?>") + 2); };
    const std::string first = fixture("desc-rsa-sha256-inclusive.xml");
    const std::string second = fixture("layout-exclusive.xml");
    Doc doc("<pair>" + body(first) + body(second) + "</pair>");
    ASSERT_EQ(S_OK, doc.hr());
    ASSERT_EQ(2u, doc.count());
    EXPECT_EQ(2u, doc.sig(0).SignedInfo.cReference);
    EXPECT_EQ(1u, doc.sig(1).SignedInfo.cReference);
    EXPECT_STREQ(L"http://www.w3.org/TR/2001/REC-xml-c14n-20010315",
                 doc.sig(0).SignedInfo.Canonicalization.wszAlgorithm);
    EXPECT_STREQ(L"http://www.w3.org/2001/10/xml-exc-c14n#",
                 doc.sig(1).SignedInfo.Canonicalization.wszAlgorithm);
    const CRYPT_XML_SIGNATURE* sig = nullptr;
    EXPECT_EQ(S_OK, api().signature(doc.sig(1).hSignature, &sig));
    EXPECT_EQ(&doc.sig(1), sig);
    // Each digest covered its own document, not the pair.
    EXPECT_TRUE(status_of(doc.handle()).dwErrorStatus & CRYPT_XML_STATUS_ERROR_DIGEST_INVALID);
}

// KeyInfo lies outside what is signed: its entries and X509Data items come
// in document order with their types, whatever else a publisher puts there.
TEST_F(CryptXmlStandin, KeyInfoEntriesKeepTheirOrderAndTypes) {
    std::string xml = replace_all(fixture("desc-rsa-sha256-inclusive.xml"), "<KeyInfo><X509Data>",
                                  "<KeyInfo><KeyName>publisher &amp; co</KeyName><X509Data>"
                                  "<X509SubjectName>CN=Quillrun Test Signer</X509SubjectName>");
    xml = replace_all(xml, "</X509Data></KeyInfo>",
                      "<X509IssuerSerial><X509IssuerName>CN=x</X509IssuerName><X509SerialNumber>7"
                      "</X509SerialNumber></X509IssuerSerial></X509Data></KeyInfo>");
    Doc doc(xml);
    ASSERT_EQ(S_OK, doc.hr());
    const CRYPT_XML_KEY_INFO* info = doc.sig().pKeyInfo;
    ASSERT_NE(nullptr, info);
    ASSERT_EQ(2u, info->cKeyInfo);
    EXPECT_EQ(CRYPT_XML_KEYINFO_TYPE_KEYNAME, info->rgKeyInfo[0].dwType);
    EXPECT_STREQ(L"publisher & co", info->rgKeyInfo[0].wszKeyName);
    ASSERT_EQ(CRYPT_XML_KEYINFO_TYPE_X509DATA, info->rgKeyInfo[1].dwType);
    const CRYPT_XML_X509DATA& data = info->rgKeyInfo[1].X509Data;
    ASSERT_EQ(3u, data.cX509Data);
    EXPECT_EQ(CRYPT_XML_X509DATA_TYPE_SUBJECT_NAME, data.rgX509Data[0].dwType);
    EXPECT_STREQ(L"CN=Quillrun Test Signer", data.rgX509Data[0].wszSubjectName);
    EXPECT_EQ(CRYPT_XML_X509DATA_TYPE_CERTIFICATE, data.rgX509Data[1].dwType);
    EXPECT_EQ(CRYPT_XML_X509DATA_TYPE_ISSUER_SERIAL, data.rgX509Data[2].dwType);
    EXPECT_STREQ(L"CN=x", data.rgX509Data[2].IssuerSerial.wszIssuer);
    EXPECT_STREQ(L"7", data.rgX509Data[2].IssuerSerial.wszSerial);

    // The signature itself is untouched by the additions.
    SignerKey key(doc.sig());
    EXPECT_EQ(S_OK, api().verify(doc.sig().hSignature, key.key(), 0));
    EXPECT_EQ(0u, status_of(doc.ref(0).hReference).dwErrorStatus);
}

struct BadInput {
    const char* label;
    const char* fixture;  // signed fixture to change, or null for `text` alone
    const char* find;     // every occurrence is replaced
    const char* text;
    HRESULT expected;
};

const BadInput kBadInputs[] = {
    {"empty", nullptr, nullptr, "", CRYPT_XML_E_UNEXPECTED_XML},
    {"declaration only", nullptr, nullptr, "<?xml version=\"1.0\"?>", CRYPT_XML_E_UNEXPECTED_XML},
    {"unclosed", nullptr, nullptr, "<a><b></b>", CRYPT_XML_E_UNEXPECTED_XML},
    {"mismatched end", nullptr, nullptr, "<a></b>", CRYPT_XML_E_UNEXPECTED_XML},
    {"two roots", nullptr, nullptr, "<a/><b/>", CRYPT_XML_E_UNEXPECTED_XML},
    {"text outside the root", nullptr, nullptr, "<a/>x", CRYPT_XML_E_UNEXPECTED_XML},
    {"duplicate attribute", nullptr, nullptr, "<a x='1' x='2'/>", CRYPT_XML_E_UNEXPECTED_XML},
    {"same attribute twice by namespace", nullptr, nullptr, "<a xmlns:p='u' xmlns:q='u' p:x='1' q:x='2'/>",
     CRYPT_XML_E_UNEXPECTED_XML},
    {"attribute without quotes", nullptr, nullptr, "<a x=1/>", CRYPT_XML_E_UNEXPECTED_XML},
    {"less-than in a value", nullptr, nullptr, "<a x='<'/>", CRYPT_XML_E_UNEXPECTED_XML},
    {"unknown entity", nullptr, nullptr, "<a>&nbsp;</a>", CRYPT_XML_E_UNEXPECTED_XML},
    {"reference to NUL", nullptr, nullptr, "<a>&#0;</a>", CRYPT_XML_E_UNEXPECTED_XML},
    {"reference beyond Unicode", nullptr, nullptr, "<a>&#x110000;</a>", CRYPT_XML_E_UNEXPECTED_XML},
    {"unterminated reference", nullptr, nullptr, "<a>&amp</a>", CRYPT_XML_E_UNEXPECTED_XML},
    {"document type with entity", nullptr, nullptr, "<!DOCTYPE a [<!ENTITY e 'x'>]><a>&e;</a>",
     CRYPT_XML_E_UNEXPECTED_XML},
    {"undeclared prefix", nullptr, nullptr, "<p:a/>", CRYPT_XML_E_UNEXPECTED_XML},
    {"unterminated comment", nullptr, nullptr, "<a><!-- x</a>", CRYPT_XML_E_UNEXPECTED_XML},
    {"not UTF-8", nullptr, nullptr, "<a>\xC3\x28</a>", CRYPT_XML_E_ENCODING},
    {"control character", nullptr, nullptr, "<a>\x01</a>", CRYPT_XML_E_ENCODING},
    {"other encoding declared", nullptr, nullptr, "<?xml version='1.0' encoding='UTF-16'?><a/>",
     CRYPT_XML_E_ENCODING},
    {"no SignedInfo", "desc-rsa-sha256-inclusive.xml", "SignedInfo>", "SignedInfx>",
     CRYPT_XML_E_UNEXPECTED_XML},
    {"no SignatureValue", "desc-rsa-sha256-inclusive.xml", "SignatureValue>", "SignatureValux>",
     CRYPT_XML_E_UNEXPECTED_XML},
    {"no DigestValue", "desc-rsa-sha256-inclusive.xml", "DigestValue>", "DigestValux>",
     CRYPT_XML_E_UNEXPECTED_XML},
    {"no Algorithm", "desc-rsa-sha256-inclusive.xml",
     "<SignatureMethod Algorithm=", "<SignatureMethod Algorithx=", CRYPT_XML_E_UNEXPECTED_XML},
    {"unknown signature method", "desc-rsa-sha256-inclusive.xml", "xmldsig-more#rsa-sha256",
     "xmldsig-more#rsa-sha384", CRYPT_XML_E_ALGORITHM},
    {"unknown digest method", "desc-rsa-sha256-inclusive.xml", "xmlenc#sha256", "xmlenc#sha512",
     CRYPT_XML_E_ALGORITHM},
    {"unknown canonicalization", "desc-rsa-sha256-inclusive.xml", "REC-xml-c14n-20010315", "xml-c14n11",
     CRYPT_XML_E_ALGORITHM},
    {"unknown transform", "desc-rsa-sha256-inclusive.xml", "xmldsig#enveloped-signature", "xmldsig#base64",
     CRYPT_XML_E_TRANSFORM},
    {"bad base64 digest", "desc-rsa-sha256-inclusive.xml", "<DigestValue>", "<DigestValue>!",
     CRYPT_XML_E_UNEXPECTED_XML},
    {"short base64 signature value", "desc-rsa-sha256-inclusive.xml", "<SignatureValue>", "<SignatureValue>A",
     CRYPT_XML_E_UNEXPECTED_XML},
    {"bad base64 certificate", "desc-rsa-sha256-inclusive.xml", "<X509Certificate>", "<X509Certificate>*",
     CRYPT_XML_E_UNEXPECTED_XML},
    {"text inside Signature", "desc-rsa-sha256-inclusive.xml", "</SignedInfo>", "</SignedInfo>text",
     CRYPT_XML_E_UNEXPECTED_XML},
};

TEST_F(CryptXmlStandin, BadInputGivesItsErrorCode) {
    for (const BadInput& c : kBadInputs) {
        std::string input = c.text;
        if (c.fixture) {
            input = fixture(c.fixture);
            ASSERT_NE(std::string::npos, input.find(c.find)) << c.label;
            input = replace_all(input, c.find, c.text);
        }
        Doc doc(input);
        EXPECT_EQ(c.expected, doc.hr()) << c.label;
        EXPECT_EQ(nullptr, doc.handle()) << c.label;
    }

    std::string deep;
    for (int i = 0; i < 1000; ++i) deep += "<a>";
    for (int i = 0; i < 1000; ++i) deep += "</a>";
    EXPECT_EQ(CRYPT_XML_E_LARGE, Doc(deep).hr());

    // Every cut of a signed description leaves the root open.
    const std::string good = fixture("desc-rsa-sha256-inclusive.xml");
    for (size_t n = 0; n < good.size(); ++n)
        ASSERT_EQ(CRYPT_XML_E_UNEXPECTED_XML, Doc(good.substr(0, n)).hr()) << "cut at " << n;
}

TEST_F(CryptXmlStandin, HandlesAreChecked) {
    Doc doc(fixture("desc-rsa-sha256-inclusive.xml"));
    ASSERT_EQ(S_OK, doc.hr());
    const CRYPT_XML_DOC_CTXT* context = nullptr;
    const CRYPT_XML_SIGNATURE* sig = nullptr;
    CRYPT_XML_STATUS status{};
    int not_a_handle = 0;
    EXPECT_EQ(CRYPT_XML_E_HANDLE, api().doc_context(nullptr, &context));
    EXPECT_EQ(CRYPT_XML_E_HANDLE, api().doc_context(doc.sig().hSignature, &context));
    EXPECT_EQ(CRYPT_XML_E_HANDLE, api().signature(doc.handle(), &sig));
    EXPECT_EQ(CRYPT_XML_E_HANDLE, api().status(&not_a_handle, &status));
    EXPECT_EQ(CRYPT_XML_E_HANDLE, api().verify(doc.ref(0).hReference, nullptr, 0));
    EXPECT_EQ(CRYPT_XML_E_SIGNER, api().verify(doc.sig().hSignature, nullptr, 0));

    CRYPT_XML_BLOB blob{CRYPT_XML_CHARSET_UTF8, 4, reinterpret_cast<BYTE*>(const_cast<char*>("<a/>"))};
    HCRYPTXML h = nullptr;
    ASSERT_EQ(S_OK, api().open(nullptr, 0, nullptr, 0, &blob, &h));
    ASSERT_EQ(S_OK, api().doc_context(h, &context));
    EXPECT_EQ(0u, context->cSignature);
    EXPECT_EQ(S_OK, api().close(h));
    EXPECT_EQ(CRYPT_XML_E_HANDLE, api().close(h));
}

}  // namespace
