// The kernel's whole 31-entry registry with stand-in dictionaries: every
// entry's ready state is printed and checked, with complete data, with an
// empty system directory, and with deferred loading on the loader threads.
#include <chrono>
#include <cstdio>
#include <thread>

#include "kernel/runtime/dict_manager.h"
#include "kernel/runtime/singleton.h"
#include "kernel/runtime/version_manager.h"
#include "tests/kernel/runtime/dict_stub_support.h"

namespace {

std::string Narrow(const wchar_t* w) {
    return w ? std::string(w, w + wcslen(w)) : std::string();
}

class DictRegistryTest : public DictTest {
protected:
    void RegisterAll(int loadArgument) {
        for (const t_registryRow& row : kKernelRegistry) {
            dicts.push_back(std::make_unique<t_stubDict>());
            if (row.storage == kStorageReserved) dicts.back()->reserved = 64;
            ASSERT_TRUE(manager->Register(row.name, dicts.back().get(),
                                          RegistryPolicy(row, loadArgument), row.storage, row.dir,
                                          row.file, row.backupFlags, row.mask));
            ASSERT_EQ(nullptr, manager->GetLastError()) << Narrow(row.name);
        }
    }
    // System data for every entry: the system dictionaries and the seeds of
    // the user files that are copied from the system directory.
    void FillSystemDirectory() {
        for (const t_registryRow& row : kKernelRegistry) {
            if (!row.file || row.dir == kDirUser) continue;
            const std::string file = Narrow(row.file);
            PutFile(SysFile(file),
                    row.storage == kStorageSource ? "source of " + file : MakeStubImage(file));
        }
    }
    // Prints one line per entry and returns the names that are not ready.
    std::vector<std::string> PrintStates(const char* title) {
        std::vector<std::string> notReady;
        printf("%s\n%-3s %-24s %-24s %6s %7s %3s %s\n", title, "#", "name", "file", "policy",
               "storage", "dir", "ready");
        for (size_t i = 0; i < dicts.size(); ++i) {
            const t_registryRow& row = kKernelRegistry[i];
            const t_dictEntry* entry = manager->FindEntry(row.name);
            printf("%-3zu %-24s %-24s %6u %7u %3u %s\n", i + 1, Narrow(row.name).c_str(),
                   row.file ? Narrow(row.file).c_str() : "-", entry ? entry->loadPolicy : 99,
                   row.storage, row.dir, dicts[i]->IsReady() ? "yes" : "no");
            if (!dicts[i]->IsReady()) notReady.push_back(Narrow(row.name));
        }
        fflush(stdout);
        return notReady;
    }
    bool WaitAllReady() {
        for (int i = 0; i < 500; ++i) {
            bool all = true;
            for (const auto& d : dicts) all = all && d->IsReady();
            if (all) return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return false;
    }
    void TearDown() override {
        DictTest::TearDown();  // the manager goes before the dictionaries
        dicts.clear();
    }

    std::vector<std::unique_ptr<t_stubDict>> dicts;
};

}  // namespace

TEST_F(DictRegistryTest, WholeRegistryAttachesWithCompleteData) {
    FillSystemDirectory();
    RegisterAll(0);
    ASSERT_TRUE(manager->LoadPhase1(1));
    ASSERT_TRUE(manager->NotifyEvent());
    EXPECT_EQ(std::vector<std::string>{}, PrintStates("complete data, load argument 0"));
    EXPECT_EQ("qzim_core.bin", dicts[2]->Payload());
    EXPECT_EQ("source of punctures.ini", dicts[18]->Payload());
    EXPECT_EQ("default", dicts[19]->Payload());             // CloudCachecDict: built
    EXPECT_EQ("qzim_usr_v3new.bin", dicts[21]->Payload());  // UsrDict: seeded
    EXPECT_EQ("default", dicts[22]->Payload());             // ExtDict: user directory only
    EXPECT_EQ(MakeStubImage("qzim_smartInfo.bin"), GetFile(dict4 + "/qzim_smartInfo.bin"));
    // Nothing is ever written into the system directory.
    std::vector<std::string> before;
    for (const std::string& name : NamesIn(sys))
        before.push_back(name + ":" + GetFile(SysFile(name)));
    ASSERT_TRUE(manager->SaveAll());
    std::vector<std::string> after;
    for (const std::string& name : NamesIn(sys))
        after.push_back(name + ":" + GetFile(SysFile(name)));
    EXPECT_EQ(before, after);
    // The user dictionary made its first backup through its own Export.
    EXPECT_EQ(1, dicts[21]->Calls(kOpExport));
}

TEST_F(DictRegistryTest, EmptySystemDirectoryLeavesOnlySystemDictionariesNotReady) {
    RegisterAll(0);
    ASSERT_TRUE(manager->LoadPhase1(1));
    const std::vector<std::string> expected = {
        "pydict",     "hzdict",      "SysDict",       "AdjCache",        "BhbshDict",
        "PyTipDict",  "AbbrSysDict", "TraditionDict", "QuickSysDict",    "EngSysDict",
        "engpredict", "UrlSysDict",  "UrlGuideDict",  "SupportCharDict", "PunctureDict"};
    EXPECT_EQ(expected, PrintStates("empty system directory, load argument 0"));
    EXPECT_EQ(0, dicts[0]->Calls(kOpSave));
}

TEST_F(DictRegistryTest, DeferredLoadingAttachesEveryEntryThroughPhasesAndThreads) {
    FillSystemDirectory();
    RegisterAll(1);
    ASSERT_TRUE(manager->LoadPhase1(1));
    EXPECT_TRUE(dicts[13]->IsReady());  // SupportCharDict: policy 0
    EXPECT_FALSE(dicts[0]->IsReady());  // pydict: policy 1, waits for phase 2
    ASSERT_TRUE(manager->NotifyEvent());
    ASSERT_TRUE(Versions().CheckUpdate8());
    EXPECT_TRUE(dicts[0]->IsReady());
    EXPECT_TRUE(WaitAllReady());
    EXPECT_EQ(std::vector<std::string>{}, PrintStates("complete data, load argument 1"));
    for (const auto& d : dicts) EXPECT_EQ(1, d->Calls(kOpLoad));
}
