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

TEST(RuntimeEnvTest, HostFlagsFromPathAndName) {
    t_runtime& rt = t_runtime::GetInstance();
    t_errorContext ctx;
    ASSERT_TRUE(rt.Init(ctx));
    // This process is the host: its executable, as the system names it.
    EXPECT_NE(nullptr, WcsStr16(rt.GetHostExePath(), u"porting3_tests"));
    EXPECT_EQ(std::u16string(u"porting3_tests"), rt.GetHostExeName());
    EXPECT_EQ(std::u16string(u"porting3_tests"), rt.GetHostCommandName());
    EXPECT_EQ(-1, rt.GetHostFlags().hostIndex);

    const struct {
        const char16_t* path;
        const char16_t* name;
        uint8_t t_hostFlags::*flag;
        int32_t index;  // of the first match; -1 none
    } cases[] = {
        {u"", u"", nullptr, -1},
        {u"C:\\Program Files\\Google\\Chrome.EXE", u"", &t_hostFlags::isChromiumBrowser, 1},
        {u"", u"firefox", &t_hostFlags::isBrowser, 2},
        {u"", u"firefox.exe.bak", nullptr, -1},
        {u"", u"cmd.exe", &t_hostFlags::isConsole, -2},
        {u"/usr/bin/acad.exe", u"acad.exe", &t_hostFlags::isCad, -2},
        {u"", u"dota2", &t_hostFlags::isFullScreenGame, -2},
        {u"", u"explorer.exe", &t_hostFlags::isExplorer, -1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.name, c.name + WcsLen16(c.name)));
        rt.DetectHost(c.path, c.name);
        const t_hostFlags& f = rt.GetHostFlags();
        if (c.flag) {
            EXPECT_EQ(1, f.*c.flag);
        }
        if (c.index >= -1) {
            EXPECT_EQ(c.index, f.hostIndex);
        }
        const bool console = f.isConsole || f.isConsoleHost;
        EXPECT_EQ(!(console || f.isCad), f.allowsInlineText == 1);
        EXPECT_EQ(!f.isFullScreenGame, f.allowsStatusBar == 1);
        EXPECT_EQ(!(f.isGame || f.isConsoleHost), f.allowsCaretFollow == 1);
    }
    int names = 0;
    for (int i = 0; i < kHostListCount; ++i)
        for (const char16_t* const* n = GetHostList(i); *n; ++n) ++names;
    EXPECT_EQ(150, names);
    EXPECT_EQ(nullptr, GetHostList(kHostListCount));
}

TEST(RuntimeEnvTest, ScanCodes) {
    const struct {
        uint32_t key, scan;
    } cases[] = {{0x08, 14},   {0x09, 15},     {0x0D, 28},   {0x10, 42},   {0x11, 29},
                 {0x30, 11},   {0x31, 2},      {0x39, 10},   {0x41, 0x1E}, {0x5A, 0x2C},
                 {0x70, 0x3B}, {0xBA, 0x27},   {0xDE, 0x28}, {0xE2, 0x56}, {0xFF, 0},
                 {0x100, 0},   {0xFFFFFFFF, 0}};
    for (const auto& c : cases) EXPECT_EQ(c.scan, MapVirtualKeyToScanCode(c.key)) << c.key;
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
