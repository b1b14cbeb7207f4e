// Kernel path values and the file-system helpers built on them: normalised
// wide paths, existence tests, copy, rename, tree removal, directory listing
// and the per-user data directory. Safe on any thread (the one shared
// state, whether missing paths are printed, is atomic).
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

// Longest path (in characters, and in bytes once converted for the system)
// that the kernel handles; longer paths are refused with an error.
inline constexpr size_t kMaxPathChars = 1023;
inline constexpr size_t kPathBufBytes = 1024;

// Whether the existence tests (PathIsFile, PathIsDir, IsDirUtf8,
// PathGetFileSize) and the directory listing also print a path that is not
// there. Off by default: a missing optional file is an answer, not an error;
// every other failure is printed either way. Process-wide, any thread.
void SetPathNotesVerbose(bool verbose);

// A wide path. Normalising operations turn '\' into '/' and fold doubled
// slashes; a result longer than kMaxPathChars marks the path invalid, and an
// invalid path stays invalid through later appends and fails every system call.
class t_pathName {
public:
    t_pathName() = default;
    explicit t_pathName(const wchar_t* s) { InitFromString(s); }

    void InitEmpty();
    void InitCopy(const t_pathName& other);
    // Each returns false (path invalid) when the result is too long.
    bool InitFromString(const wchar_t* s);
    bool InitJoin(const wchar_t* a, const wchar_t* b);
    bool InitJoin3(const wchar_t* a, const wchar_t* b, const wchar_t* c);
    void AssignRaw(const t_pathName& other);  // takes other's text unchanged
    bool AssignPath(const t_pathName& other);
    bool AssignString(const wchar_t* s);
    // Appends "/" + other's text without normalising.
    bool AppendPath(const t_pathName& other);
    // Appends "/" + s and normalises; a null or empty s changes nothing.
    bool Append(const wchar_t* s);
    bool AppendName(const t_pathName& other);
    // Appends s without a separator and normalises; null or empty: nothing.
    bool Concat(const wchar_t* s);

    // Text before the last '/'; empty without '/'.
    std::wstring GetDir() const;
    // Text after the last '/'; empty without '/' or when the path ends in '/'.
    std::wstring GetFileName() const;

    const wchar_t* GetFull() const { return m_path.c_str(); }
    const std::wstring& Str() const { return m_path; }
    bool IsEmpty() const { return m_path.empty(); }
    bool IsValid() const { return !m_bad; }

    // Converts the path into the charset of the environment ("LANG") in a
    // buffer of `capacity` bytes. False for an invalid path or a failed
    // conversion; `out` then holds an empty string when capacity > 0.
    bool ToBytes(char* out, size_t capacity) const;

protected:
    bool Normalise();
    bool CheckLength();

    std::wstring m_path;
    bool m_bad = false;  // set once a result grew too long
};

// A path whose destructor deletes what it names (a regular file or link is
// unlinked, a directory tree removed without following links). Used for
// work files so an interrupted operation leaves nothing behind.
class t_tempPath : public t_pathName {
public:
    t_tempPath() = default;
    explicit t_tempPath(const wchar_t* s) : t_pathName(s) {}
    ~t_tempPath();
    t_tempPath(const t_tempPath&) = delete;
    t_tempPath& operator=(const t_tempPath&) = delete;

    // Appends a suffix such as ".temp" to the text, not normalised.
    bool Append(const wchar_t* s);
    // Stops the destructor from deleting (the file was renamed away).
    void Forget() { m_path.clear(); }
};

// Wide <-> system charset conversion of path texts (charset of "LANG").
// False when the input is null, the result does not fit or is not valid.
bool WidePathToBytes(const wchar_t* w, char* out, size_t capacity);
bool BytesPathToWide(const char* s, std::wstring& out);

// fopen of a wide path and wide mode; true when a stream was opened.
bool FOpen(FILE** out, const wchar_t* path, const wchar_t* mode);
// FOpen after checking that no argument is null (false otherwise).
bool FOpenChecked(FILE** out, const wchar_t* path, const wchar_t* mode);

// access(2); -1 for a null path or a failed conversion.
int PathAccess(const wchar_t* path, int mode);
// True only for an existing regular file / directory (stat follows links).
bool PathIsFile(const t_pathName& path);
bool PathIsDir(const t_pathName& path);
bool IsDirUtf8(const char* path);
// stat size; false when stat fails or the size does not fit 32 bits.
bool PathGetFileSize(const t_pathName& path, uint32_t* size);
// remove(3); false on failure.
bool PathRemoveFile(const t_pathName& path);
bool RemoveUtf8(const char* path);
// True when the path is (or now is) a directory; mkdir 0777 under the umask.
bool PathMakeDir(const t_pathName& path);
// Removes a directory and everything under it. Links are removed as links,
// never followed. False at the first entry that cannot be removed.
bool PathRemoveDirTree(const t_pathName& path);
bool RemoveDirTreeUtf8(const char* path);
// True when both paths exist and name the same file (device and inode).
bool IsSameFile(const char* a, const char* b);
// True when the folder that holds path's last entry is dir or lies under
// it: that folder (links and ".." resolved) or one of its parents is the
// very folder dir names (device and inode), whatever names reach either, a
// bind mount's too. False when either folder is not there.
bool PathIsWithinDir(const t_pathName& path, const char* dir);
// Copies source to target. A regular (or missing) target is replaced only
// through a temporary file beside it that is synced and renamed over it, so
// a failed copy leaves the target as it was; a special target (a device) is
// written directly. Every read, write and close is checked; false on any
// failure, with no partial file left behind.
bool PathCopyFile(const t_pathName& source, const t_pathName& target);
// The same on names already in the system's charset (null or empty: false).
bool PathCopyFileBytes(const char* source, const char* target);
// rename(2); false on failure.
bool PathRename(const t_pathName& from, const t_pathName& to);

// The user's home: "HOME", or the password database's entry when "HOME" is
// unset or empty. False when neither names one.
bool GetUserHomeDir(std::string& home);
// Fills `out` (at least kPathBufBytes) with the per-user data directory
// "<home>/.vetrainput", creating it 0700 when missing. The home is "HOME",
// or the password database's entry when "HOME" is unset. False when no home
// is known, the directory cannot be made, or it is not a directory owned by
// this user. The process umask is never changed. Why it failed goes to
// `reason` when given, else to stderr, once per process either way.
bool GetUserDataDir(char* out, size_t capacity = kPathBufBytes, std::string* reason = nullptr);
// Creates a new empty file "tmpXXXXXX" (mkstemp, 0600) in the user data
// directory and stores its path in `out`. False when none could be made.
bool MakeTempPath(t_pathName& out);

// Non-directory entries of a directory (files, links, devices), found
// without following links; a recursive scan descends into real
// subdirectories only. The order is readdir's.
class t_dirList {
public:
    t_dirList(const wchar_t* dir, bool recursive);
    ~t_dirList() { Clear(); }
    int GetCount() const { return static_cast<int>(m_items.size()); }
    // Null for an index outside 0..count-1.
    const wchar_t* GetAt(int index) const;
    void Clear() { m_items.clear(); }

private:
    void Scan(const char* dir, bool recursive, int depth);
    std::vector<std::wstring> m_items;
};
