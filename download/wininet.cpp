// WinINet's request handles, carried by libcurl: a multi handle keeps the connection cache,
// one easy handle is reused for every request. With a hub, the hub's multi handle (on its own
// thread) drives the requests of every object that shares it.
#include "download/wininet.h"

#include <curl/curl.h>
#include <strings.h>

#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "platform/log.h"
#include "platform/utf8.h"

namespace {

constexpr int kPollMs = 100;
// libcurl's low-speed rule: slower than this for the stall time counts as stalled, so a
// trickle of a few bytes per second cannot hold a download open for ever.
constexpr long kStallBytesPerSecond = 64;
constexpr long kMaxRedirects = 5;

bool IsRedirect(long status) {
    return status >= 300 && status < 400 && status != 304;
}

bool StartsWithNoCase(const std::string& text, const char* prefix) {
    return strncasecmp(text.c_str(), prefix, std::strlen(prefix)) == 0;
}

// The CA settings the curl tool takes from the environment, so a private or self-signed
// authority works the same for both: CURL_CA_BUNDLE alone, else SSL_CERT_FILE and
// SSL_CERT_DIR. libcurl reads none of them itself.
void SetAuthoritiesFromEnvironment(CURL* h) {
    auto value = [](const char* name) -> const char* {
        const char* text = std::getenv(name);
        return text != nullptr && *text != '\0' ? text : nullptr;
    };
    if (const char* bundle = value("CURL_CA_BUNDLE")) {
        curl_easy_setopt(h, CURLOPT_CAINFO, bundle);
        return;
    }
    if (const char* folder = value("SSL_CERT_DIR")) {
        curl_easy_setopt(h, CURLOPT_CAPATH, folder);
    }
    if (const char* file = value("SSL_CERT_FILE")) {
        curl_easy_setopt(h, CURLOPT_CAINFO, file);
    }
}

}  // namespace

// The request handles and the state of the current request. libcurl's callbacks run on the
// thread that drives the request (the owner's, or the hub's): what they touch is guarded by
// m_lock.
class CWininet::Impl final : public CTransferHub::ITransfer {
public:
    Impl();
    ~Impl();

    // Sends the GET and returns once the final response's headers are in (after redirects).
    // False with the libcurl code in m_dwLastError when no response could be had.
    bool Open(const std::string& url, const std::string& headerText, const std::string& agent,
              const HttpTimeouts& timeouts);
    // Ends the current request, if any; the connection stays for reuse when it can.
    void Close();

    long StatusCode() const { return m_nStatus; }
    int64_t RetryAfterSeconds() const { return m_nRetryAfter; }
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
    void SetStopFlag(const std::atomic<bool>* running) { m_pRunning.store(running); }
    void SetHub(CTransferHub* hub) {
        Close();
        m_pHub = hub;
    }

    // On the hub's thread.
    void AfterWork() override;
    void Done(int code) override;

    uint32_t m_dwLastError = 0;
    // Off for callers that log a failed read in their own line.
    bool m_bLogReadErrors = true;

    void LogReadError() const;
    static size_t OnBody(char* data, size_t size, size_t count, void* self);
    static size_t OnHeader(char* data, size_t size, size_t count, void* self);
    static int OnProgress(void* self, curl_off_t, curl_off_t, curl_off_t, curl_off_t);
    static int OnRequestReady(void* self, char*, char*, int, int);

    bool StopRequested() const;
    // True when the server has sent nothing for the stall time since the request went out;
    // with m_lock held.
    bool Stalled() const;
    // Whether Pump has news: the end, and body bytes or with untilHeaders the final headers
    // and what they say; with m_lock held.
    bool HasNews(bool untilHeaders) const;
    // Drives the transfer once, waiting a short while unless there is news. False when a stop
    // is requested.
    bool Pump(bool untilHeaders);
    // Status, Retry-After and length of the final headers, on the thread driving the request.
    void CaptureInfo();
    // Lets a request paused by OnBody go on.
    void Resume();

    CURLM* m_hSession = nullptr;  // keeps the connection cache across requests, without a hub
    CTransferHub* m_pHub = nullptr;
    CURL* m_hRequest = nullptr;
    curl_slist* m_pHeaders = nullptr;
    bool m_bAttached = false;

    std::atomic<const std::atomic<bool>*> m_pRunning{nullptr};

