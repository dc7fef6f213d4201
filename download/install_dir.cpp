#include "download/install_dir.h"

#include <fcntl.h>
#include <linux/openat2.h>
#include <sys/file.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>

std::atomic<bool> CInstallDir::s_bForceWalk{false};

namespace {

// Set once the kernel has said it has no openat2.
std::atomic<bool> g_noOpenat2{false};

constexpr int kWalkFlags = O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;

bool IsPlainPart(const std::string& part) {
    return !part.empty() && part != "." && part != "..";
}

// Opens one folder level below dir without following a link; -1 with errno (ELOOP for a link,
// ENOTDIR for anything else that is not a folder).
int OpenLevel(int dir, const std::string& part) {
    const int fd = ::openat(dir, part.c_str(), kWalkFlags);
    if (fd < 0 && errno == ENOTDIR) {
        struct stat st {};
        if (::fstatat(dir, part.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(st.st_mode)) {
            errno = ELOOP;
        } else {
            errno = ENOTDIR;
        }
    }
    return fd;
}

}  // namespace

CInstallDir::~CInstallDir() {
    Close();
}

int CInstallDir::Open(const std::string& folder) {
    Close();
    m_fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    return m_fd < 0 ? errno : 0;
}

void CInstallDir::Close() {
    if (m_fd >= 0) {
        ::close(m_fd);
        m_fd = -1;
    }
}

int CInstallDir::Lock() {
    while (::flock(m_fd, LOCK_EX | LOCK_NB) != 0) {
        if (errno != EINTR) {
            return errno;
        }
    }
    return 0;
}

int CInstallDir::MakeFolders(const std::string& name) const {
    const size_t last = name.rfind('/');
    if (last == std::string::npos) {
        return 0;
    }
    int dir = m_fd;
    int error = 0;
    size_t start = 0;
    while (start < last) {
        const size_t end = name.find('/', start);
        const std::string part = name.substr(start, end - start);
        start = end + 1;
        if (!IsPlainPart(part)) {
            error = EINVAL;
            break;
        }
        if (::mkdirat(dir, part.c_str(), 0755) != 0 && errno != EEXIST) {
            error = errno;
            break;
        }
        const int next = OpenLevel(dir, part);
        if (next < 0) {
            error = errno;
            break;
        }
        if (dir != m_fd) {
            ::close(dir);
        }
        dir = next;
    }
    if (dir != m_fd) {
        ::close(dir);
    }
    return error;
}

int CInstallDir::OpenBeneath(const std::string& name, int flags, mode_t mode) const {
    if (!s_bForceWalk.load() && !g_noOpenat2.load()) {
        open_how how{};
        how.flags = static_cast<uint64_t>(flags | O_NOFOLLOW | O_CLOEXEC);
        how.mode = (flags & O_CREAT) != 0 ? mode : 0;
        how.resolve = RESOLVE_BENEATH | RESOLVE_NO_SYMLINKS;
        for (;;) {
            const long fd = ::syscall(SYS_openat2, m_fd, name.c_str(), &how, sizeof(how));
            if (fd >= 0) {
                return static_cast<int>(fd);
            }
            // EAGAIN: a rename elsewhere raced the lookup; EINTR: a signal did.
            if (errno == EAGAIN || errno == EINTR) {
                continue;
            }
            // ENOSYS: an older kernel; EPERM: a sandbox's system-call filter that does not
            // know openat2. The walk below is as strict, so a genuine EPERM only repeats.
            if (errno == ENOSYS) {
                g_noOpenat2.store(true);
            } else if (errno != EPERM) {
                return -1;
            }
            break;
        }
    }
    return WalkOpen(name, flags, mode);
}

int CInstallDir::WalkOpen(const std::string& name, int flags, mode_t mode) const {
    if (name.empty() || name.front() == '/') {
        errno = EXDEV;
        return -1;
    }
    int dir = m_fd;
    size_t start = 0;
    for (;;) {
        const size_t end = name.find('/', start);
        const std::string part = name.substr(start, end == std::string::npos ? end : end - start);
        if (!IsPlainPart(part)) {
            if (dir != m_fd) {
                ::close(dir);
            }
            errno = EXDEV;
            return -1;
        }
        int fd = -1;
        if (end == std::string::npos) {
            do {
                fd = ::openat(dir, part.c_str(), flags | O_NOFOLLOW | O_CLOEXEC, mode);
            } while (fd < 0 && errno == EINTR);
        } else {
            fd = OpenLevel(dir, part);
        }
        const int saved = errno;
        if (dir != m_fd) {
            ::close(dir);
        }
        if (fd < 0 || end == std::string::npos) {
            errno = saved;
            return fd;
        }
        dir = fd;
        start = end + 1;
    }
}

int CInstallDir::StatBeneath(const std::string& name, struct stat& st) const {
    // O_PATH with O_NOFOLLOW gives the link itself at the last level, so it can be seen.
    const int fd = OpenBeneath(name, O_PATH | O_NOFOLLOW);
    if (fd < 0) {
        return errno;
    }
    const int error = ::fstat(fd, &st) != 0 ? errno : 0;
    ::close(fd);
    return error;
}
