// CFileHasher on its own: the MD5 of a file hashed on a second thread while a writer appends
// to it, its stop and its end without a result, and files that change under it.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <future>
#include <string>
#include <thread>

#include "download/checksum.h"
#include "download/file_hasher.h"
#include "support/sandbox.h"
#include "support/test_data.h"

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

namespace {

// A file that a test appends to as a download would, telling the hasher each time.
class GrowingFile {
public:
    explicit GrowingFile(const std::filesystem::path& path)
        : m_fd(::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644)) {}
    ~GrowingFile() {
        if (m_fd >= 0) {
            ::close(m_fd);
        }
    }
    bool Append(const std::string& bytes) {
        return m_fd >= 0 &&
               ::write(m_fd, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
    }
    int Fd() const { return m_fd; }

private:
    int m_fd;
};

// Runs Finish on another thread, so a test can fail instead of hanging when it never returns.
uint32_t FinishWithin(CFileHasher& hasher, std::string& checksum, std::chrono::milliseconds limit) {
    std::promise<uint32_t> result;
    std::future<uint32_t> done = result.get_future();
    std::thread finisher([&] { result.set_value(hasher.Finish(checksum)); });
    const bool ended = done.wait_for(limit) == std::future_status::ready;
    finisher.join();
    EXPECT_TRUE(ended) << "Finish took longer than " << limit.count() << " ms";
    return done.get();
}

// The digest is that of every byte written, whether it was there at Begin or came in steps
// of any size, across the hasher's read size and not on its block boundaries.
TEST(FileHasher, HashesTheBytesAsTheyArrive) {
    struct Case {
        const char* label;
        size_t present;  // bytes on disk before Begin (a resumed part)
        size_t step;     // bytes per append
        size_t size;
    };
    const Case cases[] = {
        {"empty file", 0, 1, 0},
        {"one byte", 0, 1, 1},
        {"in small steps", 0, 1000, 70001},
        {"in steps larger than a read", 0, 300000, 1100000},
        {"resumed part, then the rest", 400000, 65536, 1000003},
        {"all there before Begin", 5000, 1, 5000},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        Sandbox box;
        const std::string bytes = MakeBytes(c.size, 7);
        const std::filesystem::path path = box.Path() / "f.bin";
        GrowingFile file(path);
        ASSERT_TRUE(file.Append(bytes.substr(0, c.present)));

        std::atomic<bool> running{true};
        CFileHasher hasher;
        ASSERT_TRUE(hasher.Begin(path.string(), c.present, &running));
        for (size_t at = c.present; at < c.size; at += c.step) {
            const size_t n = std::min(c.step, c.size - at);
            ASSERT_TRUE(file.Append(bytes.substr(at, n)));
            hasher.Advance(at + n);
        }
        std::string checksum;
        EXPECT_EQ(FinishWithin(hasher, checksum, 10000ms), 0u);
        EXPECT_EQ(checksum, Md5Hex(bytes));
    }
}

// The hasher can be used for one file after another.
TEST(FileHasher, BeginsAgainAfterFinish) {
    Sandbox box;
    std::atomic<bool> running{true};
    CFileHasher hasher;
    for (const uint32_t seed : {1u, 2u}) {
        const std::string bytes = MakeBytes(50000, seed);
        const std::filesystem::path path = box.Write("f" + std::to_string(seed), bytes);
        ASSERT_TRUE(hasher.Begin(path.string(), bytes.size(), &running));
        std::string checksum;
        EXPECT_EQ(FinishWithin(hasher, checksum, 10000ms), 0u);
        EXPECT_EQ(checksum, Md5Hex(bytes));
    }
}

// A stop ends the hashing whether the thread waits for bytes or is reading a big file: Finish
// returns the stop's code at once and no checksum.
TEST(FileHasher, StopEndsTheHashing) {
    struct Case {
        const char* label;
        bool big;  // a sparse file of a GiB, all of it available: the stop lands mid-read
    };
    for (const Case& c : {Case{"waiting for bytes", false}, Case{"reading a big file", true}}) {
        SCOPED_TRACE(c.label);
        Sandbox box;
        const std::filesystem::path path = box.Path() / "f.bin";
        GrowingFile file(path);
        uint64_t available = 0;
        if (c.big) {
            available = 1ull << 30;
            ASSERT_EQ(::ftruncate(file.Fd(), static_cast<off_t>(available)), 0);
        } else {
            ASSERT_TRUE(file.Append(MakeBytes(10000, 3)));
            available = 10000;
        }
        std::atomic<bool> running{true};
        CFileHasher hasher;
        ASSERT_TRUE(hasher.Begin(path.string(), available, &running));
        std::this_thread::sleep_for(50ms);
        running = false;

        const auto begin = Clock::now();
        std::string checksum = "stale";
        EXPECT_EQ(FinishWithin(hasher, checksum, 5000ms), STOPPED_BY_REQUEST);
        EXPECT_LT(Clock::now() - begin, 2s);
        EXPECT_EQ(checksum, "");
    }
}

// Ending without a result (or destroying the hasher) ends its thread while it waits for bytes
// that never come, and leaves it ready for another file.
TEST(FileHasher, AbandonEndsAWaitingThread) {
    Sandbox box;
    const std::string bytes = MakeBytes(20000, 4);
    const std::filesystem::path path = box.Write("f.bin", bytes);
    std::atomic<bool> running{true};
    {
        CFileHasher hasher;
        // Hashes what is available, then waits for more.
        ASSERT_TRUE(hasher.Begin(path.string(), 10000, &running));
        std::this_thread::sleep_for(20ms);
        const auto begin = Clock::now();
        hasher.Abandon();
        EXPECT_LT(Clock::now() - begin, 2s);

        ASSERT_TRUE(hasher.Begin(path.string(), bytes.size(), &running));
        std::string checksum;
        EXPECT_EQ(FinishWithin(hasher, checksum, 10000ms), 0u);
        EXPECT_EQ(checksum, Md5Hex(bytes));

        ASSERT_TRUE(hasher.Begin(path.string(), 10000, &running));
    }  // the destructor ends the waiting thread
    SUCCEED();
}

// The digest must be of exactly the bytes the writer announced: a file cut shorter while it
// is hashed, or one with bytes past its announced end, is an error, never a checksum.
TEST(FileHasher, AFileThatChangesUnderItIsAnError) {
    struct Case {
        const char* label;
        uint64_t available;  // at Begin; the rest is announced after the change
        off_t truncateTo;    // -1: the file keeps its 300,000 bytes
        uint64_t announced;
    };
    const Case cases[] = {
        {"cut shorter while hashed", 100000, 50000, 300000},
        {"longer than announced", 200000, -1, 200000},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        Sandbox box;
        const std::filesystem::path path = box.Write("f.bin", MakeBytes(300000, 5));
        std::atomic<bool> running{true};
        CFileHasher hasher;
        ASSERT_TRUE(hasher.Begin(path.string(), c.available, &running));
        std::this_thread::sleep_for(20ms);
        if (c.truncateTo >= 0) {
            ASSERT_EQ(::truncate(path.c_str(), c.truncateTo), 0);
        }
        hasher.Advance(c.announced);
        std::string checksum;
        EXPECT_EQ(FinishWithin(hasher, checksum, 10000ms), static_cast<uint32_t>(EIO));
        EXPECT_EQ(checksum, "");
    }
}

TEST(FileHasher, RefusesWhatItCannotHash) {
    std::atomic<bool> running{true};
    CFileHasher hasher;
    EXPECT_FALSE(hasher.Begin(-1, 0, &running));
    EXPECT_FALSE(hasher.Begin("/nonexistent/qb-hasher", 0, &running));
    std::string checksum;
    EXPECT_EQ(hasher.Finish(checksum), static_cast<uint32_t>(EINVAL));
}

}  // namespace
