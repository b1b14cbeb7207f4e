// Code converter with a per-thread descriptor cache, charset names, bounded
// copies and wide-string appenders.
#include "kernel/runtime/codepage.h"

#include <iconv.h>

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <vector>

namespace {

const iconv_t kNoDescriptor = reinterpret_cast<iconv_t>(-1);
constexpr char kFallbackCharset[] = "UTF-8";

// Conversion descriptors of one thread, keyed by the resolved charset names, so
// a changed "LANG" gets a new descriptor rather than a stale one. A handful of
// pairs is all the kernel uses; the least recently used one is closed when a
// new pair needs its slot.
// The slots are trivially destructible so that conversions made while the
// thread ends (destructors of other thread or static objects) still find them:
// once t_slotsCloser has run, every conversion opens and closes its own descriptor.
constexpr int kSlots = 8;
struct t_slot {
    char to[kCharsetNameSize];
    char from[kCharsetNameSize];
    iconv_t cd;
    uint64_t lastUse;
};
struct t_descriptorSlots {
    t_slot slots[kSlots];
    int used;
    uint64_t clock;
    bool closed;
};
thread_local t_descriptorSlots tlsSlots;  // zero-initialised

struct t_slotsCloser {
    ~t_slotsCloser() {
        for (int i = 0; i < tlsSlots.used; ++i) iconv_close(tlsSlots.slots[i].cd);
        tlsSlots.used = 0;
        tlsSlots.closed = true;
    }
};
thread_local t_slotsCloser tlsCloser;

iconv_t OpenDescriptor(const char* to, const char* from, bool toFromEnv, bool fromFromEnv) {
    iconv_t cd = iconv_open(to, from);
    if (cd == kNoDescriptor && (toFromEnv || fromFromEnv)) {
        // The environment may name a charset iconv does not know.
        cd = iconv_open(toFromEnv ? kFallbackCharset : to, fromFromEnv ? kFallbackCharset : from);
    }
    return cd;
}

// Returns a descriptor in its initial state, or kNoDescriptor. owned is set
// when the caller must close it (the thread is ending).
iconv_t GetDescriptor(const char* to, const char* from, bool toFromEnv, bool fromFromEnv,
                      bool& owned) {
    t_descriptorSlots& c = tlsSlots;
    owned = c.closed;
    if (owned) return OpenDescriptor(to, from, toFromEnv, fromFromEnv);
    ++c.clock;
    for (int i = 0; i < c.used; ++i) {
        t_slot& s = c.slots[i];
        if (std::strcmp(s.to, to) == 0 && std::strcmp(s.from, from) == 0) {
            s.lastUse = c.clock;
            iconv(s.cd, nullptr, nullptr, nullptr, nullptr);  // back to the initial state
            return s.cd;
        }
    }
    iconv_t cd = OpenDescriptor(to, from, toFromEnv, fromFromEnv);
    if (cd == kNoDescriptor) return kNoDescriptor;
    t_slot* slot = &c.slots[0];
    if (c.used < kSlots) {
        if (c.used == 0) (void)&tlsCloser;  // arms the closing at thread exit
        slot = &c.slots[c.used++];
    } else {
        for (int i = 1; i < kSlots; ++i)
            if (c.slots[i].lastUse < slot->lastUse) slot = &c.slots[i];
        iconv_close(slot->cd);
    }
    std::strncpy(slot->to, to, kCharsetNameSize - 1);
    slot->to[kCharsetNameSize - 1] = 0;
    std::strncpy(slot->from, from, kCharsetNameSize - 1);
    slot->from[kCharsetNameSize - 1] = 0;
    slot->cd = cd;
    slot->lastUse = c.clock;
    return cd;
}

void PrintConversionError(int err) {
    std::fprintf(stderr, "iconv: %s\n", std::strerror(err));
}

// Length of a zero-terminated UTF-16 string that may be unaligned.
size_t Utf16Length(const uint16_t* units) {
    const auto* p = reinterpret_cast<const uint8_t*>(units);
    size_t n = 0;
    while (p[2 * n] != 0 || p[2 * n + 1] != 0) ++n;
    return n;
}

// One conversion into a caller buffer of `capacity` output units of `unit`
// bytes; see the contract in the header.
bool ConvertInto(int to, int from, const void* in, size_t inBytes, void* out, size_t& capacity,
                 size_t unit, bool terminate) {
    if (!in || !out) return false;
    if (capacity > SIZE_MAX / unit) return false;
    const size_t room = capacity * unit;
    size_t left = room;
    const char* ip = static_cast<const char*>(in);
    char* op = static_cast<char*>(out);
    if (!IconvConvert(to, from, &ip, &inBytes, &op, &left)) return false;
    if (inBytes != 0) return false;
    const size_t produced = (room - left) / unit;
    if (terminate && produced < capacity)
        std::memset(static_cast<char*>(out) + produced * unit, 0, unit);
    capacity = produced;
    return true;
}

// vswprintf into buf, terminated even when glibc reports overflow (it leaves the
// last element unset then). Returns the characters written, or -1 on overflow.
int FormatWide(wchar_t* buf, size_t capacity, const wchar_t* format, ...) {
    va_list args;
    va_start(args, format);
    const int n = std::vswprintf(buf, capacity, format, args);
    va_end(args);
    buf[capacity - 1] = 0;
    if (n < 0) buf[0] = 0;
    return n;
}

}  // namespace

