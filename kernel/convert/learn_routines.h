// Routines the generator and the kernel entry API share: the raw-input and
// cloud-cache candidates, learning a committed word into the user
// dictionary (with the join of short consecutive commits), small lookups
// and the reload of the user's key map. They work on the kernel's
// dictionaries; changes take the kernel dictionary lock when it exists.
// Kernel thread only.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "kernel/runtime/cand_word.h"
#include "kernel/runtime/lstr.h"
#include "kernel/runtime/scope_heap.h"
#include "kernel/userdict/usr_dict_v3.h"

class t_arrayWord;

inline constexpr int16_t kCandCloudCacheRank = 30009;
// A syllable string of this byte count stands for "no syllables": only its
// count is read.
inline constexpr uint16_t kNoSyllablesBytes = 65535;
// Joined consecutive commits are learned up to this many characters.
inline constexpr uint32_t kJoinedWordMaxChars = 6;
inline constexpr uint32_t kJoinedKeyMaxBytes = 510;

// The typed input as a record (kCandSourceRawInput, rank 199, score 1.0) of its
// first `length` characters; null when empty or out of memory.
t_candWord* MakeRawInputCandidate(t_scopeHeap& pool, const wchar_t* input, int length,
                                  bool debug = false);
// The raw-input record of the whole input, added with t_arrayWord::Add.
void AddRawInputCandidate(t_scopeHeap& pool, t_arrayWord* array, const wchar_t* input,
                          bool debug = false);

// The first cached cloud answer for input that the array neither holds
// nor filters, as a record wanting place 2 (kCandSourceCloud), not yet added.
// *found (may be null) is set when the cache holds answers for input.
t_candWord* AddCloudCacheCandidates(t_scopeHeap& pool, const wchar_t* input, t_arrayWord* array,
                                    bool* found, bool debug = false);

// Whether the kernel's commits continue one typing run. While it is 1 each
// learned commit is kept in the recent-commit ring so that the next one can
// be joined to it; 0 (the default) empties the ring after each commit.
void SetContinuingInput(uint8_t value);
uint8_t GetContinuingInput();

// Updates the word's flags in the user dictionary: 4 with flag4, 32 with
// flag32, and the word class from mode (mode 1 becomes 2 for a word the
// system composition accepts, else 0). A syllable string of
// kNoSyllablesBytes learns a one-character word under each of its readings.
// False when the user dictionary is not loaded, the reading does not have
// one syllable per character of the word, or the dictionary refuses.
bool SetUserWordFlags(const t_lstr* ids, const t_lstr* word, uint8_t mode, bool flag4, bool flag32);

// Learns a committed word: its flags (flag 32 = weighting), the recent
// inputs, the number-frequency note, and the join with the previous commit
// of the ring (at most 6 characters together). False when the user
// dictionary is not loaded or a step fails; nothing is changed when the
// reading does not match the word.
bool LearnUserWord(const t_lstr* ids, const wchar_t* word, uint8_t mode, uint8_t weighting);

// The user dictionary's record of the word under ids; false when absent.
bool LookupUserWord(const t_lstr* ids, const t_lstr* word, t_usrWordAttr* attr);
// Removes the word from the deleted words; false when that store refuses.
bool UndeleteWord(const t_lstr* word);
// Writes text, with every ending the traditional-form dictionary knows
// replaced at its place, into out (room for capacity characters and a 0).
// False when that dictionary is not ready or out is too small.
bool TraDictMatchSuffix(const t_lstr* text, wchar_t* out, size_t capacity);
// Rebuilds the user's key map for the current settings and has the live map
// take it: the live map is saved to its file, merged, its version raised
// and the changed dictionaries re-attached. False when the live map is not
// loaded or a step fails (its file then stays as saved). notes (may be
// null) gains what the rebuild had to say (files refused, keys left out),
// one line each.
bool ReloadKeymapFile(std::wstring* notes = nullptr);
// ReloadKeymapFile for a caller that serializes the kernel with a lock of
// its own: `locked` runs each step (the save, the merge, the re-attach)
// under that lock, which is free between them, so the caller's other work
// waits for one step at most.
bool ReloadKeymapFileInSteps(const std::function<void(const std::function<void()>&)>& locked,
                             std::wstring* notes = nullptr);
