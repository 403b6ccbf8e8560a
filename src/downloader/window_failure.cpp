#include "window_failure.h"

namespace {
std::exception_ptr g_failure;  // UI thread only
}

void park_window_failure() {
    if (!g_failure) g_failure = std::current_exception();
}

void rethrow_window_failure() {
    if (g_failure) std::rethrow_exception(std::exchange(g_failure, nullptr));
}
