// A disk that fills up in the middle of a file: the run ends with the space message, reports
// nothing done that is not, keeps the first bytes, and once space is freed the next run
// resumes and completes. Two ways to run out of space, each used where the machine allows:
// a small tmpfs in a private mount namespace (root only), and a file-size limit on the
// program (anyone).
#include <errno.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sched.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <functional>
#include <iostream>
#include <string>
#include <thread>
#include <vector>

#include "faults/faults_support.h"
#include "platform/string_table.h"
#include "support/fault_server.h"
#include "support/sandbox.h"
#include "support/test_data.h"

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using namespace faults;

namespace {

// A tmpfs of a given size, mounted in a mount namespace of its own that a child process
// holds; the test and the program reach it through the child's /proc/<pid>/root. The mount
// goes away with the child.
class PrivateTmpfs {
public:
    PrivateTmpfs(const fs::path& mountPoint, size_t bytes) : m_mountPoint(mountPoint) {
        fs::create_directories(mountPoint);
        int ready[2];
        if (::pipe2(ready, O_CLOEXEC) != 0) {
            m_error = std::string("pipe2: ") + std::strerror(errno);
            return;
        }
        const std::string target = mountPoint.string();
        const std::string options = "size=" + std::to_string(bytes);
        const pid_t parent = ::getpid();
        m_pid = ::fork();
        if (m_pid == 0) {
            ::close(ready[0]);
            ::prctl(PR_SET_PDEATHSIG, SIGKILL);
            int report[2] = {0, 0};
            if (::getppid() != parent) {
                ::_exit(1);
            }
            if (::unshare(CLONE_NEWNS) != 0) {
                report[0] = 1;
            } else if (::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) {
                report[0] = 2;
            } else if (::mount("qb-full-disk", target.c_str(), "tmpfs", 0, options.c_str()) != 0) {
                report[0] = 3;
            }
            report[1] = errno;
            (void)!::write(ready[1], report, sizeof report);
            if (report[0] != 0) {
                ::_exit(1);
            }
            for (;;) {
                ::pause();
            }
        }
        ::close(ready[1]);
        if (m_pid < 0) {
            m_error = std::string("fork: ") + std::strerror(errno);
            ::close(ready[0]);
            return;
        }
        int report[2] = {-1, 0};
        pollfd wait{ready[0], POLLIN, 0};
        if (::poll(&wait, 1, 5000) != 1 ||
            ::read(ready[0], report, sizeof report) != sizeof report) {
            report[0] = -1;
        }
        ::close(ready[0]);
        static const char* const kSteps[] = {"", "unshare(CLONE_NEWNS)", "making / private",
                                             "mount -t tmpfs"};
        if (report[0] < 0) {
            m_error = "the namespace holder did not answer";
        } else if (report[0] > 0) {
            m_error = std::string(kSteps[report[0]]) + ": " + std::strerror(report[1]);
        }
    }

    ~PrivateTmpfs() {
        if (m_pid > 0) {
            ::kill(m_pid, SIGKILL);
            ::waitpid(m_pid, nullptr, 0);
        }
    }

    PrivateTmpfs(const PrivateTmpfs&) = delete;
    PrivateTmpfs& operator=(const PrivateTmpfs&) = delete;

    bool Ok() const { return m_pid > 0 && m_error.empty(); }
    const std::string& Error() const { return m_error; }
    // The mounted file system as seen from this process.
    fs::path Path() const {
        return fs::path("/proc/" + std::to_string(m_pid) + "/root") / m_mountPoint.relative_path();
    }

private:
    fs::path m_mountPoint;
    pid_t m_pid = -1;
    std::string m_error;
};

// Writes zeros into path until the file system is full; the bytes written.
uint64_t FillUp(const fs::path& path) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) {
        return 0;
    }
    const std::string zeros(64 * 1024, '\0');
    uint64_t written = 0;
    // Bounded: the file system is far smaller than this.
    while (written < (256ull << 20)) {
        const ssize_t n = ::write(fd, zeros.data(), zeros.size());
        if (n <= 0) {
            break;
        }
        written += static_cast<uint64_t>(n);
    }
    ::close(fd);
    return written;
}

const Corpus& DiskCorpus() {
    static const Corpus corpus{
        {"a.bin", MakeBytes(200000, 71)},
        {"data/big.bin", MakeBytes(3 * 1024 * 1024, 72)},
        {"c.bin", MakeBytes(100000, 73)},
    };
    return corpus;
}

