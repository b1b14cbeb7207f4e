// Relief of a nearly full editable table file: doubling its tables into a
// new image handed to the owner, or trimming its least valuable rows in place.
#include "kernel/storage/editable_table.h"

#include <algorithm>
#include <cstring>

#include "kernel/runtime/lstr.h"
#include "kernel/runtime/scope_heap.h"

using namespace n_tableFormat;

bool t_grownImage::CopyTo(uint8_t* dest, uint64_t destSize) const {
    if (!dest || destSize < totalSize) return false;
    uint8_t* p = dest;
    Wr32(p, checkNum);
    Wr32(p + 4, configSize);
    p += 8;
    std::memcpy(p, config, configSize);
    p += configSize;
    std::memcpy(p, header, headSize);
    p += headSize;
    std::memcpy(p, items, itemsSize);
    p += itemsSize;
    Wr32(p, extraSize);
    if (extraSize) std::memcpy(p + 4, extra, extraSize);
    return true;
}

// Re-attaches the file's own new image. The change log stays, with its
// grown flag set, so the owner still learns that only a whole save will do.
bool t_editableTableFile::ReattachOwned(uint8_t* buffer, uint64_t size) {
    const std::vector<t_keyHashFn> hashFns = t_tableFile::GetHashFns();
    const std::vector<t_keyCompareFn> compareFns = t_tableFile::GetCompareFns();
    const t_fixedRegion fx = m_fx;
    const uint32_t fixedFlag = m_mode & kModeFixedCapacity;
    if (!AttachWithExtra(buffer, m_version, hashFns, compareFns, int64_t(size))) return false;
    m_fx = fx;
    m_mode |= fixedFlag;
    return true;
}

int t_editableTableFile::HandleFull(int k, int32_t* maxKeyRows, int32_t* maxAttriRows) {
    if (m_inNotice || !t_tableFile::IsAttached() || k < 0 || size_t(k) >= m_keys.size()) return 0;
    const t_editKey& t = m_keys[size_t(k)];
    const uint64_t keyRows = Rd32(t.record + 4);
    const uint64_t attriRows = t.attri >= 0 ? Rd32(AttriRecord(t.attri) + 4) : 0;
    bool doubling;
    switch (m_mode & ~(kModeFixedCapacity | kModeCompact)) {
        case kModeTrim:
            doubling = false;
            break;
        case kModeDouble:
            doubling = true;
            break;
        case kModeDoubleInLimits:
            if (!maxKeyRows || (t.attri >= 0 && !maxAttriRows)) return 0;
            doubling = 2 * keyRows <= uint64_t(int64_t(*maxKeyRows)) &&
                       (t.attri < 0 || 2 * attriRows <= uint64_t(int64_t(*maxAttriRows)));
            if (*maxKeyRows < 0 || (t.attri >= 0 && *maxAttriRows < 0)) doubling = false;
            break;
        case kModeTrimWithLimits:
            doubling = maxKeyRows == nullptr;
            break;
        default:
            return 0;
    }
    if (!doubling && m_trimsHeld) return 4;
    FxSetGrown();  // the image no longer matches the file the log was started on
    if (doubling) return Double(k) ? 2 : 0;
    return Trim(k, maxKeyRows, maxAttriRows) ? 3 : 0;
}

int t_editableTableFile::Trim(int k, int32_t* keyUsed, int32_t* attriUsed) {
    if (m_inNotice || !t_tableFile::IsAttached() || k < 0 || size_t(k) >= m_keys.size()) return 0;
    if ((m_mode & ~(kModeFixedCapacity | kModeCompact)) == kModeDouble) return 0;
    FxSetGrown();
    if (m_keys[size_t(k)].attri < 0) return TrimKeyOnly(k, keyUsed) ? 1 : 0;
    return TrimWithAttri(k, keyUsed, attriUsed, 0);
}

// Rows already removed count toward the two fifths, so a store whose rows are
// mostly removed is relieved by the rebuild alone and keeps its live rows.
int32_t t_editableTableFile::TrimTarget(size_t n, size_t alreadyRemoved, int32_t keep) const {
    int64_t target = int64_t(n) * 2 / 5;
    if (keep > 0 && uint64_t(keep) <= n) target = int64_t(n) - keep;
    target -= int64_t(alreadyRemoved);
    return target < 0 ? 0 : int32_t(target);
}

