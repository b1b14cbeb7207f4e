// Cloud-answer caches on an editable table file.
#include "kernel/userdict/cloud_cache.h"

using n_tableFormat::kNone;
using n_tableFormat::Rd32;

namespace {

// Attri row: text, hit count, flag, second, third, then the chain link.
constexpr uint32_t kOffText = 0, kOffHits = 4, kOffFlag = 8, kOffSecond = 9, kOffThird = 13;

}  // namespace

t_cloudCacheDict::t_cloudCacheDict()
    : m_store(&t_cloudCacheDict::RankLess, &t_cloudCacheDict::RemoveRow, this, &t_cloudCacheDict::RowState, this,
              0) {}

t_cloudCacheDict::~t_cloudCacheDict() {
    m_store.Detach();
    m_image.Release();
}

// Least-hit answers first.
bool t_cloudCacheDict::RankLess(const uint8_t* a, const uint8_t* b) {
    if (!a || !b) return a == nullptr && b != nullptr;
    return Rd32(a + kOffHits) < Rd32(b + kOffHits);
}

int t_cloudCacheDict::RemoveRow(uint8_t* row, uint8_t*, void*, int) {
    if (!row) return 0;
    n_tableFormat::Wr32(row + kOffHits, 0);
    return 1;
}

int t_cloudCacheDict::RowState(const uint8_t* row, void*) {
    return row && Rd32(row + kOffHits) == 0 ? kRowRemoved : kRowLive;
}

bool t_cloudCacheDict::BuildImage(std::vector<uint8_t>& out, uint32_t rows, uint32_t dataBytes) {
    if (rows == 0 || rows > 10000000u || dataBytes == 0) return false;
    t_keyDesc key;
    key.keyType = 2;
    key.fieldTypes = {0, 0, 8, 2, 0, 0};  // key, text, hits, flag, second, third
    key.attriIndex = 0;
    key.keyDataTable = 0;
    key.capacity = rows;
    t_attriDesc attri;
    attri.fieldCount = 5;
    attri.ownerKey = 0;
    attri.dataTable = 1;
    attri.capacity = rows;
    return n_userStore::BuildEmptyImage({key}, {attri}, {dataBytes, dataBytes}, kFormatVersion, {}, {},
                                        {kBucketCount}, out);
}

bool t_cloudCacheDict::Attach(void* image, uint64_t size) {
    SetReady(false);
    m_store.Detach();
    if (!image || size == 0 || size > t_editableTableFile::kMaxImageSize) return false;
    m_store.SetBucketCount(0, kBucketCount);
    if (!m_store.AttachWithExtra(image, kFormatVersion, {}, {}, int64_t(size))) return false;
    if (!n_userStore::HasLayout(m_store, 2, {0, 0, 8, 2, 0, 0}, {kOffText, kOffHits, kOffFlag, kOffSecond, kOffThird}) ||
        m_store.GetDataCount() != 2) {
        m_store.Detach();
        return false;
    }
    SetReady(true);
    return true;
}

bool t_cloudCacheDict::Load(void* data, int32_t size) {
    const bool ok = size > 0 && Attach(data, uint64_t(size));
    m_image.Release();
    return ok;
}

bool t_cloudCacheDict::Save(const void*, int32_t) {
    std::vector<uint8_t> image;
    return BuildImage(image, kRows, kDataBytes) && CommitImage(image.data(), int32_t(image.size()));
}

bool t_cloudCacheDict::AttachCopy(const void* data, uint64_t size) {
    m_store.Detach();
    uint8_t* copy = m_image.AdoptCopy(data, size);
    if (!copy) {
        SetReady(false);
        return false;
    }
    return Attach(copy, size);
}

bool t_cloudCacheDict::Locate(const t_lstr* key, const t_lstr* text, t_editLocation* loc) const {
    n_userStore::t_itemBuf k, t;
    if (!k.PutLstr(key) || !t.PutLstr(text)) return false;
    return m_store.FindKeyValue(k.Data(), t.Data(), loc);
}

bool t_cloudCacheDict::WriteHits(const t_editRow& row, uint32_t hits) {
    uint8_t v[4];
    n_tableFormat::Wr32(v, hits);
    return m_store.SetFieldAt(v, 4, row, kOffHits, false);
}

int t_cloudCacheDict::AddEntry(const t_lstr* key, const t_lstr* text, uint32_t hits, uint8_t flag,
                               const t_lstr* second, const t_lstr* third) {
    if (!Ready() || !n_userStore::FitsItem(key) || !n_userStore::FitsItem(text) || !n_userStore::FitsItem(second) ||
        !n_userStore::FitsItem(third))
        return 0;
    n_userStore::t_itemBuf item;
    item.PutLstr(key);
    item.PutLstr(text);
    item.Put32(hits);
    item.Put8(flag);
    item.PutLstr(second);
    item.PutLstr(third);
    int32_t keys = m_rowLimit, attris = m_rowLimit;
    t_editLocation where;
    const int r = m_store.AddItem(item.Data(), item.Size(), 0, &keys, &attris, &where);
    if (r == 0) return 0;
    if (r != 1) return 1;
    if (!where.itemFound) return 0;
    const uint32_t stored = Rd32(where.attriRow.ptr + kOffHits);
    return stored == UINT32_MAX || WriteHits(where.attriRow, stored + 1) ? 1 : 0;
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
    if (!Locate(key, text, &loc) || !loc.itemFound) return 0;
    const uint32_t stored = Rd32(loc.attriRow.ptr + kOffHits);
    return stored == UINT32_MAX || WriteHits(loc.attriRow, stored + 1) ? 1 : 0;
}

int32_t t_cloudCacheDict::Find(const t_lstr* key, int* extends, int* count) const {
    if (extends) *extends = 0;
    if (count) *count = 0;
    if (!Ready() || !n_userStore::FitsItem(key)) return -1;
    n_userStore::t_keyNeighbours at;
    if (!n_userStore::LocateKey(m_store, key, &at)) return -1;
    if (!at.found) {
        if (extends && n_userStore::RowExtends(m_store, at, at.row, key)) *extends = 1;
        return -1;
    }
    std::vector<const uint8_t*> rows;
    n_userStore::CollectChain(m_store, m_store.GetBucketRow(0, 0, at.handle), rows);
    if (count) *count = int(rows.size());
    if (extends && n_userStore::RowExtends(m_store, at, at.row + 1, key)) *extends = 1;
    return at.handle;
}

int t_cloudCacheDict::GetEntries(int32_t handle, int maximum, uint32_t* texts, uint32_t* hits, uint8_t* flags,
                                 uint32_t* seconds, uint32_t* thirds) const {
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
    if (!Ready()) return nullptr;
    return n_userStore::ItemText(m_store, m_store.GetAttriDataTable(0), ref);
}

const t_lstr* t_cloudCacheDict::GetStrings(uint32_t text, uint32_t second, uint32_t third, const t_lstr** secondOut,
                                           const t_lstr** thirdOut) const {
    if (secondOut) *secondOut = GetString(second);
    if (thirdOut) *thirdOut = GetString(third);
    return GetString(text);
}

int t_cloudCacheDict::GetCount() const {
    if (!Ready()) return 0;
    const int32_t n = m_store.GetAttriUsedCount(0);
    return n > 0 ? n : 0;
}
