// Several transfers at once (SetJobs, --jobs): the same files, log lines and end as one at a
// time, each file's lines together in list order, records that show one file at a time in
// list order, a stop that leaves every partial file to resume, and a failure that ends all.
#include <gtest/gtest.h>

#include <chrono>
#include <deque>
#include <filesystem>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <thread>
#include <variant>
#include <vector>

#include "core/progress_model.h"
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
using Clock = std::chrono::steady_clock;
using namespace faults;

namespace {

const HttpTimeouts kQuick{2000, 5};
constexpr int kJobs = 4;

// Twelve files from a few bytes to past the size hashed while it arrives, in folders.
const Corpus& Files() {
    static const Corpus corpus = [] {
        Corpus c;
        const size_t sizes[] = {3000,  70000, 1,      250000, 5u << 20, 40000,
                                12000, 0,     600000, 9000,   130000,   64};
        for (size_t i = 0; i < std::size(sizes); ++i) {
            c.push_back({(i % 3 == 0 ? "data/f" : "f") + std::to_string(i) + ".bin",
                         MakeBytes(sizes[i], static_cast<uint32_t>(300 + i))});
        }
        return c;
    }();
    return corpus;
}

// What is on disk before a run: some files whole, some short, one longer, one corrupted.
void PrepareFolder(const fs::path& install, const Corpus& corpus) {
    WriteFile(install / corpus[0].name, corpus[0].bytes);
    WriteFile(install / corpus[3].name, corpus[3].bytes.substr(0, 100000));
    WriteFile(install / corpus[4].name, corpus[4].bytes.substr(0, 3u << 20));
    std::string corrupted = corpus[5].bytes;
    corrupted[100] = static_cast<char>(corrupted[100] ^ 1);
    WriteFile(install / corpus[5].name, corrupted);
    WriteFile(install / corpus[6].name, corpus[6].bytes + "longer");
    WriteFile(install / corpus[9].name, corpus[9].bytes);
}

struct Outcome {
    RunOutcome run;
    std::vector<std::string> log;
    uint64_t totalDone = 0;
};

Outcome RunWithCorpus(const std::string& url, const Corpus& corpus, const fs::path& install,
                      const fs::path& logFolder, int jobs) {
    LogCapture log(logFolder, true);
    CDownloadQueue queue;
    CDownloadThread worker(MakeList(url, corpus), &queue, install.string(), kQuick);
    worker.SetJobs(jobs);
    Outcome out;
    out.run = RunToEnd(worker, queue);
    out.log = log.Lines();
    out.totalDone = worker.TotalDone();
    return out;
}

std::set<uint64_t> Connections(const FaultServer& server) {
    std::set<uint64_t> out;
    for (const FaultRequest& request : server.Requests()) {
        out.insert(request.connection);
    }
    return out;
}

// The same folder brought into line by one transfer at a time and by several: the same files,
// the same log lines in the same order, the same count; the records go through the files in
// list order and every file's last record shows it whole.
TEST(ConcurrentTransfers, EndLikeOneAtATime) {
    const Corpus& corpus = Files();
    FaultServer server;
    // Every answer waits a little, so the transfers really overlap.
    ServeCorpus(server, corpus, [](FaultRoute& r) { r.stallBeforeHeadersMs = 50; });
    Sandbox box;
    PrepareFolder(box.Path() / "one", corpus);
    PrepareFolder(box.Path() / "many", corpus);

    const Outcome one =
        RunWithCorpus(server.BaseUrl(), corpus, box.Path() / "one", box.Path() / "log1", 1);
    ASSERT_TRUE(one.run.result);
    EXPECT_EQ(one.run.result->bSucceeded, 1) << one.run.result->szMessage;
    EXPECT_EQ(Connections(server).size(), 1u);
    const size_t requestsOfOne = server.Requests().size();

    const Outcome many =
        RunWithCorpus(server.BaseUrl(), corpus, box.Path() / "many", box.Path() / "log2", kJobs);
    ASSERT_TRUE(many.run.result);
    EXPECT_EQ(many.run.result->bSucceeded, 1) << many.run.result->szMessage;
    EXPECT_EQ(CheckComplete(box.Path() / "many", corpus), "");
    EXPECT_EQ(many.log, one.log);
    EXPECT_EQ(many.totalDone, one.totalDone);
    EXPECT_EQ(server.Requests().size(), 2 * requestsOfOne);
    EXPECT_GT(Connections(server).size(), 2u);

    int32_t last = 0;
    std::vector<uint64_t> finalDone(corpus.size(), 0);
    for (const auto& record : many.run.progress) {
        EXPECT_GE(record->nFileIndex, last);
        last = record->nFileIndex;
        const size_t i = static_cast<size_t>(record->nFileIndex);
        EXPECT_EQ(record->nFileTotal, corpus[i].bytes.size()) << i;
        finalDone[i] = record->nFileDone;
    }
    for (size_t i = 0; i < corpus.size(); ++i) {
        // The empty file shows no bytes; its record is there all the same.
        EXPECT_EQ(finalDone[i], corpus[i].bytes.size()) << i;
    }

    // What the window and the command line make of the records: every byte counted once,
    // the later files' bytes before their own file is shown.
    const CFileList list = MakeList(server.BaseUrl(), corpus);
    for (const Outcome* outcome : {&one, &many}) {
        CProgressModel model(list);
        model.OnStart();
        uint64_t beside = 0;
        for (const auto& record : outcome->run.progress) {
            model.Take(*record, record->dwStartTime + 1000);
            beside = std::max(beside, record->nOtherDone);
        }
        EXPECT_EQ(model.TotalReceived(), list.TotalSize);
        EXPECT_EQ(beside > 0, outcome == &many);
    }
}

// A stop ends every transfer within about a second; each file is absent, whole or a prefix,
// and the next run resumes every partial file with a range request, not just one.
TEST(ConcurrentTransfers, StopLeavesEveryPartialFileToResume) {
    const Corpus& corpus = Files();
    FaultServer server;
    ServeCorpus(server, corpus, [](FaultRoute& r) { r.trickleBytesPerSecond = 40000; });
    Sandbox box;
    const fs::path install = box.Path() / "install";
    CDownloadQueue queue;
    CDownloadThread worker(MakeList(server.BaseUrl(), corpus), &queue, install.string(),
                           HttpTimeouts{2000, 60});
    worker.SetJobs(kJobs);
    ASSERT_TRUE(worker.Start());
    const auto deadline = Clock::now() + 10s;
    while (Connections(server).size() < static_cast<size_t>(kJobs) && Clock::now() < deadline) {
        std::this_thread::sleep_for(10ms);
    }
    std::this_thread::sleep_for(500ms);

    const auto begin = Clock::now();
    worker.Stop();
    EXPECT_LT(Clock::now() - begin, 1500ms);
    EXPECT_TRUE(worker.HasEnded());
    const std::unique_ptr<DownloadResult> stopped = queue.WaitFinished(2000ms);
    ASSERT_TRUE(stopped);
    EXPECT_EQ(stopped->bSucceeded, 0);
    EXPECT_EQ(CheckPrefixes(install, corpus), "");

    std::vector<std::pair<std::string, uint64_t>> partial;
    for (const CorpusFile& file : corpus) {
        const uint64_t size = FileSize(install / file.name);
        if (fs::exists(install / file.name) && size < file.bytes.size()) {
            partial.push_back({"/" + file.name, size});
        }
    }
    ASSERT_GT(partial.size(), 1u);

    ServeCorpus(server, corpus);
    const size_t before = server.Requests().size();
    const RunOutcome healed = RunToEnd(worker, queue);
    ASSERT_TRUE(healed.result);
    EXPECT_EQ(healed.result->bSucceeded, 1) << healed.result->szMessage;
    EXPECT_EQ(CheckComplete(install, corpus), "");
    const std::vector<FaultRequest> requests = server.Requests();
    for (const auto& [path, size] : partial) {
        bool resumed = false;
        for (size_t i = before; i < requests.size(); ++i) {
            if (requests[i].path == path) {
                resumed = requests[i].Header("Range") == "bytes=" + std::to_string(size) + "-";
            }
        }
        EXPECT_TRUE(resumed) << path << " from " << size;
    }
}

// After a stop and a new start the owner moves the shown file's clock back by the time it had
// already run (the file's speed counts all its bytes); the later records of that file keep the
// moved clock, as with one transfer at a time.
TEST(ConcurrentTransfers, AFileResumedAfterAStopKeepsTheClockItsOwnerMoved) {
    const Corpus corpus{{"a.bin", MakeBytes(600000, 71)}, {"b.bin", MakeBytes(600000, 72)}};
    FaultServer server;
    ServeCorpus(server, corpus, [](FaultRoute& r) { r.trickleBytesPerSecond = 150000; });
    Sandbox box;
    CDownloadQueue queue;
    CDownloadThread worker(MakeList(server.BaseUrl(), corpus), &queue,
                           (box.Path() / "install").string(), HttpTimeouts{2000, 60});
    worker.SetJobs(2);
    ASSERT_TRUE(worker.Start());
    const auto deadline = Clock::now() + 10s;
    while (FileSize(box.Path() / "install/a.bin") < 100000 && Clock::now() < deadline) {
        std::this_thread::sleep_for(10ms);
    }
    worker.Stop();
    ASSERT_TRUE(queue.WaitFinished(2000ms));

    ASSERT_TRUE(worker.Start());
    CDownloadQueue::Record record;
    ASSERT_TRUE(queue.Take(record, 5000ms));
    const auto* first = std::get_if<std::unique_ptr<DownloadProgress>>(&record);
    ASSERT_TRUE(first != nullptr && *first);
    ASSERT_EQ((*first)->nFileIndex, 0);
    const uint32_t moved = (*first)->dwStartTime - 7000;
    worker.SetFileStartTime(moved);
    std::deque<std::unique_ptr<DownloadProgress>> later;
    const std::unique_ptr<DownloadResult> result = queue.WaitFinished(15s, &later);
    ASSERT_TRUE(result);
    EXPECT_EQ(result->bSucceeded, 1) << result->szMessage;
    size_t ofA = 0;
    for (const auto& progress : later) {
        if (progress->nFileIndex == 0) {
            EXPECT_EQ(progress->dwStartTime, moved);
            ++ofA;
        }
    }
    EXPECT_GT(ofA, 0u);
}

// While the first file is held up, the other transfers go no further than the look-ahead past
// it; once it comes, the run goes on to the end.
TEST(ConcurrentTransfers, AHeldFileKeepsTheOthersWithinTheLookahead) {
    Corpus corpus;
    for (int i = 0; i < 40; ++i) {
        corpus.push_back({"f" + std::to_string(i) + ".bin", MakeBytes(100, 500 + i)});
    }
    FaultServer server;
    ServeCorpus(server, corpus);
    FaultRoute held;
    held.body = corpus[0].bytes;
    held.holdUntilReleased = true;
    server.SetRoute("/f0.bin", held);
    Sandbox box;
    CDownloadQueue queue;
    CDownloadThread worker(MakeList(server.BaseUrl(), corpus), &queue,
                           (box.Path() / "install").string(), HttpTimeouts{2000, 60});
    worker.SetJobs(kJobs);
    worker.SetLookahead(10);
    ASSERT_TRUE(worker.Start());
    // Files 1 to 9 come; then nothing more while file 0 is held.
    const auto deadline = Clock::now() + 10s;
    while (server.Requests().size() < 10 && Clock::now() < deadline) {
        std::this_thread::sleep_for(10ms);
    }
    std::this_thread::sleep_for(300ms);
    EXPECT_EQ(server.Requests().size(), 10u);
    server.ReleaseHeld();
    const std::unique_ptr<DownloadResult> result = queue.WaitFinished(15s);
    ASSERT_TRUE(result);
    EXPECT_EQ(result->bSucceeded, 1) << result->szMessage;
    EXPECT_EQ(CheckComplete(box.Path() / "install", corpus), "");
}

// One lane stays on the largest file, so it does not start last and run on alone, while the
// other goes through the rest from the smallest up; the log still reads in list order.
TEST(ConcurrentTransfers, LargeAndSmallFilesAreTakenSideBySide) {
    const Corpus corpus{{"a.bin", MakeBytes(1000, 91)},
                        {"b.bin", MakeBytes(300000, 92)},
                        {"c.bin", MakeBytes(2000, 93)},
                        {"d.bin", MakeBytes(200000, 94)},
                        {"e.bin", MakeBytes(3000, 95)}};
    FaultServer server;
    ServeCorpus(server, corpus);
    // The largest file is held until every other one has been asked for.
    FaultRoute held;
    held.body = corpus[1].bytes;
    held.holdUntilReleased = true;
    server.SetRoute("/b.bin", held);
    Sandbox box;
    LogCapture log(box.Path() / "log", true);
    CDownloadQueue queue;
    CDownloadThread worker(MakeList(server.BaseUrl(), corpus), &queue,
                           (box.Path() / "install").string(), kQuick);
    worker.SetJobs(2);
    ASSERT_TRUE(worker.Start());
    const auto deadline = Clock::now() + 10s;
    while (server.Requests().size() < corpus.size() && Clock::now() < deadline) {
        std::this_thread::sleep_for(10ms);
    }
    server.ReleaseHeld();
    const std::unique_ptr<DownloadResult> result = queue.WaitFinished(15s);
    ASSERT_TRUE(result);
    EXPECT_EQ(result->bSucceeded, 1) << result->szMessage;
    std::map<uint64_t, std::vector<std::string>> byConnection;
    for (const FaultRequest& request : server.Requests()) {
        byConnection[request.connection].push_back(request.path);
    }
    std::set<std::vector<std::string>> lanes;
    for (const auto& [connection, paths] : byConnection) {
        lanes.insert(paths);
    }
    EXPECT_EQ(lanes, (std::set<std::vector<std::string>>{
                         {"/b.bin"}, {"/a.bin", "/c.bin", "/e.bin", "/d.bin"}}));
    std::vector<std::string> begun;
    for (const std::string& line : log.Lines()) {
        if (line.find("download file : ") != std::string::npos) {
            begun.push_back(line.substr(line.find(") ") + 2));
        }
    }
    EXPECT_EQ(begun, (std::vector<std::string>{"a.bin", "b.bin", "c.bin", "d.bin", "e.bin"}));
}

// A file that fails ends the whole run with its message; the other transfers end cleanly and
// the next run completes.
TEST(ConcurrentTransfers, AFailureEndsEveryTransfer) {
    const Corpus& corpus = Files();
    FaultServer server;
    ServeCorpus(server, corpus, [](FaultRoute& r) { r.trickleBytesPerSecond = 200000; });
    server.RemoveRoute("/" + corpus[5].name);
    Sandbox box;
    const fs::path install = box.Path() / "install";
    CDownloadQueue queue;
    CDownloadThread worker(MakeList(server.BaseUrl(), corpus), &queue, install.string(), kQuick);
    worker.SetJobs(kJobs);
    const RunOutcome run = RunToEnd(worker, queue);
    ASSERT_TRUE(run.result);
    EXPECT_EQ(run.result->bSucceeded, 0);
    EXPECT_EQ(run.result->szMessage, LoadFormatString(104, 404L));
    EXPECT_EQ(CheckPrefixes(install, corpus), "");
    EXPECT_LE(worker.CurrentIndex(), 5);

    ServeCorpus(server, corpus);
    const RunOutcome healed = RunToEnd(worker, queue);
    ASSERT_TRUE(healed.result);
    EXPECT_EQ(healed.result->bSucceeded, 1) << healed.result->szMessage;
    EXPECT_EQ(CheckComplete(install, corpus), "");
}

// The command line takes --jobs; a value out of range is a usage error.
TEST(ConcurrentTransfers, CommandLineJobs) {
    const Corpus& corpus = Files();
    FaultServer server;
    ServeCorpus(server, corpus);
    FaultRoute listRoute;
    listRoute.body = ListDocument(MakeList(server.BaseUrl(), corpus));
    server.SetRoute("/filelist.json", listRoute);
    CliHome home;
    const fs::path install = home.Root() / "install";
    const ChildResult done =
        home.Run({"--list", server.Url("filelist.json"), "--dir", install.string(), "--jobs", "4"});
    EXPECT_EQ(done.exitCode, 0) << done.out << done.err;
    EXPECT_EQ(CheckComplete(install, corpus), "");
    for (const char* bad : {"0", "33", "x", ""}) {
        const ChildResult refused = home.Run(
            {"--list", server.Url("filelist.json"), "--dir", install.string(), "--jobs", bad});
        EXPECT_EQ(refused.exitCode, 2) << bad;
        EXPECT_NE(refused.err.find("--jobs"), std::string::npos) << refused.err;
    }
}

}  // namespace
