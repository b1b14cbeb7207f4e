// Deleted words on an editable table file of key rows {word, value}.
#include "kernel/userdict/deleted_words.h"

using n_tableFormat::Rd32;

namespace {

constexpr uint32_t kOffValue = 4;  // key row: word offset, u32 value

// Oldest deletion first.
bool RankLess(const uint8_t* a, const uint8_t* b) {
    return Rd32(a + kOffValue) < Rd32(b + kOffValue);
}

int RemoveRow(uint8_t* row, uint8_t*, void*, int) {
    n_tableFormat::Wr32(row + kOffValue, 0);
    return 1;
}

int RowState(const uint8_t* row, void*) {
    return Rd32(row + kOffValue) == 0 ? kRowRemoved : kRowLive;
}

const n_userStore::t_storeShape& Shape() {
    static const n_userStore::t_storeShape shape{
        .formatVersion = t_delWordDict::kFormatVersion,
        .keyType = 3,
        .fieldTypes = {0, 8},  // word, value
        .fieldOffsets = {kOffValue},
        .bucketCount = t_delWordDict::kBucketCount,
        .rankLess = &RankLess,
        .removeRow = &RemoveRow,
        .rowState = &RowState,
        .grows = true,
        .defaultRows = t_delWordDict::kRows,
        .defaultDataBytes = {10 * t_delWordDict::kRows},
    };
    return shape;
}

}  // namespace

t_delWordDict::t_delWordDict() : t_userStoreBase(Shape(), kRowLimit) {}

bool t_delWordDict::BuildImage(std::vector<uint8_t>& out, uint32_t n, uint32_t textBytes) {
    if (n == 0 || n > 100000000u) return false;
    return n_userStore::BuildShapeImage(Shape(), n, {textBytes ? textBytes : 10 * n}, out);
}

int t_delWordDict::BuildImageToFile(const wchar_t* path, uint32_t n) {
    std::vector<uint8_t> image;
    return BuildImage(image, n) && n_userStore::WriteImageFile(path, image) ? 1 : 0;
}

int t_delWordDict::AddWord(const t_lstr* word, uint32_t value) {
    const int r = AddWordHere(word, value);
    if (r) RecordChange(t_changeRecord(kChangeAdd).PutLstr(word).Put32(value));
    return r;
}

int t_delWordDict::ClearWord(const t_lstr* word) {
    const int r = ClearWordHere(word);
    if (r) RecordChange(t_changeRecord(kChangeClear).PutLstr(word));
    return r;
}

bool t_delWordDict::ApplyChange(t_changeReader& change) {
    const t_lstr* word = nullptr;
    uint32_t value = 0;
    if (!change.GetLstr(&word)) return false;
    if (change.Op() == kChangeAdd) return change.Get32(&value) && AddWord(word, value) != 0;
    return change.Op() == kChangeClear && ClearWord(word) != 0;
}

int t_delWordDict::AddWordHere(const t_lstr* word, uint32_t value) {
    if (!Ready() || !n_userStore::FitsItem(word)) return 0;
    n_userStore::t_itemBuf item;
    item.PutLstr(word);
    item.Put32(value);
    t_editLocation where;
    const int r = AddLimited(item, &where);
    if (r == 0) return 0;
    if (r != 1) return 1;  // a new row carries the value already
    return where.keyFound && WriteField(where.keyRow, kOffValue, value, 4) ? 1 : 0;
}

int t_delWordDict::ClearWordHere(const t_lstr* word) {
    if (!Ready() || !n_userStore::FitsItem(word)) return 0;
    t_editLocation loc;
    if (!n_userStore::FindRecord(m_store, word, nullptr, &loc)) return 0;
    if (!loc.keyFound) return 1;
    return WriteField(loc.keyRow, kOffValue, 0, 4) ? 1 : 0;
}

int t_delWordDict::IsDeleted(const t_lstr* word) const {
    if (!Ready() || !n_userStore::FitsItem(word)) return 0;
    const uint8_t* row = nullptr;
    if (!m_store.FindRow(word, 0, &row) || !row) return 0;
    return Rd32(row + kOffValue) != 0 ? 1 : 0;
}
