// The install folder held open for a run: every path below it is opened relative to the held
// descriptor at the moment of use, never through a symbolic link at any level, so a link
// planted while the run waits on the network cannot carry a read or write elsewhere.
// Thread: one thread per object.
#pragma once

#include <sys/stat.h>
#include <sys/types.h>

#include <atomic>
#include <string>

class CInstallDir {
public:
    CInstallDir() = default;
    ~CInstallDir();
    CInstallDir(const CInstallDir&) = delete;
    CInstallDir& operator=(const CInstallDir&) = delete;

    // Opens the folder itself (following links in its own path: the user chose it); 0 or errno.
    int Open(const std::string& folder);
    void Close();
    int Fd() const { return m_fd; }

    // Exclusive, non-blocking flock on the folder itself, held until Close: no lock file is
    // left behind. 0, EWOULDBLOCK when another run holds it, or errno.
    int Lock();

    // Creates every folder level of name's folder part ("data/maps" of "data/maps/a.pak")
    // with mkdirat under the held descriptors; 0, or the errno of the first level that is
    // not a real folder (ELOOP for a link).
    int MakeFolders(const std::string& name) const;
    // open() of a relative name below the folder that follows no link at any level (ELOOP);
    // the descriptor, or -1 with errno set.
    int OpenBeneath(const std::string& name, int flags, mode_t mode = 0) const;
    // lstat() of a relative name below the folder, following no link on the way; 0 or errno.
    int StatBeneath(const std::string& name, struct stat& st) const;

    // Resolves level by level with openat(O_NOFOLLOW) as where openat2 is missing; for tests.
    static std::atomic<bool> s_bForceWalk;

private:
    int WalkOpen(const std::string& name, int flags, mode_t mode) const;

    int m_fd = -1;
};
