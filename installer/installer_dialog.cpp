#include "installer/installer_dialog.h"

#include <QApplication>
#include <QCloseEvent>
#include <QContextMenuEvent>
#include <QKeyEvent>
#include <QMenu>
#include <QPainter>
#include <QScreen>
#include <QWindow>
#include <algorithm>
#include <cmath>
#include <limits>
#include <new>

#include "download/download_thread.h"
#include "download/file_list_check.h"
#include "download/list_fetch.h"
#include "installer/installer_dialogs.h"
#include "installer/message_box_prompt.h"
#include "platform/clock.h"
#include "platform/disk.h"
#include "platform/launch_command.h"
#include "platform/log.h"
#include "platform/prerequisite.h"
#include "platform/process_start.h"
#include "platform/program_log.h"
#include "platform/shortcut.h"
#include "platform/string_table.h"
#include "platform/text_format.h"
#include "ui/bitmap_button_ex.h"
#include "ui/skin_layout.h"
#include "ui/text_progress_ctrl.h"
#include "ui/transparent_static.h"

namespace {

// Wakes the user-interface thread for the records the worker queued. The records travel
// in m_records, whose lock orders the hand-over (Qt's own queue is invisible to thread
// checkers); one wake may find several records, a later one none.
const QEvent::Type kRecordsEvent = static_cast<QEvent::Type>(QEvent::User + 1001);

constexpr int kLauncherCheckMs = 50;

}  // namespace

CQuellbridgerDlg::CQuellbridgerDlg(QWidget* parent) : QDialog(parent) {
    setWindowFlags(Qt::Window | Qt::FramelessWindowHint | Qt::WindowSystemMenuHint |
                   Qt::WindowMinimizeButtonHint);
    setFixedSize(SKIN_WINDOW_WIDTH, SKIN_WINDOW_HEIGHT);
    setFont(SkinDialogFont());
    m_defaultPrompt = std::make_unique<CMessageBoxPrompt>(this);
    m_pPrompt = m_defaultPrompt.get();
    CreateControls();

    m_elapsedTimer.setInterval(1000);
    connect(&m_elapsedTimer, &QTimer::timeout, this, [this] { OnTimer(ELAPSED_TIMER_ID); });
    m_launcherTimer.setInterval(kLauncherCheckMs);
    connect(&m_launcherTimer, &QTimer::timeout, this, [this] { WatchLauncher(); });
    qApp->installEventFilter(this);
}

CQuellbridgerDlg::~CQuellbridgerDlg() {
    qApp->removeEventFilter(this);
    OnDestroy();
}

void CQuellbridgerDlg::CreateControls() {
    m_background = LoadBitmapResource(IDB_BACKGROUND);
    for (const SkinControl& item : SKIN_CONTROLS) {
        QWidget* control = nullptr;
        switch (item.kind) {
            case SkinControlKind::Button: {
                auto* button = new CBitmapButtonEx(this);
                const int id = item.nId;
                connect(button, &QAbstractButton::clicked, this, [this, id] {
                    switch (id) {
                        case IDC_START:
                            OnStartDownload();
                            break;
                        case IDC_STOP:
                            OnStopDownload();
                            break;
                        case IDC_RUN:
                            OnRunLauncher();
                            break;
                        case IDC_CLOSE:
                        case IDC_CLOSE_BOX:
                            OnCloseProgram();
                            break;
                        case IDC_CHANGE_PATH:
                            OnChangeFolder();
                            break;
                        case IDC_MINIMIZE_BOX:
                            OnMinimize();
                            break;
                    }
                });
                control = button;
                break;
            }
            case SkinControlKind::Label: {
                auto* label =
                    new CTransparentStatic(this, item.bEndEllipsis ? SS_ENDELLIPSIS : SS_LEFT);
                label->SetBackgroundPicture(m_background);
                label->SetWindowText(item.szText);
                // Presses on the labels reach the window, which starts a drag.
                label->setAttribute(Qt::WA_TransparentForMouseEvents);
                control = label;
                break;
            }
            case SkinControlKind::ProgressBar:
                control = new CTextProgressCtrl(this, PBS_SMOOTH);
                break;
            case SkinControlKind::Picture:
                // The window paints the picture itself, beneath every control.
                continue;
        }
        control->setObjectName(QString("control_%1").arg(item.nId));
        control->setGeometry(item.rc);
        m_controls[item.nId] = control;
    }
}

