// The word lattice: adding arcs with their power and word tables, the
// abbreviation arcs of a one- or two-letter tail, pruning and the
// words-to-end counts. One conversion on one thread.
#include "kernel/convert/input_lattice.h"

#include <algorithm>
#include <cmath>
#include <iterator>

#include "kernel/lexicon/small_dicts_arena.h"
#include "kernel/lexicon/syllable_table.h"
#include "kernel/lexicon/sys_dict.h"
#include "kernel/runtime/lstr.h"
#include "kernel/runtime/scope_heap.h"

namespace {

bool HasLetterUnit(const t_lstr* ids) {
    const int n = LstrGetLength(ids);
    for (int i = 0; i < n; ++i)
        if (LstrGetUnit(ids, size_t(i)) >= kSyllableCount) return true;
    return false;
}

bool IsLower(wchar_t c) {
    return c >= L'a' && c <= L'z';
}

}  // namespace

int32_t ArcPower(float p) {
    if (p >= 0.8f) return 0;
    if (p <= 0.000001f) return 1966;
    return int32_t(std::log(double(p)) / -kNatsPerCostUnit);
}

t_inputLattice::t_inputLattice(t_scopeHeap* nodeArena, t_scopeHeap* arcArena)
    : m_nodeArena(nodeArena), m_arcArena(arcArena) {}

void t_inputLattice::Reset(int n) {
    m_n = std::clamp(n, 0, kMaxInputChars);
    m_nodeCount = m_arcCount = 0;
    std::fill(std::begin(m_heads), std::end(m_heads), nullptr);
    std::fill(std::begin(m_tails), std::end(m_tails), nullptr);
    std::fill(std::begin(m_wordsToEnd), std::end(m_wordsToEnd), 0);
    std::fill(std::begin(m_fewestWords), std::end(m_fewestWords), 0);
    std::fill(std::begin(m_fewestSyllables), std::end(m_fewestSyllables), 0);
    m_farthest = 0;
    m_wholeOneSyllable = m_wholeConfident = m_abbreviationAdded = m_shuangPin = false;
}

t_wordArc* t_inputLattice::AddArc(int start, int end, uint32_t value, const t_lstr* ids,
                                  const t_lstr* positions, uint32_t flags, uint8_t source,
                                  int32_t syllables, uint32_t kind, uint8_t forecast, float prob) {
    if (!Valid(start) || !Valid(end) || end <= start || syllables < 0 || !m_nodeArena ||
        !m_arcArena)
        return nullptr;
    t_wordArcNode* node = m_tails[end];
    if (!node || node->start != start) {
        node = static_cast<t_wordArcNode*>(ArenaAllocAligned(*m_nodeArena, sizeof(t_wordArcNode)));
        if (!node) return nullptr;
        *node = {start, end, nullptr, nullptr, 0};
        if (m_tails[end])
            m_tails[end]->next = node;
        else
            m_heads[end] = node;
        m_tails[end] = node;
        ++m_nodeCount;
    }
    auto* arc = static_cast<t_wordArc*>(ArenaAllocAligned(*m_arcArena, sizeof(t_wordArc)));
    if (!arc) return nullptr;
    *arc = {};
    arc->start = start;
    arc->end = end;
    arc->source = source;
    arc->value = value;
    arc->ids = ids;
    arc->positions = positions;
    arc->flags = flags;
    arc->kind = kind;
    arc->prob = prob;
    arc->syllables = syllables;
    arc->forecast = forecast;
    arc->next = node->arcs;
    node->arcs = arc;
    ++node->arcCount;
    ++m_arcCount;

    if (start == 0 && end == m_n) {
        if (syllables == 1) m_wholeOneSyllable = true;
        if (prob > 0.99f && ids && !HasLetterUnit(ids)) m_wholeConfident = true;
    }
    if (source == kArcSourceUser || source == kArcSourceSystem || source == kArcSourceCell) {
        arc->power = ArcPower(prob);
        // Only a start that a word path reaches passes its counts on.
        if (start == 0 || m_fewestWords[start] != 0) {
            const int32_t words = start == 0 ? 1 : m_fewestWords[start] + 1;
            if (m_fewestWords[end] == 0 || words < m_fewestWords[end]) m_fewestWords[end] = words;
            const int32_t sylls = (start == 0 ? 0 : m_fewestSyllables[start]) + syllables;
            if (m_fewestSyllables[end] == 0 || sylls < m_fewestSyllables[end])
                m_fewestSyllables[end] = sylls;
            m_farthest = std::max(m_farthest, end);
        }
    }
    return arc;
}

bool t_inputLattice::AddAbbreviationArcs(int p, const wchar_t* input, const t_sysDict* sys) {
    if (!input || !sys || !sys->IsReady() || p < 0 || p >= m_n) return false;
    const int rest = m_n - p;
    int key = -1;
    if (rest == 1 && IsLower(input[p])) {
        key = input[p] - L'a';
    } else if (rest == 2) {
        const wchar_t a = input[p], b = input[p + 1];
        if (IsLower(a) && IsLower(b))
            key = 26 + (a - L'a') * 26 + (b - L'a');
        else if (IsLower(a) && b == L'\'')
            key = a - L'a';
        else if (a == L'\'' && IsLower(b))
            key = b - L'a';
    }
    if (key < 0) return false;
    uint32_t first = 0;
    uint8_t count = 0;
    if (!sys->GetShortKeyEntry(key, &first, &count) || count == 0) return false;
    // The whole run of items must lie in the table.
    const uint8_t* items = sys->GetShortKeyItem(first);
    if (!items || !sys->GetShortKeyItem(first + count - 1)) return false;
    t_wordArc* arc = AddArc(p, m_n, first, nullptr, nullptr, 0, kArcSourceAbbreviation, count, 0, 0,
                            kAbbreviationProb);
    if (!arc) return false;
    arc->items = items;
    arc->power = ArcPower(kAbbreviationProb);
    m_abbreviationAdded = true;
    return true;
}

void t_inputLattice::Prune(bool systemOnly) {
    for (int e = m_n; e >= 1; --e) {
        t_wordArcNode* kept = nullptr;
        t_wordArcNode* tail = nullptr;
        for (t_wordArcNode* node = m_heads[e]; node;) {
            t_wordArcNode* next = node->next;
            t_wordArc** link = &node->arcs;
            while (*link) {
                const uint8_t s = (*link)->source;
                const bool drop =
                    systemOnly ? s != kArcSourceSystem : (s == 0 || s == kArcSourceCell);
                if (drop) {
                    *link = (*link)->next;
                    --node->arcCount;
                    --m_arcCount;
                } else {
                    link = &(*link)->next;
                }
            }
            if (node->arcs) {
                node->next = nullptr;
                if (tail)
                    tail->next = node;
                else
                    kept = node;
                tail = node;
            } else {
                --m_nodeCount;
            }
            node = next;
        }
        m_heads[e] = kept;
        m_tails[e] = tail;
    }
}

void t_inputLattice::FinaliseWordCounts() {
    for (int p = m_farthest; p >= 0; --p) {
        if (p != m_farthest && m_wordsToEnd[p] == 0) continue;
        const int32_t here = m_wordsToEnd[p];
        for (const t_wordArcNode* node = m_heads[p]; node; node = node->next) {
            bool counted = false;
            for (const t_wordArc* a = node->arcs; a && !counted; a = a->next)
                counted = a->source == kArcSourceUser || a->source == kArcSourceSystem;
            if (!counted) continue;
            int32_t& to = m_wordsToEnd[node->start];
            if (to == 0 || here + 1 < to) to = here + 1;
        }
    }
}
