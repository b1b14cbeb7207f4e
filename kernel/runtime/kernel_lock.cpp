// Process-shared lock files and in-process recursive locks.
//
// Processes exclude each other with an open-file-description lock on the
// lock file they keep open: the kernel drops it when the holder's process
// ends, and neither cutting the file short nor copying it can fault a
// process or carry a hold, as a mutex inside the file could. The file still
// starts with room for one pthread mutex, initialised when the file is
// built and never touched again here: a process of an earlier build that
// maps the file and locks that mutex keeps working beside this one (the two
// do not exclude each other). The bytes after it, which the processes
// share, are only read and written with pread and pwrite. A file is built
// complete under a temporary name and published with link(), so no process
// sees a half-made one. A file deleted or replaced while processes use it
// is noticed when one takes the lock: it opens what the name holds then, so
// every process of the user comes back to one file.
#include "kernel/runtime/kernel_lock.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <vector>

#include "kernel/runtime/codepage.h"
#include "kernel/runtime/dir_settings.h"
#include "kernel/runtime/fd_file.h"
#include "kernel/runtime/path.h"

namespace {

constexpr size_t kMutexBytes = sizeof(pthread_mutex_t);
// Attempts to open-or-publish before giving up (each loses only to a
// concurrent publisher or replacer).
constexpr int kOpenAttempts = 8;
// A waiter tries the file lock again after this long at first, then twice
// as long each time up to the longest pause.
constexpr long kFirstPauseNs = 50L * 1000;
constexpr long kLongestPauseNs = 10L * 1000 * 1000;
// Numbered names tried for setting aside an entry that is no lock file,
// then random ones.
constexpr int kAsideNames = 9;
constexpr int kUniqueAsideTries = 8;

std::atomic<int> g_waitLimitMs{t_processLock::kDefaultWaitLimitMs};
// A file lock refused by the file system was told: one line per process,
// not one per lock and hold (the locks share one folder).
std::atomic<bool> g_locklessTold{false};
// When a wait of this process last gave up (CLOCK_MONOTONIC, ms; 0: never).
std::atomic<int64_t> g_gaveUpAtMs{0};

int64_t MonotonicNs() {
    struct timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return int64_t(t.tv_sec) * 1000000000 + t.tv_nsec;
}

int64_t MonotonicMs() {
    return MonotonicNs() / 1000000;
}

void PrintError(const char* what, int err) {
    fprintf(stderr, "%s: %s\n", what, strerror(err));
}

std::atomic<t_fileLockFn> g_fileLockFn{nullptr};

// The lock on the whole file, taken or let go without waiting.
int FileLockCall(int fd, short type) {
    struct flock lock = {};
    lock.l_type = type;
    lock.l_whence = SEEK_SET;
    lock.l_start = 0;
    lock.l_len = 0;  // to the end, however long the file grows
    const t_fileLockFn call = g_fileLockFn.load();
    const int r = call ? call(fd, F_OFD_SETLK, &lock) : fcntl(fd, F_OFD_SETLK, &lock);
    return r == 0 ? 0 : errno;
}

// The bytes of an unlocked robust, recursive, process-shared mutex, as a
// process of an earlier build expects to find at the start of the file.
bool FreshMutexImage(uint8_t* out) {
    pthread_mutex_t mutex;
    pthread_mutexattr_t attr;
    int r = pthread_mutexattr_init(&attr);
    if (r == 0) {
        if ((r = pthread_mutexattr_settype(&attr, PTHREAD_MUTEX_RECURSIVE)) == 0 &&
            (r = pthread_mutexattr_setpshared(&attr, PTHREAD_PROCESS_SHARED)) == 0 &&
            (r = pthread_mutexattr_setrobust(&attr, PTHREAD_MUTEX_ROBUST)) == 0)
            r = pthread_mutex_init(&mutex, &attr);
        pthread_mutexattr_destroy(&attr);
    }
    if (r != 0) {
        PrintError("pthread_mutex_init", r);
        return false;
    }
    memcpy(out, &mutex, kMutexBytes);
    pthread_mutex_destroy(&mutex);
    return true;
}

bool WriteAll(int fd, const uint8_t* data, size_t n, off_t at) {
    while (n > 0) {
        const ssize_t w = pwrite(fd, data, n, at);
        if (w < 0 && errno == EINTR) continue;
        if (w <= 0) return false;
        data += w;
        n -= size_t(w);
        at += w;
    }
    return true;
}

// Builds a complete lock file of `bytes` bytes (the mutex, then zeros)
// beside `path` under a temporary name; returns that name in `tmp`. 0, or
// the errno (nothing left behind) of any failure.
int BuildLockFile(const char* path, size_t bytes, char* tmp, size_t tmpSize) {
    const int n = snprintf(tmp, tmpSize, "%s%sXXXXXX", path, kWriterTempMarker);
    if (n < 0 || static_cast<size_t>(n) >= tmpSize) return ENAMETOOLONG;
    const int fd = mkostemp(tmp, O_CLOEXEC);  // 0600, O_EXCL
    if (fd < 0) return errno;
    std::vector<uint8_t> image(bytes, 0);
    // The blocks are allocated first, so a full disk is told here rather
    // than as a short write.
    int err = ReserveFileBlocks(fd, int64_t(bytes));
    if (err == 0 && !FreshMutexImage(image.data())) err = EINVAL;
    errno = 0;
    if (err == 0 && (!WriteAll(fd, image.data(), bytes, 0) || fdatasync(fd) != 0))
        err = errno ? errno : EIO;
    if (close(fd) != 0 && err == 0) err = errno;
    if (err != 0) unlink(tmp);
    return err;
}

}  // namespace

