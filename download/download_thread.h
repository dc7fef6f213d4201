// The worker that brings an install folder into line with a file list.
// Thread: created, started, stopped and destroyed by its owner; runs on its own thread and
// reaches the owner only through the notify sink, which must outlive the worker.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "download/download_notify.h"
#include "download/file_list.h"
#include "download/thread.h"
#include "download/wininet.h"

class CHttpClient;
class CInstallDir;

class CDownloadThread : public CThread {
public:
    CDownloadThread(const CFileList& fileList, IDownloadNotify* notify, std::string installFolder,
                    const HttpTimeouts& timeouts = HttpTimeouts{});
    // Stops a running thread and waits for it; the owner clears m_hNotifyWnd first when its
    // sink is going away.
    ~CDownloadThread() override;

    // One run over the list from m_nCurrentIndex; true when every file was processed.
    bool DownloadAll();
    // False only when the record could not be allocated. Without a sink it is dropped.
    bool PostProgress(int32_t index, bool skipped, uint64_t fileTotal, uint64_t fileDone);
    bool PostEndOfRun(bool succeeded);

    std::atomic<IDownloadNotify*> m_hNotifyWnd{nullptr};
    const CFileList m_FileList;
    // Written by the owner only while no run is active.
    std::string m_strInstallFolder;
    // Message of the error that ended the last failed run; kept until the next failure.
    std::string m_strResultText;
    // What failed in words, beside m_strResultText; empty when there is nothing to add.
    std::string m_strResultDetail;
    int32_t m_nCurrentIndex = 0;
    // The owner may move it after a stop and a new start to re-base its file clock.
    std::atomic<uint32_t> m_dwFileStartTime{0};
    uint64_t m_nTotalDone = 0;

    // A download that fails its checksum is fetched again after these waits (the last one
    // repeats); after MAX_CHECKSUM_FAILURES failures in a row on one file the run ends. Set
    // by the owner only while no run is active.
    static constexpr int MAX_CHECKSUM_FAILURES = 5;
    std::vector<std::chrono::milliseconds> m_retryDelays{
        std::chrono::seconds(1), std::chrono::seconds(2), std::chrono::seconds(4),
        std::chrono::seconds(8)};

    // Message id of the error that ended the last run; 0 when it succeeded or was stopped,
    // FOLDER_IN_USE when another run holds the install folder. Read once the run has ended.
    static constexpr int FOLDER_IN_USE = 106;
    int ResultMessageId() const { return m_nResultId; }

protected:
    void Run() override;

private:
    enum class Check { Fetch, Resume, Skip, Stopped };
    Check DecideLocalFile(const CInstallDir& folder, const FileEntry& entry, uint64_t& localSize);
    // False when a stop came during the wait.
    bool WaitBeforeRetry(std::chrono::milliseconds delay);
    // Sets the result text from the message table (and the detail) and closes the target;
    // returns false.
    bool EndWith(CHttpClient& client, int messageId, long code = 0,
                 const std::string& detail = std::string());

    HttpTimeouts m_timeouts;
    int m_nResultId = 0;
};
