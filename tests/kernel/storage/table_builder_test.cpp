// The builder's store, its whole-image operations and its files.
#include <dirent.h>
#include <gtest/gtest.h>

#include <algorithm>

#include "tests/kernel/storage/table_support.h"

using namespace tabletest;
using namespace n_tableFormat;

namespace {

// English words (key), a u32 value, no attri table.
std::vector<t_keyDesc> PlainKeys() {
    return {Key(1, {0, 8}, kNone, 0, kNone)};
}

// The user extension dictionary's shape: pinyin-id readings, one attri table
// holding the other seven fields, the fourth of them u16 flags.
std::vector<t_keyDesc> ExtKeys() {
    return {Key(2, {0, 0, 7, 6, 7, 5, 8, 1}, 0, 0, kNone)};
}
std::vector<t_attriDesc> ExtAttris() {
    return {{7, 0, 1, 0}};
}
const std::vector<uint32_t> kExtDatas{0, 0};
constexpr uint32_t kExtVersion = 20141201;

Bytes ExtItem(std::vector<uint16_t> reading, const std::string& word, uint16_t flags,
              uint32_t freq = 1) {
    return t_item()
        .Raw(Units(reading))
        .S(word)
        .U32(freq)
        .U16(flags)
        .U32(0)
        .U16(0)
        .U32(0)
        .U8(0)
        .Packed();
}

bool InitExt(t_tableFileBuilder& b, bool buckets = false) {
    return buckets
               ? b.InitStoreWithBuckets(ExtKeys(), ExtAttris(), kExtDatas, kExtVersion, kExtVersion,
                                        {}, {}, {0})
               : b.InitStore(ExtKeys(), ExtAttris(), kExtDatas, kExtVersion, kExtVersion, {}, {});
}

// A store of the test tag and version without hash or compare functions.
bool Init(t_tableFileBuilder& b, const std::vector<t_keyDesc>& keys,
          const std::vector<t_attriDesc>& attris, const std::vector<uint32_t>& datas) {
    return b.InitStore(keys, attris, datas, kTag, kVersion, {}, {});
}

bool InitPlain(t_tableFileBuilder& b) {
    return Init(b, PlainKeys(), {}, {0});
}

int Insert(t_tableFileBuilder& b, const t_item& item, int table = 0) {
    return b.InsertOne(item.Packed().data(), table);
}

int ExtMergeRecord(int32_t, const std::vector<uint8_t*>& incoming,
                   const std::vector<const uint8_t*>& stored) {
    if (incoming.size() != 8) return 0;
    Wr16(incoming[3], Rd16(incoming[3]) | Rd16(stored[3]));
    return 1;
}

int KeepStored(int32_t, const std::vector<uint8_t*>&, const std::vector<const uint8_t*>&) {
    return 0;
}

Bytes ExtImage(const std::vector<Bytes>& items) {
    t_tableFileBuilder b;
    EXPECT_TRUE(InitExt(b));
    for (const Bytes& i : items) EXPECT_EQ(b.InsertOne(i.data(), 0), 1);
    return Plain(b);
}

Bytes Sized(const Bytes& image) {
    Bytes out(4 + image.size());
    Wr32(out.data(), uint32_t(image.size()));
    std::copy(image.begin(), image.end(), out.begin() + 4);
    return out;
}

// (word, flags) of every item of an attached extension image, in order.
std::vector<std::pair<std::string, uint16_t>> ExtWords(const t_tableFile& r) {
    std::vector<std::pair<std::string, uint16_t>> out;
    std::vector<std::pair<const uint8_t*, const uint8_t*>> pairs;
    EXPECT_TRUE(r.EnumerateItems(0, pairs));
    for (const auto& p : pairs)
        out.emplace_back(Text(r.GetDataPtr(1, Rd32(p.second))), Rd16(p.second + 8));
    std::sort(out.begin(), out.end());
    return out;
}

// Merges two sized extension images into a file of the temporary folder and
// returns the file.
Bytes MergeExt(const Bytes& first, const Bytes& second, t_mergeRecordFn cb) {
    const std::string path = TempDir() + "/ext.merge";
    t_tableFileBuilder b;
    EXPECT_TRUE(InitExt(b, true));
    int result = -1;
    EXPECT_EQ(b.MergeFiles(first.data(), second.data(), Wide(path).c_str(), &result, cb), 1);
    EXPECT_EQ(result, 0);
    return ReadFile(path);
}

size_t FilesIn(const std::string& dir) {
    size_t n = 0;
    if (DIR* d = opendir(dir.c_str())) {
        while (dirent* e = readdir(d))
            if (e->d_name[0] != '.') ++n;
        closedir(d);
    }
    return n;
}

}  // namespace

