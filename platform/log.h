// The program's diagnostic log: one UTF-16LE line per call, appended to a dated file.
// Thread: any thread may call Print; one global instance, g_Log, lives for the process.
#pragma once

#include <climits>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

enum : uint16_t { LOG_INFO = 0, LOG_WARNING = 1, LOG_ERROR = 2 };
enum : uint16_t { LOG_FILE_SINGLE = 0, LOG_FILE_HOURLY = 1, LOG_FILE_DAILY = 2 };
enum : uint16_t { LOG_FOLDER_FLAT = 0, LOG_FOLDER_DAILY = 1, LOG_FOLDER_MONTHLY = 2 };

class CLog {
public:
    // Longest line in UTF-16 units, terminator excluded; longer lines are cut.
    static constexpr int MAX_LINE_UNITS = 8191;

    CLog() = default;
    virtual ~CLog() = default;
    CLog(const CLog&) = delete;
    CLog& operator=(const CLog&) = delete;

    // printf-style; UTF-8 format and arguments. Never fails visibly: a line that cannot be
    // written is dropped.
    void Print(uint16_t level, const char* format, ...) __attribute__((format(printf, 3, 4)));

    // Plain configuration data written by the owner before logging starts. An empty folder
    // keeps the log silent.
    bool m_bDecorate = false;
    char m_szFolder[PATH_MAX] = {};
    char m_szName[64] = {};
    uint16_t m_nFileMode = 0;
    uint16_t m_nFolderMode = 0;

private:
    std::mutex m_cs;
};

extern CLog g_Log;

// A line held back from the log, for a caller that writes lines in an order of its own.
struct HeldLogLine {
    uint16_t level;
    std::string text;
};
// While set, lines printed on the calling thread go to held instead of the log (already
// formatted); null writes them again. Thread: affects only the calling thread.
void HoldLogLines(std::vector<HeldLogLine>* held);
