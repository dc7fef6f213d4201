#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "platform/log.h"
#include "platform/utf8.h"
#include "support/sandbox.h"
#include "support/test_data.h"

namespace fs = std::filesystem;

namespace {

std::string Utf16Le(std::u16string_view text) {
    std::string out;
    for (char16_t u : text) {
        out.push_back(static_cast<char>(u & 0xFF));
        out.push_back(static_cast<char>(u >> 8));
    }
    return out;
}

std::string AsciiUtf16Le(std::string_view text) {
    std::string out;
    for (char c : text) {
        out.push_back(c);
        out.push_back('\0');
    }
    return out;
}

// Back from UTF-16LE to one char per unit; fails the test on any unit above 0x7F.
std::string AsciiFromUtf16Le(const std::string& bytes) {
    EXPECT_EQ(bytes.size() % 2, 0u);
    std::string out;
    for (size_t i = 0; i + 1 < bytes.size(); i += 2) {
        EXPECT_EQ(bytes[i + 1], '\0') << "unit " << i / 2;
        out.push_back(bytes[i]);
    }
    return out;
}

std::tm LocalNow() {
    const std::time_t t = std::time(nullptr);
    std::tm local{};
    localtime_r(&t, &local);
    return local;
}

std::string Stamp(const char* format, const std::tm& t) {
    char text[64];
    std::strftime(text, sizeof text, format, &t);
    return text;
}

void Configure(CLog& log, const fs::path& folder, const char* name, uint16_t fileMode,
               uint16_t folderMode, bool decorate) {
    std::snprintf(log.m_szFolder, sizeof log.m_szFolder, "%s", folder.c_str());
    std::snprintf(log.m_szName, sizeof log.m_szName, "%s", name);
    log.m_nFileMode = fileMode;
    log.m_nFolderMode = folderMode;
    log.m_bDecorate = decorate;
}

// The one daily file the log wrote into, whichever side of midnight the call fell on.
fs::path DailyFile(const fs::path& folder, const std::tm& before, const std::tm& after) {
    for (const std::tm& t : {before, after}) {
        fs::path p = folder / ("Quellbridger_" + Stamp("%Y%m%d", t) + ".txt");
        if (fs::exists(p)) {
            return p;
        }
    }
    ADD_FAILURE() << "no Quellbridger_" << Stamp("%Y%m%d", before) << ".txt in " << folder;
    return {};
}

const std::regex kStamp(R"(\[\d\d:[0-5]\d:[0-5]\d,\d\d\d\])");

TEST(Log, WritesBareAndDecoratedLinesAsUtf16WithoutByteOrderMark) {
    Sandbox box;
    CLog log;
    Configure(log, box.Path(), "Quellbridger", LOG_FILE_DAILY, LOG_FOLDER_FLAT, false);

    // The start of a run: a bare empty line, then decorated lines.
    const std::tm before = LocalNow();
    log.Print(LOG_INFO, "%s", "");
    log.m_bDecorate = true;
    log.Print(LOG_INFO, "log initialize success");
    const std::tm after = LocalNow();

    const std::string bytes = ReadFileBytes(DailyFile(box.Path(), before, after));
    ASSERT_GE(bytes.size(), 4u + 2 * 14);
    const std::string stamp = AsciiFromUtf16Le(bytes.substr(4, 2 * 14));
    ASSERT_TRUE(std::regex_match(stamp, kStamp)) << stamp;
    const int hour = std::stoi(stamp.substr(1, 2));
    EXPECT_TRUE(hour == before.tm_hour || hour == after.tm_hour) << stamp;

    // No byte-order mark; a blank before CR LF on decorated lines only.
    EXPECT_EQ(bytes, AsciiUtf16Le("\r\n" + stamp + " [INFO] log initialize success \r\n"));
}

TEST(Log, AppendsToTheDayFileAcrossRuns) {
    Sandbox box;
    const std::tm before = LocalNow();
    for (int run = 0; run < 2; ++run) {
        CLog log;
        Configure(log, box.Path(), "Quellbridger", LOG_FILE_DAILY, LOG_FOLDER_FLAT, false);
        log.Print(LOG_INFO, "%s", "");
        log.m_bDecorate = true;
        log.Print(LOG_INFO, "run %d", run);
    }
    const std::string text =
        AsciiFromUtf16Le(ReadFileBytes(DailyFile(box.Path(), before, LocalNow())));
    const std::regex whole(
        R"(\r\n\[[^\]]*\] \[INFO\] run 0 \r\n\r\n\[[^\]]*\] \[INFO\] run 1 \r\n)");
    EXPECT_TRUE(std::regex_match(text, whole)) << text;
}

TEST(Log, PutsTheLevelTextBetweenTheSecondBrackets) {
    struct Case {
        uint16_t level;
        const char* text;
    };
    const Case cases[] = {
        {LOG_INFO, "INFO"}, {LOG_WARNING, "WARNING"}, {LOG_ERROR, "ERROR"}, {7, ""}};
    Sandbox box;
    CLog log;
    Configure(log, box.Path(), "levels", LOG_FILE_SINGLE, LOG_FOLDER_FLAT, true);
    for (const Case& c : cases) {
        log.Print(c.level, "message %d", c.level);
    }
    const std::string text = AsciiFromUtf16Le(box.Read("levels.txt"));
    std::string expected;
    for (const Case& c : cases) {
        expected += std::string(R"(\[\d\d:\d\d:\d\d,\d\d\d\] \[)") + c.text + R"(\] message )" +
                    std::to_string(c.level) + " \r\n";
    }
    EXPECT_TRUE(std::regex_match(text, std::regex(expected))) << text;
}

TEST(Log, FormatsLikePrintf) {
    Sandbox box;
    CLog log;
    Configure(log, box.Path(), "printf", LOG_FILE_SINGLE, LOG_FOLDER_FLAT, false);
    log.Print(LOG_INFO, "(100%%) file download success");
    log.Print(LOG_ERROR, "InternetQueryDataAvailable - (%ld)", 28L);
    log.Print(LOG_INFO, "%s|%5d|%-3s|%llu", "x", 42, "y", 18446744073709551615ull);
    EXPECT_EQ(box.Read("printf.txt"), AsciiUtf16Le("(100%) file download success\r\n"
                                                   "InternetQueryDataAvailable - (28)\r\n"
                                                   "x|   42|y  |18446744073709551615\r\n"));
}

TEST(Log, ConvertsUtf8ToUtf16) {
    Sandbox box;
    CLog log;
    Configure(log, box.Path(), "utf", LOG_FILE_SINGLE, LOG_FOLDER_FLAT, false);
    log.Print(LOG_INFO, "%s", "Größe 日本語 한국어 😀 end");
    // A byte that starts no UTF-8 sequence becomes the replacement character.
    log.Print(LOG_INFO, "bad \xff byte %s", "\xe6\x97");
    EXPECT_EQ(box.Read("utf.txt"),
              Utf16Le(u"Größe 日本語 한국어 😀 end\r\nbad \uFFFD byte \uFFFD\uFFFD\r\n"));
}

TEST(Log, CutsLinesAt8191UnitsWithoutSplittingACharacter) {
    struct Case {
        std::string message;
        std::u16string expected;
    };
    const std::string a8189(8189, 'a');
    const std::u16string u8189(8189, u'a');
    const Case cases[] = {
        // Exactly 8,191 units: the whole line.
        {a8189, u8189 + u"\r\n"},
        {a8189 + "a", u8189 + u"a\r"},
        {std::string(20000, 'a'), std::u16string(8191, u'a')},
        // A surrogate pair that ends at the limit stays; one that would cross it goes whole.
        {a8189 + "😀", u8189 + u"😀"},
        {a8189 + "a😀", u8189 + u"a"},
        {std::string(9000, 'x') + "\xc3\xa9", std::u16string(8191, u'x')},
    };
    for (const Case& c : cases) {
        Sandbox box;
        CLog log;
        Configure(log, box.Path(), "cut", LOG_FILE_SINGLE, LOG_FOLDER_FLAT, false);
        log.Print(LOG_INFO, "%s", c.message.c_str());
        const std::string bytes = box.Read("cut.txt");
        EXPECT_EQ(bytes.size(), c.expected.size() * 2) << c.message.size();
        EXPECT_TRUE(bytes == Utf16Le(c.expected)) << c.message.size();
    }

    // A decorated line of three-byte characters is cut the same way, after the time stamp.
    Sandbox box;
    CLog log;
    Configure(log, box.Path(), "cut", LOG_FILE_SINGLE, LOG_FOLDER_FLAT, true);
    std::string message;
    for (int i = 0; i < 9000; ++i) {
        message += "日";
    }
    log.Print(LOG_WARNING, "%s", message.c_str());
    const std::string bytes = box.Read("cut.txt");
    ASSERT_EQ(bytes.size(), 8191u * 2);
    EXPECT_EQ(bytes.substr(2 * 14, 2 * 11), AsciiUtf16Le(" [WARNING] "));
    EXPECT_EQ(bytes.substr(bytes.size() - 2), Utf16Le(u"日"));
}

TEST(Log, NamesFilesAndFoldersByTheModes) {
    struct Case {
        uint16_t fileMode;
        uint16_t folderMode;
        const char* path;  // strftime pattern below the base folder; empty: nothing written
    };
    const Case cases[] = {
        {LOG_FILE_SINGLE, LOG_FOLDER_FLAT, "Quellbridger.txt"},
        {LOG_FILE_HOURLY, LOG_FOLDER_FLAT, "Quellbridger_%Y%m%d%H.txt"},
        {LOG_FILE_DAILY, LOG_FOLDER_FLAT, "Quellbridger_%Y%m%d.txt"},
        {LOG_FILE_DAILY, LOG_FOLDER_DAILY, "%Y%m%d/Quellbridger_%Y%m%d.txt"},
        {LOG_FILE_SINGLE, LOG_FOLDER_MONTHLY, "%Y%m/Quellbridger.txt"},
        {3, LOG_FOLDER_FLAT, ""},
        {LOG_FILE_DAILY, 3, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message()
                     << "file mode " << c.fileMode << ", folder mode " << c.folderMode);
        Sandbox box;
        CLog log;
        Configure(log, box.Path(), "Quellbridger", c.fileMode, c.folderMode, false);
        const std::tm before = LocalNow();
        log.Print(LOG_INFO, "line");
        const std::tm after = LocalNow();

        std::vector<fs::path> files;
        for (const auto& e : fs::recursive_directory_iterator(box.Path())) {
            if (e.is_regular_file()) {
                files.push_back(fs::relative(e.path(), box.Path()));
            }
        }
        if (c.path[0] == '\0') {
            EXPECT_TRUE(fs::is_empty(box.Path()));
            continue;
        }
        ASSERT_EQ(files.size(), 1u);
        EXPECT_TRUE(files[0] == Stamp(c.path, before) || files[0] == Stamp(c.path, after))
            << files[0];
        EXPECT_EQ(ReadFileBytes(box.Path() / files[0]), AsciiUtf16Le("line\r\n"));
    }
}

TEST(Log, StaysSilentUntilAFolderIsConfigured) {
    EXPECT_EQ(g_Log.m_szFolder[0], '\0');
    g_Log.Print(LOG_INFO, "before configuration");

    // Everything but the folder set: still nothing, not even below "/".
    const std::string name = "qb-silent-" + std::to_string(::getpid());
    CLog log;
    Configure(log, "", name.c_str(), LOG_FILE_SINGLE, LOG_FOLDER_FLAT, true);
    log.Print(LOG_ERROR, "before configuration");
    const fs::path stray = fs::path("/") / (name + ".txt");
    EXPECT_FALSE(fs::exists(stray));
    std::error_code ec;
    fs::remove(stray, ec);
}

TEST(Log, RecreatesADeletedFolderOneLevelDeep) {
    Sandbox box;
    const fs::path folder = box.Path() / "Quellbridger";
    CLog log;
    Configure(log, folder, "log", LOG_FILE_SINGLE, LOG_FOLDER_FLAT, false);
    log.Print(LOG_INFO, "first");
    EXPECT_EQ(ReadFileBytes(folder / "log.txt"), AsciiUtf16Le("first\r\n"));

    fs::remove_all(folder);
    log.Print(LOG_INFO, "second");
    EXPECT_EQ(ReadFileBytes(folder / "log.txt"), AsciiUtf16Le("second\r\n"));

    // Only the last level is made: a missing parent drops the line.
    Configure(log, box.Path() / "gone" / "Quellbridger", "log", LOG_FILE_SINGLE, LOG_FOLDER_FLAT,
              false);
    log.Print(LOG_INFO, "third");
    EXPECT_FALSE(fs::exists(box.Path() / "gone"));
}

TEST(Log, KeepsWritingWhileAnotherReaderHoldsTheFile) {
    Sandbox box;
    CLog log;
    Configure(log, box.Path(), "log", LOG_FILE_SINGLE, LOG_FOLDER_FLAT, false);
    log.Print(LOG_INFO, "one");

    const fs::path file = box.Path() / "log.txt";
    const int reader = ::open(file.c_str(), O_RDONLY);
    ASSERT_GE(reader, 0);
    ASSERT_EQ(::flock(reader, LOCK_SH), 0);
    log.Print(LOG_INFO, "two");
    char head[6] = {};
    EXPECT_EQ(::read(reader, head, sizeof head), 6);
    ::close(reader);
    EXPECT_EQ(ReadFileBytes(file), AsciiUtf16Le("one\r\ntwo\r\n"));
}

TEST(Log, TwoThreadsLoseAndTearNoLine) {
    constexpr int kLines = 1000;
    Sandbox box;
    CLog log;
    Configure(log, box.Path(), "log", LOG_FILE_SINGLE, LOG_FOLDER_FLAT, true);
    auto writer = [&log](int thread) {
        for (int i = 0; i < kLines; ++i) {
            log.Print(LOG_INFO, "thread %d line %04d %s", thread, i, "payload to widen the line");
        }
    };
    std::thread first(writer, 1);
    std::thread second(writer, 2);
    first.join();
    second.join();

    const std::string text = AsciiFromUtf16Le(box.Read("log.txt"));
    const std::regex line(
        R"(\[\d\d:\d\d:\d\d,\d\d\d\] \[INFO\] thread ([12]) line (\d{4}) payload to widen the line )");
    int next[3] = {0, 0, 0};
    size_t start = 0;
    size_t count = 0;
    while (start < text.size()) {
        const size_t end = text.find("\r\n", start);
        ASSERT_NE(end, std::string::npos) << "unterminated tail at " << start;
        const std::string one = text.substr(start, end - start);
        std::smatch m;
        ASSERT_TRUE(std::regex_match(one, m, line)) << "line " << count << ": " << one;
        const int thread = std::stoi(m[1]);
        // Each thread's lines arrive whole and in its own order.
        EXPECT_EQ(std::stoi(m[2]), next[thread]++);
        ++count;
        start = end + 2;
    }
    EXPECT_EQ(count, 2u * kLines);
    EXPECT_EQ(next[1], kLines);
    EXPECT_EQ(next[2], kLines);
}

}  // namespace

