// The small system dictionaries and the supported-character flags.
#include "kernel/lexicon/small_dicts.h"

#include <cstring>
#include <vector>

#include "kernel/lexicon/small_dicts_arena.h"
#include "kernel/runtime/fd_file.h"
#include "kernel/storage/table_format.h"

using n_tableFormat::kNone;
using n_tableFormat::Rd16;
using n_tableFormat::Rd32;
using n_tableFormat::RdI16;

// ---------------------------------------------------------------- frame

bool t_smallTableDict::Load(void* data, int32_t size) {
    m_table.Detach();
    const bool ok = data && size > 0 && m_table.Attach(data, m_version, size);
    SetReady(ok);
    return ok;
}

bool t_smallTableDict::GetHeaderTag(uint32_t* out) const {
    return IsReady() && m_table.GetHeaderTag(out);
}

bool t_smallTableDict::ChainOf(int k, const uint8_t* keyRow,
                               std::vector<const uint8_t*>& out) const {
    out.clear();
    if (!keyRow || k < 0 || k >= m_table.GetKeyCount()) return false;
    const t_keyLayout& L = m_table.GetLayout().keyLayouts[size_t(k)];
    if (!L.hasAttri) return false;
    const uint32_t link = Rd32(keyRow + L.linkOffset);
    if (link == kNone) return false;
    return m_table.CollectAttriChain(link, k, out, L.attriLinkOffset);
}

uint32_t t_smallTableDict::AttriFieldOffset(int k, uint32_t field) const {
    if (k < 0 || k >= m_table.GetKeyCount()) return 0;
    const t_keyLayout& L = m_table.GetLayout().keyLayouts[size_t(k)];
    return field < L.attriFieldOffsets.size() ? L.attriFieldOffsets[field] : 0;
}

const t_lstr* t_smallTableDict::AttriItem(int k, const uint8_t* attriRow, uint32_t field) const {
    if (!attriRow || k < 0 || k >= m_table.GetKeyCount()) return nullptr;
    const t_keyLayout& L = m_table.GetLayout().keyLayouts[size_t(k)];
    if (!L.hasAttri || field >= L.attriFieldOffsets.size()) return nullptr;
    return m_table.GetDataPtr(m_table.GetAttriDataTable(int(L.attri)),
                              Rd32(attriRow + L.attriFieldOffsets[field]));
}

namespace {

template <class T>
T** ArenaArray(t_scopeHeap& heap, const std::vector<T*>& items) {
    if (items.empty()) return static_cast<T**>(ArenaAllocAligned(heap, 0));
    auto** arr = static_cast<T**>(ArenaAllocAligned(heap, items.size() * sizeof(T*)));
    if (arr) std::memcpy(arr, items.data(), items.size() * sizeof(T*));
    return arr;
}

// The text and each shorter tail, longest first, as strings of the arena;
// empty when the text is too long or empty.
bool CopyBounded(const t_lstr* text, std::vector<uint16_t>& units) {
    const uint32_t bytes = LstrGetByteLength(text);
    if (bytes == 0 || bytes > kInfoTextMaxBytes) return false;
    const uint32_t n = bytes / 2;
    units.resize(n);
    for (uint32_t i = 0; i < n; ++i) units[i] = LstrGetUnit(text, i);
    return n > 0;
}

// A t_lstr over units[from..] in buffer (count then units).
const t_lstr* TailOf(const std::vector<uint16_t>& units, size_t from,
                     std::vector<uint8_t>& buffer) {
    const size_t n = units.size() - from;
    buffer.resize(2 + 2 * n);
    const uint16_t count = uint16_t(2 * n);
    std::memcpy(buffer.data(), &count, 2);
    std::memcpy(buffer.data() + 2, units.data() + from, 2 * n);
    return reinterpret_cast<const t_lstr*>(buffer.data());
}

}  // namespace

// ---------------------------------------------------------------- system custom phrases

