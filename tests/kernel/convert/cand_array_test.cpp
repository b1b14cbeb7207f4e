// The candidate array: the candidate order rule by rule, the add results
// (merges, replacements, ties, quota eviction, pinned places), the page
// layout at the first and later pages, and the deleted-word filter.
#include <gtest/gtest.h>

#include <deque>
#include <string>
#include <vector>

#include "kernel/convert/cand_array.h"
#include "kernel/runtime/scope_heap.h"
#include "kernel/runtime/singleton.h"
#include "kernel/userdict/deleted_words.h"

namespace {

// Records built field by field; they live as long as the fixture.
class CandArrayTest : public ::testing::Test {
protected:
    struct t_rec {
        t_candWord* w;
        template <typename T, typename V>
        t_rec& Set(T t_candWord::*field, V v) {
            w->*field = T(v);
            return *this;
        }
        t_rec& Score(double s) { return Set(&t_candWord::score, s); }
        t_rec& Kind(uint16_t k) { return Set(&t_candWord::kind, k); }
        t_rec& Type(uint16_t t) { return Set(&t_candWord::sourceType, t); }
        t_rec& Rank(int16_t r) { return Set(&t_candWord::rank, r); }
        t_rec& OrderNo(int32_t o) { return Set(&t_candWord::orderNumber, o); }
        t_rec& Place(int32_t p) { return Set(&t_candWord::wantedPlace, p); }
        t_rec& Floor(int16_t f) { return Set(&t_candWord::positionFloor, f); }
        t_rec& ArcClass(uint8_t c) { return Set(&t_candWord::arcClass, c); }
        t_rec& Strong() { return Set(&t_candWord::arcFlags, kCandArcStrong); }
        t_rec& Adjust(uint32_t f) { return Set(&t_candWord::adjustFlags, f); }
        t_rec& CloudFirst() { return Set(&t_candWord::cloudPriority, 1); }
        t_rec& External(int16_t c) { return Set(&t_candWord::externalClass, c); }
        t_rec& Privilege(int32_t o) { return Set(&t_candWord::privilegeOrder, o); }
        operator t_candWord*() const { return w; }
        t_candWord* operator->() const { return w; }
    };

    // A scored system word (kind 0, type 0, no power) of that score.
    t_rec Rec(const wchar_t* text, double score = 0.5) {
        records_.emplace_back();
        t_candWord* w = &records_.back();
        t_candWord::Clear(w);
        w->text = heap_.WideToLstr(text);
        w->score = score;
        w->rank = kCandNoPower;
        w->multiChar = LstrGetLength(w->text) > 1;
        return t_rec{w};
    }
    t_rec Pinned(const wchar_t* text, int32_t place) {
        return Rec(text, 1.0).Kind(kCandKindPinned).Place(place);
    }

    static std::wstring Text(const t_candWord* w) {
        std::wstring out;
        for (uint32_t i = 0; i < LstrGetLength(w->text); ++i)
            out += wchar_t(LstrGetUnit(w->text, i));
        return out;
    }
    // The page as one text, records joined by "|".
    static std::wstring Page(t_candWord** out, int n) {
        std::wstring page;
        for (int i = 0; i < n; ++i) page += (i ? L"|" : L"") + Text(out[i]);
        return page;
    }
    std::wstring Ranked(const t_arrayWord& array) {
        t_candWord** list = nullptr;
        const int n = array.CopyRanked(&heap_, &list);
        return Page(list, n);
    }

