// The button rules: one row per run state.
#include "core/run_state.h"

#include <gtest/gtest.h>

#include "core/control_ids.h"

namespace {

TEST(RunState, EachStateEnablesItsButtonsAndCloseAlways) {
    struct Row {
        RunState state;
        bool start, stop, change, run;
    };
    const Row rows[] = {
        {RunState::Ready, true, false, true, false},
        {RunState::Downloading, false, true, false, false},
        {RunState::Stopped, true, false, true, false},
        {RunState::Failed, true, false, true, false},
        {RunState::Completed, false, false, false, true},
        // A started launcher is awaited: Run cannot start a second one.
        {RunState::Launching, false, false, false, false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(RunStateName(row.state));
        EXPECT_EQ(IsControlEnabled(row.state, IDC_START), row.start);
        EXPECT_EQ(IsControlEnabled(row.state, IDC_STOP), row.stop);
        EXPECT_EQ(IsControlEnabled(row.state, IDC_CHANGE_PATH), row.change);
        EXPECT_EQ(IsControlEnabled(row.state, IDC_RUN), row.run);
        for (const int always : {IDC_CLOSE, IDC_CLOSE_BOX, IDC_MINIMIZE_BOX}) {
            EXPECT_TRUE(IsControlEnabled(row.state, always)) << always;
        }
    }
}

}  // namespace
