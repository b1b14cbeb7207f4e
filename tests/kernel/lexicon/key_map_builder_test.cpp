// The key-map builder against a model map: which keys each syllable gets.
#include "kernel/lexicon/key_map_builder.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <utility>

#include "kernel/lexicon/syllable_table.h"
#include "tests/kernel/lexicon/lexicon_support.h"

namespace {

// Keeps one mapping per (key, id) and merges repeats the way the map does.
class ModelSink : public i_keyMapSink {
public:
    int AddMapping(const wchar_t* key, uint16_t id, uint16_t flags, bool smartOnly) override {
        if (smartOnly) flags |= kKeyFlagSmartOnly;
        auto [it, added] = map_.emplace(std::make_pair(std::wstring(key), id), flags);
        if (added) return 4;
        it->second = MergeMappingFlags(it->second, flags);
        return 1;
    }
    void SetExtraFlagA(uint8_t v) override { a_ = v; }
    void SetExtraFlagB(uint8_t v) override { b_ = v; }

    // Flags of (key, syllable), or -1 when absent.
    int Flags(const wchar_t* key, const wchar_t* syllable) const {
        const auto it = map_.find({key, uint16_t(SyllableTableFind(syllable))});
        return it == map_.end() ? -1 : it->second;
    }
    bool AnyFlag(uint16_t mask) const {
        for (const auto& [k, f] : map_) {
            if (f & mask) return true;
        }
        return false;
    }
    size_t Size() const { return map_.size(); }

    std::map<std::pair<std::wstring, uint16_t>, uint16_t> map_;
    int a_ = -1, b_ = -1;
};

class KeyMapBuilderTest : public LexiconDirTest {
protected:
    void Build(const t_keyMapOptions& options) {
        t_keyPyMapBuilder builder;
        std::wstring messages;
        ASSERT_TRUE(builder.Initialise(options, {WPathOf("sys"), WPathOf("user"), L"Vetra"}, &sink_,
                                       &messages));
        ASSERT_TRUE(builder.AddAll());
    }
    void Fuzzy(const std::string& rules) {
        PutUtf8("sys/Fuzzy.dat", "[Metadata]\nversion=1\n" + rules);
    }

