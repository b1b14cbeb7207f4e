// Lexicons and conversions for the conversion tests.
#include "tests/kernel/convert/convert_support.h"

#include <cstdlib>
#include <fstream>
#include <iterator>

#include "kernel/lexicon/cell_dict.h"
#include "kernel/lexicon/gram_stat.h"
#include "kernel/lexicon/key_map_builder.h"
#include "kernel/lexicon/privilege_dict.h"
#include "kernel/lexicon/syllable_table.h"
#include "kernel/runtime/singleton.h"
#include "kernel/userdict/ext_dict.h"
#include "kernel/userdict/usr_dict_v3.h"
#include "kernel/userdict/usr_text_io.h"
#include "tests/kernel/lexicon/small_dicts_support.h"
#include "tests/support/test_dir.h"

namespace convtest {

Bytes Units(const std::vector<uint16_t>& units) {
    Bytes b(2 + 2 * units.size());
    b[0] = uint8_t(units.size() * 2);
    b[1] = uint8_t((units.size() * 2) >> 8);
    for (size_t i = 0; i < units.size(); ++i) {
        b[2 + 2 * i] = uint8_t(units[i]);
        b[3 + 2 * i] = uint8_t(units[i] >> 8);
    }
    return b;
}

std::u16string ToU16(const t_lstr* s) {
    std::u16string out;
    for (uint32_t i = 0; i < LstrGetLength(s); ++i) out.push_back(char16_t(LstrGetUnit(s, i)));
    return out;
}

std::vector<uint16_t> Ids(std::initializer_list<const char*> syllables) {
    std::vector<uint16_t> out;
    for (const char* s : syllables) {
        const std::string t(s);
        const int id = SyllableTableFind(std::wstring(t.begin(), t.end()).c_str());
        EXPECT_GE(id, 0) << s;
        out.push_back(uint16_t(id));
    }
    return out;
}

std::string BuiltDataDir() {
    const char* dir = std::getenv("VETRA_SYSTEM_DATA_DIR");
    return dir && *dir ? dir : std::string();
}

namespace {

Bytes ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), {});
}

// The scheme files of the source tree (empty fuzzy and correction rules).
std::wstring SchemeDir() {
    const char* src = std::getenv("VETRA_SOURCE_DIR");
    const std::string dir = std::string(src && *src ? src : ".") + "/data/schemes";
    return std::wstring(dir.begin(), dir.end());
}

}  // namespace

bool t_testLexicon::MakeKeyMap(const std::wstring& schemeDir) {
    t_keyMapOptions options;
    options.zcs = true;
    t_scopeHeap heap;
    uint8_t* image = nullptr;
    uint32_t size = 0;
    std::wstring messages;
    if (!t_keyPyMapBuilder::Build(heap, &image, &size, options, {schemeDir, schemeDir, L"Vetra"},
                                  &messages))
        return false;
    m_keyMap.assign(image, image + size);
    return keyMap.Attach(m_keyMap.data(), int64_t(m_keyMap.size()));
}

bool t_testLexicon::LoadBuilt(const std::string& dir) {
    m_py = ReadAll(dir + "/qzim_py.bin");
    m_core = ReadAll(dir + "/qzim_core.bin");
    if (m_py.empty() || m_core.empty()) return false;
    return py.Load(m_py.data(), int32_t(m_py.size())) &&
           sys.Load(m_core.data(), int32_t(m_core.size())) &&
           MakeKeyMap(std::wstring(dir.begin(), dir.end()));
}

