// Table-file reader: attach with full validation, lookups, walks, in-place edits.
#include "kernel/storage/table_file.h"

#include <cstdio>
#include <cstring>

#include "kernel/runtime/lstr.h"
#include "kernel/storage/table_write.h"

using namespace n_tableFormat;

namespace {

inline uint32_t ItemUnits(const t_lstr* s) {
    return LstrGetByteLength(s) >> 1;
}
inline uint16_t ItemUnit(const t_lstr* s, uint32_t i) {
    return LstrGetUnit(s, i);
}

// A probe's answer for a row that cannot be read: below every compare
// result, it ends the search as a failure.
constexpr int kRowUnreadable = -3;

// Binary search of the sorted rows 0..last. probe(mid) compares the key with
// row mid; an answer below -2 (a row that cannot be read or compared) fails
// the search. hit(c) tells whether an answer is a match. On a match *row is
// its row; otherwise, when the search ran through, the row where the key
// would stand.
template <class Probe, class Hit>
bool SearchSortedRows(int64_t last, int32_t* row, Probe probe, Hit hit) {
    int64_t lo = 0, hi = last;
    while (lo <= hi) {
        const int64_t mid = (lo + hi) >> 1;
        const int c = probe(mid);
        if (c < -2) return false;
        if (hit(c)) {
            *row = int32_t(mid);
            return true;
        }
        if (c < 0)
            hi = mid - 1;
        else
            lo = mid + 1;
    }
    *row = int32_t(lo);
    return false;
}

}  // namespace

t_tableFile::t_tableFile() = default;

t_tableFile::~t_tableFile() {
    Detach();
}

bool t_tableFile::SetBucketCount(int keyIndex, int32_t count) {
    if (keyIndex < 0 || keyIndex >= kMaxKeyTables) return false;
    m_bucketCounts[keyIndex] = count;
    return true;
}

int32_t t_tableFile::GetConfiguredBucketCount(int keyIndex) const {
    return (keyIndex >= 0 && keyIndex < kMaxKeyTables) ? m_bucketCounts[keyIndex] : -1;
}

void t_tableFile::Detach() {
    for (t_keyTable& t : m_keys) {
        delete t.hash;
        delete t.cmp;
    }
    m_keys.clear();
    m_attris.clear();
    m_datas.clear();
    m_layout = t_tableLayout();
    m_image = m_header = m_items = m_itemsEnd = nullptr;
    m_configSize = m_headSize = 0;
}

bool t_tableFile::Fail(const char* why) {
    Detach();
    m_lastError = why;
    return false;
}

// ---------------------------------------------------------------- attach

bool t_tableFile::ParseConfig(const uint8_t* img, uint32_t& sum) {
    if (const char* why = m_layout.ParseConfig(img + 8, m_configSize, sum)) return Fail(why);
    return true;
}

bool t_tableFile::BuildPolicies(const std::vector<t_keyHashFn>& hashFns,
                                const std::vector<t_keyCompareFn>& compareFns) {
    size_t hashCursor = 0, compareCursor = 0;
    m_keys.resize(m_layout.keys.size());
    for (size_t k = 0; k < m_keys.size(); ++k) {
        const int id = m_layout.keyLayouts[k].policyId;
        t_keyHashFn hashFn = nullptr;
        t_keyCompareFn compareFn = nullptr;
        if (id == 5) {
            if (hashCursor >= hashFns.size() || compareCursor >= compareFns.size())
                return Fail("function list runs out");
            hashFn = hashFns[hashCursor++];
            compareFn = compareFns[compareCursor++];
        } else if (compareCursor < compareFns.size()) {
            compareFn = compareFns[compareCursor];
        }
        m_keys[k].hash = CreateHashPolicy(id, m_bucketCounts[k], hashFn);
        m_keys[k].cmp = CreateComparePolicy(id, compareFn);
        if (!m_keys[k].hash || !m_keys[k].cmp)
            return Fail("no hash or compare policy for a key table");
        m_keys[k].bucketCount = m_keys[k].hash->GetBucketCount();
    }
    return true;
}

