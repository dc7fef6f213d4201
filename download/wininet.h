// One HTTP GET at a time on libcurl (the request handles of the client); libcurl itself stays
// inside wininet.cpp and transfer_hub.cpp.
// Thread: one thread per object; the stop flag is owned by the caller and only read here. With
// a hub, the hub's thread drives the request and the object waits for its news.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

#include "download/http_timeouts.h"
#include "download/transfer_hub.h"

class CWininet {
public:
    CWininet();
    virtual ~CWininet();
    CWininet(const CWininet&) = delete;
    CWininet& operator=(const CWininet&) = delete;

    // Sends the GET and returns once the final response's headers are in (after redirects).
    // False with the libcurl code in LastError() when no response could be had.
    bool Open(const std::string& url, const std::string& headerText, const std::string& agent,
              const HttpTimeouts& timeouts);
    // Ends the current request, if any; the connection stays for reuse when it can.
    void Close();

    long StatusCode() const;
    // The wait the final response's Retry-After asks for, in seconds; 0 without one.
    int64_t RetryAfterSeconds() const;
    // Content-Length of the response, or -1 when it has none (for instance chunked).
    int64_t ContentLength() const;

    // Copies at most capacity body bytes; count 0 means the body has ended. False with the
    // libcurl code in LastError() when the transfer failed (reset, time-out, stop).
    bool Read(void* buffer, uint32_t capacity, uint32_t& count);
    // After Read gave 0: whether every announced byte arrived (false for a body cut short).
    bool IsBodyComplete() const;

    // libcurl's own words for the failure in LastError() (its error buffer when it wrote
    // one), for logs and the command line; the user sees only the code.
    std::string ErrorText() const;
    // The final response's status line ("HTTP/1.1 404 Not Found"), empty before one came.
    const std::string& StatusLine() const;

    // While *running is false every wait ends at once with CURLE_ABORTED_BY_CALLBACK.
    void SetStopFlag(const std::atomic<bool>* running);
    // Requests from now on go through hub (null: through this object's own connections),
    // which must outlive them; ends the current request.
    void SetHub(CTransferHub* hub);

    // The libcurl code of the last failure.
    uint32_t LastError() const;
    void SetLastError(uint32_t code);
    // The system's error code behind the last failed transfer when libcurl kept one (errno
    // of a connection reset during the TLS handshake, which libcurl reports as a handshake
    // failure), else 0.
    int LastOsError() const;
    // Off for callers that log a failed read in their own line.
    void SetLogReadErrors(bool log);

private:
    // libcurl's handles and the request's state (wininet.cpp).
    class Impl;
    std::unique_ptr<Impl> m_p;
};
