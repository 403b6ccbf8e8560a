#include "common_shutdown.h"

#include <objbase.h>

#include "launch_state.h"

namespace {
bool comInitialized = false;  // UI thread only
}  // namespace

void MarkComInitialized() {
    comInitialized = true;
}

void CommonShutdown() {
    auto& state = launch_state();
    if (state.taskbar != nullptr) {
        state.taskbar->Release();
        state.taskbar = nullptr;
    }
    state.taskbarAvailable = false;
    // The taskbar is a COM object of this apartment: released before it closes.
    if (comInitialized) {
        comInitialized = false;
        CoUninitialize();
    }
}
