#include "failure_report.h"

#include <windows.h>
#include <shobjidl.h>

#include "launch_state.h"
#include "resource.h"
#include "settings.h"
#include "text.h"
#include "updater_link.h"
#include "wexception.h"
#include "downloader_texts.h"

namespace {

MessageBoxPresenter g_presenter = nullptr;

HWND box_owner() {
    const LaunchState& state = launch_state();
    return state.progressWindow ? state.progressWindow : state.mainWindow;
}

void show(std::wstring text, BoxIcon icon, UINT iconId, std::wstring link, float dpiX, float dpiY) {
    if (is_empty_value(text)) return;
    MessageBoxRequest request;
    request.owner = box_owner();
    request.text = std::move(text);
    request.caption = settings().productName;
    request.icon = icon;
    request.iconId = iconId;
    request.link = std::move(link);
    request.layoutDpi = dpiX;
    request.windowDpi = dpiY;
    (g_presenter ? g_presenter : show_system_message_box)(request);
}

}  // namespace

std::wstring compose_failure_text(std::wstring_view text, DWORD code) {
    if (!text.empty() && code != 0 && text.find(L"Error:") == std::wstring_view::npos) {
        std::wstring out(text);
        if (out.size() > 2 && out.ends_with(L"\r\n")) out.resize(out.size() - 2);
        return out + format(texts::kErrorCodeSuffix, static_cast<unsigned>(code));
    }
    if (!text.empty()) return std::wstring(text);
    return system_error_text(code);
}

std::wstring substitute_error_code(std::wstring_view link, LONG code) {
    static constexpr std::wstring_view token = L"$(ErrorCode)";
    const std::wstring number = std::to_wstring(code);
    std::wstring out;
    size_t from = 0;
    for (size_t at; (at = link.find(token, from)) != std::wstring_view::npos; from = at + token.size()) {
        out.append(link.substr(from, at - from));
        out += number;
    }
    out.append(link.substr(from));
    return out;
}

void set_message_box_presenter(MessageBoxPresenter presenter) {
    g_presenter = presenter;
}

void show_system_message_box(const MessageBoxRequest& request) {
    // The system box has no hyperlink line; the link goes on its own line.
    std::wstring text = request.text;
    if (!request.link.empty()) text += L"\r\n\r\n" + request.link;
    MSGBOXPARAMSW params = {};
    params.cbSize = sizeof(params);
    params.hwndOwner = request.owner;
    params.hInstance = GetModuleHandleW(nullptr);
    params.lpszText = text.c_str();
    params.lpszCaption = request.caption.c_str();
    params.dwStyle = MB_OK | MB_SETFOREGROUND | MB_USERICON;
    params.lpszIcon = MAKEINTRESOURCEW(request.iconId);
    if (!FindResourceW(params.hInstance, params.lpszIcon, MAKEINTRESOURCEW(14) /* RT_GROUP_ICON */)) {
        params.dwStyle =
            MB_OK | MB_SETFOREGROUND | (request.icon == BoxIcon::error ? MB_ICONERROR : MB_ICONWARNING);
        params.lpszIcon = nullptr;
    }
    MessageBoxIndirectW(&params);
}

void ShowErrorBox(const std::wstring& text, float dpiX, float dpiY) {
    show(text, BoxIcon::error, IDI_ERROR_ICON, {}, dpiX, dpiY);
}

void ShowWarningBox(const std::wstring& text, float dpiX, float dpiY) {
    show(text, BoxIcon::warning, IDI_WARNING_ICON, {}, dpiX, dpiY);
}

void ShowCustomErrorBox(const std::wstring& customErrorText, const std::wstring& customErrorLink, LONG code,
                        float dpiX, float dpiY) {
    if (is_empty_value(customErrorText)) return;
    std::wstring link = is_empty_value(customErrorLink) ? std::wstring() : customErrorLink;
    if (!link.empty()) link = substitute_error_code(link, code);
    show(customErrorText, BoxIcon::warning, IDI_WARNING_ICON, std::move(link), dpiX, dpiY);
}

Failure current_failure() {
    try {
        throw;
    } catch (const windows_error& e) {
        return {e.message(), e.code()};
    } catch (const wexception& e) {
        return {e.message(), 0};
    } catch (unsigned long n) {
        return {system_error_text(static_cast<DWORD>(n)), static_cast<DWORD>(n)};
    } catch (unsigned int n) {
        return {system_error_text(n), n};
    } catch (long n) {
        return {system_error_text(static_cast<DWORD>(n)), static_cast<DWORD>(n)};
    } catch (int n) {
        return {system_error_text(static_cast<DWORD>(n)), static_cast<DWORD>(n)};
    } catch (...) {
        DWORD last = GetLastError();
        if (last != 0) return {system_error_text(last), last};
        return {texts::kUnknownError, 0};
    }
}

void ReportFailure(const Failure& failure) {
    LaunchState& state = launch_state();
    if (state.taskbarAvailable && state.taskbar && state.progressWindow) {
        state.taskbar->SetProgressState(state.progressWindow, TBPF_ERROR);
        state.taskbar->SetProgressValue(state.progressWindow, 50, 100);
    }
    if (IUpdaterLink* link = updater_link()) link->SendFailure(failure.text, failure.code);
    if (state.sessionEnding) return;
    if (state.customError)
        ShowCustomErrorBox(settings().customErrorText, settings().customErrorLink,
                           static_cast<LONG>(failure.code), state.dpiX, state.dpiY);
    else
        ShowErrorBox(compose_failure_text(failure.text, failure.code), state.dpiX, state.dpiY);
}
