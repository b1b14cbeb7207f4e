// Kernel start-up over the registration table: every entry's state on the
// built system data, a missing system file, failing user directories,
// user-directory changes, the key map's build and shut-down. One test thread.
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <clocale>
#include <cwchar>
#include <filesystem>
#include <set>
#include <vector>

#include "kernel/api/kernel_dict_extras.h"
#include "kernel/api/kernel_learn.h"
#include "kernel/api/kernel_options.h"
#include "kernel/api/kernel_registry.h"
#include "kernel/api/kernel_singletons.h"
#include "kernel/api/kernel_startup.h"
#include "kernel/convert/post_process.h"
#include "kernel/lexicon/syllable_table.h"
#include "kernel/runtime/dir_settings.h"
#include "kernel/runtime/fd_file.h"
#include "kernel/runtime/kernel_lock.h"
#include "kernel/runtime/scope_heap.h"
#include "kernel/runtime/singleton.h"
#include "kernel/userdict/deleted_words.h"
#include "kernel/userdict/phrase_dict.h"
#include "kernel/userdict/usr_dict_v3.h"
#include "tests/kernel/api/api_support.h"

namespace fs = std::filesystem;

namespace {

std::string Narrow(const wchar_t* w) {
    return w ? std::string(w, w + wcslen(w)) : std::string();
}
std::wstring W(const std::string& s) {
    return testsupport::Widen(s);
}

// The registrations as designed, with whether each dictionary is ready after
// a start on the built system data in a fresh user directory.
struct t_expectedRow {
    const char* name;
    const char* file;
    uint32_t deferredPolicy;  // the load policy when start-up defers loading
    uint32_t storage, dir, backupFlags, mask;
    bool readyOnBuiltData;
};
const t_expectedRow kExpected[kKernelDictCount] = {
    {"pydict", "qzim_py.bin", 1, 0, 1, 0, 2, true},
    {"hzdict", "qzim_hz.bin", 1, 0, 1, 0, 2, true},
    {"SysDict", "qzim_core.bin", 1, 0, 1, 0, 2, true},
    {"AdjCache", "qzim_adjcache.bin", 2, 0, 1, 0, 2, true},
    {"BhbshDict", "qzim_annex.bin", 1, 0, 1, 0, 2, true},
    {"PyTipDict", "qzim_tip.bin", 2, 1, 1, 0, 2, true},
    {"AbbrSysDict", "qzim_phrases.bin", 2, 0, 1, 0, 2, true},
    {"TraditionDict", "qzim_tra.bin", 2, 0, 1, 0, 2, true},
    {"QuickSysDict", "qzim_quick.bin", 2, 0, 1, 0, 2, true},
    {"EngSysDict", "qzim_eng.bin", 1, 0, 1, 0, 2, true},
    {"engpredict", "qzim_eng_pre.bin", 2, 0, 1, 0, 2, true},
    {"UrlSysDict", "qzim_url.bin", 2, 0, 1, 0, 2, true},
    {"UrlGuideDict", "qzim_urlGuide.bin", 2, 1, 1, 0, 2, true},
    {"SupportCharDict", "qzim_charvalid.bin", 0, 5, 1, 0, 2, true},
    {"NumFreqAdjustDict", "qzim_numFreqAdjust.bin", 2, 1, 3, 0, 2, true},
    {"infokeyict", "qzim_infokey.bin", 2, 1, 3, 0, 2, true},
    {"infoblackict", "qzim_blackIfk.bin", 2, 1, 3, 0, 2, true},
    {"smartinfo", "qzim_smartInfo.bin", 2, 1, 4, 0, 2, true},
    {"PunctureDict", "punctures.ini", 0, 5, 2, 0, 2, true},
    {"CloudCachecDict", nullptr, 2, 3, 0, 0, 2, true},
    {"CloudCachecDictLongWord", nullptr, 2, 3, 0, 0, 2, true},
    {"UsrDict", "qzim_usr_v3new.bin", 1, 4, 3, 0x102, 10, true},
    {"ExtDict", "qzim_ext.bin", 2, 1, 0, 0, 2, false},  // cell dictionaries: none installed
    {"UsrExtDict", "qzim_usr_v3_ext.bin", 2, 1, 0, 0, 2, false},  // nothing imported
    {"FixFirstDict", "qzim_fix_first.bin", 2, 1, 3, 0, 2, true},
    {"DelWordDict", "qzim_del_word.bin", 1, 1, 0, 0, 2, true},
    {"AbbrUsrDict", "qzim_phrases.bin", 2, 1, 0, 0, 2, true},
    {"UserSpellModelDict", "qzim_uspm.bin", 2, 1, 0, 0, 2, true},
    {"PrivilegeDict", "qzim_privilege.bin", 2, 1, 0, 0, 2, false},  // none installed
    {"EngUsrDict", "qzim_eng_usr.bin", 2, 1, 0, 0, 2, true},
    {"UrlUsrDict", "qzim_url_usr.bin", 2, 1, 0, 0, 2, true},
};

t_delWordDict& Deleted() {
    return t_singleton<t_delWordDict>::Get();
}

class KernelBuiltDataTest : public KernelTest {
public:
    void SetUp() override {
        if (BuiltDataDir().empty()) GTEST_SKIP() << "no built system data (VETRA_SYSTEM_DATA_DIR)";
        KernelTest::SetUp();
    }
};

// Objects first used before and after start-up, telling at their end which
// kernel objects were still alive.
struct t_aliveAtEnd {
    bool manager = false, usrDict = false, set = false;
};
t_aliveAtEnd g_early, g_late;
void Record(t_aliveAtEnd& seen) {
    seen = {t_singleton<t_dictManager>::Exists(), t_singleton<t_usrDictV3Core>::Exists(), true};
}
struct t_earlyProbe {
    ~t_earlyProbe() { Record(g_early); }
};
struct t_lateProbe {
    ~t_lateProbe() { Record(g_late); }
};

}  // namespace

