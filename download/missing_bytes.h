// How much of a list is still to be written into an install folder: the one rule of every
// free-space check. Thread: any; stateless.
#pragma once

#include <cstdint>
#include <string>

#include "download/file_list.h"

// For each entry the list processes, its Size less the size of the regular file already at
// its name below folder (nothing counts past Size), from one lstat each. A link or anything
// else that is not a regular file counts as missing, as the run replaces or refuses it.
uint64_t MissingBytes(const CFileList& list, const std::string& folder);
