// The engine's result objects: candidate elements, candidate lists, the word
// buffer that merges a committed word, custom-phrase and quick-input lists,
// and the fills of an element from a kernel record or from raw values.
// One thread at a time (the front end's main thread); an element built on
// another thread is touched here only after it has been handed over.
#pragma once

#include <cstddef>
#include <cstdint>
#include <new>
#include <type_traits>

#include "kernel/runtime/cand_word.h"
#include "kernel/runtime/lstr.h"
#include "src/engine/engine_iface.h"

namespace n_engine {

// Fixed rooms of an element, which the front end indexes.
inline constexpr uint32_t kInputEndRoom = 64;      // entries of the input-end table
inline constexpr uint32_t kPinyinRoomBytes = 128;  // the pinyin ids with their 2-byte count
inline constexpr uint32_t kPinyinMaxIds = (kPinyinRoomBytes - kLstrHeaderBytes) / 2;  // 63
// A growable array never grows beyond this many entries.
inline constexpr int32_t kArrayMaxCapacity = 0x0FFFFFFF;

// The spelling of a pinyin id (a syllable or a letter); null when unknown.
// The engine installs the kernel's once it runs; until then, and for ids
// without spelling, GetPinyinText leaves the id out.
using t_spellingFn = const t_lstr* (*)(int32_t id);
void SetPinyinSpellingSource(t_spellingFn fn);

// The block allocator of the growable arrays; tests install one that fails
// to see a refused append. Returns the one it replaces.
using t_reallocFn = void* (*)(void* block, size_t bytes);
t_reallocFn SetArrayReallocator(t_reallocFn fn);

// An array of plain items that doubles as it grows (from 1), up to
// kArrayMaxCapacity. Append returns false, storing nothing, when it cannot
// grow. The owner releases what the items point to.
template <class T>
class t_growableArray {
    static_assert(std::is_trivially_copyable_v<T>, "items move with realloc");

public:
    t_growableArray() = default;
    t_growableArray(const t_growableArray&) = delete;
    t_growableArray& operator=(const t_growableArray&) = delete;
    ~t_growableArray();

    bool Append(const T& item);
    int32_t Count() const { return m_count; }
    T& operator[](int32_t i) { return m_items[i]; }
    const T& operator[](int32_t i) const { return m_items[i]; }
    void Shrink(int32_t count) { m_count = count < m_count ? (count < 0 ? 0 : count) : m_count; }

private:
    T* m_items = nullptr;
    int32_t m_count = 0;
    int32_t m_capacity = 0;
};

// The block allocator of the growable arrays (realloc unless replaced).
void* ArrayReallocate(void* block, size_t bytes);
void ArrayFree(void* block);

template <class T>
t_growableArray<T>::~t_growableArray() {
    ArrayFree(m_items);
}

template <class T>
bool t_growableArray<T>::Append(const T& item) {
    if (m_count == m_capacity) {
        const int64_t capacity = m_count ? int64_t(m_count) * 2 : 1;
        if (capacity > kArrayMaxCapacity) return false;
        void* block = ArrayReallocate(m_items, size_t(capacity) * sizeof(T));
        if (!block) return false;
        m_items = static_cast<T*>(block);
        m_capacity = int32_t(capacity);
    }
    m_items[m_count++] = item;
    return true;
}

// A reference-counted list of elements, born with the count 1 (Create).
// Each element is held with one reference, released with the list. Append
// takes over the caller's reference only when it returns true (false for
// null or when the list cannot grow); it overrides the interface's Append
// where the interface has one.
template <class Interface, class Element>
class t_elementList final : public Interface {
public:
    static t_elementList* Create() { return new (std::nothrow) t_elementList(); }

    int32_t AddRef() override { return ++m_refCount; }
    int32_t Release() override {
        const int32_t count = --m_refCount;
        if (count == 0) delete this;
        return count;
    }
    int32_t GetCount() const override { return m_items.Count(); }
    Element* GetElement(int32_t i) const override {
        return i >= 0 && i < m_items.Count() ? m_items[i] : nullptr;
    }
    bool Append(Element* element) { return element && m_items.Append(element); }

private:
    t_elementList() = default;
    ~t_elementList() {
        for (int32_t i = 0; i < m_items.Count(); ++i)
            if (m_items[i]) m_items[i]->Release();
    }