bool t_editableTableFile::DataExclusive(int d, int k) const {
    if (d < 0) return false;
    for (size_t i = 0; i < m_keys.size(); ++i) {
        if (int(i) == k) continue;
        const t_editKey& o = m_keys[i];
        if (o.keyData == d || o.valueData == d || o.attriData == d) return false;
    }
    const t_tableLayout& lay = t_tableFile::GetLayout();
    for (size_t a = 0; a < lay.attris.size(); ++a)
        if (int(a) != m_keys[size_t(k)].attri && lay.attris[a].dataTable == uint32_t(d))
            return false;
    return true;
}

namespace {

// Copies of the data tables a trim compacts: live items are appended anew,
// so dead space (replaced values, removed rows) is dropped.
struct t_dataCopies {
    struct t_copy {
        uint8_t* base = nullptr;
        uint32_t used = 0;
        uint32_t allocated = 0;
    };
    std::vector<t_copy> copies;  // base null: table not compacted
};

int StateOf(const t_editTrimCallbacks& cb, const uint8_t* row) {
    const int s = cb.isRemoved(row, cb.removedContext);
    return s == kRowLive || s == kRowProtected ? s : kRowRemoved;
}

// Shares the rows a table has room for among its buckets: each gets its kept
// rows and an even part of the spare ones, bucket 0 the remainder as well.
// caps receives each bucket's rows and starts its byte offset (both sized
// to the bucket count, as kept is).
void SpreadBuckets(const std::vector<uint32_t>& kept, uint64_t keptTotal, uint64_t allocated,
                   uint32_t rowSize, std::vector<uint32_t>& caps, std::vector<uint32_t>& starts) {
    const int bucketCount = int(kept.size());
    const uint64_t spare = allocated - keptTotal;
    const uint64_t per = spare / uint64_t(bucketCount);
    uint64_t at = 0;
    for (int b = 0; b < bucketCount; ++b) {
        caps[size_t(b)] =
            uint32_t(kept[size_t(b)] + (b == 0 ? spare - per * uint64_t(bucketCount - 1) : per));
        starts[size_t(b)] = uint32_t(at * rowSize);
        at += caps[size_t(b)];
    }
}

}  // namespace

namespace {
// Moves the string item a field points to into its table's copy.
bool RelocateItem(const t_tableFile& reader, t_dataCopies& dc, uint8_t* field, int d) {
    if (d < 0 || size_t(d) >= dc.copies.size() || !dc.copies[size_t(d)].base) return true;
    const uint32_t off = Rd32(field);
    if (off == kNone) return true;
    const t_lstr* item = reader.GetDataPtr(d, off);
    if (!item) return false;
    t_dataCopies::t_copy& c = dc.copies[size_t(d)];
    const uint32_t bytes = uint32_t(LstrGetByteLength(item)) + 2;
    if (uint64_t(c.used) + bytes > c.allocated) return false;
    std::memcpy(c.base + c.used, item, bytes);
    Wr32(field, c.used);
    c.used += bytes;
    return true;
}
}  // namespace

// Moves every string of a copied row into the data copies.
static bool RelocateRow(const t_tableFile& reader, t_dataCopies& dc, uint8_t* row,
                        const std::vector<int16_t>& types, uint32_t first, uint32_t end,
                        const std::vector<uint32_t>& offsets, uint32_t offsetBase, int d) {
    for (uint32_t f = first; f < end; ++f)
        if (IsVarLenType(types[f]) && !RelocateItem(reader, dc, row + offsets[f - offsetBase], d))
            return false;
    return true;
}

