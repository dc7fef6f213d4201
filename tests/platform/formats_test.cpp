#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <string>

#include "platform/text_format.h"

namespace {

struct SizeCase {
    uint64_t bytes;
    const char* text;
};

TEST(FormatSizeText, SwitchesUnitAtEachPowerOf1024) {
    const SizeCase cases[] = {
        {0, "0 Bytes"},
        {1, "1 Bytes"},
        {1023, "1023 Bytes"},
        {1024, "1.00 KB"},
        {1536, "1.50 KB"},
        // Just under a threshold rounds up to 1024.00 of the lower unit.
        {1048575, "1024.00 KB"},
        {1048576, "1.00 MB"},
        {1073741823, "1024.00 MB"},
        {1073741824, "1.00 GB"},
        {5368709120, "5.00 GB"},
        {1099511627775, "1024.00 GB"},
        {1099511627776, "1.00 TB"},
        // Above 2^53 the count is rounded to a double first; TB is the last unit.
        {std::numeric_limits<uint64_t>::max(), "16777216.00 TB"},
    };
    for (const SizeCase& c : cases) {
        EXPECT_EQ(FormatSizeText(c.bytes), c.text) << c.bytes;
    }
}

TEST(FormatSpeedText, IsTheSizeTextPerSecond) {
    EXPECT_EQ(FormatSpeedText(0), "0 Bytes/sec");
    EXPECT_EQ(FormatSpeedText(1023), "1023 Bytes/sec");
    EXPECT_EQ(FormatSpeedText(1536), "1.50 KB/sec");
    EXPECT_EQ(FormatSpeedText(10485760), "10.00 MB/sec");
}

TEST(FormatClockText, PadsToTwoDigitsAndNeverCapsHours) {
    EXPECT_EQ(FormatClockText(0, 0, 0), "00:00:00");
    EXPECT_EQ(FormatClockText(1, 2, 3), "01:02:03");
    EXPECT_EQ(FormatClockText(23, 59, 59), "23:59:59");
    EXPECT_EQ(FormatClockText(100, 0, 0), "100:00:00");
    EXPECT_EQ(FormatClockText(12345, 6, 7), "12345:06:07");
}

struct SplitCase {
    uint32_t seconds;
    int hours, minutes, secs;
};

TEST(SplitRemainingSeconds, DropsWholeDaysAndThenZeroesTheSeconds) {
    const SplitCase cases[] = {
        {0, 0, 0, 0},
        {59, 0, 0, 59},
        {61, 0, 1, 1},
        {3599, 0, 59, 59},
        {3600, 1, 0, 0},
        {86399, 23, 59, 59},
        // From a day on, the seconds field is no longer the remainder.
        {86400, 0, 0, 0},
        {90061, 1, 1, 0},
        {4294967295u, 6, 28, 0},
    };
    for (const SplitCase& c : cases) {
        const ClockParts p = SplitRemainingSeconds(c.seconds);
        EXPECT_EQ(p.hours, c.hours) << c.seconds;
        EXPECT_EQ(p.minutes, c.minutes) << c.seconds;
        EXPECT_EQ(p.seconds, c.secs) << c.seconds;
    }
    const ClockParts p = SplitRemainingSeconds(90061);
    EXPECT_EQ(FormatClockText(p.hours, p.minutes, p.seconds), "01:01:00");
}

}  // namespace
