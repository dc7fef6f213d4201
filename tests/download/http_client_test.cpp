#include <arpa/inet.h>
#include <curl/curl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "download/http_client.h"
#include "download/retry_policy.h"
#include "download/transfer_hub.h"
#include "download/wininet.h"
#include "support/closed_port.h"
#include "support/env_guard.h"
#include "support/fault_server.h"
#include "support/hello_breaker.h"
#include "support/log_capture.h"
#include "support/loopback.h"
#include "support/nginx_server.h"
#include "support/sandbox.h"
#include "support/test_certificate.h"
#include "support/test_data.h"

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

constexpr uint32_t kChunk = CHttpClient::TRANSFER_BUFFER_SIZE;

struct Drained {
    std::string body;
    bool ok = true;         // false: a Read failed
    bool complete = false;  // IsBodyComplete after the final 0
    uint32_t largest = 0;   // largest count one Read handed out
};

// Reads the body as the worker does, through the client's own buffer.
Drained Drain(CHttpClient& client, uint64_t limit = 64ull << 20) {
    Drained d;
    for (;;) {
        uint32_t count = 12345;
        const unsigned char* data = nullptr;
        if (!client.Read(kChunk, data, count)) {
            d.ok = false;
            return d;
        }
        if (count == 0) {
            d.complete = client.IsBodyComplete();
            return d;
        }
        d.largest = std::max(d.largest, count);
        d.body.append(reinterpret_cast<const char*>(data), count);
        if (d.body.size() > limit) {
            ADD_FAILURE() << "body runs past " << limit << " bytes";
            return d;
        }
    }
}

// Each case once on the client's own connection and once through a hub.
template <typename Case, size_t N>
std::vector<std::pair<const Case&, bool>> WithAndWithoutHub(const Case (&cases)[N]) {
    std::vector<std::pair<const Case&, bool>> out;
    for (const bool shared : {false, true}) {
        for (const Case& c : cases) {
            out.emplace_back(c, shared);
        }
    }
    return out;
}

// Every test talks to loopback servers only: proxy variables of the machine stay out.
class HttpClientTest : public testing::Test {
protected:
    HttpClientTest() {
        for (const char* name : {"http_proxy", "HTTP_PROXY", "https_proxy", "HTTPS_PROXY",
                                 "all_proxy", "ALL_PROXY", "no_proxy", "NO_PROXY"}) {
            m_env.Unset(name);
        }
    }
    EnvGuard m_env;
};

class NginxClientTest : public HttpClientTest {
protected:
    void SetUp() override {
        m_small = "small file\n";
        m_big = MakeBytes((3u << 20) + 4321, 7);
        m_docRoot.Write("small.txt", m_small);
        m_docRoot.Write("data/big.pak", m_big);
        m_docRoot.Write("empty.bin", "");
        ASSERT_TRUE(m_server.Start()) << m_server.ErrorLog();
    }
    std::string Url(const std::string& path) const { return m_server.BaseUrl() + path; }

    std::string m_small;
    std::string m_big;
    Sandbox m_docRoot;
    NginxServer m_server{m_docRoot.Path()};
};

TEST_F(NginxClientTest, ReadsA200BodyWholeInBufferSizedPieces) {
    CHttpClient client;
    uint64_t length = 0;
    ASSERT_TRUE(client.OpenUrl(Url("data/big.pak"), nullptr, &length, "Quellbridger"));
    EXPECT_EQ(client.StatusCode(), 200);
    EXPECT_EQ(length, m_big.size());

    const Drained d = Drain(client);
    EXPECT_TRUE(d.ok);
    EXPECT_TRUE(d.complete);
    EXPECT_LE(d.largest, kChunk);
    EXPECT_TRUE(d.body == m_big) << d.body.size() << " of " << m_big.size() << " bytes";

    // After the end every further Read gives 0 again.
    uint32_t count = 1;
    const unsigned char* data = nullptr;
    EXPECT_TRUE(client.Read(kChunk, data, count));
    EXPECT_EQ(count, 0u);
}

TEST_F(NginxClientTest, ReadNeverWritesPastTheGivenCapacity) {
    CHttpClient::GlobalInit();
    CWininet request;
    ASSERT_TRUE(request.Open(Url("data/big.pak"), "", "Quellbridger", HttpTimeouts{}));
    std::vector<unsigned char> buffer(1000 + 64, 0xAB);
    std::string body;
    for (;;) {
        uint32_t count = 0;
        ASSERT_TRUE(request.Read(buffer.data(), 1000, count));
        ASSERT_TRUE(std::all_of(buffer.begin() + 1000, buffer.end(),
                                [](unsigned char c) { return c == 0xAB; }));
        if (count == 0) {
            break;
        }
        ASSERT_LE(count, 1000u);
        body.append(reinterpret_cast<const char*>(buffer.data()), count);
    }
    EXPECT_TRUE(body == m_big);
}

