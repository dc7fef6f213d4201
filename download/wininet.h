// One HTTP GET at a time on libcurl (the request handles of the client).
// Thread: one thread per object; the stop flag is owned by the caller and only read here.
#pragma once

#include <curl/curl.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <string>

#include "download/http_timeouts.h"

class CWininet {
public:
    CWininet();
    virtual ~CWininet();
    CWininet(const CWininet&) = delete;
    CWininet& operator=(const CWininet&) = delete;

    // Sends the GET and returns once the final response's headers are in (after redirects).
    // False with the libcurl code in m_dwLastError when no response could be had.
    bool Open(const std::string& url, const std::string& headerText, const std::string& agent,
              const HttpTimeouts& timeouts);
    // Ends the current request, if any; the connection stays for reuse when it can.
    void Close();

    long StatusCode() const { return m_nStatus; }
    // Content-Length of the response, or -1 when it has none (for instance chunked).
    int64_t ContentLength() const { return m_nContentLength; }

    // Copies at most capacity body bytes; count 0 means the body has ended. False with the
    // libcurl code in m_dwLastError when the transfer failed (reset, time-out, stop).
    bool Read(void* buffer, uint32_t capacity, uint32_t& count);
    // After Read gave 0: whether every announced byte arrived (false for a body cut short).
    bool IsBodyComplete() const { return m_bBodyComplete; }

    // libcurl's own words for the failure in m_dwLastError (its error buffer when it wrote
    // one), for logs and the command line; the user sees only the code.
    std::string ErrorText() const;
    // The final response's status line ("HTTP/1.1 404 Not Found"), empty before one came.
    const std::string& StatusLine() const { return m_strStatusLine; }

    // While *running is false every wait ends at once with CURLE_ABORTED_BY_CALLBACK.
    void SetStopFlag(const std::atomic<bool>* running) { m_pRunning = running; }

    uint32_t m_dwLastError = 0;
    // Off for callers that log a failed read in their own line.
    bool m_bLogReadErrors = true;

private:
    void LogReadError() const;
    static size_t OnBody(char* data, size_t size, size_t count, void* self);
    static size_t OnHeader(char* data, size_t size, size_t count, void* self);
    static int OnProgress(void* self, curl_off_t, curl_off_t, curl_off_t, curl_off_t);
    static int OnRequestReady(void* self, char*, char*, int, int);

    bool StopRequested() const;
    // True when the server has sent nothing for the stall time since the request went out.
    bool Stalled() const;
    // Drives the transfer once, waiting a short while unless there is news (body bytes, the
    // end, or with untilHeaders the final headers). False when a stop is requested.
    bool Pump(bool untilHeaders);

    CURLM* m_hSession = nullptr;  // keeps the connection cache across requests
    CURL* m_hRequest = nullptr;
    curl_slist* m_pHeaders = nullptr;
    bool m_bAttached = false;

    const std::atomic<bool>* m_pRunning = nullptr;

    // libcurl's low-speed rule averages over several seconds, so a transfer that stops dead
    // after a burst would run on past the stall time; this clock ends it on time.
    std::chrono::steady_clock::duration m_stallLimit{};
    std::chrono::steady_clock::time_point m_lastData;
    bool m_bRequestSent = false;

    // Body bytes that libcurl delivered ahead of Read; allocated once per object.
    static constexpr size_t kPendingSize = 256 * 1024;
    std::unique_ptr<unsigned char[]> m_pending;
    size_t m_pendingBegin = 0;
    size_t m_pendingEnd = 0;
    bool m_bPaused = false;

    char m_szErrorBuffer[CURL_ERROR_SIZE] = {};
    std::string m_strBlockStatusLine;
    std::string m_strStatusLine;

    bool m_bHeadersDone = false;
    bool m_bTransferDone = false;
    bool m_bBodyComplete = false;
    CURLcode m_result = CURLE_OK;
    long m_nBlockStatus = 0;
    bool m_bBlockHasLocation = false;
    bool m_bBlockChunked = false;
    bool m_bChunked = false;
    long m_nStatus = 0;
    int64_t m_nContentLength = -1;
};
