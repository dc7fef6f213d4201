// What the installer core needs from a front end: the window's dialog and the command line
// each implement it. Controls are named by their ids (core/control_ids.h), messages by their
// string-table ids (platform/message_id.h).
// Thread: the front end's thread; the core calls the view only from there.
#pragma once

#include <string>

#include "core/install_folder.h"

class IPrerequisiteWarningDialog;

class IInstallerView {
public:
    virtual ~IInstallerView() = default;

    virtual std::string GetItemText(int control) const = 0;
    virtual void SetItemText(int control, const std::string& text) = 0;
    virtual void EnableItem(int control, bool enable) = 0;
    // Position of a progress bar, 0 to 100.
    virtual void SetBarPos(int control, int percent) = 0;
    // Shows text (the formatted message messageId, or 0 for a text the worker chose) with the
    // buttons of type and returns the answer as IUserPrompt::MessageBox does.
    virtual int ShowMessage(int messageId, const std::string& text, unsigned type) = 0;

    // Runs the folder browser; a view without one returns Cancelled.
    virtual BrowseResult BrowseForFolder(const std::string& initialFolder,
                                         const std::string& totalSizeText, std::string& path) = 0;
    // The warning shown when a runtime package is missing; a view without one returns null.
    virtual IPrerequisiteWarningDialog* PrerequisiteDialog() = 0;

    // Calls the core's OnTimer(timerId) every periodMs until KillTimer.
    virtual void SetTimer(int timerId, unsigned periodMs) = 0;
    virtual void KillTimer(int timerId) = 0;
    // Hands the core every worker record queued so far, oldest first.
    virtual void TakeQueuedRecords() = 0;
    // Ends the front end (the dialog's IDCANCEL).
    virtual void EndView() = 0;
};
