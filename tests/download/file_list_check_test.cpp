// The check every file list passes before a run: names, checksums, counts and sizes.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "download/file_list_check.h"

namespace {

const std::string kMd5A = "0CC175B9C0F1B6A831C399E269772661";

TEST(IsSafeRelativeName, AcceptsOnlyPlainRelativePaths) {
    struct Case {
        std::string name;
        bool safe;
    };
    const Case cases[] = {
        {"abc.txt", true},
        {"data/a.txt", true},
        {"a/b/c/d.pak", true},
        {"..data/x..y/.hidden", true},
        {"Talvermoor Client/QXLauncher.exe", true},
        {"\xE3\x83\x87\xE3\x83\xBC\xE3\x82\xBF/a.bin", true},  // UTF-8 names are fine
        {"", false},
        {"/etc/passwd", false},
        {"../x", false},
        {"a/../../x", false},
        {"a/..", false},
        {"..", false},
        {".", false},
        {"./a", false},
        {"a/./b", false},
        {"a//b", false},
        {"a/", false},
        {"a\\b", false},
        {"..\\x", false},
        {"C:x", false},
        {"c:/windows/x", false},
        {std::string("a\0b", 3), false},
        {"a\x01"
         "b",
         false},
        {"a\nb", false},
        {"a\x1F", false},
        {"a\x7F", false},
        {std::string(255, 'n'), true},
        {std::string(256, 'n'), false},
        {"d/" + std::string(256, 'n'), false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(IsSafeRelativeName(c.name), c.safe) << '"' << c.name << '"';
    }
}

TEST(IsValidChecksumText, WantsThirtyTwoUpperCaseHexDigits) {
    EXPECT_TRUE(IsValidChecksumText(kMd5A));
    EXPECT_TRUE(IsValidChecksumText("0123456789ABCDEF0123456789ABCDEF"));
    EXPECT_FALSE(IsValidChecksumText("0cc175b9c0f1b6a831c399e269772661"));
    EXPECT_FALSE(IsValidChecksumText("0CC175B9C0F1B6A831C399E26977266"));
    EXPECT_FALSE(IsValidChecksumText(kMd5A + "1"));
    EXPECT_FALSE(IsValidChecksumText("0CC175B9C0F1B6A831C399E26977266G"));
    EXPECT_FALSE(IsValidChecksumText(" CC175B9C0F1B6A831C399E269772661"));
    EXPECT_FALSE(IsValidChecksumText(""));
}

CFileList TwoFiles() {
    CFileList list;
    list.Version = "2023.08.14.01";
    list.URL = "http://127.0.0.1:1/";
    list.FileList = {{"abc.txt", 3, "900150983CD24FB0D6963F7D28E17F72"}, {"data/a.txt", 1, kMd5A}};
    list.TotalCount = 2;
    list.TotalSize = 4;
    return list;
}

TEST(ValidateFileList, NamesTheFirstOffendingEntry) {
    struct Case {
        const char* label;
        void (*change)(CFileList&);
        bool valid;
        std::string problem;
    };
    const Case cases[] = {
        {"as served", [](CFileList&) {}, true, ""},
        {"no files",
         [](CFileList& l) {
             l.FileList.clear();
             l.TotalCount = 0;
             l.TotalSize = 0;
         },
         true, ""},
        {"count below the entries, rest never processed",
         [](CFileList& l) {
             l.TotalCount = 1;
             l.FileList[1].Name = "../x";
         },
         true, ""},
        {"TotalSize above the sum", [](CFileList& l) { l.TotalSize = 1000; }, true, ""},
        {"count above the entries", [](CFileList& l) { l.TotalCount = 3; }, false,
         "TotalCount 3 for 2 entries"},
        {"negative count", [](CFileList& l) { l.TotalCount = -1; }, false,
         "TotalCount -1 for 2 entries"},
        {"unsafe second name", [](CFileList& l) { l.FileList[1].Name = "../a.txt"; }, false,
         "entry 1 \"../a.txt\": unsafe name"},
        {"control character shown escaped", [](CFileList& l) { l.FileList[0].Name = "a\x01"; },
         false, "entry 0 \"a\\x01\": unsafe name"},
        {"lower-case checksum",
         [](CFileList& l) { l.FileList[1].CheckSum = "0cc175b9c0f1b6a831c399e269772661"; }, false,
         "entry 1 \"data/a.txt\": checksum is not 32 upper-case hex digits"},
        {"name listed twice", [](CFileList& l) { l.FileList[1].Name = "abc.txt"; }, false,
         "entry 1 \"abc.txt\": listed twice"},
        {"TotalSize below the sum", [](CFileList& l) { l.TotalSize = 3; }, false,
         "TotalSize 3 below the sum of sizes 4"},
        {"names alike but for case",
         [](CFileList& l) {
             l.FileList[0].Name = "Data/Tex.pak";
             l.FileList[1].Name = "data/tex.pak";
         },
         false, "entry 1 \"data/tex.pak\": same name as \"Data/Tex.pak\" where case is ignored"},
        {"non-ASCII names alike but for case",
         [](CFileList& l) {
             l.FileList[0].Name = "Ünïcode/ΣΑΣ.txt";
             l.FileList[1].Name = "ünïcode/σασ.txt";
         },
         false,
         "entry 1 \"ünïcode/σασ.txt\": same name as \"Ünïcode/ΣΑΣ.txt\" where case is ignored"},
        {"a file that a later name needs as a folder",
         [](CFileList& l) { l.FileList[1].Name = "abc.txt/b"; }, false,
         "entry 1 \"abc.txt/b\": needs \"abc.txt\" as a folder, which is a file"},
        {"a folder that a later name lists as a file",
         [](CFileList& l) {
             l.FileList[0].Name = "data/a.txt/deeper";
             l.FileList[1].Name = "DATA";
         },
         false, "entry 1 \"DATA\": is also a folder of \"data/a.txt/deeper\""},
        {"C1 control",
         [](CFileList& l) {
             l.FileList[0].Name =
                 "a\xC2\x85"
                 "b";
         },
         false, "entry 0 \"a\\u0085b\": unsafe name"},
        {"right-to-left override", [](CFileList& l) { l.FileList[0].Name = "exe.\u202Etxt"; },
         false, "entry 0 \"exe.\\u202Etxt\": unsafe name"},
        {"first strong isolate", [](CFileList& l) { l.FileList[0].Name = "a\u2068b"; }, false,
         "entry 0 \"a\\u2068b\": unsafe name"},
        {"other non-ASCII stays",
         [](CFileList& l) { l.FileList[0].Name = "\u00A0\u202F\u2065.txt"; }, true, ""},
        {"URL without a scheme", [](CFileList& l) { l.URL = "127.0.0.1/files/"; }, false,
         "URL \"127.0.0.1/files/\": URL is not an absolute http or https address"},
        {"URL of another scheme", [](CFileList& l) { l.URL = "ftp://127.0.0.1/"; }, false,
         "URL \"ftp://127.0.0.1/\": URL is not an absolute http or https address"},
        {"URL without a host", [](CFileList& l) { l.URL = "http:///files/"; }, false,
         "URL \"http:///files/\": URL is not an absolute http or https address"},
        {"URL with a space", [](CFileList& l) { l.URL = "http://h/a b/"; }, false,
         "URL \"http://h/a b/\": URL is not an absolute http or https address"},
        {"https URL in capitals", [](CFileList& l) { l.URL = "HTTPS://h/"; }, true, ""},
        {"no URL needed without files",
         [](CFileList& l) {
             l.URL.clear();
             l.TotalCount = 0;
         },
         true, ""},
        {"sizes that overflow",
         [](CFileList& l) {
             l.FileList[0].Size = UINT64_MAX;
             l.TotalSize = UINT64_MAX;
         },
         false, "entry 1 \"data/a.txt\": sizes overflow"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        CFileList list = TwoFiles();
        c.change(list);
        std::string problem = c.valid ? "" : "untouched";
        EXPECT_EQ(ValidateFileList(list, &problem), c.valid);
        EXPECT_EQ(problem, c.problem);
        EXPECT_EQ(ValidateFileList(list, nullptr), c.valid);
    }
}

// The path check needs the install folder; it runs before any folder is made.
TEST(ValidateFileList, RefusesAPathTooLongForTheInstallFolder) {
    const std::string part(200, 'p');
    std::string deep;
    while (deep.size() < 3900) {
        deep += part + "/";
    }
    deep += "f.bin";
    CFileList list = TwoFiles();
    list.FileList[1].Name = deep;
    const std::string shortFolder = "/i";
    const std::string longFolder = "/" + std::string(250, 'f');
    std::string problem;
    EXPECT_TRUE(ValidateFileList(list, &problem));
    EXPECT_TRUE(ValidateFileList(list, &problem, &shortFolder)) << problem;
    EXPECT_FALSE(ValidateFileList(list, &problem, &longFolder));
    EXPECT_EQ(problem.rfind("entry 1 \"" + part, 0), 0u) << problem;
    EXPECT_TRUE(problem.ends_with("\": path too long in the install folder")) << problem;
}

// The sum stands in for a TotalSize that overstates it; one that understates it is refused.
TEST(EffectiveTotalSize, IsTheSmallerOfTotalSizeAndTheProcessedSizes) {
    CFileList list = TwoFiles();
    EXPECT_EQ(EffectiveTotalSize(list), 4u);
    list.TotalSize = 1000;
    EXPECT_EQ(EffectiveTotalSize(list), 4u);
    list.TotalCount = 1;
    EXPECT_EQ(EffectiveTotalSize(list), 3u);
    list.TotalSize = 2;
    EXPECT_EQ(EffectiveTotalSize(list), 2u);
}

// A long non-ASCII name is cut for the log between characters, never inside one.
TEST(DescribeEntry, CutsALongNameBetweenCharacters) {
    std::string name;
    for (int i = 0; i < 100; ++i) {
        name += "日";  // three bytes: byte 200 falls inside the 67th
    }
    const std::string text = DescribeEntry(4, name, "unsafe name");
    const std::string shown = text.substr(std::string("entry 4 \"").size());
    EXPECT_EQ(shown.substr(0, shown.find('"')).size(), 198u) << text;
    EXPECT_TRUE(text.ends_with("\": unsafe name"));
}

}  // namespace
