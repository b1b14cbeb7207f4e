// Gram statistics: unigram frequencies, stored pairs, caps, back-off, the
// word-pair score, the serial cache and damaged gram images.
#include "kernel/lexicon/gram_stat.h"

#include <gtest/gtest.h>

#include "kernel/lexicon/sys_dict.h"
#include "kernel/storage/table_format.h"
#include "tests/kernel/lexicon/sys_dict_support.h"

using namespace lexdata;
using n_tableFormat::Wr32;

namespace {

Bytes GramImage(const t_sysDictSource& src) {
    Bytes out;
    std::string error;
    EXPECT_TRUE(BuildGramImage(src.unigrams, src.pairs, 0, out, &error)) << error;
    return out;
}

class GramStatTest : public ::testing::Test {
protected:
    void SetUp() override {
        image = GramImage(MakeCoreSource());
        ASSERT_TRUE(gram.Attach(image.data(), image.data() + image.size()));
    }
    Bytes image;
    t_gramInfo gram;
};

TEST_F(GramStatTest, UnigramFrequencies) {
    EXPECT_EQ(GramGetUnigramFreq(&gram, 1), 601);
    EXPECT_EQ(GramGetUnigramFreq(&gram, 8), 608);
    EXPECT_EQ(GramGetUnigramFreq(&gram, 0), 1400);
    EXPECT_EQ(GramGetUnigramFreq(&gram, 9), 1400);
    EXPECT_EQ(GramGetUnigramFreq(nullptr, 1), 1400);
}

TEST_F(GramStatTest, StoredPairsScoreByClassUnderTheCap) {
    uint8_t found = 0, backed = 1, flag1 = 1;
    // Class 0 is -512; the cap (300) bounds it only from above.
    EXPECT_EQ(GramGetBigramScore(&gram, 1, 2, &found, false, false, &backed, &flag1), -512);
    EXPECT_EQ(found, 1);
    EXPECT_EQ(backed, 0);
    // Preference flag: 200 off without keepFlag; kept as found only with it.
    EXPECT_EQ(GramGetBigramScore(&gram, 5, 6, &found, false, false, &backed, &flag1), -242 - 200);
    EXPECT_EQ(GramGetBigramScore(&gram, 5, 6, &found, true, false, &backed, &flag1), -242);
    EXPECT_EQ(found, 1);
    EXPECT_EQ(GramGetBigramScore(&gram, 1, 2, &found, true, false, &backed, &flag1), -512);
    EXPECT_EQ(found, 0);  // no preference flag
    // Not stored, no back-off: no usable score.
    EXPECT_EQ(GramGetBigramScore(&gram, 2, 1, &found, false, false, &backed, &flag1), 10000);
    EXPECT_EQ(GramGetBigramScore(&gram, 0, 1, &found, false, true, &backed, &flag1), 10000);
    EXPECT_EQ(GramGetBigramScore(&gram, 1, 100, &found, false, true, &backed, &flag1), 10000);
}

TEST_F(GramStatTest, BackOffThroughClassIds) {
    uint8_t found = 0, backed = 0, flag1 = 0;
    // (3, 2) is not stored; 3 backs off on the left to 2, and (2, 2) has class 12 (-8).
    EXPECT_EQ(GramGetBigramScore(&gram, 3, 2, &found, false, true, &backed, &flag1),
              (-8 + 350) / 2);
    EXPECT_EQ(backed, 1);
    EXPECT_EQ(found, 0);
    // (1, 8): 8 backs off on the right to 2, and (1, 2) is class 0; the cap of 1 stays above.
    EXPECT_EQ(GramGetBigramScore(&gram, 1, 8, &found, false, true, &backed, &flag1),
              (-512 + 350) / 2);
    // Neither class pair stored: (350 + 350) / 2 = 350 is no back-off.
    EXPECT_EQ(GramGetBigramScore(&gram, 4, 7, &found, false, true, &backed, &flag1), 10000);
    EXPECT_EQ(backed, 0);
}

TEST_F(GramStatTest, WordPairScores) {
    t_gramArc left, right;
    uint8_t flag0 = 9, found = 9;
    uint32_t bits = 0;
    int32_t hint = -1;
    // Two one-syllable words not stored: min(cap, 350) + 175, plus the frequency.
    left.gramId = 4;
    left.syllableCount = 1;
    right.gramId = 7;
    right.syllableCount = 1;
    EXPECT_EQ(GramGetWordPairScore(&gram, &left, &right, &flag0, &found, &bits, &hint, 0),
              350 + 175 + 607);
    EXPECT_EQ(right.freqUsed, 607);
    EXPECT_EQ(bits, 0u);
    // A stored pair of two-syllable words, capped.
    left.gramId = 1;
    left.syllableCount = 2;
    right.gramId = 2;
    right.syllableCount = 2;
    hint = -1;
    EXPECT_EQ(GramGetWordPairScore(&gram, &left, &right, &flag0, &found, &bits, &hint, 0),
              -512 + 602);
    EXPECT_EQ(found, 1);
    EXPECT_EQ(hint, 1);
    // No gram id: neutral pair and the arc's own frequency.
    right.gramId = 0;
    right.ownFreq = 1234;
    EXPECT_EQ(GramGetWordPairScore(&gram, &left, &right, &flag0, &found, &bits, &hint, 0),
              350 + 1234);
    EXPECT_EQ(bits, 32u);
    // Four syllables, not stored: back-off counts (bit 8).
    left.gramId = 3;
    left.syllableCount = 3;
    right.gramId = 2;
    right.syllableCount = 1;
    hint = -1;
    EXPECT_EQ(GramGetWordPairScore(&gram, &left, &right, &flag0, &found, &bits, &hint, 0),
              (-8 + 350) / 2 + 602);
    EXPECT_EQ(bits, 8u);
}

TEST_F(GramStatTest, SerialCacheAnswersTheNextPassInOrder) {
    t_bigramQuerySerialCache* cache = gram.GetCache();
    ASSERT_NE(cache, nullptr);
    cache->enabled = 1;
    cache->Swap();  // start a pass with an empty read array
    cache->Swap();
    int32_t hint = -1;
    uint8_t f0 = 0;
    EXPECT_EQ(gram.CachedQuery(1, 2, &f0, nullptr, &hint, 0), -512);
    EXPECT_EQ(gram.CachedQuery(5, 6, &f0, nullptr, &hint, 0), -242);
    cache->Swap();
    // A changed image would be noticed only by a search: the cache answers first.
    EXPECT_EQ(gram.CachedQuery(1, 2, &f0, nullptr, &hint, 0), -512);
    uint8_t pref = 0;
    EXPECT_EQ(gram.CachedQuery(5, 6, &pref, nullptr, &hint, 0), -242);
    EXPECT_EQ(pref, 1);
    cache->enabled = 0;
}

// A search made again is answered from what the first one found: every
// output must be the one a search gives, including what it leaves alone.
TEST_F(GramStatTest, ARepeatedSearchGivesTheSameOutputs) {
    t_sysDictSource src = MakeCoreSource();
    src.pairs.push_back({3, 4, 7, 3});
    image = GramImage(src);
    ASSERT_TRUE(gram.Attach(image.data(), image.data() + image.size()));
    const struct {
        uint32_t id1, id2;
    } pairs[] = {{3, 4}, {5, 6}, {1, 2}, {1, 7}, {8, 1}, {0x1FFFF, 2}};
    for (const auto& p : pairs) {
        SCOPED_TRACE(testing::Message() << p.id1 << "," << p.id2);
        int32_t score[2], hint[2];
        uint8_t f0[2], f1[2];
        for (int i = 0; i < 2; ++i) {
            hint[i] = -1;
            f0[i] = f1[i] = 9;  // left alone unless the pair is found
            score[i] = gram.Search(p.id1, p.id2, &f0[i], &f1[i], &hint[i], 0);
        }
        EXPECT_EQ(score[0], score[1]);
        EXPECT_EQ(hint[0], hint[1]);
        EXPECT_EQ(f0[0], f0[1]);
        EXPECT_EQ(f1[0], f1[1]);
    }
    int32_t hint = -1;
    uint8_t f0 = 0, f1 = 0;
    EXPECT_EQ(n_gram::kClassScores[7], gram.Search(3, 4, &f0, &f1, &hint, 0));
    EXPECT_EQ(1, f0);
    EXPECT_EQ(1, f1);
    // A bounded search starting past the pair does not find it, then or later.
    int32_t past = hint;
    EXPECT_EQ(n_gram::kNeutral, gram.Search(3, 4, &f0, &f1, &past, 0));
    hint = -1;
    EXPECT_EQ(n_gram::kClassScores[7], gram.Search(3, 4, &f0, &f1, &hint, 0));
}

// A hit used to leave the pair's second flag unanswered (0), so a caller
// that reads it saw a different pair on its second pass than on its first.
TEST_F(GramStatTest, ASerialHitAnswersLikeTheSearch) {
    t_sysDictSource src = MakeCoreSource();
    src.pairs.push_back({3, 4, 7, 3});  // both flags
    image = GramImage(src);
    ASSERT_TRUE(gram.Attach(image.data(), image.data() + image.size()));
    uint8_t found[2] = {}, second[2] = {};
    int32_t score[2] = {};
    for (int pass = 0; pass < 2; ++pass) {
        const t_serialBigramPass serial(true);
        score[pass] =
            GramGetBigramScore(&gram, 3, 4, &found[pass], true, false, nullptr, &second[pass]);
    }
    EXPECT_EQ(score[0], score[1]);
    EXPECT_EQ(found[0], found[1]);
    EXPECT_EQ(1, second[0]);
    EXPECT_EQ(second[0], second[1]);
}

// Answers are read back only from the pass just before and only from the
// statistics they came from.
TEST_F(GramStatTest, SerialAnswersNeverOutliveTheirPassOrTheirStatistics) {
    t_bigramQuerySerialCache* cache = gram.GetCache();
    ASSERT_NE(cache, nullptr);
    {
        const t_serialBigramPass older(true);
        gram.CachedQuery(1, 2, nullptr, nullptr, nullptr, 0);
        gram.CachedQuery(5, 6, nullptr, nullptr, nullptr, 0);
    }
    {
        const t_serialBigramPass previous(true);
        gram.CachedQuery(1, 2, nullptr, nullptr, nullptr, 0);
    }
    int32_t score = 0;
    uint8_t f0 = 0, f1 = 0;
    ASSERT_TRUE(cache->Read(1, 2, &score, &f0, &f1));
    EXPECT_FALSE(cache->Read(5, 6, &score, &f0, &f1));  // the older pass's answer
    cache->Swap();

    // New statistics in which (1, 2) has another class: no old answer comes back.
    {
        const t_serialBigramPass pass(true);
        EXPECT_EQ(-512, gram.CachedQuery(1, 2, nullptr, nullptr, nullptr, 0));
    }
    t_sysDictSource src = MakeCoreSource();
    src.pairs[0] = {1, 2, 9, 0};
    Bytes other = GramImage(src);
    ASSERT_TRUE(gram.Attach(other.data(), other.data() + other.size()));
    const t_serialBigramPass pass(true);
    EXPECT_EQ(n_gram::kClassScores[9], gram.CachedQuery(1, 2, nullptr, nullptr, nullptr, 0));
}

// Index entries used to be trusted: one past the record count made a search
// read beyond the section.
TEST(GramAttachTest, IndexEntriesBeyondTheRecordsAreRefused) {
    Bytes image = GramImage(MakeCoreSource());
    t_gramInfo gram;
    ASSERT_TRUE(gram.Attach(image.data(), image.data() + image.size()));
    // Section 0 follows the unigram records; its first index entry follows its header.
    const size_t section = 12 + 9 * 10;
    const uint32_t records = n_tableFormat::Rd32(image.data() + section + 12);
    const uint32_t indexCount = n_tableFormat::Rd32(image.data() + section + 8);
    ASSERT_GT(indexCount, 0u);
    Bytes bad = image;
    Wr32(bad.data() + section + 16 + 4 * (indexCount - 1), records + 1);
    EXPECT_FALSE(gram.Attach(bad.data(), bad.data() + bad.size()));
    bad = image;
    Wr32(bad.data() + section + 16, records);  // first run ends after a later one
    if (indexCount > 1) {
        EXPECT_FALSE(gram.Attach(bad.data(), bad.data() + bad.size()));
    }
    EXPECT_FALSE(gram.Attach(image.data(), image.data() + 63));
    EXPECT_FALSE(gram.Attach(nullptr, image.data()));
    bad = image;
    Wr32(bad.data(), 0);
    EXPECT_FALSE(gram.Attach(bad.data(), bad.data() + bad.size()));
    bad = image;
    Wr32(bad.data() + 8, 0x7FFFFFFF);  // unigram count past the end
    EXPECT_FALSE(gram.Attach(bad.data(), bad.data() + bad.size()));
    EXPECT_EQ(GramGetUnigramFreq(&gram, 1), 1400);
}

TEST(GramAttachTest, DamagedImagesNeverReadOutside) {
    const Bytes good = GramImage(MakeCoreSource());
    size_t attached = 0, tried = 0;
    for (size_t pos = 0; pos < good.size(); ++pos) {
        for (uint8_t x : {uint8_t(0xFF), uint8_t(0x01), uint8_t(0x80)}) {
            Bytes bad = good;
            bad[pos] ^= x;
            ++tried;
            t_gramInfo gram;
            if (!gram.Attach(bad.data(), bad.data() + bad.size())) continue;
            ++attached;
            // A damaged table still answers within the values it can hold
            // (14-bit unigram frequencies, scores capped by a 16-bit value),
            // and the same question gets the same answer.
            for (uint32_t a = 0; a < 12; ++a)
                for (uint32_t b : {0u, 1u, 2u, 6u, 8u, 0x10001u, 0x1FFFFu}) {
                    uint8_t f, bo, f1;
                    const int32_t score =
                        GramGetBigramScore(&gram, a, b, &f, false, true, &bo, &f1);
                    EXPECT_LE(score, 65535) << pos;
                    EXPECT_EQ(GramGetBigramScore(&gram, a, b, &f, false, true, &bo, &f1), score)
                        << pos;
                    const int32_t freq = GramGetUnigramFreq(&gram, a);
                    EXPECT_GE(freq, 0) << pos;
                    EXPECT_LT(freq, 1 << 14) << pos;
                }
        }
    }
    EXPECT_GT(attached, 0u);
    EXPECT_LT(attached, tried);
}

}  // namespace
