// The block arena and the prime bucket counts of the pooled hash map.
#include "porting3/block_heap.h"

#include <algorithm>
#include <iterator>

namespace n_porting {

t_heap::t_heap(uint64_t blockSize, t_allocFn allocate, t_reallocFn reallocate, t_freeFn release)
    : m_allocate(allocate ? allocate : std::malloc),
      m_reallocate(reallocate ? reallocate : std::realloc),
      m_release(release ? release : std::free),
      m_blockSize(blockSize) {}

void* t_heap::Alloc(size_t n) {
    if (n > SIZE_MAX - (kAlign - 1)) return nullptr;
    n = (n + kAlign - 1) & ~(kAlign - 1);
    t_block* b = m_blocks;
    if (b && b->used < m_blockSize && n <= m_blockSize - b->used) {
        void* piece = reinterpret_cast<uint8_t*>(b + 1) + b->used;
        b->used += n;
        return piece;
    }
    const uint64_t data = std::max<uint64_t>(m_blockSize, n);
    if (data > SIZE_MAX - kBlockHeaderBytes) return nullptr;
    auto* fresh = static_cast<t_block*>(m_allocate(size_t(data) + kBlockHeaderBytes));
    if (!fresh) return nullptr;
    fresh->used = n;
    fresh->next = m_blocks;
    m_blocks = fresh;
    return fresh + 1;
}

void t_heap::FreeAll() {
    while (m_blocks) {
        t_block* next = m_blocks->next;
        m_release(m_blocks);
        m_blocks = next;
    }
}

void t_heap::Reset() {
    while (m_blocks && m_blocks->next) {
        t_block* next = m_blocks->next;
        m_release(m_blocks);
        m_blocks = next;
    }
    if (m_blocks) m_blocks->used = 0;
}

uint32_t PoolHashBucketCount(uint64_t n) {
    static constexpr uint32_t kPrimes[] = {
        23,      29,      37,      41,      53,      67,      83,      103,      131,     163,
        211,     257,     331,     409,     521,     647,     821,     1031,     1291,    1627,
        2053,    2591,    3251,    4099,    5167,    6521,    8209,    10331,    13007,   16411,
        20663,   26017,   32771,   41299,   52021,   65537,   82571,   104033,   131101,  165161,
        208067,  262147,  330287,  416147,  524309,  660563,  832291,  1048583,  1321139, 1664543,
        2097169, 2642257, 3329023, 4194319, 5284493, 6658049, 8388617, 10568993, 13316089};
    if (n < 18) return 17;
    const uint32_t* p = std::lower_bound(std::begin(kPrimes), std::end(kPrimes), n);
    return p != std::end(kPrimes) ? *p : uint32_t(std::min<uint64_t>(n, 0xFFFFFFFFu));
}

}  // namespace n_porting