    mutable std::mutex m_lock;
    std::condition_variable m_news;  // with a hub: bytes, headers or the end came

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
    bool m_bInfoReady = false;  // CaptureInfo ran for the final headers
    bool m_bTransferDone = false;
    bool m_bBodyComplete = false;
    CURLcode m_result = CURLE_OK;
    long m_nOsError = 0;  // with m_result: CURLINFO_OS_ERRNO of the ended transfer
    long m_nBlockStatus = 0;
    bool m_bBlockHasLocation = false;
    bool m_bBlockChunked = false;
    bool m_bChunked = false;
    long m_nStatus = 0;
    int64_t m_nRetryAfter = 0;
    int64_t m_nContentLength = -1;
};

CWininet::Impl::Impl() : m_pending(new unsigned char[kPendingSize]) {}

CWininet::Impl::~Impl() {
    Close();
    if (m_hRequest != nullptr) {
        curl_easy_cleanup(m_hRequest);
    }
    if (m_hSession != nullptr) {
        curl_multi_cleanup(m_hSession);
    }
}

void CWininet::Impl::Close() {
    if (m_bAttached) {
        if (m_pHub != nullptr) {
            m_pHub->Remove(m_hRequest);
        } else {
            curl_multi_remove_handle(m_hSession, m_hRequest);
        }
        m_bAttached = false;
    }
    if (m_pHeaders != nullptr) {
        curl_slist_free_all(m_pHeaders);
        m_pHeaders = nullptr;
    }
    std::lock_guard<std::mutex> lock(m_lock);
    m_pendingBegin = m_pendingEnd = 0;
    m_bPaused = false;
}

bool CWininet::Impl::StopRequested() const {
    const std::atomic<bool>* running = m_pRunning.load(std::memory_order_relaxed);
    return running != nullptr && !running->load(std::memory_order_relaxed);
}

size_t CWininet::Impl::OnBody(char* data, size_t size, size_t count, void* self) {
    auto* me = static_cast<CWininet::Impl*>(self);
    const size_t bytes = size * count;
    std::lock_guard<std::mutex> lock(me->m_lock);
    if (me->m_bTransferDone) {
        // Ended by the stall clock while the hub still had it: nothing more is taken.
        return 0;
    }
    me->m_lastData = std::chrono::steady_clock::now();
    if (me->m_pendingBegin == me->m_pendingEnd) {
        me->m_pendingBegin = me->m_pendingEnd = 0;
    }
    if (bytes > kPendingSize - me->m_pendingEnd && me->m_pendingBegin > 0) {
        std::memmove(me->m_pending.get(), me->m_pending.get() + me->m_pendingBegin,
                     me->m_pendingEnd - me->m_pendingBegin);
        me->m_pendingEnd -= me->m_pendingBegin;
        me->m_pendingBegin = 0;
    }
    if (bytes > kPendingSize - me->m_pendingEnd) {
        // libcurl keeps the bytes and hands them over again after the pause ends.
        me->m_bPaused = true;
        return CURL_WRITEFUNC_PAUSE;
    }
    std::memcpy(me->m_pending.get() + me->m_pendingEnd, data, bytes);
    me->m_pendingEnd += bytes;
    me->m_news.notify_all();
    return bytes;
}

size_t CWininet::Impl::OnHeader(char* data, size_t size, size_t count, void* self) {
    auto* me = static_cast<CWininet::Impl*>(self);
    const size_t bytes = size * count;
    std::lock_guard<std::mutex> lock(me->m_lock);
    me->m_lastData = std::chrono::steady_clock::now();
    if (me->m_bHeadersDone) {
        // Trailers after the body: what the final headers said stands.
        return bytes;
    }
    std::string_view line(data, bytes);
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) {
        line.remove_suffix(1);
    }
    if (line.starts_with("HTTP/")) {
        // A new response block: after a redirect or an interim 1xx answer.
        const size_t space = line.find(' ');
        me->m_nBlockStatus =
            space == std::string_view::npos
                ? 0
                : std::strtol(std::string(line.substr(space + 1, 3)).c_str(), nullptr, 10);
        me->m_bBlockHasLocation = false;
        me->m_bBlockChunked = false;
        me->m_strBlockStatusLine.assign(
            line.substr(0, Utf8CutLength(line.data(), line.size(), 200)));
    } else if (line.empty()) {
        const long status = me->m_nBlockStatus;
        const bool interim = status >= 100 && status < 200;
        const bool followed = IsRedirect(status) && me->m_bBlockHasLocation;
        if (!interim && !followed) {
            me->m_bHeadersDone = true;
            me->m_bChunked = me->m_bBlockChunked;
            me->m_strStatusLine = me->m_strBlockStatusLine;
            me->m_news.notify_all();
        }
    } else if (line.size() > 9 && strncasecmp(line.data(), "location:", 9) == 0) {
        me->m_bBlockHasLocation = true;
    } else if (line.size() > 18 && strncasecmp(line.data(), "transfer-encoding:", 18) == 0) {
        // Chunked framing means the length is not known up front, whatever else is sent.
        std::string value(line.substr(18));
        for (char& c : value) {
            c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        }
        if (value.find("chunked") != std::string::npos) {
            me->m_bBlockChunked = true;
        }
    }
    return bytes;
}

