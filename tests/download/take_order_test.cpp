// The order lanes take files in: large and small files side by side, list order among files
// of one size, and never a file past the block being taken.
#include "download/take_order.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

namespace {

// Runs a script against an order: 't' takes the next file (and keeps it), 's' the next one for
// a lane of small files only, 'r' releases the oldest file still kept. Returns the files
// taken, in order.
std::vector<int32_t> Play(CTakeOrder& order, const std::string& script) {
    std::vector<int32_t> taken;
    std::vector<bool> kept;  // the ends of the files still kept, oldest first
    for (const char step : script) {
        if (step == 't' || step == 's') {
            const CTakeOrder::Pick pick = step == 't' ? order.Peek() : order.PeekSmall();
            if (pick.index < 0) {
                taken.push_back(-1);
                continue;
            }
            order.Take(pick);
            taken.push_back(pick.index);
            kept.push_back(pick.large);
        } else if (step == 'r' && !kept.empty()) {
            order.Release(kept.front());
            kept.erase(kept.begin());
        }
    }
    return taken;
}

TEST(TakeOrder, TakesLargeAndSmallFilesSideBySide) {
    struct Case {
        const char* label;
        std::vector<uint64_t> sizes;
        int32_t first;
        int32_t block;
        int largeLanes;
        std::string script;
        std::vector<int32_t> taken;
    };
    const Case cases[] = {
        {"one size: list order", {5, 5, 5, 5}, 0, 100, 1, "tttt", {0, 1, 2, 3}},
        {"one size: list order for a lane of small files too",
         {5, 5, 5},
         0,
         100,
         1,
         "sts",
         {0, 1, 2}},
        {"a lane of small files leaves the large end to the large lane",
         {10, 500, 20, 400, 30},
         0,
         100,
         1,
         "sttss",
         {0, 1, 2, 4, 3}},
        {"one large lane, the rest from the small end",
         {10, 500, 20, 400, 30},
         0,
         100,
         1,
         "ttttt",
         {1, 0, 2, 4, 3}},
        {"two large lanes", {10, 500, 20, 400, 30}, 0, 100, 2, "ttttt", {1, 3, 0, 2, 4}},
        {"a released large lane takes the large end again",
         {10, 500, 20, 400, 30, 300},
         0,
         100,
         1,
         "ttrtt",
         {1, 0, 3, 2}},
        {"the ends meet in the middle", {1, 9, 2, 8, 3}, 0, 100, 1, "tttttt", {1, 0, 2, 4, 3, -1}},
        {"small files of one size keep list order from the front",
         {7, 7, 100, 7},
         0,
         100,
         1,
         "tttt",
         {2, 0, 1, 3}},
        {"files before the first are not taken",
         {900, 1, 800, 2, 700},
         2,
         100,
         1,
         "tttt",
         {2, 3, 4, -1}},
        {"a block is used up before the next; the large lane is still busy",
         {1, 2, 3, 400, 500, 600},
         0,
         3,
         1,
         "tttttt",
         {2, 0, 1, 3, 4, 5}},
        {"no lanes asked for still takes the large end", {1, 50, 2}, 0, 100, 0, "ttt", {1, 0, 2}},
        {"an empty list", {}, 0, 100, 2, "t", {-1}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        CTakeOrder order(c.sizes, c.first, c.block, c.largeLanes);
        EXPECT_EQ(Play(order, c.script), c.taken);
    }
}

// However takes and releases interleave, every file from the first on is taken exactly once.
TEST(TakeOrder, TakesEveryFileOnce) {
    std::vector<uint64_t> sizes;
    for (int i = 0; i < 97; ++i) {
        sizes.push_back(static_cast<uint64_t>((i * 7919) % 31) * 1000);
    }
    for (const int lanes : {1, 2, 8}) {
        for (const int32_t block : {1, 10, 512}) {
            SCOPED_TRACE(std::to_string(lanes) + " lanes, blocks of " + std::to_string(block));
            CTakeOrder order(sizes, 3, block, lanes);
            std::string script;
            for (int i = 0; i < 200; ++i) {
                script += i % 3 == 2 ? 'r' : 't';
            }
            std::vector<int32_t> taken = Play(order, script + std::string(200, 't'));
            std::vector<int> seen(sizes.size(), 0);
            for (const int32_t index : taken) {
                if (index >= 0) {
                    ++seen[static_cast<size_t>(index)];
                }
            }
            for (size_t i = 0; i < sizes.size(); ++i) {
                EXPECT_EQ(seen[i], i < 3 ? 0 : 1) << "file " << i;
            }
            EXPECT_TRUE(order.Empty());
        }
    }
}

}  // namespace
