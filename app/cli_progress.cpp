#include "app/cli_progress.h"

#include <cctype>
#include <cstdio>

#include "core/installer_session.h"
#include "platform/text_format.h"

CCliProgress::CCliProgress(const CFileList& list) : m_list(list) {}

std::string CCliProgress::Line(const ProgressTexts& texts) const {
    char line[1024];
    std::snprintf(line, sizeof line, "[%d/%d] %s  %3d%%  total %3d%%  %s of %s  %s  %s left",
                  texts.fileIndex + 1, m_list.TotalCount, texts.fileName.c_str(), texts.filePercent,
                  texts.totalPercent, texts.totalDone.c_str(), texts.totalSize.c_str(),
                  texts.speed.c_str(), texts.timeLeft.c_str());
    return line;
}

std::string CCliProgress::FinishedLine(const DownloadProgress& record) const {
    if (!record.bSkipped && record.nFileDone < record.nFileTotal) {
        return {};
    }
    if (record.nFileIndex < 0 || static_cast<size_t>(record.nFileIndex) >= m_list.FileList.size()) {
        return {};
    }
    const std::string& name = m_list.FileList[static_cast<size_t>(record.nFileIndex)].Name;
    char line[1024];
    std::snprintf(line, sizeof line, "[%d/%d] %s %s (%s)", record.nFileIndex + 1, m_list.TotalCount,
                  name.c_str(), record.bSkipped ? "already complete" : "downloaded",
                  FormatSizeText(record.nFileTotal).c_str());
    return line;
}

std::string CCliProgress::RetryLine(const DownloadRetry& record) const {
    // The window's words, as a line of their own.
    std::string line = CInstallerSession::RetryText(record);
    if (!line.empty()) {
        line[0] = static_cast<char>(std::tolower(static_cast<unsigned char>(line[0])));
    }
    return line;
}
