// A loopback port that refuses connections, for "connection refused" cases.
// Thread: the test's thread owns it. The port stays refused while the object lives.
#pragma once

#include <cstdint>
#include <string>

class ClosedPort {
public:
    // Holds a socket bound to 127.0.0.1 that never listens: no one else can take the port,
    // and a connection attempt gets a reset (ECONNREFUSED). Throws on failure.
    ClosedPort();
    ~ClosedPort();
    ClosedPort(const ClosedPort&) = delete;
    ClosedPort& operator=(const ClosedPort&) = delete;

    uint16_t Port() const { return m_port; }
    std::string BaseUrl() const;

private:
    int m_fd = -1;
    uint16_t m_port = 0;
};
