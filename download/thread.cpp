#include "download/thread.h"

#include <chrono>
#include <system_error>

CThread::~CThread() {
    StopAndWait();
}

void CThread::StopAndWait() {
    m_bRunning.store(false, std::memory_order_release);
    Join();
}

bool CThread::Start() {
    Join();
    {
        std::lock_guard<std::mutex> lock(m_endLock);
        m_bEnded = false;
    }
    // Both flags are set before the thread exists, so its first IsRunning sees a live run.
    m_bRunning.store(true, std::memory_order_release);
    m_bThreadValid.store(true, std::memory_order_release);
    try {
        m_hThread = std::thread(&CThread::ThreadProc, this);
    } catch (const std::system_error&) {
        m_bRunning.store(false, std::memory_order_release);
        m_bThreadValid.store(false, std::memory_order_release);
        std::lock_guard<std::mutex> lock(m_endLock);
        m_bEnded = true;
        return false;
    }
    return true;
}

void CThread::Stop() {
    if (!m_hThread.joinable()) {
        return;
    }
    m_bRunning.store(false, std::memory_order_release);
    bool ended;
    {
        std::unique_lock<std::mutex> lock(m_endLock);
        ended = m_endSignal.wait_for(lock, std::chrono::milliseconds(STOP_WAIT_MS),
                                     [this] { return m_bEnded; });
    }
    if (ended) {
        Join();
    }
}

void CThread::WaitForEnd() {
    if (!IsRunning()) {
        Join();
    }
}

bool CThread::HasEnded() {
    std::lock_guard<std::mutex> lock(m_endLock);
    return m_bEnded;
}

void CThread::Join() {
    if (m_hThread.joinable()) {
        m_hThread.join();
    }
}

void CThread::ThreadProc() {
    Run();
    m_bRunning.store(false, std::memory_order_release);
    m_bThreadValid.store(false, std::memory_order_release);
    std::lock_guard<std::mutex> lock(m_endLock);
    m_bEnded = true;
    m_endSignal.notify_all();
}
