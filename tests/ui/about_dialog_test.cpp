// The about box: layout and the ways it closes.
#include <gtest/gtest.h>

#include <QApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>

#include "support/env_guard.h"
#include "support/qt/qt_application.h"
#include "support/sandbox.h"
#include "ui/about_dlg.h"

namespace {

class AboutDialogTest : public ::testing::Test {
protected:
    // Qt and fontconfig read and cache below HOME: keep them in the sandbox.
    void SetUp() override {
        m_env.UseHome(m_box.Path());
        EnsureQtApplication();
    }

    Sandbox m_box;
    EnvGuard m_env;
};

TEST_F(AboutDialogTest, ShowsIconNameAndOkAtTemplatePlaces) {
    CAboutDlg dlg;
    dlg.show();
    QApplication::processEvents();
    EXPECT_EQ(dlg.size(), QSize(298, 109));
    EXPECT_TRUE(dlg.windowTitle().startsWith("Quellbridger"));
    EXPECT_EQ(dlg.m_btnOk->geometry(), QRect(198, 72, 88, 25));
    EXPECT_TRUE(dlg.m_btnOk->isDefault());
    EXPECT_EQ(dlg.m_stVersion->geometry(), QRect(74, 25, 200, 14));
    EXPECT_EQ(dlg.m_stVersion->text(), "Quellbridger, Version 1.0");
    EXPECT_FALSE(dlg.m_stCopyright->text().isEmpty());
    // The lines must fit their boxes in this font, which is wider than the template's.
    for (QLabel* line : {dlg.m_stVersion, dlg.m_stCopyright}) {
        EXPECT_LE(line->fontMetrics().horizontalAdvance(line->text()), line->width())
            << line->text().toStdString();
    }
    EXPECT_EQ(dlg.m_stIcon->pos(), QPoint(25, 25));
    ASSERT_FALSE(dlg.m_stIcon->pixmap().isNull()) << "program icon from the resources";
    EXPECT_EQ(dlg.m_stIcon->pixmap().size(), QSize(32, 32));
}

TEST_F(AboutDialogTest, OkEscapeAndCloseBoxEndIt) {
    {
        CAboutDlg dlg;
        dlg.show();
        dlg.m_btnOk->click();
        EXPECT_FALSE(dlg.isVisible());
        EXPECT_EQ(dlg.result(), QDialog::Accepted);
    }
    {
        CAboutDlg dlg;
        dlg.show();
        QKeyEvent enter(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
        QApplication::sendEvent(&dlg, &enter);
        EXPECT_FALSE(dlg.isVisible());
        EXPECT_EQ(dlg.result(), QDialog::Accepted);
    }
    {
        CAboutDlg dlg;
        dlg.show();
        QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
        QApplication::sendEvent(&dlg, &escape);
        EXPECT_FALSE(dlg.isVisible());
        EXPECT_EQ(dlg.result(), QDialog::Rejected);
    }
    {
        CAboutDlg dlg;
        dlg.show();
        EXPECT_TRUE(dlg.close());
        EXPECT_FALSE(dlg.isVisible());
        EXPECT_EQ(dlg.result(), QDialog::Rejected);
    }
}

}  // namespace
