// Loading the three configurations together from the two directories.
#include "kernel/lexicon/scheme_config.h"

#include <gtest/gtest.h>

#include <string>

#include "tests/kernel/lexicon/lexicon_support.h"

namespace {

class SchemeConfigsTest : public LexiconDirTest {
protected:
    t_schemeLoadSettings Settings(const wchar_t* scheme) const {
        return {WPathOf("sys"), WPathOf("user"), scheme};
    }
};

TEST_F(SchemeConfigsTest, MissingFilesOnlyAddMessages) {
    t_schemeConfigs configs;
    std::wstring messages;
    EXPECT_EQ(configs.LoadAll(messages, Settings(L"Vetra")), 1);
    EXPECT_NE(messages.find(L"load fuzzy failed."), std::wstring::npos);
    EXPECT_NE(messages.find(L"load correct failed."), std::wstring::npos);
    EXPECT_NE(messages.find(L"load sp file failed."), std::wstring::npos);
    EXPECT_FALSE(configs.HasFuzzyRules());
    EXPECT_TRUE(configs.Correction().IsEmpty());
}

TEST_F(SchemeConfigsTest, UnknownSchemeFallsBackToVetraUserCopyFirst) {
    PutUtf8("sys/ShuangPinSchemes/Vetra.ini", "[声母]\nzh=A\n");
    PutUtf8("user/ShuangPinSchemes/Vetra.ini", "[声母]\nzh=B\n");
    PutUtf8("sys/Fuzzy.dat", "[Metadata]\nversion=1\n[Fuzzy]\nz=zh\n");
    t_schemeConfigs configs;
    std::wstring messages;
    configs.LoadAll(messages, Settings(L"NoSuchScheme"));
    wchar_t keys[4];
    ASSERT_TRUE(configs.Scheme().GetMapping(keys, 4, L"zh", kSpInitial));
    EXPECT_STREQ(keys, L"b");
    EXPECT_TRUE(configs.HasFuzzyRules());
    configs.ClearFuzzyAndCorrection();
    EXPECT_FALSE(configs.HasFuzzyRules());
}

TEST_F(SchemeConfigsTest, NamedSchemeInTheSystemDirectoryWins) {
    PutUtf8("sys/ShuangPinSchemes/Vetra.ini", "[声母]\nzh=A\n");
    PutUtf8("sys/ShuangPinSchemes/My.ini", "[声母]\nzh=C\n");
    t_schemeConfigs configs;
    std::wstring messages;
    configs.LoadAll(messages, Settings(L"My"));
    wchar_t keys[4];
    ASSERT_TRUE(configs.Scheme().GetMapping(keys, 4, L"zh", kSpInitial));
    EXPECT_STREQ(keys, L"c");
    EXPECT_EQ(messages.find(L"load sp file failed."), std::wstring::npos);
}

}  // namespace
