// The download worker against real nginx and the fault server: the decision table, the
// transfer, the verification, stops and the hardening of names, links and long bodies.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <filesystem>
#include <functional>
#include <initializer_list>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "download/download_queue.h"
#include "download/download_thread.h"
#include "download/file_list_check.h"
#include "download/http_client.h"
#include "download/install_dir.h"
#include "download/list_fetch.h"
#include "platform/log.h"
#include "platform/string_table.h"
#include "support/env_guard.h"
#include "support/fake_worker_system.h"
#include "support/fault_server.h"
#include "support/log_capture.h"
#include "support/nginx_server.h"
#include "support/sandbox.h"
#include "support/test_certificate.h"
#include "support/test_data.h"
#include "support/test_list.h"

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

namespace {

// Short enough that nothing in a test waits long; stalls are ended by the tests' stops.
const HttpTimeouts kQuick{2000, 5};
// The most one read hands over, so the most the first progress record can show.
constexpr uint64_t kChunk = CHttpClient::TRANSFER_BUFFER_SIZE;
constexpr auto kRunTimeout = 8000ms;
// The waits before fetching a failed file again, short for tests.
const std::vector<std::chrono::milliseconds> kQuickRetries{20ms, 40ms, 60ms, 80ms};

using Item = TestFile;

// The worker's log lines as "LEVEL text", read from a private file.
class LevelLog : public LogCapture {
public:
    explicit LevelLog(const fs::path& folder) : LogCapture(folder, true) {}
};

struct RunOutcome {
    std::unique_ptr<DownloadResult> result;
    std::deque<std::unique_ptr<DownloadProgress>> progress;
};

RunOutcome RunToEnd(CDownloadThread& worker, CDownloadQueue& queue) {
    RunOutcome out;
    if (worker.Start()) {
        out.result = queue.WaitFinished(kRunTimeout, &out.progress);
    }
    return out;
}

// Each path answers with its bytes, and nothing else.
void ServeBodies(FaultServer& server,
                 std::initializer_list<std::pair<const char*, const std::string&>> bodies) {
    for (const auto& [path, bytes] : bodies) {
        FaultRoute route;
        route.body = bytes;
        server.SetRoute(path, route);
    }
}

std::vector<DownloadProgress> ForFile(const RunOutcome& run, int32_t index) {
    std::vector<DownloadProgress> out;
    for (const auto& record : run.progress) {
        if (record->nFileIndex == index) {
            out.push_back(*record);
        }
    }
    return out;
}

// Every entry below root, with the size of each file, for "nothing was written" checks.
std::set<std::string> Tree(const fs::path& root) {
    std::set<std::string> out;
    std::error_code error;
    for (auto it = fs::recursive_directory_iterator(root, error);
         !error && it != fs::recursive_directory_iterator(); it.increment(error)) {
        std::string entry = it->path().lexically_relative(root).string();
        if (it->is_symlink()) {
            entry += " -> " + fs::read_symlink(it->path()).string();
        } else if (it->is_regular_file()) {
            entry += " " + std::to_string(it->file_size());
        }
        out.insert(entry);
    }
    return out;
}

bool WaitUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout) {
    const auto deadline = Clock::now() + timeout;
    while (!done()) {
        if (Clock::now() >= deadline) {
            return false;
        }
        std::this_thread::sleep_for(10ms);
    }
    return true;
}

// Takes records until a progress record of the file arrives; the others are kept in seen.
bool WaitForProgress(CDownloadQueue& queue, int32_t index,
                     std::deque<std::unique_ptr<DownloadProgress>>& seen) {
    const auto deadline = Clock::now() + kRunTimeout;
    while (Clock::now() < deadline) {
        CDownloadQueue::Record record;
        if (!queue.Take(record, 100ms)) {
            continue;
        }
        auto* progress = std::get_if<std::unique_ptr<DownloadProgress>>(&record);
        if (progress == nullptr) {
            return false;  // the run ended first
        }
        const bool hit = (*progress)->nFileIndex == index && !(*progress)->bSkipped;
        seen.push_back(std::move(*progress));
        if (hit) {
            return true;
        }
    }
    return false;
}

uint64_t FileSize(const fs::path& path) {
    std::error_code error;
    const uintmax_t size = fs::file_size(path, error);
    return error ? 0 : size;
}

long Ms(Clock::duration d) {
    return static_cast<long>(std::chrono::duration_cast<std::chrono::milliseconds>(d).count());
}

// A run that ignores the running flag until released, like a worker held in a slow call.
class HeldThread : public CThread {
public:
    ~HeldThread() override {
        Release();
        StopAndWait();
    }
    void Release() {
        {
            std::lock_guard<std::mutex> lock(m_lock);
            m_released = true;
        }
        m_wake.notify_all();
    }
    std::atomic<int> m_runs{0};
    std::atomic<int> m_active{0};
    std::atomic<int> m_mostActive{0};

protected:
    void Run() override {
        const int active = ++m_active;
        m_mostActive.store(std::max(m_mostActive.load(), active));
        ++m_runs;
        std::unique_lock<std::mutex> lock(m_lock);
        m_wake.wait(lock, [this] { return m_released; });
        --m_active;
    }

private:
    std::mutex m_lock;
    std::condition_variable m_wake;
    bool m_released = false;
};

// Stop gives up after its wait; a Start after it waits for the old thread, so two never run.
TEST(DownloadThread, StartAfterAnUnfinishedStopWaitsForTheOldThread) {
    HeldThread thread;
    ASSERT_TRUE(thread.Start());
    ASSERT_TRUE(WaitUntil([&] { return thread.m_runs == 1; }, 2000ms));
    const auto begin = Clock::now();
    thread.Stop();
    const long took = Ms(Clock::now() - begin);
    EXPECT_GE(took, CThread::STOP_WAIT_MS - 50);
    EXPECT_LT(took, 2500);
    EXPECT_FALSE(thread.HasEnded());
    EXPECT_FALSE(thread.IsRunning());

    std::atomic<bool> started{false};
    std::thread starter([&] { started = thread.Start(); });
    std::this_thread::sleep_for(300ms);
    EXPECT_FALSE(started);
    EXPECT_EQ(thread.m_runs, 1);
    thread.Release();
    starter.join();
    EXPECT_TRUE(started);
    ASSERT_TRUE(WaitUntil([&] { return thread.HasEnded(); }, 2000ms));
    EXPECT_EQ(thread.m_runs, 2);
    EXPECT_EQ(thread.m_mostActive, 1);
}

