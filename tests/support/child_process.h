// A tool run as a child process with a private environment and its output in files.
// Thread: the test's thread; a ChildProcess owns its process until it is waited for.
#pragma once

#include <sys/resource.h>
#include <sys/types.h>

#include <chrono>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

struct ChildResult {
    int exitCode = -1;  // -1 when it did not exit normally
    int signal = 0;     // the signal that ended it, 0 when it exited
    std::string out;
    std::string err;
};

struct ChildOptions {
    std::vector<std::string> args;           // args[0] is the program
    std::map<std::string, std::string> env;  // replaces these; HOME, XDG_* and proxies are cleared
    std::filesystem::path outFile;
    std::filesystem::path errFile;
    // A file-size limit for the child (RLIMIT_FSIZE) with SIGXFSZ ignored, so writes past it
    // fail with EFBIG as on a full disk.
    std::optional<rlim_t> fileSizeLimit;
};

// One child process; killed and reaped by the destructor when still running.
class ChildProcess {
public:
    explicit ChildProcess(const ChildOptions& options);
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    bool Started() const { return m_pid > 0; }
    pid_t Pid() const { return m_pid; }
    // True while the child has not ended (it is not reaped by the check).
    bool Running() const;
    void Signal(int sig) const;
    // Waits for the end; a child still running after timeout is killed and reported so.
    ChildResult Wait(std::chrono::milliseconds timeout = std::chrono::seconds(20));

private:
    pid_t m_pid = -1;
    std::filesystem::path m_out;
    std::filesystem::path m_err;
};
