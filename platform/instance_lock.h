// The single-instance lock of one user's session: an exclusive flock held for the process's
// life and released by the kernel when it ends, however it ends.
// Thread: the main thread; the object owns the lock file's descriptor.
#pragma once

#include <string>

class CInstanceLock {
public:
    explicit CInstanceLock(const std::string& name);
    ~CInstanceLock();
    CInstanceLock(const CInstanceLock&) = delete;
    CInstanceLock& operator=(const CInstanceLock&) = delete;

    // False when another process holds the lock. When the lock file cannot be made at all
    // (or only in a folder others could write in) the program runs unprotected, so that
    // counts as acquired.
    bool Acquire();
    void Release();
    bool IsHeld() const { return m_fd >= 0; }

    // $XDG_RUNTIME_DIR/NAME.lock, else NAME.lock in the user's own state folder
    // ($XDG_STATE_HOME/quellbridger, else ~/.local/state/quellbridger, made 0700 and used only
    // while no one else can write in it); empty when there is no such folder.
    static std::string LockPath(const std::string& name);

private:
    std::string m_path;
    int m_fd = -1;
};
