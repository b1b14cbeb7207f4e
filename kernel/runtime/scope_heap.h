// t_scopeHeap: the kernel's block arena. Requests are carved from large blocks
// by bumping an offset; nothing is freed one by one, the whole chain goes at once.
// One thread at a time per arena (stack arenas, or guarded by the owner's lock).
#pragma once

#include <cstddef>
#include <cstdint>

struct t_lstr;

class t_scopeHeap {
public:
    // Every caller passes this, so that the first block (request + header) is 4096 bytes.
    static constexpr uint32_t kDefaultBlockSize = 4072;
    static constexpr uint32_t kBlockHeaderSize = 24;
    static constexpr uint32_t kBlockGranule = 4096;  // blocks are whole multiples of this
    // Sizes often come from files; anything larger is refused before any rounding,
    // so the 32-bit block arithmetic can never wrap.
    static constexpr size_t kMaxRequest = size_t(256) << 20;
    // DupWide refuses strings of this many characters or more.
    static constexpr size_t kMaxWideLength = 10240;

    explicit t_scopeHeap(uint32_t blockSize = kDefaultBlockSize);
    ~t_scopeHeap();
    t_scopeHeap(const t_scopeHeap&) = delete;
    t_scopeHeap& operator=(const t_scopeHeap&) = delete;

    // Returns n bytes rounded up to a multiple of 4, zero-filled and 4-byte
    // aligned, valid until FreeAll. Returns null (arena unchanged) when n exceeds
    // kMaxRequest or malloc fails. Alloc(0) returns the current bump position.
    void* Alloc(size_t n);

    // Like Alloc, aligned to `alignment` (a power of two, at most 64): records
    // that hold pointers or doubles need 8. Null when n + alignment exceeds
    // kMaxRequest or malloc fails.
    void* AllocAligned(size_t n, size_t alignment);
    // AllocAligned without the zero fill: the bytes are whatever the block
    // held. For large records whose owner clears the part it uses.
    void* AllocAlignedUncleared(size_t n, size_t alignment);

    // Frees every block; the arena is empty and can be used again.
    void FreeAll();

    // ---- placement of plain data (null on failure, nothing freed) ----

    // Copy of n raw bytes; null when n is 0 or src is null.
    void* DupBytes(const void* src, size_t n);
    // Copy of n wide characters and a 0; null when n is 0 or src is null.
    wchar_t* DupWideN(const wchar_t* src, size_t n);
    // Copy of a zero-terminated wide string; null when src is null, empty, or of
    // kMaxWideLength characters or more.
    wchar_t* DupWide(const wchar_t* src);
    // a then b, zero-terminated; a null argument counts as empty (never null
    // unless allocation fails).
    wchar_t* ConcatWide(const wchar_t* a, const wchar_t* b);

    // ---- placement of length-prefixed strings (defined with t_lstr in lstr.cpp) ----
    // UTF-16 text passes the code converter as UCS-2LE, so a character outside
    // the Basic Multilingual Plane (or a lone surrogate) makes a conversion fail.

    // Copy of s (count + payload); null when s is null or its count, read as a
    // signed 16-bit value, is below 1 (empty, or 32768 bytes and more).
    t_lstr* DupLstr(const t_lstr* s);
    // s's units and a 0 unit; null when s is null or holds 32768 bytes or more.
    // An empty s gives a lone 0 unit.
    uint16_t* LstrToUnits(const t_lstr* s);
    // New t_lstr of byte count n holding a copy of n bytes; null when n is 0 or
    // above 65535, or units is null.
    t_lstr* MakeLstr(const void* units, size_t n);
    // MakeLstr over a zero-terminated UTF-16 string; null for null, empty or
    // more than 32767 units.
    t_lstr* Utf16zToLstr(const uint16_t* units);
    // a's payload then b's; null when either is null or the sum exceeds 65535 bytes.
    t_lstr* ConcatLstr(const t_lstr* a, const t_lstr* b);
    // Zero-terminated wide text of s; null when s is null, empty or not convertible.
    wchar_t* LstrToWide(const t_lstr* s);
    // Zero-terminated UTF-8 text of s; null when s is null, empty or not convertible.
    char* LstrToBytes(const t_lstr* s);
    // Zero-terminated wide text of n UTF-16 units; null when n < 1, units null,
    // or not convertible.
    wchar_t* Utf16ToWideN(const uint16_t* units, size_t n);
    // Utf16ToWideN over a zero-terminated UTF-16 string; null for null or empty.
    wchar_t* Utf16zToWide(const uint16_t* units);
    // t_lstr of the first n characters of w (fewer when w ends earlier); null when
    // n is 0, w null or empty, the text needs more than 65535 bytes, or a character
    // lies outside the Basic Multilingual Plane.
    t_lstr* WideToLstrN(const wchar_t* w, size_t n);
    // WideToLstrN over all of w; null when w is null or empty.
    t_lstr* WideToLstr(const wchar_t* w);
    // s's payload followed by the first n characters of w; null when s or w is
    // null, n is 0, the sum exceeds 65535 bytes, or the conversion fails.
    t_lstr* AppendWideNToLstr(const t_lstr* s, const wchar_t* w, size_t n);
    // AppendWideNToLstr over all of w; null also when w is empty.
    t_lstr* AppendWideToLstr(const t_lstr* s, const wchar_t* w);
    // w converted to UTF-16 followed by s's payload; null when either is null or
    // empty, the sum exceeds 65535 bytes, or the conversion fails.
    t_lstr* WideLstrConcat(const wchar_t* w, const t_lstr* s);

    // ---- observation, for tests and diagnostics ----
    size_t BlockCount() const;
    uint32_t HeadBlockSize() const;  // bytes of the newest block, 0 when empty
    uint32_t HeadFree() const;       // bytes left in the newest block, 0 when empty

private:
    struct t_block {
        uint32_t used;  // header included
        uint32_t size;
        uint32_t free;  // size - used
        uint32_t reserved;
        t_block* next;  // the block that was newest before this one
    };
    static_assert(sizeof(t_block) == kBlockHeaderSize);

    static uint32_t BlockBytes(uint32_t x);
    t_block* NewBlock(uint32_t m, bool first);
    // Alloc without the zero fill.
    void* Carve(size_t n);
    void* AlignedFrom(size_t n, size_t alignment, bool cleared);

    t_block* head = nullptr;
    uint32_t blockSize;
};
