// The worker's only channel to its owner: owned records posted to a sink.
// Thread: Post* are called on the worker thread; each record's ownership passes with it.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

// Message ids, kept for the window side that dispatches on them.
constexpr unsigned WM_USER_BASE = 0x0400;
constexpr unsigned WM_DOWNLOAD_PROGRESS = WM_USER_BASE + 1001;
constexpr unsigned WM_DOWNLOAD_FINISHED = WM_USER_BASE + 1002;
constexpr unsigned WM_DOWNLOAD_RETRY = WM_USER_BASE + 1003;

struct DownloadProgress {
    int32_t nFileIndex = 0;
    uint8_t bSkipped = 0;      // 1: found complete and valid, not downloaded
    uint32_t dwStartTime = 0;  // millisecond clock when the file was started
    uint64_t nFileTotal = 0;   // bytes of the file in total
    uint64_t nFileDone = 0;    // bytes of the file present so far
    // With several transfers at once: bytes present of the later files already begun, which
    // count in the total before their own file is shown. 0 with one transfer at a time.
    uint64_t nOtherDone = 0;
};

struct DownloadResult {
    static constexpr size_t MAX_MESSAGE_CHARS = 255;
    uint8_t bSucceeded = 0;
    std::string szMessage;  // user message of a failed run, at most 255 characters
    // What failed, in words, for logs and the command line (libcurl's error text, the HTTP
    // status line, the file that could not be created); empty when there is nothing to add.
    std::string szDetail;
};

// With automatic retry: the file shown waits before another attempt after a failure that
// may pass. The next progress record means it goes on.
struct DownloadRetry {
    int32_t nFileIndex = 0;
    uint32_t nWaitSeconds = 0;
    std::string szReason;  // what failed, in words ("connection refused", "HTTP 503")
};

class IDownloadNotify {
public:
    virtual ~IDownloadNotify() = default;
    // Called on the worker thread; the implementation hands the record to its own thread.
    virtual void PostProgress(std::unique_ptr<DownloadProgress> record) = 0;
    virtual void PostFinished(std::unique_ptr<DownloadResult> record) = 0;
    virtual void PostRetry(std::unique_ptr<DownloadRetry> record) = 0;
};
