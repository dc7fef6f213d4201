// Moving the captionless window: without the window system's move loop (the offscreen platform
// has none) the window follows the pointer from the press until the button is released.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCursor>
#include <QMouseEvent>
#include <QWidget>

#include "support/qt/qt_application.h"
#include "ui/window_move.h"

namespace {

void SendMove(QWidget& window, const QPoint& global, Qt::MouseButtons buttons) {
    QMouseEvent move(QEvent::MouseMove, QPointF(window.mapFromGlobal(global)), QPointF(global),
                     Qt::NoButton, buttons, Qt::NoModifier);
    QCoreApplication::sendEvent(&window, &move);
}

void SendRelease(QWidget& window, const QPoint& global) {
    QMouseEvent release(QEvent::MouseButtonRelease, QPointF(window.mapFromGlobal(global)),
                        QPointF(global), Qt::LeftButton, Qt::NoButton, Qt::NoModifier);
    QCoreApplication::sendEvent(&window, &release);
}

class WindowMoveTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { EnsureQtApplication(); }
    void SetUp() override { EnsureQtApplication(); }
};

TEST_F(WindowMoveTest, WithoutTheSystemsMoveLoopTheWindowFollowsThePointerUntilRelease) {
    QWidget window(nullptr, Qt::Window | Qt::FramelessWindowHint);
    window.resize(200, 100);
    window.move(100, 100);
    window.show();
    QCoreApplication::processEvents();
    const QPoint start = window.pos();
    QCursor::setPos(start + QPoint(50, 30));

    EXPECT_FALSE(CWindowMove::Start(&window));
    SendMove(window, start + QPoint(80, 50), Qt::LeftButton);
    EXPECT_EQ(window.pos(), start + QPoint(30, 20));
    SendMove(window, start + QPoint(40, 10), Qt::LeftButton);
    EXPECT_EQ(window.pos(), start + QPoint(-10, -20));

    // Released: later moves leave it where it is, and nothing is left watching the window.
    SendRelease(window, start + QPoint(40, 10));
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    SendMove(window, start + QPoint(200, 200), Qt::LeftButton);
    EXPECT_EQ(window.pos(), start + QPoint(-10, -20));
    EXPECT_TRUE(window.findChildren<CWindowMove*>().isEmpty());

    // A move without the left button (it went up outside the window) ends it as well.
    QCursor::setPos(window.pos() + QPoint(5, 5));
    CWindowMove::Start(&window);
    CWindowMove::Start(&window);  // a second press replaces the first follower
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_EQ(window.findChildren<CWindowMove*>().size(), 1);
    const QPoint before = window.pos();
    SendMove(window, before + QPoint(50, 50), Qt::RightButton);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    SendMove(window, before + QPoint(60, 60), Qt::LeftButton);
    EXPECT_EQ(window.pos(), before);
    EXPECT_TRUE(window.findChildren<CWindowMove*>().isEmpty());
}

}  // namespace
