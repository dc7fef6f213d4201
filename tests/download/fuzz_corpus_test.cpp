// The fuzzer's seeds and every input it ever failed on, run through the file list loader.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "fuzz/file_list_harness.h"

TEST(FileListFuzzCorpus, EveryKeptInputLoadsWithoutFault) {
    int inputs = 0;
    for (const char* folder : {"corpus", "regressions"}) {
        const std::filesystem::path dir = std::filesystem::path(QB_FUZZ_DIR) / folder;
        if (!std::filesystem::exists(dir)) {
            continue;
        }
        for (const auto& entry : std::filesystem::directory_iterator(dir)) {
            std::ifstream in(entry.path(), std::ios::binary);
            const std::string bytes((std::istreambuf_iterator<char>(in)),
                                    std::istreambuf_iterator<char>());
            SCOPED_TRACE(entry.path().string());
            RunFileListInput(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
            ++inputs;
        }
    }
    EXPECT_GT(inputs, 0);
}
