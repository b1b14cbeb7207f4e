// The kernel's one code converter (over iconv), the charset codes that name its
// encodings, bounded copies on caller buffers and wide-string appenders.
// Any thread: each thread keeps its own cache of conversion descriptors.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// Charset codes. kCharsetEnv is the text after the first '.' of "LANG" (up to a
// '@' modifier), "UTF-8" when "LANG" is unset or names none; if iconv does not
// know that name, conversions use UTF-8. Any other code means iconv's default
// (the empty name).
constexpr int kCharsetEnv = -1;
constexpr int kCharsetUtf8 = 0;
constexpr int kCharsetGbk = 1;
constexpr int kCharsetUcs2 = 2;  // UTF-16 text: "UCS-2LE", so no characters beyond U+FFFF
constexpr int kCharsetUcs4 = 3;  // wchar_t text: "UCS-4LE"
constexpr size_t kCharsetNameSize = 32;

// Writes the name of a charset code into out (at least kCharsetNameSize bytes),
// always terminated.
void GetCharsetName(int code, char* out);

// One conversion from charset `from` to charset `to`, with a descriptor from
// this thread's cache (reset before use). Pointers and counts advance as iconv
// advances them. Returns false when no descriptor can be opened (silently) or
// when the input holds an invalid or incomplete sequence or the output is too
// small (the system error text is printed on standard error unless quiet:
// callers that expect to stop at an unconvertible character pass true).
bool IconvConvert(int to, int from, const char** in, size_t* inLeft, char** out, size_t* outLeft,
                  bool quiet = false);

// ---- conversions ----
// capacity: on entry the room of the output in its units (UTF-16 units, wide
// characters or bytes); on success the amount produced. "Terminated" variants
// write a 0 after the result when produced < capacity. Every conversion returns
// false for a null pointer, an unconvertible input, or an output too small for
// the whole result (no partial result is reported as success; the output may
// have been written).

// Not terminated: WideToUtf16, BytesToUtf16. Terminated when room: the others.
bool WideToUtf16(const wchar_t* w, uint16_t* out, size_t& capacity);
bool Utf16ToWide(const uint16_t* units, size_t n, wchar_t* out, size_t& capacity);
bool Utf16zToBytes(const uint16_t* units, char* out, size_t& capacity, int charset);
bool Utf16ToBytes(const uint16_t* units, size_t n, char* out, size_t& capacity, int charset);
bool BytesToUtf16(const char* bytes, size_t n, uint16_t* out, size_t& capacity, int charset);
bool WideToBytes(const wchar_t* w, char* out, size_t& capacity, int charset);
bool BytesToWide(const char* bytes, size_t n, wchar_t* out, size_t& capacity, int charset);
inline bool WideToBytesUtf8(const wchar_t* w, char* out, size_t& capacity) {
    return WideToBytes(w, out, capacity, kCharsetUtf8);
}
inline bool BytesToWideUtf8(const char* bytes, size_t n, wchar_t* out, size_t& capacity) {
    return BytesToWide(bytes, n, out, capacity, kCharsetUtf8);
}
inline bool WideToBytesGbk(const wchar_t* w, char* out, size_t& capacity) {
    return WideToBytes(w, out, capacity, kCharsetGbk);
}
inline bool BytesToWideGbk(const char* bytes, size_t n, wchar_t* out, size_t& capacity) {
    return BytesToWide(bytes, n, out, capacity, kCharsetGbk);
}

// ---- bounded operations (capacities in elements of the destination) ----
// Each returns 0 on success, or -1 without touching dst when the result would
// not fit or a pointer is null.

// Copies min(n, wcslen(src)) characters and a 0; fails when capacity <= that count.
int WcsCopyN(wchar_t* dst, size_t capacity, const wchar_t* src, size_t n);
int WcsCopy(wchar_t* dst, size_t capacity, const wchar_t* src);
// Appends min(n, wcslen(src)) characters of src and a 0; fails when dst is not
// terminated within capacity or old length + that count >= capacity.
int WcsCatN(wchar_t* dst, size_t capacity, const wchar_t* src, size_t n);
int WcsCat(wchar_t* dst, size_t capacity, const wchar_t* src);
// memcpy / memmove of n bytes; fail when n > capacity.
int MemCopyChecked(void* dst, size_t capacity, const void* src, size_t n);
int MemMoveChecked(void* dst, size_t capacity, const void* src, size_t n);

// ---- appenders (each returns dst) ----
// Integers as "%d", doubles as "%f" (never cut, however large), GBK text
// decoded to wide. Four kinds of destination: a standard wide string (no
// suffix), a zero-terminated wide buffer of `capacity` characters (C), UTF-16
// text (2) and a pointer to a wide string (Ptr).

std::wstring& WstrAppendInt(std::wstring& dst, int v);
std::wstring& WstrAppendDouble(std::wstring& dst, double v);
// Appends nothing for null or undecodable text.
std::wstring& WstrAppendGbk(std::wstring& dst, const char* gbk);
// w's text up to its first 0; nothing for null.
std::wstring& WstrAppendWstr(std::wstring& dst, const wchar_t* w);

// Onto the text of a buffer, as WcsCat appends: dst, or null with dst
// untouched when dst is null or not terminated within capacity, when the
// text and its 0 would not fit, or when the GBK bytes do not decode. A null
// gbk appends nothing and returns dst.
wchar_t* WstrAppendIntC(wchar_t* dst, size_t capacity, int v);
wchar_t* WstrAppendDoubleC(wchar_t* dst, size_t capacity, double v);
wchar_t* WstrAppendGbkC(wchar_t* dst, size_t capacity, const char* gbk);
// The digits as UTF-16 units.
std::u16string& WstrAppendInt2(std::u16string& dst, int v);
// WstrAppendGbk through a pointer: null for a null dst.
std::wstring* WstrAppendGbkPtr(std::wstring* dst, const char* gbk);
