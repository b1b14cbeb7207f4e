// The editable table file against a std::multimap model, and its attach,
// add, field-write and save contracts.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <random>

#include "tests/kernel/storage/editable_table_support.h"

using namespace edittest;
using namespace n_tableFormat;
using tabletest::Str;

namespace {

// Key string -> (key-row value, word, freq) per attri row; key value kept per key.
struct t_model {
    std::multimap<std::vector<uint16_t>, std::pair<std::string, int32_t>> items;
    std::map<std::vector<uint16_t>, int32_t> keyValues;

    bool Has(const std::vector<uint16_t>& k, const std::string& w) const {
        auto [lo, hi] = items.equal_range(k);
        for (auto it = lo; it != hi; ++it)
            if (it->second.first == w) return true;
        return false;
    }
    std::vector<t_entry> Entries() const {
        std::vector<t_entry> out;
        for (const auto& [k, v] : items) out.emplace_back(k, keyValues.at(k), v.first, v.second);
        std::sort(out.begin(), out.end());
        return out;
    }
};

int Add(t_editableTableFile& ed, const Bytes& item, t_editLocation* where = nullptr) {
    return ed.AddItem(item.data(), uint32_t(item.size()), 0, nullptr, nullptr, where);
}

// Adds items {i % 8, i} from i = `from` on while they go in plainly; returns
// the first other result (2 once a table doubled).
int AddUntilDoubled(t_editableTableFile& ed, uint16_t from, t_editLocation* where = nullptr) {
    int r = 4;
    for (uint16_t i = from; r == 4; ++i)
        r = Add(ed, AttriItem(KeyUnits({uint16_t(i % 8), i}), 1, "b", 1), where);
    return r;
}

// The default shape's empty image, attached to a file without callbacks.
struct t_plainFile {
    t_shape s;
    Bytes image = EmptyImage(s);
    t_editableTableFile ed{nullptr, nullptr, nullptr, nullptr, nullptr, int32_t(s.extraSize)};
    t_plainFile() { EXPECT_TRUE(Attach(ed, s, image)); }
};

std::string RandomWord(std::mt19937& rng) {
    static const char kLetters[] = "abcde";
    std::string w(1 + rng() % 3, 'a');
    for (char& c : w) c = kLetters[rng() % 5];
    return w;
}

// Picks buckets so that some are hammered (forcing borrowing below and
// above), including the first and the last.
uint16_t PickBucket(std::mt19937& rng, int32_t buckets) {
    switch (rng() % 4) {
        case 0:
            return 0;
        case 1:
            return uint16_t(buckets - 1);
        case 2:
            return uint16_t(buckets / 2);
        default:
            return uint16_t(rng() % uint32_t(buckets));
    }
}

// Borrowings seen by the model runs: lender below or above the full bucket,
// and full buckets at either end of the table.
struct t_borrows {
    int below = 0, above = 0, atFirst = 0, atLast = 0;
};

std::vector<int32_t> Capacities(const t_editableTableFile& ed) {
    std::vector<int32_t> caps;
    for (int b = 0; b < ed.GetBucketCount(0); ++b) caps.push_back(ed.GetBucketCapacity(0, b));
    return caps;
}

void CountBorrow(const std::vector<int32_t>& before, const std::vector<int32_t>& after,
                 t_borrows& seen) {
    if (before.size() != after.size()) return;
    int grew = -1, shrank = -1;
    for (size_t b = 0; b < before.size(); ++b) {
        if (after[b] > before[b]) grew = int(b);
        if (after[b] < before[b]) shrank = int(b);
    }
    if (grew < 0 || shrank < 0) return;
    (shrank < grew ? seen.below : seen.above) += 1;
    seen.atFirst += grew == 0;
    seen.atLast += grew == int(before.size()) - 1;
}

// refuseGrowth: the owner turns every growth down, so the tables fill up and
// adds meet full buckets without lenders.
void RunModel(const t_shape& shape, uint32_t seed, int steps, bool refuseGrowth = false,
              t_borrows* borrows = nullptr) {
    SCOPED_TRACE("seed " + std::to_string(seed) + " buckets " + std::to_string(shape.buckets) +
                 " rows " + std::to_string(shape.keyRows));
    std::mt19937 rng(seed);
    t_owner owner;
    owner.image = std::make_unique<Bytes>(EmptyImage(shape));
    owner.refuse = refuseGrowth;
    t_editableTableFile ed(&t_owner::OnGrown, &owner, int32_t(shape.extraSize));
    ASSERT_TRUE(Attach(ed, shape, *owner.image));
    t_model model;
    int added = 0, present = 0, refused = 0, doubled = 0;
    for (int step = 0; step < steps; ++step) {
        const uint32_t op = rng() % 20;
        if (op < 13 || model.items.empty()) {
            const std::vector<uint16_t> k{PickBucket(rng, shape.buckets), uint16_t(1 + rng() % 6)};
            const std::string w = RandomWord(rng);
            const int32_t freq = int32_t(rng() % 1000), kv = int32_t(rng() % 50);
            const Bytes item = AttriItem(KeyUnits(k), kv, w, freq);
            const Bytes before = WholeImage(ed);
            const std::vector<int32_t> capsBefore = Capacities(ed);
            t_editLocation where;
            const int r = Add(ed, item, &where);
            if (r == 4 && borrows) CountBorrow(capsBefore, Capacities(ed), *borrows);
            if (model.Has(k, w)) {
                ASSERT_EQ(r, 1);
                ASSERT_EQ(WholeImage(ed), before) << "a present item changed the image";
                ++present;
            } else if (r == 0 && !where.itemFound) {
                ASSERT_EQ(WholeImage(ed), before) << "a refused add changed the image";
                ++refused;
            } else {
                // 0 with the item found: it went in, the growth was refused.
                ASSERT_TRUE(r == 4 || r == 2 || (r == 0 && refuseGrowth)) << r;
                doubled += r == 2;
                ASSERT_TRUE(where.itemFound);
                ASSERT_EQ(where.keyRow.generation, ed.GetGeneration());
                if (!model.keyValues.count(k)) model.keyValues[k] = kv;
                model.items.emplace(k, std::make_pair(w, freq));
                ++added;
            }
        } else {
            // A field write on a random stored item.
            auto it = model.items.begin();
            std::advance(it, rng() % model.items.size());
            const Bytes item = AttriItem(KeyUnits(it->first), 0, it->second.first, 0);
            t_editLocation loc;
            ASSERT_TRUE(ed.Locate(item.data(), uint32_t(item.size()), 0, &loc));
            ASSERT_TRUE(loc.itemFound);
            if (op < 16) {
                const int32_t f = int32_t(rng() % 100000);
                ASSERT_TRUE(ed.SetFieldAt(I32(f).data(), 4, loc.attriRow, 4, false));
                it->second.second = f;
            } else if (op < 18) {
                const std::string w = RandomWord(rng) + RandomWord(rng);
                if (model.Has(it->first, w)) continue;
                const Bytes s = Str(w);
                const Bytes before = WholeImage(ed);
                if (ed.SetFieldAt(s.data(), uint32_t(s.size()), loc.attriRow, 0, true))
                    it->second.first = w;
                else
                    ASSERT_EQ(WholeImage(ed), before);
            } else {
                const int32_t v = int32_t(rng() % 1000);
                ASSERT_TRUE(ed.SetFieldAt(I32(v).data(), 4, loc.keyRow, 4, false));
                model.keyValues[it->first] = v;
            }
        }
        ASSERT_EQ(ed.GetCheckNum(), tabletest::ExpectedCheck(WholeImage(ed))) << "step " << step;
        ExpectBucketsConsistent(ed);
        ASSERT_EQ(Dump(ed, shape), model.Entries()) << "step " << step;
        ExpectReattaches(ed, shape);
        if (::testing::Test::HasFatalFailure()) return;
    }
    EXPECT_GT(added, refuseGrowth ? 10 : steps / 3);
    EXPECT_GT(present, 0);
    EXPECT_GT(refuseGrowth ? refused : doubled, 0);
}

}  // namespace

