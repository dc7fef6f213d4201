#include "download/range_fetcher.h"

#include <algorithm>
#include <system_error>
#include <utility>

#include "download/http_client.h"
#include "download/rate_limit.h"
#include "download/worker_system.h"

CRangeFetcher::CRangeFetcher(Settings settings, CRateLimit* limit, IWorkerSystem& system)
    : m_settings(std::move(settings)),
      m_pLimit(limit),
      m_system(system),
      m_nNext(m_settings.from),
      m_nTaken(m_settings.from) {}

CRangeFetcher::~CRangeFetcher() {
    Stop();
}

bool CRangeFetcher::Start() {
    try {
        for (int i = 0; i < std::max(m_settings.connections, 1); ++i) {
            m_threads.emplace_back(&CRangeFetcher::Fetch, this);
        }
    } catch (const std::system_error&) {
        if (m_threads.empty()) {
            return false;
        }
    }
    return true;
}

void CRangeFetcher::Stop() {
    {
        std::lock_guard<std::mutex> lock(m_lock);
        m_bGo.store(false);
    }
    m_changed.notify_all();
    for (std::thread& thread : m_threads) {
        thread.join();
    }
    m_threads.clear();
}

CRangeFetcher::Result CRangeFetcher::Next(std::vector<unsigned char>& bytes,
                                          std::chrono::milliseconds wait) {
    std::unique_lock<std::mutex> lock(m_lock);
    m_changed.wait_for(lock, wait,
                       [this] { return m_bFailed || m_bRefused || m_ready.count(m_nTaken) > 0; });
    // What arrived in order goes out before a later range's failure.
    if (const auto ready = m_ready.find(m_nTaken); ready != m_ready.end()) {
        bytes = std::move(ready->second);
        m_ready.erase(ready);
        m_nTaken += bytes.size();
        lock.unlock();
        m_changed.notify_all();
        return Result::Range;
    }
    if (m_bRefused) {
        return Result::Refused;
    }
    return m_bFailed ? Result::Failed : Result::Waiting;
}

void CRangeFetcher::Recycle(std::vector<unsigned char>&& bytes) {
    std::lock_guard<std::mutex> lock(m_lock);
    bytes.clear();
    m_spare.push_back(std::move(bytes));
}

void CRangeFetcher::Fail(long error, const std::string& detail, bool request, int64_t retryAfter,
                         int osError) {
    {
        std::lock_guard<std::mutex> lock(m_lock);
        if (!m_bFailed) {
            m_bFailed = true;
            m_nError = error;
            m_strDetail = detail;
            m_bRequestFailed = request;
            m_nRetryAfter = retryAfter;
            m_nOsError = osError;
        }
    }
    m_changed.notify_all();
}

void CRangeFetcher::Fetch() {
    CHttpClient client(m_settings.timeouts);
    client.SetStopFlag(&m_bGo);
    // The worker logs the failure that ends the file, once.
    client.SetLogReadErrors(false);
    const uint64_t ahead =
        static_cast<uint64_t>(std::max(m_settings.connections, 1)) * m_settings.rangeSize;
    std::vector<unsigned char> bytes;
    for (;;) {
        uint64_t offset = 0;
        {
            std::unique_lock<std::mutex> lock(m_lock);
            // At most one range per connection beyond the one the writer waits for.
            m_changed.wait(lock, [&] {
                return !m_bGo.load() || m_bFailed || m_bRefused || m_nNext >= m_settings.end ||
                       m_nNext - m_nTaken < ahead;
            });
            if (!m_bGo.load() || m_bFailed || m_bRefused || m_nNext >= m_settings.end) {
                return;
            }
            offset = m_nNext;
            m_nNext += std::min(m_settings.rangeSize, m_settings.end - offset);
            if (!m_spare.empty()) {
                bytes = std::move(m_spare.back());
                m_spare.pop_back();
            }
        }
        const uint64_t length = std::min(m_settings.rangeSize, m_settings.end - offset);
        const std::string range =
            "Range:bytes=" + std::to_string(offset) + "-" + std::to_string(offset + length - 1);
        uint64_t contentLength = 0;
        if (!client.OpenUrl(m_settings.url, range.c_str(), &contentLength, m_settings.userAgent)) {
            if (m_bGo.load()) {
                Fail(static_cast<long>(client.LastError()), client.ErrorDetail(), true,
                     client.RetryAfterSeconds(), client.LastOsError());
            }
            return;
        }
        if (client.StatusCode() != 206 || contentLength != length) {
            client.CloseRequest();
            {
                std::lock_guard<std::mutex> lock(m_lock);
                m_bRefused = true;
            }
            m_changed.notify_all();
            return;
        }
        bytes.clear();
        bytes.reserve(length);
        while (bytes.size() < length) {
            const unsigned char* data = nullptr;
            uint32_t got = 0;
            const uint32_t want = static_cast<uint32_t>(
                std::min<uint64_t>(CHttpClient::TRANSFER_BUFFER_SIZE, length - bytes.size()));
            if (!client.Read(want, data, got)) {
                if (m_bGo.load()) {
                    Fail(static_cast<long>(client.LastError()), client.ReadErrorText(), false, 0);
                }
                return;
            }
            if (got == 0) {
                // Error 0: the body ended before its length.
                Fail(0, std::string(), false, 0);
                return;
            }
            got = static_cast<uint32_t>(std::min<uint64_t>(got, length - bytes.size()));
            bytes.insert(bytes.end(), data, data + got);
            if (m_pLimit != nullptr) {
                m_pLimit->Take(got, m_system, m_bGo);
            }
        }
        // The answer's end, read rather than cut off, leaves its connection for the next range.
        const unsigned char* end = nullptr;
        uint32_t more = 0;
        client.Read(1, end, more);
        client.CloseRequest();
        {
            std::lock_guard<std::mutex> lock(m_lock);
            m_ready.emplace(offset, std::move(bytes));
        }
        bytes = std::vector<unsigned char>();
        m_changed.notify_all();
    }
}
