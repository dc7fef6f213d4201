// One installer session, the same under the window and the command line: session start
// (fetch, parse, version check), the Start checks, Start and Stop, the worker's records,
// completion and the launcher start. It owns the file list and the worker and shows
// everything through an IInstallerView.
// Thread: the front end's thread. The worker posts its records to the sink given at
// construction, which hands them back here on this thread; the sink must outlive the session.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <memory>
#include <string>

#include "core/installer_services.h"
#include "core/installer_view.h"
#include "core/progress_model.h"
#include "core/run_state.h"
#include "download/download_notify.h"
#include "download/file_list.h"
#include "download/http_timeouts.h"

class CDownloadThread;

constexpr const char* LAUNCHER_FILE_NAME = "QXLauncher.exe";

enum class SessionStart {
    Ready,        // the list is read and is for this version
    Failed,       // its message was shown (104, 105 or 122)
    Interrupted,  // the fetch was stopped from outside; nothing shown
};

enum class StartOutcome {
    Started,
    NoWorker,       // session start did not get as far as the worker
    NoSpace,        // message 108
    FolderRefused,  // message 124
    NotStarted,     // the thread could not be created: message 125
};

// How strict Start is with the folder.
struct StartChecks {
    // A folder holding any of the listed files is an install to update or repair.
    bool acceptListedFiles = false;
    // Any folder, however full.
    bool acceptAnyFolder = false;
    // Remember the folder in the settings store for a later resume.
    bool rememberFolder = true;
};

class CInstallerSession {
public:
    CInstallerSession(IInstallerView& view, IDownloadNotify* sink,
                      InstallerServices services = InstallerServices::System());
    ~CInstallerSession();
    CInstallerSession(const CInstallerSession&) = delete;
    CInstallerSession& operator=(const CInstallerSession&) = delete;

    void SetHttpTimeouts(const HttpTimeouts& timeouts) { m_timeouts = timeouts; }
    // Completion (prerequisites, forgetting the folder, shortcuts) after a successful run;
    // on unless turned off.
    void SetCompletion(bool complete) { m_bComplete = complete; }

    // ---- Session start, in this order ----
    // Fetches, reads and checks the list at url; shows 104, 105 or 122 with their box types.
    // A fetch that fails while running (when given) is false counts as interrupted.
    SessionStart Open(const std::string& url, const std::atomic<bool>* running = nullptr);
    // Puts the folder to propose (remembered or default) into the install-path label.
    void ProposeInstallFolder();
    // Fills the progress texts, enters Ready and creates the worker for the label's folder;
    // false after message 107 when the worker cannot be had.
    bool CreateWorker();

    // ---- Commands ----
    StartOutcome Start(const StartChecks& checks = StartChecks{});
    // Asks question 109 first; true when the run was stopped.
    bool OnStopCommand();
    // Stops the run without asking.
    void Stop();
    // Asks 110 while downloading, else 102; ends the view on any answer but No.
    bool OnCloseCommand();
    void OnChangeFolderCommand();
    void OnRunLauncherCommand();
    void OnTimer(int timerId);

    // ---- The worker's records, back on this thread ----
    void OnProgress(const DownloadProgress& record);
    // record may be null (counted as a failure without text).
    void OnFinished(const DownloadResult* record);
    // The file shown waits before another attempt: the file name label says so until the
    // next progress record.
    void OnRetry(const DownloadRetry& record);
    // "Retrying in 4 s (connection refused)".
    static std::string RetryText(const DownloadRetry& record);

    // Stops the timers and the worker; the worker posts nothing more. Runs once.
    void Shutdown();

    // Copies path into the worker; waits for a stopped run that is still on its way out.
    void SetWorkerInstallFolder(const std::string& path);

    RunState State() const { return m_state; }
    bool IsDownloading() const { return m_state == RunState::Downloading; }
    bool IsStopped() const { return m_state == RunState::Stopped; }
    bool IsWaitingForLauncher() const { return m_launcherPid > 0; }
    const CFileList& FileList() const { return m_FileList; }
    const CProgressModel& Progress() const { return m_progress; }
    CDownloadThread* Worker() const { return m_pDownloadThread.get(); }
    // What made the last session start fail, in words (libcurl's text, the status line).
    const std::string& FailureDetail() const { return m_strFailureDetail; }
    std::string InstallFolder() const;

private:
    class Prompt;
    class FolderHost;

    int Show(int messageId, const std::string& text, unsigned type);
    void Enter(RunState state);
    void ShowProgressTexts();
    void CompleteInstallation();
    void WatchLauncher();
    bool IsFolderAccepted(const std::string& folder, const StartChecks& checks) const;

    IInstallerView& m_view;
    IDownloadNotify* m_pSink;
    InstallerServices m_services;
    HttpTimeouts m_timeouts;
    bool m_bComplete = true;

    CFileList m_FileList;
    CProgressModel m_progress{m_FileList};
    std::string m_strFailureDetail;
    std::unique_ptr<CDownloadThread> m_pDownloadThread;
    RunState m_state = RunState::Ready;
    pid_t m_launcherPid = 0;
    int m_nLauncherIdleChecks = 0;
    bool m_bShutDown = false;
    // The file name label shows a retry's wait instead of the name, until a record of another
    // file or of more bytes than the file had at the wait (several transfers keep posting the
    // waiting file's record while the others go on).
    bool m_bRetryShown = false;
    int32_t m_nRetryIndex = -1;
    uint64_t m_nRetryDone = UINT64_MAX;
    int32_t m_nLastIndex = -1;
    uint64_t m_nLastDone = 0;
};