void GetCharsetName(int code, char* out) {
    if (!out) return;
    const char* name = "";
    switch (code) {
        case kCharsetEnv: {
            // "zh_CN.GBK" -> "GBK"; "en_US.UTF-8@latin" -> "UTF-8" (iconv knows no modifiers).
            const char* lang = std::getenv("LANG");
            const char* dot = lang ? std::strchr(lang, '.') : nullptr;
            if (dot) {
                const char* start = dot + 1;
                const size_t len = std::strcspn(start, "@");
                if (len > 0 && len < kCharsetNameSize) {
                    std::memcpy(out, start, len);
                    out[len] = 0;
                    return;
                }
            }
            name = kFallbackCharset;
            break;
        }
        case kCharsetUtf8:
            name = "UTF-8";
            break;
        case kCharsetGbk:
            name = "GBK";
            break;
        case kCharsetUcs2:
            name = "UCS-2LE";
            break;
        case kCharsetUcs4:
            name = "UCS-4LE";
            break;
        default:
            break;
    }
    std::strncpy(out, name, kCharsetNameSize - 1);
    out[kCharsetNameSize - 1] = 0;
}

bool IconvConvert(int to, int from, const char** in, size_t* inLeft, char** out, size_t* outLeft,
                  bool quiet) {
    if (!in || !*in || !inLeft || !out || !*out || !outLeft) return false;
    char toName[kCharsetNameSize];
    char fromName[kCharsetNameSize];
    GetCharsetName(to, toName);
    GetCharsetName(from, fromName);
    bool owned = false;
    iconv_t cd = GetDescriptor(toName, fromName, to == kCharsetEnv, from == kCharsetEnv, owned);
    if (cd == kNoDescriptor) return false;
    bool ok = iconv(cd, const_cast<char**>(in), inLeft, out, outLeft) != size_t(-1);
    // Ends a stateful output encoding's shift sequence; a no-op for the others.
    if (ok) ok = iconv(cd, nullptr, nullptr, out, outLeft) != size_t(-1);
    if (!ok && !quiet) PrintConversionError(errno);
    if (owned) iconv_close(cd);
    return ok;
}

bool WideToUtf16(const wchar_t* w, uint16_t* out, size_t& capacity) {
    if (!w) return false;
    return ConvertInto(kCharsetUcs2, kCharsetUcs4, w, std::wcslen(w) * sizeof(wchar_t), out,
                       capacity, 2, false);
}

bool Utf16ToWide(const uint16_t* units, size_t n, wchar_t* out, size_t& capacity) {
    if (!units || n > SIZE_MAX / 2) return false;
    return ConvertInto(kCharsetUcs4, kCharsetUcs2, units, n * 2, out, capacity, sizeof(wchar_t),
                       true);
}

bool Utf16zToBytes(const uint16_t* units, char* out, size_t& capacity, int charset) {
    if (!units) return false;
    return ConvertInto(charset, kCharsetUcs2, units, Utf16Length(units) * 2, out, capacity, 1,
                       true);
}

bool Utf16ToBytes(const uint16_t* units, size_t n, char* out, size_t& capacity, int charset) {
    if (!units || n > SIZE_MAX / 2) return false;
    return ConvertInto(charset, kCharsetUcs2, units, n * 2, out, capacity, 1, true);
}

bool BytesToUtf16(const char* bytes, size_t n, uint16_t* out, size_t& capacity, int charset) {
    return ConvertInto(kCharsetUcs2, charset, bytes, n, out, capacity, 2, false);
}

bool WideToBytes(const wchar_t* w, char* out, size_t& capacity, int charset) {
    if (!w) return false;
    return ConvertInto(charset, kCharsetUcs4, w, std::wcslen(w) * sizeof(wchar_t), out, capacity, 1,
                       true);
}

bool BytesToWide(const char* bytes, size_t n, wchar_t* out, size_t& capacity, int charset) {
    return ConvertInto(kCharsetUcs4, charset, bytes, n, out, capacity, sizeof(wchar_t), true);
}

