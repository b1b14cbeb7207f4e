// Helpers of the editable table-file tests.
#include "tests/kernel/storage/editable_table_support.h"

#include <gtest/gtest.h>

#include <algorithm>

using namespace n_tableFormat;
using tabletest::Key;

namespace edittest {

Bytes EmptyImage(const t_shape& s) {
    std::vector<t_keyDesc> keys;
    std::vector<t_attriDesc> attris;
    if (s.attri) {
        keys.push_back(Key(2, {0, 7, 0, 7}, 0, 0, kNone, s.keyRows));
        t_attriDesc a;
        a.fieldCount = 2;
        a.ownerKey = 0;
        a.dataTable = 1;
        a.capacity = s.attriRows;
        attris.push_back(a);
    } else {
        keys.push_back(Key(2, {0, 7, 0}, kNone, 0, 1, s.keyRows));
    }
    const std::vector<int32_t> buckets{s.buckets};
    Bytes extra(s.extraSize, 0x5A);
    t_tableFileBuilder b(keys, attris, {s.keyBytes, s.valueBytes}, 7, kVersion, {}, {},
                         extra.data(), s.extraSize, &buckets);
    EXPECT_TRUE(b.IsValid()) << (b.GetLastError() ? b.GetLastError() : "");
    const int32_t total = b.GetTotalSize(nullptr);
    EXPECT_GT(total, 0);
    Bytes image(size_t(total > 0 ? total : 0));
    EXPECT_TRUE(b.BuildToBuffer(image.data(), int64_t(image.size())));
    return image;
}

void ConfigureBuckets(t_editableTableFile& ed, const t_shape& s) {
    ed.SetBucketCount(0, s.buckets);
}

bool Attach(t_editableTableFile& ed, const t_shape& s, Bytes& image) {
    ConfigureBuckets(ed, s);
    return ed.AttachWithExtra(image.data(), kVersion, {}, {}, int64_t(image.size()));
}

Bytes KeyUnits(std::vector<uint16_t> units) {
    return tabletest::Units(units);
}

Bytes I32(int32_t v) {
    Bytes b(4);
    Wr32(b.data(), uint32_t(v));
    return b;
}

Bytes AttriItem(const Bytes& key, int32_t keyValue, const std::string& word, int32_t freq) {
    Bytes out = key;
    for (const Bytes& part : {I32(keyValue), tabletest::Str(word), I32(freq)})
        out.insert(out.end(), part.begin(), part.end());
    return out;
}

Bytes KeyItem(const Bytes& key, int32_t value, const std::string& text) {
    Bytes out = key;
    for (const Bytes& part : {I32(value), tabletest::Str(text)})
        out.insert(out.end(), part.begin(), part.end());
    return out;
}

namespace {
std::vector<uint16_t> UnitsOf(const t_lstr* s) {
    std::vector<uint16_t> u;
    for (uint32_t i = 0; i < LstrGetLength(s); ++i) u.push_back(LstrGetUnit(s, i));
    return u;
}
std::string StringAt(const t_editableTableFile& ed, int d, const uint8_t* field) {
    const uint32_t off = Rd32(field);
    if (off == kNone) return "";
    const t_lstr* s = ed.GetDataPtr(d, off);
    EXPECT_NE(s, nullptr);
    return s ? tabletest::Text(s) : "<bad>";
}
}  // namespace

std::vector<t_entry> Dump(const t_editableTableFile& ed, const t_shape& s) {
    std::vector<std::pair<const uint8_t*, const uint8_t*>> pairs;
    EXPECT_TRUE(ed.CollectItems(0, pairs));
    std::vector<t_entry> out;
    for (const auto& [row, attri] : pairs) {
        const t_lstr* key = ed.GetRowKey(0, row);
        EXPECT_NE(key, nullptr);
        if (!key) continue;
        const int32_t v = RdI32(row + 4);
        if (s.attri)
            out.emplace_back(UnitsOf(key), v, StringAt(ed, 1, attri), RdI32(attri + 4));
        else
            out.emplace_back(UnitsOf(key), v, StringAt(ed, 1, row + 8), 0);
    }
    std::sort(out.begin(), out.end());
    return out;
}

Bytes WholeImage(const t_editableTableFile& ed) {
    const uint8_t* p = ed.GetImage();
    return Bytes(p, p + ed.GetTotalSize());
}

void ExpectBucketsConsistent(const t_editableTableFile& ed) {
    const int32_t rs = ed.GetKeyRowSize(0);
    uint64_t used = 0, caps = 0;
    for (int b = 0; b < ed.GetBucketCount(0); ++b) {
        const int32_t cap = ed.GetBucketCapacity(0, b);
        ASSERT_LE(ed.GetBucketRowCount(0, b), cap) << "bucket " << b;
        if (b + 1 < ed.GetBucketCount(0)) {
            ASSERT_EQ(int64_t(ed.GetBucketStart(0, b)) + int64_t(cap) * rs,
                      ed.GetBucketStart(0, b + 1))
                << "bucket " << b;
        }
        used += uint64_t(ed.GetBucketRowCount(0, b));
        caps += uint64_t(cap);
    }
    EXPECT_EQ(used, uint64_t(ed.GetKeyUsedCount(0)));
    EXPECT_EQ(int64_t(ed.GetBucketStart(0, 0)) / rs + int64_t(caps), ed.GetKeyRowCount(0));
}

void ExpectReattaches(const t_editableTableFile& ed, const t_shape& s) {
    Bytes copy = WholeImage(ed);
    t_editableTableFile other(nullptr, nullptr, nullptr, nullptr, nullptr, int32_t(s.extraSize));
    ASSERT_TRUE(Attach(other, s, copy)) << (other.GetLastError() ? other.GetLastError() : "");
    EXPECT_EQ(Dump(other, s), Dump(ed, s));
}

namespace {
bool NeverLess(const uint8_t*, const uint8_t*) {
    return false;
}
int NeverRemove(uint8_t*, uint8_t*, void*, int) {
    return 0;
}
int AlwaysLive(const uint8_t*, void*) {
    return kRowLive;
}
}  // namespace

std::unique_ptr<t_editableTableFile> QuietFile(const t_shape& s) {
    return std::make_unique<t_editableTableFile>(&NeverLess, &NeverRemove, nullptr, &AlwaysLive,
                                                 nullptr, int32_t(s.extraSize));
}

uint8_t* t_owner::OnGrown(const t_grownImage& img, void* context) {
    t_owner* o = static_cast<t_owner*>(context);
    if (o->refuse) return nullptr;
    ++o->grown;
    o->image = std::make_unique<Bytes>(img.totalSize);  // the old buffer is freed here
    return o->image->data();
}

int t_owner::Alloc(uint8_t** buffer, uint32_t size, void* context) {
    t_owner* o = static_cast<t_owner*>(context);
    o->allocRequests.push_back(size);
    o->image = std::make_unique<Bytes>(size);
    *buffer = o->image->data();
    return 1;
}

}  // namespace edittest
