#include "description.h"

#include <gtest/gtest.h>

#include <cwctype>
#include <functional>
#include <string>
#include <vector>

#include "digest.h"
#include "file_ops.h"
#include "module_path.h"
#include "program_digest.h"
#include "security_key.h"
#include "signature.h"
#include "test_support.h"
#include "text.h"
#include "xml_document.h"

using namespace testing_support;

namespace {

const std::wstring kCache = L"C:\\ProgramData\\QrTest\\cache";
const std::wstring kUpdater = L"C:\\ProgramData\\QrTest\\updater";
const std::string kZeroKey(40, '0');
// SHA-1 of "abc", written in upper case: keys compare without regard to case.
const std::string kAbcKey = "A9993E364706816ABA3E25717850C26C9CD0D89D";

DescriptionInputs web_inputs() {
    DescriptionInputs in;
    in.language = L"en";
    in.version = L"2.0";
    in.productCode = L"{11111111-2222-3333-4444-555555555555}";
    in.installationUrl = L"http://example.test/dist";
    in.sourceKind = kSourceWebAddress;
    in.userLcid = 1033;
    in.userLanguageName = L"English";
    in.cacheFolder = kCache;
    in.updaterFolder = kUpdater;
    in.securityKeyDigits = kZeroKey;
    return in;
}

// One product in language "en" with version "2.0" holding `body` inside it.
std::wstring applying(const std::wstring& body, const std::wstring& versionAttributes = L"") {
    return L"<application><product language=\"en\"><version name=\"2.0\" component=\"{C0}\" "
           L"scope=\"perMachine\"" +
           versionAttributes + L">" + body + L"</version></product></application>";
}

struct Outcome {
    bool ok = false;
    DescriptionState state;
    OperationError error;
    DescriptionFlags flags;
};

Outcome interpret(const std::wstring& text, const DescriptionInputs& in = web_inputs(),
                  DescriptionFlags flags = {}) {
    xml::CXmlDocument doc;
    doc.SetDocument(text);
    Outcome run;
    run.flags = flags;
    run.ok = InterpretDescription(doc, in, run.state, run.error, run.flags);
    return run;
}

TEST(DescriptionFailures, MissingElementsAndRefusedNamesStopTheReading) {
    const std::wstring application = L"XML error: Can't find the 'application' tag.";
    const std::wstring files = L"XML error: Can't find the 'files' tag.";
    struct Case {
        const wchar_t* label;
        std::wstring text;
        std::wstring error;
    };
    const Case cases[] = {
        {L"empty document", L"", application},
        {L"other root", L"<description><product language=\"en\"/></description>", application},
        {L"root name differs in case", L"<Application/>", application},
        {L"applying version without files", applying(L"<preferences/>"), files},
        {L"files only in another version",
         L"<application><product language=\"en\"><version name=\"1.0\"><files/></version>"
         L"<version name=\"2.0\"/></product></application>",
         files},
        {L"absolute name", applying(L"<files><file>C:\\Windows\\evil.dll</file></files>"),
         L"Invalid file name 'C:\\Windows\\evil.dll' in version_info.xml."},
        {L"drive-relative name", applying(L"<files><file>C:evil.dll</file></files>"),
         L"Invalid file name 'C:evil.dll' in version_info.xml."},
        {L"rooted name", applying(L"<files><file>\\evil.dll</file></files>"),
         L"Invalid file name '\\evil.dll' in version_info.xml."},
        {L"parent folder", applying(L"<files><file>..\\evil.dll</file></files>"),
         L"Invalid file name '..\\evil.dll' in version_info.xml."},
        {L"parent folder with slashes", applying(L"<files><file>sub/../../evil.dll</file></files>"),
         L"Invalid file name 'sub/../../evil.dll' in version_info.xml."},
        {L"updater name escaping the updater folder",
         applying(L"<files><file updater=\"true\">updater\\..\\..\\evil.dll</file></files>"),
         L"Invalid file name 'updater\\..\\..\\evil.dll' in version_info.xml."},
        {L"prerequisite escaping the cache",
         applying(L"<files><file prerequisite=\"true\">..\\..\\setup.exe</file></files>"),
         L"Invalid file name '..\\..\\setup.exe' in version_info.xml."},
        {L"empty name", applying(L"<files><file></file></files>"),
         L"Invalid file name '' in version_info.xml."},
    };
    for (const Case& c : cases) {
        const Outcome run = interpret(c.text);
        EXPECT_FALSE(run.ok) << c.label;
        EXPECT_EQ(run.error.text, c.error) << c.label;
        EXPECT_TRUE(run.state.files.localPaths.empty()) << c.label;
        EXPECT_TRUE(run.state.prerequisites.localPaths.empty()) << c.label;
        EXPECT_TRUE(run.state.products.empty()) << c.label;
    }
}

TEST(DescriptionFailures, RefusedNameKeepsTheFilesBeforeItButNothingAfter) {
    const Outcome run =
        interpret(applying(L"<files msi=\"p\"><file>good.cab</file><file>..\\bad.dll</file>"
                           L"<file>later.cab</file></files>"));
    EXPECT_FALSE(run.ok);
    EXPECT_EQ(run.error.code, DWORD(ERROR_INVALID_NAME));
    ASSERT_EQ(run.state.files.localPaths, std::vector<std::wstring>{kCache + L"\\good.cab"});
}

TEST(DescriptionFiles, PackageNameGetsTheExtensionOnlyWhenItLacksIt) {
    const std::pair<const wchar_t*, const wchar_t*> cases[] = {
        {L"Product", L"Product.msi"},           {L"Product.msi", L"Product.msi"},
        {L"Product.MSI", L"Product.MSI"},       {L"Product.Msi", L"Product.Msi"},
        {L"Product.msix", L"Product.msix.msi"}, {L"msi", L"msi.msi"},
    };
    for (auto& [attribute, expected] : cases) {
        const Outcome run = interpret(applying(std::wstring(L"<files msi=\"") + attribute + L"\"/>"));
        ASSERT_TRUE(run.ok) << attribute;
        EXPECT_EQ(run.state.packageFileName, expected) << attribute;
    }
}

TEST(DescriptionFiles, FilesAttributesAndEntriesAreStoredInOrder) {
    DescriptionState state;
    state.totalSteps = 5;
    state.files.urls.push_back(L"earlier");
    state.files.digests.push_back(L"");
    state.files.localPaths.push_back(L"earlier");
    xml::CXmlDocument doc;
    doc.SetDocument(
        applying(L"<files msi=\"Prod\" customActionAssembly=\"Ca.dll\" customActionClass=\"Ns.Actions\""
                 L" hash=\"A9C449D4FA44E9E5A41C574AE55CE4D9\">"
                 L"<file hash=\"aa\">Prod.msi</file>"
                 L"<file action=\"true\">actions\\Extension.dll</file>"
                 L"<file action=\"TRUE\" hash=\"bb\">sub/b.cab</file>"
                 L"</files>"));
    OperationError error;
    DescriptionFlags flags;
    // The listed program digest is checked: give a program file that has it
    // (MD5 of "program", from md5sum).
    TempDir dir(L"qrdesc");
    DescriptionInputs in = web_inputs();
    in.programFile = dir / L"program.exe";
    ASSERT_TRUE(write_file(in.programFile, "program"));
    ASSERT_TRUE(InterpretDescription(doc, in, state, error, flags)) << error.text;
    EXPECT_EQ(state.packageFileName, L"Prod.msi");
    EXPECT_EQ(state.customActionAssembly, L"Ca.dll");
    EXPECT_EQ(state.customActionClass, L"Ns.Actions");
    EXPECT_EQ(state.downloaderDigest, L"A9C449D4FA44E9E5A41C574AE55CE4D9");
    const std::vector<std::wstring> locals = {L"earlier", kCache + L"\\Prod.msi",
                                              kCache + L"\\actions\\Extension.dll", kCache + L"\\sub\\b.cab"};
    EXPECT_EQ(state.files.localPaths, locals);
    EXPECT_EQ(state.files.digests, (std::vector<std::wstring>{L"", L"aa", L"", L"bb"}));
    EXPECT_EQ(state.files.urls[1], L"http://example.test/dist/en/2.0/Prod.msi");
    EXPECT_EQ(state.files.urls[3], L"http://example.test/dist/en/2.0/sub/b.cab");
    EXPECT_EQ(state.actionFiles, (std::vector<std::wstring>{L"actions\\Extension.dll", L"sub/b.cab"}));
    EXPECT_EQ(state.totalSteps, 5 + 3);
    EXPECT_TRUE(state.prerequisites.urls.empty());
}

TEST(DescriptionFiles, UpdaterPrefixSendsTheFileToTheUpdaterFolder) {
    struct Case {
        const wchar_t* file;
        std::wstring local;
        bool action;  // listed as an action file
    };
    const Case cases[] = {
        {L"<file updater=\"true\">updater\\Service.exe</file>", kUpdater + L"\\Service.exe", false},
        {L"<file updater=\"true\">UPDATER\\sub\\a.dll</file>", kUpdater + L"\\sub\\a.dll", false},
        {L"<file updater=\"true\" action=\"true\">updater\\b.dll</file>", kUpdater + L"\\b.dll", false},
        {L"<file updater=\"true\">Service.exe</file>", kCache + L"\\Service.exe", false},
        {L"<file updater=\"true\" action=\"true\">updater/c.dll</file>", kCache + L"\\updater\\c.dll", true},
        {L"<file>updater\\Service.exe</file>", kCache + L"\\updater\\Service.exe", false},
        {L"<file updater=\"false\" action=\"true\">updater\\d.dll</file>", kCache + L"\\updater\\d.dll",
         true},
    };
    for (const Case& c : cases) {
        const Outcome run = interpret(applying(std::wstring(L"<files>") + c.file + L"</files>"));
        ASSERT_TRUE(run.ok) << c.file << L": " << run.error.text;
        ASSERT_EQ(run.state.files.localPaths.size(), 1u) << c.file;
        EXPECT_EQ(run.state.files.localPaths[0], c.local) << c.file;
        EXPECT_EQ(run.state.actionFiles.size(), c.action ? 1u : 0u) << c.file;
    }
    // The source keeps the whole listed name, prefix included.
    const std::wstring base = L"http://example.test/dist/en/2.0";
    const Outcome run =
        interpret(applying(L"<files><file updater=\"true\">updater\\Service.exe</file></files>"));
    ASSERT_EQ(run.state.files.urls.size(), 1u);
    EXPECT_EQ(run.state.files.urls[0], url_join(base, L"updater\\Service.exe"));
    EXPECT_NE(run.state.files.urls[0], url_join(base, L"Service.exe"));
}

TEST(DescriptionFiles, SourceIsJoinedAsUrlOnlyForWebAddresses) {
    struct Case {
        int kind;
        const wchar_t* base;
        const wchar_t* expected;
    };
    const Case cases[] = {
        {kSourceWebAddress, L"http://example.test/dist", L"http://example.test/dist/en/2.0/sub/a.cab"},
        {kSourceWebAddress, L"https://example.test/dist/", L"https://example.test/dist/en/2.0/sub/a.cab"},
        {kSourceLocalFolder, L"D:\\Releases", L"D:\\Releases\\en\\2.0\\sub\\a.cab"},
        {kSourceNetworkShare, L"\\\\server\\share\\dist", L"\\\\server\\share\\dist\\en\\2.0\\sub\\a.cab"},
    };
    for (const Case& c : cases) {
        DescriptionInputs in = web_inputs();
        in.sourceKind = c.kind;
        in.installationUrl = c.base;
        const Outcome run = interpret(applying(L"<files><file>sub/a.cab</file>"
                                               L"<file prerequisite=\"true\">sub/a.cab</file></files>"),
                                      in);
        ASSERT_TRUE(run.ok) << c.base << L": " << run.error.text;
        ASSERT_EQ(run.state.files.urls.size(), 1u);
        EXPECT_EQ(run.state.files.urls[0], c.expected) << c.base;
        ASSERT_EQ(run.state.prerequisites.urls.size(), 1u);
        EXPECT_EQ(run.state.prerequisites.urls[0], c.expected) << c.base;
    }
}

TEST(DescriptionFiles, OnlyPositiveSizesAddToTheTotal) {
    const std::pair<const wchar_t*, std::uint64_t> cases[] = {
        {L"size=\"0\"", 0},
        {L"size=\"-500\"", 0},
        {L"", 0},
        {L"size=\"\"", 0},
        {L"size=\"abc\"", 0},
        {L"size=\"1234\"", 1234},
        {L"size=\" 77\"", 77},
        {L"size=\"12kb\"", 12},
        {L"size=\"5000000000\"", 5000000000ull},
        {L"size=\"99999999999999999999999\"", 9223372036854775807ull},
    };
    for (auto& [attribute, added] : cases) {
        const std::wstring file = std::wstring(L"<file ") + attribute + L">a.cab</file>";
        DescriptionState state;
        state.bytesTotal = 100;
        xml::CXmlDocument doc;
        doc.SetDocument(applying(L"<files>" + file + L"</files>"));
        OperationError error;
        DescriptionFlags flags;
        ASSERT_TRUE(InterpretDescription(doc, web_inputs(), state, error, flags)) << attribute;
        EXPECT_EQ(state.bytesTotal, 100 + added) << attribute;
    }
}

TEST(DescriptionFiles, SizesCountForEveryFileEvenSkippedPrerequisites) {
    DescriptionInputs in = web_inputs();
    in.silent = true;
    in.userLcid = 1036;
    const Outcome run = interpret(
        applying(L"<files><file size=\"10\">a.cab</file>"
                 L"<file prerequisite=\"true\" size=\"20\">setup.exe</file>"
                 L"<file prerequisite=\"true\" language=\"1033\" size=\"40\">en\\setup.exe</file></files>"),
        in);
    ASSERT_TRUE(run.ok) << run.error.text;
    EXPECT_EQ(run.state.bytesTotal, 70u);
    EXPECT_TRUE(run.state.prerequisites.urls.empty());
    EXPECT_TRUE(run.state.prerequisites.languages.empty());
    EXPECT_EQ(run.state.totalSteps, 1);
}

TEST(DescriptionPrerequisites, LanguageChosenByLocaleThenByLanguageName) {
    const std::wstring files =
        L"<files>"
        L"<file prerequisite=\"true\" hash=\"h0\">common\\vc.exe</file>"
        L"<file prerequisite=\"true\" language=\"1033\" hash=\"h1\">en\\setup.exe</file>"
        L"<file prerequisite=\"true\" language=\"1036\" hash=\"h2\">fr\\setup.exe</file>"
        L"<file prerequisite=\"true\" language=\"1036\">fr\\lp.cab</file>"
        L"</files>";
    struct Case {
        LCID lcid;
        const wchar_t* languageName;
        std::vector<std::wstring> kept;  // relative names
        std::wstring setupFolder;
    };
    const Case cases[] = {
        {1036, L"French", {L"fr\\setup.exe", L"fr\\lp.cab"}, L"\\fr"},
        {1033, L"English", {L"en\\setup.exe"}, L"\\en"},
        // British English is not listed; its language name is that of 1033.
        {2057, L"English", {L"en\\setup.exe"}, L"\\en"},
        {2057, L"ENGLISH", {L"en\\setup.exe"}, L"\\en"},
        // Swiss French: neither locale listed, but French is.
        {4108, L"French", {L"fr\\setup.exe", L"fr\\lp.cab"}, L"\\fr"},
        // German matches nothing: only the prerequisite without a language.
        {1031, L"German", {L"common\\vc.exe"}, L""},
    };
    for (const Case& c : cases) {
        DescriptionInputs in = web_inputs();
        in.userLcid = c.lcid;
        in.userLanguageName = c.languageName;
        DescriptionState state;
        state.totalSteps = 5;
        state.prerequisitesSetupFolder = L"unchanged";
        xml::CXmlDocument doc;
        doc.SetDocument(applying(files));
        OperationError error;
        DescriptionFlags flags;
        ASSERT_TRUE(InterpretDescription(doc, in, state, error, flags)) << c.lcid;
        std::vector<std::wstring> locals, urls;
        for (const auto& name : c.kept) {
            locals.push_back(kCache + L"\\" + name);
            urls.push_back(url_join(L"http://example.test/dist/en/2.0", name));
        }
        EXPECT_EQ(state.prerequisites.localPaths, locals) << c.lcid;
        EXPECT_EQ(state.prerequisites.digests.size(), c.kept.size()) << c.lcid;
        EXPECT_EQ(state.prerequisites.urls, urls) << c.lcid;
        // The language list keeps every listed entry.
        EXPECT_EQ(state.prerequisites.languages, (std::vector<LCID>{0, 1033, 1036, 1036})) << c.lcid;
        EXPECT_EQ(state.prerequisitesSetupFolder, c.setupFolder.empty() ? L"unchanged" : c.setupFolder)
            << c.lcid;
        EXPECT_EQ(state.totalSteps, 5 + std::int32_t(c.kept.size()) + 1) << c.lcid;
    }
}

TEST(DescriptionPrerequisites, DigestsFollowTheKeptEntries) {
    DescriptionInputs in = web_inputs();
    in.userLcid = 1036;
    const Outcome run =
        interpret(applying(L"<files>"
                           L"<file prerequisite=\"true\" language=\"1033\" hash=\"h1\">en\\a.exe</file>"
                           L"<file prerequisite=\"true\" language=\"1036\" hash=\"h2\">fr\\a.exe</file>"
                           L"</files>"),
                  in);
    ASSERT_TRUE(run.ok);
    EXPECT_EQ(run.state.prerequisites.digests, std::vector<std::wstring>{L"h2"});
    ASSERT_EQ(run.state.prerequisites.urls.size(), 1u);
    EXPECT_EQ(run.state.prerequisites.urls[0], url_join(L"http://example.test/dist/en/2.0", L"fr\\a.exe"));
}

TEST(DescriptionPrerequisites, ListWithoutLanguagesKeepsEverythingAndFindsTheSetup) {
    struct Case {
        const wchar_t* files;
        std::wstring setupFolder;
        size_t kept;
    };
    const Case cases[] = {
        {L"<file prerequisite=\"true\">setup.exe</file><file prerequisite=\"true\">a.cab</file>", L"", 2},
        {L"<file prerequisite=\"true\">a.cab</file><file prerequisite=\"true\">pre/Setup.EXE</file>",
         L"\\pre", 2},
        {L"<file prerequisite=\"true\">x\\setup.exe.deploy</file><file "
         L"prerequisite=\"true\">y\\setup.exe</file>",
         L"\\x", 2},
        {L"<file prerequisite=\"true\">setup.exe.config</file>", L"unchanged", 1},
        {L"<file>pkg\\setup.exe</file>", L"unchanged", 0},
    };
    for (const Case& c : cases) {
        DescriptionState state;
        state.prerequisitesSetupFolder = L"unchanged";
        xml::CXmlDocument doc;
        doc.SetDocument(applying(std::wstring(L"<files>") + c.files + L"</files>"));
        OperationError error;
        DescriptionFlags flags;
        ASSERT_TRUE(InterpretDescription(doc, web_inputs(), state, error, flags)) << c.files;
        EXPECT_EQ(state.prerequisites.localPaths.size(), c.kept) << c.files;
        EXPECT_EQ(state.prerequisitesSetupFolder, c.setupFolder) << c.files;
        // Package files count one step each; a prerequisite list adds its
        // files plus one for the setup run.
        const std::int32_t packageFiles = std::int32_t(state.files.localPaths.size());
        EXPECT_EQ(state.totalSteps, packageFiles + (c.kept ? std::int32_t(c.kept) + 1 : 0)) << c.files;
    }
}

TEST(DescriptionPreferences, ReadOnlyAfterFilesAndInTheirOrder) {
    const DescriptionPreferences defaults;
    struct Case {
        const wchar_t* label;
        std::wstring body;
        std::function<void(DescriptionPreferences&)> expect;  // changes from the defaults
    };
    const std::wstring all =
        L"<preferences><showInstallUI>false</showInstallUI><showUninstallUI>true</showUninstallUI>"
        L"<showRunningApplicationsWarning>false</showRunningApplicationsWarning>"
        L"<loadCAInDownloader>true</loadCAInDownloader><loadCAInUpdater>true</loadCAInUpdater>"
        L"<loadCAInUpdaterService>true</loadCAInUpdaterService>"
        L"<enableAutomaticUpdates>TRUE</enableAutomaticUpdates></preferences>";
    const Case cases[] = {
        {L"none", L"<files/>", [](DescriptionPreferences&) {}},
        {L"all set", L"<files/>" + all,
         [](DescriptionPreferences& p) {
             p.showInstallUI = false;
             p.showUninstallUI = true;
             p.showRunningApplicationsWarning = false;
             p.loadCAInDownloader = p.loadCAInUpdater = p.loadCAInUpdaterService = true;
             p.enableAutomaticUpdates = true;
         }},
        {L"before files", all + L"<files/>", [](DescriptionPreferences&) {}},
        {L"values that change nothing",
         L"<files/><preferences><showInstallUI>true</showInstallUI><showUninstallUI>false</showUninstallUI>"
         L"<loadCAInDownloader>yes</loadCAInDownloader><enableAutomaticUpdates>1</enableAutomaticUpdates>"
         L"</preferences>",
         [](DescriptionPreferences&) {}},
        {L"out of order: an element before one found is not seen",
         L"<files/><preferences><enableAutomaticUpdates>true</enableAutomaticUpdates>"
         L"<loadCAInDownloader>true</loadCAInDownloader></preferences>",
         [](DescriptionPreferences& p) { p.loadCAInDownloader = true; }},
        {L"missing elements are skipped",
         L"<files/><preferences><showUninstallUI>True</showUninstallUI>"
         L"<loadCAInUpdaterService>true</loadCAInUpdaterService></preferences>",
         [](DescriptionPreferences& p) {
             p.showUninstallUI = true;
             p.loadCAInUpdaterService = true;
         }},
    };
    auto same = [](const DescriptionPreferences& a, const DescriptionPreferences& b) {
        return a.showInstallUI == b.showInstallUI && a.showUninstallUI == b.showUninstallUI &&
               a.showRunningApplicationsWarning == b.showRunningApplicationsWarning &&
               a.loadCAInDownloader == b.loadCAInDownloader && a.loadCAInUpdater == b.loadCAInUpdater &&
               a.loadCAInUpdaterService == b.loadCAInUpdaterService &&
               a.enableAutomaticUpdates == b.enableAutomaticUpdates;
    };
    for (const Case& c : cases) {
        const Outcome run = interpret(applying(c.body));
        ASSERT_TRUE(run.ok) << c.label << L": " << run.error.text;
        DescriptionPreferences expected = defaults;
        c.expect(expected);
        EXPECT_TRUE(same(run.state.preferences, expected)) << c.label;
        ASSERT_EQ(run.state.products.size(), 1u) << c.label;
        EXPECT_EQ(run.state.products[0].showInstallUI, expected.showInstallUI) << c.label;
        EXPECT_EQ(run.state.products[0].showUninstallUI, expected.showUninstallUI) << c.label;
    }
}

TEST(DescriptionVersion, AttributesOfTheApplyingVersion) {
    struct Case {
        std::wstring attributes;
        bool silent;
        bool bootstrapperUpdate;
        bool runningApplicationsWarning;
    };
    const Case cases[] = {
        {L"", false, false, true},
        {L" updateType=\"bootstrapper\"", false, true, true},
        {L" updateType=\"Bootstrapper\"", false, true, true},
        {L" updateType=\"bootstrapper\"", true, false, true},
        {L" updateType=\"msi\"", false, false, true},
        {L" showRunningApplicationsWarning=\"FALSE\"", false, false, false},
        {L" showRunningApplicationsWarning=\"no\"", false, false, true},
    };
    for (const Case& c : cases) {
        DescriptionInputs in = web_inputs();
        in.silent = c.silent;
        const Outcome run = interpret(applying(L"<files/>", c.attributes), in);
        ASSERT_TRUE(run.ok) << c.attributes;
        EXPECT_EQ(run.flags.bootstrapperUpdate, c.bootstrapperUpdate) << c.attributes;
        EXPECT_EQ(run.state.preferences.showRunningApplicationsWarning, c.runningApplicationsWarning)
            << c.attributes;
    }
    // Only the applying version counts, and once set the flag stays.
    const Outcome other = interpret(
        L"<application><product language=\"en\"><version name=\"1.0\" updateType=\"bootstrapper\""
        L" showRunningApplicationsWarning=\"false\"><files/></version></product>"
        L"<product language=\"de\"><version name=\"2.0\" updateType=\"bootstrapper\"/>"
        L"</product></application>");
    EXPECT_FALSE(other.flags.bootstrapperUpdate);
    EXPECT_TRUE(other.state.preferences.showRunningApplicationsWarning);
    DescriptionFlags before;
    before.bootstrapperUpdate = true;
    EXPECT_TRUE(interpret(applying(L"<files/>"), web_inputs(), before).flags.bootstrapperUpdate);
}

TEST(DescriptionProducts, CurrentAndOlderVersionRecords) {
    const std::wstring text =
        L"<application>"
        L"<product language=\"EN\">"
        L"<version name=\"1.0\" productCode=\"{OLD-1}\" component=\"{C1}\" scope=\"perUser\">"
        L"<preferences><showUninstallUI>true</showUninstallUI><showInstallUI>false</showInstallUI></"
        L"preferences>"
        L"</version>"
        L"<version name=\"2.0\" productCode=\"{IGNORED}\" component=\"{C2}\" scope=\"perMachine\"><files/>"
        L"<preferences><showInstallUI>false</showInstallUI></preferences></version>"
        L"<version productCode=\"{OLD-NONAME-SAME-LANGUAGE}\"/>"
        L"<version name=\"0.9\"/>"
        L"</product>"
        L"<product language=\"de\">"
        L"<version name=\"1.5\" productCode=\"{OLD-DE}\" component=\"{C3}\" scope=\"perMachine\"/>"
        L"<version productCode=\"{NO-NAME}\"/>"
        L"<version name=\"2.0\" productCode=\"{old-1}\"/>"
        L"<version name=\"2.0\" productCode=\"{11111111-2222-3333-4444-555555555555}\"/>"
        L"</product>"
        L"<product language=\"en\"><version name=\"2.0\" component=\"{C2b}\"><files msi=\"again\"/></version>"
        L"</product>"
        L"</application>";
    const Outcome run = interpret(text);
    ASSERT_TRUE(run.ok) << run.error.text;
    struct Expected {
        const wchar_t* code;
        const wchar_t* name;
        const wchar_t* language;
        const wchar_t* component;
        const wchar_t* scope;
        bool install;
        bool uninstall;
    };
    const Expected expected[] = {
        {L"{OLD-1}", L"1.0", L"EN", L"{C1}", L"perUser", false, true},
        {L"{11111111-2222-3333-4444-555555555555}", L"2.0", L"EN", L"{C2}", L"perMachine", false, false},
        {L"{OLD-NONAME-SAME-LANGUAGE}", L"", L"EN", L"", L"", true, false},
        {L"{OLD-DE}", L"1.5", L"de", L"{C3}", L"perMachine", true, false},
    };
    ASSERT_EQ(run.state.products.size(), std::size(expected));
    for (size_t i = 0; i < std::size(expected); ++i) {
        const ProductRecord& p = run.state.products[i];
        const Expected& e = expected[i];
        EXPECT_EQ(p.productCode, e.code) << i;
        EXPECT_EQ(p.name, e.name) << i;
        EXPECT_EQ(p.language, e.language) << i;
        EXPECT_EQ(p.component, e.component) << i;
        EXPECT_EQ(p.scope, e.scope) << i;
        EXPECT_EQ(p.showInstallUI, e.install) << i;
        EXPECT_EQ(p.showUninstallUI, e.uninstall) << i;
        EXPECT_EQ(p.installLocation, L"") << i;
        EXPECT_EQ(p.folderAtom, 0) << i;
    }
    // The product listed a second time was read again but gave no record.
    EXPECT_EQ(run.state.packageFileName, L"again.msi");
}

TEST(DescriptionProducts, NoApplyingProductIsNotAFailure) {
    const std::pair<const wchar_t*, std::wstring> cases[] = {
        {L"application without products", L"<application/>"},
        {L"other language only",
         L"<application><product language=\"fr\"><version name=\"2.0\"/></product></application>"},
        {L"other version only",
         L"<application><product language=\"en\"><version "
         L"name=\"3.0\"><files/></version></product></application>"},
    };
    for (auto& [label, text] : cases) {
        const Outcome run = interpret(text);
        EXPECT_TRUE(run.ok) << label;
        EXPECT_TRUE(run.state.products.empty()) << label;
        EXPECT_TRUE(run.state.files.urls.empty()) << label;
        EXPECT_EQ(run.state.packageFileName, L"") << label;
    }
}

std::wstring upper(std::wstring text) {
    for (wchar_t& c : text) c = static_cast<wchar_t>(towupper(c));
    return text;
}

// A program file: some bytes, the key marker with its digits, more bytes.
std::string program_bytes(const std::string& keyDigits, char tail = 'z') {
    return std::string("MZ\x90\0head", 8) + kSecurityKeyMarker + keyDigits + "tail" + tail;
}

TEST(DescriptionIntegrity, ProgramDigestIgnoresOnlyTheKeyDigits) {
    TempDir dir(L"qrdesc");
    const std::wstring zeroed = dir / L"zeroed.exe";
    ASSERT_TRUE(write_file(zeroed, program_bytes(kZeroKey)));
    // The plain MD5 of the file whose key is all "0" is the digest of every
    // copy that differs only in its key digits.
    const std::wstring expected = file_digest(zeroed);
    ASSERT_EQ(expected.size(), 32u);
    const std::string keyed = program_bytes("0123456789abcdefABCDEF0123456789abcdef01");
    EXPECT_EQ(program_digest_of(keyed), expected);
    EXPECT_EQ(program_digest_of(program_bytes(kZeroKey)), expected);
    EXPECT_NE(program_digest_of(program_bytes(kZeroKey, 'y')), expected);
    // Digits that are not hexadecimal are no key: they count as they are.
    EXPECT_NE(program_digest_of(program_bytes("0123456789abcdefABCDEF0123456789abcdef0g")), expected);
    // Every key slot is skipped, and a marker cut off at the end is not one.
    const std::string twice = keyed + keyed;
    ASSERT_TRUE(write_file(zeroed, program_bytes(kZeroKey) + program_bytes(kZeroKey)));
    EXPECT_EQ(program_digest_of(twice), file_digest(zeroed));
    const std::string cut = std::string("x") + kSecurityKeyMarker + "0123";
    ASSERT_TRUE(write_file(zeroed, cut));
    EXPECT_EQ(program_digest_of(cut), file_digest(zeroed));
    // The empty program has the digest of no bytes (md5sum of nothing).
    EXPECT_EQ(program_digest_of(""), L"d41d8cd98f00b204e9800998ecf8427e");
}

TEST(DescriptionIntegrity, ListedDigestIsCheckedAgainstTheProgram) {
    const std::wstring mismatch =
        L"The downloader program does not match 'version_info.xml' (its digest differs); download the setup "
        L"program again.";
    TempDir dir(L"qrdesc");
    const std::wstring zeroed = dir / L"zeroed.exe";
    const std::wstring keyed = dir / L"keyed.exe";
    const std::wstring changed = dir / L"changed.exe";
    ASSERT_TRUE(write_file(zeroed, program_bytes(kZeroKey)));
    ASSERT_TRUE(write_file(keyed, program_bytes("fedcba9876543210fedcba9876543210fedcba98")));
    ASSERT_TRUE(write_file(changed, program_bytes(kZeroKey, 'y')));
    const std::wstring digest = file_digest(zeroed);
    struct Case {
        const wchar_t* label;
        std::wstring hash;
        std::wstring program;
        bool ok;
        std::wstring error;
        DWORD code;
    };
    const Case cases[] = {
        {L"empty hash: no check, not even a read", L"", dir / L"missing.exe", true, L"", 0},
        {L"right digest, key all zero", digest, zeroed, true, L"", 0},
        {L"right digest, key set", digest, keyed, true, L"", 0},
        {L"right digest in upper case", upper(digest), keyed, true, L"", 0},
        {L"one byte changed", digest, changed, false, mismatch, ERROR_INVALID_DATA},
        {L"not a digest at all", L"xyz", zeroed, false, mismatch, ERROR_INVALID_DATA},
        {L"unreadable program", digest, dir / L"missing.exe", false,
         L"The downloader program cannot be read to check it against 'version_info.xml'. Error: 2.",
         ERROR_FILE_NOT_FOUND},
    };
    for (const Case& c : cases) {
        DescriptionInputs in = web_inputs();
        in.programFile = c.program;
        const Outcome run =
            interpret(applying(L"<files msi=\"p\" hash=\"" + c.hash + L"\"><file>a.cab</file></files>"), in);
        EXPECT_EQ(run.ok, c.ok) << c.label;
        EXPECT_EQ(run.error.text, c.error) << c.label;
        EXPECT_EQ(run.error.code, c.code) << c.label;
        // A refused program reads no file of the description.
        EXPECT_EQ(run.state.files.urls.size(), c.ok ? 1u : 0u) << c.label;
    }
    // A program file held open without sharing cannot be read either.
    HANDLE held = CreateFileW(zeroed.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    DescriptionInputs in = web_inputs();
    in.programFile = zeroed;
    const Outcome run = interpret(applying(L"<files hash=\"" + digest + L"\"/>"), in);
    CloseHandle(held);
    EXPECT_FALSE(run.ok);
    EXPECT_EQ(run.error.code, DWORD(ERROR_SHARING_VIOLATION)) << run.error.text;
}

// Without a program named the check reads this test program's own file; its
// key digits are all "0", so its plain MD5 is the digest to list.
TEST(DescriptionIntegrity, OwnProgramFileByDefault) {
    const std::wstring own = module_path();
    ASSERT_FALSE(own.empty());
    ASSERT_TRUE(security_key_is_empty());
    const std::wstring digest = file_digest(own);
    ASSERT_EQ(digest.size(), 32u);
    Outcome run =
        interpret(applying(L"<files msi=\"p\" hash=\"" + digest + L"\"><file>a.cab</file></files>"));
    EXPECT_TRUE(run.ok) << run.error.text;
    std::wstring wrong = digest;
    wrong[0] = wrong[0] == L'0' ? L'1' : L'0';
    run = interpret(applying(L"<files msi=\"p\" hash=\"" + wrong + L"\"><file>a.cab</file></files>"));
    EXPECT_FALSE(run.ok);
    EXPECT_EQ(run.error.code, DWORD(ERROR_INVALID_DATA));
}

TEST(DescriptionSignature, SignatureElementDecidesTheSignedFlagAndCertificate) {
    const std::wstring certificate =
        L"<Signature><SignedInfo/><KeyInfo><X509Data><X509Certificate>abc"
        L"</X509Certificate></X509Data></KeyInfo></Signature>";
    const std::wstring product =
        L"<product language=\"en\"><version "
        L"name=\"2.0\"><files><file>a.cab</file></files></version></product>";
    struct Case {
        const wchar_t* label;
        std::wstring text;
        bool startSigned;
        bool isSigned;
        std::wstring certificate;
    };
    const Case cases[] = {
        {L"no signature", L"<application>" + product + L"</application>", false, false, L""},
        {L"empty signature", L"<application><Signature/>" + product + L"</application>", false, false, L""},
        {L"empty signature clears", L"<application><Signature></Signature>" + product + L"</application>",
         true, false, L""},
        {L"missing signature keeps the flag", L"<application>" + product + L"</application>", true, true,
         L""},
        {L"signature with content", L"<application>" + certificate + product + L"</application>", false, true,
         L"abc"},
        {L"signature after the products", L"<application>" + product + certificate + L"</application>", false,
         true, L"abc"},
        {L"signature without certificate",
         L"<application><Signature><KeyInfo><KeyName>k</KeyName></KeyInfo></Signature>" + product +
             L"</application>",
         false, true, L""},
    };
    for (const Case& c : cases) {
        DescriptionFlags flags;
        flags.signedDescription = c.startSigned;
        // A key the certificate "abc" matches: only the signature check refuses.
        DescriptionInputs in = web_inputs();
        in.securityKeyDigits = kAbcKey;
        const Outcome run = interpret(c.text, in, flags);
        EXPECT_EQ(run.flags.signedDescription, c.isSigned) << c.label;
        EXPECT_EQ(run.state.certificateText, c.certificate) << c.label;
        EXPECT_FALSE(run.ok) << c.label;
        EXPECT_TRUE(run.state.files.urls.empty()) << c.label;
    }
    // With no key an unsigned description is read in full, with the same
    // elements that followed a signature.
    const Outcome unsigned_run = interpret(L"<application><Signature/>" + product + L"</application>");
    ASSERT_TRUE(unsigned_run.ok) << unsigned_run.error.text;
    EXPECT_EQ(unsigned_run.state.files.urls.size(), 1u);
}

// Signed descriptions are verified against real signatures in signature_test.
TEST(DescriptionAcceptance, InterimRule) {
    const std::wstring mismatch =
        L"Security error: The security key doesn't match the signature of 'version_info.xml'.";
    struct Case {
        const wchar_t* label;
        bool isSigned;
        std::wstring certificate;
        std::string key;
        bool accepted;
        std::wstring error;
    };
    const Case cases[] = {
        {L"unsigned, no key", false, L"", kZeroKey, true, L""},
        {L"unsigned, no key, stray certificate", false, L"abc", kZeroKey, true, L""},
        {L"unsigned, key set", false, L"", kAbcKey, false, mismatch},
        {L"unsigned, key of the empty text", false, L"", "da39a3ee5e6b4b0d3255bfef95601890afd80709", false,
         mismatch},
        {L"unsigned, key matching a stray certificate", false, L"abc", kAbcKey, false, mismatch},
    };
    for (const Case& c : cases) {
        OperationError error;
        error.code = 1234;
        EXPECT_EQ(AcceptDescription(c.isSigned, c.certificate, kCache + L"\\version_info.xml", c.key, error),
                  c.accepted)
            << c.label;
        EXPECT_EQ(error.text, c.error) << c.label;
        EXPECT_EQ(error.code, 1234u) << c.label;
    }
    // Through the reader: the refusal stops it before any product is read.
    DescriptionInputs in = web_inputs();
    in.securityKeyDigits = kAbcKey;
    const Outcome run = interpret(applying(L"<files><file>a.cab</file></files>"), in);
    EXPECT_FALSE(run.ok);
    EXPECT_EQ(run.error.text, mismatch);
    EXPECT_TRUE(run.state.products.empty());
}

TEST(DescriptionAcceptance, CertificateDigestComparesWithoutCase) {
    const std::pair<const char*, bool> cases[] = {
        {"a9993e364706816aba3e25717850c26c9cd0d89d", true},
        {"A9993E364706816ABA3E25717850C26C9CD0D89D", true},
        {"a9993e364706816aba3e25717850c26c9cd0d89e", false},
        {"a9993e364706816aba3e25717850c26c9cd0d89", false},
        {"", false},
    };
    for (auto& [key, matches] : cases) EXPECT_EQ(certificate_matches_key(L"abc", key), matches) << key;
    EXPECT_FALSE(certificate_matches_key(L"abd", "a9993e364706816aba3e25717850c26c9cd0d89d"));
}

}  // namespace
