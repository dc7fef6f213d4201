// The cap on the bytes per second of all transfers together: the rates the CLI takes, the
// waits on a clock of the test's own, and the cap holding when several threads read at once.
#include "download/rate_limit.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <optional>
#include <thread>
#include <vector>

#include "download/worker_system.h"

namespace {

TEST(RateLimit, ParsesRatesAsTheCurlToolTakesThem) {
    struct Case {
        const char* text;
        std::optional<uint64_t> rate;
    };
    const Case cases[] = {
        {"65536", 65536},
        {"500k", 500 * 1024},
        {"500K", 500 * 1024},
        {"2M", 2 * 1024 * 1024},
        {"1.5m", 1536 * 1024},
        {"1G", uint64_t{1} << 30},
        {"1024G", uint64_t{1} << 40},
        {"0", std::nullopt},
        {"0.0001", std::nullopt},
        {"", std::nullopt},
        {"-1M", std::nullopt},
        {" 2M", std::nullopt},
        {"2MB", std::nullopt},
        {"2X", std::nullopt},
        {"M", std::nullopt},
        {"1025G", std::nullopt},
        {"1e400", std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        uint64_t rate = 0;
        EXPECT_EQ(CRateLimit::Parse(c.text, rate), c.rate.has_value());
        if (c.rate) {
            EXPECT_EQ(rate, *c.rate);
        }
    }
}

// Time passes only when the limit waits.
class SteppedClock : public IWorkerSystem {
public:
    uint32_t Now() override { return static_cast<uint32_t>(micros / 1000); }
    uint64_t FreeSpace(const std::string&) override { return 0; }
    void StartWriteback(int, uint64_t, uint64_t) override {}
    int FlushFile(int) override { return 0; }
    int Flush(int) override { return 0; }
    bool Wait(std::chrono::milliseconds delay, const std::atomic<bool>& running) override {
        micros += static_cast<uint64_t>(delay.count()) * 1000;
        return running.load();
    }
    uint64_t micros = uint64_t{0xFFFFF000} * 1000;  // just before the 32-bit clock wraps
};

TEST(RateLimit, SpacesReadsToTheRateAfterAShortBurst) {
    SteppedClock clock;
    const uint64_t start = clock.micros;
    CRateLimit limit;
    limit.Set(1024 * 1024);
    const std::atomic<bool> running{true};
    for (int i = 0; i < 100; ++i) {
        ASSERT_TRUE(limit.Take(64 * 1024, clock, running));
    }
    // 6.25 MiB at 1 MiB/s, less the 0.1 s that may come at once.
    const double seconds = static_cast<double>(clock.micros - start) / 1e6;
    EXPECT_GE(seconds, 6.14);
    EXPECT_LE(seconds, 6.16);

    // A pause is not saved up: after idle time only the burst comes without a wait.
    clock.micros += 60'000'000;
    const uint64_t resumed = clock.micros;
    for (int i = 0; i < 16; ++i) {
        ASSERT_TRUE(limit.Take(64 * 1024, clock, running));
    }
    EXPECT_NEAR(static_cast<double>(clock.micros - resumed) / 1e6, 0.9, 0.01);
}

TEST(RateLimit, UncappedAndStoppedTakesReturnAtOnce) {
    SteppedClock clock;
    const uint64_t start = clock.micros;
    CRateLimit limit;
    const std::atomic<bool> running{true};
    EXPECT_TRUE(limit.Take(uint64_t{1} << 40, clock, running));
    EXPECT_EQ(clock.micros, start);

    // A stop ends the wait: the real system's wait returns at once when the flag is down.
    limit.Set(1);
    const std::atomic<bool> stopped{false};
    EXPECT_FALSE(limit.Take(1024 * 1024, IWorkerSystem::Real(), stopped));
}

// Several transfer threads share one cap: 4 MiB at 8 MiB/s cannot take less than 0.4 s
// (half a second less the burst), however the threads interleave. Only a lower bound: a slow
// machine may take longer.
TEST(RateLimit, CapsThreadsTogether) {
    CRateLimit limit;
    limit.Set(8 * 1024 * 1024);
    const std::atomic<bool> running{true};
    const auto start = std::chrono::steady_clock::now();
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&] {
            for (int i = 0; i < 16; ++i) {
                limit.Take(64 * 1024, IWorkerSystem::Real(), running);
            }
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(390));
}

}  // namespace