TEST_F(NginxClientTest, ReadsAnEmptyBody) {
    CHttpClient client;
    uint64_t length = 99;
    ASSERT_TRUE(client.OpenUrl(Url("empty.bin"), nullptr, &length, "Quellbridger"));
    EXPECT_EQ(length, 0u);
    uint32_t count = 99;
    const unsigned char* data = nullptr;
    EXPECT_TRUE(client.Read(kChunk, data, count));
    EXPECT_EQ(count, 0u);
    EXPECT_TRUE(client.IsBodyComplete());
}

TEST_F(NginxClientTest, AsksForTheRestWithTheRangeHeaderAsGiven) {
    CHttpClient client;
    uint64_t length = 0;
    ASSERT_TRUE(client.OpenUrl(Url("data/big.pak"), "Range:bytes=1000-", &length, "Quellbridger"));
    EXPECT_EQ(client.StatusCode(), 206);
    EXPECT_EQ(length, m_big.size() - 1000);
    const Drained d = Drain(client);
    EXPECT_TRUE(d.ok && d.complete);
    EXPECT_TRUE(d.body == m_big.substr(1000));

    const auto requests = m_server.WaitForRequests(1);
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].method, "GET");
    EXPECT_EQ(requests[0].uri, "/data/big.pak");
    EXPECT_EQ(requests[0].status, 206);
    EXPECT_EQ(requests[0].range, "bytes=1000-");
}

TEST_F(NginxClientTest, SendsTheAgentAndNoCacheHeadersAndAsksForNoEncoding) {
    CHttpClient client;
    uint64_t length = 0;
    ASSERT_TRUE(client.OpenUrl(Url("small.txt"), nullptr, &length, "HttpClient/1.0"));
    EXPECT_EQ(Drain(client).body, m_small);
    ASSERT_TRUE(client.OpenUrl(Url("small.txt"), "", &length, "Quellbridger"));
    EXPECT_EQ(Drain(client).body, m_small);

    const auto requests = m_server.WaitForRequests(2);
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[0].userAgent, "HttpClient/1.0");
    EXPECT_EQ(requests[1].userAgent, "Quellbridger");
    for (const NginxRequest& r : requests) {
        EXPECT_EQ(r.cacheControl, "no-cache");
        EXPECT_EQ(r.pragma, "no-cache");
        EXPECT_EQ(r.acceptEncoding, "");
        EXPECT_EQ(r.range, "");
        EXPECT_TRUE(r.completed);
    }
}

TEST_F(NginxClientTest, RefusesA404WithItsStatus) {
    CHttpClient client;
    uint64_t length = 77;
    EXPECT_FALSE(client.OpenUrl(Url("missing.pak"), nullptr, &length, "Quellbridger"));
    EXPECT_EQ(client.LastError(), 404u);
    EXPECT_EQ(length, 77u);
    // A range past the end is refused the same way.
    EXPECT_FALSE(client.OpenUrl(Url("small.txt"), "Range:bytes=999999-", &length, "Quellbridger"));
    EXPECT_EQ(client.LastError(), 416u);
}

TEST_F(NginxClientTest, OneClientServesRequestsOneAfterAnother) {
    // The worker drops a body part-way (stop, bad status) and opens the next file.
    CHttpClient client;
    uint64_t length = 0;
    ASSERT_TRUE(client.OpenUrl(Url("data/big.pak"), nullptr, &length, "Quellbridger"));
    // Let the body pile up so that the client holds more than it hands out.
    std::this_thread::sleep_for(milliseconds(200));
    uint32_t count = 0;
    const unsigned char* data = nullptr;
    ASSERT_TRUE(client.Read(kChunk, data, count));
    ASSERT_GT(count, 0u);

    ASSERT_TRUE(client.OpenUrl(Url("small.txt"), nullptr, &length, "Quellbridger"));
    const Drained small = Drain(client);
    EXPECT_TRUE(small.ok && small.complete);
    EXPECT_EQ(small.body, m_small);

    EXPECT_FALSE(client.OpenUrl(Url("missing.pak"), nullptr, &length, "Quellbridger"));
    ASSERT_TRUE(
        client.OpenUrl(Url("data/big.pak"), "Range:bytes=3145728-", &length, "Quellbridger"));
    const Drained tail = Drain(client);
    EXPECT_TRUE(tail.ok && tail.complete);
    EXPECT_TRUE(tail.body == m_big.substr(3145728));
}

