// Signature verification of version_info.xml. The signed descriptions come
// from signature_fixtures.sh (xmlsec1 with keys made for the run), so the
// verifier is checked against an independent signer.
#include "signature.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "crypt_xml_api.h"
#include "description.h"
#include "signature_verify.h"
#include "test_support.h"
#include "text.h"
#include "unique_handle.h"
#include "xml_document.h"

using namespace testing_support;

namespace {

constexpr DWORD kUntouchedCode = 1234;
const std::string kZeroKey(40, '0');
const std::wstring kEmptyKey = L"Security error: The security key is empty.";
const std::wstring kMismatch =
    L"Security error: The security key doesn't match the signature of 'version_info.xml'.";

std::wstring check_failed(HRESULT hr) {
    return format(L"Failed to check the signature of version_info.xml (HRESULT = 0x%x).",
                  static_cast<unsigned>(hr));
}

std::wstring env(const wchar_t* name) {
    wchar_t value[1024] = {};
    const DWORD length = GetEnvironmentVariableW(name, value, 1024);
    return length && length < 1024 ? std::wstring(value, length) : std::wstring();
}

// The fixture folder (a Unix path) as seen through Wine's Z: drive.
std::wstring sign_dir() {
    std::wstring folder = env(L"QR_SIGN_DIR");
    if (folder.empty()) return folder;
    for (wchar_t& c : folder)
        if (c == L'/') c = L'\\';
    return L"Z:" + folder + L"\\";
}

std::string fixture(const std::string& name) {
    return read_file(sign_dir() + widen(name));
}

std::string key_digits(const std::string& signer) {
    std::string digits = fixture(signer + ".key-digits");
    return digits.substr(0, digits.find_first_of("\r\n \t"));
}

// A child's printed lines, without the CR of text-mode output.
std::string lines(std::string output) {
    std::erase(output, '\r');
    return output;
}

bool standin_present() {
    return file_exists(bin_dir() + L"cryptxml.dll");
}

class SignedFixtures : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_FALSE(sign_dir().empty()) << "run through signature_fixtures.sh";
        ASSERT_TRUE(standin_present()) << "the test-only cryptxml.dll must be built next to the test";
        ASSERT_EQ(LoadCryptXml(), 0u);
    }
};

std::string replace_once(std::string text, const std::string& from, const std::string& to) {
    const size_t at = text.find(from);
    EXPECT_NE(at, std::string::npos) << from;
    if (at != std::string::npos) text.replace(at, from.size(), to);
    return text;
}

// Line breaks and tabs between every two elements, as an editor might lay
// the file out again.
std::string laid_out(std::string text) {
    for (size_t at = 0; (at = text.find("><", at)) != std::string::npos; at += 4)
        text.insert(at + 1, "\r\n\t");
    return text;
}

std::string with_bom(const std::string& text) {
    return "\xEF\xBB\xBF" + text;
}

struct Verdict {
    bool accepted = false;
    OperationError error;
    DescriptionState state;
};

// The description reader on the bytes saved as the cached version_info.xml:
// it reads the signed flag and certificate text and asks for acceptance.
Verdict read_description(const std::string& bytes, const std::string& key) {
    Verdict verdict;
    TempDir cache(L"qrsig");
    const std::wstring folder = cache.path().substr(0, cache.path().size() - 1);
    const std::wstring file = folder + L"\\version_info.xml";
    EXPECT_TRUE(write_file(file, bytes));
    xml::CXmlDocument doc;
    doc.LoadFile(file);
    EXPECT_TRUE(doc.Parse()) << "the fixture is not well-formed";

    DescriptionInputs in;
    in.language = L"en";
    in.version = L"1.0";
    in.installationUrl = L"http://example.test/dist/";
    in.sourceKind = kSourceWebAddress;
    in.cacheFolder = folder;
    in.updaterFolder = folder + L"\\updater";
    in.securityKeyDigits = key;
    DescriptionFlags flags;
    verdict.error.code = kUntouchedCode;
    verdict.accepted = InterpretDescription(doc, in, verdict.state, verdict.error, flags);
    return verdict;
}

