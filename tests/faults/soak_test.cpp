// A hundred stops and starts of one worker during one long download: every stop is quick,
// nothing on disk is ever wrong, the run completes in the end, and no thread, file
// descriptor or memory is left behind.
#include <dirent.h>
#include <gtest/gtest.h>
#include <malloc.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <memory>
#include <random>
#include <string>
#include <thread>

#include "download/download_queue.h"
#include "download/download_thread.h"
#include "download/http_client.h"
#include "faults/faults_support.h"
#include "platform/string_table.h"
#include "support/fault_server.h"
#include "support/sandbox.h"
#include "support/test_data.h"

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using namespace faults;

namespace {

#if defined(__SANITIZE_ADDRESS__)
// AddressSanitizer holds freed memory in quarantine, so resident memory says nothing; its leak
// check at exit finds lost blocks instead.
constexpr bool kMeasureMemory = false;
#else
constexpr bool kMeasureMemory = true;
#endif

constexpr int kCycles = 100;
constexpr uint32_t kSeed = 777;
const HttpTimeouts kQuick{2000, 2};

size_t CountEntries(const char* folder) {
    size_t count = 0;
    if (DIR* dir = ::opendir(folder)) {
        while (const dirent* entry = ::readdir(dir)) {
            count += entry->d_name[0] != '.';
        }
        ::closedir(dir);
    }
    return count;
}

struct Usage {
    size_t threads = 0;
    size_t fds = 0;
    uint64_t rssBytes = 0;
};

Usage Measure() {
    ::malloc_trim(0);
    Usage usage;
    usage.threads = CountEntries("/proc/self/task");
    usage.fds = CountEntries("/proc/self/fd");
    unsigned long size = 0;
    unsigned long resident = 0;
    if (FILE* statm = std::fopen("/proc/self/statm", "r")) {
        if (std::fscanf(statm, "%lu %lu", &size, &resident) != 2) {
            resident = 0;
        }
        std::fclose(statm);
    }
    usage.rssBytes =
        static_cast<uint64_t>(resident) * static_cast<uint64_t>(::sysconf(_SC_PAGESIZE));
    return usage;
}

// One run of the worker to its end, for the one-time set-up of the libraries.
void WarmUp(const Corpus& corpus) {
    FaultServer server;
    ServeCorpus(server, corpus);
    Sandbox box;
    CDownloadQueue queue;
    CDownloadThread worker(MakeList(server.BaseUrl(), corpus), &queue,
                           (box.Path() / "install").string(), kQuick);
    const RunOutcome run = RunToEnd(worker, queue);
    ASSERT_TRUE(run.result);
    ASSERT_EQ(run.result->bSucceeded, 1) << run.result->szMessage;
}

TEST(StopStartSoak, AHundredStopsAndStartsLeakNothingAndTheRunCompletes) {
    const Corpus corpus{
        {"a.bin", MakeBytes(50000, 81)},
        // Hashed while it arrives: every start begins a hashing thread, every stop ends one.
        {"data/big.pak", MakeBytes(5 * 1024 * 1024, 82)},
        {"c.bin", MakeBytes(300000, 83)},
    };
    CHttpClient::GlobalInit();
    WarmUp(corpus);
    const Usage before = Measure();

    int finishedEarly = 0;
    {
        FaultServer server;
        ServeCorpus(server, corpus, [](FaultRoute& r) { r.trickleBytesPerSecond = 250000; });
        Sandbox box;
        const fs::path install = box.Path() / "install";
        CDownloadQueue queue;
        CDownloadThread worker(MakeList(server.BaseUrl(), corpus), &queue, install.string(),
                               kQuick);
        worker.SetJobs(TestJobs());
        std::mt19937 random(kSeed);
        std::uniform_int_distribution<int> runMs(0, 40);
        for (int cycle = 0; cycle < kCycles; ++cycle) {
            SCOPED_TRACE("cycle " + std::to_string(cycle));
            ASSERT_TRUE(worker.Start());
            std::this_thread::sleep_for(std::chrono::milliseconds(runMs(random)));
            const auto begin = Clock::now();
            worker.Stop();
            EXPECT_LT(Clock::now() - begin, 1500ms);
            ASSERT_TRUE(worker.HasEnded());
            const std::unique_ptr<DownloadResult> result = queue.WaitFinished(2000ms);
            ASSERT_TRUE(result);
            if (result->bSucceeded) {
                ++finishedEarly;
            } else {
                // A stop has no message of its own; one that lands in the check of a
                // finished file is told as a failed checksum, and the text stays.
                EXPECT_TRUE(result->szMessage.empty() || result->szMessage == LoadFormatString(121))
                    << result->szMessage;
            }
            ASSERT_EQ(CheckPrefixes(install, corpus), "");
        }
        EXPECT_EQ(finishedEarly, 0);
        EXPECT_GT(FileSize(install / "data/big.pak"), 0u);
        std::cout << "[ soak ] " << kCycles << " stops with " << FileSize(install / "data/big.pak")
                  << " bytes of the big file in place\n";

        ServeCorpus(server, corpus);
        const RunOutcome run = RunToEnd(worker, queue);
        ASSERT_TRUE(run.result);
        EXPECT_EQ(run.result->bSucceeded, 1) << run.result->szMessage;
        EXPECT_EQ(CheckComplete(install, corpus), "");
        EXPECT_EQ(queue.Size(), 0u);
    }

    // The server's threads are joined by now; give a thread that is leaving a moment.
    Usage after = Measure();
    for (int i = 0; i < 100 && after.threads > before.threads; ++i) {
        std::this_thread::sleep_for(20ms);
        after = Measure();
    }
    std::cout << "[ soak ] threads " << before.threads << " -> " << after.threads << ", fds "
              << before.fds << " -> " << after.fds << ", resident KiB " << before.rssBytes / 1024
              << " -> " << after.rssBytes / 1024 << "\n";
    EXPECT_EQ(after.threads, before.threads);
    EXPECT_EQ(after.fds, before.fds);
    // A worker's client and buffers are a third of a mebibyte: a hundred lost ones would
    // show far beyond this.
    if (kMeasureMemory) {
        EXPECT_LT(after.rssBytes, before.rssBytes + (16u << 20))
            << "resident memory grew from " << before.rssBytes << " to " << after.rssBytes;
    }
}

}  // namespace
