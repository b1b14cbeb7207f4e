// Damaged images: every attach either fails or leaves every search and walk
// inside the image. Images are copied into buffers of exactly their size so
// that the sanitizer build catches any read past the end.
#include <gtest/gtest.h>

#include <memory>

#include "tests/kernel/storage/table_support.h"

using namespace tabletest;
using namespace n_tableFormat;

namespace {

class TableCorruptionTest : public testing::Test {
protected:
    void SetUp() override {
        t = MakeFullTable();
        t_tableFileBuilder b;
        ASSERT_TRUE(b.InitStoreWithBuckets(t.keys, t.attris, t.datas, kTag, kVersion, t.hashFns,
                                           t.compareFns, t.buckets));
        for (size_t k = 0; k < t.items.size(); ++k)
            for (const Bytes& item : t.items[k]) ASSERT_EQ(b.InsertOne(item.data(), int(k)), 1);
        image = Plain(b);
        items = ItemsOffset(image);
        header = HeaderOffset(image);
    }

    // Attaches a copy in an exactly sized heap block; exercises it when it attaches.
    bool Probe(const Bytes& bytes, size_t size) {
        std::unique_ptr<uint8_t[]> copy(new uint8_t[size ? size : 1]);
        std::copy(bytes.begin(), bytes.begin() + long(size), copy.get());
        t_tableFile r;
        for (size_t k = 0; k < t.buckets.size(); ++k) r.SetBucketCount(int(k), t.buckets[k]);
        testing::internal::CaptureStdout();
        const bool ok = r.Attach(copy.get(), kVersion, t.hashFns, t.compareFns, int64_t(size));
        testing::internal::GetCapturedStdout();
        if (ok) ExerciseReader(r);
        return ok;
    }

    // As Probe; when the damaged image attaches, every key row the reader
    // lists must lie whole inside it. *attached counts the images that did.
    bool RowsStayInside(const Bytes& bytes, size_t* attached) {
        std::unique_ptr<uint8_t[]> copy(new uint8_t[bytes.size()]);
        std::copy(bytes.begin(), bytes.end(), copy.get());
        t_tableFile r;
        for (size_t k = 0; k < t.buckets.size(); ++k) r.SetBucketCount(int(k), t.buckets[k]);
        testing::internal::CaptureStdout();
        const bool ok =
            r.Attach(copy.get(), kVersion, t.hashFns, t.compareFns, int64_t(bytes.size()));
        testing::internal::GetCapturedStdout();
        if (!ok) return true;
        ++*attached;
        const uint8_t* end = copy.get() + bytes.size();
        for (int k = 0; k < r.GetKeyCount(); ++k) {
            std::vector<const uint8_t*> rows;
            r.CollectKeyRows(k, rows);
            const uint32_t rowSize = r.GetLayout().keyLayouts[size_t(k)].rowSize;
            for (const uint8_t* row : rows)
                if (row < copy.get() || row + rowSize > end) return false;
        }
        ExerciseReader(r);
        return true;
    }

    t_fullTable t;
    Bytes image;
    size_t items = 0, header = 0;
};

}  // namespace

TEST_F(TableCorruptionTest, ImageCutAtEveryLengthIsRefused) {
    ASSERT_TRUE(Probe(image, image.size()));
    // (A size of 0 asks for the unbounded attach of a caller's own image.)
    for (size_t n = 1; n < image.size(); ++n) EXPECT_FALSE(Probe(image, n)) << n;
}

TEST_F(TableCorruptionTest, FlippedBytesAnywhereAttachFailOrStayInside) {
    size_t attached = 0;
    for (size_t i = 0; i < image.size(); ++i) {
        for (uint8_t mask : {0x01, 0x80, 0xFF}) {
            Bytes bad = image;
            bad[i] ^= mask;
            attached += Probe(bad, bad.size());
            // With the check number made right again only the structure checks stand.
            FixCheck(bad);
            attached += Probe(bad, bad.size());
        }
    }
    EXPECT_GT(attached, 0u);
}