TEST(EditableTableModelTest, RandomAddsFieldWritesAndAppendsMatchAMultimap) {
    t_shape many;  // room spread thinly over many buckets: borrowing at every edge
    many.buckets = 16;
    many.keyRows = 40;
    many.attriRows = 60;
    many.keyBytes = 300;
    many.valueBytes = 400;
    t_borrows borrows;
    RunModel(many, 1, 1500, false, &borrows);
    t_shape few;  // fewer rows than buckets: every bucket but the last starts empty
    few.buckets = 12;
    few.keyRows = 5;
    few.attriRows = 8;
    few.keyBytes = 300;
    few.valueBytes = 300;
    RunModel(few, 2, 1200, false, &borrows);
    t_shape wide;
    wide.buckets = 3;
    wide.keyRows = 30;
    RunModel(wide, 3, 1200, false, &borrows);
    t_shape full;
    full.buckets = 10;
    full.keyRows = 30;
    full.attriRows = 45;
    RunModel(full, 4, 800, true, &borrows);
    // The runs did reach what they are meant to exercise.
    EXPECT_GT(borrows.below, 0);
    EXPECT_GT(borrows.above, 0);
    EXPECT_GT(borrows.atFirst, 0);
    EXPECT_GT(borrows.atLast, 0);
}

