// The 44-byte checked header that data files of the platform layer carry at
// their end, and t_fileBufferRead, which loads a whole file plainly or checked,
// falling back to its ".qzbak" copy. One thread at a time per object.
#pragma once

#include <cstddef>
#include <cstdint>

#include "porting3/file_stream.h"

namespace n_porting {

// Layout of a checked file: the D data bytes, this header, then u32 44.
// Header (little-endian): u32 version 1, u32 mark, MD5 of the data, u32 D,
// MD5 of header bytes 0-27.
class t_checkHeader {
public:
    static constexpr uint32_t kVersion = 1;
    static constexpr uint32_t kMark = 20080222;  // written, never checked
    static constexpr size_t GetSize() { return 44; }
    static constexpr size_t GetHashedLength() { return 28; }

    // Fills the header for `length` data bytes; false when they cannot be hashed.
    bool Build(const void* data, uint32_t length);
    // Checks `count` header bytes against the expected data size; on success
    // the header is copied into the object.
    bool Validate(t_errorContext& ctx, const uint8_t* bytes, uint64_t count, uint64_t dataSize);
    // The data against the size and digest of the validated header.
    bool CheckData(t_errorContext& ctx, const void* data, uint64_t length) const;
    const uint8_t* GetBytes() const { return m_bytes; }

private:
    uint8_t m_bytes[44] = {};
};

class t_fileBufferRead : public t_fileBufRead {
public:
    static constexpr int kPlain = 1;  // any other mode is the checked load

    // Loads the whole file (its ".qzbak" copy when the file cannot be
    // opened; a file that opens but fails a check does not fall back). After
    // a checked load only the data is held. False with the reason, nothing held.
    bool Load(t_errorContext& ctx, const t_path& path, int mode);
};

}  // namespace n_porting
