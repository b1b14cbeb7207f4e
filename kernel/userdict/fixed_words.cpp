// Fixed-first words on an editable table file.
#include "kernel/userdict/fixed_words.h"

#include "kernel/runtime/scope_heap.h"

using n_tableFormat::Rd32;

namespace {

// Attri row: word, second text, third text, state, then the chain link.
constexpr uint32_t kOffWord = 0, kOffSecond = 4, kOffThird = 8, kOffState = 12;

// Deleted records first; the others rank alike.
bool RankLess(const uint8_t* a, const uint8_t* b) {
    return a[kOffState] == kFixDeleted && b[kOffState] != kFixDeleted;
}

int RemoveRow(uint8_t* row, uint8_t*, void*, int) {
    row[kOffState] = kFixDeleted;
    return 1;
}

int RowState(const uint8_t* row, void*) {
    return row[kOffState] == kFixDeleted ? kRowRemoved : kRowLive;
}

const n_userStore::t_storeShape& Shape() {
    static const n_userStore::t_storeShape shape{
        .formatVersion = t_fixFirstDict::kFormatVersion,
        .keyType = 1,
        .fieldTypes = {0, 0, 0, 0, 2},  // key, word, second, third, state
        .fieldOffsets = {kOffWord, kOffSecond, kOffThird, kOffState},
        .hasAttri = true,
        .rankLess = &RankLess,
        .removeRow = &RemoveRow,
        .rowState = &RowState,
        .defaultRows = t_fixFirstDict::kRows,
        .defaultDataBytes = {10 * t_fixFirstDict::kRows, 30 * t_fixFirstDict::kRows},
    };
    return shape;
}

}  // namespace

t_fixFirstDict::t_fixFirstDict() : t_userStoreBase(Shape(), kRowLimit) {}

bool t_fixFirstDict::BuildImage(std::vector<uint8_t>& out, uint32_t rows, uint32_t keyBytes,
                                uint32_t textBytes) {
    if (rows == 0 || rows > 10000000u) return false;
    return n_userStore::BuildShapeImage(
        Shape(), rows, {keyBytes ? keyBytes : 10 * rows, textBytes ? textBytes : 30 * rows}, out);
}

int t_fixFirstDict::BuildImageToFile(const wchar_t* path) {
    return n_userStore::WriteDefaultImage(Shape(), path) ? 1 : 0;
}

bool t_fixFirstDict::Fits(const t_lstr* key, const t_lstr* word, const t_lstr* second,
                          const t_lstr* third) {
    if (!key || !word || !second || !third) return false;
    const uint64_t total = uint64_t(LstrGetTotalBytes(key)) + LstrGetTotalBytes(word) +
                           LstrGetTotalBytes(second) + LstrGetTotalBytes(third);
    return total <= kMaxRecordBytes;
}

int t_fixFirstDict::Append(const t_lstr* key, const t_lstr* word, const t_lstr* second,
                           const t_lstr* third, uint8_t state) {
    n_userStore::t_itemBuf item;
    item.PutLstr(key);
    item.PutLstr(word);
    item.PutLstr(second);
    item.PutLstr(third);
    item.Put8(state);
    // The add relieves a nearly full store itself (a trim: deleted pins go first).
    return AddLimited(item, nullptr) != 0 ? 1 : 0;
}

bool t_fixFirstDict::WriteState(const uint8_t* row, uint8_t state) {
    if (row[kOffState] == state) return true;
    return WriteField(n_userStore::AttriRowOf(m_store, row), kOffState, state, 1);
}

bool t_fixFirstDict::IsWord(const uint8_t* row, const t_lstr* word) const {
    const t_lstr* stored =
        n_userStore::ItemText(m_store, m_store.GetAttriDataTable(0), Rd32(row + kOffWord));
    return stored && LstrCompare(stored, word) == 0;
}

int t_fixFirstDict::SetFixedWord(const t_lstr* key, const t_lstr* word, const t_lstr* second,
                                 const t_lstr* third) {
    const int r = SetFixedWordHere(key, word, second, third);
    if (r)
        RecordChange(
            t_changeRecord(kChangeSet).PutLstr(key).PutLstr(word).PutLstr(second).PutLstr(third));
    return r;
}

int t_fixFirstDict::MergeFixedWord(const t_lstr* key, const t_lstr* word, const t_lstr* second,
                                   const t_lstr* third, uint8_t state) {
    const int r = MergeFixedWordHere(key, word, second, third, state);
    if (r)
        RecordChange(t_changeRecord(kChangeMerge)
                         .PutLstr(key)
                         .PutLstr(word)
                         .PutLstr(second)
                         .PutLstr(third)
                         .Put16(state));
    return r;
}

int t_fixFirstDict::RemoveItem(const t_lstr* key, const t_lstr* word) {
    const int r = RemoveItemHere(key, word);
    if (r) RecordChange(t_changeRecord(kChangeRemove).PutLstr(key).PutLstr(word));
    return r;
}

