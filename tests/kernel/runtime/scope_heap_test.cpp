// Block arena: block sizes, rounding, zero-fill, refusal of absurd sizes and
// the plain-data placement operations.
#include "kernel/runtime/scope_heap.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace {

bool AllZero(const void* p, size_t n) {
    const auto* b = static_cast<const uint8_t*>(p);
    for (size_t i = 0; i < n; ++i)
        if (b[i] != 0) return false;
    return true;
}

TEST(ScopeHeapTest, FirstBlockFitsExactly4072BytesThenAnEightKiBBlockFollows) {
    t_scopeHeap heap;
    ASSERT_NE(nullptr, heap.Alloc(4072));
    EXPECT_EQ(1u, heap.BlockCount());
    EXPECT_EQ(4096u, heap.HeadBlockSize());
    EXPECT_EQ(0u, heap.HeadFree());

    ASSERT_NE(nullptr, heap.Alloc(4));
    EXPECT_EQ(2u, heap.BlockCount());
    EXPECT_EQ(8192u, heap.HeadBlockSize());
    EXPECT_EQ(8192u - 24 - 4, heap.HeadFree());
}

TEST(ScopeHeapTest, RequestsRoundUpToFourBytes) {
    t_scopeHeap heap;
    auto* a = static_cast<uint8_t*>(heap.Alloc(5));
    auto* b = static_cast<uint8_t*>(heap.Alloc(5));
    ASSERT_NE(nullptr, a);
    ASSERT_NE(nullptr, b);
    EXPECT_EQ(8, b - a);
    EXPECT_EQ(0u, reinterpret_cast<uintptr_t>(a) % 4);

    // Alloc(0) reserves nothing: it is the current bump position.
    auto* c = static_cast<uint8_t*>(heap.Alloc(0));
    auto* d = static_cast<uint8_t*>(heap.Alloc(4));
    EXPECT_EQ(b + 8, c);
    EXPECT_EQ(c, d);
}

TEST(ScopeHeapTest, LargeRequestGetsItsOwnBlockAndOlderSpareRoomIsNotReused) {
    t_scopeHeap heap;
    auto* first = static_cast<uint8_t*>(heap.Alloc(16));
    auto* big = static_cast<uint8_t*>(heap.Alloc(10000));
    ASSERT_NE(nullptr, big);
    EXPECT_EQ(2u, heap.BlockCount());
    EXPECT_EQ(12288u, heap.HeadBlockSize());

    // 3000 bytes exceed the head's 2264 spare bytes; the first block's 4056
    // would hold them, but only the newest block is ever bumped.
    auto* next = static_cast<uint8_t*>(heap.Alloc(3000));
    EXPECT_EQ(3u, heap.BlockCount());
    EXPECT_EQ(8192u, heap.HeadBlockSize());
    EXPECT_FALSE(next > first && next < first + 4096);

    // A request larger than the first blockSize on an empty arena.
    t_scopeHeap fresh;
    ASSERT_NE(nullptr, fresh.Alloc(10000));
    EXPECT_EQ(12288u, fresh.HeadBlockSize());
}

TEST(ScopeHeapTest, BlockSizeSetsOnlyTheFirstBlock) {
    t_scopeHeap small(100);
    small.Alloc(8);
    EXPECT_EQ(4096u, small.HeadBlockSize());
    small.Alloc(4096);  // later blocks are at least 8192 bytes
    EXPECT_EQ(8192u, small.HeadBlockSize());

    t_scopeHeap large(10000);
    large.Alloc(8);
    EXPECT_EQ(12288u, large.HeadBlockSize());
}

TEST(ScopeHeapTest, AllocationsNeverOverlap) {
    // Each allocation gets its own byte pattern; none may overwrite another.
    t_scopeHeap heap;
    std::vector<std::pair<uint8_t*, size_t>> chunks;
    size_t sizes[] = {1, 3, 4, 7, 100, 4000, 5000, 9, 20000, 2, 8191};
    for (int round = 0; round < 20; ++round) {
        for (size_t n : sizes) {
            auto* p = static_cast<uint8_t*>(heap.Alloc(n));
            ASSERT_NE(nullptr, p);
            ASSERT_TRUE(AllZero(p, n));
            std::memset(p, int(chunks.size() % 251) + 1, n);
            chunks.emplace_back(p, n);
        }
    }
    for (size_t i = 0; i < chunks.size(); ++i) {
        for (size_t k = 0; k < chunks[i].second; ++k)
            ASSERT_EQ(int(i % 251) + 1, chunks[i].first[k]) << "chunk " << i;
    }
}

