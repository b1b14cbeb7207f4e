// Spelling-correction variants of the typed letters: every input one edit
// away (a substituted, deleted, inserted or swapped letter) that the letter
// trigrams allow, priced by the system's letter priors and the user's own
// spelling model, kept cheapest first; the choice of the variant whose
// syllable lattice reads best; and the mapping of corrected candidates'
// syllable ends back onto the typed input.
// One conversion on one thread; variants and lattices live in its arena.
#pragma once

#include <cstdint>

#include "kernel/convert/correction_cands.h"
#include "kernel/convert/py_lattice.h"

class t_scopeHeap;
class t_pyDict;
class t_keyPyMap;
class t_userSpellModelDict;
class t_adjCache;
class t_arrayWord;
struct t_candWord;

struct t_spellVariant {
    const wchar_t* letters;  // terminated, in the arena
    int32_t length;
    int32_t kind;      // kEditSubstitute .. kEditSwap
    int32_t position;  // of the edit in the typed letters (insert: before that letter)
    int32_t prior;     // system prior + the kind's base cost
    int32_t user;      // the user's spelling model; 0 without one
    int32_t cost;
    t_spellVariant* next;
};

struct t_spellModels {
    const t_pyDict* py = nullptr;
    const t_keyPyMap* keyMap = nullptr;
    const t_userSpellModelDict* user = nullptr;  // may be null
    t_adjCache* cache = nullptr;                 // may be null
};

// The chosen variant with its lattice and the scores the admission reads.
struct t_spellChoice {
    const t_spellVariant* variant = nullptr;
    t_pyLattice* lattice = nullptr;  // in the arena
    t_correctionScore score;
    bool atEnd = false;  // the edit lies at the end of the input
    bool sure = false;   // the variant's lattice probability is above 0.98
};

// What DecideCorrectionMode found.
struct t_correctionMode {
    int32_t mode = 1;  // 1 plain, 2 weak end, 3 ambiguous end, 4 a sure reading
    bool mustTry = false;
    bool wholeWord = false;    // the array holds a word of the whole input
    bool composedTop = false;  // its top word is composed
    // The input reads as pinyin up to a last initial or cut syllable: it is
    // being typed, so a correction never comes first.
    bool onTheWay = false;
    // Its last keys read as no whole syllable: a correction must also read
    // better than the keys as typed.
    bool cutEnd = false;
    int32_t lastStart = 0;  // where its likeliest last syllable starts
    // The keys read as a sure reading or spell an English word: a
    // correction brings in no rare character there (和囖 for "hello").
    bool readsAsTyped = false;
    // The keys read as a word with a syllable typed as its initial alone:
    // a correction never comes first.
    bool readsAsWord = false;
    // The keys are one whole syllable (liu, xiong): typed as meant, they
    // are offered no correction that drops or changes one of them.
    bool wholeSyllable = false;
};

class t_spellCorrector {
public:
    static constexpr int32_t kDropAbove = 600;  // above the cheapest variant
    // Variants whose lattices are priced. A sure reading that only a
    // composed sentence covers is priced as widely as an unsure one: a
    // slipped vowel (shigong for shiyong) still reads as pinyin, and its
    // fix is a substitution, which the priors put behind the cheaper edits.
    static constexpr int kLookAt = 30;

    // singleAnswer: a cheaper variant replaces the list (the request's
    // one-answer mode).
    t_spellCorrector(t_scopeHeap* arena, const t_spellModels& models, bool singleAnswer = false);

    // Makes the variants of letters[0..length): from the adjustment cache's
    // edit for the input when it has one, else every edit the trigrams
    // allow outside the positions next to an apostrophe. False at once when
    // a character is neither "a" to "z" nor an apostrophe, or when no
    // variant was made.
    bool MakeVariants(const wchar_t* letters, int length);
    // Takes letters as the typed input with an empty list (what
    // MakeVariants does first); false for the inputs it refuses.
    bool Begin(const wchar_t* letters, int length);
    // Prices a variant and keeps it (false: dropped, or the arena failed).
    bool Add(const wchar_t* letters, int length, int32_t kind, int32_t position);

    const t_spellVariant* First() const { return m_first; }
    int Count() const { return m_count; }
    // Whether the last MakeVariants took the adjustment cache's edit.
    bool UsedCache() const { return m_usedCache; }

    // Builds the lattices of the leading variants and picks the one of the
    // lowest total (best-path cost + prior + user score, 500 less for a
    // sure reading). typedProb is the input's own lattice probability.
    // With params, a choice that the later-candidate test rejects is
    // refused (false).
    bool ChooseBest(double typedProb, int32_t typedPathCost, bool composedTop,
                    const t_admissionParams* params, t_spellChoice* out);

private:
    int32_t Prior(const wchar_t* typed, int length, int32_t kind, int32_t position,
                  wchar_t letter) const;
    int32_t UserScore(const wchar_t* typed, int32_t kind, int32_t position, wchar_t letter) const;
    void Generate();
    bool Make(int32_t kind, int32_t position, wchar_t letter);

    t_scopeHeap* m_arena;
    t_spellModels m_models;
    bool m_single;
    const wchar_t* m_letters = nullptr;
    int m_length = 0;
    bool m_blocked[kMaxPositions] = {};
    t_spellVariant* m_first = nullptr;
    int m_count = 0;
    bool m_usedCache = false;
};

// Whether correction is worth trying for an input whose lattice is given,
// and in which mode. 0 when the input is blocked, has no path, reads with
// a probability of at most 1e-8, or the array has no top word.
int DecideCorrectionMode(const t_pyLattice& lattice, const wchar_t* letters, int length,
                         const t_arrayWord* array, bool blocked, t_correctionMode* out);

// Whether a chosen correction is shown at all. A sure reading, and input
// on the way (edited before its last syllable), take one only when it
// reads nearly as well as the keys as typed; at the end of input on the
// way no letter is added, and an edit must read better than the keys.
bool ShowsCorrection(const t_correctionMode& mode, const t_spellChoice& choice);
// The admission a decided mode asks for: its mode is the level, and an
// input that must be tried although it reads well (or reads as initials
// only) admits a correction only when it is clearly better.
t_admissionParams AdmissionFor(const t_correctionMode& mode);

// Moves the syllable ends (and covered lengths) of records converted from a
// variant onto the typed input: after an inserted letter at position q the
// ends beyond q shrink by one; after a deleted letter at q the ends at or
// beyond q grow by one, so a record over the whole variant covers the whole
// typed input. Lists are changed on arena copies; the number of records
// changed.
int ShiftSegmentEnds(t_scopeHeap* arena, t_candWord** records, int n, int32_t kind,
                     int32_t position);
