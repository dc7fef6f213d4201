#include "download/retry_policy.h"

#include <curl/curl.h>

#include <algorithm>
#include <cerrno>

std::string CRetryPolicy::TransientReason(uint32_t code, int osError) {
    if (code >= 100) {
        switch (code) {
            case 408:
            case 429:
            case 500:
            case 502:
            case 503:
            case 504:
                return "HTTP " + std::to_string(code);
            default:
                return std::string();
        }
    }
    switch (static_cast<CURLcode>(code)) {
        case CURLE_COULDNT_CONNECT:
            return "connection refused";
        // A network that went away takes its name server with it.
        case CURLE_COULDNT_RESOLVE_HOST:
            return "host not found";
        case CURLE_OPERATION_TIMEDOUT:
            return "timed out";
        case CURLE_SEND_ERROR:
        case CURLE_RECV_ERROR:
            return "connection reset";
        case CURLE_GOT_NOTHING:
            return "empty reply";
        case CURLE_PARTIAL_FILE:
            return CUT_SHORT;
        case CURLE_HTTP2:
        case CURLE_HTTP2_STREAM:
            return "HTTP/2 stream reset";
        case CURLE_SSL_CONNECT_ERROR:
            // Otherwise the server refused the handshake: no other attempt would pass.
            switch (osError) {
                case ECONNRESET:
                case ECONNABORTED:
                case EPIPE:
                    return "connection reset";
                case ETIMEDOUT:
                    return "timed out";
                default:
                    return std::string();
            }
        default:
            return std::string();
    }
}

std::chrono::seconds CRetryPolicy::BackOff(int retries) {
    if (retries < 0) {
        retries = 0;
    }
    // 2^5 already passes the cap.
    const std::chrono::seconds delay(int64_t{1} << std::min(retries, 5));
    return std::min(delay, MAX_BACK_OFF);
}

std::chrono::seconds CRetryPolicy::Delay(int retries, int64_t serverSeconds) {
    if (serverSeconds > 0) {
        return std::min(std::chrono::seconds(serverSeconds), MAX_SERVER_DELAY);
    }
    return BackOff(retries);
}
