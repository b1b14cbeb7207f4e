// t_path operations; names reach the file system in the charset the kernel
// uses for its own paths.
#include "porting3/path16.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>

#include "kernel/runtime/path.h"
#include "porting3/str16.h"

namespace n_porting {

namespace {

bool StatPath(const t_path& p, struct stat* st) {
    char bytes[kPathBytes];
    return p.ToBytes(bytes, sizeof bytes) && stat(bytes, st) == 0;
}

}  // namespace

t_path::t_path(const char16_t* text, const char16_t* part2, const char16_t* part3,
               const char16_t* part4, const char16_t* part5, const char16_t* part6) {
    m_str.Assign(text);
    for (const char16_t* part : {part2, part3, part4, part5, part6})
        if (part) Append(part);
}

t_path::t_path(const t_str& text, const char16_t* part2, const char16_t* part3,
               const char16_t* part4, const char16_t* part5, const char16_t* part6)
    : t_path(text.GetStr(), part2, part3, part4, part5, part6) {}

t_path& t_path::Append(const char16_t* part) {
    if (!part) return *this;
    if (part[0] == u'.') {
        if (!m_str.EndsWith(part)) m_str.Append(part);
        return *this;
    }
    return Join(part);
}

t_path& t_path::Join(const char16_t* part) {
    if (!part) return *this;
    if (m_str.IsEmpty() || m_str.GetLast() != u'/') m_str.AppendChar(u'/');
    m_str.Append(part);
    return *this;
}

t_path t_path::operator+(const char16_t* part) const {
    t_path p(*this);
    p.Append(part);
    return p;
}

bool t_path::StripQuotes() {
    m_str.SetLength(WcsLen16(m_str.GetStr()));
    const size_t n = m_str.GetLength();
    if (n == 0 || m_str.GetFirst() != u'"') return true;
    if (n < 2 || m_str.GetLast() != u'"') return false;
    m_str.Delete(n - 1, n);
    m_str.Delete(0, 1);
    return true;
}

bool t_path::IsFile() const {
    struct stat st;
    return StatPath(*this, &st) && !S_ISDIR(st.st_mode);
}

bool t_path::IsDirectory() const {
    struct stat st;
    if (m_str.GetLength() == 2 && m_str.GetAt(1) == u':') {
        t_path root(*this);
        root.m_str.AppendChar(u'/');
        return StatPath(root, &st) && S_ISDIR(st.st_mode);
    }
    return StatPath(*this, &st) && S_ISDIR(st.st_mode);
}

bool t_path::IsDriveRoot() const {
    return m_str.GetLength() == 2 && m_str.GetAt(1) == u'/';
}

bool t_path::HasNoDrive() const {
    return m_str.GetLength() < 2 || m_str.GetAt(1) != u':';
}

bool t_path::IsNetworkPath() const {
    return m_str.GetLength() >= 2 && m_str.GetAt(0) == u'/' && m_str.GetAt(1) == u'/';
}

bool t_path::GetFileSize(t_errorContext& ctx, uint64_t* size) const {
    struct stat st;
    if (!StatPath(*this, &st)) {
        ctx.SetError(u"无法取得文件大小");
        return false;
    }
    if (S_ISDIR(st.st_mode)) {
        ctx.SetError(u"无法取得大小（对象为目录）");
        return false;
    }
    if (size) *size = uint64_t(st.st_size);
    return true;
}

const char16_t* t_path::GetFileName() const {
    const size_t slash = LastSlash();
    return m_str.GetStr() + (slash == t_str::kNotFound ? 0 : slash + 1);
}

size_t t_path::ExtensionIndex() const {
    const size_t dot = m_str.ReverseFind(u'.');
    const size_t slash = LastSlash();
    if (dot == t_str::kNotFound || (slash != t_str::kNotFound && dot < slash))
        return t_str::kNotFound;
    return dot;
}

const char16_t* t_path::GetExtension() const {
    const size_t dot = ExtensionIndex();
    return dot == t_str::kNotFound ? nullptr : m_str.GetStr() + dot;
}

void t_path::GetFileTitle(t_str& out) const {
    const size_t slash = LastSlash();
    const size_t start = slash == t_str::kNotFound ? 0 : slash + 1;
    const size_t dot = ExtensionIndex();
    const size_t end = dot == t_str::kNotFound ? m_str.GetLength() : dot;
    m_str.Mid(out, start, end - start);
    if (start >= m_str.GetLength()) out.Clear();
}

bool t_path::GetParentDir(t_path& out) const {
    const size_t slash = LastSlash();
    if (slash == t_str::kNotFound || slash < 2) return false;
    const size_t keep = m_str.GetAt(slash - 1) == u':' ? slash + 1 : slash;
    m_str.Left(out.m_str, keep);
    return true;
}

bool t_path::IsSameName(const t_path& other, int mode) const {
    if (mode == 0) return WcsCmp16(GetStr(), other.GetStr()) == 0;
    if (mode == 1) return WcsCmp16(GetFileName(), other.GetFileName()) == 0;
    return false;
}

void t_path::TrimTitle() {
    const size_t slash = LastSlash();
    const size_t start = slash == t_str::kNotFound ? 0 : slash + 1;
    const size_t dot = ExtensionIndex();
    size_t end = dot == t_str::kNotFound ? m_str.GetLength() : dot;
    size_t trimmedEnd = end;
    while (trimmedEnd > start && m_str.GetAt(trimmedEnd - 1) == u' ') --trimmedEnd;
    m_str.Delete(trimmedEnd, end);
    size_t first = start;
    while (first < trimmedEnd && m_str.GetAt(first) == u' ') ++first;
    m_str.Delete(start, first);
}

void t_path::StripCopyNumber() {
    TrimTitle();
    const size_t slash = LastSlash();
    const size_t start = slash == t_str::kNotFound ? 0 : slash + 1;
    const size_t dot = ExtensionIndex();
    const size_t end = dot == t_str::kNotFound ? m_str.GetLength() : dot;
    if (end - start > 3) {
        const char16_t open = m_str.GetAt(end - 3), digit = m_str.GetAt(end - 2),
                       close = m_str.GetAt(end - 1);
        const bool marker = digit >= u'0' && digit <= u'9' &&
                            ((open == u'[' && close == u']') || (open == u'(' && close == u')'));
        if (marker) m_str.Delete(end - 3, end);
    }
    TrimTitle();
}

bool t_path::CreateDirectory(t_errorContext& ctx, bool failIfExists) const {
    if (IsNetworkPath()) return true;
    if (IsDirectory()) {
        if (!failIfExists) return true;
        ctx.SetError(u"创建目录失败，目录已经存在");
        return false;
    }
    // A relative path's first level may be one unit long ("a/b"), which
    // GetParentDir does not give: every level before the last '/' is made.
    t_path parent;
    bool hasParent = GetParentDir(parent);
    if (!hasParent && LastSlash() == 1 && m_str.GetAt(0) != u'/') {
        m_str.Left(parent.m_str, 1);
        hasParent = true;
    }
    if (hasParent && !parent.CreateDirectory(ctx, false)) return false;
    char bytes[kPathBytes];
    if (!ToBytes(bytes, sizeof bytes) || (mkdir(bytes, 0777) != 0 && !IsDirectory())) {
        ctx.SetError(u"创建目录失败");
        return false;
    }
    return true;
}

bool t_path::CreateFile(t_errorContext& ctx, bool failIfExists) const {
    if (IsDirectory()) {
        ctx.SetError(u"创建文件失败：指定的对象是目录");
        return false;
    }
    if (IsFile()) {
        if (!failIfExists) return true;
        ctx.SetError(u"创建文件失败：已经存在");
        return false;
    }
    char bytes[kPathBytes];
    FILE* f = ToBytes(bytes, sizeof bytes) ? std::fopen(bytes, "wb") : nullptr;
    if (!f || std::fclose(f) != 0) {
        ctx.SetError(u"创建文件失败");
        return false;
    }
    return true;
}

bool t_path::Delete(t_errorContext& ctx) const {
    char bytes[kPathBytes];
    if (ToBytes(bytes, sizeof bytes) && unlink(bytes) == 0) return true;
    if (!IsFile()) return true;
    ctx.SetError(u"删除文件失败");
    return false;
}

bool t_path::RemoveDir(t_errorContext&) const {
    return true;  // folders are left in place
}

bool t_path::MoveTo(t_errorContext& ctx, const t_path& dest, bool) const {
    t_path parent;
    if (dest.GetParentDir(parent) && !parent.CreateDirectory(ctx, false)) return false;
    char from[kPathBytes], to[kPathBytes];
    if (!ToBytes(from, sizeof from) || !dest.ToBytes(to, sizeof to) || rename(from, to) != 0) {
        ctx.SetError(u"移动文件失败");
        return false;
    }
    return true;
}

bool t_path::CopyTo(t_errorContext& ctx, const t_path& dest, bool) const {
    t_path parent;
    if (dest.GetParentDir(parent) && !parent.CreateDirectory(ctx, false)) return false;
    char from[kPathBytes], to[kPathBytes];
    if (!ToBytes(from, sizeof from) || !dest.ToBytes(to, sizeof to) ||
        !PathCopyFileBytes(from, to)) {
        ctx.SetError(u"拷贝文件失败");
        return false;
    }
    return true;
}

bool t_path::BackupAt(t_errorContext& ctx, time_t now) const {
    t_path parent;
    if (!GetParentDir(parent)) {
        ctx.SetError(u"备份文件失败：无法解析所在目录");
        return false;
    }
    t_str name;
    GetFileTitle(name);
    t_str stamp;
    if (!stamp.FormatTime(now, u"_%Y%M%D_%h%m%s")) {
        ctx.SetError(u"备份文件失败");
        return false;
    }
    name.Append(stamp);
    t_path dest(parent.GetStr(), u"Backup");
    dest.Join(name.GetStr());
    if (const char16_t* ext = GetExtension()) dest.m_str.Append(ext);
    if (!MoveTo(ctx, dest, false)) {
        ctx.SetError(u"备份文件失败");
        return false;
    }
    return true;
}

bool t_path::RemovePath(const t_path& path) {
    t_errorContext ctx;
    if (path.IsFile()) return path.Delete(ctx);
    if (path.IsDirectory()) return path.RemoveDir(ctx);
    return true;
}

bool t_path::ToBytes(char* out, size_t capacity) const {
    return Str16ToPathBytes(m_str.GetStr(), out, capacity);
}

bool PathExists16(const char16_t* path) {
    const t_path p(path);
    return p.IsFile() || p.IsDirectory();
}

}  // namespace n_porting
