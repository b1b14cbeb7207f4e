// The stroke and radical annex, stroke-key conversion and the stroke matcher.
#include "kernel/lexicon/stroke_annex.h"

#include <cstring>
#include <cwchar>

#include "kernel/lexicon/letter_tables.h"
#include "kernel/runtime/byte_order.h"
#include "kernel/runtime/cand_word.h"
#include "kernel/runtime/singleton.h"
#include "kernel/runtime/text_helpers.h"

using n_tableFormat::kNoAttriNoWord;
using n_tableFormat::kNone;
using n_tableFormat::Rd16;
using n_tableFormat::Rd32;
using n_tableFormat::RdI16;
using n_tableFormat::RdI32;

namespace {

enum : int { kStrokeTable = 0, kIdsTable = 1, kIndexTable = 2, kEntryTable = 3 };
enum : int { kFieldMain = 1, kFieldStrokes = 2, kFieldReadings = 3, kFieldCodes = 4 };

// A one-unit key {2, ch} on the stack.
struct t_charKey {
    uint8_t bytes[4];
    explicit t_charKey(uint32_t ch) {
        bytes[0] = 2;
        bytes[1] = 0;
        bytes[2] = uint8_t(ch);
        bytes[3] = uint8_t(ch >> 8);
    }
    const t_lstr* Get() const { return reinterpret_cast<const t_lstr*>(bytes); }
};

uint16_t KeyCode(wchar_t k) {
    switch (k) {
        case L'1':
        case L'h':
            return 1;
        case L'2':
        case L's':
            return 2;
        case L'3':
        case L'p':
            return 3;
        case L'4':
        case L'd':
        case L'n':
            return 4;
        case L'5':
        case L'z':
            return 5;
        case L'?':
            return kStrokeWildcard;
        default:
            return kStrokeNotAKey;
    }
}

bool IsStroke(uint16_t code) {
    return code >= 1 && code <= 5;
}

}  // namespace

void n_strokeAnnex::Descriptors(std::vector<t_keyDesc>& keys, std::vector<t_attriDesc>& attris,
                                std::vector<uint32_t>& datas) {
    keys.assign(4, t_keyDesc{});
    keys[kStrokeTable].keyType = 3;
    keys[kStrokeTable].fieldTypes = {0, 6};
    keys[kStrokeTable].attriIndex = 0;
    keys[kStrokeTable].keyDataTable = 0;
    keys[kStrokeTable].valueDataTable = kNone;
    keys[kIdsTable].keyType = 3;
    keys[kIdsTable].fieldTypes = {0, 0};
    keys[kIdsTable].attriIndex = kNone;
    keys[kIdsTable].keyDataTable = 1;
    keys[kIdsTable].valueDataTable = 1;
    keys[kIndexTable].keyType = 3;
    keys[kIndexTable].fieldTypes = {0, 7};
    keys[kIndexTable].attriIndex = kNoAttriNoWord;
    keys[kIndexTable].keyDataTable = 2;
    keys[kIndexTable].valueDataTable = kNone;
    keys[kEntryTable].keyType = 4;
    keys[kEntryTable].fieldTypes = {7, 0, 10, 10, 10};
    keys[kEntryTable].attriIndex = kNoAttriNoWord;
    keys[kEntryTable].keyDataTable = kNone;
    keys[kEntryTable].valueDataTable = 3;
    attris.assign(1, t_attriDesc{});
    attris[0].fieldCount = 1;
    attris[0].ownerKey = 0;
    attris[0].dataTable = kNone;
    datas.assign(4, 0);
}

// ---------------------------------------------------------------------------
// Attaching.

t_sysBhBsh::t_sysBhBsh() {
    m_annex.SetBucketCount(kEntryTable, n_strokeAnnex::kEntryBuckets);
}

t_sysBhBsh::~t_sysBhBsh() = default;

bool t_sysBhBsh::CheckLayout() const {
    std::vector<t_keyDesc> keys;
    std::vector<t_attriDesc> attris;
    std::vector<uint32_t> datas;
    n_strokeAnnex::Descriptors(keys, attris, datas);
    const t_tableLayout& L = m_annex.GetLayout();
    if (L.keys.size() != keys.size() || L.attris.size() != attris.size() ||
        L.datas.size() != datas.size())
        return false;
    for (size_t k = 0; k < keys.size(); ++k) {
        const t_keyDesc& a = L.keys[k];
        const t_keyDesc& b = keys[k];
        if (a.keyType != b.keyType || a.fieldTypes != b.fieldTypes ||
            a.attriIndex != b.attriIndex || a.keyDataTable != b.keyDataTable ||
            a.valueDataTable != b.valueDataTable)
            return false;
    }
    const t_attriDesc& a = L.attris[0];
    return a.fieldCount == attris[0].fieldCount && a.ownerKey == attris[0].ownerKey &&
           a.dataTable == attris[0].dataTable;
}

