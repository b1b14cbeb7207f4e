// t_lstr accessors, comparison, bounded operations, the holder, and the arena
// placement operations of t_scopeHeap that produce or consume t_lstr values.
#include "kernel/runtime/lstr.h"

#include <cstring>
#include <cwchar>
#include <new>

#include "kernel/runtime/byte_order.h"
#include "kernel/runtime/codepage.h"

namespace {

// The count and the units are little-endian on disk and in memory alike,
// whatever the host's order.
inline uint16_t ReadCount(const t_lstr* s) {
    return Rd16(s->raw);
}

inline void WriteCount(t_lstr* s, uint32_t n) {
    Wr16(s->raw, uint16_t(n));
}

inline const uint8_t* Payload(const t_lstr* s) {
    return s->raw + kLstrHeaderBytes;
}
inline uint8_t* Payload(t_lstr* s) {
    return s->raw + kLstrHeaderBytes;
}

inline uint16_t ReadUnit(const void* base, size_t i) {
    return Rd16(static_cast<const uint8_t*>(base) + 2 * i);
}

// Capacities above the size of the longest string add nothing.
inline uint32_t ClampCapacity(uint32_t capacity) {
    return capacity > kLstrMaxBytes + kLstrHeaderBytes ? kLstrMaxBytes + kLstrHeaderBytes
                                                       : capacity;
}

// An owned buffer: count, payload, one 0 unit.
t_lstr* NewOwned(uint32_t n) {
    auto* buf = new uint8_t[n + kLstrHeaderBytes + 2]();
    auto* s = reinterpret_cast<t_lstr*>(buf);
    WriteCount(s, n);
    return s;
}

void DeleteOwned(t_lstr* s) {
    delete[] reinterpret_cast<uint8_t*>(s);
}

// A t_lstr of n bytes in the arena (no terminator); null when n is too long.
t_lstr* ArenaLstr(t_scopeHeap& heap, size_t n) {
    if (n > kLstrMaxBytes) return nullptr;
    auto* s = static_cast<t_lstr*>(heap.Alloc(n + kLstrHeaderBytes));
    if (s) WriteCount(s, uint32_t(n));
    return s;
}

// Converts the first n characters of w (n >= 1, all present) to UTF-16 at out,
// which has room for n units. Returns the bytes produced, or -1.
long WideToUnitsAt(const wchar_t* w, size_t n, uint8_t* out) {
    const char* in = reinterpret_cast<const char*>(w);
    size_t inLeft = n * sizeof(wchar_t);
    char* op = reinterpret_cast<char*>(out);
    size_t outLeft = n * 2;
    if (!IconvConvert(kCharsetUcs2, kCharsetUcs4, &in, &inLeft, &op, &outLeft) || inLeft != 0)
        return -1;
    return long(n * 2 - outLeft);
}

}  // namespace

// ---- accessors ----

uint16_t LstrGetByteLength(const t_lstr* s) {
    return s ? ReadCount(s) : 0;
}

void LstrSetByteLength(t_lstr* s, uint16_t n) {
    if (s) WriteCount(s, n);
}

uint16_t LstrGetLength(const t_lstr* s) {
    return s ? uint16_t(ReadCount(s) >> 1) : 0;
}

bool LstrSetLength(t_lstr* s, uint32_t n) {
    if (!s || n > kLstrMaxBytes / 2) return false;
    WriteCount(s, 2 * n);
    return true;
}

const uint8_t* LstrGetBytes(const t_lstr* s) {
    return s ? Payload(s) : nullptr;
}
uint8_t* LstrGetBytes(t_lstr* s) {
    return s ? Payload(s) : nullptr;
}

const uint16_t* LstrGetUnits(const t_lstr* s) {
    return s ? reinterpret_cast<const uint16_t*>(Payload(s)) : nullptr;
}
uint16_t* LstrGetUnits(t_lstr* s) {
    return s ? reinterpret_cast<uint16_t*>(Payload(s)) : nullptr;
}

uint16_t LstrGetUnit(const t_lstr* s, size_t i) {
    return s ? ReadUnit(Payload(s), i) : 0;
}

void LstrSetUnit(t_lstr* s, size_t i, uint16_t unit) {
    if (s) Wr16(Payload(s) + 2 * i, unit);
}

// ---- comparison ----

int Ucs2CompareN(const uint16_t* a, const uint16_t* b, int n) {
    if (n < 1 || !a || !b) return 0;
    for (int i = 0; i < n; ++i) {
        const uint16_t x = ReadUnit(a, size_t(i));
        const uint16_t y = ReadUnit(b, size_t(i));
        if (x != y) return x < y ? -1 : 1;
    }
    return 0;
}

