#include <gtest/gtest.h>

#include <windows.h>

#include <iterator>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "description_key.h"
#include "key_slot.h"
#include "security_key.h"
#include "setting_rules.h"
#include "settings.h"
#include "settings_text.h"
#include "stamper.h"
#include "string_block.h"
#include "test_support.h"
#include "text.h"
#include "unique_handle.h"
#include "wexception.h"

using namespace testing_support;

namespace {

// ---- string blocks ----------------------------------------------------------

TEST(StringBlock, IdsAndSlots) {
    const struct {
        UINT id;
        WORD block;
        size_t slot;
    } cases[] = {{0, 1, 0},   {15, 1, 15},  {16, 2, 0},   {109, 7, 13},
                 {132, 9, 4}, {143, 9, 15}, {144, 10, 0}, {163, 11, 3}};
    for (const auto& c : cases) {
        EXPECT_EQ(string_block_id(c.id), c.block) << c.id;
        EXPECT_EQ(string_block_slot(c.id), c.slot) << c.id;
    }
}

TEST(StringBlock, EncodeDecodeRoundTrip) {
    StringBlock block;
    block[0] = L"first";
    block[5] = L"\u00fcber \U0001F600";  // a surrogate pair stays two units
    block[15] = std::wstring(65535, L'x');
    const auto bytes = encode_string_block(block);
    // 16 length words plus the units of the three strings.
    EXPECT_EQ(bytes.size(), 32u + 2 * (5 + 7 + 65535));
    EXPECT_EQ(bytes[0], 5);  // little-endian length
    EXPECT_EQ(bytes[1], 0);
    auto decoded = decode_string_block(bytes.data(), bytes.size());
    ASSERT_TRUE(decoded);
    EXPECT_EQ(*decoded, block);

    // Alignment padding after the 16th string is not part of the block.
    auto padded = bytes;
    padded.insert(padded.end(), {0, 0});
    EXPECT_EQ(decode_string_block(padded.data(), padded.size()), block);

    EXPECT_TRUE(string_block_is_empty(StringBlock{}));
    EXPECT_FALSE(string_block_is_empty(block));
    EXPECT_EQ(encode_string_block(StringBlock{}), std::vector<uint8_t>(32, 0));
}

TEST(StringBlock, TruncatedBlocksAreRefused) {
    StringBlock block;
    block[3] = L"abc";
    const auto bytes = encode_string_block(block);
    for (size_t size : {size_t{0}, size_t{1}, size_t{8}, size_t{9}, size_t{13}, bytes.size() - 1})
        EXPECT_FALSE(decode_string_block(bytes.data(), size)) << size;
    // A length that runs past the end.
    std::vector<uint8_t> lying(32, 0);
    lying[0] = 0xFF;
    lying[1] = 0xFF;
    EXPECT_FALSE(decode_string_block(lying.data(), lying.size()));
}

// ---- settings forms ----------------------------------------------------------

struct FormCase {
    const wchar_t* name;
    const wchar_t* value;
    bool accepted;
};

TEST(SettingRules, FormsTable) {
    const FormCase cases[] = {
        {L"componentCodes", L"{6F1C2A3B-4D5E-4F60-8A7B-9C0D1E2F3A4B}", true},
        {L"componentCodes", L"{6F1C2A3B-4D5E-4F60-8A7B-9C0D1E2F3A4B}; {abcdefab-cdef-abcd-efab-cdefabcdefab}",
         true},
        {L"componentCodes", L"{6F1C2A3B-4D5E-4F60-8A7B-9C0D1E2F3A4B};;", true},
        {L"componentCodes", L"{6F1C2A3B-4D5E-4F60-8A7B-9C0D1E2F3A4B};x", false},
        {L"componentCodes",
         L"{6F1C2A3B-4D5E-4F60-8A7B-9C0D1E2F3A4B}; ;{6F1C2A3B-4D5E-4F60-8A7B-9C0D1E2F3A4B}", false},
        {L"componentCodes", L";", false},
        {L"componentCodes", L"<Empty>", false},
        {L"productCode", L"{0A1B2C3D-4E5F-4A6B-8C7D-9E0F1A2B3C4D}", true},
        {L"productCode", L"0A1B2C3D-4E5F-4A6B-8C7D-9E0F1A2B3C4D", false},
        {L"productCode", L"{0A1B2C3D-4E5F-4A6B-8C7D-9E0F1A2B3C4}", false},
        {L"productCode", L"{0A1B2C3D-4E5F-4A6B-8C7D-9E0F1A2B3C4G}", false},
        {L"productCode", L"{0A1B2C3D04E5F-4A6B-8C7D-9E0F1A2B3C4D}", false},
        {L"productCode", L"{0A1B2C3D-4E5F-4A6B-8C7D-9E0F1A2B3C4D};{0A1B2C3D-4E5F-4A6B-8C7D-9E0F1A2B3C4D}",
         false},
        {L"id", L"0123456789abcdefABCDEF0123456789", true},
        {L"id", L"0123456789abcdef0123456789abcde", false},
        {L"id", L"0123456789abcdef0123456789abcdef0", false},
        {L"id", L"0123456789abcdef0123456789abcdeg", false},
        {L"language", L"1033", true},
        {L"language", L"4294967295", true},
        {L"language", L"4294967296", false},
        {L"language", L"-1033", false},
        {L"language", L"0x409", false},
        {L"language", L" 1033", false},
        {L"privileges", L"administrator", true},
        {L"privileges", L"USER", true},
        {L"privileges", L"admin", false},
        {L"visible", L"TRUE", true},
        {L"silent", L"False", true},
        {L"reserved156", L"true", true},
        {L"customErrorEnabled", L"yes", false},
        {L"updaterAutoStart", L"1", false},
        {L"runningAppsButtons", L"YesNoCancel", true},
        {L"runningAppsButtons", L"okcancel", true},
        {L"runningAppsButtons", L"Ok", true},
        {L"runningAppsButtons", L"YesNo", false},
        {L"datedMirrorPeriod", L"fortnight", true},
        {L"progressText", L"<EMPTY>", true},
        {L"customErrorLink", L"<Empty>", true},
        {L"additionalInstallationUrls", L"<Empty>", true},
        {L"installationUrl", L"<empty>", false},
        {L"productName", L"<Empty>", false},
        {L"productName", L"tab\tinside", true},
        {L"productName", L"line\nbreak", false},
        {L"windowTitle", L"", true},  // removes the string
        {L"id", L"", true},
    };
    for (const auto& c : cases) {
        const SettingField* field = find_setting(c.name);
        ASSERT_NE(field, nullptr) << c.name;
        EXPECT_EQ(!check_setting_value(*field, c.value).has_value(), c.accepted) << c.name << L"=" << c.value;
    }
    EXPECT_TRUE(check_setting_value(*find_setting(L"productName"), std::wstring(65535, L'a')) ==
                std::nullopt);
    EXPECT_TRUE(check_setting_value(*find_setting(L"productName"), std::wstring(65536, L'a')).has_value());
}

TEST(SettingRules, NamesAndKey) {
    for (const auto& field : kSettingFields) EXPECT_EQ(find_setting(field.name), &field);
    EXPECT_EQ(find_setting(L"PRODUCTNAME"), find_setting(L"productName"));
    EXPECT_EQ(find_setting(L"managedConfigFile"), nullptr);  // not in the string table
    EXPECT_EQ(find_setting(L"foo"), nullptr);

    EXPECT_FALSE(check_key_digits(L"0123456789ABCDEFabcdef012345678901234567"));
    EXPECT_TRUE(check_key_digits(L"0123456789abcdef012345678901234567890123X").has_value());
    EXPECT_TRUE(check_key_digits(L"0123456789abcdef01234567890123456789012").has_value());
    EXPECT_TRUE(check_key_digits(L"0123456789abcdef01234567890123456789012g").has_value());
}

TEST(PlanStamp, LaterPairsWinAndMessagesNameTheProblem) {
    StampPlan plan = plan_stamp({{L"id", L"0123456789abcdef0123456789abcdef", L""},
                                 {L"ID", L"fedcba9876543210fedcba9876543210", L""},
                                 {L"windowTitle", L"", L""},
                                 {L"key", L"ABCDEF0123456789ABCDEF0123456789ABCDEF01", L""}});
    EXPECT_EQ(plan.strings.size(), 2u);
    EXPECT_EQ(plan.strings[147], L"fedcba9876543210fedcba9876543210");
    EXPECT_EQ(plan.strings[141], L"");
    EXPECT_EQ(plan.key, "abcdef0123456789abcdef0123456789abcdef01");

    const struct {
        Assignment pair;
        std::wstring message;
    } refusals[] = {
        {{L"foo", L"1", L"command line"}, L"unknown setting 'foo' (command line)"},
        {{L"id", L"xyz", L""}, L"'id' must be 32 hexadecimal digits, got 'xyz'"},
        {{L"installationUrl", L"<empty>", L""},
         L"'installationUrl' cannot be \"<Empty>\"; an empty value removes it"},
        {{L"visible", L"yes", L"a.ini line 4"},
         L"'visible' must be \"true\" or \"false\", got 'yes' (a.ini line 4)"},
        {{L"key", L"12", L""}, L"the security key must be 40 hexadecimal digits, got '12'"},
        {{L"productName", std::wstring(100, L'a') + L"\x01", L""},
         L"'productName' must not contain control characters, got '" + std::wstring(80, L'a') + L"...'"},
    };
    for (const auto& r : refusals) {
        try {
            plan_stamp({{L"productName", L"fine", L""}, r.pair});
            ADD_FAILURE() << "accepted " << r.pair.name;
        } catch (const wexception& e) {
            EXPECT_EQ(e.message(), r.message);
        }
    }
}

// ---- settings file -------------------------------------------------------------

TEST(SettingsText, ParsesLinesCommentsQuotesAndBom) {
    const std::string text =
        "\xEF\xBB\xBF# publisher settings\r\n"
        "\r\n"
        "  productName = Sample \xC3\x9C  \r\n"
        "windowTitle=\"  spaced  \"\n"
        "   # indented comment\n"
        "progressText=\n"
        "customErrorLink=a=b\n"
        "customErrorText=\"\"quoted\"\"";  // no final line break
    const auto pairs = parse_settings_text(text, L"s.ini");
    const std::vector<std::pair<std::wstring, std::wstring>> expected = {
        {L"productName", L"Sample \u00dc"}, {L"windowTitle", L"  spaced  "},     {L"progressText", L""},
        {L"customErrorLink", L"a=b"},       {L"customErrorText", L"\"quoted\""},
    };
    ASSERT_EQ(pairs.size(), expected.size());
    for (size_t i = 0; i < pairs.size(); ++i) {
        EXPECT_EQ(pairs[i].name, expected[i].first);
        EXPECT_EQ(pairs[i].value, expected[i].second);
    }
    EXPECT_EQ(pairs[0].origin, L"s.ini line 3");
    EXPECT_EQ(pairs[4].origin, L"s.ini line 8");
}

TEST(SettingsText, BadLinesAreRefusedWithTheirNumber) {
    const struct {
        std::string text;
        const wchar_t* message;
    } cases[] = {
        {"productName=a\njust words\n", L"s.ini line 2: expected name=value, got 'just words'"},
        {"=value\n", L"s.ini line 1: expected name=value, got '=value'"},
        {"[section]\n", L"s.ini line 1: expected name=value, got '[section]'"},
        {"# ok\nproductName=\xFF\xFE\n", L"s.ini line 2 is not valid UTF-8"},
        {"productName=\xC3\n", L"s.ini line 1 is not valid UTF-8"},
        {std::string("\xFF\xFEp\0=\0x\0", 8), L"s.ini is UTF-16 text; save it as UTF-8"},
    };
    for (const auto& c : cases) {
        try {
            parse_settings_text(c.text, L"s.ini");
            ADD_FAILURE() << c.text;
        } catch (const wexception& e) {
            EXPECT_EQ(e.message(), c.message);
        }
    }
}

// ---- key slots --------------------------------------------------------------------

TEST(KeySlots, OnlyMarkersFollowedByFortyDigits) {
    const std::string marker = kSecurityKeyMarker;
    const std::string digits = "0123456789abcdefABCDEF012345678901234567";
    const std::string bare = marker + std::string(1, '\0');
    const struct {
        std::string bytes;
        std::vector<size_t> slots;
    } cases[] = {
        {"", {}},
        {"no marker here", {}},
        {"xx" + marker + digits + "yy", {2 + 38}},
        {bare + "..." + marker + digits, {bare.size() + 3 + 38}},       // the bare constant is skipped
        {marker + digits.substr(0, 39), {}},                            // cut off at the end of the file
        {marker + digits.substr(0, 20) + "g" + digits.substr(21), {}},  // not hexadecimal
        {marker + digits + marker + digits, {38, 78 + 38}},
        {marker.substr(0, 37) + "X" + digits, {}},
    };
    for (const auto& c : cases) EXPECT_EQ(find_key_slots(c.bytes), c.slots) << c.bytes;
}

// ---- key from a signed description -------------------------------------------

// A description around a Signature element; digests from Python's hashlib.
std::string signed_description(const std::string& signature) {
    return "<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n<application><product language=\"1033\"/>" +
           signature + "</application>";
}

std::string signature_with(const std::string& certificate) {
    return "<Signature "
           "xmlns=\"http://www.w3.org/2000/09/xmldsig#\"><SignedInfo/><SignatureValue>AA==</SignatureValue>"
           "<KeyInfo><X509Data><X509SubjectName>CN=x</X509SubjectName><X509Certificate>" +
           certificate + "</X509Certificate></X509Data></KeyInfo></Signature>";
}

TEST(KeyFromDescription, CertificateTextAsTheDownloaderReadsIt) {
    const struct {
        const char* label;
        std::string bytes;
        const char* key;  // or the start of the refusal
        bool accepted;
    } cases[] = {
        {"plain", signed_description(signature_with("abc")), "a9993e364706816aba3e25717850c26c9cd0d89d",
         true},
        {"byte order mark", "\xEF\xBB\xBF" + signed_description(signature_with("abc")),
         "a9993e364706816aba3e25717850c26c9cd0d89d", true},
        {"line break kept as stored", signed_description(signature_with("ab\r\nc")),
         "7a9d544827e861a9a0c50b64d8cfb837b72c7450", true},
        {"entity not decoded", signed_description(signature_with("&#65;bc")),
         "c3c4255c339cad1d256b04570498e83599c33cca", true},
        {"padding kept", signed_description(signature_with(" abc ")),
         "394d62b149f8a0aef1ca9a65d09f8df5e9d9d0c7", true},
        {"base64 characters", signed_description(signature_with("MIIBkTCB+wIJAK")),
         "e6bf4b050d1dddff8622e8201d2493374015d16a", true},
        {"signature first", "<application>" + signature_with("abc") + "<product/></application>",
         "a9993e364706816aba3e25717850c26c9cd0d89d", true},
        {"unsigned", signed_description(""), "is not signed", false},
        {"empty signature", signed_description("<Signature/>"), "is not signed", false},
        {"signature only below a product",
         "<application><product>" + signature_with("abc") + "</product></application>", "is not signed",
         false},
        {"no key info", signed_description("<Signature><SignedInfo/></Signature>"), "carries no certificate",
         false},
        {"no certificate",
         signed_description(
             "<Signature><SignedInfo/><KeyInfo><X509Data><X509SubjectName>CN=x</X509SubjectName>"
             "</X509Data></KeyInfo></Signature>"),
         "carries no certificate", false},
        {"empty certificate", signed_description(signature_with("")), "carries no certificate", false},
        {"white-space certificate", signed_description(signature_with(" \r\n ")), "carries no certificate",
         false},
        {"malformed", "<application><Signature><KeyInfo></application>", "is not well-formed XML", false},
        {"other root", "<description>" + signature_with("abc") + "</description>", "has no 'application'",
         false},
        {"empty file", "", "is not well-formed XML: Empty document", false},
    };
    TempDir dir(L"qrstamp");
    for (const auto& c : cases) {
        const std::wstring path = dir / L"version_info.xml";
        ASSERT_TRUE(write_file(path, c.bytes));
        try {
            const std::string key = key_from_description(path);
            EXPECT_TRUE(c.accepted) << c.label << ": got " << key;
            EXPECT_EQ(key, c.key) << c.label;
        } catch (const wexception& e) {
            EXPECT_FALSE(c.accepted) << c.label << ": " << narrow(e.message());
            EXPECT_NE(narrow(e.message()).find(c.key), std::string::npos)
                << c.label << ": " << narrow(e.message());
        }
    }
    try {
        key_from_description(dir / L"missing.xml");
        ADD_FAILURE() << "a missing description gave a key";
    } catch (const wexception& e) {
        EXPECT_NE(narrow(e.message()).find("cannot open the description"), std::string::npos)
            << narrow(e.message());
    }
}

// ---- the program -------------------------------------------------------------------

std::wstring downloader() {
    return bin_dir() + L"QuillrunDownloader.exe";
}
std::wstring probe() {
    return bin_dir() + L"stamp_probe.exe";
}

ProcessResult qrstamp(const std::wstring& arguments) {
    return run_process(quote(bin_dir() + L"qrstamp.exe") + L" " + arguments);
}

DeploymentSettings load_settings(const std::wstring& path) {
    unique_module module(
        LoadLibraryExW(path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE));
    EXPECT_TRUE(module) << "cannot load " << narrow(path);
    DeploymentSettings values;
    if (module) LoadDeploymentSettings(module.get(), values);
    return values;
}

std::map<std::wstring, std::wstring> as_map(const DeploymentSettings& values) {
    std::map<std::wstring, std::wstring> out;
    for (const auto& field : kSettingFields) out[field.name] = values.*field.member;
    return out;
}

// "name=value" lines into a map (the probe's output).
std::map<std::wstring, std::wstring> parse_lines(const std::string& output) {
    std::map<std::wstring, std::wstring> out;
    for (const auto& pair : parse_settings_text(output, L"output")) out[pair.name] = pair.value;
    return out;
}

std::string resource_bytes(HMODULE module, LPCWSTR type, LPCWSTR name) {
    HRSRC found = FindResourceW(module, name, type);
    if (!found) return "(missing)";
    const void* data = LockResource(LoadResource(module, found));
    return std::string(static_cast<const char*>(data), SizeofResource(module, found));
}

BOOL CALLBACK add_language(HMODULE, LPCWSTR, LPCWSTR, WORD language, LONG_PTR param) {
    reinterpret_cast<std::vector<WORD>*>(param)->push_back(language);
    return TRUE;
}

std::vector<WORD> languages(HMODULE module, WORD block) {
    std::vector<WORD> out;
    EnumResourceLanguagesW(module, RT_STRING, MAKEINTRESOURCEW(block), add_language,
                           reinterpret_cast<LONG_PTR>(&out));
    return out;
}

const std::map<std::wstring, std::wstring> kEveryField = {
    {L"componentCodes", L"{11111111-2222-3333-4444-555555555555};{aaaaaaaa-bbbb-cccc-dddd-eeeeeeeeeeee}"},
    {L"installationUrl", L"https://example.test/produkt/\u00e4/"},
    {L"language", L"1031"},
    {L"privileges", L"User"},
    {L"productName", L"Pr\u00f6dukt \u6f22\u5b57"},
    {L"productCode", L"{ABCDEF01-2345-6789-ABCD-EF0123456789}"},
    {L"progressText", L"<Empty>"},
    {L"application", L"RoundTrip"},
    {L"hostApplications", L"Excel;Word"},
    {L"windowTitle", L"  padded title  "},
    {L"version", L"2.3.4"},
    {L"visible", L"FALSE"},
    {L"updaterAutoStart", L"TRUE"},
    {L"id", L"FEDCBA9876543210fedcba9876543210"},
    {L"updaterAutoDownload", L"False"},
    {L"additionalInstallationUrls", L"http://a.test/; http://b.test/"},
    {L"datedMirrorEnabled", L"True"},
    {L"datedMirrorPrefix", L"mirror-"},
    {L"datedMirrorPath", L"/x/y/"},
    {L"datedMirrorPeriod", L"year"},
    {L"datedMirrorDomain", L".example.test"},
    {L"reserved156", L"tRUE"},
    {L"silent", L"trUE"},
    {L"uninstallPreviousVersions", L"fALSE"},
    {L"quietInUpdaterMode", L"truE"},
    {L"runningAppsButtons", L"okcancel"},
    {L"customErrorEnabled", L"true"},
    {L"customErrorText", L"It failed ($(ErrorCode))"},
    {L"customErrorLink", L"https://help.test/?e=$(ErrorCode)"},
};

// Every setting, half from a settings file and half from the command line,
// reads back through the downloader's own loader; the string ids that are
// not settings, the other resources and the table's language stay as they were.
TEST(QrStamp, EverySettingRoundTripsAndNothingElseChanges) {
    ASSERT_EQ(kEveryField.size(), std::size(kSettingFields));
    TempDir dir(L"qrstamp");
    std::string file = "\xEF\xBB\xBF# every other setting\r\n";
    std::wstring pairs;
    bool to_file = true;
    for (const auto& [name, value] : kEveryField) {
        if (to_file) {
            file += narrow(name + L"=\"" + value + L"\"\r\n");
        } else {
            pairs += L" " + quote(name + L"=" + value);
        }
        to_file = !to_file;
    }
    // The command line comes after the file, so it wins.
    file += "version=9.9.9\n";
    ASSERT_TRUE(write_file(dir / L"s.ini", file));
    const std::wstring out = dir / L"out.exe";
    auto run = qrstamp(quote(downloader()) + L" " + quote(out) + L" --settings " + quote(dir / L"s.ini") +
                       pairs + L" version=2.3.4");
    ASSERT_EQ(run.exit_code, 0u) << run.output;
    EXPECT_EQ(as_map(load_settings(out)), kEveryField);

    unique_module before(LoadLibraryExW(downloader().c_str(), nullptr,
                                        LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE));
    unique_module after(
        LoadLibraryExW(out.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE));
    ASSERT_TRUE(before && after);
    const struct {
        LPCWSTR type;
        LPCWSTR name;
    } kept[] = {{RT_VERSION, MAKEINTRESOURCEW(1)},      {RT_DIALOG, MAKEINTRESOURCEW(129)},
                {RT_MANIFEST, MAKEINTRESOURCEW(1)},     {RT_ACCELERATOR, MAKEINTRESOURCEW(109)},
                {RT_GROUP_ICON, MAKEINTRESOURCEW(108)}, {RT_STRING, MAKEINTRESOURCEW(7)}};
    for (const auto& k : kept) {
        const std::string original = resource_bytes(before.get(), k.type, k.name);
        EXPECT_NE(original, "(missing)");
        EXPECT_EQ(resource_bytes(after.get(), k.type, k.name), original)
            << "type " << reinterpret_cast<ULONG_PTR>(k.type) << " name "
            << reinterpret_cast<ULONG_PTR>(k.name);
    }
    for (UINT id : {109u, 144u}) {  // 144 shares its block with stamped settings
        wchar_t a[256] = {}, b[256] = {};
        EXPECT_GT(LoadStringW(before.get(), id, a, 256), 0);
        LoadStringW(after.get(), id, b, 256);
        EXPECT_STREQ(a, b) << id;
    }
    for (WORD block : {9, 10, 11})
        EXPECT_EQ(languages(after.get(), block), languages(before.get(), block)) << block;
}

// Values not given keep the input's; an empty value removes a string, even
// every string of a block; --print reads back as a settings file.
TEST(QrStamp, RemovalKeepsTheRestAndPrintReadsBack) {
    TempDir dir(L"qrstamp");
    const std::wstring out = dir / L"out.exe";
    auto run =
        qrstamp(quote(downloader()) + L" " + quote(out) +
                L" runningAppsButtons= customErrorEnabled= customErrorText= customErrorLink= progressText="
                L" datedMirrorPath=/mirror/");
    ASSERT_EQ(run.exit_code, 0u) << run.output;
    auto expected = as_map(load_settings(downloader()));
    for (const wchar_t* name : {L"runningAppsButtons", L"customErrorEnabled", L"customErrorText",
                                L"customErrorLink", L"progressText"}) {
        EXPECT_FALSE(expected[name].empty()) << name << " should be present in the input";
        expected[name] = L"";
    }
    expected[L"datedMirrorPath"] = L"/mirror/";
    EXPECT_EQ(as_map(load_settings(out)), expected);

    auto printed = qrstamp(L"--print " + quote(out));
    ASSERT_EQ(printed.exit_code, 0u) << printed.output;
    EXPECT_NE(printed.output.find("# customErrorLink is absent\ncustomErrorLink=\n"), std::string::npos)
        << printed.output;
    EXPECT_NE(printed.output.find("datedMirrorPath=/mirror/\n"), std::string::npos);
    // Settings in id order: 153 before 155, although the loader reads 155 first.
    EXPECT_LT(printed.output.find("datedMirrorPath="), printed.output.find("datedMirrorDomain="));

    // Stamping the input with the printed text reproduces the copy.
    ASSERT_TRUE(write_file(dir / L"printed.ini", printed.output));
    const std::wstring again = dir / L"again.exe";
    run = qrstamp(quote(downloader()) + L" " + quote(again) + L" --settings " + quote(dir / L"printed.ini"));
    ASSERT_EQ(run.exit_code, 0u) << run.output;
    EXPECT_EQ(as_map(load_settings(again)), expected);

    // The same with every value set, quoted padding included.
    run = qrstamp(quote(downloader()) + L" " + quote(out) + L" " + quote(L"windowTitle=  padded  ") +
                  L" productName=\"\\\"quoted\\\"\"");
    ASSERT_EQ(run.exit_code, 0u) << run.output;
    printed = qrstamp(L"--print " + quote(out));
    ASSERT_EQ(printed.exit_code, 0u);
    auto reread = parse_lines(printed.output);
    EXPECT_EQ(reread[L"windowTitle"], L"  padded  ");
    EXPECT_EQ(reread[L"productName"], L"\"quoted\"");
}

// The key lands behind the marker, lower-cased, where the program itself
// reads it; a stamped copy can be stamped again.
TEST(QrStamp, KeyRoundTripsThroughTheProgramItself) {
    TempDir dir(L"qrstamp");
    auto plain = run_process(quote(probe()));
    ASSERT_EQ(plain.exit_code, 0u);
    EXPECT_EQ(parse_lines(plain.output)[L"key"], std::wstring(40, L'0'));

    const std::wstring first = dir / L"first.exe", second = dir / L"second.exe";
    auto run = qrstamp(quote(probe()) + L" " + quote(first) +
                       L" --key 0123456789ABCDEF0123456789ABCDEF01234567 productName=Keyed");
    ASSERT_EQ(run.exit_code, 0u) << run.output;
    auto seen = parse_lines(run_process(quote(first)).output);
    EXPECT_EQ(seen[L"key"], L"0123456789abcdef0123456789abcdef01234567");
    EXPECT_EQ(seen[L"productName"], L"Keyed");
    EXPECT_EQ(seen[L"windowTitle"], as_map(load_settings(probe()))[L"windowTitle"]);

    auto printed = qrstamp(L"--print " + quote(first));
    EXPECT_EQ(parse_lines(printed.output)[L"key"], L"0123456789abcdef0123456789abcdef01234567");

    run = qrstamp(quote(first) + L" " + quote(second) + L" --key ffffffffffffffffffffffffffffffffffffffff");
    ASSERT_EQ(run.exit_code, 0u) << run.output;
    seen = parse_lines(run_process(quote(second)).output);
    EXPECT_EQ(seen[L"key"], std::wstring(40, L'f'));
    EXPECT_EQ(seen[L"productName"], L"Keyed");
}

// --key-from writes the digest of the description's certificate text where
// the program reads its key.
TEST(QrStamp, KeyFromASignedDescription) {
    TempDir dir(L"qrstamp");
    ASSERT_TRUE(write_file(dir / L"signed.xml", signed_description(signature_with("MIIBkTCB+wIJAK"))));
    const std::wstring out = dir / L"out.exe";
    auto run = qrstamp(quote(probe()) + L" " + quote(out) + L" productName=Signed --key-from " +
                       quote(dir / L"signed.xml"));
    ASSERT_EQ(run.exit_code, 0u) << run.output;
    auto seen = parse_lines(run_process(quote(out)).output);
    EXPECT_EQ(seen[L"key"], L"e6bf4b050d1dddff8622e8201d2493374015d16a");
    EXPECT_EQ(seen[L"productName"], L"Signed");
}

std::wstring replace_all(std::wstring text, const std::wstring& from, const std::wstring& to) {
    for (size_t at = text.find(from); at != std::wstring::npos; at = text.find(from, at + to.size()))
        text.replace(at, from.size(), to);
    return text;
}

// A copy of the probe whose marker is damaged: the key has nowhere to go.
void write_probe_without_marker(const std::wstring& path) {
    std::string bytes = read_file(probe());
    const size_t at = bytes.find(kSecurityKeyMarker);
    ASSERT_NE(at, std::string::npos);
    bytes[at + 1] = 'X';
    ASSERT_TRUE(write_file(path, bytes));
}

// Every refusal names its cause, exits non-zero and leaves the output
// folder exactly as it was: no output, no temporary file.
TEST(QrStamp, RefusalsWriteNothing) {
    const struct {
        const wchar_t* arguments;  // {in}, {out}, {dir} are replaced
        DWORD exit_code;
        const char* message;
    } cases[] = {
        {L"{in} {out} foo=1", 1, "qrstamp: unknown setting 'foo' (command line)"},
        {L"{in} {out} productCode={123}", 1, "qrstamp: 'productCode' must be a GUID in braces"},
        {L"{in} {out} "
         L"componentCodes={6F1C2A3B-4D5E-4F60-8A7B-9C0D1E2F3A4B};6F1C2A3B-4D5E-4F60-8A7B-9C0D1E2F3A4B",
         1, "'componentCodes' must be one or more GUIDs in braces"},
        {L"{in} {out} productName=Fine id=xyz", 1, "qrstamp: 'id' must be 32 hexadecimal digits, got 'xyz'"},
        {L"{in} {out} language=en-US", 1, "'language' must be a decimal language id"},
        {L"{in} {out} privileges=admin", 1,
         "'privileges' must be \"administrator\" or \"user\", got 'admin'"},
        {L"{in} {out} visible=yes", 1, "'visible' must be \"true\" or \"false\", got 'yes'"},
        {L"{in} {out} runningAppsButtons=YesNo", 1,
         "'runningAppsButtons' must be \"YesNoCancel\", \"OkCancel\" or \"Ok\""},
        {L"{in} {out} installationUrl=<Empty>", 1, "'installationUrl' cannot be \"<Empty>\""},
        {L"{in} {out} --key 123", 1, "qrstamp: the security key must be 40 hexadecimal digits, got '123'"},
        {L"{in} {out} --key 0123456789abcdef0123456789abcdef0123456z", 1,
         "the security key must be 40 hexadecimal"},
        {L"{dir}missing.exe {out} productName=X", 1, "qrstamp: cannot open '"},
        {L"{dir}notes.txt {out} productName=X", 1, "notes.txt' is not a Windows program"},
        {L"{dir}in.exe {dir}in.exe productName=X", 1,
         "qrstamp: the output must be another file than the input"},
        {L"{dir}in.exe {dir}.\\IN.EXE productName=X", 1, "the output must be another file than the input"},
        {L"{in} {out} --settings {dir}missing.ini", 1, "qrstamp: cannot open the settings file"},
        {L"{in} {out} --settings {dir}words.ini", 1,
         "words.ini line 2: expected name=value, got 'just words'"},
        {L"{in} {out} --settings {dir}latin1.ini", 1, "latin1.ini line 1 is not valid UTF-8"},
        {L"{in} {out} --settings {dir}unknown.ini", 1, "unknown setting 'bogus' (unknown.ini line 1)"},
        {L"{in} {out} --settings {dir}control.ini", 1, "'productName' must not contain control characters"},
        {L"{in} {dir}no-such-folder\\out.exe productName=X", 1, "cannot create a temporary file"},
        {L"{dir}nomarker.exe {out} productName=X --key 0123456789abcdef0123456789abcdef01234567", 1,
         "the security-key marker is not in the program"},
        {L"{in} {out} --key", 2, "--key needs a value"},
        {L"{in} {out} visible", 2, "expected name=value"},
        {L"{in} {out} --force", 2, "unknown option '--force'"},
        {L"{in}", 2, "give an input and an output file"},
        {L"--print {dir}missing.exe", 1, "qrstamp: cannot open '"},
        {L"{in} {out} --key-from {dir}unsigned.xml", 1, "unsigned.xml' is not signed"},
        {L"{in} {out} --key-from {dir}nocert.xml", 1, "nocert.xml' carries no certificate"},
        {L"{in} {out} --key-from {dir}missing.xml", 1, "qrstamp: cannot open the description"},
        {L"{in} {out} --key-from {dir}words.ini", 1, "words.ini' is not well-formed XML"},
        {L"{in} {out} --key 0123456789abcdef0123456789abcdef01234567 --key-from {dir}signed.xml", 2,
         "give either --key or --key-from, not both"},
        {L"{in} {out} --key-from {dir}signed.xml --key 0123456789abcdef0123456789abcdef01234567", 2,
         "give either --key or --key-from, not both"},
        {L"{in} {out} --key-from", 2, "--key-from needs a value"},
        {L"{dir}nomarker.exe {out} --key-from {dir}signed.xml", 1,
         "the security-key marker is not in the program"},
    };
    for (const auto& c : cases) {
        TempDir dir(L"qrstamp");
        ASSERT_TRUE(write_file(dir / L"in.exe", read_file(downloader())));
        ASSERT_TRUE(write_file(dir / L"notes.txt", "not a program"));
        ASSERT_TRUE(write_file(dir / L"words.ini", "productName=X\njust words\n"));
        ASSERT_TRUE(write_file(dir / L"latin1.ini", "productName=K\xF6ln\n"));
        ASSERT_TRUE(write_file(dir / L"unknown.ini", "bogus=1\n"));
        ASSERT_TRUE(write_file(dir / L"control.ini", std::string("productName=a\x01z\n")));
        ASSERT_TRUE(write_file(dir / L"signed.xml", signed_description(signature_with("abc"))));
        ASSERT_TRUE(write_file(dir / L"unsigned.xml", signed_description("")));
        ASSERT_TRUE(write_file(dir / L"nocert.xml", signed_description(signature_with(""))));
        write_probe_without_marker(dir / L"nomarker.exe");
        const auto before = folder_files(dir.path());

        std::wstring arguments = replace_all(c.arguments, L"{in}", quote(downloader()));
        arguments = replace_all(arguments, L"{out}", quote(dir / L"out.exe"));
        arguments = replace_all(arguments, L"{dir}", dir.path());
        auto run = qrstamp(arguments);
        EXPECT_EQ(run.exit_code, c.exit_code) << narrow(arguments) << "\n" << run.output;
        EXPECT_NE(run.output.find(c.message), std::string::npos) << narrow(arguments) << "\n" << run.output;
        EXPECT_EQ(folder_files(dir.path()), before) << narrow(arguments);
    }
}

// An output that already exists keeps its bytes when stamping fails, early
// (a bad value) or late (after the string table of the copy was written).
TEST(QrStamp, ExistingOutputSurvivesAFailure) {
    const wchar_t* cases[] = {
        L"{in} {out} productName=Y language=english",
        L"{dir}nomarker.exe {out} productName=Y --key 0123456789abcdef0123456789abcdef01234567",
    };
    for (const wchar_t* c : cases) {
        TempDir dir(L"qrstamp");
        write_probe_without_marker(dir / L"nomarker.exe");
        ASSERT_TRUE(write_file(dir / L"out.exe", "previous output"));
        const auto before = folder_files(dir.path());
        std::wstring arguments = replace_all(c, L"{in}", quote(downloader()));
        arguments = replace_all(arguments, L"{out}", quote(dir / L"out.exe"));
        arguments = replace_all(arguments, L"{dir}", dir.path());
        auto run = qrstamp(arguments);
        EXPECT_EQ(run.exit_code, 1u) << run.output;
        EXPECT_EQ(folder_files(dir.path()), before) << narrow(arguments);
    }
    // And a successful run replaces it.
    TempDir dir(L"qrstamp");
    ASSERT_TRUE(write_file(dir / L"out.exe", "previous output"));
    auto run = qrstamp(quote(downloader()) + L" " + quote(dir / L"out.exe") + L" productName=Replaced");
    ASSERT_EQ(run.exit_code, 0u) << run.output;
    EXPECT_EQ(load_settings(dir / L"out.exe").productName, L"Replaced");
    EXPECT_EQ(folder_files(dir.path()).size(), 1u);
}

}  // namespace
