// The key map as the dictionary manager holds it: a missing user file is
// built from the configured input settings, written back by rename, and what
// the user taught it survives the next save and a fresh attach.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <memory>
#include <string>
#include <vector>

#include "kernel/lexicon/key_py_map.h"
#include "kernel/lexicon/syllable_table.h"
#include "kernel/runtime/configuration.h"
#include "kernel/runtime/dict_manager.h"
#include "kernel/runtime/dir_settings.h"
#include "kernel/runtime/scope_heap.h"
#include "kernel/runtime/singleton.h"
#include "kernel/runtime/version_manager.h"
#include "tests/support/dict_env.h"
#include "tests/support/test_dir.h"

namespace {

using testsupport::Widen;

constexpr const wchar_t* kName = L"KeyPyMap";
constexpr const wchar_t* kFile = L"qzim_keymap.bin";

uint16_t Id(const wchar_t* syllable) {
    return uint16_t(SyllableTableFind(syllable));
}

// The flags of key's mapping of syllable in the normal listing; -1 when the
// key is absent or does not reach the syllable.
int FlagsOf(const t_keyPyMap& map, const wchar_t* key, const wchar_t* syllable) {
    const int32_t index = map.FindKey(key, nullptr);
    if (index < 0) return -1;
    uint16_t ids[t_keyPyMap::kMaxListed], flags[t_keyPyMap::kMaxListed];
    const int n = map.GetPinyinIds(index, ids, nullptr, flags, t_keyPyMap::kMaxListed);
    for (int i = 0; i < n; ++i)
        if (ids[i] == Id(syllable)) return flags[i];
    return -1;
}

// The stored count of key's mapping of syllable; -1 when there is none.
int32_t CountOf(const t_keyPyMap& map, const wchar_t* key, const wchar_t* syllable) {
    t_scopeHeap arena;
    t_keyMapItem* items = nullptr;
    int n = 0;
    if (!map.GetAllItems(arena, &items, &n, nullptr)) return -1;
    for (int i = 0; i < n; ++i)
        if (std::wstring(items[i].key) == key && items[i].id == Id(syllable)) return items[i].count;
    return -1;
}

class KeyPyMapSaveTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_FALSE(root_.Path().empty());
        ASSERT_EQ(0, mkdir(root_.At("home").c_str(), 0700));
        ASSERT_NO_FATAL_FAILURE(
            env_.Open(root_.At("home"), root_.At("user"), root_.At("sys"), root_.At("dict4")));
        ASSERT_TRUE(Store().Init());
        // Full pinyin with the single-letter zh/ch/sh, nothing of shuangpin.
        Store().SetByte(n_config::QuanPin, 1);
        Store().SetByte(n_config::ShuangPin, 0);
        Store().SetByte(n_config::ZCSForZhChSh, 1);
        Store().SetByte(n_config::Correction, 1);
        // One mistyping in the system directory the kernel was given.
        ASSERT_TRUE(root_.Put("sys/Correction.ini", "\xEF\xBB\xBF[Correction]\nng=gn\n"));
        StartManager();
    }
    void TearDown() override {
        manager_.reset();
        Store().Init();  // back to the defaults for whoever runs next
        env_.Close();
    }
    static t_configuration& Store() { return t_singleton<t_configurationImpl>::Get(); }

    // A fresh manager with the map registered as kernel set-up does.
    void StartManager() {
        manager_.reset();
        manager_ = std::make_unique<t_dictManager>();
        ASSERT_TRUE(manager_->Init());
        ASSERT_TRUE(
            manager_->Register(kName, &map_, kLoadPhase1, kStorageMemCopy, kDirUser, kFile, 0, 2));
    }
    std::string MapPath() const { return root_.At("user/qzim_keymap.bin"); }
    ino_t InodeOf(const std::string& path) const {
        struct stat st;
        return stat(path.c_str(), &st) == 0 ? st.st_ino : 0;
    }

    testsupport::t_testDir root_{"vetra-keymap-save"};
    testsupport::t_dictManagerEnv env_;
    t_keyPyMap map_;
    std::unique_ptr<t_dictManager>& manager_ = env_.manager;  // restarted by StartManager
};

