// t_fdFile: the kernel's file object over a POSIX descriptor with numbered
// open modes, and t_safeFileWriter, which replaces a file only through a
// synced temporary beside it. One thread at a time per object.
#pragma once

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <string>

#include <sys/types.h>

#include "kernel/runtime/path.h"

// Open modes combine 1 read, 2 write, 4 append, 8 truncate.
enum : int {
    kOpenRead = 1,               // O_RDONLY
    kOpenWrite = 2,              // O_WRONLY | O_CREAT
    kOpenReadWrite = 3,          // O_RDWR | O_CREAT
    kOpenAppend = 6,             // O_WRONLY | O_CREAT | O_APPEND
    kOpenReadAppend = 7,         // O_RDWR | O_CREAT | O_APPEND
    kOpenTruncate = 10,          // O_WRONLY | O_CREAT | O_TRUNC
    kOpenReadWriteTruncate = 11  // O_RDWR | O_CREAT | O_TRUNC
};                               // any other number opens read-only

class t_fdFile {
public:
    t_fdFile() = default;
    ~t_fdFile();
    t_fdFile(const t_fdFile&) = delete;
    t_fdFile& operator=(const t_fdFile&) = delete;

    bool InitAndOpen(const wchar_t* path, int mode) { return Open(path, mode); }
    bool InitAndOpenPath(const t_pathName& path, int mode) { return OpenPath(path, mode); }

    // Opens (creating with 0664 under the process umask for write modes).
    // False when the path cannot be converted or open(2) fails; the error is
    // printed ("open file %s failed.") and the object stays closed. An open
    // file is closed first.
    bool Open(const wchar_t* path, int mode);
    bool OpenPath(const t_pathName& path, int mode);
    // False when close(2) fails (state unchanged); true when nothing is open.
    bool Close();
    bool IsOpen() const { return m_state == 1; }

    // One read(2)/write(2) each: *count gets the bytes moved (0 on failure).
    bool Read(void* buf, size_t length, size_t* count);
    bool Write(const void* buf, size_t length, size_t* count);
    // Loop until all `length` bytes are moved (retrying EINTR). ReadExact
    // fails on end of file before `length` bytes.
    bool ReadExact(void* buf, size_t length);
    bool WriteAll(const void* buf, size_t length);

    bool Sync();
    // whence 0/1/2 (SEEK_SET/CUR/END) with an unsigned offset; any other
    // whence is refused.
    bool Seek(uint32_t offset, int whence);
    int64_t Tell() const;     // -1 when closed or on failure
    int64_t GetSize() const;  // fstat size, -1 when closed or on failure

    int GetFd() const { return m_fd; }
    int GetMode() const { return m_mode; }
    const t_pathName& GetPath() const { return m_path; }
    const wchar_t* GetLastError() const { return m_lastError; }

protected:
    const wchar_t* m_lastError = nullptr;  // set only by derived readers
    t_pathName m_path;
    int m_fd = -1;
    int m_mode = 0;
    int m_state = 0;  // 0 never opened, 1 open, 2 closed
};

// What sets a writer's temporary apart from any name a user would give a
// file: "<target>.vetra-tmp-" and six letters or digits.
constexpr char kWriterTempMarker[] = ".vetra-tmp-";
constexpr size_t kWriterTempSuffixBytes = sizeof kWriterTempMarker - 1 + 6;

// Writes a new version of a file: Begin creates a unique temporary beside
// the target ("<target>.vetra-tmp-XXXXXX", mkstemp, 0600) and holds an
// flock on it until the writer is done, Commit syncs it, renames it over
// the target and syncs the directory. Until Commit succeeds the target is untouched; the
// destructor (or Abort) removes an uncommitted temporary. A killed writer
// leaves its temporary, unlocked, for RemoveAbandonedTemp.
class t_safeFileWriter {
public:
    t_safeFileWriter() = default;
    ~t_safeFileWriter() { Abort(); }
    t_safeFileWriter(const t_safeFileWriter&) = delete;
    t_safeFileWriter& operator=(const t_safeFileWriter&) = delete;

