// The dictionary manager: registration, attach with recovery of user files,
// flush, dated backups, failed writes and the load phases.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <thread>

#include "kernel/runtime/dict_manager.h"
#include "kernel/runtime/dir_settings.h"
#include "kernel/runtime/singleton.h"
#include "kernel/runtime/version_manager.h"
#include "tests/kernel/runtime/dict_stub_support.h"
#include "tests/kernel/runtime/runtime_support.h"
#include "tests/support/test_dir.h"

namespace {

constexpr time_t kDay = 86400;

// The first write succeeds, every later one finds the disk full.
std::atomic<int> g_writesLeft{0};
bool FailAfterBudget(int fd, const void* data, size_t size) {
    if (g_writesLeft.fetch_sub(1) <= 0) {
        errno = ENOSPC;
        return false;
    }
    return write(fd, data, size) == ssize_t(size);
}

bool WaitReady(const t_dictStorageBase& dict) {
    for (int i = 0; i < 500 && !dict.IsReady(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    return dict.IsReady();
}

std::vector<std::string> Matching(const std::vector<std::string>& names, const std::string& part) {
    std::vector<std::string> out;
    for (const std::string& n : names)
        if (n.find(part) != std::string::npos) out.push_back(n);
    return out;
}

}  // namespace

// ---------------------------------------------------------------------------
// Registration and lookups by name.

TEST(DictManagerInitTest, RegisterAndLoadBeforeInitReportNotInitialised) {
    t_dictManager manager;
    t_stubDict dict;
    EXPECT_FALSE(manager.Register(L"A", &dict, 0, 1, 0, L"a.bin", 0, 2));
    EXPECT_STREQ(kDictErrNotInit, manager.GetLastError());
    EXPECT_FALSE(manager.LoadDict(L"A"));
    EXPECT_STREQ(kDictErrNotInit, manager.GetLastError());
    EXPECT_FALSE(manager.SaveAll());
    EXPECT_FALSE(manager.LoadPhase1(1));
    EXPECT_EQ(nullptr, dict.GetEntry());
}

TEST_F(DictTest, RegisteringAnExistingNameKeepsTheFirstEntry) {
    t_stubDict first, second, third;
    ASSERT_TRUE(manager->Register(L"A", &first, 0, kStorageMemCopy, kDirUser, L"a.bin", 0, 2));
    EXPECT_TRUE(manager->Register(L"A", &second, 0, kStorageMemCopy, kDirUser, L"b.bin", 0, 2));
    EXPECT_STREQ(kDictErrExists, manager->GetLastError());
    EXPECT_EQ(&first, manager->FindEntry(L"A")->dict);
    EXPECT_EQ(L"a.bin", manager->FindEntry(L"A")->file);
    EXPECT_EQ(nullptr, second.GetEntry());

    EXPECT_FALSE(manager->Register(nullptr, &third, 0, 1, 0, L"c.bin", 0, 2));
    EXPECT_STREQ(kDictErrBadArg, manager->GetLastError());
    EXPECT_FALSE(manager->Register(L"C", nullptr, 0, 1, 0, L"c.bin", 0, 2));
    // One object cannot stand behind two names.
    EXPECT_FALSE(manager->Register(L"B", &first, 0, 1, 0, L"b.bin", 0, 2));
    EXPECT_EQ(nullptr, manager->FindEntry(L"B"));
}

TEST_F(DictTest, LoadAndSaveByNameAnswerForUnknownAndNotReadyDictionaries) {
    EXPECT_FALSE(manager->LoadDict(L"Nobody"));
    EXPECT_EQ(nullptr, manager->GetLastError());
    EXPECT_FALSE(manager->LoadDict(nullptr));
    EXPECT_STREQ(kDictErrBadArg, manager->GetLastError());
    EXPECT_FALSE(manager->SaveDict(L"Nobody"));
    EXPECT_STREQ(kDictErrNotLoaded, manager->GetLastError());

    t_stubDict dict;
    ASSERT_TRUE(Reg(L"A", dict, kStorageMemCopy, kDirUser, L"a.bin"));
    EXPECT_FALSE(manager->SaveDict(L"A"));
    EXPECT_STREQ(kDictErrNotLoaded, manager->GetLastError());
}

TEST_F(DictTest, EntryPathsFollowTheDirectoryKind) {
    t_dictEntry entry;
    t_pathName path;
    entry.file = L"f.bin";
    const std::pair<uint32_t, std::string> cases[] = {{kDirUser, user},
                                                      {kDirSystem, sys},
                                                      {kDirUserOrSystem, user},
                                                      {kDirUserSeeded, user},
                                                      {kDirSmartInfo, dict4}};
    for (const auto& [dir, expected] : cases) {
        entry.dirKind = dir;
        ASSERT_TRUE(t_dictManager::BuildEntryPath(&entry, path));
        EXPECT_EQ(WideOf(expected + "/f.bin"), path.Str()) << dir;
    }
    entry.dirKind = 5;
    ASSERT_TRUE(t_dictManager::BuildEntryPath(&entry, path));
    EXPECT_TRUE(path.IsEmpty());
    entry.dirKind = kDirUser;
    entry.storageKind = kStorageNoFile;
    ASSERT_TRUE(t_dictManager::BuildEntryPath(&entry, path));
    EXPECT_TRUE(path.IsEmpty());
    entry.storageKind = kStoragePrivate;
    entry.file = L"/x/y.bin";
    ASSERT_TRUE(t_dictManager::BuildEntryPath(&entry, path));
    EXPECT_EQ(L"/x/y.bin", path.Str());
    EXPECT_FALSE(t_dictManager::BuildEntryPath(nullptr, path));
}

TEST_F(DictTest, UnsetUserDirectoryNeverPutsFilesAtTheRoot) {
    SetConfiguredUserDir(L"");
    t_stubDict dict;
    ASSERT_TRUE(Reg(L"A", dict, kStorageMemCopy, kDirUser, L"vetra-a.bin"));
    EXPECT_FALSE(manager->LoadDict(L"A"));
    EXPECT_FALSE(Exists("/vetra-a.bin"));
}

// A file where the backup folder belongs is refused, told as what it is and
// once, not at every save that asks for the folder again.
TEST_F(DictTest, BackupFolderThatIsAFileIsToldOnce) {
    PutFile(BackupDir(), "not a folder");
    t_pathName dir;
    testing::internal::CaptureStderr();
    EXPECT_FALSE(GetBackupDir(dir, true));
    EXPECT_FALSE(GetBackupDir(dir, true));
    EXPECT_EQ(BackupDir() + ": not a folder, left alone\n", testing::internal::GetCapturedStderr());
}

// ---------------------------------------------------------------------------
// Recovery of a missing user file: newest backup, else system copy, else the
// dictionary's default image.

TEST_F(DictTest, MissingUserFileIsRestoredFromTheNewestRealBackup) {
    ASSERT_EQ(0, mkdir(BackupDir().c_str(), 0700));
    const time_t now = time(nullptr);
    PutFile(BackupDir() + "/fix.bin." + StampOf(now - 3 * kDay), MakeStubImage("older"));
    PutFile(BackupDir() + "/fix.bin." + StampOf(now - kDay), MakeStubImage("newest"));
    // Names that only look like backups are not backups.
    PutFile(BackupDir() + "/fix.bin.bak", MakeStubImage("stray"));
    PutFile(BackupDir() + "/fix.bin.99999999999999.tmp", MakeStubImage("temp"));
    PutFile(BackupDir() + "/fix.bin.refused.99999999999999", MakeStubImage("refused"));
    PutFile(BackupDir() + "/xfix.bin.99999999999999", MakeStubImage("other file"));
    PutFile(SysFile("fix.bin"), MakeStubImage("system"));
    t_stubDict dict;
    ASSERT_TRUE(Reg(L"Fix", dict, kStorageMemCopy, kDirUserSeeded, L"fix.bin", kBackupDaily));
    ASSERT_TRUE(manager->LoadDict(L"Fix"));
    EXPECT_EQ("newest", dict.Payload());
    EXPECT_EQ(MakeStubImage("newest"), GetFile(UserFile("fix.bin")));
}

TEST_F(DictTest, MissingUserFileWithoutBackupIsCopiedFromTheSystemDirectory) {
    PutFile(SysFile("fix.bin"), MakeStubImage("system"));
    PutFile(SysFile("smart.bin"), MakeStubImage("system 4"));
    t_stubDict seeded, kind4;
    ASSERT_TRUE(Reg(L"Fix", seeded, kStorageMemCopy, kDirUserSeeded, L"fix.bin"));
    ASSERT_TRUE(Reg(L"Smart", kind4, kStorageMemCopy, kDirSmartInfo, L"smart.bin"));
    ASSERT_TRUE(manager->LoadDict(L"Fix"));
    ASSERT_TRUE(manager->LoadDict(L"Smart"));
    EXPECT_EQ("system", seeded.Payload());
    EXPECT_EQ(MakeStubImage("system"), GetFile(UserFile("fix.bin")));
    EXPECT_EQ(MakeStubImage("system 4"), GetFile(dict4 + "/smart.bin"));
    EXPECT_EQ(0, seeded.Calls(kOpSave));
}

TEST_F(DictTest, MissingUserFileWithNoOtherSourceGetsTheDefaultImage) {
    t_stubDict user0, seeded;
    ASSERT_TRUE(Reg(L"Del", user0, kStorageMemCopy, kDirUser, L"del.bin"));
    ASSERT_TRUE(Reg(L"Fix", seeded, kStorageMemCopy, kDirUserSeeded, L"fix.bin"));
    ASSERT_TRUE(manager->LoadDict(L"Del"));
    ASSERT_TRUE(manager->LoadDict(L"Fix"));
    EXPECT_EQ(1, user0.Calls(kOpSave));
    EXPECT_EQ("default", user0.Payload());
    EXPECT_EQ("default", seeded.Payload());
    // The default lives in memory until the first save writes it.
    EXPECT_FALSE(Exists(UserFile("del.bin")));
    ASSERT_TRUE(manager->SaveAll());
    EXPECT_EQ(MakeStubImage("default"), GetFile(UserFile("del.bin")));
}

TEST_F(DictTest, UserDictionaryImportsItsOwnBackupAndFallsBackToTheSystemCopy) {
    ASSERT_EQ(0, mkdir(BackupDir().c_str(), 0700));
    PutFile(BackupDir() + "/usr.bin." + StampOf(time(nullptr) - kDay), MakeStubImage("learned"));
    t_stubDict dict;
    dict.reserved = 16;
    ASSERT_TRUE(Reg(L"UsrDict", dict, kStorageReserved, kDirUserSeeded, L"usr.bin", 0x102, 10));
    ASSERT_TRUE(manager->LoadDict(L"UsrDict"));
    EXPECT_EQ(1, dict.Calls(kOpImport));
    EXPECT_EQ("learned", dict.Payload());
    EXPECT_EQ(16u, dict.GetEntry()->reserved);
    EXPECT_EQ(int32_t(MakeStubImage("learned").size() + 16), dict.GetEntry()->block.GetDataSize());

    // A backup the dictionary refuses: the system copy is taken instead.
    manager.reset();
    unlink(UserFile("usr.bin").c_str());
    PutFile(BackupDir() + "/usr.bin." + StampOf(time(nullptr) - kDay), MakeStubImage("CORRUPT"));
    PutFile(SysFile("usr.bin"), MakeStubImage("system words"));
    manager = std::make_unique<t_dictManager>();
    ASSERT_TRUE(manager->Init());
    t_stubDict again;
    ASSERT_TRUE(Reg(L"UsrDict", again, kStorageReserved, kDirUserSeeded, L"usr.bin", 0x102, 10));
    ASSERT_TRUE(manager->LoadDict(L"UsrDict"));
    EXPECT_EQ("system words", again.Payload());
}

TEST_F(DictTest, FailedRestoreLeavesTheDictionaryNotReadyInsteadOfEmpty) {
    ASSERT_EQ(0, mkdir(BackupDir().c_str(), 0700));
    PutFile(BackupDir() + "/fix.bin." + StampOf(time(nullptr) - kDay), MakeStubImage("learned"));
    SetDictWriteFunction(&FailWithNoSpace);
    t_stubDict dict;
    ASSERT_TRUE(Reg(L"Fix", dict, kStorageMemCopy, kDirUserSeeded, L"fix.bin", kBackupDaily));
    EXPECT_FALSE(manager->LoadDict(L"Fix"));
    EXPECT_EQ(0, dict.Calls(kOpSave));  // no empty default that could later replace the backup
    EXPECT_FALSE(Exists(UserFile("fix.bin")));
    SetDictWriteFunction(nullptr);
    ASSERT_TRUE(manager->LoadDict(L"Fix"));
    EXPECT_EQ("learned", dict.Payload());
}

TEST_F(DictTest, EmptyUserFileIsRestoredAsMissingAndEmptySystemFileFails) {
    PutFile(UserFile("fix.bin"), "");
    PutFile(SysFile("fix.bin"), MakeStubImage("system"));
    PutFile(SysFile("core.bin"), "");
    t_stubDict user3, system;
    ASSERT_TRUE(Reg(L"Fix", user3, kStorageMemCopy, kDirUserSeeded, L"fix.bin"));
    ASSERT_TRUE(Reg(L"Core", system, kStorageMemCopy, kDirSystem, L"core.bin"));
    testing::internal::CaptureStderr();
    EXPECT_TRUE(manager->LoadDict(L"Fix"));
    EXPECT_FALSE(manager->LoadDict(L"Core"));
    const std::string printed = testing::internal::GetCapturedStderr();
    EXPECT_NE(std::string::npos, printed.find("/fix.bin: empty, removed\n"));
    EXPECT_EQ(std::string::npos, printed.find("core.bin"));
    EXPECT_EQ("system", user3.Payload());
    EXPECT_TRUE(Exists(SysFile("core.bin")));
}

TEST_F(DictTest, PunctuationFileIsParsedFromTheSystemCopyInPlace) {
    PutFile(SysFile("punctures.ini"), "[p]\nChHalf=,\n");
    t_stubDict dict;
    ASSERT_TRUE(Reg(L"PunctureDict", dict, kStorageSource, kDirUserOrSystem, L"punctures.ini"));
    ASSERT_TRUE(manager->LoadDict(L"PunctureDict"));
    EXPECT_EQ("[p]\nChHalf=,\n", dict.Payload());
    EXPECT_EQ(1, dict.Calls(kOpLoadFromFile));
    EXPECT_TRUE(NamesIn(user).empty());
    // A user copy, once there, wins.
    manager.reset();
    PutFile(UserFile("punctures.ini"), "mine");
    manager = std::make_unique<t_dictManager>();
    ASSERT_TRUE(manager->Init());
    t_stubDict again;
    ASSERT_TRUE(Reg(L"PunctureDict", again, kStorageSource, kDirUserOrSystem, L"punctures.ini"));
    ASSERT_TRUE(manager->LoadDict(L"PunctureDict"));
    EXPECT_EQ("mine", again.Payload());
}

// ---------------------------------------------------------------------------
// Refused and missing files.

TEST_F(DictTest, CorruptUserFileIsMovedAsideAndTheRetryAttachesARestoredCopy) {
    const std::string corrupt = MakeStubImage("CORRUPT");
    PutFile(UserFile("fix.bin"), corrupt);
    PutFile(SysFile("fix.bin"), MakeStubImage("system"));
    t_stubDict dict;
    ASSERT_TRUE(Reg(L"Fix", dict, kStorageMemCopy, kDirUserSeeded, L"fix.bin"));
    // One line on standard error names the file and where it went (a bare
    // "attach false" line went to standard output, and a file refused after
    // start-up, which the kernel's report does not reach, went untold).
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    ASSERT_TRUE(manager->LoadDict(L"Fix"));
    const std::string told = testing::internal::GetCapturedStderr();
    EXPECT_EQ("", testing::internal::GetCapturedStdout());
    EXPECT_EQ(1, std::count(told.begin(), told.end(), '\n')) << told;
    EXPECT_NE(std::string::npos, told.find("/fix.bin: damaged, set aside as /")) << told;
    EXPECT_EQ(2, dict.Calls(kOpLoad));
    EXPECT_EQ("system", dict.Payload());
    EXPECT_EQ(MakeStubImage("system"), GetFile(UserFile("fix.bin")));
    // The refused file is kept for the user, under a name that is not a backup.
    const auto aside = Matching(NamesIn(BackupDir()), "fix.bin.refused.");
    ASSERT_EQ(1u, aside.size());
    EXPECT_EQ(corrupt, GetFile(BackupDir() + "/" + aside[0]));
    t_pathName newest;
    std::wstring stamp;
    EXPECT_FALSE(t_dictManager::FindLatestBackup(manager->FindEntry(L"Fix"), newest, stamp));
}

// A user directory that is the system one or lies in it, under any name
// ("..", or a bind mount, which no link resolution joins), makes system
// files look like user files: none is set aside as refused, removed as
// empty or renamed away by a reset, for every user of the data. The mount
// is made in a child, in a mount namespace of its own (a user namespace's
// without root), so that it reaches no other test.
TEST_F(DictTest, SystemFileIsNeverMovedWhateverNameTheUserDirectoryHas) {
    const std::string inner = sys + "/inner", alias = root + "/alias";
    ASSERT_EQ(0, mkdir(inner.c_str(), 0700));
    const std::vector<std::string> dirs = {sys, inner + "/../inner", alias, alias + "/inner"};
    const size_t firstMounted = 2;  // the names from here on need the mount
    const auto check = [&](size_t i) {
        const std::string& dir = dirs[i];
        SCOPED_TRACE(dir);
        PutFile(dir + "/refused.bin", MakeStubImage("CORRUPT"));
        PutFile(dir + "/empty.bin", "");
        PutFile(dir + "/reset.bin", MakeStubImage("system"));
        SetConfiguredUserDir(WideOf(dir).c_str());
        const std::wstring refused = L"R" + std::to_wstring(i), empty = L"E" + std::to_wstring(i),
                           reset = L"S" + std::to_wstring(i);
        t_stubDict refusedDict, emptyDict, resetDict;
        ASSERT_TRUE(Reg(refused.c_str(), refusedDict, kStorageMemCopy, kDirUser, L"refused.bin"));
        ASSERT_TRUE(Reg(empty.c_str(), emptyDict, kStorageMemCopy, kDirUser, L"empty.bin"));
        ASSERT_TRUE(Reg(reset.c_str(), resetDict, kStorageMemCopy, kDirUser, L"reset.bin"));
        testing::internal::CaptureStderr();
        EXPECT_FALSE(manager->LoadDict(refused.c_str()));
        manager->LoadDict(empty.c_str());
        ASSERT_TRUE(manager->LoadDict(reset.c_str()));
        EXPECT_FALSE(manager->ResetEntry(manager->FindEntry(reset.c_str())));
        EXPECT_NE(std::string::npos, testing::internal::GetCapturedStderr().find(
                                         "a file of the system data folder, left where it is"));
        EXPECT_EQ(MakeStubImage("CORRUPT"), GetFile(dir + "/refused.bin"));
        EXPECT_TRUE(Exists(dir + "/empty.bin"));
        EXPECT_EQ(MakeStubImage("system"), GetFile(dir + "/reset.bin"));
        EXPECT_FALSE(Exists(dir + "/Backup"));
    };
    for (size_t i = 0; i < firstMounted; ++i) check(i);
    SetConfiguredUserDir(WideOf(user).c_str());
    constexpr int kNoMount = 77;
    const pid_t child = ForkChild([&] {
        testsupport::t_bindMount bind(sys, alias);
        if (!bind.Ok()) return kNoMount;
        for (size_t i = firstMounted; i < dirs.size(); ++i) check(i);
        return testing::Test::HasFailure() ? 1 : 0;
    });
    const int status = WaitChild(child, 20000);
    if (status == kNoMount)
        GTEST_SKIP() << "the names through a bind mount were not tried: no mount namespace "
                        "could be had (no root, and no user namespaces here)";
    EXPECT_EQ(0, status) << "a name through the bind mount failed (the child's lines above)";
}

TEST_F(DictTest, CorruptUserDictionaryIsRestoredFromItsBackup) {
    ASSERT_EQ(0, mkdir(BackupDir().c_str(), 0700));
    PutFile(BackupDir() + "/usr.bin." + StampOf(time(nullptr) - kDay), MakeStubImage("learned"));
    PutFile(UserFile("usr.bin"), MakeStubImage("CORRUPT"));
    t_stubDict dict;
    dict.reserved = 8;
    ASSERT_TRUE(Reg(L"UsrDict", dict, kStorageReserved, kDirUserSeeded, L"usr.bin", 0x102, 10));
    testing::internal::CaptureStdout();
    ASSERT_TRUE(manager->LoadDict(L"UsrDict"));
    testing::internal::GetCapturedStdout();
    EXPECT_EQ("learned", dict.Payload());
    EXPECT_EQ(1u, Matching(NamesIn(BackupDir()), "usr.bin.refused.").size());
}

// A FIFO, a folder or a device in the user file's place is handled as a
// damaged file, at once: the backup is attached (a FIFO used to hold the
// start in open, /dev/zero to be read without end). The device is the link
// to /dev/zero: the check follows it to the device and the entry is moved
// aside whatever it is, so a device node, which only root could make here,
// would take the same way.
TEST_F(DictTest, UserFileThatIsNoFileIsHandledAsDamaged) {
    testsupport::t_hangGuard guard(20);
    ASSERT_EQ(0, mkdir(BackupDir().c_str(), 0700));
    int n = 0;
    for (const std::string& kind : testsupport::NonRegularKinds()) {
        if (kind == "/dev/zero") continue;
        SCOPED_TRACE(kind);
        const std::string file = "usr" + std::to_string(n++) + ".bin";
        const std::wstring name = WideOf(file);
        PutFile(BackupDir() + "/" + file + "." + StampOf(time(nullptr) - kDay),
                MakeStubImage("learned"));
        ASSERT_TRUE(testsupport::MakeNonRegular(kind, UserFile(file)));
        t_stubDict dict;
        ASSERT_TRUE(
            Reg(name.c_str(), dict, kStorageReserved, kDirUserSeeded, name.c_str(), 0x102, 10));
        testing::internal::CaptureStdout();
        EXPECT_TRUE(manager->LoadDict(name.c_str()));
        testing::internal::GetCapturedStdout();
        EXPECT_EQ("learned", dict.Payload());
        dict.Load(nullptr, 0);
        manager->FindEntry(name.c_str())->block.Drop();
    }
}

TEST_F(DictTest, OnlyTheNewestRefusedFilesAreKept) {
    PutFile(SysFile("fix.bin"), MakeStubImage("CORRUPT"));  // every restore is refused too
    t_stubDict dict;
    ASSERT_TRUE(Reg(L"Fix", dict, kStorageMemCopy, kDirUserSeeded, L"fix.bin"));
    testing::internal::CaptureStdout();
    for (int i = 0; i < 5; ++i) {
        PutFile(UserFile("fix.bin"), MakeStubImage("CORRUPT"));
        EXPECT_FALSE(manager->AttachEntry(manager->FindEntry(L"Fix")));
        manager->FindEntry(L"Fix")->block.Drop();
    }
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(size_t(kRefusedFilesKept), Matching(NamesIn(BackupDir()), "fix.bin.refused.").size());
}

TEST_F(DictTest, AttachingAnAttachedBlockAnswersTheDictionarysReadiness) {
    PutFile(SysFile("core.bin"), MakeStubImage("CORRUPT"));
    t_stubDict dict;
    ASSERT_TRUE(Reg(L"Core", dict, kStorageMemCopy, kDirSystem, L"core.bin"));
    t_dictEntry* entry = manager->FindEntry(L"Core");
    EXPECT_FALSE(manager->AttachEntry(entry));
    ASSERT_TRUE(entry->block.IsValid());  // the refused image stays attached
    EXPECT_FALSE(manager->AttachEntry(entry));
    EXPECT_FALSE(manager->LoadDict(L"Core"));
    // A system file is read again as it is, never moved.
    EXPECT_EQ(MakeStubImage("CORRUPT"), GetFile(SysFile("core.bin")));
}

TEST_F(DictTest, ReservedRoomBeyondTheBlockLimitIsRefusedBeforeAnyBlockIsMade) {
    PutFile(UserFile("usr.bin"), MakeStubImage("words"));
    t_stubDict dict;
    dict.reserved = 0xFFFFFFF0u;  // with the file, beyond what one block may hold
    ASSERT_TRUE(Reg(L"UsrDict", dict, kStorageReserved, kDirUserSeeded, L"usr.bin", 0, 10));
    EXPECT_FALSE(manager->LoadDict(L"UsrDict"));
    EXPECT_FALSE(dict.GetEntry()->block.IsValid());
    EXPECT_EQ(0, dict.Calls(kOpLoad));
    EXPECT_EQ(MakeStubImage("words"), GetFile(UserFile("usr.bin")));
}

// The size comes from the file: one no block can hold is refused before any
// block is made (kept in 32 bits it would wrap to a 16-byte block), and the
// user's file is left where it is.
TEST_F(DictTest, UserFileTooLargeForABlockIsRefusedBeforeAnyBlockIsMade) {
    const std::string path = UserFile("big.bin");
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    ASSERT_GE(fd, 0);
    const off_t size = (off_t(1) << 32) + 16;
    const bool sparse = ftruncate(fd, size) == 0;  // no data blocks are used
    close(fd);
    if (!sparse) GTEST_SKIP() << "no sparse files here";
    t_stubDict dict;
    ASSERT_TRUE(Reg(L"Big", dict, kStorageMemCopy, kDirUser, L"big.bin"));
    EXPECT_FALSE(manager->LoadDict(L"Big"));
    EXPECT_FALSE(dict.IsReady());
    EXPECT_FALSE(dict.GetEntry()->block.IsValid());
    EXPECT_EQ(0, dict.Calls(kOpLoad));
    EXPECT_EQ(0, dict.Calls(kOpSave));
    struct stat st;
    ASSERT_EQ(0, stat(path.c_str(), &st));
    EXPECT_EQ(size, st.st_size);
    EXPECT_FALSE(Exists(BackupDir()));
}

TEST_F(DictTest, MissingSystemFileLeavesTheDictionaryNotReady) {
    t_stubDict mapped, copied;
    ASSERT_TRUE(Reg(L"pydict", mapped, kStorageFileMap, kDirSystem, L"qzim_py.bin"));
    ASSERT_TRUE(Reg(L"PyTipDict", copied, kStorageMemCopy, kDirSystem, L"qzim_tip.bin"));
    ASSERT_TRUE(manager->LoadPhase1(1));
    EXPECT_FALSE(mapped.IsReady());
    EXPECT_FALSE(copied.IsReady());
    EXPECT_FALSE(manager->LoadDict(L"pydict"));
    EXPECT_FALSE(manager->LoadDict(L"PyTipDict"));
    EXPECT_EQ(0, copied.Calls(kOpSave));
    EXPECT_TRUE(manager->SaveAll());
    EXPECT_TRUE(NamesIn(sys).empty());
}

TEST_F(DictTest, FileMappedSystemDictionaryLoadsAndFollowsVersionChanges) {
    PutFile(SysFile("qzim_py.bin"), MakeStubImage("syllables"));
    t_stubDict dict;
    ASSERT_TRUE(Reg(L"pydict", dict, kStorageFileMap, kDirSystem, L"qzim_py.bin"));
    ASSERT_TRUE(manager->LoadDict(L"pydict"));
    EXPECT_EQ("syllables", dict.Payload());
    PutFile(SysFile("qzim_py.bin.new"), MakeStubImage("updated"));
    rename(SysFile("qzim_py.bin.new").c_str(), SysFile("qzim_py.bin").c_str());
    ASSERT_TRUE(dict.IncreaseVersion());
    ASSERT_TRUE(Versions().CheckUpdate2());
    EXPECT_TRUE(dict.IsReady());
    EXPECT_EQ("updated", dict.Payload());
}

// ---------------------------------------------------------------------------
// Flushing and backups.

class DictFlushTest : public DictTest {
protected:
    void SetUp() override {
        DictTest::SetUp();
        g_testNow = time(nullptr);
        SetDictClockFunction(&TestClock);
    }
    // A kind-1 user dictionary with daily copies, attached from "words".
    void AttachWords(uint32_t flags = kBackupDaily) {
        PutFile(UserFile("w.bin"), MakeStubImage("words"));
        ASSERT_TRUE(Reg(L"W", dict, kStorageMemCopy, kDirUser, L"w.bin", flags));
        ASSERT_TRUE(manager->LoadDict(L"W"));
    }
    // Changes the image in the block (same size) as learning would.
    void Learn(char c) {
        auto* data = static_cast<char*>(dict.GetEntry()->block.GetData());
        data[8] = c;
    }
    std::vector<std::string> Backups() { return Matching(NamesIn(BackupDir()), "w.bin."); }

    t_stubDict dict;
};

TEST_F(DictFlushTest, TwoSaveAllCallsInOneSecondKeepExactlyOneCompleteBackup) {
    AttachWords();
    Learn('W');
    ASSERT_TRUE(manager->SaveAll());
    Learn('X');
    ASSERT_TRUE(manager->SaveAll());  // same stamp: replaces, never deletes itself
    const auto backups = Backups();
    ASSERT_EQ(std::vector<std::string>{"w.bin." + StampOf(g_testNow)}, backups);
    EXPECT_EQ(MakeStubImage("Xords"), GetFile(BackupDir() + "/" + backups[0]));
    EXPECT_EQ(MakeStubImage("Xords"), GetFile(UserFile("w.bin")));
}

TEST_F(DictFlushTest, ByDictionaryBackupInTheSameSecondDoesNotDeleteItself) {
    PutFile(UserFile("usr.bin"), MakeStubImage("words"));
    ASSERT_TRUE(Reg(L"UsrDict", dict, kStorageReserved, kDirUserSeeded, L"usr.bin", 0x102, 10));
    ASSERT_TRUE(manager->LoadDict(L"UsrDict"));
    ASSERT_TRUE(manager->SaveAll());
    ASSERT_TRUE(manager->SaveAll());
    EXPECT_EQ(2, dict.Calls(kOpExport));
    EXPECT_EQ(std::vector<std::string>{"usr.bin." + StampOf(g_testNow)}, NamesIn(BackupDir()));
    EXPECT_EQ(MakeStubImage("words"), GetFile(BackupDir() + "/usr.bin." + StampOf(g_testNow)));
}

TEST_F(DictFlushTest, WeeklyBackupIsMadeAtSevenDaysAndReplacesTheOlderOne) {
    ASSERT_EQ(0, mkdir(BackupDir().c_str(), 0700));
    const std::string sixDays = "usr.bin." + StampOf(g_testNow - 6 * kDay);
    PutFile(BackupDir() + "/" + sixDays, MakeStubImage("old"));
    PutFile(UserFile("usr.bin"), MakeStubImage("words"));
    ASSERT_TRUE(Reg(L"UsrDict", dict, kStorageReserved, kDirUserSeeded, L"usr.bin", 0x102, 10));
    ASSERT_TRUE(manager->LoadDict(L"UsrDict"));
    ASSERT_TRUE(manager->SaveAll());
    EXPECT_EQ(0, dict.Calls(kOpExport));
    EXPECT_EQ(std::vector<std::string>{sixDays}, NamesIn(BackupDir()));

    g_testNow = g_testNow + kDay;
    ASSERT_TRUE(manager->SaveAll());
    EXPECT_EQ(1, dict.Calls(kOpExport));
    EXPECT_EQ(std::vector<std::string>{"usr.bin." + StampOf(g_testNow)}, NamesIn(BackupDir()));
}

// The backup folder is the user's own: made 0700 (a wider one narrowed),
// and a link in its place is never followed, so no copy lands in another
// folder and nothing there is removed (an older copy there used to go).
TEST_F(DictFlushTest, BackupFolderIsPrivateAndNeverALink) {
    AttachWords();
    ASSERT_TRUE(manager->SaveAll());
    struct stat st;
    ASSERT_EQ(0, lstat(BackupDir().c_str(), &st));
    EXPECT_EQ(0700u, st.st_mode & 07777);
    ASSERT_EQ(0, chmod(BackupDir().c_str(), 0755));
    g_testNow = g_testNow + kDay;
    ASSERT_TRUE(manager->SaveAll());
    ASSERT_EQ(0, lstat(BackupDir().c_str(), &st));
    EXPECT_EQ(0700u, st.st_mode & 07777);

    const std::string elsewhere = UserFile("elsewhere");
    ASSERT_EQ(0, mkdir(elsewhere.c_str(), 0700));
    const std::string older = "w.bin." + StampOf(g_testNow - 2 * kDay);
    PutFile(elsewhere + "/" + older, MakeStubImage("theirs"));
    testsupport::RemoveTree(BackupDir());
    ASSERT_EQ(0, symlink(elsewhere.c_str(), BackupDir().c_str()));
    g_testNow = g_testNow + kDay;
    Learn('Y');
    EXPECT_FALSE(manager->SaveAll());  // the copy is due and cannot be made
    EXPECT_EQ(std::vector<std::string>{older}, NamesIn(elsewhere));
    EXPECT_EQ(MakeStubImage("theirs"), GetFile(elsewhere + "/" + older));
}

TEST_F(DictFlushTest, BackupStampedInTheFutureIsReplacedNotAccumulated) {
    ASSERT_EQ(0, mkdir(BackupDir().c_str(), 0700));
    const std::string future = "w.bin." + StampOf(g_testNow + 3 * kDay);
    PutFile(BackupDir() + "/" + future, MakeStubImage("future"));
    AttachWords();
    for (int i = 0; i < 3; ++i) {
        ASSERT_TRUE(manager->SaveAll());
        g_testNow = g_testNow + 2;
    }
    // The first save replaced the future-stamped copy; later saves are not due.
    EXPECT_EQ(std::vector<std::string>{"w.bin." + StampOf(g_testNow - 6)}, Backups());
}

TEST_F(DictFlushTest, FailedWriteLeavesFileAndBackupByteIdenticalAndReportsIt) {
    ASSERT_EQ(0, mkdir(BackupDir().c_str(), 0700));
    const std::string oldBackup = BackupDir() + "/w.bin." + StampOf(g_testNow - 2 * kDay);
    PutFile(oldBackup, MakeStubImage("backup"));
    AttachWords();
    Learn('Z');
    const std::string fileBefore = GetFile(UserFile("w.bin"));
    SetDictWriteFunction(&FailWithNoSpace);
    EXPECT_FALSE(manager->SaveAll());
    EXPECT_STREQ(kDictErrWrite, manager->GetLastError());
    EXPECT_FALSE(manager->SaveDict(L"W"));
    EXPECT_EQ(fileBefore, GetFile(UserFile("w.bin")));
    EXPECT_EQ(MakeStubImage("backup"), GetFile(oldBackup));
    EXPECT_EQ(std::vector<std::string>({"Backup", "w.bin"}), NamesIn(user));
    EXPECT_EQ(1u, NamesIn(BackupDir()).size());
    EXPECT_EQ(0, dict.Calls(kOpOnFileWritten));
}

TEST_F(DictFlushTest, FailedBackupKeepsThePreviousBackupAndReportsIt) {
    ASSERT_EQ(0, mkdir(BackupDir().c_str(), 0700));
    const std::string oldBackup = BackupDir() + "/w.bin." + StampOf(g_testNow - 2 * kDay);
    PutFile(oldBackup, MakeStubImage("backup"));
    AttachWords();
    Learn('Z');
    g_writesLeft = 1;  // the file is written, the backup copy is not
    SetDictWriteFunction(&FailAfterBudget);
    EXPECT_FALSE(manager->SaveAll());
    EXPECT_EQ(MakeStubImage("Zords"), GetFile(UserFile("w.bin")));
    EXPECT_EQ(std::vector<std::string>{"w.bin." + StampOf(g_testNow - 2 * kDay)},
              NamesIn(BackupDir()));
    EXPECT_EQ(MakeStubImage("backup"), GetFile(oldBackup));

    SetDictWriteFunction(nullptr);
    ASSERT_TRUE(manager->SaveAll());
    EXPECT_EQ(std::vector<std::string>{"w.bin." + StampOf(g_testNow)}, NamesIn(BackupDir()));
}

TEST_F(DictFlushTest, FlushNeverWritesTheSystemDirectory) {
    PutFile(SysFile("tip.bin"), MakeStubImage("tips"));
    struct stat before;
    ASSERT_EQ(0, stat(SysFile("tip.bin").c_str(), &before));
    ASSERT_TRUE(Reg(L"PyTipDict", dict, kStorageMemCopy, kDirSystem, L"tip.bin"));
    ASSERT_TRUE(manager->LoadDict(L"PyTipDict"));
    g_writes = 0;
    SetDictWriteFunction(&CountingWrite);
    EXPECT_TRUE(manager->SaveDict(L"PyTipDict"));
    EXPECT_TRUE(manager->SaveAll());
    EXPECT_EQ(0, g_writes.load());
    struct stat after;
    ASSERT_EQ(0, stat(SysFile("tip.bin").c_str(), &after));
    EXPECT_EQ(before.st_ino, after.st_ino);
    EXPECT_EQ(before.st_mtim.tv_nsec, after.st_mtim.tv_nsec);
    EXPECT_EQ(std::vector<std::string>{"tip.bin"}, NamesIn(sys));
}

// A version raised in this process (the notice of its own save) never
// refuses the next flush; a file another writer saved since the attach is
// taken up under the lock, never written over.
TEST_F(DictFlushTest, FlushNeverWritesOverAFileAnotherWriterSaved) {
    AttachWords(0);
    Learn('Q');
    const std::wstring versionName = dict.GetEntry()->block.GetVersionName();
    ASSERT_TRUE(Versions().IncreaseVersion(versionName.c_str()));
    EXPECT_TRUE(manager->FlushEntry(manager->FindEntry(L"W")));
    EXPECT_EQ(MakeStubImage("Qords"), GetFile(UserFile("w.bin")));

    ASSERT_TRUE(PutFile(UserFile("w.bin"), MakeStubImage("other")));
    EXPECT_TRUE(manager->SaveAll());
    EXPECT_EQ(MakeStubImage("other"), GetFile(UserFile("w.bin")));
    EXPECT_EQ("other", dict.Payload());
}

TEST_F(DictFlushTest, EntriesThatSaveThemselvesAreNotFlushed) {
    PutFile(UserFile("ext.bin"), MakeStubImage("ext"));
    ASSERT_TRUE(Reg(L"ExtDict", dict, kStorageMemCopy, kDirUser, L"ext.bin"));
    ASSERT_TRUE(manager->LoadDict(L"ExtDict"));
    g_writes = 0;
    SetDictWriteFunction(&CountingWrite);
    EXPECT_FALSE(manager->SaveDict(L"ExtDict"));
    EXPECT_EQ(0, g_writes.load());
}

TEST_F(DictFlushTest, FlushCallsTheOperationOfEachStorageKind) {
    t_stubDict built, reserved, noFile;
    PutFile(UserFile("built.bin"), MakeStubImage("built"));
    PutFile(UserFile("res.bin"), MakeStubImage("reserved"));
    reserved.reserved = 32;
    ASSERT_TRUE(Reg(L"Built", built, kStorageBuilt, kDirUser, L"built.bin"));
    ASSERT_TRUE(Reg(L"Res", reserved, kStorageReserved, kDirUser, L"res.bin"));
    ASSERT_TRUE(Reg(L"Cloud", noFile, kStorageNoFile, kDirUser, nullptr));
    ASSERT_TRUE(manager->LoadPhase1(1));
    ASSERT_TRUE(built.IsReady() && reserved.IsReady() && noFile.IsReady());
    EXPECT_EQ(1, built.Calls(kOpSave));
    EXPECT_EQ(1, noFile.Calls(kOpSave));
    EXPECT_EQ(1, reserved.Calls(kOpGetReservedSize));
    ASSERT_TRUE(manager->SaveAll());
    EXPECT_EQ(1, built.Calls(kOpOnFlush));
    EXPECT_EQ(1, reserved.Calls(kOpOnFileWritten));
    EXPECT_EQ(0, noFile.Calls(kOpOnFlush) + noFile.Calls(kOpOnFileWritten));
    // The reserved room is never written to the file.
    EXPECT_EQ(MakeStubImage("reserved"), GetFile(UserFile("res.bin")));
}

// A flush refused because the data changed elsewhere wrote nothing: every
// caller reports it as a failure with an error text, SaveAll included.
TEST_F(DictFlushTest, RefusedFlushIsAFailureForEveryCaller) {
    t_stubDict built;
    PutFile(UserFile("built.bin"), MakeStubImage("built"));
    ASSERT_TRUE(Reg(L"Built", built, kStorageBuilt, kDirUser, L"built.bin"));
    ASSERT_TRUE(manager->LoadDict(L"Built"));
    ASSERT_TRUE(built.IncreaseVersion());
    EXPECT_FALSE(manager->SaveDict(L"Built"));
    EXPECT_STREQ(kDictErrWrite, manager->GetLastError());
    EXPECT_FALSE(manager->SaveAll());
    EXPECT_STREQ(kDictErrWrite, manager->GetLastError());
    EXPECT_EQ(0, built.Calls(kOpOnFlush));
}

// ---------------------------------------------------------------------------
// Load phases and loader threads.

TEST_F(DictTest, LoadPhasesAttachEachPolicyAtItsTime) {
    t_stubDict now, later, thread1, thread2;
    for (const char* f : {"a.bin", "b.bin", "c.bin", "d.bin"})
        PutFile(UserFile(f), MakeStubImage(f));
    ASSERT_TRUE(Reg(L"A", now, kStorageMemCopy, kDirUser, L"a.bin", 0, 2, kLoadPhase1));
    ASSERT_TRUE(Reg(L"B", later, kStorageMemCopy, kDirUser, L"b.bin", 0, 2, kLoadPhase2));
    ASSERT_TRUE(Reg(L"C", thread1, kStorageMemCopy, kDirUser, L"c.bin", 0, 2, kLoadThread1));
    ASSERT_TRUE(Reg(L"D", thread2, kStorageMemCopy, kDirUser, L"d.bin", 0, 2, kLoadThread2));

    ASSERT_TRUE(manager->LoadPhase1(0));  // flag 0: nothing yet
    EXPECT_FALSE(now.IsReady());
    ASSERT_TRUE(manager->LoadPhase1(1));
    EXPECT_TRUE(manager->IsPhase1Done());
    EXPECT_TRUE(now.IsReady());
    EXPECT_TRUE(WaitReady(thread1));
    EXPECT_FALSE(later.IsReady());
    EXPECT_FALSE(thread2.IsReady());

    ASSERT_TRUE(manager->NotifyEvent());
    ASSERT_TRUE(Versions().CheckUpdate8());
    EXPECT_TRUE(manager->IsPhase2Done());
    EXPECT_TRUE(later.IsReady());
    EXPECT_TRUE(WaitReady(thread2));
    EXPECT_EQ("d.bin", thread2.Payload());
    // Each phase runs once.
    ASSERT_TRUE(manager->LoadPhase1(1));
    ASSERT_TRUE(manager->LoadPhase2(0));
    EXPECT_EQ(1, now.Calls(kOpLoad));
    EXPECT_EQ(1, later.Calls(kOpLoad));
}

TEST_F(DictTest, DestroyingTheManagerStopsLoadersAndUnlinksDictionaries) {
    std::vector<std::unique_ptr<t_stubDict>> dicts;
    for (int i = 0; i < 20; ++i) {
        dicts.push_back(std::make_unique<t_stubDict>());
        const std::wstring name = L"D" + std::to_wstring(i);
        ASSERT_TRUE(Reg(name.c_str(), *dicts.back(), kStorageNoFile, kDirUser, nullptr, 0, 2,
                        kLoadThread1));
    }
    ASSERT_TRUE(manager->LoadPhase1(1));
    manager.reset();  // joins the loader, wherever it is
    for (const auto& dict : dicts) {
        EXPECT_FALSE(dict->IsReady());
        EXPECT_EQ(nullptr, dict->GetEntry());
    }
}

TEST_F(DictTest, DictionaryDestroyedBeforeTheManagerIsForgotten) {
    PutFile(UserFile("a.bin"), MakeStubImage("a"));
    auto dict = std::make_unique<t_stubDict>();
    ASSERT_TRUE(Reg(L"A", *dict, kStorageMemCopy, kDirUser, L"a.bin"));
    ASSERT_TRUE(manager->LoadDict(L"A"));
    t_dictEntry* entry = manager->FindEntry(L"A");
    dict.reset();
    EXPECT_EQ(nullptr, entry->dict);
    EXPECT_FALSE(manager->LoadDict(L"A"));
    EXPECT_TRUE(manager->SaveAll());
    // A version change of its block re-attaches nothing.
    ASSERT_TRUE(Versions().IncreaseVersion(entry->block.GetVersionName().c_str()));
    EXPECT_TRUE(Versions().CheckUpdate2());
}

TEST_F(DictTest, UserDirectoryChangeReattachesUserEntriesFromTheNewDirectory) {
    PutFile(UserFile("a.bin"), MakeStubImage("first user"));
    PutFile(SysFile("s.bin"), MakeStubImage("system"));
    t_stubDict userDict, sysDict;
    ASSERT_TRUE(Reg(L"A", userDict, kStorageMemCopy, kDirUser, L"a.bin"));
    ASSERT_TRUE(Reg(L"S", sysDict, kStorageMemCopy, kDirSystem, L"s.bin"));
    ASSERT_TRUE(manager->LoadPhase1(1));
    const std::string other = root + "/user2";
    mkdir(other.c_str(), 0700);
    PutFile(other + "/a.bin", MakeStubImage("second user"));
    SetConfiguredUserDir(WideOf(other).c_str());
    ASSERT_TRUE(Versions().NotifyAll(WideOf(other).c_str()));
    EXPECT_EQ("second user", userDict.Payload());
    EXPECT_EQ(1, sysDict.Calls(kOpLoad));
    SetConfiguredUserDir(WideOf(user).c_str());
    unlink((other + "/a.bin").c_str());
    rmdir(other.c_str());
}

// ---------------------------------------------------------------------------
// Stand-alone entries.

TEST_F(DictTest, StandaloneEntriesHoldTheirOwnCopy) {
    t_stubDict dict;
    const std::string image = MakeStubImage("import");
    std::string bytes = image;
    ASSERT_TRUE(manager->AttachBuffer(L"TemUsrDict", &dict, bytes.data(), int32_t(bytes.size())));
    bytes.assign(bytes.size(), 0);  // the caller's bytes are not used afterwards
    EXPECT_EQ(kStoragePrivate, uint32_t(dict.GetStorageKind()));
    EXPECT_EQ("import", dict.Payload());
    EXPECT_EQ(nullptr, manager->FindEntry(L"TemUsrDict"));

    PutFile(root + "/import.bin", MakeStubImage("from file"));
    ASSERT_TRUE(manager->AttachFile(L"TemUsrDict", &dict, WideOf(root + "/import.bin").c_str()));
    EXPECT_EQ("from file", dict.Payload());
    EXPECT_FALSE(manager->AttachFile(L"TemUsrDict", &dict, WideOf(root + "/none.bin").c_str()));
    EXPECT_FALSE(dict.IsReady());
    EXPECT_FALSE(manager->AttachBuffer(L"TemUsrDict", &dict, image.data(), 0));
    EXPECT_FALSE(manager->AttachFile(L"TemUsrDict", &dict, nullptr));
    EXPECT_STREQ(kDictErrBadArg, manager->GetLastError());

    t_stubDict registered;
    ASSERT_TRUE(Reg(L"R", registered, kStorageNoFile, kDirUser, nullptr));
    EXPECT_FALSE(manager->AttachBuffer(L"Tem", &registered, image.data(), int32_t(image.size())));
    EXPECT_EQ(manager->FindEntry(L"R"), registered.GetEntry());
    unlink((root + "/import.bin").c_str());
}
