// The main window on the offscreen platform as a view of the installer core: session start
// against real servers, the run's commands and button states, the progress the core computes
// from made-up records, completion and the launcher start.
#include "installer/installer_dialog.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QAbstractButton>
#include <QApplication>
#include <QElapsedTimer>
#include <QKeyEvent>
#include <algorithm>
#include <chrono>
#include <deque>
#include <filesystem>
#include <functional>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "core/install_folder.h"
#include "download/download_thread.h"
#include "platform/prerequisite.h"
#include "platform/string_table.h"
#include "platform/text_format.h"
#include "support/button_states.h"
#include "support/env_guard.h"
#include "support/fault_server.h"
#include "support/log_capture.h"
#include "support/nginx_server.h"
#include "support/qt/qt_application.h"
#include "support/sandbox.h"
#include "support/test_data.h"
#include "ui/skin_layout.h"

namespace {

namespace fs = std::filesystem;

// Processes events until done() holds or timeoutMs passed; returns done().
bool WaitUntil(const std::function<bool()>& done, int timeoutMs) {
    QElapsedTimer clock;
    clock.start();
    while (!done()) {
        if (clock.elapsed() > timeoutMs) {
            return false;
        }
        QCoreApplication::processEvents();
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

// Answers questions from a script and records every box it was asked to show.
class ScriptedPrompt : public IUserPrompt {
public:
    struct Box {
        std::string text;
        unsigned type;
        bool operator==(const Box&) const = default;
    };

    int MessageBox(const std::string& text, unsigned type) override {
        boxes.push_back({text, type});
        if ((type & 0xF) != MB_YESNO) {
            return IDOK;
        }
        if (answers.empty()) {
            ADD_FAILURE() << "unexpected question: " << text;
            return IDNO;
        }
        const int answer = answers.front();
        answers.pop_front();
        return answer;
    }

    std::deque<int> answers;
    std::vector<Box> boxes;
};

std::ostream& operator<<(std::ostream& out, const ScriptedPrompt::Box& box) {
    return out << "{\"" << box.text << "\", " << box.type << "}";
}

class RecordingWarning : public IPrerequisiteWarningDialog {
public:
    void DoModal(const std::string&, bool bRedistMissing, bool bDirectXMissing) override {
        shown.push_back({bRedistMissing, bDirectXMissing});
    }
    std::vector<std::pair<bool, bool>> shown;
};

// The dialog with its clock and the free space under the test's control.
class TestDialog : public CQuellbridgerDlg {
public:
    std::optional<uint32_t> now;
    std::optional<uint64_t> freeBytes;

    QAbstractButton* Button(int id) const { return qobject_cast<QAbstractButton*>(GetDlgItem(id)); }
    void Click(int id) const { Button(id)->click(); }

    void Progress(int32_t index, uint32_t startTime, uint64_t total, uint64_t done,
                  bool skipped = false) {
        auto record = std::make_unique<DownloadProgress>();
        record->nFileIndex = index;
        record->bSkipped = skipped ? 1 : 0;
        record->dwStartTime = startTime;
        record->nFileTotal = total;
        record->nFileDone = done;
        OnDownloadProgress(std::move(record));
    }
    void Retry(int32_t index, uint32_t seconds, const std::string& reason) {
        auto record = std::make_unique<DownloadRetry>();
        record->nFileIndex = index;
        record->nWaitSeconds = seconds;
        record->szReason = reason;
        OnDownloadRetry(std::move(record));
    }
    void Finished(bool succeeded, const std::string& text = "") {
        auto record = std::make_unique<DownloadResult>();
        record->bSucceeded = succeeded ? 1 : 0;
        record->szMessage = text;
        OnDownloadFinished(std::move(record));
    }

protected:
    uint32_t TimeNow() const override { return now ? *now : CQuellbridgerDlg::TimeNow(); }
    uint64_t QueryDiskFreeSize(const std::string& path) const override {
        return freeBytes ? *freeBytes : CQuellbridgerDlg::QueryDiskFreeSize(path);
    }
};

struct FileSpec {
    std::string name;
    std::string bytes;
    uint64_t size = 0;  // used instead of bytes.size() when bytes is empty and size is set
};

uint64_t SizeOf(const FileSpec& file) {
    return file.bytes.empty() ? file.size : file.bytes.size();
}

std::string ListJson(const std::string& version, const std::string& url,
                     const std::vector<FileSpec>& files) {
    uint64_t total = 0;
    std::string entries;
    for (const FileSpec& file : files) {
        total += SizeOf(file);
        if (!entries.empty()) {
            entries += ",\n";
        }
        entries += "  {\"Name\": \"" + file.name + "\", \"Size\": " + std::to_string(SizeOf(file)) +
                   ", \"CheckSum\": \"" + Md5Hex(file.bytes) + "\"}";
    }
    return "{\"Version\": \"" + version + "\", \"URL\": \"" + url +
           "\", \"TotalCount\": " + std::to_string(files.size()) +
           ", \"TotalSize\": " + std::to_string(total) + ", \"FileList\": [\n" + entries + "]}\n";
}

// The program's daily log below home, decoded, one entry per line.
std::vector<std::string> DailyLog(const fs::path& home) {
    std::vector<std::string> lines;
    const fs::path folder = home / ".local/state/Quellbridger";
    if (!fs::is_directory(folder)) {
        return lines;
    }
    std::vector<fs::path> files;
    for (const auto& entry : fs::directory_iterator(folder)) {
        files.push_back(entry.path());
    }
    std::sort(files.begin(), files.end());
    for (const fs::path& file : files) {
        const std::vector<std::string> fileLines = ReadLogLines(file);
        lines.insert(lines.end(), fileLines.begin(), fileLines.end());
    }
    return lines;
}

// A decorated line "[hh:mm:ss,mmm] [LEVEL] text ".
bool IsLogLine(const std::string& line, const std::string& level, const std::string& text) {
    const std::string tail = "] [" + level + "] " + text + " ";
    return line.size() > tail.size() && line.front() == '[' &&
           line.compare(line.size() - tail.size(), tail.size(), tail) == 0;
}

bool HasLogLine(const fs::path& home, const std::string& level, const std::string& text) {
    for (const std::string& line : DailyLog(home)) {
        if (IsLogLine(line, level, text)) {
            return true;
        }
    }
    return false;
}

Buttons ButtonsOf(const CQuellbridgerDlg& dlg) {
    // Both close buttons stay usable in every state.
    EXPECT_TRUE(dlg.IsItemEnabled(IDC_CLOSE));
    EXPECT_TRUE(dlg.IsItemEnabled(IDC_CLOSE_BOX));
    return {dlg.IsItemEnabled(IDC_START), dlg.IsItemEnabled(IDC_STOP),
            dlg.IsItemEnabled(IDC_CHANGE_PATH), dlg.IsItemEnabled(IDC_RUN)};
}

const std::vector<ScriptedPrompt::Box> kNoBoxes;

ScriptedPrompt::Box Box(int id, unsigned type) {
    return {LoadFormatString(id), type};
}

class InstallerDialogTest : public ::testing::Test {
protected:
    void SetUp() override {
        EnsureQtApplication();
        m_home = m_env.UseHome(m_box.Path());
        // Both runtime packages present: completion shows no warning unless a test removes one.
        m_env.Set("WINEPREFIX", (m_box.Path() / "prefix").string());
        m_box.Write("prefix/drive_c/windows/system32/vcomp140.dll", "dll");
        m_box.Write("prefix/drive_c/windows/system32/d3dx9_31.dll", "dll");
        fs::create_directories(m_home / "Desktop");
    }

    std::unique_ptr<TestDialog> MakeDialog() {
        auto dlg = std::make_unique<TestDialog>();
        dlg->SetPrompt(&m_prompt);
        dlg->SetPrerequisiteDialog(&m_warning);
        dlg->SetHttpTimeouts(HttpTimeouts{3000, 20});
        return dlg;
    }

    // A dialog past its session start, with the list served by the fault server and the
    // files expected below filesUrl.
    std::unique_ptr<TestDialog> ReadyDialog(const std::vector<FileSpec>& files,
                                            const std::string& filesUrl) {
        FaultRoute list;
        list.body = ListJson("2023.08.14.01", filesUrl, files);
        m_server.SetRoute("/filelist.json", list);
        m_env.Set("QUELLBRIDGER_FILE_LIST_URL", m_server.Url("filelist.json"));
        auto dlg = MakeDialog();
        dlg->freeBytes = uint64_t{1} << 40;
        EXPECT_TRUE(dlg->OnInitDialog());
        EXPECT_EQ(m_prompt.boxes, kNoBoxes);
        return dlg;
    }

    // Files served by the fault server below /files/.
    void Serve(const std::vector<FileSpec>& files) {
        for (const FileSpec& file : files) {
            FaultRoute route;
            route.body = file.bytes;
            m_server.SetRoute("/files/" + file.name, route);
        }
    }

    fs::path KeyFolder() const { return m_home / ".config/HOLLOWMERE WORKS/Quellbridger"; }
    std::string DefaultFolder() const {
        return (m_home / "Games/HOLLOWMERE WORKS/Talvermoor").string();
    }

    // Waits until the worker's thread has ended, then hands the dialog what it posted.
    static void DrainWorker(TestDialog& dlg) {
        ASSERT_NE(dlg.Worker(), nullptr);
        EXPECT_TRUE(WaitUntil([&] { return dlg.Worker()->HasEnded(); }, 10000));
        QCoreApplication::sendPostedEvents(&dlg);
    }

    Sandbox m_box;
    EnvGuard m_env;
    // Puts the global log back as it was once the dialog has pointed it at the daily file.
    LogCapture m_logRestore{m_box.Path() / "capture"};
    fs::path m_home;
    ScriptedPrompt m_prompt;
    RecordingWarning m_warning;
    FaultServer m_server;
};

// ---- Session start ----

TEST_F(InstallerDialogTest, SessionStartFailureEndsTheDialogBeforeItIsShown) {
    Sandbox docRoot;
    NginxServer nginx(docRoot.Path());
    ASSERT_TRUE(nginx.Start());

    const std::vector<FileSpec> one = {{"a.bin", "abc"}};
    FaultRoute garbled;
    garbled.body = "{\"Version\": \"2023.08.14.01\", \"URL\": ";
    FaultRoute empty;
    empty.body = "{}";
    FaultRoute oldVersion;
    oldVersion.body = ListJson("2023.8.14.1", "http://127.0.0.1:1/", one);
    FaultRoute unsafe;
    unsafe.body = ListJson("2023.08.14.01", "http://127.0.0.1:1/",
                           {{"a.bin", "abc"}, {"../outside.bin", "xyz"}});
    FaultRoute cut;
    cut.body = ListJson("2023.08.14.01", "http://127.0.0.1:1/", one);
    cut.cutAfter = 20;
    m_server.SetRoute("/garbled.json", garbled);
    m_server.SetRoute("/empty.json", empty);
    m_server.SetRoute("/old.json", oldVersion);
    m_server.SetRoute("/unsafe.json", unsafe);
    m_server.SetRoute("/cut.json", cut);

    struct Case {
        const char* label;
        std::string url;
        ScriptedPrompt::Box box;
        const char* level;
        std::string logLine;
    };
    const Case cases[] = {
        {"not found",
         nginx.BaseUrl() + "filelist.json",
         {LoadFormatString(104, 404L), MB_ICONERROR},
         "ERROR",
         "file list download is failed - (404): HTTP/1.1 404 Not Found"},
        {"body cut short",
         m_server.Url("cut.json"),
         {LoadFormatString(104, 18L), MB_ICONERROR},
         "ERROR",
         "file list download is failed - (18): body ended after 20 bytes"},
        {"not JSON", m_server.Url("garbled.json"), Box(105, MB_ICONERROR), "ERROR",
         "file list deserialize is failed"},
        {"empty object", m_server.Url("empty.json"), Box(122, MB_OK), "ERROR",
         "version is not same so you need re-download on homepage"},
        {"version without leading zeros", m_server.Url("old.json"), Box(122, MB_OK), "ERROR",
         "version is not same so you need re-download on homepage"},
        {"entry leaving the folder", m_server.Url("unsafe.json"), Box(105, MB_ICONERROR), "ERROR",
         "invalid file list - entry 1 \"../outside.bin\": unsafe name"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        Sandbox box;
        EnvGuard env;
        const fs::path home = env.UseHome(box.Path());
        env.Set("QUELLBRIDGER_FILE_LIST_URL", c.url);
        // Each dialog here plays a fresh process: the log starts undecorated.
        LogCapture fresh(box.Path() / "capture");
        m_prompt.boxes.clear();
        auto dlg = MakeDialog();

        EXPECT_FALSE(dlg->OnInitDialog());
        EXPECT_EQ(dlg->result(), QDialog::Rejected);
        EXPECT_FALSE(dlg->isVisible());
        EXPECT_EQ(dlg->Worker(), nullptr);
        EXPECT_EQ(m_prompt.boxes, std::vector<ScriptedPrompt::Box>{c.box});

        const std::vector<std::string> log = DailyLog(home);
        ASSERT_GE(log.size(), 3u);
        // A bare line parts this run from earlier ones in the same file.
        EXPECT_EQ(log[0], "");
        EXPECT_TRUE(IsLogLine(log[1], "INFO", "log initialize success")) << log[1];
        EXPECT_TRUE(HasLogLine(home, c.level, c.logLine));
        EXPECT_FALSE(HasLogLine(home, "INFO", "download thread create success"));
    }
}

TEST_F(InstallerDialogTest, SessionStartTakesALongListAndFillsTheLabels) {
    std::vector<FileSpec> files;
    for (int i = 0; i < 200; ++i) {
        files.push_back({"data/region" + std::to_string(i) + ".map", MakeBytes(10 + i, i)});
    }
    files[0].bytes = MakeBytes(1536, 7);
    Sandbox docRoot;
    const std::string body = ListJson("2023.08.14.01", "http://127.0.0.1:1/client/", files);
    ASSERT_GT(body.size(), 8192u);
    docRoot.Write("filelist.json", body);
    NginxServer nginx(docRoot.Path());
    ASSERT_TRUE(nginx.Start());
    m_env.Set("QUELLBRIDGER_FILE_LIST_URL", nginx.BaseUrl() + "filelist.json");
    uint64_t total = 0;
    for (const FileSpec& file : files) {
        total += file.bytes.size();
    }

    auto dlg = MakeDialog();
    dlg->freeBytes = 5u << 20;
    ASSERT_TRUE(dlg->OnInitDialog());
    EXPECT_EQ(m_prompt.boxes, kNoBoxes);
    EXPECT_EQ(dlg->FileList().FileList.size(), 200u);
    EXPECT_EQ(dlg->windowTitle(), "Quellbridger for Talvermoor");

    const std::pair<int, std::string> labels[] = {
        {IDC_FILE_NAME, "data/region0.map"},
        {IDC_FILE_SIZE, "1.50 KB"},
        {IDC_SPEED, "0 Bytes/sec"},
        {IDC_FILE_DONE, "0 Bytes"},
        {IDC_FILE_SIZE_RIGHT, "1.50 KB"},
        {IDC_TIME_ELAPSED, "00:00:00"},
        {IDC_TIME_LEFT, "00:00:00"},
        {IDC_TOTAL_DONE, "0 Bytes"},
        {IDC_TOTAL_SIZE, FormatSizeText(total)},
        {IDC_REQUIRED_SPACE, FormatSizeText(total)},
        {IDC_AVAILABLE_SPACE, "5.00 MB"},
        {IDC_INSTALL_PATH, DefaultFolder()},
    };
    for (const auto& [id, text] : labels) {
        EXPECT_EQ(dlg->GetItemText(id), text) << "label " << id;
    }
    EXPECT_EQ(ButtonsOf(*dlg), kReady);
    ASSERT_NE(dlg->Worker(), nullptr);
    EXPECT_EQ(dlg->Worker()->InstallFolder(), DefaultFolder());
    EXPECT_EQ(dlg->Worker()->FileList().FileList.size(), 200u);
    EXPECT_FALSE(dlg->Worker()->IsRunning());
    for (const char* line : {"log initialize success", "file list download success",
                             "file list deserialize success", "download thread create success"}) {
        EXPECT_TRUE(HasLogLine(m_home, "INFO", line)) << line;
    }
}

TEST_F(InstallerDialogTest, ListWithoutEntriesStartsAndTakesRecords) {
    auto dlg = ReadyDialog({}, "http://127.0.0.1:1/");
    EXPECT_EQ(dlg->GetItemText(IDC_FILE_NAME), "");
    EXPECT_EQ(dlg->GetItemText(IDC_FILE_SIZE), "0 Bytes");
    EXPECT_EQ(dlg->GetItemText(IDC_TOTAL_SIZE), "0 Bytes");
    // Records naming entries that do not exist change the counters but nothing else.
    dlg->now = 2000;
    dlg->Progress(3, 1000, 10, 5);
    dlg->Progress(-1, 1000, 10, 5);
    EXPECT_EQ(dlg->GetItemText(IDC_FILE_NAME), "");
    EXPECT_EQ(dlg->GetItemText(IDC_FILE_DONE), "5 Bytes");
}

// ---- Download control ----

TEST_F(InstallerDialogTest, ButtonsFollowTheRunThroughStopFailureAndSuccess) {
    const std::vector<FileSpec> files = {{"a.bin", MakeBytes(3000, 1)},
                                         {"sub/b.bin", MakeBytes(5000, 2)},
                                         {"QXLauncher.exe", "#!/bin/sh\n"}};
    FaultRoute silent;
    silent.neverAnswer = true;
    m_server.SetRoute("/files/a.bin", silent);
    auto dlg = ReadyDialog(files, m_server.Url("files/"));
    const std::string folder = dlg->GetItemText(IDC_INSTALL_PATH);
    EXPECT_EQ(ButtonsOf(*dlg), kReady);

    dlg->Click(IDC_START);
    EXPECT_EQ(ButtonsOf(*dlg), kDownloading);
    EXPECT_TRUE(dlg->IsDownloading());
    EXPECT_TRUE(HasLogLine(m_home, "INFO", "file download start"));
    // The folder is remembered for a later resume.
    EXPECT_EQ(ReadFileBytes(KeyFolder() / "InstallPath"), folder);
    m_server.WaitForRequests(2);
    // The elapsed clock counts timer ticks.
    for (int i = 0; i < 61; ++i) {
        dlg->OnTimer(ELAPSED_TIMER_ID);
    }
    EXPECT_EQ(dlg->GetItemText(IDC_TIME_ELAPSED), "00:01:01");

    m_prompt.answers = {IDNO};
    dlg->Click(IDC_STOP);
    EXPECT_EQ(m_prompt.boxes, std::vector{Box(109, MB_YESNO)});
    EXPECT_EQ(ButtonsOf(*dlg), kDownloading);
    EXPECT_FALSE(HasLogLine(m_home, "INFO", "file download stop"));

    m_prompt.answers = {IDYES};
    dlg->Click(IDC_STOP);
    EXPECT_EQ(ButtonsOf(*dlg), kStopped);
    EXPECT_TRUE(dlg->IsStopped());
    EXPECT_FALSE(dlg->IsDownloading());
    EXPECT_TRUE(HasLogLine(m_home, "INFO", "file download stop"));
    EXPECT_EQ(dlg->GetItemText(IDC_TIME_ELAPSED), "00:01:01");
    // The stopped run's own end record shows nothing.
    DrainWorker(*dlg);
    EXPECT_EQ(m_prompt.boxes.size(), 2u);
    EXPECT_EQ(ButtonsOf(*dlg), kStopped);

    // A failed run: the worker's text in a box, Start usable again.
    FaultRoute missing;
    missing.status = 404;
    m_server.SetRoute("/files/a.bin", missing);
    dlg->Click(IDC_START);
    EXPECT_EQ(ButtonsOf(*dlg), kDownloading);
    EXPECT_FALSE(dlg->IsStopped());
    // Start after Stop counts from zero again.
    dlg->OnTimer(ELAPSED_TIMER_ID);
    EXPECT_EQ(dlg->GetItemText(IDC_TIME_ELAPSED), "00:00:01");
    ASSERT_TRUE(WaitUntil([&] { return !dlg->IsDownloading(); }, 10000));
    EXPECT_EQ(ButtonsOf(*dlg), kFailed);
    EXPECT_EQ(m_prompt.boxes.back(), (ScriptedPrompt::Box{LoadFormatString(104, 404L), MB_OK}));
    const std::string afterFailure = dlg->GetItemText(IDC_TIME_ELAPSED);

    // A successful run.
    Serve(files);
    m_prompt.boxes.clear();
    dlg->Click(IDC_START);
    EXPECT_EQ(ButtonsOf(*dlg), kDownloading);
    // Start after a failure goes on counting.
    dlg->OnTimer(ELAPSED_TIMER_ID);
    EXPECT_GT(dlg->GetItemText(IDC_TIME_ELAPSED), afterFailure);
    ASSERT_TRUE(WaitUntil([&] { return !dlg->IsDownloading(); }, 10000));
    EXPECT_EQ(m_prompt.boxes, kNoBoxes);
    EXPECT_EQ(ButtonsOf(*dlg), kCompleted);
    for (const FileSpec& file : files) {
        EXPECT_EQ(Md5Hex(ReadFileBytes(fs::path(folder) / file.name)), Md5Hex(file.bytes));
    }
}

TEST_F(InstallerDialogTest, StartWantsMoreFreeSpaceThanTheTotalSize) {
    const std::vector<FileSpec> files = {{"a.bin", MakeBytes(3000, 1)},
                                         {"b.bin", MakeBytes(1000, 2)}};
    FaultRoute missing;
    missing.status = 404;
    m_server.SetRoute("/files/a.bin", missing);
    struct Case {
        uint64_t freeBytes;
        bool starts;
    };
    for (const Case c : {Case{4000, false}, Case{3999, false}, Case{4001, true}}) {
        SCOPED_TRACE(c.freeBytes);
        m_prompt.boxes.clear();
        auto dlg = ReadyDialog(files, m_server.Url("files/"));
        dlg->freeBytes = c.freeBytes;
        dlg->Click(IDC_START);
        if (c.starts) {
            EXPECT_EQ(ButtonsOf(*dlg), kDownloading);
            EXPECT_EQ(m_prompt.boxes, kNoBoxes);
            ASSERT_TRUE(WaitUntil([&] { return !dlg->IsDownloading(); }, 10000));
        } else {
            EXPECT_EQ(m_prompt.boxes, std::vector{Box(108, MB_OK)});
            EXPECT_EQ(ButtonsOf(*dlg), kReady);
            EXPECT_FALSE(dlg->Worker()->IsRunning());
            EXPECT_FALSE(fs::exists(KeyFolder() / "InstallPath"));
        }
    }
}

// Files already in place need no room: a complete or half-done install can be checked and
// resumed on a disk with less free space than the whole list, while the label still shows
// the whole list's size.
TEST_F(InstallerDialogTest, StartWantsRoomOnlyForWhatIsMissing) {
    const std::vector<FileSpec> files = {{"a.bin", MakeBytes(3000, 1)},
                                         {"b.bin", MakeBytes(1000, 2)}};
    Serve(files);
    struct Case {
        uint64_t freeBytes;
        bool starts;
    };
    for (const Case c : {Case{1000, false}, Case{1001, true}}) {
        SCOPED_TRACE(c.freeBytes);
        m_prompt.boxes.clear();
        auto dlg = ReadyDialog(files, m_server.Url("files/"));
        const fs::path folder = dlg->GetItemText(IDC_INSTALL_PATH);
        fs::remove_all(folder);
        fs::create_directories(folder);
        m_box.Write(fs::relative(folder / "a.bin", m_box.Path()).string(), files[0].bytes);
        // The folder of an earlier install, so its files are ours.
        SaveInstallFolder(folder.string());
        EXPECT_EQ(dlg->GetItemText(IDC_REQUIRED_SPACE), FormatSizeText(4000));
        dlg->freeBytes = c.freeBytes;
        dlg->Click(IDC_START);
        if (c.starts) {
            EXPECT_EQ(m_prompt.boxes, kNoBoxes);
            ASSERT_TRUE(WaitUntil([&] { return !dlg->IsDownloading(); }, 10000));
            EXPECT_EQ(Md5Hex(ReadFileBytes(folder / "b.bin")), Md5Hex(files[1].bytes));
        } else {
            EXPECT_EQ(m_prompt.boxes, std::vector{Box(108, MB_OK)});
            EXPECT_FALSE(dlg->Worker()->IsRunning());
        }
    }
}

TEST_F(InstallerDialogTest, StartRefusesAFolderWithOtherFilesInIt) {
    const std::vector<FileSpec> files = {{"a.bin", MakeBytes(3000, 1)},
                                         {"QXLauncher.exe", "#!/bin/sh\n"}};
    Serve(files);
    const fs::path folder = m_box.Write("games/full/other.txt", "not ours").parent_path();

    auto dlg = ReadyDialog(files, m_server.Url("files/"));
    dlg->SetItemText(IDC_INSTALL_PATH, folder.string());
    dlg->Click(IDC_START);
    EXPECT_EQ(m_prompt.boxes, std::vector{Box(124, MB_OK)});
    EXPECT_EQ(ButtonsOf(*dlg), kReady);
    EXPECT_FALSE(dlg->Worker()->IsRunning());
    EXPECT_FALSE(fs::exists(KeyFolder()));

    // The folder of the unfinished download is taken again with its partial files.
    SaveInstallFolder(folder.string());
    dlg->SetWorkerInstallFolder(folder.string());
    m_prompt.boxes.clear();
    dlg->Click(IDC_START);
    EXPECT_EQ(ButtonsOf(*dlg), kDownloading);
    ASSERT_TRUE(WaitUntil([&] { return !dlg->IsDownloading(); }, 10000));
    EXPECT_EQ(m_prompt.boxes, kNoBoxes);
    EXPECT_EQ(ReadFileBytes(folder / "a.bin"), files[0].bytes);
    EXPECT_EQ(ReadFileBytes(folder / "other.txt"), "not ours");
}

// The arithmetic is the progress model's (tests/core); the window shows what it computes.
TEST_F(InstallerDialogTest, ProgressRecordsShowWhatTheCoreComputes) {
    // Sizes only matter to the arithmetic; nothing is fetched.
    const std::vector<FileSpec> files = {
        {"a.bin", "", 10000}, {"dir/b.bin", "", 90062000}, {"c.bin", "", 0}, {"d.bin", "", 2048}};
    auto dlg = ReadyDialog(files, "http://127.0.0.1:1/");
    const std::string totalSize = dlg->GetItemText(IDC_TOTAL_SIZE);

    struct Step {
        const char* what;
        uint32_t now;
        int32_t index;
        uint32_t start;
        uint64_t total;
        uint64_t done;
        bool skipped;
        const char* speed;  // as shown: a skipped file leaves it as it was
    };
    const Step steps[] = {
        {"first file, first record", 0, 0, 0xFFFFFFFFu - 999, 10000, 1000, false, "1000 Bytes/sec"},
        {"same file, nothing new", 1000, 0, 0xFFFFFFFFu - 999, 10000, 1000, false, ""},
        {"same file grows", 2000, 0, 0xFFFFFFFFu - 999, 10000, 3048, false, "2.00 KB/sec"},
        {"skipped file keeps the speed", 2001, 3, 2000, 2048, 2048, true, "2.00 KB/sec"},
        {"new file, a day and more left", 5000, 1, 4000, 90062000, 1000, false, "0 Bytes/sec"},
        {"complete empty file", 6000, 2, 5500, 0, 0, false, "0 Bytes/sec"},
    };
    for (const Step& s : steps) {
        SCOPED_TRACE(s.what);
        dlg->now = s.now;
        dlg->Progress(s.index, s.start, s.total, s.done, s.skipped);
        const ProgressTexts& texts = dlg->Session().Progress().Texts();
        EXPECT_EQ(dlg->GetItemText(IDC_FILE_NAME), texts.fileName);
        EXPECT_EQ(dlg->GetItemText(IDC_FILE_NAME), files[static_cast<size_t>(s.index)].name);
        EXPECT_EQ(dlg->GetItemText(IDC_FILE_SIZE), texts.fileSize);
        EXPECT_EQ(dlg->GetItemText(IDC_FILE_SIZE_RIGHT), texts.fileSize);
        EXPECT_EQ(dlg->GetItemText(IDC_SPEED), s.speed);
        EXPECT_EQ(dlg->GetItemText(IDC_FILE_DONE), texts.fileDone);
        EXPECT_EQ(dlg->GetItemText(IDC_TIME_LEFT), texts.timeLeft);
        EXPECT_EQ(dlg->GetItemText(IDC_TOTAL_DONE), texts.totalDone);
        EXPECT_EQ(dlg->GetBarPos(IDC_FILE_PROGRESS), texts.filePercent);
        EXPECT_EQ(dlg->GetBarPos(IDC_TOTAL_PROGRESS), texts.totalPercent);
        EXPECT_EQ(dlg->GetItemText(IDC_TOTAL_SIZE), totalSize);
    }
    EXPECT_EQ(dlg->GetItemText(IDC_TIME_LEFT), "00:00:00");
    EXPECT_EQ(dlg->GetItemText(IDC_TOTAL_DONE), "5.95 KB");

    // A record at its own start time counts its bytes but shows nothing yet.
    dlg->now = 9000;
    dlg->Progress(3, 9000, 2048, 1024);
    EXPECT_EQ(dlg->GetItemText(IDC_FILE_NAME), "c.bin");
    EXPECT_EQ(dlg->GetItemText(IDC_TOTAL_DONE), "5.95 KB");
    dlg->now = 10000;
    dlg->Progress(3, 9000, 2048, 2048);
    EXPECT_EQ(dlg->GetItemText(IDC_FILE_NAME), "c.bin");
    EXPECT_EQ(dlg->GetItemText(IDC_TOTAL_DONE), "7.95 KB");

    // Files counted again push the total past the list's size; the bar stays full.
    dlg->Progress(1, 9000, 90062000, 90062000);
    dlg->Progress(0, 9000, 10000, 10000);
    dlg->Progress(1, 9000, 90062000, 90062000);
    EXPECT_EQ(dlg->GetItemText(IDC_TOTAL_DONE), "171.80 MB");
    EXPECT_EQ(dlg->GetBarPos(IDC_TOTAL_PROGRESS), 100);
    EXPECT_EQ(m_prompt.boxes, kNoBoxes);
}

// "AutoRetry" = "1" in the settings store: the run waits out a busy server and the file name
// label says so until the transfer goes on. Without the value the worker does not retry.
TEST_F(InstallerDialogTest, AutoRetryFromTheSettingsStoreShowsTheWaitInTheFileNameLabel) {
    const std::vector<FileSpec> files = {{"a.bin", MakeBytes(3000, 1)}};
    FaultRoute busy;
    busy.status = 503;
    busy.body = "busy";
    busy.headers = {{"Retry-After", "30"}};
    m_server.SetRoute("/files/a.bin", busy);
    EXPECT_FALSE(ReadyDialog(files, m_server.Url("files/"))->Session().Worker()->AutoRetry());

    m_box.Write("home/.config/HOLLOWMERE WORKS/AutoRetry", "1");
    auto dlg = ReadyDialog(files, m_server.Url("files/"));
    ASSERT_TRUE(dlg->Session().Worker()->AutoRetry());
    dlg->Click(IDC_START);
    const std::string waiting = "Retrying in 30 s (HTTP 503)";
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (dlg->GetItemText(IDC_FILE_NAME) != waiting &&
           std::chrono::steady_clock::now() < deadline) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    EXPECT_EQ(dlg->GetItemText(IDC_FILE_NAME), waiting);
    EXPECT_TRUE(dlg->IsDownloading());

    dlg->now = 5000;
    dlg->Progress(0, 1000, 3000, 100);
    EXPECT_EQ(dlg->GetItemText(IDC_FILE_NAME), "a.bin");
    dlg->Retry(0, 2, "connection reset");
    EXPECT_EQ(dlg->GetItemText(IDC_FILE_NAME), "Retrying in 2 s (connection reset)");

    m_prompt.answers = {IDYES};
    dlg->Click(IDC_STOP);
    EXPECT_FALSE(dlg->IsDownloading());
    EXPECT_EQ(ButtonsOf(*dlg), kStopped);
}

TEST_F(InstallerDialogTest, StartAfterStopRebasesTheWorkersFileClock) {
    const std::vector<FileSpec> files = {{"a.bin", "", 100000}, {"b.bin", "", 100}};
    FaultRoute silent;
    silent.neverAnswer = true;
    m_server.SetRoute("/files/a.bin", silent);
    auto dlg = ReadyDialog(files, m_server.Url("files/"));

    dlg->now = 10000;
    dlg->Click(IDC_START);
    m_server.WaitForRequests(2);
    dlg->Progress(0, 7000, 100000, 5000);
    EXPECT_EQ(dlg->GetItemText(IDC_TIME_LEFT), "00:00:57");

    dlg->now = 12000;
    m_prompt.answers = {IDYES};
    dlg->Click(IDC_STOP);
    DrainWorker(*dlg);

    // Forty seconds later the run goes on; the worker restarts the file and its clock.
    dlg->now = 52000;
    dlg->Click(IDC_START);
    ASSERT_EQ(ButtonsOf(*dlg), kDownloading);
    m_server.WaitForRequests(3);
    // The first record after the new start puts the five seconds already spent (stop time
    // minus the file's start) behind now, plus a second for the new connection.
    dlg->Progress(0, dlg->Worker()->FileStartTime(), 100000, 5000);
    EXPECT_EQ(dlg->Worker()->FileStartTime(), 52000u - 5000 + 1000);
    EXPECT_EQ(dlg->GetItemText(IDC_TIME_LEFT), "00:01:35");

    // Later records use the re-based start the worker now carries.
    dlg->now = 54000;
    dlg->Progress(0, dlg->Worker()->FileStartTime(), 100000, 12000);
    EXPECT_EQ(dlg->Worker()->FileStartTime(), 48000u);
    EXPECT_EQ(dlg->GetItemText(IDC_TIME_LEFT), "00:00:44");
    EXPECT_EQ(m_prompt.boxes, std::vector{Box(109, MB_YESNO)});
}

TEST_F(InstallerDialogTest, EndRecordOfAStoppedRunNeverFailsTheNextRun) {
    // The worker may end only after the user has already pressed Start again; its end
    // record then arrives while the new run is under way.
    const std::vector<FileSpec> files = {{"a.bin", MakeBytes(3000, 1)}};
    FaultRoute silent;
    silent.neverAnswer = true;
    m_server.SetRoute("/files/a.bin", silent);
    auto dlg = ReadyDialog(files, m_server.Url("files/"));
    dlg->Click(IDC_START);
    m_server.WaitForRequests(2);
    m_prompt.answers = {IDYES};
    dlg->Click(IDC_STOP);
    // Waits without handling events, so its end record stays queued.
    for (int i = 0; i < 1000 && !dlg->Worker()->HasEnded(); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ASSERT_TRUE(dlg->Worker()->HasEnded());

    dlg->Click(IDC_START);
    QCoreApplication::sendPostedEvents(dlg.get());
    EXPECT_EQ(ButtonsOf(*dlg), kDownloading);
    EXPECT_TRUE(dlg->IsDownloading());
    EXPECT_EQ(m_prompt.boxes, std::vector{Box(109, MB_YESNO)});
}

// Enter presses only the focused button (the window tests cover that); it never presses a default
// button, and Escape never ends the dialog.
TEST_F(InstallerDialogTest, EscapeAndEnterOnTheWindowDoNothing) {
    auto dlg = ReadyDialog({{"a.bin", "abc"}}, "http://127.0.0.1:1/");
    dlg->show();
    QAbstractButton* start = dlg->Button(IDC_START);
    start->setFocus();
    QCoreApplication::processEvents();
    for (QWidget* target : {static_cast<QWidget*>(dlg.get()), static_cast<QWidget*>(start),
                            dlg->GetDlgItem(IDC_CLOSE)}) {
        const bool button = target != dlg.get();
        for (int key : {Qt::Key_Return, Qt::Key_Enter, Qt::Key_Escape}) {
            if (button && key != Qt::Key_Escape) {
                continue;
            }
            QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier);
            QKeyEvent release(QEvent::KeyRelease, key, Qt::NoModifier);
            QApplication::sendEvent(target, &press);
            QApplication::sendEvent(target, &release);
        }
    }
    QCoreApplication::processEvents();
    EXPECT_TRUE(dlg->isVisible());
    EXPECT_EQ(dlg->result(), 0);
    EXPECT_EQ(m_prompt.boxes, kNoBoxes);
    EXPECT_EQ(ButtonsOf(*dlg), kReady);
    EXPECT_FALSE(dlg->Worker()->IsRunning());
}

TEST_F(InstallerDialogTest, CloseAsksFirstAndEndsOnYes) {
    const std::vector<FileSpec> files = {{"a.bin", MakeBytes(3000, 1)}};
    FaultRoute silent;
    silent.neverAnswer = true;
    m_server.SetRoute("/files/a.bin", silent);
    enum class Way { Button, CaptionButton, WindowManager };
    struct Case {
        const char* label;
        bool downloading;
        Way way;
        int answer;
    };
    const Case cases[] = {
        {"ready, Close, No", false, Way::Button, IDNO},
        {"ready, caption close, Yes", false, Way::CaptionButton, IDYES},
        {"ready, window manager, Yes", false, Way::WindowManager, IDYES},
        {"downloading, window manager, No", true, Way::WindowManager, IDNO},
        {"downloading, Close, Yes", true, Way::Button, IDYES},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        Sandbox logBox;
        EnvGuard env;
        const fs::path home = env.UseHome(logBox.Path());
        m_prompt.boxes.clear();
        auto dlg = ReadyDialog(files, m_server.Url("files/"));
        dlg->show();
        if (c.downloading) {
            dlg->Click(IDC_START);
        }
        m_prompt.answers = {c.answer};
        switch (c.way) {
            case Way::Button:
                dlg->Click(IDC_CLOSE);
                break;
            case Way::CaptionButton:
                dlg->Click(IDC_CLOSE_BOX);
                break;
            case Way::WindowManager:
                dlg->close();
                break;
        }
        EXPECT_EQ(m_prompt.boxes, std::vector{Box(c.downloading ? 110 : 102, MB_YESNO)});
        if (c.answer == IDNO) {
            EXPECT_TRUE(dlg->isVisible());
            EXPECT_EQ(dlg->result(), 0);
            EXPECT_EQ(dlg->IsDownloading(), c.downloading);
            EXPECT_FALSE(HasLogLine(home, "INFO", "program close"));
        } else {
            EXPECT_FALSE(dlg->isVisible());
            EXPECT_EQ(dlg->result(), QDialog::Rejected);
            // The worker is stopped and gone with the window.
            EXPECT_EQ(dlg->Worker(), nullptr);
            EXPECT_TRUE(HasLogLine(home, "INFO", "program close"));
        }
    }
}

// ---- Completion and the launcher ----

class CompletionTest : public InstallerDialogTest {
protected:
    void SetUp() override {
        InstallerDialogTest::SetUp();
        m_folder = m_box.Path() / "game";
        fs::create_directories(m_folder);
    }

    // A dialog after a successful run into m_folder, which holds a launcher with script.
    std::unique_ptr<TestDialog> CompletedDialog(const std::string& script = "#!/bin/sh\n") {
        m_box.Write("game/QXLauncher.exe", script);
        auto dlg = ReadyDialog({{"QXLauncher.exe", script}}, "http://127.0.0.1:1/");
        dlg->SetItemText(IDC_INSTALL_PATH, m_folder.string());
        SaveInstallFolder(m_folder.string());
        dlg->show();
        dlg->Finished(true);
        return dlg;
    }

    std::string Launcher() const { return (m_folder / "QXLauncher.exe").string(); }

    fs::path m_folder;
};

TEST_F(CompletionTest, CompletionForgetsTheFolderMakesShortcutsAndLeavesRun) {
    auto dlg = CompletedDialog();
    EXPECT_EQ(m_prompt.boxes, kNoBoxes);
    EXPECT_TRUE(m_warning.shown.empty());
    EXPECT_EQ(ButtonsOf(*dlg), kCompleted);
    EXPECT_TRUE(HasLogLine(m_home, "INFO", "total download is succeeded"));
    EXPECT_FALSE(fs::exists(KeyFolder()));
    EXPECT_TRUE(fs::is_directory(KeyFolder().parent_path()));
    for (const fs::path& shortcut :
         {m_home / "Desktop/Talvermoor.desktop",
          m_home / ".local/share/applications/Talvermoor/Talvermoor.desktop"}) {
        SCOPED_TRACE(shortcut.string());
        const std::string entry = ReadFileBytes(shortcut);
        EXPECT_NE(entry.find("Exec="), std::string::npos);
        EXPECT_NE(entry.find(Launcher()), std::string::npos);
        EXPECT_NE(entry.find("\nPath=" + m_folder.string() + "\n"), std::string::npos);
    }
}

TEST_F(CompletionTest, RefusedShortcutsAreReportedInOrderAndRunStaysUsable) {
    // Files where the two folders would have to be.
    fs::remove(m_home / "Desktop");
    m_box.Write("home/Desktop", "a file");
    m_env.Set("XDG_DATA_HOME", m_box.Write("not-a-folder", "a file").string());
    fs::remove(m_box.Path() / "prefix/drive_c/windows/system32/d3dx9_31.dll");

    auto dlg = CompletedDialog();
    EXPECT_EQ(m_prompt.boxes, (std::vector{Box(114, MB_OK), Box(115, MB_OK)}));
    EXPECT_EQ(m_warning.shown, (std::vector<std::pair<bool, bool>>{{false, true}}));
    EXPECT_EQ(ButtonsOf(*dlg), kCompleted);
    EXPECT_FALSE(fs::exists(KeyFolder()));
}

TEST_F(CompletionTest, RunStartsTheLauncherAndEndsOnlyWhenItWaitsForInput) {
    struct Case {
        const char* label;
        const char* script;  // null: the launcher is removed before Run
        bool ends;
        std::vector<ScriptedPrompt::Box> boxes;
        std::string errorLine;
    };
    const Case cases[] = {
        {"gone since", nullptr, false, {Box(113, MB_OK)}, "launcher execute is failed - (2)"},
        {"ends at once",
         "#!/bin/sh\nexit 0\n",
         false,
         {Box(112, MB_OK)},
         "unconfirmed launcher execute"},
        {"waits for input",
         "#!/bin/sh\necho $$ \"$#\" > launcher.pid\nexec sleep 30\n",
         true,
         {},
         ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        fs::remove_all(m_folder);
        fs::create_directories(m_folder);
        m_prompt.boxes.clear();
        auto dlg = CompletedDialog(c.script != nullptr ? c.script : "#!/bin/sh\n");
        ASSERT_EQ(m_prompt.boxes, kNoBoxes);
        if (c.script == nullptr) {
            fs::remove(Launcher());
        }

        dlg->Click(IDC_RUN);
        EXPECT_TRUE(HasLogLine(m_home, "INFO", "launcher execute"));
        if (c.script != nullptr) {
            // The window is not held while the launcher comes up.
            EXPECT_TRUE(dlg->IsWaitingForLauncher());
            EXPECT_FALSE(dlg->IsItemEnabled(IDC_RUN));
            EXPECT_TRUE(WaitUntil([&] { return !dlg->IsWaitingForLauncher(); }, 5000));
        }
        EXPECT_EQ(m_prompt.boxes, c.boxes);
        if (c.ends) {
            EXPECT_FALSE(dlg->isVisible());
            EXPECT_EQ(dlg->result(), QDialog::Rejected);
            // Started in the install folder without arguments; it is ours to end.
            ASSERT_TRUE(WaitUntil([&] { return fs::exists(m_folder / "launcher.pid"); }, 5000));
            int pid = 0;
            int argc = -1;
            std::istringstream(ReadFileBytes(m_folder / "launcher.pid")) >> pid >> argc;
            EXPECT_EQ(argc, 0);
            ASSERT_GT(pid, 1);
            EXPECT_EQ(::kill(pid, SIGKILL), 0);
            ::waitpid(pid, nullptr, 0);
        } else {
            EXPECT_TRUE(dlg->isVisible());
            EXPECT_EQ(ButtonsOf(*dlg), kCompleted);
            EXPECT_TRUE(HasLogLine(m_home, "ERROR", c.errorLine));
        }
    }
}

// ---- A whole run against nginx ----

TEST_F(InstallerDialogTest, RunDownloadsEverythingFromNginxAndHandsOverToTheLauncher) {
    const std::vector<FileSpec> files = {
        {"QXLauncher.exe", "#!/bin/sh\necho $$ > launcher.pid\nexec sleep 30\n"},
        {"data/maps/region1.map", MakeBytes(300 * 1024, 1)},
        {"data/empty.cfg", ""},
        {"bin/big.pak", MakeBytes(3 * 1024 * 1024 + 17, 2)},
        {"README.txt", "Talvermoor\n"},
    };
    Sandbox docRoot;
    for (const FileSpec& file : files) {
        docRoot.Write("client/" + file.name, file.bytes);
    }
    NginxServer nginx(docRoot.Path());
    ASSERT_TRUE(nginx.Start());
    docRoot.Write("filelist.json", ListJson("2023.08.14.01", nginx.BaseUrl() + "client/", files));
    m_env.Set("QUELLBRIDGER_FILE_LIST_URL", nginx.BaseUrl() + "filelist.json");

    auto dlg = MakeDialog();
    ASSERT_TRUE(dlg->OnInitDialog());
    dlg->show();
    const fs::path folder = dlg->GetItemText(IDC_INSTALL_PATH);
    dlg->Click(IDC_START);
    ASSERT_TRUE(WaitUntil([&] { return !dlg->IsDownloading(); }, 20000));
    EXPECT_EQ(m_prompt.boxes, kNoBoxes);
    EXPECT_EQ(ButtonsOf(*dlg), kCompleted);
    for (const FileSpec& file : files) {
        EXPECT_EQ(Md5Hex(ReadFileBytes(folder / file.name)), Md5Hex(file.bytes)) << file.name;
    }
    EXPECT_EQ(dlg->GetBarPos(IDC_TOTAL_PROGRESS), 100);
    EXPECT_EQ(dlg->GetItemText(IDC_TOTAL_DONE), dlg->GetItemText(IDC_TOTAL_SIZE));
    for (const char* line : {"file download start", "total download is succeeded"}) {
        EXPECT_TRUE(HasLogLine(m_home, "INFO", line)) << line;
    }
    EXPECT_FALSE(fs::exists(KeyFolder()));

    dlg->Click(IDC_RUN);
    ASSERT_TRUE(WaitUntil([&] { return !dlg->isVisible(); }, 5000));
    ASSERT_TRUE(WaitUntil([&] { return fs::exists(folder / "launcher.pid"); }, 5000));
    const int pid = std::stoi(ReadFileBytes(folder / "launcher.pid"));
    ASSERT_GT(pid, 1);
    EXPECT_EQ(::kill(pid, SIGKILL), 0);
    ::waitpid(pid, nullptr, 0);
}

}  // namespace
