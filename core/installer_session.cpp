#include "core/installer_session.h"

#include <new>
#include <set>
#include <string>

#include "core/control_ids.h"
#include "core/user_prompt.h"
#include "download/download_thread.h"
#include "download/list_fetch.h"
#include "platform/log.h"
#include "platform/message_id.h"
#include "platform/prerequisite.h"
#include "platform/text_format.h"

namespace {

constexpr unsigned kElapsedPeriodMs = 1000;
constexpr unsigned kLauncherCheckMs = 50;

}  // namespace

// Questions the folder rules ask, put through the view.
class CInstallerSession::Prompt : public IUserPrompt {
public:
    explicit Prompt(IInstallerView& view) : m_view(view) {}
    int MessageBox(const std::string& text, unsigned type) override {
        return m_view.ShowMessage(0, text, type);
    }
    int ShowMessage(int messageId, const std::string& text, unsigned type) override {
        return m_view.ShowMessage(messageId, text, type);
    }

private:
    IInstallerView& m_view;
};

// The folder choice's view of the session: labels through the view, the worker's folder here.
class CInstallerSession::FolderHost : public IInstallFolderHost {
public:
    explicit FolderHost(CInstallerSession& session) : m_session(session) {}
    int MessageBox(const std::string& text, unsigned type) override {
        return m_session.m_view.ShowMessage(0, text, type);
    }
    int ShowMessage(int messageId, const std::string& text, unsigned type) override {
        return m_session.m_view.ShowMessage(messageId, text, type);
    }
    std::string GetInstallFolderText() override {
        return m_session.m_view.GetItemText(IDC_INSTALL_PATH);
    }
    void SetInstallFolderText(const std::string& path) override {
        m_session.m_view.SetItemText(IDC_INSTALL_PATH, path);
    }
    void SetFreeSpaceText(const std::string& text) override {
        m_session.m_view.SetItemText(IDC_AVAILABLE_SPACE, text);
    }
    void SetWorkerInstallFolder(const std::string& path) override {
        m_session.SetWorkerInstallFolder(path);
    }
    BrowseResult BrowseForFolder(const std::string& initialFolder, const std::string& totalSizeText,
                                 std::string& path) override {
        return m_session.m_view.BrowseForFolder(initialFolder, totalSizeText, path);
    }

private:
    CInstallerSession& m_session;
};

CInstallerSession::CInstallerSession(IInstallerView& view, IDownloadNotify* sink,
                                     InstallerServices services)
    : m_view(view), m_pSink(sink), m_services(std::move(services)) {}

CInstallerSession::~CInstallerSession() {
    Shutdown();
}

int CInstallerSession::Show(int messageId, const std::string& text, unsigned type) {
    return m_view.ShowMessage(messageId, text, type);
}

std::string CInstallerSession::InstallFolder() const {
    return m_view.GetItemText(IDC_INSTALL_PATH);
}

void CInstallerSession::Enter(RunState state) {
    m_state = state;
    for (const int control : RUN_CONTROLS) {
        m_view.EnableItem(control, IsControlEnabled(state, control));
    }
}

// ---- Session start ----

SessionStart CInstallerSession::Open(const std::string& url, const std::atomic<bool>* running) {
    std::string text;
    m_strFailureDetail.clear();
    if (const uint32_t code = m_services.fetchList(url, text, m_timeouts, m_strFailureDetail);
        code != 0) {
        if (running != nullptr && !running->load()) {
            return SessionStart::Interrupted;
        }
        Show(IDS_SERVER_UNREACHABLE,
             FormatMessageText(IDS_SERVER_UNREACHABLE, static_cast<long>(code)), MB_ICONERROR);
        return SessionStart::Failed;
    }
    if (!ReadFileListText(text, m_FileList)) {
        Show(IDS_INVALID_FILE_LIST, FormatMessageText(IDS_INVALID_FILE_LIST), MB_ICONERROR);
        return SessionStart::Failed;
    }
    if (!IsInstallerVersion(m_FileList)) {
        Show(IDS_NEW_VERSION, FormatMessageText(IDS_NEW_VERSION), MB_OK);
        return SessionStart::Failed;
    }
    m_progress.Reset();
    return SessionStart::Ready;
}

void CInstallerSession::ProposeInstallFolder() {
    Prompt prompt(m_view);
    m_view.SetItemText(IDC_INSTALL_PATH, m_services.proposeFolder(prompt));
}

