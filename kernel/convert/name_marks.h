// Person names: the name marks the collector gives system and user word
// records as it makes them, and the one record of a name composed from a
// surname and given-name nodes. One conversion on one thread.
#pragma once

#include <cstdint>

struct t_lstr;
struct t_candWord;
class t_sysDict;
class t_arrayWord;
class t_scopeHeap;

// Marks of one collection run.
// The collector's context: the caller's two context bytes, then the byte
// the marks set.
struct t_nameMarkState {
    uint8_t context[2] = {};
    uint8_t found = 0;   // out: a name came up over the whole input
    uint8_t marked = 0;  // a person name was marked already
};

// Name mark 64 for a person name (flag bit 0) or the found flag for a
// name-like word (bit 1), once per run and only when names are wanted over
// the full span; else mark 2 and the class byte for a word of class kind 2.
void SetSystemWordNameMark(t_nameMarkState* state, uint32_t entry, const t_sysDict* sys,
                           t_candWord* w, bool namesWanted, bool fullSpan);
// A user word's name type (the low two bits of its flags): 0 none, 2 a
// person name (64), others 128 with the type as companion.
void SetUserWordNameMark(t_nameMarkState* state, int nameType, t_candWord* w, bool namesWanted,
                         bool fullSpan);

// One node of a composed name path.
struct t_nameNode {
    const t_lstr* ids;
    const t_lstr* segments;
    uint32_t textOffset;  // into the system dictionary's text area
};

// The cheapest name over the whole input: a one-syllable surname (a system
// word of the surname class) from position 0, then a given name of one or
// two one-character system words to the end, given-name characters (their
// class) first. The number of nodes written (2 or
// 3; 0 when the input reads as no such name) and *value, the summed costs;
// *plainValue (when given) sums the cheapest one-character words over the
// same spans, what the name's syllables cost read the usual way.
class t_inputLattice;
int FindSurnameName(const t_inputLattice* lattice, const t_sysDict* sys, t_nameNode nodes[3],
                    int16_t* value, int16_t* plainValue = nullptr);

// Joins the nodes into one record (kCandSourceComposedName, name mark 64, rank =
// value) and adds it. The array's result, or 0 when the texts cannot be read
// or the joined strings exceed 255 units.
int AddComposedNames(t_arrayWord* out, t_scopeHeap* arena, const t_sysDict* sys, uint32_t covered,
                     const t_nameNode* nodes, int count, int16_t value, bool debug);
