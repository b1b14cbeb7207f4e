// Sealed user files: sizes, hostile files (never read past, members left
// reset), the acc.dat and user.dat records, the mask-driven copy, the
// password key and the private mode of what is written.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <string>

#include "porting3/crypto.h"
#include "porting3/version_reg.h"
#include "tests/support/test_dir.h"
#include "userenv/user_file.h"

namespace n_userenv {
namespace {

const uint8_t kKey[16] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};

std::u16string U16(const std::string& s) {
    return std::u16string(s.begin(), s.end());
}

// A sealed file with a chosen header remainder and content room, built
// without the checks of Seal.
std::string Craft(uint8_t remainder, size_t room, const uint8_t* key = kKey) {
    std::string out(48 + room, '\0');
    auto* p = reinterpret_cast<uint8_t*>(out.data());
    uint8_t iv[16] = {7}, header[16] = {'U', 's', 'e', 'r', remainder, 1}, digest[16] = {};
    // The digest of the zero content the room would give, so that only the
    // header's remainder can refuse the file.
    n_porting::Md5Digest(digest, p + 48, room);
    n_porting::t_aesKey aes;
    n_porting::AesSetEncryptKey(&aes, key, 128);
    std::memcpy(p, iv, 16);
    n_porting::AesCbcEncrypt(iv, p + 16, header, 16, &aes);
    n_porting::AesCbcEncrypt(iv, p + 32, digest, 16, &aes);
    if (room) n_porting::AesCbcEncrypt(iv, p + 48, p + 48, room, &aes);
    return out;
}

std::string SealWith(const uint8_t* key, const std::string& content) {
    UserFile f;
    f.SetKey(key);
    std::string out(size_t(f.Seal(nullptr, 0, nullptr, uint32_t(content.size()))), '\0');
    f.Seal(reinterpret_cast<uint8_t*>(out.data()), out.size(),
           reinterpret_cast<const uint8_t*>(content.data()), uint32_t(content.size()));
    return out;
}

TEST(UserFileTest, SealedSizesAndRoundTrip) {
    const struct {
        uint32_t length;
        bool digest;
        int64_t sealed;
    } cases[] = {{0, true, 48}, {16, true, 64}, {17, true, 80}, {0, false, 32}, {33, false, 80}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.length);
        UserFile f(c.digest);
        f.SetKey(kKey);
        std::string content(c.length, 'x');
        for (uint32_t i = 0; i < c.length; ++i) content[i] = char(i * 7);
        const auto* bytes = reinterpret_cast<const uint8_t*>(content.data());
        ASSERT_EQ(c.sealed, f.Seal(nullptr, 0, bytes, c.length));
        std::string sealed(size_t(c.sealed), '\0');
        auto* out = reinterpret_cast<uint8_t*>(sealed.data());
        EXPECT_EQ(-1, f.Seal(out, sealed.size() - 1, bytes, c.length));
        ASSERT_EQ(c.sealed, f.Seal(out, sealed.size(), bytes, c.length));
        std::string opened(sealed.size(), '\0');
        ASSERT_EQ(int64_t(c.length), f.Open(reinterpret_cast<uint8_t*>(opened.data()),
                                            opened.size(), out, sealed.size()));
        EXPECT_EQ(content, opened.substr(0, c.length));
        EXPECT_EQ(-1, UserFile(!c.digest).Open(reinterpret_cast<uint8_t*>(opened.data()),
                                               opened.size(), out, sealed.size()));
    }
}

