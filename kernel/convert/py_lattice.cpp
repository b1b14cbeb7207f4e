// The syllable lattice: building from the key map, the probability sweeps,
// dead-arc removal and the lattice queries.
// One conversion step on one thread.
#include "kernel/convert/py_lattice.h"

#include <algorithm>
#include <array>

#include "kernel/lexicon/key_py_map.h"
#include "kernel/lexicon/py_dict.h"
#include "kernel/lexicon/small_dicts_arena.h"
#include "kernel/lexicon/syllable_table.h"
#include "kernel/runtime/scope_heap.h"

namespace {

constexpr double kStepDecay = 0.999;   // every syllable step of a path
constexpr double kLetterDecay = 0.98;  // every unreadable position in letters mode

bool IsLower(wchar_t c) {
    return c >= L'a' && c <= L'z';
}
bool IsUpper(wchar_t c) {
    return c >= L'A' && c <= L'Z';
}
bool IsLoneVowelKey(wchar_t c) {
    return c == L'a' || c == L'e' || c == L'o';
}

// Whether the vowel b goes on the vowel a inside some syllable ("ao" of
// bao, "ia" of jia).
bool ContinuesVowel(wchar_t a, wchar_t b) {
    if (a != L'a' && a != L'e' && a != L'i' && a != L'o' && a != L'u' && a != L'v') return false;
    static const auto pairs = [] {
        std::array<std::array<bool, 26>, 26> seen{};
        for (const wchar_t* text : kSyllableTexts)
            for (size_t k = 0; text[k] && text[k + 1]; ++k)
                if (IsLower(text[k]) && IsLower(text[k + 1]))
                    seen[size_t(text[k] - L'a')][size_t(text[k + 1] - L'a')] = true;
        return seen;
    }();
    return IsLower(a) && IsLower(b) && pairs[size_t(a - L'a')][size_t(b - L'a')];
}

// Whether a syllable of two or more keys starts at p.
bool SyllableStartsAt(const t_keyPyMap* keyMap, const wchar_t* input, int p, int n) {
    wchar_t key[8];
    uint16_t ids[kMaxIdsPerKey], flags[kMaxIdsPerKey];
    float weights[kMaxIdsPerKey];
    for (int len = 0; p + len < n && len < 7 && IsLower(input[p + len]);) {
        key[len] = input[p + len];
        key[++len] = 0;
        bool longer = false;
        const int32_t row = keyMap->FindKey(key, &longer);
        if (row >= 0 && len >= 2) {
            const int count = std::min(
                keyMap->GetPinyinIds(row, ids, weights, flags, kMaxIdsPerKey), kMaxIdsPerKey);
            for (int k = 0; k < count; ++k)
                if (ids[k] < kSyllableCount && !(flags[k] & kPyArcPartialMask)) return true;
        }
        if (!longer) break;
    }
    return false;
}

// A lone vowel before no whole syllable reads as the syllables it begins as
// surely as alone (a user types the a of an as the q of quan); where it
// ends the input, by half: the vowel there is as often its own syllable
// (好啊) as the start of one not typed out yet (方案).
constexpr float kVowelEndShare = 0.5f;

}  // namespace

bool t_pyLattice::Initialise(t_scopeHeap* arena, int n) {
    Release();
    if (!arena || n < 1) return false;
    m_arena = arena;
    m_n = std::min(n, kMaxInputChars);
    for (int p = 0; p <= m_n; ++p) m_cells[p] = t_pyLatticeCell();
    m_cells[0].forward = 1.0;
    m_lastReachable = -1;
    m_endBegun = false;
    return true;
}

void t_pyLattice::Bind(t_scopeHeap* arena) {
    Release();
    m_arena = arena;
}

void t_pyLattice::Release() {
    m_n = 0;
    m_lastReachable = -1;
    m_lettersMode = false;
    m_endBegun = false;
}

bool t_pyLattice::CopyFrom(const t_pyLattice& other) {
    if (other.m_n < 1) return false;
    m_n = other.m_n;
    m_lastReachable = other.m_lastReachable;
    m_lettersMode = other.m_lettersMode;
    m_endBegun = other.m_endBegun;
    m_arena = other.m_arena;
    std::copy(other.m_cells, other.m_cells + m_n + 1, m_cells);
    return true;
}

