// Post-processing: the merged mask, the smart-fuzzy file and decision, the
// clearly-better order and the weak-top gate.
#include "kernel/convert/post_process.h"

#include <gtest/gtest.h>

#include <deque>
#include <string>
#include <vector>

#include "kernel/convert/cand_array.h"
#include "kernel/runtime/cand_word.h"
#include "kernel/runtime/scope_heap.h"
#include "tests/support/test_dir.h"

namespace {

class PostProcessTest : public ::testing::Test {
protected:
    t_candWord* Rec(const wchar_t* text, uint16_t type, int16_t rank, double score = 1.0,
                    uint16_t kind = 0) {
        records.emplace_back();
        t_candWord* w = &records.back();
        t_candWord::Clear(w);
        w->text = heap.WideToLstr(text);
        w->sourceType = type;
        w->rank = rank;
        w->score = score;
        w->kind = kind;
        return w;
    }
    t_scopeHeap heap;
    std::deque<t_candWord> records;
};

// Bits only below 16, the mark cleared on every record.
TEST_F(PostProcessTest, MergedMask) {
    std::vector<t_candWord*> list;
    for (int i = 0; i < 40; ++i) list.push_back(Rec(L"字", 0, 100));
    for (int i : {1, 4, 15, 16, 31, 32, 39}) t_candWord::MarkMerged(list[size_t(i)]);
    uint16_t mask = 0xFFFF;
    CollectMergedMask(list.data(), 5, &mask);
    EXPECT_EQ(mask, 0x12);
    CollectMergedMask(list.data(), 40, &mask);
    EXPECT_EQ(mask, 0x8000);
    for (const t_candWord* w : list) EXPECT_FALSE(w->sourceType & kCandSourceMerged);
}

TEST_F(PostProcessTest, SmartFuzzyFile) {
    testsupport::t_testDir dir;
    const struct {
        const char* content;
        int loaded;
        int32_t users, systems, rank;
        float factor;
    } cases[] = {
        {"20090410\n3\n1,2,300,1.5\n", 1, 1, 2, 300, 1.5f},
        {"20090410\r\n7\r\n0,0,0,0\r\n", 1, 0, 0, 0, 0.0f},
        {"20090411\n3\n1,2,300,1.5\n", 0, 0, 0, 100, 1.0f},   // another first number
        {"20090410\n0\n1,2,300,1.5\n", 0, 0, 0, 100, 1.0f},   // a count that is not positive
        {"20090410\n3\n1,-2,300,1.5\n", 0, 0, 0, 100, 1.0f},  // a negative value
        {"20090410\n3\n1,2,300,-1\n", 0, 0, 0, 100, 1.0f},
        {"20090410\n3\n1,2,300\n", 0, 0, 0, 100, 1.0f},  // three values
        {"20090410\n3\n", 0, 0, 0, 100, 1.0f},           // a missing line
    };
    for (const auto& c : cases) {
        ASSERT_TRUE(dir.Put("SmartFParams.txt", c.content));
        t_smartFuzzyParams p;
        EXPECT_EQ(p.Load(dir.WAt("SmartFParams.txt").c_str()), c.loaded) << c.content;
        EXPECT_EQ(p.maxUserWords, c.users);
        EXPECT_EQ(p.maxSystemWords, c.systems);
        EXPECT_EQ(p.minSystemRank, c.rank);
        EXPECT_FLOAT_EQ(p.scoreFactor, c.factor);
    }
    t_smartFuzzyParams missing;
    EXPECT_EQ(missing.Load(dir.WAt("none.txt").c_str()), 0);
    EXPECT_EQ(missing.minSystemRank, 100);
}

// With the defaults a leading user word stops the pass; a first system
// record must reach rank 100.
TEST_F(PostProcessTest, SmartFuzzyDecision) {
    t_smartFuzzyParams defaults;
    const struct {
        std::vector<t_candWord*> lead;
        int run;
    } cases[] = {
        {{}, 1},
        {{Rec(L"我", kCandSourceUser, 50)}, 0},
        {{Rec(L"我", kCandSourceSystem, 150)}, 0},       // one system word: more than the 0 allowed
        {{Rec(L"我", kCandSourceSystem, 150, 0.5)}, 1},  // below 1.0 it does not count
        {{Rec(L"一二三四五六", kCandSourceSystem, 150, 0.5)}, 0},  // 12 bytes
    };
    for (const auto& c : cases) {
        SmartFuzzyCounters counters;
        SmartFuzzyCounters::Init(&counters);
        EXPECT_EQ(ShouldRunSmartFuzzy(&counters, c.lead.data(), int(c.lead.size()), &defaults),
                  c.run)
            << c.lead.size();
    }
    t_smartFuzzyParams loose = defaults;
    loose.maxSystemWords = 1;
    SmartFuzzyCounters counters;
    SmartFuzzyCounters::Init(&counters);
    t_candWord* lead[] = {Rec(L"我", kCandSourceSystem, 150)};
    EXPECT_EQ(ShouldRunSmartFuzzy(&counters, lead, 1, &loose), 1);
    EXPECT_EQ(counters.firstSystemRank, 150);

    // Factor 1.0: a system pick is kept only below the first system rank.
    t_candWord* fuzzy[] = {Rec(L"窝", kCandSourceSystem, 149), Rec(L"喔", kCandSourceSystem, 150)};
    fuzzy[0]->arcFlags = kCandArcStrong;
    EXPECT_EQ(PickSmartFuzzyCandidate(&counters, fuzzy, 2), fuzzy[0]);
    fuzzy[0]->rank = 150;
    EXPECT_EQ(PickSmartFuzzyCandidate(&counters, fuzzy, 2), nullptr);
    fuzzy[0]->sourceType = kCandSourceUser;
    EXPECT_EQ(PickSmartFuzzyCandidate(&counters, fuzzy, 2), fuzzy[0]);

    // A fuzzy reading is sure when its score reaches the weight its
    // spelling was given; an unsure record before the pick ends the search.
    const struct {
        double score;
        double weight;  // 0: no weights given
        bool picked;
    } weighed[] = {
        {0.5, 0.5, true}, {0.25, 0.5, false}, {0.25, 0.25, true}, {0.5, 0, false}, {1.0, 0, true},
    };
    for (const auto& c : weighed) {
        SmartFuzzyCounters fresh;
        SmartFuzzyCounters::Init(&fresh);
        t_candWord* plain = Rec(L"喔", kCandSourceSystem, 150);
        t_candWord* read[] = {plain, Rec(L"窝", kCandSourceSystem, 149, c.score)};
        read[1]->arcFlags = kCandArcStrong;
        const double weights[] = {1.0, c.weight};
        EXPECT_EQ(PickSmartFuzzyCandidate(&fresh, read, 2, c.weight > 0 ? weights : nullptr),
                  c.picked ? read[1] : nullptr)
            << c.score << " " << c.weight;
    }
}

TEST_F(PostProcessTest, ClearlyBetter) {
    const struct {
        uint16_t kindA;
        int16_t rankA;
        int32_t orderA;
        uint16_t kindB;
        int16_t rankB;
        int32_t orderB;
        bool better;
    } cases[] = {
        {1, 0, 20, 1, 0, 10, true},   {1, 0, 19, 1, 0, 10, false},   {1, 0, 0, 0, 1025, 0, true},
        {1, 0, 0, 0, 1024, 0, false}, {0, 880, 0, 0, 1025, 0, true}, {0, 881, 0, 0, 1025, 0, false},
        {0, 0, 0, 0, 1023, 0, false}, {0, 0, 0, 1, 2000, 0, false},  {0, 0, 0, 3, 0, 0, true},
        {2, 0, 0, 0, 2000, 0, false},
    };
    for (const auto& c : cases) {
        t_candWord* a = Rec(L"甲", 0, c.rankA, 1.0, c.kindA);
        t_candWord* b = Rec(L"乙", 0, c.rankB, 1.0, c.kindB);
        a->orderNumber = c.orderA;
        b->orderNumber = c.orderB;
        EXPECT_EQ(IsClearlyBetter(a, b), c.better)
            << c.kindA << " " << c.rankA << " " << c.kindB << " " << c.rankB;
    }
}

// A predicted word that reads on beyond the input stands at place 2 or
// later unless the top word covers less of the input and the prediction is
// clearly better than it; the strict pass needs a clear first result.
TEST_F(PostProcessTest, PredictedWordFloor) {
    const struct {
        int16_t topRank, predictedRank, secondRank;
        uint32_t topCovers;  // of the 6 keys the prediction covers
        bool strict;
        int added;
        int16_t floor;
    } cases[] = {
        {1100, 960, 0, 4, false, 1, 2},   // 960 + 144 is not below 1100: floor 2
        {1100, 800, 0, 4, false, 1, 0},   // 800 + 144 < 1100
        {1100, 800, 0, 6, false, 1, 2},   // the top reads the whole input
        {1100, 800, 900, 4, true, 0, 0},  // strict, the first not clearly before the second
        {1100, 800, 1100, 4, true, 1, 0},
    };
    for (const auto& c : cases) {
        t_candWord* out[4];
        t_arrayWord main(out, 0, 4, 0, nullptr, &heap);
        int filtered = 0;
        t_candWord* top = Rec(L"西安", kCandSourceSystem, c.topRank, 0.5);
        top->coveredLength = c.topCovers;
        main.Add(top, &filtered);
        std::vector<t_candWord*> results = {Rec(L"先", kCandSourceSystem, c.predictedRank, 0.5)};
        results[0]->coveredLength = 6;
        if (c.secondRank) results.push_back(Rec(L"现", kCandSourceSystem, c.secondRank, 0.5));
        EXPECT_EQ(PlacePredictedWord(&main, results.data(), int(results.size()), c.strict),
                  c.added);
        if (!c.added) continue;
        EXPECT_EQ(results[0]->positionFloor, c.floor);
        EXPECT_EQ(results[0]->associationMark, 1);
        EXPECT_NE(main.FindWord(results[0]->text), nullptr);
    }
}

// The gate: a leading whole-input system word of rank above 1023 is weak;
// a user word never is; a record short of the input leaves it open.
TEST_F(PostProcessTest, WeakTopGate) {
    const struct {
        uint16_t type;
        int16_t rank;
        uint32_t covered;
        bool accept;
    } cases[] = {
        {kCandSourceSystem, 1024, 4, true},
        {kCandSourceSystem, 1023, 4, false},
        {kCandSourceUser, 2000, 4, false},
        {kCandSourceSystem, 100, 3, true},  // covers less
    };
    for (const auto& c : cases) {
        t_candWord* out[4];
        t_arrayWord array(out, 0, 4, 0, nullptr, &heap);
        int filtered = 0;
        t_candWord* top = Rec(L"西安", c.type, c.rank, 0.5);
        top->coveredLength = c.covered;
        array.Add(top, &filtered);
        WeakTopGate g;
        WeakTopGate::Init(&g, &heap, 4);
        WeakTopGate::SetOptions(&g, true, 2, 2, 4);
        WeakTopGate::SetLevel(&g, 3, false);
        EXPECT_EQ(WeakTopGate::Accept(&g, 0, 0, &array), c.accept) << c.rank;
        WeakTopGate::SetOptions(&g, true, 2, 2, 3);
        EXPECT_FALSE(WeakTopGate::Accept(&g, 0, 0, &array));
    }
}

}  // namespace
