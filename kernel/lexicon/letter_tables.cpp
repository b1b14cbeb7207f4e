// Letter trigrams, the word reading table and tone-marked syllables.
#include "kernel/lexicon/letter_tables.h"

#include <cstring>
#include <cwchar>

#include "kernel/lexicon/syllable_table.h"
#include "kernel/runtime/text_file.h"

namespace {

bool IsLower(wchar_t c) {
    return c >= L'a' && c <= L'z';
}

}  // namespace

// ---------------------------------------------------------------------------
// Letter trigrams.

bool LetterTrigramExists(wchar_t a, wchar_t b, wchar_t c) {
    if (!IsLower(a) || !IsLower(b) || !IsLower(c)) return false;
    return (kLetterTrigramBits[size_t(a - L'a') * 32 + size_t(c - L'a')] >> (b - L'a')) & 1u;
}

void LetterTrigramMiddleIterInit(t_letterTrigramIter* iter, wchar_t a, wchar_t c) {
    if (!iter) return;
    iter->next = 0;
    iter->bits = (IsLower(a) && IsLower(c))
                     ? kLetterTrigramBits[size_t(a - L'a') * 32 + size_t(c - L'a')] & 0x3FFFFFFu
                     : 0;
}

wchar_t LetterTrigramMiddleIterNext(t_letterTrigramIter* iter) {
    if (!iter) return 0;
    while (iter->next < 26) {
        const int b = iter->next++;
        if ((iter->bits >> b) & 1u) return wchar_t(L'a' + b);
    }
    return 0;
}

void LetterTrigramThirdIterInit(t_letterTrigramIter* iter, wchar_t a, wchar_t b) {
    if (!iter) return;
    iter->next = 0;
    iter->bits = 0;
    if (!IsLower(a) || !IsLower(b)) {
        iter->next = 26;
        return;
    }
    const uint32_t* row = kLetterTrigramBits + size_t(a - L'a') * 32;
    for (int c = 0; c < 26; ++c)
        if ((row[c] >> (b - L'a')) & 1u) iter->bits |= 1u << c;
}

wchar_t LetterTrigramThirdIterNext(t_letterTrigramIter* iter) {
    return LetterTrigramMiddleIterNext(iter);  // same walk over a bit set
}

bool LetterTrigramBuildFromFile(const wchar_t* path, uint32_t* table) {
    if (!table) return false;
    std::memset(table, 0, kLetterTrigramWords * sizeof(uint32_t));
    if (!path) return false;
    t_textFile file;
    if (!file.Open(path, 1, kTextGbk)) return false;
    wchar_t line[40];
    while (file.ReadLineAnyBreak(line, 33)) {
        if (std::wcslen(line) != 3 || !IsLower(line[0]) || !IsLower(line[1]) || !IsLower(line[2]))
            return false;
        table[size_t(line[0] - L'a') * 32 + size_t(line[2] - L'a')] |= 1u << (line[1] - L'a');
    }
    return true;
}

// ---------------------------------------------------------------------------
// Word reading table.

t_wordReadingTable* t_wordReadingTable::GetInstance() {
    static t_wordReadingTable table(kWordReadingRows, kWordReadingRowCount);
    return &table;
}

t_wordReadingTable::t_wordReadingTable(const t_wordReadingRow* rows, int count)
    : m_rows(rows), m_count(rows && count > 0 ? count : 0) {
    for (int i = 0; i < m_count; ++i) {
        const t_wordReadingRow& row = m_rows[i];
        if (row.n < 1 || row.n > 4) continue;
        uint32_t index = 0, bit = 0;
        MaskPlace(row.ids, row.n, &index, &bit);
        m_mask[index] |= bit;
    }
}

void t_wordReadingTable::MaskPlace(const uint16_t* ids, int n, uint32_t* index, uint32_t* bit) {
    uint32_t r = 0;
    if (n == 2) r = ids[1] & 31u;
    if (n >= 3) r = uint32_t(int32_t(ids[1]) + int32_t(int16_t(ids[2]))) & 31u;
    *index = (r + (uint32_t(ids[0]) << 5)) & 511u;
    *bit = 1u << (((ids[0] & 31u) - 1u) & 31u);
}

bool t_wordReadingTable::TestMask(const uint16_t* ids, int n) const {
    uint32_t index = 0, bit = 0;
    MaskPlace(ids, n, &index, &bit);
    return (m_mask[index] & bit) != 0;
}

