// The program's HTTP GET with its fixed request settings, and the file a download goes to.
// Thread: one thread per object (the session start and the worker each own one).
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "download/wininet.h"

class CHttpClient {
public:
    // Bytes handed out per read; the buffer lives inside the object, so a download
    // allocates nothing per chunk.
    static constexpr uint32_t TRANSFER_BUFFER_SIZE = 65536;

    explicit CHttpClient(const HttpTimeouts& timeouts = HttpTimeouts{});
    virtual ~CHttpClient();
    CHttpClient(const CHttpClient&) = delete;
    CHttpClient& operator=(const CHttpClient&) = delete;

    // libcurl's global set-up and SIGPIPE ignored; done once, before any second thread uses
    // the library. Constructors call it too, for callers that forget.
    static void GlobalInit();

    // A GET that answers 200 or 206 with a numeric Content-Length; false with the libcurl
    // code or the HTTP status in m_dwLastError, and its description in m_strErrorDetail,
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
    // Ends the open request; the connection stays for reuse when it can.
    void CloseRequest() { m_Wininet.Close(); }
    // The status of the answer to the last OpenUrl.
    long StatusCode() const { return m_Wininet.StatusCode(); }
    uint32_t LastError() const { return m_dwLastError; }
    const std::string& ErrorDetail() const { return m_strErrorDetail; }
    // libcurl's words for the failure of the last Read.
    std::string ReadErrorText() const { return m_Wininet.ErrorText(); }

    void SetStopFlag(const std::atomic<bool>* running) { m_Wininet.SetStopFlag(running); }

    CWininet m_Wininet;
    int m_hFile = -1;
    unsigned char m_Buffer[TRANSFER_BUFFER_SIZE] = {};
    uint32_t m_dwLastError = 0;
    // What went wrong in words: libcurl's error text, or the status line of a refused answer.
    std::string m_strErrorDetail;

private:
    HttpTimeouts m_timeouts;
};