bool t_editableTableFile::TrimKeyOnly(int k, int32_t* keyUsed) {
    if (size_t(k) >= m_trim.size()) return false;
    const t_editTrimCallbacks cb = m_trim[size_t(k)];
    if (!cb.less || !cb.remove || !cb.isRemoved) return false;
    t_editKey& t = m_keys[size_t(k)];
    if (!t.editable) return false;
    const t_tableLayout& lay = t_tableFile::GetLayout();
    const t_keyLayout& L = lay.keyLayouts[size_t(k)];
    const std::vector<int16_t>& types = lay.keys[size_t(k)].fieldTypes;

    std::vector<uint8_t*> rows;
    for (int b = 0; b < t.bucketCount; ++b)
        for (uint32_t i = 0; i < BucketRows(t, b); ++i)
            rows.push_back(t.rows + BucketStart(t, b) + uint64_t(i) * t.rowSize);
    std::vector<uint8_t*> ranked = rows;
    // A stable merge sort stays inside the array even with a faulty ranking.
    std::stable_sort(ranked.begin(), ranked.end(),
                     [&](uint8_t* a, uint8_t* b) { return cb.less(a, b); });
    size_t already = 0;
    for (uint8_t* r : rows) already += StateOf(cb, r) == kRowRemoved;
    const int32_t target = TrimTarget(rows.size(), already, 0);
    int32_t count = 0;
    for (size_t i = 0; i < ranked.size() && count < target; ++i) {
        if (StateOf(cb, ranked[i]) != kRowLive) continue;
        cb.remove(ranked[i], m_extra, cb.removeContext, int(i));
        ++count;
    }

    // Rebuild beside the image; it is written back only when complete.
    t_scopeHeap heap;
    const uint32_t allocated = Rd32(t.record + 4);
    uint8_t* newRows = static_cast<uint8_t*>(heap.Alloc(uint64_t(allocated) * t.rowSize));
    if (!newRows) return false;
    t_dataCopies dc;
    dc.copies.resize(m_dataCount);
    for (int d : {t.keyData, t.valueData}) {
        if (!DataExclusive(d, k) || dc.copies[size_t(d)].base) continue;
        t_dataCopies::t_copy& c = dc.copies[size_t(d)];
        c.allocated = Rd32(DataRecord(d) + 4);
        c.base = static_cast<uint8_t*>(heap.Alloc(c.allocated));
        if (!c.base) return false;
    }
    std::vector<uint32_t> kept(size_t(t.bucketCount), 0), starts(size_t(t.bucketCount), 0);
    uint64_t keptTotal = 0;
    {
        size_t i = 0;
        for (int b = 0; b < t.bucketCount; ++b)
            for (uint32_t j = 0; j < BucketRows(t, b); ++j, ++i)
                if (StateOf(cb, rows[i]) != kRowRemoved) ++kept[size_t(b)];
        for (uint32_t n : kept) keptTotal += n;
    }
    std::vector<uint32_t> caps(size_t(t.bucketCount));
    SpreadBuckets(kept, keptTotal, allocated, t.rowSize, caps, starts);
    {
        size_t i = 0;
        for (int b = 0; b < t.bucketCount; ++b) {
            uint8_t* out = newRows + starts[size_t(b)];
            for (uint32_t j = 0; j < BucketRows(t, b); ++j, ++i) {
                if (StateOf(cb, rows[i]) == kRowRemoved) continue;
                std::memcpy(out, rows[i], t.rowSize);
                if (L.policyId != 4 && IsVarLenType(types[0]) &&
                    !RelocateItem(Reader(), dc, out, t.keyData))
                    return false;
                if (!RelocateRow(Reader(), dc, out, types, 1, L.keyRowFields, L.fieldOffsets, 0,
                                 t.valueData))
                    return false;
                out += t.rowSize;
            }
        }
    }
    std::memcpy(t.rows, newRows, uint64_t(allocated) * t.rowSize);
    for (int b = 0; b < t.bucketCount; ++b) SetBucket(t, b, starts[size_t(b)], kept[size_t(b)]);
    t.cap = caps;
    SetRecordWord(t.record, 2, uint32_t(keptTotal));
    for (size_t d = 0; d < m_dataCount; ++d) {
        const t_dataCopies::t_copy& c = dc.copies[d];
        if (!c.base) continue;
        std::memcpy(DataBase(int(d)), c.base, c.allocated);
        SetRecordWord(DataRecord(int(d)), 2, c.used);
    }
    if (keyUsed) *keyUsed = int32_t(keptTotal);
    ++m_generation;
    return true;
}

