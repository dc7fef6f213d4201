// Desktop and menu shortcuts to the game launcher, written as freedesktop Desktop Entry
// files "Talvermoor.desktop" instead of shell links. Thread: any; stateless.
#pragma once

#include <string>

#include "platform/launch_command.h"

// Name of both shortcut files and of the menu folder that holds one of them.
constexpr const char* SHORTCUT_NAME = "Talvermoor";

// "Talvermoor.desktop" in the folder "Talvermoor" below the applications folder (created if
// missing). icon may be null. True when the file was written.
bool CreateStartMenuShortcut(const char* target, const char* icon);

// "Talvermoor.desktop" in the desktop folder. icon may be null. True when the file was written.
bool CreateDesktopShortcut(const char* target, const char* icon);

// The text of a Desktop Entry that starts target the way the launcher start would, working
// in target's folder, with icon when it is not null; kind (may be null) receives how the
// target is started. 0 and the text, or ENOENT for an empty target or the bare root, or the
// errno of GetLaunchCommand.
int MakeShortcutEntry(const std::string& target, const char* icon, std::string& entry,
                      LaunchKind* kind = nullptr);

// One Exec argument quoted as the Desktop Entry rules require (before the general escaping
// of string values): wrapped in double quotes when it holds a reserved character.
std::string QuoteExecArgument(const std::string& argument);

// A string value escaped for a Desktop Entry line (backslash, newline, tab, return).
std::string EscapeDesktopEntryValue(const std::string& value);
