// The portable file seam: load status, missing files and saving, in a
// temporary folder of the host.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

#include "xml_document.h"

namespace {

std::wstring Wide(const std::string& text) {
    return std::wstring(text.begin(), text.end());
}

class NativeFiles : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/qrxmlXXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir_ = pattern;
    }
    void TearDown() override {
        std::remove((dir_ + "/a.xml").c_str());
        std::remove(dir_.c_str());
    }
    std::string dir_;
};

TEST_F(NativeFiles, LoadSaveAndMissing) {
    const std::string path = dir_ + "/a.xml";
    {
        std::ofstream out(path, std::ios::binary);
        out << "<a>\xC3\xA9\xFF</a>";
    }
    xml::CXmlDocument doc;
    ASSERT_TRUE(doc.LoadFile(Wide(path)));
    EXPECT_EQ(doc.ErrorText(), L"10 bytes to 9 wide chars");
    EXPECT_EQ(doc.Text(), std::wstring(L"<a>") + wchar_t(0xE9) + wchar_t(0xFFFD) + L"</a>");
    EXPECT_TRUE(doc.Parse());

    ASSERT_TRUE(doc.SaveFile(Wide(path)));
    EXPECT_EQ(doc.SaveStatus(), L"9 wide chars to 12 bytes");
    std::ifstream in(path, std::ios::binary);
    std::stringstream bytes;
    bytes << in.rdbuf();
    EXPECT_EQ(bytes.str(), "<a>\xC3\xA9\xEF\xBF\xBD</a>");

    EXPECT_FALSE(doc.LoadFile(Wide(dir_ + "/absent.xml")));
    EXPECT_EQ(doc.ErrorText(), L"No such file or directory");
    EXPECT_FALSE(doc.SaveFile(Wide(dir_ + "/no/such/out.xml")));
    EXPECT_EQ(doc.SaveStatus(), L"No such file or directory");
}

}  // namespace
