// Hostile file lists, end to end: quellbridger-cli fetches each from the fault server and
// must refuse it before a single byte is written anywhere. The sandbox is snapshot before
// and after each run; the files every escaping name points at are served, so a name that got
// through would show up on disk.
#include <curl/curl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <limits>
#include <ostream>
#include <string>
#include <vector>

#include <json/value.h>
#include <json/writer.h>

#include "download/list_fetch.h"
#include "faults/faults_support.h"
#include "platform/string_table.h"
#include "support/fault_server.h"
#include "support/test_data.h"

namespace fs = std::filesystem;
using namespace faults;

namespace {

const Corpus& TwoFiles() {
    static const Corpus corpus{
        {"QXLauncher.exe", MakeBytes(2000, 51)},
        {"data/x.bin", MakeBytes(5000, 52)},
        {"empty.txt", ""},
    };
    return corpus;
}

struct Setting {
    const FaultServer& server;
    const fs::path& root;  // the sandbox
};

struct HostileCase {
    const char* id;
    // The list document, made from the good one.
    std::function<std::string(const Setting&, Json::Value& root)> document;
    int exitCode;
    std::string message;  // on standard error
    // Something planted below the sandbox before the run (install folder included).
    std::function<void(const fs::path& root)> plant = nullptr;
    // A run that got past the list may make the (empty) install folder and ask for a file
    // before it refuses; a refused list does neither.
    bool listAccepted = false;
    std::function<void(FaultRoute&)> listShape = nullptr;  // how the list is sent, when not plainly
    std::string mayAsk = "/QXLauncher.exe";  // the one file an accepted list may ask for
};

void PrintTo(const HostileCase& c, std::ostream* os) {
    *os << c.id;
}

std::string Write(const Json::Value& root) {
    Json::StreamWriterBuilder builder;
    builder["indentation"] = "  ";
    return Json::writeString(builder, root) + "\n";
}

// A document whose second entry gets another name.
std::function<std::string(const Setting&, Json::Value&)> Named(std::string name) {
    return [name](const Setting&, Json::Value& root) {
        root["FileList"][1]["Name"] = name;
        return Write(root);
    };
}

std::function<std::string(const Setting&, Json::Value&)> Edited(
    std::function<void(Json::Value&)> edit) {
    return [edit](const Setting&, Json::Value& root) {
        edit(root);
        return Write(root);
    };
}

const std::string kInvalid = "Invalid File List.";

std::vector<HostileCase> Cases() {
    const Json::UInt64 huge = std::numeric_limits<Json::UInt64>::max();
    return {
        {"ParentFolder", Named("../x"), 2, kInvalid},
        {"AbsolutePath",
         [](const Setting& s, Json::Value& root) {
             root["FileList"][1]["Name"] = (s.root / "outside/x").string();
             return Write(root);
         },
         2, kInvalid},
        {"SystemPath", Named("/etc/x"), 2, kInvalid},
        {"InnerParentFolder", Named("data/../../x"), 2, kInvalid},
        {"Backslash", Named("data\\x"), 2, kInvalid},
        {"EmptyName", Named(""), 2, kInvalid},
        {"NulInName", Named(std::string("data/x\0.bin", 11)), 2, kInvalid},
        {"NulInDocument",
         [](const Setting&, Json::Value& root) {
             std::string text = Write(root);
             text.insert(text.find("\"FileList\""), 1, '\0');
             return text;
         },
         2, kInvalid},
        {"NegativeSize", Edited([](Json::Value& r) { r["FileList"][1]["Size"] = -1; }), 2,
         kInvalid},
        {"NegativeTotalSize", Edited([](Json::Value& r) { r["TotalSize"] = -7000; }), 2, kInvalid},
        {"SizeBeyondIntegers", Edited([](Json::Value& r) { r["FileList"][1]["Size"] = 1e300; }), 2,
         kInvalid},
        {"TotalSizeBelowTheSum", Edited([](Json::Value& r) { r["TotalSize"] = 6999; }), 2,
         kInvalid},
        {"LowerCaseChecksum", Edited([](Json::Value& r) {
             r["FileList"][1]["CheckSum"] = "0123456789abcdef0123456789abcdef";
         }),
         2, kInvalid},
        {"ShortChecksum", Edited([](Json::Value& r) {
             r["FileList"][1]["CheckSum"] = "0123456789ABCDEF0123456789ABCDE";
         }),
         2, kInvalid},
        {"NonHexChecksum", Edited([](Json::Value& r) {
             r["FileList"][1]["CheckSum"] = "0123456789ABCDEF0123456789ABCDEG";
         }),
         2, kInvalid},
        {"CountAboveTheEntries", Edited([](Json::Value& r) { r["TotalCount"] = 4; }), 2, kInvalid},
        {"NegativeCount", Edited([](Json::Value& r) { r["TotalCount"] = -1; }), 2, kInvalid},
        {"NameTwice",
         Edited([](Json::Value& r) { r["FileList"][1]["Name"] = r["FileList"][0]["Name"]; }), 2,
         kInvalid},
        // A list far above any real one is refused by its length, before its body is read.
        {"HundredMegabyteList",
         [](const Setting&, Json::Value& root) {
             std::string text = Write(root);
             text.insert(text.rfind('}'), std::string(100u << 20, ' '));
             return text;
         },
         2, LoadFormatString(104, static_cast<long>(CURLE_FILESIZE_EXCEEDED))},
        {"EndlessList", Edited([](Json::Value&) {}), 2,
         LoadFormatString(104, static_cast<long>(CURLE_FILESIZE_EXCEEDED)), nullptr, false,
         [](FaultRoute& r) { r.endless = true; }},
        // A list without a length is read to its end; one cut short is still refused.
        {"ChunkedListCutShort", Edited([](Json::Value&) {}), 2,
         LoadFormatString(104, static_cast<long>(CURLE_PARTIAL_FILE)), nullptr, false,
         [](FaultRoute& r) {
             r.length = FaultRoute::Length::Chunked;
             r.cutAfter = 100;
         }},
        {"SizesOverflow", Edited([huge](Json::Value& r) {
             r["FileList"][1]["Size"] = huge;
             r["TotalSize"] = huge;
         }),
         2, kInvalid},
        // Sizes no disk holds: the list is well-formed, the run stops at the space check.
        {"HugeSize", Edited([huge](Json::Value& r) {
             r["FileList"][1]["Size"] = huge - 2000;
             r["TotalSize"] = huge;
         }),
         1, LoadFormatString(108), nullptr, true},
        // Links planted in the install folder: the run refuses to write through them.
        {"PlantedFolderLink", Edited([](Json::Value&) {}), 1,
         LoadFormatString(118, static_cast<long>(ELOOP)),
         [](const fs::path& root) {
             WriteFile(root / "install/QXLauncher.exe", TwoFiles()[0].bytes);
             fs::create_symlink(root / "outside", root / "install/data");
         },
         true},
        {"PlantedFileLink", Edited([](Json::Value&) {}), 1,
         LoadFormatString(118, static_cast<long>(ELOOP)),
         [](const fs::path& root) {
             fs::create_directories(root / "install");
             fs::create_symlink(root / "outside/victim.exe", root / "install/QXLauncher.exe");
         },
         true},
        // Pipes planted where a listed file goes: the run fails at once, instead of waiting
        // for ever for a writer or a reader that never comes.
        {"PlantedPipe", Edited([](Json::Value&) {}), 1,
         LoadFormatString(118, static_cast<long>(ENXIO)),
         [](const fs::path& root) {
             WriteFile(root / "install/QXLauncher.exe", TwoFiles()[0].bytes);
             fs::create_directories(root / "install/data");
             ASSERT_EQ(::mkfifo((root / "install/data/x.bin").c_str(), 0644), 0);
         },
         true, nullptr, "/data/x.bin"},
        {"PlantedPipeForAnEmptyFile", Edited([](Json::Value&) {}), 1,
         LoadFormatString(118, static_cast<long>(ENXIO)),
         [](const fs::path& root) {
             WriteFile(root / "install/QXLauncher.exe", TwoFiles()[0].bytes);
             WriteFile(root / "install/data/x.bin", TwoFiles()[1].bytes);
             ASSERT_EQ(::mkfifo((root / "install/empty.txt").c_str(), 0644), 0);
         },
         true, nullptr, "/empty.txt"},
    };
}

class HostileList : public testing::TestWithParam<HostileCase> {};

TEST_P(HostileList, IsRefusedBeforeAnyByteIsWritten) {
    const HostileCase& c = GetParam();
    const Corpus& corpus = TwoFiles();
    CliHome home;
    const fs::path& root = home.Root();
    const fs::path install = root / "install";
    // What a name that escaped would reach: every such place is served and watched.
    fs::create_directories(root / "outside");
    const std::string victim = MakeBytes(2000, 53);
    WriteFile(root / "outside/victim.exe", victim);
    FaultServer server;
    ServeCorpus(server, corpus);
    for (const std::string& path :
         {std::string("/x"), "/" + (root / "outside/x").string(), std::string("//etc/x")}) {
        FaultRoute route;
        route.body = corpus[1].bytes;
        server.SetRoute(path, route);
    }
    if (c.plant) {
        c.plant(root);
    }
    Json::Value good;
    CFileList list = MakeList(server.BaseUrl(), corpus);
    list.Serialize(good);
    FaultRoute listRoute;
    listRoute.body = c.document(Setting{server, root}, good);
    if (c.listShape) {
        c.listShape(listRoute);
    }
    server.SetRoute("/filelist.json", std::move(listRoute));
    const std::vector<std::string> skip{"state", "scratch"};
    const auto before = Tree(root, skip);

    const ChildResult result =
        home.Run({"--list", server.Url("filelist.json"), "--dir", install.string()});
    EXPECT_EQ(result.exitCode, c.exitCode) << result.out << result.err;
    EXPECT_NE(result.err.find(c.message), std::string::npos) << result.err;
    EXPECT_EQ(result.out.find("All "), std::string::npos) << result.out;

    // Not a byte anywhere: the sandbox is as it was (a run past the list may have made the
    // install folder, empty; one refused by Start's checks has not), and nothing at the
    // system path.
    auto after = Tree(root, skip);
    if (c.listAccepted && !before.count("install") && after.count("install")) {
        EXPECT_EQ(after["install"], "folder");
        after.erase("install");
    }
    EXPECT_EQ(after, before);
    if (!c.listAccepted) {
        EXPECT_FALSE(fs::exists(install));
    }
    struct stat st {};
    EXPECT_NE(::lstat("/etc/x", &st), 0);
    EXPECT_EQ(ReadFileBytes(root / "outside/victim.exe"), victim);

    // A refused list asks for no file; an accepted one at most for the first before refusing.
    std::vector<std::string> asked;
    for (const FaultRequest& request : server.Requests()) {
        if (request.path != "/filelist.json") {
            asked.push_back(request.path);
        }
    }
    if (c.listAccepted) {
        EXPECT_LE(asked.size(), 1u);
        for (const std::string& path : asked) {
            EXPECT_EQ(path, c.mayAsk);
        }
    } else {
        EXPECT_TRUE(asked.empty());
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, HostileList, testing::ValuesIn(Cases()),
                         [](const testing::TestParamInfo<HostileCase>& info) {
                             return std::string(info.param.id);
                         });

}  // namespace