TEST(ScopeHeapTest, EveryResultIsZeroAlsoAfterFreeAllAndReuse) {
    t_scopeHeap heap;
    for (int round = 0; round < 3; ++round) {
        for (size_t n : {size_t(64), size_t(4000), size_t(9000), size_t(12)}) {
            void* p = heap.Alloc(n);
            ASSERT_NE(nullptr, p);
            EXPECT_TRUE(AllZero(p, n)) << "round " << round << " size " << n;
            std::memset(p, 0xAB, n);
        }
        heap.FreeAll();
        EXPECT_EQ(0u, heap.BlockCount());
        EXPECT_EQ(0u, heap.HeadBlockSize());
    }
}

// Sizes read from files once wrapped in the 32-bit rounding and gave a tiny
// block for a huge request.
TEST(ScopeHeapTest, RequestsNearFourGiBAreRefusedNotWrapped) {
    t_scopeHeap heap;
    heap.Alloc(16);
    // 0xFFFFEFE9 used to round to a block of 0 bytes; 2^32 + 8 to one of 8.
    const size_t absurd[] = {
        0xFFFFFFFFu,          0xFFFFFFFDu, 0xFFFFF000u, 0xFFFFEFE9u, t_scopeHeap::kMaxRequest + 1,
        (size_t(1) << 32) + 8};
    for (size_t n : absurd) {
        EXPECT_EQ(nullptr, heap.Alloc(n)) << n;
        EXPECT_EQ(nullptr, heap.DupBytes("x", n)) << n;
    }
    EXPECT_EQ(1u, heap.BlockCount());
    EXPECT_EQ(4096u, heap.HeadBlockSize());
    // An absurd first blockSize sets no floor it cannot honour.
    t_scopeHeap odd(0xFFFFFFFFu);
    ASSERT_NE(nullptr, odd.Alloc(8));
    EXPECT_EQ(4096u, odd.HeadBlockSize());
}

TEST(ScopeHeapTest, DupBytesAndDupWideNCopyAndRefuseEmptyInput) {
    t_scopeHeap heap;
    EXPECT_EQ(nullptr, heap.DupBytes(nullptr, 4));
    EXPECT_EQ(nullptr, heap.DupBytes("abc", 0));
    auto* b = static_cast<const char*>(heap.DupBytes("abc", 3));
    ASSERT_NE(nullptr, b);
    EXPECT_EQ(0, std::memcmp(b, "abc", 3));

    EXPECT_EQ(nullptr, heap.DupWideN(nullptr, 2));
    EXPECT_EQ(nullptr, heap.DupWideN(L"abc", 0));
    wchar_t* w = heap.DupWideN(L"abcdef", 3);
    ASSERT_NE(nullptr, w);
    EXPECT_STREQ(L"abc", w);
}

TEST(ScopeHeapTest, DupWideAcceptsOneTo10239Characters) {
    t_scopeHeap heap;
    EXPECT_EQ(nullptr, heap.DupWide(nullptr));
    EXPECT_EQ(nullptr, heap.DupWide(L""));
    EXPECT_STREQ(L"x", heap.DupWide(L"x"));
    std::wstring longest(10239, L'a');
    wchar_t* copy = heap.DupWide(longest.c_str());
    ASSERT_NE(nullptr, copy);
    EXPECT_EQ(longest, copy);
    std::wstring tooLong(10240, L'a');
    EXPECT_EQ(nullptr, heap.DupWide(tooLong.c_str()));
}

TEST(ScopeHeapTest, ConcatWideTreatsNullAsEmpty) {
    t_scopeHeap heap;
    wchar_t* empty = heap.ConcatWide(nullptr, nullptr);
    ASSERT_NE(nullptr, empty);
    EXPECT_STREQ(L"", empty);
    EXPECT_STREQ(L"ab", heap.ConcatWide(L"ab", nullptr));
    EXPECT_STREQ(L"cd", heap.ConcatWide(nullptr, L"cd"));
    EXPECT_STREQ(L"拼音ab", heap.ConcatWide(L"拼音", L"ab"));
}

}  // namespace
