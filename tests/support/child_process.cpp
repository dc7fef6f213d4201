#include "support/child_process.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <thread>

#include "support/test_data.h"

extern char** environ;

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

ChildProcess::ChildProcess(const ChildOptions& options)
    : m_out(options.outFile), m_err(options.errFile) {
    // Everything the child needs is built before fork: after it only system calls are made.
    std::vector<std::string> envText;
    auto cleared = [&](const std::string& name) {
        if (options.env.count(name) != 0 || name == "HOME" || name.rfind("XDG_", 0) == 0 ||
            name == "QUELLBRIDGER_FILE_LIST_URL") {
            return true;
        }
        std::string lower = name;
        std::transform(lower.begin(), lower.end(), lower.begin(), ::tolower);
        return lower.find("proxy") != std::string::npos;
    };
    for (char** e = environ; *e != nullptr; ++e) {
        const std::string entry = *e;
        if (!cleared(entry.substr(0, entry.find('=')))) {
            envText.push_back(entry);
        }
    }
    for (const auto& [name, value] : options.env) {
        envText.push_back(name + "=" + value);
    }
    std::vector<char*> argv;
    for (const std::string& arg : options.args) {
        argv.push_back(const_cast<char*>(arg.c_str()));
    }
    argv.push_back(nullptr);
    std::vector<char*> envp;
    for (const std::string& entry : envText) {
        envp.push_back(const_cast<char*>(entry.c_str()));
    }
    envp.push_back(nullptr);
    const std::string out = m_out.string();
    const std::string err = m_err.string();
    const pid_t parent = ::getpid();

    m_pid = ::fork();
    if (m_pid != 0) {
        return;
    }
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (::getppid() != parent) {
        ::_exit(127);
    }
    const int in = ::open("/dev/null", O_RDONLY);
    const int o = ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const int e = ::open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (in < 0 || o < 0 || e < 0 || ::dup2(in, 0) < 0 || ::dup2(o, 1) < 0 || ::dup2(e, 2) < 0) {
        ::_exit(127);
    }
    struct sigaction standard {};
    standard.sa_handler = SIG_DFL;
    for (int sig : {SIGINT, SIGTERM, SIGPIPE, SIGXFSZ}) {
        ::sigaction(sig, &standard, nullptr);
    }
    sigset_t none;
    sigemptyset(&none);
    ::sigprocmask(SIG_SETMASK, &none, nullptr);
    if (options.fileSizeLimit) {
        struct sigaction ignore {};
        ignore.sa_handler = SIG_IGN;
        ::sigaction(SIGXFSZ, &ignore, nullptr);
        const rlimit limit{*options.fileSizeLimit, *options.fileSizeLimit};
        if (::setrlimit(RLIMIT_FSIZE, &limit) != 0) {
            ::_exit(126);
        }
    }
    ::execve(argv[0], argv.data(), envp.data());
    ::_exit(127);
}

ChildProcess::~ChildProcess() {
    if (m_pid > 0) {
        ::kill(m_pid, SIGKILL);
        ::waitpid(m_pid, nullptr, 0);
    }
}

bool ChildProcess::Running() const {
    if (m_pid <= 0) {
        return false;
    }
    siginfo_t info{};
    return ::waitid(P_PID, static_cast<id_t>(m_pid), &info, WEXITED | WNOHANG | WNOWAIT) == 0 &&
           info.si_pid == 0;
}

void ChildProcess::Signal(int sig) const {
    if (m_pid > 0) {
        ::kill(m_pid, sig);
    }
}

ChildResult ChildProcess::Wait(std::chrono::milliseconds timeout) {
    ChildResult result;
    const auto deadline = Clock::now() + timeout;
    while (m_pid > 0) {
        int status = 0;
        const pid_t done = ::waitpid(m_pid, &status, WNOHANG);
        if (done == m_pid) {
            m_pid = -1;
            if (WIFEXITED(status)) {
                result.exitCode = WEXITSTATUS(status);
            } else if (WIFSIGNALED(status)) {
                result.signal = WTERMSIG(status);
            }
            break;
        }
        if (Clock::now() >= deadline) {
            ::kill(m_pid, SIGKILL);
            ::waitpid(m_pid, nullptr, 0);
            m_pid = -1;
            result.err = "(the child did not end in time and was killed)\n";
            result.signal = SIGKILL;
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    result.out = ReadFileBytes(m_out);
    result.err += ReadFileBytes(m_err);
    return result;
}