bool t_tableFile::CheckTables(uint32_t& sum) {
    const uint64_t itemsSize = uint64_t(m_itemsEnd - m_items);
    uint8_t* rec = m_header + kHeaderFixedSize;
    auto readRecord = [&](uint32_t& off, uint32_t& alloc, uint32_t& used) {
        off = Rd32(rec);
        alloc = Rd32(rec + 4);
        used = Rd32(rec + 8);
        sum += off + alloc + used;
    };
    for (size_t k = 0; k < m_keys.size(); ++k) {
        t_keyTable& t = m_keys[k];
        const t_keyDesc& d = m_layout.keys[k];
        const t_keyLayout& L = m_layout.keyLayouts[k];
        uint32_t off, alloc, used;
        t.record = rec;
        readRecord(off, alloc, used);
        rec += kTableRecordSize;
        t.rowSize = L.rowSize;
        t.rowsBytes = uint64_t(alloc) * L.rowSize;
        const uint64_t bucketBytes = uint64_t(t.bucketCount) * kBucketEntrySize;
        if (used > alloc) return Fail("key table uses more rows than it has");
        if (off < bucketBytes || uint64_t(off) + t.rowsBytes > itemsSize)
            return Fail("key table outside the items area");
        t.rows = m_items + off;
        t.buckets = t.rows - bucketBytes;
        t.keyData = d.keyDataTable == kNone ? -1 : int(d.keyDataTable);
        t.valueData = d.valueDataTable == kNone ? -1 : int(d.valueDataTable);
        // Keys kept in the row and read by a length-prefixed hash or compare
        // must hold their length inside the field (checked per row).
        t.lstrInRow = t.keyData < 0 && L.policyId != 4 && L.policyId != 5;
        t.keyFieldSize = L.keyFieldSize;
    }
    for (size_t a = 0; a < m_attris.size(); ++a) {
        t_rowTable& t = m_attris[a];
        uint32_t off, alloc, used;
        t.record = rec;
        readRecord(off, alloc, used);
        rec += kTableRecordSize;
        t.rowSize = m_layout.attriRowSizes[a];
        t.allocated = alloc;
        t.bytes = uint64_t(alloc) * t.rowSize;
        const uint32_t dt = m_layout.attris[a].dataTable;
        t.data = dt == kNone ? -1 : int(dt);
        if (used > alloc) return Fail("attri table uses more rows than it has");
        if (uint64_t(off) + t.bytes > itemsSize) return Fail("attri table outside the items area");
        t.rows = m_items + off;
    }
    for (size_t d = 0; d < m_datas.size(); ++d) {
        t_dataTable& t = m_datas[d];
        uint32_t off, alloc, used;
        t.record = rec;
        readRecord(off, alloc, used);
        rec += kTableRecordSize;
        t.allocated = alloc;
        if (used > alloc) return Fail("data table uses more bytes than it has");
        if (uint64_t(off) + alloc > itemsSize) return Fail("data table outside the items area");
        if (alloc > 0x7FFFFFFFu) return Fail("data table too large");
        t.base = m_items + off;
    }
    if (rec != m_header + m_headSize) return Fail("table records do not end at the header end");
    return true;
}