TEST(DownloadThread, TwoFilesFirstCompleteSecondAbsent) {
    Sandbox docs;
    Sandbox box;
    const std::string first = MakeBytes(3000, 1);
    const std::string second = MakeBytes(20000, 2);
    docs.Write("first.bin", first);
    docs.Write("data/second.bin", second);
    NginxServer nginx(docs.Path());
    ASSERT_TRUE(nginx.Start()) << nginx.ErrorLog();
    box.Write("install/first.bin", first);
    LevelLog log(box.Path() / "log");

    CDownloadQueue queue;
    CDownloadThread worker(
        MakeList(nginx.BaseUrl(), {{"first.bin", first}, {"data/second.bin", second}}), &queue,
        (box.Path() / "install").string(), kQuick);
    const RunOutcome run = RunToEnd(worker, queue);
    ASSERT_TRUE(run.result);

    EXPECT_EQ(run.result->bSucceeded, 1);
    EXPECT_EQ(run.result->szMessage, "");
    EXPECT_EQ(log.Lines(), (std::vector<std::string>{
                               "INFO download file : (0) first.bin",
                               "INFO file is exist",
                               "INFO file checksum is valid so download skip",
                               "INFO download file : (1) data/second.bin",
                               "INFO (100%) file download success",
                           }));

    ASSERT_GE(run.progress.size(), 2u);
    const DownloadProgress& skipped = *run.progress.front();
    EXPECT_EQ(skipped.nFileIndex, 0);
    EXPECT_EQ(skipped.bSkipped, 1);
    EXPECT_EQ(skipped.nFileTotal, 3000u);
    EXPECT_EQ(skipped.nFileDone, 3000u);
    EXPECT_EQ(ForFile(run, 0).size(), 1u);

    // The first chunk, about one a second, and the one at 100 % (one record when the first
    // chunk is the whole file); nothing skipped, every count growing.
    const std::vector<DownloadProgress> transfer = ForFile(run, 1);
    ASSERT_GE(transfer.size(), 1u);
    EXPECT_EQ(run.progress.size(), 1 + transfer.size());
    EXPECT_LE(transfer.front().nFileDone, kChunk);
    EXPECT_EQ(transfer.back().nFileDone, 20000u);
    uint64_t before = 0;
    for (const DownloadProgress& record : transfer) {
        EXPECT_EQ(record.bSkipped, 0);
        EXPECT_EQ(record.nFileTotal, 20000u);
        EXPECT_GT(record.nFileDone, before);
        EXPECT_EQ(record.dwStartTime, transfer.front().dwStartTime);
        before = record.nFileDone;
    }

    EXPECT_EQ(box.Read("install/first.bin"), first);
    EXPECT_TRUE(box.Read("install/data/second.bin") == second);
    EXPECT_EQ(worker.TotalDone(), 23000u);

    // Only the missing file went over the wire, asked for as the installer asks.
    const std::vector<NginxRequest> requests = nginx.WaitForRequests(1);
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].uri, "/data/second.bin");
    EXPECT_EQ(requests[0].range, "");
    EXPECT_EQ(requests[0].userAgent, "Quellbridger");
    EXPECT_EQ(requests[0].cacheControl, "no-cache");
    EXPECT_EQ(requests[0].pragma, "no-cache");
}

// A file with folder levels, absent or short, ends with the served bytes at its full path,
// asking for a range only for the short one. (A longer or corrupted local file is a row of
// the fault table.)
TEST(DownloadThread, DecidesFromTheLocalFileAndEndsWithTheServedBytes) {
    const std::string name = "maps/deep/f.bin";
    const std::string right = MakeBytes(300000, 11);

    struct Case {
        const char* label;
        std::optional<std::string> local;
        std::vector<std::string> decision;
        std::string range;
        uint64_t resumed;
    };
    const Case cases[] = {
        {"absent", std::nullopt, {}, "", 0},
        {"short",
         right.substr(0, 1000),
         {"INFO file is exist", "INFO file download relay mode"},
         "bytes=1000-",
         1000},
    };

    Sandbox docs;
    docs.Write(name, right);
    NginxServer nginx(docs.Path());
    ASSERT_TRUE(nginx.Start()) << nginx.ErrorLog();
    size_t requestCount = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        Sandbox box;
        if (c.local) {
            box.Write("install/" + name, *c.local);
        }
        LevelLog log(box.Path() / "log");
        CDownloadQueue queue;
        CDownloadThread worker(MakeList(nginx.BaseUrl(), {{name, right}}), &queue,
                               (box.Path() / "install").string(), kQuick);
        const RunOutcome run = RunToEnd(worker, queue);
        ASSERT_TRUE(run.result);
        EXPECT_EQ(run.result->bSucceeded, 1) << run.result->szMessage;

        std::vector<std::string> expected{"INFO download file : (0) " + name};
        expected.insert(expected.end(), c.decision.begin(), c.decision.end());
        expected.push_back("INFO (100%) file download success");
        EXPECT_EQ(log.Lines(), expected);

        EXPECT_TRUE(box.Read("install/" + name) == right);
        EXPECT_EQ(Tree(box.Path() / "install"),
                  (std::set<std::string>{"maps", "maps/deep", "maps/deep/f.bin 300000"}));

        // Progress starts at the bytes already there and counts them in the run's total.
        ASSERT_FALSE(run.progress.empty());
        EXPECT_EQ(run.progress.front()->nFileTotal, 300000u);
        EXPECT_GT(run.progress.front()->nFileDone, c.resumed);
        EXPECT_LE(run.progress.front()->nFileDone, c.resumed + kChunk);
        EXPECT_EQ(run.progress.back()->nFileDone, 300000u);
        EXPECT_EQ(worker.TotalDone(), 300000u);

        const std::vector<NginxRequest> requests = nginx.WaitForRequests(++requestCount);
        ASSERT_EQ(requests.size(), requestCount);
        EXPECT_EQ(requests.back().uri, "/" + name);
        EXPECT_EQ(requests.back().range, c.range);
        EXPECT_EQ(requests.back().bodyBytesSent, 300000u - c.resumed);
    }
}

// A download that fails verification comes again until it is right; the bytes of the
// repeated attempts push the run's count past TotalSize, which must not starve the next file.
TEST(DownloadThread, FetchesACorruptedDownloadAgainUntilItIsRight) {
    const std::string a = MakeBytes(30000, 21);
    const std::string b = MakeBytes(1000, 22);
    FaultServer server;
    FaultRoute wrong1;
    wrong1.body = MakeBytes(30000, 23);
    FaultRoute wrong2;
    wrong2.body = MakeBytes(30000, 24);
    FaultRoute good;
    good.body = a;
    server.SetRouteSequence("/a.bin", {wrong1, wrong2, good});
    FaultRoute bRoute;
    bRoute.body = b;
    server.SetRoute("/b.bin", bRoute);

    Sandbox box;
    LevelLog log(box.Path() / "log");
    CDownloadQueue queue;
    CDownloadThread worker(MakeList(server.BaseUrl(), {{"a.bin", a}, {"b.bin", b}}), &queue,
                           (box.Path() / "install").string(), kQuick);
    worker.SetRetryDelays(kQuickRetries);
    const RunOutcome run = RunToEnd(worker, queue);
    ASSERT_TRUE(run.result);
    EXPECT_EQ(run.result->bSucceeded, 1) << run.result->szMessage;
    EXPECT_TRUE(box.Read("install/a.bin") == a);
    EXPECT_TRUE(box.Read("install/b.bin") == b);
    EXPECT_EQ(server.Hits("/a.bin"), 3u);
    EXPECT_EQ(server.Hits("/b.bin"), 1u);
    for (const FaultRequest& request : server.Requests()) {
        EXPECT_FALSE(request.HasHeader("Range")) << request.path;
    }
    EXPECT_EQ(log.Lines(), (std::vector<std::string>{
                               "INFO download file : (0) a.bin",
                               "WARNING (100%) invalid file checksum so re-download",
                               "INFO download file : (0) a.bin",
                               "INFO file is exist",
                               "WARNING invalid file checksum so re-download",
                               "WARNING (100%) invalid file checksum so re-download",
                               "INFO download file : (0) a.bin",
                               "INFO file is exist",
                               "WARNING invalid file checksum so re-download",
                               "INFO (100%) file download success",
                               "INFO download file : (1) b.bin",
                               "INFO (100%) file download success",
                           }));
}

// A server that ignores the range answers 200 with the whole file: it is written from the
// file's first byte, once, never after the part already there. Above 4 MiB the checksum runs
// while the body arrives, so that path must start from the first byte too. (The fault table
// has the small file.)
TEST(DownloadThread, WritesA200AnsweredToARangeRequestFromTheStartWhileHashing) {
    struct Case {
        const char* label;
        size_t size;
        size_t present;
    };
    for (const Case& c : {Case{"hashed while it arrives", 5u << 20, 3u << 20}}) {
        SCOPED_TRACE(c.label);
        const std::string right = MakeBytes(c.size, 31);
        FaultServer server;
        FaultRoute route;
        route.body = right;
        route.ignoreRange = true;
        server.SetRoute("/f.bin", route);

        Sandbox box;
        box.Write("install/f.bin", right.substr(0, c.present));
        LevelLog log(box.Path() / "log");
        CDownloadQueue queue;
        CDownloadThread worker(MakeList(server.BaseUrl(), {{"f.bin", right}}), &queue,
                               (box.Path() / "install").string(), kQuick);
        const RunOutcome run = RunToEnd(worker, queue);
        ASSERT_TRUE(run.result);
        EXPECT_EQ(run.result->bSucceeded, 1) << run.result->szMessage;
        EXPECT_TRUE(box.Read("install/f.bin") == right);

        const std::vector<FaultRequest> requests = server.Requests();
        ASSERT_EQ(requests.size(), 1u);
        EXPECT_EQ(requests[0].Header("Range"), "bytes=" + std::to_string(c.present) + "-");
        for (const auto& record : run.progress) {
            EXPECT_LE(record->nFileDone, c.size);
            EXPECT_EQ(record->nFileTotal, c.size);
        }
        EXPECT_EQ(worker.TotalDone(), c.size);
        EXPECT_EQ(log.Lines(), (std::vector<std::string>{
                                   "INFO download file : (0) f.bin",
                                   "INFO file is exist",
                                   "INFO file download relay mode",
                                   "WARNING range request is answered with the whole file",
                                   "INFO (100%) file download success",
                               }));
    }
}

