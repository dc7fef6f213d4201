#include "download/list_fetch.h"

#include <curl/curl.h>

#include <cstdlib>

#include "download/file_list_check.h"
#include "download/file_list_text.h"
#include "download/http_client.h"
#include "platform/log.h"

#ifndef QB_FILE_LIST_URL
#define QB_FILE_LIST_URL "http://127.0.0.1:18080/filelist.json"
#endif

std::string GetFileListUrl() {
    const char* url = std::getenv("QUELLBRIDGER_FILE_LIST_URL");
    return url != nullptr && *url != '\0' ? url : QB_FILE_LIST_URL;
}

namespace {

uint32_t ReadWholeBody(CHttpClient& client, uint64_t length, std::string& text,
                       std::string& detail) {
    // Without a length (chunked, or HTTP/2) the body is read to its end, within the bound.
    const bool known = length != UINT64_MAX;
    if (known && length > MAX_FILE_LIST_BYTES) {
        detail = "list of " + std::to_string(length) + " bytes is over the bound";
        return CURLE_FILESIZE_EXCEEDED;
    }
    text.clear();
    text.reserve(static_cast<size_t>(known ? length : 64 * 1024));
    while (!known || text.size() < length) {
        const unsigned char* data = nullptr;
        uint32_t got = 0;
        if (!client.Read(CHttpClient::TRANSFER_BUFFER_SIZE, data, got)) {
            detail = client.ReadErrorText();
            return client.LastError();
        }
        if (got == 0) {
            if (!known && client.IsBodyComplete()) {
                return 0;
            }
            detail = "body ended after " + std::to_string(text.size()) + " bytes";
            return CURLE_PARTIAL_FILE;
        }
        if (!known && text.size() + got > MAX_FILE_LIST_BYTES) {
            detail = "list is over the bound of " + std::to_string(MAX_FILE_LIST_BYTES) + " bytes";
            return CURLE_FILESIZE_EXCEEDED;
        }
        text.append(reinterpret_cast<const char*>(data), got);
    }
    if (text.size() > length) {
        text.resize(static_cast<size_t>(length));
    }
    return 0;
}

}  // namespace

uint32_t DownloadFileListText(const std::string& url, std::string& text,
                              const HttpTimeouts& timeouts, const std::atomic<bool>* running,
                              std::string* detail) {
    CHttpClient client(timeouts);
    client.SetStopFlag(running);
    // A list cut short is told by the one line below.
    client.SetLogReadErrors(false);
    uint64_t length = 0;
    uint32_t error = 0;
    std::string why;
    if (!client.OpenUrl(url, nullptr, &length, "HttpClient/1.0", true)) {
        error = client.LastError();
        why = client.ErrorDetail();
    } else {
        error = ReadWholeBody(client, length, text, why);
    }
    if (detail != nullptr) {
        *detail = error != 0 ? why : std::string();
    }
    if (error != 0) {
        text.clear();
        text.shrink_to_fit();
        g_Log.Print(LOG_ERROR, "file list download is failed - (%ld): %s", static_cast<long>(error),
                    why.c_str());
        return error;
    }
    g_Log.Print(LOG_INFO, "file list download success");
    return 0;
}

bool ReadFileListText(const std::string& text, CFileList& list) {
    std::string problem;
    // The version comes first: a list for a newer installer is reported as such (by the
    // caller's version check) even when its entries are beyond this one.
    if (!ReadFileListDocument(text, list, INSTALLER_VERSION, &problem)) {
        if (problem.empty()) {
            g_Log.Print(LOG_ERROR, "file list deserialize is failed");
        } else {
            g_Log.Print(LOG_ERROR, "invalid file list - %s", problem.c_str());
        }
        return false;
    }
    if (list.Version != INSTALLER_VERSION) {
        return true;
    }
    if (!ValidateFileList(list, &problem)) {
        g_Log.Print(LOG_ERROR, "invalid file list - %s", problem.c_str());
        return false;
    }
    if (const uint64_t total = EffectiveTotalSize(list); total < list.TotalSize) {
        g_Log.Print(LOG_WARNING,
                    "file list TotalSize %llu is more than its files need (%llu): going by %llu",
                    static_cast<unsigned long long>(list.TotalSize),
                    static_cast<unsigned long long>(total), static_cast<unsigned long long>(total));
    }
    g_Log.Print(LOG_INFO, "file list deserialize success");
    return true;
}

bool IsInstallerVersion(const CFileList& list) {
    if (list.Version == INSTALLER_VERSION) {
        return true;
    }
    g_Log.Print(LOG_ERROR, "version is not same so you need re-download on homepage");
    return false;
}
