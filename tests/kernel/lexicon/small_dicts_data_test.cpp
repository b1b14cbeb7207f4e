// The built system data of the string and small dictionaries: a few lookups
// answer from the real lists (the registry test attaches every entry).
// Skipped without the data build.
#include <gtest/gtest.h>

#include <filesystem>

#include "kernel/lexicon/small_dicts.h"
#include "kernel/lexicon/string_dict.h"
#include "tests/kernel/lexicon/built_data_support.h"
#include "tests/kernel/lexicon/small_dicts_support.h"

using namespace dicttest;

TEST(BuiltSystemDataTest, RealListsAnswer) {
    const std::string data = BuiltSystemDir();
    if (data.empty() || !std::filesystem::exists(data + "/qzim_eng.bin"))
        GTEST_SKIP() << "no built string tables (configure with -DVETRA_BUILD_DATA=ON)";
    t_engSysDict eng;
    t_urlSysDict url;
    t_supportCharDict support;
    t_numFreqAdjustDict numbers;
    Bytes engImage = ReadBytes(data + "/qzim_eng.bin");
    ASSERT_TRUE(eng.Load(engImage.data(), int32_t(engImage.size())));
    uint32_t freq = 0;
    EXPECT_EQ(1, eng.GetWordFreq(L(U(u"the")), &freq));
    EXPECT_GT(freq, 0u);
    EXPECT_EQ(1, eng.GetWordFreq(L(U(u"don't")), &freq));
    t_scopeHeap heap;
    t_strResult** out = nullptr;
    uint32_t full = 0;
    int32_t total = 0;
    ASSERT_EQ(1, eng.Search(heap, L(U(u"DONT")), 0, &out, &full, &total));
    ASSERT_GE(total, 1);
    EXPECT_EQ(u"DON'T", Text(out[0]->text));
    ASSERT_EQ(1, eng.Search(heap, L(U(u"ab*d")), 0, &out, &full, &total));
    ASSERT_GE(total, 1);
    for (int32_t i = 0; i < total; ++i) {
        const std::u16string t = Text(out[i]->text);
        EXPECT_TRUE(t.size() >= 3 && (t.back() == u'd' || t.back() == u'D'))
            << std::string(t.begin(), t.end());
    }

    // English words of the Chinese text are prediction keys, unless pinyin
    // could begin them (debian: de bi an; linux: li nu x) or they are
    // initials alone (ssh).
    t_preEngDict pre;
    Bytes preImage = ReadBytes(data + "/qzim_eng_pre.bin");
    ASSERT_TRUE(pre.Load(preImage.data(), int32_t(preImage.size())));
    const struct {
        const char16_t* key;
        int expected;
    } keys[] = {{u"shell", 1}, {u"windows", 1}, {u"samba", 1}, {u"debian", 0},
                {u"linux", 0}, {u"ssh", 0},     {u"nihao", 0}, {u"Shell", 0}};
    for (const auto& k : keys) {
        const std::u16string key(k.key);
        EXPECT_EQ(k.expected, pre.Contains(L(U(key)))) << std::string(key.begin(), key.end());
    }

    Bytes urlImage = ReadBytes(data + "/qzim_url.bin");
    ASSERT_TRUE(url.Load(urlImage.data(), int32_t(urlImage.size())));
    ASSERT_EQ(1, url.Search(heap, L(U(u"www.bai")), 0, &out, &full, &total));
    ASSERT_GE(total, 1);
    EXPECT_EQ(u"www.baidu.com", Text(out[0]->text));

    Bytes numImage = ReadBytes(data + "/qzim_numFreqAdjust.bin");
    ASSERT_TRUE(numbers.Load(numImage.data(), int32_t(numImage.size())));
    uint16_t kind = 9;
    uint32_t count = 9;
    ASSERT_TRUE(numbers.Get(L(U(u"一")), &kind, &count));
    EXPECT_EQ(0, kind);
    EXPECT_EQ(0u, count);

    Bytes flags = ReadBytes(data + "/qzim_charvalid.bin");
    ASSERT_TRUE(support.Load(flags.data(), int32_t(flags.size())));
    EXPECT_EQ(1, support.GetFlagTable()[0x4E00]);  // 一, in GBK
    EXPECT_EQ(1, support.GetFlagTable()['a']);
    EXPECT_EQ(0, support.GetFlagTable()[0x9FA6]);  // a Han point beyond GBK
}
