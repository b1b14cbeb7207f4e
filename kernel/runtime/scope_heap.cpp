// Block arena: block chain, bump allocation and plain-data placement.
// The t_lstr placement operations are in lstr.cpp.
#include "kernel/runtime/scope_heap.h"

#include <cstdlib>
#include <cstring>
#include <cwchar>

t_scopeHeap::t_scopeHeap(uint32_t blockSize) : blockSize(blockSize) {}

t_scopeHeap::~t_scopeHeap() {
    FreeAll();
}

// (x + header) rounded up to whole 4096-byte units. x never exceeds kMaxRequest
// (or a caller's blockSize, checked in NewBlock), so this cannot wrap.
uint32_t t_scopeHeap::BlockBytes(uint32_t x) {
    return (x + kBlockHeaderSize + kBlockGranule - 1) & ~(kBlockGranule - 1);
}

t_scopeHeap::t_block* t_scopeHeap::NewBlock(uint32_t m, bool first) {
    uint32_t x = m;
    if (first && blockSize > x) x = blockSize;
    if (!first && kBlockGranule > x) x = kBlockGranule;
    if (x > kMaxRequest) x = m;  // an absurd blockSize only sets a floor, never a wrap
    const uint32_t size = BlockBytes(x);
    auto* block = static_cast<t_block*>(std::malloc(size));
    if (!block) return nullptr;
    block->used = kBlockHeaderSize + m;
    block->size = size;
    block->free = size - block->used;
    block->reserved = 0;
    block->next = head;
    head = block;
    return block;
}

void* t_scopeHeap::Alloc(size_t n) {
    void* result = Carve(n);
    if (result) std::memset(result, 0, (n + 3) & ~size_t(3));
    return result;
}

void* t_scopeHeap::Carve(size_t n) {
    if (n > kMaxRequest) return nullptr;
    const uint32_t m = (uint32_t(n) + 3) & ~uint32_t(3);
    uint8_t* result;
    if (head && m <= head->free) {
        result = reinterpret_cast<uint8_t*>(head) + head->used;
        head->used += m;
        head->free -= m;
    } else {
        // A fresh block; the spare room of the previous head is given up.
        t_block* block = NewBlock(m, head == nullptr);
        if (!block) return nullptr;
        result = reinterpret_cast<uint8_t*>(block) + kBlockHeaderSize;
    }
    return result;
}

void* t_scopeHeap::AllocAligned(size_t n, size_t alignment) {
    return AlignedFrom(n, alignment, true);
}

void* t_scopeHeap::AllocAlignedUncleared(size_t n, size_t alignment) {
    return AlignedFrom(n, alignment, false);
}

void* t_scopeHeap::AlignedFrom(size_t n, size_t alignment, bool cleared) {
    if (alignment == 0 || alignment > 64 || (alignment & (alignment - 1)) ||
        n > kMaxRequest - alignment)
        return nullptr;
    // Alloc aligns to 4, so at most alignment - 4 bytes are skipped.
    const size_t padded = n + (alignment > 4 ? alignment - 4 : 0);
    auto* raw = static_cast<uint8_t*>(cleared ? Alloc(padded) : Carve(padded));
    if (!raw) return nullptr;
    const uintptr_t at =
        (reinterpret_cast<uintptr_t>(raw) + alignment - 1) & ~uintptr_t(alignment - 1);
    return reinterpret_cast<void*>(at);
}

void t_scopeHeap::FreeAll() {
    while (head) {
        t_block* next = head->next;
        std::free(head);
        head = next;
    }
}

size_t t_scopeHeap::BlockCount() const {
    size_t count = 0;
    for (const t_block* b = head; b; b = b->next) ++count;
    return count;
}

uint32_t t_scopeHeap::HeadBlockSize() const {
    return head ? head->size : 0;
}

uint32_t t_scopeHeap::HeadFree() const {
    return head ? head->free : 0;
}

void* t_scopeHeap::DupBytes(const void* src, size_t n) {
    if (!src || n == 0) return nullptr;
    void* p = Alloc(n);
    if (p) std::memcpy(p, src, n);
    return p;
}

wchar_t* t_scopeHeap::DupWideN(const wchar_t* src, size_t n) {
    if (!src || n == 0 || n >= kMaxRequest / sizeof(wchar_t)) return nullptr;
    auto* p = static_cast<wchar_t*>(Alloc((n + 1) * sizeof(wchar_t)));
    if (p) std::memcpy(p, src, n * sizeof(wchar_t));  // the terminator is already 0
    return p;
}

wchar_t* t_scopeHeap::DupWide(const wchar_t* src) {
    if (!src) return nullptr;
    const size_t len = wcsnlen(src, kMaxWideLength);
    if (len == 0 || len >= kMaxWideLength) return nullptr;
    return DupWideN(src, len);
}

wchar_t* t_scopeHeap::ConcatWide(const wchar_t* a, const wchar_t* b) {
    const size_t la = a ? std::wcslen(a) : 0;
    const size_t lb = b ? std::wcslen(b) : 0;
    if (la + lb >= kMaxRequest / sizeof(wchar_t)) return nullptr;
    auto* p = static_cast<wchar_t*>(Alloc((la + lb + 1) * sizeof(wchar_t)));
    if (!p) return nullptr;
    if (la) std::memcpy(p, a, la * sizeof(wchar_t));
    if (lb) std::memcpy(p + la, b, lb * sizeof(wchar_t));
    return p;
}
