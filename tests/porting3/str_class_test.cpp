// t_str: growth and storage, formatting of long texts, the handed-out
// buffer, searching and editing, and the time pattern.
#include "porting3/str_class.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdlib>
#include <string>

namespace n_porting {
namespace {

std::u16string S(const t_str& s) {
    return std::u16string(s.GetStr(), s.GetLength());
}

TEST(StrClassTest, CapacityGrowsInlineThenOnTheHeap) {
    t_str s;
    EXPECT_EQ(16u, s.GetCapacity());
    EXPECT_TRUE(s.IsInline());
    s.Assign(std::u16string(17, u'a').c_str());
    EXPECT_EQ(48u, s.GetCapacity());
    EXPECT_TRUE(s.IsInline());
    s.SetLength(131);  // 132 units with the terminator
    EXPECT_FALSE(s.IsInline());
    EXPECT_EQ(132u, s.GetCapacity());
    s.Assign(std::u16string(70000, u'z').c_str());  // far past 65536 units
    EXPECT_EQ(70000u, s.GetLength());
    EXPECT_GE(s.GetCapacity(), 70001u);
    EXPECT_EQ(0, s.GetStr()[70000]);
    s.Clear();
    EXPECT_GE(s.GetCapacity(), 70001u);  // storage never shrinks
}

TEST(StrClassTest, FormattingMeasuresFirstAndKeepsTheTextOnFailure) {
    t_str s(u"head:");
    const std::u16string big(70000, u'x');
    ASSERT_TRUE(s.AppendFormat(u"%s|%d", big.c_str(), 7));
    EXPECT_EQ(5u + 70000u + 2u, s.GetLength());
    EXPECT_EQ(u"|7", S(s).substr(70005));
    ASSERT_TRUE(s.Format(u"%s-%s", s.GetStr(), u"again"));  // formats its own text
    EXPECT_EQ(70007u + 6u, s.GetLength());

    t_str keep(u"kept");
    EXPECT_FALSE(keep.AppendFormat(u"%hs", "\xFF\xFF"));
    EXPECT_FALSE(keep.Format(u"%*d%*d", INT_MAX, 1, INT_MAX, 1));
    EXPECT_EQ(u"kept", S(keep));

    t_str ops;
    ops << u"n=" << 3 << u' ' << 2.5 << u'\x01' << 7u;
    ops.AppendHex32(255);
    EXPECT_EQ(u"n=3 2.5?70x000000ff", S(ops));
}

TEST(StrClassTest, HandedOutBuffer) {
    t_str s;
    EXPECT_EQ(nullptr, s.LockBuffer(SIZE_MAX));
    EXPECT_EQ(nullptr, s.LockBuffer(SIZE_MAX - 1));
    char16_t* p = s.LockBuffer(5);
    ASSERT_NE(nullptr, p);
    std::u16string(u"abc").copy(p, 3);
    p[3] = 0;
    EXPECT_TRUE(s.ReleaseBuffer());
    EXPECT_EQ(u"abc", S(s));
    p = s.LockBuffer(2);
    p[0] = p[1] = p[2] = u'q';  // no terminator in the three units handed out
    EXPECT_FALSE(s.ReleaseBuffer());
    EXPECT_TRUE(s.IsEmpty());
}

TEST(StrClassTest, SearchingAndEditing) {
    const t_str s(u"a&b.TXT&c");
    EXPECT_EQ(1u, s.Find(u'&'));
    EXPECT_EQ(7u, s.Find(u'&', 2));
    EXPECT_EQ(t_str::kNotFound, s.Find(u'&', 9));
    EXPECT_EQ(3u, s.Find(u".TXT"));
    EXPECT_EQ(t_str::kNotFound, s.Find(u".TXT", 0, 6));  // the match runs past 6
    EXPECT_EQ(3u, s.FindNoCase(u".txt", 2));
    EXPECT_EQ(7u, s.ReverseFind(u'&'));
    EXPECT_TRUE(s.EndsWith(u".TXT&c"));
    EXPECT_TRUE(s.EndsWith(u"*&c", u'*'));
    EXPECT_FALSE(s.EndsWith(u"xa&b.TXT&c"));
    EXPECT_TRUE(s.StartsWith(u"a&b*zz", u'*'));

    t_str e(s);
    e.EscapeAmpersands();
    EXPECT_EQ(u"a&&b.TXT&&c", S(e));
    e.MakeLower();
    e.Delete(1, 3);
    EXPECT_EQ(u"ab.txt&&c", S(e));
    EXPECT_EQ(2u, e.Replace(u'&', u'+'));
    e.ReplaceRange(2, 6, e.GetStr(), 2);  // from its own text
    EXPECT_EQ(u"abab++c", S(e));
    t_str part;
    e.Mid(part, 4, 100);
    EXPECT_EQ(u"++c", S(part));
    e.Right(part, 2);
    EXPECT_EQ(u"+c", S(part));
    t_str t(u"  x y \t");
    t.Trim(u" \t");
    EXPECT_EQ(u"x y", S(t));
    EXPECT_TRUE(t_str(u"abc") < t_str(u"abd"));
    EXPECT_TRUE(t_str(u"abc") == u"abc");

    t_str converted;
    EXPECT_TRUE(converted.FromMultiByte("\xD6\xD0", 936));
    EXPECT_EQ(u"中", S(converted));
    EXPECT_FALSE(converted.FromMultiByte("\xFF\xFF", 936));
    EXPECT_TRUE(converted.IsEmpty());
    char bytes[3];
    EXPECT_FALSE(t_str(u"中文").ToAnsi(bytes, sizeof bytes));
    EXPECT_STREQ("", bytes);
}

TEST(StrClassTest, TimePattern) {
    setenv("TZ", "UTC", 1);
    tzset();
    const time_t when = 1557762150;  // 2019-05-13 15:42:30 UTC, a Monday
    struct Case {
        const char16_t* pattern;
        const char16_t* want;
    } cases[] = {
        {u"_%Y%M%D_%h%m%s", u"_20190513_154230"},
        {u"%W%%", u"1%"},
        {u"x%qy", u"x"},
        {u"end%", u"end"},
    };
    for (const Case& c : cases) {
        t_str s;
        EXPECT_TRUE(s.FormatTime(when, c.pattern));
        EXPECT_EQ(std::u16string(c.want), S(s));
    }
    unsetenv("TZ");
    tzset();
}

}  // namespace
}  // namespace n_porting
