#include "platform/disk.h"

#include <sys/stat.h>
#include <sys/statvfs.h>

#include <cerrno>
#include <string>

uint64_t GetDiskFreeSize(const char* path) {
    if (path == nullptr || path[0] != '/' || path[1] == '/') {
        return 0;
    }
    // The install folder may not exist yet: measure the nearest folder that does.
    std::string probe(path);
    for (;;) {
        struct statvfs st {};
        if (::statvfs(probe.c_str(), &st) == 0) {
            return static_cast<uint64_t>(st.f_bavail) * static_cast<uint64_t>(st.f_frsize);
        }
        if (errno != ENOENT && errno != ENOTDIR) {
            return 0;
        }
        while (probe.size() > 1 && probe.back() == '/') {
            probe.pop_back();
        }
        const size_t slash = probe.rfind('/');
        if (slash == std::string::npos || probe == "/") {
            return 0;
        }
        probe.resize(slash == 0 ? 1 : slash);
    }
}

uint32_t GetFileSize64(const char* fileName, uint64_t* size) {
    if (fileName == nullptr || size == nullptr) {
        return EINVAL;
    }
    struct stat st {};
    if (::stat(fileName, &st) != 0) {
        return static_cast<uint32_t>(errno);
    }
    if (S_ISDIR(st.st_mode)) {
        return EISDIR;
    }
    // A pipe or device has no size of its own, and reading one for its checksum could block
    // until another process writes to it.
    if (!S_ISREG(st.st_mode)) {
        return EINVAL;
    }
    *size = static_cast<uint64_t>(st.st_size);
    return 0;
}
