// t_arrayWord: the candidate array of one conversion. It keeps the records
// every source offers ordered best first, merges records of equal text,
// filters deleted and unwanted words, keeps no more than the wanted page
// needs, and lays out that page. One conversion, one thread; its lists and
// the records live in the conversion's arena.
#pragma once

#include <cstddef>
#include <cstdint>

#include "kernel/lexicon/small_dicts_arena.h"
#include "kernel/runtime/cand_word.h"
#include "kernel/runtime/lstr.h"
#include "kernel/runtime/scope_heap.h"

struct t_correctionScore;
struct t_admissionParams;

// Results of t_arrayWord::Add.
enum : int {
    kArrayNotAdded = 0,  // the list is full and the record does not rank before its last one
    kArrayFiltered = 1,  // a deleted word or a cell word (the out flag is 1)
    kArrayRefused = 2,   // refused by the second filter
    kArrayNoRoom = 3,    // nothing can be evicted under the multi-character quota
    kArrayAdded = 4,     // added, also when it replaced an equal-text record it outranks
    kArrayMerged =
        5,  // merged into the equal-text record held, or a cloud record that replaced one
};

class t_arrayWord {
public:
    // The page is `count` places after the first `start` places; the lists
    // hold start + count records. multiQuota (0: none) bounds how many
    // multi-character records both lists may hold together. secondFilter
    // (may be null) is asked by both add operations. The three lists come
    // from heap; when one cannot be had IsValid() is false and every add
    // returns 0.
    t_arrayWord(t_candWord** output, uint32_t start, uint32_t count, uint32_t multiQuota,
                i_candidateFilter* secondFilter, t_scopeHeap* heap);
    virtual ~t_arrayWord() = default;
    t_arrayWord(const t_arrayWord&) = delete;
    t_arrayWord& operator=(const t_arrayWord&) = delete;

    bool IsValid() const { return m_index && m_pinned && m_scored; }

    // Offers a record to the ranked list; one of the kArray* results. The
    // record must stay valid for the conversion (the array keeps its pointer).
    int Add(t_candWord* w, int* filtered);
    // Offers a pinned record (kCandKindPinned): 0 when the pinned list is full and the
    // record does not come before its last one, else 1 (also when filtered,
    // refused or merged; the out flag tells a refusal by the candidate filter).
    int AddChecked(t_candWord* w, int* filtered);
    // Writes the wanted page into the output list; the number written.
    int Arrange();

    // 1 (and *flag 1) when text is a deleted word, or a cell word while
    // cell filtering is on and the source type is none of 1, 5, 7, 10, 14.
    int IsFilteredOut(const t_lstr* text, uint16_t sourceType, int* flag) const;
    // Deleted-word filtering follows whether the deleted-word store is ready.
    int EnableDelWordFilter();
    void EnableExtDictFilter() { m_extFilter = true; }
    void SetCandFilter(i_candidateFilter* filter) { m_candFilter = filter; }
    int IsRejectedByFilter(const t_lstr* text) const;

    // The held record of that text, or null.
    t_candWord* FindWord(const t_lstr* text) const;
    // The score of the held record with w's text; 0.0 when none.
    double GetWordScore(const t_candWord* w) const;
    int GetCount() const { return m_pinnedCount + m_scoredCount; }
    // The ranked or the pinned list as a new arena array; its length, 0 when
    // the list is empty or the arena fails.
    int CopyRanked(t_scopeHeap* heap, t_candWord*** out) const;
    int CopyPinned(t_scopeHeap* heap, t_candWord*** out) const;
    // The first pinned record when it wants place 1, else the first ranked.
    t_candWord* GetTopWord() const;
    t_candWord* GetFirstRanked() const { return m_scoredCount > 0 ? ScoredAt(0) : nullptr; }
    // The ranked record at index i (0 = first), or null beyond the list.
    const t_candWord* RankedAt(int i) const {
        return i >= 0 && i < m_scoredCount ? ScoredAt(i) : nullptr;
    }
    // Puts the first count ranked records in the given order, which must
    // hold exactly those records (false, nothing changed, otherwise). The
    // list's own order no longer holds after it: the last step before
    // Arrange.
    bool ReorderRankedHead(t_candWord* const* order, int count);
    // Whether the first ranked record covers n characters and a user word
    // stands among the leading ranked records of that same length.
    int HasUserWordInLead(uint32_t n) const;
    // Whether the first pinned record wants place 1 and is a fixed-first
    // word or a user custom phrase.
    int IsTopPinnedFixed() const;
    // Whether a composed bigram word leads the ranked list (records wanting
    // no place may stand before it).
    int HasComposedBigramLead() const;
    bool HasCloudWord() const { return m_hasCloud; }

