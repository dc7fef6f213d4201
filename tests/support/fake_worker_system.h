// The download worker's system for tests: the real clock, disk and waits unless a test says
// otherwise; a free space to report, a flush that fails, waits that end at once, and a count
// of what the worker asked.
// Thread: the worker calls it on its threads; the test sets it up before the run and reads it
// after the run's end record.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "download/worker_system.h"

class FakeWorkerSystem : public IWorkerSystem {
public:
    uint32_t Now() override;
    uint64_t FreeSpace(const std::string& folder) override;
    void StartWriteback(int fd, uint64_t offset, uint64_t length) override;
    int FlushFile(int fd) override;
    int Flush(int folderFd) override;
    bool Wait(std::chrono::milliseconds delay, const std::atomic<bool>& running) override;

    // Every wait asked for, in order.
    std::vector<std::chrono::milliseconds> Waits() const;

    // Reported for every folder instead of the real figure.
    std::optional<uint64_t> freeSpace;
    // Returned by Flush instead of flushing (0: flush for real).
    int flushError = 0;
    // Returned by FlushFile instead of flushing (0: flush for real).
    int fileFlushError = 0;
    // Waits end at once (still false when the worker was stopped).
    bool skipWaits = false;
    // With skipWaits, Now() moves on by every skipped wait, as if it had been waited.
    bool waitsMoveClock = false;

    std::atomic<int> flushes{0};
    std::atomic<int> writebacks{0};
    std::atomic<int> fileFlushes{0};

private:
    mutable std::mutex m_lock;
    std::vector<std::chrono::milliseconds> m_waits;
    std::atomic<uint32_t> m_skipped{0};
};