int LstrCompare(const t_lstr* a, const t_lstr* b) {
    if (!a || !b) return 0;
    const uint16_t ca = ReadCount(a);
    const uint16_t cb = ReadCount(b);
    const int n = (ca < cb ? ca : cb) >> 1;
    const int r = Ucs2CompareN(LstrGetUnits(a), LstrGetUnits(b), n);
    if (r > 0) return 2;
    if (r < 0) return -2;
    if (ca > cb) return 1;
    if (ca < cb) return -1;
    return 0;
}

bool LstrEqualsWide(const t_lstr* s, const wchar_t* w, bool ignoreAsciiCase) {
    if (!s || !w) return false;
    const size_t count = ReadCount(s);
    const size_t len = wcsnlen(w, count / 2 + 1);
    if (count != 2 * len) return false;
    for (size_t i = 0; i < len; ++i) {
        const uint32_t u = ReadUnit(Payload(s), i);
        // A surrogate cannot pass the UCS-2 decoder, so such a text equals nothing.
        if (u >= 0xD800 && u <= 0xDFFF) return false;
        const uint32_t c = uint32_t(w[i]);
        if (u == c) continue;
        if (!ignoreAsciiCase) return false;
        const bool sameLetter =
            (u >= 'a' && u <= 'z' && c == u - 32) || (c >= 'a' && c <= 'z' && u == c - 32);
        if (!sameLetter) return false;
    }
    return true;
}

// ---- bounded operations ----

uint32_t LstrCopyRaw(t_lstr* dst, const t_lstr* src) {
    if (!dst || !src) return 0;
    const uint32_t total = ReadCount(src) + kLstrHeaderBytes;
    std::memmove(dst, src, total);
    return total;
}

uint32_t LstrSubBytes(t_lstr* dst, uint32_t dstCapacity, const t_lstr* src, int first, int last) {
    if (!dst || !src || first < 0 || first > last || last >= int(ReadCount(src))) return 0;
    const uint32_t length = uint32_t(last - first + 1);
    if (length + kLstrHeaderBytes > dstCapacity) return 0;
    std::memmove(Payload(dst), Payload(src) + first, length);
    WriteCount(dst, length);
    return length + kLstrHeaderBytes;
}

uint32_t LstrAppendBounded(t_lstr* dst, uint32_t capacity, const t_lstr* src) {
    if (!dst || !src) return 0;
    const uint32_t cd = ReadCount(dst);
    const uint32_t cs = ReadCount(src);
    if (cd + cs + kLstrHeaderBytes > ClampCapacity(capacity)) return 0;
    std::memmove(Payload(dst) + cd, Payload(src), cs);
    WriteCount(dst, cd + cs);
    return cd + cs;
}

uint32_t LstrConcatBounded(t_lstr* dst, uint32_t capacity, const t_lstr* a, const t_lstr* b) {
    if (!dst || !a || !b) return 0;
    const uint32_t ca = ReadCount(a);
    const uint32_t cb = ReadCount(b);
    if (ca + cb + kLstrHeaderBytes > ClampCapacity(capacity)) return 0;
    // b first: dst may be b itself, whose payload must move before a's lands on it.
    std::memmove(Payload(dst) + ca, Payload(b), cb);
    std::memmove(Payload(dst), Payload(a), ca);
    WriteCount(dst, ca + cb);
    return ca + cb;
}

// ---- holder ----

t_lstrHolder::t_lstrHolder(const t_lstr* s) {
    Borrow(s);
}

t_lstrHolder::t_lstrHolder(const void* bytes, size_t n) {
    Assign(bytes, n);
}

t_lstrHolder::t_lstrHolder(const t_lstrHolder& h) {
    AssignHolder(h);
}

t_lstrHolder& t_lstrHolder::operator=(const t_lstrHolder& h) {
    if (this != &h) AssignHolder(h);
    return *this;
}

t_lstrHolder::t_lstrHolder(t_lstrHolder&& h) noexcept : str(h.str), borrowed(h.borrowed) {
    h.str = nullptr;
    h.borrowed = false;
}

t_lstrHolder& t_lstrHolder::operator=(t_lstrHolder&& h) noexcept {
    if (this != &h) {
        Release();
        str = h.str;
        borrowed = h.borrowed;
        h.str = nullptr;
        h.borrowed = false;
    }
    return *this;
}

void t_lstrHolder::Borrow(const t_lstr* s) {
    Release();
    str = const_cast<t_lstr*>(s);  // never written through: see the class comment
    borrowed = s != nullptr;
}

