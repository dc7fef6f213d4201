// One file's bytes from an offset to its end over several connections at once: each fetches
// the next range of a fixed size, and the ranges are handed out strictly in order, so the file
// on disk only ever grows at its end and stays a prefix of its content. At most one range per
// connection waits in memory beyond the one being written.
// Thread: Start, Next and Stop are called on one thread (the worker's); the fetchers run on
// threads of their own, all ended by Stop or the destructor.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "download/http_timeouts.h"

class CRateLimit;
class IWorkerSystem;

class CRangeFetcher {
public:
    struct Settings {
        std::string url;
        std::string userAgent;
        uint64_t from = 0;  // the bytes [from, end) are fetched
        uint64_t end = 0;
        int connections = 1;
        uint64_t rangeSize = 2 * 1024 * 1024;
        HttpTimeouts timeouts;
    };
    enum class Result {
        Range,    // the next bytes in order
        Waiting,  // nothing yet
        Failed,   // a request or its body failed: Error() and the rest say how
        Refused,  // the server answered a range with something else than the range
    };

    // limit, when given, is shared with the other transfers and must outlive the fetcher.
    CRangeFetcher(Settings settings, CRateLimit* limit, IWorkerSystem& system);
    ~CRangeFetcher();
    CRangeFetcher(const CRangeFetcher&) = delete;
    CRangeFetcher& operator=(const CRangeFetcher&) = delete;

    // False when no fetcher could be started.
    bool Start();
    // The next range in order in bytes, waiting up to wait for it.
    Result Next(std::vector<unsigned char>& bytes, std::chrono::milliseconds wait);
    // Gives a range's buffer back once written, so the next range fills memory already
    // mapped instead of new pages.
    void Recycle(std::vector<unsigned char>&& bytes);
    // Ends every request and joins the fetchers.
    void Stop();

    // The failure: the libcurl code or HTTP status (0 for a body that ended before its
    // length), its words, whether the request itself failed (rather than its body) and the
    // Retry-After it carried.
    long Error() const { return m_nError; }
    const std::string& ErrorDetail() const { return m_strDetail; }
    bool RequestFailed() const { return m_bRequestFailed; }
    int64_t RetryAfterSeconds() const { return m_nRetryAfter; }
    // The system's error code behind a failed request, when libcurl kept one.
    int OsError() const { return m_nOsError; }

private:
    void Fetch();
    void Fail(long error, const std::string& detail, bool request, int64_t retryAfter,
              int osError = 0);

    const Settings m_settings;
    CRateLimit* m_pLimit;
    IWorkerSystem& m_system;
    std::atomic<bool> m_bGo{true};
    std::vector<std::thread> m_threads;

    std::mutex m_lock;
    std::condition_variable m_changed;
    uint64_t m_nNext;   // the start of the next range to fetch
    uint64_t m_nTaken;  // the start of the next range to hand out
    std::map<uint64_t, std::vector<unsigned char>> m_ready;
    std::vector<std::vector<unsigned char>> m_spare;
    bool m_bFailed = false;
    bool m_bRefused = false;
    long m_nError = 0;
    std::string m_strDetail;
    bool m_bRequestFailed = false;
    int64_t m_nRetryAfter = 0;
    int m_nOsError = 0;
};