// The common part of both ways: the failed run's outcome, then the run after space came
// back. errorCode is the errno the failed write must have logged.
void CheckFullThenResume(CliHome& home, FaultServer& server, const fs::path& install,
                         const ChildResult& failed, int errorCode,
                         const std::function<void()>& freeSpace) {
    const Corpus& corpus = DiskCorpus();
    EXPECT_EQ(failed.exitCode, 1) << failed.out << failed.err;
    EXPECT_NE(failed.err.find(LoadFormatString(108)), std::string::npos) << failed.err;
    // Nothing reported done that is not: no completion, and the file that failed is not
    // among the finished ones.
    EXPECT_EQ(failed.out.find("All "), std::string::npos) << failed.out;
    EXPECT_EQ(failed.out.find("data/big.bin downloaded"), std::string::npos) << failed.out;
    bool torn = false;
    bool logged = false;
    for (const std::string& line : home.LogLines(&torn)) {
        logged = logged || line.find("[ERROR] failed to download file - (" +
                                     std::to_string(errorCode) + ") ") != std::string::npos;
    }
    EXPECT_TRUE(logged) << "no failed write with errno " << errorCode << " in the log";
    EXPECT_FALSE(torn);

    const uint64_t partial = FileSize(install / "data/big.bin");
    EXPECT_GT(partial, 0u);
    EXPECT_LT(partial, corpus[1].bytes.size());
    EXPECT_EQ(CheckPrefixes(install, corpus), "");
    if (TestJobs() == 1) {
        EXPECT_FALSE(fs::exists(install / "c.bin"));
    }

    freeSpace();
    ServeCorpus(server, corpus);
    const size_t requestsBefore = server.Requests().size();
    const ChildResult next =
        home.Run({"--list", server.Url("filelist.json"), "--dir", install.string()});
    EXPECT_EQ(next.exitCode, 0) << next.out << next.err;
    EXPECT_NE(next.out.find("All 3 files are in place"), std::string::npos) << next.out;
    EXPECT_EQ(CheckComplete(install, corpus), "");
    std::vector<std::string> big;
    const std::vector<FaultRequest> requests = server.Requests();
    for (size_t i = requestsBefore; i < requests.size(); ++i) {
        if (requests[i].path == "/data/big.bin") {
            big.push_back(requests[i].Header("Range"));
        }
    }
    EXPECT_EQ(big, std::vector<std::string>{"bytes=" + std::to_string(partial) + "-"});
}

// A tmpfs of 8 MiB that another program fills while the big file comes in: writes fail with
// ENOSPC.
bool RunOnSmallFileSystem(std::string& reason) {
    CliHome home;
    PrivateTmpfs disk(home.Root() / "disk", 8u << 20);
    if (!disk.Ok()) {
        reason = disk.Error();
        return false;
    }
    const Corpus& corpus = DiskCorpus();
    FaultServer server;
    ServeCorpus(server, corpus);
    FaultRoute slow;
    slow.body = corpus[1].bytes;
    slow.trickleBytesPerSecond = 1000000;
    server.SetRoute("/data/big.bin", slow);
    FaultRoute listRoute;
    listRoute.body = ListDocument(MakeList(server.BaseUrl(), corpus));
    server.SetRoute("/filelist.json", listRoute);

    const fs::path install = disk.Path() / "install";
    ChildProcess child(
        home.Options({"--list", server.Url("filelist.json"), "--dir", install.string()}));
    EXPECT_TRUE(child.Started());
    const auto deadline = Clock::now() + 10s;
    while (FileSize(install / "data/big.bin") < 500000 && child.Running() &&
           Clock::now() < deadline) {
        std::this_thread::sleep_for(5ms);
    }
    EXPECT_GE(FileSize(install / "data/big.bin"), 500000u);
    const uint64_t filler = FillUp(disk.Path() / "filler");
    EXPECT_GT(filler, 0u);
    const ChildResult failed = child.Wait(10s);
    CheckFullThenResume(home, server, install, failed, ENOSPC,
                        [&] { fs::remove(disk.Path() / "filler"); });
    return true;
}

// The program may write no file past 1 MiB: writes fail with EFBIG, as on a full disk.
bool RunWithFileSizeLimit(std::string& reason) {
    CliHome home;
    const Corpus& corpus = DiskCorpus();
    FaultServer server;
    ServeCorpus(server, corpus);
    FaultRoute listRoute;
    listRoute.body = ListDocument(MakeList(server.BaseUrl(), corpus));
    server.SetRoute("/filelist.json", listRoute);

    const fs::path install = home.Root() / "install";
    ChildOptions options =
        home.Options({"--list", server.Url("filelist.json"), "--dir", install.string()});
    options.fileSizeLimit = 1u << 20;
    ChildProcess child(options);
    const ChildResult failed = child.Wait(10s);
    if (failed.exitCode == 126) {
        reason = "setrlimit(RLIMIT_FSIZE) failed in the child";
        return false;
    }
    CheckFullThenResume(home, server, install, failed, EFBIG, [] {});
    return true;
}

TEST(FullDisk, RunEndsWithTheSpaceMessageAndTheNextRunResumes) {
    struct Way {
        const char* name;
        bool (*run)(std::string& reason);
    };
    int ran = 0;
    std::string reasons;
    for (const Way& way : {Way{"small tmpfs in a private mount namespace", RunOnSmallFileSystem},
                           Way{"file-size limit", RunWithFileSizeLimit}}) {
        SCOPED_TRACE(way.name);
        std::string reason;
        if (way.run(reason)) {
            ++ran;
            std::cout << "[ full disk ] ran with a " << way.name << "\n";
        } else {
            reasons += std::string(way.name) + ": " + reason + "\n";
            std::cout << "[ full disk ] no " << way.name << " here: " << reason << "\n";
        }
    }
    EXPECT_GT(ran, 0) << "no way to fill a disk on this machine:\n" << reasons;
}

}  // namespace
