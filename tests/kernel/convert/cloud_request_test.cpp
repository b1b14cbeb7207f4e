// The cloud request: arc weights, the record's layout and check byte, the
// refusals, the request delay and the typing-speed statistics.
#include "kernel/convert/cloud_request.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>

#include "kernel/convert/cand_array.h"
#include "kernel/runtime/cand_word.h"
#include "tests/kernel/convert/convert_support.h"
#include "tests/support/test_dir.h"

using namespace convtest;

namespace {

TEST(CloudRequestTest, ArcWeightKeepsTheTopThreeBitsOfAClampedProbability) {
    const struct {
        double p;
        uint8_t weight;
    } cases[] = {{0.2, 1},
                 {0.5, 64},
                 {1.0, 128},
                 {1.5, 128},
                 {std::numeric_limits<double>::infinity(), 128},
                 {-0.3, 1},
                 {std::nan(""), 1},
                 {0.99, 96}};
    for (const auto& c : cases) EXPECT_EQ(c.weight, CloudArcWeight(c.p)) << c.p;
}

TEST(CloudRequestTest, TrustedPairTableIsReadOnlyWhenWholeAndOfZerosAndOnes) {
    testsupport::t_testDir dir;
    const std::string good(kTrustedPairBytes, '\1');
    std::string damaged = good;
    damaged[1000] = 2;
    const struct {
        const char* name;
        std::string bytes;
        bool loaded;
    } cases[] = {{"good", good, true},
                 {"short", good.substr(1), false},
                 {"long", good + '\0', false},
                 {"damaged", damaged, false},
                 {"empty", "", false}};
    std::vector<uint8_t> table(3, 1);
    for (const auto& c : cases) {
        ASSERT_TRUE(dir.Put(c.name, c.bytes));
        EXPECT_EQ(c.loaded, LoadTrustedPairs(dir.WAt(c.name).c_str(), &table)) << c.name;
        EXPECT_EQ(c.loaded ? kTrustedPairBytes : 0u, table.size()) << c.name;
    }
    EXPECT_FALSE(LoadTrustedPairs(dir.WAt("missing").c_str(), &table));
    EXPECT_FALSE(LoadTrustedPairs(nullptr, &table));
}

TEST(CloudRequestTest, DelayFollowsTypingSpeedAndHowTheInputEnds) {
    EXPECT_EQ(275, CloudRequestDelay(250, 128, false, 150, 500));
    EXPECT_EQ(625, CloudRequestDelay(250, 128, true, 150, 500));
    EXPECT_EQ(0, CloudRequestDelay(250, 128, false, -900, 500));
}

TEST(CloudRequestTest, SpeedStatisticsGiveNoValueBeforeElevenIntervals) {
    t_keyPressSpeedStat stat;
    EXPECT_EQ(250u, stat.GetAverage());
    uint32_t saved = 7;
    uint64_t now = 1000;
    stat.KeyPress(now);
    for (int i = 0; i < 10; ++i) stat.KeyPress(now += 200);
    EXPECT_FALSE(stat.ValueToSave(&saved));
    EXPECT_EQ(7u, saved);
    stat.KeyPress(now += 5000);  // a pause is not an interval
    EXPECT_FALSE(stat.ValueToSave(&saved));
    stat.KeyPress(now += 200);
    stat.Update(now);
    EXPECT_EQ(200u, stat.GetAverage());
    ASSERT_TRUE(stat.ValueToSave(&saved));
    EXPECT_EQ(200000u, saved);
    stat.Reset(120000);
    EXPECT_EQ(120u, stat.GetAverage());
}

class CloudRecordTest : public LexiconTest {
protected:
    bool Build(const std::wstring& in) {
        input = in;
        return syllables.Build(&arena, dicts.keyMap, dicts.py, input.c_str(), int(input.size()),
                               false, false);
    }
    // A whole-input candidate of two syllables.
    t_candWord* Word(const std::u16string& text, uint16_t source) {
        auto* w = static_cast<t_candWord*>(arena.AllocAligned(sizeof(t_candWord), 8));
        t_candWord::Clear(w);
        w->text = arena.MakeLstr(text.data(), 2 * text.size());
        const uint16_t ids[2] = {1, 2};
        w->syllableIds = arena.MakeLstr(ids, sizeof ids);
        w->coveredLength = uint32_t(input.size());
        w->score = 1.0;
        w->sourceType = source;
        return w;
    }
    t_scopeHeap arena;
    t_pyLattice syllables;
    std::wstring input;
};

TEST_P(CloudRecordTest, RecordCarriesTheLatticeTheScrambledTextsAndAZeroXor) {
    ASSERT_TRUE(Build(L"nihao"));
    t_candWord* page[5] = {};
    t_arrayWord array(page, 0, 5, 0, nullptr, &arena);
    int filtered = 0;
    array.Add(Word(u"你好", kCandSourceSystem), &filtered);
    uint8_t buffer[kCloudRecordLimit] = {};
    t_cloudRequestParams params;
    params.buffer = buffer;
    params.speedFactor = 128;
    params.plainOffset = 150;
    params.partialOffset = 500;
    params.stringA = "ab";
    params.value = 7;
    t_cloudAsked asked;
    t_cloudSources sources;
    sources.py = dicts.py;
    BuildCloudRequestData(&syllables, nullptr, input.c_str(), &array, &arena, sources, &params,
                          &asked);
    ASSERT_EQ(1, asked.asked);
    EXPECT_EQ(275, asked.delay);
    const int length = buffer[0] | buffer[1] << 8;
    ASSERT_GT(length, 20);
    ASSERT_LE(length, kCloudRecordLimit);
    uint8_t x = 0;
    for (int i = 0; i < length; ++i) x ^= buffer[i];
    EXPECT_EQ(0, x);
    EXPECT_EQ(9, buffer[2]);
    EXPECT_EQ(5, buffer[5]);
    EXPECT_EQ("nihao", std::string(reinterpret_cast<char*>(buffer + 6), 5));
    const int afterArcs = 5 + (buffer[3] | buffer[4] << 8);
    ASSERT_LT(afterArcs + 7, length);
    EXPECT_EQ(1, buffer[afterArcs]);  // one text
    const int bytes = buffer[afterArcs + 1] | buffer[afterArcs + 2] << 8;
    ASSERT_EQ(4, bytes);
    const uint16_t mask = uint16_t(0x0100 | bytes);
    EXPECT_EQ(uint16_t(u'你' ^ mask), buffer[afterArcs + 3] | buffer[afterArcs + 4] << 8);
    EXPECT_EQ(0u, uint32_t(buffer[afterArcs + 7]));  // no user words
    // Tagged values: string A, then V.
    const uint8_t* tags = buffer + afterArcs + 7 + 4;
    EXPECT_EQ(2, tags[2]);
    EXPECT_EQ(std::string("\x75\x61"
                          "ab",
                          4),
              std::string(reinterpret_cast<const char*>(tags + 4), 4));
}

TEST_P(CloudRecordTest, NoRecordWithoutBufferOrKeptArc) {
    ASSERT_TRUE(Build(L"nihao"));
    t_candWord* page[5] = {};
    t_arrayWord array(page, 0, 5, 0, nullptr, &arena);
    t_cloudRequestParams params;  // no buffer: cloud requests are off
    t_cloudAsked asked;
    asked.asked = 1;
    BuildCloudRequestData(&syllables, nullptr, input.c_str(), &array, &arena, t_cloudSources(),
                          &params, &asked);
    EXPECT_EQ(0, asked.asked);
    t_pyLattice empty;
    ASSERT_TRUE(empty.Initialise(&arena, 3));
    t_latticePacker packer(&empty, nullptr, L"abc", &array, &arena, t_cloudSources());
    EXPECT_EQ(0, packer.ComputeSize(kCloudRecordLimit));
    uint8_t buffer[kCloudRecordLimit];
    params.buffer = buffer;
    BuildCloudRequestData(&empty, nullptr, L"abc", &array, &arena, t_cloudSources(), &params,
                          &asked);
    EXPECT_EQ(0, asked.asked);
}

TEST_P(CloudRecordTest, TriggerAsksForUntrustedPairsAndNotAfterUserWords) {
    ASSERT_TRUE(Build(L"nihao"));
    static uint8_t trusted[kTrustedPairSide * kTrustedPairSide] = {};
    const struct {
        uint16_t source;
        std::u16string text;
        uint8_t pairTrusted;
        int expected;
    } cases[] = {{kCandSourceSystem, u"你好", 0, 1},
                 {kCandSourceSystem, u"你好", 1, 0},
                 {kCandSourceUser, u"你好", 0, 0},
                 {kCandSourceSystem, u"你好吗", 0, 0}};
    for (const auto& c : cases) {
        trusted[1 * kTrustedPairSide + 2] = c.pairTrusted;
        t_candWord* page[5] = {};
        t_arrayWord array(page, 0, 5, 0, nullptr, &arena);
        int filtered = 0;
        array.Add(Word(c.text, c.source), &filtered);
        t_cloudTrigger trigger(&syllables, &array, int(input.size()), trusted);
        EXPECT_EQ(c.expected, trigger.ShouldRequest(&arena))
            << c.source << " " << int(c.pairTrusted);
    }
}

VETRA_LEXICON_SUITES(CloudRecordTest);

}  // namespace
