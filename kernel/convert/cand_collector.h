// t_candCollector: turns the word arcs of one input into candidate records.
// It walks the end positions from the longest, asks the dictionary each arc
// stands for, scores every entry (context adjustment, name marks, case of
// the typed letters) and offers it to the candidate array; it also adds the
// association candidates that follow a syllable path.
// One conversion on one thread; records live in the conversion's arena.
#pragma once

#include <cstdint>
#include <string>

#include "kernel/convert/convert_dicts.h"
#include "kernel/convert/input_lattice.h"
#include "kernel/convert/word_finder.h"

struct t_candWord;
struct t_freqAdjust;
struct t_nameMarkState;
class t_arrayWord;
class t_hzDict;
class t_Numeric;
class t_scopeHeap;
class i_candidateFilter;

// The capital letters of the typed input.
struct t_inputCaseMap {
    const wchar_t* input = nullptr;
    int32_t length = 0;
    uint8_t* capitals = nullptr;  // 1 per input character that is A-Z

    // Builds the map in the arena; inactive (length 0) when it fails.
    void Init(t_scopeHeap* arena, const wchar_t* text, int n);
    bool IsActive() const { return capitals && length > 0; }
    // A lower-case ASCII letter of a syllable becomes the first capital
    // typed within that syllable's span (the record's text becomes an arena
    // copy). Nothing changes when the text is shorter than the segments.
    void Apply(t_candWord* w, t_scopeHeap* arena) const;
};

// tail after the record's trace text (in the arena; unchanged when the
// arena fails).
void AppendTrace(t_scopeHeap* arena, t_candWord* w, const std::wstring& tail);

// Rank of a cell word: frequency x factor, kept within 1..32767 (a
// frequency that does not fit 16 bits must not turn negative).
int16_t CellWordRank(int64_t frequency, double factor);

class t_candCollector : public i_wordFinderSink {
public:
    // Power of arcs without a better record.
    static constexpr int32_t kStartPower = 2000;
    static constexpr int kMaxUserEntries = 64;
    static constexpr int kMaxAssociationGroups = 17;

    t_candCollector(t_scopeHeap* arena, const t_convertDicts& dicts, const t_inputLattice* lattice,
                    t_arrayWord* out, const t_inputCaseMap* caseMap = nullptr);

    void SetFilters(i_candidateFilter* first, i_candidateFilter* second) {
        m_filter1 = first;
        m_filter2 = second;
    }
    void SetCharReadings(const t_hzDict* hz) { m_hz = hz; }
    void SetPositionFloor(int16_t floor) { m_floor = floor; }
    // The context record (null: no context).
    void SetAdjust(t_freqAdjust* adjust) { m_adjust = adjust; }
    // The number adjuster that raises the number words the user took (null: none).
    void SetNumberAdjuster(t_Numeric* numeric) { m_numeric = numeric; }
    // Person-name marking; names count only when wanted.
    void SetNameMarker(t_nameMarkState* marker, bool namesWanted) {
        m_names = marker;
        m_namesWanted = namesWanted;
    }
    void SetDebugMode(bool on) { m_debug = on; }

    // The walk over the arcs from position 0: probs[e] is the lattice
    // probability of ending at e (e = 0..length). singleLetter keeps one
    // letter ids from giving system words.
    void CollectAll(const double* probs, bool singleLetter);

    // Association candidates after a path of count syllables of probability
    // prob: the system words that continue it, ranked by the path's power
    // plus their cost (with the four-character filter only words of four
    // characters costing at most 900), then the user (kind 1, by their
    // combined frequency), cell (pinned places allowed) and privilege words
    // of longer readings, as SetAssociationSources allows.
    void ScoreAssociation(int start, const uint16_t* ids, const uint16_t* positions, int count,
                          double prob) override;
    void SetFourCharAssociation(bool on) { m_fourChars = on; }
    // Which further dictionaries offer words of longer readings that start
    // with the path.
    void SetAssociationSources(bool user, bool cell, bool privilege, bool external = false) {
        m_userAssociation = user;
        m_cellAssociation = cell;
        m_privilegeAssociation = privilege;
        m_externalAssociation = external;
    }
    int GetAssociationAdded() const { return m_associationAdded; }

    double GetBound() const { return m_bound; }
    uint32_t GetLongestEnd() const { return m_longestEnd; }
    int32_t GetLongestArcValue() const { return m_longestValue; }
    uint32_t GetFirstWordEnd() const { return m_firstWordEnd; }
    uint32_t GetFirstAddedEnd() const { return m_firstAddedEnd; }
    int32_t GetFullLengthAdded() const { return m_fullAdded; }
    // The lowest power of the scored records it placed in the array (10000
    // when none).
    int32_t GetLowestPower() const { return m_lowestPower; }

