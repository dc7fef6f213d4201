#include "platform/shortcut.h"

#include <sys/stat.h>

#include <cerrno>

#include "platform/atomic_file.h"
#include "platform/launch_command.h"
#include "platform/shell_folder.h"

namespace {

// Desktops only start entries that are executable (trusted launchers).
constexpr mode_t SHORTCUT_MODE = 0755;

// The target with its last component removed (empty for a bare file name); false when there
// is nothing to remove: an empty target or the bare root.
bool GetTargetFolder(const std::string& target, std::string& folder) {
    std::string path = target;
    while (path.size() > 1 && path.back() == '/') {
        path.pop_back();
    }
    if (path.empty() || path == "/") {
        return false;
    }
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos) {
        folder.clear();
    } else {
        folder = slash == 0 ? "/" : path.substr(0, slash);
    }
    return true;
}

std::string ShortcutFile(const std::string& folder) {
    return folder + "/" + SHORTCUT_NAME + ".desktop";
}

// The entry for target, and a native target made executable so the entry can start it.
bool PrepareShortcut(const char* target, const char* icon, std::string& entry) {
    LaunchKind kind;
    if (target == nullptr || MakeShortcutEntry(target, icon, entry, &kind) != 0) {
        return false;
    }
    if (kind == LaunchKind::NativeProgram) {
        EnsureOwnerExecutable(target);
    }
    return true;
}

bool WriteShortcut(const std::string& file, const std::string& entry) {
    return WriteFileAtomically(file, entry, SHORTCUT_MODE) == 0;
}

}  // namespace

std::string QuoteExecArgument(const std::string& argument) {
    static const std::string kReserved = " \t\n\"'\\><~|&;$*?#()`";
    std::string quoted;
    if (!argument.empty() && argument.find_first_of(kReserved) == std::string::npos) {
        quoted = argument;
    } else {
        quoted = "\"";
        for (char c : argument) {
            if (c == '"' || c == '`' || c == '$' || c == '\\') {
                quoted += '\\';
            }
            quoted += c;
        }
        quoted += '"';
    }
    // A literal percent sign would be read as a field code.
    std::string result;
    for (char c : quoted) {
        result += c;
        if (c == '%') {
            result += '%';
        }
    }
    return result;
}

std::string EscapeDesktopEntryValue(const std::string& value) {
    std::string escaped;
    for (char c : value) {
        switch (c) {
            case '\\':
                escaped += "\\\\";
                break;
            case '\n':
                escaped += "\\n";
                break;
            case '\t':
                escaped += "\\t";
                break;
            case '\r':
                escaped += "\\r";
                break;
            default:
                escaped += c;
        }
    }
    return escaped;
}

int MakeShortcutEntry(const std::string& target, const char* icon, std::string& entry,
                      LaunchKind* kind) {
    std::string folder;
    if (!GetTargetFolder(target, folder)) {
        return ENOENT;
    }
    LaunchCommand command;
    if (const int err = GetLaunchCommand(target, command); err != 0) {
        return err;
    }
    std::string exec;
    for (const std::string& arg : command.argv) {
        if (!exec.empty()) {
            exec += ' ';
        }
        exec += QuoteExecArgument(arg);
    }
    entry = "[Desktop Entry]\n";
    entry += "Type=Application\n";
    entry += std::string("Name=") + SHORTCUT_NAME + "\n";
    entry += "Exec=" + EscapeDesktopEntryValue(exec) + "\n";
    if (!folder.empty()) {
        entry += "Path=" + EscapeDesktopEntryValue(folder) + "\n";
    }
    if (icon != nullptr && icon[0] != '\0') {
        entry += "Icon=" + EscapeDesktopEntryValue(icon) + "\n";
    }
    if (kind != nullptr) {
        *kind = command.kind;
    }
    return 0;
}

bool CreateStartMenuShortcut(const char* target, const char* icon) {
    // What can fail about the target is settled first, so a bad target leaves nothing behind.
    std::string entry;
    if (!PrepareShortcut(target, icon, entry)) {
        return false;
    }
    std::string programs;
    if (!GetShellFolderPath(SHELL_FOLDER_COMMON_PROGRAMS, programs)) {
        return false;
    }
    // A fresh account may not have the applications folder yet; the Windows start menu
    // always exists. Only the shortcut's own folder follows the strict rule below.
    std::string parent;
    for (size_t slash = programs.find('/', 1);; slash = programs.find('/', slash + 1)) {
        parent = programs.substr(0, slash);
        ::mkdir(parent.c_str(), 0755);
        if (slash == std::string::npos) {
            break;
        }
    }
    const std::string folder = programs + "/" + SHORTCUT_NAME;
    if (::mkdir(folder.c_str(), 0755) != 0 && errno != EEXIST) {
        return false;
    }
    return WriteShortcut(ShortcutFile(folder), entry);
}

bool CreateDesktopShortcut(const char* target, const char* icon) {
    std::string entry;
    if (!PrepareShortcut(target, icon, entry)) {
        return false;
    }
    std::string desktop;
    if (!GetShellFolderPath(SHELL_FOLDER_DESKTOP, desktop)) {
        return false;
    }
    return WriteShortcut(ShortcutFile(desktop), entry);
}