t_pyArc* t_pyLattice::AddArc(int start, int end, int keys, float prob, uint16_t id,
                             uint16_t flags) {
    if (!m_arena || !Valid(start) || !Valid(end) || end <= start) return nullptr;
    auto* arc = static_cast<t_pyArc*>(ArenaAllocAligned(*m_arena, sizeof(t_pyArc)));
    auto* links = static_cast<t_pyArcLink*>(ArenaAllocAligned(*m_arena, 2 * sizeof(t_pyArcLink)));
    if (!arc || !links) return nullptr;
    *arc = {start, end, keys, prob, id, flags};
    links[0] = {arc, m_cells[start].out};
    m_cells[start].out = &links[0];
    links[1] = {arc, m_cells[end].in};
    m_cells[end].in = &links[1];
    return arc;
}

bool t_pyLattice::Build(t_scopeHeap* arena, const t_keyPyMap* keyMap, const t_pyDict* py,
                        const wchar_t* input, int length, bool lettersMode, bool shuangPin) {
    if (!keyMap || !py || !input || !keyMap->IsReady() || !py->IsReady() ||
        !Initialise(arena, length)) {
        Release();
        return false;
    }
    m_lettersMode = lettersMode;
    BuildArcs(keyMap, py, input, shuangPin);
    BackwardSweep(lettersMode);
    if (!lettersMode) MarkDeadArcs();
    UnlinkDeadArcs();
    if (lettersMode) AddLetterArcs(py, input);
    return true;
}

