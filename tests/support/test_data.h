// Byte helpers for tests: checksums, reproducible contents, whole-file reads. Thread: any.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

// MD5 of the bytes as 32 upper-case hexadecimal digits.
std::string Md5Hex(std::string_view bytes);

// n pseudo-random bytes; the same seed always gives the same bytes.
std::string MakeBytes(size_t n, uint32_t seed);

// The whole file as bytes; empty when it is missing or unreadable.
std::string ReadFileBytes(const std::filesystem::path& path);
