// The progress arithmetic fed with made-up records and a made-up clock.
#include "core/progress_model.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

CFileList Sizes(const std::vector<std::pair<std::string, uint64_t>>& files) {
    CFileList list;
    for (const auto& [name, size] : files) {
        list.FileList.push_back({name, size, ""});
        list.TotalSize += size;
    }
    list.TotalCount = static_cast<int32_t>(files.size());
    return list;
}

DownloadProgress Record(int32_t index, uint32_t start, uint64_t total, uint64_t done,
                        bool skipped = false) {
    DownloadProgress record;
    record.nFileIndex = index;
    record.bSkipped = skipped ? 1 : 0;
    record.dwStartTime = start;
    record.nFileTotal = total;
    record.nFileDone = done;
    return record;
}

TEST(ProgressModel, BeforeTheRunShowsTheFirstEntryAndZeroes) {
    const CFileList list = Sizes({{"a.bin", 1536}, {"b.bin", 10}});
    const CProgressModel model(list);
    const ProgressTexts& t = model.Texts();
    EXPECT_EQ(t.fileName, "a.bin");
    EXPECT_EQ(t.fileSize, "1.50 KB");
    EXPECT_EQ(t.speed, "0 Bytes/sec");
    EXPECT_EQ(t.fileDone, "0 Bytes");
    EXPECT_EQ(t.timeLeft, "00:00:00");
    EXPECT_EQ(t.elapsed, "00:00:00");
    EXPECT_EQ(t.totalDone, "0 Bytes");
    EXPECT_EQ(t.totalSize, "1.51 KB");

    const CFileList empty;
    const CProgressModel none(empty);
    EXPECT_EQ(none.Texts().fileName, "");
    EXPECT_EQ(none.Texts().fileSize, "0 Bytes");
}

TEST(ProgressModel, RecordsMoveTheTextsAndBars) {
    const CFileList list =
        Sizes({{"a.bin", 10000}, {"dir/b.bin", 90062000}, {"c.bin", 0}, {"d.bin", 2048}});
    CProgressModel model(list);
    struct Step {
        const char* what;
        uint32_t now;
        DownloadProgress record;
        // Expected afterwards.
        const char* name;
        const char* size;
        const char* speed;
        const char* fileDone;
        const char* left;
        const char* totalDone;
        int fileBar;
        int totalBar;
    };
    const Step steps[] = {
        // The clock wraps between start and now: still one second.
        {"first file, first record", 0, Record(0, 0xFFFFFFFFu - 999, 10000, 1000), "a.bin",
         "9.77 KB", "1000 Bytes/sec", "1000 Bytes", "00:00:09", "1000 Bytes", 10, 0},
        {"same file, nothing new: no speed", 1000, Record(0, 0xFFFFFFFFu - 999, 10000, 1000),
         "a.bin", "9.77 KB", "", "1000 Bytes", "00:00:18", "1000 Bytes", 10, 0},
        {"same file grows", 2000, Record(0, 0xFFFFFFFFu - 999, 10000, 3048), "a.bin", "9.77 KB",
         "2.00 KB/sec", "2.98 KB", "00:00:06", "2.98 KB", 30, 0},
        {"skipped file keeps the speed", 2001, Record(3, 2000, 2048, 2048, true), "d.bin",
         "2.00 KB", "2.00 KB/sec", "2.00 KB", "00:00:00", "4.98 KB", 100, 0},
        // 90,061 s left: the day is dropped and the seconds show 0.
        {"new file, a day and more left", 5000, Record(1, 4000, 90062000, 1000), "dir/b.bin",
         "85.89 MB", "0 Bytes/sec", "1000 Bytes", "01:01:00", "5.95 KB", 0, 0},
        {"complete empty file", 6000, Record(2, 5500, 0, 0), "c.bin", "0 Bytes", "0 Bytes/sec",
         "0 Bytes", "00:00:00", "5.95 KB", 100, 0},
        // A speed of 0: nothing has come yet, so no time left can be told.
        {"no rate yet", 8000, Record(0, 7000, 10000, 0), "a.bin", "9.77 KB", "0 Bytes/sec",
         "0 Bytes", "00:00:00", "5.95 KB", 0, 0},
        // More on disk than listed (until it is replaced): nothing left, not 2^64 bytes.
        {"file longer than listed", 9000, Record(0, 7000, 10000, 12000), "a.bin", "9.77 KB",
         "11.72 KB/sec", "11.72 KB", "00:00:00", "17.67 KB", 120, 0},
    };
    for (const Step& s : steps) {
        SCOPED_TRACE(s.what);
        const ProgressChange change = model.Take(s.record, s.now);
        EXPECT_TRUE(change.shown);
        EXPECT_FALSE(change.rebasedStartTime);
        const ProgressTexts& t = model.Texts();
        EXPECT_EQ(t.fileName, s.name);
        EXPECT_EQ(t.fileSize, s.size);
        EXPECT_EQ(t.speed, s.speed);
        EXPECT_EQ(t.fileDone, s.fileDone);
        EXPECT_EQ(t.timeLeft, s.left);
        EXPECT_EQ(t.totalDone, s.totalDone);
        EXPECT_EQ(t.filePercent, s.fileBar);
        EXPECT_EQ(t.totalPercent, s.totalBar);
    }

    // A record at its own start time counts its bytes but shows nothing yet.
    ProgressChange change = model.Take(Record(3, 9000, 2048, 1024), 9000);
    EXPECT_FALSE(change.shown);
    EXPECT_EQ(model.Texts().fileName, "a.bin");
    EXPECT_EQ(model.Texts().totalDone, "17.67 KB");
    change = model.Take(Record(3, 9000, 2048, 2048), 10000);
    EXPECT_TRUE(change.shown);
    EXPECT_FALSE(change.fileChanged);
    EXPECT_EQ(model.Texts().fileName, "a.bin");
    EXPECT_EQ(model.Texts().totalDone, "19.67 KB");

    // Files counted again push the total past the list's size; the bar stays full.
    model.Take(Record(1, 9000, 90062000, 90062000), 10000);
    model.Take(Record(0, 9000, 10000, 10000), 10000);
    model.Take(Record(1, 9000, 90062000, 90062000), 10000);
    EXPECT_EQ(model.Texts().totalDone, "171.81 MB");
    EXPECT_EQ(model.Texts().totalPercent, 100);
    EXPECT_EQ(model.TotalReceived(), 180154144u);
}

