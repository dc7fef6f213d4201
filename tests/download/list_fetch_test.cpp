// Fetching and reading the file list at session start, against the fault server.
#include <curl/curl.h>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "download/file_list_check.h"
#include "download/list_fetch.h"
#include "platform/log.h"
#include "support/closed_port.h"
#include "support/env_guard.h"
#include "support/fault_server.h"
#include "support/log_capture.h"
#include "support/sandbox.h"
#include "support/test_data.h"

namespace {

const HttpTimeouts kQuick{2000, 3};

bool HasLine(const LogCapture& log, const std::string& text) {
    for (const std::string& line : log.Lines()) {
        if (line == text) {
            return true;
        }
    }
    return false;
}

bool HasLinePrefix(const LogCapture& log, const std::string& text) {
    for (const std::string& line : log.Lines()) {
        if (line.starts_with(text) && line.size() > text.size()) {
            return true;
        }
    }
    return false;
}

// A valid document, padded with a comment to about size bytes.
std::string Document(size_t size) {
    std::string text =
        "{\"Version\": \"2023.08.14.01\", \"URL\": \"http://127.0.0.1:1/\", \"TotalCount\": 1,"
        " \"TotalSize\": 3, \"FileList\": [{\"Name\": \"abc.txt\", \"Size\": 3,"
        " \"CheckSum\": \"900150983CD24FB0D6963F7D28E17F72\"}]}\n";
    if (size > text.size() + 5) {
        text += "/*" + std::string(size - text.size() - 4, 'p') + "*/";
    }
    return text;
}

TEST(DownloadFileListText, ReadsTheWholeBodyOfAnyAcceptedLength) {
    struct Case {
        const char* label;
        size_t size;
        int status;
    };
    const Case cases[] = {
        {"small", 300, 200},
        {"over the old 8 KiB buffer", 100 * 1024, 200},
        {"at the bound", MAX_FILE_LIST_BYTES, 200},
        {"partial content with a length", 2000, 206},
    };
    Sandbox box;
    LogCapture log(box.Path());
    FaultServer server;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        FaultRoute route;
        route.body = Document(c.size);
        route.status = c.status;
        server.SetRoute("/filelist.json", route);
        std::string text = "left over";
        EXPECT_EQ(DownloadFileListText(server.Url("filelist.json"), text, kQuick), 0u);
        EXPECT_EQ(text.size(), route.body.size());
        EXPECT_TRUE(text == route.body);
        CFileList list;
        EXPECT_TRUE(ReadFileListText(text, list));
        EXPECT_EQ(list.FileList.size(), 1u);
    }
    for (const FaultRequest& request : server.Requests()) {
        EXPECT_EQ(request.Header("User-Agent"), "HttpClient/1.0");
        EXPECT_FALSE(request.HasHeader("Range"));
    }
    EXPECT_TRUE(HasLine(log, "file list download success"));
}

TEST(DownloadFileListText, FailsWithTheStatusOrTheTransferError) {
    const std::string body = Document(5000);
    struct Case {
        const char* label;
        FaultRoute route;
        uint32_t code;
    };
    FaultRoute missing;
    missing.status = 404;
    missing.body = "<html>404 Not Found</html>";
    FaultRoute cut;
    cut.body = body;
    cut.cutAfter = 1000;
    FaultRoute reset;
    reset.body = body;
    reset.resetAfter = 1000;
    FaultRoute huge;
    huge.endless = true;
    huge.declaredLength = MAX_FILE_LIST_BYTES + 1;
    FaultRoute serverError;
    serverError.status = 500;
    const Case cases[] = {
        {"not found", missing, 404},
        {"server error", serverError, 500},
        {"cut short", cut, CURLE_PARTIAL_FILE},
        {"reset", reset, CURLE_RECV_ERROR},
        {"over the bound", huge, CURLE_FILESIZE_EXCEEDED},
    };
    FaultServer server;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        Sandbox box;
        LogCapture log(box.Path());
        server.SetRoute("/filelist.json", c.route);
        std::string text = "left over";
        EXPECT_EQ(DownloadFileListText(server.Url("filelist.json"), text, kQuick), c.code);
        EXPECT_EQ(text, "");
        // One line says it all, also for a body cut short.
        ASSERT_EQ(log.Lines().size(), 1u);
        EXPECT_TRUE(HasLinePrefix(
            log, "file list download is failed - (" + std::to_string(c.code) + "): "));
    }

    Sandbox box;
    LogCapture log(box.Path());
    ClosedPort closed;
    std::string text;
    EXPECT_EQ(DownloadFileListText(closed.BaseUrl() + "filelist.json", text, kQuick),
              static_cast<uint32_t>(CURLE_COULDNT_CONNECT));
    EXPECT_FALSE(HasLine(log, "file list download success"));
}

