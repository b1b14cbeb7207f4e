// Read-only string dictionaries: the English word list, the web-address list
// and the English prediction keys, each over a table-file image, plus the
// string order and the wildcard search that the user lists share.
// One thread at a time per dictionary (the kernel call's thread); results
// live in the caller's arena.
#pragma once

#include <cstdint>

#include "kernel/runtime/dict_base.h"
#include "kernel/runtime/lstr.h"
#include "kernel/runtime/scope_heap.h"
#include "kernel/storage/table_file.h"

constexpr uint32_t kStrDictVersion = 20140219;
constexpr uint32_t kPreEngDictVersion = 20150305;

// Order of stored strings: apostrophes are skipped on both sides, 'A'-'Z'
// fold to lower case; 2 / -2 at the first differing unit, 1 / -1 when one
// string is a proper prefix of the other (the longer is greater), 0 equal.
int EngCompare(const t_lstr* a, const t_lstr* b);

// One search answer, placed in the caller's arena.
struct t_strResult {
    t_lstr* text;          // stored string with the input's capitals applied
    const t_lstr* stored;  // the string in the image
    uint32_t time;         // user rows: last use; system rows: first value
    uint32_t count;        // user rows: use count; system rows: frequency
    uint8_t source;        // 1 user row, 0 system row
};

// Row layout of key table 0 shared by the system and user images: the
// string (offset into data table 0), then two u32 values.
constexpr uint32_t kStrRowTimeOffset = 4;
constexpr uint32_t kStrRowCountOffset = 8;

// The search over key table 0 of an attached image (user rows need a count
// of at least 2). Returns 1 with *out, *fullCount and *total set (nothing
// matched: *total 0, *out untouched); 0 with *total -1 when the arena has no
// room. An empty input, or one made only of '*', finds nothing.
int StrTableSearch(const t_tableFile& table, bool userRows, t_scopeHeap& heap, const t_lstr* input,
                   int minLength, t_strResult*** out, uint32_t* fullCount, int32_t* total);
// Result records of every proper prefix of key that is stored (1 to n-1
// units, shortest first). 1 with *count set; 0 with *count -1 when the arena
// has no room.
int StrTablePrefixWords(const t_tableFile& table, bool userRows, t_scopeHeap& heap,
                        const t_lstr* key, t_strResult*** out, int32_t* count);
// The row whose string equals s exactly among the rows the string order
// finds equal; null when none.
const uint8_t* StrTableFindExact(const t_tableFile& table, const t_lstr* s);

// Holder of a read-only string image.
class t_strDict {
public:
    t_strDict() = default;
    t_strDict(const t_strDict&) = delete;
    t_strDict& operator=(const t_strDict&) = delete;

protected:
    bool AttachImage(const void* image, int32_t size);
    t_tableFile m_table;
};

// A read-only string dictionary the dictionary manager holds: what the
// English words and the web addresses share.
class t_strSysDict : public t_dictStorageBase, public t_strDict {
public:
    // Attaches the image (version 20140219, string order); the result is the
    // ready flag.
    bool Load(void* data, int32_t size) override;
    // See StrTableSearch; 0 when not ready.
    int Search(t_scopeHeap& heap, const t_lstr* input, int minLength, t_strResult*** out,
               uint32_t* fullCount, int32_t* total);
};

class t_engSysDict : public t_strSysDict {
public:
    // See StrTablePrefixWords; 0 when not ready.
    int GetPrefixWords(t_scopeHeap& heap, const t_lstr* key, t_strResult*** out, int32_t* count);
    // 1 with *freq = the frequency of the row whose string equals s exactly
    // (among the rows equal in the string order); 0 when none or not ready.
    int GetWordFreq(const t_lstr* s, uint32_t* freq);
};

// The web addresses: loading and the search alone.
class t_urlSysDict : public t_strSysDict {};

// The English prediction keys (version 20150305, default policies).
class t_preEngDict : public t_dictStorageBase {
public:
    // Attaches (version 20150305); the result is the ready flag.
    bool Load(void* data, int32_t size) override;
    // 1 when key is in key table 0; 0 when absent or not ready.
    int Contains(const t_lstr* key);

private:
    t_tableFile m_table;
};
