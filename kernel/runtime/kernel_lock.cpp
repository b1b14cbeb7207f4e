// Process-shared lock files and in-process recursive locks.
//
// A lock file holds exactly one pthread mutex (robust, recursive,
// process-shared), then the bytes the processes share. It is built complete
// under a temporary name and published with link(), so no process ever sees
// a half-made file, and an existing file is never initialised again:
// re-initialising a mutex another process holds would let two processes in
// at once. A file deleted, replaced or cut short while processes use it is
// noticed when one takes the lock: it opens what the name holds then, so
// every process of the user comes back to one file.
#include "kernel/runtime/kernel_lock.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "kernel/runtime/codepage.h"
#include "kernel/runtime/dir_settings.h"
#include "kernel/runtime/fd_file.h"
#include "kernel/runtime/path.h"

namespace {

constexpr size_t kMutexBytes = sizeof(pthread_mutex_t);
// Attempts to open-or-publish before giving up (each loses only to a
// concurrent publisher or replacer).
constexpr int kOpenAttempts = 8;
// Longest a waiter sleeps before it looks at the mutex again (25 ms).
constexpr long kWaitSliceNs = 25L * 1000 * 1000;
// Numbered names tried for setting aside an entry that is no lock file,
// then random ones.
constexpr int kAsideNames = 9;
constexpr int kUniqueAsideTries = 8;

void PrintError(const char* what, int err) {
    fprintf(stderr, "%s: %s\n", what, strerror(err));
}

// Builds a complete lock file of `bytes` bytes (the mutex, then zeros)
// beside `path` under a temporary name; returns that name in `tmp`. False
// (nothing left behind) on any failure.
bool BuildLockFile(const char* path, size_t bytes, char* tmp, size_t tmpSize) {
    const int n = snprintf(tmp, tmpSize, "%s%sXXXXXX", path, kWriterTempMarker);
    if (n < 0 || static_cast<size_t>(n) >= tmpSize) return false;
    const int fd = mkostemp(tmp, O_CLOEXEC);  // 0600, O_EXCL
    if (fd < 0) {
        PrintError(tmp, errno);
        return false;
    }
    bool ok = false;
    void* map = MAP_FAILED;
    // The blocks are allocated before the mapping is written: a file with
    // a hole would raise SIGBUS at the first write on a full disk.
    if (const int err = ReserveFileBlocks(fd, int64_t(bytes))) {
        PrintError(tmp, err);
    } else if ((map = mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0)) ==
               MAP_FAILED) {
        PrintError(tmp, errno);
    } else {
        pthread_mutexattr_t attr;
        int r = pthread_mutexattr_init(&attr);
        if (r == 0) {
            if ((r = pthread_mutexattr_settype(&attr, PTHREAD_MUTEX_RECURSIVE)) == 0 &&
                (r = pthread_mutexattr_setpshared(&attr, PTHREAD_PROCESS_SHARED)) == 0 &&
                (r = pthread_mutexattr_setrobust(&attr, PTHREAD_MUTEX_ROBUST)) == 0) {
                r = pthread_mutex_init(static_cast<pthread_mutex_t*>(map), &attr);
            }
            pthread_mutexattr_destroy(&attr);
        }
        if (r != 0) PrintError("pthread_mutex_init", r);
        ok = r == 0 && msync(map, bytes, MS_SYNC) == 0;
        munmap(map, bytes);
    }
    if (close(fd) != 0) ok = false;
    if (!ok) unlink(tmp);
    return ok;
}

}  // namespace

// ---- t_processLock -------------------------------------------------------

