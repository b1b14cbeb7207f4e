// The kernel's file object and the safe replacement of a file.
#include "kernel/runtime/fd_file.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <mutex>
#include <set>
#include <string>

namespace {

// Fresh temporaries Begin tries when removers keep taking them away.
constexpr int kTempAttempts = 8;

void PrintErrno(const char* what) {
    fprintf(stderr, "%s: %s\n", what, strerror(errno));
}

// The folders told to refuse new files, until one is made there again.
std::mutex g_refusedLock;
std::set<std::string> g_refusedFolders;  // guarded by g_refusedLock

std::string FolderOf(const char* path) {
    const char* slash = std::strrchr(path, '/');
    return slash ? std::string(path, size_t(slash - path)) : std::string(".");
}

// True the first time a folder refuses a new file (to be told).
bool FirstRefusal(const std::string& dir) {
    std::lock_guard<std::mutex> lock(g_refusedLock);
    return g_refusedFolders.insert(dir).second;
}

void FolderTakesFiles(const std::string& dir) {
    std::lock_guard<std::mutex> lock(g_refusedLock);
    g_refusedFolders.erase(dir);
}

int FlagsOfMode(int mode) {
    switch (mode) {
        case kOpenWrite:
            return O_WRONLY | O_CREAT;
        case kOpenReadWrite:
            return O_RDWR | O_CREAT;
        case kOpenAppend:
            return O_WRONLY | O_CREAT | O_APPEND;
        case kOpenReadAppend:
            return O_RDWR | O_CREAT | O_APPEND;
        case kOpenTruncate:
            return O_WRONLY | O_CREAT | O_TRUNC;
        case kOpenReadWriteTruncate:
            return O_RDWR | O_CREAT | O_TRUNC;
        default:
            return O_RDONLY;
    }
}

}  // namespace

t_fdFile::~t_fdFile() {
    Close();
}

bool t_fdFile::Open(const wchar_t* path, int mode) {
    if (!path) return false;
    t_pathName p(path);
    return OpenPath(p, mode);
}

bool t_fdFile::OpenPath(const t_pathName& path, int mode) {
    if (IsOpen()) Close();
    m_path.AssignPath(path);
    m_mode = mode;
    char mb[kPathBufBytes];
    if (!m_path.ToBytes(mb, sizeof mb)) return false;
    // Only regular files: a FIFO or a device in a file's place would hold
    // the caller in open or read, a folder fail later less clearly.
    const int fd = OpenRegularFile(mb, FlagsOfMode(mode), INT64_MAX, nullptr, 0664);
    if (fd < 0) {
        const int saved = errno;
        printf("open file %s failed.\n", mb);
        errno = saved;
        PrintErrno(mb);
        return false;
    }
    m_fd = fd;
    m_state = 1;
    return true;
}

bool t_fdFile::Close() {
    if (m_fd != -1 && m_state == 1) {
        // Linux releases the descriptor even when close reports an error,
        // so it is never closed twice; the error still reaches the caller.
        const int fd = m_fd;
        m_fd = -1;
        m_state = 2;
        if (close(fd) != 0 && errno != EINTR) {
            PrintErrno("close");
            return false;
        }
        return true;
    }
    m_fd = -1;
    if (m_state == 1) m_state = 2;
    return true;
}

bool t_fdFile::Read(void* buf, size_t length, size_t* count) {
    if (count) *count = 0;
    if (!IsOpen() || (!buf && length)) return false;
    const ssize_t n = read(m_fd, buf, length);
    if (n < 0) {
        PrintErrno("read");
        return false;
    }
    if (count) *count = static_cast<size_t>(n);
    return true;
}

bool t_fdFile::Write(const void* buf, size_t length, size_t* count) {
    if (count) *count = 0;
    if (!IsOpen() || (!buf && length)) return false;
    const ssize_t n = write(m_fd, buf, length);
    if (n < 0) {
        PrintErrno("write");
        return false;
    }
    if (count) *count = static_cast<size_t>(n);
    return true;
}

