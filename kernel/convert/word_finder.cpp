// The word finder's depth-first walk over the syllable arcs, with one
// lookup per dictionary at every step. One pass on the conversion's thread.
#include "kernel/convert/word_finder.h"

#include <cstring>

#include "kernel/lexicon/cell_dict.h"
#include "kernel/lexicon/letter_tables.h"
#include "kernel/lexicon/privilege_dict.h"
#include "kernel/lexicon/py_dict.h"
#include "kernel/lexicon/syllable_table.h"
#include "kernel/lexicon/sys_dict.h"
#include "kernel/runtime/lstr.h"
#include "kernel/runtime/scope_heap.h"
#include "kernel/userdict/cloud_cache.h"
#include "kernel/userdict/ext_dict.h"
#include "kernel/userdict/usr_dict_v3.h"

namespace {

// A syllable string on the stack for one lookup.
struct t_pathKey {
    uint8_t bytes[2 + 2 * (t_wordFinder::kMaxDepth + 1)];
    const t_lstr* Set(const uint16_t* units, int count) {
        const uint16_t n = uint16_t(2 * count);
        std::memcpy(bytes, &n, 2);
        std::memcpy(bytes + 2, units, n);
        return reinterpret_cast<const t_lstr*>(bytes);
    }
};

// The system cursor may take the syllable at its depth: any at depths 0
// and 1, one of its next-syllable mask at depth 2, and beyond only where
// the tree goes on.
bool CursorAdmits(const t_sysDictCursor& c, uint16_t id) {
    if (id >= n_sysDict::kIndexIds) return false;
    if (c.state < 2) return true;
    if (c.state == 2) return (c.mask & (1u << (id & 15))) != 0;
    return c.hasChildren != 0;
}

bool Ready(const t_dictStorageBase* d) {
    return d && d->IsReady();
}

}  // namespace

t_wordFinder::t_wordFinder(const t_convertDicts& dicts, t_inputLattice* lattice,
                           const t_pyLattice* syllables, const wchar_t* input, t_scopeHeap* arena)
    : m_dicts(dicts), m_lattice(lattice), m_syllables(syllables), m_input(input), m_arena(arena) {}

const t_lstr* t_wordFinder::PathIds(int count) {
    return m_arena->MakeLstr(m_ids, size_t(2 * count));
}
const t_lstr* t_wordFinder::PathPositions(int count) {
    return m_arena->MakeLstr(m_positions, size_t(2 * count));
}

bool t_wordFinder::FindWordsAt(int position, const t_findSwitches& switches) {
    if (!m_lattice || !m_syllables || !m_input || !m_arena) return false;
    const int n = m_syllables->GetLength();
    if (n != m_lattice->GetLength() || position < 0 || position >= n) return false;
    m_start = position;
    m_switches = switches;
    const t_sysDict* sys = Ready(m_dicts.sys) ? m_dicts.sys : nullptr;

    if (m_gameKeys) {
        if (!sys) return true;
        for (const t_pyArcLink* l = m_syllables->Out(position); l; l = l->next) {
            const t_pyArc* a = l->arc;
            if (a->id >= kSyllableCount) continue;
            t_sysDictCursor cursor(sys);
            uint8_t stepped = 0;
            if (!cursor.PushSyllable(a->id, &stepped) || cursor.word < 0) continue;
            m_ids[0] = a->id;
            m_positions[0] = uint16_t(a->end);
            m_lattice->AddArc(position, a->end, uint32_t(cursor.word), PathIds(1), PathPositions(1),
                              a->flags, kArcSourceSystem, 1, kArcKindSingle, 0, a->prob);
            return true;
        }
        return true;
    }

    m_systemAllowed = sys != nullptr;
    if (m_wide && m_syllables->IsAmbiguousPosition(position) &&
        m_lattice->AbbreviationArcsAdded() && !m_wideSecond)
        m_systemAllowed = false;
    t_lookups on;
    on.cellMask = (switches.cell && Ready(m_dicts.cell)) ? 0xFFFF : 0;
    on.user = switches.user && m_dicts.user && m_dicts.user->IsLoaded();
    on.userExt = switches.user && Ready(m_dicts.userExt);
    on.privilege = switches.privilege && Ready(m_dicts.privilege);
    on.cloud = switches.cloudCache && switches.cloudCollector && Ready(m_dicts.cloudCache);
    t_sysDictCursor cursor(sys);
    WalkArcs(position, 0, 1.0, cursor, on, 0, 0);

    if (switches.reading) {
        switches.reading->state = 0;
        switches.reading->row = nullptr;
        if (m_dicts.readings) ReadingWalk(position, 0, switches.reading);
    }
    return true;
}

