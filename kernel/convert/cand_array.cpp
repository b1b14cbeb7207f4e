// The candidate array: its orders, the two add operations with merging and
// eviction, and the page layout.
// One conversion, one thread.
#include "kernel/convert/cand_array.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "kernel/lexicon/cell_dict.h"
#include "kernel/lexicon/syllable_table.h"
#include "kernel/runtime/singleton.h"
#include "kernel/userdict/deleted_words.h"

namespace {

// Places beyond any page the engine asks for; a larger request is refused
// rather than sized from an unchecked product.
constexpr uint64_t kMaxPlaces = uint64_t(1) << 20;
// Scores at or above this count as certain (pinned and special records).
constexpr double kCertainScore = 0.999999;

template <class T>
int Order(T a, T b) {  // 1 when a is greater
    return a > b ? 1 : a < b ? -1 : 0;
}

bool IsLetterId(uint16_t id) {
    return id >= kSyllableCount && id < kPinyinIdCount;
}

// Ties within one kind: higher order number, then lower rank, then the
// text order.
int CompareWithinKind(const t_candWord* a, const t_candWord* b) {
    if (int c = Order(a->orderNumber, b->orderNumber)) return c;
    if (int c = Order(b->rank, a->rank)) return c;
    const int t = LstrCompare(a->text, b->text);
    return t < 0 ? 1 : t > 0 ? -1 : 0;
}

bool IsCloud(const t_candWord* w) {
    return w->sourceType == kCandSourceCloud;
}

// CompareCandidates with its two common outcomes decided in place: distinct
// scores, and two system words of equal score and arc class (their ranks
// decide), which a page of equally rare characters is made of.
inline int CompareRanked(const t_candWord* a, const t_candWord* b) {
    if (a == b) return 0;
    if (!(IsCloud(a) && !a->cloudPriority)) {
        if (a->score > b->score) return 1;
        if (a->score < b->score) return -1;
    }
    if (a->kind == kCandKindScored && b->kind == kCandKindScored &&
        a->sourceType == kCandSourceSystem && b->sourceType == kCandSourceSystem &&
        a->arcClass == b->arcClass &&
        !((a->arcFlags & kCandArcStrong) && !(b->arcFlags & kCandArcStrong)))
        return Order(b->rank, a->rank);
    return t_arrayWord::CompareCandidates(a, b);
}

// FNV-1a over the text's bytes.
uint32_t HashText(const t_lstr* text) {
    const uint8_t* p = LstrGetBytes(text);
    uint32_t h = 2166136261u;
    for (uint32_t i = 0, n = LstrGetByteLength(text); i < n; ++i) h = (h ^ p[i]) * 16777619u;
    return h;
}

bool SameText(const t_lstr* a, const t_lstr* b) {
    const uint32_t n = LstrGetByteLength(a);
    return n == LstrGetByteLength(b) &&
           (n == 0 || std::memcmp(LstrGetBytes(a), LstrGetBytes(b), n) == 0);
}

}  // namespace

t_arrayWord::t_arrayWord(t_candWord** output, uint32_t start, uint32_t count, uint32_t multiQuota,
                         i_candidateFilter* secondFilter, t_scopeHeap* heap)
    : m_output(output),
      m_start(start),
      m_count(count),
      m_quota(multiQuota),
      m_heap(heap),
      m_secondFilter(secondFilter) {
    const uint64_t places = uint64_t(start) + count;
    if (!heap || places > kMaxPlaces) return;
    m_capacity = int(places);
    const size_t n = places > 0 ? size_t(places) : 1;
    uint32_t slots = 8;
    while (slots < 6 * n) slots *= 2;
    m_indexMask = slots - 1;
    m_index = static_cast<t_candWord**>(ArenaAllocAligned(*heap, slots * sizeof(t_candWord*)));
    m_pinned = static_cast<t_candWord**>(ArenaAllocAligned(*heap, n * sizeof(t_candWord*)));
    // The ranked list has room on both sides: a newcomer shifts the shorter
    // part of the list, and most land near the top of a long page.
    m_scoredRoom = 2 * n + 1;
    m_scoredBase =
        static_cast<t_candWord**>(ArenaAllocAligned(*heap, m_scoredRoom * sizeof(t_candWord*)));
    m_scored = m_scoredBase ? m_scoredBase + n : nullptr;
}