bool ReadFdExact(int fd, void* buf, size_t length) {
    auto* p = static_cast<char*>(buf);
    while (length > 0) {
        const ssize_t n = read(fd, p, length);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            if (n == 0) errno = 0;  // the file ended early
            return false;
        }
        p += n;
        length -= static_cast<size_t>(n);
    }
    return true;
}

bool t_fdFile::ReadExact(void* buf, size_t length) {
    if (!IsOpen() || (!buf && length)) return false;
    if (ReadFdExact(m_fd, buf, length)) return true;
    if (errno != 0) PrintErrno("read");
    return false;
}

bool t_fdFile::WriteAll(const void* buf, size_t length) {
    if (!IsOpen() || (!buf && length)) return false;
    auto* p = static_cast<const char*>(buf);
    while (length > 0) {
        const ssize_t n = write(m_fd, p, length);
        if (n < 0) {
            if (errno == EINTR) continue;
            PrintErrno("write");
            return false;
        }
        if (n == 0) return false;
        p += n;
        length -= static_cast<size_t>(n);
    }
    return true;
}

bool t_fdFile::Sync() {
    if (!IsOpen()) return false;
    if (fsync(m_fd) != 0) {
        PrintErrno("fsync");
        return false;
    }
    return true;
}

bool t_fdFile::Seek(uint32_t offset, int whence) {
    if (!IsOpen()) return false;
    if (whence != SEEK_SET && whence != SEEK_CUR && whence != SEEK_END) return false;
    if (lseek(m_fd, static_cast<off_t>(offset), whence) < 0) {
        PrintErrno("lseek");
        return false;
    }
    return true;
}

int64_t t_fdFile::Tell() const {
    if (!IsOpen()) return -1;
    const off_t pos = lseek(m_fd, 0, SEEK_CUR);
    return pos < 0 ? -1 : static_cast<int64_t>(pos);
}

int64_t t_fdFile::GetSize() const {
    if (!IsOpen()) return -1;
    struct stat st;
    if (fstat(m_fd, &st) != 0) {
        PrintErrno("fstat");
        return -1;
    }
    return static_cast<int64_t>(st.st_size);
}

// ---- t_safeFileWriter ----------------------------------------------------

bool SyncParentDir(const char* path) {
    if (!path) return false;
    char dir[kPathBufBytes];
    const char* slash = strrchr(path, '/');
    if (!slash) {
        strcpy(dir, ".");
    } else if (slash == path) {
        strcpy(dir, "/");
    } else {
        const size_t n = static_cast<size_t>(slash - path);
        if (n >= sizeof dir) return false;
        memcpy(dir, path, n);
        dir[n] = '\0';
    }
    const int fd = open(dir, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) {
        PrintErrno(dir);
        return false;
    }
    const bool ok = fsync(fd) == 0;
    if (!ok) PrintErrno(dir);
    close(fd);
    return ok;
}

bool t_safeFileWriter::Begin(const t_pathName& target) {
    char bytes[kPathBufBytes];
    if (!target.ToBytes(bytes, sizeof bytes)) {
        Abort();
        return false;
    }
    return Begin(bytes);
}

