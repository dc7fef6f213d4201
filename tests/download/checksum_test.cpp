#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>

#include "download/checksum.h"
#include "support/sandbox.h"
#include "support/test_data.h"

namespace {

std::string Md5sumCommand(const std::string& path) {
    std::string out;
    FILE* pipe = ::popen(("md5sum '" + path + "'").c_str(), "r");
    if (pipe == nullptr) {
        return out;
    }
    char buffer[256];
    while (std::fgets(buffer, sizeof buffer, pipe) != nullptr) {
        out += buffer;
    }
    ::pclose(pipe);
    out = out.substr(0, out.find(' '));
    std::transform(out.begin(), out.end(), out.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    return out;
}

TEST(GetFileChecksum, GivesUpperCaseMd5OfTheWholeFile) {
    struct Case {
        std::string bytes;
        const char* md5;
    };
    const Case cases[] = {
        {"", "D41D8CD98F00B204E9800998ECF8427E"},
        {"a", "0CC175B9C0F1B6A831C399E269772661"},
        {"abc", "900150983CD24FB0D6963F7D28E17F72"},
        // Exactly one hashing block, and one byte over.
        {std::string(1024, 'q'), nullptr},
        {std::string(1025, 'q'), nullptr},
    };
    Sandbox box;
    for (const Case& c : cases) {
        const auto path = box.Write("file", c.bytes);
        std::string checksum = "left over";
        EXPECT_EQ(GetFileChecksum(path, checksum), 0u) << c.bytes.size();
        EXPECT_EQ(checksum, c.md5 ? std::string(c.md5) : Md5Hex(c.bytes)) << c.bytes.size();

        const std::atomic<bool> running{true};
        EXPECT_EQ(GetFileChecksum(path, checksum, &running), 0u);
        EXPECT_EQ(checksum, c.md5 ? std::string(c.md5) : Md5Hex(c.bytes)) << c.bytes.size();
    }
}

TEST(GetFileChecksum, MatchesMd5sumOnAMultiMegabyteFile) {
    Sandbox box;
    const std::string bytes = MakeBytes((5u << 20) + 777, 20230814);
    const auto path = box.Write("big.pak", bytes);
    const std::string expected = Md5sumCommand(path);
    ASSERT_EQ(expected.size(), 32u) << "md5sum gave no digest";

    std::string checksum;
    const std::atomic<bool> running{true};
    EXPECT_EQ(GetFileChecksum(path, checksum, &running), 0u);
    EXPECT_EQ(checksum, expected);
}

TEST(GetFileChecksum, ReportsErrnoWithEmptyOutput) {
    Sandbox box;
    box.Write("file", "abc");
    struct Case {
        std::string path;
        uint32_t code;
    };
    const Case cases[] = {
        {(box.Path() / "missing").string(), ENOENT},
        {(box.Path() / "file" / "below").string(), ENOTDIR},
        {box.Path().string(), EISDIR},
        {"", ENOENT},
    };
    for (const Case& c : cases) {
        std::string checksum = "left over";
        EXPECT_EQ(GetFileChecksum(c.path, checksum), c.code) << c.path;
        EXPECT_EQ(checksum, "") << c.path;
    }
}

TEST(GetFileChecksum, AStoppedWorkerGetsNoChecksum) {
    Sandbox box;
    const std::atomic<bool> stopped{false};
    for (const std::string& bytes : {std::string(), std::string("abc"), MakeBytes(300000, 1)}) {
        const auto path = box.Write("file", bytes);
        std::string checksum = "left over";
        EXPECT_EQ(GetFileChecksum(path, checksum, &stopped), STOPPED_BY_REQUEST) << bytes.size();
        EXPECT_EQ(checksum, "");
    }
}

TEST(GetFileChecksum, StopsWithinABlockWhileTheFileKeepsComing) {
    // A pipe stands for a file that is still long: the writer decides when data comes, so
    // the stop falls between two blocks for certain.
    Sandbox box;
    const std::string fifo = (box.Path() / "fifo").string();
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);

    std::atomic<bool> running{true};
    std::atomic<bool> done{false};
    std::atomic<std::chrono::steady_clock::time_point> stoppedAt{};
    std::thread writer([&] {
        const int fd = ::open(fifo.c_str(), O_WRONLY);
        if (fd < 0) {
            return;
        }
        const std::string block(1024, 'x');
        (void)!::write(fd, block.data(), block.size());
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        stoppedAt = std::chrono::steady_clock::now();
        running = false;
        (void)!::write(fd, block.data(), block.size());
        // Keep the pipe open so that only the stop can end the checksum early.
        for (int i = 0; i < 50 && !done; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
        ::close(fd);
    });

    std::string checksum = "left over";
    const uint32_t result = GetFileChecksum(fifo, checksum, &running);
    const auto waited = std::chrono::steady_clock::now() - stoppedAt.load();
    done = true;
    writer.join();
    EXPECT_EQ(result, STOPPED_BY_REQUEST);
    EXPECT_EQ(checksum, "");
    EXPECT_LT(waited, std::chrono::seconds(1));
}

}  // namespace