void CInstallerSession::ShowProgressTexts() {
    const ProgressTexts& texts = m_progress.Texts();
    m_view.SetItemText(IDC_FILE_NAME, texts.fileName);
    m_view.SetItemText(IDC_FILE_SIZE, texts.fileSize);
    m_view.SetItemText(IDC_SPEED, texts.speed);
    m_view.SetItemText(IDC_FILE_DONE, texts.fileDone);
    m_view.SetItemText(IDC_FILE_SIZE_RIGHT, texts.fileSize);
    m_view.SetItemText(IDC_TIME_ELAPSED, texts.elapsed);
    m_view.SetItemText(IDC_TIME_LEFT, texts.timeLeft);
    m_view.SetItemText(IDC_TOTAL_DONE, texts.totalDone);
    m_view.SetItemText(IDC_TOTAL_SIZE, texts.totalSize);
    m_view.SetItemText(IDC_REQUIRED_SPACE, texts.requiredSize);
    m_view.SetItemText(IDC_AVAILABLE_SPACE, FormatSizeText(m_services.freeSpace(InstallFolder())));
}

bool CInstallerSession::CreateWorker() {
    ShowProgressTexts();
    Enter(RunState::Ready);
    try {
        m_pDownloadThread = std::make_unique<CDownloadThread>(m_FileList, m_pSink, InstallFolder(),
                                                              m_timeouts, m_services.workerSystem);
        m_pDownloadThread->SetAutoRetry(m_services.autoRetry && m_services.autoRetry());
        m_pDownloadThread->SetJobs(m_services.transferJobs ? m_services.transferJobs() : 1);
    } catch (const std::bad_alloc&) {
        m_pDownloadThread.reset();
        Show(IDS_NO_MEMORY_CLOSING, FormatMessageText(IDS_NO_MEMORY_CLOSING), MB_OK);
        return false;
    }
    g_Log.Print(LOG_INFO, "download thread create success");
    return true;
}

// ---- Commands ----

bool CInstallerSession::IsFolderAccepted(const std::string& folder,
                                         const StartChecks& checks) const {
    if (checks.acceptAnyFolder) {
        return true;
    }
    std::string saved;
    const bool remembered = m_services.loadSavedFolder(saved);
    if (IsInstallFolderUsable(folder, m_services.countFolderEntries(folder),
                              remembered ? &saved : nullptr)) {
        return true;
    }
    if (!checks.acceptListedFiles) {
        return false;
    }
    std::set<std::string> topNames;
    for (const FileEntry& entry : m_FileList.FileList) {
        if (m_services.fileExists(folder + "/" + entry.Name)) {
            return true;
        }
        topNames.insert(entry.Name.substr(0, entry.Name.find('/')));
    }
    // A run cut short before its first file was opened may have left only the list's own
    // folders: nothing there but what the list puts there.
    long present = 0;
    for (const std::string& name : topNames) {
        present += m_services.fileExists(folder + "/" + name) ? 1 : 0;
    }
    return present > 0 && present == m_services.countFolderEntries(folder);
}

StartOutcome CInstallerSession::Start(const StartChecks& checks) {
    if (!m_pDownloadThread) {
        return StartOutcome::NoWorker;
    }
    const std::string folder = InstallFolder();
    // Only what is not on disk yet needs room, as in the worker's own check: a complete or
    // half-done install on a fuller disk can still be repaired or resumed.
    const uint64_t missing = m_services.missingBytes(m_FileList, folder);
    if (missing > 0 && m_services.freeSpace(folder) <= missing) {
        Show(IDS_INSUFFICIENT_SPACE, FormatMessageText(IDS_INSUFFICIENT_SPACE), MB_OK);
        return StartOutcome::NoSpace;
    }
    if (!IsFolderAccepted(folder, checks)) {
        Show(IDS_FOLDER_NOT_EMPTY, FormatMessageText(IDS_FOLDER_NOT_EMPTY), MB_OK);
        return StartOutcome::FolderRefused;
    }
    if (checks.rememberFolder) {
        m_services.saveFolder(folder);
    }
    // A stopped run that outlasted Stop's wait posts its end record late; take it while it
    // still counts as stopped, so it cannot end the new run as a failure.
    m_pDownloadThread->WaitForEnd();
    m_view.TakeQueuedRecords();
    // The label is the one source of the folder.
    m_pDownloadThread->SetInstallFolder(folder);
    if (!m_pDownloadThread->Start()) {
        g_Log.Print(LOG_ERROR, "download thread start is failed");
        Show(IDS_START_FAILED, FormatMessageText(IDS_START_FAILED), MB_OK);
        return StartOutcome::NotStarted;
    }
    g_Log.Print(LOG_INFO, "file download start");
    m_view.SetTimer(ELAPSED_TIMER_ID, kElapsedPeriodMs);
    Enter(RunState::Downloading);
    m_progress.OnStart();
    return StartOutcome::Started;
}

