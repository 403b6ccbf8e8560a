// Randomized robustness: mutated documents (cut short, stray '<', '&' and
// quotes, deep nesting, shuffled pieces) must parse, navigate, read and take
// edits without crashing and with a sound index. Seeded and bounded; the
// native build runs it under AddressSanitizer to catch reads outside the text.
#include <gtest/gtest.h>

#include <random>

#include "xml_check.h"
#include "xml_document.h"

using namespace xml;
using xml_check::Narrow;

namespace {

const wchar_t* const kSeeds[] = {
    L"<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n<application>\r\n  <product language=\"English\">\r\n"
    L"    <version name=\"1.0\" component='{C}'>\r\n      <files msi=\"a.msi\">\r\n"
    L"        <file size=\"12\" hash=\"abc\">x\\a.dll</file>\r\n      </files>\r\n"
    L"      <preferences><showInstallUI>false</showInstallUI></preferences>\r\n    </version>\r\n"
    L"  </product>\r\n</application>\r\n",
    L"<configuration>\r\n  <msi>\r\n    <id/>\r\n    <silent>true</silent>\r\n  </msi>\r\n"
    L"  <Signature xmlns=\"x\"><KeyInfo><X509Data><X509Certificate>AAA=</X509Certificate></X509Data>"
    L"</KeyInfo></Signature>\r\n</configuration>",
    L"<!DOCTYPE r [<!ENTITY e 'v'><!ATTLIST r a CDATA #IMPLIED>]><r a='&amp;&#65;' b=\"&#x42;\">"
    L"<![CDATA[ <not/> ]]><?pi x?><!-- c --><e/>t&lt;</r>",
};

const wchar_t* const kInserts[] = {L"<",    L"&",    L"\"",  L"'",     L"</",  L"/>",        L">",
                                   L"<!",   L"<![",  L"<!-", L"<?",    L"]]>", L"-->",       L"<x>",
                                   L"</x>", L"<y/>", L"&#",  L"&#x1;", L" ",   L"<!DOCTYPE", L"<![CDATA[",
                                   L"<!--", L"\r\n", L"=",   L"\xD800"};

std::wstring Mutate(std::wstring text, std::mt19937& rng) {
    auto pick = [&](std::size_t n) { return std::uniform_int_distribution<std::size_t>(0, n)(rng); };
    const int rounds = 1 + static_cast<int>(pick(3));
    for (int i = 0; i < rounds; ++i) {
        switch (pick(5)) {
            case 0:  // cut short
                text.resize(pick(text.size()));
                break;
            case 1:
            case 2:
                text.insert(pick(text.size()), kInserts[pick(std::size(kInserts) - 1)]);
                break;
            case 3: {  // deep nesting
                std::wstring deep;
                const std::size_t depth = 1 + pick(400);
                for (std::size_t d = 0; d < depth; ++d) deep += (d % 3 == 0) ? L"<d x='1'>" : L"<d>";
                if (pick(1))
                    for (std::size_t d = 0; d < depth - pick(depth); ++d) deep += L"</d>";
                text.insert(pick(text.size()), deep);
                break;
            }
            case 4: {  // remove a range
                const std::size_t at = pick(text.size());
                text.erase(at, pick(text.size() - at));
                break;
            }
            default: {  // copy a range elsewhere
                const std::size_t at = pick(text.size());
                const std::wstring piece = text.substr(at, pick(text.size() - at) % 64);
                text.insert(pick(text.size()), piece);
                break;
            }
        }
    }
    return text;
}

// Visits every element by navigation and reads everything readable.
void ReadAll(CXmlDocument& doc, std::mt19937& rng) {
    doc.ResetPosition();
    std::size_t steps = 0;
    for (;;) {
        if (++steps > 100000) FAIL() << "navigation does not end";
        if (doc.FindElement()) {
            (void)doc.GetTagName();
            (void)doc.GetData();
            (void)doc.GetAttribute(L"a");
            (void)doc.GetAttribute(L"name");
            if (doc.FindChildElement()) (void)doc.GetChildTagName();
            doc.ResetChildPosition();
            if (rng() % 2) doc.IntoElement();
        } else if (!doc.OutOfElement()) {
            break;
        }
    }
}

TEST(XmlRandom, MutatedDocumentsParseNavigateAndEditSoundly) {
    std::mt19937 rng(20261211);
    const wchar_t* const fragments[] = {L"<n/>",       L"<s><t>v</t></s>", L"a&b", L"<x>",
                                        L"</y>",       L"<a/><b/>",        L"",    L"<!-- c",
                                        L"<z a='>'/>", L"<q x=1/>"};
    for (int iteration = 0; iteration < 1500; ++iteration) {
        const std::wstring text = Mutate(kSeeds[iteration % std::size(kSeeds)], rng);
        CXmlDocument doc;
        doc.SetFlags(rng() % 2 ? unsigned(kIgnoreNameCase) : 0u);
        const bool well_formed = doc.SetDocument(text);
        const std::string where = "iteration " + std::to_string(iteration) + ": " + Narrow(text);
        ASSERT_EQ(xml_check::CheckIndex(doc), "") << where;
        ASSERT_EQ(well_formed, doc.ErrorText().empty()) << where << " / " << Narrow(doc.ErrorText());
        ReadAll(doc, rng);

        // A few edits at a random position.
        for (int edit = 0; edit < 4; ++edit) {
            doc.ResetPosition();
            const int moves = static_cast<int>(rng() % 6);
            for (int m = 0; m < moves; ++m) {
                if (rng() % 3 == 0) {
                    doc.IntoElement();
                } else {
                    doc.FindElement();
                }
            }
            const wchar_t* fragment = fragments[rng() % std::size(fragments)];
            switch (rng() % 3) {
                case 0:
                    doc.AddElement(L"n");
                    break;
                case 1:
                    doc.SetElementContent(fragment);
                    break;
                default: {
                    const unsigned options[] = {0u, unsigned(kInsertBefore), unsigned(kInsertAsChild),
                                                unsigned(kInsertAsChild | kInsertReplaceContent),
                                                unsigned(kInsertNoLineBreaks)};
                    doc.AddSubDocument(fragment, options[rng() % std::size(options)]);
                    break;
                }
            }
            ASSERT_EQ(xml_check::CheckIndex(doc), "")
                << where << " after edit " << edit << ": " << Narrow(doc.Text());
            if (well_formed && doc.IsWellFormed()) {
                ASSERT_EQ(xml_check::CompareWithFreshParse(doc), "") << where << ": " << Narrow(doc.Text());
            }
            ReadAll(doc, rng);
        }
    }
}

}  // namespace