TEST(SignedBytes, LayoutBytesAndLeadingByteOrderMarkAreLeftOut) {
    struct Case {
        const char* label;
        std::string file;
        std::string expected;
    };
    const Case cases[] = {
        {"plain", "<a>x</a>", "<a>x</a>"},
        {"CR, LF and TAB anywhere", "\r\n<a\tb=\"1\r\">x\ny</a>\t\r\n", "<ab=\"1\">xy</a>"},
        {"leading byte order mark", "\xEF\xBB\xBF<a/>", "<a/>"},
        {"mark after removed line breaks", "\r\n\xEF\xBB\xBF<a/>", "<a/>"},
        {"only the first mark", "\xEF\xBB\xBF\xEF\xBB\xBF<a/>", "\xEF\xBB\xBF<a/>"},
        {"mark inside the text stays", "<a>\xEF\xBB\xBF</a>", "<a>\xEF\xBB\xBF</a>"},
        {"partial mark stays", "\xEF\xBB<a/>", "\xEF\xBB<a/>"},
        {"other control bytes stay", std::string("<a>\x0B\x0C\x00</a>", 9),
         std::string("<a>\x0B\x0C\x00</a>", 9)},
        {"empty file", "", ""},
        {"only layout bytes", "\r\n\t\t\r\n", ""},
    };
    TempDir folder(L"qrsigbytes");
    for (const Case& c : cases) {
        const std::wstring path = folder / L"file.xml";
        ASSERT_TRUE(write_file(path, c.file));
        std::vector<BYTE> bytes{1, 2, 3};
        EXPECT_EQ(LoadSignedBytes(path, bytes), S_OK) << c.label;
        EXPECT_EQ(std::string(bytes.begin(), bytes.end()), c.expected) << c.label;
    }
}

TEST(SignedBytes, OpenFailuresGiveTheWin32CodeAsHresult) {
    TempDir folder(L"qrsigbytes");
    const std::wstring held = folder / L"held.xml";
    ASSERT_TRUE(write_file(held, "<a/>"));
    // The file is opened without sharing: a writer holding it makes the open fail.
    unique_file writer(CreateFileW(held.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                   OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(writer);
    const std::pair<std::wstring, HRESULT> cases[] = {
        {folder / L"missing.xml", HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND)},
        {folder / L"no\\such\\folder.xml", HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND)},
        {held, HRESULT_FROM_WIN32(ERROR_SHARING_VIOLATION)},
    };
    for (const auto& [path, expected] : cases) {
        std::vector<BYTE> bytes{7};
        EXPECT_EQ(LoadSignedBytes(path, bytes), expected) << narrow(path);
        EXPECT_EQ(bytes, std::vector<BYTE>{7}) << "left untouched on failure";
    }
}

TEST(ReferenceUri, ResolutionTable) {
    TempDir folder(L"qrsiguri");
    const std::wstring file = folder / L"payload.bin";
    ASSERT_TRUE(write_file(file, "referenced bytes"));
    const std::wstring missing = folder / L"missing.bin";
    struct Case {
        std::wstring uri;
        HRESULT expected;
    };
    const Case cases[] = {
        {L"", S_FALSE},
        {L"http://", S_FALSE},  // no more than the scheme: taken as a file name
        {L"https://", S_FALSE},
        {L"http://h", E_NOTIMPL},
        {L"http://127.0.0.1/a/b.bin", E_NOTIMPL},
        {L"HTTP://example.test/", E_NOTIMPL},
        {L"hTTpS://example.test/x", E_NOTIMPL},
        {L"https://h", E_NOTIMPL},
        {L"http:/one-slash", S_FALSE},
        {L"ftp://example.test/x", S_FALSE},
        {file, S_OK},
        {L"file://" + file, S_OK},
        {L"FILE://" + file, S_OK},
        {missing, S_FALSE},
        {L"file://" + missing, S_FALSE},
        {L"file://", S_FALSE},
        {folder.path() + L"sub", S_FALSE},
    };
    for (const Case& c : cases) {
        cryptxml::DataProvider provider{};
        EXPECT_EQ(ResolveReferenceUri(c.uri.c_str(), provider), c.expected) << narrow(c.uri);
        if (c.expected != S_OK) {
            EXPECT_EQ(provider.read, nullptr) << narrow(c.uri);
            continue;
        }
        EXPECT_EQ(provider.bufferSize, 0u);
        ASSERT_NE(provider.read, nullptr);
        ASSERT_NE(provider.close, nullptr);
        std::string read;
        BYTE buffer[5];
        ULONG count = 0;
        do {
            ASSERT_EQ(provider.read(provider.state, buffer, sizeof(buffer), &count), S_OK);
            read.append(reinterpret_cast<const char*>(buffer), count);
        } while (count != 0);
        EXPECT_EQ(read, "referenced bytes") << narrow(c.uri);
        EXPECT_EQ(provider.close(provider.state), S_OK);
    }
    cryptxml::DataProvider provider{};
    EXPECT_EQ(ResolveReferenceUri(nullptr, provider), S_FALSE);
}

