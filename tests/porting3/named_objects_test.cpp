// Inert locks, memory blocks shared only through a data file, and the version
// table with holders that reload when their stamp falls behind.
#include "porting3/named_objects.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "porting3/str16.h"
#include "porting3/version_reg.h"
#include "tests/support/test_dir.h"

namespace n_porting {
namespace {

using S = std::u16string;

TEST(NamedObjectsTest, MutexNamesAndLocking) {
    const std::pair<const char16_t*, const char16_t*> names[] = {
        {u"Abc", u"Local\\Abc"},
        {u"Local\\Abc", u"Local\\Abc"},
        {u"Local\\Local\\Abc", u"Local\\Abc"},
        {nullptr, u"Local\\Mutex_NoName"},
    };
    for (const auto& [given, stored] : names) {
        t_errorContext ctx;
        t_mutex m;
        ASSERT_TRUE(m.Create(ctx, given));
        EXPECT_EQ(S(stored), m.GetName());
        t_mutex::t_locker locker;
        EXPECT_TRUE(locker.Lock(ctx, &m));
    }
    t_errorContext ctx;
    t_mutex never;
    EXPECT_TRUE(never.Acquire(ctx));
    EXPECT_FALSE(never.Lock(ctx));
    EXPECT_EQ(S(u"t_mutex::Lock 未初始化"), ctx.GetError());
    t_mutex tooLong;
    EXPECT_FALSE(tooLong.Create(ctx, S(1100, u'n').c_str()));
    t_criticalSection cs;
    ASSERT_TRUE(cs.Create(ctx, u"cs"));
    EXPECT_TRUE(cs.IsCreated());
    EXPECT_TRUE(cs.Lock(ctx));
    cs.Unlock();
    cs.Close();
    EXPECT_FALSE(cs.IsCreated());
}

TEST(NamedObjectsTest, PathMutexIsNamedAfterThePath) {
    t_errorContext ctx;
    t_path::t_mutex refused;
    EXPECT_FALSE(refused.Create(ctx, u"x"));
    EXPECT_EQ(S(u"创建文件对象锁失败：不支持"), ctx.GetError());
    t_path::t_mutex a, b, c;
    ASSERT_TRUE(a.CreateFromPath(ctx, t_path(u"/home/u/Data.ini")));
    ASSERT_TRUE(b.CreateFromPath(ctx, t_path(u"/HOME/u/data.INI")));
    ASSERT_TRUE(c.CreateFromPath(ctx, t_path(u"/home/u/other.ini")));
    EXPECT_EQ(S(a.GetName()).substr(0, 19), u"Local\\mutex_file_0x");
    EXPECT_EQ(S(a.GetName()).size(), 27u);
    EXPECT_EQ(S(a.GetName()), b.GetName());
    EXPECT_NE(S(a.GetName()), c.GetName());
}

TEST(NamedObjectsTest, BlocksSharedOnlyThroughADataFile) {
    testsupport::t_testDir dir("vetra-named");
    ASSERT_TRUE(dir.Put("data.bin", "shared bytes"));
    char16_t* file = Utf8ToStr16Alloc(dir.At("data.bin").c_str());
    char16_t* missing = Utf8ToStr16Alloc(dir.At("missing.bin").c_str());
    t_errorContext ctx;
    {
        t_memSharableBase a, b, c, d;
        ASSERT_TRUE(a.Open(ctx, true, u"n", 0, file));
        ASSERT_TRUE(b.Open(ctx, true, u"other", 0, file));
        EXPECT_EQ(a.GetBlock(), b.GetBlock());
        EXPECT_EQ(12u, b.GetBlockSize());
        EXPECT_FALSE(a.Open(ctx, true, u"n", 0, file));  // already open
        a.Close();                                       // the shared bytes stay
        EXPECT_EQ("shared bytes", std::string(reinterpret_cast<char*>(b.GetBlock()), 12));
        ASSERT_TRUE(c.Open(ctx, true, u"same", 16, nullptr));
        ASSERT_TRUE(d.Open(ctx, true, u"same", 16, nullptr));
        EXPECT_NE(c.GetBlock(), d.GetBlock());
        EXPECT_FALSE(d.Open(ctx, false, u"z", 0, missing));
        t_memSharableBase e;
        EXPECT_FALSE(e.Open(ctx, false, u"z", 0, missing));
        EXPECT_EQ(S(u"打开文件失败"), ctx.GetError());
    }
    std::free(file);
    std::free(missing);

    t_shareMem_t<t_mutex::t_locker> mem, named;
    t_mutex::t_locker locker;
    EXPECT_FALSE(named.Open(ctx, locker, u"Local\\Anything"));
    EXPECT_EQ(nullptr, named.GetDataOrNull());
    EXPECT_EQ(0u, named.IncrementFlag());
    ASSERT_TRUE(mem.Create(ctx, locker, u"Local\\Block", 40));
    EXPECT_EQ(40u, mem.GetSize());
    EXPECT_EQ(2u, mem.IncrementFlag());  // 0 counts as 1 first
    EXPECT_EQ(2u, mem.ExchangeFlag(0));
    EXPECT_TRUE(mem.TestFlag(1));
    mem.Swap(named);
    EXPECT_EQ(nullptr, mem.GetDataOrNull());
    EXPECT_EQ(40u, named.GetSize());
}

class t_countingHolder : public t_versionReg::t_interface {
public:
    using t_interface::t_interface;
    bool Reload(t_errorContext&, uint32_t version, bool) override {
        loaded.push_back(version);
        return succeed;
    }
    std::vector<uint32_t> loaded;
    bool succeed = true;
};

// The table is process-wide, so the whole life of it is one test.
TEST(NamedObjectsTest, VersionRegistry) {
    t_errorContext ctx;
    EXPECT_EQ(0u, t_versionReg::UpdateVersion(3));  // before Init
    ASSERT_TRUE(t_versionReg::Init(ctx));
    ASSERT_TRUE(t_versionReg::Init(ctx));
    for (int slot = 0; slot < t_versionReg::kSlots; ++slot)
        EXPECT_EQ(1u, t_versionReg::GetVersion(slot));
    for (const int slot : {24, -1}) {
        EXPECT_EQ(0u, t_versionReg::UpdateVersion(slot));
        EXPECT_EQ(0u, t_versionReg::GetVersion(slot));
        EXPECT_FALSE(t_versionReg::IsVersion(slot, 0));
    }
    t_countingHolder holder(3);
    holder.SetStamp(1);
    EXPECT_TRUE(holder.CheckVersion(ctx, false));
    EXPECT_TRUE(holder.loaded.empty());
    EXPECT_EQ(2u, t_versionReg::UpdateVersion(3));
    EXPECT_FALSE(holder.IsLatest());
    EXPECT_TRUE(holder.CheckVersion(ctx, false));
    EXPECT_EQ(std::vector<uint32_t>{2}, holder.loaded);
    EXPECT_EQ(2u, holder.GetStamp());
    // A failed reload keeps the old stamp.
    t_versionReg::UpdateVersion(3);
    holder.succeed = false;
    EXPECT_FALSE(holder.CheckVersion(ctx, false));
    EXPECT_EQ(2u, holder.GetStamp());
    // A fresh holder on a fresh slot forces a first version.
    t_countingHolder fresh(kVersionSlotAccounts);
    fresh.SetStamp(0);
    EXPECT_TRUE(fresh.CheckVersion(ctx, false));
    EXPECT_EQ(1u, fresh.GetStamp());
    t_countingHolder outside(24);
    EXPECT_FALSE(outside.CheckVersion(ctx, true));
    EXPECT_TRUE(outside.loaded.empty());
}

}  // namespace
}  // namespace n_porting