// ---------------------------------------------------------------- borrowing

namespace {

// A key-only table whose bucket b holds exactly caps[b] rows.
struct t_borrowCase {
    t_shape shape;
    Bytes image;
    std::unique_ptr<t_editableTableFile> ed;

    explicit t_borrowCase(int32_t buckets, uint32_t rowsPerBucket) {
        shape.attri = false;
        shape.buckets = buckets;
        shape.keyRows = uint32_t(buckets) * rowsPerBucket;
        shape.keyBytes = shape.valueBytes = 1u << 16;
        image = EmptyImage(shape);
        ed = std::make_unique<t_editableTableFile>(nullptr, nullptr, nullptr, nullptr, nullptr,
                                                   int32_t(shape.extraSize));
        EXPECT_TRUE(Attach(*ed, shape, image));
    }
    int Add(uint16_t bucket, uint16_t n) {
        const Bytes item = KeyItem(KeyUnits({bucket, n}), n, "v");
        int32_t limit = 1 << 30;
        return ed->AddItem(item.data(), uint32_t(item.size()), 0, &limit, nullptr);
    }
    void Fill(uint16_t bucket, int rows) {
        for (int i = 0; i < rows; ++i) ASSERT_EQ(Add(bucket, uint16_t(100 + i)), 4);
    }
};

}  // namespace

TEST(EditableTableBorrowTest, FullBucketBorrowsFromTheLowerNeighbourFirstAtEqualDistance) {
    t_borrowCase c(5, 10);
    c.Fill(1, 5);   // lender below: 5 spare
    c.Fill(2, 10);  // full
    // Bucket 3 has 10 spare, bucket 1 has 5: at distance 1 the lower one lends.
    ASSERT_EQ(c.Add(2, 1), 4);
    EXPECT_EQ(c.ed->GetBucketCapacity(0, 1), 8);  // gave 5 / 2 = 2 rows
    EXPECT_EQ(c.ed->GetBucketCapacity(0, 2), 12);
    EXPECT_EQ(c.ed->GetBucketCapacity(0, 3), 10);
    ExpectBucketsConsistent(*c.ed);
    EXPECT_EQ(c.ed->GetCheckNum(), tabletest::ExpectedCheck(WholeImage(*c.ed)));
    EXPECT_EQ(Dump(*c.ed, c.shape).size(), 16u);
}

TEST(EditableTableBorrowTest, FirstBucketBorrowsFromAboveAndLastFromBelow) {
    t_borrowCase c(4, 6);
    c.Fill(0, 6);
    ASSERT_EQ(c.Add(0, 1), 4);
    EXPECT_EQ(c.ed->GetBucketCapacity(0, 0), 9);
    EXPECT_EQ(c.ed->GetBucketCapacity(0, 1), 3);
    c.Fill(3, 6);
    ASSERT_EQ(c.Add(3, 1), 4);
    EXPECT_EQ(c.ed->GetBucketCapacity(0, 2), 3);
    EXPECT_EQ(c.ed->GetBucketCapacity(0, 3), 9);
    ExpectBucketsConsistent(*c.ed);
    EXPECT_EQ(Dump(*c.ed, c.shape).size(), 14u);
    ExpectReattaches(*c.ed, c.shape);
}

