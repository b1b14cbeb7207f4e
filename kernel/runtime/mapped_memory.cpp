// Read-only file mappings and private memory blocks.
#include "kernel/runtime/mapped_memory.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "kernel/runtime/fd_file.h"

namespace {
// A private block starts with its size, then the zeroed data.
constexpr size_t kSizeWord = 4;
constexpr size_t kPage = 4096;

bool AllZero(const uint8_t* p, size_t n) {
    while (n >= 8) {
        uint64_t w;
        memcpy(&w, p, 8);
        if (w) return false;
        p += 8;
        n -= 8;
    }
    while (n--)
        if (*p++) return false;
    return true;
}
}  // namespace

void CopyIntoZeroed(void* dst, const void* src, size_t n) {
    auto* d = static_cast<uint8_t*>(dst);
    const auto* s = static_cast<const uint8_t*>(src);
    while (n > 0) {
        // Up to the next page boundary of the destination.
        const size_t room = kPage - reinterpret_cast<uintptr_t>(d) % kPage;
        const size_t len = room < n ? room : n;
        if (!AllZero(s, len)) memcpy(d, s, len);
        d += len;
        s += len;
        n -= len;
    }
}

size_t t_mappedMemory::PrivateBytes() const {
    return static_cast<size_t>(m_size) + kSizeWord;
}

void t_mappedMemory::Init() {
    m_data = nullptr;
    m_size = 0;
    m_fd = -1;
    m_created = false;
    m_state = 0;
}

bool t_mappedMemory::CreatePrivate(const wchar_t*, int32_t size) {
    if (size <= 0 || m_fd != -1) return false;
    Release();
    // Not from the heap: an anonymous mapping is zero without being
    // written, and goes back to the system whole when released.
    void* map = mmap(nullptr, static_cast<size_t>(size) + kSizeWord, PROT_READ | PROT_WRITE,
                     MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (map == MAP_FAILED) return false;
    auto* block = static_cast<uint8_t*>(map);
    const uint32_t word = static_cast<uint32_t>(size);
    memcpy(block, &word, kSizeWord);
    m_data = block;
    m_size = size;
    m_created = true;
    m_state = 1;
    return true;
}

bool t_mappedMemory::OpenExisting(const wchar_t*) {
    if (!IsValid() || m_fd != -1) return false;
    m_created = false;
    return true;
}

bool t_mappedMemory::MapFileReadOnly(const t_pathName& path) {
    if (m_state != 0) return false;
    t_pathName p;
    p.AssignPath(path);
    char mb[kPathBufBytes];
    if (!p.ToBytes(mb, sizeof mb)) return false;
    int64_t size = 0;
    const int fd = OpenRegularFile(mb, O_RDONLY, INT32_MAX, &size);
    if (fd < 0) {
        fprintf(stderr, "%s: %s\n", mb, errno == EINVAL ? "not a regular file" : strerror(errno));
        return false;
    }
    struct stat st;
    if (fstat(fd, &st) != 0 || size <= 0) {
        fprintf(stderr, "%s: cannot map (not a non-empty regular file under 2 GiB)\n", mb);
        close(fd);
        return false;
    }
    void* map = mmap(nullptr, static_cast<size_t>(st.st_size), PROT_READ, MAP_SHARED, fd, 0);
    if (map == MAP_FAILED) {
        fprintf(stderr, "%s: %s\n", mb, strerror(errno));
        close(fd);
        return false;
    }
    m_data = static_cast<uint8_t*>(map);
    m_size = static_cast<int32_t>(st.st_size);
    m_fd = fd;
    m_created = false;
    m_state = 1;
    return true;
}

bool t_mappedMemory::MapFileByName(const wchar_t* path) {
    if (!path) return false;
    return MapFileReadOnly(t_pathName(path));
}

void* t_mappedMemory::GetData() const {
    if (!IsValid()) return nullptr;
    return m_fd == -1 ? m_data + kSizeWord : m_data;
}

bool t_mappedMemory::DropResidentPages() {
    if (!IsValid() || m_fd == -1) return false;
    return madvise(m_data, static_cast<size_t>(m_size), MADV_DONTNEED) == 0;
}

bool t_mappedMemory::Release() {
    if (m_data) {
        if (m_fd == -1) {
            munmap(m_data, PrivateBytes());
        } else {
            munmap(m_data, static_cast<size_t>(m_size));
        }
    }
    if (m_fd != -1) close(m_fd);
    Init();
    return true;
}
