#include "download/download_thread.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <new>
#include <thread>

#include "download/checksum.h"
#include "download/file_hasher.h"
#include "download/file_helpers.h"
#include "download/file_list_check.h"
#include "download/file_url.h"
#include "download/http_client.h"
#include "download/install_dir.h"
#include "download/missing_bytes.h"
#include "platform/clock.h"
#include "platform/disk.h"
#include "platform/file_io.h"
#include "platform/log.h"
#include "platform/string_table.h"

namespace {

constexpr uint32_t kPostIntervalMs = 1000;
constexpr const char* kUserAgent = "Quellbridger";
// Larger files are hashed while they arrive, on a second thread; for small ones a thread
// costs more than reading the file once more.
constexpr uint64_t kPipelinedHashSize = 4 * 1024 * 1024;
// Writeback is started every so many bytes, so the flush before success finds little to do.
constexpr uint64_t kWritebackStep = 16 * 1024 * 1024;

// At most max characters of UTF-8 text, never cutting a character in half.
std::string CutCharacters(const std::string& text, size_t max) {
    size_t chars = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        if ((static_cast<unsigned char>(text[i]) & 0xC0) != 0x80) {
            if (chars == max) {
                return text.substr(0, i);
            }
            ++chars;
        }
    }
    return text;
}

bool IsDiskFull(int error) {
    return error == ENOSPC || error == EDQUOT || error == EFBIG;
}

uint32_t ChecksumBeneath(const CInstallDir& folder, const std::string& name, std::string& checksum,
                         const std::atomic<bool>* running) {
    checksum.clear();
    // O_NONBLOCK: a pipe swapped in must not hold the read.
    const int fd = folder.OpenBeneath(name, O_RDONLY | O_NONBLOCK);
    if (fd < 0) {
        return static_cast<uint32_t>(errno);
    }
    const uint32_t code = GetFileChecksum(fd, checksum, running);
    ::close(fd);
    return code;
}

}  // namespace

CDownloadThread::CDownloadThread(const CFileList& fileList, IDownloadNotify* notify,
                                 std::string installFolder, const HttpTimeouts& timeouts)
    : m_hNotifyWnd(notify),
      m_FileList(fileList),
      m_strInstallFolder(std::move(installFolder)),
      m_timeouts(timeouts) {}

CDownloadThread::~CDownloadThread() {
    StopAndWait();
}

void CDownloadThread::Run() {
    PostEndOfRun(DownloadAll());
}

bool CDownloadThread::PostProgress(int32_t index, bool skipped, uint64_t fileTotal,
                                   uint64_t fileDone) {
    std::unique_ptr<DownloadProgress> record(new (std::nothrow) DownloadProgress);
    if (!record) {
        return false;
    }
    record->nFileIndex = index;
    record->bSkipped = skipped ? 1 : 0;
    record->dwStartTime = m_dwFileStartTime.load();
    record->nFileTotal = fileTotal;
    record->nFileDone = fileDone;
    if (IDownloadNotify* sink = m_hNotifyWnd.load()) {
        sink->PostProgress(std::move(record));
    }
    return true;
}

bool CDownloadThread::PostEndOfRun(bool succeeded) {
    IDownloadNotify* sink = m_hNotifyWnd.load();
    if (sink == nullptr) {
        return true;
    }
    std::unique_ptr<DownloadResult> record(new (std::nothrow) DownloadResult);
    if (!record) {
        return false;
    }
    record->bSucceeded = succeeded ? 1 : 0;
    record->szMessage = CutCharacters(m_strResultText, DownloadResult::MAX_MESSAGE_CHARS);
    record->szDetail = succeeded ? std::string() : m_strResultDetail;
    sink->PostFinished(std::move(record));
    return true;
}

bool CDownloadThread::EndWith(CHttpClient& client, int messageId, long code,
                              const std::string& detail) {
    m_nResultId = messageId;
    m_strResultText = LoadFormatString(messageId, code);
    m_strResultDetail = detail;
    client.CloseLocalFile();
    return false;
}

