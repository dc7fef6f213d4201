// The installer session on a fake view, clock, disk and shell: session start with each of its
// messages, the Start checks, Stop and Close, the end of a run, completion and the launcher.
// The worker is real; its files come from a loopback port that refuses connections.
#include "core/installer_session.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "core/control_ids.h"
#include "core/user_prompt.h"
#include "core_fakes.h"
#include "download/download_queue.h"
#include "download/download_thread.h"
#include "download/list_fetch.h"
#include "platform/message_id.h"
#include "platform/string_table.h"
#include "support/button_states.h"
#include "support/closed_port.h"
#include "support/log_capture.h"
#include "support/sandbox.h"
#include "support/test_data.h"
#include "support/test_list.h"

namespace {

const std::vector<ShownMessage> kNone;

class SessionTest : public ::testing::Test {
protected:
    SessionTest() {
        m_view.takeQueued = [this] { Drain(); };
        m_folder = (m_box.Path() / "game").string();
        m_system.proposedFolder = m_folder;
        m_system.freeBytes[m_folder] = uint64_t{1} << 40;
    }

    CInstallerSession& Make() {
        // A session of an earlier case may have left its worker's records behind.
        m_session.reset();
        CDownloadQueue::Record stale;
        while (m_queue.Take(stale, std::chrono::milliseconds(0))) {
        }
        m_session = std::make_unique<CInstallerSession>(m_view, &m_queue, m_system.Services());
        m_session->SetHttpTimeouts(HttpTimeouts{2000, 5});
        return *m_session;
    }

    // A session past its start with the list of files, whose files are never reachable.
    CInstallerSession& Ready(const std::vector<TestFile>& files) {
        m_system.listText = ListDocument(MakeList(m_closed.BaseUrl(), files));
        CInstallerSession& session = Make();
        EXPECT_EQ(session.Open("http://127.0.0.1:1/filelist.json"), SessionStart::Ready);
        session.ProposeInstallFolder();
        EXPECT_TRUE(session.CreateWorker());
        EXPECT_EQ(m_view.messages, kNone);
        return session;
    }

    // Hands the session every record the worker queued, as a view does.
    void Drain() {
        CDownloadQueue::Record record;
        while (m_queue.Take(record, std::chrono::milliseconds(0))) {
            if (auto* progress = std::get_if<std::unique_ptr<DownloadProgress>>(&record)) {
                m_session->OnProgress(**progress);
            } else if (auto* retry = std::get_if<std::unique_ptr<DownloadRetry>>(&record)) {
                m_session->OnRetry(**retry);
            } else {
                m_session->OnFinished(std::get<std::unique_ptr<DownloadResult>>(record).get());
            }
        }
    }

