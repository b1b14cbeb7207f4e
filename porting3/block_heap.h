// t_heap, the settings code's block arena (8-byte aligned pieces carved from
// large blocks, freed all at once), and t_poolHashMap, a chained hash map with
// prime bucket counts whose nodes come ten at a time from such an arena.
// One thread at a time per object.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "porting3/str16.h"

namespace n_porting {

using t_allocFn = void* (*)(size_t);
using t_reallocFn = void* (*)(void*, size_t);
using t_freeFn = void (*)(void*);

class t_heap {
public:
    static constexpr size_t kBlockHeaderBytes = 16;  // bytes used, next older block
    // Pieces are 8-byte aligned (and so 4-byte aligned, as texts need): the
    // map's nodes and buckets and the records placed here hold pointers.
    static constexpr size_t kAlign = 8;

    explicit t_heap(uint64_t blockSize, t_allocFn allocate = std::malloc,
                    t_reallocFn reallocate = std::realloc, t_freeFn release = std::free);
    virtual ~t_heap() { FreeAll(); }
    t_heap(const t_heap&) = delete;
    t_heap& operator=(const t_heap&) = delete;

    // n bytes rounded up to 8, valid until FreeAll or Reset; not zeroed. A
    // request larger than the block size gets a block of its own. Null when
    // the callback fails or the size arithmetic would wrap.
    void* Alloc(size_t n);
    // Frees every block.
    void FreeAll();
    // Keeps the oldest block, empty, and frees the others.
    void Reset();
    void* RawAlloc(size_t n) const { return m_allocate(n); }
    void RawFree(void* p) const { m_release(p); }
    uint64_t GetBlockSize() const { return m_blockSize; }

private:
    struct t_block {
        uint64_t used;
        t_block* next;
    };
    static_assert(sizeof(t_block) == kBlockHeaderBytes);

    t_allocFn m_allocate;
    t_reallocFn m_reallocate;
    t_freeFn m_release;
    t_block* m_blocks = nullptr;  // the newest
    uint64_t m_blockSize;
};

// Hash and equality policies.
struct t_idKeyPolicy {
    static uint32_t Hash(uint32_t id) { return id; }
    static bool Equal(uint32_t a, uint32_t b) { return a == b; }
};
// 16-bit names, ASCII letters without case (the ELF hash of the lowered units).
struct t_nameKeyPolicy {
    static uint32_t Hash(const char16_t* s) { return HashStr16Pjw(s, true); }
    static bool Equal(const char16_t* a, const char16_t* b) { return WcsICmp16(a, b) == 0; }
};

// The bucket count after a rehash for `n` = count / target load.
uint32_t PoolHashBucketCount(uint64_t n);

template <class K, class V, class TPolicy>
class t_poolHashMap {
public:
    struct t_node {
        K key;
        V value;
        t_node* next;
        uint32_t hash;
    };

    // Nodes and buckets from the arena (they die with it), or with no arena
    // from malloc (freed when the map empties or goes).
    explicit t_poolHashMap(t_heap* heap = nullptr) : m_heap(heap) { SetThresholds(); }
    ~t_poolHashMap() {
        if (!m_heap) {
            DropNodeBlocks();
            std::free(m_buckets);
        }
    }
    t_poolHashMap(const t_poolHashMap&) = delete;
    t_poolHashMap& operator=(const t_poolHashMap&) = delete;

    t_node* Find(const K& key) const {
        if (!m_buckets) return nullptr;
        const uint32_t h = TPolicy::Hash(key);
        for (t_node* n = m_buckets[h % m_bucketCount]; n; n = n->next)
            if (n->hash == h && TPolicy::Equal(n->key, key)) return n;
        return nullptr;
    }

    // The caller has found no equal key. Null (map unchanged) when memory runs out.
    t_node* Insert(const K& key, const V& value) {
        if (!m_buckets && !Rehash(m_bucketCount)) return nullptr;
        if (!m_free && !AddNodeBlock()) return nullptr;
        t_node* n = m_free;
        m_free = n->next;
        n->key = key;
        n->value = value;
        n->hash = TPolicy::Hash(key);
        t_node*& head = m_buckets[n->hash % m_bucketCount];
        n->next = head;
        head = n;
        ++m_count;
        if (m_count > m_growAt && !m_frozen) Rehash(PoolHashBucketCount(TargetBuckets()));
        return n;
    }

    t_node* InsertOrAssign(const K& key, const V& value) {
        if (t_node* n = Find(key)) {
            n->value = value;
            return n;
        }
        return Insert(key, value);
    }

