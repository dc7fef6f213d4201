// quellbridger-cli end to end: the built program run as a child process against nginx and the
// fault server, with its home and log folders inside a sandbox.
#include <curl/curl.h>
#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <ctime>
#include <filesystem>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "download/list_fetch.h"
#include "platform/string_table.h"
#include "support/child_process.h"
#include "support/closed_port.h"
#include "support/fault_server.h"
#include "support/nginx_server.h"
#include "support/sandbox.h"
#include "support/test_data.h"
#include "support/test_list.h"

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

namespace {

// A run of a tool with its output in numbered files of folder (stdout in stdoutFile if given).
ChildOptions RunIn(std::vector<std::string> args, std::map<std::string, std::string> env,
                   const fs::path& folder, const fs::path& stdoutFile = {}) {
    static int serial = 0;
    ChildOptions options;
    options.args = std::move(args);
    options.env = std::move(env);
    options.outFile =
        stdoutFile.empty() ? folder / ("out-" + std::to_string(++serial)) : stdoutFile;
    options.errFile = folder / ("err-" + std::to_string(++serial));
    return options;
}

// A home, a state folder and a scratch folder for one test's runs of the program.
struct CliHome {
    Sandbox box;
    std::map<std::string, std::string> env{
        {"HOME", (box.Path() / "home").string()},
        {"XDG_STATE_HOME", (box.Path() / "state").string()},
    };

    CliHome() {
        fs::create_directories(box.Path() / "home");
        fs::create_directories(box.Path() / "scratch");
    }

    ChildResult Run(std::vector<std::string> args,
                    const std::map<std::string, std::string>& extra = {}) {
        args.insert(args.begin(), QB_CLI_PATH);
        std::map<std::string, std::string> all = env;
        all.insert(extra.begin(), extra.end());
        ChildProcess child(RunIn(args, all, box.Path() / "scratch"));
        EXPECT_TRUE(child.Started());
        return child.Wait();
    }

