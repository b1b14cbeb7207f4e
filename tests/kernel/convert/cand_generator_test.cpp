// The generator's own rules that need no dictionary: game keys and options.
#include <gtest/gtest.h>

#include "kernel/convert/cand_generator.h"

namespace {

TEST(CandGeneratorTest, GameKeyInputIsARunOfFourOrMostlyMovementKeys) {
    const struct {
        const wchar_t* text;
        int expected;
    } cases[] = {{nullptr, 0}, {L"wsa", 0}, {L"wwwwaaaa", 1}, {L"wasd", 1}, {L"wasdx", 0}, {L"nihao", 0},
                 {L"hhhh", 1}};
    for (const auto& c : cases) EXPECT_EQ(c.expected, IsGameKeyInput(c.text)) << (c.text ? "text" : "null");
}

TEST(CandGeneratorTest, ComposedNameIsOfferedNotedOrDroppedByItsDistanceFromTheBest) {
    const struct {
        int32_t cost, best;
        int expected;
    } cases[] = {{1699, 1000, kNameOffered}, {1700, 1000, kNameNoted}, {1750, 1000, kNameNoted},
                 {1849, 1000, kNameNoted},   {1850, 1000, kNameDropped}, {1900, 1000, kNameDropped}};
    for (const auto& c : cases) EXPECT_EQ(c.expected, DecideComposedName(c.cost, c.best)) << c.cost;
}

TEST(CandGeneratorTest, OptionsOutOfRangeFallBackToTheirDefaults) {
    t_candGenerator g;
    g.SetOptions(1, 0, 25, 9);
    EXPECT_EQ(1, g.GetOptions().forecast);
    EXPECT_EQ(2, g.GetOptions().longWordPosition);
    EXPECT_EQ(20, g.GetOptions().maxLongWords);
    EXPECT_EQ(4, g.GetOptions().longWordGate);
    g.SetOptions(0, 5, 0, 1);
    EXPECT_EQ(5, g.GetOptions().longWordPosition);
    EXPECT_EQ(1, g.GetOptions().maxLongWords);
    EXPECT_EQ(1, g.GetOptions().longWordGate);
}

}  // namespace
