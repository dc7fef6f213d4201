#include "platform/instance_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

namespace {

// The folder for the lock when the session has no runtime folder: one of the user's own,
// never a shared one such as /tmp where another user could create the file first.
std::string FallbackFolder() {
    const char* state = std::getenv("XDG_STATE_HOME");
    if (state != nullptr && state[0] == '/') {
        return std::string(state) + "/quellbridger";
    }
    const char* home = std::getenv("HOME");
    if (home != nullptr && home[0] == '/') {
        return std::string(home) + "/.local/state/quellbridger";
    }
    return {};
}

// Makes folder and its missing parents (0700); the descriptor of folder when it is a real
// folder of this user that no one else may write in, else -1. The session's runtime folder
// passes by definition.
int OpenPrivateFolder(const std::string& folder) {
    for (size_t slash = folder.find('/', 1); slash != std::string::npos;
         slash = folder.find('/', slash + 1)) {
        ::mkdir(folder.substr(0, slash).c_str(), 0700);
    }
    ::mkdir(folder.c_str(), 0700);
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) {
        return -1;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || st.st_uid != ::geteuid() || (st.st_mode & 022) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

}  // namespace

CInstanceLock::CInstanceLock(const std::string& name) : m_path(LockPath(name)) {}

CInstanceLock::~CInstanceLock() {
    Release();
}

std::string CInstanceLock::LockPath(const std::string& name) {
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (runtime != nullptr && runtime[0] == '/') {
        return std::string(runtime) + "/" + name + ".lock";
    }
    const std::string folder = FallbackFolder();
    return folder.empty() ? folder : folder + "/" + name + ".lock";
}

bool CInstanceLock::Acquire() {
    Release();
    if (m_path.empty()) {
        return true;
    }
    const size_t slash = m_path.rfind('/');
    const std::string folder = m_path.substr(0, slash);
    const int dir = OpenPrivateFolder(folder);
    if (dir < 0) {
        return true;
    }
    // Close-on-exec: a started launcher must not carry the lock on after we exit.
    const int fd =
        ::openat(dir, m_path.c_str() + slash + 1, O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    ::close(dir);
    if (fd < 0) {
        return true;
    }
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const bool held = errno == EWOULDBLOCK;
        ::close(fd);
        return !held;
    }
    m_fd = fd;
    return true;
}

void CInstanceLock::Release() {
    if (m_fd >= 0) {
        ::close(m_fd);
        m_fd = -1;
    }
}
