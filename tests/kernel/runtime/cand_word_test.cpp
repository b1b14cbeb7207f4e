// The candidate record: the merge rule, the predicates, Init and the
// saturated order sums.
#include <gtest/gtest.h>

#include <cstdint>

#include "kernel/runtime/cand_word.h"
#include "kernel/runtime/scope_heap.h"

namespace {

t_candWord Blank(uint16_t type, int32_t frequency = 0) {
    t_candWord w;
    t_candWord::Clear(&w);
    w.sourceType = type;
    w.frequency = frequency;
    return w;
}

struct t_typeMergeCase {
    const char* name;
    uint16_t kept, other;
    int32_t keptFreq, otherFreq;
    uint16_t wantType;
    int32_t wantCloudMark;
};

TEST(CandWordMergeTest, SourceTypeMovesOnlyWhereTheTableSays) {
    const t_typeMergeCase cases[] = {
        {"system takes user", 0, 1, 5, 7, 1, 0},
        {"user keeps user", 1, 0, 5, 7, 1, 0},
        {"composed takes cloud", 4, 29, 0, 0, 29, 2},
        {"cloud keeps cloud", 29, 4, 0, 0, 29, 0},
        {"composed takes system with a frequency", 4, 0, 0, 1, 0, 0},
        {"composed keeps itself for a system word of frequency 0", 4, 0, 0, 0, 4, 0},
        {"a cell word keeps its type", 3, 1, 0, 0, 3, 0},
    };
    for (const t_typeMergeCase& c : cases) {
        t_candWord kept = Blank(c.kept, c.keptFreq), other = Blank(c.other, c.otherFreq);
        t_candWord::MergeFrom(&kept, &other);
        EXPECT_EQ(kept.sourceType, c.wantType) << c.name;
        EXPECT_EQ(kept.cloudMark, c.wantCloudMark) << c.name;
    }
}

TEST(CandWordMergeTest, CommonFieldsFillGapsAndKeepTheLowerFloor) {
    t_scopeHeap heap;
    const t_lstr* ids = heap.WideToLstr(L"ab");
    const t_lstr* segments = heap.WideToLstr(L"cd");
    int data = 0;
    t_candWord kept = Blank(0), other = Blank(0, 900);
    kept.positionFloor = 3;
    kept.coveredLength = other.coveredLength = 4;
    other.positionFloor = -1;
    other.syllableIds = ids;
    other.segmentList = segments;
    other.furtherText = ids;
    other.attachedData = &data;
    other.countable = 1;
    t_candWord::MergeFrom(&kept, &other);
    EXPECT_EQ(kept.frequency, 900);
    EXPECT_EQ(kept.syllableIds, ids);
    EXPECT_EQ(kept.segmentList, segments);
    EXPECT_EQ(kept.furtherText, ids);
    EXPECT_EQ(kept.attachedData, &data);
    EXPECT_EQ(kept.positionFloor, -1);
    EXPECT_EQ(kept.countable, 1);

    // A reading of another length leaves the segment list alone.
    t_candWord shorter = Blank(0);
    shorter.coveredLength = 2;
    t_candWord::MergeFrom(&shorter, &other);
    EXPECT_EQ(shorter.syllableIds, ids);
    EXPECT_EQ(shorter.segmentList, nullptr);
}

TEST(CandWordMergeTest, NameMarksCompareSigned) {
    struct {
        int8_t kept, other, want;
    } cases[] = {{int8_t(128), 2, 2}, {2, int8_t(128), 2}, {2, 64, 64}, {64, 2, 64}};
    for (const auto& c : cases) {
        t_candWord kept = Blank(0), other = Blank(0);
        kept.nameMark = c.kept;
        other.nameMark = c.other;
        other.markCompanion = 9;
        t_candWord::MergeFrom(&kept, &other);
        EXPECT_EQ(kept.nameMark, c.want) << int(c.kept) << " <- " << int(c.other);
        EXPECT_EQ(kept.markCompanion, c.want == c.other && c.kept != c.other ? 9 : 0);
    }
}

TEST(CandWordMergeTest, StatisticsSlotsComeFromAComposedWordOnlyWithoutFrequency) {
    t_candWord kept = Blank(1), other = Blank(4);
    kept.statCounts[0] = 3;
    other.statCounts[0] = 8;
    other.statCounts[1] = 5;
    other.statValues[1] = 77;
    other.statCounts[2] = -1;
    t_candWord::MergeFrom(&kept, &other);
    EXPECT_EQ(kept.statCounts[0], 3);
    EXPECT_EQ(kept.statCounts[1], 5);
    EXPECT_EQ(kept.statValues[1], 77);
    EXPECT_EQ(kept.statCounts[2], 0);

    t_candWord counted = Blank(1, 10);
    t_candWord::MergeFrom(&counted, &other);
    EXPECT_EQ(counted.statCounts[1], 0);
}

TEST(CandWordTest, InitKeepsTextCoverageScoreAndPlaces) {
    t_scopeHeap heap;
    t_candWord w = Blank(0, 50);
    w.text = heap.WideToLstr(L"中");
    w.syllableIds = w.text;
    w.coveredLength = 5;
    w.score = 0.25;
    w.wantedPlace = 2;
    w.nameMark = 64;
    t_candWord::Init(&w);
    EXPECT_EQ(w.kind, kCandKindSpecial);
    EXPECT_EQ(w.syllableIds, nullptr);
    EXPECT_EQ(w.frequency, 0);
    EXPECT_EQ(w.nameMark, 0);
    EXPECT_NE(w.text, nullptr);
    EXPECT_EQ(w.coveredLength, 5u);
    EXPECT_EQ(w.score, 0.25);
    EXPECT_EQ(w.wantedPlace, 2);
}

TEST(CandWordTest, Predicates) {
    t_scopeHeap heap;
    const t_lstr* one = heap.WideToLstr(L"\xE000");
    const t_lstr* edge = heap.WideToLstr(L"\xE701");
    const t_lstr* two = heap.WideToLstr(L"\xE000\xE000");
    struct {
        const char* name;
        uint16_t type;
        uint8_t multi;
        bool lexical;
    } lexical[] = {
        {"system character", 0, 0, false}, {"system word", 0, 1, true},
        {"user character", 1, 0, true},    {"flagged user", 1 | kCandSourceFlag, 0, true},
        {"stroke", 28, 0, false},          {"flagged calculator", 25 | kCandSourceFlag, 1, false},
        {"roman numeral", 24, 1, false}};
    for (const auto& c : lexical) {
        t_candWord w = Blank(c.type);
        w.multiChar = c.multi;
        EXPECT_EQ(t_candWord::IsLexicalWord(&w), c.lexical) << c.name;
    }

    t_candWord echo = Blank(17);
    echo.score = 1.0;
    echo.rank = kCandRawInputRank;
    echo.syllableIds = one;
    EXPECT_TRUE(t_candWord::IsInputEcho(&echo));
    EXPECT_FALSE(t_candWord::HasReading(&echo));
    echo.rank = 200;
    EXPECT_TRUE(t_candWord::HasReading(&echo));

    t_candWord name = Blank(9);
    name.orderNumber = 42;
    EXPECT_EQ(t_candWord::GetNameOrder(&name), 0);
    name.nameMark = kCandNameMarkPerson;
    EXPECT_EQ(t_candWord::GetNameOrder(&name), 42);

    t_candWord w = Blank(0);
    for (const auto& [text, want] : {std::pair{one, true}, {edge, false}, {two, false}}) {
        w.text = text;
        EXPECT_EQ(t_candWord::IsPrivateUseChar(&w), want);
    }
}

TEST(CandWordTest, OrderSumsSaturateInsteadOfWrapping) {
    struct {
        int64_t a, b;
        int32_t want;
    } cases[] = {{1000, 2500, 3500},
                 {INT32_MAX, 2500, INT32_MAX},
                 {-5000, 2500, INT32_MAX},
                 {INT32_MIN, INT32_MIN, INT32_MAX},
                 {0, 0, 0}};
    for (const auto& c : cases)
        EXPECT_EQ(SaturatedOrderSum(c.a, c.b), c.want) << c.a << " + " << c.b;
}

}  // namespace
