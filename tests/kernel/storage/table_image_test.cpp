// Golden images, round trips of every key type, and the reader's contract.
#include <gtest/gtest.h>

#include <memory>
#include <set>

#include "tests/kernel/storage/table_support.h"

using namespace tabletest;
using namespace n_tableFormat;

namespace {

void Put32(Bytes& b, uint32_t v) {
    for (int i = 0; i < 4; ++i) b.push_back(uint8_t(v >> (8 * i)));
}
void Put16(Bytes& b, uint16_t v) {
    b.push_back(uint8_t(v));
    b.push_back(uint8_t(v >> 8));
}

// One English key table of a single string field, 54 rows, default 27 buckets.
t_tableFileBuilder* NewSmallBuilder(const void* extra = nullptr, uint32_t extraSize = 0) {
    return new t_tableFileBuilder({Key(1, {0}, kNone, kNone, kNone, 54)}, {}, {}, kTag, kVersion,
                                  {}, {}, extra, extraSize);
}

}  // namespace

TEST(TableGoldenTest, EmptyImageOfOneKeyTableIs730BytesByteForByte) {
    std::unique_ptr<t_tableFileBuilder> b(NewSmallBuilder());
    t_tableFileBuilder::t_sizes sizes;
    ASSERT_EQ(b->GetTotalSize(&sizes), 730);
    EXPECT_EQ(sizes.configSize, 34u);
    EXPECT_EQ(sizes.headSize, 36u);
    EXPECT_EQ(sizes.itemsSize, 648u);
    EXPECT_EQ(sizes.extraSize, 0u);

    // The expected image, written out field by field.
    Bytes want;
    Put32(want, 0);  // check number, filled below
    Put32(want, 34);
    Put32(want, 1), Put32(want, 0), Put32(want, 0);
    Put16(want, 1), Put16(want, 1), Put16(want, 0);
    Put32(want, kNone), Put32(want, kNone), Put32(want, kNone), Put32(want, 54);
    Put32(want, kTag), Put32(want, kVersion), Put32(want, 648), Put32(want, 1), Put32(want, 0),
        Put32(want, 0);
    Put32(want, 216), Put32(want, 54), Put32(want, 0);  // bucket array of 27 x 8 bytes first
    for (uint32_t bkt = 0; bkt < 27; ++bkt)
        Put32(want, 16 * bkt), Put32(want, 0);  // 2 rows a bucket
    want.resize(want.size() + 54 * 8, 0);
    Put32(want, 0);  // extraSize
    const uint32_t sum = 34 + 1 + 1 + 1 + 0 + 3 * kNone + 54 + kTag + kVersion + 648 + 1 + 216 + 54;
    Wr32(want.data(), ~sum);
    ASSERT_EQ(want.size(), 730u);

    Bytes got(730);
    ASSERT_TRUE(b->BuildToBuffer(got.data(), int64_t(got.size())));
    EXPECT_EQ(got, want);
    Bytes again(730);
    ASSERT_TRUE(b->BuildToBuffer(again.data(), int64_t(again.size())));
    EXPECT_EQ(again, got);  // every output computes its check number afresh

    Bytes tooLarge(731, 0xAB);
    EXPECT_FALSE(b->BuildToBuffer(tooLarge.data(), int64_t(tooLarge.size())));
    EXPECT_EQ(tooLarge, Bytes(731, 0xAB));

    t_tableFile reader;
    testing::internal::CaptureStdout();
    EXPECT_FALSE(reader.Attach(got.data(), kVersion, int64_t(got.size())));
    EXPECT_NE(testing::internal::GetCapturedStdout().find("totalsize is erro"), std::string::npos);
    ASSERT_TRUE(reader.Attach(got.data(), kVersion, int64_t(got.size()) - 4));
    for (int bkt = 0; bkt < 27; ++bkt) {
        EXPECT_EQ(reader.GetBucketStart(0, bkt), 16 * bkt);
        EXPECT_EQ(reader.GetBucketCapacity(0, bkt), 2);
    }
}

