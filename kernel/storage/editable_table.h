// t_editableTableFile: the table file a dictionary edits in memory. It adds
// items to the attached image in place, keeps spare rows per hash bucket,
// relieves full tables by doubling or trimming, and saves whole, in place
// (fixed-capacity mode) or as a compact image.
// One thread at a time per object; the owning dictionary serialises access.
//
// Row pointers are only good until the image changes. Every change that can
// move rows (an add, a double, a trim, an attach) advances the generation;
// field writes take a t_editRow stamped with it and refuse stale ones, so a
// caller holding a row across an add re-locates instead of writing blindly.
#pragma once

#include <cstdint>
#include <utility>
#include <vector>

#include "kernel/storage/table_file.h"

// What isRemoved reports for a row.
enum : int {
    kRowLive = 0,       // may be offered to `remove` by a trim
    kRowRemoved = 1,    // passed over by the removal walk and dropped by the rebuild
    kRowProtected = 2,  // never offered to `remove`, always kept
};

// Ranking of two rows (key rows, or attri rows for keys with an attri
// table): true when a ranks below b, i.e. a is the better one to drop. Must
// be a strict weak order.
typedef bool (*t_editRowLessFn)(const uint8_t* a, const uint8_t* b);
// Offered a row to remove: the owner marks it (so that isRemoved then
// reports kRowRemoved) and may update its counters in the extra block.
// index is the row's place in the ranking. Non-zero when the row now counts
// as removed.
typedef int (*t_editRowRemoveFn)(uint8_t* row, uint8_t* extra, void* context, int index);
// kRowLive, kRowRemoved or kRowProtected (other non-zero values count as removed).
typedef int (*t_editRowStateFn)(const uint8_t* row, void* context);

// The pieces of a doubled image, valid only during the growth notice.
struct t_grownImage {
    uint32_t checkNum = 0;
    uint32_t configSize = 0;
    const uint8_t* config = nullptr;
    uint32_t headSize = 0;
    const uint8_t* header = nullptr;
    uint32_t itemsSize = 0;
    const uint8_t* items = nullptr;
    uint32_t extraSize = 0;
    const uint8_t* extra = nullptr;
    uint32_t totalSize = 0;  // bytes of the whole image with its extra block
    // Writes the whole image (what SaveToFile would write) into dest. False
    // when destSize is smaller than totalSize.
    bool CopyTo(uint8_t* dest, uint64_t destSize) const;
};
// Growth notice: returns a writable buffer of at least img.totalSize bytes,
// owned by the owner, that is to hold the image from now on; the editable file
// copies the image into it and re-attaches. Null refuses the growth (the old
// image stays attached). Calls into the editable file from the notice are
// refused; the old buffer may be released inside the notice.
typedef uint8_t* (*t_editGrownFn)(const t_grownImage& img, void* context);
// Supplies a buffer of size bytes for a compact load; non-zero when it did.
typedef int (*t_editAllocFn)(uint8_t** buffer, uint32_t size, void* context);

// Trim callbacks of one key table.
struct t_editTrimCallbacks {
    t_editRowLessFn less = nullptr;
    t_editRowRemoveFn remove = nullptr;
    void* removeContext = nullptr;
    t_editRowStateFn isRemoved = nullptr;
    void* removedContext = nullptr;
    // Optional (attri rows only): offered the live rows the owner's rule in
    // `remove` kept, lowest ranked first, when that rule left fewer than the
    // trim's share removed (a table full of rows the rule keeps would never
    // make room again); called with removeContext. Protected rows are never
    // offered.
    t_editRowRemoveFn evict = nullptr;
};

// A row as handed out by Locate; good only for the generation it carries.
struct t_editRow {
    uint8_t* ptr = nullptr;
    int key = -1;          // key table
    bool inKeyRow = true;  // false: an attri row of that key's attri table
    uint64_t generation = 0;
};

