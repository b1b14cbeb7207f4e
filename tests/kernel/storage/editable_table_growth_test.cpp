// Fixed-capacity in-place saves, growth modes, trims and compact images of
// the editable table file.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "tests/kernel/storage/editable_table_support.h"

using namespace edittest;
using namespace n_tableFormat;
using tabletest::Str;

namespace {

int Add(t_editableTableFile& ed, const Bytes& item, int32_t* maxKey = nullptr,
        int32_t* maxAttri = nullptr, t_editLocation* where = nullptr) {
    return ed.AddItem(item.data(), uint32_t(item.size()), 0, maxKey, maxAttri, where);
}

std::string Path(const char* name) {
    return tabletest::TempDir() + "/" + name;
}

// ---------------------------------------------------------------- fixed capacity

struct t_fixedCase {
    t_shape shape;
    Bytes image;
    t_editableTableFile ed{nullptr, nullptr, nullptr, nullptr, nullptr, 8};
    Bytes region;
    std::string file = Path("fixed.bin"), full = Path("fixed_full.bin");

    explicit t_fixedCase(int32_t capacity) {
        image = EmptyImage(shape);
        EXPECT_TRUE(Attach(ed, shape, image));
        for (uint16_t i = 0; i < 12; ++i)
            Add(ed, AttriItem(KeyUnits({uint16_t(i % 4), i}), i, "w", i));
        EXPECT_TRUE(ed.SaveToFile(tabletest::Wide(file).c_str()));
        region.assign(size_t(ed.GetFixedStateSize(capacity)), 0xCC);
        EXPECT_TRUE(ed.SetFixedCapacityMode(capacity, region.data(), region.size()));
    }
    t_editLocation Find(uint16_t i, const std::string& w = "w") {
        const Bytes item = AttriItem(KeyUnits({uint16_t(i % 4), i}), 0, w, 0);
        t_editLocation loc;
        EXPECT_TRUE(ed.Locate(item.data(), uint32_t(item.size()), 0, &loc));
        return loc;
    }
    void ExpectInPlaceEqualsFull() {
        ASSERT_EQ(ed.SaveDirtyInPlace(tabletest::Wide(file).c_str()), 1);
        ASSERT_TRUE(ed.SaveToFile(tabletest::Wide(full).c_str()));
        EXPECT_EQ(tabletest::ReadFile(file), tabletest::ReadFile(full));
    }
};

}  // namespace

TEST(EditableTableFixedTest, InPlaceSaveWithoutMovedRowsEqualsAFullSave) {
    t_fixedCase c(40);
    ASSERT_EQ(Add(c.ed, AttriItem(KeyUnits({1, 1}), 0, "second", 3)),
              4);  // attri append to a stored key
    ASSERT_EQ(Add(c.ed, AttriItem(KeyUnits({2, 50}), 0, "fresh", 3)),
              4);  // new key in its bucket's spare
    ASSERT_TRUE(c.ed.SetFieldAt(I32(99).data(), 4, c.Find(5).attriRow, 4, false));
    const Bytes word = Str("replaced");
    ASSERT_TRUE(c.ed.SetFieldAt(word.data(), uint32_t(word.size()), c.Find(6).attriRow, 0, true));
    // A value that would fit over the old item: the old item lies before the
    // logged appends, so it must be appended and logged, not overwritten.
    const Bytes same = Str("x");
    ASSERT_TRUE(c.ed.SetFieldAt(same.data(), uint32_t(same.size()), c.Find(8).attriRow, 0, true));
    t_fixedState st;
    ASSERT_TRUE(c.ed.GetFixedCapacityState(&st));
    EXPECT_EQ(st.header[13], 0) << "nothing should have set the moved flag";
    c.ExpectInPlaceEqualsFull();
}

TEST(EditableTableFixedTest, InPlaceSaveWithMovedRowsEqualsAFullSave) {
    t_fixedCase c(40);
    ASSERT_TRUE(
        c.ed.SetFieldAt(I32(-4).data(), 4, c.Find(3).keyRow, 4, false));  // key-row field: moved
    const Bytes word = Str("a much longer word");
    ASSERT_TRUE(c.ed.SetFieldAt(word.data(), uint32_t(word.size()), c.Find(7).attriRow, 0, true));
    // Enough keys into one bucket to borrow from a neighbour.
    for (uint16_t i = 100; i < 110; ++i)
        ASSERT_EQ(Add(c.ed, AttriItem(KeyUnits({3, i}), 0, "b", 1)), 4);
    t_fixedState st;
    ASSERT_TRUE(c.ed.GetFixedCapacityState(&st));
    EXPECT_EQ(st.header[13], 1);
    c.ExpectInPlaceEqualsFull();
}

TEST(EditableTableFixedTest, ExhaustedChangeSlotsRefuseTheChangeBeforeWriting) {
    t_fixedCase c(3);
    int accepted = 0;
    for (uint16_t i = 0; i < 6; ++i) {
        const Bytes before = WholeImage(c.ed);
        if (c.ed.SetFieldAt(I32(1000 + i).data(), 4, c.Find(i).attriRow, 4, false))
            ++accepted;
        else
            EXPECT_EQ(WholeImage(c.ed), before) << "refused write " << i << " changed the image";
    }
    EXPECT_EQ(accepted, 3);
    EXPECT_TRUE(c.ed.IsFull());
    // An attri append to a stored key needs a slot for the old last row too.
    const Bytes before = WholeImage(c.ed);
    EXPECT_EQ(Add(c.ed, AttriItem(KeyUnits({1, 1}), 0, "more", 1)), 0);
    EXPECT_EQ(WholeImage(c.ed), before);
    // A write to the row logged last needs no new slot.
    EXPECT_TRUE(c.ed.SetFieldAt(I32(7).data(), 4, c.Find(2).attriRow, 4, false));
    c.ExpectInPlaceEqualsFull();
}