TEST_F(KernelTest, RegistrationTableHoldsEachDictionaryOnceAsDesigned) {
    std::set<const t_dictStorageBase*> objects;
    for (int i = 0; i < kKernelDictCount; ++i) {
        const t_kernelDictRow& row = kKernelDicts[i];
        const t_expectedRow& e = kExpected[i];
        SCOPED_TRACE(e.name);
        EXPECT_EQ(e.name, Narrow(row.name));
        EXPECT_EQ(e.file ? e.file : "", Narrow(row.file));
        EXPECT_EQ(0u, KernelDictLoadPolicy(row, 0));
        EXPECT_EQ(e.deferredPolicy, KernelDictLoadPolicy(row, 1));
        EXPECT_EQ(e.storage, row.storage);
        EXPECT_EQ(e.dir, row.dir);
        EXPECT_EQ(e.backupFlags, row.backupFlags);
        EXPECT_EQ(e.mask, row.mask);
        objects.insert(&row.dict());
    }
    EXPECT_EQ(size_t(kKernelDictCount), objects.size());
}

TEST_F(KernelBuiltDataTest, EveryEntryIsReadyAsTheTableSaysAndASecondStartChangesNothing) {
    ASSERT_TRUE(LinkBuiltData());
    const std::string locale = setlocale(LC_CTYPE, nullptr);
    Start();
    EXPECT_EQ(1, started);
    EXPECT_EQ(locale, setlocale(LC_CTYPE, nullptr));
    for (int i = 0; i < kKernelDictCount; ++i)
        EXPECT_EQ(kExpected[i].readyOnBuiltData, kKernelDicts[i].dict().IsReady())
            << kExpected[i].name;
    EXPECT_EQ(1, RegisterKeyPyMap(0));
    EXPECT_EQ("", Report());

    EXPECT_EQ(1, InitDictionaries(L"other", L"/nonexistent/u", L"/nonexistent/s", L"/nonexistent/d",
                                  L"t", nullptr, 1, 1, nullptr));
    EXPECT_EQ(W(user), GetConfiguredUserDir());
    EXPECT_EQ(W(sys), GetConfiguredSysDir());
    EXPECT_EQ(kLoadPhase1, GetDictManager().FindEntry(L"pydict")->loadPolicy);
    EXPECT_TRUE(GetSysDict().IsReady());
}