struct t_editLocation {
    bool keyFound = false;
    bool itemFound = false;
    int32_t bucket = -1;
    int32_t row = 0;          // row in the bucket; the insertion row when the key is absent
    int32_t bucketStart = 0;  // byte offset of the bucket's first row
    t_editRow keyRow;         // the key row when keyFound
    t_editRow attriRow;       // the matching attri row when itemFound with an attri table
    t_editRow lastAttriRow;   // the chain's last attri row when the key has one
    int64_t lastAttriOffset = -1;
};

// Fixed-capacity region header, as laid out at the start of the region.
struct t_fixedState {
    uint8_t* header = nullptr;       // 14 bytes: capacity, used, sum, grown, moved
    uint8_t* changes = nullptr;      // change records, 10 bytes each
    int32_t changeSlots = 0;         // attri tables + capacity
    uint8_t* dataRecords = nullptr;  // one per data table
    int32_t dataCount = 0;
    uint8_t* dirty = nullptr;  // one byte per bucket, key tables in order
    uint32_t mode = 0;
};

class t_editableTableFile : private t_tableFile {
public:
    // Mode word: growth mode in the low bits, plus these flags.
    static constexpr uint32_t kModeTrim = 0, kModeDouble = 1, kModeDoubleInLimits = 2,
                              kModeTrimWithLimits = 3;
    static constexpr uint32_t kModeFixedCapacity = 0x20;
    static constexpr uint32_t kModeCompact = 0x40;
    // The largest image a growth or compact load will make.
    static constexpr uint64_t kMaxImageSize = uint64_t(256) << 20;

    // Trim mode with the callbacks of key table 0.
    t_editableTableFile(t_editRowLessFn less, t_editRowRemoveFn remove, void* removeContext,
                        t_editRowStateFn isRemoved, void* removedContext, int32_t extraSize);
    // Growth mode 2 (keep = true) or 3; compact images when alloc is given.
    t_editableTableFile(t_editGrownFn onGrown, void* growthContext, t_editRowLessFn less,
                        t_editRowRemoveFn remove, void* removeContext, t_editRowStateFn isRemoved,
                        void* removedContext, int32_t extraSize, t_editAllocFn alloc, bool keep);
    // Doubling mode.
    t_editableTableFile(t_editGrownFn onGrown, void* growthContext, int32_t extraSize);
    // Trim mode with callbacks for every key table.
    t_editableTableFile(const std::vector<t_editTrimCallbacks>& callbacks, int32_t extraSize);
    ~t_editableTableFile();
    t_editableTableFile(const t_editableTableFile&) = delete;
    t_editableTableFile& operator=(const t_editableTableFile&) = delete;

    // The reader view, for code that reads table files (builders, tools).
    const t_tableFile& Reader() const { return *this; }

    // ---- reading (the reader's operations) ----
    using t_tableFile::CollectAttriChain;
    using t_tableFile::CollectKeyRows;
    using t_tableFile::EnumerateItems;
    using t_tableFile::Find;
    using t_tableFile::FindPrefix;
    using t_tableFile::FindRow;
    using t_tableFile::GetAttriCount;
    using t_tableFile::GetAttriDataTable;
    using t_tableFile::GetAttriIndex;
    using t_tableFile::GetAttriRow;
    using t_tableFile::GetAttriRowCount;
    using t_tableFile::GetAttriRowPtr;
    using t_tableFile::GetAttriRowSize;
    using t_tableFile::GetAttriUsedCount;
    using t_tableFile::GetBucketCount;
    using t_tableFile::GetBucketRow;
    using t_tableFile::GetBucketRowCount;
    using t_tableFile::GetBucketStart;
    using t_tableFile::GetCheckNum;
    using t_tableFile::GetDataCount;
    using t_tableFile::GetDataPtr;
    using t_tableFile::GetDataSize;
    using t_tableFile::GetDataUsed;
    using t_tableFile::GetFormatVersion;
    using t_tableFile::GetHeaderTag;
    using t_tableFile::GetImage;
    using t_tableFile::GetImageSize;
    using t_tableFile::GetItemsSize;
    using t_tableFile::GetKeyCount;
    using t_tableFile::GetKeyDataTable;
    using t_tableFile::GetKeyRowCount;
    using t_tableFile::GetKeyRowSize;
    using t_tableFile::GetKeyType;
    using t_tableFile::GetKeyUsedCount;
    using t_tableFile::GetLayout;
    using t_tableFile::GetRowKey;
    using t_tableFile::GetValueDataTable;
    using t_tableFile::IsAttached;
    using t_tableFile::SetBucketCount;

