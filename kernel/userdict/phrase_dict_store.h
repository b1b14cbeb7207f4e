// What the small user stores (custom phrases, deleted and fixed-first
// words, cloud answers, contacts) share: t_userStoreBase (attaching, the
// empty image, growth, counts, the save by rename) and the helpers for item
// encoding, bounded key and chain walks and record listings.
// No shared state; each object is used by one thread at a time.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <utility>
#include <vector>

#include "kernel/runtime/dict_base.h"
#include "kernel/runtime/lstr.h"
#include "kernel/storage/editable_table.h"
#include "kernel/storage/table_format.h"

class t_scopeHeap;

namespace n_userStore {

// Longest string a table item can carry: its length is an i16.
inline constexpr uint32_t kMaxItemStringBytes = 32767;

// True when s is given and short enough to be a table item.
inline bool FitsItem(const t_lstr* s) {
    return s && LstrGetByteLength(s) <= kMaxItemStringBytes;
}

// An item in the store's encoding: strings as i16 byte length + bytes, fixed
// fields in their row encoding, laid end to end. Short items stay on the stack.
class t_itemBuf {
public:
    t_itemBuf() = default;
    t_itemBuf(const t_itemBuf&) = delete;
    t_itemBuf& operator=(const t_itemBuf&) = delete;

    // False (nothing appended) for a null or over-long string.
    bool PutLstr(const t_lstr* s);
    void Put8(uint8_t v) { Append(&v, 1); }
    void Put16(uint16_t v) { Append(&v, 2); }
    void Put32(uint32_t v) { Append(&v, 4); }
    void Append(const void* data, uint32_t n);