TEST(TableGoldenTest, PopulatedPrefixSkipImageByteForByte) {
    // Keys a, ab, abc, b in one bucket of a prefix-skip table.
    t_tableFileBuilder b;
    ASSERT_TRUE(b.InitStoreWithBuckets({Key(0x13, {0}, kNoAttriNoWord, 0, kNone)}, {}, {0}, kTag,
                                       kVersion, {}, {}, {1}));
    for (const char* k : {"b", "abc", "a", "ab"})
        ASSERT_EQ(b.InsertOne(t_item().S(k).Packed().data(), 0), 1);

    Bytes want;
    Put32(want, 0);
    Put32(want, 38);
    Put32(want, 1), Put32(want, 0), Put32(want, 1);
    Put16(want, 0x13), Put16(want, 1), Put16(want, 0);
    Put32(want, kNoAttriNoWord), Put32(want, 0), Put32(want, kNone), Put32(want, 0);
    Put32(want, 0);  // data table capacity
    Put32(want, kTag), Put32(want, kVersion), Put32(want, 62), Put32(want, 1), Put32(want, 0),
        Put32(want, 1);
    Put32(want, 8), Put32(want, 4), Put32(want, 0);    // key table after its one bucket entry
    Put32(want, 40), Put32(want, 22), Put32(want, 0);  // data table
    Put32(want, 0), Put32(want, 4);                    // the bucket
    Put32(want, 0), Put32(want, 3);                    // a: passes ab, abc; claims b
    Put32(want, 4), Put32(want, 0);                    // ab: passes abc; b is claimed
    Put32(want, 10), Put32(want, kNone);               // abc
    Put32(want, 18), Put32(want, kNone);               // b, the last row
    for (const char* k : {"a", "ab", "abc", "b"}) {
        const Bytes s = Str(k);
        want.insert(want.end(), s.begin(), s.end());
    }
    uint32_t sum = 38 + 1 + 0 + 1 + 0x13 + 1 + 0 + kNoAttriNoWord + 0 + kNone + 0 + 0;
    sum += kTag + kVersion + 62 + 1 + 0 + 1 + 8 + 4 + 40 + 22;
    Wr32(want.data(), ~sum);
    EXPECT_EQ(Plain(b), want);
}

TEST(TableGoldenTest, BuilderFileCarriesExtraWordAfterThePlainImage) {
    const uint8_t extra[6] = {1, 2, 3, 4, 5, 6};
    std::unique_ptr<t_tableFileBuilder> withExtra(NewSmallBuilder(extra, sizeof extra));
    ASSERT_EQ(withExtra->GetTotalSize(nullptr), 736);
    const std::string path = TempDir() + "/extra.bin";
    WriteFile(path, Bytes(5000, 0x11));  // a longer old file is replaced whole
    ASSERT_TRUE(withExtra->BuildToFile(Wide(path).c_str()));
    const Bytes file = ReadFile(path);
    ASSERT_EQ(file.size(), 736u);
    EXPECT_EQ(Rd32(file.data() + 726), 6u);
    EXPECT_EQ(Bytes(file.end() - 6, file.end()), Bytes(extra, extra + 6));
    t_tableFile reader;
    EXPECT_TRUE(reader.Attach(file.data(), kVersion, int64_t(file.size()) - 4 - 6));

    std::unique_ptr<t_tableFileBuilder> plain(NewSmallBuilder());
    Bytes image(730);
    ASSERT_TRUE(plain->BuildToBuffer(image.data(), 730));
    EXPECT_EQ(Rd32(image.data() + 726), 0u);  // extraSize 0 is still written
}

TEST(TableGoldenTest, ImagesWithoutTablesAreRefusedByTheBuilderButReadable) {
    t_tableFileBuilder b({}, {}, {}, kTag, kVersion, {}, {}, nullptr, 0);
    Bytes buf(64);
    EXPECT_FALSE(b.BuildToBuffer(buf.data(), b.GetTotalSize(nullptr)));

    Bytes image;
    Put32(image, 0), Put32(image, 12), Put32(image, 0), Put32(image, 0), Put32(image, 0);
    Put32(image, kTag), Put32(image, kVersion), Put32(image, 1), Put32(image, 0), Put32(image, 0),
        Put32(image, 0);
    image.push_back(0);
    FixCheck(image);
    t_tableFile reader;
    EXPECT_TRUE(reader.Attach(image.data(), kVersion, int64_t(image.size())));
    Wr32(image.data() + 28, 0);  // itemsSize 0
    FixCheck(image);
    testing::internal::CaptureStdout();
    EXPECT_FALSE(reader.Attach(image.data(), kVersion, int64_t(image.size()) - 1));
    testing::internal::GetCapturedStdout();
}

