// Constant tables compiled into the kernel: which three-letter sequences
// occur in pinyin input, the word reading table (syllable sequences that
// name a character, with its tone-marked reading), and the tone marks with
// which a syllable id and a tone become tone-marked text and back.
// Read-only after creation; safe on any thread.
#pragma once

#include <cstddef>
#include <cstdint>

// ---- letter trigrams ----

inline constexpr size_t kLetterTrigramWords = 26 * 32;
// Word (a - 'a') x 32 + (c - 'a') has bit (b - 'a') set when a b c occurs.
extern const uint32_t kLetterTrigramBits[kLetterTrigramWords];

// True when the lower-case letters a b c occur in that order; false for any
// other character.
bool LetterTrigramExists(wchar_t a, wchar_t b, wchar_t c);

struct t_letterTrigramIter {
    uint32_t bits = 0;  // candidates still to hand out
    int next = 0;       // letter index to look at next
};
// Middle letters b of a ? c, ascending; Next returns 0 when none is left.
void LetterTrigramMiddleIterInit(t_letterTrigramIter* iter, wchar_t a, wchar_t c);
wchar_t LetterTrigramMiddleIterNext(t_letterTrigramIter* iter);
// Third letters c of a b ?, ascending; Next returns 0 after 'z'.
void LetterTrigramThirdIterInit(t_letterTrigramIter* iter, wchar_t a, wchar_t b);
wchar_t LetterTrigramThirdIterNext(t_letterTrigramIter* iter);

// Builds a trigram table (kLetterTrigramWords words) from a text file of
// three-letter lines (lower case, at most 32 characters a line). Returns
// true at the end of the file; false when the file cannot be read or at the
// first line that is not three letters 'a'..'z' (bits set before it stay).
bool LetterTrigramBuildFromFile(const wchar_t* path, uint32_t* table);

// ---- word reading table ----

struct t_wordReadingEntry {
    uint32_t character;  // Unicode code point
    uint32_t zero;
    const wchar_t* reading;  // tone-marked, e.g. L"áo"
};

struct t_wordReadingRow {
    uint8_t n;        // syllable ids used, 1..4
    uint16_t ids[4];  // PinyinId values, unused places 0
    uint16_t count;   // entries used, 1 or 2
    t_wordReadingEntry entries[2];
};
static_assert(sizeof(t_wordReadingRow) == 48);

// Rows compiled into the kernel, sorted as t_wordReadingTable::Compare.
extern const t_wordReadingRow* const kWordReadingRows;
extern const int kWordReadingRowCount;

class t_wordReadingTable {
public:
    // The table over the compiled-in rows, created on first use; released
    // with the other kernel singletons.
    static t_wordReadingTable* GetInstance();

    // A table over rows the caller keeps alive (sorted by Compare).
    t_wordReadingTable(const t_wordReadingRow* rows, int count);

    // Always 1: *out = the row whose ids equal ids[0..n-1], or null when n is
    // outside 1..4, ids or out is null, the mask test fails or no row matches.
    int Find(const uint16_t* ids, int n, const t_wordReadingRow** out) const;

    // Order of rows: a shorter list against an empty one by length, else the
    // first differing id (signed 16-bit), else the length.
    static int Compare(const uint16_t* a, int na, const uint16_t* b, int nb);

private:
    bool TestMask(const uint16_t* ids, int n) const;
    static void MaskPlace(const uint16_t* ids, int n, uint32_t* index, uint32_t* bit);

    const t_wordReadingRow* m_rows;
    int m_count;
    uint32_t m_mask[512] = {};
};

// ---- tone-marked syllables ----

// Longest tone-marked syllable text written by PinyinSpellWithTone, with
// its terminator.
inline constexpr size_t kToneSpellCapacity = 16;

// Writes the syllable of id with the mark of tone 1..4 (0, 7 and any other
// value: unmarked) into out (kToneSpellCapacity characters). u-umlaut is
// written as 'ü'. Returns 0 (out = "") when the id has no syllable text.
int PinyinSpellWithTone(int id, int tone, wchar_t* out);
// The inverse: plain letters with at most one tone-marked vowel, at most 7
// letters; 'ü' stands for the syllable tables' 'v'. Returns 1 with the id
// and the tone (0 when unmarked), 0 when the text is refused or no
// syllable has that spelling.
int PinyinParseWithTone(const wchar_t* text, int16_t* id, uint8_t* tone);
