// The printf engine: the edge table, floating extremes, the C locale,
// saturating widths, overflow, and agreement with the C library's swprintf.
#include "porting3/format16.h"

#include <gtest/gtest.h>

#include <cfloat>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cwchar>
#include <random>
#include <string>
#include <vector>

#include "porting3/str16.h"
#include "tests/porting3/porting3_support.h"

namespace n_porting {
namespace {

std::u16string Fmt(const char16_t* format, ...) {
    std::vector<char16_t> buf(4096);
    va_list args;
    va_start(args, format);
    const int n = VswPrintf16(buf.data(), buf.size(), format, args);
    va_end(args);
    if (n < 0) return u"<-1>";
    return std::u16string(buf.data(), size_t(n));
}

std::u16string Ascii(const std::string& s) {
    return std::u16string(s.begin(), s.end());
}

TEST(Format16Test, EdgeTable) {
    char16_t nullText[] = u"x";
    const char16_t* noText = nullptr;
    const char* noBytes = nullptr;
    int sink = 7;
    struct Case {
        std::u16string got;
        std::u16string want;
    } cases[] = {
        {Fmt(u"%5d", 42), u"   42"},
        {Fmt(u"%-5d|", 42), u"42   |"},
        {Fmt(u"%05d", -42), u"-0042"},
        {Fmt(u"%#x", 255), u"0xff"},
        {Fmt(u"%#X", 255), u"0XFF"},
        {Fmt(u"%#x", 0), u"0"},
        {Fmt(u"%#o", 8), u"010"},
        {Fmt(u"%.0d", 0), u""},
        {Fmt(u"%I64d", 1LL << 40), u"1099511627776"},
        {Fmt(u"%lld", -(1LL << 40)), u"-1099511627776"},
        {Fmt(u"%Id", 1LL << 40), u"1099511627776"},
        {Fmt(u"%I32d|%d", 5, 6), u"5|6"},
        {Fmt(u"%Iq"), u"Iq"},
        {Fmt(u"%s", noText), u"(null)"},
        {Fmt(u"%hs", noBytes), u"(null)"},
        {Fmt(u"%g", 100.0), u"100"},
        {Fmt(u"%g", 0.5), u"0.5"},
        {Fmt(u"%#.0f", 3.0), u"3."},
        {Fmt(u"%%"), u"%"},
        {Fmt(u"%k"), u"k"},
        {Fmt(u"a%nb", &sink), u"ab"},
        {Fmt(u"%hc", 0x41), u"A"},
        {Fmt(u"%c", 0x4E2D), u"中"},
        {Fmt(u"%hs|%S|%.1hs", "\xD6\xD0x", "\xCE\xC4", "\xD6\xD0x"), u"中x|文|中"},
        {Fmt(u"%5hs|", "\xD6\xD0"), u"    中|"},
        {Fmt(u"%.2s", nullText), u"x"},
        {Fmt(u"%hd", 70000), u"4464"},
        {Fmt(u"%+d % d", 3, 3), u"+3  3"},
        {Fmt(u"%*d|%-*d|", 3, 1, -3, 2), u"  1|2  |"},
        {Fmt(u"%.*d", -1, 5), u"5"},
        {Fmt(u"%p", reinterpret_cast<void*>(0xABC)), u"0000000000000ABC"},
    };
    t_countedString counted{4, 4, const_cast<char*>("abcd")};
    t_countedString wide{4, 4, const_cast<char16_t*>(u"wxyz")};
    EXPECT_EQ(u"abcd|wx|(null)", Fmt(u"%Z|%wZ|%Z", &counted, &wide, nullptr));
    EXPECT_EQ(sink, 7);
    for (size_t i = 0; i < sizeof cases / sizeof cases[0]; ++i)
        EXPECT_EQ(cases[i].want, cases[i].got) << i;
}

TEST(Format16Test, FloatingExtremesNeverOverflow) {
    const double values[] = {DBL_MAX, -DBL_MAX, 1e300, -1e300, NAN, -INFINITY, DBL_MIN};
    for (double v : values) {
        for (const char* conv : {"%f", "%e", "%g", "%.40f", "%+.3e", "%#.0f", "%#.0e", "%600.2f"}) {
            char expected[2048];
            std::snprintf(expected, sizeof expected, conv, v);
            const std::u16string format = Ascii(conv);
            EXPECT_EQ(Ascii(expected), Fmt(format.c_str(), v)) << conv << " " << v;
        }
    }
    // 1e300 in %f is 301 digits before the point: more than any fixed buffer.
    EXPECT_EQ(308u, Fmt(u"%f", 1e300).size());
}

TEST(Format16Test, DecimalPointWhateverTheLocale) {
    t_decimalCommaLocale comma;
    if (!comma.Active()) GTEST_SKIP() << "no decimal-comma locale: " << comma.Why();
    char local[16];
    std::snprintf(local, sizeof local, "%.3g", 2.5);
    EXPECT_STREQ("2,5", local);  // the process really uses a comma now
    EXPECT_EQ(u"2.5", Fmt(u"%.3g", 2.5));
    EXPECT_EQ(u"-0.125000", Fmt(u"%f", -0.125));
}

TEST(Format16Test, SizesLimitsAndOverflow) {
    char16_t buf[8];
    std::fill(buf, buf + 8, u'#');
    EXPECT_EQ(-1, SwPrintf16(buf, 4, u"%d", 12345));
    EXPECT_EQ(u"1234", std::u16string(buf, 4));
    EXPECT_EQ(u'#', buf[4]);
    EXPECT_EQ(-1, SwPrintf16(buf, 5, u"%d", 12345));  // no room for the terminator
    EXPECT_EQ(5, SwPrintf16(buf, 6, u"%d", 12345));
    EXPECT_EQ(5, SwPrintf16(nullptr, 0, u"%d", 12345));
    EXPECT_EQ(-1, SwPrintf16(nullptr, 4, u"%d", 1));
    // Widths and precisions that would overflow an int saturate and the
    // result is too large to count: -1, measured without writing.
    EXPECT_EQ(INT_MAX, SwPrintf16(nullptr, 0, u"%99999999999d", 1));
    EXPECT_EQ(-1, SwPrintf16(nullptr, 0, u"%*d%*d", INT_MAX, 1, INT_MAX, 1));
    EXPECT_EQ(-1, SwPrintf16(buf, 8, u"%*d", INT_MIN, 1));
    EXPECT_EQ(512u, Fmt(u"%.99999999999d", 1).size());      // the precision is capped
    EXPECT_EQ(-1, SwPrintf16(buf, 8, u"%hs", "\xFF\xFF"));  // byte text that does not convert
}

TEST(Format16Test, IntegersAndGeneralFloatsAgreeWithSwprintf) {
    std::mt19937 random(20240611);
    const char* conversions[] = {"d", "x", "o", "g", "X", "i"};
    const char* flagSets[] = {"", "-", "+", " ", "0", "#", "-0", "+0", "-#", " 0", "+-"};
    for (int i = 0; i < 1000; ++i) {
        const std::string conv = conversions[random() % 6];
        std::string flags = flagSets[random() % 11];
        // '#' with g keeps trailing zeros in the C library but not here.
        if (conv == "g" && flags.find('#') != std::string::npos) flags.erase(flags.find('#'), 1);
        std::string directive = "%" + flags;
        if (random() % 2) directive += std::to_string(random() % 25);
        if (random() % 2) directive += "." + std::to_string(random() % 12);
        directive += conv;
        const std::string format = "<" + directive + ">";
        const std::wstring wformat(format.begin(), format.end());
        wchar_t expected[256];
        std::u16string got;
        if (conv == "g") {
            const double v = std::ldexp(double(int32_t(random())), int(random() % 60) - 30);
            std::swprintf(expected, 256, wformat.c_str(), v);
            got = Fmt(Ascii(format).c_str(), v);
        } else {
            const int v = int(random()) >> (random() % 31);
            std::swprintf(expected, 256, wformat.c_str(), v);
            got = Fmt(Ascii(format).c_str(), v);
        }
        const std::wstring e(expected);
        ASSERT_EQ(std::u16string(e.begin(), e.end()), got) << format;
    }
}

}  // namespace
}  // namespace n_porting
