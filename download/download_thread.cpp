#include "download/download_thread.h"

#include <fcntl.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cinttypes>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <mutex>
#include <new>
#include <optional>
#include <system_error>
#include <thread>
#include <utility>

#include "download/checksum.h"
#include "download/file_hasher.h"
#include "download/file_helpers.h"
#include "download/file_list_check.h"
#include "download/file_url.h"
#include "download/http_client.h"
#include "download/install_dir.h"
#include "download/missing_bytes.h"
#include "download/range_fetcher.h"
#include "download/take_order.h"
#include "download/transfer_hub.h"
#include "download/worker_system.h"
#include "platform/file_io.h"
#include "platform/log.h"
#include "platform/message_id.h"

namespace {

constexpr uint32_t kPostIntervalMs = 1000;
constexpr const char* kUserAgent = "Quellbridger";
// Larger files are hashed while they arrive, on a second thread; for small ones a thread
// costs more than reading the file once more.
constexpr uint64_t kPipelinedHashSize = 4 * 1024 * 1024;
// Writeback is started every so many bytes, so the flush before success finds little to do.
constexpr uint64_t kWritebackStep = 16 * 1024 * 1024;
// With several lanes, a complete file from this size on is flushed on its own lane while the
// others go on. A flush per small file would cost a journal commit each.
constexpr uint64_t kFlushOnItsOwnSize = 4 * 1024 * 1024;
// With a hub, files from this size on come over a connection of their own: a connection's
// window caps what all its streams bring together.
constexpr uint64_t kOwnConnectionSize = 1024 * 1024;
constexpr int kRangeConnections = 16;
constexpr uint64_t kRangeSize = 2 * 1024 * 1024;
constexpr int kRangeWaitMs = 50;
// How often a file on one connection asks whether ranges could help it along.
constexpr uint64_t kHelpCheckStep = 1024 * 1024;
constexpr uint32_t kHelpRateWindowMs = 500;
constexpr uint64_t kHelpMinRestMs = 1000;

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

bool IsHttps(const std::string& url) {
    return strncasecmp(url.c_str(), "https://", 8) == 0;
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

// What every file of a run shares.
struct CDownloadThread::RunShared {
    // Every path below the folder is opened through this descriptor, following no link.
    CInstallDir folder;
    // Bytes not on disk when the run began, and bytes the run has written since.
    uint64_t missing = 0;
    std::atomic<uint64_t> written{0};
    // The lanes' requests to an https server, so that they share its connections (streams of
    // one connection over HTTP/2); null over http, where each lane keeps its own.
    std::unique_ptr<CTransferHub> hub;
};

// What one connection holds from its start to its end: the whole run, or one transfer lane.
struct CDownloadThread::RunContext {
    RunContext(const HttpTimeouts& timeouts, RunShared& s)
        : client(timeouts), shared(s), folder(s.folder) {}

    CHttpClient client;
    RunShared& shared;
    CInstallDir& folder;
    // Checksum failures in a row, of the file at failedIndex.
    int32_t failedIndex = -1;
    int failures = 0;
    // A stop ended a transfer: the run goes no further and reports no success.
    bool stopped = false;
    // Automatic retry: failed attempts in a row at the file retryIndex, and the clock of its
    // last byte (or of its beginning).
    int32_t retryIndex = -1;
    // A file whose ranges failed goes on over one connection.
    int32_t plainIndex = -1;
    int retries = 0;
    uint32_t progressAt = 0;
};

// One file's way through the steps.
struct CDownloadThread::FileTask {
    FileTask(int32_t i, const FileEntry& e) : index(i), entry(e) {}

    const int32_t index;
    const FileEntry& entry;
    // The millisecond clock when the file was begun.
    uint32_t startTime = 0;
    // Skipped as valid, or downloaded and verified.
    bool finished = false;
    // Decide and Open: the bytes on disk the transfer goes on from, when resumed.
    bool resume = false;
    uint64_t localSize = 0;
    uint64_t contentLength = 0;
    // Transfer: the size the file grows to (never past the listed one) and what it holds.
    uint64_t total = 0;
    uint64_t done = 0;
    bool overflow = false;
    // Larger files are hashed while they arrive.
    bool pipelined = false;
    CFileHasher hasher;
    uint64_t writebackFrom = 0;
    int percent = 0;
    bool complete = false;
    // Open: milliseconds from the request to its answer.
    uint32_t answerMs = 0;
    // Transfer measures its speed over a while from here, to see whether ranges would help.
    uint64_t nextHelpCheck = 0;
    uint32_t rateSince = 0;
    uint64_t rateFrom = 0;
    // About one progress record a second.
    bool posted = false;
    uint32_t lastPost = 0;
};

// The state several transfers share: which file comes next, which are done, the records and
// log lines held back until their file is the one shown or the next in list order.
struct CDownloadThread::Pool {
    Pool(int32_t first, int32_t count)
        : shown(first),
          flushed(first),
          end(count),
          done(static_cast<size_t>(count), false),
          latest(static_cast<size_t>(count)),
          has(static_cast<size_t>(count), false),
          posted(static_cast<size_t>(count), false),
          logs(static_cast<size_t>(count)),
          logged(static_cast<size_t>(count), false) {}

    std::mutex lock;
    // Signalled when the shown file moves on or the run ends.
    std::condition_variable moved;
    std::optional<CTakeOrder> order;  // which file the next lane takes
    int32_t shown;    // the lowest-numbered file not yet done: the one the records show
    int32_t flushed;  // files before this have their log lines written
    const int32_t end;
    bool failed = false;
    std::vector<bool> done;
    std::vector<DownloadProgress> latest;  // each file's last record, when it has one
    std::vector<bool> has;
    std::vector<bool> posted;  // latest went out as it is
    int lanes = 0;             // lanes not yet ended
    bool postedAny = false;
    uint32_t lastPost = 0;  // when a record last went out

    // Bytes present of the files after the shown one that have a record.
    uint64_t OtherDone() const {
        uint64_t sum = 0;
        for (int32_t i = shown + 1; i < end; ++i) {
            if (has[static_cast<size_t>(i)]) {
                sum += latest[static_cast<size_t>(i)].nFileDone;
            }
        }
        return sum;
    }
    std::vector<std::vector<HeldLogLine>> logs;
    std::vector<bool> logged;  // the file's lines are complete
};

CDownloadThread::CDownloadThread(const CFileList& fileList, IDownloadNotify* notify,
                                 std::string installFolder, const HttpTimeouts& timeouts,
                                 IWorkerSystem* system)
    : m_hNotifyWnd(notify),
      m_FileList(fileList),
      m_strInstallFolder(std::move(installFolder)),
      m_timeouts(timeouts),
      m_system(system != nullptr ? *system : IWorkerSystem::Real()) {}

CDownloadThread::~CDownloadThread() {
    StopAndWait();
}

void CDownloadThread::Run() {
    PostEndOfRun(DownloadAll());
}

bool CDownloadThread::ParseJobs(const std::string& text, int& jobs) {
    char* end = nullptr;
    const long n = std::strtol(text.c_str(), &end, 10);
    if (text.empty() || *end != '\0' || n < 1 || n > MAX_JOBS) {
        return false;
    }
    jobs = static_cast<int>(n);
    return true;
}

void CDownloadThread::SetFileStartTime(uint32_t time) {
    m_dwFileStartTime.store(time);
    const auto file = static_cast<uint32_t>(m_nPostedIndex.load() + 1);
    m_nRebasedStart.store(uint64_t{file} << 32 | time);
}

bool CDownloadThread::PostProgress(int32_t index, bool skipped, uint64_t fileTotal,
                                   uint64_t fileDone, uint64_t otherDone) {
    std::unique_ptr<DownloadProgress> record(new (std::nothrow) DownloadProgress);
    if (!record) {
        return false;
    }
    record->nFileIndex = index;
    record->bSkipped = skipped ? 1 : 0;
    record->dwStartTime = m_dwFileStartTime.load();
    record->nFileTotal = fileTotal;
    record->nFileDone = fileDone;
    record->nOtherDone = otherDone;
    m_nPostedIndex.store(index);
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

template <typename... Args>
CDownloadThread::Next CDownloadThread::EndWithDetail(RunContext& run, const std::string& detail,
                                                     MessageId<Args...> message,
                                                     std::type_identity_t<Args>... args) {
    std::unique_lock<std::mutex> lock;
    if (m_pPool != nullptr) {
        // The first transfer to fail ends the others; their failures are only its echo.
        lock = std::unique_lock<std::mutex>(m_pPool->lock);
        if (m_pPool->failed) {
            run.client.CloseLocalFile();
            return Next::End;
        }
        m_pPool->failed = true;
        m_bLanesGo.store(false);
    }
    m_nResultId = message.id;
    m_strResultText = FormatMessageText(message, args...);
    m_strResultDetail = detail;
    run.client.CloseLocalFile();
    return Next::End;
}

template <typename... Args>
CDownloadThread::Next CDownloadThread::EndWith(RunContext& run, MessageId<Args...> message,
                                               std::type_identity_t<Args>... args) {
    return EndWithDetail(run, std::string(), message, args...);
}

CDownloadThread::Next CDownloadThread::ProcessFile(RunContext& run, FileTask& file) {
    Next next = BeginFile(run, file);
    if (next == Next::Step) {
        next = Decide(run, file);
    }
    if (next == Next::Step) {
        next = Open(run, file);
    }
    bool transferred = false;
    if (next == Next::Step && UsesRanges(run, file)) {
        // A far server: the answer is dropped and the file comes in ranges instead.
        run.client.CloseLocalFile();
        run.client.CloseRequest();
        if (const std::optional<Next> ranged =
                TransferRanges(run, file, std::min(m_nJobs, kRangeConnections))) {
            next = *ranged;
            transferred = true;
        } else {
            next = Open(run, file);
        }
    }
    if (next == Next::Step && !transferred) {
        next = Transfer(run, file);
    }
    if (next == Next::Step) {
        next = Verify(run, file);
    }
    return next;
}

bool CDownloadThread::DownloadAll() {
    m_nResultId = 0;
    m_nRebasedStart.store(0);
    // Each run starts with the cap's full allowance.
    m_rateLimit.Set(m_rateLimit.Rate());
    RunShared shared;
    RunContext run(m_timeouts, shared);
    run.client.SetStopFlag(&RunningFlag());
    if (!OpenRun(run)) {
        return false;
    }
    const int32_t count = m_FileList.TotalCount;
    int32_t index = FirstIndex();
    if (static_cast<uint32_t>(index) >= static_cast<uint32_t>(count)) {
        return true;
    }
    if (m_nJobs > 1 && count - index > 1) {
        return DownloadConcurrently(shared, index) && Finish(run);
    }
    while (index < count) {
        FileTask file(index, m_FileList.FileList[static_cast<size_t>(index)]);
        const Next next = ProcessFile(run, file);
        if (next == Next::End) {
            return false;
        }
        if (next != Next::Again) {
            ++index;
        }
    }
    return Finish(run);
}

bool CDownloadThread::OpenRun(RunContext& run) {
    std::string problem;
    if (!ValidateFileList(m_FileList, &problem, &m_strInstallFolder)) {
        g_Log.Print(LOG_ERROR, "invalid file list - %s", problem.c_str());
        EndWith(run, IDS_INVALID_FILE_LIST);
        return false;
    }
    if (!CreateInstallFolder(m_strInstallFolder) || run.folder.Open(m_strInstallFolder) != 0) {
        g_Log.Print(LOG_ERROR, "download sub directory create is failed");
        EndWith(run, IDS_FOLDER_CREATE_FAILED);
        return false;
    }
    // One run per folder, whichever program runs it: two would write the same files.
    if (const int error = run.folder.Lock(); error == EWOULDBLOCK) {
        g_Log.Print(LOG_ERROR, "install folder is held by another run - %s",
                    m_strInstallFolder.c_str());
        EndWith(run, IDS_ALREADY_RUNNING);
        return false;
    } else if (error != 0) {
        g_Log.Print(LOG_WARNING, "failed to lock install folder - (%ld)", static_cast<long>(error));
    }
    // Only what is not on disk yet needs room; re-fetched files replace bytes already counted.
    run.shared.missing = MissingBytes(m_FileList, m_strInstallFolder);
    return true;
}

int32_t CDownloadThread::FirstIndex() {
    if (m_nCurrentIndex + 1 == m_FileList.TotalCount) {
        // The last run stopped at the final file, or completed: start over.
        m_nCurrentIndex = 0;
    }
    m_nTotalDone = 0;
    return m_nCurrentIndex;
}

CDownloadThread::Next CDownloadThread::BeginFile(RunContext& run, FileTask& file) {
    if (!Going()) {
        return Next::End;
    }
    if (m_pPool == nullptr) {
        m_nCurrentIndex = file.index;
    }
    const uint64_t written = run.shared.written.load();
    const uint64_t needed = run.shared.missing > written ? run.shared.missing - written : 0;
    if (needed > 0 && m_system.FreeSpace(m_strInstallFolder) <= needed) {
        g_Log.Print(LOG_ERROR, "insufficient free space in disk");
        return EndWith(run, IDS_INSUFFICIENT_SPACE);
    }
    g_Log.Print(LOG_INFO, "download file : (%d) %s", file.index, file.entry.Name.c_str());
    file.startTime = m_system.Now();
    if (run.retryIndex != file.index) {
        run.retryIndex = file.index;
        run.retries = 0;
        run.progressAt = file.startTime;
    }
    if (m_pPool == nullptr) {
        m_dwFileStartTime.store(file.startTime);
    }
    if (const int error = run.folder.MakeFolders(file.entry.Name); error != 0) {
        const std::string detail =
            m_strInstallFolder + "/" + file.entry.Name + ": " + std::strerror(error);
        g_Log.Print(LOG_ERROR, "failed to create(open) file - (%ld): %s", static_cast<long>(error),
                    detail.c_str());
        return EndWithDetail(run, detail, IDS_FILE_CREATE_FAILED, error);
    }
    return Next::Step;
}

CDownloadThread::Check CDownloadThread::DecideLocalFile(RunContext& run, const FileTask& file,
                                                        uint64_t& localSize) {
    const FileEntry& entry = file.entry;
    struct stat st {};
    if (run.folder.StatBeneath(entry.Name, st) != 0) {
        return Check::Fetch;
    }
    g_Log.Print(LOG_INFO, "file is exist");
    // A link, pipe or device has no size of its own; the open for writing refuses it.
    if (!S_ISREG(st.st_mode)) {
        g_Log.Print(LOG_ERROR, "failed to get file size so re-download");
        return Check::Replace;
    }
    const uint64_t size = static_cast<uint64_t>(st.st_size);
    if (size > entry.Size) {
        g_Log.Print(LOG_WARNING, "local file is bigger so re-download");
        return Check::Replace;
    }
    if (size < entry.Size) {
        g_Log.Print(LOG_INFO, "file download relay mode");
        localSize = size;
        return Check::Resume;
    }
    std::string checksum;
    const uint32_t code = ChecksumBeneath(run.folder, entry.Name, checksum, StopFlag());
    if (code == STOPPED_BY_REQUEST) {
        return Check::Stopped;
    }
    if (code != 0) {
        g_Log.Print(LOG_ERROR, "failed to get file checksum so re-download - (%ld)",
                    static_cast<long>(code));
        return Check::Replace;
    }
    if (checksum != entry.CheckSum) {
        g_Log.Print(LOG_WARNING, "invalid file checksum so re-download");
        return Check::Replace;
    }
    g_Log.Print(LOG_INFO, "file checksum is valid so download skip");
    localSize = size;
    return Check::Skip;
}

CDownloadThread::Next CDownloadThread::Decide(RunContext& run, FileTask& file) {
    uint64_t localSize = 0;
    switch (DecideLocalFile(run, file, localSize)) {
        case Check::Skip:
            m_nTotalDone += localSize;
            file.finished = true;
            if (!PostFile(file, true, localSize, localSize)) {
                return EndWith(run, IDS_NO_MEMORY_MESSAGE);
            }
            return Next::File;
        case Check::Resume:
            file.resume = true;
            file.localSize = localSize;
            return Next::Step;
        case Check::Fetch:
        case Check::Replace:
        case Check::Stopped:
            // A stop inside the checksum ends the run at the next step's check.
            break;
    }
    return Next::Step;
}

CDownloadThread::Next CDownloadThread::Open(RunContext& run, FileTask& file) {
    if (!Going()) {
        return Next::End;
    }
    CHttpClient& client = run.client;
    const std::string url = MakeFileUrl(m_FileList.URL, file.entry.Name);
    std::string range;
    if (file.resume) {
        range = "Range:bytes=" + std::to_string(static_cast<int64_t>(file.localSize)) + "-";
    }
    uint32_t asked = m_system.Now();
    bool opened = client.OpenUrl(url, range.c_str(), &file.contentLength, kUserAgent);
    file.answerMs = m_system.Now() - asked;
    if (!opened && file.resume && client.LastError() == 416 && Going()) {
        // The server's file is no longer than the local part: take it whole instead.
        g_Log.Print(LOG_WARNING, "requested range is not satisfiable so re-download");
        file.resume = false;
        file.localSize = 0;
        range.clear();
        asked = m_system.Now();
        opened = client.OpenUrl(url, range.c_str(), &file.contentLength, kUserAgent);
        file.answerMs = m_system.Now() - asked;
    }
    if (!opened) {
        if (!Going()) {
            return Next::End;
        }
        return EndTransfer(run, file, Failure::Request, static_cast<long>(client.LastError()),
                           client.ErrorDetail(), client.RetryAfterSeconds(), client.LastOsError());
    }
    if (file.resume && client.StatusCode() == 200) {
        // The server ignored the range: the body is the whole file, from its first byte.
        g_Log.Print(LOG_WARNING, "range request is answered with the whole file");
        file.resume = false;
        file.localSize = 0;
    }
    return OpenTarget(run, file);
}

// Opened only once the answer is here, through the held folder: a link planted meanwhile at
// any level is refused (ELOOP), never written through. O_NONBLOCK: a FIFO in the file's place
// must not block the open beyond any stop.
CDownloadThread::Next CDownloadThread::OpenTarget(RunContext& run, FileTask& file) {
    CHttpClient& client = run.client;
    const int fd = run.folder.OpenBeneath(
        file.entry.Name, O_WRONLY | O_CREAT | O_NONBLOCK | (file.resume ? O_APPEND : O_TRUNC),
        0644);
    if (fd < 0 || !client.AdoptLocalFile(fd)) {
        const long error = fd < 0 ? errno : static_cast<long>(client.LastError());
        const std::string detail =
            m_strInstallFolder + "/" + file.entry.Name + ": " +
            (fd < 0 ? std::strerror(static_cast<int>(error)) : client.ErrorDetail());
        g_Log.Print(LOG_ERROR, "failed to create(open) file - (%ld): %s", error, detail.c_str());
        return EndWithDetail(run, detail, IDS_FILE_CREATE_FAILED, error);
    }
    return Next::Step;
}

// The file never grows past its listed size: a response that announces more is read only
// that far, and the checksum decides. One that ends there is read to its end, which leaves its
// connection free for the next request.
CDownloadThread::Next CDownloadThread::Transfer(RunContext& run, FileTask& file) {
    CHttpClient& client = run.client;
    const FileEntry& entry = file.entry;
    file.done = file.localSize;
    file.total = file.contentLength;
    if (file.resume) {
        m_nTotalDone += file.localSize;
        file.overflow = file.contentLength > UINT64_MAX - file.localSize;
        file.total = file.contentLength + file.localSize;
    }
    const bool announcedMore = file.total > entry.Size;
    if (announcedMore) {
        file.total = entry.Size;
    }
    file.pipelined = !file.overflow && file.total >= kPipelinedHashSize &&
                     file.hasher.Begin(run.folder.OpenBeneath(entry.Name, O_RDONLY | O_NONBLOCK),
                                       file.done, StopFlag());
    file.writebackFrom = file.done;
    file.rateSince = m_system.Now();
    file.rateFrom = file.done;
    while (!file.overflow) {
        if (!Going()) {
            run.stopped = true;
            break;
        }
        const uint64_t room = file.total - file.done;
        if (room == 0 && announcedMore && file.done > 0) {
            file.complete = true;
            break;
        }
        const unsigned char* data = nullptr;
        uint32_t got = 0;
        const uint32_t want = static_cast<uint32_t>(
            std::min<uint64_t>(CHttpClient::TRANSFER_BUFFER_SIZE, room > 0 ? room : 1));
        if (!client.Read(want, data, got)) {
            if (!Going()) {
                run.stopped = true;
                break;
            }
            client.CloseLocalFile();
            return EndTransfer(run, file, Failure::Read, static_cast<long>(client.LastError()),
                               client.ReadErrorText());
        }
        if (got > room) {
            got = static_cast<uint32_t>(room);
        }
        if (const int error = WriteAll(client.LocalFile(), data, got); error != 0) {
            client.CloseLocalFile();
            return EndTransfer(run, file, Failure::Write, error);
        }
        if (got == 0) {
            if (file.done >= file.total) {
                file.complete = true;
                break;
            }
            client.CloseLocalFile();
            return EndTransfer(run, file, Failure::CutShort, STOPPED_BY_REQUEST);
        }
        if (!CountWritten(run, file, got)) {
            client.CloseLocalFile();
            return EndWith(run, IDS_NO_MEMORY_MESSAGE);
        }
        // A stop during the wait is seen at the top of the loop.
        m_rateLimit.Take(got, m_system, *StopFlag());
        if (file.done >= file.nextHelpCheck && HelpWanted(file)) {
            if (const int connections = HelpConnections(run, file); connections > 0) {
                // The answer so far stays on disk; the connection that brought it is dropped.
                client.CloseRequest();
                const std::optional<Next> ranged = TransferRanges(run, file, connections);
                return ranged ? *ranged : PlainAgain(run, file);
            }
        }
    }
    if (file.complete) {
        if (const int error = WriteOut(client.LocalFile(), file); error != 0) {
            client.CloseLocalFile();
            return EndFlush(run, error);
        }
    }
    client.CloseLocalFile();
    client.CloseRequest();
    if (file.complete && file.percent != 100) {
        // A body that ended without a byte (an empty file, or an empty answer to a range
        // request) is verified like any other: only the checksum may call it complete.
        file.percent = 100;
        if (!PostFile(file, false, file.total, file.done)) {
            return EndWith(run, IDS_NO_MEMORY_MESSAGE);
        }
    }
    return Next::Step;
}

CDownloadThread::Next CDownloadThread::EndTransfer(RunContext& run, FileTask& file, Failure failure,
                                                   long error, const std::string& detail,
                                                   int64_t retryAfterSeconds, int osError) {
    if (failure != Failure::Write) {
        const std::string reason =
            failure == Failure::CutShort
                ? CRetryPolicy::CUT_SHORT
                : CRetryPolicy::TransientReason(static_cast<uint32_t>(error), osError);
        if (const std::optional<Next> again =
                RetryLater(run, file, error, reason, retryAfterSeconds)) {
            run.client.CloseRequest();
            // The next attempt counts what is on disk again.
            m_nTotalDone -= file.done;
            return *again;
        }
    }
    switch (failure) {
        case Failure::Request:
            g_Log.Print(LOG_ERROR, "failed to connect server - (%ld): %s", error, detail.c_str());
            return EndWithDetail(run, detail, IDS_SERVER_UNREACHABLE, static_cast<uint32_t>(error));
        case Failure::Read:
            g_Log.Print(LOG_ERROR, "failed to download file - (%ld): %s", error, detail.c_str());
            return EndWithDetail(run, detail, IDS_NETWORK_UNSTABLE, error);
        case Failure::CutShort:
            g_Log.Print(LOG_ERROR,
                        "failed to download file - %s (contentSize:%" PRIu64 ", totalRead:%" PRIu64
                        ")",
                        file.entry.Name.c_str(), file.total, file.done);
            return EndWith(run, IDS_NETWORK_UNSTABLE, STOPPED_BY_REQUEST);
        case Failure::Write:
            break;
    }
    g_Log.Print(LOG_ERROR, "failed to download file - (%ld)", error);
    return IsDiskFull(static_cast<int>(error)) ? EndWith(run, IDS_INSUFFICIENT_SPACE)
                                               : EndWith(run, IDS_NETWORK_UNSTABLE, error);
}

int CDownloadThread::WriteOut(int fd, FileTask& file) {
    if (m_nJobs > 1 && file.total >= kFlushOnItsOwnSize) {
        file.writebackFrom = file.done;
        return m_system.FlushFile(fd);
    }
    if (file.done > file.writebackFrom) {
        // Start writing the rest out now; the flush before success then waits for less.
        m_system.StartWriteback(fd, file.writebackFrom, 0);
        file.writebackFrom = file.done;
    }
    return 0;
}

bool CDownloadThread::CountWritten(RunContext& run, FileTask& file, uint32_t got) {
    m_nTotalDone += got;
    run.shared.written += got;
    file.done += got;
    if (file.pipelined) {
        file.hasher.Advance(file.done);
    }
    if (file.done - file.writebackFrom >= kWritebackStep) {
        m_system.StartWriteback(run.client.LocalFile(), file.writebackFrom,
                                file.done - file.writebackFrom);
        file.writebackFrom = file.done;
    }
    file.percent =
        static_cast<int>(static_cast<double>(file.done) / static_cast<double>(file.total) * 100);
    const uint32_t now = m_system.Now();
    run.progressAt = now;
    run.retries = 0;
    bool post = false;
    if (!file.posted || now - file.lastPost >= kPostIntervalMs) {
        file.lastPost = now;
        file.posted = true;
        post = true;
    } else if (file.percent == 100) {
        post = true;
    }
    return !post || PostFile(file, false, file.total, file.done);
}

bool CDownloadThread::UsesRanges(const RunContext& run, const FileTask& file) const {
    const uint64_t from = file.resume ? file.localSize : 0;
    return m_nJobs > 1 && m_pPool == nullptr && run.plainIndex != file.index &&
           file.answerMs >= m_rangeThresholds.answerMs && file.entry.Size > from &&
           file.entry.Size - from >= m_rangeThresholds.fileSize;
}

bool CDownloadThread::HelpWanted(FileTask& file) {
    file.nextHelpCheck = file.done + kHelpCheckStep;
    const uint32_t now = m_system.Now();
    const uint32_t elapsed = now - file.rateSince;
    if (elapsed < kHelpRateWindowMs) {
        return false;
    }
    const uint64_t rate = (file.done - file.rateFrom) * 1000 / elapsed;
    file.rateSince = now;
    file.rateFrom = file.done;
    // Ranges cost new connections and the dropped part of this answer: worth it only when the
    // rest would take a while more at this connection's speed.
    return rate == 0 || file.total - file.done >= rate * kHelpMinRestMs / 1000;
}

int CDownloadThread::HelpConnections(const RunContext& run, const FileTask& file) const {
    if (m_pPool == nullptr || run.plainIndex == file.index || file.overflow ||
        file.answerMs < m_rangeThresholds.answerMs || file.total != file.entry.Size ||
        file.total - file.done < m_rangeThresholds.helpRemaining) {
        return 0;
    }
    std::lock_guard<std::mutex> lock(m_pPool->lock);
    const int lanes = std::max(m_pPool->lanes, 1);
    if (!m_pPool->order->Empty() || lanes > std::max(m_nJobs / 4, 1)) {
        return 0;
    }
    // The connections of the lanes that have ended, shared among those still at work.
    return std::clamp(m_nJobs / lanes, 2, kRangeConnections);
}

CDownloadThread::Next CDownloadThread::PlainAgain(RunContext& run, FileTask& file) {
    run.client.CloseLocalFile();
    run.plainIndex = file.index;
    // The next attempt counts what is on disk again.
    m_nTotalDone -= file.done;
    return Next::Again;
}

std::optional<CDownloadThread::Next> CDownloadThread::TransferRanges(RunContext& run,
                                                                     FileTask& file,
                                                                     int connections) {
    const FileEntry& entry = file.entry;
    CHttpClient& client = run.client;
    // Open already: the file so far came over one connection, and the rest comes in ranges.
    const bool helping = client.LocalFile() >= 0;
    CRangeFetcher::Settings settings;
    settings.url = MakeFileUrl(m_FileList.URL, entry.Name);
    settings.userAgent = kUserAgent;
    settings.from = helping ? file.done : file.resume ? file.localSize : 0;
    settings.end = entry.Size;
    settings.connections = connections;
    settings.rangeSize = kRangeSize;
    settings.timeouts = m_timeouts;
    CRangeFetcher fetcher(settings, &m_rateLimit, m_system);
    if (!fetcher.Start()) {
        return helping ? std::optional<Next>(PlainAgain(run, file)) : std::nullopt;
    }
    if (!helping) {
        file.done = settings.from;
        file.total = entry.Size;
        file.writebackFrom = file.done;
        m_nTotalDone += file.done;
    }
    std::vector<unsigned char> bytes;
    while (file.done < file.total) {
        if (!Going()) {
            run.stopped = true;
            break;
        }
        const CRangeFetcher::Result result =
            fetcher.Next(bytes, std::chrono::milliseconds(kRangeWaitMs));
        if (result == CRangeFetcher::Result::Waiting) {
            continue;
        }
        if (result == CRangeFetcher::Result::Refused) {
            // Not a server that answers ranges: the file goes on over one connection from
            // what is on disk.
            fetcher.Stop();
            if (helping && file.done == settings.from) {
                g_Log.Print(LOG_WARNING, "range requests are not answered with ranges");
                return PlainAgain(run, file);
            }
            if (client.LocalFile() < 0) {
                g_Log.Print(LOG_WARNING, "range requests are not answered with ranges");
                m_nTotalDone -= file.done;
                file.done = 0;
                return std::nullopt;
            }
            // Ranges were answered before and no longer are: the file stays to resume.
            client.CloseLocalFile();
            g_Log.Print(LOG_ERROR,
                        "failed to download file - range requests are no longer "
                        "answered with ranges");
            return EndWith(run, IDS_NETWORK_UNSTABLE, STOPPED_BY_REQUEST);
        }
        if (result == CRangeFetcher::Result::Failed) {
            fetcher.Stop();
            client.CloseLocalFile();
            // A server that cuts answers short would cut every range: further attempts at
            // this file keep what they get on one connection.
            run.plainIndex = file.index;
            if (!Going()) {
                run.stopped = true;
                break;
            }
            if (fetcher.RequestFailed()) {
                return EndTransfer(run, file, Failure::Request, fetcher.Error(),
                                   fetcher.ErrorDetail(), fetcher.RetryAfterSeconds(),
                                   fetcher.OsError());
            }
            if (fetcher.Error() == 0) {
                return EndTransfer(run, file, Failure::CutShort, STOPPED_BY_REQUEST);
            }
            return EndTransfer(run, file, Failure::Read, fetcher.Error(), fetcher.ErrorDetail());
        }
        if (client.LocalFile() < 0) {
            // Opened only once the first range is here, as Open does.
            if (const Next opened = OpenTarget(run, file); opened != Next::Step) {
                return opened;
            }
            file.pipelined = file.hasher.Begin(
                run.folder.OpenBeneath(entry.Name, O_RDONLY | O_NONBLOCK), file.done, StopFlag());
        }
        if (const int error = WriteAll(client.LocalFile(), bytes.data(), bytes.size());
            error != 0) {
            client.CloseLocalFile();
            return EndTransfer(run, file, Failure::Write, error);
        }
        const uint32_t written = static_cast<uint32_t>(bytes.size());
        fetcher.Recycle(std::move(bytes));
        bytes = std::vector<unsigned char>();
        if (!CountWritten(run, file, written)) {
            client.CloseLocalFile();
            return EndWith(run, IDS_NO_MEMORY_MESSAGE);
        }
    }
    fetcher.Stop();
    if (file.done == file.total && client.LocalFile() >= 0) {
        file.complete = true;
        if (const int error = WriteOut(client.LocalFile(), file); error != 0) {
            client.CloseLocalFile();
            return EndFlush(run, error);
        }
    }
    client.CloseLocalFile();
    return Next::Step;
}

// A file whose bytes all arrived is verified even when a stop came right after them.
CDownloadThread::Next CDownloadThread::Verify(RunContext& run, FileTask& file) {
    if (file.percent != 100) {
        return Next::File;
    }
    const FileEntry& entry = file.entry;
    struct stat st {};
    if (run.folder.StatBeneath(entry.Name, st) != 0 || !S_ISREG(st.st_mode)) {
        g_Log.Print(LOG_ERROR, "(100%%) failed to check file size");
        return EndWith(run, IDS_FILE_SIZE_FAILED);
    }
    std::string checksum;
    const uint32_t code = file.pipelined
                              ? file.hasher.Finish(checksum)
                              : ChecksumBeneath(run.folder, entry.Name, checksum, StopFlag());
    if (code != 0) {
        if (code != STOPPED_BY_REQUEST) {
            g_Log.Print(LOG_ERROR, "(100%%) failed to get file checksum - (%ld)",
                        static_cast<long>(code));
        }
        return EndWith(run, IDS_CHECKSUM_FAILED);
    }
    if (checksum == entry.CheckSum) {
        g_Log.Print(LOG_INFO, "(100%%) file download success");
        run.failures = 0;
        file.finished = true;
        return Next::File;
    }
    if (run.failedIndex != file.index) {
        run.failedIndex = file.index;
        run.failures = 0;
    }
    // A file that never matches (changed on the server, or always answered wrongly) is not
    // fetched in a tight loop for ever.
    if (++run.failures >= MAX_CHECKSUM_FAILURES) {
        g_Log.Print(LOG_ERROR, "(100%%) file checksum keeps failing - %s (%d tries)",
                    entry.Name.c_str(), run.failures);
        return EndWith(run, IDS_CHECKSUM_FAILED);
    }
    g_Log.Print(LOG_WARNING, "(100%%) invalid file checksum so re-download");
    if (!m_retryDelays.empty()) {
        const size_t step =
            std::min<size_t>(static_cast<size_t>(run.failures - 1), m_retryDelays.size() - 1);
        if (!m_system.Wait(m_retryDelays[step], *StopFlag())) {
            return Next::End;
        }
    }
    return Next::Again;
}

std::optional<CDownloadThread::Next> CDownloadThread::RetryLater(RunContext& run,
                                                                 const FileTask& file, long code,
                                                                 const std::string& reason,
                                                                 int64_t serverSeconds) {
    if (!m_bAutoRetry || reason.empty()) {
        return std::nullopt;
    }
    const std::chrono::milliseconds idle(m_system.Now() - run.progressAt);
    if (idle >= m_noProgressLimit) {
        return std::nullopt;
    }
    // The last attempt comes when the limit is reached, not a back-off later.
    const std::chrono::milliseconds wait = std::min<std::chrono::milliseconds>(
        CRetryPolicy::Delay(run.retries, serverSeconds), m_noProgressLimit - idle);
    ++run.retries;
    const uint32_t seconds = static_cast<uint32_t>((wait.count() + 999) / 1000);
    g_Log.Print(LOG_WARNING, "retrying in %u s - %s: %s (%ld)", seconds, file.entry.Name.c_str(),
                reason.c_str(), code);
    if (!PostRetry(file.index, seconds, reason)) {
        return EndWith(run, IDS_NO_MEMORY_MESSAGE);
    }
    if (!m_system.Wait(wait, *StopFlag())) {
        run.stopped = true;
        return Next::End;
    }
    return Next::Again;
}

bool CDownloadThread::PostRetry(int32_t index, uint32_t seconds, const std::string& reason) {
    std::unique_lock<std::mutex> lock;
    if (m_pPool != nullptr) {
        // The views show one file; the waits of the others are only logged.
        lock = std::unique_lock<std::mutex>(m_pPool->lock);
        if (index != m_pPool->shown) {
            return true;
        }
    }
    IDownloadNotify* sink = m_hNotifyWnd.load();
    if (sink == nullptr) {
        return true;
    }
    std::unique_ptr<DownloadRetry> record(new (std::nothrow) DownloadRetry);
    if (!record) {
        return false;
    }
    record->nFileIndex = index;
    record->nWaitSeconds = seconds;
    record->szReason = reason;
    sink->PostRetry(std::move(record));
    return true;
}

bool CDownloadThread::Going() const {
    return IsRunning() && (m_pPool == nullptr || m_bLanesGo.load());
}

const std::atomic<bool>* CDownloadThread::StopFlag() const {
    return m_pPool != nullptr ? &m_bLanesGo : &RunningFlag();
}

bool CDownloadThread::PostFile(const FileTask& file, bool skipped, uint64_t total, uint64_t done) {
    if (m_pPool == nullptr) {
        return PostProgress(file.index, skipped, total, done);
    }
    Pool& pool = *m_pPool;
    std::lock_guard<std::mutex> lock(pool.lock);
    DownloadProgress& record = pool.latest[static_cast<size_t>(file.index)];
    const bool first = !pool.has[static_cast<size_t>(file.index)];
    record.nFileIndex = file.index;
    record.bSkipped = skipped ? 1 : 0;
    record.dwStartTime = file.startTime;
    record.nFileTotal = total;
    record.nFileDone = done;
    pool.has[static_cast<size_t>(file.index)] = true;
    pool.posted[static_cast<size_t>(file.index)] = false;
    // About one record a second shows the file and counts every transfer's bytes; the first
    // and the last of the shown file go out at once.
    const uint32_t now = m_system.Now();
    const bool due = !pool.postedAny || now - pool.lastPost >= kPostIntervalMs;
    const bool shown = file.index == pool.shown;
    if (!(shown && (first || done >= total || due)) &&
        !(!shown && due && pool.has[static_cast<size_t>(pool.shown)])) {
        return true;
    }
    pool.lastPost = now;
    return PostShown(pool);
}

bool CDownloadThread::PostShown(Pool& pool) {
    const size_t shown = static_cast<size_t>(pool.shown);
    const DownloadProgress& r = pool.latest[shown];
    pool.posted[shown] = true;
    pool.postedAny = true;
    // A file resumed after a stop keeps the clock its owner moved back for the time it had
    // already run.
    const uint64_t rebased = m_nRebasedStart.load();
    const bool moved = rebased >> 32 == static_cast<uint64_t>(r.nFileIndex) + 1;
    m_dwFileStartTime.store(moved ? static_cast<uint32_t>(rebased) : r.dwStartTime);
    return PostProgress(r.nFileIndex, r.bSkipped != 0, r.nFileTotal, r.nFileDone, pool.OtherDone());
}

// Several lanes take files in list order; each runs a file's steps on its own connection
// with its log lines held back. The records and lines go out in list order: a file's once it
// is the lowest-numbered one not yet done, or the next in line.
bool CDownloadThread::DownloadConcurrently(RunShared& shared, int32_t first) {
    const int32_t count = m_FileList.TotalCount;
    Pool pool(first, count);
    // Half the lanes on the largest files, so none of them starts last and runs on alone at
    // one connection's speed, and the rest on the smallest, whose round trips then overlap the
    // large files' transfer; in blocks of half the look-ahead, so every file taken stays
    // within it of the first one not done.
    const int32_t jobs = std::min<int32_t>(m_nJobs, count - first);
    std::vector<uint64_t> sizes;
    sizes.reserve(static_cast<size_t>(count));
    for (const FileEntry& entry : m_FileList.FileList) {
        sizes.push_back(entry.Size);
    }
    pool.order.emplace(std::move(sizes), first, std::max<int32_t>(m_nLookahead / 2, 1),
                       std::max(jobs / 2, 1));
    if (IsHttps(m_FileList.URL) && CTransferHub::CanMultiplex()) {
        try {
            shared.hub = std::make_unique<CTransferHub>();
        } catch (const std::exception&) {
            // Without a hub each lane has its own connection, as over http.
        }
    }
    // With a hub, as many lanes again take only small files as streams of its connection: more
    // requests in flight, and no more connections.
    const int32_t streamLanes = shared.hub ? std::min<int32_t>(m_nJobs, count - first - jobs) : 0;
    m_bLanesGo.store(true);
    m_pPool = &pool;
    std::vector<std::thread> lanes;
    try {
        for (int32_t n = 0; n < jobs + streamLanes; ++n) {
            {
                std::lock_guard<std::mutex> lock(pool.lock);
                ++pool.lanes;
            }
            lanes.emplace_back(&CDownloadThread::Lane, this, std::ref(pool), std::ref(shared),
                               n >= jobs);
        }
    } catch (const std::system_error&) {
        std::lock_guard<std::mutex> lock(pool.lock);
        --pool.lanes;
        m_bLanesGo.store(false);
    }
    // A stop reaches the lanes through their flag, within a poll.
    for (;;) {
        if (!IsRunning()) {
            m_bLanesGo.store(false);
        }
        {
            std::lock_guard<std::mutex> lock(pool.lock);
            if (pool.lanes == 0) {
                break;
            }
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    for (std::thread& lane : lanes) {
        lane.join();
    }
    shared.hub.reset();
    m_pPool = nullptr;
    // Lines of files cut short by the end, in list order.
    for (int32_t i = pool.flushed; i < count; ++i) {
        for (const HeldLogLine& line : pool.logs[static_cast<size_t>(i)]) {
            g_Log.Print(line.level, "%s", line.text.c_str());
        }
    }
    // The next run goes on from the first file not done.
    m_nCurrentIndex = pool.shown < count ? pool.shown : count - 1;
    return !pool.failed && pool.shown >= count && IsRunning();
}

void CDownloadThread::Lane(Pool& pool, RunShared& shared, bool streamsOnly) {
    RunContext run(m_timeouts, shared);
    run.client.SetStopFlag(&m_bLanesGo);
    std::vector<HeldLogLine> lines;
    HoldLogLines(&lines);
    for (;;) {
        CTakeOrder::Pick pick;
        uint64_t size = 0;
        {
            std::unique_lock<std::mutex> lock(pool.lock);
            for (;;) {
                if (pool.order->Empty() || !m_bLanesGo.load()) {
                    break;
                }
                pick = streamsOnly ? pool.order->PeekSmall() : pool.order->Peek();
                size = m_FileList.FileList[static_cast<size_t>(pick.index)].Size;
                // A lane of streams leaves large files to the lanes with connections of their
                // own, and waits for the next block's small files.
                if (pick.index - pool.shown < m_nLookahead &&
                    !(streamsOnly && size >= kOwnConnectionSize)) {
                    break;
                }
                // The wait is bounded: a stop clears the flag without the lock.
                pool.moved.wait_for(lock, std::chrono::milliseconds(50));
            }
            if (pool.order->Empty() || !m_bLanesGo.load()) {
                break;
            }
            pool.order->Take(pick);
        }
        const int32_t index = pick.index;
        // Round trips count for small files, which share the hub's connection; bytes count
        // for large ones, which get connections of their own.
        run.client.SetHub(size < kOwnConnectionSize ? shared.hub.get() : nullptr);
        // Each attempt begins afresh from the file on disk, as one at a time does.
        Next next = Next::Again;
        bool finished = false;
        while (next == Next::Again) {
            FileTask file(index, m_FileList.FileList[static_cast<size_t>(index)]);
            next = ProcessFile(run, file);
            finished = file.finished;
        }
        std::lock_guard<std::mutex> lock(pool.lock);
        pool.order->Release(pick.large);
        pool.logs[static_cast<size_t>(index)] = std::move(lines);
        lines.clear();
        pool.logged[static_cast<size_t>(index)] = true;
        HoldLogLines(nullptr);
        while (pool.flushed < pool.end && pool.logged[static_cast<size_t>(pool.flushed)]) {
            for (const HeldLogLine& line : pool.logs[static_cast<size_t>(pool.flushed)]) {
                g_Log.Print(line.level, "%s", line.text.c_str());
            }
            pool.logs[static_cast<size_t>(pool.flushed)].clear();
            ++pool.flushed;
        }
        HoldLogLines(&lines);
        if (finished) {
            pool.done[static_cast<size_t>(index)] = true;
            // The records move on to the next file not done, showing what it has so far.
            while (pool.shown < pool.end && pool.done[static_cast<size_t>(pool.shown)]) {
                if (!pool.posted[static_cast<size_t>(pool.shown)]) {
                    PostShown(pool);
                }
                ++pool.shown;
                pool.moved.notify_all();
            }
            if (pool.shown < pool.end && pool.has[static_cast<size_t>(pool.shown)] &&
                !pool.posted[static_cast<size_t>(pool.shown)]) {
                PostShown(pool);
                pool.lastPost = m_system.Now();
            }
        }
        if (next == Next::End || !finished) {
            break;
        }
    }
    HoldLogLines(nullptr);
    std::lock_guard<std::mutex> lock(pool.lock);
    --pool.lanes;
}

bool CDownloadThread::Finish(RunContext& run) {
    if (run.stopped) {
        return false;
    }
    // Success is reported only once every byte written is on disk.
    if (const int error = m_system.Flush(run.folder.Fd()); error != 0) {
        EndFlush(run, error);
        return false;
    }
    return true;
}

CDownloadThread::Next CDownloadThread::EndFlush(RunContext& run, int error) {
    g_Log.Print(LOG_ERROR, "failed to flush files to disk - (%ld)", static_cast<long>(error));
    return IsDiskFull(error) ? EndWith(run, IDS_INSUFFICIENT_SPACE)
                             : EndWith(run, IDS_FILE_CREATE_FAILED, error);
}
