// The folder browser: where it opens, its text line, new folders and its outcomes.
#include <gtest/gtest.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <QPushButton>
#include <QThread>
#include <QTimer>
#include <QTreeView>
#include <filesystem>

#include "platform/disk.h"
#include "platform/string_table.h"
#include "platform/text_format.h"
#include "support/env_guard.h"
#include "support/qt/qt_application.h"
#include "support/sandbox.h"
#include "ui/folder_browser_dlg.h"

namespace {

namespace fs = std::filesystem;

std::string Line(const std::string& path) {
    return LoadFormatString(103, "1.50 GB", FormatSizeText(GetDiskFreeSize(path.c_str())).c_str());
}

class FolderBrowserDialogTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_env.UseHome(m_box.Path());  // Qt and fontconfig read and cache below HOME
        EnsureQtApplication();
        fs::create_directories(m_box.Path() / "Games/Talvermoor");
        m_initial = (m_box.Path() / "Games/Talvermoor").string();
    }

    Sandbox m_box;
    EnvGuard m_env;
    std::string m_initial;
};

TEST_F(FolderBrowserDialogTest, OpensOnTheInitialFolderWithItsTextLine) {
    CFolderBrowserDlg dlg(m_initial, "1.50 GB");
    EXPECT_EQ(dlg.GetSelectedPath(), m_initial);
    EXPECT_EQ(dlg.GetStatusText().toStdString(), Line(m_initial));
    EXPECT_TRUE(dlg.m_btnOk->isEnabled());
    EXPECT_TRUE(dlg.m_btnNewFolder->isEnabled());

    // A folder that does not exist yet opens on its nearest existing parent.
    CFolderBrowserDlg later((m_box.Path() / "Games/HOLLOWMERE WORKS/Talvermoor").string(),
                            "1.50 GB");
    EXPECT_EQ(later.GetSelectedPath(), (m_box.Path() / "Games").string());
}

TEST_F(FolderBrowserDialogTest, InitialFolderStaysInViewWhileTheTreeFillsIn) {
    CFolderBrowserDlg dlg(m_initial, "1.50 GB");
    dlg.resize(300, 200);  // a few rows only: the folder is far below the top
    dlg.show();
    const QModelIndex current = dlg.m_tree->currentIndex();
    // The model lists and sorts folders on its own thread; give it time to settle.
    QElapsedTimer waited;
    waited.start();
    while (waited.elapsed() < 1500) {
        QApplication::processEvents(QEventLoop::AllEvents, 10);
        QThread::msleep(5);
    }
    EXPECT_TRUE(dlg.m_tree->viewport()->rect().contains(dlg.m_tree->visualRect(current)))
        << "selection at y " << dlg.m_tree->visualRect(current).y();
    EXPECT_EQ(dlg.GetSelectedPath(), m_initial);
}

TEST_F(FolderBrowserDialogTest, TextLineFollowsEverySelection) {
    CFolderBrowserDlg dlg(m_initial, "1.50 GB");
    // A location without a drive of its own has no free space to show.
    dlg.OnSelectionChanged("//server/share");
    EXPECT_EQ(dlg.GetStatusText().toStdString(),
              "You need at least 1.50 GB free space to proceed.\nFree Space: 0 Bytes");
    // A selection without a local path keeps the line.
    dlg.OnSelectionChanged("");
    EXPECT_EQ(dlg.GetStatusText().toStdString(),
              "You need at least 1.50 GB free space to proceed.\nFree Space: 0 Bytes");
    ASSERT_TRUE(dlg.SetSelection(m_box.Path().string()));
    EXPECT_EQ(dlg.GetSelectedPath(), m_box.Path().string());
    EXPECT_EQ(dlg.GetStatusText().toStdString(), Line(m_box.Path().string()));
    EXPECT_FALSE(dlg.SetSelection((m_box.Path() / "missing").string()));
    EXPECT_EQ(dlg.GetSelectedPath(), m_box.Path().string());
}

TEST_F(FolderBrowserDialogTest, ShowsFoldersOnly) {
    fs::create_directories(m_box.Path() / "Games/Talvermoor/sub");
    m_box.Write("Games/Talvermoor/file.txt", "x");
    CFolderBrowserDlg dlg(m_initial, "1 Bytes");
    const QModelIndex folder = dlg.m_tree->currentIndex();
    // The model lists the folder's children on a thread of its own.
    dlg.m_tree->model()->fetchMore(folder);
    QElapsedTimer waited;
    waited.start();
    while (dlg.m_tree->model()->rowCount(folder) == 0 && waited.elapsed() < 10000) {
        QApplication::processEvents(QEventLoop::AllEvents, 10);
        QThread::msleep(5);
    }
    ASSERT_EQ(dlg.m_tree->model()->rowCount(folder), 1);
    EXPECT_EQ(dlg.m_tree->model()->index(0, 0, folder).data().toString(), "sub");
}

TEST_F(FolderBrowserDialogTest, MakesNumberedNewFolders) {
    CFolderBrowserDlg dlg(m_initial, "1.50 GB");
    ASSERT_TRUE(dlg.OnMakeNewFolder());
    EXPECT_EQ(dlg.GetSelectedPath(), m_initial + "/New folder");
    ASSERT_TRUE(dlg.SetSelection(m_initial));
    ASSERT_TRUE(dlg.OnMakeNewFolder());
    EXPECT_EQ(dlg.GetSelectedPath(), m_initial + "/New folder (2)");
    EXPECT_TRUE(fs::is_directory(m_initial + "/New folder"));
    EXPECT_TRUE(fs::is_directory(m_initial + "/New folder (2)"));
}

TEST_F(FolderBrowserDialogTest, BrowseReturnsTheChoiceOrNothing) {
    std::string path = "unchanged";
    QTimer::singleShot(0, [] {
        auto* dlg = qobject_cast<CFolderBrowserDlg*>(QApplication::activeModalWidget());
        ASSERT_NE(dlg, nullptr);
        dlg->m_btnCancel->click();
    });
    EXPECT_FALSE(CFolderBrowserDlg::Browse(nullptr, m_initial, "1.50 GB", path));
    EXPECT_EQ(path, "unchanged");

    const std::string target = m_box.Path().string();
    QTimer::singleShot(0, [target] {
        auto* dlg = qobject_cast<CFolderBrowserDlg*>(QApplication::activeModalWidget());
        ASSERT_NE(dlg, nullptr);
        dlg->SetSelection(target);
        dlg->m_btnOk->click();
    });
    EXPECT_TRUE(CFolderBrowserDlg::Browse(nullptr, m_initial, "1.50 GB", path));
    EXPECT_EQ(path, target);
}

}  // namespace
