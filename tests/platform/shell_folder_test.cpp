#include "platform/shell_folder.h"

#include <gtest/gtest.h>

#include "support/env_guard.h"
#include "support/sandbox.h"

namespace {

class ShellFolderTest : public ::testing::Test {
protected:
    void SetUp() override { m_home = m_env.UseHome(m_box.Path()).string(); }

    std::string Folder(uint16_t kind) {
        std::string path = "unchanged";
        EXPECT_TRUE(GetShellFolderPath(kind, path)) << "kind " << kind;
        return path;
    }

    Sandbox m_box;
    EnvGuard m_env;
    std::string m_home;
};

TEST_F(ShellFolderTest, EachKindFallsBackToHome) {
    EXPECT_EQ(Folder(SHELL_FOLDER_DESKTOP), m_home + "/Desktop");
    EXPECT_EQ(Folder(SHELL_FOLDER_PROGRAM_FILES), m_home + "/Games");
    EXPECT_EQ(Folder(SHELL_FOLDER_APPDATA), m_home + "/.local/state");
    EXPECT_EQ(Folder(SHELL_FOLDER_COMMON_PROGRAMS), m_home + "/.local/share/applications");
}

TEST_F(ShellFolderTest, XdgVariablesWinAndRelativeOnesAreIgnored) {
    m_env.Set("XDG_STATE_HOME", "/srv/state/");
    m_env.Set("XDG_DATA_HOME", "/srv/data");
    EXPECT_EQ(Folder(SHELL_FOLDER_APPDATA), "/srv/state");
    EXPECT_EQ(Folder(SHELL_FOLDER_COMMON_PROGRAMS), "/srv/data/applications");

    m_env.Set("XDG_STATE_HOME", "relative/state");
    m_env.Set("XDG_DATA_HOME", "");
    EXPECT_EQ(Folder(SHELL_FOLDER_APPDATA), m_home + "/.local/state");
    EXPECT_EQ(Folder(SHELL_FOLDER_COMMON_PROGRAMS), m_home + "/.local/share/applications");
}

TEST_F(ShellFolderTest, WithoutHomeOnlyFoldersNamedByVariablesAreKnown) {
    m_env.Unset("HOME");
    for (int kind : {0, 1, 2, 3, 4}) {
        std::string path = "unchanged";
        EXPECT_FALSE(GetShellFolderPath(static_cast<uint16_t>(kind), path)) << "kind " << kind;
        EXPECT_EQ(path, "unchanged");
    }
    m_env.Set("XDG_STATE_HOME", "/srv/state");
    EXPECT_EQ(Folder(SHELL_FOLDER_APPDATA), "/srv/state");
}

TEST_F(ShellFolderTest, RootHomeGivesNoDoubleSlash) {
    // "//Games" would read as a network share to the free-space query.
    m_env.Set("HOME", "/");
    EXPECT_EQ(Folder(SHELL_FOLDER_PROGRAM_FILES), "/Games");
    EXPECT_EQ(Folder(SHELL_FOLDER_DESKTOP), "/Desktop");
}

TEST_F(ShellFolderTest, DesktopComesFromUserDirsFile) {
    struct Case {
        const char* text;
        std::string expected;  // "" means the $HOME/Desktop fallback
    };
    const std::string home = m_home;
    const Case cases[] = {
        {"XDG_DESKTOP_DIR=\"$HOME/Schreibtisch\"\n", home + "/Schreibtisch"},
        {"# comment\nXDG_DOWNLOAD_DIR=\"$HOME/Downloads\"\nXDG_DESKTOP_DIR=\"/data/desk\"\n",
         "/data/desk"},
        {"XDG_DESKTOP_DIR=\"$HOME/My \\\"Desk\\\" \\$x\"\n", home + "/My \"Desk\" $x"},
        {"  XDG_DESKTOP_DIR = \"$HOME/spaced\"  \n", home + "/spaced"},
        {"XDG_DESKTOP_DIR=\"$HOME/\"\n", home},
        {"XDG_DESKTOP_DIR=\"$HOME/first\"\nXDG_DESKTOP_DIR=\"$HOME/second\"\n", home + "/second"},
        {"#XDG_DESKTOP_DIR=\"/commented\"\n", ""},
        {"XDG_DESKTOP_DIR=$HOME/unquoted\n", ""},
        {"XDG_DESKTOP_DIR=\"relative/desk\"\n", ""},
        {"XDG_DESKTOP_DIR=\"$HOMEWARD/desk\"\n", ""},
        {"XDG_DESKTOP_DIR=\"$HOME/unterminated\n", ""},
        {"XDG_DESKTOP_DIRX=\"/other\"\n", ""},
    };
    m_env.Set("XDG_CONFIG_HOME", (m_box.Path() / "config").string());
    for (const Case& c : cases) {
        m_box.Write("config/user-dirs.dirs", c.text);
        EXPECT_EQ(Folder(SHELL_FOLDER_DESKTOP), c.expected.empty() ? home + "/Desktop" : c.expected)
            << c.text;
    }
}

TEST_F(ShellFolderTest, UserDirsFileIsFoundBelowHomeConfig) {
    m_box.Write("home/.config/user-dirs.dirs", "XDG_DESKTOP_DIR=\"$HOME/Bureau\"\n");
    EXPECT_EQ(Folder(SHELL_FOLDER_DESKTOP), m_home + "/Bureau");
}

TEST(SystemTest, LinuxIsModernAndHasNoWow64) {
    EXPECT_TRUE(IsVistaOrLater());
    EXPECT_FALSE(IsWow64());
    void* old = reinterpret_cast<void*>(1);
    EXPECT_TRUE(Wow64DisableWow64FsRedirection(&old));
    EXPECT_TRUE(Wow64RevertWow64FsRedirection(old));
}

}  // namespace
