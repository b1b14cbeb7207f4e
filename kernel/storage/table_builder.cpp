// Table-file builder: the store, its inserts and deletes, and the images it writes.
#include "kernel/storage/table_builder.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>

#include "kernel/runtime/lstr.h"
#include "kernel/storage/table_write.h"

using namespace n_tableFormat;

namespace {

inline const t_lstr* AsLstr(const uint8_t* p) {
    return reinterpret_cast<const t_lstr*>(p);
}

void Put32(std::vector<uint8_t>& out, uint32_t v) {
    for (int i = 0; i < 4; ++i) out.push_back(uint8_t(v >> (8 * i)));
}

}  // namespace

t_tableFileBuilder::t_tableFileBuilder() = default;

t_tableFileBuilder::t_tableFileBuilder(
    const std::vector<t_keyDesc>& keyDescs, const std::vector<t_attriDesc>& attriDescs,
    const std::vector<uint32_t>& dataDescs, uint32_t headerTag, uint32_t formatVersion,
    const std::vector<t_keyHashFn>& hashFns, const std::vector<t_keyCompareFn>& compareFns,
    const void* extra, uint32_t extraSize, const std::vector<int32_t>* bucketCounts) {
    if (!Init(keyDescs, attriDescs, dataDescs, headerTag, formatVersion, hashFns, compareFns,
              bucketCounts))
        return;
    for (size_t k = 0; k < keyDescs.size(); ++k) m_keyRows[k] = keyDescs[k].capacity;
    for (size_t a = 0; a < attriDescs.size(); ++a) m_attriRows[a] = attriDescs[a].capacity;
    for (size_t d = 0; d < dataDescs.size(); ++d) m_dataSizes[d] = dataDescs[d];
    m_extra = extraSize ? extra : nullptr;
    m_extraSize = m_extra ? extraSize : 0;
}

t_tableFileBuilder::~t_tableFileBuilder() {
    Reset();
}

void t_tableFileBuilder::Reset() {
    for (t_baseHash* h : m_hash) delete h;
    for (t_baseCompare* c : m_cmp) delete c;
    m_hash.clear();
    m_cmp.clear();
    m_buckets.clear();
    m_pool.FreeAll();
    m_valid = false;
}

bool t_tableFileBuilder::Refuse(const char* why) {
    Reset();
    m_lastError = why;
    return false;
}

bool t_tableFileBuilder::InitStore(const std::vector<t_keyDesc>& keyDescs,
                                   const std::vector<t_attriDesc>& attriDescs,
                                   const std::vector<uint32_t>& dataDescs, uint32_t headerTag,
                                   uint32_t formatVersion, const std::vector<t_keyHashFn>& hashFns,
                                   const std::vector<t_keyCompareFn>& compareFns) {
    return Init(keyDescs, attriDescs, dataDescs, headerTag, formatVersion, hashFns, compareFns,
                nullptr);
}

bool t_tableFileBuilder::InitStoreWithBuckets(const std::vector<t_keyDesc>& keyDescs,
                                              const std::vector<t_attriDesc>& attriDescs,
                                              const std::vector<uint32_t>& dataDescs,
                                              uint32_t headerTag, uint32_t formatVersion,
                                              const std::vector<t_keyHashFn>& hashFns,
                                              const std::vector<t_keyCompareFn>& compareFns,
                                              const std::vector<int32_t>& bucketCounts) {
    return Init(keyDescs, attriDescs, dataDescs, headerTag, formatVersion, hashFns, compareFns,
                &bucketCounts);
}

