// The worker that brings an install folder into line with a file list.
// Thread: created, started, stopped and destroyed by its owner; runs on its own thread and
// reaches the owner only through the notify sink, which must outlive the worker. The owner
// calls the setters only while no run is active, except SetNotifySink and SetFileStartTime.
#pragma once

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <type_traits>
#include <vector>

#include "download/download_notify.h"
#include "download/file_list.h"
#include "download/http_timeouts.h"
#include "download/rate_limit.h"
#include "download/retry_policy.h"
#include "download/thread.h"
#include "platform/message_id.h"

class IWorkerSystem;

class CDownloadThread : public CThread {
public:
    // system, when given, must outlive the worker; by default the real one.
    CDownloadThread(const CFileList& fileList, IDownloadNotify* notify, std::string installFolder,
                    const HttpTimeouts& timeouts = HttpTimeouts{}, IWorkerSystem* system = nullptr);
    // Stops a running thread and waits for it; the owner clears the sink first when it is
    // going away.
    ~CDownloadThread() override;

    // One run over the list from CurrentIndex(); true when every file was processed.
    bool DownloadAll();
    // False only when the record could not be allocated. Without a sink it is dropped.
    bool PostProgress(int32_t index, bool skipped, uint64_t fileTotal, uint64_t fileDone,
                      uint64_t otherDone = 0);
    bool PostEndOfRun(bool succeeded);

    // Where the records go; null drops them. Any thread.
    void SetNotifySink(IDownloadNotify* sink) { m_hNotifyWnd.store(sink); }
    const CFileList& FileList() const { return m_FileList; }
    const std::string& InstallFolder() const { return m_strInstallFolder; }
    void SetInstallFolder(const std::string& folder) { m_strInstallFolder = folder; }
    // Millisecond clock at which the current file was started; the owner may move it after
    // a stop and a new start to re-base its file clock. Any thread.
    // With several transfers at once the new time holds for the file of the last record.
    uint32_t FileStartTime() const { return m_dwFileStartTime.load(); }
    void SetFileStartTime(uint32_t time);
    // The file the last run was at when it ended; the next run goes on from there.
    int32_t CurrentIndex() const { return m_nCurrentIndex; }
    // Bytes of the list present after the last run (skipped, resumed and downloaded).
    uint64_t TotalDone() const { return m_nTotalDone.load(); }
    // Message of the error that ended the last failed run; kept until the next failure.
    const std::string& ResultText() const { return m_strResultText; }
    // What failed in words, beside ResultText(); empty when there is nothing to add.
    const std::string& ResultDetail() const { return m_strResultDetail; }

    // A download that fails its checksum is fetched again after these waits (the last one
    // repeats; none: at once); after MAX_CHECKSUM_FAILURES failures in a row on one file the
    // run ends.
    static constexpr int MAX_CHECKSUM_FAILURES = 5;
    void SetRetryDelays(std::vector<std::chrono::milliseconds> delays) {
        m_retryDelays = std::move(delays);
    }

    // Automatic retry, off unless set: a failure that may pass (a refused or dropped
    // connection, a time-out, a body cut short, HTTP 408, 429, 500, 502, 503, 504) waits
    // (1, 2, 4 ... 30 s, or the server's Retry-After) and tries the file again, resuming the
    // part on disk, until no byte has arrived for noProgressLimit; only then does the run end
    // as it does without retry. Any byte starts the back-off and the limit anew.
    void SetAutoRetry(bool on, std::chrono::milliseconds noProgressLimit =
                                   CRetryPolicy::DEFAULT_NO_PROGRESS_LIMIT) {
        m_bAutoRetry = on;
        m_noProgressLimit = noProgressLimit;
    }
    bool AutoRetry() const { return m_bAutoRetry; }

