// The one check every file list passes before any run. Thread: any; stateless.
#pragma once

#include <cstdint>
#include <string>

#include "download/file_list.h"

// True when the list is safe to process: TotalCount within the entries, an absolute http or
// https URL when there are files, every processed name a plain relative path, every
// checksum 32 upper-case hex digits, no two names alike once case is ignored (the game's
// folder may sit on a case-insensitive file system), no name both a file and a folder of
// another, and the sizes adding up without overflow. With installFolder, also every path
// joined to it within the system's length limit. Otherwise problem names the first
// offending entry.
bool ValidateFileList(const CFileList& list, std::string* problem,
                      const std::string* installFolder = nullptr);

// The total the space checks and the total bar go by: TotalSize, or the sum of the
// processed sizes when that is smaller (a list may overstate its total).
uint64_t EffectiveTotalSize(const CFileList& list);

// A relative path of non-empty parts separated by '/', none "." or "..", with no
// backslash, drive letter, control character (C0 or C1) or bidirectional override.
bool IsSafeRelativeName(const std::string& name);

// An absolute http or https address with a host.
bool IsHttpUrl(const std::string& url);

bool IsValidChecksumText(const std::string& checksum);

// "entry N \"name\": what", the name cut to 200 bytes between characters and its controls
// and overrides shown as escapes, for log lines about an entry.
std::string DescribeEntry(int index, const std::string& name, const std::string& what);
