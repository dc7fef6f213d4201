#include "installer/installer_dialogs.h"

#include "ui/about_dlg.h"
#include "ui/folder_browser_dlg.h"
#include "ui/prerequisite_warning.h"

BrowseResult RunFolderBrowser(QWidget* parent, const std::string& initialFolder,
                              const std::string& totalSizeText, std::string& path) {
    std::string chosen;
    if (!CFolderBrowserDlg::Browse(parent, initialFolder, totalSizeText, chosen)) {
        return BrowseResult::Cancelled;
    }
    if (chosen.empty()) {
        return BrowseResult::NoFileSystemPath;
    }
    path = chosen;
    return BrowseResult::Chosen;
}

void ShowAboutBox(QWidget* parent) {
    CAboutDlg dlg(parent);
    dlg.exec();
}

std::unique_ptr<IPrerequisiteWarningDialog> CreatePrerequisiteWarningDialog(QWidget* parent) {
    return std::make_unique<CPrerequisiteWarning>(parent);
}
