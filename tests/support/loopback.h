// Loopback socket helpers shared by the test servers. Thread: any.
#pragma once

#include <cstdint>

// A port on 127.0.0.1 that was free a moment ago (bound to port 0, read back, closed).
// Another process may take it before it is used, so callers retry on a bind failure.
uint16_t PickFreeLoopbackPort();

// True when a TCP connection to 127.0.0.1:port is accepted within timeoutMs.
bool CanConnectLoopback(uint16_t port, int timeoutMs);