TEST_F(HttpClientTest, ReportsTheLibcurlCodeWhenNoServerAnswers) {
    ClosedPort closed;
    CHttpClient client;
    uint64_t length = 0;
    EXPECT_FALSE(
        client.OpenUrl(closed.BaseUrl() + "filelist.json", nullptr, &length, "HttpClient/1.0"));
    EXPECT_EQ(client.LastError(), uint32_t{CURLE_COULDNT_CONNECT});
    EXPECT_EQ(client.LastError(), uint32_t{CURLE_COULDNT_CONNECT});

    for (const char* url : {"file:///etc/hostname", "ftp://127.0.0.1/x", "gopher://127.0.0.1/"}) {
        EXPECT_FALSE(client.OpenUrl(url, nullptr, &length, "Quellbridger")) << url;
        EXPECT_EQ(client.LastError(), uint32_t{CURLE_UNSUPPORTED_PROTOCOL}) << url;
    }
}

// A listening socket whose accept queue is full: the kernel drops further connection attempts,
// so a client hangs in connect until its connect time-out.
class FullBacklog {
public:
    FullBacklog() {
        m_listen = BindLoopback(0, &m_port);
        sockaddr_in addr = LoopbackAddress(m_port);
        for (int i = 0; i < 2; ++i) {
            const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
            ::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
            m_fillers.push_back(fd);
        }
        std::this_thread::sleep_for(milliseconds(100));
    }
    ~FullBacklog() {
        for (int fd : m_fillers) {
            ::close(fd);
        }
        ::close(m_listen);
    }
    std::string Url() const { return "http://127.0.0.1:" + std::to_string(m_port) + "/f"; }

private:
    int m_listen = -1;
    uint16_t m_port = 0;
    std::vector<int> m_fillers;
};

TEST_F(HttpClientTest, GivesUpConnectingAfterTheConnectTimeOut) {
    struct Case {
        HttpTimeouts timeouts;
        int atLeastMs;
        int atMostMs;
    };
    // The stall time starts once the request is out, so it never cuts a connect short.
    const Case cases[] = {{{500, 30}, 450, 2000}, {{2500, 1}, 2400, 4500}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.timeouts.connectMs);
        FullBacklog server;
        CHttpClient client(c.timeouts);
        uint64_t length = 0;
        const auto start = Clock::now();
        EXPECT_FALSE(client.OpenUrl(server.Url(), nullptr, &length, "Quellbridger"));
        const auto took = Clock::now() - start;
        EXPECT_EQ(client.LastError(), uint32_t{CURLE_OPERATION_TIMEDOUT});
        EXPECT_GE(took, milliseconds(c.atLeastMs));
        EXPECT_LT(took, milliseconds(c.atMostMs));
    }
}

// libcurl reports a TLS handshake that failed as one code whatever the cause; the system's
// error code tells a handshake the network cut, worth another attempt, from one the server
// refused.
TEST_F(HttpClientTest, KeepsTheSystemsErrorCodeOfAFailedTlsHandshake) {
    struct Case {
        HelloBreaker::Mode mode;
        int osError;
        bool transient;
    };
    for (const Case& c : {Case{HelloBreaker::Mode::Reset, ECONNRESET, true},
                          Case{HelloBreaker::Mode::PlainHttp, 0, false}}) {
        SCOPED_TRACE(c.osError);
        HelloBreaker server(c.mode);
        CHttpClient client;
        uint64_t length = 0;
        EXPECT_FALSE(client.OpenUrl(server.BaseUrl() + "f", nullptr, &length, "Quellbridger"));
        EXPECT_EQ(client.LastError(), uint32_t{CURLE_SSL_CONNECT_ERROR}) << client.ErrorDetail();
        EXPECT_EQ(client.LastOsError(), c.osError);
        EXPECT_EQ(CRetryPolicy::TransientReason(client.LastError(), client.LastOsError()).empty(),
                  !c.transient);
    }
}

TEST_F(HttpClientTest, UsesTheProxyFromTheEnvironment) {
    FaultServer proxy;
    m_env.Set("http_proxy", proxy.BaseUrl());
    CHttpClient client;
    uint64_t length = 0;
    // The fake proxy answers 404 to everything; what counts is that it was asked.
    EXPECT_FALSE(client.OpenUrl("http://files.example.invalid/filelist.json", nullptr, &length,
                                "HttpClient/1.0"));
    EXPECT_EQ(client.LastError(), 404u);
    const auto requests = proxy.WaitForRequests(1);
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].target, "http://files.example.invalid/filelist.json");
}

class FaultClientTest : public HttpClientTest {
protected:
    FaultRoute Body(std::string body) {
        FaultRoute r;
        r.body = std::move(body);
        return r;
    }
    FaultServer m_server;
    const std::string m_body = MakeBytes(200000, 3);
};

