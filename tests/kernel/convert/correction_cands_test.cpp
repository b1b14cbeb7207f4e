// Correction candidates: edit-code bytes and their application (with stored
// positions outside the input refused), the debug label round trip, the
// admission tables by level, and the merge that pins a correction at place
// 1 or 2.
#include "kernel/convert/correction_cands.h"

#include <gtest/gtest.h>

#include <deque>
#include <string>

#include "kernel/convert/cand_array.h"
#include "kernel/runtime/cand_word.h"
#include "kernel/runtime/scope_heap.h"

namespace {

TEST(CorrectionCands, EditCodeBytes) {
    const struct {
        t_editRequest edit;
        int position;
        int ok;
        uint8_t b0, b1;
    } cases[] = {
        {{1, L'a', L'x'}, 5, 1, 0xC5, 'x'},  // substitute
        {{1, L'a', L'~'}, 5, 1, 0xC5, '~'},  // delete
        {{1, L'~', L'x'}, 0, 1, 0x80, 'x'},  // insert
        {{2, 0, 0}, 2, 1, 0x42, 0},          // swap
        {{1, L'a', L'x'}, 63, 1, 0xFF, 'x'}, {{1, L'a', L'x'}, 64, 0, 0, 0},
        {{3, L'a', L'x'}, 1, 0, 0, 0},
    };
    for (const auto& c : cases) {
        uint8_t code[2] = {0, 0};
        ASSERT_EQ(EncodeEditCode(code, c.edit, c.position), c.ok) << c.position;
        if (!c.ok) continue;
        EXPECT_EQ(code[0], c.b0);
        if (c.edit.kind == 1) {
            EXPECT_EQ(code[1], c.b1);
        }
    }
}

// Applying codes to "abc"; a position read from a stored file that lies at
// or past the end is refused instead of read or written out of bounds.
TEST(CorrectionCands, ApplyEditCode) {
    const struct {
        uint8_t b0, b1;
        int capacity;
        int ok;
        const wchar_t* out;
        int kind;
    } cases[] = {
        {0xC1, '~', 8, 1, L"ac", kEditDelete},
        {0x41, 0, 8, 1, L"acb", kEditSwap},
        {0xC1, 'x', 8, 1, L"axc", kEditSubstitute},
        {0x83, 'x', 8, 1, L"abcx", kEditInsert},
        {0x80, 'x', 8, 1, L"xabc", kEditInsert},
        {0x83, 'x', 4, 0, nullptr, 0},  // no room for the terminator
        {0x42, 0, 8, 0, nullptr, 0},    // swap of the last letter
        {0xC3, 'x', 8, 0, nullptr, 0},  // substitute past the end
        {0xC3, '~', 8, 0, nullptr, 0},  // delete past the end
        {0x84, 'x', 8, 0, nullptr, 0},  // insert beyond the end
        {0x3F, 'x', 8, 0, nullptr, 0},  // unknown operation
    };
    for (const auto& c : cases) {
        const uint8_t code[2] = {c.b0, c.b1};
        wchar_t out[8] = {};
        int size = c.capacity, kind = 0, position = -1;
        ASSERT_EQ(ApplyEditCode(code, L"abc", 3, out, &size, &kind, &position), c.ok) << int(c.b0);
        if (!c.ok) continue;
        EXPECT_EQ(std::wstring(out), c.out);
        EXPECT_EQ(size, int(std::wcslen(c.out)));
        EXPECT_EQ(kind, c.kind);
        EXPECT_EQ(position, c.b0 & 0x3F);
    }
    EXPECT_EQ(IsAllLowerAscii(L""), 1);
    EXPECT_EQ(IsAllLowerAscii(L"abc'"), 0);
    EXPECT_EQ(IsAllLowerAscii(nullptr), 0);
}

TEST(CorrectionCands, LabelRoundTrip) {
    t_scopeHeap arena;
    t_correctionScore s;
    s.typed = 900, s.corrected = 700, s.general = -20, s.personal = 5, s.kind = kEditDelete;
    const wchar_t* label = FormatCorrectionLabel(&arena, L"西_安", s);
    ASSERT_NE(label, nullptr);
    EXPECT_EQ(std::wstring(label),
              L"adj(原串语言模型:纠错串语言模型+纠错通用模型+个性模型=得分):西_安_del(900:700+-20+"
              L"5=685)");
    t_correctionScore back;
    int32_t sum = 0;
    const wchar_t* text = ParseCorrectionLabel(&arena, &back, &sum, label);
    ASSERT_NE(text, nullptr);
    EXPECT_EQ(std::wstring(text), L"西_安");
    EXPECT_EQ(sum, 685);
    EXPECT_EQ(back.kind, kEditDelete);
    EXPECT_EQ(back.general, -20);
    // A sum that does not add up, or another head, is refused.
    std::wstring bad = label;
    bad.replace(bad.find(L"685"), 3, L"686");
    EXPECT_EQ(ParseCorrectionLabel(&arena, &back, &sum, bad.c_str()), nullptr);
    EXPECT_EQ(ParseCorrectionLabel(&arena, &back, &sum, L"adj:x_del(1:1+0+0=1)"), nullptr);
    EXPECT_EQ(ParseEditKind(L"trax"), kEditSwap);
    EXPECT_EQ(ParseEditKind(L"xyz"), kEditUnknown);
}

// The level tables: S = total, O = typed score.
TEST(CorrectionCands, AdmissionAndLaterTestByLevel) {
    const struct {
        int level;
        int32_t total, typed, general;
        bool admitted;
    } admission[] = {
        {0, 1500, 400, 0, true},  // 1500 - 1000 <= 550
        {0, 1600, 400, 0, false}, {2, 550, 400, 0, true},
        {2, 551, 400, 0, false},  {3, 450, 400, 0, true},
        {3, 451, 400, 0, false},  {4, 0, 601, 799, true},  // 0 + 500 - 601 < -100
        {4, 0, 600, 799, false},  {4, 0, 601, 800, false},
    };
    for (const auto& c : admission) {
        t_admissionParams p;
        p.level = c.level;
        t_correctionScore s;
        s.total = c.total, s.typed = c.typed, s.general = c.general;
        EXPECT_EQ(AdmitCorrection(p, s, false), c.admitted) << c.level << " " << c.total;
    }
    const struct {
        int level;
        uint8_t strict;
        int32_t kind, total, corrected, typed;
        bool rejected;
    } later[] = {
        {4, 0, kEditDelete, 1000, 0, 230, false},  // 1000 - 450 - 70 - 230 = 250
        {4, 0, kEditDelete, 1001, 0, 230, true},
        {2, 0, kEditSubstitute, 9000, 0, 810, false},  // a poor reading keeps its correction
        {0, 0, kEditInsert, 1000, 0, 150, false},      // 1000 - 500 - 100 - 150 = 250
        {4, 1, kEditSwap, 0, 1100, 1000, false},  // strict: at most 100 above the typed reading
        {4, 1, kEditSwap, 0, 1101, 1000, true},
    };
    for (const auto& c : later) {
        t_admissionParams p;
        p.level = c.level;
        p.strict = c.strict;
        t_correctionScore s;
        s.kind = c.kind, s.total = c.total, s.corrected = c.corrected, s.typed = c.typed;
        EXPECT_EQ(IsLaterCorrectionRejected(s, p), c.rejected) << c.level << " " << c.total;
        s.keep = 1;
        EXPECT_FALSE(IsLaterCorrectionRejected(s, p));
    }
}

// The merge: an equal top is passed over; an admitted correction competes;
// one that is not admitted is pinned at place 2, or 1 when it has the top's
// text with another covered length.
TEST(CorrectionCands, MergePinsOrAdmits) {
    t_scopeHeap heap;
    std::deque<t_candWord> records;
    auto rec = [&](const wchar_t* text, int16_t rank, uint32_t covered) {
        records.emplace_back();
        t_candWord* w = &records.back();
        t_candWord::Clear(w);
        w->text = heap.WideToLstr(text);
        w->rank = rank;
        w->score = 0.5;
        w->coveredLength = covered;
        return w;
    };
    const struct {
        const wchar_t* correction;
        uint32_t covered;
        int level;
        int32_t total;
        int16_t kind;  // of the merged record; -1: not added
        int32_t place;
    } cases[] = {
        {L"西安", 4, 2, 0, -1, 0},               // the top itself
        {L"先", 4, 2, 0, kCandKindScored, 0},    // admitted: 0 + 0 <= 300 + 150
        {L"先", 4, 4, 0, kCandKindPinned, 2},    // level 4 does not admit: pinned at 2
        {L"西安", 5, 4, 0, kCandKindPinned, 1},  // the top's text: pinned at 1
    };
    for (const auto& c : cases) {
        t_candWord* mainOut[8];
        t_candWord* corrOut[8];
        t_arrayWord main(mainOut, 0, 5, 0, nullptr, &heap),
            corrections(corrOut, 0, 5, 0, nullptr, &heap);
        int filtered = 0;
        ASSERT_EQ(main.Add(rec(L"西安", 900, 4), &filtered), kArrayAdded);
        t_candWord* r = rec(c.correction, 800, c.covered);
        ASSERT_EQ(corrections.Add(r, &filtered), kArrayAdded);
        t_correctionScore s;
        s.total = c.total, s.typed = 300;
        t_admissionParams p;
        p.level = c.level;
        EXPECT_EQ(main.MergeCorrections(&corrections, false, s, p), c.kind >= 0 ? 1 : 0);
        if (c.kind < 0) continue;
        EXPECT_EQ(r->kind, c.kind);
        EXPECT_EQ(r->wantedPlace, c.place);
        EXPECT_TRUE(r->sourceType & kCandSourceMerged);
        if (c.kind == kCandKindPinned) {
            EXPECT_EQ(r->rank, kCorrectionPinnedRank);
        }
    }
}

}  // namespace