TEST(EditableTableFixedTest, DisturbedRegionOrARemedyRefusesTheInPlaceSave) {
    t_fixedCase c(10);
    ASSERT_TRUE(c.ed.SetFieldAt(I32(5).data(), 4, c.Find(1).attriRow, 4, false));
    const Bytes file = tabletest::ReadFile(c.file);
    t_fixedState st;
    ASSERT_TRUE(c.ed.GetFixedCapacityState(&st));
    st.dirty[0] ^= 1;
    EXPECT_EQ(c.ed.SaveDirtyInPlace(tabletest::Wide(c.file).c_str()), 0);
    EXPECT_EQ(tabletest::ReadFile(c.file), file);
    st.dirty[0] ^= 1;
    int can = 0;
    ASSERT_TRUE(c.ed.CanSaveInPlace(&can));
    EXPECT_EQ(can, 1);
    int32_t keyUsed = 0, attriUsed = 0;
    c.ed.Trim(0, &keyUsed, &attriUsed);  // fails without callbacks, still marks the image grown
    ASSERT_TRUE(c.ed.CanSaveInPlace(&can));
    EXPECT_EQ(can, 0);
    EXPECT_EQ(c.ed.SaveDirtyInPlace(tabletest::Wide(c.file).c_str()), 0);
}

TEST(EditableTableFixedTest, RegionTooSmallOrFileOfAnotherLengthIsRefused) {
    t_fixedCase c(10);
    Bytes small(size_t(c.ed.GetFixedStateSize(50)) - 1);
    EXPECT_FALSE(c.ed.SetFixedCapacityMode(50, small.data(), small.size()));
    EXPECT_TRUE(c.ed.SetFixedCapacityMode(10, nullptr, 0));  // restarts the region given before
    tabletest::WriteFile(c.file, Bytes(100, 0));
    EXPECT_EQ(c.ed.SaveDirtyInPlace(tabletest::Wide(c.file).c_str()), 0);
}

// ---------------------------------------------------------------- trims

namespace {

// Key-only rows rank by their value; a removed row gets value -1; values of
// 1000 and above are protected.
bool LessByValue(const uint8_t* a, const uint8_t* b) {
    return RdI32(a + 4) < RdI32(b + 4);
}
int RemoveRow(uint8_t* row, uint8_t*, void* ctx, int) {
    ++*static_cast<int*>(ctx);
    Wr32(row + 4, uint32_t(-1));
    return 1;
}
// Value 2 marks a row the owner must keep although it ranks low.
int StateByValue(const uint8_t* row, void*) {
    const int32_t v = RdI32(row + 4);
    return v < 0 ? kRowRemoved : v == 2 ? kRowProtected : kRowLive;
}
// Attri rows rank by freq (second field), removed freq -1.
bool LessByFreq(const uint8_t* a, const uint8_t* b) {
    return RdI32(a + 4) < RdI32(b + 4);
}
int StateByFreq(const uint8_t* row, void*) {
    return RdI32(row + 4) < 0 ? kRowRemoved : kRowLive;
}

struct t_trimCase {
    t_shape shape;
    Bytes image;
    int removed = 0;
    std::unique_ptr<t_editableTableFile> ed;
    t_trimCase(bool attri, uint32_t mode) {
        shape.attri = attri;
        shape.buckets = 4;
        shape.keyRows = 40;
        shape.attriRows = 40;
        image = EmptyImage(shape);
        t_editTrimCallbacks cb{attri ? &LessByFreq : &LessByValue, &RemoveRow, &removed,
                               attri ? &StateByFreq : &StateByValue, nullptr};
        (void)mode;
        ed = std::make_unique<t_editableTableFile>(std::vector<t_editTrimCallbacks>{cb},
                                                   int32_t(shape.extraSize));
        EXPECT_TRUE(Attach(*ed, shape, image));
    }
};

std::vector<int32_t> Values(const std::vector<t_entry>& entries, bool attri) {
    std::vector<int32_t> v;
    for (const t_entry& e : entries) v.push_back(attri ? std::get<3>(e) : std::get<1>(e));
    std::sort(v.begin(), v.end());
    return v;
}

}  // namespace

TEST(EditableTableTrimTest, KeyTrimRemovesTheLowestTwoFifthsAndKeepsProtectedRows) {
    t_trimCase c(false, 0);
    const int32_t values[] = {5, 1, 1500, 9, 3, 7, 2, 8, 1200, 4};  // 2 is protected
    for (int i = 0; i < 10; ++i)
        ASSERT_EQ(Add(*c.ed, KeyItem(KeyUnits({uint16_t(i % 4), uint16_t(i)}), values[i],
                                     "t" + std::to_string(i))),
                  4);
    int32_t keyUsed = -1, attriUsed = -1;
    ASSERT_NE(c.ed->Trim(0, &keyUsed, &attriUsed), 0);
    EXPECT_EQ(c.removed, 4);
    EXPECT_EQ(keyUsed, 6);
    EXPECT_EQ(Values(Dump(*c.ed, c.shape), false), (std::vector<int32_t>{2, 7, 8, 9, 1200, 1500}));
    EXPECT_EQ(c.ed->GetCheckNum(), tabletest::ExpectedCheck(WholeImage(*c.ed)));
    ExpectBucketsConsistent(*c.ed);
    ExpectReattaches(*c.ed, c.shape);
    // The texts of the kept rows moved with them into a compacted table.
    for (const t_entry& e : Dump(*c.ed, c.shape)) EXPECT_EQ(std::get<2>(e).substr(0, 1), "t");
}