    // The per-source adders: the number of records added. best/bestPower
    // report the source's best record.
    int AddSystemWords(const t_wordArc& arc, int end, double prob, int32_t extra, t_candWord** best,
                       int32_t* bestPower);
    int AddAbbrSystemWords(const t_wordArc& arc, int end, double prob);
    int AddCellWords(const t_wordArc& arc, int end, bool fixedAllowed, double score, double factor);
    int AddUserWords(const t_wordArc& arc, int end, double prob, t_candWord** best);
    int AddPrivilegeWords(const t_wordArc& arc, int end, double prob);
    int AddExternalUserWords(const t_wordArc& arc, int end, double prob, t_candWord** best);
    // The cloud cache's answers for the syllables of a path from the start
    // to end (the word finder's hook): ranked by their hit counts.
    void AddCloudCacheWords(int32_t handle, int count, const t_lstr* ids, int start, int end,
                            double backward) override;

private:
    t_candWord* NewAssociationRecord(const t_lstr* found, const t_lstr* key, const t_lstr* segments,
                                     uint32_t covered, bool* full);
    int AddUserAssociation(const t_lstr* path, const t_lstr* segments, uint32_t covered);
    int AddExternalUserAssociation(const t_lstr* path, const t_lstr* segments, uint32_t covered);
    int AddCellAssociation(const t_lstr* path, const t_lstr* segments, uint32_t covered, double p);
    int AddPrivilegeAssociation(const t_lstr* path, const t_lstr* segments, uint32_t covered,
                                int32_t power);
    bool Refused(const t_lstr* text) const;
    // A record of `text` read as `ids` over `segments` (null: none), covering
    // `covered` input characters, at the position floor; null when the arena
    // is full.
    t_candWord* NewWordRecord(const t_lstr* text, const t_lstr* ids, const t_lstr* segments,
                              uint32_t covered);
    // The system dictionary's cost and frequency of the record's word, when
    // it holds the word.
    void TakeSystemRank(t_candWord* w) const;
    // 1 when Offer added or merged the record, else 0.
    int OfferCounted(t_candWord* w, double prob);
    // Offers the record; on a refusal the bound becomes p. The array's result.
    int Offer(t_candWord* w, double p);
    void Debug(t_candWord* w, const wchar_t* label, int32_t a, int32_t b);
    bool IsRealWord(const t_wordArc& arc) const;
    // The likeliest system word (the lowest list cost) of the arcs that end
    // at one place, per arc probability: what leads there when the word
    // before raises nothing.
    struct t_plainWord {
        float prob = 0;
        const t_lstr* ids = nullptr;
        const t_lstr* text = nullptr;
        uint32_t gram = 0;
        int32_t cost = INT32_MAX;
    };
    void FindPlainWords(const t_wordArc* const* arcs, int count);
    const t_plainWord* PlainWordFor(float prob) const;

    t_scopeHeap* m_arena;
    t_convertDicts m_dicts;
    const t_inputLattice* m_lattice;
    t_arrayWord* m_out;
    const t_inputCaseMap* m_caseMap;
    const t_hzDict* m_hz = nullptr;
    i_candidateFilter* m_filter1 = nullptr;
    i_candidateFilter* m_filter2 = nullptr;
    t_freqAdjust* m_adjust = nullptr;
    t_Numeric* m_numeric = nullptr;
    t_nameMarkState* m_names = nullptr;
    bool m_namesWanted = false;
    bool m_debug = false;
    bool m_singleLetter = false;
    bool m_fourChars = false;
    bool m_userAssociation = false;
    bool m_cellAssociation = false;
    bool m_privilegeAssociation = false;
    bool m_externalAssociation = false;
    int m_associationAdded = 0;
    int16_t m_floor = 0;
    double m_bound = 0.0;
    uint32_t m_longestEnd = 0;
    int32_t m_longestValue = 0;
    uint32_t m_firstWordEnd = 0;
    uint32_t m_firstAddedEnd = 0;
    int32_t m_fullAdded = 0;
    int32_t m_lowestPower = kNoLowestPower;
    static constexpr int32_t kNoLowestPower = 10000;
    uint32_t m_endCount = 0;
    static constexpr int kMaxPlainWords = 16;
    t_plainWord m_plain[kMaxPlainWords];
    int m_plainCount = 0;
};
