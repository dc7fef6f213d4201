// A view, a clock, a disk, a settings store and a shell made up for the installer core's
// tests: what the core shows is recorded, what it asks is answered from a script.
// Thread: the test's thread.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "core/installer_services.h"
#include "core/installer_view.h"
#include "platform/prerequisite.h"

struct ShownMessage {
    int id;
    std::string text;
    unsigned type;
    bool operator==(const ShownMessage&) const = default;
};
std::ostream& operator<<(std::ostream& out, const ShownMessage& message);

// The message id formatted as the core would show it.
ShownMessage Message(int id, unsigned type);

class FakeView : public IInstallerView, public IPrerequisiteWarningDialog {
public:
    std::string GetItemText(int control) const override;
    void SetItemText(int control, const std::string& text) override { texts[control] = text; }
    void EnableItem(int control, bool enable) override { enabled[control] = enable; }
    void SetBarPos(int control, int percent) override { bars[control] = percent; }
    int ShowMessage(int messageId, const std::string& text, unsigned type) override;
    BrowseResult BrowseForFolder(const std::string& initialFolder, const std::string& totalSizeText,
                                 std::string& path) override;
    IPrerequisiteWarningDialog* PrerequisiteDialog() override { return this; }
    void SetTimer(int timerId, unsigned) override { timers.insert(timerId); }
    void KillTimer(int timerId) override { timers.erase(timerId); }
    void TakeQueuedRecords() override {
        if (takeQueued) {
            takeQueued();
        }
    }
    void EndView() override { ++ended; }

    void DoModal(const std::string&, bool redistMissing, bool directXMissing) override {
        warnings.push_back({redistMissing, directXMissing});
    }

    // Enabled state of control; controls never switched count as enabled.
    bool IsEnabled(int control) const;

    std::map<int, std::string> texts;
    std::map<int, bool> enabled;
    std::map<int, int> bars;
    std::vector<ShownMessage> messages;
    std::deque<int> answers;  // for Yes/No questions, in order
    std::set<int> timers;
    int ended = 0;
    std::vector<std::pair<bool, bool>> warnings;
    std::function<void()> takeQueued;
    BrowseResult browseResult = BrowseResult::Cancelled;
    std::string browseChoice;
};

// The system as the core sees it, every part in plain fields.
struct FakeSystem {
    uint32_t now = 0;
    std::map<std::string, uint64_t> freeBytes;  // by folder; 0 for any other
    std::map<std::string, long> folderEntries;  // by folder; 0 (missing) for any other
    std::set<std::string> files;                // paths that exist
    uint64_t presentBytes = 0;                  // of the list's files, already on disk
    std::optional<std::string> savedFolder;
    std::vector<std::string> savedFolders;  // every save, in order
    int forgotten = 0;
    std::string proposedFolder = "/games/Talvermoor";
    // The list server: the code to answer with, else the body.
    uint32_t fetchCode = 0;
    std::string listText;
    std::vector<std::string> fetchedUrls;
    bool vcRuntime = true;
    bool directX = true;
    bool startMenuShortcut = true;
    bool desktopShortcut = true;
    std::vector<std::string> shortcuts;
    int launcherError = 0;
    std::vector<std::string> launched;  // "launcher in folder"
    std::deque<ProcessRunState> launcherStates;
    bool autoRetry = false;
    int transferJobs = 1;

    // Services reading and writing the fields above; the object must outlive them.
    InstallerServices Services();
};
