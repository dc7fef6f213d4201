#include "ui/text_progress_ctrl.h"

#include <QAccessible>
#include <QFontMetrics>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QTimerEvent>
#include <algorithm>

#include "ui/memory_dc.h"
#include "ui/skin_accessible.h"

int CTextProgressCtrl::s_nMarqueeDirection = 1;

namespace {

// Edges as the paint algorithm reasons about them: right and bottom exclusive.
struct Edges {
    int left, top, right, bottom;

    QRect ToQRect() const {
        return QRect(left, top, std::max(0, right - left), std::max(0, bottom - top));
    }
};

uint32_t PackRange(int nMin, int nMax) {
    return (static_cast<uint32_t>(nMin) & 0xFFFFu) |
           ((static_cast<uint32_t>(nMax) & 0xFFFFu) << 16);
}

}  // namespace

CTextProgressCtrl::CTextProgressCtrl(QWidget* pParent, uint32_t dwStyle)
    : QWidget(pParent), m_dwStyle(dwStyle) {
    // Every paint covers the whole control; nothing is erased first.
    setAttribute(Qt::WA_OpaquePaintEvent);
    InstallSkinAccessibleFactory();
}

CTextProgressCtrl::~CTextProgressCtrl() = default;

void CTextProgressCtrl::ModifyStyle(uint32_t dwRemove, uint32_t dwAdd) {
    m_dwStyle = (m_dwStyle & ~dwRemove) | dwAdd;
}

void CTextProgressCtrl::SetWindowText(const std::string& strText) {
    m_strText = QString::fromStdString(strText);
    update();
}

std::string CTextProgressCtrl::GetWindowText() const {
    return m_strText.toStdString();
}

QString CTextProgressCtrl::GetDisplayText() const {
    if (!m_bShowPercent)
        return m_strText;
    if (m_nMin >= m_nMax)
        return QString();
    const double fraction = double(m_nPos - m_nMin) / double(m_nMax - m_nMin);
    return QString::number(static_cast<int>(fraction * 100.0 + 0.5)) + u'%';
}

void CTextProgressCtrl::Redraw() {
    repaint();
}

COLORREF CTextProgressCtrl::Resolve(COLORREF cr, QPalette::ColorRole role) const {
    return cr == CLR_DEFAULT ? QColorToColorRef(palette().color(role)) : cr;
}

uint32_t CTextProgressCtrl::SetRange(int nLower, int nUpper) {
    const uint32_t dwOld = PackRange(m_nMin, m_nMax);
    m_nMin = static_cast<uint16_t>(nLower);
    m_nMax = static_cast<uint16_t>(nUpper);
    return dwOld;
}

uint32_t CTextProgressCtrl::SetRange32(int nLower, int nUpper) {
    const uint32_t dwOld = PackRange(m_nMin, m_nMax);
    m_nMin = nLower;
    m_nMax = nUpper;
    return dwOld;
}

int CTextProgressCtrl::GetRange(bool bWhichLimit, PBRANGE* pRange) const {
    if (pRange != nullptr) {
        pRange->iLow = m_nMin;
        pRange->iHigh = m_nMax;
    }
    return bWhichLimit ? m_nMin : m_nMax;
}

void CTextProgressCtrl::GetRange(int& nLower, int& nUpper) const {
    nLower = m_nMin;
    nUpper = m_nMax;
}

int CTextProgressCtrl::GetMarqueeLimit() const {
    return static_cast<int>((double(m_nMarqueeSize + 100) * double(m_nMax) + 0.5) / 100.0);
}

int CTextProgressCtrl::SetPos(int nPos) {
    const int nOld = m_nPos;
    m_nPos = std::max(nPos, m_nMin);
    const int nUpper = (m_dwStyle & PBS_MARQUEE) ? GetMarqueeLimit() : m_nMax;
    if (m_nPos > nUpper)
        m_nPos = nUpper;
    if (m_nPos != nOld && QAccessible::isActive()) {
        QAccessibleValueChangeEvent event(this, m_nPos);
        QAccessible::updateAccessibility(&event);
    }
    Redraw();
    return nOld;
}

int CTextProgressCtrl::OffsetPos(int nDelta) {
    return SetPos(m_nPos + nDelta);
}

int CTextProgressCtrl::SetStep(int nStep) {
    const int nOld = m_nStep;
    m_nStep = nStep;
    return nOld;
}

int CTextProgressCtrl::StepIt() {
    int nPos = m_nPos + m_nStep;
    if (nPos < m_nMin)
        nPos = m_nMax - (m_nMin - nPos);
    else if (nPos > m_nMax)
        nPos = m_nMin + (nPos - m_nMax);
    return SetPos(nPos);
}

