#include "support/test_list.h"

#include <json/json.h>

#include <ctime>

#include "download/list_fetch.h"
#include "support/test_data.h"

CFileList MakeList(const std::string& url, const std::vector<TestFile>& files) {
    CFileList list;
    list.Version = INSTALLER_VERSION;
    list.URL = url;
    for (const TestFile& file : files) {
        list.FileList.push_back({file.name, file.bytes.size(), Md5Hex(file.bytes)});
        list.TotalSize += file.bytes.size();
    }
    list.TotalCount = static_cast<int32_t>(files.size());
    return list;
}

std::string ListDocument(const CFileList& list) {
    CFileList copy = list;
    Json::Value root;
    copy.Serialize(root);
    Json::StreamWriterBuilder builder;
    builder["indentation"] = "  ";
    return Json::writeString(builder, root) + "\n";
}

std::string Today() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char text[16];
    std::strftime(text, sizeof text, "%Y%m%d", &local);
    return text;
}
