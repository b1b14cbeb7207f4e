// The result objects: reference counts, the element fills, the word buffer's
// merge, and the lists. One thread at a time.
#include "src/engine/results.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>

#include "porting3/str16.h"
#include "src/engine/utf_helpers.h"

namespace n_engine {
namespace {

t_spellingFn g_spelling = nullptr;
t_reallocFn g_realloc = std::realloc;

uint32_t SubtractToZero(uint32_t a, uint32_t b) {
    return a > b ? a - b : 0;
}

// UTF-8 of n 16-bit units (which may sit unaligned in a record): null for no
// units or a text that does not convert.
char* Utf8Of(const void* units, uint32_t n) {
    if (!units || n == 0) return nullptr;
    std::u16string text(n, u'\0');
    std::memcpy(text.data(), units, size_t(n) * 2);
    return n_porting::Str16NToUtf8Alloc(text.data(), n);
}

char* CopyText(const char* text) {
    if (!text) return nullptr;
    const size_t n = std::strlen(text) + 1;
    char* copy = static_cast<char*>(std::malloc(n));
    if (copy) std::memcpy(copy, text, n);
    return copy;
}

// The concrete element behind an appended one: a word buffer stands for its
// merged word; an element of another implementation has none.
const CVetraCoreResultElement* ConcreteOf(const IVetraCoreResultElement* element) {
    if (auto* e = dynamic_cast<const CVetraCoreResultElement*>(element)) return e;
    if (auto* b = dynamic_cast<const CVetraCoreWordBuffer*>(element)) return b->GetMerged();
    return nullptr;
}

}  // namespace

void SetPinyinSpellingSource(t_spellingFn fn) {
    g_spelling = fn;
}

t_reallocFn SetArrayReallocator(t_reallocFn fn) {
    const t_reallocFn previous = g_realloc;
    g_realloc = fn ? fn : std::realloc;
    return previous;
}

void* ArrayReallocate(void* block, size_t bytes) {
    return g_realloc(block, bytes);
}

void ArrayFree(void* block) {
    std::free(block);
}

// ---- the element ----

CVetraCoreResultElement* CVetraCoreResultElement::Create() {
    return new (std::nothrow) CVetraCoreResultElement();
}

CVetraCoreResultElement::~CVetraCoreResultElement() {
    std::free(m_text);
    std::free(m_displayText);
}

int32_t CVetraCoreResultElement::Release() {
    const int32_t count = --m_refCount;
    if (count == 0) delete this;
    return count;
}

int32_t CVetraCoreResultElement::GetInputEnd(int32_t i) const {
    if (i < 0 || uint32_t(i) >= m_length || uint32_t(i) >= m_inputEndCount ||
        uint32_t(i) >= kInputEndRoom)
        return -1;
    return m_inputEnds[i];
}

void CVetraCoreResultElement::SetPinyin(const uint16_t* ids, uint32_t count) {
    t_lstr* room = reinterpret_cast<t_lstr*>(m_pinyin);
    const uint32_t n = ids && count <= kPinyinMaxIds ? count : 0;
    if (n) std::memcpy(LstrGetBytes(room), ids, size_t(n) * 2);
    LstrSetByteLength(room, uint16_t(n * 2));
    m_hasPinyin = n != 0;
}

void CVetraCoreResultElement::SetPinyinBytes(uint32_t bytes) {
    LstrSetByteLength(reinterpret_cast<t_lstr*>(m_pinyin),
                      uint16_t(std::min(bytes, kPinyinRoomBytes - 2)));
}

bool CVetraCoreResultElement::Truncate(uint32_t n) {
    if (!m_text || n > uint32_t(INT32_MAX)) return false;
    const size_t at = size_t(Utf8CharOffset(m_text, int(n)));
    if (at >= std::strlen(m_text)) return false;
    size_t displayAt = 0;
    if (m_displayText) {
        displayAt = size_t(Utf8CharOffset(m_displayText, int(n)));
        if (displayAt >= std::strlen(m_displayText)) return false;
    }
    // An entry past the table would give -1, which as a length would let
    // the front end index far past the typed input: keep the length then.
    const int32_t end = n ? GetInputEnd(int32_t(n) - 1) : 0;
    m_text[at] = 0;
    if (m_displayText) m_displayText[displayAt] = 0;
    m_length = n;
    if (end >= 0) m_inputLength = uint32_t(end);
    m_inputEndCount = std::min(m_inputEndCount, n);
    SetPinyinBytes(std::min(GetPinyinBytes(), 2 * n));
    return true;
}

char* CVetraCoreResultElement::GetPinyinText() const {
    const uint32_t count = GetPinyinBytes() / 2;
    std::string text = "[";
    for (uint32_t i = 0; i < count; ++i) {
        const t_lstr* spelling = g_spelling ? g_spelling(LstrGetUnit(GetPinyin(), i)) : nullptr;
        if (!spelling) continue;
        for (uint32_t k = 0; k < LstrGetLength(spelling); ++k) {
            const uint16_t unit = LstrGetUnit(spelling, k);
            text += unit < 0x80 ? char(unit) : '?';  // spellings are letters
        }
        text += '\'';
    }
    if (text.back() == '\'')
        text.back() = ']';
    else
        text += ']';
    return CopyText(text.c_str());
}

// ---- the fills ----

CVetraCoreResultElement* NewElementFromRecord(const t_candWord& record) {
    const uint32_t units = LstrGetLength(record.text);
    char* text = Utf8Of(LstrGetBytes(record.text), units);
    if (!text) return nullptr;
    CVetraCoreResultElement* e = CVetraCoreResultElement::Create();
    if (!e) {
        std::free(text);
        return nullptr;
    }
    e->m_text = text;
    e->m_displayText = Utf8Of(LstrGetBytes(record.secondText), LstrGetLength(record.secondText));
    e->m_length = units;
    e->m_inputLength = record.coveredLength;
    // A list longer than the table (a fixed-first word may carry any text
    // there) gives no input ends at all rather than a cut one.
    const uint32_t ends = LstrGetLength(record.segmentList);
    if (ends <= kInputEndRoom) {
        for (uint32_t k = 0; k < ends; ++k)
            e->m_inputEnds[k] = int8_t(LstrGetUnit(record.segmentList, k) & 0xFF);
        e->m_inputEndCount = ends;
    }
    const uint32_t ids = LstrGetLength(record.syllableIds);
    uint16_t buffer[kPinyinMaxIds];
    if (ids <= kPinyinMaxIds && ids)
        std::memcpy(buffer, LstrGetBytes(record.syllableIds), size_t(ids) * 2);
    e->SetPinyin(ids <= kPinyinMaxIds ? buffer : nullptr, ids);
    return e;
}

CVetraCoreResultElement* NewElementFromValues(const t_elementValues& values) {
    char* text = Utf8Of(values.text, values.textUnits);
    if (!text) return nullptr;
    CVetraCoreResultElement* e = CVetraCoreResultElement::Create();
    if (!e) {
        std::free(text);
        return nullptr;
    }
    e->m_text = text;
    e->m_displayText = Utf8Of(values.displayText, values.displayUnits);
    e->m_length = values.textUnits;
    e->m_inputLength = values.inputLength;
    if (values.inputEnds && values.inputEndCount <= kInputEndRoom) {
        std::memcpy(e->m_inputEnds, values.inputEnds, values.inputEndCount);
        e->m_inputEndCount = values.inputEndCount;
    }
    e->SetPinyin(values.pinyin, values.pinyinCount);
    return e;
}

CVetraCoreResultElement* NewUnconvertedElement(const char* text, t_letterIdFn letterId) {
    if (!text || !*text) return nullptr;
    char16_t* units = n_porting::Utf8ToStr16Alloc(text);
    if (!units) return nullptr;
    const size_t n = n_porting::WcsLen16(units);
    char* utf8 = n_porting::Str16NToUtf8Alloc(units, n);
    std::free(units);
    CVetraCoreResultElement* e = utf8 ? CVetraCoreResultElement::Create() : nullptr;
    if (!e) {
        std::free(utf8);
        return nullptr;
    }
    e->m_text = utf8;
    e->m_length = uint32_t(n);
    // One letter id per byte, all or none: 64 letters do not fit the room.
    const size_t bytes = std::strlen(text);
    uint16_t ids[kPinyinMaxIds];
    bool all = letterId && bytes <= kPinyinMaxIds;
    for (size_t i = 0; all && i < bytes; ++i) {
        const int32_t id = letterId(uint8_t(text[i]));
        all = id >= 0 && id <= 0xFFFF;
        if (all) ids[i] = uint16_t(id);
    }
    e->SetPinyin(all ? ids : nullptr, all ? uint32_t(bytes) : 0);
    return e;
}

// ---- the candidate list ----

CVetraCoreResult* NewResultFromRecords(const t_candWord* const* records, int32_t n) {
    if (!records || n < 1) return nullptr;
    CVetraCoreResult* result = CVetraCoreResult::Create();
    if (!result) return nullptr;
    for (int32_t i = 0; i < n; ++i) {
        // A record whose text does not convert is left out; the others stay.
        CVetraCoreResultElement* e = records[i] ? NewElementFromRecord(*records[i]) : nullptr;
        if (e && !result->Append(e)) e->Release();
    }
    if (result->GetCount() == 0) {
        result->Release();
        return nullptr;
    }
    return result;
}

// ---- the word buffer ----

CVetraCoreWordBuffer* CVetraCoreWordBuffer::Create() {
    return new (std::nothrow) CVetraCoreWordBuffer();
}

CVetraCoreWordBuffer::~CVetraCoreWordBuffer() {
    ClearElements();
}

int32_t CVetraCoreWordBuffer::Release() {
    const int32_t count = --m_refCount;
    if (count == 0) delete this;
    return count;
}

bool CVetraCoreWordBuffer::Append(IVetraCoreResultElement* element) {
    if (!element || element == this) return false;
    if (!m_merged && !(m_merged = CVetraCoreResultElement::Create())) return false;
    CVetraCoreResultElement& m = *m_merged;

    // Everything that can fail comes before the first change.
    char* joined = nullptr;
    if (const char* text = element->GetText()) {
        const size_t had = m.m_text ? std::strlen(m.m_text) : 0;
        const size_t add = std::strlen(text);
        if (!(joined = static_cast<char*>(std::malloc(had + add + 1)))) return false;
        if (had) std::memcpy(joined, m.m_text, had);
        std::memcpy(joined + had, text, add + 1);
    }
    t_part part = {element, 0, 0, 0, false};
    if (!m_parts.Append(part)) {
        std::free(joined);
        return false;
    }
    element->AddRef();

    const CVetraCoreResultElement* e = ConcreteOf(element);
    m.m_hasPinyin = m.m_hasPinyin && e && e->m_hasPinyin;
    if (joined) {
        std::free(m.m_text);
        m.m_text = joined;
    }
    m.m_length += element->GetLength();
    // Without pinyin the input ends and ids would no longer match the text:
    // from then on only the text grows.
    if (m.m_hasPinyin) {
        part.inputLength = e->m_inputLength;
        m.m_inputLength += part.inputLength;
        if (!m_frozen && m.m_inputEndCount + e->m_inputEndCount > kInputEndRoom - 1)
            m_frozen = part.froze = true;
        if (!m_frozen) {
            const int32_t base = m.m_inputEndCount ? m.m_inputEnds[m.m_inputEndCount - 1] : 0;
            for (uint32_t k = 0; k < e->m_inputEndCount; ++k)
                m.m_inputEnds[m.m_inputEndCount++] =
                    int8_t(std::clamp(base + e->m_inputEnds[k], 0, INT8_MAX));
            part.inputEnds = e->m_inputEndCount;
            const uint32_t have = m.GetPinyinBytes();
            const uint32_t add = e->GetPinyinBytes();
            if (have + add + kLstrHeaderBytes <= kPinyinRoomBytes) {
                std::memcpy(m.m_pinyin + kLstrHeaderBytes + have, e->m_pinyin + kLstrHeaderBytes,
                            add);
                m.SetPinyinBytes(have + add);
                part.pinyinBytes = add;
            }
        }
    }
    m_parts[m_parts.Count() - 1] = part;
    return true;
}

void CVetraCoreWordBuffer::RemoveLast() {
    const int32_t n = m_parts.Count();
    if (n == 0) return;
    const t_part part = m_parts[n - 1];
    const char* text = part.element->GetText();
    if (m_merged && m_merged->m_text && text) {
        const size_t had = std::strlen(m_merged->m_text);
        const size_t cut = std::strlen(text);
        if (cut <= had) {
            CVetraCoreResultElement& m = *m_merged;
            m.m_text[had - cut] = 0;
            m.m_length = SubtractToZero(m.m_length, part.element->GetLength());
            m.m_inputLength = SubtractToZero(m.m_inputLength, part.inputLength);
            m.m_inputEndCount = SubtractToZero(m.m_inputEndCount, part.inputEnds);
            m.SetPinyinBytes(SubtractToZero(m.GetPinyinBytes(), part.pinyinBytes));
        }
    }
    if (part.froze) m_frozen = false;
    m_parts.Shrink(n - 1);
    part.element->Release();
}

bool CVetraCoreWordBuffer::Truncate(uint32_t n) {
    if (!m_merged || m_parts.Count() == 0) return false;
    uint64_t sum = 0;
    int32_t k = 0;
    for (; k < m_parts.Count(); ++k) {
        sum += m_parts[k].element->GetLength();
        if (sum >= n) break;
    }
    if (k == m_parts.Count()) return false;
    m_merged->Truncate(n);
    t_part& part = m_parts[k];
    part.element->Truncate(uint32_t(part.element->GetLength() - (sum - n)));
    // What the cut element still stands for in the merged word.
    part.inputLength = std::min(part.inputLength, part.element->GetInputLength());
    part.inputEnds = std::min(part.inputEnds, part.element->GetInputEndCount());
    const CVetraCoreResultElement* e = ConcreteOf(part.element);
    part.pinyinBytes = std::min(part.pinyinBytes, e ? e->GetPinyinBytes() : 0);
    for (int32_t j = m_parts.Count() - 1; j > k; --j) {
        IVetraCoreResultElement* later = m_parts[j].element;
        if (m_parts[j].froze) m_frozen = false;
        m_parts.Shrink(j);
        later->Release();
    }
    return true;
}

void CVetraCoreWordBuffer::ClearElements() {
    if (m_merged) m_merged->Release();
    m_merged = nullptr;
    m_frozen = false;
    for (int32_t j = m_parts.Count() - 1; j >= 0; --j) {
        IVetraCoreResultElement* element = m_parts[j].element;
        m_parts.Shrink(j);
        element->Release();
    }
}

// ---- custom phrases ----

CVetraCoreAbbrElement* CVetraCoreAbbrElement::Create() {
    return new (std::nothrow) CVetraCoreAbbrElement();
}

CVetraCoreAbbrElement::~CVetraCoreAbbrElement() {
    std::free(m_key);
    std::free(m_phrase);
}

int32_t CVetraCoreAbbrElement::Release() {
    const int32_t count = --m_refCount;
    if (count == 0) delete this;
    return count;
}

bool CVetraCoreAbbrElement::SetStrings(const char* key, const char* phrase, int32_t position) {
    if (!key || !phrase) return false;
    char* k = CopyText(key);
    char* p = CopyText(phrase);
    if (!k || !p) {
        std::free(k);
        std::free(p);
        return false;
    }
    std::free(m_key);
    std::free(m_phrase);
    m_key = k;
    m_phrase = p;
    m_keyLength = uint32_t(std::strlen(k));
    m_phraseLength = uint32_t(std::strlen(p));
    m_position = uint16_t(position);
    return true;
}

// ---- quick input ----

CVetraCoreQuickInputElement* CVetraCoreQuickInputElement::Create() {
    return new (std::nothrow) CVetraCoreQuickInputElement();
}

CVetraCoreQuickInputElement::~CVetraCoreQuickInputElement() {
    for (char* text : m_texts) std::free(text);
}

int32_t CVetraCoreQuickInputElement::Release() {
    const int32_t count = --m_refCount;
    if (count == 0) delete this;
    return count;
}

bool CVetraCoreQuickInputElement::Set(const int16_t values[3], const char* const texts[3]) {
    char* copies[3] = {};
    for (int i = 0; i < 3; ++i) {
        if (texts[i] && !(copies[i] = CopyText(texts[i]))) {
            for (char* copy : copies) std::free(copy);
            return false;
        }
    }
    for (int i = 0; i < 3; ++i) {
        std::free(m_texts[i]);
        m_texts[i] = copies[i];
        m_values[i] = values[i];
    }
    return true;
}

}  // namespace n_engine