bool CInstallerSession::OnStopCommand() {
    if (Show(IDS_STOP_QUESTION, FormatMessageText(IDS_STOP_QUESTION), MB_YESNO) == IDNO) {
        return false;
    }
    g_Log.Print(LOG_INFO, "file download stop");
    Stop();
    return true;
}

void CInstallerSession::Stop() {
    m_state = RunState::Stopped;
    if (m_pDownloadThread) {
        m_pDownloadThread->Stop();
    }
    m_progress.OnStop(m_services.now());
    m_view.KillTimer(ELAPSED_TIMER_ID);
    Enter(RunState::Stopped);
}

bool CInstallerSession::OnCloseCommand() {
    const MessageId<> question = IsDownloading() ? IDS_FORCE_CLOSE_QUESTION : IDS_CLOSE_PROGRAM;
    if (Show(question, FormatMessageText(question), MB_YESNO) == IDNO) {
        return false;
    }
    g_Log.Print(LOG_INFO, "program close");
    m_view.EndView();
    return true;
}

void CInstallerSession::OnChangeFolderCommand() {
    FolderHost host(*this);
    OnChangeFolder(host, m_FileList.TotalSize, m_services.freeSpace);
}

void CInstallerSession::SetWorkerInstallFolder(const std::string& path) {
    if (m_pDownloadThread) {
        // A stopped run may still be on its way out; it reads the folder until it ends.
        m_pDownloadThread->WaitForEnd();
        m_pDownloadThread->SetInstallFolder(path);
    }
}

void CInstallerSession::OnTimer(int timerId) {
    if (timerId == ELAPSED_TIMER_ID) {
        m_view.SetItemText(IDC_TIME_ELAPSED, m_progress.Tick());
    } else if (timerId == LAUNCHER_TIMER_ID) {
        WatchLauncher();
    }
}

// ---- Records ----

void CInstallerSession::OnProgress(const DownloadProgress& record) {
    const ProgressChange change = m_progress.Take(record, m_services.now());
    m_nLastIndex = record.nFileIndex;
    m_nLastDone = record.nFileDone;
    if (change.rebasedStartTime && m_pDownloadThread) {
        m_pDownloadThread->SetFileStartTime(*change.rebasedStartTime);
    }
    if (!change.shown) {
        return;
    }
    const ProgressTexts& texts = m_progress.Texts();
    const bool goesOn =
        m_bRetryShown && (record.nFileIndex != m_nRetryIndex || record.nFileDone != m_nRetryDone);
    if (change.fileChanged || goesOn) {
        m_view.SetItemText(IDC_FILE_NAME, texts.fileName);
        m_bRetryShown = false;
    }
    if (change.speedChanged) {
        m_view.SetItemText(IDC_SPEED, texts.speed);
    }
    m_view.SetBarPos(IDC_FILE_PROGRESS, texts.filePercent);
    m_view.SetItemText(IDC_FILE_DONE, texts.fileDone);
    if (change.fileChanged) {
        m_view.SetItemText(IDC_FILE_SIZE, texts.fileSize);
        m_view.SetItemText(IDC_FILE_SIZE_RIGHT, texts.fileSize);
    }
    m_view.SetItemText(IDC_TIME_LEFT, texts.timeLeft);
    m_view.SetBarPos(IDC_TOTAL_PROGRESS, texts.totalPercent);
    m_view.SetItemText(IDC_TOTAL_DONE, texts.totalDone);
}

void CInstallerSession::OnRetry(const DownloadRetry& record) {
    if (m_state != RunState::Downloading) {
        return;
    }
    m_view.SetItemText(IDC_FILE_NAME, RetryText(record));
    m_bRetryShown = true;
    m_nRetryIndex = record.nFileIndex;
    // Any record of a file that had none yet means it goes on.
    m_nRetryDone = record.nFileIndex == m_nLastIndex ? m_nLastDone : UINT64_MAX;
}

