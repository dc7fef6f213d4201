// The one check every file list passes before any run. Thread: any; stateless.
#pragma once

#include <string>

#include "download/file_list.h"

// True when the list is safe to process: TotalCount within the entries, every processed
// name a plain relative path, every checksum 32 upper-case hex digits, no name twice, and
// the sizes adding up within TotalSize. Otherwise problem names the first offending entry.
bool ValidateFileList(const CFileList& list, std::string* problem);

// A relative path of non-empty parts separated by '/', none "." or "..", with no
// backslash, drive letter or control character.
bool IsSafeRelativeName(const std::string& name);

bool IsValidChecksumText(const std::string& checksum);
