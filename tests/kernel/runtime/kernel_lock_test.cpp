// Process-shared lock files, recursive locks and threads. The cross-process
// cases fork: children leave with _exit and every wait is bounded.
#include "kernel/runtime/kernel_lock.h"

#include <fcntl.h>
#include <linux/capability.h>
#include <sched.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "kernel/runtime/fd_file.h"
#include "kernel/runtime/path.h"
#include "kernel/runtime/thread.h"
#include "tests/kernel/runtime/runtime_support.h"

namespace {

using ProcessLockTest = TempHomeTest;

constexpr int kWaitMs = 15000;

TEST_F(ProcessLockTest, HolderBlocksAnotherProcessUntilRelease) {
    t_processLock a;
    ASSERT_TRUE(a.Create(L"TestLock", 5));
    ASSERT_TRUE(a.Lock());
    int acquired[2];
    ASSERT_EQ(0, pipe(acquired));
    const pid_t pid = ForkChild([&] {
        close(acquired[0]);
        t_processLock b;
        if (!b.Create(L"TestLock", 5) || !b.Lock()) return 1;
        if (write(acquired[1], "x", 1) != 1) return 2;
        b.Unlock();
        return 0;
    });
    close(acquired[1]);
    EXPECT_FALSE(ReadByteWithin(acquired[0], 400)) << "B got the lock while A held it";
    ASSERT_TRUE(a.Unlock());
    EXPECT_TRUE(ReadByteWithin(acquired[0], kWaitMs)) << "B did not get the lock after release";
    EXPECT_EQ(0, WaitChild(pid, kWaitMs));
    close(acquired[0]);
}

// A lock file deleted or cut short while a process uses it (a user emptying
// the folder, a cleaning tool) is opened again by that process at its next
// lock: it then excludes a process that made the new file. It used to go on
// with its old file beside the new one (both got in), or fault on the
// mapping of a file cut to nothing.
TEST_F(ProcessLockTest, ALockFileRemovedOrCutShortIsOpenedAgain) {
    const struct {
        const char* name;
        int (*act)(const char*);
    } cases[] = {
        {"Removed", [](const char* p) { return unlink(p); }},
        {"CutToNothing", [](const char* p) { return truncate(p, 0); }},
        {"CutShort", [](const char* p) { return truncate(p, 8); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::wstring name = Widen(c.name);
        t_processLock a;
        ASSERT_TRUE(a.Create(name.c_str(), 5, 8));
        ASSERT_TRUE(a.Lock());
        ASSERT_TRUE(a.Unlock());
        ASSERT_EQ(0, c.act((home.DataDir() + "/" + c.name).c_str()));
        int held[2], done[2];
        ASSERT_EQ(0, pipe(held));
        ASSERT_EQ(0, pipe(done));
        const pid_t pid = ForkChild([&] {
            close(held[0]);
            close(done[1]);
            t_processLock b;
            if (!b.Create(name.c_str(), 5, 8) || !b.Lock()) return 1;
            if (write(held[1], "x", 1) != 1) return 2;
            char x;
            if (read(done[0], &x, 1) != 1) return 3;
            return b.Unlock() ? 0 : 4;
        });
        close(held[1]);
        close(done[0]);
        ASSERT_TRUE(ReadByteWithin(held[0], kWaitMs));
        std::atomic<bool> got{false};
        std::thread taker([&] {
            got = a.Lock();
            if (got) a.Unlock();
        });
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        EXPECT_FALSE(got.load()) << "A got the lock while B held the new file's";
        EXPECT_EQ(1, write(done[1], "x", 1));
        taker.join();
        EXPECT_TRUE(got.load());
        EXPECT_EQ(0, WaitChild(pid, kWaitMs));
        close(held[0]);
        close(done[1]);
    }
}

// True when `mine`, once it holds the lock, keeps another process that
// opens `name` out until it lets go, and that one then gets in.
bool HoldExcludesAnotherProcess(t_processLock& mine, const std::wstring& name) {
    if (!mine.Lock()) return false;
    int acquired[2];
    if (pipe(acquired) != 0) return false;
    const pid_t pid = ForkChild([&] {
        close(acquired[0]);
        t_processLock other;
        if (!other.Create(name.c_str(), 5, 8) || !other.Lock()) return 1;
        if (write(acquired[1], "x", 1) != 1) return 2;
        return other.Unlock() ? 0 : 3;
    });
    close(acquired[1]);
    const bool kept = !ReadByteWithin(acquired[0], 300);
    mine.Unlock();
    const bool got = ReadByteWithin(acquired[0], kWaitMs);
    close(acquired[0]);
    return WaitChild(pid, kWaitMs) == 0 && kept && got;
}

// The same for a process that has just opened `name`.
bool ExcludesAnotherProcess(const std::wstring& name) {
    t_processLock mine;
    return mine.Create(name.c_str(), 5, 8) && HoldExcludesAnotherProcess(mine, name);
}

// A lock file cut to nothing, cut short (its count gone) or replaced by a
// copy taken while it was held, while one process holds the lock and
// another waits for it: neither dies, the waiter gets in once the holder
// lets go, both lock again, the next process starts and they exclude each
// other as before. The processes used to fault (SIGBUS in the wait or at
// the release, SIGSEGV at the next lock: the mutex's pages were gone) or,
// with the copy, wait for good on a mutex that nobody would let go.
TEST_F(ProcessLockTest, ALockFileCutOrReplacedWhileHeldAndAwaitedHarmsNobody) {
    const struct {
        const char* name;
        bool (*act)(const std::string&);
    } cases[] = {
        {"CutToNothing", [](const std::string& p) { return truncate(p.c_str(), 0) == 0; }},
        {"CutShort",
         [](const std::string& p) { return truncate(p.c_str(), sizeof(pthread_mutex_t)) == 0; }},
        {"ReplacedByAHeldCopy", ReplaceByCopy},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::wstring name = Widen(c.name);
        int held[2], go[2], ready[2], got[2];
        ASSERT_EQ(0, pipe(held));
        ASSERT_EQ(0, pipe(go));
        ASSERT_EQ(0, pipe(ready));
        ASSERT_EQ(0, pipe(got));
        const pid_t holder = ForkChild([&] {
            t_processLock a;
            if (!a.Create(name.c_str(), 5, 8) || !a.Lock() || !a.AddShared(0, 1)) return 1;
            if (write(held[1], "x", 1) != 1) return 2;
            char x;
            if (read(go[0], &x, 1) != 1) return 3;
            a.AddShared(0, 1);
            a.Unlock();
            if (!a.Lock()) return 4;
            a.Unlock();
            return 0;
        });
        ASSERT_TRUE(ReadByteWithin(held[0], kWaitMs));
        const pid_t waiter = ForkChild([&] {
            t_processLock b;
            if (!b.Create(name.c_str(), 5, 8) || write(ready[1], "x", 1) != 1) return 1;
            if (!b.Lock()) return 2;
            if (write(got[1], "x", 1) != 1) return 3;
            b.Unlock();
            if (!b.Lock()) return 4;
            b.Unlock();
            return 0;
        });
        ASSERT_TRUE(ReadByteWithin(ready[0], kWaitMs));
        EXPECT_FALSE(ReadByteWithin(got[0], 300)) << "the waiter got in while the holder held";
        ASSERT_TRUE(c.act(home.DataDir() + "/" + c.name));
        EXPECT_EQ(1, write(go[1], "x", 1));
        EXPECT_TRUE(ReadByteWithin(got[0], kWaitMs)) << "the waiter never got in";
        EXPECT_EQ(0, WaitChild(holder, kWaitMs)) << "the holder";
        EXPECT_EQ(0, WaitChild(waiter, kWaitMs)) << "the waiter";
        for (int* p : {held, go, ready, got}) {
            close(p[0]);
            close(p[1]);
        }
        const pid_t next = ForkChild([&] {
            t_processLock n;
            return n.Create(name.c_str(), 5, 8) && n.Lock() && n.Unlock() ? 0 : 1;
        });
        EXPECT_EQ(0, WaitChild(next, kWaitMs)) << "the next process";
        EXPECT_TRUE(ExcludesAnotherProcess(name));
    }
}

// A holder that is alive but never lets go (stopped, or stuck in a file
// system that stopped answering) holds a waiter up for the wait limit only;
// later waits, for that lock or another one it holds, give up at once until
// the lock is free again, and then it is taken as before. A waiter used to
// wait for good, and with it every key.
TEST_F(ProcessLockTest, AStuckHolderHoldsUpAWaiterForALimitedTime) {
    int held[2];
    ASSERT_EQ(0, pipe(held));
    const pid_t holder = ForkChild([&] {
        t_processLock a, too;
        if (!a.Create(L"Stuck", 5) || !a.Lock()) return 1;
        if (!too.Create(L"StuckToo", 5) || !too.Lock()) return 1;
        if (write(held[1], "x", 1) != 1) return 2;
        pause();
        return 0;
    });
    ASSERT_TRUE(ReadByteWithin(held[0], kWaitMs));
    close(held[0]);
    close(held[1]);
    t_processLock::SetWaitLimitMs(400);
    t_processLock b;
    ASSERT_TRUE(b.Create(L"Stuck", 5));
    using t_clock = std::chrono::steady_clock;
    const auto msSince = [](t_clock::time_point t) {
        return std::chrono::duration_cast<std::chrono::milliseconds>(t_clock::now() - t).count();
    };
    auto start = t_clock::now();
    EXPECT_FALSE(b.Lock());
    EXPECT_GE(msSince(start), 390);
    EXPECT_LT(msSince(start), 3000);
    t_processLock too;
    ASSERT_TRUE(too.Create(L"StuckToo", 5));
    for (t_processLock* again : {&b, &too}) {
        start = t_clock::now();
        EXPECT_FALSE(again->Lock());
        EXPECT_LT(msSince(start), 300) << "a second wait for the same stuck holder";
    }
    kill(holder, SIGKILL);
    EXPECT_EQ(128 + SIGKILL, WaitChild(holder, kWaitMs));
    for (t_processLock* again : {&b, &too}) {
        EXPECT_TRUE(again->Lock());
        EXPECT_TRUE(again->Unlock());
    }
    t_processLock::SetWaitLimitMs(t_processLock::kDefaultWaitLimitMs);
    EXPECT_TRUE(ExcludesAnotherProcess(L"Stuck"));
}

// Regression: the mutex in the lock file used to be initialised on every
// open, so a late opener reset a mutex that another process held and both
// got in. Eight processes race to create the missing file and then count
// through a shared file under the lock; any overlap loses increments.
TEST_F(ProcessLockTest, ProcessesCreatingMissingLockFileExcludeEachOther) {
    constexpr int kProcesses = 8;
    constexpr int kRounds = 200;
    const std::string counter = home.At("counter");
    ASSERT_TRUE(WriteFileBytes(counter, std::string(8, '\0')));
    int gate[2];
    ASSERT_EQ(0, pipe(gate));
    pid_t pids[kProcesses];
    for (int p = 0; p < kProcesses; ++p) {
        pids[p] = ForkChild([&] {
            close(gate[1]);
            char c;
            if (read(gate[0], &c, 1) != 0) return 3;  // released when the gate closes
            t_processLock lock;
            if (!lock.Create(L"RaceLock", 5)) return 1;
            const int fd = open(counter.c_str(), O_RDWR);
            if (fd < 0) return 4;
            for (int i = 0; i < kRounds; ++i) {
                if (!lock.Lock()) return 2;
                uint64_t v = 0;
                if (pread(fd, &v, 8, 0) != 8) return 5;
                sched_yield();  // widen the window for a lost update
                ++v;
                if (pwrite(fd, &v, 8, 0) != 8) return 6;
                lock.Unlock();
            }
            close(fd);
            return 0;
        });
        ASSERT_GT(pids[p], 0);
    }
    close(gate[0]);
    close(gate[1]);  // all children start together
    for (int p = 0; p < kProcesses; ++p) EXPECT_EQ(0, WaitChild(pids[p], 60000)) << "child " << p;
    const std::string bytes = ReadFileBytes(counter);
    ASSERT_EQ(8u, bytes.size());
    uint64_t total;
    memcpy(&total, bytes.data(), 8);
    EXPECT_EQ(uint64_t(kProcesses) * kRounds, total);
    // One published lock file, no temporaries left behind.
    EXPECT_EQ(std::vector<std::string>{"RaceLock"}, ListNames(home.DataDir()));
}

TEST_F(ProcessLockTest, KilledHolderIsRecoveredByNextLocker) {
    int held[2];
    ASSERT_EQ(0, pipe(held));
    const pid_t holder = ForkChild([&] {
        close(held[0]);
        t_processLock lock;
        if (!lock.Create(L"DeadLock", 5) || !lock.Lock()) return 1;
        if (write(held[1], "x", 1) != 1) return 2;
        pause();  // killed here, still holding the lock
        return 0;
    });
    close(held[1]);
    ASSERT_TRUE(ReadByteWithin(held[0], kWaitMs));
    close(held[0]);
    kill(holder, SIGKILL);
    EXPECT_EQ(128 + SIGKILL, WaitChild(holder, kWaitMs));

    const pid_t next = ForkChild([] {
        t_processLock lock;
        if (!lock.Create(L"DeadLock", 5) || !lock.Lock()) return 1;
        if (!lock.Unlock()) return 2;
        // The mutex is consistent again: it works as before.
        if (!lock.Lock() || !lock.Unlock()) return 3;
        return 0;
    });
    EXPECT_EQ(0, WaitChild(next, kWaitMs));
    // And so does a lock in this process.
    t_processLock mine;
    ASSERT_TRUE(mine.Create(L"DeadLock", 5));
    EXPECT_TRUE(mine.Lock());
    EXPECT_TRUE(mine.Unlock());
}

TEST_F(ProcessLockTest, UnrecoverableMutexIsReplaced) {
    t_processLock lock;
    ASSERT_TRUE(lock.Create(L"Broken", 5));
    // Make the mutex unrecoverable: a holder dies and the next owner unlocks
    // without marking it consistent.
    const std::string path = home.DataDir() + "/Broken";
    const pid_t dier = ForkChild([&] {
        const int fd = open(path.c_str(), O_RDWR);
        auto* m = static_cast<pthread_mutex_t*>(
            mmap(nullptr, sizeof(pthread_mutex_t), PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0));
        pthread_mutex_lock(m);
        _exit(0);  // dies holding it
        return 0;
    });
    ASSERT_EQ(0, WaitChild(dier, kWaitMs));
    const pid_t breaker = ForkChild([&] {
        const int fd = open(path.c_str(), O_RDWR);
        auto* m = static_cast<pthread_mutex_t*>(
            mmap(nullptr, sizeof(pthread_mutex_t), PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0));
        if (pthread_mutex_lock(m) != EOWNERDEAD) return 1;
        pthread_mutex_unlock(m);
        return 0;
    });
    ASSERT_EQ(0, WaitChild(breaker, kWaitMs));

    const pid_t user = ForkChild([&] {
        if (!lock.Lock() || !lock.Unlock()) return 1;
        t_processLock other;  // a fresh opener uses the replacement too
        return other.Create(L"Broken", 5) && other.Lock() && other.Unlock() ? 0 : 2;
    });
    EXPECT_EQ(0, WaitChild(user, kWaitMs));
}

// Regression: lock files were created 0666 under a zeroed umask.
TEST_F(ProcessLockTest, LockFileIsPrivate) {
    const mode_t old = umask(0);
    t_processLock lock;
    ASSERT_TRUE(lock.Create(L"Private", 5));
    EXPECT_EQ(0u, umask(old));  // the process umask is left as it was
    struct stat st;
    ASSERT_EQ(0, lstat((home.DataDir() + "/Private").c_str(), &st));
    EXPECT_TRUE(S_ISREG(st.st_mode));
    EXPECT_EQ(0600u, st.st_mode & 0777);
    EXPECT_EQ(sizeof(pthread_mutex_t), static_cast<size_t>(st.st_size));
    ASSERT_EQ(0, stat(home.DataDir().c_str(), &st));
    EXPECT_EQ(0700u, st.st_mode & 0777);
}

// Another user's file (what a program run as root with the user's HOME
// leaves) or a symbolic link in a lock file's place, in the user's own
// folder: the entry itself is set aside, said in one line with whose file
// it was, and a new lock file made, so the lock works. A link's target is
// never opened, followed or changed (a link used to be the way to have
// another user's file truncated). Each used to be refused, and the kernel
// went without that lock at every start. In a folder not the user's own
// nothing is moved: a process that finds such a file there on reopening
// keeps the lock file it has.
TEST_F(ProcessLockTest, AnotherUsersFileOrALinkInALockFilesPlaceIsSetAside) {
    constexpr uid_t kOther = 12345;
    const uid_t me = geteuid();
    const struct {
        const char* name;
        const char* target;  // a symbolic link to this entry of the home; null: a file
        uid_t owner;         // of the file, or of the target (made when not "missing")
        bool ownFolder;
        const char* told;  // the line's words before ", set aside as"
    } cases[] = {
        {"LinkToOwnFile", "victim", me, true, "lock file is a symbolic link"},
        {"DanglingLink", "missing", me, true, "lock file is a symbolic link"},
        // The rows below need a second owner: only root can make one.
        {"ForeignFile", nullptr, kOther, true, "lock file of another user (uid 12345)"},
        {"LinkToForeignFile", "foreign-victim", kOther, true, "lock file is a symbolic link"},
        {"ForeignFileInAFolderNotOwn", nullptr, kOther, false, nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        if (c.owner != me && me != 0) GTEST_SKIP() << "not root: no file of another user";
        const std::wstring name = Widen(c.name);
        const std::string path = home.DataDir() + "/" + c.name;
        const std::string target = c.target ? home.At(c.target) : "";
        t_processLock before;
        if (!c.ownFolder) {
            // Opened while the folder was the user's, then handed over.
            ASSERT_TRUE(before.Create(name.c_str(), 5, 8));
            ASSERT_EQ(0, chown(home.DataDir().c_str(), kOther, kOther));
        }
        ASSERT_TRUE(mkdir(home.DataDir().c_str(), 0700) == 0 || errno == EEXIST);
        if (c.target && std::string(c.target) != "missing") {
            ASSERT_TRUE(WriteFileBytes(target, "important data"));
            ASSERT_EQ(0, chmod(target.c_str(), 0640));
            ASSERT_EQ(0, chown(target.c_str(), c.owner, c.owner));
        }
        if (c.target) {
            ASSERT_EQ(0, symlink(target.c_str(), path.c_str()));
        } else {
            ASSERT_TRUE(WriteFileBytes(path + ".new", std::string(64, 'x')));
            ASSERT_EQ(0, chmod((path + ".new").c_str(), 0600));
            ASSERT_EQ(0, chown((path + ".new").c_str(), c.owner, c.owner));
            ASSERT_EQ(0, rename((path + ".new").c_str(), path.c_str()));
        }
        struct stat entry, now;
        ASSERT_EQ(0, lstat(path.c_str(), &entry));
        testing::internal::CaptureStderr();
        t_processLock lock;
        const bool made = c.ownFolder ? lock.Create(name.c_str(), 5, 8) : before.Lock();
        const std::string told = testing::internal::GetCapturedStderr();
        ASSERT_TRUE(made) << told;
        if (!c.ownFolder) {
            before.Unlock();
            ASSERT_EQ(0, lstat(path.c_str(), &now));
            EXPECT_EQ(entry.st_ino, now.st_ino);
            EXPECT_NE(0, lstat((path + ".aside").c_str(), &now));
            continue;
        }
        EXPECT_EQ(std::string(path) + ": " + c.told + ", set aside as " + path + ".aside\n", told);
        ASSERT_EQ(0, lstat(path.c_str(), &now));
        EXPECT_TRUE(S_ISREG(now.st_mode));
        EXPECT_EQ(me, now.st_uid);
        EXPECT_EQ(0600u, now.st_mode & 0777);
        ASSERT_EQ(0, lstat((path + ".aside").c_str(), &now));
        EXPECT_EQ(entry.st_ino, now.st_ino);
        EXPECT_EQ(entry.st_mode, now.st_mode);
        EXPECT_EQ(entry.st_uid, now.st_uid);
        if (c.target) {
            char to[kPathBufBytes] = {};
            ASSERT_GT(readlink((path + ".aside").c_str(), to, sizeof to - 1), 0);
            EXPECT_EQ(target, to);
            if (std::string(c.target) == "missing") {
                EXPECT_NE(0, lstat(target.c_str(), &now)) << "the link was followed";
            } else {
                EXPECT_EQ("important data", ReadFileBytes(target));
                ASSERT_EQ(0, lstat(target.c_str(), &now));
                EXPECT_EQ(0640u, now.st_mode & 0777);
                EXPECT_EQ(c.owner, now.st_uid);
            }
        }
        EXPECT_TRUE(ExcludesAnotherProcess(name));
    }
}

TEST_F(ProcessLockTest, ForeignOrStrangeLockFilesAreRefused) {
    char dir[kPathBufBytes];
    ASSERT_TRUE(GetUserDataDir(dir, sizeof dir));
    t_processLock badName;
    EXPECT_FALSE(badName.Create(L"../escape", 5));
    EXPECT_FALSE(badName.Create(L"", 5));
    // What is no lock file of ours is replaced by a fresh one, not used: a
    // truncated file goes; a FIFO or a folder (which used to turn the input
    // method off at every start) is set aside with what it holds.
    const struct {
        const wchar_t* name;
        const char* path;
        bool (*make)(const std::string&);
        const char* aside;  // what is kept aside, null: nothing
    } cases[] = {
        {L"Short", "/Short", [](const std::string& p) { return WriteFileBytes(p, "abc"); },
         nullptr},
        {L"Fifo", "/Fifo", [](const std::string& p) { return mkfifo(p.c_str(), 0600) == 0; },
         "/Fifo.aside"},
        {L"Folder", "/Folder",
         [](const std::string& p) {
             return mkdir(p.c_str(), 0700) == 0 && WriteFileBytes(p + "/kept", "x");
         },
         "/Folder.aside/kept"},
        // Every numbered set-aside name taken, a folder holding files among
        // them: a name of its own is found, and nothing set aside before is
        // removed (the oldest used to be deleted with what it held).
        {L"Crowded", "/Crowded",
         [](const std::string& p) {
             bool ok = symlink("/dev/null", (p + ".aside").c_str()) == 0 &&
                       mkdir((p + ".aside.2").c_str(), 0700) == 0 &&
                       WriteFileBytes(p + ".aside.2/kept", "x");
             for (int n = 3; n <= 9; ++n)
                 ok = ok && mkfifo((p + ".aside." + std::to_string(n)).c_str(), 0600) == 0;
             return ok && mkfifo(p.c_str(), 0600) == 0;
         },
         "/Crowded.aside.2/kept"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path);
        const std::string at = std::string(dir) + c.path;
        ASSERT_TRUE(c.make(at));
        // Twice: the second start finds the lock file the first one built.
        for (int start = 0; start < 2; ++start) {
            t_processLock lock;
            ASSERT_TRUE(lock.Create(c.name, 5));
            EXPECT_TRUE(lock.Lock());
            EXPECT_TRUE(lock.Unlock());
        }
        struct stat st;
        ASSERT_EQ(0, lstat(at.c_str(), &st));
        EXPECT_TRUE(S_ISREG(st.st_mode));
        EXPECT_EQ(sizeof(pthread_mutex_t), size_t(st.st_size));
        if (c.aside) {
            EXPECT_EQ(0, lstat((std::string(dir) + c.aside).c_str(), &st));
        }
    }
    struct stat st;
    ASSERT_EQ(0, lstat((std::string(dir) + "/Crowded.aside").c_str(), &st));
    EXPECT_TRUE(S_ISLNK(st.st_mode));
    for (int n = 3; n <= 9; ++n) {
        ASSERT_EQ(0,
                  lstat((std::string(dir) + "/Crowded.aside." + std::to_string(n)).c_str(), &st));
        EXPECT_TRUE(S_ISFIFO(st.st_mode)) << n;
    }
    // The FIFO found in the lock file's place went to a tenth name.
    int fifos = 0;
    for (const std::string& name : ListNames(dir))
        if (name.rfind("Crowded.aside.", 0) == 0 && name.size() == 14 + 12 &&
            lstat((std::string(dir) + "/" + name).c_str(), &st) == 0 && S_ISFIFO(st.st_mode))
            ++fifos;
    EXPECT_EQ(1, fifos);
}

// Makes this process bound by file modes as a user is, root included: it
// loses the capabilities that open any file. False where it cannot.
bool DropOpenAnyFileCapabilities() {
    __user_cap_header_struct header = {_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct data[_LINUX_CAPABILITY_U32S_3] = {};
    if (syscall(SYS_capget, &header, data) != 0) return false;
    for (const int cap : {CAP_DAC_OVERRIDE, CAP_DAC_READ_SEARCH})
        data[cap / 32].effective &= ~(1u << (cap % 32));
    return syscall(SYS_capset, &header, data) == 0;
}

// How often `part` occurs in `text`.
size_t CountOf(const std::string& text, const std::string& part) {
    size_t n = 0;
    for (size_t at = 0; (at = text.find(part, at)) != std::string::npos; at += part.size()) ++n;
    return n;
}

// Counts `times` under the lock through the 8 bytes of the file at
// `counter` (the yield widens the window an overlap would need). False when
// a lock or the file fails.
bool CountUnderLock(t_processLock& lock, const std::string& counter, int times) {
    const int fd = open(counter.c_str(), O_RDWR | O_CLOEXEC);
    bool ok = fd >= 0;
    for (int i = 0; ok && i < times; ++i) {
        if (!lock.Lock()) return false;
        uint64_t v = 0;
        ok = pread(fd, &v, 8, 0) == 8;
        sched_yield();
        ++v;
        ok = ok && pwrite(fd, &v, 8, 0) == 8;
        lock.Unlock();
    }
    if (fd >= 0) close(fd);
    return ok;
}

// A lock file that the user may not open (its mode taken away, or another
// user's, as a program run as root leaves it) is set aside, said in one
// line, and a new one built, so the process starts with the lock; a process
// that still has the old one open comes over to the new one at its next
// lock. It used to be told and given up on, and every later start went
// without the kernel. Processes that start at once over it: one sets it
// aside and all share the new file. One whose open failed on the file that
// another then set aside used to fail its start ("Permission denied").
TEST_F(ProcessLockTest, AnUnopenableLockFileIsSetAside) {
    constexpr int kSkipped = 77;
    constexpr int kCounts = 20;
    const struct {
        const char* name;
        bool foreign;        // owned by another user (only root can make one)
        bool openElsewhere;  // this process has it open as another one starts
        int starters;        // processes that start at once over it
        int rounds;          // times the whole is done
        const char* told;    // the line's words before ", set aside as"
    } cases[] = {
        {"Unopenable", false, false, 1, 1, "lock file this user cannot open (Permission denied)"},
        {"UnopenableInUse", false, true, 1, 1,
         "lock file this user cannot open (Permission denied)"},
        {"UnopenableEightAtOnce", false, false, 8, 40,
         "lock file this user cannot open (Permission denied)"},
        // The rows below need a second owner.
        {"ForeignUnopenable", true, false, 1, 1, "lock file of another user (uid 12345)"},
        {"ForeignUnopenableTwoAtOnce", true, false, 2, 20, "lock file of another user (uid 12345)"},
    };
    const std::string counter = home.At("counter");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        if (c.foreign && geteuid() != 0) GTEST_SKIP() << "not root: no file of another user";
        const std::wstring name = Widen(c.name);
        const std::string path = home.DataDir() + "/" + c.name;
        for (int round = 0; round < c.rounds; ++round) {
            SCOPED_TRACE(round);
            unlink((path + ".aside").c_str());
            t_processLock old;
            ASSERT_TRUE(old.Create(name.c_str(), 5, 8));
            if (!c.openElsewhere) old.Close();
            if (c.foreign) {
                ASSERT_EQ(0, chown(path.c_str(), 12345, 12345));
            }
            ASSERT_EQ(0, chmod(path.c_str(), 0));
            ASSERT_TRUE(WriteFileBytes(counter, std::string(8, '\0')));
            struct stat before, now;
            ASSERT_EQ(0, lstat(path.c_str(), &before));
            int gate[2];
            ASSERT_EQ(0, pipe(gate));
            testing::internal::CaptureStderr();
            std::vector<pid_t> pids;
            for (int p = 0; p < c.starters; ++p)
                pids.push_back(ForkChild([&] {
                    close(gate[1]);
                    if (!DropOpenAnyFileCapabilities()) return kSkipped;
                    char byte;
                    if (read(gate[0], &byte, 1) != 0) return 3;  // opens when the gate closes
                    t_processLock lock;
                    if (!lock.Create(name.c_str(), 5, 8)) return 1;
                    return CountUnderLock(lock, counter, kCounts) ? 0 : 2;
                }));
            close(gate[0]);
            close(gate[1]);  // all start together
            std::vector<int> codes;
            for (const pid_t pid : pids) codes.push_back(WaitChild(pid, kWaitMs));
            const std::string told = testing::internal::GetCapturedStderr();
            for (const int code : codes) {
                if (code == kSkipped) GTEST_SKIP() << "capabilities cannot be dropped here";
                EXPECT_EQ(0, code) << told;
            }
            const std::string bytes = ReadFileBytes(counter);
            uint64_t total = 0;
            ASSERT_EQ(8u, bytes.size());
            memcpy(&total, bytes.data(), 8);
            EXPECT_EQ(uint64_t(c.starters) * kCounts, total) << "two held the lock at once";
            ASSERT_EQ(0, lstat(path.c_str(), &now));
            EXPECT_NE(before.st_ino, now.st_ino);
            EXPECT_TRUE(S_ISREG(now.st_mode));
            EXPECT_EQ(0600u, now.st_mode & 0777);
            ASSERT_EQ(0, lstat((path + ".aside").c_str(), &now));
            EXPECT_EQ(before.st_ino, now.st_ino);
            EXPECT_EQ(1u, CountOf(told, "set aside as")) << told;
            EXPECT_EQ(1u,
                      CountOf(told, path + ": " + c.told + ", set aside as " + path + ".aside\n"))
                << told;
            if (c.starters > 1) continue;  // they counted under the lock together
            EXPECT_EQ(1u, CountOf(told, "\n")) << told;
            if (c.openElsewhere) {
                EXPECT_TRUE(HoldExcludesAnotherProcess(old, name));
            } else {
                EXPECT_TRUE(ExcludesAnotherProcess(name));
            }
        }
    }
}

// The file system refuses the file lock now and then (ENOLCK: a network
// folder whose lock service is away).
std::atomic<int> g_refusalsLeft{0};
int RefusingFileLock(int fd, int cmd, struct flock* lock) {
    if (lock->l_type != F_UNLCK && g_refusalsLeft.fetch_sub(1) > 0) {
        errno = ENOLCK;
        return -1;
    }
    return fcntl(fd, cmd, lock);
}

// A hold whose file lock the file system refused guards this process only,
// said in one line however often it happens; the next hold asks again, and
// one that got the file lock lets it go, so another process gets in. One
// refusal used to turn the file lock off for good: the next lock taken was
// never let go, and other processes were kept out from then on.
TEST_F(ProcessLockTest, AFileLockRefusedOnceIsAskedForAgainAtTheNextHold) {
    const struct {
        const char* name;
        const char* holds;  // of this process in turn: x refused, o taken
    } cases[] = {
        {"RefusedFirst", "xo"},
        {"RefusedBetween", "oxxo"},
    };
    SetFileLockFunction(&RefusingFileLock);
    testing::internal::CaptureStderr();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::wstring name = Widen(c.name);
        t_processLock mine;
        ASSERT_TRUE(mine.Create(name.c_str(), 5, 8));
        for (const char* h = c.holds; *h; ++h) {
            g_refusalsLeft = *h == 'x' ? 1 : 0;
            EXPECT_TRUE(mine.Lock());
            EXPECT_TRUE(mine.Lock());  // an inner hold asks for nothing
            EXPECT_TRUE(mine.Unlock());
            EXPECT_TRUE(mine.Unlock());
        }
        g_refusalsLeft = 0;
        EXPECT_TRUE(HoldExcludesAnotherProcess(mine, name));
    }
    const std::string told = testing::internal::GetCapturedStderr();
    SetFileLockFunction(nullptr);
    EXPECT_EQ(1u, CountOf(told, "No locks available")) << told;
}

int NoSpace(int, off_t, off_t) {
    return ENOSPC;
}

// A private tmpfs of 64 KB over `dir`, filled to the last block. False
// (nothing mounted) where this process may not make a mount namespace.
bool MountFullTmpfs(const std::string& dir) {
    if (unshare(CLONE_NEWNS) != 0) {
        const uid_t uid = geteuid();
        const gid_t gid = getegid();
        if (unshare(CLONE_NEWUSER | CLONE_NEWNS) != 0) return false;
        const std::string uidMap = "0 " + std::to_string(uid) + " 1\n";
        const std::string gidMap = "0 " + std::to_string(gid) + " 1\n";
        if (!WriteFileBytes("/proc/self/setgroups", "deny") ||
            !WriteFileBytes("/proc/self/uid_map", uidMap) ||
            !WriteFileBytes("/proc/self/gid_map", gidMap))
            return false;
    }
    if (mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
        mount("tmpfs", dir.c_str(), "tmpfs", 0, "size=64k,mode=0700") != 0)
        return false;
    const int fd = open((dir + "/filler").c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0) return false;
    const std::string block(4096, 'x');
    while (write(fd, block.data(), block.size()) > 0) {
    }
    while (write(fd, block.data(), 1) > 0) {
    }
    close(fd);
    return true;
}

// On a full disk a lock file cannot be built: Create fails with a message
// and leaves no temporary, where the write into a mapped file with a hole
// used to kill the whole process with SIGBUS.
TEST_F(ProcessLockTest, FullDiskRefusesTheLockAndTheProcessLives) {
    constexpr int kSkipped = 77;
    const struct {
        const char* name;
        bool mount;  // a real full tmpfs, else a failing block allocation
    } cases[] = {{"allocation fails", false}, {"full tmpfs", true}};  // the one that may skip last
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string data = home.DataDir();
        ASSERT_EQ(0, mkdir(data.c_str(), 0700));
        const pid_t pid = ForkChild([&] {
            if (c.mount && !MountFullTmpfs(data)) return kSkipped;
            if (!c.mount) SetReserveFunction(&NoSpace);
            t_processLock lock;
            if (lock.Create(L"FullLock", 5)) return 1;
            for (const std::string& name : ListNames(data))
                if (name != "filler") return 2;  // a temporary left behind
            return 0;
        });
        ASSERT_GT(pid, 0);
        const int code = WaitChild(pid, kWaitMs);
        testsupport::RemoveTree(data);
        if (code == kSkipped) GTEST_SKIP() << "no mount namespace here: full tmpfs case skipped";
        EXPECT_EQ(0, code) << "128 + signal when the process died";
    }
}

TEST_F(ProcessLockTest, RecursiveInOwningThreadExclusiveAcrossThreads) {
    t_processLock lock;
    EXPECT_TRUE(lock.Close());  // never created: nothing to do
    EXPECT_FALSE(lock.Lock());
    ASSERT_TRUE(lock.Create(L"Threads", 5));
    EXPECT_STREQ(L"", lock.GetName());
    ASSERT_TRUE(lock.Lock());
    ASSERT_TRUE(lock.Lock());  // at once, from the same thread
    std::atomic<bool> got{false};
    std::thread other([&] {
        if (lock.Lock()) {
            got = true;
            lock.Unlock();
        }
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(150));
    EXPECT_FALSE(got.load());
    EXPECT_FALSE(lock.Close());  // another thread waits for it: refused, nothing released
    lock.Unlock();
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_FALSE(got.load());  // still held once
    lock.Unlock();
    other.join();
    EXPECT_TRUE(got.load());
}

TEST_F(ProcessLockTest, CloseByHolderReleasesTheLock) {
    t_processLock lock;
    ASSERT_TRUE(lock.Create(L"Closing", 5));
    ASSERT_TRUE(lock.Lock());
    ASSERT_TRUE(lock.Lock());
    EXPECT_TRUE(lock.Close());
    EXPECT_FALSE(lock.IsCreated());
    const pid_t pid = ForkChild([] {
        t_processLock again;
        return again.Create(L"Closing", 5) && again.Lock() ? 0 : 1;
    });
    EXPECT_EQ(0, WaitChild(pid, kWaitMs));
}

TEST_F(ProcessLockTest, DictLockerIsCreatedOnce) {
    ASSERT_TRUE(CreateDictLocker());
    EXPECT_TRUE(GetDictLocker().IsCreated());
    EXPECT_TRUE(CreateDictLocker());
    EXPECT_EQ(0, access((home.DataDir() + "/ImeKernel_DictLocker").c_str(), F_OK));
    t_processLock::t_locker guard(GetDictLocker());
    EXPECT_TRUE(guard.IsHeld());
    ReleaseDictLocker();  // closed by its holder
    EXPECT_FALSE(GetDictLocker().IsCreated());
}

TEST(RecursiveLockTest, LocksAgainFromOwner) {
    t_recursiveLock lock;
    EXPECT_FALSE(lock.Lock());
    EXPECT_TRUE(lock.Destroy());  // not initialised: nothing to do
    ASSERT_TRUE(lock.Init(L"x", 5));
    EXPECT_STREQ(L"", lock.GetName());
    {
        t_recursiveLock::t_locker a(lock);
        t_recursiveLock::t_locker b(lock);
        EXPECT_TRUE(a.IsHeld() && b.IsHeld());
    }
    EXPECT_TRUE(lock.Destroy());
    EXPECT_FALSE(lock.IsInitialised());
}

void CountUntilStopped(t_thread* self) {
    auto* counter = static_cast<std::atomic<int>*>(self->GetOwner());
    while (!self->IsStopRequested()) {
        ++*counter;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

TEST(ThreadTest, RunsUntilJoinedAndJoinsOnce) {
    std::atomic<int> counter{0};
    t_thread thread;
    ASSERT_TRUE(thread.InitAttr());
    ASSERT_TRUE(thread.Start(&CountUntilStopped, &counter));
    EXPECT_FALSE(thread.Start(&CountUntilStopped, &counter));  // already running
    while (counter.load() < 3) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    EXPECT_EQ(1, thread.Join());
    EXPECT_TRUE(thread.IsStopRequested());
    EXPECT_EQ(nullptr, thread.GetOwner());
    const int stopped = counter.load();
    EXPECT_EQ(1, thread.Join());  // only sets the flag
    EXPECT_EQ(stopped, counter.load());
    EXPECT_FALSE(thread.Cancel());
    // It can run again after a join.
    ASSERT_TRUE(thread.Start(&CountUntilStopped, &counter));
    EXPECT_FALSE(thread.IsStopRequested());
}

}  // namespace
