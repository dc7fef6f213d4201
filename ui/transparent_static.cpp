#include "ui/transparent_static.h"

#include <QAccessible>
#include <QFontMetrics>
#include <QPaintEvent>
#include <QPainter>
#include <algorithm>

#include "ui/skin_accessible.h"
#include "ui/skin_layout.h"

namespace {

// Lines as a static text breaks them: at spaces and line breaks only, so a long file name or
// path stays on its line (cut at the edge) instead of breaking after a slash.
// Width of a text as it is drawn on a device with this pixel ratio: glyphs are laid out at the
// device's size, so at a fractional ratio a text can come out wider than its logical metrics.
qreal DrawnWidth(const QFont& font, const QString& strText, qreal dpr) {
    const qreal logical = QFontMetricsF(font).horizontalAdvance(strText);
    if (dpr <= 1.0 || font.pointSizeF() <= 0)
        return logical;
    QFont scaled = font;
    scaled.setPointSizeF(font.pointSizeF() * dpr);
    return std::max(logical, QFontMetricsF(scaled).horizontalAdvance(strText) / dpr);
}

// The label's font when the text fits its one-line box (or the box has room for more lines);
// else the condensed face, then smaller sizes down to 7 points, until the text fits.
QFont FitOneLine(const QFont& base, const QString& strText, const QRect& rcBox, qreal dpr) {
    const QFontMetrics metrics(base);
    if (rcBox.height() >= 2 * metrics.lineSpacing() || strText.contains('\n') ||
        DrawnWidth(base, strText, dpr) <= rcBox.width()) {
        return base;
    }
    QFont font = base;
    font.setStretch(QFont::Condensed);
    for (qreal size = base.pointSizeF(); size >= 7; size -= 0.5) {
        font.setPointSizeF(size);
        if (DrawnWidth(font, strText, dpr) <= rcBox.width()) {
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
    InstallSkinAccessibleFactory();
}

CTransparentStatic::~CTransparentStatic() = default;

void CTransparentStatic::SetWindowText(const std::string& strText) {
    const QString strOld = m_strText;
    m_strText = QString::fromStdString(strText);
    if (m_strText != strOld && QAccessible::isActive()) {
        QAccessibleEvent event(this, QAccessible::NameChanged);
        QAccessible::updateAccessibility(&event);
    }
    repaint();
}

std::string CTransparentStatic::GetWindowText() const {
    return m_strText.toStdString();
}

void CTransparentStatic::SetBackgroundSource(BackgroundSource source) {
    m_backgroundSource = std::move(source);
    m_bmpBackground = QImage();
}

namespace {

QImage PicturePiece(const QImage& picture, const QRect& rcInParent) {
    const qreal dpr = picture.devicePixelRatio();
    QImage piece =
        picture.copy(QRectF(QPointF(rcInParent.topLeft()) * dpr, QSizeF(rcInParent.size()) * dpr)
                         .toAlignedRect());
    piece.setDevicePixelRatio(dpr);
    return piece;
}

}  // namespace

void CTransparentStatic::SetBackgroundPicture(const QImage& picture) {
    SetBackgroundSource(
        [picture](const QRect& rcInParent) { return PicturePiece(picture, rcInParent); });
}

void CTransparentStatic::SetBackgroundResource(unsigned nIDBitmap) {
    SetBackgroundSource([this, nIDBitmap](const QRect& rcInParent) {
        return PicturePiece(LoadBitmapResource(nIDBitmap, devicePixelRatioF()), rcInParent);
    });
}

void CTransparentStatic::SetTextWidth(int nWidth) {
    m_nTextWidth = nWidth;
    update();
}

int CTransparentStatic::GetTextWidth() const {
    return m_nTextWidth > 0 ? std::min(m_nTextWidth, width()) : width();
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
    // On another screen the piece is taken again at that screen's resolution.
    if (!m_bmpBackground.isNull() && m_dBackgroundRatio != devicePixelRatioF())
        m_bmpBackground = QImage();
    if (m_bmpBackground.isNull()) {
        m_dBackgroundRatio = devicePixelRatioF();
        m_bmpBackground =
            m_backgroundSource ? m_backgroundSource(geometry()) : GrabParentBackground(geometry());
        if (m_bmpBackground.isNull())
            return;
    }
    const QRect rcClient = rect();
    if (m_bmpBackground.devicePixelRatio() != pDC->device()->devicePixelRatioF())
        pDC->setRenderHint(QPainter::SmoothPixmapTransform);
    pDC->drawImage(
        QRectF(rcClient), m_bmpBackground,
        QRectF(QPointF(0, 0), QSizeF(rcClient.size()) * m_bmpBackground.devicePixelRatio()));
}

void CTransparentStatic::Draw(QPainter* pDC, const QRect& rcPaint) {
    pDC->save();
    pDC->setClipRect(rcPaint, Qt::IntersectClip);
    OnEraseBkgnd(pDC);
    pDC->setFont(font());
    pDC->setPen(ColorRefToQColor(TEXT_COLOR));
    QRect rcClient = rect();
    rcClient.setWidth(GetTextWidth());
    // The text is drawn as it is: an '&' in a folder name is shown, not taken for a mnemonic.
    if (m_dwStyle & SS_ENDELLIPSIS) {
        const QString strShown =
            QFontMetrics(font()).elidedText(m_strText, Qt::ElideRight, rcClient.width());
        pDC->drawText(rcClient, Qt::AlignLeft | Qt::AlignTop | Qt::TextSingleLine, strShown);
    } else if (const QFont fitted =
                   FitOneLine(font(), m_strText, rcClient, pDC->device()->devicePixelRatioF());
               fitted != font()) {
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
