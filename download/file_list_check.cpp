#include "download/file_list_check.h"

#include <cstdio>
#include <limits>
#include <unordered_set>

#include "platform/utf8.h"

namespace {

std::string Describe(int index, const std::string& name, const char* what) {
    std::string shown;
    // Cut between characters: half a character would show as garbage in the log.
    for (unsigned char c : name.substr(0, Utf8CutLength(name.data(), name.size(), 200))) {
        if (c < 0x20 || c == 0x7F) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\x%02X", c);
            shown += escaped;
        } else {
            shown += static_cast<char>(c);
        }
    }
    return "entry " + std::to_string(index) + " \"" + shown + "\": " + what;
}

}  // namespace

bool IsSafeRelativeName(const std::string& name) {
    if (name.empty() || name.front() == '/' || name.back() == '/') {
        return false;
    }
    // "C:..." would name a drive where the files are also served to Windows clients.
    if (name.size() >= 2 && name[1] == ':') {
        return false;
    }
    size_t start = 0;
    while (start <= name.size()) {
        size_t end = name.find('/', start);
        if (end == std::string::npos) {
            end = name.size();
        }
        const std::string_view part(name.data() + start, end - start);
        if (part.empty() || part == "." || part == ".." || part.size() > 255) {
            return false;
        }
        for (unsigned char c : part) {
            if (c < 0x20 || c == 0x7F || c == '\\') {
                return false;
            }
        }
        start = end + 1;
    }
    return true;
}

bool IsValidChecksumText(const std::string& checksum) {
    if (checksum.size() != 32) {
        return false;
    }
    for (char c : checksum) {
        if (!((c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'))) {
            return false;
        }
    }
    return true;
}

bool ValidateFileList(const CFileList& list, std::string* problem) {
    auto fail = [problem](std::string text) {
        if (problem != nullptr) {
            *problem = std::move(text);
        }
        return false;
    };
    if (list.TotalCount < 0 || static_cast<size_t>(list.TotalCount) > list.FileList.size()) {
        return fail("TotalCount " + std::to_string(list.TotalCount) + " for " +
                    std::to_string(list.FileList.size()) + " entries");
    }
    std::unordered_set<std::string> names;
    uint64_t sum = 0;
    for (int i = 0; i < list.TotalCount; ++i) {
        const FileEntry& entry = list.FileList[static_cast<size_t>(i)];
        if (!IsSafeRelativeName(entry.Name)) {
            return fail(Describe(i, entry.Name, "unsafe name"));
        }
        if (!IsValidChecksumText(entry.CheckSum)) {
            return fail(Describe(i, entry.Name, "checksum is not 32 upper-case hex digits"));
        }
        if (!names.insert(entry.Name).second) {
            return fail(Describe(i, entry.Name, "listed twice"));
        }
        if (entry.Size > std::numeric_limits<uint64_t>::max() - sum) {
            return fail(Describe(i, entry.Name, "sizes overflow"));
        }
        sum += entry.Size;
    }
    // The free-space checks trust TotalSize: it must cover what will be written.
    if (sum > list.TotalSize) {
        return fail("TotalSize " + std::to_string(list.TotalSize) + " below the sum of sizes " +
                    std::to_string(sum));
    }
    return true;
}