TEST(UserFileTest, HostileFilesAreRefusedAndLeaveMembersReset) {
    const std::string good = SealWith(kKey, std::string(32, 'a'));
    const uint8_t otherKey[16] = {9};
    auto flip = [&](size_t at) {
        std::string s = good;
        s[at] ^= 0x40;
        return s;
    };
    // A v2 user.dat whose first pair record points past the end.
    auto badOffset = [](uint32_t pairOffset, uint32_t memberOffset) {
        UserDataFile d;
        d.SetKey(kKey);
        std::string content(242, '\0');
        const uint32_t head[] = {0x74616455, 2, 164, 4, pairOffset};
        std::memcpy(content.data(), head, sizeof head);
        const uint32_t pair[] = {5, memberOffset};
        if (pairOffset + 8 <= 234) std::memcpy(content.data() + 8 + pairOffset, pair, 8);
        return SealWith(kKey, content);
    };
    const char16_t* corrupt = u"UserFile::Load 数据格式错误:文件内容损坏";
    const char16_t* illegal = u"UserFile::Load 数据格式错误:数据非法";
    const char16_t* format = u"UserFile::Load 文件格式错误:";
    const struct {
        const char* name;
        std::string bytes;
        const char16_t* message;  // prefix
    } cases[] = {
        {"empty", "", format},
        {"32 bytes", std::string(32, 'U'), format},
        {"33 bytes", good.substr(0, 33), corrupt},
        {"47 bytes", good.substr(0, 47), corrupt},
        {"49 bytes", good.substr(0, 49), corrupt},
        {"63 bytes", good.substr(0, 63), corrupt},
        {"remainder with an empty room", Craft(5, 0), corrupt},
        {"remainder 16", Craft(16, 16), corrupt},
        {"wrong key", SealWith(otherKey, std::string(32, 'a')), corrupt},
        {"flipped vector", flip(3), corrupt},
        {"flipped header", flip(20), corrupt},
        {"flipped digest", flip(40), corrupt},
        {"flipped first content block", flip(50), corrupt},
        {"flipped last content block", flip(70), corrupt},
        {"not a user.dat", good, illegal},
        {"pair record past the end", badOffset(230, 164), illegal},
        {"member offset past the end", badOffset(156, 243), illegal},
    };
    testsupport::t_testDir dir;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(dir.Put("user.dat", c.bytes));
        UserDataFile d;
        d.Bind(U16(dir.At("user.dat")).c_str(), kKey);
        d.m_value9.Set(77);
        n_porting::t_errorContext ctx;
        EXPECT_FALSE(d.Load(ctx));
        EXPECT_EQ(0u, std::u16string(ctx.GetError()).find(c.message));
        EXPECT_EQ(0u, *d.m_value9.Get(nullptr));
        uint32_t length = 1;
        EXPECT_EQ(nullptr, d.GetContent(&length));
    }
    // A FIFO, a folder or a device in its place is refused at once.
    {
        testsupport::t_hangGuard guard(20);
        for (const std::string& kind : testsupport::NonRegularKinds()) {
            SCOPED_TRACE(kind);
            const std::string path =
                testsupport::NonRegularAt(kind, dir.At(std::to_string(dir.EntryCount()) + ".dat"));
            ASSERT_FALSE(path.empty()) << "could not make it";
            UserDataFile d;
            d.Bind(U16(path).c_str(), kKey);
            n_porting::t_errorContext ctx;
            EXPECT_FALSE(d.Load(ctx));
        }
    }
    // Above 16 MiB a file is refused before it is read.
    ASSERT_TRUE(dir.Put("user.dat", good));
    ASSERT_EQ(0, truncate(dir.At("user.dat").c_str(), kSealedFileMaxBytes + 16));
    UserDataFile big;
    big.Bind(U16(dir.At("user.dat")).c_str(), kKey);
    n_porting::t_errorContext ctx;
    EXPECT_FALSE(big.Load(ctx));
    EXPECT_EQ(0u, std::u16string(ctx.GetError()).find(format));
}

TEST(UserFileTest, RecordSizesAndRoundTrips) {
    testsupport::t_testDir dir;
    n_porting::t_errorContext ctx;
    n_porting::t_versionReg::Init(ctx);
    UserAccFile acc;
    acc.Bind(U16(dir.At("acc.dat")).c_str(), kAccFileKey);
    ASSERT_TRUE(acc.Save(ctx));
    uint32_t length = 0;
    acc.GetContent(&length);
    EXPECT_EQ(20u, length);
    EXPECT_EQ(80u, dir.Get("acc.dat").size());

    VarUserAcc empty(nullptr);
    EXPECT_EQ(28u, empty.Save(nullptr));
    EXPECT_EQ(1, acc.AddAccount(u"甲", u"first", kKey));
    EXPECT_EQ(-1, acc.AddAccount(u"甲", nullptr, kKey));
    EXPECT_EQ(2, acc.AddAccount(u"b", nullptr, kKey));
    acc.m_currentId = 2;
    ASSERT_TRUE(acc.Save(ctx));
    UserAccFile back;
    back.Bind(U16(dir.At("acc.dat")).c_str(), kAccFileKey);
    ASSERT_TRUE(back.Load(ctx));
    EXPECT_EQ(2u, back.m_lastId);
    EXPECT_EQ(2u, back.m_currentId);
    ASSERT_NE(nullptr, back.FindById(1));
    EXPECT_EQ(std::u16string(u"first"), back.FindById(1)->m_second.GetText());
    EXPECT_EQ(2u, back.FindByName(u"b")->GetId());

    UserDataFile data;
    data.Bind(U16(dir.At("user.dat")).c_str(), kKey);
    ASSERT_TRUE(data.Save(ctx));
    data.GetContent(&length);
    EXPECT_EQ(242u, length);
    EXPECT_EQ(304u, dir.Get("user.dat").size());
    const uint8_t bytes[] = {4, 5, 6};
    data.m_bytes3.Set(bytes, 3);
    data.m_value12.Set(-9);
    data.m_flag1.Set(true);
    ASSERT_TRUE(data.Save(ctx));
    UserDataFile read;
    read.Bind(U16(dir.At("user.dat")).c_str(), kKey);
    ASSERT_TRUE(read.Load(ctx));
    EXPECT_EQ(-9, *read.m_value12.Get(nullptr));
    EXPECT_TRUE(*read.m_flag1.Get(nullptr));
    uint32_t count = 0;
    EXPECT_EQ(0, std::memcmp(bytes, read.m_bytes3.Get(&count), 3));
    EXPECT_EQ(3u, count);
}

