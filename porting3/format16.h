// The layer's printf engine: a 16-bit format and 16-bit output with the
// Windows wide conventions (%s a 16-bit string, %hs/%S code page 936 bytes,
// I/I32/I64 sizes, %Z counted records). Any thread: no shared state.
#pragma once

#include <cstdarg>
#include <cstddef>
#include <cstdint>

namespace n_porting {

// The record %Z prints: length in bytes, its maximum, and the text (16-bit
// units with the w size, else bytes).
struct t_countedString {
    uint16_t length;
    uint16_t maximumLength;
    void* buffer;
};

// Formats into `capacity` units. Returns the units produced without the
// terminator, or -1 when the text and its terminator do not fit, a byte text
// does not convert, or the text would pass INT_MAX units; the units written
// before stay, terminated only when room was left. A null buffer with a
// capacity of 0 only measures. Floating numbers always use a decimal point.
int VswPrintf16(char16_t* buffer, size_t capacity, const char16_t* format, va_list args);
int SwPrintf16(char16_t* buffer, size_t capacity, const char16_t* format, ...);

}  // namespace n_porting
