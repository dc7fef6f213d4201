// The parts of the system the installer core reaches: clock, disk, settings store, list fetch,
// shell and processes. System() gives the real ones; tests replace single members.
// Thread: the front end's thread.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <functional>
#include <string>

#include "download/http_timeouts.h"
#include "platform/process_start.h"

class CFileList;
class IUserPrompt;
class IWorkerSystem;

// The window's download settings sit in the publisher's key beside the program's own, which
// completion deletes together with the remembered folder. "AutoRetry" = "1" turns automatic
// retry on; "Jobs" = 1 .. CDownloadThread::MAX_JOBS sets the files fetched at once.
constexpr const char* PUBLISHER_SETTINGS_KEY = "SOFTWARE\\HOLLOWMERE WORKS";
constexpr const char* AUTO_RETRY_VALUE = "AutoRetry";
constexpr const char* TRANSFER_JOBS_VALUE = "Jobs";

struct InstallerServices {
    // The wrapping millisecond clock.
    std::function<uint32_t()> now;
    // Bytes free for this user on the file system of path.
    std::function<uint64_t(const std::string& path)> freeSpace;
    // Bytes of the list not yet on disk below folder (each file's size less what is there).
    std::function<uint64_t(const CFileList& list, const std::string& folder)> missingBytes;
    // The body of the file list at url; 0 or the HTTP status or libcurl code, with what failed
    // in words in detail.
    std::function<uint32_t(const std::string& url, std::string& text, const HttpTimeouts&,
                           std::string& detail)>
        fetchList;

    // Install folder: entries in a folder (CountFolderEntries), whether a file exists, and
    // the remembered folder in the settings store.
    std::function<long(const std::string& path)> countFolderEntries;
    std::function<bool(const std::string& path)> fileExists;
    std::function<bool(std::string& path)> loadSavedFolder;
    std::function<void(const std::string& path)> saveFolder;
    std::function<void()> forgetFolder;
    // The folder proposed at session start (may ask question 123 through prompt).
    std::function<std::string(IUserPrompt& prompt)> proposeFolder;

    // Completion.
    std::function<bool()> vcRuntimeInstalled;
    std::function<bool()> directXRuntimeInstalled;
    std::function<bool(const std::string& launcher)> createStartMenuShortcut;
    std::function<bool(const std::string& launcher)> createDesktopShortcut;
    // Starts the launcher in folder; 0 and its pid, or an errno-style code.
    std::function<int(const std::string& launcher, const std::string& folder, pid_t& pid)>
        startLauncher;
    std::function<ProcessRunState(pid_t pid)> launcherState;

    // Whether the worker retries failures that may pass, read when the worker is made (the
    // settings store's AUTO_RETRY_VALUE); unset for never.
    std::function<bool()> autoRetry;
    // Files transferred at once, read when the worker is made (the settings store's
    // TRANSFER_JOBS_VALUE, else CDownloadThread::DEFAULT_JOBS); unset for one at a time.
    std::function<int()> transferJobs;

    // The download worker's clock, free space, flush and waits; null for the real ones.
    IWorkerSystem* workerSystem = nullptr;

    static InstallerServices System();
};