// ---------------------------------------------------------------- construction

TEST(TableBuilderStoreTest, TablesWithoutUsableBucketsOrFunctionsAreRefused) {
    t_tableFileBuilder b;
    EXPECT_FALSE(Init(b, {Key(4, {7, 7}, kNone, kNone, kNone)}, {}, {}));
    EXPECT_TRUE(b.InitStoreWithBuckets({Key(4, {7, 7}, kNone, kNone, kNone)}, {}, {}, kTag,
                                       kVersion, {}, {}, {10}));
    EXPECT_FALSE(b.InitStoreWithBuckets({Key(5, {7, 7}, kNone, kNone, kNone)}, {}, {}, kTag,
                                        kVersion, {}, {}, {10}));
    EXPECT_FALSE(Init(b, {Key(7, {0}, kNone, 0, kNone)}, {}, {0}));
    EXPECT_FALSE(Init(b, {Key(1, {0}, 3, 0, kNone)}, {}, {0}));  // no attri table 3
    EXPECT_FALSE(b.IsValid());
    EXPECT_EQ(Insert(b, t_item().S("a")), 0);
}

TEST(TableBuilderStoreTest, KeyRowsWithNoTrailingWordHoldExactlyTheirFields) {
    t_tableFileBuilder b;
    ASSERT_TRUE(Init(b, {Key(1, {0, 7, 5}, kNoAttriNoWord, 0, kNone)}, {}, {0}));
    EXPECT_EQ(b.GetLayout().keyLayouts[0].rowSize, 10u);
    ASSERT_TRUE(Init(b, {Key(1, {0, 7, 5}, kNone, 0, kNone)}, {}, {0}));
    EXPECT_EQ(b.GetLayout().keyLayouts[0].rowSize, 14u);
}

// ---------------------------------------------------------------- inserts and deletes

TEST(TableBuilderStoreTest, SameItemTwiceMakesTwoAdjacentRowsAndCountsTwice) {
    t_tableFileBuilder b;
    ASSERT_TRUE(InitPlain(b));
    const Bytes item = t_item().S("pear").U32(1).Packed();
    ASSERT_EQ(b.InsertOne(item.data(), 0), 1);
    ASSERT_EQ(b.InsertOne(item.data(), 0), 1);
    EXPECT_EQ(b.GetBucket(0, 'p' - 'a')->size(), 2u);
    EXPECT_EQ(b.GetKeyRowCount(0), 2u);
    EXPECT_EQ(b.GetDataSize(0), 2u * 10);
}

TEST(TableBuilderStoreTest, SameKeyWithAttriTableJoinsOneRowAndCountsTheKeyOnce) {
    t_tableFileBuilder b;
    ASSERT_TRUE(Init(b, ExtKeys(), ExtAttris(), kExtDatas));
    ASSERT_EQ(b.InsertOne(ExtItem({10, 20}, "xy", 1).data(), 0), 1);
    ASSERT_EQ(b.InsertOne(ExtItem({10, 20}, "zw", 2).data(), 0), 1);
    ASSERT_EQ(b.GetBucket(0, 10)->size(), 1u);
    EXPECT_EQ(b.GetBucket(0, 10)->at(0).entries.size(), 2u);
    EXPECT_EQ(b.GetKeyRowCount(0), 1u);
    EXPECT_EQ(b.GetAttriRowCount(0), 2u);
    EXPECT_EQ(b.GetDataSize(0), 6u);      // the reading, once
    EXPECT_EQ(b.GetDataSize(1), 2u * 6);  // both words
}

