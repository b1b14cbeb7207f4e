// t_pyLattice: the syllable lattice of one typed input. Every way the keys
// can be read as pinyin syllables (or letters) is an arc between two input
// positions, with forward and backward path probabilities per position.
// One conversion step on one thread; arcs live in the caller's arena.
#pragma once

#include <cstdint>

class t_scopeHeap;
class t_keyPyMap;
class t_pyDict;

// Input positions of every lattice and per-position table: an input is cut
// to this many characters, so positions run from 0 to at most 79.
inline constexpr int kMaxInputChars = 79;
inline constexpr int kMaxPositions = kMaxInputChars + 1;

// Flag bits of a syllable arc.
inline constexpr uint16_t kPyArcPartialMask =
    0x0006;  // abbreviated or partial spelling (from the key map)
inline constexpr uint16_t kPyArcDead = 0x4000;

// The key map lists at most this many syllables for one key.
inline constexpr int kMaxIdsPerKey = 80;

// One syllable (or letter) read between two positions.
struct t_pyArc {
    int32_t start;
    int32_t end;   // after the key and the apostrophes that follow it
    int32_t keys;  // typed characters consumed, trailing apostrophes not counted
    float prob;
    uint16_t id;  // PinyinId: 0..412 syllables, then the letters
    uint16_t flags;
};

// A link of an arc list; new links go to the front.
struct t_pyArcLink {
    t_pyArc* arc;
    t_pyArcLink* next;
};

struct t_pyLatticeCell {
    int32_t value = -1;
    double forward = 0;
    double backward = 0;
    t_pyArcLink* out = nullptr;
    t_pyArcLink* in = nullptr;
};

class t_pyLattice {
public:
    t_pyLattice() = default;
    t_pyLattice(const t_pyLattice&) = delete;
    t_pyLattice& operator=(const t_pyLattice&) = delete;

    // Builds the lattice of input[0..length) (cut to kMaxInputChars) from the
    // key map: arcs, forward and backward probabilities, dead arcs removed
    // (not in letters mode), and in letters mode one letter arc per
    // lower-case letter. An apostrophe separates syllables: no key crosses
    // one. False (lattice empty) for a null argument, a length below 1 or a
    // key map or pinyin dictionary that is not ready.
    bool Build(t_scopeHeap* arena, const t_keyPyMap* keyMap, const t_pyDict* py,
               const wchar_t* input, int length, bool lettersMode, bool shuangPin);
    // The lattice of abbreviated input: every character is its own key, arcs
    // of probability 0.9 x weight, partial ones included. Only for inputs of
    // the letters a-z; false for anything else.
    bool BuildByKeys(t_scopeHeap* arena, const t_keyPyMap* keyMap, const t_pyDict* py,
                     const wchar_t* input, int length);

    // n positions after 0 (cut to kMaxInputChars), no arcs, cell 0 at
    // forward 1.0. False for n below 1 or a null arena.
    bool Initialise(t_scopeHeap* arena, int n);
    void Bind(t_scopeHeap* arena);  // an arena, no cells
    void Release();                 // no cells; safe when there are none
    // Same n, last reachable position and cells (arcs shared); false when
    // other has no cells.
    bool CopyFrom(const t_pyLattice& other);

    int32_t GetLength() const { return m_n; }
    bool HasCells() const { return m_n > 0; }
    int32_t GetLastReachable() const { return m_lastReachable; }
    bool IsLettersMode() const { return m_lettersMode; }

    // Per position; 0, -1 or null (setters: nothing) outside 0..n.
    int32_t GetValue(int p) const { return Valid(p) ? m_cells[p].value : -1; }
    void SetValue(int p, int32_t v) {
        if (Valid(p)) m_cells[p].value = v;
    }
    double GetForward(int p) const { return Valid(p) ? m_cells[p].forward : 0; }
    void SetForward(int p, double v) {
        if (Valid(p)) m_cells[p].forward = v;
    }
    double GetBackward(int p) const { return Valid(p) ? m_cells[p].backward : 0; }
    void SetBackward(int p, double v) {
        if (Valid(p)) m_cells[p].backward = v;
    }
    const t_pyArcLink* Out(int p) const { return Valid(p) ? m_cells[p].out : nullptr; }
    const t_pyArcLink* In(int p) const { return Valid(p) ? m_cells[p].in : nullptr; }

    // Adds an arc to both lists (new links in front); null when the arena
    // fails or a position is outside 0..n or end is not after start.
    t_pyArc* AddArc(int start, int end, int keys, float prob, uint16_t id, uint16_t flags);

    // Near the end (n - p <= 2) with a backward probability strictly
    // between 0 and 1.
    bool IsAmbiguousPosition(int p) const;
    // The input ends in a partial syllable that competes with no complete one.
    bool IsEndAmbiguous() const;
    bool IsNearEndWeak() const;
    // No live arc into n carries a complete syllable.
    bool LacksPlainSyllable() const;
    // The last key is a lone vowel read also as the start of a syllable
    // without initial not typed out yet (the a of fanga as an).
    bool EndsInBegunVowel() const { return m_endBegun; }
    // Fewest live arcs on a path from 0 to n; 0x7fffffff when n is not reached.
    int32_t FewestSyllables() const;
    // Cheapest syllable path by the pinyin dictionary's unigram and pair
    // costs, + 1250 when the path stops before n; 80000 when there is no
    // path, no dictionary or no memory.
    int32_t BestBigramPathCost(const t_pyDict* py) const;
    // Marks where syllables start and end and which positions lie inside a
    // long syllable. starts and ends hold length + 1 entries, spans too.
    // Nothing is done when n > length or an array is null.
    void MarkSyllableBoundaries(uint8_t* starts, uint8_t* ends, uint8_t* spans,
                                const wchar_t* input, int length) const;

    static constexpr int32_t kNoPath = 0x7fffffff;
    static constexpr int32_t kNoBigramPath = 80000;

private:
    bool Valid(int p) const { return p >= 0 && p <= m_n; }
    void BuildArcs(const t_keyPyMap* keyMap, const t_pyDict* py, const wchar_t* input,
                   bool shuangPin);
    void BackwardSweep(bool lettersMode);
    void MarkDeadArcs();
    void UnlinkDeadArcs();
    void AddLetterArcs(const t_pyDict* py, const wchar_t* input);

    t_pyLatticeCell m_cells[kMaxPositions];
    int32_t m_n = 0;
    int32_t m_lastReachable = -1;
    t_scopeHeap* m_arena = nullptr;
    bool m_lettersMode = false;
    bool m_endBegun = false;
};