bool t_tableFile::Attach(const void* image, uint32_t formatVersion,
                         const std::vector<t_keyHashFn>& hashFns,
                         const std::vector<t_keyCompareFn>& compareFns, int64_t size) {
    Detach();
    m_lastError = nullptr;
    if (!image || size < 0) return Fail("no image");
    uint8_t* img = static_cast<uint8_t*>(const_cast<void*>(image));
    if (size == 0) {
        // The caller's own image: its header gives its length, which is then
        // checked like any other.
        const int32_t cs = RdI32(img + 4);
        if (cs < int32_t(kConfigCountsSize)) return Fail("configuration size out of range");
        const int64_t tables = int64_t(RdI32(img + 8)) + RdI32(img + 12) + RdI32(img + 16);
        if (tables < 0 || tables > 0xFFFFFF) return Fail("negative table count");
        const int64_t head = kHeaderFixedSize + kTableRecordSize * tables;
        const int32_t items = RdI32(img + 8 + cs + 8);
        if (items <= 0) {
            printf("totalsize is erro, totalsize:%d\n", items);
            return Fail("items size out of range");
        }
        size = 8 + int64_t(cs) + head + items;
    }
    const uint64_t total = uint64_t(size);
    if (total < kMinImageSize) return Fail("image too small");
    if (reinterpret_cast<uintptr_t>(img) + total < reinterpret_cast<uintptr_t>(img))
        return Fail("image wraps");

    const int32_t configSize = RdI32(img + 4);
    if (configSize < int32_t(kConfigCountsSize) ||
        uint64_t(configSize) + 8 + kHeaderFixedSize > total)
        return Fail("configuration size out of range");
    m_configSize = uint32_t(configSize);
    uint32_t sum = 0;
    if (!ParseConfig(img, sum)) return false;
    m_attris.resize(m_layout.attris.size());
    m_datas.resize(m_layout.datas.size());
    if (!BuildPolicies(hashFns, compareFns)) return false;

    m_headSize = m_layout.HeadSize();
    uint8_t* header = img + 8 + m_configSize;  // the 24 fixed bytes fit (checked above)
    const uint32_t tag = Rd32(header), version = Rd32(header + 4);
    const int32_t itemsSize = RdI32(header + 8);
    const int32_t hk = RdI32(header + 12), ha = RdI32(header + 16), hd = RdI32(header + 20);
    if (version != formatVersion) {
        printf("format is erro");
        return Fail("format version differs");
    }
    if (itemsSize <= 0 || uint64_t(itemsSize) + 8 + m_configSize + m_headSize != total) {
        printf("totalsize is erro, totalsize:%d, headsize:%d, configSize:%d, dictsize:%d\n",
               int(size), int(m_headSize), int(m_configSize), int(itemsSize));
        return Fail("image size does not match its header");
    }
    if (hk < 0 || ha < 0 || hd < 0) {
        printf("keynum or attrinum or datanum is -");
        return Fail("negative table count in the header");
    }
    if (uint64_t(hk) != m_keys.size() || uint64_t(ha) != m_attris.size() ||
        uint64_t(hd) != m_datas.size()) {
        printf("head size is erro");
        return Fail("header table counts differ from the configuration");
    }
    sum += tag + version + uint32_t(itemsSize) + uint32_t(hk) + uint32_t(ha) + uint32_t(hd);
    m_image = img;
    m_header = header;
    m_items = header + m_headSize;
    m_itemsEnd = m_items + itemsSize;
    if (!CheckTables(sum)) return false;
    if (Rd32(img) != ~sum) return Fail("check number mismatch");

    // Bucket arrays: not covered by the check number, so every entry is
    // checked here; searches then only re-check a bucket against its table.
    for (size_t k = 0; k < m_keys.size(); ++k) {
        t_keyTable& t = m_keys[k];
        t.capacity.assign(size_t(t.bucketCount), 0);
        uint64_t prevStart = 0;
        for (int32_t b = 0; b < t.bucketCount; ++b) {
            const uint8_t* e = t.buckets + size_t(b) * kBucketEntrySize;
            const uint64_t start = Rd32(e);
            if (start % t.rowSize != 0 || start < prevStart || start > t.rowsBytes)
                return Fail("bucket array out of order or outside its table");
            if (b > 0) t.capacity[size_t(b) - 1] = uint32_t((start - prevStart) / t.rowSize);
            prevStart = start;
        }
        if (t.bucketCount > 0) t.capacity.back() = uint32_t((t.rowsBytes - prevStart) / t.rowSize);
        for (int32_t b = 0; b < t.bucketCount; ++b)
            if (Rd32(t.buckets + size_t(b) * kBucketEntrySize + 4) > t.capacity[size_t(b)])
                return Fail("bucket holds more rows than it has room for");
    }
    m_hashFns = hashFns;
    m_compareFns = compareFns;
    return true;
}

// ---------------------------------------------------------------- plain accessors

uint32_t t_tableFile::GetCheckNum() const {
    return m_image ? Rd32(m_image) : 0;
}

bool t_tableFile::GetHeaderTag(uint32_t* out) const {
    if (!m_image || !out) return false;
    *out = Rd32(m_header);
    return true;
}

bool t_tableFile::GetFormatVersion(uint32_t* out) const {
    if (!m_image || !out) return false;
    *out = Rd32(m_header + 4);
    return true;
}

int32_t t_tableFile::GetItemsSize() const {
    return m_image ? int32_t(m_itemsEnd - m_items) : -1;
}

int64_t t_tableFile::GetImageSize() const {
    return m_image ? int64_t(m_configSize) + m_headSize + (m_itemsEnd - m_items) + 8 : -1;
}

#define KEY_OK(k) ((k) >= 0 && size_t(k) < m_keys.size())
#define ATTRI_OK(a) ((a) >= 0 && size_t(a) < m_attris.size())
#define DATA_OK(d) ((d) >= 0 && size_t(d) < m_datas.size())

