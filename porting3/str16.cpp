// 16-bit strings, code-page conversions, length-prefixed strings, interned
// literals, hashes and text utilities of the platform layer.
#include "porting3/str16.h"

#include <locale.h>
#include <strings.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "kernel/runtime/codepage.h"
#include "porting3/format16.h"

namespace n_porting {

namespace {

int CharsetOf(int codePage) {
    switch (codePage) {
        case kCodePageWide:
            return kCharsetUcs4;
        case kCodePage16:
            return kCharsetUcs2;
        case kCodePageUtf8:
            return kCharsetUtf8;
        case kCodePageGbk:
            return kCharsetGbk;
        default:
            return kNoCharset;
    }
}

int SaturateInt(size_t n) {
    return n > size_t(INT32_MAX) ? INT32_MAX : int(n);
}

// One conversion into `room` bytes that stops quietly at the first character
// that does not convert or fit. Returns the bytes produced; *complete tells
// whether the whole input was taken.
size_t ConvertCounted(int to, int from, const void* in, size_t inBytes, void* out, size_t room,
                      bool* complete = nullptr) {
    const char* ip = static_cast<const char*>(in);
    char* op = static_cast<char*>(out);
    size_t left = room;
    bool ok = true;
    if (inBytes > 0) ok = IconvConvert(to, from, &ip, &inBytes, &op, &left, true);
    if (complete) *complete = ok && inBytes == 0;
    return room - left;
}

char16_t* BytesToStr16Alloc(const char* s, size_t n, int from) {
    if (!s || from == kNoCharset) return nullptr;
    if (n == 0 || n > SIZE_MAX / 2 - 1) return nullptr;
    auto* buf = static_cast<char16_t*>(std::malloc((n + 1) * 2));
    if (!buf) return nullptr;
    bool complete = false;
    // No byte of GBK or UTF-8 yields more than one unit.
    const size_t units = ConvertCounted(kCharsetUcs2, from, s, n, buf, n * 2, &complete) / 2;
    if (!complete || units < 1) {
        std::free(buf);
        return nullptr;
    }
    buf[units] = 0;
    return buf;
}

char* Str16ToBytesAlloc(const char16_t* s, size_t units, int to, size_t bytesPerUnit) {
    if (!s || to == kNoCharset || units == 0 || units > SIZE_MAX / 4 - 1) return nullptr;
    const size_t room = units * bytesPerUnit;
    auto* buf = static_cast<char*>(std::malloc(room + 1));
    if (!buf) return nullptr;
    bool complete = false;
    const size_t n = ConvertCounted(to, kCharsetUcs2, s, units * 2, buf, room, &complete);
    if (!complete || n < 1) {
        std::free(buf);
        return nullptr;
    }
    buf[n] = 0;
    return buf;
}

bool IsAsciiUpper(char16_t c) {
    return c >= u'A' && c <= u'Z';
}

bool IsSpace16(char16_t c) {
    return c < 256 && (c == u' ' || (c >= 9 && c <= 13));
}

// Parses as WcsToUL16 describes; `limit` is the largest magnitude allowed for
// the sign that was read.
struct t_parsed {
    uint64_t value = 0;
    bool negative = false;
    bool overflow = false;
    const char16_t* end = nullptr;
};

t_parsed ParseInteger(const char16_t* s, int radix) {
    t_parsed r;
    r.end = s;
    if (!s || radix < 0 || radix == 1 || radix > 36) return r;
    const char16_t* p = s;
    while (IsSpace16(*p)) ++p;
    if (*p == u'-') {
        r.negative = true;
        ++p;
    } else if (*p == u'+') {
        ++p;
    }
    const bool hexPrefix = p[0] == u'0' && (p[1] == u'x' || p[1] == u'X');
    if (radix == 0) {
        radix = hexPrefix ? 16 : (p[0] == u'0' ? 8 : 10);
        if (hexPrefix) p += 2;
    } else if (radix == 16 && hexPrefix) {
        p += 2;
    }
    bool any = false;
    for (;; ++p) {
        int d;
        const char16_t c = *p;
        if (c >= u'0' && c <= u'9')
            d = c - u'0';
        else if (c >= u'a' && c <= u'z')
            d = c - u'a' + 10;
        else if (c >= u'A' && c <= u'Z')
            d = c - u'A' + 10;
        else
            break;
        if (d >= radix) break;
        any = true;
        const uint64_t next = r.value * uint64_t(radix) + uint64_t(d);
        if (next > 0xFFFFFFFFull)
            r.overflow = true;
        else
            r.value = next;
    }
    if (any)
        r.end = p;
    else
        r.value = 0;
    return r;
}

long ParseSigned(const char16_t* s) {
    const t_parsed r = ParseInteger(s, 10);
    const uint64_t limit = r.negative ? 2147483648ull : 2147483647ull;
    if (r.overflow || r.value > limit) {
        errno = ERANGE;
        return r.negative ? -2147483648L : 2147483647L;
    }
    return r.negative ? -long(r.value) : long(r.value);
}

thread_local char16_t* tlsTokContext = nullptr;

bool ContainsUnit(const char16_t* set, char16_t c) {
    for (; *set; ++set)
        if (*set == c) return true;
    return false;
}

size_t WcsSpn16(const char16_t* s, const char16_t* set) {
    size_t i = 0;
    while (s[i] && ContainsUnit(set, s[i])) ++i;
    return i;
}

char16_t LowerAscii(char16_t c) {
    return IsAsciiUpper(c) ? char16_t(c + 32) : c;
}

constexpr char kCode32Alphabet[] = "abcdefghijklmnopqrstuvwxyz012345";

}  // namespace

int CodePageCharset(int codePage) {
    return CharsetOf(codePage);
}

locale_t CNumericLocale() {
    static const locale_t c = newlocale(LC_ALL_MASK, "C", nullptr);
    return c;
}

// ---- conversions ----

int WideCharToMultiByte(int codePage, uint32_t, const char16_t* src, int srcUnits, char* dst,
                        int dstBytes) {
    const int to = CharsetOf(codePage);
    if (to == kNoCharset) return 0;
    const size_t n = !src ? 0 : srcUnits < 0 ? WcsLen16(src) : size_t(srcUnits);
    if (!dst) return SaturateInt(n * 4);
    if (dstBytes <= 0) return 0;
    // One byte of the room is kept for the terminator.
    const size_t produced = ConvertCounted(to, kCharsetUcs2, src, n * 2, dst, size_t(dstBytes) - 1);
    dst[produced] = 0;
    return int(produced);
}

int MultiByteToWideChar(int codePage, uint32_t, const char* src, int srcBytes, char16_t* dst,
                        int dstUnits) {
    const int from = CharsetOf(codePage);
    if (from == kNoCharset) return 0;
    const size_t n = !src ? 0 : srcBytes < 0 ? std::strlen(src) : size_t(srcBytes);
    if (!dst) return SaturateInt(n + 1);
    if (dstUnits <= 0) return 0;
    std::memset(dst, 0, size_t(dstUnits) * 2);
    ConvertCounted(kCharsetUcs2, from, src, n, dst, (size_t(dstUnits) - 1) * 2);
    return int(WcsLen16(dst));
}

int WcharToMultiByte(int codePage, uint32_t, const wchar_t* src, int srcChars, char* dst,
                     int dstBytes) {
    const int to = CharsetOf(codePage);
    if (to == kNoCharset) return 0;
    const size_t n = !src ? 0 : srcChars < 0 ? std::wcslen(src) : size_t(srcChars);
    if (!dst) return SaturateInt(n * 4);
    if (dstBytes <= 0) return 0;
    const size_t produced =
        ConvertCounted(to, kCharsetUcs4, src, n * sizeof(wchar_t), dst, size_t(dstBytes) - 1);
    dst[produced] = 0;
    return int(produced);
}

int MultiByteToWchar(int codePage, uint32_t, const char* src, int srcBytes, wchar_t* dst,
                     int dstChars) {
    const int from = CharsetOf(codePage);
    if (from == kNoCharset) return 0;
    const size_t n = !src ? 0 : srcBytes < 0 ? std::strlen(src) : size_t(srcBytes);
    if (!dst) return SaturateInt(n + 1);
    if (dstChars <= 0) return 0;
    std::memset(dst, 0, size_t(dstChars) * sizeof(wchar_t));
    ConvertCounted(kCharsetUcs4, from, src, n, dst, (size_t(dstChars) - 1) * sizeof(wchar_t));
    return int(std::wcslen(dst));
}

char16_t* MultiByteToStr16Alloc(int codePage, const char* bytes, size_t n) {
    // A 16-bit or wide source may yield a unit per 2 or 4 bytes; bytes never more than one.
    return BytesToStr16Alloc(bytes, n, CharsetOf(codePage));
}

char* Str16ToMultiByteAlloc(int codePage, const char16_t* s, size_t units) {
    return Str16ToBytesAlloc(s, units, CharsetOf(codePage), 4);
}

char16_t* AnsiToStr16Alloc(const char* gbk) {
    return gbk ? BytesToStr16Alloc(gbk, std::strlen(gbk), kCharsetGbk) : nullptr;
}

char16_t* Utf8ToStr16Alloc(const char* utf8) {
    return utf8 ? BytesToStr16Alloc(utf8, std::strlen(utf8), kCharsetUtf8) : nullptr;
}

char* Str16ToAnsiAlloc(const char16_t* s) {
    return Str16ToBytesAlloc(s, WcsLen16(s), kCharsetGbk, 2);
}

char* Str16ToUtf8Alloc(const char16_t* s) {
    return Str16ToBytesAlloc(s, WcsLen16(s), kCharsetUtf8, 3);
}

char* Str16NToUtf8Alloc(const char16_t* s, size_t units) {
    return Str16ToBytesAlloc(s, units, kCharsetUtf8, 3);
}

const char16_t* InternLiteral(const char* utf8) {
    static std::mutex lock;
    static auto* table = new std::map<std::string, std::u16string>;  // kept to the end
    const std::string key = utf8 ? utf8 : "";
    std::lock_guard<std::mutex> guard(lock);
    auto it = table->find(key);
    if (it == table->end()) {
        std::u16string text;
        if (char16_t* s = Utf8ToStr16Alloc(key.c_str())) {
            text = s;
            std::free(s);
        }
        it = table->emplace(key, std::move(text)).first;
    }
    return it->second.c_str();
}

int MbToWc16(char16_t* dst, const char* gbk) {
    if (!gbk) return -1;
    const auto lead = static_cast<uint8_t>(gbk[0]);
    if (lead < 0x80) {
        if (dst) *dst = lead;
        return 1;
    }
    if (gbk[1] == 0) return -1;
    char16_t unit = 0;
    bool complete = false;
    if (ConvertCounted(kCharsetUcs2, kCharsetGbk, gbk, 2, &unit, 2, &complete) != 2 || !complete)
        return -1;
    if (dst) *dst = unit;
    return 2;
}

bool Str16ToPathBytes(const char16_t* s, char* out, size_t capacity) {
    if (!out || capacity == 0) return false;
    out[0] = 0;
    if (!s) return false;
    bool complete = false;
    const size_t n =
        ConvertCounted(kCharsetEnv, kCharsetUcs2, s, WcsLen16(s) * 2, out, capacity - 1, &complete);
    out[n] = 0;
    if (!complete) out[0] = 0;
    return complete;
}

char16_t* PathBytesToStr16Alloc(const char* bytes) {
    return bytes ? BytesToStr16Alloc(bytes, std::strlen(bytes), kCharsetEnv) : nullptr;
}

// ---- string functions ----

size_t WcsLen16(const char16_t* s) {
    size_t n = 0;
    if (s)
        while (s[n]) ++n;
    return n;
}

size_t WcsNLen16(const char16_t* s, size_t bound) {
    size_t n = 0;
    if (s)
        while (n < bound && s[n]) ++n;
    return n;
}

int WcsCpy16(char16_t* dst, const char16_t* src) {
    if (!dst) return kStrInvalid;
    std::memmove(dst, src ? src : u"", (WcsLen16(src) + 1) * 2);
    return 0;
}

int WcsCpyS16(char16_t* dst, size_t capacity, const char16_t* src) {
    return WcsCopyN16(dst, capacity, src, SIZE_MAX);
}

int WcsCopyN16(char16_t* dst, size_t capacity, const char16_t* src, size_t count) {
    if (!dst || capacity == 0) return kStrInvalid;
    const size_t n = WcsNLen16(src, count < capacity ? count : capacity);
    if (n < capacity) {
        std::memmove(dst, src, n * 2);
        dst[n] = 0;
        return 0;
    }
    std::memmove(dst, src, (capacity - 1) * 2);
    dst[capacity - 1] = 0;
    return kStrTruncated;
}

int MemCpyS(void* dst, size_t capacity, const void* src, size_t count) {
    const size_t n = count < capacity ? count : capacity;
    if (n > 0 && (!dst || !src)) return kStrInvalid;
    if (n > 0) std::memcpy(dst, src, n);
    return count > capacity ? kStrTruncated : 0;
}

int MemMoveS(void* dst, size_t capacity, const void* src, size_t count) {
    const size_t n = count < capacity ? count : capacity;
    if (n > 0 && (!dst || !src)) return kStrInvalid;
    if (n > 0) std::memmove(dst, src, n);
    return count > capacity ? kStrTruncated : 0;
}

int StrNCpyS(char* dst, size_t n, const char* src) {
    if (!dst || !src) return kStrInvalid;
    std::strncpy(dst, src, n);
    return 0;
}

char16_t* WcsDup16(const char16_t* s) {
    if (!s) return nullptr;
    const size_t bytes = (WcsLen16(s) + 1) * 2;
    auto* copy = static_cast<char16_t*>(std::malloc(bytes));
    if (copy) std::memcpy(copy, s, bytes);
    return copy;
}

int WcsCat16(char16_t* dst, const char16_t* src) {
    return WcsNCat16(dst, src, SIZE_MAX);
}

int WcsNCat16(char16_t* dst, const char16_t* src, size_t n) {
    if (!dst) return kStrInvalid;
    char16_t* end = dst + WcsLen16(dst);
    const size_t count = WcsNLen16(src, n);
    std::memmove(end, src, count * 2);
    end[count] = 0;
    return 0;
}

int WcsCmp16(const char16_t* a, const char16_t* b) {
    return WcsNCmp16(a, b, SIZE_MAX);
}

int WcsNCmp16(const char16_t* a, const char16_t* b, size_t n) {
    if (!a) a = u"";
    if (!b) b = u"";
    for (size_t i = 0; i < n; ++i) {
        if (a[i] != b[i]) return int(a[i]) - int(b[i]);
        if (!a[i]) break;
    }
    return 0;
}

int WcsICmp16(const char16_t* a, const char16_t* b) {
    return WcsNICmp16(a, b, SIZE_MAX);
}

int WcsNICmp16(const char16_t* a, const char16_t* b, size_t n) {
    if (!a) a = u"";
    if (!b) b = u"";
    for (size_t i = 0; i < n; ++i) {
        const char16_t x = LowerAscii(a[i]);
        const char16_t y = LowerAscii(b[i]);
        if (x != y) return int(x) - int(y);
        if (!x) break;
    }
    return 0;
}

int WmemCmp16(const char16_t* a, const char16_t* b, size_t n) {
    for (size_t i = 0; i < n; ++i)
        if (a[i] != b[i]) return a[i] < b[i] ? -1 : 1;
    return 0;
}

int WcsCmpN16(const char16_t* a, size_t na, const char16_t* b, size_t nb) {
    const size_t n = na < nb ? na : nb;
    for (size_t i = 0; i < n; ++i)
        if (a[i] != b[i]) return int(a[i]) - int(b[i]);
    if (na < nb) return -int(b[n]);
    if (na > nb) return int(a[n]);
    return 0;
}

const char16_t* WcsChr16(const char16_t* s, char16_t c) {
    if (!s) return nullptr;
    for (;; ++s) {
        if (*s == c) return s;
        if (!*s) return nullptr;
    }
}

const char16_t* WcsRChr16(const char16_t* s, char16_t c) {
    if (!s) return nullptr;
    const char16_t* found = nullptr;
    for (;; ++s) {
        if (*s == c) found = s;
        if (!*s) return found;
    }
}

const char16_t* WcsStr16(const char16_t* s, const char16_t* sub) {
    if (!s || !sub) return nullptr;
    const size_t n = WcsLen16(sub);
    for (; *s || n == 0; ++s) {
        if (WcsNCmp16(s, sub, n) == 0) return s;
        if (!*s) break;
    }
    return nullptr;
}

size_t WcsCSpn16(const char16_t* s, const char16_t* set) {
    size_t i = 0;
    if (!s) return 0;
    while (s[i] && !(set && ContainsUnit(set, s[i]))) ++i;
    return i;
}

char16_t* WcsTokS16(char16_t* s, const char16_t* delims, char16_t** context) {
    if (!context || !delims) return nullptr;
    if (!s) s = *context;
    if (!s) return nullptr;
    s += WcsSpn16(s, delims);
    if (!*s) {
        *context = s;
        return nullptr;
    }
    char16_t* token = s;
    s += WcsCSpn16(s, delims);
    if (*s) *s++ = 0;
    *context = s;
    return token;
}

char16_t* WcsTok16(char16_t* s, const char16_t* delims) {
    return WcsTokS16(s, delims, &tlsTokContext);
}

int WcsLwrS16(char16_t* s, size_t n) {
    if (!s) return kStrInvalid;
    for (size_t i = 0; i < n && s[i]; ++i) s[i] = LowerAscii(s[i]);
    return 0;
}

char16_t ToUpper16(char16_t c) {
    return c >= u'a' && c <= u'z' ? char16_t(c - 32) : c;
}

char16_t ToLower16(char16_t c) {
    return LowerAscii(c);
}

long WToL16(const char16_t* s) {
    return ParseSigned(s);
}

int WToI16(const char16_t* s) {
    return int(ParseSigned(s));
}

unsigned long WcsToUL16(const char16_t* s, const char16_t** end, int radix) {
    const t_parsed r = ParseInteger(s, radix);
    if (end) *end = r.end;
    if (r.overflow) {
        errno = ERANGE;
        return 4294967295ul;
    }
    return r.negative ? (uint32_t(0) - uint32_t(r.value)) : r.value;
}

double WToF16(const char16_t* s) {
    if (!s) return 0.0;
    std::string ascii;
    for (; *s && *s < 0x80; ++s) ascii.push_back(char(*s));
    return strtod_l(ascii.c_str(), nullptr, CNumericLocale());
}

int ULToW16(unsigned long value, char16_t* dst, size_t capacity, int radix) {
    if (!dst || capacity == 0 || radix < 2 || radix > 36) return kStrInvalid;
    char16_t digits[40];
    size_t n = 0;
    uint32_t v = uint32_t(value);
    do {
        const uint32_t d = v % uint32_t(radix);
        digits[n++] = char16_t(d < 10 ? u'0' + d : u'a' + d - 10);
        v /= uint32_t(radix);
    } while (v);
    if (n + 1 > capacity) {
        dst[0] = 0;
        return kStrInvalid;
    }
    for (size_t i = 0; i < n; ++i) dst[i] = digits[n - 1 - i];
    dst[n] = 0;
    return 0;
}

int IToW16(int value, char16_t* dst, size_t capacity, int radix) {
    if (radix != 10 || value >= 0) return ULToW16(uint32_t(value), dst, capacity, radix);
    if (!dst || capacity < 2) return kStrInvalid;
    dst[0] = u'-';
    const int r = ULToW16(uint32_t(0) - uint32_t(value), dst + 1, capacity - 1, radix);
    if (r) dst[0] = 0;
    return r;
}

size_t WcsFTime16(char16_t* dst, size_t capacity, const char16_t* format, const struct tm* t) {
    if (!dst || capacity == 0) return 0;
    dst[0] = 0;
    if (!format || !t || capacity > SIZE_MAX / 4) return 0;
    char* narrow = Str16ToAnsiAlloc(format);
    if (!narrow) return 0;
    std::vector<char> bytes(capacity * 2 + 1);
    const size_t n = std::strftime(bytes.data(), bytes.size(), narrow, t);
    std::free(narrow);
    if (n == 0) return 0;
    MultiByteToWideChar(kCodePageGbk, 0, bytes.data(), int(n), dst, int(capacity));
    return WcsLen16(dst);
}

int Stat16(const char16_t* path, struct stat* st) {
    char bytes[kPathBytes];
    if (!st || !Str16ToPathBytes(path, bytes, sizeof bytes)) return -1;
    return stat(bytes, st);
}

FILE* FOpen16(const char16_t* path, const char16_t* mode) {
    char bytes[kPathBytes];
    char modeBytes[16];
    if (!Str16ToPathBytes(path, bytes, sizeof bytes) ||
        !Str16ToPathBytes(mode, modeBytes, sizeof modeBytes))
        return nullptr;
    return std::fopen(bytes, modeBytes);
}

int FWPrintf16(FILE* f, const char16_t* format, ...) {
    if (!f) return -1;
    char16_t buf[1024];
    va_list args;
    va_start(args, format);
    const int n = VswPrintf16(buf, 1024, format, args);
    va_end(args);
    if (n <= 0) return n;
    if (f == stdout || f == stderr) {
        char* text = Str16ToAnsiAlloc(buf);
        if (!text) return -1;
        std::fputs(text, f);
        std::free(text);
    } else {
        std::fwrite(buf, 2, size_t(n), f);
    }
    return n;
}

char16_t* GetWs16(char16_t* dst, size_t capacity) {
    if (!dst || capacity == 0 || capacity > (INT32_MAX - 2) / 3) return nullptr;
    std::vector<char> line(capacity * 3 + 2);
    if (!std::fgets(line.data(), int(line.size()), stdin)) return nullptr;
    MultiByteToWideChar(kCodePageGbk, 0, line.data(), -1, dst, int(capacity));
    for (size_t i = 0; dst[i]; ++i)
        if (dst[i] == u'\n') dst[i] = 0;
    return dst;
}

// ---- length-prefixed strings ----

int LStrSetChars(t_lstr* dst, uint32_t capacity, const char16_t* units, size_t n) {
    if (!dst || (!units && n > 0)) return 0;
    // The count and the payload must both fit in the buffer.
    if (n > 65534 / 2 || 2 * n + kLstrHeaderBytes > capacity) return 0;
    std::memcpy(LstrGetBytes(dst), units, 2 * n);
    LstrSetByteLength(dst, uint16_t(2 * n));
    return 1;
}

int LStrSubBytes(t_lstr* dst, uint32_t capacity, const t_lstr* src, int first, int last) {
    return LstrSubBytes(dst, capacity, src, first, last) != 0 ? 1 : 0;
}

int LStrConcat(t_lstr* dst, uint32_t capacity, const t_lstr* a, const t_lstr* b) {
    if (!dst || !a || !b) return 0;
    if (LstrConcatBounded(dst, capacity, a, b) != 0) return 1;
    // Two empty strings join to an empty one, which the kernel counts as 0 bytes.
    if (LstrGetByteLength(a) + LstrGetByteLength(b) == 0 && capacity >= kLstrHeaderBytes) {
        LstrSetByteLength(dst, 0);
        return 1;
    }
    return 0;
}

int LStrConcatText(t_lstr* dst, uint32_t capacity, const char16_t* text, const t_lstr* b) {
    if (!dst || !b) return 0;
    const size_t t = WcsLen16(text) * 2;
    const size_t cb = LstrGetByteLength(b);
    if (t + cb > kLstrMaxBytes || t + cb + kLstrHeaderBytes > capacity) return 0;
    std::memmove(LstrGetBytes(dst) + t, LstrGetBytes(b), cb);  // dst may be b
    if (t) std::memcpy(LstrGetBytes(dst), text, t);
    LstrSetByteLength(dst, uint16_t(t + cb));
    return 1;
}

int LStrAppend(t_lstr* dst, uint32_t capacity, const t_lstr* src) {
    if (!dst || !src) return 0;
    if (LstrAppendBounded(dst, capacity, src) != 0) return 1;
    return LstrGetByteLength(dst) + LstrGetByteLength(src) == 0 && capacity >= kLstrHeaderBytes;
}

int LStrCopy(t_lstr* dst, uint32_t capacity, const t_lstr* src) {
    if (!dst || !src || LstrGetTotalBytes(src) > capacity) return 0;
    return LstrCopyRaw(dst, src) != 0;
}

int LStrToText(char16_t* dst, uint32_t capacityBytes, const t_lstr* src) {
    if (!dst || !src) return 0;
    const uint32_t count = LstrGetByteLength(src) & ~1u;
    if (count + 1 >= capacityBytes) return 0;
    std::memcpy(dst, LstrGetBytes(src), count);
    dst[count / 2] = 0;
    return 1;
}

bool LStrEqualsText(const t_lstr* s, const char16_t* text, bool ignoreCase) {
    if (!s || !text) return false;
    const size_t n = WcsLen16(text);
    if (LstrGetByteLength(s) != 2 * n) return false;
    for (size_t i = 0; i < n; ++i) {
        char16_t a = LstrGetUnit(s, i);
        char16_t b = text[i];
        if (ignoreCase) {
            a = LowerAscii(a);
            b = LowerAscii(b);
        }
        if (a != b) return false;
    }
    return true;
}

int LStrComparePinyin(const t_lstr* a, const t_lstr* b) {
    const size_t na = LstrGetLength(a);
    const size_t nb = LstrGetLength(b);
    if (LstrGetTotalBytes(a) > 512) return 2;
    char16_t copy[256];
    for (size_t i = 0; i < na; ++i) copy[i] = LowerAscii(LstrGetUnit(a, i));
    // First pass: the texts without apostrophes, ignoring case.
    size_t i = 0, j = 0, lenA = 0, lenB = 0;
    int result = 0;
    for (;;) {
        while (i < na && copy[i] == u'\'') ++i;
        while (j < nb && LstrGetUnit(b, j) == u'\'') ++j;
        if (i >= na || j >= nb) break;
        const char16_t x = copy[i++];
        const char16_t y = LowerAscii(LstrGetUnit(b, j++));
        ++lenA;
        ++lenB;
        if (x != y) {
            result = y < x ? 2 : -2;
            break;
        }
    }
    if (result) return result;
    for (; i < na; ++i) lenA += copy[i] != u'\'';
    for (; j < nb; ++j) lenB += LstrGetUnit(b, j) != u'\'';
    if (lenA != lenB) return lenB < lenA ? 1 : -1;
    // Equal as syllables: apostrophes and capitals decide.
    const size_t n = na < nb ? na : nb;
    for (size_t k = 0; k < n; ++k) {
        const char16_t x = LstrGetUnit(a, k);
        const char16_t y = LstrGetUnit(b, k);
        if ((x == u'\'') != (y == u'\'')) return x == u'\'' ? 3 : -3;
        if (IsAsciiUpper(x) != IsAsciiUpper(y)) return IsAsciiUpper(x) ? 3 : -3;
    }
    if (na != nb) return na > nb ? 3 : -3;
    return 0;
}

// ---- hashes ----

uint32_t HashStr16Pjw(const char16_t* s, bool foldCase) {
    uint32_t h = 0;
    if (s)
        for (; *s; ++s) h = PjwStep(h, foldCase ? LowerAscii(*s) : *s);
    return h;
}

uint32_t HashU32Pjw(uint32_t seed, uint32_t value) {
    uint32_t h = seed;
    for (int i = 0; i < 4; ++i) h = PjwStep(h, (value >> (8 * i)) & 0xFF);
    return h;
}

// ---- letter encodings ----

bool BytesToLetters(const uint8_t* bytes, size_t count, char16_t* dst, size_t capacity) {
    if (!dst || (!bytes && count) || capacity < 2 || count > SIZE_MAX / 2 - 2 ||
        capacity <= 2 * (count + 1))
        return false;
    uint8_t check = 0;
    size_t o = 0;
    for (size_t i = 0; i <= count; ++i) {
        const uint8_t b = i < count ? bytes[i] : check;
        dst[o++] = char16_t(u'a' + (b >> 4));
        dst[o++] = char16_t(u'a' + (b & 15));
        check ^= b;
    }
    dst[o] = 0;
    return true;
}

bool Str16ToLetters(const char16_t* s, char16_t* dst, size_t capacity) {
    if (!s) return false;
    std::vector<uint8_t> bytes((WcsLen16(s) + 1) * 2);
    std::memcpy(bytes.data(), s, bytes.size());
    return BytesToLetters(bytes.data(), bytes.size(), dst, capacity);
}

int LettersToBytes(const char16_t* text, uint8_t* dst, size_t capacity) {
    const size_t n = WcsLen16(text);
    if (n < 2 || n % 2 || !dst) return -1;
    const size_t count = n / 2 - 1;
    if (count > capacity) return -1;
    uint8_t check = 0;
    for (size_t i = 0; i < n / 2; ++i) {
        const char16_t hi = text[2 * i], lo = text[2 * i + 1];
        // A nibble is one of the sixteen letters a-p.
        if (hi < u'a' || hi > u'p' || lo < u'a' || lo > u'p') return -1;
        const uint8_t b = uint8_t(((hi - u'a') << 4) | (lo - u'a'));
        if (i < count) dst[i] = b;
        check ^= b;
    }
    return check == 0 ? int(count) : -1;
}

int Str16ToCode32(const char16_t* s, char16_t* dst, size_t capacity) {
    const size_t n = WcsLen16(s);
    if (!dst || capacity < 5 || n > (capacity - 1) / 4) return -1;
    size_t o = 0;
    for (size_t i = 0; i < n; ++i) {
        for (int g = 3; g >= 0; --g) {
            const unsigned group = ((s[i] >> (5 * g)) & 31u) ^ unsigned(i % 32);
            dst[o++] = char16_t(kCode32Alphabet[group]);
        }
    }
    dst[o] = 0;
    return int(o);
}

int Code32ToStr16(const char16_t* code, char16_t* dst, size_t capacity) {
    const size_t n = WcsLen16(code);
    if (!dst || n % 4) return -1;
    const size_t units = n / 4;
    if (units + 1 > capacity) return -1;
    for (size_t i = 0; i < units; ++i) {
        uint32_t v = 0;
        for (size_t g = 0; g < 4; ++g) {
            const char16_t c = code[4 * i + g];
            int sym;
            if (c >= u'a' && c <= u'z')
                sym = c - u'a';
            else if (c >= u'0' && c <= u'5')
                sym = 26 + (c - u'0');
            else
                return -1;
            v = (v << 5) | (unsigned(sym) ^ unsigned(i % 32));
        }
        if (v > 0xFFFF) return -1;
        dst[i] = char16_t(v);
    }
    dst[units] = 0;
    return int(units);
}

// ---- utilities ----

int SplitArgs16(char16_t* line, char16_t** args, int n) {
    if (!line || !args) return 0;
    int count = 0;
    char16_t* p = line;
    auto blank = [](char16_t c) { return c == u' ' || c == u'\t' || c == u'\r' || c == u'\n'; };
    while (*p && count < n) {
        while (blank(*p)) ++p;
        if (!*p) break;
        if (*p == u'"') {
            args[count++] = ++p;
            while (*p && *p != u'"') ++p;
        } else {
            args[count++] = p;
            while (*p && !blank(*p)) ++p;
        }
        if (*p) *p++ = 0;
    }
    return count;
}

size_t DisplayWidth16(const char16_t* s) {
    size_t w = 0;
    if (s)
        for (; *s; ++s) w += *s < 256 ? 1 : 2;
    return w;
}

bool AbbreviatePath16(char16_t* dst, size_t capacity, const char16_t* path, size_t width) {
    if (!dst || capacity == 0 || !path) return false;
    const size_t n = WcsLen16(path);
    if (DisplayWidth16(path) <= width) return WcsCpyS16(dst, capacity, path) == 0;
    const char16_t* slash = WcsRChr16(path, u'/');
    const char16_t* tail = slash ? slash : path + n;
    const size_t tailWidth = DisplayWidth16(tail);
    size_t keep = 0, used = 0;
    while (path + keep < tail) {
        const size_t w = path[keep] < 256 ? 1 : 2;
        if (used + w + 3 + tailWidth > width) break;
        used += w;
        ++keep;
    }
    const size_t tailUnits = WcsLen16(tail);
    if (keep + 3 + tailUnits + 1 > capacity) return false;
    std::memcpy(dst, path, keep * 2);
    std::memcpy(dst + keep, u"...", 6);
    std::memcpy(dst + keep + 3, tail, (tailUnits + 1) * 2);
    return true;
}

int JoinPath16(char16_t* dst, size_t capacity, const char16_t* dir, const char16_t* name) {
    if (!dst || !dir || !name) return 0;
    const size_t nd = WcsLen16(dir), nn = WcsLen16(name);
    const bool slash = nd == 0 || dir[nd - 1] != u'/';
    if (nd + slash + nn + 1 > capacity) return 0;
    std::memmove(dst, dir, nd * 2);
    if (slash) dst[nd] = u'/';
    std::memmove(dst + nd + slash, name, nn * 2);
    dst[nd + slash + nn] = 0;
    return 1;
}

int FindNoCase16(const char16_t* text, size_t length, const char16_t* sub) {
    if (!text || !sub) return -1;
    const size_t n = WcsLen16(sub);
    for (size_t i = 0; i + n <= length; ++i)
        if (WcsNICmp16(text + i, sub, n) == 0) return int(i);
    return -1;
}

const char* StrStrI(const char* s, const char* sub) {
    if (!s || !sub) return nullptr;
    const size_t n = std::strlen(sub);
    for (;; ++s) {
        if (strncasecmp(s, sub, n) == 0) return s;
        if (!*s) return nullptr;
    }
}

}  // namespace n_porting