void t_editableTableFile::EnableQuickTrims(int k) {
    if (k >= 0 && k < 32) m_quickKeys |= 1u << k;
}

void t_editableTableFile::NoteRowsChanged() {
    for (t_trimMemo& m : m_memo) m.clean = false;
}

namespace {
// Rows a quick trim looks at, at most; more fall back to a full trim.
constexpr size_t kQuickTrimRows = 4096;
}  // namespace

void t_editableTableFile::NoteFieldWrite(int k, bool inKeyRow, uint32_t rowOffset, bool isVarLen) {
    if (isVarLen) {
        // A replaced string leaves dead bytes that only a rebuild reclaims.
        NoteRowsChanged();
        return;
    }
    if (inKeyRow || size_t(k) >= m_memo.size() || !m_memo[size_t(k)].clean) return;
    t_trimMemo& m = m_memo[size_t(k)];
    if (m.changed.size() >= kQuickTrimRows)
        m.clean = false;
    else
        m.changed.push_back(rowOffset);
}

// Takes back the last add when its attri row, at attriOffset, is the one
// row a trim must drop: the rebuild would give the same rows.
bool t_editableTableFile::UndoLastAdd(int k, uint32_t attriOffset) {
    const t_lastAdd& a = m_lastAdd;
    if (Fixed() || a.generation != m_generation || a.k != k || a.attriOffset != attriOffset)
        return false;
    t_editKey& t = m_keys[size_t(k)];
    uint8_t* attriRec = AttriRecord(t.attri);
    const uint32_t used = Rd32(attriRec + 8);
    if (used == 0 || uint64_t(used - 1) * t.attriRowSize != attriOffset) return false;
    for (int i = 0; i < 3; ++i)
        if (a.data[i] >= 0 && Rd32(DataRecord(a.data[i]) + 8) != a.dataAfter[i]) return false;
    if (a.newKey) {
        if (a.bucket < 0 || a.bucket >= t.bucketCount) return false;
        const uint32_t start = BucketStart(t, a.bucket), rows = BucketRows(t, a.bucket);
        if (a.row < 0 || uint32_t(a.row) >= rows) return false;
        uint8_t* at = t.rows + start + uint64_t(a.row) * t.rowSize;
        std::memmove(at, at + t.rowSize, uint64_t(rows - 1 - uint32_t(a.row)) * t.rowSize);
        std::memset(t.rows + start + uint64_t(rows - 1) * t.rowSize, 0, t.rowSize);
        SetBucket(t, a.bucket, start, rows - 1);
        SetRecordWord(t.record, 2, Rd32(t.record + 8) - 1);
    } else {
        Wr32(a.link, kNone);
    }
    std::memset(AttriRows(t.attri) + attriOffset, 0, t.attriRowSize);
    SetRecordWord(attriRec, 2, used - 1);
    for (int i = 0; i < 3; ++i)
        if (a.data[i] >= 0) SetRecordWord(DataRecord(a.data[i]), 2, a.dataBefore[i]);
    m_lastAdd = t_lastAdd();
    return true;
}

