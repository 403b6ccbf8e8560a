// A library that loads but exports none of the XML signature entry points:
// copied as cryptxml.dll beside signature_load_probe.exe.
#include <windows.h>

BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID) {
    return TRUE;
}