TEST(TableBuilderStoreTest, SortedAttriLayoutsOrderEntriesAndChainsKeepInsertionOrder) {
    for (int16_t flags : {0, 0x20, 0x40}) {
        t_tableFileBuilder b;
        ASSERT_TRUE(
            Init(b, {Key(int16_t(1 | flags), {0, 0}, 0, 0, kNone)}, {{1, 0, 1, 0}}, {0, 0}));
        for (const char* v : {"b", "a", "c"}) ASSERT_EQ(Insert(b, t_item().S("k").S(v)), 1);
        std::string order;
        for (const auto& e : b.GetBucket(0, 'k' - 'a')->at(0).entries)
            order += Text(L(Bytes(e[0], e[0] + 4)));
        EXPECT_EQ(order, flags ? "abc" : "bac") << flags;
    }
}

TEST(TableBuilderStoreTest, KeyWithoutBucketIsSkippedAndReportsSuccess) {
    t_tableFileBuilder b;
    ASSERT_TRUE(Init(b, {Key(2, {0, 7}, kNone, 0, kNone)}, {}, {0}));
    EXPECT_EQ(Insert(b, t_item().S("").U32(1)), 1);
    EXPECT_EQ(b.DeleteOne(t_item().S("").U32(1).Packed().data(), 0), 1);
    EXPECT_EQ(b.GetKeyRowCount(0), 0u);
    EXPECT_EQ(b.GetDataSize(0), 0u);
}

TEST(TableBuilderStoreTest, DigitKeyAtOrAboveTheBucketCountHasNoBucket) {
    t_tableFileBuilder b;
    ASSERT_TRUE(b.InitStoreWithBuckets({Key(4, {7, 7}, kNone, kNone, kNone)}, {}, {}, kTag,
                                       kVersion, {}, {}, {10}));
    EXPECT_EQ(Insert(b, t_item().U32(9).U32(1)), 1);
    EXPECT_EQ(Insert(b, t_item().U32(10).U32(1)), 1);
    EXPECT_EQ(Insert(b, t_item().U32(0xFFFFFFFF).U32(1)), 1);
    EXPECT_EQ(b.GetKeyRowCount(0), 1u);
    EXPECT_EQ(b.GetBucket(0, 9)->size(), 1u);
}

TEST(TableBuilderStoreTest, CallerHashAtOrAboveTheBucketCountHasNoBucket) {
    // The caller's function answers the key's first unit: 3 fits four buckets, 4 and 9 do not.
    auto firstUnit = [](const t_lstr* key) { return int(LstrGetUnit(key, 0)); };
    t_tableFileBuilder b;
    ASSERT_TRUE(b.InitStoreWithBuckets({Key(5, {0, 7}, kNone, 0, kNone)}, {}, {0}, kTag, kVersion,
                                       {firstUnit}, {&LstrCompare}, {4}));
    for (uint16_t unit : {3, 4, 9}) EXPECT_EQ(Insert(b, t_item().Raw(Units({unit})).U32(1)), 1);
    EXPECT_EQ(b.GetKeyRowCount(0), 1u);
    EXPECT_EQ(b.GetBucket(0, 3)->size(), 1u);
    EXPECT_EQ(b.GetDataSize(0), 4u);  // only the stored key took an item
    EXPECT_EQ(b.DeleteOne(t_item().Raw(Units({9})).U32(1).Packed().data(), 0), 1);
    EXPECT_EQ(b.GetKeyRowCount(0), 1u);
}

TEST(TableBuilderStoreTest, DeletingMissingKeyChangesNothingAndLastEntryTakesTheRow) {
    t_tableFileBuilder b;
    ASSERT_TRUE(Init(b, ExtKeys(), ExtAttris(), kExtDatas));
    const Bytes one = ExtItem({10}, "x", 1), two = ExtItem({10}, "y", 1);
    ASSERT_EQ(b.InsertOne(one.data(), 0), 1);
    ASSERT_EQ(b.InsertOne(two.data(), 0), 1);
    EXPECT_EQ(b.DeleteOne(ExtItem({11}, "x", 1).data(), 0), 1);
    EXPECT_EQ(b.DeleteOne(ExtItem({10}, "z", 1).data(), 0), 1);
    EXPECT_EQ(b.GetAttriRowCount(0), 2u);
    ASSERT_EQ(b.DeleteOne(one.data(), 0), 1);
    EXPECT_EQ(b.GetBucket(0, 10)->size(), 1u);
    ASSERT_EQ(b.DeleteOne(two.data(), 0), 1);
    EXPECT_TRUE(b.GetBucket(0, 10)->empty());
    EXPECT_EQ(b.GetKeyRowCount(0), 0u);
    EXPECT_EQ(b.GetAttriRowCount(0), 0u);
    EXPECT_EQ(b.GetDataSize(0), 0u);
    EXPECT_EQ(b.GetDataSize(1), 0u);
}

