// Choosing, testing and remembering the install folder. Thread: the front end's thread.
// The functions keep no state; the session owns the labels and the worker they touch and
// reaches them through IInstallFolderHost.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "core/user_prompt.h"

// Where the unfinished download's folder is remembered.
constexpr const char* INSTALL_FOLDER_KEY = "SOFTWARE\\HOLLOWMERE WORKS\\Quellbridger";
constexpr const char* INSTALL_FOLDER_PARENT_KEY = "SOFTWARE\\HOLLOWMERE WORKS";
constexpr const char* INSTALL_FOLDER_SUBKEY = "Quellbridger";
constexpr const char* INSTALL_PATH_VALUE = "InstallPath";
// Used when the program-files folder is unknown.
constexpr const char* FALLBACK_INSTALL_FOLDER = "/opt/HOLLOWMERE WORKS/Talvermoor";
// Where the folder browser starts when even the program-files folder is unknown.
constexpr const char* FALLBACK_BROWSE_FOLDER = "/";

enum class BrowseResult {
    Cancelled,         // the browser was closed without a choice
    Chosen,            // path holds the chosen folder
    NoFileSystemPath,  // the chosen item is not a folder on disk
};

// What the folder choice needs from its front end; the session answers through its view.
class IInstallFolderHost : public IUserPrompt {
public:
    // Text of the path label 1029, the one source of the install folder.
    virtual std::string GetInstallFolderText() = 0;
    virtual void SetInstallFolderText(const std::string& path) = 0;
    // Text of the free-space label 1027.
    virtual void SetFreeSpaceText(const std::string& text) = 0;
    // Copies the folder into the download worker (SetInstallFolder); never called while
    // a download runs, as the change button is disabled then.
    virtual void SetWorkerInstallFolder(const std::string& path) = 0;
    // Runs the folder browser (CFolderBrowserDlg) modally, opening on initialFolder and
    // showing totalSizeText as the space needed.
    virtual BrowseResult BrowseForFolder(const std::string& initialFolder,
                                         const std::string& totalSizeText, std::string& path) = 0;
};

// The program-files folder joined with "HOLLOWMERE WORKS/Talvermoor", else the fallback.
std::string GetDefaultInstallFolder();

// The folder to propose at start: the remembered one if it still exists, is not the default
// and the user accepts it (question 123), else the default.
std::string LoadInstallFolder(IUserPrompt& prompt);

// True and the remembered folder in path when "InstallPath" could be read.
bool GetSavedInstallFolder(std::string& path);

// A folder may take the download when it is empty or missing, or when it is exactly the
// remembered folder (its partial files are resumed).
bool IsInstallFolderUsable(const std::string& path);
// The same rule on facts already gathered: entryCount as CountFolderEntries gives it, savedFolder
// null when nothing is remembered.
bool IsInstallFolderUsable(const std::string& path, long entryCount,
                           const std::string* savedFolder);

// Remembers path as the unfinished download's folder; failures are only logged.
void SaveInstallFolder(const std::string& path);

// Forgets the remembered folder by deleting the program's key; its parent stays.
void DeleteInstallFolderKey();

// The change-folder button: runs the browser and, on a choice, updates the labels and the
// worker's folder. totalSize is the file list's total size, shown as the space needed.
// freeSpace answers for the chosen folder (GetDiskFreeSize unless given).
using FreeSpaceQuery = std::function<uint64_t(const std::string& path)>;
void OnChangeFolder(IInstallFolderHost& host, uint64_t totalSize,
                    const FreeSpaceQuery& freeSpace = {});

// Entries in folder other than "." and "..", hidden ones included; 0 when the folder does
// not exist, -1 when it exists (or a part of the path does) but cannot be listed.
long CountFolderEntries(const std::string& path);
