#include "platform/atomic_file.h"
#include "platform/file_io.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <vector>

namespace {

// Makes the rename itself durable; file systems that cannot sync a folder are not an error.
void SyncFolder(const std::string& folder) {
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

}  // namespace

int WriteFileAtomically(const std::string& path, std::string_view data, mode_t mode) {
    if (path.empty() || path.back() == '/') {
        return EINVAL;
    }
    const size_t slash = path.rfind('/');
    const std::string folder = slash == std::string::npos ? "." : path.substr(0, slash + 1);
    const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);

    std::string pattern = (slash == std::string::npos ? "" : folder) + "." + name + ".XXXXXX";
    std::vector<char> temp(pattern.begin(), pattern.end());
    temp.push_back('\0');
    const int fd = ::mkostemp(temp.data(), O_CLOEXEC);
    if (fd < 0) {
        return errno;
    }

    int err = WriteAll(fd, data.data(), data.size());
    if (err == 0 && ::fchmod(fd, mode) != 0) {
        err = errno;
    }
    if (err == 0 && ::fsync(fd) != 0) {
        err = errno;
    }
    // close reports delayed write errors on some file systems (NFS).
    if (::close(fd) != 0 && err == 0) {
        err = errno;
    }
    if (err == 0 && ::rename(temp.data(), path.c_str()) != 0) {
        err = errno;
    }
    if (err != 0) {
        ::unlink(temp.data());
        return err;
    }
    SyncFolder(folder);
    return 0;
}
