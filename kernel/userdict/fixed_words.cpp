// Fixed-first words on an editable table file.
#include "kernel/userdict/fixed_words.h"

#include "kernel/runtime/scope_heap.h"

using n_tableFormat::kNone;
using n_tableFormat::Rd32;

namespace {

// Attri row: word, second text, third text, state, then the chain link.
constexpr uint32_t kOffWord = 0, kOffSecond = 4, kOffThird = 8, kOffState = 12;

}  // namespace

t_fixFirstDict::t_fixFirstDict()
    : m_store(&t_fixFirstDict::RankLess, &t_fixFirstDict::RemoveRow, nullptr, &t_fixFirstDict::RowState, nullptr,
              0) {}

t_fixFirstDict::~t_fixFirstDict() {
    m_store.Detach();
    m_image.Release();
}

// Deleted records first; the others rank alike.
bool t_fixFirstDict::RankLess(const uint8_t* a, const uint8_t* b) {
    return a[kOffState] == kFixDeleted && b[kOffState] != kFixDeleted;
}

int t_fixFirstDict::RemoveRow(uint8_t* row, uint8_t*, void*, int) {
    row[kOffState] = kFixDeleted;
    return 1;
}

int t_fixFirstDict::RowState(const uint8_t* row, void*) {
    return row[kOffState] == kFixDeleted ? kRowRemoved : kRowLive;
}

bool t_fixFirstDict::BuildImage(std::vector<uint8_t>& out, uint32_t rows, uint32_t keyBytes, uint32_t textBytes) {
    if (rows == 0 || rows > 10000000u) return false;
    t_keyDesc key;
    key.keyType = 1;
    key.fieldTypes = {0, 0, 0, 0, 2};  // key, word, second, third, state
    key.attriIndex = 0;
    key.keyDataTable = 0;
    key.capacity = rows;
    t_attriDesc attri;
    attri.fieldCount = 4;
    attri.ownerKey = 0;
    attri.dataTable = 1;
    attri.capacity = rows;
    return n_userStore::BuildEmptyImage({key}, {attri}, {keyBytes ? keyBytes : 10 * rows, textBytes ? textBytes : 30 * rows}, kFormatVersion, {}, {}, {0}, out);
}

int t_fixFirstDict::BuildImageToFile(const wchar_t* path) {
    std::vector<uint8_t> image;
    return BuildImage(image, kRows) && n_userStore::WriteImageFile(path, image) ? 1 : 0;
}

bool t_fixFirstDict::Attach(void* image, uint64_t size) {
    SetReady(false);
    m_store.Detach();
    if (!image || size == 0 || size > t_editableTableFile::kMaxImageSize) return false;
    if (!m_store.AttachWithExtra(image, kFormatVersion, {}, {}, int64_t(size))) return false;
    if (!n_userStore::HasLayout(m_store, 1, {0, 0, 0, 0, 2}, {kOffWord, kOffSecond, kOffThird, kOffState}) ||
        m_store.GetDataCount() != 2) {
        m_store.Detach();
        return false;
    }
    SetReady(true);
    return true;
}

bool t_fixFirstDict::Load(void* data, int32_t size) {
    const bool ok = size > 0 && Attach(data, uint64_t(size));
    m_image.Release();
    return ok;
}

bool t_fixFirstDict::Save(const void*, int32_t) {
    std::vector<uint8_t> image;
    return BuildImage(image, kRows) && CommitImage(image.data(), int32_t(image.size()));
}

bool t_fixFirstDict::AttachFile(const wchar_t* path) {
    std::vector<uint8_t> bytes;
    if (!n_userStore::ReadWholeFile(path, bytes)) {
        SetReady(false);
        m_store.Detach();
        return false;
    }
    return AttachCopy(bytes.data(), bytes.size());
}

bool t_fixFirstDict::AttachCopy(const void* data, uint64_t size) {
    m_store.Detach();
    uint8_t* copy = m_image.AdoptCopy(data, size);
    if (!copy) {
        SetReady(false);
        return false;
    }
    return Attach(copy, size);
}

bool t_fixFirstDict::Fits(const t_lstr* key, const t_lstr* word, const t_lstr* second, const t_lstr* third) {
    if (!key || !word || !second || !third) return false;
    const uint64_t total = uint64_t(LstrGetTotalBytes(key)) + LstrGetTotalBytes(word) + LstrGetTotalBytes(second) +
                           LstrGetTotalBytes(third);
    return total <= kMaxRecordBytes;
}

int t_fixFirstDict::Append(const t_lstr* key, const t_lstr* word, const t_lstr* second, const t_lstr* third,
                           uint8_t state) {
    n_userStore::t_itemBuf item;
    item.PutLstr(key);
    item.PutLstr(word);
    item.PutLstr(second);
    item.PutLstr(third);
    item.Put8(state);
    // The add relieves a nearly full store itself (a trim: deleted pins go first).
    int32_t keys = m_rowLimit, attris = m_rowLimit;
    return m_store.AddItem(item.Data(), item.Size(), 0, &keys, &attris) != 0 ? 1 : 0;
}

bool t_fixFirstDict::WriteState(const uint8_t* row, uint8_t state) {
    if (row[kOffState] == state) return true;
    return m_store.SetFieldAt(&state, 1, n_userStore::AttriRowOf(m_store, row), kOffState, false);
}