// An empty answer to a range request leaves the file short: it is verified like any other
// finished body, found wrong and fetched again, never taken as complete.
TEST(DownloadThread, EmptyAnswerToAResumeIsNotTakenAsComplete) {
    const std::string right = MakeBytes(30000, 53);
    FaultServer server;
    FaultRoute empty;
    empty.ignoreRange = true;
    FaultRoute whole;
    whole.body = right;
    server.SetRouteSequence("/f.bin", {empty, whole});

    Sandbox box;
    box.Write("install/f.bin", right.substr(0, 1000));
    LevelLog log(box.Path() / "log");
    CDownloadQueue queue;
    CDownloadThread worker(MakeList(server.BaseUrl(), {{"f.bin", right}}), &queue,
                           (box.Path() / "install").string(), kQuick);
    worker.SetRetryDelays(kQuickRetries);
    const RunOutcome run = RunToEnd(worker, queue);
    ASSERT_TRUE(run.result);
    EXPECT_TRUE(box.Read("install/f.bin") == right);
    EXPECT_EQ(run.result->bSucceeded, 1) << run.result->szMessage;
    EXPECT_EQ(server.Hits("/f.bin"), 2u);
    EXPECT_TRUE(log.Has("WARNING (100%) invalid file checksum so re-download"));
}

// Success is reported only after a flush of the install folder's file system, whichever
// file the run ends on; a flush that fails ends the run with its own message.
TEST(DownloadThread, FlushesBeforeReportingSuccess) {
    const std::string a = MakeBytes(3000, 56);
    const std::string b = MakeBytes(4000, 57);
    FaultServer server;
    ServeBodies(server, {{"/a.bin", a}, {"/b.bin", b}});
    struct Case {
        const char* label;
        bool haveA;
        bool haveB;
    };
    for (const Case& c :
         {Case{"last file fetched", true, false}, Case{"last file already there", false, true},
          Case{"both fetched", false, false}}) {
        SCOPED_TRACE(c.label);
        Sandbox box;
        if (c.haveA) {
            box.Write("install/a.bin", a);
        }
        if (c.haveB) {
            box.Write("install/b.bin", b);
        }
        FakeWorkerSystem system;
        CDownloadQueue queue;
        CDownloadThread worker(MakeList(server.BaseUrl(), {{"a.bin", a}, {"b.bin", b}}), &queue,
                               (box.Path() / "install").string(), kQuick, &system);
        const RunOutcome run = RunToEnd(worker, queue);
        ASSERT_TRUE(run.result);
        EXPECT_EQ(run.result->bSucceeded, 1) << run.result->szMessage;
        EXPECT_EQ(system.flushes.load(), 1);
    }

    struct Failure {
        int error;
        std::string message;
    };
    for (const Failure& f : {Failure{ENOSPC, "Insufficient free space in storage."},
                             Failure{EIO, LoadFormatString(118, static_cast<long>(EIO))}}) {
        SCOPED_TRACE(f.error);
        Sandbox box;
        LevelLog log(box.Path() / "log");
        FakeWorkerSystem system;
        system.flushError = f.error;
        CDownloadQueue queue;
        CDownloadThread worker(MakeList(server.BaseUrl(), {{"a.bin", a}, {"b.bin", b}}), &queue,
                               (box.Path() / "install").string(), kQuick, &system);
        const RunOutcome run = RunToEnd(worker, queue);
        ASSERT_TRUE(run.result);
        EXPECT_EQ(run.result->bSucceeded, 0);
        EXPECT_EQ(run.result->szMessage, f.message);
        const std::vector<std::string> lines = log.Lines();
        ASSERT_FALSE(lines.empty());
        EXPECT_EQ(lines.back(),
                  "ERROR failed to flush files to disk - (" + std::to_string(f.error) + ")");
        // The files themselves are whole: the next run only checks them.
        EXPECT_TRUE(box.Read("install/b.bin") == b);
    }
}

// With several lanes a large file is flushed on its own lane as soon as it is whole, while the
// others go on; a flush that fails there ends the run as the flush before success does.
TEST(DownloadThread, FlushesALargeFileOnItsLaneWithSeveralJobs) {
    const std::string big = MakeBytes(5 * 1024 * 1024, 58);
    const std::string small = MakeBytes(3000, 59);
    FaultServer server;
    ServeBodies(server, {{"/big.bin", big}, {"/small.bin", small}});
    struct Case {
        int jobs;
        int fileFlushError;
        int fileFlushes;  // one at a time keeps a single flush at the end
        int flushes;
    };
    for (const Case& c : {Case{1, 0, 0, 1}, Case{2, 0, 1, 1}, Case{2, EIO, 1, 0}}) {
        SCOPED_TRACE(testing::Message() << c.jobs << " jobs, error " << c.fileFlushError);
        Sandbox box;
        LevelLog log(box.Path() / "log");
        FakeWorkerSystem system;
        system.fileFlushError = c.fileFlushError;
        CDownloadQueue queue;
        CDownloadThread worker(MakeList(server.BaseUrl(), {{"big.bin", big}, {"small.bin", small}}),
                               &queue, (box.Path() / "install").string(), kQuick, &system);
        worker.SetJobs(c.jobs);
        const RunOutcome run = RunToEnd(worker, queue);
        ASSERT_TRUE(run.result);
        if (c.fileFlushError == 0) {
            EXPECT_EQ(run.result->bSucceeded, 1) << run.result->szMessage;
        } else {
            EXPECT_EQ(run.result->bSucceeded, 0);
            EXPECT_EQ(run.result->szMessage, LoadFormatString(118, static_cast<long>(EIO)));
            EXPECT_TRUE(
                log.Has("ERROR failed to flush files to disk - (" + std::to_string(EIO) + ")"));
        }
        EXPECT_EQ(system.fileFlushes.load(), c.fileFlushes);
        EXPECT_EQ(system.flushes.load(), c.flushes);
    }
}