// ---------------------------------------------------------------- round trips

TEST(TableRoundTripTest, EveryKeyTypeSurvivesBuilderFileReader) {
    const t_fullTable t = MakeFullTable();
    t_tableFileBuilder b;
    ASSERT_TRUE(b.InitStoreWithBuckets(t.keys, t.attris, t.datas, kTag, kVersion, t.hashFns,
                                       t.compareFns, t.buckets));
    for (size_t k = 0; k < t.items.size(); ++k)
        for (const Bytes& item : t.items[k])
            ASSERT_EQ(b.InsertOne(item.data(), int(k)), 1) << "table " << k;
    const std::string path = TempDir() + "/full.bin";
    ASSERT_EQ(b.SaveToFile(Wide(path).c_str()), 1);
    const Bytes image = ReadFile(path);
    t_tableFile r;
    ASSERT_TRUE(AttachFull(r, t, image));
    const t_tableLayout& lay = r.GetLayout();

    // 0: caller-hashed u32 keys with string values; an empty value has no item.
    for (uint32_t v : {1u, 6u, 11u, 7u, 123456u}) {
        uint8_t key[4];
        Wr32(key, v);
        const uint8_t* row = nullptr;
        ASSERT_TRUE(r.FindRow(reinterpret_cast<const t_lstr*>(key), 0, &row)) << v;
        EXPECT_EQ(Text(r.GetDataPtr(1, Rd32(row + lay.keyLayouts[0].fieldOffsets[1]))),
                  "v" + std::to_string(v));
    }
    uint8_t two[4];
    Wr32(two, 2);
    const uint8_t* row = nullptr;
    ASSERT_TRUE(r.FindRow(reinterpret_cast<const t_lstr*>(two), 0, &row));
    EXPECT_EQ(Rd32(row + 4), kNone);

    // 1: English words; one key row, its attri rows chained in insertion order.
    ASSERT_TRUE(r.FindRow(L(Str("apple")), 1, &row));
    EXPECT_EQ(Rd16(row + lay.keyLayouts[1].fieldOffsets[1]), 1);
    std::vector<const uint8_t*> chain;
    ASSERT_TRUE(r.CollectAttriChain(Rd32(row + lay.keyLayouts[1].linkOffset), 1, chain,
                                    lay.keyLayouts[1].attriLinkOffset));
    ASSERT_EQ(chain.size(), 2u);
    EXPECT_EQ(Text(r.GetDataPtr(2, Rd32(chain[0]))), "x");
    EXPECT_EQ(Rd32(chain[1] + 4), 11u);
    ASSERT_TRUE(r.FindRow(L(Str("Apple")), 1, &row));
    ASSERT_TRUE(r.FindRow(L(Str("zoo")), 1, &row));
    ASSERT_TRUE(r.FindRow(L(Str("1a")), 1, &row));
    EXPECT_FALSE(r.FindRow(L(Str("apples")), 1, &row));
    std::vector<std::pair<const uint8_t*, const uint8_t*>> pairs;
    ASSERT_TRUE(r.EnumerateItems(1, pairs));
    EXPECT_EQ(pairs.size(), 9u);

    // 2: prefix-skip table: every stored key is found, absent ones are not.
    for (const char* k : {"a", "ab", "abc", "b", "abd", "ba", "c", "cab"}) {
        ASSERT_TRUE(r.FindRow(L(Str(k)), 2, &row)) << k;
        EXPECT_EQ(Text(r.GetDataPtr(1, Rd32(row + 8))), std::string("val-") + k);
    }
    for (const char* k : {"abcd", "aa", "bb", "ca", "d", "abe"})
        EXPECT_FALSE(r.FindRow(L(Str(k)), 2, &row)) << k;

    // 3: pinyin ids, attri rows consecutive and sorted, walked by prefix.
    ASSERT_TRUE(r.FindRow(L(Units({3, 100})), 3, &row));
    const t_keyLayout& p = lay.keyLayouts[3];
    EXPECT_EQ(Rd32(row + p.countOffset), 4u);
    const uint32_t first = Rd32(row + p.linkOffset);
    const char* order[] = {"b", "m", "ma", "mab"};
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(Text(r.GetDataPtr(2, Rd32(r.GetAttriRow(1, first + i * p.attriRowSize)))),
                  order[i]);
    int32_t at = -1;
    EXPECT_TRUE(r.PrefixSearchAttri(L(Str("b")), 1, first, 3, &at));
    EXPECT_EQ(at, 0);
    EXPECT_TRUE(r.PrefixSearchAttri(L(Str("ma")), 1, first, 3,
                                    &at));  // the shorter stored prefix comes first
    EXPECT_EQ(at, 1);
    EXPECT_TRUE(r.PrefixSearchAttri(L(Str("mz")), 1, first, 3, &at));  // stored "m" is a prefix
    EXPECT_EQ(at, 1);
    EXPECT_FALSE(r.PrefixSearchAttri(L(Str("c")), 1, first, 3, &at));
    EXPECT_FALSE(r.FindRow(L(Units({8})), 3, &row));  // id beyond the 8 buckets
    // Key {3} holds one empty string, stored as "no item": a prefix of anything.
    ASSERT_TRUE(r.FindRow(L(Units({3})), 3, &row));
    EXPECT_EQ(Rd32(r.GetAttriRow(1, Rd32(row + p.linkOffset))), kNone);
    EXPECT_TRUE(r.PrefixSearchAttri(L(Str("x")), 1, Rd32(row + p.linkOffset), 0, &at));

    // 4: digit keys are their bucket; duplicates stand side by side.
    EXPECT_EQ(r.GetBucketRowCount(4, 3), 2);
    EXPECT_EQ(r.GetBucketRowCount(4, 15), 1);
    EXPECT_EQ(Rd32(r.GetBucketRow(4, 0, r.GetBucketStart(4, 9))), 900u);

    // 5: binary keys with packed attri rows, sorted by their first field.
    ASSERT_TRUE(r.FindRow(L(Bytes{4, 0, 0xFF, 0x00, 0x10, 0x20}), 5, &row));
    const t_keyLayout& q = lay.keyLayouts[5];
    EXPECT_EQ(Rd32(row + q.countOffset), 2u);
    const uint8_t* ar = r.GetAttriRow(2, Rd32(row + q.linkOffset));
    EXPECT_EQ(LstrGetUnit(r.GetDataPtr(2, Rd32(ar)), 0), 'a');
    EXPECT_TRUE(r.FindRow(L(Bytes{0, 0}), 5, &row));
    EXPECT_EQ(ExerciseReader(r), 6u + 8 + 8 + 4 + 5 + 3);
}

