#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <filesystem>
#include <string>

#include "platform/disk.h"
#include "support/sandbox.h"

namespace fs = std::filesystem;

namespace {

uint64_t UserFreeBytes(const fs::path& path) {
    struct statvfs st {};
    if (::statvfs(path.c_str(), &st) != 0) {
        ADD_FAILURE() << "statvfs " << path;
        return 0;
    }
    return static_cast<uint64_t>(st.f_bavail) * st.f_frsize;
}

// Other processes write while the test runs: the answer must lie between two readings of
// the right file system, give or take a little.
void ExpectFreeBytesOf(const std::string& query, const fs::path& measured) {
    constexpr uint64_t kSlack = 64ull << 20;
    const uint64_t before = UserFreeBytes(measured);
    const uint64_t got = GetDiskFreeSize(query.c_str());
    const uint64_t after = UserFreeBytes(measured);
    EXPECT_GT(got, 0u) << query;
    EXPECT_GE(got + kSlack, std::min(before, after)) << query;
    EXPECT_LE(got, std::max(before, after) + kSlack) << query;
}

TEST(GetDiskFreeSize, GivesZeroForPathsItDoesNotMeasure) {
    EXPECT_EQ(GetDiskFreeSize(nullptr), 0u);
    for (const char* path : {"", "relative/folder", "./x", "~/Games", "C:", "D:\\Games",
                             "//host/share", "//host/share/folder"}) {
        EXPECT_EQ(GetDiskFreeSize(path), 0u) << path;
    }
}

TEST(GetDiskFreeSize, MeasuresTheNearestExistingAncestor) {
    Sandbox box;
    box.Write("file.bin", "x");
    const std::string root = box.Path().string();
    ExpectFreeBytesOf(root, box.Path());
    ExpectFreeBytesOf(root + "/", box.Path());
    ExpectFreeBytesOf(root + "/not/yet/made/Talvermoor", box.Path());
    ExpectFreeBytesOf(root + "/not//yet///", box.Path());
    // A file where a folder is expected does not stop the walk upwards.
    ExpectFreeBytesOf(root + "/file.bin/below", box.Path());
    ExpectFreeBytesOf("/", "/");
}

TEST(GetDiskFreeSize, StopsAtTheFileSystemOfTheAncestor) {
    // A missing folder on a separate file system must be measured there, not at "/".
    struct statvfs shm {
    }, root{};
    if (::statvfs("/dev/shm", &shm) != 0 || ::statvfs("/", &root) != 0 ||
        shm.f_fsid == root.f_fsid) {
        GTEST_SKIP() << "/dev/shm is not a file system of its own here";
    }
    const std::string missing = "/dev/shm/qb-missing-" + std::to_string(::getpid()) + "/a/b";
    ExpectFreeBytesOf(missing, "/dev/shm");
    EXPECT_FALSE(fs::exists(fs::path(missing).parent_path().parent_path()));
}

TEST(GetFileSize64, ReportsSizeOrErrno) {
    Sandbox box;
    const fs::path empty = box.Write("empty", "");
    const fs::path small = box.Write("small", std::string(12345, 'z'));

    uint64_t size = 777;
    EXPECT_EQ(GetFileSize64(small.c_str(), &size), 0u);
    EXPECT_EQ(size, 12345u);
    EXPECT_EQ(GetFileSize64(empty.c_str(), &size), 0u);
    EXPECT_EQ(size, 0u);

    // Failures leave the output alone.
    size = 777;
    EXPECT_EQ(GetFileSize64((box.Path() / "missing").c_str(), &size), uint32_t{ENOENT});
    EXPECT_EQ(GetFileSize64((box.Path() / "small" / "below").c_str(), &size), uint32_t{ENOTDIR});
    EXPECT_NE(GetFileSize64(box.Path().c_str(), &size), 0u);
    EXPECT_EQ(GetFileSize64(nullptr, &size), uint32_t{EINVAL});
    EXPECT_EQ(size, 777u);
    EXPECT_EQ(GetFileSize64(small.c_str(), nullptr), uint32_t{EINVAL});
}

TEST(GetFileSize64, HandlesFilesOfFourGibibytesAndMore) {
    Sandbox box;
    const fs::path big = box.Path() / "sparse.bin";
    const uint64_t length = (5ull << 30) + 7;
    const int fd = ::open(big.c_str(), O_WRONLY | O_CREAT, 0644);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::ftruncate(fd, static_cast<off_t>(length)), 0);
    ::close(fd);
    uint64_t size = 0;
    EXPECT_EQ(GetFileSize64(big.c_str(), &size), 0u);
    EXPECT_EQ(size, length);
}

}  // namespace