TEST_F(FaultClientTest, SendsExactlyTheGivenHeaderLines) {
    m_server.SetRoute("/f.pak", Body(m_body));
    CHttpClient client;
    uint64_t length = 0;
    ASSERT_TRUE(client.OpenUrl(m_server.Url("/f.pak"), "Range:bytes=1000-\r\nX-Extra: two\r\n",
                               &length, "Quellbridger"));
    EXPECT_EQ(Drain(client).body, m_body.substr(1000));
    ASSERT_TRUE(client.OpenUrl(m_server.Url("/f.pak"), nullptr, &length, "Quellbridger"));
    EXPECT_EQ(Drain(client).body, m_body);

    const auto requests = m_server.WaitForRequests(2);
    ASSERT_EQ(requests.size(), 2u);
    const FaultRequest& ranged = requests[0];
    EXPECT_EQ(ranged.method, "GET");
    EXPECT_EQ(ranged.HeaderCount("Range"), 1u);
    EXPECT_EQ(ranged.Header("Range"), "bytes=1000-");
    EXPECT_EQ(ranged.Header("X-Extra"), "two");
    for (const FaultRequest& r : requests) {
        EXPECT_EQ(r.Header("User-Agent"), "Quellbridger");
        EXPECT_EQ(r.Header("Cache-Control"), "no-cache");
        EXPECT_EQ(r.Header("Pragma"), "no-cache");
        EXPECT_FALSE(r.HasHeader("Accept-Encoding"));
    }
    EXPECT_FALSE(requests[1].HasHeader("Range"));
}

TEST_F(FaultClientTest, RefusesABodyWithoutContentLength) {
    struct Case {
        const char* name;
        FaultRoute::Length length;
        bool declare;  // a Content-Length next to the framing
    };
    const Case cases[] = {
        {"chunked", FaultRoute::Length::Chunked, false},
        {"chunked with a length", FaultRoute::Length::Chunked, true},
        {"ended by close", FaultRoute::Length::None, false},
    };
    for (const Case& c : cases) {
        FaultRoute route = Body(m_body);
        route.length = c.length;
        if (c.declare) {
            route.declaredLength = m_body.size();
        }
        m_server.SetRoute("/list.json", route);
        CHttpClient client;
        uint64_t length = 77;
        EXPECT_FALSE(client.OpenUrl(m_server.Url("/list.json"), nullptr, &length, "HttpClient/1.0"))
            << c.name;
        EXPECT_NE(client.LastError(), 0u) << c.name;
        EXPECT_NE(client.LastError(), 200u) << c.name;
        EXPECT_EQ(length, 77u) << c.name;
        EXPECT_EQ(m_server.Hits("/list.json"), 1u) << c.name;
    }
}

TEST_F(FaultClientTest, TellsABodyCutShortFromACompleteOne) {
    FaultRoute whole = Body(m_body);
    FaultRoute cut = Body(m_body);
    cut.cutAfter = 50000;
    FaultRoute overstated = Body(m_body);
    overstated.declaredLength = m_body.size() + 5000;
    m_server.SetRoute("/whole", whole);
    m_server.SetRoute("/cut", cut);
    m_server.SetRoute("/overstated", overstated);

    CHttpClient client;
    uint64_t length = 0;
    ASSERT_TRUE(client.OpenUrl(m_server.Url("/whole"), nullptr, &length, "Quellbridger"));
    Drained d = Drain(client);
    EXPECT_TRUE(d.ok && d.complete);
    EXPECT_EQ(d.body.size(), m_body.size());

    ASSERT_TRUE(client.OpenUrl(m_server.Url("/cut"), nullptr, &length, "Quellbridger"));
    EXPECT_EQ(length, m_body.size());
    d = Drain(client);
    EXPECT_FALSE(d.ok && d.complete);
    EXPECT_EQ(d.body, m_body.substr(0, 50000));

    ASSERT_TRUE(client.OpenUrl(m_server.Url("/overstated"), nullptr, &length, "Quellbridger"));
    EXPECT_EQ(length, m_body.size() + 5000);
    d = Drain(client);
    EXPECT_FALSE(d.ok && d.complete);
    EXPECT_EQ(d.body, m_body);
}

