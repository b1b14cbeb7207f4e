// Spelling-correction variants: refused inputs, positions blocked around
// apostrophes, the leading "i", the 600 drop, the chosen variant, and the
// syllable ends moved back onto the typed input.
#include "kernel/convert/spell_variants.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "kernel/convert/cand_array.h"
#include "kernel/lexicon/py_dict.h"
#include "kernel/lexicon/syllable_table.h"
#include "kernel/lexicon/sys_dict_writer.h"
#include "kernel/runtime/cand_word.h"
#include "kernel/runtime/scope_heap.h"
#include "tests/kernel/convert/convert_support.h"

using namespace convtest;

namespace {

t_spellModels Models() {
    t_spellModels m;
    m.py = &SmallLexicon().py;
    m.keyMap = &SmallLexicon().keyMap;
    return m;
}

std::vector<std::wstring> Variants(const t_spellCorrector& c) {
    std::vector<std::wstring> out;
    for (const t_spellVariant* v = c.First(); v; v = v->next) out.push_back(v->letters);
    return out;
}

TEST(SpellVariants, RefusedInputs) {
    t_scopeHeap arena;
    t_spellCorrector c(&arena, Models());
    for (const wchar_t* input : {L"xiAn", L"xi1an", L"''", L"xi an"}) {
        EXPECT_FALSE(c.MakeVariants(input, int(std::wcslen(input)))) << input;
        EXPECT_EQ(c.Count(), 0);
    }
}

// Apostrophes are kept and never edited, nor the two letters either side;
// a leading "i" always offers its deletion.
TEST(SpellVariants, ApostrophesAndTheLeadingI) {
    t_scopeHeap arena;
    t_spellCorrector c(&arena, Models());
    const std::wstring input = L"zhongxian'anqu";
    ASSERT_TRUE(c.MakeVariants(input.c_str(), int(input.size())));
    for (const t_spellVariant* v = c.First(); v; v = v->next) {
        EXPECT_TRUE(v->position < 7 || v->position > 11) << v->letters;
        EXPECT_EQ(std::wstring(v->letters).find(L"'"), std::wstring(v->letters).rfind(L"'"))
            << v->letters;
        EXPECT_NE(std::wstring(v->letters).find(L"'"), std::wstring::npos) << v->letters;
    }
    const std::wstring leadingI = L"izhongguo";
    ASSERT_TRUE(c.MakeVariants(leadingI.c_str(), int(leadingI.size())));
    const std::vector<std::wstring> got = Variants(c);
    EXPECT_NE(std::find(got.begin(), got.end(), L"zhongguo"), got.end());
}

// A variant more than 600 above the cheapest never enters the list.
TEST(SpellVariants, DropsVariantsFarAboveTheCheapest) {
    t_pyDictSource src;
    for (int i = 0; i < kSyllableCount; ++i) {
        const std::wstring w(kSyllableTexts[i]);
        src.syllables.push_back(std::string(w.begin(), w.end()));
        src.costs.push_back(100);
    }
    src.pairCosts.assign(size_t(kSyllableCount) * kSyllableCount, 10);
    src.trigram.assign(27 * 27 * 27, 0);
    src.xpos.assign(26 * 26 * 27, 0);
    auto row = [](wchar_t typed, wchar_t put, wchar_t prev) {
        auto idx = [](wchar_t ch) { return ch == L'~' ? 26 : ch - L'a'; };
        return size_t(729 * idx(prev) + 27 * idx(typed) + idx(put));
    };
    src.trigram[row(L'c', L'x', L'b')] = 76;  // 5 x 76 + 200 = 580: 600 above the deletion
    src.trigram[row(L'c', L'y', L'b')] = 77;  // 585: 605 above
    std::vector<uint8_t> image;
    std::string error;
    ASSERT_TRUE(BuildPyDictImage(src, image, &error)) << error;
    t_pyDict py;
    ASSERT_TRUE(py.Load(image.data(), int32_t(image.size())));
    t_spellModels models;
    models.py = &py;
    t_scopeHeap arena;
    t_spellCorrector c(&arena, models);
    ASSERT_TRUE(c.Begin(L"abcd", 4));
    EXPECT_TRUE(c.Add(L"acd", 3, kEditDelete, 1));  // -20
    EXPECT_TRUE(c.Add(L"abxd", 4, kEditSubstitute, 2));
    EXPECT_FALSE(c.Add(L"abyd", 4, kEditSubstitute, 2));
    EXPECT_EQ(Variants(c), (std::vector<std::wstring>{L"acd", L"abxd"}));
    EXPECT_EQ(c.First()->cost, -20);
}

// The swap that restores a readable input is chosen over cheaper variants
// that cannot be read to their end.
TEST(SpellVariants, ChoosesAReadableVariant) {
    t_scopeHeap arena;
    t_spellCorrector c(&arena, Models());
    ASSERT_TRUE(c.MakeVariants(L"zhognguo", 8));
    t_spellChoice choice;
    ASSERT_TRUE(c.ChooseBest(0.0, 80000, false, nullptr, &choice));
    EXPECT_EQ(std::wstring(choice.variant->letters), L"zhongguo");
    EXPECT_EQ(choice.variant->kind, kEditSwap);
    ASSERT_NE(choice.lattice, nullptr);
    EXPECT_EQ(choice.lattice->GetLastReachable(), 8);
    EXPECT_EQ(choice.score.kind, kEditSwap);
}

// Whether to correct: never without a top word; a sure reading is mode 4
// and must be tried; an ambiguous end is mode 3; an input that stops short
// is tried as it is.
TEST(SpellVariants, DecideCorrectionMode) {
    const struct {
        const wchar_t* input;
        bool withTop;
        int result;
        int32_t mode;
        bool mustTry;
    } cases[] = {
        {L"zhongguo", false, 0, 1, false},
        {L"zhongguo", true, 1, 4, true},
        {L"zhongguoq", true, 1, 3, false},  // the end is a partial syllable only
        {L"zhongguov", true, 1, 1, false},  // the last letter cannot be read
    };
    for (const auto& c : cases) {
        t_scopeHeap arena;
        t_pyLattice lattice;
        const int n = int(std::wcslen(c.input));
        ASSERT_TRUE(lattice.Build(&arena, &SmallLexicon().keyMap, &SmallLexicon().py, c.input, n,
                                  false, false));
        t_candWord* out[3];
        t_arrayWord array(out, 0, 3, 0, nullptr, &arena);
        t_candWord top;
        t_candWord::Clear(&top);
        top.text = arena.WideToLstr(L"中国");
        top.coveredLength = uint32_t(n);
        int filtered = 0;
        if (c.withTop) array.Add(&top, &filtered);
        t_correctionMode mode;
        EXPECT_EQ(DecideCorrectionMode(lattice, c.input, n, &array, false, &mode), c.result)
            << c.input;
        EXPECT_EQ(mode.mode, c.mode) << c.input;
        EXPECT_EQ(mode.mustTry, c.mustTry) << c.input;
        EXPECT_EQ(DecideCorrectionMode(lattice, c.input, n, &array, true, &mode), 0);
    }
}

// Ends of records converted from a variant, moved back onto the typed input.
TEST(SpellVariants, ShiftSegmentEnds) {
    const struct {
        int32_t kind, position;
        std::vector<uint16_t> ends;
        uint32_t covered;
    } cases[] = {
        {kEditInsert, 0, {1, 3}, 3},  // "xzhongguo": the inserted first letter goes
        {kEditInsert, 2, {2, 3}, 3},
        {kEditDelete, 0, {3, 5}, 5},  // the deleted first letter joins the first word
        {kEditDelete, 2, {3, 5}, 5},
        {kEditDelete, 4, {2, 5}, 5},      // deleted at the end: the last word covers it
        {kEditSubstitute, 1, {2, 4}, 4},  // nothing moves
    };
    for (const auto& c : cases) {
        t_scopeHeap arena;
        const Bytes ends = Units({2, 4});
        t_candWord w;
        t_candWord::Clear(&w);
        w.segmentList = L(ends);
        w.coveredLength = 4;
        t_candWord* list[] = {&w};
        EXPECT_EQ(ShiftSegmentEnds(&arena, list, 1, c.kind, c.position),
                  c.kind == kEditSubstitute ? 0 : 1);
        std::vector<uint16_t> got;
        for (uint32_t i = 0; i < LstrGetLength(w.segmentList); ++i)
            got.push_back(LstrGetUnit(w.segmentList, i));
        EXPECT_EQ(got, c.ends) << c.kind << " at " << c.position;
        EXPECT_EQ(w.coveredLength, c.covered);
        EXPECT_EQ(LstrGetUnit(L(ends), 0), 2);  // the shared list is not written
    }
}

}  // namespace
