#include "ui/transparent_static.h"

#include <QFontMetrics>
#include <QPaintEvent>
#include <QPainter>

namespace {

// Lines as a static text breaks them: at spaces and line breaks only, so a long file name or
// path stays on its line (cut at the edge) instead of breaking after a slash.
// The label's font when the text fits its one-line box (or the box has room for more lines);
// else the condensed face, then smaller sizes down to 7 points, until the text fits.
QFont FitOneLine(const QFont& base, const QString& strText, const QRect& rcBox) {
    const QFontMetrics metrics(base);
    if (rcBox.height() >= 2 * metrics.lineSpacing() || strText.contains('\n') ||
        metrics.horizontalAdvance(strText) <= rcBox.width()) {
        return base;
    }
    QFont font = base;
    font.setStretch(QFont::Condensed);
    for (qreal size = base.pointSizeF(); size >= 7; size -= 0.5) {
        font.setPointSizeF(size);
        if (QFontMetrics(font).horizontalAdvance(strText) <= rcBox.width()) {
            return font;
        }
    }
    return font;
}

QStringList WrapAtSpaces(const QString& strText, const QFontMetrics& metrics, int nWidth) {
    QStringList lines;
    for (const QString& strParagraph : strText.split(u'\n')) {
        QString strLine;
        for (const QString& strWord : strParagraph.split(u' ')) {
            const QString strCandidate = strLine.isEmpty() ? strWord : strLine + u' ' + strWord;
            if (!strLine.isEmpty() && metrics.horizontalAdvance(strCandidate) > nWidth) {
                lines << strLine;
                strLine = strWord;
            } else {
                strLine = strCandidate;
            }
        }
        lines << strLine;
    }
    return lines;
}

}  // namespace

CTransparentStatic::CTransparentStatic(QWidget* pParent, uint32_t dwStyle)
    : QWidget(pParent), m_dwStyle(dwStyle) {
    // The background piece covers the whole label, so nothing needs erasing first; presses
    // pass through to the window beneath, as they do through a plain static text.
    setAttribute(Qt::WA_OpaquePaintEvent);
    setAttribute(Qt::WA_TransparentForMouseEvents);
}

CTransparentStatic::~CTransparentStatic() = default;

void CTransparentStatic::SetWindowText(const std::string& strText) {
    m_strText = QString::fromStdString(strText);
    repaint();
}

std::string CTransparentStatic::GetWindowText() const {
    return m_strText.toStdString();
}

void CTransparentStatic::SetBackgroundSource(BackgroundSource source) {
    m_backgroundSource = std::move(source);
    m_bmpBackground = QImage();
}

void CTransparentStatic::SetBackgroundPicture(const QImage& picture) {
    SetBackgroundSource([picture](const QRect& rcInParent) { return picture.copy(rcInParent); });
}

// A label that moves or changes size lies over another piece of the background.
void CTransparentStatic::moveEvent(QMoveEvent*) {
    m_bmpBackground = QImage();
}
void CTransparentStatic::resizeEvent(QResizeEvent*) {
    m_bmpBackground = QImage();
}

QImage CTransparentStatic::GrabParentBackground(const QRect& rcInParent) const {
    QWidget* pParent = parentWidget();
    if (pParent == nullptr || rcInParent.isEmpty())
        return QImage();
    const qreal dpr = devicePixelRatioF();
    QImage image(rcInParent.size() * dpr, QImage::Format_ARGB32_Premultiplied);
    image.setDevicePixelRatio(dpr);
    image.fill(pParent->palette().color(pParent->backgroundRole()));
    pParent->render(&image, QPoint(), QRegion(rcInParent), QWidget::DrawWindowBackground);
    // Siblings stacked below the label (a picture control, say) are part of what lies beneath.
    for (QObject* pObject : pParent->children()) {
        if (pObject == this)
            break;
        auto* pSibling = qobject_cast<QWidget*>(pObject);
        if (pSibling == nullptr || !pSibling->isVisible() || pSibling->isWindow() ||
            qobject_cast<CTransparentStatic*>(pSibling) != nullptr)
            continue;
        const QRect rcOverlap = pSibling->geometry() & rcInParent;
        if (rcOverlap.isEmpty())
            continue;
        pSibling->render(&image, rcOverlap.topLeft() - rcInParent.topLeft(),
                         QRegion(rcOverlap.translated(-pSibling->pos())),
                         QWidget::DrawWindowBackground | QWidget::DrawChildren);
    }
    return image;
}

void CTransparentStatic::OnEraseBkgnd(QPainter* pDC) {
    if (m_bmpBackground.isNull()) {
        m_bmpBackground =
            m_backgroundSource ? m_backgroundSource(geometry()) : GrabParentBackground(geometry());
        if (m_bmpBackground.isNull())
            return;
    }
    const QRect rcClient = rect();
    pDC->drawImage(rcClient, m_bmpBackground,
                   QRectF(QPointF(0, 0), rcClient.size() * m_bmpBackground.devicePixelRatio()));
}

void CTransparentStatic::Draw(QPainter* pDC, const QRect& rcPaint) {
    pDC->save();
    pDC->setClipRect(rcPaint, Qt::IntersectClip);
    OnEraseBkgnd(pDC);
    pDC->setFont(font());
    pDC->setPen(ColorRefToQColor(TEXT_COLOR));
    const QRect rcClient = rect();
    // The text is drawn as it is: an '&' in a folder name is shown, not taken for a mnemonic.
    if (m_dwStyle & SS_ENDELLIPSIS) {
        const QString strShown =
            QFontMetrics(font()).elidedText(m_strText, Qt::ElideRight, rcClient.width());
        pDC->drawText(rcClient, Qt::AlignLeft | Qt::AlignTop | Qt::TextSingleLine, strShown);
    } else if (const QFont fitted = FitOneLine(font(), m_strText, rcClient); fitted != font()) {
        // A value that would wrap in a one-line box is drawn narrower instead of cut in two.
        pDC->setFont(fitted);
        pDC->drawText(rcClient, Qt::AlignLeft | Qt::AlignTop | Qt::TextSingleLine, m_strText);
    } else {
        const QFontMetrics metrics(font());
        int y = rcClient.top();
        for (const QString& strLine : WrapAtSpaces(m_strText, metrics, rcClient.width())) {
            if (y >= rcClient.bottom())
                break;
            pDC->drawText(QRect(rcClient.left(), y, rcClient.width(), metrics.height()),
                          Qt::AlignLeft | Qt::AlignTop | Qt::TextSingleLine | Qt::TextExpandTabs,
                          strLine);
            y += metrics.lineSpacing();
        }
    }
    pDC->restore();
}

void CTransparentStatic::paintEvent(QPaintEvent* pEvent) {
    QPainter painter(this);
    Draw(&painter, pEvent->rect());
}