TEST(TableRoundTripTest, HanziKeysShareTheBucketOfTheirLowByte) {
    // Policy 3 hashes the low byte of the first unit: 0x4E00 and 0x5100 share
    // bucket 0 and are told apart by the compare order alone.
    t_tableFileBuilder b;
    ASSERT_TRUE(b.InitStore({Key(3, {0, 7}, kNone, 0, kNone)}, {}, {0}, kTag, kVersion, {}, {}));
    const std::vector<std::vector<uint16_t>> keys{
        {0x5100}, {0x4E00, 0x4E01}, {0x4E00}, {0x4E61}, {}};
    for (size_t i = 0; i < keys.size(); ++i)
        ASSERT_EQ(b.InsertOne(t_item().Raw(Units(keys[i])).U32(uint32_t(i)).Packed().data(), 0), 1);
    const std::string path = TempDir() + "/hanzi.bin";
    ASSERT_EQ(b.SaveToFile(Wide(path).c_str()), 1);
    const Bytes image = ReadFile(path);
    t_tableFile r;
    ASSERT_TRUE(r.Attach(image.data(), kVersion, int64_t(image.size())));
    EXPECT_EQ(r.GetBucketCount(0), 512);
    EXPECT_EQ(r.GetBucketRowCount(0, 0), 4);  // the empty key, 0x4E00, 0x4E00 0x4E01, 0x5100
    EXPECT_EQ(r.GetBucketRowCount(0, 0x61), 1);
    for (size_t i = 0; i < keys.size(); ++i) {
        const uint8_t* row = nullptr;
        ASSERT_TRUE(r.FindRow(L(Units(keys[i])), 0, &row)) << i;
        EXPECT_EQ(Rd32(row + 4), uint32_t(i));
    }
    const uint8_t* row = nullptr;
    EXPECT_FALSE(r.FindRow(L(Units({0x5200})), 0, &row));
    EXPECT_FALSE(r.FindRow(L(Units({0x4E00, 0x4E02})), 0, &row));
}

