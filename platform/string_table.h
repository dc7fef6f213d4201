// Message texts by string-table id (101 to 132) in English, Japanese and Korean.
// Thread: any; the tables are constant.
#pragma once

#include <string>
#include <string_view>

enum class StringLanguage { English, Japanese, Korean };

// The raw table entry, or an empty view when the language has no such id.
std::string_view GetStringTableEntry(StringLanguage language, int id);

// The English text of id formatted printf-style with the arguments; empty when missing.
// Message texts are always English, whatever the user's language.
std::string LoadFormatString(int id, ...);

// The language the user's environment asks for (LC_ALL, LC_MESSAGES, LANG), English when
// it names neither Japanese nor Korean.
StringLanguage GetUserStringLanguage();

// The only text that follows the user's language: the system-menu item (id 101).
std::string LoadUserLanguageString(int id);