int NoSpace(int, off_t, off_t) {
    return ENOSPC;
}

// A missing system file leaves only its own dictionary not ready; a core
// file (syllables, characters, words) missing, cut or damaged fails the
// start, named in one line: nothing could be converted (a damaged one used
// to let the kernel start and offer the letters typed). A sound core file
// whose lock file cannot be made (a full disk) fails it too, told by the
// lock's cause: it used to be called missing or damaged.
TEST_F(KernelBuiltDataTest, AMissingOrDamagedSystemFileLeavesItsDictionaryNotReady) {
    const struct {
        const char* file;
        const char* name;
        const char* how;  // "missing", "cut", "damaged" or "lock" (its lock file cannot be made)
        const char* told;
    } cases[] = {{"qzim_tra.bin", "TraditionDict", "missing", "TraditionDict: not ready: "},
                 {"punctures.ini", "PunctureDict", "missing", "PunctureDict: not ready: "},
                 {"qzim_py.bin", "pydict", "missing", nullptr},
                 {"qzim_py.bin", "pydict", "cut", nullptr},
                 {"qzim_core.bin", "SysDict", "cut", nullptr},
                 {"qzim_core.bin", "SysDict", "damaged", nullptr},
                 {"qzim_hz.bin", "hzdict", "damaged", nullptr},
                 {"qzim_core.bin", "SysDict", "lock",
                  "lock of a system data file could not be made, no conversion without it: "}};
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.file) + " " + c.how);
        fs::remove_all(sys);
        fs::create_directory(sys);
        const bool lock = std::string(c.how) == "lock";
        ASSERT_TRUE(LinkBuiltData(lock ? std::set<std::string>() : std::set<std::string>{c.file}));
        std::string cause;
        if (lock) {
            // Every other lock file is there already: only this one is built.
            Start();
            Stop();
            const std::string at = home + "/.vetrainput/qzim_core_bin_FileLocker";
            ASSERT_EQ(0, unlink(at.c_str()));
            SetReserveFunction(&NoSpace);
            cause = ": " + at + ": " + strerror(ENOSPC);
        } else if (std::string(c.how) != "missing") {
            std::string bytes = testsupport::ReadFileBytes(BuiltDataDir() + "/" + c.file);
            if (std::string(c.how) == "cut")
                bytes.resize(bytes.size() / 2);
            else
                bytes.replace(0, 16, 16, '\0');
            testsupport::WriteFileBytes(sys + "/" + c.file, bytes);
        }
        Start();
        SetReserveFunction(nullptr);
        for (int i = 0; i < kKernelDictCount; ++i) {
            const bool expected =
                kExpected[i].readyOnBuiltData && std::string(c.name) != kExpected[i].name;
            EXPECT_EQ(expected, kKernelDicts[i].dict().IsReady()) << kExpected[i].name;
        }
        const std::string told =
            c.told ? c.told : "system data file missing or damaged, no conversion without it: ";
        EXPECT_EQ(told + sys + "/" + c.file + cause + "\n", Report());
        EXPECT_EQ(c.told && !lock ? 1 : 0, started);  // no start without a core file
        Stop();
    }
}