    const uint8_t* Data() const { return m_heap.empty() ? m_inline : m_heap.data(); }
    // Start of the bytes appended after `mark` bytes.
    const uint8_t* At(uint32_t mark) const { return Data() + mark; }
    uint32_t Size() const { return m_size; }

private:
    static constexpr uint32_t kInline = 512;
    uint8_t m_inline[kInline];
    std::vector<uint8_t> m_heap;
    uint32_t m_size = 0;
};

// The image a store holds itself (a grown or copied image). The previous
// buffer is kept until the next change of image, because the store still
// reads it while it copies into the new one.
class t_imageHolder {
public:
    // A new zeroed buffer of size bytes that becomes the held image; null when
    // memory runs out (nothing changes then).
    uint8_t* Adopt(uint64_t size);
    // Adopt, then a copy of size bytes of data.
    uint8_t* AdoptCopy(const void* data, uint64_t size);
    void Release();
    uint8_t* Get() const { return m_own.get(); }

private:
    std::unique_ptr<uint8_t[]> m_own;
    std::unique_ptr<uint8_t[]> m_retired;
};

// The layout and trim rules of one store. Every store has one key table
// whose keys live in data table 0; a store with several records per key
// adds one attri table (the record's fields) whose strings live in data
// table 1.
struct t_storeShape {
    uint32_t formatVersion = 0;
    int keyType = 0;
    std::vector<int16_t> fieldTypes{};  // the key's, then the record's fields
    // Offsets of the record's fields: in the attri row, or after the key in
    // the key row of a store without attri table.
    std::vector<uint32_t> fieldOffsets{};
    bool hasAttri = false;
    int32_t bucketCount = 0;             // 0: the table's own
    std::vector<t_keyHashFn> hashFns{};  // empty: the table's own hash and order
    std::vector<t_keyCompareFn> compareFns{};
    t_editRowLessFn rankLess = nullptr;
    t_editRowRemoveFn removeRow = nullptr;
    t_editRowStateFn rowState = nullptr;
    bool grows = false;  // doubles within the row limit; otherwise only trims
    // The room of the empty image Save commits.
    uint32_t defaultRows = 0;
    std::vector<uint32_t> defaultDataBytes{};  // per data table
};

// An empty image (plain image, extra size 0) of the shape with room for rows
// records and the given bytes per data table. False when the descriptors are
// refused or the image would be too large.
bool BuildShapeImage(const t_storeShape& shape, uint32_t rows,
                     const std::vector<uint32_t>& dataBytes, std::vector<uint8_t>& out);

// Replaces the file at path with the bytes (temporary beside it, sync,
// rename, directory sync). False, old file untouched, on any failure.
bool WriteImageFile(const wchar_t* path, const std::vector<uint8_t>& image);
// Writes the empty image of the shape's default room to path; false when it
// cannot be built or written.
bool WriteDefaultImage(const t_storeShape& shape, const wchar_t* path);

// Reads the whole file. False for a missing, empty, unreadable file or one
// larger than the largest image a store makes.
bool ReadWholeFile(const wchar_t* path, std::vector<uint8_t>& out);

// Writes the store to path + suffix, then renames that file over path and
// syncs the directory. False on any failure: path keeps its old content and
// the work file is removed.
bool SaveStoreByRename(const t_editableTableFile& store, const wchar_t* path,
                       const wchar_t* suffix);

// True when the attached store is laid out as the shape says.
bool HasShape(const t_editableTableFile& store, const t_storeShape& shape);

// The string at offset in data table d; the store keeps an empty string as
// "no item", which reads as an empty string here. Null when damaged.
const t_lstr* ItemText(const t_editableTableFile& store, int d, uint32_t offset);
// The key of a key row of table 0 (empty keys as above).
const t_lstr* RowKeyText(const t_editableTableFile& store, const uint8_t* keyRow);

// The attri rows chained to a key row of key table 0; false for a key row
// without chain or a damaged chain.
bool CollectChain(const t_editableTableFile& store, const uint8_t* keyRow,
                  std::vector<const uint8_t*>& rows);
// The same for the key's row; false also for an absent key.
bool CollectKeyChain(const t_editableTableFile& store, const t_lstr* key,
                     std::vector<const uint8_t*>& rows);

// Locates the record of key and value (the first attri field), or the key
// row alone for a null value. False for a null or over-long key or value,
// or when the store cannot be searched.
bool FindRecord(const t_editableTableFile& store, const t_lstr* key, const t_lstr* value,
                t_editLocation* loc);

// Key rows of key table 0 by handle (the row's byte offset in the key table:
// bucket start + row size x row). Only used rows are ever read: a spare row
// of a bucket, or a stale handle, is no entry.
struct t_keyNeighbours {
    int32_t handle = -1;  // the key's row, -1 when absent
    int32_t bucketStart = 0;
    int32_t row = 0;   // the key's row, or where it would be inserted
    int32_t used = 0;  // used rows of the bucket
    bool found = false;
};
// Locates key in key table 0; false when the key has no bucket.
bool LocateKey(const t_editableTableFile& store, const t_lstr* key, t_keyNeighbours* out);
// True when row r of the located bucket is used and its key is longer than
// key and starts with it.
bool RowExtends(const t_editableTableFile& store, const t_keyNeighbours& at, int32_t r,
                const t_lstr* key);
// The handle of the key's row, or -1; *extends = 1 when the next used row
// of the bucket (after the key's row, or at its place) holds a longer key
// that starts with it. *at (may be null) receives the located bucket.
int32_t FindHandle(const t_editableTableFile& store, const t_lstr* key, int* extends,
                   t_keyNeighbours* at);
// The used key row behind a handle, or null.
const uint8_t* KeyRowAt(const t_editableTableFile& store, int32_t handle);
// An attri row handed out for a field write.
t_editRow AttriRowOf(const t_editableTableFile& store, const uint8_t* row);
t_editRow KeyRowOf(const t_editableTableFile& store, const uint8_t* row);

// Room for n objects of T in the arena, aligned for T (the arena itself
// aligns to 4 bytes only); null when the arena fails. Zero-filled.
void* AllocAligned(t_scopeHeap& arena, size_t bytes, size_t alignment);
template <class T>
T* AllocArray(t_scopeHeap& arena, size_t n) {
    return static_cast<T*>(AllocAligned(arena, sizeof(T) * (n ? n : 1), alignof(T)));
}

// Copy of s into the arena (an empty string gives a 2-byte empty copy); null
// when the arena fails or s is null.
t_lstr* CopyLstr(t_scopeHeap& arena, const t_lstr* s);
// Copies of the string at offset in data table d, and of a key row's key;
// null when damaged or when the arena fails.
t_lstr* CopyItemText(t_scopeHeap& arena, const t_editableTableFile& store, int d, uint32_t offset);
t_lstr* CopyRowKey(t_scopeHeap& arena, const t_editableTableFile& store, const uint8_t* keyRow);

// Lists the records of key table 0 and its attri table as arena records:
// keep(row) chooses the attri rows to list, fill(keyRow, row, rec) fills a
// zeroed record (false: damaged, or the arena failed). 1 with the records;
// 0 with none handed out for null outputs, a store not ready, rows that
// cannot be listed or a failed fill.
template <class T, class Keep, class Fill>
int ListRecords(const t_editableTableFile& store, bool ready, t_scopeHeap& arena, T*** items,
                int* count, Keep keep, Fill fill) {
    if (!items || !count) return 0;
    *items = nullptr;
    *count = 0;
    if (!ready) return 0;
    std::vector<std::pair<const uint8_t*, const uint8_t*>> pairs;
    if (!store.CollectItems(0, pairs)) return 0;
    auto** out = AllocArray<T*>(arena, pairs.size());
    if (!out) return 0;
    int n = 0;
    for (const auto& [keyRow, row] : pairs) {
        if (!row) return 0;
        if (!keep(row)) continue;
        T* rec = AllocArray<T>(arena, 1);
        if (!rec || !fill(keyRow, row, rec)) return 0;
        out[n++] = rec;
    }
    *items = out;
    *count = n;
    return 1;
}

}  // namespace n_userStore

