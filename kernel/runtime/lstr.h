// t_lstr: the kernel's length-prefixed string (a little-endian u16 byte count,
// then that many bytes, normally UTF-16LE, no terminator), its owning holder,
// bounded operations on caller buffers and the comparison order of table keys.
// No shared state: every function is safe on any thread for data it is handed.
#pragma once

#include <cstddef>
#include <cstdint>

#include "kernel/runtime/scope_heap.h"

// Opaque and byte-aligned: strings live unaligned inside images and records, so
// a t_lstr* may point anywhere. Read and write it only through the functions
// below (they use memcpy), never by casting to uint16_t*.
struct t_lstr {
    uint8_t raw[2];  // the count; the payload follows
};
static_assert(alignof(t_lstr) == 1 && sizeof(t_lstr) == 2);

constexpr uint32_t kLstrMaxBytes = 65535;
constexpr uint32_t kLstrHeaderBytes = 2;

// ---- null-safe accessors (0 or null for a null string; setters do nothing) ----

uint16_t LstrGetByteLength(const t_lstr* s);
void LstrSetByteLength(t_lstr* s, uint16_t n);
uint16_t LstrGetLength(const t_lstr* s);  // units = byte count >> 1
// Sets the byte count to 2 x n; returns false (count untouched) when s is null
// or 2 x n would exceed 65535.
bool LstrSetLength(t_lstr* s, uint32_t n);
const uint8_t* LstrGetBytes(const t_lstr* s);
uint8_t* LstrGetBytes(t_lstr* s);
// The payload as u16 units, little-endian whatever the host's order. The
// pointer may be unaligned: pass it to functions that take bytes or units
// through memcpy (all in this file do), or use LstrGetUnit / LstrSetUnit,
// which also take care of the byte order.
const uint16_t* LstrGetUnits(const t_lstr* s);
uint16_t* LstrGetUnits(t_lstr* s);
// Unit i of the payload; the caller keeps i below LstrGetLength(s).
uint16_t LstrGetUnit(const t_lstr* s, size_t i);
void LstrSetUnit(t_lstr* s, size_t i, uint16_t unit);
// Total size of the string in memory: count + 2 (0 for null).
inline uint32_t LstrGetTotalBytes(const t_lstr* s) {
    return s ? LstrGetByteLength(s) + kLstrHeaderBytes : 0;
}

// ---- comparison ----

// Compares n units as unsigned 16-bit values (pointers may be unaligned): -1 or
// 1 at the first difference, 0 when equal or n < 1.
int Ucs2CompareN(const uint16_t* a, const uint16_t* b, int n);

// The order of table-file keys and lookups:
//   0   equal, or either pointer null
//   2  / -2  the texts differ at a unit (unsigned 16-bit order): a after / before b
//   1   b is a proper prefix of a        -1  a is a proper prefix of b
// Prefix searches test for exactly 1.
int LstrCompare(const t_lstr* a, const t_lstr* b);

// True when s and the zero-terminated w hold the same text (s's count must be
// exactly 2 x wcslen(w)). With ignoreAsciiCase, 'a'..'z' also match 'A'..'Z'.
// False for a null operand or a surrogate unit in s.
bool LstrEqualsWide(const t_lstr* s, const wchar_t* w, bool ignoreAsciiCase);

// ---- bounded operations on caller buffers ----
// Capacities are in bytes and include the 2-byte count. A capacity above
// 65537 counts as 65537, the size of the longest string. A failed operation
// leaves the destination unchanged.

// Copies count + 2 bytes; returns count + 2, or 0 when either pointer is null.
// The caller guarantees room.
uint32_t LstrCopyRaw(t_lstr* dst, const t_lstr* src);
// dst becomes payload bytes first..last (inclusive) of src; returns the bytes
// written (length + 2), or 0 when first < 0, first > last, last >= src's byte
// count, length + 2 > dstCapacity, or a pointer is null.
uint32_t LstrSubBytes(t_lstr* dst, uint32_t dstCapacity, const t_lstr* src, int first, int last);
// Appends src's payload to dst in place; returns the new byte count, or 0 when
// count(dst) + count(src) + 2 > capacity or a pointer is null.
uint32_t LstrAppendBounded(t_lstr* dst, uint32_t capacity, const t_lstr* src);
// dst = a's payload then b's (dst may be a or b); returns the new byte count, or
// 0 when count(a) + count(b) + 2 > capacity or a pointer is null.
uint32_t LstrConcatBounded(t_lstr* dst, uint32_t capacity, const t_lstr* a, const t_lstr* b);

// ---- owning holder ----

// Owns one t_lstr in its own buffer (count, payload, one 0 unit after the
// payload), or points at a borrowed string it never writes to or frees.
// Operations that change the text always build a new owned buffer, so a
// borrowed string is never touched.
class t_lstrHolder {
public:
    t_lstrHolder() = default;
    // Borrows s (not copied, not freed); s must outlive the holder's use of it.
    explicit t_lstrHolder(const t_lstr* s);
    // Owns a copy of n bytes; empty when n exceeds 65535.
    t_lstrHolder(const void* bytes, size_t n);
    t_lstrHolder(const t_lstrHolder& h);  // deep copy (even of a borrowed string)
    t_lstrHolder& operator=(const t_lstrHolder& h);
    t_lstrHolder(t_lstrHolder&& h) noexcept;
    t_lstrHolder& operator=(t_lstrHolder&& h) noexcept;
    ~t_lstrHolder() { Release(); }

    void Borrow(const t_lstr* s);
    void Release();
    // New zeroed owned buffer with byte count n; returns it for the caller to
    // fill, or null (holder released) when n exceeds 65535.
    t_lstr* Allocate(uint32_t n);

    const t_lstr* Get() const { return str; }
    bool IsBorrowed() const { return borrowed; }
    uint16_t GetByteLength() const { return LstrGetByteLength(str); }
    uint16_t GetLength() const { return LstrGetLength(str); }
    const uint8_t* GetBytes() const { return LstrGetBytes(str); }
    const uint16_t* GetUnits() const { return LstrGetUnits(str); }

    // Owns a copy of n bytes. Returns false, holder unchanged, when n exceeds
    // 65535 or bytes is null with n > 0.
    bool Assign(const void* bytes, size_t n);
    bool AssignU32(uint32_t v);  // the 4 bytes of v
    bool AssignHolder(const t_lstrHolder& h);

    // Appends n bytes (an empty holder does Assign). Returns false, holder
    // unchanged, when the result would exceed 65535 bytes.
    bool AppendBytes(const void* bytes, size_t n);
    bool AppendLstr(const t_lstr* s);  // a null s leaves the holder unchanged (true)
    bool AppendU32(uint32_t v);
    bool AppendHolder(const t_lstrHolder& h);

    // result = copy of h followed by the second operand; on failure (total above
    // 65535 bytes) result is released and false returned.
    static bool ConcatLstr(t_lstrHolder& result, const t_lstrHolder& h, const t_lstr* s);
    static bool ConcatU32(t_lstrHolder& result, const t_lstrHolder& h, uint32_t v);
    static bool ConcatHolder(t_lstrHolder& result, const t_lstrHolder& h, const t_lstrHolder& g);

    static int Compare(const t_lstrHolder& h, const t_lstrHolder& g) {
        return LstrCompare(h.str, g.str);
    }

private:
    t_lstr* str = nullptr;
    bool borrowed = false;
};
