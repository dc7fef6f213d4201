#include "download/worker_system.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <thread>

#include "platform/clock.h"
#include "platform/disk.h"

namespace {

class SystemCalls final : public IWorkerSystem {
public:
    uint32_t Now() override { return TimeGetTime(); }

    uint64_t FreeSpace(const std::string& folder) override {
        return GetDiskFreeSize(folder.c_str());
    }

    void StartWriteback(int fd, uint64_t offset, uint64_t length) override {
        ::sync_file_range(fd, static_cast<off_t>(offset), static_cast<off_t>(length),
                          SYNC_FILE_RANGE_WRITE);
    }

    int FlushFile(int fd) override { return ::fdatasync(fd) != 0 ? errno : 0; }

    int Flush(int folderFd) override { return ::syncfs(folderFd) != 0 ? errno : 0; }

    bool Wait(std::chrono::milliseconds delay, const std::atomic<bool>& running) override {
        using Clock = std::chrono::steady_clock;
        const Clock::time_point end = Clock::now() + delay;
        // Short slices: a stop must end the wait at once.
        while (running.load(std::memory_order_acquire)) {
            const Clock::time_point now = Clock::now();
            if (now >= end) {
                return true;
            }
            std::this_thread::sleep_for(
                std::min<Clock::duration>(end - now, std::chrono::milliseconds(50)));
        }
        return false;
    }
};

}  // namespace

IWorkerSystem& IWorkerSystem::Real() {
    static SystemCalls system;
    return system;
}