TEST(TableBuilderStoreTest, ItemsThatEndInsideAFieldOrUseUnstorableTypesFail) {
    t_tableFileBuilder b;
    ASSERT_TRUE(InitPlain(b));
    Bytes item = t_item().S("pear").U32(1).Packed();
    Wr32(item.data(), 12);  // the u32 would start at the end
    EXPECT_EQ(b.InsertOne(item.data(), 0), 0);
    Wr32(item.data(), 13);  // the u32 would run past the end
    EXPECT_EQ(b.InsertOne(item.data(), 0), 0);
    Wr32(item.data(), 5);  // the key's own bytes run past the end
    EXPECT_EQ(b.InsertOne(item.data(), 0), 0);
    EXPECT_EQ(b.GetKeyRowCount(0), 0u);
    EXPECT_EQ(b.GetDataSize(0), 0u);

    for (int16_t type : {3, 9}) {
        ASSERT_TRUE(Init(b, {Key(1, {0, type}, kNone, 0, kNone)}, {}, {0}));
        EXPECT_EQ(Insert(b, t_item().S("a").U32(0).U32(0)), 0);
    }
    // A typed list cannot be a key.
    ASSERT_TRUE(Init(b, {Key(1, {11}, kNone, 0, kNone)}, {}, {0}));
    EXPECT_EQ(Insert(b, t_item().S("a")), 0);
}

TEST(TableBuilderStoreTest, StringWithoutADataTableIsRefusedWithNothingInserted) {
    t_tableFileBuilder b;
    ASSERT_TRUE(Init(b, {Key(1, {0, 0}, kNone, 0, kNone)}, {}, {0}));
    EXPECT_EQ(Insert(b, t_item().S("k").S("value")), 0);
    EXPECT_EQ(b.GetKeyRowCount(0), 0u);
    EXPECT_EQ(b.GetDataSize(0), 0u);
    EXPECT_EQ(Insert(b, t_item().S("k").S("")),
              1);  // an empty value needs no item
}

TEST(TableBuilderStoreTest, InsertItemsNeedsOneListPerKeyTableAndStopsAtTheFirstFailure) {
    t_tableFileBuilder b;
    ASSERT_TRUE(InitPlain(b));
    const Bytes good = t_item().S("a").U32(1).Packed();
    Bytes bad = good;
    Wr32(bad.data(), 0);
    EXPECT_EQ(b.InsertItems({{good.data()}, {good.data()}}), 0);
    EXPECT_EQ(b.GetKeyRowCount(0), 0u);
    testing::internal::CaptureStdout();
    EXPECT_EQ(b.InsertItems({{good.data(), bad.data(), good.data()}}), 0);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "insert one is erro");
    EXPECT_EQ(b.GetKeyRowCount(0), 1u);
}

TEST(TableBuilderStoreTest, TypedListTextBecomesAValueAndUnknownWordsAreRefused) {
    Bytes v;
    ASSERT_EQ(t_tableFileBuilder::ParseTypedList(L"int=-5,str=a=b,bool=3,short=7,uint=9", v),
              2 + 6 + 10 + 3 + 4 + 6);
    EXPECT_EQ(Rd16(v.data()), 5);
    EXPECT_EQ(RdI32(v.data() + 4), -5);
    EXPECT_EQ(Rd16(v.data() + 8), 0);
    EXPECT_EQ(Rd16(v.data() + 10), 6);  // "a=b": the '=' inside a value is kept
    EXPECT_EQ(v[20], 1);
    EXPECT_EQ(t_tableFileBuilder::ParseTypedList(L"int=1,float=2", v), -1);
    EXPECT_EQ(t_tableFileBuilder::ParseTypedList(L"int=x", v), -1);
}