QWidget* CQuellbridgerDlg::GetDlgItem(int id) const {
    const auto it = m_controls.find(id);
    return it == m_controls.end() ? nullptr : it->second;
}

std::string CQuellbridgerDlg::GetItemText(int id) const {
    if (auto* label = qobject_cast<CTransparentStatic*>(GetDlgItem(id))) {
        return label->GetWindowText();
    }
    return {};
}

void CQuellbridgerDlg::SetItemText(int id, const std::string& text) {
    if (auto* label = qobject_cast<CTransparentStatic*>(GetDlgItem(id))) {
        label->SetWindowText(text);
    }
}

bool CQuellbridgerDlg::IsItemEnabled(int id) const {
    QWidget* control = GetDlgItem(id);
    return control != nullptr && control->isEnabled();
}

void CQuellbridgerDlg::EnableItem(int id, bool enable) {
    if (QWidget* control = GetDlgItem(id)) {
        control->setEnabled(enable);
    }
}

int CQuellbridgerDlg::GetBarPos(int id) const {
    auto* bar = qobject_cast<CTextProgressCtrl*>(GetDlgItem(id));
    return bar != nullptr ? bar->GetPos() : 0;
}

uint32_t CQuellbridgerDlg::TimeNow() const {
    return TimeGetTime();
}

uint64_t CQuellbridgerDlg::QueryDiskFreeSize(const std::string& path) const {
    return GetDiskFreeSize(path.c_str());
}

int CQuellbridgerDlg::MessageBox(const std::string& text, unsigned type) {
    return m_pPrompt->MessageBox(text, type);
}

// ---- Session start ----

bool CQuellbridgerDlg::OnInitDialog() {
    m_strAboutItem = QString::fromStdString(LoadUserLanguageString(101));
    setWindowIcon(QIcon(QPixmap::fromImage(LoadIconResource(IDI_MAIN))));

    InitLog();
    if (!FetchFileList() || !CheckVersion()) {
        done(QDialog::Rejected);
        return false;
    }
    SetInstallFolderText(LoadInstallFolder(*this));
    ResetProgressTexts();
    SetUpSkin();
    EnableItem(IDC_STOP, false);
    EnableItem(IDC_RUN, false);
    setWindowTitle(SKIN_WINDOW_TITLE);
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        move(screen->availableGeometry().center() - rect().center());
    }
    if (!CreateWorker()) {
        MessageBox(LoadFormatString(107), MB_OK);
        done(QDialog::Rejected);
        return false;
    }
    g_Log.Print(LOG_INFO, "download thread create success");
    return true;
}

void CQuellbridgerDlg::InitLog() {
    InitProgramLog();
}

bool CQuellbridgerDlg::FetchFileList() {
    std::string text;
    if (const uint32_t code = DownloadFileListText(GetFileListUrl(), text, m_timeouts); code != 0) {
        MessageBox(LoadFormatString(104, static_cast<long>(code)), MB_ICONERROR);
        return false;
    }
    if (!ReadFileListText(text, m_FileList)) {
        MessageBox(LoadFormatString(105), MB_ICONERROR);
        return false;
    }
    m_nTotalSize = EffectiveTotalSize(m_FileList);
    return true;
}

bool CQuellbridgerDlg::CheckVersion() {
    if (IsInstallerVersion(m_FileList)) {
        return true;
    }
    MessageBox(LoadFormatString(122), MB_OK);
    return false;
}

void CQuellbridgerDlg::ResetProgressTexts() {
    // A list may have no entries at all.
    const FileEntry first = m_FileList.FileList.empty() ? FileEntry{} : m_FileList.FileList[0];
    SetItemText(IDC_FILE_NAME, first.Name);
    SetItemText(IDC_FILE_SIZE, FormatSizeText(first.Size));
    SetItemText(IDC_SPEED, "0 Bytes/sec");
    SetItemText(IDC_FILE_DONE, "0 Bytes");
    SetItemText(IDC_FILE_SIZE_RIGHT, FormatSizeText(first.Size));
    SetItemText(IDC_TIME_ELAPSED, "00:00:00");
    SetItemText(IDC_TIME_LEFT, "00:00:00");
    SetItemText(IDC_TOTAL_DONE, "0 Bytes");
    SetItemText(IDC_TOTAL_SIZE, FormatSizeText(m_nTotalSize));
    SetItemText(IDC_REQUIRED_SPACE, FormatSizeText(m_FileList.TotalSize));
    SetItemText(IDC_AVAILABLE_SPACE,
                FormatSizeText(QueryDiskFreeSize(GetItemText(IDC_INSTALL_PATH))));
}