// The user side fails in several ways; the kernel still starts, its user
// dictionaries work in memory, what failed is reported and no user file is
// lost.
TEST_F(KernelTest, StartsAndReportsWhenTheUserSideFails) {
    const struct {
        const char* title;
        void (*prepare)(KernelTest&);
        const char* reported;  // null: nothing about the user side
        void (*check)(KernelTest&);
    } cases[] = {
        {"HOME is a regular file",
         [](KernelTest& t) {
             fs::remove(t.home);
             testsupport::WriteFileBytes(t.home, "not a directory");
         },
         "no usable user data directory", nullptr},
        {"user directory below a regular file",
         [](KernelTest& t) {
             testsupport::WriteFileBytes(t.root.At("blocker"), "");
             t.user = t.root.At("blocker/user");
         },
         "user directory unusable", nullptr},
        {"damaged user file",
         [](KernelTest& t) {
             testsupport::WriteFileBytes(t.user + "/qzim_del_word.bin", "damaged bytes");
         },
         "/qzim_del_word.bin: damaged, set aside as ",
         [](KernelTest& t) {
             const std::vector<std::string> kept = testsupport::ListNames(t.user + "/Backup");
             ASSERT_EQ(1u, kept.size());
             EXPECT_EQ("damaged bytes", testsupport::ReadFileBytes(t.user + "/Backup/" + kept[0]));
             // One line: the file, where it went and what took its place.
             EXPECT_NE(std::string::npos,
                       ("\n" + t.Report())
                           .find("\nDelWordDict: " + t.user +
                                 "/qzim_del_word.bin: damaged, set aside as " + t.user +
                                 "/Backup/" + kept[0] + "; started empty\n"))
                 << t.Report();
         }},
        {"user directory missing", [](KernelTest& t) { fs::remove_all(t.user); }, nullptr,
         [](KernelTest& t) { EXPECT_TRUE(fs::is_directory(t.user)); }},
    };
    const std::string original = user;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.title);
        c.prepare(*this);
        Start();
        EXPECT_TRUE(Deleted().IsReady());
        EXPECT_TRUE(t_singleton<t_usrDictV3Core>::Get().IsReady());
        EXPECT_EQ(1, Deleted().AddWord(Word(L"测试"), 7));
        const std::string report = Report();
        if (c.reported)
            EXPECT_NE(std::string::npos, report.find(c.reported)) << report;
        else
            EXPECT_EQ(std::string::npos, report.find("user directory")) << report;
        if (c.check) c.check(*this);
        Stop();
        setenv("HOME", home.c_str(), 1);
        fs::remove_all(home);
        fs::create_directory(home);
        user = original;
        fs::remove_all(user);
        fs::create_directory(user);
    }
}

// A damaged user file is told in one line: the file, where it was set aside
// and what took its place, as the attach left it: the user dictionary's
// newest backup, a seeded file's system copy, or (the backup damaged too)
// an empty dictionary, which is not told as restored.
TEST_F(KernelBuiltDataTest, ADamagedUserFileIsToldWithWhatTookItsPlace) {
    ASSERT_TRUE(LinkBuiltData());
    Start();
    std::u16string nihao = {char16_t(SyllableTableFind(L"ni")),
                            char16_t(SyllableTableFind(L"hao"))};
    t_scopeHeap heap(t_scopeHeap::kDefaultBlockSize);
    ASSERT_EQ(1u, LearnCommittedText(L"你好", heap.MakeLstr(nihao.data(), nihao.size() * 2), 0));
    Stop();  // saved, with the first backup
    const std::vector<std::string> backups = testsupport::ListNames(user + "/Backup");
    ASSERT_EQ(1u, backups.size());
    const std::string backup = user + "/Backup/" + backups[0];
    const struct {
        const char* title;
        const char* dict;
        const char* file;
        bool spoilBackup;
        std::string instead;
    } cases[] = {
        {"user dictionary", "UsrDict", "qzim_usr_v3new.bin", false,
         "restored from its backup " + backup},
        {"seeded file", "infokeyict", "qzim_infokey.bin", false,
         "started from the system's copy " + sys + "/qzim_infokey.bin"},
        {"user dictionary and its backup", "UsrDict", "qzim_usr_v3new.bin", true, "started empty"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.title);
        const std::string file = user + "/" + c.file;
        ASSERT_TRUE(testsupport::WriteFileBytes(file, "damaged bytes"));
        if (c.spoilBackup) {
            ASSERT_TRUE(testsupport::WriteFileBytes(backup, "damaged bytes"));
        }
        const std::vector<std::string> before = testsupport::ListNames(user + "/Backup");
        Start();
        std::string aside;
        for (const std::string& name : testsupport::ListNames(user + "/Backup")) {
            if (std::find(before.begin(), before.end(), name) == before.end())
                aside = user + "/Backup/" + name;
        }
        ASSERT_NE("", aside);
        const std::string line = std::string(c.dict) + ": " + file + ": damaged, set aside as " +
                                 aside + "; " + c.instead + "\n";
        EXPECT_NE(std::string::npos, ("\n" + Report()).find("\n" + line)) << Report();
        Stop();
    }
}

