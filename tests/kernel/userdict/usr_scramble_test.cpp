// Word-text scrambling, the old-image word reader and the validators.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "kernel/lexicon/hz_dict.h"
#include "kernel/lexicon/sys_dict_writer.h"

#include "kernel/userdict/usr_scramble.h"
#include "kernel/userdict/usr_validators.h"
#include "tests/kernel/userdict/usr_support.h"

namespace {

class ScrambleTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(BuildScrambleKeyTable()); }
};

TEST_F(ScrambleTest, GoldenVectorsPinTheStoredTransform) {
    struct Case {
        std::vector<uint16_t> plain;
        int32_t p1, p2;
        uint16_t checksum;
        std::vector<uint16_t> stored;
    } cases[] = {
        {{0x4F60, 0x597D}, 12345, 6789, 43229, {0x5941, 0x757B}},
        {{0x7528, 0x6237, 0x8BCD, 0x5E93}, 32766, 0, 49599, {0xB21B, 0x75DE, 0x0B64, 0x5CD1}},
        {{0x0041}, 7, 32766, 65, {0x3C82}},
    };
    for (const Case& c : cases) {
        TestLstr w(c.plain);
        uint16_t sum = 0;
        ASSERT_TRUE(ScrambleWordText(w.get(), &sum, c.p1, c.p2));
        EXPECT_EQ(sum, c.checksum);
        EXPECT_EQ(w.Units(), c.stored);
        ASSERT_TRUE(UnscrambleWordText(w.get(), sum, c.p1, c.p2));
        EXPECT_EQ(w.Units(), c.plain);
    }
    EXPECT_EQ(OldImageOffsetKey(1, 2, 3), (1u + 6 + 2) << 5);
    EXPECT_EQ(OldImageWordKey(1, 2, 3), uint16_t((2u + 3 + 3 + 1) << 3));
}

TEST_F(ScrambleTest, RoundTripsForEveryRotation) {
    TestLstr original({0x4E2D, 0x6587, 0x0020, 0xFFFF, 0x0000});
    for (int32_t p1 = 100; p1 < 108; ++p1) {  // rotations 4..7, 0..3
        TestLstr w = original;
        uint16_t sum = 0;
        ASSERT_TRUE(ScrambleWordText(w.get(), &sum, p1, 31000));
        EXPECT_NE(w.Units(), original.Units());
        ASSERT_TRUE(UnscrambleWordText(w.get(), sum, p1, 31000));
        EXPECT_EQ(w.Units(), original.Units()) << "p1=" << p1;
    }
}

TEST_F(ScrambleTest, RefusesWordsFailingTheWordCheck) {
    std::vector<uint16_t> units(65, 0x4E00);  // 130 bytes
    TestLstr tooLong(units);
    uint16_t sum = 7;
    EXPECT_FALSE(ScrambleWordText(tooLong.get(), &sum, 1, 2));
    EXPECT_EQ(sum, 7);
    EXPECT_EQ(tooLong.Units(), units);
    TestLstr empty(std::vector<uint16_t>{});
    EXPECT_FALSE(ScrambleWordText(empty.get(), &sum, 1, 2));
    EXPECT_FALSE(ScrambleWordText(nullptr, &sum, 1, 2));
    // A short word is left alone by unscrambling.
    EXPECT_TRUE(UnscrambleWordText(empty.get(), 5, 1, 2));
}

TEST_F(ScrambleTest, WorksAfterTheKeyBlockIsRebuilt) {
    TestLstr w({0x4F60, 0x597D});
    uint16_t sum = 0;
    ASSERT_TRUE(FreeScrambleKeyTable());
    // The key functions give the same keys with or without the block.
    EXPECT_EQ(DeriveScrambleKey(43229, 12345, 6789), 58304);
    EXPECT_EQ(OldImageWordKey(1, 2, 3), uint16_t((2u + 3 + 3 + 1) << 3));
    // Scrambling builds a new block when it needs one.
    ASSERT_TRUE(ScrambleWordText(w.get(), &sum, 12345, 6789));
    EXPECT_EQ(w.Units(), (std::vector<uint16_t>{0x5941, 0x757B}));
    EXPECT_EQ(DeriveScrambleKey(43229, 12345, 6789), 58304);
}

