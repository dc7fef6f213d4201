// Folders below the install folder. Thread: any; stateless.
#pragma once

#include <string>

// Makes sure folder exists, creating every missing level.
bool CreateInstallFolder(const std::string& folder);

// For a name with folder parts ("data/maps/a.pak"): creates every level below
// installFolder, refusing any level that is a symbolic link or not a folder, sets subFolder
// to its path and name to the last part ("a.pak"), and returns true. A plain file name
// returns false with both unchanged. failure, when given, gets 0 or the errno of the first
// level that is not a real folder (ELOOP for a link): nothing may be written below it.
bool MakeSubFolder(const std::string& installFolder, std::string& name, std::string& subFolder,
                   int* failure = nullptr);
