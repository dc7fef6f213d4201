#include "support/closed_port.h"

#include <unistd.h>

#include "support/loopback.h"

// Bound but never listening.
ClosedPort::ClosedPort() {
    m_fd = BindLoopback(-1, &m_port);
}

ClosedPort::~ClosedPort() {
    close(m_fd);
}

std::string ClosedPort::BaseUrl() const {
    return "http://127.0.0.1:" + std::to_string(m_port) + "/";
}
