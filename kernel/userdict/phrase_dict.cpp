// The custom-phrase dictionary on its editable table file.
#include "kernel/userdict/phrase_dict.h"

#include <cstring>

#include "kernel/runtime/scope_heap.h"

using n_tableFormat::kNone;
using n_tableFormat::Rd32;
using n_tableFormat::RdI16;

namespace {

// Attri row: phrase offset, i16 position, u8 state, then the chain link.
constexpr uint32_t kOffPhrase = 0, kOffPosition = 4, kOffState = 6;

void Descriptors(std::vector<t_keyDesc>& keys, std::vector<t_attriDesc>& attris, std::vector<uint32_t>& datas,
                 uint32_t rows, uint32_t keyBytes, uint32_t phraseBytes) {
    t_keyDesc key;
    key.keyType = 5;
    key.fieldTypes = {0, 0, 5, 2};  // key, phrase, position, state
    key.attriIndex = 0;
    key.keyDataTable = 0;
    key.capacity = rows;
    t_attriDesc attri;
    attri.fieldCount = 3;
    attri.ownerKey = 0;
    attri.dataTable = 1;
    attri.capacity = rows;
    keys = {key};
    attris = {attri};
    datas = {keyBytes, phraseBytes};
}

bool Dropped(const uint8_t* row) {
    return row[kOffState] == kPhraseDeleted || RdI16(row + kOffPosition) == 0;
}

}  // namespace

int t_abbrUsrDict::BucketOf(const t_lstr* key) {
    if (!key || LstrGetLength(key) == 0) return 52;
    const uint16_t c = LstrGetUnit(key, 0);
    if (c >= 'a' && c <= 'z') return c - 'a';
    if (c >= 'A' && c <= 'Z') return 26 + (c - 'A');
    return 52;
}

t_abbrUsrDict::t_abbrUsrDict()
    : m_store(&t_abbrUsrDict::OnGrown, this, &t_abbrUsrDict::RankLess, &t_abbrUsrDict::RemoveRow, nullptr,
              &t_abbrUsrDict::RowState, nullptr, 0, nullptr, true) {}

t_abbrUsrDict::~t_abbrUsrDict() {
    m_store.Detach();
    m_image.Release();
}

uint8_t* t_abbrUsrDict::OnGrown(const t_grownImage& img, void* context) {
    return static_cast<t_abbrUsrDict*>(context)->m_image.Adopt(img.totalSize);
}

// Deleted and position-0 rows first, then negative positions from the most
// negative up, then positive positions from the largest down: a trim drops
// what is never offered before the phrases at the front of the list.
bool t_abbrUsrDict::RankLess(const uint8_t* a, const uint8_t* b) {
    const bool da = Dropped(a), db = Dropped(b);
    if (da) return !db;
    if (db) return false;
    const int16_t pa = RdI16(a + kOffPosition), pb = RdI16(b + kOffPosition);
    if (pa > 0) return pb > 0 && pa > pb;
    return pb > 0 || pa < pb;
}

int t_abbrUsrDict::RemoveRow(uint8_t* row, uint8_t*, void*, int) {
    row[kOffState] = kPhraseDeleted;
    return 1;
}

int t_abbrUsrDict::RowState(const uint8_t* row, void*) {
    return row[kOffState] == kPhraseDeleted ? kRowRemoved : kRowLive;
}

bool t_abbrUsrDict::Attach(void* image, uint64_t size) {
    SetReady(false);
    m_store.Detach();
    if (!image || size == 0 || size > t_editableTableFile::kMaxImageSize) return false;
    m_store.SetBucketCount(0, kBucketCount);
    if (!m_store.AttachWithExtra(image, kFormatVersion, {&t_abbrUsrDict::BucketOf}, {&LstrCompare}, int64_t(size)))
        return false;
    if (!n_userStore::HasLayout(m_store, 5, {0, 0, 5, 2}, {kOffPhrase, kOffPosition, kOffState}) ||
        m_store.GetDataCount() != 2) {
        m_store.Detach();
        return false;
    }
    SetReady(true);
    return true;
}

