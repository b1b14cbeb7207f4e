// t_sysDict: the system word dictionary (qzim_core.bin), a flat image of a
// syllable-pair index, a word tree, 9-byte word records, a text area, class
// records, the short-key table and the gram statistics; t_sysDictCursor
// walks the word tree one syllable at a time.
// One thread at a time (the kernel's dictionary lock); every lookup answers
// 0 / null while the dictionary is not ready.
#pragma once

#include <cstdint>

#include "kernel/runtime/dict_base.h"

struct t_lstr;
class t_scopeHeap;
class t_gramInfo;

// Layout of the image, shared with its writer.
namespace n_sysDict {
constexpr uint32_t kMagicOld = 20090716;
constexpr uint32_t kMagic = 20140716;
constexpr int32_t kMinDate = 20060000;
constexpr uint32_t kHeaderSize = 28;
constexpr uint32_t kIndexIds = 441;                        // ids the pair index is built for
constexpr uint32_t kRootBase = kIndexIds * kIndexIds;      // 194481: the single-syllable roots
constexpr uint32_t kIndexEntries = kRootBase + kIndexIds;  // 194922
constexpr uint32_t kIndexEntrySize = 10;
constexpr uint32_t kIndexOffset = kHeaderSize;
constexpr uint32_t kWordsOffset = kIndexOffset + kIndexEntries * kIndexEntrySize;  // 1949248
constexpr uint32_t kWordSize = 9;
constexpr uint32_t kNodeSize = 8;
constexpr uint32_t kClassSize = 5;
constexpr uint32_t kShortKeyEntries = 702;  // 26 one-letter + 26 x 26 two-letter keys
constexpr uint32_t kShortKeyEntrySize = 5;
constexpr uint32_t kShortKeyBlockSize = kShortKeyEntries * kShortKeyEntrySize;  // 3510
constexpr uint32_t kShortItemSize = 16;
constexpr uint32_t kNone = 0xFFFFFFFFu;
constexpr uint32_t kLastOfGroup = 2000000;  // added to the text offset of a group's last record
constexpr uint32_t kMaxTextUnits = 1999999;
constexpr uint32_t kOffsetMask = 0x3FFFFF;
constexpr int kMaxState = 78;  // deepest state a push may start from
constexpr int kMaxPathIds = 256;

// Word record flag byte (byte 6).
constexpr uint8_t kFlagPersonName = 0x01;
constexpr uint8_t kFlagNameLike = 0x02;
constexpr uint8_t kFlagContext = 0x04;
constexpr uint8_t kFlagNumber = 0x10;
constexpr uint8_t kFlagMarked = 0x20;
constexpr uint8_t kFlagGramHigh = 0x80;  // bit 16 of the gram id

// Short-key item (16 bytes): u16 byte count and up to two syllable ids,
// u16 low bits of the gram id, u16 cost whose top bit is bit 16 of the gram
// id, then the text as u16 byte count and up to two units.
constexpr uint32_t kShortItemIds = 0;
constexpr uint32_t kShortItemGram = 6;
constexpr uint32_t kShortItemCost = 8;
constexpr uint32_t kShortItemText = 10;
}  // namespace n_sysDict

class t_sysDict : public t_dictStorageBase {
public:
    t_sysDict() = default;
    ~t_sysDict() override;

    // Attaches the image and then the gram statistics at its end. False, not
    // ready, when size is not positive, a header value is negative or
    // inconsistent, any area or any offset stored in the index, the tree,
    // the records or the short-key table lies outside the image, or the
    // gram statistics cannot be attached.
    bool Load(void* data, int32_t size) override;

    // Decodes record i: text offset, cost (11 bits), gram id (17 bits) and
    // whether a further record of the same group follows. 0 (more = 0) when
    // not ready or i is out of range.
    int GetWordRecord(uint32_t i, uint32_t* textOffset, uint16_t* cost, uint32_t* gramId,
                      uint8_t* more) const;
    // A record's cost on the one scale the candidate list compares words
    // by. The table stores rows of more than one character that have no
    // gram id net of the terms a sentence adds to them, rows with one at
    // their gross cost; unchanged for the highest cost (a word the
    // statistics do not know) and for one character.
    uint16_t ListCost(uint16_t cost, uint32_t gramId, uint32_t chars) const;
    // What ListCost adds back: a gross cost less this is on the scale of the
    // unigram records.
    uint16_t GetNetOfPath() const { return m_netOfPath; }
    // The flag byte of record i (0 when out of range).
    uint8_t GetWordFlags(uint32_t i) const;
    // The record's text; null when out of range.
    const t_lstr* GetWordText(uint32_t i) const;
    // The text at a text offset; null when out of range.
    const t_lstr* GetTextAt(uint32_t textOffset) const;
    // 1 and the 5-byte class record when record i has one; else out[0] = 0, 0.
    int GetWordClassInfo(uint32_t i, uint8_t out[5]) const;