bool t_processLock::Create(const wchar_t* name, uint32_t type, size_t sharedBytes) {
    if (m_created.load() && !Close()) return false;
    m_type = type;
    if (!name || !*name || sharedBytes % 8 != 0 || sharedBytes > kMaxSharedBytes) return false;
    m_bytes = kMutexBytes + sharedBytes;
    char utf8[kPathBufBytes];
    size_t capacity = sizeof utf8 - 1;
    if (!WideToBytesUtf8(name, utf8, capacity)) return false;
    utf8[capacity] = '\0';
    // The name is one file name inside the data directory, never a path.
    if (strchr(utf8, '/') || strcmp(utf8, ".") == 0 || strcmp(utf8, "..") == 0) {
        fprintf(stderr, "bad lock name %s\n", utf8);
        return false;
    }
    char dir[kPathBufBytes];
    if (!GetUserDataDir(dir, sizeof dir)) return CreateInProcess(utf8);
    const int n = snprintf(m_path, sizeof m_path, "%s/%s", dir, utf8);
    // Room for the suffix of the temporary name is kept as well.
    if (n < 0 || static_cast<size_t>(n) + kWriterTempSuffixBytes + 1 >= sizeof m_path) {
        fprintf(stderr, "lock path too long: %s/%s\n", dir, utf8);
        m_path[0] = '\0';
        return false;
    }
    t_file file;
    if (!OpenOrBuild(file)) {
        m_path[0] = '\0';
        return false;
    }
    {
        std::lock_guard<std::mutex> guard(m_fileGuard);
        m_file = file;
        m_reopened.store(0);
    }
    m_reopenFailTold = false;
    m_created.store(true);
    return true;
}