// ---------------------------------------------------------------- reader contract

class TableReaderTest : public testing::Test {
protected:
    void SetUp() override {
        t = MakeFullTable();
        ASSERT_TRUE(b.InitStoreWithBuckets(t.keys, t.attris, t.datas, kTag, kVersion, t.hashFns,
                                           t.compareFns, t.buckets));
        for (size_t k = 0; k < t.items.size(); ++k)
            for (const Bytes& item : t.items[k]) ASSERT_EQ(b.InsertOne(item.data(), int(k)), 1);
        image = Plain(b);
    }
    t_fullTable t;
    t_tableFileBuilder b;
    Bytes image;
};

TEST_F(TableReaderTest, WrongVersionIsRefusedWithItsMessage) {
    t_tableFile r;
    for (size_t k = 0; k < t.buckets.size(); ++k) r.SetBucketCount(int(k), t.buckets[k]);
    testing::internal::CaptureStdout();
    EXPECT_FALSE(
        r.Attach(image.data(), kVersion + 1, t.hashFns, t.compareFns, int64_t(image.size())));
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "format is erro");
    EXPECT_FALSE(r.IsAttached());
}

TEST_F(TableReaderTest, FlippedConfigByteFailsSilentlyAndFlippedItemByteAttaches) {
    Bytes bad = image;
    bad[12] ^= 0x01;
    t_tableFile r;
    testing::internal::CaptureStdout();
    EXPECT_FALSE(AttachFull(r, t, bad));
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    bad = image;
    bad[image.size() - 3] ^= 0x40;
    EXPECT_TRUE(AttachFull(r, t, bad));
}

TEST_F(TableReaderTest, FunctionListThatRunsOutFailsTheAttach) {
    t_tableFile r;
    for (size_t k = 0; k < t.buckets.size(); ++k) r.SetBucketCount(int(k), t.buckets[k]);
    EXPECT_FALSE(r.Attach(image.data(), kVersion, {}, t.compareFns, int64_t(image.size())));
    EXPECT_FALSE(r.Attach(image.data(), kVersion, t.hashFns, {}, int64_t(image.size())));
    EXPECT_TRUE(r.Attach(image.data(), kVersion, t.hashFns, t.compareFns, int64_t(image.size())));
}

TEST_F(TableReaderTest, BucketCountsOutsideTheTenSlotsAreRefused) {
    t_tableFile r;
    EXPECT_FALSE(r.SetBucketCount(10, 5));
    EXPECT_FALSE(r.SetBucketCount(-1, 5));
    EXPECT_TRUE(r.SetBucketCount(9, 5));
}

TEST_F(TableReaderTest, DifferentBucketCountReadsTheFileWrongly) {
    t_tableFile r;
    for (size_t k = 0; k < t.buckets.size(); ++k) r.SetBucketCount(int(k), t.buckets[k]);
    r.SetBucketCount(3, 7);
    if (r.Attach(image.data(), kVersion, t.hashFns, t.compareFns, int64_t(image.size()))) {
        const uint8_t* row = nullptr;
        EXPECT_FALSE(r.FindRow(L(Units({3, 100})), 3, &row) && r.FindRow(L(Units({5})), 3, &row) &&
                     r.FindRow(L(Units({7, 7})), 3, &row));
    }
}

TEST_F(TableReaderTest, EmptyBucketGivesRowZeroAndTheBucketStart) {
    t_tableFile r;
    ASSERT_TRUE(AttachFull(r, t, image));
    int32_t row = -1, start = -1, bucket = -1;
    EXPECT_FALSE(r.Find(L(Str("quince")), 1, &row, &start, &bucket));
    EXPECT_EQ(row, 0);
    EXPECT_EQ(bucket, 'q' - 'a');
    EXPECT_EQ(start, r.GetBucketStart(1, bucket));
}