// ---------------------------------------------------------------- saving

TEST(TableBuilderSaveTest, TrailingSlotOfAttriIndexMinusOneIsZeroAndRowsTakeFullSize) {
    t_tableFileBuilder b;
    ASSERT_TRUE(b.InitStoreWithBuckets(PlainKeys(), {}, {0}, kTag, kVersion, {}, {}, {1}));
    ASSERT_EQ(Insert(b, t_item().S("ab").U32(0xAAAAAAAA)), 1);
    ASSERT_EQ(Insert(b, t_item().S("a").U32(0xBBBBBBBB)), 1);
    const Bytes image = Plain(b);
    const size_t rows = ItemsOffset(image) + 8;
    EXPECT_EQ(Rd32(image.data() + rows + 4), 0xBBBBBBBBu);
    EXPECT_EQ(Rd32(image.data() + rows + 8), 0u);
    EXPECT_EQ(Rd32(image.data() + rows + 12 + 4), 0xAAAAAAAAu);
    EXPECT_EQ(Rd32(image.data() + rows + 12 + 8), 0u);
}

TEST(TableBuilderSaveTest, SaveReplacesALongerFileWholeAndLeavesNoTemporary) {
    const std::string dir = TempDir() + "/save";
    mkdir(dir.c_str(), 0700);
    const std::string path = dir + "/dict.bin";
    WriteFile(path, Bytes(10000, 0x5A));
    t_tableFileBuilder b;
    ASSERT_TRUE(InitPlain(b));
    ASSERT_EQ(b.InsertAndSave(Wide(path).c_str(), {{t_item().S("kiwi").U32(3).Packed().data()}}),
              1);
    const Bytes file = ReadFile(path);
    EXPECT_EQ(file, Plain(b));
    EXPECT_EQ(FilesIn(dir), 1u);
    t_tableFile r;
    ASSERT_TRUE(r.Attach(file.data(), kVersion, int64_t(file.size())));
    const uint8_t* row = nullptr;
    EXPECT_TRUE(r.FindRow(L(Str("kiwi")), 0, &row));

    // A failed save leaves the old file as it was.
    testing::internal::CaptureStdout();
    EXPECT_EQ(b.SaveToFile(L"/nonexistent-dir/dict.bin"), 0);
    EXPECT_NE(testing::internal::GetCapturedStdout().find("can't open file for write !"),
              std::string::npos);
    EXPECT_EQ(ReadFile(path), file);
}

// ---------------------------------------------------------------- merging

TEST(TableMergeTest, ExtensionStyleMergeOrsFlagsAndAddsUnmatchedItems) {
    const Bytes first = Sized(ExtImage(
        {ExtItem({1, 2}, "ab", 0x1), ExtItem({1, 2}, "cd", 0x2), ExtItem({3}, "e", 0x10)}));
    const Bytes second = Sized(ExtImage(
        {ExtItem({1, 2}, "ab", 0x4, 9), ExtItem({5}, "f", 0x8), ExtItem({1, 2}, "gh", 0x20)}));
    const Bytes merged = MergeExt(first, second, &ExtMergeRecord);
    t_tableFile r;
    ASSERT_TRUE(r.Attach(merged.data(), kExtVersion, int64_t(merged.size())));
    const std::vector<std::pair<std::string, uint16_t>> want{
        {"ab", 0x5}, {"cd", 0x2}, {"e", 0x10}, {"f", 0x8}, {"gh", 0x20}};
    EXPECT_EQ(ExtWords(r), want);
    const uint8_t* row = nullptr;
    ASSERT_TRUE(r.FindRow(L(Units({1, 2})), 0, &row));
    std::vector<const uint8_t*> chain;
    ASSERT_TRUE(
        r.CollectAttriChain(Rd32(row + 4), 0, chain, r.GetLayout().keyLayouts[0].attriLinkOffset));
    ASSERT_EQ(chain.size(), 3u);
    EXPECT_EQ(Rd32(chain[0] + 4), 9u);  // the incoming item replaced the stored one
}

