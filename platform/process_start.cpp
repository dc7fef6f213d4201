#include "platform/process_start.h"

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <fstream>
#include <sstream>

extern char** environ;

int StartProcess(const std::vector<std::string>& argv, const std::string& folder, pid_t& pid) {
    if (argv.empty()) {
        return EINVAL;
    }
    std::vector<char*> args;
    for (const std::string& arg : argv) {
        args.push_back(const_cast<char*>(arg.c_str()));
    }
    args.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attributes;
    posix_spawn_file_actions_init(&actions);
    posix_spawnattr_init(&attributes);
    posix_spawn_file_actions_addchdir_np(&actions, folder.c_str());
    // A session of its own: the launcher must not die with the installer's terminal.
    posix_spawnattr_setflags(&attributes,
                             POSIX_SPAWN_SETSID | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
    sigset_t none;
    sigemptyset(&none);
    posix_spawnattr_setsigmask(&attributes, &none);
    sigset_t all;
    sigfillset(&all);
    posix_spawnattr_setsigdefault(&attributes, &all);
    const int error = posix_spawn(&pid, args[0], &actions, &attributes, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    return error;
}

ProcessRunState GetProcessRunState(pid_t pid) {
    int status = 0;
    if (::waitpid(pid, &status, WNOHANG) == pid) {
        return ProcessRunState::Ended;
    }
    char path[64];
    std::snprintf(path, sizeof path, "/proc/%d/stat", static_cast<int>(pid));
    std::ifstream file(path);
    std::string text;
    if (!file || !std::getline(file, text)) {
        return ProcessRunState::Ended;
    }
    // The state follows the command name, which is in parentheses and may hold anything.
    const size_t close = text.rfind(')');
    if (close == std::string::npos || close + 2 >= text.size()) {
        return ProcessRunState::Ended;
    }
    switch (text[close + 2]) {
        case 'S':
            return ProcessRunState::Waiting;
        case 'Z':
        case 'X':
        case 'x':
            return ProcessRunState::Ended;
        default:
            return ProcessRunState::Busy;
    }
}
