// t_sysBhBsh: the annex of per-character data the pinyin dictionaries lack:
// stroke sequences (for stroke input), tone-marked readings, syllable ids,
// and a tagged code list (radical and residual strokes); t_strokeMatcher
// compares typed stroke keys with a character's strokes. Attached by the
// dictionary manager; look-ups run on the thread of the kernel call (the
// search keeps its typed codes in the object, so one search at a time).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "kernel/runtime/dict_base.h"
#include "kernel/runtime/lstr.h"
#include "kernel/runtime/scope_heap.h"
#include "kernel/storage/table_file.h"

struct t_candWord;
class i_candidateFilter;

// Stroke codes: the five basic strokes, the wildcard, and "no stroke key".
inline constexpr uint16_t kStrokeWildcard = 100;
inline constexpr uint16_t kStrokeNotAKey = 65535;
// Typed keys a search or matcher considers.
inline constexpr int kMaxStrokeKeys = 64;

// The annex image: a table file of format version 20150602.
//   key table 0 (policy 3): stroke-code sequence -> chain of attri rows,
//               each {u16 character; u32 next}; rows of a bucket in
//               compare order, so sequences with one beginning stand together
//   key table 1 (policy 3): one-unit character -> offset of a t_lstr of
//               syllable ids (u16 PinyinId) in its value data table
//   key table 2 (policy 3): one-unit character -> i32 entry number
//   key table 3 (policy 4, 32768 buckets): u32 entry number -> four offsets
//               in its value data table (0xFFFFFFFF none): the main data (a
//               t_lstr of the character), the stroke codes (t_lstr of u16),
//               the readings {u16 byte count; i16 n; n x {u16 tone in the
//               low byte; i16 syllable id}}, the tagged code list {u16 byte
//               count; u16 tag; u16 list bytes (at most 128); u16 codes, '*'
//               between items}
// The header tag is a configuration value for the statistics set-up.
namespace n_strokeAnnex {
inline constexpr uint32_t kFormatVersion = 20150602;
inline constexpr int32_t kEntryBuckets = 32768;  // entry numbers stay below this
inline constexpr int kMaxCodeListUnits = 64;
inline constexpr uint16_t kCodeListSeparator = '*';
// Tag of the code lists the data build writes: radical '*' residual strokes.
inline constexpr uint16_t kTagRadical = 1;
// The table descriptors of the layout above (capacities 0).
void Descriptors(std::vector<t_keyDesc>& keys, std::vector<t_attriDesc>& attris,
                 std::vector<uint32_t>& datas);
}  // namespace n_strokeAnnex

class t_sysBhBsh : public t_dictStorageBase {
public:
    t_sysBhBsh();
    ~t_sysBhBsh() override;

    // Attaches the image (format version 20150602) after checking that its
    // tables have the layout above; false (not attached) otherwise.
    bool Load(void* data, int32_t size) override;

    // Up to max syllable ids of the character; 0 when absent, empty, max < 1
    // or not ready.
    int GetCharPinyinIds(uint32_t ch, uint16_t* out, int max) const;
    // The character's entry number; -1 when absent or not ready.
    int FindCharIndex(uint32_t ch) const;
    // Allocated rows of the entry table; 0 when not ready.
    int GetCount() const;
    // The entry's main data, its stroke codes; null when absent or not ready.
    const t_lstr* GetEntryByIndex(int i) const;
    const t_lstr* GetStrokeData(int i) const;
    // The image header's tag; 0 when not ready.
    uint32_t GetConfigValue() const;

    // Appends the entry's readings as tone-marked syllables joined by ",";
    // returns their number. 0 when not ready, the entry has none, or a
    // syllable id is negative or unknown (text appended before it stays).
    int GetReadingsText(int i, std::wstring& out) const;
    int GetCharReadingsText(uint32_t ch, std::wstring& out) const;
    // 1 with the list's tag, length in units and codes (pointing into the
    // image); 0 when absent, longer than 64 units or not ready.
    int GetCodeList(int i, int* units, const uint16_t** codes, uint32_t* tag) const;
    // Copies the character's stroke codes into out (capacity in bytes,
    // count included) and returns their number. 0 when the annex has no
    // entries, the character has no strokes, or they do not fit (out is
    // then untouched).
    int GetStrokeCodes(uint32_t ch, t_lstr* out, uint32_t capacity) const;

