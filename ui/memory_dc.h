// Thread: UI thread; lives on the stack for one paint and does not own the target painter.
// Off-screen painting: draw into it, and the finished clip box reaches the target in one copy
// when it is destroyed.
#pragma once

#include <QImage>
#include <QPainter>
#include <QRect>

class QWidget;

class CMemoryDC {
public:
    // pOwner is the window the target paints; when null and the target paints a widget, that
    // widget. It only decides the background the clip box starts with.
    explicit CMemoryDC(QPainter* pTargetDC, const QWidget* pOwner = nullptr);
    ~CMemoryDC();
    CMemoryDC(const CMemoryDC&) = delete;
    CMemoryDC& operator=(const CMemoryDC&) = delete;

    // The painter to draw with: the off-screen one, or the target itself when printing.
    QPainter* operator->() { return m_pDC; }
    QPainter& operator*() { return *m_pDC; }
    QPainter* GetSafeHdc() { return m_pDC; }

    bool IsOffscreen() const { return m_bOffscreen; }
    // The target's clip box in its logical coordinates.
    const QRect& GetTargetRect() const { return m_rcTarget; }

    // Off-screen surfaces alive in the process; stays flat across paints.
    static int LiveSurfaceCount();

private:
    void FillBackground(const QWidget* pOwner);

    bool m_bOffscreen = false;
    QImage m_bmpOffscreen;  // the clip box in device pixels
    QPainter m_dcOffscreen;
    QPainter* m_pDC = nullptr;
    QPainter* m_pTargetDC = nullptr;
    QRect m_rcTarget;
    QRect m_rcDevice;  // m_rcTarget in the target device's pixels
};