bool t_safeFileWriter::Begin(const char* target) {
    Abort();
    m_failed = false;
    if (!target || !target[0] || std::strlen(target) >= sizeof m_target) return false;
    std::memcpy(m_target, target, std::strlen(target) + 1);
    const int n = snprintf(m_tmp, sizeof m_tmp, "%s%sXXXXXX", m_target, kWriterTempMarker);
    if (n < 0 || static_cast<size_t>(n) >= sizeof m_tmp) {
        m_tmp[0] = '\0';
        return false;
    }
    // The writer holds a lock on its temporary for as long as it lives: the
    // kernel drops it with a killed writer, so a temporary whose lock is
    // free was abandoned (RemoveAbandonedTemp). A remover may win the lock
    // between creation and locking and unlink the file; the writer then
    // finds it without a name and makes another.
    const std::string pattern(m_tmp);
    for (int attempt = 0;; ++attempt) {
        memcpy(m_tmp, pattern.c_str(), pattern.size() + 1);
        m_fd = mkostemp(m_tmp, O_CLOEXEC);
        if (m_fd < 0) {
            const int err = errno;
            const std::string dir = FolderOf(m_target);
            if (FirstRefusal(dir))
                fprintf(stderr, "cannot write in %s: %s\n", dir.c_str(), strerror(err));
            m_tmp[0] = '\0';
            return false;
        }
        if (attempt == 0) FolderTakesFiles(FolderOf(m_target));
        int locked;
        while ((locked = flock(m_fd, LOCK_EX)) != 0 && errno == EINTR) {
        }
        struct stat own;
        if (locked != 0 || fstat(m_fd, &own) != 0 || own.st_nlink > 0 ||
            attempt == kTempAttempts - 1)
            break;
        close(m_fd);
        m_fd = -1;
    }
    // Keep the permissions of the file being replaced.
    struct stat st;
    if (stat(m_target, &st) == 0 && S_ISREG(st.st_mode)) fchmod(m_fd, st.st_mode & 07777);
    return true;
}

bool t_safeFileWriter::Write(const void* data, size_t length) {
    if (m_fd < 0 || m_failed) return false;
    auto* p = static_cast<const char*>(data);
    while (length > 0) {
        const ssize_t n = write(m_fd, p, length);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            PrintErrno(m_tmp);
            m_failed = true;
            return false;
        }
        p += n;
        length -= static_cast<size_t>(n);
    }
    return true;
}

t_safeFileWriter::t_commitResult t_safeFileWriter::Commit() {
    if (m_fd < 0 || m_failed) {
        Abort();
        return kCommitNotWritten;
    }
    bool ok = fsync(m_fd) == 0;
    if (!ok) PrintErrno(m_tmp);
    // Renamed while still open, so the temporary's lock covers it until it
    // has its final name.
    if (ok && rename(m_tmp, m_target) != 0) {
        PrintErrno(m_target);
        ok = false;
    }
    if (!ok) unlink(m_tmp);
    // The new content is in place: a failed directory sync only leaves its
    // durability across a power cut unknown, and is reported, not undone.
    const bool synced = ok && SyncParentDir(m_target);
    const int fd = m_fd;
    m_fd = -1;
    // The data was synced before the rename; a failing close only reports.
    if (close(fd) != 0) PrintErrno(m_target);
    m_tmp[0] = '\0';
    if (!ok) return kCommitNotWritten;
    return synced ? kCommitWritten : kCommitWrittenUnsynced;
}

void t_safeFileWriter::Abort() {
    // Unlinked before closing: the name never outlives the writer's lock.
    if (m_tmp[0]) {
        unlink(m_tmp);
        m_tmp[0] = '\0';
    }
    if (m_fd >= 0) {
        close(m_fd);
        m_fd = -1;
    }
    m_failed = false;
}

bool SplitWriterTempName(const std::wstring& name, std::wstring* stem) {
    if (name.size() <= kWriterTempSuffixBytes) return false;
    const size_t at = name.size() - kWriterTempSuffixBytes;
    for (size_t i = 0; kWriterTempMarker[i]; ++i)
        if (name[at + i] != wchar_t(kWriterTempMarker[i])) return false;
    for (size_t i = at + sizeof kWriterTempMarker - 1; i < name.size(); ++i) {
        const wchar_t c = name[i];
        if (!((c >= L'a' && c <= L'z') || (c >= L'A' && c <= L'Z') || (c >= L'0' && c <= L'9')))
            return false;
    }
    if (stem) stem->assign(name, 0, at);
    return true;
}