bool t_abbrUsrDict::Load(void* data, int32_t size) {
    if (size <= 0) {
        SetReady(false);
        m_store.Detach();
        return false;
    }
    const bool ok = Attach(data, uint64_t(size));
    m_image.Release();  // the manager's block holds the image now
    return ok;
}

bool t_abbrUsrDict::BuildImageWithRoom(std::vector<uint8_t>& out, uint32_t rows, uint32_t keyBytes,
                                       uint32_t phraseBytes) {
    std::vector<t_keyDesc> keys;
    std::vector<t_attriDesc> attris;
    std::vector<uint32_t> datas;
    Descriptors(keys, attris, datas, rows, keyBytes, phraseBytes);
    return n_userStore::BuildEmptyImage(keys, attris, datas, kFormatVersion, {&t_abbrUsrDict::BucketOf},
                                        {&LstrCompare}, {kBucketCount}, out);
}

bool t_abbrUsrDict::BuildImage(t_scopeHeap& arena, uint8_t** buffer, uint32_t* size) {
    if (!buffer || !size) return false;
    std::vector<uint8_t> image;
    if (!BuildImageWithRoom(image, kKeyRows, kKeyBytes, kPhraseBytes)) return false;
    void* p = arena.DupBytes(image.data(), image.size());
    if (!p) return false;
    *buffer = static_cast<uint8_t*>(p);
    *size = uint32_t(image.size());
    return true;
}

bool t_abbrUsrDict::BuildImageToFile(const wchar_t* path) {
    std::vector<uint8_t> image;
    return BuildImageWithRoom(image, kKeyRows, kKeyBytes, kPhraseBytes) && n_userStore::WriteImageFile(path, image);
}

bool t_abbrUsrDict::Save(const void*, int32_t) {
    t_scopeHeap arena(t_scopeHeap::kDefaultBlockSize);
    uint8_t* image = nullptr;
    uint32_t size = 0;
    if (!BuildImage(arena, &image, &size)) return false;
    CommitImage(image, int32_t(size));
    return true;
}

bool t_abbrUsrDict::AttachFile(const wchar_t* path) {
    std::vector<uint8_t> bytes;
    if (!n_userStore::ReadWholeFile(path, bytes)) {
        SetReady(false);
        m_store.Detach();
        return false;
    }
    return AttachCopy(bytes.data(), bytes.size());
}

bool t_abbrUsrDict::AttachCopy(const void* data, uint64_t size) {
    m_store.Detach();
    uint8_t* copy = m_image.AdoptCopy(data, size);
    if (!copy) {
        SetReady(false);
        return false;
    }
    return Attach(copy, size);
}

// ---------------------------------------------------------------- editing

bool t_abbrUsrDict::Find(const t_lstr* key, const t_lstr* phrase, t_editLocation* loc) const {
    n_userStore::t_itemBuf k, p;
    if (!k.PutLstr(key) || !p.PutLstr(phrase)) return false;
    return m_store.FindKeyValue(k.Data(), p.Data(), loc);
}

int t_abbrUsrDict::Insert(const t_lstr* key, const t_lstr* phrase, int16_t position, uint8_t state,
                          t_editLocation* where) {
    if (!n_userStore::FitsItem(key) || !n_userStore::FitsItem(phrase)) return 0;
    // A phrase that would not fit the phrase table's free bytes relieves it first.
    const int d = m_store.GetAttriDataTable(0);
    const int64_t used = m_store.GetDataUsed(d), allocated = m_store.GetDataSize(d);
    if (used < 0 || allocated < 0) return 0;
    t_editLocation present;
    if (used + int64_t(LstrGetByteLength(phrase)) + 2 >= allocated && Find(key, phrase, &present) &&
        !present.itemFound) {
        int32_t keys = m_rowLimit, attris = m_rowLimit;
        if (!m_store.HandleFull(0, &keys, &attris)) return 0;
    }
    n_userStore::t_itemBuf item;
    item.PutLstr(key);
    item.PutLstr(phrase);
    item.Put16(uint16_t(position));
    item.Put8(state);
    int32_t keys = m_rowLimit, attris = m_rowLimit;
    return m_store.AddItem(item.Data(), item.Size(), 0, &keys, &attris, where);
}