bool t_sysBhBsh::Load(void* data, int32_t size) {
    m_annex.Detach();
    // Size 0 would make the reader take the length from the image itself.
    if (!data || size < 1) return false;
    if (!m_annex.Attach(data, n_strokeAnnex::kFormatVersion, {}, {}, size)) return false;
    if (!CheckLayout()) {
        m_annex.Detach();
        return false;
    }
    return true;
}

void t_sysBhBsh::SetFilter(int slot, i_candidateFilter* filter) {
    if (slot == 0 || slot == 1) m_filters[slot] = filter;
}

// ---------------------------------------------------------------------------
// Look-ups.

const uint8_t* t_sysBhBsh::CharRow(int table, uint32_t ch) const {
    if (!IsReady() || !m_annex.IsAttached() || ch > 0xFFFF) return nullptr;
    const t_charKey key(ch);
    const uint8_t* row = nullptr;
    return m_annex.FindRow(key.Get(), table, &row) ? row : nullptr;
}

int t_sysBhBsh::GetCharPinyinIds(uint32_t ch, uint16_t* out, int max) const {
    if (!out || max < 1) return 0;
    const uint8_t* row = CharRow(kIdsTable, ch);
    if (!row) return 0;
    const uint32_t offset = Rd32(row + m_annex.GetLayout().keyLayouts[kIdsTable].fieldOffsets[1]);
    if (offset == kNone) return 0;
    const t_lstr* ids = m_annex.GetDataPtr(m_annex.GetValueDataTable(kIdsTable), offset);
    if (!ids) return 0;
    const int n = LstrGetLength(ids) < max ? LstrGetLength(ids) : max;
    for (int i = 0; i < n; ++i) out[i] = LstrGetUnit(ids, size_t(i));
    return n;
}

int t_sysBhBsh::FindCharIndex(uint32_t ch) const {
    const uint8_t* row = CharRow(kIndexTable, ch);
    if (!row) return -1;
    const int32_t index = RdI32(row + m_annex.GetLayout().keyLayouts[kIndexTable].fieldOffsets[1]);
    return index >= 0 ? index : -1;
}

int t_sysBhBsh::GetCount() const {
    if (!IsReady() || !m_annex.IsAttached()) return 0;
    const int32_t n = m_annex.GetKeyRowCount(kEntryTable);
    return n > 0 ? n : 0;
}

uint32_t t_sysBhBsh::GetConfigValue() const {
    uint32_t tag = 0;
    if (!IsReady() || !m_annex.GetHeaderTag(&tag)) return 0;
    return tag;
}

const uint8_t* t_sysBhBsh::EntryRow(int i) const {
    if (!IsReady() || !m_annex.IsAttached() || i < 0 || i >= n_strokeAnnex::kEntryBuckets)
        return nullptr;
    const uint32_t key = uint32_t(i);
    const uint8_t* row = nullptr;
    return m_annex.FindRow(reinterpret_cast<const t_lstr*>(&key), kEntryTable, &row) ? row
                                                                                     : nullptr;
}

const t_lstr* t_sysBhBsh::EntryField(int i, int field) const {
    const uint8_t* row = EntryRow(i);
    if (!row) return nullptr;
    const uint32_t offset =
        Rd32(row + m_annex.GetLayout().keyLayouts[kEntryTable].fieldOffsets[size_t(field)]);
    if (offset == kNone) return nullptr;
    return m_annex.GetDataPtr(m_annex.GetValueDataTable(kEntryTable), offset);
}

const t_lstr* t_sysBhBsh::GetEntryByIndex(int i) const {
    return EntryField(i, kFieldMain);
}
const t_lstr* t_sysBhBsh::GetStrokeData(int i) const {
    return EntryField(i, kFieldStrokes);
}

int t_sysBhBsh::GetReadingsText(int i, std::wstring& out) const {
    const t_lstr* item = EntryField(i, kFieldReadings);
    const uint32_t bytes = LstrGetByteLength(item);
    if (!item || bytes < 2) return 0;
    const uint8_t* p = LstrGetBytes(item);
    const int n = RdI16(p);
    if (n <= 0 || 2 + 4 * uint32_t(n) > bytes) return 0;
    for (int r = 0; r < n; ++r) {
        const uint16_t tone = Rd16(p + 2 + 4 * r);
        const int16_t id = RdI16(p + 4 + 4 * r);
        wchar_t text[kToneSpellCapacity];
        if (id < 0 || !PinyinSpellWithTone(id, tone & 0xFF, text)) return 0;
        if (r > 0) out += L',';
        out += text;
    }
    return n;
}