TEST(EditableTableBorrowTest, ThinlySpreadRoomStillLendsAndNoRoomRefusesTheAdd) {
    t_borrowCase c(3, 3);
    c.Fill(0, 3);
    c.Fill(1, 2);  // one spare: used + 2 is not below capacity
    c.Fill(2, 2);
    // No bucket keeps room after lending, but bucket 1's last spare row is
    // still free: the add takes it rather than failing with room left. (8 of
    // 9 rows reach nine tenths, so the remedy runs and, without callbacks,
    // fails after the item went in.)
    ASSERT_EQ(c.Add(0, 1), 0);
    EXPECT_EQ(c.ed->GetBucketCapacity(0, 0), 4);
    EXPECT_EQ(c.ed->GetBucketCapacity(0, 1), 2);
    ExpectBucketsConsistent(*c.ed);
    // Only bucket 2 has a spare row now; bucket 0 takes it from two away.
    // (The add goes in; the remedy it then asks for has no callbacks here.)
    EXPECT_EQ(c.Add(0, 2), 0);
    EXPECT_EQ(c.ed->GetBucketCapacity(0, 2), 2);
    ExpectBucketsConsistent(*c.ed);
    EXPECT_EQ(Dump(*c.ed, c.shape).size(), 9u);
    const Bytes before = WholeImage(*c.ed);
    EXPECT_EQ(c.Add(1, 1), 0);  // every row used
    EXPECT_EQ(WholeImage(*c.ed), before);
}

// ---------------------------------------------------------------- adding

TEST(EditableTableAddTest, PresentItemReturnsOneAndNewValueJoinsTheEndOfTheChain) {
    t_plainFile f;
    auto& [s, image, ed] = f;
    const Bytes key = KeyUnits({3, 9});
    for (const char* w : {"b", "a", "c"}) {
        const Bytes item = AttriItem(key, 1, w, 5);
        ASSERT_EQ(Add(ed, item), 4);
    }
    const uint32_t check = ed.GetCheckNum();
    const Bytes again = AttriItem(key, 99, "a", 77);
    EXPECT_EQ(Add(ed, again), 1);
    EXPECT_EQ(ed.GetCheckNum(), check);
    std::vector<std::pair<const uint8_t*, const uint8_t*>> pairs;
    ASSERT_TRUE(ed.CollectItems(0, pairs));
    ASSERT_EQ(pairs.size(), 3u);
    std::string order;
    for (const auto& p : pairs) order += tabletest::Text(ed.GetDataPtr(1, Rd32(p.second)));
    EXPECT_EQ(order, "bac");
}

TEST(EditableTableAddTest, AppendThatWouldPassATableIsRefusedBeforeAnythingMoves) {
    t_shape s;
    s.valueBytes = 16;  // room for two short words
    Bytes image = EmptyImage(s);
    std::unique_ptr<t_editableTableFile> file = QuietFile(s);
    t_editableTableFile& ed = *file;
    ASSERT_TRUE(Attach(ed, s, image));
    const Bytes a = AttriItem(KeyUnits({1, 1}), 1, "abc", 1);  // 8 bytes of word
    ASSERT_NE(Add(ed, a), 0);
    const Bytes b = AttriItem(KeyUnits({1, 2}), 1, "abcd", 1);  // 10 more: does not fit
    const Bytes before = WholeImage(ed);
    EXPECT_EQ(Add(ed, b), 0);
    EXPECT_EQ(WholeImage(ed), before);
    const Bytes c = AttriItem(KeyUnits({1, 1}), 1, "abcd", 1);  // appended attri row: same refusal
    EXPECT_EQ(Add(ed, c), 0);
    EXPECT_EQ(WholeImage(ed), before);
    // A string field write that does not fit is refused too.
    t_editLocation loc;
    ASSERT_TRUE(ed.Locate(a.data(), uint32_t(a.size()), 0, &loc));
    const Bytes longer = Str("abcdefgh");
    EXPECT_FALSE(ed.SetFieldAt(longer.data(), uint32_t(longer.size()), loc.attriRow, 0, true));
    EXPECT_EQ(WholeImage(ed), before);
}

TEST(EditableTableAddTest, AttriTableFullRefusesTheAdd) {
    t_shape s;
    s.attriRows = 2;
    Bytes image = EmptyImage(s);
    t_editableTableFile ed(nullptr, nullptr, nullptr, nullptr, nullptr, int32_t(s.extraSize));
    ASSERT_TRUE(Attach(ed, s, image));
    int results[3];
    int attriUsed[3];
    Bytes before;
    for (int i = 0; i < 3; ++i) {
        const Bytes item = AttriItem(KeyUnits({2, uint16_t(i)}), 0, "w", 0);
        before = WholeImage(ed);
        results[i] = Add(ed, item);
        attriUsed[i] = ed.GetAttriUsedCount(0);
    }
    // The first two go in (the remedy that 1 of 2 rows asks for has no
    // callbacks here and reports 0); the third finds no row.
    EXPECT_EQ(attriUsed[0], 1);
    EXPECT_EQ(attriUsed[1], 2);
    EXPECT_EQ(results[2], 0);
    EXPECT_EQ(WholeImage(ed), before);  // neither a key row nor its items went in
    EXPECT_EQ(ed.GetAttriUsedCount(0), 2);
    EXPECT_EQ(ed.GetKeyUsedCount(0), 2);
    // A further value of a stored key is refused the same way.
    const Bytes more = AttriItem(KeyUnits({2, 0}), 0, "x", 0);
    EXPECT_EQ(Add(ed, more), 0);
    EXPECT_EQ(WholeImage(ed), before);
}