int t_wordReadingTable::Compare(const uint16_t* a, int na, const uint16_t* b, int nb) {
    if (na == 0 || nb == 0) return na - nb;
    const int shorter = na < nb ? na : nb;
    for (int i = 0; i < shorter; ++i)
        if (a[i] != b[i]) return int(int16_t(a[i])) - int(int16_t(b[i]));
    return na - nb;
}

int t_wordReadingTable::Find(const uint16_t* ids, int n, const t_wordReadingRow** out) const {
    if (!out) return 1;
    *out = nullptr;
    if (!ids || n < 1 || n > 4 || !TestMask(ids, n)) return 1;
    int lo = 0, hi = m_count - 1;
    while (lo <= hi) {
        const int mid = lo + (hi - lo) / 2;
        const t_wordReadingRow& row = m_rows[mid];
        const int c = Compare(ids, n, row.ids, row.n);
        if (c == 0) {
            *out = &row;
            return 1;
        }
        if (c < 0)
            hi = mid - 1;
        else
            lo = mid + 1;
    }
    return 1;
}

// ---------------------------------------------------------------------------
// Tone-marked syllables.

namespace {

constexpr const wchar_t* kToneRows[5] = {L"aeiouv", L"āēīōūǖ", L"áéíóúǘ", L"ǎěǐǒǔǚ", L"àèìòùǜ"};
constexpr wchar_t kUmlautU = L'\u00FC';

int VowelIndex(wchar_t c) {
    const wchar_t* p = std::wcschr(kToneRows[0], c);
    return (p && c) ? int(p - kToneRows[0]) : -1;
}

}  // namespace

int PinyinSpellWithTone(int id, int tone, wchar_t* out) {
    if (!out) return 0;
    out[0] = 0;
    const wchar_t* text = SyllableTableText(id);
    if (!text) return 0;
    const size_t len = std::wcslen(text);
    if (len >= kToneSpellCapacity) return 0;

    int chosen = -1;     // position of the vowel to mark
    bool final = false;  // the choice can no longer move
    for (size_t i = 0; i < len; ++i) {
        const wchar_t c = text[i];
        out[i] = c;
        if (final) continue;
        switch (c) {
            case L'a':
            case L'o':
                chosen = int(i);
                final = true;
                break;
            case L'v':
                // ü followed by e marks the e, as in üe.
                if (i + 1 < len && text[i + 1] == L'e') break;
                chosen = int(i);
                final = true;
                break;
            case L'e':
                chosen = int(i);
                final = true;
                if (i >= 1 && text[i - 1] == L'u' &&
                    !(i >= 2 && std::wcschr(L"jqxy", text[i - 2]) && text[i - 2]))
                    out[i - 1] = kUmlautU;
                break;
            case L'i':
            case L'u':
                if (chosen >= 0 && (text[chosen] == L'i' || text[chosen] == L'u')) final = true;
                chosen = int(i);
                break;
            default:
                break;
        }
    }
    out[len] = 0;
    if (tone >= 1 && tone <= 4 && chosen >= 0) {
        const int k = VowelIndex(text[chosen]);
        if (k >= 0) out[chosen] = kToneRows[tone][k];
    }
    // The tables spell ü as v; the text shown is the real letter.
    for (size_t i = 0; i < len; ++i)
        if (out[i] == L'v') out[i] = kUmlautU;
    return 1;
}

int PinyinParseWithTone(const wchar_t* text, int16_t* id, uint8_t* tone) {
    if (!text || !id || !tone) return 0;
    wchar_t plain[8];
    size_t n = 0;
    int marked = 0;
    for (const wchar_t* p = text; *p; ++p) {
        if (n >= 7) return 0;
        wchar_t c = *p;
        int rowFound = 0;
        for (int row = 1; row <= 4 && !rowFound; ++row) {
            const wchar_t* at = std::wcschr(kToneRows[row], c);
            if (at && c) {
                rowFound = row;
                c = kToneRows[0][at - kToneRows[row]];
            }
        }
        if (rowFound) {
            if (marked) return 0;
            marked = rowFound;
        } else if (c == kUmlautU) {
            c = L'v';
        } else if (!IsLower(c)) {
            return 0;
        }
        plain[n++] = c;
    }
    if (n == 0) return 0;
    plain[n] = 0;
    const int found = SyllableTableFind(plain);
    if (found < 0 || found >= kSyllableCount) return 0;
    *id = int16_t(found);
    *tone = uint8_t(marked);
    return 1;
}
