// The user files acc.dat and user.dat: their sealed form (AES-128-CBC with a
// random vector, a header block and an MD5 of the content), the account and
// user data records inside, and the mask-driven settings copy.
// Main thread only; one thread at a time per object.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>

#include "porting3/block_heap.h"
#include "porting3/path16.h"
#include "porting3/str_class.h"
#include "porting3/version_reg.h"
#include "userenv/var_serial.h"

namespace n_userenv {

using n_porting::t_errorContext;

// Sealed files larger than this are refused before they are read.
constexpr uint32_t kSealedFileMaxBytes = 16u << 20;
constexpr size_t kUserKeyBytes = 16;

// The sealing only obfuscates: the account-file key is a constant of the
// program, so whoever can read acc.dat can read every key in it.
extern const uint8_t kAccFileKey[kUserKeyBytes];
extern const uint8_t kPasswordSalt[kUserKeyBytes];

// The local password key: MD5(MD5(GBK bytes of the password) || salt). False
// when the password does not convert to GBK whole (a prefix is never hashed).
bool DerivePasswordKey(const char16_t* password, uint8_t out[kUserKeyBytes]);

class UserFile {
public:
    explicit UserFile(bool digest = true) : m_digest(digest) {}
    virtual ~UserFile() { FreeContent(); }
    UserFile(const UserFile&) = delete;
    UserFile& operator=(const UserFile&) = delete;

    void SetPath(const char16_t* path) { m_path.Assign(path); }
    void SetKey(const uint8_t key[kUserKeyBytes]);
    void Bind(const char16_t* path, const uint8_t key[kUserKeyBytes]) {
        SetPath(path);
        SetKey(key);
    }
    const n_porting::t_str& GetPath() const { return m_path; }

    // The content in a zero-filled buffer rounded up to 16; false when memory runs out.
    bool SetContent(const uint8_t* bytes, uint32_t length);
    const uint8_t* GetContent(uint32_t* length) const {
        if (length) *length = m_length;
        return m_content;
    }
    void FreeContent();

    // The sealed size (P + 48 with the digest, P + 32 without); with a null
    // buffer only the size. -1 when the capacity is too small or no random
    // vector can be drawn.
    int64_t Seal(uint8_t* out, size_t capacity, const uint8_t* content, uint32_t length) const;
    // The content length, or -1 for anything that is not a whole sealed file
    // of this key and digest setting. With a null buffer: the room needed.
    int64_t Open(uint8_t* out, size_t capacity, const uint8_t* sealed, size_t length) const;

    // Reads, opens and parses the file; 0 with the reason and the members reset.
    virtual bool Load(t_errorContext& ctx);
    // Serialises, seals and writes through a synced temporary, mode 0600.
    virtual bool Save(t_errorContext& ctx);
    // After a failed Load: true when the file was judged whole and refused
    // (of a size no sealed file has, or not a sealed file of this key),
    // false when it could not be opened or read.
    bool WasReadWhole() const { return m_readWhole; }

protected:
    virtual bool Serialise() { return true; }
    virtual bool Parse() { return true; }
    virtual void Reset() {}
    size_t HeaderBytes() const { return m_digest ? 48 : 32; }

    n_porting::t_str m_path;
    uint8_t m_key[kUserKeyBytes] = {};
    uint8_t* m_content = nullptr;
    uint32_t m_length = 0;
    bool m_digest;
    bool m_readWhole = false;
};

// One account: id, local password key, name and a second text.
class VarUserAcc : public VarBase {
public:
    explicit VarUserAcc(n_porting::t_heap* arena) : m_name(arena), m_second(arena) {}
    uint32_t Load(const uint8_t* buffer, uint32_t available, n_porting::t_heap* arena) override;
    uint32_t Save(uint8_t* buffer) const override;
    void Reset() override;

    VarSimple<int, 0> m_id;
    VarSimpleArray<unsigned char, kUserKeyBytes> m_key;
    VarStringW m_name;
    VarStringW m_second;

