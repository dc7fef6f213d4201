// Automatic retry: which failures are tried again, the waits before them, the resume by range,
// the end after two minutes without progress, and a stop during a wait.
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <ctime>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "download/checksum.h"
#include "download/download_queue.h"
#include "download/download_thread.h"
#include "download/retry_policy.h"
#include "platform/string_table.h"
#include "support/closed_port.h"
#include "support/fake_worker_system.h"
#include "support/fault_server.h"
#include "support/hello_breaker.h"
#include "support/log_capture.h"
#include "support/sandbox.h"
#include "support/test_data.h"
#include "support/test_list.h"

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

namespace {

const HttpTimeouts kQuick{2000, 5};
constexpr uint64_t kMiB = 1024 * 1024;

struct Seen {
    std::unique_ptr<DownloadResult> result;
    std::vector<DownloadRetry> retries;
};

Seen RunToEnd(CDownloadThread& worker, CDownloadQueue& queue) {
    Seen seen;
    if (!worker.Start()) {
        return seen;
    }
    const auto deadline = Clock::now() + 30s;
    while (Clock::now() < deadline) {
        CDownloadQueue::Record record;
        if (!queue.Take(record, 100ms)) {
            continue;
        }
        if (auto* result = std::get_if<std::unique_ptr<DownloadResult>>(&record)) {
            seen.result = std::move(*result);
            break;
        }
        if (auto* retry = std::get_if<std::unique_ptr<DownloadRetry>>(&record)) {
            seen.retries.push_back(**retry);
        }
    }
    return seen;
}

std::vector<std::string> Ranges(const FaultServer& server, const std::string& path) {
    std::vector<std::string> out;
    for (const FaultRequest& request : server.Requests()) {
        if (request.path == path) {
            out.push_back(request.Header("Range"));
        }
    }
    return out;
}

std::vector<std::string> Matching(const std::vector<std::string>& lines, const std::string& part) {
    std::vector<std::string> out;
    std::copy_if(lines.begin(), lines.end(), std::back_inserter(out),
                 [&](const std::string& line) { return line.find(part) != std::string::npos; });
    return out;
}

}  // namespace

TEST(RetryPolicy, TellsFailuresThatMayPassFromThoseThatWillNot) {
    struct Case {
        uint32_t code;
        const char* reason;  // empty: permanent
        int osError = 0;
    };
    const Case cases[] = {
        {408, "HTTP 408"},
        {429, "HTTP 429"},
        {500, "HTTP 500"},
        {502, "HTTP 502"},
        {503, "HTTP 503"},
        {504, "HTTP 504"},
        {400, ""},
        {401, ""},
        {403, ""},
        {404, ""},
        {410, ""},
        {416, ""},
        {501, ""},
        {505, ""},
        {7, "connection refused"},
        {6, "host not found"},
        {28, "timed out"},
        {55, "connection reset"},
        {56, "connection reset"},
        {52, "empty reply"},
        {18, "body cut short"},
        {1, ""},                               // unsupported protocol (a redirect)
        {8, ""},                               // a reply that is no HTTP
        {23, ""},                              // write error
        {35, ""},                              // TLS handshake refused by the server
        {35, "connection reset", ECONNRESET},  // the handshake cut by the network
        {35, "connection reset", EPIPE},
        {35, "timed out", ETIMEDOUT},
        {35, "", EACCES},
        {47, ""},  // too many redirects
        {60, ""},  // certificate not trusted
        {63, ""},  // larger than allowed
        {STOPPED_BY_REQUEST, ""},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(CRetryPolicy::TransientReason(c.code, c.osError), c.reason)
            << c.code << " " << c.osError;
    }
}

TEST(RetryPolicy, BacksOffToThirtySecondsAndHonoursTheServerWithinReason) {
    std::vector<long> backOff;
    for (int retries = 0; retries < 8; ++retries) {
        backOff.push_back(static_cast<long>(CRetryPolicy::BackOff(retries).count()));
    }
    EXPECT_EQ(backOff, (std::vector<long>{1, 2, 4, 8, 16, 30, 30, 30}));
    EXPECT_EQ(CRetryPolicy::Delay(3, 0), 8s);
    EXPECT_EQ(CRetryPolicy::Delay(3, 5), 5s);
    EXPECT_EQ(CRetryPolicy::Delay(0, 86400), CRetryPolicy::MAX_SERVER_DELAY);
}