CDownloadThread::Check CDownloadThread::DecideLocalFile(const CInstallDir& folder,
                                                        const FileEntry& entry,
                                                        uint64_t& localSize) {
    struct stat st {};
    if (folder.StatBeneath(entry.Name, st) != 0) {
        return Check::Fetch;
    }
    g_Log.Print(LOG_INFO, "file is exist");
    // A link, pipe or device has no size of its own; the open for writing refuses it.
    if (!S_ISREG(st.st_mode)) {
        g_Log.Print(LOG_ERROR, "failed to get file size so re-download");
        return Check::Fetch;
    }
    const uint64_t size = static_cast<uint64_t>(st.st_size);
    if (size > entry.Size) {
        g_Log.Print(LOG_WARNING, "local file is bigger so re-download");
        return Check::Fetch;
    }
    if (size < entry.Size) {
        g_Log.Print(LOG_INFO, "file download relay mode");
        localSize = size;
        return Check::Resume;
    }
    std::string checksum;
    const uint32_t code = ChecksumBeneath(folder, entry.Name, checksum, &RunningFlag());
    if (code == STOPPED_BY_REQUEST) {
        return Check::Stopped;
    }
    if (code != 0) {
        g_Log.Print(LOG_ERROR, "failed to get file checksum so re-download - (%ld)",
                    static_cast<long>(code));
        return Check::Fetch;
    }
    if (checksum != entry.CheckSum) {
        g_Log.Print(LOG_WARNING, "invalid file checksum so re-download");
        return Check::Fetch;
    }
    g_Log.Print(LOG_INFO, "file checksum is valid so download skip");
    localSize = size;
    return Check::Skip;
}

bool CDownloadThread::WaitBeforeRetry(std::chrono::milliseconds delay) {
    using Clock = std::chrono::steady_clock;
    const Clock::time_point end = Clock::now() + delay;
    while (IsRunning()) {
        const Clock::time_point now = Clock::now();
        if (now >= end) {
            return true;
        }
        std::this_thread::sleep_for(
            std::min<Clock::duration>(end - now, std::chrono::milliseconds(50)));
    }
    return false;
}

