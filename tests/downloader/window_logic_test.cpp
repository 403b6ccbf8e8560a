// Status-line texts, description locations and the re-launch rule.
#include <gtest/gtest.h>

#include <string>

#include "privileges.h"
#include "progress_window.h"
#include "url_location.h"

namespace {

TEST(SizeText, Table) {
    struct Case {
        unsigned long long bytes;
        const wchar_t* expected;
    } cases[] = {
        {0, L"0.00B"},
        {999, L"999.00B"},
        {1000, L"1.00kB"},
        {1234, L"1.23kB"},
        {999994, L"999.99kB"},
        {10000000, L"10.00MB"},
        {3000000000ull, L"3.00GB"},
        {4294967295ull, L"4.29GB"},
        {1000000000000000000ull, L"1.00EB"},
        {18446744073709551615ull, L"18.45EB"},
    };
    for (const Case& c : cases) EXPECT_EQ(size_text(c.bytes), c.expected) << c.bytes;
}

TEST(ProgressLine, Table) {
    struct Case {
        const wchar_t* prefix;
        unsigned long done;
        long total;
        const wchar_t* expected;
    } cases[] = {
        {L"Downloading...", 1234, 10000000, L"Downloading...1.23kB of 10.00MB"},
        {L"<Empty>", 1234, 10000000, L"1.23kB of 10.00MB"},
        {L"<EMPTY>", 1234, 0, L"1.23kB"},
        {L"", 5, 10, L"5.00B of 10.00B"},
        {L"Downloading...", 1234, 0, L"Downloading...1.23kB"},
        {L"Downloading...", 3000000000ul, -1294967296l, L"Downloading...3.00GB"},
        {L"100% ", 1, -1, L"100% 1.00B"},
    };
    for (const Case& c : cases) EXPECT_EQ(progress_line(c.prefix, c.done, c.total), c.expected);
}

TEST(ProgressWindowWidth, TitleStatusAndMinimum) {
    EXPECT_EQ(progress_window_width(200, 300, 100), 500);  // title plus the first width
    EXPECT_EQ(progress_window_width(200, 10, 700), 700);   // the status line is wider
    EXPECT_EQ(progress_window_width(200, 10, 100), 400);   // never below twice the first width
}

TEST(SmallIconSize, ByDpi) {
    struct Case {
        UINT dpi;
        int size;
    } cases[] = {{96, 16},  {119, 16}, {120, 20}, {143, 20}, {144, 24},
                 {167, 24}, {168, 28}, {191, 28}, {192, 32}, {480, 32}};
    for (const Case& c : cases) EXPECT_EQ(small_icon_size(c.dpi), c.size) << c.dpi;
}

TEST(LocateDescription, Table) {
    const std::wstring folder = L"C:\\Apps\\Setup\\";
    struct Case {
        std::wstring url;
        int kind;
        std::wstring location;
    } cases[] = {
        {L"https://downloads.example.com/product", kSourceHttp,
         L"https://downloads.example.com/product/version_info.xml"},
        {L"http://downloads.example.com/product/", kSourceHttp,
         L"http://downloads.example.com/product/version_info.xml"},
        {L"ftp://files.example.com/product", kSourceRefused, L""},
        {L"FTP://files.example.com/product", kSourceRefused, L""},
        {L"sftp://files.example.com/product", kSourceRefused, L""},
        {L"\\\\server\\share\\product", kSourceUnc, L"\\\\server\\share\\product\\version_info.xml"},
        {L"\\\\server\\share\\product\\", kSourceUnc, L"\\\\server\\share\\product\\version_info.xml"},
        {L"D:\\Packages\\Product", kSourceLocalPath, L"D:\\Packages\\Product\\version_info.xml"},
        {L"D:\\Packages\\", kSourceLocalPath, L"D:\\Packages\\version_info.xml"},
        {L"payload", kSourceLocalPath, L"C:\\Apps\\Setup\\payload\\version_info.xml"},
        {L"..\\shared\\payload", kSourceLocalPath, L"C:\\Apps\\shared\\payload\\version_info.xml"},
    };
    for (const Case& c : cases) {
        DescriptionSource source = locate_description(c.url, folder);
        EXPECT_EQ(source.kind, c.kind) << testing::PrintToString(c.url);
        EXPECT_EQ(source.location, c.location) << testing::PrintToString(c.url);
    }
    // A relative path too long for the shell's buffer is still joined in full.
    const std::wstring longName(300, L'p');
    EXPECT_EQ(locate_description(longName, folder).location, folder + longName + L"\\version_info.xml");
}

// The re-launch rule over (OS version, privileges, elevated, low integrity).
// The token answers come from the table; a query the rule must not need fails the case.
struct TokenAnswers {
    bool elevated;
    bool lowIntegrity;
};
TokenAnswers g_answers;
int g_queries;

bool answer_elevated(DWORD) {
    ++g_queries;
    return g_answers.elevated;
}
bool answer_low_integrity() {
    ++g_queries;
    return g_answers.lowIntegrity;
}

TEST(ElevatedRelaunchRule, DecisionTable) {
    struct Case {
        DWORD os;
        const wchar_t* privileges;
        bool elevated, lowIntegrity;
        bool relaunch;
    } cases[] = {
        {5, L"administrator", false, true, false},  // before Vista: never
        {5, L"user", false, true, false},
        {6, L"administrator", true, false, false},
        {6, L"administrator", false, false, true},
        {10, L"Administrator", false, true, true},
        {10, L"anything else", false, false, true},  // only "user" is user mode
        {10, L"", false, false, true},
        {6, L"user", true, false, false},
        {6, L"user", false, false, false},  // medium integrity: no re-launch
        {6, L"USER", false, true, true},    // low integrity (or unreadable): re-launch
        {10, L"user", true, true, true},
    };
    for (const Case& c : cases) {
        g_answers = {c.elevated, c.lowIntegrity};
        g_queries = 0;
        ElevationFacts facts{c.os, c.privileges, answer_elevated, answer_low_integrity};
        EXPECT_EQ(NeedsElevatedRelaunch(facts), c.relaunch)
            << c.os << " " << testing::PrintToString(c.privileges) << " elevated " << c.elevated << " low "
            << c.lowIntegrity;
        EXPECT_LE(g_queries, c.os >= 6 ? 1 : 0);
    }
}

// Under Wine as root every process is elevated at high integrity; these
// show that the real queries read the token rather than guess.
TEST(TokenQueries, ReadThisProcess) {
    HANDLE token = nullptr;
    ASSERT_TRUE(OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token));
    TOKEN_ELEVATION elevation = {};
    DWORD size = 0;
    ASSERT_TRUE(GetTokenInformation(token, TokenElevation, &elevation, sizeof(elevation), &size));
    CloseHandle(token);
    EXPECT_EQ(IsElevated(10), elevation.TokenIsElevated != 0);
    EXPECT_EQ(IsElevated(5), IsAdministratorMember(5));
    if (elevation.TokenIsElevated) {
        EXPECT_TRUE(IsAdministratorMember(10));
        EXPECT_FALSE(IsLowIntegrity());
    }
}

}  // namespace
