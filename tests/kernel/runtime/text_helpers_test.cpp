// Surrogate-aware UTF-16 helpers: pairs out, code points back, lone surrogates
// kept, and the limits of the wide pool copy.
#include "kernel/runtime/text_helpers.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

std::vector<uint16_t> Units(const t_lstr* s) {
    std::vector<uint16_t> out;
    for (size_t i = 0; i < LstrGetLength(s); ++i) out.push_back(LstrGetUnit(s, i));
    return out;
}

std::vector<uint32_t> CodePoints(const uint32_t* p) {
    std::vector<uint32_t> out;
    while (p && *p) out.push_back(*p++);
    return out;
}

TEST(TextHelpersTest, CharactersBeyondTheBmpBecomeSurrogatePairsAndComeBack) {
    t_scopeHeap heap;
    t_lstr* s = WideToLstr16(heap, L"a\U0001F600b\U00010000\U0010FFFF");
    ASSERT_NE(nullptr, s);
    EXPECT_EQ((std::vector<uint16_t>{'a', 0xD83D, 0xDE00, 'b', 0xD800, 0xDC00, 0xDBFF, 0xDFFF}),
              Units(s));
    EXPECT_EQ((std::vector<uint32_t>{'a', 0x1F600, 'b', 0x10000, 0x10FFFF}),
              CodePoints(LstrToCodePoints(heap, s)));
    EXPECT_EQ((std::vector<uint16_t>{0x4E2D}), Units(WideToLstr16(heap, L"中")));
}

TEST(TextHelpersTest, WideToLstr16RefusesEmptyAndNonCharacters) {
    t_scopeHeap heap;
    EXPECT_EQ(nullptr, WideToLstr16(heap, nullptr));
    EXPECT_EQ(nullptr, WideToLstr16(heap, L""));
    const wchar_t beyond[] = {L'a', wchar_t(0x110000), 0};
    EXPECT_EQ(nullptr, WideToLstr16(heap, beyond));
    const wchar_t negative[] = {wchar_t(-5), 0};
    EXPECT_EQ(nullptr, WideToLstr16(heap, negative));
    // 16384 pairs fill 65536 bytes: one too many.
    std::wstring pairs(16384, L'\U0001F600');
    EXPECT_EQ(nullptr, WideToLstr16(heap, pairs.c_str()));
    pairs.pop_back();
    EXPECT_EQ(65532, LstrGetByteLength(WideToLstr16(heap, pairs.c_str())));
}

TEST(TextHelpersTest, LoneSurrogatesStandForThemselves) {
    t_scopeHeap heap;
    const uint16_t units[] = {0xD800, 'a', 0xDC00, 0xDBFF, 0xD83D, 0xDE00, 0xD800};
    t_lstr* s = heap.MakeLstr(units, sizeof units);
    EXPECT_EQ((std::vector<uint32_t>{0xD800, 'a', 0xDC00, 0xDBFF, 0x1F600, 0xD800}),
              CodePoints(LstrToCodePoints(heap, s)));
}

TEST(TextHelpersTest, LstrToCodePointsStopsAtAZeroUnit) {
    t_scopeHeap heap;
    const uint16_t units[] = {'a', 0, 'b'};
    EXPECT_EQ((std::vector<uint32_t>{'a'}),
              CodePoints(LstrToCodePoints(heap, heap.MakeLstr(units, sizeof units))));
    EXPECT_EQ(nullptr, LstrToCodePoints(heap, nullptr));
    const uint8_t empty[2] = {0, 0};
    uint32_t* none = LstrToCodePoints(heap, reinterpret_cast<const t_lstr*>(empty));
    ASSERT_NE(nullptr, none);
    EXPECT_EQ(0u, none[0]);
}

TEST(TextHelpersTest, Utf16ToWidePoolDecodesPairsWithinTheCount) {
    t_scopeHeap heap;
    const uint16_t units[] = {'x', 0xD83D, 0xDE00, 'y', 0, 'z'};
    EXPECT_STREQ(L"x\U0001F600y", Utf16ToWidePool(heap, units, 6));
    EXPECT_STREQ(L"x\U0001F600", Utf16ToWidePool(heap, units, 3));
    // A pair cut by the count leaves its high half alone.
    EXPECT_STREQ(L"x\xD83D", Utf16ToWidePool(heap, units, 2));
    EXPECT_EQ(nullptr, Utf16ToWidePool(heap, units, 0));
    EXPECT_EQ(nullptr, Utf16ToWidePool(heap, units, -3));
    EXPECT_EQ(nullptr, Utf16ToWidePool(heap, nullptr, 4));
    EXPECT_EQ(nullptr, Utf16ToWidePool(heap, units + 4, 2));  // empty result
}

TEST(TextHelpersTest, Utf16ToWidePoolRefuses10240CharactersOrMore) {
    t_scopeHeap heap;
    std::vector<uint16_t> units(10240, 'a');
    EXPECT_EQ(nullptr, Utf16ToWidePool(heap, units.data(), 10240));
    wchar_t* w = Utf16ToWidePool(heap, units.data(), 10239);
    ASSERT_NE(nullptr, w);
    EXPECT_EQ(10239u, std::wstring(w).size());
    // Pairs count as one character each.
    std::vector<uint16_t> pairs;
    for (int i = 0; i < 10239; ++i) pairs.insert(pairs.end(), {0xD83D, 0xDE00});
    EXPECT_NE(nullptr, Utf16ToWidePool(heap, pairs.data(), int(pairs.size())));
}

TEST(TextHelpersTest, DigitsOneToEight) {
    EXPECT_FALSE(IsDigitOneToEight('0'));
    EXPECT_TRUE(IsDigitOneToEight('1'));
    EXPECT_TRUE(IsDigitOneToEight('8'));
    EXPECT_FALSE(IsDigitOneToEight('9'));
    EXPECT_FALSE(IsDigitOneToEight(0x31 + 0x10000));
}

}  // namespace