    // Files transferred at once, each on its own connection (1, the worker's own default: one
    // after the other). Each file's log lines stay together, in list order; the records show
    // the lowest-numbered file not yet done.
    void SetJobs(int jobs) { m_nJobs = std::clamp(jobs, 1, MAX_JOBS); }
    int Jobs() const { return m_nJobs; }
    // What the programs use unless told otherwise. Over HTTP/1.1 every small file costs a
    // round trip on one of these connections: measured at 60 ms, 24 takes a game's 300 files
    // in 0.8x the time of 16, and 32 gains nothing more.
    static constexpr int DEFAULT_JOBS = 24;
    static constexpr int MAX_JOBS = 32;
    // A number of files at once as the user writes it, from 1 to MAX_JOBS; false for anything
    // else.
    static bool ParseJobs(const std::string& text, int& jobs);
    // With several transfers allowed, a file of at least fileSize bytes still to fetch on its
    // own, from a server whose answer took at least answerMs, comes over up to 16
    // connections in ranges written in order: one connection carries at most a window a
    // round trip. Near servers stay on one connection, which is faster there.
    struct RangeThresholds {
        uint64_t fileSize = 64 * 1024 * 1024;
        uint32_t answerMs = 10;
        // With several lanes: a file on one connection with at least this much still to come
        // once every file is taken and most lanes have ended gets the rest in ranges over the
        // ended lanes' connections, so that it does not run on alone at one connection's speed.
        uint64_t helpRemaining = 16 * 1024 * 1024;
    };
    void SetRangeThresholds(const RangeThresholds& thresholds) { m_rangeThresholds = thresholds; }
    // With several transfers, files are taken at most this far past the first one not done:
    // a slow file early in a long list must not leave the others holding the records and log
    // lines of every file after it.
    void SetLookahead(int32_t files) { m_nLookahead = std::max<int32_t>(files, 1); }
    // A cap on the bytes per second of every transfer together; 0: none.
    void SetRateLimit(uint64_t bytesPerSecond) { m_rateLimit.Set(bytesPerSecond); }

    // Message id of the error that ended the last run; 0 when it succeeded or was stopped,
    // FOLDER_IN_USE when another run holds the install folder. Read once the run has ended.
    static constexpr int FOLDER_IN_USE = IDS_ALREADY_RUNNING;
    int ResultMessageId() const { return m_nResultId; }

protected:
    void Run() override;

private:
    struct RunShared;
    struct RunContext;
    struct FileTask;
    struct Pool;
    // What a step leaves the run to do next.
    enum class Next {
        Step,   // the file's next step
        File,   // the next file: this one is done, skipped, or left behind by a stop
        Again,  // this file once more, from its decision
        End,    // nothing: the run is over (a failure with its message, or a stop)
    };
    enum class Check { Fetch, Replace, Resume, Skip, Stopped };

    // ---- The steps of a run, in order ----
    // Checks the list, opens and locks the install folder.
    bool OpenRun(RunContext& run);
    // The file to begin with; resets the run's counts.
    int32_t FirstIndex();
    // One attempt at a file: begin, decide, open, transfer, verify, as far as each lets it go.
    Next ProcessFile(RunContext& run, FileTask& file);
    // Room for the rest, the log line, the file clock and the file's folders.
    Next BeginFile(RunContext& run, FileTask& file);
    // Skip, resume, replace or fetch, from the local file.
    Next Decide(RunContext& run, FileTask& file);
    // The request (with its range, once more without it after a 416) and the local file.
    Next Open(RunContext& run, FileTask& file);
    // The target below the held folder, truncated or appended to as the file's decision says.
    Next OpenTarget(RunContext& run, FileTask& file);
    // Body to disk, at most the listed size, with progress records and the pipelined hash.
    Next Transfer(RunContext& run, FileTask& file);
    // After Open, for a large file from a far server: the body over several connections in
    // ranges, written in order (see SetRangeThresholds). Nothing when the server does not
    // answer ranges: the file then goes through Open and Transfer once more.
    bool UsesRanges(const RunContext& run, const FileTask& file) const;
    // Also called from Transfer with the file open, for the rest of it (see HelpConnections).
    std::optional<Next> TransferRanges(RunContext& run, FileTask& file, int connections);
    // The connections that would fetch the rest of a file on one connection in ranges; 0 while
    // that would not help (see RangeThresholds::helpRemaining).
    int HelpConnections(const RunContext& run, const FileTask& file) const;
    // Every so often during Transfer: true when the rest of the file would take more than a
    // second at the speed of the last half second.
    bool HelpWanted(FileTask& file);
    // The file once more from what is on disk, over one connection only (target closed).
    Next PlainAgain(RunContext& run, FileTask& file);
    // How a transfer step failed.
    enum class Failure {
        Request,   // the request got no usable answer
        Read,      // the body broke off with an error
        CutShort,  // the body ended before its length
        Write,     // the file could not be written
    };
    // After a failed request, body or write (target closed): another attempt after a wait when
    // automatic retry takes the failure (never for a write), else the end of the run with the
    // step's log line and message.
    Next EndTransfer(RunContext& run, FileTask& file, Failure failure, long error,
                     const std::string& detail = std::string(), int64_t retryAfterSeconds = 0,
                     int osError = 0);
    // Bytes just written: the counts, the pipelined hash, writeback and about one progress
    // record a second. False when a record could not be made.
    bool CountWritten(RunContext& run, FileTask& file, uint32_t got);
    // A complete file's bytes towards the disk: flushed on the spot when it is large and
    // other lanes go on meanwhile, else writeback started. 0 or errno.
    int WriteOut(int fd, FileTask& file);
    // The MD5 of the bytes on disk; a mismatch fetches again after a wait, a few times.
    Next Verify(RunContext& run, FileTask& file);
    // After the last file: the flush before success.
    bool Finish(RunContext& run);
    // A flush that failed ends the run with its line and message.
    Next EndFlush(RunContext& run, int error);