TEST(TableMergeTest, EmptySecondImageKeepsTheFirstImagesRowsAndAllocations) {
    const Bytes image1 = ExtImage({ExtItem({1}, "a", 1), ExtItem({2}, "b", 2)});
    EXPECT_EQ(MergeExt(Sized(image1), Sized(ExtImage({})), &ExtMergeRecord), image1);
}

TEST(TableMergeTest, RefusingCallbackKeepsMatchesAndAddsItemsWithOtherFirstFields) {
    const Bytes first = Sized(ExtImage({ExtItem({1}, "a", 1)}));
    const Bytes second = Sized(ExtImage({ExtItem({1}, "a", 4), ExtItem({1}, "b", 8)}));
    const Bytes merged = MergeExt(first, second, &KeepStored);
    t_tableFile r;
    ASSERT_TRUE(r.Attach(merged.data(), kExtVersion, int64_t(merged.size())));
    const std::vector<std::pair<std::string, uint16_t>> want{{"a", 1}, {"b", 8}};
    EXPECT_EQ(ExtWords(r), want);

    // Without attri table: same key, other first value field, becomes a second row.
    t_tableFileBuilder p1, p2, p;
    for (t_tableFileBuilder* x : {&p1, &p2, &p}) ASSERT_TRUE(InitPlain(*x));
    ASSERT_EQ(Insert(p1, t_item().S("fig").U32(1)), 1);
    ASSERT_EQ(Insert(p2, t_item().S("fig").U32(2)), 1);
    ASSERT_EQ(Insert(p2, t_item().S("fig").U32(1)), 1);
    const Bytes a = Sized(Plain(p1)), c = Sized(Plain(p2));
    const std::string path = TempDir() + "/keep.merge";
    int result = -1;
    ASSERT_EQ(p.MergeFiles(a.data(), c.data(), Wide(path).c_str(), &result, &KeepStored), 1);
    EXPECT_EQ(p.GetBucket(0, 'f' - 'a')->size(), 2u);
}

TEST(TableMergeTest, ResultCodeNamesTheImageOrTheWriteThatFailed) {
    const Bytes good = Sized(ExtImage({ExtItem({1}, "a", 1)}));
    t_tableFileBuilder other;
    ASSERT_TRUE(
        other.InitStore(ExtKeys(), ExtAttris(), kExtDatas, kExtVersion, kExtVersion + 1, {}, {}));
    const Bytes wrong = Sized(Plain(other));
    const std::wstring path = Wide(TempDir() + "/codes.merge");
    const struct {
        const Bytes& first;
        const Bytes& second;
        const wchar_t* path;
        int result;
    } cases[] = {
        {wrong, good, path.c_str(), 1},
        {good, wrong, path.c_str(), 2},
        {good, good, L"/nonexistent-dir/m", 3},
    };
    for (const auto& c : cases) {
        t_tableFileBuilder b;
        ASSERT_TRUE(InitExt(b));
        int result = -1;
        testing::internal::CaptureStdout();
        EXPECT_EQ(b.MergeFiles(c.first.data(), c.second.data(), c.path, &result, nullptr), 0);
        testing::internal::GetCapturedStdout();
        EXPECT_EQ(result, c.result);
    }
}

TEST(TableMergeTest, ReplacedLongerStringsStillFitTheSavedImage) {
    // The incoming item carries a longer value for a matched key: the data
    // table must grow with it, or the save would run out of room.
    t_tableFileBuilder p1, p2, p;
    const std::vector<t_keyDesc> keys{Key(1, {0, 7, 0}, kNone, 0, 1)};
    for (t_tableFileBuilder* x : {&p1, &p2, &p}) ASSERT_TRUE(Init(*x, keys, {}, {0, 0}));
    ASSERT_EQ(Insert(p1, t_item().S("k").U32(1).S("s")), 1);
    ASSERT_EQ(Insert(p2, t_item().S("k").U32(1).S("a much longer text")), 1);
    const Bytes a = Sized(Plain(p1)), c = Sized(Plain(p2));
    const std::string path = TempDir() + "/longer.merge";
    int result = -1;
    auto take = [](int32_t, const std::vector<uint8_t*>&, const std::vector<const uint8_t*>&) {
        return 1;
    };
    ASSERT_EQ(p.MergeFiles(a.data(), c.data(), Wide(path).c_str(), &result, take), 1);
    const Bytes merged = ReadFile(path);
    t_tableFile r;
    ASSERT_TRUE(r.Attach(merged.data(), kVersion, int64_t(merged.size())));
    const uint8_t* row = nullptr;
    ASSERT_TRUE(r.FindRow(L(Str("k")), 0, &row));
    EXPECT_EQ(Text(r.GetDataPtr(1, Rd32(row + 8))), "a much longer text");
}

