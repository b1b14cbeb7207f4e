// Contact names on an editable table file.
#include "kernel/userdict/contacts.h"

using n_tableFormat::Rd32;
using n_tableFormat::RdI32;

namespace {

// Attri row: word, i32 weight, then the chain link.
constexpr uint32_t kOffWord = 0, kOffWeight = 4;

// Disabled names first, then the enabled ones from the lowest weight up.
bool RankLess(const uint8_t* a, const uint8_t* b) {
    return RdI32(a + kOffWeight) < RdI32(b + kOffWeight);
}

// Disables the name; a weight of 0 stays enabled but still counts.
int RemoveRow(uint8_t* row, uint8_t*, void*, int) {
    const int32_t w = RdI32(row + kOffWeight);
    if (w > 0) n_tableFormat::Wr32(row + kOffWeight, uint32_t(-w));
    return 1;
}

int RowState(const uint8_t* row, void*) {
    return RdI32(row + kOffWeight) < 0 ? kRowRemoved : kRowLive;
}

const n_userStore::t_storeShape& Shape() {
    static const n_userStore::t_storeShape shape{
        .formatVersion = t_contactsDict::kFormatVersion,
        .keyType = 2,
        .fieldTypes = {0, 0, 7},  // key, word, weight
        .fieldOffsets = {kOffWord, kOffWeight},
        .hasAttri = true,
        .bucketCount = t_contactsDict::kBucketCount,
        .rankLess = &RankLess,
        .removeRow = &RemoveRow,
        .rowState = &RowState,
        .grows = true,
        .defaultRows = t_contactsDict::kRows,
        .defaultDataBytes = {t_contactsDict::kDataBytes, t_contactsDict::kDataBytes},
    };
    return shape;
}

}  // namespace

t_contactsDict::t_contactsDict() : t_userStoreBase(Shape(), kRowLimit) {}

bool t_contactsDict::BuildImage(std::vector<uint8_t>& out, uint32_t rows, uint32_t dataBytes) {
    if (rows == 0 || rows > 10000000u || dataBytes == 0) return false;
    return n_userStore::BuildShapeImage(Shape(), rows, {dataBytes, dataBytes}, out);
}

int t_contactsDict::BuildImageToFile(const wchar_t* path) {
    return n_userStore::WriteDefaultImage(Shape(), path) ? 1 : 0;
}

bool t_contactsDict::WriteWeight(const t_editRow& row, int32_t weight) {
    return WriteField(row, kOffWeight, uint32_t(weight), 4);
}

int t_contactsDict::AddItem(const t_lstr* key, const t_lstr* word, int32_t weight) {
    if (!Ready() || !n_userStore::FitsItem(key) || !n_userStore::FitsItem(word)) return 0;
    n_userStore::t_itemBuf item;
    item.PutLstr(key);
    item.PutLstr(word);
    item.Put32(uint32_t(weight));
    t_editLocation where;
    const int r = AddLimited(item, &where);
    if (r == 0) return 0;
    if (r != 1) return 1;
    if (!where.itemFound) return 0;
    if (RdI32(where.attriRow.ptr + kOffWeight) < 0 && !WriteWeight(where.attriRow, weight))
        return 0;
    return 1;
}

int t_contactsDict::DisableItem(const t_lstr* key, const t_lstr* word) {
    if (!Ready() || !word) return 0;
    t_editLocation loc;
    if (!n_userStore::FindRecord(m_store, key, word, &loc)) return 0;
    if (!loc.itemFound) return 1;
    const int32_t weight = RdI32(loc.attriRow.ptr + kOffWeight);
    if (weight <= 0) return 1;
    return WriteWeight(loc.attriRow, -weight) ? 1 : 0;
}

int t_contactsDict::DisableAll() {
    if (!Ready()) return -1;
    std::vector<std::pair<const uint8_t*, const uint8_t*>> pairs;
    if (!m_store.CollectItems(0, pairs)) return -1;
    int n = 0;
    for (const auto& [keyRow, row] : pairs) {
        if (!row) return -1;
        const int32_t weight = RdI32(row + kOffWeight);
        if (weight <= 0) continue;
        if (!WriteWeight(n_userStore::AttriRowOf(m_store, row), -weight)) return -1;
        ++n;
    }
    return n;
}

int32_t t_contactsDict::Find(const t_lstr* key, int* extends) const {
    if (extends) *extends = 0;
    if (!Ready() || !n_userStore::FitsItem(key)) return -1;
    return n_userStore::FindHandle(m_store, key, extends, nullptr);
}

int t_contactsDict::FindExtending(const t_lstr* key, int32_t* handles, const t_lstr** keys,
                                  int maximum, int* count) const {
    if (!key || !handles || !keys || !count) return 0;
    *count = 0;
    if (!Ready() || !n_userStore::FitsItem(key)) return 0;
    n_userStore::t_keyNeighbours at;
    if (!n_userStore::LocateKey(m_store, key, &at)) return 1;
    const int32_t rowSize = m_store.GetKeyRowSize(0);
    for (int32_t r = at.found ? at.row + 1 : at.row; *count < maximum; ++r) {
        if (!n_userStore::RowExtends(m_store, at, r, key)) break;
        handles[*count] = int32_t(int64_t(at.bucketStart) + int64_t(r) * rowSize);
        keys[*count] = m_store.Reader().GetKeyRow(0, at.bucketStart, r);
        ++*count;
    }
    return 1;
}

int t_contactsDict::GetEntries(int32_t handle, uint32_t* words, int32_t* weights,
                               int maximum) const {
    if (!Ready() || maximum < 1) return 0;
    std::vector<const uint8_t*> rows;
    if (!n_userStore::CollectChain(m_store, n_userStore::KeyRowAt(m_store, handle), rows)) return 0;
    int n = 0, looked = 0;
    for (const uint8_t* row : rows) {
        if (looked++ >= maximum) break;
        const int32_t weight = RdI32(row + kOffWeight);
        if (weight < 0) continue;
        if (words) words[n] = Rd32(row + kOffWord);
        if (weights) weights[n] = weight;
        ++n;
    }
    return n;
}

const t_lstr* t_contactsDict::GetWord(uint32_t ref) const {
    return RecordText(ref);
}
