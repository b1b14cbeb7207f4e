// The pinyin syllable dictionary over a table-file image of five key tables:
// syllable and letter texts (their row order is the id), syllable costs,
// syllable-pair costs, letter-trigram and letter-swap priors.
#include "kernel/lexicon/py_dict.h"

#include <cstdlib>
#include <cwchar>

#include "kernel/runtime/lstr.h"

using n_tableFormat::kNoAttriNoWord;
using n_tableFormat::kNone;
using n_tableFormat::Rd16;

namespace {

t_keyDesc KeyOf(int16_t type, std::vector<int16_t> fields, uint32_t keyData) {
    t_keyDesc d;
    d.keyType = type;
    d.fieldTypes = std::move(fields);
    d.attriIndex = kNoAttriNoWord;
    d.keyDataTable = keyData;
    d.valueDataTable = kNone;
    return d;
}

// Letter index of the letter models: 'a'..'z' 0..25, '~' 26, else -1.
int LetterIndex(uint32_t ch) {
    if (ch >= 'a' && ch <= 'z') return int(ch - 'a');
    if (ch == '~') return 26;
    return -1;
}

}  // namespace

t_pyDict::t_pyDict() {
    for (int k = 0; k < 5; ++k) m_table.SetBucketCount(k, kBuckets[k]);
}

t_pyDict::~t_pyDict() = default;

void t_pyDict::Describe(std::vector<t_keyDesc>& keys, std::vector<t_attriDesc>& attris,
                        std::vector<uint32_t>& datas) {
    keys = {KeyOf(5, {0}, 0), KeyOf(4, {7, 6}, kNone), KeyOf(4, {7, 6}, kNone),
            KeyOf(4, {7, 2}, kNone), KeyOf(4, {7, 2}, kNone)};
    attris.clear();
    datas = {0};
}

int t_pyDict::SyllableHash(const t_lstr* key) {
    if (LstrGetLength(key) == 0) return -1;
    const uint16_t u = LstrGetUnit(key, 0);
    if (u >= 'A' && u <= 'Z') return 1;
    if (u >= 'a' && u <= 'z') return 0;
    return -1;
}

int t_pyDict::SyllableCompare(const t_lstr* a, const t_lstr* b) {
    return LstrCompare(a, b);
}

bool t_pyDict::Load(void* data, int32_t size) {
    SetReady(false);
    m_table.Detach();
    m_pairMemo.reset();
    m_syllables = m_letters = m_letterStart = 0;
    if (!data || size <= 0) return false;
    if (!m_table.Attach(data, kFormatVersion, {&SyllableHash}, {&SyllableCompare}, size))
        return false;
    std::vector<t_keyDesc> keys;
    std::vector<t_attriDesc> attris;
    std::vector<uint32_t> datas;
    Describe(keys, attris, datas);
    bool ok = m_table.GetKeyCount() == 5;
    for (int k = 0; ok && k < 5; ++k)
        ok = m_table.GetLayout().keys[size_t(k)].keyType == keys[size_t(k)].keyType &&
             m_table.GetLayout().keys[size_t(k)].fieldTypes == keys[size_t(k)].fieldTypes &&
             m_table.GetAttriIndex(k) < 0;
    // Several kernel tables hard-code syllable ids: the inventory must be whole.
    ok = ok && m_table.GetBucketRowCount(0, 0) == kSyllables &&
         m_table.GetBucketRowCount(0, 1) == kLetters;
    if (!ok) {
        m_table.Detach();
        return false;
    }
    m_syllables = kSyllables;
    m_letters = kLetters;
    m_letterStart = m_table.GetBucketStart(0, 1);
    SetReady(true);
    return true;
}

int32_t t_pyDict::GetSyllableId(const wchar_t* text) const {
    if (!IsReady() || !text) return -1;
    const size_t n = wcsnlen(text, 11);
    if (n == 0 || n > 10) return -1;
    // At most 10 units: the key is built on the stack, no arena on this path.
    uint8_t buf[2 + 2 * 10];
    n_tableFormat::Wr16(buf, uint16_t(2 * n));
    for (size_t i = 0; i < n; ++i) {
        if (uint32_t(text[i]) > 0xFFFF) return -1;  // no syllable holds such a character
        n_tableFormat::Wr16(buf + 2 + 2 * i, uint16_t(text[i]));
    }
    int32_t row = 0, start = 0, bucket = -1;
    if (!m_table.Find(reinterpret_cast<const t_lstr*>(buf), 0, &row, &start, &bucket)) return -1;
    return bucket == 1 ? row + m_syllables : row;
}

