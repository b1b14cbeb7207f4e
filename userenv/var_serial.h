// Serialisable variables of the account and user data records: load from
// bytes (every length and offset checked), save or size, reset; variable-length
// values live in the owner's block arena. One thread at a time per object.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <new>
#include <type_traits>

#include "porting3/block_heap.h"

namespace n_userenv {

constexpr uint32_t kVarLoadFailed = 0xFFFFFFFF;

class VarBase {
public:
    virtual ~VarBase() = default;
    // Bytes consumed; 0 for a null buffer, kVarLoadFailed when the bytes are
    // too short or malformed (reset the value before using it again).
    virtual uint32_t Load(const uint8_t* buffer, uint32_t available, n_porting::t_heap* arena) = 0;
    // Bytes written, or with a null buffer the bytes needed.
    virtual uint32_t Save(uint8_t* buffer) const = 0;
    virtual void Reset() = 0;
};

template <class T>
class VarType {
public:
    virtual ~VarType() = default;
    virtual bool Set(const T& value) = 0;
    virtual const T* Get(uint32_t* count) const = 0;
};

template <class T, T kDefault>
class VarSimple : public VarBase, public VarType<T> {
public:
    uint32_t Load(const uint8_t* buffer, uint32_t available, n_porting::t_heap*) override {
        if (!buffer) return 0;
        if (available < sizeof(T)) return kVarLoadFailed;
        if constexpr (std::is_same_v<T, bool>)
            m_value = buffer[0] != 0;  // any byte is a valid bool
        else
            std::memcpy(&m_value, buffer, sizeof(T));
        return sizeof(T);
    }
    uint32_t Save(uint8_t* buffer) const override {
        if (buffer) std::memcpy(buffer, &m_value, sizeof(T));
        return sizeof(T);
    }
    void Reset() override { m_value = kDefault; }
    bool Set(const T& value) override {
        m_value = value;
        return true;
    }
    const T* Get(uint32_t* count) const override {
        if (count) *count = 1;
        return &m_value;
    }

private:
    T m_value = kDefault;
};

template <class T, size_t N>
class VarSimpleArray : public VarBase, public VarType<T[N]> {
public:
    uint32_t Load(const uint8_t* buffer, uint32_t available, n_porting::t_heap*) override {
        if (!buffer) return 0;
        if (available < sizeof m_value) return kVarLoadFailed;
        std::memcpy(m_value, buffer, sizeof m_value);
        return sizeof m_value;
    }
    uint32_t Save(uint8_t* buffer) const override {
        if (buffer) std::memcpy(buffer, m_value, sizeof m_value);
        return sizeof m_value;
    }
    void Reset() override { std::memset(m_value, 0, sizeof m_value); }
    using t_array = T[N];
    bool Set(const t_array& value) override {
        std::memcpy(m_value, value, sizeof m_value);
        return true;
    }
    const t_array* Get(uint32_t* count) const override {
        if (count) *count = N;
        return &m_value;
    }

private:
    T m_value[N] = {};
};

// Copies n bytes into the arena (rounded up to 4); null when it fails.
void* CopyToArena(n_porting::t_heap* arena, const void* bytes, size_t n, size_t extraZeroBytes);

// u32 byte count, then the elements' bytes.
template <class T>
class VarSimpleDynArray : public VarBase {
public:
    explicit VarSimpleDynArray(n_porting::t_heap* arena) : m_arena(arena) {}
    uint32_t Load(const uint8_t* buffer, uint32_t available, n_porting::t_heap* arena) override {
        if (!buffer) return 0;
        uint32_t bytes;
        if (available < 4) return kVarLoadFailed;
        std::memcpy(&bytes, buffer, 4);
        if (bytes > available - 4 || bytes % sizeof(T)) return kVarLoadFailed;
        void* copy = CopyToArena(arena ? arena : m_arena, buffer + 4, bytes, 0);
        if (!copy && bytes) return kVarLoadFailed;
        m_data = static_cast<T*>(copy);
        m_count = bytes / sizeof(T);
        return 4 + bytes;
    }
    uint32_t Save(uint8_t* buffer) const override {
        const uint32_t bytes = m_count * uint32_t(sizeof(T));
        if (buffer) {
            std::memcpy(buffer, &bytes, 4);
            if (bytes) std::memcpy(buffer + 4, m_data, bytes);
        }
        return 4 + bytes;
    }
    void Reset() override {
        m_data = nullptr;
        m_count = 0;
    }
    bool Set(const T* data, uint32_t count) {
        if (count > (0xFFFFFFFFu - 4) / sizeof(T)) return false;
        void* copy = CopyToArena(m_arena, data, size_t(count) * sizeof(T), 0);
        if (!copy && count) return false;
        m_data = static_cast<T*>(copy);
        m_count = count;
        return true;
    }
    const T* Get(uint32_t* count) const {
        if (count) *count = m_count;
        return m_data;
    }

private:
    n_porting::t_heap* m_arena;
    T* m_data = nullptr;
    uint32_t m_count = 0;
};

// u32 byte count (twice the units, no terminator), then the UTF-16 units.
class VarStringW : public VarBase, public VarType<const char16_t*> {
public:
    explicit VarStringW(n_porting::t_heap* arena) : m_arena(arena) {}
    uint32_t Load(const uint8_t* buffer, uint32_t available, n_porting::t_heap* arena) override;
    uint32_t Save(uint8_t* buffer) const override;
    void Reset() override {
        m_text = nullptr;
        m_units = 0;
    }
    // Copies the text (null sets null); false when it does not fit.
    bool Set(const char16_t* const& text) override;
    const char16_t* const* Get(uint32_t* count) const override {
        if (count) *count = m_units;
        return &m_text;
    }
    const char16_t* GetText() const { return m_text; }

private:
    n_porting::t_heap* m_arena;
    const char16_t* m_text = nullptr;
    uint32_t m_units = 0;
};

// Total length, offset-table length (4 x count), the offsets from the start,
// then the records; an empty array is a single u32 0. T is a VarBase record
// constructible from the arena; records are placed in the arena and never
// destroyed, so T must own nothing outside it.
template <class T, int kVersion = 1>
class VarComplexDynArray : public VarBase {
public:
    explicit VarComplexDynArray(n_porting::t_heap* arena) : m_arena(arena) {}