    // 1 when the ids (each below 441) lead to a group holding exactly text.
    int FindWord(const t_lstr* ids, const t_lstr* text, uint32_t* wordIndex, uint32_t* textOffset,
                 uint32_t* gramId) const;
    int FindWordEx(const t_lstr* ids, const t_lstr* text, uint32_t* wordIndex, uint32_t* textOffset,
                   uint16_t* cost, uint32_t* gramId) const;
    // 1 when a text of 2 to 4 syllables is acceptable as a composed word:
    // a system word itself, or split at a syllable boundary into system
    // words of which one has at least two syllables.
    int CheckWordComposition(const t_lstr* ids, const t_lstr* text) const;
    // A part of the id list and text (unit positions first..last, inclusive,
    // at most 10 ids) looked up with FindWord.
    int FindSubWord(const t_lstr* ids, const t_lstr* text, int first, int last,
                    uint32_t* wordIndex) const;
    // The part is a system word with a class record and, exactly, (class
    // bits & 7) == value, or else (class bits & 0x38) shares a bit with value.
    int SubWordHasClass(const t_lstr* ids, const t_lstr* text, int first, int last, uint32_t value,
                        bool exact) const;
    int SubWordsHaveClasses(const t_lstr* ids, const t_lstr* text, int first1, int last1,
                            uint32_t value1, bool exact1, int first2, int last2, uint32_t value2,
                            bool exact2) const;

    // Short-key table: entry `key` (0..25 one letter, 26 + a x 26 + b two
    // letters) gives *start and *count of 16-byte items. 0 when not ready or
    // out of range.
    int GetShortKeyEntry(int key, uint32_t* start, uint8_t* count) const;
    // Item i of the short-key items; null when out of range.
    const uint8_t* GetShortKeyItem(uint32_t i) const;

    // ---- layout, for the cursor and the tools ----
    int32_t GetDate() const { return m_date; }
    uint32_t GetMagic() const { return m_magic; }
    uint32_t GetNodeCount() const { return m_nodeCount; }
    uint32_t GetWordCount() const { return m_wordCount; }
    uint32_t GetTextUnits() const { return m_textUnits; }
    uint32_t GetClassCount() const { return m_classCount; }
    uint32_t GetShortItemCount() const { return m_itemCount; }
    uint64_t GetUsedBytes() const { return m_used; }
    // Pair-index entry e: first node, first word, third-syllable mask; false
    // when e is out of range.
    bool GetIndexEntry(uint32_t e, uint32_t* firstNode, int32_t* firstWord, uint16_t* mask) const;
    // Node n: skip, id, first word; false when n is out of range.
    bool GetNode(uint32_t n, int16_t* skip, int16_t* id, int32_t* firstWord) const;
    const t_gramInfo* GetGram() const;

private:
    bool Validate() const;
    void Clear();
    // What ListCost adds back: measured on the image's own rows, as the
    // usual gross cost less the unigram record of rows that have both.
    void MeasureNetOfPath();

    const uint8_t* m_image = nullptr;
    uint64_t m_size = 0;
    int32_t m_date = 0;
    uint32_t m_magic = 0;
    uint32_t m_nodeCount = 0, m_wordCount = 0, m_textUnits = 0, m_classCount = 0, m_itemCount = 0;
    const uint8_t* m_index = nullptr;
    const uint8_t* m_words = nullptr;
    const uint8_t* m_nodes = nullptr;
    const uint8_t* m_text = nullptr;
    const uint8_t* m_classes = nullptr;
    const uint8_t* m_shortKeys = nullptr;
    const uint8_t* m_items = nullptr;
    uint64_t m_used = 0;
    uint16_t m_netOfPath = 0;
};

// A walk down the word tree. Create it with the dictionary; state 0 is
// before the first syllable.
struct t_sysDictCursor {
    explicit t_sysDictCursor(const t_sysDict* dict) : dictionary(dict) {}

    // Steps down by one syllable id (below 441). Returns 1 when the new
    // position carries words; *stepped = 1 when the path exists (the cursor
    // then moved, else it stays where it was).
    int PushSyllable(uint16_t id, uint8_t* stepped);
    // Steps back one syllable; 0 at state 0.
    int PopSyllable();
    // Every word group below the position in preorder (state 2 and deeper):
    // its word index and an arena copy of path extended by the ids down to
    // it. Returns the count (at most max).
    int GetWords(const t_lstr* path, uint32_t* wordIndex, t_lstr** paths, t_scopeHeap* heap,
                 int max) const;
    int GetSubtreeWordIndexes(uint32_t* out, int max) const;
    // Whether a longer word continues from the position.
    bool HasContinuation() const;

    uint16_t state = 0;
    uint32_t stack[n_sysDict::kMaxState - 2] = {};  // saved node of states 3..78
    uint32_t entry = 0;
    int16_t firstId = 0;
    int32_t node = -1;
    int32_t word = -1;
    uint16_t mask = 0;
    uint8_t hasChildren = 0;
    const t_sysDict* dictionary = nullptr;

private:
    int Walk(const t_lstr* path, uint32_t* wordIndex, t_lstr** paths, t_scopeHeap* heap,
             int max) const;
};