// Algorithm: every start position grows a key one character at a time while
// the map has longer keys. Complete syllables become arcs at once; partial
// and abbreviated ones only beyond the farthest complete syllable, so that
// "zhong" does not also offer zh + ong, except the syllables a lone vowel
// begins.
void t_pyLattice::BuildArcs(const t_keyPyMap* keyMap, const t_pyDict* py, const wchar_t* input,
                            bool shuangPin) {
    const int n = m_n;
    int farthest = 0;     // farthest position with a forward probability
    int completeEnd = 0;  // farthest end of a complete syllable
    uint16_t ids[kMaxIdsPerKey];
    float weights[kMaxIdsPerKey];
    uint16_t flags[kMaxIdsPerKey];
    int32_t rows[kMaxPositions];
    int32_t keysAt[kMaxPositions];
    wchar_t key[t_keyPyMap::kMaxKeyChars + 1];

    // Separators typed before the first letter separate nothing: the first
    // syllables take them, as a syllable takes the separators after it.
    int lead = 0;
    while (lead < n && input[lead] == L'\'') ++lead;
    for (int i = 0; i < n; ++i) {
        if (input[i] == L'\'') continue;
        const int start = i == lead ? 0 : i;
        bool movesFarthest = true;
        if (m_cells[start].forward == 0) {
            if (!m_lettersMode) continue;
            if (!shuangPin && i < farthest) continue;
            movesFarthest = false;
        }
        const double from = m_cells[start].forward;
        std::fill(rows + i, rows + n + 1, -1);
        int lastEnd = i;
        int len = 0;
        int vowelEnd = -1, longestEnd = -1;  // of the key a, e or o alone; of the longest key
        float vowelOwn = 0;
        for (int pos = i; pos < n && len < int(t_keyPyMap::kMaxKeyChars);) {
            const wchar_t c = input[pos];
            key[len++] = c;
            key[len] = 0;
            int end = pos + 1;
            while (end < n && input[end] == L'\'') ++end;
            // A separator ends every key: the arc takes it, the key stops there.
            const bool separated = end > pos + 1;
            pos = end;
            lastEnd = end;
            if (len == 1 && IsUpper(c)) {
                const int32_t letter = py->GetLetterId(uint32_t(c));
                if (letter >= 0 && AddArc(start, end, 1, 1.0f, uint16_t(letter), 0)) {
                    const double f = from * kStepDecay;
                    if (f > m_cells[end].forward) {
                        m_cells[end].forward = f;
                        if (movesFarthest) farthest = std::max(farthest, end);
                    }
                }
                break;
            }
            // Shuangpin schemes may type a final with ";" (ing in the default
            // one): the map then holds keys such as "y;", so the key goes on.
            if (!IsLower(c) && !(shuangPin && c == L';')) break;
            bool longer = false;
            const int32_t row = keyMap->FindKey(key, &longer);
            if (row >= 0) {
                const int count = std::min(
                    keyMap->GetPinyinIds(row, ids, weights, flags, kMaxIdsPerKey), kMaxIdsPerKey);
                float best = 0;
                bool added = false;
                for (int k = 0; k < count; ++k) {
                    if ((flags[k] & kPyArcPartialMask) || ids[k] >= kPinyinIdCount) continue;
                    if (!AddArc(start, end, len, weights[k], ids[k], flags[k])) continue;
                    added = true;
                    best = std::max(best, weights[k]);
                    if (ids[k] < kSyllableCount && (len >= 2 || n == 1))
                        completeEnd = std::max(completeEnd, end);
                }
                if (added) {
                    const double f = double(best) * from * kStepDecay;
                    if (f > m_cells[end].forward) {
                        m_cells[end].forward = f;
                        if (movesFarthest) farthest = std::max(farthest, end);
                    }
                }
                rows[end] = row;
                keysAt[end] = len;
                longestEnd = end;
                if (len == 1 && !shuangPin && IsLoneVowelKey(c)) {
                    vowelEnd = end;
                    vowelOwn = best;
                }
            }
            if (!longer || separated) break;
        }
        // A lone vowel also begins the syllables without initial it starts
        // (an, ai, ang, ao of a) wherever it stands. Where a whole syllable
        // follows ("xianeyijian": xian + er + yi + jian beside xian + e +
        // yi + jian), the begun syllable weighs what the key map gives the
        // vowel as its first letter, as every abbreviated syllable does; so
        // also where the vowel could go on the vowel before it (dieye: di +
        // er + ye beside die + ye) or on into a longer key (aniu: an + niu
        // beside a + niu), but there only before a whole syllable (qiaa
        // stays qia + a).
        const bool goesOn =
            vowelEnd != longestEnd || (i > lead && ContinuesVowel(input[i - 1], input[i]));
        const bool wholeNext =
            vowelEnd >= 0 && vowelEnd < n && SyllableStartsAt(keyMap, input, vowelEnd, n);
        if (vowelEnd >= 0 && (vowelOwn <= 0 || (goesOn && !wholeNext))) vowelEnd = -1;
        float vowelWeight = 0;  // the least weight of a syllable the vowel begins
        if (vowelEnd >= n)
            vowelWeight = vowelOwn * kVowelEndShare;
        else if (vowelEnd >= 0 && !wholeNext)
            vowelWeight = vowelOwn;
        // Partial syllables beyond the farthest complete one.
        const int firstPartialEnd = std::max(i + 1, completeEnd + 1);
        for (int end = vowelEnd < 0 ? firstPartialEnd : std::min(firstPartialEnd, vowelEnd);
             end <= lastEnd; ++end) {
            if (rows[end] < 0) continue;
            const int count = std::min(
                keyMap->GetPinyinIds(rows[end], ids, weights, flags, kMaxIdsPerKey), kMaxIdsPerKey);
            float best = 0;
            bool added = false;
            for (int k = 0; k < count; ++k) {
                if (!(flags[k] & kPyArcPartialMask) || ids[k] >= kPinyinIdCount) continue;
                const bool begun = end == vowelEnd && (flags[k] & kKeyFlagZeroInitial);
                if (end < firstPartialEnd && !begun) continue;
                const float w = begun ? std::max(weights[k], vowelWeight) : weights[k];
                if (!AddArc(start, end, keysAt[end], w, ids[k], flags[k])) continue;
                if (begun && end == n) m_endBegun = true;
                added = true;
                best = std::max(best, w);
            }
            if (!added) continue;
            const double f = double(best) * from * kStepDecay;
            if (f > m_cells[end].forward) m_cells[end].forward = f;
            if (movesFarthest && from > 0) farthest = std::max(farthest, end);
        }
    }
}

void t_pyLattice::BackwardSweep(bool lettersMode) {
    const int n = m_n;
    m_lastReachable = n;
    if (!lettersMode) {
        int e = n;
        while (e > 0 && m_cells[e].forward == 0) m_cells[e--].backward = 0;
        m_lastReachable = e;
        m_cells[e].backward = 1.0;
        for (int p = 0; p < e; ++p) m_cells[p].backward = 0;
    } else {
        double b = 1.0;
        bool seen = false;
        for (int e = n; e >= 0; --e, b *= kLetterDecay) {
            m_cells[e].backward = b;
            if (!seen && m_cells[e].forward != 0) {
                seen = true;
                m_lastReachable = e;
            }
        }
    }
    for (int e = m_lastReachable; e >= 1; --e) {
        for (const t_pyArcLink* l = m_cells[e].in; l; l = l->next) {
            const t_pyArc* a = l->arc;
            if (a->flags & kPyArcDead) continue;
            const double c = double(a->prob) * m_cells[e].backward * kStepDecay;
            if (c > m_cells[a->start].backward) m_cells[a->start].backward = c;
        }
    }
}