void CQuellbridgerDlg::SetUpSkin() {
    for (const SkinProgressBar& item : SKIN_PROGRESS_BARS) {
        SetUpSkinProgressBar(*qobject_cast<CTextProgressCtrl*>(GetDlgItem(item.nId)), item);
    }
    for (const SkinButton& item : SKIN_BUTTONS) {
        SetUpSkinButton(*qobject_cast<CBitmapButtonEx*>(GetDlgItem(item.nId)), item);
    }
}

bool CQuellbridgerDlg::CreateWorker() {
    try {
        m_pDownloadThread =
            new CDownloadThread(m_FileList, this, GetItemText(IDC_INSTALL_PATH), m_timeouts);
    } catch (const std::bad_alloc&) {
        m_pDownloadThread = nullptr;
        return false;
    }
    return true;
}

// ---- Install folder host ----

std::string CQuellbridgerDlg::GetInstallFolderText() {
    return GetItemText(IDC_INSTALL_PATH);
}

void CQuellbridgerDlg::SetInstallFolderText(const std::string& path) {
    SetItemText(IDC_INSTALL_PATH, path);
}

void CQuellbridgerDlg::SetFreeSpaceText(const std::string& text) {
    SetItemText(IDC_AVAILABLE_SPACE, text);
}

void CQuellbridgerDlg::SetWorkerInstallFolder(const std::string& path) {
    if (m_pDownloadThread != nullptr) {
        // A stopped run may still be on its way out; it reads the folder until it ends.
        m_pDownloadThread->WaitForEnd();
        m_pDownloadThread->m_strInstallFolder = path;
    }
}

BrowseResult CQuellbridgerDlg::BrowseForFolder(const std::string& initialFolder,
                                               const std::string& totalSizeText,
                                               std::string& path) {
    return RunFolderBrowser(this, initialFolder, totalSizeText, path);
}

void CQuellbridgerDlg::OnChangeFolder() {
    ::OnChangeFolder(*this, m_FileList.TotalSize);
}

// ---- Download control ----

void CQuellbridgerDlg::OnStartDownload() {
    if (m_pDownloadThread == nullptr) {
        return;
    }
    const std::string folder = GetItemText(IDC_INSTALL_PATH);
    if (QueryDiskFreeSize(folder) <= m_nTotalSize) {
        MessageBox(LoadFormatString(108), MB_OK);
        return;
    }
    if (!IsInstallFolderUsable(folder)) {
        MessageBox(LoadFormatString(124), MB_OK);
        return;
    }
    SaveInstallFolder(folder);
    // A stopped run that outlasted Stop's wait posts its end record late; take it while it
    // still counts as stopped, so it cannot end the new run as a failure.
    m_pDownloadThread->WaitForEnd();
    HandleQueuedRecords();
    if (!m_pDownloadThread->Start()) {
        g_Log.Print(LOG_ERROR, "download thread start is failed");
        MessageBox(LoadFormatString(125), MB_OK);
        return;
    }
    g_Log.Print(LOG_INFO, "file download start");
    m_elapsedTimer.start();
    EnableItem(IDC_START, false);
    EnableItem(IDC_CHANGE_PATH, false);
    EnableItem(IDC_STOP, true);
    EnableItem(IDC_RUN, false);
    m_bDownloading = true;
    if (m_bStopped) {
        m_dwSavedStartTime = m_dwLastStartTime;
        m_bStopped = false;
    }
}

void CQuellbridgerDlg::OnStopDownload() {
    if (MessageBox(LoadFormatString(109), MB_YESNO) == IDNO) {
        return;
    }
    g_Log.Print(LOG_INFO, "file download stop");
    m_bStopped = true;
    if (m_pDownloadThread != nullptr) {
        m_pDownloadThread->Stop();
    }
    m_bDownloading = false;
    m_bResumeAdjust = true;
    m_dwStopTime = TimeNow();
    m_elapsedTimer.stop();
    m_nElapsedHours = m_nElapsedMinutes = m_nElapsedSeconds = 0;
    EnableItem(IDC_START, true);
    EnableItem(IDC_CHANGE_PATH, true);
    EnableItem(IDC_STOP, false);
}

void CQuellbridgerDlg::OnCloseProgram() {
    const int question = m_bDownloading ? 110 : 102;
    if (MessageBox(LoadFormatString(question), MB_YESNO) == IDNO) {
        return;
    }
    g_Log.Print(LOG_INFO, "program close");
    done(QDialog::Rejected);
}

