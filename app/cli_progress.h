// Progress text of the command-line front end: the core's numbers in one terminal line, and
// a line for each finished file. Thread: the front end's main thread; stateless.
#pragma once

#include <string>

#include "core/progress_model.h"
#include "download/download_notify.h"
#include "download/file_list.h"

class CCliProgress {
public:
    explicit CCliProgress(const CFileList& list);

    // The terminal line for what the progress model shows now (without line control).
    std::string Line(const ProgressTexts& texts) const;
    // The line that says a file was finished or skipped, empty while it is still coming.
    std::string FinishedLine(const DownloadProgress& record) const;
    // The line for a wait before another attempt: "retrying in 4 s (connection refused)".
    std::string RetryLine(const DownloadRetry& record) const;

private:
    const CFileList& m_list;
};
