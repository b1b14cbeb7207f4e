// Helpers shared by the small user stores.
#include "kernel/userdict/phrase_dict_store.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "kernel/runtime/dict_base.h"
#include "kernel/runtime/fd_file.h"
#include "kernel/runtime/path.h"
#include "kernel/runtime/scope_heap.h"
#include "kernel/storage/table_builder.h"

namespace n_userStore {

using n_tableFormat::Rd32;

bool t_itemBuf::PutLstr(const t_lstr* s) {
    if (!FitsItem(s)) return false;
    const uint16_t n = LstrGetByteLength(s);
    Put16(n);
    Append(LstrGetBytes(s), n);
    return true;
}

void t_itemBuf::Append(const void* data, uint32_t n) {
    if (n == 0) return;
    if (m_heap.empty() && m_size + uint64_t(n) <= kInline) {
        std::memcpy(m_inline + m_size, data, n);
    } else {
        if (m_heap.empty()) m_heap.assign(m_inline, m_inline + m_size);
        const auto* p = static_cast<const uint8_t*>(data);
        m_heap.insert(m_heap.end(), p, p + n);
    }
    m_size += n;
}

uint8_t* t_imageHolder::Adopt(uint64_t size) {
    if (size == 0 || size > t_editableTableFile::kMaxImageSize) return nullptr;
    std::unique_ptr<uint8_t[]> fresh(new (std::nothrow) uint8_t[size]());
    if (!fresh) return nullptr;
    m_retired = std::move(m_own);
    m_own = std::move(fresh);
    return m_own.get();
}

uint8_t* t_imageHolder::AdoptCopy(const void* data, uint64_t size) {
    if (!data) return nullptr;
    uint8_t* p = Adopt(size);
    if (p) std::memcpy(p, data, size);
    return p;
}

void t_imageHolder::Release() {
    m_retired.reset();
    m_own.reset();
}

bool BuildShapeImage(const t_storeShape& shape, uint32_t rows,
                     const std::vector<uint32_t>& dataBytes, std::vector<uint8_t>& out) {
    if (shape.fieldTypes.empty()) return false;
    t_keyDesc key;
    key.keyType = shape.keyType;
    key.fieldTypes = shape.fieldTypes;
    key.attriIndex = shape.hasAttri ? 0 : n_tableFormat::kNone;
    key.keyDataTable = 0;
    key.capacity = rows;
    std::vector<t_attriDesc> attris;
    if (shape.hasAttri) {
        t_attriDesc attri;
        attri.fieldCount = uint32_t(shape.fieldTypes.size() - 1);
        attri.ownerKey = 0;
        attri.dataTable = 1;
        attri.capacity = rows;
        attris.push_back(attri);
    }
    const std::vector<int32_t> bucketCounts{shape.bucketCount};
    t_tableFileBuilder builder({key}, attris, dataBytes, shape.formatVersion, shape.formatVersion,
                               shape.hashFns, shape.compareFns, nullptr, 0, &bucketCounts);
    if (!builder.IsValid()) return false;
    const int32_t size = builder.GetTotalSize(nullptr);
    if (size <= 0) return false;
    out.assign(size_t(size), 0);
    return builder.BuildToBuffer(out.data(), size);
}

bool WriteImageFile(const wchar_t* path, const std::vector<uint8_t>& image) {
    if (!path || !path[0] || image.empty()) return false;
    const t_pathName target(path);
    return target.IsValid() && DictWriteFileSafely(target, image.data(), image.size());
}

bool WriteDefaultImage(const t_storeShape& shape, const wchar_t* path) {
    std::vector<uint8_t> image;
    return BuildShapeImage(shape, shape.defaultRows, shape.defaultDataBytes, image) &&
           WriteImageFile(path, image);
}

bool ReadWholeFile(const wchar_t* path, std::vector<uint8_t>& out) {
    out.clear();
    if (!path || !path[0]) return false;
    t_fdFile f;
    if (!f.Open(path, kOpenRead)) return false;
    const int64_t size = f.GetSize();
    if (size <= 0 || uint64_t(size) > t_editableTableFile::kMaxImageSize) return false;
    out.resize(size_t(size));
    if (!f.ReadExact(out.data(), out.size())) {
        out.clear();
        return false;
    }
    return true;
}

bool SaveStoreByRename(const t_editableTableFile& store, const wchar_t* path,
                       const wchar_t* suffix) {
    if (!path || !path[0] || !suffix || !store.IsAttached()) return false;
    t_tempPath temp(path);
    if (!temp.Append(suffix) || !temp.IsValid()) return false;
    if (!store.SaveToFile(temp.GetFull())) return false;
    const t_pathName target(path);
    if (!target.IsValid() || !PathRename(temp, target))
        return false;  // temp's destructor removes the work file
    temp.Forget();
    char bytes[kPathBufBytes];
    return target.ToBytes(bytes, sizeof bytes) && SyncParentDir(bytes);
}

bool HasShape(const t_editableTableFile& store, const t_storeShape& shape) {
    const t_tableLayout& layout = store.GetLayout();
    if (layout.keys.size() != 1 || layout.keyLayouts.size() != 1) return false;
    if (layout.keys[0].keyType != shape.keyType || layout.keys[0].fieldTypes != shape.fieldTypes)
        return false;
    const t_keyLayout& k = layout.keyLayouts[0];
    const std::vector<uint32_t>& want = shape.fieldOffsets;
    if (!shape.hasAttri)
        return !k.hasAttri && k.fieldOffsets.size() >= want.size() + 1 &&
               std::equal(want.begin(), want.end(), k.fieldOffsets.begin() + 1);
    return k.hasAttri && layout.attris.size() == 1 && k.keyRowFields == 1 &&
           k.attriFieldOffsets == want && store.GetDataCount() == 2;
}

namespace {
const uint8_t kEmptyText[2] = {0, 0};
}

const t_lstr* ItemText(const t_editableTableFile& store, int d, uint32_t offset) {
    if (offset == n_tableFormat::kNone) return reinterpret_cast<const t_lstr*>(kEmptyText);
    return store.GetDataPtr(d, offset);
}

const t_lstr* RowKeyText(const t_editableTableFile& store, const uint8_t* keyRow) {
    if (!keyRow) return nullptr;
    const t_lstr* key = store.GetRowKey(0, keyRow);
    if (!key && store.GetKeyDataTable(0) >= 0 && Rd32(keyRow) == n_tableFormat::kNone)
        return reinterpret_cast<const t_lstr*>(kEmptyText);
    return key;
}

bool CollectChain(const t_editableTableFile& store, const uint8_t* keyRow,
                  std::vector<const uint8_t*>& rows) {
    rows.clear();
    const t_tableLayout& layout = store.GetLayout();
    if (!keyRow || layout.keyLayouts.empty() || !layout.keyLayouts[0].hasAttri) return false;
    const t_keyLayout& k = layout.keyLayouts[0];
    const uint32_t first = Rd32(keyRow + k.linkOffset);
    if (first == n_tableFormat::kNone) return false;
    return store.CollectAttriChain(first, 0, rows, k.attriLinkOffset);
}

bool CollectKeyChain(const t_editableTableFile& store, const t_lstr* key,
                     std::vector<const uint8_t*>& rows) {
    rows.clear();
    const uint8_t* keyRow = nullptr;
    return store.FindRow(key, 0, &keyRow) && keyRow && CollectChain(store, keyRow, rows);
}

bool FindRecord(const t_editableTableFile& store, const t_lstr* key, const t_lstr* value,
                t_editLocation* loc) {
    t_itemBuf k, v;
    if (!k.PutLstr(key) || (value && !v.PutLstr(value))) return false;
    return store.FindKeyValue(k.Data(), value ? v.Data() : nullptr, loc);
}

bool LocateKey(const t_editableTableFile& store, const t_lstr* key, t_keyNeighbours* out) {
    *out = t_keyNeighbours{};
    if (!key || !store.IsAttached()) return false;
    int32_t row = 0, start = 0, bucket = -1;
    const bool found = store.Find(key, 0, &row, &start, &bucket);
    if (bucket < 0) return false;
    const int32_t used = store.GetBucketRowCount(0, bucket);
    const int32_t rowSize = store.GetKeyRowSize(0);
    if (used < 0 || rowSize <= 0 || row < 0) return false;
    out->bucketStart = start;
    out->row = row;
    out->used = used;
    out->found = found && row < used;
    if (out->found) out->handle = int32_t(int64_t(start) + int64_t(row) * rowSize);
    return true;
}

bool RowExtends(const t_editableTableFile& store, const t_keyNeighbours& at, int32_t r,
                const t_lstr* key) {
    if (r < 0 || r >= at.used) return false;
    const t_lstr* stored = store.Reader().GetKeyRow(0, at.bucketStart, r);
    return stored && LstrCompare(stored, key) == 1;
}

int32_t FindHandle(const t_editableTableFile& store, const t_lstr* key, int* extends,
                   t_keyNeighbours* at) {
    if (extends) *extends = 0;
    t_keyNeighbours local;
    t_keyNeighbours& where = at ? *at : local;
    if (!LocateKey(store, key, &where)) return -1;
    const int32_t next = where.found ? where.row + 1 : where.row;
    if (extends && RowExtends(store, where, next, key)) *extends = 1;
    return where.handle;
}

const uint8_t* KeyRowAt(const t_editableTableFile& store, int32_t handle) {
    if (handle < 0 || !store.IsAttached()) return nullptr;
    const uint8_t* row = store.GetBucketRow(0, 0, handle);
    if (!row) return nullptr;
    const t_lstr* key = store.GetRowKey(0, row);
    t_keyNeighbours at;
    if (!key || !LocateKey(store, key, &at) || !at.found || at.handle != handle) return nullptr;
    return row;
}

t_editRow AttriRowOf(const t_editableTableFile& store, const uint8_t* row) {
    t_editRow r;
    r.ptr = const_cast<uint8_t*>(row);
    r.key = 0;
    r.inKeyRow = false;
    r.generation = store.GetGeneration();
    return r;
}

t_editRow KeyRowOf(const t_editableTableFile& store, const uint8_t* row) {
    t_editRow r = AttriRowOf(store, row);
    r.inKeyRow = true;
    return r;
}

void* AllocAligned(t_scopeHeap& arena, size_t bytes, size_t alignment) {
    return arena.AllocAligned(bytes, alignment);
}

t_lstr* CopyLstr(t_scopeHeap& arena, const t_lstr* s) {
    if (!s) return nullptr;
    const uint32_t total = LstrGetTotalBytes(s);
    auto* p = static_cast<uint8_t*>(arena.Alloc(total));
    if (!p) return nullptr;
    std::memcpy(p, s, total);
    return reinterpret_cast<t_lstr*>(p);
}

t_lstr* CopyItemText(t_scopeHeap& arena, const t_editableTableFile& store, int d, uint32_t offset) {
    return CopyLstr(arena, ItemText(store, d, offset));
}

t_lstr* CopyRowKey(t_scopeHeap& arena, const t_editableTableFile& store, const uint8_t* keyRow) {
    return CopyLstr(arena, RowKeyText(store, keyRow));
}

}  // namespace n_userStore

