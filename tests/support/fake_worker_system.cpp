#include "support/fake_worker_system.h"

uint32_t FakeWorkerSystem::Now() {
    return Real().Now() + m_skipped.load();
}

uint64_t FakeWorkerSystem::FreeSpace(const std::string& folder) {
    return freeSpace ? *freeSpace : Real().FreeSpace(folder);
}

void FakeWorkerSystem::StartWriteback(int fd, uint64_t offset, uint64_t length) {
    writebacks.fetch_add(1);
    Real().StartWriteback(fd, offset, length);
}

int FakeWorkerSystem::FlushFile(int fd) {
    fileFlushes.fetch_add(1);
    return fileFlushError != 0 ? fileFlushError : Real().FlushFile(fd);
}

int FakeWorkerSystem::Flush(int folderFd) {
    flushes.fetch_add(1);
    return flushError != 0 ? flushError : Real().Flush(folderFd);
}

bool FakeWorkerSystem::Wait(std::chrono::milliseconds delay, const std::atomic<bool>& running) {
    {
        std::lock_guard<std::mutex> lock(m_lock);
        m_waits.push_back(delay);
    }
    if (skipWaits && waitsMoveClock) {
        m_skipped.fetch_add(static_cast<uint32_t>(delay.count()));
    }
    return skipWaits ? running.load() : Real().Wait(delay, running);
}

std::vector<std::chrono::milliseconds> FakeWorkerSystem::Waits() const {
    std::lock_guard<std::mutex> lock(m_lock);
    return m_waits;
}