// Over https the lanes' requests for small files are streams of one HTTP/2 connection and a
// large file has its own: every file whole, a short one resumed with its range, a complete one
// skipped, and the log in list order.
TEST(DownloadThread, LanesShareOneHttp2ConnectionToAnHttpsServer) {
    Sandbox keys;
    TestCertificate cert(keys.Path());
    ASSERT_TRUE(cert.Ok()) << cert.Error();
    EnvGuard env;
    for (const char* name : {"https_proxy", "HTTPS_PROXY", "all_proxy", "ALL_PROXY"}) {
        env.Unset(name);
    }
    env.Set("CURL_CA_BUNDLE", cert.CertFile().string());
    Sandbox docs;
    std::vector<Item> items;
    for (int i = 0; i < 8; ++i) {
        items.push_back({"f" + std::to_string(i) + ".bin",
                         MakeBytes(static_cast<size_t>(20000 << (i % 5)), 70 + i)});
        docs.Write(items.back().name, items.back().bytes);
    }
    items.push_back({"large.bin", MakeBytes(1536 * 1024, 80)});
    docs.Write("large.bin", items.back().bytes);
    NginxServer nginx(docs.Path());
    nginx.UseTls(cert.CertFile(), cert.KeyFile());
    ASSERT_TRUE(nginx.Start()) << nginx.ErrorLog();
    Sandbox box;
    box.Write("install/f1.bin", items[1].bytes);
    box.Write("install/f3.bin", items[3].bytes.substr(0, 5000));
    LevelLog log(box.Path() / "log");

    CDownloadQueue queue;
    CDownloadThread worker(MakeList(nginx.BaseUrl(), items), &queue,
                           (box.Path() / "install").string(), kQuick);
    worker.SetJobs(4);
    const RunOutcome run = RunToEnd(worker, queue);
    ASSERT_TRUE(run.result);
    EXPECT_EQ(run.result->bSucceeded, 1) << run.result->szMessage;
    for (const Item& item : items) {
        EXPECT_TRUE(box.Read("install/" + item.name) == item.bytes) << item.name;
    }
    std::vector<std::string> named;
    for (const std::string& line : log.Lines()) {
        if (line.starts_with("INFO download file : ")) {
            named.push_back(line);
        }
    }
    EXPECT_EQ(named.size(), items.size());
    EXPECT_TRUE(std::is_sorted(named.begin(), named.end()));

    const std::vector<NginxRequest> requests = nginx.WaitForRequests(items.size() - 1);
    ASSERT_EQ(requests.size(), items.size() - 1);
    std::set<uint64_t> smallConnections;
    uint64_t largeConnection = 0;
    for (const NginxRequest& r : requests) {
        EXPECT_EQ(r.protocol, "HTTP/2.0") << r.uri;
        EXPECT_EQ(r.range, r.uri == "/f3.bin" ? "bytes=5000-" : "") << r.uri;
        if (r.uri == "/large.bin") {
            largeConnection = r.connection;
        } else {
            smallConnections.insert(r.connection);
        }
    }
    EXPECT_EQ(smallConnections.size(), 1u);
    EXPECT_NE(largeConnection, 0u);
    EXPECT_EQ(smallConnections.count(largeConnection), 0u);
}

// However a transfer is held up, a stop (or the worker's destruction) ends the run within
// about a second, reported as not succeeded without a message.
TEST(DownloadThread, StopEndsABlockedTransferWithinASecond) {
    const std::string right = MakeBytes(200000, 61);
    struct Case {
        const char* label;
        FaultRoute route;
        bool afterFirstBytes;  // stop once bytes are on disk, else once the request is in
        bool destroy;          // end by destroying the worker instead of Stop
    };
    FaultRoute trickle;
    trickle.body = right;
    trickle.trickleBytesPerSecond = 4000;
    FaultRoute stallMidBody;
    stallMidBody.body = right;
    stallMidBody.stallAfterBytes = 10000;
    stallMidBody.stallMs = 30000;
    FaultRoute stallBeforeHeaders;
    stallBeforeHeaders.body = right;
    stallBeforeHeaders.stallBeforeHeadersMs = 30000;
    FaultRoute stallBeforeBody;
    stallBeforeBody.body = right;
    stallBeforeBody.stallBeforeBodyMs = 30000;
    const Case cases[] = {
        {"trickle", trickle, true, false},
        {"stall mid-body", stallMidBody, true, false},
        {"stall before headers", stallBeforeHeaders, false, false},
        {"stall before body", stallBeforeBody, false, false},
        {"destroyed while stalled", stallMidBody, true, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        FaultServer server;
        server.SetRoute("/f.bin", c.route);
        Sandbox box;
        LevelLog log(box.Path() / "log");
        CDownloadQueue queue;
        auto worker = std::make_unique<CDownloadThread>(
            MakeList(server.BaseUrl(), {{"f.bin", right}}), &queue,
            (box.Path() / "install").string(), HttpTimeouts{2000, 20});
        ASSERT_TRUE(worker->Start());
        std::deque<std::unique_ptr<DownloadProgress>> progress;
        if (c.afterFirstBytes) {
            ASSERT_TRUE(WaitForProgress(queue, 0, progress));
        } else {
            ASSERT_EQ(server.WaitForRequests(1).size(), 1u);
            std::this_thread::sleep_for(200ms);
        }

        const auto begin = Clock::now();
        if (c.destroy) {
            worker.reset();
        } else {
            worker->Stop();
            EXPECT_TRUE(worker->HasEnded());
        }
        const auto took = Clock::now() - begin;
        EXPECT_LT(Ms(took), 2500);

        std::unique_ptr<DownloadResult> result = queue.WaitFinished(2000ms, &progress);
        ASSERT_TRUE(result);
        EXPECT_EQ(result->bSucceeded, 0);
        EXPECT_EQ(result->szMessage, "");
        // A stop is no failure: not a line of the log says otherwise.
        for (const std::string& line : log.Lines()) {
            EXPECT_NE(line.rfind("ERROR", 0), 0u) << line;
        }
        if (c.afterFirstBytes) {
            const uint64_t partial = FileSize(box.Path() / "install/f.bin");
            EXPECT_GT(partial, 0u);
            EXPECT_LT(partial, right.size());
        }
        if (worker) {
            EXPECT_FALSE(worker->IsRunning());
            EXPECT_EQ(worker->CurrentIndex(), 0);
        }
    }
}

TEST(DownloadThread, StopEndsTheChecksumOfABigLocalFile) {
    Sandbox box;
    constexpr uint64_t kSize = 1ull << 30;
    // A sparse file: hashing it takes seconds, storing it takes nothing.
    fs::create_directories(box.Path() / "install");
    const fs::path big = box.Path() / "install/big.pak";
    {
        const int fd = ::open(big.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(::ftruncate(fd, static_cast<off_t>(kSize)), 0);
        ::close(fd);
    }
    FaultServer server;
    CFileList list;
    list.Version = INSTALLER_VERSION;
    list.URL = server.BaseUrl();
    list.TotalCount = 1;
    list.TotalSize = kSize;
    list.FileList.push_back({"big.pak", kSize, Md5Hex("something else")});

    LevelLog log(box.Path() / "log");
    CDownloadQueue queue;
    CDownloadThread worker(list, &queue, (box.Path() / "install").string(), kQuick);
    ASSERT_TRUE(worker.Start());
    ASSERT_TRUE(WaitUntil([&] { return log.Has("file is exist"); }, 3000ms));
    std::this_thread::sleep_for(100ms);

    const auto begin = Clock::now();
    worker.Stop();
    EXPECT_LT(Ms(Clock::now() - begin), 2500);
    EXPECT_TRUE(worker.HasEnded());
    std::unique_ptr<DownloadResult> result = queue.WaitFinished(2000ms);
    ASSERT_TRUE(result);
    EXPECT_EQ(result->bSucceeded, 0);
    EXPECT_EQ(result->szMessage, "");
    // Stopped inside the checksum: no verdict on the file, nothing fetched or changed.
    EXPECT_FALSE(log.Has("checksum is valid"));
    EXPECT_FALSE(log.Has("invalid file checksum"));
    EXPECT_FALSE(log.Has("failed to get file checksum"));
    EXPECT_EQ(server.Requests().size(), 0u);
    EXPECT_EQ(FileSize(big), kSize);
}

// Sizes past 4 GiB stay exact in the range header and the records. The local part is sparse;
// the stop lands in the verification of the 4 GiB file, which then fails with 121.
TEST(DownloadThread, ResumesPastFourGiBWithExactCounts) {
    Sandbox box;
    constexpr uint64_t kLocal = (4ull << 30) + 4096;
    constexpr uint64_t kSize = kLocal + 1000;
    fs::create_directories(box.Path() / "install");
    const fs::path huge = box.Path() / "install/huge.pak";
    {
        const int fd = ::open(huge.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(::ftruncate(fd, static_cast<off_t>(kLocal)), 0);
        ::close(fd);
    }
    const std::string tail = MakeBytes(1000, 76);
    FaultServer server;
    FaultRoute route;
    route.status = 206;
    route.body = tail;
    route.headers = {{"Content-Range", "bytes " + std::to_string(kLocal) + "-" +
                                           std::to_string(kSize - 1) + "/" +
                                           std::to_string(kSize)}};
    server.SetRoute("/huge.pak", route);
    CFileList list;
    list.Version = INSTALLER_VERSION;
    list.URL = server.BaseUrl();
    list.TotalCount = 1;
    list.TotalSize = kSize;
    list.FileList.push_back({"huge.pak", kSize, Md5Hex("not computed here")});

    LevelLog log(box.Path() / "log");
    CDownloadQueue queue;
    CDownloadThread worker(list, &queue, (box.Path() / "install").string(), kQuick);
    ASSERT_TRUE(worker.Start());
    std::deque<std::unique_ptr<DownloadProgress>> progress;
    ASSERT_TRUE(WaitForProgress(queue, 0, progress));
    worker.Stop();
    EXPECT_TRUE(worker.HasEnded());
    std::unique_ptr<DownloadResult> result = queue.WaitFinished(2000ms, &progress);
    ASSERT_TRUE(result);
    EXPECT_EQ(result->bSucceeded, 0);
    EXPECT_EQ(result->szMessage, "Failed to get file checksum.");

    const std::vector<FaultRequest> requests = server.Requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].Header("Range"), "bytes=" + std::to_string(kLocal) + "-");
    ASSERT_FALSE(progress.empty());
    EXPECT_EQ(progress.front()->nFileTotal, kSize);
    EXPECT_GT(progress.front()->nFileDone, kLocal);
    EXPECT_EQ(progress.back()->nFileDone, kSize);
    EXPECT_EQ(worker.TotalDone(), kSize);
    EXPECT_EQ(FileSize(huge), kSize);
    std::string written(1000, '\0');
    const int fd = ::open(huge.c_str(), O_RDONLY);
    ASSERT_GE(fd, 0);
    EXPECT_EQ(::pread(fd, written.data(), written.size(), static_cast<off_t>(kLocal)), 1000);
    ::close(fd);
    EXPECT_TRUE(written == tail);
    EXPECT_FALSE(log.Has("file download success"));
}

// A run stopped at the last file starts again from the first: the files already there are
// checked and skipped, and the stopped one is resumed.
TEST(DownloadThread, RunStoppedAtTheLastFileRestartsFromTheFirst) {
    const std::string a = MakeBytes(4000, 71);
    const std::string b = MakeBytes(5000, 72);
    const std::string c = MakeBytes(100000, 73);
    FaultServer server;
    FaultRoute slow;
    slow.body = c;
    slow.trickleBytesPerSecond = 20000;
    server.SetRoute("/c.bin", slow);

    Sandbox box;
    box.Write("install/a.bin", a);
    box.Write("install/b.bin", b);
    LevelLog log(box.Path() / "log");
    CDownloadQueue queue;
    CDownloadThread worker(MakeList(server.BaseUrl(), {{"a.bin", a}, {"b.bin", b}, {"c.bin", c}}),
                           &queue, (box.Path() / "install").string(), kQuick);
    ASSERT_TRUE(worker.Start());
    std::deque<std::unique_ptr<DownloadProgress>> progress;
    ASSERT_TRUE(WaitForProgress(queue, 2, progress));
    worker.Stop();
    ASSERT_TRUE(worker.HasEnded());
    std::unique_ptr<DownloadResult> stopped = queue.WaitFinished(2000ms);
    ASSERT_TRUE(stopped);
    EXPECT_EQ(stopped->bSucceeded, 0);
    EXPECT_EQ(worker.CurrentIndex(), 2);
    const uint64_t partial = FileSize(box.Path() / "install/c.bin");
    ASSERT_GT(partial, 0u);
    ASSERT_LT(partial, c.size());
    const size_t linesBefore = log.Lines().size();

    FaultRoute fast;
    fast.body = c;
    server.SetRoute("/c.bin", fast);
    const RunOutcome run = RunToEnd(worker, queue);
    ASSERT_TRUE(run.result);
    EXPECT_EQ(run.result->bSucceeded, 1) << run.result->szMessage;
    EXPECT_TRUE(box.Read("install/c.bin") == c);

    const std::vector<std::string> lines = log.Lines();
    EXPECT_EQ(std::vector<std::string>(lines.begin() + static_cast<long>(linesBefore), lines.end()),
              (std::vector<std::string>{
                  "INFO download file : (0) a.bin",
                  "INFO file is exist",
                  "INFO file checksum is valid so download skip",
                  "INFO download file : (1) b.bin",
                  "INFO file is exist",
                  "INFO file checksum is valid so download skip",
                  "INFO download file : (2) c.bin",
                  "INFO file is exist",
                  "INFO file download relay mode",
                  "INFO (100%) file download success",
              }));
    ASSERT_GE(run.progress.size(), 2u);
    EXPECT_EQ(run.progress[0]->nFileIndex, 0);
    EXPECT_EQ(run.progress[0]->bSkipped, 1);
    EXPECT_EQ(run.progress[1]->nFileIndex, 1);
    EXPECT_EQ(run.progress[1]->bSkipped, 1);
    EXPECT_EQ(run.progress[2]->nFileIndex, 2);
    EXPECT_GT(run.progress[2]->nFileDone, partial);

    const std::vector<FaultRequest> requests = server.Requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[1].Header("Range"), "bytes=" + std::to_string(partial) + "-");
}