TEST(ScrambleRandomTest, ParametersComeFromThePrivateGeneratorNotRand) {
    srand(42);
    const int expected = (srand(42), rand());
    srand(42);
    bool seen[kUsrParamRange] = {};
    int distinct = 0;
    for (int i = 0; i < 200; ++i) {
        uint32_t p = kUsrParamRange;
        ASSERT_TRUE(DrawScrambleParameter(&p));
        ASSERT_LT(p, kUsrParamRange);
        if (!seen[p]) ++distinct, seen[p] = true;
    }
    EXPECT_GT(distinct, 150);
    // The host's rand() sequence is untouched by drawing parameters.
    EXPECT_EQ(rand(), expected);
    for (uint32_t base : {0u, 1024u, 3072u}) {
        const uint32_t at = RandomSlotOffset(base);
        EXPECT_GE(at, base);
        EXPECT_LT(at, base + 1024);
        EXPECT_EQ(at % 4, 0u);
    }
}

class OldWordTest : public ScrambleTest {};

TEST_F(OldWordTest, ReadsPlainAndScrambledWordsWithinBounds) {
    std::vector<uint8_t> image(64, 0);
    const std::vector<uint16_t> word = {0x6C49, 0x5B57};
    const uint32_t a = 0x00030011, b = 77;
    const int32_t q = 13, o = 9;
    PutOldScrambledWord(image, 20, word, a, b, q);
    t_oldWordRef ref;
    ref.storedOffset = 20 ^ OldImageOffsetKey(a, b, o);
    ref.a = a;
    ref.b = b;
    ref.flag = 1;
    uint8_t buf[kUsrTextBufBytes];
    auto* out = reinterpret_cast<t_lstr*>(buf);
    ASSERT_TRUE(ReadOldImageWord(image.data(), image.size(), 64, ref, out, q, o));
    EXPECT_EQ(LstrGetLength(out), 2);
    EXPECT_EQ(LstrGetUnit(out, 0), 0x6C49);
    EXPECT_EQ(LstrGetUnit(out, 1), 0x5B57);

    // The data bound cuts the word: refused.
    EXPECT_FALSE(ReadOldImageWord(image.data(), image.size(), 25, ref, out, q, o));
    // So does the image's real end, whatever the bound claims.
    EXPECT_FALSE(ReadOldImageWord(image.data(), 24, 0xFFFFFFFFu, ref, out, q, o));
    ref.flag = 2;
    EXPECT_FALSE(ReadOldImageWord(image.data(), image.size(), 64, ref, out, q, o));
    // A plain record at an offset near 2^32 must not wrap around.
    ref.flag = 0;
    ref.storedOffset = 0xFFFFFFFFu;
    EXPECT_FALSE(ReadOldImageWord(image.data(), image.size(), 0xFFFFFFFFu, ref, out, q, o));
    // Byte counts 0 and 130 are refused.
    ref.storedOffset = 0;
    EXPECT_FALSE(ReadOldImageWord(image.data(), image.size(), 64, ref, out, q, o));
    std::vector<uint8_t> big(200, 0);
    big[0] = 130;
    EXPECT_FALSE(ReadOldImageWord(big.data(), big.size(), 200, ref, out, q, o));
}

TEST(ValidatorTest, ReadingsAndWords) {
    EXPECT_TRUE(IsValidPyIdString(TestLstr({499}).get()));
    EXPECT_FALSE(IsValidPyIdString(TestLstr({12, 500}).get()));
    EXPECT_FALSE(IsValidPyIdString(TestLstr(std::vector<uint16_t>{}).get()));
    EXPECT_FALSE(IsValidPyIdString(nullptr));
    EXPECT_FALSE(IsValidPyIdString(TestLstr::Raw({0x01, 0x00, 0x05}).get()));      // odd count
    EXPECT_TRUE(IsValidPyIdString(TestLstr(std::vector<uint16_t>(64, 1)).get()));  // 128 bytes
    EXPECT_FALSE(IsValidPyIdString(TestLstr(std::vector<uint16_t>(65, 1)).get()));
    EXPECT_TRUE(IsValidWordString(TestLstr({0xFFFF}).get(), true));
    EXPECT_FALSE(IsValidWordString(TestLstr::Raw({0x03, 0x00, 1, 2, 3}).get(), false));
}

