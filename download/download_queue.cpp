#include "download/download_queue.h"

void CDownloadQueue::PostProgress(std::unique_ptr<DownloadProgress> record) {
    Push(std::move(record));
}

void CDownloadQueue::PostFinished(std::unique_ptr<DownloadResult> record) {
    Push(std::move(record));
}

void CDownloadQueue::PostRetry(std::unique_ptr<DownloadRetry> record) {
    Push(std::move(record));
}

void CDownloadQueue::Push(Record record) {
    {
        std::lock_guard<std::mutex> lock(m_lock);
        m_records.push_back(std::move(record));
    }
    m_ready.notify_all();
}

bool CDownloadQueue::Take(Record& record, std::chrono::milliseconds timeout) {
    std::unique_lock<std::mutex> lock(m_lock);
    if (!m_ready.wait_for(lock, timeout, [this] { return !m_records.empty(); })) {
        return false;
    }
    record = std::move(m_records.front());
    m_records.pop_front();
    return true;
}

std::unique_ptr<DownloadResult> CDownloadQueue::WaitFinished(
    std::chrono::milliseconds timeout, std::deque<std::unique_ptr<DownloadProgress>>* progress) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        Record record;
        if (left.count() <= 0 || !Take(record, left)) {
            return nullptr;
        }
        if (auto* result = std::get_if<std::unique_ptr<DownloadResult>>(&record)) {
            return std::move(*result);
        }
        auto* item = std::get_if<std::unique_ptr<DownloadProgress>>(&record);
        if (progress != nullptr && item != nullptr) {
            progress->push_back(std::move(*item));
        }
    }
}

size_t CDownloadQueue::Size() const {
    std::lock_guard<std::mutex> lock(m_lock);
    return m_records.size();
}