bool t_testLexicon::MakeSmall(const std::vector<t_sysWordEntry>& words,
                              const std::vector<std::vector<t_shortKeyWord>>& shortKeys) {
    t_pyDictSource pySrc;
    for (int i = 0; i < kSyllableCount; ++i) {
        const std::wstring w(kSyllableTexts[i]);
        pySrc.syllables.push_back(std::string(w.begin(), w.end()));
        pySrc.costs.push_back(uint16_t(100 + i % 50));
    }
    pySrc.pairCosts.assign(size_t(kSyllableCount) * kSyllableCount, 10);
    pySrc.trigram.assign(27 * 27 * 27, 1);
    pySrc.xpos.assign(26 * 26 * 27, 1);
    t_sysDictSource core;
    core.date = 20261207;
    core.words = words;
    core.shortKeys = shortKeys;
    // class 1: a surname; class 2: a given name that ends a name.
    core.classes = {{0, 0, 0, 0, 0}, {2, 0, 0, 0, 1}, {2 | 8, 0, 0, 0, 2}};
    core.unigrams.resize(8);
    for (size_t i = 1; i < core.unigrams.size(); ++i)
        core.unigrams[i].freq = uint16_t(300 + 50 * i);
    std::string error;
    if (!BuildPyDictImage(pySrc, m_py, &error) || !BuildSysDictImage(core, m_core, &error)) {
        ADD_FAILURE() << error;
        return false;
    }
    return py.Load(m_py.data(), int32_t(m_py.size())) &&
           sys.Load(m_core.data(), int32_t(m_core.size())) && MakeKeyMap(SchemeDir());
}

void t_testLexicon::HoldGram() {
    const uint8_t* core = m_core.data();
    if (m_core.empty() || t_singleton<t_gramInfo>::Get().LiesIn(core, core + m_core.size())) return;
    EXPECT_TRUE(sys.Load(m_core.data(), int32_t(m_core.size())));
}

t_convertDicts t_testLexicon::Dicts() const {
    t_convertDicts d;
    d.py = const_cast<t_pyDict*>(&py);
    d.keyMap = const_cast<t_keyPyMap*>(&keyMap);
    d.sys = const_cast<t_sysDict*>(&sys);
    return d;
}

bool t_conversion::Run(const t_convertDicts& dicts, const std::wstring& s,
                       const t_findSwitches& switches, bool gameKeys, bool lettersMode) {
    text = s;
    arena.FreeAll();
    if (!syllables.Build(&arena, dicts.keyMap, dicts.py, text.c_str(), int(text.size()),
                         lettersMode, false))
        return false;
    const int n = syllables.GetLength();
    input.Reset(n);
    t_wordFinder finder(dicts, &input, &syllables, text.c_str(), &arena);
    finder.SetGameKeys(gameKeys);
    for (int p = 0; p < n; ++p) {
        if (!(syllables.GetForward(p) > 0)) continue;
        if (!gameKeys) input.AddAbbreviationArcs(p, text.c_str(), dicts.sys);
        if (!finder.FindWordsAt(p, switches)) return false;
    }
    input.FinaliseWordCounts();
    return true;
}