int CWininet::Impl::OnProgress(void* self, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
    return static_cast<CWininet::Impl*>(self)->StopRequested() ? 1 : 0;
}

// Called once a connection is up and the request is about to go out (again per redirect):
// the connect time-out covers what came before.
int CWininet::Impl::OnRequestReady(void* self, char*, char*, int, int) {
    auto* me = static_cast<CWininet::Impl*>(self);
    std::lock_guard<std::mutex> lock(me->m_lock);
    me->m_bRequestSent = true;
    me->m_lastData = std::chrono::steady_clock::now();
    return CURL_PREREQFUNC_OK;
}

bool CWininet::Impl::Stalled() const {
    return m_bRequestSent && !m_bPaused && m_stallLimit.count() > 0 &&
           std::chrono::steady_clock::now() - m_lastData >= m_stallLimit;
}

bool CWininet::Impl::Open(const std::string& url, const std::string& headerText,
                          const std::string& agent, const HttpTimeouts& timeouts) {
    Close();
    {
        // Nothing drives the handle now; the lock orders these before the callbacks' use.
        std::lock_guard<std::mutex> lock(m_lock);
        m_bHeadersDone = m_bInfoReady = m_bTransferDone = m_bBodyComplete = false;
        m_result = CURLE_OK;
        m_nOsError = 0;
        m_nBlockStatus = m_nStatus = 0;
        m_nRetryAfter = 0;
        m_bBlockHasLocation = m_bBlockChunked = m_bChunked = false;
        m_nContentLength = -1;
        m_bRequestSent = false;
        m_szErrorBuffer[0] = '\0';
        m_strBlockStatusLine.clear();
        m_strStatusLine.clear();
        m_stallLimit = std::chrono::seconds(timeouts.stallSeconds);
    }

    if (m_hSession == nullptr && m_pHub == nullptr) {
        m_hSession = curl_multi_init();
    }
    if (m_hRequest == nullptr) {
        m_hRequest = curl_easy_init();
        if (m_hRequest != nullptr) {
            SetAuthoritiesFromEnvironment(m_hRequest);
            curl_easy_setopt(m_hRequest, CURLOPT_ERRORBUFFER, m_szErrorBuffer);
        }
    }
    if ((m_hSession == nullptr && m_pHub == nullptr) || m_hRequest == nullptr) {
        m_dwLastError = CURLE_OUT_OF_MEMORY;
        return false;
    }

    // Never from a cache: the origin server answers every request.
    m_pHeaders = curl_slist_append(m_pHeaders, "Cache-Control: no-cache");
    m_pHeaders = curl_slist_append(m_pHeaders, "Pragma: no-cache");
    size_t start = 0;
    while (start < headerText.size()) {
        size_t end = headerText.find("\r\n", start);
        if (end == std::string::npos) {
            end = headerText.size();
        }
        if (end > start) {
            m_pHeaders =
                curl_slist_append(m_pHeaders, headerText.substr(start, end - start).c_str());
        }
        start = end + 2;
    }

    CURL* h = m_hRequest;
    curl_easy_setopt(h, CURLOPT_URL, url.c_str());
    curl_easy_setopt(h, CURLOPT_HTTPGET, 1L);
    curl_easy_setopt(h, CURLOPT_USERAGENT, agent.c_str());
    curl_easy_setopt(h, CURLOPT_HTTPHEADER, m_pHeaders);
    curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(h, CURLOPT_PROTOCOLS_STR, "http,https");
    // An https address must not be downgraded: a network attacker could answer with a
    // redirect to http and then serve what it likes.
    curl_easy_setopt(h, CURLOPT_REDIR_PROTOCOLS_STR,
                     StartsWithNoCase(url, "https:") ? "https" : "http,https");
    curl_easy_setopt(h, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(h, CURLOPT_MAXREDIRS, kMaxRedirects);
    // Sizes and ranges are of the bytes on the wire: ask for no encoding, decode none.
    curl_easy_setopt(h, CURLOPT_ACCEPT_ENCODING, nullptr);
    curl_easy_setopt(h, CURLOPT_HTTP_CONTENT_DECODING, 0L);
    curl_easy_setopt(h, CURLOPT_SUPPRESS_CONNECT_HEADERS, 1L);
    curl_easy_setopt(h, CURLOPT_CONNECTTIMEOUT_MS, timeouts.connectMs);
    curl_easy_setopt(h, CURLOPT_LOW_SPEED_LIMIT, kStallBytesPerSecond);
    curl_easy_setopt(h, CURLOPT_LOW_SPEED_TIME, timeouts.stallSeconds);
    curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, &CWininet::Impl::OnBody);
    curl_easy_setopt(h, CURLOPT_WRITEDATA, this);
    curl_easy_setopt(h, CURLOPT_HEADERFUNCTION, &CWininet::Impl::OnHeader);
    curl_easy_setopt(h, CURLOPT_HEADERDATA, this);
    curl_easy_setopt(h, CURLOPT_XFERINFOFUNCTION, &CWininet::Impl::OnProgress);
    curl_easy_setopt(h, CURLOPT_XFERINFODATA, this);
    curl_easy_setopt(h, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(h, CURLOPT_PREREQFUNCTION, &CWininet::Impl::OnRequestReady);
    curl_easy_setopt(h, CURLOPT_PREREQDATA, this);
    // With a hub, a request waits for a connection that can take one more stream rather than
    // open another.
    curl_easy_setopt(h, CURLOPT_PIPEWAIT, m_pHub != nullptr ? 1L : 0L);

    if (m_pHub != nullptr) {
        m_pHub->Add(h, this);
    } else if (curl_multi_add_handle(m_hSession, h) != CURLM_OK) {
        m_dwLastError = CURLE_FAILED_INIT;
        return false;
    }
    m_bAttached = true;

    if (!Pump(true)) {
        m_dwLastError = CURLE_ABORTED_BY_CALLBACK;
        Close();
        return false;
    }
    std::unique_lock<std::mutex> lock(m_lock);
    if (!m_bHeadersDone && m_result != CURLE_OK) {
        m_dwLastError = m_result;
        lock.unlock();
        Close();
        return false;
    }
    if (m_pHub == nullptr) {
        CaptureInfo();
    }
    return true;
}

void CWininet::Impl::CaptureInfo() {
    m_bInfoReady = true;
    curl_easy_getinfo(m_hRequest, CURLINFO_RESPONSE_CODE, &m_nStatus);
    // Seconds or an HTTP date; libcurl gives a date in the past as a negative wait.
    curl_off_t retryAfter = 0;
    if (curl_easy_getinfo(m_hRequest, CURLINFO_RETRY_AFTER, &retryAfter) == CURLE_OK &&
        retryAfter > 0) {
        m_nRetryAfter = retryAfter;
    }
    curl_off_t length = -1;
    if (!m_bChunked &&
        curl_easy_getinfo(m_hRequest, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &length) == CURLE_OK &&
        length >= 0) {
        m_nContentLength = length;
    }
}

void CWininet::Impl::AfterWork() {
    std::lock_guard<std::mutex> lock(m_lock);
    if (m_bHeadersDone && !m_bInfoReady) {
        CaptureInfo();
        m_news.notify_all();
    }
}

void CWininet::Impl::Done(int code) {
    std::lock_guard<std::mutex> lock(m_lock);
    if (m_bHeadersDone && !m_bInfoReady) {
        CaptureInfo();
    }
    if (!m_bTransferDone) {
        m_bTransferDone = true;
        m_result = static_cast<CURLcode>(code);
        // Called on the thread that drives the handle, which is done with it now.
        curl_easy_getinfo(m_hRequest, CURLINFO_OS_ERRNO, &m_nOsError);
    }
    m_news.notify_all();
}

void CWininet::Impl::Resume() {
    if (m_pHub != nullptr) {
        m_pHub->Resume(m_hRequest);
    } else {
        // May hand over the held bytes at once, through OnBody.
        curl_easy_pause(m_hRequest, CURLPAUSE_CONT);
    }
}

std::string CWininet::Impl::ErrorText() const {
    if (m_szErrorBuffer[0] != '\0') {
        return m_szErrorBuffer;
    }
    return curl_easy_strerror(static_cast<CURLcode>(m_dwLastError));
}

bool CWininet::Impl::HasNews(bool untilHeaders) const {
    if (m_bTransferDone) {
        return true;
    }
    // Body bytes may come in the same round as the headers, before the hub read them.
    return untilHeaders ? m_bHeadersDone && (m_pHub == nullptr || m_bInfoReady)
                        : m_pendingEnd > m_pendingBegin;
}

bool CWininet::Impl::Pump(bool untilHeaders) {
    for (;;) {
        if (StopRequested()) {
            return false;
        }
        if (m_pHub == nullptr) {
            int active = 0;
            curl_multi_perform(m_hSession, &active);
            int left = 0;
            while (CURLMsg* msg = curl_multi_info_read(m_hSession, &left)) {
                if (msg->msg == CURLMSG_DONE && msg->easy_handle == m_hRequest) {
                    std::lock_guard<std::mutex> lock(m_lock);
                    m_bTransferDone = true;
                    m_result = msg->data.result;
                    curl_easy_getinfo(m_hRequest, CURLINFO_OS_ERRNO, &m_nOsError);
                }
            }
        }
        {
            std::unique_lock<std::mutex> lock(m_lock);
            if (HasNews(untilHeaders)) {
                return true;
            }
            if (Stalled()) {
                m_bTransferDone = true;
                m_result = CURLE_OPERATION_TIMEDOUT;
                return true;
            }
            if (m_pHub != nullptr) {
                // The top of the loop sees the stop, the news or the stall.
                m_news.wait_for(lock, std::chrono::milliseconds(kPollMs));
                continue;
            }
        }
        curl_multi_poll(m_hSession, nullptr, 0, kPollMs, nullptr);
    }
}

void CWininet::Impl::LogReadError() const {
    // A read ended by the user's stop is no failure.
    if (m_bLogReadErrors && !StopRequested()) {
        g_Log.Print(LOG_ERROR, "InternetQueryDataAvailable - (%ld)",
                    static_cast<long>(m_dwLastError));
    }
}

bool CWininet::Impl::Read(void* buffer, uint32_t capacity, uint32_t& count) {
    count = 0;
    if (!m_bAttached) {
        m_bBodyComplete = m_bTransferDone && m_result == CURLE_OK;
        return true;
    }
    for (;;) {
        std::unique_lock<std::mutex> lock(m_lock);
        if (m_pendingEnd > m_pendingBegin) {
            const size_t n = std::min<size_t>(capacity, m_pendingEnd - m_pendingBegin);
            std::memcpy(buffer, m_pending.get() + m_pendingBegin, n);
            m_pendingBegin += n;
            count = static_cast<uint32_t>(n);
            if (m_bPaused) {
                m_bPaused = false;
                // The wait was ours, not the server's.
                m_lastData = std::chrono::steady_clock::now();
                lock.unlock();
                Resume();
            }
            return true;
        }
        if (m_bTransferDone) {
            if (m_result == CURLE_OK || m_result == CURLE_PARTIAL_FILE) {
                // A body that ends before its length is a normal end to the reader; whether
                // it was whole is told by IsBodyComplete.
                m_bBodyComplete = m_result == CURLE_OK;
                return true;
            }
            m_dwLastError = m_result;
            lock.unlock();
            LogReadError();
            return false;
        }
        lock.unlock();
        if (!Pump(false)) {
            m_dwLastError = CURLE_ABORTED_BY_CALLBACK;
            LogReadError();
            return false;
        }
    }
}

// ---- CWininet: the request as its callers see it ----

CWininet::CWininet() : m_p(std::make_unique<Impl>()) {}

CWininet::~CWininet() = default;

bool CWininet::Open(const std::string& url, const std::string& headerText, const std::string& agent,
                    const HttpTimeouts& timeouts) {
    return m_p->Open(url, headerText, agent, timeouts);
}

void CWininet::Close() {
    m_p->Close();
}

long CWininet::StatusCode() const {
    return m_p->StatusCode();
}

int64_t CWininet::RetryAfterSeconds() const {
    return m_p->RetryAfterSeconds();
}

int64_t CWininet::ContentLength() const {
    return m_p->ContentLength();
}

bool CWininet::Read(void* buffer, uint32_t capacity, uint32_t& count) {
    return m_p->Read(buffer, capacity, count);
}

bool CWininet::IsBodyComplete() const {
    return m_p->IsBodyComplete();
}

std::string CWininet::ErrorText() const {
    return m_p->ErrorText();
}

const std::string& CWininet::StatusLine() const {
    return m_p->StatusLine();
}

void CWininet::SetStopFlag(const std::atomic<bool>* running) {
    m_p->SetStopFlag(running);
}

void CWininet::SetHub(CTransferHub* hub) {
    m_p->SetHub(hub);
}

uint32_t CWininet::LastError() const {
    return m_p->m_dwLastError;
}

void CWininet::SetLastError(uint32_t code) {
    m_p->m_dwLastError = code;
}

int CWininet::LastOsError() const {
    std::lock_guard<std::mutex> lock(m_p->m_lock);
    return static_cast<int>(m_p->m_nOsError);
}

void CWininet::SetLogReadErrors(bool log) {
    m_p->m_bLogReadErrors = log;
}
