// Every user store that processes share keeps what another process saved
// and what this one has not saved yet: the other's save shows at the next
// update check without dropping this process's change, and this process's
// save then writes both (counts added where the store counts uses).
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cwchar>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "kernel/lexicon/key_py_map.h"
#include "kernel/lexicon/string_dict_user.h"
#include "kernel/runtime/dict_manager.h"
#include "kernel/runtime/dir_settings.h"
#include "kernel/runtime/scope_heap.h"
#include "kernel/runtime/singleton.h"
#include "kernel/runtime/version_manager.h"
#include "kernel/userdict/deleted_words.h"
#include "kernel/userdict/fixed_words.h"
#include "kernel/userdict/phrase_dict.h"
#include "tests/kernel/userdict/usr_support.h"
#include "tests/support/dict_env.h"
#include "tests/support/test_dir.h"

namespace {

t_versionManager& Versions() {
    return t_singleton<t_versionManager>::Get();
}

// Item k of every store: a short letter key and a one-character text.
TestLstr Key(int k) {
    return TestLstr({uint16_t('a' + k), uint16_t('x')});
}
TestLstr Word(int k) {
    return TestLstr({uint16_t(0x4E00 + k)});
}
std::wstring WideKey(int k) {
    return {wchar_t('a' + k), L'x'};
}
constexpr uint16_t kSyllable = 7;

// One store: how to make it, seed its file, change item k, count item k
// (0 when absent) and save it the way its owner does.
struct t_store {
    const char* name;
    const wchar_t* file;
    bool countsUses;  // a second use of an item adds to its count
    std::function<t_dictStorageBase*()> make;
    std::function<bool(const std::string& path)> seed;  // null: no file to start from
    std::function<bool(t_dictStorageBase&, int k)> change;
    std::function<int(t_dictStorageBase&, int k)> count;
    bool savesItself = false;  // written through the manager's SaveEntryWith
};

template <class T>
T& As(t_dictStorageBase& d) {
    return static_cast<T&>(d);
}

// A key map file holding the mapping of every test key to one syllable.
bool SeedKeyMap(const std::string& path) {
    std::vector<uint8_t> image;
    t_keyPyMap map;
    if (!t_keyPyMap::BuildEmptyImage(image) || !map.Attach(image.data(), int64_t(image.size())))
        return false;
    for (int k = 0; k < 3; ++k)
        if (map.AddEntry(WideKey(k).c_str(), kSyllable, 0, 0, 0) == 0) return false;
    return map.SaveFile(std::wstring(path.begin(), path.end()).c_str());
}

const std::vector<t_store>& Stores() {
    static const std::vector<t_store> stores = {
        {"deleted words", kDelWordDictFile, false, [] { return new t_delWordDict; }, nullptr,
         [](t_dictStorageBase& d, int k) {
             return As<t_delWordDict>(d).AddWord(Word(k).get(), 100 + k) == 1;
         },
         [](t_dictStorageBase& d, int k) { return As<t_delWordDict>(d).IsDeleted(Word(k).get()); }},
        {"fixed-first words", kFixFirstDictFile, false, [] { return new t_fixFirstDict; }, nullptr,
         [](t_dictStorageBase& d, int k) {
             return As<t_fixFirstDict>(d).SetFixedWord(Key(k).get(), Word(k).get(), Word(k).get(),
                                                       Word(k).get()) == 1;
         },
         [](t_dictStorageBase& d, int k) {
             t_scopeHeap arena;
             t_fixedWord w{};
             return As<t_fixFirstDict>(d).GetFixedWord(arena, Key(k).get(), &w) == 1 &&
                    LstrCompare(w.word, Word(k).get()) == 0;
         }},
        {"English words", L"qzim_eng_usr.bin", true, [] { return new t_engUsrDict; }, nullptr,
         [](t_dictStorageBase& d, int k) {
             return As<t_engUsrDict>(d).AddWord(Key(k).get(), 1000) == 1;
         },
         [](t_dictStorageBase& d, int k) {
             uint32_t n = 0;
             return As<t_engUsrDict>(d).GetWordFreq(Key(k).get(), &n) ? int(n) : 0;
         }},
        {"key map counts", L"qzim_keymap.bin", true, [] { return new t_keyPyMap; }, &SeedKeyMap,
         [](t_dictStorageBase& d, int k) {
             return As<t_keyPyMap>(d).AddUsage(WideKey(k).c_str(), kSyllable, 1);
         },
         [](t_dictStorageBase& d, int k) {
             t_scopeHeap arena;
             t_keyMapItem* items = nullptr;
             int n = 0;
             if (!As<t_keyPyMap>(d).GetAllItems(arena, &items, &n, nullptr)) return -1;
             for (int i = 0; i < n; ++i)
                 if (items[i].key == WideKey(k)) return int(items[i].count);
             return -1;
         }},
        {"custom phrases", L"qzim_phrases.bin", false, [] { return new t_abbrUsrDict; }, nullptr,
         [](t_dictStorageBase& d, int k) {
             return As<t_abbrUsrDict>(d).AddItem(Key(k).get(), Word(k).get(), 1, kPhraseAdded) != 0;
         },
         [](t_dictStorageBase& d, int k) {
             t_scopeHeap arena;
             t_phraseHit** hits = nullptr;
             int n = 0;
             return As<t_abbrUsrDict>(d).Lookup(arena, Key(k).get(), &hits, &n) == 1 ? n : 0;
         },
         true},
    };
    return stores;
}

// The custom phrases save themselves, as the phrase import does.
bool Save(t_dictManager& manager, const t_store& s, t_dictStorageBase& d) {
    if (!s.savesItself) return manager.SaveDict(L"Store");
    const std::wstring path = std::wstring(GetConfiguredUserDir()) + L"/" + s.file;
    return manager.SaveEntryWith(
        d.GetEntry(), [&] { return As<t_abbrUsrDict>(d).SaveToFile(path.c_str()) == 1; });
}

bool Attach(t_dictManager& manager, const t_store& s, t_dictStorageBase& d) {
    return manager.Register(L"Store", &d, kLoadPhase1, kStorageMemCopy, kDirUser, s.file, 0,
                            kVersionMaskDict) &&
           manager.LoadDict(L"Store");
}

class SharedStoresTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(0, mkdir(root_.At("home").c_str(), 0700));
        ASSERT_NO_FATAL_FAILURE(
            env_.Open(root_.At("home"), root_.At("user"), root_.At("sys"), root_.At("d4")));
    }
    void TearDown() override { env_.Close(); }

    testsupport::t_testDir root_{"vetra-shared-stores"};
    testsupport::t_dictManagerEnv env_;
};

