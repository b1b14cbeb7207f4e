// The built system data of the string and small dictionaries: every entry
// attaches through the dictionary manager from the built directory, and a
// few lookups answer from the real lists. Skipped without the data build.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cwchar>
#include <filesystem>

#include "kernel/lexicon/punct_dict.h"
#include "kernel/lexicon/small_dicts.h"
#include "kernel/lexicon/string_dict.h"
#include "kernel/lexicon/string_dict_user.h"
#include "kernel/runtime/dir_settings.h"
#include "tests/kernel/lexicon/built_data_support.h"
#include "tests/kernel/lexicon/small_dicts_support.h"

using namespace dicttest;

namespace {

struct t_row {
    const wchar_t* name;
    const wchar_t* file;
    uint32_t storage;
    uint32_t dir;
    t_dictStorageBase* dict;
};

class BuiltSystemDataTest : public DictManagerTest {
protected:
    void SetUp() override {
        data = BuiltSystemDir();
        if (data.empty() || !std::filesystem::is_directory(data))
            GTEST_SKIP() << "no built system data (configure with -DVETRA_BUILD_DATA=ON)";
        if (!std::filesystem::exists(data + "/qzim_eng.bin"))
            GTEST_SKIP() << "the built data has no string tables: " << data;
        DictManagerTest::SetUp();
        SetConfiguredSysDir(Wide(data).c_str());
    }

    std::string data;
    t_adjCache adj;
    t_pyTip tip;
    t_abbrSysDict abbr;
    t_quickSysDict quick;
    t_engSysDict eng;
    t_preEngDict pre;
    t_urlSysDict url;
    t_urlGuideDict guide;
    t_supportCharDict support;
    t_numFreqAdjustDict numbers;
    t_infoKey infoKey;
    t_infoBlack infoBlack;
    t_smartInfoCore smart;
    t_punctureDict punct;
    t_engUsrDict engUser;
    t_urlUsrDict urlUser;
};

}  // namespace

TEST_F(BuiltSystemDataTest, EveryEntryAttaches) {
    const t_row rows[] = {
        {L"AdjCache", L"qzim_adjcache.bin", kStorageFileMap, kDirSystem, &adj},
        {L"PyTipDict", L"qzim_tip.bin", kStorageMemCopy, kDirSystem, &tip},
        {L"AbbrSysDict", L"qzim_phrases.bin", kStorageFileMap, kDirSystem, &abbr},
        {L"QuickSysDict", L"qzim_quick.bin", kStorageFileMap, kDirSystem, &quick},
        {L"EngSysDict", L"qzim_eng.bin", kStorageFileMap, kDirSystem, &eng},
        {L"engpredict", L"qzim_eng_pre.bin", kStorageFileMap, kDirSystem, &pre},
        {L"UrlSysDict", L"qzim_url.bin", kStorageFileMap, kDirSystem, &url},
        {L"UrlGuideDict", L"qzim_urlGuide.bin", kStorageMemCopy, kDirSystem, &guide},
        {L"SupportCharDict", L"qzim_charvalid.bin", kStorageSource, kDirSystem, &support},
        {L"NumFreqAdjustDict", L"qzim_numFreqAdjust.bin", kStorageMemCopy, kDirUserSeeded,
         &numbers},
        {L"infokeyict", L"qzim_infokey.bin", kStorageMemCopy, kDirUserSeeded, &infoKey},
        {L"infoblackict", L"qzim_blackIfk.bin", kStorageMemCopy, kDirUserSeeded, &infoBlack},
        {L"smartinfo", L"qzim_smartInfo.bin", kStorageMemCopy, kDirSmartInfo, &smart},
        {L"PunctureDict", L"punctures.ini", kStorageSource, kDirUserOrSystem, &punct},
        {L"EngUsrDict", L"qzim_eng_usr.bin", kStorageMemCopy, kDirUser, &engUser},
        {L"UrlUsrDict", L"qzim_url_usr.bin", kStorageMemCopy, kDirUser, &urlUser},
    };
    for (const t_row& r : rows)
        ASSERT_TRUE(manager->Register(r.name, r.dict, 0, r.storage, r.dir, r.file, 0, 2));
    for (const t_row& r : rows) {
        manager->LoadDict(r.name);
        EXPECT_TRUE(r.dict->IsReady()) << std::string(r.file, r.file + wcslen(r.file));
    }
    const wchar_t* comma = punct.GetPunctuation(',', true, false);
    ASSERT_NE(nullptr, comma);
    EXPECT_EQ(std::wstring(L"\uFF0C"), comma);
    // The seeds were copied into the user and kind-4 directories.
    EXPECT_TRUE(std::filesystem::exists(user + "/qzim_numFreqAdjust.bin"));
    EXPECT_TRUE(std::filesystem::exists(dict4 + "/qzim_smartInfo.bin"));
}

TEST_F(BuiltSystemDataTest, RealListsAnswer) {
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
