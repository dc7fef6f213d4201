// A real nginx serving a document root on a free loopback port, run as a child process.
// Thread: one test thread owns it; Start, Stop and the destructor run on that thread, which
// must outlive the server (the child is told to stop when the thread that started it ends).
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "support/sandbox.h"

// One access-log entry; header fields are empty when the request did not carry them.
struct NginxRequest {
    std::string method;
    std::string uri;  // as the client sent it, query included
    int status = 0;
    std::string range;
    std::string userAgent;
    std::string cacheControl;
    std::string pragma;
    std::string acceptEncoding;
    uint64_t bytesSent = 0;      // headers and body
    uint64_t bodyBytesSent = 0;  // body only
    uint64_t connection = 0;     // serial number of the connection
    uint64_t connectionRequests = 0;
    bool completed = false;  // nginx finished sending the whole response
    std::string protocol;    // "HTTP/1.1", "HTTP/2.0"
};

class NginxServer {
public:
    explicit NginxServer(std::filesystem::path docRoot);
    ~NginxServer();
    NginxServer(const NginxServer&) = delete;
    NginxServer& operator=(const NginxServer&) = delete;

    // Serves https (HTTP/2 or 1.1) with this certificate and key instead of http; call
    // before Start.
    void UseTls(std::filesystem::path certFile, std::filesystem::path keyFile);
    // Adds nginx directives to the server block (for instance "location = /a { return 302
    // http://...; }"); call before Start.
    void AddServerLines(std::string lines) { m_serverLines += lines + "\n"; }

    // Starts nginx (/usr/sbin/nginx, or $QB_NGINX) and returns once its port accepts
    // connections. On failure returns false, records a test failure and keeps the reason
    // and the error log in ErrorLog(). A start after Stop() takes the same port when it is
    // still free and keeps the access log.
    bool Start();
    // Stops nginx and its worker; safe to call more than once.
    void Stop();

    uint16_t Port() const { return m_port; }
    std::string BaseUrl() const;  // "http://127.0.0.1:PORT/", or https with UseTls
    const std::filesystem::path& DocRoot() const { return m_docRoot; }
    const std::filesystem::path& Prefix() const { return m_prefix.Path(); }

    // What nginx said: the start failure reason, its error log and its standard error.
    std::string ErrorLog() const;

    // Every request logged so far, oldest first.
    std::vector<NginxRequest> Requests() const;
    // nginx logs a request just after its last byte went out, so a client may finish first:
    // waits up to timeoutMs until at least count requests are logged, then returns them all.
    std::vector<NginxRequest> WaitForRequests(size_t count, int timeoutMs = 3000) const;

private:
    enum class Launch { Ready, PortTaken, Failed };

    Launch LaunchOnce(const std::string& binary);
    std::string WriteConfig();
    void Kill();

    std::filesystem::path m_docRoot;
    Sandbox m_prefix;
    uint16_t m_port = 0;
    pid_t m_pid = -1;
    std::string m_failure;
    std::filesystem::path m_certFile;
    std::filesystem::path m_keyFile;
    std::string m_serverLines;
};
