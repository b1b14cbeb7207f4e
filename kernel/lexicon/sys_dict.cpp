// The system word dictionary: attach-time validation of the flat image,
// record decoding, whole-word lookup, the composition check, the short-key
// table, and the word-tree cursor.
#include "kernel/lexicon/sys_dict.h"

#include <algorithm>
#include <cstring>

#include "kernel/lexicon/gram_stat.h"
#include "kernel/runtime/lstr.h"
#include "kernel/runtime/singleton.h"
#include "kernel/storage/table_format.h"

using n_tableFormat::Rd16;
using n_tableFormat::Rd32;
using n_tableFormat::RdI16;
using n_tableFormat::RdI32;
using namespace n_sysDict;

namespace {

// The stored text offset of a record and whether it ends its group; false
// for the gap between the two ranges, which no writer produces.
bool DecodeOffset(uint32_t raw, uint32_t* offset, bool* last) {
    const uint32_t v = raw & kOffsetMask;
    if (v >= kLastOfGroup) {
        *offset = v - kLastOfGroup;
        *last = true;
        return true;
    }
    if (v >= kMaxTextUnits) return false;
    *offset = v;
    *last = false;
    return true;
}

uint32_t ClassIndexOf(const uint8_t* rec) {
    return (Rd16(rec + 7) >> 11) + ((Rd32(rec + 2) >> 22) << 5);
}

}  // namespace

// The gram view points into this image: it must not outlive it.
t_sysDict::~t_sysDict() {
    if (m_image && t_singleton<t_gramInfo>::Exists()) {
        t_gramInfo& gram = t_singleton<t_gramInfo>::Get();
        if (gram.LiesIn(m_image, m_image + m_size)) gram.Detach();
    }
}

void t_sysDict::Clear() {
    m_image = nullptr;
    m_size = 0;
    m_date = 0;
    m_magic = 0;
    m_nodeCount = m_wordCount = m_textUnits = m_classCount = m_itemCount = 0;
    m_index = m_words = m_nodes = m_text = m_classes = m_shortKeys = m_items = nullptr;
    m_used = 0;
    m_netOfPath = 0;
}

const t_gramInfo* t_sysDict::GetGram() const {
    return IsReady() ? &t_singleton<t_gramInfo>::Get() : nullptr;
}

bool t_sysDict::Load(void* data, int32_t size) {
    SetReady(false);
    Clear();
    t_singleton<t_gramInfo>::Get().Detach();
    // A size of 0 says nothing about the image: refuse it rather than guess.
    if (!data || size <= 0 || uint32_t(size) < kWordsOffset) return false;
    const uint8_t* img = static_cast<const uint8_t*>(data);
    const int32_t date = RdI32(img), nodes = RdI32(img + 8), words = RdI32(img + 12),
                  text = RdI32(img + 16), classes = RdI32(img + 20), items = RdI32(img + 24);
    const uint32_t magic = Rd32(img + 4);
    if (magic != kMagic && magic != kMagicOld) return false;
    if (date < kMinDate || nodes < 0 || words <= 0 || text < 0 || classes < 0 || items < 0)
        return false;
    if (uint32_t(text) > kMaxTextUnits) return false;
    const uint64_t nodesAt = kWordsOffset + uint64_t(words) * kWordSize;
    const uint64_t textAt = nodesAt + uint64_t(nodes) * kNodeSize;
    const uint64_t classesAt = textAt + uint64_t(text) * 2;
    const uint64_t blockAt = classesAt + uint64_t(classes) * kClassSize;
    const uint64_t itemsAt = blockAt + kShortKeyBlockSize;
    const uint64_t used = itemsAt + uint64_t(items) * kShortItemSize;
    if (used > uint64_t(size)) return false;

    m_image = img;
    m_size = uint64_t(size);
    m_date = date;
    m_magic = magic;
    m_nodeCount = uint32_t(nodes);
    m_wordCount = uint32_t(words);
    m_textUnits = uint32_t(text);
    m_classCount = uint32_t(classes);
    m_itemCount = uint32_t(items);
    m_index = img + kIndexOffset;
    m_words = img + kWordsOffset;
    m_nodes = img + nodesAt;
    m_text = img + textAt;
    m_classes = img + classesAt;
    m_shortKeys = img + blockAt;
    m_items = img + itemsAt;
    m_used = used;
    if (!Validate()) {
        Clear();
        return false;
    }
    SetReady(true);
    const bool gram = t_singleton<t_gramInfo>::Get().Attach(img + used, img + size);
    if (!gram) {
        SetReady(false);
        Clear();
        return false;
    }
    MeasureNetOfPath();
    return true;
}

