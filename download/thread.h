// A worker thread with a running flag that another thread clears to stop it.
// Thread: Start/Stop/destruction on the owner's thread; Run on the worker thread.
#pragma once

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>

class CThread {
public:
    // How long Stop waits for the thread to end before it returns anyway.
    static constexpr int STOP_WAIT_MS = 1000;

    CThread() = default;
    // Subclasses call StopAndWait in their own destructor, before their members go.
    virtual ~CThread();
    CThread(const CThread&) = delete;
    CThread& operator=(const CThread&) = delete;

    // True while a run is wanted and its thread exists.
    bool IsRunning() const {
        return m_bRunning.load(std::memory_order_acquire) &&
               m_bThreadValid.load(std::memory_order_acquire);
    }

    // Starts Run on a new thread. A thread of an earlier run that is still ending is waited
    // for first, so two never run at once. False if the thread cannot be created.
    bool Start();
    // Asks the thread to stop and waits up to STOP_WAIT_MS for it. A thread that takes
    // longer ends by itself at its next check; Start or destruction joins it.
    void Stop();
    // Asks the thread to stop and waits as long as it takes; for destructors, which must not
    // leave a thread running in a half-destroyed object.
    void StopAndWait();
    // Waits until a thread that was asked to stop has ended; at once when none runs.
    void WaitForEnd();
    // True when no thread of this object is alive any more.
    bool HasEnded();

protected:
    virtual void Run() = 0;
    // For subclasses that pass the flag on (to the HTTP client, the checksum).
    const std::atomic<bool>& RunningFlag() const { return m_bRunning; }

private:
    void ThreadProc();
    void Join();

    std::atomic<bool> m_bRunning{false};
    std::atomic<bool> m_bThreadValid{false};
    std::thread m_hThread;
    std::mutex m_endLock;
    std::condition_variable m_endSignal;
    bool m_bEnded = true;
};