    // *out = base + "(" + text + ")" in heap; false (out null) when it does
    // not fit a t_lstr or an argument is null.
    static bool WrapInParens(t_scopeHeap* heap, const t_lstr* base, const wchar_t* text,
                             t_lstr** out);

    // Stroke input: the characters whose stroke sequence begins with the
    // typed strokes (leading apostrophes skipped), in stroke order, each
    // accepted by the installed filters; the first `skip` accepted ones are
    // passed over, at most max records are made in heap. Each record: text
    // and second text the character (second text with its readings in
    // parentheses when it has readings), source type 28, the syllable-id
    // list {1}. out receives the record pointers; returns their number, 0
    // when not ready, for no or invalid strokes, or when heap runs out.
    int SearchByInput(t_scopeHeap* heap, const wchar_t* input, t_candWord** out, int skip, int max);

    // Filters consulted by the search (slot 0 or 1; null removes).
    void SetFilter(int slot, i_candidateFilter* filter);
    void SetCallerValue(uint32_t value) { m_callerValue = value; }
    uint32_t GetCallerValue() const { return m_callerValue; }

private:
    const uint8_t* EntryRow(int i) const;
    const t_lstr* EntryField(int i, int field) const;
    const uint8_t* CharRow(int table, uint32_t ch) const;
    bool CheckLayout() const;
    int Search(t_scopeHeap* heap, t_candWord** out, int skip, int max);

    t_tableFile m_annex;
    i_candidateFilter* m_filters[2] = {nullptr, nullptr};
    uint32_t m_callerValue = 0;
    // The typed strokes as codes: count + up to 64 units.
    uint8_t m_typed[2 + 2 * kMaxStrokeKeys] = {};
    // Scratch of the search, kept so that a keystroke allocates nothing.
    std::vector<const uint8_t*> m_chain;
    std::wstring m_readings;
};

// Converts up to 64 stroke keys into codes (out holds 64). A key outside the
// table gives 65535 when lenient; otherwise the call returns 0. An empty or
// null text gives 0.
int StrokeKeyToCode(const wchar_t* keys, uint16_t* out, bool lenient);
// Strict conversion into out's units (out holds 2 + 128 bytes); sets the
// byte count and returns it (0 for an invalid or empty text).
int StrokeStringToCodes(const wchar_t* keys, t_lstr* out);
// Steps over n units that are not '*' of a code list of count units, then
// reads the next unit / 2 as a length. Returns the pointer after that unit,
// or null (units 0) when the list ends first.
const uint16_t* BhBshSkipToItem(const uint16_t* codes, int count, int n, int* units);

class t_strokeMatcher {
public:
    // Takes the annex (created on first use) and the typed keys, converted
    // leniently.
    void Init(const wchar_t* keys);
    // The same over a given annex (tests, or a caller holding its own).
    void Init(const t_sysBhBsh* annex, const wchar_t* keys);

    // 1 when the typed codes from pos are used up or the list (count units,
    // ending early at a code outside 1..5) ends; 0 at the first mismatch. A
    // typed 100 matches any stroke; matched counts the steps.
    int MatchCodes(const uint16_t* codes, int count, int pos, uint32_t* matched) const;
    // 0 when the typed code at pos is not a stroke key or the character has
    // no strokes; else as MatchCodes over the character's strokes.
    int MatchChar(uint32_t ch, int pos, uint32_t* matched);

    int GetTypedCount() const { return m_typedCount; }
    const uint16_t* GetTypedCodes() const { return m_typed; }

private:
    const t_sysBhBsh* m_annex = nullptr;
    uint8_t m_strokes[2 + 2 * 256] = {};
    uint16_t m_typed[kMaxStrokeKeys] = {};
    int m_typedCount = 0;
};
