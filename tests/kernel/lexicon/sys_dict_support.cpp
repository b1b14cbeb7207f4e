#include "tests/kernel/lexicon/sys_dict_support.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <iterator>

#include "kernel/lexicon/gram_stat.h"
#include "kernel/lexicon/syllable_table.h"

namespace lexdata {

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

Bytes Text(const std::u16string& text) {
    return Units(std::vector<uint16_t>(text.begin(), text.end()));
}

std::u16string ToU16(const t_lstr* s) {
    std::u16string out;
    for (uint32_t i = 0; i < LstrGetLength(s); ++i) out.push_back(char16_t(LstrGetUnit(s, i)));
    return out;
}

uint16_t Id(const char* syllable) {
    const std::string s(syllable);
    const int id = SyllableTableFind(std::wstring(s.begin(), s.end()).c_str());
    EXPECT_GE(id, 0) << syllable;
    return uint16_t(id);
}

std::vector<uint16_t> Ids(std::initializer_list<const char*> syllables) {
    std::vector<uint16_t> out;
    for (const char* s : syllables) out.push_back(Id(s));
    return out;
}

Bytes MakePyImage(uint16_t pairShift) {
    t_pyDictSource src;
    for (int i = 0; i < kSyllableCount; ++i) {
        const std::wstring w(kSyllableTexts[i]);
        src.syllables.push_back(std::string(w.begin(), w.end()));
        src.costs.push_back(uint16_t(1000 + i));
    }
    for (int i = 0; i < kSyllableCount * kSyllableCount; ++i)
        src.pairCosts.push_back(uint16_t(i + pairShift));
    for (int k = 0; k < 27 * 27 * 27; ++k) src.trigram.push_back(uint8_t(k % 251));
    for (int k = 0; k < 26 * 26 * 27; ++k) src.xpos.push_back(uint8_t(k % 241));
    Bytes out;
    std::string error;
    EXPECT_TRUE(BuildPyDictImage(src, out, &error)) << error;
    return out;
}

Bytes MakeHzImage() {
    std::vector<t_hzCharEntry> chars = {
        {u'中', Ids({"zhong"})}, {u'国', Ids({"guo"})}, {u'行', Ids({"xing", "hang", "heng"})}};
    std::sort(chars.begin(), chars.end(),
              [](const t_hzCharEntry& a, const t_hzCharEntry& b) { return a.ch < b.ch; });
    Bytes out;
    std::string error;
    EXPECT_TRUE(BuildHzDictImage(chars, out, &error)) << error;
    return out;
}

t_sysDictSource MakeCoreSource() {
    t_sysDictSource src;
    src.date = 20261207;
    auto word = [&](std::initializer_list<const char*> ids, const std::u16string& text,
                    uint16_t cost, uint32_t gram) {
        t_sysWordEntry w;
        w.ids = Ids(ids);
        w.text = text;
        w.cost = cost;
        w.gramId = gram;
        src.words.push_back(w);
    };
    word({"zhong"}, u"中", 700, 5);
    word({"guo"}, u"国", 800, 6);
    word({"zhong", "guo"}, u"中国", 900, 1);
    word({"ren", "min"}, u"人民", 950, 2);
    word({"zhong", "guo", "ren", "min"}, u"中国人民", 1200, 3);
    word({"zhong", "guo", "ren"}, u"中国人", 1300, 0);
    word({"yin", "hang"}, u"银行", 1000, 4);
    word({"xing"}, u"行", 900, 0);
    word({"hang"}, u"行", 1100, 0);
    src.classes = {{0, 0, 0, 0, 0}, {2, 0, 0, 0, 7}};
    src.words[3].classIndex = 1;
    src.unigrams.assign(9, t_gramUnigram());
    for (uint32_t id = 1; id <= 8; ++id) src.unigrams[id].freq = uint16_t(600 + id);
    src.unigrams[1].cap = 300;         // 中国 caps its pair scores
    src.unigrams[3].leftBackOff = 2;   // 中国人民 backs off through 人民 on the left
    src.unigrams[8].rightBackOff = 2;  // 民 through 人民 on the right
    src.pairs = {{1, 2, 0, 0}, {5, 6, 5, 1}, {2, 2, 12, 0}};
    src.shortKeys.resize(702);
    src.shortKeys[25].push_back({Ids({"zhong"}), u"中", 700, 5});
    src.shortKeys[26 + 25 * 26 + 6].push_back({Ids({"zhong", "guo"}), u"中国", 900, 0x10001});
    return src;
}

Bytes MakeCoreImage(const t_sysDictSource& src) {
    Bytes out;
    std::string error;
    EXPECT_TRUE(BuildSysDictImage(src, out, &error)) << error;
    return out;
}

Bytes ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

}  // namespace lexdata