void t_pyLattice::MarkDeadArcs() {
    for (int p = 0; p <= m_n; ++p) {
        if (m_cells[p].forward <= 0)
            for (t_pyArcLink* l = m_cells[p].out; l; l = l->next) l->arc->flags |= kPyArcDead;
        if (m_cells[p].backward <= 0)
            for (t_pyArcLink* l = m_cells[p].in; l; l = l->next) l->arc->flags |= kPyArcDead;
    }
}

void t_pyLattice::UnlinkDeadArcs() {
    for (int p = 0; p <= m_n; ++p) {
        for (t_pyArcLink** list : {&m_cells[p].out, &m_cells[p].in}) {
            for (t_pyArcLink** l = list; *l;) {
                if ((*l)->arc->flags & kPyArcDead)
                    *l = (*l)->next;
                else
                    l = &(*l)->next;
            }
        }
    }
}

void t_pyLattice::AddLetterArcs(const t_pyDict* py, const wchar_t* input) {
    for (int p = 0; p < m_n; ++p) {
        if (!IsLower(input[p])) continue;
        const int32_t id = py->GetLetterId(uint32_t(input[p]));
        if (id >= 0) AddArc(p, p + 1, 1, 1.0f, uint16_t(id), 0);
    }
}

bool t_pyLattice::BuildByKeys(t_scopeHeap* arena, const t_keyPyMap* keyMap, const t_pyDict* py,
                              const wchar_t* input, int length) {
    Release();
    if (!keyMap || !py || !input || !keyMap->IsReady() || !py->IsReady() || length < 1)
        return false;
    for (int i = 0; i < std::min(length, kMaxInputChars); ++i)
        if (!IsLower(input[i])) return false;
    if (!Initialise(arena, length)) return false;
    uint16_t ids[kMaxIdsPerKey];
    float weights[kMaxIdsPerKey];
    uint16_t flags[kMaxIdsPerKey];
    for (int i = 0; i < m_n; ++i) {
        const wchar_t key[2] = {input[i], 0};
        const int32_t row = keyMap->FindKey(key, nullptr);
        if (row < 0) continue;
        const int count =
            std::min(keyMap->GetPinyinIds(row, ids, weights, flags, kMaxIdsPerKey), kMaxIdsPerKey);
        for (int k = 0; k < count; ++k)
            if (ids[k] < kPinyinIdCount) AddArc(i, i + 1, 1, 0.9f * weights[k], ids[k], flags[k]);
    }
    for (int i = 0; i < m_n; ++i) {
        if (m_cells[i].forward == 0 || !m_cells[i].out) continue;
        float best = 0;
        for (const t_pyArcLink* l = m_cells[i].out; l; l = l->next)
            best = std::max(best, l->arc->prob);
        const int end = m_cells[i].out->arc->end;
        m_cells[end].forward = m_cells[i].forward * best;
    }
    BackwardSweep(false);
    MarkDeadArcs();
    UnlinkDeadArcs();
    return true;
}

bool t_pyLattice::IsAmbiguousPosition(int p) const {
    if (!Valid(p) || m_n - p > 2) return false;
    const double b = m_cells[p].backward;
    return b > 0 && b < 1.0;
}

bool t_pyLattice::IsEndAmbiguous() const {
    if (m_n < 1) return false;
    bool partial = false;
    for (const t_pyArcLink* l = m_cells[m_n].in; l; l = l->next) {
        const t_pyArc* a = l->arc;
        if ((a->flags & kPyArcDead) || a->id >= kSyllableCount) continue;
        if (!(a->flags & kPyArcPartialMask)) return false;
        if (a->start == 0 || m_cells[a->start].forward > 0.965) partial = true;
    }
    return partial;
}

bool t_pyLattice::IsNearEndWeak() const {
    if (m_n < 4) return false;
    return m_cells[m_n - 2].forward >= 0.965 && !(m_cells[m_n - 2].backward > 0.965);
}

bool t_pyLattice::LacksPlainSyllable() const {
    if (m_n < 1) return true;
    for (const t_pyArcLink* l = m_cells[m_n].in; l; l = l->next) {
        const t_pyArc* a = l->arc;
        if (!(a->flags & kPyArcDead) && a->id < kSyllableCount && !(a->flags & kPyArcPartialMask))
            return false;
    }
    return true;
}

