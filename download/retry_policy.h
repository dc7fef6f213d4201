// What automatic retry tries again and how long it waits first. A network that drops, a
// server that restarts or sheds load is worth another attempt; an answer that says the file
// is not there, or a file that cannot be written, is not.
// Thread: stateless; any thread.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

class CRetryPolicy {
public:
    // The back-off doubles up to this and stays there.
    static constexpr std::chrono::seconds MAX_BACK_OFF{30};
    // A server's Retry-After is honoured up to this.
    static constexpr std::chrono::seconds MAX_SERVER_DELAY{120};
    // Without any byte of progress for this long the run ends as it would without retry.
    static constexpr std::chrono::milliseconds DEFAULT_NO_PROGRESS_LIMIT{std::chrono::minutes(2)};
    // The reason given for a body that ended before its length.
    static constexpr const char* CUT_SHORT = "body cut short";

    // The failure in words when it is worth another attempt, empty when it is not. code is
    // what the HTTP client reports: an HTTP status from 100 on, a libcurl code below;
    // osError the system's error code behind it, 0 when there was none. A TLS handshake
    // that failed is worth another attempt only when the network cut it.
    static std::string TransientReason(uint32_t code, int osError = 0);
    // The wait after retries failed attempts in a row without progress: 1, 2, 4 ... 30 s.
    static std::chrono::seconds BackOff(int retries);
    // The wait before the next attempt: what the server asked for (seconds, 0 for nothing),
    // kept within MAX_SERVER_DELAY, else the back-off.
    static std::chrono::seconds Delay(int retries, int64_t serverSeconds);
};