int t_abbrSysDict::Lookup(t_scopeHeap& heap, const t_lstr* key, t_abbrPhrase*** out,
                          uint32_t* count) {
    if (!IsReady() || !out || !count) return 0;
    *count = 0;
    const uint8_t* row = nullptr;
    std::vector<const uint8_t*> chain;
    std::vector<t_abbrPhrase*> found;
    if (m_table.FindRow(key, 0, &row) && ChainOf(0, row, chain)) {
        const uint32_t posOffset = AttriFieldOffset(0, 1);
        for (const uint8_t* ar : chain) {
            const int16_t position = RdI16(ar + posOffset);
            if (position < 1) continue;
            const t_lstr* phrase = AttriItem(0, ar, 0);
            if (!phrase) return 0;
            auto* rec = static_cast<t_abbrPhrase*>(ArenaAllocAligned(heap, sizeof(t_abbrPhrase)));
            if (!rec) return 0;
            rec->phrase = phrase;
            rec->position = position;
            found.push_back(rec);
        }
    }
    t_abbrPhrase** arr = ArenaArray(heap, found);
    if (!arr) return 0;
    *out = arr;
    *count = uint32_t(found.size());
    return 1;
}

int t_abbrSysDict::GetAllPhrases(t_scopeHeap& heap, t_abbrPhraseEntry*** out, uint32_t* count) {
    if (!IsReady() || !out || !count) return 0;
    *count = 0;
    std::vector<std::pair<const uint8_t*, const uint8_t*>> pairs;
    if (!m_table.EnumerateItems(0, pairs)) return 0;
    const uint32_t posOffset = AttriFieldOffset(0, 1);
    std::vector<t_abbrPhraseEntry*> found;
    for (const auto& [keyRow, ar] : pairs) {
        const t_lstr* key = m_table.GetRowKey(0, keyRow);
        const t_lstr* phrase = AttriItem(0, ar, 0);
        if (!key || !phrase) continue;
        auto* rec =
            static_cast<t_abbrPhraseEntry*>(ArenaAllocAligned(heap, sizeof(t_abbrPhraseEntry)));
        if (!rec) return 0;
        rec->key = key;
        rec->phrase = phrase;
        rec->position = Rd16(ar + posOffset);
        found.push_back(rec);
    }
    t_abbrPhraseEntry** arr = ArenaArray(heap, found);
    if (!arr) return 0;
    *out = arr;
    *count = uint32_t(found.size());
    return 1;
}

uint32_t t_abbrSysDict::GetPhraseCount() {
    if (!IsReady()) return 0;
    std::vector<std::pair<const uint8_t*, const uint8_t*>> pairs;
    return m_table.EnumerateItems(0, pairs) ? uint32_t(pairs.size()) : 0;
}

// ---------------------------------------------------------------- info keys

int t_infoKey::Lookup(const t_lstr* text, int* found, const t_lstr** item) {
    if (!IsReady() || !found) return 0;
    *found = 0;
    if (LstrGetByteLength(text) > kInfoTextMaxBytes) return 0;
    std::vector<uint16_t> units;
    if (!CopyBounded(text, units)) return 1;
    std::vector<uint8_t> buffer;
    for (size_t from = 0; from < units.size(); ++from) {
        const t_lstr* tail = TailOf(units, from, buffer);
        int32_t row = 0, start = 0;
        if (!m_table.FindPrefix(tail, 0, &row, &start)) continue;
        const uint8_t* r = m_table.GetBucketRow(0, row, start);
        const t_lstr* stored = r ? m_table.GetRowKey(0, r) : nullptr;
        if (!stored) continue;
        *found = 1;
        if (item) *item = stored;
        return 1;
    }
    return 1;
}

int t_infoBlack::Contains(const t_lstr* text, const t_lstr* key) {
    if (!IsReady()) return 0;
    const uint8_t* row = nullptr;
    if (!m_table.FindRow(key, 0, &row)) return 0;
    const t_keyLayout& L = m_table.GetLayout().keyLayouts[0];
    if (!L.hasAttri || !(m_table.GetKeyType(0) & n_tableFormat::kFlagSortedAttri)) return 0;
    const uint32_t rows = Rd32(row + L.countOffset), first = Rd32(row + L.linkOffset);
    if (rows == 0 || rows > 0x7FFFFFFFu) return 0;
    std::vector<uint16_t> units;
    if (!CopyBounded(text, units)) return 0;
    std::vector<uint8_t> buffer;
    for (size_t from = 0; from < units.size(); ++from) {
        int32_t hit = 0;
        if (m_table.PrefixSearchAttri(TailOf(units, from, buffer), int(L.attri), first,
                                      int32_t(rows - 1), &hit))
            return 1;
    }
    return 0;
}