    // Merges the ranked records of a correction array into this one (see
    // correction_cands.cpp): each competes, is pinned at place 1 or 2, or
    // is passed over. 1 when any was added.
    int MergeCorrections(const t_arrayWord* corrections, bool shorter,
                         const t_correctionScore& score, const t_admissionParams& params);

    // Orders. CompareText: unit by unit as unsigned 16-bit values, then the
    // shorter first. CompareCandidates (placed, held): 1 when the record
    // being placed ranks before the held one, -1 after, 0 equal.
    static int CompareText(const t_lstr* a, const t_lstr* b);
    static int CompareCandidates(const t_candWord* a, const t_candWord* b);
    // Pinned order: lower wanted place, then higher rank, then higher order
    // number. The duplicate order: higher rank, lower wanted place, higher
    // order number. 1 when a comes first.
    static int ComparePinned(const t_candWord* a, const t_candWord* b);
    static int ComparePinnedDuplicate(const t_candWord* a, const t_candWord* b);

private:
    int Capacity() const { return m_capacity; }
    // The ranked record at list index i, across the gap.
    t_candWord* ScoredAt(int i) const { return m_scored[i < m_gapAt ? i : i + m_gapLen]; }
    // Closes the gap of the ranked list, moving its shorter side.
    void CloseGap();
    // Puts w at list index at of the ranked list (not the index).
    void PlaceRanked(t_candWord* w, int at);
    int MultiTotal() const { return m_pinnedMulti + m_scoredMulti; }
    bool QuotaReachedBy(const t_candWord* w) const {
        return m_quota != 0 && w->multiChar && int64_t(MultiTotal()) >= int64_t(m_quota);
    }
    // The index slot of text: its record's when held (*found), else the
    // free slot it would take.
    uint32_t FindText(const t_lstr* text, bool* found) const;
    void IndexRemove(const t_candWord* w);
    int FindRankedIndex(const t_candWord* w) const;
    int FindPinnedIndex(const t_candWord* w) const;
    // Removes the record at list index i of the pinned or ranked list (and
    // its index entry).
    void RemoveAt(bool pinned, int i);
    void UpdateLastMulti(bool pinned);
    // Removes the last ranked record, or the last multi-character one; false
    // when there is none.
    bool EvictLast(bool multiOnly);
    // Makes room for a multi-character newcomer by evicting the later of
    // the last pinned and the last ranked multi-character record on the
    // page; false when the newcomer would stand after both.
    bool EvictLastMulti(const t_candWord* w, int* evictedRanked);
    // No index slot known yet (InsertRanked and IndexInsert look it up).
    static constexpr uint32_t kNoSlot = UINT32_MAX;
    // Inserts into the ranked list within [0, end) and into the index. slot:
    // the free slot FindText gave for w's text, when nothing was removed
    // since, or kNoSlot.
    void InsertRanked(t_candWord* w, int end, uint32_t slot = kNoSlot);
    void InsertPinned(t_candWord* w, int at);
    void IndexInsert(t_candWord* w, uint32_t slot = kNoSlot);
    void NoteInserted(bool pinned, const t_candWord* w, int at);
    void CompactSegments(t_candWord* w);

    t_candWord** m_output;
    uint32_t m_start;
    uint32_t m_count;
    uint32_t m_quota;
    int m_capacity = 0;  // start + count, bounded
    t_scopeHeap* m_heap;
    // Every held record by text: open addressing with linear probing, at
    // most a third full (the lists hold 2 x capacity records at most).
    t_candWord** m_index = nullptr;
    uint32_t m_indexMask = 0;
    t_candWord** m_pinned = nullptr;  // by ComparePinned
    // By CompareCandidates; moves within its room. Between insertions the
    // list may have a gap of m_gapLen free places before list index
    // m_gapAt, where the next newcomer most often lands: a run of equally
    // likely readings whose ranks interleave then moves only the records
    // between two insertion points.
    t_candWord** m_scored = nullptr;
    t_candWord** m_scoredBase = nullptr;
    size_t m_scoredRoom = 0;
    int m_indexCount = 0;
    int m_pinnedCount = 0;
    int m_scoredCount = 0;
    int m_gapAt = 0;
    int m_gapLen = 0;
    int m_pinnedMulti = 0;
    int m_scoredMulti = 0;
    int m_lastPinnedMulti = -1;
    int m_lastScoredMulti = -1;
    bool m_delFilter = false;
    bool m_extFilter = false;
    bool m_hasCloud = false;
    i_candidateFilter* m_candFilter = nullptr;
    i_candidateFilter* m_secondFilter;
};
