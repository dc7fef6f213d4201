#include "platform/string_table.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

struct Entry {
    int id;
    const char* text;
};

// English holds 101-125 and 130-132; 126-129 exist only in the Japanese and Korean editions.
constexpr Entry kEnglish[] = {
    {101, "Quellbridger Information(&A)..."},
    {102, "Close the Program?"},
    {103, "You need at least %s free space to proceed.\nFree Space: %s"},
    {104, "Currently you are not able to reach the server. (%ld)"},
    {105, "Invalid File List."},
    {106, "Program is already ongoing."},
    {107, "Closing the program due to insufficient available memory."},
    {108, "Insufficient free space in storage."},
    {109, "Stop checking and downloading?"},
    {110, "Download is ongoing. Force close?"},
    {111, "Invalid Folder."},
    {112, "The Talvermoor Launcher was unable to start correctly. Please try again."},
    {113, "Failed to start Talvermoor Launcher. Please try again."},
    {114, "Failed to add program to start menu."},
    {115, "Failed to create shortcut at desktop."},
    {116, "Failed to proceed due to download directory creation fail."},
    {117, "Failed to process message due to insufficient available memory."},
    {118, "Failed to create file. (%ld)"},
    {119,
     "Due to the unstable network connection, downloading has stopped.\nPlease try again. (%ld)"},
    {120, "Failed to check file size."},
    {121, "Failed to get file checksum."},
    {122, "Newly updated version is available.\nPlease download the new version on homepage."},
    {123,
     "Previously used Download Folder is found.\n\n%s\n\nSelect the folder as Download Folder?"},
    {124, "Folder is not empty.\nPlease create another folder and try it again."},
    {125, "An error occurred. Please try download later."},
    {130, "The following essencial package will be installed."},
    {131, "If the installation is canceled, the game may not run properly."},
    {132,
     "[Warning] The installation is complete, but the required packages to run the game do "
     "not exist.\n\nPlease refer to the link below to manually install the required packages."},
};

constexpr Entry kJapanese[] = {
    {101, "Quellbridger について(&A)..."},
    {102, "プログラムを終了しますか？"},
    {103, "続行するには %s 以上の空き容量が必要です。\n空き容量: %s"},
    {104, "現在サーバーに接続できません。 (%ld)"},
    {105, "ファイルリストが正しくありません。"},
    {106, "プログラムはすでに実行中です。"},
    {107, "使用可能なメモリが不足しているため、プログラムを終了します。"},
    {108, "ストレージの空き容量が不足しています。"},
    {109, "チェックとダウンロードを停止しますか？"},
    {110, "ダウンロード中です。強制終了しますか？"},
    {111, "無効なフォルダです。"},
    {112, "Talvermoor ランチャーを正常に起動できませんでした。もう一度お試しください。"},
    {113, "Talvermoor ランチャーの起動に失敗しました。もう一度お試しください。"},
    {114, "スタートメニューへの登録に失敗しました。"},
    {115, "デスクトップへのショートカット作成に失敗しました。"},
    {116, "ダウンロードフォルダを作成できなかったため、続行できません。"},
    {117, "使用可能なメモリが不足しているため、メッセージを処理できません。"},
    {118, "ファイルを作成できませんでした。 (%ld)"},
    {119,
     "ネットワーク接続が不安定なため、ダウンロードが停止しました。\nもう一度お試しください。 "
     "(%ld)"},
    {120, "ファイルサイズを確認できませんでした。"},
    {121, "ファイルのチェックサムを取得できませんでした。"},
    {122,
     "新しいバージョンがあります。\nホームページから新しいバージョンをダウンロードしてください。"},
    {123,
     "以前に使用したダウンロードフォルダが見つかりました。\n\n%"
     "s\n\nこのフォルダをダウンロードフォルダにしますか？"},
    {124, "フォルダが空ではありません。\n別のフォルダを作成して、もう一度お試しください。"},
    {125, "エラーが発生しました。しばらくしてからダウンロードしてください。"},
    {126, "インストールが完了しました。ランチャーから Talvermoor を起動できます。"},
    {127, "ゲームを始める前に、ランチャーでアカウントにログインしてください。"},
    {128, "インストールが完了しました。デスクトップのショートカットからもゲームを起動できます。"},
    {129, "プログラムの登録に失敗しました。"},
    {130, "次の必須パッケージがインストールされます。"},
    {131, "インストールをキャンセルすると、ゲームが正しく動作しない場合があります。"},
    {132,
     "[警告] インストールは完了しましたが、ゲームの実行に必要なパッケージがありません。\n\n"
     "下のリンクから必要なパッケージを手動でインストールしてください。"},
};

