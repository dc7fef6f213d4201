// Which folders Start takes, decided on facts a fake disk and store hand in.
#include <gtest/gtest.h>

#include <string>

#include "core/install_folder.h"

namespace {

TEST(InstallFolderRules, EmptyOrMissingFolderOrTheRememberedOne) {
    const std::string folder = "/games/Talvermoor";
    const std::string other = "/games/Other";
    struct Case {
        const char* label;
        long entries;
        const std::string* saved;
        bool usable;
    };
    const Case cases[] = {
        {"missing or empty, nothing remembered", 0, nullptr, true},
        {"missing or empty, another remembered", 0, &other, true},
        {"other files", 3, nullptr, false},
        {"other files, another remembered", 3, &other, false},
        // Its partial files are resumed.
        {"the remembered folder, not empty", 3, &folder, true},
        // May hold files the download would overwrite.
        {"cannot be listed", -1, nullptr, false},
        {"cannot be listed, but remembered", -1, &folder, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        EXPECT_EQ(IsInstallFolderUsable(folder, c.entries, c.saved), c.usable);
    }
}

}  // namespace
