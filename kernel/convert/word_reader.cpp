// Word readers over a min-heap of per-arc cursors, the segment structure,
// and the pinyin tip pass. One conversion on one thread.
#include "kernel/convert/word_reader.h"

#include <algorithm>
#include <cstring>
#include <iterator>
#include <string>
#include <vector>

#include "kernel/lexicon/cell_dict.h"
#include "kernel/lexicon/gram_stat.h"
#include "kernel/lexicon/key_py_map.h"
#include "kernel/lexicon/py_dict.h"
#include "kernel/lexicon/small_dicts.h"
#include "kernel/lexicon/small_dicts_arena.h"
#include "kernel/lexicon/sys_dict.h"
#include "kernel/runtime/byte_order.h"
#include "kernel/runtime/cand_word.h"
#include "kernel/runtime/lstr.h"
#include "kernel/runtime/scope_heap.h"
#include "kernel/userdict/usr_dict_v3.h"

namespace {

uint16_t ClampCost(int32_t c) {
    return uint16_t(std::clamp(c, 0, 65535));
}

// The lowest unigram value a node's words are measured against.
constexpr int32_t kUnigramStart = 1000;

}  // namespace

// ---- segment structure ----

void t_segmentNodes::Init(int capacity, t_scopeHeap* arena) {
    m_arena = arena;
    m_capacity = std::clamp(capacity, 0, kMaxInputChars);
    Reset(0);
}

void t_segmentNodes::Reset(int count) {
    m_count = std::clamp(count, 0, m_capacity);
    m_nodes = 0;
    std::fill(std::begin(m_heads), std::end(m_heads), nullptr);
    std::fill(std::begin(m_tails), std::end(m_tails), nullptr);
}

t_segWordNode* t_segmentNodes::Create(const t_wordArc* arc, uint32_t index, uint32_t value,
                                      uint16_t cost, int position, uint32_t extra) {
    if (!m_arena || position < 0 || position > m_count) return nullptr;
    auto* node = static_cast<t_segWordNode*>(ArenaAllocAligned(*m_arena, sizeof(t_segWordNode)));
    if (!node) return nullptr;
    *node = {};
    node->arc = arc;
    node->index = index;
    node->value = value;
    node->cost = cost;
    node->flagWord = extra;
    if (arc) {
        node->length = arc->syllables;
        node->positionMark = uint8_t((arc->start == 0 ? kSegMarkFromStart : 0) |
                                     (arc->end == m_count ? kSegMarkToEnd : 0));
    }
    if (m_tails[position])
        m_tails[position]->next = node;
    else
        m_heads[position] = node;
    m_tails[position] = node;
    ++m_nodes;
    return node;
}

// ---- readers ----

// The next word of one arc: a system group's records, a short-key run, a
// user group's words (cost = -frequency, so the most used comes first) or a
// cell item's records.
struct t_wordReader::t_cursor {
    const t_wordArc* arc;
    uint32_t index;
    uint32_t value;
    int32_t cost;
    uint32_t pos;    // entries taken (user, cell, abbreviation)
    uint32_t total;  // entries there are
    bool more;       // system: a further record of the group follows
    uint32_t* textIds;
    uint16_t* freqs;
    uint16_t* checksums;
    const t_cellRecord* records;
    uint16_t checksum;
};

void t_wordReader::Bind(const t_convertDicts& dicts, t_segmentNodes* segments,
                        const t_inputLattice* lattice, i_nameContext* names) {
    m_dicts = dicts;
    m_segments = segments;
    m_lattice = lattice;
    m_names = names;
    m_arena = nullptr;
    m_namesWanted = false;
}

void t_wordReader::SetNamesWanted(bool on) {
    m_namesWanted = on && m_lattice && m_lattice->FewestSyllables(m_lattice->GetLength()) <= 4;
}

