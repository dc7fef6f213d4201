// The states of a download run and which of the window's switches each one leaves usable.
// Thread: any; the table is constant.
#pragma once

#include "core/control_ids.h"

enum class RunState {
    Ready,        // after session start
    Downloading,  // Start passed its checks and the worker runs
    Stopped,      // the user stopped the run
    Failed,       // the run ended with a failure
    Completed,    // every file is in place; the launcher may be started
    Launching,    // Completed while a started launcher is awaited
};

// Whether control (a control id) is enabled in state. Close and the caption's close box are
// always enabled; controls the run does not switch are always enabled too.
bool IsControlEnabled(RunState state, int control);

// The controls whose enabled state follows the run, in the order a view updates them.
inline constexpr int RUN_CONTROLS[] = {IDC_START, IDC_STOP, IDC_CHANGE_PATH, IDC_RUN};

const char* RunStateName(RunState state);
