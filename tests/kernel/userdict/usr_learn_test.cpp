// Learning, deleting, merging and restoring user words, the weight curve and
// the lookups, checked against the formulas and against a simple model.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <map>
#include <random>
#include <tuple>

#include "kernel/userdict/usr_dict_v3.h"
#include "kernel/userdict/usr_scramble.h"
#include "kernel/userdict/usr_validators.h"
#include "tests/kernel/userdict/usr_support.h"

namespace {

class LearnTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(dict.CreateEmpty(kUsrDefaultCapacity)); }
    t_usrWordAttr Attr(const TestLstr& r, const TestLstr& w) {
        t_usrWordAttr a;
        EXPECT_TRUE(dict.GetWordRecord(r.get(), w.get(), &a));
        return a;
    }
    uint32_t Clock() const { return dict.GetHeaderWord(kUsrHdrClock); }
    std::vector<uint8_t> Image() const {
        const uint8_t* d = nullptr;
        uint64_t n = 0;
        EXPECT_TRUE(dict.GetImageBytes(&d, &n));
        return std::vector<uint8_t>(d, d + n);
    }
    t_usrDictV3Core dict;
    TestLstr nihao{10, 20};
    TestLstr wNihao = TestLstr::Text(u"你好");
    TestLstr wNiHao2 = TestLstr::Text(u"拟好");
};

TEST_F(LearnTest, NewImageHasTheFreshHeader) {
    EXPECT_EQ(dict.GetHeaderWord(kUsrHdrBuckets), 500u);
    EXPECT_EQ(dict.GetHeaderWord(kUsrHdrSize), 76u);
    EXPECT_EQ(Clock(), 2u);
    EXPECT_EQ(dict.GetWordCount(), 0);
    EXPECT_EQ(dict.GetTotalFreq(), 0);
    EXPECT_EQ(dict.GetHeaderWord(kUsrHdrKeys), 0u);
    EXPECT_LT(dict.GetHeaderWord(kUsrHdrParam1), kUsrParamRange);
    EXPECT_LT(dict.GetHeaderWord(kUsrHdrParam2), kUsrParamRange);
    EXPECT_EQ(dict.GetAverageFreq(), 1);
}

TEST_F(LearnTest, FlagBitsCombineOnRelearning) {
    ASSERT_EQ(dict.LearnWord(nihao.get(), wNihao.get(), 0x04 | 0x20 | 0x08), 1);
    ASSERT_EQ(dict.LearnWord(nihao.get(), wNihao.get(), 0x01), 1);
    // 0x04 and 0x20 only survive when the new flags have them; 0x08 stays.
    EXPECT_EQ(Attr(nihao, wNihao).flags, 0x08 | 0x01);
    ASSERT_EQ(dict.LearnWord(nihao.get(), wNihao.get(), 0x04), 1);
    EXPECT_EQ(Attr(nihao, wNihao).flags, 0x08);
}

TEST_F(LearnTest, NoAgeFlagKeepsStampTwoOnlyUnderAKnownReading) {
    // A new reading still takes the clock, even with 0x20.
    ASSERT_EQ(dict.LearnWord(nihao.get(), wNihao.get(), 0x20), 1);
    EXPECT_EQ(Attr(nihao, wNihao).stamp, 2u);  // the clock was 2
    EXPECT_EQ(Clock(), 3u);
    ASSERT_EQ(dict.LearnWord(nihao.get(), wNiHao2.get(), 0x20), 1);
    EXPECT_EQ(Attr(nihao, wNiHao2).stamp, kUsrNoAge);
    EXPECT_EQ(Clock(), 3u);  // not advanced
    ASSERT_EQ(dict.LearnWord(nihao.get(), wNiHao2.get(), 0x20), 1);
    EXPECT_EQ(Attr(nihao, wNiHao2).stamp, kUsrNoAge);
}

