#include "file_list_harness.h"

#include <algorithm>
#include <cstdlib>
#include <string>

#include "download/file_list.h"
#include "download/file_list_check.h"

void RunFileListInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    CFileList list;
    if (!LoadFromJsonText(&list, text.c_str())) {
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
