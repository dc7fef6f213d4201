#include "ui/folder_browser_dlg.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QFileSystemModel>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTimer>
#include <QTreeView>
#include <QVBoxLayout>

#include "platform/disk.h"
#include "platform/message_id.h"
#include "platform/text_format.h"

namespace {

// The nearest folder at or above path that exists; "/" at worst.
QString NearestExistingFolder(const std::string& path) {
    QString folder = QDir::cleanPath(QString::fromStdString(path));
    while (!folder.isEmpty() && folder != QStringLiteral("/")) {
        if (QFileInfo(folder).isDir()) {
            return folder;
        }
        folder = QFileInfo(folder).path();
    }
    return QStringLiteral("/");
}

}  // namespace

CFolderBrowserDlg::CFolderBrowserDlg(const std::string& initialFolder,
                                     const std::string& totalSizeText, QWidget* parent)
    : QDialog(parent), m_strTotalSizeText(totalSizeText) {
    setWindowTitle(QStringLiteral("Browse For Folder"));
    setFont(QFont(QStringLiteral("DejaVu Sans"), 9));
    resize(420, 460);

    m_stStatusText = new QLabel(this);
    m_stStatusText->setProperty("controlId", static_cast<int>(IDC_STATUS_TEXT));
    m_stStatusText->setWordWrap(true);
    m_stStatusText->setTextFormat(Qt::PlainText);
    m_stStatusText->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    m_stStatusText->setMinimumHeight(2 * fontMetrics().lineSpacing());

    m_pModel = new QFileSystemModel(this);
    m_pModel->setFilter(QDir::AllDirs | QDir::NoDotAndDotDot | QDir::Drives);
    m_pModel->setReadOnly(false);  // renaming a new folder in place
    m_pModel->setRootPath(QStringLiteral("/"));

    m_tree = new QTreeView(this);
    m_tree->setModel(m_pModel);
    for (int column = 1; column < m_pModel->columnCount(); ++column) {
        m_tree->hideColumn(column);
    }
    m_tree->setHeaderHidden(true);
    m_tree->setEditTriggers(QAbstractItemView::EditKeyPressed);
    m_tree->setSelectionMode(QAbstractItemView::SingleSelection);

    m_btnNewFolder = new QPushButton(QStringLiteral("&Make New Folder"), this);
    m_btnOk = new QPushButton(QStringLiteral("OK"), this);
    m_btnCancel = new QPushButton(QStringLiteral("Cancel"), this);
    m_btnOk->setDefault(true);
    m_btnOk->setEnabled(false);
    m_btnNewFolder->setEnabled(false);
    m_btnNewFolder->setAutoDefault(false);

    auto* buttons = new QHBoxLayout;
    buttons->addWidget(m_btnNewFolder);
    buttons->addStretch(1);
    buttons->addWidget(m_btnOk);
    buttons->addWidget(m_btnCancel);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_stStatusText);
    layout->addWidget(m_tree, 1);
    layout->addLayout(buttons);

    connect(m_tree->selectionModel(), &QItemSelectionModel::currentChanged, this,
            [this](const QModelIndex& current, const QModelIndex&) { OnCurrentChanged(current); });
    // Rows arrive as the model lists each folder and push the selection around; keep it in
    // view once the view has laid them out.
    // The model also sorts late, with a layout change.
    const auto keepVisible = [this] {
        QTimer::singleShot(0, this, [this] { KeepSelectionVisible(); });
    };
    connect(m_pModel, &QAbstractItemModel::rowsInserted, this, keepVisible);
    connect(m_pModel, &QAbstractItemModel::layoutChanged, this, keepVisible);
    connect(m_btnNewFolder, &QPushButton::clicked, this, [this] { OnMakeNewFolder(); });
    connect(m_btnOk, &QPushButton::clicked, this, &QDialog::accept);
    connect(m_btnCancel, &QPushButton::clicked, this, &QDialog::reject);

    SetSelection(NearestExistingFolder(initialFolder).toStdString());
}

bool CFolderBrowserDlg::Browse(QWidget* parent, const std::string& initialFolder,
                               const std::string& totalSizeText, std::string& path) {
    CFolderBrowserDlg dlg(initialFolder, totalSizeText, parent);
    if (dlg.exec() != QDialog::Accepted) {
        return false;
    }
    path = dlg.GetSelectedPath();
    return true;
}

bool CFolderBrowserDlg::SetSelection(const std::string& path) {
    const QModelIndex index = m_pModel->index(QString::fromStdString(path));
    if (!index.isValid()) {
        return false;
    }
    m_tree->setCurrentIndex(index);
    m_tree->scrollTo(index);
    m_tree->expand(index);
    return true;
}

std::string CFolderBrowserDlg::GetSelectedPath() const {
    const QModelIndex index = m_tree->currentIndex();
    if (!index.isValid()) {
        return {};
    }
    return m_pModel->filePath(index).toStdString();
}

void CFolderBrowserDlg::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    KeepSelectionVisible();
}

void CFolderBrowserDlg::KeepSelectionVisible() {
    const QModelIndex current = m_tree->currentIndex();
    m_tree->doItemsLayout();  // a pending layout would leave the scroll range short
    if (current.isValid() && !m_tree->viewport()->rect().contains(m_tree->visualRect(current))) {
        m_tree->scrollTo(current, QAbstractItemView::PositionAtCenter);
    }
}

QString CFolderBrowserDlg::GetStatusText() const {
    return m_stStatusText->text();
}

void CFolderBrowserDlg::OnCurrentChanged(const QModelIndex& current) {
    m_btnOk->setEnabled(current.isValid());
    m_btnNewFolder->setEnabled(current.isValid());
    OnSelectionChanged(current.isValid() ? m_pModel->filePath(current).toStdString()
                                         : std::string());
}

void CFolderBrowserDlg::OnSelectionChanged(const std::string& localPath) {
    if (localPath.empty()) {
        return;
    }
    const std::string freeText = FormatSizeText(GetDiskFreeSize(localPath.c_str()));
    m_stStatusText->setText(QString::fromStdString(
        FormatMessageText(IDS_NEED_FREE_SPACE, m_strTotalSizeText.c_str(), freeText.c_str())));
}

bool CFolderBrowserDlg::OnMakeNewFolder() {
    const QModelIndex parentIndex = m_tree->currentIndex();
    if (!parentIndex.isValid()) {
        return false;
    }
    const QDir parentDir(m_pModel->filePath(parentIndex));
    QString name = QStringLiteral("New folder");
    for (int n = 2; parentDir.exists(name); ++n) {
        name = QStringLiteral("New folder (%1)").arg(n);
    }
    const QModelIndex created = m_pModel->mkdir(parentIndex, name);
    if (!created.isValid()) {
        QApplication::beep();
        return false;
    }
    m_tree->setCurrentIndex(created);
    m_tree->scrollTo(created);
    m_tree->edit(created);
    return true;
}
