#include "platform/prerequisite.h"

#include <dirent.h>
#include <strings.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdlib>

#include "platform/log.h"
#include "platform/message_id.h"
#include "platform/shell_folder.h"

namespace {

constexpr const char* VC_RUNTIME_PROBE = "vcomp140.dll";
constexpr const char* DIRECTX_PROBE = "d3dx9_31.dll";

// Windows finds "VCOMP140.DLL" under any spelling, and so does Wine in its prefix.
bool FileExistsNoCase(const std::string& folder, const char* name) {
    struct stat st {};
    if (::stat((folder + "/" + name).c_str(), &st) == 0) {
        return true;
    }
    DIR* dir = ::opendir(folder.c_str());
    if (dir == nullptr) {
        return false;
    }
    bool found = false;
    while (const dirent* entry = ::readdir(dir)) {
        if (::strcasecmp(entry->d_name, name) == 0 &&
            ::stat((folder + "/" + entry->d_name).c_str(), &st) == 0) {
            found = true;
            break;
        }
    }
    ::closedir(dir);
    return found;
}

bool IsProbeFilePresent(const char* probe) {
    // The switch keeps a 32-bit process from being shown another system folder; it cannot
    // fail here, but a failure would count as a missing package.
    void* oldValue = nullptr;
    if (!Wow64DisableWow64FsRedirection(&oldValue)) {
        g_Log.Print(LOG_ERROR, "Wow64DisableWow64FsRedirection failed - (%ld)",
                    static_cast<long>(errno));
        return false;
    }
    std::string folder;
    const bool present = GetPrerequisiteSystemFolder(folder) && FileExistsNoCase(folder, probe);
    if (!Wow64RevertWow64FsRedirection(oldValue)) {
        g_Log.Print(LOG_ERROR, "Wow64RevertWow64FsRedirection failed - (%ld)",
                    static_cast<long>(errno));
    }
    return present;
}

}  // namespace

bool GetPrerequisiteSystemFolder(std::string& folder) {
    std::string prefix;
    const char* wine = std::getenv("WINEPREFIX");
    if (wine != nullptr && wine[0] != '\0') {
        // Wine itself refuses a relative prefix, so the game could not run from it either.
        if (wine[0] != '/') {
            return false;
        }
        prefix = wine;
    } else {
        const char* home = std::getenv("HOME");
        if (home == nullptr || home[0] != '/') {
            return false;
        }
        prefix = std::string(home) + "/.wine";
    }
    while (prefix.size() > 1 && prefix.back() == '/') {
        prefix.pop_back();
    }
    folder = prefix + "/drive_c/windows/system32";
    return true;
}

bool IsVcRuntimeInstalled() {
    return IsProbeFilePresent(VC_RUNTIME_PROBE);
}

bool IsDirectXRuntimeInstalled() {
    return IsProbeFilePresent(DIRECTX_PROBE);
}

void ShowPrerequisiteWarning(bool bVcRuntimeInstalled, bool bDirectXInstalled,
                             IPrerequisiteWarningDialog& dialog) {
    if (bVcRuntimeInstalled && bDirectXInstalled) {
        return;
    }
    bool bRedistMissing = false;
    bool bDirectXMissing = false;
    if (!bVcRuntimeInstalled) {
        bRedistMissing = true;
        g_Log.Print(LOG_INFO, "Visual C++ Redistributable is not installed");
    }
    if (!bDirectXInstalled) {
        bDirectXMissing = true;
        g_Log.Print(LOG_INFO, "DirectX Runtime is not installed");
    }
    dialog.DoModal(FormatMessageText(IDS_PREREQUISITE_MISSING), bRedistMissing, bDirectXMissing);
}