// A table without a spare row (filled while its trims freed nothing) is
// trimmed before the next add, which then goes in; it used to refuse every
// add, the trim that would make room never running.
TEST(EditableTableTrimTest, AFullTableTrimsFirstThenAdds) {
    t_trimCase c(true, 0);
    std::unique_ptr<t_editableTableFile> quiet = QuietFile(c.shape);
    Bytes filled = EmptyImage(c.shape);
    ASSERT_TRUE(Attach(*quiet, c.shape, filled));
    uint16_t n = 0;
    while (Add(*quiet, AttriItem(KeyUnits({uint16_t(n % 4), n}), 0, "w", n)) != 0) ++n;
    ASSERT_EQ(quiet->GetAttriUsedCount(0), int32_t(c.shape.attriRows));
    c.image = WholeImage(*quiet);
    ASSERT_TRUE(Attach(*c.ed, c.shape, c.image));
    ASSERT_EQ(Add(*c.ed, AttriItem(KeyUnits({1, 500}), 0, "new", 1000)), 3);
    EXPECT_GT(c.removed, 0);
    const std::vector<t_entry> entries = Dump(*c.ed, c.shape);
    EXPECT_EQ(std::count(entries.begin(), entries.end(), t_entry{{1, 500}, 0, "new", 1000}), 1);
    ExpectBucketsConsistent(*c.ed);
}

TEST(EditableTableTrimTest, TrimOfFourRowsRemovesOneAndAlreadyRemovedRowsCount) {
    t_trimCase c(false, 0);
    for (int i = 0; i < 4; ++i)
        ASSERT_EQ(Add(*c.ed, KeyItem(KeyUnits({1, uint16_t(i)}), 10 + i, "x")), 4);
    int32_t keyUsed = 0;
    ASSERT_NE(c.ed->Trim(0, &keyUsed, nullptr), 0);
    EXPECT_EQ(c.removed, 1);
    EXPECT_EQ(keyUsed, 3);
    // Five rows of which two are already removed: the target of two is met
    // by them, so no live row is offered.
    t_trimCase d(false, 0);
    for (int i = 0; i < 5; ++i)
        ASSERT_EQ(Add(*d.ed, KeyItem(KeyUnits({2, uint16_t(i)}), i < 2 ? -1 : 20 + i, "y")), 4);
    ASSERT_NE(d.ed->Trim(0, &keyUsed, nullptr), 0);
    EXPECT_EQ(d.removed, 0);
    EXPECT_EQ(keyUsed, 3);
}

TEST(EditableTableTrimTest, AttriTrimDropsKeysWhoseEveryRowWentAndHonoursKeep) {
    t_trimCase c(true, 0);
    // Key A has only low rows; key B mixes; key C is high.
    for (int32_t f : {1, 2})
        ASSERT_NE(Add(*c.ed, AttriItem(KeyUnits({0, 1}), 7, "a" + std::to_string(f), f)), 0);
    for (int32_t f : {3, 50})
        ASSERT_NE(Add(*c.ed, AttriItem(KeyUnits({0, 2}), 8, "b" + std::to_string(f), f)), 0);
    for (int32_t f : {60, 70, 80, 90})
        ASSERT_NE(Add(*c.ed, AttriItem(KeyUnits({3, 3}), 9, "c" + std::to_string(f), f)), 0);
    int32_t keyUsed = 0, attriUsed = 0;
    ASSERT_NE(c.ed->TrimWithAttri(0, &keyUsed, &attriUsed, 0), 0);  // 8 rows: remove 3
    EXPECT_EQ(attriUsed, 5);
    EXPECT_EQ(keyUsed, 2);
    std::vector<t_entry> d = Dump(*c.ed, c.shape);
    EXPECT_EQ(Values(d, true), (std::vector<int32_t>{50, 60, 70, 80, 90}));
    for (const t_entry& e : d) EXPECT_NE(std::get<0>(e), (std::vector<uint16_t>{0, 1}));
    EXPECT_EQ(c.ed->GetCheckNum(), tabletest::ExpectedCheck(WholeImage(*c.ed)));
    ExpectReattaches(*c.ed, c.shape);
    // keep = 2 of 5: three more go; a keep larger than the rows falls back to two fifths.
    ASSERT_NE(c.ed->TrimWithAttri(0, &keyUsed, &attriUsed, 2), 0);
    EXPECT_EQ(Values(Dump(*c.ed, c.shape), true), (std::vector<int32_t>{80, 90}));
    ASSERT_NE(c.ed->TrimWithAttri(0, &keyUsed, &attriUsed, 100), 0);  // two fifths of 2 rows: none
    EXPECT_EQ(Values(Dump(*c.ed, c.shape), true), (std::vector<int32_t>{80, 90}));
    // The trimmed table takes new items again.
    EXPECT_EQ(Add(*c.ed, AttriItem(KeyUnits({0, 1}), 1, "again", 5)), 4);
    ExpectReattaches(*c.ed, c.shape);
}

TEST(EditableTableTrimTest, KeepAboveTheRowCountFallsBackToTwoFifths) {
    t_trimCase c(true, 0);
    for (int32_t f : {10, 20, 30, 40, 50})
        ASSERT_NE(Add(*c.ed, AttriItem(KeyUnits({1, uint16_t(f)}), 1, "w", f)), 0);
    int32_t keyUsed = 0, attriUsed = 0;
    ASSERT_NE(c.ed->TrimWithAttri(0, &keyUsed, &attriUsed, 6), 0);  // 6 > 5 rows: remove 5 x 2 / 5
    EXPECT_EQ(c.removed, 2);
    EXPECT_EQ(attriUsed, 3);
    EXPECT_EQ(Values(Dump(*c.ed, c.shape), true), (std::vector<int32_t>{30, 40, 50}));
    ASSERT_NE(c.ed->TrimWithAttri(0, &keyUsed, &attriUsed, 3), 0);  // keep all 3: nothing goes
    EXPECT_EQ(c.removed, 2);
    EXPECT_EQ(attriUsed, 3);
}

