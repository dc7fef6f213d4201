#include "download/http_client.h"

#include <curl/curl.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <mutex>

void CHttpClient::GlobalInit() {
    static std::once_flag once;
    std::call_once(once, [] {
        // With CURLOPT_NOSIGNAL a peer that closes early must not kill the process.
        std::signal(SIGPIPE, SIG_IGN);
        curl_global_init(CURL_GLOBAL_DEFAULT);
    });
}

CHttpClient::CHttpClient(const HttpTimeouts& timeouts)
    : m_Buffer(new unsigned char[TRANSFER_BUFFER_SIZE]), m_timeouts(timeouts) {
    GlobalInit();
}

CHttpClient::~CHttpClient() {
    CloseLocalFile();
}

bool CHttpClient::OpenUrl(const std::string& url, const char* headers, uint64_t* contentLength,
                          const std::string& agent, bool lengthOptional) {
    m_strErrorDetail.clear();
    m_nRetryAfter = 0;
    m_nOsError = 0;
    if (!m_Wininet.Open(url, headers != nullptr ? headers : "", agent, m_timeouts)) {
        m_dwLastError = m_Wininet.LastError();
        m_nOsError = m_Wininet.LastOsError();
        m_strErrorDetail = m_Wininet.ErrorText();
        return false;
    }
    const long status = m_Wininet.StatusCode();
    if (status != 200 && status != 206) {
        m_dwLastError = static_cast<uint32_t>(status);
        m_nRetryAfter = m_Wininet.RetryAfterSeconds();
        m_strErrorDetail = m_Wininet.StatusLine().empty() ? "HTTP status " + std::to_string(status)
                                                          : m_Wininet.StatusLine();
        m_Wininet.Close();
        return false;
    }
    if (m_Wininet.ContentLength() < 0 && !lengthOptional) {
        // No length to check the body against (chunked or close-delimited).
        m_Wininet.SetLastError(CURLE_WEIRD_SERVER_REPLY);
        m_dwLastError = CURLE_WEIRD_SERVER_REPLY;
        m_strErrorDetail = m_Wininet.StatusLine() + " without a Content-Length";
        m_Wininet.Close();
        return false;
    }
    if (contentLength != nullptr) {
        *contentLength = m_Wininet.ContentLength() < 0
                             ? UINT64_MAX
                             : static_cast<uint64_t>(m_Wininet.ContentLength());
    }
    return true;
}

bool CHttpClient::Read(uint32_t want, const unsigned char*& data, uint32_t& count) {
    data = m_Buffer.get();
    if (!m_Wininet.Read(m_Buffer.get(), std::min(want, TRANSFER_BUFFER_SIZE), count)) {
        m_dwLastError = m_Wininet.LastError();
        m_nOsError = m_Wininet.LastOsError();
        return false;
    }
    return true;
}

bool CHttpClient::OpenLocalFile(const std::string& path, bool append) {
    CloseLocalFile();
    // O_NONBLOCK: a FIFO planted in the file's place must not block the open beyond any stop
    // (it fails with ENXIO without a reader); it changes nothing for a regular file.
    const int flags =
        O_WRONLY | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK | (append ? O_APPEND : O_TRUNC);
    m_strErrorDetail.clear();
    const int fd = ::open(path.c_str(), flags, 0644);
    if (fd < 0) {
        m_dwLastError = static_cast<uint32_t>(errno);
        m_strErrorDetail = path + ": " + std::strerror(errno);
        return false;
    }
    return AdoptLocalFile(fd);
}

bool CHttpClient::AdoptLocalFile(int fd) {
    CloseLocalFile();
    m_hFile = fd;
    struct stat st {};
    if (::fstat(m_hFile, &st) != 0 || !S_ISREG(st.st_mode)) {
        m_dwLastError = EINVAL;
        m_strErrorDetail = "not a regular file";
        CloseLocalFile();
        return false;
    }
    return true;
}

void CHttpClient::CloseLocalFile() {
    if (m_hFile >= 0) {
        ::close(m_hFile);
        m_hFile = -1;
    }
}

bool CHttpClient::IsBodyComplete() const {
    return m_Wininet.IsBodyComplete();
}

void CHttpClient::CloseRequest() {
    m_Wininet.Close();
}

long CHttpClient::StatusCode() const {
    return m_Wininet.StatusCode();
}

std::string CHttpClient::ReadErrorText() const {
    return m_Wininet.ErrorText();
}

void CHttpClient::SetStopFlag(const std::atomic<bool>* running) {
    m_Wininet.SetStopFlag(running);
}

void CHttpClient::SetLogReadErrors(bool log) {
    m_Wininet.SetLogReadErrors(log);
}