// A trim after one that offered every live row: the rows kept since were
// declined then and would be again, so only the rows added or changed since
// are offered, all of them when they are within the target (as the full walk
// would). 1 when done; 0 when it does not apply (nothing offered); -1 when
// rows were offered and the ones now removed need the rebuild.
int t_editableTableFile::QuickTrim(int k, int32_t keep, int32_t* keyUsed, int32_t* attriUsed) {
    if (k >= 32 || !(m_quickKeys & (1u << k)) || size_t(k) >= m_memo.size() ||
        !m_memo[size_t(k)].clean || m_trim[size_t(k)].evict)
        return 0;
    t_trimMemo& memo = m_memo[size_t(k)];
    const t_editTrimCallbacks cb = m_trim[size_t(k)];
    t_editKey& t = m_keys[size_t(k)];
    const uint32_t rs = t.attriRowSize;
    uint8_t* attriRec = AttriRecord(t.attri);
    uint8_t* base = AttriRows(t.attri);
    const uint32_t used = Rd32(attriRec + 8);
    if (used < memo.cleanUsed || used - memo.cleanUsed + memo.changed.size() > kQuickTrimRows)
        return 0;
    std::vector<uint32_t> rows = memo.changed;
    for (uint32_t i = memo.cleanUsed; i < used; ++i) rows.push_back(i * rs);
    std::sort(rows.begin(), rows.end());
    rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
    size_t already = 0, live = 0;
    for (uint32_t off : rows) {
        if (uint64_t(off) + rs > uint64_t(used) * rs) return 0;
        const int state = StateOf(cb, base + off);
        already += state == kRowRemoved;
        live += state == kRowLive;
    }
    if (live > size_t(TrimTarget(used, already, keep))) return 0;  // the order would decide
    std::stable_sort(rows.begin(), rows.end(),
                     [&](uint32_t a, uint32_t b) { return cb.less(base + a, base + b); });
    int index = 0;
    for (uint32_t off : rows)
        if (StateOf(cb, base + off) == kRowLive)
            cb.remove(base + off, m_extra, cb.removeContext, index++);
    std::vector<uint32_t> gone;
    for (uint32_t off : rows)
        if (StateOf(cb, base + off) == kRowRemoved) gone.push_back(off);
    if (!gone.empty() && !(gone.size() == 1 && UndoLastAdd(k, gone[0]))) return -1;
    memo.cleanUsed = Rd32(attriRec + 8);
    memo.changed.clear();
    if (keyUsed) *keyUsed = int32_t(Rd32(t.record + 8));
    if (attriUsed) *attriUsed = int32_t(Rd32(attriRec + 8));
    ++m_generation;
    return 1;
}

// The owner's rule kept too many rows: the lowest ranked live rows go until
// the trim's share is removed (all rows above keep, else a tenth), so a
// table its rule would keep full still makes room.
void t_editableTableFile::EvictShare(const t_editTrimCallbacks& cb,
                                     const std::vector<uint8_t*>& ranked, size_t removed,
                                     int32_t keep) {
    const size_t n = ranked.size();
    const size_t share = keep > 0 && size_t(keep) <= n ? n - size_t(keep) : n / kEvictShareDivisor;
    for (size_t i = 0; i < n && removed < share; ++i) {
        if (StateOf(cb, ranked[i]) != kRowLive) continue;
        if (cb.evict(ranked[i], m_extra, cb.removeContext, int(i))) ++removed;
    }
}

void t_editableTableFile::SetEvictFn(int k, t_editRowRemoveFn evict) {
    if (k >= 0 && size_t(k) < m_trim.size()) m_trim[size_t(k)].evict = evict;
}

