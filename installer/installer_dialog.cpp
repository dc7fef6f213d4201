#include "installer/installer_dialog.h"

#include <QApplication>
#include <QCloseEvent>
#include <QContextMenuEvent>
#include <QKeyEvent>
#include <QMenu>
#include <QPainter>
#include <QScreen>
#include <QWindow>

#include "download/download_thread.h"
#include "download/list_fetch.h"
#include "installer/installer_dialogs.h"
#include "installer/message_box_prompt.h"
#include "platform/clock.h"
#include "platform/disk.h"
#include "platform/message_id.h"
#include "platform/prerequisite.h"
#include "platform/program_log.h"
#include "ui/bitmap_button_ex.h"
#include "ui/skin_layout.h"
#include "ui/text_progress_ctrl.h"
#include "ui/transparent_static.h"
#include "ui/window_move.h"

namespace {

// Wakes the user-interface thread for the records the worker queued. The records travel
// in m_records, whose lock orders the hand-over (Qt's own queue is invisible to thread
// checkers); one wake may find several records, a later one none.
const QEvent::Type kRecordsEvent = static_cast<QEvent::Type>(QEvent::User + 1001);

}  // namespace

CQuellbridgerDlg::CQuellbridgerDlg(QWidget* parent) : QDialog(parent) {
    setWindowFlags(Qt::Window | Qt::FramelessWindowHint | Qt::WindowSystemMenuHint |
                   Qt::WindowMinimizeButtonHint);
    setFixedSize(SKIN_WINDOW_WIDTH, SKIN_WINDOW_HEIGHT);
    setFont(SkinDialogFont());
    m_defaultPrompt = std::make_unique<CMessageBoxPrompt>(this);
    m_pPrompt = m_defaultPrompt.get();
    CreateControls();

    InstallerServices services = InstallerServices::System();
    services.now = [this] { return TimeNow(); };
    services.freeSpace = [this](const std::string& path) { return QueryDiskFreeSize(path); };
    m_session = std::make_unique<CInstallerSession>(*this, this, std::move(services));

    connect(&m_elapsedTimer, &QTimer::timeout, this, [this] { OnTimer(ELAPSED_TIMER_ID); });
    connect(&m_launcherTimer, &QTimer::timeout, this, [this] { OnTimer(LAUNCHER_TIMER_ID); });
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
                label->SetBackgroundResource(IDB_BACKGROUND);
                label->SetTextWidth(SkinLabelTextRect(item.nId).width());
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
        control->setAccessibleName(QString::fromUtf8(SkinAccessibleName(item.nId)));
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

void CQuellbridgerDlg::SetBarPos(int id, int percent) {
    if (auto* bar = qobject_cast<CTextProgressCtrl*>(GetDlgItem(id))) {
        bar->SetPos(percent);
    }
}

uint32_t CQuellbridgerDlg::TimeNow() const {
    return TimeGetTime();
}

uint64_t CQuellbridgerDlg::QueryDiskFreeSize(const std::string& path) const {
    return GetDiskFreeSize(path.c_str());
}

int CQuellbridgerDlg::ShowMessage(int, const std::string& text, unsigned type) {
    return m_pPrompt->MessageBox(text, type);
}

BrowseResult CQuellbridgerDlg::BrowseForFolder(const std::string& initialFolder,
                                               const std::string& totalSizeText,
                                               std::string& path) {
    return RunFolderBrowser(this, initialFolder, totalSizeText, path);
}

IPrerequisiteWarningDialog* CQuellbridgerDlg::PrerequisiteDialog() {
    if (m_pPrerequisiteDialog == nullptr) {
        m_defaultPrerequisiteDialog = CreatePrerequisiteWarningDialog(this);
        m_pPrerequisiteDialog = m_defaultPrerequisiteDialog.get();
    }
    return m_pPrerequisiteDialog;
}

void CQuellbridgerDlg::SetTimer(int timerId, unsigned periodMs) {
    QTimer* timer = timerId == ELAPSED_TIMER_ID    ? &m_elapsedTimer
                    : timerId == LAUNCHER_TIMER_ID ? &m_launcherTimer
                                                   : nullptr;
    if (timer != nullptr) {
        timer->start(static_cast<int>(periodMs));
    }
}

void CQuellbridgerDlg::KillTimer(int timerId) {
    if (timerId == ELAPSED_TIMER_ID) {
        m_elapsedTimer.stop();
    } else if (timerId == LAUNCHER_TIMER_ID) {
        m_launcherTimer.stop();
    }
}

void CQuellbridgerDlg::TakeQueuedRecords() {
    HandleQueuedRecords();
}

void CQuellbridgerDlg::EndView() {
    done(QDialog::Rejected);
}

// ---- Session start ----

bool CQuellbridgerDlg::OnInitDialog() {
    m_strAboutItem = QString::fromStdString(LoadUserLanguageString(IDS_ABOUT_ITEM));
    setWindowIcon(QIcon(QPixmap::fromImage(LoadIconResource(IDI_MAIN))));

    InitLog();
    if (m_session->Open(GetFileListUrl()) != SessionStart::Ready) {
        done(QDialog::Rejected);
        return false;
    }
    m_session->ProposeInstallFolder();
    SetUpSkin();
    setWindowTitle(SKIN_WINDOW_TITLE);
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        move(screen->availableGeometry().center() - rect().center());
    }
    if (!m_session->CreateWorker()) {
        done(QDialog::Rejected);
        return false;
    }
    return true;
}

