// t_mappedMemory: a read-only mapping of a whole file or a private, zeroed
// memory block of the process, for tables and dictionary images.
// One thread at a time per object; the data may be read from any thread.
#pragma once

#include <cstddef>
#include <cstdint>

#include "kernel/runtime/path.h"

class t_mappedMemory {
public:
    t_mappedMemory() = default;
    ~t_mappedMemory() { Release(); }
    t_mappedMemory(const t_mappedMemory&) = delete;
    t_mappedMemory& operator=(const t_mappedMemory&) = delete;

    // Forgets the content without releasing it (only for a fresh object).
    void Init();
    bool IsValid() const { return m_state == 1 && m_data != nullptr; }

    // A zeroed private block of `size` bytes (after a 4-byte size word).
    // False when size <= 0, a file is mapped, or memory is short; a previous
    // private block is released first. The name is not used. The block is
    // an anonymous mapping: its pages take no memory until first written.
    bool CreatePrivate(const wchar_t* name, int32_t size);
    // True only when this object already holds a valid private block; clears
    // the created flag. Blocks are private to the object.
    bool OpenExisting(const wchar_t* name);
    bool IsCreated() const { return IsValid() && m_created; }

    // Maps a whole file read-only. False for a missing, empty or too large
    // (over 2 GiB) file, or when the object already holds something; the
    // object is then empty.
    bool MapFileReadOnly(const t_pathName& path);
    bool MapFileByName(const wchar_t* path);
    bool InitAndMapFile(const t_pathName& path) {
        Init();
        return MapFileReadOnly(path);
    }
    bool InitAndMapFileByName(const wchar_t* path) {
        Init();
        return MapFileByName(path);
    }

    // Null / 0 when not valid.
    void* GetData() const;
    int32_t GetSize() const { return IsValid() ? m_size : 0; }
    bool IsFileMapping() const { return m_fd != -1; }

    // Lets the system take back the pages of a file mapping that this
    // process has read so far (they come back from the page cache on the
    // next read); the content is unchanged. Does nothing for a private
    // block, whose pages are its only copy. False when nothing was dropped.
    bool DropResidentPages();

    bool Close() { return Release(); }
    // Frees or unmaps; always true.
    bool Release();

private:
    size_t PrivateBytes() const;

    uint8_t* m_data = nullptr;  // the allocation / mapping start
    int32_t m_size = 0;
    int m_fd = -1;  // -1 for a private block
    bool m_created = false;
    int m_state = 0;  // 1 valid, 0 empty
};

// Copies n bytes into dst, which must hold zeros already (a fresh private
// block), writing only the pages of dst that receive a non-zero byte: the
// empty room of a dictionary image then never becomes resident.
void CopyIntoZeroed(void* dst, const void* src, size_t n);
