#pragma once
// A failure thrown by a window handler cannot unwind through the system's
// dispatch code: the handler parks it and the message loop rethrows it.
#include <exception>
#include <utility>

// Keeps the exception in flight (call inside a catch block); the first one wins.
void park_window_failure();
// Rethrows and clears a parked failure, if any.
void rethrow_window_failure();
