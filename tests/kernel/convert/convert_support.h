// Helpers of the conversion tests: a lexicon (the built system data, or a
// small one made here), one conversion's two lattices, and the arcs the
// word finder found with their words. Single-threaded test code.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "kernel/convert/convert_dicts.h"
#include "kernel/convert/input_lattice.h"
#include "kernel/convert/py_lattice.h"
#include "kernel/convert/word_finder.h"
#include "kernel/lexicon/cell_dict.h"
#include "kernel/lexicon/key_py_map.h"
#include "kernel/lexicon/privilege_dict.h"
#include "kernel/lexicon/py_dict.h"
#include "kernel/lexicon/sys_dict.h"
#include "kernel/lexicon/sys_dict_writer.h"
#include "kernel/runtime/scope_heap.h"
#include "kernel/userdict/ext_dict.h"
#include "kernel/userdict/usr_dict_v3.h"

namespace convtest {

using Bytes = std::vector<uint8_t>;

Bytes Units(const std::vector<uint16_t>& units);  // a length-prefixed string of units
inline Bytes Text(const std::u16string& s) {
    return Units(std::vector<uint16_t>(s.begin(), s.end()));
}
inline const t_lstr* L(const Bytes& b) {
    return reinterpret_cast<const t_lstr*>(b.data());
}
std::u16string ToU16(const t_lstr* s);
std::vector<uint16_t> Ids(std::initializer_list<const char*> syllables);

// The directory of the built system data (VETRA_SYSTEM_DATA_DIR), empty when unset.
std::string BuiltDataDir();

// The pinyin dictionary, the key map (full pinyin, z c s for zh ch sh) and
// the system words a conversion reads.
class t_testLexicon {
public:
    // From the built data; false when a file is missing or refused.
    bool LoadBuilt(const std::string& dir);
    // A small lexicon of the given words (and one- and two-letter table
    // lists, indexed as the short-key table).
    bool MakeSmall(const std::vector<t_sysWordEntry>& words,
                   const std::vector<std::vector<t_shortKeyWord>>& shortKeys = {});
    t_convertDicts Dicts() const;
    // The process has one gram view, attached by the system dictionary
    // loaded last: a lexicon that many tests share takes it back before use.
    void HoldGram();

    t_pyDict py;
    t_keyPyMap keyMap;
    t_sysDict sys;

private:
    bool MakeKeyMap(const std::wstring& schemeDir);
    Bytes m_py, m_core, m_keyMap;
};

// The words behind one arc.
struct t_arcView {
    int start, end;
    uint8_t source;
    float prob;
    int power;
    int syllables;
    std::vector<std::u16string> words;
};

// One conversion of an input: both lattices and the arcs of every start.
class t_conversion {
public:
    t_conversion() : input(&arena, &arena) {}
    // The syllable lattice, and the word lattice from every position a
    // syllable path reaches (abbreviation arcs at a short tail first).
    bool Run(const t_convertDicts& dicts, const std::wstring& text,
             const t_findSwitches& switches = {}, bool gameKeys = false, bool lettersMode = false);
    std::vector<t_arcView> Arcs(const t_convertDicts& dicts) const;
    // The arcs from start to end holding word.
    std::vector<t_arcView> Find(const t_convertDicts& dicts, int start, int end,
                                const std::u16string& word) const;

    t_scopeHeap arena;
    t_pyLattice syllables;
    t_inputLattice input;
    std::wstring text;
};

// The small lexicon: 我 爱 你 我爱 爱你 我爱你, 中 国 人 民 中国 人民
// 中国人民, 先 西 安 西安, 方案 反感, 略 虐, the surname 王, and the letter tables "n" (你)
// and "zg" (中国, 这个).
const t_testLexicon& SmallLexicon();
// The built data's lexicon, null when VETRA_SYSTEM_DATA_DIR is unset.
const t_testLexicon* BuiltLexicon();

// Words of wo ai ni beside the system's: 沃爱妮 learned, 我爱妮 in a cell,
// the privilege word 我愛你, and 卧爱 (wo ai) in the user extension. The
// dictionaries hold on to the images kept here.
struct t_otherSources {
    t_otherSources() = default;
    t_otherSources(const t_otherSources&) = delete;
    t_otherSources& operator=(const t_otherSources&) = delete;
    // False when a dictionary refused its image.
    bool Make();
    void AddTo(t_convertDicts& dicts);

    t_usrDictV3Core user;
    t_extDict cell;
    t_privilegeDictCore privilege;
    t_usrDictExtCore ext;

private:
    Bytes m_cell, m_privilege;
    std::string m_ext;
};

// A test run on the small lexicon (parameter false) and on the built data
// (true; skipped without it). VETRA_LEXICON_SUITES names the second
// instantiation BuiltData, which the data build's ctest entry selects.
class LexiconTest : public ::testing::TestWithParam<bool> {
protected:
    void SetUp() override;
    const t_testLexicon* lex = nullptr;
    t_convertDicts dicts;
};

}  // namespace convtest

#define VETRA_LEXICON_SUITES(Suite)                                   \
    INSTANTIATE_TEST_SUITE_P(Small, Suite, ::testing::Values(false)); \
    INSTANTIATE_TEST_SUITE_P(BuiltData, Suite, ::testing::Values(true))