    fs::path LogFolder() const { return box.Path() / "state/Quellbridger"; }
};

// The list document for the files below docs, served at url, as the publisher makes it.
std::string MakeListDocument(const fs::path& docs, const std::string& url, const fs::path& folder) {
    ChildProcess child(
        RunIn({QB_MKLIST_PATH, docs.string(), url}, {}, folder, folder / "filelist.json"));
    EXPECT_TRUE(child.Started());
    const ChildResult result = child.Wait();
    EXPECT_EQ(result.exitCode, 0) << result.err;
    return result.out;
}

bool Contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

uint64_t FileSize(const fs::path& path) {
    std::error_code error;
    const uintmax_t size = fs::file_size(path, error);
    return error ? 0 : size;
}

TEST(QuellbridgerCli, DownloadsVerifiesAndSkipsOnTheNextRun) {
    Sandbox docs;
    const std::map<std::string, std::string> corpus{
        {"QXLauncher.exe", MakeBytes(2000, 1)},
        {"data/a.pak", MakeBytes(300000, 2)},
        {"data/maps/m1.map", MakeBytes(50000, 3)},
        {"empty.txt", ""},
    };
    for (const auto& [name, bytes] : corpus) {
        docs.Write(name, bytes);
    }
    NginxServer nginx(docs.Path());
    ASSERT_TRUE(nginx.Start()) << nginx.ErrorLog();
    CliHome home;
    const std::string document =
        MakeListDocument(docs.Path(), nginx.BaseUrl(), home.box.Path() / "scratch");
    docs.Write("filelist.json", document);
    const std::string listUrl = nginx.BaseUrl() + "filelist.json";

    const std::string dayBefore = Today();
    // No --dir: the default folder below the (sandboxed) home.
    const ChildResult first = home.Run({"--list", listUrl});
    const fs::path install = home.box.Path() / "home/Games/HOLLOWMERE WORKS/Talvermoor";
    ASSERT_EQ(first.exitCode, 0) << first.err;
    EXPECT_EQ(first.err, "");
    for (const auto& [name, bytes] : corpus) {
        EXPECT_EQ(Md5Hex(ReadFileBytes(install / name)), Md5Hex(bytes)) << name;
        EXPECT_EQ(FileSize(install / name), bytes.size()) << name;
        EXPECT_TRUE(Contains(first.out, "] " + name + " downloaded")) << first.out;
    }
    EXPECT_TRUE(Contains(first.out, "All 4 files are in place in " + install.string()))
        << first.out;

    // The same daily log as the installer, in the state folder.
    const std::string day = Today();
    EXPECT_TRUE(fs::exists(home.LogFolder() / ("Quellbridger_" + day + ".txt")) ||
                fs::exists(home.LogFolder() / ("Quellbridger_" + dayBefore + ".txt")));

    // Everything is in place: the next run only checks, and --quiet prints nothing.
    const size_t requestsBefore = nginx.WaitForRequests(5).size();
    const ChildResult second = home.Run({"--quiet", "--list", listUrl, "--dir", install.string()});
    EXPECT_EQ(second.exitCode, 0) << second.err;
    EXPECT_EQ(second.out, "");
    EXPECT_EQ(second.err, "");
    const std::vector<NginxRequest> requests = nginx.WaitForRequests(requestsBefore + 1);
    ASSERT_EQ(requests.size(), requestsBefore + 1);
    EXPECT_EQ(requests.back().uri, "/filelist.json");
    EXPECT_EQ(requests.back().userAgent, "HttpClient/1.0");

    const ChildResult third = home.Run({"--list", listUrl, "--dir", install.string()});
    EXPECT_EQ(third.exitCode, 0) << third.err;
    EXPECT_TRUE(Contains(third.out, "] data/a.pak already complete")) << third.out;
}

// Names as a publisher's folder holds them, listed by quellbridger-mklist, fetched from nginx:
// each byte that is not plain in a URL path travels percent-encoded, the base URL as it is.
TEST(QuellbridgerCli, InstallsFilesWhoseNamesNeedEncodingInTheAddress) {
    Sandbox docs;
    const std::map<std::string, std::string> corpus{
        {"with space.txt", MakeBytes(100, 1)},
        {"hash#1.txt", MakeBytes(200, 2)},
        {"hash", MakeBytes(50, 3)},  // what "hash#1.txt" unencoded would fetch
        {"what?.txt", MakeBytes(300, 4)},
        {"%41.txt", MakeBytes(400, 5)},
        {"A.txt", MakeBytes(500, 6)},  // what "%41.txt" decoded would fetch
        {"plus+and&semi;colon=~.txt", MakeBytes(600, 7)},
        {"données/日本語 ファイル.bin", MakeBytes(700, 8)},
        {"100%/x.bin", MakeBytes(800, 9)},
    };
    for (const auto& [name, bytes] : corpus) {
        docs.Write("base dir/" + name, bytes);
    }
    NginxServer nginx(docs.Path());
    ASSERT_TRUE(nginx.Start()) << nginx.ErrorLog();
    CliHome home;
    // The base URL is the publisher's, already in URL form.
    const std::string document = MakeListDocument(
        docs.Path() / "base dir", nginx.BaseUrl() + "base%20dir/", home.box.Path() / "scratch");
    // Written compact: one line.
    EXPECT_EQ(document.find('\n'), document.size() - 1);
    docs.Write("filelist.json", document);
    const fs::path install = home.box.Path() / "install";
    const ChildResult run =
        home.Run({"--list", nginx.BaseUrl() + "filelist.json", "--dir", install.string()});
    ASSERT_EQ(run.exitCode, 0) << run.out << run.err;
    for (const auto& [name, bytes] : corpus) {
        EXPECT_TRUE(ReadFileBytes(install / name) == bytes) << name;
    }
    // One request per file (no checksum failure and fetch again), each by its encoded name.
    const std::vector<NginxRequest> requests = nginx.WaitForRequests(1 + corpus.size());
    EXPECT_EQ(requests.size(), 1 + corpus.size());
    std::set<std::string> uris;
    for (const NginxRequest& request : requests) {
        EXPECT_EQ(request.status, 200) << request.uri;
        uris.insert(request.uri);
    }
    for (const char* uri :
         {"/base%20dir/with%20space.txt", "/base%20dir/hash%231.txt", "/base%20dir/what%3F.txt",
          "/base%20dir/%2541.txt", "/base%20dir/plus%2Band%26semi%3Bcolon%3D~.txt",
          "/base%20dir/donn%C3%A9es/%E6%97%A5%E6%9C%AC%E8%AA%9E%20%E3%83%95%E3%82%A1"
          "%E3%82%A4%E3%83%AB.bin",
          "/base%20dir/100%25/x.bin"}) {
        EXPECT_EQ(uris.count(uri), 1u) << uri;
    }
}

TEST(QuellbridgerCli, ExitStatusTellsUsageListAndRunFailures) {
    const std::string file = MakeBytes(1000, 11);
    FaultServer server;
    ClosedPort closed;
    CliHome home;
    Sandbox docs;
    docs.Write("f.bin", file);
    auto serveList = [&](const std::string& path, std::string text) {
        FaultRoute route;
        route.body = std::move(text);
        server.SetRoute(path, route);
    };
    const std::string good =
        MakeListDocument(docs.Path(), server.BaseUrl(), home.box.Path() / "scratch");
    std::string otherVersion = good;
    otherVersion.replace(otherVersion.find(INSTALLER_VERSION), 13, "2023.8.14.1");
    std::string unsafe = good;
    unsafe.replace(unsafe.find("\"f.bin\""), 7, "\"../f.bin\"");
    serveList("/good.json", good);
    serveList("/f.bin", file);
    const fs::path blocked = home.box.Path() / "blocked";
    fs::create_directories(blocked / "f.bin");
    serveList("/other.json", otherVersion);
    serveList("/unsafe.json", unsafe);
    serveList("/unreachable.json",
              MakeListDocument(docs.Path(), closed.BaseUrl(), home.box.Path() / "scratch"));
    const fs::path install = home.box.Path() / "install";

    struct Case {
        const char* label;
        std::vector<std::string> args;
        std::map<std::string, std::string> env;
        int exitCode;
        std::string err;  // part of standard error
        std::string out;  // part of standard output
    };
    const Case cases[] = {
        {"help",
         {"--help"},
         {},
         0,
         "",
         "Usage: quellbridger-cli [--list URL] [--dir DIR] [--quiet]"},
        {"unknown option", {"--bogus"}, {}, 2, "unknown or incomplete option '--bogus'", ""},
        {"option without its value", {"--dir"}, {}, 2, "Usage: quellbridger-cli", ""},
        {"rate not understood",
         {"--limit-rate", "2MB"},
         {},
         2,
         "--limit-rate takes bytes a second, such as 500K or 2M, not '2MB'",
         ""},
        {"list not found",
         {"--dir", install.string()},
         {{"QUELLBRIDGER_FILE_LIST_URL", server.Url("missing.json")}},
         2,
         LoadFormatString(104, 404L) + "\nHTTP/1.1 404 Not Found\n",
         ""},
        {"list address malformed",
         {"--list", "http://127.0.0.1:99999/filelist.json", "--dir", install.string()},
         {},
         2,
         LoadFormatString(104, static_cast<long>(CURLE_URL_MALFORMAT)) + "\nURL using bad",
         ""},
        {"file cannot be created",
         {"--list", server.Url("good.json"), "--dir", blocked.string()},
         {},
         1,
         LoadFormatString(118, static_cast<long>(EISDIR)) + "\n" + (blocked / "f.bin").string() +
             ": Is a directory\n",
         ""},
        {"list of another version",
         {"--list", server.Url("other.json"), "--dir", install.string()},
         {},
         2,
         LoadFormatString(122),
         ""},
        {"invalid list",
         {"--list", server.Url("unsafe.json"), "--dir", install.string()},
         {},
         2,
         LoadFormatString(105),
         ""},
        {"list server unreachable",
         {"--list", closed.BaseUrl() + "filelist.json", "--dir", install.string()},
         {},
         2,
         LoadFormatString(104, static_cast<long>(CURLE_COULDNT_CONNECT)) + "\nFailed to connect",
         ""},
        {"file server unreachable",
         {"--list", server.Url("unreachable.json"), "--dir", install.string()},
         {},
         1,
         LoadFormatString(104, static_cast<long>(CURLE_COULDNT_CONNECT)),
         ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        const ChildResult result = home.Run(c.args, c.env);
        EXPECT_EQ(result.exitCode, c.exitCode) << result.out << result.err;
        EXPECT_TRUE(Contains(result.err, c.err)) << result.err;
        EXPECT_TRUE(Contains(result.out, c.out)) << result.out;
        if (c.exitCode != 0) {
            EXPECT_FALSE(Contains(result.out, "All ")) << result.out;
        }
    }
    // Nothing was written for any failure; the lists that were refused named f.bin only.
    EXPECT_FALSE(fs::exists(home.box.Path() / "f.bin"));
    EXPECT_FALSE(fs::exists(install / "f.bin"));
    EXPECT_EQ(server.Hits("/f.bin"), 1u);  // the one run whose file could not be created
}

// The cap holds across every connection: 1 MiB in four files on four connections at 512 KiB/s
// cannot take less than 2 s, less the tenth of a second that may come at once. Only a lower
// bound: a slow machine may take longer.
TEST(QuellbridgerCli, LimitRateCapsAllTransfersTogether) {
    Sandbox docs;
    for (int i = 0; i < 4; ++i) {
        docs.Write("part" + std::to_string(i) + ".pak", MakeBytes(256 * 1024, 40 + i));
    }
    NginxServer nginx(docs.Path());
    ASSERT_TRUE(nginx.Start()) << nginx.ErrorLog();
    CliHome home;
    docs.Write("filelist.json",
               MakeListDocument(docs.Path(), nginx.BaseUrl(), home.box.Path() / "scratch"));
    const fs::path install = home.box.Path() / "install";

    const auto start = Clock::now();
    const ChildResult result =
        home.Run({"--quiet", "--jobs", "4", "--limit-rate", "512K", "--list",
                  nginx.BaseUrl() + "filelist.json", "--dir", install.string()});
    const auto elapsed = Clock::now() - start;
    ASSERT_EQ(result.exitCode, 0) << result.err;
    EXPECT_GE(elapsed, 1900ms);
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(FileSize(install / ("part" + std::to_string(i) + ".pak")), 256u * 1024);
    }
}

TEST(QuellbridgerCli, StartRefusesAFolderOfOtherFilesUnlessToldTo) {
    const std::string file = MakeBytes(1000, 12);
    FaultServer server;
    CliHome home;
    Sandbox docs;
    docs.Write("data/f.bin", file);
    FaultRoute list;
    list.body = MakeListDocument(docs.Path(), server.BaseUrl(), home.box.Path() / "scratch");
    server.SetRoute("/filelist.json", list);
    FaultRoute route;
    route.body = file;
    server.SetRoute("/data/f.bin", route);

    struct Case {
        const char* label;
        std::vector<std::pair<std::string, std::string>> present;  // files in the folder
        bool yes;
        int exitCode;
    };
    const Case cases[] = {
        {"other files only", {{"notes.txt", "mine"}}, false, 2},
        {"other files, --yes", {{"notes.txt", "mine"}}, true, 0},
        // An install to update or repair: a listed file, even a cut one, is there.
        {"a listed file among others", {{"notes.txt", "mine"}, {"data/f.bin", "cut"}}, false, 0},
        {"empty folder", {}, false, 0},
    };
    int serial = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        const fs::path install = home.box.Path() / ("install" + std::to_string(++serial));
        fs::create_directories(install);
        for (const auto& [name, bytes] : c.present) {
            home.box.Write(fs::relative(install / name, home.box.Path()).string(), bytes);
        }
        const size_t hitsBefore = server.Hits("/data/f.bin");
        std::vector<std::string> args = {"--list", server.Url("filelist.json"), "--dir",
                                         install.string()};
        if (c.yes) {
            args.push_back("--yes");
        }
        const ChildResult result = home.Run(args);
        EXPECT_EQ(result.exitCode, c.exitCode) << result.out << result.err;
        if (c.exitCode == 2) {
            EXPECT_TRUE(Contains(result.err, LoadFormatString(124))) << result.err;
            EXPECT_TRUE(Contains(result.err, "--yes")) << result.err;
            EXPECT_FALSE(Contains(result.out, "All ")) << result.out;
            EXPECT_FALSE(fs::exists(install / "data/f.bin"));
            EXPECT_EQ(server.Hits("/data/f.bin"), hitsBefore);
        } else {
            EXPECT_EQ(ReadFileBytes(install / "data/f.bin"), file);
        }
        for (const auto& [name, bytes] : c.present) {
            if (name == "notes.txt") {
                EXPECT_EQ(ReadFileBytes(install / name), bytes);
            }
        }
    }
}

