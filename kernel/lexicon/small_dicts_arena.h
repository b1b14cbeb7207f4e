// Placement of result records in a caller's arena. The arena hands out
// 4-byte aligned memory; records and pointer arrays need 8. Same thread
// rule as the arena.
#pragma once

#include <cstddef>
#include <cstdint>

#include "kernel/runtime/scope_heap.h"

// n zeroed bytes aligned for pointers; null when the arena fails.
inline void* ArenaAllocAligned(t_scopeHeap& heap, size_t n) {
    auto* p = static_cast<uint8_t*>(heap.Alloc(n + 4));
    if (!p) return nullptr;
    return reinterpret_cast<uintptr_t>(p) % 8 ? p + 4 : p;
}
