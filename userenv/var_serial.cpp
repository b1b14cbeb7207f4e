// The out-of-line parts of the serialisable variables: arena copies and the
// 16-bit text. One thread at a time per object.
#include "userenv/var_serial.h"

#include "porting3/str16.h"

namespace n_userenv {

void* CopyToArena(n_porting::t_heap* arena, const void* bytes, size_t n, size_t extraZeroBytes) {
    if (!arena || n + extraZeroBytes == 0) return nullptr;
    auto* copy = static_cast<uint8_t*>(arena->Alloc((n + extraZeroBytes + 3) & ~size_t(3)));
    if (!copy) return nullptr;
    if (n) std::memcpy(copy, bytes, n);
    std::memset(copy + n, 0, extraZeroBytes);
    return copy;
}

uint32_t VarStringW::Load(const uint8_t* buffer, uint32_t available, n_porting::t_heap* arena) {
    if (!buffer) return 0;
    uint32_t bytes;
    if (available < 4) return kVarLoadFailed;
    std::memcpy(&bytes, buffer, 4);
    if (bytes % 2 || bytes > available - 4) return kVarLoadFailed;
    void* copy = CopyToArena(arena ? arena : m_arena, buffer + 4, bytes, 2);
    if (!copy) return kVarLoadFailed;
    m_text = static_cast<const char16_t*>(copy);
    m_units = bytes / 2;
    return 4 + bytes;
}

uint32_t VarStringW::Save(uint8_t* buffer) const {
    const uint32_t bytes = m_text ? 2 * m_units : 0;
    if (buffer) {
        std::memcpy(buffer, &bytes, 4);
        if (bytes) std::memcpy(buffer + 4, m_text, bytes);
    }
    return 4 + bytes;
}

bool VarStringW::Set(const char16_t* const& text) {
    if (!text) {
        Reset();
        return true;
    }
    const size_t units = n_porting::WcsLen16(text);
    if (units > (0xFFFFFFFFu - 4) / 2) return false;
    void* copy = CopyToArena(m_arena, text, units * 2, 2);
    if (!copy) return false;
    m_text = static_cast<const char16_t*>(copy);
    m_units = uint32_t(units);
    return true;
}

}  // namespace n_userenv
