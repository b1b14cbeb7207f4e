// t_tableFile attaches to a table-file image that lies in memory (usually a
// mapped dictionary file), validates it once, and then answers lookups and
// walks with pointers into the image; it copies nothing.
// One thread at a time per object: attaching and the in-place edits change
// the reader and the image without locks, the owner keeps other users out.
//
// Every image is untrusted. Attach checks everything the accessors later rely
// on (descriptors, table records, bucket arrays) in 64-bit arithmetic; the
// accessors then check each row and item they hand out against its table, so
// no search, walk or edit reads or writes outside the image.
#pragma once

#include <cstdint>
#include <utility>
#include <vector>

#include "kernel/storage/table_format.h"
#include "kernel/storage/table_policy.h"

// A caller's compare of a search key with an attri row (BinarySearchAttri).
typedef int (*t_attriRowCompareFn)(const t_lstr* key, const uint8_t* attriRow);

class t_tableFile {
public:
    t_tableFile();
    ~t_tableFile();
    t_tableFile(const t_tableFile&) = delete;
    t_tableFile& operator=(const t_tableFile&) = delete;

    // ---- opening ----

    // Bucket count of key table keyIndex (0..9) for the next Attach; 0 selects
    // the policy's default. False (nothing changed) for any other index.
    bool SetBucketCount(int keyIndex, int32_t count);
    int32_t GetConfiguredBucketCount(int keyIndex) const;

    // Attaches to `size` bytes of a plain image (without any trailing extraSize
    // word). size 0 attaches an image the caller built itself: its length is
    // taken from its own header and then checked like any other. hashFns and
    // compareFns feed the policies: a table of policy id 5 consumes the next
    // entry of both (the attach fails when either list runs out); any other
    // table uses the compare entry at the cursor without consuming it.
    // Returns false with nothing attached when anything is inconsistent;
    // GetLastError tells why. The image must outlive the attachment; the
    // in-place edits below also need it writable.
    bool Attach(const void* image, uint32_t formatVersion, const std::vector<t_keyHashFn>& hashFns,
                const std::vector<t_keyCompareFn>& compareFns, int64_t size);
    bool Attach(const void* image, uint32_t formatVersion, int64_t size) {
        return Attach(image, formatVersion, {}, {}, size);
    }
    void Detach();
    bool IsAttached() const { return m_image != nullptr; }
    // Why the last Attach failed (null after a success).
    const char* GetLastError() const { return m_lastError; }

    uint32_t GetCheckNum() const;  // 0 when nothing is attached
    bool GetHeaderTag(uint32_t* out) const;
    bool GetFormatVersion(uint32_t* out) const;
    int32_t GetItemsSize() const;  // -1 when nothing is attached
    int64_t GetImageSize() const;  // config + header + items + 8; -1 when nothing is attached
    int32_t GetConfigSize() const { return m_image ? int32_t(m_configSize) : -1; }
    int32_t GetHeadSize() const { return m_image ? int32_t(m_headSize) : -1; }
    const uint8_t* GetImage() const { return m_image; }
    const uint8_t* GetItemsStart() const { return m_items; }
    const t_tableLayout& GetLayout() const { return m_layout; }
    int GetKeyCount() const { return int(m_keys.size()); }
    int GetAttriCount() const { return int(m_attris.size()); }
    int GetDataCount() const { return int(m_datas.size()); }

    // ---- descriptors and sizes (-1 / null for a bad index) ----

    int32_t GetKeyRowSize(int k) const;
    int32_t GetKeyType(int k) const;
    int32_t GetAttriIndex(int k) const;  // -1 when the key has no attri table
    int32_t GetKeyDataTable(int k) const;
    int32_t GetValueDataTable(int k) const;
    int32_t GetAttriDataTable(int a) const;
    int32_t GetAttriRowSize(int a) const;
    int32_t GetKeyRowCount(int k) const;  // allocated rows
    int32_t GetKeyUsedCount(int k) const;
    int32_t GetAttriRowCount(int a) const;  // allocated rows
    int32_t GetAttriUsedCount(int a) const;
    int32_t GetDataSize(int d) const;  // allocated bytes
    int32_t GetDataUsed(int d) const;
    int64_t GetKeyTableOffset(int k) const;
    int64_t GetAttriTableOffset(int a) const;
    int64_t GetDataTableOffset(int d) const;
    const uint8_t* GetKeyTableBase(int k) const;
    const uint8_t* GetAttriTableBase(int a) const;
    const uint8_t* GetDataTableBase(int d) const;
    int32_t GetBucketCount(int k) const;
    // The hash and compare policies of key table k, owned by the reader and
    // good until the next Attach or Detach; null for a bad index.
    const t_baseHash* GetHashPolicy(int k) const;
    const t_baseCompare* GetComparePolicy(int k) const;