// ---------------------------------------------------------------- number frequencies

uint8_t* t_numFreqAdjustDict::RowOf(const t_lstr* text) {
    if (!IsReady()) return nullptr;
    const uint8_t* row = nullptr;
    if (!m_table.FindRow(text, 0, &row)) return nullptr;
    if (m_table.GetKeyRowSize(0) < int32_t(kCountOffset + 4)) return nullptr;
    return const_cast<uint8_t*>(row);
}

bool t_numFreqAdjustDict::Get(const t_lstr* text, uint16_t* kind, uint32_t* count) {
    const uint8_t* row = RowOf(text);
    if (!row) return false;
    if (kind) *kind = Rd16(row + kKindOffset);
    if (count) *count = Rd32(row + kCountOffset);
    return true;
}

bool t_numFreqAdjustDict::SetKind(const t_lstr* text, uint16_t kind) {
    const uint8_t* row = RowOf(text);
    return row && m_table.SetFieldAt(&kind, 2, row, kKindOffset, 0, false, true);
}

bool t_numFreqAdjustDict::SetCount(const t_lstr* text, uint32_t count) {
    const uint8_t* row = RowOf(text);
    return row && m_table.SetFieldAt(&count, 4, row, kCountOffset, 0, false, true);
}

bool t_numFreqAdjustDict::Save(const wchar_t* path) {
    return IsReady() && path && m_table.SaveToFile(path);
}

// ---------------------------------------------------------------- web-address guides

const uint8_t* t_urlGuideDict::FindByInput(const t_lstr* input) {
    if (!IsReady()) return nullptr;
    const uint8_t* row = nullptr;
    std::vector<const uint8_t*> chain;
    if (!m_table.FindRow(input, 1, &row) || !ChainOf(1, row, chain)) return nullptr;
    return chain.front();
}

const uint8_t* t_urlGuideDict::FindByWord(const t_lstr* word) {
    if (!IsReady()) return nullptr;
    const uint8_t* row = nullptr;
    std::vector<const uint8_t*> chain;
    if (!m_table.FindRow(word, 0, &row) || !ChainOf(0, row, chain)) return nullptr;
    return chain.front();
}

const t_lstr* t_urlGuideDict::GetGuideText(const uint8_t* row, int k) {
    return IsReady() ? AttriItem(k, row, 0) : nullptr;
}

const t_lstr* t_urlGuideDict::GetGuideUrl(const uint8_t* row, int k) {
    return IsReady() ? AttriItem(k, row, 1) : nullptr;
}

// ---------------------------------------------------------------- smart info

namespace {
// The reader of the binary search in progress: attri compares see only a row.
thread_local const t_tableFile* t_currentTable = nullptr;
thread_local int t_currentData = -1;

int CompareWordRow(const t_lstr* key, const uint8_t* attriRow) {
    const t_lstr* stored =
        t_currentTable ? t_currentTable->GetDataPtr(t_currentData, Rd32(attriRow)) : nullptr;
    if (!stored) return -100;  // stops the search
    return LstrCompare(key, stored);
}
}  // namespace

t_smartInfoCore::t_smartInfoCore() : t_smallTableDict(kSmartInfoVersion) {
    m_table.SetBucketCount(0, kBuckets);
}

