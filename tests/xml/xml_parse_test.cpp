// Tokenizer, parse errors, index building, navigation and reading.
#include <gtest/gtest.h>

#include "xml_check.h"
#include "xml_document.h"
#include "xml_tokenizer.h"

using namespace xml;
using xml_check::Narrow;

namespace {

struct TokenCase {
    const wchar_t* text;
    int kind;
    std::size_t length;
    const wchar_t* name;  // tags only
    bool empty_element;
};

TEST(XmlTokenizer, NodeKinds) {
    const TokenCase cases[] = {
        {L"abc<a/>", kNodeText, 3, nullptr, false},
        {L" \t\r\n<a/>", kNodeWhitespace, 4, nullptr, false},
        {L" x ", kNodeText, 3, nullptr, false},
        {L"<a>", kNodeElement, 3, L"a", false},
        {L"<a/>", kNodeElement, 4, L"a", true},
        {L"<a />", kNodeElement, 5, L"a", true},
        {L"<a x='1'/>", kNodeElement, 10, L"a", true},
        {L"<a x=\"1\"/>", kNodeElement, 10, L"a", true},
        {L"<a x=1/>", kNodeElement, 8, L"a", false},  // the slash is part of the value
        {L"<a x='>'>rest", kNodeElement, 9, L"a", false},
        {L"<a x=\"/>\">", kNodeElement, 10, L"a", false},
        {L"<a\tb='1'>", kNodeElement, 9, L"a", false},
        {L"<_x/>", kNodeElement, 5, L"_x", true},
        {L"<:x/>", kNodeElement, 5, L":x", true},
        {L"</a>", kNodeEndTag, 4, L"a", false},
        {L"</a  >", kNodeEndTag, 6, L"a", false},
        {L"</a/junk>", kNodeEndTag, 9, L"a", false},
        {L"<![CDATA[ <x> ]]>t", kNodeCData, 17, nullptr, false},
        {L"<?pi a > b?>t", kNodeProcessingInstruction, 12, nullptr, false},
        {L"<!-- a -- > -->t", kNodeComment, 15, nullptr, false},
        {L"<!DOCTYPE a>t", kNodeDoctype, 12, nullptr, false},
        {L"<!DOCTYPE a [<!ELEMENT a (#PCDATA)><!ATTLIST a x CDATA #IMPLIED><!NOTATION n SYSTEM 'x'>]>t",
         kNodeDoctype, 90, nullptr, false},
        {L"", kNodeEnd, 0, nullptr, false},
    };
    for (const auto& c : cases) {
        const std::wstring_view text(c.text);
        const Node node = NextNode(text, 0);
        SCOPED_TRACE(Narrow(c.text));
        EXPECT_EQ(node.kind, c.kind);
        EXPECT_EQ(node.length, c.length);
        if (c.name) {
            EXPECT_EQ(std::wstring(text.substr(node.name_start, node.name_length)), c.name);
            EXPECT_EQ(node.empty_element, c.empty_element);
        }
    }
}

TEST(XmlTokenizer, EndOfTextAfterANode) {
    const std::wstring text = L"<a/>";
    const Node node = NextNode(text, 4);
    EXPECT_EQ(node.kind, kNodeEnd);
    EXPECT_EQ(NextNode(text, 100).kind, kNodeEnd);
}

struct ParseCase {
    const wchar_t* text;
    bool well_formed;
    const wchar_t* error;
};

TEST(XmlParse, ErrorTexts) {
    const ParseCase cases[] = {
        {L"", false, L"Empty document"},
        {L"<!-- only a comment -->", false, L"No root element"},
        {L"  \r\n", false, L"No root element"},
        {L"<a/><b/>", false, L"Root element has sibling"},
        {L"<a></a>\r\n<b></b>", false, L"Root element has sibling"},
        {L"<a><b></a>", false, L"End tag 'a' at offset 7 does not match start tag 'b' at offset 3"},
        {L"<a><b><c></a>", false, L"End tag 'a' at offset 10 does not match start tag 'c' at offset 6"},
        {L"<a></b></a>", false, L"No start tag for end tag 'b' at offset 3"},
        {L"<a></b></c></a>", false, L"No start tag for end tag 'b' at offset 3"},  // the first message stays
        {L"<a><b>", false, L"Element 'b' at offset 3 not ended"},
        {L"<a></a><b>", false, L"Root element has sibling"},
        {L"<a><!-x--></a>", false, L"Incorrect comment tag at offset 3"},
        {L"<a><![x[y]]></a>", false, L"Incorrect tag at offset 3"},
        {L"<a><!x></a>", false, L"Incorrect ! tag at offset 3"},
        {L"<!DOCTYPE a [<!-- c -->]><a/>", false, L"Incorrect ! tag at offset 13"},
        {L"<a>< b</a>", false, L"Incorrect tag name character at offset 3"},
        {L"<a><1/></a>", false, L"Incorrect tag name character at offset 3"},
        {L"<a><[/></a>", false, L"Incorrect tag name character at offset 3"},
        {L"<a><`/></a>", false, L"Incorrect tag name character at offset 3"},
        {L"<r><a", false, L"Element tag at offset 3 unterminated"},
        {L"<r><a x='>/></r>", false, L"Element tag at offset 3 unterminated"},
        {L"<a></a", false, L"Element end tag at offset 3 unterminated"},
        {L"<a><![CDATA[x</a>", false, L"CDATA Section at offset 3 unterminated"},
        {L"<a><?pi </a>", false, L"Processing instruction at offset 3 unterminated"},
        {L"<a><!-- x </a>", false, L"Comment at offset 3 unterminated"},
        {L"<a><!-", false, L"Comment at offset 3 unterminated"},
        {L"<r><!DOCTYPE a [<!ENTITY x 'y'", false, L"Doctype at offset 3 unterminated"},
        {L"<r><!DOCTYPE a [<!", false, L"Doctype at offset 3 unterminated"},
        {L"<a", false, L"No root element"},  // the unterminated start tag is no element
        {L"<a/><", false, L"tag at offset 4 unterminated"},
        {L"<a/><!", false, L"tag at offset 4 unterminated"},
        {L"<a x=1/>", false, L"Element 'a' at offset 0 not ended"},
        {L"<!-x", false, L"No root element"},  // replaces the earlier parse error
        {L"<a/>", true, L""},
        {L"\xFEFF<a/>", true, L""},  // a byte order mark is text outside the root
        {L"<?xml version=\"1.0\"?>\r\n<!DOCTYPE a [<!ELEMENT a ANY>]>\r\n<a "
         L"x='>'>t<![CDATA[<]]><!--c--></a>\r\n",
         true, L""},
        {L"<a x=\"1/>\"/>", true, L""},
        {L"<A></a>", false, L"No start tag for end tag 'a' at offset 3"},  // case counts without flag 8
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(Narrow(c.text));
        CXmlDocument doc;
        EXPECT_EQ(doc.SetDocument(c.text), c.well_formed);
        EXPECT_EQ(doc.IsWellFormed(), c.well_formed);
        EXPECT_EQ(doc.ErrorText(), c.error);
        EXPECT_EQ(xml_check::CheckIndex(doc), "");
    }
}

TEST(XmlParse, NullTextIsEmpty) {
    CXmlDocument doc;
    doc.SetDocument(L"<a/>");
    EXPECT_FALSE(doc.SetDocument(static_cast<const wchar_t*>(nullptr)));
    EXPECT_EQ(doc.Text(), L"");
    EXPECT_EQ(doc.ErrorText(), L"Empty document");
    EXPECT_EQ(doc.RecordCount(), 1u);
}

TEST(XmlParse, IgnoreCaseFlagMatchesEndTags) {
    CXmlDocument doc;
    doc.SetFlags(kIgnoreNameCase);
    EXPECT_TRUE(doc.SetDocument(L"<Configuration><MSI></msi></configuration>"));
    EXPECT_EQ(doc.ErrorText(), L"");
}

// Records: start, length, start-tag and end-tag lengths, depth, links.
TEST(XmlParse, RecordsOfMismatchedEndTag) {
    CXmlDocument doc;
    doc.SetDocument(L"<a><b></a>");
    ASSERT_EQ(doc.RecordCount(), 3u);
    const ElementRecord& a = doc.Record(1);
    const ElementRecord& b = doc.Record(2);
    EXPECT_EQ(a.length, 10u);
    EXPECT_EQ(a.end_tag_length, 4u);
    EXPECT_FALSE(a.flags & kNotEnded);
    EXPECT_TRUE(b.flags & kNotEnded);
    EXPECT_EQ(b.start, 3u);
    EXPECT_EQ(b.length, 3u);
    EXPECT_EQ(b.parent, 1u);
    EXPECT_EQ(b.depth, 1u);
    EXPECT_TRUE(doc.Record(0).flags & kIllFormed);
}

TEST(XmlParse, EndTagWithoutStartTagIsIgnored) {
    CXmlDocument doc;
    doc.SetDocument(L"<a></b></a>");
    ASSERT_EQ(doc.RecordCount(), 2u);
    EXPECT_EQ(doc.Record(1).length, 11u);
    EXPECT_EQ(doc.Record(1).end_tag_length, 4u);
    EXPECT_TRUE(doc.Record(1).flags & kIllFormed);
    EXPECT_FALSE(doc.Record(1).flags & kNotEnded);
}

TEST(XmlParse, ChildrenOfAnElementNotEndedBecomeItsSiblings) {
    CXmlDocument doc;
    doc.SetDocument(L"<r><a><b><c/></b><d/></r>");
    EXPECT_EQ(doc.ErrorText(), L"End tag 'r' at offset 22 does not match start tag 'a' at offset 3");
    EXPECT_EQ(xml_check::CheckIndex(doc), "");
    // r holds a, b, d in document order; c stays inside the complete b.
    std::vector<std::wstring> names;
    std::vector<std::uint32_t> depths;
    for (RecordId id = doc.Record(1).first_child; id; id = doc.Record(id).next_sibling) {
        names.push_back(doc.GetTagName(id));
        depths.push_back(doc.Record(id).depth);
    }
    EXPECT_EQ(names, (std::vector<std::wstring>{L"a", L"b", L"d"}));
    EXPECT_EQ(depths, (std::vector<std::uint32_t>{1, 1, 1}));
    EXPECT_EQ(doc.Record(doc.Record(1).first_child).previous_sibling, 5u);  // first names the last
    EXPECT_EQ(doc.Record(4).depth, 2u);                                     // c
}

TEST(XmlParse, UnendedElementsAtTheEndCloseInnermostFirst) {
    CXmlDocument doc;
    doc.SetDocument(L"<a><b><c/>");
    EXPECT_EQ(doc.ErrorText(), L"Element 'b' at offset 3 not ended");
    EXPECT_EQ(xml_check::CheckIndex(doc), "");
    // Everything ends up at the top level.
    for (RecordId id = 1; id < doc.RecordCount(); ++id) EXPECT_EQ(doc.Record(id).depth, 0u) << id;
}

TEST(XmlParse, DeepNestingAndManyRecordsAcrossBlocks) {
    std::wstring text;
    for (int i = 0; i < 3000; ++i) text += L"<d>";
    text += L"<leaf/>";
    for (int i = 0; i < 3000; ++i) text += L"</d>";
    CXmlDocument doc;
    EXPECT_TRUE(doc.SetDocument(L"<r>" + text + L"</r>"));
    EXPECT_EQ(doc.Record(3002).depth, 3001u);

    // More than one block of records; also unended at the end of the text.
    std::wstring many = L"<r>";
    for (int i = 0; i < 70000; ++i) many += L"<e/>";
    CXmlDocument big;
    EXPECT_FALSE(big.SetDocument(many));
    EXPECT_EQ(big.ErrorText(), L"Element 'r' at offset 0 not ended");
    EXPECT_EQ(big.RecordCount(), 70002u);
    EXPECT_EQ(xml_check::CheckIndex(big), "");
    EXPECT_EQ(big.Record(70001).start, 3u + 4u * 69999u);
    EXPECT_TRUE(big.SetDocument(many + L"</r>"));
    EXPECT_EQ(big.Record(70001).parent, 1u);
}

const wchar_t kDescription[] =
    L"<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n"
    L"<application name=\"Quill\">\r\n"
    L"  <product language=\"English\">\r\n"
    L"    <version name=\"1.0\" component=\"{C1}\"/>\r\n"
    L"    <version name=\"2.0\" component=\"{C2}\">\r\n"
    L"      <files msi=\"setup\"><file size=\"10\">a.dll</file><file>b &amp; c.dll</file></files>\r\n"
    L"    </version>\r\n"
    L"  </product>\r\n"
    L"  <product language=\"German\"/>\r\n"
    L"</application>\r\n";

TEST(XmlNavigate, WalksSiblingsChildrenAndLevels) {
    CXmlDocument doc;
    ASSERT_TRUE(doc.SetDocument(kDescription));
    EXPECT_FALSE(doc.IntoElement());  // no main position yet
    EXPECT_FALSE(doc.OutOfElement());
    ASSERT_TRUE(doc.FindElement(L"application"));
    EXPECT_EQ(doc.GetAttribute(L"name"), L"Quill");
    ASSERT_TRUE(doc.IntoElement());
    EXPECT_EQ(doc.MainPosition(), 0u);

    std::vector<std::wstring> languages;
    while (doc.FindElement(L"product")) languages.push_back(doc.GetAttribute(L"language"));
    EXPECT_EQ(languages, (std::vector<std::wstring>{L"English", L"German"}));

    doc.ResetMainPosition();
    ASSERT_TRUE(doc.FindElement(L"product"));
    ASSERT_TRUE(doc.FindChildElement(L"version"));
    EXPECT_EQ(doc.GetAttribute(doc.ChildPosition(), L"name"), L"1.0");
    ASSERT_TRUE(doc.FindChildElement(L"version"));  // after the child position
    EXPECT_EQ(doc.GetAttribute(doc.ChildPosition(), L"name"), L"2.0");
    EXPECT_FALSE(doc.FindChildElement(L"version"));
    ASSERT_TRUE(doc.IntoElement());  // into product, main = the second version
    EXPECT_EQ(doc.GetAttribute(L"component"), L"{C2}");
    ASSERT_TRUE(doc.IntoElement());
    ASSERT_TRUE(doc.FindElement(L"files"));
    ASSERT_TRUE(doc.IntoElement());
    std::vector<std::wstring> files;
    while (doc.FindElement(L"file")) files.push_back(doc.GetData());
    EXPECT_EQ(files, (std::vector<std::wstring>{L"a.dll", L"b &amp; c.dll"}));  // data is not decoded

    ASSERT_TRUE(doc.OutOfElement());  // main = files, child = last file
    EXPECT_EQ(doc.GetTagName(), L"files");
    EXPECT_EQ(doc.GetChildTagName(), L"file");
    EXPECT_FALSE(doc.FindChildElement());  // nothing after the last file
    doc.ResetChildPosition();
    ASSERT_TRUE(doc.FindChildElement());
    EXPECT_EQ(doc.GetAttribute(doc.ChildPosition(), L"size"), L"10");
    ASSERT_TRUE(doc.OutOfElement());
    ASSERT_TRUE(doc.OutOfElement());
    ASSERT_TRUE(doc.OutOfElement());
    EXPECT_EQ(doc.GetTagName(), L"application");
    EXPECT_EQ(doc.ParentPosition(), 0u);
    EXPECT_FALSE(doc.OutOfElement());
    EXPECT_FALSE(doc.FindElement());  // the root has no sibling
}

TEST(XmlNavigate, FindChildWithoutMainFindsTheFirstElementFirst) {
    CXmlDocument doc;
    doc.SetDocument(L"<r><a/><b/></r>");
    ASSERT_TRUE(doc.FindChildElement(L"b"));
    EXPECT_EQ(doc.GetTagName(), L"r");
    EXPECT_EQ(doc.GetChildTagName(), L"b");
    doc.ResetPosition();
    EXPECT_FALSE(doc.FindChildElement(L"zzz"));
}

TEST(XmlNavigate, WorksOnTheWellFormedPartsOfABrokenDocument) {
    CXmlDocument doc;
    EXPECT_FALSE(doc.SetDocument(L"<r><ok>yes</ok><bad></r>"));
    ASSERT_TRUE(doc.FindElement(L"r"));
    ASSERT_TRUE(doc.FindChildElement(L"ok"));
    EXPECT_EQ(doc.GetData(doc.ChildPosition()), L"yes");
    ASSERT_TRUE(doc.FindChildElement(L"bad"));
    EXPECT_EQ(doc.GetData(doc.ChildPosition()), L"");
}

struct NameCase {
    const wchar_t* stored;
    const wchar_t* wanted;
    bool ignore_case;
    bool matches;
};

TEST(XmlNames, Matching) {
    const NameCase cases[] = {
        {L"Application", L"application", true, true},
        {L"Application", L"application", false, false},
        {L"ab", L"a", true, false},
        {L"a", L"ab", true, false},
        {L"a", L"a/b", true, true},
        {L"a", L"a b", false, true},
        {L"a", L"a=1", false, true},
        {L"a", L"a[2]", false, true},
        {L"a", L"a]", false, true},
        {L"a", L"a-", false, false},
        {L"a", L"", false, false},
        {L"", L"x", false, false},
        {L"\x00C9t\x00E9", L"\x00E9T\x00C9", true, true},
        {L"\x0414", L"\x0434", true, true},
        {L"\x0414", L"\x0434", false, false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(NameMatches(c.stored, c.wanted, c.ignore_case), c.matches)
            << Narrow(c.stored) << " / " << Narrow(c.wanted) << " / " << c.ignore_case;
}

TEST(XmlNames, FindElementUsesTheDocumentFlag) {
    CXmlDocument doc;
    doc.SetFlags(kIgnoreNameCase);
    doc.SetDocument(L"<r><ab/><Application/><a x='1'/></r>");
    ASSERT_TRUE(doc.FindElement(L"r"));
    ASSERT_TRUE(doc.IntoElement());
    EXPECT_TRUE(doc.FindElement(L"application"));
    doc.ResetMainPosition();
    ASSERT_TRUE(doc.FindElement(L"a"));  // skips ab
    EXPECT_EQ(doc.GetAttribute(L"x"), L"1");
    doc.ResetMainPosition();
    ASSERT_TRUE(doc.FindElement(L"a/b"));
    EXPECT_EQ(doc.GetAttribute(L"X"), L"1");

    doc.SetFlags(0);
    doc.ResetMainPosition();
    EXPECT_FALSE(doc.FindElement(L"application"));
}

TEST(XmlRead, AttributesAndEntities) {
    CXmlDocument doc;
    doc.SetDocument(
        L"<e a=\"x &amp; &#65;&#x42;\" b='&foo; &lt;' c=plain d = \"spaced\" e f=\"&#0;\" "
        L"g=\"&#x10000;\" h=\"&#12345678;\" Dup=\"1\" dup=\"2\" q='a>b' \"odd\"=1 r=\"'\" / s='after'/>");
    ASSERT_TRUE(doc.FindElement());
    struct Case {
        const wchar_t* name;
        std::wstring value;
    } cases[] = {
        {L"a", L"x & AB"},
        {L"b", L"&foo; <"},
        {L"c", L"plain"},
        {L"d", L"spaced"},
        {L"e", L""},
        {L"f", L"&#0;"},
        {L"g", std::wstring{wchar_t(0xD800), wchar_t(0xDC00)}},
        {L"h", L"&#12345678;"},
        {L"dup", L"2"},
        {L"Dup", L"1"},
        {L"q", L"a>b"},
        {L"r", L"'"},
        {L"s", L""},  // a slash ends the search
        {L"missing", L""},
        {L"", L""},
    };
    for (const auto& c : cases) EXPECT_EQ(doc.GetAttribute(c.name), c.value) << Narrow(c.name);
    doc.SetFlags(kIgnoreNameCase);
    EXPECT_EQ(doc.GetAttribute(L"dup"), L"1");
}

TEST(XmlRead, DecodeEntities) {
    const struct {
        const wchar_t* in;
        std::wstring out;
    } cases[] = {
        {L"&lt;&gt;&amp;&apos;&quot;", L"<>&'\""},
        {L"&#65;&#x42;&#x4a;&#x4A;", L"ABJJ"},
        {L"&#X42;", L"&#X42;"},
        {L"&#x;&#;&#a;", L"&#x;&#;&#a;"},
        {L"&#123456;", std::wstring{wchar_t(0xD838), wchar_t(0xDE40)}},
        {L"&#1234567;", L"&#1234567;"},  // ';' past the seven characters
        {L"&#x10FFFF;", std::wstring{wchar_t(0xDBFF), wchar_t(0xDFFF)}},
        {L"&#x110000;&#xD800;&#0;", L"&#x110000;&#xD800;&#0;"},
        {L"a&b&", L"a&b&"},
        {L"&amp&lt", L"&amp&lt"},
        {L"&amp;lt;", L"&lt;"},
    };
    for (const auto& c : cases) EXPECT_EQ(DecodeEntities(c.in), c.out) << Narrow(c.in);
}

TEST(XmlRead, DataIsReturnedAsStored) {
    CXmlDocument doc;
    doc.SetDocument(L"<r><a>x &lt; y<b/>z</a><e/><f></f></r>");
    EXPECT_EQ(doc.GetData(), L"");  // no main position
    ASSERT_TRUE(doc.FindElement());
    ASSERT_TRUE(doc.IntoElement());
    ASSERT_TRUE(doc.FindElement(L"a"));
    EXPECT_EQ(doc.GetData(), L"x &lt; y<b/>z");
    ASSERT_TRUE(doc.FindElement(L"e"));
    EXPECT_EQ(doc.GetData(), L"");
    ASSERT_TRUE(doc.FindElement(L"f"));
    EXPECT_EQ(doc.GetData(), L"");
    EXPECT_EQ(doc.GetTagName(0), L"");
}

}  // namespace