    // ---- buckets, rows and items ----

    // The bucket array of key table k; null for a bad index or policy id.
    const uint8_t* GetBucketArray(int k, int policyId) const;
    const uint8_t* GetBucketArray(int k) const;
    int32_t GetBucketRowCount(int k, int b) const;  // -1 for a bad index
    int32_t GetBucketSize(int k, int b) const { return GetBucketRowCount(k, b); }
    int32_t GetBucketStart(int k, int b) const;     // first-row byte offset, -1 for a bad index
    int32_t GetBucketCapacity(int k, int b) const;  // rows, -1 for a bad index
    // Row n counted from byteOffset in key table k; null unless the whole row
    // lies inside the table's allocated rows.
    const uint8_t* GetBucketRow(int k, int64_t n, int64_t byteOffset) const;
    const uint8_t* GetKeyTablePtr(int k, int64_t byteOffset) const {
        return GetBucketRow(k, 0, byteOffset);
    }
    // The whole attri row at byteOffset of the attri table linked to key table
    // k (GetAttriRowPtr) or of attri table a (GetAttriRow); null outside it.
    const uint8_t* GetAttriRowPtr(int k, int64_t byteOffset) const;
    const uint8_t* GetAttriRow(int a, int64_t byteOffset) const;
    // The item at offset in data table d, null unless its length is not
    // negative and all of it lies inside the table's used bytes (allocated
    // bytes when used is 0).
    const t_lstr* GetDataPtr(int d, int64_t offset) const;
    // The key of row n after byteOffset: the key item, or the row itself for
    // keys stored in the row; null when damaged.
    const t_lstr* GetKeyRow(int k, int64_t byteOffset, int64_t n) const;
    // The key of a row pointer of key table k (as above).
    const t_lstr* GetRowKey(int k, const uint8_t* row) const;

    // ---- searches ----
    // All return false, out-values untouched, for a null key or a bad table.

    // Searches key table k: true with *row = the matching row within the
    // bucket; false with *row = the insertion row. *bucketStart receives the
    // bucket's first-row offset (pass it back to GetBucketRow).
    bool Find(const t_lstr* key, int k, int32_t* row, int32_t* bucketStart,
              int32_t* bucketIndex = nullptr) const;
    // *rowPtr = the found row, or null.
    bool FindRow(const t_lstr* key, int k, const uint8_t** rowPtr) const;
    // Like Find, but a stored key that is a proper prefix of the search key
    // also counts. Tables with prefix-skip words are not searched (false).
    bool FindPrefix(const t_lstr* key, int k, int32_t* row, int32_t* bucketStart,
                    int32_t* bucketIndex = nullptr) const;
    // Binary search over rows 0..lastRow after byteOffset of attri table a.
    bool BinarySearchAttri(const t_lstr* key, int a, int64_t byteOffset, int32_t lastRow,
                           int32_t* row, t_attriRowCompareFn cmp) const;
    // Prefix walk over the string first fields of attri table a (sorted attri
    // rows with skip words): true when a row's string equals the search key or
    // is a proper prefix of it.
    bool PrefixSearchAttri(const t_lstr* key, int a, int64_t byteOffset, int32_t lastRow,
                           int32_t* row) const;

    // ---- walks ----

    // Appends every used row of key table k, bucket by bucket. False only for a bad index.
    bool CollectKeyRows(int k, std::vector<const uint8_t*>& out) const;
    // One (key row, attri row) pair per attri row of every chained key row.
    // False when k has no chained attri table, a chain runs longer than the
    // attri table's rows, or a key links while that table is empty.
    bool EnumerateItems(int k, std::vector<std::pair<const uint8_t*, const uint8_t*>>& out) const;
    // Clears out, then follows the chain from startOffset through the u32 at
    // linkOffset of each row. True when the chain ended normally and held a row.
    bool CollectAttriChain(int64_t startOffset, int k, std::vector<const uint8_t*>& out,
                           uint32_t linkOffset, int64_t* lastOffset = nullptr) const;

    // ---- in-place edits (need a writable image) ----

