// The installer's main window: a view of the installer core. It owns the controls, turns
// clicks into the core's commands, paints the skin and hands the worker's records over to the
// user-interface thread; what the run does and shows is the core's (CInstallerSession).
// Thread: the user-interface thread; the worker's records arrive as queued events. The dialog
// owns its controls and the session, which owns the file list and the worker.
#pragma once

#include <QDialog>
#include <QTimer>
#include <cstdint>
#include <map>
#include <memory>
#include <string>

#include "core/control_ids.h"
#include "core/installer_session.h"
#include "core/installer_view.h"
#include "core/user_prompt.h"
#include "download/download_notify.h"
#include "download/download_queue.h"
#include "download/http_timeouts.h"

class CDownloadThread;
class IPrerequisiteWarningDialog;
class QMenu;

constexpr int IDM_ABOUTBOX = 0x0010;

class CQuellbridgerDlg : public QDialog, public IInstallerView, public IDownloadNotify {
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
    void OnDownloadRetry(std::unique_ptr<DownloadRetry> record);
    void OnTimer(int timerId);
    // Stops and deletes the worker; runs once, when the dialog ends or is destroyed.
    void OnDestroy();

    // Worker thread: queue the record for the handlers above.
    void PostProgress(std::unique_ptr<DownloadProgress> record) override;
    void PostFinished(std::unique_ptr<DownloadResult> record) override;
    void PostRetry(std::unique_ptr<DownloadRetry> record) override;

    // IInstallerView: controls by id, as the rest of the program names them.
    std::string GetItemText(int id) const override;
    void SetItemText(int id, const std::string& text) override;
    void EnableItem(int id, bool enable) override;
    void SetBarPos(int id, int percent) override;
    // Questions go to the prompt (message boxes unless replaced).
    int ShowMessage(int messageId, const std::string& text, unsigned type) override;
    BrowseResult BrowseForFolder(const std::string& initialFolder, const std::string& totalSizeText,
                                 std::string& path) override;
    IPrerequisiteWarningDialog* PrerequisiteDialog() override;
    void SetTimer(int timerId, unsigned periodMs) override;
    void KillTimer(int timerId) override;
    void TakeQueuedRecords() override;
    void EndView() override;

    QWidget* GetDlgItem(int id) const;
    bool IsItemEnabled(int id) const;
    int GetBarPos(int id) const;
    void SetWorkerInstallFolder(const std::string& path) {
        m_session->SetWorkerInstallFolder(path);
    }

    // Seams for tests and embedders; none is owned.
    void SetPrompt(IUserPrompt* prompt) { m_pPrompt = prompt; }
    void SetPrerequisiteDialog(IPrerequisiteWarningDialog* dialog) {
        m_pPrerequisiteDialog = dialog;
    }
    void SetHttpTimeouts(const HttpTimeouts& timeouts) { m_session->SetHttpTimeouts(timeouts); }

    const CInstallerSession& Session() const { return *m_session; }
    const CFileList& FileList() const { return m_session->FileList(); }
    CDownloadThread* Worker() const { return m_session->Worker(); }
    bool IsDownloading() const { return m_session->IsDownloading(); }
    bool IsStopped() const { return m_session->IsStopped(); }
    bool IsWaitingForLauncher() const { return m_session->IsWaitingForLauncher(); }
    QString AboutItemText() const { return m_strAboutItem; }
    // The window menu (about item after a separator), as the right click and Alt+Space show it.
    QMenu* CreateSystemMenu();

    // Draws the window's own face (the background picture) into painter.
    void Draw(QPainter* painter, const QRect& rect);

    void done(int result) override;

protected:
    // Millisecond clock and free space the session is given, replaceable in tests.
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
    void SetUpSkin();
    // Hands every record the worker queued to its handler, oldest first.
    void HandleQueuedRecords();

    // Controls, created in template order.
    std::map<int, QWidget*> m_controls;
    QImage m_background;

    IUserPrompt* m_pPrompt = nullptr;
    std::unique_ptr<IUserPrompt> m_defaultPrompt;
    IPrerequisiteWarningDialog* m_pPrerequisiteDialog = nullptr;
    std::unique_ptr<IPrerequisiteWarningDialog> m_defaultPrerequisiteDialog;
    QString m_strAboutItem;

    // Records on their way from the worker; freed here if the window goes first. Declared
    // before the session, whose worker posts into it.
    CDownloadQueue m_records;
    QTimer m_elapsedTimer;
    QTimer m_launcherTimer;
    std::unique_ptr<CInstallerSession> m_session;
    bool m_bDestroyed = false;
};
