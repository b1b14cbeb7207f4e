// Three small in-memory caches of what the user typed and committed
// recently, so that candidate scoring can favour it: the recent inputs with
// a count each, a ring of the last six committed words with their
// syllables, and short continuations that may follow a committed word.
// None is saved. Used from the kernel's thread only.
#pragma once

#include <cstdint>
#include <cstring>
#include <deque>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "kernel/runtime/lstr.h"

class t_sysDict;
class t_usrDictV3Core;

// The last inputs, oldest first, with a count per distinct input.
class t_usrInputCache {
public:
    static constexpr size_t kCapacity = 32;  // keeps one less

    t_usrInputCache() = default;
    ~t_usrInputCache() = default;

    // Installs a new, empty container.
    void Init();
    // Appends the input, dropping the oldest ones beyond 31. False for a
    // null input or before Init.
    bool Add(const wchar_t* input);
    // 1 when the input is among the recent ones; 0 for null or before Init.
    int Contains(const t_lstr* input) const;
    // The input lengths the scoring looks up: 2 to 10.
    static bool IsCachedLength(int n) { return n >= 2 && n <= 10; }
    void Clear();
    // Inputs held and the count of one (tests, diagnostics).
    size_t Size() const { return m_cache ? m_cache->queue.size() : 0; }
    int CountOf(const std::wstring& input) const;

private:
    struct t_container {
        std::deque<std::wstring> queue;
        std::map<std::wstring, int32_t> counts;
    };
    std::unique_ptr<t_container> m_cache;
};

// A ring of the last six committed words with their syllables. A fixed
// block: nothing is allocated.
class t_submittedUsrWord {
public:
    static constexpr int kSlots = 6;
    static constexpr uint32_t kKeyBytes = 512;
    static constexpr uint32_t kTextUnits = 256;

    t_submittedUsrWord() { Clear(); }
    void Clear();
    // Stores one commit; silently refused unless the key is a valid
    // syllable string shorter than 513 bytes and the text has fewer than 257
    // characters (a refused commit does not move the ring).
    void Add(const t_lstr* key, const wchar_t* text);
    // Entry i (0 = newest): pointers into the slot, or nulls when out of
    // range or the slot does not hold a valid entry.
    void Get(int i, const t_lstr** key, const t_lstr** text) const;
    int GetCount() const { return m_count; }

private:
    uint8_t m_keys[kSlots][kKeyBytes];
    uint8_t m_texts[kSlots][2 + 2 * kTextUnits];
    int32_t m_count = 0;
    int32_t m_write = 0;
};

// A continuation string's value.
struct t_caValue {
    uint16_t weight = 0;
    uint8_t source = 0;  // 0x20 system word, 0x40 user word, 0x80 user word with flag 0x04
    uint8_t flag = 0;
};

// Short continuation strings (1 to 4 UTF-16 units) that may follow a
// just-committed word.
class t_CAStringCache {
public:
    static constexpr uint32_t kMaxUnits = 4;
    static constexpr uint8_t kSourceSystem = 0x20;

    void CreateMap();
    void DestroyMap() { m_map.reset(); }
    void Clear();
    // 1 and the value on an exact match of a key of 1 to 4 units, else 0.
    int Lookup(const t_lstr* key, t_caValue* value) const;
    // Keys of 1 to 4 units only: a new key is inserted; an existing key
    // takes the value only when its source byte is greater.
    void AddOrUpdate(const t_lstr* key, const t_caValue& value);
    // Fills the cache for a committed word from the system words that
    // continue it (weight: the word's cost on the candidate list's scale)
    // and from the user words (through the user dictionary).
    // Readings of 6 syllables or more together add nothing. The dictionaries
    // are the kernel's own, or those given (either may be null).
    void AddFromWord(uint8_t mode, const t_lstr* word, const t_lstr* reading1,
                     const t_lstr* reading2);
    void AddFromWord(uint8_t mode, const t_lstr* word, const t_lstr* reading1,
                     const t_lstr* reading2, const t_sysDict* sys, t_usrDictV3Core* usr);
    // Holds the continuations of the word (read reading1) of reading2 alone:
    // fills the cache anew (making its map) unless it was filled for just
    // these since the last Clear. A text is then read one way only.
    void FillFor(const t_lstr* word, const t_lstr* reading1, const t_lstr* reading2,
                 const t_sysDict* sys, t_usrDictV3Core* usr);
    size_t Size() const { return m_map ? m_map->size() : 0; }

private:
    struct t_key {
        uint8_t bytes[10] = {};
        bool operator<(const t_key& o) const;
    };
    static bool MakeKey(const t_lstr* s, t_key* out);
    std::unique_ptr<std::map<t_key, t_caValue>> m_map;
    std::vector<uint8_t> m_filledFor;  // the word and both readings, as FillFor had them
    // The user dictionary FillFor read, and its attach count then.
    const t_usrDictV3Core* m_filledFrom = nullptr;
    uint64_t m_filledAttach = 0;
};

// The committed-word list kept by the kernel entry API, newest first.
struct t_wordKeyNode {
    wchar_t* text;
    t_lstr* key;
    t_wordKeyNode* next;
};
struct t_wordKeyList {
    t_wordKeyNode* head = nullptr;
};
// Copies text and key into a new node at the head; the node is dropped when
// a copy cannot be made.
void PushWordKeyPair(t_wordKeyList& list, const wchar_t* text, const t_lstr* key);
// Frees every node.
void ClearWordKeyPairs(t_wordKeyList& list);
