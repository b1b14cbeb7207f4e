// Editable table file: attach with an extra block, in-place adds with
// per-bucket spare rows, field writes, saving, and the fixed-capacity log.
#include "kernel/storage/editable_table.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "kernel/runtime/fd_file.h"
#include "kernel/runtime/lstr.h"
#include "kernel/storage/table_write.h"

using namespace n_tableFormat;

namespace {

constexpr uint32_t kFxHeaderSize = 14;
constexpr uint32_t kFxRecordSize = 10;
constexpr uint32_t kFxMaxTables = 20;  // attri + data tables the region has records for
constexpr uint32_t kDataHeadroom = 256;

// Byte offsets inside the region header.
constexpr uint32_t kFxCapacity = 0, kFxUsed = 4, kFxSum = 8, kFxGrown = 12, kFxMoved = 13;

uint32_t RecordSum(const uint8_t* rec) {
    return uint32_t(int32_t(RdI16(rec))) + Rd32(rec + 2) + Rd32(rec + 6);
}

void WriteRecord(uint8_t* rec, int table, uint32_t offset, uint32_t size) {
    Wr16(rec, uint16_t(int16_t(table)));
    Wr32(rec + 2, offset);
    Wr32(rec + 6, size);
}

}  // namespace

// One parsed item: where each field lies inside it.
struct t_editableTableFile::t_itemParts {
    struct t_part {
        const uint8_t* p = nullptr;
        uint32_t size = 0;  // bytes in the item
        bool var = false;
    };
    std::vector<t_part> fields;
    uint8_t keyCopy[8] = {};  // fixed-size keys, zero-padded, for the hash
    const uint8_t* key = nullptr;
};

// ---------------------------------------------------------------- construction

void t_editableTableFile::Init(uint32_t mode, int32_t extraSize) {
    m_mode = mode;
    m_extraSize = extraSize < 0 ? 0 : extraSize;
}

t_editableTableFile::t_editableTableFile(t_editRowLessFn less, t_editRowRemoveFn remove,
                                         void* removeContext, t_editRowStateFn isRemoved,
                                         void* removedContext, int32_t extraSize) {
    m_trim.push_back({less, remove, removeContext, isRemoved, removedContext});
    Init(kModeTrim, extraSize);
}

t_editableTableFile::t_editableTableFile(t_editGrownFn onGrown, void* growthContext,
                                         t_editRowLessFn less, t_editRowRemoveFn remove,
                                         void* removeContext, t_editRowStateFn isRemoved,
                                         void* removedContext, int32_t extraSize,
                                         t_editAllocFn alloc, bool keep) {
    m_onGrown = onGrown;
    m_growthContext = growthContext;
    m_alloc = alloc;
    m_trim.push_back({less, remove, removeContext, isRemoved, removedContext});
    Init((keep ? kModeDoubleInLimits : kModeTrimWithLimits) | (alloc ? kModeCompact : 0),
         extraSize);
}

t_editableTableFile::t_editableTableFile(t_editGrownFn onGrown, void* growthContext,
                                         int32_t extraSize) {
    m_onGrown = onGrown;
    m_growthContext = growthContext;
    Init(kModeDouble, extraSize);
}

t_editableTableFile::t_editableTableFile(const std::vector<t_editTrimCallbacks>& callbacks,
                                         int32_t extraSize)
    : m_trim(callbacks) {
    Init(kModeTrim, extraSize);
}

t_editableTableFile::~t_editableTableFile() {
    DropEditState();
}

bool t_editableTableFile::FailEdit(const char* why) {
    Detach();
    m_lastError = why;
    return false;
}

void t_editableTableFile::DropEditState() {
    m_keys.clear();
    m_memo.clear();
    m_lastAdd = t_lastAdd();
    m_extra = nullptr;
    m_total = 0;
    m_attriCount = m_dataCount = 0;
}

void t_editableTableFile::Detach() {
    DropEditState();
    t_tableFile::Detach();
    ++m_generation;
}

// ---------------------------------------------------------------- attaching

bool t_editableTableFile::AttachWithExtra(void* image, uint32_t formatVersion,
                                          const std::vector<t_keyHashFn>& hashFns,
                                          const std::vector<t_keyCompareFn>& compareFns,
                                          int64_t size) {
    if (m_inNotice) return false;
    Detach();
    m_lastError = nullptr;
    // A change log describes the image it was started on.
    m_fx = t_fixedRegion();
    m_mode &= ~kModeFixedCapacity;
    if (!image || size <= 0) return FailEdit("no image or no size");
    // The plain image must keep at least one byte beyond the size word and
    // the extra block; anything else would attach it without a bound.
    const int64_t plain = size - int64_t(m_extraSize) - 4;
    if (plain <= 0) return FailEdit("image too short for its extra block");
    if (!t_tableFile::Attach(image, formatVersion, hashFns, compareFns, plain)) {
        m_lastError = nullptr;  // the reader's own text explains it
        DropEditState();
        return false;
    }
    uint8_t* img = static_cast<uint8_t*>(image);
    if (Rd32(img + plain) != uint32_t(m_extraSize))
        return FailEdit("stored extra size differs from the expected one");
    m_extra = m_extraSize > 0 ? img + plain + 4 : nullptr;
    m_total = uint64_t(size);
    m_version = formatVersion;
    m_attriCount = size_t(t_tableFile::GetAttriCount());
    m_dataCount = size_t(t_tableFile::GetDataCount());
    if (!SetUpKeys()) return false;
    ++m_generation;
    return true;
}