bool RemoveAbandonedTemp(const t_pathName& temp, const struct timespec& before) {
    char mb[kPathBufBytes];
    if (!temp.ToBytes(mb, sizeof mb)) return false;
    const int fd = open(mb, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) return false;
    bool removed = false;
    struct stat st;
    if (fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_uid == geteuid() &&
        (st.st_mtim.tv_sec < before.tv_sec ||
         (st.st_mtim.tv_sec == before.tv_sec && st.st_mtim.tv_nsec < before.tv_nsec)) &&
        flock(fd, LOCK_EX | LOCK_NB) == 0) {
        // Unlinked under the lock and only while the name still leads to
        // the file that was judged.
        struct stat now;
        removed = lstat(mb, &now) == 0 && now.st_dev == st.st_dev && now.st_ino == st.st_ino &&
                  unlink(mb) == 0;
    }
    close(fd);
    return removed;
}

int OpenRegularFile(const char* path, int flags, int64_t maxBytes, int64_t* size,
                    mode_t createMode) {
    if (size) *size = 0;
    if (!path || !path[0]) {
        errno = ENOENT;
        return -1;
    }
    int fd;
    do {
        fd = open(path, flags | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, createMode);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) return -1;
    struct stat st;
    int err = 0;
    if (fstat(fd, &st) != 0)
        err = errno;
    else if (!S_ISREG(st.st_mode))
        err = EINVAL;
    else if (st.st_size > maxBytes)
        err = EFBIG;
    else if (fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK) != 0)
        err = errno;
    if (err) {
        close(fd);
        errno = err;
        return -1;
    }
    if (size) *size = st.st_size;
    return fd;
}

namespace {
t_reserveFn g_reserve = nullptr;
}  // namespace

void SetReserveFunction(t_reserveFn fn) {
    g_reserve = fn;
}

int ReserveFileBlocks(int fd, int64_t size) {
    if (size < 0) return EINVAL;
    if (size == 0) return 0;
    int r;
    do {
        r = g_reserve ? g_reserve(fd, 0, off_t(size)) : posix_fallocate(fd, 0, off_t(size));
    } while (r == EINTR);
    return r;
}

void NoteUnwritableFolder(const char* dir) {
    if (!dir || !*dir) return;
    std::string name(dir);
    while (name.size() > 1 && name.back() == '/') name.pop_back();
    FirstRefusal(name);
}

bool FolderRefusesFiles(const char* dir) {
    if (!dir || !*dir) return false;
    std::string name(dir);
    while (name.size() > 1 && name.back() == '/') name.pop_back();
    std::lock_guard<std::mutex> lock(g_refusedLock);
    return g_refusedFolders.count(name) != 0;
}

int RenameWithoutReplacing(const char* from, const char* to) {
    if (renameat2(AT_FDCWD, from, AT_FDCWD, to, RENAME_NOREPLACE) == 0) return 0;
    if (errno != EINVAL) return errno;
    // A file system without the flag: the name is checked first.
    struct stat taken;
    if (lstat(to, &taken) == 0) return EEXIST;
    return rename(from, to) == 0 ? 0 : errno;
}

std::string UnforeseenHex(size_t bytes) {
    std::string raw(bytes, '\0');
    if (getrandom(raw.data(), bytes, GRND_NONBLOCK) != ssize_t(bytes)) {
        struct timespec now;
        clock_gettime(CLOCK_REALTIME, &now);
        uint64_t mix =
            uint64_t(now.tv_nsec) ^ (uint64_t(now.tv_sec) << 24) ^ (uint64_t(getpid()) << 40);
        for (size_t i = 0; i < bytes; ++i, mix = mix >> 8 | mix << 56) raw[i] = char(mix & 0xff);
    }
    static const char kDigits[] = "0123456789abcdef";
    std::string hex;
    for (const char c : raw) {
        hex += kDigits[uint8_t(c) >> 4];
        hex += kDigits[uint8_t(c) & 15];
    }
    return hex;
}