TEST(EditableTableAddTest, BadItemsAndKeysWithoutBucketAreRefused) {
    t_plainFile f;
    auto& [s, image, ed] = f;
    const Bytes good = AttriItem(KeyUnits({1, 1}), 1, "w", 1);
    EXPECT_EQ(ed.AddItem(good.data(), uint32_t(good.size() - 1), 0, nullptr, nullptr), 0);  // cut
    Bytes longer = good;
    longer.push_back(0);
    EXPECT_EQ(Add(ed, longer),
              0);  // trailing byte
    const Bytes noBucket = AttriItem(KeyUnits({uint16_t(s.buckets), 1}), 1, "w", 1);
    EXPECT_EQ(Add(ed, noBucket), 0);
    const Bytes emptyKey = AttriItem(KeyUnits({}), 1, "w", 1);
    EXPECT_EQ(Add(ed, emptyKey), 0);
    EXPECT_EQ(ed.GetKeyUsedCount(0), 0);
}

TEST(EditableTableFieldTest, KeyFieldAndLinkWordsCannotBeWritten) {
    t_plainFile f;
    auto& [s, image, ed] = f;
    const Bytes item = AttriItem(KeyUnits({1, 1}), 1, "w", 1);
    t_editLocation loc;
    ASSERT_EQ(Add(ed, item, &loc), 4);
    const Bytes v = I32(5);
    EXPECT_FALSE(ed.SetFieldAt(v.data(), 4, loc.keyRow, 0, false));    // the key
    EXPECT_FALSE(ed.SetFieldAt(v.data(), 4, loc.keyRow, 8, false));    // the attri link
    EXPECT_FALSE(ed.SetFieldAt(v.data(), 4, loc.attriRow, 8, false));  // the chain link
    EXPECT_TRUE(ed.SetFieldAt(v.data(), 4, loc.attriRow, 4, false));
    t_editRow foreign = loc.attriRow;
    foreign.ptr += 1;  // not a row start
    EXPECT_FALSE(ed.SetFieldAt(v.data(), 4, foreign, 4, false));
}

TEST(EditableTableFieldTest, ShorterStringIsRewrittenInPlaceLongerOneAppended) {
    t_plainFile f;
    auto& [s, image, ed] = f;
    const Bytes item = AttriItem(KeyUnits({1, 1}), 1, "word", 1);
    t_editLocation loc;
    ASSERT_EQ(Add(ed, item, &loc), 4);
    const int32_t used = ed.GetDataUsed(1);
    const Bytes shorter = Str("wo");
    ASSERT_TRUE(ed.SetFieldAt(shorter.data(), uint32_t(shorter.size()), loc.attriRow, 0, true));
    EXPECT_EQ(ed.GetDataUsed(1), used);
    const Bytes longer = Str("wordier");
    ASSERT_TRUE(ed.SetFieldAt(longer.data(), uint32_t(longer.size()), loc.attriRow, 0, true));
    EXPECT_EQ(ed.GetDataUsed(1), used + int32_t(longer.size()));
    EXPECT_EQ(ed.GetCheckNum(), tabletest::ExpectedCheck(WholeImage(ed)));
    EXPECT_EQ(std::get<2>(Dump(ed, s)[0]), "wordier");
}

// ---------------------------------------------------------------- attaching