bool t_editableTableFile::SetUpKeys() {
    const t_tableLayout& lay = t_tableFile::GetLayout();
    m_keys.resize(lay.keys.size());
    m_memo.assign(lay.keys.size(), t_trimMemo());
    for (size_t k = 0; k < m_keys.size(); ++k) {
        t_editKey& t = m_keys[k];
        const t_keyLayout& L = lay.keyLayouts[k];
        const int ki = int(k);
        t.hash = t_tableFile::GetHashPolicy(ki);
        t.cmp = t_tableFile::GetComparePolicy(ki);
        if (!t.hash || !t.cmp) return FailEdit("no hash or compare policy for a key table");
        t.record = Record(k);
        t.rows = const_cast<uint8_t*>(t_tableFile::GetKeyTableBase(ki));
        t.rowSize = L.rowSize;
        t.bucketCount = t_tableFile::GetBucketCount(ki);
        t.buckets = const_cast<uint8_t*>(t_tableFile::GetBucketArray(ki));
        if (!t.rows || !t.buckets || t.bucketCount != t.hash->GetBucketCount())
            return FailEdit("key table without rows or buckets");
        t.attri = t_tableFile::GetAttriIndex(ki);
        t.keyData = t_tableFile::GetKeyDataTable(ki);
        t.valueData = t_tableFile::GetValueDataTable(ki);
        t.attriData = t.attri >= 0 ? t_tableFile::GetAttriDataTable(t.attri) : -1;
        t.attriRowSize = L.attriRowSize;
        t.editable = (lay.keys[k].keyType & kFlagMask) == 0;
        t.cap.resize(size_t(t.bucketCount));
        uint64_t rows = 0;
        for (int b = 0; b < t.bucketCount; ++b) {
            t.cap[size_t(b)] = uint32_t(t_tableFile::GetBucketCapacity(ki, b));
            rows += BucketRows(t, b);
        }
        // A builder-populated image leaves its used words at 0; its fill is
        // unknown, so appending to it would overwrite rows and items.
        if (rows != Rd32(t.record + 8))
            return FailEdit("key table used count differs from its buckets");
    }
    return true;
}

uint8_t* t_editableTableFile::GetExtraData(int32_t size) const {
    return (m_extraSize > 0 && size == m_extraSize) ? m_extra : nullptr;
}

int64_t t_editableTableFile::GetTotalSize() const {
    return t_tableFile::IsAttached() ? t_tableFile::GetImageSize() + m_extraSize + 4 : -1;
}

int32_t t_editableTableFile::GetBucketCapacity(int k, int b) const {
    if (k < 0 || size_t(k) >= m_keys.size() || b < 0 || b >= m_keys[size_t(k)].bucketCount)
        return -1;
    return int32_t(m_keys[size_t(k)].cap[size_t(b)]);
}

// ---------------------------------------------------------------- image words

uint8_t* t_editableTableFile::Header() const {
    return const_cast<uint8_t*>(t_tableFile::GetImage()) + 8 + t_tableFile::GetConfigSize();
}

uint8_t* t_editableTableFile::Record(size_t table) const {
    return Header() + kHeaderFixedSize + kTableRecordSize * table;
}

uint8_t* t_editableTableFile::AttriRows(int a) const {
    return const_cast<uint8_t*>(t_tableFile::GetAttriTableBase(a));
}
uint8_t* t_editableTableFile::DataBase(int d) const {
    return const_cast<uint8_t*>(t_tableFile::GetDataTableBase(d));
}

void t_editableTableFile::SetRecordWord(uint8_t* record, int word, uint32_t value) {
    uint8_t* p = record + 4 * word;
    const uint32_t delta = value - Rd32(p);
    Wr32(p, value);
    uint8_t* img = const_cast<uint8_t*>(t_tableFile::GetImage());
    Wr32(img, ~(delta + ~Rd32(img)));
}

uint32_t t_editableTableFile::BucketStart(const t_editKey& t, int b) const {
    return Rd32(t.buckets + size_t(b) * kBucketEntrySize);
}
uint32_t t_editableTableFile::BucketRows(const t_editKey& t, int b) const {
    return Rd32(t.buckets + size_t(b) * kBucketEntrySize + 4);
}
void t_editableTableFile::SetBucket(t_editKey& t, int b, uint32_t start, uint32_t rows) {
    Wr32(t.buckets + size_t(b) * kBucketEntrySize, start);
    Wr32(t.buckets + size_t(b) * kBucketEntrySize + 4, rows);
}

t_editRow t_editableTableFile::MakeRow(uint8_t* ptr, int k, bool inKeyRow) const {
    t_editRow r;
    r.ptr = ptr;
    r.key = k;
    r.inKeyRow = inKeyRow;
    r.generation = m_generation;
    return r;
}

// ---------------------------------------------------------------- items and search

bool t_editableTableFile::ParseItem(const uint8_t* item, uint32_t len, int k,
                                    t_itemParts& parts) const {
    if (!item || k < 0 || size_t(k) >= m_keys.size()) return false;
    const t_tableLayout& lay = t_tableFile::GetLayout();
    const std::vector<int16_t>& types = lay.keys[size_t(k)].fieldTypes;
    uint64_t off = 0;
    parts.fields.resize(types.size());
    for (size_t f = 0; f < types.size(); ++f) {
        t_itemParts::t_part& part = parts.fields[f];
        part.p = item + off;
        part.var = IsVarLenType(types[f]);
        if (part.var) {
            if (off + 2 > len) return false;
            const int16_t l = RdI16(item + off);
            if (l < 0) return false;
            part.size = 2 + uint32_t(l);
        } else {
            part.size = FieldSize(types[f]);
        }
        off += part.size;
        if (off > len) return false;
    }
    if (off != len || parts.fields.empty()) return false;
    const t_itemParts::t_part& key = parts.fields[0];
    if (key.var) {
        if (key.size <= 2) return false;  // keys are never empty
        parts.key = key.p;
    } else {
        const t_keyLayout& L = lay.keyLayouts[size_t(k)];
        // Keys kept in the row as length-prefixed values must hold their length.
        if (L.policyId != 4 && L.policyId != 5 && uint32_t(Rd16(key.p)) + 2 > key.size)
            return false;
        std::memcpy(parts.keyCopy, key.p, key.size);
        parts.key = parts.keyCopy;
    }
    return true;
}

