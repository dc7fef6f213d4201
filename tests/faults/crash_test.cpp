// quellbridger-cli killed with SIGKILL at random moments, again and again, across a download
// of a small corpus served at a trickle: no kill may leave a file larger than listed or
// holding wrong bytes, the run that is finally let be completes every file, and the log holds
// only whole lines.
#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <filesystem>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "faults/faults_support.h"
#include "support/fault_server.h"
#include "support/test_data.h"

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using namespace faults;

namespace {

constexpr int kKills = 15;
constexpr uint32_t kSeed = 20240517;

TEST(CrashRecovery, KilledAtRandomMomentsTheDownloadStillEndsComplete) {
    const Corpus corpus{
        {"QXLauncher.exe", MakeBytes(30000, 61)},
        // Large enough to be hashed while it arrives.
        {"data/big.pak", MakeBytes(6 * 1024 * 1024 + 12345, 62)},
        {"data/maps/m1.map", MakeBytes(400000, 63)},
        {"readme.txt", MakeBytes(2000, 64)},
        {"empty.txt", ""},
    };
    FaultServer server;
    // About four and a half seconds of transfer in all, so the kills land inside it.
    ServeCorpus(server, corpus, [](FaultRoute& r) { r.trickleBytesPerSecond = 1500000; });
    FaultRoute listRoute;
    listRoute.body = ListDocument(MakeList(server.BaseUrl(), corpus));
    server.SetRoute("/filelist.json", listRoute);

    CliHome home;
    const fs::path install = home.Root() / "install";
    const std::vector<std::string> args{"--quiet", "--list", server.Url("filelist.json"), "--dir",
                                        install.string()};
    std::mt19937 random(kSeed);
    std::uniform_int_distribution<int> delayMs(40, 400);
    SCOPED_TRACE("seed " + std::to_string(kSeed));

    int killedRunning = 0;
    int killedInBigFile = 0;
    for (int kill = 0; kill < kKills; ++kill) {
        SCOPED_TRACE("kill " + std::to_string(kill));
        ChildProcess child(home.Options(args));
        ASSERT_TRUE(child.Started());
        // Until the moment comes, no file may ever be seen larger than listed.
        const auto moment = Clock::now() + std::chrono::milliseconds(delayMs(random));
        while (Clock::now() < moment && child.Running()) {
            for (const CorpusFile& file : corpus) {
                ASSERT_LE(FileSize(install / file.name), file.bytes.size()) << file.name;
            }
            std::this_thread::sleep_for(2ms);
        }
        const bool running = child.Running();
        child.Signal(SIGKILL);
        const ChildResult result = child.Wait(5s);
        if (running) {
            EXPECT_EQ(result.signal, SIGKILL) << result.err;
            ++killedRunning;
        } else {
            EXPECT_EQ(result.exitCode, 0) << result.err;
        }
        const uint64_t big = FileSize(install / "data/big.pak");
        if (running && big > 0 && big < corpus[1].bytes.size()) {
            ++killedInBigFile;
        }
        // What a killed run leaves is always the first bytes of each file, never more.
        EXPECT_EQ(CheckPrefixes(install, corpus), "");
    }
    EXPECT_GE(killedRunning, kKills - 3);
    EXPECT_GE(killedInBigFile, 1);

    const ChildResult last = home.Run(args);
    EXPECT_EQ(last.exitCode, 0) << last.err;
    EXPECT_EQ(CheckComplete(install, corpus), "");

    // Each line went out in one write: a kill never tore one.
    bool torn = false;
    const std::vector<std::string> lines = home.LogLines(&torn);
    EXPECT_FALSE(torn);
    int starts = 0;
    for (const std::string& line : lines) {
        EXPECT_TRUE(IsWholeLogLine(line)) << "\"" << line << "\"";
        if (line.find("] [INFO] log initialize success ") != std::string::npos) {
            ++starts;
        }
    }
    // Every run that got as far as its log wrote the first line; the last run always did.
    EXPECT_GE(starts, 1);
    EXPECT_LE(starts, kKills + 1);
}

}  // namespace
