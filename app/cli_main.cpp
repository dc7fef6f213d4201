// quellbridger-cli: the download engine without the window, for scripts and measurements.
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>

#include "app/cli_progress.h"
#include "download/download_queue.h"
#include "download/download_thread.h"
#include "download/http_client.h"
#include "download/list_fetch.h"
#include "platform/clock.h"
#include "platform/log.h"
#include "platform/program_log.h"
#include "platform/shell_folder.h"
#include "platform/string_table.h"

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
                 "Usage: quellbridger-cli [--list URL] [--dir DIR] [--quiet]\n"
                 "Downloads and verifies the Talvermoor client into DIR.\n\n"
                 "  --list URL  address of the file list (default: %s)\n"
                 "  --dir DIR   install folder (default: %s)\n"
                 "  --quiet     print only failures\n"
                 "  --help      show this text\n\n"
                 "Exit status: 0 every file done, 1 the download failed, 2 usage error or no\n"
                 "usable file list, 130 interrupted (run again to resume).\n",
                 GetFileListUrl().c_str(), "$HOME/Games/HOLLOWMERE WORKS/Talvermoor");
}

std::string DefaultInstallFolder() {
    std::string games;
    if (!GetShellFolderPath(SHELL_FOLDER_PROGRAM_FILES, games)) {
        return "/opt/HOLLOWMERE WORKS/Talvermoor";
    }
    return games + "/HOLLOWMERE WORKS/Talvermoor";
}

// The user message as the window shows it, then what failed in words when known.
void Fail(const std::string& message, const std::string& detail = std::string()) {
    std::fprintf(stderr, "%s\n", message.c_str());
    if (!detail.empty()) {
        std::fprintf(stderr, "%s\n", detail.c_str());
    }
}

}  // namespace

int main(int argc, char** argv) {
    std::string url = GetFileListUrl();
    std::string folder;
    bool quiet = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            PrintUsage(stdout);
            return kDone;
        }
        if (arg == "--quiet" || arg == "-q") {
            quiet = true;
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
        folder = DefaultInstallFolder();
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

    std::string text;
    std::string detail;
    if (const uint32_t code = DownloadFileListText(url, text, HttpTimeouts{}, &g_running, &detail);
        code != 0) {
        if (g_interrupted) {
            if (!quiet) {
                std::printf("Stopped. Run again to resume.\n");
            }
            return kInterrupted;
        }
        Fail(LoadFormatString(104, static_cast<long>(code)), detail);
        return kBadStart;
    }
    CFileList list;
    if (!ReadFileListText(text, list)) {
        Fail(LoadFormatString(105));
        return kBadStart;
    }
    if (!IsInstallerVersion(list)) {
        Fail(LoadFormatString(122));
        return kBadStart;
    }

    CDownloadQueue queue;
    CDownloadThread worker(list, &queue, folder);
    g_Log.Print(LOG_INFO, "download thread create success");
    if (!worker.Start()) {
        Fail(LoadFormatString(125));
        return kFailed;
    }

    const bool terminal = ::isatty(STDOUT_FILENO) == 1 && !quiet;
    CCliProgress progress(list);
    bool stopping = false;
    std::unique_ptr<DownloadResult> result;
    while (!result) {
        if (g_interrupted && !stopping) {
            stopping = true;
            worker.Stop();
        }
        CDownloadQueue::Record record;
        if (!queue.Take(record, std::chrono::milliseconds(100))) {
            continue;
        }
        if (auto* finished = std::get_if<std::unique_ptr<DownloadResult>>(&record)) {
            result = std::move(*finished);
            break;
        }
        const auto& item = *std::get<std::unique_ptr<DownloadProgress>>(record);
        const std::string line = progress.Update(item, TimeGetTime());
        if (terminal) {
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
    if (result->bSucceeded) {
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
    Fail(result->szMessage, result->szDetail);
    return kFailed;
}
