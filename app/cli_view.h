// The command line as a view of the installer core: labels are kept for the progress line,
// messages go to standard error, questions are never asked (the answer is No).
// Thread: the program's main thread.
#pragma once

#include <map>
#include <string>

#include "core/installer_view.h"

class CCliView : public IInstallerView {
public:
    std::string GetItemText(int control) const override;
    void SetItemText(int control, const std::string& text) override;
    void EnableItem(int, bool) override {}
    void SetBarPos(int, int) override {}
    int ShowMessage(int messageId, const std::string& text, unsigned type) override;
    BrowseResult BrowseForFolder(const std::string&, const std::string&, std::string&) override {
        return BrowseResult::Cancelled;
    }
    IPrerequisiteWarningDialog* PrerequisiteDialog() override { return nullptr; }
    // The command line shows no clocks and runs one run; it takes its records itself.
    void SetTimer(int, unsigned) override {}
    void KillTimer(int) override {}
    void TakeQueuedRecords() override {}
    void EndView() override {}

    // The last message shown, 0 for none or a text of the worker's.
    int LastMessage() const { return m_nLastMessage; }

private:
    std::map<int, std::string> m_texts;
    int m_nLastMessage = 0;
};