// Every answer is cut after a mebibyte: with retry each attempt resumes where the last one
// ended and the run ends verified; without it the run ends at the first cut as it always did.
// With several lanes each retries its own file, and its log lines stay with the file's.
TEST(AutoRetry, AnswersCutAfterAMebibyteEndVerifiedByRangeRequests) {
    struct Case {
        const char* label;
        bool retry;
        int jobs;
    };
    for (const Case& c : {Case{"retry", true, 1}, Case{"retry, three lanes", true, 3},
                          Case{"no retry", false, 1}}) {
        SCOPED_TRACE(c.label);
        FaultServer server;
        std::vector<TestFile> files;
        for (int i = 0; i < 3; ++i) {
            const std::string name = "f" + std::to_string(i) + ".bin";
            files.push_back(
                {name, MakeBytes(2 * kMiB + kMiB / 2 + static_cast<size_t>(i), 40 + i)});
            FaultRoute route;
            route.body = files.back().bytes;
            route.cutAfter = kMiB;
            server.SetRoute("/" + name, route);
        }
        Sandbox box;
        LogCapture log(box.Path() / "log", true);
        CDownloadQueue queue;
        FakeWorkerSystem system;
        system.skipWaits = true;
        CDownloadThread worker(MakeList(server.BaseUrl(), files), &queue,
                               (box.Path() / "install").string(), kQuick, &system);
        worker.SetAutoRetry(c.retry);
        worker.SetJobs(c.jobs);
        const Seen run = RunToEnd(worker, queue);
        ASSERT_TRUE(run.result);
        const std::vector<std::string> lines = log.Lines();
        if (!c.retry) {
            EXPECT_EQ(run.result->bSucceeded, 0);
            EXPECT_EQ(run.result->szMessage,
                      FormatMessageText(IDS_NETWORK_UNSTABLE, long{STOPPED_BY_REQUEST}));
            EXPECT_EQ(Ranges(server, "/f0.bin"), std::vector<std::string>{""});
            EXPECT_TRUE(Matching(lines, "retrying").empty());
            EXPECT_TRUE(system.Waits().empty());
            EXPECT_TRUE(run.retries.empty());
            continue;
        }
        EXPECT_EQ(run.result->bSucceeded, 1) << run.result->szMessage;
        for (const TestFile& file : files) {
            EXPECT_TRUE(box.Read("install/" + file.name) == file.bytes) << file.name;
            EXPECT_EQ(Ranges(server, "/" + file.name),
                      (std::vector<std::string>{"", "bytes=1048576-", "bytes=2097152-"}));
        }
        // Each cut came after progress, so each wait is the first step of the back-off.
        EXPECT_EQ(system.Waits(), std::vector<std::chrono::milliseconds>(6, 1s));
        EXPECT_EQ(worker.TotalDone(), 3 * (2 * kMiB + kMiB / 2) + 3);
        // Only the file shown reaches the views; with one lane that is every file.
        ASSERT_FALSE(run.retries.empty());
        for (const DownloadRetry& retry : run.retries) {
            EXPECT_EQ(retry.nWaitSeconds, 1u);
            EXPECT_EQ(retry.szReason, "body cut short");
        }
        if (c.jobs == 1) {
            EXPECT_EQ(run.retries.size(), 6u);
        }
        // One line per retry, among its own file's lines.
        EXPECT_EQ(Matching(lines, "retrying in").size(), 6u);
        std::string current;
        for (const std::string& line : lines) {
            if (line.rfind("INFO download file : ", 0) == 0) {
                current = line.substr(line.find(") ") + 2);
            } else if (line.find("retrying in") != std::string::npos) {
                EXPECT_EQ(line, "WARNING retrying in 1 s - " + current + ": body cut short (99)");
            }
        }
    }
}

