// Shuangpin schemes and the pinyin classifiers.
#include "kernel/lexicon/shuangpin.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <string>

#include "tests/kernel/lexicon/lexicon_support.h"

namespace {

std::wstring Mapping(const t_spScheme& scheme, const wchar_t* spelling, int kind) {
    wchar_t out[8];
    return scheme.GetMapping(out, 8, spelling, kind) ? out : L"<none>";
}

class SpSchemeTest : public LexiconDirTest {};

TEST_F(SpSchemeTest, FileLinesOverrideTheDefaults) {
    PutUtf8("s.ini", "[声母]\nzh=V\n");
    t_spScheme scheme;
    std::wstring messages;
    ASSERT_TRUE(scheme.LoadFile(messages, WPathOf("s.ini").c_str()));
    EXPECT_EQ(Mapping(scheme, L"zh", kSpInitial), L"v");
    EXPECT_EQ(Mapping(scheme, L"b", kSpInitial), L"b");
    EXPECT_EQ(Mapping(scheme, L"a", kSpFinal), L"a");
    EXPECT_EQ(Mapping(scheme, L"v", kSpInitial), L"<none>");  // v is no initial
    EXPECT_EQ(Mapping(scheme, L"a", kSpZeroInitialFinal), L"<none>");
    EXPECT_EQ(Mapping(scheme, L"a", 3), L"<none>");
    wchar_t small[1];
    EXPECT_FALSE(scheme.GetMapping(small, 1, L"zh", kSpInitial));  // no room for the terminator
}

TEST_F(SpSchemeTest, UnreadableFileLeavesTheListsAlone) {
    t_spScheme scheme;
    std::wstring messages;
    EXPECT_FALSE(scheme.LoadFile(messages, WPathOf("none.ini").c_str()));
    EXPECT_EQ(scheme.GetList(1), nullptr);
}

TEST_F(SpSchemeTest, OnlyTheDefaultSchemesUserCopyIsRead) {
    PutUtf8("user/ShuangPinSchemes/Vetra.ini", "[韵母]\nang=H\n");
    t_spScheme scheme;
    std::wstring messages;
    ASSERT_TRUE(scheme.Load(messages, WPathOf("sys/ShuangPinSchemes/X.ini").c_str(),
                            WPathOf("user/ShuangPinSchemes/X.ini").c_str(),
                            WPathOf("sys/ShuangPinSchemes/Vetra.ini").c_str(),
                            WPathOf("user/ShuangPinSchemes/Vetra.ini").c_str()));
    EXPECT_EQ(Mapping(scheme, L"ang", kSpFinal), L"h");
    EXPECT_TRUE(messages.empty());
}

TEST_F(SpSchemeTest, BrokenUserCopyFallsBackToTheSystemCopyWithAMessage) {
    PutUtf8("sys/X.ini", "[韵母]\nang=H\n");
    ASSERT_EQ(mkdir(PathOf("user").c_str(), 0700), 0);
    ASSERT_EQ(mkdir(PathOf("user/X.ini").c_str(), 0700), 0);  // a directory: not a file
    PutUtf8("user/X.ini/unused", "");
    t_spScheme scheme;
    std::wstring messages;
    ASSERT_TRUE(scheme.Load(messages, WPathOf("sys/X.ini").c_str(), WPathOf("user/X.ini").c_str(),
                            nullptr, nullptr));
    EXPECT_EQ(Mapping(scheme, L"ang", kSpFinal), L"h");
    EXPECT_FALSE(scheme.Load(messages, nullptr, nullptr, nullptr, nullptr));
}

TEST_F(SpSchemeTest, SaveAndLoadKeepEveryMapping) {
    t_spScheme scheme;
    ASSERT_TRUE(scheme.SetMappingChecked(L"zh", L"V", kSpInitial));
    ASSERT_TRUE(scheme.SetMappingChecked(L"ang", L"AH", kSpZeroInitialFinal));
    ASSERT_TRUE(scheme.SetMappingChecked(L"ang", L"H", kSpFinal));
    ASSERT_TRUE(scheme.SetMappingChecked(L"ang", L"K", kSpFinal));  // replaces
    EXPECT_FALSE(scheme.SetMappingChecked(L"x", L"X", 3));
    ASSERT_TRUE(scheme.Save(WPathOf("out.ini").c_str()));
    t_spScheme loaded;
    std::wstring messages;
    ASSERT_TRUE(loaded.LoadFile(messages, WPathOf("out.ini").c_str()));
    EXPECT_EQ(Mapping(loaded, L"zh", kSpInitial), L"v");
    EXPECT_EQ(Mapping(loaded, L"ang", kSpFinal), L"k");
    EXPECT_EQ(Mapping(loaded, L"ang", kSpZeroInitialFinal), L"ah");
}

TEST(PinyinClassifierTest, Initials) {
    EXPECT_TRUE(IsPinyinInitial(L"zh"));
    EXPECT_FALSE(IsPinyinInitial(L"Zh"));
    EXPECT_FALSE(IsPinyinInitial(L"zH"));
    EXPECT_TRUE(IsPinyinInitial(L"b"));
    EXPECT_FALSE(IsPinyinInitial(L"an"));
    EXPECT_FALSE(IsPinyinInitial(L"V"));
    EXPECT_FALSE(IsPinyinInitial(L"zhh"));
    EXPECT_FALSE(IsPinyinInitial(L""));
    EXPECT_TRUE(IsRetroflexInitial(L"ch"));
    EXPECT_FALSE(IsRetroflexInitial(L"c"));
}

TEST(PinyinClassifierTest, FinalsSyllablesAndClasses) {
    EXPECT_TRUE(IsPinyinFinal(L"IANG"));
    EXPECT_FALSE(IsPinyinFinal(L"ng"));
    EXPECT_TRUE(IsZeroInitialFinal(L"er"));
    EXPECT_FALSE(IsZeroInitialFinal(L"iang"));
    EXPECT_TRUE(IsPinyinSyllable(L"zhuang"));
    EXPECT_FALSE(IsPinyinSyllable(L"A"));  // a letter, not a syllable
    EXPECT_EQ(ClassifyPinyinPart(L"an"), 3);
    EXPECT_EQ(ClassifyPinyinPart(L"iang"), 2);
    EXPECT_EQ(ClassifyPinyinPart(L"zh"), 4);
    EXPECT_EQ(ClassifyPinyinPart(L"shi"), 1);
    EXPECT_EQ(ClassifyPinyinPart(L"qqq"), 0);
}

TEST(PinyinClassifierTest, SplittingSyllables) {
    wchar_t initial[3], final[8];
    ASSERT_TRUE(SplitSyllable(initial, 3, final, 8, L"zhuang"));
    EXPECT_STREQ(initial, L"zh");
    EXPECT_STREQ(final, L"uang");
    ASSERT_TRUE(SplitSyllable(initial, 3, final, 8, L"ang"));
    EXPECT_STREQ(initial, L"");
    EXPECT_STREQ(final, L"ang");
    ASSERT_TRUE(SplitSyllable(initial, 3, final, 8, L"yu"));
    EXPECT_STREQ(initial, L"y");
    EXPECT_STREQ(final, L"u");
    EXPECT_FALSE(SplitSyllable(initial, 2, final, 8, L"zhi"));  // initial needs 3
    EXPECT_FALSE(SplitSyllable(initial, 3, final, 4, L"zhuang"));
    EXPECT_STREQ(final, L"");
    EXPECT_FALSE(SplitSyllable(initial, 3, final, 8, L""));
}

}  // namespace
