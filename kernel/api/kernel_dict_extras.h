// Smaller operations of the kernel's entry API beside the dictionary and
// file operations: resets of the user's small files, candidate pinning,
// syllable and reading look-ups, the web-address guide, information key
// words, fixed-first words, letter words, spelling and key-map learning,
// and the fuzzy-pair file. Engine thread only; changes hold the
// inter-process dictionary lock.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "kernel/runtime/cand_word.h"
#include "kernel/runtime/lstr.h"
#include "kernel/runtime/scope_heap.h"

// ---- resets of the user's files ----
// Each starts its user file afresh: the file goes, the dictionary takes its
// default image (forgetting what was not saved yet) and writes it as the
// file, so the old data does not come back with a save or a restart. 1
// done; 0 when the kernel is not started or a step failed (the file and
// the dictionary are then as they were).
int ResetPhrasesFile();     // "qzim_phrases.bin"
int ResetDelWordFile();     // "qzim_del_word.bin"
int ResetUrlUsrFile();      // "qzim_url_usr.bin"
int ResetEngUsrFile();      // "qzim_eng_usr.bin"
int ResetSpellModelFile();  // "qzim_uspm.bin"
int ResetKeymapFile();      // "qzim_keymap.bin"

// ---- candidates ----
// Most candidates a pinned list holds.
inline constexpr int32_t kPinnedListMax = 40;
// Moves the candidate with this text to the front of list (count records,
// room for kPinnedListMax); without one, a pinned record (kind 2, wanted
// place 1, covering coveredLength) is made in pool and put in front, the
// last record dropping off a full list. The new count; -1 for bad
// arguments or when no record could be made (the list is then unchanged).
int32_t PinCandidateFirst(t_scopeHeap& pool, t_candWord** list, int32_t count, const wchar_t* text,
                          uint32_t coveredLength, bool debug);
// 1 when (pinyin, text) is a system word whose class record has kind 2 in
// its low three bits and a non-zero second byte.
int IsSysWordOfClass2(const t_lstr* pinyin, const wchar_t* text);

// Guide text and address lengths GetUrlGuide writes (terminator extra).
inline constexpr size_t kGuideTextChars = 31;
inline constexpr size_t kGuideUrlChars = 255;
// The web-address guide of the typed input, else of the first candidate
// that has one: its text (cut to 31 characters) into text and its address
// into url. An address longer than 255 characters is not cut (it would
// lead elsewhere): that guide is passed over. 1 when one was found.
int GetUrlGuide(t_candWord* const* candidates, int32_t count, const wchar_t* input,
                wchar_t (&text)[kGuideTextChars + 1], wchar_t (&url)[kGuideUrlChars + 1]);

// The value the system dictionary's header keeps beside its version (the
// one the VERSION template shows) and its format date (20090716 or
// 20140716, else 0). 1 when the dictionary is ready; else both 0.
int GetSysDictInfo(uint32_t* headerValue, uint32_t* version);

// ---- syllables and readings ----
// The letter ids of an all-letter text, in pool; null for other texts.
const t_lstr* LettersToIdString(t_scopeHeap& pool, const wchar_t* text);
// The id of a syllable spelling; -1 when unknown or not ready.
int32_t GetSyllableId(const wchar_t* spelling);
// The spelling of a syllable or letter id, in pool; null when out of range.
const wchar_t* GetSyllableSpellingWide(t_scopeHeap& pool, int32_t id);
// Up to max syllable ids of a character's readings; the number written.
int GetCharReadings(uint32_t ch, uint16_t* out, int max);
// The info codes of a cell word, each as text ("%d" or "%c%d"); 1 when the
// cell dictionaries hold it.
int GetExtWordCodes(const t_lstr* pinyin, const wchar_t* word, std::vector<std::wstring>& out);
// A t_lstr of 32-bit word codes as text: a code whose top byte is 1 or 16
// as its low 24 bits, one whose top byte is a letter as the letter and its
// low 24 bits, any other left out; the pieces joined with "-". 0 when the
// byte count is no multiple of 4 (or an argument is null).
int FormatWordCodes(t_scopeHeap& pool, const t_lstr* codes, const wchar_t** out);
// The text the punctuation map gives a key; null when none.
const wchar_t* GetPunctuationText(uint32_t ch, bool fullWidth, bool pairing);
// Writes text with every ending the traditional-form dictionary knows
// replaced (room for capacity characters and a terminator). 1 written, 0
// when the dictionary is not ready or the text does not fit.
int MatchTraditionalSuffix(const wchar_t* text, wchar_t* out, size_t capacity);

// ---- the user's words ----
// Pins word (shown as second or third when given) first for key; 1 done.
int SetFixedFirstWord(const wchar_t* key, const wchar_t* word, const wchar_t* second,
                      const wchar_t* third);
int RemoveFixedFirstWord(const wchar_t* key, const wchar_t* word);
// The user removed a word of letters: it joins the deleted words and leaves
// the user dictionary (under its letter ids) and the English user
// dictionary. 1 when it was marked deleted.
int DeleteLetterWord(const wchar_t* text);
// Characters of [first, last] are no longer offered (kept over reloads);
// 0 for a range outside the Basic Multilingual Plane or reversed.
int SetUnsupportedCharRange(int32_t first, int32_t last);
// The supported-character data changed: it is read again. 1.
int NotifySupportCharChanged();
// With LearnFreq on, counts one use of each segment's syllable in the
// key-to-pinyin map: segments are the u16 end offsets of the input's
// segments, ids one syllable id per segment. The number of uses counted.
int LearnKeymapSegments(const wchar_t* input, const t_lstr* segments, const t_lstr* ids);
// Counts the slip between a typed spelling and its correction in the
// user's spelling model; 1 when one was counted.
int LearnSpellingCorrection(const wchar_t* typed, const wchar_t* corrected);
// One more hit of a cloud answer, in both cloud caches; 1 when either held it.
int AddCloudCacheHit(const wchar_t* key, const wchar_t* text);
int32_t GetPrivilegeKeyCount();
// Rebuilds the user's key map for the current settings; 1 done.
int ReloadKeymap();

// The first candidate covering at least length whose text, after prefix,
// holds an information key word the black list does not hold: its index
// and the key word. 1 when one was found; else *index is -1.
int CheckInfoKeywords(uint32_t length, const wchar_t* prefix, t_candWord* const* candidates,
                      int32_t count, int32_t* index, std::wstring& keyword);

// The fuzzy pairs the user chose: firsts[i] sounds like seconds[i]. Every
// other pair is switched off, and the rules are written to the user's
// "Fuzzy.dat" (read from there, else from the system's). 0 when there are
// more firsts than seconds, a pair is refused or the file cannot be
// written (it is then as it was).
int WriteFuzzyPairs(const std::vector<std::wstring>& firsts,
                    const std::vector<std::wstring>& seconds);
