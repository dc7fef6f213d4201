#include "support/closed_port.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>

ClosedPort::ClosedPort() {
    m_fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (m_fd < 0) {
        throw std::runtime_error(std::string("socket: ") + std::strerror(errno));
    }
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof(addr);
    if (bind(m_fd, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) != 0 ||
        getsockname(m_fd, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
        int err = errno;
        close(m_fd);
        throw std::runtime_error(std::string("bind 127.0.0.1:0: ") + std::strerror(err));
    }
    m_port = ntohs(addr.sin_port);
}

ClosedPort::~ClosedPort() {
    close(m_fd);
}

std::string ClosedPort::BaseUrl() const {
    return "http://127.0.0.1:" + std::to_string(m_port) + "/";
}
