// Every registry entry whose dictionary lives in the lexicon, registered in
// kernel set-up order with its own storage and directory kinds and attached
// by one manager from the built system data. Skipped without the data build.
#include <gtest/gtest.h>

#include <cwchar>
#include <filesystem>
#include <string>

#include "kernel/lexicon/cell_dict.h"
#include "kernel/lexicon/hz_dict.h"
#include "kernel/lexicon/privilege_dict.h"
#include "kernel/lexicon/punct_dict.h"
#include "kernel/lexicon/py_dict.h"
#include "kernel/lexicon/small_dicts.h"
#include "kernel/lexicon/spell_model.h"
#include "kernel/lexicon/string_dict.h"
#include "kernel/lexicon/string_dict_user.h"
#include "kernel/lexicon/stroke_annex.h"
#include "kernel/lexicon/sys_dict.h"
#include "kernel/lexicon/trad_dict.h"
#include "kernel/runtime/dir_settings.h"
#include "tests/kernel/lexicon/built_data_support.h"
#include "tests/kernel/lexicon/small_dicts_support.h"

namespace {

class RegistryBuiltDataTest : public DictManagerTest {
protected:
    void SetUp() override {
        data = BuiltSystemDir();
        if (data.empty() || !std::filesystem::exists(data + "/qzim_core.bin"))
            GTEST_SKIP() << "no built system data (configure with -DVETRA_BUILD_DATA=ON)";
        DictManagerTest::SetUp();
        SetConfiguredSysDir(dicttest::Wide(data).c_str());
    }
    std::string data;
};

struct t_entry {
    int row;
    const wchar_t* name;
    const wchar_t* file;
    uint32_t storage;
    uint32_t dir;
    t_dictStorageBase* dict;
    bool userFileOnly = false;  // ready only once the user has such a file
};

}  // namespace

// Rows 20-22, 24-27 belong to the user dictionaries and are attached by their
// own tests; every other row is here, the system files and seeds among them.
// The cell and privilege dictionaries hold only what the user installs: with
// no such file they stay empty (not ready) and every other entry attaches.
TEST_F(RegistryBuiltDataTest, EveryLexiconEntryAttachesInSetUpOrder) {
    t_pyDict py;
    t_hzDict hz;
    t_sysDict core;
    t_adjCache adj;
    t_sysBhBsh annex;
    t_pyTip tip;
    t_abbrSysDict abbr;
    t_traDict trad;
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
    t_extDict ext;
    t_userSpellModelDict spell;
    t_privilegeDictCore privilege;
    t_engUsrDict engUser;
    t_urlUsrDict urlUser;
    const t_entry rows[] = {
        {1, L"pydict", L"qzim_py.bin", kStorageFileMap, kDirSystem, &py},
        {2, L"hzdict", L"qzim_hz.bin", kStorageFileMap, kDirSystem, &hz},
        {3, L"SysDict", L"qzim_core.bin", kStorageFileMap, kDirSystem, &core},
        {4, L"AdjCache", L"qzim_adjcache.bin", kStorageFileMap, kDirSystem, &adj},
        {5, L"BhbshDict", L"qzim_annex.bin", kStorageFileMap, kDirSystem, &annex},
        {6, L"PyTipDict", L"qzim_tip.bin", kStorageMemCopy, kDirSystem, &tip},
        {7, L"AbbrSysDict", L"qzim_phrases.bin", kStorageFileMap, kDirSystem, &abbr},
        {8, L"TraditionDict", L"qzim_tra.bin", kStorageFileMap, kDirSystem, &trad},
        {9, L"QuickSysDict", L"qzim_quick.bin", kStorageFileMap, kDirSystem, &quick},
        {10, L"EngSysDict", L"qzim_eng.bin", kStorageFileMap, kDirSystem, &eng},
        {11, L"engpredict", L"qzim_eng_pre.bin", kStorageFileMap, kDirSystem, &pre},
        {12, L"UrlSysDict", L"qzim_url.bin", kStorageFileMap, kDirSystem, &url},
        {13, L"UrlGuideDict", L"qzim_urlGuide.bin", kStorageMemCopy, kDirSystem, &guide},
        {14, L"SupportCharDict", L"qzim_charvalid.bin", kStorageSource, kDirSystem, &support},
        {15, L"NumFreqAdjustDict", L"qzim_numFreqAdjust.bin", kStorageMemCopy, kDirUserSeeded,
         &numbers},
        {16, L"infokeyict", L"qzim_infokey.bin", kStorageMemCopy, kDirUserSeeded, &infoKey},
        {17, L"infoblackict", L"qzim_blackIfk.bin", kStorageMemCopy, kDirUserSeeded, &infoBlack},
        {18, L"smartinfo", L"qzim_smartInfo.bin", kStorageMemCopy, kDirSmartInfo, &smart},
        {19, L"PunctureDict", L"punctures.ini", kStorageSource, kDirUserOrSystem, &punct},
        {23, L"ExtDict", L"qzim_ext.bin", kStorageMemCopy, kDirUser, &ext, true},
        {28, L"UserSpellModelDict", L"qzim_uspm.bin", kStorageMemCopy, kDirUser, &spell},
        {29, L"PrivilegeDict", L"qzim_privilege.bin", kStorageMemCopy, kDirUser, &privilege, true},
        {30, L"EngUsrDict", L"qzim_eng_usr.bin", kStorageMemCopy, kDirUser, &engUser},
        {31, L"UrlUsrDict", L"qzim_url_usr.bin", kStorageMemCopy, kDirUser, &urlUser},
    };
    for (const t_entry& r : rows)
        ASSERT_TRUE(manager->Register(r.name, r.dict, kLoadPhase1, r.storage, r.dir, r.file, 0, 2))
            << r.row;
    ASSERT_TRUE(manager->LoadPhase1(1));
    for (const t_entry& r : rows) {
        EXPECT_EQ(r.dict->IsReady(), !r.userFileOnly)
            << "row " << r.row << " " << std::string(r.file, r.file + std::wcslen(r.file));
    }
    // The system files are read in place; only the seeds reach the user side.
    for (const t_entry& r : rows) {
        const std::string file(r.file, r.file + std::wcslen(r.file));
        if (r.dir == kDirSystem) {
            EXPECT_FALSE(std::filesystem::exists(user + "/" + file)) << file;
        }
        if (r.dir == kDirUserSeeded) {
            EXPECT_TRUE(std::filesystem::exists(user + "/" + file)) << file;
        }
    }
    EXPECT_TRUE(std::filesystem::exists(dict4 + "/qzim_smartInfo.bin"));
    // The word dictionary's statistics came with it.
    EXPECT_NE(core.GetGram(), nullptr);
    EXPECT_EQ(py.GetSyllableCount(), 413);
    const wchar_t* comma = punct.GetPunctuation(',', true, false);
    ASSERT_NE(nullptr, comma);
    EXPECT_EQ(std::wstring(L"\uFF0C"), comma);
}
