#include "common_shutdown.h"

#include <objbase.h>

#include "engine_interface.h"
#include "launch_state.h"
#include "progress_window.h"
#include "single_instance.h"

namespace {
bool comInitialized = false;  // UI thread only
}  // namespace

void MarkComInitialized() {
    comInitialized = true;
}

void CommonShutdown() {
    auto& state = launch_state();
    ReleaseInstanceAtom();
    CloseEngineStartedEvent();
    if (state.taskbar != nullptr) {
        state.taskbar->Release();
        state.taskbar = nullptr;
    }
    state.taskbarAvailable = false;
    if (IDownloadEngine* engine = download_engine()) engine->Cleanup();
    // The taskbar is a COM object of this apartment: released before it closes.
    if (comInitialized) {
        comInitialized = false;
        CoUninitialize();
    }
}
