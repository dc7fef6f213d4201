#include "download/rate_limit.h"

#include <chrono>
#include <cmath>
#include <cstdlib>

#include "download/worker_system.h"

namespace {

// Keeps the arithmetic of Take within 64 bits.
constexpr uint64_t kMaxRate = uint64_t{1} << 40;

}  // namespace

bool CRateLimit::Parse(const std::string& text, uint64_t& bytesPerSecond) {
    if (text.empty() || !(text[0] >= '0' && text[0] <= '9')) {
        return false;
    }
    char* end = nullptr;
    const double number = std::strtod(text.c_str(), &end);
    double unit = 1;
    switch (*end) {
        case '\0':
            break;
        case 'k':
        case 'K':
            unit = 1024.0;
            ++end;
            break;
        case 'm':
        case 'M':
            unit = 1024.0 * 1024;
            ++end;
            break;
        case 'g':
        case 'G':
            unit = 1024.0 * 1024 * 1024;
            ++end;
            break;
        default:
            return false;
    }
    if (*end != '\0' || !std::isfinite(number)) {
        return false;
    }
    const double rate = std::floor(number * unit);
    if (rate < 1 || rate > static_cast<double>(kMaxRate)) {
        return false;
    }
    bytesPerSecond = static_cast<uint64_t>(rate);
    return true;
}

void CRateLimit::Set(uint64_t bytesPerSecond) {
    std::lock_guard<std::mutex> lock(m_lock);
    m_nRate = bytesPerSecond;
    m_bStarted = false;
    m_nNowMicros = 0;
    m_nDueMicros = 0;
}

bool CRateLimit::Take(uint64_t bytes, IWorkerSystem& system, const std::atomic<bool>& running) {
    if (m_nRate == 0 || bytes == 0) {
        return true;
    }
    uint64_t waitMicros = 0;
    {
        std::lock_guard<std::mutex> lock(m_lock);
        const uint32_t clock = system.Now();
        if (!m_bStarted) {
            m_bStarted = true;
            m_dwLastClock = clock;
        }
        m_nNowMicros += static_cast<uint64_t>(static_cast<uint32_t>(clock - m_dwLastClock)) * 1000;
        m_dwLastClock = clock;
        // Time unused in the past is not saved up: after a pause only the burst is free.
        if (m_nDueMicros < m_nNowMicros) {
            m_nDueMicros = m_nNowMicros;
        }
        // bytes * 1e6 / rate without overflow for any read size.
        m_nDueMicros += bytes / m_nRate * 1000000 + bytes % m_nRate * 1000000 / m_nRate;
        if (m_nDueMicros > m_nNowMicros + kBurstMicros) {
            waitMicros = m_nDueMicros - m_nNowMicros - kBurstMicros;
        }
    }
    if (waitMicros < 1000) {
        return running.load();
    }
    return system.Wait(std::chrono::milliseconds(waitMicros / 1000), running);
}
