#include "download/file_helpers.h"

#include <filesystem>
#include <system_error>

bool CreateInstallFolder(const std::string& folder) {
    std::error_code error;
    if (std::filesystem::is_directory(folder, error)) {
        return true;
    }
    std::filesystem::create_directories(folder, error);
    return !error && std::filesystem::is_directory(folder, error);
}