int t_editableTableFile::TrimWithAttri(int k, int32_t* keyUsed, int32_t* attriUsed, int32_t keep) {
    if (m_inNotice || !t_tableFile::IsAttached() || k < 0 || size_t(k) >= m_keys.size() ||
        size_t(k) >= m_trim.size())
        return 0;
    const t_editTrimCallbacks cb = m_trim[size_t(k)];
    if (!cb.less || !cb.remove || !cb.isRemoved) return 0;
    t_editKey& t = m_keys[size_t(k)];
    if (t.attri < 0 || !t.editable) return 0;
    FxSetGrown();  // rows move: only a whole save writes the result
    for (size_t i = 0; i < m_keys.size(); ++i)
        if (int(i) != k && m_keys[i].attri == t.attri)
            return 0;  // rows shared with another key table
    const int quick = QuickTrim(k, keep, keyUsed, attriUsed);
    if (quick > 0) return 1;
    m_memo[size_t(k)].clean = false;  // until the rebuild below completes
    const t_tableLayout& lay = t_tableFile::GetLayout();
    const t_keyLayout& L = lay.keyLayouts[size_t(k)];
    const std::vector<int16_t>& types = lay.keys[size_t(k)].fieldTypes;
    const uint32_t ars = t.attriRowSize;
    uint8_t* attriRec = AttriRecord(t.attri);
    uint8_t* attriBase = AttriRows(t.attri);
    const uint64_t attriUsedBytes = uint64_t(Rd32(attriRec + 8)) * ars;

    // Every attri row, by walking each key row's chain.
    struct t_key {
        uint8_t* row;
        int bucket;
        size_t first, count;  // entries in chain order
    };
    std::vector<t_key> keys;
    std::vector<uint8_t*> entries;
    for (int b = 0; b < t.bucketCount; ++b)
        for (uint32_t i = 0; i < BucketRows(t, b); ++i) {
            uint8_t* row = t.rows + BucketStart(t, b) + uint64_t(i) * t.rowSize;
            t_key key{row, b, entries.size(), 0};
            for (uint32_t link = Rd32(row + L.linkOffset); link != kNone;
                 link = Rd32(attriBase + link + L.attriLinkOffset)) {
                if (link % ars != 0 || uint64_t(link) + ars > attriUsedBytes ||
                    uint64_t(key.count) * ars >= attriUsedBytes)
                    return 0;
                entries.push_back(attriBase + link);
                ++key.count;
            }
            keys.push_back(key);
        }
    // Each chain is bounded alone; chains that share rows (a damaged image)
    // could still add up to more rows than the table has, and the rebuild
    // below has room for the allocated rows only. Refused before anything
    // is removed.
    if (entries.size() > Rd32(attriRec + 8)) return 0;
    // Whether every live row was offered (the quick trim's offers included).
    bool offeredAll = quick < 0;
    if (!offeredAll) {
        std::vector<uint8_t*> ranked = entries;
        std::stable_sort(ranked.begin(), ranked.end(),
                         [&](uint8_t* a, uint8_t* b) { return cb.less(a, b); });
        size_t already = 0;
        for (uint8_t* e : entries) already += StateOf(cb, e) == kRowRemoved;
        const int32_t target = TrimTarget(entries.size(), already, keep);
        int32_t count = 0;
        for (size_t i = 0; i < ranked.size() && count < target; ++i) {
            if (StateOf(cb, ranked[i]) != kRowLive) continue;
            if (cb.remove(ranked[i], m_extra, cb.removeContext, int(i))) ++count;
        }
        offeredAll = count < target;
        if (cb.evict) EvictShare(cb, ranked, already + size_t(count), keep);
    }

    t_scopeHeap heap;
    const uint32_t allocated = Rd32(t.record + 4), attriAllocated = Rd32(attriRec + 4);
    uint8_t* newRows = static_cast<uint8_t*>(heap.Alloc(uint64_t(allocated) * t.rowSize));
    uint8_t* newAttri = static_cast<uint8_t*>(heap.Alloc(uint64_t(attriAllocated) * ars));
    if (!newRows || !newAttri) return 0;
    t_dataCopies dc;
    dc.copies.resize(m_dataCount);
    for (int d : {t.keyData, t.valueData, t.attriData}) {
        if (!DataExclusive(d, k) || dc.copies[size_t(d)].base) continue;
        t_dataCopies::t_copy& c = dc.copies[size_t(d)];
        c.allocated = Rd32(DataRecord(d) + 4);
        c.base = static_cast<uint8_t*>(heap.Alloc(c.allocated));
        if (!c.base) return 0;
    }
    std::vector<uint8_t> keepEntry(entries.size());
    for (size_t i = 0; i < entries.size(); ++i)
        keepEntry[i] = StateOf(cb, entries[i]) != kRowRemoved;
    std::vector<uint32_t> kept(size_t(t.bucketCount), 0), starts(size_t(t.bucketCount), 0);
    uint64_t keptTotal = 0;
    for (const t_key& key : keys) {
        bool any = false;
        for (size_t i = 0; i < key.count; ++i) any = any || keepEntry[key.first + i];
        if (any) {
            ++kept[size_t(key.bucket)];
            ++keptTotal;
        }
    }
    std::vector<uint32_t> caps(size_t(t.bucketCount));
    SpreadBuckets(kept, keptTotal, allocated, t.rowSize, caps, starts);
    std::vector<uint32_t> fill(size_t(t.bucketCount), 0);
    uint32_t attriOut = 0;
    for (const t_key& key : keys) {
        uint8_t* out = nullptr;
        uint8_t* prevAttri = nullptr;
        for (size_t i = 0; i < key.count; ++i) {
            if (!keepEntry[key.first + i]) continue;
            if (!out) {
                out = newRows + starts[size_t(key.bucket)] +
                      uint64_t(fill[size_t(key.bucket)]++) * t.rowSize;
                std::memcpy(out, key.row, t.rowSize);
                if (L.policyId != 4 && IsVarLenType(types[0]) &&
                    !RelocateItem(Reader(), dc, out, t.keyData))
                    return 0;
                if (!RelocateRow(Reader(), dc, out, types, 1, L.keyRowFields, L.fieldOffsets, 0,
                                 t.valueData))
                    return 0;
            }
            uint8_t* ar = newAttri + uint64_t(attriOut) * ars;
            std::memcpy(ar, entries[key.first + i], ars);
            if (!RelocateRow(Reader(), dc, ar, types, L.keyRowFields, uint32_t(types.size()),
                             L.attriFieldOffsets, L.keyRowFields, t.attriData))
                return 0;
            Wr32(ar + L.attriLinkOffset, kNone);
            Wr32(prevAttri ? prevAttri + L.attriLinkOffset : out + L.linkOffset, attriOut * ars);
            prevAttri = ar;
            ++attriOut;
        }
    }
    std::memcpy(t.rows, newRows, uint64_t(allocated) * t.rowSize);
    std::memcpy(attriBase, newAttri, uint64_t(attriAllocated) * ars);
    for (int b = 0; b < t.bucketCount; ++b) SetBucket(t, b, starts[size_t(b)], kept[size_t(b)]);
    t.cap = caps;
    SetRecordWord(t.record, 2, uint32_t(keptTotal));
    SetRecordWord(attriRec, 2, attriOut);
    for (size_t d = 0; d < m_dataCount; ++d) {
        const t_dataCopies::t_copy& c = dc.copies[d];
        if (!c.base) continue;
        std::memcpy(DataBase(int(d)), c.base, c.allocated);
        SetRecordWord(DataRecord(int(d)), 2, c.used);
    }
    if (keyUsed) *keyUsed = int32_t(keptTotal);
    if (attriUsed) *attriUsed = int32_t(attriOut);
    ++m_generation;
    t_trimMemo& memo = m_memo[size_t(k)];
    memo.clean = offeredAll;
    memo.cleanUsed = attriOut;
    memo.changed.clear();
    return 1;
}