TEST_F(TableCorruptionTest, ItemsAreaWordsSetToExtremesStayInside) {
    // Every aligned word of the items area (bucket entries, rows, links,
    // counts, skip words, item lengths) set to values that point far away.
    // The check number does not cover this area, so many such images attach:
    // their rows must still be inside.
    size_t attached = 0, tried = 0;
    for (size_t i = items; i + 4 <= image.size(); i += 2) {
        for (uint32_t v :
             {0xFFFFFFFFu, 0x7FFFFFFFu, 0x80000000u, 0xFFFFFFF8u, 0x00007FFFu, 0x00010000u, 4u}) {
            Bytes bad = image;
            Wr32(bad.data() + i, v);
            ++tried;
            EXPECT_TRUE(RowsStayInside(bad, &attached)) << "word at " << i << " set to " << v;
        }
    }
    EXPECT_GT(attached, 0u);
    EXPECT_LT(attached, tried);  // bucket entries pointing away are refused
}

TEST_F(TableCorruptionTest, HugeTableRecordsAreRefused) {
    const size_t tables = t.keys.size() + t.attris.size() + t.datas.size();
    for (size_t table = 0; table < tables; ++table) {
        const size_t rec = header + kHeaderFixedSize + kTableRecordSize * table;
        for (int word = 0; word < 3; ++word) {
            for (uint32_t v :
                 {0xFFFFFFFFu, 0x80000000u, 0x7FFFFFFFu, 0x10000000u, uint32_t(image.size())}) {
                Bytes bad = image;
                if (Rd32(bad.data() + rec + 4 * word) == v) continue;
                Wr32(bad.data() + rec + 4 * word, v);
                FixCheck(bad);
                if (word == 0 && v == uint32_t(image.size()))
                    continue;  // may still fit a zero-sized table
                EXPECT_FALSE(Probe(bad, bad.size()))
                    << "table " << table << " word " << word << " value " << v;
            }
        }
    }
}

TEST_F(TableCorruptionTest, BucketArraysOutOfOrderOrPastTheirTableAreRefused) {
    // Key table 1 (English words): 27 buckets right before its rows.
    const size_t rec = header + kHeaderFixedSize + kTableRecordSize * 1;
    const size_t buckets = items + Rd32(image.data() + rec) - 27 * 8;
    Bytes bad = image;
    Wr32(bad.data() + buckets + 8 * 5, Rd32(bad.data() + buckets + 8 * 5) + 1);  // not a whole row
    EXPECT_FALSE(Probe(bad, bad.size()));
    bad = image;
    Wr32(bad.data() + buckets + 8 * 3, 0x7FFFFFF0);  // past the table, out of order
    EXPECT_FALSE(Probe(bad, bad.size()));
    bad = image;
    Wr32(bad.data() + buckets + 8 * 0 + 4, 1000);  // more rows than the bucket has room for
    EXPECT_FALSE(Probe(bad, bad.size()));
}

TEST_F(TableCorruptionTest, ConfigCountsAndIndexesOutOfRangeAreRefused) {
    const size_t cfg = 8;
    for (size_t word = 0; word < 3; ++word)
        for (uint32_t v : {0xFFFFFFFFu, 0x7FFFFFFFu, 11u, 1000u}) {
            Bytes bad = image;
            Wr32(bad.data() + cfg + 4 * word, v);
            FixCheck(bad);
            EXPECT_FALSE(Probe(bad, bad.size())) << word << " " << v;
        }
    Bytes bad = image;
    Wr32(bad.data() + 4, 0x7FFFFFF0);  // config size
    EXPECT_FALSE(Probe(bad, bad.size()));
    // Key 1's attriIndex, keyDataTable and valueDataTable pointing at missing tables.
    const size_t key1 = cfg + 12 + (4 + 2 * 2 + 16) + 4 + 2 * 4;
    for (size_t word = 0; word < 3; ++word) {
        bad = image;
        Wr32(bad.data() + key1 + 4 * word, 3 + uint32_t(word));
        FixCheck(bad);
        EXPECT_FALSE(Probe(bad, bad.size())) << word;
    }
}

TEST_F(TableCorruptionTest, AttriDescriptorsNamingMissingTablesOrFieldsAreRefused) {
    // Attri 0 follows the six key descriptors; its words are field count,
    // owner key, data table and capacity.
    size_t at = 8 + 12;
    for (size_t k = 0; k < t.keys.size(); ++k)
        at += 4 + 2 * size_t(Rd16(image.data() + at + 2)) + 16;
    ASSERT_EQ(Rd32(image.data() + at + 4), 1u);  // owner: key table 1
    const struct {
        size_t word;
        uint32_t value;
    } bad[] = {
        {0, 4},           // more trailing fields than key 1 has after its key
        {0, 0x80000000},  // a count that would wrap
        {1, 6},           // owner key past the six key tables
        {2, 3},           // data table past the three data tables
    };
    for (const auto& b : bad) {
        Bytes damaged = image;
        Wr32(damaged.data() + at + 4 * b.word, b.value);
        FixCheck(damaged);
        EXPECT_FALSE(Probe(damaged, damaged.size())) << "word " << b.word << " value " << b.value;
    }
}

