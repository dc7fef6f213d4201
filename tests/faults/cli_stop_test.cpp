// Ctrl-C and termination requests reach quellbridger-cli at once in every phase of a run, also
// while the list itself is held up by a server that stalls or trickles.
#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>

#include "faults/faults_support.h"
#include "support/fault_server.h"
#include "support/test_data.h"

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using namespace faults;

namespace {

TEST(CliStop, AnInterruptWhileTheListIsHeldUpEndsTheProgramAtOnce) {
    struct Case {
        const char* label;
        int signal;
        std::function<void(FaultRoute&)> shape;
    };
    const Case cases[] = {
        {"host never answers, SIGINT", SIGINT, [](FaultRoute& r) { r.neverAnswer = true; }},
        {"stall before the headers, SIGTERM", SIGTERM,
         [](FaultRoute& r) { r.stallBeforeHeadersMs = 60000; }},
        {"list trickles at a byte a second, SIGINT", SIGINT,
         [](FaultRoute& r) { r.trickleBytesPerSecond = 1; }},
    };
    const Corpus corpus{{"a.bin", MakeBytes(1000, 91)}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        FaultServer server;
        ServeCorpus(server, corpus);
        FaultRoute listRoute;
        listRoute.body = ListDocument(MakeList(server.BaseUrl(), corpus));
        c.shape(listRoute);
        server.SetRoute("/filelist.json", listRoute);
        CliHome home;
        const fs::path install = home.Root() / "install";
        ChildProcess child(
            home.Options({"--list", server.Url("filelist.json"), "--dir", install.string()}));
        ASSERT_TRUE(child.Started());
        ASSERT_EQ(server.WaitForRequests(1, 5000).size(), 1u);
        std::this_thread::sleep_for(300ms);

        const auto begin = Clock::now();
        child.Signal(c.signal);
        const ChildResult result = child.Wait(40s);
        EXPECT_LT(Clock::now() - begin, 1500ms);
        EXPECT_EQ(result.exitCode, 130) << result.out << result.err;
        EXPECT_NE(result.out.find("Stopped."), std::string::npos) << result.out;
        EXPECT_EQ(result.err, "");
        EXPECT_FALSE(fs::exists(install));
    }
}

}  // namespace
