// How a file is started the way the desktop would open it, judged by its first bytes: the one
// rule shared by the launcher start and the shortcuts. Thread: any; stateless.
#pragma once

#include <string>
#include <vector>

enum class LaunchKind {
    WindowsProgram,  // "MZ": run through wine from PATH
    Script,          // "#!": run through the interpreter its first line names
    NativeProgram,   // ELF: run directly (needs the owner's execute bit)
};

struct LaunchCommand {
    LaunchKind kind = LaunchKind::NativeProgram;
    std::vector<std::string> argv;  // argv[0] is the program to execute; the file is last
};

// 0 and the command for path, or an errno: the file's own open/read error (ENOENT for a
// missing file), ENOENT when wine or the interpreter cannot be found, EACCES when the
// interpreter is not executable, ENOEXEC for an empty file or unknown contents.
// Nothing on disk is changed.
int GetLaunchCommand(const std::string& path, LaunchCommand& command);

// Adds the owner's execute bit when it is missing (native programs lose it in downloads).
// Returns 0 or errno.
int EnsureOwnerExecutable(const std::string& path);

// The absolute path of an executable named name on $PATH (or name itself if it holds a
// '/'); empty when there is none.
std::string FindProgramOnPath(const std::string& name);