// A busy server's Retry-After (seconds or a date) sets the wait; without one the back-off does.
TEST(AutoRetry, ServerBusyAnswersWaitAsAskedThenTheRunCompletes) {
    char date[64];
    const std::time_t later = std::time(nullptr) + 20;
    std::tm tm{};
    gmtime_r(&later, &tm);
    std::strftime(date, sizeof date, "%a, %d %b %Y %H:%M:%S GMT", &tm);
    struct Case {
        const char* label;
        int status;
        std::string retryAfter;  // empty: none sent
        std::chrono::seconds least, most;
    };
    for (const Case& c :
         {Case{"503, seconds", 503, "7", 7s, 7s}, Case{"503, a date", 503, date, 15s, 21s},
          Case{"503, a day", 503, "86400", 110s, 120s}, Case{"429, nothing", 429, "", 1s, 1s}}) {
        SCOPED_TRACE(c.label);
        const std::string bytes = MakeBytes(50000, 7);
        FaultServer server;
        FaultRoute busy;
        busy.status = c.status;
        busy.body = "busy";
        if (!c.retryAfter.empty()) {
            busy.headers = {{"Retry-After", c.retryAfter}};
        }
        FaultRoute good;
        good.body = bytes;
        server.SetRouteSequence("/f.bin", {busy, good});
        Sandbox box;
        CDownloadQueue queue;
        FakeWorkerSystem system;
        system.skipWaits = true;
        CDownloadThread worker(MakeList(server.BaseUrl(), {{"f.bin", bytes}}), &queue,
                               (box.Path() / "install").string(), kQuick, &system);
        worker.SetAutoRetry(true);
        const Seen run = RunToEnd(worker, queue);
        ASSERT_TRUE(run.result);
        EXPECT_EQ(run.result->bSucceeded, 1) << run.result->szMessage;
        const std::vector<std::chrono::milliseconds> waits = system.Waits();
        ASSERT_EQ(waits.size(), 1u);
        EXPECT_GE(waits[0], c.least);
        EXPECT_LE(waits[0], c.most);
        ASSERT_EQ(run.retries.size(), 1u);
        EXPECT_EQ(run.retries[0].szReason, "HTTP " + std::to_string(c.status));
        EXPECT_EQ(server.Hits("/f.bin"), 2u);
    }
}

// Answers that will not change end the run at once, retry or not.
TEST(AutoRetry, PermanentFailuresEndTheRunAtOnce) {
    for (int status : {404, 403}) {
        SCOPED_TRACE(status);
        FaultServer server;
        FaultRoute refused;
        refused.status = status;
        refused.body = "no";
        server.SetRoute("/f.bin", refused);
        Sandbox box;
        CDownloadQueue queue;
        FakeWorkerSystem system;
        system.skipWaits = true;
        CDownloadThread worker(MakeList(server.BaseUrl(), {{"f.bin", MakeBytes(1000, 3)}}), &queue,
                               (box.Path() / "install").string(), kQuick, &system);
        worker.SetAutoRetry(true);
        const Seen run = RunToEnd(worker, queue);
        ASSERT_TRUE(run.result);
        EXPECT_EQ(run.result->bSucceeded, 0);
        EXPECT_EQ(run.result->szMessage,
                  FormatMessageText(IDS_SERVER_UNREACHABLE, static_cast<long>(status)));
        EXPECT_EQ(server.Hits("/f.bin"), 1u);
        EXPECT_TRUE(system.Waits().empty());
        EXPECT_TRUE(run.retries.empty());
    }
}

