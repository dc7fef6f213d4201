// The fault-injection suite: the worker downloads a three-file list while the fault server
// breaks the middle file in one way or another. Every case checks what the run reported,
// what is on disk afterwards (never more than the listed bytes, never wrong bytes kept as
// done), and that the next run against healthy routes ends with every file's MD5 right.
#include <curl/curl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

#include "download/download_queue.h"
#include "download/download_thread.h"
#include "download/http_client.h"
#include "download/list_fetch.h"
#include "faults/faults_support.h"
#include "platform/string_table.h"
#include "support/closed_port.h"
#include "support/fault_server.h"
#include "support/log_capture.h"
#include "support/sandbox.h"
#include "support/test_data.h"

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using namespace faults;

namespace {

// A stalled transfer ends after two seconds, so no case waits for the real 30.
const HttpTimeouts kQuick{2000, 2};
const std::string kB = "data/b.bin";

const Corpus& ThreeFiles() {
    static const Corpus corpus{
        {"a.bin", MakeBytes(40000, 1)},
        {kB, MakeBytes(300000, 2)},
        {"c.bin", MakeBytes(6000, 3)},
    };
    return corpus;
}

const std::string& RightB() {
    return ThreeFiles()[1].bytes;
}

long Ms(Clock::duration d) {
    return static_cast<long>(std::chrono::duration_cast<std::chrono::milliseconds>(d).count());
}

bool HasLine(const LogCapture& log, const std::string& text) {
    for (const std::string& line : log.Lines()) {
        if (line.find(text) != std::string::npos) {
            return true;
        }
    }
    return false;
}

// The Range headers of the requests for path among requests[from...].
std::vector<std::string> RangesFor(const FaultServer& server, const std::string& path,
                                   size_t from = 0) {
    std::vector<std::string> ranges;
    const std::vector<FaultRequest> requests = server.Requests();
    for (size_t i = from; i < requests.size(); ++i) {
        if (requests[i].path == path) {
            ranges.push_back(requests[i].Header("Range"));
        }
    }
    return ranges;
}

// The lines of the file's part of a run: from its "download file" line to the next file's.
std::vector<std::string> LinesOfFile(const std::vector<std::string>& lines,
                                     const std::string& name) {
    std::vector<std::string> out;
    for (const std::string& line : lines) {
        const bool fileLine = line.find("download file : (") != std::string::npos;
        if (fileLine && !out.empty()) {
            break;
        }
        if (!out.empty() || (fileLine && line.ends_with(") " + name))) {
            out.push_back(line);
        }
    }
    return out;
}

// The records of a file's transfer (not of its skip), in order.
std::vector<DownloadProgress> TransferRecords(const RunOutcome& run, int32_t index) {
    std::vector<DownloadProgress> out;
    for (const auto& record : run.progress) {
        if (record->nFileIndex == index && record->bSkipped == 0) {
            out.push_back(*record);
        }
    }
    return out;
}

uint64_t ListTotal(const Corpus& corpus) {
    uint64_t total = 0;
    for (const CorpusFile& file : corpus) {
        total += file.bytes.size();
    }
    return total;
}

std::string Network(long code) {
    return LoadFormatString(119, code);
}

std::string Unreachable(long code) {
    return LoadFormatString(104, code);
}

enum class After { Absent, Partial, Complete };

struct Context {
    FaultServer& server;
    const fs::path& sandbox;
};

struct FaultCase {
    const char* id;
    // Sets the faulty routes over the healthy ones.
    std::function<void(const Context&)> fault;
    std::optional<std::string> localB;  // data/b.bin on disk before the faulty run
    bool succeeds;                      // the faulty run heals the file by itself
    std::string message;                // the run's message
    std::string logLine;                // a line the log must hold; empty for none
    After bAfter;                       // data/b.bin after the faulty run
    // The Range headers of the faulty run's requests for data/b.bin, when they matter.
    std::optional<std::vector<std::string>> bRanges;
    bool closedPort = false;  // the list's address is a port where nobody listens
    // data/b.bin's log lines in the faulty run, from its "download file" line on.
    std::optional<std::vector<std::string>> bLog = std::nullopt;
    // The faulty run's first record of data/b.bin shows more than this many bytes and at
    // most one read more: where the transfer began.
    std::optional<uint64_t> bStartsFrom = std::nullopt;
    // The run counts every byte of the list once, and every record of data/b.bin shows its
    // listed size.
    bool countedOnce = false;
    // The bytes of data/b.bin after a failed run, at least and at most.
    std::optional<std::pair<uint64_t, uint64_t>> bPartial = std::nullopt;
};

// Cases are named by their id in failure messages.
void PrintTo(const FaultCase& c, std::ostream* os) {
    *os << c.id;
}

FaultRoute Route(const std::function<void(FaultRoute&)>& shape) {
    FaultRoute route;
    route.body = RightB();
    shape(route);
    return route;
}

// b's whole body once FaultServer::ReleaseHeld() lets it go.
FaultRoute HeldB() {
    return Route([](FaultRoute& r) { r.holdUntilReleased = true; });
}

void BreakB(const Context& c, const std::function<void(FaultRoute&)>& shape) {
    c.server.SetRoute("/" + kB, Route(shape));
}

std::string Flipped(std::string bytes, size_t at) {
    bytes[at] = static_cast<char>(bytes[at] ^ 0x40);
    return bytes;
}

FaultRoute Refused416(std::string body) {
    FaultRoute route;
    route.status = 416;
    route.body = std::move(body);
    route.headers = {{"Content-Range", "bytes */300000"}};
    return route;
}

const std::string kHtml416 =
    "<html><head><title>416 Requested Range Not Satisfiable</title></head><body>"
    "<center><h1>416 Requested Range Not Satisfiable</h1></center></body></html>\r\n";

std::vector<FaultCase> Cases() {
    const std::string prefix = RightB().substr(0, 50000);
    const std::vector<std::string> notSatisfiableLog{
        "INFO download file : (1) data/b.bin",
        "INFO file is exist",
        "INFO file download relay mode",
        "WARNING requested range is not satisfiable so re-download",
        "INFO (100%) file download success",
    };
    return {
        // 1. A body cut short right after its headers, and a reset in mid-body.
        {"CutRightAfterTheHeaders",
         [](const Context& c) { BreakB(c, [](FaultRoute& r) { r.cutAfter = 0; }); }, std::nullopt,
         false, Network(99),
         "failed to download file - data/b.bin (contentSize:300000, totalRead:0)", After::Partial,
         std::vector<std::string>{""}, false, std::nullopt, std::nullopt, false,
         std::pair<uint64_t, uint64_t>{0, 0}},
        {"CutInMidBody",
         [](const Context& c) { BreakB(c, [](FaultRoute& r) { r.cutAfter = 100000; }); },
         std::nullopt, false, Network(99),
         "ERROR failed to download file - data/b.bin (contentSize:300000, totalRead:100000)",
         After::Partial, std::vector<std::string>{""}, false, std::nullopt, std::nullopt, false,
         std::pair<uint64_t, uint64_t>{100000, 100000}},
        // A reset is a network error with libcurl's own code, not the short-body 99.
        {"ResetInMidBody",
         [](const Context& c) { BreakB(c, [](FaultRoute& r) { r.resetAfter = 100000; }); },
         std::nullopt, false, Network(CURLE_RECV_ERROR), "failed to download file - (56)",
         After::Partial, std::vector<std::string>{""}, false, std::nullopt, std::nullopt, false,
         std::pair<uint64_t, uint64_t>{0, 100000}},
        // 2. The range ignored: 200 with the whole file, written from the start, once.
        {"RangeIgnored",
         [](const Context& c) {
             BreakB(c, [](FaultRoute& r) {
                 r.ignoreRange = true;
                 r.holdUntilReleased = true;
             });
         },
         prefix, true, "", "range request is answered with the whole file", After::Complete,
         std::vector<std::string>{"bytes=50000-"}, false,
         std::vector<std::string>{
             "INFO download file : (1) data/b.bin",
             "INFO file is exist",
             "INFO file download relay mode",
             "WARNING range request is answered with the whole file",
             "INFO (100%) file download success",
         },
         0, true},
        // 3. 206 from another offset than the one asked for.
        {"PartFromTheStart",
         [](const Context& c) {
             BreakB(c, [](FaultRoute& r) { r.contentRangeStartOverride = 0; });
         },
         prefix, true, "", "(100%) invalid file checksum so re-download", After::Complete,
         std::vector<std::string>{"bytes=50000-", ""}},
        {"PartFromFurtherOn",
         [](const Context& c) {
             BreakB(c, [](FaultRoute& r) { r.contentRangeStartOverride = 100000; });
         },
         prefix, true, "", "(100%) invalid file checksum so re-download", After::Complete,
         std::vector<std::string>{"bytes=50000-", "bytes=250000-", ""}},
        // 4. 416 to the resume request, with and without an HTML body.
        {"NotSatisfiableWithHtml",
         [](const Context& c) {
             c.server.SetRouteSequence("/" + kB, {Refused416(kHtml416), HeldB()});
         },
         prefix, true, "", "requested range is not satisfiable so re-download", After::Complete,
         std::vector<std::string>{"bytes=50000-", ""}, false, notSatisfiableLog, 0, true},
        {"NotSatisfiableWithoutBody",
         [](const Context& c) {
             c.server.SetRouteSequence("/" + kB, {Refused416(""), HeldB()});
         },
         prefix, true, "", "requested range is not satisfiable so re-download", After::Complete,
         std::vector<std::string>{"bytes=50000-", ""}, false, notSatisfiableLog, 0, true},
        // 5. A local file longer than listed, and one with a wrong byte at the right length.
        {"LocalFileLonger", [](const Context& c) { c.server.SetRoute("/" + kB, HeldB()); },
         RightB() + MakeBytes(1000, 9), true, "", "local file is bigger so re-download",
         After::Complete, std::vector<std::string>{""}, false,
         std::vector<std::string>{
             "INFO download file : (1) data/b.bin",
             "INFO file is exist",
             "WARNING local file is bigger so re-download",
             "INFO (100%) file download success",
         },
         0, true},
        {"LocalFileCorrupted", [](const Context& c) { c.server.SetRoute("/" + kB, HeldB()); },
         Flipped(RightB(), 123456), true, "", "invalid file checksum so re-download",
         After::Complete, std::vector<std::string>{""}, false,
         std::vector<std::string>{
             "INFO download file : (1) data/b.bin",
             "INFO file is exist",
             "WARNING invalid file checksum so re-download",
             "INFO (100%) file download success",
         },
         0, true},
        // 6. Endless data.
        {"ChunkedWithoutEnd",
         [](const Context& c) {
             BreakB(c, [](FaultRoute& r) {
                 r.length = FaultRoute::Length::Chunked;
                 r.endless = true;
             });
         },
         std::nullopt, false, Unreachable(CURLE_WEIRD_SERVER_REPLY),
         "failed to connect server - (8)", After::Absent, std::vector<std::string>{""}},
        {"EndlessBodyOfATebibyte",
         [](const Context& c) { BreakB(c, [](FaultRoute& r) { r.endless = true; }); }, std::nullopt,
         true, "", "(100%) file download success", After::Complete, std::vector<std::string>{""}},
        {"LengthTwiceTheListedSize",
         [](const Context& c) {
             BreakB(c, [](FaultRoute& r) {
                 r.body += MakeBytes(300000, 8);
                 r.declaredLength = 600000;
             });
         },
         std::nullopt, true, "", "(100%) file download success", After::Complete,
         std::vector<std::string>{""}},
        // 7. Broken chunked encoding, also behind a Content-Length.
        {"BrokenChunked",
         [](const Context& c) { BreakB(c, [](FaultRoute& r) { r.brokenChunked = true; }); },
         std::nullopt, false, Unreachable(CURLE_WEIRD_SERVER_REPLY),
         "failed to connect server - (8)", After::Absent, std::vector<std::string>{""}},
        {"BrokenChunkedWithLength",
         [](const Context& c) {
             BreakB(c, [](FaultRoute& r) {
                 r.brokenChunked = true;
                 r.declaredLength = 300000;
             });
         },
         std::nullopt, false, Unreachable(CURLE_WEIRD_SERVER_REPLY),
         "failed to connect server - (8)", After::Absent, std::vector<std::string>{""}},
        // 8. A stall before the first byte, before the body, and a trickle of a byte a second.
        {"StallBeforeTheFirstByte",
         [](const Context& c) { BreakB(c, [](FaultRoute& r) { r.stallBeforeHeadersMs = 60000; }); },
         std::nullopt, false, Unreachable(CURLE_OPERATION_TIMEDOUT),
         "failed to connect server - (28)", After::Absent, std::vector<std::string>{""}},
        {"StallBeforeTheBody",
         [](const Context& c) { BreakB(c, [](FaultRoute& r) { r.stallBeforeBodyMs = 60000; }); },
         std::nullopt, false, Network(CURLE_OPERATION_TIMEDOUT), "failed to download file - (28)",
         After::Partial, std::vector<std::string>{""}},
        {"TrickleOfOneBytePerSecond",
         [](const Context& c) { BreakB(c, [](FaultRoute& r) { r.trickleBytesPerSecond = 1; }); },
         std::nullopt, false, Network(CURLE_OPERATION_TIMEDOUT), "failed to download file - (28)",
         After::Partial, std::vector<std::string>{""}},
        // 9. A host that accepts and never answers, and a closed port.
        {"HostNeverAnswers",
         [](const Context& c) { BreakB(c, [](FaultRoute& r) { r.neverAnswer = true; }); },
         std::nullopt, false, Unreachable(CURLE_OPERATION_TIMEDOUT),
         "failed to connect server - (28)", After::Absent, std::vector<std::string>{""}},
        {"ClosedPort", [](const Context&) {}, std::nullopt, false,
         Unreachable(CURLE_COULDNT_CONNECT), "failed to connect server - (7)", After::Absent,
         std::nullopt, true},
        // 10. A redirect loop, and redirects that leave HTTP.
        {"RedirectLoop",
         [](const Context& c) {
             const std::string self = c.server.Url(kB);
             BreakB(c, [&](FaultRoute& r) {
                 r.status = 302;
                 r.body.clear();
                 r.location = self;
             });
         },
         std::nullopt, false, Unreachable(CURLE_TOO_MANY_REDIRECTS),
         "failed to connect server - (47)", After::Absent, std::vector<std::string>(6, "")},
        {"RedirectToFile",
         [](const Context& c) {
             const fs::path secret = c.sandbox / "secret.bin";
             std::error_code error;
             fs::copy_file(c.sandbox / "install/a.bin", secret, error);
             BreakB(c, [&](FaultRoute& r) {
                 r.status = 302;
                 r.body.clear();
                 r.location = "file://" + secret.string();
             });
         },
         std::nullopt, false, Unreachable(CURLE_UNSUPPORTED_PROTOCOL),
         "failed to connect server - (1)", After::Absent, std::vector<std::string>{""}},
        {"RedirectToFtp",
         [](const Context& c) {
             const std::string ftp =
                 "ftp://127.0.0.1:" + std::to_string(c.server.Port()) + "/" + kB;
             BreakB(c, [&](FaultRoute& r) {
                 r.status = 302;
                 r.body.clear();
                 r.location = ftp;
             });
         },
         std::nullopt, false, Unreachable(CURLE_UNSUPPORTED_PROTOCOL),
         "failed to connect server - (1)", After::Absent, std::vector<std::string>{""}},
        // 11. Server errors for the file in the middle of the list.
        {"NotFound", [](const Context& c) { c.server.RemoveRoute("/" + kB); }, std::nullopt, false,
         Unreachable(404), "failed to connect server - (404)", After::Absent,
         std::vector<std::string>{""}},
        {"InternalServerError",
         [](const Context& c) {
             BreakB(c, [](FaultRoute& r) {
                 r.status = 500;
                 r.body = "<html><body>500</body></html>";
             });
         },
         std::nullopt, false, Unreachable(500), "failed to connect server - (500)", After::Absent,
         std::vector<std::string>{""}},
        {"ServiceUnavailable",
         [](const Context& c) {
             BreakB(c, [](FaultRoute& r) {
                 r.status = 503;
                 r.body = "<html><body>503</body></html>";
                 r.headers = {{"Retry-After", "120"}};
             });
         },
         std::nullopt, false, Unreachable(503), "failed to connect server - (503)", After::Absent,
         std::vector<std::string>{""}},
    };
}

class FaultInjection : public testing::TestWithParam<FaultCase> {};

TEST_P(FaultInjection, RunEndsCleanlyAndTheNextRunCompletes) {
    const FaultCase& c = GetParam();
    const Corpus& corpus = ThreeFiles();
    FaultServer server;
    ServeCorpus(server, corpus);
    Sandbox box;
    const fs::path install = box.Path() / "install";
    // a.bin is in place before the fault (a redirect case reads it as its secret).
    box.Write("install/a.bin", corpus[0].bytes);
    if (c.localB) {
        box.Write("install/" + kB, *c.localB);
    }
    c.fault(Context{server, box.Path()});
    const auto before = Tree(box.Path(), {"install", "log"});

    LogCapture log(box.Path() / "log", true);
    std::optional<ClosedPort> closed;
    const std::string faultUrl = c.closedPort ? closed.emplace().BaseUrl() : server.BaseUrl();
    CDownloadQueue queue;
    auto worker = std::make_unique<CDownloadThread>(MakeList(faultUrl, corpus), &queue,
                                                    install.string(), kQuick);
    worker->SetJobs(TestJobs());
    // A download found wrong is fetched again after a wait; short here.
    worker->SetRetryDelays({std::chrono::milliseconds(20)});
    // With several lanes only the first file not done is shown, so b's held answer goes out
    // once a (checked on another lane) is logged: b's first record is then one from the start
    // of its transfer.
    std::atomic<bool> ended{false};
    std::thread releaser;
    if (c.bStartsFrom) {
        releaser = std::thread([&] {
            while (!ended.load() && !log.Has("(0) a.bin")) {
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
            }
            server.ReleaseHeld();
        });
    }
    const auto begin = Clock::now();
    const RunOutcome run = RunToEnd(*worker, queue);
    ended.store(true);
    if (releaser.joinable()) {
        releaser.join();
    }
    ASSERT_TRUE(run.result);
    EXPECT_LT(Ms(Clock::now() - begin), 8000);
    EXPECT_EQ(run.result->bSucceeded, c.succeeds ? 1 : 0);
    EXPECT_EQ(run.result->szMessage, c.message);
    if (!c.logLine.empty()) {
        EXPECT_TRUE(HasLine(log, c.logLine)) << c.logLine;
    }
    if (c.bRanges) {
        EXPECT_EQ(RangesFor(server, "/" + kB), *c.bRanges);
    }
    if (c.bLog) {
        EXPECT_EQ(LinesOfFile(log.Lines(), kB), *c.bLog);
    }
    const std::vector<DownloadProgress> bRecords = TransferRecords(run, 1);
    if (c.bStartsFrom) {
        ASSERT_FALSE(bRecords.empty());
        EXPECT_GT(bRecords.front().nFileDone, *c.bStartsFrom);
        EXPECT_LE(bRecords.front().nFileDone, *c.bStartsFrom + CHttpClient::TRANSFER_BUFFER_SIZE);
    }
    if (c.countedOnce) {
        EXPECT_EQ(worker->TotalDone(), ListTotal(corpus));
        for (const DownloadProgress& record : bRecords) {
            EXPECT_EQ(record.nFileTotal, RightB().size());
        }
        ASSERT_FALSE(bRecords.empty());
        EXPECT_EQ(bRecords.back().nFileDone, RightB().size());
    }

    // No record ever counted more of a file than its listed size.
    for (const auto& record : run.progress) {
        const uint64_t listed = corpus[static_cast<size_t>(record->nFileIndex)].bytes.size();
        EXPECT_LE(record->nFileTotal, listed) << record->nFileIndex;
        EXPECT_LE(record->nFileDone, listed) << record->nFileIndex;
    }

    // On disk: a.bin untouched, data/b.bin as expected, c.bin only after a healed b.
    EXPECT_TRUE(ReadFileBytes(install / "a.bin") == corpus[0].bytes);
    const fs::path b = install / kB;
    switch (c.bAfter) {
        case After::Absent:
            EXPECT_FALSE(fs::exists(b));
            break;
        case After::Partial:
            EXPECT_TRUE(fs::exists(b));
            EXPECT_LT(FileSize(b), RightB().size());
            EXPECT_EQ(CheckPrefixes(install, corpus), "");
            if (c.bPartial) {
                EXPECT_GE(FileSize(b), c.bPartial->first);
                EXPECT_LE(FileSize(b), c.bPartial->second);
            }
            break;
        case After::Complete:
            EXPECT_TRUE(ReadFileBytes(b) == RightB());
            break;
    }
    if (c.succeeds) {
        // Nothing but the listed files and their folders in the install folder.
        std::vector<std::string> entries;
        for (const auto& [entry, what] : Tree(install)) {
            entries.push_back(entry);
        }
        EXPECT_EQ(entries, (std::vector<std::string>{"a.bin", "c.bin", "data", "data/b.bin"}));
    }
    if (c.succeeds || worker->Jobs() == 1) {
        EXPECT_EQ(fs::exists(install / "c.bin"), c.succeeds);
    } else {
        // Fetched beside b.bin: absent, a prefix or whole when b.bin's failure ended the run.
        EXPECT_EQ(CheckPrefixes(install, {corpus[2]}), "");
    }
    if (!c.succeeds) {
        // With several transfers the failure may end the run before a.bin's check is done.
        if (worker->Jobs() == 1) {
            EXPECT_EQ(worker->CurrentIndex(), 1);
        } else {
            EXPECT_LE(worker->CurrentIndex(), 1);
        }
    }
    // Nothing was written outside the install folder.
    EXPECT_EQ(Tree(box.Path(), {"install", "log"}), before);

    // The next run, against healthy routes, completes: resuming a partial file, asking for
    // nothing that is already right.
    const bool resumable = fs::exists(b) && FileSize(b) < RightB().size();
    const uint64_t partial = resumable ? FileSize(b) : 0;
    ServeCorpus(server, corpus);
    const size_t requestsBefore = server.Requests().size();
    if (c.closedPort) {
        worker = std::make_unique<CDownloadThread>(MakeList(server.BaseUrl(), corpus), &queue,
                                                   install.string(), kQuick);
        worker->SetJobs(TestJobs());
    }
    const RunOutcome healed = RunToEnd(*worker, queue);
    ASSERT_TRUE(healed.result);
    EXPECT_EQ(healed.result->bSucceeded, 1) << healed.result->szMessage;
    EXPECT_EQ(CheckComplete(install, corpus), "");
    const std::vector<std::string> ranges = RangesFor(server, "/" + kB, requestsBefore);
    if (c.bAfter == After::Complete) {
        EXPECT_TRUE(ranges.empty());
    } else if (resumable) {
        EXPECT_EQ(ranges, std::vector<std::string>{"bytes=" + std::to_string(partial) + "-"});
    } else {
        EXPECT_EQ(ranges, std::vector<std::string>{""});
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, FaultInjection, testing::ValuesIn(Cases()),
                         [](const testing::TestParamInfo<FaultCase>& info) {
                             return std::string(info.param.id);
                         });

// However long the server would hold a transfer, a stop ends the run at once, and the next
// run completes.
TEST(FaultInjectionStop, AStopEndsAHeldTransferAtOnce) {
    struct Case {
        const char* label;
        std::function<void(FaultRoute&)> shape;
    };
    const Case cases[] = {
        {"trickle of one byte a second", [](FaultRoute& r) { r.trickleBytesPerSecond = 1; }},
        {"stall before the first byte", [](FaultRoute& r) { r.stallBeforeHeadersMs = 60000; }},
        {"host that never answers", [](FaultRoute& r) { r.neverAnswer = true; }},
    };
    const Corpus& corpus = ThreeFiles();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        FaultServer server;
        ServeCorpus(server, corpus);
        server.SetRoute("/" + kB, Route(c.shape));
        Sandbox box;
        const fs::path install = box.Path() / "install";
        CDownloadQueue queue;
        // Time-outs far beyond the test: only the stop can end the transfer.
        CDownloadThread worker(MakeList(server.BaseUrl(), corpus), &queue, install.string(),
                               HttpTimeouts{2000, 60});
        worker.SetJobs(TestJobs());
        ASSERT_TRUE(worker.Start());
        const auto deadline = Clock::now() + 5s;
        while (RangesFor(server, "/" + kB).empty() && Clock::now() < deadline) {
            std::this_thread::sleep_for(10ms);
        }
        ASSERT_EQ(RangesFor(server, "/" + kB).size(), 1u);
        std::this_thread::sleep_for(300ms);

        const auto begin = Clock::now();
        worker.Stop();
        EXPECT_LT(Ms(Clock::now() - begin), 1000);
        EXPECT_TRUE(worker.HasEnded());
        const std::unique_ptr<DownloadResult> stopped = queue.WaitFinished(2000ms);
        ASSERT_TRUE(stopped);
        EXPECT_EQ(stopped->bSucceeded, 0);
        EXPECT_EQ(stopped->szMessage, "");
        EXPECT_EQ(CheckPrefixes(install, corpus), "");

        ServeCorpus(server, corpus);
        const RunOutcome healed = RunToEnd(worker, queue);
        ASSERT_TRUE(healed.result);
        EXPECT_EQ(healed.result->bSucceeded, 1) << healed.result->szMessage;
        EXPECT_EQ(CheckComplete(install, corpus), "");
    }
}

// 13. The list on the server changes between a Stop and a Start: the run goes on with the
// list its session fetched, resuming where it stopped, and never fetches the new list or its
// files.
TEST(FaultInjectionStop, ListChangedOnTheServerBetweenStopAndStart) {
    const Corpus first{
        {"a.bin", MakeBytes(40000, 31)},
        {"data/b.bin", MakeBytes(2000000, 32)},
        {"c.bin", MakeBytes(6000, 33)},
    };
    FaultServer server;
    ServeCorpus(server, first, [](FaultRoute& r) { r.trickleBytesPerSecond = 1000000; });
    FaultRoute listRoute;
    listRoute.body = ListDocument(MakeList(server.BaseUrl(), first));
    server.SetRoute("/filelist.json", listRoute);

    Sandbox box;
    const fs::path install = box.Path() / "install";
    std::string text;
    ASSERT_EQ(DownloadFileListText(server.Url("filelist.json"), text, kQuick), 0u);
    auto list = std::make_unique<CFileList>();
    ASSERT_TRUE(ReadFileListText(text, *list));
    ASSERT_TRUE(IsInstallerVersion(*list));
    CDownloadQueue queue;
    CDownloadThread worker(*list, &queue, install.string(), kQuick);
    worker.SetJobs(TestJobs());
    // The worker holds its own copy: the session's list may go.
    list.reset();

    ASSERT_TRUE(worker.Start());
    const auto deadline = Clock::now() + 5s;
    while (FileSize(install / "data/b.bin") < 200000 && Clock::now() < deadline) {
        std::this_thread::sleep_for(10ms);
    }
    worker.Stop();
    ASSERT_TRUE(worker.HasEnded());
    const std::unique_ptr<DownloadResult> stopped = queue.WaitFinished(2000ms);
    ASSERT_TRUE(stopped);
    EXPECT_EQ(stopped->bSucceeded, 0);
    const uint64_t partial = FileSize(install / "data/b.bin");
    ASSERT_GT(partial, 0u);
    ASSERT_LT(partial, first[1].bytes.size());

    // A new release: b.bin listed with other bytes, c.bin gone, d.bin new.
    const Corpus second{
        {"a.bin", first[0].bytes},
        {"data/b.bin", MakeBytes(1500000, 42)},
        {"d.bin", MakeBytes(7000, 44)},
    };
    listRoute.body = ListDocument(MakeList(server.BaseUrl(), second));
    server.SetRoute("/filelist.json", listRoute);
    // With several transfers at once c.bin may have come, whole or in part, before the stop.
    const uint64_t cBefore = FileSize(install / "c.bin");
    ServeCorpus(server, first);
    FaultRoute d;
    d.body = second[2].bytes;
    server.SetRoute("/d.bin", d);
    const size_t requestsBefore = server.Requests().size();

    const RunOutcome run = RunToEnd(worker, queue);
    ASSERT_TRUE(run.result);
    EXPECT_EQ(run.result->bSucceeded, 1) << run.result->szMessage;
    EXPECT_EQ(CheckComplete(install, first), "");
    EXPECT_FALSE(fs::exists(install / "d.bin"));
    std::vector<std::string> paths;
    for (size_t i = requestsBefore; i < server.Requests().size(); ++i) {
        paths.push_back(server.Requests()[i].path + " " + server.Requests()[i].Header("Range"));
    }
    std::vector<std::string> expected{"/data/b.bin bytes=" + std::to_string(partial) + "-"};
    if (cBefore == 0) {
        expected.push_back("/c.bin ");
    } else if (cBefore < first[2].bytes.size()) {
        expected.push_back("/c.bin bytes=" + std::to_string(cBefore) + "-");
    }
    if (worker.Jobs() > 1) {
        // Transfers at once ask in the order they happen to begin.
        std::sort(paths.begin(), paths.end());
        std::sort(expected.begin(), expected.end());
    }
    EXPECT_EQ(paths, expected);
    if (worker.Jobs() == 1) {
        EXPECT_EQ(cBefore, 0u);
    }
}

}  // namespace