int t_sysBhBsh::GetCharReadingsText(uint32_t ch, std::wstring& out) const {
    return GetReadingsText(FindCharIndex(ch), out);
}

int t_sysBhBsh::GetCodeList(int i, int* units, const uint16_t** codes, uint32_t* tag) const {
    const t_lstr* item = EntryField(i, kFieldCodes);
    const uint32_t bytes = LstrGetByteLength(item);
    if (!item || bytes < 4 || !units || !codes || !tag) return 0;
    const uint8_t* p = LstrGetBytes(item);
    const uint32_t listBytes = Rd16(p + 2);
    if (listBytes > 2u * n_strokeAnnex::kMaxCodeListUnits || 4 + listBytes > bytes) return 0;
    *tag = Rd16(p);
    *units = int(listBytes / 2);
    *codes = reinterpret_cast<const uint16_t*>(p + 4);
    return 1;
}

const uint16_t* BhBshSkipToItem(const uint16_t* codes, int count, int n, int* units) {
    if (units) *units = 0;
    if (!codes || !units || count < 1) return nullptr;
    int at = 0;
    for (int seen = 0; seen < n; ++at) {
        if (at >= count) return nullptr;
        if (Rd16(reinterpret_cast<const uint8_t*>(codes + at)) != n_strokeAnnex::kCodeListSeparator)
            ++seen;
    }
    if (at >= count) return nullptr;
    *units = Rd16(reinterpret_cast<const uint8_t*>(codes + at)) / 2;
    return codes + at + 1;
}

int t_sysBhBsh::GetStrokeCodes(uint32_t ch, t_lstr* out, uint32_t capacity) const {
    if (!out || GetCount() == 0) return 0;
    const t_lstr* strokes = GetStrokeData(FindCharIndex(ch));
    if (!strokes) return 0;
    // The caller's buffer bounds the copy: a sequence that does not fit is
    // refused rather than cut or written past the buffer.
    if (LstrGetTotalBytes(strokes) > capacity) return 0;
    LstrCopyRaw(out, strokes);
    return LstrGetLength(strokes);
}

bool t_sysBhBsh::WrapInParens(t_scopeHeap* heap, const t_lstr* base, const wchar_t* text,
                              t_lstr** out) {
    if (out) *out = nullptr;
    if (!heap || !base || !text || !out) return false;
    const wchar_t* wrapped = heap->ConcatWide(heap->ConcatWide(L"(", text), L")");
    if (!wrapped) return false;
    *out = heap->AppendWideToLstr(base, wrapped);
    return *out != nullptr;
}

// ---------------------------------------------------------------------------
// Stroke keys.

int StrokeKeyToCode(const wchar_t* keys, uint16_t* out, bool lenient) {
    if (!keys || !out) return 0;
    int n = 0;
    for (; keys[n] && n < kMaxStrokeKeys; ++n) {
        const uint16_t code = KeyCode(keys[n]);
        if (code == kStrokeNotAKey && !lenient) return 0;
        out[n] = code;
    }
    return n;
}

int StrokeStringToCodes(const wchar_t* keys, t_lstr* out) {
    if (!out) return 0;
    uint16_t codes[kMaxStrokeKeys];
    const int n = StrokeKeyToCode(keys, codes, false);
    LstrSetLength(out, uint32_t(n));
    std::memcpy(LstrGetBytes(out), codes, size_t(n) * 2);
    return 2 * n;
}

// ---------------------------------------------------------------------------
// Search.

int t_sysBhBsh::SearchByInput(t_scopeHeap* heap, const wchar_t* input, t_candWord** out, int skip,
                              int max) {
    if (!IsReady() || !m_annex.IsAttached() || !heap || !input || !out || max < 1) return 0;
    while (*input == L'\'') ++input;
    t_lstr* typed = reinterpret_cast<t_lstr*>(m_typed);
    if (StrokeStringToCodes(input, typed) == 0) return 0;
    return Search(heap, out, skip, max);
}