// A damaged image whose chains share rows: key B links into key A's chain, so
// the chains hold more rows than the attri table has. A trim (whose owner
// removes nothing, as the key map's) must refuse instead of rebuilding more
// rows than there is room for and leaving a used count no reader accepts.
TEST(EditableTableTrimTest, ChainsSharingRowsBeyondTheTableAreRefusedUntouched) {
    t_shape s;
    s.buckets = 4;
    s.keyRows = 8;
    s.attriRows = 8;
    Bytes image = EmptyImage(s);
    auto removeNothing = [](uint8_t*, uint8_t*, void*, int) { return 1; };
    t_editableTableFile ed({{&LessByFreq, removeNothing, nullptr, &StateByFreq, nullptr}},
                           int32_t(s.extraSize));
    ASSERT_TRUE(Attach(ed, s, image));
    const Bytes a = KeyUnits({1, 1}), b = KeyUnits({2, 2});
    for (int32_t f = 1; f <= 5; ++f)
        ASSERT_NE(Add(ed, AttriItem(a, 1, "a" + std::to_string(f), f)), 0);
    ASSERT_NE(Add(ed, AttriItem(b, 2, "b", 9)), 0);
    t_editLocation la, lb;
    ASSERT_TRUE(ed.Locate(AttriItem(a, 1, "a1", 1).data(),
                          uint32_t(AttriItem(a, 1, "a1", 1).size()), 0, &la));
    ASSERT_TRUE(ed.Locate(AttriItem(b, 2, "b", 9).data(), uint32_t(AttriItem(b, 2, "b", 9).size()),
                          0, &lb));
    const uint32_t link = ed.GetLayout().keyLayouts[0].linkOffset;
    Wr32(lb.keyRow.ptr + link, Rd32(la.keyRow.ptr + link));
    const Bytes before = WholeImage(ed);

    int32_t keyUsed = 0, attriUsed = 0;
    EXPECT_EQ(ed.TrimWithAttri(0, &keyUsed, &attriUsed, 0), 0);
    EXPECT_EQ(ed.GetAttriUsedCount(0), 6);
    EXPECT_EQ(WholeImage(ed), before);
    ExpectReattaches(ed, s);
}

TEST(EditableTableTrimTest, TrimWithoutCallbacksFailsAndChangesNothing) {
    t_shape s;
    Bytes image = EmptyImage(s);
    t_editableTableFile ed(nullptr, nullptr, nullptr, nullptr, nullptr, int32_t(s.extraSize));
    ASSERT_TRUE(Attach(ed, s, image));
    ASSERT_EQ(Add(ed, AttriItem(KeyUnits({1, 1}), 1, "w", 1)), 4);
    const Bytes before = WholeImage(ed);
    EXPECT_EQ(ed.Trim(0, nullptr, nullptr), 0);
    EXPECT_EQ(WholeImage(ed), before);
}

// ---------------------------------------------------------------- repeated trims

namespace {

// An owner that keeps every row of frequency above 2, as the user words do.
int g_lessCalls = 0;
bool LessCounted(const uint8_t* a, const uint8_t* b) {
    ++g_lessCalls;
    return RdI32(a + 4) < RdI32(b + 4);
}
int RemoveLow(uint8_t* row, uint8_t*, void* ctx, int) {
    if (RdI32(row + 4) > 2) return 0;
    ++*static_cast<int*>(ctx);
    Wr32(row + 4, uint32_t(-1));
    return 1;
}

// One step on both files: an add, a frequency written through SetFieldAt or
// through the row's pointer (the owner then says so), or a trim keeping n.
struct t_step {
    enum { kAdd, kSetFreq, kPokeFreq, kTrimKeeping } op;
    uint16_t bucket, id;
    std::string word;
    int32_t value;
};

// The same steps on a file with quick trims and on one without: after every
// step both hold the same rows, and the owner removed the same number.
struct t_twinFiles {
    t_shape shape;
    Bytes quickImage, fullImage;
    int quickRemoved = 0, fullRemoved = 0;
    std::unique_ptr<t_editableTableFile> quick, full;
    explicit t_twinFiles(uint32_t rows) {
        shape.buckets = 4;
        shape.keyRows = rows;
        shape.attriRows = rows;
        shape.keyBytes = shape.valueBytes = rows * 16;
        quickImage = fullImage = EmptyImage(shape);
        quick = std::make_unique<t_editableTableFile>(
            std::vector<t_editTrimCallbacks>{
                {&LessCounted, &RemoveLow, &quickRemoved, &StateByFreq, nullptr}},
            int32_t(shape.extraSize));
        full = std::make_unique<t_editableTableFile>(
            std::vector<t_editTrimCallbacks>{
                {&LessCounted, &RemoveLow, &fullRemoved, &StateByFreq, nullptr}},
            int32_t(shape.extraSize));
        quick->EnableQuickTrims(0);
        EXPECT_TRUE(Attach(*quick, shape, quickImage));
        EXPECT_TRUE(Attach(*full, shape, fullImage));
    }
    // The less calls the quick file made for the step.
    int Apply(const t_step& st) {
        int calls = 0;
        int results[2];
        for (int i = 0; i < 2; ++i) {
            t_editableTableFile& ed = i == 0 ? *quick : *full;
            g_lessCalls = 0;
            const Bytes item = AttriItem(KeyUnits({st.bucket, st.id}), 0, st.word, st.value);
            t_editLocation loc;
            int32_t keyUsed = 0, attriUsed = 0;
            switch (st.op) {
                case t_step::kAdd:
                    results[i] = Add(ed, item);
                    break;
                case t_step::kSetFreq:
                case t_step::kPokeFreq:
                    EXPECT_TRUE(ed.Locate(item.data(), uint32_t(item.size()), 0, &loc));
                    EXPECT_TRUE(loc.itemFound) << st.word;
                    if (st.op == t_step::kSetFreq) {
                        results[i] = ed.SetFieldAt(I32(st.value).data(), 4, loc.attriRow, 4, false);
                    } else {
                        Wr32(loc.attriRow.ptr + 4, uint32_t(st.value));
                        ed.NoteRowsChanged();
                        results[i] = 1;
                    }
                    break;
                case t_step::kTrimKeeping:
                    results[i] = ed.TrimWithAttri(0, &keyUsed, &attriUsed, st.value);
                    break;
            }
            if (i == 0) calls = g_lessCalls;
        }
        EXPECT_EQ(results[0], results[1]) << st.word;
        EXPECT_EQ(Dump(*quick, shape), Dump(*full, shape)) << "after " << st.word;
        EXPECT_EQ(quickRemoved, fullRemoved) << "after " << st.word;
        // Nothing leaves dead bytes here, so a rebuild compacts nothing away.
        for (int d = 0; d < 2; ++d)
            EXPECT_EQ(quick->GetDataUsed(d), full->GetDataUsed(d)) << "after " << st.word;
        return calls;
    }
};

t_step AddWord(int i, int32_t freq, bool ownKey = true) {
    return {t_step::kAdd, uint16_t(i % 4), uint16_t(ownKey ? i : i % 8), "w" + std::to_string(i),
            freq};
}

}  // namespace

