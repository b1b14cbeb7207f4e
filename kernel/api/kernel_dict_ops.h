// Dictionary and data-file operations of the kernel's entry API: custom
// phrases, the phrases text file, import, restore, backup and upload copies
// of the user dictionary, change notices, the dictionary information behind
// the VERSION template and the quick-input lists. Engine thread only; file
// changes hold the inter-process dictionary lock and every file is replaced
// through a finished temporary copy, so a failure leaves the user's files
// as they were.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "kernel/runtime/lstr.h"
#include "kernel/userdict/usr_dict_v3.h"

// Upload file names of the user directory.
inline constexpr const wchar_t* kLastUploadedName = L"qzim_usr_v3new.bin.last_uploaded";
inline constexpr const wchar_t* kUploadCopyName = L"qzim_usr_v3new.bin.upload";
inline constexpr const wchar_t* kUploadBaseName = L"usr_base.bin";
inline constexpr const wchar_t* kUploadAddedName = L"usr_added.bin";
// From this many words on, an upload sends the words new since the last one.
inline constexpr int32_t kUploadWholeLimit = 20000;

// One custom phrase of the listing operations.
struct t_apiPhrase {
    std::wstring key;
    std::wstring phrase;
    uint16_t position = 0;
};

int32_t GetSysPhraseCount();
// Up to max phrases into out; the number written.
int32_t GetSysPhrases(t_apiPhrase* out, int32_t max);
// Every user phrase, deleted ones included.
int32_t GetUsrPhraseCount();
// The user phrases that are not deleted.
int32_t GetUsrPhrases(t_apiPhrase* out, int32_t max);
// 1 when added and saved; 0 for a null or unconvertible key or phrase, a
// place outside 1 to 9999 (the phrases file's), or when the phrases could
// not be saved (the change then stays in memory).
uint8_t AddUsrPhrase(const wchar_t* key, const wchar_t* phrase, uint16_t position);
// Marks the phrase deleted (it stays counted) and saves; 1 when done.
uint8_t DeleteUsrPhrase(const wchar_t* key, const wchar_t* phrase, uint16_t position);
// The user phrases (deleted ones left out) as the phrases text file; the
// live dictionary's unsaved changes are saved first. 1 written, 0 failed.
uint64_t ExportPhrasesFile(const wchar_t* target);
// The phrases text file becomes the user phrases; 1/0.
uint64_t ImportPhrasesFile(const wchar_t* source);

// Saves the user phrases, then merges the list into them (its phrases in,
// every other one marked deleted) through a finished temporary copy; the
// live dictionary re-attaches the result. 1 done, 0 with nothing changed.
int ReplaceUsrPhrases(const t_apiPhrase* phrases, int32_t count);

// Import (merged) or restore (replacing) of a user dictionary file of any
// format; 1 with *count the words taken over, 0 with nothing changed.
uint64_t OpenOrConvertUsrDict(const wchar_t* path, int32_t* count);
uint64_t OpenOrConvertUsrDictMode1(const wchar_t* path);
// The same, mode 0 or 1 (LoadOrConvertUsrDict's), for a call that noted
// the user dictionary's change count (GetUsrDictChangeCount().Others()) in
// *since when it was sent: 0, with nothing changed, when another process
// changed the dictionary since. Null: nothing noted. Counted when done,
// in the same hold of the dictionary manager's file lock as the write: a
// process that takes the file up sees the count with it.
uint64_t ReplaceUsrDictSince(const wchar_t* path, int mode, int32_t* count, const uint64_t* since);
// Before a conversion or a learning: when another process changed the user
// dictionary since the last look (an import, a restore, a removal), every
// dictionary takes up its file now, not at the next save, so that a word
// removed there is no longer offered here. One read of the shared count
// when nothing changed.
void TakeUpUsrDictChanges();
// Under the change count's lock and the dictionary manager's global lock,
// once a call changed the user dictionary: counts the change (`replaces`: a
// restore or removal, else an import); a replacement also ends the change
// files of the words it replaced (t_dictManager::WordsReplaced).
void CountUsrDictChange(bool replaces);
// Merges word-list files into the user dictionary file: the number of
// listed words it holds after, 0 (nothing changed) when it holds none.
uint64_t LoadTempUsrDict(const wchar_t* secondListPath, const wchar_t* listPath);

// The pinyin dictionary's id of a letter (after the syllables); -1 for any
// other character or when it is not ready.
int32_t GetLetterIdOfChar(uint32_t ch);
// The text of a syllable or letter id; null when out of range.
const t_lstr* GetSyllableSpelling(int32_t id);

// The user removes a candidate: the text joins the deleted words, and a
// Chinese word with its reading leaves the user dictionary, a letter word
// the English user dictionary (under the lock). 1 when every step took.
int DeleteCandidateWord(const t_lstr* pinyin, const wchar_t* text);
int IsWordDeleted(const wchar_t* text);
int MarkWordDeleted(const wchar_t* text);