// ---------------------------------------------------------------------------
// Orders.

int t_arrayWord::CompareText(const t_lstr* a, const t_lstr* b) {
    const uint32_t na = LstrGetLength(a), nb = LstrGetLength(b);
    const uint16_t* ua = LstrGetUnits(a);
    const uint16_t* ub = LstrGetUnits(b);
    const uint32_t n = na < nb ? na : nb;
    for (uint32_t i = 0; i < n; ++i) {
        uint16_t x, y;
        std::memcpy(&x, ua + i, 2);
        std::memcpy(&y, ub + i, 2);
        if (x != y) return x < y ? -1 : 1;
    }
    return Order(na, nb);
}

int t_arrayWord::CompareCandidates(const t_candWord* a, const t_candWord* b) {
    if (a == b) return 0;
    const bool aCloud = IsCloud(a);
    const bool aPlainCloud = aCloud && !a->cloudPriority;
    if (!aPlainCloud) {
        if (a->score > b->score) return 1;
        if (a->score < b->score) return -1;
    }
    if (a->arcClass != b->arcClass) {
        if (a->arcClass == 0) return 1;
        if (b->arcClass == 0) return -1;
    }
    if ((a->arcFlags & kCandArcStrong) && !(b->arcFlags & kCandArcStrong))
        return b->score < kCertainScore ? 1 : -1;
    if (a->kind == kCandKindUser) {
        if (b->kind != kCandKindUser) return 1;
        return CompareWithinKind(a, b);
    }
    if (a->kind == kCandKindExternal) {
        if (b->kind == kCandKindUser) return -1;
        if (b->kind != kCandKindExternal) return 1;
        if (int c = Order(a->externalClass, b->externalClass)) return c;
        return CompareWithinKind(a, b);
    }
    if (aPlainCloud && b->score < 1.0) return 1;
    if (b->kind == kCandKindUser || b->kind == kCandKindExternal) return -1;
    if (aCloud) {
        if (IsCloud(b)) return Order(b->orderNumber, a->orderNumber);
        if (b->kind != kCandKindScored)
            return b->kind == kCandKindPinned || b->kind == kCandKindPinnedLike ? -1 : 1;
        if (b->sourceType == kCandSourceComposed) {
            if (b->adjustFlags & kCandAdjustUserCache) return -1;
            return a->cloudPriority ? 1 : -1;
        }
        if (b->sourceType == kCandSourceSystem || b->sourceType == kCandSourceUser) return -1;
        return 1;
    }
    if ((a->sourceType == kCandSourceComposedName || a->sourceType == kCandSourceComposed) &&
        IsCloud(b))
        return -1;
    const int16_t pa = a->kind != 0 ? a->rank : 0;
    const int16_t pb = b->kind != 0 ? b->rank : 0;
    if (pa != pb) return pa > pb ? 1 : -1;
    if (pa != 0) return Order(a->orderNumber, b->orderNumber);
    if (a->sourceType == kCandSourcePrivilege) {
        if (b->sourceType != kCandSourcePrivilege) return -1;
        if (int c = Order(b->privilegeOrder, a->privilegeOrder)) return c;
        const int t = LstrCompare(a->text, b->text);
        return t < 0 ? 1 : t > 0 ? -1 : 0;
    }
    if (b->sourceType == kCandSourcePrivilege) return 1;
    return Order(b->rank, a->rank);
}

int t_arrayWord::ComparePinned(const t_candWord* a, const t_candWord* b) {
    if (int c = Order(b->wantedPlace, a->wantedPlace)) return c;
    if (int c = Order(a->rank, b->rank)) return c;
    return Order(a->orderNumber, b->orderNumber);
}

