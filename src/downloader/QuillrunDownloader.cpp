// Process entry: a thin wWinMain over the downloader library.
#include <windows.h>

#include "engine_registration.h"
#include "startup.h"

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, LPWSTR arguments, int show) {
    return RunDownloader(instance, arguments, show);
}
