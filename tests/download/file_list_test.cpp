#include <gtest/gtest.h>
#include <json/json.h>

#include <string>

#include "download/file_list.h"

namespace {

constexpr const char* kExample = R"({
  "Version": "2023.08.14.01",
  "TotalCount": 2,
  "TotalSize": 4,
  "FileList": [
    { "Name": "abc.txt", "Size": 3, "CheckSum": "900150983CD24FB0D6963F7D28E17F72" },
    { "Name": "data/a.txt", "Size": 1, "CheckSum": "0CC175B9C0F1B6A831C399E269772661" }
  ]
})";

void ExpectEntry(const FileEntry& e, const std::string& name, uint64_t size,
                 const std::string& checksum) {
    EXPECT_EQ(e.Name, name);
    EXPECT_EQ(e.Size, size);
    EXPECT_EQ(e.CheckSum, checksum);
}

TEST(FileList, ReadsTheServedDocument) {
    CFileList list;
    ASSERT_TRUE(LoadFromJsonText(&list, kExample));
    EXPECT_EQ(list.Version, "2023.08.14.01");
    EXPECT_EQ(list.URL, "");
    EXPECT_EQ(list.TotalCount, 2);
    EXPECT_EQ(list.TotalSize, 4u);
    ASSERT_EQ(list.FileList.size(), 2u);
    ExpectEntry(list.FileList[0], "abc.txt", 3, "900150983CD24FB0D6963F7D28E17F72");
    ExpectEntry(list.FileList[1], "data/a.txt", 1, "0CC175B9C0F1B6A831C399E269772661");
}

TEST(FileList, ConvertsMembersByTheJsonValueRules) {
    CFileList list;
    ASSERT_TRUE(LoadFromJsonText(&list, R"({
        "Version": 2023, "URL": true, "TotalCount": 2.9, "TotalSize": 6000000000,
        "Other": {"ignored": [1, 2]},
        "FileList": [
            1, "text", null, [],
            {"Name": 5, "Size": 12.0, "CheckSum": null},
            {"Name": "a"},
            {"Name": null, "Size": true, "CheckSum": false},
            {"Name": "big.pak", "Size": 18446744073709551615}
        ]})"));
    EXPECT_EQ(list.Version, "2023");
    EXPECT_EQ(list.URL, "true");
    EXPECT_EQ(list.TotalCount, 2);
    EXPECT_EQ(list.TotalSize, 6000000000u);
    // Elements that are not objects are skipped; missing and null members take defaults.
    ASSERT_EQ(list.FileList.size(), 4u);
    ExpectEntry(list.FileList[0], "5", 12, "");
    ExpectEntry(list.FileList[1], "a", 0, "");
    ExpectEntry(list.FileList[2], "", 1, "false");
    ExpectEntry(list.FileList[3], "big.pak", 18446744073709551615ull, "");
}

TEST(FileList, AcceptsCommentsAndIgnoresTextAfterTheRoot) {
    const char* documents[] = {
        "// the list\n{\"Version\": \"v\", /* inline */ \"TotalCount\": 1} // end\n",
        "{\"Version\": \"v\", \"TotalCount\": 1} {\"Version\": \"other\"}",
        "{\"Version\": \"v\", \"TotalCount\": 1}\n[1, 2, 3] trailing words",
    };
    for (const char* text : documents) {
        CFileList list;
        EXPECT_TRUE(LoadFromJsonText(&list, text)) << text;
        EXPECT_EQ(list.Version, "v") << text;
        EXPECT_EQ(list.TotalCount, 1) << text;
    }
}

TEST(FileList, NullRootGivesDefaults) {
    CFileList list;
    ASSERT_TRUE(LoadFromJsonText(&list, "null"));
    EXPECT_EQ(list.Version, "");
    EXPECT_EQ(list.URL, "");
    EXPECT_EQ(list.TotalCount, 0);
    EXPECT_EQ(list.TotalSize, 0u);
    EXPECT_TRUE(list.FileList.empty());
}

TEST(FileList, RefusesWhatCannotBeConvertedAndKeepsTheModel) {
    const char* documents[] = {
        "",
        "   ",
        "{\"Version\": \"v\",",
        "not json",
        // Roots that are not objects.
        "[{\"Version\": \"v\"}]",
        "42",
        "\"text\"",
        "true",
        // Members JsonCpp cannot convert; the good members before them must not stick.
        R"({"Version": "new", "TotalSize": "12"})",
        R"({"Version": "new", "TotalSize": -1})",
        R"({"Version": "new", "TotalCount": 3000000000})",
        R"({"Version": "new", "TotalCount": "2"})",
        R"({"Version": ["a"]})",
        R"({"Version": "new", "URL": {"a": 1}})",
        R"({"Version": "new", "FileList": [{"Name": "x", "Size": "3"}]})",
        R"({"Version": "new", "FileList": [{"Name": "x", "Size": -3}]})",
        R"({"Version": "new", "FileList": [{"Name": "x", "Size": 1e30}]})",
        R"({"Version": "new", "FileList": [{"Name": "ok"}, {"Name": {"n": 1}}]})",
        R"({"Version": "new", "FileList": [{"Name": "x", "CheckSum": [1]}]})",
    };
    for (const char* text : documents) {
        CFileList list;
        ASSERT_TRUE(LoadFromJsonText(&list, kExample));
        EXPECT_FALSE(LoadFromJsonText(&list, text)) << text;
        EXPECT_EQ(list.Version, "2023.08.14.01") << text;
        EXPECT_EQ(list.TotalCount, 2) << text;
        EXPECT_EQ(list.TotalSize, 4u) << text;
        ASSERT_EQ(list.FileList.size(), 2u) << text;
        ExpectEntry(list.FileList[1], "data/a.txt", 1, "0CC175B9C0F1B6A831C399E269772661");
    }
    CFileList list;
    EXPECT_FALSE(LoadFromJsonText(nullptr, kExample));
    EXPECT_FALSE(LoadFromJsonText(&list, nullptr));
}

