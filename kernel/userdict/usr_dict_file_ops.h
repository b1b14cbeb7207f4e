// File operations on the user dictionary: import and restore of a user
// dictionary file (the current format and two older ones), word counts,
// trimming, copies and removal. Callers hold the kernel dictionary lock; the
// operations work on the process-wide dictionary and on local instances.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "kernel/runtime/dict_manager.h"
#include "kernel/runtime/scope_heap.h"
#include "kernel/userdict/usr_text_io.h"

class t_usrDictV3Core;

// Formats DetectUsrDictFormat reports.
enum : int {
    kUsrFormatV1 = 1,  // oldest: magic 0x554401d3 or 0x55440101 at byte 0
    kUsrFormatV2 = 3,  // second: magic 0x55449d55 at byte 32
    kUsrFormatV3 = 4,  // the current table image
};

// A record of the older formats' readers (276 bytes, zero-filled): the
// reading and the word as t_lstr in fields of 130 bytes each.
struct t_oldUsrRecord {
    uint8_t reading[130];
    uint8_t word[130];
    uint8_t unused1[2];
    uint16_t freq;
    uint16_t flags;
    uint8_t unused2[2];
    uint32_t stamp;
    uint8_t unused3[4];
};
static_assert(sizeof(t_oldUsrRecord) == 276, "the older formats' record is 276 bytes");

// The user dictionary file of the configured user directory; false when the
// directory is not set.
bool GetUsrDictFilePath(std::wstring& out);
// The process-wide user dictionary, created when needed.
t_usrDictV3Core& GetUsrDictInstance();
// The distinct words of the records that dict holds (deleted ones aside).
int CountKeptUsrWords(const t_usrDictV3Core& dict, const t_usrWordRecords& words);

// Format of a file's first bytes (1, 3 or 4); false for fewer than 4 bytes.
bool DetectUsrDictFormatBytes(const uint8_t* data, uint64_t size, int* format);
// Reads the file's first 36 bytes (fewer for a shorter file) and detects its
// format; false when the file cannot be read.
bool DetectUsrDictFormat(const wchar_t* path, int* format);

// Parses a whole file image of the given format into words. Every offset,
// length and count is checked against size; words that fail their checks
// are skipped (format 3) or fail the parse (format 1). False for a damaged
// header or image (nothing useful read).
// The records (checksum 0) are placed in arena.
bool ParseUsrDictImage(const uint8_t* data, uint64_t size, int format, t_scopeHeap& arena,
                       t_usrWordRecords& out);

// Import (mode 0: merged into the current words) or restore (mode 1: the
// words of the file replace the current ones) of a user dictionary file of
// any format. The new dictionary is built apart, validated, written to a
// temporary file beside the user dictionary file and renamed over it; only
// then is the live dictionary re-attached (its version raised). Returns 1
// with *count = the number of words taken over; 0 on any failure, with the
// user dictionary file and the live dictionary exactly as they were.
int LoadOrConvertUsrDict(const wchar_t* path, int* count, int mode);
// LoadOrConvertUsrDict in steps, so that the long work runs without the
// kernel lock: one object per call, Take and Finish under the lock, Read,
// Build and Write without it.
class t_usrDictReplace {
public:
    enum class t_built { kWritten, kReplaced, kFailed };
    // Reads and parses the file (mode as LoadOrConvertUsrDict's). False when
    // nothing can be taken over: the call fails with nothing changed.
    bool Read(const wchar_t* path, int mode);
    // Every dictionary made current, the live image copied and marked. False
    // when the live dictionary is not a registered one with an image (the
    // caller then runs LoadOrConvertUsrDict whole).
    bool Take();
    // Builds the new dictionary from the copy; false when it cannot be
    // built (nothing to write).
    bool Build();
    // Writes what Build made as the user dictionary file; kReplaced when
    // another writer saved the file since the Take (nothing written: Take
    // again), kFailed with nothing written.
    t_built Write();
    // After kWritten: the live dictionary takes the file up, keeping the
    // changes made since the Take. The number of words taken over.
    int Finish();

private:
    std::wstring m_target;
    int m_mode = 0;
    int m_format = 0;
    int m_taken = 0;
    t_scopeHeap m_arena;
    t_usrWordRecords m_words;
    std::vector<uint8_t> m_live;
    std::vector<uint8_t> m_image;  // built
    t_dictManager::t_entryMark m_mark;
};
int ConvertV1UsrDict(const wchar_t* path, int* count, int mode);
int ConvertV2UsrDict(const wchar_t* path, int* count, int mode);
int ImportV3UsrDict(const wchar_t* path, int* count, int mode);

// Empties the user dictionary: its file is replaced by an empty dictionary
// (removed only when that cannot be written) and the live dictionary
// attaches it again. Backups are kept.
void DeleteUsrDictFile();
// Validation of the process-wide dictionary (rows with bad texts are hidden).
bool ValidateUsrDict(int mode);
// Words in the header of a user dictionary file: 0 for a missing or
// unreadable file; -1 when check is set and the image is refused (0 without
// check).
int GetUsrDictWordCount(const wchar_t* path, int check);
// Trims the file's words to limit and saves it back; false on failure (the
// file is then unchanged).
bool ReconvertWithLimit(const wchar_t* path, int32_t limit);
// Writes dict to path. When path is the file of dict's manager entry, the
// write is the manager's step under its global lock: a file another process
// saved since is taken up first (this process's unsaved words replayed onto
// it), so neither side's words are overwritten. False when the take-up or
// the write failed (the file is then as it was).
bool SaveLiveUsrDict(t_usrDictV3Core& dict, const wchar_t* path);
// Saves the process-wide dictionary to path (as SaveLiveUsrDict) and copies
// the file to copyPath, both under the global lock.
bool SaveUsrDictCopy(const wchar_t* path, const wchar_t* copyPath);

// Reads a format-1 (V1) or format-3 (V2) file into 276-byte records placed
// in arena: *records the first, *count how many (at most the file's word
// count for format 3). Format 1 also wants every unit of a word to be a
// letter or a character of the character dictionary. False, *count 0, for
// an unreadable file, another format, or a damaged image.
bool ReadV1UsrDictRecords(t_scopeHeap& arena, const wchar_t* path, t_oldUsrRecord** records,
                          int32_t* count);
bool ReadV2UsrDictRecords(t_scopeHeap& arena, const wchar_t* path, t_oldUsrRecord** records,
                          int32_t* count);
// Appends a user-word record, with the given flags, for each of the n
// records whose word the process-wide dictionary does not hold. Records with
// a bad reading or word are left out. Returns 1; 0 for null records or when
// memory is short (the records appended so far stay).
int AppendMissingRecords(t_scopeHeap& arena, const t_oldUsrRecord* records, int32_t n,
                         t_usrWordRecords& out, uint16_t flags);
