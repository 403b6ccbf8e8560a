#include <gtest/gtest.h>

#include "security_key.h"
#include "text.h"
#include "wexception.h"

namespace {

struct SplitCase {
    const wchar_t* input;
    std::vector<std::wstring> expected;
};

TEST(SplitList, Table) {
    const SplitCase cases[] = {
        {L"", {}},
        {L";;;", {}},
        {L"a", {L"a"}},
        {L" a ; b ;c", {L"a", L"b", L"c"}},
        {L";;a;;b;;", {L"a", L"b"}},
        {L" first ;   ; last ", {L"first", L"", L"last"}},
        {L"\tExcel;Word\r\n", {L"Excel", L"Word"}},
    };
    for (const auto& c : cases) EXPECT_EQ(split_list(c.input), c.expected) << c.input;
}

TEST(Text, CaseInsensitiveWords) {
    EXPECT_TRUE(is_empty_value(L"<EMPTY>"));
    EXPECT_TRUE(is_empty_value(L""));
    EXPECT_FALSE(is_empty_value(L"<Empty> "));
    EXPECT_TRUE(is_true(L"TRUE"));
    EXPECT_FALSE(is_true(L"yes"));
    EXPECT_TRUE(iequals(L"\u00c4bc", L"\u00e4BC"));
}

TEST(Text, Utf8RoundTripAndInvalidBytes) {
    EXPECT_EQ(widen("\xc3\xa4x"), L"\u00e4x");
    EXPECT_EQ(narrow(L"\u00e4x"), "\xc3\xa4x");
    EXPECT_EQ(widen("a\xff" "b"), L"a\ufffd" L"b");
}

TEST(WindowsError, MessageForms) {
    EXPECT_EQ(with_error_code(L"Failed to copy 'a' file", 5), L"Failed to copy 'a' file. Error: 5.");
    EXPECT_EQ(with_error_code(L"Failed to copy 'a' file", 0), L"Failed to copy 'a' file.");
    try {
        throw_windows_error(L"x", 1223);
    } catch (const windows_error& e) {
        EXPECT_EQ(e.code(), 1223u);
        EXPECT_EQ(e.message(), L"x. Error: 1223.");
    }
}

TEST(SecurityKey, DefaultKeyIsEmpty) {
    EXPECT_EQ(security_key_digits(), std::string(40, '0'));
    EXPECT_TRUE(security_key_is_empty());
}

}  // namespace