bool t_wordReader::OpenCursor(const t_wordArc* arc, bool namesOnly, t_cursor* c) {
    *c = {};
    c->arc = arc;
    c->pos = 0;
    switch (arc->source) {
        case kArcSourceSystem:
            if (!m_dicts.sys || !m_dicts.sys->IsReady()) return false;
            c->index = arc->value - 1;
            c->more = true;
            return Advance(c);
        case kArcSourceAbbreviation:
            if (namesOnly || !m_dicts.sys || !m_dicts.sys->IsReady() || arc->syllables <= 0)
                return false;
            c->total = uint32_t(arc->syllables);
            return Advance(c);
        case kArcSourceUser: {
            if (namesOnly || !m_dicts.user || !m_dicts.user->IsLoaded() || !m_arena) return false;
            c->textIds = static_cast<uint32_t*>(m_arena->Alloc(kMaxUserWords * sizeof(uint32_t)));
            c->freqs = static_cast<uint16_t*>(m_arena->Alloc(kMaxUserWords * sizeof(uint16_t)));
            c->checksums = static_cast<uint16_t*>(m_arena->Alloc(kMaxUserWords * sizeof(uint16_t)));
            if (!c->textIds || !c->freqs || !c->checksums) return false;
            const int n =
                m_dicts.user->GetWords(0, int32_t(arc->value), c->textIds, nullptr, c->checksums,
                                       c->freqs, nullptr, nullptr, nullptr, kMaxUserWords);
            c->total = uint32_t(std::clamp(n, 0, kMaxUserWords));
            return Advance(c);
        }
        case kArcSourceCell:
            if (namesOnly || !m_dicts.cell || !m_dicts.cell->IsReady()) return false;
            c->total = m_dicts.cell->GetItem(int32_t(arc->value), &c->records);
            return c->records && Advance(c);
        default:
            return false;
    }
}

bool t_wordReader::Advance(t_cursor* c) {
    const t_wordArc* arc = c->arc;
    switch (arc->source) {
        case kArcSourceSystem: {
            if (!c->more) return false;
            uint32_t off = 0, gram = 0;
            uint16_t cost = 0;
            uint8_t more = 0;
            if (!m_dicts.sys->GetWordRecord(c->index + 1, &off, &cost, &gram, &more)) return false;
            ++c->index;
            c->cost = cost;
            c->value = gram;
            c->more = more != 0;
            return true;
        }
        case kArcSourceAbbreviation: {
            if (c->pos >= c->total) return false;
            const uint8_t* item = m_dicts.sys->GetShortKeyItem(arc->value + c->pos);
            if (!item) return false;
            const uint16_t field = Rd16(item + n_sysDict::kShortItemCost);
            c->index = arc->value + c->pos;
            c->cost = field & 0x7FFF;
            c->value = Rd16(item + n_sysDict::kShortItemGram) + ((field & 0x8000) ? 0x10000u : 0);
            ++c->pos;
            return true;
        }
        case kArcSourceUser:
            if (c->pos >= c->total) return false;
            c->index = c->textIds[c->pos];
            c->value = c->freqs[c->pos];
            c->checksum = c->checksums[c->pos];
            c->cost = -int32_t(c->freqs[c->pos]);
            ++c->pos;
            return true;
        case kArcSourceCell:
            if (c->pos >= c->total) return false;
            c->index = c->pos;
            c->value = c->records[c->pos].frequency;
            c->cost = std::min(arc->power, 65535);
            ++c->pos;
            return true;
        default:
            return false;
    }
}

void t_wordReader::Push(t_cursor** heap, int& size, t_cursor* c) {
    int i = size++;
    heap[i] = c;
    while (i > 0) {
        const int parent = (i - 1) / 2;
        if (heap[parent]->cost <= heap[i]->cost) break;
        std::swap(heap[parent], heap[i]);
        i = parent;
    }
}

t_wordReader::t_cursor* t_wordReader::Pop(t_cursor** heap, int& size) {
    t_cursor* top = heap[0];
    heap[0] = heap[--size];
    for (int i = 0;;) {
        const int l = 2 * i + 1, r = l + 1;
        int m = i;
        if (l < size && heap[l]->cost < heap[m]->cost) m = l;
        if (r < size && heap[r]->cost < heap[m]->cost) m = r;
        if (m == i) break;
        std::swap(heap[m], heap[i]);
        i = m;
    }
    return top;
}

int t_wordReader::Step(int p, bool last) {
    return Read(p, last, false);
}
int t_wordReader::NameStep(int p, bool last) {
    return Read(p, last, true);
}

