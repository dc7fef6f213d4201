#include "support/fault_server.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <linux/sockios.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <stdexcept>

namespace {

using Clock = std::chrono::steady_clock;

constexpr size_t kMaxHead = 64 * 1024;
constexpr int kIdleTimeoutMs = 60000;
constexpr int kLingerMs = 1000;
constexpr size_t kSendPiece = 64 * 1024;
constexpr uint64_t kEndlessLength = 1ull << 40;

bool EqualsNoCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) ==
                      std::tolower(static_cast<unsigned char>(y));
           });
}

std::string_view Trim(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) {
        text.remove_prefix(1);
    }
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) {
        text.remove_suffix(1);
    }
    return text;
}

bool ParseNumber(std::string_view text, uint64_t* value) {
    if (text.empty() || text.size() > 19) {
        return false;
    }
    uint64_t v = 0;
    for (char c : text) {
        if (c < '0' || c > '9') {
            return false;
        }
        v = v * 10 + static_cast<uint64_t>(c - '0');
    }
    *value = v;
    return true;
}

// A single "bytes=FIRST-" or "bytes=FIRST-LAST"; anything else is treated as no range.
bool ParseRange(std::string_view value, uint64_t* first, std::optional<uint64_t>* last) {
    value = Trim(value);
    if (value.size() < 6 || !EqualsNoCase(value.substr(0, 6), "bytes=")) {
        return false;
    }
    value = Trim(value.substr(6));
    size_t dash = value.find('-');
    if (dash == std::string_view::npos || !ParseNumber(Trim(value.substr(0, dash)), first)) {
        return false;
    }
    std::string_view tail = Trim(value.substr(dash + 1));
    if (tail.empty()) {
        last->reset();
        return true;
    }
    uint64_t end = 0;
    if (!ParseNumber(tail, &end) || end < *first) {
        return false;
    }
    *last = end;
    return true;
}

const char* ReasonFor(int status) {
    switch (status) {
        case 200:
            return "OK";
        case 204:
            return "No Content";
        case 206:
            return "Partial Content";
        case 301:
            return "Moved Permanently";
        case 302:
            return "Found";
        case 303:
            return "See Other";
        case 304:
            return "Not Modified";
        case 307:
            return "Temporary Redirect";
        case 308:
            return "Permanent Redirect";
        case 400:
            return "Bad Request";
        case 401:
            return "Unauthorized";
        case 403:
            return "Forbidden";
        case 404:
            return "Not Found";
        case 416:
            return "Requested Range Not Satisfiable";
        case 500:
            return "Internal Server Error";
        case 502:
            return "Bad Gateway";
        case 503:
            return "Service Unavailable";
        default:
            return "Status";
    }
}

std::string Hex(size_t n) {
    char buf[32];
    snprintf(buf, sizeof(buf), "%zx", n);
    return buf;
}

std::string ChunkEncode(std::string_view data, size_t chunkSize) {
    std::string out;
    for (size_t pos = 0; pos < data.size(); pos += chunkSize) {
        std::string_view piece = data.substr(pos, chunkSize);
        out += Hex(piece.size()) + "\r\n";
        out.append(piece);
        out += "\r\n";
    }
    return out;
}

bool HasHeaderNamed(const std::vector<std::pair<std::string, std::string>>& headers,
                    std::string_view name) {
    return std::any_of(headers.begin(), headers.end(),
                       [&](const auto& h) { return EqualsNoCase(h.first, name); });
}

}  // namespace

bool FaultRequest::HasHeader(std::string_view name) const {
    return HeaderCount(name) > 0;
}

std::string FaultRequest::Header(std::string_view name) const {
    for (const auto& [key, value] : headers) {
        if (EqualsNoCase(key, name)) {
            return value;
        }
    }
    return {};
}

size_t FaultRequest::HeaderCount(std::string_view name) const {
    return static_cast<size_t>(std::count_if(headers.begin(), headers.end(), [&](const auto& h) {
        return EqualsNoCase(h.first, name);
    }));
}

