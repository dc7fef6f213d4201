// A loopback server for https addresses that never completes a TLS handshake: it takes what a
// client sends first (its hello) and then resets the connection, or answers in plain HTTP as
// a server without TLS on that port would. Every connection until it is destroyed.
// Thread: the test's thread owns it; connections are served on a thread of its own.
#pragma once

#include <cstdint>
#include <string>
#include <thread>

class HelloBreaker {
public:
    enum class Mode { Reset, PlainHttp };

    // Throws when it cannot listen.
    explicit HelloBreaker(Mode mode);
    ~HelloBreaker();
    HelloBreaker(const HelloBreaker&) = delete;
    HelloBreaker& operator=(const HelloBreaker&) = delete;

    // https://127.0.0.1:port/
    std::string BaseUrl() const;

private:
    void Serve();

    const Mode m_mode;
    int m_listen = -1;
    uint16_t m_port = 0;
    std::thread m_thread;
};
