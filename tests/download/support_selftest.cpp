// Proves the test servers behave as the download tests assume, using the curl command line and
// plain sockets as neutral clients.
#include <arpa/inet.h>
#include <dirent.h>
#include <gtest/gtest-spi.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <iterator>
#include <memory>
#include <optional>
#include <string>
#include <thread>

#include "support/closed_port.h"
#include "support/fault_server.h"
#include "support/loopback.h"
#include "support/nginx_server.h"
#include "support/sandbox.h"
#include "support/test_data.h"

namespace {

std::string ShellQuote(const std::string& text) {
    std::string out = "'";
    for (char c : text) {
        if (c == '\'') {
            out += "'\\''";
        } else {
            out.push_back(c);
        }
    }
    return out + "'";
}

struct CurlResult {
    int exitCode = -1;
    std::string headers;
    std::string body;
    std::string output;  // curl's own messages
};

// One curl run that saves the response headers and body into the sandbox.
CurlResult Curl(Sandbox& box, const std::string& url, const std::string& extraArgs = "") {
    const std::string headers = (box.Path() / "curl-headers.txt").string();
    const std::string body = (box.Path() / "curl-body.bin").string();
    std::remove(headers.c_str());
    std::remove(body.c_str());
    const std::string command = "curl -q -sS --noproxy '*' --max-time 20 -D " +
                                ShellQuote(headers) + " -o " + ShellQuote(body) + " " + extraArgs +
                                " " + ShellQuote(url) + " 2>&1";
    CurlResult result;
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe) {
        return result;
    }
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof(buf), pipe)) > 0) {
        result.output.append(buf, n);
    }
    int status = pclose(pipe);
    result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    result.headers = ReadFileBytes(headers);
    result.body = ReadFileBytes(body);
    return result;
}

bool HasLine(const std::string& headers, const std::string& line) {
    return headers.find(line + "\r\n") != std::string::npos;
}

