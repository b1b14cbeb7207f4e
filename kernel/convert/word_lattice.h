// Word composition: t_wordLattice finds, position by position, the cheapest
// and the typed-cheapest way to reach every word node the readers made,
// scoring each step with the bigram statistics; ComposeWords turns the best
// paths into whole-input candidate records (kCandSourceComposed) and makes the
// best path's readings with one word exchanged for a homophone.
// One conversion on one thread; nodes, paths and records live in its arena.
#pragma once

#include <cstdint>

#include "kernel/convert/convert_dicts.h"
#include "kernel/convert/input_lattice.h"
#include "kernel/convert/word_reader.h"

class t_arrayWord;
class t_scopeHeap;
struct t_candWord;

// Path flag bits of a word node (t_segWordNode::pathFlags).
inline constexpr uint8_t kPathWideMargin = 64;    // predecessors up to 300 above the best are kept
inline constexpr uint8_t kPathThroughUser = 128;  // the typed path passes a user word

class t_wordLattice {
public:
    static constexpr int32_t kNoCost = 1000000;
    static constexpr int32_t kStepCost = 100;     // every word of a path
    static constexpr int32_t kTypedExtra = 1000;  // a user or cell word on the typed path
    static constexpr int32_t kMargin = 100;       // beam above a position's best node
    static constexpr int32_t kWideMargin = 300;
    static constexpr int32_t kMaxSingleRun = 10;      // one-character words in a row
    static constexpr int32_t kPreferenceBonus = 200;  // a preferred pair ending the input
    static constexpr int kTextCapacity = 255;         // units of the path buffers (512 bytes each)
    // Pair score below which two one-character words count as joined (the
    // first makes the second about twice as likely: 了 吗 -242, 了 马 -38).
    static constexpr int32_t kShortPairJoined = -100;
    // Characters of the longest path whose words are asked whether they
    // join (the sure first readings of the candidate list).
    static constexpr int kJoinedChars = 4;

    // A complete path: its last node, that node's predecessor (null at 0)
    // and its plain cost.
    struct t_endPath {
        t_segWordNode* node = nullptr;
        t_segWordNode* prev = nullptr;
        int32_t cost = kNoCost;
        uint8_t transition = 0;
    };

    // What ScorePath gathers along a path.
    struct t_path {
        int32_t steps = 0;
        int32_t singleRun = 0;  // longest run of one-character words
        uint32_t types = 0;     // 1 system, 4 cell, 2 user
        uint32_t transitions = 0;
        bool forecast = false;
        bool joined = false;  // short, every lone character paired with its neighbours
        double prob = 1.0;    // product of the arcs' probabilities
        const t_lstr* ids = nullptr;
        const t_lstr* positions = nullptr;
        const t_lstr* text = nullptr;
    };

    // Binds the dictionaries and the nodes of an input of n positions and
    // clears every per-position best.
    void Init(const t_convertDicts& dicts, t_segmentNodes* segments, int n);
    // Links every node ending at p to its cheapest predecessors. Nodes at
    // earlier positions must have been linked first.
    void FindBestPath(int p);

    // The node of lowest plain (typed = false) or typed cost ending at p.
    t_segWordNode* BestAt(int p, bool typed) const;
    // The farthest position that has such a node; 0 when none.
    int FarthestBest(bool typed) const;
    const t_endPath& BestComplete() const { return m_complete[0]; }
    const t_endPath& Alternative() const { return m_complete[1]; }

    // Gathers the path ending at node (along the plain or the typed links)
    // into arena strings. When prev is given it stands for node's
    // predecessor (an alternative complete path). False when the arena fails
    // or the text does not fit.
    bool ScorePath(t_scopeHeap* arena, const t_segWordNode* node, const t_segWordNode* prev,
                   bool typed, t_path* out) const;
    // Gathers a path given as its nodes from the last to the first.
    bool ScoreChain(t_scopeHeap* arena, const t_segWordNode* const* chain, int count,
                    t_path* out) const;
    // The transition into w from v (null: w starts the input): the pair
    // score, the right word's frequency and adjustment, and w's arc power.
    int32_t Transition(const t_segWordNode* v, const t_segWordNode* w, bool last,
                       uint32_t* bits) const;
    // Characters of a node's word.
    int32_t WordChars(const t_segWordNode* w) const;
    // Whether the statistics store the pair of v's word and w's, so that
    // the model reads them together rather than pricing w alone; for two
    // one-character words the pair must make the second clearly likelier.
    bool Joined(const t_segWordNode* v, const t_segWordNode* w) const;

private:
    bool AppendNode(const t_segWordNode* w, uint16_t* ids, int* nIds, uint16_t* pos, int* nPos,
                    uint16_t* text, int* nText) const;
    void NoteComplete(t_segWordNode* w, t_segWordNode* v, int32_t cost, uint8_t transition);

    t_convertDicts m_dicts;
    t_segmentNodes* m_segments = nullptr;
    int32_t m_n = 0;
    t_segWordNode* m_best[kMaxPositions][2] = {};
    t_endPath m_complete[2];
};

// What one composition hands in.
struct t_composeRequest {
    t_convertDicts dicts;
    const t_inputLattice* lattice = nullptr;
    t_scopeHeap* arena = nullptr;
    i_nameContext* names = nullptr;
    int32_t n = 0;                // positions (the input lattice's length when 0)
    int32_t fullLengthWords = 0;  // dictionary words covering the whole input
    bool namesWanted = false;
    bool gameKeys = false;
    bool hasCapitals = false;
    bool debug = false;
    uint8_t cloudFlag = 0;
    // A word of the whole input read with its last vowel only begun (方案
    // for fanga; null: none). A reading of the whole input comes before it
    // only where the statistics price it below the word; the others take
    // its score and a rank on its scale.
    const t_candWord* begun = nullptr;
};

// What it hands back.
struct t_composeOutcome {
    int32_t nodes = 0;    // word nodes read
    int plainResult = 6;  // t_arrayWord::Add result; 6: no record made
    int typedResult = 6;
    int longResult = 6;
    int32_t bestCost = 10000;  // the plain path's cost (the name recognition's best cost)
    uint8_t cloudFlag = 0;
    int32_t firstWordEnd = 0;     // where the plain reading's first word ends (0: no reading)
    t_candWord* plain = nullptr;  // the records made (also when the array merged them)
    t_candWord* typed = nullptr;
    // The best reading with one word exchanged for a homophone, cheapest
    // first; made, not added: the caller adds them once the cloud decision,
    // which counts the local readings of the whole input, is taken.
    static constexpr int kMaxSwapped = 4;
    t_candWord* swapped[kMaxSwapped] = {};
    int swappedCount = 0;
};

// Rank of a composed record: the path cost, at most 32766 (32767 means no
// power), never negative.
int16_t ComposedRank(int32_t pathCost);

// Reads the word nodes of every position, links them and adds the composed
// sentences to array (which may be null: records are still made). False
// for a missing lattice, arena or dictionary.
bool ComposeWords(const t_composeRequest& request, t_segmentNodes* segments, t_wordLattice* lattice,
                  t_arrayWord* array, t_composeOutcome* out);