int32_t t_tableFile::GetKeyRowSize(int k) const {
    return KEY_OK(k) ? int32_t(m_keys[k].rowSize) : -1;
}
int32_t t_tableFile::GetKeyType(int k) const {
    return KEY_OK(k) ? m_layout.keys[k].keyType : -1;
}
int32_t t_tableFile::GetAttriIndex(int k) const {
    return KEY_OK(k) && m_layout.keyLayouts[k].hasAttri ? int32_t(m_layout.keyLayouts[k].attri)
                                                        : -1;
}
int32_t t_tableFile::GetKeyDataTable(int k) const {
    return KEY_OK(k) ? m_keys[k].keyData : -1;
}
int32_t t_tableFile::GetValueDataTable(int k) const {
    return KEY_OK(k) ? m_keys[k].valueData : -1;
}
int32_t t_tableFile::GetAttriDataTable(int a) const {
    return ATTRI_OK(a) ? m_attris[a].data : -1;
}
int32_t t_tableFile::GetAttriRowSize(int a) const {
    return ATTRI_OK(a) ? int32_t(m_attris[a].rowSize) : -1;
}
int32_t t_tableFile::GetKeyRowCount(int k) const {
    return KEY_OK(k) ? int32_t(Rd32(m_keys[k].record + 4)) : -1;
}
int32_t t_tableFile::GetKeyUsedCount(int k) const {
    return KEY_OK(k) ? int32_t(Rd32(m_keys[k].record + 8)) : -1;
}
int32_t t_tableFile::GetAttriRowCount(int a) const {
    return ATTRI_OK(a) ? int32_t(m_attris[a].allocated) : -1;
}
int32_t t_tableFile::GetAttriUsedCount(int a) const {
    return ATTRI_OK(a) ? int32_t(Rd32(m_attris[a].record + 8)) : -1;
}
int32_t t_tableFile::GetDataSize(int d) const {
    return DATA_OK(d) ? int32_t(m_datas[d].allocated) : -1;
}
int32_t t_tableFile::GetDataUsed(int d) const {
    return DATA_OK(d) ? int32_t(Rd32(m_datas[d].record + 8)) : -1;
}
int64_t t_tableFile::GetKeyTableOffset(int k) const {
    return KEY_OK(k) ? int64_t(Rd32(m_keys[k].record)) : -1;
}
int64_t t_tableFile::GetAttriTableOffset(int a) const {
    return ATTRI_OK(a) ? int64_t(Rd32(m_attris[a].record)) : -1;
}
int64_t t_tableFile::GetDataTableOffset(int d) const {
    return DATA_OK(d) ? int64_t(Rd32(m_datas[d].record)) : -1;
}
const uint8_t* t_tableFile::GetKeyTableBase(int k) const {
    return KEY_OK(k) && m_keys[k].rows < m_itemsEnd ? m_keys[k].rows : nullptr;
}
const uint8_t* t_tableFile::GetAttriTableBase(int a) const {
    return ATTRI_OK(a) && m_attris[a].rows < m_itemsEnd ? m_attris[a].rows : nullptr;
}
const uint8_t* t_tableFile::GetDataTableBase(int d) const {
    return DATA_OK(d) && m_datas[d].base < m_itemsEnd ? m_datas[d].base : nullptr;
}
int32_t t_tableFile::GetBucketCount(int k) const {
    return KEY_OK(k) ? m_keys[k].bucketCount : -1;
}
const t_baseHash* t_tableFile::GetHashPolicy(int k) const {
    return KEY_OK(k) ? m_keys[k].hash : nullptr;
}
const t_baseCompare* t_tableFile::GetComparePolicy(int k) const {
    return KEY_OK(k) ? m_keys[k].cmp : nullptr;
}

const uint8_t* t_tableFile::GetBucketArray(int k, int policyId) const {
    if (!KEY_OK(k) || policyId < 0 || policyId > 6) return nullptr;
    return GetBucketArray(k);
}

const uint8_t* t_tableFile::GetBucketArray(int k) const {
    if (!KEY_OK(k)) return nullptr;
    const uint8_t* b = m_keys[k].buckets;
    return (b >= m_items && b < m_itemsEnd) ? b : nullptr;
}

int32_t t_tableFile::GetBucketRowCount(int k, int b) const {
    if (!KEY_OK(k) || b < 0 || b >= m_keys[k].bucketCount) return -1;
    return int32_t(Rd32(m_keys[k].buckets + size_t(b) * kBucketEntrySize + 4));
}

int32_t t_tableFile::GetBucketStart(int k, int b) const {
    if (!KEY_OK(k) || b < 0 || b >= m_keys[k].bucketCount) return -1;
    return int32_t(Rd32(m_keys[k].buckets + size_t(b) * kBucketEntrySize));
}

