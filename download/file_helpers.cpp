#include "download/file_helpers.h"

#include <sys/stat.h>

#include <cerrno>
#include <system_error>

#include <filesystem>

bool CreateInstallFolder(const std::string& folder) {
    std::error_code error;
    if (std::filesystem::is_directory(folder, error)) {
        return true;
    }
    std::filesystem::create_directories(folder, error);
    return !error && std::filesystem::is_directory(folder, error);
}

bool MakeSubFolder(const std::string& installFolder, std::string& name, std::string& subFolder,
                   int* failure) {
    const size_t last = name.rfind('/');
    if (name.empty() || last == std::string::npos) {
        return false;
    }
    std::string path = installFolder;
    size_t start = 0;
    bool usable = true;
    int error = 0;
    while (start < last) {
        size_t end = name.find('/', start);
        if (end > start) {
            path += '/';
            path.append(name, start, end - start);
            if (usable) {
                struct stat st {};
                if (::lstat(path.c_str(), &st) != 0 && ::mkdir(path.c_str(), 0755) != 0 &&
                    errno != EEXIST) {
                    usable = false;
                    error = errno;
                } else if (::lstat(path.c_str(), &st) != 0) {
                    usable = false;
                    error = errno;
                } else if (!S_ISDIR(st.st_mode)) {
                    // A planted link must not carry the download out of the install folder.
                    usable = false;
                    error = S_ISLNK(st.st_mode) ? ELOOP : ENOTDIR;
                }
            }
        }
        start = end + 1;
    }
    if (failure != nullptr) {
        *failure = error;
    }
    subFolder = path;
    name = name.substr(last + 1);
    return true;
}
