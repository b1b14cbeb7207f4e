// t_tableFileBuilder is the in-memory, writable form of the table file: one
// sorted list of rows per hash bucket, every field value copied into its own
// block pool. It writes empty images of fixed capacity, populated images,
// and loads, merges and updates existing images on the way.
// One thread at a time per builder; it takes no locks (owners hold theirs).
#pragma once

#include <cstdint>
#include <vector>

#include "kernel/runtime/scope_heap.h"
#include "kernel/storage/table_format.h"
#include "kernel/storage/table_policy.h"

class t_tableFile;

// Merge decision: incoming and stored hold one pointer per field of the key
// table (key, value fields, attri fields). The incoming values are the
// builder's own copies and may be changed in place (for example to fold a
// stored flag into the incoming one). A non-zero low byte replaces the stored
// item by the incoming one; 0 keeps the stored item.
typedef int (*t_mergeRecordFn)(int32_t keyTable, const std::vector<uint8_t*>& incoming,
                               const std::vector<const uint8_t*>& stored);

class t_tableFileBuilder {
public:
    // One stored row: the key, the value fields 1 .. n-1 that live in the key
    // row, and for a key table with attri table its entries, each holding
    // the trailing fields. Values point into the builder's pool: strings as
    // u16 count + bytes, fixed fields in their row encoding (zero-padded to at
    // least four bytes).
    struct t_rowRecord {
        const uint8_t* key = nullptr;
        std::vector<const uint8_t*> values;
        std::vector<std::vector<const uint8_t*>> entries;
    };

    struct t_sizes {
        uint32_t configSize = 0;
        uint32_t headSize = 0;
        uint32_t itemsSize = 0;
        uint32_t extraSize = 0;
    };

    // An empty builder; InitStore or InitStoreWithBuckets makes it usable.
    t_tableFileBuilder();
    // A builder for empty images of fixed capacity: the row counts and data
    // sizes start at the descriptors' capacities. bucketCounts (one per key
    // table, 0 = the policy's default) is optional; the extra block is kept by
    // reference and must stay alive until the image is made. IsValid() tells
    // whether the descriptors were usable.
    t_tableFileBuilder(const std::vector<t_keyDesc>& keyDescs,
                       const std::vector<t_attriDesc>& attriDescs,
                       const std::vector<uint32_t>& dataDescs, uint32_t headerTag,
                       uint32_t formatVersion, const std::vector<t_keyHashFn>& hashFns,
                       const std::vector<t_keyCompareFn>& compareFns, const void* extra,
                       uint32_t extraSize, const std::vector<int32_t>* bucketCounts = nullptr);
    ~t_tableFileBuilder();
    t_tableFileBuilder(const t_tableFileBuilder&) = delete;
    t_tableFileBuilder& operator=(const t_tableFileBuilder&) = delete;

    // Builds the store with zero counts. False (builder unusable) when a
    // descriptor is inconsistent or a key table gets no hash or compare
    // policy (ids 4 and 5 need an explicit positive bucket count, id 5 both
    // functions).
    bool InitStore(const std::vector<t_keyDesc>& keyDescs,
                   const std::vector<t_attriDesc>& attriDescs,
                   const std::vector<uint32_t>& dataDescs, uint32_t headerTag,
                   uint32_t formatVersion, const std::vector<t_keyHashFn>& hashFns,
                   const std::vector<t_keyCompareFn>& compareFns);
    // The same with one bucket count per key table (at least as many entries).
    bool InitStoreWithBuckets(const std::vector<t_keyDesc>& keyDescs,
                              const std::vector<t_attriDesc>& attriDescs,
                              const std::vector<uint32_t>& dataDescs, uint32_t headerTag,
                              uint32_t formatVersion, const std::vector<t_keyHashFn>& hashFns,
                              const std::vector<t_keyCompareFn>& compareFns,
                              const std::vector<int32_t>& bucketCounts);
    bool IsValid() const { return m_valid; }
    const char* GetLastError() const { return m_lastError; }

