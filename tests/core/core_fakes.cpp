#include "core_fakes.h"

#include <gtest/gtest.h>

#include <ostream>

#include "core/user_prompt.h"
#include "download/file_list.h"
#include "platform/string_table.h"

std::ostream& operator<<(std::ostream& out, const ShownMessage& message) {
    return out << "{" << message.id << ", \"" << message.text << "\", " << message.type << "}";
}

ShownMessage Message(int id, unsigned type) {
    return {id, LoadFormatString(id), type};
}

std::string FakeView::GetItemText(int control) const {
    const auto it = texts.find(control);
    return it == texts.end() ? std::string() : it->second;
}

bool FakeView::IsEnabled(int control) const {
    const auto it = enabled.find(control);
    return it == enabled.end() || it->second;
}

int FakeView::ShowMessage(int messageId, const std::string& text, unsigned type) {
    messages.push_back({messageId, text, type});
    if ((type & 0xF) != MB_YESNO) {
        return IDOK;
    }
    if (answers.empty()) {
        ADD_FAILURE() << "unexpected question: " << text;
        return IDNO;
    }
    const int answer = answers.front();
    answers.pop_front();
    return answer;
}

BrowseResult FakeView::BrowseForFolder(const std::string&, const std::string&, std::string& path) {
    if (browseResult == BrowseResult::Chosen) {
        path = browseChoice;
    }
    return browseResult;
}

InstallerServices FakeSystem::Services() {
    InstallerServices s;
    s.now = [this] { return now; };
    s.autoRetry = [this] { return autoRetry; };
    s.transferJobs = [this] { return transferJobs; };
    s.freeSpace = [this](const std::string& path) {
        const auto it = freeBytes.find(path);
        return it == freeBytes.end() ? uint64_t{0} : it->second;
    };
    s.missingBytes = [this](const CFileList& list, const std::string&) {
        uint64_t sum = 0;
        for (const FileEntry& entry : list.FileList) {
            sum += entry.Size;
        }
        return sum > presentBytes ? sum - presentBytes : 0;
    };
    s.fetchList = [this](const std::string& url, std::string& text, const HttpTimeouts&,
                         std::string&) {
        fetchedUrls.push_back(url);
        if (fetchCode == 0) {
            text = listText;
        }
        return fetchCode;
    };
    s.countFolderEntries = [this](const std::string& path) {
        const auto it = folderEntries.find(path);
        return it == folderEntries.end() ? 0L : it->second;
    };
    s.fileExists = [this](const std::string& path) { return files.count(path) != 0; };
    s.loadSavedFolder = [this](std::string& path) {
        if (savedFolder) {
            path = *savedFolder;
        }
        return savedFolder.has_value();
    };
    s.saveFolder = [this](const std::string& path) {
        savedFolder = path;
        savedFolders.push_back(path);
    };
    s.forgetFolder = [this] {
        savedFolder.reset();
        ++forgotten;
    };
    s.proposeFolder = [this](IUserPrompt&) { return proposedFolder; };
    s.vcRuntimeInstalled = [this] { return vcRuntime; };
    s.directXRuntimeInstalled = [this] { return directX; };
    s.createStartMenuShortcut = [this](const std::string& launcher) {
        shortcuts.push_back("menu " + launcher);
        return startMenuShortcut;
    };
    s.createDesktopShortcut = [this](const std::string& launcher) {
        shortcuts.push_back("desktop " + launcher);
        return desktopShortcut;
    };
    s.startLauncher = [this](const std::string& launcher, const std::string& folder, pid_t& pid) {
        launched.push_back(launcher + " in " + folder);
        if (launcherError == 0) {
            pid = 4242;
        }
        return launcherError;
    };
    s.launcherState = [this](pid_t) {
        if (launcherStates.empty()) {
            return ProcessRunState::Busy;
        }
        const ProcessRunState state = launcherStates.front();
        launcherStates.pop_front();
        return state;
    };
    return s;
}