TEST(DownloadThread, TooLittleFreeSpaceEndsTheRunBeforeAnyByte) {
    const std::string right = MakeBytes(1000, 81);
    FaultServer server;
    FaultRoute route;
    route.body = right;
    server.SetRoute("/f.bin", route);
    Sandbox box;
    FakeWorkerSystem system;
    system.freeSpace = 500;

    LevelLog log(box.Path() / "log");
    CDownloadQueue queue;
    CDownloadThread worker(MakeList(server.BaseUrl(), {{"f.bin", right}}), &queue,
                           (box.Path() / "install").string(), kQuick, &system);
    const RunOutcome run = RunToEnd(worker, queue);
    ASSERT_TRUE(run.result);
    EXPECT_EQ(run.result->bSucceeded, 0);
    EXPECT_EQ(run.result->szMessage, "Insufficient free space in storage.");
    EXPECT_EQ(log.Lines(), std::vector<std::string>{"ERROR insufficient free space in disk"});
    EXPECT_TRUE(run.progress.empty());
    EXPECT_EQ(server.Requests().size(), 0u);
    EXPECT_TRUE(Tree(box.Path() / "install").empty());
}

// A list that fails the check is refused as a whole: no request, no folder, no file, here or
// wherever its names point.
TEST(DownloadThread, RefusesAnInvalidListWithoutWritingAnything) {
    const std::string good = MakeBytes(100, 91);
    Sandbox box;
    const fs::path outer = box.Path() / "outer";
    const fs::path install = outer / "install";
    fs::create_directories(outer);
    const std::string escape = "qb-escape-" + std::to_string(::getpid()) + ".bin";
    const fs::path aboveSandbox = box.Path().parent_path() / escape;

    struct Case {
        const char* label;
        std::string name;
        std::string checksum;  // empty: the right one
        int32_t totalCount;    // -2: the number of entries
    };
    const Case cases[] = {
        {"parent", "../" + escape, "", -2},
        {"grandparent", "../../" + escape, "", -2},
        {"above the sandbox", "../../../" + escape, "", -2},
        {"inner parent", "data/../../" + escape, "", -2},
        {"absolute", (box.Path() / escape).string(), "", -2},
        {"backslash", "a\\b", "", -2},
        {"empty", "", "", -2},
        {"empty part", "data//f.bin", "", -2},
        {"dot", "./f.bin", "", -2},
        {"control character", std::string("f\x01.bin"), "", -2},
        {"newline", "f\n.bin", "", -2},
        {"drive letter", "C:f.bin", "", -2},
        {"trailing slash", "data/", "", -2},
        {"lower-case checksum", "f.bin", "lower", -2},
        {"short checksum", "f.bin", "0CC175B9", -2},
        {"count above entries", "f.bin", "", 3},
        {"negative count", "f.bin", "", -1},
        {"same name but for case", "OK.bin", "", -2},
        {"a file used as a folder", "ok.bin/f.bin", "", -2},
        {"right-to-left override", "f\u202E.bin", "", -2},
        {"C1 control", "f\u0085.bin", "", -2},
    };
    FaultServer server;
    FaultRoute route;
    route.body = good;
    server.SetRoute("/ok.bin", route);
    const std::set<std::string> before = Tree(box.Path());

    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        CFileList list = MakeList(server.BaseUrl(), {{"ok.bin", good}, {c.name, good}});
        if (c.checksum == "lower") {
            for (char& ch : list.FileList[1].CheckSum) {
                ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
            }
        } else if (!c.checksum.empty()) {
            list.FileList[1].CheckSum = c.checksum;
        }
        if (c.totalCount != -2) {
            list.TotalCount = c.totalCount;
        }
        std::string problem;
        EXPECT_FALSE(ValidateFileList(list, &problem));
        EXPECT_FALSE(problem.empty());

        Sandbox logBox;
        LevelLog log(logBox.Path());
        CDownloadQueue queue;
        CDownloadThread worker(list, &queue, install.string(), kQuick);
        const RunOutcome run = RunToEnd(worker, queue);
        ASSERT_TRUE(run.result);
        EXPECT_EQ(run.result->bSucceeded, 0);
        EXPECT_EQ(run.result->szMessage, "Invalid File List.");
        EXPECT_EQ(log.Lines(), std::vector<std::string>{"ERROR invalid file list - " + problem});
        EXPECT_TRUE(run.progress.empty());
    }
    EXPECT_EQ(server.Requests().size(), 0u);
    EXPECT_EQ(Tree(box.Path()), before);
    EXPECT_FALSE(fs::exists(aboveSandbox));
}