TEST(EditableTableAttachTest, SizeThatLeavesNoPlainImageIsRefused) {
    t_shape s;
    s.extraSize = 76;
    Bytes image = EmptyImage(s);
    t_editableTableFile ed(nullptr, nullptr, nullptr, nullptr, nullptr, int32_t(s.extraSize));
    ConfigureBuckets(ed, s);
    EXPECT_FALSE(ed.AttachWithExtra(image.data(), kVersion, {}, {}, 80));  // exactly extra + 4
    EXPECT_FALSE(ed.AttachWithExtra(image.data(), kVersion, {}, {}, 0));   // no bound at all
    EXPECT_FALSE(ed.IsAttached());
    t_editableTableFile noExtra(nullptr, nullptr, nullptr, nullptr, nullptr, 0);
    Bytes four(4, 0);
    EXPECT_FALSE(noExtra.AttachWithExtra(four.data(), kVersion, {}, {}, 4));
    EXPECT_TRUE(ed.AttachWithExtra(image.data(), kVersion, {}, {}, int64_t(image.size())));
}

TEST(EditableTableAttachTest, ExtraSizeMustMatchAndZeroMeansNoBlock) {
    t_shape s;
    Bytes image = EmptyImage(s);
    t_editableTableFile wrong(nullptr, nullptr, nullptr, nullptr, nullptr,
                              int32_t(s.extraSize) + 4);
    ConfigureBuckets(wrong, s);
    EXPECT_FALSE(wrong.AttachWithExtra(image.data(), kVersion, {}, {}, int64_t(image.size()) + 4));
    t_editableTableFile ed(nullptr, nullptr, nullptr, nullptr, nullptr, int32_t(s.extraSize));
    ASSERT_TRUE(Attach(ed, s, image));
    ASSERT_NE(ed.GetExtraData(int32_t(s.extraSize)), nullptr);
    EXPECT_EQ(ed.GetExtraData(int32_t(s.extraSize))[0], 0x5A);
    EXPECT_EQ(ed.GetExtraData(4), nullptr);
    EXPECT_EQ(ed.GetTotalSize(), int64_t(image.size()));

    t_shape none;
    none.extraSize = 0;
    Bytes plain = EmptyImage(none);
    t_editableTableFile ed0(nullptr, nullptr, nullptr, nullptr, nullptr, 0);
    ASSERT_TRUE(Attach(ed0, none, plain));
    EXPECT_EQ(ed0.GetExtraData(0), nullptr);
}

TEST(EditableTableAttachTest, ImageWhoseUsedCountDisagreesWithItsBucketsIsRefused) {
    t_shape s;
    s.attri = false;
    Bytes image = EmptyImage(s);
    {
        t_editableTableFile ed(nullptr, nullptr, nullptr, nullptr, nullptr, int32_t(s.extraSize));
        ASSERT_TRUE(Attach(ed, s, image));
        const Bytes item = KeyItem(KeyUnits({1, 1}), 1, "t");
        ASSERT_EQ(Add(ed, item), 4);
    }
    // What a builder writes for a populated table: used words of 0.
    Bytes plainPart(image.begin(), image.end() - 4 - s.extraSize);
    tabletest::SetUsed(plainPart, 0, 0);
    std::copy(plainPart.begin(), plainPart.end(), image.begin());
    t_editableTableFile ed(nullptr, nullptr, nullptr, nullptr, nullptr, int32_t(s.extraSize));
    EXPECT_FALSE(Attach(ed, s, image));
}

// ---------------------------------------------------------------- stale rows

TEST(EditableTableGrowthHazardTest, RowsHeldAcrossADoubleAreRefusedAndWhereIsCurrent) {
    t_shape s;
    s.keyRows = 20;
    s.attriRows = 10;  // the attri table fills first and makes the double
    t_owner owner;
    owner.image = std::make_unique<Bytes>(EmptyImage(s));
    t_editableTableFile ed(&t_owner::OnGrown, &owner, int32_t(s.extraSize));
    ASSERT_TRUE(Attach(ed, s, *owner.image));
    const Bytes first = AttriItem(KeyUnits({1, 1}), 1, "a", 1);
    t_editLocation held;
    ASSERT_EQ(Add(ed, first, &held), 4);
    t_editLocation where;
    ASSERT_EQ(AddUntilDoubled(ed, 2, &where), 2);
    EXPECT_EQ(owner.grown, 1);
    // The held row points into the freed buffer: it must be refused, untouched.
    const Bytes v = I32(42);
    EXPECT_FALSE(ed.SetFieldAt(v.data(), 4, held.attriRow, 4, false));
    EXPECT_FALSE(ed.SetFieldAt(v.data(), 4, held.keyRow, 4, false));
    // The location handed back by the add is current.
    ASSERT_TRUE(where.itemFound);
    EXPECT_TRUE(ed.SetFieldAt(v.data(), 4, where.attriRow, 4, false));
    // Re-locating the held item gives a usable row again.
    t_editLocation again;
    ASSERT_TRUE(ed.Locate(first.data(), uint32_t(first.size()), 0, &again));
    EXPECT_TRUE(ed.SetFieldAt(v.data(), 4, again.attriRow, 4, false));
    EXPECT_EQ(ed.GetCheckNum(), tabletest::ExpectedCheck(WholeImage(ed)));
    ExpectReattaches(ed, s);
}

