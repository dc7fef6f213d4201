#include "download/file_list_check.h"

#include <limits.h>
#include <locale.h>
#include <strings.h>

#include <algorithm>
#include <cstdio>
#include <cwctype>
#include <limits>
#include <unordered_map>

#include "platform/utf8.h"

namespace {

bool IsForbiddenCharacter(char32_t cp);

std::string Describe(int index, const std::string& name, const std::string& what) {
    // Cut between characters, and controls and overrides shown as escapes: the log line
    // must read as what it is.
    const std::string cut = name.substr(0, Utf8CutLength(name.data(), name.size(), 200));
    std::string shown;
    const auto* s = reinterpret_cast<const unsigned char*>(cut.data());
    for (size_t i = 0; i < cut.size();) {
        char32_t cp = 0;
        size_t used = 0;
        const bool decoded = DecodeUtf8Char(s + i, cut.size() - i, cp, used);
        if (decoded && cp != '\\' && IsForbiddenCharacter(cp)) {
            char escaped[16];
            std::snprintf(escaped, sizeof escaped, cp < 0x80 ? "\\x%02X" : "\\u%04X",
                          static_cast<unsigned>(cp));
            shown += escaped;
        } else {
            shown.append(cut, i, used);
        }
        i += used;
    }
    return (index < 0 ? std::string("URL") : "entry " + std::to_string(index)) + " \"" + shown +
           "\": " + what;
}

// C0 and C1 controls, and the bidirectional overrides and isolates, which can make a name
// read as another one in the log or on screen.
bool IsForbiddenCharacter(char32_t cp) {
    return cp < 0x20 || cp == 0x7F || cp == '\\' || (cp >= 0x80 && cp <= 0x9F) ||
           (cp >= 0x202A && cp <= 0x202E) || (cp >= 0x2066 && cp <= 0x2069);
}

void AppendUtf8(std::string& out, char32_t cp) {
    if (cp < 0x80) {
        out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
}

// The name as a case-insensitive file system compares it: each character upper-cased by
// Unicode's simple mapping (as exFAT's and NTFS's up-case tables do).
std::string FoldCase(const std::string& name) {
    static const locale_t utf8 = newlocale(LC_CTYPE_MASK, "C.UTF-8", nullptr);
    std::string out;
    out.reserve(name.size());
    const auto* s = reinterpret_cast<const unsigned char*>(name.data());
    for (size_t i = 0; i < name.size();) {
        char32_t cp = 0;
        size_t used = 0;
        if (!DecodeUtf8Char(s + i, name.size() - i, cp, used) || cp < 0x80) {
            out.push_back(static_cast<char>(s[i] >= 'a' && s[i] <= 'z' ? s[i] - 32 : s[i]));
            i += used;
            continue;
        }
        if (utf8 != nullptr) {
            cp = static_cast<char32_t>(towupper_l(static_cast<wint_t>(cp), utf8));
        }
        AppendUtf8(out, cp);
        i += used;
    }
    return out;
}

}  // namespace

std::string DescribeEntry(int index, const std::string& name, const std::string& what) {
    return Describe(index, name, what);
}

bool IsHttpUrl(const std::string& url) {
    size_t host = 0;
    if (strncasecmp(url.c_str(), "http://", 7) == 0) {
        host = 7;
    } else if (strncasecmp(url.c_str(), "https://", 8) == 0) {
        host = 8;
    } else {
        return false;
    }
    if (host >= url.size() || url[host] == '/' || url[host] == '?' || url[host] == '#') {
        return false;
    }
    for (unsigned char c : url) {
        if (c <= 0x20 || c == 0x7F) {
            return false;
        }
    }
    return true;
}

uint64_t EffectiveTotalSize(const CFileList& list) {
    uint64_t sum = 0;
    const size_t count =
        std::min(list.FileList.size(), static_cast<size_t>(std::max(list.TotalCount, 0)));
    for (size_t i = 0; i < count; ++i) {
        if (list.FileList[i].Size > std::numeric_limits<uint64_t>::max() - sum) {
            return list.TotalSize;
        }
        sum += list.FileList[i].Size;
    }
    return std::min(sum, list.TotalSize);
}

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
        for (size_t i = 0; i < part.size();) {
            const auto* at = reinterpret_cast<const unsigned char*>(part.data()) + i;
            char32_t cp = 0;
            size_t used = 0;
            // Bytes that are not UTF-8 are taken as they are, as the file system does.
            if (!DecodeUtf8Char(at, part.size() - i, cp, used)) {
                cp = *at;
                used = 1;
                if (cp >= 0x80) {
                    i += used;
                    continue;
                }
            }
            if (IsForbiddenCharacter(cp)) {
                return false;
            }
            i += used;
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

bool ValidateFileList(const CFileList& list, std::string* problem,
                      const std::string* installFolder) {
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
    if (list.TotalCount > 0 && !IsHttpUrl(list.URL)) {
        return fail(Describe(-1, list.URL, "URL is not an absolute http or https address"));
    }
    // Folded names of files and of the folders they make, with the entry that made each.
    std::unordered_map<std::string, int> files;
    std::unordered_map<std::string, int> folders;
    files.reserve(static_cast<size_t>(list.TotalCount));
    uint64_t sum = 0;
    for (int i = 0; i < list.TotalCount; ++i) {
        const FileEntry& entry = list.FileList[static_cast<size_t>(i)];
        if (!IsSafeRelativeName(entry.Name)) {
            return fail(Describe(i, entry.Name, "unsafe name"));
        }
        if (!IsValidChecksumText(entry.CheckSum)) {
            return fail(Describe(i, entry.Name, "checksum is not 32 upper-case hex digits"));
        }
        if (installFolder != nullptr &&
            installFolder->size() + 1 + entry.Name.size() + 1 > static_cast<size_t>(PATH_MAX)) {
            return fail(Describe(i, entry.Name, "path too long in the install folder"));
        }
        const std::string folded = FoldCase(entry.Name);
        if (const auto [at, added] = files.emplace(folded, i); !added) {
            const std::string& other = list.FileList[static_cast<size_t>(at->second)].Name;
            return fail(Describe(i, entry.Name,
                                 other == entry.Name
                                     ? "listed twice"
                                     : "same name as \"" + other + "\" where case is ignored"));
        }
        if (const auto at = folders.find(folded); at != folders.end()) {
            return fail(Describe(i, entry.Name,
                                 "is also a folder of \"" +
                                     list.FileList[static_cast<size_t>(at->second)].Name + "\""));
        }
        for (size_t slash = folded.find('/'); slash != std::string::npos;
             slash = folded.find('/', slash + 1)) {
            const std::string folder = folded.substr(0, slash);
            if (const auto at = files.find(folder); at != files.end()) {
                return fail(Describe(i, entry.Name,
                                     "needs \"" +
                                         list.FileList[static_cast<size_t>(at->second)].Name +
                                         "\" as a folder, which is a file"));
            }
            folders.emplace(folder, i);
        }
        if (entry.Size > std::numeric_limits<uint64_t>::max() - sum) {
            return fail(Describe(i, entry.Name, "sizes overflow"));
        }
        sum += entry.Size;
    }
    // The free-space checks must not be told less than will be written.
    if (sum > list.TotalSize) {
        return fail("TotalSize " + std::to_string(list.TotalSize) + " below the sum of sizes " +
                    std::to_string(sum));
    }
    return true;
}