// Without a byte for the no-progress limit the run ends with the message and the log line it
// ends with without retry; the waits never run past the limit.
TEST(AutoRetry, NoProgressForTheLimitEndsTheRunAsWithoutRetry) {
    enum class Fault { Busy, Refused, HandshakeReset };
    struct Case {
        const char* label;
        Fault fault;
    };
    for (const Case& c :
         {Case{"busy server", Fault::Busy}, Case{"refused connections", Fault::Refused},
          Case{"TLS handshakes reset", Fault::HandshakeReset}}) {
        SCOPED_TRACE(c.label);
        FaultServer server;
        FaultRoute busy;
        busy.status = 503;
        busy.body = "busy";
        server.SetRoute("/f.bin", busy);
        ClosedPort closed;
        HelloBreaker breaker(HelloBreaker::Mode::Reset);
        const std::string url = c.fault == Fault::Refused          ? closed.BaseUrl()
                                : c.fault == Fault::HandshakeReset ? breaker.BaseUrl()
                                                                   : server.BaseUrl();
        std::string message[2];
        std::string lastLine[2];
        std::vector<std::chrono::milliseconds> waits;
        for (const bool retry : {false, true}) {
            Sandbox box;
            LogCapture log(box.Path() / "log", true);
            CDownloadQueue queue;
            FakeWorkerSystem system;
            system.skipWaits = true;
            system.waitsMoveClock = true;
            CDownloadThread worker(MakeList(url, {{"f.bin", MakeBytes(1000, 5)}}), &queue,
                                   (box.Path() / "install").string(), kQuick, &system);
            worker.SetAutoRetry(retry, 20s);
            const Seen run = RunToEnd(worker, queue);
            ASSERT_TRUE(run.result);
            EXPECT_EQ(run.result->bSucceeded, 0);
            message[retry] = run.result->szMessage;
            const std::vector<std::string> lines = log.Lines();
            ASSERT_FALSE(lines.empty());
            // libcurl's words after the code carry a time ("after 0 ms"): left out.
            lastLine[retry] = lines.back().substr(0, lines.back().find("): ") + 1);
            if (retry) {
                waits = system.Waits();
                EXPECT_EQ(Matching(lines, "retrying in").size(), waits.size());
            }
        }
        EXPECT_EQ(message[1], message[0]);
        EXPECT_EQ(lastLine[1], lastLine[0]);
        EXPECT_NE(lastLine[1].find("failed to connect server"), std::string::npos);
        // 1, 2, 4 and 8 s, then what is left of the 20 s.
        ASSERT_EQ(waits.size(), 5u);
        EXPECT_EQ(std::vector<std::chrono::milliseconds>(waits.begin(), waits.begin() + 4),
                  (std::vector<std::chrono::milliseconds>{1s, 2s, 4s, 8s}));
        EXPECT_LE(waits[4], 5s);
        EXPECT_GT(waits[4], 4s);
    }
}

// A stop during a wait ends it at once, as a stop: no message, the partial file kept.
TEST(AutoRetry, AStopDuringAWaitEndsTheRunAtOnce) {
    const std::string bytes = MakeBytes(3 * kMiB, 9);
    FaultServer server;
    FaultRoute cut;
    cut.body = bytes;
    cut.cutAfter = kMiB;
    FaultRoute busy;
    busy.status = 503;
    busy.body = "busy";
    busy.headers = {{"Retry-After", "60"}};
    server.SetRouteSequence("/f.bin", {cut, busy});
    Sandbox box;
    LogCapture log(box.Path() / "log", true);
    CDownloadQueue queue;
    CDownloadThread worker(MakeList(server.BaseUrl(), {{"f.bin", bytes}}), &queue,
                           (box.Path() / "install").string(), kQuick);
    worker.SetAutoRetry(true);
    ASSERT_TRUE(worker.Start());
    const auto deadline = Clock::now() + 10s;
    while (Matching(log.Lines(), "retrying in 60 s").empty() && Clock::now() < deadline) {
        std::this_thread::sleep_for(10ms);
    }
    ASSERT_FALSE(Matching(log.Lines(), "retrying in 60 s").empty());
    const auto begin = Clock::now();
    worker.Stop();
    EXPECT_TRUE(worker.HasEnded());
    EXPECT_LT(Clock::now() - begin, 5s);
    std::unique_ptr<DownloadResult> result = queue.WaitFinished(5s);
    ASSERT_TRUE(result);
    EXPECT_EQ(result->bSucceeded, 0);
    EXPECT_EQ(result->szMessage, "");
    EXPECT_EQ(box.Read("install/f.bin"), bytes.substr(0, kMiB));
    EXPECT_TRUE(Matching(log.Lines(), "ERROR").empty());
}
