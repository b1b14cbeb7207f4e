// t_stream, a byte stream whose operations answer a byte count or a
// position (-1 on failure), and t_fileStream, that stream over a t_fdFile.
// One thread at a time per object.
#pragma once

#include <cstddef>
#include <cstdint>

#include "kernel/runtime/fd_file.h"

class t_stream {
public:
    virtual ~t_stream() = default;
    // Bytes read, fewer than length only at the end of the stream; -1 on failure.
    virtual int64_t Read(void* buf, size_t length) = 0;
    // length when every byte was written; -1 on failure (some may have been).
    virtual int64_t Write(const void* buf, size_t length) = 0;
    // whence 0/1/2 (from the start, the current position, the end); the new
    // position, or -1 for another whence or a position before the start.
    virtual int64_t Seek(int64_t offset, int whence) = 0;
    // 0, also when nothing is open; -1 when closing fails.
    virtual int Close() = 0;
};

class t_fileStream : public t_stream {
public:
    // With t_fdFile's numbered modes (kOpenRead ...); an open file is
    // closed first. False when the file cannot be opened.
    bool Open(const wchar_t* path, int mode) { return m_file.Open(path, mode); }
    bool IsOpen() const { return m_file.IsOpen(); }

    int64_t Read(void* buf, size_t length) override;
    int64_t Write(const void* buf, size_t length) override;
    int64_t Seek(int64_t offset, int whence) override;
    int Close() override { return m_file.Close() ? 0 : -1; }

private:
    t_fdFile m_file;
};