// ---- t_processLock -------------------------------------------------------

void SetFileLockFunction(t_fileLockFn fn) {
    g_fileLockFn.store(fn);
}

void t_processLock::SetWaitLimitMs(int ms) {
    g_waitLimitMs.store(ms < 1 ? 1 : ms);
    g_gaveUpAtMs.store(0);
}

bool t_processLock::Create(const wchar_t* name, uint32_t type, size_t sharedBytes) {
    if (m_created.load() && !Close()) return false;
    m_failure.clear();
    m_type = type;
    if (!name || !*name || sharedBytes % 8 != 0 || sharedBytes > kMaxSharedBytes) return false;
    m_bytes = kMutexBytes + sharedBytes;
    char utf8[kPathBufBytes];
    size_t capacity = sizeof utf8 - 1;
    if (!WideToBytesUtf8(name, utf8, capacity)) return false;
    utf8[capacity] = '\0';
    // The name is one file name inside the data directory, never a path.
    if (strchr(utf8, '/') || strcmp(utf8, ".") == 0 || strcmp(utf8, "..") == 0) {
        m_failure = std::string("bad lock name ") + utf8;
        fprintf(stderr, "%s\n", m_failure.c_str());
        return false;
    }
    char dir[kPathBufBytes];
    if (!GetUserDataDir(dir, sizeof dir)) return CreateInProcess(utf8);
    const int n = snprintf(m_path, sizeof m_path, "%s/%s", dir, utf8);
    // Room for the suffix of the temporary name is kept as well.
    if (n < 0 || static_cast<size_t>(n) + kWriterTempSuffixBytes + 1 >= sizeof m_path) {
        m_failure = std::string("lock path too long: ") + dir + "/" + utf8;
        fprintf(stderr, "%s\n", m_failure.c_str());
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
        m_readDev = file.dev;
        m_readIno = file.ino;
        m_readShort = m_readValid = false;
        m_files = 0;
    }
    m_reopenFailTold = false;
    m_stuck.store(false);
    m_created.store(true);
    return true;
}

// Without a usable data directory no lock file can be shared with other
// processes (they cannot make one either); the lock then guards this
// process's threads, so the kernel still starts instead of failing whole.
// The shared bytes are this process's own.
bool t_processLock::CreateInProcess(const char* name) {
    snprintf(m_path, sizeof m_path, "%s", name);
    // Not told here: the data directory's failure was told once already,
    // and every lock of a start would repeat it.
    {
        std::lock_guard<std::mutex> guard(m_fileGuard);
        m_file = t_file();
        memset(m_ownBytes, 0, sizeof m_ownBytes);
        m_files = 0;
    }
    m_inProcess = true;
    m_created.store(true);
    return true;
}