    // False when the target's directory cannot hold a temporary file.
    bool Begin(const t_pathName& target);
    // The same for a target already in the system's charset.
    bool Begin(const char* target);
    // Appends; false on any failed or short write (the write is then lost).
    bool Write(const void* data, size_t length);
    // What Commit did. Not written (0, false): the data could not be synced
    // or renamed; the target keeps its previous content and the temporary is
    // removed. Written (true): the target holds the new content; when the
    // directory could not be synced after the rename its durability across
    // a power cut is unknown (kCommitWrittenUnsynced), which only a caller
    // that must know asks for.
    enum t_commitResult : int {
        kCommitNotWritten = 0,
        kCommitWritten = 1,
        kCommitWrittenUnsynced = 2
    };
    t_commitResult Commit();
    void Abort();
    int GetFd() const { return m_fd; }

private:
    int m_fd = -1;
    bool m_failed = false;
    char m_tmp[kPathBufBytes] = {};
    char m_target[kPathBufBytes] = {};
};

// A folder that refuses a writer's temporary (read-only, not the user's) is
// told once on standard error, "cannot write in DIR: why", not once for
// every file of every save, until a temporary is made there again. A caller
// that told it in its own words notes it here first. Any thread.
void NoteUnwritableFolder(const char* dir);
// True while `dir` is such a folder, told or noted.
bool FolderRefusesFiles(const char* dir);

// Reads exactly `length` bytes from fd (retrying EINTR). False, with
// errno set or 0 at an end of file before them.
bool ReadFdExact(int fd, void* buf, size_t length);

// Opens a path that may name anything (a file a user or a client picked)
// without ever blocking: open(2) with O_NONBLOCK, so a FIFO or a device
// cannot hold the caller, then the opened descriptor itself must be a
// regular file (fstat: nothing swapped in after a check slips through) of
// at most maxBytes; O_NONBLOCK is then cleared. flags are open(2)'s (with
// O_CREAT the file is made with createMode under the umask). Returns the
// descriptor (close-on-exec), or -1 with errno: EINVAL for anything but a
// regular file (a FIFO, a device, a folder; a symlink counts as what it
// names), EFBIG above maxBytes, else open's error. *size (may be null)
// gets the file's size.
int OpenRegularFile(const char* path, int flags, int64_t maxBytes, int64_t* size,
                    mode_t createMode = 0600);

// Gives the file at fd `size` bytes with every block allocated, so that
// writing through a shared mapping of it can never meet a full disk (which
// would raise SIGBUS). 0, or the error number (ENOSPC on a full disk).
int ReserveFileBlocks(int fd, int64_t size);
// Replaces posix_fallocate inside ReserveFileBlocks (null: the system's),
// so tests can simulate a full disk.
using t_reserveFn = int (*)(int fd, off_t offset, off_t length);
void SetReserveFunction(t_reserveFn fn);

// fsync of the directory holding `path` (multibyte), so a rename in it is
// durable. False when it cannot be opened or synced.
bool SyncParentDir(const char* path);

// Renames `from` to `to` unless something is at `to`: 0, or the errno
// (EEXIST when the name is taken). Both multibyte.
int RenameWithoutReplacing(const char* from, const char* to);

// `bytes` random bytes as lower-case hex digits, for a file name nobody can
// foresee; without the generator, a mix of the clock and the process id,
// still fresh for this process (callers never replace what holds a name).
std::string UnforeseenHex(size_t bytes);

// True when `name` has the shape of a t_safeFileWriter temporary: a stem,
// the marker and six letters or digits; `stem` (may be null) gets the stem.
// A plain "<stem>.XXXXXX" is never one: a user's "env.ini.backup" is not.
bool SplitWriterTempName(const std::wstring& name, std::wstring* stem);
// Removes a writer's temporary that no live writer can own: a regular file
// of this user, last modified before `before`, whose writer lock is free.
// Anything else (a live writer's file, a younger file, a link) is left.
// True when it was removed.
bool RemoveAbandonedTemp(const t_pathName& temp, const struct timespec& before);
