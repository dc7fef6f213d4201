// MD5 of a file in the file list's form, and the folder helpers of the worker.
// Thread: any; the stop flag is owned by the caller (the worker) and only read here.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

// Result of a checksum interrupted because the worker was asked to stop.
constexpr uint32_t STOPPED_BY_REQUEST = 99;

// 0 and 32 upper-case hex digits in checksum, or an errno code / STOPPED_BY_REQUEST with an
// empty checksum. When running is given, a stop is seen within one 1,024-byte block.
uint32_t GetFileChecksum(const std::string& path, std::string& checksum,
                         const std::atomic<bool>* running = nullptr);
// The same for an open file, read from its current offset to its end; fd stays open.
uint32_t GetFileChecksum(int fd, std::string& checksum, const std::atomic<bool>* running = nullptr);

// The 16-byte digest as the list writes it: 32 upper-case hex digits, high nibble first.
std::string ChecksumText(const unsigned char* digest, unsigned int length);
