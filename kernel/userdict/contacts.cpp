// Contact names on an editable table file.
#include "kernel/userdict/contacts.h"

using n_tableFormat::Rd32;
using n_tableFormat::RdI32;

namespace {

// Attri row: word, i32 weight, then the chain link.
constexpr uint32_t kOffWord = 0, kOffWeight = 4;

}  // namespace

t_contactsDict::t_contactsDict()
    : m_store(&t_contactsDict::OnGrown, this, &t_contactsDict::RankLess, &t_contactsDict::RemoveRow, nullptr,
              &t_contactsDict::RowState, nullptr, 0, nullptr, true) {}

t_contactsDict::~t_contactsDict() {
    m_store.Detach();
    m_image.Release();
}

uint8_t* t_contactsDict::OnGrown(const t_grownImage& img, void* context) {
    return static_cast<t_contactsDict*>(context)->m_image.Adopt(img.totalSize);
}

// Disabled names first, then the enabled ones from the lowest weight up.
bool t_contactsDict::RankLess(const uint8_t* a, const uint8_t* b) {
    return RdI32(a + kOffWeight) < RdI32(b + kOffWeight);
}

// Disables the name; a weight of 0 stays enabled but still counts.
int t_contactsDict::RemoveRow(uint8_t* row, uint8_t*, void*, int) {
    const int32_t w = RdI32(row + kOffWeight);
    if (w > 0) n_tableFormat::Wr32(row + kOffWeight, uint32_t(-w));
    return 1;
}

int t_contactsDict::RowState(const uint8_t* row, void*) {
    return RdI32(row + kOffWeight) < 0 ? kRowRemoved : kRowLive;
}

bool t_contactsDict::BuildImage(std::vector<uint8_t>& out, uint32_t rows, uint32_t dataBytes) {
    if (rows == 0 || rows > 10000000u || dataBytes == 0) return false;
    t_keyDesc key;
    key.keyType = 2;
    key.fieldTypes = {0, 0, 7};  // key, word, weight
    key.attriIndex = 0;
    key.keyDataTable = 0;
    key.capacity = rows;
    t_attriDesc attri;
    attri.fieldCount = 2;
    attri.ownerKey = 0;
    attri.dataTable = 1;
    attri.capacity = rows;
    return n_userStore::BuildEmptyImage({key}, {attri}, {dataBytes, dataBytes}, kFormatVersion, {}, {},
                                        {kBucketCount}, out);
}

int t_contactsDict::BuildImageToFile(const wchar_t* path) {
    std::vector<uint8_t> image;
    return BuildImage(image, kRows, kDataBytes) && n_userStore::WriteImageFile(path, image) ? 1 : 0;
}

bool t_contactsDict::Attach(void* image, uint64_t size) {
    SetReady(false);
    m_store.Detach();
    if (!image || size == 0 || size > t_editableTableFile::kMaxImageSize) return false;
    m_store.SetBucketCount(0, kBucketCount);
    if (!m_store.AttachWithExtra(image, kFormatVersion, {}, {}, int64_t(size))) return false;
    if (!n_userStore::HasLayout(m_store, 2, {0, 0, 7}, {kOffWord, kOffWeight}) || m_store.GetDataCount() != 2) {
        m_store.Detach();
        return false;
    }
    SetReady(true);
    return true;
}

bool t_contactsDict::Load(void* data, int32_t size) {
    const bool ok = size > 0 && Attach(data, uint64_t(size));
    m_image.Release();
    return ok;
}

bool t_contactsDict::Save(const void*, int32_t) {
    std::vector<uint8_t> image;
    return BuildImage(image, kRows, kDataBytes) && CommitImage(image.data(), int32_t(image.size()));
}

bool t_contactsDict::AttachFile(const wchar_t* path) {
    std::vector<uint8_t> bytes;
    if (!n_userStore::ReadWholeFile(path, bytes)) {
        SetReady(false);
        m_store.Detach();
        return false;
    }
    return AttachCopy(bytes.data(), bytes.size());
}

bool t_contactsDict::AttachCopy(const void* data, uint64_t size) {
    m_store.Detach();
    uint8_t* copy = m_image.AdoptCopy(data, size);
    if (!copy) {
        SetReady(false);
        return false;
    }
    return Attach(copy, size);
}

bool t_contactsDict::WriteWeight(const t_editRow& row, int32_t weight) {
    uint8_t v[4];
    n_tableFormat::Wr32(v, uint32_t(weight));
    return m_store.SetFieldAt(v, 4, row, kOffWeight, false);
}

int t_contactsDict::AddItem(const t_lstr* key, const t_lstr* word, int32_t weight) {
    if (!Ready() || !n_userStore::FitsItem(key) || !n_userStore::FitsItem(word)) return 0;
    n_userStore::t_itemBuf item;
    item.PutLstr(key);
    item.PutLstr(word);
    item.Put32(uint32_t(weight));
    int32_t keys = m_rowLimit, attris = m_rowLimit;
    t_editLocation where;
    const int r = m_store.AddItem(item.Data(), item.Size(), 0, &keys, &attris, &where);
    if (r == 0) return 0;
    if (r != 1) return 1;
    if (!where.itemFound) return 0;
    if (RdI32(where.attriRow.ptr + kOffWeight) < 0 && !WriteWeight(where.attriRow, weight)) return 0;
    return 1;
}

int t_contactsDict::DisableItem(const t_lstr* key, const t_lstr* word) {
    if (!Ready()) return 0;
    n_userStore::t_itemBuf k, w;
    if (!k.PutLstr(key) || !w.PutLstr(word)) return 0;
    t_editLocation loc;
    if (!m_store.FindKeyValue(k.Data(), w.Data(), &loc)) return 0;
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
    n_userStore::t_keyNeighbours at;
    if (!n_userStore::LocateKey(m_store, key, &at)) return -1;
    const int32_t next = at.found ? at.row + 1 : at.row;
    if (extends && n_userStore::RowExtends(m_store, at, next, key)) *extends = 1;
    return at.handle;
}

int t_contactsDict::FindExtending(const t_lstr* key, int32_t* handles, const t_lstr** keys, int maximum,
                                  int* count) const {
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

int t_contactsDict::GetEntries(int32_t handle, uint32_t* words, int32_t* weights, int maximum) const {
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
    if (!Ready()) return nullptr;
    return n_userStore::ItemText(m_store, m_store.GetAttriDataTable(0), ref);
}

int t_contactsDict::GetCount() const {
    if (!Ready()) return 0;
    const int32_t n = m_store.GetAttriUsedCount(0);
    return n > 0 ? n : 0;
}

int t_contactsDict::SaveToFile(const wchar_t* path) const {
    if (!Ready()) return 0;
    return n_userStore::SaveStoreByRename(m_store, path, L"_temp_contacts_dict") ? 1 : 0;
}