TEST(EditableTableTrimTest, QuickTrimsKeepTheRowsOfFullTrims) {
    struct t_case {
        const char* name;
        uint32_t rows;
        std::vector<t_step> steps;
        int maxLessCallsPerStep;  // after the first trim; -1: not bounded
    };
    // A table held nearly full by rows the owner keeps, then a stream of
    // words used once (removed at once) and of words it keeps.
    auto stream = [](uint32_t rows, int count) {
        std::vector<t_step> v;
        const int held = int(rows * 9 / 10);
        for (int i = 0; i < held; ++i) v.push_back(AddWord(i, 5 + i % 3));
        for (int i = held; i < held + count; ++i)
            v.push_back(AddWord(i, i % 5 == 0 ? 9 : i % 5 == 1 ? 0 : 1, i % 2 == 0));
        return v;
    };
    std::vector<t_case> cases{
        {"a nearly full table takes words it drops and words it keeps", 400, stream(400, 35), 40},
        {"rows changed since the last trim are offered again", 40,
         [&] {
             std::vector<t_step> v = stream(40, 1);
             v.push_back({t_step::kSetFreq, 1, 1, "w1", 2});   // now removable
             v.push_back({t_step::kSetFreq, 2, 2, "w2", -1});  // removed by its owner
             v.push_back({t_step::kSetFreq, 3, 3, "w3", 8});   // still kept
             v.push_back(AddWord(50, 1));
             v.push_back({t_step::kPokeFreq, 0, 4, "w4", 1});
             v.push_back(AddWord(51, 7, false));
             v.push_back(AddWord(52, 1, false));
             return v;
         }(),
         -1},
        {"more removable rows than the target leave the choice to the ranking", 40,
         [&] {
             std::vector<t_step> v;
             for (int i = 0; i < 36; ++i) v.push_back(AddWord(i, i < 13 ? 1 : 6));
             for (int i = 36; i < 48; ++i) v.push_back(AddWord(i, 1 + i % 2));
             v.push_back({t_step::kTrimKeeping, 0, 0, "keep 30", 30});
             for (int i = 49; i < 60; ++i) v.push_back(AddWord(i, 1, false));
             return v;
         }(),
         -1},
    };
    for (const t_case& c : cases) {
        SCOPED_TRACE(c.name);
        t_twinFiles f(c.rows);
        bool trimmed = false;
        for (const t_step& st : c.steps) {
            const int removedBefore = f.fullRemoved;
            const int calls = f.Apply(st);
            if (trimmed && c.maxLessCallsPerStep >= 0) {
                EXPECT_LE(calls, c.maxLessCallsPerStep) << st.word;
            }
            trimmed = trimmed || f.fullRemoved > removedBefore;
        }
        EXPECT_GT(f.fullRemoved, 0) << "no step trimmed";
        EXPECT_EQ(f.quick->GetCheckNum(), tabletest::ExpectedCheck(WholeImage(*f.quick)));
        ExpectBucketsConsistent(*f.quick);
        ExpectReattaches(*f.quick, f.shape);
    }
}

// ---------------------------------------------------------------- growth modes

namespace {

struct t_growthCase {
    t_shape shape;
    t_owner owner;
    int removed = 0;
    std::unique_ptr<t_editableTableFile> ed;
    t_growthCase(bool keep, bool doubling = false) {
        shape.buckets = 4;
        shape.keyRows = 20;
        shape.attriRows = 20;
        owner.image = std::make_unique<Bytes>(EmptyImage(shape));
        if (doubling)
            ed = std::make_unique<t_editableTableFile>(&t_owner::OnGrown, &owner,
                                                       int32_t(shape.extraSize));
        else
            ed = std::make_unique<t_editableTableFile>(&t_owner::OnGrown, &owner, &LessByFreq,
                                                       &RemoveRow, &removed, &StateByFreq, nullptr,
                                                       int32_t(shape.extraSize), nullptr, keep);
        EXPECT_TRUE(Attach(*ed, shape, *owner.image));
    }
    // Adds until a remedy runs; returns its result.
    int FillUntilRemedy(int32_t* maxKey, int32_t* maxAttri) {
        for (uint16_t i = 0; i < 100; ++i) {
            int32_t k = maxKey ? *maxKey : 0, a = maxAttri ? *maxAttri : 0;
            const int r = Add(*ed, AttriItem(KeyUnits({uint16_t(i % 4), i}), 0, "w", i),
                              maxKey ? &k : nullptr, maxAttri ? &a : nullptr);
            if (r != 4) return r;
        }
        return -1;
    }
};

}  // namespace

TEST(EditableTableGrowthTest, DoublingKeepsEveryItemAndDoublesTheTables) {
    t_growthCase c(true, true);
    ASSERT_EQ(c.FillUntilRemedy(nullptr, nullptr), 2);
    EXPECT_EQ(c.ed->GetKeyRowCount(0), 40);
    EXPECT_EQ(c.ed->GetAttriRowCount(0), 40);
    EXPECT_EQ(c.ed->GetDataSize(0), int32_t(2 * c.shape.keyBytes));
    EXPECT_EQ(Dump(*c.ed, c.shape).size(), 18u);
    EXPECT_EQ(c.ed->GetCheckNum(), tabletest::ExpectedCheck(WholeImage(*c.ed)));
    ExpectBucketsConsistent(*c.ed);
    ExpectReattaches(*c.ed, c.shape);
    EXPECT_EQ(c.ed->Trim(0, nullptr, nullptr), 0) << "doubling mode never trims";
}