bool t_tableFileBuilder::Init(const std::vector<t_keyDesc>& keyDescs,
                              const std::vector<t_attriDesc>& attriDescs,
                              const std::vector<uint32_t>& dataDescs, uint32_t headerTag,
                              uint32_t formatVersion, const std::vector<t_keyHashFn>& hashFns,
                              const std::vector<t_keyCompareFn>& compareFns,
                              const std::vector<int32_t>* bucketCounts) {
    Reset();
    m_lastError = nullptr;
    m_layout = t_tableLayout();
    m_layout.keys = keyDescs;
    m_layout.attris = attriDescs;
    m_layout.datas = dataDescs;
    if (const char* why = m_layout.Derive()) return Refuse(why);
    if (m_layout.ConfigSize() == 0) return Refuse("configuration too large");
    m_headerTag = headerTag;
    m_formatVersion = formatVersion;
    m_hashFns = hashFns;
    m_compareFns = compareFns;
    const size_t kc = keyDescs.size();
    if (bucketCounts && bucketCounts->size() < kc)
        return Refuse("fewer bucket counts than key tables");
    m_bucketCounts.assign(kc, 0);
    if (bucketCounts)
        std::copy(bucketCounts->begin(), bucketCounts->begin() + kc, m_bucketCounts.begin());
    m_keyRows.assign(kc, 0);
    m_attriRows.assign(attriDescs.size(), 0);
    m_dataSizes.assign(dataDescs.size(), 0);

    size_t hashCursor = 0, compareCursor = 0;
    for (size_t k = 0; k < kc; ++k) {
        const int id = m_layout.keyLayouts[k].policyId;
        t_keyHashFn hashFn = nullptr;
        t_keyCompareFn compareFn = nullptr;
        if (id == 5) {
            if (hashCursor >= hashFns.size() || compareCursor >= compareFns.size())
                return Refuse("function list runs out");
            hashFn = hashFns[hashCursor++];
            compareFn = compareFns[compareCursor++];
        } else if (compareCursor < compareFns.size()) {
            compareFn = compareFns[compareCursor];
        }
        m_hash.push_back(CreateHashPolicy(id, m_bucketCounts[k], hashFn));
        m_cmp.push_back(CreateComparePolicy(id, compareFn));
        if (!m_hash.back() || !m_cmp.back())
            return Refuse("no hash or compare policy for a key table");
    }
    m_buckets.resize(kc);
    for (size_t k = 0; k < kc; ++k) m_buckets[k].resize(size_t(m_hash[k]->GetBucketCount()));
    m_valid = true;
    return true;
}

int32_t t_tableFileBuilder::GetBucketCount(int k) const {
    return (m_valid && k >= 0 && size_t(k) < m_hash.size()) ? m_hash[size_t(k)]->GetBucketCount()
                                                            : -1;
}

const std::vector<t_tableFileBuilder::t_rowRecord>* t_tableFileBuilder::GetBucket(int k,
                                                                                  int b) const {
    if (GetBucketCount(k) <= b || b < 0) return nullptr;
    return &m_buckets[size_t(k)][size_t(b)];
}

uint64_t t_tableFileBuilder::GetKeyRowCount(int k) const {
    return (k >= 0 && size_t(k) < m_keyRows.size()) ? m_keyRows[size_t(k)] : 0;
}
uint64_t t_tableFileBuilder::GetAttriRowCount(int a) const {
    return (a >= 0 && size_t(a) < m_attriRows.size()) ? m_attriRows[size_t(a)] : 0;
}
uint64_t t_tableFileBuilder::GetDataSize(int d) const {
    return (d >= 0 && size_t(d) < m_dataSizes.size()) ? m_dataSizes[size_t(d)] : 0;
}

// ---------------------------------------------------------------- field values

int t_tableFileBuilder::FieldType(int k, uint32_t field) const {
    return m_layout.keys[size_t(k)].fieldTypes[field];
}

const uint8_t* t_tableFileBuilder::CopyValue(int type, const uint8_t* src, const uint8_t* end,
                                             bool isKey) {
    if (!src) return nullptr;
    uint64_t n;
    if (IsVarLenType(type)) {
        if (isKey && type == 11) return nullptr;  // a typed list cannot be a key
        if (end && end - src < 2) return nullptr;
        const int16_t len = RdI16(src);
        if (len < 0) return nullptr;
        n = 2 + uint64_t(len);
    } else {
        if (type == 3 || type == 9) return nullptr;
        n = FieldSize(type);
        if (n == 0) return nullptr;
    }
    if (end && uint64_t(end - src) < n) return nullptr;
    uint8_t* copy = static_cast<uint8_t*>(m_pool.Alloc(n < 4 ? 4 : n));  // zero-padded
    if (!copy) return nullptr;
    std::memcpy(copy, src, n);
    return copy;
}

uint64_t t_tableFileBuilder::StringBytes(int type, const uint8_t* value) const {
    return IsVarLenType(type) && value ? uint64_t(uint16_t(RdI16(value))) : 0;
}

