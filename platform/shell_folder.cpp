#include "platform/shell_folder.h"

#include <cstdlib>
#include <fstream>
#include <sstream>

namespace {

std::string StripTrailingSlashes(std::string path) {
    while (path.size() > 1 && path.back() == '/') {
        path.pop_back();
    }
    return path;
}

// An environment variable holding an absolute path; relative values are ignored as the
// XDG base directory rules require.
bool GetAbsoluteEnv(const char* name, std::string& value) {
    const char* v = std::getenv(name);
    if (v == nullptr || v[0] != '/') {
        return false;
    }
    value = StripTrailingSlashes(v);
    return true;
}

// A HOME of "/" must not turn "$HOME/x" into "//x", which reads as a network share.
std::string Join(const std::string& folder, const std::string& name) {
    return folder.back() == '/' ? folder + name : folder + "/" + name;
}

bool ReadFile(const std::string& path, std::string& text) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        return false;
    }
    std::ostringstream buffer;
    buffer << in.rdbuf();
    text = buffer.str();
    return true;
}

bool GetDesktopFolder(std::string& path) {
    std::string home;
    const bool haveHome = GetAbsoluteEnv("HOME", home);
    std::string config;
    if (!GetAbsoluteEnv("XDG_CONFIG_HOME", config)) {
        if (!haveHome) {
            return false;
        }
        config = Join(home, ".config");
    }
    std::string text;
    if (ReadFile(Join(config, "user-dirs.dirs"), text) &&
        ParseUserDirsDesktop(text, haveHome ? home : std::string(), path)) {
        return true;
    }
    if (!haveHome) {
        return false;
    }
    path = Join(home, "Desktop");
    return true;
}

}  // namespace

bool ParseUserDirsDesktop(const std::string& text, const std::string& home, std::string& path) {
    static const std::string kKey = "XDG_DESKTOP_DIR";
    bool found = false;
    std::string result;
    std::istringstream lines(text);
    std::string line;
    // The file is shell syntax: the last assignment wins.
    while (std::getline(lines, line)) {
        size_t i = line.find_first_not_of(" \t");
        if (i == std::string::npos || line[i] == '#' || line.compare(i, kKey.size(), kKey) != 0) {
            continue;
        }
        i = line.find_first_not_of(" \t", i + kKey.size());
        if (i == std::string::npos || line[i] != '=') {
            continue;
        }
        i = line.find_first_not_of(" \t", i + 1);
        if (i == std::string::npos || line[i] != '"') {
            continue;
        }
        ++i;
        std::string value;
        if (line.compare(i, 5, "$HOME") == 0 &&
            (i + 5 == line.size() || line[i + 5] == '/' || line[i + 5] == '"')) {
            if (home.empty()) {
                continue;
            }
            value = home == "/" ? "" : home;
            i += 5;
        } else if (i >= line.size() || line[i] != '/') {
            continue;  // only $HOME-relative and absolute paths are allowed
        }
        bool closed = false;
        for (; i < line.size(); ++i) {
            if (line[i] == '"') {
                closed = true;
                break;
            }
            if (line[i] == '\\' && i + 1 < line.size()) {
                ++i;
            }
            value += line[i];
        }
        if (!closed) {
            continue;
        }
        result = value.empty() ? "/" : StripTrailingSlashes(value);
        found = true;
    }
    if (found) {
        path = result;
    }
    return found;
}

bool GetShellFolderPath(uint16_t kind, std::string& path) {
    std::string folder;
    std::string home;
    const bool haveHome = GetAbsoluteEnv("HOME", home);
    switch (kind) {
        case SHELL_FOLDER_DESKTOP:
            if (!GetDesktopFolder(folder)) {
                return false;
            }
            break;
        case SHELL_FOLDER_PROGRAM_FILES:
            // Under WOW64 this would be the x86 folder; IsWow64 keeps the caller's logic.
            if (!haveHome) {
                return false;
            }
            folder = Join(home, "Games");
            break;
        case SHELL_FOLDER_APPDATA:
            if (!GetAbsoluteEnv("XDG_STATE_HOME", folder)) {
                if (!haveHome) {
                    return false;
                }
                folder = Join(home, ".local/state");
            }
            break;
        case SHELL_FOLDER_COMMON_PROGRAMS:
            if (GetAbsoluteEnv("XDG_DATA_HOME", folder)) {
                folder = Join(folder, "applications");
            } else {
                if (!haveHome) {
                    return false;
                }
                folder = Join(home, ".local/share/applications");
            }
            break;
        default:
            return false;
    }
    path = StripTrailingSlashes(folder);
    return true;
}

bool IsVistaOrLater() {
    return true;
}

bool IsWow64() {
    return false;
}

bool Wow64DisableWow64FsRedirection(void** oldValue) {
    if (oldValue != nullptr) {
        *oldValue = nullptr;
    }
    return true;
}

bool Wow64RevertWow64FsRedirection(void* /*oldValue*/) {
    return true;
}