TEST_F(LearnTest, RelearningAHiddenWordRestartsItsFrequency) {
    ASSERT_EQ(dict.MergeWord(nihao.get(), wNihao.get(), 9, 0x10, 5), 1);
    EXPECT_EQ(dict.GetTotalFreq(), 9);
    ASSERT_EQ(dict.LearnWord(nihao.get(), wNihao.get(), 0), 1);
    const t_usrWordAttr a = Attr(nihao, wNihao);
    EXPECT_EQ(a.freq, 1);
    EXPECT_EQ(a.flags & 0x10, 0);
    EXPECT_EQ(dict.GetTotalFreq(), 1);  // the total stays the sum of the frequencies
}

TEST_F(LearnTest, FrequencyStopsAt65535) {
    ASSERT_EQ(dict.MergeWord(nihao.get(), wNihao.get(), 65535, 0, 5), 1);
    const int32_t total = dict.GetTotalFreq();
    ASSERT_EQ(dict.LearnWord(nihao.get(), wNihao.get(), 0), 1);
    EXPECT_EQ(Attr(nihao, wNihao).freq, 65535);
    EXPECT_EQ(dict.GetTotalFreq(), total);
}

TEST_F(LearnTest, DeleteOfAnAbsentWordChangesNothing) {
    ASSERT_EQ(dict.LearnWord(nihao.get(), wNihao.get(), 0), 1);
    const std::vector<uint8_t> before = Image();
    EXPECT_EQ(dict.DeleteWord(nihao.get(), wNiHao2.get()), 1);
    EXPECT_EQ(dict.DeleteWord(TestLstr({99}).get(), wNihao.get()), 1);
    EXPECT_EQ(Image(), before);
    EXPECT_EQ(dict.DeleteWord(nihao.get(), wNihao.get()), 1);
    const t_usrWordAttr a = Attr(nihao, wNihao);
    EXPECT_EQ(a.freq, 0);
    EXPECT_EQ(a.stamp, kUsrNoAge);
    EXPECT_EQ(dict.GetTotalFreq(), 0);
    EXPECT_EQ(dict.GetWordCount(), 1);  // kept until the next rebuild
}

// New words and words learned again count alike.
TEST_F(LearnTest, ASaveFallsDueAfterFiftyChanges) {
    for (int i = 0; i < 49; ++i)
        ASSERT_EQ(dict.LearnWord(TestLstr({uint16_t(30 + i / 2)}).get(), wNihao.get(), 0), 1);
    EXPECT_EQ(dict.GetHeaderWord(kUsrHdrChanges), 49u);
    EXPECT_EQ(dict.TakeSaveDue(), 0);
    ASSERT_EQ(dict.LearnWord(nihao.get(), wNihao.get(), 0), 1);
    EXPECT_EQ(dict.TakeSaveDue(), 1);
    EXPECT_EQ(dict.GetHeaderWord(kUsrHdrChanges), 0u);
    EXPECT_EQ(dict.TakeSaveDue(), 0);
}

// A dictionary at its largest size, full of words used three times or more
// (which the frequency rule keeps), goes on learning: the trim falls back to
// the oldest words and never takes the word being learned.
TEST_F(LearnTest, AFullDictionaryOfFrequentWordsGoesOnLearning) {
    ASSERT_TRUE(dict.CreateEmpty(kUsrMaxCapacity));
    // One row short of the point where the next add trims.
    const uint32_t full = kUsrTrimPoint - 1;
    ASSERT_TRUE(FillBulkWords(dict, 0, full));
    for (uint32_t i = 0; i < 20; ++i) {
        const uint32_t w = 500000 + i;
        ASSERT_NE(dict.LearnWord(BulkReading(w).get(), BulkText(w).get(), 0), 0) << i;
    }
    for (uint32_t i = 0; i < 20; ++i) {
        const uint32_t w = 500000 + i;
        EXPECT_EQ(Attr(BulkReading(w), BulkText(w)).freq, 1) << i;
    }
    t_usrWordAttr a;
    EXPECT_FALSE(dict.GetWordRecord(BulkReading(0).get(), BulkText(0).get(), &a) && a.freq != 0);
    EXPECT_EQ(Attr(BulkReading(full - 1), BulkText(full - 1)).freq, 3 + (full - 1) % 5);
    EXPECT_LT(uint32_t(dict.GetWordCount()), full);
}

