#include "platform/launch_command.h"

#include <sys/stat.h>

#include <cerrno>
#include <filesystem>

#include <gtest/gtest.h>

#include "support/env_guard.h"
#include "support/sandbox.h"

namespace {

namespace fs = std::filesystem;

class LaunchCommandTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_box.Write("bin/wine", "#!/bin/sh\nexit 0\n");
        fs::permissions(m_box.Path() / "bin/wine", fs::perms::owner_all);
        m_env.Set("PATH", (m_box.Path() / "bin").string() + ":/usr/bin:/bin");
    }

    std::string Make(const std::string& name, const std::string& bytes) {
        return m_box.Write(name, bytes).string();
    }

    Sandbox m_box;
    EnvGuard m_env;
};

TEST_F(LaunchCommandTest, FirstBytesChooseHowTheFileRuns) {
    const std::string wine = (m_box.Path() / "bin/wine").string();
    struct Case {
        const char* name;
        std::string bytes;
        LaunchKind kind;
        std::vector<std::string> head;  // argv without the file itself
    };
    const Case cases[] = {
        {"win.exe", std::string("MZ\x90\0\3", 5), LaunchKind::WindowsProgram, {wine}},
        {"plain.sh", "#!/bin/sh\necho\n", LaunchKind::Script, {"/bin/sh"}},
        {"spaced.sh", "#! /bin/sh   -e  \necho\n", LaunchKind::Script, {"/bin/sh", "-e"}},
        {"env.py",
         "#!/usr/bin/env python3 -u\n",
         LaunchKind::Script,
         {"/usr/bin/env", "python3 -u"}},
        {"crlf.sh", "#!/bin/sh\r\n", LaunchKind::Script, {"/bin/sh"}},
        {"native",
         std::string("\x7f"
                     "ELF\2\1\1",
                     7),
         LaunchKind::NativeProgram,
         {}},
    };
    for (const Case& c : cases) {
        const std::string path = Make(c.name, c.bytes);
        LaunchCommand command;
        ASSERT_EQ(GetLaunchCommand(path, command), 0) << c.name;
        EXPECT_EQ(command.kind, c.kind) << c.name;
        std::vector<std::string> expected = c.head;
        expected.push_back(path);
        EXPECT_EQ(command.argv, expected) << c.name;
    }
}

TEST_F(LaunchCommandTest, FilesThatCannotBeStartedGiveTheirErrno) {
    const struct {
        const char* name;
        std::string bytes;  // empty name: the file is missing
        int error;
    } cases[] = {
        {"", "", ENOENT},
        {"empty", "", ENOEXEC},
        {"text.txt", "hello", ENOEXEC},
        {"m", "M", ENOEXEC},
        {"nointerp.sh", "#!/no/such/shell\n", ENOENT},
        {"relative.sh", "#!sh\n", ENOEXEC},
        {"blank.sh", "#!   \n", ENOEXEC},
    };
    for (const auto& c : cases) {
        const std::string path =
            c.name[0] ? Make(c.name, c.bytes) : (m_box.Path() / "missing").string();
        LaunchCommand command;
        EXPECT_EQ(GetLaunchCommand(path, command), c.error) << c.name;
    }
    // Even root may not run a file without any execute bit as an interpreter.
    const std::string interpreter = Make("plain-file", "x");
    ::chmod(interpreter.c_str(), 0644);
    LaunchCommand command;
    EXPECT_EQ(GetLaunchCommand(Make("notexec.sh", "#!" + interpreter + "\n"), command), EACCES);
    EXPECT_EQ(GetLaunchCommand(m_box.Path().string(), command), EISDIR);
    EXPECT_EQ(GetLaunchCommand("", command), ENOENT);
}

TEST_F(LaunchCommandTest, WindowsProgramWithoutWineCannotStart) {
    m_env.Set("PATH", (m_box.Path() / "nothing").string() + "::relative");
    LaunchCommand command;
    EXPECT_EQ(GetLaunchCommand(Make("a.exe", "MZ"), command), ENOENT);
}

TEST_F(LaunchCommandTest, OwnerExecuteBitIsAddedOnlyWhenMissing) {
    const std::string path = Make("native",
                                  "\x7f"
                                  "ELF");
    ::chmod(path.c_str(), 0640);
    ASSERT_EQ(EnsureOwnerExecutable(path), 0);
    struct stat st {};
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0740u);
    EXPECT_EQ(EnsureOwnerExecutable((m_box.Path() / "missing").string()), ENOENT);
}

}  // namespace