int t_smartInfoCore::Contains(int category, const t_lstr* word, int* found) {
    if (!IsReady() || !found || category < 0 || category > 5 || LstrGetLength(word) == 0) return 0;
    const uint16_t c = LstrGetUnit(word, 0);
    int letter = -1;
    if (c >= 'a' && c <= 'z') letter = c - 'a';
    if (c >= 'A' && c <= 'Z') letter = c - 'A';
    if (letter < 0) return 0;
    *found = 0;
    const uint32_t code = uint32_t(letter + 26 * category);
    const uint8_t* row = nullptr;
    if (!m_table.FindRow(reinterpret_cast<const t_lstr*>(&code), 0, &row)) return 1;
    const t_keyLayout& L = m_table.GetLayout().keyLayouts[0];
    if (!L.hasAttri || !(m_table.GetKeyType(0) & n_tableFormat::kFlagSortedAttri)) return 1;
    const uint32_t rows = Rd32(row + L.countOffset), first = Rd32(row + L.linkOffset);
    if (rows == 0 || rows > 0x7FFFFFFFu) return 1;
    t_currentTable = &m_table;
    t_currentData = m_table.GetAttriDataTable(int(L.attri));
    int32_t hit = 0;
    *found = m_table.BinarySearchAttri(word, int(L.attri), first, int32_t(rows - 1), &hit,
                                       &CompareWordRow)
                 ? 1
                 : 0;
    t_currentTable = nullptr;
    return 1;
}

// ---------------------------------------------------------------- quick input

namespace {
// -1, or the same value read as an unsigned 16-bit number, matches anything.
bool AnyFilter(int32_t filter) {
    return filter == -1 || filter == 0xFFFF;
}
}  // namespace

t_quickSysDict::t_quickSysDict() : t_smallTableDict(kQuickSysVersion) {
    m_table.SetBucketCount(1, 10);
}

int t_quickSysDict::Lookup(t_scopeHeap& heap, const t_lstr* text, t_quickEntry*** out,
                           uint32_t* count) {
    if (!IsReady() || !out || !count) return 0;
    *count = 0;
    const uint8_t* row = nullptr;
    std::vector<const uint8_t*> chain;
    std::vector<t_quickEntry*> found;
    if (m_table.FindRow(text, 0, &row) && ChainOf(0, row, chain)) {
        for (const uint8_t* ar : chain) {
            const t_lstr* t = AttriItem(0, ar, 0);
            if (!t) continue;
            auto* rec = static_cast<t_quickEntry*>(ArenaAllocAligned(heap, sizeof(t_quickEntry)));
            if (!rec) return 0;
            rec->text = t;
            rec->a = Rd16(ar + AttriFieldOffset(0, 1));
            rec->b = int16_t(RdI16(ar + AttriFieldOffset(0, 2)) - 1);
            found.push_back(rec);
        }
    }
    t_quickEntry** arr = ArenaArray(heap, found);
    if (!arr) return 0;
    *out = arr;
    *count = uint32_t(found.size());
    return 1;
}

int t_quickSysDict::ListByCategory(t_scopeHeap& heap, uint32_t category, int32_t sub1, int32_t sub2,
                                   t_quickCategoryEntry*** out, uint32_t* count) {
    if (!IsReady() || !out || !count) return 0;
    *count = 0;
    const uint8_t* row = nullptr;
    std::vector<const uint8_t*> chain;
    std::vector<t_quickCategoryEntry*> found;
    if (m_table.GetKeyCount() > 1 &&
        m_table.FindRow(reinterpret_cast<const t_lstr*>(&category), 1, &row) &&
        ChainOf(1, row, chain)) {
        for (const uint8_t* ar : chain) {
            const int16_t s1 = RdI16(ar + AttriFieldOffset(1, 0)),
                          s2 = RdI16(ar + AttriFieldOffset(1, 1));
            if ((!AnyFilter(sub1) && s1 != sub1) || (!AnyFilter(sub2) && s2 != sub2)) continue;
            auto* rec = static_cast<t_quickCategoryEntry*>(
                ArenaAllocAligned(heap, sizeof(t_quickCategoryEntry)));
            if (!rec) return 0;
            rec->category = int16_t(int32_t(category) - 1);
            rec->sub1 = int16_t(s1 - 1);
            rec->sub2 = int16_t(s2 - 1);
            for (uint32_t i = 0; i < 3; ++i) rec->texts[i] = AttriItem(1, ar, 2 + i);
            found.push_back(rec);
        }
    }
    t_quickCategoryEntry** arr = ArenaArray(heap, found);
    if (!arr) return 0;
    *out = arr;
    *count = uint32_t(found.size());
    return 1;
}