int t_arrayWord::ComparePinnedDuplicate(const t_candWord* a, const t_candWord* b) {
    if (int c = Order(a->rank, b->rank)) return c;
    if (int c = Order(b->wantedPlace, a->wantedPlace)) return c;
    return Order(a->orderNumber, b->orderNumber);
}

// ---------------------------------------------------------------------------
// Filters.

int t_arrayWord::IsFilteredOut(const t_lstr* text, uint16_t sourceType, int* flag) const {
    bool out = false;
    if (m_delFilter && t_singleton<t_delWordDict>::Get().IsDeleted(text)) {
        out = true;
    } else if (m_extFilter) {
        switch (sourceType) {
            case 1:
            case 5:
            case 7:
            case 10:
            case 14:
                break;
            default:
                out = t_singleton<t_extDict>::Get().ContainsWord(text) != 0;
        }
    }
    if (flag) *flag = out ? 1 : 0;
    return out ? 1 : 0;
}

int t_arrayWord::EnableDelWordFilter() {
    // An empty store deletes nothing; asking it for every record is not free.
    const t_delWordDict& deleted = t_singleton<t_delWordDict>::Get();
    m_delFilter = deleted.IsReady() && deleted.GetCount() > 0;
    return 1;
}

int t_arrayWord::IsRejectedByFilter(const t_lstr* text) const {
    return m_candFilter && !m_candFilter->AcceptLstr(text) ? 1 : 0;
}

// ---------------------------------------------------------------------------
// Look-ups.

uint32_t t_arrayWord::FindText(const t_lstr* text, bool* found) const {
    uint32_t slot = HashText(text) & m_indexMask;
    while (m_index[slot]) {
        if (SameText(m_index[slot]->text, text)) {
            *found = true;
            return slot;
        }
        slot = (slot + 1) & m_indexMask;
    }
    *found = false;
    return slot;
}

t_candWord* t_arrayWord::FindWord(const t_lstr* text) const {
    if (!IsValid()) return nullptr;
    bool found = false;
    const uint32_t at = FindText(text, &found);
    return found ? m_index[at] : nullptr;
}

double t_arrayWord::GetWordScore(const t_candWord* w) const {
    const t_candWord* held = w ? FindWord(w->text) : nullptr;
    return held ? held->score : 0.0;
}

// Binary search by the list's order, then a scan for the very pointer:
// records that compare equal may stand on either side of the hit.
int t_arrayWord::FindRankedIndex(const t_candWord* w) const {
    int lo = 0, hi = m_scoredCount;
    while (lo < hi) {
        const int mid = lo + (hi - lo) / 2;
        const int c = CompareCandidates(w, ScoredAt(mid));
        if (c == 0) {
            lo = mid;
            break;
        }
        if (c > 0)
            hi = mid;
        else
            lo = mid + 1;
    }
    for (int i = lo; i < m_scoredCount; ++i)
        if (ScoredAt(i) == w) return i;
    for (int i = lo - 1; i >= 0; --i)
        if (ScoredAt(i) == w) return i;
    return -1;
}

int t_arrayWord::FindPinnedIndex(const t_candWord* w) const {
    for (int i = 0; i < m_pinnedCount; ++i)
        if (m_pinned[i] == w) return i;
    return -1;
}

int t_arrayWord::CopyRanked(t_scopeHeap* heap, t_candWord*** out) const {
    if (out) *out = nullptr;
    if (!heap || !out || m_scoredCount == 0) return 0;
    *out = static_cast<t_candWord**>(
        ArenaAllocAligned(*heap, size_t(m_scoredCount) * sizeof(t_candWord*)));
    if (!*out) return 0;
    for (int i = 0; i < m_scoredCount; ++i) (*out)[i] = ScoredAt(i);
    return m_scoredCount;
}

int t_arrayWord::CopyPinned(t_scopeHeap* heap, t_candWord*** out) const {
    if (out) *out = nullptr;
    if (!heap || !out || m_pinnedCount == 0) return 0;
    *out = static_cast<t_candWord**>(
        ArenaAllocAligned(*heap, size_t(m_pinnedCount) * sizeof(t_candWord*)));
    if (!*out) return 0;
    std::memcpy(*out, m_pinned, size_t(m_pinnedCount) * sizeof(t_candWord*));
    return m_pinnedCount;
}