    // Writes len bytes into a field of key row n after byteOffset (the key
    // table has no attri table, or inKeyRow), else of the attri row at
    // byteOffset, fieldOffset bytes into the row. A variable-length value is a
    // whole item (i16 length + bytes, len counts both); it overwrites the old
    // item when it fits there, else it is appended to the field's data table
    // (used word and check number follow). False, with nothing changed, when
    // the field, the old item or the room for the new one is not there; a
    // table whose used word is 0 (unknown fill) takes no appends.
    bool SetRowField(const void* src, uint32_t len, int k, int64_t n, int64_t byteOffset,
                     uint32_t fieldOffset, bool isVarLen, bool inKeyRow);
    // The same for the field at base + offset, which must lie in the items area.
    bool SetFieldAt(const void* src, uint32_t len, const uint8_t* base, int64_t offset, int k,
                    bool isVarLen, bool inKeyRow);

    // Writes the attached plain image to path through a temporary file that
    // replaces it only when complete. False (message printed) on failure; the
    // old file is then untouched.
    bool SaveToFile(const wchar_t* path) const;

    // Rewrites the attached image with lists of update records (u16 code 1
    // insert / 2 delete, then a packed item), one list per key table, into
    // path. 1 on success, 0 on failure (path untouched).
    int RewriteWithUpdates(const wchar_t* path,
                           const std::vector<std::vector<const uint8_t*>>& updateLists) const;

    const std::vector<t_keyHashFn>& GetHashFns() const { return m_hashFns; }
    const std::vector<t_keyCompareFn>& GetCompareFns() const { return m_compareFns; }

private:
    struct t_keyTable {
        t_baseHash* hash = nullptr;
        t_baseCompare* cmp = nullptr;
        uint8_t* record = nullptr;  // header record {offset, allocated, used}
        uint8_t* buckets = nullptr;
        uint8_t* rows = nullptr;
        uint64_t rowsBytes = 0;  // allocated x rowSize
        uint32_t rowSize = 0;
        uint32_t keyFieldSize = 0;
        int32_t bucketCount = 0;
        int keyData = -1;  // data table of key items, -1 for keys in the row
        int valueData = -1;
        bool lstrInRow = false;          // keys in the row are length-prefixed values
        std::vector<uint32_t> capacity;  // rows of each bucket
    };
    struct t_rowTable {
        uint8_t* record = nullptr;
        uint8_t* rows = nullptr;
        uint64_t bytes = 0;
        uint32_t rowSize = 0;
        uint32_t allocated = 0;
        int data = -1;
    };
    struct t_dataTable {
        uint8_t* record = nullptr;
        uint8_t* base = nullptr;
        uint32_t allocated = 0;
    };

    bool Fail(const char* why);
    bool ParseConfig(const uint8_t* img, uint32_t& sum);
    bool BuildPolicies(const std::vector<t_keyHashFn>& hashFns,
                       const std::vector<t_keyCompareFn>& compareFns);
    bool CheckTables(uint32_t& sum);
    // Bytes of data table d that hold items.
    uint32_t DataLimit(const t_dataTable& t) const;
    const t_lstr* Item(int d, uint32_t offset) const;
    const t_lstr* KeyOf(const t_keyTable& t, const uint8_t* row) const;
    bool LocateBucket(const t_lstr* key, int k, uint32_t* start, uint32_t* rows,
                      int32_t* index) const;
    bool BinarySearch(const t_lstr* key, int k, uint32_t start, uint32_t rows, bool prefix,
                      int32_t* row) const;
    bool PrefixWalk(const t_lstr* key, int k, uint32_t start, uint32_t rows, int32_t* row) const;
    bool WriteField(uint8_t* field, uint64_t room, const void* src, uint32_t len, bool isVarLen,
                    int d);
    void AdjustCheck(uint32_t delta);
    uint32_t ChainLimit(const t_rowTable& t) const;

    int32_t m_bucketCounts[n_tableFormat::kMaxKeyTables] = {};
    const char* m_lastError = nullptr;
    uint8_t* m_image = nullptr;
    uint8_t* m_header = nullptr;
    uint8_t* m_items = nullptr;
    uint8_t* m_itemsEnd = nullptr;
    uint32_t m_configSize = 0;
    uint32_t m_headSize = 0;
    t_tableLayout m_layout;
    std::vector<t_keyTable> m_keys;
    std::vector<t_rowTable> m_attris;
    std::vector<t_dataTable> m_datas;
    std::vector<t_keyHashFn> m_hashFns;
    std::vector<t_keyCompareFn> m_compareFns;
};