// A signed description from anyone is decoded before its key is compared,
// so its references must not reach another machine or open a device or a
// pipe. Each target below really opens (checked first), yet is not resolved.
TEST(ReferenceUri, NetworkPathsDevicesAndPipesAreNotOpened) {
    const std::wstring share = L"\\\\" + env(L"QR_SIGNATURE_SHARE_SERVER") + L"\\share\\";
    ASSERT_NE(share, L"\\\\\\share\\") << "run through ctest, which sets up the share";
    ASSERT_TRUE(write_file(share + L"payload.bin", "bytes on another machine"));
    const std::wstring pipe = format(L"\\\\.\\pipe\\qrsig-%lu", GetCurrentProcessId());
    unique_file server(
        CreateNamedPipeW(pipe.c_str(), PIPE_ACCESS_OUTBOUND, PIPE_TYPE_BYTE, 2, 0, 0, 0, nullptr));
    ASSERT_TRUE(server);

    const std::wstring targets[] = {
        share + L"payload.bin",
        L"//" + share.substr(2) + L"payload.bin",
        L"file://" + share + L"payload.bin",
        L"\\\\?\\UNC\\" + share.substr(2) + L"payload.bin",
        pipe,
        L"NUL",
        L"COM1",
    };
    for (const std::wstring& target : targets) {
        cryptxml::DataProvider provider{};
        EXPECT_EQ(ResolveReferenceUri(target.c_str(), provider), S_FALSE) << narrow(target);
        EXPECT_EQ(provider.read, nullptr) << narrow(target);
    }
    // The same paths open when asked for directly, so the refusals above are
    // the resolver's own.
    for (const std::wstring& target : {share + L"payload.bin", pipe, std::wstring(L"NUL")}) {
        unique_file direct(CreateFileW(target.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                       nullptr, OPEN_EXISTING, 0, nullptr));
        EXPECT_TRUE(direct) << narrow(target) << " error " << GetLastError();
    }
}

