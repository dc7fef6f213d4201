// quellbridger-cli: the installer core without the window, for scripts and measurements. The
// same session start and Start checks as the window; no completion (shortcuts, launcher).
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

#include "app/cli_progress.h"
#include "app/cli_view.h"
#include "core/control_ids.h"
#include "core/install_folder.h"
#include "core/installer_session.h"
#include "download/download_queue.h"
#include "download/download_thread.h"
#include "download/http_client.h"
#include "download/list_fetch.h"
#include "download/rate_limit.h"
#include "platform/program_log.h"

namespace {

enum ExitCode { kDone = 0, kFailed = 1, kBadStart = 2, kInterrupted = 130 };

volatile sig_atomic_t g_interrupted = 0;
// Cleared by the signal too, so a list fetch that is held up ends at once.
std::atomic<bool> g_running{true};
static_assert(std::atomic<bool>::is_always_lock_free, "stored from a signal handler");

void OnSignal(int) {
    g_interrupted = 1;
    g_running.store(false);
}

void PrintUsage(FILE* out) {
    std::fprintf(out,
                 "Usage: quellbridger-cli [--list URL] [--dir DIR] [--quiet] [--yes] [--jobs N]\n"
                 "                        [--limit-rate RATE]\n"
                 "                        [--retry]\n"
                 "Downloads and verifies the Talvermoor client into DIR.\n\n"
                 "  --list URL  address of the file list (default: %s)\n"
                 "  --dir DIR   install folder (default: %s)\n"
                 "  --jobs N    download N files at once, each on its own connection\n"
                 "              (1 to %d; default %d; 1: one after the other)\n"
                 "  --limit-rate RATE\n"
                 "              cap all transfers together at RATE bytes a second; K, M\n"
                 "              and G multiply by 1024 (e.g. 2M)\n"
                 "  --retry     after a dropped connection, a time-out or a busy server, wait\n"
                 "              (1, 2, 4 ... 30 s) and go on where the file stopped; give up\n"
                 "              only after 2 minutes without progress\n"
                 "  --yes       install into DIR even when it holds other files\n"
                 "  --quiet     print only failures\n"
                 "  --help      show this text\n"
                 "  --version   show the program's version\n\n"
                 "Exit status: 0 every file done, 1 the download failed, 2 usage error, no\n"
                 "usable file list or another run holds DIR, 130 interrupted (run again to\n"
                 "resume).\n",
                 GetFileListUrl().c_str(), "$HOME/Games/HOLLOWMERE WORKS/Talvermoor",
                 CDownloadThread::MAX_JOBS, CDownloadThread::DEFAULT_JOBS);
}

}  // namespace