std::string CInstallerSession::RetryText(const DownloadRetry& record) {
    return "Retrying in " + std::to_string(record.nWaitSeconds) + " s (" + record.szReason + ")";
}

void CInstallerSession::OnFinished(const DownloadResult* record) {
    const bool succeeded = record != nullptr && record->bSucceeded != 0;
    const std::string text = record != nullptr ? record->szMessage : std::string();
    m_view.KillTimer(ELAPSED_TIMER_ID);
    if (m_bRetryShown) {
        m_view.SetItemText(IDC_FILE_NAME, m_progress.Texts().fileName);
        m_bRetryShown = false;
    }
    if (m_state == RunState::Stopped) {
        // Whatever the record says: the user ended this run.
        Enter(RunState::Stopped);
        return;
    }
    if (succeeded) {
        CompleteInstallation();
        return;
    }
    Enter(RunState::Failed);
    Show(0, text, MB_OK);
}

// ---- Completion and the launcher ----

void CInstallerSession::CompleteInstallation() {
    g_Log.Print(LOG_INFO, "total download is succeeded");
    m_progress.OnCompleted();
    if (m_bComplete) {
        const bool vc = m_services.vcRuntimeInstalled();
        const bool directX = m_services.directXRuntimeInstalled();
        if (IPrerequisiteWarningDialog* dialog = m_view.PrerequisiteDialog()) {
            ShowPrerequisiteWarning(vc, directX, *dialog);
        }
        m_services.forgetFolder();
        const std::string launcher = InstallFolder() + "/" + LAUNCHER_FILE_NAME;
        if (!m_services.createStartMenuShortcut(launcher)) {
            Show(IDS_START_MENU_FAILED, FormatMessageText(IDS_START_MENU_FAILED), MB_OK);
        }
        if (!m_services.createDesktopShortcut(launcher)) {
            Show(IDS_DESKTOP_SHORTCUT_FAILED, FormatMessageText(IDS_DESKTOP_SHORTCUT_FAILED),
                 MB_OK);
        }
    }
    Enter(RunState::Completed);
}

void CInstallerSession::OnRunLauncherCommand() {
    if (m_launcherPid > 0) {
        return;  // still waiting for the last start
    }
    const std::string folder = InstallFolder();
    const std::string launcher = folder + "/" + LAUNCHER_FILE_NAME;
    g_Log.Print(LOG_INFO, "launcher execute");
    pid_t pid = 0;
    if (const int error = m_services.startLauncher(launcher, folder, pid); error != 0) {
        g_Log.Print(LOG_ERROR, "launcher execute is failed - (%ld)", static_cast<long>(error));
        Show(IDS_LAUNCHER_START_FAILED, FormatMessageText(IDS_LAUNCHER_START_FAILED), MB_OK);
        return;
    }
    // The wait for the launcher to be ready runs on the view's timer, so the window stays
    // alive meanwhile.
    m_launcherPid = pid;
    m_nLauncherIdleChecks = 0;
    Enter(RunState::Launching);
    m_view.SetTimer(LAUNCHER_TIMER_ID, kLauncherCheckMs);
}

void CInstallerSession::WatchLauncher() {
    if (m_launcherPid <= 0) {
        return;
    }
    switch (m_services.launcherState(m_launcherPid)) {
        case ProcessRunState::Waiting:
            // Asleep twice in a row: it waits for the user and is ready.
            if (++m_nLauncherIdleChecks < 2) {
                return;
            }
            m_view.KillTimer(LAUNCHER_TIMER_ID);
            m_launcherPid = 0;
            m_view.EndView();
            return;
        case ProcessRunState::Busy:
            m_nLauncherIdleChecks = 0;
            return;
        case ProcessRunState::Ended:
            m_view.KillTimer(LAUNCHER_TIMER_ID);
            m_launcherPid = 0;
            Enter(RunState::Completed);
            g_Log.Print(LOG_ERROR, "unconfirmed launcher execute");
            Show(IDS_LAUNCHER_NOT_READY, FormatMessageText(IDS_LAUNCHER_NOT_READY), MB_OK);
            return;
    }
}

void CInstallerSession::Shutdown() {
    if (m_bShutDown) {
        return;
    }
    m_bShutDown = true;
    m_view.KillTimer(ELAPSED_TIMER_ID);
    m_view.KillTimer(LAUNCHER_TIMER_ID);
    if (m_pDownloadThread) {
        m_pDownloadThread->SetNotifySink(nullptr);
        m_pDownloadThread.reset();
    }
}
