// Loading and saving through the Win32 seam, and the portable UTF-8
// conversion against the system's.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <random>

#include "test_support.h"
#include "utf8.h"
#include "xml_document.h"
#include "xml_io.h"

using namespace xml;
using testing_support::read_file;
using testing_support::TempDir;
using testing_support::write_file;

namespace {

TEST(XmlFile, LoadStatusAndParse) {
    TempDir dir(L"xmlload");
    const struct {
        std::string bytes;
        const wchar_t* error_after_parse;
        std::wstring text;
    } cases[] = {
        {"<a>\xC3\xA9</a>", L"9 bytes to 8 wide chars", L"<a>\x00E9</a>"},
        {"\xEF\xBB\xBF<a/>", L"7 bytes to 5 wide chars", L"\xFEFF<a/>"},
        {"<a>\xFF\xC3(</a>", L"10 bytes to 10 wide chars", L"<a>\xFFFD\xFFFD(</a>"},
        {"<a><b></a>",
         L"10 bytes to 10 wide chars, End tag 'a' at offset 7 does not match start tag 'b' at offset 3",
         L"<a><b></a>"},
        {"", L"0 bytes to 0 wide chars, Empty document", L""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.bytes);
        const std::wstring path = dir / L"in.xml";
        ASSERT_TRUE(write_file(path, c.bytes));
        CXmlDocument doc;
        doc.SetDocument(L"<old><x/></old>");
        doc.SetFlags(kIgnoreNameCase);
        ASSERT_TRUE(doc.LoadFile(path));
        EXPECT_EQ(doc.Text(), c.text);
        EXPECT_EQ(doc.RecordCount(), 1u);  // the old index is gone until the parse
        EXPECT_FALSE(doc.FindElement());
        doc.Parse();
        EXPECT_EQ(doc.ErrorText(), c.error_after_parse);
        doc.Parse();  // parsing again does not repeat the parse error
        EXPECT_EQ(doc.ErrorText(), c.error_after_parse);
    }
}

TEST(XmlFile, LoadMissingFile) {
    TempDir dir(L"xmlmissing");
    CXmlDocument doc;
    doc.SetDocument(L"<a/>");
    EXPECT_FALSE(doc.LoadFile(dir / L"absent.xml"));
    EXPECT_EQ(doc.ErrorText(), L"No such file or directory");
    EXPECT_EQ(doc.Text(), L"");
    EXPECT_FALSE(doc.FindElement());
    EXPECT_FALSE(doc.LoadFile(dir / L"no\\such\\folder\\a.xml"));
    EXPECT_EQ(doc.ErrorText(), L"No such file or directory");
}

TEST(XmlFile, Save) {
    TempDir dir(L"xmlsave");
    const struct {
        std::wstring text;
        std::string bytes;
        const wchar_t* status;
    } cases[] = {
        {L"<a>12</a>.", "<a>12</a>.", L"10 wide chars to 10 bytes"},
        {L"", "", L"0 wide chars to 0 bytes"},
        {L"<a>\x00E9\x20AC</a>", "<a>\xC3\xA9\xE2\x82\xAC</a>", L"9 wide chars to 12 bytes"},
        {std::wstring(L"<a>") + wchar_t(0xD83D) + wchar_t(0xDE00) + L"</a>", "<a>\xF0\x9F\x98\x80</a>",
         L"9 wide chars to 11 bytes"},
        {std::wstring(L"<a>") + wchar_t(0xDC00) + L"</a>", "<a>\xEF\xBF\xBD</a>",
         L"8 wide chars to 10 bytes"},
    };
    for (const auto& c : cases) {
        const std::wstring path = dir / L"out.xml";
        write_file(path, "previous longer content that must go");
        CXmlDocument doc;
        doc.SetDocument(c.text);
        ASSERT_TRUE(doc.SaveFile(path));
        EXPECT_EQ(doc.SaveStatus(), c.status);
        EXPECT_EQ(read_file(path), c.bytes);
    }
    CXmlDocument doc;
    doc.SetDocument(L"<a/>");
    EXPECT_FALSE(doc.SaveFile(dir / L"no\\such\\folder\\out.xml"));
    EXPECT_EQ(doc.SaveStatus(), L"No such file or directory");
    EXPECT_EQ(doc.ErrorText(), L"");
}

TEST(XmlFile, EditAndSaveRoundTrip) {
    TempDir dir(L"xmlround");
    const std::wstring path = dir / L"nvx.manifest";
    ASSERT_TRUE(
        write_file(path, "<Configuration>\r\n  <msi>\r\n    <id/>\r\n  </msi>\r\n</Configuration>\r\n"));
    CXmlDocument doc;
    doc.SetFlags(kIgnoreNameCase);
    ASSERT_TRUE(doc.LoadFile(path));
    ASSERT_TRUE(doc.Parse());
    ASSERT_TRUE(doc.FindElement(L"configuration"));
    ASSERT_TRUE(doc.IntoElement());
    ASSERT_TRUE(doc.FindElement(L"msi"));
    ASSERT_TRUE(doc.IntoElement());
    ASSERT_TRUE(doc.FindElement(L"id"));
    ASSERT_TRUE(doc.SetElementContent(L"{1}"));
    ASSERT_TRUE(doc.AddElement(L"silent"));
    ASSERT_TRUE(doc.SetElementContent(L"true"));
    ASSERT_TRUE(doc.SaveFile(path));
    EXPECT_EQ(read_file(path),
              "<Configuration>\r\n  <msi>\r\n    <id>{1}</id>\r\n  <silent>true</silent>\r\n</msi>\r\n"
              "</Configuration>\r\n");
}

// The portable conversion used by native builds must replace invalid input
// exactly as the system does.
std::wstring SystemDecode(const std::string& bytes) {
    if (bytes.empty()) return {};
    const int n = MultiByteToWideChar(CP_UTF8, 0, bytes.data(), static_cast<int>(bytes.size()), nullptr, 0);
    std::wstring out(static_cast<std::size_t>(n), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, bytes.data(), static_cast<int>(bytes.size()), out.data(), n);
    return out;
}

std::string SystemEncode(const std::wstring& text) {
    if (text.empty()) return {};
    const int size = static_cast<int>(text.size());
    const int n = WideCharToMultiByte(CP_UTF8, 0, text.data(), size, nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<std::size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), size, out.data(), n, nullptr, nullptr);
    return out;
}

