#include "platform/settings_key.h"

#include <signal.h>
#include <sys/resource.h>

#include <cerrno>
#include <filesystem>

#include <gtest/gtest.h>

#include "platform/atomic_file.h"
#include "support/env_guard.h"
#include "support/sandbox.h"

namespace {

namespace fs = std::filesystem;

constexpr const char* KEY = "SOFTWARE\\HOLLOWMERE WORKS\\Quellbridger";

class SettingsKeyTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_env.UseHome(m_box.Path());
        m_env.Set("XDG_CONFIG_HOME", (m_box.Path() / "config").string());
    }

    fs::path KeyFolder() const { return m_box.Path() / "config/HOLLOWMERE WORKS/Quellbridger"; }

    // Stores raw bytes as the value file and reads them back through the key.
    long ReadRaw(const std::string& bytes, std::string& value) {
        m_box.Write("config/HOLLOWMERE WORKS/Quellbridger/InstallPath", bytes);
        CSettingsKey key;
        EXPECT_EQ(key.Open(KEY), 0);
        return key.QueryStringValue("InstallPath", value);
    }

    Sandbox m_box;
    EnvGuard m_env;
};

TEST_F(SettingsKeyTest, ValueRoundTripsThroughTheConfigFolder) {
    CSettingsKey key;
    EXPECT_EQ(key.Open(KEY), ENOENT);
    EXPECT_FALSE(key.IsOpen());
    ASSERT_EQ(key.Create(KEY), 0);
    EXPECT_EQ(key.GetFolder(), KeyFolder().string());
    const std::string path = "/home/ü ser/Games/HOLLOWMERE WORKS/Talvermoor";
    ASSERT_EQ(key.SetStringValue("InstallPath", path), 0);
    EXPECT_EQ(m_box.Read("config/HOLLOWMERE WORKS/Quellbridger/InstallPath"), path);
    key.Close();

    CSettingsKey again;
    ASSERT_EQ(again.Open(KEY), 0);
    std::string value;
    ASSERT_EQ(again.QueryStringValue("InstallPath", value), 0);
    EXPECT_EQ(value, path);
    ASSERT_EQ(again.SetStringValue("InstallPath", "/other"), 0);
    ASSERT_EQ(again.QueryStringValue("InstallPath", value), 0);
    EXPECT_EQ(value, "/other");
    EXPECT_EQ(again.QueryStringValue("Missing", value), ENOENT);
    EXPECT_EQ(value, "/other");
}

TEST_F(SettingsKeyTest, ConfigFolderFallsBackToHome) {
    m_env.Unset("XDG_CONFIG_HOME");
    CSettingsKey key;
    ASSERT_EQ(key.Create(KEY), 0);
    EXPECT_EQ(key.GetFolder(), (m_box.Path() / "home/.config/HOLLOWMERE WORKS/Quellbridger"));
    m_env.Unset("HOME");
    EXPECT_EQ(key.Open(KEY), ENOENT);
    EXPECT_EQ(key.Create(KEY), ENOENT);
}

TEST_F(SettingsKeyTest, KeyPathsMustStayBelowTheConfigFolder) {
    CSettingsKey key;
    for (const char* path : {"SYSTEM\\X", "SOFTWARE", "SOFTWARE\\..\\x", "SOFTWARE\\a/b",
                             "SOFTWARE\\\\x", "SOFTWARE\\.hidden", "", "\\SOFTWARE\\x"}) {
        EXPECT_EQ(key.Create(path), EINVAL) << path;
    }
    EXPECT_FALSE(fs::exists(m_box.Path() / "config"));
    ASSERT_EQ(key.Create(KEY), 0);
    EXPECT_EQ(key.SetStringValue(".InstallPath", "x"), EINVAL);
    EXPECT_EQ(key.SetStringValue("a/b", "x"), EINVAL);
}

TEST_F(SettingsKeyTest, BadStoredDataIsAnError) {
    struct Case {
        const char* what;
        std::string bytes;
        long result;
    };
    const Case cases[] = {
        {"259 characters", std::string(259, 'a'), 0},
        {"259 two-byte characters",
         [] {
             std::string s;
             for (int i = 0; i < 259; ++i)
                 s += "\xC3\xA9";
             return s;
         }(),
         0},
        {"260 characters", std::string(260, 'a'), ERROR_MORE_DATA},
        {"260 two-byte characters",
         [] {
             std::string s;
             for (int i = 0; i < 260; ++i)
                 s += "\xC3\xA9";
             return s;
         }(),
         ERROR_MORE_DATA},
        {"a megabyte", std::string(1 << 20, 'a'), ERROR_MORE_DATA},
        {"Latin-1 byte", "/home/caf\xE9", ERROR_INVALID_DATA},
        {"cut sequence", "/home/\xC3", ERROR_INVALID_DATA},
        {"overlong slash", "/home\xC0\xAF", ERROR_INVALID_DATA},
        {"surrogate", "/home/\xED\xA0\x80", ERROR_INVALID_DATA},
        {"zero byte", std::string("/home\0x", 7), ERROR_INVALID_DATA},
        {"empty", "", 0},
    };
    for (const Case& c : cases) {
        std::string value = "old";
        EXPECT_EQ(ReadRaw(c.bytes, value), c.result) << c.what;
        EXPECT_EQ(value, c.result == 0 ? c.bytes : "old") << c.what;
    }
    CSettingsKey key;
    ASSERT_EQ(key.Open(KEY), 0);
    EXPECT_EQ(key.SetStringValue("InstallPath", "caf\xE9"), ERROR_INVALID_DATA);
}

