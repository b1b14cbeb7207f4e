// The cell dictionary image reader.
#include "kernel/lexicon/cell_dict.h"

#include <cstdio>
#include <cstring>

#include "kernel/runtime/byte_order.h"
#include "kernel/storage/table_format.h"

using n_tableFormat::Rd16;
using n_tableFormat::Rd32;
using n_tableFormat::RdI16;
using n_tableFormat::RdI32;

namespace {

enum : uint32_t {
    kBuckets = 1,
    kItems = 2,
    kCount3 = 3,
    kSorted = 4,
    kWords = 5,
    kBucketOff = 6,
    kItemOff = 7,
    kRecordOff = 8,
    kSortedOff = 9,
    kKeyOff = 10,
    kWordOff = 11,
    kInfoOff = 12,
    kInfoEnd = 13,
    kGroupOff = 14,
    kWordIndexOff = 15,
};

uint64_t Signature(const t_lstr* key) {
    return LstrGetLength(key) >= 2 ? uint64_t(1) << (LstrGetUnit(key, 1) & 63) : 1;
}

bool SameText(const t_lstr* a, const t_lstr* b) {
    return a && b && LstrGetByteLength(a) == LstrGetByteLength(b) && LstrCompare(a, b) == 0;
}

}  // namespace

bool t_extDict::Load(void* data, int32_t size) {
    m_image = nullptr;
    m_size = 0;
    m_cellListState = 0;
    m_cellList = nullptr;
    m_cellListCount = 0;
    SetReady(false);
    if (!data || size < int32_t(kHeaderWords * 4)) return false;
    const uint8_t* img = static_cast<const uint8_t*>(data);
    int32_t h[kHeaderWords];
    for (uint32_t i = 0; i < kHeaderWords; ++i) h[i] = RdI32(img + 4 * i);
    for (uint32_t i = kBuckets; i <= kWords; ++i)
        if (h[i] < 0) return false;
    for (uint32_t i = kBucketOff; i <= kWordIndexOff; ++i)
        if (h[i] < 0 || h[i] > size) return false;
    std::memcpy(m_header, h, sizeof h);
    m_image = img;
    m_size = uint64_t(size);
    SetReady(true);
    return true;
}

bool t_extDict::Word(uint32_t i, int32_t* out) const {
    if (!m_image || i >= kHeaderWords) return false;
    *out = m_header[i];
    return true;
}

const t_lstr* t_extDict::StringAt(uint64_t begin, uint64_t end, int64_t off) const {
    if (off < 0 || end > m_size || begin > end) return nullptr;
    const uint64_t at = begin + uint64_t(off);
    if (at > end || end - at < 2) return nullptr;
    const t_lstr* s = reinterpret_cast<const t_lstr*>(m_image + at);
    if (LstrGetByteLength(s) > end - at - 2) return nullptr;
    return s;
}

const t_lstr* t_extDict::ItemKey(uint32_t item) const {
    if (item >= uint32_t(m_header[kItems])) return nullptr;
    const uint64_t at = uint64_t(m_header[kItemOff]) + uint64_t(item) * kItemSize;
    if (!Inside(at, kItemSize)) return nullptr;
    return StringAt(uint64_t(m_header[kKeyOff]), m_size, Rd32(m_image + at));
}

int32_t t_extDict::FindKey(const t_lstr* key, uint16_t* more, uint32_t* hint) {
    if (more) *more = 0;
    if (!IsReady() || !m_image) return -1;
    const uint32_t n = LstrGetLength(key);
    if (n == 0) return -1;
    const uint32_t first = LstrGetUnit(key, 0);
    const uint32_t buckets = uint32_t(m_header[kBuckets]);
    if (first >= buckets) return -1;
    const uint64_t bucketAt = uint64_t(m_header[kBucketOff]) + uint64_t(first) * kBucketSize;
    if (!Inside(bucketAt, kBucketSize)) return -1;
    const uint32_t start = Rd32(m_image + bucketAt);
    if (!(Rd64(m_image + bucketAt + 4) & Signature(key))) {
        if (n == 1 && more) *more = kMoreKeys;
        return -1;
    }
    const uint32_t items = uint32_t(m_header[kItems]);
    if (items == 0) return -1;
    // Last item of the bucket: before the next bucket that starts later.
    uint64_t last = uint64_t(items) - 1;
    for (uint32_t b = first + 1; b < buckets; ++b) {
        const uint64_t at = uint64_t(m_header[kBucketOff]) + uint64_t(b) * kBucketSize;
        if (!Inside(at, kBucketSize)) break;
        const uint32_t s = Rd32(m_image + at);
        if (s > start) {
            if (s - 1 < last) last = s - 1;
            break;
        }
    }
    int64_t lo = start, hi = int64_t(last);
    if (hint && *hint > start) lo = *hint;
    while (lo <= hi) {
        const int64_t mid = (lo + hi) >> 1;
        const t_lstr* stored = ItemKey(uint32_t(mid));
        if (!stored) return -1;
        const int c = LstrCompare(key, stored);
        if (c == 0) {
            lo = mid;
            break;
        }
        if (c < 0)
            hi = mid - 1;
        else
            lo = mid + 1;
    }
    const bool found = lo <= hi;
    const uint32_t next = uint32_t(found ? lo + 1 : lo);
    if (hint) *hint = next;
    if (more && next < items) {
        const t_lstr* stored = ItemKey(next);
        if (stored && LstrCompare(key, stored) == -1) *more = kMoreKeys;
    }
    return found ? int32_t(lo) : -1;
}

