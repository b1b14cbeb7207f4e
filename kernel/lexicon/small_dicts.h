// The small system dictionaries over table files (system custom phrases,
// info keys and their black list, number frequencies, web-address guides,
// smart info, quick input, pinyin tips, the adjustment cache) and the
// supported-character flags. One thread at a time per dictionary (the kernel
// call's thread); results that outlive a lookup live in the caller's arena,
// pointers into an image only while it stays attached.
#pragma once

#include <cstdint>
#include <vector>

#include "kernel/runtime/dict_base.h"
#include "kernel/runtime/lstr.h"
#include "kernel/runtime/scope_heap.h"
#include "kernel/storage/table_file.h"

// Format versions of the images.
constexpr uint32_t kAbbrSysVersion = 20140219;
constexpr uint32_t kInfoKeyVersion = 20140219;
constexpr uint32_t kInfoBlackVersion = 20140219;
constexpr uint32_t kNumFreqVersion = 20141106;
constexpr uint32_t kUrlGuideVersion = 20140219;
constexpr uint32_t kSmartInfoVersion = 20140219;
constexpr uint32_t kQuickSysVersion = 20150609;
constexpr uint32_t kPyTipVersion = 20140219;
constexpr uint32_t kAdjCacheVersion = 20150611;
constexpr uint32_t kSupportCharVersion = 20141219;

// Longest text (in bytes) the tail searches of the info dictionaries take.
constexpr uint32_t kInfoTextMaxBytes = 998;

// Common frame: a reader attached with the class's format version and the
// default policies; the attach result is the ready flag.
class t_smallTableDict : public t_dictStorageBase {
public:
    explicit t_smallTableDict(uint32_t version) : m_version(version) {}
    bool Load(void* data, int32_t size) override;
    // The reader's header tag; false when not ready.
    bool GetHeaderTag(uint32_t* out) const;

protected:
    // The chain of attri rows that a key row of key table k links to; false
    // when the row has no chain or the chain is damaged.
    bool ChainOf(int k, const uint8_t* keyRow, std::vector<const uint8_t*>& out) const;
    // The item at the attri row's field (an offset into the attri table's
    // data table); null when absent.
    const t_lstr* AttriItem(int k, const uint8_t* attriRow, uint32_t field) const;
    uint32_t AttriFieldOffset(int k, uint32_t field) const;

    t_tableFile m_table;
    uint32_t m_version;
};

struct t_abbrPhrase {
    const t_lstr* phrase;
    int16_t position;
};
struct t_abbrPhraseEntry {
    const t_lstr* key;
    const t_lstr* phrase;
    uint16_t position;
};

class t_abbrSysDict : public t_smallTableDict {
public:
    t_abbrSysDict() : t_smallTableDict(kAbbrSysVersion) {}
    // The phrases of an abbreviation with a position of 1 or more, in chain
    // order. 1 with count 0 when absent; 0 when not ready, on an unreadable
    // phrase or when the arena fails.
    int Lookup(t_scopeHeap& heap, const t_lstr* key, t_abbrPhrase*** out, uint32_t* count);
    // Every (abbreviation, phrase) pair; 0 when not ready or the arena fails.
    int GetAllPhrases(t_scopeHeap& heap, t_abbrPhraseEntry*** out, uint32_t* count);
    uint32_t GetPhraseCount();
};

class t_infoKey : public t_smallTableDict {
public:
    t_infoKey() : t_smallTableDict(kInfoKeyVersion) {}
    // Tries the text and then each shorter tail (longest first) for a stored
    // key equal to it or a prefix of it. 1 with *found 1 and *item = the
    // stored key at the first match, or *found 0; 0 when not ready or the
    // text is longer than 998 bytes.
    int Lookup(const t_lstr* text, int* found, const t_lstr** item);
};

class t_infoBlack : public t_smallTableDict {
public:
    t_infoBlack() : t_smallTableDict(kInfoBlackVersion) {}
    // 1 when the text or one of its tails starts with (or equals) a string of
    // the key's run; 0 otherwise, when not ready, or for a text longer than
    // 998 bytes.
    int Contains(const t_lstr* text, const t_lstr* key);
};

