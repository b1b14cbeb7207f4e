// The typed table-file image: field types, table descriptors, row layout and
// the check number, shared by the reader, the builder and the dump tool.
// Plain data and pure functions; safe on any thread.
//
// Image, all integers little-endian:
//   u32 check | i32 configSize | config | header | items [| u32 extraSize | extra]
//   config = i32 keyCount, attriCount, dataCount, then the key descriptors
//            (i16 keyType, i16 fieldCount, fieldCount x i16 type, 4 x u32),
//            the attri descriptors (4 x u32) and the data descriptors (u32)
//   header = u32 tag, u32 formatVersion, i32 itemsSize, i32 keyCount,
//            attriCount, dataCount, then one {offset, allocated, used} record
//            per table: key tables, attri tables, data tables
//   items  = for each key table its bucket array (8 bytes a bucket) right
//            before its rows; attri rows; data tables of (i16 length + bytes)
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "kernel/runtime/byte_order.h"

struct t_lstr;

// Caller-supplied functions of the hash and compare policies.
typedef int (*t_keyHashFn)(const t_lstr* key);
typedef int (*t_keyCompareFn)(const t_lstr* a, const t_lstr* b);

namespace n_tableFormat {

constexpr uint32_t kNone = 0xFFFFFFFFu;  // "no table" index, "no item" offset, end of chain
constexpr uint32_t kNoAttriNoWord =
    0xFFFFFFFEu;                   // attriIndex -2: no attri table and no trailing word
constexpr int kMaxKeyTables = 10;  // the reader keeps ten bucket counts
constexpr int kMaxKeyType = 99;
constexpr int kMaxFieldType = 12;

// Key-type flags; the policy id is the key type without them.
constexpr int kFlagPrefixSkip = 0x10;   // key rows carry a prefix-skip word after the key
constexpr int kFlagSortedAttri = 0x20;  // attri rows consecutive, skip word after field 0
constexpr int kFlagPackedAttri = 0x40;  // attri rows consecutive, no extra word
constexpr int kFlagMask = 0x70;

constexpr uint32_t kConfigCountsSize = 12;
constexpr uint32_t kHeaderFixedSize = 24;
constexpr uint32_t kTableRecordSize = 12;
constexpr uint32_t kBucketEntrySize = 8;
// The smallest plain image: check, configSize, three counts, a header without
// tables and one byte of items.
constexpr uint32_t kMinImageSize = 8 + kConfigCountsSize + kHeaderFixedSize + 1;

// Field types: 0, 10, 11 and 12 hold a u32 offset of an item in a data table.
inline bool IsVarLenType(int type) {
    return type == 0 || type == 10 || type == 11 || type == 12;
}
// Bytes a field of `type` takes in a row; 0 for an unknown type.
inline uint32_t FieldSize(int type) {
    static const uint8_t kSizes[13] = {4, 1, 1, 2, 1, 2, 2, 4, 4, 8, 4, 4, 4};
    return (type >= 0 && type <= kMaxFieldType) ? kSizes[type] : 0;
}
inline int PolicyId(int keyType) {
    return keyType & ~kFlagMask;
}

// Little-endian access at any alignment.
using ::Rd16;
using ::Rd32;
using ::RdI16;
using ::RdI32;
using ::Wr16;
using ::Wr32;

}  // namespace n_tableFormat

// Description of one key table as stored in the configuration block.
struct t_keyDesc {
    int16_t keyType = 0;
    std::vector<int16_t> fieldTypes;  // field 0 is the key
    uint32_t attriIndex =
        n_tableFormat::kNone;  // kNone (-1) or kNoAttriNoWord (-2): no attri table
    uint32_t keyDataTable = n_tableFormat::kNone;
    uint32_t valueDataTable = n_tableFormat::kNone;
    uint32_t capacity = 0;  // rows allocated by the builder's empty image
};

struct t_attriDesc {
    uint32_t fieldCount = 0;  // trailing fields of the owning key held by the attri row
    uint32_t ownerKey = 0;
    uint32_t dataTable = n_tableFormat::kNone;
    uint32_t capacity = 0;
};

// Row geometry derived from the descriptors; the same rules serve the reader,
// the builder and the tool.
struct t_keyLayout {
    int policyId = 0;
    bool hasAttri = false;
    uint32_t attri = 0;         // attri table index when hasAttri
    uint32_t keyRowFields = 0;  // fields 0 .. keyRowFields-1 live in the key row
    uint32_t rowSize = 0;
    uint32_t keyFieldSize = 0;  // bytes of field 0 in the row (0 for digit keys)
    uint32_t skipOffset = 0;    // prefix-skip word (flag 0x10)
    std::vector<uint32_t>
        fieldOffsets;          // in-row offset of fields 1 .. keyRowFields-1 (index = field)
    uint32_t countOffset = 0;  // attri row count word (flags 0x20/0x40 with attri)
    uint32_t linkOffset = 0;   // attri link word (with attri)
    // Attri row of this key's attri table.
    uint32_t attriRowSize = 0;
    std::vector<uint32_t> attriFieldOffsets;  // index = position among the trailing fields
    uint32_t attriSkipOffset = 0;             // flag 0x20
    uint32_t attriLinkOffset = 0;             // chains (no 0x20 / 0x40)
};

struct t_tableLayout {
    std::vector<t_keyDesc> keys;
    std::vector<t_attriDesc> attris;
    std::vector<uint32_t> datas;
    std::vector<t_keyLayout> keyLayouts;
    std::vector<uint32_t> attriRowSizes;  // 0 for an attri table no key uses

    // Checks every index and count of the descriptors and derives the row
    // layouts. Returns null on success, else a short reason (layout unusable).
    const char* Derive();
    // Reads the descriptors from a configuration block of `size` bytes (read
    // only inside it) and derives the layouts; adds the block's words, with
    // size itself, to `sum` as the check number counts them. Returns null on
    // success, else a short reason (the descriptors are then unusable).
    const char* ParseConfig(const uint8_t* block, uint32_t size, uint32_t& sum);
    uint32_t ConfigSize() const;
    uint32_t HeadSize() const;
    // Appends the configuration block to `out`; adds its words to `sum`.
    void WriteConfig(std::vector<uint8_t>& out, uint32_t& sum) const;
};