uint32_t t_extDict::GetItem(int32_t i, const t_cellRecord** out) {
    if (out) *out = nullptr;
    if (!IsReady() || !m_image || i < 0 || i >= m_header[kItems]) return 0;
    const uint64_t at = uint64_t(m_header[kItemOff]) + uint64_t(i) * kItemSize;
    if (!Inside(at, kItemSize)) return 0;
    const uint32_t firstRecord = Rd32(m_image + at + 4), count = Rd32(m_image + at + 8);
    const uint64_t recordAt =
        uint64_t(m_header[kRecordOff]) + uint64_t(firstRecord) * sizeof(t_cellRecord);
    if (count == 0 || !Inside(recordAt, uint64_t(count) * sizeof(t_cellRecord))) return 0;
    if (out) *out = reinterpret_cast<const t_cellRecord*>(m_image + recordAt);
    return count;
}

const t_lstr* t_extDict::GetWordText(int32_t offset) {
    if (!IsReady() || !m_image) return nullptr;
    return StringAt(uint64_t(m_header[kWordOff]), uint64_t(m_header[kInfoOff]), offset);
}

const t_lstr* t_extDict::GetInfoText(int32_t offset) {
    if (!IsReady() || !m_image) return nullptr;
    return StringAt(uint64_t(m_header[kInfoOff]), uint64_t(m_header[kInfoEnd]), offset);
}

int t_extDict::PrefixSearch(const t_lstr* key, int max, uint32_t* items, const t_lstr** keys) {
    if (!items || !keys || max < 1) return 0;
    uint16_t more = 0;
    uint32_t hint = 0;
    FindKey(key, &more, &hint);
    if (more != kMoreKeys) return 0;
    int n = 0;
    for (uint32_t i = hint; n < max && i < uint32_t(m_header[kItems]); ++i) {
        const t_lstr* stored = ItemKey(i);
        if (!stored || LstrCompare(key, stored) != -1) break;
        items[n] = i;
        keys[n] = stored;
        ++n;
    }
    return n;
}

const t_cellRecord* t_extDict::FindRecord(const t_lstr* key, const t_lstr* word) {
    const int32_t item = FindKey(key, nullptr, nullptr);
    if (item < 0) return nullptr;
    const t_cellRecord* records = nullptr;
    const uint32_t count = GetItem(item, &records);
    for (uint32_t i = 0; i < count; ++i)
        if (SameText(GetWordText(records[i].wordOffset), word)) return records + i;
    return nullptr;
}

int t_extDict::Contains(const t_lstr* key, const t_lstr* word) {
    return FindRecord(key, word) ? 1 : 0;
}

int t_extDict::ContainsWord(const t_lstr* word) {
    if (!IsReady() || !m_image || LstrGetLength(word) == 0) return 0;
    const uint16_t c = LstrGetUnit(word, 0);
    const uint64_t tableAt = uint64_t(m_header[kGroupOff]) + uint64_t(c >> 8) * 4;
    if (!Inside(tableAt, 4)) return 0;
    const int32_t groupsAt = RdI32(m_image + tableAt);
    if (groupsAt <= 0 || !Inside(uint64_t(groupsAt), 2)) return 0;
    const int16_t groups = RdI16(m_image + groupsAt);
    if (groups < 0 || !Inside(uint64_t(groupsAt) + 2, uint64_t(groups) * kGroupSize)) return 0;
    const uint64_t mask = LstrGetLength(word) >= 2 ? uint64_t(1) << (LstrGetUnit(word, 1) & 63) : 1;
    for (int16_t g = 0; g < groups; ++g) {
        const uint8_t* group = m_image + groupsAt + 2 + size_t(g) * kGroupSize;
        const uint16_t gc = Rd16(group);
        if (gc > c) break;
        if (gc != c) continue;
        if (!(Rd64(group + 8) & mask)) return 0;
        const uint32_t firstWord = Rd32(group + 2), count = Rd16(group + 6);
        for (uint32_t w = firstWord; w < uint64_t(firstWord) + count; ++w) {
            if (w >= uint32_t(m_header[kWords])) return 0;
            const uint64_t at = uint64_t(m_header[kWordIndexOff]) + uint64_t(w) * 4;
            if (!Inside(at, 4)) return 0;
            if (SameText(GetWordText(RdI32(m_image + at)), word)) return 1;
        }
        return 0;
    }
    return 0;
}

int t_extDict::HasWords() {
    return IsReady() && m_header[kWords] > 0 ? 1 : 0;
}

