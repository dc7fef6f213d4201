#include "core/progress_model.h"

#include <algorithm>
#include <limits>

#include "download/file_list_check.h"
#include "platform/text_format.h"

CProgressModel::CProgressModel(const CFileList& list) : m_FileList(list) {
    Reset();
}

void CProgressModel::Reset() {
    // A list may have no entries at all.
    const FileEntry first = m_FileList.FileList.empty() ? FileEntry{} : m_FileList.FileList[0];
    m_texts.fileIndex = 0;
    m_texts.fileName = first.Name;
    m_texts.fileSize = FormatSizeText(first.Size);
    m_texts.speed = "0 Bytes/sec";
    m_texts.fileDone = "0 Bytes";
    m_texts.timeLeft = "00:00:00";
    m_texts.totalDone = "0 Bytes";
    m_nTotalSize = EffectiveTotalSize(m_FileList);
    m_texts.totalSize = FormatSizeText(m_nTotalSize);
    m_texts.requiredSize = FormatSizeText(m_FileList.TotalSize);
    m_texts.elapsed = "00:00:00";
    m_texts.filePercent = 0;
    m_texts.totalPercent = 0;
}

void CProgressModel::OnStart() {
    // A new run's first record counts the later files it has begun afresh.
    m_nLastOtherDone = 0;
    if (m_bStopped) {
        m_dwSavedStartTime = m_dwLastStartTime;
        m_bStopped = false;
    }
}

void CProgressModel::OnStop(uint32_t now) {
    m_bStopped = true;
    m_bResumeAdjust = true;
    m_dwStopTime = now;
    // The label keeps its text until the next tick.
    m_nElapsedHours = m_nElapsedMinutes = m_nElapsedSeconds = 0;
}

const std::string& CProgressModel::Tick() {
    if (++m_nElapsedSeconds == 60) {
        m_nElapsedSeconds = 0;
        if (++m_nElapsedMinutes == 60) {
            m_nElapsedMinutes = 0;
            ++m_nElapsedHours;
        }
    }
    m_texts.elapsed = FormatClockText(m_nElapsedHours, m_nElapsedMinutes, m_nElapsedSeconds);
    return m_texts.elapsed;
}

ProgressChange CProgressModel::Take(const DownloadProgress& progress, uint32_t now) {
    ProgressChange change;
    m_dwLastStartTime = progress.dwStartTime;

    // Bytes of transfers running beside the shown file count at once; they leave this sum
    // when their own file is shown and counts them.
    uint64_t otherGain = 0;
    if (progress.nOtherDone >= m_nLastOtherDone) {
        otherGain = progress.nOtherDone - m_nLastOtherDone;
        m_nTotalReceived += otherGain;
    } else {
        const uint64_t moved = m_nLastOtherDone - progress.nOtherDone;
        m_nTotalReceived = m_nTotalReceived > moved ? m_nTotalReceived - moved : 0;
    }
    m_nLastOtherDone = progress.nOtherDone;

    std::string speed;
    bool newFile = false;
    if (progress.nFileIndex == m_nLastFileIndex) {
        if (progress.nFileDone > m_nLastFileDone || otherGain > 0) {
            const uint64_t delta =
                progress.nFileDone > m_nLastFileDone ? progress.nFileDone - m_nLastFileDone : 0;
            m_nTotalReceived += delta;
            speed = FormatSpeedText(delta + otherGain);
        }
    } else {
        m_nTotalReceived += progress.nFileDone;
        speed = "0 Bytes/sec";
    }
    m_nLastFileDone = progress.nFileDone;
    if (progress.nFileIndex != m_nLastFileIndex) {
        m_nLastFileIndex = progress.nFileIndex;
        newFile = true;
    }
    // A complete empty file is 100 %.
    const int filePercent = progress.nFileTotal == 0
                                ? 100
                                : static_cast<int>(static_cast<double>(progress.nFileDone) /
                                                   static_cast<double>(progress.nFileTotal) * 100);

    // The 32-bit clock wraps; differences stay right across the wrap.
    uint32_t elapsed;
    if (m_bResumeAdjust) {
        // The first record after a stop and a new start: the time the file had already run
        // goes behind now, plus a second for the new connection.
        elapsed = m_dwStopTime - m_dwSavedStartTime;
        change.rebasedStartTime = now - elapsed + 1000;
        m_bResumeAdjust = false;
    } else {
        elapsed = now - progress.dwStartTime;
    }
    if (elapsed == 0) {
        return change;
    }
    const double rate = static_cast<double>(progress.nFileDone) / elapsed * 1000;
    const uint64_t bytesPerSecond =
        rate >= 1.8e19 ? std::numeric_limits<uint64_t>::max() : static_cast<uint64_t>(rate);
    // A file can be longer on disk than listed until it is replaced.
    const uint64_t rest =
        progress.nFileTotal > progress.nFileDone ? progress.nFileTotal - progress.nFileDone : 0;
    const uint64_t remaining = bytesPerSecond > 0 ? rest / bytesPerSecond : 0;
    const ClockParts left = SplitRemainingSeconds(
        static_cast<uint32_t>(std::min<uint64_t>(remaining, std::numeric_limits<uint32_t>::max())));

    change.shown = true;
    const bool validIndex = progress.nFileIndex >= 0 &&
                            static_cast<size_t>(progress.nFileIndex) < m_FileList.FileList.size();
    if (newFile && validIndex) {
        const FileEntry& entry = m_FileList.FileList[static_cast<size_t>(progress.nFileIndex)];
        m_texts.fileIndex = progress.nFileIndex;
        m_texts.fileName = entry.Name;
        m_texts.fileSize = FormatSizeText(entry.Size);
        change.fileChanged = true;
    }
    if (!progress.bSkipped) {
        m_texts.speed = speed;
        change.speedChanged = true;
    }
    m_texts.filePercent = filePercent;
    m_texts.fileDone = FormatSizeText(progress.nFileDone);
    m_texts.timeLeft = FormatClockText(left.hours, left.minutes, left.seconds);
    // Files counted again (a mismatch fetched anew, a new run over skipped files) can take the
    // count past the total; the bar shows it full.
    const double total = static_cast<double>(m_nTotalSize);
    m_texts.totalPercent =
        total > 0
            ? static_cast<int>(std::min(static_cast<double>(m_nTotalReceived) / total * 100, 100.0))
            : 100;
    m_texts.totalDone = FormatSizeText(m_nTotalReceived);
    return change;
}