// The part every small store shares: attaching (in place for the dictionary
// manager, or a private copy), the empty image Save commits, growth into an
// image the store holds itself, the record count and the save by rename.
// The derived store gives its shape, which must outlive it.
class t_userStoreBase : public t_dictStorageBase {
public:
    ~t_userStoreBase() override;

    // Attaches the image in place; the result becomes the ready flag. False
    // (nothing attached) for a size below 1 or an image of another layout.
    bool Load(void* data, int32_t size) override;
    // Builds an empty image of the shape's default room (the data arguments
    // are ignored) and commits it; true when committed.
    using t_dictStorageBase::Save;
    bool Save(const void* data, int32_t size) override;
    // Attaches a private copy of the file or of the bytes, outside the
    // manager (imports, merges, tools). False, not ready, for a missing file
    // or a refused image.
    bool AttachFile(const wchar_t* path);
    bool AttachCopy(const void* data, uint64_t size);
    // Attaches a private empty image of the default room; false when it
    // cannot be built (nothing changes then) or attached.
    bool AttachEmpty();

    // Records, deleted or disabled ones included (attri rows, or key rows of
    // a store without attri table); 0 when not loaded.
    int GetCount() const;

    // Row limit of growth and trims (both tables); smaller limits make the
    // store trim sooner.
    void SetRowLimit(int32_t rows) { m_rowLimit = rows; }
    const t_editableTableFile& Store() const { return m_store; }

protected:
    t_userStoreBase(const n_userStore::t_storeShape& shape, int32_t rowLimit);

    bool Ready() const { return IsReady() && m_store.IsAttached(); }
    // Adds the item within the row limits; the store's add code (0 on failure).
    int AddLimited(const n_userStore::t_itemBuf& item, t_editLocation* where);
    // Writes value as a field of n bytes (1, 2 or 4) at offset of row; false
    // for a stale row or another n.
    bool WriteField(const t_editRow& row, uint32_t offset, uint32_t value, uint32_t n);
    // The string behind a reference into the records' data table; null when
    // not loaded or out of range.
    const t_lstr* RecordText(uint32_t ref) const;
    // n_userStore::SaveStoreByRename when loaded; 1/0.
    int SaveWithSuffix(const wchar_t* path, const wchar_t* suffix) const;

    t_editableTableFile m_store;
    int32_t m_rowLimit;

private:
    static uint8_t* OnGrown(const t_grownImage& img, void* context);
    bool Attach(void* image, uint64_t size);

    const n_userStore::t_storeShape& m_shape;
    n_userStore::t_imageHolder m_image;
};