bool t_processLock::Refuse(const char* why) {
    const std::string told = std::string(m_path) + ": " + why;
    fprintf(stderr, "%s\n", told.c_str());
    // Kept from Create only, which runs before other threads use the lock.
    if (!m_created.load()) m_failure = told;
    return false;
}

// As the user data folder is judged: a folder owned by this user, where
// renaming an entry takes no right on the entry and moves nothing out of
// another user's folder.
bool t_processLock::InOwnFolder() const {
    char folder[kPathBufBytes];
    snprintf(folder, sizeof folder, "%s", m_path);
    if (char* slash = strrchr(folder, '/')) *slash = '\0';
    struct stat st;
    return stat(folder, &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == geteuid();
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
                const int err = errno;
                close(fd);
                return Refuse(strerror(err));
            }
            if (!S_ISREG(st.st_mode)) {
                close(fd);
                if (!SetAside()) return false;
                continue;
            }
            if (st.st_uid != geteuid()) {
                // Another user's file that this process may open all the
                // same (root opens any) goes as one it may not open does.
                close(fd);
                if (!InOwnFolder()) return Refuse("not a lock file of this user");
                if (!SetAside(&st)) return false;
                continue;
            }
            // Whatever its length: one cut short is made whole by the next
            // holder, under the lock.
            out = t_file{fd, st.st_dev, st.st_ino, getpid()};
            return true;
        }
        if (errno == ELOOP) {
            // The link itself is looked at and moved, never what it names.
            struct stat link;
            if (lstat(m_path, &link) != 0) {
                if (errno == ENOENT) continue;  // gone since the open
                return Refuse(strerror(errno));
            }
            if (!S_ISLNK(link.st_mode)) continue;  // replaced since the open
            if (!InOwnFolder()) return Refuse("lock file is a symbolic link, refused");
            if (!SetAside(&link)) return false;
            continue;
        }
        if (errno == EACCES || errno == EPERM) {
            // A file that this user may not open (its mode taken away, or
            // another user's left by a program run as root) cannot serve:
            // set aside, as a folder is. It counts as such only when a
            // second open fails on the same file, so that a fresh one
            // another process put there meanwhile is never taken for it.
            const int err = errno;
            struct stat seen;
            if (lstat(m_path, &seen) != 0) {
                // Set aside by another process since the open: the name is
                // opened again.
                if (errno == ENOENT) continue;
                return Refuse(strerror(errno));
            }
            if (S_ISLNK(seen.st_mode)) continue;  // put there since the open
            if (S_ISREG(seen.st_mode)) {
                const int again =
                    open(m_path, O_RDWR | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
                if (again >= 0) {
                    close(again);
                    continue;
                }
                if (errno != EACCES && errno != EPERM) continue;  // gone or changed
                if (seen.st_uid != geteuid() && !InOwnFolder()) return Refuse(strerror(err));
                if (!SetAside(&seen, err)) return false;
                continue;
            }
            errno = err;
        }
        if (errno != ENOENT) return Refuse(strerror(errno));
        char tmp[kPathBufBytes];
        if (const int err = BuildLockFile(m_path, m_bytes, tmp, sizeof tmp))
            return Refuse(strerror(err));
        // link() never replaces: when another process published first
        // (EEXIST) its file is the one everybody uses.
        const int linked = link(tmp, m_path);
        const int err = errno;
        unlink(tmp);
        if (linked != 0 && err != EEXIST) return Refuse(strerror(err));
    }
    return Refuse("lock file keeps changing, giving up");
}

