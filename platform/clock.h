// The wrapping 32-bit millisecond clock (timeGetTime on a monotonic clock). Thread: any.
#pragma once

#include <cstdint>

uint32_t TimeGetTime();
