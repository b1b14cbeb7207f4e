// Person-name marks of word records and composed names. One conversion on
// one thread.
#include "kernel/convert/name_marks.h"

#include <algorithm>
#include <cstdint>
#include <cwchar>
#include <vector>

#include "kernel/convert/cand_array.h"
#include "kernel/convert/input_lattice.h"
#include "kernel/lexicon/sys_dict.h"
#include "kernel/runtime/cand_word.h"
#include "kernel/runtime/lstr.h"
#include "kernel/runtime/scope_heap.h"

namespace {

constexpr uint8_t kClassKindName = 2;
constexpr uint8_t kClassSurname = 1;  // class bytes of the system data's name classes
constexpr uint8_t kClassGivenName = 2;
constexpr int8_t kNameMarkClass = 2;
constexpr int8_t kNameMarkOther = int8_t(128 - 256);  // 128 in the byte
constexpr uint32_t kNameBufBytes = 512;

// Of a one-syllable system arc's group (cheapest first): with surname the
// first entry of the surname class; else the given-name character that names
// use most (class byte 1 counts the uses), or the first entry when none is
// one. *uses: that count (0 for none). False when there is none.
bool PickEntry(const t_sysDict* sys, const t_wordArc* arc, bool surname, t_nameNode* node,
               int32_t* cost, int* uses) {
    if (arc->source != kArcSourceSystem || arc->syllables != 1 || !arc->ids || !arc->positions)
        return false;
    bool found = false;
    *uses = 0;
    uint8_t more = 1;
    for (uint32_t i = arc->value; more; ++i) {
        uint32_t off = 0, gram = 0;
        uint16_t c = 0;
        if (!sys->GetWordRecord(i, &off, &c, &gram, &more)) break;
        uint8_t cls[n_sysDict::kClassSize];
        const bool named = sys->GetWordClassInfo(i, cls) && (cls[0] & 7) == kClassKindName &&
                           cls[4] == (surname ? kClassSurname : kClassGivenName);
        const int strength = named ? std::max<int>(cls[1], 1) : 0;
        if (surname && !named) continue;
        if (found && strength <= *uses) continue;
        *node = {arc->ids, arc->positions, off};
        *cost = c;
        *uses = strength;
        found = true;
        if (surname) break;
    }
    return found;
}

// The one-character word from start to end a name would use, when there is
// one: the given-name character names use most, then the cheaper.
bool NameChar(const t_inputLattice* lattice, const t_sysDict* sys, int start, int end,
              t_nameNode* node, int32_t* cost) {
    bool found = false;
    int bestUses = 0;
    for (const t_wordArcNode* n = lattice->NodesEndingAt(end); n; n = n->next) {
        if (n->start != start) continue;
        for (const t_wordArc* a = n->arcs; a; a = a->next) {
            t_nameNode cand;
            int32_t c = 0;
            int uses = 0;
            if (!PickEntry(sys, a, false, &cand, &c, &uses)) continue;
            if (!found || uses > bestUses || (uses == bestUses && c < *cost)) {
                *node = cand;
                *cost = c;
                bestUses = uses;
                found = true;
            }
        }
    }
    return found;
}

// NameChar of each span, worked out at its first use: the surname readings
// of one end ask for the same spans over and over.
class t_nameChars {
public:
    t_nameChars(const t_inputLattice* lattice, const t_sysDict* sys, int n)
        : m_lattice(lattice), m_sys(sys), m_n(n) {}
    bool Get(int start, int end, t_nameNode* node, int32_t* cost) {
        if (m_spans.empty()) m_spans.resize(size_t(m_n + 1) * size_t(m_n + 1));
        t_span& s = m_spans[size_t(start) * size_t(m_n + 1) + size_t(end)];
        if (s.state == kUnknown)
            s.state = NameChar(m_lattice, m_sys, start, end, &s.node, &s.cost) ? kFound : kNone;
        if (s.state != kFound) return false;
        *node = s.node;
        *cost = s.cost;
        return true;
    }

private:
    enum : uint8_t { kUnknown = 0, kNone = 1, kFound = 2 };
    struct t_span {
        uint8_t state = kUnknown;
        t_nameNode node{};
        int32_t cost = 0;
    };
    const t_inputLattice* m_lattice;
    const t_sysDict* m_sys;
    int m_n;
    std::vector<t_span> m_spans;
};

// The cost of the cheapest one-character system word from start to end
// (kCandNoPower when there is none).
int32_t CheapestChar(const t_inputLattice* lattice, const t_sysDict* sys, int start, int end) {
    int32_t best = kCandNoPower;
    for (const t_wordArcNode* n = lattice->NodesEndingAt(end); n; n = n->next) {
        if (n->start != start) continue;
        for (const t_wordArc* a = n->arcs; a; a = a->next) {
            if (a->source != kArcSourceSystem || a->syllables != 1) continue;
            uint32_t off = 0, gram = 0;
            uint16_t c = 0;
            uint8_t more = 0;
            if (sys->GetWordRecord(a->value, &off, &c, &gram, &more))
                best = std::min<int32_t>(best, c);
        }
    }
    return best;
}

}  // namespace