void CQuellbridgerDlg::OnMinimize() {
    showMinimized();
}

void CQuellbridgerDlg::OnTimer(int timerId) {
    if (timerId != ELAPSED_TIMER_ID) {
        return;
    }
    if (++m_nElapsedSeconds == 60) {
        m_nElapsedSeconds = 0;
        if (++m_nElapsedMinutes == 60) {
            m_nElapsedMinutes = 0;
            ++m_nElapsedHours;
        }
    }
    SetItemText(IDC_TIME_ELAPSED,
                FormatClockText(m_nElapsedHours, m_nElapsedMinutes, m_nElapsedSeconds));
}

void CQuellbridgerDlg::OnDownloadProgress(std::unique_ptr<DownloadProgress> record) {
    if (!record) {
        return;
    }
    const DownloadProgress progress = *record;
    record.reset();
    m_dwLastStartTime = progress.dwStartTime;

    std::string speed;
    bool newFile = false;
    if (progress.nFileIndex == m_nLastFileIndex) {
        if (progress.nFileDone > m_nLastFileDone) {
            const uint64_t delta = progress.nFileDone - m_nLastFileDone;
            m_nTotalReceived += delta;
            speed = FormatSpeedText(delta);
        }
    } else {
        m_nTotalReceived += progress.nFileDone;
        speed = "0 Bytes/sec";
    }
    m_nLastFileDone = progress.nFileDone;
    if (progress.nFileIndex != m_nLastFileIndex) {
        m_nLastFileIndex = progress.nFileIndex;
        newFile = true;
    }
    // A complete empty file is 100 %.
    const int filePercent = progress.nFileTotal == 0
                                ? 100
                                : static_cast<int>(static_cast<double>(progress.nFileDone) /
                                                   static_cast<double>(progress.nFileTotal) * 100);

    const uint32_t now = TimeNow();
    uint32_t elapsed;
    if (m_bResumeAdjust) {
        elapsed = m_dwStopTime - m_dwSavedStartTime;
        if (m_pDownloadThread != nullptr) {
            m_pDownloadThread->m_dwFileStartTime.store(now - elapsed + 1000);
        }
        m_bResumeAdjust = false;
    } else {
        elapsed = now - progress.dwStartTime;
    }
    if (elapsed == 0) {
        return;
    }
    const double rate = static_cast<double>(progress.nFileDone) / elapsed * 1000;
    const uint64_t bytesPerSecond =
        rate >= 1.8e19 ? std::numeric_limits<uint64_t>::max() : static_cast<uint64_t>(rate);
    const uint64_t rest =
        progress.nFileTotal > progress.nFileDone ? progress.nFileTotal - progress.nFileDone : 0;
    const uint64_t remaining = bytesPerSecond > 0 ? rest / bytesPerSecond : 0;
    const ClockParts left = SplitRemainingSeconds(
        static_cast<uint32_t>(std::min<uint64_t>(remaining, std::numeric_limits<uint32_t>::max())));

    const bool validIndex = progress.nFileIndex >= 0 &&
                            static_cast<size_t>(progress.nFileIndex) < m_FileList.FileList.size();
    if (newFile && validIndex) {
        SetItemText(IDC_FILE_NAME,
                    m_FileList.FileList[static_cast<size_t>(progress.nFileIndex)].Name);
    }
    if (!progress.bSkipped) {
        SetItemText(IDC_SPEED, speed);
    }
    qobject_cast<CTextProgressCtrl*>(GetDlgItem(IDC_FILE_PROGRESS))->SetPos(filePercent);
    SetItemText(IDC_FILE_DONE, FormatSizeText(progress.nFileDone));
    if (newFile && validIndex) {
        const uint64_t size = m_FileList.FileList[static_cast<size_t>(progress.nFileIndex)].Size;
        SetItemText(IDC_FILE_SIZE, FormatSizeText(size));
        SetItemText(IDC_FILE_SIZE_RIGHT, FormatSizeText(size));
    }
    SetItemText(IDC_TIME_LEFT, FormatClockText(left.hours, left.minutes, left.seconds));
    const double total = static_cast<double>(m_nTotalSize);
    const int totalPercent =
        total > 0 ? static_cast<int>(std::min(static_cast<double>(m_nTotalReceived) / total * 100,
                                              static_cast<double>(std::numeric_limits<int>::max())))
                  : 100;
    qobject_cast<CTextProgressCtrl*>(GetDlgItem(IDC_TOTAL_PROGRESS))->SetPos(totalPercent);
    SetItemText(IDC_TOTAL_DONE, FormatSizeText(m_nTotalReceived));
}