bool t_tableFileBuilder::ParseItem(int k, const uint8_t* const* fields, const uint8_t* cursor,
                                   const uint8_t* end, t_rowRecord& row) {
    const t_keyDesc& d = m_layout.keys[size_t(k)];
    const t_keyLayout& L = m_layout.keyLayouts[size_t(k)];
    row = t_rowRecord();
    std::vector<const uint8_t*> entry;
    for (uint32_t i = 0; i < d.fieldTypes.size(); ++i) {
        const int type = d.fieldTypes[i];
        const uint8_t* src = fields ? fields[i] : cursor;
        if (!fields && cursor >= end) return false;
        const uint8_t* v = CopyValue(type, src, fields ? nullptr : end, i == 0);
        if (!v) return false;
        if (!fields) cursor += IsVarLenType(type) ? 2 + uint32_t(Rd16(v)) : FieldSize(type);
        if (i == 0) {
            // Keys kept in the row but hashed and compared as length-prefixed
            // values must hold their whole length inside the field.
            if (!IsVarLenType(type) && L.policyId != 4 && L.policyId != 5 &&
                uint32_t(Rd16(v)) + 2 > FieldSize(type))
                return false;
            row.key = v;
        } else if (i < L.keyRowFields) {
            row.values.push_back(v);
        } else {
            entry.push_back(v);
        }
    }
    if (L.hasAttri) row.entries.push_back(std::move(entry));
    return true;
}

bool t_tableFileBuilder::DataTablesReady(int k, const t_rowRecord& row) const {
    const t_keyDesc& d = m_layout.keys[size_t(k)];
    const t_keyLayout& L = m_layout.keyLayouts[size_t(k)];
    if (L.policyId != 4 && IsVarLenType(d.fieldTypes[0]) && d.keyDataTable == kNone) return false;
    for (size_t i = 0; i < row.values.size(); ++i)
        if (StringBytes(d.fieldTypes[i + 1], row.values[i]) > 0 && d.valueDataTable == kNone)
            return false;
    if (L.hasAttri)
        for (const auto& e : row.entries)
            for (size_t i = 0; i < e.size(); ++i)
                if (StringBytes(d.fieldTypes[L.keyRowFields + i], e[i]) > 0 &&
                    m_layout.attris[L.attri].dataTable == kNone)
                    return false;
    return true;
}

void t_tableFileBuilder::AddSize(uint32_t table, uint64_t bytes, int sign) {
    if (table >= m_dataSizes.size()) return;
    uint64_t& s = m_dataSizes[table];
    s = sign > 0 ? s + bytes : (s > bytes ? s - bytes : 0);
}

// Key items are written even when empty; empty value strings take no item.
void t_tableFileBuilder::AddRowSizes(int k, const t_rowRecord& row, int sign) {
    const t_keyDesc& d = m_layout.keys[size_t(k)];
    if (m_layout.keyLayouts[size_t(k)].policyId != 4 && IsVarLenType(d.fieldTypes[0]))
        AddSize(d.keyDataTable, 2 + StringBytes(d.fieldTypes[0], row.key), sign);
    for (size_t i = 0; i < row.values.size(); ++i) {
        const uint64_t n = StringBytes(d.fieldTypes[i + 1], row.values[i]);
        if (n > 0) AddSize(d.valueDataTable, 2 + n, sign);
    }
}

void t_tableFileBuilder::AddEntrySizes(int k, const std::vector<const uint8_t*>& entry, int sign) {
    const t_keyDesc& d = m_layout.keys[size_t(k)];
    const t_keyLayout& L = m_layout.keyLayouts[size_t(k)];
    for (size_t i = 0; i < entry.size(); ++i) {
        const uint64_t n = StringBytes(d.fieldTypes[L.keyRowFields + i], entry[i]);
        if (n > 0) AddSize(m_layout.attris[L.attri].dataTable, 2 + n, sign);
    }
}

// ---------------------------------------------------------------- store

int64_t t_tableFileBuilder::SearchBucket(int k, const std::vector<t_rowRecord>& bucket,
                                         const uint8_t* key, bool* found) const {
    const t_baseCompare* cmp = m_cmp[size_t(k)];
    int64_t lo = 0, hi = int64_t(bucket.size()) - 1;
    *found = false;
    while (lo <= hi) {
        const int64_t mid = (lo + hi) / 2;
        const int c = cmp->Compare(AsLstr(key), AsLstr(bucket[size_t(mid)].key));
        if (c < 0) {
            hi = mid - 1;
        } else if (c > 0) {
            lo = mid + 1;
        } else {
            *found = true;
            return mid;
        }
    }
    return lo;
}

