// The small modal dialogs the main window opens: folder browser, about box, prerequisite
// warning. Thread: the user-interface thread; parents are borrowed.
#pragma once

#include <memory>
#include <string>

#include "core/install_folder.h"

class QWidget;
class IPrerequisiteWarningDialog;

// Runs the folder browser modally on initialFolder; the text line shows the space needed.
BrowseResult RunFolderBrowser(QWidget* parent, const std::string& initialFolder,
                              const std::string& totalSizeText, std::string& path);

// Runs the about box modally.
void ShowAboutBox(QWidget* parent);

// The warning dialog with the support links, shown when a runtime package is missing.
std::unique_ptr<IPrerequisiteWarningDialog> CreatePrerequisiteWarningDialog(QWidget* parent);
