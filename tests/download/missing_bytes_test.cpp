// The free-space rule: only the bytes not on disk yet count.
#include "download/missing_bytes.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <limits>
#include <string>

#include "support/sandbox.h"

namespace fs = std::filesystem;

namespace {

TEST(MissingBytes, CountsWhatEachProcessedEntryStillLacks) {
    Sandbox box;
    const fs::path install = box.Path() / "install";
    struct Case {
        const char* name;
        uint64_t size;
        int present;  // bytes of a regular file there; -1 nothing, -2 a link, -3 a folder
        uint64_t missing;
    };
    const Case cases[] = {
        {"absent.bin", 1000, -1, 1000},  {"data/partial.bin", 1000, 300, 700},
        {"complete.bin", 1000, 1000, 0}, {"bigger.bin", 1000, 1500, 0},
        {"empty.bin", 0, -1, 0},         {"link.bin", 1000, -2, 1000},
        {"folder.bin", 1000, -3, 1000},
    };
    CFileList list;
    uint64_t expected = 0;
    box.Write("outside.bin", std::string(1000, 'x'));
    for (const Case& c : cases) {
        list.FileList.push_back({c.name, c.size, std::string(32, '0')});
        list.TotalSize += c.size;
        expected += c.missing;
        if (c.present >= 0) {
            box.Write("install/" + std::string(c.name), std::string(c.present, 'x'));
        } else if (c.present == -2) {
            fs::create_directories(install);
            fs::create_symlink(box.Path() / "outside.bin", install / c.name);
        } else if (c.present == -3) {
            fs::create_directories(install / c.name);
        }
        list.TotalCount = static_cast<int32_t>(list.FileList.size());
        SCOPED_TRACE(c.name);
        EXPECT_EQ(MissingBytes(list, install.string()), expected);
    }
    // Entries past TotalCount are not processed, so they need no room.
    list.FileList.push_back({"unprocessed.bin", 5000, std::string(32, '0')});
    EXPECT_EQ(MissingBytes(list, install.string()), expected);
    // A folder that does not exist yet lacks everything.
    EXPECT_EQ(MissingBytes(list, (box.Path() / "none").string()), 6000u);
    // Sizes near the limit do not wrap around.
    CFileList huge;
    huge.FileList = {{"a", std::numeric_limits<uint64_t>::max(), ""}, {"b", 10, ""}};
    huge.TotalCount = 2;
    EXPECT_EQ(MissingBytes(huge, install.string()), std::numeric_limits<uint64_t>::max());
}

}  // namespace
