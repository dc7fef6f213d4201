// The installer's main window and its logic: session start, the download run with its
// progress, completion and the launcher start.
// Thread: the user-interface thread; the worker's records arrive as queued events. The dialog
// owns its controls, the file list and the worker.
#pragma once

#include <sys/types.h>
#include <QDialog>
#include <QTimer>
#include <cstdint>
#include <map>
#include <memory>
#include <string>

#include "download/download_notify.h"
#include "download/download_queue.h"
#include "download/file_list.h"
#include "download/wininet.h"
#include "installer/install_folder.h"
#include "installer/user_prompt.h"

class CBitmapButtonEx;
class CDownloadThread;
class CTextProgressCtrl;
class CTransparentStatic;
class IPrerequisiteWarningDialog;
class QMenu;

constexpr int ELAPSED_TIMER_ID = 5001;
constexpr const char* LAUNCHER_FILE_NAME = "QXLauncher.exe";
constexpr int IDM_ABOUTBOX = 0x0010;

class CQuellbridgerDlg : public QDialog, public IInstallFolderHost, public IDownloadNotify {
    Q_OBJECT

public:
    explicit CQuellbridgerDlg(QWidget* parent = nullptr);
    ~CQuellbridgerDlg() override;

    // Session start; false when the dialog has already ended (its result is then rejected)
    // and must not be shown.
    bool OnInitDialog();

    // Commands.
    void OnStartDownload();
    void OnStopDownload();
    void OnCloseProgram();
    void OnChangeFolder();
    void OnRunLauncher();
    void OnMinimize();
    void OnAbout();

    // Records of the worker; the handlers own them.
    void OnDownloadProgress(std::unique_ptr<DownloadProgress> record);
    void OnDownloadFinished(std::unique_ptr<DownloadResult> record);
    void OnTimer(int timerId);
    void CompleteInstallation();
    // Stops and deletes the worker; runs once, when the dialog ends or is destroyed.
    void OnDestroy();

    // Worker thread: queue the record for the handlers above.
    void PostProgress(std::unique_ptr<DownloadProgress> record) override;
    void PostFinished(std::unique_ptr<DownloadResult> record) override;

    // IInstallFolderHost and IUserPrompt: questions go to the prompt (message boxes unless
    // replaced).
    int MessageBox(const std::string& text, unsigned type) override;
    std::string GetInstallFolderText() override;
    void SetInstallFolderText(const std::string& path) override;
    void SetFreeSpaceText(const std::string& text) override;
    void SetWorkerInstallFolder(const std::string& path) override;
    BrowseResult BrowseForFolder(const std::string& initialFolder, const std::string& totalSizeText,
                                 std::string& path) override;

    // Controls by id, as the rest of the program names them.
    QWidget* GetDlgItem(int id) const;
    std::string GetItemText(int id) const;
    void SetItemText(int id, const std::string& text);
    bool IsItemEnabled(int id) const;
    void EnableItem(int id, bool enable);
    int GetBarPos(int id) const;

    // Seams for tests and embedders; none is owned.
    void SetPrompt(IUserPrompt* prompt) { m_pPrompt = prompt; }
    void SetPrerequisiteDialog(IPrerequisiteWarningDialog* dialog) {
        m_pPrerequisiteDialog = dialog;
    }
    void SetHttpTimeouts(const HttpTimeouts& timeouts) { m_timeouts = timeouts; }

    const CFileList& FileList() const { return m_FileList; }
    CDownloadThread* Worker() const { return m_pDownloadThread; }
    bool IsDownloading() const { return m_bDownloading; }
    bool IsStopped() const { return m_bStopped; }
    bool IsWaitingForLauncher() const { return m_launcherPid > 0; }
    QString AboutItemText() const { return m_strAboutItem; }
    // The window menu (about item after a separator), as the right click and Alt+Space show it.
    QMenu* CreateSystemMenu();

    // Draws the window's own face (the background picture) into painter.
    void Draw(QPainter* painter, const QRect& rect);

    void done(int result) override;

protected:
    // Millisecond clock and free space, replaceable in tests.
    virtual uint32_t TimeNow() const;
    virtual uint64_t QueryDiskFreeSize(const std::string& path) const;

    // Runs the window manager's move loop, as a press on a caption would; replaceable in tests.
    virtual void StartWindowDrag();

    bool event(QEvent* e) override;
    bool eventFilter(QObject* watched, QEvent* e) override;
    void paintEvent(QPaintEvent* e) override;
    void closeEvent(QCloseEvent* e) override;
    void mousePressEvent(QMouseEvent* e) override;
    void contextMenuEvent(QContextMenuEvent* e) override;
    void reject() override;

private:
    void CreateControls();
    void InitLog();
    bool FetchFileList();
    bool CheckVersion();
    void ResetProgressTexts();
    void SetUpSkin();
    bool CreateWorker();
    void WatchLauncher();
    // Hands every record the worker queued to its handler, oldest first.
    void HandleQueuedRecords();
    std::string LauncherPath();

    // Controls, created in template order.
    std::map<int, QWidget*> m_controls;
    QImage m_background;

    IUserPrompt* m_pPrompt = nullptr;
    std::unique_ptr<IUserPrompt> m_defaultPrompt;
    IPrerequisiteWarningDialog* m_pPrerequisiteDialog = nullptr;
    std::unique_ptr<IPrerequisiteWarningDialog> m_defaultPrerequisiteDialog;
    HttpTimeouts m_timeouts;
    QString m_strAboutItem;

    CDownloadThread* m_pDownloadThread = nullptr;
    CFileList m_FileList;
    // The total the space check and the total bar go by (EffectiveTotalSize).
    uint64_t m_nTotalSize = 0;
    int32_t m_nElapsedHours = 0;
    int32_t m_nElapsedMinutes = 0;
    int32_t m_nElapsedSeconds = 0;
    int32_t m_nLastFileIndex = 0;
    bool m_bDownloading = false;
    bool m_bStopped = false;
    bool m_bResumeAdjust = false;
    uint32_t m_dwSavedStartTime = 0;
    uint32_t m_dwLastStartTime = 0;
    uint32_t m_dwStopTime = 0;
    uint64_t m_nTotalReceived = 0;
    uint64_t m_nLastFileDone = 0;

    // Records on their way from the worker; freed here if the window goes first.
    CDownloadQueue m_records;
    QTimer m_elapsedTimer;
    QTimer m_launcherTimer;
    pid_t m_launcherPid = 0;
    int m_nLauncherIdleChecks = 0;
    bool m_bDestroyed = false;
};