    void Erase(t_node* node) {
        if (!node || !m_buckets) return;
        for (t_node** at = &m_buckets[node->hash % m_bucketCount]; *at; at = &(*at)->next) {
            if (*at != node) continue;
            *at = node->next;
            node->next = m_free;
            m_free = node;
            --m_count;
            if (m_count < m_shrinkAt && !m_frozen) Rehash(PoolHashBucketCount(TargetBuckets()));
            if (m_count == 0) DropNodeBlocks();
            return;
        }
    }

    // Bucket order, each chain from its head.
    t_node* First() const { return FirstFrom(0); }
    t_node* Next(const t_node* n) const {
        return n->next ? n->next : FirstFrom(n->hash % m_bucketCount + 1);
    }

    size_t GetCount() const { return size_t(m_count); }
    uint32_t GetBucketCount() const { return m_bucketCount; }
    void SetFrozen(bool frozen) { m_frozen = frozen; }
    // Ignored unless 0 < minimum < target < maximum.
    void SetLoadFactors(float target, float minimum, float maximum, bool resizeNow) {
        if (!(minimum > 0 && minimum < target && target < maximum)) return;
        m_target = target;
        m_minimum = minimum;
        m_maximum = maximum;
        SetThresholds();
        if (resizeNow && m_buckets) Rehash(PoolHashBucketCount(TargetBuckets()));
    }

private:
    static constexpr uint32_t kFirstBuckets = 17;
    static constexpr uint32_t kNodesPerBlock = 10;
    struct t_nodeBlock {
        t_nodeBlock* next;
        t_node nodes[kNodesPerBlock];
    };

    void* Allocate(size_t n) { return m_heap ? m_heap->Alloc(n) : std::malloc(n); }
    void Release(void* p) {
        if (!m_heap) std::free(p);
    }

    uint64_t TargetBuckets() const {
        const double n = double(m_count) / m_target;
        return n >= 4294967295.0 ? 0xFFFFFFFFull : uint64_t(n);
    }

    void SetThresholds() {
        m_growAt = uint64_t(double(m_maximum) * m_bucketCount);
        m_shrinkAt = uint64_t(double(m_minimum) * m_bucketCount);
        if (m_shrinkAt < kFirstBuckets) m_shrinkAt = 0;
    }

    // On failure the old buckets stay, so the map remains usable.
    bool Rehash(uint32_t buckets) {
        if (m_buckets && buckets == m_bucketCount) return true;
        auto** fresh = static_cast<t_node**>(Allocate(size_t(buckets) * sizeof(t_node*)));
        if (!fresh) return false;
        std::memset(fresh, 0, size_t(buckets) * sizeof(t_node*));
        if (m_buckets) {
            for (uint32_t b = 0; b < m_bucketCount; ++b) {
                for (t_node* n = m_buckets[b]; n;) {
                    t_node* next = n->next;
                    t_node*& head = fresh[n->hash % buckets];
                    n->next = head;
                    head = n;
                    n = next;
                }
            }
            Release(m_buckets);
        }
        m_buckets = fresh;
        m_bucketCount = buckets;
        SetThresholds();
        return true;
    }

    bool AddNodeBlock() {
        auto* block = static_cast<t_nodeBlock*>(Allocate(sizeof(t_nodeBlock)));
        if (!block) return false;
        block->next = m_nodeBlocks;
        m_nodeBlocks = block;
        for (uint32_t i = 0; i < kNodesPerBlock; ++i) {
            block->nodes[i].next = m_free;
            m_free = &block->nodes[i];
        }
        return true;
    }

    void DropNodeBlocks() {
        while (m_nodeBlocks) {
            t_nodeBlock* next = m_nodeBlocks->next;
            Release(m_nodeBlocks);
            m_nodeBlocks = next;
        }
        m_free = nullptr;
    }

    t_node* FirstFrom(uint32_t bucket) const {
        if (!m_buckets) return nullptr;
        for (uint32_t b = bucket; b < m_bucketCount; ++b)
            if (m_buckets[b]) return m_buckets[b];
        return nullptr;
    }

    t_node** m_buckets = nullptr;
    uint64_t m_count = 0;
    uint32_t m_bucketCount = kFirstBuckets;
    float m_target = 0.75f;
    float m_minimum = 0.25f;
    float m_maximum = 2.25f;
    uint64_t m_growAt = 0;
    uint64_t m_shrinkAt = 0;
    bool m_frozen = false;
    t_nodeBlock* m_nodeBlocks = nullptr;
    t_node* m_free = nullptr;
    t_heap* m_heap;
};

}  // namespace n_porting
