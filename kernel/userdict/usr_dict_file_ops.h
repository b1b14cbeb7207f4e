// File operations on the user dictionary: import and restore of a user
// dictionary file (the current format and two older ones), word counts,
// trimming, copies and removal. Callers hold the kernel dictionary lock; the
// operations work on the process-wide dictionary and on local instances.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

class t_usrDictV3Core;

// Formats DetectUsrDictFormat reports.
enum : int {
    kUsrFormatV1 = 1,  // oldest: magic 0x554401d3 or 0x55440101 at byte 0
    kUsrFormatV2 = 3,  // second: magic 0x55449d55 at byte 32
    kUsrFormatV3 = 4,  // the current table image
};

// One word taken from a file, before it goes into a dictionary.
struct t_importedWord {
    std::vector<uint8_t> reading;  // t_lstr bytes (count + PinyinId units)
    std::vector<uint8_t> word;     // t_lstr bytes (count + UTF-16 units)
    uint16_t freq = 0;
    uint16_t flags = 0;
    uint32_t stamp = 2;
    uint16_t extra = 0;
};

// The user dictionary file of the configured user directory; false when the
// directory is not set.
bool GetUsrDictFilePath(std::wstring& out);
// The process-wide user dictionary, created when needed.
t_usrDictV3Core& GetUsrDictInstance();

// Format of a file's first bytes (1, 3 or 4); false for fewer than 4 bytes.
bool DetectUsrDictFormatBytes(const uint8_t* data, uint64_t size, int* format);
// Reads the file's first 36 bytes (fewer for a shorter file) and detects its
// format; false when the file cannot be read.
bool DetectUsrDictFormat(const wchar_t* path, int* format);

// Parses a whole file image of the given format into words. Every offset,
// length and count is checked against size; words that fail their checks
// are skipped (format 3) or fail the parse (format 1). False for a damaged
// header or image (nothing useful read).
bool ParseUsrDictImage(const uint8_t* data, uint64_t size, int format, std::vector<t_importedWord>& out);

// Import (mode 0: merged into the current words) or restore (mode 1: the
// words of the file replace the current ones) of a user dictionary file of
// any format. The new dictionary is built apart, validated, written to a
// temporary file beside the user dictionary file and renamed over it; only
// then is the live dictionary re-attached (its version raised). Returns 1
// with *count = the number of words taken over; 0 on any failure, with the
// user dictionary file and the live dictionary exactly as they were.
int LoadOrConvertUsrDict(const wchar_t* path, int* count, int mode);
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
// Saves the process-wide dictionary to path and copies the file to copyPath.
bool SaveUsrDictCopy(const wchar_t* path, const wchar_t* copyPath);
