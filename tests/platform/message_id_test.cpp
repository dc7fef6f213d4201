// The named messages: every text of every language formats exactly the arguments its
// constant declares, and every English text has a name.
#include "platform/message_id.h"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace {

template <typename T>
std::string Conversion();
template <>
std::string Conversion<long>() {
    return "%ld";
}
template <>
std::string Conversion<const char*>() {
    return "%s";
}

template <typename... Args>
std::vector<std::string> Declared(MessageId<Args...>) {
    return {Conversion<Args>()...};
}

// The printf conversions in text, "%%" left out.
std::vector<std::string> Conversions(std::string_view text) {
    std::vector<std::string> out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '%') {
            continue;
        }
        size_t end = i + 1;
        while (end < text.size() &&
               std::string_view("-+ #0123456789.lhz").find(text[end]) != std::string_view::npos) {
            ++end;
        }
        if (end < text.size() && text[end] != '%') {
            out.emplace_back(text.substr(i, end - i + 1));
        }
        i = end;
    }
    return out;
}

struct Named {
    const char* name;
    int id;
    std::vector<std::string> declared;
};
#define NAMED(m)           \
    Named {                \
#m, m, Declared(m) \
    }

TEST(MessageId, EveryTextFormatsWhatItsNameDeclares) {
    const Named all[] = {
        NAMED(IDS_ABOUT_ITEM),
        NAMED(IDS_CLOSE_PROGRAM),
        NAMED(IDS_NEED_FREE_SPACE),
        NAMED(IDS_SERVER_UNREACHABLE),
        NAMED(IDS_INVALID_FILE_LIST),
        NAMED(IDS_ALREADY_RUNNING),
        NAMED(IDS_NO_MEMORY_CLOSING),
        NAMED(IDS_INSUFFICIENT_SPACE),
        NAMED(IDS_STOP_QUESTION),
        NAMED(IDS_FORCE_CLOSE_QUESTION),
        NAMED(IDS_INVALID_FOLDER),
        NAMED(IDS_LAUNCHER_NOT_READY),
        NAMED(IDS_LAUNCHER_START_FAILED),
        NAMED(IDS_START_MENU_FAILED),
        NAMED(IDS_DESKTOP_SHORTCUT_FAILED),
        NAMED(IDS_FOLDER_CREATE_FAILED),
        NAMED(IDS_NO_MEMORY_MESSAGE),
        NAMED(IDS_FILE_CREATE_FAILED),
        NAMED(IDS_NETWORK_UNSTABLE),
        NAMED(IDS_FILE_SIZE_FAILED),
        NAMED(IDS_CHECKSUM_FAILED),
        NAMED(IDS_NEW_VERSION),
        NAMED(IDS_REMEMBERED_FOLDER_QUESTION),
        NAMED(IDS_FOLDER_NOT_EMPTY),
        NAMED(IDS_START_FAILED),
        NAMED(IDS_PACKAGE_NOTICE),
        NAMED(IDS_PACKAGE_CANCEL_WARNING),
        NAMED(IDS_PREREQUISITE_MISSING),
    };
    std::set<int> named;
    for (const Named& m : all) {
        SCOPED_TRACE(m.name);
        EXPECT_TRUE(named.insert(m.id).second) << "two names for " << m.id;
        ASSERT_FALSE(GetStringTableEntry(StringLanguage::English, m.id).empty());
        for (const StringLanguage language :
             {StringLanguage::English, StringLanguage::Japanese, StringLanguage::Korean}) {
            EXPECT_EQ(Conversions(GetStringTableEntry(language, m.id)), m.declared)
                << "language " << static_cast<int>(language);
        }
    }
    for (int id = 100; id < 140; ++id) {
        if (!GetStringTableEntry(StringLanguage::English, id).empty()) {
            EXPECT_EQ(named.count(id), 1u) << "no name for " << id;
        }
    }
}

TEST(MessageId, FormatsWithTheDeclaredArguments) {
    EXPECT_EQ(FormatMessageText(IDS_SERVER_UNREACHABLE, 404L),
              "Currently you are not able to reach the server. (404)");
    // An int converts to the declared long before it reaches the format.
    EXPECT_EQ(FormatMessageText(IDS_FILE_CREATE_FAILED, 28), "Failed to create file. (28)");
    EXPECT_EQ(FormatMessageText(IDS_REMEMBERED_FOLDER_QUESTION, "/games/T"),
              "Previously used Download Folder is found.\n\n/games/T\n\nSelect the folder as "
              "Download Folder?");
    EXPECT_EQ(FormatMessageText(IDS_INSUFFICIENT_SPACE), "Insufficient free space in storage.");
    EXPECT_EQ(IDS_FOLDER_NOT_EMPTY, 124);
}

}  // namespace