    uint32_t GetId() const { return uint32_t(*m_id.Get(nullptr)); }
    const uint8_t* GetKey() const { return *m_key.Get(nullptr); }
};

// What callers pass to create or update an account, and what is read back:
// the account, then the user settings the mask-driven copy takes.
struct UserAccountInfo {
    uint32_t id = 0;
    const char16_t* name = nullptr;
    const char16_t* second = nullptr;
    uint8_t key[kUserKeyBytes] = {};
    bool flag0 = false;                  // mask 0x2000
    bool flag1 = false;                  // mask 0x4000, stored inverted
    uint8_t block2[kUserKeyBytes] = {};  // set at account creation only
    const uint8_t* bytes3 = nullptr;     // mask 0x1000
    uint32_t bytes3Length = 0;
    uint8_t block4[kUserKeyBytes] = {};             // mask 0x10
    uint32_t value5 = 0, value6 = 0, value7 = 0;    // 0x20, 0x40, 0x80
    int32_t value8 = 0;                             // 0x100
    uint32_t value9 = 0;                            // 0x200
    int32_t value10 = 0, value11 = 0, value12 = 0;  // 0x400, 0x800, 0x8000
};

class UserAccFile : public UserFile, public n_porting::t_versionReg::t_interface {
public:
    static constexpr uint32_t kInvalidId = 0xFFFFFFFF;
    UserAccFile();

    bool Save(t_errorContext& ctx) override;
    // Another writer bumped the slot: load again when loaded before.
    bool Reload(t_errorContext& ctx, uint32_t version, bool force) override;

    // The new id: the first after the last id given out that no account
    // holds and `taken` (may be empty) does not refuse. -1 for a name
    // already present, -2 when ids run out, -3 when memory runs out.
    int64_t AddAccount(const char16_t* name, const char16_t* second,
                       const uint8_t key[kUserKeyBytes],
                       const std::function<bool(uint32_t)>& taken = {});
    VarUserAcc* FindById(uint32_t id) const;
    VarUserAcc* FindByName(const char16_t* name) const;
    uint32_t GetCount() const { return m_accounts.GetCount(); }
    VarUserAcc* GetAt(uint32_t index) const { return m_accounts.GetAt(index); }

    uint32_t m_lastId = 0;
    uint32_t m_currentId = 0;
    bool m_loaded = false;
    bool m_stale = false;

protected:
    bool Serialise() override;
    bool Parse() override;
    void Reset() override;

private:
    n_porting::t_heap m_arena;
    VarComplexDynArray<VarUserAcc, 1> m_accounts;
};

class UserDataFile : public UserFile {
public:
    static constexpr int kMembers = 13;
    UserDataFile();

    VarBase* Member(int index) const {
        return index >= 0 && index < kMembers ? m_members[index] : nullptr;
    }
    // Fills the members the mask selects from the record (the mask-driven copy).
    bool CopyFrom(uint32_t mask, const UserAccountInfo& info);
    // All members of a new account's file.
    bool FillForNewAccount(const UserAccountInfo& info);
    void ReadInto(UserAccountInfo* info) const;

    VarSimple<bool, false> m_flag0, m_flag1;
    VarSimpleArray<unsigned char, kUserKeyBytes> m_block2;
    VarSimpleDynArray<unsigned char> m_bytes3;
    VarSimpleArray<unsigned char, kUserKeyBytes> m_block4;
    VarSimple<unsigned int, 0u> m_value5, m_value6, m_value7;
    VarSimple<int, 0> m_value8;
    VarSimple<unsigned int, 0u> m_value9;
    VarSimple<int, 0> m_value10, m_value11, m_value12;

protected:
    bool Serialise() override;
    bool Parse() override;
    void Reset() override;

private:
    bool ParseV1(const uint8_t* body, uint32_t length);
    bool ParseV2(const uint8_t* body, uint32_t length);
    n_porting::t_heap m_arena;
    VarBase* m_members[kMembers];
};

// Copies the settings the mask selects into the file, then saves it.
bool CopyUserSettings(t_errorContext& ctx, UserDataFile* file, uint32_t mask,
                      const UserAccountInfo& info);

// Private modes: a folder 0700 (made so, or corrected when owned by the
// user), a file 0600 when owned by the user. False when the folder cannot be made.
bool MakePrivateDir(const n_porting::t_path& dir);
void MakePrivateFile(const n_porting::t_str& path);

}  // namespace n_userenv
