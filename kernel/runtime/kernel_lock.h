// The kernel's locks: t_processLock, a named recursive lock shared by every
// process of the user (a lock on a file under the user data directory), and
// t_recursiveLock, an in-process recursive mutex. Both may be locked from
// any thread; Create/Init/Close run before and after concurrent use.
#pragma once

#include <pthread.h>
#include <sys/types.h>

#include <atomic>
#include <cstdint>
#include <ctime>
#include <mutex>
#include <string>

#include "kernel/runtime/path.h"

// Holds a lock for a scope: taken on construction, released on destruction
// when it was taken. IsHeld tells whether taking it succeeded.
template <class Lock>
class t_heldLock {
public:
    explicit t_heldLock(Lock& lock) : m_lock(&lock), m_held(lock.Lock()) {}
    ~t_heldLock() {
        if (m_held) m_lock->Unlock();
    }
    bool IsHeld() const { return m_held; }
    // The lock exists but was not taken (another process held it past the
    // wait): what needs it is refused rather than done without it.
    bool Refused() const { return !m_held && m_lock->IsCreated(); }
    t_heldLock(const t_heldLock&) = delete;
    t_heldLock& operator=(const t_heldLock&) = delete;

private:
    Lock* m_lock;
    bool m_held;
};

class t_processLock {
public:
    t_processLock() = default;
    ~t_processLock() { Close(); }
    t_processLock(const t_processLock&) = delete;
    t_processLock& operator=(const t_processLock&) = delete;

    // Most bytes a lock file may share after the mutex's room.
    static constexpr size_t kMaxSharedBytes = 64;
    // Longest a Lock waits for another process's hold before it gives up.
    static constexpr int kDefaultWaitLimitMs = 5000;
    // Once a wait gave up, later ones try once and give up (kStuckWaitMs)
    // until the lock is taken again, and so do those of every other lock of
    // the process for kStuckWindowMs after the last wait that gave up: a
    // holder that is stuck holds up a caller once, not once per lock and
    // call (a save takes the lock once for each dictionary).
    static constexpr int kStuckWaitMs = 0;
    static constexpr int kStuckWindowMs = 10000;

    // Opens (or, when missing, builds) the lock file "<user data dir>/<name>":
    // room for one pthread mutex (initialised in a new file, for a process
    // of an earlier build that still maps it; never touched here), followed
    // by `sharedBytes` bytes (a multiple of 8, zero in a new file) that every
    // process of the user sees. An existing file is never re-initialised; it
    // must be a regular file owned by this user. Anything else there (a
    // FIFO, a folder), a file of this user that it may not open read-write
    // (its mode taken away), and, in a folder of this user's own, another
    // user's file or a symbolic link (the link itself, never followed), is
    // set aside as "<name>.aside[.N]" (when all nine are taken,
    // "<name>.aside.<random hex>"), never replacing or removing anything,
    // said in one line, and a new file built. A file cut short is made whole
    // again by the next holder.
    // False (nothing created; GetFailure tells why) when the name is empty
    // or holds '/', the shared bytes are more than kMaxSharedBytes or no
    // multiple of 8, another user's entry or a link stands in a folder not
    // this user's own, or no lock file could be made.
    bool Create(const wchar_t* name, uint32_t type, size_t sharedBytes = 0);
    bool CreateStr(const std::wstring& name, uint32_t type) { return Create(name.c_str(), type); }
    // Closes this process's descriptor; the lock file stays for the others.
    // A lock still held by the calling thread is released first. While
    // another thread of this process holds it or waits for it, nothing is
    // released and false is returned. True when nothing was created.
    bool Close();
    bool IsCreated() const { return m_created.load(); }
    // True when no lock file could be made because the user data directory
    // is unusable: the lock then excludes this process's threads only.
    bool IsInProcess() const { return m_inProcess; }
    // Why the last Create made no lock file, as it was told: "<lock file>:
    // <cause>"; empty when it made one or gave no cause.
    const std::string& GetFailure() const { return m_failure; }

    // Waits until this thread holds the lock (recursively). Across processes
    // it is a lock the kernel holds on the open file, not on its bytes: it
    // ends with the holder's process, and a file cut short, replaced by a
    // copy or deleted can neither fault a process nor carry a hold. Each
    // time this process takes the lock anew the name is looked at once it
    // is held: a file deleted or replaced since it was opened (a user
    // emptying the folder, a backup put back) is let go and the one the name
    // holds now is taken instead, so that this process shares the file
    // every other one opens now. When no file can be opened again, one that
    // was deleted whole stays in use. A file system that refuses file locks
    // (ENOLCK) leaves this hold to this process's threads, told once per
    // process; the next hold asks for the file lock again. False (printed)
    // when not created, the file refuses the lock, or another process held
    // it past the wait limit (kDefaultWaitLimitMs; kStuckWaitMs after a wait
    // that gave up, see there): the caller goes on without it or fails.
    bool Lock();
    // When the calling thread holds the lock: the wall-clock time (coarse,
    // as file times are stamped) at which its outermost hold began. A file
    // modified before that moment was last written by a holder that is gone
    // or by a writer outside this lock. False when the thread does not hold it.
    bool GetHeldSince(struct timespec* since) const;
    // False when not created or this thread does not hold the lock.
    bool Unlock();
    // The name is not kept in wide form.
    const wchar_t* GetName() const { return L""; }
    const char* GetFilePath() const { return m_path; }
    // The wait limit of every lock of this process, in milliseconds (tests
    // shorten it; it also forgets the last wait that gave up). Not below 1.
    static void SetWaitLimitMs(int ms);