    // ---- attaching ----

    // Attaches to `size` bytes: a plain image followed by the u32 extra size
    // and the extra block. Fails (nothing attached, last error set) unless
    // size leaves room for a plain image beyond the extra block and its size
    // word, the plain image attaches, the stored extra size equals the
    // expected one, and every key table's used count equals the rows its
    // buckets hold. size 0 is refused: file data always comes with its length.
    // Fixed-capacity mode ends with the old image (set it again for the new
    // one). Refused from inside a growth notice.
    bool AttachWithExtra(void* image, uint32_t formatVersion,
                         const std::vector<t_keyHashFn>& hashFns,
                         const std::vector<t_keyCompareFn>& compareFns, int64_t size);
    void Detach();
    const char* GetLastError() const {
        return m_lastError ? m_lastError : t_tableFile::GetLastError();
    }
    // The extra block when its expected size equals size and is positive, else null.
    uint8_t* GetExtraData(int32_t size) const;
    int32_t GetExtraSize() const { return m_extraSize; }
    // Bytes of the whole image: plain image + 4 + extra size; -1 when detached.
    int64_t GetTotalSize() const;
    // Advanced by every change that may move rows; see t_editRow.
    uint64_t GetGeneration() const { return m_generation; }
    uint32_t GetMode() const { return m_mode; }
    // Rows of bucket b of key table k; -1 for a bad index.
    int32_t GetBucketCapacity(int k, int b) const;

    // ---- adding and finding ----
    // An item is the key row's fields followed, for a key with an attri
    // table, by the attri row's fields; strings (types 0, 10, 11, 12) as i16
    // byte length + bytes, other fields in their row encoding. Key tables
    // with flag bits (prefix-skip words, sorted or packed attri rows) are
    // read-only here: adds to them fail.

    // Adds an item to key table k. Returns 1 when it was already present
    // (nothing changed), 4 when added, 2 when added and the tables were then
    // doubled, 3 when added and the table then trimmed, 0 on failure: a bad
    // item, a key without bucket, no room (nothing written), or a failed
    // remedy after the item went in. A table with no row or byte left for
    // the item is relieved first (doubled or trimmed, 2 or 3 then) and the
    // item added after; no second remedy follows that add. When even the
    // relieved table has no room, 0, with the remedy's changes kept. The
    // limits go to HandleFull. `where`,
    // when given, receives the item's location after everything, so it is
    // current even after a double or a trim (itemFound false when the trim
    // dropped it).
    int AddItem(const uint8_t* item, uint32_t len, int k, int32_t* maxKeyRows,
                int32_t* maxAttriRows, t_editLocation* where = nullptr);
    // Finds an item's key and value; false for a bad item or a key without
    // bucket (loc then says nothing found).
    bool Locate(const uint8_t* item, uint32_t len, int k, t_editLocation* loc) const;
    // The same for key table 0 with the key field and the first attri field
    // given apart (each in item encoding; value may be null for key-only tables).
    bool FindKeyValue(const uint8_t* key, const uint8_t* value, t_editLocation* loc) const;
    // Every (key row, attri row) pair of key table k, bucket by bucket; attri
    // row null for a key table without attri table. False on a bad chain.
    bool CollectItems(int k, std::vector<std::pair<const uint8_t*, const uint8_t*>>& pairs) const;

    // ---- changing fields ----

