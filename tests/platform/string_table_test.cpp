#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/string_table.h"

namespace {

// Sets the three locale variables for one test and puts the old values back.
class LocaleEnv {
public:
    LocaleEnv(const char* lcAll, const char* lcMessages, const char* lang) {
        for (int i = 0; i < 3; ++i) {
            const char* old = std::getenv(kNames[i]);
            m_saved[i] = old ? std::optional<std::string>(old) : std::nullopt;
        }
        Set(0, lcAll);
        Set(1, lcMessages);
        Set(2, lang);
    }
    ~LocaleEnv() {
        for (int i = 0; i < 3; ++i) {
            Set(i, m_saved[i] ? m_saved[i]->c_str() : nullptr);
        }
    }

private:
    static constexpr const char* kNames[3] = {"LC_ALL", "LC_MESSAGES", "LANG"};
    static void Set(int i, const char* value) {
        if (value) {
            setenv(kNames[i], value, 1);
        } else {
            unsetenv(kNames[i]);
        }
    }
    std::optional<std::string> m_saved[3];
};

// The printf conversions of a text in order ("%s", "%ld"; "%%" is no conversion).
std::vector<std::string> Conversions(std::string_view text) {
    std::vector<std::string> out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '%') {
            continue;
        }
        size_t j = i + 1;
        while (j < text.size() &&
               std::string_view("-+ #0123456789.lhjztL").find(text[j]) != std::string_view::npos) {
            ++j;
        }
        if (j < text.size() && text[j] != '%') {
            out.emplace_back(text.substr(i, j - i + 1));
        }
        i = j;
    }
    return out;
}

TEST(LoadFormatString, FillsTheEnglishTextWithTheArguments) {
    EXPECT_EQ(LoadFormatString(104, 7L), "Currently you are not able to reach the server. (7)");
    EXPECT_EQ(LoadFormatString(118, 13L), "Failed to create file. (13)");
    EXPECT_EQ(LoadFormatString(123, "/home/ann/Games/Talvermoor"),
              "Previously used Download Folder is found.\n\n/home/ann/Games/Talvermoor\n\n"
              "Select the folder as Download Folder?");
    EXPECT_EQ(LoadFormatString(103, "4.00 GB", "1.50 GB"),
              "You need at least 4.00 GB free space to proceed.\nFree Space: 1.50 GB");
    EXPECT_EQ(LoadFormatString(105), "Invalid File List.");
}

TEST(LoadFormatString, GivesEmptyTextForAnIdWithoutEntry) {
    for (int id : {0, 100, 126, 129, 133, -1}) {
        EXPECT_EQ(LoadFormatString(id), "") << id;
    }
}

TEST(LoadFormatString, StaysEnglishWhateverTheUserLanguage) {
    LocaleEnv env("ja_JP.UTF-8", nullptr, "ko_KR.UTF-8");
    EXPECT_EQ(LoadFormatString(101), "Quellbridger Information(&A)...");
    EXPECT_EQ(LoadFormatString(123, "/x"),
              "Previously used Download Folder is found.\n\n/x\n\nSelect the folder as Download "
              "Folder?");
}

struct LanguageCase {
    const char* lcAll;
    const char* lcMessages;
    const char* lang;
    StringLanguage expected;
};

TEST(LoadUserLanguageString, OnlyTheAboutItemFollowsTheUserLanguage) {
    // The first variable set (and not empty) wins: LC_ALL, then LC_MESSAGES, then LANG.
    const LanguageCase cases[] = {
        {nullptr, nullptr, nullptr, StringLanguage::English},
        {nullptr, nullptr, "ja_JP.UTF-8", StringLanguage::Japanese},
        {nullptr, nullptr, "ko_KR.UTF-8", StringLanguage::Korean},
        {nullptr, nullptr, "en_US.UTF-8", StringLanguage::English},
        {nullptr, nullptr, "C", StringLanguage::English},
        {nullptr, "ko_KR.UTF-8", "ja_JP.UTF-8", StringLanguage::Korean},
        {"ja_JP.UTF-8", "ko_KR.UTF-8", "en_US.UTF-8", StringLanguage::Japanese},
        {"en_GB.UTF-8", nullptr, "ja_JP.UTF-8", StringLanguage::English},
        {"", nullptr, "ko", StringLanguage::Korean},
    };
    for (const LanguageCase& c : cases) {
        LocaleEnv env(c.lcAll, c.lcMessages, c.lang);
        SCOPED_TRACE(std::string("LC_ALL=") + (c.lcAll ? c.lcAll : "(unset)") +
                     " LC_MESSAGES=" + (c.lcMessages ? c.lcMessages : "(unset)") +
                     " LANG=" + (c.lang ? c.lang : "(unset)"));
        EXPECT_EQ(GetUserStringLanguage(), c.expected);
        EXPECT_EQ(LoadUserLanguageString(101), GetStringTableEntry(c.expected, 101));
        EXPECT_EQ(LoadUserLanguageString(102), "Close the Program?");
    }
    LocaleEnv japanese(nullptr, nullptr, "ja_JP.UTF-8");
    EXPECT_NE(LoadUserLanguageString(101), LoadFormatString(101));
}

TEST(StringTable, HoldsEveryIdOfEachLanguageWithMatchingConversions) {
    for (int id = 101; id <= 132; ++id) {
        SCOPED_TRACE(id);
        const std::string_view en = GetStringTableEntry(StringLanguage::English, id);
        const std::string_view ja = GetStringTableEntry(StringLanguage::Japanese, id);
        const std::string_view ko = GetStringTableEntry(StringLanguage::Korean, id);
        EXPECT_FALSE(ja.empty());
        EXPECT_FALSE(ko.empty());
        if (id >= 126 && id <= 129) {
            EXPECT_TRUE(en.empty());
            EXPECT_EQ(Conversions(ja), Conversions(ko));
            continue;
        }
        EXPECT_FALSE(en.empty());
        // A translation takes the same arguments as the English text it stands for.
        EXPECT_EQ(Conversions(ja), Conversions(en));
        EXPECT_EQ(Conversions(ko), Conversions(en));
    }
    for (StringLanguage language :
         {StringLanguage::English, StringLanguage::Japanese, StringLanguage::Korean}) {
        EXPECT_TRUE(GetStringTableEntry(language, 100).empty());
        EXPECT_TRUE(GetStringTableEntry(language, 133).empty());
    }
}

}  // namespace
