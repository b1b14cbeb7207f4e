// Path values and file-system helpers of the kernel.
#include "kernel/runtime/path.h"

#include <dirent.h>
#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <memory>
#include <string>

#include "kernel/runtime/codepage.h"
#include "kernel/runtime/fd_file.h"

namespace {

void PrintErrno(const char* what) {
    fprintf(stderr, "%s: %s\n", what, strerror(errno));
}

std::atomic<bool> g_pathNotesVerbose{false};

// For a probe: a path that is not there is printed only when asked for.
void PrintProbeErrno(const char* what) {
    if (errno != ENOENT || g_pathNotesVerbose.load(std::memory_order_relaxed)) PrintErrno(what);
}

bool JoinBytes(const char* dir, const char* name, char* out, size_t capacity) {
    const int n = snprintf(out, capacity, "%s/%s", dir, name);
    if (n < 0 || static_cast<size_t>(n) >= capacity) {
        fprintf(stderr, "path too long: %s/%s\n", dir, name);
        return false;
    }
    return true;
}

bool RemoveTree(const char* dir, int depth);

// Removes one entry found in a tree: directories recursively, everything
// else (links included) with unlink, so a link is never followed.
bool RemoveEntry(const char* path, int depth) {
    struct stat st;
    if (lstat(path, &st) != 0) {
        PrintErrno(path);
        return false;
    }
    if (S_ISDIR(st.st_mode)) return RemoveTree(path, depth + 1);
    if (unlink(path) != 0) {
        PrintErrno(path);
        return false;
    }
    return true;
}

// Deep enough for any real tree, and a guard against a runaway recursion.
constexpr int kMaxTreeDepth = 128;

bool RemoveTree(const char* dir, int depth) {
    if (depth > kMaxTreeDepth) return false;
    struct stat st;
    // The top directory itself must not be a link: removing "through" it
    // would empty the directory it points to.
    if (lstat(dir, &st) != 0) {
        PrintErrno(dir);
        return false;
    }
    if (!S_ISDIR(st.st_mode)) {
        fprintf(stderr, "%s: not a directory\n", dir);
        return false;
    }
    DIR* d = opendir(dir);
    if (!d) {
        PrintErrno(dir);
        return false;
    }
    bool ok = true;
    while (struct dirent* e = readdir(d)) {
        if (strcmp(e->d_name, ".") == 0 || strcmp(e->d_name, "..") == 0) continue;
        char child[kPathBufBytes];
        if (!JoinBytes(dir, e->d_name, child, sizeof child) || !RemoveEntry(child, depth)) {
            ok = false;
            break;
        }
    }
    closedir(d);
    if (!ok) return false;
    if (rmdir(dir) != 0) {
        PrintErrno(dir);
        return false;
    }
    return true;
}

}  // namespace

void SetPathNotesVerbose(bool verbose) {
    g_pathNotesVerbose.store(verbose, std::memory_order_relaxed);
}

bool GetUserHomeDir(std::string& home) {
    const char* env = getenv("HOME");
    if (env && *env) {
        home = env;
        return true;
    }
    long bufSize = sysconf(_SC_GETPW_R_SIZE_MAX);
    if (bufSize <= 0) bufSize = 16384;
    std::unique_ptr<char[]> buf(new char[bufSize]);
    struct passwd pw;
    struct passwd* found = nullptr;
    if (getpwuid_r(geteuid(), &pw, buf.get(), bufSize, &found) != 0 || !found || !found->pw_dir ||
        !*found->pw_dir) {
        fprintf(stderr, "no home directory for uid %u\n", static_cast<unsigned>(geteuid()));
        return false;
    }
    home = found->pw_dir;
    return true;
}

// ---- conversions ---------------------------------------------------------

bool WidePathToBytes(const wchar_t* w, char* out, size_t capacity) {
    if (!w || !out || capacity == 0) return false;
    out[0] = '\0';
    size_t room = capacity - 1;  // keep one byte for the terminator
    if (!WideToBytes(w, out, room, kCharsetEnv)) {
        out[0] = '\0';
        return false;
    }
    out[room] = '\0';
    if (memchr(out, '\0', room) != nullptr) {  // an embedded 0 would cut the path
        out[0] = '\0';
        return false;
    }
    return true;
}

