#include "platform/shortcut.h"

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <map>

#include <gtest/gtest.h>

#include "support/env_guard.h"
#include "support/sandbox.h"
#include "support/test_data.h"

namespace {

namespace fs = std::filesystem;

// A Desktop Entry read back by the rules of the standard, independent of the writer.
struct ParsedEntry {
    std::string group;
    std::map<std::string, std::string> keys;  // string values already unescaped
};

std::string UnescapeValue(const std::string& raw) {
    std::string out;
    for (size_t i = 0; i < raw.size(); ++i) {
        if (raw[i] != '\\' || i + 1 == raw.size()) {
            out += raw[i];
            continue;
        }
        const char c = raw[++i];
        out += c == 's' ? ' ' : c == 'n' ? '\n' : c == 't' ? '\t' : c == 'r' ? '\r' : c;
    }
    return out;
}

ParsedEntry ParseEntry(const std::string& text) {
    ParsedEntry entry;
    size_t begin = 0;
    while (begin < text.size()) {
        size_t end = text.find('\n', begin);
        const std::string line = text.substr(begin, end - begin);
        begin = end == std::string::npos ? text.size() : end + 1;
        if (line.empty() || line[0] == '#') {
            continue;
        }
        if (line[0] == '[') {
            entry.group = line;
            continue;
        }
        const size_t eq = line.find('=');
        EXPECT_NE(eq, std::string::npos) << line;
        EXPECT_EQ(entry.keys.count(line.substr(0, eq)), 0u) << "duplicate " << line;
        entry.keys[line.substr(0, eq)] = UnescapeValue(line.substr(eq + 1));
    }
    return entry;
}

// Splits an (already unescaped) Exec value into arguments.
std::vector<std::string> SplitExec(const std::string& exec) {
    std::vector<std::string> args;
    size_t i = 0;
    while (i < exec.size()) {
        if (exec[i] == ' ') {
            ++i;
            continue;
        }
        std::string arg;
        if (exec[i] == '"') {
            for (++i; i < exec.size() && exec[i] != '"'; ++i) {
                if (exec[i] == '\\' && i + 1 < exec.size()) {
                    ++i;
                }
                arg += exec[i];
            }
            ++i;
        } else {
            for (; i < exec.size() && exec[i] != ' '; ++i) {
                arg += exec[i];
            }
        }
        std::string decoded;
        for (size_t k = 0; k < arg.size(); ++k) {
            decoded += arg[k];
            if (arg[k] == '%' && k + 1 < arg.size() && arg[k + 1] == '%') {
                ++k;
            }
        }
        args.push_back(decoded);
    }
    return args;
}

// Runs argv in folder the way a desktop starts an entry; returns the exit status.
int RunCommand(const std::vector<std::string>& argv, const std::string& folder) {
    const pid_t pid = fork();
    if (pid == 0) {
        std::vector<char*> args;
        for (const std::string& a : argv) {
            args.push_back(const_cast<char*>(a.c_str()));
        }
        args.push_back(nullptr);
        if (chdir(folder.c_str()) == 0) {
            execv(args[0], args.data());
        }
        _exit(127);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

mode_t ModeOf(const fs::path& path) {
    struct stat st {};
    EXPECT_EQ(::stat(path.c_str(), &st), 0) << path;
    return st.st_mode & 07777;
}

class ShortcutTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_home = m_env.UseHome(m_box.Path());
        fs::create_directories(m_home / "Desktop");
        m_env.Set("PATH", (m_box.Path() / "bin").string() + ":/usr/bin:/bin");
    }

    // A launcher script that leaves "ran" with its arguments in its working folder.
    std::string MakeScript(const std::string& rel) {
        return m_box.Write(rel, "#!/bin/sh\nprintf '%s' \"$0\" > ran\n").string();
    }

    fs::path Desktop() const { return m_home / "Desktop/Talvermoor.desktop"; }
    fs::path Menu() const {
        return m_home / ".local/share/applications/Talvermoor/Talvermoor.desktop";
    }

    Sandbox m_box;
    EnvGuard m_env;
    fs::path m_home;
};

TEST_F(ShortcutTest, EntriesStartTheTargetInItsFolder) {
    // Names with every kind of character the Exec rules treat specially.
    const char* folders[] = {
        "My Games/Talvermoor", "q\"uote `tick` $dollar",          "back\\slash",
        "100% sure",           "semi;colon (x) & <y> ~ 'z' #*?|", "tab\there"};
    for (const char* folder : folders) {
        const std::string target = MakeScript(std::string(folder) + "/QXLauncher.exe");
        ASSERT_TRUE(CreateDesktopShortcut(target.c_str(), target.c_str())) << folder;
        ASSERT_TRUE(CreateStartMenuShortcut(target.c_str(), target.c_str())) << folder;
        for (const fs::path& file : {Desktop(), Menu()}) {
            const ParsedEntry entry = ParseEntry(ReadFileBytes(file));
            EXPECT_EQ(entry.group, "[Desktop Entry]");
            EXPECT_EQ(entry.keys.at("Type"), "Application");
            EXPECT_EQ(entry.keys.at("Name"), "Talvermoor");
            EXPECT_EQ(entry.keys.at("Path"), fs::path(target).parent_path().string());
            EXPECT_EQ(entry.keys.at("Icon"), target);
            const std::vector<std::string> argv = SplitExec(entry.keys.at("Exec"));
            EXPECT_EQ(argv, (std::vector<std::string>{"/bin/sh", target})) << folder;
            EXPECT_EQ(ModeOf(file), 0755u);

            fs::remove(fs::path(target).parent_path() / "ran");
            EXPECT_EQ(RunCommand(argv, entry.keys.at("Path")), 0);
            EXPECT_EQ(ReadFileBytes(fs::path(target).parent_path() / "ran"), target);
        }
    }
}

TEST_F(ShortcutTest, WindowsProgramRunsThroughWineAndNativeOneGetsExecuteBit) {
    m_box.Write("bin/wine", "#!/bin/sh\nexit 0\n");
    fs::permissions(m_box.Path() / "bin/wine", fs::perms::owner_all);
    const std::string exe = m_box.Write("game/QXLauncher.exe", "MZ\x90").string();
    ASSERT_TRUE(CreateDesktopShortcut(exe.c_str(), nullptr));
    ParsedEntry entry = ParseEntry(ReadFileBytes(Desktop()));
    EXPECT_EQ(SplitExec(entry.keys.at("Exec")),
              (std::vector<std::string>{(m_box.Path() / "bin/wine").string(), exe}));
    EXPECT_EQ(entry.keys.count("Icon"), 0u);

    const std::string native = (m_box.Path() / "game/native").string();
    fs::copy_file("/bin/true", native);
    fs::permissions(native, fs::perms::owner_read | fs::perms::owner_write);
    ASSERT_TRUE(CreateStartMenuShortcut(native.c_str(), nullptr));
    entry = ParseEntry(ReadFileBytes(Menu()));
    EXPECT_EQ(SplitExec(entry.keys.at("Exec")), (std::vector<std::string>{native}));
    EXPECT_EQ(ModeOf(native) & 0100, 0100u);
    EXPECT_EQ(RunCommand({native}, entry.keys.at("Path")), 0);
}

TEST_F(ShortcutTest, SecondRunOverwritesAndLeavesNoTemporaryFiles) {
    const std::string first = MakeScript("one/QXLauncher.exe");
    const std::string second = MakeScript("two/QXLauncher.exe");
    ASSERT_TRUE(CreateDesktopShortcut(first.c_str(), first.c_str()));
    ASSERT_TRUE(CreateStartMenuShortcut(first.c_str(), first.c_str()));
    fs::permissions(Desktop(), fs::perms::owner_read);  // an older, read-only entry
    ASSERT_TRUE(CreateDesktopShortcut(second.c_str(), nullptr));
    ASSERT_TRUE(CreateStartMenuShortcut(second.c_str(), nullptr));

    for (const fs::path& file : {Desktop(), Menu()}) {
        const ParsedEntry entry = ParseEntry(ReadFileBytes(file));
        EXPECT_EQ(entry.keys.at("Path"), fs::path(second).parent_path().string());
        EXPECT_EQ(entry.keys.count("Icon"), 0u);
        EXPECT_EQ(ModeOf(file), 0755u);
        size_t files = 0;
        for (const auto& item : fs::directory_iterator(file.parent_path())) {
            files += item.is_regular_file() ? 1 : 0;
        }
        EXPECT_EQ(files, 1u) << file.parent_path();
    }
}

TEST_F(ShortcutTest, MenuFolderIsMadeOrReused) {
    const std::string target = MakeScript("game/QXLauncher.exe");
    // A fresh account: not even the applications folder exists.
    ASSERT_FALSE(fs::exists(m_home / ".local"));
    EXPECT_TRUE(CreateStartMenuShortcut(target.c_str(), nullptr));
    EXPECT_TRUE(fs::is_regular_file(Menu()));
    fs::remove(Menu());
    EXPECT_TRUE(CreateStartMenuShortcut(target.c_str(), nullptr));  // folder already there
    EXPECT_TRUE(fs::is_regular_file(Menu()));

    m_env.Set("XDG_DATA_HOME", (m_box.Path() / "data").string());
    m_box.Write("data/applications/Talvermoor", "a file where the folder belongs");
    EXPECT_FALSE(CreateStartMenuShortcut(target.c_str(), nullptr));
}

TEST_F(ShortcutTest, BadTargetsFailBeforeAnythingIsWritten) {
    m_box.Write("bin/placeholder", "");
    const std::string missing = (m_box.Path() / "game/QXLauncher.exe").string();
    const std::string text = m_box.Write("game/readme.txt", "not a program").string();
    for (const char* target :
         {"", "/", missing.c_str(), text.c_str(), static_cast<const char*>(nullptr)}) {
        EXPECT_FALSE(CreateStartMenuShortcut(target, nullptr)) << (target ? target : "null");
        EXPECT_FALSE(CreateDesktopShortcut(target, nullptr)) << (target ? target : "null");
    }
    EXPECT_FALSE(fs::exists(Desktop()));
    EXPECT_FALSE(fs::exists(m_home / ".local/share/applications/Talvermoor"));
}

TEST_F(ShortcutTest, MissingDesktopOrHomeFails) {
    const std::string target = MakeScript("game/QXLauncher.exe");
    fs::remove(m_home / "Desktop");
    EXPECT_FALSE(CreateDesktopShortcut(target.c_str(), nullptr));
    m_env.Unset("HOME");
    EXPECT_FALSE(CreateStartMenuShortcut(target.c_str(), nullptr));
}

}  // namespace