// ---------------------------------------------------------------- the store base

namespace {

t_editableTableFile MakeStore(const n_userStore::t_storeShape& shape, t_editGrownFn onGrown,
                              void* context) {
    if (shape.grows)
        return t_editableTableFile(onGrown, context, shape.rankLess, shape.removeRow, nullptr,
                                   shape.rowState, nullptr, 0, nullptr, true);
    return t_editableTableFile(shape.rankLess, shape.removeRow, nullptr, shape.rowState, nullptr,
                               0);
}

}  // namespace

t_userStoreBase::t_userStoreBase(const n_userStore::t_storeShape& shape, int32_t rowLimit)
    : m_store(MakeStore(shape, &t_userStoreBase::OnGrown, this)),
      m_rowLimit(rowLimit),
      m_shape(shape) {}

t_userStoreBase::~t_userStoreBase() {
    m_store.Detach();
    m_image.Release();
}

uint8_t* t_userStoreBase::OnGrown(const t_grownImage& img, void* context) {
    return static_cast<t_userStoreBase*>(context)->m_image.Adopt(img.totalSize);
}

bool t_userStoreBase::Attach(void* image, uint64_t size) {
    SetReady(false);
    m_store.Detach();
    if (!image || size == 0 || size > t_editableTableFile::kMaxImageSize) return false;
    if (m_shape.bucketCount > 0) m_store.SetBucketCount(0, m_shape.bucketCount);
    if (!m_store.AttachWithExtra(image, m_shape.formatVersion, m_shape.hashFns, m_shape.compareFns,
                                 int64_t(size)))
        return false;
    if (!n_userStore::HasShape(m_store, m_shape)) {
        m_store.Detach();
        return false;
    }
    SetReady(true);
    return true;
}