int32_t t_tableFile::GetBucketCapacity(int k, int b) const {
    if (!KEY_OK(k) || b < 0 || b >= m_keys[k].bucketCount) return -1;
    return int32_t(m_keys[k].capacity[size_t(b)]);
}

const uint8_t* t_tableFile::GetBucketRow(int k, int64_t n, int64_t byteOffset) const {
    if (!KEY_OK(k) || n < 0 || byteOffset < 0 || n > 0x7FFFFFFF || byteOffset > 0xFFFFFFFFll)
        return nullptr;
    const t_keyTable& t = m_keys[k];
    const uint64_t at = uint64_t(n) * t.rowSize + uint64_t(byteOffset);
    if (at + t.rowSize > t.rowsBytes) return nullptr;
    return t.rows + at;
}

const uint8_t* t_tableFile::GetAttriRow(int a, int64_t byteOffset) const {
    if (!ATTRI_OK(a) || byteOffset < 0) return nullptr;
    const t_rowTable& t = m_attris[a];
    if (t.rowSize == 0 || uint64_t(byteOffset) + t.rowSize > t.bytes) return nullptr;
    return t.rows + byteOffset;
}

const uint8_t* t_tableFile::GetAttriRowPtr(int k, int64_t byteOffset) const {
    if (!KEY_OK(k) || !m_layout.keyLayouts[k].hasAttri) return nullptr;
    return GetAttriRow(int(m_layout.keyLayouts[k].attri), byteOffset);
}

uint32_t t_tableFile::DataLimit(const t_dataTable& t) const {
    // The builder leaves used at 0: such a table is bounded by its allocation.
    const uint32_t used = Rd32(t.record + 8);
    return (used != 0 && used <= t.allocated) ? used : t.allocated;
}

const t_lstr* t_tableFile::Item(int d, uint32_t offset) const {
    if (!DATA_OK(d)) return nullptr;
    const t_dataTable& t = m_datas[d];
    const uint64_t limit = DataLimit(t);
    if (uint64_t(offset) + 2 > limit) return nullptr;
    const int16_t len = RdI16(t.base + offset);
    if (len < 0 || uint64_t(offset) + 2 + uint64_t(len) > limit) return nullptr;
    return reinterpret_cast<const t_lstr*>(t.base + offset);
}

const t_lstr* t_tableFile::GetDataPtr(int d, int64_t offset) const {
    if (offset < 0 || offset > 0xFFFFFFFFll) return nullptr;
    return Item(d, uint32_t(offset));
}

const t_lstr* t_tableFile::KeyOf(const t_keyTable& t, const uint8_t* row) const {
    if (t.keyData >= 0) return Item(t.keyData, Rd32(row));
    if (t.lstrInRow && uint32_t(Rd16(row)) + 2 > t.keyFieldSize) return nullptr;
    return reinterpret_cast<const t_lstr*>(row);
}

const t_lstr* t_tableFile::GetKeyRow(int k, int64_t byteOffset, int64_t n) const {
    const uint8_t* row = GetBucketRow(k, n, byteOffset);
    return row ? KeyOf(m_keys[k], row) : nullptr;
}

const t_lstr* t_tableFile::GetRowKey(int k, const uint8_t* row) const {
    if (!KEY_OK(k) || !row) return nullptr;
    const t_keyTable& t = m_keys[k];
    if (row < t.rows || uint64_t(row - t.rows) + t.rowSize > t.rowsBytes) return nullptr;
    return KeyOf(t, row);
}

// ---------------------------------------------------------------- searches

bool t_tableFile::LocateBucket(const t_lstr* key, int k, uint32_t* start, uint32_t* rows,
                               int32_t* index) const {
    const t_keyTable& t = m_keys[size_t(k)];
    int32_t b = -1;
    const uint64_t e = t.hash->FindBucket(key, t.buckets, &b);
    if (b < 0) return false;
    *start = uint32_t(e);
    *rows = uint32_t(e >> 32);
    if (index) *index = b;
    // Cheap re-check: another writer of a shared image may have moved buckets.
    return uint64_t(*start) + uint64_t(*rows) * t.rowSize <= t.rowsBytes;
}

