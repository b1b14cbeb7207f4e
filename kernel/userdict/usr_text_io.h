// User words as records and as word-list text: the record that carries one
// user word between file operations, the export of user words to a text
// file, and the readers that turn text files back into records or merge them
// into a user dictionary file. Callers hold the kernel dictionary lock; the
// operations use local dictionaries and the process-wide user dictionary.
#pragma once

#include <cstdint>
#include <vector>

#include "kernel/runtime/lstr.h"

class t_scopeHeap;
class t_usrDictV3Core;

// One user word, placed in an arena (4-byte aligned), all little-endian:
//   i32 L | reading (u16 count + PinyinId units) | word (u16 count + units) |
//   u16 frequency | u16 flags | u32 stamp | u16 checksum | u16 extra | u16 reserved
// where L = count(reading) + count(word) + 18, the bytes after L.
struct UsrWordRecord {
    int32_t size;  // L; the record's bytes follow
};
using t_usrWordRecords = std::vector<const UsrWordRecord*>;

// Fixed bytes of a record after its two texts.
inline constexpr uint32_t kUsrRecordTailBytes = 14;
// Longest code field (the word) the text readers take, with its terminator.
inline constexpr int kUsrTextWordUnits = 256;
// Longest reading (PinyinId units) a record built from text holds.
inline constexpr int kUsrTextMaxReadingIds = 64;
// A syllable token of the word field has at most 6 units.
inline constexpr int kUsrTextTokenUnits = 7;
// Flags of a comment that mark a word to leave out of the extension dictionary.
inline constexpr uint16_t kUsrTextSkipFlag = 0x04;

// The fields of a record, pointing into it.
struct t_usrWordFields {
    const t_lstr* reading = nullptr;
    const t_lstr* word = nullptr;
    uint16_t freq = 0;
    uint16_t flags = 0;
    uint32_t stamp = 2;
    uint16_t checksum = 0;
    uint16_t extra = 0;
    uint16_t reserved = 0;
};

// A record of the fields in the arena; null when memory is short or a text
// is null.
const UsrWordRecord* MakeUsrWordRecord(t_scopeHeap& arena, const t_usrWordFields& fields);
// The fields of a record; false (out unspecified) for a null record or one
// whose texts or fixed fields do not lie inside its L bytes.
bool ReadUsrWordRecord(const UsrWordRecord* record, t_usrWordFields* out);

// Appends a record for every word of the user dictionary file at path whose
// text unscrambles. False when the file cannot be read or is refused.
bool CollectUsrDictWords(t_scopeHeap& arena, const wchar_t* path, t_usrWordRecords& out);
// The same for an attached dictionary, leaving out the words that base (when
// not null) holds with the same frequency. False when the items cannot be
// read or memory is short.
bool CollectUsrDictCoreWords(t_scopeHeap& arena, const t_usrDictV3Core& dict,
                             const t_usrDictV3Core* base, t_usrWordRecords& out);

// Writes the records as a word-list text file: an entry line per word
// (reading as [syllable] groups and plain letters, the word, the frequency)
// followed by a comment line with its stamp and flags. Records cut short, or
// with an id that has no text, are left out. The file is written beside
// path and renamed over it at the end: 1 when it is in place; 0 on any
// failure, with the file at path as it was.
int ExportUsrWordsToText(const wchar_t* path, const t_usrWordRecords& records);

// Appends a record for each entry line of a word-list file that is directly
// followed by its comment line (stamp and flags; stamp 2 and flags 0 when
// the comment does not parse). Malformed lines and entries with a bad
// reading or a missing field are skipped. False when the file cannot be
// opened or has no header.
bool ReadUsrWordText(t_scopeHeap& arena, const wchar_t* path, t_usrWordRecords& out);

// Merges the words of the list files (the second first, when given) into the
// user dictionary file at dictPath (a new one when it does not exist) and
// saves it. Returns the number of listed words (each counted once) the saved
// dictionary holds; 0, with the file at dictPath as it was, when it would
// hold none of them (a full dictionary takes no new word), a list cannot be
// read, or the dictionary cannot be opened or saved.
int ImportWordsIntoUsrDict(const wchar_t* dictPath, const wchar_t* listPath,
                           const wchar_t* secondListPath);

// Appends records, tagged with flagBit, for the entries of a word-list file
// that the user dictionary does not hold. An entry whose comment gives a
// frequency of 0 or flag 0x04 is left out; an entry without comment is kept.
// False when the file cannot be opened or has no header.
bool ImportUsrWordsFromText(t_scopeHeap& arena, const wchar_t* path, t_usrWordRecords& out,
                            uint16_t flagBit);

// "stamp TAB flags" from up to n units (stopping at 0 or LF, skipping CR):
// decimal digits, exactly one TAB, decimal digits (the second may carry the
// '-' of a negative 16-bit value). False for anything else or a first
// number above 4294967295.
bool ParseTwoNumbers(const uint16_t* s, int n, uint32_t* first, uint16_t* second);
// Writes "first TAB second" (second as a signed 16-bit value) and a 0 unit.
// 1, or 0 when capacity units cannot hold it.
int FormatTwoNumbers(uint16_t* out, int capacity, uint32_t first, uint16_t second);
// Appends the PinyinId of a token to reading, a t_lstr of `capacity` bytes:
// a group (type 1) is one syllable or letter, a single unit (type 2) one
// letter; other types append nothing. False for an unknown syllable or
// letter, or when the reading is full.
bool AppendPinyinId(t_lstr* reading, uint32_t capacity, const uint16_t* token, int type);