// Ctrl-C (or a termination request) stops the run, keeps the partial file and exits 130;
// the next run resumes it with a range request and completes.
TEST(QuellbridgerCli, InterruptKeepsThePartialFileForTheNextRun) {
    const std::string big = MakeBytes(200000, 21);
    for (const int sig : {SIGINT, SIGTERM}) {
        SCOPED_TRACE(sig == SIGINT ? "SIGINT" : "SIGTERM");
        FaultServer server;
        CliHome home;
        Sandbox docs;
        docs.Write("big.bin", big);
        FaultRoute list;
        list.body = MakeListDocument(docs.Path(), server.BaseUrl(), home.box.Path() / "scratch");
        server.SetRoute("/filelist.json", list);
        FaultRoute slow;
        slow.body = big;
        slow.trickleBytesPerSecond = 20000;
        server.SetRoute("/big.bin", slow);
        const fs::path install = home.box.Path() / "install";

        std::map<std::string, std::string> env = home.env;
        ChildProcess child(
            RunIn({QB_CLI_PATH, "--list", server.Url("filelist.json"), "--dir", install.string()},
                  env, home.box.Path() / "scratch"));
        ASSERT_TRUE(child.Started());
        const auto deadline = Clock::now() + 5s;
        while (FileSize(install / "big.bin") == 0 && Clock::now() < deadline) {
            std::this_thread::sleep_for(10ms);
        }
        ASSERT_GT(FileSize(install / "big.bin"), 0u);
        const auto begin = Clock::now();
        child.Signal(sig);
        const ChildResult stopped = child.Wait();
        EXPECT_LT(
            std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - begin).count(),
            2500);
        EXPECT_EQ(stopped.exitCode, 130) << stopped.err;
        EXPECT_TRUE(Contains(stopped.out, "Stopped. Run again to resume.")) << stopped.out;
        const uint64_t partial = FileSize(install / "big.bin");
        EXPECT_GT(partial, 0u);
        EXPECT_LT(partial, big.size());
        EXPECT_TRUE(ReadFileBytes(install / "big.bin") == big.substr(0, partial));

        FaultRoute fast;
        fast.body = big;
        server.SetRoute("/big.bin", fast);
        const ChildResult resumed =
            home.Run({"--list", server.Url("filelist.json"), "--dir", install.string()});
        EXPECT_EQ(resumed.exitCode, 0) << resumed.err;
        EXPECT_TRUE(ReadFileBytes(install / "big.bin") == big);
        std::vector<std::string> ranges;
        for (const FaultRequest& request : server.Requests()) {
            if (request.path == "/big.bin") {
                ranges.push_back(request.Header("Range"));
            }
        }
        EXPECT_EQ(ranges, (std::vector<std::string>{"", "bytes=" + std::to_string(partial) + "-"}));
    }
}

