// Reading the served file list text into the model, frugally: the session start's reader.
// Thread: any; stateless.
#pragma once

#include <string>
#include <string_view>

#include "download/file_list.h"

// Reads text (up to its first zero byte, after an optional UTF-8 byte-order mark) into
// list, replacing what it held, by the same lenient rules and conversions as
// LoadFromJsonText, without building a tree of the whole document, so a list near the size
// bound stays within a few times its own size in memory.
//
// Only the entries the run processes are kept: the first TotalCount objects of FileList
// (every later one is still converted, so a member that cannot be converted refuses the
// list as before). A processed entry must also have a Size that is a number of zero or more
// (not missing, null or a boolean), a safe name and a valid checksum; the first one that
// has not is named in *problem and the rest are counted, not kept.
//
// When onlyVersion is given and the document names another Version, only Version is read:
// a list for a newer installer may hold entries this one cannot read, and its users must
// still be told to upgrade.
//
// False when the text is not JSON or a member cannot be converted (problem left empty), or
// when a processed entry is refused (problem says which).
bool ReadFileListDocument(std::string_view text, CFileList& list, const char* onlyVersion,
                          std::string* problem);