TEST(EditableTableGrowthTest, RefusedGrowthNoticeKeepsTheOldImage) {
    t_growthCase c(true, true);
    c.owner.refuse = true;
    ASSERT_EQ(c.FillUntilRemedy(nullptr, nullptr), 0);
    EXPECT_TRUE(c.ed->IsAttached());
    EXPECT_EQ(c.ed->GetKeyRowCount(0), 20);
    EXPECT_EQ(Dump(*c.ed, c.shape).size(), 18u);  // the add that asked for room went in
}

TEST(EditableTableGrowthTest, ModeTwoDoublesWithinLimitsTrimsBeyondAndFailsWithout) {
    int32_t big = 1000, bigA = 1000, small = 30, smallA = 1000;
    t_growthCase within(true);
    EXPECT_EQ(within.FillUntilRemedy(&big, &bigA), 2);
    t_growthCase beyond(true);
    EXPECT_EQ(beyond.FillUntilRemedy(&small, &smallA), 3);
    EXPECT_GT(beyond.removed, 0);
    EXPECT_EQ(beyond.ed->GetKeyRowCount(0), 20);
    t_growthCase none(true);
    EXPECT_EQ(none.FillUntilRemedy(&big, nullptr), 0);  // an attri key needs both limits
}

TEST(EditableTableGrowthTest, ModeThreeDoublesWithoutALimitAndTrimsWithOne) {
    t_growthCase nullMode(false);
    EXPECT_EQ(nullMode.FillUntilRemedy(nullptr, nullptr), 2);
    int32_t limit = 1000, limitA = 1000;
    t_growthCase limited(false);
    EXPECT_EQ(limited.FillUntilRemedy(&limit, &limitA), 3);
}

TEST(EditableTableGrowthTest, TrimWritesTheNewUsedCountsThroughTheLimits) {
    t_growthCase c(true);
    int32_t k = 30, a = 1000;
    int r = 4;
    for (uint16_t i = 0; r == 4; ++i) {
        k = 30;
        a = 1000;
        r = Add(*c.ed, AttriItem(KeyUnits({uint16_t(i % 4), i}), 0, "w", i), &k, &a);
    }
    ASSERT_EQ(r, 3);
    EXPECT_EQ(k, c.ed->GetKeyUsedCount(0));
    EXPECT_EQ(a, c.ed->GetAttriUsedCount(0));
}

// ---------------------------------------------------------------- compact images

namespace {

struct t_compactCase {
    t_shape shape;
    t_owner owner;
    Bytes image;
    std::unique_ptr<t_editableTableFile> ed;
    t_compactCase() {
        shape.buckets = 6;
        image = EmptyImage(shape);
        ed = NewFile();
        EXPECT_TRUE(Attach(*ed, shape, image));
        std::mt19937 rng(5);
        for (uint16_t i = 0; i < 40; ++i)
            Add(*ed, AttriItem(KeyUnits({uint16_t(rng() % 6), uint16_t(rng() % 9)}), i,
                               std::string(1 + i % 4, 'a' + i % 5), i));
        ed->GetExtraData(int32_t(shape.extraSize))[3] = 0x11;
    }
    std::unique_ptr<t_editableTableFile> NewFile() {
        return std::make_unique<t_editableTableFile>(
            &t_owner::OnGrown, &owner, nullptr, nullptr, nullptr, nullptr, nullptr,
            int32_t(shape.extraSize), &t_owner::Alloc, true);
    }
    Bytes Compact() {
        Bytes out(WholeImage(*ed).size());
        uint64_t n = 0;
        EXPECT_EQ(ed->CompactImageInto(out.data(), out.size(), &n), 1);
        out.resize(size_t(n));
        return out;
    }
};

// Header, bucket arrays, used rows and used bytes of two images are equal.
void ExpectSameUsedParts(const t_editableTableFile& a, const t_editableTableFile& b) {
    ASSERT_EQ(a.GetTotalSize(), b.GetTotalSize());
    const uint8_t* ia = a.GetImage();
    const uint8_t* ib = b.GetImage();
    const size_t head = 8 + size_t(a.Reader().GetConfigSize()) + size_t(a.Reader().GetHeadSize());
    EXPECT_TRUE(std::equal(ia, ia + head, ib));
    const int32_t rs = a.GetKeyRowSize(0);
    for (int bk = 0; bk < a.GetBucketCount(0); ++bk) {
        ASSERT_EQ(a.GetBucketStart(0, bk), b.GetBucketStart(0, bk));
        ASSERT_EQ(a.GetBucketRowCount(0, bk), b.GetBucketRowCount(0, bk));
        const uint8_t* ra = a.GetBucketRow(0, 0, a.GetBucketStart(0, bk));
        const uint8_t* rb = b.GetBucketRow(0, 0, b.GetBucketStart(0, bk));
        if (a.GetBucketRowCount(0, bk) > 0) {
            EXPECT_TRUE(std::equal(ra, ra + size_t(a.GetBucketRowCount(0, bk)) * size_t(rs), rb));
        }
    }
    const size_t attriBytes = size_t(a.GetAttriUsedCount(0)) * size_t(a.GetAttriRowSize(0));
    EXPECT_TRUE(
        std::equal(a.GetAttriRow(0, 0), a.GetAttriRow(0, 0) + attriBytes, b.GetAttriRow(0, 0)));
    for (int d = 0; d < a.GetDataCount(); ++d) {
        const uint8_t* da = reinterpret_cast<const uint8_t*>(a.GetDataPtr(d, 0));
        const uint8_t* db = reinterpret_cast<const uint8_t*>(b.GetDataPtr(d, 0));
        EXPECT_TRUE(std::equal(da, da + a.GetDataUsed(d), db));
    }
    EXPECT_TRUE(std::equal(ia + a.GetTotalSize() - 4 - a.GetExtraSize(), ia + a.GetTotalSize(),
                           ib + b.GetTotalSize() - 4 - b.GetExtraSize()));
}

}  // namespace