t_candWord* t_arrayWord::GetTopWord() const {
    if (m_pinnedCount > 0 && m_pinned[0]->wantedPlace == 1) return m_pinned[0];
    return GetFirstRanked();
}

int t_arrayWord::HasUserWordInLead(uint32_t n) const {
    if (m_scoredCount == 0 || ScoredAt(0)->coveredLength != n) return 0;
    for (int i = 0; i < m_scoredCount && ScoredAt(i)->coveredLength == n; ++i)
        if (ScoredAt(i)->sourceType == kCandSourceUser) return 1;
    return 0;
}

int t_arrayWord::IsTopPinnedFixed() const {
    if (m_pinnedCount == 0 || m_pinned[0]->wantedPlace != 1) return 0;
    const uint16_t type = m_pinned[0]->sourceType;
    return type == kCandSourceFixedFirst || type == kCandSourceUserPhrase ? 1 : 0;
}

int t_arrayWord::HasComposedBigramLead() const {
    for (int i = 0; i < m_scoredCount; ++i) {
        const t_candWord* w = ScoredAt(i);
        if (w->sourceType == kCandSourceComposed && (w->adjustFlags & kCandAdjustComposedBigram))
            return 1;
        if (w->wantedPlace < 1) return 0;
    }
    return 0;
}

// ---------------------------------------------------------------------------
// List upkeep.

void t_arrayWord::IndexInsert(t_candWord* w, uint32_t slot) {
    if (slot != kNoSlot) {
        ++m_indexCount;
        m_index[slot] = w;
        return;
    }
    bool found = false;
    const uint32_t at = FindText(w->text, &found);
    if (!found) ++m_indexCount;
    m_index[at] = w;
}

// Removal from a linear-probing table: later entries of the run move back
// into the gap when their home slot allows it, so no search stops early.
void t_arrayWord::IndexRemove(const t_candWord* w) {
    bool found = false;
    uint32_t gap = FindText(w->text, &found);
    if (!found || m_index[gap] != w) return;
    m_index[gap] = nullptr;
    --m_indexCount;
    for (uint32_t next = (gap + 1) & m_indexMask; m_index[next]; next = (next + 1) & m_indexMask) {
        const uint32_t home = HashText(m_index[next]->text) & m_indexMask;
        // Moves back unless its home lies cyclically in (gap, next].
        const bool stays =
            gap <= next ? (home > gap && home <= next) : (home > gap || home <= next);
        if (stays) continue;
        m_index[gap] = m_index[next];
        m_index[next] = nullptr;
        gap = next;
    }
}

void t_arrayWord::NoteInserted(bool pinned, const t_candWord* w, int at) {
    if (m_quota == 0) return;
    int& last = pinned ? m_lastPinnedMulti : m_lastScoredMulti;
    if (last >= at) ++last;
    if (w->multiChar) {
        ++(pinned ? m_pinnedMulti : m_scoredMulti);
        if (at > last) last = at;
    }
}

void t_arrayWord::UpdateLastMulti(bool pinned) {
    t_candWord** list = pinned ? m_pinned : m_scored;
    int& last = pinned ? m_lastPinnedMulti : m_lastScoredMulti;
    const int count = pinned ? m_pinnedCount : m_scoredCount;
    if (last >= count) last = count - 1;
    while (last >= 0 && !list[last]->multiChar) --last;
}

void t_arrayWord::RemoveAt(bool pinned, int i) {
    if (!pinned) CloseGap();
    t_candWord** list = pinned ? m_pinned : m_scored;
    int& count = pinned ? m_pinnedCount : m_scoredCount;
    t_candWord* w = list[i];
    IndexRemove(w);
    if (!pinned && i < count - i - 1) {
        std::memmove(m_scored + 1, m_scored, size_t(i) * sizeof(t_candWord*));
        ++m_scored;
    } else {
        std::memmove(list + i, list + i + 1, size_t(count - i - 1) * sizeof(t_candWord*));
    }
    --count;
    if (m_quota == 0) return;
    if (w->multiChar) --(pinned ? m_pinnedMulti : m_scoredMulti);
    int& last = pinned ? m_lastPinnedMulti : m_lastScoredMulti;
    if (last > i) {
        --last;
    } else if (last == i) {
        --last;
        UpdateLastMulti(pinned);
    }
}

