// Writers of the flat system word image (qzim_core.bin) with its gram
// statistics, and of the table-file images of the syllable and character
// dictionaries (qzim_py.bin, qzim_hz.bin). Used by the data build's compiler
// and by tests that need small images. Pure functions; any thread.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

struct t_sysWordEntry {
    std::vector<uint16_t> ids;  // syllable ids, each below 441
    std::u16string text;        // UTF-16, shared between readings
    uint16_t cost = 0;          // 11 bits
    uint32_t gramId = 0;        // 17 bits, 0 = none
    uint8_t flags = 0;          // flag bits of the record (0x80 is set from the gram id)
    uint32_t classIndex = 0;    // 15 bits, 0 = none
};

struct t_shortKeyWord {
    std::vector<uint16_t> ids;  // at most two
    std::u16string text;        // at most two units
    uint16_t cost = 0;          // 15 bits
    uint32_t gramId = 0;
};

struct t_gramUnigram {
    uint16_t freq = 1400;  // 14 bits
    uint16_t cap = 350;
    uint16_t flags = 0;
    uint32_t rightBackOff = 0;  // 17 bits
    uint32_t leftBackOff = 0;   // 17 bits
};

struct t_gramPair {
    uint32_t id1 = 0, id2 = 0;  // 17-bit gram ids, both above 0
    uint8_t scoreClass = 0;     // 0..15
    uint8_t flags = 0;          // bit 0 preference, bit 1 second flag
};

struct t_sysDictSource {
    int32_t date = 20060101;
    uint32_t gramSecondWord = 0;
    std::vector<t_sysWordEntry> words;
    std::vector<std::array<uint8_t, 5>> classes;         // index 0 is "no class"
    std::vector<std::vector<t_shortKeyWord>> shortKeys;  // up to 702 lists
    std::vector<t_gramUnigram> unigrams;                 // index = gram id (0 unused)
    std::vector<t_gramPair> pairs;
};

struct t_sysDictStats {
    uint32_t groups = 0, nodes = 0, records = 0, textUnits = 0, shortItems = 0, pairs = 0;
    uint64_t gramBytes = 0;
};

// Builds the word image: records grouped by id sequence (in id order, each
// group by cost then text), the pair index, the word tree, the shared text
// area, class records, the short-key table and the gram image. False with
// *error set when a value does not fit its field (ids, text area, tree
// skips, gram ids, counts).
bool BuildSysDictImage(const t_sysDictSource& src, std::vector<uint8_t>& out, std::string* error,
                       t_sysDictStats* stats = nullptr);
// The gram image alone (used by BuildSysDictImage).
bool BuildGramImage(const std::vector<t_gramUnigram>& unigrams, std::vector<t_gramPair> pairs,
                    uint32_t secondWord, std::vector<uint8_t>& out, std::string* error);

// Syllable dictionary: the 413 syllable texts (lower case), the syllable
// costs, the 413 x 413 pair costs (row major), and the letter-model bytes of
// both tables (indexed by key; 0 leaves a row out).
struct t_pyDictSource {
    std::vector<std::string> syllables;
    std::vector<uint16_t> costs;
    std::vector<uint16_t> pairCosts;
    std::vector<uint8_t> trigram;                   // 19683 entries
    std::vector<uint8_t> xpos;                      // 18252 entries
    std::vector<bool> trigramPresent, xposPresent;  // empty: every row present
};
bool BuildPyDictImage(const t_pyDictSource& src, std::vector<uint8_t>& out, std::string* error);

// Character dictionary: characters of the Basic Multilingual Plane with
// their syllable ids in the order given (most common reading first).
struct t_hzCharEntry {
    uint16_t ch = 0;
    std::vector<uint16_t> ids;
};
bool BuildHzDictImage(const std::vector<t_hzCharEntry>& chars, std::vector<uint8_t>& out,
                      std::string* error);
