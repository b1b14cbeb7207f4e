// Surrogate-aware UTF-16 helpers.
#include "kernel/runtime/text_helpers.h"

#include <cwchar>

#include "kernel/runtime/byte_order.h"

namespace {

constexpr uint32_t kMaxCodePoint = 0x10FFFF;

// Units are little-endian in strings and images, whatever the host's order.
inline uint16_t ReadUnit(const void* base, size_t i) {
    return Rd16(static_cast<const uint8_t*>(base) + 2 * i);
}

inline bool IsHighSurrogate(uint32_t u) {
    return u >= 0xD800 && u <= 0xDBFF;
}
inline bool IsLowSurrogate(uint32_t u) {
    return u >= 0xDC00 && u <= 0xDFFF;
}

// Decodes n units (stopping at a 0 unit) into out, which has room for n code
// points; returns how many were written.
template <typename T>
size_t DecodeUnits(const void* units, size_t n, T* out) {
    size_t produced = 0;
    for (size_t i = 0; i < n; ++i) {
        const uint32_t u = ReadUnit(units, i);
        if (u == 0) break;
        if (IsHighSurrogate(u) && i + 1 < n) {
            const uint32_t low = ReadUnit(units, i + 1);
            if (IsLowSurrogate(low)) {
                out[produced++] = T((u << 10) + low - 0x35FDC00);
                ++i;
                continue;
            }
        }
        out[produced++] = T(u);
    }
    return produced;
}

}  // namespace

t_lstr* WideToLstr16(t_scopeHeap& heap, const wchar_t* w) {
    if (!w || !*w) return nullptr;
    size_t units = 0;
    for (const wchar_t* p = w; *p; ++p) {
        const uint32_t c = uint32_t(*p);
        if (c > kMaxCodePoint) return nullptr;
        units += c > 0xFFFF ? 2 : 1;
        if (units > kLstrMaxBytes / 2) return nullptr;
    }
    auto* buf = static_cast<uint8_t*>(heap.Alloc((units + 1) * 2));
    if (!buf) return nullptr;
    uint8_t* at = buf;
    for (const wchar_t* p = w; *p; ++p, at += 2) {
        const uint32_t c = uint32_t(*p);
        if (c > 0xFFFF) {
            Wr16(at, uint16_t(0xD7C0 + (c >> 10)));
            at += 2;
            Wr16(at, uint16_t(0xDC00 + (c & 0x3FF)));
        } else {
            Wr16(at, uint16_t(c));
        }
    }
    return heap.MakeLstr(buf, units * 2);
}

uint32_t* LstrToCodePoints(t_scopeHeap& heap, const t_lstr* s) {
    if (!s) return nullptr;
    const size_t n = LstrGetLength(s);
    auto* out = static_cast<uint32_t*>(heap.Alloc((n + 1) * sizeof(uint32_t)));
    if (!out) return nullptr;
    DecodeUnits(LstrGetBytes(s), n, out);  // the rest of the buffer is already 0
    return out;
}

wchar_t* Utf16ToWidePool(t_scopeHeap& heap, const uint16_t* units, int count) {
    if (!units || count < 1) return nullptr;
    if (size_t(count) >= t_scopeHeap::kMaxRequest / sizeof(uint32_t)) return nullptr;
    const size_t n = size_t(count);
    auto* decoded = static_cast<wchar_t*>(heap.Alloc((n + 1) * sizeof(wchar_t)));
    if (!decoded) return nullptr;
    DecodeUnits(units, n, decoded);
    // DupWide refuses an empty result and one of 10240 characters or more.
    return heap.DupWide(decoded);
}
