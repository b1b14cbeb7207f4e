// t_spScheme: one shuangpin (double pinyin) scheme, read from an ini file in
// "ShuangPinSchemes": the keys of every initial, final and final of a
// syllable without initial. Also the small pinyin classifiers the rule
// configurations use. No lock: one thread at a time per scheme; the
// classifiers are safe on any thread.
#pragma once

#include <cstddef>
#include <string>

#include "kernel/lexicon/pair_rules.h"

// Kinds of mapping a scheme answers for.
enum : int { kSpInitial = 0, kSpFinal = 1, kSpZeroInitialFinal = 2 };

class t_spScheme {
public:
    static constexpr int kListCount = 4;  // metadata, initials, finals, zero-initial finals

    t_spScheme() = default;
    ~t_spScheme() { Clear(); }
    t_spScheme(const t_spScheme&) = delete;
    t_spScheme& operator=(const t_spScheme&) = delete;

    void Clear();

    // paths: the scheme in the system and user directories, then the default
    // scheme "Vetra" in the system and user directories. The first pair with
    // a file present is used, the user copy first. False when neither file of
    // that pair could be read; each failure appends "load", the path and
    // "  failed." to messages.
    bool Load(std::wstring& messages, const wchar_t* systemScheme, const wchar_t* userScheme,
              const wchar_t* systemDefault, const wchar_t* userDefault);
    // Reads one file: the defaults (every consonant but v typed by its own
    // key, a e i o u likewise), then the lines of "metadata", "声母", "韵母"
    // and "零声母音节的韵母". False, lists unchanged, when it cannot be read.
    bool LoadFile(std::wstring& messages, const wchar_t* path);
    // Writes the four lists into their sections; false when the file could
    // not be written (the old file is then kept).
    bool Save(const wchar_t* path) const;

    // Copies the keys of spelling (exact match) for the kind into out,
    // 'A'-'Z' lowered. False when the kind is not 0-2, no mapping exists, or
    // the keys with a terminator need more than capacity characters.
    bool GetMapping(wchar_t* out, size_t capacity, const wchar_t* spelling, int kind) const;
    // SetMapping into the kind's list; false for another kind or a null or
    // empty spelling.
    bool SetMappingChecked(const wchar_t* spelling, const wchar_t* keys, int kind);
    // Replaces the keys of the mapping of that spelling, or adds it in front.
    void SetMapping(const wchar_t* spelling, const wchar_t* keys, int list);

    t_pairList GetList(int list) const {
        return (list >= 0 && list < kListCount) ? m_lists[list] : nullptr;
    }

private:
    void ApplyDefaults();
    t_pairList m_lists[kListCount] = {};
};

// Classifiers (texts as wide strings).
// First character not a vowel letter (a e i o u v, either case), and either
// a single character or exactly c, z or s followed by h (case-sensitive).
bool IsPinyinInitial(const wchar_t* text);
// Exactly zh, ch or sh.
bool IsRetroflexInitial(const wchar_t* text);
// Starts with a vowel letter and is one of the 39 finals (any case).
bool IsPinyinFinal(const wchar_t* text);
// One of the 12 finals that form a syllable without initial (any case).
bool IsZeroInitialFinal(const wchar_t* text);
// A known syllable (lower case, exact).
bool IsPinyinSyllable(const wchar_t* text);
// 4 for an initial; otherwise 2 for a final plus 1 for a syllable (0-3).
int ClassifyPinyinPart(const wchar_t* text);
// Splits a syllable into initial and final: a syllable starting with a, e or
// o is all final; one whose second character is h has a two-letter initial;
// otherwise the first character is the initial. Both outputs are cleared
// first. False for a null or empty syllable or when a part does not fit its
// buffer (capacities in characters, terminator included).
bool SplitSyllable(wchar_t* initial, size_t initialCapacity, wchar_t* final, size_t finalCapacity,
                   const wchar_t* syllable);
