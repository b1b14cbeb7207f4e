// Byte streams, file streams and the in-memory writer with its safe save.
#include "porting3/file_stream.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "kernel/runtime/fd_file.h"
#include "porting3/str16.h"

namespace n_porting {

namespace {

using ull = unsigned long long;

void SetErrorf(t_errorContext& ctx, const char16_t* format, ...) {
    t_str text;
    va_list args;
    va_start(args, format);
    text.FormatV(format, args);
    va_end(args);
    ctx.SetError(text.GetStr());
}

bool WriteAllFd(int fd, const void* data, size_t n) {
    auto* p = static_cast<const char*>(data);
    while (n > 0) {
        const ssize_t w = write(fd, p, n);
        if (w < 0 && errno == EINTR) continue;
        if (w <= 0) return false;
        p += w;
        n -= size_t(w);
    }
    return true;
}

// A device or pipe cannot be replaced by a rename and is written in place.
bool WriteDevice(const char* path, const void* a, size_t na, const void* b, size_t nb) {
    const int fd = open(path, O_WRONLY | O_CLOEXEC);
    if (fd < 0) return false;
    bool ok = WriteAllFd(fd, a, na) && WriteAllFd(fd, b, nb);
    if (close(fd) != 0) ok = false;
    return ok;
}

}  // namespace

bool SaveFileSafely(t_errorContext& ctx, const t_path& path, const void* a, size_t na,
                    const void* b, size_t nb) {
    t_path parent;
    char bytes[kPathBytes];
    bool ok = (!path.GetParentDir(parent) || parent.CreateDirectory(ctx, false)) &&
              path.ToBytes(bytes, sizeof bytes);
    if (ok) {
        struct stat st;
        if (stat(bytes, &st) == 0 && !S_ISREG(st.st_mode)) {
            ok = !S_ISDIR(st.st_mode) && WriteDevice(bytes, a, na, b, nb);
        } else {
            t_safeFileWriter writer;  // removes its temporary unless committed
            ok = writer.Begin(bytes) && (na == 0 || writer.Write(a, na)) &&
                 (nb == 0 || writer.Write(b, nb)) && writer.Commit();
        }
    }
    if (!ok) ctx.SetError(u"写文件失败");
    return ok;
}

// ---- typed streams ----

bool t_byteStreamRead::ReadLStr(t_errorContext& ctx, t_lstr* dst, uint32_t capacity) {
    uint16_t count = 0;
    if (!dst || !ReadU16(ctx, &count)) return false;
    if (uint32_t(count) + kLstrHeaderBytes > capacity) {
        SetErrorf(ctx, u"读LstrU4失败：缓冲区不足：%u", unsigned(count));
        return false;
    }
    if (!Read(ctx, LstrGetBytes(dst), count)) return false;
    LstrSetByteLength(dst, count);
    return true;
}

bool t_byteStreamRead::ReadString16(t_errorContext& ctx, char16_t* dst, size_t capacity) {
    uint16_t count = 0;
    if (!dst || !ReadU16(ctx, &count)) return false;
    if (count % 2) {
        SetErrorf(ctx, u"读字符串失败：字符串长度非法: %u", unsigned(count));
        return false;
    }
    if (count / 2u >= capacity) {
        SetErrorf(ctx, u"读字符串失败：缓冲区不足: %u", unsigned(count));
        return false;
    }
    if (!Read(ctx, dst, count)) return false;
    dst[count / 2] = 0;
    return true;
}

bool t_byteStreamWrite::WriteLStr(t_errorContext& ctx, const t_lstr* s) {
    if (!s) return false;
    return Write(ctx, s, LstrGetTotalBytes(s));
}

bool t_byteStreamWrite::WriteString16(t_errorContext& ctx, const char16_t* s) {
    const size_t units = WcsLen16(s);
    if (units > 65535 / 2) {
        ctx.SetError(u"写字符串失败：字符串过长");
        return false;
    }
    return WriteU16(ctx, uint16_t(units * 2)) && (units == 0 || Write(ctx, s, units * 2));
}

// ---- t_file ----

bool t_file::Open(t_errorContext& ctx, const t_path& path, int mode) {
    static const char* const kModes[] = {"rb", "wb", "wb+", "ab+"};
    static const int kFlags[] = {O_RDONLY, O_WRONLY | O_CREAT | O_TRUNC, O_RDWR | O_CREAT | O_TRUNC,
                                 O_RDWR | O_CREAT | O_APPEND};
    Close();
    char bytes[kPathBytes];
    // Only a regular file, opened without blocking: a FIFO or a device in a
    // file's place would hold the caller in open or read.
    const int fd = mode < 0 || mode > 3 || !path.ToBytes(bytes, sizeof bytes)
                       ? -1
                       : OpenRegularFile(bytes, kFlags[mode], INT64_MAX, nullptr, 0666);
    if (fd < 0 || !(m_file = fdopen(fd, kModes[mode]))) {
        if (fd >= 0) close(fd);
        ctx.SetError(u"打开文件失败");
        return false;
    }
    m_path.Assign(path.GetStr());
    return true;
}

bool t_file::ReadRaw(t_errorContext& ctx, void* buffer, uint64_t n, uint64_t* count) {
    if (count) *count = 0;
    if (n == 0) return true;
    const size_t got = m_file && buffer ? std::fread(buffer, 1, size_t(n), m_file) : 0;
    if (count) *count = got;
    if (got == 0) {
        SetErrorf(ctx, u"读文件错误[文件已经结束]：%s", m_path.GetStr());
        return false;
    }
    return true;
}

bool t_file::WriteRaw(t_errorContext&, const void* buffer, uint64_t n, uint64_t* count) {
    const size_t put = m_file && buffer && n ? std::fwrite(buffer, 1, size_t(n), m_file) : 0;
    if (count) *count = put;
    return true;
}

bool t_file::Flush() {
    return m_file && std::fflush(m_file) == 0;
}

bool t_file::Seek(t_errorContext& ctx, uint64_t offset) {
    if (!m_file || offset > uint64_t(INT64_MAX) || fseeko(m_file, off_t(offset), SEEK_SET) != 0) {
        SetErrorf(ctx, u"文件Seek错误[%llu]：%s", ull(offset), m_path.GetStr());
        return false;
    }
    return true;
}

int64_t t_file::GetSize() const {
    if (!m_file) return -1;
    struct stat st;
    if (fstat(fileno(m_file), &st) != 0) return -1;
    return int64_t(st.st_size);
}

bool t_file::Close() {
    if (!m_file) return true;
    const bool ok = std::fclose(m_file) == 0;
    m_file = nullptr;
    return ok;
}

bool t_fileRead::Open(t_errorContext& ctx, const t_path& path) {
    m_size = m_position = 0;
    if (!t_file::Open(ctx, path, 0)) return false;
    const int64_t size = GetSize();
    if (size < 0 || size > int64_t(UINT32_MAX)) {
        Close();
        ctx.SetError(u"打开文件失败");
        return false;
    }
    m_size = uint64_t(size);
    return true;
}

bool t_fileRead::Read(t_errorContext& ctx, void* dst, uint64_t n) {
    if (n > GetRemaining()) {
        SetErrorf(ctx, u"数据不足[预期读取%llu字节，实际读取%llu字节]：%s", ull(n),
                  ull(GetRemaining()), m_path.GetStr());
        return false;
    }
    uint64_t got = 0;
    if (n > 0 && (!ReadRaw(ctx, dst, n, &got) || got != n)) {
        SetErrorf(ctx, u"数据不足[预期读取%llu字节，实际读取%llu字节]：%s", ull(n), ull(got),
                  m_path.GetStr());
        t_file::Seek(ctx, m_position);
        return false;
    }
    m_position += n;
    return true;
}

bool t_fileRead::Seek(t_errorContext& ctx, uint64_t position) {
    if (position > m_size) {
        SetErrorf(ctx, u"Seek失败[超过文件尾]：%s", m_path.GetStr());
        return false;
    }
    if (!t_file::Seek(ctx, position)) return false;
    m_position = position;
    return true;
}

bool t_fileWrite::Write(t_errorContext& ctx, const void* src, uint64_t n) {
    uint64_t put = 0;
    WriteRaw(ctx, src, n, &put);
    if (put != n) {
        SetErrorf(ctx, u"写数据不充分[预期写%llu字节，实际写%llu字节]：%s", ull(n), ull(put),
                  m_path.GetStr());
        return false;
    }
    return true;
}

// ---- whole-file reader ----

namespace {

// The read and seek shared by the two in-memory streams: `*position` moves
// only on success.
bool ReadBytesAt(t_errorContext& ctx, const uint8_t* buffer, uint64_t size, uint64_t* position,
                 void* dst, uint64_t n) {
    if (n > size - *position) {
        SetErrorf(ctx, u"读文件越界: %llu字节", ull(n));
        return false;
    }
    if (n) std::memcpy(dst, buffer + *position, size_t(n));
    *position += n;
    return true;
}

bool SeekWithin(t_errorContext& ctx, uint64_t size, uint64_t* position, uint64_t target) {
    if (target > size) {
        SetErrorf(ctx, u"文件访问越界: %llu", ull(target));
        return false;
    }
    *position = target;
    return true;
}

}  // namespace

t_fileBufRead::~t_fileBufRead() {
    std::free(m_buffer);
}

bool t_fileBufRead::Open(t_errorContext& ctx, const t_path& path) {
    std::free(m_buffer);
    m_buffer = nullptr;
    m_size = m_position = 0;
    t_fileRead file;
    bool ok = file.Open(ctx, path);
    const uint64_t size = ok ? file.GetFileSize() : 0;
    if (ok) {
        m_buffer = static_cast<uint8_t*>(std::malloc(size ? size_t(size) : 1));
        ok = m_buffer && file.Read(ctx, m_buffer, size);
    }
    if (!ok) {
        std::free(m_buffer);
        m_buffer = nullptr;
        ctx.SetError(u"打开文件失败");
        return false;
    }
    m_size = size;
    return true;
}

void t_fileBufRead::Adopt(uint8_t* buffer, uint64_t size) {
    std::free(m_buffer);
    m_buffer = buffer;
    m_size = buffer ? size : 0;
    m_position = 0;
}

bool t_fileBufRead::Read(t_errorContext& ctx, void* dst, uint64_t n) {
    return ReadBytesAt(ctx, m_buffer, m_size, &m_position, dst, n);
}

bool t_fileBufRead::Seek(t_errorContext& ctx, uint64_t position) {
    return SeekWithin(ctx, m_size, &m_position, position);
}

// ---- in-memory writer ----

t_fileBufWrite::t_fileBufWrite() {
    m_buffer = static_cast<uint8_t*>(std::malloc(kInitialBytes));
    if (m_buffer) m_capacity = kInitialBytes;
}

t_fileBufWrite::~t_fileBufWrite() {
    std::free(m_buffer);
}

bool t_fileBufWrite::Write(t_errorContext& ctx, const void* src, uint64_t n) {
    if (n > kMaxBytes || m_position > kMaxBytes - n) {
        SetErrorf(ctx, u"写文件失败：数据量太大: %llu字节", ull(n));
        return false;
    }
    const uint64_t needed = m_position + n;
    uint64_t capacity = m_capacity ? m_capacity : kInitialBytes;  // released by a save
    while (capacity < needed) capacity = capacity * 2 > kMaxBytes ? kMaxBytes : capacity * 2;
    if (capacity != m_capacity) {
        auto* grown = static_cast<uint8_t*>(std::realloc(m_buffer, size_t(capacity)));
        if (!grown) {
            SetErrorf(ctx, u"写文件失败：数据量太大: %llu字节", ull(n));
            return false;
        }
        m_buffer = grown;
        m_capacity = capacity;
    }
    if (n) std::memcpy(m_buffer + m_position, src, size_t(n));
    m_position += n;
    if (m_position > m_size) m_size = m_position;
    return true;
}

bool t_fileBufWrite::Read(t_errorContext& ctx, void* dst, uint64_t n) {
    return ReadBytesAt(ctx, m_buffer, m_size, &m_position, dst, n);
}

bool t_fileBufWrite::Seek(t_errorContext& ctx, uint64_t position) {
    return SeekWithin(ctx, m_size, &m_position, position);
}

bool t_fileBufWrite::SaveTo(t_errorContext& ctx, const t_path& path) {
    if (!SaveFileSafely(ctx, path, m_buffer, size_t(m_size), nullptr, 0)) return false;
    std::free(m_buffer);
    m_buffer = nullptr;
    m_capacity = m_size = m_position = 0;
    return true;
}

bool t_fileBakWrite::Save(t_errorContext& ctx, const t_path& path) {
    if (SaveTo(ctx, path)) return true;
    SetErrorf(ctx, u"备份写失败:%s", path.GetStr());
    return false;
}

}  // namespace n_porting