    // ---- empty images of fixed capacity ----

    // Exact length of the empty image (config + header + items + 12 + extra);
    // fills *sizes when given. -1 when the builder is unusable or too large.
    int32_t GetTotalSize(t_sizes* sizes) const;
    // Builds the empty image into buffer, which must be exactly GetTotalSize
    // bytes. False, with nothing written past size, otherwise.
    bool BuildToBuffer(void* buffer, int64_t size);
    // Writes the empty image to path through a temporary file. False (message
    // printed, path untouched) on failure.
    bool BuildToFile(const wchar_t* path);

    // ---- the store ----
    // A packed item is an i32 byte size (at least 1) followed by every field
    // of the key table in order, strings as i16 length + bytes, fixed fields
    // in their row encoding; every field must lie wholly inside the item.

    // 1 inserted (or skipped: a key without bucket), 0 failed with nothing changed.
    int InsertOne(const uint8_t* packedItem, int k);
    // The same from one pointer per field (exactly the key table's field count).
    int InsertFields(const std::vector<const uint8_t*>& fields, int k);
    // One list of packed items per key table; 0 on a wrong list count (nothing
    // inserted) or at the first failed item (prints "insert one is erro"; the
    // items before it stay).
    int InsertItems(const std::vector<std::vector<const uint8_t*>>& lists);
    // Removes the item's row (no attri table) or its matching attri entry; 1
    // whether or not anything matched, 0 for an unreadable item.
    int DeleteOne(const uint8_t* packedItem, int k);
    // 1 when the row's key was already present (entry joined, or an equal row
    // added), 0 when a new key row was made. Bucket must be valid.
    int InsertRow(int k, t_rowRecord& row, int bucket);
    // 1 when a row left the bucket, else 0.
    int RemoveRow(int k, const t_rowRecord& row, int bucket);

    // ---- whole images ----

    // Copies every row of an attached reader into the store, keeping its
    // order and its allocated sizes. The reader must have this builder's
    // descriptors and bucket counts. 1, or 0 on a damaged row (rows before it stay).
    int LoadFromReader(const t_tableFile& reader);
    // Merges every item of the reader into the store; a matching stored item
    // goes to cb (no cb: every item is inserted). 1, or 0 when the reader
    // could not be read or an item could not be inserted.
    int MergeFromReader(const t_tableFile& reader, t_mergeRecordFn cb);
    // Update records: u16 code (1 insert, 2 delete, others skipped) + packed
    // item; list k applies to key table k. 1 when every update went in, 0
    // when one failed (the others are still applied; messages printed).
    int ApplyUpdates(const std::vector<std::vector<const uint8_t*>>& lists);
    // Writes the store as a plain image through a temporary file. 1, or 0
    // (message printed, path untouched) when it does not fit or cannot be written.
    int SaveToFile(const wchar_t* path);
    // Builds the same plain image into out (no file). False when it does not fit.
    bool BuildPlainImage(std::vector<uint8_t>& out);
    // Loads image1, merges image2 into it and saves to path. Each image is a
    // u32 byte size followed by that many bytes. *result: 0 success, 1 first
    // image unusable, 2 second image unusable, 3 not written. Returns 1 on success.
    int MergeFiles(const void* image1, const void* image2, const wchar_t* path, int* result,
                   t_mergeRecordFn cb);
    // InsertItems then SaveToFile. 1 / 0.
    int InsertAndSave(const wchar_t* path, const std::vector<std::vector<const uint8_t*>>& lists);
    // LoadFromReader, ApplyUpdates, SaveToFile. 1 / 0 (nothing saved when an
    // update failed).
    int LoadUpdateOutput(const wchar_t* path, const std::vector<std::vector<const uint8_t*>>& lists,
                         const t_tableFile& reader);

    // ---- inspection ----
    int GetKeyCount() const { return int(m_layout.keys.size()); }
    int32_t GetBucketCount(int k) const;
    const std::vector<t_rowRecord>* GetBucket(int k, int b) const;
    uint64_t GetKeyRowCount(int k) const;
    uint64_t GetAttriRowCount(int a) const;
    uint64_t GetDataSize(int d) const;
    const t_tableLayout& GetLayout() const { return m_layout; }