// ---------------------------------------------------------------- pinyin tips

const t_lstr* t_pyTip::GetTip(const t_lstr* key, const t_lstr* text) {
    std::vector<const uint8_t*> chain;
    return GetTipRows(key, &chain) ? GetTipAmong(chain, text) : nullptr;
}

bool t_pyTip::GetTipRows(const t_lstr* key, std::vector<const uint8_t*>* rows) {
    rows->clear();
    if (!IsReady()) return false;
    const uint8_t* row = nullptr;
    return m_table.FindRow(key, 0, &row) && ChainOf(0, row, *rows);
}

const t_lstr* t_pyTip::GetTipAmong(const std::vector<const uint8_t*>& rows,
                                   const t_lstr* text) const {
    for (const uint8_t* ar : rows) {
        const t_lstr* first = AttriItem(0, ar, 0);
        if (first && LstrCompare(first, text) == 0 &&
            LstrGetByteLength(first) == LstrGetByteLength(text))
            return AttriItem(0, ar, 1);
    }
    return nullptr;
}

// ---------------------------------------------------------------- adjustment cache

bool t_adjCache::GetBestAdjust(const t_lstr* key, uint8_t* b0, uint8_t* b1) {
    if (!IsReady()) return false;
    const uint8_t* row = nullptr;
    std::vector<const uint8_t*> chain;
    if (!m_table.FindRow(key, 0, &row) || !ChainOf(0, row, chain)) return false;
    const uint8_t* best = nullptr;
    uint16_t bestWeight = 0;
    const uint32_t o0 = AttriFieldOffset(0, 0), o1 = AttriFieldOffset(0, 1),
                   ow = AttriFieldOffset(0, 2);
    for (const uint8_t* ar : chain) {
        const uint16_t w = Rd16(ar + ow);
        if (!best || w > bestWeight) {
            best = ar;
            bestWeight = w;
        }
    }
    if (!best || bestWeight == 0) return false;
    if (b0) *b0 = best[o0];
    if (b1) *b1 = best[o1];
    return true;
}

// ---------------------------------------------------------------- supported characters

t_supportCharDict::t_supportCharDict() {
    std::memset(m_flags, 1, sizeof m_flags);
}

bool t_supportCharDict::Load(void* data, int32_t size) {
    const uint8_t* img = static_cast<const uint8_t*>(data);
    if (img && size >= int32_t(kImageSize) && Rd32(img) == kSupportCharVersion &&
        Rd32(img + 4) == kFlagCount)
        std::memcpy(m_flags, img + kHeaderSize, kFlagCount);
    if (m_disabledFirst >= 0 && m_disabledFirst <= m_disabledLast &&
        m_disabledLast < int32_t(kFlagCount))
        std::memset(m_flags + m_disabledFirst, 0, size_t(m_disabledLast - m_disabledFirst + 1));
    SetReady(true);
    return true;
}

bool t_supportCharDict::LoadFromFile(const wchar_t* path) {
    t_fdFile file;
    if (!path || !file.Open(path, kOpenRead)) return false;
    const int64_t size = file.GetSize();
    // The image is 65552 bytes; anything far larger is not a flags file.
    if (size <= 0 || size > int64_t(16) << 20) return false;
    std::vector<uint8_t> bytes(static_cast<size_t>(size));
    if (!file.ReadExact(bytes.data(), bytes.size())) return false;
    return CommitImage(bytes.data(), int32_t(size));
}

void t_supportCharDict::SetRange(int32_t first, int32_t last, uint8_t value) {
    if (first < 0 || first > last || last >= int32_t(kFlagCount)) return;
    std::memset(m_flags + first, value, size_t(last - first + 1));
    if (value == 0) {
        m_disabledFirst = first;
        m_disabledLast = last;
    }
}
