// The runtime singleton's folders, the version texts and the clock shims.
#include "porting3/runtime_env.h"

#include <gtest/gtest.h>

#include <string>

#include "kernel/runtime/os_helpers.h"
#include "porting3/str16.h"

namespace n_porting {
namespace {

TEST(RuntimeEnvTest, FoldersVersionsAndIds) {
    EXPECT_EQ(nullptr, GetProductVersionA());
    EXPECT_EQ(std::u16string(u"5.3.0.0000"), GetProductVersionW());
    EXPECT_FALSE(SetInstallDir(std::u16string(1025, u'x').c_str()));
    ASSERT_TRUE(SetInstallDir(u"/opt/vetra"));
    t_errorContext ctx;
    t_runtime& rt = t_runtime::GetInstance();
    ASSERT_TRUE(rt.Init(ctx));
    EXPECT_TRUE(rt.IsInited());
    EXPECT_EQ(std::u16string(u"/opt/vetra"), rt.GetUserDataDir());
    char16_t id[16];
    ULToW16(HashStr16Pjw(u"/opt/vetra"), id, 16, 16);
    EXPECT_EQ(std::u16string(id), rt.GetUserFolderId());
    EXPECT_EQ(std::u16string(u"0000"), rt.GetBuildNumber());
    SetInstallDir(u"/elsewhere");
    EXPECT_TRUE(rt.Init(ctx));  // once only
    EXPECT_EQ(std::u16string(u"/opt/vetra"), rt.GetUserDataDir());

    SetProductVersion("6.1.2");
    EXPECT_STREQ("6.1.2", GetProductVersionA());
    EXPECT_EQ(std::u16string(u"6.1.2"), GetProductVersionW());
    SetBuildDate("\xD6\xD0");
    EXPECT_EQ(std::u16string(u"中"), GetBuildDateW());
}

TEST(RuntimeEnvTest, ClockAndSmallShims) {
    const uint32_t tick = GetTickCount();
    EXPECT_LE(uint32_t(uint64_t(GetTickMs())) - tick, 1000u);
    uint64_t us = 0, freq = 0;
    EXPECT_EQ(1, QueryMicroseconds(&us));
    EXPECT_EQ(1, QueryPerformanceFrequency(&freq));
    EXPECT_EQ(1000000u, freq);
    uint32_t v = 5;
    EXPECT_EQ(6u, InterlockedIncrement(&v));
    EXPECT_EQ(0u, InterlockedIncrement(nullptr));
    EXPECT_EQ(6u, InterlockedCompareExchange(&v, 9, 6));
    EXPECT_EQ(9u, v);
    EXPECT_TRUE(IsFinite(1e308));
    EXPECT_FALSE(IsFinite(1e308 * 10));
}

}  // namespace
}  // namespace n_porting
