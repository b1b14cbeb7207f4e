// Spelling corrections: built-in switching, variants both ways, files.
#include "kernel/lexicon/correction_config.h"

#include <gtest/gtest.h>

#include <string>

#include "tests/kernel/lexicon/lexicon_support.h"

namespace {

TEST(CorrectionConfigTest, BuiltinPairIsAcceptedInEitherOrderAndStoredAsGiven) {
    t_correctionConfig config;
    EXPECT_TRUE(config.Enable(L"gn", L"NG"));
    EXPECT_TRUE(config.Contains(L"gn", L"NG"));
    EXPECT_FALSE(config.Contains(L"ng", L"gn"));
    EXPECT_FALSE(config.Enable(L"ao", L"oa"));
    EXPECT_FALSE(config.Disable(L"ao", L"oa"));
    EXPECT_TRUE(config.Disable(L"NG", L"gn"));  // removes the reversed pair
    EXPECT_TRUE(config.IsEmpty());
    EXPECT_FALSE(config.Disable(L"ng", L"gn"));
}

TEST(CorrectionConfigTest, BuiltinTableAndExamples) {
    EXPECT_EQ(t_correctionConfig::GetBuiltinCount(), 5);
    EXPECT_STREQ(t_correctionConfig::GetBuiltinText(1, 1), L"mg");
    EXPECT_STREQ(t_correctionConfig::GetBuiltinExample(4, 1), L"kuen");
    EXPECT_EQ(t_correctionConfig::GetBuiltinText(5, 0), nullptr);
    EXPECT_EQ(t_correctionConfig::GetBuiltinExample(0, 2), nullptr);
    int row = -1;
    EXPECT_TRUE(t_correctionConfig::FindBuiltinPair(L"uei", L"ui", &row));
    EXPECT_EQ(row, 3);
}

TEST(CorrectionConfigTest, CorrectAllTurnsWrongIntoCorrect) {
    t_correctionConfig config;
    ASSERT_TRUE(config.Enable(L"ng", L"gn"));
    t_ruleSlot slots[6];
    ASSERT_EQ(config.CorrectAll(slots, 6, L"lign"), 1);
    EXPECT_STREQ(slots[0], L"ling");
    EXPECT_EQ(config.CorrectAll(slots, 6, L"ling"), 0);
    EXPECT_EQ(config.CorrectAll(slots, 6, L""), 0);
    // "zhuaaagn" corrected would need 8 characters and a terminator.
    EXPECT_EQ(config.CorrectAll(slots, 6, L"zhuaaagn"), 0);
}

// Regression: the key-map builder needs mistyped keys from correct spellings;
// correcting a correct spelling gives nothing, so it asks the other way.
TEST(CorrectionConfigTest, MistypeAllTurnsCorrectIntoWrong) {
    t_correctionConfig config;
    for (int row = 0; row < 5; ++row) {
        ASSERT_TRUE(config.Enable(t_correctionConfig::GetBuiltinText(row, 0),
                                  t_correctionConfig::GetBuiltinText(row, 1)));
    }
    for (int row = 0; row < 5; ++row) {
        t_ruleSlot slots[6];
        const int n = config.MistypeAll(slots, 6, t_correctionConfig::GetBuiltinExample(row, 0));
        bool found = false;
        for (int i = 0; i < n; ++i)
            found |= std::wstring(slots[i]) == t_correctionConfig::GetBuiltinExample(row, 1);
        EXPECT_TRUE(found) << row;
    }
    t_ruleSlot slots[6];
    EXPECT_EQ(config.MistypeAll(slots, 6, L"ling"), 2);  // lign and limg
    EXPECT_EQ(config.MistypeAll(slots, 1, L"ling"), 1);  // never more than max
}

TEST(CorrectionConfigTest, ReplaceFirstTextRespectsCapacity) {
    wchar_t out[8];
    EXPECT_TRUE(ReplaceFirstText(out, 8, L"abab", L"b", L"xyz"));
    EXPECT_STREQ(out, L"axyzab");
    EXPECT_FALSE(ReplaceFirstText(out, 6, L"abab", L"b", L"xyz"));  // needs 7
    EXPECT_TRUE(ReplaceFirstText(out, 7, L"abab", L"b", L"xyz"));
    EXPECT_FALSE(ReplaceFirstText(out, 8, L"abab", L"q", L"x"));
    EXPECT_FALSE(ReplaceFirstText(out, 8, L"abab", L"", L"x"));
}

class CorrectionFileTest : public LexiconDirTest {};

TEST_F(CorrectionFileTest, FileWithoutTheSectionLoadsNothingAndFails) {
    PutUtf8("Correction.ini", "[Other]\nng=gn\n");
    t_correctionConfig config;
    std::wstring messages;
    EXPECT_FALSE(config.LoadFile(messages, WPathOf("Correction.ini").c_str()));
    EXPECT_TRUE(config.IsEmpty());
    EXPECT_EQ(messages, WPathOf("Correction.ini") + L": no [Correction] section\n");
    messages.clear();
    EXPECT_FALSE(config.LoadFile(messages, WPathOf("missing.ini").c_str()));
    EXPECT_EQ(messages, WPathOf("missing.ini") + L": cannot be read\n");
}

TEST_F(CorrectionFileTest, RuleWithAnEmptySideGivesNoVariant) {
    PutUtf8("Correction.ini", "[Correction]\nng=\n");
    t_correctionConfig config;
    std::wstring messages;
    ASSERT_TRUE(config.LoadFile(messages, WPathOf("Correction.ini").c_str()));
    t_ruleSlot slots[6];
    EXPECT_EQ(config.MistypeAll(slots, 6, L"ling"), 0);  // not "li"
    EXPECT_EQ(config.CorrectAll(slots, 6, L"ling"), 0);
}

TEST_F(CorrectionFileTest, UserFileFirstThenSystemFile) {
    PutUtf8("sys/Correction.ini", "[Correction]\niu=iou\n");
    PutUtf8("user/Correction.ini", "[Nothing]\n");
    t_correctionConfig config;
    std::wstring messages;
    EXPECT_TRUE(config.Load(messages, WPathOf("sys/Correction.ini").c_str(),
                            WPathOf("user/Correction.ini").c_str()));
    EXPECT_EQ(messages, WPathOf("user/Correction.ini") +
                            L": no [Correction] section, the data's rules are used\n");
    EXPECT_TRUE(config.Contains(L"iu", L"iou"));

    t_correctionConfig none;
    messages.clear();
    EXPECT_FALSE(none.Load(messages, WPathOf("a.ini").c_str(), WPathOf("b.ini").c_str()));
}

// Regression: with one value per key, saving kept only one of ng=gn and
// ng=mg; all five built-in corrections must survive a save and a load.
TEST_F(CorrectionFileTest, AllFiveBuiltinsSurviveARoundTrip) {
    t_correctionConfig config;
    for (int row = 0; row < 5; ++row) {
        ASSERT_TRUE(config.Enable(t_correctionConfig::GetBuiltinText(row, 0),
                                  t_correctionConfig::GetBuiltinText(row, 1)));
    }
    ASSERT_TRUE(config.Save(WPathOf("").c_str()));
    t_correctionConfig loaded;
    std::wstring messages;
    ASSERT_TRUE(loaded.LoadFile(messages, WPathOf("Correction.ini").c_str()));
    for (int row = 0; row < 5; ++row) {
        EXPECT_TRUE(loaded.Contains(t_correctionConfig::GetBuiltinText(row, 0),
                                    t_correctionConfig::GetBuiltinText(row, 1)))
            << row;
    }
    EXPECT_EQ(PairListCount(loaded.GetRules()), 5u);
}

TEST_F(CorrectionFileTest, SaveIntoAMissingDirectoryReportsFailure) {
    t_correctionConfig config;
    ASSERT_TRUE(config.Enable(L"ng", L"gn"));
    EXPECT_FALSE(config.Save(WPathOf("no/such/dir/").c_str()));
}

TEST_F(CorrectionFileTest, ShippedFileHoldsTheFiveBuiltins) {
    t_correctionConfig config;
    std::wstring messages;
    const std::string path = SourceDir() + "/data/schemes/Correction.ini";
    ASSERT_TRUE(config.LoadFile(messages, std::wstring(path.begin(), path.end()).c_str()));
    EXPECT_EQ(PairListCount(config.GetRules()), 5u);
    EXPECT_TRUE(config.Contains(L"ng", L"gn"));
    EXPECT_TRUE(config.Contains(L"ng", L"mg"));
}

}  // namespace