TEST_F(TableReaderTest, OneLetterEnglishKeyLooksOnlyAtTheBucketsFirstRow) {
    t_tableFile r;
    ASSERT_TRUE(AttachFull(r, t, image));
    int32_t row = -1, start = 0;
    // Bucket 0 holds A, Apple, a, apple: the lone "a" sits in row 2.
    EXPECT_FALSE(r.Find(L(Str("a")), 1, &row, &start));
    EXPECT_EQ(row, 0);
    EXPECT_TRUE(r.Find(L(Str("A")), 1, &row, &start));
    EXPECT_TRUE(r.Find(L(Str("apple")), 1, &row, &start));
    EXPECT_EQ(row, 3);
}

TEST_F(TableReaderTest, FindPrefixAcceptsAStoredPrefixOfTheKey) {
    t_tableFile r;
    ASSERT_TRUE(AttachFull(r, t, image));
    int32_t row = -1, start = 0;
    EXPECT_TRUE(r.FindPrefix(L(Str("zookeeper")), 1, &row, &start));
    EXPECT_FALSE(
        r.FindPrefix(L(Str("ab")), 2, &row, &start));  // prefix-skip tables are not searched
}

TEST_F(TableReaderTest, FixedFieldEditKeepsTheCheckNumberAndLongerStringIsAppended) {
    // The value strings fill their table exactly, as the editable form would record it.
    SetUsed(image, 6 + 3 + 1, uint32_t(b.GetDataSize(1)));
    t_tableFile r;
    ASSERT_TRUE(AttachFull(r, t, image));
    const uint32_t check = r.GetCheckNum();
    const uint8_t* row = nullptr;
    ASSERT_TRUE(r.FindRow(L(Str("apple")), 1, &row));
    const uint16_t shortValue = 99;
    ASSERT_TRUE(r.SetFieldAt(&shortValue, 2, row, 4, 1, false, true));
    EXPECT_EQ(Rd16(row + 4), 99);
    EXPECT_EQ(r.GetCheckNum(), check);

    // No spare bytes: a longer string is refused and nothing changes.
    ASSERT_TRUE(r.FindRow(L(Str("ab")), 2, &row));
    const Bytes before = image;
    const Bytes longer = Str("a much longer value");
    EXPECT_FALSE(r.SetFieldAt(longer.data(), uint32_t(longer.size()), row, 8, 2, true, true));
    EXPECT_EQ(image, before);
    // A shorter one replaces the item in place.
    const Bytes shorter = Str("v");
    ASSERT_TRUE(r.SetFieldAt(shorter.data(), uint32_t(shorter.size()), row, 8, 2, true, true));
    EXPECT_EQ(Text(r.GetDataPtr(1, Rd32(row + 8))), "v");
    EXPECT_EQ(r.GetCheckNum(), check);
}

TEST_F(TableReaderTest, ItemsReachingPastTheUsedBytesAreNotHandedOut) {
    // Once a data table records its fill, an item must end inside it, even
    // though the allocation behind it would still hold the bytes.
    const uint32_t size = uint32_t(b.GetDataSize(1));
    uint32_t last = 0;
    {
        t_tableFile whole;
        ASSERT_TRUE(AttachFull(whole, t, image));
        for (uint32_t off = 0; off < size;
             off += 2 + uint32_t(LstrGetByteLength(whole.GetDataPtr(1, off)))) {
            ASSERT_NE(whole.GetDataPtr(1, off), nullptr) << off;
            last = off;
        }
    }
    SetUsed(image, 6 + 3 + 1, size - 1);
    t_tableFile r;
    ASSERT_TRUE(AttachFull(r, t, image));
    EXPECT_NE(r.GetDataPtr(1, 0), nullptr);
    EXPECT_EQ(r.GetDataPtr(1, last), nullptr);
    EXPECT_EQ(r.GetDataPtr(1, size - 1), nullptr);
    ExerciseReader(r);
}

