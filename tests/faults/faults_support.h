// Shared pieces of the fault, crash, full-disk and soak tests: file corpora and their lists,
// runs of the worker and of quellbridger-cli as a child process, tree snapshots and log checks.
// Thread: the test's thread; a ChildProcess owns its process until it is waited for.
#pragma once

#include <sys/resource.h>
#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <deque>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "support/child_process.h"

#include "download/download_notify.h"
#include "download/download_queue.h"
#include "download/file_list.h"
#include "support/fault_server.h"
#include "support/sandbox.h"
#include "support/test_list.h"

namespace faults {

using CorpusFile = TestFile;
using Corpus = std::vector<CorpusFile>;
using ::ListDocument;
using ::MakeList;

// Serves every file of the corpus at "/" + its name; shape, when given, changes each route.
void ServeCorpus(FaultServer& server, const Corpus& corpus,
                 const std::function<void(FaultRoute&)>& shape = {});

uint64_t FileSize(const std::filesystem::path& path);
// Writes the bytes to path, making its folders; fails the test when it cannot.
void WriteFile(const std::filesystem::path& path, std::string_view bytes);

// Every entry below root: folders as "name/", links as "name -> target", files with their
// size and MD5, for "nothing was written" checks. Entries whose first part is in skip are
// left out.
std::map<std::string, std::string> Tree(const std::filesystem::path& root,
                                        const std::vector<std::string>& skip = {});

// Empty when every file of the corpus in folder is absent or holds the first bytes of its
// listed content (never more); otherwise what is wrong with the first file that is not.
std::string CheckPrefixes(const std::filesystem::path& folder, const Corpus& corpus);
// Empty when every file of the corpus in folder has its listed size and MD5.
std::string CheckComplete(const std::filesystem::path& folder, const Corpus& corpus);

struct RunOutcome {
    std::unique_ptr<DownloadResult> result;
    std::deque<std::unique_ptr<DownloadProgress>> progress;
};

// Starts the worker and collects its records until the end-of-run record (or the time-out).
template <class Worker>
RunOutcome RunToEnd(Worker& worker, CDownloadQueue& queue,
                    std::chrono::milliseconds timeout = std::chrono::seconds(15)) {
    RunOutcome out;
    if (worker.Start()) {
        out.result = queue.WaitFinished(timeout, &out.progress);
    }
    return out;
}

// The lines of a UTF-16LE log file, as UTF-8 without their CR LF. torn is set when the
// bytes are not whole lines (an odd byte count, a lone surrogate, a missing CR LF at the end).
std::vector<std::string> ReadUtf16Lines(const std::string& bytes, bool* torn);
// True for a line the log writes: bare (here only the empty separator line) or
// "[hh:mm:ss,mmm] [LEVEL] message " with its closing blank.
bool IsWholeLogLine(const std::string& line);

using ::ChildOptions;
using ::ChildProcess;
using ::ChildResult;

// Transfers at once for the worker and the program in these suites: 1 (one after the other)
// unless QB_TEST_JOBS says otherwise, a number or "default" for what the programs use.
int TestJobs();

// A sandboxed home and state folder for runs of quellbridger-cli, with --jobs TestJobs()
// ahead of the run's own arguments.
class CliHome {
public:
    CliHome();
    const std::filesystem::path& Root() const { return m_box.Path(); }
    std::filesystem::path LogFolder() const { return Root() / "state/Quellbridger"; }
    // The options of one run of the program with these arguments.
    ChildOptions Options(const std::vector<std::string>& args) const;
    ChildResult Run(const std::vector<std::string>& args);
    // Every line of every log file of the program, and whether any file had a torn line.
    std::vector<std::string> LogLines(bool* torn) const;

private:
    Sandbox m_box;
    mutable int m_serial = 0;
};

}  // namespace faults
