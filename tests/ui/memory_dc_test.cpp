// Off-screen painting: clip box only, one copy to the target, background rules, no leak.
#include <gtest/gtest.h>

#include <QApplication>
#include <QDialog>
#include <QPainter>

#include "support/qt/qt_application.h"
#include "ui/memory_dc.h"
#include "ui/text_progress_ctrl.h"

namespace {

class MemoryDCTest : public ::testing::Test {
protected:
    // Members may be widgets: the application must exist before the fixture is built.
    static void SetUpTestSuite() { EnsureQtApplication(); }
    void SetUp() override { EnsureQtApplication(); }
};

TEST_F(MemoryDCTest, CopiesBackOnlyTheClipBox) {
    QImage target(100, 50, QImage::Format_RGB32);
    target.fill(Qt::white);
    {
        QPainter painter(&target);
        painter.setClipRect(QRect(10, 20, 30, 5));
        CMemoryDC dc(&painter);
        EXPECT_EQ(dc.GetTargetRect(), QRect(10, 20, 30, 5));
        EXPECT_TRUE(dc.IsOffscreen());
        dc->fillRect(0, 0, 100, 50, Qt::red);
        // Nothing reaches the target before the copy.
        EXPECT_EQ(target.pixelColor(15, 22), QColor(Qt::white));
    }
    for (int y = 0; y < 50; ++y)
        for (int x = 0; x < 100; ++x)
            ASSERT_EQ(target.pixelColor(x, y),
                      QRect(10, 20, 30, 5).contains(x, y) ? QColor(Qt::red) : QColor(Qt::white))
                << x << "," << y;
}

TEST_F(MemoryDCTest, LogicalCoordinatesLandWhereTheyWouldOnTheTarget) {
    QImage target(60, 40, QImage::Format_RGB32);
    target.fill(Qt::white);
    {
        QPainter painter(&target);
        painter.setBackground(QColor(Qt::black));
        painter.translate(7, 9);
        painter.setClipRect(QRect(0, 0, 20, 10));
        CMemoryDC dc(&painter);
        EXPECT_EQ(dc.GetTargetRect(), QRect(0, 0, 20, 10));
        dc->fillRect(QRect(2, 3, 1, 1), Qt::blue);
    }
    EXPECT_EQ(target.pixelColor(9, 12), QColor(Qt::blue));
    EXPECT_EQ(target.pixelColor(7, 9), QColor(Qt::black));  // the painter's background
    EXPECT_EQ(target.pixelColor(6, 9), QColor(Qt::white));
}

TEST_F(MemoryDCTest, ClipBoxStartsWithTheOwnersBackground) {
    QImage target(10, 10, QImage::Format_RGB32);
    auto startColour = [&](const QWidget* pOwner, QColor painterBackground) {
        target.fill(Qt::white);
        QPainter painter(&target);
        painter.setBackground(painterBackground);
        { CMemoryDC dc(&painter, pOwner); }
        painter.end();
        return target.pixelColor(5, 5);
    };
    QDialog dialog;
    QPalette palette;
    palette.setColor(QPalette::Window, QColor(11, 22, 33));
    dialog.setPalette(palette);
    EXPECT_EQ(startColour(&dialog, Qt::green), QColor(11, 22, 33));

    QWidget filled;
    filled.setAutoFillBackground(true);
    palette.setColor(QPalette::Window, QColor(44, 55, 66));
    filled.setPalette(palette);
    EXPECT_EQ(startColour(&filled, Qt::green), QColor(44, 55, 66));

    QWidget plain;
    EXPECT_EQ(startColour(&plain, QColor(7, 8, 9)), QColor(7, 8, 9));
    EXPECT_EQ(startColour(nullptr, QColor(1, 2, 3)), QColor(1, 2, 3));
}

TEST_F(MemoryDCTest, ThousandsOfPaintsLeaveNoSurfaceBehind) {
    EnsureQtApplication();
    const int nBefore = CMemoryDC::LiveSurfaceCount();
    CTextProgressCtrl bar;
    bar.resize(249, 16);
    QImage target(249, 16, QImage::Format_RGB32);
    QPainter painter(&target);
    for (int i = 0; i < 20000; ++i) {
        bar.SetPos(i % 101);
        bar.Draw(&painter, QRect(i % 200, 0, 49, 16));
        ASSERT_EQ(CMemoryDC::LiveSurfaceCount(), nBefore) << "paint " << i;
    }
    {
        CMemoryDC dc(&painter);
        EXPECT_EQ(CMemoryDC::LiveSurfaceCount(), nBefore + 1);
    }
    EXPECT_EQ(CMemoryDC::LiveSurfaceCount(), nBefore);
}

TEST_F(MemoryDCTest, EmptyClipBoxDrawsNothing) {
    QImage target(20, 20, QImage::Format_RGB32);
    target.fill(Qt::white);
    {
        QPainter painter(&target);
        painter.setClipRect(QRect(50, 50, 10, 10));  // outside the target
        CMemoryDC dc(&painter);
        dc->fillRect(0, 0, 20, 20, Qt::red);
    }
    EXPECT_EQ(target.pixelColor(0, 0), QColor(Qt::white));
    EXPECT_EQ(target.pixelColor(19, 19), QColor(Qt::white));
}

}  // namespace