TEST_F(LearnTest, InvalidReadingsAreRefusedBeforeAnyChange) {
    ASSERT_EQ(dict.LearnWord(nihao.get(), wNihao.get(), 0), 1);
    const std::vector<uint8_t> before = Image();
    TestLstr bad({10, 500});
    TestLstr odd = TestLstr::Raw({3, 0, 10, 0, 20});
    TestLstr tooLong(std::vector<uint16_t>(65, 10));
    for (const TestLstr* r : {&bad, &odd, &tooLong}) {
        EXPECT_EQ(dict.LearnWord(r->get(), wNihao.get(), 0), 0);
        EXPECT_EQ(dict.MergeWord(r->get(), wNihao.get(), 3, 0, 9), 0);
        EXPECT_EQ(dict.RestoreWord(r->get(), wNihao.get(), 3, 0, 9, 0), 0);
    }
    TestLstr longWord(std::vector<uint16_t>(65, 0x4E00));
    EXPECT_EQ(dict.LearnWord(nihao.get(), longWord.get(), 0), 0);
    // Deleting what could never be stored finds nothing to delete.
    EXPECT_EQ(dict.DeleteWord(bad.get(), wNihao.get()), 1);
    EXPECT_EQ(dict.DeleteWord(nihao.get(), longWord.get()), 1);
    EXPECT_EQ(dict.DeleteWord(nullptr, wNihao.get()), 0);
    EXPECT_EQ(Image(), before);
}

TEST_F(LearnTest, ImportedStampsSaturateTheClockInsteadOfWrapping) {
    ASSERT_EQ(dict.MergeWord(nihao.get(), wNihao.get(), 1, 0, 0xFFFFFFFFu), 1);
    EXPECT_EQ(Clock(), kUsrClockMax);
    ASSERT_EQ(dict.RestoreWord(nihao.get(), wNiHao2.get(), 1, 0, 0xFFFFFFFEu, 0), 1);
    EXPECT_EQ(Clock(), kUsrClockMax);
    for (int i = 0; i < 3; ++i) ASSERT_EQ(dict.LearnWord(TestLstr({7}).get(), wNihao.get(), 0), 1);
    EXPECT_EQ(Clock(), kUsrClockMax);
    EXPECT_LT(Attr(nihao, wNihao).stamp, kUsrClockMax);
}

// Adding frequencies sums them (up to 65535), replaces the flags and keeps
// the larger stamp; invalid readings are refused like every other change.
TEST_F(LearnTest, AddedFrequenciesSumAndStopAt65535) {
    ASSERT_EQ(dict.AddWordFreq(nihao.get(), wNihao.get(), 5, 0x05, 40), 1);
    EXPECT_EQ(Clock(), 41u);
    ASSERT_EQ(dict.AddWordFreq(nihao.get(), wNihao.get(), 3, 0x02, 30), 1);
    t_usrWordAttr a = Attr(nihao, wNihao);
    EXPECT_EQ(std::tie(a.freq, a.flags, a.stamp), std::make_tuple(uint16_t(8), uint16_t(2), 40u));
    EXPECT_EQ(dict.GetTotalFreq(), 8);
    EXPECT_EQ(Clock(), 42u);
    ASSERT_EQ(dict.AddWordFreq(nihao.get(), wNihao.get(), 65530, 0x02, 30), 1);
    EXPECT_EQ(Attr(nihao, wNihao).freq, 65535);
    EXPECT_EQ(dict.GetTotalFreq(), 65535);
    EXPECT_EQ(dict.GetWordCount(), 1);
    const std::vector<uint8_t> before = Image();
    EXPECT_EQ(dict.AddWordFreq(TestLstr({500}).get(), wNihao.get(), 1, 0, 3), 0);
    EXPECT_EQ(Image(), before);
}

