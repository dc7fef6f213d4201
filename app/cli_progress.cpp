#include "app/cli_progress.h"

#include <cstdio>

#include "download/file_list_check.h"
#include "platform/text_format.h"

CCliProgress::CCliProgress(const CFileList& list)
    : m_list(list), m_nTotal(EffectiveTotalSize(list)) {}

std::string CCliProgress::Update(const DownloadProgress& record, uint32_t now) {
    if (record.nFileIndex != m_nIndex) {
        if (m_nIndex >= 0 && record.nFileIndex > m_nIndex) {
            m_nDoneBefore += m_nFileDone;
        } else if (record.nFileIndex < m_nIndex) {
            m_nDoneBefore = 0;  // a run that starts over from the first file
        }
        m_nIndex = record.nFileIndex;
        m_nLastDone = 0;
        m_nSpeed = 0;
    } else if (record.nFileDone < m_nLastDone) {
        m_nLastDone = 0;  // the same file fetched again after a mismatch
    }
    // Records come about once a second, so the difference is the rate.
    if (!record.bSkipped && m_nLastDone > 0) {
        m_nSpeed = record.nFileDone - m_nLastDone;
    }
    m_nLastDone = record.nFileDone;
    m_nFileDone = record.nFileDone;

    const uint64_t total = m_nTotal;
    const uint64_t doneAll = m_nDoneBefore + record.nFileDone;
    const int filePercent =
        record.nFileTotal == 0
            ? 100
            : static_cast<int>(static_cast<double>(record.nFileDone) / record.nFileTotal * 100);
    const int totalPercent =
        total == 0 ? 100
                   : static_cast<int>(static_cast<double>(std::min(doneAll, total)) / total * 100);

    std::string left = "00:00:00";
    const uint32_t elapsed = now - record.dwStartTime;
    if (!record.bSkipped && elapsed > 0) {
        const auto rate =
            static_cast<uint32_t>(static_cast<double>(record.nFileDone) / elapsed * 1000);
        const uint64_t rest = record.nFileTotal - record.nFileDone;
        const ClockParts parts =
            SplitRemainingSeconds(rate > 0 ? static_cast<uint32_t>(rest / rate) : 0);
        left = FormatClockText(parts.hours, parts.minutes, parts.seconds);
    }
    const std::string& name = m_list.FileList[static_cast<size_t>(record.nFileIndex)].Name;
    char line[1024];
    std::snprintf(line, sizeof line, "[%d/%d] %s  %3d%%  total %3d%%  %s of %s  %s  %s left",
                  record.nFileIndex + 1, m_list.TotalCount, name.c_str(), filePercent, totalPercent,
                  FormatSizeText(doneAll).c_str(), FormatSizeText(total).c_str(),
                  FormatSpeedText(m_nSpeed).c_str(), left.c_str());
    return line;
}

std::string CCliProgress::FinishedLine(const DownloadProgress& record) const {
    if (!record.bSkipped && record.nFileDone < record.nFileTotal) {
        return {};
    }
    const std::string& name = m_list.FileList[static_cast<size_t>(record.nFileIndex)].Name;
    char line[1024];
    std::snprintf(line, sizeof line, "[%d/%d] %s %s (%s)", record.nFileIndex + 1, m_list.TotalCount,
                  name.c_str(), record.bSkipped ? "already complete" : "downloaded",
                  FormatSizeText(record.nFileTotal).c_str());
    return line;
}