bool t_fixFirstDict::ApplyChange(t_changeReader& change) {
    const t_lstr *key = nullptr, *word = nullptr, *second = nullptr, *third = nullptr;
    uint16_t state = 0;
    if (!change.GetLstr(&key) || !change.GetLstr(&word)) return false;
    if (change.Op() == kChangeRemove) return RemoveItem(key, word) != 0;
    if (!change.GetLstr(&second) || !change.GetLstr(&third)) return false;
    if (change.Op() == kChangeSet) return SetFixedWord(key, word, second, third) != 0;
    return change.Op() == kChangeMerge && change.Get16(&state) && state <= 0xFF &&
           MergeFixedWord(key, word, second, third, uint8_t(state)) != 0;
}

int t_fixFirstDict::SetFixedWordHere(const t_lstr* key, const t_lstr* word, const t_lstr* second,
                                     const t_lstr* third) {
    if (!Ready() || !Fits(key, word, second, third)) return 0;
    std::vector<const uint8_t*> rows;
    if (!n_userStore::CollectKeyChain(m_store, key, rows))
        return Append(key, word, second, third, kFixActive);
    bool matched = false;
    for (const uint8_t* row : rows) {
        const bool same = IsWord(row, word);
        if (!WriteState(row, same ? kFixActive : kFixDeleted)) return 0;
        matched = matched || same;
    }
    if (matched) return 1;
    return Append(key, word, second, third, kFixActive);
}

int t_fixFirstDict::MergeFixedWordHere(const t_lstr* key, const t_lstr* word, const t_lstr* second,
                                       const t_lstr* third, uint8_t state) {
    if (!Ready() || !Fits(key, word, second, third)) return 0;
    std::vector<const uint8_t*> rows;
    if (!n_userStore::CollectKeyChain(m_store, key, rows))
        return Append(key, word, second, third, state);
    bool matched = false, otherActive = false;
    for (const uint8_t* row : rows) {
        const uint8_t r = row[kOffState];
        if (!IsWord(row, word)) {
            if (state == kFixActive && r == kFixPlain) {
                if (!WriteState(row, kFixDeleted)) return 0;
            } else if (r == kFixActive) {
                otherActive = true;
            }
        } else {
            if (state == kFixDeleted && r == kFixPlain && !WriteState(row, kFixDeleted)) return 0;
            matched = true;
        }
    }
    if (matched) return 1;
    return Append(key, word, second, third, otherActive ? uint8_t(kFixDeleted) : state);
}

int t_fixFirstDict::GetFixedWord(t_scopeHeap& arena, const t_lstr* key, t_fixedWord* result) const {
    if (!result || !Ready() || !n_userStore::FitsItem(key)) return 0;
    std::vector<const uint8_t*> rows;
    if (!n_userStore::CollectKeyChain(m_store, key, rows)) return 0;
    const int d = m_store.GetAttriDataTable(0);
    for (const uint8_t* row : rows) {
        if (row[kOffState] == kFixDeleted) continue;
        const t_fixedWord out{n_userStore::CopyItemText(arena, m_store, d, Rd32(row + kOffWord)),
                              n_userStore::CopyItemText(arena, m_store, d, Rd32(row + kOffSecond)),
                              n_userStore::CopyItemText(arena, m_store, d, Rd32(row + kOffThird))};
        if (!out.word || !out.second || !out.third) return 0;
        *result = out;
        return 1;
    }
    return 0;
}

int t_fixFirstDict::RemoveItemHere(const t_lstr* key, const t_lstr* word) {
    if (!Ready() || !key || !word ||
        uint64_t(LstrGetTotalBytes(key)) + LstrGetTotalBytes(word) > kMaxRecordBytes)
        return 0;
    t_editLocation loc;
    if (!n_userStore::FindRecord(m_store, key, word, &loc)) return 0;
    if (!loc.itemFound) return 1;
    return WriteField(loc.attriRow, kOffState, kFixDeleted, 1) ? 1 : 0;
}

int t_fixFirstDict::GetAllItems(t_scopeHeap& arena, t_fixedRecord*** items, int* count) const {
    const int d = m_store.GetAttriDataTable(0);
    return n_userStore::ListRecords(
        m_store, Ready(), arena, items, count, [](const uint8_t*) { return true; },
        [&](const uint8_t* keyRow, const uint8_t* row, t_fixedRecord* rec) {
            *rec = {n_userStore::CopyRowKey(arena, m_store, keyRow),
                    n_userStore::CopyItemText(arena, m_store, d, Rd32(row + kOffWord)),
                    n_userStore::CopyItemText(arena, m_store, d, Rd32(row + kOffSecond)),
                    n_userStore::CopyItemText(arena, m_store, d, Rd32(row + kOffThird)),
                    row[kOffState]};
            return rec->key && rec->word && rec->second && rec->third;
        });
}

uint32_t t_fixFirstDict::GetCheckNumber() const {
    return Ready() ? m_store.GetCheckNum() : 0;
}

int GetFixFirstFileCount(const wchar_t* path) {
    t_fixFirstDict dict;
    if (!dict.AttachFile(path)) return 0;
    return dict.GetCount();
}
