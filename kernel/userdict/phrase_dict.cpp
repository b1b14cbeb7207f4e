// The custom-phrase dictionary on its editable table file.
#include "kernel/userdict/phrase_dict.h"

#include <cstring>

#include "kernel/runtime/scope_heap.h"

using n_tableFormat::Rd32;
using n_tableFormat::RdI16;

namespace {

// Attri row: phrase offset, i16 position, u8 state, then the chain link.
constexpr uint32_t kOffPhrase = 0, kOffPosition = 4, kOffState = 6;

bool Dropped(const uint8_t* row) {
    return row[kOffState] == kPhraseDeleted || RdI16(row + kOffPosition) == 0;
}

// Deleted and position-0 rows first, then negative positions from the most
// negative up, then positive positions from the largest down: a trim drops
// what is never offered before the phrases at the front of the list.
bool RankLess(const uint8_t* a, const uint8_t* b) {
    const bool da = Dropped(a), db = Dropped(b);
    if (da) return !db;
    if (db) return false;
    const int16_t pa = RdI16(a + kOffPosition), pb = RdI16(b + kOffPosition);
    if (pa > 0) return pb > 0 && pa > pb;
    return pb > 0 || pa < pb;
}

int RemoveRow(uint8_t* row, uint8_t*, void*, int) {
    row[kOffState] = kPhraseDeleted;
    return 1;
}

int RowState(const uint8_t* row, void*) {
    return row[kOffState] == kPhraseDeleted ? kRowRemoved : kRowLive;
}

const n_userStore::t_storeShape& Shape() {
    static const n_userStore::t_storeShape shape{
        .formatVersion = t_abbrUsrDict::kFormatVersion,
        .keyType = 5,
        .fieldTypes = {0, 0, 5, 2},  // key, phrase, position, state
        .fieldOffsets = {kOffPhrase, kOffPosition, kOffState},
        .hasAttri = true,
        .bucketCount = t_abbrUsrDict::kBucketCount,
        .hashFns = {&t_abbrUsrDict::BucketOf},
        .compareFns = {&LstrCompare},
        .rankLess = &RankLess,
        .removeRow = &RemoveRow,
        .rowState = &RowState,
        .grows = true,
        .defaultRows = t_abbrUsrDict::kKeyRows,
        .defaultDataBytes = {t_abbrUsrDict::kKeyBytes, t_abbrUsrDict::kPhraseBytes},
    };
    return shape;
}

}  // namespace

int t_abbrUsrDict::BucketOf(const t_lstr* key) {
    if (!key || LstrGetLength(key) == 0) return 52;
    const uint16_t c = LstrGetUnit(key, 0);
    if (c >= 'a' && c <= 'z') return c - 'a';
    if (c >= 'A' && c <= 'Z') return 26 + (c - 'A');
    return 52;
}

t_abbrUsrDict::t_abbrUsrDict() : t_userStoreBase(Shape(), kRowLimit) {}

bool t_abbrUsrDict::BuildImageWithRoom(std::vector<uint8_t>& out, uint32_t rows, uint32_t keyBytes,
                                       uint32_t phraseBytes) {
    return n_userStore::BuildShapeImage(Shape(), rows, {keyBytes, phraseBytes}, out);
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
    return n_userStore::WriteDefaultImage(Shape(), path);
}

// Unlike the other stores' Save, the result tells whether the image was
// built, not whether the commit took.
bool t_abbrUsrDict::Save(const void*, int32_t) {
    t_scopeHeap arena(t_scopeHeap::kDefaultBlockSize);
    uint8_t* image = nullptr;
    uint32_t size = 0;
    if (!BuildImage(arena, &image, &size)) return false;
    CommitImage(image, int32_t(size));
    return true;
}

// ---------------------------------------------------------------- editing

bool t_abbrUsrDict::Find(const t_lstr* key, const t_lstr* phrase, t_editLocation* loc) const {
    return phrase && n_userStore::FindRecord(m_store, key, phrase, loc);
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
    return AddLimited(item, where);
}

bool t_abbrUsrDict::WriteState(const t_editLocation& loc, uint8_t state) {
    return WriteField(loc.attriRow, kOffState, state, 1);
}

bool t_abbrUsrDict::WritePosition(const t_editLocation& loc, int16_t position) {
    return WriteField(loc.attriRow, kOffPosition, uint16_t(position), 2);
}

int t_abbrUsrDict::Recorded(uint8_t op, int r, const t_lstr* key, const t_lstr* phrase,
                            int16_t position, uint8_t state) {
    if (r)
        RecordChange(
            t_changeRecord(op).PutLstr(key).PutLstr(phrase).Put16(uint16_t(position)).Put16(state));
    return r;
}

int t_abbrUsrDict::AddItem(const t_lstr* key, const t_lstr* phrase, int16_t position,
                           uint8_t state) {
    return Recorded(kChangeAdd, AddItemHere(key, phrase, position, state), key, phrase, position,
                    state);
}

int t_abbrUsrDict::MergeItem(const t_lstr* key, const t_lstr* phrase, int16_t position,
                             uint8_t state) {
    return Recorded(kChangeMerge, MergeItemHere(key, phrase, position, state), key, phrase,
                    position, state);
}

