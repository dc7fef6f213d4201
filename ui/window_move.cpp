#include "ui/window_move.h"

#include <QCursor>
#include <QMouseEvent>
#include <QWidget>
#include <QWindow>

bool CWindowMove::Start(QWidget* pWindow) {
    QWidget* pTop = pWindow->window();
    if (QWindow* pHandle = pTop->windowHandle(); pHandle != nullptr && pHandle->startSystemMove())
        return true;
    // One follower per window: a press while one runs replaces it.
    for (CWindowMove* pOld : pTop->findChildren<CWindowMove*>(Qt::FindDirectChildrenOnly))
        pOld->deleteLater();
    new CWindowMove(pTop, QCursor::pos() - pTop->pos());
    return false;
}

CWindowMove::CWindowMove(QWidget* pWindow, const QPoint& ptGrab)
    : QObject(pWindow), m_pWindow(pWindow), m_ptGrab(ptGrab) {
    pWindow->installEventFilter(this);
}

bool CWindowMove::eventFilter(QObject* pWatched, QEvent* pEvent) {
    if (pWatched != m_pWindow)
        return false;
    if (pEvent->type() == QEvent::MouseMove) {
        const auto* pMouse = static_cast<QMouseEvent*>(pEvent);
        if (pMouse->buttons() & Qt::LeftButton) {
            m_pWindow->move(pMouse->globalPosition().toPoint() - m_ptGrab);
            return true;
        }
        deleteLater();  // the left button went up where this window did not see it
    } else if (pEvent->type() == QEvent::MouseButtonRelease) {
        deleteLater();
    }
    return false;
}
