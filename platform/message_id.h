// The message texts by name: each constant carries its string-table id and the types of the
// arguments its text formats, so a call with the wrong arguments does not compile.
// Thread: any; the constants are immutable.
#pragma once

#include <string>
#include <type_traits>

#include "platform/string_table.h"

template <typename... Args>
struct MessageId {
    int id;
    constexpr operator int() const { return id; }
};

// The English text of message, formatted with exactly the argument types it declares.
template <typename... Args>
std::string FormatMessageText(MessageId<Args...> message, std::type_identity_t<Args>... args) {
    return LoadFormatString(message.id, args...);
}

inline constexpr MessageId<> IDS_ABOUT_ITEM{101};
inline constexpr MessageId<> IDS_CLOSE_PROGRAM{102};
inline constexpr MessageId<const char*, const char*> IDS_NEED_FREE_SPACE{103};  // needed, free
inline constexpr MessageId<long> IDS_SERVER_UNREACHABLE{104};                   // HTTP or curl code
inline constexpr MessageId<> IDS_INVALID_FILE_LIST{105};
inline constexpr MessageId<> IDS_ALREADY_RUNNING{106};
inline constexpr MessageId<> IDS_NO_MEMORY_CLOSING{107};
inline constexpr MessageId<> IDS_INSUFFICIENT_SPACE{108};
inline constexpr MessageId<> IDS_STOP_QUESTION{109};
inline constexpr MessageId<> IDS_FORCE_CLOSE_QUESTION{110};
inline constexpr MessageId<> IDS_INVALID_FOLDER{111};
inline constexpr MessageId<> IDS_LAUNCHER_NOT_READY{112};
inline constexpr MessageId<> IDS_LAUNCHER_START_FAILED{113};
inline constexpr MessageId<> IDS_START_MENU_FAILED{114};
inline constexpr MessageId<> IDS_DESKTOP_SHORTCUT_FAILED{115};
inline constexpr MessageId<> IDS_FOLDER_CREATE_FAILED{116};
inline constexpr MessageId<> IDS_NO_MEMORY_MESSAGE{117};
inline constexpr MessageId<long> IDS_FILE_CREATE_FAILED{118};  // errno
inline constexpr MessageId<long> IDS_NETWORK_UNSTABLE{119};    // HTTP or curl code
inline constexpr MessageId<> IDS_FILE_SIZE_FAILED{120};
inline constexpr MessageId<> IDS_CHECKSUM_FAILED{121};
inline constexpr MessageId<> IDS_NEW_VERSION{122};
inline constexpr MessageId<const char*> IDS_REMEMBERED_FOLDER_QUESTION{123};  // the folder
inline constexpr MessageId<> IDS_FOLDER_NOT_EMPTY{124};
inline constexpr MessageId<> IDS_START_FAILED{125};
inline constexpr MessageId<> IDS_PACKAGE_NOTICE{130};
inline constexpr MessageId<> IDS_PACKAGE_CANCEL_WARNING{131};
inline constexpr MessageId<> IDS_PREREQUISITE_MISSING{132};
