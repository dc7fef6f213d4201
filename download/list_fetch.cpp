#include "download/list_fetch.h"

#include <cstdlib>

#include "download/file_list_check.h"
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

uint32_t ReadWholeBody(CHttpClient& client, uint64_t length, std::string& text) {
    if (length > MAX_FILE_LIST_BYTES) {
        return CURLE_FILESIZE_EXCEEDED;
    }
    text.clear();
    text.reserve(static_cast<size_t>(length));
    while (text.size() < length) {
        uint32_t got = 0;
        if (!client.m_Wininet.Read(client.m_Buffer, CHttpClient::TRANSFER_BUFFER_SIZE, got)) {
            return client.m_Wininet.m_dwLastError;
        }
        if (got == 0) {
            return CURLE_PARTIAL_FILE;
        }
        text.append(reinterpret_cast<const char*>(client.m_Buffer), got);
    }
    if (text.size() > length) {
        text.resize(static_cast<size_t>(length));
    }
    return 0;
}

}  // namespace

uint32_t DownloadFileListText(const std::string& url, std::string& text,
                              const HttpTimeouts& timeouts, const std::atomic<bool>* running) {
    CHttpClient client(timeouts);
    client.SetStopFlag(running);
    // A list cut short is told by the one line below.
    client.m_Wininet.m_bLogReadErrors = false;
    uint64_t length = 0;
    uint32_t error = 0;
    if (!client.OpenUrl(url, nullptr, &length, "HttpClient/1.0")) {
        error = client.m_dwLastError;
    } else {
        error = ReadWholeBody(client, length, text);
    }
    if (error != 0) {
        text.clear();
        g_Log.Print(LOG_ERROR, "file list download is failed - (%ld)", static_cast<long>(error));
        return error;
    }
    g_Log.Print(LOG_INFO, "file list download success");
    return 0;
}

bool ReadFileListText(const std::string& text, CFileList& list) {
    // The text ends at its first zero byte, as the document always has.
    if (!LoadFromJsonText(&list, text.c_str())) {
        g_Log.Print(LOG_ERROR, "file list deserialize is failed");
        return false;
    }
    std::string problem;
    if (!ValidateFileList(list, &problem)) {
        g_Log.Print(LOG_ERROR, "invalid file list - %s", problem.c_str());
        return false;
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