    ModelSink sink_;
};

TEST_F(KeyMapBuilderTest, FullPinyinSpellingsAbbreviationsAndPartials) {
    Build({});
    EXPECT_EQ(sink_.Flags(L"zhuang", L"zhuang"), 0);
    EXPECT_EQ(sink_.Flags(L"zh", L"zhuang"), kKeyFlagAbbrev);
    EXPECT_EQ(sink_.Flags(L"z", L"zhuang"), -1);  // z for zh is off
    EXPECT_EQ(sink_.Flags(L"xio", L"xiong"), kKeyFlagPartial);
    EXPECT_EQ(sink_.Flags(L"xion", L"xiong"), kKeyFlagPartial);
    EXPECT_EQ(sink_.Flags(L"xi", L"xiong"), -1);  // xi is a syllable of its own
    EXPECT_EQ(sink_.Flags(L"a", L"ang"), -1);     // only with z for zh
    // so is also a partial spelling of sou; the merge keeps the common low bits.
    EXPECT_EQ(sink_.Flags(L"so", L"sou"), kKeyFlagPartial & kKeyFlagFuzzy);
    EXPECT_EQ(sink_.a_, 0);
    EXPECT_EQ(sink_.b_, 0);
}

TEST_F(KeyMapBuilderTest, UmlautSpellingsAreOwnSpellings) {
    Fuzzy("[Fuzzy]\nj=q\n");
    Build({});
    EXPECT_EQ(sink_.Flags(L"jv", L"ju"), 0);
    EXPECT_EQ(sink_.Flags(L"jvan", L"juan"), 0);
    EXPECT_EQ(sink_.Flags(L"lve", L"lve"), 0);
    EXPECT_EQ(sink_.Flags(L"lue", L"lve"), 0);  // typed as most people spell it
    EXPECT_EQ(sink_.Flags(L"nue", L"nve"), 0);
    EXPECT_EQ(sink_.Flags(L"jve", L"jue"), 0);
    EXPECT_EQ(sink_.Flags(L"qv", L"ju"), kKeyFlagFuzzy);  // fuzzy applies to the ü node too
    EXPECT_EQ(sink_.Flags(L"qu", L"ju"), kKeyFlagFuzzy);
    EXPECT_EQ(sink_.Flags(L"dv", L"du"), -1);
}

TEST_F(KeyMapBuilderTest, SingleLettersForRetroflexAndZeroInitial) {
    t_keyMapOptions options;
    options.zcs = true;
    Build(options);
    EXPECT_EQ(sink_.Flags(L"zh", L"zhang"), kKeyFlagAbbrev);
    EXPECT_EQ(sink_.Flags(L"z", L"zhang"), kKeyFlagAbbrev);
    EXPECT_EQ(sink_.Flags(L"a", L"ang"), kKeyFlagAbbrev | kKeyFlagZeroInitial);
    EXPECT_EQ(sink_.Flags(L"a", L"a"), 0);
    EXPECT_EQ(sink_.a_, 1);
}

TEST_F(KeyMapBuilderTest, FuzzyRuleGivesDerivedSpellingsAndAbbreviations) {
    Fuzzy("[Fuzzy]\nz=zh\nan=ang\n");
    Build({});
    EXPECT_EQ(sink_.Flags(L"z", L"zhang"), kKeyFlagFuzzy | kKeyFlagAbbrev);
    EXPECT_EQ(sink_.Flags(L"zang", L"zhang"), kKeyFlagFuzzy);
    EXPECT_EQ(sink_.Flags(L"zhan", L"zhang"), kKeyFlagFuzzy);
    EXPECT_EQ(sink_.Flags(L"zan", L"zhang"), kKeyFlagFuzzy);
    EXPECT_EQ(sink_.Flags(L"zhang", L"zang"), kKeyFlagFuzzy);  // rules work both ways
    EXPECT_EQ(sink_.Flags(L"zh", L"zhang"), kKeyFlagAbbrev);   // own spelling keeps its flags
    EXPECT_EQ(sink_.a_, 0);
    EXPECT_EQ(sink_.b_, 1);
}

TEST_F(KeyMapBuilderTest, FuzzySpellingOfEightLettersIsSkipped) {
    Fuzzy("[Fuzzy]\nzh=zhh\nuang=uangg\n");
    Build({});
    EXPECT_EQ(sink_.Flags(L"zhhuang", L"zhuang"), kKeyFlagFuzzy);  // 7 letters
    EXPECT_EQ(sink_.Flags(L"zhuangg", L"zhuang"), kKeyFlagFuzzy);  // 7 letters
    for (const auto& [key, flags] : sink_.map_)
        EXPECT_LE(key.first.size(), 7u) << std::string(key.first.begin(), key.first.end());
    EXPECT_EQ(sink_.Flags(L"zhhuangg", L"zhuang"), -1);
}

// Regression: corrections were applied to correct spellings, so no mistyped
// key was ever made; ling must give lign.
TEST_F(KeyMapBuilderTest, CorrectionsGiveMistypedKeys) {
    PutUtf8("sys/Correction.ini", "[Correction]\nng=gn\nng=mg\niu=iou\n");
    t_keyMapOptions options;
    options.correction = true;
    Build(options);
    EXPECT_EQ(sink_.Flags(L"lign", L"ling"), kKeyFlagCorrection);
    EXPECT_EQ(sink_.Flags(L"limg", L"ling"), kKeyFlagCorrection);
    EXPECT_EQ(sink_.Flags(L"qiou", L"qiu"), kKeyFlagCorrection);
    EXPECT_EQ(sink_.Flags(L"ling", L"ling"), 0);
}

TEST_F(KeyMapBuilderTest, SmartSetGivesOnlySmartFullSpellings) {
    Fuzzy("[Gray]\nz=zh\n");
    t_keyMapOptions options;
    options.smartFuzzy = true;
    Build(options);
    EXPECT_EQ(sink_.Flags(L"zang", L"zhang"), kKeyFlagFuzzy | kKeyFlagSmartOnly);
    EXPECT_EQ(sink_.Flags(L"z", L"zhang"), -1);  // no abbreviation from the smart set
    EXPECT_EQ(sink_.Flags(L"zhang", L"zhang"), 0);
    EXPECT_EQ(sink_.b_, 0);  // switched-off pairs are no active rule

    ModelSink plain;
    t_keyPyMapBuilder builder;
    ASSERT_TRUE(
        builder.Initialise({}, {WPathOf("sys"), WPathOf("user"), L"Vetra"}, &plain, nullptr));
    ASSERT_TRUE(builder.AddAll());
    EXPECT_EQ(plain.Flags(L"zang", L"zhang"), -1);  // smart fuzzy off
}

TEST_F(KeyMapBuilderTest, CommittedPairsMapTheirKeys) {
    Fuzzy("[Commit]\nfei=>hui\nxx=>nosuch\n");
    Build({});
    EXPECT_EQ(sink_.Flags(L"fei", L"hui"), kKeyFlagFuzzy);
    EXPECT_EQ(sink_.b_, 1);
}

TEST_F(KeyMapBuilderTest, ShuangpinKeysWithoutFullPinyinExtras) {
    PutUtf8("sys/ShuangPinSchemes/Vetra.ini",
            "[声母]\nzh=V\nch=I\nsh=U\n[韵母]\nang=H\nuang=D\niong=S\ning=;\n"
            "[零声母音节的韵母]\nang=AH\na=AA\n");
    PutUtf8("sys/Correction.ini", "[Correction]\nng=gn\n");
    t_keyMapOptions options;
    options.fullPinyin = false;
    options.shuangPin = true;
    options.correction = true;
    options.zcs = true;
    options.superSpJp = true;
    Build(options);
    EXPECT_EQ(sink_.Flags(L"vh", L"zhang"), 0);
    EXPECT_EQ(sink_.Flags(L"v", L"zhang"), kKeyFlagAbbrev);
    EXPECT_EQ(sink_.Flags(L"vd", L"zhuang"), 0);
    EXPECT_EQ(sink_.Flags(L"l;", L"ling"), 0);
    EXPECT_EQ(sink_.Flags(L"ah", L"ang"), 0);
    EXPECT_EQ(sink_.Flags(L"a", L"ang"), kKeyFlagAbbrev | kKeyFlagZeroInitial);
    EXPECT_EQ(sink_.Flags(L"zhang", L"zhang"), -1);
    EXPECT_FALSE(sink_.AnyFlag(kKeyFlagPartial | kKeyFlagCorrection));
    for (const auto& [key, flags] : sink_.map_) EXPECT_LE(key.first.size(), 3u);
    EXPECT_EQ(sink_.a_, 0);  // z for zh does not apply to shuangpin
}

TEST_F(KeyMapBuilderTest, ShuangpinWithFullPinyinAllowedAddsOnlyFullSpellings) {
    t_keyMapOptions options;
    options.shuangPin = true;
    options.correction = true;
    Build(options);
    EXPECT_EQ(sink_.Flags(L"xiong", L"xiong"), 0);
    EXPECT_FALSE(sink_.AnyFlag(kKeyFlagPartial | kKeyFlagCorrection));
    EXPECT_EQ(sink_.Flags(L"zh", L"zhang"), -1);
}

TEST(KeyMapBuilderStateTest, NothingIsEmittedBeforeInitialise) {
    t_keyPyMapBuilder builder;
    EXPECT_FALSE(builder.AddAll());
    EXPECT_FALSE(builder.AddSyllable(0));
    EXPECT_FALSE(builder.Initialise({}, {}, nullptr, nullptr));
}

}  // namespace
