// The kernel's locks: t_processLock, a named recursive mutex shared by every
// process of the user (kept in a lock file under the user data directory),
// and t_recursiveLock, an in-process recursive mutex. Both may be locked from
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

    // Most bytes a lock file may share beside its mutex.
    static constexpr size_t kMaxSharedBytes = 64;

    // Opens (or, when missing, builds) the lock file "<user data dir>/<name>"
    // holding one robust, recursive, process-shared mutex, followed by
    // `sharedBytes` bytes (a multiple of 8, zero in a new file) that every
    // process of the user sees, and maps it. An
    // existing file is never re-initialised; it must be a regular file owned
    // by this user. Anything else there but a symbolic link (a FIFO, a
    // folder) is set aside as "<name>.aside[.N]" (when all nine are taken,
    // "<name>.aside.<random hex>"), never replacing or removing anything,
    // and a new file built.
    // A file of another size is replaced by a fresh one.
    // False (nothing created) when the name is empty or holds '/', the
    // shared bytes are more than kMaxSharedBytes or no multiple of 8, or the
    // entry is a link or another user's.
    bool Create(const wchar_t* name, uint32_t type, size_t sharedBytes = 0);
    bool CreateStr(const std::wstring& name, uint32_t type) { return Create(name.c_str(), type); }
    // Drops this process's mapping; the lock file stays for the others. A
    // lock still held by the calling thread is released first. While another
    // thread of this process holds it or waits for it, nothing is released
    // or unmapped and false is returned. True when nothing was created.
    bool Close();
    bool IsCreated() const { return m_created.load(); }
    // True when no lock file could be made because the user data directory
    // is unusable: the lock then excludes this process's threads only.
    bool IsInProcess() const { return m_inProcess; }

    // Blocks until this thread holds the lock (recursively). A holder that
    // died is recovered: the mutex is made consistent and the caller holds
    // it. A waiter killed on its way in never strands the others: waits run
    // in short slices that look at the mutex again. Each time this process
    // takes the lock anew the file is looked at, before its mutex is touched
    // and again once it is held: a file deleted, replaced or cut short since
    // it was opened (a user emptying the folder, a cleaning tool) is opened
    // again by its name, so that this process shares the file every other
    // one opens now, and a file cut short is never touched (its pages are
    // gone). When no file can be opened again, one that was deleted whole
    // stays in use. Three system calls a hold beside the mutex's. False
    // (printed) when not created or the mutex failed.
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

    // Any thread, never waits for the lock: `bytes` of the shared bytes from
    // `offset`, as the file holds them now (read, not mapped: a file cut
    // short gives an error, never a fault). *opened (may be null): how often
    // the lock file was opened again since Create. False when not created,
    // out of range, or the file no longer holds them.
    bool ReadShared(size_t offset, void* out, size_t bytes, uint64_t* opened = nullptr) const;
    // The calling thread holds the lock: adds `delta` to the 8-byte count at
    // `offset` of the shared bytes, atomically for the readers. False when
    // not held, out of range or misaligned, or the file was cut short.
    bool AddShared(size_t offset, uint64_t delta);

    using t_locker = t_heldLock<t_processLock>;

private:
    // One opened lock file: its mapping (the mutex first) and descriptor.
    struct t_file {
        pthread_mutex_t* mutex = nullptr;
        int fd = -1;  // -1 for an in-process lock
        dev_t dev = 0;
        ino_t ino = 0;
    };

    bool OpenOrBuild(t_file& out);
    bool CreateInProcess(const char* name);
    void* MapExisting(int fd);
    // Puts a fresh lock file in place of the one identified by dev/ino.
    bool ReplaceFile(dev_t dev, ino_t ino);
    bool SetAside();
    void Release(t_file& file);
    // The holder of m_local: the process-shared mutex, from a file that is
    // whole and still the one the name holds.
    bool TakeFileMutex();
    // The holder of m_local: the mapped file still holds every byte; the
    // name holds that file now, whole.
    bool FileWhole() const;
    bool FileStillNamed() const;
    // The holder of m_local, not holding the file's mutex: the file the name
    // holds now replaces the one in use. False (the old one kept) when none
    // can be opened.
    bool Reopen();
    int WaitForMutex();

    t_file m_file;  // changed by the holder of m_local, under m_fileGuard
    size_t m_bytes = sizeof(pthread_mutex_t);  // of the file: the mutex and the shared bytes
    std::atomic<bool> m_created{false};
    bool m_inProcess = false;
    char m_path[kPathBufBytes] = {};  // the lock file, multibyte
    uint32_t m_type = 0;              // kept for callers, not interpreted
    // This process's threads, one at a time: taken before the file's mutex,
    // which is taken once per outermost hold.
    std::recursive_mutex m_local;
    mutable std::mutex m_fileGuard;       // m_file, for those who do not hold m_local
    std::atomic<uint64_t> m_reopened{0};  // files opened again since Create
    bool m_reopenFailTold = false;        // holder of m_local
    std::atomic<int> m_holds{0};          // recursion depth held by this process
    std::atomic<int> m_waiters{0};        // threads waiting for m_local
    std::atomic<pthread_t> m_owner{};     // valid while m_holds > 0
    struct timespec m_heldSince = {};     // set by the owner when its hold begins
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

// The kernel dictionary lock "ImeKernel_DictLocker" (type 1), taken by the
// kernel entry layer around every change of a dictionary.
// Creates it once; true when it already exists.
bool CreateDictLocker();
// Closes it when created (kernel shut-down).
void ReleaseDictLocker();
t_processLock& GetDictLocker();
