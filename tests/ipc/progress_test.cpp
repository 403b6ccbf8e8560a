#include <gtest/gtest.h>

#include <windows.h>
#include <msi.h>
#include <msiquery.h>

#include <optional>
#include <string>

#include "InstallerProgress.h"
#include "UpdaterConversation.h"

namespace {

using namespace IPC;

std::wstring Nul(const wchar_t* text) {
    std::wstring out = text;
    for (auto& c : out)
        if (c == L'|') c = L'\0';
    return out;
}

TEST(ProgressRecordParse, Table) {
    struct Case {
        const wchar_t* text;
        bool ok;
        std::int32_t fields[4];  // expected; the parse starts from 9, 9, 9, 9
        const wchar_t* marked;   // expected text after the parse, '|' = code unit 0
    };
    const Case cases[] = {
        {L"1: 0 2: 1000 3: 1 4: 0 ", true, {0, 1000, 1, 0}, L"1: 0|2: 1000|3: 1|4: 0|"},
        {L"1: 2 2: 50 ", true, {2, 50, 9, 9}, L"1: 2|2: 50|"},
        // Progress and script records stop after field 2; what follows stays.
        {L"1: 2 2: 50 3: 7 ", true, {2, 50, 9, 9}, L"1: 2|2: 50|3: 7 "},
        {L"1: 3 2: 4 3: 7 ", true, {3, 4, 9, 9}, L"1: 3|2: 4|3: 7 "},
        // Action information stops after field 3.
        {L"1: 1 2: 5 3: 1 4: 8 ", true, {1, 5, 1, 9}, L"1: 1|2: 5|3: 1|4: 8 "},
        {L"1: 0 2: 10", true, {0, 10, 9, 9}, L"1: 0|2: 10"},
        {L"2: 50 ", true, {9, 50, 9, 9}, L"2: 50|"},
        {L"2: -5 3: 0 4: 1", true, {9, -5, 0, 1}, L"2: -5|3: 0|4: 1"},
        {L"4: 3 1: 0", true, {9, 9, 9, 3}, L"4: 3|1: 0"},
        {L"", false, {9, 9, 9, 9}, L""},
        {L"5: 1 ", false, {9, 9, 9, 9}, L"5: 1 "},
        {L"0: 1 ", false, {9, 9, 9, 9}, L"0: 1 "},
        {L"x", false, {9, 9, 9, 9}, L"x"},
        {L"1:", false, {9, 9, 9, 9}, L"1:"},
        {L"1: x ", false, {9, 9, 9, 9}, L"1: x "},
        {L"1: 12 ", false, {9, 9, 9, 9}, L"1: 12 "},
        {L"2: ", false, {9, 9, 9, 9}, L"2: "},
        {L"2: 1x ", false, {9, 9, 9, 9}, L"2: 1x "},
        {L"2: - ", false, {9, 9, 9, 9}, L"2: - "},
        {L"2: 2147483648 ", false, {9, 9, 9, 9}, L"2: 2147483648 "},
        {L"1: 0 2: 7 3: q ", false, {9, 9, 9, 9}, L"1: 0 2: 7 3: q "},
    };
    for (const auto& c : cases) {
        std::wstring text = c.text;
        std::int32_t fields[4] = {9, 9, 9, 9};
        EXPECT_EQ(ParseProgressRecord(text, fields), c.ok) << c.text;
        for (int i = 0; i < 4; ++i) EXPECT_EQ(fields[i], c.fields[i]) << c.text << " field " << i + 1;
        EXPECT_EQ(text, Nul(c.marked)) << c.text;
    }
}

// One installer message and the report it should produce (kind 0: none).
struct Step {
    std::uint32_t message;
    std::optional<std::wstring> text;
    std::uint32_t reportKind;
    std::wstring reportText;
};

void Feed(InstallerProgressState& state, const std::vector<Step>& steps) {
    int index = 0;
    for (const auto& step : steps) {
        auto report = TranslateInstallerMessage(state, step.message, step.text);
        std::string where = "step " + std::to_string(index++);
        if (step.reportKind == 0) {
            EXPECT_FALSE(report.has_value()) << where;
            continue;
        }
        EXPECT_TRUE(report.has_value()) << where;
        if (!report) continue;
        EXPECT_EQ(report->kind, step.reportKind) << where;
        EXPECT_EQ(report->text, step.reportText) << where;
    }
}

TEST(InstallerProgressTranslation, BackwardResetWithoutEarlierReset) {
    InstallerProgressState state;
    Feed(state, {{kInstallMessageProgress, L"1: 0 2: 1000 3: 1 4: 0 ", 0x16, L"Please wait..."}});
    EXPECT_EQ(state.totalTicks, 1000);
    EXPECT_EQ(state.forward, 0);
    EXPECT_EQ(state.startPosition, 1000);
    EXPECT_EQ(state.reportedPosition, 1000);
    EXPECT_EQ(state.currentTicks, 0);
    EXPECT_EQ(state.scriptInProgress, 0);

    // Progress moves backwards from the total.
    Feed(state, {{kInstallMessageProgress, L"1: 2 2: 50 ", 0x04, Nul(L"1: 2|2: 50|")}});
    EXPECT_EQ(state.currentTicks, 50);
    EXPECT_EQ(state.reportedPosition, -50);
    Feed(state, {{kInstallMessageProgress, L"1: 1 2: 7 3: 1 ", 0x08, Nul(L"1: 1|2: 7|3: 1|")}});
    EXPECT_EQ(state.step, -7);
    EXPECT_EQ(state.actionDataEnabled, 1);
}

TEST(InstallerProgressTranslation, ForwardRunWithScript) {
    InstallerProgressState state;
    Feed(state, {
                    {kInstallMessageProgress, L"1: 0 2: 200 3: 0 4: 1 ", 0x16, L"Please wait..."},
                    {kInstallMessageProgress, L"1: 2 2: 30 ", 0x04, Nul(L"1: 2|2: 30|")},
                    {kInstallMessageProgress, L"1: 2 2: 20 ", 0x04, Nul(L"1: 2|2: 20|")},
                });
    EXPECT_EQ(state.startPosition, 0);
    EXPECT_EQ(state.scriptInProgress, 1);
    EXPECT_EQ(state.currentTicks, 50);
    EXPECT_EQ(state.reportedPosition, 50);
    // A reset while the script ran reports the full total and restarts the count.
    Feed(state, {{kInstallMessageProgress, L"1: 0 2: 400 3: 0 4: 0 ", 0x16, L"Please wait..."}});
    EXPECT_EQ(state.totalTicks, 400);
    EXPECT_EQ(state.reportedPosition, 400);
    EXPECT_EQ(state.currentTicks, 0);
    EXPECT_EQ(state.scriptInProgress, 0);
}

TEST(InstallerProgressTranslation, ProgressBeforeAnyTotal) {
    InstallerProgressState state;
    Feed(state, {{kInstallMessageProgress, L"1: 2 2: 50 ", 0x02, L"Please wait..."}});
    EXPECT_EQ(state.currentTicks, 0);
    EXPECT_EQ(state.fields[1], 50);
}

TEST(InstallerProgressTranslation, ActionDataAndInformation) {
    InstallerProgressState state;
    // Nothing is reported before the installer announced a total.
    Feed(state, {
                    {kInstallMessageActionData, L"copying", 0, L""},
                    {kInstallMessageInfo, L"info", 0, L""},
                });
    state.totalTicks = 100;
    state.forward = 1;
    Feed(state, {
                    {kInstallMessageActionData, L"copying", 0x02, L"copying"},
                    {kInstallMessageActionData, L"", 0x02, L""},  // a record without fields
                    {kInstallMessageActionData, std::nullopt, 0, L""},
                    {kInstallMessageInfo, L"info", 0x02, L"info"},
                    {kInstallMessageInfo, std::nullopt, 0, L""},
                    {kInstallMessageProgress, L"1: 1 2: 3 3: 1 ", 0x08, Nul(L"1: 1|2: 3|3: 1|")},
                    {kInstallMessageActionData, L"file.dll", 0x03, L"file.dll"},
                    {kInstallMessageActionData, std::nullopt, 0x01, L""},
                    {kInstallMessageActionStart, L"InstallFiles", 0, L""},
                    {kInstallMessageActionData, std::nullopt, 0, L""},
                    {kInstallMessageProgress, L"1: 1 2: 3 3: 1 ", 0x08, Nul(L"1: 1|2: 3|3: 1|")},
                    {kInstallMessageProgress, L"1: 1 2: 3 3: 0 ", 0, L""},
                    {kInstallMessageActionData, L"x", 0x02, L"x"},
                });
    EXPECT_EQ(state.step, 3);
}

TEST(InstallerProgressTranslation, IgnoredMessages) {
    InstallerProgressState state;
    state.totalTicks = 100;
    Feed(state, {
                    {kInstallMessageProgress, std::nullopt, 0, L""},
                    {kInstallMessageProgress, L"1: x ", 0, L""},
                    {kInstallMessageProgress, L"1: 3 2: 1 ", 0, L""},
                    {0x01000000, L"error text", 0, L""},
                    {0x0B000000, L"1: 0 2: 5 ", 0, L""},
                });
    EXPECT_EQ(state.totalTicks, 100);
    EXPECT_EQ(state.currentTicks, 0);
}

TEST(InstallerRecordFormatting, RealRecords) {
    MSIHANDLE empty = MsiCreateRecord(0);
    EXPECT_EQ(FormatInstallerRecord(0, empty), std::optional<std::wstring>(L""));
    MsiCloseHandle(empty);

    MSIHANDLE progress = MsiCreateRecord(4);
    MsiRecordSetInteger(progress, 1, 0);
    MsiRecordSetInteger(progress, 2, 1000);
    MsiRecordSetInteger(progress, 3, 1);
    MsiRecordSetInteger(progress, 4, 0);
    EXPECT_EQ(FormatInstallerRecord(0, progress), std::optional<std::wstring>(L"1: 0 2: 1000 3: 1 4: 0 "));
    MsiCloseHandle(progress);

    MSIHANDLE templated = MsiCreateRecord(1);
    MsiRecordSetStringW(templated, 0, L"Copying [1]");
    MsiRecordSetStringW(templated, 1, L"a.dll");
    EXPECT_EQ(FormatInstallerRecord(0, templated), std::optional<std::wstring>(L"Copying a.dll"));
    MsiCloseHandle(templated);

    EXPECT_EQ(FormatInstallerRecord(0, 0xDEAD), std::nullopt);
}

}  // namespace
