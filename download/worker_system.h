// What the download worker asks of the system beyond the network and the files it writes: the
// clock, free space, the flush to disk and the wait before another attempt. Real() is the
// system itself; tests hand the worker a fake instead.
// Thread: called on the worker's threads (its own, its lanes and range fetchers); Real() is
// stateless and shared, and a fake must be safe to call from several of them.
#pragma once

#include <sys/types.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <string>

class IWorkerSystem {
public:
    virtual ~IWorkerSystem() = default;

    // The wrapping millisecond clock of the progress records (TimeGetTime).
    virtual uint32_t Now() = 0;
    // Bytes this user can write on the file system of folder (GetDiskFreeSize).
    virtual uint64_t FreeSpace(const std::string& folder) = 0;
    // Starts writeback of length bytes of fd from offset (0: to the end) without waiting.
    virtual void StartWriteback(int fd, uint64_t offset, uint64_t length) = 0;
    // Puts the bytes of fd onto the disk and waits for them (fdatasync); 0 or errno.
    virtual int FlushFile(int fd) = 0;
    // Puts everything written on the file system of the open folder onto the disk; 0 or errno.
    virtual int Flush(int folderFd) = 0;
    // Waits for delay; false, at once, when *running turns false meanwhile.
    virtual bool Wait(std::chrono::milliseconds delay, const std::atomic<bool>& running) = 0;

    static IWorkerSystem& Real();
};