bool t_arrayWord::EvictLast(bool multiOnly) {
    const int i = multiOnly ? m_lastScoredMulti : m_scoredCount - 1;
    if (i < 0) return false;
    RemoveAt(false, i);
    return true;
}

bool t_arrayWord::ReorderRankedHead(t_candWord* const* order, int count) {
    constexpr int kMostReordered = 64;
    if (!IsValid() || !order || count < 0 || count > m_scoredCount || count > kMostReordered)
        return false;
    CloseGap();
    bool taken[kMostReordered] = {};
    for (int i = 0; i < count; ++i) {
        int j = 0;
        while (j < count && (taken[j] || m_scored[j] != order[i])) ++j;
        if (j == count) return false;
        taken[j] = true;
    }
    std::copy(order, order + count, m_scored);
    if (m_quota != 0) {
        m_lastScoredMulti = m_scoredCount - 1;
        UpdateLastMulti(false);
    }
    return true;
}

// Walks the page as Arrange lays it out (without deferrals) and notes the
// places of the newcomer and of the last multi-character record of each
// list; a list without one counts as noted. The record still unplaced once
// two are known stands last of the three.
bool t_arrayWord::EvictLastMulti(const t_candWord* w, int* evictedRanked) {
    if (evictedRanked) *evictedRanked = -1;
    const bool newPinned = w->kind == kCandKindPinned;
    bool newKnown = false;
    bool pinKnown = m_lastPinnedMulti < 0;
    bool rankKnown = m_lastScoredMulti < 0;
    int pi = 0, si = 0;
    for (int64_t place = 1; int(newKnown) + int(pinKnown) + int(rankKnown) < 2; ++place) {
        const bool pinnedLeft = pi < m_pinnedCount, rankedLeft = si < m_scoredCount;
        if (!pinnedLeft && !rankedLeft) break;
        const bool takePinned = pinnedLeft && (m_pinned[pi]->wantedPlace <= place || !rankedLeft);
        const t_candWord* next = takePinned ? m_pinned[pi] : ScoredAt(si);
        // A pinned newcomer takes its wanted place or comes before a pinned
        // record it outranks; a ranked one comes before a ranked record it
        // ranks before. Held pinned records keep their places.
        const bool before =
            !newKnown &&
            (newPinned ? (takePinned ? ComparePinned(w, next) > 0 : place >= w->wantedPlace)
                       : (!takePinned && CompareCandidates(w, next) > 0));
        if (before) {
            newKnown = true;
            continue;  // the newcomer takes this place; next moves one on
        }
        if (takePinned) {
            if (pi == m_lastPinnedMulti) pinKnown = true;
            ++pi;
        } else {
            if (si == m_lastScoredMulti) rankKnown = true;
            ++si;
        }
    }
    if (!newKnown) return false;
    if (!pinKnown) {
        RemoveAt(true, m_lastPinnedMulti);
    } else if (!rankKnown) {
        if (evictedRanked) *evictedRanked = m_lastScoredMulti;
        RemoveAt(false, m_lastScoredMulti);
    } else {
        return false;  // both known before the newcomer: nothing stands after it
    }
    return true;
}

void t_arrayWord::InsertRanked(t_candWord* w, int end, uint32_t slot) {
    if (end > m_scoredCount) end = m_scoredCount;
    int lo = 0, hi = end;
    while (lo < hi) {
        const int mid = lo + (hi - lo) / 2;
        // A newcomer goes after its equals: the search finds the first
        // record it ranks before (a walk over equals would be quadratic in
        // a page of thousands of equally rare characters).
        if (CompareRanked(w, ScoredAt(mid)) > 0)
            hi = mid;
        else
            lo = mid + 1;
    }
    PlaceRanked(w, lo);
    IndexInsert(w, slot);
    if (IsCloud(w)) m_hasCloud = true;
    NoteInserted(false, w, lo);
}