// A stop while the list's body is held up ends the fetch at once; the one line that says so
// is the list's own, with no read error beside it.
TEST(DownloadFileListText, AStopInTheBodyLogsOnlyTheListLine) {
    FaultRoute stalled;
    stalled.body = Document(200000);
    stalled.stallAfterBytes = 1000;
    stalled.stallMs = 30000;
    FaultServer server;
    server.SetRoute("/filelist.json", stalled);
    Sandbox box;
    LogCapture log(box.Path());
    std::atomic<bool> running{true};
    std::thread stopper([&] {
        server.WaitForRequests(1);
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        running = false;
    });
    std::string text;
    EXPECT_EQ(DownloadFileListText(server.Url("filelist.json"), text, kQuick, &running),
              static_cast<uint32_t>(CURLE_ABORTED_BY_CALLBACK));
    stopper.join();
    ASSERT_EQ(log.Lines().size(), 1u);
    EXPECT_TRUE(HasLinePrefix(log, "file list download is failed - (42)"));
}

// Lists that a server generates come without a Content-Length (chunked, or over HTTP/2):
// read to their end within the same bound, and a cut-short one is still refused.
TEST(DownloadFileListText, ReadsAListWithoutContentLengthWithinTheBound) {
    const std::string body = Document(200 * 1024);
    struct Case {
        const char* label;
        FaultRoute::Length length;
        bool endless;
        std::optional<uint64_t> cutAfter;
        bool broken;
        uint32_t code;
    };
    const Case cases[] = {
        {"chunked", FaultRoute::Length::Chunked, false, std::nullopt, false, 0},
        {"until the connection closes", FaultRoute::Length::None, false, std::nullopt, false, 0},
        {"chunked without end", FaultRoute::Length::Chunked, true, std::nullopt, false,
         CURLE_FILESIZE_EXCEEDED},
        {"chunked cut short", FaultRoute::Length::Chunked, false, 100000, false,
         CURLE_PARTIAL_FILE},
        {"broken chunk", FaultRoute::Length::Chunked, false, std::nullopt, true, CURLE_RECV_ERROR},
    };
    Sandbox box;
    LogCapture log(box.Path());
    FaultServer server;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        FaultRoute route;
        route.body = body;
        route.length = c.length;
        route.chunkSize = 16384;
        route.endless = c.endless;
        route.cutAfter = c.cutAfter;
        route.brokenChunked = c.broken;
        server.SetRoute("/filelist.json", route);
        std::string text;
        EXPECT_EQ(DownloadFileListText(server.Url("filelist.json"), text, kQuick), c.code);
        if (c.code == 0) {
            EXPECT_TRUE(text == body);
            CFileList list;
            EXPECT_TRUE(ReadFileListText(text, list));
        } else {
            EXPECT_TRUE(text.empty());
        }
    }
}