void CQuellbridgerDlg::OnDownloadFinished(std::unique_ptr<DownloadResult> record) {
    bool succeeded = false;
    std::string text;
    if (record) {
        succeeded = record->bSucceeded != 0;
        text = record->szMessage;
        record.reset();
    }
    m_bDownloading = false;
    m_elapsedTimer.stop();
    if (m_bStopped) {
        EnableItem(IDC_START, true);
        EnableItem(IDC_CHANGE_PATH, true);
        EnableItem(IDC_STOP, false);
        return;
    }
    if (succeeded) {
        CompleteInstallation();
        return;
    }
    EnableItem(IDC_START, true);
    EnableItem(IDC_STOP, false);
    EnableItem(IDC_CHANGE_PATH, true);
    EnableItem(IDC_RUN, false);
    MessageBox(text, MB_OK);
}

void CQuellbridgerDlg::OnDestroy() {
    if (m_bDestroyed) {
        return;
    }
    m_bDestroyed = true;
    m_elapsedTimer.stop();
    m_launcherTimer.stop();
    if (m_pDownloadThread != nullptr) {
        m_pDownloadThread->m_hNotifyWnd.store(nullptr);
        delete m_pDownloadThread;
        m_pDownloadThread = nullptr;
    }
}

void CQuellbridgerDlg::done(int result) {
    QDialog::done(result);
    OnDestroy();
}

// ---- Completion and launcher ----

std::string CQuellbridgerDlg::LauncherPath() {
    return GetItemText(IDC_INSTALL_PATH) + "/" + LAUNCHER_FILE_NAME;
}

void CQuellbridgerDlg::CompleteInstallation() {
    g_Log.Print(LOG_INFO, "total download is succeeded");
    m_nTotalReceived = 0;
    const bool vc = IsVcRuntimeInstalled();
    const bool directX = IsDirectXRuntimeInstalled();
    if (m_pPrerequisiteDialog == nullptr) {
        m_defaultPrerequisiteDialog = CreatePrerequisiteWarningDialog(this);
        m_pPrerequisiteDialog = m_defaultPrerequisiteDialog.get();
    }
    ShowPrerequisiteWarning(vc, directX, *m_pPrerequisiteDialog);
    DeleteInstallFolderKey();
    const std::string launcher = LauncherPath();
    if (!CreateStartMenuShortcut(launcher.c_str(), launcher.c_str())) {
        MessageBox(LoadFormatString(114), MB_OK);
    }
    if (!CreateDesktopShortcut(launcher.c_str(), launcher.c_str())) {
        MessageBox(LoadFormatString(115), MB_OK);
    }
    EnableItem(IDC_START, false);
    EnableItem(IDC_STOP, false);
    EnableItem(IDC_CHANGE_PATH, false);
    EnableItem(IDC_RUN, true);
}

void CQuellbridgerDlg::OnRunLauncher() {
    if (m_launcherPid > 0) {
        return;  // still waiting for the last start
    }
    const std::string folder = GetItemText(IDC_INSTALL_PATH);
    const std::string launcher = LauncherPath();
    g_Log.Print(LOG_INFO, "launcher execute");
    LaunchCommand command;
    int error = GetLaunchCommand(launcher, command);
    if (error == 0 && command.kind == LaunchKind::NativeProgram) {
        error = EnsureOwnerExecutable(launcher);
    }
    pid_t pid = 0;
    if (error == 0) {
        error = StartProcess(command.argv, folder, pid);
    }
    if (error != 0) {
        g_Log.Print(LOG_ERROR, "launcher execute is failed - (%ld)", static_cast<long>(error));
        MessageBox(LoadFormatString(113), MB_OK);
        return;
    }
    // The wait for the launcher to be ready runs on a timer, so the window stays alive.
    m_launcherPid = pid;
    m_nLauncherIdleChecks = 0;
    EnableItem(IDC_RUN, false);
    m_launcherTimer.start();
}