    // Writes a field of a located row, fieldOffset bytes into it: a fixed
    // value of len bytes, or (isVarLen) a string item of len bytes (i16 byte
    // length + bytes). False, with nothing written, for a stale or foreign
    // row, a field outside the row, the key field or a link word, no room in
    // the data table, or no free change slot in fixed-capacity mode.
    bool SetFieldAt(const void* value, uint32_t len, const t_editRow& row, uint32_t fieldOffset,
                    bool isVarLen);

    // ---- fullness ----

    // True when a table of key k (its rows, attri rows, or a data table with
    // 256 bytes of headroom) has reached nine tenths of its allocation.
    bool IsNearlyFull(int k) const;
    // Fixed-capacity mode: true when at most two change slots are left.
    bool IsFull() const;

    // ---- saving ----

    // Writes the whole image (plain image, extra size, extra block) to path
    // through a temporary file renamed over it. False (message printed, path
    // untouched) on failure.
    bool SaveToFile(const wchar_t* path) const;

    // ---- fixed-capacity mode ----

    // Region bytes needed for `capacity` change records; -1 when detached.
    int64_t GetFixedStateSize(int32_t capacity) const;
    // Starts logging changes into region (regionSize bytes, caller-owned,
    // must outlive the mode). With region null, restarts the region given
    // before. False when detached, capacity < 0, the region is too small, or
    // there are more than 20 attri and data tables.
    bool SetFixedCapacityMode(int32_t capacity, uint8_t* region, uint64_t regionSize);
    bool GetFixedCapacityState(t_fixedState* out) const;
    // *out = 1 when in fixed-capacity mode and no remedy ran since; else 0.
    bool CanSaveInPlace(int* out) const;
    // Writes the logged changes over the existing file at path, which must
    // hold this image as saved when the mode was set (same length). The file
    // is patched in memory and replaced through a temporary file, so a failed
    // save leaves it whole. 1 on success, 0 when not in fixed-capacity mode,
    // after a remedy, when the region sum is disturbed, or on any I/O failure.
    int SaveDirtyInPlace(const wchar_t* path) const;

    // ---- growth and trimming ----

    // Relieves a nearly full key k by the growth mode: 2 doubled, 3 trimmed,
    // 4 a trim was due but trims are held (nothing changed), 0 failed.
    // maxKeyRows / maxAttriRows are the owner's limits (null: none); a trim
    // writes the new used counts through them.
    int HandleFull(int k, int32_t* maxKeyRows, int32_t* maxAttriRows);
    // While held, no add trims: a table its growth mode would trim is left
    // nearly full (doubles still run), and adds are refused only when no row
    // or byte is left. For an owner copying rows that must all be kept.
    void HoldTrims(bool held) { m_trimsHeld = held; }
    // Trims key k (refused in doubling mode). Non-zero on success.
    int Trim(int k, int32_t* keyUsed, int32_t* attriUsed);
    // Trims the attri rows of key k, keeping `keep` rows when 0 < keep <= rows.
    // With an evict callback the trim leaves at least its share removed
    // (the rows above `keep`, else a tenth of the rows), as far as live rows
    // allow.
    int TrimWithAttri(int k, int32_t* keyUsed, int32_t* attriUsed, int32_t keep);
    // Sets the evict callback of key k's trims (null: none).
    void SetEvictFn(int k, t_editRowRemoveFn evict);
    // Doubles key k's tables into a new image handed to the growth notice.
    int Double(int k);
    // Lets the trims of key k's attri rows, once a trim has offered every
    // live row to `remove`, offer later only the rows added or changed since:
    // a table kept nearly full by rows its owner declines to remove is then
    // trimmed in time proportional to those rows, not to the table. The
    // rows kept are exactly those of a full trim, provided the owner's
    // `remove` decides by the row alone (not by the index or the order of
    // the calls) and changes nothing when it declines, and rows change only
    // through this file or the owner calls NoteRowsChanged. Not with an
    // evict callback, whose rows depend on the whole table.
    void EnableQuickTrims(int k);
    // Rows were written through their pointers: the next trim offers every row.
    void NoteRowsChanged();

