// Helpers shared by the small user stores (custom phrases, deleted and
// fixed-first words, cloud answers, contacts): item encoding, the image a
// store owns after growing, empty images, whole-file reads and the save that
// replaces a file by renaming a finished copy over it.
// No shared state; each object is used by one thread at a time.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

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

// Builds an empty image (plain image, extra size 0) of the given tables.
// False when the descriptors are refused or the image would be too large.
bool BuildEmptyImage(const std::vector<t_keyDesc>& keys, const std::vector<t_attriDesc>& attris,
                     const std::vector<uint32_t>& datas, uint32_t version, const std::vector<t_keyHashFn>& hashFns,
                     const std::vector<t_keyCompareFn>& compareFns, const std::vector<int32_t>& bucketCounts,
                     std::vector<uint8_t>& out);

// Replaces the file at path with the bytes (temporary beside it, sync,
// rename, directory sync). False, old file untouched, on any failure.
bool WriteImageFile(const wchar_t* path, const std::vector<uint8_t>& image);

// Reads the whole file. False for a missing, empty, unreadable file or one
// larger than the largest image a store makes.
bool ReadWholeFile(const wchar_t* path, std::vector<uint8_t>& out);

// Writes the store to path + suffix, then renames that file over path and
// syncs the directory. False on any failure: path keeps its old content and
// the work file is removed.
bool SaveStoreByRename(const t_editableTableFile& store, const wchar_t* path, const wchar_t* suffix);

// True when the attached store has the one key table and attri table of the
// given field types and attri field offsets.
bool HasLayout(const t_editableTableFile& store, int keyType, const std::vector<int16_t>& fieldTypes,
               const std::vector<uint32_t>& attriOffsets);

// The string at offset in data table d; the store keeps an empty string as
// "no item", which reads as an empty string here. Null when damaged.
const t_lstr* ItemText(const t_editableTableFile& store, int d, uint32_t offset);
// The key of a key row of table 0 (empty keys as above).
const t_lstr* RowKeyText(const t_editableTableFile& store, const uint8_t* keyRow);

// The attri rows chained to a key row of key table 0; false for a key row
// without chain or a damaged chain.
bool CollectChain(const t_editableTableFile& store, const uint8_t* keyRow, std::vector<const uint8_t*>& rows);

// Key rows of key table 0 by handle (the row's byte offset in the key table:
// bucket start + row size x row). Only used rows are ever read: a spare row
// of a bucket, or a stale handle, is no entry.
struct t_keyNeighbours {
    int32_t handle = -1;    // the key's row, -1 when absent
    int32_t bucketStart = 0;
    int32_t row = 0;        // the key's row, or where it would be inserted
    int32_t used = 0;       // used rows of the bucket
    bool found = false;
};
// Locates key in key table 0; false when the key has no bucket.
bool LocateKey(const t_editableTableFile& store, const t_lstr* key, t_keyNeighbours* out);
// True when row r of the located bucket is used and its key is longer than
// key and starts with it.
bool RowExtends(const t_editableTableFile& store, const t_keyNeighbours& at, int32_t r, const t_lstr* key);
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

}  // namespace n_userStore