FaultServer::FaultServer() {
    if (pipe2(m_wake, O_CLOEXEC | O_NONBLOCK) != 0) {
        throw std::runtime_error(std::string("pipe2: ") + std::strerror(errno));
    }
    m_listenFd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof(addr);
    if (m_listenFd < 0 || bind(m_listenFd, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) != 0 ||
        listen(m_listenFd, 128) != 0 ||
        getsockname(m_listenFd, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
        int err = errno;
        if (m_listenFd >= 0) {
            close(m_listenFd);
        }
        close(m_wake[0]);
        close(m_wake[1]);
        throw std::runtime_error(std::string("fault server listen: ") + std::strerror(err));
    }
    m_port = ntohs(addr.sin_port);
    m_acceptThread = std::thread([this] { AcceptLoop(); });
}

FaultServer::~FaultServer() {
    Stop();
}

std::string FaultServer::BaseUrl() const {
    return "http://127.0.0.1:" + std::to_string(m_port) + "/";
}

std::string FaultServer::Url(std::string_view path) const {
    while (!path.empty() && path.front() == '/') {
        path.remove_prefix(1);
    }
    return BaseUrl() + std::string(path);
}

void FaultServer::SetRoute(const std::string& path, FaultRoute route) {
    std::vector<FaultRoute> one;
    one.push_back(std::move(route));
    SetRouteSequence(path, std::move(one));
}

void FaultServer::SetRouteSequence(const std::string& path, std::vector<FaultRoute> behaviours) {
    RouteState state;
    for (auto& route : behaviours) {
        state.behaviours.push_back(std::make_shared<const FaultRoute>(std::move(route)));
    }
    std::lock_guard<std::mutex> lock(m_mutex);
    m_routes[path] = std::move(state);
}

void FaultServer::RemoveRoute(const std::string& path) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_routes.erase(path);
}

size_t FaultServer::Hits(const std::string& path) const {
    std::lock_guard<std::mutex> lock(m_mutex);
    auto it = m_routes.find(path);
    return it == m_routes.end() ? 0 : it->second.hits;
}

std::vector<FaultRequest> FaultServer::Requests() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_requests;
}

std::vector<FaultRequest> FaultServer::WaitForRequests(size_t count, int timeoutMs) const {
    std::unique_lock<std::mutex> lock(m_mutex);
    m_requestArrived.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                              [&] { return m_requests.size() >= count; });
    return m_requests;
}

uint64_t FaultServer::ConnectionCount() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_connectionCount;
}

void FaultServer::Stop() {
    if (m_stopped) {
        return;
    }
    m_stopped = true;
    m_stopping = true;
    const char byte = 'x';
    (void)!write(m_wake[1], &byte, 1);
    m_acceptThread.join();
    if (m_listenFd >= 0) {
        close(m_listenFd);
    }
    m_listenFd = -1;
    for (auto& connection : m_connections) {
        connection.thread.join();
    }
    m_connections.clear();
    close(m_wake[0]);
    close(m_wake[1]);
}

FaultServer::Wait FaultServer::WaitFd(int fd, short events, int timeoutMs) const {
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (true) {
        if (m_stopping) {
            return Wait::Stopped;
        }
        int wait = -1;
        if (timeoutMs >= 0) {
            auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
            if (left.count() <= 0) {
                return Wait::Timeout;
            }
            wait = static_cast<int>(left.count());
        }
        pollfd fds[2] = {{m_wake[0], POLLIN, 0}, {fd, events, 0}};
        int n = poll(fds, fd >= 0 ? 2 : 1, wait);
        if (n < 0 && errno != EINTR) {
            return Wait::Stopped;
        }
        if (fds[0].revents) {
            return Wait::Stopped;
        }
        if (n > 0 && fd >= 0 && fds[1].revents) {
            return Wait::Ready;  // also on error or hang-up: the next call reports it
        }
    }
}

void FaultServer::ReleaseHeld() {
    m_released = true;
}

