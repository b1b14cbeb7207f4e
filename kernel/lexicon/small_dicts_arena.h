// Placement of result records in a caller's arena. The arena hands out
// 4-byte aligned memory; records and pointer arrays need 8. Same thread
// rule as the arena.
#pragma once

#include <cstddef>
#include <cstdint>

#include "kernel/runtime/scope_heap.h"

// n zeroed bytes aligned for pointers; null when the arena fails.
inline void* ArenaAllocAligned(t_scopeHeap& heap, size_t n) {
    return heap.AllocAligned(n, 8);
}