    // ---- compact images (need kModeCompact) ----

    // Writes the compact image of the attached image to path (through a
    // temporary file). 0 on failure.
    int SaveCompact(const wchar_t* path) const;
    // The compact image into dest; *written receives its length. 0 when it
    // does not fit.
    int CompactImageInto(uint8_t* dest, uint64_t destCap, uint64_t* written) const;
    // Full size of the image a compact image expands to (0 when it is
    // damaged: cut, inflated or inconsistent); *itemsOffset receives the
    // offset of the items area. Uses this object's bucket counts.
    uint64_t GetExpandedSize(const uint8_t* compact, uint64_t len, uint64_t* itemsOffset) const;
    // Expands into dest of exactly the expanded size; 0 on failure.
    int ExpandImageInto(const uint8_t* compact, uint64_t len, uint8_t* dest,
                        uint64_t destSize) const;
    // Expands into a buffer from the allocation function and attaches it.
    int LoadCompactImage(const uint8_t* compact, uint64_t len,
                         const std::vector<t_keyHashFn>& hashFns,
                         const std::vector<t_keyCompareFn>& compareFns, uint32_t formatVersion);

private:
    struct t_editKey {
        uint8_t* record = nullptr;
        uint8_t* rows = nullptr;
        uint8_t* buckets = nullptr;
        uint32_t rowSize = 0;
        int32_t bucketCount = 0;
        std::vector<uint32_t> cap;
        const t_baseHash* hash = nullptr;  // the reader's
        const t_baseCompare* cmp = nullptr;
        int attri = -1, keyData = -1, valueData = -1, attriData = -1;
        uint32_t attriRowSize = 0;
        bool editable = false;  // no flag bits: adds allowed
    };
    struct t_itemParts;
    struct t_compactPlan;

    void Init(uint32_t mode, int32_t extraSize);
    bool FailEdit(const char* why);
    void DropEditState();
    bool SetUpKeys();

    uint8_t* Header() const;
    uint8_t* Record(size_t table) const;  // key, attri, data order
    uint8_t* AttriRecord(int a) const { return Record(m_keys.size() + size_t(a)); }
    uint8_t* DataRecord(int d) const { return Record(m_keys.size() + m_attriCount + size_t(d)); }
    uint8_t* AttriRows(int a) const;
    uint8_t* DataBase(int d) const;
    void SetRecordWord(uint8_t* record, int word, uint32_t value);
    uint32_t BucketStart(const t_editKey& t, int b) const;
    uint32_t BucketRows(const t_editKey& t, int b) const;
    void SetBucket(t_editKey& t, int b, uint32_t start, uint32_t rows);
    t_editRow MakeRow(uint8_t* ptr, int k, bool inKeyRow) const;

    // AddItem without the relief of a table that has no room: kNoRoom then
    // (nothing written). remedy false: no remedy after the add either.
    static constexpr int kNoRoom = -1;
    int AddItemOnce(const uint8_t* item, uint32_t len, int k, int32_t* maxKeyRows,
                    int32_t* maxAttriRows, t_editLocation* where, bool remedy);
    bool ParseItem(const uint8_t* item, uint32_t len, int k, t_itemParts& parts) const;
    bool LocateParts(int k, const uint8_t* key, const uint8_t* value, t_editLocation* loc) const;
    bool SearchBucket(const t_editKey& t, int k, const uint8_t* key, int b, int32_t* row) const;
    bool FindLender(int k, int b, int* lender, uint32_t* give) const;
    void Borrow(int k, int b, int lender, uint32_t give);
    uint32_t AppendData(int d, const uint8_t* item, uint32_t bytes);
    void WriteFields(uint8_t* row, const t_itemParts& parts, uint32_t first, uint32_t end,
                     const std::vector<uint32_t>& offsets, const std::vector<int16_t>& types,
                     uint32_t typeBase, int d);
    bool CheckDataRoom(const t_itemParts& parts, int k, bool newKey) const;

