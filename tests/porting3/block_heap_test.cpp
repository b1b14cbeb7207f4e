// The block arena's blocks and limits, and the pooled hash map: prime growth,
// case-free names, reuse after emptying, allocation failures, and random
// operations checked against std::unordered_map.
#include "porting3/block_heap.h"

#include <gtest/gtest.h>

#include <random>
#include <unordered_map>
#include <vector>

namespace n_porting {
namespace {

// An allocator that records its requests and fails once `failAfter` reaches 0.
struct t_recorder {
    static inline std::vector<size_t> sizes;
    static inline int frees = 0;
    static inline int failAfter = -1;  // -1: never
    static void Clear() {
        sizes.clear();
        frees = 0;
        failAfter = -1;
    }
    static void* Alloc(size_t n) {
        if (failAfter == 0) return nullptr;
        if (failAfter > 0) --failAfter;
        sizes.push_back(n);
        return std::malloc(n);
    }
    static void Free(void* p) {
        ++frees;
        std::free(p);
    }
};

TEST(BlockHeapTest, ArenaBlocksAndLimits) {
    t_recorder::Clear();
    {
        t_heap heap(64, t_recorder::Alloc, std::realloc, t_recorder::Free);
        auto* a = static_cast<uint8_t*>(heap.Alloc(5));
        auto* b = static_cast<uint8_t*>(heap.Alloc(6));
        EXPECT_EQ(a + 8, b);                  // 5 rounded up to 8, pointers stay aligned
        ASSERT_NE(nullptr, heap.Alloc(100));  // a block of its own
        ASSERT_NE(nullptr, heap.Alloc(4));    // then a new normal block
        EXPECT_EQ((std::vector<size_t>{80, 120, 80}), t_recorder::sizes);
        EXPECT_EQ(nullptr, heap.Alloc(SIZE_MAX - 1));   // rounding would wrap
        EXPECT_EQ(nullptr, heap.Alloc(SIZE_MAX - 12));  // the header would wrap
        t_recorder::failAfter = 0;
        EXPECT_EQ(nullptr, heap.Alloc(64));
        t_recorder::failAfter = -1;
        heap.Reset();  // keeps the oldest block, empty
        EXPECT_EQ(2, t_recorder::frees);
        EXPECT_EQ(a, heap.Alloc(4));
    }
    EXPECT_EQ(3, t_recorder::frees);
}

using t_nameMap = t_poolHashMap<const char16_t*, int, t_nameKeyPolicy>;
using t_idMap = t_poolHashMap<uint32_t, uint32_t, t_idKeyPolicy>;

TEST(BlockHeapTest, MapGrowsThroughPrimesAndIgnoresCaseInNames) {
    EXPECT_EQ(26499u, t_nameKeyPolicy::Hash(u"abc"));
    EXPECT_EQ(26499u, t_nameKeyPolicy::Hash(u"ABC"));
    t_heap heap(16384);
    t_nameMap names(&heap);
    ASSERT_NE(nullptr, names.Insert(u"HanziSet", 7));
    ASSERT_NE(nullptr, names.Find(u"hanziset"));
    EXPECT_EQ(7, names.Find(u"hanziset")->value);
    EXPECT_EQ(nullptr, names.Find(u"hanzi"));

    t_idMap ids(&heap);
    for (uint32_t i = 0; i < 38; ++i) ids.Insert(i, i);
    EXPECT_EQ(17u, ids.GetBucketCount());
    ids.Insert(38, 38);
    EXPECT_EQ(53u, ids.GetBucketCount());  // 39 / 0.75 = 52, the next listed prime
    for (uint32_t i = 0; i < 30; ++i) ids.Erase(ids.Find(i));
    EXPECT_EQ(53u, ids.GetBucketCount());  // 0.25 x 53 is below 17: no shrinking
    for (uint32_t i = 100; i < 300; ++i) ids.Insert(i, i);
    EXPECT_EQ(163u, ids.GetBucketCount());  // past 119 = 2.25 x 53: 120 / 0.75 = 160
    for (uint32_t i = 100; i < 269; ++i) ids.Erase(ids.Find(i));
    EXPECT_EQ(163u, ids.GetBucketCount());  // 40 left, the shrink threshold
    ids.Erase(ids.Find(269));
    EXPECT_EQ(53u, ids.GetBucketCount());  // 39 / 0.75 = 52
    const std::pair<uint64_t, uint32_t> steps[] = {
        {0, 17}, {17, 17}, {18, 23}, {52, 53}, {13316089, 13316089}, {13316090, 13316090}};
    for (const auto& [n, buckets] : steps) EXPECT_EQ(buckets, PoolHashBucketCount(n)) << n;
}

TEST(BlockHeapTest, EmptiedMapTakesANewNodeBlock) {
    t_recorder::Clear();
    t_heap heap(0, t_recorder::Alloc, std::realloc, t_recorder::Free);  // one block per request
    t_idMap map(&heap);
    for (uint32_t i = 0; i < 12; ++i) map.Insert(i, i);
    for (uint32_t i = 0; i < 12; ++i) map.Erase(map.Find(i));
    EXPECT_EQ(0u, map.GetCount());
    EXPECT_EQ(nullptr, map.First());
    const size_t before = t_recorder::sizes.size();
    ASSERT_NE(nullptr, map.Insert(5, 50));
    EXPECT_EQ(50u, map.Find(5)->value);
    EXPECT_EQ(before + 1, t_recorder::sizes.size());  // a new node block, the old ones abandoned
    EXPECT_EQ(map.First(), map.Find(5));
}

TEST(BlockHeapTest, FailedAllocationsLeaveTheMapUsable) {
    t_recorder::Clear();
    t_heap heap(0, t_recorder::Alloc, std::realloc, t_recorder::Free);  // one block per request
    t_idMap map(&heap);
    t_recorder::failAfter = 0;
    EXPECT_EQ(nullptr, map.Insert(1, 1));  // no buckets
    EXPECT_EQ(0u, map.GetCount());
    t_recorder::failAfter = -1;
    for (uint32_t i = 0; i < 10; ++i) ASSERT_NE(nullptr, map.Insert(i, i));
    t_recorder::failAfter = 0;
    EXPECT_EQ(nullptr, map.Insert(10, 10));  // no node block
    EXPECT_EQ(10u, map.GetCount());
    t_recorder::failAfter = 3;  // three node blocks, then the grown buckets fail
    for (uint32_t i = 10; i < 39; ++i) ASSERT_NE(nullptr, map.Insert(i, i)) << i;
    EXPECT_EQ(17u, map.GetBucketCount());
    t_recorder::failAfter = -1;
    for (uint32_t i = 0; i < 39; ++i) ASSERT_NE(nullptr, map.Find(i)) << i;
    ASSERT_NE(nullptr, map.Insert(39, 39));  // the next insert grows it
    EXPECT_EQ(53u, map.GetBucketCount());
}

TEST(BlockHeapTest, RandomOperationsAgreeWithUnorderedMap) {
    for (const bool arena : {true, false}) {
        SCOPED_TRACE(arena ? "arena" : "malloc");
        t_heap heap(16384);
        t_idMap map(arena ? &heap : nullptr);
        std::unordered_map<uint32_t, uint32_t> model;
        std::mt19937 random(20240607);
        for (int op = 0; op < 100000; ++op) {
            const uint32_t key = random() % 4096;
            t_idMap::t_node* node = map.Find(key);
            ASSERT_EQ(model.count(key) == 1, node != nullptr) << op;
            if (random() % 5 < 3) {
                ASSERT_NE(nullptr, map.InsertOrAssign(key, uint32_t(op)));
                model[key] = uint32_t(op);
            } else if (node) {
                ASSERT_EQ(model[key], node->value);
                map.Erase(node);
                model.erase(key);
            }
            ASSERT_EQ(model.size(), map.GetCount());
        }
        size_t seen = 0;
        for (auto* n = map.First(); n; n = map.Next(n), ++seen)
            EXPECT_EQ(model.at(n->key), n->value);
        EXPECT_EQ(model.size(), seen);
    }
}

}  // namespace
}  // namespace n_porting
