// Progress text of the command-line front end, built from the worker's records.
// Thread: the front end's main thread; owns nothing but its counters.
#pragma once

#include <cstdint>
#include <string>

#include "download/download_notify.h"
#include "download/file_list.h"

class CCliProgress {
public:
    explicit CCliProgress(const CFileList& list);

    // Takes one record; returns the terminal line for it (without line control).
    std::string Update(const DownloadProgress& record, uint32_t now);
    // The line that says a file was finished or skipped, empty while it is still coming.
    std::string FinishedLine(const DownloadProgress& record) const;

private:
    const CFileList& m_list;
    const uint64_t m_nTotal;  // EffectiveTotalSize of the list
    int32_t m_nIndex = -1;
    uint64_t m_nDoneBefore = 0;  // bytes of the files before the current one
    uint64_t m_nFileDone = 0;
    uint64_t m_nLastDone = 0;
    uint64_t m_nSpeed = 0;
};