namespace {
// Rows of the image that MeasureNetOfPath looks at, at most.
constexpr uint32_t kNetSampleRows = 4096;
constexpr uint16_t kUnknownWordCost = 0x7FF;
}  // namespace

void t_sysDict::MeasureNetOfPath() {
    m_netOfPath = 0;
    const t_gramInfo* gram = GetGram();
    if (!gram) return;
    // The middle difference of a sample spread over the whole table, so
    // that a few clamped records do not move it.
    static thread_local int32_t diffs[kNetSampleRows];
    uint32_t count = 0;
    const uint32_t step = std::max<uint32_t>(1, m_wordCount / kNetSampleRows);
    for (uint32_t i = 0; i < m_wordCount && count < kNetSampleRows; i += step) {
        uint32_t off = 0, id = 0;
        uint16_t cost = 0;
        if (!GetWordRecord(i, &off, &cost, &id, nullptr) || id == 0 || cost >= kUnknownWordCost)
            continue;
        const t_lstr* text = GetTextAt(off);
        if (!text || LstrGetLength(text) < 2 || !gram->GetUnigram(id)) continue;
        const int32_t freq = GramGetUnigramFreq(gram, id);
        if (freq <= 0) continue;  // clamped at the floor
        diffs[count++] = int32_t(cost) - freq;
    }
    if (count == 0) return;
    std::nth_element(diffs, diffs + count / 2, diffs + count);
    m_netOfPath = uint16_t(std::clamp<int32_t>(diffs[count / 2], 0, kUnknownWordCost));
}

uint16_t t_sysDict::ListCost(uint16_t cost, uint32_t gramId, uint32_t chars) const {
    if (gramId != 0 || chars < 2 || cost >= kUnknownWordCost) return cost;
    return uint16_t(std::min<uint32_t>(uint32_t(cost) + m_netOfPath, kUnknownWordCost - 1));
}

// Bounds every offset the lookups later follow, so that no walk, record or
// text read can leave the image.
bool t_sysDict::Validate() const {
    for (uint32_t e = 0; e < kIndexEntries; ++e) {
        const uint8_t* p = m_index + uint64_t(e) * kIndexEntrySize;
        const uint32_t first = Rd32(p);
        const int32_t word = RdI32(p + 4);
        if (first != kNone && first >= m_nodeCount) return false;
        if (word < -1 || (word >= 0 && uint32_t(word) >= m_wordCount)) return false;
    }
    for (uint32_t n = 0; n < m_nodeCount; ++n) {
        const uint8_t* p = m_nodes + uint64_t(n) * kNodeSize;
        const int16_t skip = RdI16(p), id = RdI16(p + 2);
        const int32_t word = RdI32(p + 4);
        if (id < 0 || uint32_t(id) >= kIndexIds) return false;
        if (word < -1 || (word >= 0 && uint32_t(word) >= m_wordCount)) return false;
        if (skip < -1) return false;
        // A next sibling or a first child must exist.
        if (skip > 1 && uint64_t(n) + uint64_t(skip) >= m_nodeCount) return false;
        if ((skip == 0 || skip > 1) && uint64_t(n) + 1 >= m_nodeCount) return false;
        if (skip == 1 && uint64_t(n) + 1 >= m_nodeCount) return false;
    }
    for (uint32_t i = 0; i < m_wordCount; ++i) {
        const uint8_t* rec = m_words + uint64_t(i) * kWordSize;
        uint32_t off;
        bool last;
        if (!DecodeOffset(Rd32(rec + 2), &off, &last)) return false;
        if (uint64_t(off) + 1 > m_textUnits) return false;
        const uint64_t units = Rd16(m_text + 2ull * off) / 2;
        if ((Rd16(m_text + 2ull * off) & 1) || uint64_t(off) + 1 + units > m_textUnits)
            return false;
        const uint32_t cls = ClassIndexOf(rec);
        if (cls != 0 && cls >= m_classCount) return false;
    }
    for (uint32_t k = 0; k < kShortKeyEntries; ++k) {
        const uint8_t* p = m_shortKeys + uint64_t(k) * kShortKeyEntrySize;
        if (uint64_t(Rd32(p)) + p[4] > m_itemCount) return false;
    }
    for (uint32_t i = 0; i < m_itemCount; ++i) {
        const uint8_t* it = m_items + uint64_t(i) * kShortItemSize;
        if (Rd16(it + kShortItemIds) > 4 || Rd16(it + kShortItemText) > 4) return false;
    }
    return true;
}

