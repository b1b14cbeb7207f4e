// The cell dictionary: the words of the cell dictionaries a user added,
// merged into one read-only image (keys of syllable ids -> 22-byte records,
// a word index, a sorted table and the cells' names). Every read is checked
// against the image size. One thread at a time (the kernel call's thread).
//
// Image: 16 i32 header words, then an optional extension area at byte 64.
//   1 buckets, 2 items, 3 a count, 4 sorted entries, 5 indexed words (counts);
//   6 buckets, 7 items, 8 records, 9 sorted table, 10 key area, 11 word area
//   (ends at 12), 12 info area (ends at 13; 13 is also the sorted entries'
//   base), 14 word-index group table (256 i32 offsets from the image start),
//   15 word-index offset table (i32 offsets into the word area).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "kernel/runtime/dict_base.h"
#include "kernel/runtime/lstr.h"

// One 32-bit info code as text: top byte 1 or 16 gives "%d" of the low 24
// bits, a letter gives "%c%d"; false (nothing written) for any other code.
bool FormatCellCode(uint32_t code, std::wstring& out);

#pragma pack(push, 1)
struct t_cellRecord {
    int32_t wordOffset;  // into the word area
    int32_t infoOffset;  // into the info area
    uint16_t position;   // wanted candidate place, 0 = none
    uint32_t frequency;
    int32_t weight;  // second weight
    float extraPower;
};
#pragma pack(pop)
static_assert(sizeof(t_cellRecord) == 22);

class t_extDict : public t_dictStorageBase {
public:
    static constexpr uint32_t kHeaderWords = 16;
    static constexpr uint32_t kBucketSize = 12;
    static constexpr uint32_t kItemSize = 12;
    static constexpr uint32_t kGroupSize = 16;
    static constexpr uint32_t kCellNameRecordSize = 584;
    static constexpr uint32_t kTagExtension = 0x4E525458;  // "XTRN"
    static constexpr uint32_t kTagCellList = 0x54534C53;   // "SLST"
    static constexpr uint16_t kMoreKeys = 65535;

    // Checks the header (offset words within 0..size, counts not negative);
    // the result is the ready flag.
    bool Load(void* data, int32_t size) override;

    // Item number of key, or -1. *more = 65535 when longer keys start with
    // it. *hint (may be null) bounds the search from below on entry and
    // receives the item after the key, or its insertion place.
    int32_t FindKey(const t_lstr* key, uint16_t* more, uint32_t* hint);
    // Record count of item i and its first record; 0 when out of range.
    uint32_t GetItem(int32_t i, const t_cellRecord** out);
    // The string at an offset of the word or info area; null outside it.
    const t_lstr* GetWordText(int32_t offset);
    const t_lstr* GetInfoText(int32_t offset);
    // The keys that extend key (at most max), with their item numbers.
    int PrefixSearch(const t_lstr* key, int max, uint32_t* items, const t_lstr** keys);
    // 1 when one of the key's records holds exactly word.
    int Contains(const t_lstr* key, const t_lstr* word);
    // 1 when word is in the word index.
    int ContainsWord(const t_lstr* word);
    int HasWords();
    // The sorted-table entry {u32 value; text} of text, or null.
    const uint8_t* FindSortedEntry(const t_lstr* text);
    // Appends "%d" of each code's low 24 bits to numbers and the cell's name
    // (when listed) to names, comma-separated. 0 when there is no cell list
    // or a chunk runs past the extension area or the image.
    int GetCellNames(const t_lstr* codes, std::wstring& numbers, std::wstring& names);
    // The record's info codes of (key, word) as texts ("%d" for cell
    // numbers, "%c%d" for letter codes); 1 when found.
    int GetWordCodes(const t_lstr* key, const t_lstr* word, std::vector<std::wstring>& out);

private:
    bool Word(uint32_t i, int32_t* out) const;
    // size bytes at off lie inside the image.
    bool Inside(uint64_t off, uint64_t size) const { return off <= m_size && size <= m_size - off; }
    // A whole t_lstr at off inside [begin, end).
    const t_lstr* StringAt(uint64_t begin, uint64_t end, int64_t off) const;
    const t_lstr* ItemKey(uint32_t item) const;
    const t_cellRecord* FindRecord(const t_lstr* key, const t_lstr* word);
    const uint8_t* CellList(uint32_t* count);

    const uint8_t* m_image = nullptr;
    uint64_t m_size = 0;
    int32_t m_header[kHeaderWords] = {};
    // Cached "SLST" chunk: 0 not looked up, 1 absent, 2 found.
    int m_cellListState = 0;
    const uint8_t* m_cellList = nullptr;
    uint32_t m_cellListCount = 0;
};
