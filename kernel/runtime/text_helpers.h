// UTF-16 text helpers that the lexicon, the file readers and the conversion core use:
// UTF-16 with surrogate pairs (unlike the UCS-2 converters of the runtime).
// No shared state; results live in the caller's arena.
#pragma once

#include <cstddef>
#include <cstdint>

#include "kernel/runtime/lstr.h"
#include "kernel/runtime/scope_heap.h"

// w as a t_lstr in heap: a code point above U+FFFF becomes a surrogate pair,
// every other one a single unit. Null for a null or empty w, a value above
// U+10FFFF (no character), or a text longer than 65535 bytes.
t_lstr* WideToLstr16(t_scopeHeap& heap, const wchar_t* w);

// s's text as zero-terminated u32 code points in heap: a high surrogate followed
// by a low one is one code point, any other unit (a lone surrogate included)
// stands for itself; decoding stops at s's end or a 0 unit. Null for a null s
// or when allocation fails.
uint32_t* LstrToCodePoints(t_scopeHeap& heap, const t_lstr* s);

// Decodes up to count UTF-16 units (stopping at a 0 unit) as LstrToCodePoints
// does and returns the text as a zero-terminated wchar_t string in heap. Null
// when units is null, count < 1, or the result is empty or 10240 characters or
// longer.
wchar_t* Utf16ToWidePool(t_scopeHeap& heap, const uint16_t* units, int count);

// True for the characters '1' to '8'.
inline bool IsDigitOneToEight(uint32_t c) {
    return c >= '1' && c <= '8';
}
