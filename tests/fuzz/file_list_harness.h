// One input through the file list loader and its check, as the fuzzer and the regression
// test both run it. Thread: any; stateless.
#pragma once

#include <cstddef>
#include <cstdint>

void RunFileListInput(const uint8_t* data, size_t size);