COLORREF CTextProgressCtrl::SetBarColor(COLORREF cr) {
    std::swap(m_crBar, cr);
    Redraw();
    return cr;
}

COLORREF CTextProgressCtrl::GetBarColor() const {
    return Resolve(m_crBar, QPalette::Highlight);
}

COLORREF CTextProgressCtrl::SetBkColor(COLORREF cr) {
    std::swap(m_crBk, cr);
    Redraw();
    return cr;
}

COLORREF CTextProgressCtrl::GetBkColor() const {
    return Resolve(m_crBk, QPalette::Button);
}

COLORREF CTextProgressCtrl::SetTextColor(COLORREF cr) {
    std::swap(m_crText, cr);
    Redraw();
    return cr;
}

COLORREF CTextProgressCtrl::GetTextColor() const {
    return Resolve(m_crText, QPalette::WindowText);
}

COLORREF CTextProgressCtrl::SetBarTextColor(COLORREF cr) {
    std::swap(m_crBarText, cr);
    Redraw();
    return cr;
}

COLORREF CTextProgressCtrl::GetBarTextColor() const {
    return Resolve(m_crBarText, QPalette::Base);
}

bool CTextProgressCtrl::SetShowPercent(bool bShow) {
    std::swap(m_bShowPercent, bShow);
    Redraw();
    return bShow;
}

int CTextProgressCtrl::SetTextAlign(int nAlign) {
    std::swap(m_nTextAlign, nAlign);
    Redraw();
    return nAlign;
}

bool CTextProgressCtrl::SetMarquee(bool bOn, int nInterval) {
    m_bShowPercent = false;
    if (m_nMarqueeTimer != 0) {
        killTimer(m_nMarqueeTimer);
        m_nMarqueeTimer = 0;
    }
    if (bOn) {
        m_dwStyle |= PBS_MARQUEE;
        // A zero interval would spin the event loop; window timers never fire faster than this.
        m_nMarqueeTimer = startTimer(std::max(10, nInterval));
    } else {
        m_dwStyle &= ~PBS_MARQUEE;
    }
    Redraw();
    return bOn;
}

int CTextProgressCtrl::SetMarqueeSize(int nPercent) {
    m_nMarqueeSize = nPercent;
    Redraw();
    return nPercent;
}

int CTextProgressCtrl::GetMarqueeDirection() {
    return s_nMarqueeDirection;
}

void CTextProgressCtrl::OnTimer(int nIDEvent) {
    if (nIDEvent != MARQUEE_TIMER_ID)
        return;
    const int nPos = GetPos();
    if (s_nMarqueeDirection == 1 && nPos >= GetMarqueeLimit())
        s_nMarqueeDirection = -1;
    if (s_nMarqueeDirection == -1 && nPos <= m_nMin)
        s_nMarqueeDirection = 1;
    SetPos(nPos + s_nMarqueeDirection);
}

void CTextProgressCtrl::timerEvent(QTimerEvent* pEvent) {
    if (pEvent->timerId() == m_nMarqueeTimer && m_nMarqueeTimer != 0)
        OnTimer(MARQUEE_TIMER_ID);
    else
        QWidget::timerEvent(pEvent);
}

void CTextProgressCtrl::mousePressEvent(QMouseEvent* pEvent) {
    pEvent->accept();
}
void CTextProgressCtrl::mouseReleaseEvent(QMouseEvent* pEvent) {
    pEvent->accept();
}
void CTextProgressCtrl::mouseMoveEvent(QMouseEvent* pEvent) {
    pEvent->accept();
}

void CTextProgressCtrl::paintEvent(QPaintEvent* pEvent) {
    QPainter painter(this);
    painter.setClipRect(pEvent->rect());
    Draw(&painter, pEvent->rect());
}