// The path check needs the install folder: the worker makes it before any folder is created.
TEST(DownloadThread, RefusesAPathTooLongForItsFolderBeforeMakingAnyFolder) {
    const std::string good = MakeBytes(10, 92);
    Sandbox box;
    const fs::path install = box.Path() / std::string(200, 'i') / std::string(200, 'j');
    std::string deep;
    while (deep.size() + install.string().size() < 4000) {
        deep += std::string(250, 'd') + "/";
    }
    deep += std::string(100, 'f');
    CFileList list = MakeList("http://127.0.0.1:1/", {{deep, good}});
    Sandbox logBox;
    LevelLog log(logBox.Path());
    CDownloadQueue queue;
    CDownloadThread worker(list, &queue, install.string(), kQuick);
    const RunOutcome run = RunToEnd(worker, queue);
    ASSERT_TRUE(run.result);
    EXPECT_EQ(run.result->szMessage, "Invalid File List.");
    ASSERT_EQ(log.Lines().size(), 1u);
    EXPECT_TRUE(log.Lines()[0].ends_with("\": path too long in the install folder"))
        << log.Lines()[0];
    EXPECT_TRUE(Tree(box.Path()).empty());
}

// Links planted in the install folder never carry a write outside it.
TEST(DownloadThread, PlantedLinksDoNotRedirectWrites) {
    const std::string right = MakeBytes(5000, 101);
    FaultServer server;
    FaultRoute route;
    route.body = right;
    for (const char* path : {"/data/f.bin", "/a/b/f.bin", "/f.bin"}) {
        server.SetRoute(path, route);
    }
    struct Case {
        const char* label;
        std::string name;
        std::string link;    // below the install folder
        std::string target;  // below the outside folder
        std::optional<std::string> targetBytes;
    };
    const Case cases[] = {
        {"folder link", "data/f.bin", "data", "", std::nullopt},
        {"deeper folder link", "a/b/f.bin", "a/b", "", std::nullopt},
        {"file link to nothing", "f.bin", "f.bin", "victim.bin", std::nullopt},
        {"file link to a short file", "f.bin", "f.bin", "victim.bin", right.substr(0, 10)},
        {"file link to a wrong file", "f.bin", "f.bin", "victim.bin", MakeBytes(5000, 102)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        Sandbox box;
        const fs::path install = box.Path() / "install";
        const fs::path outside = box.Path() / "outside";
        fs::create_directories(outside);
        if (c.targetBytes) {
            box.Write("outside/" + c.target, *c.targetBytes);
        }
        fs::create_directories((install / c.link).parent_path());
        fs::create_symlink(outside / c.target, install / c.link);
        const std::set<std::string> before = Tree(outside);

        CDownloadQueue queue;
        CDownloadThread worker(MakeList(server.BaseUrl(), {{c.name, right}}), &queue,
                               install.string(), kQuick);
        const RunOutcome run = RunToEnd(worker, queue);
        ASSERT_TRUE(run.result);
        EXPECT_EQ(run.result->bSucceeded, 0);
        EXPECT_EQ(run.result->szMessage, LoadFormatString(118, static_cast<long>(ELOOP)));
        EXPECT_EQ(Tree(outside), before);
        if (c.targetBytes) {
            EXPECT_TRUE(box.Read("outside/" + c.target) == *c.targetBytes);
        }
    }
}

// A FIFO where the file should be would block the worker in open() beyond any stop, and
// hand the download to whoever reads it: it is refused whether or not a reader waits.
TEST(DownloadThread, RefusesAFifoInPlaceOfTheFile) {
    const std::string right = MakeBytes(5000, 105);
    FaultServer server;
    FaultRoute route;
    route.body = right;
    server.SetRoute("/f.bin", route);
    for (const bool reader : {false, true}) {
        SCOPED_TRACE(reader ? "with a reader" : "without a reader");
        Sandbox box;
        fs::create_directories(box.Path() / "install");
        const fs::path fifo = box.Path() / "install/f.bin";
        ASSERT_EQ(::mkfifo(fifo.c_str(), 0644), 0);
        const int readEnd = reader ? ::open(fifo.c_str(), O_RDONLY | O_NONBLOCK) : -1;

        CDownloadQueue queue;
        CDownloadThread worker(MakeList(server.BaseUrl(), {{"f.bin", right}}), &queue,
                               (box.Path() / "install").string(), kQuick);
        ASSERT_TRUE(worker.Start());
        std::unique_ptr<DownloadResult> result = queue.WaitFinished(3000ms);
        if (!result) {
            // Release a worker stuck in open() so the failure shows instead of a hang.
            const int rescue = ::open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
            worker.Stop();
            char sink[4096];
            while (!worker.HasEnded()) {
                (void)!::read(rescue, sink, sizeof sink);
            }
            ::close(rescue);
        }
        ASSERT_TRUE(result) << "the worker hung on the FIFO";
        EXPECT_EQ(result->bSucceeded, 0);
        EXPECT_EQ(result->szMessage,
                  LoadFormatString(118, static_cast<long>(reader ? EINVAL : ENXIO)));
        if (readEnd >= 0) {
            char byte;
            EXPECT_LE(::read(readEnd, &byte, 1), 0);
            ::close(readEnd);
        }
    }
}

// A response with more bytes than the listed size never grows the file past it.
TEST(DownloadThread, NeverWritesPastTheListedSize) {
    const std::string right = MakeBytes(30000, 111);
    FaultRoute longer;
    longer.body = right + MakeBytes(5000, 112);
    FaultRoute endless;
    endless.body = right;
    endless.endless = true;
    struct Case {
        const char* label;
        FaultRoute route;
    };
    for (const Case& c : {Case{"longer Content-Length", longer}, Case{"endless body", endless}}) {
        SCOPED_TRACE(c.label);
        FaultServer server;
        server.SetRoute("/f.bin", c.route);
        Sandbox box;
        CDownloadQueue queue;
        CDownloadThread worker(MakeList(server.BaseUrl(), {{"f.bin", right}}), &queue,
                               (box.Path() / "install").string(), kQuick);
        const RunOutcome run = RunToEnd(worker, queue);
        ASSERT_TRUE(run.result);
        EXPECT_EQ(run.result->bSucceeded, 1) << run.result->szMessage;
        // One attempt: the file never held more than the listed bytes.
        EXPECT_EQ(server.Hits("/f.bin"), 1u);
        EXPECT_EQ(FileSize(box.Path() / "install/f.bin"), right.size());
        EXPECT_TRUE(box.Read("install/f.bin") == right);
        for (const auto& record : run.progress) {
            EXPECT_EQ(record->nFileTotal, right.size());
            EXPECT_LE(record->nFileDone, right.size());
        }
    }
}

TEST(DownloadThread, ListOfNoFilesSucceedsAtOnce) {
    FaultServer server;
    Sandbox box;
    CFileList list = MakeList(server.BaseUrl(), {{"never.bin", "x"}});
    list.TotalCount = 0;
    CDownloadQueue queue;
    CDownloadThread worker(list, &queue, (box.Path() / "install").string(), kQuick);
    const auto begin = Clock::now();
    const RunOutcome run = RunToEnd(worker, queue);
    ASSERT_TRUE(run.result);
    EXPECT_LT(Ms(Clock::now() - begin), 1000);
    EXPECT_EQ(run.result->bSucceeded, 1);
    EXPECT_TRUE(run.progress.empty());
    EXPECT_EQ(server.Requests().size(), 0u);
    EXPECT_FALSE(fs::exists(box.Path() / "install/never.bin"));
}

// A file that never matches its checksum is fetched again after growing waits and, after
// five failed downloads in a row, ends the run with a line that names it; the next file is
// never asked for. The wait is what stops a tight loop of requests.
TEST(DownloadThread, GivesUpOnAFileWhoseChecksumKeepsFailing) {
    const std::string right = MakeBytes(30000, 121);
    FaultRoute wrong;
    wrong.body = MakeBytes(30000, 122);
    FaultRoute empty;  // "200, Content-Length: 0" for a file of 30,000 bytes
    FaultRoute longer;
    longer.body = right + "tail";
    longer.body[0] ^= 1;
    struct Case {
        const char* label;
        FaultRoute route;
        size_t requests;  // an empty file is resumed from 0, answered 416, then fetched whole
    };
    for (const Case& c : {Case{"other bytes", wrong, 5}, Case{"empty answer", empty, 9},
                          Case{"wrong and longer", longer, 5}}) {
        SCOPED_TRACE(c.label);
        FaultServer server;
        server.SetRoute("/f.bin", c.route);
        server.SetRoute("/next.bin", c.route);
        Sandbox box;
        LevelLog log(box.Path() / "log");
        CDownloadQueue queue;
        FakeWorkerSystem system;
        CDownloadThread worker(
            MakeList(server.BaseUrl(), {{"f.bin", right}, {"next.bin", MakeBytes(10, 123)}}),
            &queue, (box.Path() / "install").string(), kQuick, &system);
        worker.SetRetryDelays(kQuickRetries);
        const auto begin = Clock::now();
        const RunOutcome run = RunToEnd(worker, queue);
        const auto took = Clock::now() - begin;
        ASSERT_TRUE(run.result);
        EXPECT_EQ(run.result->bSucceeded, 0);
        EXPECT_EQ(run.result->szMessage, "Failed to get file checksum.");
        EXPECT_EQ(server.Hits("/f.bin"), c.requests);
        EXPECT_EQ(server.Hits("/next.bin"), 0u);
        // Four waits of 20, 40, 60 and 80 ms lie between the five requests.
        EXPECT_EQ(system.Waits(), kQuickRetries);
        EXPECT_GE(Ms(took), 200);
        const std::vector<std::string> lines = log.Lines();
        EXPECT_EQ(std::count(lines.begin(), lines.end(),
                             "WARNING (100%) invalid file checksum so re-download"),
                  4);
        EXPECT_EQ(std::count(lines.begin(), lines.end(), "INFO download file : (0) f.bin"), 5);
        ASSERT_FALSE(lines.empty());
        EXPECT_EQ(lines.back(), "ERROR (100%) file checksum keeps failing - f.bin (5 tries)");
        EXPECT_EQ(worker.CurrentIndex(), 0);
    }
}

// Only failures in a row on one file count: files that come right after four failures each
// still complete the run.
TEST(DownloadThread, CountsChecksumFailuresPerFileInARow) {
    FaultServer server;
    std::vector<Item> items;
    for (const char* name : {"a.bin", "b.bin"}) {
        const std::string right = MakeBytes(20000, name[0]);
        std::vector<FaultRoute> sequence(4);
        for (size_t k = 0; k < sequence.size(); ++k) {
            sequence[k].body = MakeBytes(20000, static_cast<int>(200 + k));
        }
        FaultRoute good;
        good.body = right;
        sequence.push_back(good);
        server.SetRouteSequence(std::string("/") + name, sequence);
        items.push_back({name, right});
    }
    Sandbox box;
    CDownloadQueue queue;
    CDownloadThread worker(MakeList(server.BaseUrl(), items), &queue,
                           (box.Path() / "install").string(), kQuick);
    worker.SetRetryDelays(kQuickRetries);
    const RunOutcome run = RunToEnd(worker, queue);
    ASSERT_TRUE(run.result);
    EXPECT_EQ(run.result->bSucceeded, 1) << run.result->szMessage;
    EXPECT_EQ(server.Hits("/a.bin"), 5u);
    EXPECT_EQ(server.Hits("/b.bin"), 5u);
    EXPECT_TRUE(box.Read("install/a.bin") == items[0].bytes);
    EXPECT_TRUE(box.Read("install/b.bin") == items[1].bytes);
}

// A resumed part whose bytes were wrong is fetched whole on the next attempt, also with several
// transfers at once: nothing of the first attempt's range carries over to the second.
TEST(DownloadThread, AResumedFileThatFailsItsChecksumIsFetchedWholeAgain) {
    for (const int jobs : {1, 2}) {
        SCOPED_TRACE(jobs);
        const std::string right = MakeBytes(20000, 141);
        FaultServer server;
        FaultRoute good;
        good.body = right;
        server.SetRoute("/f.bin", good);
        FaultRoute other;
        other.body = MakeBytes(100, 142);
        server.SetRoute("/g.bin", other);
        Sandbox box;
        box.Write("install/f.bin", MakeBytes(5000, 143));  // a part that is not the file's
        CDownloadQueue queue;
        CDownloadThread worker(
            MakeList(server.BaseUrl(), {{"f.bin", right}, {"g.bin", other.body}}), &queue,
            (box.Path() / "install").string(), kQuick);
        worker.SetRetryDelays(kQuickRetries);
        worker.SetJobs(jobs);
        const RunOutcome run = RunToEnd(worker, queue);
        ASSERT_TRUE(run.result);
        EXPECT_EQ(run.result->bSucceeded, 1) << run.result->szMessage;
        EXPECT_TRUE(box.Read("install/f.bin") == right);
        std::vector<std::string> ranges;
        for (const FaultRequest& request : server.Requests()) {
            if (request.path == "/f.bin") {
                ranges.push_back(request.Header("Range"));
            }
        }
        EXPECT_EQ(ranges, (std::vector<std::string>{"bytes=5000-", ""}));
    }
}

// A stop during the wait before the next attempt ends the run at once, as a stop.
TEST(DownloadThread, StopEndsTheWaitBeforeAnotherAttempt) {
    const std::string right = MakeBytes(30000, 131);
    FaultServer server;
    FaultRoute wrong;
    wrong.body = MakeBytes(30000, 132);
    server.SetRoute("/f.bin", wrong);
    Sandbox box;
    LevelLog log(box.Path() / "log");
    CDownloadQueue queue;
    CDownloadThread worker(MakeList(server.BaseUrl(), {{"f.bin", right}}), &queue,
                           (box.Path() / "install").string(), kQuick);
    worker.SetRetryDelays({60s});
    ASSERT_TRUE(worker.Start());
    ASSERT_TRUE(
        WaitUntil([&] { return log.Has("WARNING (100%) invalid file checksum so re-download"); },
                  kRunTimeout));
    worker.Stop();
    EXPECT_TRUE(worker.HasEnded());
    std::unique_ptr<DownloadResult> result = queue.WaitFinished(2000ms);
    ASSERT_TRUE(result);
    EXPECT_EQ(result->bSucceeded, 0);
    EXPECT_EQ(result->szMessage, "");
    EXPECT_EQ(server.Hits("/f.bin"), 1u);
    EXPECT_FALSE(log.Has("ERROR"));
}

// The free-space check counts only what is not on disk yet: a complete install can be
// verified and a partial one resumed on a disk with less room than the whole list needs.
TEST(DownloadThread, FreeSpaceCheckCountsOnlyMissingBytes) {
    const std::string a = MakeBytes(20000, 141);
    const std::string b = MakeBytes(10000, 142);
    FaultServer server;
    ServeBodies(server, {{"/a.bin", a}, {"/b.bin", b}});
    struct Case {
        const char* label;
        std::optional<std::string> haveA;
        std::optional<std::string> haveB;
        bool succeeds;
        size_t requests;
    };
    const Case cases[] = {
        {"complete install", a, b, true, 0},
        {"resume of the missing part", a, b.substr(0, 5000), true, 1},
        {"nothing there", std::nullopt, std::nullopt, false, 0},
        {"a longer file makes no room", a + "longer", std::nullopt, false, 0},
    };
    FakeWorkerSystem system;
    system.freeSpace = 8000;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        const size_t before = server.Requests().size();
        Sandbox box;
        if (c.haveA) {
            box.Write("install/a.bin", *c.haveA);
        }
        if (c.haveB) {
            box.Write("install/b.bin", *c.haveB);
        }
        LevelLog log(box.Path() / "log");
        CDownloadQueue queue;
        CDownloadThread worker(MakeList(server.BaseUrl(), {{"a.bin", a}, {"b.bin", b}}), &queue,
                               (box.Path() / "install").string(), kQuick, &system);
        const RunOutcome run = RunToEnd(worker, queue);
        ASSERT_TRUE(run.result);
        EXPECT_EQ(run.result->bSucceeded, c.succeeds ? 1 : 0) << run.result->szMessage;
        EXPECT_EQ(server.Requests().size() - before, c.requests);
        EXPECT_EQ(log.Has("ERROR insufficient free space in disk"), !c.succeeds);
        if (c.succeeds) {
            EXPECT_TRUE(box.Read("install/b.bin") == b);
        }
    }
}