// Without a usable data directory no lock file can be shared with other
// processes (they cannot make one either); the lock then guards this
// process's threads, so the kernel still starts instead of failing whole.
// The shared bytes are this process's own.
bool t_processLock::CreateInProcess(const char* name) {
    snprintf(m_path, sizeof m_path, "%s", name);
    void* map = mmap(nullptr, m_bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (map == MAP_FAILED) {
        PrintError(m_path, errno);
        m_path[0] = '\0';
        return false;
    }
    // Not told here: the data directory's failure was told once already,
    // and every lock of a start would repeat it.
    {
        std::lock_guard<std::mutex> guard(m_fileGuard);
        m_file = t_file{static_cast<pthread_mutex_t*>(map), -1, 0, 0};
        m_reopened.store(0);
    }
    m_inProcess = true;
    m_created.store(true);
    return true;
}

bool t_processLock::OpenOrBuild(t_file& out) {
    for (int attempt = 0; attempt < kOpenAttempts; ++attempt) {
        // Non-blocking, so that a FIFO or device there never holds the open.
        const int fd = open(m_path, O_RDWR | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
        if (fd < 0 && (errno == EISDIR || errno == ENXIO || errno == EOPNOTSUPP)) {
            // A folder or socket in the lock file's place.
            if (!SetAside()) return false;
            continue;
        }
        if (fd >= 0) {
            struct stat st;
            if (fstat(fd, &st) != 0) {
                PrintError(m_path, errno);
                close(fd);
                return false;
            }
            if (!S_ISREG(st.st_mode)) {
                close(fd);
                if (!SetAside()) return false;
                continue;
            }
            if (st.st_uid != geteuid()) {
                fprintf(stderr, "%s: not a lock file of this user\n", m_path);
                close(fd);
                return false;
            }
            if (st.st_size != static_cast<off_t>(m_bytes)) {
                // Not one of ours (published files are always complete):
                // put a fresh one in its place. A process that holds it
                // notices at its next lock and opens the fresh one too.
                fprintf(stderr, "%s: lock file of wrong size replaced\n", m_path);
                close(fd);
                if (!ReplaceFile(st.st_dev, st.st_ino)) return false;
                continue;
            }
            // A file of the right size may still hold a hole (made by
            // another tool): its blocks are made sure of before it is
            // written through the mapping.
            if (const int err = ReserveFileBlocks(fd, int64_t(m_bytes))) {
                PrintError(m_path, err);
                close(fd);
                return false;
            }
            void* map = MapExisting(fd);
            if (!map) {
                close(fd);
                return false;
            }
            // The descriptor stays: the file is looked at through it before
            // its mapping is touched, and the shared bytes are read from it.
            out = t_file{static_cast<pthread_mutex_t*>(map), fd, st.st_dev, st.st_ino};
            return true;
        }
        if (errno == ELOOP) {
            fprintf(stderr, "%s: lock file is a symbolic link, refused\n", m_path);
            return false;
        }
        if (errno != ENOENT) {
            PrintError(m_path, errno);
            return false;
        }
        char tmp[kPathBufBytes];
        if (!BuildLockFile(m_path, m_bytes, tmp, sizeof tmp)) return false;
        // link() never replaces: when another process published first
        // (EEXIST) its file is the one everybody uses.
        const int linked = link(tmp, m_path);
        const int err = errno;
        unlink(tmp);
        if (linked != 0 && err != EEXIST) {
            PrintError(m_path, err);
            return false;
        }
    }
    fprintf(stderr, "%s: lock file keeps changing, giving up\n", m_path);
    return false;
}

namespace {

// "<path>.aside" for n = 1, "<path>.aside.<n>" after; false when it does not fit.
bool AsideName(const char* path, int n, char* out, size_t size) {
    const int len = n == 1 ? snprintf(out, size, "%s.aside", path)
                           : snprintf(out, size, "%s.aside.%d", path, n);
    return len >= 0 && size_t(len) < size;
}

// Renames from to to unless something is at to: 0, or the errno (EEXIST
// when the name is taken).
int RenameWithoutReplacing(const char* from, const char* to) {
    if (renameat2(AT_FDCWD, from, AT_FDCWD, to, RENAME_NOREPLACE) == 0) return 0;
    if (errno != EINVAL) return errno;
    // A file system without the flag: the name is checked first.
    struct stat taken;
    if (lstat(to, &taken) == 0) return EEXIST;
    return rename(from, to) == 0 ? 0 : errno;
}

// "<path>.aside.<12 random hex digits>": a name no numbered one takes and
// nobody can foresee. False when it does not fit.
bool UniqueAsideName(const char* path, char* out, size_t size) {
    uint8_t bytes[6] = {};
    if (getrandom(bytes, sizeof bytes, GRND_NONBLOCK) != ssize_t(sizeof bytes)) {
        // Without the generator: still a fresh name most of the time, and
        // the rename never replaces what holds it.
        struct timespec now;
        clock_gettime(CLOCK_REALTIME, &now);
        const uint64_t mix =
            uint64_t(now.tv_nsec) ^ (uint64_t(now.tv_sec) << 20) ^ (uint64_t(getpid()) << 30);
        memcpy(bytes, &mix, sizeof bytes);
    }
    char hex[2 * sizeof bytes + 1];
    for (size_t i = 0; i < sizeof bytes; ++i) snprintf(hex + 2 * i, 3, "%02x", bytes[i]);
    const int len = snprintf(out, size, "%s.aside.%s", path, hex);
    return len >= 0 && size_t(len) < size;
}

}  // namespace

// Moves what stands in the lock file's place and is no file (a FIFO, a
// folder, a socket, a device) to "<lock file>.aside[.N]", never replacing
// anything, so the next open builds a fresh lock file; the entry is kept for
// whoever made it. When every numbered name is taken, it goes to a new name
// of random digits: what was set aside before may hold the user's files (a
// file system mounted in a folder), and is never removed. A symbolic link is
// never moved (the open refused it before). True when it was moved or is
// gone already.
bool t_processLock::SetAside() {
    struct stat st;
    if (lstat(m_path, &st) != 0) return errno == ENOENT;
    if (S_ISREG(st.st_mode) || S_ISLNK(st.st_mode)) return true;  // replaced meanwhile
    for (int n = 1; n <= kAsideNames + kUniqueAsideTries; ++n) {
        char aside[kPathBufBytes + 32];
        if (n <= kAsideNames ? !AsideName(m_path, n, aside, sizeof aside)
                             : !UniqueAsideName(m_path, aside, sizeof aside))
            break;
        const int err = RenameWithoutReplacing(m_path, aside);
        if (err == 0) {
            fprintf(stderr, "%s: not a lock file, set aside as %s\n", m_path, aside);
            return true;
        }
        if (err == ENOENT) return true;  // another process set it aside
        if (err != EEXIST) {
            PrintError(m_path, err);
            return false;
        }
    }
    fprintf(stderr, "%s: not a lock file, and no name left to set it aside\n", m_path);
    return false;
}

void* t_processLock::MapExisting(int fd) {
    void* map = mmap(nullptr, m_bytes, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    if (map == MAP_FAILED) {
        PrintError(m_path, errno);
        return nullptr;
    }
    return map;
}

// Puts a freshly built lock file in place of the one last seen (identified
// by dev/ino). When somebody else has already replaced it, theirs stays.
bool t_processLock::ReplaceFile(dev_t dev, ino_t ino) {
    char tmp[kPathBufBytes];
    if (!BuildLockFile(m_path, m_bytes, tmp, sizeof tmp)) return false;
    struct stat st;
    if (lstat(m_path, &st) == 0 && st.st_dev == dev && st.st_ino == ino) {
        if (rename(tmp, m_path) != 0) {
            PrintError(m_path, errno);
            unlink(tmp);
            return false;
        }
        return true;
    }
    unlink(tmp);
    return true;
}

void t_processLock::Release(t_file& file) {
    if (file.mutex) munmap(file.mutex, m_bytes);
    if (file.fd >= 0) close(file.fd);
    file = t_file();
}

bool t_processLock::Close() {
    if (!m_created.load()) return true;
    // Unmapping under another thread would leave it with a dangling mutex.
    if (!m_local.try_lock()) {
        fprintf(stderr, "%s: close refused while another thread uses the lock\n", m_path);
        return false;
    }
    if (m_waiters.load() > 0) {
        m_local.unlock();
        fprintf(stderr, "%s: close refused while another thread uses the lock\n", m_path);
        return false;
    }
    // Holds left are this thread's own; each ends even when the file's
    // mutex refuses.
    while (m_holds.load() > 0) Unlock();
    {
        std::lock_guard<std::mutex> guard(m_fileGuard);
        Release(m_file);
    }
    m_created.store(false);
    m_inProcess = false;
    m_path[0] = '\0';
    m_local.unlock();
    return true;
}

// Waits in bounded slices. A waiter that the unlocker woke can be killed
// before it takes the mutex; the futex then never wakes the next sleeper
// although the mutex is free. Each slice ends with a fresh attempt, so such
// a lost wake-up costs one slice instead of blocking forever.
int t_processLock::WaitForMutex() {
    for (;;) {
        struct timespec until;
        clock_gettime(CLOCK_MONOTONIC, &until);
        until.tv_nsec += kWaitSliceNs;
        if (until.tv_nsec >= 1000000000L) {
            until.tv_nsec -= 1000000000L;
            ++until.tv_sec;
        }
        const int r = pthread_mutex_clocklock(m_file.mutex, CLOCK_MONOTONIC, &until);
        if (r != ETIMEDOUT) return r;
    }
}

bool t_processLock::FileWhole() const {
    struct stat st;
    return fstat(m_file.fd, &st) == 0 && st.st_size >= off_t(m_bytes);
}

bool t_processLock::FileStillNamed() const {
    struct stat named;
    // A name that cannot be looked at for another reason (no permission)
    // tells nothing: the file stays in use.
    if (lstat(m_path, &named) != 0) return errno != ENOENT && errno != ENOTDIR;
    return named.st_dev == m_file.dev && named.st_ino == m_file.ino &&
           named.st_size >= off_t(m_bytes);
}

bool t_processLock::Reopen() {
    // The folder goes with its files when the user empties it whole; one
    // that cannot be made again (its parent gone too) is not tried.
    char folder[kPathBufBytes];
    snprintf(folder, sizeof folder, "%s", m_path);
    if (char* slash = strrchr(folder, '/')) *slash = '\0';
    t_file fresh;
    if ((mkdir(folder, 0700) != 0 && errno != EEXIST) || !OpenOrBuild(fresh)) {
        if (!m_reopenFailTold)
            fprintf(stderr, "%s: lock file gone and not made again; the old one stays\n", m_path);
        m_reopenFailTold = true;
        return false;
    }
    t_file stale;
    {
        std::lock_guard<std::mutex> guard(m_fileGuard);
        stale = m_file;
        m_file = fresh;
        m_reopened.fetch_add(1);
    }
    // Nobody in this process uses the old mutex: this thread alone may
    // take it, and it does not hold it.
    Release(stale);
    fprintf(stderr, "%s: lock file removed, replaced or cut short; opened again\n", m_path);
    m_reopenFailTold = false;
    return true;
}

bool t_processLock::TakeFileMutex() {
    if (m_inProcess) return true;  // m_local is the whole lock
    // Set once the file went and no other could be opened: it stays in use.
    bool keep = false;
    for (int attempt = 0; attempt < kOpenAttempts; ++attempt) {
        // A file cut short has no mutex left: its mapping is never touched.
        if (!FileWhole()) {
            if (Reopen()) continue;
            return false;
        }
        const int r = WaitForMutex();
        if (r == EOWNERDEAD) {
            // The previous holder died inside its critical section; its
            // work was cut short but the files it guards are replaced
            // atomically, so the lock can carry on.
            pthread_mutex_consistent(m_file.mutex);
            fprintf(stderr, "%s: previous holder died; lock recovered\n", m_path);
        } else if (r == ENOTRECOVERABLE) {
            // A dead holder's mutex was released without being made
            // consistent: the mutex is unusable for good. Replace the file
            // and take the new one.
            fprintf(stderr, "%s: lock not recoverable; replacing lock file\n", m_path);
            if (!ReplaceFile(m_file.dev, m_file.ino) || !Reopen()) return false;
            continue;
        } else if (r != 0) {
            PrintError(m_path, r);
            return false;
        }
        // Looked at under the lock: a file deleted or replaced since it was
        // opened is no longer the one another process opens now, and its
        // mutex would not keep that one out.
        if (keep || FileStillNamed()) return true;
        if (FileWhole()) pthread_mutex_unlock(m_file.mutex);
        if (!Reopen()) keep = true;
    }
    fprintf(stderr, "%s: lock file keeps changing, giving up\n", m_path);
    return false;
}

bool t_processLock::Lock() {
    if (!m_created.load()) return false;
    m_waiters.fetch_add(1);
    m_local.lock();
    m_waiters.fetch_sub(1);
    if (!m_created.load()) {  // closed while this thread waited
        m_local.unlock();
        return false;
    }
    if (m_holds.load() > 0) {  // this thread holds it already
        m_holds.fetch_add(1);
        return true;
    }
    if (!TakeFileMutex()) {
        m_local.unlock();
        return false;
    }
    // The file system stamps files with the coarse clock.
    clock_gettime(CLOCK_REALTIME_COARSE, &m_heldSince);
    m_owner.store(pthread_self());
    m_holds.store(1);
    return true;
}

bool t_processLock::GetHeldSince(struct timespec* since) const {
    if (!since || m_holds.load() <= 0 || m_owner.load() != pthread_self()) return false;
    *since = m_heldSince;
    return true;
}

bool t_processLock::Unlock() {
    if (!m_created.load()) return false;
    if (m_holds.load() <= 0 || m_owner.load() != pthread_self()) return false;
    bool released = true;
    if (m_holds.load() == 1 && !m_inProcess) {
        // The hold of this process ends whatever the file's mutex says: a
        // thread that could not let go would keep every other one out.
        if (!FileWhole()) {
            // Cut short while held: the mutex went with the file's pages.
            fprintf(stderr, "%s: lock file cut short while held\n", m_path);
        } else if (const int r = pthread_mutex_unlock(m_file.mutex)) {
            PrintError(m_path, r);
            released = false;
        }
    }
    if (m_holds.fetch_sub(1) == 1) m_owner.store(pthread_t{});
    m_local.unlock();
    return released;
}

bool t_processLock::ReadShared(size_t offset, void* out, size_t bytes, uint64_t* opened) const {
    if (!out || !m_created.load()) return false;
    const size_t shared = m_bytes - kMutexBytes;
    if (offset > shared || bytes > shared - offset) return false;
    std::lock_guard<std::mutex> guard(m_fileGuard);
    if (opened) *opened = m_reopened.load();
    if (!m_file.mutex) return false;
    if (m_file.fd < 0) {  // in-process: the writer holds this guard too
        memcpy(out, reinterpret_cast<const uint8_t*>(m_file.mutex) + kMutexBytes + offset, bytes);
        return true;
    }
    return pread(m_file.fd, out, bytes, off_t(kMutexBytes + offset)) == ssize_t(bytes);
}

bool t_processLock::AddShared(size_t offset, uint64_t delta) {
    const size_t shared = m_bytes - kMutexBytes;
    if (offset % 8 != 0 || offset > shared || shared - offset < 8) return false;
    if (m_holds.load() <= 0 || m_owner.load() != pthread_self()) return false;
    std::lock_guard<std::mutex> guard(m_fileGuard);
    if (!m_file.mutex || (m_file.fd >= 0 && !FileWhole())) return false;
    auto* word = reinterpret_cast<uint64_t*>(reinterpret_cast<uint8_t*>(m_file.mutex) +
                                             kMutexBytes + offset);
    std::atomic_ref<uint64_t>(*word).fetch_add(delta);
    return true;
}

// ---- t_recursiveLock -----------------------------------------------------

bool t_recursiveLock::Init(const wchar_t*, uint32_t type) {
    m_type = type;
    if (m_initialised) return true;
    pthread_mutexattr_t attr;
    int r = pthread_mutexattr_init(&attr);
    if (r == 0) {
        r = pthread_mutexattr_settype(&attr, PTHREAD_MUTEX_RECURSIVE);
        if (r == 0) r = pthread_mutex_init(&m_mutex, &attr);
        pthread_mutexattr_destroy(&attr);
    }
    if (r != 0) {
        PrintError("pthread_mutex_init", r);
        return false;
    }
    m_initialised = true;
    return true;
}

bool t_recursiveLock::Destroy() {
    if (!m_initialised) return true;
    const int r = pthread_mutex_destroy(&m_mutex);
    if (r != 0) {
        PrintError("pthread_mutex_destroy", r);
        return false;
    }
    m_initialised = false;
    return true;
}

bool t_recursiveLock::Lock() {
    if (!m_initialised) return false;
    const int r = pthread_mutex_lock(&m_mutex);
    if (r != 0) PrintError("pthread_mutex_lock", r);
    return r == 0;
}

bool t_recursiveLock::Unlock() {
    if (!m_initialised) return false;
    const int r = pthread_mutex_unlock(&m_mutex);
    if (r != 0) PrintError("pthread_mutex_unlock", r);
    return r == 0;
}

// ---- kernel dictionary lock ----------------------------------------------

t_processLock& GetDictLocker() {
    static t_processLock lock;
    return lock;
}

bool CreateDictLocker() {
    t_processLock& lock = GetDictLocker();
    if (lock.IsCreated()) return true;
    std::wstring name;
    MakeSafeFileName(L"ImeKernel", L"_DictLocker", name);
    return lock.Create(name.c_str(), 1);
}

void ReleaseDictLocker() {
    t_processLock& lock = GetDictLocker();
    if (lock.IsCreated()) lock.Close();
}