    // Any thread, never waits for the lock: `bytes` of the shared bytes from
    // `offset`, as the file the name holds now holds them (read, never
    // mapped: a file cut short gives false, never a fault), so that a file
    // removed or replaced is seen before this process next takes the lock.
    // *files (may be null): how often the file read from changed since
    // Create (another file under the name, or one cut short and made whole
    // again): a count read from another file goes on from no earlier value.
    // *from (may be null): the device and inode of the file read from (both
    // 0 for a lock of this process only), so that values read by different
    // processes can be told to come from one file.
    // False when not created, out of range, or the file no longer holds them.
    bool ReadShared(size_t offset, void* out, size_t bytes, uint64_t* files = nullptr,
                    uint64_t from[2] = nullptr) const;
    // The calling thread holds the lock: adds `delta` to the 8-byte count at
    // `offset` of the shared bytes (a file cut short is made whole first).
    // False when not held, out of range or misaligned, or the file cannot
    // be read or written.
    bool AddShared(size_t offset, uint64_t delta);

    using t_locker = t_heldLock<t_processLock>;

private:
    // One opened lock file, known by its device and inode.
    struct t_file {
        int fd = -1;  // -1 for an in-process lock
        dev_t dev = 0;
        ino_t ino = 0;
        pid_t pid = 0;  // the process that opened it
    };

    bool OpenOrBuild(t_file& out);
    bool CreateInProcess(const char* name);
    // Tells "<lock file>: <why>" and keeps it for GetFailure. False.
    bool Refuse(const char* why);
    // The folder of the lock file is a folder owned by this user.
    bool InOwnFolder() const;
    // Moves what the name holds out of the way (see Create). `seen`: the
    // entry seen there that cannot serve (a regular file this user could
    // not open, `err`, or another user's, or a symbolic link), moved only
    // while the name still holds that very entry; null: an entry that is no
    // file.
    bool SetAside(const struct stat* seen = nullptr, int err = 0);
    // The holder of m_local: the file lock on the file in use, waited for
    // until `deadlineNs` (CLOCK_MONOTONIC). 0, ETIMEDOUT or the errno.
    int WaitForFileLock(int64_t deadlineNs);
    void UnlockFile();
    // The holder of m_local: takes the file lock on the file the name holds
    // (m_fileHeld tells whether it did: a file system refusing file locks
    // leaves this hold to this process's threads).
    bool TakeFileLock();
    // The holder of the file lock: gives a file cut short its length back
    // (a fresh mutex where its mutex went, the shared bytes zero).
    bool MendLocked();
    bool FileStillNamed() const;
    // The holder of m_local, not holding the file lock: the file the name
    // holds now replaces the one in use. False (the old one kept) when none
    // can be opened.
    bool Reopen();

    t_file m_file;  // changed by the holder of m_local, under m_fileGuard
    size_t m_bytes = sizeof(pthread_mutex_t);  // of the file: the mutex's room and the shared bytes
    std::atomic<bool> m_created{false};
    bool m_inProcess = false;
    char m_path[kPathBufBytes] = {};  // the lock file, multibyte
    std::string m_failure;            // see GetFailure
    uint32_t m_type = 0;              // kept for callers, not interpreted
    // This process's threads, one at a time: taken before the file lock,
    // which is taken once per outermost hold.
    std::recursive_mutex m_local;
    mutable std::mutex m_fileGuard;  // the fields below, and m_file for readers
    // A file the name holds that is not (yet) the one in use, opened to read
    // the shared bytes from.
    mutable t_file m_peek;
    mutable dev_t m_readDev = 0;  // the file the shared bytes were last read from
    mutable ino_t m_readIno = 0;
    mutable bool m_readValid = false;          // a value was read from it
    mutable bool m_readShort = false;          // it was found cut short since
    mutable uint64_t m_files = 0;              // see ReadShared
    uint8_t m_ownBytes[kMaxSharedBytes] = {};  // the shared bytes of an in-process lock
    bool m_reopenFailTold = false;             // holder of m_local
    std::atomic<bool> m_stuck{false};          // the last wait gave up
    bool m_fileHeld = false;                   // the outermost hold took the file lock
    std::atomic<int> m_holds{0};               // recursion depth held by this process
    std::atomic<int> m_waiters{0};             // threads waiting for m_local
    std::atomic<pthread_t> m_owner{};          // valid while m_holds > 0
    struct timespec m_heldSince = {};          // set by the owner when its hold begins
};

class t_recursiveLock {
public:
    t_recursiveLock() = default;
    ~t_recursiveLock() { Destroy(); }
    t_recursiveLock(const t_recursiveLock&) = delete;
    t_recursiveLock& operator=(const t_recursiveLock&) = delete;

    // Creates the recursive mutex (the name is not used). True when already
    // initialised; false (printed) when pthread refuses.
    bool Init(const wchar_t* name, uint32_t type);
    // True when not initialised or destroyed; false (printed) on failure.
    bool Destroy();
    bool IsInitialised() const { return m_initialised; }
    // False (printed) when not initialised or pthread refuses.
    bool Lock();
    bool Unlock();
    const wchar_t* GetName() const { return L""; }

    using t_locker = t_heldLock<t_recursiveLock>;

private:
    pthread_mutex_t m_mutex;
    bool m_initialised = false;
    uint32_t m_type = 0;  // kept for callers, not interpreted
};

// Replaces the fcntl call by which a lock file's lock is taken and let go
// (null: the system's), so that tests can have the file system refuse it.
using t_fileLockFn = int (*)(int fd, int cmd, struct flock* lock);
void SetFileLockFunction(t_fileLockFn fn);

// The kernel dictionary lock "ImeKernel_DictLocker" (type 1), taken by the
// kernel entry layer around every change of a dictionary.
// Creates it once; true when it already exists.
bool CreateDictLocker();
// Closes it when created (kernel shut-down).
void ReleaseDictLocker();
t_processLock& GetDictLocker();
