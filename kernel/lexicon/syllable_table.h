// The pinyin syllable inventory compiled into the kernel: ids 0..412 are the
// syllables in code-unit order, 413..438 the letters A..Z. The table is
// generated from data/syllables.txt; read-only, safe on any thread.
#pragma once

#include <cstddef>

inline constexpr int kSyllableCount = 413;
inline constexpr int kLetterCount = 26;
inline constexpr int kPinyinIdCount = kSyllableCount + kLetterCount;
// Longest text a syllable lookup considers; longer texts are no syllable.
inline constexpr size_t kMaxSyllableLookupChars = 10;

// Lower-case syllable texts, indexed by id (generated file).
extern const wchar_t* const kSyllableTexts[kSyllableCount];

// The id of a syllable text (lower case, exact) or of a one-letter upper-case
// text A..Z (413 + letter index); -1 for anything else, a null or empty text
// and a text longer than kMaxSyllableLookupChars.
int SyllableTableFind(const wchar_t* text);
// The text of an id: the syllable, or the upper-case letter of a letter id.
// Null for an id outside 0..kPinyinIdCount-1.
const wchar_t* SyllableTableText(int id);
// True when text (letters of either case and apostrophes) reads as pinyin
// being typed: whole syllables, the last one perhaps only begun ("zhongg"),
// an apostrophe only between syllables. False for a null or empty text and
// for any other character.
bool ReadsAsPinyinSyllables(const wchar_t* text);