    // Waits for the worker's thread to end, then hands over what it posted.
    void EndOfRun() {
        ASSERT_NE(m_session->Worker(), nullptr);
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (!m_session->Worker()->HasEnded() && std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        ASSERT_TRUE(m_session->Worker()->HasEnded());
        Drain();
    }

    Buttons ButtonsShown() const {
        // Close is never switched off.
        EXPECT_TRUE(m_view.IsEnabled(IDC_CLOSE));
        EXPECT_TRUE(m_view.IsEnabled(IDC_CLOSE_BOX));
        return {m_view.IsEnabled(IDC_START), m_view.IsEnabled(IDC_STOP),
                m_view.IsEnabled(IDC_CHANGE_PATH), m_view.IsEnabled(IDC_RUN)};
    }

    bool Logged(const std::string& line) const {
        for (const std::string& l : m_log.Lines()) {
            if (l == line) {
                return true;
            }
        }
        return false;
    }

    Sandbox m_box;
    LogCapture m_log{m_box.Path() / "log"};
    ClosedPort m_closed;
    FakeView m_view;
    FakeSystem m_system;
    std::string m_folder;
    CDownloadQueue m_queue;
    std::unique_ptr<CInstallerSession> m_session;
};

// ---- Session start ----

TEST_F(SessionTest, SessionStartShowsOneMessagePerFailure) {
    const std::vector<TestFile> one = {{"a.bin", "abc"}};
    CFileList oldVersion = MakeList("http://127.0.0.1:1/", one);
    oldVersion.Version = "2023.8.14.1";
    const std::string unsafe =
        ListDocument(MakeList("http://127.0.0.1:1/", {{"a.bin", "abc"}, {"../outside.bin", "x"}}));
    struct Case {
        const char* label;
        uint32_t code;
        std::string text;
        bool interrupted;
        SessionStart result;
        std::vector<ShownMessage> messages;
    };
    const Case cases[] = {
        {"not found",
         404,
         "",
         false,
         SessionStart::Failed,
         {{104, LoadFormatString(104, 404L), MB_ICONERROR}}},
        {"body cut short",
         18,
         "",
         false,
         SessionStart::Failed,
         {{104, LoadFormatString(104, 18L), MB_ICONERROR}}},
        {"fetch stopped from outside", 42, "", true, SessionStart::Interrupted, {}},
        {"not JSON",
         0,
         "{\"Version\": ",
         false,
         SessionStart::Failed,
         {Message(105, MB_ICONERROR)}},
        {"entry leaving the folder",
         0,
         unsafe,
         false,
         SessionStart::Failed,
         {Message(105, MB_ICONERROR)}},
        {"empty object", 0, "{}", false, SessionStart::Failed, {Message(122, MB_OK)}},
        {"version without leading zeros",
         0,
         ListDocument(oldVersion),
         false,
         SessionStart::Failed,
         {Message(122, MB_OK)}},
        {"a good list",
         0,
         ListDocument(MakeList("http://127.0.0.1:1/", one)),
         false,
         SessionStart::Ready,
         {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        m_view.messages.clear();
        m_system.fetchedUrls.clear();
        m_system.fetchCode = c.code;
        m_system.listText = c.text;
        const std::atomic<bool> running{!c.interrupted};
        CInstallerSession& session = Make();
        EXPECT_EQ(session.Open("http://127.0.0.1:1/list.json", &running), c.result);
        EXPECT_EQ(m_view.messages, c.messages);
        EXPECT_EQ(m_system.fetchedUrls, std::vector<std::string>{"http://127.0.0.1:1/list.json"});
        EXPECT_EQ(session.Worker(), nullptr);
        // Start has nothing to start before the worker exists.
        EXPECT_EQ(session.Start(), StartOutcome::NoWorker);
    }
}

TEST_F(SessionTest, SessionStartFillsTheLabelsAndEntersReady) {
    std::vector<TestFile> files = {{"data/region0.map", MakeBytes(1536, 7)},
                                   {"b.bin", MakeBytes(512, 8)}};
    m_system.freeBytes[m_folder] = 5u << 20;
    CInstallerSession& session = Ready(files);
    const std::pair<int, std::string> labels[] = {
        {IDC_FILE_NAME, "data/region0.map"}, {IDC_FILE_SIZE, "1.50 KB"},
        {IDC_SPEED, "0 Bytes/sec"},          {IDC_FILE_DONE, "0 Bytes"},
        {IDC_FILE_SIZE_RIGHT, "1.50 KB"},    {IDC_TIME_ELAPSED, "00:00:00"},
        {IDC_TIME_LEFT, "00:00:00"},         {IDC_TOTAL_DONE, "0 Bytes"},
        {IDC_TOTAL_SIZE, "2.00 KB"},         {IDC_REQUIRED_SPACE, "2.00 KB"},
        {IDC_AVAILABLE_SPACE, "5.00 MB"},    {IDC_INSTALL_PATH, m_folder},
    };
    for (const auto& [id, text] : labels) {
        EXPECT_EQ(m_view.GetItemText(id), text) << "label " << id;
    }
    EXPECT_EQ(ButtonsShown(), kReady);
    EXPECT_EQ(session.State(), RunState::Ready);
    ASSERT_NE(session.Worker(), nullptr);
    EXPECT_EQ(session.Worker()->InstallFolder(), m_folder);
    EXPECT_FALSE(session.Worker()->IsRunning());
    EXPECT_TRUE(Logged("download thread create success"));
    EXPECT_TRUE(m_view.timers.empty());
}

// ---- Start ----

// A command-line run killed after making a file's folders but before opening any file leaves
// only the list's folders: the next run takes the folder; one more entry, or the window, does
// not.
TEST_F(SessionTest, CommandLineTakesAFolderHoldingOnlyTheListsFolders) {
    const std::vector<TestFile> files = {{"data/maps/a.map", MakeBytes(3000, 1)},
                                         {"data/b.pak", MakeBytes(1000, 2)},
                                         {"c.bin", MakeBytes(10, 3)}};
    StartChecks cli;
    cli.acceptListedFiles = true;
    cli.rememberFolder = false;
    struct Case {
        const char* label;
        long entries;
        StartChecks checks;
        StartOutcome outcome;
    };
    for (const Case& c : {Case{"only the list's folder", 1, cli, StartOutcome::Started},
                          Case{"and something else", 2, cli, StartOutcome::FolderRefused},
                          Case{"in the window", 1, StartChecks{}, StartOutcome::FolderRefused}}) {
        SCOPED_TRACE(c.label);
        m_view = FakeView();
        m_view.takeQueued = [this] { Drain(); };
        m_system.freeBytes[m_folder] = 1 << 20;
        m_system.folderEntries[m_folder] = c.entries;
        m_system.savedFolder.reset();
        m_system.files = {m_folder + "/data"};
        EXPECT_EQ(Ready(files).Start(c.checks), c.outcome);
    }
}

TEST_F(SessionTest, StartChecksSpaceThenTheFolder) {
    const std::vector<TestFile> files = {{"a.bin", MakeBytes(3000, 1)},
                                         {"b.bin", MakeBytes(1000, 2)}};
    struct Case {
        const char* label;
        uint64_t freeBytes;
        long entries;  // of the folder; -1 when it cannot be listed
        bool saved;    // the folder is the remembered one
        bool listedFile;
        StartChecks checks;
        StartOutcome outcome;
        uint64_t present = 0;  // bytes of the listed files already there
    };
    StartChecks cli;
    cli.acceptListedFiles = true;
    cli.rememberFolder = false;
    StartChecks yes = cli;
    yes.acceptAnyFolder = true;
    const Case cases[] = {
        // With nothing there, the whole total is wanted: free space equal to it is not enough.
        {"free space equal to the total", 4000, 0, false, false, {}, StartOutcome::NoSpace},
        {"one byte short", 3999, 0, false, false, {}, StartOutcome::NoSpace},
        {"full and not empty: space first", 4000, 3, false, false, {}, StartOutcome::NoSpace},
        {"one byte more, empty folder", 4001, 0, false, false, {}, StartOutcome::Started},
        {"other files", 1 << 20, 1, false, false, {}, StartOutcome::FolderRefused},
        {"cannot be listed", 1 << 20, -1, false, false, {}, StartOutcome::FolderRefused},
        {"the remembered folder with its partial files",
         1 << 20,
         5,
         true,
         false,
         {},
         StartOutcome::Started},
        // The window wants an empty folder even when it holds listed files.
        {"window, listed files", 1 << 20, 2, false, true, {}, StartOutcome::FolderRefused},
        {"command line, listed files", 1 << 20, 2, false, true, cli, StartOutcome::Started},
        {"command line, other files", 1 << 20, 2, false, false, cli, StartOutcome::FolderRefused},
        {"command line, --yes", 1 << 20, 2, false, false, yes, StartOutcome::Started},
        {"command line, --yes, full", 100, 2, false, false, yes, StartOutcome::NoSpace},
        // Only what is missing needs room: a resume or a repair on a fuller disk goes ahead.
        {"resume with room for the rest", 1001, 5, true, true, {}, StartOutcome::Started, 3000},
        {"resume without room for the rest", 1000, 5, true, true, {}, StartOutcome::NoSpace, 3000},
        {"command line, complete, disk full", 0, 2, false, true, cli, StartOutcome::Started, 4000},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        m_view = FakeView();
        m_view.takeQueued = [this] { Drain(); };
        m_system.freeBytes[m_folder] = c.freeBytes;
        m_system.folderEntries[m_folder] = c.entries;
        m_system.savedFolder.reset();
        if (c.saved) {
            m_system.savedFolder = m_folder;
        }
        m_system.savedFolders.clear();
        m_system.files.clear();
        m_system.presentBytes = c.present;
        if (c.listedFile) {
            m_system.files.insert(m_folder + "/b.bin");
        }
        CInstallerSession& session = Ready(files);

        EXPECT_EQ(session.Start(c.checks), c.outcome);
        switch (c.outcome) {
            case StartOutcome::Started:
                EXPECT_EQ(m_view.messages, kNone);
                EXPECT_EQ(ButtonsShown(), kDownloading);
                EXPECT_EQ(session.State(), RunState::Downloading);
                EXPECT_EQ(m_view.timers.count(ELAPSED_TIMER_ID), 1u);
                EXPECT_TRUE(Logged("file download start"));
                // Remembered for a later resume, unless the front end keeps out of the store.
                if (c.checks.rememberFolder) {
                    EXPECT_EQ(m_system.savedFolders, std::vector<std::string>{m_folder});
                } else {
                    EXPECT_TRUE(m_system.savedFolders.empty());
                }
                break;
            default:
                EXPECT_EQ(
                    m_view.messages,
                    std::vector{Message(c.outcome == StartOutcome::NoSpace ? 108 : 124, MB_OK)});
                EXPECT_EQ(ButtonsShown(), kReady);
                EXPECT_FALSE(session.Worker()->IsRunning());
                EXPECT_TRUE(m_system.savedFolders.empty());
                EXPECT_TRUE(m_view.timers.empty());
                break;
        }
        m_session.reset();
    }
}

TEST_F(SessionTest, RunMovesThroughStopFailureAndTheLabelsFollowTheRecords) {
    CInstallerSession& session = Ready({{"a.bin", MakeBytes(3000, 1)}});
    ASSERT_EQ(session.Start(), StartOutcome::Started);
    for (int i = 0; i < 61; ++i) {
        session.OnTimer(ELAPSED_TIMER_ID);
    }
    EXPECT_EQ(m_view.GetItemText(IDC_TIME_ELAPSED), "00:01:01");

    // What the model says is what the view shows.
    DownloadProgress record;
    record.nFileIndex = 0;
    record.dwStartTime = 1000;
    record.nFileTotal = 3000;
    record.nFileDone = 1500;
    m_system.now = 2000;
    session.OnProgress(record);
    const ProgressTexts& texts = session.Progress().Texts();
    EXPECT_EQ(m_view.GetItemText(IDC_FILE_DONE), texts.fileDone);
    EXPECT_EQ(m_view.GetItemText(IDC_SPEED), "1.46 KB/sec");
    EXPECT_EQ(m_view.GetItemText(IDC_TIME_LEFT), "00:00:01");
    EXPECT_EQ(m_view.GetItemText(IDC_TOTAL_DONE), "1.46 KB");
    EXPECT_EQ(m_view.bars[IDC_FILE_PROGRESS], 50);
    EXPECT_EQ(m_view.bars[IDC_TOTAL_PROGRESS], 50);

    m_view.answers = {IDNO};
    EXPECT_FALSE(session.OnStopCommand());
    EXPECT_EQ(m_view.messages, std::vector{Message(109, MB_YESNO)});
    EXPECT_EQ(session.State(), RunState::Downloading);
    EXPECT_FALSE(Logged("file download stop"));

    m_view.answers = {IDYES};
    EXPECT_TRUE(session.OnStopCommand());
    EXPECT_EQ(session.State(), RunState::Stopped);
    EXPECT_EQ(ButtonsShown(), kStopped);
    EXPECT_EQ(m_view.timers.count(ELAPSED_TIMER_ID), 0u);
    EXPECT_TRUE(Logged("file download stop"));
    EXPECT_EQ(m_view.GetItemText(IDC_TIME_ELAPSED), "00:01:01");
    // The stopped run's own end record shows nothing, whatever it says.
    EndOfRun();
    DownloadResult failed;
    failed.szMessage = "late";
    session.OnFinished(&failed);
    EXPECT_EQ(m_view.messages.size(), 2u);
    EXPECT_EQ(session.State(), RunState::Stopped);

    // The next run fails (the file server refuses): the worker's text, Start usable again.
    ASSERT_EQ(session.Start(), StartOutcome::Started);
    session.OnTimer(ELAPSED_TIMER_ID);
    EXPECT_EQ(m_view.GetItemText(IDC_TIME_ELAPSED), "00:00:01");
    EndOfRun();
    EXPECT_EQ(session.State(), RunState::Failed);
    EXPECT_EQ(ButtonsShown(), kFailed);
    ASSERT_EQ(m_view.messages.size(), 3u);
    EXPECT_EQ(m_view.messages.back(), (ShownMessage{0, LoadFormatString(104, 7L), MB_OK}));
    EXPECT_EQ(m_view.timers.count(ELAPSED_TIMER_ID), 0u);

    // A start after a failure goes on counting.
    ASSERT_EQ(session.Start(), StartOutcome::Started);
    session.OnTimer(ELAPSED_TIMER_ID);
    EXPECT_EQ(m_view.GetItemText(IDC_TIME_ELAPSED), "00:00:02");
    session.Stop();
    EndOfRun();
    EXPECT_EQ(session.State(), RunState::Stopped);
    EXPECT_EQ(m_view.messages.size(), 3u);

    // A missing end record counts as a failure without a text.
    ASSERT_EQ(session.Start(), StartOutcome::Started);
    EndOfRun();
    session.OnFinished(nullptr);
    EXPECT_EQ(session.State(), RunState::Failed);
    EXPECT_EQ(m_view.messages.back(), (ShownMessage{0, "", MB_OK}));
}

TEST_F(SessionTest, CloseAsksFirstAndEndsOnYes) {
    struct Case {
        const char* label;
        bool downloading;
        int answer;
    };
    const Case cases[] = {
        {"ready, No", false, IDNO},
        {"ready, Yes", false, IDYES},
        {"downloading, No", true, IDNO},
        {"downloading, Yes", true, IDYES},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        m_view = FakeView();
        m_view.takeQueued = [this] { Drain(); };
        CInstallerSession& session = Ready({{"a.bin", "abc"}});
        if (c.downloading) {
            ASSERT_EQ(session.Start(), StartOutcome::Started);
        }
        m_view.answers = {c.answer};
        EXPECT_EQ(session.OnCloseCommand(), c.answer == IDYES);
        EXPECT_EQ(m_view.messages, std::vector{Message(c.downloading ? 110 : 102, MB_YESNO)});
        EXPECT_EQ(m_view.ended, c.answer == IDYES ? 1 : 0);
        m_session.reset();
    }
    EXPECT_TRUE(Logged("program close"));
}

// ---- Completion and the launcher ----

TEST_F(SessionTest, CompletionChecksPackagesForgetsTheFolderAndMakesShortcuts) {
    struct Case {
        const char* label;
        bool complete;
        bool shortcutsWork;
        bool directX;
        std::vector<ShownMessage> messages;
        std::vector<std::pair<bool, bool>> warnings;
    };
    const Case cases[] = {
        {"all well", true, true, true, {}, {}},
        {"shortcuts refused, a package missing",
         true,
         false,
         false,
         {Message(114, MB_OK), Message(115, MB_OK)},
         {{false, true}}},
        // The command line completes nothing beyond the files.
        {"without completion", false, false, false, {}, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        m_view = FakeView();
        m_system.savedFolder = m_folder;
        m_system.forgotten = 0;
        m_system.shortcuts.clear();
        m_system.startMenuShortcut = m_system.desktopShortcut = c.shortcutsWork;
        m_system.directX = c.directX;
        CInstallerSession& session = Ready({{"QXLauncher.exe", "#!/bin/sh\n"}});
        session.SetCompletion(c.complete);
        DownloadResult done;
        done.bSucceeded = 1;
        session.OnFinished(&done);
        EXPECT_EQ(session.State(), RunState::Completed);
        EXPECT_EQ(ButtonsShown(), kCompleted);
        EXPECT_EQ(m_view.messages, c.messages);
        EXPECT_EQ(m_view.warnings, c.warnings);
        EXPECT_TRUE(Logged("total download is succeeded"));
        if (c.complete) {
            const std::string launcher = m_folder + "/QXLauncher.exe";
            EXPECT_EQ(m_system.shortcuts,
                      (std::vector<std::string>{"menu " + launcher, "desktop " + launcher}));
            EXPECT_EQ(m_system.forgotten, 1);
        } else {
            EXPECT_TRUE(m_system.shortcuts.empty());
            EXPECT_EQ(m_system.forgotten, 0);
        }
        m_session.reset();
    }
}

TEST_F(SessionTest, RunWaitsForTheLauncherOnTheViewsTimer) {
    struct Case {
        const char* label;
        int error;
        std::deque<ProcessRunState> states;
        bool ends;
        std::vector<ShownMessage> messages;
        std::string errorLine;
    };
    using S = ProcessRunState;
    const Case cases[] = {
        {"cannot start", 2, {}, false, {Message(113, MB_OK)}, "launcher execute is failed - (2)"},
        {"ends at once",
         0,
         {S::Busy, S::Ended},
         false,
         {Message(112, MB_OK)},
         "unconfirmed launcher execute"},
        // Asleep twice in a row: it waits for the user. A busy check in between starts over.
        {"waits for input", 0, {S::Waiting, S::Busy, S::Waiting, S::Waiting}, true, {}, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        m_view = FakeView();
        m_system.launched.clear();
        m_system.launcherError = c.error;
        m_system.launcherStates = c.states;
        CInstallerSession& session = Ready({{"QXLauncher.exe", "#!/bin/sh\n"}});
        DownloadResult done;
        done.bSucceeded = 1;
        session.OnFinished(&done);

        session.OnRunLauncherCommand();
        EXPECT_TRUE(Logged("launcher execute"));
        EXPECT_EQ(m_system.launched,
                  std::vector<std::string>{m_folder + "/QXLauncher.exe in " + m_folder});
        if (c.error == 0) {
            // The view is not held while the launcher comes up.
            EXPECT_TRUE(session.IsWaitingForLauncher());
            EXPECT_EQ(ButtonsShown(), kLaunching);
            EXPECT_EQ(m_view.timers.count(LAUNCHER_TIMER_ID), 1u);
            // A second press while waiting starts nothing.
            session.OnRunLauncherCommand();
            EXPECT_EQ(m_system.launched.size(), 1u);
            for (size_t i = 0; i < c.states.size(); ++i) {
                EXPECT_EQ(m_view.ended, 0);
                session.OnTimer(LAUNCHER_TIMER_ID);
            }
            EXPECT_FALSE(session.IsWaitingForLauncher());
            EXPECT_EQ(m_view.timers.count(LAUNCHER_TIMER_ID), 0u);
        }
        EXPECT_EQ(m_view.messages, c.messages);
        EXPECT_EQ(m_view.ended, c.ends ? 1 : 0);
        if (!c.ends) {
            EXPECT_EQ(ButtonsShown(), kCompleted);
            EXPECT_TRUE(Logged(c.errorLine));
        }
        m_session.reset();
    }
}

// ---- The install folder ----

TEST_F(SessionTest, ChangeFolderShowsTheChoiceWithItsFreeSpaceAndMovesTheWorker) {
    CInstallerSession& session = Ready({{"a.bin", "abc"}});
    const std::string chosen = (m_box.Path() / "elsewhere").string();
    m_system.freeBytes[chosen] = 3u << 20;

    m_view.browseResult = BrowseResult::Cancelled;
    session.OnChangeFolderCommand();
    EXPECT_EQ(m_view.GetItemText(IDC_INSTALL_PATH), m_folder);

    m_view.browseResult = BrowseResult::NoFileSystemPath;
    session.OnChangeFolderCommand();
    EXPECT_EQ(m_view.messages, std::vector{Message(111, MB_OK)});
    EXPECT_EQ(m_view.GetItemText(IDC_INSTALL_PATH), m_folder);

    m_view.browseResult = BrowseResult::Chosen;
    m_view.browseChoice = chosen;
    session.OnChangeFolderCommand();
    EXPECT_EQ(m_view.GetItemText(IDC_INSTALL_PATH), chosen);
    EXPECT_EQ(m_view.GetItemText(IDC_AVAILABLE_SPACE), "3.00 MB");
    EXPECT_EQ(session.Worker()->InstallFolder(), chosen);
}

// With the services' retry on, a refused connection waits instead of ending the run; the wait
// shows in the file name label until the transfer goes on, and a stop ends the wait at once.
TEST_F(SessionTest, RetryWaitShowsInTheFileNameLabelUntilTheTransferGoesOn) {
    m_system.autoRetry = true;
    CInstallerSession& session = Ready({{"a.bin", "abc"}, {"b.bin", "defg"}});
    ASSERT_TRUE(session.Worker()->AutoRetry());
    ASSERT_EQ(session.Start(), StartOutcome::Started);
    const std::string waiting = "Retrying in 1 s (connection refused)";
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (m_view.GetItemText(IDC_FILE_NAME) != waiting &&
           std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
        Drain();
    }
    EXPECT_EQ(m_view.GetItemText(IDC_FILE_NAME), waiting);
    EXPECT_TRUE(session.IsDownloading());

    // The transfer goes on: the name is back.
    DownloadProgress progress;
    progress.nFileIndex = 0;
    progress.dwStartTime = 0;
    progress.nFileTotal = 3;
    progress.nFileDone = 1;
    m_system.now = 1000;
    session.OnProgress(progress);
    EXPECT_EQ(m_view.GetItemText(IDC_FILE_NAME), "a.bin");

    // A wait that ends the run shows no longer: the end shows the name.
    DownloadRetry retry;
    retry.nWaitSeconds = 30;
    retry.szReason = "HTTP 503";
    EXPECT_EQ(CInstallerSession::RetryText(retry), "Retrying in 30 s (HTTP 503)");
    session.OnRetry(retry);
    EXPECT_EQ(m_view.GetItemText(IDC_FILE_NAME), "Retrying in 30 s (HTTP 503)");
    // Other transfers post the waiting file's record as it was: still waiting.
    m_system.now = 2000;
    session.OnProgress(progress);
    EXPECT_EQ(m_view.GetItemText(IDC_FILE_NAME), "Retrying in 30 s (HTTP 503)");
    session.OnRetry(retry);
    const auto begin = std::chrono::steady_clock::now();
    session.Stop();
    EndOfRun();
    EXPECT_LT(std::chrono::steady_clock::now() - begin, std::chrono::seconds(5));
    EXPECT_TRUE(session.IsStopped());
    EXPECT_EQ(m_view.GetItemText(IDC_FILE_NAME), "a.bin");
    EXPECT_EQ(m_view.messages, kNone);
}

TEST_F(SessionTest, TheWorkerTakesRetryAndTransfersAtOnceFromTheServices) {
    EXPECT_FALSE(Ready({{"a.bin", "abc"}}).Worker()->AutoRetry());
    EXPECT_EQ(Ready({{"a.bin", "abc"}}).Worker()->Jobs(), 1);
    m_system.autoRetry = true;
    m_system.transferJobs = 7;
    EXPECT_TRUE(Ready({{"a.bin", "abc"}}).Worker()->AutoRetry());
    EXPECT_EQ(Ready({{"a.bin", "abc"}}).Worker()->Jobs(), 7);
}

}  // namespace
