// Runs a Windows command line and prints its exact exit code: `wine` itself
// passes only the low 8 bits on. Usage: qrexit <program> [arguments...]
// Prints "exit code: <decimal> (0x<hex>)" and returns 0 when the code was 0.
#include <windows.h>

#include <cstdio>
#include <string>

int wmain() {
    const wchar_t* line = GetCommandLineW();
    // Skip our own program name (quoted or not).
    if (*line == L'"') {
        ++line;
        while (*line && *line != L'"') ++line;
        if (*line) ++line;
    } else {
        while (*line && *line != L' ' && *line != L'\t') ++line;
    }
    while (*line == L' ' || *line == L'\t') ++line;
    if (!*line) {
        fwprintf(stderr, L"usage: qrexit <program> [arguments...]\n");
        return 2;
    }
    std::wstring command = line;
    STARTUPINFOW si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    if (!CreateProcessW(nullptr, command.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si, &pi)) {
        fwprintf(stderr, L"qrexit: cannot start %ls (error %lu)\n", command.c_str(), GetLastError());
        return 2;
    }
    WaitForSingleObject(pi.hProcess, INFINITE);
    DWORD code = 0;
    GetExitCodeProcess(pi.hProcess, &code);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    printf("exit code: %lu (0x%08lx)\n", code, code);
    fflush(stdout);
    return code == 0 ? 0 : 1;
}
