#include "ui/message_box_dlg.h"

#include <QDesktopServices>
#include <QFontMetrics>
#include <QLabel>
#include <QStyle>

#include <algorithm>

#include "ui/dialog_units.h"

#ifndef QB_SUPPORT_HOST
#define QB_SUPPORT_HOST "support.hollowmere.example"
#endif

namespace {

constexpr const char* REDIST_LINK_TEXT = "Visual C++ Redistributable";
constexpr const char* DIRECTX_LINK_TEXT = "DirectX Runtime";
constexpr const char* REDIST_HELP_PATH = "/support/faq/all/44";
constexpr const char* DIRECTX_HELP_PATH = "/support/faq/all/46";
// The message font asks for a 14-pixel character cell (lfHeight 14).
constexpr int MESSAGE_CELL_HEIGHT = 14;
constexpr int ICON_SIZE = 32;

QFont MakeCellHeightFont(const QFont& base, int cellHeight) {
    QFont font(base);
    for (int pixels = cellHeight; pixels > 1; --pixels) {
        font.setPixelSize(pixels);
        if (QFontMetrics(font).height() <= cellHeight) {
            break;
        }
    }
    return font;
}

QLabel* MakeLink(QWidget* parent, const char* text, const QRect& rc) {
    auto* link = new QLabel(parent);
    link->setProperty("linkText", QString::fromUtf8(text));
    link->setTextFormat(Qt::RichText);
    link->setTextInteractionFlags(Qt::LinksAccessibleByMouse | Qt::LinksAccessibleByKeyboard);
    link->setOpenExternalLinks(false);
    link->setFocusPolicy(Qt::TabFocus);
    link->setText(QString::fromUtf8(text).toHtmlEscaped());
    // A font wider than the template's may need more room than the template gives.
    link->setGeometry(rc.x(), rc.y(), std::max(rc.width(), link->sizeHint().width()), rc.height());
    return link;
}

QUrl SupportUrl(const char* path) {
    QUrl url;
    url.setScheme(QStringLiteral("https"));
    url.setHost(QStringLiteral(QB_SUPPORT_HOST));
    url.setPath(QString::fromUtf8(path));
    return url;
}

}  // namespace

CMessageBoxDlg::CMessageBoxDlg(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint) {
    setWindowTitle(QStringLiteral("Quellbridger"));
    setFont(QFont(QStringLiteral("DejaVu Sans"), 9));
    setFixedSize(GetTemplateSize());

    m_stMessage = new QLabel(this);
    m_stMessage->setGeometry(DluRect(38, 10, 173, 44));
    m_stMessage->setTextFormat(Qt::PlainText);
    m_stMessage->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    m_stMessage->setWordWrap(true);

    m_linkRedist = MakeLink(this, REDIST_LINK_TEXT, DluRect(37, 50, 96, 9));
    m_linkDirectX = MakeLink(this, DIRECTX_LINK_TEXT, DluRect(37, 61, 60, 9));
    connect(m_linkRedist, &QLabel::linkActivated, this, &CMessageBoxDlg::OnLinkActivated);
    connect(m_linkDirectX, &QLabel::linkActivated, this, &CMessageBoxDlg::OnLinkActivated);

    m_stIcon = new QLabel(this);
    m_stIcon->setGeometry(DluRect(11, 10, 20, 20));
}

QSize CMessageBoxDlg::GetTemplateSize() {
    return DluSize(218, 80);
}

QUrl CMessageBoxDlg::GetRedistUrl() {
    return SupportUrl(REDIST_HELP_PATH);
}

QUrl CMessageBoxDlg::GetDirectXUrl() {
    return SupportUrl(DIRECTX_HELP_PATH);
}

void CMessageBoxDlg::setVisible(bool visible) {
    if (visible && !m_bInitialized) {
        OnInitDialog();
    }
    QDialog::setVisible(visible);
}

void CMessageBoxDlg::SetLinkUrl(QLabel* link, const QUrl& url) {
    const QString text = link->property("linkText").toString().toHtmlEscaped();
    link->setText(QStringLiteral("<a href=\"%1\" style=\"color:#0000ff;\">%2</a>")
                      .arg(url.toString(QUrl::FullyEncoded).toHtmlEscaped(), text));
}

void CMessageBoxDlg::OnLinkActivated(const QString& link) {
    // The browser opens the page; the dialog stays.
    QDesktopServices::openUrl(QUrl(link, QUrl::StrictMode));
}

bool CMessageBoxDlg::OnInitDialog() {
    m_bInitialized = true;

    // The icon control takes the icon's own size, as a static icon control does.
    const QIcon warning = style()->standardIcon(QStyle::SP_MessageBoxWarning, nullptr, this);
    m_stIcon->setPixmap(warning.pixmap(ICON_SIZE, ICON_SIZE));
    m_stIcon->resize(ICON_SIZE, ICON_SIZE);

    QPalette pal = palette();
    pal.setColor(QPalette::Window, Qt::white);
    setPalette(pal);
    setAutoFillBackground(true);

    m_stMessage->setFont(MakeCellHeightFont(font(), MESSAGE_CELL_HEIGHT));
    m_stMessage->setText(QString::fromStdString(m_strMessage));

    setFixedSize(width(), height() + LINK_ROW_HEIGHT);
    m_linkDirectX->move(m_linkDirectX->x(), m_linkDirectX->y() + LINK_ROW_HEIGHT);
    m_linkRedist->move(m_linkRedist->x(), m_linkRedist->y() + LINK_ROW_HEIGHT);

    if (!m_bRedistMissing) {
        m_linkRedist->hide();
        if (m_bDirectXMissing) {
            // Into the first link's row.
            m_linkDirectX->move(m_linkDirectX->x(), m_linkDirectX->y() - 18);
            setFixedSize(width(), height() - LINK_ROW_HEIGHT);
        }
    }
    if (!m_bDirectXMissing) {
        m_linkDirectX->hide();
        if (m_bRedistMissing) {
            setFixedSize(width(), height() - LINK_ROW_HEIGHT);
        }
    }

    SetLinkUrl(m_linkRedist, GetRedistUrl());
    SetLinkUrl(m_linkDirectX, GetDirectXUrl());
    return true;
}