TEST(ReadFileListText, AcceptsOnlyAParsableValidList) {
    struct Case {
        const char* label;
        std::string text;
        bool ok;
        const char* logLine;
    };
    const Case cases[] = {
        {"valid", Document(0), true, "file list deserialize success"},
        {"not JSON", "<html>oops</html>", false, "file list deserialize is failed"},
        {"empty", "", false, "file list deserialize is failed"},
        {"wrong member type", "{\"Version\": \"2023.08.14.01\", \"TotalCount\": \"many\"}", false,
         "file list deserialize is failed"},
        {"unsafe name",
         "{\"Version\": \"2023.08.14.01\", \"URL\": \"http://h/\", \"TotalCount\": 1, "
         "\"TotalSize\": 3, \"FileList\": [{\"Name\": \"../abc.txt\","
         " \"Size\": 3, \"CheckSum\": \"900150983CD24FB0D6963F7D28E17F72\"}]}",
         false, "invalid file list - entry 0 \"../abc.txt\": unsafe name"},
        {"lower-case checksum",
         "{\"Version\": \"2023.08.14.01\", \"URL\": \"http://h/\", \"TotalCount\": 1, "
         "\"TotalSize\": 3, \"FileList\": [{\"Name\": \"abc.txt\","
         " \"Size\": 3, \"CheckSum\": \"900150983cd24fb0d6963f7d28e17f72\"}]}",
         false,
         "invalid file list - entry 0 \"abc.txt\": checksum is not 32 upper-case hex digits"},
        {"count above entries", "{\"Version\": \"2023.08.14.01\", \"TotalCount\": 1}", false,
         "invalid file list - TotalCount 1 for 0 entries"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        Sandbox box;
        LogCapture log(box.Path());
        CFileList list;
        EXPECT_EQ(ReadFileListText(c.text, list), c.ok);
        EXPECT_EQ(log.Lines(), std::vector<std::string>{c.logLine});
    }
}

// One entry "a.txt" of one byte with its members as given, in a list of this version.
std::string OneEntry(const std::string& entry, const std::string& head = "") {
    return head +
           "{\"Version\": \"2023.08.14.01\", \"URL\": \"http://h/\", \"TotalCount\": 1,"
           " \"TotalSize\": 1, \"FileList\": [{\"Name\": \"a.txt\", " +
           entry + "}]}";
}

const std::string kSumA = "\"CheckSum\": \"0CC175B9C0F1B6A831C399E269772661\"";

// What the reader refuses by naming the entry, and what it takes as the lenient rules
// always have, a byte-order mark included.
TEST(ReadFileListText, RefusesUnusableSizesAndTakesHarmlessForms) {
    struct Case {
        const char* label;
        std::string text;
        bool ok;
        std::string logLine;
        uint64_t size = 1;
    };
    const std::string bad = "invalid file list - entry 0 \"a.txt\": ";
    const Case cases[] = {
        {"size given", OneEntry("\"Size\": 1, " + kSumA), true, "file list deserialize success"},
        {"byte-order mark", OneEntry("\"Size\": 1, " + kSumA, "\xEF\xBB\xBF"), true,
         "file list deserialize success"},
        {"size missing", OneEntry(kSumA), false, bad + "Size is missing"},
        {"size null", OneEntry("\"Size\": null, " + kSumA), false, bad + "Size is null"},
        {"size boolean", OneEntry("\"Size\": true, " + kSumA), false, bad + "Size is a boolean"},
        {"size negative", OneEntry("\"Size\": -1, " + kSumA), false, bad + "Size is negative"},
        {"size negative real", OneEntry("\"Size\": -0.5, " + kSumA), false,
         bad + "Size is negative"},
        {"size a real number, truncated", OneEntry("\"Size\": 1.75, " + kSumA), true,
         "file list deserialize success"},
        {"size as a string", OneEntry("\"Size\": \"1\", " + kSumA), false,
         "file list deserialize is failed"},
        {"the last of two members counts", OneEntry("\"Size\": -1, \"Size\": 1, " + kSumA), true,
         "file list deserialize success"},
        {"leading zero, read leniently", OneEntry("\"Size\": 01, " + kSumA), true,
         "file list deserialize success"},
        {"raw tab in a string, read leniently",
         OneEntry("\"Size\": 1, \"Note\": \"a\tb\", " + kSumA), true,
         "file list deserialize success"},
        {"nested too deep",
         OneEntry("\"Size\": 1, \"Deep\": " + std::string(1100, '[') + std::string(1100, ']') +
                  ", " + kSumA),
         false, "file list deserialize is failed"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        Sandbox box;
        LogCapture log(box.Path());
        CFileList list;
        EXPECT_EQ(ReadFileListText(c.text, list), c.ok);
        EXPECT_EQ(log.Lines(), std::vector<std::string>{c.logLine});
        if (c.ok) {
            ASSERT_EQ(list.FileList.size(), 1u);
            EXPECT_EQ(list.FileList[0].Size, c.size);
        }
    }
}

// A list for a newer installer is reported as such whatever its entries hold: this version
// may not be able to read them.
TEST(ReadFileListText, ChecksTheVersionBeforeTheEntries) {
    const std::string newer =
        "{\"Version\": \"2031.01.01.01\", \"URL\": 5, \"TotalCount\": \"all\", \"FileList\":"
        " [{\"Name\": \"a.txt\", \"Size\": -1, \"CheckSum\": \"sha256:9f86d0\"}, {\"Size\": []}]}";
    Sandbox box;
    LogCapture log(box.Path());
    CFileList list;
    EXPECT_TRUE(ReadFileListText(newer, list));
    EXPECT_EQ(list.Version, "2031.01.01.01");
    EXPECT_FALSE(IsInstallerVersion(list));
    EXPECT_EQ(log.Lines(),
              std::vector<std::string>{"version is not same so you need re-download on homepage"});
}

// Entries past TotalCount are never processed and not kept, however many there are; a member
// that cannot be converted among them still refuses the list, as it always has.
TEST(ReadFileListText, KeepsOnlyTheProcessedEntries) {
    std::string text = OneEntry("\"Size\": 1, " + kSumA);
    text.insert(text.size() - 2, std::string(", {}").append(", {\"Name\": 1}").append(", 3"));
    CFileList list;
    EXPECT_TRUE(ReadFileListText(text, list));
    EXPECT_EQ(list.FileList.size(), 1u);

    std::string unconvertible = text;
    unconvertible.insert(unconvertible.size() - 2, ", {\"Size\": -1}");
    EXPECT_FALSE(ReadFileListText(unconvertible, list));
}

// A TotalSize above the sum of the sizes is taken, with a warning, and the sum is what the
// space check and the total bar go by.
TEST(ReadFileListText, WarnsOfATotalSizeAboveTheSum) {
    std::string text = OneEntry("\"Size\": 1, " + kSumA);
    text.replace(text.find("\"TotalSize\": 1"), 14, "\"TotalSize\": 90");
    Sandbox box;
    LogCapture log(box.Path());
    CFileList list;
    EXPECT_TRUE(ReadFileListText(text, list));
    EXPECT_EQ(list.TotalSize, 90u);
    EXPECT_EQ(EffectiveTotalSize(list), 1u);
    EXPECT_EQ(log.Lines(), (std::vector<std::string>{
                               "file list TotalSize 90 is more than its files need (1): going by 1",
                               "file list deserialize success"}));
}

TEST(IsInstallerVersion, AcceptsOnlyTheExactVersionText) {
    struct Case {
        const char* version;
        bool ok;
    };
    const Case cases[] = {
        {"2023.08.14.01", true},   {"2023.8.14.1", false},   {"", false},
        {"2023.08.14.01 ", false}, {"2023.08.14.02", false}, {"2023.08.14", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.version);
        Sandbox box;
        LogCapture log(box.Path());
        CFileList list;
        list.Version = c.version;
        EXPECT_EQ(IsInstallerVersion(list), c.ok);
        EXPECT_EQ(log.Lines(),
                  c.ok ? std::vector<std::string>{}
                       : std::vector<std::string>{
                             "version is not same so you need re-download on homepage"});
    }
}

TEST(GetFileListUrl, TakesTheEnvironmentOverTheBuiltInAddress) {
    EnvGuard env;
    env.Unset("QUELLBRIDGER_FILE_LIST_URL");
    const std::string builtIn = GetFileListUrl();
    EXPECT_NE(builtIn, "");
    env.Set("QUELLBRIDGER_FILE_LIST_URL", "http://mirror.example/list/filelist.json");
    EXPECT_EQ(GetFileListUrl(), "http://mirror.example/list/filelist.json");
    env.Set("QUELLBRIDGER_FILE_LIST_URL", "");
    EXPECT_EQ(GetFileListUrl(), builtIn);
}

}  // namespace