// Texts cut for the log keep whole characters: a cut inside one backs off to its start.
TEST(Utf8CutLength, EndsBeforeACharacterThatDoesNotFit) {
    struct Case {
        std::string text;
        size_t max;
        size_t expected;
    };
    const Case cases[] = {
        {"abc", 5, 3},
        {"abc", 2, 2},
        {"a\xC3\xA9", 2, 1},  // é cut after its first byte
        {"a\xC3\xA9", 3, 3},
        {"a\xE6\x97\xA5z", 2, 1},  // 日 after one byte
        {"a\xE6\x97\xA5z", 3, 1},  // and after two
        {"a\xE6\x97\xA5z", 4, 4},
        {"a\xF0\x9F\x98\x80z", 4, 1},  // 😀 after three bytes
        {"a\xF0\x9F\x98\x80z", 5, 5},
        {"\xE6\x97\xA5", 1, 0},
        {"ab\x80\x80\x80\x80z", 5, 5},  // stray continuation bytes: cut where asked
        {"a\xFF\xFEz", 2, 2},           // bytes that lead nothing: cut where asked
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text + " at " + std::to_string(c.max));
        EXPECT_EQ(Utf8CutLength(c.text.data(), c.text.size(), c.max), c.expected);
    }
}

namespace {

// Lines held on one thread stay out of the file, whole however long, with their level;
// another thread's lines are written meanwhile, and the thread writes again once released.
TEST(Log, HeldLinesStayOffTheFileOfThatThreadOnly) {
    Sandbox box;
    CLog log;
    Configure(log, box.Path(), "held", LOG_FILE_SINGLE, LOG_FOLDER_FLAT, false);
    const std::string longText(3000, 'x');
    std::vector<HeldLogLine> held;
    HoldLogLines(&held);
    log.Print(LOG_WARNING, "held %d", 1);
    log.Print(LOG_ERROR, "%s", longText.c_str());
    std::thread other([&] { log.Print(LOG_INFO, "other thread"); });
    other.join();
    HoldLogLines(nullptr);
    log.Print(LOG_INFO, "written");

    ASSERT_EQ(held.size(), 2u);
    EXPECT_EQ(held[0].level, LOG_WARNING);
    EXPECT_EQ(held[0].text, "held 1");
    EXPECT_EQ(held[1].level, LOG_ERROR);
    EXPECT_EQ(held[1].text, longText);
    EXPECT_EQ(AsciiFromUtf16Le(ReadFileBytes(box.Path() / "held.txt")),
              "other thread\r\nwritten\r\n");
}

}  // namespace
