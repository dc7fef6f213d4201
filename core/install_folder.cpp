#include "core/install_folder.h"

#include <dirent.h>
#include <sys/stat.h>

#include <cerrno>

#include "platform/disk.h"
#include "platform/log.h"
#include "platform/message_id.h"
#include "platform/settings_key.h"
#include "platform/shell_folder.h"
#include "platform/text_format.h"

namespace {

bool PathExists(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0;
}

// The folder shown, unless it is the default one that does not exist yet; then the nearest
// sensible place to make it.
std::string GetBrowseStartFolder(const std::string& current) {
    const std::string defaultFolder = GetDefaultInstallFolder();
    if (current != defaultFolder) {
        return current;
    }
    if (PathExists(defaultFolder)) {
        return defaultFolder;
    }
    std::string programFiles;
    if (GetShellFolderPath(SHELL_FOLDER_PROGRAM_FILES, programFiles)) {
        return programFiles;
    }
    return std::string(FALLBACK_BROWSE_FOLDER);
}

}  // namespace

std::string GetDefaultInstallFolder() {
    std::string programFiles;
    if (!GetShellFolderPath(SHELL_FOLDER_PROGRAM_FILES, programFiles)) {
        return FALLBACK_INSTALL_FOLDER;
    }
    return programFiles + "/HOLLOWMERE WORKS/Talvermoor";
}

std::string LoadInstallFolder(IUserPrompt& prompt) {
    const std::string defaultFolder = GetDefaultInstallFolder();
    CSettingsKey key;
    if (key.Open(INSTALL_FOLDER_KEY) != 0) {
        return defaultFolder;  // first run: nothing remembered, nothing to log
    }
    std::string stored;
    const long result = key.QueryStringValue(INSTALL_PATH_VALUE, stored);
    if (result != 0) {
        g_Log.Print(LOG_ERROR, "registry get value is failed - check path (%ld)", result);
    }
    key.Close();

    if (result != 0 || stored == defaultFolder || !PathExists(stored)) {
        return defaultFolder;
    }
    const std::string question = FormatMessageText(IDS_REMEMBERED_FOLDER_QUESTION, stored.c_str());
    return prompt.ShowMessage(IDS_REMEMBERED_FOLDER_QUESTION, question, MB_YESNO) == IDYES
               ? stored
               : defaultFolder;
}

bool GetSavedInstallFolder(std::string& path) {
    CSettingsKey key;
    if (key.Open(INSTALL_FOLDER_KEY) != 0) {
        return false;
    }
    std::string stored;
    const long result = key.QueryStringValue(INSTALL_PATH_VALUE, stored);
    if (result != 0) {
        g_Log.Print(LOG_ERROR, "registry get value is failed - get path (%ld)", result);
        return false;
    }
    path = stored;
    return true;
}

long CountFolderEntries(const std::string& path) {
    DIR* dir = ::opendir(path.c_str());
    if (dir == nullptr) {
        return errno == ENOENT ? 0 : -1;
    }
    long count = 0;
    while (const dirent* entry = ::readdir(dir)) {
        const std::string name = entry->d_name;
        if (name != "." && name != "..") {
            ++count;
        }
    }
    ::closedir(dir);
    return count;
}

bool IsInstallFolderUsable(const std::string& path) {
    const long count = CountFolderEntries(path);
    std::string stored;
    const bool saved = GetSavedInstallFolder(stored);
    return IsInstallFolderUsable(path, count, saved ? &stored : nullptr);
}

bool IsInstallFolderUsable(const std::string& path, long entryCount,
                           const std::string* savedFolder) {
    // A folder that exists but cannot be listed (-1) may hold files the download would
    // overwrite, so it is not taken for an empty one.
    if (savedFolder != nullptr && path == *savedFolder) {
        return true;
    }
    return entryCount == 0;
}

void SaveInstallFolder(const std::string& path) {
    CSettingsKey key;
    if (key.Open(INSTALL_FOLDER_KEY) != 0) {
        if (const long result = key.Create(INSTALL_FOLDER_KEY); result != 0) {
            g_Log.Print(LOG_ERROR, "registry create is failed - (%ld)", result);
            return;
        }
    }
    if (const long result = key.SetStringValue(INSTALL_PATH_VALUE, path); result != 0) {
        g_Log.Print(LOG_ERROR, "registry set value is failed - (%ld)", result);
    }
    key.Close();
}

void DeleteInstallFolderKey() {
    CSettingsKey parent;
    if (const long result = parent.Open(INSTALL_FOLDER_PARENT_KEY); result != 0) {
        g_Log.Print(LOG_ERROR, "registry open is failed - (%ld)", result);
        return;
    }
    if (const long result = parent.RecurseDeleteKey(INSTALL_FOLDER_SUBKEY); result != 0) {
        g_Log.Print(LOG_ERROR, "registry recursive delete key is failed - (%ld)", result);
    }
    parent.Close();
}

void OnChangeFolder(IInstallFolderHost& host, uint64_t totalSize, const FreeSpaceQuery& freeSpace) {
    const std::string current = host.GetInstallFolderText();
    const std::string initial = GetBrowseStartFolder(current);

    std::string chosen;
    switch (host.BrowseForFolder(initial, FormatSizeText(totalSize), chosen)) {
        case BrowseResult::Cancelled:
            host.SetInstallFolderText(current);
            return;
        case BrowseResult::NoFileSystemPath:
            host.ShowMessage(IDS_INVALID_FOLDER, FormatMessageText(IDS_INVALID_FOLDER), MB_OK);
            return;
        case BrowseResult::Chosen:
            host.SetInstallFolderText(chosen);
            host.SetFreeSpaceText(
                FormatSizeText(freeSpace ? freeSpace(chosen) : GetDiskFreeSize(chosen.c_str())));
            host.SetWorkerInstallFolder(chosen);
            return;
    }
}
