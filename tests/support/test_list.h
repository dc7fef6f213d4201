// File lists and dates as the tests need them. Thread: any.
#pragma once

#include <string>
#include <vector>

#include "download/file_list.h"

struct TestFile {
    std::string name;
    std::string bytes;
};

// The list of files as the publisher makes it (this installer's version), served below url.
CFileList MakeList(const std::string& url, const std::vector<TestFile>& files);

// The list as the JSON document the server publishes.
std::string ListDocument(const CFileList& list);

// Today's local date as "YYYYMMDD", as the daily log file is named.
std::string Today();