void t_arrayWord::CloseGap() {
    if (m_gapLen == 0) return;
    const size_t before = size_t(m_gapAt), after = size_t(m_scoredCount - m_gapAt);
    if (before < after) {
        std::memmove(m_scored + m_gapLen, m_scored, before * sizeof(t_candWord*));
        m_scored += m_gapLen;
    } else {
        std::memmove(m_scored + m_gapAt, m_scored + m_gapAt + m_gapLen,
                     after * sizeof(t_candWord*));
    }
    m_gapAt = m_gapLen = 0;
}

void t_arrayWord::PlaceRanked(t_candWord* w, int at) {
    const int count = m_scoredCount;
    // The gap moves to the newcomer unless closing it and moving the
    // shorter side of the list moves fewer records.
    if (m_gapLen > 0 &&
        std::abs(at - m_gapAt) > std::min(at, count - at) + std::min(m_gapAt, count - m_gapAt))
        CloseGap();
    if (m_gapLen == 0) {
        size_t front = size_t(m_scored - m_scoredBase);
        size_t back = m_scoredRoom - front - size_t(count);
        if (front == 0 || back == 0) {
            // One side is used up: the list moves to the middle of its room.
            t_candWord** centred = m_scoredBase + (m_scoredRoom - size_t(count)) / 2;
            std::memmove(centred, m_scored, size_t(count) * sizeof(t_candWord*));
            m_scored = centred;
            front = size_t(m_scored - m_scoredBase);
            back = m_scoredRoom - front - size_t(count);
        }
        // The shorter side moves away by half its free room, which leaves
        // the gap at the newcomer's place.
        if (at < count - at) {
            const size_t room = std::max<size_t>(front / 2, 1);
            std::memmove(m_scored - room, m_scored, size_t(at) * sizeof(t_candWord*));
            m_scored -= room;
            m_gapLen = int(room);
        } else {
            const size_t room = std::max<size_t>(back / 2, 1);
            std::memmove(m_scored + at + room, m_scored + at,
                         size_t(count - at) * sizeof(t_candWord*));
            m_gapLen = int(room);
        }
    } else if (at < m_gapAt) {
        std::memmove(m_scored + at + m_gapLen, m_scored + at,
                     size_t(m_gapAt - at) * sizeof(t_candWord*));
    } else if (at > m_gapAt) {
        std::memmove(m_scored + m_gapAt, m_scored + m_gapAt + m_gapLen,
                     size_t(at - m_gapAt) * sizeof(t_candWord*));
    }
    m_scored[at] = w;
    m_gapAt = at + 1;
    --m_gapLen;
    ++m_scoredCount;
}

void t_arrayWord::InsertPinned(t_candWord* w, int at) {
    std::memmove(m_pinned + at + 1, m_pinned + at,
                 size_t(m_pinnedCount - at) * sizeof(t_candWord*));
    m_pinned[at] = w;
    ++m_pinnedCount;
    IndexInsert(w);
    NoteInserted(true, w, at);
}

// ---------------------------------------------------------------------------
// Adding.

