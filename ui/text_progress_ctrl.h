// Thread: UI thread only; owned by its parent widget; the marquee direction is shared by all.
// Progress bar that paints itself and writes its percentage (or its text) across the bar, the
// letters changing colour exactly where the bar ends; optional marquee animation.
#pragma once

#include <QPalette>
#include <QString>
#include <QWidget>
#include <cstdint>
#include <string>

#include "ui/color_ref.h"

// Styles read at paint time.
enum : uint32_t { PBS_SMOOTH = 0x01, PBS_VERTICAL = 0x04, PBS_MARQUEE = 0x08 };

struct PBRANGE {
    int iLow;
    int iHigh;
};

class CTextProgressCtrl : public QWidget {
    Q_OBJECT

public:
    static constexpr int MARQUEE_TIMER_ID = 1;

    explicit CTextProgressCtrl(QWidget* pParent = nullptr, uint32_t dwStyle = PBS_SMOOTH);
    ~CTextProgressCtrl() override;

    // Paints the whole control (widget coordinates) through an off-screen surface; only
    // rcPaint reaches pDC. With an empty or inverted range nothing is drawn.
    void Draw(QPainter* pDC, const QRect& rcPaint);

    uint32_t GetStyle() const { return m_dwStyle; }
    void ModifyStyle(uint32_t dwRemove, uint32_t dwAdd);

    // The text drawn when the percentage is off. UTF-8.
    void SetWindowText(const std::string& strText);
    std::string GetWindowText() const;
    // What the bar writes across itself: "42%" with the percentage on, else its text.
    QString GetDisplayText() const;

    // Each returns what the matching progress-bar message returns.
    uint32_t SetRange(int nLower, int nUpper);  // 16-bit ends; old range, min low, max high
    uint32_t SetRange32(int nLower, int nUpper);
    int GetRange(bool bWhichLimit, PBRANGE* pRange = nullptr) const;
    void GetRange(int& nLower, int& nUpper) const;
    int SetPos(int nPos);  // clamps; returns the old position
    int OffsetPos(int nDelta);
    int GetPos() const { return m_nPos; }
    int SetStep(int nStep);
    int StepIt();                       // wraps around the range before clamping
    COLORREF SetBarColor(COLORREF cr);  // setters return the old stored value (CLR_DEFAULT too)
    COLORREF GetBarColor() const;       // getters resolve CLR_DEFAULT to the palette colour
    COLORREF SetBkColor(COLORREF cr);
    COLORREF GetBkColor() const;
    COLORREF SetTextColor(COLORREF cr);
    COLORREF GetTextColor() const;
    COLORREF SetBarTextColor(COLORREF cr);
    COLORREF GetBarTextColor() const;
    bool SetShowPercent(bool bShow);
    int SetTextAlign(int nAlign);              // 0 left/bottom, 2 right/top, anything else centred
    bool SetMarquee(bool bOn, int nInterval);  // turns the percentage off; returns bOn
    int SetMarqueeSize(int nPercent);          // returns nPercent

    // Highest position in marquee mode: the segment runs fully out of the bar before turning.
    int GetMarqueeLimit() const;
    static int GetMarqueeDirection();

    // Timer MARQUEE_TIMER_ID moves the marquee one position; other ids do nothing.
    void OnTimer(int nIDEvent);

protected:
    void paintEvent(QPaintEvent* pEvent) override;
    void timerEvent(QTimerEvent* pEvent) override;
    // Presses stay with the bar, so they never start a drag of the window beneath.
    void mousePressEvent(QMouseEvent* pEvent) override;
    void mouseReleaseEvent(QMouseEvent* pEvent) override;
    void mouseMoveEvent(QMouseEvent* pEvent) override;

private:
    void Redraw();
    COLORREF Resolve(COLORREF cr, QPalette::ColorRole role) const;

    bool m_bShowPercent = true;
    COLORREF m_crBar = CLR_DEFAULT;
    COLORREF m_crBk = CLR_DEFAULT;
    COLORREF m_crText = CLR_DEFAULT;
    COLORREF m_crBarText = CLR_DEFAULT;
    int m_nTextAlign = 1;
    int m_nPos = 0;
    int m_nStep = 10;
    int m_nMin = 0;
    int m_nMax = 100;
    int m_nMarqueeSize = 20;

    uint32_t m_dwStyle;
    QString m_strText;
    int m_nMarqueeTimer = 0;  // Qt's id of the marquee timer, 0 when stopped

    static int s_nMarqueeDirection;
};
