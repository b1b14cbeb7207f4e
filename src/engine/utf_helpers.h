// Free functions on NUL-terminated UTF-8 text and 32-bit code points:
// decoding, encoding, character offsets and counts, backslash escapes, the
// locale's code set and formatted debug output. No shared state: any thread.
//
// Every read is bounded by the text's NUL (and by the given length where one
// is given): a sequence cut short by either, or broken by a byte that is not
// a continuation byte (10xxxxxx), never makes a function read past it.
// Stepping treats such a cut sequence as one character of the bytes present.
#pragma once

#include <cstdint>

namespace n_engine {

// The length of the sequence a first byte starts: 1 below 0xC0, 2 to 4 for
// 0xC0 to 0xF7, 5 and 6 for the obsolete long forms, 1 for 0xFE and 0xFF.
int Utf8SeqLength(uint8_t first);

// Decodes text (its byte length, or -1: up to the NUL) into out, at most
// capacity - 1 code points, and terminates out with 0 (capacity > 0).
// Decoding stops at the NUL, at the end of the length, or at a sequence that
// is cut short there or broken. Returns the number of code points written.
int Utf8ToUtf32(uint32_t* out, int capacity, const char* text, int length);

// Encodes count code points (negative: up to a 0) into out (size bytes),
// stopping before a character that does not fit; code points of 0x110000
// and above are skipped. Terminates out when there is room after the last
// character. Returns the number of code points consumed.
int Utf32ToUtf8(char* out, int size, const uint32_t* codePoints, int count);

// Writes cp's 1 to 4 bytes (out needs 4) and returns their number; 0, writing
// nothing, above 0x10FFFF.
int Utf8EncodeChar(char* out, uint32_t cp);

// The byte offset of character n (0 for n below 1 or an empty text); the
// text's byte length when it has n characters or fewer.
int Utf8CharOffset(const char* text, int n);
// The number of characters that start before byte offset `offset`.
int Utf8CharIndex(const char* text, int offset);
// The code point at *index, moving *index past it. 0 at the NUL (the index
// stays); 0xFFFD for a cut or broken sequence (the index moves past it).
uint32_t Utf8DecodeChar(const char* text, int* index);
int Utf8CharCount(const char* text);
// Move *index to the start of the next (never past the NUL) or the previous
// (never below 0) character.
void Utf8NextChar(const char* text, int* index);
void Utf8PrevChar(const char* text, int* index);

bool IsOctalDigit(int c);
bool IsHexDigit(int c);

// Reads the escape after a backslash: n t r b f v a give 10 9 13 8 12 11 7;
// up to three octal digits; x, u and U with up to two, four and eight hex
// digits (without any digit the letter stands for itself); any other
// character stands for itself. Stores the code point and returns the bytes
// consumed; 0 (and a backslash) at the end of the text.
int ParseEscapeSequence(const char* text, uint32_t* cp);

// Writes text with its escapes resolved into out (size bytes), stopping
// before a character that does not fit with the terminator; code points
// that UTF-8 cannot hold are left out. Returns the bytes written (without
// the terminator, which is always written when size > 0).
int UnescapeToUtf8(char* out, int size, const char* text);

// The escaped form of one code point: \n \t \r \b \f \v \a \\ for those,
// \xHH for the other controls below 32 and 127, \uHHHH from 128 to 0xFFFF,
// \UHHHHHHHH above, the character itself otherwise. Returns the bytes
// written (terminated), or 0 with out emptied when it does not fit.
int EscapeCodePoint(char* out, int size, uint32_t cp);
// The whole text escaped character by character (a double quote escaped too
// when quote is set), stopping before an escape that does not fit. Returns
// the bytes written (terminated when size > 0).
int EscapeUtf8String(char* out, int size, const char* text, bool quote);

// The first occurrence of cp, with its character index in *index (when not
// null), or null. The N form looks at the first `length` bytes only.
const char* Utf8FindChar(const char* text, uint32_t cp, int* index);
const char* Utf8FindCharN(const char* text, int length, uint32_t cp, int* index);

// True when the locale name's code set (after the first dot, up to an at
// sign, a plus sign or a comma) is "utf8" or "UTF-8".
bool ParseLocaleCodeset(const char* locale);

// Debug output on stderr: formatted into 512 bytes and printed as wide text,
// or formatted through 256 bytes.
void DebugPrintWide(const char* format, ...) __attribute__((format(printf, 1, 2)));
void DebugPrintf(const char* format, ...) __attribute__((format(printf, 1, 2)));

}  // namespace n_engine
