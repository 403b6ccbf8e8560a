// A CBT hook DLL for the tests: loaded into a watched process, it appends one
// line per window that process creates to the file named by QR_WINDOW_LOG:
// "top <class>" for a window that could be shown (not a child, not
// message-only), "sub <class>" for the others. The hook runs inside the
// creating call, so nothing is missed however short-lived the window is.
#include <windows.h>

#include <string>

namespace {

void append_line(const std::wstring& line) {
    wchar_t path[MAX_PATH] = {};
    if (GetEnvironmentVariableW(L"QR_WINDOW_LOG", path, MAX_PATH) == 0) return;
    HANDLE file = CreateFileW(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return;
    int n = WideCharToMultiByte(CP_UTF8, 0, line.c_str(), static_cast<int>(line.size()), nullptr, 0, nullptr,
                                nullptr);
    std::string bytes(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, line.c_str(), static_cast<int>(line.size()), bytes.data(), n, nullptr,
                        nullptr);
    DWORD written = 0;
    WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    CloseHandle(file);
}

}  // namespace

extern "C" __declspec(dllexport) LRESULT CALLBACK QrWindowLogHook(int code, WPARAM wParam, LPARAM lParam) {
    if (code == HCBT_CREATEWND) {
        const CREATESTRUCTW* create = reinterpret_cast<CBT_CREATEWNDW*>(lParam)->lpcs;
        HWND window = reinterpret_cast<HWND>(wParam);
        // Message-only windows hang below the message root, not the desktop.
        bool topLevel = (create->style & WS_CHILD) == 0 && create->hwndParent != HWND_MESSAGE &&
                        GetAncestor(window, GA_PARENT) == GetDesktopWindow();
        wchar_t name[256] = {};
        GetClassNameW(window, name, 256);
        append_line(std::wstring(topLevel ? L"top " : L"sub ") + name + L"\n");
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
}
