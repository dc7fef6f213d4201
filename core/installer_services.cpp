#include "core/installer_services.h"

#include <sys/stat.h>

#include "core/install_folder.h"
#include "download/download_thread.h"
#include "download/list_fetch.h"
#include "download/missing_bytes.h"
#include "platform/clock.h"
#include "platform/disk.h"
#include "platform/launch_command.h"
#include "platform/log.h"
#include "platform/prerequisite.h"
#include "platform/settings_key.h"
#include "platform/shortcut.h"

namespace {

int StartLauncher(const std::string& launcher, const std::string& folder, pid_t& pid) {
    LaunchCommand command;
    int error = GetLaunchCommand(launcher, command);
    if (error == 0 && command.kind == LaunchKind::NativeProgram) {
        error = EnsureOwnerExecutable(launcher);
    }
    if (error == 0) {
        error = StartProcess(command.argv, folder, pid);
    }
    return error;
}

// A value of the publisher's key without the line break "echo 1 > ..." leaves; false when it
// is absent or unreadable.
bool ReadPublisherValue(const char* name, std::string& value) {
    CSettingsKey key;
    if (key.Open(PUBLISHER_SETTINGS_KEY) != 0 || key.QueryStringValue(name, value) != 0) {
        return false;
    }
    while (!value.empty() &&
           (value.back() == '\n' || value.back() == '\r' || value.back() == ' ')) {
        value.pop_back();
    }
    return true;
}

bool ReadAutoRetry() {
    std::string value;
    return ReadPublisherValue(AUTO_RETRY_VALUE, value) && value == "1";
}

int ReadTransferJobs() {
    std::string value;
    if (!ReadPublisherValue(TRANSFER_JOBS_VALUE, value)) {
        return CDownloadThread::DEFAULT_JOBS;
    }
    int jobs = 0;
    if (!CDownloadThread::ParseJobs(value, jobs)) {
        g_Log.Print(LOG_WARNING, "ignored setting %s - %s", TRANSFER_JOBS_VALUE, value.c_str());
        return CDownloadThread::DEFAULT_JOBS;
    }
    return jobs;
}

}  // namespace

InstallerServices InstallerServices::System() {
    InstallerServices s;
    s.now = TimeGetTime;
    s.freeSpace = [](const std::string& path) { return GetDiskFreeSize(path.c_str()); };
    s.missingBytes = [](const CFileList& list, const std::string& folder) {
        return MissingBytes(list, folder);
    };
    s.fetchList = [](const std::string& url, std::string& text, const HttpTimeouts& timeouts,
                     std::string& detail) {
        return DownloadFileListText(url, text, timeouts, nullptr, &detail);
    };
    s.countFolderEntries = CountFolderEntries;
    s.autoRetry = ReadAutoRetry;
    s.transferJobs = ReadTransferJobs;
    s.fileExists = [](const std::string& path) {
        struct stat st {};
        return ::lstat(path.c_str(), &st) == 0;
    };
    s.loadSavedFolder = GetSavedInstallFolder;
    s.saveFolder = SaveInstallFolder;
    s.forgetFolder = DeleteInstallFolderKey;
    s.proposeFolder = [](IUserPrompt& prompt) { return LoadInstallFolder(prompt); };
    s.vcRuntimeInstalled = IsVcRuntimeInstalled;
    s.directXRuntimeInstalled = IsDirectXRuntimeInstalled;
    s.createStartMenuShortcut = [](const std::string& launcher) {
        return CreateStartMenuShortcut(launcher.c_str(), launcher.c_str());
    };
    s.createDesktopShortcut = [](const std::string& launcher) {
        return CreateDesktopShortcut(launcher.c_str(), launcher.c_str());
    };
    s.startLauncher = StartLauncher;
    s.launcherState = GetProcessRunState;
    return s;
}