bool t_tableFileBuilder::BucketOk(int k, int bucket, const t_rowRecord& row) const {
    return m_valid && k >= 0 && size_t(k) < m_buckets.size() && bucket >= 0 &&
           size_t(bucket) < m_buckets[size_t(k)].size() && row.key;
}

int t_tableFileBuilder::InsertRow(int k, t_rowRecord& row, int bucket) {
    if (!BucketOk(k, bucket, row)) return 0;
    const t_keyLayout& L = m_layout.keyLayouts[size_t(k)];
    std::vector<t_rowRecord>& rows = m_buckets[size_t(k)][size_t(bucket)];
    bool found = false;
    const int64_t pos = SearchBucket(k, rows, row.key, &found);
    if (!found) {
        if (L.hasAttri) m_attriRows[L.attri] += row.entries.size();
        rows.insert(rows.begin() + pos, std::move(row));
        ++m_keyRows[size_t(k)];
        return kCreated;
    }
    if (!L.hasAttri) {
        rows.insert(rows.begin() + pos, std::move(row));
        ++m_keyRows[size_t(k)];
        return kJoined;
    }
    t_rowRecord& stored = rows[size_t(pos)];
    const bool sorted = m_layout.keys[size_t(k)].keyType & (kFlagSortedAttri | kFlagPackedAttri);
    const int firstType = L.keyRowFields < m_layout.keys[size_t(k)].fieldTypes.size()
                              ? FieldType(k, L.keyRowFields)
                              : 0;
    for (auto& entry : row.entries) {
        if (!sorted || entry.empty()) {
            stored.entries.push_back(std::move(entry));
        } else {
            int64_t lo = 0, hi = int64_t(stored.entries.size()) - 1, at = -1;
            while (lo <= hi) {
                const int64_t mid = (lo + hi) / 2;
                const auto& other = stored.entries[size_t(mid)];
                const int c = other.empty() ? 1 : TableFieldCompare(firstType, entry[0], other[0]);
                if (c < 0) {
                    hi = mid - 1;
                } else if (c > 0) {
                    lo = mid + 1;
                } else {
                    at = mid;
                    break;
                }
            }
            stored.entries.insert(stored.entries.begin() + (at >= 0 ? at : lo), std::move(entry));
        }
        ++m_attriRows[L.attri];
    }
    return kJoined;
}

int t_tableFileBuilder::InsertParsed(int k, t_rowRecord& row) {
    const int32_t bucket = m_hash[size_t(k)]->CheckedIndex(AsLstr(row.key));
    if (bucket < 0) return 1;  // no bucket for this key: skipped
    if (!DataTablesReady(k, row)) return 0;
    const t_keyLayout& L = m_layout.keyLayouts[size_t(k)];
    const t_rowRecord counted = row;  // InsertRow moves the record
    const int r = InsertRow(k, row, bucket);
    if (r == kCreated || !L.hasAttri) AddRowSizes(k, counted, +1);
    for (const auto& e : counted.entries) AddEntrySizes(k, e, +1);
    return 1;
}

bool t_tableFileBuilder::ParsePacked(const uint8_t* packedItem, int k, t_rowRecord& row) {
    if (!m_valid || !packedItem || k < 0 || size_t(k) >= m_layout.keys.size()) return false;
    const int32_t size = RdI32(packedItem);
    if (size < 1) return false;
    return ParseItem(k, nullptr, packedItem + 4, packedItem + 4 + size, row);
}

int t_tableFileBuilder::InsertOne(const uint8_t* packedItem, int k) {
    t_rowRecord row;
    if (!ParsePacked(packedItem, k, row)) return 0;
    return InsertParsed(k, row);
}

int t_tableFileBuilder::InsertFields(const std::vector<const uint8_t*>& fields, int k) {
    if (!m_valid || k < 0 || size_t(k) >= m_layout.keys.size()) return 0;
    if (fields.size() != m_layout.keys[size_t(k)].fieldTypes.size()) return 0;
    t_rowRecord row;
    if (!ParseItem(k, fields.data(), nullptr, nullptr, row)) return 0;
    return InsertParsed(k, row);
}

