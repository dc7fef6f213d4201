// An in-process HTTP/1.1 server on a free loopback port that misbehaves on request.
// Thread: any thread may set routes and read the recorded requests; the server runs one accept
// thread and one thread per connection, all woken and joined by Stop() or the destructor.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <list>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

// How one response to a route is produced. Byte counts in the fault fields count body bytes as
// they go on the wire (chunk framing included when chunked).
struct FaultRoute {
    enum class Length {
        Exact,    // Content-Length of the body sent (unless declaredLength overrides it)
        None,     // no length and "Connection: close": the body ends when the connection does
        Chunked,  // Transfer-Encoding: chunked, in chunks of chunkSize
    };

    std::string body;
    int status = 200;
    std::string reason;    // empty: the usual text for the status
    std::string location;  // sent as a Location header when not empty (redirects)
    std::vector<std::pair<std::string, std::string>> headers;  // added verbatim, in order

    Length length = Length::Exact;
    size_t chunkSize = 4096;
    // Announces this Content-Length whatever is sent (also next to chunked encoding), then
    // closes: more than the body gives a cut-short transfer, less gives extra bytes.
    std::optional<uint64_t> declaredLength;

    std::optional<uint64_t> cutAfter;    // send this many body bytes, then FIN
    std::optional<uint64_t> resetAfter;  // send this many body bytes, then RST
    int stallBeforeHeadersMs = 0;
    // Sends nothing until FaultServer::ReleaseHeld(): the test changes the world in between.
    bool holdUntilReleased = false;
    int stallBeforeBodyMs = 0;                // after the headers went out
    std::optional<uint64_t> stallAfterBytes;  // pause stallMs once this many bytes went out
    int stallMs = 0;
    int trickleBytesPerSecond = 0;  // 0: as fast as the client reads
    bool neverAnswer = false;       // read the request, then say nothing until shutdown
    // The body repeats without end (body, or filler when empty): chunked it never ends,
    // otherwise it runs past a Content-Length of declaredLength or 1 TiB.
    bool endless = false;
    bool brokenChunked = false;  // an invalid chunk-size line after the first chunk, then close

    // Range requests ("bytes=N-" or "bytes=N-M") against a 200 route are answered with 206,
    // or 416 with "Content-Range: bytes */size" when N is past the end.
    bool ignoreRange = false;                           // answer 200 with the whole body anyway
    std::optional<uint64_t> contentRangeStartOverride;  // 206 from this offset instead
    std::string rangeNotSatisfiableBody =
        "<html><head><title>416 Requested Range Not Satisfiable</title></head><body>"
        "<center><h1>416 Requested Range Not Satisfiable</h1></center></body></html>\r\n";

    bool closeAfter = false;  // close even after a well-formed response
};

// One request as received.
struct FaultRequest {
    std::string method;
    std::string target;                    // request target as sent, query included
    std::string path;                      // target without the query
    std::string version;                   // "HTTP/1.1"
    std::vector<std::string> headerLines;  // raw lines, without CRLF
    std::vector<std::pair<std::string, std::string>> headers;  // name, value without padding
    uint64_t connection = 0;                                   // serial of the connection, from 1
    size_t indexOnConnection = 0;                              // 0 for a connection's first request

    bool HasHeader(std::string_view name) const;
    // The first header of that name (case-insensitive); empty when missing.
    std::string Header(std::string_view name) const;
    size_t HeaderCount(std::string_view name) const;
};

class FaultServer {
public:
    // Listens on 127.0.0.1 at a free port and serves at once; throws on failure.
    FaultServer();
    ~FaultServer();
    FaultServer(const FaultServer&) = delete;
    FaultServer& operator=(const FaultServer&) = delete;

    // Routes match the request path exactly; unknown paths get 404. Setting a route resets
    // its hit count.
    void SetRoute(const std::string& path, FaultRoute route);
    // The 1st request gets behaviours[0], the 2nd behaviours[1], ...; the last one repeats.
    void SetRouteSequence(const std::string& path, std::vector<FaultRoute> behaviours);
    void RemoveRoute(const std::string& path);
    size_t Hits(const std::string& path) const;

    std::vector<FaultRequest> Requests() const;
    // Waits up to timeoutMs until at least count requests arrived, then returns them all.
    std::vector<FaultRequest> WaitForRequests(size_t count, int timeoutMs = 3000) const;
    uint64_t ConnectionCount() const;
    // Lets every response held by holdUntilReleased go on, now and from now on.
    void ReleaseHeld();

    uint16_t Port() const { return m_port; }
    std::string BaseUrl() const;                   // "http://127.0.0.1:PORT/"
    std::string Url(std::string_view path) const;  // BaseUrl() joined with path

    // Closes the port, wakes every stalled or blocked connection and joins all threads.
    void Stop();

    // A server that went away and came back: while not listening, connections to the port are
    // refused (connections already open go on). Each returns once the change is made; false
    // when the port could not be had again within a few seconds.
    bool StopListening();
    bool ListenAgain();

private:
    struct RouteState {
        std::vector<std::shared_ptr<const FaultRoute>> behaviours;
        size_t hits = 0;
    };
    struct Connection {
        std::thread thread;
        std::shared_ptr<std::atomic<bool>> done;
    };
    enum class Ending { KeepAlive, Close, Reset };
    enum class Wait { Ready, Timeout, Stopped };

    void AcceptLoop();
    // Makes the listening socket follow m_wantListening; on the accept thread only.
    void FollowListening();
    bool ChangeListening(bool listen);
    void Serve(int fd, uint64_t serial);
    Ending Respond(int fd, const FaultRequest& request, const FaultRoute& route);
    bool SendBody(int fd, std::string_view wire, bool endless, const FaultRoute& route);
    std::shared_ptr<const FaultRoute> TakeRoute(const std::string& path);

    Wait WaitFd(int fd, short events, int timeoutMs) const;
    bool Pause(int ms) const;
    bool SendAll(int fd, std::string_view data) const;
    void CloseGracefully(int fd) const;

    int m_listenFd = -1;  // the accept thread's after the start; -1 while not listening
    std::atomic<bool> m_wantListening{true};
    bool m_listening = true;  // guarded by m_mutex
    mutable std::condition_variable m_listeningChanged;
    int m_wake[2] = {-1, -1};  // written once on stop and never read: wakes every poll
    uint16_t m_port = 0;
    std::atomic<bool> m_stopping{false};
    std::atomic<bool> m_released{false};
    bool m_stopped = false;
    std::thread m_acceptThread;
    std::list<Connection> m_connections;  // touched by the accept thread, then by Stop

    mutable std::mutex m_mutex;
    mutable std::condition_variable m_requestArrived;
    std::map<std::string, RouteState> m_routes;
    std::vector<FaultRequest> m_requests;
    uint64_t m_connectionCount = 0;
};