TEST(EditableTableGrowthHazardTest, RowsHeldAcrossAnyAddAreStale) {
    t_plainFile f;
    auto& [s, image, ed] = f;
    const Bytes b = AttriItem(KeyUnits({1, 5}), 1, "b", 1);
    t_editLocation held;
    ASSERT_EQ(Add(ed, b, &held), 4);
    const Bytes a = AttriItem(KeyUnits({1, 2}), 1, "a", 1);  // sorts first: shifts b's row
    ASSERT_EQ(Add(ed, a), 4);
    const Bytes v = I32(7);
    EXPECT_FALSE(ed.SetFieldAt(v.data(), 4, held.keyRow, 4, false));
}

// ---------------------------------------------------------------- saving

TEST(EditableTableSaveTest, SaveReplacesALongerFileWholeThroughARename) {
    t_plainFile f;
    auto& [s, image, ed] = f;
    const Bytes item = AttriItem(KeyUnits({1, 1}), 1, "w", 1);
    ASSERT_EQ(Add(ed, item), 4);
    const std::string path = tabletest::TempDir() + "/edit_save.bin";
    tabletest::WriteFile(path, Bytes(image.size() + 1000, 0xEE));
    struct stat before {};
    ASSERT_EQ(stat(path.c_str(), &before), 0);
    ASSERT_TRUE(ed.SaveToFile(tabletest::Wide(path).c_str()));
    struct stat after {};
    ASSERT_EQ(stat(path.c_str(), &after), 0);
    EXPECT_NE(before.st_ino, after.st_ino);  // a new file renamed over the old one
    Bytes saved = tabletest::ReadFile(path);
    EXPECT_EQ(saved, WholeImage(ed));
    t_editableTableFile other(nullptr, nullptr, nullptr, nullptr, nullptr, int32_t(s.extraSize));
    ASSERT_TRUE(Attach(other, s, saved));
    EXPECT_EQ(Dump(other, s), Dump(ed, s));
}

TEST(EditableTableSaveTest, UnwritablePathFailsAndLeavesNothing) {
    t_plainFile f;
    auto& [s, image, ed] = f;
    EXPECT_FALSE(ed.SaveToFile(L"/nonexistent-dir/x/edit.bin"));
}

namespace {
// A notice that tries to use the file it is growing.
struct t_meddler {
    t_owner owner;
    t_editableTableFile* ed = nullptr;
    int addResult = -1;
    bool attachResult = true;
    static uint8_t* OnGrown(const t_grownImage& img, void* context) {
        t_meddler* m = static_cast<t_meddler*>(context);
        const Bytes item = AttriItem(KeyUnits({0, 99}), 1, "inside", 1);
        m->addResult = Add(*m->ed, item);
        m->attachResult = m->ed->AttachWithExtra(m->owner.image->data(), kVersion, {}, {},
                                                 int64_t(m->owner.image->size()));
        return t_owner::OnGrown(img, &m->owner);
    }
};
}  // namespace

TEST(EditableTableGrowthHazardTest, NoticeCannotReenterTheFileItGrows) {
    t_shape s;
    s.keyRows = 20;
    s.attriRows = 10;
    t_meddler m;
    m.owner.image = std::make_unique<Bytes>(EmptyImage(s));
    t_editableTableFile ed(&t_meddler::OnGrown, &m, int32_t(s.extraSize));
    m.ed = &ed;
    ASSERT_TRUE(Attach(ed, s, *m.owner.image));
    ASSERT_EQ(AddUntilDoubled(ed, 1), 2);
    EXPECT_EQ(m.addResult, 0);
    EXPECT_FALSE(m.attachResult);
    EXPECT_EQ(ed.GetAttriRowCount(0), 20);
    EXPECT_EQ(Dump(ed, s).size(), 9u);
}