int t_tableFileBuilder::InsertItems(const std::vector<std::vector<const uint8_t*>>& lists) {
    if (!m_valid || lists.size() != m_layout.keys.size()) return 0;
    for (size_t k = 0; k < lists.size(); ++k)
        for (const uint8_t* item : lists[k])
            if (!InsertOne(item, int(k))) {
                printf("insert one is erro");
                return 0;
            }
    return 1;
}

void t_tableFileBuilder::DropRow(int k, std::vector<t_rowRecord>& rows, int64_t pos) {
    AddRowSizes(k, rows[size_t(pos)], -1);
    rows.erase(rows.begin() + pos);
    if (m_keyRows[size_t(k)] > 0) --m_keyRows[size_t(k)];
}

int t_tableFileBuilder::RemoveRow(int k, const t_rowRecord& row, int bucket) {
    if (!BucketOk(k, bucket, row)) return 0;
    const t_keyLayout& L = m_layout.keyLayouts[size_t(k)];
    std::vector<t_rowRecord>& rows = m_buckets[size_t(k)][size_t(bucket)];
    bool found = false;
    const int64_t pos = SearchBucket(k, rows, row.key, &found);
    if (!found) return 0;
    t_rowRecord& stored = rows[size_t(pos)];
    if (!L.hasAttri) {
        DropRow(k, rows, pos);
        return 1;
    }
    const std::vector<const uint8_t*> empty;
    const auto& wanted = row.entries.empty() ? empty : row.entries[0];
    for (size_t e = 0; e < stored.entries.size(); ++e) {
        const auto& entry = stored.entries[e];
        bool match = true;
        for (size_t i = 0; i < entry.size() && match; ++i)
            match =
                i < wanted.size() && TableFieldCompare(FieldType(k, L.keyRowFields + uint32_t(i)),
                                                       entry[i], wanted[i]) == 0;
        if (!match) continue;
        AddEntrySizes(k, entry, -1);
        stored.entries.erase(stored.entries.begin() + int64_t(e));
        if (m_attriRows[L.attri] > 0) --m_attriRows[L.attri];
        if (!stored.entries.empty()) return 0;
        DropRow(k, rows, pos);
        return 1;
    }
    return 0;
}

int t_tableFileBuilder::DeleteOne(const uint8_t* packedItem, int k) {
    t_rowRecord row;
    if (!ParsePacked(packedItem, k, row)) return 0;
    const int32_t bucket = m_hash[size_t(k)]->CheckedIndex(AsLstr(row.key));
    if (bucket >= 0) RemoveRow(k, row, bucket);
    return 1;
}

// ---------------------------------------------------------------- images

