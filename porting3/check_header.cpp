// The checked header and the whole-file loader.
#include "porting3/check_header.h"

#include <cstdlib>
#include <cstring>

#include "kernel/runtime/byte_order.h"
#include "porting3/crypto.h"

namespace n_porting {

namespace {

constexpr size_t kVersionAt = 0, kMarkAt = 4, kDataDigestAt = 8, kDataSizeAt = 24,
                 kSelfDigestAt = 28;

}  // namespace

bool t_checkHeader::Build(const void* data, uint32_t length) {
    std::memset(m_bytes, 0, sizeof m_bytes);
    if (!Md5Digest(m_bytes + kDataDigestAt, data, length)) return false;
    Wr32(m_bytes + kDataSizeAt, length);
    Wr32(m_bytes + kVersionAt, kVersion);
    Wr32(m_bytes + kMarkAt, kMark);
    return Md5Digest(m_bytes + kSelfDigestAt, m_bytes, GetHashedLength());
}

bool t_checkHeader::Validate(t_errorContext& ctx, const uint8_t* bytes, uint64_t count,
                             uint64_t dataSize) {
    if (count != GetSize() || !bytes) {
        ctx.SetError(u"验证校验头信息失败：大小不正确");
        return false;
    }
    uint8_t self[kMd5Bytes];
    if (!Md5Digest(self, bytes, GetHashedLength()) || !Md5Equal(self, bytes + kSelfDigestAt)) {
        ctx.SetError(u"验证校验头信息失败：自验证失败");
        return false;
    }
    if (Rd32(bytes + kVersionAt) != kVersion) {
        ctx.SetError(u"验证校验头信息失败：版本不匹配");
        return false;
    }
    if (Rd32(bytes + kDataSizeAt) != dataSize) {
        ctx.SetError(u"数据大小不一致");
        return false;
    }
    std::memcpy(m_bytes, bytes, GetSize());
    return true;
}

bool t_checkHeader::CheckData(t_errorContext& ctx, const void* data, uint64_t length) const {
    if (Rd32(m_bytes + kDataSizeAt) != length) {
        ctx.SetError(u"数据大小错误");
        return false;
    }
    uint8_t digest[kMd5Bytes];
    if (!Md5Digest(digest, data, size_t(length)) || !Md5Equal(digest, m_bytes + kDataDigestAt)) {
        ctx.SetError(u"校验和计算错误");
        return false;
    }
    return true;
}

bool t_fileBufferRead::Load(t_errorContext& ctx, const t_path& path, int mode) {
    Adopt(nullptr, 0);
    t_fileRead file;
    t_errorContext ignored;
    if (!file.Open(ignored, path) && !file.Open(ignored, path + u".qzbak")) {
        ctx.SetError(u"打开文件失败");
        return false;
    }
    // t_fileRead refuses files of 4 GiB or more, so every size fits 32 bits.
    const uint64_t size = file.GetFileSize();
    uint64_t start = 0, dataSize = size;
    t_checkHeader header;
    if (mode != kPlain) {
        if (size < 4) {
            ctx.SetError(u"打开文件失败 - 文件太小");
            return false;
        }
        uint32_t headerSize = 0;
        if (!file.Seek(ignored, size - 4)) {
            ctx.SetError(u"打开文件失败");
            return false;
        }
        if (!file.ReadU32(ignored, &headerSize)) {
            ctx.SetError(u"打开文件失败: 读校验头大小");
            return false;
        }
        // The size is checked before anything is read into the 44-byte header.
        if (headerSize != t_checkHeader::GetSize()) {
            ctx.SetError(u"验证校验头信息失败：大小不正确");
            return false;
        }
        if (headerSize > size - 4) {
            ctx.SetError(u"打开文件失败: 校验头大小错误");
            return false;
        }
        dataSize = size - 4 - headerSize;
        uint8_t bytes[t_checkHeader::GetSize()];
        if (!file.Seek(ignored, dataSize) || !file.Read(ignored, bytes, headerSize)) {
            ctx.SetError(u"打开文件失败");
            return false;
        }
        if (!header.Validate(ctx, bytes, headerSize, dataSize)) return false;
        if (!file.Seek(ignored, start)) {
            ctx.SetError(u"打开文件失败");
            return false;
        }
    }
    auto* buffer = static_cast<uint8_t*>(std::malloc(dataSize ? size_t(dataSize) : 1));
    if (!buffer || !file.Read(ignored, buffer, dataSize)) {
        std::free(buffer);
        ctx.SetError(u"打开文件失败");
        return false;
    }
    if (mode != kPlain && !header.CheckData(ctx, buffer, dataSize)) {
        std::free(buffer);
        ctx.SetError(u"打开文件失败: 校验错误");
        return false;
    }
    Adopt(buffer, dataSize);
    return true;
}

}  // namespace n_porting
