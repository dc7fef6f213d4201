// The held install folder: opens and folder creation below it never pass a symbolic link at
// any level, with openat2 and with the level-by-level walk used where openat2 is missing.
#include "download/install_dir.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <string>

#include "support/sandbox.h"

namespace fs = std::filesystem;

namespace {

// Runs the test body once per way of resolving names.
class InstallDirTest : public ::testing::TestWithParam<bool> {
protected:
    void SetUp() override {
        CInstallDir::s_bForceWalk = GetParam();
        fs::create_directories(m_box.Path() / "install");
        fs::create_directories(m_box.Path() / "outside/sub");
        m_box.Write("outside/f.bin", "outside");
        m_box.Write("outside/sub/f.bin", "outside");
        m_box.Write("install/real/f.bin", "inside");
        m_box.Write("install/plain.bin", "plain");
        fs::create_symlink(m_box.Path() / "outside", m_box.Path() / "install/link");
        fs::create_symlink(m_box.Path() / "outside/f.bin", m_box.Path() / "install/leaf.bin");
        fs::create_symlink(m_box.Path() / "outside", m_box.Path() / "install/real/deep");
        ASSERT_EQ(m_dir.Open((m_box.Path() / "install").string()), 0);
    }
    void TearDown() override { CInstallDir::s_bForceWalk = false; }

    Sandbox m_box;
    CInstallDir m_dir;
};

TEST_P(InstallDirTest, OpensOnlyWithoutPassingALink) {
    struct Case {
        const char* name;
        int flags;
        int error;  // 0: opens
    };
    const Case cases[] = {
        {"plain.bin", O_RDONLY, 0},
        {"real/f.bin", O_RDONLY, 0},
        {"real/new.bin", O_WRONLY | O_CREAT, 0},
        {"leaf.bin", O_RDONLY, ELOOP},
        {"leaf.bin", O_WRONLY | O_CREAT | O_TRUNC, ELOOP},
        {"link/f.bin", O_RDONLY, ELOOP},
        {"link/new.bin", O_WRONLY | O_CREAT, ELOOP},
        {"real/deep/sub/f.bin", O_WRONLY | O_TRUNC, ELOOP},
        {"plain.bin/f.bin", O_RDONLY, ENOTDIR},
        {"missing/f.bin", O_RDONLY, ENOENT},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.name) + " flags " + std::to_string(c.flags));
        errno = 0;
        const int fd = m_dir.OpenBeneath(c.name, c.flags, 0644);
        const int error = fd < 0 ? errno : 0;
        if (fd >= 0) {
            ::close(fd);
        }
        EXPECT_EQ(error, c.error);
    }
    // Names that leave the folder are refused whatever is there.
    for (const char* name : {"../outside/f.bin", "real/../../outside/f.bin"}) {
        SCOPED_TRACE(name);
        EXPECT_LT(m_dir.OpenBeneath(name, O_RDONLY), 0);
    }
    EXPECT_LT(m_dir.OpenBeneath((m_box.Path() / "outside/f.bin").string(), O_RDONLY), 0);
    EXPECT_EQ(m_box.Read("outside/f.bin"), "outside");
    EXPECT_EQ(m_box.Read("outside/sub/f.bin"), "outside");
    EXPECT_FALSE(fs::exists(m_box.Path() / "outside/new.bin"));
    EXPECT_TRUE(fs::exists(m_box.Path() / "install/real/new.bin"));
}

TEST_P(InstallDirTest, StatsALinkAsALinkAndRefusesOneOnTheWay) {
    struct stat st {};
    ASSERT_EQ(m_dir.StatBeneath("leaf.bin", st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));
    ASSERT_EQ(m_dir.StatBeneath("real/f.bin", st), 0);
    EXPECT_TRUE(S_ISREG(st.st_mode));
    EXPECT_EQ(st.st_size, 6);
    EXPECT_EQ(m_dir.StatBeneath("link/f.bin", st), ELOOP);
    EXPECT_EQ(m_dir.StatBeneath("nothing.bin", st), ENOENT);
}

TEST_P(InstallDirTest, MakesFoldersOnlyBelowRealFolders) {
    struct Case {
        const char* name;
        int error;
    };
    const Case cases[] = {
        {"f.bin", 0},
        {"a/b/c/f.bin", 0},
        {"real/more/f.bin", 0},
        {"link/f.bin", ELOOP},
        {"link/new/f.bin", ELOOP},
        {"real/deep/new/f.bin", ELOOP},
        {"plain.bin/f.bin", ENOTDIR},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(m_dir.MakeFolders(c.name), c.error);
    }
    EXPECT_TRUE(fs::is_directory(m_box.Path() / "install/a/b/c"));
    EXPECT_TRUE(fs::is_directory(m_box.Path() / "install/real/more"));
    EXPECT_FALSE(fs::exists(m_box.Path() / "outside/new"));
    EXPECT_FALSE(fs::exists(m_box.Path() / "install/f.bin"));
}

INSTANTIATE_TEST_SUITE_P(Resolve, InstallDirTest, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool>& info) {
                             return info.param ? std::string("Walk") : std::string("Openat2");
                         });

// The lock is on the folder itself: a second holder is refused until the first lets go, and
// nothing is left in the folder.
TEST(InstallDir, LocksTheFolderForOneHolderAtATime) {
    Sandbox box;
    fs::create_directories(box.Path() / "install");
    fs::create_symlink(box.Path() / "install", box.Path() / "alias");
    CInstallDir first;
    CInstallDir second;
    ASSERT_EQ(first.Open((box.Path() / "install").string()), 0);
    ASSERT_EQ(second.Open((box.Path() / "alias").string()), 0);
    EXPECT_EQ(first.Lock(), 0);
    EXPECT_EQ(second.Lock(), EWOULDBLOCK);
    first.Close();
    EXPECT_EQ(second.Lock(), 0);
    EXPECT_TRUE(fs::is_empty(box.Path() / "install"));
}

}  // namespace