// ---------------------------------------------------------------- loading and updates

TEST(TableUpdateTest, FailedUpdateIsReportedAndNothingIsSaved) {
    t_tableFileBuilder src;
    ASSERT_TRUE(InitPlain(src));
    ASSERT_EQ(Insert(src, t_item().S("old").U32(1)), 1);
    const Bytes image = Plain(src);
    t_tableFile r;
    ASSERT_TRUE(r.Attach(image.data(), kVersion, int64_t(image.size())));
    const std::string path = TempDir() + "/updated.bin";

    const Bytes insert = t_item().S("new").U32(2).Update(1),
                remove = t_item().S("old").U32(1).Update(2);
    const Bytes other = t_item().S("odd").U32(3).Update(7);
    testing::internal::CaptureStdout();
    ASSERT_EQ(
        r.RewriteWithUpdates(Wide(path).c_str(), {{insert.data(), remove.data(), other.data()}}),
        1);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");  // the unknown code is skipped silently
    const Bytes out = ReadFile(path);
    t_tableFile u;
    ASSERT_TRUE(u.Attach(out.data(), kVersion, int64_t(out.size())));
    const uint8_t* row = nullptr;
    EXPECT_TRUE(u.FindRow(L(Str("new")), 0, &row));
    EXPECT_FALSE(u.FindRow(L(Str("old")), 0, &row));
    EXPECT_FALSE(u.FindRow(L(Str("odd")), 0, &row));
    EXPECT_EQ(u.GetKeyRowCount(0), 1);  // the loaded allocation is kept

    Bytes broken = insert;
    Wr32(broken.data() + 2, 0);
    t_tableFileBuilder b;
    ASSERT_TRUE(InitPlain(b));
    testing::internal::CaptureStdout();
    EXPECT_EQ(b.ApplyUpdates({{broken.data(), insert.data()}}), 0);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "insert one is erro");
    EXPECT_EQ(b.GetKeyRowCount(0), 1u);  // the good update still went in

    const std::string untouched = TempDir() + "/untouched.bin";
    testing::internal::CaptureStdout();
    EXPECT_EQ(r.RewriteWithUpdates(Wide(untouched).c_str(), {{broken.data()}}), 0);
    testing::internal::GetCapturedStdout();
    EXPECT_TRUE(ReadFile(untouched).empty());
}

TEST(TableUpdateTest, LoadingALoopingChainFailsInsteadOfHanging) {
    const Bytes image0 = ExtImage({ExtItem({1}, "a", 1), ExtItem({1}, "b", 2)});
    Bytes image = image0;
    t_tableFile r;
    ASSERT_TRUE(r.Attach(image.data(), kExtVersion, int64_t(image.size())));
    const uint8_t* row = nullptr;
    ASSERT_TRUE(r.FindRow(L(Units({1})), 0, &row));
    std::vector<const uint8_t*> chain;
    const uint32_t linkOffset = r.GetLayout().keyLayouts[0].attriLinkOffset;
    ASSERT_TRUE(r.CollectAttriChain(Rd32(row + 4), 0, chain, linkOffset));
    ASSERT_EQ(chain.size(), 2u);
    Wr32(const_cast<uint8_t*>(chain[1]) + linkOffset,
         Rd32(row + 4));  // the last row links back to the first
    EXPECT_FALSE(r.CollectAttriChain(Rd32(row + 4), 0, chain, linkOffset));
    std::vector<std::pair<const uint8_t*, const uint8_t*>> pairs;
    EXPECT_FALSE(r.EnumerateItems(0, pairs));
    t_tableFileBuilder b;
    ASSERT_TRUE(InitExt(b));
    EXPECT_EQ(b.LoadFromReader(r), 0);
}

