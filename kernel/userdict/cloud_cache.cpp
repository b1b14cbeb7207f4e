// Cloud-answer caches on an editable table file.
#include "kernel/userdict/cloud_cache.h"

using n_tableFormat::Rd32;

namespace {

// Attri row: text, hit count, flag, second, third, then the chain link.
constexpr uint32_t kOffText = 0, kOffHits = 4, kOffFlag = 8, kOffSecond = 9, kOffThird = 13;

// Least-hit answers first.
bool RankLess(const uint8_t* a, const uint8_t* b) {
    if (!a || !b) return a == nullptr && b != nullptr;
    return Rd32(a + kOffHits) < Rd32(b + kOffHits);
}

int RemoveRow(uint8_t* row, uint8_t*, void*, int) {
    if (!row) return 0;
    n_tableFormat::Wr32(row + kOffHits, 0);
    return 1;
}

int RowState(const uint8_t* row, void*) {
    return row && Rd32(row + kOffHits) == 0 ? kRowRemoved : kRowLive;
}

const n_userStore::t_storeShape& Shape() {
    static const n_userStore::t_storeShape shape{
        .formatVersion = t_cloudCacheDict::kFormatVersion,
        .keyType = 2,
        .fieldTypes = {0, 0, 8, 2, 0, 0},  // key, text, hits, flag, second, third
        .fieldOffsets = {kOffText, kOffHits, kOffFlag, kOffSecond, kOffThird},
        .hasAttri = true,
        .bucketCount = t_cloudCacheDict::kBucketCount,
        .rankLess = &RankLess,
        .removeRow = &RemoveRow,
        .rowState = &RowState,
        .defaultRows = t_cloudCacheDict::kRows,
        .defaultDataBytes = {t_cloudCacheDict::kDataBytes, t_cloudCacheDict::kDataBytes},
    };
    return shape;
}

}  // namespace

t_cloudCacheDict::t_cloudCacheDict() : t_userStoreBase(Shape(), kRowLimit) {}

bool t_cloudCacheDict::BuildImage(std::vector<uint8_t>& out, uint32_t rows, uint32_t dataBytes) {
    if (rows == 0 || rows > 10000000u || dataBytes == 0) return false;
    return n_userStore::BuildShapeImage(Shape(), rows, {dataBytes, dataBytes}, out);
}

bool t_cloudCacheDict::Locate(const t_lstr* key, const t_lstr* text, t_editLocation* loc) const {
    return text && n_userStore::FindRecord(m_store, key, text, loc);
}

bool t_cloudCacheDict::WriteHits(const t_editRow& row, uint32_t hits) {
    return WriteField(row, kOffHits, hits, 4);
}

// One more hit; a count at its maximum stays there.
bool t_cloudCacheDict::CountHit(const t_editRow& row) {
    const uint32_t stored = Rd32(row.ptr + kOffHits);
    return stored == UINT32_MAX || WriteHits(row, stored + 1);
}

int t_cloudCacheDict::AddEntry(const t_lstr* key, const t_lstr* text, uint32_t hits, uint8_t flag,
                               const t_lstr* second, const t_lstr* third) {
    if (!Ready() || !n_userStore::FitsItem(key) || !n_userStore::FitsItem(text) ||
        !n_userStore::FitsItem(second) || !n_userStore::FitsItem(third))
        return 0;
    n_userStore::t_itemBuf item;
    item.PutLstr(key);
    item.PutLstr(text);
    item.Put32(hits);
    item.Put8(flag);
    item.PutLstr(second);
    item.PutLstr(third);
    t_editLocation where;
    const int r = AddLimited(item, &where);
    if (r == 0) return 0;
    if (r != 1) return 1;
    return where.itemFound && CountHit(where.attriRow) ? 1 : 0;
}

int t_cloudCacheDict::ResetEntry(const t_lstr* key, const t_lstr* text) {
    if (!Ready()) return 0;
    t_editLocation loc;
    if (!Locate(key, text, &loc)) return 0;
    if (!loc.itemFound) return 1;
    return WriteHits(loc.attriRow, 0) ? 1 : 0;
}

int t_cloudCacheDict::IncreaseHit(const t_lstr* key, const t_lstr* text) {
    if (!Ready()) return 0;
    t_editLocation loc;
    return Locate(key, text, &loc) && loc.itemFound && CountHit(loc.attriRow) ? 1 : 0;
}

int32_t t_cloudCacheDict::Find(const t_lstr* key, int* extends, int* count) const {
    if (extends) *extends = 0;
    if (count) *count = 0;
    if (!Ready() || !n_userStore::FitsItem(key)) return -1;
    const int32_t handle = n_userStore::FindHandle(m_store, key, extends, nullptr);
    if (handle >= 0 && count) {
        std::vector<const uint8_t*> rows;
        n_userStore::CollectChain(m_store, m_store.GetBucketRow(0, 0, handle), rows);
        *count = int(rows.size());
    }
    return handle;
}

int t_cloudCacheDict::GetEntries(int32_t handle, int maximum, uint32_t* texts, uint32_t* hits,
                                 uint8_t* flags, uint32_t* seconds, uint32_t* thirds) const {
    if (!Ready() || maximum < 1) return 0;
    std::vector<const uint8_t*> rows;
    if (!n_userStore::CollectChain(m_store, n_userStore::KeyRowAt(m_store, handle), rows)) return 0;
    int n = 0;
    for (const uint8_t* row : rows) {
        if (n >= maximum) break;
        if (texts) texts[n] = Rd32(row + kOffText);
        if (hits) hits[n] = Rd32(row + kOffHits);
        if (flags) flags[n] = row[kOffFlag];
        if (seconds) seconds[n] = Rd32(row + kOffSecond);
        if (thirds) thirds[n] = Rd32(row + kOffThird);
        ++n;
    }
    return n;
}

const t_lstr* t_cloudCacheDict::GetString(uint32_t ref) const {
    return RecordText(ref);
}

const t_lstr* t_cloudCacheDict::GetStrings(uint32_t text, uint32_t second, uint32_t third,
                                           const t_lstr** secondOut,
                                           const t_lstr** thirdOut) const {
    if (secondOut) *secondOut = GetString(second);
    if (thirdOut) *thirdOut = GetString(third);
    return GetString(text);
}
