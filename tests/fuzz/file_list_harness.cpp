#include "file_list_harness.h"

#include <algorithm>
#include <cstdlib>
#include <string>

#include "download/file_list.h"
#include "download/file_list_check.h"
#include "download/file_list_text.h"

namespace {

// The session's frugal reader must read what the tree reader reads: the same members and,
// of the entries, the processed ones; it may refuse more only by naming a processed entry.
void CompareWithTheSessionReader(const std::string& text, bool loaded, const CFileList& tree) {
    CFileList events;
    std::string problem;
    const bool read = ReadFileListDocument(text, events, nullptr, &problem);
    if (!loaded) {
        return;  // the event reader takes some comments the tree reader refuses
    }
    if (!read) {
        if (problem.empty()) {
            std::abort();
        }
        return;
    }
    if (events.Version != tree.Version || events.URL != tree.URL ||
        events.TotalCount != tree.TotalCount || events.TotalSize != tree.TotalSize) {
        std::abort();
    }
    const size_t kept =
        std::min(tree.FileList.size(), static_cast<size_t>(std::max<int32_t>(tree.TotalCount, 0)));
    if (events.FileList.size() != kept) {
        std::abort();
    }
    for (size_t i = 0; i < kept; ++i) {
        const FileEntry& a = events.FileList[i];
        const FileEntry& b = tree.FileList[i];
        if (a.Name != b.Name || a.Size != b.Size || a.CheckSum != b.CheckSum) {
            std::abort();
        }
    }
}

}  // namespace

void RunFileListInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    CFileList list;
    const bool loaded = LoadFromJsonText(&list, text.c_str());
    CompareWithTheSessionReader(text, loaded, list);
    if (!loaded) {
        return;
    }
    std::string problem;
    if (!ValidateFileList(list, &problem)) {
        if (problem.empty()) {
            std::abort();  // every refusal must say why
        }
        return;
    }
    // What passed must really stay below an install folder once joined to it.
    for (int i = 0; i < list.TotalCount; ++i) {
        const std::string& name = list.FileList[static_cast<size_t>(i)].Name;
        if (name.empty() || name[0] == '/' || name.find('\0') != std::string::npos) {
            std::abort();
        }
        size_t start = 0;
        for (;;) {
            const size_t end = std::min(name.find('/', start), name.size());
            const std::string part = name.substr(start, end - start);
            if (part.empty() || part == "." || part == "..") {
                std::abort();
            }
            if (end == name.size()) {
                break;
            }
            start = end + 1;
        }
    }
}
