#include "support/hello_breaker.h"

#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

#include "support/loopback.h"

HelloBreaker::HelloBreaker(Mode mode) : m_mode(mode) {
    m_listen = BindLoopback(16, &m_port);
    m_thread = std::thread(&HelloBreaker::Serve, this);
}

HelloBreaker::~HelloBreaker() {
    // Wakes the accept, which then fails and ends the thread.
    ::shutdown(m_listen, SHUT_RDWR);
    m_thread.join();
    ::close(m_listen);
}

std::string HelloBreaker::BaseUrl() const {
    return "https://127.0.0.1:" + std::to_string(m_port) + "/";
}

void HelloBreaker::Serve() {
    for (;;) {
        const int fd = ::accept4(m_listen, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) {
            if (errno == EINTR || errno == ECONNABORTED) {
                continue;
            }
            return;
        }
        char hello[4096];
        if (::recv(fd, hello, sizeof hello, 0) > 0) {
            if (m_mode == Mode::Reset) {
                const linger hard{1, 0};
                ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
            } else {
                static const char kAnswer[] =
                    "HTTP/1.1 400 Bad Request\r\nContent-Length: 0\r\nConnection: close\r\n\r\n";
                ::send(fd, kAnswer, sizeof kAnswer - 1, MSG_NOSIGNAL);
            }
        }
        ::close(fd);
    }
}