    int32_t m_refCount = 1;
    t_growableArray<Element*> m_items;
};

struct t_elementValues;

// One candidate. Born with the count 1 (Create), empty: no text, has-pinyin
// set, no pinyin, no input ends.
class CVetraCoreResultElement final : public IVetraCoreResultElement {
public:
    static CVetraCoreResultElement* Create();  // null when out of memory

    int32_t AddRef() override { return ++m_refCount; }
    int32_t Release() override;
    const char* GetText() const override { return m_text; }
    uint32_t GetLength() const override { return m_length; }
    uint32_t GetInputLength() const override { return m_inputLength; }
    uint32_t GetInputEndCount() const override { return m_inputEndCount; }
    int32_t GetInputEnd(int32_t i) const override;
    const char* GetDisplayText() const override { return m_displayText ? m_displayText : m_text; }
    // Cuts the text and the display text at character n (both must have more
    // than n characters); the length becomes n, the input length the input
    // end of character n - 1 (0 for n = 0; unchanged when the table has no
    // such entry), the input ends and pinyin ids their first n.
    bool Truncate(uint32_t n) override;
    char* GetPinyinText() const override;

    bool HasPinyin() const { return m_hasPinyin; }
    // The pinyin ids as a length-prefixed string inside the 128-byte room.
    const t_lstr* GetPinyin() const { return reinterpret_cast<const t_lstr*>(m_pinyin); }
    uint32_t GetPinyinBytes() const { return LstrGetByteLength(GetPinyin()); }
    // Own display text, without the fallback to the text.
    const char* GetOwnDisplayText() const { return m_displayText; }

private:
    friend class CVetraCoreWordBuffer;
    friend CVetraCoreResultElement* NewElementFromRecord(const t_candWord& record);
    friend CVetraCoreResultElement* NewElementFromValues(const t_elementValues& values);
    friend CVetraCoreResultElement* NewUnconvertedElement(const char* text,
                                                          int32_t (*letterId)(uint32_t));

    CVetraCoreResultElement() = default;
    ~CVetraCoreResultElement();
    // The ids when they fit the room, else none; has-pinyin follows.
    void SetPinyin(const uint16_t* ids, uint32_t count);
    void SetPinyinBytes(uint32_t bytes);

    int32_t m_refCount = 1;
    bool m_hasPinyin = true;
    char* m_text = nullptr;         // malloc'd UTF-8
    char* m_displayText = nullptr;  // malloc'd UTF-8 or null
    uint32_t m_length = 0;          // UTF-16 units
    uint32_t m_inputLength = 0;
    uint32_t m_inputEndCount = 0;
    int8_t m_inputEnds[kInputEndRoom] = {};
    alignas(2) uint8_t m_pinyin[kPinyinRoomBytes] = {};  // u16 byte count, then the ids
};

// An element for a kernel candidate record: its text, display text, covered
// input, input ends (the low byte of each segment-list entry, only when the
// list has at most 64 entries) and pinyin ids (only when they fit). Null
// when the record has no text or its text does not convert to UTF-8.
CVetraCoreResultElement* NewElementFromRecord(const t_candWord& record);

// Raw values of an element (a cloud answer, a text that was not converted).
struct t_elementValues {
    const char16_t* text = nullptr;
    uint32_t textUnits = 0;
    const char16_t* displayText = nullptr;  // null: none
    uint32_t displayUnits = 0;
    const uint16_t* pinyin = nullptr;  // null: none
    uint32_t pinyinCount = 0;
    const int8_t* inputEnds = nullptr;  // null: none
    uint32_t inputEndCount = 0;
    uint32_t inputLength = 0;
};
// Null for no text or a text that does not convert; pinyin only when it fits
// the room and input ends only when they fit the table (else none).
CVetraCoreResultElement* NewElementFromValues(const t_elementValues& values);

// An element for text that was not converted: the text itself, input length
// 0, no input ends, and one letter id per byte as pinyin when every byte has
// one (letterId gives -1 for none) and they fit the room. Null for a null or
// empty text or one that is not UTF-8.
using t_letterIdFn = int32_t (*)(uint32_t ch);
CVetraCoreResultElement* NewUnconvertedElement(const char* text, t_letterIdFn letterId);

// A candidate list.
using CVetraCoreResult = t_elementList<IVetraCoreResult, IVetraCoreResultElement>;

// The list of the kernel's n records in their order; records that give no
// element are left out. Null when none gives one.
CVetraCoreResult* NewResultFromRecords(const t_candWord* const* records, int32_t n);

// The word buffer. Each appended element is held with its own reference;
// the merged word is the element the element slots answer for.
class CVetraCoreWordBuffer final : public IVetraCoreWordBuffer {
public:
    static CVetraCoreWordBuffer* Create();

