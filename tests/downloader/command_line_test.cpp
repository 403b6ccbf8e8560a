#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "command_line.h"
#include "text.h"

namespace {

using Items = std::vector<std::wstring>;
using Table = std::map<std::wstring, std::vector<std::wstring>>;

struct TokenCase {
    const wchar_t* arguments;
    Items expected;
};

TEST(TokenizeArguments, Table) {
    const TokenCase cases[] = {
        {L"", {}},
        {L"   ", {L"/"}},  // a blank token still yields its '/'
        {L"/SilentMode=TRUE", {L"/silentmode", L"TRUE"}},
        {L"/silentmode true", {L"/silentmode true"}},
        {L"/silentmode = true", {L"/silentmode ", L" true"}},
        {L"/pipename=", {L"/pipename"}},
        {L"/updaterpath=C:/x/u.exe", {L"/updaterpath", L"C:", L"/x", L"/u.exe"}},
        {L"a==b", {L"/a", L"b"}},
        {L"a=", {L"/a"}},
        {L"/A=B=C", {L"/a", L"B", L"C"}},
        {L"//a=1//", {L"/a", L"1"}},
        {L"/a=1//b=2", {L"/a", L"1", L"/b", L"2"}},
        {L"/a=1 / /b", {L"/a", L"1", L"/", L"/b"}},
        {L"/productdir=C:\\Program Files\\Product /pipename=abc /updaterpath=C:\\u.exe",
         {L"/productdir", L"C:\\Program Files\\Product", L"/pipename", L"abc", L"/updaterpath",
          L"C:\\u.exe"}},
        {L"/productdir=\"C:\\Program Files\\P\"", {L"/productdir", L"C:\\Program Files\\P"}},
        {L"/\"Quoted\"=\"\"", {L"/quoted", L""}},
        {L"\"/a=b\"", {L"/", L"/a", L"b"}},
        {L"/\u00c4PPID=\u00c4", {L"/\u00c4ppid", L"\u00c4"}},  // only ASCII letters fold
        {L"/appid=a /5=x", {L"/appid", L"a", L"/5", L"x"}},
        {L"/msiuilevel=3 /msiuilevel=5", {L"/msiuilevel", L"3", L"/msiuilevel", L"5"}},
        {L"\t/sid=S-1-5-21 \r\n", {L"/", L"/sid", L"S-1-5-21"}},  // the tab before the first / is a token
    };
    for (const auto& c : cases) EXPECT_EQ(TokenizeArguments(c.arguments), c.expected) << narrow(c.arguments);
}

TEST(TokenizeArguments, StopsAtRoomOfTheVector) {
    std::wstring arguments;
    for (int i = 0; i < 300; ++i) arguments += L"/s" + std::to_wstring(i) + L" ";
    Items items = TokenizeArguments(arguments);
    ASSERT_EQ(items.size(), kMaxArgumentItems);
    EXPECT_EQ(items.back(), L"/s255");

    // The bound can fall inside a token: its name fits, its value does not.
    arguments.clear();
    for (size_t i = 0; i + 1 < kMaxArgumentItems; ++i) arguments += L"/x";
    arguments += L"/last=value/more";
    items = TokenizeArguments(arguments);
    ASSERT_EQ(items.size(), kMaxArgumentItems);
    EXPECT_EQ(items.back(), L"/last");
}

struct SplitCase {
    const wchar_t* arguments;
    Table expected;
};

TEST(CommandLine, SplitTable) {
    const SplitCase cases[] = {
        {L"", {}},
        {L"/silentmode true", {{L"/silentmode true", {}}}},
        {L"/a /b=1", {{L"/a", {}}, {L"/b", {L"1"}}}},
        {L"/a=1=2=3", {{L"/a", {L"1", L"2", L"3"}}}},
        {L"/appid=a /5=x", {{L"/appid", {L"a", L"/5", L"x"}}}},
        {L"/5=x /appid=a", {{L"/appid", {L"a"}}}},  // nothing before the first switch to attach to
        {L"/msiuilevel=3 /msiuilevel=5", {{L"/msiuilevel", {L"3"}}}},
        {L"/a=1 /a=2=3", {{L"/a", {L"1", L"3"}}}},  // the dropped repeat still passes on later values
        {L"/updaterpath=C:/x/u.exe", {{L"/updaterpath", {L"C:"}}, {L"/x", {}}, {L"/u.exe", {}}}},
        {L"/a=1 / /b", {{L"/a", {L"1", L"/"}}, {L"/b", {}}}},
        {L"/? /silentmode=true", {{L"/?", {}}, {L"/silentmode", {L"true"}}}},
        {L"/pipename=\"\"", {{L"/pipename", {L""}}}},
    };
    for (const auto& c : cases) {
        CommandLine commandLine;
        int count = commandLine.split(c.arguments);
        EXPECT_EQ(commandLine.switches(), c.expected) << narrow(c.arguments);
        EXPECT_EQ(count, static_cast<int>(c.expected.size())) << narrow(c.arguments);
    }
}

TEST(CommandLine, SplitReplacesAnEarlierTable) {
    CommandLine commandLine;
    commandLine.split(L"/a=1 /b=2");
    EXPECT_EQ(commandLine.split(L"/c"), 1);
    EXPECT_EQ(commandLine.switches(), (Table{{L"/c", {}}}));
}

TEST(CommandLine, QuestionsAndMissingValues) {
    CommandLine commandLine;
    // Straight from a vector: names are matched exactly as stored.
    commandLine.split(Items{L"/A", L"x", L"/b", L"/c", L"1", L"2"});

    EXPECT_TRUE(commandLine.has_switch(L"/A"));
    EXPECT_FALSE(commandLine.has_switch(L"/a"));
    EXPECT_FALSE(commandLine.has_switch(L"A"));
    EXPECT_EQ(commandLine.argument_count(L"/A"), 1);
    EXPECT_EQ(commandLine.argument_count(L"/b"), 0);
    EXPECT_EQ(commandLine.argument_count(L"/c"), 2);
    EXPECT_EQ(commandLine.argument_count(L"/missing"), -1);
    EXPECT_EQ(commandLine.argument(L"/A", 0), L"x");
    EXPECT_EQ(commandLine.argument(L"/c", 1), L"2");

    struct Missing {
        const wchar_t* name;
        size_t index;
    };
    for (const auto& m : {Missing{L"/missing", 0}, Missing{L"/b", 0}, Missing{L"/A", 1}, Missing{L"/c", 2}}) {
        try {
            commandLine.argument(m.name, m.index);
            ADD_FAILURE() << "no throw for " << narrow(m.name) << " " << m.index;
        } catch (int code) {
            EXPECT_EQ(code, 0);
        }
    }
}

TEST(DeriveExecutablePath, Table) {
    struct Case {
        const wchar_t* commandLine;
        const wchar_t* arguments;
        const wchar_t* expected;
    };
    const Case cases[] = {
        {L"\"C:\\Program Files\\Q\\QuillrunDownloader.exe\" /silentmode=true", L"/silentmode=true",
         L"C:\\Program Files\\Q\\QuillrunDownloader.exe"},
        {L"  \"C:\\q.exe\"  ", L"", L"C:\\q.exe"},
        {L"C:\\q.exe", L"", L"C:\\q.exe"},
        {L"C:\\q.exe /a=\"x y\"", L"/a=\"x y\"", L"C:\\q.exe"},
        // The argument text also occurs inside the path: only the tail goes.
        {L"C:\\data\\q.exe a", L"a", L"C:\\data\\q.exe"},
        {L"\"C:\\v1\\q.exe\" 1", L"1", L"C:\\v1\\q.exe"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(DeriveExecutablePath(c.commandLine, c.arguments), c.expected) << narrow(c.commandLine);
}

}  // namespace