TEST_F(TableCorruptionTest, DamagedItemLengthsMakeLookupsFailNotOverread) {
    // Every item length in the data tables set to the largest positive value.
    t_tableFile r;
    ASSERT_TRUE(AttachFull(r, t, image));
    Bytes bad = image;
    for (int d = 0; d < 3; ++d) {
        const size_t base = size_t(r.GetDataTableBase(d) - r.GetImage());
        for (int64_t off = 0; off < r.GetDataSize(d);) {
            const uint16_t len = Rd16(image.data() + base + off);
            Wr16(bad.data() + base + off, 0x7FFF);
            off += 2 + len;
        }
    }
    t_tableFile damaged;
    ASSERT_TRUE(AttachFull(damaged, t, bad));
    const uint8_t* row = nullptr;
    EXPECT_FALSE(damaged.FindRow(L(Str("apple")), 1, &row));
    EXPECT_FALSE(damaged.FindRow(L(Str("abc")), 2, &row));
    EXPECT_TRUE(Probe(bad, bad.size()));
}

TEST(TableCorruptionLoadTest, BuilderLoadOfDamagedImagesFailsOrStaysInside) {
    // Flagless tables, so the builder loads them: chained attri rows, digit keys, plain rows.
    const std::vector<t_keyDesc> keys{Key(1, {0, 5, 0, 7}, 0, 0, 1),
                                      Key(4, {7, 7, 0}, kNone, kNone, 1),
                                      Key(6, {0, 10}, kNoAttriNoWord, 0, 1)};
    const std::vector<t_attriDesc> attris{{2, 0, 2, 0}};
    const std::vector<uint32_t> datas{0, 0, 0};
    const std::vector<int32_t> buckets{0, 4, 3};
    t_tableFileBuilder b;
    ASSERT_TRUE(b.InitStoreWithBuckets(keys, attris, datas, kTag, kVersion, {}, {}, buckets));
    for (const char* w : {"apple", "apple", "ant", "bee", "Bee"})
        ASSERT_EQ(
            b.InsertOne(t_item().S(w).U16(1).S(std::string("x") + w).U32(2).Packed().data(), 0), 1);
    for (uint32_t k : {0u, 1u, 3u})
        ASSERT_EQ(b.InsertOne(t_item().U32(k).U32(k).S("d").Packed().data(), 1), 1);
    for (const char* w : {"one", "two", "three"})
        ASSERT_EQ(b.InsertOne(t_item().S(w).S(w).Packed().data(), 2), 1);
    const Bytes image = Plain(b);
    size_t loaded = 0;
    for (size_t i = ItemsOffset(image); i < image.size(); ++i) {
        for (uint8_t mask : {0x01, 0x10, 0x80, 0xFF}) {
            Bytes bad = image;
            bad[i] ^= mask;
            std::unique_ptr<uint8_t[]> copy(new uint8_t[bad.size()]);
            std::copy(bad.begin(), bad.end(), copy.get());
            t_tableFile r;
            for (size_t k = 0; k < buckets.size(); ++k) r.SetBucketCount(int(k), buckets[k]);
            testing::internal::CaptureStdout();
            if (r.Attach(copy.get(), kVersion, int64_t(bad.size()))) {
                t_tableFileBuilder again;
                ASSERT_TRUE(again.InitStoreWithBuckets(keys, attris, datas, kTag, kVersion, {}, {},
                                                       buckets));
                if (again.LoadFromReader(r)) {
                    ++loaded;
                    Bytes out;
                    again.BuildPlainImage(out);
                }
                t_tableFileBuilder merged;
                ASSERT_TRUE(merged.InitStoreWithBuckets(keys, attris, datas, kTag, kVersion, {}, {},
                                                        buckets));
                merged.MergeFromReader(r, nullptr);
            }
            testing::internal::GetCapturedStdout();
        }
    }
    EXPECT_GT(loaded, 0u);
}
