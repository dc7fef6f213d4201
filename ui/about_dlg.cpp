#include "ui/about_dlg.h"

#include <QLabel>
#include <QPixmap>
#include <QPushButton>

#include "ui/dialog_units.h"

namespace {

constexpr const char* PROGRAM_ICON = ":/icons/127.png";
constexpr int ICON_SIZE = 32;

}  // namespace

CAboutDlg::CAboutDlg(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint) {
    setWindowTitle(QStringLiteral("Quellbridger Information"));
    setFont(QFont(QStringLiteral("DejaVu Sans"), 9));
    setFixedSize(GetTemplateSize());

    m_stIcon = new QLabel(this);
    const QRect iconRect = DluRect(14, 14, 21, 20);
    m_stIcon->setGeometry(iconRect.x(), iconRect.y(), ICON_SIZE, ICON_SIZE);
    QPixmap icon(QString::fromLatin1(PROGRAM_ICON));
    if (!icon.isNull()) {
        m_stIcon->setPixmap(
            icon.scaled(ICON_SIZE, ICON_SIZE, Qt::KeepAspectRatio, Qt::SmoothTransformation));
    }

    m_stVersion = new QLabel(QStringLiteral("Quellbridger, Version 1.0"), this);
    m_stVersion->setTextFormat(Qt::PlainText);
    m_stVersion->setGeometry(DluRect(42, 14, 114, 8));

    m_stCopyright = new QLabel(QString::fromUtf8("\u00A9 2023 HOLLOWMERE WORKS"), this);
    m_stCopyright->setTextFormat(Qt::PlainText);
    m_stCopyright->setGeometry(DluRect(42, 26, 114, 8));

    m_btnOk = new QPushButton(QStringLiteral("OK"), this);
    m_btnOk->setGeometry(DluRect(113, 41, 50, 14));
    m_btnOk->setDefault(true);
    m_btnOk->setFocus();
    connect(m_btnOk, &QPushButton::clicked, this, &QDialog::accept);
}

QSize CAboutDlg::GetTemplateSize() {
    return DluSize(170, 62);
}