bool FaultServer::Pause(int ms) const {
    return ms <= 0 ? !m_stopping : WaitFd(-1, 0, ms) == Wait::Timeout;
}

bool FaultServer::SendAll(int fd, std::string_view data) const {
    while (!data.empty()) {
        ssize_t n = send(fd, data.data(), data.size(), MSG_NOSIGNAL);
        if (n > 0) {
            data.remove_prefix(static_cast<size_t>(n));
        } else if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            if (WaitFd(fd, POLLOUT, -1) != Wait::Ready) {
                return false;
            }
        } else if (n < 0 && errno == EINTR) {
            continue;
        } else {
            return false;
        }
    }
    return true;
}

void FaultServer::CloseGracefully(int fd) const {
    // Unread input at close() would turn the FIN into a reset: drain it for a moment.
    shutdown(fd, SHUT_WR);
    const auto deadline = Clock::now() + std::chrono::milliseconds(kLingerMs);
    char buf[4096];
    while (Clock::now() < deadline) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (WaitFd(fd, POLLIN, static_cast<int>(std::max<int64_t>(1, left.count()))) !=
            Wait::Ready) {
            break;
        }
        ssize_t n = recv(fd, buf, sizeof(buf), 0);
        if (n == 0 || (n < 0 && errno != EAGAIN && errno != EINTR)) {
            break;
        }
    }
    close(fd);
}

bool FaultServer::StopListening() {
    return ChangeListening(false);
}

bool FaultServer::ListenAgain() {
    return ChangeListening(true);
}

bool FaultServer::ChangeListening(bool listen) {
    m_wantListening = listen;
    std::unique_lock<std::mutex> lock(m_mutex);
    return m_listeningChanged.wait_for(lock, std::chrono::seconds(5),
                                       [&] { return m_listening == listen; });
}

void FaultServer::FollowListening() {
    const bool want = m_wantListening.load();
    if (want == (m_listenFd >= 0)) {
        return;
    }
    if (!want) {
        close(m_listenFd);
        m_listenFd = -1;
    } else {
        // The same port again; SO_REUSEADDR lets it past the closed connections' TIME_WAIT.
        const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
        const int one = 1;
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        addr.sin_port = htons(m_port);
        if (fd < 0 || setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof(one)) != 0 ||
            bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) != 0 ||
            listen(fd, 128) != 0) {
            if (fd >= 0) {
                close(fd);
            }
            return;  // tried again on the next turn
        }
        m_listenFd = fd;
    }
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_listening = m_listenFd >= 0;
    }
    m_listeningChanged.notify_all();
}

void FaultServer::AcceptLoop() {
    for (;;) {
        FollowListening();
        // A short poll, so a change of listening is seen soon.
        const Wait wait = WaitFd(m_listenFd, POLLIN, 50);
        if (wait == Wait::Stopped) {
            break;
        }
        if (wait == Wait::Timeout || m_listenFd < 0) {
            continue;
        }
        int fd = accept4(m_listenFd, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
        if (fd < 0) {
            continue;
        }
        // Small writes (trickles, stalls mid-body) must leave at once.
        int one = 1;
        setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof(one));
        uint64_t serial;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            serial = ++m_connectionCount;
        }
        m_connections.remove_if([](Connection& c) {
            if (!*c.done) {
                return false;
            }
            c.thread.join();
            return true;
        });
        auto done = std::make_shared<std::atomic<bool>>(false);
        m_connections.push_back({std::thread([this, fd, serial, done] {
                                     Serve(fd, serial);
                                     *done = true;
                                 }),
                                 done});
    }
}

std::shared_ptr<const FaultRoute> FaultServer::TakeRoute(const std::string& path) {
    std::lock_guard<std::mutex> lock(m_mutex);
    auto it = m_routes.find(path);
    if (it == m_routes.end() || it->second.behaviours.empty()) {
        return nullptr;
    }
    RouteState& state = it->second;
    size_t index = std::min(state.hits, state.behaviours.size() - 1);
    ++state.hits;
    return state.behaviours[index];
}

