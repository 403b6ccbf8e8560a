#pragma once
// Translation of Windows Installer UI messages into the progress reports an
// updater shows. Pure logic: the record text comes in already formatted.
#include <cstdint>
#include <optional>
#include <string>

namespace IPC {

// Installer message kinds (the high byte of the message type).
inline constexpr std::uint32_t kInstallMessageInfo = 0x04000000;
inline constexpr std::uint32_t kInstallMessageActionStart = 0x08000000;
inline constexpr std::uint32_t kInstallMessageActionData = 0x09000000;
inline constexpr std::uint32_t kInstallMessageProgress = 0x0A000000;

// Report kind bits.
inline constexpr std::uint32_t kReportActionData = 0x01;
inline constexpr std::uint32_t kReportText = 0x02;
inline constexpr std::uint32_t kReportPosition = 0x04;
inline constexpr std::uint32_t kReportStep = 0x08;
inline constexpr std::uint32_t kReportReset = 0x10;

// Progress bookkeeping of one installer run; zeroed before each run.
struct InstallerProgressState {
    std::int32_t actionDataEnabled = 0;
    std::int32_t totalTicks = 0;
    std::int32_t startPosition = 0;
    std::int32_t forward = 0;
    std::int32_t scriptInProgress = 0;
    std::int32_t currentTicks = 0;
    std::int32_t reportedPosition = 0;
    std::int32_t step = 0;
    // Fields 1 to 4 of the last progress record; a field missing from a
    // record keeps its previous value.
    std::int32_t fields[4] = {0, 0, 0, 0};
};

// What to send to the updater for one installer message.
struct ProgressReport {
    std::uint32_t kind = 0;
    std::wstring text;
};

// Parses a progress record text such as "1: 2 2: 50 " into state.fields.
// Each value read has its terminating space replaced by a code unit 0 in
// `text` (length unchanged). On failure the fields are left as they were.
bool ParseProgressRecord(std::wstring& text, std::int32_t (&fields)[4]);

// Updates the state for one installer message and returns the report to
// send, if any. recordText is empty (nullopt) when formatting the record
// failed; a record with no fields formats as "".
std::optional<ProgressReport> TranslateInstallerMessage(InstallerProgressState& state, std::uint32_t kind,
                                                        std::optional<std::wstring> recordText);

}  // namespace IPC
