// Helpers shared by the table-file tests.
#include "tests/kernel/storage/table_support.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "tests/support/test_dir.h"

using namespace n_tableFormat;

namespace tabletest {

Bytes Str(const std::string& ascii) {
    Bytes b(2 + 2 * ascii.size());
    Wr16(b.data(), uint16_t(2 * ascii.size()));
    for (size_t i = 0; i < ascii.size(); ++i) Wr16(b.data() + 2 + 2 * i, uint8_t(ascii[i]));
    return b;
}

Bytes Units(const std::vector<uint16_t>& units) {
    Bytes b(2 + 2 * units.size());
    Wr16(b.data(), uint16_t(2 * units.size()));
    for (size_t i = 0; i < units.size(); ++i) Wr16(b.data() + 2 + 2 * i, units[i]);
    return b;
}

std::string Text(const t_lstr* s) {
    std::string out;
    if (!s) return "<null>";
    for (uint32_t i = 0; i < LstrGetLength(s); ++i) out.push_back(char(LstrGetUnit(s, i)));
    return out;
}

t_item& t_item::S(const std::string& ascii) {
    return Raw(Str(ascii));
}
t_item& t_item::Raw(const Bytes& b) {
    m_fields.insert(m_fields.end(), b.begin(), b.end());
    return *this;
}
t_item& t_item::U8(uint8_t v) {
    return Raw(Bytes{v});
}
t_item& t_item::U16(uint16_t v) {
    return Raw(Bytes{uint8_t(v), uint8_t(v >> 8)});
}
t_item& t_item::U32(uint32_t v) {
    return Raw(Bytes{uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)});
}

Bytes t_item::Packed() const {
    Bytes b(4);
    Wr32(b.data(), uint32_t(m_fields.size()));
    b.insert(b.end(), m_fields.begin(), m_fields.end());
    return b;
}

Bytes t_item::Update(uint16_t code) const {
    Bytes b{uint8_t(code), uint8_t(code >> 8)};
    const Bytes p = Packed();
    b.insert(b.end(), p.begin(), p.end());
    return b;
}

t_keyDesc Key(int16_t keyType, std::vector<int16_t> fields, uint32_t attriIndex, uint32_t keyData,
              uint32_t valueData, uint32_t capacity) {
    t_keyDesc d;
    d.keyType = keyType;
    d.fieldTypes = std::move(fields);
    d.attriIndex = attriIndex;
    d.keyDataTable = keyData;
    d.valueDataTable = valueData;
    d.capacity = capacity;
    return d;
}

Bytes Plain(t_tableFileBuilder& builder) {
    Bytes image;
    EXPECT_TRUE(builder.BuildPlainImage(image));
    return image;
}

size_t HeaderOffset(const Bytes& image) {
    return 8 + Rd32(image.data() + 4);
}

size_t ItemsOffset(const Bytes& image) {
    const uint8_t* c = image.data() + 8;
    const size_t tables = size_t(Rd32(c)) + Rd32(c + 4) + Rd32(c + 8);
    return HeaderOffset(image) + kHeaderFixedSize + kTableRecordSize * tables;
}

uint32_t ExpectedCheck(const Bytes& image) {
    // Independent of the reader: every covered word, widened as the format
    // says. Damaged counts that run past the image leave the check as it is.
    const uint8_t* p = image.data();
    const size_t n = image.size();
    size_t at = 0;
    bool ok = true;
    auto w32 = [&]() -> uint32_t {
        if (at + 4 > n) {
            ok = false;
            return 0;
        }
        at += 4;
        return Rd32(p + at - 4);
    };
    auto w16 = [&]() -> int16_t {
        if (at + 2 > n) {
            ok = false;
            return 0;
        }
        at += 2;
        return RdI16(p + at - 2);
    };
    at = 4;
    const uint32_t configSize = w32();
    uint32_t sum = configSize;
    const uint32_t kc = w32(), ac = w32(), dc = w32();
    if (!ok || uint64_t(kc) + ac + dc > n) return n >= 4 ? Rd32(p) : 0;
    sum += kc + ac + dc;
    for (uint32_t k = 0; k < kc && ok; ++k) {
        const int16_t type = w16(), fc = w16();
        sum += uint32_t(int32_t(type)) + uint32_t(int32_t(fc));
        for (int i = 0; i < fc && ok; ++i) sum += uint32_t(int32_t(w16()));
        for (int i = 0; i < 4; ++i) sum += w32();
    }
    for (uint32_t i = 0; i < 4 * ac + dc && ok; ++i) sum += w32();
    at = 8 + size_t(configSize);
    for (uint32_t i = 0; i < 6 + 3 * (kc + ac + dc) && ok; ++i) sum += w32();
    return ok ? ~sum : (n >= 4 ? Rd32(p) : 0);
}

