// Loopback socket helpers shared by the test servers. Thread: any.
#pragma once

#include <netinet/in.h>

#include <cstdint>

// 127.0.0.1:port as a socket address.
sockaddr_in LoopbackAddress(uint16_t port);

// A TCP socket bound to 127.0.0.1 on a port the kernel picks, which goes to *port; listening
// with backlog unless backlog is negative. The caller closes it. Throws on failure.
int BindLoopback(int backlog, uint16_t* port);

// A port on 127.0.0.1 that was free a moment ago (bound to port 0, read back, closed).
// Another process may take it before it is used, so callers retry on a bind failure.
uint16_t PickFreeLoopbackPort();

// True when a TCP connection to 127.0.0.1:port is accepted within timeoutMs.
bool CanConnectLoopback(uint16_t port, int timeoutMs);