// ---------------------------------------------------------------- records

bool t_sysDict::GetIndexEntry(uint32_t e, uint32_t* firstNode, int32_t* firstWord,
                              uint16_t* mask) const {
    if (!IsReady() || e >= kIndexEntries) return false;
    const uint8_t* p = m_index + uint64_t(e) * kIndexEntrySize;
    if (firstNode) *firstNode = Rd32(p);
    if (firstWord) *firstWord = RdI32(p + 4);
    if (mask) *mask = Rd16(p + 8);
    return true;
}

bool t_sysDict::GetNode(uint32_t n, int16_t* skip, int16_t* id, int32_t* firstWord) const {
    if (!IsReady() || n >= m_nodeCount) return false;
    const uint8_t* p = m_nodes + uint64_t(n) * kNodeSize;
    if (skip) *skip = RdI16(p);
    if (id) *id = RdI16(p + 2);
    if (firstWord) *firstWord = RdI32(p + 4);
    return true;
}

int t_sysDict::GetWordRecord(uint32_t i, uint32_t* textOffset, uint16_t* cost, uint32_t* gramId,
                             uint8_t* more) const {
    if (more) *more = 0;
    if (!IsReady() || i >= m_wordCount) return 0;
    const uint8_t* rec = m_words + uint64_t(i) * kWordSize;
    uint32_t off;
    bool last;
    if (!DecodeOffset(Rd32(rec + 2), &off, &last)) return 0;
    if (textOffset) *textOffset = off;
    if (cost) *cost = Rd16(rec + 7) & 0x7FF;
    if (gramId) *gramId = Rd16(rec) | ((rec[6] & kFlagGramHigh) ? 0x10000u : 0u);
    if (more) *more = (!last && i < m_wordCount - 1) ? 1 : 0;
    return 1;
}

uint8_t t_sysDict::GetWordFlags(uint32_t i) const {
    if (!IsReady() || i >= m_wordCount) return 0;
    return m_words[uint64_t(i) * kWordSize + 6];
}

const t_lstr* t_sysDict::GetTextAt(uint32_t off) const {
    if (!IsReady() || uint64_t(off) + 1 > m_textUnits) return nullptr;
    const uint64_t units = Rd16(m_text + 2ull * off) / 2;
    if (uint64_t(off) + 1 + units > m_textUnits) return nullptr;
    return reinterpret_cast<const t_lstr*>(m_text + 2ull * off);
}

const t_lstr* t_sysDict::GetWordText(uint32_t i) const {
    uint32_t off;
    if (!GetWordRecord(i, &off, nullptr, nullptr, nullptr)) return nullptr;
    return GetTextAt(off);
}