TEST(TableUpdateTest, ImagesWithSkipWordsOrConsecutiveAttriRowsAreNotLoaded) {
    const t_fullTable t = MakeFullTable();
    t_tableFileBuilder full;
    ASSERT_TRUE(full.InitStoreWithBuckets(t.keys, t.attris, t.datas, kTag, kVersion, t.hashFns,
                                          t.compareFns, t.buckets));
    const Bytes image = Plain(full);
    t_tableFile r;
    ASSERT_TRUE(AttachFull(r, t, image));
    t_tableFileBuilder b;
    ASSERT_TRUE(b.InitStoreWithBuckets(t.keys, t.attris, t.datas, kTag, kVersion, t.hashFns,
                                       t.compareFns, t.buckets));
    EXPECT_EQ(b.LoadFromReader(r), 0);
    EXPECT_EQ(b.MergeFromReader(r, nullptr), 0);
}

TEST(TableBuilderStoreTest, KeysKeptInTheRowMustHoldTheirLengthInsideTheField) {
    // A one-unit string key stored in a 4-byte field of a byte-hashed table.
    t_tableFileBuilder b;
    ASSERT_TRUE(b.InitStoreWithBuckets({Key(6, {8, 7}, kNone, kNone, kNone)}, {}, {}, kTag,
                                       kVersion, {}, {}, {4}));
    ASSERT_EQ(Insert(b, t_item().Raw(Str("x")).U32(1)), 1);
    EXPECT_EQ(Insert(b, t_item().U16(0x7FFF).U16(0).U32(1)),
              0);  // would read past the field
    Bytes image = Plain(b);
    t_tableFile r;
    r.SetBucketCount(0, 4);
    ASSERT_TRUE(r.Attach(image.data(), kVersion, int64_t(image.size())));
    const uint8_t* row = nullptr;
    ASSERT_TRUE(r.FindRow(L(Str("x")), 0, &row));
    const uint8_t* stored = row;
    Wr16(const_cast<uint8_t*>(stored),
         0x7FFE);  // damaged in the file: the lookup fails, nothing is over-read
    EXPECT_FALSE(r.FindRow(L(Str("x")), 0, &row));
    EXPECT_EQ(r.GetRowKey(0, stored), nullptr);
}

TEST(TableBuilderSaveTest, LoadedRowsSharingOneItemDoNotFitAndNothingIsWritten) {
    // Two rows of a loaded image point at the same value item (the items area
    // is not covered by the check number): copied apart they need more bytes
    // than the image allocated, and the save must stop at its table's end.
    t_tableFileBuilder src;
    const std::vector<t_keyDesc> keys{Key(1, {0, 0}, kNone, 0, 1)};
    ASSERT_TRUE(Init(src, keys, {}, {0, 0}));
    ASSERT_EQ(Insert(src, t_item().S("ka").S("a")), 1);
    ASSERT_EQ(Insert(src, t_item().S("kb").S("bbbbbb")), 1);
    Bytes image = Plain(src);
    t_tableFile r;
    ASSERT_TRUE(r.Attach(image.data(), kVersion, int64_t(image.size())));
    const uint8_t *ra = nullptr, *rb = nullptr;
    ASSERT_TRUE(r.FindRow(L(Str("ka")), 0, &ra));
    ASSERT_TRUE(r.FindRow(L(Str("kb")), 0, &rb));
    Wr32(const_cast<uint8_t*>(ra) + 4, Rd32(rb + 4));
    ASSERT_EQ(Text(r.GetDataPtr(1, Rd32(ra + 4))), "bbbbbb");

    t_tableFileBuilder b;
    ASSERT_TRUE(Init(b, keys, {}, {0, 0}));
    ASSERT_EQ(b.LoadFromReader(r), 1);
    Bytes out;
    EXPECT_FALSE(b.BuildPlainImage(out));
    const std::string path = TempDir() + "/shared_item.bin";
    EXPECT_EQ(b.SaveToFile(Wide(path).c_str()), 0);
    EXPECT_TRUE(ReadFile(path).empty());
}