std::vector<t_arcView> t_conversion::Arcs(const t_convertDicts& d) const {
    std::vector<t_arcView> out;
    for (int e = 0; e <= input.GetLength(); ++e) {
        for (const t_wordArcNode* node = input.NodesEndingAt(e); node; node = node->next) {
            for (const t_wordArc* a = node->arcs; a; a = a->next) {
                t_arcView v{a->start, a->end, a->source, a->prob, a->power, a->syllables, {}};
                switch (a->source) {
                    case kArcSourceSystem:
                        for (uint32_t i = a->value;; ++i) {
                            uint32_t off, gram;
                            uint16_t cost;
                            uint8_t more;
                            if (!d.sys->GetWordRecord(i, &off, &cost, &gram, &more)) break;
                            v.words.push_back(ToU16(d.sys->GetTextAt(off)));
                            if (!more) break;
                        }
                        break;
                    case kArcSourceAbbreviation:
                        for (int i = 0; i < a->syllables; ++i) {
                            const uint8_t* item = d.sys->GetShortKeyItem(a->value + uint32_t(i));
                            if (item)
                                v.words.push_back(ToU16(reinterpret_cast<const t_lstr*>(
                                    item + n_sysDict::kShortItemText)));
                        }
                        break;
                    case kArcSourceUser: {
                        uint32_t ids[64];
                        uint16_t sums[64];
                        const int n = d.user->GetWords(0, int32_t(a->value), ids, nullptr, sums,
                                                       nullptr, nullptr, nullptr, nullptr, 64);
                        for (int i = 0; i < n; ++i) {
                            uint8_t buf[200];
                            if (d.user->GetWordText(ids[i], sums[i],
                                                    reinterpret_cast<t_lstr*>(buf)))
                                v.words.push_back(ToU16(reinterpret_cast<t_lstr*>(buf)));
                        }
                        break;
                    }
                    case kArcSourceCell: {
                        const t_cellRecord* records = nullptr;
                        const uint32_t n = d.cell->GetItem(int32_t(a->value), &records);
                        for (uint32_t i = 0; i < n; ++i)
                            v.words.push_back(ToU16(d.cell->GetWordText(records[i].wordOffset)));
                        break;
                    }
                    case kArcSourcePrivilege: {
                        t_scopeHeap heap;
                        t_privilegeWord** words = nullptr;
                        uint32_t n = 0;
                        if (d.privilege->Lookup(heap, a->ids, &words, &n))
                            for (uint32_t i = 0; i < n; ++i)
                                v.words.push_back(ToU16(words[i]->word));
                        break;
                    }
                    case kArcSourceUserExt: {
                        uint32_t ids[64];
                        const int n = d.userExt->GetEntries(int32_t(a->value), ids, nullptr,
                                                            nullptr, nullptr, 64);
                        for (int i = 0; i < n; ++i) {
                            uint8_t buf[300];
                            if (d.userExt->GetString(ids[i], reinterpret_cast<t_lstr*>(buf),
                                                     sizeof buf))
                                v.words.push_back(ToU16(reinterpret_cast<t_lstr*>(buf)));
                        }
                        break;
                    }
                }
                out.push_back(v);
            }
        }
    }
    return out;
}

std::vector<t_arcView> t_conversion::Find(const t_convertDicts& d, int start, int end,
                                          const std::u16string& word) const {
    std::vector<t_arcView> out;
    for (const t_arcView& v : Arcs(d)) {
        if (v.start != start || v.end != end) continue;
        for (const std::u16string& w : v.words)
            if (w == word) out.push_back(v);
    }
    return out;
}

namespace {

t_sysWordEntry Word(std::initializer_list<const char*> ids, const std::u16string& text,
                    uint16_t cost, uint32_t gram, uint32_t classIndex = 0) {
    t_sysWordEntry w;
    w.ids = Ids(ids);
    w.text = text;
    w.cost = cost;
    w.gramId = gram;
    w.classIndex = classIndex;
    return w;
}

}  // namespace