bool t_abbrUsrDict::WriteState(const t_editLocation& loc, uint8_t state) {
    return m_store.SetFieldAt(&state, 1, loc.attriRow, kOffState, false);
}

bool t_abbrUsrDict::WritePosition(const t_editLocation& loc, int16_t position) {
    uint8_t v[2];
    n_tableFormat::Wr16(v, uint16_t(position));
    return m_store.SetFieldAt(v, 2, loc.attriRow, kOffPosition, false);
}

int t_abbrUsrDict::AddItem(const t_lstr* key, const t_lstr* phrase, int16_t position, uint8_t state) {
    if (!Ready() || !n_userStore::FitsItem(key) || !n_userStore::FitsItem(phrase)) return 0;
    t_editLocation loc;
    const int r = Insert(key, phrase, position, state, &loc);
    if (r != 1) return r;
    if (!loc.itemFound || !WritePosition(loc, position) || !WriteState(loc, state)) return 0;
    return 1;
}

int t_abbrUsrDict::MergeItem(const t_lstr* key, const t_lstr* phrase, int16_t position, uint8_t state) {
    if (!Ready() || !n_userStore::FitsItem(key) || !n_userStore::FitsItem(phrase)) return 0;
    t_editLocation loc;
    const int r = Insert(key, phrase, position, state, &loc);
    if (r != 1) return r;
    if (!loc.itemFound) return 0;
    if (loc.attriRow.ptr[kOffState] == kPhrasePlain && state != kPhrasePlain) {
        if (!WriteState(loc, state) || !WritePosition(loc, position)) return 0;
    }
    return 1;
}

int t_abbrUsrDict::UpdateItemState(const t_lstr* key, const t_lstr* phrase, int16_t position, uint8_t state) {
    if (!Ready() || !n_userStore::FitsItem(key) || !n_userStore::FitsItem(phrase)) return 0;
    t_editLocation loc;
    const int r = Insert(key, phrase, position, state, &loc);
    if (r == 0) return 0;
    if (r != 1) {
        // Present only in the other copy: it arrives as deleted.
        if (state != kPhraseDeleted && !MarkDeleted(key, phrase, position)) return 0;
        return r;
    }
    if (!loc.itemFound) return 0;
    if (loc.attriRow.ptr[kOffState] == kPhraseAdded) {
        if (RdI16(loc.attriRow.ptr + kOffPosition) != position) {
            if (!WriteState(loc, kPhraseMoved)) return 0;
        } else if (state == kPhrasePlain) {
            if (!WriteState(loc, kPhrasePlain)) return 0;
        }
    }
    return 1;
}

int t_abbrUsrDict::MarkDeleted(const t_lstr* key, const t_lstr* phrase, int16_t) {
    if (!Ready() || !n_userStore::FitsItem(key) || !n_userStore::FitsItem(phrase)) return 0;
    t_editLocation loc;
    if (!Find(key, phrase, &loc)) return 0;
    if (!loc.itemFound) return 1;
    if (!loc.attriRow.ptr) return 0;
    return WriteState(loc, kPhraseDeleted) ? 1 : 0;
}

// ---------------------------------------------------------------- reading

