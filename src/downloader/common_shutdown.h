#pragma once
// The one way out of the downloader after start-up began: used by the normal
// end, the early exits and the failure handlers.

// Records that this thread's COM apartment must be closed on the way out.
void MarkComInitialized();

// Releases what the start-up acquired. Safe to call more than once: every
// piece is released once and forgotten.
void CommonShutdown();