int32_t t_pyLattice::FewestSyllables() const {
    if (m_n < 1 || !(m_cells[m_n].forward > 0)) return kNoPath;
    int32_t best[kMaxPositions];
    std::fill(best, best + m_n + 1, kNoPath);
    best[0] = 0;
    for (int p = 0; p < m_n; ++p) {
        if (best[p] == kNoPath) continue;
        for (const t_pyArcLink* l = m_cells[p].out; l; l = l->next) {
            const t_pyArc* a = l->arc;
            if (a->flags & kPyArcDead) continue;
            best[a->end] = std::min(best[a->end], best[p] + 1);
        }
    }
    return best[m_n];
}

int32_t t_pyLattice::BestBigramPathCost(const t_pyDict* py) const {
    if (!py || !py->IsReady() || m_n < 1) return kNoBigramPath;
    struct t_node {
        int16_t id;
        int32_t cost;
        t_node* next;
    };
    t_node* at[kMaxPositions] = {};
    auto add = [&](int p, int16_t id, int32_t cost) {
        auto* node =
            static_cast<t_node*>(m_arena ? ArenaAllocAligned(*m_arena, sizeof(t_node)) : nullptr);
        if (!node) return false;
        *node = {id, cost, at[p]};
        at[p] = node;
        return true;
    };
    for (const t_pyArcLink* l = m_cells[0].out; l; l = l->next) {
        const t_pyArc* a = l->arc;
        if (a->id >= kSyllableCount) continue;
        if (!add(a->end, int16_t(a->id), py->GetSyllableValue(int16_t(a->id))))
            return kNoBigramPath;
    }
    for (int p = 1; p < m_n; ++p) {
        if (!at[p]) continue;
        for (const t_pyArcLink* l = m_cells[p].out; l; l = l->next) {
            const t_pyArc* a = l->arc;
            if (a->id >= kSyllableCount) continue;
            int32_t cost = INT32_MAX;
            for (const t_node* x = at[p]; x; x = x->next)
                cost = std::min(cost,
                                int32_t(py->GetSyllablePairValue(x->id, int16_t(a->id))) + x->cost);
            if (!add(a->end, int16_t(a->id), cost)) return kNoBigramPath;
        }
    }
    const int last = std::clamp(m_lastReachable, 0, m_n);
    if (!at[last]) return kNoBigramPath;
    int32_t best = INT32_MAX;
    for (const t_node* x = at[last]; x; x = x->next) best = std::min(best, x->cost);
    return last < m_n ? best + 1250 : best;
}

void t_pyLattice::MarkSyllableBoundaries(uint8_t* starts, uint8_t* ends, uint8_t* spans,
                                         const wchar_t* input, int length) const {
    if (!starts || !ends || !spans || !input || length < 0 || m_n > length) return;
    std::fill(starts, starts + length + 1, 0);
    std::fill(ends, ends + length + 1, 0);
    std::fill(spans, spans + length + 1, 0);
    ends[0] = 1;
    starts[length] = 1;
    for (int i = 0; i <= m_n; ++i) {
        for (const t_pyArcLink* l = m_cells[i].out; l; l = l->next) {
            const t_pyArc* a = l->arc;
            if (a->flags & kPyArcPartialMask) continue;
            if (a->keys < 2 && !(a->end == length && a->id < kSyllableCount)) continue;
            starts[i] = 1;
            ends[a->end] = 1;
            const int span = a->end - i;
            if (span >= 4 && a->end >= 2) {
                const wchar_t c1 = input[a->end - 2], c2 = input[a->end - 1];
                if ((c1 == L'g' && c2 == L'n') || (c1 == L'm' && c2 == L'g')) continue;
            }
            for (int p = i; p < a->end; ++p) spans[p] = uint8_t(span);
        }
    }
    // Clear spans that would cut a syllable in two.
    for (int p = 1; p < length; ++p) {
        if (ends[p] && spans[p] == 0 && spans[p - 1] > 0 && !starts[p]) {
            spans[p - 1] = 0;
            if (p > 1) spans[p - 2] = 0;
        }
        if (starts[p] && spans[p] > 0 && spans[p - 1] == 0 && !ends[p]) {
            spans[p] = 0;
            spans[p + 1] = 0;
            ++p;
        }
    }
}