    t_scopeHeap heap_;
    std::deque<t_candWord> records_;
};

// --------------------------------------------------------------- the order

TEST_F(CandArrayTest, EachOrderRuleDecidesOnItsOwn) {
    struct t_case {
        const char* rule;
        t_candWord* placed;
        t_candWord* held;
        int want;
    };
    t_candWord* same = Rec(L"a");
    const t_case cases[] = {
        {"1 the same record", same, same, 0},
        {"2 the higher score", Rec(L"a", 0.6), Rec(L"b", 0.5), 1},
        {"2 the lower score", Rec(L"a", 0.4), Rec(L"b", 0.5), -1},
        {"3 arc class 0 first", Rec(L"a"), Rec(L"b").ArcClass(2), 1},
        {"3 arc class 0 first (held)", Rec(L"a").ArcClass(2), Rec(L"b"), -1},
        {"4 strong before an uncertain one", Rec(L"a").Strong(), Rec(L"b"), 1},
        {"4 strong after a certain one", Rec(L"a", 1.0).Strong(), Rec(L"b", 1.0), -1},
        {"5 user word before another kind", Rec(L"z").Kind(1), Rec(L"a").Kind(31), 1},
        {"5 user words: higher order number", Rec(L"z").Kind(1).OrderNo(9),
         Rec(L"a").Kind(1).OrderNo(3), 1},
        {"5 user words: lower rank", Rec(L"z").Kind(1).Rank(100), Rec(L"a").Kind(1).Rank(200), 1},
        {"5 user words: text order", Rec(L"a").Kind(1), Rec(L"b").Kind(1), 1},
        {"6 external after a user word", Rec(L"a").Kind(31), Rec(L"b").Kind(1), -1},
        {"6 external before a scored word", Rec(L"a").Kind(31), Rec(L"b"), 1},
        {"6 externals: higher class", Rec(L"z").Kind(31).External(1), Rec(L"a").Kind(31), 1},
        {"7 plain cloud before an uncertain held one", Rec(L"a", 0.1).Type(29), Rec(L"b", 0.9), 1},
        {"8 held user word first", Rec(L"a").Kind(11).Rank(30000), Rec(L"b").Kind(1), -1},
        {"9 clouds: lower order number", Rec(L"a", 1.0).Type(29).OrderNo(1),
         Rec(L"b", 1.0).Type(29).OrderNo(2), 1},
        {"9 cloud after a pinned one", Rec(L"a", 1.0).Type(29), Rec(L"b", 1.0).Kind(2), -1},
        {"9 cloud before a special one", Rec(L"a", 1.0).Type(29), Rec(L"b", 1.0).Kind(11), 1},
        {"9 cloud after a cached composed word", Rec(L"a", 1.0).Type(29),
         Rec(L"b", 1.0).Type(4).Adjust(0x80), -1},
        {"9 prior cloud before a composed word", Rec(L"a").Type(29).CloudFirst(), Rec(L"b").Type(4),
         1},
        {"9 cloud after a system word", Rec(L"a", 1.0).Type(29), Rec(L"b", 1.0).Type(0), -1},
        {"9 cloud before an English word", Rec(L"a", 1.0).Type(29), Rec(L"b", 1.0).Type(7), 1},
        {"10 composed after a cloud word", Rec(L"a").Type(4), Rec(L"b").Type(29), -1},
        {"11 higher priority", Rec(L"a", 1.0).Kind(11).Rank(600), Rec(L"b", 1.0).Kind(11).Rank(199),
         1},
        {"11 equal priority: order number", Rec(L"a", 1.0).Kind(11).Rank(600).OrderNo(2),
         Rec(L"b", 1.0).Kind(11).Rank(600).OrderNo(1), 1},
        {"12 privilege after another type", Rec(L"a").Type(30).Rank(1), Rec(L"b").Rank(900), -1},
        {"12 privileges: lower privilege order", Rec(L"z").Type(30).Privilege(1),
         Rec(L"a").Type(30).Privilege(2), 1},
        {"13 before a held privilege word", Rec(L"a").Rank(900), Rec(L"b").Type(30).Rank(1), 1},
        {"14 lower power", Rec(L"b").Rank(100), Rec(L"a").Rank(200), 1},
        {"14 equal power", Rec(L"b").Rank(100), Rec(L"a").Rank(100), 0},
    };
    for (const t_case& c : cases)
        EXPECT_EQ(t_arrayWord::CompareCandidates(c.placed, c.held), c.want) << c.rule;
}

TEST_F(CandArrayTest, PinnedOrders) {
    struct {
        const char* name;
        t_candWord *a, *b;
        int pinned, duplicate;
    } cases[] = {
        {"lower place", Pinned(L"a", 1).Rank(1), Pinned(L"b", 2).Rank(9), 1, -1},
        {"same place: higher rank", Pinned(L"a", 2).Rank(9), Pinned(L"b", 2).Rank(1), 1, 1},
        {"then higher order number", Pinned(L"a", 2).OrderNo(5), Pinned(L"b", 2).OrderNo(4), 1, 1},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(t_arrayWord::ComparePinned(c.a, c.b), c.pinned) << c.name;
        EXPECT_EQ(t_arrayWord::ComparePinnedDuplicate(c.a, c.b), c.duplicate) << c.name;
    }
}

// --------------------------------------------------------------- adding

TEST_F(CandArrayTest, AddResults) {
    struct t_step {
        t_candWord* w;
        int want;
    };
    struct t_case {
        const char* name;
        uint32_t places, quota;
        std::vector<t_step> steps;
        std::wstring ranked;
    };
    const t_case cases[] = {
        {"an equal-ranked record at a full list is refused",
         2,
         0,
         {{Rec(L"a", 0.5), 4}, {Rec(L"b", 0.5), 4}, {Rec(L"c", 0.5), 0}, {Rec(L"d", 0.6), 4}},
         L"d|a"},
        {"a higher score replaces, a lower one merges",
         3,
         0,
         {{Rec(L"a", 0.5), 4}, {Rec(L"b", 0.4), 4}, {Rec(L"b", 0.7), 4}, {Rec(L"a", 0.1), 5}},
         L"b|a"},
        {"a cell word replaces a system word, a system word merges into a cell word",
         3,
         0,
         {{Rec(L"a", 0.9), 4},
          {Rec(L"a", 0.1).Type(3), 4},
          {Rec(L"c", 0.5).Type(3), 4},
          {Rec(L"c", 0.9), 5}},
         L"c|a"},
        {"a cloud word replaces a composed word and merges into others",
         3,
         0,
         {{Rec(L"a", 0.5).Type(4), 4},
          {Rec(L"a", 0.1).Type(29), 5},
          {Rec(L"b", 0.6), 4},
          {Rec(L"b", 0.9).Type(29), 5}},
         L"b|a"},
        {"quota: a worse multi-character word finds no room",
         3,
         1,
         {{Rec(L"aa", 0.6), 4}, {Rec(L"b", 0.5), 4}, {Rec(L"cc", 0.4), 3}, {Rec(L"dd", 0.7), 4}},
         L"dd|b"},
        {"quota at a full list: only a worse multi-character word goes",
         2,
         1,
         {{Rec(L"aa", 0.6), 4}, {Rec(L"b", 0.5), 4}, {Rec(L"cc", 0.55), 3}, {Rec(L"dd", 0.9), 4}},
         L"dd|b"},
        {"equal scores: a strong arc, then the lower rank, then another arc class",
         4,
         0,
         {{Rec(L"a").Rank(300), 4},
          {Rec(L"b").Rank(100), 4},
          {Rec(L"c").Rank(200).Strong(), 4},
          {Rec(L"d").Rank(50).ArcClass(1), 4}},
         L"c|b|a|d"},
        // The ranked list shifts its shorter side and moves within its room
        // when one side is used up.
        {"records arriving worst first each take the top",
         3,
         0,
         {{Rec(L"a", 0.1), 4},
          {Rec(L"b", 0.2), 4},
          {Rec(L"c", 0.3), 4},
          {Rec(L"d", 0.4), 4},
          {Rec(L"e", 0.5), 4},
          {Rec(L"f", 0.6), 4},
          {Rec(L"g", 0.7), 4}},
         L"g|f|e"},
        {"a replacement near the top and evictions at the end",
         4,
         0,
         {{Rec(L"a", 0.9), 4},
          {Rec(L"b", 0.8), 4},
          {Rec(L"c", 0.7), 4},
          {Rec(L"d", 0.6), 4},
          {Rec(L"b", 0.95), 4},
          {Rec(L"e", 0.99), 4},
          {Rec(L"f", 0.97), 4},
          {Rec(L"g", 0.92), 4}},
         L"e|f|b|g"},
    };
    for (const t_case& c : cases) {
        t_arrayWord array(nullptr, 0, c.places, c.quota, nullptr, &heap_);
        ASSERT_TRUE(array.IsValid());
        for (size_t i = 0; i < c.steps.size(); ++i)
            EXPECT_EQ(array.Add(c.steps[i].w, nullptr), c.steps[i].want)
                << c.name << ", step " << i;
        EXPECT_EQ(Ranked(array), c.ranked) << c.name;
    }
}

TEST_F(CandArrayTest, MergingKeepsOneRecordWithTheMergedFields) {
    t_arrayWord array(nullptr, 0, 4, 0, nullptr, &heap_);
    t_candWord* held = Rec(L"ab", 0.8);
    t_candWord* user = Rec(L"ab", 0.3).Type(1);
    user->frequency = 77;
    ASSERT_EQ(array.Add(held, nullptr), 4);
    EXPECT_EQ(array.Add(user, nullptr), 5);
    EXPECT_EQ(array.GetCount(), 1);
    EXPECT_EQ(array.FindWord(user->text), held);
    EXPECT_EQ(held->sourceType, 1);
    EXPECT_EQ(held->frequency, 77);
    EXPECT_EQ(array.GetWordScore(user), 0.8);
}

TEST_F(CandArrayTest, PinnedRecordsShareNoPlace) {
    t_candWord* out[4];
    t_arrayWord array(out, 0, 4, 0, nullptr, &heap_);
    t_candWord* low = Pinned(L"low", 1).Rank(1);
    t_candWord* high = Pinned(L"high", 1).Rank(5);
    EXPECT_EQ(array.AddChecked(low, nullptr), 1);
    EXPECT_EQ(array.AddChecked(high, nullptr), 1);
    EXPECT_EQ(high->wantedPlace, 1);
    EXPECT_EQ(low->wantedPlace, 1);
    t_candWord* late = Pinned(L"late", 1).Rank(0);
    EXPECT_EQ(array.AddChecked(late, nullptr), 1);
    EXPECT_EQ(late->wantedPlace, 2);  // moved on when it passed a record of its place
    EXPECT_EQ(array.GetTopWord(), high);
    EXPECT_EQ(Page(out, array.Arrange()), L"high|low|late");
}

TEST_F(CandArrayTest, APinnedRecordWithoutRoomLeavesTheHeldRecordInPlace) {
    t_arrayWord array(nullptr, 0, 1, 0, nullptr, &heap_);
    ASSERT_EQ(array.Add(Rec(L"x", 0.5), nullptr), 4);
    ASSERT_EQ(array.AddChecked(Pinned(L"p", 1).Rank(9), nullptr), 1);
    // The same text as the ranked record, pinned after the full pinned list.
    EXPECT_EQ(array.AddChecked(Pinned(L"x", 2), nullptr), 0);
    EXPECT_NE(array.FindWord(heap_.WideToLstr(L"x")), nullptr);
    EXPECT_EQ(array.GetCount(), 2);
}

TEST_F(CandArrayTest, LeadQueries) {
    t_arrayWord array(nullptr, 0, 8, 0, nullptr, &heap_);
    EXPECT_EQ(array.GetTopWord(), nullptr);
    t_candWord* first = Rec(L"a", 0.9);
    first->coveredLength = 4;
    t_candWord* user = Rec(L"b", 0.8).Type(1);
    user->coveredLength = 4;
    t_candWord* bigram = Rec(L"c", 0.7).Type(4);
    bigram->adjustFlags = kCandAdjustComposedBigram;
    bigram->wantedPlace = 1;
    for (t_candWord* w : {first, user, bigram}) ASSERT_EQ(array.Add(w, nullptr), 4);
    EXPECT_EQ(array.GetTopWord(), first);
    EXPECT_EQ(array.HasUserWordInLead(4), 1);
    EXPECT_EQ(array.HasUserWordInLead(3), 0);
    EXPECT_EQ(array.HasComposedBigramLead(), 0);  // a record wanting no place stands before it
    first->wantedPlace = user->wantedPlace = 1;
    EXPECT_EQ(array.HasComposedBigramLead(), 1);

    t_candWord* fixed = Pinned(L"f", 2).Type(kCandSourceFixedFirst);
    ASSERT_EQ(array.AddChecked(fixed, nullptr), 1);
    EXPECT_EQ(array.IsTopPinnedFixed(), 0);  // it wants place 2
    EXPECT_EQ(array.GetTopWord(), first);
    fixed->wantedPlace = 1;
    EXPECT_EQ(array.IsTopPinnedFixed(), 1);
    EXPECT_EQ(array.GetTopWord(), fixed);
    t_candWord** pinned = nullptr;
    EXPECT_EQ(array.CopyPinned(&heap_, &pinned), 1);
    EXPECT_EQ(pinned[0], fixed);
    EXPECT_EQ(Ranked(array), L"a|b|c");
}

// --------------------------------------------------------------- the page

TEST_F(CandArrayTest, ArrangeLaysOutPinnedAndDeferredRecordsOnEveryPage) {
    struct t_case {
        uint32_t start, count;
        std::wstring page;
    };
    // Ranked: a .9 (floor 3), b .8, c .7, d .6, e .5; pinned: P at 2, Q at 9.
    const t_case cases[] = {
        {0, 3, L"b|P|a"},
        {0, 8, L"b|P|a|c|d|e|Q"},  // Q's place lies beyond the list: first free
                                   // place after it
        {2, 3, L"a|c|d"},
        {5, 10, L"e|Q"},
        {7, 3, L""},
    };
    for (const t_case& c : cases) {
        t_scopeHeap heap;
        std::vector<t_candWord*> out(c.count + 1, nullptr);
        t_arrayWord array(out.data(), c.start, c.count, 0, nullptr, &heap);
        const wchar_t* ranked[] = {L"a", L"b", L"c", L"d", L"e"};
        for (int i = 0; i < 5; ++i) {
            t_rec r = Rec(ranked[i], 0.9 - 0.1 * i);
            if (i == 0) r.Floor(3);
            array.Add(r, nullptr);  // a short page keeps only the best start + count
        }
        t_candWord* p = Pinned(L"P", 2);
        p->score = 0.2;
        ASSERT_EQ(array.AddChecked(p, nullptr), 1);
        ASSERT_EQ(array.AddChecked(Pinned(L"Q", 9), nullptr), 1);
        const int n = array.Arrange();
        EXPECT_EQ(Page(out.data(), n), c.page) << "start " << c.start << ", count " << c.count;
        if (c.start == 0) {
            EXPECT_EQ(p->score, 1.0);
        }
    }
}

TEST_F(CandArrayTest, ArrangeKeepsOneSegmentEndPerRunOfLetters) {
    // Ids 413 and 414 are letters: "zg" typed as letters, then a syllable.
    const uint16_t ids[] = {413, 414, 10};
    const uint16_t ends[] = {1, 2, 5};
    const t_lstr* idList = heap_.MakeLstr(ids, sizeof ids);
    const t_lstr* endList = heap_.MakeLstr(ends, sizeof ends);
    std::vector<uint8_t> original(LstrGetTotalBytes(endList));
    std::memcpy(original.data(), endList, original.size());

    t_candWord* out[1];
    t_arrayWord array(out, 0, 1, 0, nullptr, &heap_);
    t_candWord* w = Rec(L"字母");
    w->syllableIds = idList;
    w->segmentList = endList;
    ASSERT_EQ(array.Add(w, nullptr), 4);
    ASSERT_EQ(array.Arrange(), 1);
    ASSERT_EQ(LstrGetLength(w->segmentList), 2);
    EXPECT_EQ(LstrGetUnit(w->segmentList, 0), 2);
    EXPECT_EQ(LstrGetUnit(w->segmentList, 1), 5);
    // The list the record pointed at (a dictionary's, perhaps) is untouched.
    EXPECT_EQ(std::memcmp(original.data(), endList, original.size()), 0);
}

// --------------------------------------------------------------- filters

TEST_F(CandArrayTest, DeletedWordsAreFilteredOnlyWhileTheStoreIsReady) {
    t_delWordDict& deleted = t_singleton<t_delWordDict>::Get();
    std::vector<uint8_t> image;
    ASSERT_TRUE(t_delWordDict::BuildImage(image, 100, 2000));
    t_arrayWord before(nullptr, 0, 4, 0, nullptr, &heap_);
    ASSERT_EQ(before.EnableDelWordFilter(), 1);  // not loaded: filtering stays off
    ASSERT_TRUE(deleted.AttachCopy(image.data(), image.size()));
    ASSERT_EQ(deleted.AddWord(heap_.WideToLstr(L"删除"), 1700000000u), 1);
    ASSERT_EQ(deleted.AddWord(heap_.WideToLstr(L"恢复"), 1700000000u), 1);
    ASSERT_EQ(deleted.ClearWord(heap_.WideToLstr(L"恢复")), 1);

    EXPECT_EQ(before.Add(Rec(L"删除"), nullptr), 4);
    t_arrayWord array(nullptr, 0, 4, 0, nullptr, &heap_);
    ASSERT_EQ(array.EnableDelWordFilter(), 1);
    struct {
        const wchar_t* text;
        bool pinned;
        int want, flag;
    } cases[] = {{L"删除", false, 1, 1},
                 {L"删除", true, 1, 1},
                 {L"恢复", false, 4, 0},
                 {L"保留", true, 1, 0}};
    for (const auto& c : cases) {
        int flag = -1;
        t_candWord* w = c.pinned ? Pinned(c.text, 1).w : Rec(c.text).w;
        EXPECT_EQ(c.pinned ? array.AddChecked(w, &flag) : array.Add(w, &flag), c.want);
        EXPECT_EQ(flag, c.flag);
    }
    EXPECT_EQ(array.GetCount(), 2);
    deleted.ClearWord(heap_.WideToLstr(L"删除"));
}

}  // namespace
