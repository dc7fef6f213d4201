// delay_proxy: a TCP proxy on loopback that makes a local server look far away.
//
// Each byte is held for the one-way delay in each direction, so a request and its answer cost
// one round trip of 2 x delay. Like a TCP window, each direction of a connection has at most
// --window bytes in flight, counted from the moment the proxy takes them from the sender
// until their acknowledgement would be back (delivery + delay): one connection moves at most
// window / round trip. Optional token buckets cap each connection and the sum of all.
//
// The kernel completes a loopback handshake before accept(), so the handshake's round trip is
// charged to the connection's first bytes instead: a new connection's first request reaches
// the server 1.5 round trips after the connect, as it would over a real link.
//
// One thread, epoll (edge-triggered), one timerfd for every deadline. Memory is bounded: one
// ring of --window bytes per direction and connection, at most --max-conns connections.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <signal.h>
#include <sys/epoll.h>
#include <sys/signalfd.h>
#include <sys/socket.h>
#include <sys/timerfd.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cinttypes>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <limits>
#include <memory>
#include <string>
#include <vector>

namespace {

constexpr int64_t kNever = std::numeric_limits<int64_t>::max();
constexpr uint64_t kUnlimited = std::numeric_limits<uint64_t>::max();
// One read takes at most this much, so busy connections take turns.
constexpr uint64_t kMaxRead = 256 * 1024;
constexpr int kReadsPerTurn = 4;
// Reads closer together than this share one delivery time (the later one): keeps the
// schedules short without ever delivering a byte early.
constexpr int64_t kMergeNs = 100 * 1000;

int64_t NowNs() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<int64_t>(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

struct Options {
    sockaddr_storage listen{};
    socklen_t listen_len = 0;
    sockaddr_storage upstream{};
    socklen_t upstream_len = 0;
    int64_t delay_ns = 0;
    uint64_t window = 4u << 20;
    double rate = 0;
    double total_rate = 0;
    size_t max_conns = 256;
    bool handshake = true;
};

// A token bucket; a rate of 0 means no cap.
struct Bucket {
    double rate = 0;
    double burst = 0;
    double tokens = 0;
    int64_t last = 0;

    void Init(double bytes_per_s, int64_t now) {
        rate = bytes_per_s;
        // 20 ms' worth: short enough to shape closely, long enough that a proxy held up by a
        // busy machine loses little of its rate.
        burst = std::max(64.0 * 1024, rate * 0.02);
        tokens = burst;
        last = now;
    }
    void Refill(int64_t now) {
        if (rate > 0 && now > last) {
            tokens = std::min(burst, tokens + rate * static_cast<double>(now - last) / 1e9);
            last = now;
        }
    }
    uint64_t Available() const {
        return rate > 0 ? static_cast<uint64_t>(std::max(0.0, tokens)) : kUnlimited;
    }
    void Take(uint64_t n) {
        if (rate > 0) {
            tokens -= static_cast<double>(n);
        }
    }
    // When a read of a useful size becomes possible.
    int64_t ReadyAt(int64_t now) const {
        if (rate <= 0) {
            return now;
        }
        const double want = std::min(burst, 64.0 * 1024);
        if (tokens >= want) {
            return now;
        }
        return now + static_cast<int64_t>(std::ceil((want - tokens) / rate * 1e9));
    }
};

struct Mark {
    uint64_t end;    // stream offset the mark covers up to
    int64_t at;      // when
    int64_t opened;  // the first time merged into it: merging stops kMergeNs after it
};

// Adds bytes up to `end` at time `at` to a schedule, merged into the last mark when that was
// opened less than kMergeNs before: no byte moves by more than that.
void Schedule(std::deque<Mark>& marks, uint64_t end, int64_t at) {
    if (!marks.empty() && at - marks.back().opened < kMergeNs) {
        marks.back().end = end;
        marks.back().at = at;
    } else {
        marks.push_back(Mark{end, at, at});
    }
}

struct Conn;

struct Side {
    Conn* conn = nullptr;
    int fd = -1;
    bool readable = false;
    bool writable = false;
};

// One direction of a connection: bytes read from `from`, held, then written to `to`.
struct Flow {
    std::unique_ptr<char[]> ring;
    uint64_t read = 0;   // bytes taken from the sender
    uint64_t sent = 0;   // bytes handed to the receiver
    uint64_t acked = 0;  // bytes whose acknowledgement is back
    uint64_t due = 0;    // bytes whose delivery time has come
    std::deque<Mark> deliveries;
    std::deque<Mark> acks;
    bool eof = false;
    int64_t eof_at = 0;
    bool shut = false;
    Bucket bucket;
    double vtag = 0;  // where this flow's next bytes start in the fair queue
};

struct Conn {
    Side client;
    Side upstream;
    bool connected = false;
    bool dead = false;
    int64_t accepted_at = 0;
    Flow up;    // client to server
    Flow down;  // server to client
};

struct Stats {
    uint64_t accepted = 0;
    uint64_t refused = 0;
    uint64_t failed = 0;
    uint64_t bytes_up = 0;
    uint64_t bytes_down = 0;
    size_t peak_conns = 0;
    uint64_t peak_in_flight = 0;
};

class Proxy {
public:
    explicit Proxy(const Options& options) : options_(options) {}
    int Run();

private:
    enum Tag : uintptr_t { kListener = 1, kSignal = 2, kTimer = 3 };

    bool Setup();
    void Accept(int64_t now);
    void CheckConnected(Conn& conn);
    int64_t Pump(Conn& conn, int64_t now);
    int64_t PumpFlow(Conn& conn, Flow& flow, Side& from, Side& to, bool up, int64_t now);
    bool WriteDue(Conn& conn, Flow& flow, Side& to, bool up, int64_t now);
    void Kill(Conn& conn, bool reset);
    void ArmTimer(int64_t at);
    void Shutdown();

    Options options_;
    int epoll_ = -1;
    int listener_ = -1;
    int signal_ = -1;
    int timer_ = -1;
    int64_t armed_ = kNever;
    size_t turn_ = 0;
    std::vector<Conn*> order_;
    // Virtual time of the total cap's fair queue, in bytes; answers are what it orders.
    double vtime_up_ = 0;
    double vtime_down_ = 0;
    std::vector<std::unique_ptr<Conn>> conns_;
    Bucket total_up_;
    Bucket total_down_;
    Stats stats_;
};

bool AddToEpoll(int epoll, int fd, uint32_t events, void* ptr) {
    epoll_event ev{};
    ev.events = events;
    ev.data.ptr = ptr;
    return epoll_ctl(epoll, EPOLL_CTL_ADD, fd, &ev) == 0;
}

void SetNoDelay(int fd) {
    const int one = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
}

bool Proxy::Setup() {
    sigset_t mask;
    sigemptyset(&mask);
    sigaddset(&mask, SIGTERM);
    sigaddset(&mask, SIGINT);
    sigprocmask(SIG_BLOCK, &mask, nullptr);
    signal(SIGPIPE, SIG_IGN);
    signal_ = signalfd(-1, &mask, SFD_NONBLOCK | SFD_CLOEXEC);
    timer_ = timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC);
    epoll_ = epoll_create1(EPOLL_CLOEXEC);
    listener_ = socket(options_.listen.ss_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (signal_ < 0 || timer_ < 0 || epoll_ < 0 || listener_ < 0) {
        std::perror("delay_proxy: setup");
        return false;
    }
    const int one = 1;
    setsockopt(listener_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    if (bind(listener_, reinterpret_cast<sockaddr*>(&options_.listen), options_.listen_len) != 0 ||
        listen(listener_, 512) != 0) {
        std::perror("delay_proxy: listen");
        return false;
    }
    if (!AddToEpoll(epoll_, listener_, EPOLLIN, reinterpret_cast<void*>(kListener)) ||
        !AddToEpoll(epoll_, signal_, EPOLLIN, reinterpret_cast<void*>(kSignal)) ||
        !AddToEpoll(epoll_, timer_, EPOLLIN, reinterpret_cast<void*>(kTimer))) {
        std::perror("delay_proxy: epoll");
        return false;
    }
    const int64_t now = NowNs();
    total_up_.Init(options_.total_rate, now);
    total_down_.Init(options_.total_rate, now);
    return true;
}

void Proxy::Accept(int64_t now) {
    for (;;) {
        const int fd = accept4(listener_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd < 0) {
            if (errno == EINTR || errno == ECONNABORTED) {
                continue;
            }
            return;  // EAGAIN, or out of descriptors: the client waits in the backlog
        }
        if (conns_.size() >= options_.max_conns) {
            ++stats_.refused;
            close(fd);
            continue;
        }
        const int up =
            socket(options_.upstream.ss_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        if (up < 0) {
            ++stats_.failed;
            close(fd);
            continue;
        }
        SetNoDelay(fd);
        SetNoDelay(up);
        auto conn = std::make_unique<Conn>();
        conn->client = Side{conn.get(), fd, false, true};
        conn->upstream = Side{conn.get(), up, false, false};
        conn->accepted_at = now;
        conn->up.bucket.Init(options_.rate, now);
        conn->down.bucket.Init(options_.rate, now);
        const int rc =
            connect(up, reinterpret_cast<sockaddr*>(&options_.upstream), options_.upstream_len);
        if (rc == 0) {
            conn->connected = true;
            conn->upstream.writable = true;
        } else if (errno != EINPROGRESS) {
            ++stats_.failed;
            close(fd);
            close(up);
            continue;
        }
        const uint32_t events = EPOLLIN | EPOLLOUT | EPOLLRDHUP | EPOLLET;
        if (!AddToEpoll(epoll_, fd, events, &conn->client) ||
            !AddToEpoll(epoll_, up, events, &conn->upstream)) {
            ++stats_.failed;
            close(fd);
            close(up);
            continue;
        }
        ++stats_.accepted;
        conns_.push_back(std::move(conn));
        stats_.peak_conns = std::max(stats_.peak_conns, conns_.size());
    }
}

void Proxy::CheckConnected(Conn& conn) {
    int error = 0;
    socklen_t len = sizeof error;
    if (getsockopt(conn.upstream.fd, SOL_SOCKET, SO_ERROR, &error, &len) != 0 || error != 0) {
        ++stats_.failed;
        Kill(conn, true);
        return;
    }
    conn.connected = true;
}

// Ends a connection; after a failure both ends see a reset, as they would from a router
// that lost the connection.
void Proxy::Kill(Conn& conn, bool reset) {
    if (conn.dead) {
        return;
    }
    for (Side* side : {&conn.client, &conn.upstream}) {
        if (reset) {
            const linger lin{1, 0};
            setsockopt(side->fd, SOL_SOCKET, SO_LINGER, &lin, sizeof lin);
        }
        close(side->fd);
        side->fd = -1;
    }
    conn.dead = true;
}

bool Proxy::WriteDue(Conn& conn, Flow& flow, Side& to, bool up, int64_t now) {
    while (to.writable && flow.sent < flow.due) {
        const uint64_t cap = options_.window;
        const uint64_t offset = flow.sent % cap;
        const uint64_t len = std::min(flow.due - flow.sent, cap - offset);
        const ssize_t n = send(to.fd, flow.ring.get() + offset, len, MSG_NOSIGNAL);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            if (errno == EAGAIN || errno == EWOULDBLOCK) {
                to.writable = false;
                break;
            }
            Kill(conn, true);
            return false;
        }
        flow.sent += static_cast<uint64_t>(n);
        (up ? stats_.bytes_up : stats_.bytes_down) += static_cast<uint64_t>(n);
        const int64_t at = now + options_.delay_ns;
        if (options_.delay_ns == 0) {
            flow.acked = flow.sent;
        } else {
            Schedule(flow.acks, flow.sent, at);
        }
    }
    return true;
}

int64_t Proxy::PumpFlow(Conn& conn, Flow& flow, Side& from, Side& to, bool up, int64_t now) {
    while (!flow.acks.empty() && flow.acks.front().at <= now) {
        flow.acked = flow.acks.front().end;
        flow.acks.pop_front();
    }
    while (!flow.deliveries.empty() && flow.deliveries.front().at <= now) {
        flow.due = flow.deliveries.front().end;
        flow.deliveries.pop_front();
    }
    if (!WriteDue(conn, flow, to, up, now)) {
        return kNever;
    }
    Bucket& total = up ? total_up_ : total_down_;
    int64_t next = kNever;
    bool window_full = false;
    // The server is not read before it is connected: its answer cannot exist yet.
    const bool may_read = up || conn.connected;
    for (int turn = 0; may_read && from.readable && !flow.eof; ++turn) {
        if (turn == kReadsPerTurn) {
            next = now;  // more to read: come back after the others had their turn
            break;
        }
        const uint64_t in_flight = flow.read - flow.acked;
        if (in_flight >= options_.window) {
            window_full = true;
            break;
        }
        flow.bucket.Refill(now);
        total.Refill(now);
        uint64_t allow = std::min(
            {options_.window - in_flight, kMaxRead, flow.bucket.Available(), total.Available()});
        if (allow == 0) {
            next = std::min(next, std::max(flow.bucket.ReadyAt(now), total.ReadyAt(now)));
            break;
        }
        if (!flow.ring) {
            flow.ring.reset(new char[options_.window]);
        }
        const uint64_t offset = flow.read % options_.window;
        allow = std::min(allow, options_.window - offset);
        const ssize_t n = read(from.fd, flow.ring.get() + offset, allow);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            if (errno == EAGAIN || errno == EWOULDBLOCK) {
                from.readable = false;
                break;
            }
            Kill(conn, true);
            return kNever;
        }
        int64_t at = now + options_.delay_ns;
        if (up && options_.handshake) {
            at = std::max(at, conn.accepted_at + 3 * options_.delay_ns);
        }
        if (n == 0) {
            flow.eof = true;
            flow.eof_at = at;
            break;
        }
        flow.read += static_cast<uint64_t>(n);
        flow.bucket.Take(static_cast<uint64_t>(n));
        total.Take(static_cast<uint64_t>(n));
        if (total.rate > 0) {
            double& vtime = up ? vtime_up_ : vtime_down_;
            const double start = std::max(vtime, flow.vtag);
            vtime = start;
            flow.vtag = start + static_cast<double>(n);
        }
        stats_.peak_in_flight = std::max(stats_.peak_in_flight, flow.read - flow.acked);
        if (at <= now) {
            flow.due = flow.read;
        } else {
            Schedule(flow.deliveries, flow.read, at);
        }
        if (!WriteDue(conn, flow, to, up, now)) {
            return kNever;
        }
    }
    // The sender's end of stream travels like its data.
    const bool to_ready = up ? conn.connected : true;
    if (flow.eof && !flow.shut && to_ready && flow.sent == flow.read) {
        if (now >= flow.eof_at) {
            shutdown(to.fd, SHUT_WR);
            flow.shut = true;
        } else {
            next = std::min(next, flow.eof_at);
        }
    }
    if (!flow.deliveries.empty()) {
        next = std::min(next, flow.deliveries.front().at);
    }
    if (window_full && !flow.acks.empty()) {
        next = std::min(next, flow.acks.front().at);
    }
    return next;
}

int64_t Proxy::Pump(Conn& conn, int64_t now) {
    const int64_t a = PumpFlow(conn, conn.up, conn.client, conn.upstream, true, now);
    if (conn.dead) {
        return kNever;
    }
    const int64_t b = PumpFlow(conn, conn.down, conn.upstream, conn.client, false, now);
    if (conn.dead) {
        return kNever;
    }
    if (conn.up.shut && conn.down.shut) {
        Kill(conn, false);
        return kNever;
    }
    return std::min(a, b);
}

void Proxy::ArmTimer(int64_t at) {
    if (at == armed_) {
        return;
    }
    itimerspec deadline{};
    if (at != kNever) {
        deadline.it_value.tv_sec = at / 1000000000;
        deadline.it_value.tv_nsec = at % 1000000000;
    }
    timerfd_settime(timer_, TFD_TIMER_ABSTIME, &deadline, nullptr);
    armed_ = at;
}

void Proxy::Shutdown() {
    for (auto& conn : conns_) {
        Kill(*conn, false);
    }
    conns_.clear();
    close(listener_);
    close(timer_);
    close(signal_);
    close(epoll_);
    std::fprintf(stderr,
                 "delay_proxy: %" PRIu64 " connections (%" PRIu64 " refused, %" PRIu64
                 " failed), peak %zu at once; %" PRIu64 " bytes up, %" PRIu64
                 " bytes down; peak in flight %" PRIu64 " bytes\n",
                 stats_.accepted, stats_.refused, stats_.failed, stats_.peak_conns, stats_.bytes_up,
                 stats_.bytes_down, stats_.peak_in_flight);
}

int Proxy::Run() {
    if (!Setup()) {
        return 1;
    }
    {
        sockaddr_storage bound{};
        socklen_t len = sizeof bound;
        getsockname(listener_, reinterpret_cast<sockaddr*>(&bound), &len);
        const int port = bound.ss_family == AF_INET
                             ? ntohs(reinterpret_cast<sockaddr_in*>(&bound)->sin_port)
                             : ntohs(reinterpret_cast<sockaddr_in6*>(&bound)->sin6_port);
        std::fprintf(stderr, "delay_proxy: listening on port %d\n", port);
    }
    std::vector<epoll_event> events(256);
    bool busy = false;
    for (;;) {
        const int n =
            epoll_wait(epoll_, events.data(), static_cast<int>(events.size()), busy ? 0 : -1);
        if (n < 0 && errno != EINTR) {
            std::perror("delay_proxy: epoll_wait");
            Shutdown();
            return 1;
        }
        const int64_t now = NowNs();
        for (int i = 0; i < n; ++i) {
            const auto tag = reinterpret_cast<uintptr_t>(events[i].data.ptr);
            if (tag == kSignal) {
                Shutdown();
                return 0;
            }
            if (tag == kTimer) {
                uint64_t expirations = 0;
                [[maybe_unused]] const ssize_t r = read(timer_, &expirations, sizeof expirations);
                armed_ = kNever;
                continue;
            }
            if (tag == kListener) {
                Accept(now);
                continue;
            }
            Side& side = *static_cast<Side*>(events[i].data.ptr);
            if (side.conn->dead) {
                continue;
            }
            const uint32_t ev = events[i].events;
            if (ev & (EPOLLIN | EPOLLRDHUP | EPOLLHUP | EPOLLERR)) {
                side.readable = true;
            }
            if (ev & (EPOLLOUT | EPOLLHUP | EPOLLERR)) {
                if (&side == &side.conn->upstream && !side.conn->connected) {
                    CheckConnected(*side.conn);
                }
                side.writable = true;
            }
        }
        // The first connection served takes what the total cap has to give. Under a total cap
        // the one that has had the least goes first (start-time fair queueing), otherwise a
        // different one each time.
        const size_t count = conns_.size();
        order_.clear();
        const size_t first = count > 0 ? turn_++ % count : 0;
        for (size_t i = 0; i < count; ++i) {
            order_.push_back(conns_[(first + i) % count].get());
        }
        if (options_.total_rate > 0) {
            std::stable_sort(order_.begin(), order_.end(), [this](const Conn* a, const Conn* b) {
                return std::max(vtime_down_, a->down.vtag) < std::max(vtime_down_, b->down.vtag);
            });
        }
        int64_t next = kNever;
        for (Conn* conn : order_) {
            if (!conn->dead) {
                next = std::min(next, Pump(*conn, now));
            }
        }
        // Dead connections may still be named by events of this batch: freed only now.
        conns_.erase(
            std::remove_if(conns_.begin(), conns_.end(), [](const auto& c) { return c->dead; }),
            conns_.end());
        busy = next <= now;
        ArmTimer(busy ? kNever : next);
    }
}

// Accepts 127.x.y.z:port, localhost:port and [::1]:port only.
bool ParseLoopback(const std::string& text, sockaddr_storage& out, socklen_t& len) {
    const size_t colon = text.rfind(':');
    if (colon == std::string::npos) {
        return false;
    }
    std::string host = text.substr(0, colon);
    char* end = nullptr;
    const long port = std::strtol(text.c_str() + colon + 1, &end, 10);
    if (*end != '\0' || port < 0 || port > 65535 || colon + 1 == text.size()) {
        return false;
    }
    if (host == "localhost") {
        host = "127.0.0.1";
    }
    out = sockaddr_storage{};
    if (host.size() > 2 && host.front() == '[' && host.back() == ']') {
        auto* a6 = reinterpret_cast<sockaddr_in6*>(&out);
        a6->sin6_family = AF_INET6;
        a6->sin6_port = htons(static_cast<uint16_t>(port));
        if (inet_pton(AF_INET6, host.substr(1, host.size() - 2).c_str(), &a6->sin6_addr) != 1 ||
            !IN6_IS_ADDR_LOOPBACK(&a6->sin6_addr)) {
            return false;
        }
        len = sizeof *a6;
        return true;
    }
    auto* a4 = reinterpret_cast<sockaddr_in*>(&out);
    a4->sin_family = AF_INET;
    a4->sin_port = htons(static_cast<uint16_t>(port));
    if (inet_pton(AF_INET, host.c_str(), &a4->sin_addr) != 1 ||
        (ntohl(a4->sin_addr.s_addr) >> 24) != 127) {
        return false;
    }
    len = sizeof *a4;
    return true;
}

// "20M" is 20,000,000; "4Mi" is 4 x 2^20.
bool ParseAmount(const std::string& text, double& out) {
    char* end = nullptr;
    double value = std::strtod(text.c_str(), &end);
    if (end == text.c_str() || value < 0) {
        return false;
    }
    const std::string unit = end;
    static const std::pair<const char*, double> kUnits[] = {
        {"", 1},    {"k", 1e3},     {"K", 1e3},        {"M", 1e6},
        {"G", 1e9}, {"Ki", 1024.0}, {"Mi", 1048576.0}, {"Gi", 1073741824.0},
    };
    for (const auto& [name, factor] : kUnits) {
        if (unit == name) {
            out = value * factor;
            return true;
        }
    }
    return false;
}

void Usage() {
    std::fprintf(
        stderr,
        "Usage: delay_proxy --listen ADDR:PORT --upstream ADDR:PORT [options]\n"
        "Forwards TCP on loopback, adding a delay in each direction.\n\n"
        "  --delay MS         one-way delay; a round trip costs twice this (default 0)\n"
        "  --window BYTES     bytes in flight per direction of a connection (default 4Mi)\n"
        "  --rate BYTES/S     cap per connection and direction (e.g. 20M; default none)\n"
        "  --total-rate B/S   cap over all connections, per direction (default none)\n"
        "  --max-conns N      connections at once; more are closed at once (default 256)\n"
        "  --no-handshake     do not charge the handshake's round trip to new connections\n\n"
        "Addresses must be loopback: 127.x.y.z, localhost or [::1]. SIGTERM or SIGINT\n"
        "closes every connection, prints totals on stderr and exits 0.\n");
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    bool have_listen = false;
    bool have_upstream = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool has_value = i + 1 < argc;
        double amount = 0;
        if (arg == "--help" || arg == "-h") {
            Usage();
            return 0;
        }
        if (arg == "--no-handshake") {
            options.handshake = false;
        } else if (arg == "--listen" && has_value) {
            have_listen = ParseLoopback(argv[++i], options.listen, options.listen_len);
            if (!have_listen) {
                std::fprintf(stderr, "delay_proxy: --listen needs a loopback ADDR:PORT\n");
                return 2;
            }
        } else if (arg == "--upstream" && has_value) {
            have_upstream = ParseLoopback(argv[++i], options.upstream, options.upstream_len);
            if (!have_upstream) {
                std::fprintf(stderr, "delay_proxy: --upstream needs a loopback ADDR:PORT\n");
                return 2;
            }
        } else if (arg == "--delay" && has_value && ParseAmount(argv[++i], amount)) {
            options.delay_ns = static_cast<int64_t>(amount * 1e6);
        } else if (arg == "--window" && has_value && ParseAmount(argv[++i], amount) &&
                   amount >= 1) {
            options.window = static_cast<uint64_t>(amount);
        } else if (arg == "--rate" && has_value && ParseAmount(argv[++i], amount)) {
            options.rate = amount;
        } else if (arg == "--total-rate" && has_value && ParseAmount(argv[++i], amount)) {
            options.total_rate = amount;
        } else if (arg == "--max-conns" && has_value && ParseAmount(argv[++i], amount) &&
                   amount >= 1) {
            options.max_conns = static_cast<size_t>(amount);
        } else {
            std::fprintf(stderr, "delay_proxy: bad or incomplete option '%s'\n\n", arg.c_str());
            Usage();
            return 2;
        }
    }
    if (!have_listen || !have_upstream) {
        Usage();
        return 2;
    }
    Proxy proxy(options);
    return proxy.Run();
}