int FindSurnameName(const t_inputLattice* lattice, const t_sysDict* sys, t_nameNode nodes[3],
                    int16_t* value, int16_t* plainValue) {
    if (!lattice || !sys || !nodes || !value) return 0;
    const int n = lattice->GetLength();
    int best = 0, cutA = 0, cutB = 0;
    int64_t bestCost = INT64_MAX;
    t_nameChars chars(lattice, sys, n);
    for (int a = 1; a < n; ++a) {
        for (const t_wordArcNode* sn = lattice->NodesEndingAt(a); sn; sn = sn->next) {
            if (sn->start != 0) continue;
            for (const t_wordArc* arc = sn->arcs; arc; arc = arc->next) {
                t_nameNode path[3];
                int32_t c0 = 0, c1 = 0, c2 = 0;
                int uses = 0;
                if (!PickEntry(sys, arc, true, &path[0], &c0, &uses)) continue;
                if (chars.Get(a, n, &path[1], &c1) && c0 + c1 < bestCost) {
                    bestCost = c0 + c1;
                    best = 2;
                    cutA = a;
                    std::copy(path, path + 2, nodes);
                }
                for (int b = a + 1; b < n; ++b)
                    if (chars.Get(a, b, &path[1], &c1) && chars.Get(b, n, &path[2], &c2) &&
                        c0 + c1 + c2 < bestCost) {
                        bestCost = c0 + c1 + c2;
                        best = 3;
                        cutA = a;
                        cutB = b;
                        std::copy(path, path + 3, nodes);
                    }
            }
        }
    }
    if (!best) return 0;
    *value = int16_t(std::min<int64_t>(bestCost, kCandNoPower));
    if (plainValue) {
        int64_t plain = CheapestChar(lattice, sys, 0, cutA);
        plain += best == 2
                     ? CheapestChar(lattice, sys, cutA, n)
                     : CheapestChar(lattice, sys, cutA, cutB) + CheapestChar(lattice, sys, cutB, n);
        *plainValue = int16_t(std::min<int64_t>(plain, kCandNoPower));
    }
    return best;
}

void SetSystemWordNameMark(t_nameMarkState* state, uint32_t entry, const t_sysDict* sys,
                           t_candWord* w, bool namesWanted, bool fullSpan) {
    if (!w) return;
    w->nameMark = 0;
    w->markCompanion = 0;
    if (!sys) return;
    const uint8_t flags = sys->GetWordFlags(entry);
    if (state && !state->marked && namesWanted && fullSpan) {
        if (flags & n_sysDict::kFlagPersonName) {
            state->found = 1;
            state->marked = 1;
            w->nameMark = kCandNameMarkPerson;
            return;
        }
        if (flags & n_sysDict::kFlagNameLike) state->found = 1;
    }
    uint8_t cls[n_sysDict::kClassSize];
    if (sys->GetWordClassInfo(entry, cls) && (cls[0] & 7) == kClassKindName && cls[4] != 0) {
        w->nameMark = kNameMarkClass;
        w->markCompanion = cls[4];
    }
}

void SetUserWordNameMark(t_nameMarkState* state, int nameType, t_candWord* w, bool namesWanted,
                         bool fullSpan) {
    if (!w) return;
    nameType &= 3;
    w->nameMark = 0;
    w->markCompanion = 0;
    if (nameType == 0) return;
    if (nameType != 2) {
        w->nameMark = kNameMarkOther;
        w->markCompanion = uint8_t(nameType);
        return;
    }
    w->nameMark = kCandNameMarkPerson;
    w->markCompanion = 2;
    if (state && !state->marked && namesWanted && fullSpan) state->found = 1;
}

int AddComposedNames(t_arrayWord* out, t_scopeHeap* arena, const t_sysDict* sys, uint32_t covered,
                     const t_nameNode* nodes, int count, int16_t value, bool debug) {
    if (!out || !arena || !sys || !nodes || count <= 0) return 0;
    auto* ids = static_cast<t_lstr*>(arena->Alloc(kNameBufBytes));
    auto* segments = static_cast<t_lstr*>(arena->Alloc(kNameBufBytes));
    auto* text = static_cast<t_lstr*>(arena->Alloc(kNameBufBytes));
    t_candWord* w = t_candWord::New(*arena);
    if (!ids || !segments || !text || !w) return 0;
    for (int i = 0; i < count; ++i) {
        const t_lstr* part = sys->GetTextAt(nodes[i].textOffset);
        if (!part || !nodes[i].ids || !nodes[i].segments) return 0;
        if (!LstrAppendBounded(ids, kNameBufBytes, nodes[i].ids) ||
            !LstrAppendBounded(segments, kNameBufBytes, nodes[i].segments) ||
            !LstrAppendBounded(text, kNameBufBytes, part))
            return 0;
    }
    t_candWord::Clear(w);
    w->text = text;
    w->syllableIds = ids;
    w->segmentList = segments;
    w->coveredLength = covered;
    w->multiChar = 1;
    w->rank = value;
    w->sourceType = kCandSourceComposedName;
    w->orderNumber = 1;
    w->score = 1.0;
    w->kind = kCandKindScored;
    w->nameMark = kCandNameMarkPerson;
    if (debug) {
        static const wchar_t kLabel[] = L"-组名: ";
        const uint32_t n = uint32_t(std::wcslen(kLabel));
        auto* label = static_cast<t_lstr*>(arena->Alloc(kNameBufBytes));
        if (label) {
            LstrSetByteLength(label, uint16_t(2 * n));
            for (uint32_t i = 0; i < n; ++i) LstrSetUnit(label, i, uint16_t(kLabel[i]));
            if (LstrAppendBounded(label, kNameBufBytes, text)) w->debugText = label;
        }
    }
    int filtered = 0;
    return out->Add(w, &filtered);
}
