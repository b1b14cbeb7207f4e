// Deleted words on an editable table file of key rows {word, value}.
#include "kernel/userdict/deleted_words.h"

using n_tableFormat::kNone;
using n_tableFormat::Rd32;

namespace {

constexpr uint32_t kOffValue = 4;  // key row: word offset, u32 value

}  // namespace

t_delWordDict::t_delWordDict()
    : m_store(&t_delWordDict::OnGrown, this, &t_delWordDict::RankLess, &t_delWordDict::RemoveRow, nullptr,
              &t_delWordDict::RowState, nullptr, 0, nullptr, true) {}

t_delWordDict::~t_delWordDict() {
    m_store.Detach();
    m_image.Release();
}

uint8_t* t_delWordDict::OnGrown(const t_grownImage& img, void* context) {
    return static_cast<t_delWordDict*>(context)->m_image.Adopt(img.totalSize);
}

// Oldest deletion first.
bool t_delWordDict::RankLess(const uint8_t* a, const uint8_t* b) {
    return Rd32(a + kOffValue) < Rd32(b + kOffValue);
}

int t_delWordDict::RemoveRow(uint8_t* row, uint8_t*, void*, int) {
    n_tableFormat::Wr32(row + kOffValue, 0);
    return 1;
}

int t_delWordDict::RowState(const uint8_t* row, void*) {
    return Rd32(row + kOffValue) == 0 ? kRowRemoved : kRowLive;
}

bool t_delWordDict::BuildImage(std::vector<uint8_t>& out, uint32_t n, uint32_t textBytes) {
    if (n == 0 || n > 100000000u) return false;
    t_keyDesc key;
    key.keyType = 3;
    key.fieldTypes = {0, 8};  // word, value
    key.attriIndex = kNone;
    key.keyDataTable = 0;
    key.capacity = n;
    return n_userStore::BuildEmptyImage({key}, {}, {textBytes ? textBytes : 10 * n}, kFormatVersion, {}, {}, {kBucketCount}, out);
}

int t_delWordDict::BuildImageToFile(const wchar_t* path, uint32_t n) {
    std::vector<uint8_t> image;
    return BuildImage(image, n) && n_userStore::WriteImageFile(path, image) ? 1 : 0;
}

bool t_delWordDict::Attach(void* image, uint64_t size) {
    SetReady(false);
    m_store.Detach();
    if (!image || size == 0 || size > t_editableTableFile::kMaxImageSize) return false;
    m_store.SetBucketCount(0, kBucketCount);
    if (!m_store.AttachWithExtra(image, kFormatVersion, {}, {}, int64_t(size))) return false;
    const t_tableLayout& layout = m_store.GetLayout();
    if (!n_userStore::HasLayout(m_store, 3, {0, 8}, {}) || layout.keyLayouts[0].fieldOffsets.size() < 2 ||
        layout.keyLayouts[0].fieldOffsets[1] != kOffValue) {
        m_store.Detach();
        return false;
    }
    SetReady(true);
    return true;
}

bool t_delWordDict::Load(void* data, int32_t size) {
    const bool ok = size > 0 && Attach(data, uint64_t(size));
    m_image.Release();
    return ok;
}

bool t_delWordDict::Save(const void*, int32_t) {
    std::vector<uint8_t> image;
    return BuildImage(image, kRows) && CommitImage(image.data(), int32_t(image.size()));
}

bool t_delWordDict::AttachFile(const wchar_t* path) {
    std::vector<uint8_t> bytes;
    if (!n_userStore::ReadWholeFile(path, bytes)) {
        SetReady(false);
        m_store.Detach();
        return false;
    }
    return AttachCopy(bytes.data(), bytes.size());
}

bool t_delWordDict::AttachCopy(const void* data, uint64_t size) {
    m_store.Detach();
    uint8_t* copy = m_image.AdoptCopy(data, size);
    if (!copy) {
        SetReady(false);
        return false;
    }
    return Attach(copy, size);
}

int t_delWordDict::AddWord(const t_lstr* word, uint32_t value) {
    if (!Ready() || !n_userStore::FitsItem(word)) return 0;
    n_userStore::t_itemBuf item;
    item.PutLstr(word);
    item.Put32(value);
    int32_t rows = m_rowLimit;
    t_editLocation where;
    const int r = m_store.AddItem(item.Data(), item.Size(), 0, &rows, nullptr, &where);
    if (r == 0) return 0;
    if (r != 1) return 1;  // a new row carries the value already
    uint8_t v[4];
    n_tableFormat::Wr32(v, value);
    return where.keyFound && m_store.SetFieldAt(v, 4, where.keyRow, kOffValue, false) ? 1 : 0;
}

int t_delWordDict::ClearWord(const t_lstr* word) {
    if (!Ready() || !n_userStore::FitsItem(word)) return 0;
    n_userStore::t_itemBuf key;
    key.PutLstr(word);
    t_editLocation loc;
    if (!m_store.FindKeyValue(key.Data(), nullptr, &loc)) return 0;
    if (!loc.keyFound) return 1;
    const uint8_t zero[4] = {};
    return m_store.SetFieldAt(zero, 4, loc.keyRow, kOffValue, false) ? 1 : 0;
}

int t_delWordDict::IsDeleted(const t_lstr* word) const {
    if (!Ready() || !n_userStore::FitsItem(word)) return 0;
    const uint8_t* row = nullptr;
    if (!m_store.FindRow(word, 0, &row) || !row) return 0;
    return Rd32(row + kOffValue) != 0 ? 1 : 0;
}

int t_delWordDict::GetCount() const {
    if (!Ready()) return 0;
    const int32_t n = m_store.GetKeyUsedCount(0);
    return n > 0 ? n : 0;
}

int t_delWordDict::SaveToFile(const wchar_t* path) const {
    if (!Ready()) return 0;
    return n_userStore::SaveStoreByRename(m_store, path, L".temp") ? 1 : 0;
}