    // fixed-capacity log
    bool Fixed() const { return (m_mode & kModeFixedCapacity) && m_fx.header; }
    void FxSet32(uint8_t* p, uint32_t v) const;
    void FxSet8(uint8_t* p, uint8_t v) const;
    void FxAddToRecord(uint8_t* record, uint32_t grow) const;
    bool FxLogChange(int a, uint32_t offset, uint32_t size) const;
    bool FxSlotFree() const;
    void FxMarkDirty(int k, int b) const;
    void FxSetGrown() const;
    uint32_t FxComputeSum() const;

    // growth
    bool TrimKeyOnly(int k, int32_t* keyUsed);
    bool DataExclusive(int d, int k) const;
    bool BuildCompactPlan(const uint8_t* compact, uint64_t len, t_compactPlan& plan) const;
    uint64_t CompactSize() const;
    bool ReattachOwned(uint8_t* buffer, uint64_t size);
    int32_t TrimTarget(size_t n, size_t alreadyRemoved, int32_t keep) const;
    // A trim with an evict callback leaves at least 1/kEvictShareDivisor of
    // the rows removed when no keep count is given.
    static constexpr size_t kEvictShareDivisor = 10;
    void EvictShare(const t_editTrimCallbacks& cb, const std::vector<uint8_t*>& ranked,
                    size_t removed, int32_t keep);
    int QuickTrim(int k, int32_t keep, int32_t* keyUsed, int32_t* attriUsed);
    bool UndoLastAdd(int k, uint32_t attriOffset);
    void NoteFieldWrite(int k, bool inKeyRow, uint32_t rowOffset, bool isVarLen);

    // What the last trim of a key table that offered every live row left.
    struct t_trimMemo {
        bool clean = false;             // the rows below cleanUsed were offered and kept
        uint32_t cleanUsed = 0;         // attri rows then
        std::vector<uint32_t> changed;  // byte offsets of those rows written since
    };
    // The last add, so that a trim that removes just that row can take it
    // back instead of rebuilding the table.
    struct t_lastAdd {
        uint64_t generation = 0;  // good while the file's generation equals it
        int k = -1;
        uint32_t attriOffset = 0;
        bool newKey = false;
        int32_t bucket = -1, row = 0;  // the new key row
        uint8_t* link = nullptr;       // else the previous last row's link word
        int data[3] = {-1, -1, -1};
        uint32_t dataBefore[3] = {0, 0, 0}, dataAfter[3] = {0, 0, 0};
    };
    std::vector<t_trimMemo> m_memo;  // per key table
    uint32_t m_quickKeys = 0;        // bit k: EnableQuickTrims(k)
    t_lastAdd m_lastAdd;

    std::vector<t_editTrimCallbacks> m_trim;
    t_editGrownFn m_onGrown = nullptr;
    void* m_growthContext = nullptr;
    t_editAllocFn m_alloc = nullptr;
    int32_t m_extraSize = 0;
    uint32_t m_mode = 0;
    uint8_t* m_extra = nullptr;
    uint64_t m_total = 0;
    uint64_t m_generation = 1;
    bool m_inNotice = false;   // a growth notice is running: no re-entry
    bool m_trimsHeld = false;  // HoldTrims
    uint32_t m_version = 0;
    const char* m_lastError = nullptr;
    std::vector<t_editKey> m_keys;
    size_t m_attriCount = 0;
    size_t m_dataCount = 0;

    struct t_fixedRegion {
        uint8_t* header = nullptr;
        uint8_t* dirty = nullptr;
        uint8_t* changes = nullptr;
        uint8_t* datas = nullptr;
        uint64_t size = 0;
        int32_t capacity = 0;
    };
    t_fixedRegion m_fx;
};