TEST_F(SharedStoresTest, AnotherProcessesSaveAndTheUnsavedChangeBothSurvive) {
    for (const t_store& s : Stores()) {
        SCOPED_TRACE(s.name);
        const std::string path = root_.At("user/") + std::string(s.file, s.file + wcslen(s.file));
        if (s.seed) {
            ASSERT_TRUE(s.seed(path));
        }
        env_.manager = std::make_unique<t_dictManager>();
        ASSERT_TRUE(env_.manager->Init());
        std::unique_ptr<t_dictStorageBase> live(s.make());
        ASSERT_TRUE(Attach(*env_.manager, s, *live));
        ASSERT_TRUE(s.change(*live, 0));  // this process's change, not saved
        ASSERT_TRUE(s.change(*live, 1));
        ASSERT_TRUE(Save(*env_.manager, s, *live));
        ASSERT_TRUE(s.change(*live, 0));

        const pid_t pid = fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {  // the other process: its own manager and store
            t_dictManager manager;
            std::unique_ptr<t_dictStorageBase> other(s.make());
            const bool ok = manager.Init() && Attach(manager, s, *other) && s.change(*other, 1) &&
                            s.change(*other, 2) && Save(manager, s, *other);
            _exit(ok ? 0 : 1);
        }
        int status = 0;
        waitpid(pid, &status, 0);
        ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);

        const int used = s.countsUses ? 2 : 1;
        EXPECT_TRUE(Versions().CheckUpdateAll());
        EXPECT_EQ(used, s.count(*live, 0)) << "the unsaved change was dropped";
        EXPECT_EQ(used, s.count(*live, 1)) << "the other's save is not shown";
        EXPECT_EQ(1, s.count(*live, 2));
        ASSERT_TRUE(Save(*env_.manager, s, *live));
        // Read back from the file alone.
        ASSERT_TRUE(live->IncreaseVersion());
        EXPECT_TRUE(Versions().CheckUpdateAll());
        for (int k = 0; k < 3; ++k) EXPECT_EQ(k < 2 ? used : 1, s.count(*live, k)) << k;
        live->Load(nullptr, 0);  // the block goes with the manager
        env_.manager.reset();
    }
}

}  // namespace
