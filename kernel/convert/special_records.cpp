// Record making for the special input mode.
// One conversion thread at a time (the arena is the caller's).
#include "kernel/convert/special_records.h"

#include <algorithm>

#include "kernel/lexicon/small_dicts_arena.h"
#include "kernel/runtime/text_helpers.h"

t_specialRecords::t_specialRecords(t_scopeHeap& arena, t_candWord** out, int capacity,
                                   int maxRecords)
    : m_arena(arena), m_out(out), m_room(out ? std::max(0, std::min(capacity, maxRecords)) : 0) {}

bool t_specialRecords::Add(const std::wstring& text, uint16_t sourceType) {
    if (Full() || text.empty()) return false;
    if (!m_block) {
        m_block = static_cast<t_candWord*>(
            ArenaAllocAligned(m_arena, sizeof(t_candWord) * size_t(m_room)));
        if (!m_block) return false;
    }
    const t_lstr* lstr = WideToLstr16(m_arena, text.c_str());
    if (!lstr) return false;
    t_candWord* w = &m_block[m_count];
    t_candWord::Clear(w);
    t_candWord::Init(w);
    w->text = lstr;
    w->multiChar = LstrGetByteLength(lstr) > 2 ? 1 : 0;
    w->score = 1.0;
    w->sourceType = sourceType;
    m_out[m_count++] = w;
    return true;
}