// The custom-phrase store keeps a large empty room in its file for growth;
// only the pages that hold data may take memory, whether the image was
// built at a first start or read from the user's file.
TEST_F(KernelTest, TheCustomPhrasesEmptyRoomTakesNoMemory) {
    const auto residentPages = [](const t_abbrUsrDict& phrases) {
        const t_dictEntry* entry = phrases.GetEntry();
        if (!entry || !entry->block.IsValid()) return size_t(-1);
        const size_t page = size_t(sysconf(_SC_PAGESIZE));
        const auto at = reinterpret_cast<uintptr_t>(entry->block.GetData()) / page * page;
        const size_t count = (size_t(entry->block.GetDataSize()) + page) / page;
        std::vector<unsigned char> vec(count);
        if (mincore(reinterpret_cast<void*>(at), count * page, vec.data()) != 0) return size_t(-1);
        size_t n = 0;
        for (unsigned char v : vec) n += v & 1;
        return n;
    };
    for (const bool seeded : {false, true}) {
        SCOPED_TRACE(seeded ? "a file with the full room" : "no file: the image is built");
        if (seeded) {
            ASSERT_TRUE(t_abbrUsrDict::BuildImageToFile(W(user + "/qzim_phrases.bin").c_str()));
        }
        Start();
        t_abbrUsrDict& phrases = t_singleton<t_abbrUsrDict>::Get();  // a new one at each start
        ASSERT_TRUE(phrases.IsReady());
        ASSERT_GT(phrases.GetEntry()->block.GetDataSize(), 4000000);
        EXPECT_LT(residentPages(phrases), 64u);
        EXPECT_NE(0, phrases.AddItem(Word(L"dz"), Word(L"地址"), 1, kPhraseAdded));
        Stop();
    }
}

namespace {
bool g_diskFull = false;
bool FullDisk(int, const void*, size_t) {
    g_diskFull = true;
    errno = ENOSPC;
    return false;
}
}  // namespace

TEST_F(KernelTest, AFullDiskKeepsTheSavedFileAndIsReported) {
    Start();
    ASSERT_EQ(1, Deleted().AddWord(Word(L"甲"), 1));
    Stop();
    const std::string file = user + "/qzim_del_word.bin";
    const std::string saved = testsupport::ReadFileBytes(file);
    ASSERT_FALSE(saved.empty());

    SetDictWriteFunction(&FullDisk);
    Start();
    ASSERT_EQ(1, Deleted().IsDeleted(Word(L"甲")));
    ASSERT_EQ(1, Deleted().AddWord(Word(L"乙"), 1));
    EXPECT_EQ(0, ShutdownDictionaries());  // a failure, not reported as success
    EXPECT_TRUE(g_diskFull);
    EXPECT_NE(std::string::npos, Report().find("could not save")) << Report();
    EXPECT_EQ(saved, testsupport::ReadFileBytes(file));
}

TEST_F(KernelTest, ShutDownSavesWhatChangedAndEndsObjectsInReverseOrder) {
    t_singleton<t_earlyProbe>::Get();
    Start();
    t_singleton<t_lateProbe>::Get();
    ASSERT_EQ(1, Deleted().AddWord(Word(L"测试"), 1));
    EXPECT_EQ(1, ShutdownDictionaries());
    ASSERT_TRUE(g_late.set && g_early.set);
    EXPECT_TRUE(g_late.manager && g_late.usrDict);     // ended before the kernel's objects
    EXPECT_FALSE(g_early.manager || g_early.usrDict);  // ended after them
    EXPECT_EQ(0u, t_singletonManagerPtr::Get()->GetCount());
    EXPECT_FALSE(GetDictLocker().IsCreated());

    ResetKernelStartForTesting();
    Start();
    EXPECT_EQ(1, Deleted().IsDeleted(Word(L"测试")));
}