bool t_tableFile::BinarySearch(const t_lstr* key, int k, uint32_t start, uint32_t rows, bool prefix,
                               int32_t* row) const {
    const t_keyTable& t = m_keys[size_t(k)];
    const uint8_t* first = t.rows + start;
    if (!prefix && m_layout.keys[size_t(k)].keyType == 1 && LstrGetByteLength(key) == 2) {
        // One-letter English keys look only at the bucket's first row.
        *row = 0;
        if (rows == 0) return false;
        const t_lstr* stored = KeyOf(t, first);
        return stored && LstrGetByteLength(stored) == 2 && t.cmp->Compare(key, stored) == 0;
    }
    return SearchSortedRows(
        int64_t(rows) - 1, row,
        [&](int64_t mid) {
            const t_lstr* stored = KeyOf(t, first + uint64_t(mid) * t.rowSize);
            return stored ? t.cmp->Compare(key, stored) : kRowUnreadable;
        },
        [prefix](int c) { return prefix ? (c == 0 || c == 1) : c == 0; });
}

// Where a search key q stands against a stored string: equal, a stored
// proper prefix of q, or the unit at which they part and which sorts first.
namespace {
enum t_prefixRelation { kEqual, kStoredIsPrefix, kKeyBefore, kKeyAfter };

t_prefixRelation Relate(const t_lstr* q, const t_lstr* stored) {
    const uint32_t qn = ItemUnits(q), sn = ItemUnits(stored);
    uint32_t c = 0;
    while (c < qn && c < sn && ItemUnit(q, c) == ItemUnit(stored, c)) ++c;
    if (c == qn) return c == sn ? kEqual : kKeyBefore;
    if (c == sn) return kStoredIsPrefix;
    return ItemUnit(q, c) < ItemUnit(stored, c) ? kKeyBefore : kKeyAfter;
}
}  // namespace

// Prefix walk over a bucket whose rows carry skip words (the builder's save
// makes them): rows are in string order, and a positive skip word leads past
// every row that extends the row's key. The walk compares each row it visits
// in full and jumps only over extensions of a key the search key does not
// extend, so it never lands on a wrong row; a skip word of 0 or -1 means a
// plain step to the next row.
bool t_tableFile::PrefixWalk(const t_lstr* key, int k, uint32_t start, uint32_t rows,
                             int32_t* row) const {
    const t_keyTable& t = m_keys[size_t(k)];
    const uint32_t skipOffset = m_layout.keyLayouts[size_t(k)].skipOffset;
    const uint8_t* first = t.rows + start;
    int64_t r = 0;
    while (r < int64_t(rows)) {
        const uint8_t* rp = first + uint64_t(r) * t.rowSize;
        const t_lstr* stored = KeyOf(t, rp);
        if (!stored) break;
        const t_prefixRelation rel = Relate(key, stored);
        if (rel == kEqual) {
            *row = int32_t(r);
            return true;
        }
        if (rel == kKeyBefore) break;
        const int32_t s = RdI32(rp + skipOffset);
        r += (rel == kKeyAfter && s >= 1) ? s : 1;
    }
    *row = int32_t(r < int64_t(rows) ? r : int64_t(rows));
    return false;
}

bool t_tableFile::Find(const t_lstr* key, int k, int32_t* row, int32_t* bucketStart,
                       int32_t* bucketIndex) const {
    if (!key || !KEY_OK(k) || !row || !bucketStart) return false;
    uint32_t start = 0, rows = 0;
    if (!LocateBucket(key, k, &start, &rows, bucketIndex)) return false;
    *bucketStart = int32_t(start);
    if (m_layout.keys[size_t(k)].keyType & kFlagPrefixSkip)
        return PrefixWalk(key, k, start, rows, row);
    return BinarySearch(key, k, start, rows, false, row);
}

bool t_tableFile::FindRow(const t_lstr* key, int k, const uint8_t** rowPtr) const {
    if (!rowPtr) return false;
    *rowPtr = nullptr;
    int32_t row = 0, start = 0;
    if (Find(key, k, &row, &start)) *rowPtr = GetBucketRow(k, row, start);
    return *rowPtr != nullptr;
}

bool t_tableFile::FindPrefix(const t_lstr* key, int k, int32_t* row, int32_t* bucketStart,
                             int32_t* bucketIndex) const {
    if (!key || !KEY_OK(k) || !row || !bucketStart) return false;
    if (m_layout.keys[size_t(k)].keyType & kFlagPrefixSkip) return false;
    uint32_t start = 0, rows = 0;
    if (!LocateBucket(key, k, &start, &rows, bucketIndex)) return false;
    *bucketStart = int32_t(start);
    return BinarySearch(key, k, start, rows, true, row);
}