bool t_userStoreBase::Load(void* data, int32_t size) {
    const bool ok = Attach(data, size > 0 ? uint64_t(size) : 0);
    m_image.Release();  // the manager's block holds the image now
    return ok;
}

bool t_userStoreBase::Save(const void*, int32_t) {
    std::vector<uint8_t> image;
    return n_userStore::BuildShapeImage(m_shape, m_shape.defaultRows, m_shape.defaultDataBytes,
                                        image) &&
           CommitImage(image.data(), int32_t(image.size()));
}

bool t_userStoreBase::AttachFile(const wchar_t* path) {
    std::vector<uint8_t> bytes;
    if (!n_userStore::ReadWholeFile(path, bytes)) {
        SetReady(false);
        m_store.Detach();
        return false;
    }
    return AttachCopy(bytes.data(), bytes.size());
}

bool t_userStoreBase::AttachCopy(const void* data, uint64_t size) {
    m_store.Detach();
    uint8_t* copy = m_image.AdoptCopy(data, size);
    if (!copy) {
        SetReady(false);
        return false;
    }
    return Attach(copy, size);
}

bool t_userStoreBase::AttachEmpty() {
    std::vector<uint8_t> image;
    return n_userStore::BuildShapeImage(m_shape, m_shape.defaultRows, m_shape.defaultDataBytes,
                                        image) &&
           AttachCopy(image.data(), image.size());
}

