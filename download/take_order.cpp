#include "download/take_order.h"

#include <algorithm>
#include <utility>

CTakeOrder::CTakeOrder(std::vector<uint64_t> sizes, int32_t first, int32_t block, int largeLanes)
    : m_sizes(std::move(sizes)), m_nLargeLanes(std::max(largeLanes, 1)) {
    const int32_t count = static_cast<int32_t>(m_sizes.size());
    block = std::max<int32_t>(block, 1);
    for (int32_t from = std::max<int32_t>(first, 0); from < count; from += block) {
        const int32_t to = count - from > block ? from + block : count;
        const size_t begin = m_order.size();
        for (int32_t i = from; i < to; ++i) {
            m_order.push_back(i);
        }
        // Stable: files of one size keep list order.
        std::stable_sort(m_order.begin() + static_cast<std::ptrdiff_t>(begin), m_order.end(),
                         [this](int32_t a, int32_t b) {
                             return m_sizes[static_cast<size_t>(a)] >
                                    m_sizes[static_cast<size_t>(b)];
                         });
        m_blockEnds.push_back(m_order.size());
    }
    m_nBack = m_blockEnds.empty() ? 0 : m_blockEnds.front();
}

CTakeOrder::Pick CTakeOrder::Peek() const {
    if (Empty()) {
        return {};
    }
    const int32_t large = m_order[m_nFront];
    const int32_t small = m_order[m_nBack - 1];
    // What is left of the block is of one size: list order, from the front.
    if (m_sizes[static_cast<size_t>(large)] == m_sizes[static_cast<size_t>(small)]) {
        return {large, true, false};
    }
    if (m_nLargeBusy < m_nLargeLanes) {
        return {large, true, true};
    }
    return {small, false, false};
}

CTakeOrder::Pick CTakeOrder::PeekSmall() const {
    const Pick pick = Peek();
    if (!pick.large) {
        return pick;
    }
    return {m_order[m_nBack - 1], false, false};
}

void CTakeOrder::Take(const Pick& pick) {
    if (Empty() || pick.index < 0) {
        return;
    }
    if (pick.front) {
        ++m_nFront;
    } else {
        --m_nBack;
    }
    if (pick.large) {
        ++m_nLargeBusy;
    }
    if (m_nFront >= m_nBack) {
        NextBlock();
    }
}

void CTakeOrder::Release(bool large) {
    if (large && m_nLargeBusy > 0) {
        --m_nLargeBusy;
    }
}

void CTakeOrder::NextBlock() {
    ++m_nBlock;
    if (m_nBlock >= m_blockEnds.size()) {
        m_nFront = m_order.size();
        m_nBack = m_order.size();
        return;
    }
    m_nFront = m_blockEnds[m_nBlock - 1];
    m_nBack = m_blockEnds[m_nBlock];
}
