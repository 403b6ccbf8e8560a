#pragma once
// Included by the program's entry unit only: links the engine into the
// program and hands it to the windows before wWinMain runs.
#include "Bootstrapper.h"

inline const bool g_engineRegistered = (set_download_engine(&the_bootstrapper()), true);
