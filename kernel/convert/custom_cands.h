// Candidates the user set up: custom phrases (user and system, "#" phrases
// expanded through the time templates), char art hung on a leading
// candidate, and the word fixed at the first place. Records live in the
// caller's pool and go into the caller's array with AddChecked.
// One conversion thread at a time (the dictionaries are the kernel's).
#pragma once

#include <cstdint>

#include "kernel/runtime/cand_word.h"
#include "kernel/runtime/lstr.h"
#include "kernel/runtime/scope_heap.h"

class t_arrayWord;

// Ranks of these pinned records.
inline constexpr int16_t kCandCharArtRank = 30000;
inline constexpr int16_t kCandCustomPhraseRank = 30001;
inline constexpr int16_t kCandFixedFirstRank = 30002;
// A display text longer than this many units is shown shortened.
inline constexpr uint32_t kPhraseShownUnits = 18;
// The name mark of fixed-first and cloud-cache records (the byte 0x80).
inline constexpr int8_t kCandNameMarkFixed = int8_t(-128);

// The form shown instead of a custom phrase's text: the units before its
// first line break, or its first 18 units (17 when the 18th is the first
// half of a surrogate pair), followed by "…"; null when the text fits
// whole (18 units or fewer, no line break) or is empty.
const t_lstr* MakePhraseShownText(t_scopeHeap& pool, const t_lstr* text);

// Custom phrases of the whole input (user phrases, then the system ones
// while the configuration item SystemUserPhrase is on) added to array.
// Returns the number of phrases found, whether or not the array kept them.
// The entry point of the generator and of the special-input, stroke,
// raw-input, English/web and phrase-only branches alike.
int AddCustomPhraseCandidatesEx(const wchar_t* input, t_arrayWord* array, t_scopeHeap* pool);

// Char art for the first candidates the array holds: at most `count` pinned
// then `count` ranked records are looked at, at most 10 counted; the first
// one that covers inputLength and has entries in the quick-input
// dictionary gets them all. Returns the number of records added.
int AddCharArtCandidates(t_arrayWord* array, t_scopeHeap* pool, uint32_t inputLength, int count);

// The word the user fixed first for this input, wanting place 1. 1 when a
// record was made, else 0. debug adds the trace label.
int AddFixFirstCandidates(const wchar_t* input, t_arrayWord* array, t_scopeHeap* pool, bool debug);