int ConnectLoopback(uint16_t port) {
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(port);
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

size_t CountEntries(const char* dir) {
    size_t count = 0;
    if (DIR* d = opendir(dir)) {
        while (readdir(d)) {
            ++count;
        }
        closedir(d);
    }
    return count;
}

TEST(NginxServerTest, ServesWholeFileAndRangeAndLogsTheRequests) {
    Sandbox docs;
    const std::string data = MakeBytes(200000, 7);
    docs.Write("files/data.bin", data);
    NginxServer nginx(docs.Path());
    ASSERT_TRUE(nginx.Start()) << nginx.ErrorLog();
    const std::string url = nginx.BaseUrl() + "files/data.bin";

    Sandbox scratch;
    CurlResult whole = Curl(scratch, url, "-A 'QbSelfTest/1.0'");
    ASSERT_EQ(whole.exitCode, 0) << whole.output;
    EXPECT_TRUE(HasLine(whole.headers, "HTTP/1.1 200 OK")) << whole.headers;
    EXPECT_TRUE(HasLine(whole.headers, "Content-Length: 200000")) << whole.headers;
    EXPECT_EQ(Md5Hex(whole.body), Md5Hex(data));

    CurlResult part = Curl(scratch, url,
                           "-A 'QbSelfTest/1.0' -H 'Range: bytes=3-' -H 'Pragma: no-cache' "
                           "-H 'Cache-Control: no-cache'");
    ASSERT_EQ(part.exitCode, 0) << part.output;
    EXPECT_TRUE(HasLine(part.headers, "HTTP/1.1 206 Partial Content")) << part.headers;
    EXPECT_TRUE(HasLine(part.headers, "Content-Range: bytes 3-199999/200000")) << part.headers;
    EXPECT_TRUE(part.body == data.substr(3));

    std::vector<NginxRequest> log = nginx.WaitForRequests(2);
    ASSERT_EQ(log.size(), 2u);
    EXPECT_EQ(log[0].method, "GET");
    EXPECT_EQ(log[0].uri, "/files/data.bin");
    EXPECT_EQ(log[0].status, 200);
    EXPECT_EQ(log[0].userAgent, "QbSelfTest/1.0");
    EXPECT_EQ(log[0].range, "");
    EXPECT_EQ(log[0].bodyBytesSent, 200000u);
    EXPECT_TRUE(log[0].completed);
    EXPECT_EQ(log[1].status, 206);
    EXPECT_EQ(log[1].range, "bytes=3-");
    EXPECT_EQ(log[1].pragma, "no-cache");
    EXPECT_EQ(log[1].cacheControl, "no-cache");
    EXPECT_EQ(log[1].bodyBytesSent, 199997u);

    // Stopped, the port refuses; started again, it comes back on the same port and log.
    const uint16_t port = nginx.Port();
    nginx.Stop();
    EXPECT_FALSE(CanConnectLoopback(port, 500));
    ASSERT_TRUE(nginx.Start()) << nginx.ErrorLog();
    EXPECT_EQ(nginx.Port(), port);
    EXPECT_EQ(Curl(scratch, url).exitCode, 0);
    EXPECT_EQ(nginx.WaitForRequests(3).size(), 3u);
}

TEST(NginxServerTest, MissingBinaryFailsTheTest) {
    const char* old = std::getenv("QB_NGINX");
    const std::optional<std::string> saved = old ? std::optional<std::string>(old) : std::nullopt;
    setenv("QB_NGINX", "/nonexistent/nginx", 1);
    Sandbox docs;
    NginxServer nginx(docs.Path());
    EXPECT_NONFATAL_FAILURE(EXPECT_FALSE(nginx.Start()), "nginx binary not usable");
    if (saved) {
        setenv("QB_NGINX", saved->c_str(), 1);
    } else {
        unsetenv("QB_NGINX");
    }
}

TEST(FaultServerTest, HonoursOrIgnoresRangesAsConfigured) {
    const std::string data = MakeBytes(1000, 1);
    FaultServer server;
    FaultRoute normal;
    normal.body = data;
    server.SetRoute("/f.bin", normal);
    FaultRoute ignoring = normal;
    ignoring.ignoreRange = true;
    server.SetRoute("/ignore.bin", ignoring);
    FaultRoute shifted = normal;
    shifted.contentRangeStartOverride = 10;
    server.SetRoute("/shifted.bin", shifted);

    struct Case {
        const char* path;
        const char* range;  // curl -H argument, empty for none
        int status;
        std::string body;
        const char* contentRange;  // expected header line, empty for none
    };
    const Case cases[] = {
        {"/f.bin", "", 200, data, ""},
        {"/f.bin", "Range: bytes=100-", 206, data.substr(100), "Content-Range: bytes 100-999/1000"},
        {"/f.bin", "Range:bytes=999-", 206, data.substr(999), "Content-Range: bytes 999-999/1000"},
        {"/f.bin", "Range: bytes=100-199", 206, data.substr(100, 100),
         "Content-Range: bytes 100-199/1000"},
        {"/f.bin", "Range: bytes=1000-", 416, normal.rangeNotSatisfiableBody,
         "Content-Range: bytes */1000"},
        {"/ignore.bin", "Range: bytes=100-", 200, data, ""},
        {"/shifted.bin", "Range: bytes=100-", 206, data.substr(10),
         "Content-Range: bytes 10-999/1000"},
    };
    Sandbox scratch;
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.path) + " " + c.range);
        std::string args = "-A 'Quellbridger'";
        if (*c.range) {
            args += " -H " + ShellQuote(c.range);
        }
        CurlResult r = Curl(scratch, server.Url(c.path), args);
        ASSERT_EQ(r.exitCode, 0) << r.output;
        EXPECT_EQ(r.headers.substr(0, 12), "HTTP/1.1 " + std::to_string(c.status));
        EXPECT_TRUE(r.body == c.body) << r.body.size() << " bytes";
        EXPECT_TRUE(HasLine(r.headers, "Content-Length: " + std::to_string(c.body.size())))
            << r.headers;
        if (*c.contentRange) {
            EXPECT_TRUE(HasLine(r.headers, c.contentRange)) << r.headers;
        } else {
            EXPECT_EQ(r.headers.find("Content-Range"), std::string::npos) << r.headers;
        }
    }

    // Headers are recorded exactly as they arrived.
    std::vector<FaultRequest> requests = server.Requests();
    ASSERT_EQ(requests.size(), std::size(cases));
    EXPECT_EQ(requests[1].method, "GET");
    EXPECT_EQ(requests[1].target, "/f.bin");
    EXPECT_EQ(requests[1].Header("range"), "bytes=100-");
    EXPECT_EQ(requests[1].Header("USER-AGENT"), "Quellbridger");
    EXPECT_EQ(requests[1].HeaderCount("Range"), 1u);
    EXPECT_FALSE(requests[0].HasHeader("Range"));
    const auto& raw = requests[2].headerLines;
    EXPECT_NE(std::find(raw.begin(), raw.end(), "Range:bytes=999-"), raw.end());
    EXPECT_EQ(server.Hits("/f.bin"), 5u);
}

TEST(FaultServerTest, FaultsReachTheClientAsConfigured) {
    const std::string data = MakeBytes(1000, 2);
    struct Case {
        const char* name;
        FaultRoute route;
        int curlExit;  // 18 partial file, 56 receive failure
        size_t bodyBytes;
    };
    auto route = [&](auto change) {
        FaultRoute r;
        r.body = data;
        change(r);
        return r;
    };
    const Case cases[] = {
        {"cut", route([](FaultRoute& r) { r.cutAfter = 500; }), 18, 500},
        {"reset", route([](FaultRoute& r) { r.resetAfter = 500; }), 56, 500},
        {"declared longer", route([](FaultRoute& r) { r.declaredLength = 2000; }), 18, 1000},
        {"close-delimited", route([](FaultRoute& r) { r.length = FaultRoute::Length::None; }), 0,
         1000},
        {"chunked", route([](FaultRoute& r) {
             r.length = FaultRoute::Length::Chunked;
             r.chunkSize = 100;
         }),
         0, 1000},
        {"broken chunked", route([](FaultRoute& r) {
             r.length = FaultRoute::Length::Chunked;
             r.chunkSize = 100;
             r.brokenChunked = true;
         }),
         56, 100},
    };
    FaultServer server;
    Sandbox scratch;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        server.SetRoute("/x", c.route);
        CurlResult r = Curl(scratch, server.Url("/x"));
        EXPECT_EQ(r.exitCode, c.curlExit) << r.output;
        EXPECT_EQ(r.body.size(), c.bodyBytes);
        EXPECT_TRUE(r.body == data.substr(0, r.body.size()));
        if (c.route.length == FaultRoute::Length::Chunked) {
            EXPECT_TRUE(HasLine(r.headers, "Transfer-Encoding: chunked")) << r.headers;
            EXPECT_EQ(r.headers.find("Content-Length"), std::string::npos) << r.headers;
        }
    }
}

