// Auxiliary codes: letters typed after the pinyin that give, character by
// character, the pinyin, the strokes or the components of the wanted
// characters. t_auxCodeMatcher tests a candidate text against such a code
// and enumerates the characters of the stroke annex that a code selects.
// One matcher per conversion, one thread; it reads the dictionaries it is
// given and keeps its scratch space between calls.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "kernel/lexicon/stroke_annex.h"
#include "kernel/runtime/lstr.h"
#include "kernel/runtime/scope_heap.h"

class t_keyPyMap;
class t_hzDict;
class t_arrayWord;

// Input positions a code may span; a longer code is cut.
inline constexpr uint32_t kMaxAuxCodeLength = 79;

// The dictionaries the matcher reads (any may be null: that way of matching
// then finds nothing).
struct t_auxCodeServices {
    const t_keyPyMap* keyMap = nullptr;  // typed letters to syllables
    const t_hzDict* hzDict = nullptr;    // readings of characters
    const t_sysBhBsh* annex = nullptr;   // strokes, readings and components
    // The process-wide dictionaries.
    static t_auxCodeServices Kernel();
};

// The syllables the code can be read as: for every start position, the
// arcs {syllable id, end} that the key map gives for the keys from there
// (whole, abbreviated and partial spellings alike, apostrophes skipped).
//   "sh":  [0] -- s* (sa, shi, ...) -- [1] -- h* -- [2]
//          [0] -- sh* (sha, shui, ...) ---------- [2]
class t_auxCodeArcs {
public:
    struct t_arc {
        uint16_t id;
        uint16_t end;
    };
    // False (no arcs) for a null map or code.
    bool Build(const t_keyPyMap* map, const wchar_t* code, uint32_t length);
    const t_arc* Begin(uint32_t p) const {
        return p < m_first.size() - 1 ? m_arcs.data() + m_first[p] : nullptr;
    }
    const t_arc* End(uint32_t p) const {
        return p < m_first.size() - 1 ? m_arcs.data() + m_first[p + 1] : nullptr;
    }
    bool HasArcs(uint32_t p) const { return Begin(p) != End(p); }
    // Whether the arcs from 0 form one chain that reaches the end.
    bool IsSinglePath(uint32_t length) const;

private:
    std::vector<t_arc> m_arcs;
    std::vector<uint32_t> m_first = {0};  // arcs of position p: [m_first[p], m_first[p + 1])
};

// Flags of a matcher.
enum : uint32_t {
    kAuxRequireWhole = 1,   // a text matched by pinyin alone must not use up the code exactly
    kAuxAllowQuestion = 2,  // "?" where no syllable starts matches any character
};

class t_auxCodeMatcher {
public:
    // code (up to kMaxAuxCodeLength characters are used) and its arcs are
    // kept by pointer; both must outlive the matcher.
    t_auxCodeMatcher(const wchar_t* code, uint32_t length, const t_auxCodeArcs* arcs,
                     const t_auxCodeServices& services, uint32_t flags);

    // Whether the text's characters match the whole code, from its first
    // character on (characters after the code is used up are free).
    bool Match(const uint16_t* text, uint32_t length);
    // Whether the last successful Match used up the text together with the
    // code.
    bool WasComplete() const { return m_complete; }
    // The cut positions of the last successful Match, as a t_lstr of input
    // positions (the first is 1, then one after each character).
    const t_lstr* GetSplit() const { return reinterpret_cast<const t_lstr*>(m_split.data()); }

    // The next character of the stroke annex, from the enumeration index
    // on, whose component list matches the code; 0 when none is left.
    // *entry receives its entry number.
    uint32_t NextChar(int* entry);
    void ResetEnumeration() { m_enumIndex = 0; }

    uint32_t GetCodeLength() const { return m_length; }
    // Steps the last Match took (each bounded by a fixed budget).
    uint32_t GetStepsUsed() const { return m_budgetStart - m_budget; }

private:
    struct t_frame;
    bool Step(const t_frame* f, uint32_t p, bool partial, int depth);
    bool Settle(const t_frame* f, uint32_t p, bool partial, int depth);
    int ReadingsOf(uint16_t ch, uint16_t* ids, int max) const;
    void PushCut(uint32_t p);
    void PopCut(uint16_t count);
    bool MatchUnits(const uint16_t* units, uint32_t n, bool prefixOnly);
    // Entries grouped by the first unit of their component list, built once
    // per annex; the groups a code can start with are chosen once per code.
    void PrepareIndex();

    const wchar_t* m_code;
    uint32_t m_length;
    const t_auxCodeArcs* m_arcs;
    t_auxCodeServices m_services;
    uint32_t m_flags;
    t_strokeMatcher m_strokes;
    std::vector<uint8_t> m_split;   // t_lstr: byte count, then u16 cuts
    std::vector<uint8_t> m_failed;  // memo of failed (character, position, partial) states
    uint32_t m_memoWidth = 0;
    uint32_t m_textUnits = 0;
    bool m_textLonger = false;
    bool m_prefixOnly = false;
    bool m_complete = false;
    uint32_t m_budget = 0;
    uint32_t m_budgetStart = 0;
    int m_enumIndex = 0;
    bool m_indexReady = false;
    std::vector<int> m_entries;  // annex entries that can start matching the code, ascending
};

// The filter's test: whether the text matches the code (null matcher: yes).
bool MatchAuxCode(t_auxCodeMatcher* matcher, const uint16_t* text, uint32_t length);
// The next matching character of the stroke annex; 0 when none is left.
uint32_t NextAuxCodeChar(t_auxCodeMatcher* matcher, int* entry);

// Offers the characters a stroke or component code selects to the array as
// records of kCandSourceStroke (score 0.999 when a character uses up the code,
// else 0.998; rank the number offered so far + 1), until `wanted` of them
// used up the code, or `wanted` were added on a code read one way only, or
// no character is left. Returns the number added.
int AddStrokeDictWords(t_arrayWord& array, t_scopeHeap& heap, int wanted, const wchar_t* code,
                       uint32_t flags, uint32_t codeLength, const t_auxCodeServices& services);
