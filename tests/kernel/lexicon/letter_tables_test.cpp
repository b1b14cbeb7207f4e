// Letter trigrams, the word reading table and tone-marked syllables.
#include "kernel/lexicon/letter_tables.h"

#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

#include "kernel/lexicon/syllable_table.h"
#include "tests/kernel/lexicon/lexicon_support.h"

namespace {

std::wstring Spell(const wchar_t* syllable, int tone) {
    wchar_t out[kToneSpellCapacity];
    const int id = SyllableTableFind(syllable);
    EXPECT_GE(id, 0) << "no syllable";
    EXPECT_EQ(PinyinSpellWithTone(id, tone, out), 1);
    return out;
}

}  // namespace

// ---------------------------------------------------------------- tone marks

TEST(ToneReadingTest, MarksTheVowelPinyinRulesChoose) {
    EXPECT_EQ(Spell(L"lve", 4), L"lüè");  // ü before e, e marked
    EXPECT_EQ(Spell(L"jue", 2), L"jué");  // no umlaut after j, q, x, y
    EXPECT_EQ(Spell(L"gui", 4), L"guì");  // the later of u and i
    EXPECT_EQ(Spell(L"liu", 2), L"liú");
    EXPECT_EQ(Spell(L"zhuang", 1), L"zhuāng");
    EXPECT_EQ(Spell(L"lv", 3), L"lǚ");
    EXPECT_EQ(Spell(L"xiong", 2), L"xióng");
    EXPECT_EQ(Spell(L"er", 4), L"èr");
}

TEST(ToneReadingTest, ToneZeroSevenAndOddValuesLeaveTheTextUnmarked) {
    EXPECT_EQ(Spell(L"zhang", 0), L"zhang");
    EXPECT_EQ(Spell(L"zhang", 7), L"zhang");
    EXPECT_EQ(Spell(L"zhang", 5), L"zhang");
    EXPECT_EQ(Spell(L"nv", 0), L"nü");
}

TEST(ToneReadingTest, IdWithoutVowelStaysUnmarkedAndUnknownIdFails) {
    wchar_t out[kToneSpellCapacity];
    ASSERT_EQ(PinyinSpellWithTone(kSyllableCount + 25, 4, out), 1);  // the letter Z
    EXPECT_STREQ(out, L"Z");
    EXPECT_EQ(PinyinSpellWithTone(-1, 1, out), 0);
    EXPECT_STREQ(out, L"");
    EXPECT_EQ(PinyinSpellWithTone(kPinyinIdCount, 1, out), 0);
}

TEST(ToneReadingTest, ParseGivesBackIdAndTone) {
    int16_t id = -1;
    uint8_t tone = 9;
    ASSERT_EQ(PinyinParseWithTone(L"lüè", &id, &tone), 1);
    EXPECT_EQ(id, SyllableTableFind(L"lve"));
    EXPECT_EQ(tone, 4);
    ASSERT_EQ(PinyinParseWithTone(L"guì", &id, &tone), 1);
    EXPECT_EQ(id, SyllableTableFind(L"gui"));
    EXPECT_EQ(tone, 4);
    ASSERT_EQ(PinyinParseWithTone(L"zhang", &id, &tone), 1);
    EXPECT_EQ(tone, 0);
    // every syllable with every tone survives the round trip
    for (int i = 0; i < kSyllableCount; ++i) {
        for (int t = 0; t <= 4; ++t) {
            wchar_t out[kToneSpellCapacity];
            ASSERT_EQ(PinyinSpellWithTone(i, t, out), 1);
            ASSERT_EQ(PinyinParseWithTone(out, &id, &tone), 1) << i << " " << t;
            EXPECT_EQ(id, i);
            EXPECT_EQ(tone, t);
        }
    }
}

