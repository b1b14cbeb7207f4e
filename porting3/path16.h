// t_path: a '/'-separated path held in a t_str, and the file-system
// operations of the layer on it (tests, folders with parents, delete, move,
// copy, timestamped backup). One thread at a time per object.
#pragma once

#include <cstddef>
#include <cstdint>
#include <ctime>

#include "porting3/str_class.h"

namespace n_porting {

class t_path {
public:
    class t_mutex;  // the lock named after a path (named_objects.h)

    t_path() = default;
    // The first text, then each further non-null part through Append.
    t_path(const char16_t* text, const char16_t* part2 = nullptr, const char16_t* part3 = nullptr,
           const char16_t* part4 = nullptr, const char16_t* part5 = nullptr,
           const char16_t* part6 = nullptr);
    t_path(const t_str& text, const char16_t* part2 = nullptr, const char16_t* part3 = nullptr,
           const char16_t* part4 = nullptr, const char16_t* part5 = nullptr,
           const char16_t* part6 = nullptr);

    // A part starting with '.' is an extension, added unless the path already
    // ends with it; any other part is joined.
    t_path& Append(const char16_t* part);
    // Adds '/' (unless the path is non-empty and ends with one) and the part.
    t_path& Join(const char16_t* part);
    t_path operator+(const char16_t* part) const;
    bool Assign(const char16_t* text) { return m_str.Assign(text); }
    const char16_t* GetStr() const { return m_str.GetStr(); }
    const t_str& Str() const { return m_str; }
    char16_t* LockBuffer(size_t n) { return m_str.LockBuffer(n); }
    bool ReleaseBuffer() { return m_str.ReleaseBuffer(); }

    // Recounts the length and removes one pair of enclosing double quotes.
    bool StripQuotes();
    bool IsFile() const;
    bool IsDirectory() const;
    bool IsDriveRoot() const;
    bool HasNoDrive() const;
    bool IsNetworkPath() const;
    bool GetFileSize(t_errorContext& ctx, uint64_t* size) const;
    const char16_t* GetFileName() const;
    const char16_t* GetExtension() const;  // null when the last '.' is not in the name
    void GetFileTitle(t_str& out) const;
    // False when the last '/' is missing or at index 0 or 1.
    bool GetParentDir(t_path& out) const;
    bool IsSameName(const t_path& other, int mode) const;
    void TrimTitle();
    void StripCopyNumber();

    // Creates the folder and every missing parent.
    bool CreateDirectory(t_errorContext& ctx, bool failIfExists) const;
    bool CreateFile(t_errorContext& ctx, bool failIfExists) const;
    bool Delete(t_errorContext& ctx) const;
    bool RemoveDir(t_errorContext& ctx) const;
    // Both create the destination's folder first. A move replaces an existing
    // destination. A copy goes through a temporary beside the destination:
    // any failed read, write or close fails it and leaves no partial file.
    bool MoveTo(t_errorContext& ctx, const t_path& dest, bool failIfExists) const;
    bool CopyTo(t_errorContext& ctx, const t_path& dest, bool failIfExists) const;
    // Moves the file to <folder>/Backup/<title>_YYYYMMDD_hhmmss<ext>, stamped
    // with the local time `now` (Backup: the current time).
    bool Backup(t_errorContext& ctx) const { return BackupAt(ctx, std::time(nullptr)); }
    bool BackupAt(t_errorContext& ctx, time_t now) const;
    static bool RemovePath(const t_path& path);

    // The name for the file system (see Str16ToPathBytes); false when it does
    // not convert.
    bool ToBytes(char* out, size_t capacity) const;

private:
    size_t LastSlash() const { return m_str.ReverseFind(u'/'); }
    size_t ExtensionIndex() const;

    t_str m_str;
};

// True when the path names a file or a folder.
bool PathExists16(const char16_t* path);

}  // namespace n_porting
