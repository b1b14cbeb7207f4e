// t_changeCount: a count of changes that every process of the user sees,
// kept in a lock file of its own, under the lock that orders them. A call
// that takes its time (a restore reading a slow file) notes the count when
// it is sent, and checks it under the lock before it changes anything: a
// change another process made meanwhile, for a call sent later, has moved
// it. Any thread; Create and Close run before and after concurrent use.
#pragma once

#include <cstdint>
#include <mutex>

#include "kernel/runtime/kernel_lock.h"

// The words a change was made on, in a form every process of the user can
// compare: the replacements (restores, removals) counted so far in the
// count's own file, and which file that is.
struct t_replacementMark {
    bool valid = false;  // false: the count was not at hand (nothing to compare)
    uint64_t device = 0;
    uint64_t inode = 0;
    uint32_t replacements = 0;
    bool operator==(const t_replacementMark&) const = default;
};

class t_changeCount {
public:
    t_changeCount() = default;
    t_changeCount(const t_changeCount&) = delete;
    t_changeCount& operator=(const t_changeCount&) = delete;

    // The lock file "<user data dir>/<name>" with the count (see
    // t_processLock::Create: what stands there and is no such file is set
    // aside or replaced, never used). Without a usable data directory the
    // count is this process's only. True when it already exists.
    bool Create(const wchar_t* name);
    bool Close() { return m_lock.Close(); }
    bool IsCreated() const { return m_lock.IsCreated(); }

    // The changes the other processes counted so far: this process's own are
    // left out, since its calls keep their order by other means. Never
    // waits for the lock; 0 when not created. Read from the file the name
    // holds now: when that is another file than before (the one in use
    // removed, replaced or cut short), its count goes on from one past the
    // last value given out, with the replacements it counted added: every
    // mark noted before then is refused once, as a damaged count is.
    uint64_t Others() const;
    // Of an Others value: the changes that replaced the words wholesale (a
    // restore, a removal), counted apart from those that added to them (an
    // import).
    static uint32_t Replacements(uint64_t others) { return uint32_t(others >> 32); }
    // The lock a change is checked, made and counted under. Taken before
    // every other lock of the kernel.
    t_processLock& Lock() { return m_lock; }
    // Under the lock: no other process counted a change since `mark` (an
    // Others value).
    bool Unmoved(uint64_t mark) const { return Others() == mark; }
    // Under the lock, once a change may have been made: counts it.
    // `replaces`: it replaced the words wholesale.
    void Add(bool replaces);
    // True when Others moved since the last look (the first look after
    // Create compares with the count found there).
    bool MovedSinceLastLook();
    // The mark of the words as they are now; invalid when not created, when
    // the count is this process's only, or when its file cannot be read.
    t_replacementMark Mark() const;
    // A replacement was counted between two valid marks (false when either
    // is invalid). A count in another file than then's (the old one removed
    // or set aside), or one that started again in it, tells only whether it
    // counted any replacement itself.
    static bool ReplacedBetween(const t_replacementMark& then, const t_replacementMark& now);

private:
    // Others, with m_ownLock held.
    uint64_t OthersLocked() const;

    t_processLock m_lock;
    mutable std::mutex m_ownLock;
    // What Others leaves out of the shared count: this process's changes,
    // less the offset that carries the count over to another file.
    mutable uint64_t m_own = 0;
    mutable uint64_t m_last = 0;   // the last Others value given out
    mutable uint64_t m_files = 0;  // the lock's files read from, as last read
    uint64_t m_looked = 0;         // Others at the last look
};

// The changes that replace or empty the user dictionary (an import, a
// restore, a removal), "ImeKernel_UsrDictChanges". Learning is no such
// change. Created once; true when it already exists.
bool CreateUsrDictChangeCount();
// Closes it when created (kernel shut-down).
void ReleaseUsrDictChangeCount();
t_changeCount& GetUsrDictChangeCount();