void FaultServer::Serve(int fd, uint64_t serial) {
    std::string pending;
    Ending ending = Ending::Close;
    char buf[16 * 1024];
    for (size_t index = 0;; ++index) {
        size_t headEnd;
        bool readFailed = false;
        while ((headEnd = pending.find("\r\n\r\n")) == std::string::npos) {
            if (pending.size() > kMaxHead || WaitFd(fd, POLLIN, kIdleTimeoutMs) != Wait::Ready) {
                readFailed = true;
                break;
            }
            ssize_t n = recv(fd, buf, sizeof(buf), 0);
            if (n < 0 && (errno == EAGAIN || errno == EINTR)) {
                continue;
            }
            if (n <= 0) {
                readFailed = true;
                break;
            }
            pending.append(buf, static_cast<size_t>(n));
        }
        if (readFailed) {
            ending = Ending::Close;
            break;
        }

        FaultRequest request;
        request.connection = serial;
        request.indexOnConnection = index;
        std::string_view head(pending.data(), headEnd);
        size_t lineEnd = head.find("\r\n");
        std::string_view requestLine = head.substr(0, lineEnd);
        size_t sp1 = requestLine.find(' ');
        size_t sp2 = sp1 == std::string_view::npos ? sp1 : requestLine.find(' ', sp1 + 1);
        if (sp2 == std::string_view::npos) {
            SendAll(fd,
                    "HTTP/1.1 400 Bad Request\r\nContent-Length: 0\r\nConnection: close\r\n\r\n");
            ending = Ending::Close;
            break;
        }
        request.method = requestLine.substr(0, sp1);
        request.target = requestLine.substr(sp1 + 1, sp2 - sp1 - 1);
        request.version = requestLine.substr(sp2 + 1);
        request.path = request.target.substr(0, request.target.find('?'));
        while (lineEnd != std::string_view::npos) {
            size_t start = lineEnd + 2;
            lineEnd = head.find("\r\n", start);
            std::string_view line = head.substr(start, lineEnd - start);
            request.headerLines.emplace_back(line);
            size_t colon = line.find(':');
            if (colon != std::string_view::npos) {
                request.headers.emplace_back(std::string(Trim(line.substr(0, colon))),
                                             std::string(Trim(line.substr(colon + 1))));
            }
        }
        pending.erase(0, headEnd + 4);

        // A request body is read and dropped; one framed in a way this server does not parse
        // leaves the connection unusable.
        bool bodyOk = !request.HasHeader("Transfer-Encoding");
        uint64_t bodyLength = 0;
        if (request.HasHeader("Content-Length") &&
            !ParseNumber(request.Header("Content-Length"), &bodyLength)) {
            bodyOk = false;
        }
        while (bodyOk && bodyLength > 0) {
            if (!pending.empty()) {
                size_t take = static_cast<size_t>(std::min<uint64_t>(bodyLength, pending.size()));
                pending.erase(0, take);
                bodyLength -= take;
                continue;
            }
            if (WaitFd(fd, POLLIN, kIdleTimeoutMs) != Wait::Ready) {
                bodyOk = false;
                break;
            }
            ssize_t n = recv(fd, buf, sizeof(buf), 0);
            if (n < 0 && (errno == EAGAIN || errno == EINTR)) {
                continue;
            }
            if (n <= 0) {
                bodyOk = false;
                break;
            }
            pending.append(buf, static_cast<size_t>(n));
        }

        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_requests.push_back(request);
        }
        m_requestArrived.notify_all();

        std::shared_ptr<const FaultRoute> route = TakeRoute(request.path);
        if (!route) {
            static const FaultRoute kNotFound = [] {
                FaultRoute r;
                r.status = 404;
                r.body = "<html><body><h1>404 Not Found</h1></body></html>\r\n";
                r.headers = {{"Content-Type", "text/html"}};
                return r;
            }();
            route = std::shared_ptr<const FaultRoute>(&kNotFound, [](const FaultRoute*) {});
        }
        ending = Respond(fd, request, *route);
        if (!bodyOk && ending == Ending::KeepAlive) {
            ending = Ending::Close;
        }
        if (ending != Ending::KeepAlive) {
            break;
        }
    }

    if (ending == Ending::Reset) {
        linger hard{1, 0};
        setsockopt(fd, SOL_SOCKET, SO_LINGER, &hard, sizeof(hard));
        close(fd);
    } else if (m_stopping) {
        close(fd);
    } else {
        CloseGracefully(fd);
    }
}