// The strict word check: counts always; with the unit test, only ASCII
// letters and characters of the character dictionary pass.
TEST(ValidatorTest, StrictWordsNeedKnownCharactersOrLetters) {
    std::vector<t_hzCharEntry> chars = {{u'中', {1}}, {u'国', {2}}};
    std::sort(chars.begin(), chars.end(),
              [](const t_hzCharEntry& a, const t_hzCharEntry& b) { return a.ch < b.ch; });
    std::vector<uint8_t> image;
    std::string error;
    ASSERT_TRUE(BuildHzDictImage(chars, image, &error)) << error;
    t_hzDict hz;
    ASSERT_TRUE(hz.Load(image.data(), int32_t(image.size())));

    EXPECT_TRUE(IsValidWordStringStrict(TestLstr::Text(u"中国").get(), true, &hz));
    EXPECT_TRUE(IsValidWordStringStrict(TestLstr::Text(u"中aZ").get(), true, &hz));
    EXPECT_FALSE(IsValidWordStringStrict(TestLstr::Text(u"中人").get(), true, &hz));
    EXPECT_FALSE(IsValidWordStringStrict(TestLstr::Text(u"a1").get(), true, &hz));
    EXPECT_FALSE(IsValidWordStringStrict(TestLstr::Text(u"a[").get(), true, &hz));
    EXPECT_FALSE(IsValidWordStringStrict(TestLstr::Text(u"中").get(), true, nullptr));
    EXPECT_TRUE(IsValidWordStringStrict(TestLstr::Text(u"ab").get(), true, nullptr));
    t_hzDict unloaded;
    EXPECT_FALSE(IsValidWordStringStrict(TestLstr::Text(u"中").get(), true, &unloaded));
    // Without the unit test only the count matters.
    EXPECT_TRUE(IsValidWordStringStrict(TestLstr::Text(u"人").get(), false, nullptr));
    EXPECT_TRUE(
        IsValidWordStringStrict(TestLstr(std::vector<uint16_t>(64, 0x4E2D)).get(), true, &hz));
    EXPECT_FALSE(
        IsValidWordStringStrict(TestLstr(std::vector<uint16_t>(65, 0x4E2D)).get(), false, nullptr));
    EXPECT_FALSE(IsValidWordStringStrict(TestLstr(std::vector<uint16_t>{}).get(), false, nullptr));
    EXPECT_FALSE(
        IsValidWordStringStrict(TestLstr::Raw({0x03, 0x00, 'a', 0, 'b'}).get(), false, nullptr));
    EXPECT_FALSE(IsValidWordStringStrict(nullptr, false, nullptr));
}

TEST(ValidatorTest, OldFormatHeadersAndEntries) {
    std::vector<uint8_t> v1(44, 0);
    PutU32(v1, 0, kV1MagicB);
    PutU32(v1, 20, 3);
    PutU32(v1, 24, 3);
    PutU32(v1, 40, 4);
    EXPECT_TRUE(IsValidOldUsrDictHeader(v1.data(), v1.size()));
    EXPECT_FALSE(IsValidOldUsrDictHeader(v1.data(), 43));
    PutU32(v1, 24, 2);  // word 6 below the group count
    EXPECT_FALSE(IsValidOldUsrDictHeader(v1.data(), v1.size()));

    std::vector<uint8_t> h = ValidV2Header(30000, 150000, 10, 20);
    EXPECT_TRUE(IsValidV2UsrDictHeader(h.data(), h.size()));
    EXPECT_FALSE(IsValidV2UsrDictHeader(h.data(), kV2HeaderBytes - 1));
    std::vector<uint8_t> bad = ValidV2Header(100000, 150000, 10, 20);
    EXPECT_FALSE(IsValidV2UsrDictHeader(bad.data(), bad.size()));
    bad = h;
    PutU32(bad, 80, 104857601);
    EXPECT_FALSE(IsValidV2UsrDictHeader(bad.data(), bad.size()));
    bad = h;
    PutU32(bad, 16, 30001);  // used above capacity
    EXPECT_FALSE(IsValidV2UsrDictHeader(bad.data(), bad.size()));

    const int32_t okEntry[3] = {100, 2, 20};
    const int32_t farIndex[3] = {100, 2, 21};
    const int32_t negative[3] = {100, -1, 0};
    EXPECT_TRUE(IsValidOldIndexEntry(okEntry));
    EXPECT_FALSE(IsValidOldIndexEntry(negative));
    EXPECT_TRUE(IsValidOldWordEntry(okEntry, h.data()));
    EXPECT_FALSE(IsValidOldWordEntry(farIndex, h.data()));
    EXPECT_TRUE(IsValidOldAttrEntry(-1, 1, h.data()));
    EXPECT_FALSE(IsValidOldAttrEntry(-2, 0, h.data()));
    EXPECT_FALSE(IsValidOldAttrEntry(3, 2, h.data()));
}

}  // namespace