// A word from another dictionary keeps its age: its stamp is moved onto
// this clock, never below 2, and a raise of the total is only the raise of
// the frequency.
TEST_F(LearnTest, RebasedMergeKeepsTheAgeFromTheOtherClock) {
    TestLstr one({1});
    ASSERT_EQ(dict.MergeWord(one.get(), wNihao.get(), 1, 0, 100), 1);  // now = 101
    ASSERT_EQ(dict.MergeWordRebased(nihao.get(), wNihao.get(), 4, 0x01, 990, 1000), 1);
    EXPECT_EQ(Attr(nihao, wNihao).stamp, 91u);
    EXPECT_EQ(Clock(), 102u);
    EXPECT_EQ(dict.GetTotalFreq(), 5);
    // Older than this whole clock: the oldest stamp, 2.
    ASSERT_EQ(dict.MergeWordRebased(nihao.get(), wNiHao2.get(), 1, 0, 10, 100000), 1);
    EXPECT_EQ(Attr(nihao, wNiHao2).stamp, 2u);
    // A stamp past the other clock counts as new; flag 0x20 means no age.
    ASSERT_EQ(dict.MergeWordRebased(one.get(), wNiHao2.get(), 1, 0, 50, 40), 1);
    EXPECT_EQ(Attr(one, wNiHao2).stamp, Clock() - 1);
    ASSERT_EQ(dict.MergeWordRebased(TestLstr({2}).get(), wNihao.get(), 1, 0x20, 999, 1000), 1);
    EXPECT_EQ(Attr(TestLstr({2}), wNihao).stamp, 2u);
    // A lower frequency changes neither the word nor the total.
    const int32_t total = dict.GetTotalFreq();
    ASSERT_EQ(dict.MergeWordRebased(nihao.get(), wNihao.get(), 3, 0x01, 990, 1000), 1);
    EXPECT_EQ(Attr(nihao, wNihao).freq, 4);
    EXPECT_EQ(dict.GetTotalFreq(), total);
    ASSERT_EQ(dict.MergeWordRebased(nihao.get(), wNihao.get(), 6, 0x01, 990, 1000), 1);
    EXPECT_EQ(dict.GetTotalFreq(), total + 2);
}

TEST_F(LearnTest, CursorTakesTheGroupAndThePrefixFlag) {
    TestLstr r5({5}), r56({5, 6});
    ASSERT_EQ(dict.LearnWord(r56.get(), wNihao.get(), 0), 1);
    UsrWordCursor c;
    EXPECT_EQ(c.Init(dict, r5.get(), 7), 1);  // absent, but a longer reading starts with it
    EXPECT_EQ(c.group, -1);
    EXPECT_EQ(c.value, 7);
    EXPECT_EQ(c.Init(dict, r56.get(), 8), 0);
    EXPECT_EQ(c.group, dict.Find(r56.get(), nullptr));
    EXPECT_GE(c.group, 0);
    EXPECT_EQ(c.reading, r56.get());
    t_usrDictV3Core unloaded;
    EXPECT_EQ(c.Init(unloaded, r56.get(), 0), 0);
    EXPECT_EQ(c.group, -1);
}

TEST_F(LearnTest, RestoreCarriesEveryField) {
    ASSERT_EQ(dict.RestoreWord(nihao.get(), wNihao.get(), 4, 0x05, 70, 3), 1);
    t_usrWordAttr a = Attr(nihao, wNihao);
    EXPECT_EQ(std::tie(a.freq, a.flags, a.stamp, a.extra),
              std::make_tuple(uint16_t(4), uint16_t(5), 70u, uint16_t(3)));
    EXPECT_EQ(Clock(), 71u);
    EXPECT_EQ(dict.GetHeaderWord(kUsrHdrChanges), 0u);
    // An extra count above the frequency is cleared.
    ASSERT_EQ(dict.RestoreWord(nihao.get(), wNiHao2.get(), 2, 0, 10, 9), 1);
    EXPECT_EQ(Attr(nihao, wNiHao2).extra, 0);
    EXPECT_EQ(Clock(), 71u);
    // The secondary count is raised by the amount given and stops at 65535.
    ASSERT_TRUE(dict.AddExtraCount(nihao.get(), wNihao.get(), 40000));
    ASSERT_TRUE(dict.AddExtraCount(nihao.get(), wNihao.get(), 40000));
    EXPECT_EQ(Attr(nihao, wNihao).extra, 65535);
    EXPECT_FALSE(dict.AddExtraCount(TestLstr({1}).get(), wNihao.get(), 1));
}

