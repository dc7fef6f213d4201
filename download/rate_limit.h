// A cap on the bytes per second that every transfer of a run takes together, for users who
// share their line. Transfers ask before they use what they read; the reader then leaves the
// socket alone for the wait, so the server's sending slows down with it.
// Thread: any; Take may be called from several transfer threads at once.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>

class IWorkerSystem;

class CRateLimit {
public:
    // Parses a rate as the curl tool takes it: bytes per second, or with a suffix K, M, G
    // (1024-based, either case), a fraction allowed ("2M", "1.5m", "500k", "65536").
    // False for anything else, zero, or a rate past 1 TiB a second.
    static bool Parse(const std::string& text, uint64_t& bytesPerSecond);

    // bytesPerSecond 0: no cap.
    void Set(uint64_t bytesPerSecond);
    uint64_t Rate() const { return m_nRate; }

    // Accounts for bytes just read and waits until they fit the cap; false at once when
    // running turns false meanwhile.
    bool Take(uint64_t bytes, IWorkerSystem& system, const std::atomic<bool>& running);

private:
    // A fraction of a second's worth may come in one go: the reads are not evenly spaced.
    static constexpr uint64_t kBurstMicros = 100000;

    uint64_t m_nRate = 0;
    std::mutex m_lock;
    bool m_bStarted = false;
    uint32_t m_dwLastClock = 0;
    // Microseconds on the system's clock, widened past its 32-bit wrap.
    uint64_t m_nNowMicros = 0;
    // When the bytes accounted so far are all due at the cap.
    uint64_t m_nDueMicros = 0;
};