bool CDownloadThread::DownloadAll() {
    bool result = true;
    m_nResultId = 0;
    CHttpClient client(m_timeouts);
    client.SetStopFlag(&RunningFlag());

    std::string problem;
    if (!ValidateFileList(m_FileList, &problem, &m_strInstallFolder)) {
        g_Log.Print(LOG_ERROR, "invalid file list - %s", problem.c_str());
        return EndWith(client, 105);
    }
    // Every path below the folder is opened through this descriptor, following no link.
    CInstallDir folder;
    if (!CreateInstallFolder(m_strInstallFolder) || folder.Open(m_strInstallFolder) != 0) {
        g_Log.Print(LOG_ERROR, "download sub directory create is failed");
        return EndWith(client, 116);
    }
    // One run per folder, whichever program runs it: two would write the same files.
    if (const int error = folder.Lock(); error == EWOULDBLOCK) {
        g_Log.Print(LOG_ERROR, "install folder is held by another run - %s",
                    m_strInstallFolder.c_str());
        return EndWith(client, FOLDER_IN_USE);
    } else if (error != 0) {
        g_Log.Print(LOG_WARNING, "failed to lock install folder - (%ld)", static_cast<long>(error));
    }
    // Only what is not on disk yet needs room; re-fetched files replace bytes already counted.
    const uint64_t missing = MissingBytes(m_FileList, m_strInstallFolder);
    uint64_t written = 0;
    int32_t failedIndex = -1;
    int failures = 0;

    const int32_t count = m_FileList.TotalCount;
    int32_t i = m_nCurrentIndex;
    if (i + 1 == count) {
        // The last run stopped at the final file, or completed: start over.
        i = 0;
        m_nCurrentIndex = 0;
    }
    m_nTotalDone = 0;
    if (static_cast<uint32_t>(i) >= static_cast<uint32_t>(count)) {
        return result;
    }

    for (;;) {
        const FileEntry& entry = m_FileList.FileList[static_cast<size_t>(i)];
        if (!IsRunning()) {
            return false;
        }
        bool resume = false;
        uint64_t localSize = 0;
        uint64_t contentLength = 0;
        std::string range;
        m_nCurrentIndex = i;

        const uint64_t needed = missing > written ? missing - written : 0;
        if (needed > 0 && GetDiskFreeSize(m_strInstallFolder.c_str()) <= needed) {
            g_Log.Print(LOG_ERROR, "insufficient free space in disk");
            return EndWith(client, 108);
        }

        g_Log.Print(LOG_INFO, "download file : (%d) %s", i, entry.Name.c_str());
        m_dwFileStartTime.store(TimeGetTime());

        if (const int folderError = folder.MakeFolders(entry.Name); folderError != 0) {
            const std::string detail =
                m_strInstallFolder + "/" + entry.Name + ": " + std::strerror(folderError);
            g_Log.Print(LOG_ERROR, "failed to create(open) file - (%ld): %s",
                        static_cast<long>(folderError), detail.c_str());
            return EndWith(client, 118, folderError, detail);
        }

        bool lastSkipped = false;
        switch (DecideLocalFile(folder, entry, localSize)) {
            case Check::Skip:
                m_nTotalDone += localSize;
                if (!PostProgress(i, true, localSize, localSize)) {
                    return EndWith(client, 117);
                }
                if (++i < count) {
                    continue;
                }
                // Earlier files of this run still have to reach the disk below.
                lastSkipped = true;
                break;
            case Check::Resume:
                resume = true;
                range = "Range:bytes=" + std::to_string(static_cast<int64_t>(localSize)) + "-";
                break;
            case Check::Fetch:
            case Check::Stopped:
                localSize = 0;
                break;
        }
        if (lastSkipped) {
            break;
        }

        if (!IsRunning()) {
            return false;
        }
        const std::string url = MakeFileUrl(m_FileList.URL, entry.Name);
        bool opened = client.OpenUrl(url, range.c_str(), &contentLength, kUserAgent);
        if (!opened && resume && client.m_dwLastError == 416 && IsRunning()) {
            // The server's file is no longer than the local part: take it whole instead.
            g_Log.Print(LOG_WARNING, "requested range is not satisfiable so re-download");
            resume = false;
            localSize = 0;
            range.clear();
            opened = client.OpenUrl(url, range.c_str(), &contentLength, kUserAgent);
        }
        if (!opened) {
            if (!IsRunning()) {
                return false;
            }
            g_Log.Print(LOG_ERROR, "failed to connect server - (%ld): %s",
                        static_cast<long>(client.m_dwLastError), client.m_strErrorDetail.c_str());
            return EndWith(client, 104, client.m_dwLastError, client.m_strErrorDetail);
        }
        if (resume && client.m_Wininet.StatusCode() == 200) {
            // The server ignored the range: the body is the whole file, from its first byte.
            g_Log.Print(LOG_WARNING, "range request is answered with the whole file");
            resume = false;
            localSize = 0;
        }
        // Opened only now, after the wait for the response, through the held folder: a link
        // planted meanwhile at any level is refused (ELOOP), never written through. O_NONBLOCK:
        // a FIFO in the file's place must not block the open beyond any stop.
        const int file = folder.OpenBeneath(
            entry.Name, O_WRONLY | O_CREAT | O_NONBLOCK | (resume ? O_APPEND : O_TRUNC), 0644);
        if (file < 0 || !client.AdoptLocalFile(file)) {
            const long error = file < 0 ? errno : static_cast<long>(client.m_dwLastError);
            const std::string detail =
                m_strInstallFolder + "/" + entry.Name + ": " +
                (file < 0 ? std::strerror(static_cast<int>(error)) : client.m_strErrorDetail);
            g_Log.Print(LOG_ERROR, "failed to create(open) file - (%ld): %s", error,
                        detail.c_str());
            return EndWith(client, 118, error, detail);
        }

        // Transfer. The file never grows past its listed size: a response that announces or
        // sends more is read only that far, and the checksum decides.
        uint64_t done = localSize;
        uint64_t total = contentLength;
        bool overflow = false;
        if (resume) {
            m_nTotalDone += localSize;
            overflow = contentLength > UINT64_MAX - localSize;
            total = contentLength + localSize;
        }
        if (total > entry.Size) {
            total = entry.Size;
        }
        CFileHasher hasher;
        const bool pipelined = !overflow && total >= kPipelinedHashSize &&
                               hasher.Begin(folder.OpenBeneath(entry.Name, O_RDONLY | O_NONBLOCK),
                                            done, &RunningFlag());
        uint64_t writebackFrom = done;
        bool posted = false;
        uint32_t lastPost = 0;
        int percent = 0;
        bool complete = false;
        while (!overflow) {
            if (!IsRunning()) {
                result = false;
                break;
            }
            const uint64_t room = total - done;
            if (room == 0 && done == entry.Size && done > 0) {
                complete = true;
                break;
            }
            uint32_t got = 0;
            const uint32_t want = static_cast<uint32_t>(
                std::min<uint64_t>(CHttpClient::TRANSFER_BUFFER_SIZE, room > 0 ? room : 1));
            if (!client.m_Wininet.Read(client.m_Buffer, want, got)) {
                if (!IsRunning()) {
                    result = false;
                    break;
                }
                const long error = client.m_Wininet.m_dwLastError;
                const std::string detail = client.m_Wininet.ErrorText();
                client.CloseLocalFile();
                g_Log.Print(LOG_ERROR, "failed to download file - (%ld): %s", error,
                            detail.c_str());
                return EndWith(client, 119, error, detail);
            }
            if (got > room) {
                got = static_cast<uint32_t>(room);
            }
            if (const int error = WriteAll(client.m_hFile, client.m_Buffer, got); error != 0) {
                client.CloseLocalFile();
                g_Log.Print(LOG_ERROR, "failed to download file - (%ld)", static_cast<long>(error));
                return EndWith(client, IsDiskFull(error) ? 108 : 119, error);
            }
            if (got == 0) {
                if (done >= total) {
                    complete = true;
                    break;
                }
                client.CloseLocalFile();
                g_Log.Print(LOG_ERROR,
                            "failed to download file - %s (contentSize:%" PRIu64
                            ", totalRead:%" PRIu64 ")",
                            entry.Name.c_str(), total, done);
                return EndWith(client, 119, STOPPED_BY_REQUEST);
            }
            m_nTotalDone += got;
            written += got;
            done += got;
            if (pipelined) {
                hasher.Advance(done);
            }
            if (done - writebackFrom >= kWritebackStep) {
                ::sync_file_range(client.m_hFile, static_cast<off_t>(writebackFrom),
                                  static_cast<off_t>(done - writebackFrom), SYNC_FILE_RANGE_WRITE);
                writebackFrom = done;
            }
            percent =
                static_cast<int>(static_cast<double>(done) / static_cast<double>(total) * 100);
            const uint32_t now = TimeGetTime();
            bool post = false;
            if (!posted || now - lastPost >= kPostIntervalMs) {
                lastPost = now;
                posted = true;
                post = true;
            } else if (percent == 100) {
                post = true;
            }
            if (post && !PostProgress(i, false, total, done)) {
                client.CloseLocalFile();
                return EndWith(client, 117);
            }
        }
        if (complete && done > writebackFrom) {
            // Start writing the rest out now; the flush before success then waits for less.
            ::sync_file_range(client.m_hFile, static_cast<off_t>(writebackFrom), 0,
                              SYNC_FILE_RANGE_WRITE);
        }
        client.CloseLocalFile();
        client.m_Wininet.Close();
        if (complete && percent != 100) {
            // A body that ended without a byte (an empty file, or an empty answer to a range
            // request) is verified like any other: only the checksum may call it complete.
            percent = 100;
            if (!PostProgress(i, false, total, done)) {
                return EndWith(client, 117);
            }
        }

        if (percent == 100) {
            struct stat st {};
            if (folder.StatBeneath(entry.Name, st) != 0 || !S_ISREG(st.st_mode)) {
                g_Log.Print(LOG_ERROR, "(100%%) failed to check file size");
                return EndWith(client, 120);
            }
            std::string checksum;
            const uint32_t code =
                pipelined ? hasher.Finish(checksum)
                          : ChecksumBeneath(folder, entry.Name, checksum, &RunningFlag());
            if (code != 0) {
                if (code != STOPPED_BY_REQUEST) {
                    g_Log.Print(LOG_ERROR, "(100%%) failed to get file checksum - (%ld)",
                                static_cast<long>(code));
                }
                return EndWith(client, 121);
            }
            if (checksum == entry.CheckSum) {
                g_Log.Print(LOG_INFO, "(100%%) file download success");
                failures = 0;
            } else {
                if (failedIndex != i) {
                    failedIndex = i;
                    failures = 0;
                }
                // A file that never matches (changed on the server, or always answered
                // wrongly) is not fetched in a tight loop for ever.
                if (++failures >= MAX_CHECKSUM_FAILURES) {
                    g_Log.Print(LOG_ERROR, "(100%%) file checksum keeps failing - %s (%d tries)",
                                entry.Name.c_str(), failures);
                    return EndWith(client, 121);
                }
                g_Log.Print(LOG_WARNING, "(100%%) invalid file checksum so re-download");
                if (!m_retryDelays.empty() &&
                    !WaitBeforeRetry(m_retryDelays[std::min<size_t>(
                        static_cast<size_t>(failures - 1), m_retryDelays.size() - 1)])) {
                    return false;
                }
                --i;
            }
        }

        if (++i < count) {
            continue;
        }
        break;
    }

    if (result) {
        // Success is reported only once every byte written is on disk.
        const int error = ::syncfs(folder.Fd()) != 0 ? errno : 0;
        if (error != 0) {
            g_Log.Print(LOG_ERROR, "failed to flush files to disk - (%ld)",
                        static_cast<long>(error));
            return EndWith(client, IsDiskFull(error) ? 108 : 118, error);
        }
    }
    return result;
}