const uint8_t* t_extDict::FindSortedEntry(const t_lstr* text) {
    if (!IsReady() || !m_image || !text) return nullptr;
    const uint64_t base = uint64_t(m_header[kInfoEnd]);
    int64_t lo = 0, hi = int64_t(m_header[kSorted]) - 1;
    while (lo <= hi) {
        const int64_t mid = (lo + hi) >> 1;
        const uint64_t at = uint64_t(m_header[kSortedOff]) + uint64_t(mid) * 4;
        if (!Inside(at, 4)) return nullptr;
        const uint64_t entry = base + Rd32(m_image + at);
        if (!Inside(entry, 4)) return nullptr;
        const t_lstr* stored = StringAt(entry + 4, m_size, 0);
        if (!stored) return nullptr;
        const int c = LstrCompare(text, stored);
        if (c == 0) return m_image + entry;
        if (c < 0)
            hi = mid - 1;
        else
            lo = mid + 1;
    }
    return nullptr;
}

const uint8_t* t_extDict::CellList(uint32_t* count) {
    if (m_cellListState == 0) {
        m_cellListState = 1;
        if (!Inside(64, 12) || Rd32(m_image + 64) != kTagExtension) return nullptr;
        const uint64_t area = Rd32(m_image + 68);
        const int32_t total = RdI32(m_image + 72);
        if (total < 1 || !Inside(area, uint64_t(total))) return nullptr;
        uint64_t pos = 0;
        while (pos < uint64_t(total)) {
            if (uint64_t(total) - pos < 8) return nullptr;
            const int32_t len = RdI32(m_image + area + pos);
            if (len < 4 || uint64_t(len) > uint64_t(total) - pos - 4) return nullptr;
            if (Rd32(m_image + area + pos + 4) == kTagCellList) {
                const uint64_t dataLen = uint64_t(len) - 4;
                const uint8_t* data = m_image + area + pos + 8;
                if (dataLen < 4) return nullptr;
                const uint32_t n = Rd32(data);
                if (n == 0 || uint64_t(n) * kCellNameRecordSize > dataLen - 4) return nullptr;
                m_cellList = data + 4;
                m_cellListCount = n;
                m_cellListState = 2;
                break;
            }
            pos += 4 + uint64_t(len);
        }
    }
    if (m_cellListState != 2) return nullptr;
    *count = m_cellListCount;
    return m_cellList;
}

namespace {
// A zero-terminated field of at most n UTF-16 units, widened.
std::wstring FieldText(const uint8_t* p, uint32_t n) {
    std::wstring out;
    for (uint32_t i = 0; i < n; ++i) {
        const uint16_t u = Rd16(p + 2 * i);
        if (u == 0) break;
        out.push_back(wchar_t(u));
    }
    return out;
}

void AppendListed(std::wstring& list, const std::wstring& item) {
    if (!list.empty()) list.push_back(L',');
    list += item;
}
}  // namespace

int t_extDict::GetCellNames(const t_lstr* codes, std::wstring& numbers, std::wstring& names) {
    if (!IsReady() || !m_image) return 0;
    uint32_t listed = 0;
    const uint8_t* list = CellList(&listed);
    if (!list) return 0;
    const uint32_t n = LstrGetByteLength(codes) / 4;
    const uint8_t* bytes = LstrGetBytes(codes);
    for (uint32_t i = 0; i < n; ++i) {
        wchar_t number[16];
        swprintf(number, 16, L"%d", int(Rd32(bytes + 4 * i) & 0xFFFFFF));
        AppendListed(numbers, number);
        for (uint32_t r = 0; r < listed; ++r) {
            const uint8_t* rec = list + size_t(r) * kCellNameRecordSize;
            if (FieldText(rec, 32) == number) {
                AppendListed(names, FieldText(rec + 64, 260));
                break;
            }
        }
    }
    return 1;
}

int t_extDict::GetWordCodes(const t_lstr* key, const t_lstr* word, std::vector<std::wstring>& out) {
    if (!IsReady()) return 0;
    const t_cellRecord* record = FindRecord(key, word);
    if (!record) return 0;
    const t_lstr* info = GetInfoText(record->infoOffset);
    if (!info) return 0;
    const uint8_t* bytes = LstrGetBytes(info);
    for (uint32_t i = 0; i < LstrGetByteLength(info) / 4u; ++i) {
        std::wstring text;
        if (FormatCellCode(Rd32(bytes + 4 * i), text)) out.push_back(text);
    }
    return 1;
}

bool FormatCellCode(uint32_t code, std::wstring& out) {
    const uint32_t high = code >> 24, number = code & 0xFFFFFF;
    wchar_t text[24];
    if (high == 16 || high == 1)
        swprintf(text, 24, L"%d", int(number));
    else if ((high >= 'A' && high <= 'Z') || (high >= 'a' && high <= 'z'))
        swprintf(text, 24, L"%c%d", wchar_t(high), int(number));
    else
        return false;
    out = text;
    return true;
}