// 1 found, 0 not found (*row = insertion row), -1 a damaged row.
bool t_editableTableFile::SearchBucket(const t_editKey& t, int k, const uint8_t* key, int b,
                                       int32_t* row) const {
    const uint32_t start = BucketStart(t, b), rows = BucketRows(t, b);
    if (t_tableFile::GetLayout().keyLayouts[size_t(k)].policyId == 4) {
        *row = 0;  // the bucket is the key: one row at most
        return rows > 0;
    }
    const t_lstr* sk = reinterpret_cast<const t_lstr*>(key);
    int64_t lo = 0, hi = int64_t(rows) - 1;
    while (lo <= hi) {
        const int64_t mid = (lo + hi) >> 1;
        const t_lstr* stored =
            t_tableFile::GetRowKey(k, t.rows + start + uint64_t(mid) * t.rowSize);
        if (!stored) {
            *row = -1;
            return false;
        }
        const int c = t.cmp->Compare(sk, stored);
        if (c == 0) {
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

bool t_editableTableFile::LocateParts(int k, const uint8_t* key, const uint8_t* value,
                                      t_editLocation* loc) const {
    *loc = t_editLocation();
    const t_editKey& t = m_keys[size_t(k)];
    const int32_t b = t.hash->CheckedIndex(reinterpret_cast<const t_lstr*>(key));
    if (b < 0) return false;
    loc->bucket = b;
    loc->bucketStart = int32_t(BucketStart(t, b));
    int32_t row = 0;
    loc->keyFound = SearchBucket(t, k, key, b, &row);
    if (row < 0) return false;
    loc->row = row;
    if (!loc->keyFound) return true;
    uint8_t* keyRow = t.rows + loc->bucketStart + uint64_t(row) * t.rowSize;
    loc->keyRow = MakeRow(keyRow, k, true);
    if (t.attri < 0) return true;

    const t_tableLayout& lay = t_tableFile::GetLayout();
    const t_keyLayout& L = lay.keyLayouts[size_t(k)];
    const uint32_t ars = t.attriRowSize;
    const uint64_t usedBytes = uint64_t(Rd32(AttriRecord(t.attri) + 8)) * ars;
    uint8_t* rows = AttriRows(t.attri);
    const int firstType =
        L.attriFieldOffsets.empty() ? -1 : lay.keys[size_t(k)].fieldTypes[L.keyRowFields];
    uint32_t link = Rd32(keyRow + L.linkOffset);
    for (uint64_t steps = 0; link != kNone; ++steps) {
        if (link % ars != 0 || uint64_t(link) + ars > usedBytes || steps * ars >= usedBytes)
            return false;
        uint8_t* ar = rows + link;
        loc->lastAttriRow = MakeRow(ar, k, false);
        loc->lastAttriOffset = link;
        if (!loc->itemFound) {
            bool equal = true;
            if (firstType >= 0 && value) {
                const uint8_t* field = ar + L.attriFieldOffsets[0];
                if (IsVarLenType(firstType)) {
                    static const uint8_t kEmpty[2] = {0, 0};
                    const uint32_t off = Rd32(field);
                    const t_lstr* stored = off == kNone ? reinterpret_cast<const t_lstr*>(kEmpty)
                                                        : t_tableFile::GetDataPtr(t.attriData, off);
                    if (!stored) return false;
                    equal = LstrCompare(reinterpret_cast<const t_lstr*>(value), stored) == 0;
                } else {
                    equal = std::memcmp(field, value, FieldSize(firstType)) == 0;
                }
            }
            if (equal) {
                loc->itemFound = true;
                loc->attriRow = loc->lastAttriRow;
            }
        }
        link = Rd32(ar + L.attriLinkOffset);
    }
    return true;
}

bool t_editableTableFile::Locate(const uint8_t* item, uint32_t len, int k,
                                 t_editLocation* loc) const {
    if (!loc) return false;
    *loc = t_editLocation();
    t_itemParts parts;
    if (!t_tableFile::IsAttached() || !ParseItem(item, len, k, parts)) return false;
    const t_keyLayout& L = t_tableFile::GetLayout().keyLayouts[size_t(k)];
    const uint8_t* value = (m_keys[size_t(k)].attri >= 0 && L.keyRowFields < parts.fields.size())
                               ? parts.fields[L.keyRowFields].p
                               : nullptr;
    return LocateParts(k, parts.key, value, loc);
}

bool t_editableTableFile::FindKeyValue(const uint8_t* key, const uint8_t* value,
                                       t_editLocation* loc) const {
    if (!loc) return false;
    *loc = t_editLocation();
    if (!t_tableFile::IsAttached() || m_keys.empty() || !key) return false;
    const std::vector<int16_t>& types = t_tableFile::GetLayout().keys[0].fieldTypes;
    uint8_t copy[8] = {};
    if (!IsVarLenType(types[0])) {
        const uint32_t size = FieldSize(types[0]);
        const int id = t_tableFile::GetLayout().keyLayouts[0].policyId;
        // A length-prefixed key kept in the row must hold its length.
        if (id != 4 && id != 5 && uint32_t(Rd16(key)) + 2 > size) return false;
        std::memcpy(copy, key, size);
        key = copy;
    }
    return LocateParts(0, key, value, loc);
}

bool t_editableTableFile::CollectItems(
    int k, std::vector<std::pair<const uint8_t*, const uint8_t*>>& pairs) const {
    if (!t_tableFile::IsAttached() || k < 0 || size_t(k) >= m_keys.size()) return false;
    if (m_keys[size_t(k)].attri >= 0) return t_tableFile::EnumerateItems(k, pairs);
    std::vector<const uint8_t*> rows;
    t_tableFile::CollectKeyRows(k, rows);
    for (const uint8_t* r : rows) pairs.emplace_back(r, nullptr);
    return true;
}

// ---------------------------------------------------------------- adding

// The nearest bucket, lower one first, that keeps room of its own after
// lending half its spare rows. Failing that, the nearest bucket with any
// spare row lends: an add must not fail while the table still has room just
// because the free rows are spread thinly over the buckets.
bool t_editableTableFile::FindLender(int k, int b, int* lender, uint32_t* give) const {
    const t_editKey& t = m_keys[size_t(k)];
    for (uint64_t keepRoom : {2u, 0u}) {
        for (int d = 1;; ++d) {
            const int lo = b - d, hi = b + d;
            if (lo < 0 && hi >= t.bucketCount) break;
            for (int c : {lo, hi}) {
                if (c < 0 || c >= t.bucketCount) continue;
                const uint64_t used = BucketRows(t, c), cap = t.cap[size_t(c)];
                if (used + keepRoom < cap) {
                    *lender = c;
                    *give = uint32_t(keepRoom ? (cap - used) / 2 : (cap - used + 1) / 2);
                    return true;
                }
            }
        }
    }
    return false;
}

void t_editableTableFile::Borrow(int k, int b, int lender, uint32_t give) {
    t_editKey& t = m_keys[size_t(k)];
    const uint64_t shift = uint64_t(give) * t.rowSize;
    if (lender < b) {
        // The lender's spare rows sit at its end: move everything from the
        // next bucket up to the end of bucket b down over them.
        const uint64_t from = BucketStart(t, lender + 1);
        const uint64_t to = BucketStart(t, b) + uint64_t(t.cap[size_t(b)]) * t.rowSize;
        std::memmove(t.rows + from - shift, t.rows + from, to - from);
        for (int i = lender + 1; i <= b; ++i)
            SetBucket(t, i, uint32_t(BucketStart(t, i) - shift), BucketRows(t, i));
    } else {
        const uint64_t from = BucketStart(t, b + 1);
        const uint64_t to = BucketStart(t, lender) + uint64_t(BucketRows(t, lender)) * t.rowSize;
        std::memmove(t.rows + from + shift, t.rows + from, to - from);
        for (int i = b + 1; i <= lender; ++i)
            SetBucket(t, i, uint32_t(BucketStart(t, i) + shift), BucketRows(t, i));
    }
    t.cap[size_t(lender)] -= give;
    t.cap[size_t(b)] += give;
    if (Fixed()) FxSet8(m_fx.header + kFxMoved, 1);
}

bool t_editableTableFile::CheckDataRoom(const t_itemParts& parts, int k, bool newKey) const {
    const t_editKey& t = m_keys[size_t(k)];
    const t_keyLayout& L = t_tableFile::GetLayout().keyLayouts[size_t(k)];
    std::vector<uint64_t> need(m_dataCount, 0);
    for (size_t f = 0; f < parts.fields.size(); ++f) {
        const t_itemParts::t_part& part = parts.fields[f];
        if (!part.var) continue;
        const bool inKeyRow = f < L.keyRowFields;
        if (inKeyRow && !newKey) continue;
        if (f == 0 && L.policyId == 4) continue;
        if (f > 0 && part.size == 2) continue;  // an empty value takes no item
        const int d = f == 0 ? t.keyData : (inKeyRow ? t.valueData : t.attriData);
        if (d < 0 || size_t(d) >= m_dataCount) return false;
        need[size_t(d)] += part.size;
    }
    for (size_t d = 0; d < m_dataCount; ++d)
        if (need[d] &&
            uint64_t(Rd32(DataRecord(int(d)) + 8)) + need[d] > Rd32(DataRecord(int(d)) + 4))
            return false;
    return true;
}

uint32_t t_editableTableFile::AppendData(int d, const uint8_t* item, uint32_t bytes) {
    uint8_t* rec = DataRecord(d);
    const uint32_t used = Rd32(rec + 8);
    std::memcpy(DataBase(d) + used, item, bytes);
    SetRecordWord(rec, 2, used + bytes);
    if (Fixed()) FxAddToRecord(m_fx.datas + size_t(d) * kFxRecordSize, bytes);
    return used;
}

// Writes item fields [first, end) into a row at the given in-row offsets;
// strings go to data table d (field 0 of a key row to the key data table).
void t_editableTableFile::WriteFields(uint8_t* row, const t_itemParts& parts, uint32_t first,
                                      uint32_t end, const std::vector<uint32_t>& offsets,
                                      const std::vector<int16_t>& types, uint32_t typeBase, int d) {
    for (uint32_t f = first; f < end; ++f) {
        const t_itemParts::t_part& part = parts.fields[f];
        uint8_t* field = row + offsets[f - typeBase];
        if (!part.var) {
            std::memcpy(field, part.p, FieldSize(types[f]));
        } else if (part.size == 2) {
            Wr32(field, kNone);
        } else {
            Wr32(field, AppendData(d, part.p, part.size));
        }
    }
}

int t_editableTableFile::AddItem(const uint8_t* item, uint32_t len, int k, int32_t* maxKeyRows,
                                 int32_t* maxAttriRows, t_editLocation* where) {
    const int first = AddItemOnce(item, len, k, maxKeyRows, maxAttriRows, where, true);
    if (first != kNoRoom) return first;
    // No row or byte left for the item: the table is relieved first, then
    // the item goes in (the relief's result is the add's).
    if (!IsNearlyFull(k)) return 0;
    const int relieved = HandleFull(k, maxKeyRows, maxAttriRows);
    if (relieved != 2 && relieved != 3) return 0;
    const int second = AddItemOnce(item, len, k, maxKeyRows, maxAttriRows, where, false);
    return second == 4 ? relieved : second == kNoRoom ? 0 : second;
}

int t_editableTableFile::AddItemOnce(const uint8_t* item, uint32_t len, int k, int32_t* maxKeyRows,
                                     int32_t* maxAttriRows, t_editLocation* where, bool remedy) {
    if (where) *where = t_editLocation();
    t_itemParts parts;
    if (m_inNotice || !t_tableFile::IsAttached() || !ParseItem(item, len, k, parts)) return 0;
    t_editKey& t = m_keys[size_t(k)];
    if (!t.editable) return 0;
    const t_tableLayout& lay = t_tableFile::GetLayout();
    const t_keyLayout& L = lay.keyLayouts[size_t(k)];
    const std::vector<int16_t>& types = lay.keys[size_t(k)].fieldTypes;
    const uint8_t* value = t.attri >= 0 && L.keyRowFields < parts.fields.size()
                               ? parts.fields[L.keyRowFields].p
                               : nullptr;
    t_editLocation loc;
    if (!LocateParts(k, parts.key, value, &loc)) return 0;
    if (loc.itemFound || (loc.keyFound && t.attri < 0)) {
        if (where) *where = loc;
        return 1;
    }

    // Everything is checked before anything is moved, so a refused add
    // leaves the image exactly as it was.
    if (!CheckDataRoom(parts, k, !loc.keyFound)) return kNoRoom;
    uint8_t* attriRec = t.attri >= 0 ? AttriRecord(t.attri) : nullptr;
    if (attriRec && Rd32(attriRec + 8) >= Rd32(attriRec + 4)) return kNoRoom;
    int lender = -1;
    uint32_t give = 0;
    if (!loc.keyFound) {
        if (Rd32(t.record + 8) >= Rd32(t.record + 4)) return kNoRoom;
        if (BucketRows(t, loc.bucket) >= t.cap[size_t(loc.bucket)] &&
            !FindLender(k, loc.bucket, &lender, &give))
            return kNoRoom;
    } else if (Fixed() && !FxSlotFree()) {
        return 0;  // the link change of the chain's last row needs a change slot
    }

    t_lastAdd add;
    add.k = k;
    add.newKey = !loc.keyFound;
    add.bucket = loc.bucket;
    add.row = loc.row;
    {
        const int tables[3] = {t.keyData, t.valueData, t.attriData};
        for (int i = 0; i < 3; ++i) {
            add.data[i] = tables[i];
            if (tables[i] >= 0) add.dataBefore[i] = Rd32(DataRecord(tables[i]) + 8);
        }
    }

    auto appendAttriRow = [&]() -> uint32_t {
        const uint32_t used = Rd32(attriRec + 8);
        const uint32_t offset = used * t.attriRowSize;
        uint8_t* ar = AttriRows(t.attri) + offset;
        std::memset(ar, 0, t.attriRowSize);
        WriteFields(ar, parts, L.keyRowFields, uint32_t(types.size()), L.attriFieldOffsets, types,
                    L.keyRowFields, t.attriData);
        Wr32(ar + L.attriLinkOffset, kNone);
        SetRecordWord(attriRec, 2, used + 1);
        if (Fixed()) FxAddToRecord(m_fx.changes + size_t(t.attri) * kFxRecordSize, t.attriRowSize);
        return offset;
    };

    if (loc.keyFound) {
        // A new value of a stored key goes to the end of its chain.
        uint8_t* last = loc.lastAttriRow.ptr;
        if (!last) {
            // A key row without attri rows: the value starts its chain.
            const uint32_t offset = appendAttriRow();
            Wr32(loc.keyRow.ptr + L.linkOffset, offset);
            if (Fixed()) FxSet8(m_fx.header + kFxMoved, 1);
        } else {
            if (Fixed()) FxLogChange(t.attri, uint32_t(loc.lastAttriOffset), t.attriRowSize);
            const uint32_t offset = appendAttriRow();
            Wr32(last + L.attriLinkOffset, offset);
            add.link = last + L.attriLinkOffset;
            add.attriOffset = offset;
        }
    } else {
        const int b = loc.bucket;
        if (lender >= 0) Borrow(k, b, lender, give);
        const uint32_t start = BucketStart(t, b), rows = BucketRows(t, b);
        uint8_t* at = t.rows + start + uint64_t(loc.row) * t.rowSize;
        std::memmove(at + t.rowSize, at, uint64_t(rows - uint32_t(loc.row)) * t.rowSize);
        std::memset(at, 0, t.rowSize);
        SetBucket(t, b, start, rows + 1);
        SetRecordWord(t.record, 2, Rd32(t.record + 8) + 1);
        if (Fixed()) FxMarkDirty(k, b);
        if (L.policyId != 4) {
            if (parts.fields[0].var)
                Wr32(at, AppendData(t.keyData, parts.fields[0].p, parts.fields[0].size));
            else
                std::memcpy(at, parts.fields[0].p, L.keyFieldSize);
        }
        WriteFields(at, parts, 1, L.keyRowFields, L.fieldOffsets, types, 0, t.valueData);
        if (t.attri >= 0) {
            add.attriOffset = appendAttriRow();
            Wr32(at + L.linkOffset, add.attriOffset);
        }
    }
    ++m_generation;
    // Only an attri row that ends a chain of other rows, or a key's only
    // row, can be taken back without a rebuild.
    if (t.attri >= 0 && (add.newKey || add.link)) {
        add.generation = m_generation;
        for (int i = 0; i < 3; ++i)
            if (add.data[i] >= 0) add.dataAfter[i] = Rd32(DataRecord(add.data[i]) + 8);
        m_lastAdd = add;
    } else {
        m_lastAdd = t_lastAdd();
    }

    int result = 4;
    if (remedy && IsNearlyFull(k)) result = HandleFull(k, maxKeyRows, maxAttriRows);
    if (where && t_tableFile::IsAttached()) LocateParts(k, parts.key, value, where);
    return result;
}

// ---------------------------------------------------------------- field writes

bool t_editableTableFile::SetFieldAt(const void* value, uint32_t len, const t_editRow& row,
                                     uint32_t fieldOffset, bool isVarLen) {
    if (m_inNotice || !t_tableFile::IsAttached() || !value || !row.ptr ||
        row.generation != m_generation)
        return false;
    if (row.key < 0 || size_t(row.key) >= m_keys.size()) return false;
    t_editKey& t = m_keys[size_t(row.key)];
    const t_keyLayout& L = t_tableFile::GetLayout().keyLayouts[size_t(row.key)];
    uint8_t* base;
    uint64_t tableBytes;
    uint32_t rowSize, reserved;  // bytes at the row's end (or start) that are not fields
    if (row.inKeyRow) {
        base = t.rows;
        rowSize = t.rowSize;
        tableBytes = uint64_t(Rd32(t.record + 4)) * rowSize;
        // Neither the key nor the words that tie the row to its attri rows.
        if (fieldOffset <
            L.keyFieldSize + ((t_tableFile::GetKeyType(row.key) & kFlagPrefixSkip) ? 4u : 0u))
            return false;
        reserved =
            t.attri >= 0 ? L.countOffset ? rowSize - L.countOffset : rowSize - L.linkOffset : 0;
    } else {
        if (t.attri < 0) return false;
        base = AttriRows(t.attri);
        rowSize = t.attriRowSize;
        tableBytes = uint64_t(Rd32(AttriRecord(t.attri) + 8)) * rowSize;
        reserved =
            (t_tableFile::GetKeyType(row.key) & (kFlagSortedAttri | kFlagPackedAttri)) ? 0 : 4;
    }
    if (row.ptr < base || uint64_t(row.ptr - base) % rowSize != 0 ||
        uint64_t(row.ptr - base) + rowSize > tableBytes)
        return false;
    const uint32_t width = isVarLen ? 4 : len;
    if (uint64_t(fieldOffset) + width > rowSize - reserved) return false;
    const uint32_t rowOffset = uint32_t(row.ptr - base);
    uint8_t* field = row.ptr + fieldOffset;
    NoteFieldWrite(row.key, row.inKeyRow, rowOffset, isVarLen);

    // In fixed-capacity mode every change must be logged before it is made.
    auto logged = [&]() -> bool {
        if (!Fixed()) return true;
        if (row.inKeyRow) {
            FxSet8(m_fx.header + kFxMoved, 1);
            return true;
        }
        return FxLogChange(t.attri, rowOffset, rowSize);
    };
    if (!isVarLen) {
        if (!logged()) return false;
        std::memcpy(field, value, len);
        return true;
    }
    const int d = row.inKeyRow ? t.valueData : t.attriData;
    if (d < 0 || len < 2) return false;
    const int16_t l = RdI16(static_cast<const uint8_t*>(value));
    if (l < 0 || uint32_t(l) + 2 != len) return false;
    if (l == 0) {
        if (!logged()) return false;
        Wr32(field, kNone);
        return true;
    }
    const uint32_t oldOffset = Rd32(field);
    if (!Fixed() && oldOffset != kNone) {
        const t_lstr* old = t_tableFile::GetDataPtr(d, oldOffset);
        if (old && len <= uint32_t(LstrGetByteLength(old)) + 2) {
            std::memcpy(DataBase(d) + oldOffset, value, len);
            return true;
        }
    }
    // Appended (never moved: other rows may point into the table). In
    // fixed-capacity mode always appended, so the data log covers it.
    uint8_t* rec = DataRecord(d);
    if (uint64_t(Rd32(rec + 8)) + len > Rd32(rec + 4)) return false;
    if (Fixed() && !row.inKeyRow && !FxSlotFree()) return false;
    if (!logged()) return false;
    Wr32(field, AppendData(d, static_cast<const uint8_t*>(value), len));
    return true;
}

// ---------------------------------------------------------------- fullness

bool t_editableTableFile::IsNearlyFull(int k) const {
    if (!t_tableFile::IsAttached() || k < 0 || size_t(k) >= m_keys.size()) return false;
    const t_editKey& t = m_keys[size_t(k)];
    // used >= allocated x 9 / 10 in integer division: with 5 rows, 4 used is full.
    auto rowsFull = [](const uint8_t* rec) {
        return uint64_t(Rd32(rec + 8)) >= uint64_t(Rd32(rec + 4)) * 9 / 10;
    };
    auto dataFull = [&](int d) {
        if (d < 0) return false;
        const uint8_t* rec = DataRecord(d);
        return uint64_t(Rd32(rec + 8)) + kDataHeadroom >= uint64_t(Rd32(rec + 4)) * 9 / 10;
    };
    if (rowsFull(t.record)) return true;
    if (t.attri >= 0 && (rowsFull(AttriRecord(t.attri)) || dataFull(t.attriData))) return true;
    return dataFull(t.keyData) || dataFull(t.valueData);
}

bool t_editableTableFile::IsFull() const {
    return Fixed() && int64_t(Rd32(m_fx.header + kFxUsed)) >= int64_t(m_fx.capacity) - 2;
}

// ---------------------------------------------------------------- saving

bool t_editableTableFile::SaveToFile(const wchar_t* path) const {
    if (!t_tableFile::IsAttached()) return false;
    const uint8_t* img = t_tableFile::GetImage();
    const uint64_t headerBytes =
        uint64_t(t_tableFile::GetConfigSize()) + t_tableFile::GetHeadSize();
    const uint64_t plain = uint64_t(t_tableFile::GetImageSize());
    const uint32_t extraSize = uint32_t(m_extraSize);
    t_tableImageWriter w;
    return w.Open(path) && w.Put(img, 4, "write checknum failed !\r") &&
           w.Put(img + 4, 4, "write configsize failed !\r") &&
           w.Put(img + 8, headerBytes, "write header failed !\r") &&
           w.Put(img + 8 + headerBytes, plain - 8 - headerBytes, "write item failed !\r") &&
           w.Put(&extraSize, 4, "write extrasize failed !\r") &&
           w.Put(m_extra, extraSize, "write extra failed !\r") && w.Commit();
}

// ---------------------------------------------------------------- fixed-capacity log

void t_editableTableFile::FxSet32(uint8_t* p, uint32_t v) const {
    const uint32_t delta = v - Rd32(p);
    Wr32(p, v);
    Wr32(m_fx.header + kFxSum, Rd32(m_fx.header + kFxSum) + delta);
}

void t_editableTableFile::FxSet8(uint8_t* p, uint8_t v) const {
    const uint32_t delta = uint32_t(v) - *p;
    *p = v;
    Wr32(m_fx.header + kFxSum, Rd32(m_fx.header + kFxSum) + delta);
}

void t_editableTableFile::FxAddToRecord(uint8_t* record, uint32_t grow) const {
    FxSet32(record + 6, Rd32(record + 6) + grow);
}

bool t_editableTableFile::FxSlotFree() const {
    return int64_t(Rd32(m_fx.header + kFxUsed)) < int64_t(m_fx.capacity);
}

bool t_editableTableFile::FxLogChange(int a, uint32_t offset, uint32_t size) const {
    const uint32_t used = Rd32(m_fx.header + kFxUsed);
    if (used > 0) {
        const uint8_t* last = m_fx.changes + (m_attriCount + used - 1) * kFxRecordSize;
        if (RdI16(last) == a && Rd32(last + 2) == offset) return true;
    }
    if (!FxSlotFree()) return false;
    uint8_t* rec = m_fx.changes + (m_attriCount + used) * kFxRecordSize;
    WriteRecord(rec, a, offset, size);
    Wr32(m_fx.header + kFxSum, Rd32(m_fx.header + kFxSum) + RecordSum(rec));
    FxSet32(m_fx.header + kFxUsed, used + 1);
    return true;
}

void t_editableTableFile::FxMarkDirty(int k, int b) const {
    size_t index = size_t(b);
    for (int i = 0; i < k; ++i) index += size_t(m_keys[size_t(i)].bucketCount);
    FxSet8(m_fx.dirty + index, 1);
}

void t_editableTableFile::FxSetGrown() const {
    if (Fixed()) FxSet8(m_fx.header + kFxGrown, 1);
}

uint32_t t_editableTableFile::FxComputeSum() const {
    const uint32_t used = Rd32(m_fx.header + kFxUsed);
    uint32_t sum =
        Rd32(m_fx.header + kFxCapacity) + used + m_fx.header[kFxGrown] + m_fx.header[kFxMoved];
    for (uint8_t* p = m_fx.dirty; p < m_fx.changes; ++p) sum += *p;
    const uint64_t logged = m_attriCount + std::min<uint64_t>(used, uint64_t(m_fx.capacity));
    for (uint64_t i = 0; i < logged; ++i) sum += RecordSum(m_fx.changes + i * kFxRecordSize);
    for (size_t d = 0; d < m_dataCount; ++d) sum += RecordSum(m_fx.datas + d * kFxRecordSize);
    return sum;
}

int64_t t_editableTableFile::GetFixedStateSize(int32_t capacity) const {
    if (!t_tableFile::IsAttached() || capacity < 0) return -1;
    int64_t size = kFxHeaderSize + int64_t(kFxRecordSize) * capacity + kFxRecordSize * kFxMaxTables;
    for (const t_editKey& t : m_keys) size += t.bucketCount;
    return size;
}

bool t_editableTableFile::SetFixedCapacityMode(int32_t capacity, uint8_t* region,
                                               uint64_t regionSize) {
    if (!t_tableFile::IsAttached() || capacity < 0) return false;
    if (m_attriCount + m_dataCount > kFxMaxTables) return false;
    if (!region) {
        if (!m_fx.header) return false;
        region = m_fx.header;
        regionSize = m_fx.size;
    }
    const int64_t need = GetFixedStateSize(capacity);
    if (need < 0 || uint64_t(need) > regionSize) return false;
    std::memset(region, 0, size_t(need));
    m_fx.header = region;
    m_fx.size = regionSize;
    m_fx.capacity = capacity;
    m_fx.dirty = region + kFxHeaderSize;
    size_t buckets = 0;
    for (const t_editKey& t : m_keys) buckets += size_t(t.bucketCount);
    m_fx.changes = m_fx.dirty + buckets;
    m_fx.datas = m_fx.changes + (m_attriCount + size_t(capacity)) * kFxRecordSize;
    Wr32(region + kFxCapacity, uint32_t(capacity));
    for (size_t a = 0; a < m_attriCount; ++a)
        WriteRecord(m_fx.changes + a * kFxRecordSize, int(a),
                    Rd32(AttriRecord(int(a)) + 8) * uint32_t(t_tableFile::GetAttriRowSize(int(a))),
                    0);
    for (size_t d = 0; d < m_dataCount; ++d)
        WriteRecord(m_fx.datas + d * kFxRecordSize, int(d), Rd32(DataRecord(int(d)) + 8), 0);
    m_mode |= kModeFixedCapacity;
    Wr32(region + kFxSum, FxComputeSum());
    return true;
}

bool t_editableTableFile::GetFixedCapacityState(t_fixedState* out) const {
    if (!out || !Fixed()) return false;
    out->header = m_fx.header;
    out->changes = m_fx.changes;
    out->changeSlots = int32_t(m_attriCount) + m_fx.capacity;
    out->dataRecords = m_fx.datas;
    out->dataCount = int32_t(m_dataCount);
    out->dirty = m_fx.dirty;
    out->mode = m_mode;
    return true;
}

bool t_editableTableFile::CanSaveInPlace(int* out) const {
    if (out) *out = (Fixed() && m_fx.header[kFxGrown] == 0) ? 1 : 0;
    return true;
}

int t_editableTableFile::SaveDirtyInPlace(const wchar_t* path) const {
    if (!t_tableFile::IsAttached() || !Fixed() || m_fx.header[kFxGrown] != 0) return 0;
    if (FxComputeSum() != Rd32(m_fx.header + kFxSum)) return 0;  // the log was disturbed
    // The old file is patched in memory and then replaced whole, so a crash
    // part-way never leaves a half-updated dictionary behind.
    std::vector<uint8_t> file;
    {
        t_fdFile in;
        if (!path || !in.Open(path, kOpenRead)) return 0;
        const int64_t size = in.GetSize();
        if (size != int64_t(m_total)) return 0;
        file.resize(size_t(size));
        if (!in.ReadExact(file.data(), file.size())) return 0;
    }
    const uint8_t* img = t_tableFile::GetImage();
    const uint64_t itemsAt =
        8 + uint64_t(t_tableFile::GetConfigSize()) + t_tableFile::GetHeadSize();
    const uint64_t itemsEnd = itemsAt + uint64_t(t_tableFile::GetItemsSize());
    // Copies n bytes at image offset `at`; everything stays inside the items
    // area (the header and trailer are written apart).
    auto put = [&](uint64_t at, uint64_t n) -> bool {
        if (at < itemsAt || at > itemsEnd || n > itemsEnd - at) return false;
        std::memcpy(file.data() + at, img + at, n);
        return true;
    };
    std::memcpy(file.data(), img, 4);
    std::memcpy(file.data() + 8 + t_tableFile::GetConfigSize(), Header(),
                t_tableFile::GetHeadSize());
    size_t dirtyIndex = 0;
    const bool moved = m_fx.header[kFxMoved] != 0;
    for (const t_editKey& t : m_keys) {
        const uint64_t rowsAt = uint64_t(t.rows - img);
        if (!put(rowsAt - uint64_t(t.bucketCount) * kBucketEntrySize,
                 uint64_t(t.bucketCount) * kBucketEntrySize))
            return 0;
        if (moved) {
            if (!put(rowsAt, uint64_t(Rd32(t.record + 4)) * t.rowSize)) return 0;
        } else {
            for (int b = 0; b < t.bucketCount; ++b)
                if (m_fx.dirty[dirtyIndex + size_t(b)] &&
                    !put(rowsAt + BucketStart(t, b), uint64_t(BucketRows(t, b)) * t.rowSize))
                    return 0;
        }
        dirtyIndex += size_t(t.bucketCount);
    }
    const uint64_t logged =
        m_attriCount + std::min<uint64_t>(Rd32(m_fx.header + kFxUsed), uint64_t(m_fx.capacity));
    for (uint64_t i = 0; i < logged; ++i) {
        const uint8_t* rec = m_fx.changes + i * kFxRecordSize;
        const int a = RdI16(rec);
        if (a < 0 || size_t(a) >= m_attriCount) return 0;
        if (!put(uint64_t(AttriRows(a) - img) + Rd32(rec + 2), Rd32(rec + 6))) return 0;
    }
    for (size_t d = 0; d < m_dataCount; ++d) {
        const uint8_t* rec = m_fx.datas + d * kFxRecordSize;
        if (!put(uint64_t(DataBase(int(d)) - img) + Rd32(rec + 2), Rd32(rec + 6))) return 0;
    }
    std::memcpy(file.data() + itemsEnd, img + itemsEnd,
                size_t(m_total - itemsEnd));  // extra size and block
    t_tableImageWriter w;
    return (w.Open(path) && w.Put(file.data(), file.size(), "write item failed !\r") && w.Commit())
               ? 1
               : 0;
}
