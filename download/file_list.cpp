#include "download/file_list.h"

#include <cstring>
#include <exception>
#include <string_view>

// Json::Reader is the lenient reader (comments, any root, trailing text); newer builders
// are stricter about exactly the documents the server has always been allowed to send.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
#include <json/reader.h>
#pragma GCC diagnostic pop

namespace {

// Found without a copy of the key: the tree's find takes a range of characters.
constexpr std::string_view kFileList = "FileList";

}  // namespace

void CFileList::Serialize(Json::Value& root) {
    root["Version"] = Version;
    root["URL"] = URL;
    root["TotalCount"] = static_cast<Json::Int>(TotalCount);
    root["TotalSize"] = static_cast<Json::UInt64>(TotalSize);
    Json::Value list(Json::arrayValue);
    for (const FileEntry& entry : FileList) {
        Json::Value item(Json::objectValue);
        item["Name"] = entry.Name;
        item["Size"] = static_cast<Json::UInt64>(entry.Size);
        item["CheckSum"] = entry.CheckSum;
        list.append(item);
    }
    root["FileList"] = list;
}

void CFileList::Deserialize(Json::Value& root) {
    // Built aside and moved in at the end, so a conversion error changes nothing.
    CFileList next(*this);
    next.Version = root.get("Version", "").asString();
    next.URL = root.get("URL", "").asString();
    next.TotalCount = root.get("TotalCount", 0).asInt();
    next.TotalSize = root.get("TotalSize", 0).asUInt64();
    const Json::Value* found =
        root.isObject() ? root.find(kFileList.data(), kFileList.data() + kFileList.size())
                        : nullptr;
    const Json::Value& list = found != nullptr ? *found : Json::Value::nullSingleton();
    if (list.isArray()) {
        next.FileList.reserve(next.FileList.size() + list.size());
        for (Json::ArrayIndex i = 0; i < list.size(); ++i) {
            const Json::Value& item = list[i];
            if (!item.isObject()) {
                continue;
            }
            FileEntry entry;
            entry.Name = item.get("Name", "").asString();
            entry.Size = item.get("Size", 0).asUInt64();
            entry.CheckSum = item.get("CheckSum", "").asString();
            next.FileList.push_back(std::move(entry));
        }
    }
    *this = std::move(next);
}

bool LoadFromJsonText(IJsonSerializable* target, const char* text) {
    if (target == nullptr || text == nullptr) {
        return false;
    }
    try {
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
        Json::Reader reader;
#pragma GCC diagnostic pop
        Json::Value root;
        // Lists saved on Windows often begin with a byte-order mark.
        if (std::strncmp(text, "\xEF\xBB\xBF", 3) == 0) {
            text += 3;
        }
        if (!reader.parse(text, text + std::strlen(text), root)) {
            return false;
        }
        target->Deserialize(root);
        return true;
    } catch (const std::exception&) {
        return false;
    }
}
