// Made-up user words for the benchmarks that fill a user dictionary: word i
// gets a distinct three-syllable reading and a two-character text.
#pragma once

#include <cstdint>
#include <cstring>
#include <initializer_list>

#include "kernel/runtime/lstr.h"

namespace n_bench {

// A short length-prefixed text on the stack.
struct t_text {
    uint8_t bytes[16];
    t_text(std::initializer_list<uint16_t> units) {
        const uint16_t n = uint16_t(units.size() * 2);
        std::memcpy(bytes, &n, 2);
        size_t i = 0;
        for (uint16_t u : units) std::memcpy(bytes + 2 + 2 * i++, &u, 2);
    }
    const t_lstr* get() const { return reinterpret_cast<const t_lstr*>(bytes); }
};

inline t_text ReadingOf(int i) {
    return {uint16_t(i % 413), uint16_t((i / 413) % 413), uint16_t(i / (413 * 413))};
}
inline t_text WordOf(int i) {
    return {uint16_t(0x4E00 + i % 7000), uint16_t(0x4E00 + i / 7000)};
}

}  // namespace n_bench