// With several transfers the records show one file, and carry the bytes of the later files
// already begun: they count in the total and the speed at once, and once, when their own
// file is shown.
TEST(ProgressModel, BytesOfTransfersBesideTheShownFileCountOnce) {
    const CFileList list = Sizes({{"a.bin", 10000}, {"b.bin", 20000}, {"c.bin", 30000}});
    CProgressModel model(list);
    model.OnStart();
    struct Step {
        const char* what;
        uint32_t now;
        DownloadProgress record;
        uint64_t other;
        const char* name;
        const char* speed;
        uint64_t total;
    };
    const Step steps[] = {
        {"a begins, b and c beside it", 1000, Record(0, 0, 10000, 1000), 5000, "a.bin",
         "5.86 KB/sec", 6000},
        {"a is done, the others grow", 2000, Record(0, 0, 10000, 10000), 15000, "a.bin",
         "18.55 KB/sec", 25000},
        {"b is shown: its bytes leave the others", 3000, Record(1, 1500, 20000, 12000), 3000,
         "b.bin", "0 Bytes/sec", 25000},
        {"only the others grow", 4000, Record(1, 1500, 20000, 12000), 9000, "b.bin", "5.86 KB/sec",
         31000},
    };
    for (const Step& s : steps) {
        SCOPED_TRACE(s.what);
        DownloadProgress record = s.record;
        record.nOtherDone = s.other;
        EXPECT_TRUE(model.Take(record, s.now).shown);
        EXPECT_EQ(model.Texts().fileName, s.name);
        EXPECT_EQ(model.Texts().speed, s.speed);
        EXPECT_EQ(model.TotalReceived(), s.total);
    }
    // A new run counts the files beside the shown one afresh.
    model.OnStop(5000);
    model.OnStart();
    DownloadProgress record = Record(1, 6000, 20000, 13000);
    record.nOtherDone = 2000;
    model.Take(record, 7000);
    EXPECT_EQ(model.TotalReceived(), 31000u + 1000 + 2000);
}

TEST(ProgressModel, RecordsOfEntriesThatDoNotExistCountButNameNothing) {
    const CFileList empty;
    CProgressModel model(empty);
    EXPECT_TRUE(model.Take(Record(3, 1000, 10, 5), 2000).shown);
    EXPECT_TRUE(model.Take(Record(-1, 1000, 10, 5), 2000).shown);
    EXPECT_EQ(model.Texts().fileName, "");
    EXPECT_EQ(model.Texts().fileDone, "5 Bytes");
    // An empty list is complete from the start.
    EXPECT_EQ(model.Texts().totalPercent, 100);
}

TEST(ProgressModel, FirstRecordAfterStopAndStartRebasesTheFileClock) {
    const CFileList list = Sizes({{"a.bin", 100000}, {"b.bin", 100}});
    CProgressModel model(list);
    model.OnStart();
    model.Take(Record(0, 7000, 100000, 5000), 10000);
    EXPECT_EQ(model.Texts().timeLeft, "00:00:57");

    model.OnStop(12000);
    // Forty seconds later the run goes on.
    model.OnStart();
    // The five seconds already spent (stop time minus the file's start) go behind now, plus
    // a second for the new connection; the record's own start time is not used.
    ProgressChange change = model.Take(Record(0, 52000, 100000, 5000), 52000);
    ASSERT_TRUE(change.rebasedStartTime);
    EXPECT_EQ(*change.rebasedStartTime, 52000u - 5000 + 1000);
    EXPECT_EQ(model.Texts().timeLeft, "00:01:35");

    // Later records carry the re-based start.
    change = model.Take(Record(0, 48000, 100000, 12000), 54000);
    EXPECT_FALSE(change.rebasedStartTime);
    EXPECT_EQ(model.Texts().timeLeft, "00:00:44");

    // A stop at the file's own start time: the re-based record has no time to divide by and
    // shows nothing.
    model.OnStop(48000);
    model.OnStart();
    change = model.Take(Record(0, 48000, 100000, 12000), 60000);
    ASSERT_TRUE(change.rebasedStartTime);
    EXPECT_EQ(*change.rebasedStartTime, 61000u);
    EXPECT_FALSE(change.shown);
}

TEST(ProgressModel, ElapsedClockCountsTicksAndStartsAgainAfterAStop) {
    const CFileList list = Sizes({{"a.bin", 1}});
    CProgressModel model(list);
    for (int i = 0; i < 60 * 60 + 61; ++i) {
        model.Tick();
    }
    EXPECT_EQ(model.Texts().elapsed, "01:01:01");
    model.OnStop(0);
    // The text stays until the next tick.
    EXPECT_EQ(model.Texts().elapsed, "01:01:01");
    EXPECT_EQ(model.Tick(), "00:00:01");
}

}  // namespace