TEST_F(LearnTest, GetWordsHidesDeletedAndFlaggedRows) {
    TestLstr w3 = TestLstr::Text(u"尼好"), w4 = TestLstr::Text(u"泥好");
    dict.LearnWord(nihao.get(), wNihao.get(), 0);
    dict.LearnWord(nihao.get(), wNiHao2.get(), 0x10);
    dict.LearnWord(nihao.get(), w3.get(), 0x20);
    dict.LearnWord(nihao.get(), w4.get(), 0);
    dict.DeleteWord(nihao.get(), w4.get());
    const int32_t g = dict.Find(nihao.get(), nullptr);
    ASSERT_GE(g, 0);
    uint32_t ids[8];
    uint16_t flags[8], sums[8], freqs[8];
    ASSERT_EQ(dict.GetWords(0, g, ids, flags, sums, freqs, nullptr, nullptr, nullptr, 8), 1);
    uint8_t buf[kUsrTextBufBytes];
    ASSERT_TRUE(dict.GetWordText(ids[0], sums[0], reinterpret_cast<t_lstr*>(buf)));
    EXPECT_EQ(TestLstr::Text(u"你好").Bytes(), std::vector<uint8_t>(buf, buf + 6));
    EXPECT_EQ(dict.GetEntries(g, ids, nullptr, nullptr, freqs, nullptr, nullptr, 8), 4);
}

TEST(WeightCurveTest, EndsOfTheCurve) {
    t_usrWeightCurve c;
    c.Init(10000, 10, 170, 127);
    EXPECT_NEAR(c.base, 127.0 / 255.0 * 0.5, 1e-12);
    c.boost = 1;
    c.age = 0;
    c.Prepare();
    EXPECT_EQ(c.Eval(3), 170u);  // the target, 17 x average
    c.boost = 0;
    c.age = 8192;
    c.Prepare();
    const double far = 0.5 + 0.5 * c.base;
    EXPECT_EQ(c.Eval(100), uint32_t(100 - std::trunc(100 * far)));
    c.age = 128;  // the ellipse starts at the base factor and the average
    c.Prepare();
    EXPECT_NEAR(c.factor, c.base, 1e-9);
    EXPECT_EQ(c.target, ((8192u - 128u) * 10u >> 7) / 63u);
    c.age = -5;  // a stamp above now is very old
    c.Prepare();
    EXPECT_EQ(c.target, 0u);
}

TEST_F(LearnTest, WeightsComeFromFrequencyAndAge) {
    ASSERT_EQ(dict.MergeWord(nihao.get(), wNihao.get(), 6, 0, 2), 1);     // now 3
    ASSERT_EQ(dict.MergeWord(nihao.get(), wNiHao2.get(), 2, 0, 300), 1);  // now 301
    dict.SetupWeightCurve(127);
    const uint32_t avg = 4, top = 68, now = 301;
    EXPECT_EQ(dict.GetWeightCurve().average, avg);
    EXPECT_EQ(dict.GetWeightCurve().top, top);
    const int32_t g = dict.Find(nihao.get(), nullptr);
    uint32_t ids[4], weights[4];
    uint16_t freqs[4];
    ASSERT_EQ(dict.GetWords(0, g, ids, nullptr, nullptr, freqs, nullptr, weights, nullptr, 4), 2);
    const double base = 127.0 / 255.0 * 0.5;
    for (int i = 0; i < 2; ++i) {
        const uint32_t age = freqs[i] == 6 ? now - 2 : now - 300;
        uint32_t target;
        double factor;
        if (age < 128) {
            target = top - ((age * (top - avg)) >> 7);
            factor = base;
        } else {
            target = (((8192 - age) * avg) >> 7) / 63;
            const double d = double(age) - 8192;
            factor = base + (0.5 - 0.5 * base) * std::sqrt(1 - d * d / 65028096.0);
        }
        EXPECT_EQ(weights[i], uint32_t(freqs[i] + std::trunc((double(target) - freqs[i]) * factor)))
            << i;
    }
}