// A folder of the file's path (or the file itself) swapped for a link while the server holds
// the response: the open at the moment of use refuses it, nothing outside the install folder
// is written, and the run does not report success. With openat2 and with the walk used where
// the kernel lacks it.
TEST(DownloadThread, ALinkSwappedInDuringTheRequestIsNotWrittenThrough) {
    const std::string right = MakeBytes(30000, 151);
    const std::string victim = MakeBytes(30000, 152);
    struct Case {
        const char* label;
        std::string name;
        std::string swapped;  // below the install folder, replaced by a link to outside/
        size_t present;       // bytes of the file there before the run
    };
    const Case cases[] = {
        {"folder", "data/f.bin", "data", 0},
        {"folder of a resumed file", "data/f.bin", "data", 1000},
        {"upper folder", "a/b/f.bin", "a", 0},
        {"the file itself", "f.bin", "f.bin", 1000},
    };
    for (const bool walk : {false, true}) {
        CInstallDir::s_bForceWalk = walk;
        for (const Case& c : cases) {
            SCOPED_TRACE(std::string(c.label) + (walk ? " (walk)" : " (openat2)"));
            FaultServer server;
            FaultRoute route;
            route.body = right;
            route.holdUntilReleased = true;
            server.SetRoute("/" + c.name, route);
            Sandbox box;
            const fs::path install = box.Path() / "install";
            const fs::path outside = box.Path() / "outside";
            fs::create_directories(install);
            if (c.present > 0) {
                box.Write("install/" + c.name, right.substr(0, c.present));
            }
            // Where the write would land through the link.
            const std::string rest =
                c.name.size() > c.swapped.size() ? c.name.substr(c.swapped.size() + 1) : "";
            box.Write("outside/" + (rest.empty() ? std::string("f.bin") : rest), victim);
            const std::set<std::string> before = Tree(outside);

            CDownloadQueue queue;
            CDownloadThread worker(MakeList(server.BaseUrl(), {{c.name, right}}), &queue,
                                   install.string(), kQuick);
            ASSERT_TRUE(worker.Start());
            ASSERT_EQ(server.WaitForRequests(1).size(), 1u);
            fs::path target = outside;
            if (rest.empty()) {
                target = outside / "f.bin";
            }
            if (fs::exists(install / c.swapped)) {
                fs::rename(install / c.swapped, box.Path() / "moved");
            }
            fs::create_symlink(target, install / c.swapped);
            server.ReleaseHeld();

            std::unique_ptr<DownloadResult> result = queue.WaitFinished(kRunTimeout);
            ASSERT_TRUE(result);
            EXPECT_EQ(result->bSucceeded, 0);
            EXPECT_EQ(result->szMessage, LoadFormatString(118, static_cast<long>(ELOOP)));
            EXPECT_EQ(Tree(outside), before);
            EXPECT_TRUE(box.Read("outside/" + (rest.empty() ? std::string("f.bin") : rest)) ==
                        victim);
        }
    }
    CInstallDir::s_bForceWalk = false;
}