FaultServer::Ending FaultServer::Respond(int fd, const FaultRequest& request,
                                         const FaultRoute& route) {
    if (route.neverAnswer) {
        // Keep the socket until shutdown or until the client gives up.
        char buf[4096];
        while (WaitFd(fd, POLLIN, -1) == Wait::Ready) {
            ssize_t n = recv(fd, buf, sizeof(buf), 0);
            if (n == 0 || (n < 0 && errno != EAGAIN && errno != EINTR)) {
                break;
            }
        }
        return Ending::Close;
    }

    const std::string connectionHeader = request.Header("Connection");
    bool keepAlive = request.version == "HTTP/1.0" ? EqualsNoCase(connectionHeader, "keep-alive")
                                                   : !EqualsNoCase(connectionHeader, "close");
    const bool faulty = route.cutAfter || route.resetAfter || route.endless ||
                        route.brokenChunked || route.declaredLength;
    const bool announceClose = !keepAlive || route.closeAfter ||
                               route.length == FaultRoute::Length::None || route.declaredLength;

    // Pick the status and the slice of the body to send.
    int status = route.status;
    std::string_view body = route.body;
    std::string contentRange;
    uint64_t first = 0;
    std::optional<uint64_t> last;
    if (status == 200 && !route.ignoreRange && !route.endless && request.HasHeader("Range") &&
        ParseRange(request.Header("Range"), &first, &last)) {
        const uint64_t size = route.body.size();
        if (route.contentRangeStartOverride) {
            first = std::min<uint64_t>(*route.contentRangeStartOverride, size);
            last.reset();
        }
        if (first >= size && !route.contentRangeStartOverride) {
            status = 416;
            body = route.rangeNotSatisfiableBody;
            contentRange = "bytes */" + std::to_string(size);
        } else {
            uint64_t end = size == 0 ? 0 : std::min<uint64_t>(last.value_or(size - 1), size - 1);
            status = 206;
            body = body.substr(first, end + 1 - first);
            contentRange = "bytes " + std::to_string(first) + "-" + std::to_string(end) + "/" +
                           std::to_string(size);
        }
    }

    // Frame the body.
    std::string owned;
    std::string_view wire = body;
    std::string lengthHeaders;
    const bool chunked = route.length == FaultRoute::Length::Chunked;
    if (route.endless) {
        owned = route.body.empty() ? std::string(4096, 'x') : route.body;
        if (chunked) {
            owned = Hex(owned.size()) + "\r\n" + owned + "\r\n";
        }
        wire = owned;
    } else if (route.brokenChunked) {
        const size_t firstChunk = std::min(route.chunkSize, body.size() / 2);
        owned = ChunkEncode(body.substr(0, firstChunk), route.chunkSize) + "zz;not-a-size\r\n";
        owned.append(body.substr(firstChunk));
        wire = owned;
    } else if (chunked) {
        owned = ChunkEncode(body, std::max<size_t>(1, route.chunkSize)) + "0\r\n\r\n";
        wire = owned;
    }
    if (chunked || route.brokenChunked) {
        lengthHeaders += "Transfer-Encoding: chunked\r\n";
    }
    if (route.declaredLength) {
        lengthHeaders += "Content-Length: " + std::to_string(*route.declaredLength) + "\r\n";
    } else if (route.length == FaultRoute::Length::Exact && !route.brokenChunked) {
        const uint64_t length = route.endless ? kEndlessLength : body.size();
        lengthHeaders += "Content-Length: " + std::to_string(length) + "\r\n";
    }

    std::string head =
        "HTTP/1.1 " + std::to_string(status) + " " +
        (route.reason.empty() || status != route.status ? ReasonFor(status) : route.reason) +
        "\r\n";
    if (!HasHeaderNamed(route.headers, "Content-Type")) {
        head += status == 416 ? "Content-Type: text/html\r\n"
                              : "Content-Type: application/octet-stream\r\n";
    }
    head += lengthHeaders;
    if (!contentRange.empty()) {
        head += "Content-Range: " + contentRange + "\r\n";
    }
    if (!route.location.empty()) {
        head += "Location: " + route.location + "\r\n";
    }
    if (announceClose) {
        head += "Connection: close\r\n";
    } else if (request.version == "HTTP/1.0") {
        head += "Connection: keep-alive\r\n";
    }
    for (const auto& [name, value] : route.headers) {
        head += name + ": " + value + "\r\n";
    }
    head += "\r\n";

    while (route.holdUntilReleased && !m_released) {
        if (!Pause(5)) {
            return Ending::Close;
        }
    }
    if (!Pause(route.stallBeforeHeadersMs) || !SendAll(fd, head)) {
        return Ending::Close;
    }
    if (request.method == "HEAD" || status == 204 || status == 304) {
        return announceClose || faulty ? Ending::Close : Ending::KeepAlive;
    }
    if (!Pause(route.stallBeforeBodyMs) || !SendBody(fd, wire, route.endless, route)) {
        return Ending::Close;
    }
    if (route.resetAfter) {
        return Ending::Reset;
    }
    return announceClose || faulty ? Ending::Close : Ending::KeepAlive;
}

