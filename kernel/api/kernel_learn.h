// Learning entries of the kernel: what a committed text teaches the user
// dictionary or the English user dictionary, under which switches, and the
// pending-commit record that learns a commit later. Engine thread only; the
// English writes hold the inter-process dictionary lock.
#pragma once

#include <cstdint>
#include <ctime>

#include "kernel/runtime/lstr.h"

// Learns a committed candidate: all-letter text through LearnEnglishCommit,
// other text (the delegate told first) into the user dictionary when
// ShouldLearnWord says so. pinyin null: no reading known. 1 when nothing was
// to be learned; else the learning result (1 learned, 0 failed).
uint32_t LearnCommittedText(const wchar_t* text, const t_lstr* pinyin, uint32_t mode);
// The same, with *known (may be null) telling whether the user dictionary
// already held the word under pinyin before.
uint32_t LearnCommittedTextEx(const wchar_t* text, const t_lstr* pinyin, uint32_t mode,
                              uint8_t* known);
// A commit without reading: learned with mode 1 and weighting.
uint32_t LearnCommittedTextNoPinyin(const wchar_t* text);

// 1 when the word is to be learned: always with LearnFreq on; with
// LearnNewWord on, when no system word (unless marked learnable), user word
// or cell word has this reading and text. An empty reading is never learned.
int ShouldLearnWord(const wchar_t* text, const t_lstr* pinyin);

// English text committed in Chinese mode: hidden codes, delegate, then
// (LearnEnglishCommits on) the word leaves the deleted words and is used
// once more in the English user dictionary under the lock. 0 for a null text.
uint32_t LearnEnglishCommit(const wchar_t* text);
// A word committed in English mode (LearnEnglishAllWords and
// LearnEnglishNewWords choose all words or new words only).
uint32_t LearnEnglishWord(const wchar_t* text);
// With onlyIfNew, a word the English system dictionary knows or that the
// user has used more than once is left alone (1). Otherwise a known user
// word is refreshed and a new one stored (count 2 when the system knows
// it), under the lock. 0 for a null text or a failed write.
uint32_t LearnEnglishWordCore(const wchar_t* text, uint8_t onlyIfNew, time_t now);

// Learns a web address or mail address in the user's address list, under
// the lock: the text after a leading "www.", the mail domain from its "@"
// and the whole text; one ending in a known domain counts twice. 1 when
// every write took; 0 for an empty text or a failed write.
int LearnUrl(const wchar_t* text);
// With LearnAddressCommits on: the text leaves the deleted words and is learned as an
// address; 1 when it is off.
int LearnUrlCommit(const wchar_t* text);
// Text committed as typed: letters as English, anything else as an address.
int LearnCommittedPlain(const wchar_t* text);

// Learns the words the user chose in place of the kernel's sentence. text
// is the sentence offered for the whole reading key; words[i] (read as
// keys[i]) are the words chosen one after another, whose readings together
// must make key. Each chosen word of two or more characters that differs
// from the sentence at its place is learned as a composed word, and, with
// three or more words chosen, also joined with the word before it and the
// word after it (joined texts of at most 254 characters, readings of at
// most 510 bytes). Nothing is learned for a sentence of 3 characters or
// fewer. The number of words learned; -1 when one could not be learned.
int LearnWordPairs(const wchar_t* text, const t_lstr* key, const wchar_t* const* words,
                   const t_lstr* const* keys, int32_t count);

// ---- the pending commit, learned by a later flush ----
// Longest text the record holds, in characters.
inline constexpr size_t kPendingTextChars = 255;

// Keeps a commit to learn later. Chinese text longer than 255 characters is
// refused (0, nothing kept); a refused text, or one that is not to be
// learned, only reaches the delegate (0). 1 when kept.
int RememberCommit(const wchar_t* text);
int RememberCommitWithPinyin(const wchar_t* text, const t_lstr* pinyin, uint32_t mode);
int RememberEnglishCommit(const wchar_t* text);
int RememberEnglishWord(const wchar_t* text);
// Drops a commit kept less than 5 seconds ago; 1 when one was dropped.
int CancelRecentCommit();
// Learns a pending Chinese commit (or English one); 1 when one was learned.
int FlushPendingWord();
int FlushPendingEnglish();
// As FlushPendingEnglish, but a letter text is only used once more in the
// English user dictionary, and the text is then learned as an address.
int FlushPendingEnglishUrl();
// The adjustment noted with the pending commit: after a successful flush of
// a commit with its reading, a first value of 1 or more, a second of 1 and
// a third with any of the bits 0x98 raise the word's frequency by 1.
void SetPendingAdjust(int32_t first, uint16_t second, uint32_t third);
// Adds delta (1 or more) to the word's frequency in the user dictionary,
// capped at 65535; 1 done, 0 when the word is absent or the change failed.
int AdjustUserWordFreq(const wchar_t* text, const t_lstr* pinyin, int32_t delta);
// Tells the delegate the commit ended; with clearRing the recent commits
// are forgotten, so the next commit is not joined to them. 1.
int NotifyCommitEnd(intptr_t value, bool clearRing);
// Whether a commit is pending (tests and the engine's state display).
bool HasPendingCommit();
