// Fetching, reading and checking the file list at session start (window or command line).
// Thread: the caller's; each call uses its own HTTP client.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>

#include "download/file_list.h"
#include "download/http_timeouts.h"

constexpr const char* INSTALLER_VERSION = "2023.08.14.01";
// Far above any real list (a few hundred bytes per file) and far below what could hurt.
constexpr size_t MAX_FILE_LIST_BYTES = 16 * 1024 * 1024;

// The built-in address, or QUELLBRIDGER_FILE_LIST_URL when that is set and not empty.
std::string GetFileListUrl();

// The whole body of url, with or without a Content-Length, 0 on success; else the HTTP
// status or libcurl code (a body that ends early gives CURLE_PARTIAL_FILE, one over the
// bound CURLE_FILESIZE_EXCEEDED, a stop CURLE_ABORTED_BY_CALLBACK) and, in *detail when
// given, what went wrong in words. Logs "file list download success" or "file list download
// is failed - (code): detail". While *running (when given) is false every wait ends at once.
uint32_t DownloadFileListText(const std::string& url, std::string& text,
                              const HttpTimeouts& timeouts = HttpTimeouts{},
                              const std::atomic<bool>* running = nullptr,
                              std::string* detail = nullptr);

// Reads text into list and checks it; false (message 105) when it is not a usable list.
// Logs the deserialize lines and names the first offending entry. A list for another
// installer version is read no further than its Version and returns true: the caller's
// IsInstallerVersion then reports it (message 122), whatever its entries hold.
bool ReadFileListText(const std::string& text, CFileList& list);

// False, with its log line, when the list is for another installer version (message 122).
bool IsInstallerVersion(const CFileList& list);
