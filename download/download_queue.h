// A plain thread-safe queue of the worker's records, for the command-line front end and tests.
// Thread: the worker posts, any one thread takes; the queue owns records until taken.
#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <variant>

#include "download/download_notify.h"

class CDownloadQueue : public IDownloadNotify {
public:
    using Record = std::variant<std::unique_ptr<DownloadProgress>, std::unique_ptr<DownloadResult>,
                                std::unique_ptr<DownloadRetry>>;

    void PostProgress(std::unique_ptr<DownloadProgress> record) override;
    void PostFinished(std::unique_ptr<DownloadResult> record) override;
    void PostRetry(std::unique_ptr<DownloadRetry> record) override;

    // The oldest record, waiting up to timeout; false when none came.
    bool Take(Record& record, std::chrono::milliseconds timeout);
    // Waits for the end-of-run record, collecting the progress records before it (retry
    // notices are dropped).
    std::unique_ptr<DownloadResult> WaitFinished(
        std::chrono::milliseconds timeout,
        std::deque<std::unique_ptr<DownloadProgress>>* progress = nullptr);
    size_t Size() const;

private:
    void Push(Record record);

    mutable std::mutex m_lock;
    std::condition_variable m_ready;
    std::deque<Record> m_records;
};
