#include <gtest/gtest.h>

#include <windows.h>

#include <map>
#include <string>
#include <vector>

#include "describer.h"
#include "description.h"
#include "digest.h"
#include "security_key.h"
#include "test_support.h"
#include "text.h"
#include "xml_document.h"

using namespace testing_support;

namespace {

// ---- names ----------------------------------------------------------------------

TEST(ListedNames, TheDownloadersRulesAndWhatWouldNotReadBack) {
    const std::pair<const wchar_t*, bool> cases[] = {
        {L"readme.txt", true},
        {L"bin\\sample.dat", true},
        {L"updater\\updater.config", true},
        {L"settings.config.deploy", true},
        {L"Gr\u00fc\u00dfe \u6f22\u5b57.txt", true},
        {L"with space.txt", true},
        {L"a&b.txt", false},  // read back as "a&amp;b.txt"
        {L"name.", false},
        {L"name ", false},
        {L"dir.\\x.txt", false},
        {L"nul.txt", false},
        {L"sub\\COM1", false},
        {L"a:b", false},
        {L"..\\x", false},
        {L"\\x", false},
        {L"", false},
    };
    for (auto& [name, fine] : cases) EXPECT_EQ(!listed_name_problem(name).has_value(), fine) << narrow(name);
}

// ---- the program ------------------------------------------------------------------

std::wstring sample_folder() {
    return source_dir() + L"samples\\deployment\\1033\\1.0.0";
}

ProcessResult qrdescribe(const std::wstring& arguments) {
    return run_process(quote(bin_dir() + L"qrdescribe.exe") + L" " + arguments);
}

std::wstring replace_all(std::wstring text, const std::wstring& from, const std::wstring& to) {
    for (size_t at = text.find(from); at != std::wstring::npos; at = text.find(from, at + to.size()))
        text.replace(at, from.size(), to);
    return text;
}

struct ReadBack {
    bool ok = false;
    DescriptionState state;
    OperationError error;
};

// The description as the downloader reads it, for language 1033 version
// 1.0.0 from http://example.test/app.
ReadBack read_back(const std::wstring& path, const std::wstring& program = L"",
                   const std::wstring& language = L"1033", const std::wstring& version = L"1.0.0") {
    DescriptionInputs in;
    in.language = language;
    in.version = version;
    in.productCode = L"{0A1B2C3D-4E5F-4A6B-8C7D-9E0F1A2B3C4D}";
    in.installationUrl = L"http://example.test/app";
    in.sourceKind = kSourceWebAddress;
    in.userLcid = 1033;
    in.userLanguageName = L"English";
    in.cacheFolder = L"C:\\cache";
    in.updaterFolder = L"C:\\updater";
    in.securityKeyDigits = std::string(40, '0');
    in.programFile = program;
    xml::CXmlDocument doc;
    ReadBack out;
    if (!doc.SetDocument(widen(read_file(path)))) {
        out.error.text = L"not well-formed: " + doc.ErrorText();
        return out;
    }
    DescriptionFlags flags;
    out.ok = InterpretDescription(doc, in, out.state, out.error, flags);
    return out;
}

// The bundled sample reads back with the sizes and digests its hand-written
// description lists (taken with md5sum), in a stable order.
TEST(QrDescribe, SampleFolderReadsBackAsTheDownloaderSeesIt) {
    TempDir dir(L"qrdescribe");
    const std::wstring out = dir / L"version_info.xml";
    auto run = qrdescribe(quote(sample_folder()) + L" " + quote(out) +
                          L" --language 1033 --version 1.0.0 --msi SampleProduct.msi.deploy"
                          L" --component {6F1C2A3B-4D5E-4F60-8A7B-9C0D1E2F3A4B} --scope perMachine");
    // The sample has no package file: the package must be listed.
    EXPECT_EQ(run.exit_code, 1u) << run.output;
    EXPECT_NE(run.output.find("SampleProduct.msi.deploy.msi' (--msi) is not among the package files"),
              std::string::npos)
        << run.output;
    EXPECT_FALSE(file_exists(out));

    run = qrdescribe(quote(sample_folder()) + L" " + quote(out) +
                     L" --language 1033 --version 1.0.0 --msi settings.config"
                     L" --component {6F1C2A3B-4D5E-4F60-8A7B-9C0D1E2F3A4B} --scope perMachine");
    ASSERT_EQ(run.exit_code, 1u) << "settings.config.deploy is no .msi: " << run.output;

    // A package file beside the sample's files, in a copy of the folder.
    const std::wstring package = dir / L"package";
    for (const wchar_t* sub : {L"", L"\\bin", L"\\updater"})
        CreateDirectoryW((package + sub).c_str(), nullptr);
    for (const wchar_t* name :
         {L"readme.txt", L"bin\\sample.dat", L"settings.config.deploy", L"updater\\updater.config"})
        ASSERT_TRUE(write_file(package + L"\\" + name, read_file(sample_folder() + L"\\" + name)));
    ASSERT_TRUE(write_file(package + L"\\SampleProduct.msi", "not really a package"));

    run = qrdescribe(quote(package) + L" " + quote(out) +
                     L" --language 1033 --version 1.0.0 --msi SampleProduct"
                     L" --component {6F1C2A3B-4D5E-4F60-8A7B-9C0D1E2F3A4B} --scope perMachine");
    ASSERT_EQ(run.exit_code, 0u) << run.output;
    EXPECT_NE(run.output.find("5 files, 200258 bytes"), std::string::npos) << run.output;

    const std::string bytes = read_file(out);
    EXPECT_EQ(bytes.rfind("<?xml version=\"1.0\" encoding=\"utf-8\"?>", 0), 0u) << "no byte order mark";
    const ReadBack back = read_back(out);
    ASSERT_TRUE(back.ok) << narrow(back.error.text);
    const std::wstring base = L"http://example.test/app/1033/1.0.0/";
    EXPECT_EQ(back.state.files.urls,
              (std::vector<std::wstring>{base + L"bin/sample.dat", base + L"readme.txt",
                                         base + L"SampleProduct.msi", base + L"settings.config.deploy",
                                         base + L"updater/updater.config"}));
    EXPECT_EQ(back.state.files.localPaths,
              (std::vector<std::wstring>{
                  L"C:\\cache\\bin\\sample.dat", L"C:\\cache\\readme.txt", L"C:\\cache\\SampleProduct.msi",
                  L"C:\\cache\\settings.config.deploy", L"C:\\updater\\updater.config"}));
    EXPECT_EQ(
        back.state.files.digests,
        (std::vector<std::wstring>{L"59f09ce54b4dadfa6c21597dd648b626", L"393d5d7b36c73b666890701b24a7c5dd",
                                   // md5sum of "not really a package"
                                   L"9771d058ce3002e252bfb29f9b9947b2", L"fdece8b09cb5bc44079efdd8ca8521d4",
                                   L"5d1641f72a262252782eacce80f2ef34"}));
    EXPECT_EQ(back.state.bytesTotal, 200258u);
    EXPECT_EQ(back.state.packageFileName, L"SampleProduct.msi");
    EXPECT_TRUE(back.state.downloaderDigest.empty());
    ASSERT_EQ(back.state.products.size(), 1u);
    EXPECT_EQ(back.state.products[0].component, L"{6F1C2A3B-4D5E-4F60-8A7B-9C0D1E2F3A4B}");
    EXPECT_EQ(back.state.products[0].scope, L"perMachine");

    // Another language or version finds nothing to install.
    EXPECT_TRUE(read_back(out, L"", L"1031").state.files.urls.empty());
    EXPECT_TRUE(read_back(out, L"", L"1033", L"1.0.1").state.files.urls.empty());

    // The same folder gives the same bytes again.
    const std::wstring again = dir / L"again.xml";
    run = qrdescribe(quote(package) + L" " + quote(again) +
                     L" --language 1033 --version 1.0.0 --msi SampleProduct"
                     L" --component {6F1C2A3B-4D5E-4F60-8A7B-9C0D1E2F3A4B} --scope perMachine");
    ASSERT_EQ(run.exit_code, 0u) << run.output;
    EXPECT_EQ(read_file(again), bytes);
}

// Prerequisites with their languages, action files, names in other scripts
// and forward slashes on the command line.
TEST(QrDescribe, MarksReachTheDownloadersLists) {
    TempDir dir(L"qrdescribe");
    const std::wstring package = dir / L"package";
    for (const wchar_t* sub : {L"", L"\\prereq", L"\\prereq\\fr", L"\\actions", L"\\updater"})
        CreateDirectoryW((package + sub).c_str(), nullptr);
    const wchar_t* names[] = {L"Product.msi",        L"prereq\\setup.exe",      L"prereq\\fr\\setup.exe",
                              L"prereq\\common.cab", L"actions\\Extension.dll", L"updater\\Updater.exe",
                              L"Gr\u00fc\u00dfe.txt"};
    for (const wchar_t* name : names) ASSERT_TRUE(write_file(package + L"\\" + name, narrow(name)));
    const std::wstring out = dir / L"version_info.xml";
    auto run =
        qrdescribe(quote(package) + L" " + quote(out) +
                   L" --language 1033 --version 2.0 --msi Product.msi --prerequisite prereq\\setup.exe:1033"
                   L" --prerequisite prereq/fr/setup.exe:1036 --prerequisite prereq\\common.cab"
                   L" --action actions/Extension.dll");
    ASSERT_EQ(run.exit_code, 0u) << run.output;
    const ReadBack back = read_back(out, L"", L"1033", L"2.0");
    ASSERT_TRUE(back.ok) << narrow(back.error.text);
    // The user's language (1033) is kept; the rest of the list is dropped.
    EXPECT_EQ(back.state.prerequisites.localPaths,
              std::vector<std::wstring>{L"C:\\cache\\prereq\\setup.exe"});
    EXPECT_EQ(back.state.prerequisites.languages, (std::vector<LCID>{0, 1036, 1033}));  // sorted by name
    EXPECT_EQ(back.state.prerequisites.digests,
              std::vector<std::wstring>{file_digest(package + L"\\prereq\\setup.exe")});
    EXPECT_EQ(back.state.prerequisitesSetupFolder, L"\\prereq");  // as the downloader cuts it
    EXPECT_EQ(back.state.actionFiles, std::vector<std::wstring>{L"actions\\Extension.dll"});
    EXPECT_EQ(
        back.state.files.localPaths,
        (std::vector<std::wstring>{L"C:\\cache\\actions\\Extension.dll", L"C:\\cache\\Gr\u00fc\u00dfe.txt",
                                   L"C:\\cache\\Product.msi", L"C:\\updater\\Updater.exe"}));
    EXPECT_EQ(back.state.files.digests[1], file_digest(package + L"\\Gr\u00fc\u00dfe.txt"));
}

// --downloader lists the digest that survives stamping the key: a keyed
// copy of the program passes the downloader's check, a changed one fails.
TEST(QrDescribe, DownloaderDigestSurvivesTheKey) {
    TempDir dir(L"qrdescribe");
    const std::wstring package = dir / L"package";
    CreateDirectoryW(package.c_str(), nullptr);
    ASSERT_TRUE(write_file(package + L"\\Product.msi", "package"));
    const std::wstring plain = bin_dir() + L"QuillrunDownloader.exe";
    const std::wstring out = dir / L"version_info.xml";
    auto run =
        qrdescribe(quote(package) + L" " + quote(out) +
                   L" --language 1033 --version 1.0.0 --msi Product.msi" + L" --downloader " + quote(plain));
    ASSERT_EQ(run.exit_code, 0u) << run.output;
    // The unstamped program's key is all "0": its plain MD5 is the digest.
    EXPECT_NE(read_file(out).find("hash=\"" + narrow(file_digest(plain)) + "\""), std::string::npos);

    const std::wstring keyed = dir / L"keyed.exe";
    run = run_process(quote(bin_dir() + L"qrstamp.exe") + L" " + quote(plain) + L" " + quote(keyed) +
                      L" --key 0123456789abcdef0123456789abcdef01234567");
    ASSERT_EQ(run.exit_code, 0u) << run.output;
    ASSERT_NE(read_file(keyed), read_file(plain));
    ReadBack back = read_back(out, keyed);
    EXPECT_TRUE(back.ok) << narrow(back.error.text);
    EXPECT_EQ(back.state.files.urls.size(), 1u);

    std::string changed = read_file(keyed);
    changed[changed.size() / 2] ^= 1;
    ASSERT_TRUE(write_file(dir / L"changed.exe", changed));
    back = read_back(out, dir / L"changed.exe");
    EXPECT_FALSE(back.ok);
    EXPECT_EQ(
        back.error.text,
        L"The downloader program does not match 'version_info.xml' (its digest differs); download the setup "
        L"program again.");
}

// Every refusal names its cause, exits non-zero and writes nothing: the
// output folder is as it was, an existing output keeps its bytes.
TEST(QrDescribe, RefusalsWriteNothing) {
    const std::wstring common = L" --language 1033 --version 1.0.0 --msi Product.msi";
    const struct {
        std::wstring arguments;  // {pkg}, {out}, {dir} are replaced
        DWORD exit_code;
        const char* message;
    } cases[] = {
        {L"{dir}missing {out}" + common, 1, "qrdescribe: cannot open the package folder"},
        {L"{dir}notes.txt {out}" + common, 1, "notes.txt' is not a folder"},
        {L"{dir}empty {out}" + common, 1, "empty' holds no files"},
        {L"{dir}amp {out}" + common, 1, "the file 'a&b.txt' cannot be listed: '&' cannot be listed"},
        {L"{dir}hollow {out}" + common, 1,
         "the file 'Product.msi' is empty; the downloader cannot check an empty file"},
        {L"{pkg} {pkg}\\version_info.xml" + common, 1, "is inside the package folder"},
        {L"{pkg} {pkg}\\sub\\..\\version_info.xml" + common, 1, "is inside the package folder"},
        {L"{pkg} {out} --language 1033 --version 1.0.0 --msi Other", 1,
         "the package 'Other.msi' (--msi) is not among the package files"},
        {L"{pkg} {out} --language 1033 --version 1.0.0 --msi updater\\Updater", 1,
         "the package 'updater\\Updater.msi' (--msi) is not among"},
        {L"{pkg} {out} --language en-US --version 1.0.0 --msi Product.msi", 1,
         "--language must be a decimal language id such as 1033, got 'en-US'"},
        {L"{pkg} {out} --language 1033 --version 1.0/beta --msi Product.msi", 1,
         "--version must be usable as a folder name, got '1.0/beta'"},
        {L"{pkg} {out} --language 1033 --version 1.0. --msi Product.msi", 1, "--version must be usable"},
        {L"{pkg} {out} --language 1033 --version 1.0.0", 1, "--msi is required"},
        {L"{pkg} {out} --version 1.0.0 --msi Product.msi", 1, "--language is required"},
        {L"{pkg} {out}" + common + L" --product-code 123", 1, "--product-code must be a GUID in braces"},
        {L"{pkg} {out}" + common + L" --prerequisite setup.exe", 1,
         "--prerequisite 'setup.exe' names no file of the package folder"},
        {L"{pkg} {out}" + common + L" --prerequisite data.cab:english", 1,
         "--prerequisite 'data.cab:english': the language must be a decimal language id"},
        {L"{pkg} {out}" + common + L" --prerequisite data.cab --prerequisite DATA.CAB", 1,
         "--prerequisite 'DATA.CAB' is given twice"},
        {L"{pkg} {out}" + common + L" --prerequisite updater\\Updater.exe", 1,
         "files below updater\\ belong to the updater"},
        {L"{pkg} {out}" + common + L" --action missing.dll", 1, "--action 'missing.dll' names no file"},
        {L"{pkg} {out}" + common + L" --prerequisite data.cab --action data.cab", 1,
         "--action 'data.cab' is a prerequisite"},
        {L"{pkg} {out}" + common + L" --downloader {dir}missing.exe", 1, "cannot open the downloader"},
        {L"{pkg} {out}" + common + L" --downloader {dir}notes.txt", 1,
         "has no single security-key slot; is it the downloader program?"},
        {L"{pkg} {dir}no-such-folder\\version_info.xml" + common, 1, "cannot create a temporary file"},
        {L"{pkg} {out}" + common + L" --force yes", 2, "unknown option '--force'"},
        {L"{pkg} {out}" + common + L" --msi Again.msi", 2, "--msi is given twice"},
        {L"{pkg} {out} --language", 2, "--language needs a value"},
        {L"{pkg}" + common, 2, "give the package folder and the output file"},
    };
    for (const auto& c : cases) {
        TempDir dir(L"qrdescribe");
        const std::wstring pkg = dir / L"pkg";
        for (const wchar_t* sub :
             {L"pkg", L"pkg\\sub", L"pkg\\updater", L"empty", L"empty\\sub", L"amp", L"hollow"})
            CreateDirectoryW((dir / sub).c_str(), nullptr);
        ASSERT_TRUE(write_file(pkg + L"\\Product.msi", "package"));
        ASSERT_TRUE(write_file(pkg + L"\\data.cab", "data"));
        ASSERT_TRUE(write_file(pkg + L"\\updater\\Updater.exe", "updater"));
        ASSERT_TRUE(write_file(dir / L"amp\\Product.msi", "package"));
        ASSERT_TRUE(write_file(dir / L"amp\\a&b.txt", "x"));
        ASSERT_TRUE(write_file(dir / L"hollow\\Product.msi", ""));
        ASSERT_TRUE(write_file(dir / L"notes.txt", "not a program"));
        ASSERT_TRUE(write_file(dir / L"out.xml", "previous output"));
        const auto before = folder_files(dir.path());
        const auto pkgBefore = folder_files(pkg + L"\\");

        std::wstring arguments = replace_all(c.arguments, L"{pkg}", pkg);
        arguments = replace_all(arguments, L"{out}", dir / L"out.xml");
        arguments = replace_all(arguments, L"{dir}", dir.path());
        auto run = qrdescribe(arguments);
        EXPECT_EQ(run.exit_code, c.exit_code) << narrow(arguments) << "\n" << run.output;
        EXPECT_NE(run.output.find(c.message), std::string::npos) << narrow(arguments) << "\n" << run.output;
        EXPECT_EQ(folder_files(dir.path()), before) << narrow(arguments);
        EXPECT_EQ(folder_files(pkg + L"\\"), pkgBefore) << narrow(arguments);
    }
}

}  // namespace
