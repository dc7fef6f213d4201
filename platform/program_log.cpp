#include "platform/program_log.h"

#include <cstdio>
#include <filesystem>
#include <string>
#include <system_error>

#include "platform/log.h"
#include "platform/shell_folder.h"

void InitProgramLog() {
    std::string base;
    GetShellFolderPath(SHELL_FOLDER_APPDATA, base);
    const std::string folder = base + "/Quellbridger";
    std::snprintf(g_Log.m_szFolder, sizeof g_Log.m_szFolder, "%s", folder.c_str());
    // Unlike a roaming profile folder, the state folder may not exist yet on a new system.
    std::error_code ignored;
    std::filesystem::create_directories(g_Log.m_szFolder, ignored);
    std::snprintf(g_Log.m_szName, sizeof g_Log.m_szName, "%s", "Quellbridger");
    g_Log.m_nFileMode = LOG_FILE_DAILY;
    g_Log.m_nFolderMode = LOG_FOLDER_FLAT;
    g_Log.Print(LOG_INFO, "%s", "");
    g_Log.m_bDecorate = true;
    g_Log.Print(LOG_INFO, "log initialize success");
}