int t_sysBhBsh::Search(t_scopeHeap* heap, t_candWord** out, int skip, int max) {
    const t_lstr* typed = reinterpret_cast<const t_lstr*>(m_typed);
    auto* records = static_cast<t_candWord*>(
        heap->AllocAligned(sizeof(t_candWord) * size_t(max), alignof(t_candWord)));
    if (!records) return 0;

    int32_t row = 0, start = 0, bucket = -1;
    const bool found = m_annex.Find(typed, kStrokeTable, &row, &start, &bucket);
    if (bucket < 0) return 0;  // no bucket: nothing begins with these strokes
    const int32_t rows = m_annex.GetBucketRowCount(kStrokeTable, bucket);
    if (found) {
        while (row > 0) {
            const t_lstr* key = m_annex.GetKeyRow(kStrokeTable, start, row - 1);
            if (!key || LstrCompare(typed, key) != 0) break;
            --row;
        }
    }

    const t_keyLayout& layout = m_annex.GetLayout().keyLayouts[kStrokeTable];
    std::vector<const uint8_t*>& chain = m_chain;
    std::wstring& readings = m_readings;
    int accepted = 0, filled = 0;
    for (int32_t r = row; r < rows && filled < max; ++r) {
        const uint8_t* keyRow = m_annex.GetBucketRow(kStrokeTable, r, start);
        const t_lstr* key = keyRow ? m_annex.GetRowKey(kStrokeTable, keyRow) : nullptr;
        if (!key) break;
        const int cmp = LstrCompare(typed, key);
        if (cmp != 0 && cmp != -1) break;  // past the keys the typed strokes begin
        if (!m_annex.CollectAttriChain(Rd32(keyRow + layout.linkOffset), kStrokeTable, chain,
                                       layout.attriLinkOffset))
            continue;
        for (const uint8_t* attri : chain) {
            if (filled >= max) break;
            const uint16_t ch = Rd16(attri);
            if (IsDigitOneToEight(ch)) continue;
            t_lstr* text = heap->MakeLstr(&ch, 2);
            if (!text) return 0;
            bool keep = true;
            for (i_candidateFilter* filter : m_filters)
                if (filter && !filter->AcceptLstr(text)) keep = false;
            if (!keep) continue;
            if (accepted++ < skip) continue;
            t_candWord* w = &records[filled++];
            t_candWord::Init(w);
            w->text = text;
            w->secondText = text;
            w->sourceType = kCandSourceStroke;
            readings.clear();
            t_lstr* shown = nullptr;
            if (GetCharReadingsText(ch, readings) > 0 &&
                WrapInParens(heap, text, readings.c_str(), &shown))
                w->secondText = shown;
        }
    }
    if (filled == 0) return 0;
    const uint16_t one = 1;
    const t_lstr* ids = heap->MakeLstr(&one, 2);
    for (int i = 0; i < filled; ++i) {
        t_candWord::Init(&records[i]);
        records[i].syllableIds = ids;
        records[i].sourceType = kCandSourceStroke;
        out[i] = &records[i];
    }
    return filled;
}

// ---------------------------------------------------------------------------
// Matcher.

void t_strokeMatcher::Init(const wchar_t* keys) {
    Init(&t_singleton<t_sysBhBsh>::Get(), keys);
}

void t_strokeMatcher::Init(const t_sysBhBsh* annex, const wchar_t* keys) {
    m_annex = annex;
    m_typedCount = StrokeKeyToCode(keys, m_typed, true);
}

int t_strokeMatcher::MatchCodes(const uint16_t* codes, int count, int pos,
                                uint32_t* matched) const {
    if (!codes || pos < 0) return 0;
    for (int i = 0; pos + i < m_typedCount; ++i) {
        if (i >= count) return 1;
        const uint16_t code = Rd16(reinterpret_cast<const uint8_t*>(codes + i));
        if (!IsStroke(code)) return 1;
        const uint16_t want = m_typed[pos + i];
        if (want != kStrokeWildcard && want != code) return 0;
        if (matched) ++*matched;
    }
    return 1;
}

int t_strokeMatcher::MatchChar(uint32_t ch, int pos, uint32_t* matched) {
    if (!m_annex || pos < 0 || pos >= m_typedCount || m_typed[pos] == kStrokeNotAKey) return 0;
    t_lstr* strokes = reinterpret_cast<t_lstr*>(m_strokes);
    const int n = m_annex->GetStrokeCodes(ch, strokes, sizeof(m_strokes));
    if (n <= 0) return 0;
    for (int i = 0; i < n && pos + i < m_typedCount; ++i) {
        const uint16_t want = m_typed[pos + i];
        if (want != kStrokeWildcard && want != (LstrGetUnit(strokes, size_t(i)) & 0xFF)) return 0;
        if (matched) ++*matched;
    }
    return 1;
}
