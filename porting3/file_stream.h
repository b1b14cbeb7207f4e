// Byte streams of the platform layer: typed reads and writes over abstract
// readers and writers, direct file streams, a whole-file reader, and an
// in-memory writer that saves through a synced temporary renamed over the
// target. One thread at a time per object.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "kernel/runtime/lstr.h"
#include "porting3/path16.h"
#include "porting3/str_class.h"

namespace n_porting {

class t_byteStreamRead {
public:
    virtual ~t_byteStreamRead() = default;
    virtual bool Read(t_errorContext& ctx, void* dst, uint64_t n) = 0;

    // Little-endian values at their natural width.
    bool ReadU64(t_errorContext& ctx, uint64_t* v) { return Read(ctx, v, 8); }
    bool ReadU32(t_errorContext& ctx, uint32_t* v) { return Read(ctx, v, 4); }
    bool ReadI32(t_errorContext& ctx, int32_t* v) { return Read(ctx, v, 4); }
    bool ReadU16(t_errorContext& ctx, uint16_t* v) { return Read(ctx, v, 2); }
    bool ReadI16(t_errorContext& ctx, int16_t* v) { return Read(ctx, v, 2); }
    bool ReadU8(t_errorContext& ctx, uint8_t* v) { return Read(ctx, v, 1); }
    bool ReadI8(t_errorContext& ctx, int8_t* v) { return Read(ctx, v, 1); }
    // A u16 byte count and that many bytes, into `capacity` bytes with the count.
    bool ReadLStr(t_errorContext& ctx, t_lstr* dst, uint32_t capacity);
    // A u16 byte count (even) and the units, terminated, into `capacity` units.
    bool ReadString16(t_errorContext& ctx, char16_t* dst, size_t capacity);
};

class t_byteStreamWrite {
public:
    virtual ~t_byteStreamWrite() = default;
    virtual bool Write(t_errorContext& ctx, const void* src, uint64_t n) = 0;

    bool WriteU64(t_errorContext& ctx, uint64_t v) { return Write(ctx, &v, 8); }
    bool WriteU32(t_errorContext& ctx, uint32_t v) { return Write(ctx, &v, 4); }
    bool WriteI32(t_errorContext& ctx, int32_t v) { return Write(ctx, &v, 4); }
    bool WriteU16(t_errorContext& ctx, uint16_t v) { return Write(ctx, &v, 2); }
    bool WriteI16(t_errorContext& ctx, int16_t v) { return Write(ctx, &v, 2); }
    bool WriteU8(t_errorContext& ctx, uint8_t v) { return Write(ctx, &v, 1); }
    bool WriteI8(t_errorContext& ctx, int8_t v) { return Write(ctx, &v, 1); }
    bool WriteLStr(t_errorContext& ctx, const t_lstr* s);
    // False for a string whose byte count does not fit in 16 bits.
    bool WriteString16(t_errorContext& ctx, const char16_t* s);
};

// Open modes: 0 "rb", 1 "wb", 2 "wb+", 3 "ab+".
class t_file {
public:
    t_file() = default;
    virtual ~t_file() { Close(); }
    t_file(const t_file&) = delete;
    t_file& operator=(const t_file&) = delete;

    bool Open(t_errorContext& ctx, const t_path& path, int mode);
    bool ReadRaw(t_errorContext& ctx, void* buffer, uint64_t n, uint64_t* count);
    bool WriteRaw(t_errorContext& ctx, const void* buffer, uint64_t n, uint64_t* count);
    bool Flush();
    bool Seek(t_errorContext& ctx, uint64_t offset);
    int64_t GetSize() const;  // -1 when closed or unknown
    // False when the stream's last writes could not be completed.
    bool Close();
    bool IsOpen() const { return m_file != nullptr; }
    const t_str& GetPath() const { return m_path; }

protected:
    FILE* m_file = nullptr;
    t_str m_path;
};

class t_fileRead : public t_file, public t_byteStreamRead {
public:
    // Mode 0, then the size; files of 4 GiB or more are refused.
    bool Open(t_errorContext& ctx, const t_path& path);
    // Fails without reading or moving when fewer than n bytes remain.
    bool Read(t_errorContext& ctx, void* dst, uint64_t n) override;
    bool Seek(t_errorContext& ctx, uint64_t position);
    uint64_t GetRemaining() const { return m_size - m_position; }
    bool IsEnd() const { return m_position >= m_size; }
    uint64_t GetFileSize() const { return m_size; }

private:
    uint64_t m_size = 0;
    uint64_t m_position = 0;
};

class t_fileWrite : public t_file, public t_byteStreamWrite {
public:
    bool Write(t_errorContext& ctx, const void* src, uint64_t n) override;
};

class t_fileBufRead : public t_byteStreamRead {
public:
    ~t_fileBufRead() override;
    bool Open(t_errorContext& ctx, const t_path& path);
    bool Read(t_errorContext& ctx, void* dst, uint64_t n) override;
    bool Seek(t_errorContext& ctx, uint64_t position);
    bool IsEnd() const { return m_position >= m_size; }
    uint64_t GetRemaining() const { return m_size - m_position; }
    uint64_t GetSize() const { return m_size; }
    const uint8_t* GetData() const { return m_buffer; }

protected:
    // Takes a malloc'd buffer of `size` bytes (null: nothing held); position 0.
    void Adopt(uint8_t* buffer, uint64_t size);

private:
    uint8_t* m_buffer = nullptr;
    uint64_t m_size = 0;
    uint64_t m_position = 0;
};

class t_fileBufWrite : public t_byteStreamWrite, public t_byteStreamRead {
public:
    static constexpr uint64_t kInitialBytes = 65536;
    static constexpr uint64_t kMaxBytes = 104857600;  // 100 MiB

    t_fileBufWrite();
    ~t_fileBufWrite() override;
    t_fileBufWrite(const t_fileBufWrite&) = delete;
    t_fileBufWrite& operator=(const t_fileBufWrite&) = delete;

    // Grows by doubling up to kMaxBytes; a write past it fails, buffer kept.
    bool Write(t_errorContext& ctx, const void* src, uint64_t n) override;
    bool Read(t_errorContext& ctx, void* dst, uint64_t n) override;
    bool Seek(t_errorContext& ctx, uint64_t position);
    uint64_t GetPosition() const { return m_position; }
    uint64_t GetRemaining() const { return m_size - m_position; }
    uint64_t GetSize() const { return m_size; }
    uint64_t GetCapacity() const { return m_capacity; }
    const uint8_t* GetData() const { return m_buffer; }
    // Writes the bytes to the path through a temporary beside it (the folder
    // is made first). On success the buffer is released; on failure the
    // target is untouched, no temporary is left and the buffer is kept.
    bool SaveTo(t_errorContext& ctx, const t_path& path);

protected:
    uint8_t* m_buffer = nullptr;
    uint64_t m_capacity = 0;
    uint64_t m_size = 0;
    uint64_t m_position = 0;
};

class t_fileBakWrite : public t_fileBufWrite {
public:
    // The same single safe write as SaveTo: the rename is atomic, so no
    // separate stage file is needed.
    bool Save(t_errorContext& ctx, const t_path& path);
};

// Replaces the file at `path` with the bytes of `a` followed by those of `b`:
// folder made as MoveTo makes it, then a synced temporary renamed over the
// target. A device is written in place. False ("写文件失败") on any failure,
// with the target untouched and no temporary left.
bool SaveFileSafely(t_errorContext& ctx, const t_path& path, const void* a, size_t na,
                    const void* b, size_t nb);

}  // namespace n_porting