bool t_tableFile::BinarySearchAttri(const t_lstr* key, int a, int64_t byteOffset, int32_t lastRow,
                                    int32_t* row, t_attriRowCompareFn cmp) const {
    if (!key || !ATTRI_OK(a) || !row || !cmp) return false;
    return SearchSortedRows(
        int64_t(lastRow), row,
        [&](int64_t mid) {
            const uint8_t* r = GetAttriRow(a, byteOffset + mid * int64_t(m_attris[a].rowSize));
            return r ? cmp(key, r) : kRowUnreadable;
        },
        [](int c) { return c == 0; });
}

bool t_tableFile::PrefixSearchAttri(const t_lstr* key, int a, int64_t byteOffset, int32_t lastRow,
                                    int32_t* row) const {
    if (!key || !ATTRI_OK(a) || !row) return false;
    const t_rowTable& t = m_attris[a];
    // Only attri rows laid out with skip words can be walked.
    const t_keyLayout* owner = nullptr;
    for (size_t k = 0; k < m_keys.size(); ++k)
        if (m_layout.keyLayouts[k].hasAttri && m_layout.keyLayouts[k].attri == uint32_t(a) &&
            (m_layout.keys[k].keyType & kFlagSortedAttri))
            owner = &m_layout.keyLayouts[k];
    if (!owner || t.data < 0) return false;
    // The same walk as over key rows; a stored string that is a prefix of the
    // search key counts as found.
    int64_t r = 0;
    while (r <= lastRow) {
        static const uint8_t kEmpty[2] = {0, 0};  // an empty string is stored as "no item"
        const uint8_t* rp = GetAttriRow(a, byteOffset + r * int64_t(t.rowSize));
        if (!rp) return false;
        const uint32_t offset = Rd32(rp);
        const t_lstr* stored =
            offset == kNone ? reinterpret_cast<const t_lstr*>(kEmpty) : Item(t.data, offset);
        if (!stored) return false;
        const t_prefixRelation rel = Relate(key, stored);
        if (rel == kEqual || rel == kStoredIsPrefix) {
            *row = int32_t(r);
            return true;
        }
        const int32_t s = RdI32(rp + owner->attriSkipOffset);
        if (s < -2) return false;
        if (rel == kKeyBefore) break;
        r += s >= 1 ? s : 1;
    }
    *row = int32_t(r <= lastRow ? r : int64_t(lastRow) + 1);
    return false;
}

// ---------------------------------------------------------------- walks

uint32_t t_tableFile::ChainLimit(const t_rowTable& t) const {
    const uint32_t used = Rd32(t.record + 8);
    return (used != 0 && used <= t.allocated) ? used : t.allocated;
}

bool t_tableFile::CollectKeyRows(int k, std::vector<const uint8_t*>& out) const {
    if (!KEY_OK(k)) return false;
    const t_keyTable& t = m_keys[size_t(k)];
    for (int32_t b = 0; b < t.bucketCount; ++b) {
        const uint8_t* e = t.buckets + size_t(b) * kBucketEntrySize;
        const uint64_t start = Rd32(e), rows = Rd32(e + 4);
        for (uint64_t i = 0; i < rows; ++i) {
            const uint64_t at = start + i * t.rowSize;
            if (at + t.rowSize > t.rowsBytes) break;
            out.push_back(t.rows + at);
        }
    }
    return true;
}

bool t_tableFile::EnumerateItems(
    int k, std::vector<std::pair<const uint8_t*, const uint8_t*>>& out) const {
    if (!KEY_OK(k)) return false;
    const t_keyLayout& L = m_layout.keyLayouts[size_t(k)];
    if (!L.hasAttri || (m_layout.keys[size_t(k)].keyType & (kFlagSortedAttri | kFlagPackedAttri)))
        return false;
    const t_rowTable& at = m_attris[L.attri];
    const uint32_t limit = ChainLimit(at);
    std::vector<const uint8_t*> rows;
    CollectKeyRows(k, rows);
    for (const uint8_t* row : rows) {
        uint32_t link = Rd32(row + L.linkOffset);
        if (link == kNone) continue;
        if (limit == 0) return false;
        uint32_t steps = 0;
        while (link != kNone) {
            const uint8_t* ar = GetAttriRow(int(L.attri), link);
            if (!ar) break;  // a link outside the table ends this key's chain
            if (++steps > limit) return false;
            out.emplace_back(row, ar);
            link = Rd32(ar + L.attriLinkOffset);
        }
    }
    return true;
}