int t_editableTableFile::Double(int k) {
    if (m_inNotice || !t_tableFile::IsAttached() || k < 0 || size_t(k) >= m_keys.size() ||
        !m_onGrown)
        return 0;
    FxSetGrown();
    const t_editKey& t = m_keys[size_t(k)];
    const size_t K = m_keys.size(), A = m_attriCount, D = m_dataCount, T = K + A + D;
    std::vector<uint8_t> doubled(T, 0);
    doubled[size_t(k)] = 1;
    if (t.attri >= 0) doubled[K + size_t(t.attri)] = 1;
    for (int d : {t.keyData, t.valueData, t.attriData})
        if (d >= 0) doubled[K + A + size_t(d)] = 1;

    // New places in the builder's order: every table is carried over, the
    // tables of key k at twice their size.
    const uint8_t* img = t_tableFile::GetImage();
    const uint8_t* items = t_tableFile::GetItemsStart();
    std::vector<uint64_t> unit(T), oldAlloc(T), newAlloc(T), newOff(T);
    uint64_t at = 0;
    for (size_t i = 0; i < T; ++i) {
        const uint8_t* rec = Record(i);
        oldAlloc[i] = Rd32(rec + 4);
        newAlloc[i] = oldAlloc[i] * (doubled[i] ? 2 : 1);
        if (i < K) {
            unit[i] = m_keys[i].rowSize;
            at += uint64_t(m_keys[i].bucketCount) * kBucketEntrySize;
        } else if (i < K + A) {
            unit[i] = uint32_t(t_tableFile::GetAttriRowSize(int(i - K)));
        } else {
            unit[i] = 1;
        }
        newOff[i] = at;
        at += newAlloc[i] * unit[i];
        if (newAlloc[i] > 0x7FFFFFFFu) return 0;
    }
    const uint64_t newItems = at;
    const uint32_t configSize = uint32_t(t_tableFile::GetConfigSize()),
                   headSize = uint32_t(t_tableFile::GetHeadSize());
    const uint64_t total =
        8 + uint64_t(configSize) + headSize + newItems + 4 + uint32_t(m_extraSize);
    if (newItems > 0x7FFFFFFFu || total > kMaxImageSize) return 0;

    t_scopeHeap heap;
    uint8_t* out = static_cast<uint8_t*>(heap.Alloc(newItems));
    uint8_t* header = static_cast<uint8_t*>(heap.DupBytes(Header(), headSize));
    uint8_t* config = static_cast<uint8_t*>(heap.DupBytes(img + 8, configSize));
    uint8_t* extra = m_extraSize > 0
                         ? static_cast<uint8_t*>(heap.DupBytes(m_extra, uint32_t(m_extraSize)))
                         : nullptr;
    if (!out || !header || !config || (m_extraSize > 0 && !extra)) return 0;

    for (size_t i = 0; i < T; ++i) {
        if (i < K) {
            const t_editKey& e = m_keys[i];
            const uint64_t arrayBytes = uint64_t(e.bucketCount) * kBucketEntrySize;
            uint8_t* rows = out + newOff[i];
            if (i != size_t(k)) {
                std::memcpy(rows - arrayBytes, e.buckets, arrayBytes + oldAlloc[i] * unit[i]);
                continue;
            }
            // The added rows are spread over the buckets; bucket 0 takes the rest.
            const uint64_t added = oldAlloc[i], per = added / uint64_t(e.bucketCount);
            uint64_t startRow = 0;
            for (int b = 0; b < e.bucketCount; ++b) {
                const uint64_t cap =
                    e.cap[size_t(b)] + (b == 0 ? added - per * uint64_t(e.bucketCount - 1) : per);
                const uint32_t used = BucketRows(e, b);
                std::memcpy(rows + startRow * e.rowSize, e.rows + BucketStart(e, b),
                            uint64_t(used) * e.rowSize);
                Wr32(rows - arrayBytes + size_t(b) * kBucketEntrySize,
                     uint32_t(startRow * e.rowSize));
                Wr32(rows - arrayBytes + size_t(b) * kBucketEntrySize + 4, used);
                startRow += cap;
            }
            if (startRow > newAlloc[i]) return 0;
        } else {
            const uint64_t oldOffset = Rd32(Record(i));
            std::memcpy(out + newOff[i], items + oldOffset, oldAlloc[i] * unit[i]);
        }
    }
    // Header words change; the check number follows them.
    uint32_t sum = ~Rd32(img);
    auto setWord = [&](uint8_t* p, uint32_t v) {
        sum += v - Rd32(p);
        Wr32(p, v);
    };
    setWord(header + 8, uint32_t(newItems));
    for (size_t i = 0; i < T; ++i) {
        uint8_t* rec = header + kHeaderFixedSize + kTableRecordSize * i;
        setWord(rec, uint32_t(newOff[i]));
        setWord(rec + 4, uint32_t(newAlloc[i]));
    }

    t_grownImage g;
    g.checkNum = ~sum;
    g.configSize = configSize;
    g.config = config;
    g.headSize = headSize;
    g.header = header;
    g.itemsSize = uint32_t(newItems);
    g.items = out;
    g.extraSize = uint32_t(m_extraSize);
    g.extra = extra;
    g.totalSize = uint32_t(total);
    // The notice may not re-enter: the file is between two images.
    m_inNotice = true;
    uint8_t* buffer = m_onGrown(g, m_growthContext);
    m_inNotice = false;
    if (!buffer) return 0;  // refused: the old image stays attached
    if (!g.CopyTo(buffer, total)) return 0;
    return ReattachOwned(buffer, total) ? 1 : 0;
}
