#include "support/loopback.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>

sockaddr_in LoopbackAddress(uint16_t port) {
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(port);
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return addr;
}

int BindLoopback(int backlog, uint16_t* port) {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        throw std::runtime_error(std::string("socket: ") + std::strerror(errno));
    }
    sockaddr_in addr = LoopbackAddress(0);
    socklen_t len = sizeof(addr);
    if (bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) != 0 ||
        (backlog >= 0 && listen(fd, backlog) != 0) ||
        getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
        const int err = errno;
        close(fd);
        throw std::runtime_error(std::string("bind 127.0.0.1:0: ") + std::strerror(err));
    }
    *port = ntohs(addr.sin_port);
    return fd;
}

uint16_t PickFreeLoopbackPort() {
    uint16_t port = 0;
    close(BindLoopback(-1, &port));
    return port;
}

bool CanConnectLoopback(uint16_t port, int timeoutMs) {
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) {
        return false;
    }
    sockaddr_in addr = LoopbackAddress(port);
    bool ok = false;
    if (connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) == 0) {
        ok = true;
    } else if (errno == EINPROGRESS) {
        pollfd p{fd, POLLOUT, 0};
        if (poll(&p, 1, timeoutMs) == 1) {
            int err = 0;
            socklen_t len = sizeof(err);
            ok = getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len) == 0 && err == 0;
        }
    }
    close(fd);
    return ok;
}
