// MD5 of a file that is still being written, read back from the file on a second thread so
// that hashing overlaps the download and the digest is that of the bytes on disk.
// Thread: the writer calls Begin/Advance/Finish; the hashing thread is owned and joined here.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>

class CFileHasher {
public:
    CFileHasher() = default;
    ~CFileHasher();
    CFileHasher(const CFileHasher&) = delete;
    CFileHasher& operator=(const CFileHasher&) = delete;

    // Starts hashing path from offset 0; available bytes are already on disk (a resumed
    // part). The stop flag is read once per 1,024-byte block. False if it cannot start.
    bool Begin(const std::string& path, uint64_t available, const std::atomic<bool>* running);
    // The same for a file opened for reading by the caller; takes fd over in any case.
    bool Begin(int fd, uint64_t available, const std::atomic<bool>* running);
    // The file now holds this many bytes.
    void Advance(uint64_t available);
    // Waits until every byte up to the final size is hashed; 0 and the checksum text, or an
    // errno code, or 99 when stopped. Ends the hashing thread.
    uint32_t Finish(std::string& checksum);
    // Ends the hashing thread without a result.
    void Abandon();

private:
    void Work();

    std::thread m_thread;
    int m_fd = -1;
    const std::atomic<bool>* m_pRunning = nullptr;
    std::atomic<uint64_t> m_available{0};
    std::atomic<bool> m_final{false};
    std::atomic<bool> m_cancel{false};
    std::atomic<bool> m_waiting{false};
    std::mutex m_lock;
    std::condition_variable m_wake;
    uint32_t m_result = 0;
    std::string m_checksum;
};