TEST(TableReaderEditTest, LongerStringIsAppendedAndTheImageReattaches) {
    // A table with spare data bytes: the empty image of a builder, filled by hand.
    const std::vector<int32_t> buckets{2};
    t_tableFileBuilder b({Key(2, {0, 0}, kNone, 0, 1, 4)}, {}, {64, 64}, kTag, kVersion, {}, {},
                         nullptr, 0, &buckets);
    Bytes image(size_t(b.GetTotalSize(nullptr)));
    ASSERT_TRUE(b.BuildToBuffer(image.data(), int64_t(image.size())));
    image.resize(image.size() - 4);  // plain image
    const size_t items = ItemsOffset(image);
    const size_t keyRows = items + 2 * 8, keyData = keyRows + 4 * 12, valueData = keyData + 64;
    // Bucket 1 starts at row 2 and gets one row: key {1}, value "ab".
    ASSERT_EQ(Rd32(image.data() + items + 8), 24u);
    Wr32(image.data() + items + 8 + 4, 1);
    const Bytes key = Units({1}), value = Str("ab");
    std::copy(key.begin(), key.end(), image.begin() + long(keyData));
    std::copy(value.begin(), value.end(), image.begin() + long(valueData));
    Wr32(image.data() + keyRows + 24, 0), Wr32(image.data() + keyRows + 28, 0);
    SetUsed(image, 0, 1);
    SetUsed(image, 1, uint32_t(key.size()));
    SetUsed(image, 2, uint32_t(value.size()));
    t_tableFile r;
    r.SetBucketCount(0, 2);
    ASSERT_TRUE(r.Attach(image.data(), kVersion, int64_t(image.size())));
    const uint32_t check = r.GetCheckNum();
    const Bytes longer = Str("abcdef");
    ASSERT_TRUE(r.SetRowField(longer.data(), uint32_t(longer.size()), 0, 0, 24, 4, true, true));
    EXPECT_EQ(r.GetDataUsed(1), int32_t(value.size() + longer.size()));
    EXPECT_EQ(r.GetCheckNum(), ~(uint32_t(longer.size()) + ~check));
    EXPECT_EQ(Text(r.GetDataPtr(1, 0)), "ab");  // the old item is left in place
    const uint8_t* row = nullptr;
    ASSERT_TRUE(r.FindRow(L(key), 0, &row));
    EXPECT_EQ(Text(r.GetDataPtr(1, Rd32(row + 4))), "abcdef");
    t_tableFile again;
    again.SetBucketCount(0, 2);
    EXPECT_TRUE(again.Attach(image.data(), kVersion, int64_t(image.size())));
    EXPECT_EQ(ExpectedCheck(image), Rd32(image.data()));

    // An append that would pass the table's allocation changes nothing.
    const Bytes huge = Str(std::string(40, 'x'));
    const Bytes before = image;
    EXPECT_FALSE(r.SetRowField(huge.data(), uint32_t(huge.size()), 0, 0, 24, 4, true, true));
    EXPECT_EQ(image, before);
}

TEST(TableReaderEditTest, ReplacingAnAttriStringNeverMovesOtherItems) {
    // Two keys whose attri strings sit one after the other in the data table.
    t_tableFileBuilder b;
    ASSERT_TRUE(
        b.InitStore({Key(1, {0, 0}, 0, 0, kNone)}, {{1, 0, 1, 0}}, {0, 0}, kTag, kVersion, {}, {}));
    ASSERT_EQ(b.InsertOne(t_item().S("a").S("first").Packed().data(), 0), 1);
    ASSERT_EQ(b.InsertOne(t_item().S("b").S("second").Packed().data(), 0), 1);
    Bytes image = Plain(b);
    // Give the attri strings 32 spare bytes, as an editable image would have.
    const size_t hdr = HeaderOffset(image);
    const size_t rec = hdr + kHeaderFixedSize + kTableRecordSize * 3;  // data table 1
    const uint32_t used = Rd32(image.data() + rec + 4);
    Wr32(image.data() + rec + 4, used + 32);
    Wr32(image.data() + hdr + 8, Rd32(image.data() + hdr + 8) + 32);
    image.resize(image.size() + 32, 0);
    SetUsed(image, 3, used);
    t_tableFile r;
    ASSERT_TRUE(r.Attach(image.data(), kVersion, int64_t(image.size())));
    const uint8_t *ra = nullptr, *rb = nullptr;
    ASSERT_TRUE(r.FindRow(L(Str("a")), 0, &ra));
    ASSERT_TRUE(r.FindRow(L(Str("b")), 0, &rb));
    const uint32_t linkA = Rd32(ra + 4), linkB = Rd32(rb + 4);
    const Bytes longer = Str("first, longer");
    ASSERT_TRUE(r.SetRowField(longer.data(), uint32_t(longer.size()), 0, 0, linkA, 0, true, false));
    EXPECT_EQ(Text(r.GetDataPtr(1, Rd32(r.GetAttriRowPtr(0, linkA)))), "first, longer");
    EXPECT_EQ(Text(r.GetDataPtr(1, Rd32(r.GetAttriRowPtr(0, linkB)))), "second");
    t_tableFile again;
    EXPECT_TRUE(again.Attach(image.data(), kVersion, int64_t(image.size())));
}

