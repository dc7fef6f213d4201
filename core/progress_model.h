// What a run's progress looks like: per-file and total percentages, byte counts, speed, time
// left and the elapsed-time clock, computed from the worker's records and a millisecond clock.
// Thread: the front end's thread; the model keeps a reference to the file list, which must
// outlive it.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "download/download_notify.h"
#include "download/file_list.h"

// The texts and bar positions of the progress area, as the window's labels show them.
struct ProgressTexts {
    int32_t fileIndex = 0;
    std::string fileName;
    std::string fileSize;  // size of the current file, shown left and right of the file bar
    std::string speed;     // empty when the file did not grow since its last record
    std::string fileDone;
    std::string timeLeft;  // of the current file
    std::string totalDone;
    std::string totalSize;     // what the total bar counts towards
    std::string requiredSize;  // the list's TotalSize, as the space the game needs
    std::string elapsed;
    int filePercent = 0;
    int totalPercent = 0;  // 0 to 100; the total can pass the list's size
};

// What one record changed in ProgressTexts.
struct ProgressChange {
    // False when the record came at its file's start time: its bytes are counted but nothing
    // is shown yet.
    bool shown = false;
    bool fileChanged = false;   // name and size
    bool speedChanged = false;  // a skipped file leaves the speed as it was
    // The worker's file clock moved behind now by the time already spent before a stop.
    std::optional<uint32_t> rebasedStartTime;
};

class CProgressModel {
public:
    explicit CProgressModel(const CFileList& list);

    // Texts for a run that has not begun: the first entry, zero counts, the list's total.
    void Reset();
    ProgressChange Take(const DownloadProgress& record, uint32_t now);

    // Start and Stop of a run, for the clock re-basing after a stop and the elapsed clock.
    void OnStart();
    void OnStop(uint32_t now);
    // One second of the elapsed clock; returns its new text.
    const std::string& Tick();
    // A completed run starts its next count from zero.
    void OnCompleted() { m_nTotalReceived = 0; }

    const ProgressTexts& Texts() const { return m_texts; }
    uint64_t TotalReceived() const { return m_nTotalReceived; }

private:
    const CFileList& m_FileList;
    ProgressTexts m_texts;
    int32_t m_nLastFileIndex = 0;
    uint64_t m_nLastFileDone = 0;
    // The last record's bytes of later files (several transfers at once).
    uint64_t m_nLastOtherDone = 0;
    uint64_t m_nTotalReceived = 0;
    // The sum of the processed sizes where TotalSize overstates it; set by Reset.
    uint64_t m_nTotalSize = 0;
    bool m_bStopped = false;
    bool m_bResumeAdjust = false;
    uint32_t m_dwSavedStartTime = 0;
    uint32_t m_dwLastStartTime = 0;
    uint32_t m_dwStopTime = 0;
    int32_t m_nElapsedHours = 0;
    int32_t m_nElapsedMinutes = 0;
    int32_t m_nElapsedSeconds = 0;
};