void t_lstrHolder::Release() {
    if (str && !borrowed) DeleteOwned(str);
    str = nullptr;
    borrowed = false;
}

t_lstr* t_lstrHolder::Allocate(uint32_t n) {
    Release();
    if (n > kLstrMaxBytes) return nullptr;
    str = NewOwned(n);
    return str;
}

bool t_lstrHolder::Assign(const void* bytes, size_t n) {
    if (n > kLstrMaxBytes || (!bytes && n > 0)) return false;
    t_lstr* s = NewOwned(uint32_t(n));
    if (n) std::memcpy(Payload(s), bytes, n);  // bytes may lie in the old buffer
    Release();
    str = s;
    return true;
}

bool t_lstrHolder::AssignU32(uint32_t v) {
    uint8_t bytes[4];
    Wr32(bytes, v);
    return Assign(bytes, sizeof bytes);
}

bool t_lstrHolder::AssignHolder(const t_lstrHolder& h) {
    if (this == &h) {
        if (!borrowed) return true;
        return Assign(h.GetBytes(), h.GetByteLength());  // now owns its copy
    }
    if (!h.str) {
        Release();
        return true;
    }
    return Assign(h.GetBytes(), h.GetByteLength());
}

bool t_lstrHolder::AppendBytes(const void* bytes, size_t n) {
    if (!str) return Assign(bytes, n);
    const size_t old = ReadCount(str);
    // The count is 16 bits: a longer result must fail, not wrap and cut the text.
    if (n > kLstrMaxBytes - old || (!bytes && n > 0)) return false;
    t_lstr* s = NewOwned(uint32_t(old + n));
    std::memcpy(Payload(s), Payload(str), old);
    if (n) std::memcpy(Payload(s) + old, bytes, n);
    Release();
    str = s;
    return true;
}

bool t_lstrHolder::AppendLstr(const t_lstr* s) {
    if (!s) return true;
    return AppendBytes(Payload(s), ReadCount(s));
}

bool t_lstrHolder::AppendU32(uint32_t v) {
    uint8_t bytes[4];
    Wr32(bytes, v);
    return AppendBytes(bytes, sizeof bytes);
}

bool t_lstrHolder::AppendHolder(const t_lstrHolder& h) {
    if (!h.str) return true;
    if (&h == this) {
        const t_lstrHolder copy(h);
        return AppendBytes(copy.GetBytes(), copy.GetByteLength());
    }
    return AppendBytes(h.GetBytes(), h.GetByteLength());
}

bool t_lstrHolder::ConcatLstr(t_lstrHolder& result, const t_lstrHolder& h, const t_lstr* s) {
    t_lstrHolder built(h);
    if (!built.AppendLstr(s)) {
        result.Release();
        return false;
    }
    result = std::move(built);
    return true;
}

bool t_lstrHolder::ConcatU32(t_lstrHolder& result, const t_lstrHolder& h, uint32_t v) {
    t_lstrHolder built(h);
    if (!built.AppendU32(v)) {
        result.Release();
        return false;
    }
    result = std::move(built);
    return true;
}

bool t_lstrHolder::ConcatHolder(t_lstrHolder& result, const t_lstrHolder& h,
                                const t_lstrHolder& g) {
    return ConcatLstr(result, h, g.str);
}

// ---- arena placement ----

t_lstr* t_scopeHeap::DupLstr(const t_lstr* s) {
    if (!s || int16_t(ReadCount(s)) < 1) return nullptr;
    return static_cast<t_lstr*>(DupBytes(s, ReadCount(s) + kLstrHeaderBytes));
}

uint16_t* t_scopeHeap::LstrToUnits(const t_lstr* s) {
    if (!s) return nullptr;
    const uint32_t count = ReadCount(s);
    if (count >= 0x8000) return nullptr;
    const uint32_t units = (count + 1) / 2;
    auto* p = static_cast<uint16_t*>(Alloc((units + 1) * 2));
    if (p) std::memcpy(p, Payload(s), count);
    return p;
}

t_lstr* t_scopeHeap::MakeLstr(const void* units, size_t n) {
    if (!units || n == 0) return nullptr;
    t_lstr* s = ArenaLstr(*this, n);
    if (s) std::memcpy(Payload(s), units, n);
    return s;
}

t_lstr* t_scopeHeap::Utf16zToLstr(const uint16_t* units) {
    if (!units) return nullptr;
    const auto* p = reinterpret_cast<const uint8_t*>(units);
    size_t n = 0;
    while (n <= kLstrMaxBytes / 2 && (p[2 * n] || p[2 * n + 1])) ++n;
    return MakeLstr(units, 2 * n);
}

