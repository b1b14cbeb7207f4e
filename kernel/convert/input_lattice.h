// t_inputLattice: the word lattice of one input. Every dictionary word the
// syllable lattice can spell is a t_wordArc between two input positions,
// grouped in nodes by (start, end), with the per-position word counts the
// composition and the readers steer by.
// One conversion on one thread; nodes and arcs live in the caller's arenas.
#pragma once

#include <cstdint>

#include "kernel/convert/py_lattice.h"

struct t_lstr;
class t_scopeHeap;
class t_sysDict;

// Where an arc's word comes from.
enum : uint8_t {
    kArcSourceSystem = 1,
    kArcSourceCell = 2,
    kArcSourceUser = 4,
    kArcSourcePrivilege = 6,
    kArcSourceUserExt = 7,
    kArcSourceAbbreviation = 8,  // the system dictionary's one- and two-letter table
};

// Kind bits an arc collects along its syllables.
inline constexpr uint32_t kArcKindSure = 1;    // a syllable of probability above 0.99
inline constexpr uint32_t kArcKindSingle = 4;  // a less certain syllable, or a game-key word

inline constexpr uint8_t kArcForecast = 8;  // the caller's mark on a forecast arc
inline constexpr float kAbbreviationProb = 0.01f;

// One cost unit in nats: every cost of the system data and of the
// conversion is -ln p in this unit.
inline constexpr double kNatsPerCostUnit = 0.007024614936964466;

// The integer power of a probability: 0 at 0.8 and above, 1966 at 0.000001
// and below, else the integer part of ln(p) / -kNatsPerCostUnit.
int32_t ArcPower(float p);

struct t_wordArc {
    int32_t start;
    int32_t end;
    uint8_t source;           // kArcSource*
    uint32_t value;           // source 1: first word record of the group; 2: cell item; 4, 7: user
                              // group; 6: privilege row; 8: first short-key item
    const t_lstr* ids;        // syllable ids (source 8: null, see items)
    const t_lstr* positions;  // end position of each syllable
    const uint8_t* items;     // source 8: the first 16-byte short-key item
    uint32_t flags;           // syllable flags ORed along the path
    uint32_t kind;            // kArcKind* bits
    float prob;
    int32_t power;      // ArcPower(prob) for sources 1, 2, 4 and 8, else 0
    t_wordArc* next;    // next arc of the same node
    int32_t syllables;  // syllable count (source 8: number of items)
    uint8_t suspicious;
    uint8_t forecast;  // kArcForecast or 0
};

// The arcs of one (start, end) pair.
struct t_wordArcNode {
    int32_t start;
    int32_t end;
    t_wordArcNode* next;  // next node with the same end
    t_wordArc* arcs;
    int32_t arcCount;
};

class t_inputLattice {
public:
    // Nodes and arcs come from the two arenas (they may be one).
    t_inputLattice(t_scopeHeap* nodeArena, t_scopeHeap* arcArena);
    t_inputLattice(const t_inputLattice&) = delete;
    t_inputLattice& operator=(const t_inputLattice&) = delete;

    // Empties the lattice for n positions (cut to kMaxInputChars; a
    // negative n counts as 0): lists, counts, tables and result bytes.
    void Reset(int n);

    // Adds an arc, to the node of (start, end) when the newest node ending
    // at end has that start, else to a new one. Sources 1, 2 and 4 update
    // the word tables and the farthest position; an arc over the whole
    // input sets the result bytes. Null, nothing added, when start or end
    // lies outside 0..n, end is not after start, the syllable count is
    // negative or an arena fails.
    t_wordArc* AddArc(int start, int end, uint32_t value, const t_lstr* ids,
                      const t_lstr* positions, uint32_t flags, uint8_t source, int32_t syllables,
                      uint32_t kind, uint8_t forecast, float prob);
    // One source-8 arc from p to n when the rest of the input is one letter,
    // or two (an apostrophe among two counts as one letter), and the
    // system's short-key table has words for it. True when added.
    bool AddAbbreviationArcs(int p, const wchar_t* input, const t_sysDict* sys);
    // From n down to 1: with systemOnly only system arcs stay; without it
    // cell arcs (and arcs of no source) go. Emptied nodes are unlinked.
    void Prune(bool systemOnly);
    // Sets the words-to-end table from the system and user arcs.
    void FinaliseWordCounts();

    int32_t GetLength() const { return m_n; }
    const t_wordArcNode* NodesEndingAt(int p) const { return Valid(p) ? m_heads[p] : nullptr; }
    int32_t GetNodeCount() const { return m_nodeCount; }
    int32_t GetArcCount() const { return m_arcCount; }
    int32_t GetFarthest() const { return m_farthest; }
    // Fewest system or user words from p to the farthest position (after
    // FinaliseWordCounts); fewest system, user or cell words, and their
    // syllables, from 0 to p. 0 where no such path exists, and outside 0..n.
    int32_t WordsToEnd(int p) const { return Valid(p) ? m_wordsToEnd[p] : 0; }
    int32_t FewestWords(int p) const { return Valid(p) ? m_fewestWords[p] : 0; }
    int32_t FewestSyllables(int p) const { return Valid(p) ? m_fewestSyllables[p] : 0; }
    bool HasWholeOneSyllableWord() const { return m_wholeOneSyllable; }
    bool HasWholeConfidentWord() const { return m_wholeConfident; }
    bool AbbreviationArcsAdded() const { return m_abbreviationAdded; }
    void SetShuangPin(bool on) { m_shuangPin = on; }
    bool IsShuangPin() const { return m_shuangPin; }

private:
    // p < kMaxPositions always holds (n < kMaxPositions); it lets the compiler see it.
    bool Valid(int p) const { return p >= 0 && p <= m_n && p < kMaxPositions; }

    t_scopeHeap* m_nodeArena;
    t_scopeHeap* m_arcArena;
    int32_t m_n = 0;
    int32_t m_nodeCount = 0;
    int32_t m_arcCount = 0;
    t_wordArcNode* m_heads[kMaxPositions] = {};
    t_wordArcNode* m_tails[kMaxPositions] = {};
    int32_t m_wordsToEnd[kMaxPositions] = {};
    int32_t m_fewestWords[kMaxPositions] = {};
    int32_t m_fewestSyllables[kMaxPositions] = {};
    int32_t m_farthest = 0;
    bool m_wholeOneSyllable = false;
    bool m_wholeConfident = false;
    bool m_abbreviationAdded = false;
    bool m_shuangPin = false;
};