TEST(TableReaderFileTest, SaveOverALongerFileLeavesExactlyTheImage) {
    t_tableFileBuilder b;
    ASSERT_TRUE(b.InitStore({Key(1, {0, 7}, kNone, 0, kNone)}, {}, {0}, kTag, kVersion, {}, {}));
    ASSERT_EQ(b.InsertOne(t_item().S("word").U32(5).Packed().data(), 0), 1);
    const Bytes image = Plain(b);
    const std::string path = TempDir() + "/reader_save.bin";
    WriteFile(path, Bytes(image.size() * 3, 0xEE));
    t_tableFile r;
    ASSERT_TRUE(r.Attach(image.data(), kVersion, int64_t(image.size())));
    ASSERT_TRUE(r.SaveToFile(Wide(path).c_str()));
    EXPECT_EQ(ReadFile(path), image);
    testing::internal::CaptureStdout();
    EXPECT_FALSE(r.SaveToFile(L"/nonexistent-dir/x.bin"));
    EXPECT_NE(testing::internal::GetCapturedStdout().find("can't open file for write !"),
              std::string::npos);
}

TEST(TableReaderFileTest, UnboundedAttachTakesTheLengthFromTheHeader) {
    t_tableFileBuilder b;
    ASSERT_TRUE(b.InitStore({Key(6, {0, 7}, kNone, 0, kNone)}, {}, {0}, kTag, kVersion, {}, {}));
    ASSERT_EQ(b.InsertOne(t_item().S("k").U32(1).Packed().data(), 0), 1);
    const Bytes image = Plain(b);
    t_tableFile r;
    ASSERT_TRUE(r.Attach(image.data(), kVersion, 0));
    EXPECT_EQ(r.GetImageSize(), int64_t(image.size()));
    const uint8_t* row = nullptr;
    EXPECT_TRUE(r.FindRow(L(Str("k")), 0, &row));
    EXPECT_FALSE(r.Attach(image.data(), kVersion, -1));
}

TEST(TablePrefixWalkTest, FindsExactlyTheStoredKeysOfRandomSets) {
    // Every string of one to four letters over a, b, c is looked up in random
    // key sets: a walk that trusted its matched prefix across a jump found
    // "baca" among aacb, babc, bcab, caca, cb, cc.
    std::vector<std::string> all;
    for (int len = 1, n = 3; len <= 4; ++len, n *= 3)
        for (int v = 0; v < n; ++v) {
            std::string s;
            for (int i = 0, x = v; i < len; ++i, x /= 3) s += char('a' + x % 3);
            all.push_back(s);
        }
    uint32_t seed = 12345;
    auto next = [&seed]() { return (seed = seed * 1103515245u + 12345u) >> 8; };
    for (int trial = 0; trial < 200; ++trial) {
        std::set<std::string> keys;
        const size_t count = 1 + next() % 24;
        while (keys.size() < count) keys.insert(all[next() % all.size()]);
        t_tableFileBuilder b;
        ASSERT_TRUE(b.InitStoreWithBuckets({Key(0x13, {0}, kNoAttriNoWord, 0, kNone)}, {}, {0},
                                           kTag, kVersion, {}, {}, {1}));
        for (const std::string& k : keys)
            ASSERT_EQ(b.InsertOne(t_item().S(k).Packed().data(), 0), 1);
        const Bytes image = Plain(b);
        t_tableFile r;
        r.SetBucketCount(0, 1);
        ASSERT_TRUE(r.Attach(image.data(), kVersion, int64_t(image.size())));
        for (const std::string& q : all) {
            int32_t row = -1, start = -1;
            const bool found = r.Find(L(Str(q)), 0, &row, &start);
            ASSERT_EQ(found, keys.count(q) > 0) << "query " << q << " in a set of " << keys.size();
            // On a miss, row is where the key would go.
            if (!found) {
                ASSERT_EQ(size_t(row), size_t(std::distance(keys.begin(), keys.lower_bound(q))))
                    << q;
            }
        }
    }
}
