#pragma once
// How failures reach the user: the text shown for a failure, the three
// message boxes and the report of a failure that ends the process.
#include <windows.h>

#include <string>
#include <string_view>

// The shown text of a failure with message `text` and Win32 code `code`:
// the code is appended as " Error code: 0x<HEX>." unless the text already
// names an error; an empty text takes the system's text of the code.
std::wstring compose_failure_text(std::wstring_view text, DWORD code);

// Replaces every "$(ErrorCode)" of link by code as a signed decimal.
std::wstring substitute_error_code(std::wstring_view link, LONG code);

enum class BoxIcon { error, warning };

// Everything a message box shows; the presenter turns it into a window.
struct MessageBoxRequest {
    HWND owner = nullptr;
    std::wstring text;
    std::wstring caption;
    BoxIcon icon = BoxIcon::error;
    UINT iconId = 0;    // icon resource of the executable
    std::wstring link;  // hyperlink line under the text, or empty
    float layoutDpi = 96.0f;
    float windowDpi = 96.0f;
};

// Shows a request modally. The default presenter uses the system box;
// tests install one that records.
using MessageBoxPresenter = void (*)(const MessageBoxRequest& request);
void set_message_box_presenter(MessageBoxPresenter presenter);  // null: the default
void show_system_message_box(const MessageBoxRequest& request);

// Owner: the progress window, else the main window; caption `productName`.
// Nothing is shown for an empty or "<Empty>" text.
void ShowErrorBox(const std::wstring& text, float dpiX, float dpiY);
void ShowWarningBox(const std::wstring& text, float dpiX, float dpiY);
// customErrorText with the link line built from customErrorLink and code.
void ShowCustomErrorBox(const std::wstring& customErrorText, const std::wstring& customErrorLink, LONG code,
                        float dpiX, float dpiY);

// Text and code of a failure caught by the entry point.
struct Failure {
    std::wstring text;
    DWORD code = 0;
};

// Reads the exception in flight (call inside a catch block): windows_error,
// wexception, unsigned and signed integers, anything else.
Failure current_failure();

// The report of a failure that ends the process: taskbar shows the error,
// the updater hears of it, and a box appears unless the session ends.
void ReportFailure(const Failure& failure);