    // ---- Several files at once ----
    bool DownloadConcurrently(RunShared& shared, int32_t first);
    // One connection taking the next file until none is left or the run ends; with
    // streamsOnly, only files under kOwnConnectionSize, as streams of the hub's connection.
    void Lane(Pool& pool, RunShared& shared, bool streamsOnly);
    // While a run goes on: not stopped, and no other transfer has ended the run.
    bool Going() const;
    const std::atomic<bool>* StopFlag() const;
    // A progress record of the file, or with several transfers the record of the file shown.
    bool PostFile(const FileTask& file, bool skipped, uint64_t total, uint64_t done);
    // With several transfers: the shown file's latest record, with the clock its owner set.
    bool PostShown(Pool& pool);

    // With automatic retry, a failure that may pass (reason not empty) logs, tells the owner,
    // waits and sends the file back to its decision; nothing when the run is to end as it
    // would without retry.
    std::optional<Next> RetryLater(RunContext& run, const FileTask& file, long code,
                                   const std::string& reason, int64_t serverSeconds);
    // The wait before another attempt, when the file is the one shown.
    bool PostRetry(int32_t index, uint32_t seconds, const std::string& reason);

    Check DecideLocalFile(RunContext& run, const FileTask& file, uint64_t& localSize);
    // Sets the result text and id from the message (and the detail) and closes the target;
    // returns End.
    template <typename... Args>
    Next EndWith(RunContext& run, MessageId<Args...> message, std::type_identity_t<Args>... args);
    template <typename... Args>
    Next EndWithDetail(RunContext& run, const std::string& detail, MessageId<Args...> message,
                       std::type_identity_t<Args>... args);

    std::atomic<IDownloadNotify*> m_hNotifyWnd{nullptr};
    const CFileList m_FileList;
    std::string m_strInstallFolder;
    std::string m_strResultText;
    std::string m_strResultDetail;
    int32_t m_nCurrentIndex = 0;
    std::atomic<uint32_t> m_dwFileStartTime{0};
    // The file of the last record, and the start time its owner set for it (index + 1 in the
    // high half; 0: none).
    std::atomic<int32_t> m_nPostedIndex{-1};
    std::atomic<uint64_t> m_nRebasedStart{0};
    std::atomic<uint64_t> m_nTotalDone{0};
    std::vector<std::chrono::milliseconds> m_retryDelays{
        std::chrono::seconds(1), std::chrono::seconds(2), std::chrono::seconds(4),
        std::chrono::seconds(8)};

    HttpTimeouts m_timeouts;
    IWorkerSystem& m_system;
    int m_nResultId = 0;
    int m_nJobs = 1;
    int32_t m_nLookahead = 1024;
    RangeThresholds m_rangeThresholds;
    CRateLimit m_rateLimit;
    bool m_bAutoRetry = false;
    std::chrono::milliseconds m_noProgressLimit = CRetryPolicy::DEFAULT_NO_PROGRESS_LIMIT;
    // Set while several transfers run; the flag ends them all.
    Pool* m_pPool = nullptr;
    std::atomic<bool> m_bLanesGo{true};
};
