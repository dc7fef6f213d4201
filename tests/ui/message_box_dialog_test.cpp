// The prerequisite warning dialog: link layouts, rendering, links and closing.
#include <gtest/gtest.h>

#include <QApplication>
#include <QDesktopServices>
#include <QFontMetrics>
#include <QImage>
#include <QKeyEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QUrl>

#include "platform/string_table.h"
#include "support/env_guard.h"
#include "support/qt/qt_application.h"
#include "support/sandbox.h"
#include "ui/message_box_dlg.h"

namespace {

bool IsLinkBlue(QRgb c) {
    return qBlue(c) > 150 && qRed(c) < 120 && qGreen(c) < 120;
}

// Rows of the rendered dialog that hold link-coloured pixels.
QRect LinkPixels(const QImage& image) {
    QRect box;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            if (IsLinkBlue(image.pixel(x, y))) {
                box |= QRect(x, y, 1, 1);
            }
        }
    }
    return box;
}

}  // namespace

class UrlCatcher : public QObject {
    Q_OBJECT
public:
    QList<QUrl> urls;
public slots:
    void Open(const QUrl& url) { urls.push_back(url); }
};

namespace {

class MessageBoxDialogTest : public ::testing::Test {
protected:
    // Qt and fontconfig read and cache below HOME: keep them in the sandbox.
    void SetUp() override {
        m_env.UseHome(m_box.Path());
        EnsureQtApplication();
    }

    Sandbox m_box;
    EnvGuard m_env;
};

TEST_F(MessageBoxDialogTest, LinksOfMissingPackagesAndTheHeight) {
    struct Case {
        bool redist;
        bool directX;
        int redistY;   // -1: hidden
        int directXY;  // -1: hidden
        int height;
    };
    // Template places: 1034 at y 88, 1035 at y 107; template height 140.
    const Case cases[] = {
        {true, true, 104, 123, 156},
        {true, false, 104, -1, 140},
        {false, true, -1, 105, 140},
    };
    for (const Case& c : cases) {
        CMessageBoxDlg dlg;
        dlg.m_strMessage = LoadFormatString(132);
        dlg.m_bRedistMissing = c.redist;
        dlg.m_bDirectXMissing = c.directX;
        dlg.show();
        QApplication::processEvents();
        const std::string label = std::to_string(c.redist) + std::to_string(c.directX);

        EXPECT_EQ(dlg.size(), QSize(382, c.height)) << label;
        EXPECT_EQ(dlg.m_linkRedist->isVisible(), c.redistY >= 0) << label;
        EXPECT_EQ(dlg.m_linkDirectX->isVisible(), c.directXY >= 0) << label;
        if (c.redistY >= 0) {
            EXPECT_EQ(dlg.m_linkRedist->geometry().topLeft(), QPoint(65, c.redistY)) << label;
        }
        if (c.directXY >= 0) {
            EXPECT_EQ(dlg.m_linkDirectX->geometry().topLeft(), QPoint(65, c.directXY)) << label;
        }

        // Link-coloured text lies only in the shown links' rows: no empty row above or below.
        const QImage image = dlg.grab().toImage();
        const QRect links = LinkPixels(image);
        const int top = c.redistY >= 0 ? c.redistY : c.directXY;
        const int bottom = (c.directXY >= 0 ? c.directXY : c.redistY) + 16;
        ASSERT_FALSE(links.isNull()) << label;
        EXPECT_GE(links.top(), top) << label;
        EXPECT_LE(links.bottom(), bottom) << label;
        EXPECT_LT(links.bottom(), c.height) << label;
        if (c.redist && c.directX) {
            EXPECT_GT(links.bottom(), 123) << "second link drawn";
            EXPECT_LT(links.top(), 107) << "first link drawn";
        }
        EXPECT_EQ(image.pixelColor(2, 2), QColor(Qt::white)) << label;
        EXPECT_EQ(image.pixelColor(image.width() - 3, image.height() - 3), QColor(Qt::white));
    }
}

TEST_F(MessageBoxDialogTest, WarningIconAndWrappedMessage) {
    CMessageBoxDlg dlg;
    dlg.m_strMessage = LoadFormatString(132);
    dlg.m_bRedistMissing = true;
    dlg.m_bDirectXMissing = true;
    dlg.show();
    QApplication::processEvents();

    EXPECT_EQ(dlg.windowTitle(), "Quellbridger");
    EXPECT_EQ(dlg.m_stMessage->text().toStdString(), LoadFormatString(132));
    EXPECT_EQ(dlg.m_stMessage->geometry(), QRect(67, 18, 303, 77));
    const QFontMetrics metrics(dlg.m_stMessage->font());
    EXPECT_LE(metrics.height(), 14);
    EXPECT_GE(metrics.height(), 12);
    // The whole text fits in the box when wrapped.
    EXPECT_TRUE(dlg.m_stMessage->wordWrap());
    EXPECT_LE(dlg.m_stMessage->heightForWidth(303), 77);

    const QImage image = dlg.grab().toImage();
    int iconPixels = 0;
    for (int y = 18; y < 18 + 32; ++y) {
        for (int x = 19; x < 19 + 32; ++x) {
            iconPixels += image.pixelColor(x, y) != QColor(Qt::white) ? 1 : 0;
        }
    }
    EXPECT_GT(iconPixels, 100) << "warning icon drawn at the icon control";
    int textPixels = 0;
    for (int y = 18; y < 95; ++y) {
        for (int x = 67; x < 370; ++x) {
            textPixels += qGray(image.pixel(x, y)) < 128 ? 1 : 0;
        }
    }
    EXPECT_GT(textPixels, 300) << "message drawn in its box";
}

TEST_F(MessageBoxDialogTest, LinksOpenTheirHelpPagesAndTheDialogStays) {
    UrlCatcher catcher;
    QDesktopServices::setUrlHandler("https", &catcher, "Open");
    CMessageBoxDlg dlg;
    dlg.m_bRedistMissing = true;
    dlg.m_bDirectXMissing = true;
    dlg.show();
    QApplication::processEvents();

    for (QLabel* link : {dlg.m_linkRedist, dlg.m_linkDirectX}) {
        const QPoint at(4, link->height() / 2);
        QMouseEvent press(QEvent::MouseButtonPress, at, link->mapToGlobal(at), Qt::LeftButton,
                          Qt::LeftButton, Qt::NoModifier);
        QMouseEvent release(QEvent::MouseButtonRelease, at, link->mapToGlobal(at), Qt::LeftButton,
                            Qt::NoButton, Qt::NoModifier);
        QApplication::sendEvent(link, &press);
        QApplication::sendEvent(link, &release);
        QApplication::processEvents();
    }
    QDesktopServices::unsetUrlHandler("https");

    ASSERT_EQ(catcher.urls.size(), 2);
    EXPECT_EQ(catcher.urls[0], CMessageBoxDlg::GetRedistUrl());
    EXPECT_EQ(catcher.urls[1], CMessageBoxDlg::GetDirectXUrl());
    EXPECT_EQ(catcher.urls[0].scheme(), "https");
    EXPECT_EQ(catcher.urls[0].path(), "/support/faq/all/44");
    EXPECT_EQ(catcher.urls[1].path(), "/support/faq/all/46");
    EXPECT_FALSE(catcher.urls[0].host().isEmpty());
    EXPECT_TRUE(dlg.isVisible());

    QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
    QApplication::sendEvent(&dlg, &escape);
    EXPECT_FALSE(dlg.isVisible());
    EXPECT_EQ(dlg.result(), QDialog::Rejected);
}

}  // namespace

#include "message_box_dialog_test.moc"
