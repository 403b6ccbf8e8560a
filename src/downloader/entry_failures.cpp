#include "entry_failures.h"

#include "launch_state.h"
#include "settings.h"
#include "text.h"

std::wstring EntrySystemText(DWORD code) {
    if (code == 0) return {};
    wchar_t* buffer = nullptr;
    DWORD n = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM, nullptr, code,
                             MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), reinterpret_cast<wchar_t*>(&buffer),
                             0, nullptr);
    std::wstring text;
    if (n != 0 && buffer != nullptr)
        text.assign(buffer, n);
    else
        text = format(L"Error code: 0x%x", static_cast<unsigned>(code));
    if (buffer != nullptr) LocalFree(buffer);
    return text;
}

namespace {

std::wstring compose(const std::wstring& message, DWORD code) {
    if (!message.empty() && code != 0 && message.find(L"Error:") == std::wstring::npos) {
        std::wstring text = message;
        if (text.size() > 2 && text.ends_with(L"\r\n")) text.resize(text.size() - 2);
        return text + format(L" Error code: 0x%X.", static_cast<unsigned>(code));
    }
    if (!message.empty()) return message;
    return EntrySystemText(code);
}

}  // namespace

void ReportEntryFailure(const std::wstring& message, DWORD code) noexcept {
    try {
        if (launch_state().sessionEnding) return;
        std::wstring text = compose(message, code);
        if (text.empty()) return;
        MessageBoxW(nullptr, text.c_str(), settings().productName.c_str(),
                    MB_OK | MB_ICONERROR | MB_SETFOREGROUND);
    } catch (...) {
        // Out of memory while reporting: nothing more can be shown.
    }
}