// Both dictionaries a removal empties follow the count of removals and
// restores: at their next attach neither replays, nor writes back in place
// of a damaged file, what it held from before another process's removal.
// The extension dictionary did not, and would write its imported words back.
TEST_F(KernelTest, TheDictionariesARemovalEmptiesFollowItsCount) {
    Start();
    for (const wchar_t* name : {L"UsrDict", L"UsrExtDict"}) {
        const t_dictEntry* entry = GetDictManager().FindEntry(name);
        ASSERT_NE(nullptr, entry) << Narrow(name);
        EXPECT_EQ(&GetUsrDictChangeCount(), entry->replacements) << Narrow(name);
    }
}

TEST_F(KernelTest, ChangingTheUserDirectoryReattachesTheUserDictionaries) {
    const std::string other = root.At("other");
    Start();
    ASSERT_EQ(1, Deleted().AddWord(Word(L"甲"), 1));  // not saved yet
    EXPECT_EQ(1, ChangeUserDir(W(other).c_str()));
    EXPECT_EQ(W(other), GetConfiguredUserDir());
    EXPECT_TRUE(Deleted().IsReady());
    EXPECT_EQ(0, Deleted().IsDeleted(Word(L"甲")));
    EXPECT_EQ(1, ChangeUserDir(W(user).c_str()));
    EXPECT_EQ(1, Deleted().IsDeleted(Word(L"甲")));  // saved before the first change
}

// The smart-fuzzy tuning is read from the user directory at start and at
// every change of it; a missing or refused file leaves the defaults.
TEST_F(KernelTest, SmartFuzzyTuningFollowsTheUserDirectory) {
    const std::string refused = root.At("refused"), none = root.At("none");
    fs::create_directories(refused);
    fs::create_directories(none);
    testsupport::WriteFileBytes(user + "/SmartFParams.txt", "20090410\n1\n5,5,0,10.0\n");
    testsupport::WriteFileBytes(refused + "/SmartFParams.txt", "20090411\n1\n5,5,0,10.0\n");
    auto tuning = [] {
        const t_smartFuzzyParams& p = t_singleton<t_smartFuzzyParams>::Get();
        return std::vector<double>{double(p.maxUserWords), double(p.maxSystemWords),
                                   double(p.minSystemRank), double(p.scoreFactor)};
    };
    const std::vector<double> permissive = {5, 5, 0, 10}, defaults = {0, 0, 100, 1};
    Start();
    EXPECT_EQ(permissive, tuning());
    EXPECT_EQ(1, ChangeUserDir(W(refused).c_str()));
    EXPECT_EQ(defaults, tuning());
    EXPECT_NE(std::string::npos, Report().find("smart-fuzzy tuning refused")) << Report();
    EXPECT_EQ(1, ChangeUserDir(W(user).c_str()));
    EXPECT_EQ(permissive, tuning());
    EXPECT_EQ(1, SetUserDirAndCheckUpdate(W(none).c_str()));
    EXPECT_EQ(defaults, tuning());
}

TEST_F(KernelTest, SetUserDirReattachesOnlyWhatChanged) {
    Start();
    ASSERT_EQ(1, Deleted().AddWord(Word(L"甲"), 1));
    ASSERT_TRUE(GetDictManager().SaveAll());
    EXPECT_EQ(1, SetUserDirAndCheckUpdate(W(root.At("other")).c_str()));
    EXPECT_EQ(1, Deleted().IsDeleted(Word(L"甲")));
    ASSERT_TRUE(Deleted().IncreaseVersion());
    EXPECT_EQ(1, SetUserDirAndCheckUpdate(nullptr));
    EXPECT_EQ(W(root.At("other")), GetConfiguredUserDir());
    EXPECT_TRUE(Deleted().IsReady());
    EXPECT_EQ(0, Deleted().IsDeleted(Word(L"甲")));
}

