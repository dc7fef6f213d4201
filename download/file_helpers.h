// The install folder itself. Thread: any; stateless.
#pragma once

#include <string>

// Makes sure folder exists, creating every missing level.
bool CreateInstallFolder(const std::string& folder);