void FixCheck(Bytes& image) {
    Wr32(image.data(), ExpectedCheck(image));
}

void SetUsed(Bytes& image, size_t table, uint32_t used) {
    Wr32(image.data() + HeaderOffset(image) + kHeaderFixedSize + kTableRecordSize * table + 8,
         used);
    FixCheck(image);
}

std::string TempDir() {
    static const std::string dir = testsupport::TempDirUntilExit("vetra_storage");
    return dir;
}

std::wstring Wide(const std::string& s) {
    return std::wstring(s.begin(), s.end());
}

Bytes ReadFile(const std::string& path) {
    Bytes out;
    FILE* f = fopen(path.c_str(), "rb");
    if (!f) return out;
    uint8_t buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, f)) > 0) out.insert(out.end(), buf, buf + n);
    fclose(f);
    return out;
}

void WriteFile(const std::string& path, const Bytes& data) {
    FILE* f = fopen(path.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    fwrite(data.data(), 1, data.size(), f);
    fclose(f);
}

// ---------------------------------------------------------------- the full table

namespace {

int SegHash(const t_lstr* key) {
    return int(Rd32(reinterpret_cast<const uint8_t*>(key)) % 5);
}

int SegCompare(const t_lstr* a, const t_lstr* b) {
    const uint32_t x = Rd32(reinterpret_cast<const uint8_t*>(a)),
                   y = Rd32(reinterpret_cast<const uint8_t*>(b));
    return x < y ? -2 : (x > y ? 2 : 0);
}

int AttriNumberCompare(const t_lstr* key, const uint8_t* row) {
    const uint16_t x = Rd16(reinterpret_cast<const uint8_t*>(key)), y = Rd16(row + 8);
    return x < y ? -2 : (x > y ? 2 : 0);
}

}  // namespace

t_fullTable MakeFullTable() {
    t_fullTable t;
    // Data tables: 0 key strings, 1 value strings, 2 attri strings.
    t.datas = {0, 0, 0};
    t.keys = {
        Key(5, {8, 0}, kNone, kNone, 1),                  // 0: caller-hashed u32 keys
        Key(1, {0, 5, 0, 7}, 0, 0, 1),                    // 1: English words, chained attri rows
        Key(0x11, {0, 0, 8}, kNone, 0, 1),                // 2: prefix-skip words
        Key(0x22, {0, 0, 6}, 1, 0, 1),                    // 3: pinyin ids, sorted attri rows
        Key(4, {7, 7, 1}, kNoAttriNoWord, kNone, kNone),  // 4: digit keys
        Key(0x46, {10, 2, 12, 4}, 2, 0, kNone),           // 5: binary keys, packed attri rows
    };
    t.attris = {{2, 1, 2, 0}, {2, 3, 2, 0}, {2, 5, 2, 0}};
    t.buckets = {5, 0, 0, 8, 16, 4};
    t.hashFns = {&SegHash};
    t.compareFns = {&SegCompare};
    t.items.resize(6);
    for (uint32_t v : {1u, 6u, 11u, 7u, 123456u})
        t.items[0].push_back(t_item().U32(v).S("v" + std::to_string(v)).Packed());
    t.items[0].push_back(t_item().U32(2).S("").Packed());  // empty value: no item
    struct {
        const char* w;
        uint16_t s;
        const char* a;
        uint32_t n;
    } eng[] = {{"apple", 1, "x", 10}, {"apple", 1, "y", 11}, {"Apple", 2, "z", 12},
               {"banana", 3, "", 13}, {"a", 4, "q", 1},      {"A", 5, "r", 2},
               {"zoo", 6, "s", 3},    {"1a", 7, "t", 4},     {"Zoo", 8, "u", 5}};
    for (const auto& e : eng)
        t.items[1].push_back(t_item().S(e.w).U16(e.s).S(e.a).U32(e.n).Packed());
    uint32_t n = 0;
    for (const char* w : {"a", "ab", "abc", "b", "abd", "ba", "c", "cab"})
        t.items[2].push_back(t_item().S(w).S(std::string("val-") + w).U32(++n).Packed());
    struct {
        std::vector<uint16_t> key;
        const char* a;
        uint16_t f;
    } py[] = {{{3, 100}, "ma", 1}, {{3, 100}, "m", 2}, {{3, 100}, "mab", 3}, {{3, 100}, "b", 4},
              {{5}, "ni", 5},      {{7, 7}, "hao", 6}, {{3}, "", 7}};
    for (const auto& p : py)
        t.items[3].push_back(t_item().Raw(Units(p.key)).S(p.a).U16(p.f).Packed());
    for (uint32_t k : {0u, 3u, 9u, 15u, 3u})
        t.items[4].push_back(t_item().U32(k).U32(k * 100).U8(uint8_t(k)).Packed());
    t.items[4].push_back(t_item().U32(16).U32(1).U8(1).Packed());  // no bucket: skipped
    const Bytes bin1{4, 0, 0xFF, 0x00, 0x10, 0x20}, bin2{2, 0, 0x01, 0x02}, bin3{0, 0};
    t.items[5].push_back(t_item().Raw(bin1).U8(1).Raw(Bytes{2, 0, 'z', 0}).U8(9).Packed());
    t.items[5].push_back(t_item().Raw(bin1).U8(1).Raw(Bytes{2, 0, 'a', 0}).U8(8).Packed());
    t.items[5].push_back(t_item().Raw(bin2).U8(2).Raw(Bytes{0, 0}).U8(7).Packed());
    t.items[5].push_back(t_item().Raw(bin3).U8(3).Raw(Bytes{2, 0, 'q', 0}).U8(6).Packed());
    return t;
}

bool AttachFull(t_tableFile& reader, const t_fullTable& t, const Bytes& image) {
    for (size_t k = 0; k < t.buckets.size(); ++k) reader.SetBucketCount(int(k), t.buckets[k]);
    return reader.Attach(image.data(), kVersion, t.hashFns, t.compareFns, int64_t(image.size()));
}

size_t ExerciseReader(const t_tableFile& reader) {
    size_t seen = 0;
    const t_tableLayout& layout = reader.GetLayout();
    for (int k = 0; k < reader.GetKeyCount(); ++k) {
        const t_keyLayout& K = layout.keyLayouts[size_t(k)];
        std::vector<const uint8_t*> rows;
        reader.CollectKeyRows(k, rows);
        for (const uint8_t* row : rows) {
            ++seen;
            const t_lstr* key = reader.GetRowKey(k, row);
            int32_t r = 0, start = 0, b = 0;
            const uint8_t* found = nullptr;
            if (key && K.policyId != 4) {
                reader.Find(key, k, &r, &start, &b);
                reader.FindRow(key, k, &found);
                reader.FindPrefix(key, k, &r, &start, &b);
            }
            for (uint32_t f = 1; f < K.keyRowFields; ++f)
                if (IsVarLenType(layout.keys[size_t(k)].fieldTypes[f]))
                    reader.GetDataPtr(reader.GetValueDataTable(k), Rd32(row + K.fieldOffsets[f]));
            if (K.hasAttri) {
                std::vector<const uint8_t*> chain;
                const uint32_t link = Rd32(row + K.linkOffset);
                if (link != kNone) reader.CollectAttriChain(link, k, chain, K.attriLinkOffset);
                for (const uint8_t* ar : chain)
                    if (IsVarLenType(layout.keys[size_t(k)].fieldTypes[K.keyRowFields]))
                        reader.GetDataPtr(reader.GetAttriDataTable(int(K.attri)), Rd32(ar));
                if (layout.keys[size_t(k)].keyType & kFlagSortedAttri) {
                    const int32_t last = int32_t(Rd32(row + K.countOffset) - 1u);
                    for (const char* probe : {"m", "ma", "mabc", "b", "zz", ""}) {
                        const Bytes p = Str(probe);
                        reader.PrefixSearchAttri(L(p), int(K.attri), link, last, &r);
                    }
                    const Bytes n = Bytes{2, 0};
                    reader.BinarySearchAttri(L(n), int(K.attri), link, last, &r,
                                             &AttriNumberCompare);
                }
            }
        }
        std::vector<std::pair<const uint8_t*, const uint8_t*>> pairs;
        reader.EnumerateItems(k, pairs);
        for (const auto& pr : pairs)
            if (IsVarLenType(layout.keys[size_t(k)].fieldTypes[K.keyRowFields]))
                reader.GetDataPtr(reader.GetAttriDataTable(int(K.attri)), Rd32(pr.second));
        for (const char* probe : {"a", "ab", "abcd", "b", "c", "zzz", "A", "Zoo", "1a", ""}) {
            if (K.policyId == 4 || K.policyId == 5) break;
            const Bytes p = Str(probe);
            int32_t r = 0, start = 0;
            reader.Find(L(p), k, &r, &start);
            reader.FindPrefix(L(p), k, &r, &start);
        }
    }
    return seen;
}

}  // namespace tabletest