TEST(EditableTableCompactTest, SaveLoadAndExpandRoundTripEveryUsedRowAndByte) {
    t_compactCase c;
    const std::string path = Path("compact.bin");
    ASSERT_EQ(c.ed->SaveCompact(tabletest::Wide(path).c_str()), 1);
    const Bytes compact = tabletest::ReadFile(path);
    EXPECT_EQ(compact, c.Compact());
    EXPECT_LT(compact.size(), WholeImage(*c.ed).size());

    std::unique_ptr<t_editableTableFile> loaded = c.NewFile();
    ConfigureBuckets(*loaded, c.shape);
    ASSERT_EQ(loaded->LoadCompactImage(compact.data(), compact.size(), {}, {}, kVersion), 1)
        << (loaded->GetLastError() ? loaded->GetLastError() : "");
    EXPECT_EQ(Dump(*loaded, c.shape), Dump(*c.ed, c.shape));
    ExpectSameUsedParts(*c.ed, *loaded);

    uint64_t itemsOffset = 0;
    const uint64_t size = loaded->GetExpandedSize(compact.data(), compact.size(), &itemsOffset);
    ASSERT_EQ(size, uint64_t(c.ed->GetTotalSize()));
    EXPECT_EQ(itemsOffset, 8 + uint64_t(c.ed->Reader().GetConfigSize()) +
                               uint64_t(c.ed->Reader().GetHeadSize()));
    Bytes expanded(static_cast<size_t>(size));
    ASSERT_EQ(
        loaded->ExpandImageInto(compact.data(), compact.size(), expanded.data(), expanded.size()),
        1);
    EXPECT_EQ(expanded, WholeImage(*loaded));
    // The loaded image takes new items.
    EXPECT_EQ(Add(*loaded, AttriItem(KeyUnits({1, 77}), 1, "new", 1)), 4);
}

TEST(EditableTableCompactTest, CutOrInflatedCompactImagesAreRefusedWithoutAllocating) {
    t_compactCase c;
    const Bytes compact = c.Compact();
    std::unique_ptr<t_editableTableFile> loaded = c.NewFile();
    ConfigureBuckets(*loaded, c.shape);
    for (size_t n = 0; n < compact.size(); ++n)
        ASSERT_EQ(loaded->LoadCompactImage(compact.data(), n, {}, {}, kVersion), 0)
            << "cut at " << n;
    Bytes longer = compact;
    longer.push_back(0);
    EXPECT_EQ(loaded->LoadCompactImage(longer.data(), longer.size(), {}, {}, kVersion), 0);

    const size_t header = 8 + size_t(c.ed->Reader().GetConfigSize());
    auto inflate = [&](size_t at, uint32_t value) {
        Bytes bad = compact;
        Wr32(bad.data() + at, value);
        return loaded->LoadCompactImage(bad.data(), bad.size(), {}, {}, kVersion);
    };
    const size_t records = header + kHeaderFixedSize;
    EXPECT_EQ(inflate(header + 8, 0x7FFFFFF0), 0);                          // items size
    EXPECT_EQ(inflate(records + 8, 0x7FFFFFF0), 0);                         // key rows used
    EXPECT_EQ(inflate(records + 4, 0x7FFFFFF0), 0);                         // key rows allocated
    EXPECT_EQ(inflate(records + 3 * kTableRecordSize + 8, 0x7FFFFFF0), 0);  // data bytes used
    EXPECT_EQ(inflate(records + 4 * kTableRecordSize, 0x7FFFFFF0), 0);      // data table offset
    EXPECT_EQ(inflate(compact.size() - 4 - c.shape.extraSize, 0x7FFFFFF0), 0);  // extra size
    EXPECT_EQ(inflate(4, 0x7FFFFFF0), 0);                                       // config size
    // A bucket that claims more rows than the image carries.
    const size_t buckets = header + size_t(c.ed->Reader().GetHeadSize());
    EXPECT_EQ(inflate(buckets + 4, 0x00100000), 0);
    EXPECT_TRUE(c.owner.allocRequests.empty()) << "a damaged image asked for a buffer";
    // A flipped config byte passes the length checks and fails the check number.
    Bytes flipped = compact;
    flipped[8 + 12] ^= 0x01;  // key type of table 0
    EXPECT_EQ(loaded->LoadCompactImage(flipped.data(), flipped.size(), {}, {}, kVersion), 0);
}

TEST(EditableTableCompactTest, InflatedSizesThatAddUpAreRefusedBeforeAnyBuffer) {
    // The items size and the last table's allocation grown together still
    // add up, so only the check number tells: it is checked before the
    // owner is asked for a buffer.
    t_compactCase c;
    const Bytes compact = c.Compact();
    std::unique_ptr<t_editableTableFile> loaded = c.NewFile();
    ConfigureBuckets(*loaded, c.shape);
    const size_t header = 8 + size_t(c.ed->Reader().GetConfigSize());
    const size_t lastData =
        header + kHeaderFixedSize + 3 * kTableRecordSize;  // key, attri, data 0, data 1
    const uint32_t grow = 8u << 20;
    Bytes bad = compact;
    Wr32(bad.data() + header + 8, Rd32(bad.data() + header + 8) + grow);
    Wr32(bad.data() + lastData + 4, Rd32(bad.data() + lastData + 4) + grow);
    EXPECT_EQ(loaded->GetExpandedSize(bad.data(), bad.size(), nullptr), 0u);
    EXPECT_EQ(loaded->LoadCompactImage(bad.data(), bad.size(), {}, {}, kVersion), 0);
    EXPECT_TRUE(c.owner.allocRequests.empty()) << "an inflated image asked for a buffer";
    // With the check number made right the image is consistent and loads.
    tabletest::FixCheck(bad);
    EXPECT_EQ(loaded->LoadCompactImage(bad.data(), bad.size(), {}, {}, kVersion), 1);
    EXPECT_EQ(Dump(*loaded, c.shape), Dump(*c.ed, c.shape));
}

