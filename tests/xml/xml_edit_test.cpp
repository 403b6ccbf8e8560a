// Editing: exact texts for the insert rules, and the index after every edit
// against a fresh parse of the resulting text.
#include <gtest/gtest.h>

#include <functional>

#include "xml_check.h"
#include "xml_document.h"

using namespace xml;
using xml_check::Narrow;

namespace {

enum class Op { add_element, set_content, add_subdocument };

struct EditCase {
    const char* what;
    const wchar_t* text;
    // Names to find from the top level; every name but the last is entered.
    // A last name of "" leaves no main position inside the element before it.
    std::vector<const wchar_t*> path;
    Op op;
    const wchar_t* argument;
    unsigned options;
    bool result;
    const wchar_t* expected;
    const wchar_t* main_after;  // tag name of the main position afterwards
};

void Navigate(CXmlDocument& doc, const std::vector<const wchar_t*>& path) {
    doc.ResetPosition();
    for (std::size_t i = 0; i < path.size(); ++i) {
        if (*path[i]) {
            ASSERT_TRUE(doc.FindElement(path[i])) << Narrow(path[i]);
        }
        if (i + 1 < path.size()) {
            ASSERT_TRUE(doc.IntoElement());
        }
    }
}

bool Apply(CXmlDocument& doc, Op op, const wchar_t* argument, unsigned options) {
    switch (op) {
        case Op::add_element:
            return doc.AddElement(argument);
        case Op::set_content:
            return doc.SetElementContent(argument);
        case Op::add_subdocument:
            return doc.AddSubDocument(argument, options);
    }
    return false;
}

TEST(XmlEdit, InsertRules) {
    const EditCase cases[] = {
        {"element into an empty-element parent",
         L"<p/>",
         {L"p", L""},
         Op::add_element,
         L"a",
         0,
         true,
         L"<p>\r\n<a/>\r\n</p>",
         L"a"},
        {"element into an empty-element parent with space",
         L"<r><p x='1' /></r>",
         {L"r", L"p", L""},
         Op::add_element,
         L"a",
         0,
         true,
         L"<r><p x='1' >\r\n<a/>\r\n</p></r>",
         L"a"},
        {"element after a main element followed by a line break",
         L"<p>\r\n<x/>\r\n</p>",
         {L"p", L"x"},
         Op::add_element,
         L"a",
         0,
         true,
         L"<p>\r\n<x/>\r\n<a/>\r\n</p>",
         L"a"},
        {"element at the end of the parent",
         L"<p>\r\n  <x/>\r\n</p>",
         {L"p", L""},
         Op::add_element,
         L"a",
         0,
         true,
         L"<p>\r\n  <x/>\r\n<a/>\r\n</p>",
         L"a"},
        {"element into an empty parent",
         L"<p></p>",
         {L"p", L""},
         Op::add_element,
         L"a",
         0,
         true,
         L"<p>\r\n<a/>\r\n</p>",
         L"a"},
        {"element after the main element, before text",
         L"<p><x/>text</p>",
         {L"p", L"x"},
         Op::add_element,
         L"a",
         0,
         true,
         L"<p><x/><a/>\r\ntext</p>",
         L"a"},
        {"content of an empty-element tag",
         L"<r><id/></r>",
         {L"r", L"id"},
         Op::set_content,
         L"{42}",
         0,
         true,
         L"<r><id>{42}</id></r>",
         L"id"},
        {"content replaced",
         L"<r><v>old<x/>old</v></r>",
         {L"r", L"v"},
         Op::set_content,
         L"new",
         0,
         true,
         L"<r><v>new</v></r>",
         L"v"},
        {"content with an unescaped ampersand",
         L"<r><u>a</u></r>",
         {L"r", L"u"},
         Op::set_content,
         L"http://h/?a=1&b=2",
         0,
         true,
         L"<r><u>http://h/?a=1&b=2</u></r>",
         L"u"},
        {"content of two sibling elements",
         L"<r><m/></r>",
         {L"r", L"m"},
         Op::set_content,
         L"<a/><b>t</b>",
         0,
         true,
         L"<r><m><a/><b>t</b></m></r>",
         L"m"},
        {"content that is not well-formed",
         L"<r><m/></r>",
         {L"r", L"m"},
         Op::set_content,
         L"a<b",
         0,
         false,
         L"<r><m>a<b</m></r>",
         L"m"},
        {"content without a main element",
         L"<r/>",
         {L"r", L""},
         Op::set_content,
         L"x",
         0,
         false,
         L"<r/>",
         L""},
        {"content emptied",
         L"<r><m>x</m></r>",
         {L"r", L"m"},
         Op::set_content,
         L"",
         0,
         true,
         L"<r><m></m></r>",
         L"m"},
        {"sub-document before the main element",
         L"<c>\r\n  <Signature/>\r\n</c>",
         {L"c", L"Signature"},
         Op::add_subdocument,
         L"\r\n<msi>\r\n    <id/>\r\n  </msi>\r\n",
         kInsertBefore,
         true,
         L"<c>\r\n  <msi>\r\n    <id/>\r\n  </msi>\r\n<Signature/>\r\n</c>",
         L"msi"},
        {"sub-document as the last child",
         L"<c>\r\n  <x/>\r\n</c>",
         {L"c", L""},
         Op::add_subdocument,
         L"<msi><a/></msi>",
         0,
         true,
         L"<c>\r\n  <x/>\r\n<msi><a/></msi>\r\n</c>",
         L"msi"},
        {"sub-document of several elements",
         L"<c/>",
         {L"c", L""},
         Op::add_subdocument,
         L" <a/> <b/> ",
         0,
         false,
         L"<c>\r\n<a/> <b/>\r\n</c>",
         L"b"},
        {"sub-document that is not well-formed",
         L"<c><x/></c>",
         {L"c", L"x"},
         Op::add_subdocument,
         L"<a>",
         0,
         false,
         L"<c><x/><a></c>",
         L"a"},
        {"sub-document as a child of the main element",
         L"<c><x>\r\n<y/>\r\n</x></c>",
         {L"c", L"x"},
         Op::add_subdocument,
         L"<z/>",
         kInsertAsChild,
         true,
         L"<c><x>\r\n<y/>\r\n<z/>\r\n</x></c>",
         L"x"},
        {"sub-document as the first child",
         L"<c><x><y/></x></c>",
         {L"c", L"x"},
         Op::add_subdocument,
         L"<z/>",
         kInsertAsChild | kInsertBefore,
         true,
         L"<c><x><z/>\r\n<y/></x></c>",
         L"x"},
        {"sub-document replacing the content",
         L"<c><x><y/>t</x></c>",
         {L"c", L"x"},
         Op::add_subdocument,
         L"<z/>",
         kInsertAsChild | kInsertReplaceContent | kInsertNoLineBreaks,
         true,
         L"<c><x><z/></x></c>",
         L"x"},
        {"sub-document without line breaks",
         L"<c><x/></c>",
         {L"c", L"x"},
         Op::add_subdocument,
         L"<z/>",
         kInsertNoLineBreaks,
         true,
         L"<c><x/><z/></c>",
         L"z"},
        {"sub-document as a child needs a main element",
         L"<c/>",
         {L"c", L""},
         Op::add_subdocument,
         L"<z/>",
         kInsertAsChild,
         false,
         L"<c/>",
         L""},
        {"element into an element that was not ended: stays inside its start tag's reach",
         L"<r><p>\r\n  <x/></r>",
         {L"r", L"p", L""},
         Op::add_element,
         L"a",
         0,
         true,
         L"<r><p><a/>\r\n\r\n  <x/></r>",
         L"a"},
        {"element into an empty document",
         L"",
         {},
         Op::add_element,
         L"root",
         0,
         true,
         L"<root/>\r\n",
         L"root"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        CXmlDocument doc;
        doc.SetDocument(c.text);
        Navigate(doc, c.path);
        const RecordId parent = doc.ParentPosition();
        EXPECT_EQ(Apply(doc, c.op, c.argument, c.options), c.result);
        EXPECT_EQ(doc.Text(), c.expected);
        EXPECT_EQ(doc.GetTagName(), c.main_after);
        EXPECT_EQ(doc.ParentPosition(), parent);
        EXPECT_EQ(xml_check::CheckIndex(doc), "");
        if (doc.IsWellFormed()) {
            EXPECT_EQ(xml_check::CompareWithFreshParse(doc), "");
        }
    }
}

TEST(XmlEdit, ChildrenOfSetContentAreNavigable) {
    CXmlDocument doc;
    doc.SetDocument(L"<r><m>old<o/></m></r>");
    Navigate(doc, {L"r", L"m"});
    ASSERT_TRUE(doc.SetElementContent(L"<a x='1'/><b>t</b>"));
    ASSERT_TRUE(doc.IntoElement());
    ASSERT_TRUE(doc.FindElement(L"a"));
    EXPECT_EQ(doc.GetAttribute(L"x"), L"1");
    ASSERT_TRUE(doc.FindElement(L"b"));
    EXPECT_EQ(doc.GetData(), L"t");
    EXPECT_FALSE(doc.FindElement(L"o"));
}

TEST(XmlEdit, RemovedRecordsAreReused) {
    CXmlDocument doc;
    doc.SetDocument(L"<r><m><a/><b/><c/></m></r>");
    Navigate(doc, {L"r", L"m"});
    const RecordId before = doc.RecordCount();
    ASSERT_TRUE(doc.SetElementContent(L"<x/><y/>"));  // three go; two come, plus a temporary record
    EXPECT_EQ(doc.RecordCount(), before);
    ASSERT_TRUE(doc.AddElement(L"n"));  // the temporary record's and its own
    EXPECT_EQ(xml_check::CheckIndex(doc), "");
    EXPECT_EQ(xml_check::CompareWithFreshParse(doc), "");
}

// Well-formed documents and edits: after each edit the index must be what a
// fresh parse of the new text gives, for every element as main position and
// for the position before the first child of every element.
TEST(XmlEdit, IndexMatchesAFreshParseAfterEveryEdit) {
    const wchar_t* documents[] = {
        L"<p/>",
        L"<?xml version=\"1.0\"?>\r\n<configuration>\r\n  <msi>\r\n    <application>word</application>\r\n"
        L"    <id/>\r\n  </msi>\r\n  <Signature><KeyInfo/></Signature>\r\n</configuration>\r\n",
        L"<a><b><c><d/></c></b><e></e>text<!-- c --><f x='>'/></a>",
        L"\xFEFF<r>\r\n\t<x>1</x>\r\n\t<y><![CDATA[<z/>]]></y>\r\n</r>",
    };
    struct Step {
        Op op;
        const wchar_t* argument;
        unsigned options;
    };
    const std::vector<std::vector<Step>> sequences = {
        {{Op::add_element, L"n", 0}, {Op::add_element, L"m", 0}},
        {{Op::set_content, L"<s><t/></s>tail", 0}, {Op::add_element, L"n", 0}},
        {{Op::set_content, L"v&w", 0}, {Op::set_content, L"", 0}},
        {{Op::add_subdocument, L"\r\n  <s><t/></s>\r\n", 0}, {Op::add_subdocument, L"<u/>", kInsertAsChild}},
        {{Op::add_subdocument, L"<s/>", kInsertBefore}, {Op::add_subdocument, L"<s/><u/>", kInsertBefore}},
        {{Op::add_subdocument, L"<q/>", kInsertAsChild | kInsertBefore},
         {Op::add_subdocument, L"<q><r/></q>", kInsertAsChild | kInsertReplaceContent}},
        {{Op::add_subdocument, L"<q/>", kInsertNoLineBreaks}, {Op::set_content, L"<a/><b/>", 0}},
    };
    for (const wchar_t* text : documents) {
        CXmlDocument probe;
        ASSERT_TRUE(probe.SetDocument(text)) << Narrow(text);
        for (RecordId target = 1; target < probe.RecordCount(); ++target) {
            for (bool main_is_target : {true, false}) {
                for (std::size_t s = 0; s < sequences.size(); ++s) {
                    CXmlDocument doc;
                    doc.SetDocument(text);
                    // Path from the top to target, by the public navigation.
                    std::vector<RecordId> chain;
                    for (RecordId r = target; r; r = doc.Record(r).parent) chain.insert(chain.begin(), r);
                    doc.ResetPosition();
                    for (std::size_t i = 0; i < chain.size(); ++i) {
                        if (i) {
                            ASSERT_TRUE(doc.IntoElement());
                        }
                        while (doc.MainPosition() != chain[i]) ASSERT_TRUE(doc.FindElement());
                    }
                    if (!main_is_target) {
                        ASSERT_TRUE(doc.IntoElement());
                    }
                    for (std::size_t k = 0; k < sequences[s].size(); ++k) {
                        const Step& step = sequences[s][k];
                        Apply(doc, step.op, step.argument, step.options);
                        const std::string where = Narrow(text) + " | element " + std::to_string(target) +
                                                  (main_is_target ? " as main" : " as parent") +
                                                  " | sequence " + std::to_string(s) + " step " +
                                                  std::to_string(k) + " -> " + Narrow(doc.Text());
                        ASSERT_EQ(xml_check::CheckIndex(doc), "") << where;
                        ASSERT_EQ(xml_check::CompareWithFreshParse(doc), "") << where;
                    }
                }
            }
        }
    }
}

}  // namespace
