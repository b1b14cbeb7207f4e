// The renewable block (names, growth, attaching by version, a failed rebuild
// keeping the old block), the per-user settings keeper (stamps, merges,
// saves) and the start-up road from a fresh or hand-written HOME.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "porting3/runtime_env.h"
#include "tests/support/test_dir.h"
#include "userenv/user_env.h"
#include "userenv/user_manager.h"

namespace n_userenv {
namespace {

std::u16string U16(const std::string& s) {
    return std::u16string(s.begin(), s.end());
}

// An owner whose image is `size` bytes of `fill`; it can be told to fail.
struct t_fakeOwner : i_renewable {
    uint32_t size = 100;
    uint8_t fill = 0xab;
    bool fail = false;
    int loads = 0;
    bool LoadImage(t_errorContext&, uint8_t** data, uint32_t* n) override {
        ++loads;
        if (fail) return false;
        *data = static_cast<uint8_t*>(std::malloc(size));
        std::memset(*data, fill, size);
        *n = size;
        return true;
    }
    bool Prepare(t_errorContext&) override { return true; }
    bool NeedsGrowth(const uint8_t*, uint32_t) override { return false; }
    bool MoveData(const uint8_t* from, uint32_t fromSize, uint8_t* to, uint32_t toSize) override {
        std::memcpy(to, from, fromSize < toSize ? fromSize : toSize);
        return true;
    }
};

TEST(RenewableMemoryTest, NamesAndStamps) {
    const uint32_t id26 = 26, none = 0xFFFFFFFF;
    EXPECT_EQ(std::u16string(u"base1a"),
              t_renewableMemory(nullptr, u"base", 2, &id26).GetBaseName().GetStr());
    EXPECT_EQ(std::u16string(u"base"),
              t_renewableMemory(nullptr, u"base", 2, &none).GetBaseName().GetStr());
    EXPECT_EQ(std::u16string(u"???"),
              t_renewableMemory(nullptr, nullptr, 2, &id26).GetBaseName().GetStr());
    t_fakeOwner owner;
    t_renewableMemory memory(&owner, u"m", 2, &none);
    t_errorContext ctx;
    EXPECT_FALSE(t_renewableMemory(nullptr, u"m", 2, &none).Load(ctx, 1));
    ASSERT_TRUE(memory.Load(ctx, 1));
    EXPECT_EQ(2u, memory.IncreaseStamp());
    EXPECT_TRUE(memory.IsStamp(2));
    EXPECT_FALSE(memory.HasTrailerData());
}

TEST(RenewableMemoryTest, AttachingByVersionAndGrowth) {
    t_fakeOwner owner;
    const uint32_t id = 1;
    t_renewableMemory memory(&owner, u"g", 9, &id);
    t_errorContext ctx;
    n_porting::t_versionReg::Init(ctx);
    ASSERT_TRUE(memory.Load(ctx, 1));
    ASSERT_TRUE(memory.Load(ctx, 1));
    EXPECT_EQ(1, owner.loads);  // the same version attaches without the owner

    owner.fill = 0xcd;
    ASSERT_TRUE(memory.Load(ctx, 2));  // another version is rebuilt and swapped in
    EXPECT_EQ(2u, memory.GetAttachedVersion());
    uint8_t* data = nullptr;
    memory.SetStamp(n_porting::t_versionReg::GetVersion(9));
    owner.fill = 0xef;
    owner.fail = true;
    EXPECT_FALSE(memory.Load(ctx, 3));  // a failed rebuild keeps the old block
    EXPECT_EQ(2u, memory.GetAttachedVersion());

    const struct {
        uint32_t minimum;
        bool ok;
        uint32_t capacity;
    } cases[] = {{0, true, 100}, {100, true, 100}, {350, true, 400}, {0xFFFFFFF0u, false, 400}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.minimum);
        memory.SetStamp(n_porting::t_versionReg::GetVersion(9));
        EXPECT_EQ(c.ok, memory.Reserve(ctx, &data, c.minimum));
        EXPECT_EQ(c.capacity, memory.GetSize());
        EXPECT_EQ(0xcd, memory.Reserve(ctx, &data, 0) ? data[0] : 0);
    }
}

struct t_userHome {
    testsupport::t_testDir dir;
    UserManager manager;
    UserEnv env{&manager};
    std::string EnvIni() const { return dir.At("VetraPY/env.ini"); }
    bool Init() {
        t_errorContext ctx;
        n_porting::t_versionReg::Init(ctx);
        return manager.InitAt(ctx, U16(dir.Path()).c_str()) && env.Init(ctx);
    }
};

TEST(UserEnvTest, StampsMergesAndSaves) {
    t_userHome home;
    ASSERT_TRUE(home.Init());
    t_errorContext ctx;
    EXPECT_TRUE(home.env.Init(ctx));
    const t_envEntryBase& pageSize = *FindEnvEntryExact(u"PageSize");
    const t_envEntryBase& quanPin = *FindEnvEntryExact(u"QuanPin");

    t_env first;
    ASSERT_TRUE(home.env.GetEnv(ctx, first, 0));  // no env.ini: every key at its default
    EXPECT_EQ(t_env().GetInt(pageSize), first.GetInt(pageSize));

    t_env mine;
    ASSERT_TRUE(home.env.MergeGet(ctx, 0, mine, false));
    t_env other;
    ASSERT_TRUE(other.SetInt(pageSize, 8));
    ASSERT_TRUE(home.env.CopyFrom(ctx, 0, other));  // written without a new stamp
    ASSERT_TRUE(home.env.MergeGet(ctx, 0, mine, false));
    EXPECT_NE(8, mine.GetInt(pageSize));  // the unchanged store did not read the block again

    const uint32_t stamp = home.env.Container(0)->Memory().GetStamp();
    ASSERT_TRUE(mine.SetInt(pageSize, 6));
    ASSERT_TRUE(home.env.MergeFrom(ctx, 0, mine, false));
    EXPECT_EQ(stamp + 1, home.env.Container(0)->Memory().GetStamp());
    t_env fresh;
    ASSERT_TRUE(home.env.GetEnv(ctx, fresh, 0));
    EXPECT_EQ(6, fresh.GetInt(pageSize));

    for (bool bump : {false, true}) {
        SCOPED_TRACE(bump);
        const uint32_t slot5 = n_porting::t_versionReg::GetVersion(5);
        t_env change;
        ASSERT_TRUE(change.SetBool(quanPin, bump));
        ASSERT_TRUE(home.env.MergeSave(ctx, 0, change, bump));
        EXPECT_FALSE(change.IsModified());
        EXPECT_EQ(slot5 + (bump ? 1 : 0), n_porting::t_versionReg::GetVersion(5));
        t_env onDisk;
        ASSERT_EQ(1, onDisk.Load(ctx, U16(home.EnvIni()).c_str(), 1));
        EXPECT_EQ(bump, onDisk.GetBool(quanPin));
        EXPECT_EQ(6, onDisk.GetInt(pageSize));
    }

    // A save that cannot be written gives 0 and leaves the old file whole.
    const std::string before = testsupport::ReadFileBytes(home.EnvIni());
    t_env big;
    const std::u16string text(40000, u'x');
    ASSERT_TRUE(big.SetString(*FindEnvEntryExact(u"FontEn"), text.c_str()));
    rlimit old{};
    ASSERT_EQ(0, getrlimit(RLIMIT_FSIZE, &old));
    const auto oldHandler = signal(SIGXFSZ, SIG_IGN);
    rlimit small = old;
    small.rlim_cur = 4096;
    ASSERT_EQ(0, setrlimit(RLIMIT_FSIZE, &small));
    const bool saved = home.env.MergeSave(ctx, 0, big, false);
    setrlimit(RLIMIT_FSIZE, &old);
    signal(SIGXFSZ, oldHandler);
    EXPECT_FALSE(saved);
    EXPECT_EQ(before, testsupport::ReadFileBytes(home.EnvIni()));
}

// One user's block growing bumps the slot all users' blocks share: the others
// keep their merged, unsaved values; a bump of any other kind still reads the file.
TEST(UserEnvTest, AnotherUsersGrowthKeepsMergedValues) {
    t_userHome home;
    ASSERT_TRUE(home.Init());
    t_errorContext ctx;
    const t_envEntryBase& pageSize = *FindEnvEntryExact(u"PageSize");
    t_env change;
    ASSERT_TRUE(change.SetInt(pageSize, 9));
    ASSERT_TRUE(home.env.MergeFrom(ctx, 2, change, false));
    for (int round = 0; round < 2; ++round) {  // two growths in a row
        t_env big;
        const std::u16string text(size_t(20000) << round, u'x');
        ASSERT_TRUE(big.SetString(*FindEnvEntryExact(u"FontEn"), text.c_str()));
        const uint32_t version = n_porting::t_versionReg::GetVersion(2);
        ASSERT_TRUE(home.env.MergeFrom(ctx, 1, big, false));
        ASSERT_LT(version, n_porting::t_versionReg::GetVersion(2));
    }
    t_env read;
    ASSERT_TRUE(home.env.GetEnv(ctx, read, 2));
    EXPECT_EQ(9, read.GetInt(pageSize));

    n_porting::t_versionReg::UpdateVersion(2);
    ASSERT_TRUE(home.env.GetEnv(ctx, read, 2));
    EXPECT_NE(9, read.GetInt(pageSize));  // nothing saved: the file has no value
}

// ---- the start-up road, each in a forked child so singletons start clean ----

const char* const kIntKeys[] = {"LongWordCandPos", "MaxLongWord", "LongWordNumGate"};
const char* const kBoolKeys[] = {
    "ForecastLongWord",   "Correction", "LearnFreq",       "LearnNewWord", "NoPhrase",
    "EnableCloudRequest", "QuanPin",    "ZCSForZhChSh",    "ShuangPin",    "AllowQuanPin",
    "SuperSPJP",          "UserPhrase", "SystemUserPhrase"};

int g_failures = 0;
#define ROAD_CHECK(cond)                                                                       \
    do {                                                                                       \
        if (!(cond)) {                                                                         \
            std::fprintf(stderr, "road check failed: %s:%d: %s\n", __FILE__, __LINE__, #cond); \
            ++g_failures;                                                                      \
        }                                                                                      \
    } while (0)

// The steps up to the kernel options; the 17 keys read into `env`.
bool Road(const std::string& home, t_env& env) {
    t_errorContext ctx;
    uint32_t id = 9;
    if (!n_porting::SetInstallDir(U16(home + "/.config").c_str()) ||
        !n_porting::t_runtime::GetInstance().Init(ctx) || !n_porting::t_filemap::Init(ctx) ||
        !n_porting::t_versionReg::Init(ctx) || !UserManager::GetInstance().Init(ctx) ||
        !UserEnv::GetInstance().Init(ctx))
        return false;
    n_porting::t_versionReg::UpdateVersion(2);
    return UserManager::GetInstance().GetCurrentUserId(ctx, &id) && id == 0 &&
           MergeGetUserEnv(ctx, env, &id);
}

std::string Ini(int value, bool flag, const char* scheme) {
    std::string s = "[Setting]\n";
    for (const char* k : kIntKeys) s += std::string(k) + "=" + std::to_string(value) + "\n";
    for (const char* k : kBoolKeys) s += std::string(k) + "=" + (flag ? "1" : "0") + "\n";
    return s + "ShuangPinName=" + scheme + "\n";
}

void CheckKeys(const t_env& env, int value, bool flag, const char16_t* scheme) {
    for (const char* k : kIntKeys)
        ROAD_CHECK(env.GetInt(*FindEnvEntryExact(U16(k).c_str())) == value);
    for (const char* k : kBoolKeys)
        ROAD_CHECK(env.GetBool(*FindEnvEntryExact(U16(k).c_str())) == flag);
    const char16_t* name = env.GetString(*FindEnvEntryExact(u"ShuangPinName"));
    ROAD_CHECK(name && std::u16string(name) == scheme);
}

int RunInChild(int (*body)(const std::string&), const std::string& home) {
    const pid_t pid = fork();
    if (pid == 0) _exit(body(home));
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 100;
}

int FreshHome(const std::string& home) {
    t_env env;
    ROAD_CHECK(Road(home, env));
    ROAD_CHECK(testsupport::ReadFileBytes(home + "/.config/VetraPY.users/acc.dat").size() == 80);
    t_env defaults;
    for (const char* k : kIntKeys) {
        const t_envEntryBase& e = *FindEnvEntryExact(U16(k).c_str());
        ROAD_CHECK(env.GetInt(e) == defaults.GetInt(e));
    }
    for (const char* k : kBoolKeys) {
        const t_envEntryBase& e = *FindEnvEntryExact(U16(k).c_str());
        ROAD_CHECK(env.GetBool(e) == defaults.GetBool(e));
    }
    return g_failures;
}

int WrittenHome(const std::string& home) {
    const std::string ini = home + "/.config/VetraPY/env.ini";
    t_env env;
    ROAD_CHECK(Road(home, env));
    CheckKeys(env, 3, false, u"Other");
    t_errorContext ctx;
    ROAD_CHECK(env.SetInt(*FindEnvEntryExact(u"MaxLongWord"), 5));
    ROAD_CHECK(UserEnv::GetInstance().MergeSave(ctx, 0, env, true));
    const std::u16string saved = u"MaxLongWord=5";  // the file is UTF-16LE
    ROAD_CHECK(testsupport::ReadFileBytes(ini).find(
                   std::string(reinterpret_cast<const char*>(saved.data()), saved.size() * 2)) !=
               std::string::npos);

    ROAD_CHECK(testsupport::WriteFileBytes(ini, Ini(1, true, "Edited")));
    n_porting::t_versionReg::UpdateVersion(2);
    const uint32_t id = 0;
    ROAD_CHECK(MergeGetUserEnv(ctx, env, &id));
    CheckKeys(env, 1, true, u"Edited");
    return g_failures;
}

TEST(UserEnvTest, StartUpRoad) {
    {
        testsupport::t_testDir home;
        EXPECT_EQ(0, RunInChild(FreshHome, home.Path()));
    }
    testsupport::t_testDir home;
    ASSERT_EQ(0, mkdir(home.At(".config").c_str(), 0700));
    ASSERT_EQ(0, mkdir(home.At(".config/VetraPY").c_str(), 0700));
    ASSERT_TRUE(home.Put(".config/VetraPY/env.ini", Ini(3, false, "Other")));
    EXPECT_EQ(0, RunInChild(WrittenHome, home.Path()));
}

}  // namespace
}  // namespace n_userenv
