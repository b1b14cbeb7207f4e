// The custom-phrase text file "phrases.ini": its writer, its readers and the
// key rule. UTF-16 with a byte-order mark; an entry is a header line
// "key,position=" followed by the phrase on the same line, or by its lines
// up to the next header. No shared state; results live in the caller's arena.
#pragma once

#include <cstdint>

#include "kernel/runtime/lstr.h"

class t_scopeHeap;

inline constexpr const wchar_t* kPhrasesFileName = L"phrases.ini";

// One entry of a phrase list.
struct t_phraseEntry {
    const t_lstr* key;
    const t_lstr* phrase;
    int16_t position;
};

// Limits of the file format.
inline constexpr int kPhraseKeyMaxLetters = 21;
inline constexpr int kPhrasePositionLimit = 9999;
inline constexpr int kPhraseLineChars = 32768;  // line and value buffers, in characters
inline constexpr int kPhraseHeaderLines = 43;

// The comment lines the writer puts at the top of the file.
struct t_phraseHeaderLine {
    const wchar_t* text;
    bool blankAfter;
};
extern const t_phraseHeaderLine kPhraseFileHeader[kPhraseHeaderLines];

// 1 when s has at most 21 characters, all ASCII letters (the empty string
// passes); else 0.
int IsValidPhraseKey(const wchar_t* s);

// Receives one entry; the strings live in the reader's arena. False stops
// the reading.
typedef bool (*t_phraseEntrySink)(const t_phraseEntry& entry, void* context);

// Reads the phrase file and hands each entry to sink. Malformed lines are
// skipped; a phrase of more than 32767 bytes (a table item's limit) or a
// multi-line phrase that outgrows the value buffer is dropped whole. False
// when the file cannot be opened or the arena fails; a file that is not
// UTF-16 opens but yields nothing.
bool ReadPhrasesFile(t_scopeHeap& arena, const wchar_t* textPath, t_phraseEntrySink sink,
                     void* context);

// Writes the phrase file from the custom-phrase image at imagePath (a
// missing image gives the header only); withStates writes deleted records
// too and "(state)" after every phrase. The file is written to a temporary
// beside textPath and renamed over it when complete. 1 when written; 0 when
// the image opens but cannot be read, loaded or listed, or when the file
// cannot be created, written or renamed (an existing file is then left as
// it was).
int WritePhrasesFile(t_scopeHeap& arena, const wchar_t* imagePath, const wchar_t* textPath,
                     bool withStates);

// Reads the phrase file into a new custom-phrase image (every entry in state
// 0, a repeated key and phrase keeps the last position) saved at imagePath.
// 1/0; 0 also when the text file cannot be opened.
int ParsePhrasesText(t_scopeHeap& arena, const wchar_t* textPath, const wchar_t* imagePath);

// Reads up to maximum entries into entries (strings in the arena); returns
// the number read (0 when the file cannot be read).
int ParsePhrasesToArray(t_scopeHeap& arena, const wchar_t* textPath, t_phraseEntry* entries,
                        int maximum);
