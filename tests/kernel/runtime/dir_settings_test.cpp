// Directory settings, object names and backup time stamps.
#include "kernel/runtime/dir_settings.h"

#include <gtest/gtest.h>

namespace {

TEST(DirSettingsTest, NullTextKeepsTheValue) {
    EXPECT_TRUE(SetConfiguredUserDir(L"/home/u/dicts"));
    EXPECT_FALSE(SetConfiguredUserDir(nullptr));
    EXPECT_STREQ(L"/home/u/dicts", GetConfiguredUserDir());
    EXPECT_TRUE(SetConfiguredSysDir(L"/usr/share/x"));
    EXPECT_STREQ(L"/usr/share/x", GetConfiguredSysDir());
    EXPECT_NE(nullptr, GetConfiguredReservedPath());  // never null, even when unset
}

TEST(MakeSafeFileNameTest, ReplacesSeparatorsAndBlanks) {
    std::wstring out = L"stale";
    ASSERT_TRUE(MakeSafeFileName(L"/home/a.b/c d", L"_Event_", out));
    EXPECT_EQ(L"_home_a_b_c_d_Event_", out);
    ASSERT_TRUE(MakeSafeFileName(L"a\r\n\tb\\c:d", nullptr, out));
    EXPECT_EQ(L"a___b_c_d", out);
    ASSERT_TRUE(MakeSafeFileName(L"x", L"/.:", out));
    EXPECT_EQ(L"x/.:", out);  // the suffix is taken unchanged
    out = L"kept";
    EXPECT_FALSE(MakeSafeFileName(nullptr, L"_Lock", out));
    EXPECT_EQ(L"kept", out);
}

TEST(ParseTimestamp14Test, ReadsLocalTimeOfFourteenDigits) {
    struct tm expected = {};
    expected.tm_year = 115;
    expected.tm_mon = 0;
    expected.tm_mday = 2;
    expected.tm_hour = 3;
    expected.tm_min = 4;
    expected.tm_sec = 5;
    expected.tm_isdst = -1;
    EXPECT_EQ(mktime(&expected), ParseTimestamp14(L"20150102030405"));
    EXPECT_EQ(-1, ParseTimestamp14(L"2015010203040"));    // 13 digits
    EXPECT_EQ(-1, ParseTimestamp14(L"201501020304056"));  // 15 digits
    EXPECT_EQ(-1, ParseTimestamp14(L"2015010203O405"));   // a letter
    EXPECT_EQ(-1, ParseTimestamp14(L" 2015010203040"));
    EXPECT_EQ(-1, ParseTimestamp14(L""));
    EXPECT_EQ(-1, ParseTimestamp14(nullptr));
}

}  // namespace