TEST(UserFileTest, VersionOneBodyStopsAtTheFirstUnreadableMember) {
    testsupport::t_testDir dir;
    std::string content("Udat\1\0\0\0", 8);
    content += std::string("\1\0", 2) + std::string(16, 'k') + std::string("\2\0\0\0xy", 6);
    content += std::string(16, 'q') + std::string("\5\0\0\0\6\0", 6);  // member 6 cut short
    ASSERT_TRUE(dir.Put("user.dat", SealWith(kKey, content)));
    UserDataFile d;
    d.Bind(U16(dir.At("user.dat")).c_str(), kKey);
    n_porting::t_errorContext ctx;
    ASSERT_TRUE(d.Load(ctx)) << std::u16string(ctx.GetError()).size();
    EXPECT_TRUE(*d.m_flag0.Get(nullptr));
    EXPECT_EQ(5u, *d.m_value5.Get(nullptr));
    EXPECT_EQ(0u, *d.m_value6.Get(nullptr));
    EXPECT_EQ(0, *d.m_value12.Get(nullptr));
}

TEST(UserFileTest, MaskDrivenCopyTouchesOnlyTheSelectedMembers) {
    UserAccountInfo info;
    info.flag0 = true;
    info.flag1 = true;
    info.value5 = 5;
    info.value6 = 6;
    info.value9 = 9;
    info.value12 = 12;
    const uint8_t bytes[] = {1, 2};
    info.bytes3 = bytes;
    info.bytes3Length = 2;
    const struct {
        uint32_t mask;
        bool flag0, flag1;  // flag1 as stored (inverted)
        uint32_t value5, value6, value9, bytes;
        int value12;
    } cases[] = {
        {0, false, false, 0, 0, 0, 0, 0},
        {0x2000 | 0x4000, true, false, 0, 0, 0, 0, 0},
        {0x20 | 0x200, false, false, 5, 0, 9, 0, 0},
        {0x40 | 0x1000 | 0x8000, false, false, 0, 6, 0, 2, 12},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.mask);
        UserDataFile d;
        d.m_flag1.Set(true);
        ASSERT_TRUE(d.CopyFrom(c.mask, info));
        uint32_t count = 0;
        d.m_bytes3.Get(&count);
        EXPECT_EQ(c.flag0, *d.m_flag0.Get(nullptr));
        EXPECT_EQ(c.mask & 0x4000 ? false : true, *d.m_flag1.Get(nullptr));
        EXPECT_EQ(c.value5, *d.m_value5.Get(nullptr));
        EXPECT_EQ(c.value6, *d.m_value6.Get(nullptr));
        EXPECT_EQ(c.value9, *d.m_value9.Get(nullptr));
        EXPECT_EQ(c.bytes, count);
        EXPECT_EQ(c.value12, *d.m_value12.Get(nullptr));
    }
}

TEST(UserFileTest, PasswordKeyRefusesTextOutsideGbk) {
    uint8_t a[16], b[16];
    EXPECT_TRUE(DerivePasswordKey(u"secret", a));
    EXPECT_TRUE(DerivePasswordKey(u"密码", b));
    EXPECT_NE(0, std::memcmp(a, b, 16));
    EXPECT_TRUE(DerivePasswordKey(u"", b));
    EXPECT_FALSE(DerivePasswordKey(u"ab\u0e01", b));  // would otherwise hash "ab"
}

TEST(UserFileTest, SaveWritesPrivateModeOverAnOpenFile) {
    testsupport::t_testDir dir;
    ASSERT_TRUE(dir.Put("user.dat", "old"));
    ASSERT_EQ(0, chmod(dir.At("user.dat").c_str(), 0644));
    const mode_t old = umask(022);
    UserDataFile d;
    d.Bind(U16(dir.At("user.dat")).c_str(), kKey);
    n_porting::t_errorContext ctx;
    EXPECT_TRUE(d.Save(ctx));
    umask(old);
    struct stat st;
    ASSERT_EQ(0, stat(dir.At("user.dat").c_str(), &st));
    EXPECT_EQ(0600u, st.st_mode & 07777);
}

}  // namespace
}  // namespace n_userenv
