// t_wordFinder: fills the word lattice. From a start position it walks the
// syllable arcs depth first, steps a cursor down the system word tree and
// probes the cell, user, privilege, cloud-cache and user-extension
// dictionaries with the growing syllable string; every word found becomes
// an arc. One per collection pass, on the conversion's thread.
#pragma once

#include <cstdint>

#include "kernel/convert/convert_dicts.h"
#include "kernel/convert/input_lattice.h"
#include "kernel/convert/py_lattice.h"

struct t_sysDictCursor;
struct t_wordReadingRow;

// What the walk hands on besides arcs: association candidates at the end of
// the input, cloud-cache words and the weak-top level. The collector and
// the post-processing implement it; every operation may be left as is.
class i_wordFinderSink {
public:
    virtual ~i_wordFinderSink() = default;
    // A path of count syllables from start to the end of the input that
    // longer words continue. ids and positions hold count entries.
    virtual void ScoreAssociation(int start, const uint16_t* ids, const uint16_t* positions,
                                  int count, double prob) {
        (void)start, (void)ids, (void)positions, (void)count, (void)prob;
    }
    // The cloud cache holds answers (handle, count) for the syllables of a
    // path from start to the end of the input.
    virtual void AddCloudCacheWords(int32_t handle, int count, const t_lstr* ids, int start,
                                    int end, double backward) {
        (void)handle, (void)count, (void)ids, (void)start, (void)end, (void)backward;
    }
    // The system tree goes on beyond a path of level syllables to the end.
    virtual void SetWeakTopLevel(int level, bool partial) { (void)level, (void)partial; }
};

// The reading walk's answer: the tone-marked reading of the only word that
// spells the input from the start position to its end.
struct t_wordReadingOut {
    int state = 0;  // 0 none, 1 one reading, 2 more than one
    const t_wordReadingRow* row = nullptr;
};

// The switches of one FindWordsAt call.
struct t_findSwitches {
    bool cell = false;
    bool user = false;  // the user dictionary and the user extension dictionary
    bool privilege = false;
    bool cloudCache = false;
    i_wordFinderSink* forecast = nullptr;  // association at the end of the input
    int forecastGate = 0;                  // paths shorter than this are not offered
    i_wordFinderSink* cloudCollector = nullptr;
    t_wordReadingOut* reading = nullptr;
};

class t_wordFinder {
public:
    // Longest syllable path the walk follows (every arc advances a position).
    static constexpr int kMaxDepth = kMaxInputChars;

    t_wordFinder(const t_convertDicts& dicts, t_inputLattice* lattice, const t_pyLattice* syllables,
                 const wchar_t* input, t_scopeHeap* arena);

    void SetWideLookup(bool on, bool second) {
        m_wide = on;
        m_wideSecond = second;
    }
    // Game keys: only one-syllable system words, the first syllable that has any.
    void SetGameKeys(bool on) { m_gameKeys = on; }
    void SetWeakTopGate(i_wordFinderSink* gate) { m_weakTop = gate; }

    // Adds the arcs of every word that starts at position. False when the
    // position lies outside the lattices or the lattices do not match.
    bool FindWordsAt(int position, const t_findSwitches& switches);

private:
    struct t_lookups {
        uint16_t cellMask;
        bool user, cloud, privilege, userExt;
    };
    void WalkArcs(int p, int depth, double prob, t_sysDictCursor& cursor, const t_lookups& on,
                  uint32_t flags, uint32_t kind);
    const t_lstr* PathIds(int count);
    const t_lstr* PathPositions(int count);
    void ReadingWalk(int p, int depth, t_wordReadingOut* out);

    t_convertDicts m_dicts;
    t_inputLattice* m_lattice;
    const t_pyLattice* m_syllables;
    const wchar_t* m_input;
    t_scopeHeap* m_arena;
    t_findSwitches m_switches;
    i_wordFinderSink* m_weakTop = nullptr;
    int m_start = 0;
    bool m_wide = false;
    bool m_wideSecond = true;
    bool m_gameKeys = false;
    bool m_systemAllowed = true;
    uint16_t m_ids[kMaxDepth + 1] = {};
    uint16_t m_positions[kMaxDepth + 1] = {};
};