namespace {

bool SameFile(const struct stat& a, const struct stat& b) {
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// "<path>.aside" for n = 1, "<path>.aside.<n>" after; false when it does not fit.
bool AsideName(const char* path, int n, char* out, size_t size) {
    const int len = n == 1 ? snprintf(out, size, "%s.aside", path)
                           : snprintf(out, size, "%s.aside.%d", path, n);
    return len >= 0 && size_t(len) < size;
}

// "<path>.aside.<12 random hex digits>": a name no numbered one takes and
// nobody can foresee. False when it does not fit.
bool UniqueAsideName(const char* path, char* out, size_t size) {
    const int len = snprintf(out, size, "%s.aside.%s", path, UnforeseenHex(6).c_str());
    return len >= 0 && size_t(len) < size;
}

// "uid <n>", with the user's name when the system knows it.
std::string OwnerText(uid_t uid) {
    std::string text = "uid " + std::to_string(uid);
    char buf[4096];
    struct passwd pw;
    struct passwd* found = nullptr;
    if (getpwuid_r(uid, &pw, buf, sizeof buf, &found) == 0 && found && found->pw_name)
        text += std::string(", ") + found->pw_name;
    return text;
}

}  // namespace

// Moves what stands in the lock file's place and cannot serve (a FIFO, a
// folder, a socket, a device; a file of this user it could not open;
// another user's file; a symbolic link, as a link) to
// "<lock file>.aside[.N]", never replacing anything, so the next open
// builds a fresh lock file; the entry is kept for whoever made it. When
// every numbered name is taken, it goes to a new name of random digits:
// what was set aside before may hold the user's files (a file system
// mounted in a folder), and is never removed. A rename moves the entry
// itself: a link's target is never opened or changed. True when it was
// moved or is gone already.
bool t_processLock::SetAside(const struct stat* seen, int err) {
    struct stat st;
    if (lstat(m_path, &st) != 0) return errno == ENOENT;
    // Replaced meanwhile: the open is tried again on what is there now.
    if (seen ? !SameFile(st, *seen) : S_ISLNK(st.st_mode) || S_ISREG(st.st_mode)) return true;
    for (int n = 1; n <= kAsideNames + kUniqueAsideTries; ++n) {
        char aside[kPathBufBytes + 32];
        if (n <= kAsideNames ? !AsideName(m_path, n, aside, sizeof aside)
                             : !UniqueAsideName(m_path, aside, sizeof aside))
            break;
        const int moved = RenameWithoutReplacing(m_path, aside);
        if (moved == 0 && seen) {
            // Between the look and the move the name may have come to hold
            // another process's fresh lock file: that one goes back.
            struct stat went;
            if (lstat(aside, &went) != 0 || !SameFile(went, *seen)) {
                RenameWithoutReplacing(aside, m_path);
                return true;
            }
            if (S_ISLNK(seen->st_mode))
                fprintf(stderr, "%s: lock file is a symbolic link, set aside as %s\n", m_path,
                        aside);
            else if (seen->st_uid != geteuid())
                fprintf(stderr, "%s: lock file of another user (%s), set aside as %s\n", m_path,
                        OwnerText(seen->st_uid).c_str(), aside);
            else
                fprintf(stderr, "%s: lock file this user cannot open (%s), set aside as %s\n",
                        m_path, strerror(err), aside);
            return true;
        }
        if (moved == 0) {
            fprintf(stderr, "%s: not a lock file, set aside as %s\n", m_path, aside);
            return true;
        }
        if (moved == ENOENT) return true;  // another process set it aside
        if (moved != EEXIST) return Refuse(strerror(moved));
    }
    return Refuse("not a lock file, and no name left to set it aside");
}

bool t_processLock::Close() {
    if (!m_created.load()) return true;
    // Closing under another thread would leave it with a dead descriptor.
    if (!m_local.try_lock()) {
        fprintf(stderr, "%s: close refused while another thread uses the lock\n", m_path);
        return false;
    }
    if (m_waiters.load() > 0) {
        m_local.unlock();
        fprintf(stderr, "%s: close refused while another thread uses the lock\n", m_path);
        return false;
    }
    // Holds left are this thread's own.
    while (m_holds.load() > 0) Unlock();
    {
        std::lock_guard<std::mutex> guard(m_fileGuard);
        if (m_file.fd >= 0) close(m_file.fd);
        if (m_peek.fd >= 0) close(m_peek.fd);
        m_file = m_peek = t_file();
    }
    m_created.store(false);
    m_inProcess = false;
    m_path[0] = '\0';
    m_local.unlock();
    return true;
}

// The kernel queues no waiter for this lock that a timeout could take back,
// so the waiter tries again in growing pauses. A holder that died has let
// go with its process; one that is alive but stuck (stopped, or in a file
// system that stopped answering) is waited for until the deadline only.
int t_processLock::WaitForFileLock(int64_t deadlineNs) {
    long pause = kFirstPauseNs;
    for (;;) {
        const int r = FileLockCall(m_file.fd, F_WRLCK);
        if (r != EAGAIN && r != EACCES && r != EINTR) return r;
        const int64_t left = deadlineNs - MonotonicNs();
        if (left <= 0) return ETIMEDOUT;
        struct timespec nap = {0, long(left < pause ? left : pause)};
        nanosleep(&nap, nullptr);
        pause = pause * 2 < kLongestPauseNs ? pause * 2 : kLongestPauseNs;
    }
}

void t_processLock::UnlockFile() {
    if (const int r = FileLockCall(m_file.fd, F_UNLCK)) PrintError(m_path, r);
}

bool t_processLock::FileStillNamed() const {
    struct stat named;
    // A name that cannot be looked at for another reason (no permission)
    // tells nothing: the file stays in use.
    if (lstat(m_path, &named) != 0) return errno != ENOENT && errno != ENOTDIR;
    return named.st_dev == m_file.dev && named.st_ino == m_file.ino;
}

bool t_processLock::MendLocked() {
    struct stat st;
    if (fstat(m_file.fd, &st) != 0) return false;
    if (st.st_size >= off_t(m_bytes)) return true;
    // The mutex is written only where it is gone, so one that a process of
    // an earlier build holds stays as it is; the count cut is lost either
    // way and starts again from zero.
    std::vector<uint8_t> image(m_bytes, 0);
    const bool mutexGone = st.st_size < off_t(kMutexBytes);
    if (mutexGone && !FreshMutexImage(image.data())) return false;
    const size_t from = mutexGone ? 0 : kMutexBytes;
    if (!WriteAll(m_file.fd, image.data() + from, m_bytes - from, off_t(from))) {
        PrintError(m_path, errno);
        return false;
    }
    fprintf(stderr, "%s: lock file was cut short; made whole again\n", m_path);
    std::lock_guard<std::mutex> guard(m_fileGuard);
    if (m_readDev == m_file.dev && m_readIno == m_file.ino && m_readValid) m_readShort = true;
    return true;
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
    }
    // Nobody in this process uses the old descriptor: this thread alone may
    // lock through it, and it does not hold it.
    close(stale.fd);
    if (fresh.dev != stale.dev || fresh.ino != stale.ino)
        fprintf(stderr, "%s: lock file removed or replaced; opened again\n", m_path);
    m_reopenFailTold = false;
    return true;
}

