#include "single_instance.h"

#include <windows.h>

#include "text.h"

namespace {

ATOM g_atom = 0;

struct WindowSearch {
    const std::wstring* className;
    bool found;
};

BOOL CALLBACK match_class(HWND window, LPARAM context) {
    auto* search = reinterpret_cast<WindowSearch*>(context);
    wchar_t name[512] = {};
    int n = GetClassNameW(window, name, static_cast<int>(std::size(name)));
    if (n > 0 && iequals(std::wstring_view(name, static_cast<size_t>(n)), *search->className)) {
        search->found = true;
        return FALSE;
    }
    return TRUE;
}

}  // namespace

bool InstanceWindowExists(const std::wstring& windowClassName) {
    WindowSearch search{&windowClassName, false};
    EnumWindows(match_class, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

bool AnotherInstanceRunning(const std::wstring& executableName, const std::wstring& windowClassName) {
    ATOM atom = GlobalFindAtomW(executableName.c_str());
    if (atom == 0) return false;
    if (InstanceWindowExists(windowClassName)) return true;
    GlobalDeleteAtom(atom);
    return false;
}

void HoldInstanceAtom(const std::wstring& executableName) {
    if (g_atom == 0) g_atom = GlobalAddAtomW(executableName.c_str());
}

void ReleaseInstanceAtom() {
    if (g_atom != 0) {
        GlobalDeleteAtom(g_atom);
        g_atom = 0;
    }
}