// Each initial and final paired with its next two neighbours: 110 ordinary
// fuzzy pairs, which multiply the keys of a syllable many times over.
std::string NeighbourFuzzyFile() {
    const std::vector<std::vector<std::string>> lists = {
        {"b", "p", "m", "f",  "d",  "t",  "n", "l", "g", "k", "h",
         "j", "q", "x", "zh", "ch", "sh", "r", "z", "c", "s"},
        {"a",    "ai",   "an", "ang", "ao",  "e",    "ei", "en", "eng", "er", "i",  "ia", "ian",
         "iang", "iao",  "ie", "in",  "ing", "iong", "iu", "o",  "ong", "ou", "u",  "ua", "uai",
         "uan",  "uang", "ue", "ui",  "un",  "uo",   "v",  "ve", "van", "vn", "iou"}};
    std::string text = "[Metadata]\nversion=1\n[Fuzzy]\n";
    for (const auto& list : lists)
        for (size_t i = 0; i < list.size(); ++i)
            for (size_t d = 1; d <= 2 && i + d < list.size(); ++d)
                text += list[i] + "=" + list[i + d] + "\n";
    return text;
}

// Whether key reaches syllable in the live map.
bool Reaches(const wchar_t* key, const wchar_t* syllable) {
    const t_keyPyMap& map = GetKeyPyMap();
    const int32_t row = map.FindKey(key, nullptr);
    uint16_t ids[t_keyPyMap::kMaxListed];
    const int n =
        row < 0 ? 0 : map.GetPinyinIds(row, ids, nullptr, nullptr, t_keyPyMap::kMaxListed);
    for (int i = 0; i < n; ++i)
        if (ids[i] == SyllableTableFind(syllable)) return true;
    return false;
}

// The key map is built from the configuration items when the user has none
// (or a damaged one, set aside and reported); a build that yields no key
// fails and nothing is saved.
TEST_F(KernelTest, KeyMapBuildFollowsTheConfigurationItems) {
    const struct {
        const char* title;
        uint8_t smartFuzzy, quanPin;
        int ready;
        bool smartKey;  // "zhan" reaches "zan" in the smart-fuzzy mode
        bool damaged;   // a damaged key map file is there at the start
    } cases[] = {
        {"smart fuzzy on", 1, 1, 1, true, false},
        {"smart fuzzy off", 0, 1, 1, false, false},
        {"no input scheme gives no key", 1, 0, 0, false, false},
        {"a damaged file is rebuilt", 1, 1, 1, true, true},
    };
    CopySchemes();
    const int zan = SyllableTableFind(L"zan");
    ASSERT_GE(zan, 0);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.title);
        if (c.damaged) {
            ASSERT_TRUE(testsupport::WriteFileBytes(user + "/qzim_keymap.bin", "damaged bytes"));
        }
        Start();
        t_kernelOptions options;
        options.QuanPin = c.quanPin;
        SetKernelOptions(&options);
        GetConfiguration().SetByte(n_config::SmartFuzzyKeys, c.smartFuzzy);
        EXPECT_EQ(c.ready, RegisterKeyPyMap(0));
        EXPECT_EQ(c.damaged,
                  Report().find("KeyPyMap: " + user + "/qzim_keymap.bin: damaged, set aside as " +
                                user + "/Backup/qzim_keymap.bin.refused.") != std::string::npos)
            << Report();
        // The failure names the settings that leave no way to type.
        EXPECT_EQ(c.ready == 0, Report().find("KeyPyMap: key map could not be attached or built: "
                                              "QuanPin=0 with ShuangPin=0 leaves no way to type") !=
                                    std::string::npos)
            << Report();
        t_keyPyMap& map = GetKeyPyMap();
        map.SetSmartFuzzyMode(true);
        EXPECT_EQ(c.smartKey, map.IsKeyMappedToPy(L"zhan", zan));
        map.SetSmartFuzzyMode(false);
        GetDictManager().SaveAll();
        EXPECT_EQ(c.ready == 1, fs::exists(user + "/qzim_keymap.bin"));
        Stop();
        fs::remove(user + "/qzim_keymap.bin");
    }
}