int t_sysDict::GetWordClassInfo(uint32_t i, uint8_t out[5]) const {
    if (out) out[0] = 0;
    if (!IsReady() || !out || i >= m_wordCount) return 0;
    const uint32_t cls = ClassIndexOf(m_words + uint64_t(i) * kWordSize);
    if (cls == 0 || cls >= m_classCount) return 0;
    std::memcpy(out, m_classes + uint64_t(cls) * kClassSize, kClassSize);
    return 1;
}

int t_sysDict::GetShortKeyEntry(int key, uint32_t* start, uint8_t* count) const {
    if (!IsReady() || key < 0 || uint32_t(key) >= kShortKeyEntries) return 0;
    const uint8_t* p = m_shortKeys + uint64_t(key) * kShortKeyEntrySize;
    if (start) *start = Rd32(p);
    if (count) *count = p[4];
    return 1;
}

const uint8_t* t_sysDict::GetShortKeyItem(uint32_t i) const {
    if (!IsReady() || i >= m_itemCount) return nullptr;
    return m_items + uint64_t(i) * kShortItemSize;
}

// ---------------------------------------------------------------- whole words

int t_sysDict::FindWordEx(const t_lstr* ids, const t_lstr* text, uint32_t* wordIndex,
                          uint32_t* textOffset, uint16_t* cost, uint32_t* gramId) const {
    if (!IsReady() || !ids || !text) return 0;
    const uint32_t n = LstrGetLength(ids);
    if (n == 0) return 0;
    t_sysDictCursor c(this);
    int words = 0;
    for (uint32_t i = 0; i < n; ++i) {
        uint8_t stepped = 0;
        words = c.PushSyllable(LstrGetUnit(ids, i), &stepped);
        if (!stepped) return 0;
    }
    if (!words || c.word < 0) return 0;
    for (uint32_t i = uint32_t(c.word); i < m_wordCount; ++i) {
        uint32_t off, gram;
        uint16_t cst;
        uint8_t more;
        if (!GetWordRecord(i, &off, &cst, &gram, &more)) return 0;
        if (LstrCompare(GetTextAt(off), text) == 0 && GetTextAt(off)) {
            if (wordIndex) *wordIndex = i;
            if (textOffset) *textOffset = off;
            if (cost) *cost = cst;
            if (gramId) *gramId = gram;
            return 1;
        }
        if (!more) break;
    }
    return 0;
}

int t_sysDict::FindWord(const t_lstr* ids, const t_lstr* text, uint32_t* wordIndex,
                        uint32_t* textOffset, uint32_t* gramId) const {
    return FindWordEx(ids, text, wordIndex, textOffset, nullptr, gramId);
}

int t_sysDict::FindSubWord(const t_lstr* ids, const t_lstr* text, int first, int last,
                           uint32_t* wordIndex) const {
    if (!IsReady() || !ids || !text || first < 0 || last < first || last - first + 1 > 10) return 0;
    if (uint32_t(last) >= LstrGetLength(ids) || uint32_t(last) >= LstrGetLength(text)) return 0;
    uint8_t idBuf[2 + 20], textBuf[2 + 20];
    const uint32_t n = uint32_t(last - first + 1);
    n_tableFormat::Wr16(idBuf, uint16_t(2 * n));
    n_tableFormat::Wr16(textBuf, uint16_t(2 * n));
    std::memcpy(idBuf + 2, LstrGetBytes(ids) + 2 * first, 2 * n);
    std::memcpy(textBuf + 2, LstrGetBytes(text) + 2 * first, 2 * n);
    return FindWord(reinterpret_cast<const t_lstr*>(idBuf),
                    reinterpret_cast<const t_lstr*>(textBuf), wordIndex, nullptr, nullptr);
}

int t_sysDict::SubWordHasClass(const t_lstr* ids, const t_lstr* text, int first, int last,
                               uint32_t value, bool exact) const {
    uint32_t w;
    if (!FindSubWord(ids, text, first, last, &w)) return 0;
    uint8_t cls[5];
    if (!GetWordClassInfo(w, cls)) return 0;
    const uint32_t bits = Rd32(cls);
    return exact ? ((bits & 7) == value) : ((bits & 0x38 & value) != 0);
}