TEST_F(LearnTest, FindReportsLongerReadingsAndFindAllIsAPrefixSearch) {
    TestLstr r5({5}), r56({5, 6}), r567({5, 6, 7}), r58({5, 8}), r6({6});
    for (const TestLstr* r : {&r5, &r56, &r567, &r58, &r6})
        ASSERT_EQ(dict.LearnWord(r->get(), wNihao.get(), 0), 1);
    int longer = -1;
    EXPECT_GE(dict.Find(r5.get(), &longer), 0);
    EXPECT_EQ(longer, 1);
    EXPECT_GE(dict.Find(r567.get(), &longer), 0);
    EXPECT_EQ(longer, 0);
    EXPECT_EQ(dict.Find(TestLstr({5, 6, 7, 9}).get(), &longer), -1);
    EXPECT_EQ(longer, 0);
    EXPECT_EQ(dict.Find(TestLstr({6, 1}).get(), &longer), -1);
    int32_t ids[8];
    const t_lstr* keys[8];
    int n = 0;
    ASSERT_TRUE(dict.FindAll(r5.get(), ids, keys, 8, &n));
    EXPECT_EQ(n, 3);
    ASSERT_TRUE(dict.FindAll(r56.get(), ids, keys, 8, &n));
    EXPECT_EQ(n, 1);
    EXPECT_EQ(LstrCompare(keys[0], r567.get()), 0);
    // The last reading of a bucket: nothing after it is read.
    ASSERT_TRUE(dict.FindAll(r6.get(), ids, keys, 8, &n));
    EXPECT_EQ(n, 0);
    ASSERT_TRUE(dict.FindAll(r5.get(), ids, keys, 2, &n));
    EXPECT_EQ(n, 2);
}

TEST_F(LearnTest, GroupsOutsideUsedRowsGiveNothing) {
    ASSERT_EQ(dict.LearnWord(TestLstr({5}).get(), wNihao.get(), 0), 1);
    const int32_t g = dict.Find(TestLstr({5}).get(), nullptr);
    uint32_t ids[4];
    EXPECT_EQ(dict.GetEntries(g, ids, nullptr, nullptr, nullptr, nullptr, nullptr, 4), 1);
    // The spare row right after it, a misaligned index, and negative ones.
    for (int32_t bad : {g + 8, g + 3, -8, 1 << 30})
        EXPECT_EQ(
            dict.GetWords(0, bad, ids, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, 4), 0)
            << bad;
}

TEST_F(LearnTest, AssociationNeedsExactlyOneMatchingWord) {
    TestLstr p1 = TestLstr::Text(u"你"), p2 = TestLstr::Text(u"好");
    dict.LearnWord(nihao.get(), wNihao.get(), 0x04);
    int32_t group = 0;
    uint16_t flags = 0, extra = 0;
    EXPECT_TRUE(
        dict.FindUsrDictWordForAssoc(nihao.get(), p1.get(), p2.get(), &group, &flags, &extra));
    EXPECT_EQ(group, dict.Find(nihao.get(), nullptr));
    EXPECT_EQ(flags, 0x04);
    // A second word that continues the first part makes it ambiguous.
    dict.LearnWord(nihao.get(), TestLstr::Text(u"你号").get(), 0);
    EXPECT_FALSE(
        dict.FindUsrDictWordForAssoc(nihao.get(), p1.get(), p2.get(), &group, &flags, &extra));
    std::vector<t_usrContinuation> out;
    EXPECT_TRUE(
        dict.CollectWordContinuations(TestLstr({10}).get(), p1.get(), TestLstr({20}).get(), out));
    EXPECT_EQ(out.size(), 2u);
}

// The model: what every word should hold after a sequence of operations
// (the stamp and frequency formulas of learning and merging).
struct ModelWord {
    uint16_t freq = 0, flags = 0;
    uint32_t stamp = 0;
};