// A user's fuzzy file of 110 ordinary pairs needs several times the map's
// default room, and a scheme file of odd lines (keys too long, empty, of
// 3,000 letters, or of a character the map cannot hold) gives keys the map
// refuses: either way the map is built at start-up, and what it left out is
// told.
TEST_F(KernelTest, LargeFuzzyFilesAndOddSchemeLinesStillGiveAKeyMap) {
    const std::string many(3000, 'M');
    const struct {
        const char* title;
        const char* file;  // in the user directory
        std::string text;
        uint8_t shuangPin;
        const wchar_t *key, *syllable;  // made by the file's rules
        const char* told;               // in the report; empty: nothing of the map
    } cases[] = {
        {"110 fuzzy pairs", "Fuzzy.dat", NeighbourFuzzyFile(), 0, L"huang", L"huan", ""},
        {"odd scheme lines", "ShuangPinSchemes/Vetra.ini",
         "\xEF\xBB\xBF[声母]\nzh=V\nb=BBBBBBBBBBBB\np=\nm=" + many + "\n" + many +
             "=Q\n[韵母]\nang=H\nai=\n[零声母音节的韵母]\na=\xF0\x9F\x98\x80\nang=AH\n",
         1, L"vh", L"zhang", "\"\xF0\x9F\x98\x80\" for a"},
    };
    CopySchemes();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.title);
        fs::create_directories(fs::path(user + "/" + c.file).parent_path());
        ASSERT_TRUE(testsupport::WriteFileBytes(user + "/" + c.file, c.text));
        Start();
        t_kernelOptions options;
        options.ShuangPin = c.shuangPin;
        SetKernelOptions(&options);
        EXPECT_EQ(1, RegisterKeyPyMap(0)) << Report();
        EXPECT_TRUE(Reaches(c.key, c.syllable));
        EXPECT_EQ(*c.told != 0, Report().find(*c.told ? c.told : "KeyPyMap") != std::string::npos)
            << Report();
        Stop();
        fs::remove(user + "/" + c.file);
        fs::remove(user + "/qzim_keymap.bin");
    }
}

// A rebuild for changed settings (the road of a settings reload) takes a
// new 110-pair fuzzy file up as well; a file it cannot use is told, and a
// rebuild that gives no key leaves the map in use and says so.
TEST_F(KernelBuiltDataTest, ARebuildTakesUpALargeFuzzyFileOrSaysWhyNot) {
    ASSERT_TRUE(LinkBuiltData());
    Start();
    ASSERT_EQ(1, RegisterKeyPyMap(0));
    EXPECT_FALSE(Reaches(L"huang", L"huan"));
    ASSERT_TRUE(testsupport::WriteFileBytes(user + "/Fuzzy.dat", NeighbourFuzzyFile()));
    EXPECT_EQ(1, ReloadKeymap());
    EXPECT_TRUE(Reaches(L"huang", L"huan"));
    EXPECT_EQ("", Report());

    ASSERT_TRUE(testsupport::WriteFileBytes(user + "/Fuzzy.dat",
                                            "[Metadata]\nversion=2\n[Fuzzy]\nuan=uang\n"));
    EXPECT_EQ(1, ReloadKeymap());
    EXPECT_FALSE(Reaches(L"huang", L"huan"));
    EXPECT_NE(std::string::npos,
              Report().find("KeyPyMap: " + user +
                            "/Fuzzy.dat: its [Metadata] version is not 1, the data's fuzzy "
                            "sounds are used\n"))
        << Report();
    ASSERT_TRUE(testsupport::WriteFileBytes(user + "/Fuzzy.dat", NeighbourFuzzyFile()));
    ASSERT_EQ(1, ReloadKeymap());

    t_kernelOptions options;
    options.QuanPin = 0;  // and no shuangpin: no key at all
    SetKernelOptions(&options);
    EXPECT_EQ(0, ReloadKeymap());
    EXPECT_NE(std::string::npos, Report().find("could not be rebuilt for the changed settings: "
                                               "QuanPin=0 with ShuangPin=0 leaves no way to type"))
        << Report();
    EXPECT_TRUE(Reaches(L"huang", L"huan"));
}