    uint32_t Load(const uint8_t* buffer, uint32_t available, n_porting::t_heap* arena) override {
        Reset();
        if (!buffer) return 0;
        if (arena) m_arena = arena;
        if (available < 4) return kVarLoadFailed;
        uint32_t total, tableBytes;
        std::memcpy(&total, buffer, 4);
        if (total == 0) return 4;
        if (total > available || total < 8) return kVarLoadFailed;
        std::memcpy(&tableBytes, buffer + 4, 4);
        const uint32_t count = tableBytes / 4;
        if (tableBytes % 4 || count > (total - 8) / 4) return kVarLoadFailed;
        T** items = count ? static_cast<T**>(m_arena->Alloc(size_t(count) * sizeof(T*))) : nullptr;
        if (count && !items) return kVarLoadFailed;
        const uint64_t firstRecord = 8 + uint64_t(4) * count;
        for (uint32_t i = 0; i < count; ++i) {
            uint32_t offset;
            std::memcpy(&offset, buffer + 8 + 4 * uint64_t(i), 4);
            if (offset < firstRecord || offset >= total) return kVarLoadFailed;
            void* place = m_arena->Alloc(sizeof(T));
            if (!place) return kVarLoadFailed;
            items[i] = new (place) T(m_arena);
            if (items[i]->Load(buffer + offset, total - offset, m_arena) == kVarLoadFailed)
                return kVarLoadFailed;
        }
        m_items = items;
        m_count = m_capacity = count;
        return total;
    }

    uint32_t Save(uint8_t* buffer) const override {
        if (m_count == 0) {
            if (buffer) std::memset(buffer, 0, 4);
            return 4;
        }
        uint64_t at = 8 + uint64_t(4) * m_count;
        for (uint32_t i = 0; i < m_count; ++i) {
            if (buffer) {
                const uint32_t offset = uint32_t(at);
                std::memcpy(buffer + 8 + 4 * uint64_t(i), &offset, 4);
                m_items[i]->Save(buffer + at);
            }
            at += m_items[i]->Save(nullptr);
        }
        if (buffer) {
            const uint32_t total = uint32_t(at), table = 4 * m_count;
            std::memcpy(buffer, &total, 4);
            std::memcpy(buffer + 4, &table, 4);
        }
        return uint32_t(at);
    }

    void Reset() override {
        m_items = nullptr;
        m_count = m_capacity = 0;
    }

    // A new record at the end, reset; null when memory runs out. The table
    // of records doubles when full: the arena keeps every table it gave out
    // until FreeAll, so growing it by one each time would hold the square of
    // the count.
    T* Append() {
        if (m_count == UINT32_MAX) return nullptr;
        void* place = m_arena->Alloc(sizeof(T));
        if (!place) return nullptr;
        if (m_count == m_capacity) {
            const uint32_t capacity = m_capacity > UINT32_MAX / 2 ? UINT32_MAX
                                      : m_capacity                ? m_capacity * 2
                                                                  : 4;
            auto** items = static_cast<T**>(m_arena->Alloc(size_t(capacity) * sizeof(T*)));
            if (!items) return nullptr;
            if (m_count) std::memcpy(items, m_items, m_count * sizeof(T*));
            m_items = items;
            m_capacity = capacity;
        }
        m_items[m_count] = new (place) T(m_arena);
        m_items[m_count]->Reset();
        return m_items[m_count++];
    }
    uint32_t GetCount() const { return m_count; }
    T* GetAt(uint32_t i) const { return i < m_count ? m_items[i] : nullptr; }

private:
    n_porting::t_heap* m_arena;
    T** m_items = nullptr;
    uint32_t m_count = 0;
    uint32_t m_capacity = 0;
};

}  // namespace n_userenv