void CQuellbridgerDlg::WatchLauncher() {
    switch (GetProcessRunState(m_launcherPid)) {
        case ProcessRunState::Waiting:
            if (++m_nLauncherIdleChecks < 2) {
                return;
            }
            m_launcherTimer.stop();
            m_launcherPid = 0;
            done(QDialog::Rejected);
            return;
        case ProcessRunState::Busy:
            m_nLauncherIdleChecks = 0;
            return;
        case ProcessRunState::Ended:
            m_launcherTimer.stop();
            m_launcherPid = 0;
            EnableItem(IDC_RUN, true);
            g_Log.Print(LOG_ERROR, "unconfirmed launcher execute");
            MessageBox(LoadFormatString(112), MB_OK);
            return;
    }
}

// ---- Worker records ----

void CQuellbridgerDlg::PostProgress(std::unique_ptr<DownloadProgress> record) {
    m_records.PostProgress(std::move(record));
    QCoreApplication::postEvent(this, new QEvent(kRecordsEvent));
}

void CQuellbridgerDlg::PostFinished(std::unique_ptr<DownloadResult> record) {
    m_records.PostFinished(std::move(record));
    QCoreApplication::postEvent(this, new QEvent(kRecordsEvent));
}

void CQuellbridgerDlg::HandleQueuedRecords() {
    CDownloadQueue::Record record;
    while (m_records.Take(record, std::chrono::milliseconds(0))) {
        if (auto* progress = std::get_if<std::unique_ptr<DownloadProgress>>(&record)) {
            OnDownloadProgress(std::move(*progress));
        } else {
            OnDownloadFinished(std::move(std::get<std::unique_ptr<DownloadResult>>(record)));
        }
    }
}

bool CQuellbridgerDlg::event(QEvent* e) {
    if (e->type() == kRecordsEvent) {
        HandleQueuedRecords();
        return true;
    }
    return QDialog::event(e);
}

// ---- Window behaviour ----

bool CQuellbridgerDlg::eventFilter(QObject* watched, QEvent* e) {
    const QEvent::Type type = e->type();
    if (type == QEvent::KeyPress || type == QEvent::KeyRelease ||
        type == QEvent::ShortcutOverride) {
        auto* widget = qobject_cast<QWidget*>(watched);
        if (widget != nullptr && (widget == this || isAncestorOf(widget))) {
            const auto* key = static_cast<QKeyEvent*>(e);
            if (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter ||
                key->key() == Qt::Key_Escape) {
                return true;  // neither presses a button nor ends the dialog
            }
            if (type == QEvent::KeyPress && key->key() == Qt::Key_Space &&
                (key->modifiers() & Qt::AltModifier)) {
                std::unique_ptr<QMenu> menu(CreateSystemMenu());
                menu->exec(mapToGlobal(QPoint(0, 0)));
                return true;
            }
        }
    }
    return QDialog::eventFilter(watched, e);
}

QMenu* CQuellbridgerDlg::CreateSystemMenu() {
    auto* menu = new QMenu(this);
    menu->addAction(tr("Minimize"), this, [this] { OnMinimize(); });
    menu->addAction(tr("Close"), this, [this] { OnCloseProgram(); });
    if (!m_strAboutItem.isEmpty()) {
        menu->addSeparator();
        menu->addAction(m_strAboutItem, this, [this] { OnAbout(); });
    }
    return menu;
}

void CQuellbridgerDlg::OnAbout() {
    ShowAboutBox(this);
}

void CQuellbridgerDlg::contextMenuEvent(QContextMenuEvent* e) {
    std::unique_ptr<QMenu> menu(CreateSystemMenu());
    menu->exec(e->globalPos());
}

void CQuellbridgerDlg::mousePressEvent(QMouseEvent* e) {
    // The window has no caption: any press on its face moves it. Presses on buttons and bars
    // stay with them and never get here; labels let presses through.
    if (e->button() == Qt::LeftButton) {
        StartWindowDrag();
    }
    QDialog::mousePressEvent(e);
}

void CQuellbridgerDlg::StartWindowDrag() {
    if (windowHandle() != nullptr) {
        windowHandle()->startSystemMove();
    }
}

void CQuellbridgerDlg::closeEvent(QCloseEvent* e) {
    // The window manager's close is the Close button, question included.
    e->ignore();
    OnCloseProgram();
}

void CQuellbridgerDlg::reject() {
    OnCloseProgram();
}

void CQuellbridgerDlg::paintEvent(QPaintEvent* e) {
    QPainter painter(this);
    Draw(&painter, e->rect());
}

void CQuellbridgerDlg::Draw(QPainter* painter, const QRect& rect) {
    if (m_background.isNull()) {
        painter->fillRect(rect, Qt::black);
        return;
    }
    painter->drawImage(rect, m_background, rect);
}
