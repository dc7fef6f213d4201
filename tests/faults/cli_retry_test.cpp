// quellbridger-cli --retry against servers that fail for a while: answers cut after a
// mebibyte, and a server that goes away (connections refused) for about ten seconds in the
// middle of a run. With --retry both end complete by themselves; without it both end as the
// first failure says.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <thread>

#include "faults/faults_support.h"
#include "support/fault_server.h"
#include "support/test_data.h"

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using namespace faults;

namespace {

constexpr size_t kMiB = 1024 * 1024;

size_t Count(const std::string& text, const std::string& part) {
    size_t n = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) {
        ++n;
    }
    return n;
}

TEST(CliRetry, EndsCompleteThroughFailuresThatPass) {
    enum class Fault { CutAfterAMebibyte, GoneForTenSeconds };
    struct Case {
        const char* label;
        Fault fault;
        bool retry;
    };
    const Case cases[] = {
        {"cut answers, --retry", Fault::CutAfterAMebibyte, true},
        {"cut answers", Fault::CutAfterAMebibyte, false},
        {"server gone for 10 s, --retry", Fault::GoneForTenSeconds, true},
        {"server gone for 10 s", Fault::GoneForTenSeconds, false},
    };
    const Corpus corpus{{"a.bin", MakeBytes(2 * kMiB + 1000, 61)},
                        {"data/b.bin", MakeBytes(3 * kMiB, 62)},
                        {"c.bin", MakeBytes(5000, 63)}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        FaultServer server;
        if (c.fault == Fault::CutAfterAMebibyte) {
            ServeCorpus(server, corpus, [](FaultRoute& r) { r.cutAfter = kMiB; });
        } else {
            ServeCorpus(server, corpus);
            // The server goes down in the middle of b.bin: its answer is reset after 300 KB,
            // and new connections are refused until it is back.
            FaultRoute dying;
            dying.body = corpus[1].bytes;
            dying.holdUntilReleased = true;
            dying.resetAfter = 300000;
            FaultRoute healthy;
            healthy.body = corpus[1].bytes;
            server.SetRouteSequence("/data/b.bin", {dying, healthy});
        }
        FaultRoute list;
        list.body = ListDocument(MakeList(server.BaseUrl(), corpus));
        server.SetRoute("/filelist.json", list);
        CliHome home;
        const fs::path install = home.Root() / "install";
        std::vector<std::string> args{"--list", server.Url("filelist.json"), "--dir",
                                      install.string()};
        if (c.retry) {
            args.push_back("--retry");
        }
        ChildProcess child(home.Options(args));
        ASSERT_TRUE(child.Started());
        if (c.fault == Fault::GoneForTenSeconds) {
            const auto deadline = std::chrono::steady_clock::now() + 20s;
            while (server.Hits("/data/b.bin") == 0 && std::chrono::steady_clock::now() < deadline) {
                std::this_thread::sleep_for(10ms);
            }
            ASSERT_EQ(server.Hits("/data/b.bin"), 1u);
            ASSERT_TRUE(server.StopListening());
            server.ReleaseHeld();
            if (c.retry) {
                std::this_thread::sleep_for(10s);
                ASSERT_TRUE(server.ListenAgain());
            }
        }
        const ChildResult result = child.Wait(90s);
        if (!c.retry) {
            EXPECT_EQ(result.exitCode, 1) << result.out << result.err;
            EXPECT_NE(result.err.find("Due to the unstable network connection"), std::string::npos)
                << result.err;
            EXPECT_EQ(Count(result.out, "retrying in"), 0u) << result.out;
            continue;
        }
        EXPECT_EQ(result.exitCode, 0) << result.out << result.err;
        EXPECT_EQ(result.err, "");
        EXPECT_EQ(CheckComplete(install, corpus), "");
        if (c.fault == Fault::CutAfterAMebibyte) {
            // a.bin: two cuts, b.bin: two, each after a mebibyte of progress.
            EXPECT_EQ(Count(result.out, "retrying in 1 s (body cut short)\n"), 4u) << result.out;
        } else {
            EXPECT_EQ(Count(result.out, "retrying in 1 s (connection reset)\n"), 1u) << result.out;
            EXPECT_GE(Count(result.out, "(connection refused)\n"), 2u) << result.out;
            // The part that came before the server went away was kept.
            std::vector<std::string> ranges;
            for (const FaultRequest& request : server.Requests()) {
                if (request.path == "/data/b.bin") {
                    ranges.push_back(request.Header("Range"));
                }
            }
            ASSERT_EQ(ranges.size(), 2u);
            EXPECT_EQ(ranges[0], "");
            EXPECT_NE(ranges[1], "");
            EXPECT_NE(ranges[1], "bytes=0-");
        }
        bool torn = false;
        const std::vector<std::string> lines = home.LogLines(&torn);
        size_t logged = 0;
        for (const std::string& line : lines) {
            logged += line.find("retrying in") != std::string::npos ? 1 : 0;
        }
        EXPECT_EQ(logged, Count(result.out, "retrying in"));
    }
}

}  // namespace
