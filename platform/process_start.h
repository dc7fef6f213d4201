// Starting a program that outlives the installer, and watching whether it is ready for input.
// Thread: any; the caller owns the process id it gets.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

// 0 and the new process's id, or an errno. The child runs argv in folder, in a session of
// its own, with nothing of ours inherited but the standard streams.
int StartProcess(const std::vector<std::string>& argv, const std::string& folder, pid_t& pid);

enum class ProcessRunState {
    Waiting,  // alive and asleep: waiting for input or events
    Busy,     // alive and running (or in an uninterruptible wait)
    Ended,    // gone, or ended and not yet reaped (then reaped here)
};

// The state of a child started by StartProcess, from /proc/<pid>/stat.
ProcessRunState GetProcessRunState(pid_t pid);
