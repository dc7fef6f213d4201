#include "core/install_folder.h"

#include <filesystem>

#include <gtest/gtest.h>

#include "core/installer_services.h"
#include "download/download_thread.h"
#include "platform/disk.h"
#include "platform/settings_key.h"
#include "platform/string_table.h"
#include "platform/text_format.h"
#include "support/env_guard.h"
#include "support/log_capture.h"
#include "support/sandbox.h"

namespace {

namespace fs = std::filesystem;

// Plays the main dialog: answers questions from a script and records what it was told.
struct FakeHost : IInstallFolderHost {
    int MessageBox(const std::string& text, unsigned type) override {
        boxes.push_back({text, type});
        return type == MB_YESNO ? answer : IDOK;
    }
    std::string GetInstallFolderText() override { return label; }
    void SetInstallFolderText(const std::string& path) override { label = path; }
    void SetFreeSpaceText(const std::string& text) override { freeSpace = text; }
    void SetWorkerInstallFolder(const std::string& path) override { worker = path; }
    BrowseResult BrowseForFolder(const std::string& initialFolder, const std::string& totalSizeText,
                                 std::string& path) override {
        browsedFrom.push_back(initialFolder);
        sizeText = totalSizeText;
        if (browseResult == BrowseResult::Chosen) {
            path = choice;
        }
        return browseResult;
    }

    struct Box {
        std::string text;
        unsigned type;
    };
    int answer = IDNO;
    std::vector<Box> boxes;
    std::string label = "label untouched";
    std::string freeSpace = "free untouched";
    std::string worker = "worker untouched";
    std::vector<std::string> browsedFrom;
    std::string sizeText;
    BrowseResult browseResult = BrowseResult::Cancelled;
    std::string choice;
};

class InstallFolderTest : public ::testing::Test {
protected:
    void SetUp() override { m_home = m_env.UseHome(m_box.Path()); }

    std::string Default() const { return (m_home / "Games/HOLLOWMERE WORKS/Talvermoor").string(); }
    fs::path KeyFolder() const { return m_home / ".config/HOLLOWMERE WORKS/Quellbridger"; }
    std::string Dir(const std::string& rel) {
        fs::create_directories(m_box.Path() / rel);
        return (m_box.Path() / rel).string();
    }
    void Store(const std::string& bytes) {
        m_box.Write("home/.config/HOLLOWMERE WORKS/Quellbridger/InstallPath", bytes);
    }
    std::string Stored() const {
        return m_box.Read("home/.config/HOLLOWMERE WORKS/Quellbridger/InstallPath");
    }