int main(int argc, char** argv) {
    std::string url = GetFileListUrl();
    std::string folder;
    bool quiet = false;
    bool anyFolder = false;
    bool retry = false;
    int jobs = CDownloadThread::DEFAULT_JOBS;
    uint64_t rateLimit = 0;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            PrintUsage(stdout);
            return kDone;
        }
        if (arg == "--version") {
            std::printf("quellbridger-cli %s\n", QB_VERSION);
            return kDone;
        }
        if (arg == "--quiet" || arg == "-q") {
            quiet = true;
        } else if (arg == "--yes" || arg == "-y") {
            anyFolder = true;
        } else if (arg == "--retry") {
            retry = true;
        } else if (arg == "--jobs" && i + 1 < argc) {
            if (!CDownloadThread::ParseJobs(argv[++i], jobs)) {
                std::fprintf(stderr, "quellbridger-cli: --jobs takes a number from 1 to %d\n\n",
                             CDownloadThread::MAX_JOBS);
                PrintUsage(stderr);
                return kBadStart;
            }
        } else if (arg == "--limit-rate" && i + 1 < argc) {
            if (!CRateLimit::Parse(argv[++i], rateLimit)) {
                std::fprintf(stderr,
                             "quellbridger-cli: --limit-rate takes bytes a second, such as "
                             "500K or 2M, not '%s'\n\n",
                             argv[i]);
                PrintUsage(stderr);
                return kBadStart;
            }
        } else if ((arg == "--list" || arg == "--dir") && i + 1 < argc) {
            (arg == "--list" ? url : folder) = argv[++i];
        } else {
            std::fprintf(stderr, "quellbridger-cli: unknown or incomplete option '%s'\n\n",
                         arg.c_str());
            PrintUsage(stderr);
            return kBadStart;
        }
    }
    if (folder.empty()) {
        folder = GetDefaultInstallFolder();
    }
    std::error_code error;
    // Free space is measured on absolute paths only.
    const std::filesystem::path absolute = std::filesystem::absolute(folder, error);
    if (!error) {
        folder = absolute.lexically_normal().string();
    }
    while (folder.size() > 1 && folder.back() == '/') {
        folder.pop_back();
    }

    CHttpClient::GlobalInit();
    struct sigaction action {};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);

    InitProgramLog();

    CCliView view;
    CDownloadQueue queue;
    InstallerServices services = InstallerServices::System();
    services.fetchList = [](const std::string& listUrl, std::string& text,
                            const HttpTimeouts& timeouts, std::string& detail) {
        return DownloadFileListText(listUrl, text, timeouts, &g_running, &detail);
    };
    // The window's setting is the window's; here only --retry counts.
    services.autoRetry = [retry] { return retry; };
    services.transferJobs = [jobs] { return jobs; };
    CInstallerSession session(view, &queue, std::move(services));
    session.SetCompletion(false);
    switch (session.Open(url, &g_running)) {
        case SessionStart::Ready:
            break;
        case SessionStart::Interrupted:
            if (!quiet) {
                std::printf("Stopped. Run again to resume.\n");
            }
            return kInterrupted;
        case SessionStart::Failed:
            // The message went out through the view; what failed in words follows it.
            if (!session.FailureDetail().empty()) {
                std::fprintf(stderr, "%s\n", session.FailureDetail().c_str());
            }
            return kBadStart;
    }
    const CFileList& list = session.FileList();
    view.SetItemText(IDC_INSTALL_PATH, folder);
    if (!session.CreateWorker()) {
        return kFailed;
    }
    session.Worker()->SetRateLimit(rateLimit);

    StartChecks checks;
    // A folder holding listed files is an install to update or repair; the window's
    // remembered folder is the window's to keep.
    checks.acceptListedFiles = true;
    checks.acceptAnyFolder = anyFolder;
    checks.rememberFolder = false;
    switch (session.Start(checks)) {
        case StartOutcome::Started:
            break;
        case StartOutcome::FolderRefused:
            std::fprintf(stderr, "Run again with --yes to install into %s anyway.\n",
                         folder.c_str());
            return kBadStart;
        case StartOutcome::NoSpace:
        case StartOutcome::NoWorker:
        case StartOutcome::NotStarted:
            return kFailed;
    }

    const bool terminal = ::isatty(STDOUT_FILENO) == 1 && !quiet;
    const CCliProgress progress(list);
    bool stopping = false;
    std::unique_ptr<DownloadResult> result;
    while (!result) {
        if (g_interrupted && !stopping) {
            stopping = true;
            session.Stop();
        }
        CDownloadQueue::Record record;
        if (!queue.Take(record, std::chrono::milliseconds(100))) {
            continue;
        }
        if (auto* finished = std::get_if<std::unique_ptr<DownloadResult>>(&record)) {
            result = std::move(*finished);
            break;
        }
        if (auto* wait = std::get_if<std::unique_ptr<DownloadRetry>>(&record)) {
            session.OnRetry(**wait);
            // Not a failure: the run goes on by itself.
            if (!quiet) {
                std::printf("%s%s\n", terminal ? "\r\x1b[K" : "",
                            progress.RetryLine(**wait).c_str());
                std::fflush(stdout);
            }
            continue;
        }
        const auto& item = *std::get<std::unique_ptr<DownloadProgress>>(record);
        session.OnProgress(item);
        if (terminal) {
            const std::string line = progress.Line(session.Progress().Texts());
            std::printf("\r%s\x1b[K", line.c_str());
            std::fflush(stdout);
        } else if (!quiet) {
            if (const std::string done = progress.FinishedLine(item); !done.empty()) {
                std::printf("%s\n", done.c_str());
                std::fflush(stdout);
            }
        }
    }
    if (terminal) {
        std::printf("\n");
    }
    const bool succeeded = result->bSucceeded != 0;
    // A failure's text goes to standard error through the view.
    session.OnFinished(result.get());
    if (succeeded) {
        if (!quiet) {
            std::printf("All %d files are in place in %s\n", list.TotalCount, folder.c_str());
        }
        return kDone;
    }
    if (stopping) {
        if (!quiet) {
            std::printf("Stopped. Run again to resume.\n");
        }
        return kInterrupted;
    }
    if (!result->szDetail.empty()) {
        std::fprintf(stderr, "%s\n", result->szDetail.c_str());
    }
    if (session.Worker()->ResultMessageId() == CDownloadThread::FOLDER_IN_USE) {
        std::fprintf(stderr, "Another run holds %s; wait for it to end and try again.\n",
                     folder.c_str());
        return kBadStart;
    }
    return kFailed;
}