// Lays out an image: the empty one of the descriptors' capacities, or the
// populated one of the store's counts. The items of a populated image are
// written by WriteRows; check receives the check number.
bool t_tableFileBuilder::BuildImage(bool empty, std::vector<uint8_t>& config,
                                    std::vector<uint8_t>& header, std::vector<uint8_t>& items,
                                    uint32_t& check) {
    if (!m_valid) return false;
    const size_t kc = m_layout.keys.size(), ac = m_layout.attris.size(), dc = m_layout.datas.size();
    const uint32_t configSize = m_layout.ConfigSize(), headSize = m_layout.HeadSize();
    if (configSize == 0 || headSize <= kHeaderFixedSize) return false;  // an image needs a table
    std::vector<uint64_t> keyRows(kc), attriRows(ac), dataBytes(dc);
    for (size_t k = 0; k < kc; ++k) keyRows[k] = empty ? m_layout.keys[k].capacity : m_keyRows[k];
    for (size_t a = 0; a < ac; ++a)
        attriRows[a] = empty ? m_layout.attris[a].capacity : m_attriRows[a];
    for (size_t d = 0; d < dc; ++d) dataBytes[d] = empty ? m_layout.datas[d] : m_dataSizes[d];
    uint64_t itemsSize = 0;
    for (size_t k = 0; k < kc; ++k)
        itemsSize += 8ull * uint64_t(m_hash[k]->GetBucketCount()) +
                     keyRows[k] * m_layout.keyLayouts[k].rowSize;
    for (size_t a = 0; a < ac; ++a) itemsSize += attriRows[a] * m_layout.attriRowSizes[a];
    for (size_t d = 0; d < dc; ++d) itemsSize += dataBytes[d];
    if (itemsSize == 0 || itemsSize + configSize + headSize + 12 + m_extraSize > 0x7FFFFFFFull)
        return false;
    for (uint64_t n : keyRows)
        if (n > 0xFFFFFFFFull) return false;
    for (uint64_t n : attriRows)
        if (n > 0xFFFFFFFFull) return false;

    uint32_t sum = configSize;
    config.clear();
    m_layout.WriteConfig(config, sum);
    if (config.size() != configSize) return false;

    header.clear();
    const uint32_t fixed[6] = {m_headerTag,  m_formatVersion, uint32_t(itemsSize),
                               uint32_t(kc), uint32_t(ac),    uint32_t(dc)};
    for (uint32_t w : fixed) {
        Put32(header, w);
        sum += w;
    }
    auto record = [&](uint64_t offset, uint64_t allocated) {
        Put32(header, uint32_t(offset));
        Put32(header, uint32_t(allocated));
        Put32(header, 0);
        sum += uint32_t(offset) + uint32_t(allocated);
    };
    uint64_t offset = 0;
    std::vector<uint64_t> keyOffsets(kc);
    for (size_t k = 0; k < kc; ++k) {
        offset += 8ull * uint64_t(m_hash[k]->GetBucketCount());
        keyOffsets[k] = offset;
        record(offset, keyRows[k]);
        offset += keyRows[k] * m_layout.keyLayouts[k].rowSize;
    }
    for (size_t a = 0; a < ac; ++a) {
        record(offset, attriRows[a]);
        offset += attriRows[a] * m_layout.attriRowSizes[a];
    }
    for (size_t d = 0; d < dc; ++d) {
        record(offset, dataBytes[d]);
        offset += dataBytes[d];
    }
    if (header.size() != headSize || offset != itemsSize) return false;
    check = ~sum;

    items.assign(size_t(itemsSize), 0);
    if (empty) {
        // Bucket b starts at row b x (capacity / buckets); spare rows after the
        // last full slice belong to the last bucket.
        for (size_t k = 0; k < kc; ++k) {
            const uint32_t c = uint32_t(m_hash[k]->GetBucketCount());
            uint8_t* buckets = items.data() + keyOffsets[k] - 8ull * c;
            const uint64_t slice = keyRows[k] / c;
            for (uint32_t b = 0; b < c; ++b)
                Wr32(buckets + 8ull * b,
                     uint32_t(uint64_t(b) * slice * m_layout.keyLayouts[k].rowSize));
        }
    }
    return true;
}

int32_t t_tableFileBuilder::GetTotalSize(t_sizes* sizes) const {
    if (!m_valid) return -1;
    uint64_t itemsSize = 0;
    for (size_t k = 0; k < m_layout.keys.size(); ++k)
        itemsSize += 8ull * uint64_t(m_hash[k]->GetBucketCount()) +
                     uint64_t(m_layout.keys[k].capacity) * m_layout.keyLayouts[k].rowSize;
    for (size_t a = 0; a < m_layout.attris.size(); ++a)
        itemsSize += uint64_t(m_layout.attris[a].capacity) * m_layout.attriRowSizes[a];
    for (uint32_t d : m_layout.datas) itemsSize += d;
    const uint64_t total =
        uint64_t(m_layout.ConfigSize()) + m_layout.HeadSize() + itemsSize + 12 + m_extraSize;
    if (m_layout.ConfigSize() == 0 || total > 0x7FFFFFFFull) return -1;
    if (sizes) {
        sizes->configSize = m_layout.ConfigSize();
        sizes->headSize = m_layout.HeadSize();
        sizes->itemsSize = uint32_t(itemsSize);
        sizes->extraSize = m_extraSize;
    }
    return int32_t(total);
}

