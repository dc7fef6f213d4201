// The file list: what to install, read from the server's JSON document.
// Thread: any; plain values, each owner holds its own copy.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include <json/value.h>

struct FileEntry {
    std::string Name;      // relative path below the install folder and the list's URL
    uint64_t Size = 0;     // bytes of the complete file
    std::string CheckSum;  // MD5, 32 upper-case hex digits
};

class IJsonSerializable {
public:
    virtual ~IJsonSerializable() = default;
    virtual void Serialize(Json::Value& root) = 0;
    virtual void Deserialize(Json::Value& root) = 0;
};

class CFileList : public IJsonSerializable {
public:
    ~CFileList() override = default;

    void Serialize(Json::Value& root) override;
    // Appends the document's entries. Throws Json::Exception for members that cannot be
    // converted; the list is then left exactly as it was.
    void Deserialize(Json::Value& root) override;

    std::string Version;
    std::string URL;
    int32_t TotalCount = 0;
    uint64_t TotalSize = 0;
    std::vector<FileEntry> FileList;
};

// Parses text (up to its first zero byte) leniently and hands the root to target.
// False for a null target, text that is not JSON, or members of the wrong kind; the target
// is untouched then. Never throws.
bool LoadFromJsonText(IJsonSerializable* target, const char* text);
