// SPDX-License-Identifier: GPL-2.0-or-later
// Vetra Pinyin's conversion kernel as a library: start-up over a system data
// directory and a user directory, the options, the conversion of typed
// input into candidates, learning from what the user commits, the user's
// dictionary operations, and shut-down. The one header of library
// vetra_kernel; it needs nothing else of the kernel.
//
// Threads: every function runs on one thread (the caller's input thread),
// never two at once; the candidate records a conversion returns stay valid
// until the next conversion. Text crosses as wide strings (one wchar_t per
// Unicode character); the candidate texts are UTF-16 units.
#pragma once

#include <cstddef>
#include <cstdint>

// The kernel's own types, used here only through pointers.
// t_lstr: a little-endian 16-bit byte count followed by that many bytes of
// UTF-16 units (a text) or of 16-bit syllable ids (a reading).
struct t_lstr;
struct t_candWord;            // one candidate record
struct t_cloudRequestParams;  // cloud records of callers that ask a cloud server
struct t_cloudAsked;

// ---- start-up and shut-down ------------------------------------------------

// Starts the kernel once per process: userDir holds what the user teaches it
// (made when missing), sysDir the system data; title and buildTime are free
// texts, smartInfoDir (the directory of the smart-info table) is usually
// userDir again, pathUserId and reservedPath may be null (both are kept for
// callers and unused). Pass loadNow 1 and policy 0 to have every dictionary
// attached before it returns. 1, or 0 when a system file conversion cannot
// go without (syllables, characters, words) is missing or damaged; problems
// are listed by GetKernelStartReport.
int InitDictionaries(const wchar_t* title, const wchar_t* userDir, const wchar_t* sysDir,
                     const wchar_t* smartInfoDir, const wchar_t* buildTime,
                     const wchar_t* pathUserId, uint8_t loadNow, uint8_t policy,
                     const wchar_t* reservedPath);
// Attaches the key-to-pinyin map after the options are set (policy 0: at
// once, 1 when it is ready). Conversion needs it.
int RegisterKeyPyMap(uint8_t policy);
// Saves into the current user directory, then works from dir. 1.
int ChangeUserDir(const wchar_t* dir);
// Saves what changed and releases every kernel object; the kernel cannot be
// started again in this process. 1, or 0 when a save failed (what was
// learned since the last save is lost).
int ShutdownDictionaries();
// One line per problem of the last start-up (empty when none); never null.
const wchar_t* GetKernelStartReport();
// verbose 1: standard error also tells each optional file that is not there
// yet (by default only real errors are printed). Any time, process-wide.
void SetKernelVerbose(uint8_t verbose);

// ---- options ---------------------------------------------------------------

// The input settings; each field sets the kernel option of its name.
struct t_kernelOptions {
    int32_t LongWordCandPos = 2;
    int32_t MaxLongWord = 2;
    int32_t LongWordNumGate = 4;
    uint8_t ForecastLongWord = 1;
    uint8_t Correction = 1;    // spelling correction of slips
    uint8_t LearnFreq = 1;     // learn every committed word
    uint8_t LearnNewWord = 1;  // learn words no dictionary holds
    uint8_t NoPhrase = 0;      // words only, no composed sentences
    uint8_t EnableCloudRequest = 1;
    uint8_t QuanPin = 1;
    uint8_t ZCSForZhChSh = 1;
    uint8_t ShuangPin = 0;
    uint8_t AllowQuanPin = 0;
    uint8_t SuperSPJP = 1;
    uint8_t UserPhrase = 1;  // the user's custom phrases among the candidates
    uint8_t SystemUserPhrase = 1;
    const t_lstr* ShuangPinName = nullptr;  // null: the default scheme "Vetra"
};
// Applies the options (null does nothing); call it before RegisterKeyPyMap.
void SetKernelOptions(const t_kernelOptions* options);

// ---- conversion ------------------------------------------------------------

// Longest input converted, in characters; a longer one gives no candidates.
inline constexpr size_t kMaxConvertInputChars = 78;
// Size of the caller's zeroed context record of ConvertInput.
inline constexpr size_t kConvertScratchBytes = 64;