TEST(EditableTableCompactTest, CompactOperationsNeedTheCompactMode) {
    t_shape s;
    Bytes image = EmptyImage(s);
    t_editableTableFile ed(nullptr, nullptr, nullptr, nullptr, nullptr, int32_t(s.extraSize));
    ASSERT_TRUE(Attach(ed, s, image));
    Bytes out(image.size());
    uint64_t n = 0;
    EXPECT_EQ(ed.CompactImageInto(out.data(), out.size(), &n), 0);
    EXPECT_EQ(ed.SaveCompact(tabletest::Wide(Path("nocompact.bin")).c_str()), 0);
    EXPECT_EQ(ed.GetExpandedSize(image.data(), image.size(), nullptr), 0u);
    EXPECT_EQ(ed.LoadCompactImage(image.data(), image.size(), {}, {}, kVersion), 0);
}

// ---------------------------------------------------------------- two key tables

namespace {

// Key table 0 as the attri layout; key table 1 key-only, sharing data table 0
// (key strings) with key 0 and keeping its values in data table 2.
struct t_twoTables {
    t_shape shape;
    t_owner owner;
    int removed = 0;
    std::unique_ptr<t_editableTableFile> ed;
    explicit t_twoTables(bool doubling) {
        std::vector<t_keyDesc> keys{tabletest::Key(2, {0, 7, 0, 7}, 0, 0, kNone, 20),
                                    tabletest::Key(2, {0, 7, 0}, kNone, 0, 2, 20)};
        t_attriDesc a;
        a.fieldCount = 2;
        a.dataTable = 1;
        a.capacity = 20;
        const std::vector<int32_t> buckets{4, 4};
        Bytes extra(shape.extraSize, 0);
        t_tableFileBuilder b(keys, {a}, {4096, 4096, 4096}, 7, kVersion, {}, {}, extra.data(),
                             shape.extraSize, &buckets);
        owner.image = std::make_unique<Bytes>(size_t(b.GetTotalSize(nullptr)));
        EXPECT_TRUE(b.BuildToBuffer(owner.image->data(), int64_t(owner.image->size())));
        t_editTrimCallbacks cb{&LessByFreq, &RemoveRow, &removed, &StateByFreq, nullptr};
        if (doubling)
            ed = std::make_unique<t_editableTableFile>(&t_owner::OnGrown, &owner,
                                                       int32_t(shape.extraSize));
        else
            ed = std::make_unique<t_editableTableFile>(std::vector<t_editTrimCallbacks>{cb, {}},
                                                       int32_t(shape.extraSize));
        ed->SetBucketCount(0, 4);
        ed->SetBucketCount(1, 4);
        EXPECT_TRUE(ed->AttachWithExtra(owner.image->data(), kVersion, {}, {},
                                        int64_t(owner.image->size())));
        for (uint16_t i = 0; i < 6; ++i) {
            const Bytes k1 = KeyItem(KeyUnits({uint16_t(i % 4), uint16_t(100 + i)}), i,
                                     "other" + std::to_string(i));
            EXPECT_EQ(ed->AddItem(k1.data(), uint32_t(k1.size()), 1, nullptr, nullptr), 4);
        }
    }
    std::vector<std::string> OtherTable() const {
        std::vector<std::pair<const uint8_t*, const uint8_t*>> pairs;
        EXPECT_TRUE(ed->CollectItems(1, pairs));
        std::vector<std::string> out;
        for (const auto& p : pairs) {
            const t_lstr* key = ed->GetRowKey(1, p.first);
            const t_lstr* text = ed->GetDataPtr(2, Rd32(p.first + 8));
            out.push_back(key && text ? std::to_string(LstrGetUnit(key, 1)) + tabletest::Text(text)
                                      : "<bad>");
        }
        std::sort(out.begin(), out.end());
        return out;
    }
};

}  // namespace

TEST(EditableTableGrowthTest, DoubleCarriesOverTheTablesOfOtherKeys) {
    t_twoTables t(true);
    const std::vector<std::string> before = t.OtherTable();
    ASSERT_EQ(before.size(), 6u);
    int r = 4;
    for (uint16_t i = 0; r == 4; ++i) {
        const Bytes item = AttriItem(KeyUnits({uint16_t(i % 4), i}), 0, "w", i);
        r = t.ed->AddItem(item.data(), uint32_t(item.size()), 0, nullptr, nullptr);
    }
    ASSERT_EQ(r, 2);
    EXPECT_EQ(t.OtherTable(), before);
    EXPECT_EQ(t.ed->GetKeyRowCount(1), 20);
    EXPECT_EQ(t.ed->GetCheckNum(), tabletest::ExpectedCheck(WholeImage(*t.ed)));
    const Bytes more = KeyItem(KeyUnits({1, 200}), 1, "later");
    EXPECT_EQ(t.ed->AddItem(more.data(), uint32_t(more.size()), 1, nullptr, nullptr), 4);
}

TEST(EditableTableTrimTest, TrimLeavesADataTableSharedWithAnotherKeyInPlace) {
    t_twoTables t(false);
    const std::vector<std::string> before = t.OtherTable();
    for (uint16_t i = 0; i < 10; ++i) {
        const Bytes item = AttriItem(KeyUnits({uint16_t(i % 4), i}), 0, "w", i);
        ASSERT_EQ(t.ed->AddItem(item.data(), uint32_t(item.size()), 0, nullptr, nullptr), 4);
    }
    int32_t keyUsed = 0, attriUsed = 0;
    ASSERT_NE(t.ed->Trim(0, &keyUsed, &attriUsed), 0);
    EXPECT_EQ(attriUsed, 6);
    EXPECT_EQ(t.OtherTable(), before);
    EXPECT_EQ(t.ed->GetCheckNum(), tabletest::ExpectedCheck(WholeImage(*t.ed)));
}
