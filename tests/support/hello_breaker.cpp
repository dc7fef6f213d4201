#include "support/hello_breaker.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>

HelloBreaker::HelloBreaker(Mode mode) : m_mode(mode) {
    m_listen = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof addr;
    if (m_listen < 0 || ::bind(m_listen, reinterpret_cast<sockaddr*>(&addr), size) != 0 ||
        ::listen(m_listen, 16) != 0 ||
        ::getsockname(m_listen, reinterpret_cast<sockaddr*>(&addr), &size) != 0) {
        const int error = errno;
        if (m_listen >= 0) {
            ::close(m_listen);
        }
        throw std::runtime_error(std::string("listen on 127.0.0.1: ") + std::strerror(error));
    }
    m_port = ntohs(addr.sin_port);
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