int WcsCopyN(wchar_t* dst, size_t capacity, const wchar_t* src, size_t n) {
    if (!dst || !src) return -1;
    const size_t count = wcsnlen(src, n);
    if (capacity <= count) return -1;
    std::wmemmove(dst, src, count);
    dst[count] = 0;
    return 0;
}

int WcsCopy(wchar_t* dst, size_t capacity, const wchar_t* src) {
    if (!src) return -1;
    return WcsCopyN(dst, capacity, src, std::wcslen(src));
}

int WcsCatN(wchar_t* dst, size_t capacity, const wchar_t* src, size_t n) {
    if (!dst || !src) return -1;
    const size_t old = wcsnlen(dst, capacity);
    if (old >= capacity) return -1;  // not terminated within its room
    const size_t count = wcsnlen(src, n);
    if (count >= capacity - old) return -1;
    std::wmemmove(dst + old, src, count);
    dst[old + count] = 0;
    return 0;
}

int WcsCat(wchar_t* dst, size_t capacity, const wchar_t* src) {
    if (!src) return -1;
    return WcsCatN(dst, capacity, src, std::wcslen(src));
}

int MemCopyChecked(void* dst, size_t capacity, const void* src, size_t n) {
    if (n > capacity) return -1;
    if (n == 0) return 0;
    if (!dst || !src) return -1;
    std::memcpy(dst, src, n);
    return 0;
}

int MemMoveChecked(void* dst, size_t capacity, const void* src, size_t n) {
    if (n > capacity) return -1;
    if (n == 0) return 0;
    if (!dst || !src) return -1;
    std::memmove(dst, src, n);
    return 0;
}

namespace {

// "%d" of any int fits: "-2147483648" is 11 characters.
constexpr size_t kIntChars = 16;

void FormatInt(wchar_t (&buf)[kIntChars], int v) {
    FormatWide(buf, kIntChars, L"%d", v);
}

// "%f" of v, whole: the short buffer serves every usual value; large
// magnitudes print every integer digit (up to 309, a sign and ".dddddd").
std::wstring FormatDouble(double v) {
    wchar_t buf[32];
    if (FormatWide(buf, 32, L"%f", v) >= 0) return buf;
    wchar_t wide[330];
    FormatWide(wide, 330, L"%f", v);
    return wide;
}

// GBK text decoded to wide into out; false when it does not decode.
bool DecodeGbk(const char* gbk, std::wstring& out) {
    const size_t length = std::strlen(gbk);
    std::vector<wchar_t> buf(length + 1);
    size_t capacity = length;  // GBK never yields more characters than bytes
    if (!BytesToWideGbk(gbk, length, buf.data(), capacity)) return false;
    out.assign(buf.data(), capacity);
    return true;
}

wchar_t* CatOrNull(wchar_t* dst, size_t capacity, const wchar_t* text, size_t n) {
    return WcsCatN(dst, capacity, text, n) == 0 ? dst : nullptr;
}

}  // namespace

std::wstring& WstrAppendInt(std::wstring& dst, int v) {
    wchar_t buf[kIntChars];
    FormatInt(buf, v);
    return dst.append(buf);
}

std::wstring& WstrAppendDouble(std::wstring& dst, double v) {
    return dst.append(FormatDouble(v));
}

std::wstring& WstrAppendGbk(std::wstring& dst, const char* gbk) {
    std::wstring text;
    if (gbk && DecodeGbk(gbk, text)) dst.append(text);
    return dst;
}

wchar_t* WstrAppendIntC(wchar_t* dst, size_t capacity, int v) {
    wchar_t buf[kIntChars];
    FormatInt(buf, v);
    return CatOrNull(dst, capacity, buf, std::wcslen(buf));
}

wchar_t* WstrAppendDoubleC(wchar_t* dst, size_t capacity, double v) {
    const std::wstring text = FormatDouble(v);
    return CatOrNull(dst, capacity, text.c_str(), text.size());
}

wchar_t* WstrAppendGbkC(wchar_t* dst, size_t capacity, const char* gbk) {
    std::wstring text;
    if (gbk && !DecodeGbk(gbk, text)) return nullptr;
    return CatOrNull(dst, capacity, text.c_str(), text.size());
}

std::u16string& WstrAppendInt2(std::u16string& dst, int v) {
    wchar_t buf[kIntChars];
    FormatInt(buf, v);
    for (const wchar_t* p = buf; *p; ++p) dst.push_back(char16_t(*p));  // digits and '-'
    return dst;
}

std::wstring* WstrAppendGbkPtr(std::wstring* dst, const char* gbk) {
    return dst ? &WstrAppendGbk(*dst, gbk) : nullptr;
}

std::wstring& WstrAppendWstr(std::wstring& dst, const wchar_t* w) {
    if (w) dst.append(w);
    return dst;
}