int t_abbrUsrDict::UpdateItemState(const t_lstr* key, const t_lstr* phrase, int16_t position,
                                   uint8_t state) {
    return Recorded(kChangeUpdate, UpdateItemStateHere(key, phrase, position, state), key, phrase,
                    position, state);
}

int t_abbrUsrDict::MarkDeleted(const t_lstr* key, const t_lstr* phrase, int16_t position) {
    return Recorded(kChangeDelete, MarkDeletedHere(key, phrase), key, phrase, position, 0);
}

bool t_abbrUsrDict::ApplyChange(t_changeReader& change) {
    const t_lstr *key = nullptr, *phrase = nullptr;
    uint16_t position = 0, state = 0;
    if (!change.GetLstr(&key) || !change.GetLstr(&phrase) || !change.Get16(&position) ||
        !change.Get16(&state) || state > 0xFF)
        return false;
    const auto p = int16_t(position);
    const auto s = uint8_t(state);
    switch (change.Op()) {
        case kChangeAdd:
            return AddItem(key, phrase, p, s) != 0;
        case kChangeMerge:
            return MergeItem(key, phrase, p, s) != 0;
        case kChangeUpdate:
            return UpdateItemState(key, phrase, p, s) != 0;
        case kChangeDelete:
            return MarkDeleted(key, phrase, p) != 0;
        default:
            return false;
    }
}

int t_abbrUsrDict::AddItemHere(const t_lstr* key, const t_lstr* phrase, int16_t position,
                               uint8_t state) {
    if (!Ready() || !n_userStore::FitsItem(key) || !n_userStore::FitsItem(phrase)) return 0;
    t_editLocation loc;
    const int r = Insert(key, phrase, position, state, &loc);
    if (r != 1) return r;
    if (!loc.itemFound || !WritePosition(loc, position) || !WriteState(loc, state)) return 0;
    return 1;
}

int t_abbrUsrDict::MergeItemHere(const t_lstr* key, const t_lstr* phrase, int16_t position,
                                 uint8_t state) {
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

int t_abbrUsrDict::UpdateItemStateHere(const t_lstr* key, const t_lstr* phrase, int16_t position,
                                       uint8_t state) {
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

int t_abbrUsrDict::MarkDeletedHere(const t_lstr* key, const t_lstr* phrase) {
    if (!Ready() || !n_userStore::FitsItem(key) || !n_userStore::FitsItem(phrase)) return 0;
    t_editLocation loc;
    if (!Find(key, phrase, &loc)) return 0;
    if (!loc.itemFound) return 1;
    if (!loc.attriRow.ptr) return 0;
    return WriteState(loc, kPhraseDeleted) ? 1 : 0;
}

// ---------------------------------------------------------------- reading

int t_abbrUsrDict::Lookup(t_scopeHeap& arena, const t_lstr* key, t_phraseHit*** items,
                          int* count) const {
    if (!items || !count) return 0;
    *items = nullptr;
    *count = 0;
    if (!Ready() || !n_userStore::FitsItem(key)) return 0;
    std::vector<const uint8_t*> rows;
    if (!n_userStore::CollectKeyChain(m_store, key, rows)) return 1;
    auto** out = n_userStore::AllocArray<t_phraseHit*>(arena, rows.size());
    if (!out) return 0;
    const int d = m_store.GetAttriDataTable(0);
    int n = 0;
    for (const uint8_t* row : rows) {
        const int16_t position = RdI16(row + kOffPosition);
        if (row[kOffState] == kPhraseDeleted || position < 1) continue;
        auto* hit = n_userStore::AllocArray<t_phraseHit>(arena, 1);
        t_lstr* copy = n_userStore::CopyItemText(arena, m_store, d, Rd32(row + kOffPhrase));
        if (!hit || !copy) return 0;
        *hit = {copy, position};
        out[n++] = hit;
    }
    *items = out;
    *count = n;
    return 1;
}

int t_abbrUsrDict::GetVisibleItems(t_scopeHeap& arena, t_phraseItem*** items, int* count) const {
    const int d = m_store.GetAttriDataTable(0);
    return n_userStore::ListRecords(
        m_store, Ready(), arena, items, count,
        [](const uint8_t* row) { return row[kOffState] != kPhraseDeleted; },
        [&](const uint8_t* keyRow, const uint8_t* row, t_phraseItem* rec) {
            *rec = {n_userStore::CopyRowKey(arena, m_store, keyRow),
                    n_userStore::CopyItemText(arena, m_store, d, Rd32(row + kOffPhrase)),
                    RdI16(row + kOffPosition)};
            return rec->key && rec->phrase;
        });
}

int t_abbrUsrDict::GetAllItems(t_scopeHeap& arena, t_phraseRecord*** items, int* count) const {
    const int d = m_store.GetAttriDataTable(0);
    return n_userStore::ListRecords(
        m_store, Ready(), arena, items, count, [](const uint8_t*) { return true; },
        [&](const uint8_t* keyRow, const uint8_t* row, t_phraseRecord* rec) {
            *rec = {n_userStore::CopyRowKey(arena, m_store, keyRow),
                    n_userStore::CopyItemText(arena, m_store, d, Rd32(row + kOffPhrase)),
                    RdI16(row + kOffPosition), row[kOffState]};
            return rec->key && rec->phrase;
        });
}
