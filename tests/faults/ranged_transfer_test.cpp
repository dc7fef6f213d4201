// A large file from a far server comes over several connections in ranges, written in order:
// the ranges cover the file once, a stop leaves a prefix to resume, a server that ignores
// ranges or cuts them short still ends as over one connection.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "download/download_queue.h"
#include "download/download_thread.h"
#include "faults/faults_support.h"
#include "platform/string_table.h"
#include "support/fault_server.h"
#include "support/log_capture.h"
#include "support/sandbox.h"
#include "support/test_data.h"

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using namespace faults;

namespace {

// Three ranges of 2 MiB and a short one.
const Corpus& BigFile() {
    static const Corpus corpus{{"data/world.pak", MakeBytes(6 * 1024 * 1024 + 4321, 601)}};
    return corpus;
}

// Eight ranges of 2 MiB and a short one: more than the connections take at once.
const Corpus& LargerFile() {
    static const Corpus corpus{{"data/world.pak", MakeBytes(16 * 1024 * 1024 + 4321, 602)}};
    return corpus;
}

// Every answer comes after a pause, as from a server far away.
void ServeFar(FaultServer& server, const std::function<void(FaultRoute&)>& shape = {},
              const Corpus& corpus = BigFile()) {
    ServeCorpus(server, corpus, [&](FaultRoute& r) {
        r.stallBeforeHeadersMs = 30;
        if (shape) {
            shape(r);
        }
    });
}

std::unique_ptr<CDownloadThread> MakeWorker(const FaultServer& server, const fs::path& install,
                                            CDownloadQueue& queue,
                                            const Corpus& corpus = BigFile()) {
    auto worker = std::make_unique<CDownloadThread>(MakeList(server.BaseUrl(), corpus), &queue,
                                                    install.string(), HttpTimeouts{2000, 10});
    worker->SetJobs(4);
    worker->SetRangeThresholds({1024 * 1024, 10});
    return worker;
}

// The bounded ranges asked for after the first request (whose answer is dropped), sorted.
std::vector<std::string> Ranges(const FaultServer& server, size_t from = 1) {
    std::vector<std::string> out;
    const std::vector<FaultRequest> requests = server.Requests();
    for (size_t i = from; i < requests.size(); ++i) {
        out.push_back(requests[i].Header("Range"));
    }
    std::sort(out.begin(), out.end());
    return out;
}

TEST(RangedTransfer, AFarServersLargeFileComesInRangesThatCoverItOnce) {
    FaultServer server;
    ServeFar(server);
    Sandbox box;
    CDownloadQueue queue;
    auto worker = MakeWorker(server, box.Path() / "install", queue);
    const RunOutcome run = RunToEnd(*worker, queue);
    ASSERT_TRUE(run.result);
    EXPECT_EQ(run.result->bSucceeded, 1) << run.result->szMessage;
    EXPECT_EQ(CheckComplete(box.Path() / "install", BigFile()), "");
    EXPECT_EQ(server.Requests().front().Header("Range"), "");
    EXPECT_EQ(Ranges(server),
              (std::vector<std::string>{"bytes=0-2097151", "bytes=2097152-4194303",
                                        "bytes=4194304-6291455", "bytes=6291456-6295776"}));
    EXPECT_GT(server.ConnectionCount(), 2u);
    // The records only ever grow, up to the whole file.
    uint64_t last = 0;
    for (const auto& record : run.progress) {
        EXPECT_GE(record->nFileDone, last);
        last = record->nFileDone;
    }
    EXPECT_EQ(last, BigFile()[0].bytes.size());

    // A near server, or one file at a time: one request, no ranges.
    for (const int jobs : {1, 4}) {
        SCOPED_TRACE(jobs);
        FaultServer near;
        ServeCorpus(near, BigFile());
        Sandbox other;
        CDownloadQueue q;
        auto plain = MakeWorker(near, other.Path() / "install", q);
        plain->SetJobs(jobs);
        if (jobs == 4) {
            plain->SetRangeThresholds({1024 * 1024, 60000});
        }
        const RunOutcome done = RunToEnd(*plain, q);
        ASSERT_TRUE(done.result);
        EXPECT_EQ(done.result->bSucceeded, 1);
        EXPECT_EQ(near.Requests().size(), 1u);
    }
}

// A stop while ranges are under way leaves the first bytes of the file, never a hole; the next
// run asks only for what is missing.
TEST(RangedTransfer, AStopLeavesAPrefixAndTheNextRunFetchesTheRest) {
    FaultServer server;
    ServeFar(
        server, [](FaultRoute& r) { r.trickleBytesPerSecond = 2000000; }, LargerFile());
    Sandbox box;
    const fs::path install = box.Path() / "install";
    CDownloadQueue queue;
    auto worker = MakeWorker(server, install, queue, LargerFile());
    ASSERT_TRUE(worker->Start());
    const auto deadline = std::chrono::steady_clock::now() + 10s;
    while (FileSize(install / LargerFile()[0].name) == 0 &&
           std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(10ms);
    }
    worker->Stop();
    ASSERT_TRUE(queue.WaitFinished(2000ms));
    const uint64_t partial = FileSize(install / LargerFile()[0].name);
    EXPECT_GT(partial, 0u);
    EXPECT_LT(partial, LargerFile()[0].bytes.size());
    EXPECT_EQ(partial % (2 * 1024 * 1024), 0u);
    EXPECT_EQ(CheckPrefixes(install, LargerFile()), "");

    ServeFar(server, {}, LargerFile());
    const size_t before = server.Requests().size();
    const RunOutcome healed = RunToEnd(*worker, queue);
    ASSERT_TRUE(healed.result);
    EXPECT_EQ(healed.result->bSucceeded, 1) << healed.result->szMessage;
    EXPECT_EQ(CheckComplete(install, LargerFile()), "");
    const std::vector<std::string> ranges = Ranges(server, before + 1);
    ASSERT_FALSE(ranges.empty());
    EXPECT_EQ(server.Requests()[before].Header("Range"), "bytes=" + std::to_string(partial) + "-");
    for (const std::string& range : ranges) {
        EXPECT_GE(std::stoull(range.substr(6)), partial) << range;
    }
}

// A server that answers a range with the whole file, and one that cuts every answer short:
// the first goes on over one connection, the second ends as over one connection, and with
// automatic retry it ends complete.
TEST(RangedTransfer, ServersThatIgnoreOrCutRangesEndAsOverOneConnection) {
    {
        FaultServer server;
        ServeFar(server, [](FaultRoute& r) { r.ignoreRange = true; });
        Sandbox box;
        LogCapture log(box.Path() / "log", true);
        CDownloadQueue queue;
        auto worker = MakeWorker(server, box.Path() / "install", queue);
        const RunOutcome run = RunToEnd(*worker, queue);
        ASSERT_TRUE(run.result);
        EXPECT_EQ(run.result->bSucceeded, 1) << run.result->szMessage;
        EXPECT_EQ(CheckComplete(box.Path() / "install", BigFile()), "");
        const std::vector<std::string> lines = log.Lines();
        EXPECT_NE(std::find(lines.begin(), lines.end(),
                            "WARNING range requests are not answered with ranges"),
                  lines.end());
    }
    for (const bool retry : {false, true}) {
        SCOPED_TRACE(retry);
        FaultServer server;
        ServeFar(server, [](FaultRoute& r) { r.cutAfter = 1024 * 1024; });
        Sandbox box;
        CDownloadQueue queue;
        auto worker = MakeWorker(server, box.Path() / "install", queue);
        worker->SetAutoRetry(retry);
        worker->SetRetryDelays({});
        const RunOutcome run = RunToEnd(*worker, queue, 60s);
        ASSERT_TRUE(run.result);
        if (retry) {
            EXPECT_EQ(run.result->bSucceeded, 1) << run.result->szMessage;
            EXPECT_EQ(CheckComplete(box.Path() / "install", BigFile()), "");
        } else {
            EXPECT_EQ(run.result->bSucceeded, 0);
            EXPECT_EQ(run.result->szMessage, LoadFormatString(119, 99L));
            EXPECT_EQ(CheckPrefixes(box.Path() / "install", BigFile()), "");
        }
    }
}

// A large file still coming slowly over one connection once every other file is done gets the
// rest in ranges over the connections the ended lanes gave up; the ranges cover the rest once,
// from where the first answer stopped. A server that answers those ranges with the whole file
// sees the file once more over one connection.
TEST(RangedTransfer, AFileLeftAloneOnOneSlowConnectionGetsTheRestInRanges) {
    Corpus corpus = BigFile();
    for (int i = 0; i < 3; ++i) {
        corpus.push_back({"small" + std::to_string(i) + ".bin", MakeBytes(2000, 610 + i)});
    }
    const uint64_t size = corpus[0].bytes.size();
    for (const bool ignoreRange : {false, true}) {
        SCOPED_TRACE(ignoreRange);
        FaultServer server;
        ServeFar(
            server,
            [&](FaultRoute& r) {
                r.trickleBytesPerSecond = 2 * 1024 * 1024;
                r.ignoreRange = ignoreRange;
            },
            corpus);
        Sandbox box;
        LogCapture log(box.Path() / "log", true);
        CDownloadQueue queue;
        auto worker = MakeWorker(server, box.Path() / "install", queue, corpus);
        worker->SetRangeThresholds({1024 * 1024, 10, 1024 * 1024});
        const RunOutcome run = RunToEnd(*worker, queue, 60s);
        ASSERT_TRUE(run.result);
        EXPECT_EQ(run.result->bSucceeded, 1) << run.result->szMessage;
        EXPECT_EQ(CheckComplete(box.Path() / "install", corpus), "");
        std::vector<std::pair<uint64_t, uint64_t>> ranges;
        int resumes = 0;  // "bytes=N-"
        for (const FaultRequest& request : server.Requests()) {
            const std::string range = request.Header("Range");
            if (request.path != "/data/world.pak" || range.empty()) {
                continue;
            }
            const size_t dash = range.find('-');
            if (dash + 1 == range.size()) {
                ++resumes;
                continue;
            }
            ranges.emplace_back(std::stoull(range.substr(6, dash - 6)),
                                std::stoull(range.substr(dash + 1)));
        }
        std::sort(ranges.begin(), ranges.end());
        ASSERT_FALSE(ranges.empty());
        const bool warned = log.Has("WARNING range requests are not answered with ranges");
        if (ignoreRange) {
            // Refused at once: no more ranges, and the file again from what is on disk.
            EXPECT_TRUE(warned);
            EXPECT_EQ(resumes, 1);
        } else {
            EXPECT_FALSE(warned);
            EXPECT_EQ(resumes, 0);
            EXPECT_GT(ranges.front().first, 0u);
            EXPECT_LT(ranges.front().first, size - 1024 * 1024);
            for (size_t i = 1; i < ranges.size(); ++i) {
                EXPECT_EQ(ranges[i].first, ranges[i - 1].second + 1);
            }
            EXPECT_EQ(ranges.back().second, size - 1);
            EXPECT_GT(server.ConnectionCount(), 4u);
        }
    }
}

}  // namespace