TEST_F(FaultClientTest, FailsTheReadWhenTheConnectionIsReset) {
    Sandbox logs;
    LogCapture capture(logs.Path());
    FaultRoute route = Body(m_body);
    route.resetAfter = 30000;
    m_server.SetRoute("/reset", route);
    CHttpClient client;
    uint64_t length = 0;
    ASSERT_TRUE(client.OpenUrl(m_server.Url("/reset"), nullptr, &length, "Quellbridger"));
    const Drained d = Drain(client);
    EXPECT_FALSE(d.ok);
    EXPECT_LE(d.body.size(), 30000u);
    EXPECT_EQ(d.body, m_body.substr(0, d.body.size()));
    const uint32_t code = client.LastError();
    EXPECT_NE(code, 0u);
    EXPECT_LT(code, 100u);
    const auto lines = capture.Lines();
    EXPECT_NE(std::find(lines.begin(), lines.end(),
                        "InternetQueryDataAvailable - (" + std::to_string(code) + ")"),
              lines.end());
}

TEST_F(FaultClientTest, EndsAStalledTransferAfterTheStallTime) {
    struct Case {
        const char* name;
        FaultRoute route;
        bool opens;  // the stall comes after the headers
    };
    FaultRoute beforeHeaders = Body(m_body);
    beforeHeaders.stallBeforeHeadersMs = 30000;
    FaultRoute silent = Body(m_body);
    silent.neverAnswer = true;
    FaultRoute beforeBody = Body(m_body);
    beforeBody.stallBeforeBodyMs = 30000;
    FaultRoute midBody = Body(m_body);
    midBody.stallAfterBytes = 20000;
    midBody.stallMs = 30000;
    FaultRoute trickle = Body(m_body);
    trickle.trickleBytesPerSecond = 16;
    const Case cases[] = {
        {"before the headers", beforeHeaders, false},
        {"never answering", silent, false},
        {"before the body", beforeBody, true},
        {"in the middle of the body", midBody, true},
        {"trickling", trickle, true},
    };
    // On the client's own connection, and through a hub whose thread drives the request.
    CTransferHub hub;
    for (const auto& [c, shared] : WithAndWithoutHub(cases)) {
        SCOPED_TRACE(std::string(c.name) + (shared ? ", through a hub" : ""));
        m_server.SetRoute("/stall", c.route);
        CHttpClient client(HttpTimeouts{2000, 1});
        client.SetHub(shared ? &hub : nullptr);
        uint64_t length = 0;
        const auto start = Clock::now();
        const bool opened =
            client.OpenUrl(m_server.Url("/stall"), nullptr, &length, "Quellbridger");
        EXPECT_EQ(opened, c.opens);
        uint32_t code = client.LastError();
        if (opened) {
            const Drained d = Drain(client);
            EXPECT_FALSE(d.ok);
            EXPECT_LT(d.body.size(), m_body.size());
            code = client.LastError();
        }
        EXPECT_EQ(code, uint32_t{CURLE_OPERATION_TIMEDOUT});
        EXPECT_LT(Clock::now() - start, milliseconds(4500));
    }
}

TEST_F(FaultClientTest, AStopFromAnotherThreadEndsAStalledTransferAtOnce) {
    struct Case {
        const char* name;
        FaultRoute route;
        bool opens;
    };
    FaultRoute silent = Body(m_body);
    silent.neverAnswer = true;
    FaultRoute midBody = Body(m_body);
    midBody.stallAfterBytes = 20000;
    midBody.stallMs = 60000;
    const Case cases[] = {{"waiting for the headers", silent, false},
                          {"waiting for the body", midBody, true}};
    CTransferHub hub;
    for (const auto& [c, shared] : WithAndWithoutHub(cases)) {
        SCOPED_TRACE(std::string(c.name) + (shared ? ", through a hub" : ""));
        m_server.SetRoute("/stall", c.route);
        std::atomic<bool> running{true};
        std::atomic<Clock::rep> stoppedAt{0};
        std::thread stopper([&] {
            std::this_thread::sleep_for(milliseconds(500));
            stoppedAt = Clock::now().time_since_epoch().count();
            running = false;
        });
        CHttpClient client;  // the 30-second time-outs: only the stop can end this early
        client.SetStopFlag(&running);
        client.SetHub(shared ? &hub : nullptr);
        uint64_t length = 0;
        const bool opened =
            client.OpenUrl(m_server.Url("/stall"), nullptr, &length, "Quellbridger");
        EXPECT_EQ(opened, c.opens);
        uint32_t code = client.LastError();
        if (opened) {
            EXPECT_FALSE(Drain(client).ok);
            code = client.LastError();
        }
        const auto ended = Clock::now();
        stopper.join();
        EXPECT_EQ(code, uint32_t{CURLE_ABORTED_BY_CALLBACK});
        EXPECT_LT(ended - Clock::time_point(Clock::duration(stoppedAt.load())), milliseconds(1000));
    }
}

