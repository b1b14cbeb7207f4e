// The user manager: accounts and login, user folders and their helpers,
// private modes, and start-up over a damaged or unreadable acc.dat.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <vector>

#include "porting3/version_reg.h"
#include "tests/support/test_dir.h"
#include "userenv/user_manager.h"

namespace n_userenv {
namespace {

std::u16string U16(const std::string& s) {
    return std::u16string(s.begin(), s.end());
}
std::string Narrow(const char16_t* s) {
    std::string out;
    for (; *s; ++s) out += char(*s);
    return out;
}
mode_t ModeOf(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0 ? st.st_mode & 07777 : 0;
}

struct t_home {
    testsupport::t_testDir dir;
    std::string Users() const { return dir.At("VetraPY.users"); }
    bool Init(UserManager& m, n_porting::t_errorContext& ctx) const {
        n_porting::t_versionReg::Init(ctx);
        return m.InitAt(ctx, U16(dir.Path()).c_str());
    }
};

UserAccountInfo Account(const char16_t* name, const char16_t* password) {
    UserAccountInfo info;
    info.name = name;
    info.second = u"note";
    DerivePasswordKey(password, info.key);
    info.value9 = 99;
    return info;
}

TEST(UserManagerTest, AccountsAndLogin) {
    t_home home;
    n_porting::t_errorContext ctx;
    UserManager m;
    ASSERT_TRUE(home.Init(m, ctx)) << Narrow(ctx.GetError());
    EXPECT_EQ(80u, testsupport::ReadFileBytes(home.Users() + "/acc.dat").size());
    EXPECT_TRUE(m.InitAt(ctx, u"/nonexistent"));  // a second Init does nothing
    uint32_t id = 7;
    ASSERT_TRUE(m.GetCurrentUserId(ctx, &id));
    EXPECT_EQ(0u, id);

    UserAccountInfo info = Account(u"amy", u"pw");
    ASSERT_TRUE(m.CreateAccount(ctx, &info, false)) << Narrow(ctx.GetError());
    EXPECT_EQ(1u, info.id);
    UserAccountInfo again = Account(u"amy", u"x");
    EXPECT_FALSE(m.CreateAccount(ctx, &again, false));
    EXPECT_EQ(std::u16string(u"无法创建账户,用户账户已存在"), ctx.GetError());

    const struct {
        uint32_t id;
        const char16_t* password;
        bool ok;
        const char16_t* message;
    } logins[] = {
        {1, u"pw", true, nullptr},
        {1, u"wrong", false, u"用户名密码不匹配"},
        {5, u"pw", false, u"用户不存在: "},
        {1, u"p\u0e01", false, u"用户名密码不匹配"},
    };
    for (const auto& c : logins) {
        SCOPED_TRACE(c.id);
        n_porting::t_errorContext lctx;
        EXPECT_EQ(c.ok, m.LoginWithPassword(lctx, c.id, c.password));
        if (c.message) {
            EXPECT_EQ(std::u16string(c.message), lctx.GetError());
        }
    }
    EXPECT_TRUE(m.LoginByNameWithPassword(ctx, u"amy", u"pw"));
    EXPECT_FALSE(m.FindUserId(ctx, &id, u"bob"));

    // The account and its data survive a restart, and it can be the current user.
    m.AccFile().m_currentId = 1;
    ASSERT_TRUE(m.AccFile().Save(ctx));
    UserManager next;
    ASSERT_TRUE(home.Init(next, ctx)) << Narrow(ctx.GetError());
    ASSERT_TRUE(next.GetCurrentUserId(ctx, &id));
    EXPECT_EQ(1u, id);
    EXPECT_EQ(99u, *next.CurrentData().m_value9.Get(nullptr));

    next.AccFile().m_currentId = 0xFFFFFFFF;
    EXPECT_FALSE(next.GetCurrentUserId(ctx, &id));
    EXPECT_EQ(0u, id);
}

TEST(UserManagerTest, PasswordTextsSettingsAndSwitching) {
    t_home home;
    n_porting::t_errorContext ctx;
    UserManager m;
    ASSERT_TRUE(home.Init(m, ctx));
    UserAccountInfo info = Account(u"amy", u"old");
    ASSERT_TRUE(m.CreateAccount(ctx, &info, false));

    EXPECT_FALSE(m.ChangePassword(ctx, 1, u"\u0e01"));
    ASSERT_TRUE(m.ChangePassword(ctx, 1, u"new")) << Narrow(ctx.GetError());
    EXPECT_FALSE(m.LoginWithPassword(ctx, 1, u"old"));
    EXPECT_TRUE(m.LoginWithPassword(ctx, 1, u"new"));

    UserAccountInfo update = Account(u"amelia", u"-");
    update.second = u"renamed";
    update.value9 = 5;
    ASSERT_TRUE(m.UpdateAccountTexts(ctx, 1, update));
    ASSERT_TRUE(m.UpdateUserSettings(ctx, 1, 0x200, update));
    ASSERT_TRUE(m.SwitchUser(ctx, 1)) << Narrow(ctx.GetError());
    uint32_t id = 0;
    ASSERT_TRUE(m.GetCurrentUserId(ctx, &id));
    EXPECT_EQ(1u, id);

    // The switch applies the account's settings to its data and saves them:
    // the file is sealed again (a new vector), its values kept.
    ASSERT_TRUE(m.SwitchUser(ctx, 0));
    const std::string sealed = home.dir.Get("VetraPY.users/00000001/user.dat");
    ASSERT_TRUE(m.SwitchUser(ctx, 1)) << Narrow(ctx.GetError());
    EXPECT_NE(sealed, home.dir.Get("VetraPY.users/00000001/user.dat"));
    EXPECT_EQ(5u, *m.CurrentData().m_value9.Get(nullptr));

    UserManager next;  // everything above reached the files
    ASSERT_TRUE(home.Init(next, ctx));
    n_porting::t_heap arena(1024);
    UserAccountInfo read;
    ASSERT_TRUE(next.GetAccountInfoById(ctx, arena, 1, &read)) << Narrow(ctx.GetError());
    EXPECT_EQ(std::u16string(u"amelia"), read.name);
    EXPECT_EQ(std::u16string(u"renamed"), read.second);
    EXPECT_EQ(5u, read.value9);
    EXPECT_TRUE(next.LoginByNameWithPassword(ctx, u"amelia", u"new"));
    EXPECT_FALSE(next.GetAccountInfoById(ctx, arena, 2, &read));
}

TEST(UserManagerTest, FoldersNamesAndModes) {
    t_home home;
    n_porting::t_errorContext ctx;
    const mode_t old = umask(022);
    ASSERT_EQ(0, mkdir(home.Users().c_str(), 0755));  // a folder left open is corrected
    UserManager m;
    const bool inited = home.Init(m, ctx);
    UserAccountInfo info = Account(u"amy", u"pw");
    if (inited) m.AccFile().m_lastId = 25;
    const bool created = inited && m.CreateAccount(ctx, &info, false);
    umask(old);
    ASSERT_TRUE(created) << Narrow(ctx.GetError());
    n_porting::t_path dir;
    ASSERT_TRUE(m.GetUserDir(26, &dir));
    EXPECT_EQ(home.Users() + "/0000001a", Narrow(dir.GetStr()));
    ASSERT_TRUE(m.GetUserDir(0, &dir));
    EXPECT_EQ(home.dir.At("VetraPY"), Narrow(dir.GetStr()));
    EXPECT_EQ(0700u, ModeOf(home.Users()));
    EXPECT_EQ(0700u, ModeOf(home.Users() + "/0000001a"));
    EXPECT_EQ(0600u, ModeOf(home.Users() + "/acc.dat"));
    EXPECT_EQ(0600u, ModeOf(home.Users() + "/0000001a/user.dat"));

    for (const char16_t* name : {u"", u".", u"..", u"a/b"}) {
        SCOPED_TRACE(Narrow(name));
        n_porting::t_path out;
        EXPECT_FALSE(m.FindUserFile(ctx, 26, name, &out));
        EXPECT_FALSE(m.GetUserFilePath(26, name, &out, false));
        EXPECT_FALSE(m.CopyUserFile(ctx, 26, U16(home.Users() + "/acc.dat").c_str(), name));
        EXPECT_FALSE(m.CreateUserSubdir(ctx, 26, name));
    }
    n_porting::t_path found;
    ASSERT_TRUE(m.CopyUserFile(ctx, 26, U16(home.Users() + "/acc.dat").c_str(), u"copy.dat"));
    EXPECT_TRUE(m.FindUserFile(ctx, 26, u"copy.dat", &found));
    EXPECT_TRUE(m.CreateUserSubdir(ctx, 26, u"sub"));
}

// The plain forms check the versions first, so they see what another
// manager wrote; the NoLock forms act on what the caller last checked.
TEST(UserManagerTest, LockedFormsSeeOtherWriters) {
    t_home home;
    n_porting::t_errorContext ctx;
    UserManager m, other;
    ASSERT_TRUE(home.Init(m, ctx));
    ASSERT_TRUE(home.Init(other, ctx));
    UserAccountInfo info = Account(u"bob", u"pw");
    ASSERT_TRUE(other.CreateAccount(ctx, &info, false));
    n_porting::t_heap arena(1024);
    UserAccountInfo read;
    EXPECT_FALSE(m.GetAccountInfoByIdNoLock(ctx, arena, info.id, &read));
    ASSERT_TRUE(m.GetAccountInfoById(ctx, arena, info.id, &read)) << Narrow(ctx.GetError());
    EXPECT_EQ(99u, read.value9);

    const UserAccountInfo* record =
        UserManager::GetAccountInfo(arena, *m.AccFile().FindById(info.id));
    ASSERT_NE(nullptr, record);
    EXPECT_EQ(info.id, record->id);
    EXPECT_EQ(std::u16string(u"bob"), record->name);
    EXPECT_EQ(std::u16string(u"note"), record->second);
    EXPECT_EQ(0, std::memcmp(info.key, record->key, kUserKeyBytes));
    EXPECT_EQ(0u, record->value9);  // the account only, not its data

    // The user's files sorted by path, units compared as numbers.
    for (const char* name : {"b", "a", "Z"})
        ASSERT_TRUE(testsupport::WriteFileBytes(home.Users() + "/00000001/" + name, ""));
    ASSERT_TRUE(m.CreateUserSubdir(ctx, info.id, u"sub"));
    std::vector<n_porting::t_path> files;
    ASSERT_TRUE(m.ListUserFiles(ctx, info.id, &files));
    std::vector<std::u16string> names;
    for (const auto& f : files) names.push_back(f.GetFileName());
    EXPECT_EQ((std::vector<std::u16string>{u"Z", u"a", u"b", u"sub", u"user.dat"}), names);
    EXPECT_FALSE(m.ListUserFiles(ctx, 77, &files));
    EXPECT_TRUE(files.empty());
}

// Start-up tightens the modes of existing user folders and user.dat files
// and removes what killed saves left, but not a live writer's temporary.
TEST(UserManagerTest, StartUpTidiesUserFolders) {
    t_home home;
    n_porting::t_errorContext ctx;
    {
        UserManager first;
        ASSERT_TRUE(home.Init(first, ctx));
        UserAccountInfo info = Account(u"amy", u"pw");
        ASSERT_TRUE(first.CreateAccount(ctx, &info, false));
    }
    const std::string user = home.Users() + "/00000001";
    ASSERT_EQ(0, chmod(user.c_str(), 0755));
    ASSERT_EQ(0, chmod((user + "/user.dat").c_str(), 0644));
    const struct {
        std::string path;
        bool kept;
    } files[] = {
        {home.Users() + "/acc.dat.vetra-tmp-a1B2c3", false},
        {user + "/user.dat.vetra-tmp-Zz9900", false},
        {user + "/env.ini.vetra-tmp-000000", false},
        {home.dir.At("VetraPY/env.ini.vetra-tmp-qwerty"), false},
        {user + "/env.ini.vetra-tmp-live00", true},    // its writer still holds it
        {user + "/notes.txt.vetra-tmp-abcdef", true},  // not a file of ours
        {user + "/env.ini.vetra-tmp-toolong", true},   // not a temporary's name
        {user + "/env.ini.backup", true},              // the user's own copies
        {user + "/user.dat.myown1", true},
        {home.Users() + "/acc.dat.a1B2c3", true},
    };
    for (const auto& f : files) {
        ASSERT_TRUE(testsupport::WriteFileBytes(f.path, "partial"));
        const struct timespec past[2] = {{1000000000, 0}, {1000000000, 0}};
        ASSERT_EQ(0, utimensat(AT_FDCWD, f.path.c_str(), past, 0));
    }
    const int live = open((user + "/env.ini.vetra-tmp-live00").c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(live, 0);
    ASSERT_EQ(0, flock(live, LOCK_EX));
    UserManager m;
    const bool inited = home.Init(m, ctx);
    close(live);
    ASSERT_TRUE(inited) << Narrow(ctx.GetError());
    for (const auto& f : files) EXPECT_EQ(f.kept, access(f.path.c_str(), F_OK) == 0) << f.path;
    EXPECT_EQ(0700u, ModeOf(user));
    EXPECT_EQ(0600u, ModeOf(user + "/user.dat"));
}

TEST(UserManagerTest, DamagedAccountFileIsSetAsideNeverDeleted) {
    std::string otherKeyFile;
    {
        UserAccFile foreign;
        testsupport::t_testDir tmp;
        const uint8_t key[16] = {42};
        foreign.Bind(U16(tmp.At("acc.dat")).c_str(), key);
        n_porting::t_errorContext ctx;
        ASSERT_TRUE(foreign.UserFile::Save(ctx));
        otherKeyFile = tmp.Get("acc.dat");
    }
    const struct {
        const char* name;
        std::string bytes;
    } cases[] = {
        {"random bytes", std::string("\x13\x99garbage-not-sealed-at-all-0123456789abcdef", 45)},
        {"another key", otherKeyFile},
        {"empty", ""},
        {"one byte", "x"},
        {"32 bytes, one short of any sealed file", otherKeyFile.substr(0, 32)}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        t_home home;
        ASSERT_EQ(0, mkdir(home.Users().c_str(), 0700));
        ASSERT_EQ(0, mkdir((home.Users() + "/00000003").c_str(), 0700));
        ASSERT_TRUE(testsupport::WriteFileBytes(home.Users() + "/00000003/user.dat", "keep"));
        ASSERT_TRUE(testsupport::WriteFileBytes(home.Users() + "/acc.dat", c.bytes));
        n_porting::t_errorContext ctx;
        for (int round = 0; round < 2;
             ++round) {  // a second damaged file never replaces the first copy
            UserManager m;
            ASSERT_TRUE(home.Init(m, ctx)) << Narrow(ctx.GetError());
            uint32_t id = 9;
            EXPECT_TRUE(m.GetCurrentUserId(ctx, &id));
            EXPECT_EQ(0u, id);
            EXPECT_EQ(80u, testsupport::ReadFileBytes(home.Users() + "/acc.dat").size());
            if (round == 0) {
                ASSERT_TRUE(testsupport::WriteFileBytes(home.Users() + "/acc.dat", c.bytes));
            }
        }
        const auto kept = testsupport::ListNames(home.Users() + "/Backup");
        ASSERT_EQ(2u, kept.size());
        for (const auto& name : kept)
            EXPECT_EQ(c.bytes, testsupport::ReadFileBytes(home.Users() + "/Backup/" + name));
        EXPECT_EQ("keep", testsupport::ReadFileBytes(home.Users() + "/00000003/user.dat"));
    }
}

// A current user whose data cannot be had falls back to the default user,
// also when another writer bumps the data's version afterwards (each used
// to reload itself until the stack ran out).
TEST(UserManagerTest, CurrentUserWithoutUsableDataFallsBackToTheDefault) {
    std::string otherKeyData;
    {
        testsupport::t_testDir tmp;
        UserDataFile foreign;
        const uint8_t key[16] = {7};
        foreign.Bind(U16(tmp.At("user.dat")).c_str(), key);
        n_porting::t_errorContext ctx;
        ASSERT_TRUE(foreign.Save(ctx));
        otherKeyData = tmp.Get("user.dat");
    }
    const struct {
        const char* name;
        uint32_t current;
        const char* data;  // null: no user.dat
        std::string bytes;
    } cases[] = {
        {"user.dat missing", 1, nullptr, ""},
        {"user.dat empty", 1, "", ""},
        {"user.dat damaged", 1, "x", std::string(80, '\x5a')},
        {"user.dat of another key", 1, "x", otherKeyData},
        {"no account of the id", 5, "x", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        t_home home;
        n_porting::t_errorContext ctx;
        {
            UserManager first;
            ASSERT_TRUE(home.Init(first, ctx));
            UserAccountInfo info = Account(u"amy", u"pw");
            ASSERT_TRUE(first.CreateAccount(ctx, &info, false));
            first.AccFile().m_currentId = c.current;
            ASSERT_TRUE(first.AccFile().Save(ctx));
        }
        const std::string data = home.Users() + "/00000001/user.dat";
        if (!c.data) {
            ASSERT_EQ(0, unlink(data.c_str()));
        } else if (c.current == 1) {
            ASSERT_TRUE(testsupport::WriteFileBytes(data, c.bytes));
        }
        UserManager m;
        ASSERT_TRUE(home.Init(m, ctx)) << Narrow(ctx.GetError());
        for (int bump = 0; bump < 2; ++bump) {
            uint32_t id = 9;
            EXPECT_TRUE(m.GetCurrentUserId(ctx, &id));
            EXPECT_EQ(0u, id);
            EXPECT_TRUE(m.LoginWithPassword(ctx, 1, u"pw"));
            n_porting::t_versionReg::UpdateVersion(n_porting::kVersionSlotCurrentUser);
            n_porting::t_versionReg::UpdateVersion(n_porting::kVersionSlotAccounts);
        }
    }
}

// A new account never takes an id in use: not one an account holds (the
// last-id field may lag behind), nor one whose folder keeps a user.dat.
TEST(UserManagerTest, NewAccountTakesAFreeId) {
    t_home home;
    n_porting::t_errorContext ctx;
    {
        UserManager first;
        ASSERT_TRUE(home.Init(first, ctx));
        UserAccountInfo info = Account(u"amy", u"pw");
        ASSERT_TRUE(first.CreateAccount(ctx, &info, false));
        first.AccFile().m_lastId = 0;
        ASSERT_TRUE(first.AccFile().Save(ctx));
    }
    const std::string amy = home.Users() + "/00000001/user.dat";
    const std::string before = testsupport::ReadFileBytes(amy);
    ASSERT_EQ(0, mkdir((home.Users() + "/00000002").c_str(), 0700));
    ASSERT_TRUE(testsupport::WriteFileBytes(home.Users() + "/00000002/user.dat", "keep"));
    UserManager m;
    ASSERT_TRUE(home.Init(m, ctx));
    UserAccountInfo info = Account(u"bob", u"pw2");
    ASSERT_TRUE(m.CreateAccount(ctx, &info, false)) << Narrow(ctx.GetError());
    EXPECT_EQ(3u, info.id);
    EXPECT_EQ(before, testsupport::ReadFileBytes(amy));
    EXPECT_EQ("keep", testsupport::ReadFileBytes(home.Users() + "/00000002/user.dat"));
    EXPECT_TRUE(m.LoginByNameWithPassword(ctx, u"amy", u"pw"));
    EXPECT_TRUE(m.LoginByNameWithPassword(ctx, u"bob", u"pw2"));
}

TEST(UserManagerTest, UnreadableAccountFileIsLeftAlone) {
    t_home home;
    ASSERT_EQ(0, mkdir(home.Users().c_str(), 0700));
    ASSERT_EQ(0, mkdir((home.Users() + "/acc.dat").c_str(), 0700));
    UserManager m;
    n_porting::t_errorContext ctx;
    ASSERT_TRUE(home.Init(m, ctx));
    uint32_t id = 9;
    EXPECT_TRUE(m.GetCurrentUserId(ctx, &id));
    EXPECT_EQ(0u, id);
    struct stat st;
    ASSERT_EQ(0, stat((home.Users() + "/acc.dat").c_str(), &st));
    EXPECT_TRUE(S_ISDIR(st.st_mode));
    EXPECT_EQ((std::vector<std::string>{"acc.dat"}), testsupport::ListNames(home.Users()));
    UserAccountInfo info = Account(u"amy", u"pw");
    EXPECT_FALSE(m.CreateAccount(ctx, &info, false));
}

}  // namespace
}  // namespace n_userenv