bool BytesPathToWide(const char* s, std::wstring& out) {
    out.clear();
    if (!s) return false;
    const size_t len = strlen(s);
    if (len > kMaxPathChars) return false;
    wchar_t buf[kPathBufBytes];
    size_t room = kMaxPathChars;
    if (!BytesToWide(s, len, buf, room, kCharsetEnv)) return false;
    out.assign(buf, room);
    return true;
}

// ---- t_pathName ----------------------------------------------------------

bool t_pathName::CheckLength() {
    if (m_path.size() > kMaxPathChars) {
        fprintf(stderr, "path longer than %zu characters refused\n", kMaxPathChars);
        m_path.clear();
        m_bad = true;
    }
    return !m_bad;
}

// '\' becomes '/'; one pass over the text drops the second slash of every
// pair, so a//b becomes a/b and a///b becomes a//b.
bool t_pathName::Normalise() {
    for (wchar_t& c : m_path)
        if (c == L'\\') c = L'/';
    for (size_t i = 0; i + 1 < m_path.size(); ++i) {
        if (m_path[i] == L'/' && m_path[i + 1] == L'/') m_path.erase(i + 1, 1);
    }
    return CheckLength();
}

void t_pathName::InitEmpty() {
    m_path.clear();
    m_bad = false;
}

void t_pathName::InitCopy(const t_pathName& other) {
    m_path = other.m_path;
    m_bad = other.m_bad;
}

bool t_pathName::InitFromString(const wchar_t* s) {
    InitEmpty();
    if (s) m_path = s;
    return Normalise();
}

bool t_pathName::InitJoin(const wchar_t* a, const wchar_t* b) {
    InitEmpty();
    m_path = a ? a : L"";
    m_path += L'/';
    if (b) m_path += b;
    return Normalise();
}

bool t_pathName::InitJoin3(const wchar_t* a, const wchar_t* b, const wchar_t* c) {
    InitEmpty();
    m_path = a ? a : L"";
    m_path += L'/';
    if (b) m_path += b;
    m_path += L'/';
    if (c) m_path += c;
    return Normalise();
}

void t_pathName::AssignRaw(const t_pathName& other) {
    InitCopy(other);
}

bool t_pathName::AssignPath(const t_pathName& other) {
    InitCopy(other);
    if (m_bad) return false;
    return Normalise();
}

bool t_pathName::AssignString(const wchar_t* s) {
    return InitFromString(s);
}

bool t_pathName::AppendPath(const t_pathName& other) {
    if (m_bad || other.m_bad) {
        m_path.clear();
        m_bad = true;
        return false;
    }
    m_path += L'/';
    m_path += other.m_path;
    return CheckLength();
}

bool t_pathName::Append(const wchar_t* s) {
    if (m_bad) return false;
    if (!s || !*s) return true;
    m_path += L'/';
    m_path += s;
    return Normalise();
}

bool t_pathName::AppendName(const t_pathName& other) {
    if (other.m_bad) {
        m_path.clear();
        m_bad = true;
        return false;
    }
    return Append(other.m_path.c_str());
}

bool t_pathName::Concat(const wchar_t* s) {
    if (m_bad) return false;
    if (!s || !*s) return true;
    m_path += s;
    return Normalise();
}

std::wstring t_pathName::GetDir() const {
    const size_t slash = m_path.rfind(L'/');
    if (slash == std::wstring::npos) return std::wstring();
    return m_path.substr(0, slash);
}

std::wstring t_pathName::GetFileName() const {
    const size_t slash = m_path.rfind(L'/');
    if (slash == std::wstring::npos) return std::wstring();
    return m_path.substr(slash + 1);
}

bool t_pathName::ToBytes(char* out, size_t capacity) const {
    if (!out || capacity == 0) return false;
    out[0] = '\0';
    if (m_bad) return false;
    return WidePathToBytes(m_path.c_str(), out, capacity);
}