TEST(FileList, AppendsEntriesAndKeepsThemPastTheCount) {
    CFileList list;
    const char* text =
        R"({"TotalCount": 2, "FileList": [{"Name": "a"}, {"Name": "b"}, {"Name": "c"}]})";
    ASSERT_TRUE(LoadFromJsonText(&list, text));
    EXPECT_EQ(list.TotalCount, 2);
    ASSERT_EQ(list.FileList.size(), 3u);
    EXPECT_EQ(list.FileList[2].Name, "c");

    ASSERT_TRUE(LoadFromJsonText(&list, text));
    ASSERT_EQ(list.FileList.size(), 6u);
    EXPECT_EQ(list.FileList[3].Name, "a");

    // Without an array the entries stay as they were.
    ASSERT_TRUE(LoadFromJsonText(&list, R"({"Version": "x", "FileList": {"Name": "d"}})"));
    EXPECT_EQ(list.FileList.size(), 6u);
    EXPECT_EQ(list.Version, "x");
}

TEST(FileList, ParsesTextOnlyUpToTheFirstZeroByte) {
    CFileList list;
    const std::string cut = std::string("{\"Version\": \"v\"}") + '\0' + "{\"Version\": \"w\"";
    ASSERT_TRUE(LoadFromJsonText(&list, cut.c_str()));
    EXPECT_EQ(list.Version, "v");

    const std::string inside = std::string("{\"Version\": \"v") + '\0' + "\"}";
    EXPECT_FALSE(LoadFromJsonText(&list, inside.c_str()));
    EXPECT_EQ(list.Version, "v");
}

TEST(FileList, ReadsADocumentLargerThan8KiB) {
    std::string text =
        "{\"Version\": \"2023.08.14.01\", \"URL\": \"http://127.0.0.1/files/\",\n"
        "\"TotalCount\": 300, \"TotalSize\": 45150, \"FileList\": [\n";
    for (int i = 0; i < 300; ++i) {
        text += std::string(i ? ",\n" : "") + "{\"Name\": \"data/file" + std::to_string(i) +
                ".pak\", \"Size\": " + std::to_string(i + 1) +
                ", \"CheckSum\": \"0CC175B9C0F1B6A831C399E269772661\"}";
    }
    text += "]}";
    ASSERT_GT(text.size(), 16384u);

    CFileList list;
    ASSERT_TRUE(LoadFromJsonText(&list, text.c_str()));
    EXPECT_EQ(list.URL, "http://127.0.0.1/files/");
    EXPECT_EQ(list.TotalCount, 300);
    ASSERT_EQ(list.FileList.size(), 300u);
    ExpectEntry(list.FileList[299], "data/file299.pak", 300, "0CC175B9C0F1B6A831C399E269772661");
}

TEST(FileList, SerializeWritesWhatDeserializeReads) {
    CFileList list;
    list.Version = "2023.08.14.01";
    list.URL = "http://127.0.0.1:8080/";
    list.TotalCount = 2;
    list.TotalSize = 18446744073709551615ull;
    list.FileList = {{"QXLauncher.exe", 5368709120ull, "D41D8CD98F00B204E9800998ECF8427E"},
                     {"data/a.txt", 18446744073709551614ull, "0CC175B9C0F1B6A831C399E269772661"}};

    Json::Value root;
    list.Serialize(root);
    EXPECT_TRUE(root["Version"].isString());
    EXPECT_TRUE(root["TotalCount"].isInt());
    EXPECT_TRUE(root["TotalSize"].isUInt64());
    ASSERT_TRUE(root["FileList"].isArray());
    EXPECT_TRUE(root["FileList"][1]["Size"].isUInt64());

    const std::string text = Json::writeString(Json::StreamWriterBuilder(), root);
    CFileList copy;
    ASSERT_TRUE(LoadFromJsonText(&copy, text.c_str())) << text;
    EXPECT_EQ(copy.Version, list.Version);
    EXPECT_EQ(copy.URL, list.URL);
    EXPECT_EQ(copy.TotalCount, list.TotalCount);
    EXPECT_EQ(copy.TotalSize, list.TotalSize);
    ASSERT_EQ(copy.FileList.size(), 2u);
    ExpectEntry(copy.FileList[0], "QXLauncher.exe", 5368709120ull,
                "D41D8CD98F00B204E9800998ECF8427E");
    ExpectEntry(copy.FileList[1], "data/a.txt", 18446744073709551614ull,
                "0CC175B9C0F1B6A831C399E269772661");

    // An empty model still writes every member, with an empty array.
    Json::Value empty;
    CFileList().Serialize(empty);
    EXPECT_TRUE(empty["FileList"].isArray());
    EXPECT_EQ(empty["FileList"].size(), 0u);
    EXPECT_TRUE(empty.isMember("URL"));
}

}  // namespace
