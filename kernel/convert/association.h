// The association pass: when the leading candidates are weak, a longer word
// that continues a three-syllable reading of the whole input may join the
// page as a predicted word; the user's own words among such predictions are
// raised. One conversion on one thread; records live in the given arena.
#pragma once

#include "kernel/convert/convert_dicts.h"

class t_arrayWord;
class t_candCollector;
class t_hzDict;
class t_pyLattice;
class t_scopeHeap;
class i_candidateFilter;
class i_wordFinderSink;

// Walks the syllable lattice depth first from position 0; every path of
// exactly three real syllables that reaches the end and that the system
// word tree holds goes to sink->ScoreAssociation with the product of its
// arcs' probabilities. Returns the number of paths handed on.
int AssociationLatticeWalk(const t_pyLattice& lattice, const t_convertDicts& dicts,
                           i_wordFinderSink* sink);

// Every scored record of the array that the user dictionary holds under
// its syllables (a word whose characters read so) is added again as a user
// word (kind 1, score 1.0, order number = the user's combined frequency),
// so that it merges into the record it copies. Returns the number added.
int UserAssociationBoost(t_arrayWord* array, t_scopeHeap* arena, const t_convertDicts& dicts,
                         const t_hzDict* hz, bool debug);

// What the association pass needs beside the main array.
struct t_predictRequest {
    t_convertDicts dicts;
    const t_hzDict* hz = nullptr;
    const t_pyLattice* syllables = nullptr;
    t_scopeHeap* arena = nullptr;
    i_candidateFilter* filter = nullptr;  // the outer filter of the run
    bool strict = false;                  // two results need a clearly better first
    bool debug = false;
};

// The association candidates of the input's three-syllable readings, in a
// 3-place array; the first joins the main array (PlacePredictedWord). 1
// when a predicted word was added.
int AddPredictedWord(const t_predictRequest& request, t_arrayWord* main);