t_tempPath::~t_tempPath() {
    if (IsEmpty() || !IsValid()) return;
    char mb[kPathBufBytes];
    if (!ToBytes(mb, sizeof mb)) return;
    struct stat st;
    if (lstat(mb, &st) != 0) return;
    if (S_ISDIR(st.st_mode))
        RemoveTree(mb, 0);
    else
        unlink(mb);
}

bool t_tempPath::Append(const wchar_t* s) {
    if (m_bad) return false;
    if (s) m_path += s;
    return CheckLength();
}

// ---- file and directory functions ----------------------------------------

bool FOpen(FILE** out, const wchar_t* path, const wchar_t* mode) {
    char mbPath[kPathBufBytes];
    char mbMode[kPathBufBytes];
    t_pathName p(path);
    if (!p.ToBytes(mbPath, sizeof mbPath) || !WidePathToBytes(mode, mbMode, sizeof mbMode))
        return false;
    // A read opens only a regular file, and never blocks in open.
    *out = nullptr;
    if (mbMode[0] == 'r' && !strchr(mbMode, '+')) {
        const int fd = OpenRegularFile(mbPath, O_RDONLY, INT64_MAX, nullptr);
        if (fd >= 0 && !(*out = fdopen(fd, mbMode))) close(fd);
    } else {
        *out = fopen(mbPath, mbMode);
    }
    if (!*out) {
        PrintErrno(mbPath);
        return false;
    }
    return true;
}

bool FOpenChecked(FILE** out, const wchar_t* path, const wchar_t* mode) {
    if (!out || !path || !mode) return false;
    return FOpen(out, path, mode);
}

int PathAccess(const wchar_t* path, int mode) {
    if (!path) return -1;
    char mb[kPathBufBytes];
    if (!t_pathName(path).ToBytes(mb, sizeof mb)) return -1;
    return access(mb, mode);
}

static bool StatPath(const t_pathName& path, struct stat* st, char* mb) {
    if (!path.ToBytes(mb, kPathBufBytes)) return false;
    if (stat(mb, st) != 0) {
        PrintProbeErrno(mb);
        return false;
    }
    return true;
}

bool PathIsFile(const t_pathName& path) {
    char mb[kPathBufBytes];
    struct stat st;
    return StatPath(path, &st, mb) && S_ISREG(st.st_mode);
}

bool PathIsDir(const t_pathName& path) {
    char mb[kPathBufBytes];
    struct stat st;
    return StatPath(path, &st, mb) && S_ISDIR(st.st_mode);
}

bool IsDirUtf8(const char* path) {
    struct stat st;
    if (!path) return false;
    if (stat(path, &st) != 0) {
        PrintProbeErrno(path);
        return false;
    }
    return S_ISDIR(st.st_mode);
}

bool PathGetFileSize(const t_pathName& path, uint32_t* size) {
    char mb[kPathBufBytes];
    struct stat st;
    if (!size || !StatPath(path, &st, mb)) return false;
    if (st.st_size < 0 || static_cast<uint64_t>(st.st_size) > UINT32_MAX) return false;
    *size = static_cast<uint32_t>(st.st_size);
    return true;
}

bool RemoveUtf8(const char* path) {
    if (!path) return false;
    if (remove(path) != 0) {
        PrintErrno(path);
        return false;
    }
    return true;
}

bool PathRemoveFile(const t_pathName& path) {
    char mb[kPathBufBytes];
    return path.ToBytes(mb, sizeof mb) && RemoveUtf8(mb);
}

bool PathMakeDir(const t_pathName& path) {
    char mb[kPathBufBytes];
    if (!path.ToBytes(mb, sizeof mb)) return false;
    struct stat st;
    if (stat(mb, &st) == 0 && S_ISDIR(st.st_mode)) return true;
    if (mkdir(mb, 0777) != 0) {
        PrintErrno(mb);
        return false;
    }
    return true;
}

bool RemoveDirTreeUtf8(const char* path) {
    return path && RemoveTree(path, 0);
}

bool PathRemoveDirTree(const t_pathName& path) {
    char mb[kPathBufBytes];
    return path.ToBytes(mb, sizeof mb) && RemoveTree(mb, 0);
}