// One run per install folder: a second run, by whatever path it names the folder, ends at
// once with "Program is already ongoing." while the first goes on; no lock file is left.
TEST(DownloadThread, ASecondRunOnTheSameFolderEndsAtOnce) {
    const std::string right = MakeBytes(30000, 161);
    FaultServer server;
    FaultRoute route;
    route.body = right;
    route.holdUntilReleased = true;
    server.SetRoute("/f.bin", route);
    Sandbox box;
    const fs::path install = box.Path() / "install";
    fs::create_directories(install);
    fs::create_symlink(install, box.Path() / "alias");
    const CFileList list = MakeList(server.BaseUrl(), {{"f.bin", right}});

    CDownloadQueue firstQueue;
    CDownloadThread first(list, &firstQueue, install.string(), kQuick);
    ASSERT_TRUE(first.Start());
    ASSERT_EQ(server.WaitForRequests(1).size(), 1u);

    for (const fs::path& folder : {install, box.Path() / "alias"}) {
        SCOPED_TRACE(folder.string());
        Sandbox logBox;
        LevelLog log(logBox.Path());
        CDownloadQueue queue;
        CDownloadThread second(list, &queue, folder.string(), kQuick);
        const RunOutcome run = RunToEnd(second, queue);
        ASSERT_TRUE(run.result);
        EXPECT_EQ(run.result->bSucceeded, 0);
        EXPECT_EQ(run.result->szMessage, "Program is already ongoing.");
        EXPECT_EQ(second.ResultMessageId(), CDownloadThread::FOLDER_IN_USE);
        EXPECT_EQ(log.Lines(),
                  std::vector<std::string>{"ERROR install folder is held by another run - " +
                                           folder.string()});
        EXPECT_TRUE(run.progress.empty());
    }
    EXPECT_EQ(server.Requests().size(), 1u);

    server.ReleaseHeld();
    std::unique_ptr<DownloadResult> result = firstQueue.WaitFinished(kRunTimeout);
    ASSERT_TRUE(result);
    EXPECT_EQ(result->bSucceeded, 1) << result->szMessage;
    EXPECT_EQ(first.ResultMessageId(), 0);
    EXPECT_EQ(Tree(install), std::set<std::string>{"f.bin 30000"});

    // Once the first run has ended the folder is free again.
    CDownloadQueue queue;
    CDownloadThread third(list, &queue, install.string(), kQuick);
    const RunOutcome run = RunToEnd(third, queue);
    ASSERT_TRUE(run.result);
    EXPECT_EQ(run.result->bSucceeded, 1) << run.result->szMessage;
}

}  // namespace