bool FaultServer::SendBody(int fd, std::string_view wire, bool endless, const FaultRoute& route) {
    uint64_t limit = UINT64_MAX;
    if (route.cutAfter) {
        limit = std::min(limit, *route.cutAfter);
    }
    if (route.resetAfter) {
        limit = std::min(limit, *route.resetAfter);
    }
    if (!endless) {
        limit = std::min<uint64_t>(limit, wire.size());
    }
    size_t piece = kSendPiece;
    int pieceDelayMs = 0;
    if (route.trickleBytesPerSecond > 0) {
        // About ten writes a second, one byte at a time for slow rates.
        const uint64_t rate = static_cast<uint64_t>(route.trickleBytesPerSecond);
        piece = static_cast<size_t>(std::max<uint64_t>(1, rate / 10));
        pieceDelayMs = static_cast<int>(piece * 1000 / rate);
    }

    uint64_t sent = 0;
    bool stalled = false;
    while (sent < limit) {
        uint64_t n = std::min<uint64_t>(limit - sent, piece);
        if (route.stallAfterBytes && !stalled && *route.stallAfterBytes > sent) {
            n = std::min<uint64_t>(n, *route.stallAfterBytes - sent);
        }
        const size_t offset =
            endless ? static_cast<size_t>(sent % wire.size()) : static_cast<size_t>(sent);
        n = std::min<uint64_t>(n, wire.size() - offset);
        if (!SendAll(fd, wire.substr(offset, static_cast<size_t>(n)))) {
            return false;
        }
        sent += n;
        if (route.stallAfterBytes && !stalled && sent >= *route.stallAfterBytes) {
            stalled = true;
            if (!Pause(route.stallMs)) {
                return false;
            }
        }
        if (pieceDelayMs > 0 && sent < limit && !Pause(pieceDelayMs)) {
            return false;
        }
    }
    if (route.resetAfter) {
        // A reset drops whatever is still queued: let the sent bytes reach the client first.
        const auto deadline = Clock::now() + std::chrono::milliseconds(2000);
        int queued = 0;
        while (ioctl(fd, SIOCOUTQ, &queued) == 0 && queued > 0 && Clock::now() < deadline) {
            if (!Pause(2)) {
                return false;
            }
        }
    }
    return true;
}
