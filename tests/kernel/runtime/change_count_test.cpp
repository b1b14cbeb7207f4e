// The change count processes share through a lock file. The other process
// is a forked child that leaves with _exit; every wait is bounded.
#include "kernel/runtime/change_count.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "tests/kernel/runtime/runtime_support.h"

namespace {

using ChangeCountTest = TempHomeTest;

// A change counted in one process moves the marks of the others, never the
// counting process's own (its calls keep their order by other means).
// Whatever stood in the count's place before gives a working count, not a
// refused start: a lock file without the count (of another size), a count
// written over with anything, a FIFO.
TEST_F(ChangeCountTest, AnotherProcessesChangeMovesTheMark) {
    const struct {
        const char* name;
        bool (*make)(const std::string&);
    } cases[] = {
        {"Fresh", [](const std::string&) { return true; }},
        {"PlainLock",
         [](const std::string& p) { return WriteFileBytes(p, std::string(40, '\0')); }},
        {"WrittenOver",
         [](const std::string& p) {
             t_changeCount made;
             const std::wstring name = Widen(p.substr(p.rfind('/') + 1));
             const int fd = made.Create(name.c_str()) ? open(p.c_str(), O_WRONLY) : -1;
             const std::string all(8, '\xff');
             const bool written = fd >= 0 && pwrite(fd, all.data(), 8, 40) == 8;
             if (fd >= 0) close(fd);
             return made.Close() && written;
         }},
        {"Fifo", [](const std::string& p) { return mkfifo(p.c_str(), 0600) == 0; }},
    };
    ASSERT_EQ(0, mkdir(home.DataDir().c_str(), 0700));
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(c.make(home.DataDir() + "/" + c.name));
        const std::wstring name = Widen(c.name);
        t_changeCount count;
        ASSERT_TRUE(count.Create(name.c_str()));
        const uint64_t start = count.Others();
        {
            t_processLock::t_locker lock(count.Lock());
            count.Add(false);
            EXPECT_TRUE(count.Unmoved(start));
        }
        // The other process: the mark it took before this one's change
        // holds, and its own change moves this one's.
        const pid_t pid = ForkChild([&] {
            t_changeCount other;
            if (!other.Create(name.c_str())) return 1;
            const uint64_t seen = other.Others();
            t_processLock::t_locker lock(other.Lock());
            other.Add(false);
            return other.Unmoved(seen) ? 0 : 2;
        });
        EXPECT_EQ(0, WaitChild(pid, 15000));
        EXPECT_FALSE(count.Unmoved(start));
        EXPECT_EQ(start + 1, count.Others());
    }
}

// The count's file removed, or replaced by a copy, while this process only
// reads the count (it types and never takes the lock): a removal another
// process counts in the file the name holds now is seen at the next read,
// as a replacement (so the words learned here are not put back onto the
// emptied dictionary), and the changes after it one by one. The count used
// to be read from the removed file for good.
TEST_F(ChangeCountTest, ACountFileRemovedOrReplacedIsReadThroughItsName) {
    const struct {
        const char* name;
        bool (*act)(const std::string&);
    } cases[] = {
        {"Removed", [](const std::string& p) { return unlink(p.c_str()) == 0; }},
        {"ReplacedByACopy", ReplaceByCopy},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::wstring name = Widen(c.name);
        t_changeCount count;
        ASSERT_TRUE(count.Create(name.c_str()));
        const uint64_t before = count.Others();
        EXPECT_FALSE(count.MovedSinceLastLook());
        ASSERT_TRUE(c.act(home.DataDir() + "/" + c.name));
        const auto changeElsewhere = [&](bool replaces) {
            return WaitChild(ForkChild([&] {
                                 t_changeCount other;
                                 if (!other.Create(name.c_str())) return 1;
                                 t_processLock::t_locker lock(other.Lock());
                                 other.Add(replaces);
                                 return 0;
                             }),
                             15000);
        };
        ASSERT_EQ(0, changeElsewhere(true));
        EXPECT_TRUE(count.MovedSinceLastLook());
        EXPECT_NE(t_changeCount::Replacements(before), t_changeCount::Replacements(count.Others()));
        const uint64_t then = count.Others();
        ASSERT_EQ(0, changeElsewhere(false));
        EXPECT_EQ(then + 1, count.Others());
    }
}

// A mark tells another process whether the words were replaced since it
// was taken: only a replacement counted in between does, whichever file
// counts it. A count in a new file, or started again in the old one (cut
// short and made whole), counts only its own; an invalid mark tells
// nothing, so nothing is dropped for it.
TEST(ChangeCountMarkTest, AReplacementBetweenTwoMarksIsToldWhateverFileCountsIt) {
    const auto mark = [](uint64_t inode, uint32_t replacements) {
        t_replacementMark m;
        m.valid = true;
        m.device = 1;
        m.inode = inode;
        m.replacements = replacements;
        return m;
    };
    const struct {
        const char* name;
        t_replacementMark then, now;
        bool replaced;
    } cases[] = {
        {"same file, none since", mark(7, 3), mark(7, 3), false},
        {"same file, one since", mark(7, 3), mark(7, 4), true},
        {"same file started again, none since", mark(7, 3), mark(7, 0), false},
        {"same file started again, one since", mark(7, 3), mark(7, 1), true},
        {"new file, none in it", mark(7, 3), mark(8, 0), false},
        {"new file, one in it", mark(7, 3), mark(8, 3), true},
        {"no mark then", t_replacementMark(), mark(7, 4), false},
        {"no count now", mark(7, 3), t_replacementMark(), false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.replaced, t_changeCount::ReplacedBetween(c.then, c.now)) << c.name;
}

}  // namespace