TEST_F(SettingsKeyTest, SubkeyOrOtherFileOfTheValuesNameIsNoValue) {
    fs::create_directories(KeyFolder() / "InstallPath");
    CSettingsKey key;
    ASSERT_EQ(key.Open(KEY), 0);
    std::string value;
    EXPECT_EQ(key.QueryStringValue("InstallPath", value), ENOENT);
}

TEST_F(SettingsKeyTest, InterruptedWriteIsNeverReadAsTheValue) {
    // A crash between writing the temporary file and renaming it leaves it behind.
    m_box.Write("config/HOLLOWMERE WORKS/Quellbridger/.InstallPath.k3Jd9a", "/new/half");
    CSettingsKey key;
    ASSERT_EQ(key.Open(KEY), 0);
    std::string value;
    EXPECT_EQ(key.QueryStringValue("InstallPath", value), ENOENT);

    ASSERT_EQ(key.SetStringValue("InstallPath", "/old"), 0);
    m_box.Write("config/HOLLOWMERE WORKS/Quellbridger/.InstallPath.x8Ls0q", "/new/ha");
    ASSERT_EQ(key.QueryStringValue("InstallPath", value), 0);
    EXPECT_EQ(value, "/old");
}

TEST_F(SettingsKeyTest, FailedWriteKeepsTheOldContents) {
    // A file-size limit makes the write fail part-way, as a full disk would.
    const std::string file = m_box.Write("value", "old contents").string();
    struct sigaction ignore {};
    struct sigaction old {};
    ignore.sa_handler = SIG_IGN;
    sigaction(SIGXFSZ, &ignore, &old);
    rlimit saved{};
    getrlimit(RLIMIT_FSIZE, &saved);
    rlimit small = saved;
    small.rlim_cur = 4096;
    setrlimit(RLIMIT_FSIZE, &small);
    const int result = WriteFileAtomically(file, std::string(100000, 'n'), 0600);
    setrlimit(RLIMIT_FSIZE, &saved);
    sigaction(SIGXFSZ, &old, nullptr);

    EXPECT_EQ(result, EFBIG);
    EXPECT_EQ(m_box.Read("value"), "old contents");
    size_t entries = 0;
    for (const auto& item : fs::directory_iterator(m_box.Path())) {
        entries += item.path().filename() != "home" ? 1 : 0;
    }
    EXPECT_EQ(entries, 1u) << "temporary file left behind";

    EXPECT_EQ(WriteFileAtomically((m_box.Path() / "no/such/folder/value").string(), "x", 0600),
              ENOENT);
}

TEST_F(SettingsKeyTest, DeleteTreeLeavesTheParent) {
    CSettingsKey key;
    ASSERT_EQ(key.Create(KEY), 0);
    ASSERT_EQ(key.SetStringValue("InstallPath", "/x"), 0);
    m_box.Write("config/HOLLOWMERE WORKS/Quellbridger/Sub/Deeper/value", "y");
    m_box.Write("config/HOLLOWMERE WORKS/Sibling", "z");
    key.Close();

    CSettingsKey parent;
    ASSERT_EQ(parent.Open("SOFTWARE\\HOLLOWMERE WORKS"), 0);
    EXPECT_EQ(parent.RecurseDeleteKey("Quellbridger"), 0);
    EXPECT_FALSE(fs::exists(KeyFolder()));
    EXPECT_EQ(m_box.Read("config/HOLLOWMERE WORKS/Sibling"), "z");
    EXPECT_EQ(parent.RecurseDeleteKey("Quellbridger"), ENOENT);
    EXPECT_EQ(parent.RecurseDeleteKey("Sibling"), ENOENT);  // a value, not a key
    EXPECT_EQ(parent.RecurseDeleteKey(".."), EINVAL);
    EXPECT_EQ(key.Open(KEY), ENOENT);
}

}  // namespace
