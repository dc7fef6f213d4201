// Thread: UI thread only; a move in progress is owned by the window it moves and ends itself.
// Moves a window without a caption the way a caption drag would: through the window system's own
// move loop where the compositor or window manager offers one (Wayland, most X11 desktops), else
// by following the pointer until the button is released.
#pragma once

#include <QObject>
#include <QPoint>

class QWidget;

class CWindowMove : public QObject {
    Q_OBJECT

public:
    // Starts moving pWindow for a press of the left button at the pointer's place. True when
    // the window system's move loop took over.
    static bool Start(QWidget* pWindow);

protected:
    bool eventFilter(QObject* pWatched, QEvent* pEvent) override;

private:
    CWindowMove(QWidget* pWindow, const QPoint& ptGrab);

    QWidget* m_pWindow;
    QPoint m_ptGrab;  // the pointer's place relative to the window's top left
};