    // Turns the typed-list text form ("int=5,str=ab,bool=1", type words int,
    // short, uint, str, bool) into a type-11 value: i16 count, then per entry
    // an i16 type code and the value (a string as i16 byte length + UTF-16
    // units). Returns the value's size, or -1 for an unknown type word, a bad
    // number or a string that does not fit.
    static int32_t ParseTypedList(const wchar_t* text, std::vector<uint8_t>& out);

private:
    enum t_insertResult { kJoined = 1, kCreated = 0 };

    bool Init(const std::vector<t_keyDesc>& keyDescs, const std::vector<t_attriDesc>& attriDescs,
              const std::vector<uint32_t>& dataDescs, uint32_t headerTag, uint32_t formatVersion,
              const std::vector<t_keyHashFn>& hashFns,
              const std::vector<t_keyCompareFn>& compareFns,
              const std::vector<int32_t>* bucketCounts);
    void Reset();
    bool Refuse(const char* why);
    const uint8_t* CopyValue(int type, const uint8_t* src, const uint8_t* end, bool isKey);
    bool ParseItem(int k, const uint8_t* const* fields, const uint8_t* cursor, const uint8_t* end,
                   t_rowRecord& row);
    bool DataTablesReady(int k, const t_rowRecord& row) const;
    int InsertParsed(int k, t_rowRecord& row);
    // ParseItem for a packed item (i32 size, then the fields); false for an
    // invalid builder, key table or size, or a malformed item.
    bool ParsePacked(const uint8_t* packedItem, int k, t_rowRecord& row);
    // Whether the builder is valid, k and bucket name one of its buckets and
    // row has a key.
    bool BucketOk(int k, int bucket, const t_rowRecord& row) const;
    // Removes the row at pos of a bucket of key table k, with its sizes and count.
    void DropRow(int k, std::vector<t_rowRecord>& rows, int64_t pos);
    int64_t SearchBucket(int k, const std::vector<t_rowRecord>& bucket, const uint8_t* key,
                         bool* found) const;
    int FieldType(int k, uint32_t field) const;
    uint64_t StringBytes(int type, const uint8_t* value) const;
    void AddRowSizes(int k, const t_rowRecord& row, int sign);
    void AddEntrySizes(int k, const std::vector<const uint8_t*>& entry, int sign);
    void AddSize(uint32_t table, uint64_t bytes, int sign);
    bool SameDescriptors(const t_tableFile& reader) const;
    bool ReadReaderRow(const t_tableFile& reader, int k, int b, const uint8_t* row,
                       t_rowRecord& out);
    const uint8_t* ReaderValue(const t_tableFile& reader, int type, int dataTable,
                               const uint8_t* field);
    bool BuildImage(bool empty, std::vector<uint8_t>& config, std::vector<uint8_t>& header,
                    std::vector<uint8_t>& items, uint32_t& check);

    bool m_valid = false;
    const char* m_lastError = nullptr;
    t_scopeHeap m_pool{t_scopeHeap::kDefaultBlockSize};
    t_tableLayout m_layout;
    uint32_t m_headerTag = 0;
    uint32_t m_formatVersion = 0;
    std::vector<t_keyHashFn> m_hashFns;
    std::vector<t_keyCompareFn> m_compareFns;
    std::vector<int32_t> m_bucketCounts;  // as given; 0 = the policy default
    std::vector<t_baseHash*> m_hash;
    std::vector<t_baseCompare*> m_cmp;
    std::vector<std::vector<std::vector<t_rowRecord>>> m_buckets;  // [key][bucket] -> sorted rows
    std::vector<uint64_t> m_keyRows;
    std::vector<uint64_t> m_attriRows;
    std::vector<uint64_t> m_dataSizes;
    const void* m_extra = nullptr;
    uint32_t m_extraSize = 0;
};