std::string Units(const std::wstring& text) {
    std::string out;
    char unit[8];
    for (wchar_t c : text) {
        std::snprintf(unit, sizeof unit, "%04X ", static_cast<unsigned>(c));
        out += unit;
    }
    return out;
}

std::string Hex(const std::string& bytes) {
    static const char digits[] = "0123456789ABCDEF";
    std::string out;
    for (unsigned char b : bytes) {
        out += digits[b >> 4];
        out += digits[b & 15];
        out += ' ';
    }
    return out;
}

// Wine's MultiByteToWideChar turns everything from a lead byte to the end of
// the input into one U+FFFD when the input ends before the sequence would
// ("E0 41" gives only U+FFFD), dropping ASCII characters. The portable
// decoder keeps them, so the comparison pads every input with three ASCII
// bytes; the end-of-input case is checked on its own below.
const char kPad[] = "AAA";

TEST(XmlUtf8, PortableDecodeMatchesTheSystem) {
    // Every sequence of up to four bytes drawn from the boundary values of
    // each byte class.
    const unsigned char values[] = {0x00, 0x41, 0x7F, 0x80, 0x8F, 0x90, 0x9F, 0xA0, 0xBF,
                                    0xC0, 0xC1, 0xC2, 0xDF, 0xE0, 0xE1, 0xEC, 0xED, 0xEE,
                                    0xEF, 0xF0, 0xF1, 0xF3, 0xF4, 0xF5, 0xF8, 0xFE, 0xFF};
    const std::size_t n = std::size(values);
    int failures = 0;
    auto compare = [&](const std::string& bytes) {
        if (utf8::Decode(bytes) == SystemDecode(bytes)) return;
        ADD_FAILURE() << Hex(bytes) << "-> " << Units(utf8::Decode(bytes)) << "system "
                      << Units(SystemDecode(bytes));
        ++failures;
    };
    for (std::size_t length = 1; length <= 4 && failures < 10; ++length) {
        std::size_t total = 1;
        for (std::size_t i = 0; i < length; ++i) total *= n;
        for (std::size_t index = 0; index < total && failures < 10; ++index) {
            std::string bytes = "<";
            for (std::size_t i = 0, k = index; i < length; ++i, k /= n)
                bytes += static_cast<char>(values[k % n]);
            compare(bytes + kPad);
        }
    }
    // Longer random runs, biased towards bytes above 0x7F.
    std::mt19937 rng(65001);
    for (int i = 0; i < 20000 && failures < 10; ++i) {
        std::string bytes(1 + rng() % 12, '\0');
        for (char& b : bytes) b = static_cast<char>(rng() % 4 ? 0x80 + rng() % 0x80 : rng() % 0x80);
        compare(bytes + kPad);
    }
    // Sequences cut short by the end of the input: one U+FFFD, as the system.
    for (const char* cut : {"\xE2\x82", "\xF0\x90\x80", "\xC3", "\xF4"}) compare(std::string("x") + cut);
    EXPECT_EQ(io::Utf8ToUtf16("\xF0\x9F\x98\x80"), (std::wstring{wchar_t(0xD83D), wchar_t(0xDE00)}));
}

TEST(XmlUtf8, PortableDecodeKeepsAsciiAfterACutSequence) {
    EXPECT_EQ(utf8::Decode("<\xE0>"), (std::wstring{L'<', wchar_t(0xFFFD), L'>'}));
    EXPECT_EQ(utf8::Decode("\xF4\x90"
                           "A"),
              (std::wstring{wchar_t(0xFFFD), L'A'}));
}

TEST(XmlUtf8, PortableEncodeMatchesTheSystem) {
    std::mt19937 rng(1200);
    const wchar_t units[] = {0x0041, 0x007F, 0x0080, 0x07FF, 0x0800, 0xD7FF, 0xD800, 0xDBFF,
                             0xDC00, 0xDFFF, 0xE000, 0xFEFF, 0xFFFD, 0xFFFF, 0x00E9};
    for (int i = 0; i < 20000; ++i) {
        std::wstring text(1 + rng() % 8, L'\0');
        for (wchar_t& c : text) c = units[rng() % std::size(units)];
        ASSERT_EQ(Hex(utf8::Encode(text)), Hex(SystemEncode(text))) << i;
    }
}

}  // namespace