bool IsSameFile(const char* a, const char* b) {
    struct stat sa, sb;
    if (!a || !b || stat(a, &sa) != 0 || stat(b, &sb) != 0) return false;
    return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

bool PathIsWithinDir(const t_pathName& path, const char* dir) {
    char mb[kPathBufBytes];
    if (!dir || !*dir || !path.ToBytes(mb, sizeof mb)) return false;
    // The folder of the last entry: the entry itself may not exist yet.
    char* slash = strrchr(mb, '/');
    if (!slash)
        strcpy(mb, ".");
    else if (slash == mb)
        mb[1] = '\0';
    else
        *slash = '\0';
    std::unique_ptr<char, decltype(&free)> folder(realpath(mb, nullptr), &free);
    struct stat base;
    if (!folder || stat(dir, &base) != 0 || !S_ISDIR(base.st_mode)) return false;
    // The folders themselves are compared, not their names: a bind mount
    // shows one folder under two names that no link resolution joins.
    std::string at = folder.get();
    for (;;) {
        struct stat st;
        if (stat(at.c_str(), &st) == 0 && st.st_dev == base.st_dev && st.st_ino == base.st_ino)
            return true;
        if (at == "/") return false;
        const size_t cut = at.rfind('/');
        at.erase(cut == 0 ? 1 : cut);
    }
}

namespace {

bool ReadChunk(int fd, char* buf, size_t size, size_t* got) {
    for (;;) {
        const ssize_t n = read(fd, buf, size);
        if (n >= 0) {
            *got = static_cast<size_t>(n);
            return true;
        }
        if (errno != EINTR) return false;
    }
}

bool WriteFull(int fd, const char* buf, size_t size) {
    while (size > 0) {
        const ssize_t n = write(fd, buf, size);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        if (n == 0) {
            errno = EIO;
            return false;
        }
        buf += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

}  // namespace

bool PathCopyFile(const t_pathName& source, const t_pathName& target) {
    char src[kPathBufBytes];
    char dst[kPathBufBytes];
    if (!source.ToBytes(src, sizeof src) || !target.ToBytes(dst, sizeof dst)) return false;
    return PathCopyFileBytes(src, dst);
}

bool PathCopyFileBytes(const char* src, const char* dst) {
    if (!src || !dst || !src[0] || !dst[0]) return false;
    const int in = OpenRegularFile(src, O_RDONLY, INT64_MAX, nullptr);
    if (in < 0) {
        PrintErrno(src);
        return false;
    }
    // A device or pipe as target is written in place: it cannot be
    // replaced by rename and must never be unlinked.
    struct stat st;
    const bool special = stat(dst, &st) == 0 && !S_ISREG(st.st_mode);
    if (special && S_ISDIR(st.st_mode)) {
        errno = EISDIR;
        PrintErrno(dst);
        close(in);
        return false;
    }
    t_safeFileWriter writer;
    int out = -1;
    if (special) {
        // O_NONBLOCK: a FIFO nobody reads fails at once instead of holding
        // the caller; once open, it is written as before.
        out = open(dst, O_WRONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
        if (out >= 0) fcntl(out, F_SETFL, fcntl(out, F_GETFL) & ~O_NONBLOCK);
    } else if (writer.Begin(dst)) {
        out = writer.GetFd();
    }
    if (out < 0) {
        PrintErrno(dst);
        close(in);
        return false;
    }
    bool ok = true;
    static constexpr size_t kChunk = 64 * 1024;
    std::unique_ptr<char[]> buf(new char[kChunk]);
    for (;;) {
        size_t got = 0;
        if (!ReadChunk(in, buf.get(), kChunk, &got)) {
            PrintErrno(src);
            ok = false;
            break;
        }
        if (got == 0) break;
        if (!WriteFull(out, buf.get(), got)) {
            PrintErrno(dst);
            ok = false;
            break;
        }
    }
    close(in);
    if (special) {
        if (close(out) != 0) {
            PrintErrno(dst);
            ok = false;
        }
        return ok;
    }
    if (!ok) return false;  // the writer removes its temporary
    return writer.Commit();
}

bool PathRename(const t_pathName& from, const t_pathName& to) {
    char a[kPathBufBytes];
    char b[kPathBufBytes];
    if (!from.ToBytes(a, sizeof a) || !to.ToBytes(b, sizeof b)) return false;
    if (rename(a, b) != 0) {
        PrintErrno(a);
        return false;
    }
    return true;
}

namespace {

// Why the user data directory is unusable is told once per process: every
// lock of a start asks for it again and would repeat the same line.
std::atomic<bool> g_dataDirFailureTold{false};

bool DataDirFailure(std::string* reason, const std::string& why) {
    if (reason) {
        *reason = why;
        g_dataDirFailureTold = true;
    } else if (!g_dataDirFailureTold.exchange(true)) {
        fprintf(stderr, "%s\n", why.c_str());
    }
    return false;
}

std::string ErrnoText(const std::string& path) {
    return path + ": " + strerror(errno);
}

}  // namespace

bool GetUserDataDir(char* out, size_t capacity, std::string* reason) {
    if (!out || capacity == 0) return false;
    out[0] = '\0';
    std::string home;
    if (!GetUserHomeDir(home)) return false;
    std::string dir = home + "/.vetrainput";
    if (dir.size() >= capacity || dir.size() > kMaxPathChars)
        return DataDirFailure(reason, "user data directory path too long");
    if (mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST)
        return DataDirFailure(reason, ErrnoText(dir));
    // The lock files live here: it must be ours and closed to others.
    struct stat st;
    if (stat(dir.c_str(), &st) != 0) return DataDirFailure(reason, ErrnoText(dir));
    if (!S_ISDIR(st.st_mode) || st.st_uid != geteuid())
        return DataDirFailure(reason, dir + " is not a directory owned by this user");
    if ((st.st_mode & 0777) != 0700 && chmod(dir.c_str(), 0700) != 0)
        return DataDirFailure(reason, ErrnoText(dir));
    memcpy(out, dir.c_str(), dir.size() + 1);
    return true;
}

bool MakeTempPath(t_pathName& out) {
    char dir[kPathBufBytes];
    if (!GetUserDataDir(dir, sizeof dir)) return false;
    char tmpl[kPathBufBytes];
    if (!JoinBytes(dir, "tmpXXXXXX", tmpl, sizeof tmpl)) return false;
    const int fd = mkstemp(tmpl);
    if (fd < 0) {
        PrintErrno(tmpl);
        return false;
    }
    close(fd);
    std::wstring wide;
    if (!BytesPathToWide(tmpl, wide) || !out.InitFromString(wide.c_str())) {
        unlink(tmpl);
        return false;
    }
    return true;
}

// ---- t_dirList -----------------------------------------------------------

t_dirList::t_dirList(const wchar_t* dir, bool recursive) {
    if (!dir) return;
    char mb[kPathBufBytes];
    if (!t_pathName(dir).ToBytes(mb, sizeof mb)) return;
    Scan(mb, recursive, 0);
}

const wchar_t* t_dirList::GetAt(int index) const {
    if (index < 0 || index >= GetCount()) return nullptr;
    return m_items[static_cast<size_t>(index)].c_str();
}

void t_dirList::Scan(const char* dir, bool recursive, int depth) {
    if (depth > kMaxTreeDepth) return;
    DIR* d = opendir(dir);
    if (!d) {
        PrintProbeErrno(dir);
        return;
    }
    while (struct dirent* e = readdir(d)) {
        if (strcmp(e->d_name, ".") == 0 || strcmp(e->d_name, "..") == 0) continue;
        char child[kPathBufBytes];
        if (!JoinBytes(dir, e->d_name, child, sizeof child)) continue;
        struct stat st;
        if (lstat(child, &st) == 0 && S_ISDIR(st.st_mode)) {
            if (recursive) Scan(child, true, depth + 1);
            continue;
        }
        std::wstring wide;
        if (BytesPathToWide(child, wide)) m_items.push_back(std::move(wide));
    }
    closedir(d);
}
