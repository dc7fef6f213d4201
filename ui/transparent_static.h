// Thread: UI thread only; owned by its parent widget, which supplies the background beneath.
// Text label that lies on a painted background: draws its text with no background of its own and
// wipes old text by putting back the piece of the background beneath it.
#pragma once

#include <QImage>
#include <QString>
#include <QWidget>
#include <cstdint>
#include <functional>
#include <string>

#include "ui/color_ref.h"

// Static styles that change the drawing.
enum : uint32_t { SS_LEFT = 0x0000, SS_ENDELLIPSIS = 0x4000 };

class CTransparentStatic : public QWidget {
    Q_OBJECT

public:
    static constexpr COLORREF TEXT_COLOR = RGB(149, 149, 151);

    // Answers the parent's pixels under rcInParent (parent coordinates), as the parent shows
    // them without its child controls.
    using BackgroundSource = std::function<QImage(const QRect& rcInParent)>;

    explicit CTransparentStatic(QWidget* pParent = nullptr, uint32_t dwStyle = SS_LEFT);
    ~CTransparentStatic() override;

    // Paints the label (widget coordinates): the background piece, then the text over it.
    void Draw(QPainter* pDC, const QRect& rcPaint);

    // Stores the text and repaints at once. UTF-8.
    void SetWindowText(const std::string& strText);
    std::string GetWindowText() const;

    // Without a source the label renders its parent's own painting (no children) beneath it.
    void SetBackgroundSource(BackgroundSource source);
    // Convenience: the parent's whole face is this picture, drawn at the parent's (0, 0); a
    // picture with a device pixel ratio counts in device-independent pixels.
    void SetBackgroundPicture(const QImage& picture);
    // The same with a bitmap resource, taken at the device pixel ratio of the label's screen.
    void SetBackgroundResource(unsigned nIDBitmap);

    // Width the text may take from the label's left edge (0: the label's width). A one-line
    // text wider than that is drawn narrower, as for the label's own width.
    void SetTextWidth(int nWidth);
    int GetTextWidth() const;

    uint32_t GetStyle() const { return m_dwStyle; }

protected:
    void paintEvent(QPaintEvent* pEvent) override;
    void moveEvent(QMoveEvent* pEvent) override;
    void resizeEvent(QResizeEvent* pEvent) override;

private:
    void OnEraseBkgnd(QPainter* pDC);
    QImage GrabParentBackground(const QRect& rcInParent) const;

    QImage m_bmpBackground;        // the parent's pixels under the label, taken on the first paint
    qreal m_dBackgroundRatio = 0;  // device pixel ratio m_bmpBackground was taken at
    int m_nTextWidth = 0;
    BackgroundSource m_backgroundSource;
    QString m_strText;
    uint32_t m_dwStyle;
};
