// Fuzzy-sound rules: the file, switching built-ins, kinds and confirmations.
#include "kernel/lexicon/fuzzy_config.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/kernel/lexicon/lexicon_support.h"

namespace {

std::vector<std::wstring> Partners(const t_fuzzyConfig& config, const wchar_t* text, bool gray) {
    t_ruleSlot slots[8];
    const int n =
        gray ? config.GetGrayPartners(slots, 8, text) : config.GetFuzzyPartners(slots, 8, text);
    return std::vector<std::wstring>(slots, slots + n);
}

class FuzzyConfigTest : public LexiconDirTest {
protected:
    bool Parse(t_fuzzyConfig& config, const std::string& text) {
        PutUtf8("Fuzzy.dat", text);
        std::wstring messages;
        return config.Parse(messages, WPathOf("Fuzzy.dat").c_str());
    }
};

TEST_F(FuzzyConfigTest, WrongVersionEmptiesEveryList) {
    t_fuzzyConfig config;
    EXPECT_FALSE(Parse(config, "[Metadata]\nversion=2\n[Fuzzy]\nz=zh\n[Commit]\nshi=>si\n"));
    for (int i = 0; i < t_fuzzyConfig::kListCount; ++i) EXPECT_EQ(config.GetList(i), nullptr) << i;
    EXPECT_TRUE(Parse(config, "[Fuzzy]\nz=zh\n"));  // no Metadata: accepted
    EXPECT_TRUE(config.IsFuzzyPair(L"z", L"zh"));
}

TEST_F(FuzzyConfigTest, ArrowLineInFuzzySectionSplitsAtTheArrow) {
    t_fuzzyConfig config;
    ASSERT_TRUE(Parse(config, "[Metadata]\nversion=1\n[Fuzzy]\nzh=>z\n"));
    EXPECT_TRUE(config.IsFuzzyPair(L"zh", L"z"));
}

TEST_F(FuzzyConfigTest, UserFileFirstAndMessagesWhenNothingLoads) {
    PutUtf8("user/Fuzzy.dat", "[Metadata]\nversion=9\n");
    PutUtf8("sys/Fuzzy.dat", "[Metadata]\nversion=1\n[Fuzzy]\nl=n\n");
    t_fuzzyConfig config;
    std::wstring messages;
    EXPECT_TRUE(
        config.Load(messages, WPathOf("sys/Fuzzy.dat").c_str(), WPathOf("user/Fuzzy.dat").c_str()));
    EXPECT_EQ(messages, WPathOf("user/Fuzzy.dat") +
                            L": its [Metadata] version is not 1, the data's fuzzy sounds are "
                            L"used\n");
    EXPECT_TRUE(config.IsFuzzyPair(L"l", L"n"));

    PutUtf8("bad/Fuzzy.dat", "[Metadata]\nversion=0\n");
    t_fuzzyConfig bad;
    messages.clear();
    EXPECT_FALSE(
        bad.Load(messages, WPathOf("bad/Fuzzy.dat").c_str(), WPathOf("none/Fuzzy.dat").c_str()));
    EXPECT_EQ(messages, WPathOf("bad/Fuzzy.dat") +
                            L": its [Metadata] version is not 1, fuzzy sounds are off\n");
}

TEST(FuzzyPairsTest, DisableThenEnableLeavesThePairOnAndNotGray) {
    t_fuzzyConfig config;
    config.DisablePair(L"z", L"zh");
    EXPECT_NE(PairListFind(L"z", L"zh", config.MutableList(t_fuzzyConfig::kGray), 0), nullptr);
    EXPECT_TRUE(config.EnablePair(L"z", L"zh"));
    EXPECT_TRUE(config.IsFuzzyPair(L"z", L"zh"));
    EXPECT_EQ(config.GetList(t_fuzzyConfig::kGray), nullptr);
}

TEST(FuzzyPairsTest, BuiltinsAreRecognisedOnlyInTheirOrder) {
    EXPECT_FALSE(t_fuzzyConfig().IsCustomPair(L"Z", L"ZH"));
    EXPECT_TRUE(t_fuzzyConfig().IsCustomPair(L"zh", L"z"));
    EXPECT_EQ(t_fuzzyConfig::FindDefaultPair(L"uan", L"uang"), 10);
}

TEST(FuzzyPairsTest, SwitchedOffBuiltinMovesFromFuzzyToTheSmartSet) {
    t_fuzzyConfig config;
    ASSERT_TRUE(config.EnablePair(L"z", L"zh"));
    ASSERT_TRUE(config.EnablePair(L"l", L"n"));
    EXPECT_EQ(Partners(config, L"zh", false), std::vector<std::wstring>{L"z"});
    EXPECT_TRUE(config.HasActiveRules());

    config.DisablePair(L"z", L"zh");  // stays in Fuzzy, joins Gray
    EXPECT_TRUE(config.IsFuzzyPair(L"z", L"zh"));
    EXPECT_TRUE(Partners(config, L"zh", false).empty());
    EXPECT_EQ(Partners(config, L"zh", true), std::vector<std::wstring>{L"z"});
    EXPECT_EQ(Partners(config, L"N", false), std::vector<std::wstring>{L"l"});

    config.DisablePair(L"l", L"n");
    EXPECT_FALSE(config.HasActiveRules());  // only switched-off built-ins remain
}

TEST(FuzzyPairsTest, CustomPairsComeAndGo) {
    t_fuzzyConfig config;
    EXPECT_TRUE(config.AddRule(L"k", L"g"));  // two initials: kind 3
    EXPECT_TRUE(config.IsFuzzyPair(L"k", L"g"));
    config.DisablePair(L"k", L"g");
    EXPECT_FALSE(config.IsFuzzyPair(L"k", L"g"));

    EXPECT_TRUE(config.AddRule(L"shi", L"si"));  // two syllables: Commit
    EXPECT_NE(config.GetList(t_fuzzyConfig::kCommit), nullptr);
    config.DeletePair(L"shi", L"si");
    EXPECT_EQ(config.GetList(t_fuzzyConfig::kCommit), nullptr);

    EXPECT_FALSE(config.AddRule(L"a", L"123"));             // kind 0
    EXPECT_FALSE(config.AddRule(L"zhuangg", L"zhuangzh"));  // does not fit a slot
    EXPECT_FALSE(config.EnablePair(L"", L"z"));
}

TEST(FuzzyPairsTest, PairKinds) {
    t_fuzzyConfig config;
    EXPECT_EQ(config.GetPairKind(L"z", L"zh"), kFuzzyKindParts);
    EXPECT_EQ(config.GetPairKind(L"ang", L"iang"), kFuzzyKindParts);    // a final only
    EXPECT_EQ(config.GetPairKind(L"shi", L"si"), kFuzzyKindSyllables);  // not a final
    EXPECT_EQ(config.GetPairKind(L"ang", L"an"), kFuzzyKindParts);      // final and syllable
    EXPECT_EQ(config.GetPairKind(L"shi", L"an"), kFuzzyKindSyllables);
    EXPECT_EQ(config.GetPairKind(L"xx", L"qqq"), kFuzzyKindInvalid);
    EXPECT_TRUE(config.IsSyllablePair(L"fei", L"hui"));
}

TEST(FuzzyPairsTest, ThreeConfirmationsCommitAndAFourthChangesNothing) {
    t_fuzzyConfig config;
    for (int i = 0; i < 3; ++i) EXPECT_TRUE(config.AddPreCommit(L"fei", L"hui"));
    t_pairRule** rule = config.FindPreCommit(L"FEI", L"hui");
    ASSERT_NE(rule, nullptr);
    EXPECT_EQ((*rule)->second, L"hui,3");
    EXPECT_NE(PairListFind(L"fei", L"hui", config.MutableList(t_fuzzyConfig::kCommit), 0), nullptr);
    EXPECT_TRUE(config.AddPreCommit(L"fei", L"hui"));
    EXPECT_EQ((*config.FindPreCommit(L"fei", L"hui"))->second, L"hui,3");
    EXPECT_EQ(PairListCount(config.GetList(t_fuzzyConfig::kCommit)), 1u);
    EXPECT_FALSE(config.AddPreCommit(L"z", L"zh"));  // not whole syllables
    EXPECT_EQ(config.RemovePreCommit(L"fei", L"hui"), 1);
    EXPECT_EQ(config.GetList(t_fuzzyConfig::kPreCommit), nullptr);
}

// Regression: a confirmation of xi must not count up a pending xian, which
// merely begins with the same letters.
TEST(FuzzyPairsTest, ConfirmationDoesNotTouchALongerTarget) {
    t_fuzzyConfig config;
    ASSERT_TRUE(config.AddPreCommit(L"shi", L"xian"));
    ASSERT_TRUE(config.AddPreCommit(L"shi", L"xi"));
    ASSERT_TRUE(config.AddPreCommit(L"shi", L"xi"));
    EXPECT_EQ((*config.FindPreCommit(L"shi", L"xian"))->second, L"xian,1");
    EXPECT_EQ((*config.FindPreCommit(L"shi", L"xi"))->second, L"xi,2");
}

// Regression: several pairs sharing a first text (an=ang, an=en) and the
// arrow sections must all survive a save and a load.
TEST_F(FuzzyConfigTest, RoundTripKeepsPairsSharingAFirstText) {
    t_fuzzyConfig config;
    ASSERT_TRUE(Parse(config,
                      "[Metadata]\nversion=1\n[Fuzzy]\nan=ang\nan=en\nan=ian\n"
                      "[Gray]\nz=zh\n[Commit]\nshi=>si\nshi=>xi\n[PreCommit]\nfei=>hui,2\n"));
    ASSERT_TRUE(config.Save(WPathOf("saved.dat").c_str()));
    t_fuzzyConfig again;
    std::wstring messages;
    ASSERT_TRUE(again.Parse(messages, WPathOf("saved.dat").c_str()));
    EXPECT_EQ(PairListCount(again.GetList(t_fuzzyConfig::kFuzzy)), 3u);
    EXPECT_EQ(PairListCount(again.GetList(t_fuzzyConfig::kCommit)), 2u);
    EXPECT_EQ(Partners(again, L"an", false), (std::vector<std::wstring>{L"ian", L"en", L"ang"}));
    EXPECT_EQ((*again.FindPreCommit(L"fei", L"hui"))->second, L"hui,2");
    ASSERT_TRUE(again.Save(WPathOf("saved2.dat").c_str()));
    EXPECT_EQ(Get("saved.dat"), Get("saved2.dat"));
}

TEST_F(FuzzyConfigTest, ShippedFileSwitchesEveryBuiltinOff) {
    t_fuzzyConfig config;
    std::wstring messages;
    const std::string path = SourceDir() + "/data/schemes/Fuzzy.dat";
    ASSERT_TRUE(config.Parse(messages, std::wstring(path.begin(), path.end()).c_str()));
    EXPECT_FALSE(config.HasActiveRules());
    for (int row = 0; row < t_fuzzyConfig::kBuiltinCount; ++row) {
        t_ruleSlot slots[4];
        EXPECT_GE(config.GetGrayPartners(slots, 4, t_fuzzyConfig::GetDefaultText(row, 0)), 1)
            << row;
    }
}

}  // namespace
