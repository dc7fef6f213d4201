#include "platform/text_format.h"

#include <charconv>
#include <cinttypes>
#include <cstdio>

namespace {

// "%.2f" and the unit, always with a decimal point: the window's toolkit switches the C
// library to the user's locale, which would print "1,50 KB" in some of them.
std::string TwoDecimals(double value, const char* unit) {
    char text[64];
    const auto result =
        std::to_chars(text, text + sizeof text - 8, value, std::chars_format::fixed, 2);
    return std::string(text, result.ptr) + unit;
}

}  // namespace

std::string FormatSizeText(uint64_t bytes) {
    const double v = static_cast<double>(bytes);
    if (v >= 1099511627776.0) {
        return TwoDecimals(v * 0x1p-40, " TB");
    }
    if (v >= 1073741824.0) {
        return TwoDecimals(v * 0x1p-30, " GB");
    }
    if (v >= 1048576.0) {
        return TwoDecimals(v * 0x1p-20, " MB");
    }
    if (v >= 1024.0) {
        return TwoDecimals(v * 0x1p-10, " KB");
    }
    char text[32];
    std::snprintf(text, sizeof text, "%" PRIu64 " Bytes", bytes);
    return text;
}

std::string FormatSpeedText(uint64_t bytesPerSecond) {
    return FormatSizeText(bytesPerSecond) + "/sec";
}

std::string FormatClockText(int hours, int minutes, int seconds) {
    char text[48];
    std::snprintf(text, sizeof text, "%02d:%02d:%02d", hours, minutes, seconds);
    return text;
}

ClockParts SplitRemainingSeconds(uint32_t seconds) {
    ClockParts parts;
    parts.hours = static_cast<int>((seconds % 86400) / 3600);
    parts.minutes = static_cast<int>((seconds % 3600) / 60);
    // Unsigned like the counters it came from: for a day or more x is far above 59.
    const uint32_t x = seconds - static_cast<uint32_t>(parts.minutes + 60 * parts.hours) * 60;
    parts.seconds = x < 60 ? static_cast<int>(x) : 0;
    return parts;
}
