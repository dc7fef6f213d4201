#include "core/run_state.h"

namespace {

struct Row {
    RunState state;
    bool start, stop, change, run;
};

// The one place of the button rules.
constexpr Row kTable[] = {
    {RunState::Ready, true, false, true, false},
    {RunState::Downloading, false, true, false, false},
    {RunState::Stopped, true, false, true, false},
    {RunState::Failed, true, false, true, false},
    {RunState::Completed, false, false, false, true},
    {RunState::Launching, false, false, false, false},
};

}  // namespace

bool IsControlEnabled(RunState state, int control) {
    for (const Row& row : kTable) {
        if (row.state != state) {
            continue;
        }
        switch (control) {
            case IDC_START:
                return row.start;
            case IDC_STOP:
                return row.stop;
            case IDC_CHANGE_PATH:
                return row.change;
            case IDC_RUN:
                return row.run;
            default:
                return true;
        }
    }
    return true;
}

const char* RunStateName(RunState state) {
    switch (state) {
        case RunState::Ready:
            return "Ready";
        case RunState::Downloading:
            return "Downloading";
        case RunState::Stopped:
            return "Stopped";
        case RunState::Failed:
            return "Failed";
        case RunState::Completed:
            return "Completed";
        case RunState::Launching:
            return "Launching";
    }
    return "?";
}
