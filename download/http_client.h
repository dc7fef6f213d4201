// The program's HTTP GET with its fixed request settings, and the file a download goes to.
// Thread: one thread per object (the session start and the worker each own one).
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

#include "download/wininet.h"

class CHttpClient {
public:
    // Bytes handed out per read at most.
    static constexpr uint32_t TRANSFER_BUFFER_SIZE = 65536;

    explicit CHttpClient(const HttpTimeouts& timeouts = HttpTimeouts{});
    virtual ~CHttpClient();
    CHttpClient(const CHttpClient&) = delete;
    CHttpClient& operator=(const CHttpClient&) = delete;

    // libcurl's global set-up and SIGPIPE ignored; done once, before any second thread uses
    // the library. Constructors call it too, for callers that forget.
    static void GlobalInit();

    // A GET that answers 200 or 206 with a numeric Content-Length; false with the libcurl
    // code or the HTTP status in LastError(), and its description in ErrorDetail(),
    // otherwise. headers may be null or empty (several lines are separated by CR LF). With
    // lengthOptional a body of unknown length is taken too (contentLength is then
    // UINT64_MAX): the caller reads to its end and bounds it itself.
    bool OpenUrl(const std::string& url, const char* headers, uint64_t* contentLength,
                 const std::string& agent, bool lengthOptional = false);
    // Opens the target for writing at its end: truncated, or appended when append is set.
    // Never follows a symbolic link.
    bool OpenLocalFile(const std::string& path, bool append);
    // Takes over a descriptor the caller opened for writing; refused (and closed) unless it
    // is a regular file.
    bool AdoptLocalFile(int fd);
    void CloseLocalFile();
    // The descriptor of the target, or -1.
    int LocalFile() const { return m_hFile; }

    // Hands out up to want body bytes of the open request in data (valid until the next
    // call); count 0 means the body has ended. False with the libcurl code in LastError().
    bool Read(uint32_t want, const unsigned char*& data, uint32_t& count);
    // After Read gave 0: whether every announced byte arrived (false for a body cut short).
    bool IsBodyComplete() const;
    // Ends the open request; the connection stays for reuse when it can.
    void CloseRequest();
    // The status of the answer to the last OpenUrl.
    long StatusCode() const;
    // Seconds the refused answer of the last OpenUrl asked the client to wait (Retry-After,
    // as seconds or a date); 0 when it asked nothing.
    int64_t RetryAfterSeconds() const { return m_nRetryAfter; }

    // The libcurl code, HTTP status or errno of the last failure.
    uint32_t LastError() const { return m_dwLastError; }
    // The system's error code behind a libcurl code in LastError(), when libcurl kept one.
    int LastOsError() const { return m_nOsError; }
    // What went wrong in words: libcurl's error text, or the status line of a refused answer.
    const std::string& ErrorDetail() const { return m_strErrorDetail; }
    // libcurl's words for the failure of the last Read.
    std::string ReadErrorText() const;

    void SetStopFlag(const std::atomic<bool>* running);
    // Requests from now on share hub's connections (null: their own); hub must outlive them.
    void SetHub(CTransferHub* hub) { m_Wininet.SetHub(hub); }
    // Off for callers that log a failed read in their own line.
    void SetLogReadErrors(bool log);

private:
    CWininet m_Wininet;
    int m_hFile = -1;
    // Allocated once per object, so a download allocates nothing per chunk.
    std::unique_ptr<unsigned char[]> m_Buffer;
    uint32_t m_dwLastError = 0;
    int m_nOsError = 0;
    int64_t m_nRetryAfter = 0;
    std::string m_strErrorDetail;
    HttpTimeouts m_timeouts;
};
