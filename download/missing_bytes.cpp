#include "download/missing_bytes.h"

#include <sys/stat.h>

#include <algorithm>
#include <limits>

uint64_t MissingBytes(const CFileList& list, const std::string& folder) {
    const size_t count =
        std::min(static_cast<size_t>(std::max(list.TotalCount, 0)), list.FileList.size());
    uint64_t missing = 0;
    for (size_t i = 0; i < count; ++i) {
        const FileEntry& entry = list.FileList[i];
        uint64_t present = 0;
        struct stat st {};
        if (::lstat((folder + "/" + entry.Name).c_str(), &st) == 0 && S_ISREG(st.st_mode)) {
            present = std::min<uint64_t>(static_cast<uint64_t>(st.st_size), entry.Size);
        }
        const uint64_t left = entry.Size - present;
        missing = left > std::numeric_limits<uint64_t>::max() - missing
                      ? std::numeric_limits<uint64_t>::max()
                      : missing + left;
    }
    return missing;
}
