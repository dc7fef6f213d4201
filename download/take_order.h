// The order in which several lanes take the files of a list. Each block of the list is sorted
// by size; some lanes work down from its largest file while the others work up from its
// smallest. A large file is paced by the bandwidth and a small one by the round trip, so both
// kinds go on side by side: the small files do not all wait behind the large ones and then
// pay their round trips at the end with nothing else in flight.
// Thread: not synchronised; the caller holds the lock the lanes share.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

class CTakeOrder {
public:
    struct Pick {
        int32_t index = -1;  // -1: nothing is left
        bool front = false;  // from the large end of the block
        bool large = false;  // the lane counts as one on large files until Release
    };

    // sizes: every file's size in list order; files before first are not taken. A block of
    // block files is used up before the next one starts, so every file taken lies within
    // block files of the first one not taken. largeLanes: how many lanes at most work on
    // the large end while small files are left.
    CTakeOrder(std::vector<uint64_t> sizes, int32_t first, int32_t block, int largeLanes);

    // The file the next lane would take.
    Pick Peek() const;
    // The file the next lane that takes only small files would take: as Peek, but from the
    // small end where Peek would give a lane the large end.
    Pick PeekSmall() const;
    // Takes what Peek gave; the lane then works on it until Release.
    void Take(const Pick& pick);
    // The lane that took a file (with the pick's large) is done with it.
    void Release(bool large);
    bool Empty() const { return m_nFront >= m_order.size(); }

private:
    // Finds the block of the front once the current one is used up.
    void NextBlock();

    std::vector<uint64_t> m_sizes;
    std::vector<int32_t> m_order;     // blocks, each from its largest to its smallest file
    std::vector<size_t> m_blockEnds;  // where each block of m_order ends
    size_t m_nBlock = 0;              // the block being taken
    size_t m_nFront = 0;              // the next large file of the block
    size_t m_nBack = 0;               // one past the next small file of the block
    int m_nLargeLanes;
    int m_nLargeBusy = 0;
};
