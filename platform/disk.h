// Free space and file size queries. Thread: any; stateless.
#pragma once

#include <cstdint>

// Bytes this user can write on the file system holding path (or its nearest existing
// ancestor); 0 for a null, relative or network path and on any failure.
uint64_t GetDiskFreeSize(const char* path);

// errno-style code, 0 on success; EISDIR for a folder, 22 (EINVAL) for a null argument or
// anything else that is not a regular file (a pipe, a device).
uint32_t GetFileSize64(const char* fileName, uint64_t* size);