int t_arrayWord::Add(t_candWord* w, int* filtered) {
    if (filtered) *filtered = 0;
    if (!IsValid() || !w || m_capacity == 0) return kArrayNotAdded;
    if (IsFilteredOut(w->text, w->sourceType, filtered)) return kArrayFiltered;
    if (m_secondFilter && !m_secondFilter->AcceptLstr(w->text)) return kArrayRefused;

    bool found = false;
    const uint32_t at = FindText(w->text, &found);
    if (found) {
        t_candWord* held = m_index[at];
        if (held->kind == kCandKindPinned) {
            t_candWord::MergeFrom(held, w);
            return kArrayMerged;
        }
        bool replace = false, wholeList = false;
        bool decided = false;
        if (held->kind == kCandKindScored && w->kind == kCandKindScored) {
            if (w->sourceType == kCandSourceSystem && held->sourceType == kCandSourceCell) {
                decided = true;
            } else if (w->sourceType == kCandSourceCell && held->sourceType == kCandSourceSystem) {
                decided = replace = wholeList = true;
            }
        }
        if (!decided && IsCloud(w)) {
            if (held->sourceType == kCandSourceComposed) {
                decided = replace = wholeList = true;
            } else if (held->kind == kCandKindScored || held->kind == kCandKindPinnedLike) {
                decided = true;
            }
        }
        if (!decided) {
            if ((w->arcFlags & kCandArcStrong) && !(held->arcFlags & kCandArcStrong))
                replace = held->score < kCertainScore;
            else
                replace = CompareCandidates(w, held) > 0;
        }
        if (!replace) {
            t_candWord::MergeFrom(held, w);
            return kArrayMerged;
        }
        const int oldIndex = FindRankedIndex(held);
        t_candWord::MergeFrom(w, held);
        if (oldIndex >= 0) RemoveAt(false, oldIndex);
        InsertRanked(w, wholeList || oldIndex < 0 ? m_scoredCount : oldIndex);
        return IsCloud(w) ? kArrayMerged : kArrayAdded;
    }

    int end = m_scoredCount;
    // The free slot found stays the text's while nothing is removed.
    uint32_t slot = at;
    if (m_scoredCount >= m_capacity) {
        slot = kNoSlot;
        // Ties never evict: only a record that ranks before the last one.
        if (CompareCandidates(w, ScoredAt(m_scoredCount - 1)) <= 0) return kArrayNotAdded;
        if (QuotaReachedBy(w)) {
            // Only a multi-character record the newcomer outranks makes room
            // for it; a better one is never traded for a worse one.
            if (m_lastScoredMulti < 0 || CompareCandidates(w, ScoredAt(m_lastScoredMulti)) <= 0)
                return kArrayNoRoom;
            EvictLast(true);
        } else {
            EvictLast(false);
        }
        end = m_scoredCount;
    } else if (QuotaReachedBy(w)) {
        slot = kNoSlot;
        int evicted = -1;
        if (!EvictLastMulti(w, &evicted)) return kArrayNoRoom;
        if (evicted >= 0) end = evicted;
    }
    InsertRanked(w, end, slot);
    return kArrayAdded;
}

int t_arrayWord::AddChecked(t_candWord* w, int* filtered) {
    if (filtered) *filtered = 0;
    if (!IsValid() || !w || m_capacity == 0) return 0;
    if (IsFilteredOut(w->text, w->sourceType, filtered)) return 1;
    if (w->sourceType != kCandSourceUserPhrase && IsRejectedByFilter(w->text)) {
        if (filtered) *filtered = 1;
        return 1;
    }
    if (m_secondFilter && !m_secondFilter->AcceptLstr(w->text)) return 1;

    const bool full = m_pinnedCount >= m_capacity;
    bool found = false;
    const uint32_t at = FindText(w->text, &found);
    if (found) {
        t_candWord* held = m_index[at];
        const bool heldPinned = held->kind == kCandKindPinned;
        if (heldPinned && ComparePinnedDuplicate(w, held) <= 0) {
            t_candWord::MergeFrom(held, w);
            return 1;
        }
        // Decide before touching the held record, so that a newcomer that
        // finds no room never takes the text away with it.
        if (!heldPinned && full && ComparePinned(w, m_pinned[m_pinnedCount - 1]) <= 0) return 0;
        t_candWord::MergeFrom(w, held);
        const int i = heldPinned ? FindPinnedIndex(held) : FindRankedIndex(held);
        if (i >= 0) RemoveAt(heldPinned, i);
    } else {
        if (full && ComparePinned(w, m_pinned[m_pinnedCount - 1]) <= 0) return 0;
        if (QuotaReachedBy(w) && !EvictLastMulti(w, nullptr)) return 1;
    }

    for (int i = 0; i < m_pinnedCount; ++i) {
        const t_candWord* next = m_pinned[i];
        if (ComparePinned(w, next) > 0) {
            if (m_pinnedCount >= m_capacity) {
                RemoveAt(true, m_pinnedCount - 1);
                if (i >= m_pinnedCount) break;
            }
            InsertPinned(w, i);
            return 1;
        }
        // Two records never share a place: passing one that wants the same
        // place moves the newcomer one further.
        if (next->wantedPlace == w->wantedPlace && w->wantedPlace < INT32_MAX) ++w->wantedPlace;
    }
    if (m_pinnedCount >= m_capacity) return 0;
    InsertPinned(w, m_pinnedCount);
    return 1;
}