// Two runs on one folder: the second ends at once with exit 2 and says why; the first goes on
// undisturbed and completes.
TEST(QuellbridgerCli, ASecondRunOnTheSameFolderExitsWith2) {
    const std::string file = MakeBytes(50000, 31);
    FaultServer server;
    CliHome home;
    Sandbox docs;
    docs.Write("f.bin", file);
    FaultRoute list;
    list.body = MakeListDocument(docs.Path(), server.BaseUrl(), home.box.Path() / "scratch");
    server.SetRoute("/filelist.json", list);
    FaultRoute held;
    held.body = file;
    held.holdUntilReleased = true;
    server.SetRoute("/f.bin", held);
    const fs::path install = home.box.Path() / "install";

    ChildProcess first(
        RunIn({QB_CLI_PATH, "--list", server.Url("filelist.json"), "--dir", install.string()},
              home.env, home.box.Path() / "scratch"));
    ASSERT_TRUE(first.Started());
    const auto deadline = Clock::now() + 10s;
    while (server.Hits("/f.bin") == 0 && Clock::now() < deadline) {
        std::this_thread::sleep_for(10ms);
    }
    ASSERT_EQ(server.Hits("/f.bin"), 1u);

    const ChildResult second =
        home.Run({"--list", server.Url("filelist.json"), "--dir", install.string()});
    EXPECT_EQ(second.exitCode, 2) << second.out << second.err;
    EXPECT_TRUE(Contains(second.err, LoadFormatString(106))) << second.err;
    EXPECT_TRUE(Contains(second.err, "Another run holds " + install.string())) << second.err;
    EXPECT_EQ(server.Hits("/f.bin"), 1u);

    server.ReleaseHeld();
    const ChildResult done = first.Wait();
    EXPECT_EQ(done.exitCode, 0) << done.err;
    EXPECT_TRUE(ReadFileBytes(install / "f.bin") == file);
}

}  // namespace