int t_fixFirstDict::SetFixedWord(const t_lstr* key, const t_lstr* word, const t_lstr* second, const t_lstr* third) {
    if (!Ready() || !Fits(key, word, second, third)) return 0;
    const uint8_t* keyRow = nullptr;
    std::vector<const uint8_t*> rows;
    if (!m_store.FindRow(key, 0, &keyRow) || !keyRow || !n_userStore::CollectChain(m_store, keyRow, rows))
        return Append(key, word, second, third, kFixActive);
    const int d = m_store.GetAttriDataTable(0);
    bool matched = false;
    for (const uint8_t* row : rows) {
        const t_lstr* stored = n_userStore::ItemText(m_store, d, Rd32(row + kOffWord));
        const bool same = stored && LstrCompare(stored, word) == 0;
        if (!WriteState(row, same ? kFixActive : kFixDeleted)) return 0;
        matched = matched || same;
    }
    if (matched) return 1;
    return Append(key, word, second, third, kFixActive);
}

int t_fixFirstDict::MergeFixedWord(const t_lstr* key, const t_lstr* word, const t_lstr* second, const t_lstr* third,
                                   uint8_t state) {
    if (!Ready() || !Fits(key, word, second, third)) return 0;
    const uint8_t* keyRow = nullptr;
    std::vector<const uint8_t*> rows;
    if (!m_store.FindRow(key, 0, &keyRow) || !keyRow || !n_userStore::CollectChain(m_store, keyRow, rows))
        return Append(key, word, second, third, state);
    const int d = m_store.GetAttriDataTable(0);
    bool matched = false, otherActive = false;
    for (const uint8_t* row : rows) {
        const t_lstr* stored = n_userStore::ItemText(m_store, d, Rd32(row + kOffWord));
        const bool same = stored && LstrCompare(stored, word) == 0;
        const uint8_t r = row[kOffState];
        if (!same) {
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
    const uint8_t* keyRow = nullptr;
    std::vector<const uint8_t*> rows;
    if (!m_store.FindRow(key, 0, &keyRow) || !keyRow || !n_userStore::CollectChain(m_store, keyRow, rows)) return 0;
    const int d = m_store.GetAttriDataTable(0);
    for (const uint8_t* row : rows) {
        if (row[kOffState] == kFixDeleted) continue;
        const t_lstr* w = n_userStore::ItemText(m_store, d, Rd32(row + kOffWord));
        const t_lstr* s = n_userStore::ItemText(m_store, d, Rd32(row + kOffSecond));
        const t_lstr* t = n_userStore::ItemText(m_store, d, Rd32(row + kOffThird));
        if (!w || !s || !t) return 0;
        t_fixedWord out{n_userStore::CopyLstr(arena, w), n_userStore::CopyLstr(arena, s),
                        n_userStore::CopyLstr(arena, t)};
        if (!out.word || !out.second || !out.third) return 0;
        *result = out;
        return 1;
    }
    return 0;
}

int t_fixFirstDict::RemoveItem(const t_lstr* key, const t_lstr* word) {
    if (!Ready() || !key || !word || uint64_t(LstrGetTotalBytes(key)) + LstrGetTotalBytes(word) > kMaxRecordBytes)
        return 0;
    n_userStore::t_itemBuf k, w;
    k.PutLstr(key);
    w.PutLstr(word);
    t_editLocation loc;
    if (!m_store.FindKeyValue(k.Data(), w.Data(), &loc)) return 0;
    if (!loc.itemFound) return 1;
    const uint8_t state = kFixDeleted;
    return m_store.SetFieldAt(&state, 1, loc.attriRow, kOffState, false) ? 1 : 0;
}

int t_fixFirstDict::GetAllItems(t_scopeHeap& arena, t_fixedRecord*** items, int* count) const {
    if (!items || !count) return 0;
    *items = nullptr;
    *count = 0;
    std::vector<std::pair<const uint8_t*, const uint8_t*>> pairs;
    if (!Ready() || !m_store.CollectItems(0, pairs)) return 0;
    auto** out = n_userStore::AllocArray<t_fixedRecord*>(arena, pairs.size());
    if (!out) return 0;
    const int d = m_store.GetAttriDataTable(0);
    int n = 0;
    for (const auto& [keyRow, row] : pairs) {
        if (!row) return 0;
        const t_lstr* k = n_userStore::RowKeyText(m_store, keyRow);
        const t_lstr* w = n_userStore::ItemText(m_store, d, Rd32(row + kOffWord));
        const t_lstr* s = n_userStore::ItemText(m_store, d, Rd32(row + kOffSecond));
        const t_lstr* t = n_userStore::ItemText(m_store, d, Rd32(row + kOffThird));
        auto* rec = n_userStore::AllocArray<t_fixedRecord>(arena, 1);
        if (!k || !w || !s || !t || !rec) return 0;
        *rec = {n_userStore::CopyLstr(arena, k), n_userStore::CopyLstr(arena, w), n_userStore::CopyLstr(arena, s),
                n_userStore::CopyLstr(arena, t), row[kOffState]};
        if (!rec->key || !rec->word || !rec->second || !rec->third) return 0;
        out[n++] = rec;
    }
    *items = out;
    *count = n;
    return 1;
}

int t_fixFirstDict::GetCount() const {
    if (!Ready()) return 0;
    const int32_t n = m_store.GetAttriUsedCount(0);
    return n > 0 ? n : 0;
}

uint32_t t_fixFirstDict::GetCheckNumber() const {
    return Ready() ? m_store.GetCheckNum() : 0;
}

int t_fixFirstDict::SaveToFile(const wchar_t* path) const {
    if (!Ready()) return 0;
    return n_userStore::SaveStoreByRename(m_store, path, L".temp") ? 1 : 0;
}

int GetFixFirstFileCount(const wchar_t* path) {
    t_fixFirstDict dict;
    if (!dict.AttachFile(path)) return 0;
    return dict.GetCount();
}