TEST(ToneReadingTest, ParseRefusesTwoMarksOtherCharactersAndLongTexts) {
    int16_t id = 0;
    uint8_t tone = 0;
    EXPECT_EQ(PinyinParseWithTone(L"hǎó", &id, &tone), 0);
    EXPECT_EQ(PinyinParseWithTone(L"zhang1", &id, &tone), 0);
    EXPECT_EQ(PinyinParseWithTone(L"zhuangzz", &id, &tone), 0);
    EXPECT_EQ(PinyinParseWithTone(L"", &id, &tone), 0);
    EXPECT_EQ(PinyinParseWithTone(L"xyz", &id, &tone), 0);
}

// ---------------------------------------------------------------- trigrams

TEST(LetterTrigramTest, SequencesInsideAndAcrossSyllablesExist) {
    EXPECT_TRUE(LetterTrigramExists(L'a', L'n', L'g'));
    EXPECT_TRUE(LetterTrigramExists(L'z', L'h', L'a'));
    EXPECT_TRUE(LetterTrigramExists(L'n', L'g', L'g'));  // ...ng + g...
    EXPECT_FALSE(LetterTrigramExists(L'z', L'h', L'n'));
    EXPECT_FALSE(LetterTrigramExists(L'A', L'n', L'g'));
    EXPECT_FALSE(LetterTrigramExists(L'a', L'~', L'g'));
}

TEST(LetterTrigramTest, IteratorsListLettersInAscendingOrder) {
    t_letterTrigramIter it;
    LetterTrigramMiddleIterInit(&it, L'z', L'n');
    std::wstring middles;
    for (wchar_t b; (b = LetterTrigramMiddleIterNext(&it));) middles += b;
    for (wchar_t b = L'a'; b <= L'z'; ++b)
        EXPECT_EQ(middles.find(b) != std::wstring::npos, LetterTrigramExists(L'z', b, L'n'))
            << char(b);
    EXPECT_TRUE(std::is_sorted(middles.begin(), middles.end()));

    LetterTrigramThirdIterInit(&it, L'x', L'i');
    std::wstring thirds;
    for (wchar_t c; (c = LetterTrigramThirdIterNext(&it));) thirds += c;
    EXPECT_NE(thirds.find(L'a'), std::wstring::npos);
    EXPECT_NE(thirds.find(L'n'), std::wstring::npos);
    EXPECT_TRUE(std::is_sorted(thirds.begin(), thirds.end()));
    EXPECT_EQ(LetterTrigramThirdIterNext(&it), 0);  // stays at the end
}

TEST(LetterTrigramTest, PairWithoutMiddleLetterYieldsNothingAtOnce) {
    t_letterTrigramIter it;
    LetterTrigramMiddleIterInit(&it, L'q', L'i');  // q?i never occurs
    EXPECT_EQ(LetterTrigramMiddleIterNext(&it), 0);
    LetterTrigramMiddleIterInit(&it, L'1', L'a');
    EXPECT_EQ(LetterTrigramMiddleIterNext(&it), 0);
}

class LetterTrigramFileTest : public LexiconDirTest {};

TEST_F(LetterTrigramFileTest, LinesFileBuildsTheCompiledTable) {
    std::string lines;
    for (char a = 'a'; a <= 'z'; ++a)
        for (char b = 'a'; b <= 'z'; ++b)
            for (char c = 'a'; c <= 'z'; ++c)
                if (LetterTrigramExists(a, b, c)) lines += std::string{a, b, c, '\n'};
    std::ofstream(PathOf("tri.txt"), std::ios::binary) << lines;
    std::vector<uint32_t> table(kLetterTrigramWords, 0xFFFFFFFFu);
    ASSERT_TRUE(LetterTrigramBuildFromFile(WPathOf("tri.txt").c_str(), table.data()));
    EXPECT_EQ(table,
              std::vector<uint32_t>(kLetterTrigramBits, kLetterTrigramBits + kLetterTrigramWords));
}