// ---------------------------------------------------------------------------
// Page layout.

// Of a run of letter ids only the last keeps its segment end; the list is
// rewritten in an arena copy, since it may point into a dictionary image.
void t_arrayWord::CompactSegments(t_candWord* w) {
    const uint32_t n = LstrGetLength(w->syllableIds);
    if (n == 0 || LstrGetLength(w->segmentList) != n) return;
    bool change = false;
    for (uint32_t i = 0; i + 1 < n && !change; ++i)
        change = IsLetterId(LstrGetUnit(w->syllableIds, i)) &&
                 IsLetterId(LstrGetUnit(w->syllableIds, i + 1));
    if (!change) return;
    t_lstr* copy = m_heap->DupLstr(w->segmentList);
    if (!copy) return;
    uint32_t kept = 0;
    for (uint32_t i = 0; i < n; ++i) {
        const bool runGoesOn = i + 1 < n && IsLetterId(LstrGetUnit(w->syllableIds, i)) &&
                               IsLetterId(LstrGetUnit(w->syllableIds, i + 1));
        if (!runGoesOn) LstrSetUnit(copy, kept++, LstrGetUnit(w->segmentList, i));
    }
    LstrSetLength(copy, kept);
    w->segmentList = copy;
}

int t_arrayWord::Arrange() {
    if (!IsValid() || !m_output || m_count == 0) return 0;
    CloseGap();
    const int64_t lastPlace = int64_t(m_start) + m_count;
    // Ranked records waiting for their position floor, by floor, a newcomer
    // after its equals.
    t_candWord** deferred = nullptr;
    if (m_scoredCount > 0) {
        deferred = static_cast<t_candWord**>(
            ArenaAllocAligned(*m_heap, size_t(m_scoredCount) * sizeof(t_candWord*)));
        if (!deferred) return 0;
    }
    int deferredHead = 0, deferredEnd = 0;
    int pi = 0, si = 0;
    uint32_t written = 0;
    for (int64_t place = 1; written < m_count && place <= lastPlace;) {
        t_candWord* next = nullptr;
        bool pinned = false;
        const bool deferredLeft = deferredHead < deferredEnd;
        if (pi < m_pinnedCount && m_pinned[pi]->wantedPlace <= place) {
            next = m_pinned[pi++];
            pinned = true;
        } else if (si >= m_scoredCount) {
            if (deferredLeft) {
                if (deferred[deferredHead]->positionFloor > lastPlace) break;
                next = deferred[deferredHead++];
            } else if (pi < m_pinnedCount) {
                next = m_pinned[pi++];
                pinned = true;
            } else {
                break;
            }
        } else if (deferredLeft && deferred[deferredHead]->positionFloor <= place) {
            next = deferred[deferredHead++];
        } else {
            t_candWord* w = m_scored[si++];
            if (w->positionFloor >= 1 && w->positionFloor > place) {
                int i = deferredEnd;
                while (i > deferredHead && deferred[i - 1]->positionFloor > w->positionFloor) {
                    deferred[i] = deferred[i - 1];
                    --i;
                }
                deferred[i] = w;
                ++deferredEnd;
                continue;
            }
            next = w;
        }
        if (place > int64_t(m_start)) {
            if (pinned) next->score = 1.0;
            m_output[written++] = next;
        }
        ++place;
    }
    for (uint32_t i = 0; i < written; ++i) CompactSegments(m_output[i]);
    return int(written);
}