t_lstr* t_scopeHeap::ConcatLstr(const t_lstr* a, const t_lstr* b) {
    if (!a || !b) return nullptr;
    const size_t ca = ReadCount(a);
    const size_t cb = ReadCount(b);
    t_lstr* s = ArenaLstr(*this, ca + cb);  // null when the sum needs more than 16 bits
    if (!s) return nullptr;
    std::memcpy(Payload(s), Payload(a), ca);
    std::memcpy(Payload(s) + ca, Payload(b), cb);
    return s;
}

wchar_t* t_scopeHeap::LstrToWide(const t_lstr* s) {
    if (!s || ReadCount(s) < 2) return nullptr;
    return Utf16ToWideN(LstrGetUnits(s), ReadCount(s) >> 1);
}

char* t_scopeHeap::LstrToBytes(const t_lstr* s) {
    if (!s || ReadCount(s) < 2) return nullptr;
    const size_t units = ReadCount(s) >> 1;
    size_t capacity = size_t(ReadCount(s)) * 2 + 2;  // 3 bytes per unit at most, plus the 0
    auto* out = static_cast<char*>(Alloc(capacity));
    if (!out || !Utf16ToBytes(LstrGetUnits(s), units, out, capacity, kCharsetUtf8)) return nullptr;
    return out;
}

wchar_t* t_scopeHeap::Utf16ToWideN(const uint16_t* units, size_t n) {
    if (!units || n < 1 || n >= kMaxRequest / sizeof(wchar_t)) return nullptr;
    auto* out = static_cast<wchar_t*>(Alloc((n + 1) * sizeof(wchar_t)));
    size_t capacity = n;
    if (!out || !Utf16ToWide(units, n, out, capacity)) return nullptr;
    return out;  // terminated: the buffer was zero-filled one character longer
}

wchar_t* t_scopeHeap::Utf16zToWide(const uint16_t* units) {
    if (!units) return nullptr;
    const auto* p = reinterpret_cast<const uint8_t*>(units);
    size_t n = 0;
    while (p[2 * n] || p[2 * n + 1]) ++n;
    return Utf16ToWideN(units, n);
}

t_lstr* t_scopeHeap::WideToLstrN(const wchar_t* w, size_t n) {
    if (!w || n == 0) return nullptr;
    // Never read past w's terminator, whatever n says.
    const size_t count = wcsnlen(w, n);
    if (count == 0 || count > kLstrMaxBytes / 2) return nullptr;
    t_lstr* s = ArenaLstr(*this, count * 2);
    if (!s) return nullptr;
    const long produced = WideToUnitsAt(w, count, Payload(s));
    if (produced < 0) return nullptr;
    WriteCount(s, uint32_t(produced));
    return s;
}

t_lstr* t_scopeHeap::WideToLstr(const wchar_t* w) {
    if (!w || !*w) return nullptr;
    return WideToLstrN(w, std::wcslen(w));
}

t_lstr* t_scopeHeap::AppendWideNToLstr(const t_lstr* s, const wchar_t* w, size_t n) {
    if (!s || !w || n == 0) return nullptr;
    const size_t count = wcsnlen(w, n);
    const size_t old = ReadCount(s);
    if (count == 0 || count > (kLstrMaxBytes - old) / 2) return nullptr;
    t_lstr* r = ArenaLstr(*this, old + 2 * count);
    if (!r) return nullptr;
    std::memcpy(Payload(r), Payload(s), old);
    const long produced = WideToUnitsAt(w, count, Payload(r) + old);
    if (produced < 0) return nullptr;
    WriteCount(r, uint32_t(old + size_t(produced)));
    return r;
}

t_lstr* t_scopeHeap::AppendWideToLstr(const t_lstr* s, const wchar_t* w) {
    if (!s || !w || !*w) return nullptr;
    return AppendWideNToLstr(s, w, std::wcslen(w));
}

t_lstr* t_scopeHeap::WideLstrConcat(const wchar_t* w, const t_lstr* s) {
    if (!w || !s || !*w || ReadCount(s) == 0) return nullptr;
    const size_t count = std::wcslen(w);
    const size_t tail = ReadCount(s);
    if (count > (kLstrMaxBytes - tail) / 2) return nullptr;
    t_lstr* r = ArenaLstr(*this, 2 * count + tail);
    if (!r) return nullptr;
    const long produced = WideToUnitsAt(w, count, Payload(r));
    if (produced < 0) return nullptr;
    std::memcpy(Payload(r) + produced, Payload(s), tail);
    WriteCount(r, uint32_t(size_t(produced) + tail));
    return r;
}