bool t_tableFile::CollectAttriChain(int64_t startOffset, int k, std::vector<const uint8_t*>& out,
                                    uint32_t linkOffset, int64_t* lastOffset) const {
    out.clear();
    if (!KEY_OK(k) || startOffset < 0) return false;
    const t_keyLayout& L = m_layout.keyLayouts[size_t(k)];
    if (!L.hasAttri) return false;
    const t_rowTable& at = m_attris[L.attri];
    if (uint64_t(linkOffset) + 4 > at.rowSize) return false;
    const uint32_t limit = ChainLimit(at);
    int64_t offset = startOffset;
    for (uint32_t steps = 0;; ++steps) {
        if (steps >= limit) return false;
        const uint8_t* ar = GetAttriRow(int(L.attri), offset);
        if (!ar) return false;
        out.push_back(ar);
        if (lastOffset) *lastOffset = offset;
        const uint32_t link = Rd32(ar + linkOffset);
        if (link == kNone) break;
        offset = link;
    }
    return !out.empty();
}

// ---------------------------------------------------------------- in-place edits

void t_tableFile::AdjustCheck(uint32_t delta) {
    Wr32(m_image, ~(delta + ~Rd32(m_image)));
}

bool t_tableFile::WriteField(uint8_t* field, uint64_t room, const void* src, uint32_t len,
                             bool isVarLen, int d) {
    if (!src) return false;
    if (!isVarLen) {
        if (len > room) return false;
        std::memcpy(field, src, len);
        return true;
    }
    if (room < 4 || len < 2 || !DATA_OK(d)) return false;
    const int16_t newLen = RdI16(static_cast<const uint8_t*>(src));
    if (newLen < 0 || uint32_t(newLen) + 2 != len) return false;
    const uint32_t oldOffset = Rd32(field);
    const t_lstr* old = Item(d, oldOffset);
    if (!old) return false;
    t_dataTable& t = m_datas[size_t(d)];
    if (len <= uint32_t(LstrGetByteLength(old)) + 2) {
        std::memcpy(t.base + oldOffset, src, len);
        return true;
    }
    // Other rows may point into the table, so a longer value never moves
    // anything: it goes to the end, and the old item stays as dead space.
    const uint32_t used = Rd32(t.record + 8);
    if (used == 0 || uint64_t(used) + len > t.allocated) return false;
    std::memcpy(t.base + used, src, len);
    Wr32(field, used);
    Wr32(t.record + 8, used + len);
    AdjustCheck(len);
    return true;
}

bool t_tableFile::SetRowField(const void* src, uint32_t len, int k, int64_t n, int64_t byteOffset,
                              uint32_t fieldOffset, bool isVarLen, bool inKeyRow) {
    if (!KEY_OK(k)) return false;
    const t_keyLayout& L = m_layout.keyLayouts[size_t(k)];
    const uint8_t* row;
    uint32_t rowSize;
    int d;
    if (!L.hasAttri || inKeyRow) {
        row = GetBucketRow(k, n, byteOffset);
        rowSize = m_keys[size_t(k)].rowSize;
        d = m_keys[size_t(k)].valueData;
    } else {
        row = GetAttriRowPtr(k, byteOffset);
        rowSize = m_attris[L.attri].rowSize;
        d = m_attris[L.attri].data;
    }
    if (!row || fieldOffset >= rowSize) return false;
    return WriteField(const_cast<uint8_t*>(row) + fieldOffset, rowSize - fieldOffset, src, len,
                      isVarLen, d);
}

bool t_tableFile::SetFieldAt(const void* src, uint32_t len, const uint8_t* base, int64_t offset,
                             int k, bool isVarLen, bool inKeyRow) {
    if (!KEY_OK(k) || !base || base < m_items || base >= m_itemsEnd) return false;
    if (offset < 0 || offset >= m_itemsEnd - base) return false;
    const t_keyLayout& L = m_layout.keyLayouts[size_t(k)];
    const int d = (!L.hasAttri || inKeyRow) ? m_keys[size_t(k)].valueData : m_attris[L.attri].data;
    uint8_t* field = const_cast<uint8_t*>(base) + offset;
    return WriteField(field, uint64_t(m_itemsEnd - field), src, len, isVarLen, d);
}

bool t_tableFile::SaveToFile(const wchar_t* path) const {
    if (!m_image) return false;
    t_tableImageWriter w;
    if (!w.Open(path)) return false;
    if (!w.Put(m_image, 4, "write checknum failed !\r")) return false;
    if (!w.Put(m_image + 4, 4, "write configsize failed !\r")) return false;
    if (!w.Put(m_image + 8, uint64_t(m_configSize) + m_headSize, "write header failed !\r"))
        return false;
    if (!w.Put(m_items, uint64_t(m_itemsEnd - m_items), "write item failed !\r")) return false;
    return w.Commit();
}