void t_wordFinder::WalkArcs(int p, int depth, double prob, t_sysDictCursor& cursor,
                            const t_lookups& on, uint32_t flags, uint32_t kind) {
    if (depth > kMaxDepth || p < 0 || p >= m_syllables->GetLength()) return;
    const int n = m_syllables->GetLength();
    t_pathKey key;
    for (const t_pyArcLink* l = m_syllables->Out(p); l; l = l->next) {
        const t_pyArc* a = l->arc;
        if (a->id >= kPinyinIdCount || a->end <= p || a->end > n) continue;
        const bool sysOn = m_systemAllowed && cursor.state == depth && CursorAdmits(cursor, a->id);
        const bool cellOn = (on.cellMask & (1u << (a->id & 15))) != 0;
        // A learned word need not start a system or cell word, so the user
        // lookups keep an arc alive on their own.
        if (!sysOn && !cellOn && !on.user && !on.userExt && !on.privilege && !on.cloud) continue;

        const double p2 = double(a->prob) * prob;
        const uint32_t f2 = flags | a->flags;
        const uint32_t k2 = kind | (a->prob > 0.99f ? kArcKindSure : kArcKindSingle);
        m_ids[depth] = a->id;
        m_positions[depth] = uint16_t(a->end);
        const int count = depth + 1;
        const t_lstr* ids = key.Set(m_ids, count);
        // One lower-case letter read as itself starts no word but a cell word.
        const bool blocked = depth == 0 && a->keys == 1 && m_input[a->start] >= L'a' &&
                             m_input[a->start] <= L'z' && a->id >= kSyllableCount;
        auto add = [&](uint8_t source, uint32_t value) {
            m_lattice->AddArc(m_start, a->end, value, PathIds(count), PathPositions(count), f2,
                              source, count, k2, 0, float(p2));
        };

        t_lookups next = {0, false, false, false, false};
        if (cellOn) {
            uint16_t more = 0;
            const int32_t item = m_dicts.cell->FindKey(ids, &more, nullptr);
            if (item >= 0) add(kArcSourceCell, uint32_t(item));
            next.cellMask = more == t_extDict::kMoreKeys ? 0xFFFF : 0;
        }
        bool stepped = false, sysMore = false;
        if (sysOn) {
            uint8_t s = 0;
            const int words = cursor.PushSyllable(a->id, &s);
            stepped = s != 0;
            if (words && cursor.word >= 0 && !blocked) add(kArcSourceSystem, uint32_t(cursor.word));
            sysMore = stepped && cursor.HasContinuation();
        }
        if (on.user) {
            int longer = 0;
            const int32_t group = m_dicts.user->Find(ids, &longer);
            if (group >= 0 && !blocked) add(kArcSourceUser, uint32_t(group));
            next.user = longer != 0;
        }
        if (on.privilege) {
            uint8_t longer = 0;
            const int32_t row = m_dicts.privilege->FindPrefix(ids, &longer);
            if (row >= 0 && !blocked) add(kArcSourcePrivilege, uint32_t(row));
            next.privilege = longer != 0;
        }
        if (on.cloud) {
            // Cached answers cover the whole input; shorter paths only lead on.
            int extends = 0, found = 0;
            const int32_t handle = m_dicts.cloudCache->Find(ids, &extends, &found);
            if (handle >= 0 && found > 0 && !blocked && a->end == n)
                m_switches.cloudCollector->AddCloudCacheWords(handle, found, ids, m_start, a->end,
                                                              m_syllables->GetBackward(a->end));
            next.cloud = extends != 0;
        }
        if (on.userExt) {
            int longer = 0;
            const int32_t group = m_dicts.userExt->Find(ids, &longer);
            if (group >= 0 && !blocked) add(kArcSourceUserExt, uint32_t(group));
            next.userExt = longer != 0;
        }

        if (sysMore || next.cellMask || next.user || next.privilege || next.cloud || next.userExt) {
            if (a->end == n) {
                if (m_switches.forecast && m_switches.forecastGate <= count) {
                    bool allLetters = true;
                    for (int i = 0; i < count && allLetters; ++i)
                        allLetters = m_ids[i] >= kSyllableCount;
                    if (!allLetters)
                        m_switches.forecast->ScoreAssociation(m_start, m_ids, m_positions, count,
                                                              p2);
                }
                if (m_weakTop && sysMore)
                    m_weakTop->SetWeakTopLevel(count, (a->flags & kPyArcPartialMask) != 0);
            } else if (depth + 1 <= kMaxDepth) {
                // Only a cursor that stepped down is at the next depth.
                WalkArcs(a->end, depth + 1, p2, cursor, next, f2, k2);
            }
        }
        // Back to this depth for the next arc, whether or not the tree went on.
        if (stepped) cursor.PopSyllable();
    }
}

void t_wordFinder::ReadingWalk(int p, int depth, t_wordReadingOut* out) {
    if (depth >= 4) return;
    for (const t_pyArcLink* l = m_syllables->Out(p); l; l = l->next) {
        const t_pyArc* a = l->arc;
        if ((a->flags & kPyArcPartialMask) || a->id >= kPinyinIdCount) continue;
        m_ids[depth] = a->id;
        if (m_syllables->GetBackward(a->end) == 1.0) {
            const t_wordReadingRow* row = nullptr;
            m_dicts.readings->Find(m_ids, depth + 1, &row);
            if (row) {
                if (out->state == 0) {
                    out->state = 1;
                    out->row = row;
                } else {
                    out->state = 2;
                }
            }
        }
        if (a->end < m_syllables->GetLength()) ReadingWalk(a->end, depth + 1, out);
    }
}