int32_t t_pyDict::GetLetterId(uint32_t ch) const {
    if (!IsReady()) return -1;
    if (ch >= 'A' && ch <= 'Z') return int32_t(ch - 'A') + m_syllables;
    if (ch >= 'a' && ch <= 'z') return int32_t(ch - 'a') + m_syllables;
    return -1;
}

const t_lstr* t_pyDict::GetSyllableString(int16_t id) const {
    if (!IsReady() || id < 0 || id >= GetIdCount()) return nullptr;
    if (id < m_syllables) return m_table.GetKeyRow(0, m_table.GetBucketStart(0, 0), id);
    if (id - m_syllables >= m_letters) return nullptr;
    return m_table.GetKeyRow(0, m_letterStart, id - m_syllables);
}

int32_t t_pyDict::GetIdCount() const {
    return IsReady() ? m_table.GetKeyRowCount(0) : 0;
}
int32_t t_pyDict::GetSyllableCount() const {
    return IsReady() ? m_syllables : 0;
}
bool t_pyDict::IsSyllableId(int16_t id) const {
    return IsReady() && id >= 0 && id < m_syllables;
}
bool t_pyDict::IsLetterId(int16_t id) const {
    return IsReady() && id >= m_syllables && id < m_syllables + m_letters;
}

bool t_pyDict::AreAllLetterIds(const t_lstr* ids) const {
    const uint32_t n = LstrGetLength(ids);
    for (uint32_t i = 0; i < n; ++i)
        if (!IsLetterId(int16_t(LstrGetUnit(ids, i)))) return false;
    return true;
}

bool t_pyDict::HasLetterId(const t_lstr* ids) const {
    const uint32_t n = LstrGetLength(ids);
    for (uint32_t i = 0; i < n; ++i)
        if (IsLetterId(int16_t(LstrGetUnit(ids, i)))) return true;
    return false;
}

int t_pyDict::LettersToIds(const t_lstr* letters, uint16_t* out) const {
    if (!IsReady() || !letters || !out) return 0;
    const uint32_t n = LstrGetLength(letters);
    out[0] = uint16_t(2 * n);
    for (uint32_t i = 0; i < n; ++i) {
        const int32_t id = GetLetterId(LstrGetUnit(letters, i));
        if (id < 0) return 0;
        out[1 + i] = uint16_t(id);
    }
    return 1;
}

const uint8_t* t_pyDict::DigitRow(int k, int32_t key) const {
    if (!IsReady()) return nullptr;
    const uint8_t* row = nullptr;
    return m_table.FindRow(reinterpret_cast<const t_lstr*>(&key), k, &row) ? row : nullptr;
}

uint16_t t_pyDict::GetSyllableValue(int16_t id) const {
    const uint8_t* row = DigitRow(1, id);
    return row ? Rd16(row) : 0;
}

void t_pyDict::t_freeMemo::operator()(uint32_t* p) const {
    std::free(p);
}

uint16_t t_pyDict::GetSyllablePairValue(int16_t id1, int16_t id2) const {
    if (!IsSyllableId(id1) || !IsSyllableId(id2)) return 0;
    const int32_t key = int32_t(id1) * kSyllables + id2;
    if (!m_pairMemo)
        m_pairMemo.reset(
            static_cast<uint32_t*>(std::calloc(size_t(kSyllables) * kSyllables, sizeof(uint32_t))));
    if (m_pairMemo && m_pairMemo[size_t(key)]) return uint16_t(m_pairMemo[size_t(key)] - 1);
    const uint8_t* row = DigitRow(2, key);
    const uint16_t value = row ? Rd16(row) : 0;
    if (m_pairMemo) m_pairMemo[size_t(key)] = uint32_t(value) + 1;
    return value;
}

int32_t t_pyDict::GetLetterTrigramValue(uint32_t a, uint32_t b, uint32_t c) const {
    const int ia = LetterIndex(a), ib = LetterIndex(b), ic = LetterIndex(c);
    if (ia < 0 || ib < 0 || ic < 0) return 0;
    const uint8_t* row = DigitRow(3, 729 * ic + 27 * ia + ib);
    return row ? int32_t(row[0]) * 5 : 0;
}

int32_t t_pyDict::GetLetterXposValue(uint32_t a, uint32_t b, uint32_t c) const {
    const int ia = LetterIndex(a), ib = LetterIndex(b), ic = LetterIndex(c);
    if (ia < 0 || ia > 25 || ib < 0 || ib > 25 || ic < 0) return 0;
    const uint8_t* row = DigitRow(4, 676 * ic + 26 * ib + ia);
    return row ? int32_t(row[0]) * 5 : 0;
}
