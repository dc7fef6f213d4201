#include "download/checksum.h"

#include <fcntl.h>
#include <openssl/evp.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <memory>

namespace {

constexpr size_t kHashBlock = 1024;
// Read from disk in large pieces for speed; the stop test still runs per 1,024-byte block.
constexpr size_t kReadSize = 256 * 1024;

struct FdCloser {
    int fd;
    ~FdCloser() {
        if (fd >= 0) {
            ::close(fd);
        }
    }
};

struct MdCtxDeleter {
    void operator()(EVP_MD_CTX* ctx) const { EVP_MD_CTX_free(ctx); }
};

bool Stopped(const std::atomic<bool>* running) {
    return running != nullptr && !running->load(std::memory_order_relaxed);
}

}  // namespace

uint32_t GetFileChecksum(const std::string& path, std::string& checksum,
                         const std::atomic<bool>* running) {
    checksum.clear();
    FdCloser file{::open(path.c_str(), O_RDONLY | O_CLOEXEC)};
    if (file.fd < 0) {
        return static_cast<uint32_t>(errno);
    }
    return GetFileChecksum(file.fd, checksum, running);
}

uint32_t GetFileChecksum(int fd, std::string& checksum, const std::atomic<bool>* running) {
    checksum.clear();
    ::posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);

    std::unique_ptr<EVP_MD_CTX, MdCtxDeleter> ctx(EVP_MD_CTX_new());
    if (!ctx || EVP_DigestInit_ex(ctx.get(), EVP_md5(), nullptr) != 1) {
        return ENOMEM;
    }
    std::unique_ptr<unsigned char[]> buffer(new unsigned char[kReadSize]);
    for (;;) {
        const ssize_t got = ::read(fd, buffer.get(), kReadSize);
        if (got < 0) {
            if (errno == EINTR) {
                continue;
            }
            return static_cast<uint32_t>(errno);
        }
        if (got == 0) {
            // A stopped worker never gets a checksum, not even of an empty file.
            if (Stopped(running)) {
                return STOPPED_BY_REQUEST;
            }
            break;
        }
        for (size_t offset = 0; offset < static_cast<size_t>(got); offset += kHashBlock) {
            if (Stopped(running)) {
                return STOPPED_BY_REQUEST;
            }
            const size_t n = std::min(kHashBlock, static_cast<size_t>(got) - offset);
            if (EVP_DigestUpdate(ctx.get(), buffer.get() + offset, n) != 1) {
                return EIO;
            }
        }
    }
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (EVP_DigestFinal_ex(ctx.get(), digest, &length) != 1 || length != 16) {
        return EIO;
    }
    checksum = ChecksumText(digest, length);
    return 0;
}

std::string ChecksumText(const unsigned char* digest, unsigned int length) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string text;
    text.reserve(2 * length);
    for (unsigned int i = 0; i < length; ++i) {
        text.push_back(kHex[digest[i] >> 4]);
        text.push_back(kHex[digest[i] & 0x0F]);
    }
    return text;
}
