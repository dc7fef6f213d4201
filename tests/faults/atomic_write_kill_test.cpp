// The settings store and the shortcuts under SIGKILL: a child process rewrites them without
// pause and is killed at random moments; after every kill each value or shortcut holds its
// old or its new text whole, never a mix, never nothing, and no temporary file is ever read
// in its place.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <iostream>
#include <random>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "faults/faults_support.h"
#include "platform/settings_key.h"
#include "platform/shortcut.h"
#include "support/env_guard.h"
#include "support/sandbox.h"
#include "support/test_data.h"

namespace fs = std::filesystem;
using namespace faults;

namespace {

constexpr int kKills = 30;
constexpr uint32_t kSeed = 4242;
const char* const kKey = "SOFTWARE\\HOLLOWMERE WORKS\\Quellbridger";

// Forks a child that runs write() for ever, and SIGKILLs it after a random moment; then
// check() looks at what is on disk. Returns how many kills found a temporary file left
// behind, that is, how many landed inside a write.
int KillWhileWriting(const std::function<void(unsigned)>& write,
                     const std::function<void(int kill)>& check,
                     const std::function<size_t()>& temporaries) {
    std::mt19937 random(kSeed);
    std::uniform_int_distribution<int> delayUs(0, 20000);
    int inside = 0;
    for (int kill = 0; kill < kKills; ++kill) {
        const size_t before = temporaries();
        const pid_t pid = ::fork();
        if (pid == 0) {
            for (unsigned n = 0;; ++n) {
                write(n);
            }
        }
        EXPECT_GT(pid, 0);
        if (pid <= 0) {
            return inside;
        }
        std::this_thread::sleep_for(std::chrono::microseconds(delayUs(random)));
        ::kill(pid, SIGKILL);
        int status = 0;
        ::waitpid(pid, &status, 0);
        EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL);
        if (temporaries() > before) {
            ++inside;
        }
        check(kill);
    }
    return inside;
}

// Entries of folder that are not in names.
std::vector<std::string> Others(const fs::path& folder, const std::set<std::string>& names) {
    std::vector<std::string> out;
    for (const auto& entry : fs::directory_iterator(folder)) {
        const std::string name = entry.path().filename().string();
        if (!names.count(name)) {
            out.push_back(name);
        }
    }
    return out;
}

TEST(AtomicWritesUnderKill, SettingsValueIsOldOrNewAfterEveryKill) {
    Sandbox box;
    EnvGuard env;
    env.UseHome(box.Path());
    CSettingsKey key;
    ASSERT_EQ(key.Create(kKey), 0);
    const fs::path folder = key.GetFolder();
    // Different lengths and characters: any mix or cut of two of them is none of them.
    const std::string initial = box.Path().string() + "/home/Games/HOLLOWMERE WORKS/Talvermoor";
    const std::string first = "/srv/games/" + std::string(200, 'A');
    const std::string second = "/mnt/other disk/Talvermoor " + std::string(120, 'b');
    ASSERT_EQ(key.SetStringValue("InstallPath", initial), 0);
    const std::set<std::string> allowed{initial, first, second};

    const int inside = KillWhileWriting(
        [&](unsigned n) { key.SetStringValue("InstallPath", n % 2 ? second : first); },
        [&](int kill) {
            SCOPED_TRACE("kill " + std::to_string(kill));
            std::string value;
            ASSERT_EQ(key.QueryStringValue("InstallPath", value), 0);
            EXPECT_TRUE(allowed.count(value)) << "\"" << value << "\"";
            EXPECT_TRUE(allowed.count(ReadFileBytes(folder / "InstallPath")));
            // Whatever else lies in the key is a temporary file that no query can reach.
            for (const std::string& name : Others(folder, {"InstallPath"})) {
                EXPECT_EQ(name.rfind(".InstallPath.", 0), 0u) << name;
                std::string other;
                EXPECT_NE(key.QueryStringValue(name, other), 0) << name;
            }
        },
        [&] { return Others(folder, {"InstallPath"}).size(); });
    // Most kills land inside a write (the flushes take nearly all of the child's time).
    EXPECT_GE(inside, 1);
    std::cout << "[ atomic writes ] " << inside << " of " << kKills
              << " kills left a temporary settings file\n";
}

TEST(AtomicWritesUnderKill, ShortcutsAreOldOrNewAfterEveryKill) {
    Sandbox box;
    EnvGuard env;
    const fs::path home = env.UseHome(box.Path());
    fs::create_directories(home / "Desktop");
    // Two launchers: scripts the desktop starts through their interpreter.
    const std::string targetA = box.Write("games/one/QXLauncher.exe", "#!/bin/sh\nexit 0\n");
    const std::string targetB =
        box.Write("games/the second place/QXLauncher.exe", "#!/bin/sh\nexit 0\n");
    const std::string icon = (box.Path() / "games/icon.png").string();
    std::string entryA;
    std::string entryB;
    ASSERT_EQ(MakeShortcutEntry(targetA, icon.c_str(), entryA), 0);
    ASSERT_EQ(MakeShortcutEntry(targetB, nullptr, entryB), 0);
    ASSERT_TRUE(CreateDesktopShortcut(targetA.c_str(), icon.c_str()));
    ASSERT_TRUE(CreateStartMenuShortcut(targetA.c_str(), icon.c_str()));
    const fs::path desktop = home / "Desktop";
    const fs::path menu = home / ".local/share/applications/Talvermoor";
    const std::set<std::string> allowed{entryA, entryB};

    const int inside = KillWhileWriting(
        [&](unsigned n) {
            const bool b = n % 2 != 0;
            CreateDesktopShortcut(b ? targetB.c_str() : targetA.c_str(),
                                  b ? nullptr : icon.c_str());
            CreateStartMenuShortcut(b ? targetB.c_str() : targetA.c_str(),
                                    b ? nullptr : icon.c_str());
        },
        [&](int kill) {
            SCOPED_TRACE("kill " + std::to_string(kill));
            for (const fs::path& folder : {desktop, menu}) {
                const fs::path file = folder / "Talvermoor.desktop";
                EXPECT_TRUE(allowed.count(ReadFileBytes(file))) << file;
                struct stat st {};
                ASSERT_EQ(::stat(file.c_str(), &st), 0);
                EXPECT_EQ(st.st_mode & 0777, 0755u);
                for (const std::string& name : Others(folder, {"Talvermoor.desktop"})) {
                    EXPECT_EQ(name.rfind(".Talvermoor.desktop.", 0), 0u) << name;
                }
            }
        },
        [&] {
            return Others(desktop, {"Talvermoor.desktop"}).size() +
                   Others(menu, {"Talvermoor.desktop"}).size();
        });
    EXPECT_GE(inside, 1);
    std::cout << "[ atomic writes ] " << inside << " of " << kKills
              << " kills left a temporary shortcut file\n";
}

}  // namespace