int t_userStoreBase::GetCount() const {
    if (!Ready()) return 0;
    const int32_t n = m_shape.hasAttri ? m_store.GetAttriUsedCount(0) : m_store.GetKeyUsedCount(0);
    return n > 0 ? n : 0;
}

int t_userStoreBase::AddLimited(const n_userStore::t_itemBuf& item, t_editLocation* where) {
    int32_t keys = m_rowLimit, attris = m_rowLimit;
    return m_store.AddItem(item.Data(), item.Size(), 0, &keys, m_shape.hasAttri ? &attris : nullptr,
                           where);
}

bool t_userStoreBase::WriteField(const t_editRow& row, uint32_t offset, uint32_t value,
                                 uint32_t n) {
    uint8_t v[4];
    if (n == 1)
        v[0] = uint8_t(value);
    else if (n == 2)
        n_tableFormat::Wr16(v, uint16_t(value));
    else if (n == 4)
        n_tableFormat::Wr32(v, value);
    else
        return false;
    return m_store.SetFieldAt(v, n, row, offset, false);
}

const t_lstr* t_userStoreBase::RecordText(uint32_t ref) const {
    if (!Ready()) return nullptr;
    return n_userStore::ItemText(m_store, m_store.GetAttriDataTable(0), ref);
}

int t_userStoreBase::SaveWithSuffix(const wchar_t* path, const wchar_t* suffix) const {
    if (!Ready()) return 0;
    return n_userStore::SaveStoreByRename(m_store, path, suffix) ? 1 : 0;
}