    Sandbox m_box;
    EnvGuard m_env;
    fs::path m_home;
    LogCapture m_log{m_box.Path() / "log"};
};

TEST_F(InstallFolderTest, DefaultFolderIsBelowProgramFiles) {
    EXPECT_EQ(GetDefaultInstallFolder(), Default());
    m_env.Unset("HOME");
    EXPECT_EQ(GetDefaultInstallFolder(), "/opt/HOLLOWMERE WORKS/Talvermoor");
}

TEST_F(InstallFolderTest, ProposalAtStart) {
    const std::string elsewhere = Dir("data/Games/X");
    struct Case {
        const char* what;
        const char* stored;  // null: no key at all
        int answer;
        std::string proposed;
        bool asked;
        std::vector<std::string> log;
    };
    const std::string defaultFolder = Default();
    const Case cases[] = {
        {"first run", nullptr, IDYES, defaultFolder, false, {}},
        {"stored default", "default", IDYES, defaultFolder, false, {}},
        {"stored folder gone", "gone", IDYES, defaultFolder, false, {}},
        {"stored elsewhere, Yes", "elsewhere", IDYES, elsewhere, true, {}},
        {"stored elsewhere, No", "elsewhere", IDNO, defaultFolder, true, {}},
        {"key without value",
         "",
         IDYES,
         defaultFolder,
         false,
         {"registry get value is failed - check path (2)"}},
        {"value not text",
         "bad",
         IDYES,
         defaultFolder,
         false,
         {"registry get value is failed - check path (13)"}},
    };
    for (const Case& c : cases) {
        Sandbox logBox;
        LogCapture log(logBox.Path());
        fs::remove_all(m_home / ".config");
        std::string value;
        if (c.stored != nullptr) {
            fs::create_directories(KeyFolder());
            const std::string s = c.stored;
            value = s == "default" ? defaultFolder
                    : s == "gone"  ? (m_box.Path() / "gone").string()
                    : s == "bad"   ? "/caf\xE9"
                                   : elsewhere;
            if (!s.empty()) {
                Store(value);
            }
        }
        FakeHost host;
        host.answer = c.answer;
        EXPECT_EQ(LoadInstallFolder(host), c.proposed) << c.what;
        ASSERT_EQ(host.boxes.size(), c.asked ? 1u : 0u) << c.what;
        if (c.asked) {
            EXPECT_EQ(host.boxes[0].text, LoadFormatString(123, elsewhere.c_str())) << c.what;
            EXPECT_EQ(host.boxes[0].type, static_cast<unsigned>(MB_YESNO)) << c.what;
        }
        EXPECT_EQ(log.Lines(), c.log) << c.what;
        if (c.stored != nullptr && c.stored[0] != '\0') {
            EXPECT_EQ(Stored(), value) << c.what << ": the proposal never changes the store";
        }
    }
}

TEST_F(InstallFolderTest, UsableFolders) {
    const std::string stored = Dir("stored");
    m_box.Write("stored/part.bin", "partial");
    Dir("hidden");
    m_box.Write("hidden/.config", "");
    Dir("nested/empty-sub");
    const std::string file = m_box.Write("a-file", "x").string();
    const std::string p = m_box.Path().string();
    const std::string upper = p + "/STORED";
    Dir("STORED");
    m_box.Write("STORED/other", "y");

    struct Case {
        std::string path;
        bool withStored;
        bool usable;
    };
    const Case cases[] = {
        {Dir("empty"), false, true},
        {Dir("empty"), true, true},
        {p + "/missing", false, true},
        {p + "/missing/deeper", true, true},
        {p + "/hidden", false, false},
        {p + "/nested", false, false},
        {stored, false, false},
        {stored, true, true},         // the remembered download is resumed
        {stored + "/", true, false},  // compared as text, exactly
        {upper, true, false},         // letter case matters
        {p + "/hidden", true, false},
        {file, false, false},  // not a folder: cannot be listed, so not taken for empty
        {file + "/sub", false, false},
    };
    for (const Case& c : cases) {
        fs::remove_all(m_home / ".config");
        if (c.withStored) {
            Store(stored);
        }
        EXPECT_EQ(IsInstallFolderUsable(c.path), c.usable)
            << c.path << (c.withStored ? " (stored)" : "");
    }
    EXPECT_TRUE(m_log.Lines().empty());
}

TEST_F(InstallFolderTest, SavedFolderSurvivesUntilDeleted) {
    std::string path = "unchanged";
    EXPECT_FALSE(GetSavedInstallFolder(path));
    EXPECT_EQ(path, "unchanged");

    const std::string first = Dir("first");
    const std::string second = Dir("second folder");
    SaveInstallFolder(first);
    SaveInstallFolder(second);
    ASSERT_TRUE(GetSavedInstallFolder(path));
    EXPECT_EQ(path, second);
    m_box.Write("home/.config/HOLLOWMERE WORKS/Other", "kept");

    DeleteInstallFolderKey();
    EXPECT_FALSE(fs::exists(KeyFolder()));
    EXPECT_TRUE(fs::is_directory(m_home / ".config/HOLLOWMERE WORKS"));
    EXPECT_EQ(m_box.Read("home/.config/HOLLOWMERE WORKS/Other"), "kept");
    EXPECT_TRUE(m_log.Lines().empty());

    FakeHost host;
    host.answer = IDYES;
    EXPECT_EQ(LoadInstallFolder(host), Default());
    EXPECT_TRUE(host.boxes.empty());
}

// The window's automatic retry: on only for "1" (a line break after it allowed), and kept
// when completion forgets the folder with the program's key.
TEST_F(InstallFolderTest, AutoRetryValueTurnsRetryOnAndOutlivesTheForgottenFolder) {
    const std::function<bool()> autoRetry = InstallerServices::System().autoRetry;
    EXPECT_FALSE(autoRetry());
    struct Case {
        const char* stored;
        bool on;
    };
    for (const Case& c : {Case{"1", true}, Case{"1\n", true}, Case{"0", false}, Case{"", false},
                          Case{"yes", false}, Case{"11", false}}) {
        m_box.Write("home/.config/HOLLOWMERE WORKS/AutoRetry", c.stored);
        EXPECT_EQ(autoRetry(), c.on) << c.stored;
    }
    m_box.Write("home/.config/HOLLOWMERE WORKS/AutoRetry", "1");
    SaveInstallFolder(Dir("game"));
    DeleteInstallFolderKey();
    EXPECT_FALSE(fs::exists(KeyFolder()));
    EXPECT_TRUE(autoRetry());
}

TEST_F(InstallFolderTest, JobsValueSetsTheTransfersAtOnceWithinTheirBounds) {
    const std::function<int()> jobs = InstallerServices::System().transferJobs;
    EXPECT_EQ(jobs(), CDownloadThread::DEFAULT_JOBS);
    struct Case {
        const char* stored;
        int jobs;
    };
    constexpr int kDefault = CDownloadThread::DEFAULT_JOBS;
    for (const Case& c : {Case{"1", 1}, Case{"4\n", 4}, Case{"32", 32}, Case{"33", kDefault},
                          Case{"0", kDefault}, Case{"-2", kDefault}, Case{"", kDefault},
                          Case{"eight", kDefault}, Case{"8x", kDefault}}) {
        m_box.Write("home/.config/HOLLOWMERE WORKS/Jobs", c.stored);
        EXPECT_EQ(jobs(), c.jobs) << c.stored;
    }
}

TEST_F(InstallFolderTest, StoreFailuresAreLoggedOnly) {
    // Key present, value missing.
    fs::create_directories(KeyFolder());
    std::string path;
    EXPECT_FALSE(GetSavedInstallFolder(path));

    DeleteInstallFolderKey();
    DeleteInstallFolderKey();  // the key is gone now
    fs::remove_all(m_home / ".config");
    DeleteInstallFolderKey();  // and now its parent too

    // The config folder cannot be made below a file.
    m_box.Write("not-a-folder", "");
    m_env.Set("XDG_CONFIG_HOME", (m_box.Path() / "not-a-folder/config").string());
    SaveInstallFolder("/somewhere");
    m_env.Unset("XDG_CONFIG_HOME");
    SaveInstallFolder("/caf\xE9");

    EXPECT_EQ(m_log.Lines(), (std::vector<std::string>{
                                 "registry get value is failed - get path (2)",
                                 "registry recursive delete key is failed - (2)",
                                 "registry open is failed - (2)",
                                 "registry create is failed - (20)",
                                 "registry set value is failed - (13)",
                             }));
}

TEST_F(InstallFolderTest, BrowserStartsWhereTheUserExpects) {
    const std::string elsewhere = Dir("elsewhere");
    struct Case {
        const char* what;
        std::string label;
        bool defaultExists;
        bool home;
        std::string initial;
    };
    const std::string defaultFolder = Default();
    const Case cases[] = {
        {"another folder", elsewhere, false, true, elsewhere},
        {"a folder that is gone", elsewhere + "/gone", false, true, elsewhere + "/gone"},
        {"default, present", defaultFolder, true, true, defaultFolder},
        {"default, missing", defaultFolder, false, true, (m_home / "Games").string()},
        {"no program files", "/opt/HOLLOWMERE WORKS/Talvermoor", false, false, "/"},
    };
    for (const Case& c : cases) {
        fs::remove_all(m_home / "Games");
        if (c.defaultExists) {
            fs::create_directories(defaultFolder);
        }
        if (!c.home) {
            m_env.Unset("HOME");
        }
        FakeHost host;
        host.label = c.label;
        OnChangeFolder(host, 1234567);
        ASSERT_EQ(host.browsedFrom.size(), 1u) << c.what;
        EXPECT_EQ(host.browsedFrom[0], c.initial) << c.what;
        EXPECT_EQ(host.sizeText, FormatSizeText(1234567)) << c.what;
    }
}

TEST_F(InstallFolderTest, BrowseOutcomes) {
    const std::string chosen = Dir("chosen");

    FakeHost cancelled;
    cancelled.label = "/current";
    OnChangeFolder(cancelled, 10);
    EXPECT_EQ(cancelled.label, "/current");
    EXPECT_EQ(cancelled.freeSpace, "free untouched");
    EXPECT_EQ(cancelled.worker, "worker untouched");
    EXPECT_TRUE(cancelled.boxes.empty());

    FakeHost virtualItem;
    virtualItem.label = "/current";
    virtualItem.browseResult = BrowseResult::NoFileSystemPath;
    OnChangeFolder(virtualItem, 10);
    EXPECT_EQ(virtualItem.label, "/current");
    EXPECT_EQ(virtualItem.freeSpace, "free untouched");
    EXPECT_EQ(virtualItem.worker, "worker untouched");
    ASSERT_EQ(virtualItem.boxes.size(), 1u);
    EXPECT_EQ(virtualItem.boxes[0].text, "Invalid Folder.");
    EXPECT_EQ(virtualItem.boxes[0].type, static_cast<unsigned>(MB_OK));

    FakeHost picked;
    picked.label = "/current";
    picked.browseResult = BrowseResult::Chosen;
    picked.choice = chosen;
    OnChangeFolder(picked, 10);
    EXPECT_EQ(picked.label, chosen);
    EXPECT_EQ(picked.freeSpace, FormatSizeText(GetDiskFreeSize(chosen.c_str())));
    EXPECT_NE(picked.freeSpace, "0 Bytes");
    EXPECT_EQ(picked.worker, chosen);
    EXPECT_TRUE(picked.boxes.empty());
    // Choosing tests nothing and remembers nothing: that is the start command's business.
    EXPECT_FALSE(fs::exists(KeyFolder()));
}

}  // namespace