bool t_processLock::TakeFileLock() {
    m_fileHeld = false;
    if (m_inProcess) return true;  // m_local is the whole lock
    // A holder that is stuck usually holds every lock of the user (a
    // process stopped in the middle of its work): after one wait gave up,
    // the others are short too for a while, so that a key waits the whole
    // limit once, not once per lock.
    const int64_t gaveUpAt = g_gaveUpAtMs.load();
    const bool recent = gaveUpAt != 0 && MonotonicMs() - gaveUpAt < kStuckWindowMs;
    const int limitMs = m_stuck.load() || recent ? kStuckWaitMs : g_waitLimitMs.load();
    const int64_t deadline = MonotonicNs() + int64_t(limitMs) * 1000000;
    // A child forked from this process shares the parent's open file, and
    // with it the parent's hold: it opens the file for itself.
    if (m_file.pid != getpid()) Reopen();
    // Set once the file went and no other could be opened: it stays in use.
    bool keep = false;
    for (int attempt = 0; attempt < kOpenAttempts; ++attempt) {
        const int r = WaitForFileLock(deadline);
        if (r == ETIMEDOUT) {
            g_gaveUpAtMs.store(MonotonicMs());
            if (!m_stuck.exchange(true))
                fprintf(stderr, "%s: another process has held the lock for %d ms; not taken\n",
                        m_path, limitMs);
            return false;
        }
        if (r != 0) {
            // A file system without such locks (ENOLCK): this hold guards
            // this process's threads, as without a data directory. The next
            // one asks again, so a refusal that passes costs one hold.
            if (!g_locklessTold.exchange(true))
                fprintf(stderr,
                        "%s: %s; while file locks are refused, locks guard this process only\n",
                        m_path, strerror(r));
            return true;
        }
        // Looked at under the lock: a file deleted or replaced since it was
        // opened is no longer the one another process opens now, and its
        // lock would not keep that one out.
        if (keep || FileStillNamed()) {
            m_fileHeld = true;
            MendLocked();  // the lock holds without it; the shared bytes wait
            if (m_stuck.exchange(false)) fprintf(stderr, "%s: lock taken again\n", m_path);
            return true;
        }
        UnlockFile();
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
    if (!TakeFileLock()) {
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
    // Exactly what the outermost hold took: a hold the file system refused
    // has no file lock to let go, and one that had it must let it go.
    if (m_holds.load() == 1 && m_fileHeld) {
        // The hold of this process ends whatever the call says: a thread
        // that could not let go would keep every other one out.
        if (const int r = FileLockCall(m_file.fd, F_UNLCK)) {
            PrintError(m_path, r);
            released = false;
        }
        m_fileHeld = false;
    }
    if (m_holds.fetch_sub(1) == 1) m_owner.store(pthread_t{});
    m_local.unlock();
    return released;
}

bool t_processLock::ReadShared(size_t offset, void* out, size_t bytes, uint64_t* files,
                               uint64_t fromId[2]) const {
    if (!out || !m_created.load()) return false;
    const size_t shared = m_bytes - kMutexBytes;
    if (offset > shared || bytes > shared - offset) return false;
    std::lock_guard<std::mutex> guard(m_fileGuard);
    if (files) *files = m_files;
    if (fromId) fromId[0] = fromId[1] = 0;
    if (m_inProcess) {  // the writer holds this guard too
        memcpy(out, m_ownBytes + offset, bytes);
        return true;
    }
    if (m_file.fd < 0) return false;
    // The name is looked at first: a file put in the place of the one in
    // use (a user emptying the folder, a backup put back) holds what the
    // other processes count now. It is opened to be read from until this
    // process takes the lock on it.
    t_file from = m_file;
    struct stat named;
    if (lstat(m_path, &named) == 0 && S_ISREG(named.st_mode) &&
        (named.st_dev != m_file.dev || named.st_ino != m_file.ino)) {
        if (m_peek.fd < 0 || m_peek.dev != named.st_dev || m_peek.ino != named.st_ino) {
            if (m_peek.fd >= 0) close(m_peek.fd);
            m_peek = t_file();
            const int fd = open(m_path, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
            struct stat st;
            if (fd >= 0 && fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_uid == geteuid())
                m_peek = t_file{fd, st.st_dev, st.st_ino};
            else if (fd >= 0)
                close(fd);
        }
        if (m_peek.fd >= 0) from = m_peek;
    } else if (m_peek.fd >= 0) {
        close(m_peek.fd);
        m_peek = t_file();
    }
    const bool same = from.dev == m_readDev && from.ino == m_readIno;
    if (pread(from.fd, out, bytes, off_t(kMutexBytes + offset)) != ssize_t(bytes)) {
        // What it held is gone: once whole again it holds another count.
        if (same && m_readValid) m_readShort = true;
        return false;
    }
    if (!same || m_readShort) {
        m_readDev = from.dev;
        m_readIno = from.ino;
        m_readShort = false;
        ++m_files;
        if (files) *files = m_files;
    }
    m_readValid = true;
    if (fromId) {
        fromId[0] = uint64_t(from.dev);
        fromId[1] = uint64_t(from.ino);
    }
    return true;
}

bool t_processLock::AddShared(size_t offset, uint64_t delta) {
    const size_t shared = m_bytes - kMutexBytes;
    if (offset % 8 != 0 || offset > shared || shared - offset < 8) return false;
    if (m_holds.load() <= 0 || m_owner.load() != pthread_self()) return false;
    if (m_inProcess) {
        std::lock_guard<std::mutex> guard(m_fileGuard);
        uint64_t v;
        memcpy(&v, m_ownBytes + offset, sizeof v);
        v += delta;
        memcpy(m_ownBytes + offset, &v, sizeof v);
        return true;
    }
    // The readers never write: under the lock a read, add and write is one
    // step for every process of this build.
    if (!MendLocked()) return false;
    const off_t at = off_t(kMutexBytes + offset);
    uint64_t v = 0;
    if (pread(m_file.fd, &v, sizeof v, at) != ssize_t(sizeof v)) return false;
    v += delta;
    return WriteAll(m_file.fd, reinterpret_cast<const uint8_t*>(&v), sizeof v, at);
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
