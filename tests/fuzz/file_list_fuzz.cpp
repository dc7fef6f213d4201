// libFuzzer entry: the file list loader and its check on arbitrary bytes.
#include <cstddef>
#include <cstdint>

#include "file_list_harness.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    RunFileListInput(data, size);
    return 0;
}