    int32_t AddRef() override { return ++m_refCount; }
    int32_t Release() override;
    const char* GetText() const override { return m_merged ? m_merged->GetText() : nullptr; }
    uint32_t GetLength() const override { return m_merged ? m_merged->GetLength() : 0; }
    uint32_t GetInputLength() const override { return m_merged ? m_merged->GetInputLength() : 0; }
    uint32_t GetInputEndCount() const override {
        return m_merged ? m_merged->GetInputEndCount() : 0;
    }
    int32_t GetInputEnd(int32_t i) const override {
        return m_merged ? m_merged->GetInputEnd(i) : -1;
    }
    const char* GetDisplayText() const override {
        return m_merged ? m_merged->GetDisplayText() : nullptr;
    }
    bool Truncate(uint32_t n) override;
    char* GetPinyinText() const override { return m_merged ? m_merged->GetPinyinText() : nullptr; }
    bool Append(IVetraCoreResultElement* element) override;
    void ClearElements() override;
    void RemoveLast() override;

    const CVetraCoreResultElement* GetMerged() const { return m_merged; }
    int32_t GetElementCount() const { return m_parts.Count(); }

private:
    // An appended element and what its merge added beyond its text and
    // length (these depend on the merged state at the time), so that taking
    // it off again undoes exactly that.
    struct t_part {
        IVetraCoreResultElement* element;
        uint32_t inputLength;
        uint32_t inputEnds;
        uint32_t pinyinBytes;
        bool froze;  // its input ends did not fit: the tables stopped at it
    };

    CVetraCoreWordBuffer() = default;
    ~CVetraCoreWordBuffer();

    int32_t m_refCount = 1;
    CVetraCoreResultElement* m_merged = nullptr;
    t_growableArray<t_part> m_parts;
    // The merged input ends and ids stop at the first element that does not
    // fit, so that they keep describing the word's leading characters.
    bool m_frozen = false;
};

// One custom phrase.
class CVetraCoreAbbrElement final : public IVetraCoreAbbrElement {
public:
    static CVetraCoreAbbrElement* Create();

    int32_t AddRef() override { return ++m_refCount; }
    int32_t Release() override;
    const char* GetKey() const override { return m_key; }
    uint32_t GetKeyLength() const override { return m_keyLength; }
    const char* GetPhrase() const override { return m_phrase; }
    uint32_t GetPhraseLength() const override { return m_phraseLength; }
    uint16_t GetPosition() const override { return m_position; }
    bool SetStrings(const char* key, const char* phrase, int32_t position) override;

private:
    CVetraCoreAbbrElement() = default;
    ~CVetraCoreAbbrElement();

    int32_t m_refCount = 1;
    char* m_key = nullptr;
    char* m_phrase = nullptr;
    uint32_t m_keyLength = 0;
    uint32_t m_phraseLength = 0;
    uint16_t m_position = 0;
};

using CVetraCoreAbbrResult = t_elementList<IVetraCoreAbbrResult, IVetraCoreAbbrElement>;

// One quick-input entry; values -1 and texts null until Set.
class CVetraCoreQuickInputElement final : public IVetraCoreQuickInputElement {
public:
    static CVetraCoreQuickInputElement* Create();

    int32_t AddRef() override { return ++m_refCount; }
    int32_t Release() override;
    const char* GetText1() const override { return m_texts[0]; }
    const char* GetText2() const override { return m_texts[1]; }
    const char* GetText3() const override { return m_texts[2]; }
    int32_t GetValue1() const override { return m_values[0]; }
    int32_t GetValue2() const override { return m_values[1]; }
    int32_t GetValue3() const override { return m_values[2]; }
    // Copies the three texts (null stays null); false, nothing changed, when
    // out of memory.
    bool Set(const int16_t values[3], const char* const texts[3]);

private:
    CVetraCoreQuickInputElement() = default;
    ~CVetraCoreQuickInputElement();

    int32_t m_refCount = 1;
    int16_t m_values[3] = {-1, -1, -1};
    char* m_texts[3] = {nullptr, nullptr, nullptr};
};

using CVetraCoreQuickInputResult =
    t_elementList<IVetraCoreQuickInputResult, IVetraCoreQuickInputElement>;

}  // namespace n_engine