int t_wordReader::Read(int p, bool last, bool names) {
    if (!m_segments || !m_lattice || p < 0 || p > m_lattice->GetLength()) return 0;
    m_arena = m_segments->Arena();
    const t_gramInfo* gram =
        m_dicts.sys && m_dicts.sys->IsReady() ? m_dicts.sys->GetGram() : nullptr;
    const int nearLimit = names ? 3 : 2;
    int made = 0;
    for (const t_wordArcNode* node = m_lattice->NodesEndingAt(p); node; node = node->next) {
        if (last && node->start == 0) continue;
        const int32_t off = m_lattice->FewestWords(node->start) + m_lattice->WordsToEnd(p) -
                            m_lattice->WordsToEnd(0);
        if (off >= nearLimit) continue;
        const int limit = names        ? kWordsNames
                          : m_gameKeys ? kWordsGameKeys
                                       : (node->arcCount < 4 ? kWordsFewArcs : kWordsManyArcs);
        // One cursor per arc; abbreviated input gives nodes of hundreds of arcs.
        const int arcs = std::max(node->arcCount, 0);
        auto* cursors = static_cast<t_cursor*>(
            m_arena ? ArenaAllocAligned(*m_arena, sizeof(t_cursor) * size_t(arcs)) : nullptr);
        auto* heap = static_cast<t_cursor**>(
            m_arena ? ArenaAllocAligned(*m_arena, sizeof(t_cursor*) * size_t(arcs)) : nullptr);
        if (!cursors || !heap) continue;
        int size = 0, opened = 0;
        for (const t_wordArc* a = node->arcs; a && opened < arcs; a = a->next) {
            if (names && a->source != kArcSourceSystem) continue;
            if (OpenCursor(a, names, &cursors[opened])) Push(heap, size, &cursors[opened++]);
        }
        int32_t lowest = kUnigramStart;
        t_cursor user = {}, cell = {};
        bool haveUser = false, haveCell = false, abbreviationSeen = false;
        for (int taken = 0; taken < limit && size > 0; ++taken) {
            t_cursor* c = Pop(heap, size);
            const t_wordArc* arc = c->arc;
            switch (arc->source) {
                case kArcSourceAbbreviation: {
                    if (abbreviationSeen && c->value == 0) break;
                    abbreviationSeen = true;
                    t_segWordNode* w =
                        m_segments->Create(arc, c->index, c->value, ClampCost(c->cost), p, 0);
                    if (!w) break;
                    ++made;
                    w->type = kSegWordAbbreviation;
                    const uint8_t* item = m_dicts.sys->GetShortKeyItem(c->index);
                    w->length = item ? Rd16(item + n_sysDict::kShortItemIds) / 2 : 0;
                    lowest =
                        std::min(lowest, c->value ? GramGetUnigramFreq(gram, c->value) : c->cost);
                    break;
                }
                case kArcSourceSystem: {
                    t_segWordNode* w =
                        m_segments->Create(arc, c->index, c->value, ClampCost(c->cost), p, 0);
                    if (!w) break;
                    ++made;
                    w->type = kSegWordSystem;
                    uint8_t cls[5];
                    if ((names || m_namesWanted) && m_names &&
                        m_dicts.sys->GetWordClassInfo(c->index, cls) &&
                        (names || arc->syllables == 1))
                        m_names->OnNameWord(w, Rd32(cls));
                    lowest =
                        std::min(lowest, c->value ? GramGetUnigramFreq(gram, c->value) : c->cost);
                    break;
                }
                case kArcSourceUser:
                    if (c->cost < 0 && (!haveUser || c->cost < user.cost)) {
                        user = *c;
                        haveUser = true;
                    }
                    break;
                case kArcSourceCell:
                    if (!haveCell || c->value >= cell.value) {
                        cell = *c;
                        haveCell = true;
                    }
                    break;
            }
            if (m_gameKeys && !names) break;  // the first word only
            if (Advance(c)) Push(heap, size, c);
        }
        if (haveUser) {
            t_segWordNode* w = m_segments->Create(user.arc, user.index, user.value,
                                                  ClampCost(lowest - 10), p, user.checksum);
            if (w) {
                w->type = kSegWordUser;
                ++made;
            }
        }
        if (haveCell) {
            t_segWordNode* w =
                m_segments->Create(cell.arc, cell.index, cell.value, ClampCost(cell.cost), p, 0);
            if (w) {
                w->type = kSegWordCell;
                ++made;
            }
        }
    }
    return made;
}

