#pragma once
// What the command line changes in the launch state and the settings, and
// the launch mode that follows from both.
#include "command_line.h"
#include "launch_state.h"
#include "settings.h"

// The start-up ends right after the switches when one of these applies.
enum class EarlyExit {
    none,
    help,        // "/h", "/help" or "/?"
    diagnostic,  // both "/debugdirectory" and "/debugversion" with a value
};

// Applies the switches in their fixed order. The help switches end the walk
// before any other switch is looked at.
EarlyExit ApplySwitches(const CommandLine& commandLine, LaunchState& state, DeploymentSettings& settings);

// Updater mode when the updater path, pipe name and product folder are all
// given: hidden, no running-apps warning. Pure; no taskbar.
void SelectUpdaterMode(LaunchState& state, DeploymentSettings& settings);

// The launch mode: updater mode, or otherwise (Vista and later) the taskbar
// list for taskbar progress. A taskbar that cannot be created is left out
// silently. COM must be initialised on this thread.
void ApplyLaunchMode(LaunchState& state, DeploymentSettings& settings);
