// Temporaries of killed writers: an attach removes those of its dictionary
// that no live writer can own and leaves everything else alone. Children
// are forked and killed; every wait is bounded.
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "kernel/runtime/dict_manager.h"
#include "kernel/runtime/fd_file.h"
#include "tests/kernel/runtime/dict_stub_support.h"
#include "tests/kernel/runtime/runtime_support.h"

namespace {

constexpr int kWaitMs = 15000;

// The write hook of a saving child: the write numbered g_stopAt is cut in
// half, then the child reports on g_report and waits to be killed.
std::atomic<int> g_writeCount{0};
int g_stopAt = 0;
int g_report = -1;
bool WriteHalfThenWait(int fd, const void* data, size_t size) {
    if (++g_writeCount < g_stopAt) return write(fd, data, size) == ssize_t(size);
    if (write(fd, data, size / 2) < 0 || write(g_report, "x", 1) != 1) _exit(3);
    for (;;) pause();
}

std::vector<std::string> TempsIn(const std::string& dir, const std::string& stem) {
    std::vector<std::string> out;
    for (const std::string& name : NamesIn(dir))
        if (SplitWriterTempName(WideOf(name), nullptr) && name.rfind(stem, 0) == 0)
            out.push_back(name);
    return out;
}

void SetAge(const std::string& path, int seconds) {
    struct timespec times[2];
    clock_gettime(CLOCK_REALTIME, &times[0]);
    times[0].tv_sec += seconds;
    times[1] = times[0];
    utimensat(AT_FDCWD, path.c_str(), times, AT_SYMLINK_NOFOLLOW);
}

class AbandonedTempTest : public DictTest {
protected:
    void Register(uint32_t backupFlags) {
        ASSERT_TRUE(
            manager->Register(L"W", &dict, 0, kStorageMemCopy, kDirUser, L"w.bin", backupFlags, 2));
    }
    t_stubDict dict;
};

// A save killed in the middle of writing the file or its backup leaves its
// temporary; the next attach removes it and finds the file as it was.
TEST_F(AbandonedTempTest, KilledSaveLeavesATemporaryTheNextAttachRemoves) {
    struct t_case {
        const char* what;
        int stopAt;  // write number the child is killed in
        bool inBackup;
    };
    const t_case cases[] = {{"file write", 1, false}, {"backup write", 2, true}};
    for (const t_case& c : cases) {
        SCOPED_TRACE(c.what);
        testsupport::RemoveTree(BackupDir());
        ASSERT_TRUE(PutFile(UserFile("w.bin"), MakeStubImage("words")));
        int report[2];
        ASSERT_EQ(0, pipe(report));
        const pid_t saver = ForkChild([&] {
            close(report[0]);
            g_report = report[1];
            g_stopAt = c.stopAt;
            Register(kBackupDaily);
            if (!manager->LoadDict(L"W")) return 1;
            SetDictWriteFunction(&WriteHalfThenWait);
            manager->SaveDict(L"W");
            return 2;
        });
        close(report[1]);
        ASSERT_TRUE(ReadByteWithin(report[0], kWaitMs)) << "the child never reached the write";
        close(report[0]);
        kill(saver, SIGKILL);
        ASSERT_EQ(128 + SIGKILL, WaitChild(saver, kWaitMs));
        const std::string dir = c.inBackup ? BackupDir() : user;
        ASSERT_EQ(1u, TempsIn(dir, "w.bin.").size());
        // File times come from the coarse clock: step past its tick.
        std::this_thread::sleep_for(std::chrono::milliseconds(30));

        env.manager = std::make_unique<t_dictManager>();
        ASSERT_TRUE(manager->Init());
        Register(0);
        ASSERT_TRUE(manager->LoadDict(L"W"));
        EXPECT_TRUE(TempsIn(dir, "w.bin.").empty());
        EXPECT_EQ("words", dict.Payload());
        EXPECT_EQ(MakeStubImage("words"), GetFile(UserFile("w.bin")));
        env.manager.reset();
        env.manager = std::make_unique<t_dictManager>();
        ASSERT_TRUE(manager->Init());
    }
}

// Only the writer temporaries of this dictionary that were abandoned go:
// live writers' files (in another process or this one), files written
// after the attach began, other names and links stay.
TEST_F(AbandonedTempTest, OnlyAbandonedTemporariesOfTheDictionaryAreRemoved) {
    ASSERT_TRUE(PutFile(UserFile("w.bin"), MakeStubImage("words")));
    ASSERT_EQ(0, mkdir(BackupDir().c_str(), 0700));
    struct t_planted {
        std::string path;
        int age;  // seconds added to now
        bool removed;
    };
    const std::string stamp = StampOf(time(nullptr) - 86400);
    const t_planted planted[] = {
        {UserFile("w.bin.vetra-tmp-Ab3xYz"), -60, true},
        {UserFile("w.bin.temp.vetra-tmp-Q1w2E3"), -60, true},
        {BackupDir() + "/w.bin." + stamp + ".vetra-tmp-k9LmN0", -60, true},
        {BackupDir() + "/w.bin.refused." + stamp + ".2.vetra-tmp-zz11AA", -60, true},
        {UserFile("w.bin.vetra-tmp-Cd4eFg"), +60, false},  // written after the hold began
        {UserFile("w.bin.temp"), -60, false},  // fixed work name, not a writer temporary
        {UserFile("w.bin.vetra-tmp-Ab-xYz"), -60, false},
        {UserFile("x.bin.vetra-tmp-Ab3xYz"), -60, false},  // another dictionary's
        {UserFile("w.bin.backup"), -60, false},            // the user's own copies
        {UserFile("w.bin.myown1"), -60, false},
        {BackupDir() + "/w.bin." + stamp, -60, false},
        {BackupDir() + "/w.bin.other.vetra-tmp-k9LmN0", -60, false},
    };
    for (const t_planted& p : planted) {
        ASSERT_TRUE(PutFile(p.path, "partial"));
        SetAge(p.path, p.age);
    }
    // A link with a temporary's name is never followed or removed.
    ASSERT_EQ(0, symlink(UserFile("w.bin").c_str(), UserFile("w.bin.vetra-tmp-Lnk123").c_str()));

    const std::vector<std::string> plantedTemps = TempsIn(user, "w.bin.");
    // Writers still alive, one in a child (holding no dictionary lock, as
    // an import would) and one in this process; both temporaries are aged.
    int started[2];
    ASSERT_EQ(0, pipe(started));
    const pid_t writer = ForkChild([&] {
        close(started[0]);
        t_safeFileWriter w;
        if (!w.Begin(t_pathName(WideOf(UserFile("w.bin.temp")).c_str())) || !w.Write("part", 4))
            return 1;
        if (write(started[1], "x", 1) != 1) return 2;
        for (;;) pause();
    });
    close(started[1]);
    ASSERT_TRUE(ReadByteWithin(started[0], kWaitMs));
    close(started[0]);
    t_safeFileWriter mine;
    ASSERT_TRUE(mine.Begin(t_pathName(WideOf(UserFile("w.bin")).c_str())));
    std::vector<std::string> live;
    for (const std::string& name : TempsIn(user, "w.bin."))
        if (std::find(plantedTemps.begin(), plantedTemps.end(), name) == plantedTemps.end())
            live.push_back(name);
    ASSERT_EQ(2u, live.size());
    for (const std::string& name : live) SetAge(UserFile(name), -60);

    Register(0);
    ASSERT_TRUE(manager->LoadDict(L"W"));
    ASSERT_TRUE(
        manager->SaveDict(L"W"));  // a save sweeps as well, and its own temporary never lingers
    for (const t_planted& p : planted) EXPECT_EQ(p.removed, !Exists(p.path)) << p.path;
    for (const std::string& name : live) EXPECT_TRUE(Exists(UserFile(name))) << name;
    struct stat st;
    EXPECT_EQ(0, lstat(UserFile("w.bin.vetra-tmp-Lnk123").c_str(), &st));
    EXPECT_EQ(MakeStubImage("words"), GetFile(UserFile("w.bin")));

    kill(writer, SIGKILL);
    EXPECT_EQ(128 + SIGKILL, WaitChild(writer, kWaitMs));
    mine.Abort();
}

}  // namespace