class t_numFreqAdjustDict : public t_smallTableDict {
public:
    static constexpr uint32_t kKindOffset = 4;
    static constexpr uint32_t kCountOffset = 6;
    t_numFreqAdjustDict() : t_smallTableDict(kNumFreqVersion) {}
    // True with the kind and count of a number text; false when absent.
    bool Get(const t_lstr* text, uint16_t* kind, uint32_t* count);
    // Overwrite the kind or count of a stored number in place; false when
    // absent or not ready (numbers are never added).
    bool SetKind(const t_lstr* text, uint16_t kind);
    bool SetCount(const t_lstr* text, uint32_t count);
    // Writes the image to path (temporary file renamed over it).
    bool Save(const wchar_t* path);

private:
    uint8_t* RowOf(const t_lstr* text);
};

class t_urlGuideDict : public t_smallTableDict {
public:
    t_urlGuideDict() : t_smallTableDict(kUrlGuideVersion) {}
    // The first guide row of a typed input (key table 1) or of a candidate
    // word (key table 0); null when none or not ready.
    const uint8_t* FindByInput(const t_lstr* input);
    const uint8_t* FindByWord(const t_lstr* word);
    // The guide text and the web address of a row found in key table k;
    // null when not ready or the item is missing.
    const t_lstr* GetGuideText(const uint8_t* row, int k);
    const t_lstr* GetGuideUrl(const uint8_t* row, int k);
};

class t_smartInfoCore : public t_smallTableDict {
public:
    static constexpr int32_t kBuckets = 156;
    t_smartInfoCore();
    // For category 0..5 and a word starting with a Latin letter: 1 with
    // *found telling whether the word is in that letter's sorted run; 0 for
    // other arguments or when not ready.
    int Contains(int category, const t_lstr* word, int* found);
};

struct t_quickEntry {
    const t_lstr* text;
    uint16_t a;
    int16_t b;  // stored value - 1
};
struct t_quickCategoryEntry {
    int16_t category;  // stored values - 1
    int16_t sub1;
    int16_t sub2;
    const t_lstr* texts[3];
};

class t_quickSysDict : public t_smallTableDict {
public:
    t_quickSysDict();
    // The entries of a text; 1 also when absent (count 0); 0 when not ready
    // or the arena fails.
    int Lookup(t_scopeHeap& heap, const t_lstr* text, t_quickEntry*** out, uint32_t* count);
    // The entries of a category whose sub-indexes match the filters (-1 or
    // 65535: any); 1 also when the category is absent (count 0); 0 when not
    // ready or the arena fails.
    int ListByCategory(t_scopeHeap& heap, uint32_t category, int32_t sub1, int32_t sub2,
                       t_quickCategoryEntry*** out, uint32_t* count);
};

class t_pyTip : public t_smallTableDict {
public:
    t_pyTip() : t_smallTableDict(kPyTipVersion) {}
    // The tip of text under key; null when none or not ready.
    const t_lstr* GetTip(const t_lstr* key, const t_lstr* text);
    // GetTip in two steps, for many texts of one key: the rows of the key's
    // tips (false when it has none or the dictionary is not ready), then
    // the tip of a text among them (null when none).
    bool GetTipRows(const t_lstr* key, std::vector<const uint8_t*>* rows);
    const t_lstr* GetTipAmong(const std::vector<const uint8_t*>& rows, const t_lstr* text) const;
};

class t_adjCache : public t_smallTableDict {
public:
    t_adjCache() : t_smallTableDict(kAdjCacheVersion) {}
    // The two bytes of the key's heaviest row (the first of equal weights);
    // true when that weight is above 0.
    bool GetBestAdjust(const t_lstr* key, uint8_t* b0, uint8_t* b1);
};

// One flag per code point of the Basic Multilingual Plane.
class t_supportCharDict : public t_dictStorageBase {
public:
    static constexpr uint32_t kFlagCount = 0x10000;
    static constexpr uint32_t kHeaderSize = 16;
    static constexpr uint32_t kImageSize = kHeaderSize + kFlagCount;

    t_supportCharDict();
    // Copies the flags of a valid image (version 20141219, count 0x10000,
    // at least 65552 bytes), then clears the disabled range. Always true.
    bool Load(void* data, int32_t size) override;
    // Reads the whole file and commits it; false when it cannot be read or
    // is empty, or the commit fails.
    bool LoadFromFile(const wchar_t* path) override;
    const uint8_t* GetFlagTable() const { return m_flags; }
    // Sets the flags of [first, last] (0 <= first <= last < 0x10000, else
    // nothing); value 0 also records the range as disabled, re-applied on
    // every reload.
    void SetRange(int32_t first, int32_t last, uint8_t value);

private:
    uint8_t m_flags[kFlagCount];
    int32_t m_disabledFirst = -1;
    int32_t m_disabledLast = -1;
};
