// Known folders and system tests (Windows shell names kept; answered from the XDG folders).
// Thread: any; stateless, reads only the environment and the user-dirs file.
#pragma once

#include <cstdint>
#include <string>

enum : uint16_t {
    SHELL_FOLDER_DESKTOP = 0,          // XDG desktop folder, else $HOME/Desktop
    SHELL_FOLDER_PROGRAM_FILES = 1,    // $HOME/Games
    SHELL_FOLDER_APPDATA = 2,          // $XDG_STATE_HOME, else $HOME/.local/state
    SHELL_FOLDER_COMMON_PROGRAMS = 3,  // $XDG_DATA_HOME/applications, else under $HOME
};

// True and the folder (absolute, no trailing '/') in path; false with path unchanged when the
// folder cannot be determined (unknown kind, no usable HOME). The folder need not exist.
bool GetShellFolderPath(uint16_t kind, std::string& path);

// The system is always new enough for the modern folder queries.
bool IsVistaOrLater();

// There is no 32-bit-on-64-bit layer: always false.
bool IsWow64();

// The file-system redirection switch of 32-bit processes: nothing to switch, so both calls
// succeed and change nothing. oldValue may be null.
bool Wow64DisableWow64FsRedirection(void** oldValue);
bool Wow64RevertWow64FsRedirection(void* oldValue);

// The value of XDG_DESKTOP_DIR in the text of a user-dirs.dirs file, with "$HOME" expanded
// to home; false when the file does not set it to a usable absolute path.
bool ParseUserDirsDesktop(const std::string& text, const std::string& home, std::string& path);
