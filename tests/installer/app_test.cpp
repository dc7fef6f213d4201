// Start-up: one copy of the installer per user session, with the lock itself and with the real
// quellbridger program run as child processes on the offscreen platform.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "platform/instance_lock.h"
#include "platform/process_start.h"
#include "support/env_guard.h"
#include "support/fault_server.h"
#include "support/sandbox.h"
#include "support/test_data.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;

constexpr const char* kLockName = "QUELLBRIDGER_MUTEX_SEA";

bool WaitFor(const std::function<bool()>& done, int timeoutMs) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!done()) {
        if (std::chrono::steady_clock::now() > end) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

// True while pid has not ended; reaps it once it has.
bool IsAlive(pid_t pid) {
    int status = 0;
    return ::waitpid(pid, &status, WNOHANG) == 0;
}

void KillAndReap(pid_t pid) {
    ::kill(pid, SIGKILL);
    ::waitpid(pid, nullptr, 0);
}

// A process that takes the lock and keeps it until told to end (a byte, or the pipe closing)
// or until it is killed. Only plain system calls run after the fork.
class LockHolder {
public:
    LockHolder() {
        int status[2];
        int control[2];
        if (::pipe(status) != 0 || ::pipe(control) != 0) {
            ADD_FAILURE() << "pipe";
            return;
        }
        m_pid = ::fork();
        if (m_pid == 0) {
            ::close(status[0]);
            ::close(control[1]);
            CInstanceLock lock(kLockName);
            const char acquired = lock.Acquire() ? '1' : '0';
            (void)!::write(status[1], &acquired, 1);
            char byte;
            (void)!::read(control[0], &byte, 1);
            ::_exit(0);
        }
        ::close(status[1]);
        ::close(control[0]);
        m_control = control[1];
        char acquired = '?';
        EXPECT_EQ(::read(status[0], &acquired, 1), 1);
        ::close(status[0]);
        m_acquired = acquired == '1';
    }
    ~LockHolder() {
        if (m_control >= 0) {
            ::close(m_control);
        }
        if (m_pid > 0) {
            KillAndReap(m_pid);
        }
    }

    bool Acquired() const { return m_acquired; }
    // Lets the process end normally and waits for it.
    int Exit() {
        (void)!::write(m_control, "x", 1);
        int status = -1;
        ::waitpid(m_pid, &status, 0);
        m_pid = -1;
        return status;
    }
    void Kill() {
        KillAndReap(m_pid);
        m_pid = -1;
    }

private:
    pid_t m_pid = -1;
    int m_control = -1;
    bool m_acquired = false;
};

class InstanceLockTest : public ::testing::Test {
protected:
    void SetUp() override {
        fs::create_directory(m_runtime);
        fs::permissions(m_runtime, fs::perms::owner_all);
        m_env.Set("XDG_RUNTIME_DIR", m_runtime.string());
    }

    Sandbox m_box;
    EnvGuard m_env;
    fs::path m_runtime = m_box.Path() / "run";
};

TEST_F(InstanceLockTest, OneHolderPerSessionFolder) {
    EXPECT_EQ(CInstanceLock::LockPath(kLockName),
              (m_runtime / "QUELLBRIDGER_MUTEX_SEA.lock").string());
    CInstanceLock first(kLockName);
    CInstanceLock second(kLockName);
    ASSERT_TRUE(first.Acquire());
    EXPECT_FALSE(second.Acquire());
    EXPECT_FALSE(second.IsHeld());
    first.Release();
    EXPECT_TRUE(second.Acquire());

    // Another session has its own runtime folder and its own lock.
    Sandbox other;
    m_env.Set("XDG_RUNTIME_DIR", other.Path().string());
    CInstanceLock elsewhere(kLockName);
    EXPECT_TRUE(elsewhere.Acquire());
    EXPECT_TRUE(elsewhere.IsHeld());
}

TEST_F(InstanceLockTest, FreedWhenTheHoldingProcessExitsOrIsKilled) {
    for (const bool killed : {false, true}) {
        SCOPED_TRACE(killed ? "killed" : "exits");
        LockHolder holder;
        ASSERT_TRUE(holder.Acquired());
        CInstanceLock lock(kLockName);
        EXPECT_FALSE(lock.Acquire());
        if (killed) {
            holder.Kill();
        } else {
            EXPECT_EQ(holder.Exit(), 0);
        }
        EXPECT_TRUE(lock.Acquire());
    }
}

TEST_F(InstanceLockTest, AStartedLauncherDoesNotKeepTheLock) {
    CInstanceLock installer(kLockName);
    ASSERT_TRUE(installer.Acquire());
    pid_t launcher = 0;
    ASSERT_EQ(StartProcess({"/bin/sleep", "30"}, m_box.Path().string(), launcher), 0);
    // The installer goes; the game's launcher stays.
    installer.Release();
    CInstanceLock next(kLockName);
    EXPECT_TRUE(next.Acquire());
    KillAndReap(launcher);
}

// ---- The real program ----

#ifdef QB_APP_PATH

// Counts the lines of the program's daily log below home that end with text (ASCII only).
int CountLogLines(const fs::path& home, const std::string& text) {
    int count = 0;
    const fs::path folder = home / ".local/state/Quellbridger";
    if (!fs::is_directory(folder)) {
        return 0;
    }
    for (const auto& entry : fs::directory_iterator(folder)) {
        const std::string bytes = ReadFileBytes(entry.path());
        std::string narrow;
        for (size_t i = 0; i + 1 < bytes.size(); i += 2) {
            narrow += bytes[i + 1] == 0 ? bytes[i] : '?';
        }
        const std::string tail = "] " + text + " \r\n";
        for (size_t at = narrow.find(tail); at != std::string::npos;
             at = narrow.find(tail, at + 1)) {
            ++count;
        }
    }
    return count;
}

class AppProcessTest : public InstanceLockTest {
protected:
    void SetUp() override {
        InstanceLockTest::SetUp();
        m_home = m_env.UseHome(m_box.Path());
        m_env.Set("QT_QPA_PLATFORM", "offscreen");
        FaultRoute list;
        list.body =
            "{\"Version\": \"2023.08.14.01\", \"URL\": \"http://127.0.0.1:1/\", \"TotalCount\": 1,"
            " \"TotalSize\": 3, \"FileList\": [{\"Name\": \"abc.txt\", \"Size\": 3,"
            " \"CheckSum\": \"900150983CD24FB0D6963F7D28E17F72\"}]}\n";
        m_server.SetRoute("/filelist.json", list);
        m_env.Set("QUELLBRIDGER_FILE_LIST_URL", m_server.Url("filelist.json"));
    }
    void TearDown() override {
        for (pid_t pid : m_started) {
            KillAndReap(pid);
        }
    }

    // Reaped children leave the list, so no id that may have been reused is ever signalled.
    bool Alive(pid_t pid) {
        if (IsAlive(pid)) {
            return true;
        }
        std::erase(m_started, pid);
        return false;
    }
    void End(pid_t pid) {
        if (std::erase(m_started, pid) > 0) {
            KillAndReap(pid);
        }
    }

    pid_t Spawn() {
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        const std::string output = (m_box.Path() / "output.txt").string();
        posix_spawn_file_actions_addopen(&actions, 1, output.c_str(), O_WRONLY | O_CREAT | O_APPEND,
                                         0644);
        posix_spawn_file_actions_adddup2(&actions, 1, 2);
        char* argv[] = {const_cast<char*>(QB_APP_PATH), nullptr};
        pid_t pid = -1;
        EXPECT_EQ(posix_spawn(&pid, QB_APP_PATH, &actions, nullptr, argv, environ), 0);
        posix_spawn_file_actions_destroy(&actions);
        m_started.push_back(pid);
        return pid;
    }

    // Waits until the count-th copy has its window ready (its worker made).
    bool WindowsReady(int count) {
        return WaitFor(
            [&] { return CountLogLines(m_home, "download thread create success") >= count; },
            60000);
    }

    // True when pid is alive and asleep now and again a little later: waiting in an event
    // loop, not starting up. A copy that ended counts as not idle.
    bool IdleAtItsMessage(pid_t pid) {
        for (int look = 0; look < 2; ++look) {
            if (look > 0) {
                std::this_thread::sleep_for(std::chrono::milliseconds(200));
            }
            if (!Alive(pid)) {
                return false;
            }
            if (const ProcessRunState state = GetProcessRunState(pid);
                state != ProcessRunState::Waiting) {
                Alive(pid);  // an ended copy, reaped just now, leaves the list
                return false;
            }
        }
        return true;
    }

    FaultServer m_server;
    fs::path m_home;
    std::vector<pid_t> m_started;
};

TEST_F(AppProcessTest, SecondCopyIsRefusedUntilTheFirstIsGone) {
    const pid_t first = Spawn();
    ASSERT_TRUE(WindowsReady(1)) << ReadFileBytes(m_box.Path() / "output.txt");
    ASSERT_TRUE(Alive(first));
    EXPECT_EQ(m_server.Hits("/filelist.json"), 1u);

    // The second copy stops at its message: it neither logs nor asks for the file list. On
    // the offscreen platform nobody can close that message; once the copy sits idle in it
    // (asleep on two looks apart), everything it would have done before is done.
    const pid_t second = Spawn();
    ASSERT_TRUE(WaitFor([&] { return IdleAtItsMessage(second); }, 60000))
        << ReadFileBytes(m_box.Path() / "output.txt");
    EXPECT_TRUE(Alive(second));
    EXPECT_EQ(CountLogLines(m_home, "log initialize success"), 1);
    EXPECT_EQ(m_server.Hits("/filelist.json"), 1u);
    EXPECT_TRUE(Alive(first));
    End(second);

    // A killed first copy leaves the way free.
    End(first);
    const pid_t third = Spawn();
    EXPECT_TRUE(WindowsReady(2));
    EXPECT_TRUE(Alive(third));
    EXPECT_EQ(m_server.Hits("/filelist.json"), 2u);
}

#endif

}  // namespace
