// Size, speed and clock texts shown in the window and the command-line front end.
// Thread: any; stateless.
#pragma once

#include <cstdint>
#include <string>

std::string FormatSizeText(uint64_t bytes);
std::string FormatSpeedText(uint64_t bytesPerSecond);
std::string FormatClockText(int hours, int minutes, int seconds);

struct ClockParts {
    int hours = 0;
    int minutes = 0;
    int seconds = 0;
};
// Days are dropped from the hours and then the seconds show 0 (90061 gives 1, 1, 0).
ClockParts SplitRemainingSeconds(uint32_t seconds);
