// 16-bit strings of the platform layer: code-page conversions over the kernel's
// converter, the runtime-library style string functions, length-prefixed
// strings, the interned literals, hashes and small text utilities.
// Any thread: conversions use the kernel's per-thread converters, the intern table has a lock.
#pragma once

#include <locale.h>
#include <sys/stat.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <ctime>

#include "kernel/runtime/lstr.h"

namespace n_porting {

// Code pages: the only four that convert.
constexpr int kCodePageWide = -2;  // the platform's 32-bit wchar_t text
constexpr int kCodePage16 = -1;    // 16-bit strings (UCS-2, little-endian)
constexpr int kCodePageUtf8 = 65001;
constexpr int kCodePageGbk = 936;  // console output, narrow formatter arguments

// Result codes of the copying functions beside 0 (success).
constexpr int kStrInvalid = 22;    // null pointer or no room at all
constexpr int kStrTruncated = 80;  // copied what fitted

// The kernel charset code (codepage.h) of a code page, or kNoCharset.
constexpr int kNoCharset = -100;
int CodePageCharset(int codePage);
// The C locale: numbers in texts and files keep a decimal point whatever
// LC_NUMERIC the host application set.
locale_t CNumericLocale();

// ---- conversions ----
// Each stops at the first unconvertible or incomplete character or when the
// room runs out, and counts what was produced. A code page outside the four
// gives 0. The flags are accepted and ignored.

// 16-bit text to bytes: srcUnits -1 means up to the terminator. Returns the
// bytes written (without the terminator, which follows them inside dstBytes);
// with a null destination, srcUnits x 4.
int WideCharToMultiByte(int codePage, uint32_t flags, const char16_t* src, int srcUnits, char* dst,
                        int dstBytes);
// Bytes to 16-bit text: a negative srcBytes means up to the terminator. The
// destination is zeroed, then filled with at most dstUnits - 1 units and a
// terminator; returns the length of the text there. A null destination gives
// srcBytes + 1.
int MultiByteToWideChar(int codePage, uint32_t flags, const char* src, int srcBytes, char16_t* dst,
                        int dstUnits);
// The same with 32-bit wide text on the 16-bit side.
int WcharToMultiByte(int codePage, uint32_t flags, const wchar_t* src, int srcChars, char* dst,
                     int dstBytes);
int MultiByteToWchar(int codePage, uint32_t flags, const char* src, int srcBytes, wchar_t* dst,
                     int dstChars);

// Allocated with malloc (release with free). Null for an empty input or when
// any part of the input does not convert: a cut text is never handed out.
char16_t* MultiByteToStr16Alloc(int codePage, const char* bytes, size_t n);
char* Str16ToMultiByteAlloc(int codePage, const char16_t* s, size_t units);
char16_t* AnsiToStr16Alloc(const char* gbk);
char16_t* Utf8ToStr16Alloc(const char* utf8);
char* Str16ToAnsiAlloc(const char16_t* s);
char* Str16ToUtf8Alloc(const char16_t* s);
char* Str16NToUtf8Alloc(const char16_t* s, size_t units);

// The 16-bit string of a UTF-8 text, converted once and kept for the life of
// the process; equal texts give the same pointer. Never null.
const char16_t* InternLiteral(const char* utf8);

// One code page 936 character: stores its unit in *dst (when not null) and
// returns the bytes it takes (1, or 2 after a lead byte), -1 when it does not
// convert.
int MbToWc16(char16_t* dst, const char* gbk);

// A 16-bit text as a file-system name: the charset of "LANG" (UTF-8 by
// default), as the kernel converts its own paths. False when it does not
// convert whole or does not fit in `capacity` bytes with its terminator.
bool Str16ToPathBytes(const char16_t* s, char* out, size_t capacity);
// The reverse: a file-system name as a 16-bit text (malloc'd); null when it
// is empty or does not convert whole.
char16_t* PathBytesToStr16Alloc(const char* bytes);
constexpr size_t kPathBytes = 4096;

// ---- string functions on 16-bit units ----

size_t WcsLen16(const char16_t* s);
size_t WcsNLen16(const char16_t* s, size_t bound);
int WcsCpy16(char16_t* dst, const char16_t* src);
// Copies src with its terminator into `capacity` units. When it does not fit,
// capacity - 1 units and a terminator are written and kStrTruncated returned.
int WcsCpyS16(char16_t* dst, size_t capacity, const char16_t* src);
// Copies at most `count` units of src (stopping at its terminator) and a
// terminator into `capacity` units; truncates as WcsCpyS16 does.
int WcsCopyN16(char16_t* dst, size_t capacity, const char16_t* src, size_t count);
// Copy or move min(capacity, count) bytes; kStrTruncated when count > capacity.
int MemCpyS(void* dst, size_t capacity, const void* src, size_t count);
int MemMoveS(void* dst, size_t capacity, const void* src, size_t count);
int StrNCpyS(char* dst, size_t n, const char* src);
char16_t* WcsDup16(const char16_t* s);  // malloc; null for null
int WcsCat16(char16_t* dst, const char16_t* src);
int WcsNCat16(char16_t* dst, const char16_t* src, size_t n);
int WcsCmp16(const char16_t* a, const char16_t* b);
int WcsNCmp16(const char16_t* a, const char16_t* b, size_t n);
int WcsICmp16(const char16_t* a, const char16_t* b);
int WcsNICmp16(const char16_t* a, const char16_t* b, size_t n);
int WmemCmp16(const char16_t* a, const char16_t* b, size_t n);
int WcsCmpN16(const char16_t* a, size_t na, const char16_t* b, size_t nb);
const char16_t* WcsChr16(const char16_t* s, char16_t c);
const char16_t* WcsRChr16(const char16_t* s, char16_t c);
const char16_t* WcsStr16(const char16_t* s, const char16_t* sub);
size_t WcsCSpn16(const char16_t* s, const char16_t* set);
char16_t* WcsTokS16(char16_t* s, const char16_t* delims, char16_t** context);
// Keeps one context per thread: a null s continues the previous string.
char16_t* WcsTok16(char16_t* s, const char16_t* delims);
int WcsLwrS16(char16_t* s, size_t n);
char16_t ToUpper16(char16_t c);
char16_t ToLower16(char16_t c);
long WToL16(const char16_t* s);
int WToI16(const char16_t* s);
unsigned long WcsToUL16(const char16_t* s, const char16_t** end, int radix);
// Parses a decimal number in the C locale (a decimal point, never a comma).
double WToF16(const char16_t* s);
// Number to text in a radix 2-36; kStrInvalid when it does not fit `capacity` units.
int ULToW16(unsigned long value, char16_t* dst, size_t capacity, int radix);
int IToW16(int value, char16_t* dst, size_t capacity, int radix);
size_t WcsFTime16(char16_t* dst, size_t capacity, const char16_t* format, const struct tm* t);
int Stat16(const char16_t* path, struct stat* st);
FILE* FOpen16(const char16_t* path, const char16_t* mode);
int FWPrintf16(FILE* f, const char16_t* format, ...);
char16_t* GetWs16(char16_t* dst, size_t capacity);
inline char16_t CharToChar16(char c) {
    return static_cast<char16_t>(static_cast<int16_t>(static_cast<signed char>(c)));
}

// ---- length-prefixed 16-bit strings (the kernel's t_lstr) ----
// Capacities are byte sizes including the count; 1 on success, 0 (destination
// unchanged) when the result does not fit.

int LStrSetChars(t_lstr* dst, uint32_t capacity, const char16_t* units, size_t n);
int LStrSubBytes(t_lstr* dst, uint32_t capacity, const t_lstr* src, int first, int last);
int LStrConcat(t_lstr* dst, uint32_t capacity, const t_lstr* a, const t_lstr* b);
int LStrConcatText(t_lstr* dst, uint32_t capacity, const char16_t* text, const t_lstr* b);
int LStrAppend(t_lstr* dst, uint32_t capacity, const t_lstr* src);
int LStrCopy(t_lstr* dst, uint32_t capacity, const t_lstr* src);
int LStrToText(char16_t* dst, uint32_t capacityBytes, const t_lstr* src);
inline uint32_t LStrGetLength(const t_lstr* s) {
    return LstrGetByteLength(s);
}
inline void LStrSetLength(t_lstr* s, uint16_t n) {
    LstrSetByteLength(s, n);
}
inline uint32_t LStrCharCount(const t_lstr* s) {
    return LstrGetLength(s);
}
bool LStrEqualsText(const t_lstr* s, const char16_t* text, bool ignoreCase);
inline int LStrCompare(const t_lstr* a, const t_lstr* b) {
    return LstrCompare(a, b);
}
// Pinyin syllable texts (apostrophes separate syllables): 0, +-1, +-2 or +-3.
int LStrComparePinyin(const t_lstr* a, const t_lstr* b);

// ---- hashes ----

// The ELF (PJW) hash step on one value.
inline uint32_t PjwStep(uint32_t h, uint32_t value) {
    h = (h << 4) + value;
    const uint32_t g = h & 0xF0000000u;
    if (g) h = (h ^ (g >> 24)) & ~g;
    return h;
}
// Over the units of s (null: 0); with foldCase, A-Z count as a-z.
uint32_t HashStr16Pjw(const char16_t* s, bool foldCase = false);
// Over the four bytes of value, lowest first, from the seed.
uint32_t HashU32Pjw(uint32_t seed, uint32_t value);

// ---- letter encodings and utilities ----

bool BytesToLetters(const uint8_t* bytes, size_t count, char16_t* dst, size_t capacity);
bool Str16ToLetters(const char16_t* s, char16_t* dst, size_t capacity);
int LettersToBytes(const char16_t* text, uint8_t* dst, size_t capacity);
int Str16ToCode32(const char16_t* s, char16_t* dst, size_t capacity);
int Code32ToStr16(const char16_t* code, char16_t* dst, size_t capacity);
int SplitArgs16(char16_t* line, char16_t** args, int n);
size_t DisplayWidth16(const char16_t* s);
bool AbbreviatePath16(char16_t* dst, size_t capacity, const char16_t* path, size_t width);
int JoinPath16(char16_t* dst, size_t capacity, const char16_t* dir, const char16_t* name);
int FindNoCase16(const char16_t* text, size_t length, const char16_t* sub);
const char* StrStrI(const char* s, const char* sub);

}  // namespace n_porting
