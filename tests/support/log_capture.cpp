#include "support/log_capture.h"

#include <cstring>

#include "platform/log.h"
#include "support/test_data.h"

namespace {

void CopyText(char* dest, size_t size, const std::string& text) {
    std::strncpy(dest, text.c_str(), size - 1);
    dest[size - 1] = '\0';
}

// UTF-16LE bytes to UTF-8.
std::string FromUtf16Le(const std::string& bytes) {
    std::string out;
    for (size_t i = 0; i + 1 < bytes.size(); i += 2) {
        char32_t cp =
            static_cast<unsigned char>(bytes[i]) | (static_cast<unsigned char>(bytes[i + 1]) << 8);
        if (cp >= 0xD800 && cp < 0xDC00 && i + 3 < bytes.size()) {
            const char32_t low = static_cast<unsigned char>(bytes[i + 2]) |
                                 (static_cast<unsigned char>(bytes[i + 3]) << 8);
            cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
            i += 2;
        }
        if (cp < 0x80) {
            out += static_cast<char>(cp);
        } else if (cp < 0x800) {
            out += static_cast<char>(0xC0 | (cp >> 6));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        } else if (cp < 0x10000) {
            out += static_cast<char>(0xE0 | (cp >> 12));
            out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (cp >> 18));
            out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        }
    }
    return out;
}

}  // namespace

LogCapture::LogCapture(const std::filesystem::path& folder, bool levels)
    : m_file(folder / "capture.txt"),
      m_bLevels(levels),
      m_bOldDecorate(g_Log.m_bDecorate),
      m_oldFolder(g_Log.m_szFolder),
      m_oldName(g_Log.m_szName),
      m_nOldFileMode(g_Log.m_nFileMode),
      m_nOldFolderMode(g_Log.m_nFolderMode) {
    std::filesystem::create_directories(folder);
    g_Log.m_bDecorate = levels;
    CopyText(g_Log.m_szFolder, sizeof g_Log.m_szFolder, folder.string());
    CopyText(g_Log.m_szName, sizeof g_Log.m_szName, "capture");
    g_Log.m_nFileMode = LOG_FILE_SINGLE;
    g_Log.m_nFolderMode = LOG_FOLDER_FLAT;
}

LogCapture::~LogCapture() {
    g_Log.m_bDecorate = m_bOldDecorate;
    CopyText(g_Log.m_szFolder, sizeof g_Log.m_szFolder, m_oldFolder);
    CopyText(g_Log.m_szName, sizeof g_Log.m_szName, m_oldName);
    g_Log.m_nFileMode = m_nOldFileMode;
    g_Log.m_nFolderMode = m_nOldFolderMode;
}

std::vector<std::string> ReadLogLines(const std::filesystem::path& file) {
    const std::string text = FromUtf16Le(ReadFileBytes(file));
    std::vector<std::string> lines;
    size_t begin = 0;
    while (begin < text.size()) {
        size_t end = text.find("\r\n", begin);
        if (end == std::string::npos) {
            end = text.size();
        }
        lines.push_back(text.substr(begin, end - begin));
        begin = end + 2;
    }
    return lines;
}

std::vector<std::string> LogCapture::Lines() const {
    std::vector<std::string> lines = ReadLogLines(m_file);
    if (!m_bLevels) {
        return lines;
    }
    for (std::string& line : lines) {
        // "[hh:mm:ss,mmm] [LEVEL] text "
        const size_t open = line.find("] [");
        const size_t close = open == std::string::npos ? open : line.find("] ", open + 3);
        if (close == std::string::npos || line.empty() || line.back() != ' ') {
            continue;
        }
        line = line.substr(open + 3, close - open - 3) + " " +
               line.substr(close + 2, line.size() - close - 3);
    }
    return lines;
}

bool LogCapture::Has(const std::string& text) const {
    for (const std::string& line : Lines()) {
        if (line.find(text) != std::string::npos) {
            return true;
        }
    }
    return false;
}