int t_abbrUsrDict::Lookup(t_scopeHeap& arena, const t_lstr* key, t_phraseHit*** items, int* count) const {
    if (!items || !count) return 0;
    *items = nullptr;
    *count = 0;
    if (!Ready() || !n_userStore::FitsItem(key)) return 0;
    const uint8_t* keyRow = nullptr;
    if (!m_store.FindRow(key, 0, &keyRow) || !keyRow) return 1;
    std::vector<const uint8_t*> rows;
    if (!n_userStore::CollectChain(m_store, keyRow, rows)) return 1;
    auto** out = n_userStore::AllocArray<t_phraseHit*>(arena, rows.size());
    if (!out) return 0;
    const int d = m_store.GetAttriDataTable(0);
    int n = 0;
    for (const uint8_t* row : rows) {
        const int16_t position = RdI16(row + kOffPosition);
        if (row[kOffState] == kPhraseDeleted || position < 1) continue;
        const t_lstr* text = n_userStore::ItemText(m_store, d, Rd32(row + kOffPhrase));
        if (!text) return 0;
        auto* hit = n_userStore::AllocArray<t_phraseHit>(arena, 1);
        t_lstr* copy = n_userStore::CopyLstr(arena, text);
        if (!hit || !copy) return 0;
        *hit = {copy, position};
        out[n++] = hit;
    }
    *items = out;
    *count = n;
    return 1;
}

bool t_abbrUsrDict::ListRows(std::vector<std::pair<const uint8_t*, const uint8_t*>>& pairs) const {
    pairs.clear();
    return Ready() && m_store.CollectItems(0, pairs);
}

int t_abbrUsrDict::GetVisibleItems(t_scopeHeap& arena, t_phraseItem*** items, int* count) const {
    if (!items || !count) return 0;
    *items = nullptr;
    *count = 0;
    std::vector<std::pair<const uint8_t*, const uint8_t*>> pairs;
    if (!ListRows(pairs)) return 0;
    auto** out = n_userStore::AllocArray<t_phraseItem*>(arena, pairs.size());
    if (!out) return 0;
    const int d = m_store.GetAttriDataTable(0);
    int n = 0;
    for (const auto& [keyRow, row] : pairs) {
        if (!row) return 0;
        if (row[kOffState] == kPhraseDeleted) continue;
        const t_lstr* key = n_userStore::RowKeyText(m_store, keyRow);
        const t_lstr* text = n_userStore::ItemText(m_store, d, Rd32(row + kOffPhrase));
        if (!key || !text) return 0;
        auto* rec = n_userStore::AllocArray<t_phraseItem>(arena, 1);
        t_lstr* k = n_userStore::CopyLstr(arena, key);
        t_lstr* p = n_userStore::CopyLstr(arena, text);
        if (!rec || !k || !p) return 0;
        *rec = {k, p, RdI16(row + kOffPosition)};
        out[n++] = rec;
    }
    *items = out;
    *count = n;
    return 1;
}

int t_abbrUsrDict::GetAllItems(t_scopeHeap& arena, t_phraseRecord*** items, int* count) const {
    if (!items || !count) return 0;
    *items = nullptr;
    *count = 0;
    std::vector<std::pair<const uint8_t*, const uint8_t*>> pairs;
    if (!ListRows(pairs)) return 0;
    auto** out = n_userStore::AllocArray<t_phraseRecord*>(arena, pairs.size());
    if (!out) return 0;
    const int d = m_store.GetAttriDataTable(0);
    int n = 0;
    for (const auto& [keyRow, row] : pairs) {
        if (!row) return 0;
        const t_lstr* key = n_userStore::RowKeyText(m_store, keyRow);
        const t_lstr* text = n_userStore::ItemText(m_store, d, Rd32(row + kOffPhrase));
        if (!key || !text) return 0;
        auto* rec = n_userStore::AllocArray<t_phraseRecord>(arena, 1);
        t_lstr* k = n_userStore::CopyLstr(arena, key);
        t_lstr* p = n_userStore::CopyLstr(arena, text);
        if (!rec || !k || !p) return 0;
        *rec = {k, p, RdI16(row + kOffPosition), row[kOffState]};
        out[n++] = rec;
    }
    *items = out;
    *count = n;
    return 1;
}

int t_abbrUsrDict::GetCount() const {
    if (!Ready()) return 0;
    const int32_t n = m_store.GetAttriUsedCount(0);
    return n > 0 ? n : 0;
}

int t_abbrUsrDict::SaveToFile(const wchar_t* path) const {
    if (!Ready()) return 0;
    return n_userStore::SaveStoreByRename(m_store, path, L".temp") ? 1 : 0;
}