constexpr Entry kKorean[] = {
    {101, "Quellbridger 정보(&A)..."},
    {102, "프로그램을 종료하시겠습니까?"},
    {103, "계속하려면 최소 %s의 여유 공간이 필요합니다.\n여유 공간: %s"},
    {104, "현재 서버에 연결할 수 없습니다. (%ld)"},
    {105, "파일 목록이 올바르지 않습니다."},
    {106, "프로그램이 이미 실행 중입니다."},
    {107, "사용 가능한 메모리가 부족하여 프로그램을 종료합니다."},
    {108, "저장 공간의 여유 공간이 부족합니다."},
    {109, "검사와 다운로드를 중지하시겠습니까?"},
    {110, "다운로드가 진행 중입니다. 강제로 종료하시겠습니까?"},
    {111, "올바르지 않은 폴더입니다."},
    {112, "Talvermoor 런처가 올바르게 시작되지 않았습니다. 다시 시도해 주세요."},
    {113, "Talvermoor 런처를 시작하지 못했습니다. 다시 시도해 주세요."},
    {114, "시작 메뉴에 프로그램을 추가하지 못했습니다."},
    {115, "바탕 화면에 바로 가기를 만들지 못했습니다."},
    {116, "다운로드 폴더를 만들지 못해 진행할 수 없습니다."},
    {117, "사용 가능한 메모리가 부족하여 메시지를 처리하지 못했습니다."},
    {118, "파일을 만들지 못했습니다. (%ld)"},
    {119, "네트워크 연결이 불안정하여 다운로드가 중지되었습니다.\n다시 시도해 주세요. (%ld)"},
    {120, "파일 크기를 확인하지 못했습니다."},
    {121, "파일 체크섬을 가져오지 못했습니다."},
    {122, "새 버전이 있습니다.\n홈페이지에서 새 버전을 다운로드해 주세요."},
    {123,
     "이전에 사용한 다운로드 폴더가 있습니다.\n\n%s\n\n이 폴더를 다운로드 폴더로 "
     "선택하시겠습니까?"},
    {124, "폴더가 비어 있지 않습니다.\n다른 폴더를 만든 후 다시 시도해 주세요."},
    {125, "오류가 발생했습니다. 나중에 다시 다운로드해 주세요."},
    {126, "설치가 완료되었습니다. 런처에서 Talvermoor를 시작할 수 있습니다."},
    {127, "게임을 시작하기 전에 런처에서 계정에 로그인해 주세요."},
    {128, "설치가 완료되었습니다. 바탕 화면의 바로 가기로도 게임을 시작할 수 있습니다."},
    {129, "프로그램 등록에 실패했습니다."},
    {130, "다음 필수 패키지가 설치됩니다."},
    {131, "설치를 취소하면 게임이 제대로 실행되지 않을 수 있습니다."},
    {132,
     "[경고] 설치는 완료되었지만 게임 실행에 필요한 패키지가 없습니다.\n\n"
     "아래 링크를 참고하여 필요한 패키지를 직접 설치해 주세요."},
};

template <size_t N>
std::string_view Find(const Entry (&table)[N], int id) {
    for (const Entry& e : table) {
        if (e.id == id) {
            return e.text;
        }
    }
    return {};
}

std::string VFormat(std::string_view format, va_list args) {
    // The table texts are trusted formats; the copy makes them zero-terminated.
    std::string fmt(format);
    va_list copy;
    va_copy(copy, args);
    int needed = std::vsnprintf(nullptr, 0, fmt.c_str(), copy);
    va_end(copy);
    if (needed <= 0) {
        return {};
    }
    std::string out(static_cast<size_t>(needed) + 1, '\0');
    std::vsnprintf(out.data(), out.size(), fmt.c_str(), args);
    out.resize(static_cast<size_t>(needed));
    return out;
}

}  // namespace

std::string_view GetStringTableEntry(StringLanguage language, int id) {
    switch (language) {
        case StringLanguage::English:
            return Find(kEnglish, id);
        case StringLanguage::Japanese:
            return Find(kJapanese, id);
        case StringLanguage::Korean:
            return Find(kKorean, id);
    }
    return {};
}

std::string LoadFormatString(int id, ...) {
    std::string_view format = GetStringTableEntry(StringLanguage::English, id);
    if (format.empty()) {
        return {};
    }
    va_list args;
    va_start(args, id);
    std::string text = VFormat(format, args);
    va_end(args);
    return text;
}

StringLanguage GetUserStringLanguage() {
    // The first variable that is set wins, as for the C library's LC_MESSAGES category.
    for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
        const char* value = std::getenv(name);
        if (value == nullptr || *value == '\0') {
            continue;
        }
        if (std::strncmp(value, "ja", 2) == 0) {
            return StringLanguage::Japanese;
        }
        if (std::strncmp(value, "ko", 2) == 0) {
            return StringLanguage::Korean;
        }
        return StringLanguage::English;
    }
    return StringLanguage::English;
}

std::string LoadUserLanguageString(int id) {
    if (id != 101) {
        return std::string(GetStringTableEntry(StringLanguage::English, id));
    }
    std::string_view text = GetStringTableEntry(GetUserStringLanguage(), id);
    if (text.empty()) {
        text = GetStringTableEntry(StringLanguage::English, id);
    }
    return std::string(text);
}
