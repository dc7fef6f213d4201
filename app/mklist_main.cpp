// quellbridger-mklist DIR URL: prints the file list document for the files below DIR,
// served at URL (a folder address ending in '/').
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include <json/writer.h>

#include "download/checksum.h"
#include "download/file_list.h"
#include "download/file_list_check.h"
#include "download/list_fetch.h"

int main(int argc, char** argv) {
    if (argc == 2 && std::string(argv[1]) == "--version") {
        std::printf("quellbridger-mklist %s\n", QB_VERSION);
        return 0;
    }
    if (argc != 3) {
        std::fprintf(stderr, "Usage: quellbridger-mklist DIR URL > filelist.json\n");
        return 2;
    }
    const std::filesystem::path root = argv[1];
    CFileList list;
    list.Version = INSTALLER_VERSION;
    list.URL = argv[2];
    if (!list.URL.empty() && list.URL.back() != '/') {
        list.URL += '/';
    }
    std::vector<std::string> names;
    std::error_code error;
    for (auto it = std::filesystem::recursive_directory_iterator(root, error);
         !error && it != std::filesystem::recursive_directory_iterator(); it.increment(error)) {
        if (it->is_regular_file() && !it->is_symlink()) {
            const std::string name = it->path().lexically_relative(root).generic_string();
            if (name != "filelist.json") {
                names.push_back(name);
            }
        }
    }
    if (error) {
        std::fprintf(stderr, "quellbridger-mklist: %s: %s\n", argv[1], error.message().c_str());
        return 1;
    }
    std::sort(names.begin(), names.end());
    for (const std::string& name : names) {
        if (!IsSafeRelativeName(name)) {
            std::fprintf(stderr, "quellbridger-mklist: %s: name cannot be listed\n", name.c_str());
            return 1;
        }
        FileEntry entry;
        entry.Name = name;
        entry.Size = std::filesystem::file_size(root / name);
        if (const uint32_t code = GetFileChecksum((root / name).string(), entry.CheckSum); code) {
            std::fprintf(stderr, "quellbridger-mklist: %s: error %u\n", name.c_str(), code);
            return 1;
        }
        list.TotalSize += entry.Size;
        list.FileList.push_back(std::move(entry));
    }
    list.TotalCount = static_cast<int32_t>(list.FileList.size());
    Json::Value root_value;
    list.Serialize(root_value);
    // Compact: a list of many files stays well within the size the installer reads.
    Json::StreamWriterBuilder builder;
    builder["indentation"] = "";
    std::ostringstream text;
    std::unique_ptr<Json::StreamWriter> writer(builder.newStreamWriter());
    writer->write(root_value, &text);
    text << "\n";
    const std::string document = text.str();
    if (document.size() > MAX_FILE_LIST_BYTES) {
        std::fprintf(stderr,
                     "quellbridger-mklist: warning: the list is %zu bytes, over the %zu bytes the "
                     "installer reads; it will refuse it\n",
                     document.size(), MAX_FILE_LIST_BYTES);
    }
    std::cout << document;
    return 0;
}