// ---- pinyin tips ----

namespace {

// "zi(zhi)": the typed keys cut at the syllable ends, each syllable typed
// by a fuzzy spelling followed by the syllable it stands for. Null when no
// syllable was typed that way or the record's positions do not fit the input.
const t_lstr* KeyTip(const t_convertDicts& dicts, t_scopeHeap* arena, const t_candWord* r,
                     const wchar_t* input, int inputLength) {
    const int ids = LstrGetLength(r->syllableIds), ends = LstrGetLength(r->segmentList);
    const int n = std::min(ids, ends);
    if (n < 1) return nullptr;
    std::u16string out;
    bool any = false;
    int prev = 0;
    wchar_t key[kMaxPositions + 1];
    for (int k = 0; k < n; ++k) {
        const int end = LstrGetUnit(r->segmentList, size_t(k));
        if (end < prev || end > inputLength) return nullptr;
        int stop = end;
        while (stop > prev && input[stop - 1] == L'\'') --stop;
        const int len = std::min(stop - prev, kMaxPositions);
        for (int i = 0; i < len; ++i) {
            key[i] = input[prev + i];
            out.push_back(char16_t(input[prev + i]));
        }
        key[len] = 0;
        const int id = LstrGetUnit(r->syllableIds, size_t(k));
        if (len > 0 && dicts.keyMap->IsKeyMappedToPy(key, id)) {
            const t_lstr* spelling = dicts.py->GetSyllableString(int16_t(id));
            if (spelling) {
                out.push_back(u'(');
                for (int i = 0; i < LstrGetLength(spelling); ++i)
                    out.push_back(char16_t(LstrGetUnit(spelling, size_t(i))));
                out.push_back(u')');
                any = true;
            }
        }
        prev = end;
    }
    if (!any) return nullptr;
    for (int i = prev; i < inputLength; ++i) out.push_back(char16_t(input[i]));
    return arena->MakeLstr(out.data(), out.size() * 2);
}

}  // namespace

namespace {

bool SameUnits(const t_lstr* a, const t_lstr* b) {
    const uint32_t n = LstrGetByteLength(a);
    return a == b ||
           (n == LstrGetByteLength(b) && std::memcmp(LstrGetBytes(a), LstrGetBytes(b), n) == 0);
}

}  // namespace

int AddPinyinTips(const t_convertDicts& dicts, t_scopeHeap* arena, bool firstTip, bool secondTip,
                  t_candWord** results, int count, int pageStart, int32_t* threshold,
                  const wchar_t* input, int inputLength) {
    if (!arena || !results || count <= 0) return 0;
    int given = 0;
    if (firstTip) {
        if (!dicts.tip || !dicts.tip->IsReady()) return 0;
        // The records of one reading share its syllables, and a long page
        // holds thousands of them: the key's tips are looked up once.
        std::vector<const uint8_t*> rows;
        const t_lstr* key = nullptr;
        bool keyHasTips = false;
        for (int i = 0; i < count; ++i) {
            t_candWord* r = results[i];
            if (!r || LstrGetLength(r->syllableIds) == 0 || !r->text) continue;
            if (!key || !SameUnits(key, r->syllableIds)) {
                key = r->syllableIds;
                keyHasTips = dicts.tip->GetTipRows(key, &rows);
            }
            const t_lstr* tip = keyHasTips ? dicts.tip->GetTipAmong(rows, r->text) : nullptr;
            if (!tip) continue;
            t_candWord* copy = t_candWord::NewCopy(*arena, r);
            if (!copy) break;
            copy->furtherText = tip;
            results[i] = copy;
            ++given;
        }
        return given;
    }
    if (!secondTip || !threshold || !input || inputLength < 0 || !dicts.keyMap || !dicts.py ||
        !dicts.keyMap->IsReady() || !dicts.py->IsReady())
        return 0;
    for (int i = 0; i < count; ++i) {
        t_candWord* r = results[i];
        if (!r || !r->segmentList || *threshold <= pageStart + i) continue;
        if (const t_lstr* tip = KeyTip(dicts, arena, r, input, inputLength)) {
            r->furtherText = tip;
            *threshold = pageStart + i;
            ++given;
        }
    }
    return given;
}