TEST(LearnModelTest, RandomSequencesMatchASimpleModel) {
    std::mt19937 rng(1234);
    for (int round = 0; round < 4; ++round) {
        t_usrDictV3Core dict;
        ASSERT_TRUE(dict.CreateEmpty(kUsrDefaultCapacity));
        std::map<std::pair<std::vector<uint16_t>, std::vector<uint16_t>>, ModelWord> model;
        uint32_t now = 2, total = 0, words = 0;
        std::map<std::vector<uint16_t>, int> keys;
        for (int step = 0; step < 1500; ++step) {
            std::vector<uint16_t> r = {uint16_t(rng() % 6)};
            if (rng() % 2) r.push_back(uint16_t(rng() % 4));
            std::vector<uint16_t> w = {uint16_t(0x4E00 + rng() % 5)};
            if (rng() % 3) w.push_back(uint16_t(0x4E00 + rng() % 3));
            TestLstr R(r), W(w);
            auto key = std::make_pair(r, w);
            const bool present = model.count(key) > 0;
            const int op = int(rng() % 10);
            if (op < 6) {
                const uint16_t flags = uint16_t(rng() % 4);
                ASSERT_EQ(dict.LearnWord(R.get(), W.get(), flags), 1);
                ModelWord& m = model[key];
                if (present) {
                    m.flags = m.freq > 0 ? uint16_t((m.flags & ~0x27) | (flags & 3)) : flags;
                    m.stamp = (now >> 1) + (m.stamp >> 1);
                    total += 1;
                    ++m.freq;
                } else {
                    m = {1, flags, now};
                    ++words;
                    ++total;
                    keys[r]++;
                }
                ++now;
            } else if (op < 8) {
                ASSERT_EQ(dict.DeleteWord(R.get(), W.get()), 1);
                if (present) {
                    total -= model[key].freq;
                    model[key].freq = 0;
                    model[key].stamp = 2;
                }
            } else {
                const uint16_t f = uint16_t(1 + rng() % 20);
                const uint32_t s = uint32_t(rng() % (now + 50));
                ASSERT_EQ(dict.MergeWord(R.get(), W.get(), f, 1, s), 1);
                ModelWord& m = model[key];
                if (present) {
                    m.flags = m.freq == 0 ? 1 : uint16_t((m.flags & ~0x27) | 1);
                    const uint16_t nf = std::max(m.freq, f);
                    total += nf - m.freq;
                    m.freq = nf;
                    m.stamp = std::max(m.stamp, s);
                } else {
                    m = {f, 1, s};
                    ++words;
                    total += f;
                    keys[r]++;
                }
                now = std::max(now, s) + 1;
            }
            ASSERT_EQ(dict.GetHeaderWord(kUsrHdrClock), now) << step;
        }
        EXPECT_EQ(uint32_t(dict.GetTotalFreq()), total);
        EXPECT_EQ(uint32_t(dict.GetWordCount()), words);
        EXPECT_EQ(dict.GetHeaderWord(kUsrHdrKeys), keys.size());
        for (const auto& [k, m] : model) {
            t_usrWordAttr a;
            ASSERT_TRUE(dict.GetWordRecord(TestLstr(k.first).get(), TestLstr(k.second).get(), &a));
            EXPECT_EQ(a.freq, m.freq);
            EXPECT_EQ(a.flags, m.flags);
            EXPECT_EQ(a.stamp, m.stamp);
        }
        // A rebuilt image holds exactly the live words with the same fields.
        std::vector<uint8_t> image;
        ASSERT_TRUE(dict.RebuildImage(image));
        t_usrDictV3Core copy;
        ASSERT_TRUE(copy.AttachCopy(image.data(), image.size()));
        uint32_t live = 0;
        for (const auto& [k, m] : model) {
            t_usrWordAttr a;
            const bool found =
                copy.GetWordRecord(TestLstr(k.first).get(), TestLstr(k.second).get(), &a);
            EXPECT_EQ(found, m.freq > 0);
            if (!found) continue;
            ++live;
            EXPECT_EQ(std::tie(a.freq, a.flags, a.stamp), std::tie(m.freq, m.flags, m.stamp));
        }
        EXPECT_EQ(uint32_t(copy.GetWordCount()), live);
        EXPECT_EQ(uint32_t(copy.GetTotalFreq()), total);
        EXPECT_EQ(copy.GetHeaderWord(kUsrHdrClock), now);
    }
}

}  // namespace