int t_sysDict::SubWordsHaveClasses(const t_lstr* ids, const t_lstr* text, int first1, int last1,
                                   uint32_t value1, bool exact1, int first2, int last2,
                                   uint32_t value2, bool exact2) const {
    return SubWordHasClass(ids, text, first1, last1, value1, exact1) &&
           SubWordHasClass(ids, text, first2, last2, value2, exact2);
}

int t_sysDict::CheckWordComposition(const t_lstr* ids, const t_lstr* text) const {
    if (!IsReady() || !ids || !text) return 0;
    const int n = LstrGetLength(ids);
    if (n < 2 || n > 4 || LstrGetLength(text) != uint32_t(n)) return 0;
    if (FindWord(ids, text, nullptr, nullptr, nullptr)) return 1;
    // Splits at one syllable boundary: both parts system words, one of them
    // longer than a single character (two single characters prove nothing).
    for (int cut = 1; cut < n; ++cut) {
        if (cut == 1 && n == 2) continue;
        if (FindSubWord(ids, text, 0, cut - 1, nullptr) &&
            FindSubWord(ids, text, cut, n - 1, nullptr))
            return 1;
    }
    return 0;
}

// ---------------------------------------------------------------- cursor

int t_sysDictCursor::PushSyllable(uint16_t id, uint8_t* stepped) {
    if (stepped) *stepped = 0;
    const t_sysDict* d = dictionary;
    if (!d || !d->IsReady() || id >= kIndexIds) return 0;
    uint32_t first;
    int32_t w;
    uint16_t m;
    switch (state) {
        case 0:
            if (!d->GetIndexEntry(kRootBase + id, &first, &w, &m)) return 0;
            if (w < 0 && m == 0) return 0;
            entry = kRootBase + id;
            firstId = int16_t(id);
            node = -1;
            word = w;
            mask = m;
            hasChildren = m != 0;
            state = 1;
            break;
        case 1: {
            const uint32_t e = uint32_t(id) * kIndexIds + uint32_t(firstId);
            if (!d->GetIndexEntry(e, &first, &w, &m)) return 0;
            if (w < 0 && first == n_sysDict::kNone) return 0;
            entry = e;
            node = -1;
            word = w;
            mask = first != n_sysDict::kNone ? m : 0;
            hasChildren = mask != 0;
            state = 2;
            break;
        }
        default: {
            if (state > kMaxState) return 0;
            uint32_t n;
            if (state == 2) {
                if (!(mask & (1u << (id & 15)))) return 0;
                if (!d->GetIndexEntry(entry, &first, nullptr, nullptr) || first == n_sysDict::kNone)
                    return 0;
                n = first;
            } else {
                if (!hasChildren || node < 0) return 0;
                n = uint32_t(node) + 1;
            }
            int16_t skip, nid;
            int32_t nw;
            for (;;) {
                if (!d->GetNode(n, &skip, &nid, &nw)) return 0;
                if (nid == int16_t(id)) break;
                if (int16_t(id) < nid || skip < 1) return 0;
                n += uint32_t(skip);
            }
            if (state >= 3) stack[state - 3] = uint32_t(node);
            node = int32_t(n);
            word = nw;
            hasChildren = (skip > 1 || skip == 0) ? 1 : 0;
            ++state;
            break;
        }
    }
    if (stepped) *stepped = 1;
    return word >= 0 ? 1 : 0;
}