TEST_F(FaultClientTest, AcceptsA200ToARangeAndA206WithoutOne) {
    FaultRoute whole = Body(m_body);
    whole.ignoreRange = true;
    m_server.SetRoute("/whole", whole);
    FaultRoute partial = Body(m_body.substr(100));
    partial.status = 206;
    partial.headers = {{"Content-Range", "bytes 100-199999/200000"}};
    m_server.SetRoute("/partial", partial);

    CHttpClient client;
    uint64_t length = 0;
    ASSERT_TRUE(
        client.OpenUrl(m_server.Url("/whole"), "Range:bytes=1000-", &length, "Quellbridger"));
    EXPECT_EQ(client.StatusCode(), 200);
    EXPECT_EQ(length, m_body.size());
    EXPECT_TRUE(Drain(client).body == m_body);

    ASSERT_TRUE(client.OpenUrl(m_server.Url("/partial"), nullptr, &length, "Quellbridger"));
    EXPECT_EQ(client.StatusCode(), 206);
    EXPECT_EQ(length, m_body.size() - 100);
    EXPECT_TRUE(Drain(client).body == m_body.substr(100));
}

TEST_F(FaultClientTest, RefusesStatusesOtherThan200And206) {
    for (int status : {204, 304, 400, 403, 416, 500, 503}) {
        FaultRoute route = Body(status == 204 || status == 304 ? "" : "error page");
        route.status = status;
        m_server.SetRoute("/s", route);
        CHttpClient client;
        uint64_t length = 0;
        EXPECT_FALSE(client.OpenUrl(m_server.Url("/s"), nullptr, &length, "Quellbridger"))
            << status;
        EXPECT_EQ(client.LastError(), static_cast<uint32_t>(status));
    }
}

TEST_F(FaultClientTest, HandlesContentLengthsOfFourGibibytesAndMore) {
    FaultRoute route;
    route.endless = true;
    route.declaredLength = (5ull << 30) + 3;
    m_server.SetRoute("/huge.pak", route);
    CHttpClient client;
    uint64_t length = 0;
    ASSERT_TRUE(client.OpenUrl(m_server.Url("/huge.pak"), nullptr, &length, "Quellbridger"));
    EXPECT_EQ(length, (5ull << 30) + 3);
    uint32_t count = 0;
    const unsigned char* data = nullptr;
    EXPECT_TRUE(client.Read(kChunk, data, count));
    EXPECT_GT(count, 0u);
}

TEST_F(FaultClientTest, FollowsRedirectsOnlyToHttpAndAtMostFive) {
    m_server.SetRoute("/final.pak", Body(m_body));
    auto redirect = [](int status, const std::string& to) {
        FaultRoute r;
        r.status = status;
        r.location = to;
        return r;
    };
    for (int status : {301, 302, 303, 307, 308}) {
        m_server.SetRoute("/moved" + std::to_string(status), redirect(status, "/final.pak"));
    }
    m_server.SetRoute("/absolute", redirect(302, m_server.Url("/final.pak")));
    // Chains of five and six hops.
    for (int i = 1; i <= 6; ++i) {
        m_server.SetRoute("/hop" + std::to_string(i),
                          redirect(302, i == 6 ? "/final.pak" : "/hop" + std::to_string(i + 1)));
    }
    m_server.SetRoute("/loop", redirect(302, "/loop"));
    m_server.SetRoute("/to-file", redirect(302, "file:///etc/hostname"));
    m_server.SetRoute(
        "/to-ftp",
        redirect(302, "ftp://127.0.0.1:" + std::to_string(m_server.Port()) + "/final.pak"));
    m_server.SetRoute("/to-missing", redirect(302, "/missing.pak"));
    m_server.SetRoute("/no-location", redirect(302, ""));

    struct Case {
        const char* path;
        uint32_t error;  // 0: opens and delivers /final.pak
    };
    const Case cases[] = {
        {"/moved301", 0},
        {"/moved302", 0},
        {"/moved303", 0},
        {"/moved307", 0},
        {"/moved308", 0},
        {"/absolute", 0},
        {"/hop2", 0},
        {"/hop1", CURLE_TOO_MANY_REDIRECTS},
        {"/loop", CURLE_TOO_MANY_REDIRECTS},
        {"/to-file", CURLE_UNSUPPORTED_PROTOCOL},
        {"/to-ftp", CURLE_UNSUPPORTED_PROTOCOL},
        {"/to-missing", 404},
        {"/no-location", 302},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        CHttpClient client;
        uint64_t length = 0;
        const bool opened = client.OpenUrl(m_server.Url(c.path), nullptr, &length, "Quellbridger");
        EXPECT_EQ(opened, c.error == 0);
        if (opened) {
            EXPECT_EQ(length, m_body.size());
            EXPECT_TRUE(Drain(client).body == m_body);
        } else {
            EXPECT_EQ(client.LastError(), c.error);
        }
    }
}

