#include "InstallerProgress.h"
#include "ipc_texts.h"

#include <cstdint>
#include <limits>

namespace IPC {

namespace {

bool IsDigit(wchar_t c) {
    return c >= L'0' && c <= L'9';
}

// Tick arithmetic wraps like the 32-bit fields on the wire instead of
// overflowing.
std::int32_t Add(std::int32_t a, std::int32_t b) {
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(a) + static_cast<std::uint32_t>(b));
}
std::int32_t Negate(std::int32_t a) {
    return static_cast<std::int32_t>(0u - static_cast<std::uint32_t>(a));
}

}  // namespace

bool ParseProgressRecord(std::wstring& text, std::int32_t (&fields)[4]) {
    if (text.empty()) return false;
    std::int32_t parsed[4] = {fields[0], fields[1], fields[2], fields[3]};
    std::wstring marked = text;
    std::size_t i = 0;
    const std::size_t n = marked.size();
    while (i < n) {
        wchar_t digit = marked[i];
        if (digit < L'1' || digit > L'4') return false;
        int field = digit - L'1';
        i += 3;  // the digit, the colon and the space
        if (i > n) return false;
        // The value runs to the next space or to the end of the text.
        std::size_t end = marked.find(L' ', i);
        if (end == std::wstring::npos) end = n;
        if (field == 0) {
            if (end != i + 1 || !IsDigit(marked[i])) return false;
            parsed[0] = marked[i] - L'0';
        } else {
            std::size_t j = i;
            bool negative = j < end && marked[j] == L'-';
            if (negative) ++j;
            if (j == end) return false;
            std::int64_t value = 0;
            for (; j < end; ++j) {
                if (!IsDigit(marked[j])) return false;
                value = value * 10 + (marked[j] - L'0');
                if (value > std::numeric_limits<std::int32_t>::max()) return false;
            }
            parsed[field] =
                negative ? Negate(static_cast<std::int32_t>(value)) : static_cast<std::int32_t>(value);
        }
        if (end < n) marked[end] = L'\0';
        i = end + 1;
        bool done = (field == 1 && (parsed[0] == 2 || parsed[0] == 3)) || (field == 2 && parsed[0] == 1) ||
                    field == 3;
        if (done) break;
    }
    for (int k = 0; k < 4; ++k) fields[k] = parsed[k];
    text = std::move(marked);
    return true;
}

std::optional<ProgressReport> TranslateInstallerMessage(InstallerProgressState& state, std::uint32_t kind,
                                                        std::optional<std::wstring> recordText) {
    switch (kind) {
        case kInstallMessageActionStart:
            state.actionDataEnabled = 0;
            return std::nullopt;

        case kInstallMessageInfo:
            if (state.totalTicks <= 0 || !recordText) return std::nullopt;
            return ProgressReport{kReportText, std::move(*recordText)};

        case kInstallMessageActionData: {
            if (state.totalTicks <= 0) return std::nullopt;
            bool due = state.actionDataEnabled != 0;
            std::uint32_t reportKind = due ? kReportActionData : 0;
            if (recordText) return ProgressReport{reportKind | kReportText, std::move(*recordText)};
            if (due) return ProgressReport{reportKind, L""};
            return std::nullopt;
        }

        case kInstallMessageProgress: {
            if (!recordText) return std::nullopt;
            std::wstring text = std::move(*recordText);
            if (!ParseProgressRecord(text, state.fields)) return std::nullopt;
            const std::int32_t* f = state.fields;
            switch (f[0]) {
                case 0:  // reset
                    state.totalTicks = f[1];
                    state.forward = f[2] == 0;
                    state.startPosition = state.forward ? 0 : state.totalTicks;
                    state.reportedPosition = state.scriptInProgress ? state.totalTicks : state.startPosition;
                    state.currentTicks = 0;
                    state.scriptInProgress = f[3] == 1;
                    return ProgressReport{kReportText | kReportPosition | kReportReset, texts::kPleaseWait};
                case 1:  // action information
                    if (f[2] == 0) {
                        state.actionDataEnabled = 0;
                        return std::nullopt;
                    }
                    state.step = state.forward ? f[1] : Negate(f[1]);
                    state.actionDataEnabled = 1;
                    return ProgressReport{kReportStep, std::move(text)};
                case 2:  // progress
                    if (state.totalTicks == 0) return ProgressReport{kReportText, texts::kPleaseWait};
                    state.currentTicks = Add(state.currentTicks, f[1]);
                    state.reportedPosition = state.forward ? state.currentTicks : Negate(state.currentTicks);
                    return ProgressReport{kReportPosition, std::move(text)};
                default:
                    return std::nullopt;
            }
        }

        default:
            return std::nullopt;
    }
}

}  // namespace IPC
