#include "download/file_hasher.h"

#include <fcntl.h>
#include <openssl/evp.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <memory>

#include "download/checksum.h"

namespace {

constexpr size_t kHashBlock = 1024;
constexpr size_t kReadSize = 256 * 1024;

struct MdCtxDeleter {
    void operator()(EVP_MD_CTX* ctx) const { EVP_MD_CTX_free(ctx); }
};

}  // namespace

CFileHasher::~CFileHasher() {
    Abandon();
}

bool CFileHasher::Begin(const std::string& path, uint64_t available,
                        const std::atomic<bool>* running) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    return fd >= 0 && Begin(fd, available, running);
}

bool CFileHasher::Begin(int fd, uint64_t available, const std::atomic<bool>* running) {
    Abandon();
    m_fd = fd;
    if (m_fd < 0) {
        return false;
    }
    m_pRunning = running;
    m_available.store(available);
    m_final.store(false);
    m_cancel.store(false);
    m_result = 0;
    m_checksum.clear();
    try {
        m_thread = std::thread(&CFileHasher::Work, this);
    } catch (...) {
        ::close(m_fd);
        m_fd = -1;
        return false;
    }
    return true;
}

void CFileHasher::Advance(uint64_t available) {
    m_available.store(available);
    if (m_waiting.load()) {
        std::lock_guard<std::mutex> lock(m_lock);
        m_wake.notify_one();
    }
}

uint32_t CFileHasher::Finish(std::string& checksum) {
    checksum.clear();
    if (!m_thread.joinable()) {
        return EINVAL;
    }
    {
        std::lock_guard<std::mutex> lock(m_lock);
        m_final.store(true);
        m_wake.notify_one();
    }
    m_thread.join();
    ::close(m_fd);
    m_fd = -1;
    checksum = m_checksum;
    return m_result;
}

void CFileHasher::Abandon() {
    if (m_thread.joinable()) {
        {
            std::lock_guard<std::mutex> lock(m_lock);
            m_cancel.store(true);
            m_wake.notify_one();
        }
        m_thread.join();
    }
    if (m_fd >= 0) {
        ::close(m_fd);
        m_fd = -1;
    }
}

void CFileHasher::Work() {
    std::unique_ptr<EVP_MD_CTX, MdCtxDeleter> ctx(EVP_MD_CTX_new());
    if (!ctx || EVP_DigestInit_ex(ctx.get(), EVP_md5(), nullptr) != 1) {
        m_result = ENOMEM;
        return;
    }
    std::unique_ptr<unsigned char[]> buffer(new (std::nothrow) unsigned char[kReadSize]);
    if (!buffer) {
        m_result = ENOMEM;
        return;
    }
    auto stopped = [this] {
        return m_pRunning != nullptr && !m_pRunning->load(std::memory_order_relaxed);
    };
    uint64_t hashed = 0;
    for (;;) {
        if (m_cancel.load()) {
            return;
        }
        const uint64_t available = m_available.load();
        if (hashed >= available) {
            if (m_final.load() && hashed >= m_available.load()) {
                break;
            }
            if (stopped()) {
                m_result = STOPPED_BY_REQUEST;
                return;
            }
            std::unique_lock<std::mutex> lock(m_lock);
            m_waiting.store(true);
            m_wake.wait_for(lock, std::chrono::milliseconds(50), [&] {
                return m_cancel.load() || m_final.load() || m_available.load() > hashed;
            });
            m_waiting.store(false);
            continue;
        }
        const size_t want = static_cast<size_t>(std::min<uint64_t>(kReadSize, available - hashed));
        const ssize_t got = ::pread(m_fd, buffer.get(), want, static_cast<off_t>(hashed));
        if (got < 0) {
            if (errno == EINTR) {
                continue;
            }
            m_result = static_cast<uint32_t>(errno);
            return;
        }
        if (got == 0) {
            // The file is shorter than the writer said: somebody else changed it.
            m_result = EIO;
            return;
        }
        for (size_t offset = 0; offset < static_cast<size_t>(got); offset += kHashBlock) {
            if (stopped()) {
                m_result = STOPPED_BY_REQUEST;
                return;
            }
            const size_t n = std::min(kHashBlock, static_cast<size_t>(got) - offset);
            if (EVP_DigestUpdate(ctx.get(), buffer.get() + offset, n) != 1) {
                m_result = EIO;
                return;
            }
        }
        hashed += static_cast<uint64_t>(got);
    }
    // Bytes past the announced end would be missed: the file must end where the writer said.
    unsigned char probe;
    if (::pread(m_fd, &probe, 1, static_cast<off_t>(hashed)) != 0) {
        m_result = EIO;
        return;
    }
    if (stopped()) {
        m_result = STOPPED_BY_REQUEST;
        return;
    }
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (EVP_DigestFinal_ex(ctx.get(), digest, &length) != 1 || length != 16) {
        m_result = EIO;
        return;
    }
    m_checksum = ChecksumText(digest, length);
}
