// Word readers and pinyin tips. A reader turns the arcs of the word lattice
// ending at one position into word nodes of the segment structure,
// cheapest words first and in bounded numbers, for the sentence lattice and
// the name recognition. The tip pass gives final candidates a reading hint.
// One conversion on one thread; nodes live in the caller's arena.
#pragma once

#include <cstdint>

#include "kernel/convert/convert_dicts.h"
#include "kernel/convert/input_lattice.h"

class t_scopeHeap;
struct t_candWord;

// Types of a word node.
enum : uint8_t {
    kSegWordSystem = 1,
    kSegWordCell = 2,
    kSegWordUser = 4,
    kSegWordAbbreviation = 8,
};

// Position marks of a word node (bits).
inline constexpr uint8_t kSegMarkFromStart = 1;
inline constexpr uint8_t kSegMarkToEnd = 2;

struct t_segWordNode {
    const t_wordArc* arc;
    uint32_t index;  // system: word record; abbreviation: short-key item; user: text id;
                     // cell: record number within the arc's item
    uint32_t value;  // system, abbreviation: gram id; user, cell: frequency
    uint16_t cost;
    int32_t pathCost;       // filled by the sentence lattice
    int32_t bestPlainCost;  // filled by the sentence lattice
    t_segWordNode* next;
    t_segWordNode* prev[2];
    uint8_t positionMark;  // kSegMark* bits
    uint8_t type;          // kSegWord*
    uint8_t transition;
    uint32_t flagWord;     // user: the text's checksum (to read the text back)
    int32_t length;        // syllables
    uint8_t pathFlags;     // filled by the sentence lattice (kPath* bits)
    uint8_t singleRun[2];  // one-character words ending the plain and the typed path
};

// The word nodes of an input, listed by the position where they end.
class t_segmentNodes {
public:
    // Binds the arena; capacity is cut to kMaxInputChars.
    void Init(int capacity, t_scopeHeap* arena);
    // Empties the lists for count positions (cut to the capacity).
    void Reset(int count);
    // Appends a node to the list of position; null when the position lies
    // outside 0..count or the arena fails.
    t_segWordNode* Create(const t_wordArc* arc, uint32_t index, uint32_t value, uint16_t cost,
                          int position, uint32_t extra);

    int32_t GetCount() const { return m_count; }
    int32_t GetNodeCount() const { return m_nodes; }
    t_scopeHeap* Arena() const { return m_arena; }
    const t_segWordNode* At(int p) const { return p >= 0 && p <= m_count ? m_heads[p] : nullptr; }

private:
    t_scopeHeap* m_arena = nullptr;
    int32_t m_capacity = 0;
    int32_t m_count = 0;
    int32_t m_nodes = 0;
    t_segWordNode* m_heads[kMaxPositions] = {};
    t_segWordNode* m_tails[kMaxPositions] = {};
};

// Where the readers hand name words (the person-name recognition).
class i_nameContext {
public:
    virtual ~i_nameContext() = default;
    // A system word with a class record (attribute = its 32-bit value).
    virtual void OnNameWord(t_segWordNode* node, uint32_t attribute) = 0;
};

class t_wordReader {
public:
    // Words taken per node: 20 from a node of fewer than 4 arcs, else 15; 5
    // with game keys (of which only the first is kept); 60 for names.
    static constexpr int kWordsFewArcs = 20;
    static constexpr int kWordsManyArcs = 15;
    static constexpr int kWordsGameKeys = 5;
    static constexpr int kWordsNames = 60;
    static constexpr int kMaxUserWords = 64;

    void Bind(const t_convertDicts& dicts, t_segmentNodes* segments, const t_inputLattice* lattice,
              i_nameContext* names);
    // Names are wanted only while the input has at most 4 syllables.
    void SetNamesWanted(bool on);
    void SetGameKeys(bool on) { m_gameKeys = on; }

    // Reads the nodes ending at position p (last: p is the end of the
    // input, where nodes from 0 are left to others). Returns the number of
    // word nodes made.
    int Step(int p, bool last);
    // The name variant: system words only, 60 per node, a wider near-best
    // test, every word with a class record passed to the name context.
    int NameStep(int p, bool last);

private:
    struct t_cursor;
    int Read(int p, bool last, bool names);
    bool OpenCursor(const t_wordArc* arc, bool namesOnly, t_cursor* c);
    bool Advance(t_cursor* c);
    void Push(t_cursor** heap, int& size, t_cursor* c);
    t_cursor* Pop(t_cursor** heap, int& size);

    t_convertDicts m_dicts;
    t_segmentNodes* m_segments = nullptr;
    const t_inputLattice* m_lattice = nullptr;
    i_nameContext* m_names = nullptr;
    t_scopeHeap* m_arena = nullptr;
    bool m_namesWanted = false;
    bool m_gameKeys = false;
};

// The tip pass over the final candidates. With firstTip, a word the tip
// dictionary knows under its syllables is replaced by an arena copy whose
// further text is the tip. Otherwise, with secondTip, the first candidate
// (from page start on, below *threshold) typed with a fuzzy spelling gets
// the typed keys with the syllables they stand for, "zi(zhi)", as its
// further text, and *threshold becomes its index. Returns the number of
// candidates given a tip.
int AddPinyinTips(const t_convertDicts& dicts, t_scopeHeap* arena, bool firstTip, bool secondTip,
                  t_candWord** results, int count, int pageStart, int32_t* threshold,
                  const wchar_t* input, int inputLength);
