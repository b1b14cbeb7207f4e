// The file stream: whole reads and writes over one descriptor.
#include "kernel/runtime/file_stream.h"

#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>

int64_t t_fileStream::Read(void* buf, size_t length) {
    if (!IsOpen() || (!buf && length) || length > SSIZE_MAX) return -1;
    auto* p = static_cast<char*>(buf);
    size_t done = 0;
    while (done < length) {
        const ssize_t n = read(m_file.GetFd(), p + done, length - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            perror("read");
            return -1;
        }
        if (n == 0) break;  // the end of the file
        done += size_t(n);
    }
    return int64_t(done);
}

int64_t t_fileStream::Write(const void* buf, size_t length) {
    if (!IsOpen() || (!buf && length) || length > SSIZE_MAX) return -1;
    return m_file.WriteAll(buf, length) ? int64_t(length) : -1;
}

int64_t t_fileStream::Seek(int64_t offset, int whence) {
    if (!IsOpen() || (whence != SEEK_SET && whence != SEEK_CUR && whence != SEEK_END)) return -1;
    const off_t at = lseek(m_file.GetFd(), off_t(offset), whence);
    if (at < 0) {
        perror("lseek");
        return -1;
    }
    return int64_t(at);
}