TEST(EditableTableFixedModeTest, ModeEndsWithAnotherImageButSurvivesItsOwnGrowth) {
    t_shape s;
    s.keyRows = 20;
    s.attriRows = 10;
    t_owner owner;
    owner.image = std::make_unique<Bytes>(EmptyImage(s));
    t_editableTableFile ed(&t_owner::OnGrown, &owner, int32_t(s.extraSize));
    ASSERT_TRUE(Attach(ed, s, *owner.image));
    Bytes region(size_t(ed.GetFixedStateSize(8)));
    ASSERT_TRUE(ed.SetFixedCapacityMode(8, region.data(), region.size()));
    ASSERT_EQ(AddUntilDoubled(ed, 1), 2);
    t_fixedState st;
    ASSERT_TRUE(ed.GetFixedCapacityState(&st));
    EXPECT_EQ(st.header[12], 1);  // grown: only a whole save will do
    int can = 1;
    ed.CanSaveInPlace(&can);
    EXPECT_EQ(can, 0);

    Bytes other = EmptyImage(s);
    ASSERT_TRUE(Attach(ed, s, other));
    EXPECT_FALSE(ed.GetFixedCapacityState(&st));
    const Bytes item = AttriItem(KeyUnits({1, 1}), 1, "b", 1);
    EXPECT_EQ(Add(ed, item), 4);
}

TEST(EditableTableAddTest, DigitKeysAreTheirBucketAndStoreNoKeyField) {
    const std::vector<int32_t> buckets{10};
    t_tableFileBuilder b({tabletest::Key(4, {7, 7}, kNone, kNone, kNone, 20)}, {}, {}, 7, kVersion,
                         {}, {}, nullptr, 0, &buckets);
    Bytes image(size_t(b.GetTotalSize(nullptr)));
    ASSERT_TRUE(b.BuildToBuffer(image.data(), int64_t(image.size())));
    t_editableTableFile ed(nullptr, nullptr, nullptr, nullptr, nullptr, 0);
    ed.SetBucketCount(0, 10);
    ASSERT_TRUE(ed.AttachWithExtra(image.data(), kVersion, {}, {}, int64_t(image.size())));
    auto item = [](int32_t key, int32_t value) {
        Bytes out = I32(key);
        const Bytes v = I32(value);
        out.insert(out.end(), v.begin(), v.end());
        return out;
    };
    const Bytes three = item(3, 33);
    t_editLocation where;
    ASSERT_EQ(Add(ed, three, &where), 4);
    EXPECT_EQ(RdI32(where.keyRow.ptr), 33);  // the row starts with the value
    const Bytes again = item(3, 44);
    EXPECT_EQ(Add(ed, again), 1);
    const Bytes outside = item(10, 1);
    EXPECT_EQ(Add(ed, outside), 0);
    const Bytes nine = item(9, 99);
    ASSERT_EQ(Add(ed, nine), 4);
    EXPECT_EQ(ed.GetBucketRowCount(0, 9), 1);
    EXPECT_EQ(ed.GetCheckNum(), tabletest::ExpectedCheck(WholeImage(ed)));
}

namespace {

// Nine tenths in integer division: a table of 5 rows is nearly full at 4
// used rows (4 >= 45 / 10), one add before 4 x 10 >= 5 x 9 would say so.
TEST(EditableTableFullnessTest, NearlyFullAtNineTenthsInIntegerDivision) {
    struct {
        uint32_t rows;
        int firstFullAdd;
    } cases[] = {{5, 4}, {10, 9}, {12, 10}, {64, 57}};
    for (const auto& c : cases) {
        t_shape s;
        s.attri = false;
        s.buckets = 1;
        s.keyRows = c.rows;
        Bytes image = EmptyImage(s);
        std::unique_ptr<t_editableTableFile> ed = QuietFile(s);
        ASSERT_TRUE(Attach(*ed, s, image));
        for (int i = 1; i < c.firstFullAdd; ++i) {
            const Bytes item = KeyItem(KeyUnits({0, uint16_t(100 + i)}), i, "t");
            ASSERT_EQ(Add(*ed, item), 4) << c.rows << " " << i;
            EXPECT_FALSE(ed->IsNearlyFull(0)) << c.rows << " rows, " << i << " used";
        }
        const Bytes last = KeyItem(KeyUnits({0, 99}), 0, "t");
        EXPECT_NE(Add(*ed, last), 4) << c.rows;
    }
}

}  // namespace