const t_testLexicon& SmallLexicon() {
    static const std::unique_ptr<t_testLexicon> lexicon = [] {
        auto lex = std::make_unique<t_testLexicon>();
        std::vector<std::vector<t_shortKeyWord>> shortKeys(n_sysDict::kShortKeyEntries);
        shortKeys['n' - 'a'] = {{Ids({"ni"}), u"你", 20, 3}};
        shortKeys[26 + ('z' - 'a') * 26 + ('g' - 'a')] = {{Ids({"zhong", "guo"}), u"中国", 30, 5},
                                                          {Ids({"zhe", "ge"}), u"这个", 40, 0}};
        const bool made = lex->MakeSmall({Word({"wo"}, u"我", 10, 1),
                                          Word({"wo"}, u"窝", 90, 0),
                                          Word({"ai"}, u"爱", 20, 2),
                                          Word({"ni"}, u"你", 20, 3),
                                          Word({"ni"}, u"泥", 80, 0),
                                          Word({"wo", "ai"}, u"我爱", 60, 0),
                                          Word({"ai", "ni"}, u"爱你", 50, 0),
                                          Word({"wo", "ai", "ni"}, u"我爱你", 40, 4),
                                          Word({"zhong"}, u"中", 10, 5),
                                          Word({"guo"}, u"国", 15, 6),
                                          Word({"ren"}, u"人", 10, 7),
                                          Word({"min"}, u"民", 30, 0),
                                          Word({"zhong", "guo"}, u"中国", 5, 5),
                                          Word({"ren", "min"}, u"人民", 8, 0),
                                          Word({"zhong", "guo", "ren", "min"}, u"中国人民", 12, 0),
                                          Word({"xian"}, u"先", 10, 0),
                                          Word({"xi"}, u"西", 10, 0),
                                          Word({"an"}, u"安", 10, 0),
                                          Word({"xi", "an"}, u"西安", 20, 0),
                                          Word({"fang", "an"}, u"方案", 20, 0),
                                          Word({"fan", "gan"}, u"反感", 30, 0),
                                          Word({"lve"}, u"略", 10, 0),
                                          Word({"nve"}, u"虐", 10, 0),
                                          Word({"zhe", "ge"}, u"这个", 10, 0),
                                          Word({"wang"}, u"王", 10, 0, 1)},
                                         shortKeys);
        EXPECT_TRUE(made);
        return lex;
    }();
    lexicon->HoldGram();
    return *lexicon;
}

const t_testLexicon* BuiltLexicon() {
    static const std::unique_ptr<t_testLexicon> lexicon = []() -> std::unique_ptr<t_testLexicon> {
        const std::string dir = BuiltDataDir();
        if (dir.empty()) return nullptr;
        auto lex = std::make_unique<t_testLexicon>();
        EXPECT_TRUE(lex->LoadBuilt(dir)) << dir;
        return lex;
    }();
    if (lexicon) lexicon->HoldGram();
    return lexicon.get();
}

void LexiconTest::SetUp() {
    lex = GetParam() ? BuiltLexicon() : &SmallLexicon();
    if (!lex) GTEST_SKIP() << "VETRA_SYSTEM_DATA_DIR is unset (the data build sets it)";
    dicts = lex->Dicts();
}

bool t_otherSources::Make() {
    const std::vector<uint16_t> key = Ids({"wo", "ai", "ni"});
    if (!user.CreateEmpty(kUsrDefaultCapacity) ||
        user.LearnWord(L(Units(key)), L(Text(u"沃爱妮")), 0) <= 0)
        return false;
    m_cell = dicttest::BuildCellImage({{key, u"我爱妮", {}, 5, 0.f}}, {}, 441);
    if (!cell.Load(m_cell.data(), int32_t(m_cell.size()))) return false;
    m_privilege = dicttest::BuildImage(
        t_systemTable::kPrivilege,
        {{},
         {},
         {dicttest::t_fields().S(std::u16string(key.begin(), key.end())).S(u"我愛你").U32(1)}});
    if (!privilege.Load(m_privilege.data(), int32_t(m_privilege.size()))) return false;
    t_scopeHeap heap;
    const Bytes woai = Units(Ids({"wo", "ai"})), woaiText = Text(u"卧爱");
    t_usrWordFields fields;
    fields.reading = L(woai);
    fields.word = L(woaiText);
    fields.freq = 3;
    testsupport::t_testDir dir("vetra-sources");
    if (WriteExtImage(dir.WAt("ext.bin").c_str(), {MakeUsrWordRecord(heap, fields)}) != 1)
        return false;
    m_ext = dir.Get("ext.bin");
    return ext.Load(m_ext.data(), int32_t(m_ext.size()));
}

void t_otherSources::AddTo(t_convertDicts& dicts) {
    dicts.user = &user;
    dicts.cell = &cell;
    dicts.privilege = &privilege;
    dicts.userExt = &ext;
}

}  // namespace convtest