// nginx over https with a certificate made here, which no system store trusts.
class TlsClientTest : public HttpClientTest {
protected:
    void SetUp() override {
        for (const char* name : {"CURL_CA_BUNDLE", "SSL_CERT_FILE", "SSL_CERT_DIR"}) {
            m_env.Unset(name);
        }
        ASSERT_TRUE(m_cert.Ok()) << m_cert.Error();
        m_docRoot.Write("small.txt", m_small);
        m_plain.SetRoute("/small.txt", Plain(m_small));
        m_server.UseTls(m_cert.CertFile(), m_cert.KeyFile());
        m_server.AddServerLines("location = /to-http { return 302 " + m_plain.Url("/small.txt") +
                                "; }");
        m_server.AddServerLines("location = /to-https { return 302 /small.txt; }");
        ASSERT_TRUE(m_server.Start()) << m_server.ErrorLog();
    }
    static FaultRoute Plain(const std::string& body) {
        FaultRoute route;
        route.body = body;
        return route;
    }

    std::string m_small = "small file over tls\n";
    Sandbox m_keys;
    TestCertificate m_cert{m_keys.Path()};
    Sandbox m_docRoot;
    FaultServer m_plain;
    NginxServer m_server{m_docRoot.Path()};
};

// The CA variables work as they do for the curl tool: CURL_CA_BUNDLE alone when set, else
// SSL_CERT_FILE and SSL_CERT_DIR. A failure says what libcurl saw.
TEST_F(TlsClientTest, TrustsTheAuthoritiesNamedInTheEnvironmentAsCurlDoes) {
    Sandbox caDir;
    caDir.Write(m_cert.HashName(), ReadFileBytes(m_cert.CertFile()));
    const std::string cert = m_cert.CertFile().string();
    const std::string missing = (m_keys.Path() / "missing.pem").string();
    struct Case {
        const char* label;
        std::vector<std::pair<const char*, std::string>> env;
        uint32_t error;      // 0: the body arrives
        const char* detail;  // part of the error text
    };
    const Case cases[] = {
        {"system store only", {}, CURLE_PEER_FAILED_VERIFICATION, "certificate"},
        {"CURL_CA_BUNDLE", {{"CURL_CA_BUNDLE", cert}}, 0, ""},
        {"SSL_CERT_FILE", {{"SSL_CERT_FILE", cert}}, 0, ""},
        {"SSL_CERT_DIR", {{"SSL_CERT_DIR", caDir.Path().string()}}, 0, ""},
        {"CURL_CA_BUNDLE wins over SSL_CERT_FILE",
         {{"CURL_CA_BUNDLE", missing}, {"SSL_CERT_FILE", cert}},
         CURLE_SSL_CACERT_BADFILE,
         "missing.pem"},
        {"empty values are not set", {{"CURL_CA_BUNDLE", ""}, {"SSL_CERT_FILE", cert}}, 0, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        EnvGuard env;
        for (const auto& [name, value] : c.env) {
            env.Set(name, value);
        }
        CHttpClient client;
        uint64_t length = 0;
        const bool opened =
            client.OpenUrl(m_server.BaseUrl() + "small.txt", nullptr, &length, "Quellbridger");
        ASSERT_EQ(opened, c.error == 0) << client.LastError() << " " << client.ErrorDetail();
        if (opened) {
            EXPECT_TRUE(Drain(client).body == m_small);
        } else {
            EXPECT_EQ(client.LastError(), c.error);
            EXPECT_NE(client.ErrorDetail().find(c.detail), std::string::npos)
                << client.ErrorDetail();
        }
    }
}

// An https address keeps its redirects on https: a network attacker who answers with a
// redirect to http must not get to serve the list or the files.
TEST_F(TlsClientTest, RedirectsFromHttpsStayOnHttps) {
    EnvGuard env;
    env.Set("CURL_CA_BUNDLE", m_cert.CertFile().string());
    m_plain.SetRoute("/to-https", [&] {
        FaultRoute r;
        r.status = 302;
        r.location = m_server.BaseUrl() + "small.txt";
        return r;
    }());
    struct Case {
        std::string url;
        uint32_t error;
    };
    const Case cases[] = {
        {m_server.BaseUrl() + "to-http", CURLE_UNSUPPORTED_PROTOCOL},
        {m_server.BaseUrl() + "to-https", 0},
        {m_plain.Url("/to-https"), 0},  // an upgrade stays allowed
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.url);
        CHttpClient client;
        uint64_t length = 0;
        EXPECT_EQ(client.OpenUrl(c.url, nullptr, &length, "Quellbridger"), c.error == 0);
        EXPECT_EQ(client.LastError(), c.error) << client.ErrorDetail();
        if (c.error == 0) {
            EXPECT_TRUE(Drain(client).body == m_small);
        }
    }
    EXPECT_EQ(m_plain.Hits("/small.txt"), 0u);
}

