// Replacing a file's contents so that readers see either the old or the new bytes, never a
// mix, even across a crash or a full disk. Thread: any; stateless.
#pragma once

#include <sys/types.h>

#include <string>
#include <string_view>

// Writes data to a temporary file in path's folder (named "." + file name + ".XXXXXX", so it
// can never be mistaken for the target), flushes it to disk with the given mode, renames it
// over path and flushes the folder. Returns 0 or the errno of the failing step; on failure
// the temporary file is removed and path is untouched.
int WriteFileAtomically(const std::string& path, std::string_view data, mode_t mode);
