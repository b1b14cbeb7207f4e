// Little-endian integers at any alignment, the byte order of every stored
// file and image. Pure functions; safe on any thread.
#pragma once

#include <cstdint>

inline uint16_t Rd16(const uint8_t* p) {
    return uint16_t(p[0] | (p[1] << 8));
}
inline uint32_t Rd32(const uint8_t* p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}
inline int16_t RdI16(const uint8_t* p) {
    return int16_t(Rd16(p));
}
inline int32_t RdI32(const uint8_t* p) {
    return int32_t(Rd32(p));
}
inline uint64_t Rd64(const uint8_t* p) {
    return uint64_t(Rd32(p)) | uint64_t(Rd32(p + 4)) << 32;
}
inline void Wr16(uint8_t* p, uint16_t v) {
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
}
inline void Wr32(uint8_t* p, uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = uint8_t(v >> (8 * i));
}
