// Lunar dates, checked day by day against a second reading of the published
// month table.
#include <gtest/gtest.h>

#include <chrono>
#include <ctime>
#include <map>
#include <string>

#include "kernel/convert/lunar_calendar.h"

namespace {

namespace chr = std::chrono;

// The published 1900-2100 month table in its own encoding, years 1921 to
// 2100: bits 15..4 are months 1..12 (1 = 30 days), bits 3..0 the leap month,
// bit 16 the leap month's length. Lunar 2057 carries the astronomical months
// 8 and 9 (0x06b20; the published word is 0x06aa0).
constexpr unsigned kPublished[] = {
    0x0a4b0, 0x0b4b5, 0x06a50, 0x06d40, 0x1ab54, 0x02b60, 0x09570, 0x052f2, 0x04970, 0x06566,
    0x0d4a0, 0x0ea50, 0x16a95, 0x05ad0, 0x02b60, 0x186e3, 0x092e0, 0x1c8d7, 0x0c950, 0x0d4a0,
    0x1d8a6, 0x0b550, 0x056a0, 0x1a5b4, 0x025d0, 0x092d0, 0x0d2b2, 0x0a950, 0x0b557, 0x06ca0,
    0x0b550, 0x15355, 0x04da0, 0x0a5b0, 0x14573, 0x052b0, 0x0a9a8, 0x0e950, 0x06aa0, 0x0aea6,
    0x0ab50, 0x04b60, 0x0aae4, 0x0a570, 0x05260, 0x0f263, 0x0d950, 0x05b57, 0x056a0, 0x096d0,
    0x04dd5, 0x04ad0, 0x0a4d0, 0x0d4d4, 0x0d250, 0x0d558, 0x0b540, 0x0b6a0, 0x195a6, 0x095b0,
    0x049b0, 0x0a974, 0x0a4b0, 0x0b27a, 0x06a50, 0x06d40, 0x0af46, 0x0ab60, 0x09570, 0x04af5,
    0x04970, 0x064b0, 0x074a3, 0x0ea50, 0x06b58, 0x05ac0, 0x0ab60, 0x096d5, 0x092e0, 0x0c960,
    0x0d954, 0x0d4a0, 0x0da50, 0x07552, 0x056a0, 0x0abb7, 0x025d0, 0x092d0, 0x0cab5, 0x0a950,
    0x0b4a0, 0x0baa4, 0x0ad50, 0x055d9, 0x04ba0, 0x0a5b0, 0x15176, 0x052b0, 0x0a930, 0x07954,
    0x06aa0, 0x0ad50, 0x05b52, 0x04b60, 0x0a6e6, 0x0a4e0, 0x0d260, 0x0ea65, 0x0d530, 0x05aa0,
    0x076a3, 0x096d0, 0x04afb, 0x04ad0, 0x0a4d0, 0x1d0b6, 0x0d250, 0x0d520, 0x0dd45, 0x0b5a0,
    0x056d0, 0x055b2, 0x049b0, 0x0a577, 0x0a4b0, 0x0aa50, 0x1b255, 0x06d20, 0x0ada0, 0x14b63,
    0x09370, 0x049f8, 0x04970, 0x064b0, 0x168a6, 0x0ea50, 0x06b20, 0x1a6c4, 0x0aae0, 0x092e0,
    0x0d2e3, 0x0c960, 0x0d557, 0x0d4a0, 0x0da50, 0x05d55, 0x056a0, 0x0a6d0, 0x055d4, 0x052d0,
    0x0a9b8, 0x0a950, 0x0b4a0, 0x0b6a6, 0x0ad50, 0x055a0, 0x0aba4, 0x0a5b0, 0x052b0, 0x0b273,
    0x06930, 0x07337, 0x06aa0, 0x0ad50, 0x14b55, 0x04b60, 0x0a570, 0x054e4, 0x0d160, 0x0e968,
    0x0d520, 0x0daa0, 0x16aa6, 0x056d0, 0x04ae0, 0x0a9d4, 0x0a2d0, 0x0d150, 0x0f252, 0x0d520,
};
static_assert(sizeof(kPublished) / sizeof(kPublished[0]) == 180);

const wchar_t* const kStems = L"甲乙丙丁戊己庚辛壬癸";
const wchar_t* const kBranches = L"子丑寅卯辰巳午未申酉戌亥";
const wchar_t* const kAnimals = L"鼠牛虎兔龙蛇马羊猴鸡狗猪";
const wchar_t* const kMonths[] = {L"正", L"二", L"三", L"四", L"五",   L"六",
                                  L"七", L"八", L"九", L"十", L"十一", L"腊"};

std::wstring DayName(int day) {
    const wchar_t* const digits = L"一二三四五六七八九十";
    if (day <= 10) return std::wstring(L"初") + digits[day - 1];
    if (day == 20) return L"二十";
    if (day == 30) return L"三十";
    return std::wstring(day < 20 ? L"十" : L"廿") + digits[day % 10 - 1];
}

// Every day of the table, walked from 1921-02-08 (lunar 1921, 正月初一),
// keyed by days since the epoch.
std::map<long, std::wstring> GoldenList(long* lastDay) {
    std::map<long, std::wstring> golden;
    long day = chr::sys_days(chr::year(1921) / 2 / 8).time_since_epoch().count();
    for (int i = 0; i < 180; ++i) {
        const unsigned info = kPublished[i];
        const int year = 1921 + i;
        const int k = (year - 4) % 60;
        const std::wstring yearText =
            std::wstring(1, kAnimals[k % 12]) + L"(" + kStems[k % 10] + kBranches[k % 12] + L")年";
        const int leap = int(info & 0xf);
        for (int m = 1; m <= 12; ++m) {
            for (int pass = 0; pass < (m == leap ? 2 : 1); ++pass) {
                const bool isLeap = pass == 1;
                const int length =
                    isLeap ? ((info & 0x10000) ? 30 : 29) : ((info & (0x10000 >> m)) ? 30 : 29);
                for (int d = 1; d <= length; ++d)
                    golden[day++] =
                        yearText + (isLeap ? L"闰" : L"") + kMonths[m - 1] + L"月" + DayName(d);
            }
        }
    }
    *lastDay = day - 1;
    return golden;
}

std::wstring Kernel(const chr::year_month_day& date) {
    wchar_t buffer[64];
    if (!GetLunarDateText(buffer, 64, int(date.year()), int(unsigned(date.month())),
                          int(unsigned(date.day()))))
        return L"";
    return buffer;
}

TEST(LunarCalendarTest, EveryDayFrom1921To2100MatchesThePublishedTable) {
    long last = 0;
    const std::map<long, std::wstring> golden = GoldenList(&last);
    const chr::sys_days end = chr::year(2100) / 12 / 31;
    ASSERT_GE(last, end.time_since_epoch().count());
    int mismatches = 0;
    for (const auto& [day, text] : golden) {
        const chr::sys_days d{chr::days(day)};
        if (d > end) break;
        const std::wstring got = Kernel(chr::year_month_day(d));
        if (got != text && ++mismatches <= 5) ADD_FAILURE() << "day " << day;
    }
    EXPECT_EQ(0, mismatches);
    // The days after the last day of lunar 2100 have no lunar text.
    EXPECT_EQ(L"", Kernel(chr::year_month_day(chr::sys_days(chr::days(last + 1)))));
}

TEST(LunarCalendarTest, KnownDatesAndTheEdgesOfTheTable) {
    struct {
        int y, m, d;
        const wchar_t* text;  // empty: no text
    } cases[] = {
        {1921, 2, 7, L""},  // before the table: no day 0
        {1921, 2, 8, L"鸡(辛酉)年正月初一"},
        {2020, 5, 23, L"鼠(庚子)年闰四月初一"},
        {2021, 2, 11, L"鼠(庚子)年腊月三十"},
        {2021, 2, 12, L"牛(辛丑)年正月初一"},
        {2026, 12, 7, L"马(丙午)年十月廿九"},
        {2033, 12, 22, L"牛(癸丑)年闰十一月初一"},
        {2057, 9, 29, L"牛(丁丑)年九月初一"},
        {2100, 2, 28, L"猴(庚申)年正月二十"},  // 2100 is no Gregorian leap year
        {2100, 3, 1, L"猴(庚申)年正月廿一"},
        {2100, 12, 31, L"猴(庚申)年腊月初一"},
        {2023, 2, 29, L""},
        {2024, 13, 1, L""},
        {2024, 4, 31, L""},
        {1800, 1, 1, L""},
    };
    for (const auto& c : cases) {
        wchar_t buffer[64] = {};
        const bool ok = GetLunarDateText(buffer, 64, c.y, c.m, c.d);
        EXPECT_EQ(c.text[0] != 0, ok) << c.y << "-" << c.m << "-" << c.d;
        EXPECT_STREQ(c.text, ok ? buffer : L"") << c.y << "-" << c.m << "-" << c.d;
    }
    // Today, whatever day this runs.
    const time_t now = time(nullptr);
    struct tm local;
    ASSERT_TRUE(localtime_r(&now, &local));
    t_lunarDate today;
    EXPECT_EQ(local.tm_year + 1900 <= 2100,
              SolarToLunar(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, &today));
}

TEST(LunarCalendarTest, FormattingRefusesDatesOutsideTheNames) {
    wchar_t buffer[64] = L"untouched";
    const t_lunarDate bad[] = {{2020, 1, 0, false},
                               {2020, 0, 1, false},
                               {2020, 13, 1, false},
                               {2020, 1, 31, false},
                               {3, 1, 1, false}};
    for (const t_lunarDate& d : bad) {
        EXPECT_FALSE(FormatLunarDate(buffer, 64, d)) << d.year << "-" << d.month << "-" << d.day;
        EXPECT_STREQ(L"untouched", buffer);
    }
    EXPECT_FALSE(FormatLunarDate(buffer, 10, {1921, 1, 1, false}));  // needs 11 with the terminator
    EXPECT_TRUE(FormatLunarDate(buffer, 11, {1921, 1, 1, false}));
    EXPECT_STREQ(L"鸡(辛酉)年正月初一", buffer);
}

}  // namespace