void CQuellbridgerDlg::InitLog() {
    InitProgramLog();
}

void CQuellbridgerDlg::SetUpSkin() {
    for (const SkinProgressBar& item : SKIN_PROGRESS_BARS) {
        SetUpSkinProgressBar(*qobject_cast<CTextProgressCtrl*>(GetDlgItem(item.nId)), item);
    }
    for (const SkinButton& item : SKIN_BUTTONS) {
        SetUpSkinButton(*qobject_cast<CBitmapButtonEx*>(GetDlgItem(item.nId)), item);
    }
}

// ---- Commands: the session decides ----

void CQuellbridgerDlg::OnChangeFolder() {
    m_session->OnChangeFolderCommand();
}

void CQuellbridgerDlg::OnStartDownload() {
    m_session->Start();
}

void CQuellbridgerDlg::OnStopDownload() {
    m_session->OnStopCommand();
}

void CQuellbridgerDlg::OnCloseProgram() {
    m_session->OnCloseCommand();
}

void CQuellbridgerDlg::OnRunLauncher() {
    m_session->OnRunLauncherCommand();
}

void CQuellbridgerDlg::OnMinimize() {
    showMinimized();
}

void CQuellbridgerDlg::OnTimer(int timerId) {
    m_session->OnTimer(timerId);
}

void CQuellbridgerDlg::OnDownloadProgress(std::unique_ptr<DownloadProgress> record) {
    if (record) {
        m_session->OnProgress(*record);
    }
}

void CQuellbridgerDlg::OnDownloadFinished(std::unique_ptr<DownloadResult> record) {
    m_session->OnFinished(record.get());
}

void CQuellbridgerDlg::OnDownloadRetry(std::unique_ptr<DownloadRetry> record) {
    if (record) {
        m_session->OnRetry(*record);
    }
}

void CQuellbridgerDlg::OnDestroy() {
    if (m_bDestroyed) {
        return;
    }
    m_bDestroyed = true;
    m_session->Shutdown();
}

void CQuellbridgerDlg::done(int result) {
    QDialog::done(result);
    OnDestroy();
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

void CQuellbridgerDlg::PostRetry(std::unique_ptr<DownloadRetry> record) {
    m_records.PostRetry(std::move(record));
    QCoreApplication::postEvent(this, new QEvent(kRecordsEvent));
}

void CQuellbridgerDlg::HandleQueuedRecords() {
    CDownloadQueue::Record record;
    while (m_records.Take(record, std::chrono::milliseconds(0))) {
        if (auto* progress = std::get_if<std::unique_ptr<DownloadProgress>>(&record)) {
            OnDownloadProgress(std::move(*progress));
        } else if (auto* retry = std::get_if<std::unique_ptr<DownloadRetry>>(&record)) {
            OnDownloadRetry(std::move(*retry));
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
            if (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) {
                // Enter presses the button that has the keyboard focus, as Space does; it never
                // presses a default button or ends the dialog.
                auto* button = qobject_cast<CBitmapButtonEx*>(widget);
                if (type == QEvent::KeyPress && !key->isAutoRepeat() && button != nullptr &&
                    button->isEnabled() && button->hasFocus()) {
                    button->click();
                }
                return true;
            }
            if (key->key() == Qt::Key_Escape) {
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
    CWindowMove::Start(this);
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
    // The picture drawn for the screen's resolution; its pixels count at its own ratio.
    const QImage picture =
        LoadBitmapResource(IDB_BACKGROUND, painter->device()->devicePixelRatioF());
    const qreal ratio = picture.devicePixelRatio();
    if (ratio != painter->device()->devicePixelRatioF()) {
        painter->setRenderHint(QPainter::SmoothPixmapTransform);
    }
    painter->drawImage(QRectF(rect), picture,
                       QRectF(QPointF(rect.topLeft()) * ratio, QSizeF(rect.size()) * ratio));
}