// Clients on several threads that share a hub are streams of one HTTP/2 connection, and one
// that reads nothing for a while (its stream paused) holds up none of the others.
TEST_F(TlsClientTest, ClientsSharingAHubAreStreamsOfOneConnection) {
    EnvGuard env;
    env.Set("CURL_CA_BUNDLE", m_cert.CertFile().string());
    constexpr int kClients = 6;
    std::vector<std::string> bodies;
    for (int i = 0; i < kClients; ++i) {
        bodies.push_back(MakeBytes((1u << 20) + 1000u * static_cast<uint32_t>(i), i + 1));
        m_docRoot.Write("f" + std::to_string(i) + ".bin", bodies.back());
    }
    CTransferHub hub;
    std::atomic<int> finished{0};
    bool othersFirst = false;
    std::vector<std::string> got(kClients);
    std::vector<std::thread> threads;
    for (int i = 0; i < kClients; ++i) {
        threads.emplace_back([&, i] {
            CHttpClient client;
            client.SetHub(&hub);
            uint64_t length = 0;
            if (!client.OpenUrl(m_server.BaseUrl() + "f" + std::to_string(i) + ".bin", nullptr,
                                &length, "Quellbridger")) {
                got[static_cast<size_t>(i)] = "open: " + std::to_string(client.LastError());
                ++finished;
                return;
            }
            if (i == 0) {
                const auto until = Clock::now() + std::chrono::seconds(20);
                while (finished.load() < kClients - 1 && Clock::now() < until) {
                    std::this_thread::sleep_for(milliseconds(10));
                }
                othersFirst = finished.load() == kClients - 1;
            }
            const Drained d = Drain(client);
            got[static_cast<size_t>(i)] = d.ok && d.complete ? d.body : "read failed";
            ++finished;
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    EXPECT_TRUE(othersFirst);
    for (size_t i = 0; i < got.size(); ++i) {
        EXPECT_TRUE(got[i] == bodies[i]) << i << ": " << got[i].substr(0, 40);
    }
    const std::vector<NginxRequest> requests = m_server.WaitForRequests(kClients);
    ASSERT_EQ(requests.size(), static_cast<size_t>(kClients));
    for (const NginxRequest& r : requests) {
        EXPECT_EQ(r.protocol, "HTTP/2.0") << r.uri;
        EXPECT_EQ(r.connection, requests[0].connection) << r.uri;
    }
}

TEST(OpenLocalFile, TruncatesOrAppendsAndNeverFollowsALink) {
    Sandbox box;
    CHttpClient client;
    auto put = [&client](const std::string& bytes) {
        ASSERT_EQ(::write(client.LocalFile(), bytes.data(), bytes.size()),
                  static_cast<ssize_t>(bytes.size()));
    };

    // Append to a missing file creates it.
    const auto part = box.Path() / "part.pak";
    ASSERT_TRUE(client.OpenLocalFile(part.string(), true));
    put("abc");
    ASSERT_TRUE(client.OpenLocalFile(part.string(), true));
    put("def");
    client.CloseLocalFile();
    EXPECT_EQ(client.LocalFile(), -1);
    EXPECT_EQ(box.Read("part.pak"), "abcdef");

    // Without append an existing file starts again from nothing.
    ASSERT_TRUE(client.OpenLocalFile(part.string(), false));
    put("x");
    client.CloseLocalFile();
    EXPECT_EQ(box.Read("part.pak"), "x");

    // A link planted where the file goes is refused, and its target is left alone.
    box.Write("victim.txt", "keep me");
    const auto link = box.Path() / "link.pak";
    ASSERT_EQ(::symlink((box.Path() / "victim.txt").c_str(), link.c_str()), 0);
    for (bool append : {false, true}) {
        EXPECT_FALSE(client.OpenLocalFile(link.string(), append));
        EXPECT_EQ(client.LastError(), uint32_t{ELOOP});
        EXPECT_EQ(client.LocalFile(), -1);
    }
    EXPECT_EQ(box.Read("victim.txt"), "keep me");

    EXPECT_FALSE(client.OpenLocalFile((box.Path() / "no" / "folder.pak").string(), false));
    EXPECT_EQ(client.LastError(), uint32_t{ENOENT});
    EXPECT_FALSE(client.OpenLocalFile(box.Path().string(), true));
    EXPECT_EQ(client.LastError(), uint32_t{EISDIR});
}

}  // namespace