// Converts the whole typed input into up to pageSize candidates after the
// first pageStart places; returns how many record pointers it wrote into
// results (0: none). Input starting with "v" or ">" gives numbers, amounts,
// dates and calculator results, "u" the characters of typed strokes (h s p n
// z), text with "@" or "." web addresses, all capitals the text itself;
// other input is pinyin. A TAB after the first character is overwritten with
// a terminator: the letters after it narrow the candidates of the text
// before it. plainFlag: without the long-word forecast (the input itself
// when nothing is found); englishFlag / urlFlag: the English word or the
// web-address list. The cloud records and cloudExtra may be null.
int32_t ConvertInput(wchar_t* input, t_candWord** results, uint8_t* scratch, uint32_t pageStart,
                     uint32_t pageSize, const t_cloudRequestParams* cloudParams,
                     t_cloudAsked* cloudAsked, uint8_t plainFlag, uint8_t englishFlag,
                     uint8_t urlFlag, uint8_t* cloudExtra);

// A candidate's text (what is committed) as UTF-16 units, *length (may be
// null) their number; null for a null record. Texts are packed: the units
// may start at an odd address, so read them bytewise (memcpy), never
// through the pointer's type.
const uint16_t* GetCandidateText(const t_candWord* candidate, size_t* length);
// How many input characters the candidate covers (a shorter one leaves the
// rest of the input to convert).
uint32_t GetCandidateCoveredLength(const t_candWord* candidate);
// Where it comes from: 0 system word, 1 user word, 3 cell word, 4 composed
// sentence, 5/6 web address (user/system), 7/8 English word (user/system),
// 9 composed with a name, 10 fixed-first word, 12 custom phrase, 13 char
// art, 14 user custom phrase, 17 the typed input, 21 numeral, 22 amount,
// 23 date or time, 24 Roman numeral, 25 calculation, 26 symbol, 28 stroke
// input, 29 cloud answer, 30 privileged word.
uint16_t GetCandidateSourceType(const t_candWord* candidate);
// The candidate's syllables (the reading LearnCommittedText takes); null when
// it has none.
const t_lstr* GetCandidateSyllables(const t_candWord* candidate);

// ---- learning --------------------------------------------------------------

// Learns a committed text with its syllables (null: no reading known); text
// made of letters only goes to the English words. 1 when learned or when
// nothing was to be learned, 0 when learning failed.
uint32_t LearnCommittedText(const wchar_t* text, const t_lstr* pinyin, uint32_t mode);
// A word committed in English input.
uint32_t LearnEnglishWord(const wchar_t* text);

// ---- the user's dictionaries -----------------------------------------------
// The uint64_t results below are only ever 1 (done) or 0 (failed); their
// width is part of the library's exported interface.

// Custom phrases: key is the typed text, position the wanted place (1 first).
uint8_t AddUsrPhrase(const wchar_t* key, const wchar_t* phrase, uint16_t position);
uint8_t DeleteUsrPhrase(const wchar_t* key, const wchar_t* phrase, uint16_t position);
// The user's phrases, deleted ones counted too.
int32_t GetUsrPhraseCount();
// The custom phrases as a phrases text file, and back; 1 done, 0 failed (the
// user's files as they were).
uint64_t ExportPhrasesFile(const wchar_t* target);
uint64_t ImportPhrasesFile(const wchar_t* source);

// Imports (merges) a user dictionary file of any supported format; 1 with
// *count the words taken over, 0 with nothing changed.
uint64_t OpenOrConvertUsrDict(const wchar_t* path, int32_t* count);
// Saves the user dictionary and copies it to target; 1 done (*status 1
// copied, 2 nothing to copy), 0 failed.
uint64_t BackupUsrDictV3(const wchar_t* target, int32_t* status);
// The words of a user dictionary file as a word-list text file; 1 written, 0 failed.
int ExportUsrDictToText(const wchar_t* dictPath, const wchar_t* textPath);
// Words the user's dictionaries hold; 1 with *out set.
int GetUserWordTotal(int64_t* out);
// The user removes a candidate (with its syllables, may be null): it is no
// longer offered. 1 when every step took.
int DeleteCandidateWord(const t_lstr* pinyin, const wchar_t* text);
