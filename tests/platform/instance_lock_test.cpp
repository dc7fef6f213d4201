// The single-instance lock's folder when the session has no runtime folder: the user's own,
// never one that another user could write in first.
#include "platform/instance_lock.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <string>

#include "support/env_guard.h"
#include "support/sandbox.h"

namespace fs = std::filesystem;

namespace {

constexpr const char* kName = "QUELLBRIDGER_MUTEX_SEA";

TEST(InstanceLock, WithoutARuntimeFolderLocksInAPrivateStateFolder) {
    Sandbox box;
    EnvGuard env;
    env.Unset("XDG_RUNTIME_DIR");
    struct Case {
        const char* label;
        const char* stateHome;  // nullptr: unset, so below HOME
        std::string folder;     // expected lock folder
    };
    const Case cases[] = {
        {"state home", "state", (box.Path() / "state/quellbridger").string()},
        {"home", nullptr, (box.Path() / "home/.local/state/quellbridger").string()},
        {"relative state home", "relative",
         (box.Path() / "home/.local/state/quellbridger").string()},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        env.Set("HOME", (box.Path() / "home").string());
        if (c.stateHome == nullptr) {
            env.Unset("XDG_STATE_HOME");
        } else if (std::string(c.stateHome) == "relative") {
            env.Set("XDG_STATE_HOME", "relative/state");
        } else {
            env.Set("XDG_STATE_HOME", (box.Path() / c.stateHome).string());
        }
        EXPECT_EQ(CInstanceLock::LockPath(kName), c.folder + "/" + kName + ".lock");
        CInstanceLock first(kName);
        CInstanceLock second(kName);
        ASSERT_TRUE(first.Acquire());
        EXPECT_TRUE(first.IsHeld());
        EXPECT_FALSE(second.Acquire());
        struct stat st {};
        ASSERT_EQ(::stat(c.folder.c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 0777, 0700u);
        EXPECT_FALSE(
            fs::exists("/tmp/" + std::string(kName) + "-" + std::to_string(::getuid()) + ".lock"));
    }
}

// A folder that others can write in, or a link in the folder's place, is not used: the
// program runs unprotected rather than trust a lock file someone else may have made.
TEST(InstanceLock, RefusesAFolderOthersCouldWriteIn) {
    Sandbox box;
    EnvGuard env;
    env.Unset("XDG_RUNTIME_DIR");
    env.Set("XDG_STATE_HOME", box.Path().string());
    const fs::path folder = box.Path() / "quellbridger";
    for (const bool link : {false, true}) {
        SCOPED_TRACE(link ? "link" : "shared folder");
        fs::remove_all(folder);
        const fs::path shared = box.Path() / "shared";
        fs::create_directories(shared);
        ::chmod(shared.c_str(), 01777);
        if (link) {
            fs::create_symlink(shared, folder);
        } else {
            fs::create_directories(folder);
            ::chmod(folder.c_str(), 0777);
        }
        CInstanceLock lock(kName);
        EXPECT_TRUE(lock.Acquire());
        EXPECT_FALSE(lock.IsHeld());
        EXPECT_FALSE(fs::exists(folder / (std::string(kName) + ".lock")));
        EXPECT_FALSE(fs::exists(shared / (std::string(kName) + ".lock")));
    }
}

}  // namespace