TEST(ReferenceUri, ProviderHoldsTheFileForReadingOnly) {
    TempDir folder(L"qrsiguri");
    const std::wstring file = folder / L"payload.bin";
    ASSERT_TRUE(write_file(file, "data"));
    cryptxml::DataProvider provider{};
    ASSERT_EQ(ResolveReferenceUri(file.c_str(), provider), S_OK);
    // Shared for reading: other readers may look, nobody may change it meanwhile.
    unique_file reader(
        CreateFileW(file.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    EXPECT_TRUE(reader);
    unique_file writer(CreateFileW(file.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                   OPEN_EXISTING, 0, nullptr));
    EXPECT_FALSE(writer);
    EXPECT_EQ(provider.close(provider.state), S_OK);
    reader.reset();
    // Closed: the file can be removed.
    EXPECT_TRUE(DeleteFileW(file.c_str()));
}

TEST(ReferenceUri, CallbacksReportBadHandlesAndReadFailures) {
    TempDir folder(L"qrsiguri");
    const std::wstring file = folder / L"payload.bin";
    ASSERT_TRUE(write_file(file, "data"));
    cryptxml::DataProvider provider{};
    ASSERT_EQ(ResolveReferenceUri(file.c_str(), provider), S_OK);

    BYTE buffer[8];
    ULONG count = 99;
    EXPECT_EQ(provider.read(INVALID_HANDLE_VALUE, buffer, sizeof(buffer), &count), E_INVALIDARG);
    EXPECT_EQ(provider.read(nullptr, buffer, sizeof(buffer), &count), E_INVALIDARG);
    EXPECT_EQ(provider.read(provider.state, buffer, sizeof(buffer), nullptr), E_INVALIDARG);
    EXPECT_EQ(count, 99u);

    // A handle that may not read: ReadFile's own failure comes back.
    const HANDLE writeOnly = CreateFileW((folder / L"out.bin").c_str(), GENERIC_WRITE, 0, nullptr,
                                         CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(writeOnly, INVALID_HANDLE_VALUE);
    EXPECT_EQ(provider.read(writeOnly, buffer, sizeof(buffer), &count),
              HRESULT_FROM_WIN32(ERROR_ACCESS_DENIED));
    EXPECT_EQ(provider.close(writeOnly), S_OK);

    EXPECT_EQ(provider.close(INVALID_HANDLE_VALUE), S_OK);
    EXPECT_EQ(provider.close(nullptr), S_OK);
    EXPECT_EQ(provider.close(provider.state), S_OK);
    // Closing the same handle twice: the second close fails and says so.
    EXPECT_EQ(provider.close(provider.state), HRESULT_FROM_WIN32(ERROR_INVALID_HANDLE));
}

// The API is loaded by bare name: a copy of a program in a folder without
// cryptxml.dll cannot load it (this system has none), one beside it can.
TEST(CryptXmlLoading, ByBareNameFromTheProgramFolder) {
    const std::wstring probe = bin_dir() + L"signature_load_probe.exe";
    ASSERT_TRUE(file_exists(probe));
    TempDir alone(L"qrsigload");
    ASSERT_TRUE(CopyFileW(probe.c_str(), (alone / L"signature_load_probe.exe").c_str(), FALSE));
    const ProcessResult without = run_process(quote(alone / L"signature_load_probe.exe"), 60000,
                                              alone.path().substr(0, alone.path().size() - 1));
    ASSERT_TRUE(without.started);
    EXPECT_EQ(lines(without.output), "126\n126\nFailed to initialize CryptoXML API (HRESULT = 0x7e).\n0\n");

    // A cryptxml.dll without the entry points: loading succeeds (entry points
    // are not checked there) and verification refuses instead of crashing.
    ASSERT_TRUE(CopyFileW((bin_dir() + L"signature_bare_library.dll").c_str(),
                          (alone / L"cryptxml.dll").c_str(), FALSE));
    const ProcessResult bare = run_process(quote(alone / L"signature_load_probe.exe"), 60000,
                                           alone.path().substr(0, alone.path().size() - 1));
    ASSERT_TRUE(bare.started);
    EXPECT_EQ(
        lines(bare.output),
        "0\n2147942527\nFailed to check the signature of version_info.xml (HRESULT = 0x8007007f).\n0\n");

    ASSERT_TRUE(standin_present());
    // Beside the test-only DLL: loading succeeds and the missing file is what fails.
    TempDir empty(L"qrsigload");
    const ProcessResult with =
        run_process(quote(probe), 60000, empty.path().substr(0, empty.path().size() - 1));
    ASSERT_TRUE(with.started);
    EXPECT_EQ(
        lines(with.output),
        "0\n2147942402\nFailed to check the signature of version_info.xml (HRESULT = 0x80070002).\n0\n");
}

TEST_F(SignedFixtures, LoaderFillsTheVerificationEntryPoints) {
    const CryptXmlFunctions& api = crypt_xml();
    EXPECT_NE(api.cryptxml, nullptr);
    EXPECT_NE(api.bcrypt, nullptr);
    EXPECT_NE(api.crypt32, nullptr);
    const void* used[] = {
        reinterpret_cast<const void*>(api.CryptXmlOpenToDecode),
        reinterpret_cast<const void*>(api.CryptXmlGetDocContext),
        reinterpret_cast<const void*>(api.CryptXmlVerifySignature),
        reinterpret_cast<const void*>(api.CryptXmlGetSignature),
        reinterpret_cast<const void*>(api.CryptXmlGetReference),
        reinterpret_cast<const void*>(api.CryptXmlGetStatus),
        reinterpret_cast<const void*>(api.CryptXmlDigestReference),
        reinterpret_cast<const void*>(api.CryptXmlClose),
        reinterpret_cast<const void*>(api.BCryptDestroyKey),
        reinterpret_cast<const void*>(api.CertCreateCertificateContext),
        reinterpret_cast<const void*>(api.CryptImportPublicKeyInfoEx2),
        reinterpret_cast<const void*>(api.CertGetCertificateChain),
        reinterpret_cast<const void*>(api.CertFreeCertificateChain),
        reinterpret_cast<const void*>(api.CertFreeCertificateContext),
    };
    for (size_t i = 0; i < sizeof(used) / sizeof(used[0]); ++i) EXPECT_NE(used[i], nullptr) << i;
    // The library comes from the program's folder.
    wchar_t path[MAX_PATH] = {};
    GetModuleFileNameW(api.cryptxml, path, MAX_PATH);
    EXPECT_TRUE(iequals(path, bin_dir() + L"cryptxml.dll")) << narrow(path);
}

// Every way through acceptance, each from the signed bytes as the cache holds them.
TEST_F(SignedFixtures, AcceptanceTable) {
    using Change = std::function<std::string(const std::string&)>;
    const Change same = [](const std::string& text) { return text; };
    struct Case {
        const char* label;
        const char* fixture;
        Change change;
        const char* key;  // "signer", "SIGNER" (upper case), "other" or "zero"
        bool accepted;
        DWORD code;  // the error code after a refusal
        std::wstring text;
    };
    const HRESULT anyFailure = 0;
    const Case cases[] = {
        {"rsa-sha256, inclusive", "signed.xml", same, "signer", true, kUntouchedCode, L""},
        {"rsa-sha1, exclusive", "signed-sha1-exc.xml", same, "signer", true, kUntouchedCode, L""},
        {"key in upper case", "signed.xml", same, "SIGNER", true, kUntouchedCode, L""},
        {"line breaks and tabs between elements", "signed.xml", laid_out, "signer", true, kUntouchedCode,
         L""},
        {"leading byte order mark", "signed.xml", with_bom, "signer", true, kUntouchedCode, L""},
        {"mark and line breaks", "signed-sha1-exc.xml",
         [](const std::string& t) { return with_bom(laid_out(t)); }, "signer", true, kUntouchedCode, L""},
        {"file references by path and by file:// URI", "signed-file.xml", same, "signer", true,
         kUntouchedCode, L""},
        {"unsigned, empty key", "plain.xml", same, "zero", true, kUntouchedCode, L""},
        {"unsigned, key set", "plain.xml", same, "signer", false, kUntouchedCode, kMismatch},
        {"signed, empty key", "signed.xml", same, "zero", false, kUntouchedCode, kEmptyKey},
        {"another certificate than the key", "signed-other.xml", same, "signer", false, kUntouchedCode,
         kMismatch},
        {"the other certificate with its own key", "signed-other.xml", same, "other", true, kUntouchedCode,
         L""},
        {"web reference", "signed-http.xml", same, "signer", false, static_cast<DWORD>(E_NOTIMPL),
         check_failed(E_NOTIMPL)},
        {"referenced file missing", "signed-missing.xml", same, "signer", false,
         static_cast<DWORD>(kReferenceNotResolved), check_failed(kReferenceNotResolved)},
        {"a file's hash changed", "signed.xml",
         [](const std::string& t) { return replace_once(t, "hash=\"0123", "hash=\"1123"); }, "signer", false,
         static_cast<DWORD>(kDigestInvalid), check_failed(kDigestInvalid)},
        {"a file's size changed", "signed.xml",
         [](const std::string& t) { return replace_once(t, "size=\"12\"", "size=\"13\""); }, "signer", false,
         static_cast<DWORD>(kDigestInvalid), check_failed(kDigestInvalid)},
        {"a file's name changed", "signed.xml",
         [](const std::string& t) { return replace_once(t, ">package.msi<", ">package.msj<"); }, "signer",
         false, static_cast<DWORD>(kDigestInvalid), check_failed(kDigestInvalid)},
        {"a file's name changed, with layout", "signed-sha1-exc.xml",
         [](const std::string& t) { return laid_out(replace_once(t, "data/readme", "data/reademe")); },
         "signer", false, static_cast<DWORD>(kDigestInvalid), check_failed(kDigestInvalid)},
        {"no certificate in the signature", "signed.xml",
         [](const std::string& t) {
             const size_t from = t.find("<KeyInfo>"), to = t.find("</KeyInfo>");
             return from < to && to != std::string::npos ? t.substr(0, from) + t.substr(to + 10)
                                                         : std::string();
         },
         "signer", false, static_cast<DWORD>(kNoSignerKey), check_failed(kNoSignerKey)},
        {"a certificate that does not parse", "signed.xml",
         [](const std::string& t) {
             const size_t from = t.find("<X509Certificate>") + 17, to = t.find("</X509Certificate>");
             return t.substr(0, from) + "AAAAAAAA" + t.substr(to);
         },
         "signer", false, static_cast<DWORD>(kNoSignerKey), check_failed(kNoSignerKey)},
        {"Signature element outside the signature namespace", "plain.xml",
         [](const std::string& t) {
             return replace_once(t, "</application>", "<Signature><x/></Signature></application>");
         },
         "signer", false, static_cast<DWORD>(kNoSignature), check_failed(kNoSignature)},
        {"signature value changed", "signed.xml",
         [](const std::string& t) {
             std::string changed = t;
             const size_t at = changed.find("<SignatureValue>") + 20;
             changed[at] = changed[at] == 'A' ? 'B' : 'A';
             return changed;
         },
         "signer", false, static_cast<DWORD>(anyFailure), L""},
    };
    const std::string signerKey = key_digits("signer");
    const std::string otherKey = key_digits("other");
    ASSERT_EQ(signerKey.size(), 40u);
    ASSERT_EQ(otherKey.size(), 40u);
    for (const Case& c : cases) {
        const std::string original = fixture(c.fixture);
        ASSERT_FALSE(original.empty()) << c.fixture;
        const std::string bytes = c.change(original);
        ASSERT_FALSE(bytes.empty()) << c.label;
        std::string key = c.key == std::string("other")  ? otherKey
                          : c.key == std::string("zero") ? kZeroKey
                                                         : signerKey;
        if (c.key == std::string("SIGNER"))
            for (char& ch : key) ch = static_cast<char>(toupper(static_cast<unsigned char>(ch)));

        const Verdict verdict = read_description(bytes, key);
        EXPECT_EQ(verdict.accepted, c.accepted) << c.label << ": " << narrow(verdict.error.text);
        if (c.accepted) {
            // Reading went on past the acceptance into the listed files.
            EXPECT_EQ(verdict.state.files.urls.size(), 2u) << c.label;
            continue;
        }
        EXPECT_TRUE(verdict.state.files.urls.empty()) << c.label;
        if (c.code == static_cast<DWORD>(anyFailure)) {
            // The stand-in's code for a broken signature value: a failure,
            // named in the text.
            EXPECT_TRUE(FAILED(static_cast<HRESULT>(verdict.error.code))) << c.label;
            EXPECT_EQ(verdict.error.text, check_failed(static_cast<HRESULT>(verdict.error.code))) << c.label;
            continue;
        }
        EXPECT_EQ(verdict.error.code, c.code) << c.label;
        EXPECT_EQ(verdict.error.text, c.text) << c.label;
    }
}

// Layout bytes anywhere, inside names, values and base64 alike, do not take
// part in verification.
TEST_F(SignedFixtures, LayoutBytesAnywhereStillVerify) {
    TempDir folder(L"qrsiglayout");
    for (const char* name : {"signed.xml", "signed-sha1-exc.xml", "signed-file.xml"}) {
        std::string text = fixture(name);
        ASSERT_FALSE(text.empty());
        const char layout[] = {'\r', '\n', '\t'};
        std::string spread;
        for (size_t i = 0; i < text.size(); ++i) {
            if (i % 7 == 3) spread += layout[i % 3];
            spread += text[i];
        }
        ASSERT_TRUE(write_file(folder / L"spread.xml", "\xEF\xBB\xBF" + spread + "\r\n"));
        EXPECT_EQ(VerifyXmlSignature(folder / L"spread.xml"), S_OK) << name;
    }
}

// The signer key comes from the first certificate that parses and imports;
// other KeyInfo entries and broken certificates before it are passed over.
TEST_F(SignedFixtures, SignerKeyFromTheFirstUsableCertificate) {
    const std::string signedText = fixture("signed.xml");
    const size_t keyInfo = signedText.find("<KeyInfo>") + 9;
    const size_t data = signedText.find("<X509Data>") + 10;
    const size_t dataEnd = signedText.find("</X509Data>");
    ASSERT_LT(keyInfo, data);
    ASSERT_LT(data, dataEnd);
    // A certificate that imports fine but did not sign.
    const std::string otherText = fixture("signed-other.xml");
    const size_t from = otherText.find("<X509Certificate>");
    const std::string otherCertificate =
        otherText.substr(from, otherText.find("</X509Certificate>") + 18 - from);
    const HRESULT fails = E_FAIL;  // any failure
    struct Case {
        const char* label;
        size_t at;
        std::string inserted;
        HRESULT expected;
    };
    const Case cases[] = {
        {"key name first", keyInfo, "<KeyName>publisher</KeyName>", S_OK},
        {"certificate that does not parse first", data, "<X509Certificate>AAAAAAAA</X509Certificate>", S_OK},
        {"subject name first", data, "<X509SubjectName>CN=Someone</X509SubjectName>", S_OK},
        {"empty X509Data first", keyInfo, "<X509Data></X509Data>", S_OK},
        {"another usable certificate after the signer", dataEnd, otherCertificate, S_OK},
        {"another usable certificate before the signer", data, otherCertificate, fails},
    };
    TempDir folder(L"qrsigkey");
    for (const Case& c : cases) {
        std::string text = signedText;
        text.insert(c.at, c.inserted);
        ASSERT_TRUE(write_file(folder / L"signed.xml", text));
        const HRESULT result = VerifyXmlSignature(folder / L"signed.xml");
        if (c.expected == fails)
            EXPECT_TRUE(FAILED(result)) << c.label;
        else
            EXPECT_EQ(result, c.expected) << c.label;
    }
}

TEST_F(SignedFixtures, ChangedReferencedFileFailsItsDigest) {
    const std::wstring payload = sign_dir() + L"payload.bin";
    const std::string original = read_file(payload);
    ASSERT_FALSE(original.empty());
    TempDir folder(L"qrsigfile");
    ASSERT_TRUE(write_file(folder / L"signed.xml", fixture("signed-file.xml")));
    EXPECT_EQ(VerifyXmlSignature(folder / L"signed.xml"), S_OK);

    std::string changed = original;
    changed[0] ^= 1;
    ASSERT_TRUE(write_file(payload, changed));
    const HRESULT tampered = VerifyXmlSignature(folder / L"signed.xml");
    ASSERT_TRUE(write_file(payload, original));
    EXPECT_EQ(tampered, kDigestInvalid);
    EXPECT_EQ(VerifyXmlSignature(folder / L"signed.xml"), S_OK);
}

// What the signature check itself gives for a cached file that cannot be read.
TEST_F(SignedFixtures, UnreadableCachedFile) {
    TempDir folder(L"qrsigcache");
    const std::wstring held = folder / L"version_info.xml";
    ASSERT_TRUE(write_file(held, fixture("signed.xml")));
    unique_file writer(CreateFileW(held.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                   OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(writer);
    const std::pair<std::wstring, HRESULT> cases[] = {
        {folder / L"missing.xml", HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND)},
        {held, HRESULT_FROM_WIN32(ERROR_SHARING_VIOLATION)},
    };
    // An empty file gives no bytes; the decoder's failure is reported.
    const std::wstring empty = folder / L"empty.xml";
    ASSERT_TRUE(write_file(empty, "\r\n"));
    {
        OperationError error;
        EXPECT_FALSE(AcceptDescription(true, L"", empty, key_digits("signer"), error));
        EXPECT_TRUE(FAILED(static_cast<HRESULT>(error.code))) << error.code;
        EXPECT_EQ(error.text, check_failed(static_cast<HRESULT>(error.code)));
    }
    for (const auto& [path, hr] : cases) {
        OperationError error;
        error.code = kUntouchedCode;
        EXPECT_FALSE(AcceptDescription(true, L"", path, key_digits("signer"), error)) << narrow(path);
        EXPECT_EQ(error.code, static_cast<DWORD>(hr)) << narrow(path);
        EXPECT_EQ(error.text, check_failed(hr)) << narrow(path);
    }
    writer.reset();
    OperationError error;
    EXPECT_TRUE(CheckSignature(held, error)) << narrow(error.text);
}

}  // namespace