// The user removed an English word or an address: it joins the deleted
// words and leaves its user dictionary, under the lock. 1 done.
int DeleteEnglishWord(const wchar_t* text);
int DeleteUrlWord(const wchar_t* text);
// Counts (FuzzyPairCount) a spelling the user corrected by one
// fuzzy pair: n/l, h/f or r/l at one place, or one "g" or "h" more or less.
// 1 when counted.
int LearnFuzzyPair(const wchar_t* typed, const wchar_t* corrected);

// Why a reading does not fit a text (CheckPinyinOfTextEx's code).
enum : int {
    kReadingFits = 0,
    kReadingNullArgument = 1,
    kReadingLengthMismatch = 2,
    kReadingEmpty = 3,
    kReadingIdTooLarge = 4,
    kReadingLetterMismatch = 5,
    kReadingNoCharReadings = 6,
    kReadingNotAmongReadings = 8,
};
// 1 when every character of text can be read with the id at its place (a
// letter as its letter id); else 0 and *code (may be null) says why.
int CheckPinyinOfTextEx(const t_lstr* pinyin, const wchar_t* text, int* code);
int CheckPinyinOfText(const t_lstr* pinyin, const wchar_t* text);
// The syllable texts of an id string joined with "'"; false when an id has
// no text.
bool IdsToSpelling(const t_lstr* ids, std::wstring& out);
// Words of the extended user dictionary plus words of the user dictionary.
int GetUserWordTotal(int64_t* out);
// The words of a user dictionary file as a word-list text file; 0 when
// nothing could be read or written (the text file is then as it was).
int ExportUsrDictToText(const wchar_t* dictPath, const wchar_t* textPath);

// Path buffers of MergeUsrExtDictFile, in wide characters.
inline constexpr size_t kMergePathChars = 1024;
// Reads the word lists (each tagged by its kind and sub-kind), sorts and
// de-duplicates their records and merges them into the extended user
// dictionary file "qzim_usr_v3_ext.bin". 0 when a list cannot be read or a
// path buffer holds no terminator; the file is then as it was.
uint64_t MergeUsrExtDictFile(const wchar_t (*paths)[kMergePathChars], const uint16_t* subKinds,
                             const uint16_t* kinds, int32_t count);

// Prepares the files of a user dictionary upload. -1 on failure (or when a
// path does not fit capacity characters and its 0), 0 when there is nothing
// to send, 1 with only addedOut set, 2 with both set.
int32_t PrepareUsrDictUpload(wchar_t* baseOut, wchar_t* addedOut, int32_t capacity);

// Saves the live user dictionary and copies its file to target. 1 done
// (*status 1 copied, 2 no file to copy), 0 failed (target as it was). A
// target that exists and is not a regular file (a FIFO, a device, a folder,
// a symbolic link) is refused, and so is any target in the lock folder or
// the user directory (the files the kernel keeps); a regular one elsewhere
// is replaced by a rename.
uint64_t BackupUsrDictV3(const wchar_t* target, int32_t* status);
// BackupUsrDictV3 for a caller that serializes the kernel with a lock of its
// own and has just saved: `locked` runs the copy of the user dictionary
// file under that lock, the target is written without it. `since` as
// ReplaceUsrDictSince's: 0, with nothing written, when another process
// changed the dictionary after the call was sent (the copy would hold what
// a later call left).
uint64_t BackupUsrDictV3InSteps(const wchar_t* target, int32_t* status,
                                const std::function<void(const std::function<void()>&)>& locked,
                                const uint64_t* since = nullptr);

// The system data numbers the VERSION template reports (0 when the
// dictionary is not ready), after re-attaching changed system data.
void GetDictVersionValues(uint32_t* a, uint32_t* b, uint32_t* c);
// Makes the VERSION template read the kernel's dictionaries; start-up step.
void InstallDictVersionSource();

// A dictionary changed on disk: its holders re-attach it. 1.
int NotifyUsrDictV3Changed();
int NotifyUsrDictExtChanged();
int NotifyAbbrUsrDictChanged();
int NotifyExtDictChanged();

// One quick-input entry: its category and two sub-indexes, and malloc'd
// copies of its two strings and its display text (time templates of
// category 4 expanded). Owned by the list.
struct t_quickInputRecord {
    uint16_t values[3] = {0, 0, 0};
    t_lstr* texts[3] = {nullptr, nullptr, nullptr};
};
// Frees one record's copies and clears its pointers.
void FreeRecordBuffers(t_quickInputRecord& record);
// Frees and empties the list, then lists page (0..5) with the filters
// (65535: any). 1 done (an empty list included); 0 for a page above 5 or
// when the dictionary cannot be read.
int32_t GetQuickInputList(int32_t page, uint16_t filter1, uint16_t filter2,
                          std::vector<t_quickInputRecord>& list);
