// English words and web addresses among the candidates: prefix words and
// completions during pinyin conversion (in the case the user typed),
// completion of inputs written as several capitalised words, the word and
// address lists of the English/web branch, and the place an English
// completion takes in the list. Dictionaries are the kernel's (English and
// web-address user and system lists, deleted words, prediction keys).
// One conversion thread at a time; everything lives in the caller's pool.
#pragma once

#include <cstdint>

#include "kernel/lexicon/string_dict.h"
#include "kernel/runtime/cand_word.h"
#include "kernel/runtime/scope_heap.h"

class t_arrayWord;

inline constexpr int16_t kCandEnglishPrefixRank = 600;
inline constexpr int16_t kCandEnglishCompletionRank = 29999;
// The frequency of the common words in the system word list: the data
// build gives it to the words of the most common frequency level (about
// four thousand), the rest of the full list rates lower.
inline constexpr uint32_t kCommonEnglishFrequency = 900;

// An entry as the searches hand it out (t_strResult): text is the word with
// the input's capitals, stored the key, time and count the first and second
// counts, source (1 for a user row) the mark.
using t_engEntry = t_strResult;

// 1 when a comes before b: marked first, then a word equal to its key unit
// by unit, then the larger first count, then the larger second count; 0 on
// full equality (the entry already held stays ahead).
int EngEntryBefore(const t_engEntry* a, const t_engEntry* b);

// A bounded list of entries, kept both sorted by word (to find duplicates)
// and in entry order. When full, an entry that would stand last is dropped.
class t_engWordList {
public:
    // Room for capacity entries from pool; IsValid() is false without it.
    t_engWordList(t_scopeHeap& pool, int capacity);
    bool IsValid() const { return m_byText && m_ordered; }
    // Adds by entry order; a word already held keeps the better entry.
    void Add(t_engEntry* e);
    // Adds at index of the ordered list (its end when shorter).
    void AddAt(t_engEntry* e, int index);
    int Count() const { return m_count; }
    t_engEntry* At(int i) const { return i >= 0 && i < m_count ? m_ordered[i] : nullptr; }

private:
    int FindText(const t_lstr* text, bool* found) const;
    void Remove(t_engEntry* e);
    void Insert(t_engEntry* e, int at);

    t_engEntry** m_byText = nullptr;
    t_engEntry** m_ordered = nullptr;
    int m_capacity;
    int m_count = 0;
};

// English prefix matches: one record per prefix of the first `length`
// characters that is a user English word (kind 0, kCandSourceEnglishPrefix, rank
// 600). Writes at most `capacity` records to out; true when it ran.
bool AddEnglishPrefixCandidates(t_scopeHeap& pool, const wchar_t* input, int length,
                                t_candWord** out, int capacity, int* count, bool debug = false);

// The best completion of input among the user's and then the system's
// entries; deleted words (prefix + word) never come back. *exactInSystem
// (may be null) is set when the entry is marked and the system search holds
// the same word. Null when none or a search failed.
t_engEntry* FindBestEnglishCompletion(t_scopeHeap& pool, const wchar_t* input, bool* exactInSystem,
                                      const t_lstr* prefix);
t_engEntry* FindBestUrlCompletion(t_scopeHeap& pool, const wchar_t* input, bool* exactInSystem,
                                  const t_lstr* prefix);

// The English word that starts the first `length` characters of input and
// is followed there by a capital letter (the longer of the user's and the
// system's choice, the system's on equal length). *units receives how many
// input units it covers. True when the lookups ran.
bool FindSegmentWord(t_scopeHeap& pool, t_engEntry** entry, int* units, const wchar_t* input,
                     int length);

// Segmented completion: the segment words followed by the best completion
// of the rest ("iPhone" style input), kind 2, kCandSourceEnglishCompletion, covering the
// whole input; null when the input has no such split or the text does not
// fit its buffer of 2 x length + 64 bytes.
t_candWord* AddSegEnglishCompletions(t_scopeHeap& pool, const wchar_t* input, int length,
                                     bool debug = false);

// The completion record of the whole input (kCandSourceEnglishPrefix when its entry is
// marked, else kCandSourceEnglishCompletion); with exactLength only a word of the input's length.
// *found (may be null) tells whether an entry was found; *common (may be
// null) whether it is the user's own word or a common one of the system list.
t_candWord* MakeSegEnglishCompletion(t_scopeHeap& pool, const wchar_t* input, bool exactLength,
                                     bool* found, bool debug = false, bool* common = nullptr);

// The first n characters of input followed by the word of the best
// web-address completion of the rest; null when none or longer than 512 bytes.
const t_lstr* MakeSegEnglishText(t_scopeHeap& pool, const wchar_t* input, int n, int total);

// One page of a word list.
struct t_engWordPage {
    const t_lstr** words = nullptr;
    const t_lstr** keys = nullptr;
    uint8_t* marks = nullptr;
    int made = 0;   // entries on the page
    int total = 0;  // further entries of the user and the system search
};
// The English (web-address) words of input for the list: further user and
// system entries by entry order, then the leading system and user entries
// at their indexes, deleted words left out; the page holds up to count
// entries after the first start. minLength passes shorter keys over. True
// when the searches ran.
bool SearchEnglishWords(t_scopeHeap& pool, const wchar_t* input, int start, int count,
                        int minLength, t_engWordPage* page, const t_lstr* prefix);
bool SearchUrlWords(t_scopeHeap& pool, const wchar_t* input, int start, int count, int minLength,
                    t_engWordPage* page, const t_lstr* prefix);
// For input made of capitalised words: segment words are split off until
// the rest lists at least one English word; every listed word then carries
// the segments before it and no mark. False when no segment word is found.
bool CollectEnglishCandidates(t_scopeHeap& pool, const wchar_t* input, int start, int count,
                              t_engWordPage* page);

// What the generator tells the English completion about this keystroke.
struct t_engPredictRequest {
    const wchar_t* input = nullptr;
    bool exactLength = false;
    bool allowSegmented = true;
    bool exempt = false;       // no placing by the syllable lattice
    int englishLimit = 0;      // inputs up to this length are placed by the list
    double wholeTextProb = 0;  // probability of the syllable lattice over the whole input
    bool debug = false;
};

// The English completion of one keystroke: made by Run, placed (and added
// to the array) by DecidePlace.
class t_engPredictor {
public:
    void Init(t_scopeHeap* pool, t_arrayWord* array, const t_engPredictRequest& request);
    // Makes the completion record (a segmented one when allowed and no plain
    // one exists); true when one was made.
    bool Run();
    // Sets the record's wanted place (1 or 5) and adds it to the array. A
    // rare word of the system list is left out where the array already
    // reads the whole input as pinyin: there it is noise.
    void DecidePlace();
    bool HasCandidate() const { return m_made && m_kept; }
    t_candWord* GetRecord() const { return m_record; }

private:
    t_scopeHeap* m_pool = nullptr;
    t_arrayWord* m_array = nullptr;
    t_engPredictRequest m_request;
    t_candWord* m_record = nullptr;
    bool m_made = false;
    bool m_kept = false;
    bool m_common = false;  // the user's word, a common one, or one made of capitalised pieces
};