void CTextProgressCtrl::Draw(QPainter* pDC, const QRect& rcPaint) {
    if (m_nMin >= m_nMax)
        return;

    pDC->save();
    pDC->setClipRect(rcPaint, Qt::IntersectClip);
    {
        CMemoryDC dc(pDC, this);

        const QColor crBar = ColorRefToQColor(GetBarColor());
        const QColor crBk = ColorRefToQColor(GetBkColor());
        const QColor crText = ColorRefToQColor(GetTextColor());
        const QColor crBarText = ColorRefToQColor(GetBarTextColor());
        const QFont font = this->font();
        dc->setFont(font);

        // A flat sunken edge: of its two rings only the inner one, along the client border,
        // lies inside the control, in the 3-D face colour.
        const QRect rcClient = rect();
        const QColor crEdge = palette().color(QPalette::Button);
        dc->fillRect(rcClient.left(), rcClient.top(), rcClient.width(), 1, crEdge);
        dc->fillRect(rcClient.left(), rcClient.bottom(), rcClient.width(), 1, crEdge);
        dc->fillRect(rcClient.left(), rcClient.top(), 1, rcClient.height(), crEdge);
        dc->fillRect(rcClient.right(), rcClient.top(), 1, rcClient.height(), crEdge);
        const Edges interior{rcClient.left() + 1, rcClient.top() + 1, rcClient.right(),
                             rcClient.bottom()};
        const QRect rcInterior = interior.ToQRect();

        const double fraction = double(m_nPos - m_nMin) / double(m_nMax - m_nMin);
        const bool bVertical = (m_dwStyle & PBS_VERTICAL) != 0;
        const bool bMarquee = (m_dwStyle & PBS_MARQUEE) != 0;
        Edges before = interior, bar = interior, after = interior;
        bool bDrawBefore = true, bDrawAfter = true;
        const int width = interior.right - interior.left;
        const int height = interior.bottom - interior.top;

        if (!bVertical && !bMarquee) {
            bDrawBefore = false;
            bar.right = bar.left + static_cast<int>(width * fraction);
            after.left = bar.right;
        } else if (!bVertical) {
            const int seg = (width * m_nMarqueeSize + 50) / 100;
            const int e = interior.left + static_cast<int>(width * fraction);
            bar.right = e;
            bar.left = e - seg;
            if (bar.left <= interior.left) {
                bDrawBefore = false;
                bar.left = interior.left;
            } else {
                before.right = bar.left;
            }
            if (e >= interior.right) {
                bDrawAfter = false;
                bar.right = interior.right;
            } else {
                after.left = e;
            }
        } else if (!bMarquee) {
            bDrawBefore = false;
            bar.top = interior.bottom - static_cast<int>(height * fraction);
            after.bottom = bar.top;
        } else {
            const int seg = (height * m_nMarqueeSize + 50) / 100;
            const int t = interior.bottom - static_cast<int>(height * fraction);
            bar.top = t;
            bar.bottom = t + seg;
            if (bar.bottom >= interior.bottom) {
                bDrawBefore = false;
                bar.bottom = interior.bottom;
            } else {
                before.top = bar.bottom;
            }
            if (t <= interior.top) {
                bDrawAfter = false;
                bar.top = interior.top;
            } else {
                after.bottom = t;
            }
        }

        // A position left outside a range that changed later must not paint over the edge.
        const QRect rcBefore = before.ToQRect() & rcInterior;
        const QRect rcBar = bar.ToQRect() & rcInterior;
        const QRect rcAfter = after.ToQRect() & rcInterior;
        if (bDrawBefore)
            dc->fillRect(rcBefore, crBk);
        dc->fillRect(rcBar, crBar);
        if (bDrawAfter)
            dc->fillRect(rcAfter, crBk);

        const QString strText = GetDisplayText();

        if (!strText.isEmpty()) {
            const QFontMetrics metrics(font);
            const int cx = metrics.horizontalAdvance(strText);
            const int cy = metrics.height();
            int x, y;
            if (!bVertical) {
                if (m_nTextAlign == 0)
                    x = interior.left + 2;
                else if (m_nTextAlign == 2)
                    x = interior.right - cx - 3;
                else
                    x = interior.left + (interior.right - interior.left - cx) / 2;
                y = interior.top + (interior.bottom - interior.top - cy) / 2;
            } else {
                // Turned a quarter counter-clockwise, reading bottom to top; (x, y) is the
                // turned cell's origin, the text running up from it.
                if (m_nTextAlign == 0)
                    y = interior.bottom - 3;
                else if (m_nTextAlign == 2)
                    y = interior.top + 2 + cx;
                else
                    y = interior.top + cx + (interior.bottom - interior.top - cx) / 2;
                x = interior.left + (interior.right - interior.left - cy) / 2;
            }

            // The same text up to three times, each clipped to one part of the bar, so each
            // letter changes colour exactly where the bar ends.
            auto drawPart = [&](const QRect& rcPart, const QColor& color) {
                dc->save();
                dc->setClipRect(rcPart & rcInterior, Qt::IntersectClip);
                dc->setPen(color);
                dc->translate(x, y);
                if (bVertical)
                    dc->rotate(-90);
                dc->drawText(QPoint(0, metrics.ascent()), strText);
                dc->restore();
            };
            if (bDrawBefore)
                drawPart(rcBefore, crText);
            drawPart(rcBar, crBarText);
            if (bDrawAfter)
                drawPart(rcAfter, crText);
        }
    }
    pDC->restore();
}
