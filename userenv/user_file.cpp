// The sealed user files and their records: sealing and opening, loading and
// saving, acc.dat and user.dat contents, the mask-driven copy.
// Main thread only.
#include "userenv/user_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

#include "kernel/runtime/byte_order.h"
#include "kernel/runtime/fd_file.h"
#include "porting3/crypto.h"
#include "porting3/file_stream.h"
#include "porting3/str16.h"

namespace n_userenv {

using n_porting::t_path;
using n_porting::t_str;

const uint8_t kAccFileKey[kUserKeyBytes] = {0x24, 0x8d, 0xdd, 0x69, 0xcd, 0xe9, 0x50, 0x4c,
                                            0x1c, 0x95, 0x93, 0x04, 0x53, 0x35, 0x25, 0xa3};
const uint8_t kPasswordSalt[kUserKeyBytes] = {0x9a, 0x39, 0x61, 0x9a, 0x2d, 0x03, 0xc5, 0xa7,
                                              0x8e, 0xa5, 0xae, 0xe7, 0x30, 0x13, 0xa7, 0x42};

namespace {

constexpr size_t kPathBytes = 4096;
constexpr uint32_t kAccMagic = 0x63636155;   // "Uacc"
constexpr uint32_t kDataMagic = 0x74616455;  // "Udat"
constexpr uint32_t kDataVersion = 2;
constexpr uint32_t kPairTableBytes = 4 * UserDataFile::kMembers;
constexpr uint32_t kPairsStart = 8 + kPairTableBytes;
constexpr uint32_t kOffsetArrayBytes = kPairsStart + 8 * UserDataFile::kMembers;  // 164

void Fail(t_errorContext& ctx, const char16_t* text, const t_str* detail = nullptr) {
    t_str message(text);
    if (detail) message.Append(*detail);
    ctx.SetError(message.GetStr());
}

bool ToBytes(const t_str& path, char* out) {
    return n_porting::Str16ToPathBytes(path.GetStr(), out, kPathBytes);
}

}  // namespace

bool DerivePasswordKey(const char16_t* password, uint8_t out[kUserKeyBytes]) {
    const size_t units = password ? n_porting::WcsLen16(password) : 0;
    char* gbk = units ? n_porting::Str16ToMultiByteAlloc(n_porting::kCodePageGbk, password, units)
                      : nullptr;
    if (units && !gbk) return false;
    uint8_t inner[32];
    bool ok = n_porting::Md5Digest(inner, gbk ? gbk : "", gbk ? std::strlen(gbk) : 0);
    std::free(gbk);
    std::memcpy(inner + 16, kPasswordSalt, 16);
    return ok && n_porting::Md5Digest(out, inner, sizeof inner);
}

bool MakePrivateDir(const t_path& dir) {
    t_errorContext ctx;
    t_path parent;
    if (dir.GetParentDir(parent) && !parent.CreateDirectory(ctx, false)) return false;
    char bytes[kPathBytes];
    if (!dir.ToBytes(bytes, sizeof bytes)) return false;
    mkdir(bytes, 0700);
    struct stat st;
    if (lstat(bytes, &st) != 0 || !S_ISDIR(st.st_mode)) return false;
    if (st.st_uid == geteuid() && (st.st_mode & 077)) chmod(bytes, st.st_mode & 0700);
    return true;
}

void MakePrivateFile(const t_str& path) {
    char bytes[kPathBytes];
    struct stat st;
    if (ToBytes(path, bytes) && lstat(bytes, &st) == 0 && S_ISREG(st.st_mode) &&
        st.st_uid == geteuid() && (st.st_mode & 07777) != 0600)
        chmod(bytes, 0600);
}

// ---- UserFile ----

void UserFile::SetKey(const uint8_t key[kUserKeyBytes]) {
    std::memcpy(m_key, key, kUserKeyBytes);
}

void UserFile::FreeContent() {
    std::free(m_content);
    m_content = nullptr;
    m_length = 0;
}

bool UserFile::SetContent(const uint8_t* bytes, uint32_t length) {
    const size_t rounded = (size_t(length) + 15) & ~size_t(15);
    auto* copy = static_cast<uint8_t*>(std::calloc(rounded ? rounded : 16, 1));
    if (!copy) return false;
    if (length) std::memcpy(copy, bytes, length);
    FreeContent();
    m_content = copy;
    m_length = length;
    return true;
}

int64_t UserFile::Seal(uint8_t* out, size_t capacity, const uint8_t* content,
                       uint32_t length) const {
    const size_t padded = (size_t(length) + 15) & ~size_t(15);
    const size_t size = padded + HeaderBytes();
    if (!out) return int64_t(size);
    if (capacity < size || (length && !content)) return -1;
    n_porting::t_aesKey key;
    uint8_t iv[16], header[16] = {'U', 's', 'e', 'r'};
    header[4] = uint8_t(length % 16);
    header[5] = m_digest ? 1 : 0;
    if (!n_porting::AesSetEncryptKey(&key, m_key, 128) || !n_porting::RandomBytes(iv, 16))
        return -1;
    std::memcpy(out, iv, 16);
    if (!n_porting::AesCbcEncrypt(iv, out + 16, header, 16, &key)) return -1;
    size_t at = 32;
    if (m_digest) {
        uint8_t digest[16];
        if (!n_porting::Md5Digest(digest, content ? content : header, length) ||
            !n_porting::AesCbcEncrypt(iv, out + 32, digest, 16, &key))
            return -1;
        at = 48;
    }
    if (padded == 0) return int64_t(size);
    // Enciphered in place from a zero-filled copy so the partial block reads no further.
    std::memset(out + at, 0, padded);
    std::memcpy(out + at, content, length);
    if (!n_porting::AesCbcEncrypt(iv, out + at, out + at, padded, &key)) return -1;
    return int64_t(size);
}

int64_t UserFile::Open(uint8_t* out, size_t capacity, const uint8_t* sealed, size_t length) const {
    const size_t head = HeaderBytes();
    if (!out) return length > head ? int64_t(length - head) : 0;
    if (!sealed || length < head || length > kSealedFileMaxBytes || (length - head) % 16) return -1;
    const size_t room = length - head;
    if (capacity < room) return -1;
    n_porting::t_aesKey key;
    uint8_t iv[16], header[16];
    std::memcpy(iv, sealed, 16);
    if (!n_porting::AesSetDecryptKey(&key, m_key, 128) ||
        !n_porting::AesCbcDecrypt(iv, header, sealed + 16, 16, &key))
        return -1;
    const uint8_t remainder = header[4];
    if (std::memcmp(header, "User", 4) != 0 || remainder > 15 || (room == 0 && remainder != 0) ||
        (header[5] & 1) != (m_digest ? 1 : 0))
        return -1;
    uint8_t stored[16];
    if (m_digest && !n_porting::AesCbcDecrypt(iv, stored, sealed + 32, 16, &key)) return -1;
    if (room && !n_porting::AesCbcDecrypt(iv, out, sealed + head, room, &key)) return -1;
    const size_t content = remainder ? room + remainder - 16 : room;
    if (m_digest) {
        uint8_t digest[16];
        if (!n_porting::Md5Digest(digest, room ? out : stored, content) ||
            !n_porting::Md5Equal(digest, stored))
            return -1;
    }
    return int64_t(content);
}

bool UserFile::Load(t_errorContext& ctx) {
    FreeContent();
    Reset();
    m_readWhole = false;
    char bytes[kPathBytes];
    // Without blocking: a FIFO in the file's place must not hold the caller.
    const int fd =
        ToBytes(m_path, bytes) ? OpenRegularFile(bytes, O_RDONLY, INT64_MAX, nullptr) : -1;
    struct stat st;
    if (fd < 0 || fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        if (fd >= 0) close(fd);
        Fail(ctx, u"UserFile::Load 打开文件失败:", &m_path);
        return false;
    }
    const uint64_t size = uint64_t(st.st_size);
    if (size < 33 || size > kSealedFileMaxBytes) {
        close(fd);
        m_readWhole = true;  // its size alone says it is damaged
        Fail(ctx, u"UserFile::Load 文件格式错误:", &m_path);
        return false;
    }
    auto* sealed = static_cast<uint8_t*>(std::malloc(size));
    uint64_t got = 0;
    while (sealed && got < size) {
        const ssize_t n = read(fd, sealed + got, size - got);
        if (n <= 0) break;
        got += uint64_t(n);
    }
    close(fd);
    if (!sealed || got != size) {
        std::free(sealed);
        t_str message;
        if (sealed)
            message.Assign(u"UserFile::Load 文件读取失败");
        else
            message.Format(u"UserFile::Load 分配内存失败,大小:%d", int(size));
        ctx.SetError(message.GetStr());
        return false;
    }
    m_readWhole = true;
    const int64_t room = Open(nullptr, 0, sealed, size);
    auto* content = static_cast<uint8_t*>(std::calloc(size_t(room) + 16, 1));
    const int64_t length = content ? Open(content, size_t(room) + 16, sealed, size) : -1;
    std::free(sealed);
    if (length < 0) {
        std::free(content);
        ctx.SetError(u"UserFile::Load 数据格式错误:文件内容损坏");
        return false;
    }
    m_content = content;
    m_length = uint32_t(length);
    if (!Parse()) {
        Reset();
        FreeContent();
        ctx.SetError(u"UserFile::Load 数据格式错误:数据非法");
        return false;
    }
    return true;
}

bool UserFile::Save(t_errorContext& ctx) {
    if (!Serialise()) {
        ctx.SetError(u"UserFile::Save 数据格式错误");
        return false;
    }
    const int64_t size = Seal(nullptr, 0, m_content, m_length);
    auto* sealed = static_cast<uint8_t*>(std::malloc(size_t(size)));
    if (!sealed || Seal(sealed, size_t(size), m_content, m_length) != size) {
        std::free(sealed);
        ctx.SetError(u"UserFile::Save 数据格式错误");
        return false;
    }
    // The writer keeps the mode of the file it replaces: make that private first.
    MakePrivateFile(m_path);
    const bool ok =
        n_porting::SaveFileSafely(ctx, t_path(m_path), sealed, size_t(size), nullptr, 0);
    std::free(sealed);
    if (!ok) {
        ctx.SetError(u"UserFile::Save 写入文件错误");
        return false;
    }
    MakePrivateFile(m_path);
    return true;
}

// ---- VarUserAcc ----

uint32_t VarUserAcc::Load(const uint8_t* buffer, uint32_t available, n_porting::t_heap* arena) {
    if (!buffer) return 0;
    uint32_t at = 0;
    VarBase* parts[] = {&m_id, &m_key, &m_name, &m_second};
    for (VarBase* part : parts) {
        const uint32_t n = part->Load(buffer + at, available - at, arena);
        if (n == kVarLoadFailed) return kVarLoadFailed;
        at += n;
    }
    return at;
}

uint32_t VarUserAcc::Save(uint8_t* buffer) const {
    uint32_t at = 0;
    const VarBase* parts[] = {&m_id, &m_key, &m_name, &m_second};
    for (const VarBase* part : parts) at += part->Save(buffer ? buffer + at : nullptr);
    return at;
}

void VarUserAcc::Reset() {
    m_id.Reset();
    m_key.Reset();
    m_name.Reset();
    m_second.Reset();
}

// ---- UserAccFile ----

UserAccFile::UserAccFile()
    : t_interface(n_porting::kVersionSlotAccounts), m_arena(4096), m_accounts(&m_arena) {}

bool UserAccFile::Serialise() {
    const uint32_t list = m_accounts.Save(nullptr);
    if (list > kSealedFileMaxBytes) return false;
    auto* bytes = static_cast<uint8_t*>(std::calloc(16 + list, 1));
    if (!bytes) return false;
    Wr32(bytes, kAccMagic);
    Wr32(bytes + 4, 1);
    Wr32(bytes + 8, m_lastId);
    Wr32(bytes + 12, m_currentId);
    m_accounts.Save(bytes + 16);
    const bool ok = SetContent(bytes, 16 + list);
    std::free(bytes);
    return ok;
}

bool UserAccFile::Parse() {
    if (!m_content || m_length < 20 || Rd32(m_content) != kAccMagic || Rd32(m_content + 4) != 1)
        return false;
    m_lastId = Rd32(m_content + 8);
    m_currentId = Rd32(m_content + 12);
    return m_accounts.Load(m_content + 16, m_length - 16, &m_arena) != kVarLoadFailed;
}

void UserAccFile::Reset() {
    m_accounts.Reset();
    m_arena.FreeAll();
    m_lastId = 0;
    m_currentId = 0;
}

bool UserAccFile::Save(t_errorContext& ctx) {
    if (!UserFile::Save(ctx)) return false;
    n_porting::t_versionReg::UpdateVersion(m_slot);
    SyncVersion();
    return true;
}

bool UserAccFile::Reload(t_errorContext& ctx, uint32_t, bool) {
    m_stale = true;
    if (!m_loaded) {
        ctx.SetError(u"UserAccFile::UpdateVersion 未初始化");
        return false;
    }
    m_loaded = UserFile::Load(ctx);
    return m_loaded;
}

int64_t UserAccFile::AddAccount(const char16_t* name, const char16_t* second,
                                const uint8_t key[kUserKeyBytes],
                                const std::function<bool(uint32_t)>& taken) {
    if (FindByName(name)) return -1;
    // The last id is only a hint: a file may name it below an existing
    // account, whose data a new account of that id would overwrite.
    uint32_t id = m_lastId;
    do {
        if (id >= 0xFFFFFFFDu) return -2;
        ++id;
    } while (FindById(id) || (taken && taken(id)));
    VarUserAcc* account = m_accounts.Append();
    uint8_t copy[kUserKeyBytes];
    std::memcpy(copy, key, kUserKeyBytes);
    if (!account || !account->m_name.Set(name) || !account->m_second.Set(second)) return -3;
    account->m_id.Set(int(id));
    account->m_key.Set(copy);
    m_lastId = id;
    return id;
}

VarUserAcc* UserAccFile::FindById(uint32_t id) const {
    for (uint32_t i = 0; i < m_accounts.GetCount(); ++i)
        if (m_accounts.GetAt(i)->GetId() == id) return m_accounts.GetAt(i);
    return nullptr;
}

VarUserAcc* UserAccFile::FindByName(const char16_t* name) const {
    const char16_t* wanted = name ? name : u"";
    for (uint32_t i = 0; i < m_accounts.GetCount(); ++i) {
        const char16_t* have = m_accounts.GetAt(i)->m_name.GetText();
        if (n_porting::WcsCmp16(have ? have : u"", wanted) == 0) return m_accounts.GetAt(i);
    }
    return nullptr;
}

// ---- UserDataFile ----

UserDataFile::UserDataFile()
    : m_bytes3(&m_arena), m_arena(1024), m_members{&m_flag0,  &m_flag1,  &m_block2,  &m_bytes3,
                                                   &m_block4, &m_value5, &m_value6,  &m_value7,
                                                   &m_value8, &m_value9, &m_value10, &m_value11,
                                                   &m_value12} {}

bool UserDataFile::Serialise() {
    uint32_t sizes[kMembers], total = 8 + kOffsetArrayBytes;
    for (int i = 0; i < kMembers; ++i) {
        sizes[i] = m_members[i]->Save(nullptr);
        if (sizes[i] > kSealedFileMaxBytes) return false;
        total += sizes[i];
    }
    if (total > kSealedFileMaxBytes) return false;
    auto* bytes = static_cast<uint8_t*>(std::calloc(total, 1));
    if (!bytes) return false;
    Wr32(bytes, kDataMagic);
    Wr32(bytes + 4, kDataVersion);
    uint8_t* body = bytes + 8;
    Wr32(body, kOffsetArrayBytes);
    Wr32(body + 4, kPairTableBytes);
    uint32_t at = kOffsetArrayBytes;
    for (int i = 0; i < kMembers; ++i) {
        const uint32_t pair = kPairsStart + 8 * uint32_t(i);
        Wr32(body + 8 + 4 * i, pair);
        Wr32(body + pair, uint32_t(i));
        Wr32(body + pair + 4, at);
        m_members[i]->Save(body + at);
        at += sizes[i];
    }
    const bool ok = SetContent(bytes, total);
    std::free(bytes);
    return ok;
}

bool UserDataFile::ParseV1(const uint8_t* body, uint32_t length) {
    uint32_t at = 0;
    for (VarBase* member : m_members) {
        const uint32_t n = member->Load(body + at, length - at, &m_arena);
        if (n == kVarLoadFailed) {
            member->Reset();
            break;  // the members not reached keep their defaults
        }
        at += n;
    }
    return true;
}

bool UserDataFile::ParseV2(const uint8_t* body, uint32_t length) {
    if (length < 8) return false;
    const uint32_t arrayBytes = Rd32(body), tableBytes = Rd32(body + 4);
    if (arrayBytes > length || tableBytes % 4 || tableBytes > arrayBytes - 8 || arrayBytes < 8)
        return false;
    for (uint32_t i = 0; i < tableBytes / 4; ++i) {
        const uint32_t pair = Rd32(body + 8 + 4 * i);
        if (pair < 8 + tableBytes || pair > arrayBytes - 8) return false;
        const uint32_t index = Rd32(body + pair), offset = Rd32(body + pair + 4);
        if (offset > length) return false;
        if (index >= uint32_t(kMembers)) continue;
        if (m_members[index]->Load(body + offset, length - offset, &m_arena) == kVarLoadFailed)
            return false;
    }
    return true;
}

bool UserDataFile::Parse() {
    if (!m_content || m_length < 8 || Rd32(m_content) != kDataMagic) return false;
    const uint32_t version = Rd32(m_content + 4);
    if (version == 1) return ParseV1(m_content + 8, m_length - 8);
    return version == 2 && ParseV2(m_content + 8, m_length - 8);
}

void UserDataFile::Reset() {
    for (VarBase* member : m_members) member->Reset();
    m_arena.FreeAll();
}

bool UserDataFile::CopyFrom(uint32_t mask, const UserAccountInfo& info) {
    if (mask & 0x2000) m_flag0.Set(info.flag0);
    if (mask & 0x4000) m_flag1.Set(!info.flag1);
    if (mask & 0x10) m_block4.Set(info.block4);
    if (mask & 0x20) m_value5.Set(info.value5);
    if (mask & 0x40) m_value6.Set(info.value6);
    if (mask & 0x80) m_value7.Set(info.value7);
    if (mask & 0x100) m_value8.Set(info.value8);
    if (mask & 0x200) m_value9.Set(info.value9);
    if (mask & 0x400) m_value10.Set(info.value10);
    if (mask & 0x800) m_value11.Set(info.value11);
    if ((mask & 0x1000) && !m_bytes3.Set(info.bytes3, info.bytes3 ? info.bytes3Length : 0))
        return false;
    if (mask & 0x8000) m_value12.Set(info.value12);
    return true;
}

bool UserDataFile::FillForNewAccount(const UserAccountInfo& info) {
    m_block2.Set(info.block2);
    return CopyFrom(0x2000 | 0x4000 | 0x1000 | 0x10 | 0x20 | 0x80 | 0x100 | 0x200 | 0x400 | 0x8000,
                    info);
}

void UserDataFile::ReadInto(UserAccountInfo* info) const {
    info->flag0 = *m_flag0.Get(nullptr);
    info->flag1 = !*m_flag1.Get(nullptr);
    std::memcpy(info->block2, *m_block2.Get(nullptr), kUserKeyBytes);
    info->bytes3 = m_bytes3.Get(&info->bytes3Length);
    std::memcpy(info->block4, *m_block4.Get(nullptr), kUserKeyBytes);
    info->value5 = *m_value5.Get(nullptr);
    info->value6 = *m_value6.Get(nullptr);
    info->value7 = *m_value7.Get(nullptr);
    info->value8 = *m_value8.Get(nullptr);
    info->value9 = *m_value9.Get(nullptr);
    info->value10 = *m_value10.Get(nullptr);
    info->value11 = *m_value11.Get(nullptr);
    info->value12 = *m_value12.Get(nullptr);
}

bool CopyUserSettings(t_errorContext& ctx, UserDataFile* file, uint32_t mask,
                      const UserAccountInfo& info) {
    if (!file || !file->CopyFrom(mask, info)) return false;
    return file->Save(ctx);
}

}  // namespace n_userenv