bool t_tableFileBuilder::BuildToBuffer(void* buffer, int64_t size) {
    if (!buffer || size < 1) return false;
    const int32_t total = GetTotalSize(nullptr);
    if (total < 0 || size != total) return false;
    std::vector<uint8_t> config, header, items;
    uint32_t check = 0;
    if (!BuildImage(true, config, header, items, check)) return false;
    uint8_t* p = static_cast<uint8_t*>(buffer);
    Wr32(p, check);
    Wr32(p + 4, uint32_t(config.size()));
    p += 8;
    for (const std::vector<uint8_t>* part : {&config, &header, &items}) {
        std::memcpy(p, part->data(), part->size());
        p += part->size();
    }
    Wr32(p, m_extraSize);
    p += 4;
    if (m_extraSize) std::memcpy(p, m_extra, m_extraSize);
    return true;
}

bool t_tableFileBuilder::BuildToFile(const wchar_t* path) {
    std::vector<uint8_t> config, header, items;
    uint32_t check = 0;
    if (!BuildImage(true, config, header, items, check)) return false;
    uint8_t words[8];
    Wr32(words, check);
    Wr32(words + 4, uint32_t(config.size()));
    uint8_t extraWord[4];
    Wr32(extraWord, m_extraSize);
    t_tableImageWriter w;
    return w.Open(path) && w.Put(words, 4, "write checknum failed !\r") &&
           w.Put(words + 4, 4, "write configsize failed !\r") &&
           w.Put(config.data(), config.size(), "write header failed !\r") &&
           w.Put(header.data(), header.size(), "write header failed !\r") &&
           w.Put(items.data(), items.size(), "write item failed !\r") &&
           w.Put(extraWord, 4, "write extrasize failed !\r") &&
           (m_extraSize == 0 || w.Put(m_extra, m_extraSize, "write extra failed !\r")) &&
           w.Commit();
}

// ---------------------------------------------------------------- typed lists

int32_t t_tableFileBuilder::ParseTypedList(const wchar_t* text, std::vector<uint8_t>& out) {
    out.assign(2, 0);
    if (!text) return -1;
    uint32_t count = 0;
    auto put = [&](const void* p, size_t n) {
        const uint8_t* b = static_cast<const uint8_t*>(p);
        out.insert(out.end(), b, b + n);
    };
    auto number = [](const wchar_t* s, const wchar_t* e, int64_t* v) {
        bool neg = false;
        if (s < e && *s == L'-') {
            neg = true;
            ++s;
        }
        if (s == e) return false;
        int64_t n = 0;
        for (; s < e; ++s) {
            if (*s < L'0' || *s > L'9') return false;
            n = n * 10 + (*s - L'0');
            if (n > 0xFFFFFFFFll) return false;
        }
        *v = neg ? -n : n;
        return true;
    };
    const wchar_t* p = text;
    while (*p) {
        const wchar_t* end = p;
        while (*end && *end != L',') ++end;
        const wchar_t* eq = p;
        while (eq < end && *eq != L'=') ++eq;
        if (eq == end) return -1;
        const std::wstring word(p, eq);
        const wchar_t* v = eq + 1;
        int64_t n = 0;
        if (word == L"str") {
            const uint16_t code = 0;
            put(&code, 2);
            if ((end - v) * 2 > 0x7FFF) return -1;
            const uint16_t bytes = uint16_t((end - v) * 2);
            put(&bytes, 2);
            for (const wchar_t* c = v; c < end; ++c) {
                if (uint32_t(*c) > 0xFFFF) return -1;
                const uint16_t unit = uint16_t(*c);
                put(&unit, 2);
            }
        } else if (word == L"int" || word == L"uint" || word == L"short" || word == L"bool") {
            if (!number(v, end, &n)) return -1;
            if (word == L"int") {
                const uint16_t code = 7;
                const int32_t x = int32_t(n);
                put(&code, 2);
                put(&x, 4);
            } else if (word == L"uint") {
                const uint16_t code = 8;
                const uint32_t x = uint32_t(n);
                put(&code, 2);
                put(&x, 4);
            } else if (word == L"short") {
                const uint16_t code = 5;
                const int16_t x = int16_t(n);
                put(&code, 2);
                put(&x, 2);
            } else {
                const uint16_t code = 1;
                const uint8_t x = n != 0;
                put(&code, 2);
                put(&x, 1);
            }
        } else {
            return -1;  // an unknown type word would leave the value unreadable
        }
        if (++count > 0x7FFF || out.size() > 0x7FFF) return -1;
        p = *end ? end + 1 : end;
    }
    Wr16(out.data(), uint16_t(count));
    return int32_t(out.size());
}