TEST_F(KeyPyMapSaveTest, MissingMapIsBuiltFromTheSettingsAndSavedByRename) {
    ASSERT_TRUE(manager_->LoadDict(kName));
    ASSERT_TRUE(map_.IsReady());
    EXPECT_EQ(FlagsOf(map_, L"zhang", L"zhang"), 0);
    EXPECT_EQ(FlagsOf(map_, L"zh", L"zhang"), kKeyFlagAbbrev);
    EXPECT_EQ(FlagsOf(map_, L"xio", L"xiong"), kKeyFlagPartial);
    EXPECT_EQ(FlagsOf(map_, L"z", L"zhang"), kKeyFlagAbbrev);
    EXPECT_EQ(FlagsOf(map_, L"lign", L"ling"), kKeyFlagCorrection);
    uint16_t ids[8];
    EXPECT_EQ(map_.GetPinyinIds(map_.FindKey(L"lign", nullptr), ids, nullptr, nullptr, 8), 1);
    EXPECT_EQ(map_.GetExtraFlagA(), 1);  // z for zh without fuzzy rules
    EXPECT_EQ(map_.GetCounter(Id(L"zhang")), t_keyPyMap::kCounterStart);
    bool longer = false;
    EXPECT_GE(map_.FindKey(L"zh", &longer), 0);
    EXPECT_TRUE(longer);

    ASSERT_TRUE(manager_->SaveDict(kName));
    EXPECT_EQ(testsupport::ListNames(root_.At("user")),
              std::vector<std::string>{"qzim_keymap.bin"});
    std::string bytes = testsupport::ReadFileBytes(MapPath());
    ASSERT_FALSE(bytes.empty());
    t_keyPyMap copy;
    ASSERT_TRUE(copy.Attach(bytes.data(), int64_t(bytes.size())));
    EXPECT_EQ(FlagsOf(copy, L"zhang", L"zhang"), 0);
    EXPECT_EQ(FlagsOf(copy, L"zh", L"zhang"), kKeyFlagAbbrev);

    // The next save replaces the file by rename: a second name for the old
    // file still holds the old map, untouched.
    ASSERT_EQ(0, link(MapPath().c_str(), root_.At("old.bin").c_str()));
    const ino_t before = InodeOf(MapPath());
    ASSERT_TRUE(map_.AddUsage(L"zhang", Id(L"zhang"), 1));
    ASSERT_TRUE(manager_->SaveDict(kName));
    EXPECT_NE(InodeOf(MapPath()), before);
    EXPECT_TRUE(testsupport::ReadFileBytes(root_.At("old.bin")) == bytes)
        << "the old file was written over";
    EXPECT_FALSE(testsupport::ReadFileBytes(MapPath()) == bytes) << "the learned use was not saved";
    EXPECT_EQ(testsupport::ListNames(root_.At("user")),
              std::vector<std::string>{"qzim_keymap.bin"});
}

TEST_F(KeyPyMapSaveTest, SwitchedOffSettingsAreNotBuilt) {
    Store().SetByte(n_config::ZCSForZhChSh, 0);
    Store().SetByte(n_config::Correction, 0);
    ASSERT_TRUE(manager_->LoadDict(kName));
    EXPECT_EQ(FlagsOf(map_, L"zh", L"zhang"), kKeyFlagAbbrev);
    EXPECT_EQ(FlagsOf(map_, L"z", L"zhang"), -1);
    EXPECT_EQ(map_.FindKey(L"lign", nullptr), -1);
    EXPECT_EQ(map_.GetExtraFlagA(), 0);
}

TEST_F(KeyPyMapSaveTest, LearnedCountsSurviveTheNextSaveAndAFreshAttach) {
    ASSERT_TRUE(manager_->LoadDict(kName));
    ASSERT_TRUE(manager_->SaveDict(kName));
    ASSERT_TRUE(map_.AddUsage(L"zh", Id(L"zhang"), 5));
    ASSERT_TRUE(map_.IncreaseUsage(map_.FindKey(L"zhang", nullptr), Id(L"zhang")));
    ASSERT_TRUE(manager_->SaveDict(kName));

    // A new process's view: the map comes from the file, not a fresh build.
    t_keyPyMap again;
    manager_.reset();
    manager_ = std::make_unique<t_dictManager>();
    ASSERT_TRUE(manager_->Init());
    ASSERT_TRUE(
        manager_->Register(kName, &again, kLoadPhase1, kStorageMemCopy, kDirUser, kFile, 0, 2));
    ASSERT_TRUE(manager_->LoadDict(kName));
    EXPECT_EQ(CountOf(again, L"zh", L"zhang"), 5);
    EXPECT_EQ(CountOf(again, L"zhang", L"zhang"), 1);
    EXPECT_EQ(again.GetCounter(Id(L"zhang")), t_keyPyMap::kCounterStart + 6);
    EXPECT_EQ(FlagsOf(again, L"xio", L"xiong"), kKeyFlagPartial);
    manager_.reset();
}

}  // namespace
