// Points g_Log at a private folder for one test and reads back the lines it wrote; the old
// configuration returns when the object dies. Thread: the test's thread owns it.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

// The lines of a log file (UTF-16LE, CR LF), as UTF-8 without the line breaks.
std::vector<std::string> ReadLogLines(const std::filesystem::path& file);

class LogCapture {
public:
    // Lines in one file below folder (created if missing); with levels each line reads
    // "LEVEL text" (the time left out), else just the text.
    explicit LogCapture(const std::filesystem::path& folder, bool levels = false);
    ~LogCapture();
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    // Every line written so far, as UTF-8 without the line break.
    std::vector<std::string> Lines() const;
    // Whether any line holds text.
    bool Has(const std::string& text) const;

private:
    std::filesystem::path m_file;
    bool m_bLevels;
    bool m_bOldDecorate;
    std::string m_oldFolder;
    std::string m_oldName;
    uint16_t m_nOldFileMode;
    uint16_t m_nOldFolderMode;
};