TEST(FaultServerTest, SequenceThenKeepAliveAndClosedPort) {
    const std::string data = MakeBytes(3000, 3);
    FaultServer server;
    FaultRoute cut;
    cut.body = data;
    cut.cutAfter = 100;
    FaultRoute normal;
    normal.body = data;
    server.SetRouteSequence("/seq", {cut, normal});
    Sandbox scratch;
    EXPECT_EQ(Curl(scratch, server.Url("/seq")).exitCode, 18);
    for (int i = 0; i < 2; ++i) {
        CurlResult r = Curl(scratch, server.Url("/seq"));
        EXPECT_EQ(r.exitCode, 0) << r.output;
        EXPECT_TRUE(r.body == data);
    }
    EXPECT_EQ(server.Hits("/seq"), 3u);

    // One curl run with two URLs reuses the connection; an unknown path is a 404.
    const size_t before = server.Requests().size();
    CurlResult both =
        Curl(scratch, server.Url("/seq"), "-o /dev/null " + ShellQuote(server.Url("/missing?x=1")));
    EXPECT_EQ(both.exitCode, 0) << both.output;
    EXPECT_NE(both.headers.find("HTTP/1.1 404 Not Found"), std::string::npos) << both.headers;
    std::vector<FaultRequest> requests = server.Requests();
    ASSERT_EQ(requests.size(), before + 2);
    EXPECT_EQ(requests[before].path, "/missing");
    EXPECT_EQ(requests[before].target, "/missing?x=1");
    EXPECT_EQ(requests[before + 1].path, "/seq");
    EXPECT_EQ(requests[before + 1].connection, requests[before].connection);
    EXPECT_EQ(requests[before + 1].indexOnConnection, 1u);

    ClosedPort closed;
    EXPECT_EQ(Curl(scratch, closed.BaseUrl()).exitCode, 7);  // couldn't connect
}

TEST(FaultServerTest, StopsPromptlyWhileClientsStallAndLeaksNothing) {
    // A server started and stopped once first: a runtime that starts a thread of its own with
    // the first one (ThreadSanitizer's) has done so before the counts.
    std::make_unique<FaultServer>().reset();
    const size_t fdsBefore = CountEntries("/proc/self/fd");
    const size_t threadsBefore = CountEntries("/proc/self/task");
    auto server = std::make_unique<FaultServer>();
    FaultRoute hang;
    hang.neverAnswer = true;
    server->SetRoute("/hang", hang);
    FaultRoute slow;
    slow.body = "abc";
    slow.stallBeforeHeadersMs = 60000;
    server->SetRoute("/slow", slow);
    FaultRoute endless;
    endless.endless = true;
    server->SetRoute("/endless", endless);
    FaultRoute trickle;
    trickle.body = std::string(100, 'y');
    trickle.trickleBytesPerSecond = 1;
    server->SetRoute("/trickle", trickle);

    std::vector<int> clients;
    for (const char* path : {"/hang", "/slow", "/endless", "/trickle"}) {
        int fd = ConnectLoopback(server->Port());
        ASSERT_GE(fd, 0);
        const std::string request = std::string("GET ") + path + " HTTP/1.1\r\nHost: x\r\n\r\n";
        ASSERT_EQ(send(fd, request.data(), request.size(), 0), ssize_t(request.size()));
        clients.push_back(fd);
    }
    // An idle connection that never sends a request.
    clients.push_back(ConnectLoopback(server->Port()));
    ASSERT_EQ(server->WaitForRequests(4).size(), 4u);

    const uint16_t port = server->Port();
    const auto start = std::chrono::steady_clock::now();
    server.reset();
    const auto took = std::chrono::steady_clock::now() - start;
    EXPECT_LT(took, std::chrono::milliseconds(1000));
    EXPECT_FALSE(CanConnectLoopback(port, 500));

    for (int fd : clients) {
        close(fd);
    }
    EXPECT_EQ(CountEntries("/proc/self/fd"), fdsBefore);
    // A joined thread may still be listed until the kernel has released it.
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    while (CountEntries("/proc/self/task") > threadsBefore &&
           std::chrono::steady_clock::now() < until) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    EXPECT_EQ(CountEntries("/proc/self/task"), threadsBefore);
}

}  // namespace