TEST_F(LetterTrigramFileTest, BadLineStopsTheBuildAndKeepsEarlierBits) {
    std::ofstream(PathOf("bad.txt"), std::ios::binary) << "abc\nab\nxyz\n";
    std::vector<uint32_t> table(kLetterTrigramWords, 7);
    EXPECT_FALSE(LetterTrigramBuildFromFile(WPathOf("bad.txt").c_str(), table.data()));
    EXPECT_EQ(table[0 * 32 + 2], 1u << 1);  // a b c
    EXPECT_EQ(table[23 * 32 + 25], 0u);     // x y z never read
    std::ofstream(PathOf("upper.txt"), std::ios::binary) << "aBc\n";
    EXPECT_FALSE(LetterTrigramBuildFromFile(WPathOf("upper.txt").c_str(), table.data()));
    EXPECT_FALSE(LetterTrigramBuildFromFile(WPathOf("missing.txt").c_str(), table.data()));
}

// ---------------------------------------------------------------- word readings

namespace {

const t_wordReadingRow kRows[] = {
    {2, {4, 38, 0, 0}, 1, {{0x87AF, 0, L"áo"}, {0, 0, nullptr}}},
    {2, {5, 1, 0, 0}, 2, {{0x6C49, 0, L"hàn"}, {0x6C5F, 0, L"jiāng"}}},
    {3, {5, 1, 7, 0}, 1, {{0x4E00, 0, L"yī"}, {0, 0, nullptr}}},
    {4, {300, 2, 3, 4}, 1, {{0x4E8C, 0, L"èr"}, {0, 0, nullptr}}},
};

}  // namespace

// A row is found by its exact ids (the first n of a longer list); no row
// for other ids, counts outside 1-4 or no ids at all.
TEST(WordReadingTableTest, FindsRowsByExactIdsOnly) {
    t_wordReadingTable table(kRows, 4);
    const struct {
        std::vector<uint16_t> ids;
        int n;
        const t_wordReadingRow* row;
    } cases[] = {
        {{4, 38}, 2, &kRows[0]},        {{5, 1, 7}, 3, &kRows[2]},
        {{5, 1, 7}, 2, &kRows[1]},  // the two-id row, not the three-id one
        {{300, 2, 3, 4}, 4, &kRows[3]}, {{4, 39}, 2, nullptr},
        {{4, 38, 1, 2, 3}, 5, nullptr}, {{4, 38}, 0, nullptr},
    };
    for (const auto& c : cases) {
        const t_wordReadingRow* row = kRows + 1;
        ASSERT_EQ(table.Find(c.ids.data(), c.n, &row), 1);
        EXPECT_EQ(row, c.row) << c.ids[0] << " n " << c.n;
    }
    const t_wordReadingRow* row = kRows;
    EXPECT_EQ(table.Find(nullptr, 2, &row), 1);
    EXPECT_EQ(row, nullptr);
}

TEST(WordReadingTableTest, CompareOrdersByFirstDifferenceThenLength) {
    const uint16_t a[] = {5, 1}, b[] = {5, 1, 7}, c[] = {0xFFFF};
    EXPECT_LT(t_wordReadingTable::Compare(a, 2, b, 3), 0);
    EXPECT_GT(t_wordReadingTable::Compare(b, 3, a, 2), 0);
    EXPECT_EQ(t_wordReadingTable::Compare(a, 2, a, 2), 0);
    EXPECT_LT(t_wordReadingTable::Compare(c, 1, a, 2), 0);  // signed 16-bit
    EXPECT_EQ(t_wordReadingTable::Compare(a, 0, b, 3), -3);
}

TEST(WordReadingTableTest, CompiledTableIsSortedAndAnswers) {
    t_wordReadingTable* table = t_wordReadingTable::GetInstance();
    ASSERT_NE(table, nullptr);
    EXPECT_EQ(table, t_wordReadingTable::GetInstance());
    for (int i = 1; i < kWordReadingRowCount; ++i)
        EXPECT_LT(
            t_wordReadingTable::Compare(kWordReadingRows[i - 1].ids, kWordReadingRows[i - 1].n,
                                        kWordReadingRows[i].ids, kWordReadingRows[i].n),
            0);
    const uint16_t ids[] = {4, 38};
    const t_wordReadingRow* row = nullptr;
    EXPECT_EQ(table->Find(ids, 2, &row), 1);
}
