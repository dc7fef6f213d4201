#include "faults/faults_support.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <regex>
#include <thread>

#include <gtest/gtest.h>
#include <json/writer.h>

#include "download/download_thread.h"
#include "download/list_fetch.h"
#include "support/test_data.h"

extern char** environ;

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace faults {

void ServeCorpus(FaultServer& server, const Corpus& corpus,
                 const std::function<void(FaultRoute&)>& shape) {
    for (const CorpusFile& file : corpus) {
        FaultRoute route;
        route.body = file.bytes;
        if (shape) {
            shape(route);
        }
        server.SetRoute("/" + file.name, std::move(route));
    }
}

uint64_t FileSize(const fs::path& path) {
    std::error_code error;
    const uintmax_t size = fs::file_size(path, error);
    return error ? 0 : size;
}

void WriteFile(const fs::path& path, std::string_view bytes) {
    fs::create_directories(path.parent_path());
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    out.close();
    ASSERT_TRUE(out) << "cannot write " << path;
}

std::map<std::string, std::string> Tree(const fs::path& root,
                                        const std::vector<std::string>& skip) {
    std::map<std::string, std::string> out;
    std::error_code error;
    for (auto it = fs::recursive_directory_iterator(root, error);
         !error && it != fs::recursive_directory_iterator(); it.increment(error)) {
        const fs::path relative = it->path().lexically_relative(root);
        if (std::find(skip.begin(), skip.end(), relative.begin()->string()) != skip.end()) {
            if (it->is_directory() && !it->is_symlink()) {
                it.disable_recursion_pending();
            }
            continue;
        }
        std::string value;
        if (it->is_symlink()) {
            value = "-> " + fs::read_symlink(it->path()).string();
        } else if (it->is_directory()) {
            value = "folder";
        } else if (it->is_regular_file()) {
            const std::string bytes = ReadFileBytes(it->path());
            value = std::to_string(bytes.size()) + " " + Md5Hex(bytes);
        } else {
            value = "special";
        }
        out[relative.string()] = value;
    }
    return out;
}

std::string CheckPrefixes(const fs::path& folder, const Corpus& corpus) {
    for (const CorpusFile& file : corpus) {
        const fs::path path = folder / file.name;
        std::error_code error;
        if (!fs::exists(fs::symlink_status(path, error))) {
            continue;
        }
        const std::string bytes = ReadFileBytes(path);
        if (bytes.size() > file.bytes.size()) {
            return file.name + " holds " + std::to_string(bytes.size()) + " bytes, listed " +
                   std::to_string(file.bytes.size());
        }
        if (file.bytes.compare(0, bytes.size(), bytes) != 0) {
            return file.name + " holds " + std::to_string(bytes.size()) +
                   " bytes that are not the start of its content";
        }
    }
    return {};
}

std::string CheckComplete(const fs::path& folder, const Corpus& corpus) {
    for (const CorpusFile& file : corpus) {
        const std::string bytes = ReadFileBytes(folder / file.name);
        if (bytes.size() != file.bytes.size() || Md5Hex(bytes) != Md5Hex(file.bytes)) {
            return file.name + " holds " + std::to_string(bytes.size()) + " bytes with MD5 " +
                   Md5Hex(bytes) + ", listed " + std::to_string(file.bytes.size()) + " " +
                   Md5Hex(file.bytes);
        }
    }
    return {};
}

std::vector<std::string> ReadUtf16Lines(const std::string& bytes, bool* torn) {
    *torn = bytes.size() % 2 != 0;
    std::u16string units;
    for (size_t i = 0; i + 1 < bytes.size(); i += 2) {
        units.push_back(static_cast<char16_t>(static_cast<unsigned char>(bytes[i]) |
                                              (static_cast<unsigned char>(bytes[i + 1]) << 8)));
    }
    std::vector<std::string> lines;
    std::string line;
    for (size_t i = 0; i < units.size(); ++i) {
        char32_t cp = units[i];
        if (cp >= 0xD800 && cp < 0xDC00) {
            if (i + 1 >= units.size() || units[i + 1] < 0xDC00 || units[i + 1] >= 0xE000) {
                *torn = true;
                continue;
            }
            cp = 0x10000 + ((cp - 0xD800) << 10) + (units[++i] - 0xDC00);
        } else if (cp >= 0xDC00 && cp < 0xE000) {
            *torn = true;
            continue;
        }
        if (cp == u'\r' && i + 1 < units.size() && units[i + 1] == u'\n') {
            lines.push_back(line);
            line.clear();
            ++i;
            continue;
        }
        if (cp < 0x80) {
            line += static_cast<char>(cp);
        } else if (cp < 0x800) {
            line += static_cast<char>(0xC0 | (cp >> 6));
            line += static_cast<char>(0x80 | (cp & 0x3F));
        } else if (cp < 0x10000) {
            line += static_cast<char>(0xE0 | (cp >> 12));
            line += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
            line += static_cast<char>(0x80 | (cp & 0x3F));
        } else {
            line += static_cast<char>(0xF0 | (cp >> 18));
            line += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
            line += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
            line += static_cast<char>(0x80 | (cp & 0x3F));
        }
    }
    if (!line.empty()) {
        // Text after the last CR LF: a line that was cut off.
        *torn = true;
        lines.push_back(line);
    }
    return lines;
}

bool IsWholeLogLine(const std::string& line) {
    static const std::regex kDecorated(
        R"(\[[0-2][0-9]:[0-5][0-9]:[0-5][0-9],[0-9]{3}\] \[(INFO|WARNING|ERROR)\] [^\r\n]* )");
    return line.empty() || std::regex_match(line, kDecorated);
}

CliHome::CliHome() {
    fs::create_directories(Root() / "home");
    fs::create_directories(Root() / "scratch");
}

int TestJobs() {
    const char* value = std::getenv("QB_TEST_JOBS");
    if (value == nullptr || *value == '\0') {
        return 1;
    }
    if (std::string(value) == "default") {
        return CDownloadThread::DEFAULT_JOBS;
    }
    const int jobs = std::atoi(value);
    EXPECT_GE(jobs, 1) << "QB_TEST_JOBS=" << value;
    return std::max(jobs, 1);
}

ChildOptions CliHome::Options(const std::vector<std::string>& args) const {
    ChildOptions options;
    options.args.push_back(QB_CLI_PATH);
    options.args.push_back("--jobs");
    options.args.push_back(std::to_string(TestJobs()));
    options.args.insert(options.args.end(), args.begin(), args.end());
    options.env = {{"HOME", (Root() / "home").string()},
                   {"XDG_STATE_HOME", (Root() / "state").string()}};
    const std::string serial = std::to_string(++m_serial);
    options.outFile = Root() / "scratch" / ("out-" + serial);
    options.errFile = Root() / "scratch" / ("err-" + serial);
    return options;
}

ChildResult CliHome::Run(const std::vector<std::string>& args) {
    ChildProcess child(Options(args));
    return child.Wait();
}

std::vector<std::string> CliHome::LogLines(bool* torn) const {
    *torn = false;
    std::vector<std::string> lines;
    std::error_code error;
    std::vector<fs::path> files;
    for (const auto& entry : fs::directory_iterator(LogFolder(), error)) {
        files.push_back(entry.path());
    }
    std::sort(files.begin(), files.end());
    for (const fs::path& file : files) {
        bool fileTorn = false;
        for (std::string& line : ReadUtf16Lines(ReadFileBytes(file), &fileTorn)) {
            lines.push_back(std::move(line));
        }
        *torn = *torn || fileTorn;
    }
    return lines;
}

}  // namespace faults
