#include "platform/log.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <ctime>

#include "platform/utf8.h"

CLog g_Log;

namespace {

const char* LevelText(uint16_t level) {
    switch (level) {
        case LOG_INFO:
            return "INFO";
        case LOG_WARNING:
            return "WARNING";
        case LOG_ERROR:
            return "ERROR";
        default:
            return "";
    }
}

// UTF-8 to UTF-16LE bytes, at most maxUnits code units; a pair that would not fit whole is
// left out, so a cut never leaves half a character. Returns the number of bytes written.
size_t ToUtf16Le(const char* text, size_t length, unsigned char* out, size_t maxUnits) {
    const auto* s = reinterpret_cast<const unsigned char*>(text);
    size_t units = 0;
    size_t i = 0;
    auto put = [&](char16_t u) {
        out[2 * units] = static_cast<unsigned char>(u & 0xFF);
        out[2 * units + 1] = static_cast<unsigned char>(u >> 8);
        ++units;
    };
    while (i < length) {
        size_t used = 0;
        char32_t cp = 0;
        if (!DecodeUtf8Char(s + i, length - i, cp, used)) {
            cp = 0xFFFD;
        }
        if (cp >= 0x10000) {
            if (units + 2 > maxUnits) {
                break;
            }
            const char32_t v = cp - 0x10000;
            put(static_cast<char16_t>(0xD800 + (v >> 10)));
            put(static_cast<char16_t>(0xDC00 + (v & 0x3FF)));
        } else {
            if (units + 1 > maxUnits) {
                break;
            }
            put(static_cast<char16_t>(cp));
        }
        i += used;
    }
    return units * 2;
}

}  // namespace

namespace {
thread_local std::vector<HeldLogLine>* t_held = nullptr;
}  // namespace

void HoldLogLines(std::vector<HeldLogLine>* held) {
    t_held = held;
}

void CLog::Print(uint16_t level, const char* format, ...) {
    if (m_szFolder[0] == '\0' || format == nullptr) {
        return;
    }
    if (t_held != nullptr) {
        va_list args;
        va_start(args, format);
        char text[1024];
        const int length = std::vsnprintf(text, sizeof text, format, args);
        va_end(args);
        if (length >= 0 && static_cast<size_t>(length) >= sizeof text) {
            std::string whole(static_cast<size_t>(length) + 1, '\0');
            va_start(args, format);
            std::vsnprintf(whole.data(), whole.size(), format, args);
            va_end(args);
            whole.pop_back();
            t_held->push_back({level, std::move(whole)});
        } else if (length >= 0) {
            t_held->push_back({level, text});
        }
        return;
    }

    // Up to three UTF-8 bytes per UTF-16 unit keep a full-length line representable.
    char message[(MAX_LINE_UNITS + 1) * 3];
    char line[(MAX_LINE_UNITS + 1) * 3];
    unsigned char wide[(MAX_LINE_UNITS + 1) * 2];
    char folder[PATH_MAX];
    char path[PATH_MAX];

    const auto now = std::chrono::system_clock::now();
    const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
    const int millis = static_cast<int>(
        std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() %
        1000);
    std::tm local{};
    localtime_r(&seconds, &local);

    std::lock_guard<std::mutex> lock(m_cs);

    va_list args;
    va_start(args, format);
    const int messageLength = std::vsnprintf(message, sizeof message, format, args);
    va_end(args);
    if (messageLength > 0) {
        message[Utf8CutLength(message, static_cast<size_t>(messageLength), sizeof message - 1)] =
            '\0';
    }

    int lineLength;
    if (m_bDecorate) {
        lineLength =
            std::snprintf(line, sizeof line, "[%02d:%02d:%02d,%03d] [%s] %s \r\n", local.tm_hour,
                          local.tm_min, local.tm_sec, millis, LevelText(level), message);
    } else {
        lineLength = std::snprintf(line, sizeof line, "%s\r\n", message);
    }
    if (lineLength < 0) {
        return;
    }
    // A line cut by the buffer ends before the character that did not fit, not inside it.
    const size_t lineBytes = Utf8CutLength(line, static_cast<size_t>(lineLength), sizeof line - 1);

    const int year = local.tm_year + 1900;
    const int month = local.tm_mon + 1;
    int n;
    switch (m_nFolderMode) {
        case LOG_FOLDER_FLAT:
            n = std::snprintf(folder, sizeof folder, "%s", m_szFolder);
            break;
        case LOG_FOLDER_DAILY:
            n = std::snprintf(folder, sizeof folder, "%s/%d%02d%02d", m_szFolder, year, month,
                              local.tm_mday);
            break;
        case LOG_FOLDER_MONTHLY:
            n = std::snprintf(folder, sizeof folder, "%s/%d%02d", m_szFolder, year, month);
            break;
        default:
            return;
    }
    if (n < 0 || static_cast<size_t>(n) >= sizeof folder) {
        return;
    }
    if (::access(folder, F_OK) != 0 && ::mkdir(folder, 0755) != 0 && errno != EEXIST) {
        return;
    }

    switch (m_nFileMode) {
        case LOG_FILE_SINGLE:
            n = std::snprintf(path, sizeof path, "%s/%s.txt", folder, m_szName);
            break;
        case LOG_FILE_HOURLY:
            n = std::snprintf(path, sizeof path, "%s/%s_%04d%02d%02d%02d.txt", folder, m_szName,
                              year, month, local.tm_mday, local.tm_hour);
            break;
        case LOG_FILE_DAILY:
            n = std::snprintf(path, sizeof path, "%s/%s_%04d%02d%02d.txt", folder, m_szName, year,
                              month, local.tm_mday);
            break;
        default:
            return;
    }
    if (n < 0 || static_cast<size_t>(n) >= sizeof path) {
        return;
    }

    const size_t wideBytes = ToUtf16Le(line, lineBytes, wide, MAX_LINE_UNITS);
    // O_APPEND and one write per line: lines from other threads or processes never mix.
    const int fd = ::open(path, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC | O_NOFOLLOW, 0644);
    if (fd < 0) {
        return;
    }
    ssize_t written;
    do {
        written = ::write(fd, wide, wideBytes);
    } while (written < 0 && errno == EINTR);
    ::close(fd);
}