int t_sysDictCursor::PopSyllable() {
    const t_sysDict* d = dictionary;
    if (state == 0 || !d) return 0;
    uint32_t first;
    int32_t w;
    uint16_t m;
    switch (state) {
        case 1:
            state = 0;
            node = word = -1;
            mask = 0;
            hasChildren = 0;
            break;
        case 2:
            entry = n_sysDict::kRootBase + uint32_t(uint16_t(firstId));
            if (!d->GetIndexEntry(entry, &first, &w, &m)) return 0;
            state = 1;
            node = -1;
            word = w;
            mask = m;
            hasChildren = m != 0;
            break;
        case 3:
            if (!d->GetIndexEntry(entry, &first, &w, &m)) return 0;
            state = 2;
            node = -1;
            word = w;
            mask = first != n_sysDict::kNone ? m : 0;
            hasChildren = mask != 0;
            break;
        default: {
            const uint32_t saved = stack[state - 4];
            int32_t nw;
            if (!d->GetNode(saved, nullptr, nullptr, &nw)) return 0;
            --state;
            node = int32_t(saved);
            word = nw;
            hasChildren = 1;
            break;
        }
    }
    return 1;
}

bool t_sysDictCursor::HasContinuation() const {
    if (state == 0) return false;
    if (state <= 2) return mask != 0;
    return hasChildren != 0;
}

// Preorder walk of the sibling lists below the position. Every step moves
// forward in the node array and the steps are budgeted, so a damaged tree
// can neither loop nor read outside it.
int t_sysDictCursor::Walk(const t_lstr* path, uint32_t* wordIndex, t_lstr** paths,
                          t_scopeHeap* heap, int max) const {
    const t_sysDict* d = dictionary;
    if (!d || !d->IsReady() || max <= 0 || state < 2) return 0;
    uint32_t start;
    if (state == 2) {
        uint32_t first;
        if (mask == 0 || !d->GetIndexEntry(entry, &first, nullptr, nullptr) ||
            first == n_sysDict::kNone)
            return 0;
        start = first;
    } else {
        if (!hasChildren || node < 0) return 0;
        start = uint32_t(node) + 1;
    }
    const uint32_t base = path ? LstrGetLength(path) : 0;
    if (base >= uint32_t(kMaxPathIds)) return 0;
    uint16_t ids[kMaxPathIds];
    for (uint32_t i = 0; i < base; ++i) ids[i] = LstrGetUnit(path, i);

    // frames[i]: the current node of the sibling list at depth base + i + 1.
    uint32_t frames[kMaxPathIds];
    size_t top = 0;
    frames[0] = start;
    uint64_t budget = uint64_t(d->GetNodeCount()) + 1;
    int count = 0;
    bool open = true;
    while (open && count < max) {
        if (budget-- == 0) break;
        int16_t skip, id;
        int32_t w;
        if (!d->GetNode(frames[top], &skip, &id, &w)) break;
        const size_t depth = base + top + 1;
        if (depth > size_t(kMaxPathIds)) break;
        ids[depth - 1] = uint16_t(id);
        if (w >= 0) {
            if (wordIndex) wordIndex[count] = uint32_t(w);
            if (paths) paths[count] = heap ? heap->MakeLstr(ids, depth * 2) : nullptr;
            ++count;
        }
        // Next: the first child, else the next sibling here or of an ancestor.
        if ((skip > 1 || skip == 0) && depth < size_t(kMaxPathIds)) {
            frames[top + 1] = frames[top] + 1;
            ++top;
            continue;
        }
        for (;;) {
            int16_t s;
            if (!d->GetNode(frames[top], &s, nullptr, nullptr)) {
                open = false;
                break;
            }
            if (s >= 1) {
                frames[top] += uint32_t(s);
                break;
            }
            if (top == 0) {
                open = false;
                break;
            }
            --top;
        }
    }
    return count;
}

int t_sysDictCursor::GetWords(const t_lstr* path, uint32_t* wordIndex, t_lstr** paths,
                              t_scopeHeap* heap, int max) const {
    if (!heap || !paths) return 0;
    return Walk(path, wordIndex, paths, heap, max);
}

int t_sysDictCursor::GetSubtreeWordIndexes(uint32_t* out, int max) const {
    return Walk(nullptr, out, nullptr, nullptr, max);
}
